// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// Particle drawing on the recording device with strict validation: one instanced draw of
// the quad with the particle count as the instance count, both stream frequencies reset
// afterwards, the declaration and stride per face-camera mode, vertex constants 0 to 12
// (nodes, desaturated colours, the face-camera axes, anchor, shape by the world scale,
// texture frames), pixel constant 0, the triangle statistic, and nothing drawn without
// particles or while paused. A frame of twenty particle entities (quads, velocity-aligned
// quads and mesh particles) through the pass driver draws the reviewed list, twice alike.
// An entity's draw takes its colour times the draw's; the template's preview links,
// moves, draws and destroys its instance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/shaders/ShaderTestSupport.h"
#include "../SceneFrameTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
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
        // The definition's shaders go before the fixture's close ends them: resolving a
        // mesh GUID that names no template releases them and takes nothing.
        def.meshTemplateGuid.bytes[0] = 0xEE;
        def.Resolve(true);
        ShaderFixture::TearDown();
    }
    // Resolves d and waits for its two shaders on the device.
    bool Resolved(ParticleSystem& d) {
        d.Resolve(false);
        return WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            VertexShaderObject* v = d.vertexShader ? d.vertexShader->GetVertexShaderObject() : nullptr;
            PixelShaderObject* p = d.pixelShader ? d.pixelShader->GetPixelShaderObject() : nullptr;
            return v && p && v->DeviceShader() && p->DeviceShader();
        });
    }
    // A spawning instance of the definition (resolved here) at m.
    ParticleSystemInstance* Make(const Matrix& m, uint32_t flags = 0) {
        EXPECT_TRUE(Resolved(def));
        auto* inst = new ParticleSystemInstance(def, m, flags);
        instances.push_back(inst);
        RunOnRenderThread([inst] {
            EntityTemplate* mesh = nullptr;
            inst->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
            inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        });
        return inst;
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

// Every buffer the particle runtime fills when it makes its device objects (the ring,
// the quad's corners, its indices, the expanded indices) is unlocked again: a buffer
// left locked would be drawn from while the device still considers it written.
TEST_F(ParticleDrawTest, EveryBufferFilledAtCreationIsUnlocked) {
    recorder->SetLockLogging(true);
    recorder->ResetCallCounts();
    RunOnRenderThread([] { ParticleSystemInstance::CreateDeviceBuffers(); });
    const std::vector<gfx::LockRecord> locks = recorder->LockLog();
    recorder->SetLockLogging(false);
    EXPECT_EQ(locks.size(), 4u);
    EXPECT_EQ(recorder->CallCount(gfx::CallKind::Lock), locks.size());
    EXPECT_EQ(recorder->CallCount(gfx::CallKind::Unlock), locks.size());
    EXPECT_EQ(recorder->ViolationCount(), 0u);
}

// "Random rotation at start" reaches the ROTATION variants as register 13's start angle
// per unit of the normalised random byte; without it the start angle is 0.
TEST_F(ParticleDrawTest, TheRandomStartReachesRegister13) {
    def.rotationSpeed = 90.0f;  // the ROTATION variant either way
    for (const bool random : {false, true}) {
        SCOPED_TRACE(random);
        def.randomRotationAtStart = random;
        ParticleSystemInstance* inst = Make(Matrix::IDENTITY);
        RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.2f, 0.2f, 0.2f, 3); });
        const std::vector<gfx::DrawRecord> draws = DrawsOf([&] { inst->Draw(Vector(1, 1, 1, 1)); });
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(Reg(draws[0], kParticleRotationStartRegister),
                  (std::vector<float>{random ? 255.0f * 0.024639944f : 0.0f, 0, 0, 0}));
        EXPECT_EQ(Reg(draws[0], 0)[3], 90.0f * 0.017453292f);  // the rotation speed range
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

// The value of a named vertex constant of the draw's shader.
std::vector<float> Named(const gfx::DrawRecord& d, const char* name) {
    if (d.vertexShader.constants)
        for (const gfx::ConstantDesc& c : *d.vertexShader.constants)
            if (c.name == name) return Reg(d, c.registerIndex);
    return {};
}

struct ParticleEntityDrawTest : ParticleDrawTest {
    void SetUp() override {
        ParticleDrawTest::SetUp();
        InstallSceneServices();
        gEntityManager->Init(BoundingBox4(Vector(-100, -10, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        owned = std::make_unique<ParticleTemplate>();
        ParticleTemplate& kind = *owned;
        kind.SetName("drawn particles");
        kind.definition.lifeTime = 100.0f;
        ASSERT_TRUE(Resolved(kind.definition));
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gVornexRenderer.FlushCommands(true);
        owned.reset();  // its definition holds shaders the base's close ends
        ParticleDrawTest::TearDown();
    }
    std::unique_ptr<ParticleTemplate> owned;
};

TEST_F(ParticleEntityDrawTest, TheDrawTakesTheEntityColourTimesTheDrawColour) {
    ParticleTemplate& kind = *owned;
    auto* e = static_cast<ParticleEntity*>(
        gEntityManager->CreateEntityFromTemplate(&kind, nullptr, Matrix::IDENTITY, 0, nullptr));
    ASSERT_NE(e, nullptr);
    e->InitTriggerActivation();
    e->SetColor(Vector(0.5f, 0.25f, 1.0f, 1.0f));
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.2f, 0.2f, 0.2f, 3); });
    auto* context = static_cast<ParticleEntityRenderingContext*>(e->GetRenderingContext());
    const std::vector<gfx::DrawRecord> draws = DrawsOf([&] {
        RenderTaskArguments a;
        a.vector = Vector(0.5f, 1.0f, 0.5f, 0.5f);
        context->Draw(nullptr, Matrix::IDENTITY, a);
    });
    ASSERT_EQ(draws.size(), 1u);
    const Vector f = gVornexRenderer.ColorFactor();
    EXPECT_EQ(Named(draws[0], "ConstantColor"), (std::vector<float>{0.25f * f.x, 0.25f * f.y, 0.5f * f.z, 0.5f * f.w}));
}

TEST_F(ParticleEntityDrawTest, ThePreviewLinksMovesDrawsAndDestroys) {
    ParticleTemplate& kind = *owned;
    void* preview = kind.CreatePreviewObject();
    ASSERT_NE(preview, nullptr);
    auto* inst = static_cast<ParticleSystemInstance*>(preview);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.2f, 0.2f, 0.2f, 3); });
    bool linked = false;
    RunOnRenderThread([&] { linked = ParticleSystemInstance::FirstLive() == inst && inst->IsSpawning(); });
    EXPECT_TRUE(linked);
    Matrix at = Matrix::IDENTITY;
    at.r[3] = Vector(1, 2, 3, 1);
    BeginFrame();
    recorder->ClearDrawRecords();
    kind.DrawPreviewObject(preview, at);
    gVornexRenderer.FlushCommands(true);
    std::vector<gfx::DrawRecord> draws = recorder->DrawRecords();
    EndFrame();
    uint32_t quads = 0;
    for (const gfx::DrawRecord& d : draws) quads += d.streams[1].stride == 20;
    EXPECT_EQ(quads, 1u);
    Vector where;
    RunOnRenderThread([&] { where = inst->World().r[3]; });
    EXPECT_EQ(where, Vector(1, 2, 3, 1));
    kind.DestroyPreviewObject(preview);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { linked = ParticleSystemInstance::FirstLive() != nullptr; });
    EXPECT_FALSE(linked);
}

struct ParticleFrameTest : sceneframe::SceneFrameFixture<ParticleDrawTest> {
    void TearDown() override {
        EndScene();
        templates.clear();
        mesh.reset();
        SceneFrameFixture::TearDown();
    }
    // A forward cube mesh template of the tests' mesh tool with the instance stream.
    MeshTemplate* Cube() {
        const std::vector<uint8_t> block = sceneframe::MeshToolBlock(
            "(lambda b: (b['rd'].update({'declB': [[0, 0, 2, 0, 0, 0], [1, 0, 3, 0, 5, 4], [1, 16, 3, 0, 5, 5], "
            "[1, 32, 3, 0, 5, 6], [1, 48, 3, 0, 5, 7], m.DECL_END], 'render': [0, 0, 1, 0, 1, 0, 0, 0]}), "
            "b)[1])(m.box_mesh(0.5, [{'name': 'Default', 'parts': [{'count': 12, 'flags': 0x800}]}]))",
            "particle_frame_test_block.bin");
        mesh = std::make_unique<MeshTemplate>();
        mesh->SetName("ParticleCube");
        BoundedReader reader(block.data(), block.size());
        EXPECT_TRUE(mesh->ReadBinaryData(reader, 50));
        MeshTemplateRenderingData* d = mesh->GetRenderingData();
        EXPECT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            const MeshPart& p = d->presets[0].parts[0];
            auto* vs = static_cast<VertexShaderObject*>(p.shaders.objects[MESH_SHADER_INSTANCING_VS]);
            auto* ps = static_cast<PixelShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_PS]);
            return vs && ps && vs->DeviceShader() && ps->DeviceShader();
        }));
        return mesh.get();
    }
    ParticleTemplate* Kind(uint32_t face, MeshTemplate* meshTemplate) {
        templates.push_back(std::make_unique<ParticleTemplate>());
        ParticleTemplate* t = templates.back().get();
        t->SetName("frame particles");
        t->definition.lifeTime = 100.0f;
        t->definition.spawnRate = 10.0f;
        t->definition.faceCameraMode = face;
        if (meshTemplate) {
            meshTemplate->AddRef();  // the definition's use
            t->definition.meshTemplate = meshTemplate;
        } else {
            EXPECT_TRUE(Resolved(t->definition));
        }
        return t;
    }
    std::vector<std::string> Frame(const std::vector<Entity*>& entities) {
        RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.25f, 0.25f, 0.25f, 3); });
        const std::vector<gfx::DrawRecord> draws = FrameDraws(entities);
        std::vector<std::string> lines;
        for (const gfx::DrawRecord& d : draws) {
            const bool meshDraw = d.streams[0].buffer == gfx::SerialOf(mesh->GetRenderingData()->vertexBufferA);
            if (!meshDraw && d.streams[1].stride != 20 && d.streams[1].stride != 32) continue;
            std::ostringstream line;
            line << (meshDraw ? "mesh" : "quads") << " triangles " << d.primitiveCount << " freq " << std::hex
                 << d.streams[0].frequency << "/" << d.streams[1].frequency << std::dec << " stride "
                 << d.streams[1].stride << " blend " << d.RenderState(gfx::RS_SRCBLEND) << "/"
                 << d.RenderState(gfx::RS_DESTBLEND) << " zwrite " << d.RenderState(gfx::RS_ZWRITEENABLE);
            lines.push_back(line.str());
        }
        return lines;
    }

    std::unique_ptr<MeshTemplate> mesh;
    std::vector<std::unique_ptr<ParticleTemplate>> templates;
};

// A mesh particle instance holds its own use of the mesh template from the main thread's
// link on: once the definition lets go of the template, unloading it leaves the template
// in place while the instance draws it (ASan would see a freed template otherwise), and
// the template unloads once the instance is destroyed.
TEST_F(ParticleFrameTest, AnUnloadedMeshTemplateOutlivesNoInstanceThatDrawsIt) {
    MeshTemplate* cube = Cube();
    mesh.release();  // owned by its stub from here, as the registry owns templates
    auto* stub = new EntityTemplateStub();
    stub->SetTemplate(cube);
    cube->AddRef();  // the stub's use
    ParticleTemplate* kind = Kind(PARTICLE_FACE_CAMERA, cube);
    auto* inst = new ParticleSystemInstance(kind->definition, Matrix::IDENTITY, 0);
    EntityTemplate* link = ParticleSystemInstance::MeshForLink(kind->definition);
    RunOnRenderThread([&] {
        inst->ExecuteCommand(PARTICLE_CMD_LINK, &link);
        inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        ParticleSystemInstance::UpdateAll(0.25f, 0.25f, 0.25f, 3);
    });
    // The definition resolves to no mesh; the registry unloads what nothing else uses.
    kind->definition.meshTemplate->Release();
    kind->definition.meshTemplate = nullptr;
    EXPECT_FALSE(stub->ReleaseTemplate()) << "unloaded while an instance draws it";
    const uint32_t vertexBuffer = gfx::SerialOf(cube->GetRenderingData()->vertexBufferA);
    const std::vector<gfx::DrawRecord> draws = DrawsOf([&] { inst->Draw(Vector(1, 1, 1, 1)); });
    ASSERT_FALSE(draws.empty());
    EXPECT_EQ(draws[0].streams[0].buffer, vertexBuffer);
    RunOnRenderThread([&] { inst->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr); });
    EXPECT_TRUE(stub->ReleaseTemplate()) << "the instance kept its use";
    delete stub;
}

TEST_F(ParticleFrameTest, TwentyParticleEntitiesDrawTheReviewedList) {
    MeshTemplate* cube = Cube();
    ParticleTemplate* kinds[3] = {Kind(PARTICLE_FACE_CAMERA, nullptr), Kind(PARTICLE_FACE_VELOCITY_ALIGN, nullptr),
                                  Kind(PARTICLE_FACE_CAMERA, cube)};
    kinds[1]->definition.blendingMode = PARTICLE_BLEND_ADD;
    std::vector<Entity*> entities;
    for (int i = 0; i < 20; ++i) {
        Matrix local = Matrix::IDENTITY;
        local.r[3] = Vector(float(i % 5) * 6.0f - 12.0f, 0, float(i / 5) * 6.0f - 9.0f, 1);
        Entity* e = gEntityManager->CreateEntityFromTemplate(kinds[i % 3], nullptr, local, 0, nullptr);
        ASSERT_NE(e, nullptr);
        e->InitTriggerActivation();
        entities.push_back(e);
    }
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.25f, 0.25f, 0.25f, 3); });
    const std::vector<std::string> first = Frame(entities);
    EXPECT_EQ(recorder->ViolationCount(), 0u);
    EXPECT_EQ(first, sceneframe::ReviewedList(PROJECT_SOURCE_ROOT "/tests/scene/particles/particle_frame_expected.txt",
                                              "PARTICLE_FRAME_WRITE", first));
    // The next frame: one more quarter second of emission, the same draws (the entities'
    // boxes came back from the first frame, so the sorted order may change).
    auto drawKinds = [](const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& l : lines) out.push_back(l.substr(0, l.find(" triangles")));
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(drawKinds(Frame(entities)), drawKinds(first));
}

}  // namespace
