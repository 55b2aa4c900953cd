// Deferred lighting on the recording device: the global light's variant, registers and
// samplers; the light volumes' colours, placement and near-plane rule; the ambient
// occlusion gate and its passes; where the cone and tube volumes land, the
// projected-texture rows, the ambient occlusion constants at several render heights,
// and the device objects after resets.
//
// The deferred pre-pass on each depth path (INTZ, RAWZ, linear depth) with and without
// multisampling: the linear-depth clear and binding, the geometry stencil, the batch order
// on the mesh hooks, the depth surfaces of the passes, and the depth source the ambient
// occlusion samples.
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
    gVornexRenderer.SubmitRenderTask(mesh.get(), RENDER_FLAG_DEFERRED);
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

struct VolumesFixture : DeferredFixture {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.enableShadowMap = true;
        s.shadowMapSize = 1024;
    }
    void SetUp() override {
        DeferredFixture::SetUp();
        if (HasFatalFailure()) return;
        Camera(Vector(3, 40, -60, 1), float(clientWidth) / float(clientHeight));
    }
    RendererLight* AddLight(uint32_t type, const Matrix& placement, float range, float angle, bool textured) {
        RendererLightShape shape;
        shape.color = Vector(1, 1, 1, 1);
        return DeferredFixture::AddLight(type, placement, shape, range, angle, textured);
    }
};

// A turned placement: its rows are an orthonormal frame, row 3 the position.
Matrix Placement(const Vector& position) {
    Matrix a, b, m;
    a.LoadYRotation(35.0f);
    b.LoadXRotation(-50.0f);
    m.Mul(a, b);
    m.r[3] = position;
    return m;
}

Vector RowCombination(const Matrix& m, float x, float y, float z) {
    return Vector(m.r[3].x + x * m.r[0].x + y * m.r[1].x + z * m.r[2].x,
                  m.r[3].y + x * m.r[0].y + y * m.r[1].y + z * m.r[2].y,
                  m.r[3].z + x * m.r[0].z + y * m.r[1].z + z * m.r[2].z, 1.0f);
}

Vector RowTimes(const Vector& p, const float* rows) {  // p (w = 1) x four rows
    Vector out;
    out.x = p.x * rows[0] + p.y * rows[4] + p.z * rows[8] + rows[12];
    out.y = p.x * rows[1] + p.y * rows[5] + p.z * rows[9] + rows[13];
    out.z = p.x * rows[2] + p.y * rows[6] + p.z * rows[10] + rows[14];
    out.w = p.x * rows[3] + p.y * rows[7] + p.z * rows[11] + rows[15];
    return out;
}

std::vector<float> Rows(const DrawRecord& d, uint32_t first, bool pixel) {
    std::vector<float> out;
    for (uint32_t r = 0; r < 4; ++r) {
        const float* c = pixel ? d.PixelConstant(first + r) : d.VertexConstant(first + r);
        out.insert(out.end(), c, c + 4);
    }
    return out;
}

TEST_F(VolumesFixture, ConeAndTubeVolumesCoverTheirLightsShapeAroundTheLightMatrix) {
    const float range = 12.0f, angle = 25.0f;
    const Matrix cone = Placement(Vector(4, 6, -3, 1));
    Matrix tube = Placement(Vector(-5, 3, 8, 1));
    AddLight(LIGHT_TYPE_SPOT, cone, range, angle, false);
    AddLight(LIGHT_TYPE_TUBE, tube, range, 0.0f, false);
    const std::vector<DrawRecord> frame = Frame(0);
    const auto spots = With(frame, gShaderManager->Light(LIGHT_TYPE_SPOT, 0));
    const auto tubes = With(frame, gShaderManager->Light(LIGHT_TYPE_TUBE, 0));
    ASSERT_EQ(spots.size(), 1u);
    ASSERT_EQ(tubes.size(), 1u);
    Matrix viewProjection;
    viewProjection.Mul(projection, view);
    const float across = range * std::tan(angle * 3.14159265f / 180.0f);
    struct Case {
        const char* what;
        const DrawRecord* draw;
        BuiltInMeshId mesh;
        Matrix placement;
        float across, along;
    } cases[] = {{"cone", spots[0], MESH_UNIT_CONE, cone, across, range},
                 {"tube", tubes[0], MESH_CYLINDER, tube, range, range}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> clip = Rows(*c.draw, 0, false), inView = Rows(*c.draw, 4, false);
        const BuiltInMeshData mesh = GenerateBuiltInMesh(c.mesh);
        ASSERT_GE(mesh.vertices.size(), 12u * 3);
        // Every mesh vertex: across the light's x and y rows, along its z row.
        for (size_t at = 0; at + 12 <= mesh.vertices.size(); at += mesh.stride) {
            float v[3];
            std::memcpy(v, &mesh.vertices[at], 12);
            const Vector world = RowCombination(c.placement, v[0] * c.across, v[1] * c.across, v[2] * c.along);
            Vector wantView, wantClip;
            wantView.Transform3D(view, world);
            wantClip.TransformHomogen(viewProjection, world);
            const Vector gotView = RowTimes(Vector(v[0], v[1], v[2], 1), inView.data());
            Vector gotClip = RowTimes(Vector(v[0], v[1], v[2], 1), clip.data());
            ASSERT_GT(gotClip.w, 0.0f);
            gotClip = gotClip * (1.0f / gotClip.w);
            EXPECT_NEAR(gotView.x, wantView.x, 1e-3f);
            EXPECT_NEAR(gotView.y, wantView.y, 1e-3f);
            EXPECT_NEAR(gotView.z, wantView.z, 1e-3f);
            EXPECT_NEAR(gotClip.x, wantClip.x, 1e-4f);
            EXPECT_NEAR(gotClip.y, wantClip.y, 1e-4f);
            EXPECT_NEAR(gotClip.z, wantClip.z, 1e-4f);
        }
        // c14: the light's axis in view space.
        Vector axis;
        axis.Transform3DNormal(view, Vector(c.placement.r[2].x, c.placement.r[2].y, c.placement.r[2].z, 0));
        axis.NormalizeXYZ();
        const float* c14 = c.draw->PixelConstant(14);
        EXPECT_NEAR(c14[0], axis.x, 1e-5f);
        EXPECT_NEAR(c14[1], axis.y, 1e-5f);
        EXPECT_NEAR(c14[2], axis.z, 1e-5f);
    }
}

TEST_F(VolumesFixture, ProjectedTextureRowsMapTheLightsFrameOntoItsTexture) {
    const float range = 10.0f, angle = 30.0f;
    const Matrix spot = Placement(Vector(2, 5, 1, 1));
    const Matrix point = Placement(Vector(-6, 2, 4, 1));
    AddLight(LIGHT_TYPE_SPOT, spot, range, angle, true);
    AddLight(LIGHT_TYPE_POINT, point, range, 0.0f, true);
    const std::vector<DrawRecord> frame = Frame(0);
    const auto spots = With(frame, gShaderManager->Light(LIGHT_TYPE_SPOT, 1));
    const auto points = With(frame, gShaderManager->Light(LIGHT_TYPE_POINT, 1));
    ASSERT_EQ(spots.size(), 1u);
    ASSERT_EQ(points.size(), 1u);
    // A world point through the view, then c15-c18: texture coordinates after the divide.
    auto texture = [&](const DrawRecord& d, const Vector& world, float& u, float& v) {
        Vector p;
        p.Transform3D(view, world);
        const Vector m = RowTimes(p, Rows(d, 15, true).data());
        u = m.x / m.w, v = m.y / m.w;
    };
    const float t = std::tan(angle * 3.14159265f / 180.0f);
    // On the cone: the axis hits the texture's centre, its edges the texture's borders
    // (x to the right, y up in the light's frame; v grows downward).
    struct Point {
        float x, y;  // across, in units of the cone's half width at that distance
        float u, v;
    } onCone[] = {{0, 0, 0.5f, 0.5f}, {1, 0, 1.0f, 0.5f}, {-1, 0, 0.0f, 0.5f}, {0, 1, 0.5f, 0.0f}, {0.5f, -0.5f, 0.75f, 0.75f}};
    for (float distance : {0.5f, 3.0f, 9.0f})
        for (const Point& q : onCone) {
            SCOPED_TRACE(::testing::Message() << "cone at " << distance << " (" << q.x << ", " << q.y << ")");
            float u, v;
            texture(*spots[0], RowCombination(spot, q.x * t * distance, q.y * t * distance, distance), u, v);
            EXPECT_NEAR(u, q.u, 1e-3f);
            EXPECT_NEAR(v, q.v, 1e-3f);
        }
    // A sphere light: its own frame's coordinates.
    for (const Vector& local : {Vector(1, 0, 0, 1), Vector(0, 2, 0, 1), Vector(-1, 0.5f, 3, 1)}) {
        float u, v;
        texture(*points[0], RowCombination(point, local.x, local.y, local.z), u, v);
        EXPECT_NEAR(u, local.x, 1e-3f);
        EXPECT_NEAR(v, local.y, 1e-3f);
    }
}

// The lighting pass culls the same winding for the sphere, the cone and the cylinder:
// all three must turn their outer faces the same way (counter-clockwise seen from
// outside, which the cone's list fixes).
TEST(LightVolumeMeshes, TurnTheirOuterFacesTheWayTheConeDoes) {
    const struct {
        BuiltInMeshId mesh;
        Vector centre;
    } meshes[] = {{MESH_UNIT_SPHERE, Vector(0, 0, 0, 1)}, {MESH_UNIT_CONE, Vector(0, 0, 0.6f, 1)},
                  {MESH_CYLINDER, Vector(0, 0, 0, 1)}};
    for (const auto& m : meshes) {
        const BuiltInMeshData data = GenerateBuiltInMesh(m.mesh);
        auto point = [&](uint16_t i) {
            float v[3];
            std::memcpy(v, &data.vertices[size_t(i) * data.stride], 12);
            return Vector(v[0], v[1], v[2], 1);
        };
        size_t outward = 0, triangles = 0;
        for (size_t t = 0; t + 3 <= data.indices[0].size(); t += 3) {
            const Vector a = point(data.indices[0][t]), b = point(data.indices[0][t + 1]), c = point(data.indices[0][t + 2]);
            const Vector e = b - a, f = c - a;
            const Vector n(e.y * f.z - e.z * f.y, e.z * f.x - e.x * f.z, e.x * f.y - e.y * f.x, 0);
            const Vector centroid = (a + b + c) * (1.0f / 3.0f) - m.centre;
            // Clockwise seen from outside when the normal by this cross product points out.
            outward += n.x * centroid.x + n.y * centroid.y + n.z * centroid.z > 0;
            ++triangles;
        }
        EXPECT_GT(triangles, 0u) << m.mesh;
        EXPECT_EQ(outward, 0u) << "mesh " << m.mesh << ": " << outward << " of " << triangles << " triangles clockwise outside";
    }
}

// Ambient occlusion constants of "SSAOPrepare" at render heights of 720, 1080 and 2160
// (narrow renders keep the targets small) for radii below, inside and above the clamp.
struct OcclusionHeightTest : VolumesFixture, ::testing::WithParamInterface<int32_t> {
    OcclusionHeightTest() { clientWidth = 24, clientHeight = GetParam(); }
};

TEST_P(OcclusionHeightTest, PrepareConstantsFollowTheReference) {
    ASSERT_EQ(gVornexRenderer.RenderHeight(), uint32_t(GetParam()));
    PostProcessChain& chain = gVornexRenderer.PostProcess();
    ASSERT_TRUE(chain.CanRunSSAO());
    for (float radius : {0.5f, 6.0f, 15.0f, 30.0f, 0.0f}) {
        for (float intensity : {1.5f, 3.0e38f}) {
            SCOPED_TRACE(::testing::Message() << "radius " << radius << " intensity " << intensity);
            Edit([&](SceneParameterBlock& p) {
                p.rest.ssaoIntensity = intensity;
                p.rest.ssaoRadius = radius;
                p.rest.ssaoUseNormalMaps = false;
            });
            const std::vector<DrawRecord> frame = Frame(RENDER_PASS_AMBIENT_OCCLUSION);
            const auto prepare = With(frame, chain.passShaders[PostProcessChain::PASS_SSAO_PREPARE]);
            ASSERT_EQ(prepare.size(), 1u);
            const DrawRecord& d = *prepare[0];
            std::ostringstream args;
            args.precision(9);
            args << "ssao " << GetParam() << " " << radius << " " << intensity;
            const std::vector<double> want = Numbers(Reference(args.str()));
            ASSERT_EQ(want.size(), 4u) << "passes_reference.py " << args.str();
            const float* c0 = d.PixelConstant(0);
            for (int k = 0; k < 4; ++k) EXPECT_NEAR(c0[k], want[k], 1e-6 * std::max(1.0, std::fabs(want[k]))) << k;
            EXPECT_TRUE(std::isfinite(c0[3]));
            // The kernel: eight points, the first four at half the clamped radius and the
            // rest at the full one, in projection units (c1).
            const float* q = d.PixelConstant(1);
            for (uint32_t i = 0; i < 8; ++i) {
                const float* k = d.PixelConstant(4 + i);
                const float x = k[0] / (q[0] * float(want[2])), y = k[1] / (q[1] * float(want[2]));
                EXPECT_NEAR(std::sqrt(x * x + y * y), i < 4 ? 0.5f : 1.0f, 1e-4f) << "kernel " << i;
                EXPECT_NEAR(k[2], x * q[2] * float(want[2]), 1e-4f) << "kernel " << i;
                EXPECT_NEAR(k[3], y * q[3] * float(want[2]), 1e-4f) << "kernel " << i;
            }
            // The viewport's share of the target and half a texel in vertex c0.
            const float* v0 = d.VertexConstant(0);
            EXPECT_FLOAT_EQ(v0[0], 1.0f);
            EXPECT_FLOAT_EQ(v0[1], 1.0f);
            EXPECT_FLOAT_EQ(v0[3], 0.5f / float(GetParam()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Heights, OcclusionHeightTest, ::testing::Values(720, 1080, 2160));

// Frames with every pass the frame owns (lights, occlusion, shadow map, outlines), then
// device resets: the same objects of every kind and pool afterwards.
TEST_F(VolumesFixture, DeviceObjectsReturnToTheirCountsAfterResets) {
    Edit([](SceneParameterBlock& p) {
        p.rest.ssaoIntensity = 1.0f;
        p.light.shadowStrength = Vector(0.5f, 0.5f, 0.5f, 0.5f);
    });
    AddLight(LIGHT_TYPE_POINT, Placement(Vector(0, 0, 0, 1)), 10.0f, 0.0f, true);
    AddLight(LIGHT_TYPE_SPOT, Placement(Vector(5, 2, 0, 1)), 10.0f, 30.0f, true);
    AddLight(LIGHT_TYPE_TUBE, Placement(Vector(-5, 2, 0, 1)), 10.0f, 0.0f, false);
    auto outlined = MakeContext(Vector(0, 0, 0, 1), 4);
    outlined->category = 2;
    auto frame = [&] {
        BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
        gVornexRenderer.SubmitRenderTask(outlined.get(), RENDER_FLAG_FORWARD | RENDER_FLAG_OUTLINE);
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), RENDER_PASS_AMBIENT_OCCLUSION, 1);
        EndFrame();
    };
    auto counts = [&] {
        std::vector<uint32_t> out;
        RunOnRenderThread([&] {
            for (uint32_t k = 0; k < uint32_t(ObjectKind::Count); ++k)
                for (Pool pool : {POOL_DEFAULT, POOL_MANAGED, POOL_SYSTEMMEM, POOL_SCRATCH})
                    out.push_back(recorder->LiveObjects(ObjectKind(k), pool));
        });
        return out;
    };
    frame();
    frame();
    const std::vector<uint32_t> baseline = counts();
    ASSERT_TRUE(gVornexRenderer.Target(TARGET_OCCLUSION_0).surface);
    ASSERT_TRUE(gVornexRenderer.PostProcess().Outlines().Ring());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        gVornexRenderer.Reset(window, clientWidth, clientHeight, true, false);
        frame();
        EXPECT_EQ(counts(), baseline);
        EXPECT_TRUE(gVornexRenderer.PostProcess().Outlines().Ring());
    }
    // A lost device: the default-pool objects go and come back in the same numbers.
    recorder->LoseDeviceOnNextPresent();
    frame();
    frame();
    gVornexRenderer.Reset(window, clientWidth, clientHeight, true, false);
    frame();
    EXPECT_EQ(counts(), baseline);
    gVornexRenderer.FlushCommands(true);
}

constexpr uint32_t R = STENCILOP_REPLACE;

enum class Depth { Intz, Rawz, Linear };

struct Case {
    const char* name;
    Depth depth;
    bool msaa;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<std::pair<uint32_t, uint32_t>> gBatches;  // (pass, mode) begun; (flags, ~0u) flushed

// The targets and depth-stencil surface bound at each draw.
struct TargetContext : RecordingContext {
    using RecordingContext::RecordingContext;
    void Draw(void* task, const Matrix& m, const RenderTaskArguments& a) override {
        RecordingContext::Draw(task, m, a);
        Bound b{a.pass};
        Surface* s = nullptr;
        for (uint32_t i = 0; i < 2; ++i) {
            s = nullptr;
            gVornexRenderer.Device()->GetRenderTarget(i, &s);
            b.target[i] = s;
            if (s) s->Release();
        }
        s = nullptr;
        gVornexRenderer.Device()->GetDepthStencilSurface(&s);
        b.depth = s;
        if (s) s->Release();
        bound.push_back(b);
    }
    struct Bound {
        uint32_t pass = 0;
        Surface* target[2] = {};
        Surface* depth = nullptr;
    };
    std::vector<Bound> bound;
};

struct PrePassTest : DeferredFixture, ::testing::WithParamInterface<Case> {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.msaaMode = 1;
        gfx::CapabilityFaults faults;
        faults.refuseIntz = GetParam().depth != Depth::Intz;
        faults.refuseRawz = GetParam().depth == Depth::Linear;
        faults.refuseMultisample = !GetParam().msaa;
        gfx::SetCapabilityFaults(faults);
    }
    void SetUp() override {
        Seen().clear();
        gBatches.clear();
        DeferredFixture::SetUp();
        if (HasFatalFailure()) return;
        // The mesh draw batches of the passes, recorded.
        static struct : SceneDrawServices {
            void BeginMeshDrawBatch(uint32_t pass, uint32_t mode) override { gBatches.push_back({pass, mode}); }
            void FlushMeshDrawBatch(uint32_t flags) override { gBatches.push_back({flags, ~0u}); }
        } batches;
        SetSceneDrawServices(&batches);
        Camera(Vector(0, 50, -80, 1), 16.0f / 9.0f);
        Edit([](SceneParameterBlock& p) {
            p.rest.ssaoIntensity = 1.5f;
            p.rest.ssaoRadius = 15.0f;
        });
    }
    static std::vector<float> LinearDepth() {
        std::vector<uint8_t> bytes;
        std::vector<float> out;
        Surface* s = gVornexRenderer.Target(TARGET_LINEAR_DEPTH).surface;
        if (!s) return out;
        gfx::Recorder* r = gfx::GetRecorder(gVornexRenderer.Device());
        if (r->ReadSurface(s, &bytes) != gfx::OK) return out;
        out.resize(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }
};

TEST_P(PrePassTest, TargetsStencilAndBatchesOnEachDepthPath) {
    const Case k = GetParam();
    ASSERT_EQ(gVornexRenderer.HardwareDepth(), k.depth != Depth::Linear);
    ASSERT_EQ(gVornexRenderer.RawzDepth(), k.depth == Depth::Rawz);
    ASSERT_EQ(gVornexRenderer.Target(TARGET_MSAA_COLOR).surface != nullptr, k.msaa);
    // The linear-depth target exists only without hardware depth.
    Surface* const linear = gVornexRenderer.Target(TARGET_LINEAR_DEPTH).surface;
    ASSERT_EQ(linear != nullptr, k.depth == Depth::Linear);
    // Zero it first, so the frame's clear shows.
    if (linear) RunOnRenderThread([&] { gVornexRenderer.Device()->ColorFill(linear, nullptr, 0); });
    if (linear) {
        const std::vector<float> before = LinearDepth();
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(std::count(before.begin(), before.end(), 0.0f), ptrdiff_t(before.size()));
    }

    EntityRenderingContextSetup s;
    s.creationFlags = ERC_FLAG_NO_GRID;
    TargetContext geometry(s), third(s);
    recorder->ClearDrawRecords();
    gVornexRenderer.SetOutputSwapChain(nullptr, 1, 1);
    gVornexRenderer.PostResetFrameGather();
    gVornexRenderer.SubmitRenderTask(&geometry, RENDER_FLAG_DEFERRED);
    gVornexRenderer.SubmitRenderTask(&third, RENDER_FLAG_DEFERRED_THIRD);
    gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0x80000, 1);
    gVornexRenderer.FlushCommands(true);

    // The clear to all ones (1.0 in R32F, the far end); the recording draws write nothing.
    if (linear) {
        const std::vector<float> after = LinearDepth();
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(std::count(after.begin(), after.end(), 1.0f), ptrdiff_t(after.size()));
    }

    const std::vector<std::pair<uint32_t, uint32_t>> batches = {{2, 3}, {0x80000, ~0u}, {4, 0},
                                                               {0x80000, ~0u}, {8, 1}, {0x80000, ~0u}};
    EXPECT_EQ(gBatches, batches);

    Surface* const mainDepth = gVornexRenderer.Target(TARGET_MAIN_DEPTH).surface;
    Surface* const output = k.msaa ? gVornexRenderer.Target(TARGET_MSAA_COLOR).surface
                                   : gVornexRenderer.Target(TARGET_SCENE_COLOR).surface;
    Surface* const composeDepth = k.msaa ? gVornexRenderer.Target(TARGET_MSAA_DEPTH).surface : mainDepth;
    ASSERT_EQ(geometry.bound.size(), 2u);  // passes 2 and 4
    ASSERT_EQ(third.bound.size(), 1u);     // pass 8
    const TargetContext::Bound& g = geometry.bound[0];
    EXPECT_EQ(g.pass, 2u);
    EXPECT_EQ(g.target[0], gVornexRenderer.Target(TARGET_NORMAL).surface);
    EXPECT_EQ(g.target[1], linear);  // null with hardware depth
    // The multisampled depth does not fit the normal target: the main one is bound.
    EXPECT_EQ(g.depth, mainDepth);
    const TargetContext::Bound& c = geometry.bound[1];
    EXPECT_EQ(c.pass, 4u);
    EXPECT_EQ(c.target[0], output);
    EXPECT_EQ(c.target[1], nullptr);
    EXPECT_EQ(c.depth, composeDepth);
    EXPECT_EQ(third.bound[0].target[0], output);
    EXPECT_EQ(third.bound[0].depth, composeDepth);

    // The geometry pass marks stencil bit 0 wherever it draws.
    const DrawSeen* geometryDraw = nullptr;
    for (const DrawSeen& d : Seen())
        if (d.arguments.pass == 2) geometryDraw = &d;
    ASSERT_NE(geometryDraw, nullptr);
    const DrawSeen& d = *geometryDraw;
    EXPECT_EQ(std::vector<uint32_t>({d.stencilEnable, d.pass, d.fail, d.zFail, d.function, d.reference, d.mask,
                                     d.writeMask}),
              std::vector<uint32_t>({1, R, R, R, CMP_ALWAYS, 255, 1, 1}));

    // The ambient occlusion samples the depth source: the main depth texture with
    // hardware depth, else the linear-depth target.
    const PostProcessChain& chain = gVornexRenderer.PostProcess();
    std::vector<DrawRecord> draws = Draws();
    uint32_t prepares = 0;
    for (const DrawRecord& r : draws) {
        bool prepare = false;
        for (auto pass : {PostProcessChain::PASS_SSAO_PREPARE, PostProcessChain::PASS_SSAO_PREPARE_NORMAL_MAPS}) {
            const ShaderPair& p = chain.passShaders[pass];
            prepare |= p.IsValid() && r.pixelShader.serial == gfx::SerialOf(p.pixelObject->DeviceShader());
        }
        if (!prepare) continue;
        ++prepares;
        const RenderTarget& source =
            gVornexRenderer.Target(k.depth == Depth::Linear ? TARGET_LINEAR_DEPTH : TARGET_MAIN_DEPTH);
        ASSERT_NE(source.texture, nullptr);
        EXPECT_EQ(r.textures[10].serial, SerialOf(source.texture->Texture()));
        const gfx::Format want = k.depth == Depth::Intz   ? gfx::FMT_INTZ
                                 : k.depth == Depth::Rawz ? gfx::FMT_RAWZ
                                                          : gfx::FMT_R32F;
        EXPECT_EQ(r.textures[10].format, want);
        EXPECT_EQ(r.SamplerState(10, SAMP_MAGFILTER), uint32_t(TEXF_POINT));
        EXPECT_EQ(r.SamplerState(10, SAMP_ADDRESSU), uint32_t(TADDRESS_CLAMP));
    }
    EXPECT_EQ(prepares, 1u);
    EndFrame();
}

INSTANTIATE_TEST_SUITE_P(Depth, PrePassTest,
                         ::testing::Values(Case{"Intz", Depth::Intz, false}, Case{"Rawz", Depth::Rawz, false},
                                           Case{"Linear", Depth::Linear, false}, Case{"IntzMsaa", Depth::Intz, true},
                                           Case{"RawzMsaa", Depth::Rawz, true},
                                           Case{"LinearMsaa", Depth::Linear, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
