#pragma once
// Whole-file reads: the one rule by which readers that parse a file from its bytes load it.
// The caller's thread reads; one user of a reader at a time.
#include <cstdint>
#include <vector>

class FileReader;

namespace fs {

// The whole of an open reader's file into *out, followed by `padding` zero bytes (a text's
// terminator). False, with *out empty, without a stream, for a file over cap bytes (nothing
// is read then) or a short read.
bool ReadWholeFile(FileReader& reader, uint32_t cap, uint32_t padding, std::vector<uint8_t>* out);
bool ReadWholeFile(FileReader& reader, uint32_t cap, uint32_t padding, std::vector<char>* out);
// name.extension in directory through gFileSystem, whatever its size; false when it does
// not open or reads short.
bool ReadWholeFile(const char* name, const char* extension, const char* directory, std::vector<uint8_t>* out);

}  // namespace fs
