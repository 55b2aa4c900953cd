#include "core/rtti/SimpleGUID.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/CrtRand.h"

void SimpleGUID::Clear() { std::memset(bytes, 0, sizeof(bytes)); }

bool SimpleGUID::IsNull() const {
    for (uint8_t b : bytes)
        if (b) return false;
    return true;
}

int SimpleGUID::Compare(const SimpleGUID& a, const SimpleGUID& b) {
    for (int i = 15; i >= 0; --i)
        if (a.bytes[i] != b.bytes[i]) return static_cast<int>(a.bytes[i]) - static_cast<int>(b.bytes[i]);
    return 0;
}

void SimpleGUID::ToString(char* buffer, uint32_t size) const {
    if (!buffer || size == 0) return;
    const uint8_t* g = bytes;
    std::snprintf(buffer, size, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[15], g[14],
                  g[13], g[12], g[11], g[10], g[9], g[8], g[7], g[6], g[5], g[4], g[3], g[2], g[1], g[0]);
}

const char* SimpleGUID::ToStringUnsafe() const {
    static thread_local char buffer[64];
    ToString(buffer, sizeof(buffer));
    return buffer;
}

bool SimpleGUID::FromString(const char* text) {
    if (!text) return false;
    unsigned v[16];
    const int n = std::sscanf(text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", &v[15],
                              &v[14], &v[13], &v[12], &v[11], &v[10], &v[9], &v[8], &v[7], &v[6], &v[5], &v[4], &v[3],
                              &v[2], &v[1], &v[0]);
    if (n != 16) return false;
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(v[i]);
    return true;
}

void SimpleGUID::Generate() {
    const uint8_t timeByte = static_cast<uint8_t>(std::time(nullptr));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(CrtRand() ^ timeByte);
    bytes[9] = static_cast<uint8_t>((bytes[9] & 15) | 64);
    bytes[7] = static_cast<uint8_t>((bytes[7] & 63) | 128);
}
