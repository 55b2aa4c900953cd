#pragma once
// Byte-order helpers for data written for a platform of the other byte order
// (serialisation option 2: writers swap multi-byte values, readers never swap), and
// the hexadecimal text of 32-bit word masks.
#include <cstdint>
#include <cstring>

struct Vector;
struct Vector3;
class Matrix;
struct BoundingBox4;
struct HDRColor;

constexpr uint32_t kSerializeSkipGuid = 1;      // skip properties flagged 4
constexpr uint32_t kSerializeByteSwap = 2;      // swap multi-byte values on writing
constexpr uint32_t kSerializeNoEntityPass = 4;  // open no entity-pointer pass
constexpr uint32_t kSerializeOwnClassOnly = 8;  // walk the class itself, no bases
constexpr uint32_t kSerializeSolidCheck = 16;   // Solid blob with check value and CRC

inline uint16_t ByteSwap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint32_t ByteSwap32(uint32_t v) { return __builtin_bswap32(v); }

// In place: n 32-bit words (floats included) at p.
void ByteSwapWords(void* p, uint32_t n);
inline void ByteSwap16(uint16_t* v) { *v = ByteSwap16(*v); }
inline void ByteSwap32(uint32_t* v) { *v = ByteSwap32(*v); }
inline void ByteSwap32Pair(uint32_t* pair) { ByteSwapWords(pair, 2); }  // e.g. 64-bit file times
void ByteSwapVector(Vector* v);              // four floats
void ByteSwapVector3(Vector3* v);            // three floats
void ByteSwapMatrix(Matrix* m);              // sixteen floats
void ByteSwapBoundingBox4(BoundingBox4* b);  // eight floats
void ByteSwapHDRColor(HDRColor* c);          // the float intensity only (bytes 4..7)

// Stores a value at an unaligned destination, swapped when options has bit 2.
inline void StoreU16(uint8_t* d, uint16_t v, uint32_t options) {
    if (options & kSerializeByteSwap) v = ByteSwap16(v);
    std::memcpy(d, &v, 2);
}
inline void StoreU32(uint8_t* d, uint32_t v, uint32_t options) {
    if (options & kSerializeByteSwap) v = ByteSwap32(v);
    std::memcpy(d, &v, 4);
}

// 8 upper-case hex digits per word, least significant nibble first, then NUL; the
// buffer holds n * 8 + 1 characters.
void WordsToHexString(const uint32_t* words, uint32_t n, char* buffer);
// The inverse; digits are upper-cased first. Fails at the first character that is
// not a hex digit (including an early end); words before it are already set.
bool HexStringToWords(uint32_t* words, uint32_t n, const char* text);
