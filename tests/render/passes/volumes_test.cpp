// Deferred lighting on the recording device, continued: where the cone and tube volumes
// land, the projected-texture rows, the ambient occlusion constants at several render
// heights, and the device objects after resets.
// test-depends: shader_data
// test-sanitize: address
#include <cmath>

#include "DeferredTestSupport.h"
#include "render/DeviceObjectHandle.h"

using namespace rendertest;
using namespace passtest;

namespace {

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

}  // namespace
