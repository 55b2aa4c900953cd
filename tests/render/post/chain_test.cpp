// test-timeout: 900
// The post-processing chain on the recording device: every pass of task 22 against the
// reference (order, shader, target, sRGB write, viewport, samplers, quad constants) over
// the mode bits and parameter switches, the composite's constants, the lookup textures'
// bytes, the output target the upscale copies, and the device objects' lifetime; and the
// chain's small formulas against the reference: the blur kernel, ramps, the RGB-shift
// amount over the renderer clock, the lookup textures' entry index and texel packing,
// and the composite option strings; and when the outline passes run.
// test-depends: shader_data
// test-sanitize: thread
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "PostTestSupport.h"
#include "core/CrtRand.h"
#include "platform/gfx/ShaderCompiler.h"
#include "platform/os/Clock.h"
#include "render/PostProcessMath.h"

using namespace rendertest;
using namespace posttest;

namespace {

std::string Text(float v) {
    std::ostringstream out;
    out.precision(9);
    out << v;
    return out.str();
}

void ExpectClose(float got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 1e-6 * std::max(1.0, std::fabs(want))) << what;
}

TEST(PostHelpers, KernelWeightsAndOffsetsMatchTheReference) {
    for (float sigma : {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 8.0f, 0.0f, -1.0f, NAN, INFINITY, 0.05f, 0.3f, 1e-30f}) {
        SCOPED_TRACE(sigma);
        const GaussKernel k = ComputeGaussKernel(sigma);
        const std::vector<double> want = Numbers(Reference("kernel " + Text(sigma)));
        ASSERT_EQ(want.size(), 7u);
        const float got[7] = {k.centre, k.weight[0], k.weight[1], k.weight[2], k.offset[0], k.offset[1], k.offset[2]};
        for (uint32_t i = 0; i < 7; ++i) {
            EXPECT_TRUE(std::isfinite(got[i])) << i;
            ExpectClose(got[i], want[i], "value " + std::to_string(i));
        }
        // A kernel sums to one.
        EXPECT_NEAR(k.centre + 2.0f * (k.weight[0] + k.weight[1] + k.weight[2]), 1.0f, 1e-5f);
    }
}

TEST(PostHelpers, RampsAtAndBesideTheirThreshold) {
    const float cases[][2] = {{0.0f, 0.1f}, {0.2f, 0.7f}, {0.5f, 0.501f}, {0.5f, 0.5011f}, {0.5f, 0.4989f},
                              {0.3f, 0.3f}, {1.0f, 0.0f}, {0.25f, 0.2509f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Text(c[0]) + " " + Text(c[1]));
        const Ramp r = ComputeRamp(c[0], c[1]);
        const std::vector<double> want = Numbers(Reference("ramp " + Text(c[0]) + " " + Text(c[1])));
        ASSERT_EQ(want.size(), 2u);
        ExpectClose(r.scale, want[0], "scale");
        ExpectClose(r.offset, want[1], "offset");
    }
}

TEST(PostHelpers, RgbShiftFollowsItsCurveOverTheClock) {
    CrtSrand(3);
    float curve[kRgbShiftCurvePoints];
    std::string curveText;
    for (float& v : curve) {
        v = CrtRand() / 16384.0f - 1.0f;
        curveText += " " + Text(v);
    }
    os::ManualClock clock(123456789);
    clock.Install();
    const int64_t start = os::ReadCounter();
    const int64_t steps[] = {0, 1, 793650, 10'000'000, 49'999'999, 49'999'990, 50'000'000, 50'000'001,
                             123'456'789, 10'000'000'000'003LL};
    for (int64_t elapsed : steps) {
        clock.Set(start + elapsed);
        const float got = RgbShiftAmount(curve, os::ReadCounter() - start, os::kCounterFrequency, 0.25f);
        const std::vector<double> want =
            Numbers(Reference("rgbshift " + std::to_string(elapsed) + " 0.25" + curveText));
        ASSERT_EQ(want.size(), 1u);
        EXPECT_NEAR(got, want[0], 1e-5) << "ticks " << elapsed;
    }
    clock.Uninstall();
}

TEST(PostHelpers, LookupIndicesOfEveryTexel) {
    for (uint32_t n : {64u, 1024u}) {
        const std::vector<double> want = Numbers(Reference("lookup " + std::to_string(n) + " 1"));
        ASSERT_EQ(want.size(), n);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t got = LookupIndex(i, n, true);
            // Within 1e-4 of a whole entry either neighbour is right.
            const uint32_t lo = static_cast<uint32_t>(std::floor(want[i] - 1e-4));
            const uint32_t hi = static_cast<uint32_t>(std::floor(want[i] + 1e-4));
            EXPECT_TRUE(got == lo || got == hi) << n << " texel " << i << ": " << got << " for " << want[i];
            EXPECT_EQ(LookupIndex(i, n, false), i);
        }
    }
    EXPECT_EQ(LookupIndex(1023, 1024, true), 480u);  // the highest tone-curve entry read
}

TEST(PostHelpers, TexelsPackClampedChannels) {
    const float cases[][4] = {{0, 0, 0, 0},          {1, 1, 1, 1},       {0.5f, 0.25f, 0.75f, 1},
                              {NAN, -1, 2, INFINITY}, {94 / 255.0f, 1e-9f, 0.999f, -INFINITY}};
    for (const auto& c : cases) {
        std::string args = "pack";
        for (float v : c) args += " " + Text(v);
        const std::vector<double> want = Numbers(Reference(args));
        ASSERT_EQ(want.size(), 1u);
        EXPECT_EQ(PackLookupTexel(Vector(c[0], c[1], c[2], c[3])), static_cast<uint32_t>(want[0])) << args;
    }
}

TEST(PostHelpers, CompositeOptionStringsFollowTheirMask) {
    std::istringstream lines(Reference("options"));
    uint32_t mask = 0, empty = 0;
    for (std::string line; std::getline(lines, line); ++mask) {
        ASSERT_LT(mask, 64u);
        EXPECT_EQ("[" + CompositeOptionString(mask) + "]", line) << mask;
        empty += CompositeOptionString(mask).empty() ? 1 : 0;
    }
    EXPECT_EQ(mask, 64u);
    EXPECT_EQ(empty, 32u);
}


// The frame's outline gathering on the render thread: `count` objects of category bit 2
// (0 or 1), each a box around the camera, so it covers the whole grid under any camera.
void GatherOutlined(uint32_t count) {
    static const BoundingBox4 box(Vector(-1000, -1000, -1000, 1), Vector(1000, 1000, 1000, 1));
    const OutlineCandidate candidate{&box, &Matrix::IDENTITY, 2};
    RunOnRenderThread([&] { Chain().Outlines().GatherEntities(OutlineRenderer::kAllCategories, count, &candidate); });
}

struct Config {
    uint32_t quality;
    bool outlines;
    bool half;
};

std::string Name(const ::testing::TestParamInfo<Config>& info) {
    return "Quality" + std::to_string(info.param.quality) + (info.param.outlines ? "Outlines" : "") +
           (info.param.half ? "Half" : "Full");
}

struct ChainTest : PostFixture, ::testing::WithParamInterface<Config> {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = GetParam().quality;
        s.enableOutlines = GetParam().outlines;
        s.semiResolutionScreenScale = GetParam().half ? 0.5f : 1.0f;
    }
    // The pass names by pixel shader serial; the composite's by its option mask (the plain
    // variant as mask 0).
    std::map<uint32_t, std::string> Names() {
        std::map<uint32_t, std::string> names;
        const char* const pass[] = {"GlowSource", "GaussBlur", "ZoomBlur", "Dilate", "DownscaleLuminance", "FXAA",
                                    "RGBShift"};
        for (uint32_t i = 0; i < 7; ++i) names[PixelSerial(Chain().passShaders[i])] = pass[i];
        for (uint32_t m = 32; m-- > 0;) names[PixelSerial(Chain().compositeShaders[m])] = "Postprocess " + std::to_string(m);
        names[PixelSerial(gShaderManager->Fixed(0))] = "Coverage";
        return names;
    }
    static std::string SamplerFlags(const DrawRecord& d, uint32_t stage) {
        const uint32_t srgb = d.SamplerState(stage, SAMP_SRGBTEXTURE);
        const uint32_t clamp = d.SamplerState(stage, SAMP_ADDRESSU) == TADDRESS_CLAMP ? 6 : 0;
        const uint32_t point = d.SamplerState(stage, SAMP_MAGFILTER) == TEXF_POINT ? 8 : 0;
        return std::to_string(srgb | clamp | point);
    }
    // A draw as the reference writes it.
    std::string Describe(const DrawRecord& d, const std::map<uint32_t, std::string>& names,
                         const std::vector<std::string>& stages) {
        std::ostringstream out;
        auto it = names.find(d.pixelShader.serial);
        std::string name = it == names.end() ? "?" : it->second;
        std::string mask = "-";
        if (name.rfind("Postprocess ", 0) == 0) mask = name.substr(12), name = "Postprocess";
        const uint32_t a = Serial(gVornexRenderer.Target(TARGET_LIGHT_0).surface);
        const uint32_t b = Serial(gVornexRenderer.Target(TARGET_LIGHT_1).surface);
        const uint32_t n = Serial(gVornexRenderer.Target(TARGET_NORMAL).surface);
        const uint32_t t = d.renderTargets[0];
        const char* target = t == a ? "A" : t == b ? "B" : t == n ? "N" : "S";
        out << name << ' ' << mask << ' ' << target << ' ' << d.RenderState(RS_SRGBWRITEENABLE) << ' '
            << d.viewport.x << ' ' << d.viewport.y << ' ' << d.viewport.width << ' ' << d.viewport.height;
        for (uint32_t s = 0; s < 6; ++s) out << ' ' << (stages[s] == "-" ? "-" : SamplerFlags(d, s));
        return out.str();
    }
};

void ExpectVector(const float* got, const Vector& want, float relative, const std::string& what) {
    const float w[4] = {want.x, want.y, want.z, want.w};
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], w[i], relative * std::max(1.0f, std::fabs(w[i]))) << what << " [" << i << "]";
}

TEST_P(ChainTest, PassesFollowTheReference) {
    const Config cfg = GetParam();
    const auto names = Names();
    const uint32_t w = gVornexRenderer.RenderWidth(), h = gVornexRenderer.RenderHeight();
    ASSERT_EQ(cfg.half, w != gVornexRenderer.BackBufferWidth());
    const std::vector<double> kernel = Numbers(Reference("kernel 2"));
    ASSERT_EQ(kernel.size(), 7u);
    for (uint32_t mode : {0u, 1u, 5u})
        for (bool fxaa : {false, true})
            for (float zoom : {0.0f, 0.5f})
                for (bool shift : {false, true})
                    for (float contrast : {1.0f, 1.2f}) {
                        std::ostringstream args;
                        args << mode << ' ' << cfg.quality << ' ' << fxaa << ' ' << zoom << ' ' << shift << ' '
                             << contrast << ' ' << cfg.outlines << ' ' << cfg.half;
                        SCOPED_TRACE(args.str());
                        Edit([&](SceneParameterBlock& p) {
                            p.rest.fxaaEnabled = fxaa;
                            p.rest.zoomBlurStrength = zoom;
                            for (float& v : p.rgbShiftScaleCurve) v = shift ? 0.5f : 0.0f;
                            p.rest.imageLocalContrast = contrast;
                        });
                        // With outlines on, one object covering the whole grid is outlined.
                        if (cfg.outlines) GatherOutlined(1);
                        const uint64_t locks = recorder->CallCount(CallKind::Lock);
                        const std::vector<DrawRecord> draws = Frame(mode);
                        std::istringstream want(Reference("passes " + args.str() + " " + std::to_string(w) + " " +
                                                          std::to_string(h)));
                        std::vector<std::string> lines;
                        for (std::string line; std::getline(want, line);) lines.push_back(line);
                        ASSERT_GE(lines.size(), 2u);
                        ASSERT_EQ(draws.size(), lines.size() - 1);
                        for (size_t i = 0; i < draws.size(); ++i) {
                            std::istringstream fields(lines[i]);
                            std::vector<std::string> f;
                            for (std::string x; fields >> x;) f.push_back(x);
                            ASSERT_EQ(f.size(), 18u);
                            const std::vector<std::string> stages(f.begin() + 8, f.begin() + 14);
                            const std::string got = Describe(draws[i], names, stages);
                            std::string expected;
                            for (size_t k = 0; k < 14; ++k) expected += (k ? " " : "") + f[k];
                            EXPECT_EQ(got, expected) << "draw " << i;
                            const DrawRecord& d = draws[i];
                            // The coverage draw's fixed shader reads no c0 of the chain's.
                            if (f[0] != "Coverage")
                                ExpectVector(d.VertexConstant(0),
                                             Vector(std::stof(f[14]), std::stof(f[15]), std::stof(f[16]), std::stof(f[17])),
                                             1e-6f, "vertex c0 of draw " + std::to_string(i));
                            EXPECT_EQ(d.RenderState(RS_CULLMODE), uint32_t(CULL_NONE));
                            EXPECT_EQ(d.RenderState(RS_ALPHATESTENABLE), 0u);
                            EXPECT_EQ(d.RenderState(RS_ALPHABLENDENABLE), 0u);
                            EXPECT_EQ(d.RenderState(RS_ZFUNC), uint32_t(CMP_ALWAYS));
                            EXPECT_EQ(d.RenderState(RS_ZWRITEENABLE), 0u);
                            if (f[0] == "Coverage" || f[0] == "Dilate") {
                                // The outline grid's cells, as indexed triangles.
                                EXPECT_EQ(d.call, CallKind::DrawIndexedPrimitive);
                                EXPECT_EQ(d.primitiveType, PT_TRIANGLELIST);
                                continue;
                            }
                            EXPECT_EQ(d.fvf, FVF_XYZ | FVF_TEX1);
                            if (f[0] == "GaussBlur") {
                                // From memory: four 20-byte vertices, their texture coordinates
                                // from half a texel to the pass area plus half a texel.
                                ASSERT_EQ(d.call, CallKind::DrawPrimitiveUP);
                                EXPECT_EQ(d.userStride, 20u);
                                ASSERT_TRUE(d.userVertices && d.userVertices->size() == 80u);
                                const float* v = reinterpret_cast<const float*>(d.userVertices->data());
                                const float qx = static_cast<float>(std::stoi(f[6])), qy = static_cast<float>(std::stoi(f[7]));
                                const float want[20] = {-1, 1,  0, 0.5f / w,       0.5f / h,       1,  1,  0, (qx + 0.5f) / w, 0.5f / h,
                                                        1,  -1, 0, (qx + 0.5f) / w, (qy + 0.5f) / h, -1, -1, 0, 0.5f / w,       (qy + 0.5f) / h};
                                for (uint32_t k = 0; k < 20; ++k) EXPECT_NEAR(v[k], want[k], 1e-6f) << "blur vertex float " << k;
                                ExpectVector(d.PixelConstant(1),
                                             Vector(float(kernel[3]), float(kernel[2]), float(kernel[1]), float(kernel[0])),
                                             1e-6f, "blur weights");
                            } else {
                                EXPECT_EQ(d.call, CallKind::DrawPrimitive);
                                EXPECT_EQ(d.primitiveType, PT_TRIANGLEFAN);
                                EXPECT_EQ(d.streams[0].stride, 20u);
                            }
                        }
                        // The chain off: one plain copy and no lookup refill.
                        if (!(mode & 1)) {
                            EXPECT_EQ(recorder->CallCount(CallKind::Lock), locks);
                        }
                        const std::string output = lines.back().substr(7);
                        RunOnRenderThread([&] {
                            EXPECT_EQ(Chain().GetOutputTarget(), output == "A" ? TARGET_LIGHT_0 : TARGET_LIGHT_1);
                        });
                    }
}

INSTANTIATE_TEST_SUITE_P(Configurations, ChainTest,
                         ::testing::Values(Config{1, false, false}, Config{2, false, false}, Config{3, false, false},
                                           Config{3, true, false}, Config{1, true, true}, Config{2, false, true},
                                           Config{3, false, true}, Config{3, true, true}),
                         Name);

struct CompositeTest : PostFixture {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.enableOutlines = true;
    }
    const DrawRecord* Composite(const std::vector<DrawRecord>& draws) {
        for (const DrawRecord& d : draws)
            for (const ShaderPair& p : Chain().compositeShaders)
                if (p.IsValid() && d.pixelShader.serial == PixelSerial(p)) return &d;
        return nullptr;
    }
};

// Sharpening's taps are a variant of their own: chosen exactly when the strength is not 0,
// with the rest of the option mask unchanged.
TEST_F(CompositeTest, SharpeningIsAVariantChosenOnlyWhenOn) {
    auto maskOf = [&](const DrawRecord* d) {
        for (uint32_t m = 0; m < PostProcessChain::kCompositeShaderCount; ++m) {
            const ShaderPair& p = Chain().compositeShaders[m];
            if (p.IsValid() && d->pixelShader.serial == PixelSerial(p) && (m & COMPOSITE_ENABLED)) return m;
        }
        return ~0u;
    };
    uint32_t masks[3] = {};
    const float strengths[3] = {0.0f, 0.25f, -0.5f};
    for (uint32_t i = 0; i < 3; ++i) {
        Edit([&](SceneParameterBlock& p) { p.rest.sharpenStrength = strengths[i]; });
        const std::vector<DrawRecord> draws = Frame(1);
        const DrawRecord* d = Composite(draws);
        ASSERT_NE(d, nullptr);
        masks[i] = maskOf(d);
        ASSERT_NE(masks[i], ~0u);
        EXPECT_EQ((masks[i] & COMPOSITE_SHARPEN) != 0, strengths[i] != 0.0f) << strengths[i];
        EXPECT_FLOAT_EQ(d->PixelConstant(7)[2], -strengths[i]);
    }
    EXPECT_EQ(masks[0] | COMPOSITE_SHARPEN, masks[1]);
    EXPECT_EQ(masks[1], masks[2]);
}

// With outlines on, the chain reconstructs and composes outlines only when the frame
// outlined something, or when the softness makes the blend cover pixels no outline reaches
// (the cleared outline image then darkens the picture, so it must still be made).
TEST_F(CompositeTest, OutlinePassesRunOnlyWhenTheyChangeThePicture) {
    struct Case {
        uint32_t outlined;
        float softness;
        bool drawn;
    };
    const Case cases[] = {{0, 0.0f, false},  {0, 0.5f, false},  {0, -0.1f, true}, {0, -0.25f, false},
                          {0, NAN, false},   {1, 0.0f, true},   {1, 0.5f, true},  {1, -0.1f, true}};
    const uint32_t dilate = PixelSerial(Chain().passShaders[PostProcessChain::PASS_DILATE]);
    const uint32_t normal = Serial(gVornexRenderer.Target(TARGET_NORMAL).surface);
    Frame(1);  // the first frame's own clears
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.outlined) + " outlined, softness " + Text(c.softness));
        OutlineParams params;
        params.SetSoftness(c.softness);
        RunOnRenderThread([&] { Chain().SetOutlineParams(params, false); });
        GatherOutlined(c.outlined);
        const uint64_t before = recorder->CallCount(CallKind::Clear);
        const std::vector<DrawRecord> draws = Frame(1);
        const uint64_t clears = recorder->CallCount(CallKind::Clear) - before;
        const DrawRecord* d = Composite(draws);
        ASSERT_NE(d, nullptr);
        bool outlinesVariant = false;
        for (uint32_t m = 0; m < PostProcessChain::kCompositeShaderCount; ++m)
            if ((m & COMPOSITE_ENABLED) && d->pixelShader.serial == PixelSerial(Chain().compositeShaders[m]))
                outlinesVariant = (m & COMPOSITE_OUTLINES) != 0;
        EXPECT_EQ(outlinesVariant, c.drawn);
        const auto intoOutlineTarget = std::count_if(draws.begin(), draws.end(), [&](const DrawRecord& r) {
            return r.pixelShader.serial == dilate || r.renderTargets[0] == normal;
        });
        EXPECT_EQ(intoOutlineTarget, c.outlined);  // an empty grid draws no cells
        // A (the coverage buffer) is cleared either way, the outline target only for a
        // reconstruction.
        EXPECT_EQ(clears, c.drawn ? 2u : 1u);
    }
}

TEST_F(CompositeTest, ConstantsComeFromTheParametersAndTheSceneCamera) {
    const HDRColor correction{128, 255, 64, 255, 1.0f}, top{10, 20, 30, 40, 1.0f}, glow{200, 100, 50, 255, 2.0f};
    const HDRColor bottom{90, 60, 30, 120, 1.5f}, exclude{40, 180, 220, 200, 0.5f}, lowSpec{250, 200, 150, 255, 1.0f};
    Edit([&](SceneParameterBlock& p) {
        p.rest.bottomColor = bottom;
        p.rest.excludeColor0 = exclude;
        p.rest.lowSpecModeColorCorrection = lowSpec;
        p.rest.vignetteAspect = 1.25f;
        p.rest.noBlurColorCorrection = correction;
        p.rest.topColor = top;
        p.rest.glowColor = glow;
        p.rest.vignetteStart = 0.2f;
        p.rest.vignetteEnd = 0.7f;
        p.rest.excludeColor0FalloffStart = 0.1f;
        p.rest.excludeColor0FalloffEnd = 0.1005f;  // within 0.001: scale 0, offset 1
        p.rest.imageLocalContrastVariation = 3.0f;  // clamped to 1
        p.rest.sharpenStrength = 0.25f;
        p.rest.exposition = 1.5f;
    });
    for (float zoom : {0.0f, 0.5f}) {
        SCOPED_TRACE(zoom);
        Edit([&](SceneParameterBlock& p) { p.rest.zoomBlurStrength = zoom; });
        const std::vector<DrawRecord> draws = Frame(1);
        const DrawRecord* d = Composite(draws);
        ASSERT_NE(d, nullptr);
        const Vector m = zoom > 0.0f ? Vector(1, 1, 1, 1) : correction.ToLinearVector();
        ExpectVector(d->VertexConstant(14), m, 1e-6f, "c14 colour factor");
        ExpectVector(d->VertexConstant(4), top.ToLinearVector() * m, 1e-6f, "c4 top colour");
        // c6-c9: the scene camera's inverse view-projection, not the outline pass's identity.
        Matrix vp, inverse;
        vp.Mul(projection, view);  // view, then projection
        inverse.Inverse(vp);
        for (uint32_t i = 0; i < 4; ++i) ExpectVector(d->VertexConstant(6 + i), inverse.r[i], 1e-4f, "camera inverse");
        Matrix world;
        world.Inverse(view);
        ExpectVector(d->VertexConstant(10), world.r[3], 1e-4f, "camera position");
        ExpectVector(d->PixelConstant(0), glow.ToLinearVector(), 1e-6f, "glow colour");
        const std::vector<double> vignette = Numbers(Reference("ramp 0.2 0.7"));
        ASSERT_EQ(vignette.size(), 2u);
        ExpectVector(d->PixelConstant(1),
                     Vector(float(-vignette[0] / 2), float(vignette[1] + vignette[0]), 1.0f, 1.0f), 1e-6f, "c1");
        ExpectVector(d->PixelConstant(2), Vector(1.0f, 0.0f, 1.0f, 0.0f), 1e-6f, "c2 local contrast");
        EXPECT_FLOAT_EQ(d->PixelConstant(6)[0], 0.0f);
        EXPECT_FLOAT_EQ(d->PixelConstant(6)[2], 1.0f);
        ExpectVector(d->PixelConstant(7), Vector(-0.5f / 256, -0.5f / 144, -0.25f, 1.5f), 1e-6f, "c7");

        // The rest, from the set in force as the frame left it: sizes, vignette aspect, the
        // layer's matrix columns, scroll and height, the exclude colours' power, the layer
        // colour and the low-spec correction.
        SceneParameterBlock p;
        Vector scroll;
        RunOnRenderThread([&] {
            p = gRendererScene->GetCurrentParameters()->Values();
            scroll = gRendererScene->LayerOffset();
        });
        const float w = 256, h = 144, a = p.rest.vignetteAspect;
        ExpectVector(d->VertexConstant(1), Vector(64 / w, 36 / h, 0.125f / w, 0.125f / h), 1e-6f, "vertex c1");
        ExpectVector(d->VertexConstant(2), Vector(0.5f / w, 0.5f / h, 0.5f / w, -0.5f / h), 1e-6f, "vertex c2");
        ExpectVector(d->VertexConstant(3), Vector(2 * a, 2 / a, -a, -1 / a), 1e-6f, "vertex c3");
        ExpectVector(d->VertexConstant(5), bottom.ToLinearVector() * m, 1e-6f, "c5 bottom colour");
        for (uint32_t column = 0; column < 2; ++column) {
            const Matrix& l = p.layerProjection;
            const Vector want = column ? Vector(l.r[0].y, l.r[1].y, l.r[2].y, l.r[3].y)
                                       : Vector(l.r[0].x, l.r[1].x, l.r[2].x, l.r[3].x);
            ExpectVector(d->VertexConstant(11 + column), want, 1e-6f, "layer matrix column");
        }
        ExpectVector(d->VertexConstant(13), Vector(scroll.x, scroll.y, scroll.z, p.layerHeight.x), 1e-6f, "c13");
        const Vector e0 = exclude.ToLinearVector();
        ExpectVector(d->PixelConstant(4),
                     Vector(std::pow(e0.x, 1 / 1.1f), std::pow(e0.y, 1 / 1.1f), std::pow(e0.z, 1 / 1.1f), e0.w), 1e-5f,
                     "exclude colour 0");
        ExpectVector(d->PixelConstant(8), p.layerColor, 1e-6f, "layer colour");
        ExpectVector(d->PixelConstant(9), lowSpec.ToLinearVector(), 1e-6f, "low-spec correction");
    }
}

TEST_F(CompositeTest, TheBackBufferKeepsItsReferencesAndTheSetsSRGBSwitch) {
    Surface* backBuffer = nullptr;
    RunOnRenderThread([&] { gVornexRenderer.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer); });
    ASSERT_NE(backBuffer, nullptr);
    const uint32_t before = backBuffer->AddRef() - 1;
    backBuffer->Release();
    for (uint32_t i = 0; i < 100; ++i) Frame(i % 2 ? 5 : 0);
    const uint32_t after = backBuffer->AddRef() - 1;
    backBuffer->Release();
    EXPECT_EQ(after, before);
    for (bool srgb : {false, true}) {
        Edit([&](SceneParameterBlock& p) { p.rest.srgb = srgb; });
        const std::vector<DrawRecord> draws = Frame(0);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].RenderState(RS_SRGBWRITEENABLE), srgb ? 1u : 0u);
        EXPECT_EQ(draws[0].renderTargets[0], Serial(backBuffer));
    }
    RunOnRenderThread([&] { backBuffer->Release(); });
}

// ---- Lookup textures ----

struct LookupTest : CompositeTest {
    std::vector<uint8_t> Bytes(const DeviceObjectHandle* h) {
        std::vector<uint8_t> bytes;
        RunOnRenderThread([&] {
            Surface* level = nullptr;
            h->Texture2D()->GetSurfaceLevel(0, &level);
            recorder->ReadSurface(level, &bytes);
            level->Release();
        });
        return bytes;
    }
    static uint32_t Texel(const std::vector<uint8_t>& b, uint32_t i) {
        return b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | uint32_t(b[4 * i + 3]) << 24;
    }
};

TEST_F(LookupTest, TexturesHoldTheCurvesPackedAndRefillOnlyWhenAsked) {
    CrtSrand(7);
    std::vector<Vector> tone(kToneCurveEntries);
    std::vector<HDRColor> lookup(kColorLookupEntries);
    for (Vector& v : tone)
        v = Vector(CrtRand() / 16000.0f - 0.5f, CrtRand() / 32767.0f, CrtRand() / 10000.0f, CrtRand() / 32767.0f);
    tone[3] = Vector(NAN, -1.0f, INFINITY, 0.5f);
    for (HDRColor& c : lookup)
        c = HDRColor{uint8_t(CrtRand()), uint8_t(CrtRand()), uint8_t(CrtRand()), uint8_t(CrtRand()), CrtRand() / 16000.0f};
    Edit([&](SceneParameterBlock& p) {
        std::copy(tone.begin(), tone.end(), p.toneMappingCurve);
        std::copy(lookup.begin(), lookup.end(), p.colorLookupCurve);
    });
    Frame(1);
    const std::vector<double> index = Numbers(Reference("lookup 1024 1"));
    ASSERT_EQ(index.size(), 1024u);
    const std::vector<uint8_t> toneBytes = Bytes(Chain().ToneCurveTexture());
    ASSERT_EQ(toneBytes.size(), 4096u);
    auto packed = [](const Vector& v) {
        return uint32_t(Numbers(Reference("pack " + Text(v.x) + " " + Text(v.y) + " " + Text(v.z) + " " + Text(v.w)))[0]);
    };
    for (uint32_t i = 0; i < 1024; i += 31) {
        // Within 1e-4 of a whole entry either neighbour is right.
        const double k = index[i];
        const uint32_t lo = static_cast<uint32_t>(std::floor(k + 1e-4)), hi = static_cast<uint32_t>(std::floor(k - 1e-4));
        const uint32_t got = Texel(toneBytes, i);
        EXPECT_TRUE(got == packed(tone[lo]) || got == packed(tone[hi])) << "tone texel " << i;
    }
    EXPECT_EQ(Texel(toneBytes, 0), packed(tone[0]));
    const std::vector<uint8_t> lookupBytes = Bytes(Chain().ColorLookupTexture());
    ASSERT_EQ(lookupBytes.size(), 256u);
    for (uint32_t i = 0; i < 64; i += 3) EXPECT_EQ(Texel(lookupBytes, i), packed(lookup[i].ToVector())) << i;

    // Nothing changed: no lock. The lighting-changed flag: a refill, and the flag clear.
    recorder->ResetCallCounts();
    Frame(1);
    EXPECT_EQ(recorder->CallCount(CallKind::Lock), 0u);
    gRendererScene->PostSceneParameters(gRendererScene->Set(RendererScene::SET_IN_FORCE), SCENE_MODE_OVERRIDE, 0.0f);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { EXPECT_TRUE(gRendererScene->LightingChanged()); });
    Frame(1);
    EXPECT_EQ(recorder->CallCount(CallKind::Lock), 3u);
    RunOnRenderThread([&] { EXPECT_FALSE(gRendererScene->LightingChanged()); });

    // Refused locks: nothing written, the textures clean all the same.
    RunOnRenderThread([] { Chain().CreateDeviceObjects(); });
    RunOnRenderThread([] { EXPECT_TRUE(Chain().ToneCurveDirty() && Chain().ColorLookupDirty()); });
    const std::vector<uint8_t> blank = Bytes(Chain().ToneCurveTexture());
    const std::vector<uint8_t> blankFold = Bytes(Chain().ToneLookupTexture());
    recorder->FailLocks(3);
    Frame(1);
    RunOnRenderThread([] { EXPECT_FALSE(Chain().ToneCurveDirty() || Chain().ColorLookupDirty()); });
    EXPECT_EQ(Bytes(Chain().ToneCurveTexture()), blank);
    EXPECT_EQ(Bytes(Chain().ToneLookupTexture()), blankFold);
    for (const ValidationReport& r : recorder->Reports()) EXPECT_FALSE(r.violation) << r.rule << ": " << r.message;
}

TEST_F(LookupTest, ALostDeviceRecreatesBothTexturesDirtyAndTheyAreRefilled) {
    Frame(1);
    RunOnRenderThread([] { EXPECT_FALSE(Chain().ToneCurveDirty() || Chain().ColorLookupDirty()); });
    const uint32_t textures = recorder->LiveObjects(ObjectKind::Texture);
    recorder->LoseDeviceOnNextPresent();
    Frame(1);
    ASSERT_TRUE(WaitUntil([] { return gVornexRenderer.DeviceResetPending(); }));
    ResetRenderer(0, 0);
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture), textures);
    RunOnRenderThread([] { EXPECT_TRUE(Chain().ToneCurveDirty() && Chain().ColorLookupDirty()); });
    recorder->ResetCallCounts();
    Frame(1);
    EXPECT_EQ(recorder->CallCount(CallKind::Lock), 3u);
    RunOnRenderThread([] { EXPECT_FALSE(Chain().ToneCurveDirty() || Chain().ColorLookupDirty()); });
}

// ---- Output target ----

struct OutputTest : PostFixture {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.semiResolutionScreenScale = 0.5f;
    }
    void LastPassIsShown();
};

TEST_F(OutputTest, TheUpscaleCopiesTheBufferTheLastPassWrote) { LastPassIsShown(); }

// A window resized after the device was made, in its height alone or taller than it
// was: the back buffer takes the new size with the render targets, so the chain and a
// viewport of the render size stay within the bound targets. Strict validation refuses
// nothing.
struct ResizedOutputTest : OutputTest {
    void Configure(RendererSettings& s) override { s.gfxQualityLevel = 3; }
};

TEST_F(ResizedOutputTest, TheBackBufferFollowsAndTheChainStaysWithinItsTargets) {
    for (const uint32_t height : {100u, uint32_t(kClientHeight + 20)}) {
        SCOPED_TRACE(height);
        ResetRenderer(kClientWidth, height);
        ASSERT_EQ(gVornexRenderer.RenderWidth(), gVornexRenderer.BackBufferWidth());
        ASSERT_EQ(gVornexRenderer.RenderHeight(), height);
        ASSERT_EQ(gVornexRenderer.BackBufferHeight(), height);
        RunOnRenderThread([] { gVornexRenderer.BindBackBuffer(); });
        gVornexRenderer.SetViewport(0, 0, kClientWidth, height, 0.0f, 1.0f);
        Frame(5);
        for (const ValidationReport& r : recorder->Reports()) EXPECT_FALSE(r.violation) << r.message;
    }
}

void OutputTest::LastPassIsShown() {
    struct Case {
        bool fxaa, shift, zoom;
        uint32_t passes;
    };
    for (const Case& c : {Case{false, false, false, 0}, Case{true, false, false, 1}, Case{true, true, false, 2},
                          Case{false, true, true, 2}, Case{true, true, true, 3}}) {
        SCOPED_TRACE(c.passes);
        Edit([&](SceneParameterBlock& p) {
            p.rest.fxaaEnabled = c.fxaa;
            p.rest.zoomBlurStrength = c.zoom ? 0.5f : 0.0f;
            for (float& v : p.rgbShiftScaleCurve) v = c.shift ? 0.5f : 0.0f;
        });
        const RenderTargetId last = c.passes % 2 ? TARGET_LIGHT_0 : TARGET_LIGHT_1;
        uint32_t boundAfter22 = 0;
        const std::vector<DrawRecord> draws = Frame(5, [&] {
            Surface* bound = nullptr;
            gVornexRenderer.Device()->GetRenderTarget(0, &bound);
            boundAfter22 = Serial(bound);
            if (bound) bound->Release();
            // Two colours the upscale must tell apart.
            gVornexRenderer.Device()->ColorFill(gVornexRenderer.Target(last).surface, nullptr, 0xFF204060);
            gVornexRenderer.Device()->ColorFill(gVornexRenderer.Target(last == TARGET_LIGHT_0 ? TARGET_LIGHT_1 : TARGET_LIGHT_0).surface,
                                                nullptr, 0xFFA0A0A0);
        });
        EXPECT_EQ(boundAfter22, Serial(gVornexRenderer.Target(last).surface));
        // The last optional pass writes the buffer the output names.
        if (c.passes) {
            EXPECT_EQ(draws.back().renderTargets[0], Serial(gVornexRenderer.Target(last).surface));
        }
        std::vector<uint8_t> bytes;
        RunOnRenderThread([&] {
            Surface* backBuffer = nullptr;
            gVornexRenderer.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer);
            recorder->ReadSurface(backBuffer, &bytes);
            backBuffer->Release();
        });
        ASSERT_GE(bytes.size(), 4u);
        const size_t middle = (bytes.size() / 8) * 4;
        EXPECT_EQ(bytes[middle], 0x60);
        EXPECT_EQ(bytes[middle + 1], 0x40);
        EXPECT_EQ(bytes[middle + 2], 0x20);
    }
}

// ---- Failing shaders and device objects ----

TEST_F(CompositeTest, AFamilyThatDidNotCompileDrawsNothingAndTheChainGoesOn) {
    Edit([](SceneParameterBlock& p) { p.rest.fxaaEnabled = true; });
    const size_t full = Frame(5).size();
    // Glow source and the composite's enabled variants lost (as after a failed compile).
    ShaderPair glow = Chain().passShaders[PostProcessChain::PASS_GLOW_SOURCE];
    ShaderPair blur = Chain().passShaders[PostProcessChain::PASS_GAUSS_BLUR];
    RunOnRenderThread([] {
        Chain().passShaders[PostProcessChain::PASS_GLOW_SOURCE].vertexObject = nullptr;
        Chain().passShaders[PostProcessChain::PASS_GAUSS_BLUR].pixelObject = nullptr;
    });
    const std::vector<DrawRecord> draws = Frame(5);
    EXPECT_EQ(draws.size(), full - 5);  // the glow and its four blur draws
    EXPECT_EQ(draws.back().pixelShader.serial, PixelSerial(Chain().passShaders[PostProcessChain::PASS_FXAA]));
    RunOnRenderThread([&] {
        Chain().passShaders[PostProcessChain::PASS_GLOW_SOURCE] = glow;
        Chain().passShaders[PostProcessChain::PASS_GAUSS_BLUR] = blur;
    });
    for (const ValidationReport& r : recorder->Reports()) EXPECT_FALSE(r.violation) << r.message;
}

TEST_F(CompositeTest, DeviceObjectsAndShaderUsesReturnToTheirStart) {
    Frame(1);
    uint32_t textures = recorder->LiveObjects(ObjectKind::Texture);
    RunOnRenderThread([] { Chain().ReleaseDeviceObjects(); });
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture), textures - 3);
    RunOnRenderThread([] { Chain().CreateDeviceObjects(); });
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture), textures);
    for (uint32_t i = 0; i < 50; ++i) ResetRenderer(0, 0);
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture), textures);

    // ReleaseShaders from the main thread: every use the chain held is given back.
    std::map<ResourceShader*, uint32_t> held;
    auto hold = [&](const ShaderPair& p) {
        for (ResourceShader* r : {p.vertexShader, p.pixelShader})
            if (r) ++held[r];
    };
    for (const ShaderPair& p : Chain().compositeShaders) hold(p);
    for (const ShaderPair& p : Chain().passShaders) hold(p);
    ASSERT_FALSE(held.empty());
    std::map<ResourceShader*, uint32_t> before;
    for (auto& [r, n] : held) before[r] = r->GetUseCount();
    Chain().ReleaseShaders();
    for (const ShaderPair& p : Chain().compositeShaders) EXPECT_FALSE(p.vertexShader || p.pixelShader);
    for (auto& [r, n] : held) EXPECT_EQ(r->GetUseCount(), before[r] - n) << r->GetName();
    gShaderManager->InitPostProcessShaders(Chain());
}

// The registers a constant table declares: float registers as a count from c0 (0 when
// they do not start at c0 or have a gap) and the sampler stages as a bit mask.
std::pair<uint32_t, uint32_t> Declared(const ShaderBinding& shader) {
    uint32_t floats = 0, samplers = 0;
    std::vector<bool> used(256, false);
    for (const ConstantDesc& c : *shader.constants) {
        for (uint32_t r = c.registerIndex; r < c.registerIndex + c.registerCount && r < 256; ++r) {
            if (c.registerSet == REGISTERSET_SAMPLER) samplers |= 1u << r;
            if (c.registerSet == REGISTERSET_FLOAT4) used[r] = true;
        }
    }
    while (floats < 256 && used[floats]) ++floats;
    for (uint32_t r = floats; r < 256; ++r)
        if (used[r]) return {0, samplers};
    return {floats, samplers};
}

TEST_F(CompositeTest, EachFamilyDeclaresExactlyTheRegistersItIsGiven) {
    EveryOptionalPass();
    // The composite's outline variant without the outline renderer's own draws: nothing
    // outlined, a softness whose blend covers every pixel.
    OutlineParams params;
    params.SetSoftness(-0.1f);
    RunOnRenderThread([&] { Chain().SetOutlineParams(params, false); });
    struct Want {
        uint32_t slot;
        uint32_t floats, samplers;  // the larger of the vertex and pixel register counts
    };
    const Want passes[] = {{PostProcessChain::PASS_GLOW_SOURCE, 2, 1},  {PostProcessChain::PASS_GAUSS_BLUR, 4, 1},
                           {PostProcessChain::PASS_DOWNSCALE_LUMINANCE, 2, 3}, {PostProcessChain::PASS_FXAA, 7, 1},
                           {PostProcessChain::PASS_RGB_SHIFT, 1, 1},    {PostProcessChain::PASS_ZOOM_BLUR, 4, 1}};
    const std::vector<DrawRecord> draws = Frame(5);
    uint32_t checked = 0;
    for (const DrawRecord& d : draws) {
        ASSERT_TRUE(d.vertexShader.constants && d.pixelShader.constants);
        for (const Want& w : passes) {
            if (d.pixelShader.serial != PixelSerial(Chain().passShaders[w.slot])) continue;
            EXPECT_EQ(Declared(d.vertexShader), std::make_pair(w.floats, w.samplers)) << "vertex, pass " << w.slot;
            EXPECT_EQ(Declared(d.pixelShader), std::make_pair(w.floats, w.samplers)) << "pixel, pass " << w.slot;
            ++checked;
        }
        for (const ShaderPair& p : Chain().compositeShaders)
            if (d.pixelShader.serial == PixelSerial(p)) {
                EXPECT_EQ(Declared(d.pixelShader), std::make_pair(15u, 47u)) << "composite";
                ++checked;
                break;
            }
    }
    EXPECT_EQ(checked, draws.size());
}

TEST_F(CompositeTest, PassRegistersComeFromTheParameters) {
    Edit([](SceneParameterBlock& p) {
        p.rest.glowThreshold = 0.7f;
        p.rest.exposition = 1.5f;
        p.rest.subpixAliasing = 0.75f;
        p.rest.edgeTreshold = 0.125f;
        p.rest.edgeTresholdMin = 0.0625f;
        p.rest.consoleSubpixAliasing = 0.4f;
        p.rest.consoleEdgeTreshold = 0.15f;
        p.rest.consoleEdgeTresholdMin = 0.05f;
        p.rest.zoomBlurStrength = 0.5f;
        p.rest.zoomBlurBlurredRatio = 0.9f;
        p.rest.zoomBlurSourceRatio = 0.2f;
        p.rest.glowSoftness = 2.0f;
        p.rest.fxaaEnabled = true;
        p.rest.imageLocalContrast = 1.2f;
        for (float& v : p.rgbShiftScaleCurve) v = 0.5f;  // an amount of 0.5 at any time
    });
    const std::vector<DrawRecord> draws = Frame(5);
    const std::pair<const char*, uint32_t> families[] = {
        {"GlowSource", PostProcessChain::PASS_GLOW_SOURCE}, {"GaussBlur", PostProcessChain::PASS_GAUSS_BLUR},
        {"DownscaleLuminance", PostProcessChain::PASS_DOWNSCALE_LUMINANCE}, {"FXAA", PostProcessChain::PASS_FXAA},
        {"RGBShift", PostProcessChain::PASS_RGB_SHIFT}, {"ZoomBlur", PostProcessChain::PASS_ZOOM_BLUR}};
    auto first = [&](const std::string& name) -> const DrawRecord* {
        for (const auto& [family, slot] : families)
            if (name == family)
                for (const DrawRecord& d : draws)
                    if (d.pixelShader.serial == PixelSerial(Chain().passShaders[slot])) return &d;
        return nullptr;
    };
    std::istringstream lines(Reference("passconst 256 144 0.7 1.5 0.75 0.125 0.0625 0.4 0.15 0.05 0.5 0.9 0.2 0.5 2"));
    uint32_t checked = 0;
    for (std::string line; std::getline(lines, line); ++checked) {
        std::istringstream in(line);
        std::string name, stage, value[4];
        uint32_t reg = 0;
        in >> name >> stage >> reg >> value[0] >> value[1] >> value[2] >> value[3];
        const DrawRecord* d = first(name);
        ASSERT_NE(d, nullptr) << name;
        const float* got = stage == "vs" ? d->VertexConstant(reg) : d->PixelConstant(reg);
        for (uint32_t i = 0; i < 4; ++i) {
            if (value[i] == "any") continue;
            const double want = std::stod(value[i]);
            EXPECT_NEAR(got[i], want, 1e-6 * std::max(1.0, std::fabs(want))) << line << " [" << i << "]";
        }
    }
    EXPECT_EQ(checked, 23u);
}

// Render thread: the rule under which the device refuses a draw of the full-screen fan
// with what is bound now ("" when it draws). The refusal's report is taken back, after
// checking that nothing before it broke a rule.
std::string ProbeDraw(Recorder* recorder) {
    for (const ValidationReport& r : recorder->Reports()) EXPECT_FALSE(r.violation) << r.rule << ": " << r.message;
    recorder->ClearReports();
    const Result result = gVornexRenderer.Device()->DrawPrimitive(PT_TRIANGLEFAN, 0, 2);
    const std::vector<ValidationReport> reports = recorder->Reports();
    recorder->ClearReports();
    if (Succeeded(result)) return "";
    return reports.empty() ? "refused without a report" : reports.back().rule;
}

TEST_F(CompositeTest, StreamZeroEndsUnboundAfterEveryRun) {
    // The probe itself: with the quad bound again it draws.
    std::string control = "not probed";
    Frame(0, [&] {
        const BuiltInMesh& quad = gVornexRenderer.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
        gVornexRenderer.Device()->SetStreamSource(0, quad.vertices, 0, 20);
        control = ProbeDraw(recorder);
    });
    EXPECT_EQ(control, "");
    struct Case {
        const char* name;
        uint32_t mode;
        bool optional;  // FXAA, RGB shift and zoom blur on
        bool parameters;
    };
    const Case cases[] = {{"plain copy", 0, false, true},
                          {"composite only", 1, false, true},
                          {"every optional pass", 5, true, true},
                          {"no parameter set", 5, true, false}};
    Surface* backBuffer = nullptr;
    RunOnRenderThread([&] {
        gVornexRenderer.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer);
        backBuffer->Release();  // the swap chain keeps it
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.parameters) {
            Edit([&](SceneParameterBlock& p) {
                p.rest.fxaaEnabled = c.optional;
                p.rest.zoomBlurStrength = c.optional ? 0.5f : 0.0f;
                for (float& v : p.rgbShiftScaleCurve) v = c.optional ? 0.5f : 0.0f;
            });
        } else {
            gRendererScene->PostShutdown();
        }
        std::string rule = "not probed";
        uint32_t bound = 0;
        const std::vector<DrawRecord> draws = Frame(c.mode, [&] {
            Surface* s = nullptr;
            gVornexRenderer.Device()->GetRenderTarget(0, &s);
            bound = Serial(s);
            if (s) s->Release();
            rule = ProbeDraw(recorder);
        });
        EXPECT_EQ(rule, "draw-no-stream");
        EXPECT_EQ(bound, Serial(backBuffer));
        // Without a parameter set nothing is drawn; the output is bound all the same.
        if (!c.parameters) {
            EXPECT_TRUE(draws.empty());
        }
    }
    gRendererScene->PostInit();
}

// The chain's device objects, shader pairs and lookup textures are all given back: after
// Stop the device holds what a fresh device holds.
TEST_F(CompositeTest, AfterStopTheDeviceHoldsWhatAFreshOneHolds) {
    EveryOptionalPass();
    Frame(5);
    Device* device = gVornexRenderer.Device();
    device->AddRef();
    Recorder* kept = recorder;
    TearDown();
    created = false, recorder = nullptr;
    ExpectHoldsWhatAFreshDeviceHolds(kept);
    EXPECT_EQ(device->Release(), 0u);
}

// The benchmark's premise: the longest chain at 1280 x 720 draws about 5.5 screens'
// worth of pixels (glow, blurs and luminance at quarter size), no pass larger than the
// screen and none repeated beyond the blur's two passes of two.
struct LongestChainTest : CompositeTest {
    LongestChainTest() { clientWidth = 1280, clientHeight = 720; }
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.enableOutlines = false;
    }
};

TEST_F(LongestChainTest, DrawsAboutFourAndAHalfScreensOfPixels) {
    EveryOptionalPass();
    const std::vector<DrawRecord> draws = Frame(5);
    const uint64_t screen = 1280ull * 720ull;
    uint64_t total = 0;
    std::string sizes;
    for (const DrawRecord& d : draws) {
        const uint64_t area = uint64_t(d.viewport.width) * d.viewport.height;
        EXPECT_LE(area, screen);
        total += area;
        sizes += std::to_string(d.viewport.width) + "x" + std::to_string(d.viewport.height) + " ";
    }
    // Glow, four blur draws, luminance; composite, FXAA, RGB shift, the zoom blur.
    EXPECT_EQ(sizes, "320x180 320x180 320x180 320x180 320x180 320x180 1280x720 1280x720 1280x720 1280x720 ");
    EXPECT_LE(total, screen * 9 / 2);
}

// The RGB shift's amount in the pass: the curve over the renderer clock since the device
// was made, plus the offset of task 34.
TEST_F(CompositeTest, RgbShiftTakesTheRendererClockAndTheTask34Offset) {
    float curve[kRgbShiftCurvePoints];
    std::string curveText;
    for (uint32_t i = 0; i < kRgbShiftCurvePoints; ++i) {
        curve[i] = 0.02f * static_cast<float>(i % 17);
        curveText += " " + Text(curve[i]);
    }
    Edit([&](SceneParameterBlock& p) { std::copy(curve, curve + kRgbShiftCurvePoints, p.rgbShiftScaleCurve); });
    gVornexRenderer.PostCameraFloat(0.3f);
    const int64_t start = gVornexRenderer.StartTime();
    os::ManualClock clock(start);
    clock.Install();
    for (int64_t elapsed : {int64_t(12'345'678), int64_t(49'999'999), int64_t(3'600) * 10'000'000 + 31'700'000}) {
        SCOPED_TRACE(elapsed);
        clock.Set(start + elapsed);
        const std::vector<DrawRecord> draws = Frame(1);
        const DrawRecord* shift = nullptr;
        for (const DrawRecord& d : draws)
            if (d.pixelShader.serial == PixelSerial(Chain().passShaders[PostProcessChain::PASS_RGB_SHIFT])) shift = &d;
        ASSERT_NE(shift, nullptr);
        const std::vector<double> amount =
            Numbers(Reference("rgbshift " + std::to_string(elapsed) + " 0.3" + curveText));
        ASSERT_EQ(amount.size(), 1u);
        const double d = 144.0 * 2.0 / 1080.0 * amount[0];
        EXPECT_NEAR(shift->PixelConstant(0)[0], d / 256.0, 1e-5 * d / 256.0);
        EXPECT_NEAR(shift->PixelConstant(0)[1], d / 144.0, 1e-5 * d / 144.0);
    }
    clock.Uninstall();
    gVornexRenderer.PostCameraFloat(0.0f);  // the renderer outlives the fixture
    gVornexRenderer.FlushCommands(true);
}

}  // namespace
