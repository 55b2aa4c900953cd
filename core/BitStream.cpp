#include "core/BitStream.h"

#include <cstring>

namespace {

inline uint64_t Mask(uint32_t n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

}  // namespace

bool BitWriter::WriteValue(uint64_t value, uint32_t n) {
    if (n > 64 || n > capacity - cursor) return false;
    if (n == 0) return true;
    value &= Mask(n);
    uint8_t* p = buffer + (cursor >> 3);
    const uint32_t shift = cursor & 7;
    Store64(p, Load64(p) | (value << shift));
    if (shift + n > 64) p[8] |= static_cast<uint8_t>(value >> (64 - shift));
    cursor += n;
    return true;
}

bool BitWriter::WriteBits(const void* source, uint32_t n) {
    if (n > capacity - cursor) return false;
    const uint8_t* s = static_cast<const uint8_t*>(source);
    // Whole 56-bit chunks (7 source bytes each), then the rest.
    while (n >= 56) {
        uint64_t v = 0;
        std::memcpy(&v, s, 7);
        WriteValue(v, 56);
        s += 7;
        n -= 56;
    }
    if (n) {
        uint64_t v = 0;
        std::memcpy(&v, s, (n + 7) / 8);
        WriteValue(v, n);
    }
    return true;
}

void BitWriter::Truncate(uint32_t bits) {
    if (bits >= cursor) return;
    const uint32_t firstByte = bits >> 3;
    const uint32_t endByte = (cursor + 7) >> 3;
    if (bits & 7) {
        buffer[firstByte] &= static_cast<uint8_t>((1u << (bits & 7)) - 1);
        if (endByte > firstByte + 1) std::memset(buffer + firstByte + 1, 0, endByte - firstByte - 1);
    } else {
        std::memset(buffer + firstByte, 0, endByte - firstByte);
    }
    cursor = bits;
}

bool BitReader::Check(uint32_t n) {
    if (failed || n > total - cursor) {
        failed = true;
        return false;
    }
    return true;
}

uint64_t BitReader::Peek(uint32_t n) const {
    const uint32_t byte = cursor >> 3;
    const uint32_t shift = cursor & 7;
    const uint32_t totalBytes = (total + 7) >> 3;
    uint64_t v;
    if (byte + 8 <= totalBytes) {
        v = Load64(data + byte) >> shift;
    } else {
        // The last few bytes, one at a time (a call to memcpy costs more than the read).
        v = 0;
        for (uint32_t k = 0; byte + k < totalBytes; ++k) v |= uint64_t(data[byte + k]) << (8 * k);
        v >>= shift;
    }
    if (shift + n > 64) v |= uint64_t(data[byte + 8]) << (64 - shift);
    return v & Mask(n);
}

bool BitReader::ReadValue(uint64_t& value, uint32_t n) {
    if (n > 64 || !Check(n)) {
        failed = true;
        return false;
    }
    value = n ? Peek(n) : 0;
    cursor += n;
    return true;
}

bool BitReader::ReadBits(void* destination, uint32_t n) {
    if (!Check(n)) return false;
    uint8_t* d = static_cast<uint8_t*>(destination);
    while (n >= 56) {
        const uint64_t v = Peek(56);
        std::memcpy(d, &v, 7);
        cursor += 56;
        d += 7;
        n -= 56;
    }
    if (n) {
        const uint64_t v = Peek(n);  // masked: the high bits of the last byte are clear
        std::memcpy(d, &v, (n + 7) / 8);
        cursor += n;
    }
    return true;
}

bool BitReader::Skip(uint32_t n) {
    if (!Check(n)) return false;
    cursor += n;
    return true;
}
