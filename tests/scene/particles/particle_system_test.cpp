// Particle-system definitions: the property list against the independent writer, the
// shader option text, resolving a mesh template by GUID, and the list of live
// definitions that RefreshAllShaders walks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
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
    EXPECT_EQ(p.nodeColor[0], HDRColor(255, 255, 255, 0, 1.0f));
    EXPECT_EQ(p.nodeColor[2], HDRColor(255, 255, 255, 255, 1.0f));
    EXPECT_TRUE(p.fog);
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

TEST(ParticleSystemTest, PropertyKinds) {
    const RTTIClass* cls = ParticleSystem::RegisterClass();
    struct Case {
        const char* name;
        uint32_t typeId, flags;
        const char* extra;
    };
    const Case cases[] = {
        {"Basic parameters", 0, 0, nullptr},
        {"Node 2", 1, 0, nullptr},
        {"Emitter size", 14, 64, nullptr},
        {"Anchor", 14, 0, nullptr},
        {"Texture file name", 21, kPropertyFlagFileName, "Textures"},
        {"Mesh template", 20, 4096, nullptr},
        {"Blending mode", 10, kPropertyFlagEnum, "None"},
        {"Face camera mode", 10, kPropertyFlagEnum, "Local X"},
        {"Animation mode", 10, kPropertyFlagEnum, "Random frame"},
        {"Node 3 color", 22, 0, nullptr},
    };
    for (const Case& c : cases) {
        const RTTIProperty* p = cls->FindProperty(c.name);
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p->TypeId(), c.typeId) << c.name;
        EXPECT_EQ(p->Flags(), c.flags) << c.name;
        if (c.extra) {
            EXPECT_STREQ(static_cast<const char*>(p->Extra()), c.extra) << c.name;
        }
    }
    EXPECT_EQ(cls->FindProperty("Node 0 time"), nullptr);
    EXPECT_EQ(cls->FindProperty("Node 3 time"), nullptr);
    // The blending names run to "Min", the ninth.
    const char* names = static_cast<const char*>(cls->FindProperty("Blending mode")->Extra());
    for (int i = 0; i < 8; ++i) names += std::strlen(names) + 1;
    EXPECT_STREQ(names, "Min");
}

// Each property sits in the group (and node separator) the editor shows it under; the
// binary list cannot tell, since groups and separators write nothing.
TEST(ParticleSystemTest, GroupsAndSeparators) {
    struct Place {
        const char* property;
        const char* group;
        const char* separator;
    };
    const Place places[] = {
        {"Node 0 color", "Color and size", "Node 0"}, {"Node 1 color", "Color and size", "Node 1"},
        {"Node 2 color", "Color and size", "Node 2"}, {"Node 3 color", "Color and size", "Node 3"},
        {"Node 0 size", "Color and size", "Node 0"},  {"Node 1 size", "Color and size", "Node 1"},
        {"Node 2 size", "Color and size", "Node 2"},  {"Node 3 size", "Color and size", "Node 3"},
        {"Node 1 time", "Color and size", "Node 1"},  {"Node 2 time", "Color and size", "Node 2"},
        {"Anchor", "Shape parameters", ""},           {"Shape", "Shape parameters", ""},
        {"Emitter size", "Basic parameters", ""},     {"Initial velocity", "Basic parameters", ""},
        {"Initial velocity var", "Basic parameters", ""}, {"Global gravity", "Basic parameters", ""},
        {"Local gravity", "Basic parameters", ""},    {"Blending mode", "Color and size", ""},
        {"Alpha test mode", "Color and size", ""},    {"Sort mode", "Color and size", ""},
        {"Alpha reference value", "Color and size", ""}, {"Face camera mode", "Shape parameters", ""},
        {"Random rotation at start", "Rotation parameters", ""}, {"Z buffer write", "Color and size", ""},
        {"Softness", "Color and size", ""},           {"Rotation speed", "Rotation parameters", ""},
        {"Rotation speed var", "Rotation parameters", ""}, {"Secondary rotation speed", "Rotation parameters", ""},
        {"Secondary rotation speed var", "Rotation parameters", ""}, {"Local space", "Basic parameters", ""},
        {"Life time", "Basic parameters", ""},        {"Life time variable", "Basic parameters", ""},
        {"Spawn rate", "Basic parameters", ""},       {"Velocity damping", "Basic parameters", ""},
        {"Circle velocity yaw range", "Circle velocity", ""}, {"Circle velocity pitch range", "Circle velocity", ""},
        {"Circle velocity const", "Circle velocity", ""}, {"Circle velocity var", "Circle velocity", ""},
        {"Circle velocity enabled", "Circle velocity", ""}, {"High precision mode", "iPhone specific", ""},
        {"Texture file name", "Texture parameters", ""}, {"Texture frames X", "Texture parameters", ""},
        {"Texture frames Y", "Texture parameters", ""}, {"Animation mode", "Texture parameters", ""},
        {"Desaturation factor", "Texture parameters", ""}, {"Mesh template", "Mesh parameters", ""},
        {"Shader preset", "Mesh parameters", ""},
    };
    const RTTIClass* cls = ParticleSystem::RegisterClass();
    std::vector<std::string> groups;
    std::string group, separator;
    uint32_t values = 0;
    for (uint32_t i = 0; i < cls->PropertyCount(); ++i) {
        const RTTIProperty* p = cls->PropertyAt(i);
        if (p->TypeId() == 0) {
            group = p->Name(), separator.clear();
            groups.push_back(group);
            continue;
        }
        if (p->TypeId() == 1) {
            separator = p->Name();
            continue;
        }
        ++values;
        const Place* place = nullptr;
        for (const Place& c : places)
            if (std::strcmp(c.property, p->Name()) == 0) place = &c;
        ASSERT_NE(place, nullptr) << p->Name();
        EXPECT_EQ(group, place->group) << p->Name();
        EXPECT_EQ(separator, place->separator) << p->Name();
    }
    EXPECT_EQ(values, sizeof places / sizeof places[0]);
    const std::vector<std::string> order = {"Basic parameters",    "Circle velocity",    "Shape parameters",
                                            "Rotation parameters", "Texture parameters", "Mesh parameters",
                                            "Color and size",      "iPhone specific"};
    EXPECT_EQ(groups, order);
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
