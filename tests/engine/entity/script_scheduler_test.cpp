// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "engine/script/LuaTestSupport.h"
#include "core/Time.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/os/Clock.h"

namespace {

constexpr uint32_t kGameplaySelection = 4;  // the caller's choice of scheduler, kept as given

class SchedulerEntity : public Entity {
public:
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "SchedulerEntity"; }
    void RequestDelete(uint32_t callbackId) override {
        callbacks.push_back(callbackId);
        if (onCallback) onCallback(callbackId);
    }

    std::vector<uint32_t> callbacks;
    std::function<void(uint32_t)> onCallback;
};

// What the script function Cancel(text) cancels: the text calls of one entity.
ScriptScheduler* gCancelScheduler = nullptr;
Entity* gCancelEntity = nullptr;

int CancelFromScript(lua_State* L) {
    gCancelScheduler->CancelScriptCalls(gCancelEntity, lua_tostring(L, 1));
    return 0;
}

class ScriptSchedulerTest : public LuaHostTest {
protected:
    void SetUp() override {
        LuaHostTest::SetUp();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        gLua.RegisterClass("SchedulerEntity", "");
        Run("log = {}\n"
            "function SchedulerEntity:ScriptSchedulerHelper(text)\n"
            "  log[#log + 1] = text\n"
            "  if text == 'stop' then Cancel('stop') end\n"
            "  if text == 'cancel second' then Cancel('second') end\n"
            "  if text == 'cancel all' then Cancel(nil) end\n"
            "end");
        lua_register(L(), "Cancel", &CancelFromScript);
        gCancelScheduler = &scheduler;
        gCancelEntity = &entity;
    }
    void TearDown() override {
        scheduler.Clear();
        clock.Uninstall();
        Time::InitTimer();
        LuaHostTest::TearDown();
    }

    int64_t Now() const {
        Time t;
        t.LoadHardwareTime();
        return t.ticks;
    }
    void RunAfter(double seconds) {
        clock.AdvanceSeconds(seconds);
        scheduler.Run(Now());
    }
    // A text call without entity that appends its name to the script log.
    static std::string Append(const char* name) { return std::string("log[#log + 1] = '") + name + "'"; }
    std::string Log() {
        const std::string text = Eval("table.concat(log, ',')");
        Run("log = {}");
        return text;
    }

    os::ManualClock clock{5'000'000};
    ScriptScheduler scheduler;
    SchedulerEntity entity;
};

}  // namespace

TEST_F(ScriptSchedulerTest, DueCallsRunInTimeThenSchedulingOrderAndDestroyedTargetsDropTheirs) {
    const int64_t now = Now();
    auto* doomed = new SchedulerEntity;
    scheduler.ScheduleString(doomed, "never", now, 1.0f, SCRIPTSCHEDULER_REPEAT);
    scheduler.ScheduleCallbackId(doomed, 3, now, 1.0f, 0);
    delete doomed;
    scheduler.ScheduleString(nullptr, Append("a").c_str(), now, 1.0f, 0);
    scheduler.ScheduleString(nullptr, Append("late").c_str(), now, 2.0f, 0);
    scheduler.ScheduleString(nullptr, Append("b").c_str(), now, 1.0f, 0);
    scheduler.ScheduleString(nullptr, Append("early").c_str(), now, 0.5f, 0);
    scheduler.ScheduleString(&entity, "c", now, 1.0f, 0);
    scheduler.ScheduleString(nullptr, Append("d").c_str(), now, 1.0f, 0);
    RunAfter(0.25);
    EXPECT_EQ(Log(), "");
    RunAfter(0.75);
    EXPECT_EQ(Log(), "early,a,b,c,d");
    EXPECT_EQ(scheduler.Count(), 1u);
}

TEST_F(ScriptSchedulerTest, OnlyEntityCallsRepeat) {
    const int64_t now = Now();
    scheduler.ScheduleString(nullptr, Append("plain").c_str(), now, 1.0f, SCRIPTSCHEDULER_REPEAT);
    EXPECT_EQ(CountLogged("Only entity based scripts are allowed to repeat - ignoring"), 1);
    scheduler.ScheduleString(&entity, "tick", now, 1.0f, SCRIPTSCHEDULER_REPEAT | kGameplaySelection);
    scheduler.ScheduleCallbackId(&entity, 4, now, 1.0f, SCRIPTSCHEDULER_REPEAT);
    for (int i = 0; i < 3; ++i) RunAfter(1.0);
    EXPECT_EQ(Log(), "plain,tick,tick,tick");
    EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({4, 4, 4}));
    ASSERT_EQ(scheduler.Count(), 2u);
    EXPECT_EQ(scheduler.Record(0).flags & SCRIPTSCHEDULER_SELECTION, kGameplaySelection);
}

TEST_F(ScriptSchedulerTest, CancellingTextCallsSilencesThemUntilTheyFallDue) {
    const std::pair<const char*, const char*> kCases[] = {
        {nullptr, "other,plain"}, {"two", "one,other,plain"}, {"nothing", "one,two,other,plain"}};
    SchedulerEntity other;
    for (const auto& [text, log] : kCases) {
        SCOPED_TRACE(text ? text : "(null)");
        entity.callbacks.clear();
        const int64_t now = Now();
        scheduler.ScheduleString(&entity, "one", now, 1.0f, 0);
        scheduler.ScheduleString(&entity, "two", now, 1.0f, SCRIPTSCHEDULER_REPEAT);
        scheduler.ScheduleCallbackId(&entity, 7, now, 1.0f, 0);
        scheduler.ScheduleString(&other, "other", now, 1.0f, 0);
        scheduler.ScheduleString(nullptr, Append("plain").c_str(), now, 1.0f, 0);
        scheduler.CancelScriptCalls(&entity, text);
        EXPECT_EQ(scheduler.Count(), 5u);
        RunAfter(1.0);
        EXPECT_EQ(Log(), log);
        EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({7}));
        scheduler.Clear();
    }
}

TEST_F(ScriptSchedulerTest, CancellationsReachTheCallsOfThePassInFlight) {
    const int64_t now = Now();
    scheduler.ScheduleString(&entity, "stop", now, 1.0f, SCRIPTSCHEDULER_REPEAT);  // cancels itself
    scheduler.ScheduleCallbackId(&entity, 5, now, 1.0f, SCRIPTSCHEDULER_REPEAT);   // cancels itself
    scheduler.ScheduleString(&entity, "cancel second", now, 1.0f, 0);
    scheduler.ScheduleString(&entity, "second", now, 1.0f, 0);
    scheduler.ScheduleString(&entity, "third", now, 1.0f, 0);
    scheduler.ScheduleCallbackId(&entity, 1, now, 1.0f, 0);
    scheduler.ScheduleCallbackId(&entity, 2, now, 1.0f, SCRIPTSCHEDULER_REPEAT);
    entity.onCallback = [this](uint32_t id) { scheduler.CancelCallback(&entity, id == 1 ? 2 : id); };
    scheduler.ScheduleString(&entity, "cancel all", now, 1.5f, 0);
    scheduler.ScheduleString(&entity, "after all", now, 1.5f, 0);
    RunAfter(1.0);
    EXPECT_EQ(Log(), "stop,cancel second,third");
    EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({5, 1}));
    for (int i = 0; i < 3; ++i) RunAfter(1.0);
    EXPECT_EQ(Log(), "cancel all");
    EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({5, 1}));
    EXPECT_EQ(scheduler.Count(), 0u);
}

TEST_F(ScriptSchedulerTest, DelaysThatAreZeroNegativeOrNotANumberRunAtTheNextRun) {
    const std::pair<float, bool> kCases[] = {{0.0f, true},     {-3.0f, true},    {NAN, true},   {-INFINITY, true},
                                             {0.001f, false},  {INFINITY, false}, {1e30f, false}};
    uint32_t id = 0;
    for (const auto& [delay, runsNow] : kCases) {
        SCOPED_TRACE(delay);
        entity.callbacks.clear();
        const int64_t now = Now();
        scheduler.ScheduleCallbackId(&entity, ++id, now, delay, 0);
        int64_t due = 0;
        ASSERT_TRUE(scheduler.FindCallback(&entity, id, &due));
        EXPECT_GE(due, now) << "a due time never lies in the past";
        scheduler.Run(now);
        EXPECT_EQ(entity.callbacks.size(), runsNow ? 1u : 0u);
        scheduler.Clear();
    }
    // Far delays saturate instead of wrapping into the past.
    scheduler.ScheduleCallbackId(&entity, 99, INT64_MAX - 10, 5.0f, 0);
    int64_t due = 0;
    ASSERT_TRUE(scheduler.FindCallback(&entity, 99, &due));
    EXPECT_EQ(due, INT64_MAX);
}

TEST_F(ScriptSchedulerTest, CallsScheduledDuringARunWaitForTheNextRun) {
    const int64_t now = Now();
    entity.onCallback = [this](uint32_t id) {
        if (id == 1) scheduler.ScheduleCallbackId(&entity, 2, Now(), 0.0f, 0);
    };
    scheduler.ScheduleCallbackId(&entity, 1, now, 0.0f, 0);
    scheduler.ScheduleCallbackId(&entity, 3, now, 0.0f, SCRIPTSCHEDULER_REPEAT);
    scheduler.Run(now);
    EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({1, 3}));
    scheduler.Run(now);
    EXPECT_EQ(entity.callbacks, std::vector<uint32_t>({1, 3, 2, 3}));
}

TEST_F(ScriptSchedulerTest, FindCallbackGivesTheDueTimeOfTheFirstPendingCallback) {
    SchedulerEntity other;
    const int64_t now = Now();
    scheduler.ScheduleString(&entity, "text", now, 0.5f, 0);
    scheduler.ScheduleCallbackId(&entity, 9, now, 2.5f, 0);
    scheduler.ScheduleCallbackId(&entity, 9, now, 4.0f, 0);
    scheduler.ScheduleCallbackId(&other, 8, now, 1.0f, 0);
    int64_t due = 0;
    ASSERT_TRUE(scheduler.FindCallback(&entity, 9, &due));
    EXPECT_EQ(due - now, 25'000'000);
    scheduler.CancelCallback(&entity, 9);
    for (const auto& [e, id] : {std::pair<Entity*, uint32_t>{&entity, 8}, {&other, 9}, {&entity, 9}})
        EXPECT_FALSE(scheduler.FindCallback(e, id, &due)) << id;
    RunAfter(5.0);
    EXPECT_EQ(Log(), "text");
    EXPECT_TRUE(entity.callbacks.empty());
}
