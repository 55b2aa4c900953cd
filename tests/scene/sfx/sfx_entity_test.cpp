// test-sanitize: address thread
// test-timeout: 600
// Effect entities with test schedulers on a stepped clock and the real render thread:
// the start on game entry or after the activation delay, AdvanceTime through a pending
// start, deletion after the effect finished, SetDeleteAtStop, BreakLoop(nil) cancelling
// the delayed start, the render flags of the pass mask, the random delays, the
// bounding-box timer and the template preview.
#include <gtest/gtest.h>

#include "SFXTestSupport.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/ScriptScheduler.h"
#include "engine/services/EngineServices.h"
#include "scene/sfx/SFXEntity.h"

using namespace rendertest;
using namespace sfxtest;

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

struct Schedulers {
    static ScriptScheduler& Game() {
        static ScriptScheduler s;
        return s;
    }
    static ScriptScheduler& Global() {
        static ScriptScheduler s;
        return s;
    }
    static int64_t& Now() {
        static int64_t now = 0;
        return now;
    }
};

struct SFXEntityTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        Schedulers::Now() = kTicksPerSecond;
        gEngineServices.scriptScheduler = [](uint32_t selection, int64_t* now) -> ScriptScheduler* {
            *now = Schedulers::Now();
            return selection == SCRIPTCALL_SYSTEMTIME ? &Schedulers::Global() : &Schedulers::Game();
        };
        gEntityManager->Init(BoundingBox4(Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)), 10.0f);
        SFXSeedEntityDelays(7);
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gVornexRenderer.FlushCommands(true);
        Schedulers::Game().Clear();
        Schedulers::Global().Clear();
        gEngineServices.scriptScheduler = nullptr;
        templates.clear();
        RendererFixture::TearDown();
    }
    SFXTemplate* Template(float startDelay, bool withCurve = true) {
        templates.push_back(std::make_unique<SFXTemplate>());
        SFXTemplate* t = templates.back().get();
        t->SetName("effect");
        t->activationAtStartDelay = startDelay;
        if (withCurve) {
            SFXQuadElementDefinition* q = Quad("q");
            Keys(q->position, {{0, 0}, {5, 5}});
            t->definition->AddElement(q);
        }
        t->definition->ResolveElements(false);
        return t;
    }
    SFXEntity* Make(SFXTemplate* t) {
        Entity* made = gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr);
        auto* e = dynamic_cast<SFXEntity*>(made);
        EXPECT_NE(e, nullptr);
        return e;
    }
    // Moves the clock on and runs what fell due.
    void Advance(float seconds) {
        Schedulers::Now() += int64_t(double(seconds) * kTicksPerSecond);
        Schedulers::Game().Run(Schedulers::Now());
        Schedulers::Global().Run(Schedulers::Now());
        gVornexRenderer.FlushCommands(true);
    }
    bool Running(SFXEntity* e) {
        bool running = false;
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] { running = e->Context() && e->Context()->Running(); });
        return running;
    }
    float ElementTime(SFXEntity* e) {
        float t = -1.0f;
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] { t = e->Context()->ElementContexts()[0]->states[SFX_STATE_POSITION].time; });
        return t;
    }
    static float Left(SFXEntity* e, uint32_t id, uint32_t flags = 0) { return e->GetScheduledCallbackTimeLeft(id, flags); }

    std::vector<std::unique_ptr<SFXTemplate>> templates;
};

TEST_F(SFXEntityTest, StartsOnGameEntryOrAfterTheDelay) {
    SFXEntity* now = Make(Template(0.0f));
    now->InitTriggerActivation();
    EXPECT_TRUE(Running(now));
    EXPECT_GE(Left(now, SFX_CALLBACK_CHECK_FINISHED), 1.0f);
    EXPECT_LT(Left(now, SFX_CALLBACK_CHECK_FINISHED), 2.0f);
    EXPECT_FLOAT_EQ(Left(now, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME), 0.0f);

    SFXEntity* later = Make(Template(0.5f));
    later->InitTriggerActivation();
    EXPECT_FALSE(Running(later));
    EXPECT_NEAR(Left(later, SFX_CALLBACK_START), 0.5f, 1e-6);
    Advance(0.4f);
    EXPECT_FALSE(Running(later));
    Advance(0.1f);
    EXPECT_TRUE(Running(later));
}

TEST_F(SFXEntityTest, AdvanceTimeThroughAPendingStart) {
    SFXEntity* e = Make(Template(0.3f));
    e->InitTriggerActivation();
    e->AdvanceTime(0.1f);  // still 0.2 s to wait
    EXPECT_FALSE(Running(e));
    EXPECT_NEAR(Left(e, SFX_CALLBACK_START), 0.2f, 1e-5);
    e->AdvanceTime(0.9f);  // starts and plays the 0.7 s past the start
    EXPECT_TRUE(Running(e));
    EXPECT_LT(Left(e, SFX_CALLBACK_START), 0.0f);
    EXPECT_NEAR(ElementTime(e), 0.7f, 1e-5);
    e->AdvanceTime(0.5f);  // no start pending: the context itself
    EXPECT_NEAR(ElementTime(e), 1.2f, 1e-5);
}

TEST_F(SFXEntityTest, FinishedEffectsDeleteThemselvesUnlessTold) {
    SFXTemplate* t = Template(0.0f, false);  // no elements: finished at once
    t->definition->deleteTimeout = 2.0f;
    SFXEntity* e = Make(t);
    SFXEntity* kept = Make(t);
    const uint32_t live = gEntityManager->GetLiveEntityCount();
    e->InitTriggerActivation();
    kept->InitTriggerActivation();
    Update(Clocks::All(0.1f));
    kept->SetDeleteAtStop(false);
    EXPECT_LT(Left(kept, SFX_CALLBACK_CHECK_FINISHED), 0.0f);
    Advance(2.0f);  // the check: finished, deletion armed
    EXPECT_NEAR(Left(e, SFX_CALLBACK_DELETE), 2.0f, 1e-5);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live);
    Advance(2.0f);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live - 1);
}

TEST_F(SFXEntityTest, BreakLoopWithoutNameCancelsTheDelayedStart) {
    SFXEntity* e = Make(Template(1.0f));
    e->InitTriggerActivation();
    e->BreakLoop("unknown");
    EXPECT_GT(Left(e, SFX_CALLBACK_START), 0.0f);
    e->BreakLoop(nullptr);
    EXPECT_LT(Left(e, SFX_CALLBACK_START), 0.0f);
    Advance(2.0f);
    EXPECT_FALSE(Running(e));
}

TEST_F(SFXEntityTest, BoundingBoxTimerSetsTheValidFlag) {
    SFXTemplate* t = Template(0.0f);
    t->constantBoundingBoxUpdate = true;
    SFXEntity* e = Make(t);
    e->InitTriggerActivation();
    Advance(0.0f);  // no box published yet: armed again
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & SFX_RENDER_BOX_VALID, 0u);
    EXPECT_FLOAT_EQ(Left(e, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME), 0.0f);
    Update(Clocks::All(0.1f));
    Advance(0.0f);
    EXPECT_NE(e->GetEnforcedRenderingFlags() & SFX_RENDER_BOX_VALID, 0u);
    const float next = Left(e, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME);
    EXPECT_GE(next, 0.2f);
    EXPECT_LT(next, 0.4f);
}

TEST(SFXEntityRules, RenderFlagsOfThePassMask) {
    const struct {
        uint32_t mask, flags;
    } rows[] = {{2, 0x40}, {8, 0x80}, {17, 0x20}, {1, 0x20}, {16, 0x20}, {32, 0x200}, {0, 0}, {4, 0}, {59, 0x2E0}};
    for (const auto& r : rows) EXPECT_EQ(SFXRenderFlagsForPassMask(r.mask), r.flags) << r.mask;
}

TEST(SFXEntityRules, DelaysUseTheSeedBeforeTheStep) {
    SFXSeedEntityDelays(0);
    EXPECT_FLOAT_EQ(SFXNextEntityDelay(), 1.0f);  // (0 >> 16) / 65536 + 1
    const uint32_t second = 2531011u;
    EXPECT_FLOAT_EQ(SFXNextEntityDelay(), float(second >> 16) / 65536.0f + 1.0f);
    for (int i = 0; i < 1000; ++i) {
        const float d = SFXNextEntityDelay();
        EXPECT_GE(d, 1.0f);
        EXPECT_LT(d, 2.0f);
    }
}

TEST_F(SFXEntityTest, PreviewPlaysAndDrawsThroughTheImmediateTask) {
    SFXTemplate* t = Template(0.0f);
    SFXContext* preview = t->CreatePreview();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_TRUE(preview->Running());
        EXPECT_EQ(preview->ElementCount(), 1u);
        EXPECT_EQ(preview->ContextFlags() & SFX_CONTEXT_PREVIEW, uint32_t(SFX_CONTEXT_PREVIEW));
    });
    Matrix m = Matrix::IDENTITY;
    m.r[3] = Vector(4, 5, 6, 1);
    t->DrawPreview(preview, m);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_EQ(preview->World().r[3], Vector(4, 5, 6, 1));
        EXPECT_TRUE(preview->Linked());  // drawn in the immediate pass
    });
    t->DestroyPreview(preview);
}

}  // namespace
