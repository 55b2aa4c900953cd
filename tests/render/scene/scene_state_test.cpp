// The render-side scene state: parameter sets, blends, scroll, ranges, lightmaps, probe file.
// test-sanitize: thread address
#include <cmath>

#include "../resources/ResourceTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourcePool.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

namespace {

// Records every blend; the values Update reads are the block's drifts and fog range.
struct RecordingSet : SceneParametersWrapper {
    void Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t) override {
        blends.push_back({&a, &b, t});
        SceneParametersWrapper::Blend(a, b, t);
    }
    void SetRange(float start, float end) { Values().rest.fogStart = start, Values().rest.fogEnd = end; }
    void SetDrifts(const Vector& cloud, const Vector& layer) { Values().cloudDrift = cloud, Values().layerDrift = layer; }

    struct Call { const SceneParametersWrapper *a, *b; float t; };
    std::vector<Call> blends;
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
    static void Post(SceneParametersWrapper* set, uint32_t mode, float seconds = 0.0f) {
        scene().PostSceneParameters(set, mode, seconds);
        gVornexRenderer.FlushCommands(true);
    }

    // Task 41 with the engine, smooth game and smooth gameplay clocks at these seconds.
    static void Frame(double engine, double game, double gameplay, float frameTime = 0.0f) {
        auto clock = [frameTime](double s) { return RenderFrameClock{int64_t(s * os::kCounterFrequency), frameTime}; };
        gVornexRenderer.PostFrameParams(clock(engine), clock(game), clock(gameplay), 0);
        gVornexRenderer.FlushCommands(true);
    }
    // A set with every section present and recognisable bytes.
    static RecordingSet* MakeSource(uint8_t fill) {
        auto* s = new RecordingSet;
        std::memset(s->Block(), fill, kSceneParameterBlockBytes);
        s->Values().cloudTexture = s->Values().layerTexture = nullptr;  // no texture behind the bytes
        for (uint32_t i = 0; i < SCENE_SECTION_COUNT; ++i) s->Block()[i] = 1;
        return s;
    }
};

TEST_F(SceneStateTest, InitOnceOverridePreviewAndTheSetInForce) {
    EXPECT_EQ(gMadeSets, 5u);
    RecordingSet* source = MakeSource(0x5A);
    Post(source, SCENE_MODE_OVERRIDE);
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
    Post(nullptr, SCENE_MODE_OVERRIDE);
    EXPECT_FALSE(scene().OverrideActive());
    EXPECT_EQ(scene().GetCurrentParameters(), Set(RendererScene::SET_IN_FORCE));

    // Bit 1 stops an override and blends; only the sections the source marks are taken.
    Post(source, SCENE_MODE_OVERRIDE);
    source->Block()[SCENE_SECTION_CLOUD_LOOK] = 0;
    Post(source, SCENE_MODE_STOP_OVERRIDE);
    EXPECT_FALSE(scene().OverrideActive());
    EXPECT_TRUE(scene().BlendRunning());
    const uint8_t* to = Set(RendererScene::SET_BLEND_TO)->Block();
    for (uint32_t s = 0; s < SCENE_SECTION_COUNT; ++s)
        EXPECT_EQ(to[kSceneParameterSections[s].offset], s == SCENE_SECTION_CLOUD_LOOK ? 0 : 0x5A) << s;
    EXPECT_EQ(to[kSceneParameterBlockBytes - 1], 0);  // outside every section
    source->Release(false, true);
}

TEST_F(SceneStateTest, BlendsRunOnTheClockTheModePicks) {
    struct Case { uint32_t mode; int clock; } cases[] = {  // clock: which of the three moves the blend
       {0, 1}, {SCENE_MODE_CLOCK_GAMEPLAY, 2}, {SCENE_MODE_CLOCK_ENGINE, 0}, {12, 1}};
    RecordingSet* source = MakeSource(1);
    RecordingSet* inForce = Set(RendererScene::SET_IN_FORCE);
    for (const Case& c : cases) {
        Frame(10.0, 20.0, 30.0);
        Post(source, c.mode | 48, 4.0f);  // linear easing: the factor is t itself
        double now[3] = {10.0, 20.0, 30.0};
        now[c.clock] += 1.0;  // one second on the chosen clock only
        inForce->blends.clear();
        Frame(now[0], now[1], now[2]);
        ASSERT_EQ(inForce->blends.size(), 1u) << c.mode;
        // The engine clock's blends start at 0: 11 s of a 4 s blend end it.
        EXPECT_FLOAT_EQ(inForce->blends[0].t, c.clock == 0 ? 1.0f : 0.25f) << c.mode;
        EXPECT_TRUE(inForce->blends[0].a == Set(RendererScene::SET_BLEND_FROM) &&
                    inForce->blends[0].b == Set(RendererScene::SET_BLEND_TO));
        EXPECT_EQ(scene().BlendRunning(), c.clock != 0);
        Frame(100.0, 100.0, 100.0);
        EXPECT_FALSE(scene().BlendRunning());
        EXPECT_EQ(inForce->blends.back().t, 1.0f);
    }
    // 0.001 s or less ends at once.
    for (float seconds : {0.001f, 0.0f}) {
        Frame(10.0, 20.0, 30.0);
        Post(source, 0, seconds);
        inForce->blends.clear();
        Frame(10.0, 20.0, 30.0);
        ASSERT_EQ(inForce->blends.size(), 1u);
        EXPECT_EQ(inForce->blends[0].t, 1.0f);
        EXPECT_FALSE(scene().BlendRunning());
    }
    source->Release(false, true);
}

TEST_F(SceneStateTest, EasingRangeAndScroll) {
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
        inForce->SetRange(ranges[i][0], ranges[i][1]);
        Frame(0, 0, 0);
        EXPECT_EQ(scene().RangeScale(), expected[2 * i]) << i;
        EXPECT_EQ(scene().RangeOffset(), expected[2 * i + 1]) << i;
    }

    // Negative drifts wrap into [0, 1).
    const Vector drift[2] = {Vector(-0.3f, -1.7f, 0.25f, 0), Vector(0.9f, -0.05f, 0, -3.0f)};
    inForce->SetDrifts(drift[0], drift[1]);
    const Vector start[2] = {scene().CloudOffset(), scene().LayerOffset()};
    for (int frame = 1; frame <= 7; ++frame) {
        Frame(0, 0, 0, 0.5f);
        for (int k = 0; k < 8; ++k) {
            const float v = (k < 4 ? scene().CloudOffset() : scene().LayerOffset())[k % 4];
            const double moved = start[k / 4][k % 4] + drift[k / 4][k % 4] * 0.5 * frame;
            EXPECT_TRUE(v >= 0.0f && v < 1.0f) << k;
            EXPECT_NEAR(v, moved - std::floor(moved), 1e-5) << k;
        }
    }
}

TEST_F(SceneStateTest, LightmapsStopAtTheFirstMissingIndexAndAreEvicted) {
    for (int i : {0, 1, 3})
        if (!rendertest::Shell("convert -size 4x4 xc:gray DDS:" + Path("scenes", "level_lm" + std::to_string(i) + ".dds")))
            GTEST_SKIP() << "ImageMagick not available";
    scene().LoadLightmaps("level");
    for (uint32_t i = 0; i < RendererScene::kLightmapCount; ++i) EXPECT_EQ(scene().Lightmap(i) != nullptr, i < 2) << i;
    ASSERT_STREQ(scene().Lightmap(1)->GetName(), "level_lm1.dds");
    EXPECT_TRUE(scene().Lightmap(0)->GetFlags() & RESOURCE_FLAG_SCENE_TEXTURE);
    EXPECT_TRUE(rendertest::WaitUntil([&] { return scene().Lightmap(1)->IsLoaded(); }));

    scene().ClearLightmaps();
    EXPECT_EQ(scene().Lightmap(0), nullptr);
    CriticalSectionGuard guard(&gResourceManager.ManagerLock());
    for (const char* name : {"level_lm0.dds", "level_lm1.dds"})
        EXPECT_LT(gResourceManager.Pool(RESOURCE_TEXTURE)->Find(name), 0) << name;
}


TEST_F(SceneStateTest, ProbeMapFilesLoadFieldByFieldOrLeaveTheMapEmpty) {
    auto write = [&](const std::string& name, const std::string& fields) {
        const std::string path = Path("scenes", name + ".lpd");
        rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/render/scene/scene_reference.py lpd " + path + " " +
                          fields);
        return resourcetest::ReadBytes(path);
    };
    auto errorsLoading = [&](const std::string& name) {  // the error lines of one load
        log.Clear();
        scene().LoadLightmaps(name.c_str());
        uint32_t n = 0;
        for (const CaptureLogSink::Message& m : log.Messages()) n += m.severity == uint8_t(LogSeverity::Error);
        return n;
    };
    if (write("probes", "3 2 4 0 1 7").empty()) GTEST_SKIP() << "python3 not available";
    EXPECT_EQ(errorsLoading("probes"), 0u);
    const LightProbeMap& map = scene().ProbeMap();
    ASSERT_TRUE(map.Width() == 3 && map.Height() == 2);
    EXPECT_EQ(map.Area(), Vector(1.5f, -2.0f, 3.25f, 4.0f));
    const uint32_t counts[4] = {4, 0, 1, 7};
    for (uint32_t l = 0; l < 4; ++l) {
        const LightProbeMap::Layer& layer = map.GetLayer(l);
        ASSERT_EQ(layer.count, counts[l]);
        ASSERT_EQ(layer.indices.size(), 6u);
        ASSERT_EQ(layer.records.size(), counts[l] * 18u);
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(layer.indices[i], l * 1000 + i);
        for (uint32_t k = 0; k < layer.records.size(); ++k)
            EXPECT_EQ(layer.records[k], uint8_t(l * 31 + k / 18 * 7 + k % 18)) << l << " " << k;
    }
    EXPECT_TRUE(Logged("Loading game light probe map probes"));
    EXPECT_TRUE(Logged("Loaded game light probe map (3x2)"));

    write("old", "2 2 1 1 1 1 2");
    EXPECT_EQ(errorsLoading("old"), 0u);  // version 2: empty, no error line
    EXPECT_TRUE(map.Empty());
    EXPECT_FALSE(Logged("Loaded game light probe map"));

    const std::vector<uint8_t> valid = write("valid", "2 3 1 2 0 3");
    for (size_t cut = 0; cut < valid.size(); ++cut) {
        resourcetest::WriteBytes(Path("scenes", "cut.lpd"), std::vector<uint8_t>(valid.begin(), valid.begin() + cut));
        EXPECT_EQ(errorsLoading("cut"), 1u) << cut;
        EXPECT_TRUE(map.Empty()) << cut;
    }
    // Counts and sizes beyond the file, and past 32 bits once multiplied.
    const uint32_t alters[][3] = {{12, 4, 4}, {24, 0xFFFFFFFFu, 4}, {8, 0xFFFF, 2}, {10, 0xFFFF, 2}, {20, 0x0E38E38Fu, 4}};
    for (const auto& [offset, value, bytes] : alters) {
        std::vector<uint8_t> altered = valid;
        std::memcpy(altered.data() + offset, &value, bytes);
        resourcetest::WriteBytes(Path("scenes", "altered.lpd"), altered);
        EXPECT_EQ(errorsLoading("altered"), 1u) << offset;
        EXPECT_TRUE(map.Empty()) << offset;
    }
    errorsLoading("valid");
    EXPECT_EQ(map.Width(), 2u);
    scene().ClearLightmaps();
    EXPECT_TRUE(map.Empty());
}

}  // namespace

namespace {

// Task 41 hands the set in force's "Fog color" (linear, w turned into 1 - w) to pixel
// c220 of the next scene constants.
TEST_F(SceneStateTest, FrameParametersPutTheFogColourIntoTheSceneConstants) {
    RecordingSet* inForce = Set(RendererScene::SET_IN_FORCE);
    rendertest::RunOnRenderThread([&] { inForce->Values().rest.fogColor = HDRColor(255, 0, 0, 51, 1.0f); });
    Frame(0, 0, 0);
    float c220[4] = {9, 9, 9, 9};
    rendertest::RunOnRenderThread([&] {
        gVornexRenderer.SetSceneConstants(0);
        gVornexRenderer.Device()->GetPixelShaderConstantF(220, c220, 1);
    });
    EXPECT_FLOAT_EQ(c220[0], 1.0f);
    EXPECT_FLOAT_EQ(c220[1], 0.0f);
    EXPECT_FLOAT_EQ(c220[2], 0.0f);
    EXPECT_NEAR(c220[3], 0.8f, 1e-6f);
}

}  // namespace
