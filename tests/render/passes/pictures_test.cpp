// Pictures of the deferred lighting on the drawing device (software rasteriser), 160 x 120,
// with linear depth and with a hardware depth texture: test contexts draw the built-in
// sphere and boxes into the G-buffer with a shader of their own that writes it through
// the engine's G-buffer include; the checks read the light buffers after "Lighting".
// Checks use tolerances; a failed check (or RENDER_PICTURES=<folder>) saves the light
// buffer as PNG and names it.
// test-depends: shader_data
// test-timeout: 900
#include <algorithm>
#include <cmath>

#include "../../platform/gfx/ShaderVariantSupport.h"
#include "../shaders/ShaderTestSupport.h"
#include "PassesTestSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/scene/RendererLight.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "render/shaders/OutlineRenderer.h"
#include "render/shaders/PostProcessChain.h"

using namespace rendertest;

namespace {

using namespace gfx;

// The G-buffer writer of the pictures: smooth normals from the unit sphere's positions,
// or flat normals from the view position's derivatives (boxes), turned toward the eye.
const char kGBufferSource[] = R"(
#include "GBuffer.hlsli"
row_major float4x4 WorldViewProjection : register(c0);
row_major float4x4 WorldView : register(c4);
float4 Shape : register(c8);

struct VOut
{
    float4 position : POSITION;
    float3 viewPosition : TEXCOORD0;
    float3 viewNormal : TEXCOORD1;
};

VOut vertex(float4 position : POSITION)
{
    VOut o;
    o.position = mul(float4(position.xyz, 1.0), WorldViewProjection);
    o.viewPosition = mul(float4(position.xyz, 1.0), WorldView).xyz;
    o.viewNormal = mul(float4(position.xyz, 0.0), WorldView).xyz;
    return o;
}

GBufferOut pixel(VOut i)
{
    float3 n = i.viewNormal;
    if (Shape.x > 0.5)
        n = cross(ddx(i.viewPosition), ddy(i.viewPosition));
    if (dot(n, i.viewPosition) > 0.0)
        n = -n;
    return WriteGBuffer(n, i.viewPosition.z);
}
)";

struct TestShaders {
    VertexShader* vertex = nullptr;
    PixelShader* pixel = nullptr;
    std::string errors;
};

// Compiled on the render thread through the device's compiler.
TestShaders CompileGBufferShaders(Device* device, bool hardwareDepth, bool rawz) {
    TestShaders out;
    shadervariants::FolderInclude includes;
    const ShaderMacro macros[] = {{hardwareDepth ? "HARDWARE_DEPTH" : "LINEAR_DEPTH", nullptr},
                                  {rawz ? "HARDWARE_DEPTH_RAWZ" : "NO_RAWZ", nullptr},
                                  {nullptr, nullptr}};
    for (const char* profile : {"vs_3_0", "ps_3_0"}) {
        Blob *code = nullptr, *errors = nullptr;
        const bool vertex = profile[0] == 'v';
        const Result r = CompileShader(kGBufferSource, sizeof kGBufferSource - 1, macros, &includes,
                                       vertex ? "vertex" : "pixel", profile, SHADER_FLAGS_NONE, &code, &errors, nullptr);
        if (errors) {
            out.errors.append(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize());
            errors->Release();
        }
        if (!Succeeded(r) || !code) continue;
        const auto* words = static_cast<const uint32_t*>(code->GetBufferPointer());
        if (vertex)
            device->CreateVertexShader(words, code->GetBufferSize(), &out.vertex);
        else
            device->CreatePixelShader(words, code->GetBufferSize(), &out.pixel);
        code->Release();
    }
    return out;
}

TestShaders gShaders;
Matrix gView, gProjection;

// A deferred context drawing a built-in mesh into the G-buffer (pass 2) and nothing else.
struct GBufferContext : EntityRenderingContext {
    GBufferContext(const EntityRenderingContextSetup& s, BuiltInMeshId mesh, bool flat)
        : EntityRenderingContext(s), mesh(mesh), flat(flat) {}
    void Draw(void*, const Matrix& world, const RenderTaskArguments& a) override {
        if (a.pass != 2 || !gShaders.vertex || !gShaders.pixel) return;
        Matrix worldView, worldViewProjection;
        worldView.Mul(gView, world);  // world x view
        worldViewProjection.Mul(gProjection, worldView);
        const Vector shape(flat ? 1.0f : 0.0f, 0, 0, 0);
        gVornexRenderer.SetPixelShaderConstants(8, &shape.x, 1);
        DrawMesh(worldViewProjection, worldView);
        ++draws;
    }
    // The shadow map's draw: the same mesh through the camera in force (the light's).
    void DrawDepth(void*, uint32_t) override {
        if (!gShaders.vertex || !gShaders.pixel) return;
        Matrix worldViewProjection;
        worldViewProjection.Mul(gVornexRenderer.ViewProjectionMatrix(), World());
        DrawMesh(worldViewProjection, worldViewProjection);
        ++depthDraws;
    }
    void DrawMesh(const Matrix& worldViewProjection, const Matrix& worldView) {
        gVornexRenderer.SetVertexShader(gShaders.vertex);
        gVornexRenderer.SetPixelShader(gShaders.pixel);
        gVornexRenderer.SetVertexShaderConstants(0, &worldViewProjection.r[0].x, 4);
        gVornexRenderer.SetVertexShaderConstants(4, &worldView.r[0].x, 4);
        gVornexRenderer.SetCullMode(CULL_NONE);
        const BuiltInMesh& m = gVornexRenderer.GetBuiltInMesh(mesh);
        Device* device = gVornexRenderer.Device();
        device->SetFVF(FVF_XYZ);
        device->SetStreamSource(0, m.vertices, 0, m.stride);
        device->SetIndices(m.indices[0]);
        gVornexRenderer.DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, m.vertexCount, 0, m.indexCount[0] / 3);
    }
    BuiltInMeshId mesh;
    bool flat;
    uint32_t draws = 0, depthDraws = 0;
};

// The mesh scaled, then moved by the position (the unit box spans 0..1: its corner).
std::unique_ptr<GBufferContext> MakeShape(BuiltInMeshId mesh, const Vector& position, const Vector& scale, bool flat,
                                          bool caster = false) {
    EntityRenderingContextSetup s;
    s.creationFlags = caster ? 0u : uint32_t(ERC_FLAG_NO_GRID);
    s.kindFlags = caster ? ERC_KIND_SHADOW_CASTER : 0;
    s.localBox = mesh == MESH_UNIT_BOX ? BoundingBox4(Vector(0, 0, 0, 1), Vector(1, 1, 1, 1))
                                       : BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
    s.world.LoadScale(scale.x, scale.y, scale.z);
    s.world.r[3] = Vector(position.x, position.y, position.z, 1);
    return std::make_unique<GBufferContext>(s, mesh, flat);
}

// A light buffer's pixels as linear-free bytes (r, g, b) and the normal target's decoded
// normals (zero where nothing was drawn).
struct Picture {
    std::vector<std::array<uint8_t, 3>> colour;
    std::vector<Vector> normal;
    bool Empty() const { return colour.empty(); }
    int Channel(size_t i, int c) const { return colour[i][c]; }
    // Every channel of pixel i within the tolerance of the other picture's.
    bool Same(const Picture& other, size_t i, int tolerance) const {
        for (int c = 0; c < 3; ++c)
            if (std::abs(Channel(i, c) - other.Channel(i, c)) > tolerance) return false;
        return true;
    }
};

enum class Depth { Linear, Intz };

struct PicturesTest : shadertest::DrawingShaderFixture, ::testing::WithParamInterface<Depth> {
    static constexpr int32_t W = 160, H = 120;
    PicturesTest() { clientWidth = W, clientHeight = H; }
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.enableShadowMap = true;
        s.enableShadowMapFiltering = false;
        s.shadowMapSize = 1024;
        // Without INTZ and RAWZ the renderer keeps linear depth in a target of its own.
        CapabilityFaults faults;
        faults.refuseIntz = faults.refuseRawz = GetParam() == Depth::Linear;
        SetCapabilityFaults(faults);
    }
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        recorder->SetDrawRecordMode(DrawRecordMode::Off);
        ASSERT_EQ(gVornexRenderer.HardwareDepth(), GetParam() == Depth::Intz);
        gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
        gRendererScene->PostInit();
        RunOnRenderThread([&] {
            gShaders = CompileGBufferShaders(gVornexRenderer.Device(), gVornexRenderer.HardwareDepth(),
                                             gVornexRenderer.RawzDepth());
        });
        ASSERT_TRUE(gShaders.vertex && gShaders.pixel) << gShaders.errors;
        Edit([](SceneParameterBlock& p) {
            p.light.lightDirection = Vector(0.5f, -0.6f, 0.62f, 0);
            p.light.specularDirection = Vector(0, -1, 0, 0);
            p.light.lightColor = Vector(2.0f, 2.0f, 2.0f, 1);
            p.light.secondaryColor = Vector(0.4f, 0.4f, 0.4f, 0);
            p.light.sideColor = Vector(0, 0, 0, 0);
            p.light.specularColor = Vector(0, 0, 0, 0);
            p.light.wrapAroundFactor = Vector(0, 0, 0, 0);
            p.light.fakeShadowStrength = Vector(0, 0, 0, 0);
            p.light.shadowStrength = Vector(0, 0, 0, 0);
            p.cloudTexture = nullptr;
            p.rest.ssaoIntensity = 0.0f;
        });
    }
    void TearDown() override {
        RunOnRenderThread([&] {
            lights.clear();
            if (gShaders.vertex) gShaders.vertex->Release();
            if (gShaders.pixel) gShaders.pixel->Release();
            gShaders = TestShaders{};
        });
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        gVornexRenderer.FlushCommands(true);
        gRendererScene->PostShutdown();
        gVornexRenderer.FlushCommands(true);
        gVornexRenderer.PostProcess().ReleaseShaders();
        ShaderFixture::TearDown();
        SetCapabilityFaults({});
    }
    std::string DepthSuffix() const { return GetParam() == Depth::Intz ? "-intz" : "-linear"; }
    static void Edit(const std::function<void(SceneParameterBlock&)>& f) {
        RunOnRenderThread([&] { f(gRendererScene->GetCurrentParameters()->Values()); });
    }
    void Camera(const Vector& eye, const Vector& at) {
        gView.LoadLookAtLH(eye, at, Vector(0, 1, 0, 0));
        gProjection.LoadPerspectiveFovLH(50.0f, float(W) / float(H), 0.5f, 200.0f);
        gVornexRenderer.SetCamera(gView, gProjection, Matrix::IDENTITY);
    }
    GBufferContext* Add(BuiltInMeshId mesh, const Vector& position, const Vector& scale, bool flat,
                        bool caster = false) {
        contexts.push_back(MakeShape(mesh, position, scale, flat, caster));
        return contexts.back().get();
    }
    RendererLight* AddPointLight(const Vector& position, float inner, float outer) {
        RendererLight* made = nullptr;
        RunOnRenderThread([&] {
            lights.push_back(std::make_unique<RendererLight>());
            made = lights.back().get();
            RendererLightShape shape;
            shape.color = Vector(1, 1, 1, 1);
            shape.intensity = 1.0f;
            shape.innerRange = inner;
            shape.outerRange = outer;
            made->SetupPointLight(shape);
            Matrix m = Matrix::IDENTITY;
            m.r[3] = position;
            made->SetTransform(m);
        });
        return made;
    }
    // One frame of the deferred pass; the light buffer (B when ambient occlusion wrote
    // it, else A) read after "Lighting" and saved under the name when asked.
    Picture Frame(uint32_t passFlags, const std::string& name, bool useLights = true, bool save = false) {
        BeginFrame();
        if (shadowPass) gVornexRenderer.PostShadowMapPass(0, 0);
        gVornexRenderer.PostResetFrameGather();
        if (submitMeshes)
            for (auto& c : contexts) gVornexRenderer.SubmitRenderTask(c.get(), RENDER_FLAG_DEFERRED);
        if (useLights)
            for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), passFlags, 1);
        gVornexRenderer.FlushCommands(true);
        Picture out;
        RunOnRenderThread([&] {
            Surface* light = gVornexRenderer.Target(TARGET_LIGHT_0).surface;
            Surface* normal = gVornexRenderer.Target(TARGET_NORMAL).surface;
            std::vector<uint8_t> bytes, normals;
            if (!light || !normal || !Succeeded(recorder->ReadSurface(light, &bytes)) ||
                !Succeeded(recorder->ReadSurface(normal, &normals)) || bytes.size() != size_t(W * H * 4) ||
                normals.size() != size_t(W * H * 4))
                return;
            out.colour.resize(W * H);
            out.normal.resize(W * H);
            SurfaceDesc desc{};
            normal->GetDesc(&desc);
            const bool tenBits = desc.format == FMT_A2B10G10R10;
            for (size_t i = 0; i < size_t(W * H); ++i) {
                out.colour[i] = {bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]};
                uint32_t v;
                std::memcpy(&v, &normals[4 * i], 4);
                float x, y, z;
                bool drawn;
                if (tenBits) {
                    x = float(v & 1023) / 1023.0f, y = float(v >> 10 & 1023) / 1023.0f, z = float(v >> 20 & 1023) / 1023.0f;
                    drawn = (v >> 30) != 0;
                } else {
                    x = normals[4 * i + 2] / 255.0f, y = normals[4 * i + 1] / 255.0f, z = normals[4 * i] / 255.0f;
                    drawn = normals[4 * i + 3] != 0;
                }
                if (drawn) {
                    out.normal[i] = Vector(x * 2 - 1, y * 2 - 1, z * 2 - 1, 0);
                    out.normal[i].NormalizeXYZ();
                }
            }
            shadertest::SavePicture(light, name + DepthSuffix(), save);
        });
        EndFrame();
        return out;
    }
    // The pixel of a world point: x right, y down.
    static bool Project(const Vector& p, int& x, int& y) {
        Matrix viewProjection;
        viewProjection.Mul(gProjection, gView);
        Vector v;
        v.TransformHomogen(viewProjection, p);
        const float fx = (v.x + 1.0f) * 0.5f * W, fy = (1.0f - v.y) * 0.5f * H;
        x = int(std::floor(fx)), y = int(std::floor(fy));
        return v.z > 0 && v.z < 1 && x >= 0 && y >= 0 && x < W && y < H;
    }
    // Each pixel of the ground plane y = 0 over [x0, x1] x [z0, z1] once: f(point, pixel)
    // tells whether it took the pixel (one it passes may come again from another point).
    static void ForEachGroundPixel(float x0, float x1, float z0, float z1, float step,
                                   const std::function<bool(const Vector&, size_t)>& f) {
        std::vector<bool> seen(W * H, false);
        for (float gx = x0; gx <= x1; gx += step)
            for (float gz = z0; gz <= z1; gz += step) {
                const Vector g(gx, 0, gz, 1);
                int x, y;
                if (!Project(g, x, y)) continue;
                const size_t i = size_t(y) * W + x;
                if (!seen[i] && f(g, i)) seen[i] = true;
            }
    }
    // A normal of the G-buffer (view space) in the world.
    static Vector WorldNormal(const Vector& n) {
        Matrix inverse;
        inverse.Inverse(gView);
        Vector w;
        w.Transform3DNormal(inverse, n);
        return w;
    }
    static Vector TowardSunInView() {
        Vector d(0.5f, -0.6f, 0.62f, 0), v;
        v.Transform3DNormal(gView, d);
        v.NormalizeXYZ();
        return Vector(-v.x, -v.y, -v.z, 0);
    }

    std::vector<std::unique_ptr<GBufferContext>> contexts;
    std::vector<std::unique_ptr<RendererLight>> lights;
    bool shadowPass = false;
    bool submitMeshes = true;
};

int Sum(const std::array<uint8_t, 3>& c) { return c[0] + c[1] + c[2]; }

TEST_P(PicturesTest, TheSunLightsTheSphereSideFacingItAndLeavesTheFarSideAtTheAmbientLevel) {
    Camera(Vector(0, 0, -6, 1), Vector(0, 0, 0, 1));
    GBufferContext* sphere = Add(MESH_UNIT_SPHERE, Vector(0, 0, 0, 1), Vector(1.5f, 1.5f, 1.5f, 0), false);
    Picture got = Frame(0, "sphere-lit");
    ASSERT_FALSE(got.Empty()) << "the light buffer could not be read";
    EXPECT_GT(sphere->draws, 0u);
    const Vector sun = TowardSunInView();
    // The brightest sphere pixels: their mean normal points at the sun.
    int brightest = -1;
    size_t sphereCount = 0;
    for (size_t i = 0; i < got.colour.size(); ++i)
        if (got.normal[i].x != 0 || got.normal[i].y != 0 || got.normal[i].z != 0)
            brightest = std::max(brightest, Sum(got.colour[i])), ++sphereCount;
    ASSERT_GT(sphereCount, 1000u) << "the sphere was not drawn into the G-buffer";
    Vector mean(0, 0, 0, 0);
    std::vector<int> ambient;
    for (size_t i = 0; i < got.colour.size(); ++i) {
        const Vector& n = got.normal[i];
        if (n.x == 0 && n.y == 0 && n.z == 0) continue;
        if (Sum(got.colour[i]) == brightest) mean = mean + n;
        if (n.x * sun.x + n.y * sun.y + n.z * sun.z < -0.2f) ambient.push_back(int(i));
    }
    mean.NormalizeXYZ();
    const float angle = std::acos(std::clamp(mean.x * sun.x + mean.y * sun.y + mean.z * sun.z, -1.0f, 1.0f)) * 57.29578f;
    ASSERT_FALSE(ambient.empty()) << "no pixel faces away from the sun";
    // The far side: the ambient level (secondary colour and ambient cube) everywhere.
    std::vector<int> reds;
    for (int i : ambient) reds.push_back(got.Channel(i, 0));
    std::nth_element(reds.begin(), reds.begin() + reds.size() / 2, reds.end());
    const int level = reds[reds.size() / 2];
    size_t off = 0;
    for (int i : ambient)
        for (int c = 0; c < 3; ++c) off += std::abs(got.Channel(i, c) - level) > 3;
    const bool ok = angle <= 8.0f && off == 0 && brightest > 3 * level + 30;
    if (!ok) Frame(0, "sphere-lit", true, true);
    EXPECT_LE(angle, 8.0f) << "the brightest pixels' normal is off the sun direction";
    EXPECT_EQ(off, 0u) << "far-side channels off the ambient level " << level << " by more than 3";
    EXPECT_GT(brightest, 3 * level + 30) << "the lit side is not brighter than the ambient level";
}

TEST_P(PicturesTest, APointLightLightsTheGroundWithinItsRangeSeenFromOutsideAndInsideItsVolume) {
    // The ground: a flat box whose top is y = 0.
    Add(MESH_UNIT_BOX, Vector(-30, -0.5f, -30, 1), Vector(60, 0.5f, 60, 0), true);
    const Vector at(0, 1.5f, 0, 1);
    const float inner = 3.0f, outer = 5.0f;
    AddPointLight(at, inner, outer);
    struct View {
        const char* name;
        Vector eye, target;
    } views[] = {{"point-light-outside", Vector(0, 14, -10, 1), Vector(0, 0, 1, 1)},
                 {"point-light-inside", Vector(0, 3.0f, -1.5f, 1), Vector(0, 0, 2.5f, 1)}};
    for (const View& v : views) {
        SCOPED_TRACE(v.name);
        Camera(v.eye, v.target);
        const float eyeDistance = (v.eye - at).Length3();
        ASSERT_EQ(eyeDistance < outer, v.name[12] == 'i');
        const Picture lit = Frame(0, v.name);
        const Picture dark = Frame(0, std::string(v.name) + "-none", false);
        ASSERT_FALSE(lit.Empty() || dark.Empty());
        size_t near = 0, nearLit = 0, far = 0, farSame = 0;
        ForEachGroundPixel(-12, 12, -12, 12, 0.05f, [&](const Vector& g, size_t i) {
            const float d = (g - at).Length3();
            // Keep away from pixels whose footprint straddles a boundary.
            if (d < 0.8f * inner - 0.2f) {
                ++near;
                nearLit += Sum(lit.colour[i]) >= Sum(dark.colour[i]) + 6;
            } else if (d > outer + 0.3f) {
                ++far;
                farSame += lit.Same(dark, i, 2);
            }
            return true;
        });
        ASSERT_GT(near, 50u);
        ASSERT_GT(far, 50u);
        if (nearLit != near || farSame != far) Frame(0, v.name, true, true);
        EXPECT_EQ(nearLit, near) << "ground within the inner range left unlit";
        EXPECT_EQ(farSame, far) << "ground beyond the outer range changed";
    }
}

// Whether the ray from the ground point toward the sun meets the box (slab test); the
// box shrunk or grown by the margin.
bool InBoxShadow(const Vector& g, const Vector& towardSun, const Vector& lo, const Vector& hi, float margin) {
    float t0 = 0.0f, t1 = 1e9f;
    for (int a = 0; a < 3; ++a) {
        const float o = (&g.x)[a], d = (&towardSun.x)[a], l = (&lo.x)[a] - margin, h = (&hi.x)[a] + margin;
        if (std::fabs(d) < 1e-9f) {
            if (o < l || o > h) return false;
            continue;
        }
        float ta = (l - o) / d, tb = (h - o) / d;
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta), t1 = std::min(t1, tb);
    }
    return t0 <= t1;
}

float Linear(int byte) {  // the light buffer's sRGB bytes back to linear
    const float c = byte / 255.0f;
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

TEST_P(PicturesTest, ABoxCastsItsShadowOnTheGroundByTheShadowStrength) {
    gVornexRenderer.PostNewScene(BoundingBox4(Vector(-40, -1, -40, 1), Vector(40, 10, 40, 1)), 10.0f);
    Camera(Vector(0, 12, -10, 1), Vector(0, 0, 1, 1));
    Add(MESH_UNIT_BOX, Vector(-30, -0.5f, -30, 1), Vector(60, 0.5f, 60, 0), true);
    GBufferContext* box = Add(MESH_UNIT_BOX, Vector(-1, 0, -1, 1), Vector(2, 2, 2, 0), true, true);
    box->PostRefresh();
    shadowPass = true;
    // No depth biases: the ground casts nothing, so it cannot shadow itself, and the
    // defaults, in depth units of a light box several hundred units deep, would lift a
    // 2-unit box's shadow off entirely.
    ProjectConfig config;
    config.depthBias = 0.0f;
    config.slopeDepthBias = 0.0f;
    ProjectConfig* const savedConfig = gProjectConfig;
    gProjectConfig = &config;
    struct Restore {
        ProjectConfig* saved;
        ~Restore() { gProjectConfig = saved; }
    } restore{savedConfig};
    const float strength = 0.8f;
    Edit([&](SceneParameterBlock& p) { p.light.shadowStrength = Vector(strength, strength, strength, strength); });
    const Picture shadowed = Frame(0, "shadow-strength");
    EXPECT_GT(box->depthDraws, 0u) << "the caster never reached the shadow map";
    // Strength 0: no shadow; this is the lit level.
    Edit([](SceneParameterBlock& p) { p.light.shadowStrength = Vector(0, 0, 0, 0); });
    const Picture plain = Frame(0, "shadow-none");
    ASSERT_FALSE(shadowed.Empty() || plain.Empty());
    Vector towardSun(-0.5f, 0.6f, -0.62f, 0);
    towardSun.NormalizeXYZ();
    const Vector lo(-1, 0, -1, 1), hi(1, 2, 1, 1);
    // Ground pixels well inside the footprint, and ground 4 pixels (about 0.4 units here)
    // or more outside it; the box itself and its sides are left out.
    size_t inside = 0, insideDark = 0, outside = 0, outsideSame = 0;
    ForEachGroundPixel(-10, 10, -6, 10, 0.04f, [&](const Vector& g, size_t i) {
        if (WorldNormal(plain.normal[i]).y < 0.9f || (std::fabs(g.x) < 1.05f && std::fabs(g.z) < 1.05f)) return false;
        // Pixels the box hides: the eye's ray to the point passes through the box.
        Vector toEye = Vector(0, 12, -10, 1) - g;
        toEye.NormalizeXYZ();
        if (InBoxShadow(g, toEye, lo, hi, 0.05f)) return false;
        const float litLevel = Linear(plain.Channel(i, 0));
        const float got = Linear(shadowed.Channel(i, 0));
        if (InBoxShadow(g, towardSun, lo, hi, -0.15f)) {
            ++inside;
            insideDark += litLevel - got >= 0.5f * strength * litLevel;
        } else if (!InBoxShadow(g, towardSun, lo, hi, 0.4f)) {
            ++outside;
            outsideSame += std::abs(shadowed.Channel(i, 0) - plain.Channel(i, 0)) <= 3;
        }
        return true;
    });
    // The footprint's edge pixels may fall either way (a shadow-map texel is about a
    // picture pixel here): 95 % of the inside must be dark.
    ASSERT_GT(inside, 30u);
    ASSERT_GT(outside, 300u);
    const bool ok = insideDark >= inside * 95 / 100 && outsideSame == outside;
    if (!ok) Frame(0, "shadow-strength", true, true);
    EXPECT_GE(insideDark, inside * 95 / 100) << "ground in the shadow footprint not darkened by the strength: "
                                            << insideDark << " of " << inside;
    EXPECT_EQ(outsideSame, outside) << "ground outside the footprint changed";
}

TEST_P(PicturesTest, AmbientOcclusionDarkensTheGroundAtABoxBaseAndLeavesOpenGroundAlone) {
    Camera(Vector(0, 9, -9, 1), Vector(0, 0, 0, 1));
    Add(MESH_UNIT_BOX, Vector(-30, -0.5f, -30, 1), Vector(60, 0.5f, 60, 0), true);
    Add(MESH_UNIT_BOX, Vector(-1, 0, -1, 1), Vector(2, 2, 2, 0), true);
    const Picture plain = Frame(0, "ssao-off");
    Edit([](SceneParameterBlock& p) {
        p.rest.ssaoIntensity = 1.0f;
        p.rest.ssaoRadius = 15.0f;
        p.rest.ssaoDecreaseWithLighting = 0.0f;
    });
    ASSERT_TRUE(gVornexRenderer.PostProcess().CanRunSSAO());
    const Picture occluded = Frame(RENDER_PASS_AMBIENT_OCCLUSION, "ssao-on");
    ASSERT_FALSE(plain.Empty() || occluded.Empty());
    // Ground in the open (far from the box) and ground at the base of its front face
    // (within 0.2 units, about 2 pixels here; the box hides its other sides).
    double baseDrop = 0;
    size_t base = 0, open = 0, openSame = 0;
    ForEachGroundPixel(-12, 12, -12, 12, 0.04f, [&](const Vector& g, size_t i) {
        if (WorldNormal(plain.normal[i]).y < 0.9f) return false;  // the box's sides in front
        if (g.z < -1.02f && g.z > -1.2f && std::fabs(g.x) < 0.9f) {
            baseDrop += (Sum(plain.colour[i]) - Sum(occluded.colour[i])) / (3.0 * 255.0);
            ++base;
        } else if (std::max(std::fabs(g.x), std::fabs(g.z)) > 5.0f) {
            ++open;
            openSame += plain.Same(occluded, i, 3);
        }
        return true;
    });
    ASSERT_GT(base, 5u);
    ASSERT_GT(open, 100u);
    const double meanDrop = baseDrop / double(base);
    if (meanDrop < 0.05 || openSame != open) Frame(RENDER_PASS_AMBIENT_OCCLUSION, "ssao-on", true, true);
    EXPECT_GE(meanDrop, 0.05) << "the ground at the box's base is not darker";
    EXPECT_EQ(openSame, open) << "open ground changed under ambient occlusion";
}

// The half floats of an A16B16G16R16F surface (r, g, b, a), or the bytes of an
// A8R8G8B8 one as 0..1.
float Half(uint16_t h) {
    const uint32_t sign = h >> 15, exponent = h >> 10 & 31, mantissa = h & 1023;
    float v = exponent == 0 ? std::ldexp(float(mantissa), -24)
                            : exponent == 31 ? INFINITY : std::ldexp(float(mantissa | 1024), int(exponent) - 25);
    return sign ? -v : v;
}

std::vector<Vector> ReadColours(Recorder* recorder, Surface* s) {
    std::vector<Vector> out;
    SurfaceDesc desc{};
    std::vector<uint8_t> bytes;
    if (!s || !Succeeded(s->GetDesc(&desc)) || !Succeeded(recorder->ReadSurface(s, &bytes))) return out;
    const size_t n = size_t(desc.width) * desc.height;
    if (desc.format == FMT_A16B16G16R16F && bytes.size() == n * 8) {
        for (size_t i = 0; i < n; ++i) {
            uint16_t h[4];
            std::memcpy(h, &bytes[8 * i], 8);
            out.push_back(Vector(Half(h[0]), Half(h[1]), Half(h[2]), Half(h[3])));
        }
    } else if (desc.format == FMT_A8R8G8B8 && bytes.size() == n * 4) {
        for (size_t i = 0; i < n; ++i)
            out.push_back(Vector(bytes[4 * i + 2] / 255.0f, bytes[4 * i + 1] / 255.0f, bytes[4 * i] / 255.0f, bytes[4 * i + 3] / 255.0f));
    }
    return out;
}

// Task 26 over a 20 x 20 square whose pixels carry outline category 0 in the stencil: a
// band of the hostile colour around it, a few pixels wide, and nothing further out. (The
// coverage pass draws the position-only outline grid with the plain colour shader: the
// missing vertex colour must read as white for the coverage to be written.)
TEST_P(PicturesTest, AnOutlinedSquareGetsAHostileBandAroundIt) {
    OutlineParams secondary;
    secondary.dilatationKernelSize = 4.0f;
    secondary.softness = 0.0f;
    gVornexRenderer.SetSecondaryOutlineParams(secondary);
    constexpr int X0 = 70, Y0 = 50, Side = 20;
    std::vector<Vector> before, after;
    auto run = [&](bool save) {
        BeginFrame();
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            r.SetRenderTargets(r.OutputSurface(), nullptr, 0);
            r.ClearTarget(CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, Vector(0.2f, 0.2f, 0.2f, 1), 1.0f, 0);
            // The square, in clip space, writing stencil bit 1 and no colour.
            r.SetStencilOps(STENCILOP_REPLACE, STENCILOP_REPLACE, STENCILOP_REPLACE);
            r.SetStencilFunc(CMP_ALWAYS, 2, 255, 255);
            r.SetColorWriteMask(0);
            r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
            r.SetCullMode(CULL_NONE);
            r.SetBlendMode(0);
            r.SetVertexShader(gShaders.vertex);
            r.SetPixelShader(gShaders.pixel);
            r.SetVertexShaderConstants(0, &Matrix::IDENTITY.r[0].x, 4);
            r.SetVertexShaderConstants(4, &Matrix::IDENTITY.r[0].x, 4);
            const float x0 = 2.0f * X0 / W - 1, x1 = 2.0f * (X0 + Side) / W - 1;
            const float y0 = 1 - 2.0f * Y0 / H, y1 = 1 - 2.0f * (Y0 + Side) / H;
            const float quad[] = {x0, y0, 0.5f, x1, y0, 0.5f, x1, y1, 0.5f, x0, y1, 0.5f};
            r.Device()->SetFVF(FVF_XYZ);
            r.DrawPrimitiveUP(PT_TRIANGLEFAN, 2, quad, 12);
            r.SetColorWriteMask(15);
            r.DisableStencil();
            // Its outline cells: the same rectangle seen through an identity camera.
            OutlineRenderer& o = r.PostProcess().Outlines();
            o.Clear();
            r.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
            o.AddEntity(BoundingBox4(Vector(x0, y1, 0.5f, 1), Vector(x1, y0, 0.5f, 1)), Matrix::IDENTITY, 2);
            before = ReadColours(recorder, r.OutputSurface());
        });
        gVornexRenderer.PostRenderOutlines();
        RunOnRenderThread([&] {
            after = ReadColours(recorder, gVornexRenderer.OutputSurface());
            shadertest::SavePicture(gVornexRenderer.OutputSurface(), "outline-band" + DepthSuffix(), save);
        });
        EndFrame();
    };
    run(false);
    ASSERT_EQ(before.size(), size_t(W * H));
    ASSERT_EQ(after.size(), size_t(W * H));
    // The largest change of each ring of pixels k outside the square (k = 1 is adjacent).
    constexpr int kRings = 14;
    float ringChange[kRings + 1] = {}, ringLeastRed[kRings + 1];
    std::fill(ringLeastRed, ringLeastRed + kRings + 1, 1e9f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int dx = x < X0 ? X0 - x : x >= X0 + Side ? x - (X0 + Side - 1) : 0;
            const int dy = y < Y0 ? Y0 - y : y >= Y0 + Side ? y - (Y0 + Side - 1) : 0;
            const int k = std::max(dx, dy);
            if (k == 0 || k > kRings) continue;
            const Vector& a = before[size_t(y) * W + x];
            const Vector& b = after[size_t(y) * W + x];
            const float change = std::max({std::fabs(b.x - a.x), std::fabs(b.y - a.y), std::fabs(b.z - a.z)});
            ringChange[k] = std::max(ringChange[k], change);
            ringLeastRed[k] = std::min(ringLeastRed[k], b.x - a.x);
        }
    int last = 0;
    for (int k = 1; k <= kRings; ++k)
        if (ringChange[k] > 2.0f / 255.0f) last = k;
    bool quiet = true;
    for (int k = 8; k <= kRings; ++k) quiet = quiet && ringChange[k] <= 2.0f / 255.0f;
    const bool ok = ringLeastRed[1] >= 0.15f && last >= 2 && last <= 6 && quiet;
    if (!ok) run(true);
    EXPECT_GE(ringLeastRed[1], 0.15f) << "a pixel next to the square is not tinted red enough";
    EXPECT_TRUE(last >= 2 && last <= 6) << "the band ends " << last << " pixels out";
    for (int k = 8; k <= kRings; ++k) EXPECT_LE(ringChange[k], 2.0f / 255.0f) << "ring " << k << " changed";
}

// A frame with no deferred mesh after one with a sphere: the targets later passes read
// (the normal target, and the linear depth of sampler 10 where the renderer keeps one)
// hold nothing of the sphere, and no lighting is drawn when there is nothing to light.
TEST_P(PicturesTest, AFrameWithoutDeferredMeshesLeavesNoStaleNormalOrDepthAndDrawsNoLighting) {
    Camera(Vector(0, 0, -5, 1), Vector(0, 0, 0, 1));
    Add(MESH_UNIT_SPHERE, Vector(0, 0, 0, 1), Vector(1.5f, 1.5f, 1.5f, 0), false);
    AddPointLight(Vector(0, 0, -2, 1), 1.0f, 3.0f);
    // Pixels of the linear depth other than its cleared value, 1.0.
    auto nearDepthPixels = [&] {
        size_t count = 0;
        RunOnRenderThread([&] {
            Surface* depth = gVornexRenderer.Target(TARGET_LINEAR_DEPTH).surface;
            std::vector<uint8_t> bytes;
            if (!depth || !Succeeded(recorder->ReadSurface(depth, &bytes))) return;
            for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
                float d;
                std::memcpy(&d, &bytes[i], 4);
                count += d != 1.0f;
            }
        });
        return count;
    };
    auto drawnNormals = [](const Picture& p) {
        return std::count_if(p.normal.begin(), p.normal.end(), [](const Vector& n) { return n.Length3() > 0.0f; });
    };
    auto drawsOf = [&](const std::function<void()>& frame) {
        const uint64_t before = recorder->CallCount(CallKind::DrawPrimitive) + recorder->CallCount(CallKind::DrawIndexedPrimitive);
        frame();
        return recorder->CallCount(CallKind::DrawPrimitive) + recorder->CallCount(CallKind::DrawIndexedPrimitive) - before;
    };
    const bool linearDepth = GetParam() == Depth::Linear;

    Picture with;
    EXPECT_GE(drawsOf([&] { with = Frame(0, "deferred-then-none-first"); }), 3u);  // sphere, sun, light
    ASSERT_FALSE(with.Empty());
    ASSERT_GT(drawnNormals(with), 500);
    if (linearDepth) {
        ASSERT_GT(nearDepthPixels(), 500u);
    }

    submitMeshes = false;
    Picture without;
    EXPECT_EQ(drawsOf([&] { without = Frame(0, "deferred-then-none-second"); }), 0u);
    ASSERT_FALSE(without.Empty());
    EXPECT_EQ(drawnNormals(without), 0) << "the normal target kept the sphere of the frame before";
    if (linearDepth) {
        EXPECT_EQ(nearDepthPixels(), 0u) << "the linear depth kept the sphere of the frame before";
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, PicturesTest, ::testing::Values(Depth::Linear, Depth::Intz),
                         [](const auto& info) { return info.param == Depth::Linear ? "LinearDepth" : "Intz"; });

}  // namespace
