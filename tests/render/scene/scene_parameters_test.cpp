// Scene-parameter sets: the light section, directions and projections from template
// values, blends, section copies, texture slots and envelope sampling against the
// reference script. The test thread plays the render thread, except in the test of the
// template's textures, which runs the renderer and the resource manager.
// test-sanitize: thread address
#include <cstring>
#include <memory>
#include <random>

#include "../resources/ResourceTestSupport.h"
#include "SceneTestSupport.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/ResourceTexture.h"
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
