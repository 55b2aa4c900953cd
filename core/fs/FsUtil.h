#pragma once
// Helpers of the file system: the path limit, ASCII case-insensitive comparison
// (the original's _stricmp), heap copies of names, and byte order of file words.
#include <cstddef>
#include <cstdint>

#include "core/PathLimit.h"

namespace fs {

inline unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }
// <0, 0 or >0 like _stricmp, folding ASCII letters only.
int CompareNoCase(const char* a, const char* b);
// Heap copy (EngineAlloc) of a text; null for null. Freed with EngineFree.
char* CopyText(const char* text);
// Copies text when it fits with its NUL; false (destination emptied) otherwise.
bool CopyBounded(char* destination, size_t size, const char* text);

inline uint32_t LoadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t LoadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace fs
