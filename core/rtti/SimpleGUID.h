#pragma once
// SimpleGUID: 16 bytes identifying templates and entities; all zero means none.
// Text form: "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X"
// filled from byte 15 down to byte 0. Bytes are never swapped in any stored form.
#include <cstdint>

struct SimpleGUID {
    uint8_t bytes[16] = {};

    void Clear();
    bool IsNull() const;
    // Difference of the first unequal bytes, comparing from byte 15 down; 0 if equal.
    static int Compare(const SimpleGUID& a, const SimpleGUID& b);
    bool operator==(const SimpleGUID& o) const { return Compare(*this, o) == 0; }
    bool operator!=(const SimpleGUID& o) const { return Compare(*this, o) != 0; }

    // Writes the text form (36 characters and NUL; cut to the buffer).
    void ToString(char* buffer, uint32_t size) const;
    // The text form in a per-thread buffer, valid until this thread's next call.
    const char* ToStringUnsafe() const;
    // Parses the text form (16 hex pairs, the first becomes byte 15); false and the
    // GUID unchanged when fewer than 16 pairs parse.
    bool FromString(const char* text);
    // Random bytes (engine generator XOR the low byte of the wall-clock time) with
    // the version bits: byte 9 = (b & 15) | 64, byte 7 = (b & 63) | 128.
    void Generate();
};
static_assert(sizeof(SimpleGUID) == 16, "SimpleGUID is 16 bytes in every stored form");
