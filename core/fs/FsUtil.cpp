#include "core/fs/FsUtil.h"

#include <cstring>

#include "core/Dynarray.h"
#include "core/Memory.h"

namespace fs {

int CompareNoCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        const int cx = FoldAscii(*x), cy = FoldAscii(*y);
        if (cx != cy || cx == 0) return cx - cy;
    }
}

char* CopyText(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text);
    char* copy = static_cast<char*>(EngineAlloc(n + 1));
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

bool CopyBounded(char* destination, size_t size, const char* text) {
    if (!destination || size == 0) return false;
    const size_t n = text ? std::strlen(text) : 0;
    if (n + 1 > size) {
        destination[0] = 0;
        return false;
    }
    if (n) std::memcpy(destination, text, n);
    destination[n] = 0;
    return true;
}

}  // namespace fs
