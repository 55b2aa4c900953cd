// test-sanitize: address thread
// test-timeout: 600
// Particle templates and entities on the real render thread: the template's values, the
// instance an entity's context hands over, spawning only when asked ("Spawn in game",
// StartSpawning, StopSpawning), the spawning flag kept over a template refresh, the
// pausing bit of "Offscreen processing enabled", draws skipped by their flags, the
// bounding box reaching the main thread once per publication, and 2,000 frames of twenty
// entities posted by the main thread while the render thread simulates and draws them.
// Refreshing every definition while the loader thread makes a new one: the refresh waits
// for the loader (a texture queued behind the loader's job), and the loader's job
// constructs a definition, which enters the list under its lock. The refresh holds that
// lock only to read the list, so both finish; a refresh that kept the lock while waiting
// would never return (the test gives up after 30 s).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "render/RenderTestSupport.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

struct ParticleEntityTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        RunOnRenderThread([] { ParticleSystemInstance::InitGlobals({4096, 4096, true, 1.0f}); });
    }
    void TearDown() override {
        EndScene();
        templates.clear();
        RunOnRenderThread([] { ParticleSystemInstance::ReleaseGlobals(); });
        SceneEntityFixture::TearDown();
    }
    ParticleTemplate* Kind(bool offscreen = true) {
        templates.push_back(std::make_unique<ParticleTemplate>());
        ParticleTemplate* t = templates.back().get();
        t->SetName("particles");
        t->offscreenProcessingEnabled = offscreen;
        t->definition.lifeTime = 100.0f;
        t->definition.spawnRate = 20.0f;
        return t;
    }
    ParticleEntity* Make(ParticleTemplate* t, bool spawnInGame = true) {
        Matrix m = Matrix::IDENTITY;
        m.r[3] = Vector(1, 2, 3, 1);
        Entity* made = gEntityManager->CreateEntityFromTemplate(t, nullptr, m, 0, nullptr);
        auto* e = dynamic_cast<ParticleEntity*>(made);
        EXPECT_NE(e, nullptr);
        if (e) e->spawnInGame = spawnInGame;
        return e;
    }
    static ParticleEntityRenderingContext* Context(ParticleEntity* e) {
        return static_cast<ParticleEntityRenderingContext*>(e->GetRenderingContext());
    }
    // The render side's particle count after a few updates.
    static uint32_t CountAfterUpdates(ParticleEntity* e, int frames = 3) {
        uint32_t n = 0;
        for (int i = 0; i < frames; ++i) {
            gVornexRenderer.FlushCommands(true);
            RunOnRenderThread([&] {
                ParticleSystemInstance::UpdateAll(0.1f, 0.1f, 0.1f, 3);
                ParticleSystemInstance* inst = Context(e)->RenderInstance();
                n = inst ? inst->Count() : 0;
            });
        }
        return n;
    }

    std::vector<std::unique_ptr<ParticleTemplate>> templates;
};

// Particle entities take their box from the render side (0x100) whatever their owner submits.
TEST_F(ParticleEntityTest, TheEntityEnforcesTheRenderSideBox) {
    ParticleEntity e;
    EXPECT_EQ(e.GetEnforcedRenderingFlags() & 0x120u, 0x120u);
}

TEST_F(ParticleEntityTest, SpawnsOnlyWhenAsked) {
    // Game entry spawns with "Spawn in game" only; the second entity goes on without.
    ParticleTemplate* t = Kind();
    ParticleEntity* e = nullptr;
    for (const bool spawnInGame : {true, false}) {
        e = Make(t, spawnInGame);
        ASSERT_TRUE(e);
        e->InitTriggerActivation();
        EXPECT_EQ(e->IsSpawning(), spawnInGame);
        EXPECT_EQ(e->PlayMode(), 1u);
        EXPECT_EQ(CountAfterUpdates(e) > 0, spawnInGame);
    }
    e->StartSpawning();
    const uint32_t spawned = CountAfterUpdates(e);
    EXPECT_GT(spawned, 0u);
    e->StopSpawning();
    EXPECT_EQ(CountAfterUpdates(e), spawned);  // long-lived: none die, none come

    // The flag survives a template refresh, which gives a fresh, empty instance.
    e->StartSpawning();
    gVornexRenderer.FlushCommands(true);
    ParticleSystemInstance* before = nullptr;
    RunOnRenderThread([&] { before = Context(e)->RenderInstance(); });
    t->OnPropertyChanged("Spawn rate");
    EXPECT_TRUE(e->IsSpawning());
    const uint32_t fresh = CountAfterUpdates(e, 1);
    ParticleSystemInstance* after = nullptr;
    RunOnRenderThread([&] { after = Context(e)->RenderInstance(); });
    EXPECT_NE(before, after);
    EXPECT_GT(fresh, 0u);
    EXPECT_LT(fresh, spawned);
}

// An entity's speed and lifetime multipliers reach the instance the render side
// simulates and draws: speed scales the simulated time (0 freezes it, so nothing spawns),
// and the lifetime multiplier is handed over, again after a template refresh.
TEST_F(ParticleEntityTest, SpeedAndLifetimeMultipliersReachTheRenderSide) {
    ParticleTemplate* t = Kind();
    const float speeds[] = {1.0f, 0.0f, 3.0f};
    std::vector<ParticleEntity*> entities;
    for (float speed : speeds) {
        ParticleEntity* e = Make(t);
        ASSERT_TRUE(e);
        e->InitTriggerActivation();
        e->SetSpeedMultiplier(speed);
        e->SetLifetimeMultiplier(0.25f * (1.0f + speed));
        entities.push_back(e);
    }
    uint32_t counts[3] = {}, firstCounts[3] = {};
    float lifetimes[3] = {};
    for (int frame = 0; frame < 4; ++frame) {
        if (frame == 1) std::copy(counts, counts + 3, firstCounts);
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] {
            ParticleSystemInstance::UpdateAll(0.1f, 0.1f, 0.1f, 3);
            for (size_t i = 0; i < entities.size(); ++i) {
                ParticleSystemInstance* inst = Context(entities[i])->RenderInstance();
                counts[i] = inst ? inst->Count() : 0;
                lifetimes[i] = inst ? inst->lifetimeMultiplier : 0.0f;
            }
        });
    }
    // Frozen at speed 0 (a start may place one particle); three times as many new ones
    // at speed 3 as at speed 1.
    EXPECT_GT(counts[0], firstCounts[0]);
    EXPECT_EQ(counts[1], firstCounts[1]);
    EXPECT_GE(counts[2] - firstCounts[2], 2 * (counts[0] - firstCounts[0])) << counts[2] << " " << counts[0];
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(lifetimes[i], 0.25f * (1.0f + speeds[i])) << i;
    // A refresh gives a fresh instance, which gets the entity's lifetime multiplier too.
    t->OnPropertyChanged("Spawn rate");
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        for (size_t i = 0; i < entities.size(); ++i) {
            ParticleSystemInstance* inst = Context(entities[i])->RenderInstance();
            EXPECT_EQ(inst ? inst->lifetimeMultiplier : 0.0f, 0.25f * (1.0f + speeds[i])) << i;
        }
    });
}

// Only without "Offscreen processing enabled" does an undrawn instance pause; a draw keeps
// it live, unless the draw flags have 0x01 or 0x10 (skipped).
TEST_F(ParticleEntityTest, UndrawnInstancesPauseWithoutOffscreenProcessing) {
    constexpr int kNoDraw = -1;
    const struct {
        bool offscreen;
        int drawFlags;
        bool paused;
    } cases[] = {{true, kNoDraw, false}, {false, kNoDraw, true}, {false, 0x00, false},
                 {false, 0x01, true},    {false, 0x10, true},    {false, 0x02, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offscreen << " " << c.drawFlags);
        ParticleEntity* e = Make(Kind(c.offscreen));
        ASSERT_TRUE(e);
        e->InitTriggerActivation();
        for (int i = 0; i < 6; ++i) {
            gVornexRenderer.FlushCommands(true);
            RunOnRenderThread([&] {
                ParticleSystemInstance::UpdateAll(0.1f, 0.1f, 0.1f, 3);
                if (c.drawFlags == kNoDraw) return;
                RenderTaskArguments a;
                a.flags = static_cast<uint32_t>(c.drawFlags);
                Context(e)->Draw(nullptr, Matrix::IDENTITY, a);
            });
        }
        bool paused = false;
        uint32_t flags = 0;
        RunOnRenderThread([&] {
            paused = Context(e)->RenderInstance()->IsPaused();
            flags = Context(e)->RenderInstance()->flags;
        });
        EXPECT_EQ(paused, c.paused);
        EXPECT_EQ((flags & kParticleFlagPausing) != 0, !c.offscreen);
        EXPECT_EQ(flags & kParticleFlagGame, kParticleFlagGame);
    }
}

TEST_F(ParticleEntityTest, TheBoxReachesTheEntityOncePerPublication) {
    ParticleEntity* e = Make(Kind());
    ASSERT_TRUE(e);
    e->InitTriggerActivation();
    EXPECT_FALSE(e->UpdateBoundingBoxFromRenderingContext());  // nothing published yet
    CountAfterUpdates(e, 1);  // the first update only spawns: no box yet
    EXPECT_FALSE(e->UpdateBoundingBoxFromRenderingContext());
    CountAfterUpdates(e, 1);
    EXPECT_TRUE(e->UpdateBoundingBoxFromRenderingContext());
    EXPECT_FALSE(e->UpdateBoundingBoxFromRenderingContext());
    // The entity keeps it local: the emitter sits at (1, 2, 3) and the particles rise.
    const BoundingBox4& local = e->GetLocalBoundingBox();
    EXPECT_LE(local.min.y, 0.5f);
    EXPECT_GE(local.max.y, 0.0f);
    EXPECT_NEAR(local.min.x + local.max.x, 0.0f, 0.5f);
    CountAfterUpdates(e, 1);
    EXPECT_TRUE(e->UpdateBoundingBoxFromRenderingContext());
    // Submitted for drawing, the entity takes the next box itself (its enforced flags).
    CountAfterUpdates(e, 1);
    e->SubmitForRendering(0);
    EXPECT_FALSE(e->UpdateBoundingBoxFromRenderingContext());
}

TEST_F(ParticleEntityTest, TwoThousandFramesWithTheMainThreadPosting) {
    ParticleTemplate* kinds[2] = {Kind(true), Kind(false)};
    kinds[1]->definition.faceCameraMode = PARTICLE_FACE_VELOCITY_ALIGN;
    std::vector<ParticleEntity*> entities;
    for (int i = 0; i < 20; ++i) {
        ParticleEntity* e = Make(kinds[i % 2]);
        ASSERT_TRUE(e);
        e->InitTriggerActivation();
        entities.push_back(e);
    }
    for (int frame = 0; frame < 2000; ++frame) {
        const RenderFrameClock clock{int64_t(frame) * 16667, 1.0f / 60.0f};
        gVornexRenderer.PostFrameParams(clock, clock, clock, 0);
        BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        for (ParticleEntity* e : entities) e->SubmitForRendering(0);
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0, 1);
        // The main thread's side meanwhile (the submits took boxes too): boxes, spawning
        // switches, speeds, replacements.
        for (ParticleEntity* e : entities) e->UpdateBoundingBoxFromRenderingContext();
        ParticleEntity* e = entities[size_t(frame) % entities.size()];
        switch (frame % 40) {
            case 0: e->StopSpawning(); break;
            case 10: e->StartSpawning(); break;
            case 20: e->SetSpeedMultiplier(0.5f + float(frame % 3)); break;
            case 30: e->RefreshAfterChange(); break;
            default: break;
        }
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        if (frame % 100 == 99) gVornexRenderer.FlushCommands(true);
    }
    gVornexRenderer.FlushCommands(true);
    // The boxes reached the entities: the particles of the untouched ones rose for 33 s.
    uint32_t risen = 0;
    for (ParticleEntity* e : entities) risen += e->GetLocalBoundingBox().max.y > 5.0f;
    EXPECT_GE(risen, 18u);
    uint32_t live = 0;
    RunOnRenderThread([&] { live = ParticleSystemInstance::LiveCount(); });
    EXPECT_GT(live, 0u);
}

// ---- Refreshing definitions while the loader makes one ----

// A loader job that makes a definition once the refresh is under way.
class DefinitionMaker : public Resource {
public:
    DefinitionMaker() : Resource("particle definition maker") {}
    uint32_t GetResourceType() const override { return RESOURCE_TEXTURE; }
    bool LoadResource() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        made = std::make_unique<ParticleSystem>();
        return true;
    }
    std::unique_ptr<ParticleSystem> made;
};

using ParticleRefreshTest = resourcetest::ResourceFixture;

TEST_F(ParticleRefreshTest, ADefinitionMadeOnTheLoaderThreadDuringARefresh) {
    ASSERT_TRUE(created);
    const uint32_t before = ParticleSystem::LiveCount();
    ParticleSystem definition;
    definition.textureFileName = NameString("SFX/absent.dds");  // queued behind the maker, then missing
    DefinitionMaker maker;
    maker.QueueLoad();
    std::future<void> refresh = std::async(std::launch::async, [] { ParticleSystem::RefreshAllShaders(); });
    if (refresh.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the refresh and the loader wait for each other";
        std::_Exit(1);  // the two threads never finish: end the program
    }
    maker.WaitUntilLoaded(false);
    ASSERT_NE(maker.made, nullptr);
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 2);
    EXPECT_NE(definition.texture, nullptr);
    maker.made.reset();
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 1);
}

}  // namespace
