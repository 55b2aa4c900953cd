#include "core/CRC32.h"

void CRC32::BuildTable(uint32_t polynomial) {
    poly = polynomial;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i << 24;
        for (int bit = 0; bit < 8; ++bit) v = (v & 0x80000000u) ? (v << 1) ^ polynomial : (v << 1);
        table[i] = v;
    }
}

uint32_t CRC32::Update(uint32_t value, const void* bytes, size_t length) const {
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < length; ++i) value = (value << 8) ^ table[(p[i] ^ (value >> 24)) & 0xFF];
    return value;
}

const CRC32& CRC32::GetDefault() {
    static const CRC32 instance(kDefaultPolynomial);
    return instance;
}
