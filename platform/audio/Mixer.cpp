// The software mixer. Each quantum (10 ms of output, or less for a manual Render) it
// walks the started source voices. A voice first resamples its buffer queue to the
// output rate by linear interpolation into the engine's voice buffer, stepping
// source frames by
//   source rate / output rate x frequency ratio
// in 32.32 fixed point; the voice buffer is then added to the float mix bus through
// the voice's output matrix, scaled by its volume and the mastering voice's volume.
// The bus is clipped to [-1, 1].
//
// Those levels never jump: when any of them changes (a volume, a pan, the master
// volume) the voice's gains move to the new values linearly over kGainRampMs, starting
// from where they stand, so an instant change does not click and a fade stepped at
// every sound update keeps its slope. A voice's first quantum takes its levels at once.
//
// Interpolation is integer arithmetic: with f the top 14 bits of the read position's
// fraction, the frame between source frames a and b is a x (2^14 - f) + b x f, exact
// and equal to a x 2^14 at f = 0, so a voice at the output's rate and ratio 1
// reproduces its samples exactly. The gains take the 2^14 out again. With SSE2 four
// frames are interpolated at once (one pmaddwd forms both products and their sum);
// the plain loop does the rest with the same arithmetic and the same bits.
//
// No float survives from one quantum to the next (positions and the held frame are
// integers, the bus starts at 0), and a gain below kMinGain counts as 0, so every
// product and sum the mixer forms is either 0 or a normal float: the cost of a
// quantum never depends on the slow path some processors take for denormal numbers.
//
// A voice's queue is read through windows: runs of 16-bit frames that are contiguous
// in memory (PCM16 read in place, PCM8 converted, one ADPCM block decoded into the
// voice's scratch). The resampler keeps the frame before the window (history), so
// interpolation runs across window, block, loop and buffer boundaries unbroken.
//
// Runs with the engine lock held (the caller takes it).
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/audio/Engine_p.h"
#include "platform/audio/MsAdpcm.h"

namespace audio::detail {

namespace {

constexpr uint32_t kConvertFrames = 256;  // PCM8 frames converted per window
constexpr int64_t kOne = int64_t(1) << 32;
constexpr int kFractionBits = 14;
constexpr int32_t kFractionOne = 1 << kFractionBits;
// From interpolated frames (16-bit units x 2^14) to the bus, where 1 is full scale.
constexpr float kSampleToBus = 1.0f / (32768.0f * float(kFractionOne));
// Volume x master volume x matrix level below which a gain is 0 (2^-60, about -361 dB).
// Products of larger gains with interpolated frames (integers) are at least 2^-89
// and multiples of 2^-112, so neither they nor any sum of them can be denormal.
constexpr float kMinGain = 0x1p-60f;
// Length of the ramp that carries a voice's levels to new values.
constexpr uint32_t kGainRampMs = 5;

inline float GainToBus(float level) { return std::fabs(level) < kMinGain ? 0.0f : level * kSampleToBus; }

inline int32_t Load(const uint8_t* base, size_t index) {
    int16_t v;
    std::memcpy(&v, base + index * 2, 2);
    return v;
}

inline int32_t Fraction(int64_t pos) { return static_cast<int32_t>(static_cast<uint32_t>(pos) >> (32 - kFractionBits)); }

inline float Interpolate(int32_t a, int32_t b, int32_t f) { return static_cast<float>(a * (kFractionOne - f) + b * f); }

#if defined(__SSE2__)
// Per 32-bit lane holding the low half of a read position: the weights (2^14 - f, f)
// as two 16-bit words.
inline __m128i WeightPairs(__m128i low) {
    const __m128i f = _mm_srli_epi32(low, 32 - kFractionBits);
    return _mm_or_si128(_mm_sub_epi32(_mm_set1_epi32(kFractionOne), f), _mm_slli_epi32(f, 16));
}

inline __m128i Load32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// (aL, aR, bL, bR) in each half -> (aL, bL, aR, bR).
inline __m128i PairChannels(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 1, 2, 0)), _MM_SHUFFLE(3, 1, 2, 0));
}

// Four frames per step; count is a multiple of 4. Returns the position after.
template <uint32_t Channels>
int64_t InterpolateFours(const uint8_t* w, int64_t pos, int64_t step, uint32_t count, float* out) {
    const auto p = static_cast<uint32_t>(pos), s = static_cast<uint32_t>(step);
    __m128i low = _mm_setr_epi32(int32_t(p), int32_t(p + s), int32_t(p + 2 * s), int32_t(p + 3 * s));
    const __m128i advance = _mm_set1_epi32(int32_t(4 * s));
    constexpr size_t kFrameBytes = Channels * 2;
    for (uint32_t j = 0; j < count; j += 4) {
        // Each frame's load also takes the frame after it: the pair to interpolate.
        const uint8_t* f0 = w + size_t(pos >> 32) * kFrameBytes;
        const uint8_t* f1 = w + size_t((pos + step) >> 32) * kFrameBytes;
        const uint8_t* f2 = w + size_t((pos + 2 * step) >> 32) * kFrameBytes;
        const uint8_t* f3 = w + size_t((pos + 3 * step) >> 32) * kFrameBytes;
        pos += 4 * step;
        const __m128i weights = WeightPairs(low);
        low = _mm_add_epi32(low, advance);
        if constexpr (Channels == 1) {
            const __m128i pairs = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load32(f0), Load32(f1)),
                                                     _mm_unpacklo_epi32(Load32(f2), Load32(f3)));
            _mm_storeu_ps(out + j, _mm_cvtepi32_ps(_mm_madd_epi16(pairs, weights)));
        } else {
            const auto load64 = [](const uint8_t* f) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(f)); };
            const __m128i pairs01 = PairChannels(_mm_unpacklo_epi64(load64(f0), load64(f1)));
            const __m128i pairs23 = PairChannels(_mm_unpacklo_epi64(load64(f2), load64(f3)));
            _mm_storeu_ps(out + 2 * j, _mm_cvtepi32_ps(_mm_madd_epi16(pairs01, _mm_unpacklo_epi32(weights, weights))));
            _mm_storeu_ps(out + 2 * j + 4,
                          _mm_cvtepi32_ps(_mm_madd_epi16(pairs23, _mm_unpackhi_epi32(weights, weights))));
        }
    }
    return pos;
}
#endif

// Interpolates `count` frames of a window from pos (32.32, every frame read lies
// inside the window) into out, Channels floats per frame. Returns the position after.
template <uint32_t Channels>
int64_t InterpolateRun(const uint8_t* w, int64_t pos, int64_t step, uint32_t count, float* out) {
    uint32_t j = 0;
#if defined(__SSE2__)
    j = count & ~3u;
    pos = InterpolateFours<Channels>(w, pos, step, j, out);
#endif
    for (; j < count; ++j, pos += step) {
        const size_t idx = size_t(pos >> 32) * Channels;
        const int32_t f = Fraction(pos);
        for (uint32_t c = 0; c < Channels; ++c)
            out[j * Channels + c] = Interpolate(Load(w, idx + c), Load(w, idx + Channels + c), f);
    }
    return pos;
}

// Adds n frames of one voice (sch floats per frame) to the bus (och per frame)
// through gains g[d * sch + s]. The vector loops keep the plain loops' operation
// order, so both give the same bits.
void AddToBus(float* bus, uint32_t och, const float* x, uint32_t sch, const float* g, uint32_t n) {
    size_t i = 0;
    if (och == 2 && sch == 1) {
#if defined(__SSE2__)
        const __m128 gains = _mm_setr_ps(g[0], g[1], g[0], g[1]);
        for (; i + 4 <= n; i += 4) {
            const __m128 v = _mm_loadu_ps(x + i);
            float* b = bus + 2 * i;
            _mm_storeu_ps(b, _mm_add_ps(_mm_loadu_ps(b), _mm_mul_ps(_mm_unpacklo_ps(v, v), gains)));
            _mm_storeu_ps(b + 4, _mm_add_ps(_mm_loadu_ps(b + 4), _mm_mul_ps(_mm_unpackhi_ps(v, v), gains)));
        }
#endif
        for (; i < n; ++i) {
            bus[2 * i] += x[i] * g[0];
            bus[2 * i + 1] += x[i] * g[1];
        }
    } else if (och == 2 && sch == 2) {
#if defined(__SSE2__)
        // (l, r) x (gLL, gRR) + (r, l) x (gLR, gRL) per frame.
        const __m128 straight = _mm_setr_ps(g[0], g[3], g[0], g[3]);
        const __m128 crossed = _mm_setr_ps(g[1], g[2], g[1], g[2]);
        for (; i + 2 <= n; i += 2) {
            const __m128 v = _mm_loadu_ps(x + 2 * i);
            const __m128 swapped = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));
            const __m128 sum = _mm_add_ps(_mm_mul_ps(v, straight), _mm_mul_ps(swapped, crossed));
            _mm_storeu_ps(bus + 2 * i, _mm_add_ps(_mm_loadu_ps(bus + 2 * i), sum));
        }
#endif
        for (; i < n; ++i) {
            const float l = x[2 * i], r = x[2 * i + 1];
            bus[2 * i] += l * g[0] + r * g[1];
            bus[2 * i + 1] += l * g[2] + r * g[3];
        }
    } else {
        for (; i < n; ++i)
            for (uint32_t d = 0; d < och; ++d) {
                float acc = 0.0f;
                for (uint32_t s = 0; s < sch; ++s) acc += x[i * sch + s] * g[d * sch + s];
                bus[i * och + d] += acc;
            }
    }
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

template <uint32_t Channels>
uint32_t SourceVoiceImpl::Produce(uint32_t frames, int64_t step, float* out) {
    constexpr uint32_t ch = Channels;
    uint32_t i = 0;
    while (i < frames) {
        if (!win && !FetchWindow()) {
            if (draining) {
                // The stream has ended: play out up to the last frame, then reset.
                for (; i < frames && pos < 0; ++i, pos += step)
                    for (uint32_t c = 0; c < ch; ++c) out[i * ch + c] = Interpolate(history[c], 0, 0);
                if (pos >= 0) {
                    draining = false;
                    streamEnded = true;
                    pos = 0;
                    for (int32_t& h : history) h = 0;
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
            const int32_t f = Fraction(pos);
            for (uint32_t c = 0; c < ch; ++c) out[i * ch + c] = Interpolate(history[c], Load(win, c), f);
            pos += step;
            ++i;
            continue;
        }
        const auto k = static_cast<uint32_t>(std::min<uint64_t>(frames - i, uint64_t((last - pos + step - 1) / step)));
        pos = InterpolateRun<ch>(win, pos, step, k, out + size_t(i) * ch);
        i += k;
    }
    return i;
}

void EngineImpl::MixQuantum(uint32_t frames, float* out) {
    assert(lock.HeldByCaller());
    if (!master || frames == 0) return;
    const uint32_t och = master->channels;
    float* mix = mixBuffer.data();
    float* voiceOut = voiceBuffer.data();
    std::fill(mix, mix + size_t(frames) * och, 0.0f);

    for (SourceVoiceImpl* v : voices) {
        if (!v->params.started) continue;
        const uint32_t sch = v->format.channels;
        const float ratio = (v->creationFlags & kVoiceNoPitch) ? 1.0f : v->params.ratio;
        const double step = double(ratio) * v->format.sampleRate / master->sampleRate;
        const auto stepFx = static_cast<int64_t>(std::max(1.0, step * 4294967296.0 + 0.5));
        const uint32_t n = sch == 1 ? v->Produce<1>(frames, stepFx, voiceOut) : v->Produce<2>(frames, stepFx, voiceOut);

        const float volume = v->params.volume * master->volume;
        const uint32_t gains = sch * och;
        bool changed = false;
        float target[SourceVoiceImpl::kGains];
        for (uint32_t j = 0; j < gains; ++j) {
            target[j] = v->params.matrix[j] * volume;
            changed |= target[j] != v->gainTarget[j];
        }
        if (!v->gainsPrimed) {
            std::copy(target, target + gains, v->gainNow);
            std::copy(target, target + gains, v->gainTarget);
            v->gainsPrimed = true;
        } else if (changed) {
            // A new ramp starts from where the levels stand, so a change during a
            // ramp (a fade's next step) carries on from there without a jump.
            const uint32_t rampFrames = std::max<uint32_t>(1, master->sampleRate * kGainRampMs / 1000);
            for (uint32_t j = 0; j < gains; ++j) {
                v->gainTarget[j] = target[j];
                v->gainStep[j] = (target[j] - v->gainNow[j]) / float(rampFrames);
            }
            v->rampLeft = rampFrames;
        }

        float g[SourceVoiceImpl::kGains];
        uint32_t done = 0;
        if (v->rampLeft > 0) {
            // Frame by frame through the ramp; the ramp's time passes whether or not
            // the voice produced frames.
            const uint32_t ramped = std::min(v->rampLeft, frames);
            for (uint32_t i = 0; i < ramped; ++i) {
                const bool last = i + 1 == v->rampLeft;
                for (uint32_t j = 0; j < gains; ++j) {
                    v->gainNow[j] = last ? v->gainTarget[j] : v->gainNow[j] + v->gainStep[j];
                    g[j] = GainToBus(v->gainNow[j]);
                }
                if (i < n) AddToBus(mix + size_t(i) * och, och, voiceOut + size_t(i) * sch, sch, g, 1);
            }
            v->rampLeft -= ramped;
            done = std::min(ramped, n);
        }
        if (done < n) {
            for (uint32_t j = 0; j < gains; ++j) g[j] = GainToBus(v->gainNow[j]);
            AddToBus(mix + size_t(done) * och, och, voiceOut + size_t(done) * sch, sch, g, n - done);
        }
    }

    if (out)
        for (size_t i = 0; i < size_t(frames) * och; ++i) out[i] = std::clamp(mix[i], -1.0f, 1.0f);
    framesRendered += frames;
}

}  // namespace audio::detail
