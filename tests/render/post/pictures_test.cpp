// Pictures of the post-processing passes on the drawing device (software rasteriser),
// 160 x 120: the plain composite's copy with and without sRGB writes, its tone curve
// and colour lookup, the Gaussian
// blur's profile, FXAA on a hard edge, the RGB shift of a bar, the zoom blur, and the upscale of the
// last pass at half render size, and a frame whose outline passes are skipped. Checks use
// tolerances (that frame is compared exactly); a failed check (or
// RENDER_PICTURES=<folder>) saves the picture as PNG and names it.
// test-depends: shader_data
// test-timeout: 900
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PostTestSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/gfx/PixelFormat.h"
#include "render/PostProcessMath.h"

using namespace rendertest;
using namespace posttest;

namespace {

constexpr int32_t W = 160, H = 120;

float Channel(uint32_t argb, uint32_t shift) { return static_cast<float>((argb >> shift) & 0xFF) / 255.0f; }
float Red(uint32_t c) { return Channel(c, 16); }
float Green(uint32_t c) { return Channel(c, 8); }
float Blue(uint32_t c) { return Channel(c, 0); }
float SrgbEncode(float v) { return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }
float SrgbDecode(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

struct Picture {
    std::vector<uint32_t> argb;
    uint32_t width = 0, height = 0;
    uint32_t At(uint32_t x, uint32_t y) const { return argb[y * width + x]; }
};

template <class Base>
struct PictureFixtureOf : PostFixtureOf<Base> {
    PictureFixtureOf() { this->clientWidth = W, this->clientHeight = H; }
    void SetUp() override {
        PostFixtureOf<Base>::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        this->recorder->SetDrawRecordMode(DrawRecordMode::Off);
    }
    // Render thread: the full-screen quad bound with the states a chain pass expects
    // (no culling, alpha test, blending or depth test).
    static void BindFullScreenQuad() {
        VornexRenderer& r = gVornexRenderer;
        const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
        r.Device()->SetFVF(FVF_XYZ | FVF_TEX1);
        r.Device()->SetStreamSource(0, quad.vertices, 0, 20);
        r.SetCullMode(CULL_NONE);
        r.SetAlphaTest(0, 0);
        r.SetBlendMode(0);
        r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
    }
    // Render thread: writes a picture of (x, y) -> linear RGBA into the surface through a
    // system-memory copy of its format (A16B16G16R16F or A8R8G8B8, the latter as bytes).
    static void Upload(Surface* dest, const std::function<Vector(uint32_t, uint32_t)>& colour) {
        SurfaceDesc desc{};
        dest->GetDesc(&desc);
        Device* device = gVornexRenderer.Device();
        Surface* staging = nullptr;
        ASSERT_TRUE(Succeeded(device->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format, POOL_SYSTEMMEM,
                                                                  &staging, nullptr)));
        LockedRect locked{};
        ASSERT_TRUE(Succeeded(staging->LockRect(&locked, nullptr, 0)));
        for (uint32_t y = 0; y < desc.height; ++y) {
            uint8_t* row = static_cast<uint8_t*>(locked.bits) + y * locked.pitch;
            for (uint32_t x = 0; x < desc.width; ++x) {
                const Vector c = colour(x, y);
                if (desc.format == FMT_A16B16G16R16F) {
                    uint16_t* p = reinterpret_cast<uint16_t*>(row) + 4 * x;
                    p[0] = gfx::detail::FloatToHalf(c.x), p[1] = gfx::detail::FloatToHalf(c.y), p[2] = gfx::detail::FloatToHalf(c.z), p[3] = gfx::detail::FloatToHalf(c.w);
                } else {
                    auto byte = [](float v) { return static_cast<uint8_t>(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f)); };
                    uint8_t* p = row + 4 * x;
                    p[0] = byte(c.z), p[1] = byte(c.y), p[2] = byte(c.x), p[3] = byte(c.w);
                }
            }
        }
        staging->UnlockRect();
        ASSERT_TRUE(Succeeded(device->UpdateSurface(staging, nullptr, dest, nullptr)));
        staging->Release();
    }
    // Render thread: the surface's pixels; saved as PNG under the picture folder when
    // asked or when `failed`.
    static Picture Read(Surface* s, const std::string& name, bool save = false) {
        Picture p;
        std::string error;
        EXPECT_TRUE(ReadSurfaceArgb(gVornexRenderer.Device(), s, &p.argb, &p.width, &p.height, &error)) << error;
        shadertest::SavePicture(s, "post-" + name, save);
        return p;
    }
    static Surface* BackBuffer() {
        Surface* b = nullptr;
        gVornexRenderer.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &b);
        b->Release();  // the swap chain keeps it
        return b;
    }
};

struct PicturesTest : PictureFixtureOf<shadertest::DrawingShaderFixture> {
    void Configure(RendererSettings& s) override { s.gfxQualityLevel = 3; }
};
// The same without outlines, whose composite step would cover the picture.
struct NoOutlinePicturesTest : PicturesTest {
    void Configure(RendererSettings& s) override {
        PicturesTest::Configure(s);
        s.enableOutlines = false;
    }
};

TEST_F(PicturesTest, PlainCompositeCopiesTheSceneColour) {
    ASSERT_EQ(gVornexRenderer.SceneColorFormat(), FMT_A16B16G16R16F);
    auto gradient = [](uint32_t x, uint32_t y) {
        return Vector(static_cast<float>(x) / (W - 1), static_cast<float>(y) / (H - 1), 0.5f, 1.0f);
    };
    for (bool srgb : {true, false}) {
        SCOPED_TRACE(srgb ? "sRGB" : "plain");
        Edit([&](SceneParameterBlock& p) { p.rest.srgb = srgb; });
        Picture got;
        gVornexRenderer.FlushCommands(true);
        BeginFrame();
        RunOnRenderThread([&] { Upload(gVornexRenderer.Target(TARGET_SCENE_COLOR).surface, gradient); });
        gVornexRenderer.SetViewport(0, 0, W, H, 0.0f, 1.0f);
        gVornexRenderer.SetPostProcessTargetMode(0);
        gVornexRenderer.PostUpscale();
        RunOnRenderThread([&] { got = Read(BackBuffer(), srgb ? "copy-srgb" : "copy-plain"); });
        EndFrame();
        ASSERT_EQ(got.argb.size(), size_t(W * H));
        uint32_t bad = 0;
        for (uint32_t y = 0; y < H; y += 3)
            for (uint32_t x = 0; x < W; x += 3) {
                const Vector c = gradient(x, y);
                const uint32_t p = got.At(x, y);
                const float want[3] = {srgb ? SrgbEncode(c.x) : c.x, srgb ? SrgbEncode(c.y) : c.y,
                                       srgb ? SrgbEncode(c.z) : c.z};
                const float have[3] = {Red(p), Green(p), Blue(p)};
                for (uint32_t k = 0; k < 3; ++k)
                    if (std::fabs(have[k] - want[k]) > 1.0f / 255.0f + 1e-3f) ++bad;
            }
        EXPECT_EQ(bad, 0u);
        if (bad) RunOnRenderThread([&] { Read(BackBuffer(), srgb ? "copy-srgb" : "copy-plain", true); });
    }
}

// Outlines on with nothing outlined: the outline passes are skipped, and the picture is
// the one the outline path gives for an outlined object covering no cell of the grid (an
// empty outline image blended with no cover), bit for bit, whatever the light buffer and
// the outline target held before the frame.
TEST_F(PicturesTest, SkippedOutlinePassesLeaveThePictureAsItWas) {
    auto scene = [](uint32_t x, uint32_t y) {
        return Vector(2.0f * static_cast<float>(x) / (W - 1), static_cast<float>(y) / (H - 1), 0.25f, 1.0f);
    };
    auto stale = [](uint32_t x, uint32_t y) { return Vector(((x ^ y) & 1) ? 1.0f : 0.0f, 0.5f, 0.75f, 1.0f); };
    auto uploadStale = [&](Surface* s) {
        SurfaceDesc desc{};
        s->GetDesc(&desc);
        if (desc.format == FMT_A16B16G16R16F || desc.format == FMT_A8R8G8B8 || desc.format == FMT_X8R8G8B8)
            Upload(s, stale);
    };
    // Far right of the view under the fixture's camera and under the identity one the
    // outline pass leaves: its rectangle is clamped to the screen's edge, so no cell.
    static const BoundingBox4 box(Vector(9000, 0, 0, 1), Vector(10000, 10, 10, 1));
    const OutlineCandidate offScreen{&box, &Matrix::IDENTITY, 2};
    Picture pictures[2];
    for (uint32_t outlined = 0; outlined < 2; ++outlined) {
        const char* name = outlined ? "outline-path-empty" : "outline-path-skipped";
        gVornexRenderer.FlushCommands(true);
        BeginFrame();
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            Chain().Outlines().GatherEntities(OutlineRenderer::kAllCategories, outlined, &offScreen);
            EXPECT_EQ(Chain().Outlines().AllBits() != 0, outlined != 0);
            EXPECT_EQ(Chain().Outlines().ListCount(0), 0u);
            Upload(r.Target(TARGET_SCENE_COLOR).surface, scene);
            uploadStale(r.Target(TARGET_LIGHT_0).surface);
            uploadStale(r.Target(TARGET_NORMAL).surface);
        });
        gVornexRenderer.SetViewport(0, 0, W, H, 0.0f, 1.0f);
        gVornexRenderer.SetPostProcessTargetMode(1);
        gVornexRenderer.PostUpscale();
        RunOnRenderThread([&] { pictures[outlined] = Read(BackBuffer(), name); });
        EndFrame();
    }
    ASSERT_EQ(pictures[0].argb.size(), size_t(W * H));
    uint32_t differ = 0;
    for (size_t i = 0; i < pictures[0].argb.size(); ++i) differ += pictures[0].argb[i] != pictures[1].argb[i] ? 1 : 0;
    EXPECT_EQ(differ, 0u) << "pixels differ (RENDER_PICTURES=<folder> saves both pictures)";
}

// The composite with every other step neutral: each channel goes through the tone curve
// and then the colour lookup, as two filtered reads of the two tables would give. The
// curves differ per channel and the lookup falls in red, so a swapped channel, a table
// read without its sRGB conversion or a lookup read at the wrong place shows.
TEST_F(NoOutlinePicturesTest, CompositeReadsEachChannelThroughTheToneCurveThenTheLookup) {
    auto tone = [](float x) { return Vector(x / (1.0f + x), std::fmin(x * 0.5f, 1.0f), 1.0f - std::exp(-2.0f * x), 1.0f); };
    auto lookup = [](float v) { return Vector(1.0f - v, v * v, std::sqrt(v), 1.0f); };
    Edit([&](SceneParameterBlock& p) {
        for (uint32_t k = 0; k < kToneCurveEntries; ++k) p.toneMappingCurve[k] = tone(static_cast<float>(k) / 256.0f);
        for (uint32_t k = 0; k < kColorLookupEntries; ++k) {
            const Vector v = lookup(static_cast<float>(k) / 63.0f);
            p.colorLookupCurve[k] = HDRColor(uint8_t(v.x * 255.0f + 0.5f), uint8_t(v.y * 255.0f + 0.5f),
                                             uint8_t(v.z * 255.0f + 0.5f), 255, 1.0f);
        }
        p.rest.srgb = false;
        p.rest.exposition = 1.0f;
        p.rest.imageSaturation = p.rest.imageContrast = p.rest.imageLocalContrast = 1.0f;
        p.rest.sharpenStrength = 0.0f;
        p.rest.excludeColor0 = p.rest.excludeColor1 = HDRColor(0, 0, 0, 0, 1.0f);
        p.rest.topColor = p.rest.bottomColor = HDRColor(0, 0, 0, 0, 1.0f);
        p.rest.vignetteStart = p.rest.vignetteEnd = 0.0f;
        p.layerColor = Vector(0, 0, 0, 0);
    });
    // Scene values that half floats hold exactly: 0..2.5 in 64ths across, three slopes.
    auto scene = [](uint32_t x, uint32_t y) {
        const float s = static_cast<float>(x + W * (y / 40)) / 64.0f;
        return Vector(std::fmin(s, 2.5f), std::fmin(s * 0.5f, 2.5f), std::fmin(s * 0.25f, 2.5f), 1.0f);
    };
    uint32_t toneTexels[PostProcessChain::kToneCurveTexels], lookupTexels[PostProcessChain::kColorLookupTexels];
    Picture got;
    gVornexRenderer.FlushCommands(true);
    BeginFrame();
    RunOnRenderThread([&] {
        const SceneParameterBlock& p = gRendererScene->GetCurrentParameters()->Values();
        for (uint32_t i = 0; i < PostProcessChain::kToneCurveTexels; ++i)
            toneTexels[i] = PackLookupTexel(p.toneMappingCurve[LookupIndex(i, PostProcessChain::kToneCurveTexels, true)]);
        for (uint32_t i = 0; i < PostProcessChain::kColorLookupTexels; ++i)
            lookupTexels[i] = PackLookupTexel(p.colorLookupCurve[i].ToVector());
        VornexRenderer& r = gVornexRenderer;
        Upload(r.Target(TARGET_SCENE_COLOR).surface, scene);
        BindFullScreenQuad();
        Chain().FillLookupTextures(p);
        Chain().Tonemap(true, r.Target(TARGET_LIGHT_0).texture, nullptr, r.Target(TARGET_LIGHT_1).surface, W, H,
                        Vector(1, 1, 1, 1), false);
        got = Read(r.Target(TARGET_LIGHT_1).surface, "tone-lookup");
    });
    EndFrame();
    ASSERT_EQ(got.argb.size(), size_t(W * H));
    // A linearly filtered, clamped read of an sRGB table of n texels at coordinate u.
    auto read = [](const uint32_t* table, uint32_t n, float u, uint32_t shift) {
        const float x = std::fmin(std::fmax(u * static_cast<float>(n) - 0.5f, 0.0f), static_cast<float>(n - 1));
        const uint32_t i = std::min(static_cast<uint32_t>(x), n - 2);
        const float a = SrgbDecode(Channel(table[i], shift)), b = SrgbDecode(Channel(table[i + 1], shift));
        return a + (b - a) * (x - static_cast<float>(i));
    };
    uint32_t bad = 0;
    for (uint32_t y = 0; y < H; y += 7)
        for (uint32_t x = 0; x < W; x += 3) {
            const Vector c = scene(x, y);
            const float in[3] = {c.x, c.y, c.z};
            const uint32_t shifts[3] = {16, 8, 0};
            const uint32_t p = got.At(x, y);
            const float have[3] = {Red(p), Green(p), Blue(p)};
            for (uint32_t k = 0; k < 3; ++k) {
                // The tone curve's texels are gamma-mapped: the input's sRGB encoding, to
                // the power 2.2, over 4. The lookup is read at the tone value encoded.
                const float u = std::pow(SrgbEncode(std::fmin(in[k], 4.0f)), 2.2f) * 0.25f;
                const float toned = read(toneTexels, PostProcessChain::kToneCurveTexels, u + 0.5f / 1024.0f, shifts[k]);
                const float want = read(lookupTexels, PostProcessChain::kColorLookupTexels,
                                        SrgbEncode(toned) * (63.0f / 64.0f) + 0.5f / 64.0f, shifts[k]);
                if (std::fabs(have[k] - want) > 3.0f / 255.0f) {
                    if (bad++ < 5) ADD_FAILURE() << "(" << x << ", " << y << ") channel " << k << ": " << have[k] << " for " << want;
                }
            }
        }
    EXPECT_EQ(bad, 0u);
    if (bad) RunOnRenderThread([&] { Read(gVornexRenderer.Target(TARGET_LIGHT_1).surface, "tone-lookup", true); });
}

TEST_F(PicturesTest, BlurSpreadsALineByTheKernel) {
    const std::vector<double> taps = Numbers(Reference("taps 2"));
    ASSERT_EQ(taps.size(), 7u);
    constexpr uint32_t kLine = 80;
    for (float sigma : {2.0f, 0.0f}) {
        SCOPED_TRACE(sigma);
        Picture got;
        BeginFrame();
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            const RenderTarget& a = r.Target(TARGET_LIGHT_0);
            const RenderTarget& b = r.Target(TARGET_LIGHT_1);
            Upload(a.surface, [](uint32_t x, uint32_t) { return x == kLine ? Vector(1, 1, 1, 1) : Vector(0, 0, 0, 1); });
            Chain().GaussBlur(a.surface, a.texture, b.surface, b.texture, W, H, sigma, 1.0f);
            got = Read(a.surface, sigma > 0 ? "blur" : "blur-identity");
        });
        EndFrame();
        ASSERT_EQ(got.argb.size(), size_t(W * H));
        const uint32_t row = H / 2;
        if (sigma > 0.0f) {
            float sum = 0.0f;
            bool bad = false;
            for (int32_t k = -6; k <= 6; ++k) {
                const float v = SrgbDecode(Red(got.At(kLine + k, row)));
                sum += v;
                if (std::fabs(v - static_cast<float>(taps[std::abs(k)])) > 0.02f) bad = true;
                EXPECT_NEAR(v, taps[std::abs(k)], 0.02) << "tap " << k;
            }
            EXPECT_NEAR(sum, 1.0f, 0.03f);
            if (bad) RunOnRenderThread([&] { Read(gVornexRenderer.Target(TARGET_LIGHT_0).surface, "blur", true); });
        } else {
            // The identity kernel: the line stays (the rasteriser's pixel centres sit 1/128
            // pixel off the texel centres, so linear filtering leaks a little).
            for (int32_t k = -3; k <= 3; ++k)
                EXPECT_NEAR(SrgbDecode(Red(got.At(kLine + k, row))), k == 0 ? 1.0f : 0.0f, 0.02f) << "tap " << k;
        }
    }
}

TEST_F(PicturesTest, FxaaSoftensAHardEdge) {
    // White right of x = 50 + y / 3, black left of it; the luminance in alpha.
    auto edge = [](uint32_t x, uint32_t y) {
        const bool white = 3 * static_cast<int32_t>(x) >= 150 + static_cast<int32_t>(y);
        return white ? Vector(1, 1, 1, 1) : Vector(0, 0, 0, 0);
    };
    auto edgeX = [](uint32_t y) { return static_cast<int32_t>((150 + y + 2) / 3); };  // the first white pixel
    struct Measure {
        uint32_t edgePixels = 0, intermediate = 0, far = 0, farBad = 0;
        float largestStep = 0.0f;
    };
    auto measure = [&](const Picture& got) {
        Measure m;
        for (uint32_t y = 4; y < H - 4; ++y) {
            const int32_t e = edgeX(y);
            for (int32_t x : {e - 1, e}) {
                ++m.edgePixels;
                const float v = Green(got.At(x, y));
                if (v >= 0.1f && v <= 0.9f) ++m.intermediate;
            }
            for (int32_t x = e - 2; x <= e + 1; ++x)
                m.largestStep = std::max(m.largestStep, std::fabs(Green(got.At(x + 1, y)) - Green(got.At(x, y))));
            for (int32_t x : {e - 5, e - 3, e + 3, e + 5}) {
                ++m.far;
                if (std::fabs(Green(got.At(x, y)) - edge(x, y).y) > 2.0f / 255.0f) ++m.farBad;
            }
        }
        return m;
    };
    // The same edge through a pass that only copies (an RGB shift of 0), then through FXAA.
    Measure off, on;
    BeginFrame();
    RunOnRenderThread([&] {
        VornexRenderer& r = gVornexRenderer;
        const RenderTarget& a = r.Target(TARGET_LIGHT_0);
        const RenderTarget& b = r.Target(TARGET_LIGHT_1);
        Upload(b.surface, edge);
        BindFullScreenQuad();
        Chain().RGBShift(b.texture, a.surface, W, H, 0.0f);
        const Picture hard = Read(a.surface, "fxaa-off");
        ASSERT_EQ(hard.argb.size(), size_t(W * H));
        off = measure(hard);
        if (off.intermediate || off.farBad) Read(a.surface, "fxaa-off", true);
        Chain().FXAA(b.texture, a.surface, W, H);
        const Picture softened = Read(a.surface, "fxaa");
        ASSERT_EQ(softened.argb.size(), size_t(W * H));
        on = measure(softened);
    });
    EndFrame();
    // Without FXAA the edge stays hard.
    EXPECT_EQ(off.intermediate, 0u);
    EXPECT_GE(off.largestStep, 1.0f - 2.0f / 255.0f);
    EXPECT_EQ(off.farBad, 0u);
    EXPECT_GE(on.intermediate * 2, on.edgePixels);
    EXPECT_LE(on.largestStep, 2.0f / 3.0f + 1e-6f);
    EXPECT_EQ(on.farBad, 0u) << "of " << on.far;
    if (HasFailure()) RunOnRenderThread([&] { Read(gVornexRenderer.Target(TARGET_LIGHT_0).surface, "fxaa", true); });
}

// The zoom blur's one draw against the blur applied twice as the design states it: each
// application mixes the pixel (source ratio) with the mean of eight samples 0..7 steps
// towards the centre (blurred ratio), each step (pixel - centre) x strength x -0.005,
// the first result written to an 8-bit buffer. Smooth waves, so the draw's sum of steps
// in place of their product (a fraction of a pixel here) stays within the tolerance.
TEST_F(PicturesTest, ZoomBlurDrawIsTheBlurAppliedTwice) {
    constexpr float kStrength = 2.0f, kBlurred = 0.7f, kSource = 0.3f;
    Edit([&](SceneParameterBlock& p) {
        p.rest.zoomBlurStrength = kStrength;
        p.rest.zoomBlurBlurredRatio = kBlurred;
        p.rest.zoomBlurSourceRatio = kSource;
    });
    constexpr float kTwoPi = 6.2831853f;
    auto waves = [&](uint32_t x, uint32_t y) {
        const float fx = static_cast<float>(x), fy = static_cast<float>(y);
        return Vector(0.5f + 0.5f * std::sin(kTwoPi * fx / 32.0f), 0.5f + 0.5f * std::sin(kTwoPi * fy / 24.0f),
                      0.5f + 0.5f * std::sin(kTwoPi * (fx + fy) / 40.0f), 1.0f);
    };
    Picture got;
    BeginFrame();
    RunOnRenderThread([&] {
        VornexRenderer& r = gVornexRenderer;
        Upload(r.Target(TARGET_LIGHT_1).surface, waves);
        BindFullScreenQuad();
        Chain().ZoomBlur(r.Target(TARGET_LIGHT_1).texture, r.Target(TARGET_LIGHT_0).surface, W, H, 1.0f);
        got = Read(r.Target(TARGET_LIGHT_0).surface, "zoomblur");
    });
    EndFrame();
    ASSERT_EQ(got.argb.size(), size_t(W * H));

    // Pictures as W x H x 3 floats; texel centres at whole coordinates, clamped reads.
    using Image = std::vector<float>;
    Image source(W * H * 3);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const Vector c = waves(x, y);
            const float v[3] = {c.x, c.y, c.z};
            for (uint32_t k = 0; k < 3; ++k) source[(y * W + x) * 3 + k] = std::lround(v[k] * 255.0f) / 255.0f;
        }
    auto sample = [](const Image& img, float tx, float ty, uint32_t k) {
        tx = std::fmin(std::fmax(tx, 0.0f), W - 1.0f), ty = std::fmin(std::fmax(ty, 0.0f), H - 1.0f);
        const uint32_t x0 = std::min(static_cast<uint32_t>(tx), W - 2u), y0 = std::min(static_cast<uint32_t>(ty), H - 2u);
        const float fx = tx - x0, fy = ty - y0;
        auto at = [&](uint32_t x, uint32_t y) { return img[(y * W + x) * 3 + k]; };
        const float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
        const float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
        return top + (bottom - top) * fy;
    };
    const float step = kStrength * -0.005f;
    auto once = [&](const Image& in, bool toBytes) {
        Image out(in.size());
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                const float dx = (x - W / 2.0f) * step, dy = (y - H / 2.0f) * step;
                for (uint32_t k = 0; k < 3; ++k) {
                    float sum = 0.0f;
                    for (uint32_t n = 0; n < 8; ++n) sum += sample(in, x + dx * n, y + dy * n, k);
                    float v = std::fmin(std::fmax(sum * kBlurred / 8.0f + in[(y * W + x) * 3 + k] * kSource, 0.0f), 1.0f);
                    if (toBytes) v = std::lround(v * 255.0f) / 255.0f;
                    out[(y * W + x) * 3 + k] = v;
                }
            }
        return out;
    };
    const Image want = once(once(source, true), false);
    uint32_t bad = 0;
    float largest = 0.0f;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const uint32_t p = got.At(x, y);
            const float have[3] = {Red(p), Green(p), Blue(p)};
            for (uint32_t k = 0; k < 3; ++k) {
                const float e = std::fabs(have[k] - want[(y * W + x) * 3 + k]);
                largest = std::fmax(largest, e);
                if (e > 4.0f / 255.0f) ++bad;
            }
        }
    EXPECT_EQ(bad, 0u) << "largest difference " << largest;
    if (bad) RunOnRenderThread([&] { Read(gVornexRenderer.Target(TARGET_LIGHT_0).surface, "zoomblur", true); });
}

TEST_F(PicturesTest, RgbShiftPullsRedAndBlueApart) {
    constexpr float d = 3.0f;
    const float amount = d * 1080.0f / (2.0f * H);
    Picture got;
    BeginFrame();
    RunOnRenderThread([&] {
        VornexRenderer& r = gVornexRenderer;
        const RenderTarget& a = r.Target(TARGET_LIGHT_0);
        const RenderTarget& b = r.Target(TARGET_LIGHT_1);
        Upload(b.surface, [](uint32_t x, uint32_t) { return x >= 76 && x < 84 ? Vector(1, 1, 1, 1) : Vector(0, 0, 0, 1); });
        BindFullScreenQuad();
        Chain().RGBShift(b.texture, a.surface, W, H, amount);
        got = Read(a.surface, "rgbshift");
    });
    EndFrame();
    ASSERT_EQ(got.argb.size(), size_t(W * H));
    // The first column at least half lit, per channel.
    auto firstLit = [&](float (*channel)(uint32_t)) {
        for (uint32_t x = 0; x < W; ++x)
            if (channel(got.At(x, H / 2)) >= 0.5f) return static_cast<int32_t>(x);
        return -1;
    };
    const int32_t red = firstLit(Red), green = firstLit(Green), blue = firstLit(Blue);
    EXPECT_EQ(green, 76);
    EXPECT_NEAR(blue - red, 2 * d, 1.0);
    EXPECT_LT(red, green);
    if (HasFailure()) RunOnRenderThread([&] { Read(gVornexRenderer.Target(TARGET_LIGHT_0).surface, "rgbshift", true); });
}

// On an even picture every pixel matches its local average, so the composite with local
// contrast draws what it draws without. The average shares the glow's cell (black here):
// its pass must write only the cell's alpha and leave the next pass every channel (the
// composite's target is filled with magenta first).
TEST_F(NoOutlinePicturesTest, LocalContrastLeavesAnEvenPictureAsItIs) {
    // Straight tables: through the composite's reads the lookup is the identity and so
    // is the tone curve's green, which local contrast reads; its red and blue halve.
    Edit([](SceneParameterBlock& p) {
        for (uint32_t k = 0; k < kToneCurveEntries; ++k) {
            const float v = std::fmin(static_cast<float>(k) / 256.0f, 1.0f);
            p.toneMappingCurve[k] = Vector(v * 0.5f, v, v * 0.5f, 1.0f);
        }
        for (uint32_t k = 0; k < kColorLookupEntries; ++k) {
            const uint8_t v = static_cast<uint8_t>(std::lround(255.0f * k / (kColorLookupEntries - 1)));
            p.colorLookupCurve[k] = HDRColor(v, v, v, 255, 1.0f);
        }
        p.rest.srgb = false;
        p.rest.exposition = 1.0f;
        p.rest.imageSaturation = p.rest.imageContrast = 1.0f;
        p.rest.imageLocalContrastVariation = 1.0f;
        p.rest.sharpenStrength = 0.0f;
        p.rest.excludeColor0 = p.rest.excludeColor1 = HDRColor(0, 0, 0, 0, 1.0f);
        p.rest.topColor = p.rest.bottomColor = HDRColor(0, 0, 0, 0, 1.0f);
        p.rest.vignetteStart = p.rest.vignetteEnd = 0.0f;
        p.layerColor = Vector(0, 0, 0, 0);
    });
    const uint32_t qw = (W + 3) / 4, qh = (H + 3) / 4;
    Picture got[2], cell;
    for (uint32_t i = 0; i < 2; ++i) {
        Edit([&](SceneParameterBlock& p) { p.rest.imageLocalContrast = i ? 1.5f : 1.0f; });
        BeginFrame();
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            const RenderTarget& a = r.Target(TARGET_LIGHT_0);
            const RenderTarget& b = r.Target(TARGET_LIGHT_1);
            Upload(r.Target(TARGET_SCENE_COLOR).surface, [](uint32_t, uint32_t) { return Vector(0.3f, 0.2f, 0.15f, 1.0f); });
            Upload(a.surface, [](uint32_t, uint32_t) { return Vector(0, 0, 0, 1); });
            r.Device()->ColorFill(b.surface, nullptr, 0xFFFF00FF);
            BindFullScreenQuad();
            Chain().FillLookupTextures(gRendererScene->GetCurrentParameters()->Values());
            if (i) {
                Chain().DownscaleLuminance(W, H);
                cell = Read(a.surface, "local-contrast-cell");
            }
            Chain().Tonemap(true, a.texture, nullptr, b.surface, W, H, Vector(1, 1, 1, 1), false);
            got[i] = Read(b.surface, i ? "local-contrast" : "no-local-contrast");
        });
        EndFrame();
        ASSERT_EQ(got[i].argb.size(), size_t(W * H));
    }
    ASSERT_EQ(cell.argb.size(), size_t(W * H));
    uint32_t bad = 0;
    for (uint32_t y = 0; y < qh; ++y)
        for (uint32_t x = 0; x < qw; ++x)
            if ((cell.At(x, y) & 0xFFFFFF) != 0 && bad++ < 5) ADD_FAILURE() << "glow cell (" << x << ", " << y << ") written";
    EXPECT_EQ(bad, 0u);
    // The last two rows and columns are left out: their filtered reads of the quarter-size
    // cell take half a texel from beyond it.
    bad = 0;
    for (uint32_t y = 0; y < H - 2; ++y)
        for (uint32_t x = 0; x < W - 2; ++x) {
            const uint32_t a = got[0].At(x, y), b = got[1].At(x, y);
            for (uint32_t shift : {16u, 8u, 0u})
                if (std::fabs(Channel(a, shift) - Channel(b, shift)) > 2.0f / 255.0f && bad++ < 5)
                    ADD_FAILURE() << "(" << x << ", " << y << ") shift " << shift << ": " << Channel(b, shift)
                                  << " for " << Channel(a, shift);
        }
    EXPECT_EQ(bad, 0u);
    EXPECT_NEAR(Green(got[0].At(W / 2, H / 2)), 0.2f, 0.02f);  // two black pictures would agree too
}

struct HalfSizePicturesTest : PictureFixtureOf<shadertest::DrawingShaderFixture> {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.semiResolutionScreenScale = 0.5f;
    }
};

TEST_F(HalfSizePicturesTest, TheBackBufferShowsTheLastPass) {
    Edit([](SceneParameterBlock& p) {
        for (float& v : p.rgbShiftScaleCurve) v = 2.0f;
        p.rest.fxaaEnabled = false;
        p.rest.zoomBlurStrength = 0.0f;
    });
    const uint32_t rw = gVornexRenderer.RenderWidth(), rh = gVornexRenderer.RenderHeight();
    Picture pass, shown;
    gVornexRenderer.FlushCommands(true);
    BeginFrame();
    RunOnRenderThread([&] {
        Upload(gVornexRenderer.Target(TARGET_SCENE_COLOR).surface,
               [&](uint32_t x, uint32_t) { return x * 2 >= rw ? Vector(0.8f, 0.6f, 0.3f, 1) : Vector(0.1f, 0.2f, 0.4f, 1); });
    });
    gVornexRenderer.SetViewport(0, 0, rw, rh, 0.0f, 1.0f);
    gVornexRenderer.SetPostProcessTargetMode(1);
    RunOnRenderThread([&] {
        // One optional pass: its image is in A; the composite's in B gets a colour of its own.
        EXPECT_EQ(Chain().GetOutputTarget(), TARGET_LIGHT_0);
        pass = Read(gVornexRenderer.Target(TARGET_LIGHT_0).surface, "half-pass");
        gVornexRenderer.Device()->ColorFill(gVornexRenderer.Target(TARGET_LIGHT_1).surface, nullptr, 0xFFFF00FF);
    });
    gVornexRenderer.PostUpscale();
    RunOnRenderThread([&] { shown = Read(BackBuffer(), "half-shown"); });
    EndFrame();
    ASSERT_EQ(pass.argb.size(), size_t(rw * rh));
    ASSERT_EQ(shown.argb.size(), size_t(W * H));
    uint32_t bad = 0;
    for (uint32_t y = 2; y + 2 < rh; y += 5)
        for (uint32_t x = 2; x + 2 < rw; x += 5) {
            if (x + 4 >= rw / 2 && x <= rw / 2 + 4) continue;  // the stretched edge
            const uint32_t a = pass.At(x, y), b = shown.At(2 * x + 1, 2 * y + 1);
            for (uint32_t shift : {0u, 8u, 16u})
                if (std::fabs(Channel(a, shift) - Channel(b, shift)) > 2.0f / 255.0f + 1e-3f) ++bad;
        }
    EXPECT_EQ(bad, 0u);
}

}  // namespace
