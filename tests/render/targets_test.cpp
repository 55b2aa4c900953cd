// Render targets per quality, multisampling and depth format; refraction rectangle; shadow map.
#include "RenderTestSupport.h"
#include "render/DeviceObjectHandle.h"

using namespace rendertest;
using namespace gfx;

namespace {

struct Combination { uint32_t quality, msaa; bool intz, rawz, tenBit; float scale; };

struct TargetsTest : RendererFixture {
    Combination combo{};
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = combo.quality;
        s.msaaMode = combo.msaa;
        s.semiResolutionScreenScale = combo.scale;
        CapabilityFaults f;
        f.refuseIntz = !combo.intz;
        f.refuseRawz = !combo.rawz;
        f.refuse10BitRenderTarget = !combo.tenBit;
        SetCapabilityFaults(f);
    }
    void Restart(const Combination& c) {
        TearDown();
        combo = c;
        SetUp();
    }
};

// What the design's table asks for one target: absent, or format, size and samples.
struct Expected { bool present; Format format; uint32_t width, height, samples; bool texture; };

void Check(RenderTargetId id, const Expected& e, const std::string& where) {
    const RenderTarget& t = gVornexRenderer.Target(id);
    SCOPED_TRACE(where + " " + RenderTargetName(id));
    ASSERT_EQ(t.surface != nullptr, e.present);
    if (!e.present) return;
    SurfaceDesc d{};
    t.surface->GetDesc(&d);
    EXPECT_EQ(d.format, e.format);
    EXPECT_EQ(d.width, e.width);
    EXPECT_EQ(d.height, e.height);
    EXPECT_EQ(uint32_t(d.multiSampleType), e.samples);
    EXPECT_EQ(d.multiSampleQuality, 0u) << "the one quality level the device offers";
    EXPECT_EQ(t.texture != nullptr, e.texture);
}

TEST_F(TargetsTest, EveryCombinationMakesTheTargetsOfTheTable) {
    for (uint32_t quality = 0; quality <= 4; ++quality)
        for (uint32_t msaa = 0; msaa <= 2; ++msaa)
            for (uint32_t depth = 0; depth < 3; ++depth)
                for (bool tenBit : {true, false}) {
                    const Combination c{quality, msaa, depth == 0, depth != 2, tenBit, (quality & 1) ? 0.5f : 1.0f};
                    Restart(c);
                    const std::string where = "q" + std::to_string(quality) + " msaa" + std::to_string(msaa) +
                                              " depth" + std::to_string(depth) + (tenBit ? "" : " no10bit");
                    RunOnRenderThread([&] {
                        const uint32_t W = gVornexRenderer.RenderWidth(), H = gVornexRenderer.RenderHeight();
                        const uint32_t BW = gVornexRenderer.BackBufferWidth(), BH = gVornexRenderer.BackBufferHeight();
                        ASSERT_EQ(W, uint32_t(kClientWidth * c.scale));
                        const bool hw = c.intz || c.rawz, scaled = W != BW || H != BH;
                        const Format depthFormat = hw ? (c.intz ? FMT_INTZ : FMT_RAWZ) : FMT_D24S8;
                        const Format normal = tenBit ? FMT_A2B10G10R10 : FMT_A8R8G8B8;
                        const Format scene = quality >= 2 ? FMT_A16B16G16R16F : normal;
                        const uint32_t samples = msaa == 1 ? 2 : msaa == 2 ? 4 : 0;
                        const uint32_t S = quality == 0 ? 0 : quality < 2 ? 1024 : 2048;
                        Check(TARGET_MAIN_DEPTH, {true, depthFormat, W, H, 0, hw}, where);
                        Check(TARGET_BACKBUFFER_DEPTH, {scaled, depthFormat, BW, BH, 0, hw}, where);
                        Check(TARGET_NORMAL, {true, normal, W, H, 0, true}, where);
                        Check(TARGET_MSAA_COLOR, {samples > 0, scene, W, H, samples, false}, where);
                        Check(TARGET_MSAA_DEPTH, {samples > 0, FMT_D24S8, W, H, samples, false}, where);
                        Check(TARGET_SCENE_COLOR, {true, scene, W, H, 0, true}, where);
                        Check(TARGET_BACKBUFFER_COLOR, {scaled, FMT_A8R8G8B8, BW, BH, 0, true}, where);
                        Check(TARGET_REFRACTION, {quality >= 2, scene, W, H, 0, true}, where);
                        Check(TARGET_LINEAR_DEPTH, {!hw, FMT_R32F, W, H, 0, true}, where);
                        Check(TARGET_LIGHT_0, {true, FMT_A8R8G8B8, W, H, 0, true}, where);
                        Check(TARGET_LIGHT_1, {true, FMT_A8R8G8B8, W, H, 0, true}, where);
                        Check(TARGET_OCCLUSION_0, {quality >= 3, FMT_G16R16F, W, H, 0, true}, where);
                        Check(TARGET_OCCLUSION_1, {quality >= 3, FMT_G16R16F, W, H, 0, true}, where);
                        Check(TARGET_SHADOW_MAP, {S > 0, FMT_D16, S, S, 0, true}, where);
                        Check(TARGET_SHADOW_DUMMY, {S > 0, FMT_A8R8G8B8, S, S, 0, true}, where);
                        EXPECT_EQ(gVornexRenderer.SceneColorFormat(), scene) << where;
                        ASSERT_NE(gVornexRenderer.SmallAmbientCube(), nullptr);
                        EXPECT_EQ(gVornexRenderer.AmbientCube()->Cube()->GetLevelCount(), 1u);
                        for (uint32_t q = 0; q < kEventQueryCount; ++q) EXPECT_NE(gVornexRenderer.EventQuery(q), nullptr);
                    });
                    EXPECT_EQ(Logged("switches to A8R8G8B8"), !tenBit) << where;
                    EXPECT_TRUE(Logged("Render target size: " + std::to_string(uint32_t(kClientWidth * c.scale)) + "x"));
                }
}

TEST_F(TargetsTest, ShadowSizeZeroReleasesTheShadowMap) {
    Restart({2, 0, true, true, true, 1.0f});
    ASSERT_NE(gVornexRenderer.Target(TARGET_SHADOW_MAP).surface, nullptr);
    const uint32_t textures = recorder->LiveObjects(ObjectKind::Texture);
    gVornexRenderer.Settings().gfxQualityLevel = 0;
    gVornexRenderer.Reset(window, kClientWidth + 2, kClientHeight, true, false);
    EXPECT_EQ(gVornexRenderer.Target(TARGET_SHADOW_MAP).surface, nullptr);
    EXPECT_EQ(gVornexRenderer.Target(TARGET_SHADOW_DUMMY).surface, nullptr);
    EXPECT_LT(recorder->LiveObjects(ObjectKind::Texture), textures);
}

TEST(RefractionRectTest, ProjectedBoxGrowsClampsAndFallsBackToTheWholeScreen) {
    Matrix view, projection, viewProjection;
    view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    projection.LoadPerspectiveFovLH(90.0f, 1.0f, 1.0f, 100.0f);
    viewProjection.Mul(projection, view);
    struct Case { const char* what; BoundingBox4 box; bool drawn; Rect rect; };
    const Case cases[] = {
        // x and y of +-1 at depth 10 project to +-0.1, grown to +-0.11: pixels 89..111 of 200.
        {"centred", {{-1, -1, 0, 1}, {1, 1, 0, 1}}, true, {89, 89, 111, 111}},
        {"a corner behind the camera", {{-1, -1, -20, 1}, {1, 1, 0, 1}}, true, {0, 0, 200, 200}},
        // x from 0.5 (depth 10) to 4 (depth 5), y +-0.2 at depth 5.
        {"clamped at the right edge", {{5, -1, -5, 1}, {20, 1, 0, 1}}, true, {149, 79, 200, 121}},
        {"entirely beside the screen", {{30, 30, 0, 1}, {40, 40, 0, 1}}, false, {}},
    };
    for (const Case& c : cases) {
        Rect r{};
        EXPECT_EQ(ComputeRefractionRect(c.box, Matrix::IDENTITY, viewProjection, 200, 200, &r), c.drawn) << c.what;
        if (!c.drawn) continue;
        EXPECT_EQ(r.left, c.rect.left) << c.what;
        EXPECT_EQ(r.top, c.rect.top) << c.what;
        EXPECT_EQ(r.right, c.rect.right) << c.what;
        EXPECT_EQ(r.bottom, c.rect.bottom) << c.what;
    }
}

}  // namespace
