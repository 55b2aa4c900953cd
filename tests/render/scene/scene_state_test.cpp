// The render-side scene state through the real render thread: the choice of the
// parameter set in force, blends on their clocks with their easing, scroll offsets,
// range factors, lightmap lists and the light probe map file.
// test-sanitize: thread address
#include <cmath>
#include <cstring>

#include "../RenderTestSupport.h"
#include "../resources/ResourceTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourcePool.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

namespace {

// Records every blend and answers the values Update reads from fields the test sets.
struct RecordingSet : SceneParametersWrapper {
    void Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t) override {
        blends.push_back({&a, &b, t});
        SceneParametersWrapper::Blend(a, b, t);
    }
    Vector CloudDrift() const override { return cloudDrift; }
    Vector LayerDrift() const override { return layerDrift; }
    float RangeStart() const override { return rangeStart; }
    float RangeEnd() const override { return rangeEnd; }
    Vector CorrectionColor() const override { return correction; }
    float CorrectionAmount() const override { return amount; }

    struct Call {
        const SceneParametersWrapper *a, *b;
        float t;
    };
    std::vector<Call> blends;
    Vector cloudDrift{0, 0, 0, 0}, layerDrift{0, 0, 0, 0}, correction{1, 1, 1, 1};
    float rangeStart = 0.0f, rangeEnd = 1.0f, amount = 0.0f;
};

uint32_t gMadeSets = 0;

struct SceneStateTest : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        ASSERT_TRUE(created);
        gMadeSets = 0;
        scene().SetParameterSetFactory([]() -> SceneParametersWrapper* {
            ++gMadeSets;
            return new RecordingSet;
        });
        scene().PostInit();
        scene().PostInit();
        gVornexRenderer.FlushCommands(true);
    }
    void TearDown() override {
        scene().PostShutdown();
        scene().SetParameterSetFactory(nullptr);
        ResourceFixture::TearDown();
    }
    static RendererScene& scene() { return *gRendererScene; }
    static RecordingSet* Set(uint32_t i) { return static_cast<RecordingSet*>(scene().Set(i)); }

    // Task 41 with the three clocks at these seconds and frame times.
    static void Frame(double first, double second, double third, float frameTime = 0.0f) {
        auto clock = [frameTime](double s) { return RenderFrameClock{int64_t(s * os::kCounterFrequency), frameTime}; };
        gVornexRenderer.PostFrameParams(clock(first), clock(second), clock(third), 0);
        gVornexRenderer.FlushCommands(true);
    }
    // A set with every section present and recognisable bytes.
    static RecordingSet* MakeSource(uint8_t fill) {
        auto* s = new RecordingSet;
        std::memset(s->Block(), fill, kSceneParameterBlockBytes);
        for (uint32_t i = 0; i < SCENE_SECTION_COUNT; ++i) s->Block()[i] = 1;
        return s;
    }
};

TEST_F(SceneStateTest, InitOnceOverridePreviewAndTheSetInForce) {
    EXPECT_EQ(gMadeSets, 5u);
    RecordingSet* source = MakeSource(0x5A);
    scene().PostSceneParameters(source, SCENE_MODE_OVERRIDE, 0.0f);
    gVornexRenderer.FlushCommands(true);
    EXPECT_TRUE(scene().OverrideActive());
    EXPECT_TRUE(scene().LightingChanged());
    EXPECT_EQ(std::memcmp(Set(RendererScene::SET_OVERRIDE)->Block(), source->Block(), kSceneParameterBlockBytes), 0);
    EXPECT_EQ(scene().GetCurrentParameters(), Set(RendererScene::SET_OVERRIDE));

    // The preview set wins even over an override.
    scene().PostSceneParametersChanged(source);
    scene().PostOp4();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(scene().GetCurrentParameters(), Set(RendererScene::SET_PREVIEW));
    EXPECT_EQ(Set(RendererScene::SET_PREVIEW)->Block()[100], 0x5A);
    scene().PostOp5();
    scene().PostSceneParameters(nullptr, SCENE_MODE_OVERRIDE, 0.0f);
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(scene().OverrideActive());
    EXPECT_EQ(scene().GetCurrentParameters(), Set(RendererScene::SET_IN_FORCE));

    // Bit 1 stops an override and blends; only the sections the source marks are taken.
    scene().PostSceneParameters(source, SCENE_MODE_OVERRIDE, 0.0f);
    source->Block()[SCENE_SECTION_CLOUD] = 0;
    scene().PostSceneParameters(source, SCENE_MODE_STOP_OVERRIDE | SCENE_MODE_CLOCK_FIRST, 0.0f);
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(scene().OverrideActive());
    EXPECT_TRUE(scene().BlendRunning());
    const uint8_t* to = Set(RendererScene::SET_BLEND_TO)->Block();
    EXPECT_EQ(to[kSceneParameterSections[SCENE_SECTION_LIGHT].offset], 0x5A);
    EXPECT_EQ(to[kSceneParameterSections[SCENE_SECTION_LAYER].offset], 0x5A);
    EXPECT_EQ(to[kSceneParameterSections[SCENE_SECTION_CLOUD].offset], 0);
    EXPECT_EQ(to[kSceneParameterBlockBytes - 1], 0);  // outside every section

    source->Release(false, true);
}

TEST_F(SceneStateTest, BlendsRunOnTheClockTheModePicks) {
    struct Case {
        uint32_t mode;
        int clock;  // 0, 1, 2: which clock moves the blend
    } cases[] = {{0, 1}, {SCENE_MODE_CLOCK_THIRD, 2}, {SCENE_MODE_CLOCK_FIRST, 0}, {12, 1}};
    RecordingSet* source = MakeSource(1);
    RecordingSet* inForce = Set(RendererScene::SET_IN_FORCE);
    for (const Case& c : cases) {
        const uint32_t mode = c.mode | 48;  // linear, so the factor is t itself
        Frame(10.0, 20.0, 30.0);
        scene().PostSceneParameters(source, mode, 4.0f);
        double now[3] = {10.0, 20.0, 30.0};
        now[c.clock] += 1.0;  // one second on the chosen clock only
        inForce->blends.clear();
        Frame(now[0], now[1], now[2]);
        ASSERT_EQ(inForce->blends.size(), 1u) << c.mode;
        // The first clock's blends start at 0: 11 s of a 4 s blend end it.
        const float expected = c.clock == 0 ? 1.0f : 0.25f;
        EXPECT_FLOAT_EQ(inForce->blends[0].t, expected) << c.mode;
        EXPECT_EQ(inForce->blends[0].a, Set(RendererScene::SET_BLEND_FROM));
        EXPECT_EQ(inForce->blends[0].b, Set(RendererScene::SET_BLEND_TO));
        EXPECT_EQ(scene().BlendRunning(), c.clock != 0);
        Frame(100.0, 100.0, 100.0);  // ends it
        EXPECT_FALSE(scene().BlendRunning());
        EXPECT_EQ(inForce->blends.back().t, 1.0f);
    }
    // 0.001 s or less ends at once.
    for (float seconds : {0.001f, 0.0f}) {
        Frame(10.0, 20.0, 30.0);
        scene().PostSceneParameters(source, 0, seconds);
        inForce->blends.clear();
        Frame(10.0, 20.0, 30.0);
        ASSERT_EQ(inForce->blends.size(), 1u);
        EXPECT_FLOAT_EQ(inForce->blends[0].t, 1.0f);
        EXPECT_FALSE(scene().BlendRunning());
    }
    source->Release(false, true);
}

TEST_F(SceneStateTest, EasingRangeScrollAndCorrection) {
    const float ts[] = {0.0f, 0.1f, 0.25f, 0.5f, 0.77f, 1.0f};
    for (uint32_t mode : {0u, 16u, 32u, 48u}) {
        std::string args = "ease " + std::to_string(mode);
        for (float t : ts) args += " " + std::to_string(t);
        const std::vector<float> expected = scenetest::ReferenceFloats(args);
        if (expected.size() != 6) GTEST_SKIP() << "python3 not available";
        for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(RendererScene::Ease(mode | 12, ts[i]), expected[i]) << mode;
    }

    RecordingSet* inForce = Set(RendererScene::SET_IN_FORCE);
    const float ranges[][2] = {{0.25f, 0.75f}, {0.5f, 0.5f}, {1.0f, 1.001f}, {1.0f, 1.0015f}, {2.0f, 1.998f}};
    std::string args = "range";
    for (const auto& r : ranges) args += " " + std::to_string(r[0]) + " " + std::to_string(r[1]);
    const std::vector<float> expected = scenetest::ReferenceFloats(args);
    ASSERT_EQ(expected.size(), 10u);
    for (int i = 0; i < 5; ++i) {
        inForce->rangeStart = ranges[i][0], inForce->rangeEnd = ranges[i][1];
        Frame(0, 0, 0);
        EXPECT_EQ(scene().RangeScale(), expected[2 * i]) << i;
        EXPECT_EQ(scene().RangeOffset(), expected[2 * i + 1]) << i;
    }

    // Negative drifts wrap into [0, 1).
    inForce->cloudDrift = Vector(-0.3f, -1.7f, 0.25f, 0);
    inForce->layerDrift = Vector(0.9f, -0.05f, 0, -3.0f);
    Vector start[2] = {scene().CloudOffset(), scene().LayerOffset()};
    for (int frame = 1; frame <= 7; ++frame) {
        Frame(0, 0, 0, 0.5f);
        const Vector now[2] = {scene().CloudOffset(), scene().LayerOffset()};
        for (int k = 0; k < 8; ++k) {
            const float v = now[k / 4][k % 4];
            const double moved =
                start[k / 4][k % 4] + (k < 4 ? inForce->cloudDrift : inForce->layerDrift)[k % 4] * 0.5 * frame;
            EXPECT_TRUE(v >= 0.0f && v < 1.0f) << k;
            EXPECT_NEAR(v, moved - std::floor(moved), 1e-5) << k;
        }
    }
    inForce->amount = 0.25f;
    inForce->correction = Vector(0.2f, 0.4f, 0.6f, 1.0f);
    Frame(0, 0, 0);
    EXPECT_FLOAT_EQ(scene().CorrectionColor().x, 0.75f + 0.05f);
    EXPECT_FLOAT_EQ(scene().CorrectionColor().z, 0.75f + 0.15f);
}

TEST_F(SceneStateTest, LightmapsStopAtTheFirstMissingIndexAndAreEvicted) {
    for (int i : {0, 1, 3})
        if (!rendertest::Shell("convert -size 4x4 xc:gray DDS:" +
                                 Path("scenes", "level_lm" + std::to_string(i) + ".dds")))
            GTEST_SKIP() << "ImageMagick not available";
    scene().LoadLightmaps("level");
    ASSERT_NE(scene().Lightmap(0), nullptr);
    ASSERT_NE(scene().Lightmap(1), nullptr);
    for (uint32_t i = 2; i < RendererScene::kLightmapCount; ++i) EXPECT_EQ(scene().Lightmap(i), nullptr);
    EXPECT_STREQ(scene().Lightmap(1)->GetName(), "level_lm1.dds");
    EXPECT_TRUE(scene().Lightmap(0)->GetFlags() & RESOURCE_FLAG_SCENE_TEXTURE);
    EXPECT_TRUE(rendertest::WaitUntil([&] { return scene().Lightmap(1)->IsLoaded(); }));

    scene().ClearLightmaps();
    EXPECT_EQ(scene().Lightmap(0), nullptr);
    CriticalSectionGuard guard(&gResourceManager.ManagerLock());
    EXPECT_LT(gResourceManager.Pool(RESOURCE_TEXTURE)->Find("level_lm0.dds"), 0);
    EXPECT_LT(gResourceManager.Pool(RESOURCE_TEXTURE)->Find("level_lm1.dds"), 0);
}

// ---------------------------------------------------------------------------------------
// The probe map, from files of the reference writer.

struct ProbeMapTest : SceneStateTest {
    std::vector<uint8_t> Write(const std::string& name, const std::string& fields) {
        const std::string path = Path("scenes", name + ".lpd");
        rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/render/scene/scene_reference.py lpd " + path + " " +
                            fields);
        return resourcetest::ReadBytes(path);
    }
    void Load(const std::string& name) {
        log.Clear();
        scene().LoadLightmaps(name.c_str());
    }
    uint32_t ErrorLines() {
        uint32_t n = 0;
        for (const CaptureLogSink::Message& m : log.Messages()) n += m.severity == uint8_t(LogSeverity::Error);
        return n;
    }
};

TEST_F(ProbeMapTest, LoadsEveryFieldOfAValidFile) {
    if (Write("probes", "3 2 4 0 1 7").empty()) GTEST_SKIP() << "python3 not available";
    Load("probes");
    const LightProbeMap& map = scene().ProbeMap();
    ASSERT_EQ(map.Width(), 3u);
    ASSERT_EQ(map.Height(), 2u);
    EXPECT_EQ(map.Area(), Vector(1.5f, -2.0f, 3.25f, 4.0f));
    const uint32_t counts[4] = {4, 0, 1, 7};
    for (uint32_t l = 0; l < 4; ++l) {
        const LightProbeMap::Layer& layer = map.GetLayer(l);
        ASSERT_EQ(layer.count, counts[l]);
        ASSERT_EQ(layer.indices.size(), 6u);
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(layer.indices[i], l * 1000 + i);
        ASSERT_EQ(layer.records.size(), counts[l] * 18u);
        for (uint32_t p = 0; p < counts[l]; ++p)
            for (uint32_t k = 0; k < 18; ++k) EXPECT_EQ(layer.records[p * 18 + k], uint8_t(l * 31 + p * 7 + k));
    }
    EXPECT_TRUE(Logged("Loading game light probe map probes"));
    EXPECT_TRUE(Logged("Loaded game light probe map (3x2)"));
}

TEST_F(ProbeMapTest, BadHeadersPrefixesAndCountsLeaveTheMapEmpty) {
    if (Write("old", "2 2 1 1 1 1 2").empty()) GTEST_SKIP() << "python3 not available";
    Load("old");  // version 2: empty, no error line
    EXPECT_TRUE(scene().ProbeMap().Empty());
    EXPECT_EQ(ErrorLines(), 0u);
    EXPECT_FALSE(Logged("Loaded game light probe map"));

    const std::vector<uint8_t> valid = Write("valid", "2 3 1 2 0 3");
    for (size_t cut = 0; cut < valid.size(); ++cut) {
        resourcetest::WriteBytes(Path("scenes", "cut.lpd"), std::vector<uint8_t>(valid.begin(), valid.begin() + cut));
        Load("cut");
        EXPECT_TRUE(scene().ProbeMap().Empty()) << cut;
        EXPECT_EQ(ErrorLines(), 1u) << cut;
    }
    // Counts and sizes beyond the file, and past 32 bits once multiplied.
    struct Alter {
        uint32_t offset, value, bytes;
    } alters[] = {{12, 4, 4}, {24, 0xFFFFFFFFu, 4}, {8, 0xFFFF, 2}, {10, 0xFFFF, 2}, {20, 0x0E38E38Fu, 4}};
    for (const Alter& a : alters) {
        std::vector<uint8_t> bytes = valid;
        std::memcpy(bytes.data() + a.offset, &a.value, a.bytes);
        resourcetest::WriteBytes(Path("scenes", "altered.lpd"), bytes);
        Load("altered");
        EXPECT_TRUE(scene().ProbeMap().Empty()) << a.offset;
        EXPECT_EQ(ErrorLines(), 1u) << a.offset;
    }
    Load("valid");
    EXPECT_EQ(scene().ProbeMap().Width(), 2u);
    scene().ClearLightmaps();
    EXPECT_TRUE(scene().ProbeMap().Empty());
}

}  // namespace
