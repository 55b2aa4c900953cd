// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Triggers on the engine's entity manager and grid: enter and exit accounting, nested
// groups, activation, frozen activators, clearing, callbacks that move, create and
// destroy, the script methods and the class registration; the volume test of every mode
// and shape against a numpy reference, and a seeded soak of moving activators and triggers
// whose inside sets must equal a brute-force recomputation. A native handler records every
// callback as "enter T E", "exit T E", "cleared T".
#include <lua.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/script/LuaWrapper.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/startup/SceneStaticInit.h"

namespace {

struct Recorder : EntityEventHandler {
    TriggerEntity* owner = nullptr;
    std::vector<std::string>* log = nullptr;
    // Runs after the record, with the entity (null for cleared).
    std::function<void(const char* what, Entity* entity)> then;
    void Note(const char* what, Entity* e) {
        log->push_back(std::string(what) + " " + owner->GetName() + (e ? std::string(" ") + e->GetName() : ""));
        if (then) then(what, e);
    }
    void OnEnter(Entity* e) override { Note("enter", e); }
    void OnExit(Entity* e) override { Note("exit", e); }
    void OnCleared() override { Note("cleared", nullptr); }
};

inline Matrix Place(const Vector& position, const Vector& scale = Vector(1, 1, 1, 0),
                    const Vector& degrees = Vector(0, 0, 0, 1)) {
    Matrix m;
    m.LoadComplexTransformation(position, degrees, scale);
    return m;
}

class TriggerTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        InstallSceneServices();
        TriggerEntity::EnableChecks();
        activator.activatesTriggers = true;
        activator.SetName("act");
        activator.staticBoundingBox = BoundingBox4(Vector(-0.1f, -0.1f, -0.1f, 1), Vector(0.1f, 0.1f, 0.1f, 1));
        plain.SetName("plain");
    }
    void TearDown() override {
        for (auto& r : recorders) r->then = nullptr;
        TriggerEntity::ClearPendingChecks();
        EntityTest::TearDown();
    }
    TriggerTemplate* Kind(uint32_t shape, uint32_t mode) {
        kinds.push_back(std::make_unique<TriggerTemplate>());
        TriggerTemplate* t = kinds.back().get();
        t->shape = shape;
        t->mode = mode;
        t->SetName("trigger");
        return t;
    }
    TriggerEntity* MakeTrigger(const char* name, const Matrix& local, uint32_t shape = TRIGGER_SHAPE_BOX,
                               uint32_t mode = TRIGGER_MODE_POSITION_INSIDE, Entity* parent = nullptr) {
        auto* t = static_cast<TriggerEntity*>(
            gEntityManager->CreateEntityFromTemplate(Kind(shape, mode), parent, local, 0, nullptr));
        t->SetName(name);
        recorders.push_back(std::make_unique<Recorder>());
        recorders.back()->owner = t;
        recorders.back()->log = &events;
        t->SetEventHandler(recorders.back().get());
        return t;
    }
    Recorder* RecorderOf(TriggerEntity* t) { return static_cast<Recorder*>(t->GetEventHandler()); }
    Entity* MakeActivator(const char* name, const Vector& position) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(&activator, nullptr, Place(position), 0, nullptr);
        e->SetName(name);
        e->InitTriggerActivation();
        return e;
    }
    void Pass() { TriggerEntity::ProcessPendingChecks(); }
    std::vector<std::string> Take() { return std::exchange(events, {}); }

    EntityTemplate activator, plain;
    std::vector<std::unique_ptr<TriggerTemplate>> kinds;
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

std::string Words(const Matrix& m) {
    std::string s;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) s += " " + FloatBits(m.r[r][c]);
    return s;
}

std::string Words(const BoundingBox4& b) {
    std::string s;
    for (float v : {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z}) s += " " + FloatBits(v);
    return s;
}

}  // namespace

TEST_F(TriggerTest, StillActivatorMakesNoFurtherCallbacks) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(2, 2, 2, 0)));
    Entity* a = MakeActivator("A", Vector(0.5f, 0, 0, 1));
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
    EXPECT_EQ(t->GetEntitiesInsideCount(), 1u);
    EXPECT_EQ(t->GetEntityInside(0), a);
    for (int i = 0; i < 3; ++i) Pass();
    a->SetGlobalPosition3(0.6f, 0, 0);  // moved, still inside
    Pass();
    t->CheckInside();  // rechecked, still inside
    Pass();
    EXPECT_TRUE(Take().empty());
    a->SetGlobalPosition3(5, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"exit T A"}));
    EXPECT_EQ(t->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(static_cast<TriggerTracker*>(a->GetTriggerActivator())->insideTriggers.Count(), 0u);
}

TEST_F(TriggerTest, MovingTriggerFindsStillActivators) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(20, 0, 20, 1)));
    MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    EXPECT_TRUE(Take().empty());
    t->SetGlobalPosition3(0, 0, 0.5f);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
    t->SetGlobalPosition3(-30, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"exit T A"}));
}

TEST_F(TriggerTest, NestedTriggersFireOnTheTopOnce) {
    TriggerEntity* top = MakeTrigger("Top", Place(Vector(0, 0, 0, 1), Vector(50, 5, 50, 0)));
    top->SetLocalBoundingBox(BoundingBox4(Vector(-1, -1, -1, 1), Vector(-0.9f, 1, -0.9f, 1)));  // a corner only
    TriggerEntity* left = MakeTrigger("L", Place(Vector(-2, 0, 0, 1)), TRIGGER_SHAPE_BOX, 0, top);
    TriggerEntity* right = MakeTrigger("R", Place(Vector(2, 0, 0, 1)), TRIGGER_SHAPE_BOX, 0, top);
    left->SetGlobalLocationMatrix(Place(Vector(-2, 0, 0, 1), Vector(2.5f, 1, 1, 0)));  // x -4.5 .. 0.5
    right->SetGlobalLocationMatrix(Place(Vector(2, 0, 0, 1), Vector(2.5f, 1, 1, 0)));  // x -0.5 .. 4.5
    Entity* a = MakeActivator("A", Vector(-2, 0, 0, 1));
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top A"}));
    a->SetGlobalPosition3(0, 0, 0);  // in both parts (they overlap in the middle)
    Pass();
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(top->GetInsideCount(a), 2u);
    EXPECT_EQ(left->GetInsideCount(a), 1u);
    a->SetGlobalPosition3(2, 0, 0);  // leaves the left part
    Pass();
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(top->GetInsideCount(a), 1u);
    a->SetGlobalPosition3(10, 0, 0);  // leaves the right part too
    Pass();
    EXPECT_EQ(Take(), (Events{"exit Top A"}));
    EXPECT_EQ(top->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(right->GetEntitiesInsideCount(), 0u);
}

TEST_F(TriggerTest, DeactivationExitsAllAndReactivationEntersAgain) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    MakeActivator("A", Vector(0, 0, 0, 1));
    MakeActivator("B", Vector(1, 0, 0, 1));
    Pass();
    EXPECT_EQ(Take().size(), 2u);
    t->Activate(false);
    Events exits = Take();
    std::sort(exits.begin(), exits.end());
    EXPECT_EQ(exits, (Events{"exit T A", "exit T B"}));
    EXPECT_FALSE(t->IsActive());
    Pass();
    EXPECT_TRUE(Take().empty());
    t->Activate(true);
    EXPECT_TRUE(Take().empty());  // on the next pass
    Pass();
    Events enters = Take();
    std::sort(enters.begin(), enters.end());
    EXPECT_EQ(enters, (Events{"enter T A", "enter T B"}));
}

TEST_F(TriggerTest, InactiveTriggerKeepsItsRecordsUntested) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    Take();
    t->active = false;  // the property, without Activate's exits
    a->SetGlobalPosition3(30, 0, 0);
    Pass();
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(t->GetEntitiesInsideCount(), 1u);
}

TEST_F(TriggerTest, FrozenActivatorLeavesAndEntersNothing) {
    MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    MakeTrigger("U", Place(Vector(10, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    Take();
    a->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, false);
    a->SetGlobalPosition3(10, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"exit T A"}));
    a->ClearFlag(ENTITYFLAG_DISABLE_UPDATE, false);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter U A"}));
}

TEST_F(TriggerTest, ClearInsideListFiresOnlyCleared) {
    TriggerEntity* top = MakeTrigger("Top", Place(Vector(0, 0, 0, 1), Vector(4, 4, 4, 0)));
    TriggerEntity* part = MakeTrigger("P", Place(Vector(0, 0, 0, 1)), TRIGGER_SHAPE_BOX, 0, top);
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top A"}));
    EXPECT_EQ(top->GetInsideCount(a), 2u);
    part->ClearInsideList();
    EXPECT_EQ(Take(), (Events{"cleared P"}));
    EXPECT_EQ(top->GetInsideCount(a), 1u);  // the part's share is gone
    top->ClearInsideList();  // its parts first
    EXPECT_EQ(Take(), (Events{"cleared P", "cleared Top"}));
    EXPECT_EQ(top->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(static_cast<TriggerTracker*>(a->GetTriggerActivator())->insideTriggers.Count(), 0u);
    // Still inside: the next check enters again.
    a->SetGlobalPosition3(0.1f, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top A"}));
    TriggerEntity::ClearAllTriggers();
    Events cleared = Take();
    std::sort(cleared.begin(), cleared.end());
    EXPECT_EQ(cleared, (Events{"cleared P", "cleared P", "cleared Top"}));  // P also as Top's part
    TriggerEntity::RecheckAllTriggers();
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top A"}));
}

TEST_F(TriggerTest, PositionWithRadiusBoxNeedsTheMaxRange) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1)), TRIGGER_SHAPE_BOX, TRIGGER_MODE_POSITION_WITH_RADIUS);
    Entity* a = MakeActivator("A", Vector(13, 0, 0, 1));  // 12 beyond the box's face, cells away
    Pass();
    a->SetRadiusForTrigger(12.5f);  // reaches the box; A stands still
    EXPECT_TRUE(t->IsInside(a));
    t->CheckInside();
    Pass();
    EXPECT_TRUE(Take().empty());  // the trigger's cells do not reach it
    t->SetPositionMaxRange(13.0f);
    t->CheckInside();
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
    a->SetRadiusForTrigger(5.0f);
    a->SetGlobalPosition3(13.01f, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"exit T A"}));
    // A moving activator whose radius reaches a trigger cells away finds it by itself.
    a->SetRadiusForTrigger(12.5f);
    a->SetGlobalPosition3(13.0f, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
}

TEST_F(TriggerTest, DestroyedActivatorLeavesEveryTrigger) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    TriggerEntity* off = MakeTrigger("Off", Place(Vector(0, 0, 0, 1), Vector(4, 4, 4, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    Take();
    off->active = false;
    a->SetGlobalPosition3(0.2f, 0, 0);  // queued, then destroyed before the pass
    gEntityManager->DestroyEntity(a);
    EXPECT_EQ(Take(), (Events{"exit T A"}));  // the inactive trigger drops it silently
    EXPECT_EQ(t->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(off->GetEntitiesInsideCount(), 0u);
    Pass();
    EXPECT_TRUE(Take().empty());
}

TEST_F(TriggerTest, CallbacksThatMoveCreateAndDestroyLeaveNoStaleRecord) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    TriggerEntity* u = MakeTrigger("U", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Entity* made = nullptr;
    // T's enter moves A away and makes B; U (same cells) sees A only if it still is inside.
    RecorderOf(t)->then = [&](const char* what, Entity* e) {
        if (std::string(what) != "enter" || e != a) return;
        e->SetGlobalPosition3(40, 0, 40);
        made = MakeActivator("B", Vector(0.5f, 0, 0, 1));
    };
    Pass();
    Events got = Take();
    // A entered T (and left it on its re-check in the same pass); B entered both.
    EXPECT_EQ(std::count(got.begin(), got.end(), "enter T A"), 1);
    EXPECT_EQ(std::count(got.begin(), got.end(), "exit T A"), 1);
    EXPECT_EQ(std::count(got.begin(), got.end(), "enter T B"), 1);
    EXPECT_EQ(std::count(got.begin(), got.end(), "enter U B"), 1);
    EXPECT_EQ(t->GetInsideCount(a), 0u);
    EXPECT_EQ(u->GetInsideCount(a), 0u);
    RecorderOf(t)->then = nullptr;

    // An exit that destroys the activator ends its processing.
    RecorderOf(u)->then = [&](const char* what, Entity* e) {
        if (std::string(what) == "exit") gEntityManager->DestroyEntity(e);
    };
    made->SetGlobalPosition3(-40, 0, -40);
    Pass();
    got = Take();
    EXPECT_EQ(t->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(u->GetEntitiesInsideCount(), 0u);
    RecorderOf(u)->then = nullptr;

    // An enter that destroys the trigger: the activator's record of it dies with it.
    Entity* c = MakeActivator("C", Vector(0, 0, 0, 1));
    RecorderOf(u)->then = [&](const char* what, Entity*) {
        if (std::string(what) == "enter") gEntityManager->DestroyEntity(u);
    };
    Pass();
    Pass();
    auto* tracker = static_cast<TriggerTracker*>(c->GetTriggerActivator());
    for (auto& p : tracker->insideTriggers) EXPECT_NE(p.Get(), nullptr);
    EXPECT_EQ(t->GetInsideCount(c), 1u);
    // Destroying the trigger exits what is inside it.
    Take();
    gEntityManager->DestroyEntity(t);
    EXPECT_EQ(Take(), (Events{"exit T C"}));
    c->SetGlobalPosition3(0.3f, 0, 0);
    Pass();
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(tracker->insideTriggers.Count(), 0u);
}

TEST_F(TriggerTest, ScriptMethodsWithoutANativeHandler) {
    gLua.Init();
    gLua.RegisterClass("TriggerEntity", "");
    ASSERT_TRUE(gLua.ExecuteString(
        "Seen = ''\n"
        "function TriggerEntity:OnEnter(e) Seen = Seen .. 'enter;' end\n"
        "function TriggerEntity:OnExit(e) Seen = Seen .. 'exit;' end\n"
        "function TriggerEntity:OnCleared() Seen = Seen .. 'cleared;' end\n"));
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    TriggerEntity* native = MakeTrigger("N", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    t->SetEventHandler(nullptr);
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    a->SetGlobalPosition3(30, 0, 0);
    Pass();
    t->ClearInsideList();
    lua_getglobal(gLua.GetState(), "Seen");
    EXPECT_STREQ(lua_tostring(gLua.GetState(), -1), "enter;exit;cleared;");
    lua_pop(gLua.GetState(), 1);
    // The native handler took precedence on N.
    EXPECT_EQ(Take(), (Events{"enter N A", "exit N A"}));
    (void)native;
    gEntityManager->NewScene();
    gLua.Close();
}

TEST_F(TriggerTest, ScriptFacingIndicesAndClassData) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1)));
    log.Clear();
    EXPECT_EQ(t->GetEntityInside(0), nullptr);
    EXPECT_EQ(log.Messages().size(), 1u);
    EXPECT_TRUE(t->CheckFlag(ENTITYFLAG_POSTFSE));
    EXPECT_TRUE(t->IsActive());
    TriggerTemplate tt;
    EXPECT_TRUE(tt.SetPropertyFromString("Trigger mode", "2"));
    EXPECT_EQ(tt.mode, uint32_t(TRIGGER_MODE_JUST_TOUCH));
    EXPECT_TRUE(tt.SetPropertyFromString("Trigger shape", "1"));
    EXPECT_EQ(tt.shape, uint32_t(TRIGGER_SHAPE_SPHERE));
    EXPECT_TRUE(TemplateTypeTable::IsA(ENTITY_TRIGGER, ENTITY_TRIGGER));
    EXPECT_TRUE(TemplateTypeTable::IsA(ENTITY_TRIGGER, 0));  // a template like any other
    tt.mode = 7;  // outside the table: never inside
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    TriggerEntity* odd = static_cast<TriggerEntity*>(gEntityManager->CreateEntityFromTemplate(&tt, nullptr, Matrix::IDENTITY, 0, nullptr));
    EXPECT_FALSE(odd->IsInside(a));
    EXPECT_TRUE(t->IsInside(a));
    gEntityManager->DestroyEntity(odd);
}

TEST_F(TriggerTest, NothingIsQueuedWhileChecksAreOff) {
    MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    TriggerEntity::ClearPendingChecks();
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    EXPECT_EQ(TriggerEntity::PendingCount(), 0u);
    Pass();
    EXPECT_TRUE(Take().empty());
    TriggerEntity::EnableChecks();
    a->SetGlobalPosition3(0.1f, 0, 0);
    a->SetGlobalPosition3(0.2f, 0, 0);
    EXPECT_EQ(TriggerEntity::PendingCount(), 1u);  // queued once
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
}

TEST_F(TriggerTest, EnterCallbackThatMovesItsTriggerAway) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    RecorderOf(t)->then = [&](const char* what, Entity*) {
        if (std::string(what) == "enter") t->SetGlobalPosition3(50, 0, 50);
    };
    Pass();  // the move queues A again: it leaves in the same pass
    EXPECT_EQ(Take(), (Events{"enter T A", "exit T A"}));
    EXPECT_EQ(t->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(static_cast<TriggerTracker*>(a->GetTriggerActivator())->insideTriggers.Count(), 0u);
    RecorderOf(t)->then = nullptr;
    t->SetGlobalPosition3(0, 0, 0.5f);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter T A"}));
}

TEST_F(TriggerTest, ExitThatDestroysTheActivatorLeavesNoRecordInTheGroupsPart) {
    TriggerEntity* top = MakeTrigger("Top", Place(Vector(0, 0, 0, 1), Vector(50, 5, 50, 0)));
    top->SetLocalBoundingBox(BoundingBox4(Vector(-1, -1, -1, 1), Vector(-0.9f, 1, -0.9f, 1)));  // a corner only
    TriggerEntity* part = MakeTrigger("P", Place(Vector(0, 0, 0, 1)), TRIGGER_SHAPE_BOX, 0, top);
    part->SetGlobalLocationMatrix(Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top A"}));
    RecorderOf(top)->then = [&](const char* what, Entity* e) {
        if (std::string(what) == "exit") gEntityManager->DestroyEntity(e);
    };
    const uint32_t id = a->GetReusableId();
    a->SetGlobalPosition3(20, 0, 0);
    Pass();
    EXPECT_EQ(Take(), (Events{"exit Top A"}));
    RecorderOf(top)->then = nullptr;
    EXPECT_EQ(part->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(top->GetEntitiesInsideCount(), 0u);
    // A newcomer that takes over the dead activator's id enters the group as anyone would.
    Entity* b = MakeActivator("B", Vector(0.5f, 0, 0, 1));
    ASSERT_EQ(b->GetReusableId(), id);
    Pass();
    EXPECT_EQ(Take(), (Events{"enter Top B"}));
    EXPECT_EQ(top->GetInsideCount(b), 1u);
    EXPECT_EQ(part->GetInsideCount(b), 1u);
}

TEST_F(TriggerTest, ClearAllReachesEveryTriggerWhateverTheCallbacksDestroy) {
    TriggerEntity* first = MakeTrigger("T1", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* doomed = gEntityManager->CreateEntityFromTemplate(&plain, nullptr, Place(Vector(30, 0, 30, 1)), 0, nullptr);
    TriggerEntity* second = MakeTrigger("T2", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    Take();
    // The first trigger's cleared callback destroys the entity that follows it.
    RecorderOf(first)->then = [&](const char* what, Entity*) {
        if (std::string(what) == "cleared" && doomed) gEntityManager->DestroyEntity(std::exchange(doomed, nullptr));
    };
    TriggerEntity::ClearAllTriggers();
    RecorderOf(first)->then = nullptr;
    EXPECT_EQ(Take(), (Events{"cleared T1", "cleared T2"}));
    EXPECT_EQ(first->GetEntitiesInsideCount(), 0u);
    EXPECT_EQ(second->GetEntitiesInsideCount(), 0u);
}

TEST_F(TriggerTest, ExitThatDestroysItsTriggerDuringTheTriggersDestruction) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    MakeActivator("B", Vector(0.5f, 0, 0, 1));
    Pass();
    Take();
    // A one-shot trigger: whoever leaves it, it removes itself.
    RecorderOf(t)->then = [&](const char* what, Entity*) {
        if (std::string(what) == "exit") gEntityManager->DestroyEntity(t);
    };
    gEntityManager->DestroyEntity(t);
    Events got = Take();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].substr(0, 6), "exit T");
    auto* tracker = static_cast<TriggerTracker*>(a->GetTriggerActivator());
    for (auto& p : tracker->insideTriggers) EXPECT_EQ(p.Get(), nullptr);
}

TEST_F(TriggerTest, ExitThatDestroysTheActivatorDuringTheActivatorsDestruction) {
    TriggerEntity* t = MakeTrigger("T", Place(Vector(0, 0, 0, 1), Vector(3, 3, 3, 0)));
    Entity* a = MakeActivator("A", Vector(0, 0, 0, 1));
    Pass();
    Take();
    // Whoever leaves the trigger is removed: the activator being destroyed leaves it.
    RecorderOf(t)->then = [&](const char* what, Entity* who) {
        if (std::string(what) == "exit") gEntityManager->DestroyEntity(who);
    };
    gEntityManager->DestroyEntity(a);
    Events got = Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].substr(0, 6), "exit T");
}

// ---- The volume test ----

TEST_F(TriggerTest, VolumeTestMatchesTheReference) {
    std::mt19937 rng(4101);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), scale(0.4f, 3.0f), angle(0.0f, 360.0f),
        spread(-2.5f, 2.5f), size(0.05f, 1.5f), radius(0.0f, 2.5f);
    constexpr int kPerPair = 150;
    struct Case {
        TriggerEntity* trigger;
        Entity* entity;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    TriggerEntity::ClearPendingChecks();  // nothing is processed: only the volume test runs
    for (uint32_t mode = 0; mode < 4; ++mode) {
        for (uint32_t shape = 0; shape < 2; ++shape) {
            for (int i = 0; i < kPerPair; ++i) {
                TriggerEntity* t = MakeTrigger("T", Matrix::IDENTITY, shape, mode);
                t->SetGlobalLocationMatrix(Place(Vector(unit(rng), unit(rng), unit(rng), 1),
                                                 Vector(scale(rng), scale(rng), scale(rng), 0),
                                                 Vector(angle(rng), angle(rng), angle(rng), 1)));
                t->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                    Vector(size(rng), size(rng), size(rng), 1)));
                Entity* e = MakeActivator("E", Vector(0, 0, 0, 1));
                e->SetGlobalLocationMatrix(Place(Vector(spread(rng), spread(rng), spread(rng), 1),
                                                 Vector(scale(rng), scale(rng), scale(rng), 0) * 0.3f,
                                                 Vector(angle(rng), angle(rng), angle(rng), 1)));
                e->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                    Vector(size(rng), size(rng), size(rng), 1)));
                e->SetRadiusForTrigger(radius(rng));
                cases.push_back({t, e});
                input << mode << " " << shape << " " << FloatBits(e->GetRadiusForTrigger())
                      << Words(t->GetGlobalLocationMatrix()) << Words(t->GetLocalBoundingBox())
                      << Words(e->GetGlobalLocationMatrix()) << Words(e->GetLocalBoundingBox()) << "\n";
            }
        }
    }
    const std::vector<std::string> lines = RunNumpyReference("../scene/entities/trigger_reference.py", input.str());
    ASSERT_EQ(lines.size(), cases.size());
    int compared[8] = {}, insideCount[8] = {};
    for (size_t i = 0; i < cases.size(); ++i) {
        std::istringstream words(lines[i]);
        int expected = 0;
        double margin = 0;
        words >> expected >> margin;
        const int pair = int(i) / kPerPair;
        if (margin < 1e-3) continue;  // within rounding of the threshold
        ++compared[pair];
        insideCount[pair] += expected;
        EXPECT_EQ(TriggerEntity::IsInside(cases[i].trigger, cases[i].entity), expected == 1)
            << "mode " << pair / 2 << " shape " << pair % 2 << " case " << i;
    }
    for (int p = 0; p < 8; ++p) {
        // Both answers occur for every pair, so each branch is exercised.
        EXPECT_GT(compared[p], kPerPair * 9 / 10) << p;
        EXPECT_GT(insideCount[p], 5) << p;
        EXPECT_LT(insideCount[p], compared[p] - 5) << p;
    }
}

TEST_F(TriggerTest, SeededSoakKeepsInsideSetsExact) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> coord(-60.0f, 60.0f), step(-3.0f, 3.0f), scale(1.0f, 12.0f),
        angle(0.0f, 360.0f), chance(0.0f, 1.0f);
    std::vector<TriggerEntity*> triggers;
    for (int i = 0; i < 30; ++i) {
        const uint32_t shape = i % 2, mode = (i / 2) % 4;
        Entity* parent = (i % 5 == 4) ? triggers[i - 1] : nullptr;  // every fifth nested
        TriggerEntity* t = MakeTrigger(("T" + std::to_string(i)).c_str(), Matrix::IDENTITY, shape, mode, parent);
        t->SetGlobalLocationMatrix(Place(Vector(coord(rng), 0, coord(rng), 1),
                                         Vector(scale(rng), scale(rng), scale(rng), 0),
                                         Vector(0, angle(rng), 0, 1)));
        t->SetPositionMaxRange(mode == TRIGGER_MODE_POSITION_WITH_RADIUS ? 4.0f : 0.0f);
        triggers.push_back(t);
    }
    std::vector<Entity*> activators;
    for (int i = 0; i < 200; ++i) {
        Entity* a = MakeActivator(("A" + std::to_string(i)).c_str(), Vector(coord(rng), 0, coord(rng), 1));
        a->SetRadiusForTrigger(i % 3 == 0 ? 2.0f : 0.0f);
        activators.push_back(a);
    }
    // Enters minus exits per top trigger and entity.
    std::map<std::pair<std::string, std::string>, int> balance;
    for (TriggerEntity* t : triggers)
        RecorderOf(t)->then = [&, t](const char* what, Entity* e) {
            if (!e) return;
            balance[{t->GetName(), e->GetName()}] += std::string(what) == "enter" ? 1 : -1;
        };
    auto top = [](TriggerEntity* t) { return t->GetTopTrigger(); };
    for (int pass = 0; pass < 5000; ++pass) {
        for (int m = 0; m < 8; ++m) {
            Entity* a = activators[rng() % activators.size()];
            Vector p = a->GetGlobalPosition() + Vector(step(rng) * 3, 0, step(rng) * 3, 0);
            p.x = std::clamp(p.x, -90.0f, 90.0f), p.z = std::clamp(p.z, -90.0f, 90.0f);
            a->SetGlobalPosition(p);
        }
        if (pass % 10 == 0) {
            TriggerEntity* t = triggers[rng() % triggers.size()];
            Vector p = t->GetGlobalPosition() + Vector(step(rng), 0, step(rng), 0);
            t->SetGlobalPosition(p);
        }
        if (pass % 97 == 0) {
            TriggerEntity* t = triggers[rng() % triggers.size()];
            t->Activate(!t->IsActive());
        }
        Pass();
        if (pass % 50 != 0 && pass != 4999) continue;
        // Brute force: an entity is inside a top trigger when inside any active part of its
        // group; the count is the number of such parts.
        std::map<TriggerEntity*, std::map<Entity*, uint32_t>> expected;
        for (TriggerEntity* t : triggers) {
            if (!t->IsActive()) continue;
            for (Entity* a : activators)
                if (TriggerEntity::IsInside(t, a)) ++expected[top(t)][a];
        }
        for (TriggerEntity* t : triggers) {
            if (top(t) != t || !t->IsActive()) continue;
            // Parts that are inactive keep their records untested: skip such groups.
            bool allActive = true;
            for (TriggerEntity* part : triggers) allActive = allActive && (top(part) != t || part->IsActive());
            if (!allActive) continue;
            std::map<Entity*, uint32_t> got;
            for (uint32_t i = 0; i < t->GetEntitiesInsideCount(); ++i) got[t->GetEntityInside(i)] = t->GetInsideCount(t->GetEntityInside(i));
            ASSERT_EQ(got, expected[t]) << "pass " << pass << " trigger " << t->GetName();
            for (Entity* a : activators) {
                const int b = balance[{t->GetName(), a->GetName()}];
                ASSERT_EQ(b, got.count(a) ? 1 : 0) << "pass " << pass << " " << t->GetName() << " " << a->GetName();
            }
        }
    }
}
