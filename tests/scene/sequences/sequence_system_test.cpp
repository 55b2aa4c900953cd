// test-sanitize: address
// The sequence tick: tracks, action statuses, skipping, deferred stops, pauses, starts and
// stops from inside the pass, the messages, progress records and the scene block.
#include <cstring>
#include <limits>

#include "SequenceTestSupport.h"
#include "core/BoundedReader.h"

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
    gGame->GetGameTimer().Tick(0.25f);
    gGame->GetGameplayTimer().Tick(0.75f);
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
    EXPECT_EQ(gGame->GetGameplayTimer().PauseCount(), 2u);
    EXPECT_EQ(gGame->GetSmoothGameplayTimer().PauseCount(), 2u);
    gSequenceSystem->StopAllSequences(false, false, "");
    EXPECT_EQ(gSequenceSystem->GetGameplayPauseCount(), 0u);
    EXPECT_EQ(gGame->GetGameplayTimer().PauseCount(), 0u);
    EXPECT_EQ(gGame->GetSmoothGameplayTimer().PauseCount(), 0u);
    EXPECT_EQ(gGame->GetGameTimer().PauseCount(), 0u);
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
