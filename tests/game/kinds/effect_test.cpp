// test-sanitize: address
// The effect's state machine over its elements: an effect (SFX) element, a particle
// element, a plain element and an element whose own effect child carries no element flag,
// made by the compound from registered templates. What each step leaves behind is read
// from the elements themselves: the start-at-creation switches, the particle's spawning,
// the plain element's hidden flag, the rendering contexts, the effect element's pending
// callbacks (delayed start, box timer) and its sound element's skipped start, and the
// effect's ghost mode and state.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/ScriptScheduler.h"
#include "engine/services/GameServices.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKREffect.h"
#include "render/RenderTestSupport.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/sfx/SFXElementContexts.h"
#include "scene/sfx/SFXEntity.h"
#include "../../scene/SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

CompoundTemplateElement Element(const char* name, const char* templateName) {
    CompoundTemplateElement e;
    e.name = NameString(name);
    e.templateName = NameString(templateName);
    e.locationMatrix = Matrix::IDENTITY;
    return e;
}

// An element that makes an effect child of its own, outside the compound's element list:
// that child carries no element flag.
struct HolderEntity : Entity {
    void InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) override {
        Entity::InitFromTemplate(t, creationFlags);
        gEntityManager->CreateEntity("spark", this, Matrix::IDENTITY, creationFlags, nullptr);
    }
};
struct HolderTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new HolderEntity(); }
};

// One scheduler for every selection, on a clock that stands still.
struct StillSchedulers : GameServices {
    ScriptScheduler* SelectScheduler(uint32_t, int64_t* now) override {
        *now = 0;
        return &scheduler;
    }
    ScriptScheduler scheduler;
};

struct EffectTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        SetGameServices(&schedulers);
        RunOnRenderThread([] { ParticleSystemInstance::InitGlobals({4096, 4096, true, 1.0f}); });
        auto spark = std::make_unique<SFXTemplate>();
        spark->definition->AddElement(new SFXSoundElementDefinition());
        Register("spark", std::move(spark));
        auto particles = std::make_unique<ParticleTemplate>();
        particles->definition.lifeTime = 10.0f;
        particles->definition.spawnRate = 20.0f;
        Register("smoke", std::move(particles));
        Register("glow", std::make_unique<EntityTemplate>());
        Register("holder", std::make_unique<HolderTemplate>());
        kind.SetName("effect");
        for (const char* n : {"spark", "smoke", "glow", "holder"}) kind.elements.Add(Element(n, n));
        kind.ResolveElementTemplates();
        Entity* made = gEntityManager->CreateEntityFromTemplate(&kind, nullptr, Matrix::IDENTITY, 0, nullptr);
        effect = dynamic_cast<ZKREffectEntity*>(made);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->GetState(), EFFECT_STATE_NEW);
        gEntityManager->FinishEntityCreation(effect);
        ASSERT_EQ(effect->GetChildrenCount(), 4u);
        sfx = dynamic_cast<SFXEntity*>(effect->GetChild(0));
        particle = dynamic_cast<ParticleEntity*>(effect->GetChild(1));
        plain = effect->GetChild(2);
        ASSERT_EQ(effect->GetChild(3)->GetChildrenCount(), 1u);
        unflagged = dynamic_cast<SFXEntity*>(effect->GetChild(3)->GetChild(0));
        ASSERT_NE(sfx, nullptr);
        ASSERT_NE(particle, nullptr);
        ASSERT_NE(unflagged, nullptr);
        ASSERT_FALSE(unflagged->CheckFlag(ENTITYFLAG_COMPOUNDELEMENT));
    }
    void TearDown() override {
        EndScene();
        kind.ClearElements();
        for (EntityTemplateStub* s : stubs) {
            gEntityTemplateRegistry.Root()->RemoveStub(s);
            if (EntityTemplate* t = s->GetLoadedTemplate()) t->stub = nullptr;
            s->DetachTemplate();
            delete s;
        }
        templates.clear();
        RunOnRenderThread([] { ParticleSystemInstance::ReleaseGlobals(); });
        schedulers.scheduler.Clear();
        SetGameServices(nullptr);
        SceneEntityFixture::TearDown();
    }
    void Register(const char* name, std::unique_ptr<EntityTemplate> t) {
        t->SetName(name);
        auto* s = new EntityTemplateStub();
        s->SetFileName(name);
        s->typeId = t->typeId;
        s->SetTemplate(t.get());
        gEntityTemplateRegistry.Root()->AddStub(s);
        stubs.push_back(s);
        templates.push_back(std::move(t));
    }
    bool Hidden(const Entity* e) const { return (e->GetFlags() & ENTITYFLAG_HIDDEN) != 0; }
    static float Left(SFXEntity* e, uint32_t id) { return e->GetScheduledCallbackTimeLeft(id, 0); }

    std::vector<EntityTemplateStub*> stubs;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    ZKREffectTemplate kind;
    ZKREffectEntity* effect = nullptr;
    StillSchedulers schedulers;
    SFXEntity* sfx = nullptr;
    SFXEntity* unflagged = nullptr;
    ParticleEntity* particle = nullptr;
    Entity* plain = nullptr;
};

// A new effect rests stopped, in ghost mode, its elements kept from starting themselves;
// an element's own children (the holder's effect) keep their switches.
TEST_F(EffectTest, RestsStoppedAfterCreation) {
    EXPECT_EQ(effect->GetState(), EFFECT_STATE_STOPPED);
    EXPECT_FALSE(effect->IsStarted());
    EXPECT_TRUE(effect->IsGhostMode());
    EXPECT_TRUE(sfx->IsGhostMode());
    EXPECT_FALSE(sfx->startAtGameInit);
    EXPECT_FALSE(sfx->deleteAtStop);
    EXPECT_TRUE(unflagged->startAtGameInit);
    EXPECT_TRUE(unflagged->deleteAtStop);
    EXPECT_FALSE(particle->spawnInGame);
    EXPECT_FALSE(particle->IsSpawning());
    EXPECT_TRUE(Hidden(plain));
}

TEST_F(EffectTest, StartAndStopSteps) {
    // Start twice: true, then false, the second still leaving ghost mode.
    EXPECT_TRUE(effect->Start(false));
    EXPECT_TRUE(effect->IsStarted());
    EXPECT_FALSE(effect->IsGhostMode());
    EXPECT_TRUE(particle->IsSpawning());
    EXPECT_FALSE(Hidden(plain));
    EXPECT_NE(sfx->GetRenderingContext(), nullptr);
    effect->RaiseFlag(ENTITYFLAG_GHOSTMODE, true);
    EXPECT_FALSE(effect->Start(false));
    EXPECT_FALSE(effect->IsGhostMode());

    // Stop(false) twice: true, then false; the contexts stay for the wind-down.
    EXPECT_TRUE(effect->Stop(false));
    EXPECT_EQ(effect->GetState(), EFFECT_STATE_STOPPED);
    EXPECT_TRUE(effect->IsGhostMode());
    EXPECT_FALSE(particle->IsSpawning());
    EXPECT_TRUE(Hidden(plain));
    EXPECT_NE(sfx->GetRenderingContext(), nullptr);
    EXPECT_NE(particle->GetRenderingContext(), nullptr);
    EXPECT_FALSE(effect->Stop(false));

    // Stop(true) after Stop(false): true, and the contexts go; then nothing stops it again.
    EXPECT_TRUE(effect->Stop(true));
    EXPECT_EQ(effect->GetState(), EFFECT_STATE_STOPPED_AT_ONCE);
    EXPECT_EQ(sfx->GetRenderingContext(), nullptr);
    EXPECT_EQ(particle->GetRenderingContext(), nullptr);
    EXPECT_FALSE(effect->Stop(true));
    EXPECT_FALSE(effect->Stop(false));

    // Started again from the immediate stop; the effect element gets a new context.
    EXPECT_TRUE(effect->Start(true));
    EXPECT_EQ(effect->GetState(), EFFECT_STATE_RUNNING);
    EXPECT_NE(sfx->GetRenderingContext(), nullptr);
    EXPECT_TRUE(effect->Stop(true));
}

// An element without the element flag is neither started nor stopped.
TEST_F(EffectTest, UnflaggedElementIsLeftAlone) {
    particle->ClearFlag(ENTITYFLAG_COMPOUNDELEMENT, false);
    plain->ClearFlag(ENTITYFLAG_COMPOUNDELEMENT, false);
    EXPECT_TRUE(effect->Start(false));
    EXPECT_FALSE(particle->IsSpawning());
    EXPECT_TRUE(Hidden(plain));
    particle->StartSpawning();
    EXPECT_TRUE(effect->Stop(true));
    EXPECT_TRUE(particle->IsSpawning());
    EXPECT_NE(particle->GetRenderingContext(), nullptr);
    EXPECT_EQ(sfx->GetRenderingContext(), nullptr);
    particle->RaiseFlag(ENTITYFLAG_COMPOUNDELEMENT, false);
    plain->RaiseFlag(ENTITYFLAG_COMPOUNDELEMENT, false);
}

// Start restarts each effect element with its box timer, its sound skipped only on a
// restart.
TEST_F(EffectTest, StartRestartsEffectElements) {
    for (const bool restart : {false, true}) {
        sfx->DeleteScheduledCallback(SFX_CALLBACK_BOUNDING_BOX);
        ASSERT_TRUE(effect->Start(restart));
        EXPECT_GE(Left(sfx, SFX_CALLBACK_BOUNDING_BOX), 0.0f) << restart;
        gVornexRenderer.FlushCommands(true);
        uint8_t skipped = 2;
        RunOnRenderThread([&] {
            skipped = static_cast<SFXSoundElementContext*>(sfx->Context()->ElementContexts()[0])->skipNextStart;
        });
        EXPECT_EQ(skipped, restart ? 1 : 0);
        EXPECT_TRUE(effect->Stop(true));
    }
}

// A delayed start pending on an effect element: time advance shortens it, the winding-down
// stop (which breaks every loop) cancels it; an element without the flag keeps its own.
TEST_F(EffectTest, AdvanceAndWindDownReachOnlyFlaggedEffectElements) {
    ASSERT_TRUE(effect->Start(false));
    for (SFXEntity* e : {sfx, unflagged}) e->ScheduleCallback(SFX_CALLBACK_START, 5.0f, 0);
    effect->AdvanceTime(2.0f);
    EXPECT_NEAR(Left(sfx, SFX_CALLBACK_START), 3.0f, 1e-4f);
    EXPECT_NEAR(Left(unflagged, SFX_CALLBACK_START), 5.0f, 1e-4f);
    ASSERT_TRUE(effect->Stop(false));
    EXPECT_LT(Left(sfx, SFX_CALLBACK_START), 0.0f);
    EXPECT_NEAR(Left(unflagged, SFX_CALLBACK_START), 5.0f, 1e-4f);
}

}  // namespace
