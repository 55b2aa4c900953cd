// test-sources: ../../engine/NumpyReference.cpp
// Envelopes: playback and evaluation against the float32 reference script on random
// envelopes, the documented cases, the data the player works around, property lists
// written by the independent tool, copies, and agreement with the scene parameters'
// colour sampler.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/NumpyReference.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/envelopes/Envelope.h"

namespace {

using VectorEnvelope = TEnvelope<Vector>;
using ColorEnvelope = TEnvelope<HDRColor>;

// --- reference protocol (see envelope_ref.py) -------------------------------------------

std::string Words(const Vector& v) {
    return FloatBits(v.x) + " " + FloatBits(v.y) + " " + FloatBits(v.z) + " " + FloatBits(v.w);
}
std::string Words(const HDRColor& c) {
    char text[32];
    std::snprintf(text, sizeof text, "%d %d %d %d ", c.c[0], c.c[1], c.c[2], c.c[3]);
    return text + FloatBits(c.intensity);
}
const char* Kind(const Vector*) { return "V"; }
const char* Kind(const HDRColor*) { return "C"; }

template <class T>
std::string Describe(const TEnvelope<T>& e) {
    std::ostringstream s;
    s << "E " << Kind(static_cast<const T*>(nullptr)) << " " << e.interpolation << " " << int(e.combineMode) << " "
      << (e.enabled ? 1 : 0) << " " << e.keyTimes.Count();
    for (uint32_t t : e.keyTimes) s << " " << t;
    s << " " << e.keys.Count();
    for (const T& k : e.keys) s << " " << Words(k);
    s << " " << e.loops.Count();
    for (const EnvelopeLoop& l : e.loops) s << " " << l.start << " " << l.end << " " << (l.name.IsEmpty() ? "-" : l.name.CStr());
    s << " " << Words(e.constantValue) << "\n";
    return s.str();
}

template <class T>
std::string StateLine(const TEnvelope<T>& e, const EnvelopeState& st, const char* finished) {
    T v{};
    e.Evaluate(st, v);
    char head[80];
    std::snprintf(head, sizeof head, " %u %u %08x %s ", st.keyIndex, st.currentLoop, st.brokenLoops, finished);
    return FloatBits(st.time) + head + Words(v);
}

int32_t Ulps(float a, float b) {
    auto ordered = [](float f) {
        const int32_t i = std::bit_cast<int32_t>(f);
        return i < 0 ? int32_t(0x80000000u - uint32_t(i)) : i;
    };
    const int64_t d = int64_t(ordered(a)) - int64_t(ordered(b));
    return int32_t(d < 0 ? -d : d);
}

// Colours byte for byte; vectors: the state words exactly, the four floats within 4 ulp.
void ExpectSameLine(const std::string& got, const std::string& want, bool color, const std::string& what) {
    if (color || got == want) {
        EXPECT_EQ(got, want) << what;
        return;
    }
    std::istringstream g(got), w(want);
    std::vector<std::string> gw, ww;
    for (std::string x; g >> x;) gw.push_back(x);
    for (std::string x; w >> x;) ww.push_back(x);
    ASSERT_EQ(gw.size(), ww.size()) << what;
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(gw[i], ww[i]) << what << " word " << i;
    for (size_t i = 5; i < gw.size(); ++i)
        EXPECT_LE(Ulps(BitsToFloat(gw[i]), BitsToFloat(ww[i])), 4) << what << " " << want;
}

// --- random envelopes --------------------------------------------------------------------

float RandomFloat(std::mt19937& r, float lo, float hi) {
    return lo + (hi - lo) * float(r() % 100000) / 100000.0f;
}
void RandomValue(std::mt19937& r, Vector& v) {
    v = Vector(RandomFloat(r, -10, 10), RandomFloat(r, -10, 10), RandomFloat(r, -10, 10), RandomFloat(r, -10, 10));
}
void RandomValue(std::mt19937& r, HDRColor& c) {
    c = HDRColor(uint8_t(r()), uint8_t(r()), uint8_t(r()), uint8_t(r()), RandomFloat(r, 0.5f, 3.0f));
}

const char* const kLoopNames[] = {"hold", "spin", "", "hold", "end"};

template <class T>
void Randomize(std::mt19937& r, TEnvelope<T>& e) {
    e.interpolation = r() % 20 == 0 ? 3 + r() % 5 : r() % 3;
    e.combineMode = uint8_t(r() % 3);
    e.enabled = r() % 8 != 0;
    const uint32_t n = r() % 16 == 0 ? 0 : 1 + r() % 12;
    uint32_t t = r() % 300;
    for (uint32_t i = 0; i < n; ++i) {
        e.keyTimes.Add(t);
        const uint32_t step = r() % 10;
        t += step == 0 ? 0 : step == 1 ? 1 : r() % 400;
    }
    uint32_t values = n;
    if (r() % 10 == 0) values = r() % 2 ? n + 1 : (n ? n - 1 : 0);
    for (uint32_t i = 0; i < values; ++i) {
        T v;
        RandomValue(r, v);
        e.keys.Add(v);
    }
    for (uint32_t i = 0; i < n; ++i) e.keyFlags.Add(uint8_t(r()));
    const uint32_t loopCount = r() % 4 == 0 ? 0 : r() % 4;
    for (uint32_t i = 0; i < loopCount; ++i) {
        EnvelopeLoop l;
        l.start = r() % (t + 100);
        l.end = r() % 7 == 0 ? l.start - r() % 2 * (l.start ? 1 : 0) : l.start + 1 + r() % 600;
        l.name = kLoopNames[r() % 5];
        e.loops.Add(l);
    }
    RandomValue(r, e.constantValue);
}

template <class T>
void PlayAgainstReference(uint32_t seed) {
    std::mt19937 r(seed);
    std::string input;
    std::vector<std::string> lines;
    for (int i = 0; i < 150; ++i) {
        TEnvelope<T> e;
        Randomize(r, e);
        input += Describe(e);
        EnvelopeState st;
        for (int step = 0; step < 60; ++step) {
            const uint32_t pick = r() % 40;
            const char* names[] = {"hold", "spin", "end", "none", nullptr};
            if (pick == 0 || pick == 1) {
                const char* name = names[r() % 5];
                input += std::string(pick == 0 ? "B " : "R ") + (name ? name : "*") + "\n";
                if (pick == 0) e.BreakLoop(st, name);
                else e.ActivateLoop(st, name);
                lines.push_back(StateLine(e, st, "-"));
                continue;
            }
            float dt;
            if (pick < 20) dt = RandomFloat(r, 0.0f, 0.05f);
            else if (pick < 32) dt = float(r() % 100) / 1024.0f;
            else if (pick < 35) dt = 0.0f;
            else dt = RandomFloat(r, 0.0f, 0.6f);
            input += "A " + FloatBits(dt) + "\n";
            const bool finished = e.Advance(st, dt);
            lines.push_back(StateLine(e, st, finished ? "1" : "0"));
        }
    }
    const std::vector<std::string> want = RunNumpyReference("../scene/envelopes/envelope_ref.py", input);
    ASSERT_EQ(want.size(), lines.size());
    const bool color = std::is_same_v<T, HDRColor>;
    for (size_t i = 0; i < lines.size(); ++i) {
        ExpectSameLine(lines[i], want[i], color, "line " + std::to_string(i));
        if (testing::Test::HasFailure()) return;
    }
}

TEST(EnvelopeTest, VectorPlaybackMatchesTheReference) { PlayAgainstReference<Vector>(4148); }
TEST(EnvelopeTest, ColorPlaybackMatchesTheReference) { PlayAgainstReference<HDRColor>(4149); }

// --- documented cases --------------------------------------------------------------------

VectorEnvelope Curve(std::vector<uint32_t> times, std::vector<float> xs, uint32_t interpolation = 1,
                     uint8_t mode = ENVELOPE_COMBINE_KEYS_ONLY) {
    VectorEnvelope e(mode);
    e.interpolation = interpolation;
    for (uint32_t t : times) e.keyTimes.Add(t);
    for (float x : xs) e.keys.Add(Vector(x, 0, 0, 0));
    return e;
}
void AddLoop(Envelope& e, uint32_t start, uint32_t end, const char* name) {
    EnvelopeLoop l;
    l.start = start, l.end = end, l.name = name;
    e.loops.Add(l);
}
float ValueAt(const VectorEnvelope& e, const EnvelopeState& st) {
    Vector v;
    e.Evaluate(st, v);
    return v.x;
}

TEST(EnvelopeTest, KeysAndTheirEnds) {
    // A single key holds everywhere.
    VectorEnvelope single = Curve({500}, {7});
    EnvelopeState st;
    for (float dt : {0.0f, 0.3f, 0.19f, 2.0f}) {
        single.Advance(st, dt);
        EXPECT_EQ(ValueAt(single, st), 7.0f) << st.time;
    }

    // A time exactly on an inner key time leaves the index one before it: the key's value
    // at the key time and for the rest of that 1/1024 s (the blend never passes the key).
    VectorEnvelope e = Curve({0, 1024, 2048, 3072}, {0, 10, 0, 10});
    st = EnvelopeState();
    EXPECT_FALSE(e.Advance(st, 1.0f));
    EXPECT_EQ(st.keyIndex, 0u);
    EXPECT_EQ(ValueAt(e, st), 10.0f);
    e.Advance(st, 0.5f / 1024.0f);
    EXPECT_EQ(st.keyIndex, 0u);
    EXPECT_EQ(ValueAt(e, st), 10.0f);
    // Over an interval of one unit an overshoot would nearly double the step.
    VectorEnvelope steep = Curve({0, 1, 2}, {0, 10, 10});
    EnvelopeState steepState;
    steep.Advance(steepState, 1.9f / 1024.0f);
    EXPECT_EQ(steepState.keyIndex, 0u);
    EXPECT_EQ(ValueAt(steep, steepState), 10.0f);
    e.Advance(st, 0.5f);
    EXPECT_EQ(st.keyIndex, 1u);
    EXPECT_NEAR(ValueAt(e, st), 5.0f, 0.01f);

    // Exactly at the last key time playback goes on; one unit later it is over, for good.
    st = EnvelopeState();
    EXPECT_FALSE(e.Advance(st, 3.0f));
    EXPECT_TRUE(e.Advance(st, 1.0f / 1024.0f));
    EXPECT_TRUE(e.Advance(st, 0.0f));
    EXPECT_EQ(ValueAt(e, st), 10.0f);

    // Without keys: the constant, finished from the first step whatever the loops.
    VectorEnvelope empty;
    empty.constantValue = Vector(3, 0, 0, 0);
    AddLoop(empty, 0, 100, "hold");
    st = EnvelopeState();
    EXPECT_TRUE(empty.Advance(st, 0.01f));
    EXPECT_EQ(ValueAt(empty, st), 3.0f);

    // The cubic Bezier over keys at 0, 256, 768, 1024: 0.5 at 0.5 s.
    VectorEnvelope bezier = Curve({0, 256, 768, 1024}, {0, 0, 1, 1}, ENVELOPE_INTERPOLATION_CUBIC_BEZIER);
    st = EnvelopeState();
    bezier.Advance(st, 0.5f);
    EXPECT_EQ(ValueAt(bezier, st), 0.5f);
}

TEST(EnvelopeTest, CombineModes) {
    struct Case {
        uint8_t mode;
        bool enabled;
        float want;
    };
    // Key 2, constant 5.
    const Case cases[] = {{0, true, 2}, {1, true, 10}, {2, true, 7}, {0, false, 5}, {1, false, 5}, {2, false, 5}};
    for (const Case& c : cases) {
        VectorEnvelope e = Curve({0}, {2}, 1, c.mode);
        e.enabled = c.enabled;
        e.constantValue = Vector(5, 5, 5, 5);
        EnvelopeState st;
        e.Advance(st, 0.1f);
        EXPECT_EQ(ValueAt(e, st), c.want) << int(c.mode) << " " << c.enabled;
    }
    // Colours: channel products over 255 and summed intensities with saturation.
    ColorEnvelope m(ENVELOPE_COMBINE_MULTIPLY), a(ENVELOPE_COMBINE_ADD);
    for (ColorEnvelope* e : {&m, &a}) {
        e->keyTimes.Add(0);
        e->keys.Add(HDRColor(200, 100, 0, 255, 2.0f));
        e->constantValue = HDRColor(128, 200, 50, 255, 1.5f);
    }
    HDRColor v;
    m.Evaluate(EnvelopeState(), v);
    EXPECT_EQ(v, HDRColor(100, 78, 0, 255, 3.0f));
    a.Evaluate(EnvelopeState(), v);
    EXPECT_EQ(v, HDRColor(255, 255, 50, 255, 3.5f));
}

// Colour curves by the channel rules, worked by hand: the linear blend weighs channels
// by trunc(u x 255 + 0.5) / 255 and intensities by u; the Bezier scales each key by its
// weight rounded to 1/255 and adds with saturation.
TEST(EnvelopeTest, ColorCurvesByHand) {
    struct Case {
        uint32_t interpolation;
        float time;
        HDRColor want;
    };
    const Case cases[] = {
        {ENVELOPE_INTERPOLATION_LINEAR, 0.5f, HDRColor(128, 0, 96, 255, 2.0f)},      // key 0 to 1, w 128
        {ENVELOPE_INTERPOLATION_LINEAR, 0.1f, HDRColor(26, 0, 19, 255, 1.2f)},       // w 26
        // s 0.5: weights 32, 96, 96, 32; blue 192 x 96 / 255 + 32, alpha saturates
        {ENVELOPE_INTERPOLATION_CUBIC_BEZIER, 0.5f, HDRColor(128, 96, 104, 255, 1.75f)},
        {ENVELOPE_INTERPOLATION_NONE, 0.9f, HDRColor(0, 255, 0, 255, 1.0f)},  // key time 921: key 2
    };
    for (const Case& c : cases) {
        ColorEnvelope e;
        e.interpolation = c.interpolation;
        for (uint32_t t : {0u, 256u, 768u, 1024u}) e.keyTimes.Add(t);
        e.keys.Add(HDRColor(0, 0, 0, 255, 1.0f));
        e.keys.Add(HDRColor(255, 0, 192, 255, 3.0f));
        e.keys.Add(HDRColor(0, 255, 0, 255, 1.0f));
        e.keys.Add(HDRColor(255, 0, 255, 255, 1.0f));
        if (c.interpolation == ENVELOPE_INTERPOLATION_LINEAR) {
            e.keyTimes[1] = 1024, e.keyTimes[2] = 2048, e.keyTimes[3] = 3072;
        }
        EnvelopeState st;
        e.Advance(st, c.time);
        HDRColor v;
        e.Evaluate(st, v);
        EXPECT_EQ(Words(v), Words(c.want)) << c.interpolation << " at " << c.time;
    }
}

TEST(EnvelopeTest, Loops) {
    VectorEnvelope e = Curve({0, 1024, 2048, 4096}, {0, 1, 2, 4});
    AddLoop(e, 1024, 2048, "hold");
    AddLoop(e, 3072, 4000, "late");
    EnvelopeState st;

    // Key time 2150 wraps to 1024 + 1126 mod 1024; the fraction below a unit is dropped.
    EXPECT_FALSE(e.Advance(st, 2.1f));
    EXPECT_EQ(st.time, 1126.0f / 1024.0f);
    EXPECT_EQ(st.keyIndex, 1u);
    EXPECT_EQ(st.currentLoop, 0u);

    // Breaking leaves time and index; the playback runs past End into the next loop.
    const EnvelopeState before = st;
    e.BreakLoop(st, "hold");
    EXPECT_EQ(st.time, before.time);
    EXPECT_EQ(st.keyIndex, before.keyIndex);
    EXPECT_EQ(st.currentLoop, 1u);
    EXPECT_FALSE(e.Advance(st, 1.0f));
    EXPECT_EQ(EnvelopeKeyTime(st.time), 2150u);
    EXPECT_FALSE(e.Advance(st, 2.0f));  // key time 4198 wraps into "late"
    EXPECT_EQ(EnvelopeKeyTime(st.time), 3072u + (4198u - 3072u) % 928u);

    // An unknown name breaks nothing; a null name breaks every loop and playback ends.
    e.BreakLoop(st, "nothing");
    EXPECT_EQ(st.brokenLoops, 1u);
    e.BreakLoop(st, nullptr);
    EXPECT_EQ(st.brokenLoops, 0xFFFFFFFFu);
    EXPECT_EQ(st.currentLoop, kEnvelopeNoLoop);
    EXPECT_TRUE(e.Advance(st, 5.0f));

    // Activating restarts at 0 in every case; a null name re-activates every loop.
    e.ActivateLoop(st, "nothing");
    EXPECT_EQ(st.time, 0.0f);
    EXPECT_EQ(st.brokenLoops, 0xFFFFFFFFu);
    EXPECT_EQ(st.currentLoop, kEnvelopeNoLoop);
    e.ActivateLoop(st, "late");
    EXPECT_EQ(st.brokenLoops, 0xFFFFFFFDu);
    EXPECT_EQ(st.currentLoop, 1u);
    e.ActivateLoop(st, nullptr);
    EXPECT_EQ(st.brokenLoops, 0u);
    EXPECT_EQ(st.currentLoop, 0u);
    EXPECT_EQ(st.keyIndex, 0u);
    EXPECT_FALSE(e.Advance(st, 2.1f));
    EXPECT_EQ(st.currentLoop, 0u);

    // Reset keeps the mask and starts at the lowest unbroken loop.
    st.brokenLoops = 0b1011;
    st.Reset();
    EXPECT_EQ(st.currentLoop, 2u);
    EXPECT_EQ(st.brokenLoops, 0b1011u);
}

TEST(EnvelopeTest, FindKeyInterval) {
    VectorEnvelope e = Curve({10, 20, 20, 40}, {0, 1, 2, 3});
    struct Case {
        uint32_t kt, result, previous, next;
    };
    const Case cases[] = {{0, 2, 99, 0}, {10, 2, 99, 0}, {11, 3, 0, 1}, {20, 3, 0, 1},
                          {21, 3, 2, 3}, {39, 3, 2, 3},  {40, 1, 3, 99}, {1000, 1, 3, 99}};
    for (const Case& c : cases) {
        uint32_t previous = 99, next = 99;
        EXPECT_EQ(e.FindKeyInterval(c.kt, previous, next), c.result) << c.kt;
        EXPECT_EQ(previous, c.previous) << c.kt;
        EXPECT_EQ(next, c.next) << c.kt;
    }
    uint32_t previous = 99, next = 99;
    EXPECT_EQ(VectorEnvelope().FindKeyInterval(5, previous, next), 0u);
    EXPECT_EQ(previous + next, 198u);
}

// --- data the player works around ------------------------------------------------------

TEST(EnvelopeTest, DataThePlayerWorksAround) {
    EnvelopeState st;
    // An interpolation type above 2 plays as a step curve.
    VectorEnvelope step = Curve({0, 1024}, {0, 10}, 7);
    step.Advance(st, 0.75f);
    EXPECT_EQ(ValueAt(step, st), 0.0f);

    // Three key times and two keys play as two keys: the last key from 1024 on.
    VectorEnvelope counts = Curve({0, 1024, 2048}, {0, 10});
    st = EnvelopeState();
    EXPECT_TRUE(counts.Advance(st, 1.5f));
    EXPECT_EQ(ValueAt(counts, st), 10.0f);
    VectorEnvelope fewerTimes = Curve({0, 1024}, {0, 10, 20});
    st = EnvelopeState();
    fewerTimes.Advance(st, 1.5f);
    EXPECT_EQ(ValueAt(fewerTimes, st), 10.0f);

    // A loop ending at or before its start is never current and never wraps: the playback
    // moves on to the next loop that can hold it, or finishes.
    VectorEnvelope broken = Curve({0, 4096}, {0, 4});
    AddLoop(broken, 500, 500, "flat");
    AddLoop(broken, 900, 100, "backwards");
    st = EnvelopeState();
    EXPECT_TRUE(broken.Advance(st, 5.0f));
    EXPECT_EQ(st.currentLoop, 2u);
    AddLoop(broken, 1024, 2048, "hold");
    st = EnvelopeState();
    EXPECT_FALSE(broken.Advance(st, 2.1f));
    EXPECT_EQ(st.currentLoop, 2u);
    EXPECT_EQ(EnvelopeKeyTime(st.time), 1126u);

    // Only loops 0 to 31 take part: the 33rd neither holds nor answers to its name.
    VectorEnvelope many = Curve({0, 4096}, {0, 4});
    for (int i = 0; i < 32; ++i) AddLoop(many, 0, 0, "empty");
    AddLoop(many, 1024, 2048, "far");
    st = EnvelopeState();
    many.BreakLoop(st, "far");
    EXPECT_EQ(st.brokenLoops, 0u);
    EXPECT_TRUE(many.Advance(st, 5.0f));
    EXPECT_EQ(st.currentLoop, 32u);

    // An interval of zero length gives the key that closes it; a Bezier segment without
    // its fourth key, or whose times do not increase, plays linearly.
    Vector v;
    Curve({0, 500, 500, 1000}, {0, 1, 2, 3}).Interpolate(1, 500.0f / 1024.0f, v);
    EXPECT_EQ(v.x, 2.0f);
    const VectorEnvelope short3 = Curve({0, 512, 1024}, {0, 8, 0}, ENVELOPE_INTERPOLATION_CUBIC_BEZIER);
    short3.Interpolate(0, 0.25f, v);
    EXPECT_EQ(v.x, 4.0f);
    const VectorEnvelope backwards = Curve({100, 150, 160, 100}, {0, 8, 0, 3}, ENVELOPE_INTERPOLATION_CUBIC_BEZIER);
    backwards.Interpolate(0, 0.12f, v);
    Vector linear;
    Curve({100, 150, 160, 100}, {0, 8, 0, 3}).Interpolate(0, 0.12f, linear);
    EXPECT_EQ(v.x, linear.x);

    // A state played on another envelope carries a key index past this one's keys.
    st = EnvelopeState();
    st.time = 0.5f;
    st.keyIndex = 40;
    EXPECT_EQ(ValueAt(Curve({0, 1024}, {0, 10}), st), 5.0f);

    // Times that cannot be played move nothing.
    st = EnvelopeState();
    for (float dt : {-1.0f, std::nanf("")}) {
        EXPECT_FALSE(Curve({0, 1024}, {0, 10}).Advance(st, dt));
        EXPECT_EQ(st.time, 0.0f);
    }
}

// --- property lists ------------------------------------------------------------------------

std::vector<uint8_t> WriteWithTool(const std::string& json) { return shelltest::PropList("envelope", json); }

std::vector<uint8_t> Write(const Envelope& e) {
    std::vector<uint8_t> out(e.SolidSerialize(nullptr, 0));
    e.SolidSerialize(out.data(), 0);
    return out;
}

TEST(EnvelopeTest, PropertyListsFromTheTool) {
    const std::vector<uint8_t> vectorBytes = WriteWithTool(
        R"({"kind":"vector","interpolation":2,"enabled":false,"key_times":[0,256,768,1024],"key_flags":[1,0,7,255],)"
        R"("loops":[[100,900,"hold"],[0,50,""]],"constant":[1,2,3,4],)"
        R"("keys":[[0,0,0,0],[1,0,0,0],[0,1,0,0],[0.5,0.25,-1,2]]})");
    VectorEnvelope v;
    BoundedReader in(vectorBytes.data(), vectorBytes.size());
    EXPECT_EQ(v.SolidDeserialize(in, 0), vectorBytes.size());
    ASSERT_FALSE(in.Failed());
    EXPECT_EQ(v.interpolation, 2u);
    EXPECT_FALSE(v.enabled);
    ASSERT_EQ(v.keyTimes.Count(), 4u);
    EXPECT_EQ(v.keyTimes[2], 768u);
    ASSERT_EQ(v.keyFlags.Count(), 4u);
    EXPECT_EQ(v.keyFlags[3], 255u);
    ASSERT_EQ(v.loops.Count(), 2u);
    EXPECT_EQ(v.loops[0].start, 100u);
    EXPECT_EQ(v.loops[0].end, 900u);
    EXPECT_STREQ(v.loops[0].name.CStr(), "hold");
    EXPECT_TRUE(v.loops[1].name.IsEmpty());
    EXPECT_EQ(v.constantValue, Vector(1, 2, 3, 4));
    ASSERT_EQ(v.keys.Count(), 4u);
    EXPECT_EQ(v.keys[3], Vector(0.5f, 0.25f, -1, 2));
    EXPECT_EQ(Write(v), vectorBytes);

    const std::vector<uint8_t> colorBytes = WriteWithTool(
        R"({"kind":"color","interpolation":0,"key_times":[0,2048],"key_flags":[0,0],"loops":[],)"
        R"("constant":[10,20,30,40,2.5],"keys":[[255,0,0,255,1.0],[0,0,255,128,4.0]]})");
    ColorEnvelope c;
    BoundedReader cin(colorBytes.data(), colorBytes.size());
    c.SolidDeserialize(cin, 0);
    ASSERT_FALSE(cin.Failed());
    EXPECT_EQ(c.interpolation, 0u);
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(c.constantValue, HDRColor(10, 20, 30, 40, 2.5f));
    ASSERT_EQ(c.keys.Count(), 2u);
    EXPECT_EQ(c.keys[1], HDRColor(0, 0, 255, 128, 4.0f));
    EXPECT_EQ(Write(c), colorBytes);

    // Every cut of the list fails the reader.
    for (size_t cut = 0; cut < colorBytes.size(); ++cut) {
        ColorEnvelope partial;
        BoundedReader p(colorBytes.data(), cut);
        partial.SolidDeserialize(p, 0);
        EXPECT_TRUE(p.Failed()) << cut;
    }
}

TEST(EnvelopeTest, DataWorkedAroundIsKeptAndWarnedAboutOnce) {
    CaptureLogSink sink;
    sink.Attach();
    const std::vector<uint8_t> bytes = WriteWithTool(
        R"({"kind":"vector","interpolation":9,"key_times":[0,10,20],"key_flags":[],"loops":[[5,5,"flat"]],)"
        R"("keys":[[1,1,1,1]]})");
    VectorEnvelope e;
    BoundedReader in(bytes.data(), bytes.size());
    e.SolidDeserialize(in, 0);
    ASSERT_FALSE(in.Failed());
    EXPECT_EQ(e.interpolation, 9u);
    EXPECT_EQ(Write(e), bytes);
    const std::vector<uint8_t> sound = WriteWithTool(R"({"kind":"vector","key_times":[0],"keys":[[1,1,1,1]]})");
    VectorEnvelope fine;
    BoundedReader in2(sound.data(), sound.size());
    fine.SolidDeserialize(in2, 0);
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].severity, uint8_t(LogSeverity::Warning));
    EXPECT_NE(messages[0].text.find("Envelope"), std::string::npos);
}

TEST(EnvelopeTest, Registration) {
    struct Case {
        const char* name;
        const char* base;
    };
    for (const Case& c : {Case{"EnvelopeLoop", nullptr}, Case{"Envelope", nullptr},
                          Case{"TEnvelopeVector", "Envelope"}, Case{"TEnvelopeHDRColor", "Envelope"}}) {
        const RTTIClass* cls = RTTIClassRegistry::FindClass(c.name);
        ASSERT_NE(cls, nullptr) << c.name;
        EXPECT_STREQ(cls->Base() ? cls->Base()->Name() : nullptr, c.base) << c.name;
    }
}

TEST(EnvelopeTest, CopiesCarryTheCombineMode) {
    VectorEnvelope source = Curve({0, 1024}, {1, 3}, 2, ENVELOPE_COMBINE_ADD);
    AddLoop(source, 0, 512, "hold");
    source.keyFlags.Add(4);
    source.constantValue = Vector(1, 1, 1, 1);

    std::unique_ptr<Envelope> clone(source.Clone());
    auto* copy = dynamic_cast<VectorEnvelope*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->combineMode, ENVELOPE_COMBINE_ADD);
    EXPECT_EQ(Write(*copy), Write(source));

    VectorEnvelope assigned;
    assigned.Assign(source);
    EXPECT_EQ(assigned.combineMode, ENVELOPE_COMBINE_ADD);
    EXPECT_EQ(Write(assigned), Write(source));
    EnvelopeState a, b;
    source.Advance(a, 0.25f);
    assigned.Advance(b, 0.25f);
    EXPECT_EQ(ValueAt(assigned, b), ValueAt(source, a));

    // From the other key type only the shared part is copied.
    ColorEnvelope color(ENVELOPE_COMBINE_MULTIPLY);
    color.keyTimes.Add(77);
    color.keys.Add(HDRColor(1, 2, 3, 4, 1.0f));
    assigned.Assign(color);
    EXPECT_EQ(assigned.combineMode, ENVELOPE_COMBINE_MULTIPLY);
    EXPECT_EQ(assigned.keyTimes.Count(), 1u);
    EXPECT_EQ(assigned.keys.Count(), 2u);
    EXPECT_EQ(assigned.loops.Count(), 0u);
}

// --- the scene parameters' sampler --------------------------------------------------------

// Both samplers on random colour envelopes played with random steps: every value that the
// envelope interpolates (between its first and last key time) has the same bytes, the
// rest of a 1/1024 s that starts exactly on a key time included (both hold the key there).
TEST(EnvelopeTest, AgreesWithTheSceneParametersSampler) {
    std::mt19937 r(3150);
    uint32_t compared = 0;
    for (int i = 0; i < 400; ++i) {
        ColorEnvelope e;
        Randomize(r, e);
        e.combineMode = ENVELOPE_COMBINE_KEYS_ONLY;
        e.enabled = true;
        e.loops.Clear();
        const uint32_t n = std::min(e.keyTimes.Count(), e.keys.Count());
        if (n < 2) continue;
        e.keyTimes.Resize(n);
        e.keys.Resize(n);
        e.interpolation %= 3;
        const ColorEnvelopeView view{e.interpolation, e.keyTimes.data, e.keys.data, n};
        EnvelopeState st;
        for (int step = 0; step < 80; ++step) {
            e.Advance(st, r() % 3 ? RandomFloat(r, 0.0f, 0.03f) : float(r() % 40) / 1024.0f);
            const uint32_t kt = EnvelopeKeyTime(st.time);
            if (kt <= e.keyTimes[0] || kt >= e.keyTimes[n - 1]) continue;
            HDRColor mine, theirs(9, 9, 9, 9, 9.0f);
            e.Evaluate(st, mine);
            SceneParametersWrapper::SampleEnvelope(view, st.keyIndex, st.time, theirs);
            EXPECT_EQ(Words(mine), Words(theirs)) << "envelope " << i << " step " << step << " t " << st.time;
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000u);
}

}  // namespace
