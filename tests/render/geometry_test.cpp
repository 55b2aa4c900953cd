// Built-in geometry against the reference generator, solid-box states, the declaration cache.
//
// Render targets per quality, multisampling and depth format; refraction rectangle; shadow map.
// test-sanitize: address
#include <cmath>
#include <cstring>
#include <set>

#include "RenderTestSupport.h"
#include "render/DeviceObjectHandle.h"
#include "render/VertexDeclarationCache.h"

using namespace rendertest;
using namespace gfx;

namespace {

struct MeshBytes {
    std::vector<uint8_t> vertices, indices[2];
    bool operator==(const MeshBytes&) const = default;
};

template <class Buffer>
std::vector<uint8_t> ReadBuffer(Buffer* buffer) {
    std::vector<uint8_t> out;
    if (!buffer) return out;
    void* data = nullptr;
    typename std::conditional<std::is_same<Buffer, VertexBuffer>::value, VertexBufferDesc, IndexBufferDesc>::type desc;
    buffer->GetDesc(&desc);
    if (Succeeded(buffer->Lock(0, 0, &data, 0))) {
        out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + desc.size);
        buffer->Unlock();
    }
    return out;
}

struct GeometryTest : RendererFixture {
    MeshBytes Read(BuiltInMeshId id) {
        MeshBytes m;
        RunOnRenderThread([&] {
            const BuiltInMesh& mesh = gVornexRenderer.GetBuiltInMesh(id);
            m.vertices = ReadBuffer(mesh.vertices);
            m.indices[0] = ReadBuffer(mesh.indices[0]);
            m.indices[1] = ReadBuffer(mesh.indices[1]);
        });
        return m;
    }
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) s += digits[b >> 4], s += digits[b & 15];
    return s.empty() ? "-" : s;
}

TEST_F(GeometryTest, MeshesEqualTheReferenceGeneratorAndSurviveAReset) {
    const std::pair<BuiltInMeshId, const char*> meshes[] = {
        {MESH_UNIT_BOX, "box"},       {MESH_UNIT_CONE, "cone"},       {MESH_WIRE_SPHERE, "wiresphere"},
        {MESH_CYLINDER, "cylinder"},  {MESH_FLAG_MARKER, "flag"},     {MESH_GROUND_GRID, "grid"},
        {MESH_AXIS_GIZMO, "gizmo"},   {MESH_UNIT_QUAD, "unitquad"},   {MESH_FULLSCREEN_QUAD, "fullquad"},
        {MESH_RAMP_STRIP, "ramp"},
    };
    std::vector<MeshBytes> before;
    for (const auto& [id, name] : meshes) {
        const MeshBytes m = Read(id);
        before.push_back(m);
        std::istringstream reference(RunReference(std::string("mesh ") + name));
        std::string vertices, solid, wire;
        if (!(reference >> vertices >> solid >> wire)) GTEST_SKIP() << "python3 not available";
        EXPECT_EQ(Hex(m.vertices), vertices) << name;
        EXPECT_EQ(Hex(m.indices[0]), solid) << name;
        EXPECT_EQ(Hex(m.indices[1]), wire) << name;
    }
    gVornexRenderer.RequestDeviceReset();
    gVornexRenderer.Reset(window, kClientWidth, kClientHeight, true, false);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(Read(meshes[i].first) == before[i]) << meshes[i].second;
}

std::vector<Vector> Points(const std::vector<uint8_t>& bytes) {
    std::vector<Vector> out;
    for (size_t i = 0; i + 12 <= bytes.size(); i += 12) {
        float f[3];
        std::memcpy(f, &bytes[i], 12);
        out.emplace_back(f[0], f[1], f[2], 1.0f);
    }
    return out;
}

std::set<uint16_t> Referenced(const std::vector<uint8_t>& indices, size_t vertexCount) {
    std::set<uint16_t> used;
    for (size_t i = 0; i + 2 <= indices.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &indices[i], 2);
        EXPECT_LT(v, vertexCount);
        used.insert(v);
    }
    return used;
}

TEST_F(GeometryTest, SphereAndLampHaveTheirCountsRadiiAndSegments) {
    const MeshBytes sphere = Read(MESH_UNIT_SPHERE);
    const std::vector<Vector> s = Points(sphere.vertices);
    ASSERT_EQ(s.size(), 242u);
    EXPECT_EQ(s[0], Vector(0, -1, 0, 1));
    EXPECT_EQ(s[1], Vector(0, 1, 0, 1));
    std::set<int> heights;
    for (const Vector& v : s) {
        EXPECT_NEAR(v.Length3(), 1.0f, 1e-6f);
        heights.insert(static_cast<int>(std::lround(v.y * 1e5)));
    }
    EXPECT_EQ(heights.size(), 17u);  // 15 rings and two poles
    // Per slice: two cap triangles and 14 quads; 16 lines per meridian, 16 per ring.
    EXPECT_EQ(sphere.indices[0].size(), 16u * 30u * 6u);
    EXPECT_EQ(sphere.indices[1].size(), (16u * 16u + 15u * 16u) * 4u);
    EXPECT_EQ(Referenced(sphere.indices[0], s.size()).size(), 242u);
    EXPECT_EQ(Referenced(sphere.indices[1], s.size()).size(), 242u);
    // Each wire line once, between neighbours: at most 2 sin(pi / 16) apart, on the equator.
    std::set<std::pair<uint16_t, uint16_t>> lines;
    for (size_t i = 0; i + 4 <= sphere.indices[1].size(); i += 4) {
        uint16_t v[2];
        std::memcpy(v, &sphere.indices[1][i], 4);
        EXPECT_LT((s[v[0]] - s[v[1]]).Length3(), 0.4f) << v[0] << "-" << v[1];
        lines.insert(std::minmax(v[0], v[1]));
    }
    EXPECT_EQ(lines.size(), sphere.indices[1].size() / 4);

    const MeshBytes lamp = Read(MESH_WIRE_CONE_LAMP);
    const std::vector<Vector> l = Points(lamp.vertices);
    ASSERT_EQ(l.size(), 1u + 128u + 16u);
    EXPECT_EQ(l[0], Vector(0, 0, 0, 1));
    for (size_t i = 1; i <= 128; ++i) {
        EXPECT_NEAR(std::hypot(l[i].x, l[i].y), 1.0f, 1e-6f);
        EXPECT_EQ(l[i].z, 1.0f);
    }
    for (size_t i = 129; i < l.size(); ++i) {
        EXPECT_NEAR(std::hypot(l[i].x, l[i].y), 0.1f, 1e-6f);
        EXPECT_TRUE(l[i].z == 0.0f || l[i].z == -0.1f);
    }
    EXPECT_TRUE(lamp.indices[0].empty());
    EXPECT_EQ(lamp.indices[1].size(), (128u + 16u + 24u) * 4u);
    EXPECT_EQ(Referenced(lamp.indices[1], l.size()).size(), l.size());
}

TEST_F(GeometryTest, SolidBoxBlendsDepthTestsAndCullsByItsArguments) {
    struct Case { float alpha; uint8_t depthTest, cullMirror; uint32_t blend, zfunc, cull; };
    const Case cases[] = {
        {0.5f, 1, 0, 1, CMP_LESSEQUAL, CULL_CCW},
        {1.0f, 1, 0, 0, CMP_LESSEQUAL, CULL_CCW},
        {0.999998f, 0, 1, 1, CMP_ALWAYS, CULL_CW},
        {1.0f, 0, 1, 0, CMP_ALWAYS, CULL_CW},
    };
    BeginFrame();
    BoundingBox4 box(Vector(-1, 0, -2, 1), Vector(1, 3, 2, 1));
    for (const Case& c : cases)
        RunOnRenderThread([&] { gVornexRenderer.DrawSolidBox(box, Matrix::IDENTITY, Vector(1, 0, 0, c.alpha), c.cullMirror, c.depthTest); });
    EndFrame();
    const std::vector<DrawRecord> draws = Draws();
    ASSERT_EQ(draws.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const DrawRecord& d = draws[i];
        EXPECT_EQ(d.RenderState(RS_ALPHABLENDENABLE), cases[i].blend) << i;
        EXPECT_EQ(d.RenderState(RS_ZFUNC), cases[i].zfunc) << i;
        EXPECT_EQ(d.RenderState(RS_ZWRITEENABLE), 1u) << i;
        EXPECT_EQ(d.RenderState(RS_CULLMODE), cases[i].cull) << i;
        EXPECT_TRUE(d.call == CallKind::DrawIndexedPrimitive && d.primitiveType == PT_TRIANGLELIST && d.fvf == FVF_XYZ);
        EXPECT_TRUE(d.primitiveCount == 12 && d.numVertices == 8);
    }
}

TEST_F(GeometryTest, DeclarationCacheSharesEqualListsAndFillsOnlyWithData) {
    RunOnRenderThread([&] {
        VertexDeclarationCache cache(gVornexRenderer.Device());
        const VertexElement a[3] = {{0, 0, DECLTYPE_FLOAT3, 0, DECLUSAGE_POSITION, 0},
                                    {0, 12, DECLTYPE_FLOAT2, 0, DECLUSAGE_TEXCOORD, 0}, kDeclEnd};
        VertexElement b[3] = {a[0], a[1], a[2]};
        b[1].usageIndex = 1;
        VertexDeclaration* first = cache.GetOrCreate(a, 3);
        VertexDeclaration* other = cache.GetOrCreate(b, 3);
        VertexDeclaration* again = cache.GetOrCreate(a, 3);
        EXPECT_EQ(first, again);
        EXPECT_NE(first, other);
        EXPECT_EQ(cache.Count(), 2u);
        const uint64_t locks = recorder->CallCount(CallKind::Lock);
        VertexBuffer* empty = cache.CreateVertexBuffer(64, USAGE_WRITEONLY, POOL_MANAGED, nullptr);
        EXPECT_EQ(recorder->CallCount(CallKind::Lock), locks);
        const uint16_t indices[3] = {2, 1, 0};
        IndexBuffer* filled = cache.CreateIndexBuffer(6, USAGE_WRITEONLY, POOL_MANAGED, indices);
        EXPECT_EQ(recorder->CallCount(CallKind::Lock), locks + 1);
        EXPECT_EQ(ReadBuffer(filled), std::vector<uint8_t>({2, 0, 1, 0, 0, 0}));
        // The caller's references: the cache keeps one of its own.
        EXPECT_EQ(first->Release(), 2u);
        EXPECT_EQ(again->Release(), 1u);
        other->Release();
        empty->Release();
        filled->Release();
    });
}

// The batch meshes exist once the device does and hold their documented layout: the
// quad batch 32 quads of corners (-0.5, 0), (0.5, 0), (0.5, 1), (-0.5, 1) at z = quad,
// the grid batch 16 segments of 64 pairs (-0.5, pair, segment), (0.5, pair, segment);
// triangles in the quads' corner order; the arrow batch 32 triangles (-1, 0), (1, 0),
// (0, 1) at z = arrow, without indices.
TEST_F(GeometryTest, BatchMeshesAreMadeWithTheDeviceInTheirLayout) {
    ASSERT_TRUE(created);
    std::vector<float> quadVertices, gridVertices, arrowVertices;
    std::vector<uint16_t> quadIndices, gridIndices;
    const auto floats = [](const std::vector<uint8_t>& b) {
        std::vector<float> f(b.size() / 4);
        std::memcpy(f.data(), b.data(), f.size() * 4);
        return f;
    };
    const auto shorts = [](const std::vector<uint8_t>& b) {
        std::vector<uint16_t> s(b.size() / 2);
        std::memcpy(s.data(), b.data(), s.size() * 2);
        return s;
    };
    RunOnRenderThread([&] {
        quadVertices = floats(ReadBuffer(gVornexRenderer.BatchVertices(0)));
        gridVertices = floats(ReadBuffer(gVornexRenderer.BatchVertices(1)));
        arrowVertices = floats(ReadBuffer(gVornexRenderer.BatchVertices(2)));
        quadIndices = shorts(ReadBuffer(gVornexRenderer.BatchIndices(0)));
        gridIndices = shorts(ReadBuffer(gVornexRenderer.BatchIndices(1)));
    });
    ASSERT_EQ(quadVertices.size(), 32u * 4 * 3);
    ASSERT_EQ(quadIndices.size(), 32u * 6);
    ASSERT_EQ(gridVertices.size(), 16u * 64 * 2 * 3);
    ASSERT_EQ(gridIndices.size(), 16u * 63 * 6);
    ASSERT_EQ(arrowVertices.size(), 32u * 3 * 3);
    EXPECT_EQ(gVornexRenderer.BatchIndices(2), nullptr);
    for (uint32_t a : {0u, 31u})
        EXPECT_EQ(std::vector<float>(arrowVertices.begin() + 9 * a, arrowVertices.begin() + 9 * a + 9),
                  (std::vector<float>{-1, 0, float(a), 1, 0, float(a), 0, 1, float(a)}))
            << "arrow " << a;
    const float corners[4][2] = {{-0.5f, 0}, {0.5f, 0}, {0.5f, 1}, {-0.5f, 1}};
    for (uint32_t q : {0u, 17u, 31u}) {
        for (uint32_t k = 0; k < 4; ++k) {
            const float* v = &quadVertices[(4 * q + k) * 3];
            EXPECT_EQ(std::vector<float>(v, v + 3), (std::vector<float>{corners[k][0], corners[k][1], float(q)}))
                << "quad " << q << " corner " << k;
        }
        const uint16_t b = uint16_t(4 * q);
        EXPECT_EQ(std::vector<uint16_t>(quadIndices.begin() + 6 * q, quadIndices.begin() + 6 * q + 6),
                  (std::vector<uint16_t>{b, uint16_t(b + 1), uint16_t(b + 2), b, uint16_t(b + 2), uint16_t(b + 3)}));
    }
    for (uint32_t s : {0u, 15u})
        for (uint32_t p : {0u, 40u, 63u}) {
            const float* v = &gridVertices[(128 * s + 2 * p) * 3];
            EXPECT_EQ(std::vector<float>(v, v + 6), (std::vector<float>{-0.5f, float(p), float(s), 0.5f, float(p), float(s)}))
                << "segment " << s << " pair " << p;
        }
    const uint16_t a = 128 * 15 + 2 * 40;  // segment 15, pairs 40 and 41
    const size_t at = (15 * 63 + 40) * 6;
    EXPECT_EQ(std::vector<uint16_t>(gridIndices.begin() + long(at), gridIndices.begin() + long(at) + 6),
              (std::vector<uint16_t>{a, uint16_t(a + 1), uint16_t(a + 3), a, uint16_t(a + 3), uint16_t(a + 2)}));
}

}  // namespace

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
