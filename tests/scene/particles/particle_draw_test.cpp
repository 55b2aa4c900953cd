// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// Particle drawing on the recording device with strict validation: one instanced draw of
// the quad with the particle count as the instance count, both stream frequencies reset
// afterwards, the declaration and stride per face-camera mode, vertex constants 0 to 12
// (nodes, desaturated colours, the face-camera axes, anchor, shape by the world scale,
// texture frames), pixel constant 0, the triangle statistic, and nothing drawn without
// particles or while paused.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "render/shaders/ShaderTestSupport.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/startup/SceneStaticInit.h"

using namespace rendertest;

namespace {

std::vector<float> Reg(const gfx::DrawRecord& d, uint32_t r) {
    const float* p = d.VertexConstant(r);
    return {p[0], p[1], p[2], p[3]};
}

struct ParticleDrawTest : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        recorder->SetValidationMode(gfx::ValidationMode::Strict);
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 1.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        RunOnRenderThread([] {
            ParticleSystemInstance::InitGlobals({4096, 4096, true, 1.0f});
            ParticleSystemInstance::CreateDeviceBuffers();
        });
        def.lifeTime = 100.0f;
        def.spawnRate = 50.0f;
        def.nodeColor[1].SetFromVector(Vector(1.0f, 0.0f, 0.0f, 1.0f));
        def.desaturationFactor = 0.5f;
        def.anchor = Vector(0.25f, 0.75f, 0.0f, 0.0f);
        def.shape = Vector(1.0f, 2.0f, 3.0f, 4.0f);
        def.textureFramesX = 4;
        def.textureFramesY = 2;
    }
    void TearDown() override {
        RunOnRenderThread([this] {
            for (ParticleSystemInstance* i : instances) i->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
            ParticleSystemInstance::ReleaseDeviceBuffers();
            ParticleSystemInstance::ReleaseGlobals();
        });
        gVornexRenderer.FlushCommands(true);
        ShaderFixture::TearDown();
    }
    // A spawning instance of the definition (resolved here) at m.
    ParticleSystemInstance* Make(const Matrix& m, uint32_t flags = 0) {
        def.Resolve(false);
        EXPECT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            VertexShaderObject* v = def.vertexShader ? def.vertexShader->GetVertexShaderObject() : nullptr;
            PixelShaderObject* p = def.pixelShader ? def.pixelShader->GetPixelShaderObject() : nullptr;
            return v && p && v->DeviceShader() && p->DeviceShader();
        }));
        auto* inst = new ParticleSystemInstance(def, m, flags);
        instances.push_back(inst);
        RunOnRenderThread([inst] {
            EntityTemplate* mesh = nullptr;
            inst->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
            inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        });
        return inst;
    }
    std::vector<gfx::DrawRecord> DrawsOf(const std::function<void()>& f) {
        BeginFrame();
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        RunOnRenderThread(f);
        std::vector<gfx::DrawRecord> draws = recorder->DrawRecords();
        EndFrame();
        return draws;
    }

    ParticleSystem def;
    std::vector<ParticleSystemInstance*> instances;
};

TEST_F(ParticleDrawTest, OneInstancedDrawWithTheConstantsOfEachFaceCameraMode) {
    const Matrix& camera = gVornexRenderer.CameraWorldMatrix();
    const struct {
        uint32_t mode;
        uint32_t stride;
        std::vector<float> a, b;
    } cases[] = {
        {PARTICLE_FACE_LOCAL_X, 20, {0, 1, 0, 0}, {0, 0, 1, 0}},
        {PARTICLE_FACE_LOCAL_Y, 20, {1, 0, 0, 0}, {0, 0, 1, 0}},
        {PARTICLE_FACE_LOCAL_Z, 20, {1, 0, 0, 0}, {0, 1, 0, 0}},
        {PARTICLE_FACE_CAMERA, 20, {camera.r[0].x, camera.r[0].y, camera.r[0].z, 0}, {camera.r[1].x, camera.r[1].y, camera.r[1].z, 0}},
        {PARTICLE_FACE_VELOCITY_ALIGN, 32, {camera.r[3].x, camera.r[3].y, camera.r[3].z, 1}, {0, 0, 0, 0}},
        {PARTICLE_FACE_VELOCITY_NORMAL, 32, {1, 0, 0, 0}, {0, 0, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        def.faceCameraMode = c.mode;
        Matrix m = Matrix::IDENTITY;
        m.r[0] = Vector(2, 0, 0, 0);
        m.r[1] = Vector(0, 3, 0, 0);
        m.r[2] = Vector(0, 0, 4, 0);
        ParticleSystemInstance* inst = Make(m);
        RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.2f, 0.2f, 0.2f, 3); });
        const uint32_t n = inst->Count();
        ASSERT_GT(n, 1u);
        uint32_t primitives = 0;
        recorder->ResetCallCounts();
        const std::vector<gfx::DrawRecord> draws = DrawsOf([&] {
            const uint32_t before = gVornexRenderer.Primitives();
            inst->Draw(Vector(1, 1, 1, 1));
            primitives = gVornexRenderer.Primitives() - before;
        });
        ASSERT_EQ(draws.size(), 1u);
        const gfx::DrawRecord& d = draws[0];
        EXPECT_EQ(d.call, gfx::CallKind::DrawIndexedPrimitive);
        EXPECT_EQ(d.primitiveCount, 2u);
        EXPECT_EQ(d.numVertices, 4u);
        EXPECT_EQ(d.streams[0].frequency, gfx::STREAMSOURCE_INDEXEDDATA | n);
        EXPECT_EQ(d.streams[0].stride, 4u);
        EXPECT_EQ(d.streams[1].frequency, gfx::STREAMSOURCE_INSTANCEDATA | 1u);
        EXPECT_EQ(d.streams[1].stride, c.stride);
        EXPECT_EQ(d.streams[1].offset, inst->InstanceDataOffset());
        ASSERT_TRUE(d.declarationElements);
        EXPECT_EQ(d.declarationElements->size(), c.stride == 32 ? 5u : 4u);  // with the end marker
        // Set for the draw, then back to 1.
        EXPECT_EQ(recorder->CallCount(gfx::CallKind::SetStreamSourceFreq), 4u);
        EXPECT_EQ(primitives, 2 * n);

        // Nodes: time, size, reciprocal span, rotation range.
        EXPECT_EQ(Reg(d, 0), (std::vector<float>{0.0f, 0.0f, 10.0f, 0.0f}));
        EXPECT_FLOAT_EQ(Reg(d, 1)[2], 1.0f / 0.8f);
        EXPECT_EQ(Reg(d, 3)[2], 1.0f);
        // Node 1 is red, halfway toward its luminance 0.2126.
        const std::vector<float> red = Reg(d, 5);
        EXPECT_NEAR(red[0], 0.5f * 0.2126f + 0.5f, 1e-6f);
        EXPECT_NEAR(red[1], 0.5f * 0.2126f, 1e-6f);
        EXPECT_NEAR(red[2], 0.5f * 0.2126f, 1e-6f);
        EXPECT_EQ(red[3], 1.0f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(Reg(d, 8)[k], c.a[k], 1e-5f) << k;
            EXPECT_NEAR(Reg(d, 9)[k], c.b[k], 1e-5f) << k;
        }
        EXPECT_EQ(Reg(d, 8)[3], c.a[3]);
        EXPECT_EQ(Reg(d, 10), (std::vector<float>{0.25f, 0.75f, 0.0f, 0.0f}));
        // Shape by the world scale: x, z by x; y, w by y (by z when velocity-aligned).
        const float sy = c.mode == PARTICLE_FACE_VELOCITY_ALIGN ? 4.0f : 3.0f;
        EXPECT_EQ(Reg(d, 11), (std::vector<float>{2.0f, 2.0f * sy, 6.0f, 4.0f * sy}));
        EXPECT_EQ(Reg(d, 12), (std::vector<float>{0.25f, 0.5f, 8.0f, 4.0f}));
        EXPECT_EQ(d.PixelConstant(0)[0], 0.5f);
        EXPECT_EQ(d.RenderState(gfx::RS_CULLMODE), static_cast<uint32_t>(gfx::CULL_NONE));
        EXPECT_EQ(d.RenderState(gfx::RS_ZWRITEENABLE), 0u);
        EXPECT_EQ(recorder->ViolationCount(), 0u);
    }
}

TEST_F(ParticleDrawTest, NothingIsDrawnWithoutParticlesOrWhilePaused) {
    def.spawnRate = 0.0f;  // never emits
    ParticleSystemInstance* empty = Make(Matrix::IDENTITY);
    def.spawnRate = 50.0f;
    ParticleSystemInstance* pausing = Make(Matrix::IDENTITY, kParticleFlagPausing);
    RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.2f, 0.2f, 0.2f, 3); });
    ASSERT_GT(pausing->Count(), 0u);
    // More than three undrawn frames: paused.
    for (int i = 0; i < 5; ++i) RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.01f, 0.01f, 0.01f, 3); });
    ASSERT_TRUE(pausing->IsPaused());
    EXPECT_TRUE(DrawsOf([&] {
                    empty->Draw(Vector(1, 1, 1, 1));
                    pausing->Draw(Vector(1, 1, 1, 1));  // comes back with the next update
                }).empty());
    RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.01f, 0.01f, 0.01f, 3); });
    EXPECT_FALSE(pausing->IsPaused());
    EXPECT_EQ(DrawsOf([&] { pausing->Draw(Vector(1, 1, 1, 1)); }).size(), 1u);
}

}  // namespace
