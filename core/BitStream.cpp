#include "core/BitStream.h"

#include <cstring>

using bitstream_detail::Load64;
using bitstream_detail::Mask;
using bitstream_detail::Store64;

void BitWriter::CopyBits(uint8_t* buffer, uint32_t at, const uint8_t* s, uint32_t n) {
    uint8_t* p = buffer + (at >> 3);
    const uint32_t shift = at & 7;
    if (shift == 0) {
        // Byte-aligned: the buffer is zero from here on, so a copy is the same as OR.
        std::memcpy(p, s, n >> 3);
        if (n & 7) p[n >> 3] = static_cast<uint8_t>(s[n >> 3] & Mask(n & 7));
        return;
    }
    // Whole 64-bit source words, each ORed into the word at p and the byte after it
    // (still zero); then the rest, at most 63 bits.
    for (; n >= 64; n -= 64, s += 8, p += 8) {
        const uint64_t v = Load64(s);
        Store64(p, Load64(p) | (v << shift));
        p[8] = static_cast<uint8_t>(v >> (64 - shift));
    }
    if (n) {
        uint64_t v = 0;
        std::memcpy(&v, s, (n + 7) / 8);
        v &= Mask(n);
        Store64(p, Load64(p) | (v << shift));
        if (shift + n > 64) p[8] |= static_cast<uint8_t>(v >> (64 - shift));
    }
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
        Fail();
        return false;
    }
    return true;
}

uint64_t BitReader::Peek(uint32_t n) const {
    const uint32_t byte = cursor >> 3;
    const uint32_t shift = cursor & 7;
    const uint32_t totalBytes = (total >> 3) + ((total & 7) != 0);
    uint64_t v;
    if (byte + 8 <= totalBytes) {
        v = Load64(data + byte) >> shift;
        if (shift + n > 64) v |= uint64_t(data[byte + 8]) << (64 - shift);
    } else {
        // The last few bytes, one at a time (n bits end within them).
        v = 0;
        for (uint32_t k = 0; byte + k < totalBytes; ++k) v |= uint64_t(data[byte + k]) << (8 * k);
        v >>= shift;
    }
    return v & Mask(n);
}

bool BitReader::ReadValueNearEnd(uint64_t& value, uint32_t n) {
    if (n > 64 || !Check(n)) {
        Fail();
        return false;
    }
    value = n ? Peek(n) : 0;
    cursor += n;
    return true;
}
