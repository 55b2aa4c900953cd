// Fuzz target: arbitrary bytes read as the property list of a vector envelope and of a
// colour envelope (key times, key flags, loops, constant, keys). A list that reads must
// write back a list that reads back to the same bytes; whatever was read, playback with
// steps of every size, loop breaks and re-activations, and evaluation stay in bounds.
// Seeds are lists the engine's own writer makes.
#include <cstdint>
#include <vector>

#include "core/BoundedReader.h"
#include "scene/envelopes/Envelope.h"

namespace {

template <class T>
std::vector<uint8_t> Write(const TEnvelope<T>& e) {
    std::vector<uint8_t> out(e.SolidSerialize(nullptr, 0));
    e.SolidSerialize(out.data(), 0);
    return out;
}

template <class T>
void Play(const TEnvelope<T>& e, const uint8_t* data, size_t size) {
    const float steps[] = {0.0f, 0.001f, 1.0f / 1024.0f, 0.1f, 0.75f, 3.0f, 1000.0f, 3.0e9f, -1.0f};
    EnvelopeState st;
    T value{};
    for (size_t i = 0; i < 48; ++i) {
        const uint8_t b = size ? data[i % size] : uint8_t(i);
        if (b % 11 == 0) {
            e.BreakLoop(st, b & 0x40 ? nullptr : e.loops.Count() ? e.loops[b % e.loops.Count()].name.Raw() : "x");
        } else if (b % 13 == 0) {
            e.ActivateLoop(st, b & 0x40 ? nullptr : e.loops.Count() ? e.loops[b % e.loops.Count()].name.Raw() : "x");
        } else {
            e.Advance(st, steps[b % (sizeof steps / sizeof steps[0])]);
        }
        e.Evaluate(st, value);
        for (uint32_t k = 0; k < 3; ++k) e.Interpolate(k + b % 5, st.time, value);
    }
}

template <class T>
void ReadAndPlay(const uint8_t* data, size_t size) {
    TEnvelope<T> e(uint8_t(size % 3));
    BoundedReader in(data, size);
    e.SolidDeserialize(in, 0);
    if (!in.Failed()) {
        const std::vector<uint8_t> out = Write(e);
        TEnvelope<T> back;
        BoundedReader again(out.data(), out.size());
        back.SolidDeserialize(again, 0);
        // Bytes, not PropertiesEqual: a NaN read from the input never equals itself.
        if (again.Failed() || Write(back) != out) __builtin_trap();
    }
    Play(e, data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAndPlay<Vector>(data, size);
    ReadAndPlay<HDRColor>(data, size);
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    TEnvelope<Vector> v(ENVELOPE_COMBINE_ADD);
    v.interpolation = ENVELOPE_INTERPOLATION_CUBIC_BEZIER;
    const uint32_t times[] = {0, 256, 768, 1024, 1500, 2048, 4096};
    for (uint32_t i = 0; i < 7; ++i) {
        v.keyTimes.Add(times[i]);
        v.keyFlags.Add(uint8_t(i));
        v.keys.Add(Vector(float(i), float(i % 2), -1.0f, 0.5f));
    }
    EnvelopeLoop loop;
    loop.start = 1024, loop.end = 2048, loop.name = "hold";
    v.loops.Add(loop);
    loop.start = 3000, loop.end = 3000, loop.name = "flat";
    v.loops.Add(loop);
    std::vector<uint8_t> seed = Write(v);
    add(seed.data(), seed.size());

    TEnvelope<HDRColor> c;
    for (uint32_t i = 0; i < 4; ++i) {
        c.keyTimes.Add(times[i]);
        c.keys.Add(HDRColor(uint8_t(60 * i), 255, uint8_t(255 - 60 * i), 128, 1.0f + float(i)));
    }
    c.loops.Add(loop);
    seed = Write(c);
    add(seed.data(), seed.size());
}
