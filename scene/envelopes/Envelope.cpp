// Envelopes: registration, playback and evaluation (see scene/envelopes/Envelope.h).
#include "scene/envelopes/Envelope.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/math/MathHelpers.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"

namespace {

RTTIClass* gLoopClass = nullptr;
RTTIClass* gEnvelopeClass = nullptr;
RTTIClass* gVectorEnvelopeClass = nullptr;
RTTIClass* gColorEnvelopeClass = nullptr;

const char kInterpolationNames[] = "None\0Linear\0CubicBezier\0";

uint32_t LowestUnbroken(uint32_t mask) {
    uint32_t i = 0;
    while (i < kEnvelopeMaxLoops && (mask >> i & 1u)) ++i;
    return i;
}

float Seconds(uint32_t keyTime) { return static_cast<float>(keyTime) / kEnvelopeKeyTimesPerSecond; }

// The value operations of the two key types.
void Scale(const Vector& k, float w, Vector& out) { out = k * w; }
void AddScaled(const Vector& k, float w, Vector& out) { out = out + k * w; }
void Scale(const HDRColor& k, float w, HDRColor& out) { out.SetScaled(k, w); }
void AddScaled(const HDRColor& k, float w, HDRColor& out) { out.AddScaled(k, w); }
void Lerp(const Vector& a, const Vector& b, float u, Vector& out) { out = a * (1.0f - u) + b * u; }
void Lerp(const HDRColor& a, const HDRColor& b, float u, HDRColor& out) { out.Lerp(a, b, u); }
void Multiply(Vector& v, const Vector& c) { v = v * c; }
void Multiply(HDRColor& v, const HDRColor& c) { v.Modulate(c); }
void Add(Vector& v, const Vector& c) { v = v + c; }
void Add(HDRColor& v, const HDRColor& c) { v.Add(c); }

template <class T>
const RTTIClass* RegisterTyped(RTTIClass*& slot, const char* name) {
    if (slot) return slot;
    Envelope::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(slot, name, "Envelope",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new TEnvelope<T>(); });
    using E = TEnvelope<T>;
    AddDirect<T>(c, "Constant value", RTTI_OFFSETOF(E, constantValue));
    c->AddProperty(new RTTIDynarrayProperty<Dynarray<T>>("Keys", RTTI_OFFSETOF(E, keys)));
    return c;
}

}  // namespace

uint32_t EnvelopeKeyTime(float seconds) {
    const float units = seconds * kEnvelopeKeyTimesPerSecond;
    if (!(units > 0.0f)) return 0;
    if (units >= 4294967296.0f) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(units);
}

// ---------------------------------------------------------------------------------
// Classes

const RTTIClass* EnvelopeLoop::RegisterClass() {
    if (gLoopClass) return gLoopClass;
    RTTIClass* c = CreateRegisteredClass(gLoopClass, "EnvelopeLoop", kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "Start", offsetof(EnvelopeLoop, start));
    AddDirect<uint32_t>(c, "End", offsetof(EnvelopeLoop, end));
    AddDirect<NameString>(c, "Name", offsetof(EnvelopeLoop, name));
    return c;
}

const RTTIClass* Envelope::RegisterClass() {
    if (gEnvelopeClass) return gEnvelopeClass;
    const RTTIClass* loop = EnvelopeLoop::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gEnvelopeClass, "Envelope", kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "Interpolation type", RTTI_OFFSETOF(Envelope, interpolation), kPropertyFlagEnum,
                        kInterpolationNames);
    AddDirect<bool>(c, "Envelope enabled", RTTI_OFFSETOF(Envelope, enabled));
    c->AddProperty(new RTTIDynarrayProperty<Dynarray<uint32_t>>("KeyTimes", RTTI_OFFSETOF(Envelope, keyTimes)));
    c->AddProperty(new RTTIDynarrayProperty<Dynarray<uint8_t>>("KeyFlags", RTTI_OFFSETOF(Envelope, keyFlags)));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<EnvelopeLoop>>(
        "Loops", RTTI_OFFSETOF(Envelope, loops), loop));
    return c;
}

template <>
const RTTIClass* TEnvelope<Vector>::RegisterClass() {
    return RegisterTyped<Vector>(gVectorEnvelopeClass, "TEnvelopeVector");
}

template <>
const RTTIClass* TEnvelope<HDRColor>::RegisterClass() {
    return RegisterTyped<HDRColor>(gColorEnvelopeClass, "TEnvelopeHDRColor");
}

// ---------------------------------------------------------------------------------
// State

void EnvelopeState::Reset() {
    time = 0.0f;
    keyIndex = 0;
    currentLoop = LowestUnbroken(brokenLoops);
}

void EnvelopeState::BreakLoopIndex(uint32_t i) {
    brokenLoops |= 1u << (i % kEnvelopeMaxLoops);
    while (currentLoop < kEnvelopeMaxLoops && (brokenLoops >> currentLoop & 1u)) ++currentLoop;
}

// ---------------------------------------------------------------------------------
// Envelope

Envelope::Envelope(uint8_t mode) : combineMode(mode) {}

Envelope::Envelope(const Envelope& other)
    : RTTIPolyBaseClass(other),
      keyTimes(other.keyTimes),
      keyFlags(other.keyFlags),
      loops(other.loops),
      interpolation(other.interpolation),
      combineMode(other.combineMode),
      enabled(other.enabled) {}

Envelope::~Envelope() = default;

void Envelope::Assign(const Envelope& other) {
    if (&other == this) return;
    interpolation = other.interpolation;
    combineMode = other.combineMode;
    enabled = other.enabled;
    keyTimes = other.keyTimes;
    keyFlags = other.keyFlags;
    loops = other.loops;
}

uint32_t Envelope::PlayedKeyCount() const { return std::min(keyTimes.Count(), ValueCount()); }

uint32_t Envelope::PlayedInterpolation() const {
    return interpolation <= ENVELOPE_INTERPOLATION_CUBIC_BEZIER ? interpolation : ENVELOPE_INTERPOLATION_NONE;
}

uint32_t Envelope::PlayedLoopCount() const { return std::min(loops.Count(), kEnvelopeMaxLoops); }

bool Envelope::HasUnplayableData() const {
    if (interpolation > ENVELOPE_INTERPOLATION_CUBIC_BEZIER || keyTimes.Count() != ValueCount() ||
        loops.Count() > kEnvelopeMaxLoops)
        return true;
    for (const EnvelopeLoop& l : loops)
        if (!l.IsValid()) return true;
    return false;
}

void Envelope::OnLoaded(uint32_t options) {
    RTTIPolyBaseClass::OnLoaded(options);
    if (!HasUnplayableData()) return;
    uint32_t empty = 0;
    for (const EnvelopeLoop& l : loops) empty += l.IsValid() ? 0 : 1;
    gLog.Warning(LogCategory::Resources,
                 "Envelope: %u key times for %u keys, %u loops (%u ending at or before their start), "
                 "interpolation type %u; playing %u keys, the first %u loops that can hold, interpolation %s",
                 keyTimes.Count(), ValueCount(), loops.Count(), empty, interpolation, PlayedKeyCount(),
                 PlayedLoopCount(), interpolation > ENVELOPE_INTERPOLATION_CUBIC_BEZIER ? "None" : "as stored");
}

bool Envelope::Advance(EnvelopeState& state, float dt) const {
    if (dt > 0.0f) state.time += dt;
    uint32_t kt = EnvelopeKeyTime(state.time);
    const uint32_t n = PlayedKeyCount();
    bool finished = n == 0 || keyTimes[n - 1] < kt;

    // A loop that cannot hold the playback (End not after Start) is never current: the
    // playback moves past it as if it were broken, and on past the broken ones after it.
    const uint32_t loopCount = PlayedLoopCount();
    uint32_t c = state.currentLoop;
    while (c < loopCount && !loops[c].IsValid()) {
        ++c;
        while (c < kEnvelopeMaxLoops && (state.brokenLoops >> c & 1u)) ++c;
    }
    state.currentLoop = c;

    if (n > 0 && c < loopCount) {
        const EnvelopeLoop& loop = loops[c];
        finished = false;
        if (loop.end <= kt) {
            // Wrap back into [Start, End); the fraction below one key-time unit is dropped.
            kt = loop.start + (kt - loop.start) % (loop.end - loop.start);
            state.time = Seconds(kt);
            uint32_t previous = 0, next = 0;
            const uint32_t where = FindKeyInterval(kt, previous, next);
            state.keyIndex = where == 1 || where == 3 ? previous : 0;
            return false;
        }
    }
    while (state.keyIndex + 1 < n && keyTimes[state.keyIndex + 1] < kt) ++state.keyIndex;
    return finished;
}

uint32_t Envelope::FindKeyInterval(uint32_t kt, uint32_t& previous, uint32_t& next) const {
    const uint32_t n = PlayedKeyCount();
    if (n == 0) return 0;
    if (kt <= keyTimes[0]) {
        next = 0;
        return 2;
    }
    if (kt >= keyTimes[n - 1]) {
        previous = n - 1;
        return 1;
    }
    const uint32_t lo = static_cast<uint32_t>(std::lower_bound(keyTimes.begin(), keyTimes.begin() + (n - 1), kt) -
                                              keyTimes.begin());
    // Key times that do not increase can leave lo at 0; the interval then opens at 0.
    previous = lo > 0 ? lo - 1 : 0;
    next = previous + 1;
    return 3;
}

int32_t Envelope::FindLoopByName(const char* name) const {
    if (!name || !*name) return -1;
    for (uint32_t i = 0; i < loops.Count(); ++i)
        if (std::strcmp(loops[i].name.CStr(), name) == 0) return static_cast<int32_t>(i);
    return -1;
}

void Envelope::BreakLoop(EnvelopeState& state, const char* name) const {
    if (!name) {
        state.brokenLoops = 0xFFFFFFFFu;
        state.currentLoop = kEnvelopeNoLoop;
        return;
    }
    // Loops from index 32 on take no part: their names break nothing.
    const int32_t i = FindLoopByName(name);
    if (i >= 0 && static_cast<uint32_t>(i) < kEnvelopeMaxLoops) state.BreakLoopIndex(static_cast<uint32_t>(i));
}

void Envelope::ActivateLoop(EnvelopeState& state, const char* name) const {
    if (!name) {
        state.brokenLoops = 0;
    } else {
        const int32_t i = FindLoopByName(name);
        if (i >= 0 && static_cast<uint32_t>(i) < kEnvelopeMaxLoops) state.brokenLoops &= ~(1u << i);
    }
    state.Reset();
}

// ---------------------------------------------------------------------------------
// Typed envelopes

template <class T>
void TEnvelope<T>::Assign(const Envelope& other) {
    if (&other == this) return;
    Envelope::Assign(other);
    if (const auto* o = dynamic_cast<const TEnvelope*>(&other)) {
        constantValue = o->constantValue;
        keys = o->keys;
    }
}

template <class T>
void TEnvelope<T>::Evaluate(const EnvelopeState& state, T& value) const {
    const uint32_t m = PlayedKeyCount();
    if (m == 0 || !enabled) {
        value = constantValue;
        return;
    }
    const uint32_t kt = EnvelopeKeyTime(state.time);
    if (kt <= keyTimes[0]) {
        value = keys[0];
    } else if (kt >= keyTimes[m - 1]) {
        value = keys[m - 1];
    } else {
        // m >= 2 here; a state played on another envelope may carry a larger index.
        Interpolate(std::min(state.keyIndex, m - 2), state.time, value);
    }
    if (combineMode == ENVELOPE_COMBINE_MULTIPLY) Multiply(value, constantValue);
    else if (combineMode == ENVELOPE_COMBINE_ADD) Add(value, constantValue);
}

template <class T>
void TEnvelope<T>::Interpolate(uint32_t k, float t, T& value) const {
    const uint32_t m = PlayedKeyCount();
    if (k + 1 >= m) {
        if (m) value = keys[m - 1];
        return;
    }
    const auto linear = [&] {
        const float t0 = Seconds(keyTimes[k]), t1 = Seconds(keyTimes[k + 1]);
        // The blend stops at the key: in the last 1/1024 s of an interval the time may lie
        // past its end while the index still names it.
        if (t1 > t0) Lerp(keys[k], keys[k + 1], std::min((t - t0) / (t1 - t0), 1.0f), value);
        else value = keys[k + 1];  // an empty interval
    };
    switch (PlayedInterpolation()) {
        case ENVELOPE_INTERPOLATION_LINEAR:
            linear();
            return;
        case ENVELOPE_INTERPOLATION_CUBIC_BEZIER: {
            // Segments of four keys sharing their end keys: 0-3, 3-6, ...; one without its
            // fourth key, or whose times do not increase, plays linearly.
            const uint32_t g = k - k % 3;
            if (g + 3 >= m || keyTimes[g + 3] <= keyTimes[g]) {
                linear();
                return;
            }
            const float x0 = Seconds(keyTimes[g]), x1 = Seconds(keyTimes[g + 1]);
            const float x2 = Seconds(keyTimes[g + 2]), x3 = Seconds(keyTimes[g + 3]);
            const float s = BezierSolveT(x0, x1, x2, x3, std::max(x0, std::min(t, x3)));
            const float w = 1.0f - s;
            T r;
            Scale(keys[g], w * w * w, r);
            AddScaled(keys[g + 1], 3.0f * s * w * w, r);
            AddScaled(keys[g + 2], 3.0f * s * s * w, r);
            AddScaled(keys[g + 3], s * s * s, r);
            value = r;
            return;
        }
        default:
            value = keys[k];
            return;
    }
}

template class TEnvelope<Vector>;
template class TEnvelope<HDRColor>;
