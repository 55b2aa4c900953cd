// The software mixer. Each quantum (10 ms of output, or less for a manual Render) it
// walks the started source voices; each voice resamples its buffer queue to the
// output rate by linear interpolation, stepping source frames by
//   source rate / output rate x frequency ratio
// in 32.32 fixed point, and the result is added to the float mix bus through the
// voice's output matrix scaled by its volume. The bus is scaled by the mastering
// voice's volume and clipped to [-1, 1].
//
// A voice's queue is read through windows: runs of 16-bit frames that are contiguous
// in memory (PCM16 read in place, PCM8 converted, one ADPCM block decoded into the
// voice's scratch). The resampler keeps the frame before the window (history), so
// interpolation runs across window, block, loop and buffer boundaries unbroken.
//
// Runs with the engine lock held (the caller takes it).
#include <algorithm>
#include <cstring>

#include "platform/audio/Engine_p.h"
#include "platform/audio/MsAdpcm.h"

namespace audio::detail {

namespace {

constexpr uint32_t kConvertFrames = 256;  // PCM8 frames converted per window
constexpr int64_t kOne = int64_t(1) << 32;
constexpr float kFraction = 1.0f / 4294967296.0f;

inline float Load(const uint8_t* base, size_t index) {
    int16_t v;
    std::memcpy(&v, base + index * 2, 2);
    return static_cast<float>(v);
}

}  // namespace

bool SourceVoiceImpl::FetchWindow() {
    const uint32_t ch = format.channels;
    while (count > 0) {
        QueuedBuffer& b = queue[head];
        const uint32_t end = b.loopsLeft ? b.loopEnd : b.playEnd;
        if (b.cursor >= end) {
            if (b.loopsLeft) {
                b.cursor = b.loopBegin;
                if (b.loopsLeft != kLoopInfinite) --b.loopsLeft;
                continue;
            }
            const bool eos = b.endOfStream;
            head = (head + 1) % kMaxQueuedBuffers;
            --count;
            cachedBlock = -1;
            if (eos) {
                draining = true;
                return false;
            }
            continue;
        }
        uint32_t n = end - b.cursor;
        if (format.tag == kFormatAdpcm) {
            const uint32_t spb = format.samplesPerBlock;
            const int64_t block = b.cursor / spb;
            if (block != cachedBlock) {
                AdpcmDecodeBlock(b.data + size_t(block) * format.blockAlign, format.blockAlign, ch, scratch.data());
                cachedBlock = block;
            }
            const uint32_t inBlock = b.cursor - static_cast<uint32_t>(block) * spb;
            n = std::min(n, spb - inBlock);
            win = reinterpret_cast<const uint8_t*>(scratch.data() + size_t(inBlock) * ch);
        } else if (format.bitsPerSample == 8) {
            n = std::min(n, kConvertFrames);
            const uint8_t* src = b.data + size_t(b.cursor) * ch;
            for (uint32_t i = 0; i < n * ch; ++i) scratch[i] = static_cast<int16_t>((int32_t(src[i]) - 128) * 256);
            win = reinterpret_cast<const uint8_t*>(scratch.data());
        } else {
            win = b.data + size_t(b.cursor) * ch * 2;
        }
        winCount = n;
        b.cursor += n;
        draining = false;
        streamEnded = false;
        return true;
    }
    return false;
}

// Frames before the read position: those of finished windows plus the whole frames
// already passed in this one (pos is relative to the window, -1 = history).
uint64_t SourceVoiceImpl::SamplesPlayed() const {
    const int64_t played = static_cast<int64_t>(consumedFrames) + (pos >> 32);
    return played > 0 ? static_cast<uint64_t>(played) : 0;
}

// Linear interpolation in integers: s0 + (s1 - s0) x f with f in 15 bits, exact at
// f = 0, so a voice at the output's rate and ratio 1 reproduces its samples exactly.
template <uint32_t Channels, class Sink>
uint32_t SourceVoiceImpl::Produce(uint32_t frames, int64_t step, Sink& sink) {
    constexpr uint32_t ch = Channels;
    uint32_t i = 0;
    float frame[Channels];
    while (i < frames) {
        if (!win && !FetchWindow()) {
            if (draining) {
                // The stream has ended: play out up to the last frame, then reset.
                while (i < frames && pos < 0) {
                    sink(i, history);
                    pos += step;
                    ++i;
                }
                if (pos >= 0) {
                    draining = false;
                    streamEnded = true;
                    pos = 0;
                    for (float& h : history) h = 0.0f;
                }
            }
            break;  // starved or ended: the rest of the quantum is silent
        }
        const int64_t last = (int64_t(winCount) - 1) * kOne;
        if (pos >= last) {
            for (uint32_t c = 0; c < ch; ++c) history[c] = Load(win, size_t(winCount - 1) * ch + c);
            consumedFrames += winCount;
            pos -= int64_t(winCount) * kOne;
            win = nullptr;
            continue;
        }
        if (pos < 0) {
            const float f = static_cast<float>(static_cast<uint32_t>(pos)) * kFraction;
            for (uint32_t c = 0; c < ch; ++c) {
                const float s0 = history[c], s1 = Load(win, c);
                frame[c] = s0 + (s1 - s0) * f;
            }
            sink(i, frame);
            pos += step;
            ++i;
            continue;
        }
        const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(frames - i, uint64_t((last - pos + step - 1) / step)));
        const uint8_t* w = win;
        int64_t p = pos;
        for (uint32_t j = 0; j < k; ++j) {
            const size_t idx = size_t(p >> 32) * ch;
            const int32_t f = static_cast<int32_t>(static_cast<uint32_t>(p) >> 17);
            for (uint32_t c = 0; c < ch; ++c) {
                int16_t a, b;
                std::memcpy(&a, w + (idx + c) * 2, 2);
                std::memcpy(&b, w + (idx + ch + c) * 2, 2);
                frame[c] = static_cast<float>(a + (((int32_t(b) - a) * f) >> 15));
            }
            sink(i + j, frame);
            p += step;
        }
        pos = p;
        i += k;
    }
    return i;
}

namespace {

// Sinks: add one voice's frames to the mix bus through its gains ([d * src + s]).
struct MonoToStereo {
    float* mix;
    float g0, g1;
    void operator()(uint32_t i, const float* x) {
        mix[2 * i] += x[0] * g0;
        mix[2 * i + 1] += x[0] * g1;
    }
};
struct StereoToStereo {
    float* mix;
    float gLL, gLR, gRL, gRR;
    void operator()(uint32_t i, const float* x) {
        mix[2 * i] += x[0] * gLL + x[1] * gLR;
        mix[2 * i + 1] += x[0] * gRL + x[1] * gRR;
    }
};
struct AnyLayout {
    float* mix;
    const float* g;
    uint32_t src, dst;
    void operator()(uint32_t i, const float* x) {
        for (uint32_t d = 0; d < dst; ++d) {
            float acc = 0.0f;
            for (uint32_t s = 0; s < src; ++s) acc += x[s] * g[d * src + s];
            mix[size_t(i) * dst + d] += acc;
        }
    }
};

}  // namespace

void EngineImpl::MixQuantum(uint32_t frames, float* out) {
    if (!master || frames == 0) return;
    const uint32_t och = master->channels;
    float* mix = mixBuffer.data();
    std::fill(mix, mix + size_t(frames) * och, 0.0f);

    for (SourceVoiceImpl* v : voices) {
        if (!v->params.started) continue;
        const uint32_t sch = v->format.channels;
        const float ratio = (v->creationFlags & kVoiceNoPitch) ? 1.0f : v->params.ratio;
        const double step = double(ratio) * v->format.sampleRate / master->sampleRate;
        const auto stepFx = static_cast<int64_t>(std::max(1.0, step * 4294967296.0 + 0.5));

        float g[kMaxSourceChannels * kMaxOutputChannels];
        const float scale = v->params.volume * (1.0f / 32768.0f);
        for (uint32_t j = 0; j < sch * och; ++j) g[j] = v->params.matrix[j] * scale;
        if (och == 2 && sch == 1) {
            MonoToStereo sink{mix, g[0], g[1]};
            v->Produce<1>(frames, stepFx, sink);
        } else if (och == 2 && sch == 2) {
            StereoToStereo sink{mix, g[0], g[1], g[2], g[3]};
            v->Produce<2>(frames, stepFx, sink);
        } else {
            AnyLayout sink{mix, g, sch, och};
            if (sch == 1)
                v->Produce<1>(frames, stepFx, sink);
            else
                v->Produce<2>(frames, stepFx, sink);
        }
    }

    if (out) {
        const float mv = master->volume;
        for (size_t i = 0; i < size_t(frames) * och; ++i) {
            const float y = mix[i] * mv;
            out[i] = y > 1.0f ? 1.0f : (y < -1.0f ? -1.0f : y);
        }
    }
    framesRendered += frames;
}

}  // namespace audio::detail
