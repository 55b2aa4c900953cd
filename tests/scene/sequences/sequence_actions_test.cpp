// test-sanitize: address
// The built-in actions (semaphores, counters, start, stop, conditional start) and the
// factory's built-in entries.
#include <algorithm>
#include <climits>

#include "SequenceTestSupport.h"

using namespace seqtest;
using Events = std::vector<std::string>;

namespace {

template <class T>
T* Sem(const char* name, float time = 0.0f) {
    T* a = Act<T>(time);
    a->semaphore = name;
    return a;
}

bool Running(const char* name) { return gSequenceSystem->FindSequence(name)->IsRunning(); }

}  // namespace

TEST_F(SequenceTest, RaiseTwiceClearOnceLeavesItCleared) {
    auto* wait = Sem<SequenceActionWaitForSemaphore>("s");
    AddSequence("S", {{Sem<SequenceActionRaiseSemaphore>("s"), Sem<SequenceActionRaiseSemaphore>("s"),
                       Sem<SequenceActionClearSemaphore>("s"), wait}});
    AddSequence("G", {{Sem<SequenceActionRaiseGlobalSemaphore>("g"), Sem<SequenceActionRaiseGlobalSemaphore>("g"),
                       Sem<SequenceActionClearGlobalSemaphore>("g"), Sem<SequenceActionWaitForGlobalSemaphore>("g")}});
    Sequence* s = gSequenceSystem->StartSequence("S", false, true);
    gSequenceSystem->StartSequence("G", false, true);
    Frame();
    EXPECT_EQ(s->LocalSemaphores().Count(), 0u);
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 0u);
    EXPECT_TRUE(Running("S"));
    EXPECT_TRUE(Running("G"));
    // One raise releases the waits.
    s->LocalSemaphores().Add(NameString("s"));
    gSequenceSystem->GlobalSemaphores().Add(NameString("g"));
    Frame();
    EXPECT_FALSE(Running("S"));
    EXPECT_FALSE(Running("G"));
}

TEST_F(SequenceTest, LocalSemaphoresBelongToOneSequenceGlobalOnesToAll) {
    AddSequence("Raiser", {{Sem<SequenceActionRaiseSemaphore>("x"), Sem<SequenceActionRaiseGlobalSemaphore>("y"),
                            Rec("hold", 9.0f)}});
    AddSequence("LocalWaiter", {{Sem<SequenceActionWaitForSemaphore>("x")}});
    AddSequence("GlobalWaiter", {{Sem<SequenceActionWaitForGlobalSemaphore>("y")}});
    gSequenceSystem->StartSequence("Raiser", false, true);
    gSequenceSystem->StartSequence("LocalWaiter", false, true);
    gSequenceSystem->StartSequence("GlobalWaiter", false, true);
    Frame();
    Frame();
    EXPECT_TRUE(Running("LocalWaiter"));
    EXPECT_FALSE(Running("GlobalWaiter"));
    // A restart empties the local set; the global set stays.
    gSequenceSystem->StopAllSequences(false, false, "");
    Sequence* again = gSequenceSystem->StartSequence("LocalWaiter", false, true);
    EXPECT_EQ(again->LocalSemaphores().Count(), 0u);
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 1u);
}

TEST_F(SequenceTest, CountingSemaphores) {
    struct Row {
        int32_t increase, increases, target;
        bool waiting;
    } rows[] = {
        {1, 0, 0, false},  // "Value" 0 finishes at once without a counter
        {1, 2, 3, true},
        {2, 2, 4, false},
        {-1, 1, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.target);
        gSequenceSystem->Clear();
        std::vector<SequenceAction*> track;
        for (int i = 0; i < r.increases; ++i) {
            auto* inc = Sem<SequenceActionIncreaseGlobalCountingSemaphore>("c");
            inc->value = r.increase;
            track.push_back(inc);
        }
        auto* wait = Sem<SequenceActionWaitForGlobalCountingSemaphoreToReach>("c");
        wait->value = r.target;
        track.push_back(wait);
        auto* s = new Sequence();
        s->name = "S";
        auto* t = new SequenceTrack();
        for (SequenceAction* a : track) t->actions.Add(a);
        s->tracks.Add(t);
        gSequenceSystem->AddSequence(s);
        gSequenceSystem->StartSequence("S", false, true);
        Frame();
        EXPECT_EQ(Running("S"), r.waiting);
        EXPECT_EQ(gSequenceSystem->GetCounter(NameString("c")), r.increase * r.increases);
    }
}

TEST_F(SequenceTest, CountersSaturate) {
    gSequenceSystem->IncreaseCounter(NameString("big"), INT32_MAX);
    gSequenceSystem->IncreaseCounter(NameString("big"), 5);
    EXPECT_EQ(gSequenceSystem->GetCounter(NameString("big")), INT32_MAX);
    gSequenceSystem->IncreaseCounter(NameString("small"), INT32_MIN);
    gSequenceSystem->IncreaseCounter(NameString("small"), -1);
    EXPECT_EQ(gSequenceSystem->GetCounter(NameString("small")), INT32_MIN);
}

TEST_F(SequenceTest, NonSkippableWaitBlocksTheSkip) {
    auto* wait = Sem<SequenceActionWaitForGlobalSemaphore>("never");
    auto* skippableWait = Sem<SequenceActionWaitForSemaphore>("never");
    skippableWait->skippable = true;
    AddSequence("Hard", {{wait}}, true);
    AddSequence("Soft", {{skippableWait, Rec("after")}}, true);
    Sequence* hard = gSequenceSystem->StartSequence("Hard", false, true);
    Sequence* soft = gSequenceSystem->StartSequence("Soft", false, true);
    Frame();
    EXPECT_FALSE(hard->RequestSkip());
    EXPECT_TRUE(soft->RequestSkip());
    Frame();
    EXPECT_TRUE(hard->IsRunning());
    EXPECT_FALSE(soft->IsRunning());
    EXPECT_EQ(gEvents, (Events{"after:Start", "after:End"}));
}

TEST_F(SequenceTest, StopActionNamingItsOwnSequence) {
    auto* stop = Act<SequenceActionStopSequence>();
    stop->sequenceName = "Self";
    // Track 0 is busy before the stop, so the sequence ends on its next tick; tracks from
    // the stopping one on return at once.
    AddSequence("Self", {{Rec("busy", 5.0f)}, {stop, Rec("never")}, {Rec("later")}});
    Sequence* s = gSequenceSystem->StartSequence("Self", false, true);
    Frame();
    EXPECT_EQ(gEvents, (Events{"busy:Start"}));
    EXPECT_TRUE(s->IsRunning());
    EXPECT_TRUE(s->IsStopRequested());
    Frame();
    EXPECT_FALSE(s->IsRunning());
    EXPECT_FALSE(s->IsStopRequested());
    EXPECT_EQ(gEvents, (Events{"busy:Start", "busy:Stop"}));
}

TEST_F(SequenceTest, StartActionsAskTheDelegateFirst) {
    auto* start = Act<SequenceActionStartSequence>();
    start->sequenceName = "Target";
    start->gameplayTime = true;
    auto* missing = Act<SequenceActionStartSequence>();
    missing->sequenceName = "Nowhere";
    auto* cond = Act<SequenceActionConditionalSequence>();
    cond->ifYes = "Yes";
    cond->ifNo = "No";
    auto* check = Act<SequenceActionCheckGlobalSemaphore>();
    check->semaphore = "flag";
    check->ifYes = "Yes2";
    check->ifNo = "No2";
    auto* empty = Act<SequenceActionStartSequence>();
    AddSequence("Main", {{start, missing, cond, check, empty, Rec("end")}});
    for (const char* n : {"Target", "Yes", "No", "Yes2", "No2"}) AddSequence(n, {{Rec(n, 5.0f)}});
    gSequenceSystem->StartSequence("Main", false, true);
    Frame();
    EXPECT_EQ(delegate.asked, (std::vector<std::string>{"Target/gameplay", "Nowhere/game", "Yes/game", "No2/game"}));
    EXPECT_TRUE(Running("Target"));
    EXPECT_TRUE(gSequenceSystem->FindSequence("Target")->IsGameplayTime());
    EXPECT_TRUE(Running("Yes"));
    EXPECT_FALSE(Running("No"));
    EXPECT_TRUE(Running("No2"));
    // The track went on past the missing target.
    EXPECT_NE(std::find(gEvents.begin(), gEvents.end(), "end:End"), gEvents.end());
    EXPECT_TRUE(log.Contains("Sequence Nowhere cannot be found!"));
}

TEST_F(SequenceTest, HandledOverrideStartsNothing) {
    static int handled;
    delegate.answer = &handled;
    auto* start = Act<SequenceActionStartSequence>();
    start->sequenceName = "Target";
    AddSequence("Main", {{start}});
    AddSequence("Target", {{Rec("t", 5.0f)}});
    gSequenceSystem->StartSequence("Main", false, true);
    Frame();
    EXPECT_EQ(delegate.asked.size(), 1u);
    EXPECT_FALSE(Running("Target"));
}

TEST(SequenceActionFactoryTest, BuiltInEntriesMatchTheClassRegistryInOrder) {
    const char* order[] = {
        "SequenceActionStartSequence", "SequenceActionRaiseSemaphore", "SequenceActionClearSemaphore",
        "SequenceActionWaitForSemaphore", "SequenceActionWaitForGlobalSemaphore",
        "SequenceActionIncreaseGlobalCountingSemaphore", "SequenceActionRaiseGlobalSemaphore",
        "SequenceActionClearGlobalSemaphore", "SequenceActionStopSequence", "SequenceActionConditionalSequence",
        "SequenceActionCheckGlobalSemaphore", "SequenceActionWaitForGlobalCountingSemaphoreToReach",
    };
    SequenceActionFactory& f = *gSequenceActionFactory;
    ASSERT_GE(f.EntryCount(), 12u);
    int32_t previous = -1;
    for (uint32_t i = 0; i < 12; ++i) {
        SequenceActionClassEntry* e = f.EntryAt(i);
        EXPECT_STREQ(e->className.CStr(), order[i]);
        EXPECT_EQ(e->classIndex, NameRegistry::FindIndex(order[i]));
        EXPECT_GT(e->classIndex, previous);  // registered in this order
        previous = e->classIndex;
        EXPECT_FALSE(e->scriptDeclared);
        EXPECT_EQ(e->lookupParamIndex, -1);
        EXPECT_EQ(f.FindEntry(order[i]), e);
        RTTIPolyBaseClass* made = NameRegistry::CreateObject(order[i]);
        ASSERT_NE(made, nullptr);
        EXPECT_STREQ(static_cast<SequenceAction*>(made)->GetClassName(), order[i]);
        delete made;
    }
    EXPECT_EQ(f.FindEntry("SequenceAction"), nullptr);
    EXPECT_EQ(f.FindEntry("sequenceactionstartsequence"), nullptr);  // exact
    EXPECT_GE(NameRegistry::FindIndex("SequenceActionSemaphore"), 0);
}

TEST(SequenceActionDefaultsTest, PropertiesAndDefaults) {
    auto* counting = static_cast<SequenceActionWaitForGlobalCountingSemaphoreToReach*>(
        NameRegistry::CreateObject("SequenceActionWaitForGlobalCountingSemaphoreToReach"));
    EXPECT_FALSE(counting->IsSkippable());
    EXPECT_TRUE(counting->SetPropertyFromString("Value", "7"));
    EXPECT_EQ(counting->value, 7);
    delete counting;
}

// A delegate that stops every sequence from its start hook, reached from a start action in
// the middle of the pass.
struct StoppingDelegate : RecordingDelegate {
    void* OverrideStartSequence(const char* name, bool gameplayTime) override {
        RecordingDelegate::OverrideStartSequence(name, gameplayTime);
        gSequenceSystem->StopAllSequences(true, false, "");
        return nullptr;
    }
};

TEST_F(SequenceTest, StopAllFromTheDelegateDuringThePass) {
    StoppingDelegate stopping;
    GameEntityListsTestAccess::SetDelegate(*gGame, &stopping);
    auto* start = Act<SequenceActionStartSequence>();
    start->sequenceName = "Target";
    AddSequence("A", {{Rec("a", 5.0f)}});
    AddSequence("B", {{start, Rec("b2", 5.0f)}, {Rec("b3", 5.0f)}});
    AddSequence("C", {{Rec("c", 5.0f)}});
    AddSequence("Target", {{Rec("t", 5.0f)}});
    for (const char* n : {"A", "B", "C"}) gSequenceSystem->StartSequence(n, false, true);
    Frame();
    // Everything stopped; the target started after the stop and is the only one running,
    // ticked in the same pass.
    EXPECT_EQ(stopping.asked, (std::vector<std::string>{"Target/game"}));
    EXPECT_FALSE(Running("A") || Running("B") || Running("C"));
    EXPECT_TRUE(Running("Target"));
    EXPECT_EQ(gEvents, (Events{"a:Start", "a:Stop", "t:Start"}));
    Frame();
    EXPECT_TRUE(Running("Target"));
    GameEntityListsTestAccess::SetDelegate(*gGame, &delegate);
}
