#include "core/fs/WholeFile.h"

#include "core/fs/FileReader.h"

namespace fs {
namespace {

template <class Byte>
bool ReadInto(FileReader& reader, uint32_t cap, uint32_t padding, std::vector<Byte>* out) {
    out->clear();
    if (!reader.IsOpen()) return false;
    const uint32_t size = reader.GetSize();
    if (size > cap) return false;
    out->assign(size_t(size) + padding, Byte(0));
    if (size == 0 || reader.Read(out->data(), size)) return true;
    out->clear();
    return false;
}

}  // namespace

bool ReadWholeFile(FileReader& reader, uint32_t cap, uint32_t padding, std::vector<uint8_t>* out) {
    return ReadInto(reader, cap, padding, out);
}

bool ReadWholeFile(FileReader& reader, uint32_t cap, uint32_t padding, std::vector<char>* out) {
    return ReadInto(reader, cap, padding, out);
}

bool ReadWholeFile(const char* name, const char* extension, const char* directory, std::vector<uint8_t>* out) {
    FileReader reader;
    reader.Open(name, extension, directory);
    return ReadInto(reader, UINT32_MAX, 0, out);
}

}  // namespace fs
