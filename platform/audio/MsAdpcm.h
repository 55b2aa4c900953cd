#pragma once
// MS-ADPCM (format tag 2) block decoding with the seven standard coefficient pairs.
//
// A block holds, per channel, a predictor index (u8), the initial step (i16) and the
// two newest history samples (i16 sample1, i16 sample2), channel-interleaved field by
// field; then 4-bit codes, high nibble first, alternating channels for stereo. The
// block decodes to samplesPerBlock frames: sample2, sample1, then one frame per code
// (or code pair). Each code c (signed 4-bit) gives
//   predicted = (sample1 * coef1 + sample2 * coef2) >> 8
//   sample    = clamp16(predicted + c * step)
//   step      = clamp((kAdaptation[c & 15] * step) >> 8, 16, 0x7FFFFF)
#include <cstdint>

namespace audio {

constexpr uint32_t kAdpcmCoefficientCount = 7;
constexpr uint32_t kAdpcmMaxBlockAlign = 8192;
extern const int16_t kAdpcmCoefficients[kAdpcmCoefficientCount][2];

// Frames in one block of blockAlign bytes, 0 when no whole block fits (header alone
// needs 7 bytes per channel) or the values are out of range.
uint32_t AdpcmSamplesPerBlock(uint32_t blockAlign, uint32_t channels);

// Decodes one block (exactly blockAlign bytes) into AdpcmSamplesPerBlock(...) x
// channels interleaved samples. A block whose predictor index is out of range
// decodes as silence and the result is false.
bool AdpcmDecodeBlock(const uint8_t* block, uint32_t blockAlign, uint32_t channels, int16_t* out);

}  // namespace audio
