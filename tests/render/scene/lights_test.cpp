// Render-side lights: attenuation against the reference, the active list and its change
// counter, the wrapper's command-47 ops decoded on the render thread, texture references.
// test-sanitize: thread address
#include <cmath>
#include <functional>
#include <random>

#include "SceneTestSupport.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/RendererLightWrapper.h"

namespace {

// A transform: rotation about y, a uniform scale, mirrored in x when asked, a position.
Matrix Placed(float yawDegrees, float scale, bool mirrored, float x = 0.0f) {
    Matrix rotation, scaling, m;
    rotation.LoadYRotation(yawDegrees);
    scaling.LoadScale(mirrored ? -scale : scale, scale, scale);
    m.Mul(rotation, scaling);  // the scale first, then the rotation
    m.r[3] = Vector(x, 1, 2, 1);
    return m;
}

std::string AttenuationArgs(uint32_t type, const Matrix& m, float inner, float outer, float angle, float falloff) {
    char args[512];
    std::snprintf(args, sizeof args, "atten %u %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g", type,
                  m.r[0].x, m.r[0].y, m.r[0].z, m.r[1].x, m.r[1].y, m.r[1].z, m.r[2].x, m.r[2].y, m.r[2].z, inner, outer,
                  angle, falloff);
    return args;
}

void SetUpLight(RendererLight& light, uint32_t type, float inner, float outer, float angle, float falloff) {
    RendererLightShape shape;
    shape.innerRange = inner, shape.outerRange = outer;
    if (type == LIGHT_TYPE_SPOT)
        light.SetupSpotLight(shape, angle, falloff);
    else if (type == LIGHT_TYPE_TUBE)
        light.SetupTubeLight(shape, 3.0f);
    else
        light.SetupPointLight(shape);
}

void ExpectNear(float got, float want, const std::string& what) {
    EXPECT_NEAR(got, want, 2e-5f * std::max(1.0f, std::fabs(want))) << what;
}

// Random point, spot and tube lights under scaled and mirrored transforms. Without a
// renderer the test thread is the only one touching the list.
TEST(RendererLightTest, AttenuationMatchesTheReference) {
    std::mt19937 random(33);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 60; ++i) {
        const uint32_t type = uint32_t(i % 3);
        const Matrix m = Placed(unit(random) * 360.0f, 0.25f + unit(random) * 4.0f, i % 2 == 1);
        const float outer = 0.5f + unit(random) * 20.0f;
        // Some inner ranges reach past the outer one and are capped.
        const float inner = outer * unit(random) * 1.3f;
        const float angle = 5.0f + unit(random) * 80.0f, falloff = unit(random);
        const std::string args = AttenuationArgs(type, m, inner, outer, angle, falloff);
        const std::vector<float> want = scenetest::ReferenceFloats(args);
        if (want.size() != 4) GTEST_SKIP() << "python3 not available";
        RendererLight light;
        light.SetTransform(m);
        SetUpLight(light, type, inner, outer, angle, falloff);
        ExpectNear(light.rangeScale, want[0], args);
        ExpectNear(light.rangeOffset, want[1], args);
        ExpectNear(light.coneScale, want[2], args);
        ExpectNear(light.coneOffset, want[3], args);
        // The factor is 1 at the (capped) inner range and 0 at the outer one.
        const float scale = m.r[type == LIGHT_TYPE_TUBE ? 0 : 2].Length3();
        const float o = outer * scale, n = std::min(inner * scale, o - 0.01f);
        EXPECT_NEAR(o * o * light.rangeScale + light.rangeOffset, 0.0f, 1e-3f) << args;
        EXPECT_NEAR(n * n * light.rangeScale + light.rangeOffset, 1.0f, 1e-3f) << args;
    }
}

// Spans too small to divide by give the flat ramp; a falloff of 0 is 0.999 of the cone.
TEST(RendererLightTest, DegenerateRampsAreFlatAndFiniteEverywhere) {
    const struct {
        uint32_t type;
        float inner, outer, angle, falloff;
        float rangeScale, rangeOffset, coneScale, coneOffset;  // NAN: from the reference
    } cases[] = {
        {LIGHT_TYPE_POINT, 0.0f, 0.005f, 0, 0, 0.0f, 1.0f, 0.0f, 0.0f},  // inner capped to -0.005: span 0
        {LIGHT_TYPE_SPOT, 1.0f, 4.0f, 0.0f, 0.5f, NAN, NAN, 0.0f, 1.0f},  // a zero cone
        {LIGHT_TYPE_SPOT, 1.0f, 4.0f, 40.0f, 1.0f, NAN, NAN, NAN, NAN},   // falloff 1: f = 0
        {LIGHT_TYPE_SPOT, 1.0f, 4.0f, 40.0f, 0.0f, NAN, NAN, NAN, NAN},   // falloff 0: f = 0.999
        {LIGHT_TYPE_TUBE, 2.0f, 2.0f, 0, 0, NAN, NAN, 0.0f, 0.0f},        // inner = outer: outer - 0.01
    };
    for (const auto& c : cases) {
        RendererLight light;
        SetUpLight(light, c.type, c.inner, c.outer, c.angle, c.falloff);
        const std::string args = AttenuationArgs(c.type, Matrix::IDENTITY, c.inner, c.outer, c.angle, c.falloff);
        std::vector<float> want = scenetest::ReferenceFloats(args);
        const float fixed[4] = {c.rangeScale, c.rangeOffset, c.coneScale, c.coneOffset};
        const float got[4] = {light.rangeScale, light.rangeOffset, light.coneScale, light.coneOffset};
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(std::isfinite(got[k])) << args << " " << k;
            if (!std::isnan(fixed[k]))
                EXPECT_EQ(got[k], fixed[k]) << args << " " << k;
            else if (want.size() == 4)
                ExpectNear(got[k], want[k], args + " " + std::to_string(k));
        }
    }
    // With falloff 0 the inner cone is 0.999 of the angle: the ramp is steep but finite.
    RendererLight spot;
    SetUpLight(spot, LIGHT_TYPE_SPOT, 1.0f, 4.0f, 40.0f, 0.0f);
    const float edge = std::cos(40.0f * 0.017453292f), inside = std::cos(40.0f * 0.999f * 0.017453292f);
    EXPECT_NEAR(edge * spot.coneScale + spot.coneOffset, 0.0f, 1e-2f);
    EXPECT_NEAR(inside * spot.coneScale + spot.coneOffset, 1.0f, 1e-2f);
}

// The shadow flag marks a mirrored transform of spot and tube lights only, whichever of
// the transform and the set-up comes last.
TEST(RendererLightTest, ShadowFlagOnlyForMirroredSpotAndTubeLights) {
    for (uint32_t type = 0; type < 4; ++type) {
        for (bool mirrored : {false, true}) {
            for (bool transformFirst : {false, true}) {
                RendererLight light;
                const Matrix m = Placed(30.0f, 2.0f, mirrored);
                if (transformFirst) light.SetTransform(m);
                if (type == LIGHT_TYPE_DIRECTIONAL_AMBIENT)
                    light.SetupDirectionalAmbientLight({});
                else
                    SetUpLight(light, type, 1, 2, 30, 0.5f);
                if (!transformFirst) light.SetTransform(m);
                EXPECT_EQ(light.shadowFlag, mirrored && (type == LIGHT_TYPE_SPOT || type == LIGHT_TYPE_TUBE))
                    << type << " " << mirrored << " " << transformFirst;
            }
        }
    }
}

TEST(RendererLightTest, ListEntriesAndTheChangeCounter) {
    RendererLight a, b;
    uint32_t counter = gActiveLights.ChangeCounter();
    const auto rose = [&counter] {
        const uint32_t now = gActiveLights.ChangeCounter(), before = counter;
        counter = now;
        return now != before;
    };
    a.SetTransform(Placed(10, 1, false));
    EXPECT_FALSE(rose()) << "an unlisted light's transform";
    SetUpLight(a, LIGHT_TYPE_POINT, 1, 2, 0, 0);
    EXPECT_TRUE(rose()) << "enter";
    SetUpLight(a, LIGHT_TYPE_SPOT, 1, 2, 30, 0);
    SetUpLight(b, LIGHT_TYPE_TUBE, 1, 2, 0, 0);
    b.SetupDirectionalAmbientLight({});
    EXPECT_TRUE(rose());
    int entries = 0;
    for (RendererLight* l = gActiveLights.Head(); l; l = l->next) entries += l == &a || l == &b;
    EXPECT_EQ(entries, 2) << "set-ups repeated keep one entry each";
    EXPECT_EQ(gActiveLights.Head(), &a);
    a.SetTransform(Placed(20, 1, false));
    EXPECT_TRUE(rose()) << "a listed light's transform";
    a.Unlink();
    EXPECT_TRUE(rose()) << "leave";
    EXPECT_EQ(gActiveLights.Head(), &b);
    a.Unlink();
    a.SetTransform(Placed(30, 1, false));
    EXPECT_FALSE(rose()) << "unlinking twice, or moving an unlisted light";
    {
        RendererLight c;
        SetUpLight(c, LIGHT_TYPE_POINT, 1, 2, 0, 0);
        rose();
    }
    EXPECT_TRUE(rose()) << "destruction leaves the list";
    EXPECT_EQ(gActiveLights.Head(), &b);
    EXPECT_EQ(b.next, nullptr);
}

// ---------------------------------------------------------------------------------------
// The wrapper on the real render thread

struct LightWrapperTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
    }
    // A handle holding a 4 x 4 texture (one reference: the test's).
    DeviceObjectHandle* MakeTexture() {
        DeviceObjectHandle* h = new DeviceObjectHandle;
        rendertest::RunOnRenderThread([&] { h->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED); });
        return h;
    }
    void Unref(DeviceObjectHandle* h) {
        rendertest::RunOnRenderThread([&] { h->Unref(); });
    }
    uint32_t LiveTextures() {
        gVornexRenderer.FlushCommands(true);
        return recorder->LiveObjects(gfx::ObjectKind::Texture);
    }
};

TEST_F(LightWrapperTest, OpsDecodeInStreamOrderAndOpsAboveFourAreIgnored) {
    auto* w = new RendererLightWrapper;
    int marker = 0;
    w->PostTransform(Placed(45, 2, true, 7));
    w->PostSpotLight(Vector(1, 0.5f, 0.25f, 1), 3.0f, 1.0f, 6.0f, 35.0f, 0.4f, nullptr, Vector(10, 20, 30, 0),
                     Vector(2, 2, 2, 1));
    // Op 5 with a payload the executor must not read: the stream goes on.
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + 2 * sizeof(void*) + 64));
    gVornexRenderer.Ring().WriteValue(RenderCallFunction(&RendererLightWrapper::Execute));
    gVornexRenderer.Ring().WriteValue(uintptr_t(5));
    gVornexRenderer.Ring().WriteValue(w);
    gVornexRenderer.Ring().WriteValue(Placed(0, 9, false));
    gVornexRenderer.FlushCommands(true);
    rendertest::RunOnRenderThread([&] {
        const RendererLight& l = w->Light();
        EXPECT_EQ(l.type, uint32_t(LIGHT_TYPE_SPOT));
        EXPECT_EQ(l.transform.r[3], Vector(7, 1, 2, 1));
        EXPECT_EQ(l.colors[0], Vector(1, 0.5f, 0.25f, 1));
        EXPECT_EQ(l.intensity, 3.0f);
        EXPECT_EQ(l.outerRange, 6.0f);
        EXPECT_EQ(l.coneAngle, 35.0f);
        EXPECT_EQ(l.coneFalloff, 0.4f);
        EXPECT_EQ(l.maskAngles, Vector(10, 20, 30, 0));
        EXPECT_EQ(l.maskScale, Vector(2, 2, 2, 1));
        EXPECT_TRUE(l.shadowFlag);
        EXPECT_TRUE(l.listed);
        marker = 1;
    });
    EXPECT_EQ(marker, 1);

    w->PostTubeLight(Vector(0, 1, 0, 1), 2.0f, 1.0f, 3.0f, 8.0f, nullptr, Vector(), Vector(1, 1, 1, 1));
    // The light entity's order: "Color", "Secondary color", "Side color", "Specualar
    // multiplier", "Two sided mode", "Wrap around factor", mask, block-rendering mask.
    const uint32_t twoSidedMode = 2;  // "Gooch lighting", as the entity holds it (u32)
    w->PostDirectionalAmbientLight(Vector(1, 0, 0, 1), Vector(0, 0, 1, 1), Vector(0, 1, 0, 0.5f), 0.5f, twoSidedMode,
                                   0.25f, nullptr, Vector(1, 2, 3, 0), Vector(0.1f, 0.2f, 0.3f, 0.75f), 0x6u);
    rendertest::RunOnRenderThread([&] {
        const RendererLight& l = w->Light();
        EXPECT_EQ(l.type, uint32_t(LIGHT_TYPE_DIRECTIONAL_AMBIENT));
        EXPECT_EQ(l.length, 8.0f) << "the tube set-up ran before";
        EXPECT_EQ(l.colors[0], Vector(1, 0, 0, 1));
        EXPECT_EQ(l.colors[1], Vector(0, 0, 1, 1));
        EXPECT_EQ(l.colors[2], Vector(0, 1, 0, 0.5f)) << "the side colour is the third colour";
        EXPECT_EQ(l.scalars[0], 0.25f) << "wrap around";
        EXPECT_EQ(l.scalars[1], 0.5f) << "the intensity";
        EXPECT_EQ(l.exclusionBits, 0x6u);
        EXPECT_EQ(l.ambientKind, AMBIENT_KIND_BLENDED);
        EXPECT_EQ(l.maskAngles, Vector(1, 2, 3, 0));
        EXPECT_FALSE(l.shadowFlag);
        // The direction is the transform's z axis, kept through the set-up.
        const Matrix& m = l.transform;
        EXPECT_EQ(l.direction, Vector(m.r[2].x, m.r[2].y, m.r[2].z, 0));
    });
    // A new transform turns it: z axis along +x.
    Matrix turned = Matrix::IDENTITY;
    turned.r[0] = Vector(0, 0, -1, 0), turned.r[2] = Vector(2, 0, 0, 0);
    w->PostTransform(turned);
    rendertest::RunOnRenderThread([&] { EXPECT_EQ(w->Light().direction, Vector(2, 0, 0, 0)); });
    const uint32_t before = gActiveLights.ChangeCounter();
    w->Release(true, false);
    gVornexRenderer.FlushCommands(true);
    EXPECT_NE(gActiveLights.ChangeCounter(), before) << "destruction on the render thread leaves the list";
    rendertest::RunOnRenderThread([&] { EXPECT_EQ(gActiveLights.Head(), nullptr); });
}

TEST_F(LightWrapperTest, TextureReferencesFollowTheStoredHandle) {
    const uint32_t baseline = LiveTextures();
    DeviceObjectHandle* first = MakeTexture();
    DeviceObjectHandle* second = MakeTexture();
    auto* w = new RendererLightWrapper;
    const Vector none;
    w->PostPointLight(Vector(1, 1, 1, 1), 1, 1, 2, first, none, none);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(first->RefCount(), 2u);
    w->PostPointLight(Vector(1, 1, 1, 1), 1, 1, 2, first, none, none);  // the same handle again
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(first->RefCount(), 2u);
    w->PostDirectionalAmbientLight(none, none, none, 1, 0, 0.0f, second, none, none, 0);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(first->RefCount(), 1u) << "a replaced handle drops to its previous count";
    EXPECT_EQ(second->RefCount(), 2u);
    Unref(first);
    Unref(second);
    EXPECT_EQ(LiveTextures(), baseline + 1) << "the light keeps its texture alive";
    w->Release(true, false);
    EXPECT_EQ(LiveTextures(), baseline) << "the destroyed light leaves no live texture";
}

// Command 47's payloads at native word size: executor, op and wrapper, then the fields
// (the 32-bit layout gives 76, 76, 84, 80 and 109 bytes). Measured as the bytes each post
// adds to the open block after its 4-byte id.
TEST_F(LightWrapperTest, PayloadSizesFollowTheWordSize) {
    constexpr uint32_t P = sizeof(void*);
    constexpr uint32_t head = sizeof(RenderCallFunction) + sizeof(uintptr_t) + P;
    auto* w = new RendererLightWrapper;
    const Vector v(1, 1, 1, 1);
    const struct {
        uint32_t op, bytes;
        std::function<void()> post;
    } cases[] = {
        {0, head + 64, [&] { w->PostTransform(Placed(0, 1, false)); }},
        {1, head + 60 + P, [&] { w->PostPointLight(v, 1, 1, 2, nullptr, v, v); }},
        {2, head + 68 + P, [&] { w->PostSpotLight(v, 1, 1, 2, 30, 0.5f, nullptr, v, v); }},
        {3, head + 64 + P, [&] { w->PostTubeLight(v, 1, 1, 2, 4, nullptr, v, v); }},
        {4, head + 93 + P, [&] { w->PostDirectionalAmbientLight(v, v, v, 1, 0, 0.0f, nullptr, v, v, 0); }},
    };
    for (const auto& c : cases) {
        uint32_t measured = 0;
        for (int attempt = 0; attempt < 2 && !measured; ++attempt) {  // a post may open a new block
            w->PostTransform(Placed(0, 1, false));
            const uint8_t* before = gVornexRenderer.Ring().Cursor();
            c.post();
            const uint8_t* after = gVornexRenderer.Ring().Cursor();
            const uint32_t pad = uint32_t((4 - uintptr_t(before) % 4) % 4);
            if (after > before && uint32_t(after - before) < 1024) measured = uint32_t(after - before) - pad - 4;
        }
        EXPECT_EQ(measured, c.bytes) << "op " << c.op;
    }
    w->Release(true, false);
    gVornexRenderer.FlushCommands(true);
}

// Main-thread posts while the render thread runs them (the ThreadSanitizer build runs
// this too): many lights set up, moved and released in one stream.
TEST_F(LightWrapperTest, ManyPostsWhileTheRenderThreadRuns) {
    std::mt19937 random(7);
    std::vector<RendererLightWrapper*> lights;
    for (int i = 0; i < 200; ++i) {
        if (lights.size() < 16 || random() % 4) {
            auto* w = lights.emplace_back(new RendererLightWrapper);
            w->PostPointLight(Vector(1, 1, 1, 1), 1, 1, float(2 + i % 5), nullptr, Vector(), Vector());
            w->PostTransform(Placed(float(i), 1.0f + float(i % 3), i % 2 == 0));
        } else {
            const size_t k = random() % lights.size();
            lights[k]->Release(true, false);
            lights.erase(lights.begin() + long(k));
        }
        if (i % 50 == 0) gVornexRenderer.FlushCommands(false);
    }
    size_t listed = 0;
    rendertest::RunOnRenderThread([&] {
        for (RendererLight* l = gActiveLights.Head(); l; l = l->next) ++listed;
    });
    EXPECT_EQ(listed, lights.size());
    for (RendererLightWrapper* w : lights) w->Release(true, false);
    rendertest::RunOnRenderThread([&] { EXPECT_EQ(gActiveLights.Head(), nullptr); });
}

}  // namespace
