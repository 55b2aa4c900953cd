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
// The value reads and writes are inline: one bounds test and one unaligned 64-bit load
// or store each. A reader keeps the last bit a whole-word load may end at, so reads
// away from the end of the data need no byte-by-byte path.
//
// Not thread-safe; one stream per thread.
#include <cstdint>
#include <cstring>

namespace bitstream_detail {
inline uint64_t Mask(uint32_t n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }
// kLowBits[n] = Mask(n) for n = 0..64: one load where a variable shift takes several
// micro-operations on x86-64 without BMI2.
struct LowBitsTable {
    uint64_t mask[65];
    constexpr LowBitsTable() : mask() {
        for (uint32_t n = 0; n <= 64; ++n) mask[n] = n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    }
};
inline constexpr LowBitsTable kLowBits{};
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
}  // namespace bitstream_detail

class BitWriter {
public:
    static constexpr uint32_t kSlackBytes = 16;

    BitWriter() = default;
    // buffer: at least (capacityBits + 7) / 8 + kSlackBytes bytes, zero-filled.
    BitWriter(uint8_t* buffer, uint32_t capacityBits) : buffer(buffer), capacity(capacityBits) {}

    // False (nothing written) when n bits do not fit. n <= 64.
    bool WriteValue(uint64_t value, uint32_t n) {
        if (n > 64 || n > capacity - cursor) return false;
        Put(value & bitstream_detail::kLowBits.mask[n], n);  // 0 bits write nothing
        return true;
    }
    // The first n bits of the source bytes (LSB first). Up to two whole words go inline,
    // word by word; longer runs go to one out-of-line copy that takes the buffer and the
    // cursor by value, so a writer the caller keeps in registers stays there.
    bool WriteBits(const void* source, uint32_t n) {
        using namespace bitstream_detail;
        if (n > capacity - cursor) return false;
        const uint8_t* s = static_cast<const uint8_t*>(source);
        if (n > 128) {
            CopyBits(buffer, cursor, s, n);
            cursor += n;
            return true;
        }
        for (; n >= 64; n -= 64, s += 8) Put(Load64(s), 64);
        if (n) {
            uint64_t v = 0;
            for (uint32_t k = 0; k < (n + 7) / 8; ++k) v |= uint64_t(s[k]) << (8 * k);
            Put(v & Mask(n), n);
        }
        return true;
    }
    // n bits held LSB first in (n + 63) / 64 whole words whose bits above n are zero: one
    // bounds test, then one store per word and one for the byte the last word spills into.
    bool WriteWords(const uint64_t* words, uint32_t n) {
        using namespace bitstream_detail;
        if (n > capacity - cursor) return false;
        uint8_t* p = buffer + (cursor >> 3);
        const uint32_t shift = cursor & 7;
        uint64_t carry = p[0];
        for (uint32_t k = 0; k < (n + 63) / 64; ++k, p += 8) {
            const uint64_t w = words[k];
            Store64(p, carry | (w << shift));
            carry = (w >> 1) >> (63 - shift);  // the top `shift` bits (none when shift is 0)
        }
        *p = static_cast<uint8_t>(carry);  // beyond the cursor this is zero: the buffer stays zero there
        cursor += n;
        return true;
    }

    uint32_t BitCount() const { return cursor; }
    uint32_t ByteCount() const { return (cursor + 7) / 8; }
    uint32_t CapacityBits() const { return capacity; }
    // Back to an earlier bit count; the bits after it become zero again.
    void Truncate(uint32_t bits);
    void Reset() { Truncate(0); }

private:
    // n bits (0 to 64) of a value with no bits above n, unchecked. Only the byte at the
    // cursor holds bits already; the rest is zero. Loading that one byte, not the word,
    // lets the load take its value from the previous write's store instead of waiting for
    // it to reach the cache.
    void Put(uint64_t value, uint32_t n) {
        using namespace bitstream_detail;
        uint8_t* p = buffer + (cursor >> 3);
        const uint32_t shift = cursor & 7;
        Store64(p, uint64_t(p[0]) | (value << shift));
        if (shift + n > 64) p[8] = static_cast<uint8_t>(value >> (64 - shift));
        cursor += n;
    }
    // n bits of source ORed in at bit `at` of buffer (zero from there on).
    static void CopyBits(uint8_t* buffer, uint32_t at, const uint8_t* source, uint32_t n);

    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t cursor = 0;
};

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, uint32_t totalBits, uint32_t startBit = 0)
        : data(data), total(totalBits), cursor(startBit > totalBits ? totalBits : startBit), wordLimit(WordLimit(totalBits)) {}
    // The first totalBits bits of a buffer of bufferBytes bytes (the total is cut to the
    // buffer). Reads stay bounded by the total, but whole-word loads may touch the buffer's
    // bytes beyond it, so a short stream in a larger buffer is read without the
    // byte-by-byte path at its end.
    BitReader(const uint8_t* data, uint32_t totalBits, uint32_t startBit, uint32_t bufferBytes) : BitReader(data, totalBits, startBit) {
        if (uint64_t(bufferBytes) * 8 < totalBits) *this = BitReader(data, bufferBytes * 8, startBit);
        const uint64_t fromBuffer = bufferBytes >= 9 ? (uint64_t(bufferBytes) - 9) * 8 + 1 : 0;
        const uint64_t limit = fromBuffer < uint64_t(total) + 1 ? fromBuffer : uint64_t(total) + 1;
        wordLimit = limit > 0xFFFFFFFFu ? total : static_cast<uint32_t>(limit);
    }

    // n <= 64. False (value untouched) past the end.
    bool ReadValue(uint64_t& value, uint32_t n) {
        using namespace bitstream_detail;
        // Ending before wordLimit: bytes cursor / 8 .. cursor / 8 + 8 all exist. A read of 0
        // bits masks the word to 0.
        if (uint64_t(cursor) + n < wordLimit && n <= 64) {
            const uint8_t* p = data + (cursor >> 3);
            const uint32_t shift = cursor & 7;
            uint64_t v = Load64(p) >> shift;
            if (shift + n > 64) v |= uint64_t(p[8]) << (64 - shift);  // a read that crosses into byte 8
            value = v & kLowBits.mask[n];
            cursor += n;
            return true;
        }
        // The checked path works on a copy: a reader the caller keeps in registers need not
        // live in memory for a path it rarely takes.
        BitReader copy = *this;
        const bool ok = copy.ReadValueNearEnd(value, n);
        *this = copy;
        return ok;
    }
    // The next 64 bits without reading them (bits past the end read as 0). A reader takes
    // several small values out of one load and then skips the bits it used.
    uint64_t PeekWord() const {
        using namespace bitstream_detail;
        if (uint64_t(cursor) + 64 < wordLimit) {
            const uint8_t* p = data + (cursor >> 3);
            const uint32_t shift = cursor & 7;
            return (Load64(p) >> shift) | ((uint64_t(p[8]) << 1) << (63 - shift));
        }
        const uint32_t left = total - cursor;
        return left ? Peek(left < 64 ? left : 64) : 0;
    }
    template <class T>
    bool Read(T& value, uint32_t n) {
        uint64_t v = 0;
        if (!ReadValue(v, n)) return false;
        value = static_cast<T>(v);
        return true;
    }
    // n bits into (n + 7) / 8 bytes of the destination; the high bits of the last byte
    // beyond the n bits are cleared. One bounds test, then whole-word reads.
    bool ReadBits(void* destination, uint32_t n) {
        if (failed || n > total - cursor) {
            Fail();
            return false;
        }
        uint8_t* d = static_cast<uint8_t*>(destination);
        for (; n >= 64; n -= 64, d += 8) {
            uint64_t v = 0;
            ReadValue(v, 64);
            bitstream_detail::Store64(d, v);
        }
        if (n) {
            uint64_t v = 0;
            ReadValue(v, n);  // masked: the high bits of the last byte are clear
            for (uint32_t k = 0; k < (n + 7) / 8; ++k) d[k] = static_cast<uint8_t>(v >> (8 * k));
        }
        return true;
    }
    bool Skip(uint32_t n) {
        if (failed || n > total - cursor) {
            Fail();
            return false;
        }
        cursor += n;
        return true;
    }

    uint32_t Position() const { return cursor; }
    uint32_t Remaining() const { return total - cursor; }
    bool Failed() const { return failed; }

private:
    // One past the last bit at which a read may end and still load bytes cursor / 8 ..
    // cursor / 8 + 8 whole (0: none may).
    static uint32_t WordLimit(uint32_t totalBits) {
        const uint32_t bytes = (totalBits >> 3) + ((totalBits & 7) != 0);
        return bytes >= 9 ? (bytes - 9) * 8 + 1 : 0;
    }
    bool ReadValueNearEnd(uint64_t& value, uint32_t n);
    bool Check(uint32_t n);
    void Fail() {
        failed = true;
        wordLimit = 0;
    }
    uint64_t Peek(uint32_t n) const;

    const uint8_t* data = nullptr;
    uint32_t total = 0;
    uint32_t cursor = 0;
    uint32_t wordLimit = 0;  // 0 once failed: every read takes the checked path
    bool failed = false;
};
