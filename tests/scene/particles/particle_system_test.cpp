// Particle-system definitions: the property list against the independent writer, the
// shader option text, resolving a mesh template by GUID, and the list of live
// definitions that RefreshAllShaders walks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "scene/particles/ParticleSystem.h"

namespace {

std::vector<uint8_t> WriteWithTool(const std::string& json) { return shelltest::PropList("particlesystem", json); }

std::vector<uint8_t> Write(const ParticleSystem& p) {
    const RTTIClass* cls = ParticleSystem::RegisterClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &p, 0));
    cls->SerializeProperties(out.data(), &p, 0);
    return out;
}

TEST(ParticleSystemTest, DefaultsInPropertyOrder) {
    const ParticleSystem p;
    EXPECT_EQ(Write(p), WriteWithTool("{}"));
}

TEST(ParticleSystemTest, ListFromTheToolReadsBackAndWritesTheSameBytes) {
    const std::vector<uint8_t> bytes = WriteWithTool(
        R"({"Local space":true,"Life time":2.5,"Spawn rate":0.5,"Global gravity":[0,-9.8,0,0],)"
        R"("Face camera mode":5,"Texture file name":"SFX/smoke.dds","Texture frames X":4,"Texture frames Y":2,)"
        R"("Animation mode":0,"Mesh template":"00112233-4455-6677-8899-aabbccddeeff","Shader preset":"Glass",)"
        R"("Blending mode":4,"Node 1 time":0.25,"Node 2 size":3.0,"Node 3 color":[10,20,30,40,2.0],)"
        R"("High precision mode":true})");
    ParticleSystem p;
    BoundedReader in(bytes.data(), bytes.size());
    EXPECT_EQ(ParticleSystem::RegisterClass()->DeserializeProperties(in, &p, 0), bytes.size());
    ASSERT_FALSE(in.Failed());
    EXPECT_TRUE(p.localSpace);
    EXPECT_EQ(p.lifeTime, 2.5f);
    EXPECT_EQ(p.spawnRate, 0.5f);
    EXPECT_EQ(p.globalGravity, Vector(0, -9.8f, 0, 0));
    EXPECT_EQ(p.faceCameraMode, uint32_t(PARTICLE_FACE_VELOCITY_NORMAL));
    EXPECT_STREQ(p.textureFileName.CStr(), "SFX/smoke.dds");
    EXPECT_EQ(p.textureFramesX, 4u);
    EXPECT_EQ(p.textureFramesY, 2u);
    EXPECT_EQ(p.animationMode, uint32_t(PARTICLE_ANIMATION_RANDOM_FRAME));
    EXPECT_FALSE(p.meshTemplateGuid.IsNull());
    EXPECT_STREQ(p.shaderPreset.CStr(), "Glass");
    EXPECT_EQ(p.blendingMode, uint32_t(PARTICLE_BLEND_INV_ALPHA));
    EXPECT_EQ(p.nodeTime[1], 0.25f);
    EXPECT_EQ(p.nodeSize[2], 3.0f);
    EXPECT_EQ(p.nodeColor[3], HDRColor(10, 20, 30, 40, 2.0f));
    EXPECT_TRUE(p.highPrecisionMode);
    EXPECT_EQ(Write(p), bytes);

    // A cut list fails the reader.
    ParticleSystem partial;
    BoundedReader cut(bytes.data(), bytes.size() - 1);
    ParticleSystem::RegisterClass()->DeserializeProperties(cut, &partial, 0);
    EXPECT_TRUE(cut.Failed());
}

TEST(ParticleSystemTest, ShaderOptions) {
    struct Case {
        const char* what;
        void (*edit)(ParticleSystem&);
        uint32_t quality;
        const char* want;
    };
    const Case cases[] = {
        {"defaults", [](ParticleSystem&) {}, 3, "FOG "},
        {"1 x 2 frames, cycle with blend",
         [](ParticleSystem& p) { p.textureFramesY = 2; }, 3, "TEXTURE_ANIMATION TEXTURE_FRAME_INTERPOLATION FOG "},
        {"2 x 1 frames, random frame",
         [](ParticleSystem& p) { p.textureFramesX = 2, p.animationMode = PARTICLE_ANIMATION_RANDOM_FRAME; }, 3,
         "TEXTURE_ANIMATION RANDOM_TEXTURE_FRAME FOG "},
        {"2 x 1 frames, cycle",
         [](ParticleSystem& p) { p.textureFramesX = 2, p.animationMode = PARTICLE_ANIMATION_CYCLE; }, 3,
         "TEXTURE_ANIMATION FOG "},
        {"add", [](ParticleSystem& p) { p.blendingMode = PARTICLE_BLEND_ADD; }, 3, "FOG "},
        {"inv alpha", [](ParticleSystem& p) { p.blendingMode = PARTICLE_BLEND_INV_ALPHA; }, 3, "BLEND_ALPHA FOG "},
        {"none", [](ParticleSystem& p) { p.blendingMode = PARTICLE_BLEND_NONE; }, 3, "BLEND_ALPHA FOG "},
        {"alpha", [](ParticleSystem& p) { p.blendingMode = PARTICLE_BLEND_ALPHA; }, 3, "BLEND_ALPHA FOG "},
        {"softness at 1", [](ParticleSystem& p) { p.softness = true; }, 1, "FOG "},
        {"softness at 2", [](ParticleSystem& p) { p.softness = true; }, 2, "SOFTNESS FOG "},
        {"desaturation at 0", [](ParticleSystem& p) { p.desaturationFactor = 0.5f; }, 0, "FOG "},
        {"desaturation at 1", [](ParticleSystem& p) { p.desaturationFactor = 0.5f; }, 1, "TEXTURE_DESATURATION FOG "},
        {"negative desaturation", [](ParticleSystem& p) { p.desaturationFactor = -0.5f; }, 3, "FOG "},
        {"random start rotation", [](ParticleSystem& p) { p.randomRotationAtStart = true; }, 3, "ROTATION FOG "},
        {"rotation speed var", [](ParticleSystem& p) { p.rotationSpeedVar = 0.1f; }, 3, "ROTATION FOG "},
        {"negative zero speed", [](ParticleSystem& p) { p.rotationSpeed = -0.0f; }, 3, "FOG "},
        {"secondary speed only", [](ParticleSystem& p) { p.secondaryRotationSpeed = 2.0f; }, 3, "FOG "},
        {"velocity align", [](ParticleSystem& p) { p.faceCameraMode = PARTICLE_FACE_VELOCITY_ALIGN; }, 3,
         "VELOCITY_ALIGN FOG "},
        {"no fog", [](ParticleSystem& p) { p.fog = false; }, 3, ""},
        {"everything",
         [](ParticleSystem& p) {
             p.faceCameraMode = PARTICLE_FACE_VELOCITY_NORMAL, p.rotationSpeed = 1.0f, p.textureFramesX = 3;
             p.desaturationFactor = 1.0f, p.blendingMode = PARTICLE_BLEND_ALPHA, p.softness = true;
         },
         2,
         "VELOCITY_NORMAL ROTATION TEXTURE_ANIMATION TEXTURE_FRAME_INTERPOLATION TEXTURE_DESATURATION BLEND_ALPHA "
         "SOFTNESS FOG "},
    };
    for (const Case& c : cases) {
        ParticleSystem p;
        c.edit(p);
        char text[kParticleShaderOptionsSize];
        p.ShaderOptions(c.quality, text);
        EXPECT_STREQ(text, c.want) << c.what;
    }
}

// Templates in the registry's GUID index for the test's length.
class ParticleResolveTest : public testing::Test {
protected:
    void TearDown() override {
        for (auto& s : stubs) gEntityTemplateRegistry.RemoveStub(s.get());
        templates.clear();  // each detaches itself from its stub
        stubs.clear();
    }
    SimpleGUID Register(uint32_t typeId, uint8_t id) {
        templates.push_back(std::make_unique<EntityTemplate>());
        templates.back()->typeId = typeId;
        stubs.push_back(std::make_unique<EntityTemplateStub>());
        EntityTemplateStub* s = stubs.back().get();
        s->guid = SimpleGUID();
        s->guid.bytes[0] = id;
        s->guid.bytes[15] = 0xA5;
        s->SetTemplate(templates.back().get());
        EXPECT_TRUE(gEntityTemplateRegistry.InsertStub(s));
        return s->guid;
    }
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<std::unique_ptr<EntityTemplateStub>> stubs;
};

TEST_F(ParticleResolveTest, MeshTemplatesAreKeptAndOthersReleased) {
    const SimpleGUID mesh = Register(1, 1);
    const SimpleGUID trigger = Register(4, 2);
    EntityTemplate* meshTemplate = templates[0].get();
    EntityTemplate* triggerTemplate = templates[1].get();
    {
        ParticleSystem p;
        p.meshTemplateGuid = mesh;
        p.Resolve(true);
        EXPECT_EQ(p.meshTemplate, meshTemplate);
        EXPECT_EQ(meshTemplate->GetUseCount(), 1u);
        EXPECT_EQ(p.vertexShader, nullptr);
        EXPECT_EQ(p.pixelShader, nullptr);
        EXPECT_EQ(p.texture, nullptr);
        p.Resolve(true);  // the earlier reference goes first
        EXPECT_EQ(meshTemplate->GetUseCount(), 1u);

        p.meshTemplateGuid = trigger;
        p.Resolve(true);
        EXPECT_EQ(p.meshTemplate, nullptr);
        EXPECT_EQ(meshTemplate->GetUseCount(), 0u);
        EXPECT_EQ(triggerTemplate->GetUseCount(), 0u);

        p.meshTemplateGuid = mesh;
        p.meshTemplateGuid.bytes[0] = 9;  // names no template
        p.Resolve(true);
        EXPECT_EQ(p.meshTemplate, nullptr);

        p.meshTemplateGuid = mesh;
        p.Resolve(true);
    }
    EXPECT_EQ(meshTemplate->GetUseCount(), 0u);  // the destructor releases it
}

TEST_F(ParticleResolveTest, RefreshAllShadersReachesEveryLiveDefinition) {
    const SimpleGUID mesh = Register(1, 3);
    const uint32_t before = ParticleSystem::LiveCount();
    auto a = std::make_unique<ParticleSystem>();
    auto b = std::make_unique<ParticleSystem>();
    auto c = std::make_unique<ParticleSystem>();
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 3);
    for (ParticleSystem* p : {a.get(), b.get(), c.get()}) p->meshTemplateGuid = mesh;
    b.reset();  // unlinked from the middle
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 2);
    ParticleSystem::RefreshAllShaders();
    EXPECT_EQ(a->meshTemplate, templates[0].get());
    EXPECT_EQ(c->meshTemplate, templates[0].get());
    EXPECT_EQ(templates[0]->GetUseCount(), 2u);
    a.reset();
    c.reset();
    EXPECT_EQ(templates[0]->GetUseCount(), 0u);
    EXPECT_EQ(ParticleSystem::LiveCount(), before);
}

}  // namespace
