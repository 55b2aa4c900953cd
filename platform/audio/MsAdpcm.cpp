#include "platform/audio/MsAdpcm.h"

#include <cstring>

namespace audio {

const int16_t kAdpcmCoefficients[kAdpcmCoefficientCount][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};

namespace {

constexpr int32_t kMaxStep = 0x7FFFFF;
const int32_t kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

int16_t ReadI16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }

struct ChannelState {
    int32_t coef1, coef2, step, sample1, sample2;

    int16_t Decode(uint32_t code) {
        const int32_t predicted = (sample1 * coef1 + sample2 * coef2) >> 8;
        const int32_t signedCode = static_cast<int32_t>(code) - ((code & 8) << 1);
        int32_t s = predicted + signedCode * step;
        if (s > 32767) s = 32767;
        if (s < -32768) s = -32768;
        // Corrupt data can make the step grow without end; capping it far above any
        // step that matters (everything saturates past 65536) keeps the arithmetic defined.
        const int64_t next = (int64_t(kAdaptation[code]) * step) >> 8;
        step = next < 16 ? 16 : (next > kMaxStep ? kMaxStep : static_cast<int32_t>(next));
        sample2 = sample1;
        sample1 = s;
        return static_cast<int16_t>(s);
    }
};

}  // namespace

uint32_t AdpcmSamplesPerBlock(uint32_t blockAlign, uint32_t channels) {
    if (channels < 1 || channels > 2 || blockAlign > kAdpcmMaxBlockAlign) return 0;
    if (blockAlign < 7 * channels) return 0;
    return (blockAlign - 7 * channels) * 2 / channels + 2;
}

bool AdpcmDecodeBlock(const uint8_t* block, uint32_t blockAlign, uint32_t channels, int16_t* out) {
    const uint32_t frames = AdpcmSamplesPerBlock(blockAlign, channels);
    if (frames == 0) return false;
    ChannelState st[2];
    for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t predictor = block[c];
        if (predictor >= kAdpcmCoefficientCount) {
            std::memset(out, 0, sizeof(int16_t) * frames * channels);
            return false;
        }
        st[c].coef1 = kAdpcmCoefficients[predictor][0];
        st[c].coef2 = kAdpcmCoefficients[predictor][1];
        st[c].step = ReadI16(block + channels + 2 * c);
        st[c].sample1 = ReadI16(block + 3 * channels + 2 * c);
        st[c].sample2 = ReadI16(block + 5 * channels + 2 * c);
    }
    for (uint32_t c = 0; c < channels; ++c) {
        out[c] = static_cast<int16_t>(st[c].sample2);
        out[channels + c] = static_cast<int16_t>(st[c].sample1);
    }
    // Codes: (frames - 2) x channels nibbles; the byte count matches exactly.
    const uint8_t* codes = block + 7 * channels;
    const uint32_t nibbles = (frames - 2) * channels;
    int16_t* o = out + 2 * channels;
    for (uint32_t i = 0; i < nibbles; ++i) {
        const uint8_t byte = codes[i >> 1];
        const uint32_t code = (i & 1) ? (byte & 15u) : (byte >> 4);
        o[i] = st[channels == 2 ? (i & 1) : 0].Decode(code);
    }
    return true;
}

}  // namespace audio
