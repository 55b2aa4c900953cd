// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// The second frame of ten effect entities through the pass driver on the recording device with
// strict validation: two effect templates using all six kinds (quads over a frame atlas,
// particles, a mesh, a point and a spot light, a sound) draw the reviewed list, and the
// lights reach the frame's light list. EFFECT_FRAME_WRITE=1 writes the list anew.
#include <gtest/gtest.h>

#include <sstream>

#include "../SceneFrameTestSupport.h"
#include "SFXTestSupport.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/sfx/SFXEntity.h"
#include "scene/startup/SceneStaticInit.h"

using namespace rendertest;

namespace {

struct SFXFrameTest : sceneframe::SceneFrameFixture<shadertest::ShaderFixture> {
    void SetUp() override {
        SceneFrameFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        recorder->SetValidationMode(gfx::ValidationMode::Strict);
        sfxtest::SoundRecorder::Install();
        RunOnRenderThread([] {
            ParticleSystemInstance::InitGlobals({4096, 4096, true, 1.0f});
            ParticleSystemInstance::CreateDeviceBuffers();
        });
    }
    void TearDown() override {
        EndScene();
        effects.clear();
        for (auto& s : stubs) gEntityTemplateRegistry.RemoveStub(s.get());
        stubs.clear();
        particles.reset();
        mesh.reset();
        RunOnRenderThread([] {
            ParticleSystemInstance::ReleaseDeviceBuffers();
            ParticleSystemInstance::ReleaseGlobals();
        });
        sfxtest::SoundRecorder::Remove();
        SceneFrameFixture::TearDown();
    }
    SimpleGUID Register(EntityTemplate* t, uint8_t id) {
        stubs.push_back(std::make_unique<EntityTemplateStub>());
        stubs.back()->guid.bytes[0] = id;
        stubs.back()->guid.bytes[15] = 0xEF;
        stubs.back()->SetTemplate(t);
        EXPECT_TRUE(gEntityTemplateRegistry.InsertStub(stubs.back().get()));
        return stubs.back()->guid;
    }
    // A forward cube of the tests' mesh tool.
    MeshTemplate* Cube() {
        const std::vector<uint8_t> block = sceneframe::MeshToolBlock(
            "(lambda b: (b['rd'].update({'render': [0, 0, 1, 0, 0, 0, 0, 0]}), b)[1])(m.box_mesh(0.5, "
            "[{'name': 'Default', 'parts': [{'count': 12, 'flags': 0x800}]}]))",
            "sfx_frame_test_block.bin");
        mesh = std::make_unique<MeshTemplate>();
        mesh->SetName("EffectCube");
        BoundedReader reader(block.data(), block.size());
        EXPECT_TRUE(mesh->ReadBinaryData(reader, 50));
        return mesh.get();
    }
    SFXTemplate* Effect(bool lights) {
        effects.push_back(std::make_unique<SFXTemplate>());
        SFXTemplate* t = effects.back().get();
        t->SetName(lights ? "lit effect" : "effect");
        SFXDefinition& d = *t->definition;
        auto* flare = new SFXQuadElementDefinition();
        flare->textureFileName = NameString("System/White_4x4$cxy.dds");
        flare->textureFramesX = 2;
        flare->textureFramesY = 2;
        flare->blendingMode = SFX_BLEND_ADD;
        d.AddElement(flare);
        auto* glow = new SFXQuadElementDefinition();
        glow->textureFileName = NameString("System/White_4x4$cxy.dds");
        glow->faceCameraMode = SFX_FACE_SCREEN_FULL;
        d.AddElement(glow);
        auto* sparks = new SFXParticleElementDefinition();
        sparks->templateGuid = particleGuid;
        d.AddElement(sparks);
        auto* cube = new SFXMeshElementDefinition();
        cube->templateGuid = meshGuid;
        d.AddElement(cube);
        auto* sound = new SFXSoundElementDefinition();
        sound->soundEntryName = NameString("Boom");
        d.AddElement(sound);
        if (lights) {
            d.AddElement(new SFXPointLightElementDefinition());
            d.AddElement(new SFXSpotLightElementDefinition());
        }
        d.ResolveElements(false);
        return t;
    }
    std::vector<std::string> Frame(const std::vector<Entity*>& entities, uint32_t* lights) {
        const sfxtest::Clocks clocks = sfxtest::Clocks::All(0.25f);
        RunOnRenderThread([&] {
            ParticleSystemInstance::UpdateAll(0.25f, 0.25f, 0.25f, 3);
            SFXContext::UpdateAll(clocks.c);
        });
        const std::vector<gfx::DrawRecord> draws = FrameDraws(
            entities, false, [&] { RunOnRenderThread([&] { *lights = gVornexRenderer.GatheredLights(); }); });
        const uint32_t cubeVertices = gfx::SerialOf(mesh->GetRenderingData()->vertexBufferA);
        std::vector<std::string> lines;
        for (const gfx::DrawRecord& d : draws) {
            std::string kind;
            if (d.streams[0].buffer == cubeVertices) kind = "mesh";
            else if (d.primitiveType == gfx::PT_TRIANGLEFAN && d.streams[0].stride == 20) kind = "quad";
            else if (d.streams[1].stride == 20 || d.streams[1].stride == 32) kind = "particles";
            else continue;
            std::ostringstream line;
            line << kind << " triangles " << d.primitiveCount << " blend " << d.RenderState(gfx::RS_SRCBLEND) << "/"
                 << d.RenderState(gfx::RS_DESTBLEND) << " cull " << d.RenderState(gfx::RS_CULLMODE) << " c196 "
                 << d.VertexConstant(196)[0] << "," << d.VertexConstant(196)[1];
            lines.push_back(line.str());
        }
        return lines;
    }

    std::unique_ptr<ParticleTemplate> particles;
    std::unique_ptr<MeshTemplate> mesh;
    SimpleGUID particleGuid, meshGuid;
    std::vector<std::unique_ptr<SFXTemplate>> effects;
    std::vector<std::unique_ptr<EntityTemplateStub>> stubs;
};

TEST_F(SFXFrameTest, TenEffectsDrawTheReviewedList) {
    particles = std::make_unique<ParticleTemplate>();
    particles->SetName("effect sparks");
    particles->definition.lifeTime = 100.0f;
    particles->definition.spawnRate = 10.0f;
    particles->definition.Resolve(false);
    particleGuid = Register(particles.get(), 1);
    meshGuid = Register(Cube(), 2);
    SFXTemplate* kinds[2] = {Effect(false), Effect(true)};
    ASSERT_TRUE(WaitUntil([&] {
        gVornexRenderer.WaitForResourceJobs(1);
        for (SFXTemplate* t : kinds) {
            auto* q = static_cast<SFXQuadElementDefinition*>(t->definition->elements[0]);
            VertexShaderObject* v = q->vertexShader ? q->vertexShader->GetVertexShaderObject() : nullptr;
            if (!v || !v->DeviceShader() || !q->texture || !q->texture->IsLoaded()) return false;
        }
        const ParticleSystem& p = particles->definition;
        return p.vertexShader && p.vertexShader->GetVertexShaderObject() &&
               p.vertexShader->GetVertexShaderObject()->DeviceShader();
    }));
    std::vector<Entity*> entities;
    for (int i = 0; i < 10; ++i) {
        Matrix local = Matrix::IDENTITY;
        local.r[3] = Vector(float(i % 5) * 8.0f - 16.0f, 0, float(i / 5) * 8.0f - 4.0f, 1);
        Entity* e = gEntityManager->CreateEntityFromTemplate(kinds[i % 2], nullptr, local, 0, nullptr);
        ASSERT_NE(e, nullptr);
        e->InitTriggerActivation();
        entities.push_back(e);
    }
    gVornexRenderer.FlushCommands(true);
    uint32_t lights = 0;
    Frame(entities, &lights);  // the particle elements start spawning in this frame's update
    const std::vector<std::string> first = Frame(entities, &lights);
    EXPECT_EQ(recorder->ViolationCount(), 0u);
    EXPECT_EQ(lights, 10u);  // five lit effects, two lights each
    EXPECT_EQ(first, sceneframe::ReviewedList(PROJECT_SOURCE_ROOT "/tests/scene/sfx/sfx_frame_expected.txt",
                                              "EFFECT_FRAME_WRITE", first));
    // Every effect started its sound once.
    uint32_t plays = 0;
    for (const std::string& call : sfxtest::SoundRecorder::Calls()) plays += call == "play Boom";
    EXPECT_EQ(plays, 10u);
}

}  // namespace
