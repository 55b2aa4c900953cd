// The field buffer of entity records: appending quantised values at byte boundaries.
#include <cstring>

#include "engine/entity/MPProperty.h"

void MPFieldBuffer::Clear() {
    for (uint32_t i = 0; i < fieldCount && i < kMaxMPProperties; ++i) {
        bitLengths[i] = 0;
        referencedIds[i] = kNoMultiplayerId;
    }
    totalBits = bytesUsed = fieldCount = 0;
}

bool MPFieldBuffer::Append(uint64_t value, uint32_t bits, uint16_t referencedId) {
    if (bits > 64 || fieldCount >= kMaxMPProperties) return false;
    const uint32_t bytes = (bits + 7) / 8;
    if (bytesUsed + bytes > kMPFieldBufferBytes) return false;
    if (bits < 64) value &= (uint64_t(1) << bits) - 1;
    // Little-endian bytes; one 8-byte store where it fits (the bytes past the field are
    // free and get zeros).
    if (bytesUsed + 8 <= kMPFieldBufferBytes)
        std::memcpy(data + bytesUsed, &value, 8);
    else
        std::memcpy(data + bytesUsed, &value, bytes);
    bitLengths[fieldCount] = bits;
    referencedIds[fieldCount] = referencedId;
    ++fieldCount;
    bytesUsed += bytes;
    totalBits += bits;
    return true;
}

uint32_t MPFieldBuffer::FieldOffset(uint32_t i) const {
    uint32_t offset = 0;
    for (uint32_t k = 0; k < i && k < fieldCount; ++k) offset += (bitLengths[k] + 7) / 8;
    return offset;
}

uint64_t MPFieldBuffer::FieldValue(uint32_t i) const {
    if (i >= fieldCount) return 0;
    const uint32_t at = FieldOffset(i);
    const uint32_t bytes = (bitLengths[i] + 7) / 8;
    uint64_t v = 0;
    for (uint32_t k = 0; k < bytes && at + k < kMPFieldBufferBytes; ++k) v |= uint64_t(data[at + k]) << (8 * k);
    return v;
}
