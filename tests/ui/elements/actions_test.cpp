// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Timed actions frame by frame on a manual clock: channel order, repeats, easing, the
// clocks, the refusals, fades, deletion and the requests that build them.
#include <gtest/gtest.h>

#include "CaptureLogSink.h"
#include "UIElementTestSupport.h"
#include "core/Time.h"
#include "engine/NumpyReference.h"
#include "platform/os/Clock.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIViewState.h"

using namespace uitest;

namespace {

// An action that records when it starts and what it applies.
class ProbeAction : public UIAction {
public:
    ProbeAction(float duration, uint32_t flags, uint32_t channel, std::vector<std::string>* events, const char* name)
        : UIAction(duration, flags, channel), events(events), name(name) {}
    ~ProbeAction() override { events->push_back(std::string(name) + " destroyed"); }
    void OnStart() override { events->push_back(std::string(name) + " start " + std::to_string(startStamp)); }
    void Apply(float e) override { events->push_back(std::string(name) + " apply " + std::to_string(e)); }
    std::vector<std::string>* events;
    const char* name;
};

struct ActionsTest : ::testing::Test {
    void SetUp() override {
        saved = gUIViewState;
        clock.Install();
        ticksPerSecond = Time::Base().frequency;
        log.Attach();
        element = new UIElement();
    }
    void TearDown() override {
        if (element) element->Release();
        log.Detach();
        clock.Uninstall();
        gUIViewState = saved;
    }
    // One UI frame: op 25 with the game clocks at `seconds`, then the tree draw's tick.
    void Frame(double seconds, UIElement* e = nullptr) {
        clock.Set(Time::Base().start + int64_t(seconds * double(ticksPerSecond)));
        const int64_t t = int64_t(seconds * double(ticksPerSecond));
        PostUIViewTransform(nullptr, t, t / 2, 1000, 500, 1, 1, Vector());
        (e ? e : element)->TickActions();
    }
    int64_t Ticks(double seconds) const { return int64_t(seconds * double(ticksPerSecond)); }

    UIViewState saved;
    os::ManualClock clock;
    int64_t ticksPerSecond = 0;
    CaptureLogSink log;
    UIElement* element = nullptr;
    std::vector<std::string> events;
};

}  // namespace

TEST_F(ActionsTest, TheNextActionStartsInTheFrameTheFirstFinishes) {
    for (uint32_t firstFlags : {0u, uint32_t(UIACTIONFLAG_DONOTWAIT)}) {
        events.clear();
        Frame(0);
        element->PostAddAction(new ProbeAction(1.0f, firstFlags, 0, &events, "a"));
        element->PostAddAction(new ProbeAction(1.0f, 0, 0, &events, "b"));
        Frame(0.5);
        Frame(1.0);
        Frame(1.5);
        std::vector<std::string> want;
        if (firstFlags) {
            want = {"a start " + std::to_string(Ticks(0.5)), "a apply 0.000000", "b start " + std::to_string(Ticks(0.5)),
                    "b apply 0.000000", "a apply 0.500000", "b apply 0.500000", "a apply 1.000000", "a destroyed",
                    "b apply 1.000000", "b destroyed"};
        } else {
            want = {"a start " + std::to_string(Ticks(0.5)), "a apply 0.000000", "a apply 0.500000",
                    "a apply 1.000000", "a destroyed", "b start " + std::to_string(Ticks(1.5)), "b apply 0.000000"};
        }
        EXPECT_EQ(events, want) << "first flags " << firstFlags;
        element->RemoveActions(-1);
    }
}

TEST_F(ActionsTest, AnActionFinishedByItsStartIsStillUpdatedOnce) {
    // A start that finds nothing to do finishes the action; the update of the same tick
    // still runs (and applies), then the action goes.
    struct FinishingProbe : ProbeAction {
        using ProbeAction::ProbeAction;
        void OnStart() override {
            ProbeAction::OnStart();
            state = STATE_FINISHED;
        }
    };
    Frame(0);
    element->PostAddAction(new FinishingProbe(1.0f, 0, 0, &events, "f"));
    Frame(0.25);
    const std::vector<std::string> want = {"f start " + std::to_string(Ticks(0.25)), "f apply 0.000000",
                                           "f destroyed"};
    EXPECT_EQ(events, want);
}

TEST_F(ActionsTest, ARepeatingActionRestampsEachCycle) {
    Frame(0);
    element->PostAddAction(new ProbeAction(1.0f, UIACTIONFLAG_REPEAT, 2, &events, "r"));
    Frame(0.25);
    Frame(1.25);  // finishes, goes back to the tail; starts again next frame
    Frame(1.5);
    Frame(2.5);
    Frame(2.75);
    const std::vector<std::string> want = {
        "r start " + std::to_string(Ticks(0.25)), "r apply 0.000000", "r apply 1.000000",
        "r start " + std::to_string(Ticks(1.5)),  "r apply 0.000000", "r apply 1.000000",
        "r start " + std::to_string(Ticks(2.75)), "r apply 0.000000"};
    EXPECT_EQ(events, want);
}

TEST_F(ActionsTest, TwoZeroLengthRepeatsOnOneChannelFinishTheFrame) {
    Frame(0);
    element->Wait(0, UIACTIONFLAG_REPEAT, 1);
    element->Wait(0, UIACTIONFLAG_REPEAT, 1);
    Frame(0.1);  // returns: each action ticks at most once per frame
    Frame(0.2);
    UIAction* a = element->Render().actionHeads[1];
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a->next, nullptr);
}

TEST_F(ActionsTest, EasingAgainstTheReference) {
    struct Case {
        uint32_t easing;
        float t;
    } cases[] = {{1, 0.5f}, {3, 0.5f}, {4, 0.25f}, {2, 0.3f}, {0, 0.7f}, {6, 0.7f}};
    std::string input;
    for (const Case& c : cases) input += "E " + std::to_string(c.easing & 4 && c.easing > 4 ? 0 : c.easing) + " " +
                                         FloatBits(c.t) + "\n";
    const std::vector<std::string> want = RunNumpyReference("../ui/elements/ui_reference.py", input);
    ASSERT_EQ(want.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(NearUlps(UIAction::Ease(cases[i].easing, cases[i].t), BitsToFloat(want[i]), 1))
            << "easing " << cases[i].easing;
    EXPECT_EQ(UIAction::Ease(1, 0.5f), 0.70710677f);
    EXPECT_EQ(UIAction::Ease(3, 0.5f), 0.5f);
    EXPECT_NEAR(UIAction::Ease(4, 0.25f), 0.6186f, 1e-4f);
}

TEST_F(ActionsTest, TheClockFollowsTheFlags) {
    // The game clock runs at t, the gameplay clock at t / 2, the hardware clock at t.
    struct Case {
        uint32_t flags;
        float progressAtOneSecond;
    } cases[] = {{0, 0.5f}, {UIACTIONFLAG_GAMEPLAYTIME, 0.25f}, {UIACTIONFLAG_SYSTEMTIME, 0.5f},
                 {UIACTIONFLAG_GAMEPLAYTIME | UIACTIONFLAG_SYSTEMTIME, 0.5f}};
    for (const Case& c : cases) {
        element->SetPosition(Vector(0, 0, 0, 1));
        Frame(0);
        element->Move(2.0f, Vector(100, 0, 0, 1), c.flags, 0);
        Frame(0);
        Frame(1);
        EXPECT_FLOAT_EQ(element->Render().position.x, 100 * c.progressAtOneSecond) << c.flags;
        element->RemoveActions(0);
    }
    // A default of gameplay time applies to a Move requested with flags 0.
    element->SetDefaultActionFlags(UIACTIONFLAG_GAMEPLAYTIME, false);
    element->SetPosition(Vector(0, 0, 0, 1));
    Frame(0);
    element->Move(2.0f, Vector(100, 0, 0, 1), 0, 0);
    Frame(0);
    Frame(1);
    EXPECT_FLOAT_EQ(element->Render().position.x, 25.0f);
}

// A request whose allocation fails must get null back rather than a constructor run on
// null memory: only a non-throwing allocation function makes the new-expression check.
static_assert(noexcept(UIAction::operator new(sizeof(UIAction))), "a failed action allocation yields null");

TEST_F(ActionsTest, RefusalsAndChannels) {
    element->PostAddAction(nullptr);  // what a failed allocation posts: ignored
    EXPECT_EQ(element->Render().actionHeads[0], nullptr);
    element->Hide();
    element->Move(1.0f, Vector(5, 5, 0, 1), 0, 0);
    EXPECT_EQ(element->Render().actionHeads[0], nullptr);
    EXPECT_TRUE(log.Contains("Attempt to add UI action to an invisible element. Ignoring..."));
    element->Show();
    element->Wait(1.0f, 0, 4);
    bool logged = false;
    for (const auto& m : log.Messages())
        logged = logged || (m.text == "Action channel out of range [4/4]" && m.severity == 4 && m.category == 2);
    EXPECT_TRUE(logged);
    // REMOVEOTHERACTIONS clears the channel first.
    element->PostAddAction(new ProbeAction(1.0f, 0, 3, &events, "old"));
    element->PostAddAction(new ProbeAction(1.0f, UIACTIONFLAG_REMOVEOTHERACTIONS, 3, &events, "new"));
    EXPECT_EQ(events, std::vector<std::string>{"old destroyed"});
    EXPECT_EQ(element->Render().actionHeads[3], element->Render().actionTails[3]);
    // A channel outside -1 and 0-3 removes nothing.
    element->RemoveActions(7);
    element->RemoveActions(-2);
    EXPECT_NE(element->Render().actionHeads[3], nullptr);
    element->RemoveAllActions(uint32_t(-1));
    EXPECT_EQ(element->Render().actionHeads[3], nullptr);
}

TEST_F(ActionsTest, FadesShowAndHide) {
    element->SetLinearColor(Vector(1, 1, 1, 0.25f));
    element->Hide();
    Frame(0);
    element->ShowAndBlendIn(1.0f, 0, 0);
    EXPECT_TRUE(element->IsVisible());                            // main copy at once
    EXPECT_FALSE(element->Render().flags & UIFLAG_HIDDEN);        // shown when attached
    Frame(0);
    Frame(0.5f);
    EXPECT_FLOAT_EQ(element->Render().color.w, 0.625f);
    Frame(1.0f);
    EXPECT_EQ(element->Render().color.w, 1.0f);

    element->BlendOutAndHide(1.0f, 0, 0);
    EXPECT_FALSE(element->IsVisible());
    EXPECT_FALSE(element->Render().flags & UIFLAG_HIDDEN);  // hidden by the action at its end
    Frame(1.0f);
    Frame(2.0f);
    EXPECT_EQ(element->Render().color.w, 0.0f);
    EXPECT_TRUE(element->Render().flags & UIFLAG_HIDDEN);

    // A fade-out cut short still hides.
    element->Show();
    element->BlendOutAndHide(1.0f, 0, 1);
    Frame(2.0f);
    Frame(2.5f);
    element->RemoveAllActions(1);
    EXPECT_TRUE(element->Render().flags & UIFLAG_HIDDEN);
}

TEST_F(ActionsTest, ADeleteBehindAMoveFiresAfterIt) {
    UIElement* parent = new UIElement();
    UIElement* doomed = new UIElement();
    parent->AddChild(doomed);
    Frame(0, doomed);
    doomed->Move(1.0f, Vector(10, 0, 0, 1), 0, 0);
    doomed->Delete(0, 0);
    const uint32_t pending = UIElement::PendingDeletionCount();
    Frame(0, doomed);  // the move starts
    Frame(0.5, doomed);
    EXPECT_EQ(UIElement::PendingDeletionCount(), pending);
    Frame(1.0, doomed);
    EXPECT_EQ(UIElement::PendingDeletionCount(), pending + 1);
    EXPECT_EQ(doomed->Render().flags & 0x100002u, 0x100002u);
    EXPECT_EQ(doomed->Render().parent, nullptr);
    EXPECT_EQ(parent->Render().firstChild, nullptr);
    EXPECT_EQ(parent->GetFirstChild(), doomed);  // the main side learns of it at the hand-over
    // Hand it over and release it.
    UIElement::ProcessPendingDeletion();
    const uint32_t destroyed = UIElement::DestroyedCount();
    UIElement::FinishPendingDeletion();
    EXPECT_EQ(UIElement::DestroyedCount(), destroyed + 1);
    EXPECT_EQ(parent->GetFirstChild(), nullptr);
    parent->Release();
}

TEST_F(ActionsTest, AReleasedElementsActionsGoUnapplied) {
    UIElement* e = new UIElement();
    Frame(0, e);
    e->PostAddAction(new ProbeAction(1.0f, 0, 0, &events, "p"));
    e->BlendOutAndHide(1.0f, 0, 1);
    Frame(0.5, e);
    events.clear();
    e->Release();
    EXPECT_EQ(events, std::vector<std::string>{"p destroyed"});
}

TEST_F(ActionsTest, RequestTargets) {
    struct Case {
        void (*request)(UIElement*);
        Vector UIElementRenderHalf::*field;
        Vector target;
    } cases[] = {
        {[](UIElement* e) { e->Move2(0, 3, 4, 0, 0); }, &UIElementRenderHalf::position, {3, 4, 0, 1}},
        {[](UIElement* e) { e->Move3(0, 3, 4, 5, 0, 0); }, &UIElementRenderHalf::position, {3, 4, 5, 1}},
        {[](UIElement* e) { e->Rotate(0, 45.0f, 0, 0); }, &UIElementRenderHalf::rotation, {0, 0, 45, 0}},
        {[](UIElement* e) { e->Rotate3(0, 1, 2, 3, 0, 0); }, &UIElementRenderHalf::rotation, {1, 2, 3, 0}},
        {[](UIElement* e) { e->Scale(0, 2.0f, 0, 0); }, &UIElementRenderHalf::scale, {2, 2, 2, 1}},
        {[](UIElement* e) { e->Scale3(0, 1, 2, 3, 0, 0); }, &UIElementRenderHalf::scale, {1, 2, 3, 1}},
        {[](UIElement* e) { e->ChangeSize(0, Vector(8, 9, 0, 0), 0, 0); }, &UIElementRenderHalf::size, {8, 9, 0, 0}},
        {[](UIElement* e) { e->ChangeLinearColor(0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0); }, &UIElementRenderHalf::color,
         {0.5f, 0.5f, 0.5f, 0.5f}},
        {[](UIElement* e) { e->ChangeColor(0, 1, 0, 1, 0.5f, 0, 0); }, &UIElementRenderHalf::color, {1, 0, 1, 0.5f}},
    };
    for (const Case& c : cases) {
        Frame(0);
        c.request(element);
        Frame(0);
        EXPECT_TRUE(SameVector(element->Render().*c.field, c.target))
            << (element->Render().*c.field).x << " " << (element->Render().*c.field).y << " "
            << (element->Render().*c.field).z << " " << (element->Render().*c.field).w;
    }
}
