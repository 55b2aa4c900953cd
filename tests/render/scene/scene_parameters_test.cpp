// Scene-parameter sets: the light section, directions and projections from template
// values, blends, section copies, texture slots and envelope sampling against the
// reference script. The test thread plays the render thread, except in the test of the
// template's textures, which runs the renderer and the resource manager.
//
// The render-side scene state: parameter sets, blends, scroll, ranges, lightmaps, probe file.
// test-sanitize: thread address
#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "../resources/ResourceTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/os/Clock.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/ResourcePool.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

namespace {

std::string Color(const HDRColor& c) {
    char text[96];
    std::snprintf(text, sizeof text, " %d %d %d %d %.9g", c.c[0], c.c[1], c.c[2], c.c[3], c.intensity);
    return text;
}

void ExpectVector(const Vector& got, const float* want, const std::string& what, float tolerance = 2e-5f) {
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], tolerance) << what << " component " << k;
}

// A wrapper on the heap (the block is 18 kB) whose destruction drops its references.
std::unique_ptr<SceneParametersWrapper> Make(const SceneParameterValues& values) {
    auto w = std::make_unique<SceneParametersWrapper>();
    w->CopyFromTemplate(values, false);
    return w;
}

HDRColor RandomColor(std::mt19937& random) {
    return HDRColor(uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random()),
                    0.5f + float(random() % 100) / 50.0f);
}

TEST(SceneParametersTest, LightSectionMatchesTheReference) {
    std::mt19937 random(150);
    for (int i = 0; i < 24; ++i) {
        auto v = std::make_unique<SceneParameterValues>();
        v->twoSidedMode = uint32_t(i % 3);
        v->separateSpecularParams = (i / 3) % 2 == 1;
        v->specularMultiplier = 0.5f + float(random() % 10) / 4.0f;
        v->color = RandomColor(random), v->secondaryColor = RandomColor(random);
        v->sideColor = RandomColor(random), v->specularColor = RandomColor(random);
        v->lightYaw = float(random() % 720) - 360.0f, v->lightPitch = float(random() % 180) - 90.0f;
        v->specularYaw = float(random() % 360), v->specularPitch = float(random() % 90);
        char args[160];
        std::snprintf(args, sizeof args, "sun %u %d %.9g", v->twoSidedMode, int(v->separateSpecularParams),
                      v->specularMultiplier);
        std::string command = args + Color(v->color) + Color(v->secondaryColor) + Color(v->sideColor) +
                              Color(v->specularColor);
        std::snprintf(args, sizeof args, " %.9g %.9g %.9g %.9g", v->lightYaw, v->lightPitch, v->specularYaw,
                      v->specularPitch);
        command += args;
        const std::vector<float> want = scenetest::ReferenceFloats(command);
        if (want.size() != 24) GTEST_SKIP() << "python3 not available";
        const auto w = Make(*v);
        const SceneLightSection& l = w->Values().light;
        const Vector* got[6] = {&l.lightColor, &l.secondaryColor, &l.sideColor, &l.specularColor, &l.lightDirection,
                                &l.specularDirection};
        for (int k = 0; k < 6; ++k) ExpectVector(*got[k], &want[4 * k], command + " vector " + std::to_string(k), 1e-4f);
    }
}

// The edge the design names: a red light and a blue secondary colour in mode 2 give a
// side colour of half each before the side-colour blend.
TEST(SceneParametersTest, GoochModeSideColourIsHalfwayBetweenLightAndSecondary) {
    auto v = std::make_unique<SceneParameterValues>();
    v->twoSidedMode = 2;
    v->color = HDRColor(255, 0, 0, 255, 1.0f);
    v->secondaryColor = HDRColor(0, 0, 255, 255, 1.0f);
    v->sideColor = HDRColor(0, 0, 0, 0, 1.0f);  // weight 0: no blend
    const auto w = Make(*v);
    const float want[4] = {0.5f, 0.0f, 0.5f, 1.0f};
    ExpectVector(w->Values().light.sideColor, want, "side colour");
}

TEST(SceneParametersTest, ProjectionsMatchTheReference) {
    std::mt19937 random(9);
    for (int i = 0; i < 16; ++i) {
        auto v = std::make_unique<SceneParameterValues>();
        v->cloudProjectionYaw = float(random() % 360), v->cloudProjectionPitch = float(random() % 90);
        v->cloudProjectionScale = 1.0f + float(random() % 40), v->cloudProjectionRotation = float(random() % 360);
        v->layerProjectionScale = 0.5f + float(random() % 30), v->layerProjectionRotation = float(random() % 360);
        char args[200];
        std::snprintf(args, sizeof args, "proj %.9g %.9g %.9g %.9g %.9g %.9g", v->cloudProjectionYaw,
                      v->cloudProjectionPitch, v->cloudProjectionScale, v->cloudProjectionRotation,
                      v->layerProjectionScale, v->layerProjectionRotation);
        const std::vector<float> want = scenetest::ReferenceFloats(args);
        if (want.size() != 32) GTEST_SKIP() << "python3 not available";
        const auto w = Make(*v);
        for (int r = 0; r < 4; ++r) {
            ExpectVector(w->Values().cloudProjection.r[r], &want[4 * r], std::string(args) + " cloud row " + std::to_string(r));
            ExpectVector(w->Values().layerProjection.r[r], &want[16 + 4 * r], std::string(args) + " layer row " + std::to_string(r));
        }
        // A scroll moves the cloud's translation row only; the layer projection keeps none
        // (the composite adds the layer offset on its own).
        w->RebuildCloudProjection(Vector(0.25f, 0.5f, 0, 0));
        EXPECT_NEAR(w->Values().cloudProjection.r[3].x, want[12] + 0.25f, 1e-5f);
        EXPECT_NEAR(w->Values().cloudProjection.r[3].y, want[13] + 0.5f, 1e-5f);
        EXPECT_NEAR(w->Values().cloudProjection.r[2].x, want[8], 1e-5f);
        for (int r = 0; r < 4; ++r)
            ExpectVector(w->Values().layerProjection.r[r], &want[16 + 4 * r], std::string(args) + " scrolled layer row " + std::to_string(r));
    }
}

TEST(SceneParametersTest, NoCloudTextureGivesZeroColoursAndEmptySlots) {
    const auto w = Make(SceneParameterValues());
    const float zero[4] = {0, 0, 0, 0};
    ExpectVector(w->Values().cloudColor, zero, "cloud colour");
    ExpectVector(w->Values().layerColor, zero, "layer colour");
    EXPECT_EQ(w->Values().cloudTexture, nullptr);
    EXPECT_EQ(w->Values().layerTexture, nullptr);
    // The readers the scene manager uses come from the template's fog range.
    EXPECT_EQ(w->RangeStart(), 700.0f);
    EXPECT_EQ(w->RangeEnd(), 1500.0f);
}

struct BlendPair {
    std::unique_ptr<SceneParametersWrapper> a, b;
    BlendPair() {
        std::mt19937 random(3);
        auto va = std::make_unique<SceneParameterValues>(), vb = std::make_unique<SceneParameterValues>();
        va->lightYaw = 10, vb->lightYaw = 80, va->lightPitch = 20, vb->lightPitch = 60;
        va->color = RandomColor(random), vb->color = RandomColor(random);
        va->rest.fogColor = HDRColor(0, 1, 200, 7, 1.0f), vb->rest.fogColor = HDRColor(255, 2, 100, 8, 3.0f);
        va->rest.fogStart = 100, vb->rest.fogStart = 300;
        va->rest.srgb = true, vb->rest.srgb = false;
        vb->affectsSun = true, vb->affectsLayerProjection = true;
        for (uint32_t j = 0; j < kColorLookupEntries; ++j) vb->colorLookupCurve[j] = RandomColor(random);
        for (uint32_t j = 0; j < kRgbShiftEntries; ++j) vb->rgbShiftScaleCurve[j] = float(j);
        a = Make(*va), b = Make(*vb);
    }
};

TEST(SceneParametersTest, BlendEndsReproduceTheSetsAndTheMiddleMatchesTheReference) {
    BlendPair p;
    SceneParametersWrapper out;
    for (float t : {0.0f, 1.0f}) {
        out.Blend(*p.a, *p.b, t);
        const SceneParametersWrapper& want = t == 0.0f ? *p.a : *p.b;
        // Everything but the flags (always b's) matches the end's set.
        EXPECT_EQ(std::memcmp(out.Block() + 16, want.Block() + 16, kSceneParameterBlockBytes - 16), 0) << t;
        EXPECT_EQ(std::memcmp(out.Block(), p.b->Block(), SCENE_SECTION_COUNT), 0) << t;
    }
    out.Blend(*p.a, *p.b, 0.5f);
    const SceneParameterBlock& x = p.a->Values();
    const SceneParameterBlock& y = p.b->Values();
    const SceneParameterBlock& v = out.Values();
    const auto expectColor = [](const HDRColor& got, const HDRColor& ca, const HDRColor& cb, const std::string& what) {
        const std::vector<float> want = scenetest::ReferenceFloats("hdrlerp" + Color(ca) + Color(cb) + " 0.5");
        if (want.size() != 5) return;
        for (int k = 0; k < 4; ++k) EXPECT_EQ(got.c[k], uint8_t(want[k])) << what << " channel " << k;
        EXPECT_FLOAT_EQ(got.intensity, want[4]) << what;
    };
    expectColor(v.rest.fogColor, x.rest.fogColor, y.rest.fogColor, "fog colour");
    for (uint32_t j : {0u, 17u, 63u})
        expectColor(v.colorLookupCurve[j], x.colorLookupCurve[j], y.colorLookupCurve[j], "lookup " + std::to_string(j));
    EXPECT_FLOAT_EQ(v.rest.fogStart, 200.0f);
    EXPECT_FLOAT_EQ(v.rgbShiftScaleCurve[10], 5.0f);
    EXPECT_FALSE(v.rest.srgb) << "from 0.5 on the bools are b's";
    // The direction is rebuilt from the blended angles (yaw 45, pitch 40).
    const std::vector<float> want = scenetest::ReferenceFloats("sun 0 0 1 255 255 255 255 1 0 0 0 0 1 0 0 0 0 1 "
                                                                "0 0 0 0 1 45 40 0 0");
    if (want.size() == 24) ExpectVector(v.light.lightDirection, &want[16], "light direction");
}

TEST(SceneParametersTest, SlotsFadeOutAndCopiesKeepTheirOwnReferences) {
    auto* h1 = new DeviceObjectHandle;
    auto* h2 = new DeviceObjectHandle;
    {
        SceneParametersWrapper a, b, out;
        a.SetCloudTexture(h1);
        a.SetLayerTexture(h1);
        b.SetLayerTexture(h2);
        EXPECT_EQ(h1->RefCount(), 3u);
        out.Blend(a, b, 0.5f);
        EXPECT_EQ(out.Values().cloudTexture, h1) << "b's empty slot keeps a's texture while t < 1";
        EXPECT_EQ(out.Values().layerTexture, h2);
        EXPECT_EQ(h1->RefCount(), 4u);
        out.Blend(a, b, 1.0f);
        EXPECT_EQ(out.Values().cloudTexture, nullptr);
        EXPECT_EQ(h1->RefCount(), 3u);
        // Whole and section copies take their own references.
        SceneParametersWrapper copy;
        copy.CopyFrom(a);
        EXPECT_EQ(h1->RefCount(), 5u);
        copy.CopyFrom(b);
        EXPECT_EQ(h1->RefCount(), 3u);
        EXPECT_EQ(h2->RefCount(), 4u);
    }
    EXPECT_EQ(h1->RefCount(), 1u);
    EXPECT_EQ(h2->RefCount(), 1u);
    h1->Unref();
    h2->Unref();
}

// A template's loaded textures: the wrapper takes one reference to each through jobs in
// the command stream, between the commands posted before and after the copy, and its
// release gives them back.
struct SceneParameterTextureTest : resourcetest::ResourceFixture {};

TEST_F(SceneParameterTextureTest, TemplateTexturesAreReferencedInStreamOrderAndReleased) {
    for (const char* name : {"cloud.dds", "layer.dds"})
        ASSERT_TRUE(shelltest::Shell("convert -size 8x8 gradient:red-blue -define dds:compression=none "
                                      "-define dds:mipmaps=0 '" + Path("textures", name) + "'"));
    auto* cloud = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "cloud.dds"));
    auto* layer = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "layer.dds"));
    ASSERT_TRUE(cloud && layer);
    cloud->Load(true);
    layer->Load(true);
    ASSERT_TRUE(cloud->Handle() && layer->Handle());
    DeviceObjectHandle* handles[2] = {cloud->Handle(), layer->Handle()};
    uint32_t start[2] = {}, before[2] = {}, after[2] = {}, released[2] = {};
    const auto counts = [&](uint32_t* out) {
        return std::function<void()>([&handles, out] {
            for (int i = 0; i < 2; ++i) out[i] = handles[i]->RefCount();
        });
    };
    const std::function<void()> readStart = counts(start), readBefore = counts(before), readAfter = counts(after),
                                readReleased = counts(released);
    rendertest::RunOnRenderThread(readStart);

    auto values = std::make_unique<SceneParameterValues>();
    values->cloudTexture = cloud;
    values->layerTexture = layer;
    values->cloudColor = HDRColor(255, 0, 0, 255, 1.0f);
    auto* w = new SceneParametersWrapper;
    rendertest::PostCall(&readBefore);
    w->CopyFromTemplate(*values, true);
    rendertest::PostCall(&readAfter);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(w->Values().cloudTexture, handles[0]);
    EXPECT_EQ(w->Values().layerTexture, handles[1]);
    EXPECT_GT(w->Values().cloudColor.x, 0.0f) << "a cloud texture keeps the cloud colour";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(before[i], start[i]) << "slot " << i << ": no reference before the copy's place in the stream";
        EXPECT_EQ(after[i], start[i] + 1) << "slot " << i << ": one reference once the stream passed the copy";
    }
    w->Release(true, true);
    rendertest::RunOnRenderThread(readReleased);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(released[i], start[i]) << "slot " << i;
}

TEST(SceneParametersTest, SectionCopiesTakeExactlyTheFlaggedRanges) {
    for (uint32_t mask = 0; mask < (1u << SCENE_SECTION_COUNT); mask += 3) {
        SceneParametersWrapper source, target;
        std::memset(source.Block(), 0xA5, kSceneParameterBlockBytes);
        source.Values().cloudTexture = source.Values().layerTexture = nullptr;
        for (uint32_t s = 0; s < SCENE_SECTION_COUNT; ++s) source.Block()[s] = (mask >> s) & 1;
        target.CopySectionsFrom(source);
        for (uint32_t i = SCENE_SECTION_COUNT; i < kSceneParameterBlockBytes; ++i) {
            bool inside = false;
            for (uint32_t s = 0; s < SCENE_SECTION_COUNT; ++s) {
                const SceneParameterSectionBytes& r = kSceneParameterSections[s];
                inside |= ((mask >> s) & 1) && i >= r.offset && i < r.offset + r.bytes;
            }
            const bool slot = (i >= offsetof(SceneParameterBlock, cloudTexture) &&
                               i < offsetof(SceneParameterBlock, cloudTexture) + sizeof(void*)) ||
                              (i >= offsetof(SceneParameterBlock, layerTexture) &&
                               i < offsetof(SceneParameterBlock, layerTexture) + sizeof(void*));
            if (slot) continue;
            ASSERT_EQ(target.Block()[i], inside ? 0xA5 : 0) << "mask " << mask << " byte " << i;
        }
    }
}

TEST(SceneParametersTest, EnvelopeSamplesMatchAnIndependentSampler) {
    std::mt19937 random(4148);
    for (int round = 0; round < 40; ++round) {
        const uint32_t mode = round % 4 == 3 ? 5u : uint32_t(round % 3);
        const uint32_t count = uint32_t(random() % 8);
        std::vector<uint32_t> times(count);
        std::vector<HDRColor> keys(count);
        uint32_t at = 0;
        for (uint32_t k = 0; k < count; ++k) {
            at += round % 5 == 4 ? uint32_t(random() % 2) * 50 : uint32_t(random() % 500);  // repeated times too
            times[k] = at, keys[k] = RandomColor(random);
        }
        std::string command = "envelope " + std::to_string(mode) + " " + std::to_string(count);
        for (uint32_t t : times) command += " " + std::to_string(t);
        for (const HDRColor& c : keys) command += Color(c);
        struct Query { uint32_t index; float t; };
        std::vector<Query> queries;
        for (int q = 0; q < 12; ++q) {
            queries.push_back({uint32_t(random() % (count + 2)), float(int(random() % 4000) - 200) / 1024.0f});
            char args[64];
            std::snprintf(args, sizeof args, " %u %.9g", queries.back().index, queries.back().t);
            command += args;
        }
        const std::string reference = scenetest::Reference(command);
        if (reference.empty()) GTEST_SKIP() << "python3 not available";
        std::istringstream lines(reference);
        const HDRColor sentinel(1, 2, 3, 4, -7.0f);
        for (const Query& q : queries) {
            std::string line;
            ASSERT_TRUE(std::getline(lines, line)) << command;
            HDRColor got = sentinel;
            SceneParametersWrapper::SampleEnvelope({mode, times.data(), keys.data(), count}, q.index, q.t, got);
            if (line == "-") {
                EXPECT_EQ(got, sentinel) << command << " query " << q.index << " " << q.t;
                continue;
            }
            const std::vector<double> want = rendertest::Numbers(line);
            ASSERT_EQ(want.size(), 5u);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(got.c[k], uint8_t(want[k])) << command << " query " << q.index << " " << q.t << " ch " << k;
            EXPECT_NEAR(got.intensity, want[4], 1e-4) << command;
        }
    }
}

}  // namespace

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
    scene().PostPreviewOn();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(scene().GetCurrentParameters(), Set(RendererScene::SET_PREVIEW));
    EXPECT_EQ(Set(RendererScene::SET_PREVIEW)->Block()[100], 0x5A);
    scene().PostPreviewOff();
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
    if (write("probes", "3 2 4 2 1 7").empty()) GTEST_SKIP() << "python3 not available";
    EXPECT_EQ(errorsLoading("probes"), 0u);
    const LightProbeMap& map = scene().ProbeMap();
    ASSERT_TRUE(map.Width() == 3 && map.Height() == 2);
    EXPECT_EQ(map.Area(), Vector(1.5f, -2.0f, 3.25f, 4.0f));
    const uint32_t counts[4] = {4, 2, 1, 7};
    for (uint32_t l = 0; l < 4; ++l) {
        const LightProbeMap::Layer& layer = map.GetLayer(l);
        ASSERT_EQ(layer.count, counts[l]);
        ASSERT_EQ(layer.indices.size(), 6u);
        ASSERT_EQ(layer.records.size(), counts[l] * 18u);
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(layer.indices[i], (l * 1000 + i) % counts[l]);
        for (uint32_t k = 0; k < layer.records.size(); ++k)
            EXPECT_EQ(layer.records[k], uint8_t(l * 31 + k / 18 * 7 + k % 18)) << l << " " << k;
    }
    EXPECT_TRUE(Logged("Loading game light probe map probes"));
    EXPECT_TRUE(Logged("Loaded game light probe map (3x2)"));

    write("old", "2 2 1 1 1 1 2");
    EXPECT_EQ(errorsLoading("old"), 0u);  // version 2: empty, no error line
    EXPECT_TRUE(map.Empty());
    EXPECT_FALSE(Logged("Loaded game light probe map"));

    const std::vector<uint8_t> valid = write("valid", "2 3 1 2 1 3");
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
    // Indices past their layer's records (every cell 0xFFFFFFFF, or one equal to the
    // count) are refused with one line naming the file. A layer without probes names
    // none, whatever its grid holds, and a map of such layers loads.
    const std::vector<uint8_t> withEmpty = write("empty_layer", "2 3 1 2 0 3");
    const std::vector<uint8_t> allEmpty = write("all_empty", "2 3 0 0 0 0");
    struct Index {
        const std::vector<uint8_t>* file;
        uint32_t counts[4];
        std::vector<size_t> cells;  // index words (layer * 6 + cell) to overwrite; none: as written
        uint32_t value;
        bool loads;
    } indices[] = {
        {&valid, {1, 2, 1, 3}, {0, 1, 2, 3, 4, 5}, 0xFFFFFFFFu, false},  // layer 0, all cells
        {&valid, {1, 2, 1, 3}, {6 + 4}, 2, false},                       // layer 1 holds 2 probes
        {&valid, {1, 2, 1, 3}, {18 + 5}, 3, false},                      // layer 3 holds 3
        {&withEmpty, {1, 2, 0, 3}, {}, 0, true},                         // layer 2 holds none
        {&withEmpty, {1, 2, 0, 3}, {12, 13, 14, 15, 16, 17}, 0xFFFFFFFFu, true},
        {&allEmpty, {0, 0, 0, 0}, {}, 0, true},
    };
    for (const Index& c : indices) {
        std::vector<uint8_t> altered = *c.file;
        for (size_t cell : c.cells) {
            // Layer l's indices follow the header and the earlier layers' indices and records.
            const size_t layer = cell / 6;
            size_t at = LightProbeMap::kHeaderBytes;
            for (size_t l = 0; l < layer; ++l) at += 6 * 4 + c.counts[l] * 18;
            std::memcpy(altered.data() + at + (cell % 6) * 4, &c.value, 4);
        }
        SCOPED_TRACE(testing::Message() << c.counts[0] << c.counts[1] << c.counts[2] << c.counts[3] << " "
                                        << c.cells.size() << " cells of " << c.value);
        resourcetest::WriteBytes(Path("scenes", "badindex.lpd"), altered);
        EXPECT_EQ(errorsLoading("badindex"), c.loads ? 0u : 1u);
        EXPECT_EQ(Logged("Light probe map badindex is damaged"), !c.loads);
        EXPECT_EQ(map.Empty(), !c.loads);
        EXPECT_EQ(Logged("Loaded game light probe map (2x3)"), c.loads);
        for (uint32_t l = 0; c.loads && l < 4; ++l) EXPECT_EQ(map.GetLayer(l).count, c.counts[l]);
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
