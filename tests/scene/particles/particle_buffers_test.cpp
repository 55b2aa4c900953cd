// The particle runtime's device objects on the recording device: the instance vertex
// buffer written as a ring (no-overwrite locks, a discard on wrap, reuse within a
// generation, the cursor rounded to 32 bytes) and the count cap of an overfull draw.
#include <gtest/gtest.h>

#include <vector>

#include "render/RenderTestSupport.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"

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
