#pragma once
// Sequences built in code for the sequence tests, a recording action and the Game's
// timers (a stand-in Game) driven by hand.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/TestGameServices.h"
#include "engine/delegate/GameDelegate.h"
#include "scene/sequences/LuaSequenceAction.h"
#include "scene/sequences/SequenceActions.h"
#include "scene/sequences/SequenceSystem.h"

namespace seqtest {

inline std::vector<std::string> gEvents;

// An action that notes its hooks as "name:Start", "name:End", "name:Stop" and answers
// Update with a fixed status (or runs a hook of the test's).
struct RecordingAction : SequenceAction {
    std::string label;
    int32_t status = UPDATE_FOLLOW_CLOCK;
    bool skippable = true;
    std::function<void()> onStart;
    float lastElapsed = -1, lastFraction = -1;
    bool lastSkipping = false;
    const char* GetClassName() const override { return "RecordingAction"; }
    bool IsSkippable() const override { return skippable; }
    void OnStart(Sequence*, bool) override {
        gEvents.push_back(label + ":Start");
        if (onStart) onStart();
    }
    void OnEnd(Sequence*, bool) override { gEvents.push_back(label + ":End"); }
    void OnStop(Sequence*) override { gEvents.push_back(label + ":Stop"); }
    int32_t Update(Sequence*, float elapsed, float fraction, bool skipping) override {
        lastElapsed = elapsed, lastFraction = fraction, lastSkipping = skipping;
        return status;
    }
};

inline RecordingAction* Rec(const char* label, float time = 0.0f, int32_t status = 0) {
    auto* a = new RecordingAction();
    a->label = label;
    a->time = time;
    a->status = status;
    return a;
}

template <class T>
T* Act(float time = 0.0f) {
    auto* a = new T();
    a->time = time;
    return a;
}

inline Sequence* AddSequence(const char* name, std::initializer_list<std::vector<SequenceAction*>> tracks,
                             bool skippable = false) {
    auto* s = new Sequence();
    s->name = name;
    s->skippable = skippable;
    for (const auto& actions : tracks) {
        auto* t = new SequenceTrack();
        for (SequenceAction* a : actions) t->actions.Add(a);
        s->tracks.Add(t);
    }
    EXPECT_TRUE(gSequenceSystem->AddSequence(s));
    return s;
}

struct RecordingDelegate : GameDelegate {
    std::vector<std::string> asked;
    Sequence* answer = nullptr;
    Sequence* OverrideStartSequence(const char* name, bool gameplayTime) override {
        asked.push_back(std::string(name) + (gameplayTime ? "/gameplay" : "/game"));
        return answer;
    }
};

class SequenceTest : public testing::Test {
protected:
    void SetUp() override {
        gEvents.clear();
        log.Attach();
        gSequenceSystem->Init(nullptr, true);
        gameServices.delegate = &delegate;
        gameServices.gameTimer.ResetTime(1000);
        gameServices.gameplayTimer.ResetTime(5000);
        log.Clear();
    }
    void TearDown() override {
        gSequenceSystem->Clear();
        gameServices.delegate = nullptr;
        log.Detach();
    }
    // Advances both clocks, then runs one sequence tick.
    void Frame(float seconds = 0.1f) {
        gameServices.gameTimer.Tick(seconds);
        gameServices.gameplayTimer.Tick(seconds);
        gSequenceSystem->Tick();
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> out;
        for (auto& m : log.Messages()) out.push_back(m.text);
        return out;
    }

    CaptureLogSink log;
    TestGameServices gameServices;  // the Game's clocks and delegate
    RecordingDelegate delegate;
};

}  // namespace seqtest
