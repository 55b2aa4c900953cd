// Deferred lighting on the recording device: the global light's variant, registers and
// samplers; the light volumes' colours, placement and near-plane rule; the ambient
// occlusion gate and its passes.
// test-depends: shader_data
// test-sanitize: address
#include <cmath>

#include "DeferredTestSupport.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/DeviceObjectHandle.h"

using namespace rendertest;
using namespace passtest;

namespace {

struct Config {
    uint32_t quality;
    bool shadowMap, filtering;
};

struct LightingTest : DeferredFixture, ::testing::WithParamInterface<Config> {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = GetParam().quality;
        s.enableShadowMap = GetParam().shadowMap;
        s.enableShadowMapFiltering = GetParam().filtering;
        s.shadowMapSize = 1024;
    }
    void SetUp() override {
        DeferredFixture::SetUp();
        if (HasFatalFailure()) return;
        Camera(Vector(0, 50, -80, 1), 16.0f / 9.0f);
        Edit([](SceneParameterBlock& p) {
            p.light.lightDirection = Vector(0.36f, -0.8f, 0.48f, 0);
            p.light.specularDirection = Vector(0, -1, 0, 0);
            p.light.lightColor = Vector(0.8f, 0.6f, 0.4f, 1);
            p.light.secondaryColor = Vector(0.2f, 0.3f, 0.4f, 0);
            p.light.sideColor = Vector(0.1f, 0.0f, 0.2f, 0);
            p.light.specularColor = Vector(1.0f, 0.9f, 0.8f, 1);
            p.light.wrapAroundFactor = Vector(0.3f, 0.3f, 0.3f, 0.3f);
            p.light.fakeShadowStrength = Vector(0.7f, 0.7f, 0.7f, 0.7f);
            p.cloudTexture = nullptr;
        });
    }
    void TearDown() override {
        Edit([](SceneParameterBlock& p) { p.cloudTexture = nullptr; });
        DeferredFixture::TearDown();
    }
    RendererLight* AddLight(uint32_t type, const Vector& position, float range, bool textured = false) {
        RendererLightShape shape;
        shape.color = Vector(0.9f, 0.5f, 0.1f, 1);
        shape.intensity = 2.0f;
        Matrix m = Matrix::IDENTITY;
        m.r[3] = position;
        return DeferredFixture::AddLight(type, m, shape, range, 30.0f, textured);
    }
};

void ExpectVector(const float* got, const Vector& want, float tolerance, const char* what) {
    EXPECT_NEAR(got[0], want.x, tolerance) << what;
    EXPECT_NEAR(got[1], want.y, tolerance) << what;
    EXPECT_NEAR(got[2], want.z, tolerance) << what;
    EXPECT_NEAR(got[3], want.w, tolerance) << what;
}

TEST_P(LightingTest, GlobalLightPicksItsVariantRegistersAndSamplers) {
    const Config cfg = GetParam();
    DeviceObjectHandle* cloud = gShaderManager->SystemTexture(0);
    ASSERT_NE(cloud, nullptr);
    struct Case { bool cloud; float strength; uint32_t flags; };
    for (const Case& c : {Case{false, 0.5f, 0}, Case{true, 0.5f, 0}, Case{false, 0.0f, 0}, Case{true, 0.5f, 0x10},
                          Case{false, 0.5f, 0x200000}}) {
        SCOPED_TRACE(::testing::Message() << "cloud " << c.cloud << " strength " << c.strength << " flags " << c.flags);
        Edit([&](SceneParameterBlock& p) {
            p.cloudTexture = c.cloud ? cloud : nullptr;
            p.light.shadowStrength = Vector(c.strength, c.strength, c.strength, c.strength);
        });
        const std::vector<DrawRecord> frame = Frame(c.flags);
        // The present block's bytes: shadows need a quality above "Ultra low", filtering
        // one above "Medium".
        const PresentParameterBlock& block = gVornexRenderer.BlockInForce();
        ASSERT_EQ(block.shadowMap != 0, cfg.shadowMap && cfg.quality > 0);
        ASSERT_EQ(block.shadowFiltering != 0, cfg.shadowMap && cfg.filtering && cfg.quality > 2);
        const bool shadowed = block.shadowMap && c.strength > 0.0f && !(c.flags & 0x30B011);
        const uint32_t variant = (c.cloud && cfg.quality > 0 ? 1u : 0u) | (shadowed ? 2u : 0u) |
                                 (shadowed && block.shadowFiltering ? 4u : 0u) | (cfg.quality < 2 ? 8u : 0u);
        const ShaderPair& pair = gShaderManager->Light(4, variant);
        const std::vector<const DrawRecord*> found = With(frame, pair);
        if (!pair.IsValid()) {
            // A variant never requested: the pass is skipped, no other table-4 pair draws.
            for (uint32_t v = 0; v < 16; ++v) EXPECT_TRUE(With(frame, gShaderManager->Light(4, v)).empty()) << v;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << "variant " << variant;
        const DrawRecord& d = *found[0];
        EXPECT_EQ(d.primitiveType, PT_TRIANGLEFAN);
        EXPECT_EQ(d.primitiveCount, 2u);
        EXPECT_EQ(d.renderTargets[0], SerialOf(gVornexRenderer.Target(TARGET_LIGHT_0).surface));
        EXPECT_EQ(d.RenderState(RS_STENCILFUNC), uint32_t(CMP_EQUAL));
        EXPECT_EQ(d.RenderState(RS_STENCILREF), 1u);
        EXPECT_EQ(d.RenderState(RS_ZFUNC), uint32_t(CMP_ALWAYS));
        EXPECT_EQ(d.RenderState(RS_ZWRITEENABLE), 0u);
        // c10-c13: the inverse view.
        Matrix inverse;
        inverse.Inverse(view);
        for (uint32_t i = 0; i < 4; ++i) ExpectVector(d.PixelConstant(10 + i), inverse.r[i], 1e-4f, "inverse view");
        // c14: toward the sun in view space; c16: colour x 0.25 with its luminance.
        Vector sun(0.36f, -0.8f, 0.48f, 0), toward;
        toward.Transform3DNormal(view, sun);
        toward.NormalizeXYZ();
        ExpectVector(d.PixelConstant(14), Vector(-toward.x, -toward.y, -toward.z, 0), 1e-5f, "c14");
        ExpectVector(d.PixelConstant(16), Vector(0.2f, 0.15f, 0.1f, 0.2126f * 0.2f + 0.7152f * 0.15f + 0.0722f * 0.1f),
                     1e-6f, "c16");
        ExpectVector(d.PixelConstant(17), Vector(0.05f, 0.075f, 0.1f, 0.0f), 1e-6f, "c17");
        ExpectVector(d.PixelConstant(20), Vector(0.3f, 0.7f, c.strength, 0.0f), 1e-6f, "c20");
        EXPECT_EQ(d.textures[6].serial, SerialOf(gVornexRenderer.Target(TARGET_NORMAL).texture->Texture()));
        EXPECT_EQ(d.textures[5].serial, SerialOf(gVornexRenderer.AmbientCube()->Texture()));
        // Samplers the variant reads (others may keep an earlier binding it never samples).
        if (variant & 1u) {
            EXPECT_EQ(d.textures[0].serial, SerialOf(cloud->Texture()));
        }
        if (shadowed) {
            EXPECT_EQ(d.textures[12].serial, SerialOf(gVornexRenderer.Target(TARGET_SHADOW_MAP).texture->Texture()));
            const float S = static_cast<float>(block.shadowMapSize);
            ExpectVector(d.PixelConstant(29), Vector(1.0f - c.strength, 1.0f / S, S, 0.0f), 1e-7f, "c29");
            EXPECT_EQ(d.SamplerState(12, SAMP_ADDRESSU), uint32_t(TADDRESS_CLAMP));
            EXPECT_EQ(d.SamplerState(12, SAMP_MAGFILTER), uint32_t(TEXF_LINEAR));
            EXPECT_EQ(d.SamplerState(12, SAMP_SRGBTEXTURE), 0u);
        }
    }
}

TEST_P(LightingTest, LightsTakeTheirColourPlacementAndNearPlaneRule) {
    const Config cfg = GetParam();
    Edit([](SceneParameterBlock& p) { p.rest.battleModeDesaturation = 0.25f; });
    RendererLight* far = AddLight(LIGHT_TYPE_POINT, Vector(0, 0, 0, 1), 10.0f);
    RendererLight* around = AddLight(LIGHT_TYPE_POINT, Vector(0, 50, -80, 1), 10.0f);  // the camera inside
    RendererLight* textured = AddLight(LIGHT_TYPE_POINT, Vector(5, 0, 0, 1), 6.0f, true);
    AddLight(LIGHT_TYPE_DIRECTIONAL_AMBIENT, Vector(0, 0, 0, 1), 1.0f);  // never drawn
    (void)far, (void)around, (void)textured;
    const std::vector<DrawRecord> frame = Frame(0);
    const bool low = cfg.quality < 2;
    const ShaderPair& plain = gShaderManager->Light(0, low ? 8 : 0);
    const ShaderPair& withTexture = gShaderManager->Light(0, low ? 8 : 1);
    std::vector<const DrawRecord*> draws = With(frame, plain);
    if (!low) {
        const auto more = With(frame, withTexture);
        draws.insert(draws.end(), more.begin(), more.end());
        std::sort(draws.begin(), draws.end());
    }
    ASSERT_EQ(draws.size(), 3u);
    // Records are in draw order, which is list order.
    const float s = 0.25f;
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const DrawRecord& d = *draws[i];
        const float scale = i == 2 && low ? 0.3f : 1.0f;
        const Vector c = Vector(0.9f, 0.5f, 0.1f, 1) * scale;
        const float l = 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z;
        const Vector c10(((1 - s) * c.x + s * l) * 0.25f, ((1 - s) * c.y + s * l) * 0.25f, ((1 - s) * c.z + s * l) * 0.25f,
                         0.25f);
        ExpectVector(d.PixelConstant(10), c10, 1e-6f, "c10");
        const Vector c11 = c10 * 2.0f;
        ExpectVector(d.PixelConstant(11), Vector(c11.x, c11.y, c11.z, 0.2126f * c11.x + 0.7152f * c11.y + 0.0722f * c11.z),
                     1e-6f, "c11");
        EXPECT_EQ(d.textures[0].serial != 0, i == 2 && !low);
        EXPECT_EQ(d.RenderState(RS_ALPHABLENDENABLE), 1u);  // additive
        EXPECT_EQ(d.primitiveType, PT_TRIANGLELIST);
    }
    // c12 in view space.
    Vector p;
    p.TransformHomogen(view, Vector(0, 0, 0, 1));
    ExpectVector(draws[0]->PixelConstant(12), Vector(p.x, p.y, p.z, 1), 1e-4f, "c12");
    // Outside the volume: LESSEQUAL and clockwise culling; inside: ALWAYS, counter-clockwise.
    EXPECT_EQ(draws[0]->RenderState(RS_ZFUNC), uint32_t(CMP_LESSEQUAL));
    EXPECT_EQ(draws[0]->RenderState(RS_CULLMODE), uint32_t(CULL_CW));
    EXPECT_EQ(draws[1]->RenderState(RS_ZFUNC), uint32_t(CMP_ALWAYS));
    EXPECT_EQ(draws[1]->RenderState(RS_CULLMODE), uint32_t(CULL_CCW));
    // The sphere's placement: a unit sphere scaled by the range at the position.
    Matrix volume, wvp;
    volume.LoadScale(10, 10, 10);
    Matrix vp;
    vp.Mul(projection, view);
    wvp.Mul(vp, volume);
    for (uint32_t r = 0; r < 4; ++r) ExpectVector(draws[0]->VertexConstant(r), wvp.r[r], 1e-3f, "volume");
}

TEST_P(LightingTest, ALightForgottenAfterItsRegistrationIsNeverRead) {
    AddLight(LIGHT_TYPE_POINT, Vector(0, 0, 0, 1), 10.0f);
    RendererLight* gone = AddLight(LIGHT_TYPE_POINT, Vector(3, 0, 0, 1), 10.0f);
    recorder->ClearDrawRecords();
    BeginFrame();
    gVornexRenderer.PostResetFrameGather();
    for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
    // Destroyed between its registration and the scene pass: its slot is cleared.
    RunOnRenderThread([&] {
        gVornexRenderer.ForgetLight(gone);
        lights.pop_back();
    });
    gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0, 1);
    EndFrame();
    const std::vector<DrawRecord> frame = Draws();
    const bool low = GetParam().quality < 2;
    EXPECT_EQ(With(frame, gShaderManager->Light(0, low ? 8 : 0)).size(), 1u);
    EXPECT_EQ(gVornexRenderer.GatheredLights(), 0u);  // the frame's counts reset by its end
}

TEST_P(LightingTest, AmbientOcclusionGateDecidesWhereTheGlobalLightGoes) {
    const Config cfg = GetParam();
    PostProcessChain& chain = gVornexRenderer.PostProcess();
    Edit([](SceneParameterBlock& p) {
        p.rest.ssaoIntensity = 1.5f;
        p.rest.ssaoRadius = 15.0f;
        p.light.shadowStrength = Vector(0.5f, 0.5f, 0.5f, 0.5f);
    });
    struct Case { const char* what; uint32_t flags; float intensity; bool breakPair; };
    const Case cases[] = {
        {"allowed", 0x80000, 1.5f, false},
        {"flag clear", 0, 1.5f, false},
        {"weak", 0x80000, 0.001f, false},
        {"broken pair", 0x80000, 1.5f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Edit([&](SceneParameterBlock& p) { p.rest.ssaoIntensity = c.intensity; });
        if (c.breakPair) RunOnRenderThread([&] { chain.passShaders[PostProcessChain::PASS_SSAO_BLUR].Release(); });
        const std::vector<DrawRecord> frame = Frame(c.flags);
        const bool due = cfg.quality >= 3 && c.flags && c.intensity > 0.001f && !c.breakPair;
        bool sawGlobal = false;
        for (uint32_t v = 0; v < 16; ++v) {
            for (const DrawRecord* d : With(frame, gShaderManager->Light(4, v))) {
                sawGlobal = true;
                EXPECT_EQ(d->renderTargets[0],
                          SerialOf(gVornexRenderer.Target(due ? TARGET_LIGHT_1 : TARGET_LIGHT_0).surface));
            }
        }
        EXPECT_TRUE(sawGlobal);
        const auto prepare = With(frame, chain.passShaders[PostProcessChain::PASS_SSAO_PREPARE_NORMAL_MAPS]);
        const auto blurFinal = With(frame, chain.passShaders[PostProcessChain::PASS_SSAO_BLUR_FINAL]);
        EXPECT_EQ(prepare.size(), due ? 1u : 0u);
        EXPECT_EQ(blurFinal.size(), due ? 1u : 0u);
        if (!due) continue;
        const DrawRecord& p = *prepare[0];
        const float h = static_cast<float>(gVornexRenderer.RenderHeight());
        const float r = h / 1080.0f * 15.0f;
        const float rc = std::fmin(std::fmax(r, 1.0f), 20.0f);
        ExpectVector(p.PixelConstant(0), Vector(r, r * r, rc, 1.5f * 0.625f / (r * r * r * r)), 1e-4f, "ssao c0");
        EXPECT_EQ(p.renderTargets[0], SerialOf(gVornexRenderer.Target(TARGET_OCCLUSION_0).surface));
        EXPECT_EQ(p.textures[10].serial, SerialOf(gVornexRenderer.DepthSourceTexture()->Texture()));
        EXPECT_EQ(p.SamplerState(0, SAMP_MAGFILTER), uint32_t(TEXF_POINT));
        const DrawRecord& b = *blurFinal[0];
        EXPECT_EQ(b.renderTargets[0], SerialOf(gVornexRenderer.Target(TARGET_LIGHT_0).surface));
        EXPECT_EQ(b.textures[1].serial, SerialOf(gVornexRenderer.Target(TARGET_LIGHT_1).texture->Texture()));
    }
}

// The renderer uploads every matrix row by row (c10-c13 the inverse view, c25-c28 the
// shadow matrix, the volume and mask matrices): a matrix the shaders read in the default
// column packing would be used transposed (the global light's ambient look-up turned the
// wrong way round).
TEST_P(LightingTest, EveryMatrixTheLightShadersReadIsPackedByRows) {
    uint32_t checked = 0;
    for (uint32_t table : {0u, 1u, 2u, 4u}) {
        for (uint32_t variant = 0; variant < 16; ++variant) {
            const ShaderPair& pair = gShaderManager->Light(table, variant);
            if (!pair.IsValid()) continue;
            for (int stage = 0; stage < 2; ++stage) {
                std::vector<uint8_t> code;
                RunOnRenderThread([&] {
                    uint32_t size = 0;
                    auto read = [&](auto* s) {
                        if (!s || gfx::Failed(s->GetFunction(nullptr, &size)) || !size) return;
                        code.resize(size);
                        if (gfx::Failed(s->GetFunction(code.data(), &size))) code.clear();
                    };
                    if (stage == 0) read(pair.vertexObject->DeviceShader());
                    else read(pair.pixelObject->DeviceShader());
                });
                ASSERT_FALSE(code.empty()) << table << " " << variant;
                gfx::ConstantTable* constants = nullptr;
                ASSERT_EQ(gfx::GetShaderConstantTableSized(code.data(), code.size(), &constants), gfx::OK);
                for (uint32_t i = 0; const gfx::ConstantDesc* d = constants->GetConstantDesc(i); ++i) {
                    EXPECT_NE(d->parameterClass, gfx::PARAMCLASS_MATRIX_COLUMNS)
                        << d->name << " of table " << table << " variant " << variant << " stage " << stage;
                    ++checked;
                }
                constants->Release();
            }
        }
    }
    EXPECT_GT(checked, 0u);
}

INSTANTIATE_TEST_SUITE_P(Quality, LightingTest,
                         ::testing::Values(Config{1, true, true}, Config{2, true, false}, Config{3, true, true},
                                           Config{3, false, false}, Config{0, true, true}));

}  // namespace
