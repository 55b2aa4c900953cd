// test-sources: ../../engine/NumpyReference.cpp
// Particle systems. Definitions: the property list against the independent writer, the
// shader option text, resolving a mesh template by GUID, and the list of live definitions
// that RefreshAllShaders walks. The runtime on the render thread's side, run inline: the
// ring's packing and wrap, integration in world and local space, pausing and the pause
// ring, spawning (first particle, off-screen fade, cap and budget, spawn factor),
// rebasing, the box mailbox, the instance data layouts and the shared spawners; and random
// frames of births, deaths, moves and destructions against the float32 model
// particle_ref.py. The device objects on the recording device: the instance vertex buffer
// written as a ring (no-overwrite locks, a discard on wrap, reuse within a generation, the
// cursor rounded to 32 bytes) and the count cap of an overfull draw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/RenderTestSupport.h"
#include "scene/particles/ParticleSpawner.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"

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

// ---- The runtime ----

namespace {

constexpr uint32_t kQuality = 3;

class ParticleRuntimeTest : public ::testing::Test {
protected:
    void Init(uint32_t size, uint32_t perSystem = 65536, bool pausing = true, float multiplier = 1.0f) {
        ParticleSystemInstance::InitGlobals({size, perSystem, pausing, multiplier});
        for (uint32_t i = 0; i < 4; ++i) ParticleSystemInstance::Generator(i).SetState(1234 + i);
    }
    void SetUp() override {
        def.spawnRate = 10.0f;
        def.lifeTime = 1.0f;
        def.initialVelocity = Vector{0.0f, 0.0f, 0.0f, 0.0f};
        def.initialVelocityVar = Vector{0.0f, 0.0f, 0.0f, 0.0f};
    }
    void TearDown() override {
        for (ParticleSystemInstance* i : instances) i->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
        ParticleSystemInstance::ReleaseGlobals();
    }
    ParticleSystemInstance* Make(uint32_t flags = 0, const Matrix& world = Matrix::IDENTITY) {
        auto* inst = new ParticleSystemInstance(def, world, flags);
        EntityTemplate* mesh = nullptr;
        inst->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
        instances.push_back(inst);
        return inst;
    }
    void Destroy(ParticleSystemInstance* inst) {
        std::erase(instances, inst);
        inst->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
    }
    static void Step(float dt) { ParticleSystemInstance::UpdateAll(dt, dt, dt, kQuality); }
    static std::vector<ParticleRecord> Run(const ParticleSystemInstance& inst) {
        std::vector<ParticleRecord> out;
        const ParticleRecord* ring = ParticleSystemInstance::Ring();
        for (uint32_t i = 0; i < inst.Count(); ++i)
            out.push_back(ring[(inst.RunStart() + i) % ParticleSystemInstance::RingSize()]);
        return out;
    }

    ParticleSystem def;
    std::vector<ParticleSystemInstance*> instances;
};

TEST_F(ParticleRuntimeTest, StartingEmitsOneParticleAtOnceAndTinyRatesNeverStart) {
    Init(64);
    const struct {
        float rate;
        bool starts;
        uint32_t count;
    } cases[] = {{10.0f, true, 1}, {0.001f, false, 0}, {0.0f, false, 0}, {0.0011f, true, 1}};
    for (const auto& c : cases) {
        def.spawnRate = c.rate;
        def.lifeTime = 5000.0f;
        ParticleSystemInstance* inst = Make();
        inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        EXPECT_EQ(inst->IsSpawning(), c.starts) << c.rate;
        Step(0.0f);
        EXPECT_EQ(inst->Count(), c.count) << c.rate;
        Destroy(inst);
    }
}

TEST_F(ParticleRuntimeTest, GravityUnderTheWorldScaleInWorldAndLocalSpace) {
    Init(64);
    Matrix world;
    world.LoadScale(2.0f, 2.0f, 2.0f);
    world.r[3] = Vector{5.0f, 6.0f, 7.0f, 1.0f};
    def.globalGravity = Vector{0.0f, -10.0f, 0.0f, 0.0f};
    def.localGravity = Vector{1.0f, 0.0f, 0.0f, 0.0f};
    def.velocityDamping = 0.5f;
    def.lifeTime = 100.0f;
    const struct {
        bool local;
        Vector g;
        Vector p0;
    } cases[] = {{false, {4.0f, -20.0f, 0.0f, 0.0f}, {5.0f, 6.0f, 7.0f, 0.0f}},
                 {true, {2.0f, -10.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}}};
    for (const auto& c : cases) {
        def.localSpace = c.local;
        ParticleSystemInstance* inst = Make(0, world);
        inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        Step(0.0f);
        inst->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
        ASSERT_EQ(inst->Count(), 1u);
        Step(0.5f);
        const ParticleRecord r = Run(*inst)[0];
        const float d = std::pow(0.5f, 0.5f);
        for (int i = 0; i < 3; ++i) {
            const float v = (0.0f + c.g[i] * 0.5f) * d;
            EXPECT_FLOAT_EQ(r.velocity[i], v) << c.local << i;
            EXPECT_FLOAT_EQ(r.position[i], c.p0[i] + v * 0.5f) << c.local << i;
        }
        Destroy(inst);
    }
}

TEST_F(ParticleRuntimeTest, UndrawnInstancesPauseAndComeBackWithTheGapClosed) {
    Init(256);
    def.lifeTime = 1000.0f;
    def.spawnRate = 40.0f;
    ParticleSystemInstance* a = Make(kParticleFlagPausing);
    ParticleSystemInstance* b = Make(kParticleFlagPausing);
    ParticleSystemInstance* c = Make(kParticleFlagPausing);
    for (ParticleSystemInstance* i : {a, b, c}) i->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.1f);
    for (ParticleSystemInstance* i : {a, b, c}) {
        i->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
        i->MarkDrawn();
    }
    const std::vector<ParticleRecord> keptC = Run(*c);
    ASSERT_GT(keptC.size(), 0u);
    // Drawn at frame 1: frames 2 to 4 keep it live, frame 5 pauses it.
    for (int f = 0; f < 3; ++f) Step(0.1f);
    EXPECT_FALSE(a->IsPaused());
    Step(0.1f);
    EXPECT_TRUE(a->IsPaused() && b->IsPaused() && c->IsPaused());
    EXPECT_EQ(ParticleSystemInstance::LiveCount(), 0u);
    EXPECT_EQ(ParticleSystemInstance::PausedCount(), a->Count() + b->Count() + c->Count());
    // Destroying a paused instance closes its gap; drawing one brings it back.
    const uint32_t bCount = b->Count();
    Destroy(a);
    EXPECT_EQ(b->PausedStart(), 0u);
    EXPECT_EQ(c->PausedStart(), bCount);
    c->MarkDrawn();
    Step(0.1f);
    EXPECT_FALSE(c->IsPaused());
    EXPECT_EQ(ParticleSystemInstance::PausedCount(), bCount);
    EXPECT_EQ(ParticleSystemInstance::LiveCount(), c->Count());
    const std::vector<ParticleRecord> back = Run(*c);
    ASSERT_EQ(back.size(), keptC.size());
    EXPECT_EQ(std::memcmp(back.data(), keptC.data(), back.size() * sizeof(ParticleRecord)), 0);
}

TEST_F(ParticleRuntimeTest, WithoutParticlePausingNothingPauses) {
    Init(64, 65536, false);
    def.lifeTime = 1000.0f;
    ParticleSystemInstance* a = Make(kParticleFlagPausing);
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    for (int f = 0; f < 10; ++f) Step(0.1f);
    EXPECT_FALSE(a->IsPaused());
    EXPECT_EQ(ParticleSystemInstance::LiveCount(), a->Count());
}

TEST_F(ParticleRuntimeTest, OffscreenFadeLowersTheRateTo30PercentFrom3To8Seconds) {
    Init(400000, 400000);
    def.spawnRate = 1000.0f;
    def.lifeTime = 1000.0f;
    ParticleSystemInstance* a = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.0f);
    const struct {
        int frame;  // frames of 0.1 s since the last draw
        int born;
    } cases[] = {{30, 100}, {55, 65}, {80, 30}, {100, 30}};
    int frame = 0;
    for (const auto& c : cases) {
        while (frame < c.frame - 1) {
            Step(0.1f);
            ++frame;
        }
        const uint32_t before = a->Count();
        Step(0.1f);
        ++frame;
        EXPECT_NEAR(static_cast<int>(a->Count() - before), c.born, 1) << c.frame;
    }
}

TEST_F(ParticleRuntimeTest, SpawnFactorFollowsQualityFillAndTheProjectMultiplier) {
    const struct {
        uint32_t quality;
        float multiplier;
        float factor;
    } cases[] = {{0, 1.0f, 0.4f}, {1, 1.0f, 0.6f}, {2, 1.0f, 0.8f}, {3, 1.0f, 1.0f}, {7, 1.0f, 1.0f}, {3, 2.0f, 2.0f}};
    for (const auto& c : cases) {
        Init(64, 65536, true, c.multiplier);
        ParticleSystemInstance::UpdateAll(0.1f, 0.1f, 0.1f, c.quality);
        EXPECT_FLOAT_EQ(ParticleSystemInstance::SpawnFactor(), c.factor) << c.quality;
    }
    // A ring about 90 % full: free / size x 5.
    Init(100);
    def.spawnRate = 900.0f;
    def.lifeTime = 1000.0f;
    ParticleSystemInstance* a = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.1f);
    ASSERT_GT(a->Count(), 80u);
    ASSERT_LT(a->Count(), 99u);
    a->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
    Step(0.0f);
    EXPECT_FLOAT_EQ(ParticleSystemInstance::SpawnFactor(), static_cast<float>(100 - a->Count()) / 100.0f * 5.0f);
}

TEST_F(ParticleRuntimeTest, AFullRingSpawnsNothingAndTheBudgetShrinks) {
    Init(64);
    def.spawnRate = 10000.0f;
    def.lifeTime = 1000.0f;
    ParticleSystemInstance* a = Make();
    ParticleSystemInstance* b = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    b->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.1f);
    // a takes the budget minus one; b the rest minus one.
    EXPECT_EQ(a->Count(), 63u);
    EXPECT_EQ(b->Count(), 0u);
    for (int f = 0; f < 5; ++f) {
        Step(0.1f);
        EXPECT_LE(ParticleSystemInstance::LiveCount(), 64u);
        EXPECT_EQ(a->Count() + b->Count(), ParticleSystemInstance::LiveCount());
    }
}

TEST_F(ParticleRuntimeTest, NegativeSpeedFreezesAndRebasingKeepsAges) {
    Init(64);
    def.spawnRate = 1.0f;
    def.lifeTime = 1000.0f;
    ParticleSystemInstance* a = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.0f);
    a->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
    ASSERT_EQ(a->Count(), 1u);
    const float speed = -1.0f;
    a->ExecuteCommand(PARTICLE_CMD_SET_SPEED, &speed);
    const float frozen = a->Now();
    Step(1.0f);
    EXPECT_EQ(a->Now(), frozen);
    const float one = 1.0f;
    a->ExecuteCommand(PARTICLE_CMD_SET_SPEED, &one);
    // The particle keeps its 1000 s; the rebase keeps only the new longest lifetime.
    a->SetLifetimeMultiplier(0.001f);

    bool rebased = false;
    float lastNow = a->Now();
    float lastAge = lastNow - Run(*a)[0].spawnTime;
    for (int f = 0; f < 200; ++f) {
        Step(1.0f);
        const ParticleRecord r = Run(*a)[0];
        const float now = a->Now();
        if (now < lastNow) rebased = true;
        EXPECT_NEAR(now - r.spawnTime, lastAge + 1.0f, 1e-3f) << f;
        EXPECT_NEAR(r.deathTime - r.spawnTime, 1000.0f, 1e-3f);
        lastAge = now - r.spawnTime;
        lastNow = now;
    }
    EXPECT_TRUE(rebased);
}

TEST_F(ParticleRuntimeTest, TheBoxReachesTheMainThreadOncePerPublication) {
    Init(64);
    def.emitterSize = Vector{1.0f, 2.0f, 3.0f, 0.0f};
    def.lifeTime = 1000.0f;
    Matrix world = Matrix::IDENTITY;
    world.r[3] = Vector{10.0f, 0.0f, 0.0f, 1.0f};
    ParticleSystemInstance* a = Make(0, world);
    BoundingBox4 box;
    EXPECT_FALSE(a->FetchBoundingBox(&box));
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    // No particle yet: nothing is published (the point at the origin is no box of this
    // emitter, and an owner culled by it would never be drawn again).
    Step(0.0f);
    EXPECT_FALSE(a->FetchBoundingBox(&box));
    Step(0.0f);
    ASSERT_TRUE(a->FetchBoundingBox(&box));
    // The smoothed box starts from the first real box: the particle widened by the emitter.
    const ParticleRecord r = Run(*a)[0];
    EXPECT_FLOAT_EQ(box.min.x, r.position[0] - 1.0f);
    EXPECT_FLOAT_EQ(box.max.z, r.position[2] + 3.0f);
    EXPECT_FALSE(a->FetchBoundingBox(&box));
    Step(0.0f);  // the slot is refilled once taken
    EXPECT_TRUE(a->FetchBoundingBox(&box));
    EXPECT_FALSE(a->FetchBoundingBox(&box));
}

TEST_F(ParticleRuntimeTest, InstanceDataLayoutsAndReversedSort) {
    Init(64);
    def.spawnRate = 30.0f;
    def.lifeTime = 1000.0f;
    def.initialVelocity = Vector{1.0f, 2.0f, 3.0f, 0.0f};
    const struct {
        uint32_t face;
        uint32_t sort;
        uint32_t stride;
    } cases[] = {{3, 0, 20}, {3, 1, 20}, {4, 0, 32}, {5, 1, 32}};
    for (const auto& c : cases) {
        def.faceCameraMode = c.face;
        def.sortMode = c.sort;
        ParticleSystemInstance* a = Make();
        a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        Step(0.1f);
        Step(0.0f);
        const std::vector<ParticleRecord> run = Run(*a);
        ASSERT_GE(run.size(), 2u);
        std::vector<uint8_t> out(a->InstanceDataSize());
        ASSERT_EQ(a->WriteInstanceData(out.data()), run.size() * c.stride);
        for (size_t i = 0; i < run.size(); ++i) {
            const ParticleRecord& r = run[c.sort == 1 ? run.size() - 1 - i : i];
            float f[4];
            uint32_t bits;
            std::memcpy(f, &out[i * c.stride], 16);
            std::memcpy(&bits, &out[i * c.stride + c.stride - 4], 4);
            EXPECT_EQ(f[0], r.position[0]);
            EXPECT_EQ(f[3], (a->Now() - r.spawnTime) * r.inverseLifetime);
            EXPECT_EQ(bits, r.randomBits);
            if (c.stride == 32) {
                float v[3];
                std::memcpy(v, &out[i * c.stride + 16], 12);
                EXPECT_EQ(v[2], r.velocity[2]);
            }
        }
        Destroy(a);
    }
}

TEST_F(ParticleRuntimeTest, WorldSpawnersFollowTheEmitterAndLocalOnesStayUntransformed) {
    Init(256);
    def.spawnRate = 100.0f;
    def.lifeTime = 1000.0f;
    Matrix moved = Matrix::IDENTITY;
    moved.r[3] = Vector{10.0f, 0.0f, 0.0f, 1.0f};
    for (bool local : {false, true}) {
        def.localSpace = local;
        ParticleSystemInstance* a = Make();
        a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        Step(0.0f);
        const uint32_t first = a->Count();
        a->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &moved);
        Step(0.1f);
        const std::vector<ParticleRecord> run = Run(*a);
        ASSERT_GT(run.size(), first + 2);
        const uint32_t n = static_cast<uint32_t>(run.size()) - first;
        for (uint32_t i = 0; i < n; ++i) {
            const float x = run[first + i].position[0];
            EXPECT_FLOAT_EQ(x, local ? 0.0f : 10.0f * static_cast<float>(i + 1) / static_cast<float>(n)) << i;
        }
        Destroy(a);
    }
}

TEST_F(ParticleRuntimeTest, EmitterBoxAndCircleVelocity) {
    Init(4096, 4096);
    def.spawnRate = 1000.0f;
    def.lifeTime = 1000.0f;
    def.emitterSize = Vector{1.0f, 2.0f, 3.0f, 0.0f};
    def.circleVelocityEnabled = true;
    def.circleVelocityConst = 5.0f;
    def.circleVelocityVar = 1.0f;
    const struct {
        float yaw;
    } cases[] = {{0.0f}, {180.0f}};
    for (const auto& c : cases) {
        def.circleVelocityYawRange = c.yaw;
        def.circleVelocityPitchRange = 0.0f;
        ParticleSystemInstance* a = Make();
        a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        Step(0.5f);
        a->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
        Step(0.0f);
        const std::vector<ParticleRecord> run = Run(*a);
        ASSERT_GT(run.size(), 100u);
        bool negX = false, posX = false, negZ = false;
        for (const ParticleRecord& r : run) {
            // Moved by velocity x age, so the box test uses the birth place.
            const float s = std::sqrt(r.velocity[0] * r.velocity[0] + r.velocity[2] * r.velocity[2]);
            EXPECT_GE(s, 4.0f - 1e-4f);
            EXPECT_LE(s, 6.0f + 1e-4f);
            EXPECT_NEAR(r.velocity[1], 0.0f, 1e-5f);
            if (c.yaw == 0.0f) {
                EXPECT_NEAR(r.velocity[0], 0.0f, 1e-4f);
            }
            negX |= r.velocity[0] < -1.0f;
            posX |= r.velocity[0] > 1.0f;
            negZ |= r.velocity[2] < -1.0f;
            const float age = a->Now() - r.spawnTime;
            EXPECT_LE(std::fabs(r.position[1] - r.velocity[1] * age), 2.0f + 1e-3f);
        }
        if (c.yaw == 180.0f) {
            EXPECT_TRUE(negX && posX && negZ);
        }
        Destroy(a);
    }
}

TEST_F(ParticleRuntimeTest, TheFirstGeneratorGivesLifetimeAndBitsTheOthersOneAxisEach) {
    Init(64);
    def.localSpace = true;
    def.lifeTime = 2.0f;
    def.lifeTimeVar = 1.0f;
    def.emitterSize = Vector{1.0f, 2.0f, 3.0f, 0.0f};
    def.initialVelocityVar = Vector{4.0f, 5.0f, 6.0f, 0.0f};
    ParticleSystemInstance* a = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    uint32_t s[4] = {0x1234567u, 0x89abcdefu, 0x2468ace0u, 0x13579bdfu};
    for (uint32_t g = 0; g < 4; ++g) ParticleSystemInstance::Generator(g).SetState(s[g]);
    Step(0.0f);  // the one particle of the start, of age 0
    ASSERT_EQ(a->Count(), 1u);
    auto fraction = [&s](uint32_t g) {
        const uint32_t out = s[g] >> 16;
        s[g] = s[g] * 214013u + 2531011u;
        return static_cast<float>(out) / 65536.0f;
    };
    const ParticleRecord r = Run(*a)[0];
    const float life = fraction(0) * 2.0f + 1.0f;
    EXPECT_FLOAT_EQ(r.inverseLifetime, 1.0f / life);
    EXPECT_EQ(r.randomBits, static_cast<uint32_t>(fraction(0) * 65536.0f));
    const float size[3] = {1.0f, 2.0f, 3.0f}, var[3] = {4.0f, 5.0f, 6.0f};
    float position[3];
    for (uint32_t c = 0; c < 3; ++c) position[c] = -size[c] + fraction(1 + c) * 2.0f * size[c];
    for (uint32_t c = 0; c < 3; ++c) {
        EXPECT_FLOAT_EQ(r.position[c], position[c]) << c;
        EXPECT_FLOAT_EQ(r.velocity[c], -var[c] + fraction(1 + c) * 2.0f * var[c]) << c;
    }
}

TEST_F(ParticleRuntimeTest, MeshParticlesStartAtRandomAnglesAboutBothAxes) {
    Init(256);
    def.spawnRate = 100.0f;
    for (float& size : def.nodeSize) size = 1.0f;
    ParticleSystemInstance* a = Make();
    a->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    Step(0.5f);
    const std::vector<ParticleRecord> run = Run(*a);
    ASSERT_GT(run.size(), 40u);
    // Without rotation speeds the third axis is (sin a sin b, -cos a sin b, cos b): its z
    // varies only with the second start angle.
    std::vector<float> z;
    for (const ParticleRecord& r : run) {
        float out[16];
        a->BuildMeshRecord(r, a->Now(), out);
        z.push_back(out[10]);
    }
    std::sort(z.begin(), z.end());
    EXPECT_GT(std::unique(z.begin(), z.end()) - z.begin(), 20);
}

TEST(ParticleInstanceValues, FromTheDefinition) {
    ParticleSystem def;
    def.textureFramesX = 0;
    def.textureFramesY = 3;
    def.lifeTime = 0.5f;
    def.lifeTimeVar = 0.75f;
    def.nodeTime[1] = 0.1f;
    def.nodeTime[2] = 0.1f;
    def.circleVelocityYawRange = 90.0f;
    ParticleSystemInstance inst(def, Matrix::IDENTITY, 0);
    EXPECT_EQ(inst.textureFrames[0], 1.0f);  // 0 frames count as 1
    EXPECT_FLOAT_EQ(inst.textureFrames[1], 1.0f / 3.0f);
    EXPECT_EQ(inst.textureFrames[2], 3.0f);
    EXPECT_EQ(inst.shortestLifetime, 0.0001f);
    EXPECT_EQ(inst.lifetimeSpread, 1.5f);
    EXPECT_EQ(inst.nodeReciprocalSpan[1], 0.0f);  // a zero span stores 0
    EXPECT_FLOAT_EQ(inst.nodeReciprocalSpan[0], 10.0f);
    EXPECT_EQ(inst.nodeReciprocalSpan[3], 1.0f);
    EXPECT_FLOAT_EQ(inst.circleYawRange, 1.5707964f);
}

}  // namespace

namespace {

struct Tracked {
    ParticleSystemInstance* inst;
    std::vector<ParticleRecord> records;  // after the last frame (live or paused)
    bool paused;
};

bool SameRecord(const ParticleRecord& a, const ParticleRecord& b) {
    return a.spawnTime == b.spawnTime && a.deathTime == b.deathTime && a.randomBits == b.randomBits;
}

}  // namespace

// Random births, deaths, pauses, returns and destructions on a 64-particle ring: after
// every frame the live runs are packed behind each other in list order from the first
// run start, the paused runs likewise from 0 in the pause ring, the counts add up, and
// every instance keeps exactly its survivors, in order, ahead of its new particles.
TEST_F(ParticleRuntimeTest, RandomFramesKeepTheRingsPacked) {
    Init(64);
    RandomGenerator rng;
    rng.SetState(99);
    auto pick = [&](uint32_t n) { return rng.Next() % n; };
    std::vector<Tracked> tracked;
    uint32_t checkedSurvivors = 0, sawPaused = 0, sawWrap = 0;
    for (int frame = 0; frame < 10000; ++frame) {
        // Actions of the main side.
        const uint32_t action = pick(20);
        if (action == 0 && tracked.size() < 8) {
            def.spawnRate = static_cast<float>(1 + pick(200));
            def.lifeTime = 0.05f + static_cast<float>(pick(100)) * 0.01f;
            def.lifeTimeVar = static_cast<float>(pick(3)) * 0.02f;
            ParticleSystemInstance* inst = Make(pick(2) ? kParticleFlagPausing : 0);
            inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
            tracked.push_back({inst, {}, false});
        } else if (action == 1 && !tracked.empty()) {
            const uint32_t i = pick(static_cast<uint32_t>(tracked.size()));
            Destroy(tracked[i].inst);
            tracked.erase(tracked.begin() + i);
        } else if (action == 2 && !tracked.empty()) {
            ParticleSystemInstance* inst = tracked[pick(static_cast<uint32_t>(tracked.size()))].inst;
            inst->ExecuteCommand(pick(2) ? PARTICLE_CMD_START_SPAWNING : PARTICLE_CMD_STOP_SPAWNING, nullptr);
        }
        for (Tracked& t : tracked)
            if (pick(4) != 0) t.inst->MarkDrawn();

        const float dt = static_cast<float>(pick(40)) * 0.001f;
        Step(dt);

        // The live list: packed runs from the first run start.
        uint32_t expect = ParticleSystemInstance::FirstRunStart();
        uint32_t sum = 0;
        for (ParticleSystemInstance* i = ParticleSystemInstance::FirstLive(); i; i = i->NextLive()) {
            ASSERT_FALSE(i->IsPaused()) << frame;
            ASSERT_EQ(i->RunStart(), expect) << frame;
            if (i->RunStart() + i->Count() > 64) ++sawWrap;
            expect = (expect + i->Count()) % 64;
            sum += i->Count();
        }
        ASSERT_EQ(sum, ParticleSystemInstance::LiveCount()) << frame;
        // The pause ring: runs packed from 0.
        uint32_t pausedSum = 0;
        for (const Tracked& t : tracked)
            if (t.inst->IsPaused()) pausedSum += t.inst->Count();
        ASSERT_EQ(pausedSum, ParticleSystemInstance::PausedCount()) << frame;
        ASSERT_LE(sum + pausedSum, 64u) << frame;

        for (Tracked& t : tracked) {
            std::vector<ParticleRecord> now;
            if (t.inst->IsPaused()) {
                ++sawPaused;
                ASSERT_LE(t.inst->PausedStart() + t.inst->Count(), ParticleSystemInstance::PausedCount());
                const ParticleRecord* p = ParticleSystemInstance::PauseRing() + t.inst->PausedStart();
                now.assign(p, p + t.inst->Count());
                // Paused: exactly what it had.
                if (t.paused) {
                    ASSERT_EQ(now.size(), t.records.size()) << frame;
                }
            } else {
                now = Run(*t.inst);
                // Survivors first, in order; then particles born after them.
                const float instNow = t.inst->Now();
                size_t k = 0;
                for (const ParticleRecord& r : t.records) {
                    if (!(r.deathTime > instNow)) continue;
                    ASSERT_LT(k, now.size()) << frame;
                    ASSERT_TRUE(SameRecord(now[k], r)) << frame;
                    ++k;
                    ++checkedSurvivors;
                }
                for (; k < now.size(); ++k)
                    if (!t.records.empty()) {
                        ASSERT_GE(now[k].spawnTime, t.records.back().spawnTime) << frame;
                    }
            }
            t.records = now;
            t.paused = t.inst->IsPaused();
        }
    }
    EXPECT_GT(checkedSurvivors, 10000u);
    EXPECT_GT(sawPaused, 100u);
    EXPECT_GT(sawWrap, 100u);
}

TEST(ParticleMeshRecords, ColourAndSizeOverLifeAndVelocityAlignment) {
    ParticleSystem def;
    def.faceCameraMode = PARTICLE_FACE_VELOCITY_NORMAL;
    def.nodeSize[0] = 1.0f;
    def.nodeSize[1] = 2.0f;
    def.nodeSize[2] = 2.0f;
    def.nodeSize[3] = 4.0f;
    def.nodeTime[1] = 0.25f;
    def.nodeTime[2] = 0.5f;
    ParticleSystemInstance inst(def, Matrix::IDENTITY, 0);
    // Normalised age -> size: 0 and 0.125 on the first span, the plateau, the last span.
    const struct {
        float t, size;
    } cases[] = {{0.0f, 1.0f}, {0.125f, 1.5f}, {0.3f, 2.0f}, {0.75f, 3.0f}, {1.0f, 4.0f}, {2.0f, 4.0f}};
    for (const auto& c : cases) {
        Vector colour;
        float size;
        inst.NodeValues(c.t, &colour, &size);
        EXPECT_FLOAT_EQ(size, c.size) << c.t;
    }
    ParticleRecord p{};
    p.spawnTime = 0.0f;
    p.inverseLifetime = 1.0f;
    p.position[0] = 7.0f;
    p.velocity[0] = 3.0f;  // along +X
    float out[16];
    inst.BuildMeshRecord(p, 0.75f, out);
    // Columns: forward (row 2 of the matrix) along +X, scaled by the size 3; translation 7.
    EXPECT_NEAR(out[2], 3.0f, 1e-5f);
    EXPECT_NEAR(out[6], 0.0f, 1e-5f);
    EXPECT_EQ(out[3], 7.0f);
    // At rest: the local +Z.
    p.velocity[0] = 0.0f;
    inst.BuildMeshRecord(p, 0.75f, out);
    EXPECT_NEAR(out[10], 3.0f, 1e-5f);
    EXPECT_FALSE(std::isnan(out[0]));
    // A zero span stores 0 and holds the node.
    def.nodeTime[2] = 0.25f;
    ParticleSystemInstance flat(def, Matrix::IDENTITY, 0);
    Vector colour;
    float size;
    flat.NodeValues(0.25f, &colour, &size);
    EXPECT_FALSE(std::isnan(size));
}

// Random frames against the model: ring contents (bit for bit), counts and run starts
// after every frame, with world- and local-space systems, moves, starts, stops,
// destructions, a ring that wraps and fills, and the rebase after two minutes.
TEST_F(ParticleRuntimeTest, RandomFramesMatchTheFloat32Model) {
    constexpr uint32_t kRing = 64;
    ParticleSystemInstance::InitGlobals({kRing, 65536, false, 1.0f});
    const uint32_t seeds[4] = {11, 22, 33, 44};
    for (uint32_t i = 0; i < 4; ++i) ParticleSystemInstance::Generator(i).SetState(seeds[i]);
    std::ostringstream log;
    log << "G " << kRing << " " << seeds[0] << " " << seeds[1] << " " << seeds[2] << " " << seeds[3] << "\n";
    RandomGenerator rng;
    rng.SetState(2024);
    auto pick = [&](uint32_t n) { return rng.Next() % n; };
    auto value = [&](float lo, float hi) { return lo + (hi - lo) * static_cast<float>(pick(1001)) / 1000.0f; };
    auto words = [&](const Matrix& m) {
        std::string out;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) out += " " + FloatBits(m.r[r][c]);
        return out;
    };
    auto place = [&] {
        Matrix m = Matrix::IDENTITY;
        const float scale = value(0.5f, 2.0f);
        for (int i = 0; i < 3; ++i) m.r[i][i] = scale;
        m.r[3] = Vector(value(-5, 5), value(-5, 5), value(-5, 5), 1.0f);
        return m;
    };
    std::map<uint32_t, ParticleSystemInstance*> live;
    std::vector<std::string> got;
    uint32_t nextId = 0, births = 0, deaths = 0, rebases = 0;
    std::map<uint32_t, float> lastNow;
    for (int frame = 0; frame < 10000; ++frame) {
        const uint32_t action = pick(16);
        if (action == 0 && live.size() < 6) {
            def.spawnRate = value(5.0f, 120.0f);
            def.lifeTime = value(0.05f, 1.5f);
            def.lifeTimeVar = value(0.0f, 0.4f);
            def.emitterSize = Vector(value(0, 1), value(0, 1), value(0, 1), 0);
            def.initialVelocity = Vector(value(-2, 2), value(0, 3), value(-2, 2), 0);
            def.initialVelocityVar = Vector(value(0.1f, 1), value(0.1f, 1), value(0.1f, 1), 0);
            def.localSpace = pick(2) != 0;
            def.globalGravity = def.localSpace ? Vector(0, 0, 0, 0) : Vector(0, value(-10, 0), 0, 0);
            def.localGravity = Vector(value(-1, 1), value(0.5f, 2), value(-1, 1), 0);
            def.velocityDamping = value(0.2f, 1.0f);
            const Matrix m = place();
            const uint32_t id = nextId++;
            ParticleSystemInstance* inst = Make(0, m);
            live[id] = inst;
            log << "I " << id;
            for (float f : {def.spawnRate, def.lifeTime, def.lifeTimeVar, def.emitterSize.x, def.emitterSize.y,
                            def.emitterSize.z, def.initialVelocity.x, def.initialVelocity.y, def.initialVelocity.z,
                            def.initialVelocityVar.x, def.initialVelocityVar.y, def.initialVelocityVar.z,
                            def.globalGravity.x, def.globalGravity.y, def.globalGravity.z, def.localGravity.x,
                            def.localGravity.y, def.localGravity.z, def.velocityDamping})
                log << " " << FloatBits(f);
            log << " " << (def.localSpace ? 1 : 0) << words(m) << "\n";
            inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
            log << "S " << id << "\n";
        } else if (action == 1 && !live.empty() && pick(8) == 0) {
            // Rarely: instances live long enough for their rebase.
            auto it = std::next(live.begin(), pick(static_cast<uint32_t>(live.size())));
            deaths += it->second->Count();
            Destroy(it->second);
            log << "D " << it->first << "\n";
            live.erase(it);
        } else if (action == 2 && !live.empty()) {
            auto it = std::next(live.begin(), pick(static_cast<uint32_t>(live.size())));
            const bool start = pick(3) != 0;
            it->second->ExecuteCommand(start ? PARTICLE_CMD_START_SPAWNING : PARTICLE_CMD_STOP_SPAWNING, nullptr);
            log << (start ? "S " : "T ") << it->first << "\n";
        } else if (action == 3 && !live.empty()) {
            auto it = std::next(live.begin(), pick(static_cast<uint32_t>(live.size())));
            const Matrix m = place();
            it->second->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &m);
            log << "M " << it->first << words(m) << "\n";
        }
        // Mostly frame steps; now and then a long one (the rebase comes after two minutes).
        const float dt = pick(50) == 0 ? value(1.0f, 20.0f) : value(0.0f, 0.05f);
        const uint32_t before = ParticleSystemInstance::LiveCount();
        Step(dt);
        births += ParticleSystemInstance::LiveCount() > before ? ParticleSystemInstance::LiveCount() - before : 0;
        log << "U " << FloatBits(dt) << "\n";
        std::ostringstream state;
        state << ParticleSystemInstance::FirstRunStart() << " " << ParticleSystemInstance::LiveCount();
        for (ParticleSystemInstance* i = ParticleSystemInstance::FirstLive(); i; i = i->NextLive()) {
            uint32_t id = 0;
            for (const auto& [k, v] : live)
                if (v == i) id = k;
            state << " " << id << ":" << i->RunStart() << ":" << i->Count();
            // A rebase moves the time base forward: the instance's time drops.
            if (lastNow.count(id) && i->Now() < lastNow[id]) ++rebases;
            lastNow[id] = i->Now();
        }
        const ParticleRecord* ring = ParticleSystemInstance::Ring();
        for (uint32_t k = 0; k < ParticleSystemInstance::LiveCount(); ++k) {
            const ParticleRecord& r = ring[(ParticleSystemInstance::FirstRunStart() + k) % kRing];
            char bits[16];
            std::snprintf(bits, sizeof bits, "%08x", r.randomBits);
            state << " " << FloatBits(r.deathTime) << " " << FloatBits(r.spawnTime) << " "
                  << FloatBits(r.inverseLifetime) << " " << bits;
            for (int c = 0; c < 3; ++c) state << " " << FloatBits(r.position[c]);
            for (int c = 0; c < 3; ++c) state << " " << FloatBits(r.velocity[c]);
        }
        got.push_back(state.str());
    }
    const std::vector<std::string> want = RunNumpyReference("../scene/particles/particle_ref.py", log.str());
    ASSERT_EQ(want.size(), got.size());
    for (size_t f = 0; f < got.size(); ++f) {
        if (got[f] == want[f]) continue;
        // The first word that differs: 0 first run start, 1 live count, then the runs and
        // the records' ten words each.
        std::istringstream a(got[f]), b(want[f]);
        std::string x, y;
        size_t word = 0;
        while (a >> x && b >> y && x == y) ++word;
        FAIL() << "frame " << f << " word " << word << ": " << x << " against the model's " << y;
    }
    EXPECT_GT(births, 5000u);  // net increases of the live count: fewer than the births
    EXPECT_GT(rebases, 0u);
    EXPECT_GT(deaths, 0u);
}

// ---- The device objects ----

namespace {

using rendertest::RendererFixture;
using rendertest::RunOnRenderThread;

struct ParticleBuffersTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        def.lifeTime = 1000.0f;
        def.initialVelocity = Vector{0.0f, 0.0f, 0.0f, 0.0f};
        def.initialVelocityVar = Vector{0.0f, 0.0f, 0.0f, 0.0f};
    }
    void TearDown() override {
        RunOnRenderThread([this] {
            for (ParticleSystemInstance* i : instances) i->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
            ParticleSystemInstance::ReleaseDeviceBuffers();
            ParticleSystemInstance::ReleaseGlobals();
        });
        RendererFixture::TearDown();
    }
    void Init(uint32_t size) {
        RunOnRenderThread([size] {
            ParticleSystemInstance::InitGlobals({size, size, true, 1.0f});
            ParticleSystemInstance::CreateDeviceBuffers();
        });
    }
    // An instance with about n particles (face-camera mode as given).
    ParticleSystemInstance* Make(uint32_t n, uint32_t face) {
        def.spawnRate = static_cast<float>(n) * 10.0f;
        def.faceCameraMode = face;
        auto* inst = new ParticleSystemInstance(def, Matrix::IDENTITY, 0);
        instances.push_back(inst);
        RunOnRenderThread([inst] {
            EntityTemplate* mesh = nullptr;
            inst->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
            inst->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
        });
        return inst;
    }
    static void Step(float dt) {
        RunOnRenderThread([dt] { ParticleSystemInstance::UpdateAll(dt, dt, dt, 3); });
    }
    std::vector<gfx::LockRecord> InstanceLocks() {
        gVornexRenderer.FlushCommands(true);
        std::vector<gfx::LockRecord> out;
        for (const gfx::LockRecord& r : recorder->LockLog())
            if (r.flags & (gfx::LOCK_DISCARD | gfx::LOCK_NOOVERWRITE)) out.push_back(r);
        return out;
    }

    ParticleSystem def;
    std::vector<ParticleSystemInstance*> instances;
};

TEST_F(ParticleBuffersTest, InstanceDataIsARingOfNoOverwriteLocksDiscardedOnWrap) {
    Init(4096);
    ParticleSystemInstance* a = Make(10, PARTICLE_FACE_CAMERA);          // 20 bytes a particle
    ParticleSystemInstance* b = Make(10, PARTICLE_FACE_VELOCITY_ALIGN);  // 32 bytes a particle
    Step(0.1f);
    ASSERT_GT(a->Count(), 0u);
    recorder->SetLockLogging(true);
    bool ok[3] = {};
    RunOnRenderThread([&] {
        ok[0] = a->PrepareInstanceData();
        ok[1] = b->PrepareInstanceData();
        ok[2] = a->PrepareInstanceData();  // reused within the generation
    });
    EXPECT_TRUE(ok[0] && ok[1] && ok[2]);
    std::vector<gfx::LockRecord> locks = InstanceLocks();
    ASSERT_EQ(locks.size(), 2u);
    // The frame's first write discards; the next follows at the cursor rounded to 32.
    EXPECT_EQ(locks[0].flags & gfx::LOCK_DISCARD, gfx::LOCK_DISCARD);
    EXPECT_EQ(locks[0].offset, 0u);
    EXPECT_EQ(locks[0].bytes, a->Count() * 20);
    EXPECT_EQ(locks[1].flags & gfx::LOCK_NOOVERWRITE, gfx::LOCK_NOOVERWRITE);
    EXPECT_EQ(locks[1].offset, (a->Count() * 20 + 31) / 32 * 32);
    EXPECT_EQ(locks[1].bytes, b->Count() * 32);
    EXPECT_EQ(b->InstanceDataOffset(), locks[1].offset);
    EXPECT_EQ(ParticleSystemInstance::InstanceBufferCursor() % 32, 0u);

    // A new frame writes again, starting with a discard.
    recorder->ClearLockLog();
    Step(0.0f);
    RunOnRenderThread([&] { ok[0] = a->PrepareInstanceData(); });
    locks = InstanceLocks();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].flags & gfx::LOCK_DISCARD, gfx::LOCK_DISCARD);
}

TEST_F(ParticleBuffersTest, AnOverfullDrawWritesWhatFitsAndWarnsOnce) {
    Init(100000);
    ParticleSystemInstance* a = Make(7000, PARTICLE_FACE_VELOCITY_NORMAL);  // 70,000 a second
    Step(1.0f);
    ASSERT_GT(a->Count(), 65536u);
    recorder->SetLockLogging(true);
    RunOnRenderThread([&] {
        a->PrepareInstanceData();
        ParticleSystemInstance::UpdateAll(0.0f, 0.0f, 0.0f, 3);
        a->PrepareInstanceData();
    });
    const std::vector<gfx::LockRecord> locks = InstanceLocks();
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[0].bytes, kParticleInstanceBufferSize);
    EXPECT_EQ(a->InstanceDataCount(), 65536u);
    EXPECT_EQ(Lines("Particle system has").size(), 1u);
}

}  // namespace
