#include "platform/gfx/PixelFormat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace gfx::detail {
namespace {

uint32_t Read(const uint8_t* p, uint32_t bytes) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

void Write(uint8_t* p, uint32_t bytes, uint32_t v) {
    for (uint32_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

float Unorm(uint32_t v, uint32_t bits) { return static_cast<float>(v) / static_cast<float>((1u << bits) - 1u); }

uint32_t ToUnorm(float f, uint32_t bits) {
    const float max = static_cast<float>((1u << bits) - 1u);
    if (!(f > 0.0f)) return 0;  // also NaN
    if (f >= 1.0f) return (1u << bits) - 1u;
    return static_cast<uint32_t>(f * max + 0.5f);
}

float ReadFloat(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

void WriteFloat(uint8_t* p, float f) { std::memcpy(p, &f, 4); }

// Channel layout of a packed format: bit counts and shifts of r, g, b, a (a count of 0
// means the channel reads as 1 for alpha and 0 otherwise), and luminance formats.
struct Packed {
    uint32_t bytes;
    uint8_t rBits, rShift, gBits, gShift, bBits, bShift, aBits, aShift;
    bool luminance;
};

bool PackedLayout(Format f, Packed* p) {
    switch (f) {
    case FMT_A8R8G8B8: *p = {4, 8, 16, 8, 8, 8, 0, 8, 24, false}; return true;
    case FMT_X8R8G8B8: *p = {4, 8, 16, 8, 8, 8, 0, 0, 0, false}; return true;
    case FMT_R8G8B8: *p = {3, 8, 16, 8, 8, 8, 0, 0, 0, false}; return true;
    case FMT_A8B8G8R8: *p = {4, 8, 0, 8, 8, 8, 16, 8, 24, false}; return true;
    case FMT_X8B8G8R8: *p = {4, 8, 0, 8, 8, 8, 16, 0, 0, false}; return true;
    case FMT_R5G6B5: *p = {2, 5, 11, 6, 5, 5, 0, 0, 0, false}; return true;
    case FMT_X1R5G5B5: *p = {2, 5, 10, 5, 5, 5, 0, 0, 0, false}; return true;
    case FMT_A1R5G5B5: *p = {2, 5, 10, 5, 5, 5, 0, 1, 15, false}; return true;
    case FMT_A4R4G4B4: *p = {2, 4, 8, 4, 4, 4, 0, 4, 12, false}; return true;
    case FMT_X4R4G4B4: *p = {2, 4, 8, 4, 4, 4, 0, 0, 0, false}; return true;
    case FMT_A2R10G10B10: *p = {4, 10, 20, 10, 10, 10, 0, 2, 30, false}; return true;
    case FMT_A2B10G10R10: *p = {4, 10, 0, 10, 10, 10, 20, 2, 30, false}; return true;
    case FMT_G16R16: *p = {4, 16, 0, 16, 16, 0, 0, 0, 0, false}; return true;
    case FMT_A8: *p = {1, 0, 0, 0, 0, 0, 0, 8, 0, false}; return true;
    case FMT_L8: *p = {1, 8, 0, 0, 0, 0, 0, 0, 0, true}; return true;
    case FMT_A8L8: *p = {2, 8, 0, 0, 0, 0, 0, 8, 8, true}; return true;
    case FMT_L16: *p = {2, 16, 0, 0, 0, 0, 0, 0, 0, true}; return true;
    default: return false;
    }
}

}  // namespace

bool GetFormatInfo(Format format, FormatInfo* info) {
    Packed p;
    if (PackedLayout(format, &p)) {
        *info = {p.bytes, false, false, false, true};
        return true;
    }
    switch (format) {
    case FMT_A16B16G16R16: *info = {8, false, false, false, true}; return true;
    case FMT_R16F: *info = {2, false, false, false, true}; return true;
    case FMT_G16R16F: *info = {4, false, false, false, true}; return true;
    case FMT_A16B16G16R16F: *info = {8, false, false, false, true}; return true;
    case FMT_R32F: *info = {4, false, false, false, true}; return true;
    case FMT_G32R32F: *info = {8, false, false, false, true}; return true;
    case FMT_A32B32G32R32F: *info = {16, false, false, false, true}; return true;
    case FMT_DXT1: *info = {8, true, false, false, false}; return true;
    case FMT_DXT2:
    case FMT_DXT3:
    case FMT_DXT4:
    case FMT_DXT5: *info = {16, true, false, false, false}; return true;
    case FMT_D16:
    case FMT_D16_LOCKABLE: *info = {2, false, true, false, false}; return true;
    case FMT_D15S1: *info = {2, false, true, true, false}; return true;
    case FMT_D32:
    case FMT_D24X8:
    case FMT_D32F_LOCKABLE: *info = {4, false, true, false, false}; return true;
    case FMT_D24S8:
    case FMT_INTZ:
    case FMT_RAWZ: *info = {4, false, true, true, false}; return true;
    default: return false;
    }
}

bool IsDepthFormat(Format format) {
    FormatInfo info;
    return GetFormatInfo(format, &info) && info.depth;
}

bool IsTenBitFormat(Format format) { return format == FMT_A2R10G10B10 || format == FMT_A2B10G10R10; }

uint32_t RowPitch(Format format, uint32_t width) {
    FormatInfo info;
    if (!GetFormatInfo(format, &info)) return 0;
    if (info.blockCompressed) return std::max(1u, (width + 3) / 4) * info.bytesPerTexel;
    return width * info.bytesPerTexel;
}

uint32_t RowCount(Format format, uint32_t height) {
    FormatInfo info;
    if (!GetFormatInfo(format, &info)) return 0;
    return info.blockCompressed ? std::max(1u, (height + 3) / 4) : height;
}

size_t LevelBytes(Format format, uint32_t width, uint32_t height) {
    return static_cast<size_t>(RowPitch(format, width)) * RowCount(format, height);
}

void ColorToFloats(uint32_t argb, float rgba[4]) {
    rgba[0] = Unorm((argb >> 16) & 0xFF, 8);
    rgba[1] = Unorm((argb >> 8) & 0xFF, 8);
    rgba[2] = Unorm(argb & 0xFF, 8);
    rgba[3] = Unorm(argb >> 24, 8);
}

namespace {

inline void DecodePacked(Format format, const Packed& p, const uint8_t* src, float rgba[4]) {
    const uint32_t v = Read(src, p.bytes);
    auto channel = [v](uint32_t bits, uint32_t shift) { return Unorm((v >> shift) & ((1u << bits) - 1u), bits); };
    rgba[0] = p.rBits ? channel(p.rBits, p.rShift) : 0.0f;
    rgba[1] = p.gBits ? channel(p.gBits, p.gShift) : (p.luminance ? rgba[0] : 0.0f);
    rgba[2] = p.bBits ? channel(p.bBits, p.bShift) : (p.luminance ? rgba[0] : 0.0f);
    rgba[3] = p.aBits ? channel(p.aBits, p.aShift) : 1.0f;
    if (format == FMT_G16R16) rgba[2] = 1.0f;
}

inline void EncodePacked(Format format, const Packed& p, const float rgba[4], uint8_t* dst) {
    uint32_t v = 0;
    if (p.rBits) v |= ToUnorm(rgba[0], p.rBits) << p.rShift;
    if (p.gBits) v |= ToUnorm(rgba[1], p.gBits) << p.gShift;
    if (p.bBits) v |= ToUnorm(rgba[2], p.bBits) << p.bShift;
    if (p.aBits) v |= ToUnorm(rgba[3], p.aBits) << p.aShift;
    // Unused bits of X formats read back as set, as the original's Clear leaves them.
    if (format == FMT_X8R8G8B8 || format == FMT_X8B8G8R8) v |= 0xFF000000u;
    Write(dst, p.bytes, v);
}

}  // namespace

void DecodeTexel(Format format, const uint8_t* src, float rgba[4]) {
    Packed p;
    if (PackedLayout(format, &p)) {
        DecodePacked(format, p, src, rgba);
        return;
    }
    rgba[0] = 0.0f;
    rgba[1] = 1.0f;
    rgba[2] = 1.0f;
    rgba[3] = 1.0f;
    switch (format) {
    case FMT_A16B16G16R16:
        for (int i = 0; i < 4; ++i) rgba[i] = Unorm(Read(src + 2 * i, 2), 16);
        break;
    case FMT_R16F: rgba[0] = HalfToFloat(static_cast<uint16_t>(Read(src, 2))); break;
    case FMT_G16R16F:
        rgba[0] = HalfToFloat(static_cast<uint16_t>(Read(src, 2)));
        rgba[1] = HalfToFloat(static_cast<uint16_t>(Read(src + 2, 2)));
        break;
    case FMT_A16B16G16R16F:
        for (int i = 0; i < 4; ++i) rgba[i] = HalfToFloat(static_cast<uint16_t>(Read(src + 2 * i, 2)));
        break;
    case FMT_R32F: rgba[0] = ReadFloat(src); break;
    case FMT_G32R32F:
        rgba[0] = ReadFloat(src);
        rgba[1] = ReadFloat(src + 4);
        break;
    case FMT_A32B32G32R32F:
        for (int i = 0; i < 4; ++i) rgba[i] = ReadFloat(src + 4 * i);
        break;
    default: rgba[1] = rgba[2] = 0.0f; break;
    }
}

void EncodeTexel(Format format, const float rgba[4], uint8_t* dst) {
    Packed p;
    if (PackedLayout(format, &p)) {
        EncodePacked(format, p, rgba, dst);
        return;
    }
    switch (format) {
    case FMT_A16B16G16R16:
        for (int i = 0; i < 4; ++i) Write(dst + 2 * i, 2, ToUnorm(rgba[i], 16));
        break;
    case FMT_R16F: Write(dst, 2, FloatToHalf(rgba[0])); break;
    case FMT_G16R16F:
        Write(dst, 2, FloatToHalf(rgba[0]));
        Write(dst + 2, 2, FloatToHalf(rgba[1]));
        break;
    case FMT_A16B16G16R16F:
        for (int i = 0; i < 4; ++i) Write(dst + 2 * i, 2, FloatToHalf(rgba[i]));
        break;
    case FMT_R32F: WriteFloat(dst, rgba[0]); break;
    case FMT_G32R32F:
        WriteFloat(dst, rgba[0]);
        WriteFloat(dst + 4, rgba[1]);
        break;
    case FMT_A32B32G32R32F:
        for (int i = 0; i < 4; ++i) WriteFloat(dst + 4 * i, rgba[i]);
        break;
    default: break;
    }
}

void DecodeTexels(Format format, const uint8_t* src, uint32_t count, uint32_t texelBytes, float* rgba) {
    Packed p;
    if (!PackedLayout(format, &p)) {
        for (uint32_t i = 0; i < count; ++i) DecodeTexel(format, src + size_t(i) * texelBytes, rgba + 4 * i);
        return;
    }
    // Four bytes of 8-bit channels (the targets' usual formats): one load a texel and the
    // channels' values from a table of the same quotients.
    const bool eightBit = p.bytes == 4 && !p.luminance && (p.rBits | p.gBits | p.bBits | p.aBits) == 8 &&
                          std::endian::native == std::endian::little;
    if (eightBit) {
        static const std::array<float, 256> kUnorm8 = [] {
            std::array<float, 256> t{};
            for (uint32_t v = 0; v < 256; ++v) t[v] = Unorm(v, 8);
            return t;
        }();
        for (uint32_t i = 0; i < count; ++i, src += texelBytes, rgba += 4) {
            uint32_t v;
            std::memcpy(&v, src, 4);
            rgba[0] = p.rBits ? kUnorm8[(v >> p.rShift) & 0xFFu] : 0.0f;
            rgba[1] = p.gBits ? kUnorm8[(v >> p.gShift) & 0xFFu] : 0.0f;
            rgba[2] = p.bBits ? kUnorm8[(v >> p.bShift) & 0xFFu] : 0.0f;
            rgba[3] = p.aBits ? kUnorm8[(v >> p.aShift) & 0xFFu] : 1.0f;
        }
        return;
    }
    for (uint32_t i = 0; i < count; ++i) DecodePacked(format, p, src + size_t(i) * texelBytes, rgba + 4 * i);
}

void EncodeTexels(Format format, const float* rgba, uint32_t count, uint32_t texelBytes, uint8_t* dst) {
    Packed p;
    if (!PackedLayout(format, &p)) {
        for (uint32_t i = 0; i < count; ++i) EncodeTexel(format, rgba + 4 * i, dst + size_t(i) * texelBytes);
        return;
    }
    // Four bytes of 8-bit channels: each channel clamped without branches (NaN and
    // everything up to 0 give 0, from 1 up 255, as ToUnorm's tests do) and one store.
    const bool eightBit = p.bytes == 4 && (p.rBits | p.gBits | p.bBits | p.aBits) == 8 &&
                          std::endian::native == std::endian::little;
    if (eightBit) {
        const uint32_t xBits = format == FMT_X8R8G8B8 || format == FMT_X8B8G8R8 ? 0xFF000000u : 0u;
        auto channel = [](float f) {
            const float c = f > 0.0f ? (f < 1.0f ? f : 1.0f) : 0.0f;
            return static_cast<uint32_t>(c * 255.0f + 0.5f);
        };
        for (uint32_t i = 0; i < count; ++i, rgba += 4, dst += texelBytes) {
            uint32_t v = xBits;
            if (p.rBits) v |= channel(rgba[0]) << p.rShift;
            if (p.gBits) v |= channel(rgba[1]) << p.gShift;
            if (p.bBits) v |= channel(rgba[2]) << p.bShift;
            if (p.aBits) v |= channel(rgba[3]) << p.aShift;
            std::memcpy(dst, &v, 4);
        }
        return;
    }
    for (uint32_t i = 0; i < count; ++i) EncodePacked(format, p, rgba + 4 * i, dst + size_t(i) * texelBytes);
}

uint16_t FloatToHalf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    const uint32_t sign = (bits >> 16) & 0x8000u;
    const uint32_t exponent = (bits >> 23) & 0xFFu;
    uint32_t mantissa = bits & 0x7FFFFFu;
    if (exponent == 0xFF) return static_cast<uint16_t>(sign | 0x7C00u | (mantissa ? 0x200u : 0u));
    const int e = static_cast<int>(exponent) - 127 + 15;
    if (e >= 31) return static_cast<uint16_t>(sign | 0x7C00u);
    if (e <= 0) {
        if (e < -10) return static_cast<uint16_t>(sign);
        mantissa |= 0x800000u;
        const uint32_t shift = static_cast<uint32_t>(14 - e);
        uint32_t half = mantissa >> shift;
        const uint32_t rest = mantissa & ((1u << shift) - 1u);
        const uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (half & 1u))) ++half;
        return static_cast<uint16_t>(sign | half);
    }
    uint32_t half = (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
    const uint32_t rest = mantissa & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u))) ++half;  // may carry into the exponent: correct
    return static_cast<uint16_t>(sign | half);
}

float HalfToFloat(uint16_t half) {
    const uint32_t sign = (static_cast<uint32_t>(half) & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1Fu;
    const uint32_t mantissa = half & 0x3FFu;
    uint32_t bits;
    if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else {
            const float f = std::ldexp(static_cast<float>(mantissa), -24);
            return sign ? -f : f;
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else {
        bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

}  // namespace gfx::detail
