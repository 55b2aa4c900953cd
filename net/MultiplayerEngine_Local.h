#pragma once
// Helpers shared by the multiplayer engine's source files (private to net/).
#include <cstdint>

#include "core/BaseThread.h"

namespace netdetail {

// Reads a value of the current record; zero when the record is shorter.
template <class T>
T ReadOr0(CommandRingBuffer& ring) {
    T v{};
    ring.ReadValue(v);
    return v;
}

// Units of a UTF-16 text before its terminator, at most max.
inline uint32_t Length16(const char16_t* text, uint32_t max = 0xFFFFFFFFu) {
    uint32_t n = 0;
    if (text)
        while (n < max && text[n]) ++n;
    return n;
}

// At most max units of a text of the given length, never ending on a lone high
// surrogate.
inline uint32_t CutUnits(const char16_t* text, uint32_t length, uint32_t max) {
    if (length <= max) return length;
    uint32_t n = max;
    if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return n;
}

}  // namespace netdetail
