#pragma once
// Solid blobs (core/rtti/SolidBlob.h) in files of gFileSystem: one object's blob
// written through a FileWriter or read through a FileReader, and whole-file saving
// and loading of one object. The options are the blob's (16: check value and CRC;
// 2: byte-swapped writing); reader and writer must agree on option 16.
//
// Threads: whoever owns the object, reader and writer; gFileSystem takes its own lock.
#include <cstdint>

class FileReader;
class FileWriter;
class RTTIPolyBaseClass;

// Writes the object's blob in one piece; false when the writer is not open or lost
// bytes (FileWriter::Close reports the final result).
bool SolidSerializeToFileWriter(const RTTIPolyBaseClass& object, FileWriter& writer, uint32_t options);

// Reads one blob at the reader's position. A size of 0 succeeds with the object
// untouched when the object has nothing to store, and fails with one line otherwise
// (a damaged file). The size is checked against the stream's size before anything is
// allocated, and the whole blob is read before the object is touched: a blob larger
// than the file, a short read, a wrong check value or a wrong CRC fail with one log
// line and the object untouched. A payload that does not parse fails with the object
// partially read.
// fileName, when given, names the file in those lines and in the property-list
// reader's.
bool SolidDeserializeFromFileReader(RTTIPolyBaseClass& object, FileReader& reader, uint32_t options,
                                    const char* fileName = nullptr);

// Whole-file saving and loading of one object are RTTIPolyBaseClass::SaveToFile and
// RTTIPolyBaseClass::LoadFromFile, defined with these: the save writes a temporary file
// and renames it over the old one, so a failed save keeps the old file, and reports a
// blob that did not reach its place; the load fails as SolidDeserializeFromFileReader.
