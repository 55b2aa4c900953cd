// test-sanitize: thread address
// test-timeout: 120
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/BaseThread.h"
#include "core/math/Matrix.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Clock.h"

namespace {

// A render thread: a real BaseThread whose command-5 records carry the profiler's
// function-call records, and a drawer that records what the overlay asks for.
class FakeRenderer : public ProfilerDrawer {
public:
    struct Draw {
        uint32_t primitive, first, count;
        Matrix world;
        float newestTop = 0, baseline = 0;  // of the last line drawn
    };
    struct Text {
        std::string text;
        float x, y;
    };
    std::vector<std::string> calls;
    std::vector<Draw> draws;
    std::vector<Text> texts;
    Matrix projection;
    uint32_t cameraWidth = 0;
    int fontReleases = 0;

    BaseThread thread{"Renderer", 0x10000, false, BaseThread::kWaitForever};
    FakeRenderer() { thread.Start(); }
    ~FakeRenderer() override { thread.Stop(); }
    void Sync() { ASSERT_TRUE(thread.Flush()); }

    static void Adapter(BaseThread*, void*, CommandRingBuffer* ring) {
        RenderCallFunction fn = nullptr;
        uint32_t argument = 0;
        if (ring->ReadValue(fn) && ring->ReadValue(argument) && fn) fn(argument, *ring);
    }
    CommandRingBuffer* BeginRenderCall(RenderCallFunction fn, uint32_t argument, uint32_t payloadBytes) override {
        BaseThread::CallFunction adapter = &Adapter;
        void* none = nullptr;
        if (!thread.BeginCommand(BaseThread::CMD_CALL, sizeof adapter + sizeof none + sizeof fn + 4 + payloadBytes))
            return nullptr;
        CommandRingBuffer& ring = thread.Ring();
        ring.WriteValue(adapter), ring.WriteValue(none), ring.WriteValue(fn), ring.WriteValue(argument);
        return &ring;
    }
    void EndRenderCall() override { thread.EndCommand(); }
    void SetOverlayCamera(uint32_t w, uint32_t, const Matrix& p) override { cameraWidth = w, projection = p; }
    void* AcquireFont(const char* name) override { return const_cast<char*>(name); }
    void ReleaseFont(void*) override { ++fontReleases; }

    void UpdateFrameStatistics() override { calls.push_back("stats"); }
    bool CreateGraphVertexBuffer(const float* xyz, uint32_t n) override {
        std::string all;
        for (uint32_t i = 0; i < 3 * n; ++i) all += std::to_string(int(xyz[i])) + (i % 3 == 2 ? ";" : ",");
        calls.push_back("create " + std::to_string(n) + " " + all);
        return true;
    }
    void ReleaseGraphVertexBuffer() override { calls.push_back("release"); }
    void SetBlendMode(uint32_t m) override { calls.push_back("blend " + std::to_string(m)); }
    void SetDepthState(uint32_t f, bool w) override { calls.push_back("depth " + std::to_string(f) + (w ? " w" : "")); }
    void SetCullMode(uint32_t m) override { calls.push_back("cull " + std::to_string(m)); }
    void SetFixedPipelineShader() override { calls.push_back("shader"); }
    void SetModelColor(const Vector& c) override { calls.push_back(std::string("colour ") + c.ToString()); }
    void DrawGraphVertices(uint32_t prim, uint32_t first, uint32_t count, const Matrix& world) override {
        calls.push_back("draw " + std::to_string(prim));
        draws.push_back(Draw{prim, first, count, world});
    }
    void DrawLines(const float* xyz, uint32_t lines, const Matrix& world) override {
        calls.push_back("lines");
        draws.push_back(Draw{PROFILER_PRIMITIVE_LINELIST, 0, lines, world, xyz[(lines - 1) * 6 + 1],
                             xyz[(lines - 1) * 6 + 4]});
    }
    float MeasureText(void*, const char* text) override { return 6.0f * static_cast<float>(std::strlen(text)); }
    void DrawText(void*, const char* text, float x, float y, const Vector&) override {
        calls.push_back("text");
        texts.push_back(Text{text, x, y});
    }
};

std::string Text(const Profiler& p, uint32_t i) {
    char buffer[256];
    p.FormatText(i, buffer, sizeof buffer);
    return buffer;
}

bool Bit(const uint32_t* mask, uint32_t i) { return (mask[i / 32] >> (i % 32)) & 1u; }

Vector Transformed(const Matrix& m, float x, float y) {
    Vector v(x, y, 0, 1);
    v.Transform3D(m);
    return v;
}

// A profiler with its render thread, a manual clock and a bound mask.
struct Rig {
    std::unique_ptr<Profiler> profiler = std::make_unique<Profiler>();
    FakeRenderer renderer;
    uint32_t mask[kProfilerMaskWords] = {};
    os::ManualClock clock{1000};

    explicit Rig(bool manualClock = true) {
        if (manualClock) {
            clock.Install();
            Time::InitTimer(0, os::kCounterFrequency);
        } else {
            Time::InitTimer();
        }
        profiler->SetDrawer(&renderer);
        profiler->Init(mask);
    }
    void Frame(uint32_t w = 1280, uint32_t h = 720) {
        profiler->Draw(w, h);
        renderer.Sync();
    }
};

}  // namespace

// The 76-row counter table (name, text format, minimum flag, thread kind, value kind,
// graph range) folded into one FNV-1a digest, pinned when the table was checked row by
// row against the design: a changed row anywhere changes it.
TEST(Profiler, CounterTableMatchesItsCheckedDigest) {
    Profiler p;
    uint64_t h = 1469598103934665603ull;
    auto fold = [&h](const std::string& s) {
        for (unsigned char c : s + "|") h = (h ^ c) * 1099511628211ull;
    };
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        const ProfilerCounter& c = p.Counter(i);
        char row[256];
        std::snprintf(row, sizeof row, "%s,%s,%u,%u,%u,%g,%g", c.name, c.format, c.showMinimum, c.threadKind,
                      c.valueKind, c.graphMin, c.graphMax);
        fold(row);
    }
    EXPECT_EQ(h, 0x0FD43852FADC85F0ull);
    EXPECT_STREQ(p.Counter(PROFILE_TEST_M).name, "TestM");
}

#ifndef NDEBUG
TEST(ProfilerDeathTest, ControlAndMainFeedingStayOnTheThreadThatCalledInit) {
    Profiler p;
    uint32_t mask[kProfilerMaskWords] = {};
    p.Init(mask);
    p.EnableProfiler("FPS");  // the main thread: fine
    auto offThread = [&p](auto call) {
        std::thread t(call, &p);
        t.join();
    };
    void (*const mainOnly[])(Profiler*) = {
        [](Profiler* q) { q->EnableProfiler("FPS"); },
        [](Profiler* q) { q->AddValue(PROFILE_LOS, 1, PROFILER_THREAD_MAIN); },
        [](Profiler* q) { q->SetValue(PROFILE_LOS, 1, PROFILER_THREAD_MAIN); },
        [](Profiler* q) { q->StartTimer(PROFILE_LOS, PROFILER_THREAD_MAIN); },
        [](Profiler* q) { q->StopTimer(PROFILE_LOS, PROFILER_THREAD_MAIN); },
    };
    for (auto call : mainOnly) EXPECT_DEATH(offThread(call), "main thread");
    offThread([](Profiler* q) { q->AddValue(PROFILE_NET_SENT_B, 1, PROFILER_THREAD_OTHER); });
}
#endif

TEST(Profiler, EnablingByNameSelectsExactlyTheMatchingCounters) {
    Rig rig;
    Profiler& p = *rig.profiler;
    p.EnableProfiler("net");
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) EXPECT_EQ(Bit(rig.mask, i), i >= 41 && i <= 59) << i;
    rig.renderer.Sync();
    for (uint32_t w = 0; w < kProfilerMaskWords; ++w) EXPECT_EQ(p.ActiveMaskWord(w), rig.mask[w]);

    // Case-insensitive both ways: "TEST" also finds RenderTestA and RenderTestB.
    p.EnableProfiler(nullptr);
    EXPECT_EQ(rig.mask[0] & rig.mask[1] & rig.mask[2], 0xFFFFFFFFu);
    p.DisableProfiler("TEST");
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i)
        EXPECT_EQ(Bit(rig.mask, i), !(i == 19 || i == 20 || i >= 63)) << i;
    rig.renderer.Sync();
    EXPECT_TRUE(!p.IsActive(63) && p.IsActive(62));

    // An over-long pattern is cut at 255 characters and matches nothing.
    p.DisableProfiler(std::string(1000, 'n').c_str());
    EXPECT_TRUE(Bit(rig.mask, 41));

    // Unbound: enabling does nothing and drawing sends no samples.
    Profiler loose;
    loose.EnableProfiler("net");
    loose.SetValue(2, 5, PROFILER_THREAD_MAIN);
    loose.Draw(800, 600);
    EXPECT_EQ(loose.Counter(2).sampleCount, 0u);
}

TEST(Profiler, SectionsMeasureOnlyTheOutermostActiveSection) {
    Rig rig;
    Profiler& p = *rig.profiler;
    p.EnableProfiler("GameTick");  // 22 GameTickCount and 23 GameTick
    rig.renderer.Sync();
    const int64_t ms = os::kCounterFrequency / 1000;
    for (int step = 0; step < 4; ++step) {  // start, start, stop, stop: 1 + 2 + 3 ms
        if (step < 2) p.StartTimer(PROFILE_GAME_TICK, PROFILER_THREAD_MAIN);
        else p.StopTimer(PROFILE_GAME_TICK, PROFILER_THREAD_MAIN);
        rig.clock.Advance((step + 1) * ms);
    }
    EXPECT_EQ(p.Counter(PROFILE_GAME_TICK).accumulated.ticks, 6 * ms);

    // Started while disabled, enabled, then stopped: nothing is added.
    p.StartTimer(PROFILE_LOS, PROFILER_THREAD_MAIN);
    p.EnableProfiler("LOS");
    rig.renderer.Sync();
    rig.clock.Advance(5 * ms);
    p.StopTimer(PROFILE_LOS, PROFILER_THREAD_MAIN);
    EXPECT_EQ(p.Counter(PROFILE_LOS).accumulated.ticks + p.Counter(PROFILE_LOS).depth, 0);

    rig.Frame();
    EXPECT_EQ(p.Counter(PROFILE_GAME_TICK).accumulated.ticks, 0);
    EXPECT_FLOAT_EQ(p.Counter(PROFILE_GAME_TICK).raw[0], 6.0f);
    EXPECT_FLOAT_EQ(p.Counter(PROFILE_GAME_TICK).normalised[0], 0.2f);  // 6 of 0..30
    EXPECT_EQ(p.Counter(PROFILE_LOS).sampleCount, 1u);
    // One frame, at most one sample each; no other main-thread counter was sent.
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        EXPECT_LE(p.Counter(i).sampleCount, 1u) << i;
        if (!p.IsActive(i) && p.Counter(i).threadKind == PROFILER_THREAD_MAIN) {
            EXPECT_EQ(p.Counter(i).sampleCount, 0u) << i;
        }
    }
}

TEST(Profiler, MainThreadSumsResetEveryFrame) {
    Rig rig;
    Profiler& p = *rig.profiler;
    p.AddValue(PROFILE_VISIBLE_ENTITIES, 5, PROFILER_THREAD_MAIN);  // disabled, still counted
    EXPECT_EQ(p.Counter(PROFILE_VISIBLE_ENTITIES).value, 5.0f);
    rig.Frame();
    EXPECT_EQ(p.Counter(PROFILE_VISIBLE_ENTITIES).value + p.Counter(PROFILE_VISIBLE_ENTITIES).sampleCount, 0.0f);

    p.EnableProfiler("VisibleEntities");
    for (float v : {3, 4}) p.AddValue(PROFILE_VISIBLE_ENTITIES, v, PROFILER_THREAD_MAIN);
    p.SetValue(PROFILE_ENTITY_INST, 12, PROFILER_THREAD_MAIN);  // a level is kept
    p.EnableProfiler("EntityInst");
    rig.Frame();
    rig.Frame();
    const ProfilerCounter& sum = p.Counter(PROFILE_VISIBLE_ENTITIES);
    ASSERT_EQ(sum.sampleCount, 2u);
    EXPECT_TRUE(sum.raw[0] == 7.0f && sum.raw[1] == 0.0f);
    EXPECT_EQ(p.Counter(PROFILE_ENTITY_INST).raw[1], 12.0f);

    // Other-thread values count only while enabled; render-side sampling resets sums.
    p.AddValue(PROFILE_NET_SENT_B, 10, PROFILER_THREAD_OTHER);
    EXPECT_EQ(p.Counter(PROFILE_NET_SENT_B).value, 0.0f);
    p.EnableProfiler("NetSentB");
    rig.renderer.Sync();
    for (float v : {10, 5}) p.AddValue(PROFILE_NET_SENT_B, v, PROFILER_THREAD_OTHER);
    rig.Frame();
    const ProfilerCounter& other = p.Counter(PROFILE_NET_SENT_B);
    EXPECT_EQ(other.raw[(other.position + kProfilerHistory - 1) % kProfilerHistory], 15.0f);
    EXPECT_EQ(other.value, 0.0f);
}

// Indices past the table are ignored by every feeding call and by the text form.
TEST(Profiler, IndicesPastTheTableAreIgnored) {
    Rig rig;
    Profiler& p = *rig.profiler;
    p.EnableProfiler(nullptr);
    for (uint32_t index : {kProfilerCounterCount, 0x7FFFFFFFu}) {
        for (uint32_t kind : {PROFILER_THREAD_MAIN, PROFILER_THREAD_RENDER, PROFILER_THREAD_OTHER})
            p.StartTimer(index, kind), p.StopTimer(index, kind), p.AddValue(index, 1, kind), p.SetValue(index, 1, kind);
        char text[8];
        EXPECT_EQ(p.FormatText(index, text, sizeof text), 0u);
    }
    rig.Frame();
    for (uint32_t w = 0; w < kProfilerMaskWords; ++w) EXPECT_EQ(p.ActiveMaskWord(w), rig.mask[w]);
    EXPECT_EQ(p.Counter(kProfilerCounterCount - 1).sampleCount, 1u);
}

TEST(Profiler, FormatTextUsesTakenSamplesAndInvertsFrameRate) {
    Profiler p;
    char none[8];
    EXPECT_EQ(p.FormatText(PROFILE_DRAW_CALLS, none, sizeof none), 0u);
    EXPECT_STREQ(none, "");
    for (float v : {10, 30, 20}) p.AddSample(PROFILE_DRAW_CALLS, v);
    EXPECT_EQ(Text(p, PROFILE_DRAW_CALLS), "10/20/30");
    // Counter 0 holds frame times: min and max swap as rates; zero maps to zero.
    for (float v : {20, 10, 40}) p.AddSample(PROFILE_FPS, v);
    EXPECT_EQ(Text(p, PROFILE_FPS), "25.00/42.86/100.00");
    EXPECT_FLOAT_EQ(p.Counter(PROFILE_FPS).normalised[0], 0.8f);  // 50 fps of 10..60
    Profiler z;
    z.AddSample(PROFILE_FPS, 0);
    EXPECT_EQ(Text(z, PROFILE_FPS), "0.00/0.00/0.00");

    // Without the minimum flag: average and maximum; with it and a two-value format,
    // the minimum and the average.
    for (float v : {1, 2}) p.AddSample(PROFILE_PARTICLE_TIME, v);
    EXPECT_EQ(Text(p, PROFILE_PARTICLE_TIME), "1.50/2.00");
    for (float v : {100, 300}) p.AddSample(PROFILE_NET_LATENCY, v);
    EXPECT_EQ(Text(p, PROFILE_NET_LATENCY), "100/200");

    // The history wraps after 209 samples; the text covers the last 209.
    for (int i = 0; i < 300; ++i) p.AddSample(PROFILE_TRIANGLES, i < 91 ? 1000.0f : 2.0f);
    EXPECT_EQ(p.Counter(PROFILE_TRIANGLES).sampleCount, 300u);
    EXPECT_EQ(p.Counter(PROFILE_TRIANGLES).position, 300u % kProfilerHistory);
    EXPECT_EQ(Text(p, PROFILE_TRIANGLES), "2/2/2");

    // A small buffer is cut, never overrun.
    char small[4];
    EXPECT_EQ(p.FormatText(PROFILE_DRAW_CALLS, small, sizeof small), 3u);
    EXPECT_STREQ(small, "10/");
}

TEST(Profiler, PanelLayoutWrapsColumnsRightToLeft) {
    const uint32_t all[kProfilerMaskWords] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    const uint32_t some[kProfilerMaskWords] = {1u << 5, 0, 1u << (70 - 64)};
    const struct {
        uint32_t w, h;
        const uint32_t* mask;
        uint32_t panels, at, counter;
        int32_t x, y;
    } cases[] = {
        {1280, 720, all, 48, 0, 0, 1069, 1},  // 8 per column, x = 1069 .. 19, the next at -191
        {1280, 720, all, 48, 7, 7, 1069, 561},
        {1280, 720, all, 48, 8, 8, 859, 1},
        {1280, 720, all, 48, 47, 47, 19, 561},
        {1280, 721, all, 54, 8, 8, 1069, 641},  // a ninth row fits exactly
        {200, 400, all, 4, 0, 0, -11, 1},       // narrower than a panel: no second column
        {640, 50, all, 3, 1, 1, 219, 1},        // lower than a panel: one per column
        {800, 600, some, 2, 0, 5, 589, 1},
        {800, 600, some, 2, 1, 70, 589, 81},
    };
    for (const auto& c : cases) {
        ProfilerPanelPosition out[kProfilerCounterCount];
        ASSERT_EQ(Profiler::ComputePanelLayout(c.w, c.h, c.mask, out), c.panels) << c.w << "x" << c.h;
        EXPECT_EQ(out[c.at].counter, c.counter) << c.at;
        EXPECT_EQ(out[c.at].x, c.x) << c.w << "x" << c.h << " " << c.at;
        EXPECT_EQ(out[c.at].y, c.y) << c.w << "x" << c.h << " " << c.at;
    }
}

TEST(Profiler, DrawPostsSamplesCameraAndPanelsThroughTheRing) {
    Rig rig;
    Profiler& p = *rig.profiler;
    FakeRenderer& r = rig.renderer;
    ASSERT_NE(p.Font(), nullptr);
    p.CreateGraphVertexBuffer();
    // The 210 x 80 panel: its outline under an 18-pixel title (a strip of seven), then
    // its rectangle (a fan of four).
    ASSERT_FALSE(r.calls.empty());
    EXPECT_EQ(r.calls.back(), "create 11 0,18,0;210,18,0;210,80,0;0,80,0;0,0,0;210,0,0;210,18,0;"
                              "0,0,0;210,0,0;210,80,0;0,80,0;");
    p.EnableProfiler("MainFrameTime");
    p.EnableProfiler("DrawCalls");
    p.SetValue(PROFILE_MAIN_FRAME_TIME, 30, PROFILER_THREAD_MAIN);
    p.SetValue(PROFILE_DRAW_CALLS, 750, PROFILER_THREAD_RENDER);
    r.Sync();
    r.calls.clear();
    rig.Frame(1000, 600);

    // Half-pixel shifted pixel rectangle, y down.
    EXPECT_EQ(r.cameraWidth, 1000u);
    Vector corner(0.5f, 0.5f, 0, 1), far(1000.5f, 600.5f, 1, 1);
    corner.Transform3D(r.projection);
    far.Transform3D(r.projection);
    EXPECT_LT(corner.DistanceSquaredXYZ(Vector(-1, 1, 0, 1)) + far.DistanceSquaredXYZ(Vector(1, -1, 1, 1)), 1e-10f);

    const std::vector<std::string> expected = {
        "stats", "blend 1", "depth 4 w", "cull 1", "shader",
        std::string("colour ") + Vector(0, 0, 0, 0.25f).ToString(), "draw 6", "draw 6",
        "blend 0", std::string("colour ") + Vector(0, 0, 1, 1).ToString(), "draw 3", "draw 3",
        std::string("colour ") + Vector(0, 1, 0, 1).ToString(), "lines", "lines",
        "text", "text", "text", "text"};
    EXPECT_EQ(r.calls, expected);
    ASSERT_EQ(r.draws.size(), 6u);
    EXPECT_EQ(r.draws[0].first, 7u);
    EXPECT_EQ(r.draws[0].count, 2u);
    EXPECT_EQ(r.draws[2].count, 6u);
    // Panels in index order from the top-right corner: MainFrameTime (2), then DrawCalls (9).
    Vector top = Transformed(r.draws[0].world, 0, 0), second = Transformed(r.draws[1].world, 0, 0);
    EXPECT_EQ(top.x, 789.0f);
    EXPECT_EQ(top.y, 1.0f);
    EXPECT_EQ(second.y, 81.0f);
    // Bars: sample value v rises from y = 79 to 78 - 59 v inside the panel.
    const FakeRenderer::Draw& bars = r.draws[4];
    EXPECT_EQ(bars.count, kProfilerHistory);
    Vector base = Transformed(bars.world, 0, -1.0f / 59.0f), tip = Transformed(bars.world, 208, 0.5f);
    EXPECT_LT(base.DistanceSquaredXYZ(Vector(790, 80, 0, 1)) + tip.DistanceSquaredXYZ(Vector(998, 1 + 78 - 29.5f, 0, 1)), 1e-7f);
    // Oldest first: the newest sample is the last line. 30 of 10..50 and 750 of 0..3000.
    EXPECT_FLOAT_EQ(bars.newestTop, 0.5f);
    EXPECT_FLOAT_EQ(bars.baseline, -1.0f / 59.0f);
    EXPECT_FLOAT_EQ(r.draws[5].newestTop, 0.25f);
    ASSERT_EQ(r.texts.size(), 4u);
    EXPECT_EQ(r.texts[0].text + " " + std::to_string(r.texts[0].x) + " " + std::to_string(r.texts[0].y),
              "MainFrameTime 791.000000 2.000000");
    EXPECT_EQ(r.texts[1].text, "30.00/30.00/30.00");
    EXPECT_EQ(r.texts[1].x, 789.0f + 208 - 6 * 17);
    EXPECT_EQ(r.texts[3].text, "750/750/750");

    // Without a font the samples are still collected but nothing is drawn.
    p.Release();
    EXPECT_EQ(r.fontReleases, 1);
    r.calls.clear();
    rig.Frame(1000, 600);
    EXPECT_EQ(r.calls, std::vector<std::string>{"stats"});
    EXPECT_EQ(p.Counter(PROFILE_DRAW_CALLS).sampleCount, 2u);
    p.ReleaseGraphVertexBuffer();
    r.Sync();
}

TEST(Profiler, MaskOperationsApplyInStreamOrderWithSamples) {
    Rig rig;
    Profiler& p = *rig.profiler;
    p.EnableProfiler("MainFrameTime");
    p.SetValue(PROFILE_MAIN_FRAME_TIME, 7, PROFILER_THREAD_MAIN);
    p.Draw(800, 600);
    p.DisableProfiler("MainFrameTime");
    p.SetValue(PROFILE_MAIN_FRAME_TIME, 9, PROFILER_THREAD_MAIN);
    p.Draw(800, 600);
    rig.mask[0] |= 1u << PROFILE_FPS;  // the configuration changed behind the profiler's back
    p.BindEnabledMask(rig.mask);
    rig.renderer.Sync();
    const ProfilerCounter& c = p.Counter(PROFILE_MAIN_FRAME_TIME);
    EXPECT_EQ(c.sampleCount, 1u);  // the rebind clears values but keeps counts
    EXPECT_EQ(c.raw[0], 0.0f);
    EXPECT_EQ(p.ActiveMaskWord(0), 1u << PROFILE_FPS);
    EXPECT_EQ(p.ActiveMaskWord(1), 0u);
}

TEST(Profiler, OtherThreadsFeedUnderTheLockWhileTheRenderThreadSamples) {
    Rig rig(false);
    Profiler& p = *rig.profiler;
    p.EnableProfiler("NetSentB");
    p.EnableProfiler("SoundDecodeTime");
    rig.renderer.Sync();
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&p] {
            for (int i = 0; i < 2000; ++i) {
                p.AddValue(PROFILE_NET_SENT_B, 1.0f, PROFILER_THREAD_OTHER);
                p.StartTimer(PROFILE_SOUND_DECODE_TIME, PROFILER_THREAD_OTHER);
                p.StopTimer(PROFILE_SOUND_DECODE_TIME, PROFILER_THREAD_OTHER);
                p.SetValue(PROFILE_NET_LATENCY, 3.0f, PROFILER_THREAD_OTHER);  // disabled: ignored
            }
        });
    for (int f = 0; f < 150; ++f) p.Draw(800, 600);
    for (std::thread& w : workers) w.join();
    p.Draw(800, 600);
    rig.renderer.Sync();
    const ProfilerCounter& c = p.Counter(PROFILE_NET_SENT_B);
    ASSERT_LE(c.sampleCount, kProfilerHistory);
    float total = 0;
    for (uint32_t i = 0; i < c.sampleCount; ++i) total += c.raw[i];
    EXPECT_EQ(total, 6000.0f);
    EXPECT_EQ(p.Counter(PROFILE_SOUND_DECODE_TIME).depth, 0);
    EXPECT_GT(p.Counter(PROFILE_SOUND_DECODE_TIME).sampleCount, 0u);  // other-thread sections are sampled too
    EXPECT_EQ(p.Counter(PROFILE_NET_LATENCY).value, 0.0f);
}
