#pragma once
// Bit-packed streams, least significant bit first: stream bit k is bit (k mod 8) of
// byte (k div 8). A value of n bits is the low n bits of the value read as a
// little-endian byte string, so a 16-bit value at a byte-aligned position is an
// ordinary little-endian u16.
//
// BitWriter appends into a caller's buffer, which must hold kSlackBytes beyond its
// capacity (writes touch whole 64-bit words) and be zero beyond the cursor (Reset and
// Truncate keep it so). BitReader reads a caller's bytes bounded by a bit count: every
// read is checked, a read that would pass the end reads nothing and fails, and every
// later read fails too. Neither allocates.
//
// Not thread-safe; one stream per thread.
#include <cstdint>

class BitWriter {
public:
    static constexpr uint32_t kSlackBytes = 16;

    BitWriter() = default;
    // buffer: at least (capacityBits + 7) / 8 + kSlackBytes bytes, zero-filled.
    BitWriter(uint8_t* buffer, uint32_t capacityBits) : buffer(buffer), capacity(capacityBits) {}

    // False (nothing written) when n bits do not fit. n <= 64.
    bool WriteValue(uint64_t value, uint32_t n);
    // The first n bits of the source bytes (LSB first).
    bool WriteBits(const void* source, uint32_t n);

    uint32_t BitCount() const { return cursor; }
    uint32_t ByteCount() const { return (cursor + 7) / 8; }
    uint32_t CapacityBits() const { return capacity; }
    // Back to an earlier bit count; the bits after it become zero again.
    void Truncate(uint32_t bits);
    void Reset() { Truncate(0); }

private:
    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t cursor = 0;
};

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, uint32_t totalBits, uint32_t startBit = 0)
        : data(data), total(totalBits), cursor(startBit > totalBits ? totalBits : startBit) {}

    // n <= 64. False (value untouched) past the end.
    bool ReadValue(uint64_t& value, uint32_t n);
    template <class T>
    bool Read(T& value, uint32_t n) {
        uint64_t v = 0;
        if (!ReadValue(v, n)) return false;
        value = static_cast<T>(v);
        return true;
    }
    // n bits into (n + 7) / 8 bytes of the destination; the high bits of the last byte
    // beyond the n bits are cleared.
    bool ReadBits(void* destination, uint32_t n);
    bool Skip(uint32_t n);

    uint32_t Position() const { return cursor; }
    uint32_t Remaining() const { return total - cursor; }
    bool Failed() const { return failed; }

private:
    bool Check(uint32_t n);
    uint64_t Peek(uint32_t n) const;

    const uint8_t* data = nullptr;
    uint32_t total = 0;
    uint32_t cursor = 0;
    bool failed = false;
};
