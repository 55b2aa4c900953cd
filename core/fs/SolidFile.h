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
// untouched. The size is checked against the stream's size before anything is
// allocated, and the whole blob is read before the object is touched: a blob larger
// than the file, a short read, a wrong check value or a wrong CRC fail with one log
// line and the object untouched. A payload that does not parse fails with the object
// partially read.
bool SolidDeserializeFromFileReader(RTTIPolyBaseClass& object, FileReader& reader, uint32_t options);

// Saves the object's blob as the file (name, extension, directory) of gFileSystem:
// written to a temporary file and renamed over the old one, so a failed save keeps
// the old file. False when the file cannot be created (nothing logged) or the blob did
// not reach its place (the writer logs the path).
bool SaveToFile(const RTTIPolyBaseClass& object, const char* name, const char* extension, const char* directory,
                uint32_t options);

// Loads the object from its blob file; false when the file cannot be opened (nothing
// logged) or the blob fails as in SolidDeserializeFromFileReader.
bool LoadFromFile(RTTIPolyBaseClass& object, const char* name, const char* extension, const char* directory,
                  uint32_t options);
