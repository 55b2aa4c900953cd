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

uint32_t SourceVoiceImpl::Produce(float* out, uint32_t frames, uint64_t stepFx) {
    const uint32_t ch = format.channels;
    const int64_t step = static_cast<int64_t>(stepFx);
    uint32_t i = 0;
    while (i < frames) {
        if (!win && !FetchWindow()) {
            if (draining) {
                // The stream has ended: play out up to the last frame, then reset.
                while (i < frames && pos < 0) {
                    for (uint32_t c = 0; c < ch; ++c) out[i * ch + c] = history[c];
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
                out[i * ch + c] = s0 + (s1 - s0) * f;
            }
            pos += step;
            ++i;
            continue;
        }
        const uint64_t k = std::min<uint64_t>(frames - i, uint64_t((last - pos + step - 1) / step));
        const uint8_t* w = win;
        int64_t p = pos;
        if (ch == 1) {
            float* o = out + i;
            for (uint64_t j = 0; j < k; ++j) {
                const size_t idx = size_t(p >> 32);
                const float f = static_cast<float>(static_cast<uint32_t>(p)) * kFraction;
                const float s0 = Load(w, idx), s1 = Load(w, idx + 1);
                o[j] = s0 + (s1 - s0) * f;
                p += step;
            }
        } else {
            float* o = out + size_t(i) * 2;
            for (uint64_t j = 0; j < k; ++j) {
                const size_t idx = size_t(p >> 32) * 2;
                const float f = static_cast<float>(static_cast<uint32_t>(p)) * kFraction;
                const float l0 = Load(w, idx), r0 = Load(w, idx + 1);
                const float l1 = Load(w, idx + 2), r1 = Load(w, idx + 3);
                o[2 * j] = l0 + (l1 - l0) * f;
                o[2 * j + 1] = r0 + (r1 - r0) * f;
                p += step;
            }
        }
        pos = p;
        i += static_cast<uint32_t>(k);
    }
    return i;
}

void EngineImpl::MixQuantum(uint32_t frames, float* out) {
    if (!master || frames == 0) return;
    const uint32_t och = master->channels;
    float* mix = mixBuffer.data();
    std::fill(mix, mix + size_t(frames) * och, 0.0f);
    float* vb = voiceBuffer.data();

    for (SourceVoiceImpl* v : voices) {
        if (!v->params.started) continue;
        const uint32_t sch = v->format.channels;
        const float ratio = (v->creationFlags & kVoiceNoPitch) ? 1.0f : v->params.ratio;
        const double step = double(ratio) * v->format.sampleRate / master->sampleRate;
        const uint64_t stepFx = std::max<uint64_t>(1, static_cast<uint64_t>(step * 4294967296.0 + 0.5));
        const uint32_t n = v->Produce(vb, frames, stepFx);
        if (n == 0) continue;

        float g[kMaxSourceChannels * kMaxOutputChannels];
        const float scale = v->params.volume * (1.0f / 32768.0f);
        for (uint32_t j = 0; j < sch * och; ++j) g[j] = v->params.matrix[j] * scale;
        if (och == 2 && sch == 1) {
            const float g0 = g[0], g1 = g[1];
            for (uint32_t i = 0; i < n; ++i) {
                mix[2 * i] += vb[i] * g0;
                mix[2 * i + 1] += vb[i] * g1;
            }
        } else if (och == 2 && sch == 2) {
            const float gLL = g[0], gLR = g[1], gRL = g[2], gRR = g[3];  // [d * 2 + s]
            for (uint32_t i = 0; i < n; ++i) {
                const float l = vb[2 * i], r = vb[2 * i + 1];
                mix[2 * i] += l * gLL + r * gLR;
                mix[2 * i + 1] += l * gRL + r * gRR;
            }
        } else {
            for (uint32_t i = 0; i < n; ++i)
                for (uint32_t d = 0; d < och; ++d) {
                    float acc = 0.0f;
                    for (uint32_t s = 0; s < sch; ++s) acc += vb[i * sch + s] * g[d * sch + s];
                    mix[size_t(i) * och + d] += acc;
                }
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
