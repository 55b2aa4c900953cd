#pragma once
// Bytes as lower-case hexadecimal text, two digits a byte, for comparing binary output
// with what a Python writer printed.
#include <cstdint>
#include <string>
#include <vector>

inline std::string HexText(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}
