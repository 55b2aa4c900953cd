#pragma once
// Private to platform/gfx: sizes of formats and conversion of single texels to and
// from four floats (red, green, blue, alpha in 0..1 for normalised formats).
#include <cstddef>
#include <cstdint>

#include "platform/gfx/GfxEnums.h"

namespace gfx::detail {

struct FormatInfo {
    uint32_t bytesPerTexel;  // bytes per 4x4 block for block-compressed formats
    bool blockCompressed;
    bool depth;
    bool stencil;
    bool convertible;  // DecodeTexel / EncodeTexel handle it
};

// False for a format the device does not know.
bool GetFormatInfo(Format format, FormatInfo* info);
bool IsDepthFormat(Format format);
bool IsTenBitFormat(Format format);
// Bytes of one row (of texels, or of 4x4 blocks) and the number of rows of a level.
uint32_t RowPitch(Format format, uint32_t width);
uint32_t RowCount(Format format, uint32_t height);
size_t LevelBytes(Format format, uint32_t width, uint32_t height);

void DecodeTexel(Format format, const uint8_t* src, float rgba[4]);
void EncodeTexel(Format format, const float rgba[4], uint8_t* dst);
// The same over a run of count texels texelBytes apart (rgba: four floats a texel), the
// format's layout looked up once.
void DecodeTexels(Format format, const uint8_t* src, uint32_t count, uint32_t texelBytes, float* rgba);
void EncodeTexels(Format format, const float* rgba, uint32_t count, uint32_t texelBytes, uint8_t* dst);
void ColorToFloats(uint32_t argb, float rgba[4]);

uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t half);

}  // namespace gfx::detail
