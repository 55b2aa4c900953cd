// The field buffer of entity records: appending quantised values at byte boundaries.
#include <cstring>

#include "engine/entity/MPProperty.h"

void MPFieldBuffer::CopyUsed(const MPFieldBuffer& from) {
    // A sender's buffer uses bytesUsed bytes, a received one its bits rounded up.
    const uint32_t fromBits = from.totalBits < kMPFieldBufferBytes * 8 ? from.totalBits : kMPFieldBufferBytes * 8;
    const uint32_t bitBytes = (fromBits + 7) / 8;
    const uint32_t used = from.bytesUsed > bitBytes ? from.bytesUsed : bitBytes;
    std::memcpy(data, from.data, used < kMPFieldBufferBytes ? used : kMPFieldBufferBytes);
    const uint32_t count = from.fieldCount < kMaxMPProperties ? from.fieldCount : kMaxMPProperties;
    const uint32_t old = fieldCount < kMaxMPProperties ? fieldCount : kMaxMPProperties;
    std::memcpy(bitLengths, from.bitLengths, count * sizeof bitLengths[0]);
    std::memcpy(referencedIds, from.referencedIds, count * sizeof referencedIds[0]);
    for (uint32_t i = count; i < old; ++i) {
        bitLengths[i] = 0;
        referencedIds[i] = kNoMultiplayerId;
    }
    totalBits = from.totalBits;
    bytesUsed = from.bytesUsed;
    fieldCount = from.fieldCount;
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
