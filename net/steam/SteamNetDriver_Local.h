#pragma once
// Helpers shared by the online driver's source files (private to net/steam/).
#include <cstdint>
#include <string>

namespace Network::steamdetail {

// Decimal text as i32 in the C locale, saturating; false for a null or empty text or one
// that does not start with a number (the value counts as absent).
bool ParseI32(const char* text, int32_t* out);
// Base-16 text as u64; false when absent or longer than 16 digits.
bool ParseHex64(const char* text, uint64_t* out);
// A UTF-8 persona name as UTF-16, cut to 31 units on a character boundary, terminated.
void Utf8Name(const char* utf8, char16_t* out);
// A UTF-16 name as UTF-8 for the log.
std::string Narrow(const char16_t* text);
// Truncation toward zero, saturated in i32; a NaN gives 0.
inline int32_t TruncI32(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}
// "%02d/%02d/%04d %02d:%d:%02d" of the local wall-clock time.
std::string DateText();

}  // namespace Network::steamdetail
