#include "core/ByteOrder.h"

void ByteSwapWords(void* p, uint32_t n) {
    auto* b = static_cast<uint8_t*>(p);
    for (uint32_t i = 0; i < n; ++i, b += 4) {
        uint32_t w;
        std::memcpy(&w, b, 4);
        w = ByteSwap32(w);
        std::memcpy(b, &w, 4);
    }
}

void ByteSwapVector(Vector* v) { ByteSwapWords(v, 4); }
void ByteSwapVector3(Vector3* v) { ByteSwapWords(v, 3); }
void ByteSwapMatrix(Matrix* m) { ByteSwapWords(m, 16); }
void ByteSwapBoundingBox4(BoundingBox4* b) { ByteSwapWords(b, 8); }
void ByteSwapHDRColor(HDRColor* c) { ByteSwapWords(reinterpret_cast<uint8_t*>(c) + 4, 1); }

void WordsToHexString(const uint32_t* words, uint32_t n, char* buffer) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w = words[i];
        for (int d = 0; d < 8; ++d, w >>= 4) *buffer++ = kDigits[w & 15];
    }
    *buffer = 0;
}

bool HexStringToWords(uint32_t* words, uint32_t n, const char* text) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w = 0;
        for (int d = 0; d < 8; ++d) {
            char c = *text++;
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            uint32_t nibble;
            if (c >= '0' && c <= '9') nibble = static_cast<uint32_t>(c - '0');
            else if (c >= 'A' && c <= 'F') nibble = static_cast<uint32_t>(c - 'A' + 10);
            else return false;
            w |= nibble << (4 * d);
        }
        words[i] = w;
    }
    return true;
}
