// The device layer: state cache, sampler flags, texture holders, clears, constants, gamma.
// test-sanitize: thread address
#include <cmath>
#include <iomanip>

#include "resources/ResourceTestSupport.h"
#include "render/DeviceObjectHandle.h"

using namespace rendertest;
using namespace gfx;

namespace {

struct StateTest : RendererFixture {
    uint32_t RenderState(RenderStateType s) {
        uint32_t v = 0;
        gVornexRenderer.Device()->GetRenderState(s, &v);
        return v;
    }
    uint32_t SamplerState(uint32_t stage, SamplerStateType s) {
        uint32_t v = 0;
        gVornexRenderer.Device()->GetSamplerState(stage, s, &v);
        return v;
    }
    // Render and sampler states sent while f runs (on the render thread).
    uint64_t StatesSent(const std::function<void()>& f) {
        uint64_t sent = 0;
        RunOnRenderThread([&] {
            const uint64_t before = recorder->CallCount(CallKind::SetRenderState) + recorder->CallCount(CallKind::SetSamplerState);
            f();
            sent = recorder->CallCount(CallKind::SetRenderState) + recorder->CallCount(CallKind::SetSamplerState) - before;
        });
        return sent;
    }
};

TEST_F(StateTest, CacheSendsOnlyChangesAndStartsFromItsResetValues) {
    VornexRenderer& r = gVornexRenderer;
    struct Case { const char* what; std::function<void()> call; uint64_t sent; };
    const Case cases[] = {
        {"blend row 9 after a reset", [&] { r.SetBlendMode(9); }, 0},
        {"blend row 0 after row 9", [&] { r.SetBlendMode(0); }, 1},
        {"blend row 0 again", [&] { r.SetBlendMode(0); }, 0},
        {"blend row 1", [&] { r.SetBlendMode(1); }, 5},
        {"alpha-test mode 3 after a reset", [&] { r.SetAlphaTest(3, 7); }, 0},
        {"alpha test greater", [&] { r.SetAlphaTest(1, 7); }, 3},
        {"alpha test again", [&] { r.SetAlphaTest(1, 7); }, 0},
        {"alpha test off keeps the reference", [&] { r.SetAlphaTest(0, 9); }, 1},
        {"cull", [&] { r.SetCullMode(CULL_CW); }, 1},
        {"cull again", [&] { r.SetCullMode(CULL_CW); }, 0},
        {"depth after a reset (write is cached on)", [&] { r.SetDepthState(CMP_LESSEQUAL, 1, 0, 0); }, 3},
        {"depth again", [&] { r.SetDepthState(CMP_LESSEQUAL, 1, 0, 0); }, 0},
        {"depth write off", [&] { r.SetDepthState(CMP_LESSEQUAL, 0, 0, 0); }, 1},
        {"stencil ops enable first", [&] { r.SetStencilOps(STENCILOP_KEEP, STENCILOP_KEEP, STENCILOP_REPLACE); }, 4},
        {"stencil off (write mask already 0)", [&] { r.DisableStencil(); }, 1},
        {"stencil off again", [&] { r.DisableStencil(); }, 0},
        {"sRGB write", [&] { r.SetSRGBWriteState(1); }, 1},
        {"sRGB write again", [&] { r.SetSRGBWriteState(1); }, 0},
        {"sampler bit 5 alone", [&] { r.SetTexture(3, nullptr, 0x20); }, 0},
    };
    RunOnRenderThread([] { gVornexRenderer.ResetStateCache(); });
    for (const Case& c : cases) EXPECT_EQ(StatesSent(c.call), c.sent) << c.what;
    RunOnRenderThread([&] {
        EXPECT_TRUE(RenderState(RS_ALPHABLENDENABLE) == 1 && RenderState(RS_SRCBLEND) == BLEND_SRCALPHA &&
                    RenderState(RS_DESTBLEND) == BLEND_INVSRCALPHA);
        EXPECT_TRUE(RenderState(RS_ALPHAFUNC) == CMP_GREATER && RenderState(RS_ALPHAREF) == 7);
        EXPECT_EQ(RenderState(RS_STENCILZFAIL), uint32_t(STENCILOP_REPLACE));
    });
    // A reset sends stencil off, write mask 0 and eight sampler states per stage.
    EXPECT_EQ(StatesSent([] { gVornexRenderer.ResetStateCache(); }), 2u + 8u * kSamplerStageCount);
    EXPECT_EQ(gVornexRenderer.GetBlendModeRow(4), Vector(-1, 1, 1, 0));
}

TEST_F(StateTest, SamplerFlagsSelectAddressingFilteringAndSRGB) {
    struct Case { uint32_t flags; bool trilinear, srgbOff; uint32_t u, v, filter, mip, srgb; };
    const Case cases[] = {
        {0x400 | 2, false, false, TADDRESS_BORDER, TADDRESS_BORDER, TEXF_LINEAR, TEXF_POINT, 0},
        {2, false, false, TADDRESS_CLAMP, TADDRESS_WRAP, TEXF_LINEAR, TEXF_POINT, 0},
        {4, false, false, TADDRESS_WRAP, TADDRESS_CLAMP, TEXF_LINEAR, TEXF_POINT, 0},
        {8, true, false, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_POINT, TEXF_POINT, 0},
        {0x800, false, false, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_LINEAR, TEXF_POINT, 0},
        {0x800, true, false, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_LINEAR, TEXF_LINEAR, 0},
        {0x808, true, false, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_POINT, TEXF_POINT, 0},
        {1, false, false, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_LINEAR, TEXF_POINT, 1},
        {1, false, true, TADDRESS_WRAP, TADDRESS_WRAP, TEXF_LINEAR, TEXF_POINT, 0},
        {0x407 | 0x20, false, false, TADDRESS_BORDER, TADDRESS_BORDER, TEXF_LINEAR, TEXF_POINT, 1},
    };
    for (const Case& c : cases) {
        gVornexRenderer.SetTrilinearFiltering(c.trilinear);
        gVornexRenderer.SetSRGBForcedOff(c.srgbOff);
        RunOnRenderThread([&] {
            gVornexRenderer.ResetStateCache();
            gVornexRenderer.SetTexture(2, nullptr, c.flags);
            EXPECT_TRUE(SamplerState(2, SAMP_ADDRESSU) == c.u && SamplerState(2, SAMP_ADDRESSV) == c.v) << std::hex << c.flags;
            EXPECT_TRUE(SamplerState(2, SAMP_MAGFILTER) == c.filter && SamplerState(2, SAMP_MINFILTER) == c.filter &&
                        SamplerState(2, SAMP_MIPFILTER) == c.mip && SamplerState(2, SAMP_SRGBTEXTURE) == c.srgb)
                << std::hex << c.flags;
        });
    }
    gVornexRenderer.SetTrilinearFiltering(false);
    gVornexRenderer.SetSRGBForcedOff(false);
}

TEST_F(StateTest, HolderWithANewTextureIsBoundAgain) {
    RunOnRenderThread([&] {
        VornexRenderer& r = gVornexRenderer;
        auto expectBound = [&](DeviceObjectHandle* holder, const char* how) {
            const uint64_t before = recorder->CallCount(CallKind::SetTexture);
            r.SetTexture(0, holder, 0);
            EXPECT_EQ(recorder->CallCount(CallKind::SetTexture), before + 1) << how;
            BaseTexture* bound = nullptr;
            r.Device()->GetTexture(0, &bound);
            EXPECT_EQ(bound, holder->Texture()) << how;
            if (bound) bound->Release();
        };
        // A freed holder, and a new one at what may be the same address.
        auto* first = new DeviceObjectHandle;
        ASSERT_TRUE(first->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED));
        r.SetTexture(0, first, 0);
        first->Unref();
        auto* second = new DeviceObjectHandle;
        ASSERT_TRUE(second->CreateTexture(8, 8, 1, 0, FMT_A8R8G8B8, POOL_MANAGED));
        expectBound(second, second == first ? "freed, same address" : "freed");
        // A bound holder that makes a new texture in place (a reloaded texture).
        ASSERT_TRUE(second->CreateTexture(16, 16, 1, 0, FMT_A8R8G8B8, POOL_MANAGED));
        expectBound(second, "recreated");
        r.SetTexture(0, nullptr, 0);
        second->Unref();
    });
}

TEST_F(StateTest, ClearColoursSaturateEachChannel) {
    struct Case { Vector colour; uint32_t argb; };
    const Case cases[] = {
        {{2.0f, 0.5f, -1.0f, 1.5f}, 0xFFFF7F00u},
        {{0, 0, 0, 0}, 0x00000000u},
        {{1.0f, 1.0f, 1.0f, 0.25f}, 0x3FFFFFFFu},
        {{NAN, 0.999f, 1e9f, -0.0f}, 0x0000FEFFu},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        RunOnRenderThread([&] {
            Surface* light = gVornexRenderer.Target(TARGET_LIGHT_0).surface;
            ASSERT_NE(light, nullptr);
            gVornexRenderer.SetRenderTargets(light, nullptr, 2);
            gVornexRenderer.ClearTarget(CLEAR_TARGET, c.colour, 1.0f, 0);
            ASSERT_EQ(recorder->ReadSurface(light, &bytes), OK);
        });
        ASSERT_GE(bytes.size(), 4u);
        uint32_t pixel;
        std::memcpy(&pixel, bytes.data(), 4);
        EXPECT_EQ(pixel, c.argb) << c.colour.ToString();
    }
}

TEST_F(StateTest, DdsTexturesFillTheHolderOrLeaveItEmpty) {
    const std::vector<uint8_t> whole = resourcetest::SmallDds(7), cut(whole.begin(), whole.begin() + 100);
    RunOnRenderThread([&] {
        auto* holder = new DeviceObjectHandle;
        EXPECT_TRUE(gVornexRenderer.CreateTextureFromDDS(holder, whole.data(), uint32_t(whole.size()), 1, POOL_MANAGED));
        ASSERT_NE(holder->Texture2D(), nullptr);
        SurfaceDesc d{};
        holder->Texture2D()->GetLevelDesc(0, &d);
        EXPECT_EQ(d.width, 4u);
        EXPECT_EQ(d.format, FMT_A8R8G8B8);
        EXPECT_FALSE(gVornexRenderer.CreateTextureFromDDS(holder, cut.data(), uint32_t(cut.size()), 1, POOL_MANAGED));
        EXPECT_EQ(holder->Texture(), nullptr);  // the earlier texture was released first
        EXPECT_FALSE(gVornexRenderer.CreateCubeTextureFromDDS(holder, whole.data(), uint32_t(whole.size()), 1, POOL_MANAGED));
        holder->Unref();
    });
}

TEST_F(StateTest, ReconstructionConstantsMatchTheReference) {
    Matrix projection, view;
    projection.LoadPerspectiveFovLH(55.0f, 16.0f / 9.0f, 0.5f, 400.0f);
    view.LoadLookAtLH(Vector(3, 4, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    float c[3][4];
    RunOnRenderThread([&] {
        Device* d = gVornexRenderer.Device();
        d->GetPixelShaderConstantF(223, c[0], 1);
        d->GetPixelShaderConstantF(218, c[1], 1);
        d->GetPixelShaderConstantF(219, c[2], 1);
    });
    std::ostringstream args;
    args << "constants " << kClientWidth << " " << kClientHeight;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) args << " " << std::setprecision(9) << projection.At(row, col);
    const std::vector<double> expected = Numbers(RunReference(args.str()));
    if (expected.empty()) GTEST_SKIP() << "python3 not available";
    ASSERT_EQ(expected.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(c[i / 4][i % 4], expected[i], 1e-5 * std::max(1.0, std::fabs(expected[i]))) << "register " << i / 4;
    EXPECT_EQ(gVornexRenderer.CurrentView(), view);
    // The planes (z >= 0, z <= w, x <= w, x >= -w, y <= w, y >= -w in clip space):
    // points a little inside and a little outside each face, taken back to the world
    // (beyond the far face only a little, or the point lands behind the eye).
    Matrix viewProjection, inverse;
    viewProjection.Mul(projection, view);
    inverse.Inverse(viewProjection);
    const Vector centre(0, 0, 0.5f, 1);
    const Vector faces[6] = {{0, 0, 0, 1}, {0, 0, 1, 1}, {1, 0, 0.5f, 1}, {-1, 0, 0.5f, 1}, {0, 1, 0.5f, 1}, {0, -1, 0.5f, 1}};
    for (int p = 0; p < 6; ++p) {
        for (float k : {0.98f, p == 1 ? 1.0005f : 1.02f}) {
            Vector world;
            world.TransformHomogen(inverse, centre + (faces[p] - centre) * k);
            const Vector& plane = gVornexRenderer.FrustumPlanes()[p];
            EXPECT_EQ(plane.Dot3(world) + plane.w > 0.0f, k < 1.0f) << "plane " << p << " at " << k;
        }
    }
}

TEST_F(StateTest, StoredViewportComesBackOnANewTargetOnlyWhereItFits) {
    VornexRenderer& r = gVornexRenderer;
    Surface* light = r.Target(TARGET_LIGHT_0).surface;  // the render size
    Surface* dummy = nullptr;  // 1x1
    RunOnRenderThread([&] { r.Device()->CreateRenderTarget(1, 1, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, false, &dummy, nullptr); });
    ASSERT_NE(dummy, nullptr);
    SurfaceDesc d{};
    Surface* bound = nullptr;
    Viewport boundViewport{};
    RunOnRenderThread([&] {
        light->GetDesc(&d);
        r.Device()->GetRenderTarget(0, &bound);
        r.Device()->GetViewport(&boundViewport);
    });
    const uint32_t W = d.width, H = d.height;
    struct Case { const char* what; Viewport stored; Surface* target; Viewport expected; };
    const Case cases[] = {
        {"touching the right and bottom edges", {W / 4, H / 2, W - W / 4, H - H / 2, 0.25f, 0.75f}, light,
         {W / 4, H / 2, W - W / 4, H - H / 2, 0.25f, 0.75f}},
        {"filling a 1x1 target", {0, 0, 1, 1, 0.25f, 0.75f}, dummy, {0, 0, 1, 1, 0.25f, 0.75f}},
        // Kept away from the device, which would refuse it (a violation TearDown reports):
        // the target's own full viewport stays.
        {"a column down the lower half, below a 1x1 target", {0, H / 2, 1, H / 2, 0.25f, 0.75f}, dummy,
         {0, 0, 1, 1, 0.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        Viewport seen{};
        uint32_t srgb[2] = {};
        // Bit 1: the target's full viewport stays; bit 0: sRGB write.
        RunOnRenderThread([&] { r.SetRenderTargets(light, nullptr, 3), srgb[0] = RenderState(RS_SRGBWRITEENABLE); });
        r.SetViewport(c.stored.x, c.stored.y, c.stored.width, c.stored.height, c.stored.minZ, c.stored.maxZ);
        RunOnRenderThread([&] {
            r.SetRenderTargets(c.target, nullptr, 0);
            r.Device()->GetViewport(&seen);
            srgb[1] = RenderState(RS_SRGBWRITEENABLE);
        });
        EXPECT_TRUE(srgb[0] == 1 && srgb[1] == 0) << c.what;
        const Viewport& e = c.expected;
        EXPECT_TRUE(seen.x == e.x && seen.y == e.y && seen.width == e.width && seen.height == e.height &&
                    seen.minZ == e.minZ && seen.maxZ == e.maxZ)
            << c.what << ": " << seen.x << " " << seen.y << " " << seen.width << " " << seen.height << " " << seen.minZ;
    }
    RunOnRenderThread([&] {
        r.SetRenderTargets(bound, nullptr, 2);
        const Viewport& v = boundViewport;
        r.ApplyViewport(v.x, v.y, v.width, v.height, v.minZ, v.maxZ);
        bound->Release();
        dummy->Release();
    });
}

TEST_F(StateTest, GammaRampFollowsTheBrightnessExponent) {
    const float values[] = {0.0f, 0.25f, 0.5f, 0.8f, 1.0f};
    std::string args = "gamma";
    for (float b : values) args += " " + std::to_string(b);
    const std::vector<double> expected = Numbers(RunReference(args));
    if (expected.empty()) GTEST_SKIP() << "python3 not available";
    ASSERT_EQ(expected.size(), 5u * 256u);
    for (uint32_t k = 0; k < 5; ++k) {
        gVornexRenderer.SetBrightness(values[k]);
        GammaRamp ramp{};
        RunOnRenderThread([&] { gVornexRenderer.Device()->GetGammaRamp(0, &ramp); });
        for (uint32_t i = 0; i < 256; ++i) {
            EXPECT_NEAR(ramp.red[i], expected[k * 256 + i], 1.0) << values[k] << " " << i;
            EXPECT_EQ(ramp.green[i], ramp.red[i]);
            EXPECT_EQ(ramp.blue[i], ramp.red[i]);
        }
    }
    const uint64_t before = recorder->CallCount(CallKind::SetGammaRamp);
    gVornexRenderer.SetBrightness(1.0f);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(recorder->CallCount(CallKind::SetGammaRamp), before);
}

TEST_F(StateTest, ScreenScaleIsClampedAndIgnoresTinyChanges) {
    struct Case { float input, stored; };
    const Case cases[] = {{-1.0f, 0.85f}, {0.0f, 0.85f}, {0.5f, 0.925f}, {0.505f, 0.925f}, {1.0f, 1.0f},
                          {2.0f, 1.0f},   {0.2f, 0.88f}, {NAN, 0.85f}};
    for (const Case& c : cases) {
        gVornexRenderer.SetScreenScaleX(c.input);
        gVornexRenderer.SetScreenScaleY(c.input);
        float x = 0, y = 0;
        RunOnRenderThread([&] { x = gVornexRenderer.ScreenScaleXValue(), y = gVornexRenderer.ScreenScaleYValue(); });
        EXPECT_NEAR(x, c.stored, 1e-6) << c.input;
        EXPECT_NEAR(y, c.stored, 1e-6) << c.input;
    }
}

// The scene constants: vertex c249 the fixed up vector without the scene flag, pixel c220
// the scene parameter values with w taken from one (1 - w: the default parameters give 0).
TEST_F(StateTest, SceneConstantsTakeTheirWFromOne) {
    float c220[4] = {9, 9, 9, 9}, c249[4] = {9, 9, 9, 9};
    RunOnRenderThread([&] {
        gVornexRenderer.SetSceneConstants(0);
        gVornexRenderer.Device()->GetPixelShaderConstantF(220, c220, 1);
        gVornexRenderer.Device()->GetVertexShaderConstantF(249, c249, 1);
    });
    EXPECT_EQ(std::vector<float>(c220, c220 + 4), (std::vector<float>{0, 0, 0, 0}));
    EXPECT_EQ(std::vector<float>(c249, c249 + 4), (std::vector<float>{0, 1, 0, 0}));
}

// Without a depth texture the depth scale is the reciprocal of the far plane's view depth.
struct SoftwareDepthTest : StateTest {
    void Configure(RendererSettings&) override {
        CapabilityFaults f;
        f.refuseIntz = f.refuseRawz = true;
        SetCapabilityFaults(f);
    }
};

TEST_F(SoftwareDepthTest, DepthScaleComesFromTheInverseProjection) {
    Matrix projection;
    projection.LoadPerspectiveFovLH(60.0f, 1.5f, 1.0f, 250.0f);
    gVornexRenderer.SetCamera(Matrix::IDENTITY, projection, Matrix::IDENTITY);
    float c248[4];
    RunOnRenderThread([&] { gVornexRenderer.Device()->GetPixelShaderConstantF(248, c248, 1); });
    EXPECT_FALSE(gVornexRenderer.HardwareDepth());
    EXPECT_NEAR(c248[0], 1.0f / 250.0f, 1e-7);
    EXPECT_NEAR(gVornexRenderer.DepthScale(), 1.0f / 250.0f, 1e-7);
    // The eye at the origin looks down +z: the frustum's box runs from the near plane to
    // the far one, where it reaches 250 tan 30 up and down and 1.5 times that across.
    const float h = 250.0f * std::tan(30.0f * 3.14159265f / 180.0f);
    const BoundingBox4& box = gVornexRenderer.FrustumBox();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(box.min[i], (Vector(-1.5f * h, -h, 1.0f, 0))[i], 1e-2) << i;
        EXPECT_NEAR(box.max[i], (Vector(1.5f * h, h, 250.0f, 0))[i], 1e-2) << i;
    }
}

}  // namespace
