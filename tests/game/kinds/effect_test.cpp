// test-sanitize: address
// The effect's state machine over its elements: an effect (SFX) element, a particle
// element and a plain element, made by the compound from registered templates. What each
// step leaves behind is read from the elements themselves: the start-at-creation
// switches, the particle's spawning, the plain element's hidden flag, the rendering
// contexts, and the effect's ghost mode and state.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKREffect.h"
#include "render/RenderTestSupport.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
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

struct EffectTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        RunOnRenderThread([] { ParticleSystemInstance::InitGlobals({4096, 4096, true, 1.0f}); });
        Register("spark", std::make_unique<SFXTemplate>());
        auto particles = std::make_unique<ParticleTemplate>();
        particles->definition.lifeTime = 10.0f;
        particles->definition.spawnRate = 20.0f;
        Register("smoke", std::move(particles));
        Register("glow", std::make_unique<EntityTemplate>());
        kind.SetName("effect");
        for (const char* n : {"spark", "smoke", "glow"}) kind.elements.Add(Element(n, n));
        kind.ResolveElementTemplates();
        Entity* made = gEntityManager->CreateEntityFromTemplate(&kind, nullptr, Matrix::IDENTITY, 0, nullptr);
        effect = dynamic_cast<ZKREffectEntity*>(made);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->GetState(), EFFECT_STATE_NEW);
        gEntityManager->FinishEntityCreation(effect);
        ASSERT_EQ(effect->GetChildrenCount(), 3u);
        sfx = dynamic_cast<SFXEntity*>(effect->GetChild(0));
        particle = dynamic_cast<ParticleEntity*>(effect->GetChild(1));
        plain = effect->GetChild(2);
        ASSERT_NE(sfx, nullptr);
        ASSERT_NE(particle, nullptr);
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

    std::vector<EntityTemplateStub*> stubs;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    ZKREffectTemplate kind;
    ZKREffectEntity* effect = nullptr;
    SFXEntity* sfx = nullptr;
    ParticleEntity* particle = nullptr;
    Entity* plain = nullptr;
};

// A new effect rests stopped, in ghost mode, its elements kept from starting themselves.
TEST_F(EffectTest, RestsStoppedAfterCreation) {
    EXPECT_EQ(effect->GetState(), EFFECT_STATE_STOPPED);
    EXPECT_FALSE(effect->IsStarted());
    EXPECT_TRUE(effect->IsGhostMode());
    EXPECT_TRUE(sfx->IsGhostMode());
    EXPECT_FALSE(sfx->startAtGameInit);
    EXPECT_FALSE(sfx->deleteAtStop);
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

}  // namespace
