// test-link: bindings
// test-sanitize: address
// The sequence tick: tracks, action statuses, skipping, deferred stops, pauses, starts and
// stops from inside the pass, the messages, progress records and the scene block; the
// built-in actions (semaphores, counters, start, stop, conditional start) and the factory's
// built-in entries; script-declared action classes (declaration, parameters, re-declaration
// passes) and the sequence spawner; the action factory, the spawner and the inspection
// functions reached from Lua through the globals the script host publishes.
#include <lua.hpp>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "SequenceTestSupport.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "engine/script/LuaWrapper.h"
#include "scene/startup/SceneStaticInit.h"

using namespace seqtest;
using Events = std::vector<std::string>;

TEST_F(SequenceTest, ZeroTimeActionsRunInOneFrameAndTheSequenceStops) {
    AddSequence("Intro", {{Rec("a"), Rec("b"), Rec("c")}});
    ASSERT_NE(gSequenceSystem->StartSequence("intro", false, true), nullptr);  // case-insensitive lookup
    Frame();
    EXPECT_EQ(gEvents, (Events{"a:Start", "a:End", "b:Start", "b:End", "c:Start", "c:End"}));
    EXPECT_EQ(gSequenceSystem->GetRunningCount(), 0u);
    EXPECT_FALSE(gSequenceSystem->FindSequence("Intro")->IsRunning());
}

TEST_F(SequenceTest, DisabledActionIsPassedWithoutHooks) {
    RecordingAction* off = Rec("off", 5.0f, SequenceAction::UPDATE_BUSY);
    off->editorFlags = SequenceAction::kEditorFlagDisabled;
    AddSequence("S", {{Rec("a"), off, Rec("b")}});
    gSequenceSystem->StartSequence("S", false, true);
    Frame();
    EXPECT_EQ(gEvents, (Events{"a:Start", "a:End", "b:Start", "b:End"}));
    EXPECT_EQ(gSequenceSystem->GetRunningCount(), 0u);
}

TEST_F(SequenceTest, UpdateStatusCodes) {
    struct Row {
        int32_t status;
        bool busyBeforeTime, busyAfterTime;
    } rows[] = {{0, true, false}, {1, true, true}, {2, false, false}, {7, true, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.status);
        gSequenceSystem->Clear();
        gEvents.clear();
        RecordingAction* a = Rec("a", 1.0f, r.status);
        AddSequence("S", {{a}});
        gSequenceSystem->StartSequence("S", false, true);
        Frame(0.0f);  // starts the action
        Frame(0.5f);
        EXPECT_EQ(gSequenceSystem->GetRunningCount() == 1, r.busyBeforeTime);
        if (!r.busyBeforeTime) continue;
        EXPECT_NEAR(a->lastElapsed, 0.5f, 1e-5f);
        EXPECT_NEAR(a->lastFraction, 0.5f, 1e-5f);
        Frame(0.6f);
        EXPECT_EQ(gSequenceSystem->GetRunningCount() == 1, r.busyAfterTime);
        EXPECT_FLOAT_EQ(a->lastElapsed, 1.0f);  // clamped to "Time"
    }
}

TEST_F(SequenceTest, ZeroLengthActionGetsFractionOne) {
    RecordingAction* a = Rec("a", 0.0f);
    AddSequence("S", {{Rec("first", 0, SequenceAction::UPDATE_FINISHED), a}});
    gSequenceSystem->StartSequence("S", false, true);
    Frame();
    EXPECT_FLOAT_EQ(a->lastFraction, 1.0f);
}

TEST_F(SequenceTest, SequencesFollowTheirOwnTimer) {
    RecordingAction* game = Rec("game", 1.0f);
    RecordingAction* gameplay = Rec("gameplay", 1.0f);
    AddSequence("G", {{game}});
    AddSequence("P", {{gameplay}});
    gSequenceSystem->StartSequence("G", false, true);
    gSequenceSystem->StartSequence("P", true, true);
    Frame(0.0f);
    gameServices.gameTimer.Tick(0.25f);
    gameServices.gameplayTimer.Tick(0.75f);
    gSequenceSystem->Tick();
    EXPECT_NEAR(game->lastElapsed, 0.25f, 1e-5f);
    EXPECT_NEAR(gameplay->lastElapsed, 0.75f, 1e-5f);
}

TEST_F(SequenceTest, SkipFinishesClockActionsButNotBusyOnes) {
    RecordingAction* clock = Rec("clock", 10.0f);
    AddSequence("Skip", {{clock, Rec("after")}}, true);
    Sequence* s = gSequenceSystem->StartSequence("Skip", false, true);
    Frame();
    ASSERT_TRUE(s->RequestSkip());
    Frame();
    EXPECT_TRUE(clock->lastSkipping);
    EXPECT_FLOAT_EQ(clock->lastElapsed, 10.0f);
    EXPECT_FALSE(s->IsRunning());

    gSequenceSystem->Clear();
    RecordingAction* busy = Rec("busy", 1.0f, SequenceAction::UPDATE_BUSY);
    AddSequence("Busy", {{busy}}, true);
    s = gSequenceSystem->StartSequence("Busy", false, true);
    Frame();
    ASSERT_TRUE(s->RequestSkip());
    Frame();
    EXPECT_TRUE(busy->lastSkipping);
    EXPECT_TRUE(s->IsRunning());
    EXPECT_FALSE(s->IsSkipRequested());  // cleared at the end of every tick
}

TEST_F(SequenceTest, SkipTestAsksEveryCurrentAction) {
    RecordingAction* stubborn = Rec("stubborn", 5.0f);
    stubborn->skippable = false;
    AddSequence("S", {{Rec("a", 5.0f)}, {stubborn}}, true);
    AddSequence("Unskippable", {{Rec("b", 5.0f)}}, false);
    Sequence* s = gSequenceSystem->StartSequence("S", false, true);
    Sequence* u = gSequenceSystem->StartSequence("Unskippable", false, true);
    Frame();
    EXPECT_FALSE(s->CanSkip());
    EXPECT_FALSE(u->CanSkip());
    stubborn->skippable = true;
    EXPECT_TRUE(s->CanSkip());
}

TEST_F(SequenceTest, AfterSkipStartsOnTheSameTickAndInheritsTheSkip) {
    RecordingAction* next = Rec("next", 3.0f);
    Sequence* first = AddSequence("First", {{Rec("a", 3.0f)}}, true);
    first->afterSkip = "Second";
    Sequence* second = AddSequence("Second", {{next, Rec("z")}}, true);
    gSequenceSystem->StartSequence("First", false, true);
    Frame();
    first->RequestSkip();
    Frame();
    // Started by First's tick, ticked in the same pass with the skip passed on.
    EXPECT_FALSE(first->IsRunning());
    EXPECT_TRUE(next->lastSkipping);
    EXPECT_FALSE(second->IsRunning());
    EXPECT_EQ(gEvents.back(), "z:End");
}

TEST_F(SequenceTest, DeferredStopWaitsForTheNextTickWhichDoesNothingElse) {
    RecordingAction* a = Rec("a", 5.0f);
    AddSequence("A", {{a}});
    AddSequence("B", {{Rec("b", 5.0f)}});
    gSequenceSystem->StartSequence("A", false, true);
    Frame();
    gSequenceSystem->GlobalSemaphores().Add(NameString("g"));
    gSequenceSystem->StopAllSequences(true, true, "B");
    EXPECT_TRUE(gSequenceSystem->FindSequence("A")->IsRunning());
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 1u);
    gEvents.clear();
    Frame();
    EXPECT_EQ(gEvents, (Events{"a:Stop"}));  // B started but not ticked
    EXPECT_FALSE(gSequenceSystem->FindSequence("A")->IsRunning());
    EXPECT_TRUE(gSequenceSystem->FindSequence("B")->IsRunning());
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 0u);
    Frame();
    EXPECT_EQ(gEvents.back(), "b:Start");
}

TEST_F(SequenceTest, StopAllReleasesHeldPausesOnBothGameplayTimers) {
    gSequenceSystem->AddGameplayPause();
    gSequenceSystem->AddGameplayPause();
    EXPECT_EQ(gameServices.gameplayTimer.PauseCount(), 2u);
    EXPECT_EQ(gameServices.smoothGameplayTimer.PauseCount(), 2u);
    gSequenceSystem->StopAllSequences(false, false, "");
    EXPECT_EQ(gSequenceSystem->GetGameplayPauseCount(), 0u);
    EXPECT_EQ(gameServices.gameplayTimer.PauseCount(), 0u);
    EXPECT_EQ(gameServices.smoothGameplayTimer.PauseCount(), 0u);
    EXPECT_EQ(gameServices.gameTimer.PauseCount(), 0u);
}

TEST_F(SequenceTest, SequenceStartedDuringThePassIsTickedInItInOrder) {
    RecordingAction* starter = Rec("starter");
    starter->onStart = [] { gSequenceSystem->StartSequence("Late", false, true); };
    AddSequence("Early", {{starter, Rec("early2", 5.0f)}});
    AddSequence("Late", {{Rec("late", 5.0f)}});
    AddSequence("Other", {{Rec("other", 5.0f)}});
    gSequenceSystem->StartSequence("Early", false, true);
    gSequenceSystem->StartSequence("Other", false, true);
    Frame();
    EXPECT_EQ(gEvents, (Events{"starter:Start", "starter:End", "early2:Start", "other:Start", "late:Start"}));
    ASSERT_EQ(gSequenceSystem->Running().Count(), 3u);
    EXPECT_STREQ(gSequenceSystem->Running()[2]->GetName(), "Late");
}

TEST_F(SequenceTest, StopAllFromInsideThePassStopsEverything) {
    RecordingAction* stopper = Rec("stopper");
    stopper->onStart = [this] {
        // What a delegate reached from a start hook might do.
        gSequenceSystem->StopAllSequences(true, false, "");
        delegate.asked.push_back("stopped");
    };
    AddSequence("A", {{Rec("a", 5.0f)}});
    AddSequence("B", {{stopper, Rec("b2", 5.0f)}, {Rec("b3", 5.0f)}});
    AddSequence("C", {{Rec("c", 5.0f)}});
    gSequenceSystem->StartSequence("A", false, true);
    gSequenceSystem->StartSequence("B", false, true);
    gSequenceSystem->StartSequence("C", false, true);
    Frame();
    EXPECT_EQ(gEvents, (Events{"a:Start", "stopper:Start", "a:Stop", "stopper:Stop"}));
    EXPECT_EQ(gSequenceSystem->Running().Count(), 0u);
    for (const char* n : {"A", "B", "C"}) EXPECT_FALSE(gSequenceSystem->FindSequence(n)->IsRunning()) << n;
    Frame();  // nothing left to tick
    EXPECT_EQ(gEvents.size(), 4u);
}

TEST_F(SequenceTest, StartMessages) {
    AddSequence("Run", {{Rec("r", 5.0f)}});
    Sequence* off = AddSequence("Off", {{Rec("o")}});
    off->unusedEditorFlag = true;
    EXPECT_EQ(gSequenceSystem->StartSequence(nullptr, false, true), nullptr);
    EXPECT_EQ(gSequenceSystem->StartSequence("Missing", false, false), nullptr);
    EXPECT_TRUE(log.Messages().empty());
    EXPECT_EQ(gSequenceSystem->StartSequence("Missing", false, true), nullptr);
    EXPECT_EQ(gSequenceSystem->StartSequence("Off", false, true), nullptr);
    ASSERT_NE(gSequenceSystem->StartSequence("Run", false, true), nullptr);
    EXPECT_EQ(gSequenceSystem->StartSequence("Run", false, true), nullptr);
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "Sequence Missing cannot be found!");
    EXPECT_EQ(messages[1].text, "Skipping sequence Off (disabled in editor).");
    EXPECT_EQ(messages[2].text, "Sequence Run already started!");
    const uint8_t severities[] = {4, 3, 4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].severity, severities[i]);
        EXPECT_EQ(messages[i].category, 4);
    }
}

TEST_F(SequenceTest, LogWritesTheStateLines) {
    auto* raise = Act<SequenceActionRaiseSemaphore>();
    raise->semaphore = "local";
    auto* wait = Act<SequenceActionWaitForSemaphore>();
    wait->semaphore = "never";
    AddSequence("S", {{raise, wait}});
    gSequenceSystem->StartSequence("S", false, true);
    Frame();
    gSequenceSystem->GlobalSemaphores().Add(NameString("G1"));
    log.Clear();
    gSequenceSystem->Log(2, 4);
    const Events expected = {
        "//===== Active Sequences Begin ======//",
        "\t\t//===== Sequence: S Begin",
        "\t\t\t//===== Active Semaphores Begin",
        "\t\t\tSemaphore: local",
        "\t\t\t//===== Active Semaphores End",
        "\t\t\t\t//===== Track Begin",
        "\t\t\t\t\t\tActiveSequenceIndex: 1",
        "\t\t\t\t\t\t0.) Action: SequenceActionRaiseSemaphore, skippable: true",
        "\t\t\t\t\t\t1.) Action: SequenceActionWaitForSemaphore, skippable: false",
        "\t\t\t\t//===== Track End",
        "\t\t//===== Sequence: S End",
        "//===== Active Sequences End ======//",
        "//===== Raised Global Semaphores Begin ======//",
        "Semaphore: G1",
        "//===== Raised Global Semaphores End ======//",
        "//=====================================//",
    };
    EXPECT_EQ(Lines(), expected);
    for (auto& m : log.Messages()) {
        EXPECT_EQ(m.severity, 2);
        EXPECT_EQ(m.category, 4);
    }
}

TEST_F(SequenceTest, ProgressRoundTripAndShortRead) {
    SequenceAction a;
    GameTimer timer;
    timer.ResetTime(50'000'000);
    a.startTime = 30'000'000;  // 2 s ago
    Dynarray<uint8_t> bytes;
    a.SaveProgress(bytes, timer);
    ASSERT_EQ(bytes.Count(), 4u);
    SequenceAction b;
    timer.ResetTime(90'000'000);
    BoundedReader in(bytes.begin(), bytes.Count());
    b.LoadProgress(in, timer);
    EXPECT_EQ(b.startTime, 70'000'000);
    BoundedReader shortInput(bytes.begin(), 3);
    b.LoadProgress(shortInput, timer);
    EXPECT_EQ(b.startTime, 90'000'000);
    // A record that does not convert to ticks counts as 0.
    for (float bad : {1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        uint8_t raw[4];
        std::memcpy(raw, &bad, 4);
        BoundedReader badInput(raw, 4);
        b.LoadProgress(badInput, timer);
        EXPECT_EQ(b.startTime, 90'000'000) << bad;
    }
}

TEST_F(SequenceTest, InspectionNumbersParametersDerivedClassFirst) {
    auto* wait = Act<SequenceActionWaitForGlobalCountingSemaphoreToReach>(1.5f);
    wait->semaphore = "count";
    wait->value = 3;
    AddSequence("A", {{wait}});
    AddSequence("b", {});
    SequenceSystem& s = *gSequenceSystem;
    EXPECT_EQ(s.GetSequenceCount(), 2u);
    EXPECT_EQ(s.GetSequenceIndex("b"), 1);
    EXPECT_EQ(s.GetSequenceIndex("B"), -1);  // exact, unlike FindSequence
    ASSERT_EQ(s.GetParamCount(0, 0, 0), 8u);
    const char* names[] = {"Value", "Skippable", "Semaphore", "Time", "Minimal start time", "EditorHelperTime",
                           "Designer comment", "Editor flags"};
    const int32_t types[] = {9, 19, 21, 8, 8, 8, 21, 10};
    for (uint32_t p = 0; p < 8; ++p) {
        EXPECT_STREQ(s.GetParamName(0, 0, 0, p), names[p]);
        EXPECT_EQ(s.GetParamType(0, 0, 0, p), types[p]);
    }
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 0), 3);
    EXPECT_STREQ(s.GetStringParamValue(0, 0, 0, 2), "count");
    EXPECT_EQ(s.GetStringParamValue(0, 0, 0, 0), nullptr);  // never a pointer from a number
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 2), 0);
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 3), 1);  // float truncated
    EXPECT_FLOAT_EQ(s.GetFloatParamValue(0, 0, 0, 3), 1.5f);
    EXPECT_STREQ(s.GetActionName(0, 0, 0), "SequenceActionWaitForGlobalCountingSemaphoreToReach");
    log.Clear();
    // Out of range: nil, 0, -1 or false, one warning each.
    EXPECT_EQ(s.GetSequenceName(5), nullptr);
    EXPECT_EQ(s.GetTracksCount(5), 0u);
    EXPECT_EQ(s.GetTrackName(0, 3), nullptr);
    EXPECT_EQ(s.GetActionsCount(1, 0), 0u);
    EXPECT_EQ(s.GetActionName(0, 0, 1), nullptr);
    EXPECT_FALSE(s.IsActionDisabled(0, 1, 0));
    EXPECT_EQ(s.GetParamType(0, 0, 0, 8), -1);
    EXPECT_EQ(s.GetParamName(0, 0, 0, 99), nullptr);
    EXPECT_EQ(s.GetStringParamValue(9, 0, 0, 0), nullptr);
    EXPECT_EQ(log.Messages().size(), 9u);
}

namespace {

std::vector<uint8_t> Serialize(const RTTIPolyBaseClass& o) {
    std::vector<uint8_t> bytes(o.SolidSerialize(nullptr, 0));
    o.SolidSerialize(bytes.data(), 0);
    return bytes;
}

}  // namespace

TEST_F(SequenceTest, SceneBlockRoundTripsPolymorphicActions) {
    auto* start = Act<SequenceActionStartSequence>();
    start->sequenceName = "Beta";
    start->gameplayTime = true;
    auto* count = Act<SequenceActionWaitForGlobalCountingSemaphoreToReach>(2.0f);
    count->semaphore = "kills";
    count->value = 4;
    auto* check = Act<SequenceActionCheckGlobalSemaphore>();
    check->semaphore = "door";
    check->ifYes = "Open";
    Sequence* alpha = AddSequence("Alpha", {{start, count}, {check, Act<SequenceAction>(1.0f)}}, true);
    alpha->afterSkip = "Beta";
    alpha->tracks[0]->name = "Main";
    AddSequence("Beta", {{Act<SequenceActionRaiseGlobalSemaphore>()}});
    const std::vector<uint8_t> block = Serialize(*gSequenceSystem);

    gSequenceSystem->StartSequence("Alpha", false, true);
    gSequenceSystem->GlobalSemaphores().Add(NameString("left over"));
    gSequenceSystem->IncreaseCounter(NameString("kills"), 9);
    gSequenceSystem->AddGameplayPause();
    BoundedReader in(block.data(), block.size());
    ASSERT_TRUE(ReadSequenceBlock(in));
    EXPECT_EQ(in.Remaining(), 0u);
    // The pre-read hook emptied the running list and both semaphore sets; pauses stay.
    EXPECT_EQ(gSequenceSystem->Running().Count(), 0u);
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 0u);
    EXPECT_EQ(gSequenceSystem->GetCounter(NameString("kills")), 0);
    EXPECT_EQ(gSequenceSystem->GetGameplayPauseCount(), 1u);
    EXPECT_EQ(Serialize(*gSequenceSystem), block);
    Sequence* read = gSequenceSystem->FindSequence("alpha");
    ASSERT_NE(read, nullptr);
    EXPECT_STREQ(read->GetName(), "Alpha");
    EXPECT_STREQ(read->tracks[1]->actions[0]->GetClassName(), "SequenceActionCheckGlobalSemaphore");
    // The read sequences run.
    ASSERT_NE(gSequenceSystem->StartSequence("Alpha", false, true), nullptr);
    Frame();
    EXPECT_TRUE(gSequenceSystem->FindSequence("Beta")->IsRunning() || gSequenceSystem->GlobalSemaphores().Count() == 1);
    gSequenceSystem->StopAllSequences(true, false, "");
}

TEST_F(SequenceTest, UnsortedBlockIsSortedWithOneWarning) {
    AddSequence("a", {});
    AddSequence("B", {});
    AddSequence("c", {});
    std::vector<uint8_t> block = Serialize(*gSequenceSystem);
    // Swap the one-letter names "a" and "c" in place (a stored name is a presence byte,
    // the characters and a NUL): the stored order becomes c, B, a.
    for (size_t i = 0; i + 2 < block.size(); ++i) {
        if (block[i] != 1 || block[i + 2] != 0) continue;
        if (block[i + 1] == 'a') block[i + 1] = 'c';
        else if (block[i + 1] == 'c') block[i + 1] = 'a';
    }
    log.Clear();
    BoundedReader in(block.data(), block.size());
    ASSERT_TRUE(ReadSequenceBlock(in));
    const auto& seqs = gSequenceSystem->Sequences();
    ASSERT_EQ(seqs.Count(), 3u);
    EXPECT_STREQ(seqs[0]->GetName(), "a");
    EXPECT_STREQ(seqs[1]->GetName(), "B");
    EXPECT_STREQ(seqs[2]->GetName(), "c");
    EXPECT_EQ(log.Messages().size(), 1u);
    EXPECT_NE(gSequenceSystem->FindSequence("A"), nullptr);
}

TEST_F(SequenceTest, CorruptBlockFailsCleanly) {
    AddSequence("Alpha", {{Act<SequenceActionRaiseSemaphore>()}});
    std::vector<uint8_t> block = Serialize(*gSequenceSystem);
    block.resize(block.size() - 3);
    BoundedReader in(block.data(), block.size());
    EXPECT_FALSE(ReadSequenceBlock(in));
    Frame();
}

TEST_F(SequenceTest, AbsentTracksAndActionsInABlockAreDropped) {
    Sequence* s = AddSequence("Holes", {{Act<SequenceActionRaiseGlobalSemaphore>()}});
    static_cast<SequenceActionRaiseGlobalSemaphore*>(s->tracks[0]->actions[0])->semaphore = "ran";
    s->tracks[0]->actions.Add(nullptr);
    s->tracks.Add(nullptr);
    const std::vector<uint8_t> block = Serialize(*gSequenceSystem);
    BoundedReader in(block.data(), block.size());
    ASSERT_TRUE(ReadSequenceBlock(in));
    Sequence* read = gSequenceSystem->FindSequence("Holes");
    ASSERT_EQ(read->tracks.Count(), 1u);
    EXPECT_EQ(read->tracks[0]->actions.Count(), 1u);
    ASSERT_NE(gSequenceSystem->StartSequence("Holes", false, true), nullptr);
    Frame();
    EXPECT_EQ(gSequenceSystem->GlobalSemaphores().Count(), 1u);
}

// ---- The built-in actions ----

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
    auto* start = Act<SequenceActionStartSequence>();
    start->sequenceName = "Target";
    AddSequence("Main", {{start}});
    AddSequence("Target", {{Rec("t", 5.0f)}});
    delegate.answer = AddSequence("StartedInstead", {{Rec("i", 5.0f)}});
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
    Sequence* OverrideStartSequence(const char* name, bool gameplayTime) override {
        RecordingDelegate::OverrideStartSequence(name, gameplayTime);
        gSequenceSystem->StopAllSequences(true, false, "");
        return nullptr;
    }
};

TEST_F(SequenceTest, StopAllFromTheDelegateDuringThePass) {
    StoppingDelegate stopping;
    gameServices.delegate = &stopping;
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
    gameServices.delegate = &delegate;
}

// ---- Script-declared actions and the spawner ----

namespace {

SequenceActionFactory& Factory() { return *gSequenceActionFactory; }

// Each test declares its classes under names of its own: the class-name registry keeps
// every name for the process's life.
int32_t Declare(const char* name, const char* base = "SequenceAction", bool instant = false,
                std::initializer_list<std::pair<const char*, const char*>> params = {}) {
    const int32_t index = Factory().RegisterLuaSequenceActionClass(name, base, instant, nullptr);
    for (auto& p : params) Factory().AddLuaSequenceActionParam(index, p.first, p.second);
    return index;
}

LuaSequenceAction* Make(const char* name) {
    return dynamic_cast<LuaSequenceAction*>(NameRegistry::CreateObject(name));
}

std::vector<std::string> ParamNames(LuaSequenceAction* a) {
    std::vector<std::string> out;
    for (LuaSequenceActionParam* p : a->Params()) out.push_back(std::string(p->typeName.CStr()) + " " + p->name.CStr());
    return out;
}

}  // namespace

TEST_F(SequenceTest, DeclaredClassesMakeInstancesWithTypedParameters) {
    const int32_t index = Declare("ScriptSay", "SequenceAction", false,
                                  {{"Text", "string"}, {"Loud", "bool"}, {"Volume", "float"}, {"Count", "int"},
                                   {"Ignored", "double"}});
    ASSERT_GE(index, 0);
    EXPECT_EQ(index, NameRegistry::FindIndex("ScriptSay"));
    EXPECT_EQ(Declare("ScriptSay", "Other", true), index);  // the same index, arguments ignored
    LuaSequenceAction* a = Make("ScriptSay");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->time, 1.0f);  // not instant
    EXPECT_STREQ(a->GetClassName(), "ScriptSay");
    EXPECT_EQ(ParamNames(a), (std::vector<std::string>{"bool Loud", "int Count", "float Volume", "string Text"}));
    a->SetStringParam("Text", "hello");
    a->SetIntParam("Count", 3);
    a->SetFloatParam("Volume", 0.5f);
    a->SetBoolParam("Loud", true);
    a->SetIntParam("Text", 9);  // no int "Text": nothing
    EXPECT_EQ(a->GetIntParam("Text"), 0);
    EXPECT_STREQ(a->GetStringParam("Text"), "hello");

    AddSequence("S", {{a}});
    SequenceSystem& s = *gSequenceSystem;
    ASSERT_EQ(s.GetParamCount(0, 0, 0), 4u + 5u);
    const char* names[] = {"Text", "Loud", "Volume", "Count", "Time"};
    const int32_t types[] = {12, 19, 8, 9, 8};
    for (uint32_t p = 0; p < 5; ++p) {
        EXPECT_STREQ(s.GetParamName(0, 0, 0, p), names[p]);
        EXPECT_EQ(s.GetParamType(0, 0, 0, p), types[p]);
    }
    EXPECT_STREQ(s.GetStringParamValue(0, 0, 0, 0), "hello");
    EXPECT_TRUE(s.GetBoolParamValue(0, 0, 0, 1));
    EXPECT_FLOAT_EQ(s.GetFloatParamValue(0, 0, 0, 2), 0.5f);
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 3), 3);
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 1), 1);

    // Through a property blob and back.
    std::vector<uint8_t> blob(a->SolidSerialize(nullptr, 0));
    a->SolidSerialize(blob.data(), 0);
    LuaSequenceAction* b = Make("ScriptSay");
    BoundedReader in(blob.data(), blob.size());
    b->SolidDeserialize(in, 0);
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_STREQ(b->GetStringParam("Text"), "hello");
    EXPECT_EQ(b->GetIntParam("Count"), 3);
    EXPECT_FLOAT_EQ(b->GetFloatParam("Volume"), 0.5f);
    EXPECT_TRUE(b->GetBoolParam("Loud"));
    EXPECT_EQ(b->time, 1.0f);
    EXPECT_TRUE(b->SetPropertyFromString("Count", "12"));
    EXPECT_EQ(b->GetIntParam("Count"), 12);
    delete b;
}

TEST_F(SequenceTest, BaseClassesAndRefusedNames) {
    // The factory keeps its classes for the process's life: each run declares its own.
    static int run = 0;
    const std::string suffix = std::to_string(++run);
    const std::string baseName = "ScriptBase" + suffix, derivedName = "ScriptDerived" + suffix,
                      onBuiltInName = "ScriptOnBuiltIn" + suffix;
    const int32_t base = Declare(baseName.c_str(), "SequenceAction", true, {{"Shared", "int"}});
    Declare(derivedName.c_str(), baseName.c_str(), false, {{"Own", "float"}});
    LuaSequenceAction* d = Make(derivedName.c_str());
    EXPECT_EQ(ParamNames(d), (std::vector<std::string>{"float Own", "int Shared"}));
    d->SetIntParam("Shared", 4);
    AddSequence("S", {{d}});
    EXPECT_EQ(gSequenceSystem->GetParamCount(0, 0, 0), 2u + 5u);
    EXPECT_EQ(gSequenceSystem->GetIntParamValue(0, 0, 0, 1), 4);
    EXPECT_GE(base, 0);

    log.Clear();
    Declare(onBuiltInName.c_str(), "SequenceActionStartSequence", true, {{"P", "bool"}});
    EXPECT_EQ(log.Messages().size(), 1u);  // chained to "SequenceAction" with a warning
    SequenceActionClassEntry* e = Factory().FindEntry(onBuiltInName.c_str());
    EXPECT_STREQ(e->baseClassName.CStr(), "SequenceActionStartSequence");
    EXPECT_STREQ(e->descriptor->Base()->Name(), "SequenceAction");
    LuaSequenceAction* onBuiltIn = Make(onBuiltInName.c_str());
    EXPECT_EQ(onBuiltIn->time, 0.0f);  // instant
    delete onBuiltIn;

    log.Clear();
    EXPECT_EQ(Factory().RegisterLuaSequenceActionClass("SequenceSystem", "", false, nullptr), -1);
    EXPECT_EQ(Factory().RegisterLuaSequenceActionClass("SequenceActionSemaphore", "", false, nullptr), -1);
    EXPECT_EQ(log.Messages().size(), 2u);
    EXPECT_EQ(Factory().FindEntry("SequenceSystem"), nullptr);
}

TEST_F(SequenceTest, LookupNames) {
    const uint32_t before = Factory().LookupNames().Count();
    // Names of this test's own, for each run: the factory keeps every name for the process's life.
    static int run = 0;
    const std::string suffix = std::to_string(++run);
    const std::string a = "ScriptLookupA" + suffix, b = "ScriptLookupB" + suffix, cName = "ScriptLookupC" + suffix,
                      target = "LookupTarget" + suffix;
    Factory().RegisterLuaSequenceActionClass(a.c_str(), "", false, target.c_str());
    Factory().RegisterLuaSequenceActionClass(b.c_str(), "", false, target.c_str());
    const int32_t c = Factory().RegisterLuaSequenceActionClass(cName.c_str(), "", false, "");
    EXPECT_EQ(Factory().LookupNames().Count(), before + 1);
    EXPECT_EQ(Factory().FindEntry(a.c_str())->lookupParamIndex, static_cast<int32_t>(before));
    EXPECT_EQ(Factory().FindEntry(b.c_str())->lookupParamIndex, static_cast<int32_t>(before));
    EXPECT_EQ(Factory().FindEntry(cName.c_str())->lookupParamIndex, -1);
    Factory().AddSequenceActionLookupParamName(c, "x");
    Factory().AddSequenceActionLookupParamName(c, "x");
    Factory().AddSequenceActionLookupParamName(c, nullptr);
    Factory().AddSequenceActionLookupParamName(c, "");
    EXPECT_EQ(Factory().FindEntry(cName.c_str())->lookupParamNames.Count(), 2u);
}

TEST_F(SequenceTest, RedeclarationMigratesLiveInstances) {
    const int32_t index =
        Declare("ScriptMigrate", "SequenceAction", false, {{"Keep", "int"}, {"Old", "float"}, {"Retyped", "int"}});
    LuaSequenceAction* first = Make("ScriptMigrate");
    LuaSequenceAction* second = Make("ScriptMigrate");
    first->SetIntParam("Keep", 5);
    second->SetIntParam("Keep", 6);
    first->SetFloatParam("Old", 2.5f);
    first->SetIntParam("Retyped", 8);
    AddSequence("S", {{first, second}});

    Factory().BeginLuaActionsSync();
    EXPECT_TRUE(Factory().FindEntry("ScriptMigrate")->redeclarationMark);
    EXPECT_EQ(Declare("ScriptMigrate", "SequenceAction", false,
                      {{"Keep", "int"}, {"New", "string"}, {"Retyped", "float"}}),
              index);
    EXPECT_FALSE(Factory().FindEntry("ScriptMigrate")->redeclarationMark);
    Factory().EndLuaActionsSync();

    for (LuaSequenceAction* a : {first, second})
        EXPECT_EQ(ParamNames(a), (std::vector<std::string>{"int Keep", "int Retyped", "string New"}));
    EXPECT_EQ(first->GetIntParam("Keep"), 5);
    EXPECT_EQ(second->GetIntParam("Keep"), 6);
    EXPECT_EQ(first->GetStringParam("New"), nullptr);
    // The old int record stays; read as the declared float it gives 0.
    EXPECT_EQ(first->GetFloatParam("Retyped"), 0.0f);
    EXPECT_EQ(gSequenceSystem->GetParamType(0, 0, 0, 2), 8);
    EXPECT_EQ(gSequenceSystem->GetFloatParamValue(0, 0, 0, 2), 0.0f);
    // New instances follow the new declaration.
    LuaSequenceAction* fresh = Make("ScriptMigrate");
    EXPECT_EQ(ParamNames(fresh), (std::vector<std::string>{"int Keep", "float Retyped", "string New"}));
    delete fresh;
    EXPECT_EQ(Factory().FindEntry("ScriptMigrate")->liveInstances.Count(), 2u);
}

TEST_F(SequenceTest, SpawnerTurnsWaitsIntoStartOffsetsAndSplitsTracks) {
    Declare("LuaSequenceActionWait", "SequenceAction", false);
    Declare("ScriptStep", "SequenceAction", true, {{"Label", "string"}});
    SequenceSpawner& sp = *gSequenceSpawner;
    sp.BeginSequenceSpawn("Spawned");
    sp.AppendTrack("Main");
    ASSERT_TRUE(sp.AppendAction("ScriptStep"));  // A, "Time" 0
    sp.AppendActionParam("Label", "A");
    ASSERT_TRUE(sp.AppendAction("LuaSequenceActionWait"));
    sp.AppendActionParam("Time", "2");
    ASSERT_TRUE(sp.AppendAction("ScriptStep"));  // B
    sp.AppendActionParam("Label", "B");
    sp.AppendTrack("Timed");
    for (const char* t : {"1", "0.5"}) {
        ASSERT_TRUE(sp.AppendAction("SequenceActionRaiseGlobalSemaphore"));
        sp.AppendActionParam("Time", t);
        ASSERT_TRUE(sp.AppendAction("LuaSequenceActionWait"));
        sp.AppendActionParam("Time", "3");
    }
    log.Clear();
    EXPECT_FALSE(sp.AppendAction("NoSuchAction"));
    sp.AppendActionParam("Time", "9");  // after a failed action: nothing
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Action NoSuchAction not found in class factory! Ommiting...");
    EXPECT_EQ(messages[0].severity, 3);
    EXPECT_EQ(messages[0].category, 2);
    sp.EndSequenceSpawn();

    Sequence* s = gSequenceSystem->FindSequence("spawned");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->tracks.Count(), 3u);
    EXPECT_STREQ(s->tracks[0]->name.CStr(), "Main");
    EXPECT_STREQ(s->tracks[1]->name.CStr(), "Track001");
    EXPECT_STREQ(s->tracks[2]->name.CStr(), "Timed");
    ASSERT_EQ(s->tracks[0]->actions.Count(), 1u);
    ASSERT_EQ(s->tracks[1]->actions.Count(), 1u);
    auto* b = static_cast<LuaSequenceAction*>(s->tracks[1]->actions[0]);
    EXPECT_STREQ(b->GetStringParam("Label"), "B");
    EXPECT_FLOAT_EQ(b->minimalStartTime, 2.0f);
    ASSERT_EQ(s->tracks[2]->actions.Count(), 2u);  // no time 0: one track
    EXPECT_FLOAT_EQ(s->tracks[2]->actions[0]->minimalStartTime, 0.0f);
    EXPECT_FLOAT_EQ(s->tracks[2]->actions[1]->minimalStartTime, 4.0f);

    // A spawned sequence starts by name and runs.
    ASSERT_NE(gSequenceSystem->StartSequence("Spawned", false, true), nullptr);
    Frame();
    EXPECT_TRUE(s->IsRunning());
}

TEST_F(SequenceTest, SpawnerKeepsAnExistingSequenceAndIgnoresCallsOutOfOrder) {
    Sequence* existing = AddSequence("Dup", {{Rec("x", 5.0f)}});
    SequenceSpawner& sp = *gSequenceSpawner;
    sp.AppendTrack("before begin");
    EXPECT_FALSE(sp.AppendAction("SequenceActionRaiseSemaphore"));
    sp.EndSequenceSpawn();
    sp.BeginSequenceSpawn("DUP");
    EXPECT_FALSE(sp.AppendAction("SequenceActionRaiseSemaphore"));  // no track yet
    sp.AppendTrack("t");
    EXPECT_TRUE(sp.AppendAction("SequenceActionRaiseSemaphore"));
    sp.EndSequenceSpawn();
    EXPECT_EQ(gSequenceSystem->GetSequenceCount(), 1u);
    EXPECT_EQ(gSequenceSystem->FindSequence("Dup"), existing);
    EXPECT_EQ(existing->tracks.Count(), 1u);
    // An unfinished spawn is dropped by the next begin.
    sp.BeginSequenceSpawn("Unfinished");
    sp.AppendTrack("t");
    sp.BeginSequenceSpawn("Second");
    sp.EndSequenceSpawn();
    EXPECT_EQ(gSequenceSystem->FindSequence("Unfinished"), nullptr);
    EXPECT_NE(gSequenceSystem->FindSequence("Second"), nullptr);
    EXPECT_EQ(sp.GetLuaSequenceFilename(), nullptr);
}

namespace {

// A sequence block written by the independent property-list writer.
std::vector<uint8_t> ToolBlock(const std::string& json) { return shelltest::PropList("sequence", json); }

}  // namespace

TEST_F(SequenceTest, ToolWrittenBlockLoadsTicksAndWritesBackTheSameBytes) {
    const int32_t c = Declare("ToolScriptAction", "SequenceAction", false,
                              {{"Loud", "bool"}, {"Count", "int"}, {"Gain", "float"}, {"Line", "string"}});
    ASSERT_GE(c, 0);
    const std::vector<uint8_t> block = ToolBlock(
        R"({"sequences":[)"
        R"({"name":"Intro","skippable":true,"after_skip":"Outro","tracks":[)"
        R"({"name":"Main","actions":[{"class":"SequenceActionRaiseGlobalSemaphore","semaphore":"door"},)"
        R"({"class":"SequenceActionIncreaseGlobalCountingSemaphore","semaphore":"n","value":2},)"
        R"({"class":"ToolScriptAction","script":true,"time":0.5,"params":[["Loud","bool",true],["Count","int",7],)"
        R"(["Gain","float",0.25],["Line","string","hi"]]},)"
        R"({"class":"SequenceActionWaitForGlobalCountingSemaphoreToReach","semaphore":"n","value":2,"skippable":true},)"
        R"({"class":"SequenceActionStartSequence","sequence":"Outro","gameplay_time":true}]},)"
        R"({"name":"Side","group":"g","in_group":true,"actions":[{"class":"SequenceActionCheckGlobalSemaphore",)"
        R"("semaphore":"door","if_yes":"Yes","if_no":"No","time":0.1,"comment":"c","editor_flags":0}]}]},)"
        R"({"name":"Outro","tracks":[{"name":"t","actions":[{"class":"SequenceActionWaitForGlobalSemaphore","semaphore":"door"}]}]},)"
        R"({"name":"Yes","disabled":true,"repeating":true}]})");
    ASSERT_FALSE(block.empty());
    BoundedReader in(block.data(), block.size());
    ASSERT_TRUE(ReadSequenceBlock(in));
    EXPECT_EQ(in.Remaining(), 0u);
    std::vector<uint8_t> again(gSequenceSystem->SolidSerialize(nullptr, 0));
    gSequenceSystem->SolidSerialize(again.data(), 0);
    EXPECT_EQ(again, block);

    SequenceSystem& s = *gSequenceSystem;
    ASSERT_EQ(s.GetSequenceCount(), 3u);
    EXPECT_TRUE(s.IsSequenceDisabled(2));
    EXPECT_TRUE(s.IsSequenceRepeatingAllowed(2));
    EXPECT_STREQ(s.GetActionName(0, 0, 2), "ToolScriptAction");
    EXPECT_EQ(s.GetIntParamValue(0, 0, 2, 1), 7);
    EXPECT_STREQ(s.GetStringParamValue(0, 0, 2, 3), "hi");
    EXPECT_FLOAT_EQ(s.GetFloatParamValue(0, 0, 2, 4), 0.5f);  // its "Time"
    ASSERT_NE(s.StartSequence("Intro", false, true), nullptr);
    Frame();  // raise, increase, then the script action follows its clock
    EXPECT_TRUE(SequenceSystem::SetHolds(s.GlobalSemaphores(), NameString("door")));
    EXPECT_EQ(s.GetCounter(NameString("n")), 2);
    Frame(0.6f);  // the wait is met, Outro starts (and finds the door raised)
    EXPECT_TRUE(s.FindSequence("Outro")->IsRunning() || log.Contains("Skipping sequence Yes"));
    Frame();
    EXPECT_EQ(s.GetRunningCount(), 0u);
    EXPECT_TRUE(log.Contains("Skipping sequence Yes (disabled in editor)."));
}

// ---- From Lua ----

namespace {

class SequenceLuaTest : public SequenceTest {
protected:
    void SetUp() override {
        SequenceTest::SetUp();
        InstallSceneServices();
        gLua.Init();
    }
    void TearDown() override {
        gLua.Close();
        SequenceTest::TearDown();
    }
    std::string Global(const char* name) {
        lua_getglobal(gLua.GetState(), name);
        const char* s = lua_tostring(gLua.GetState(), -1);
        std::string out = s ? s : "nil";
        lua_pop(gLua.GetState(), 1);
        return out;
    }
};

}  // namespace

TEST_F(SequenceLuaTest, DeclareSpawnAndInspectFromLua) {
    ASSERT_TRUE(gLua.ExecuteString(R"(
        local f = gSequenceActionFactory
        local i = f:RegisterLuaSequenceActionClass("LuaSay", "SequenceAction", false, "Target")
        f:AddLuaSequenceActionParam(i, "Text", "string")
        f:AddLuaSequenceActionParam(i, "Volume", "float")
        f:AddLuaSequenceActionParam(i, "Count", "int")
        f:AddLuaSequenceActionParam(i, "Loud", "bool")
        f:AddSequenceActionLookupParamName(i, "Text")
        Same = tostring(f:RegisterLuaSequenceActionClass("LuaSay", "", true) == i)
        Builtin = tostring(f:RegisterLuaSequenceActionClass("SequenceActionRaiseSemaphore", "", true))
        Taken = tostring(f:RegisterLuaSequenceActionClass("SequenceActionSemaphore", "", true))
        f:RegisterLuaSequenceActionClass("LuaSequenceActionWait", "SequenceAction", false)

        local s = gSequenceSpawner
        s:BeginSequenceSpawn("FromLua")
        s:AppendTrack("Main")
        s:AppendAction("LuaSay")
        s:AppendActionParam("Count", "5")
        s:AppendActionParam("Text", "hello")
        s:AppendActionParam("Time", "0")
        s:AppendAction("LuaSequenceActionWait")
        s:AppendActionParam("Time", "2")
        s:AppendAction("SequenceActionRaiseGlobalSemaphore")
        s:AppendActionParam("Semaphore", "done")
        Missing = tostring(s:AppendAction("NoSuchAction"))
        s:EndSequenceSpawn()

        local q = gSequenceSystem
        local n = q:GetSequenceIndex("FromLua")
        local parts = {}
        for p = 0, q:GetParamCount(n, 0, 0) - 1 do
            parts[#parts + 1] = q:GetParamName(n, 0, 0, p) .. ":" .. q:GetParamType(n, 0, 0, p)
        end
        Params = table.concat(parts, " ")
        Values = q:GetIntParamValue(n, 0, 0, 2) .. " " .. q:GetStringParamValue(n, 0, 0, 0) .. " " ..
                 tostring(q:GetBoolParamValue(n, 0, 0, 3)) .. " " .. tostring(q:GetStringParamValue(n, 0, 0, 2)) .. " " .. q:GetTracksCount(n) .. " " ..
                 q:GetTrackName(n, 1) .. " " .. q:GetActionName(n, 1, 0)
        Nil = tostring(q:GetActionName(n, 5, 0))
    )"));
    EXPECT_EQ(Global("Same"), "true");
    // A built-in's name answers its entry's index; a name the class registry holds for
    // another class is refused.
    EXPECT_EQ(Global("Builtin"), std::to_string(NameRegistry::FindIndex("SequenceActionRaiseSemaphore")));
    EXPECT_EQ(Global("Taken"), "-1");
    EXPECT_EQ(Global("Missing"), "false");
    // The class's own parameters in declaration order, then "SequenceAction"'s five.
    EXPECT_EQ(Global("Params"),
              "Text:12 Volume:8 Count:9 Loud:19 Time:8 Minimal start time:8 EditorHelperTime:8 Designer comment:21 "
              "Editor flags:10");
    EXPECT_EQ(Global("Values"), "5 hello false nil 2 Track001 SequenceActionRaiseGlobalSemaphore");
    // The instance's table: bool, int, float, string.
    auto* say = static_cast<LuaSequenceAction*>(gSequenceSystem->FindSequence("FromLua")->tracks[0]->actions[0]);
    std::string table;
    for (LuaSequenceActionParam* p : say->Params()) table += std::string(p->typeName.CStr()) + " ";
    EXPECT_EQ(table, "bool int float string ");
    EXPECT_EQ(Global("Nil"), "nil");
    EXPECT_TRUE(log.Contains("Action NoSuchAction not found in class factory! Ommiting..."));
    Sequence* s = gSequenceSystem->FindSequence("FromLua");
    ASSERT_NE(s, nullptr);
    EXPECT_FLOAT_EQ(s->tracks[1]->actions[0]->minimalStartTime, 2.0f);

    ASSERT_TRUE(gLua.ExecuteString(R"(
        gSequenceActionFactory:BeginLuaActionsSync()
        local i = gSequenceActionFactory:RegisterLuaSequenceActionClass("LuaSay", "", false)
        gSequenceActionFactory:AddLuaSequenceActionParam(i, "Count", "int")
        gSequenceActionFactory:AddLuaSequenceActionParam(i, "Speaker", "string")
        gSequenceActionFactory:EndLuaActionsSync()
        local q = gSequenceSystem
        local n = q:GetSequenceIndex("FromLua")
        After = q:GetParamCount(n, 0, 0) .. " " .. q:GetIntParamValue(n, 0, 0, 0) .. " " .. q:GetParamName(n, 0, 0, 1)
    )"));
    EXPECT_EQ(Global("After"), "7 5 Speaker");
}
