// test-sanitize: thread address
// Lists with the real render thread: the list ops, the drag, the glide and easing back run
// on render frames whose clock is a manual one; the fixed entry's cases and the round
// list's ring.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "render/RenderTestSupport.h"
#include "core/Time.h"
#include "platform/os/Clock.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIText.h"
#include "ui/recipes/UIElementRecipe.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/widgets/UIList.h"
#include "ui/widgets/UIWidgetRecipes.h"

namespace {

constexpr float kUIHeight = 144;
constexpr double kFrame = 1.0 / 60.0;

UIElementRecipe* Recipe(const char* name, float height) {
    auto* r = new UIElementRecipe;
    r->name = name;
    r->size = Vector(100, height, 0, 0);
    return r;
}

struct ListsTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        InstallUIServices();
        SetUISizeOverride(256, kUIHeight);
        clock.Install();
        clock.Set(Time::Base().frequency);  // one second in
        Frame(0);
    }
    void TearDown() override {
        if (list) list->Release();
        gVornexRenderer.FlushCommands(true);
        UIElement::FinishPendingDeletion();
        gVornexRenderer.FlushCommands(true);
        clock.Uninstall();
        SetUISizeOverride(0, 0);
        RendererFixture::TearDown();
        InstallUIServices();
    }
    // A render frame dt seconds after the last: the frame clocks, then the list's update.
    void Frame(double dt, bool update = true) {
        clock.AdvanceSeconds(dt);
        const RenderFrameClock c{clock.Now(), float(dt)};
        gVornexRenderer.PostFrameParams(c, c, c, 1);
        if (update && list) rendertest::RunOnRenderThread([this] { list->RenderFrameUpdate(); });
        gVornexRenderer.FlushCommands(true);
    }
    UIListRenderHalf State() {
        UIListRenderHalf out;
        rendertest::RunOnRenderThread([&] { out = list->ListRender(); });
        return out;
    }
    // A list of the height with n entries of the row height (through a recipe, as a
    // stored list would have them).
    void MakeList(float height, uint32_t n, float row) {
        listRecipe.reset(Recipe("List", height));
        listRecipe->children.Add(Recipe("Row", row));
        listRecipe->children.Add(Recipe("FixedEntry", row));
        list = new UIList;
        list->SetRecipe(listRecipe.get(), nullptr);
        list->SetSize(100, height);
        for (uint32_t i = 0; i < n; ++i) ASSERT_NE(list->AddListElement("Row", false), nullptr);
    }
    // The pointer after moving by dy UI units.
    Vector Pointer(float dy) { return pointer = Vector(0.5f, pointer.y + dy / kUIHeight, 0, 0); }

    os::ManualClock clock;
    std::unique_ptr<UIElementRecipe> listRecipe;
    UIList* list = nullptr;
    Vector pointer{0.5f, 0.5f, 0, 0};
};

}  // namespace

TEST_F(ListsTest, AFastReleaseGlidesAtTheMaximumSpeedAndStopsWithinASecond) {
    ASSERT_TRUE(created);
    MakeList(100, 100, 20);  // 2000 units of content: no end is reached
    list->OnPress();
    list->OnDrag(Pointer(0));   // starts the drag
    list->OnDrag(Pointer(-10)); // the last step: 10 units up
    Frame(0.05, false);
    list->OnRelease();
    gVornexRenderer.FlushCommands(true);
    UIListRenderHalf s = State();
    EXPECT_EQ(s.state, UILIST_GLIDING);
    EXPECT_FLOAT_EQ(s.velocity, -1500.0f);  // 10 * 10 / 0.05 = 2000, clamped
    EXPECT_FLOAT_EQ(s.deceleration, 1500.0f);
    EXPECT_EQ(list->Entry(0)->glideMark, 0);
    double t = 0;
    while (State().state == UILIST_GLIDING && t < 2.0) Frame(kFrame), t += kFrame;
    EXPECT_LE(t, 1.0 + 1.5 * kFrame);
    EXPECT_GE(t, 1.0 - 2 * kFrame);
    // About 750 units on top of the dragged 10 (the speed falls linearly).
    s = State();
    EXPECT_LT(s.scrollOffset, -10.0f - 700.0f);
    EXPECT_GT(s.scrollOffset, -10.0f - 760.0f);
    for (int i = 0; i < 3; ++i) Frame(kFrame);
    EXPECT_EQ(State().state, UILIST_IDLE);
    EXPECT_EQ(list->Entry(0)->glideMark, 1);
}

TEST_F(ListsTest, PullingPastTheTopRefusesAndEasesBackFivePercentAFrame) {
    ASSERT_TRUE(created);
    MakeList(100, 10, 20);
    list->OnPress();
    list->OnDrag(Pointer(0));
    list->OnDrag(Pointer(30));  // 30 down: accepted (the top was within 25)
    list->OnDrag(Pointer(10));  // refused: 30 - 25 > 0
    list->OnRelease();          // dt 0: no speed
    gVornexRenderer.FlushCommands(true);
    UIListRenderHalf s = State();
    EXPECT_FLOAT_EQ(s.scrollOffset, 30.0f);
    EXPECT_FALSE(s.settled);
    EXPECT_FLOAT_EQ(s.velocity, 0.0f);
    Frame(kFrame);  // straight to easing back
    EXPECT_EQ(State().state, UILIST_EASINGBACK);
    float previous = 30.0f;
    int frames = 0;
    while (State().state == UILIST_EASINGBACK && frames < 200) {
        Frame(kFrame);
        ++frames;
        const float now = State().scrollOffset;
        EXPECT_FLOAT_EQ(now, previous * 0.95f) << frames;
        previous = now;
    }
    EXPECT_LT(previous, 1.0f);
    EXPECT_EQ(frames, 67);  // 30 * 0.95^67 < 1 <= 30 * 0.95^66
    Frame(kFrame);
    EXPECT_EQ(State().state, UILIST_IDLE);
    // The content element follows the offset.
    Vector position;
    rendertest::RunOnRenderThread([&] { position = list->Content()->Render().position; });
    EXPECT_FLOAT_EQ(position.y, previous);
}

TEST_F(ListsTest, AListLeftPastAnEndWithinTheMarginEasesBack) {
    ASSERT_TRUE(created);
    struct Case {
        float pull;  // one drag step (UI units), never refused
        float rest;  // where the list comes to rest
    };
    for (const Case& c : {Case{20, 0}, Case{-115, -100}}) {  // past the top; past the bottom
        MakeList(100, 10, 20);
        list->OnPress();
        list->OnDrag(Pointer(0));
        list->OnDrag(Pointer(c.pull));
        list->OnRelease();  // no speed
        gVornexRenderer.FlushCommands(true);
        EXPECT_FLOAT_EQ(State().scrollOffset, c.pull);
        for (int i = 0; i < 200 && State().state != UILIST_IDLE; ++i) Frame(kFrame);
        EXPECT_EQ(State().state, UILIST_IDLE) << c.pull;
        EXPECT_NEAR(State().scrollOffset, c.rest, 1.0f) << c.pull;
        list->Release();
        list = nullptr;
    }
}

TEST_F(ListsTest, TheFixedEntryFadesInBelowTheWindowAndOutInsideIt) {
    ASSERT_TRUE(created);
    MakeList(100, 7, 20);
    ASSERT_NE(list->AddListElement("Row", true), nullptr);  // entry 7 gets the fixed copy
    for (int i = 0; i < 2; ++i) list->AddListElement("Row", true);
    UIElement* fixed = list->FixedEntry();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(list->FixedEntryIndex(), 7);
    EXPECT_EQ(list->VisibleRows(), 5);  // 100 / (160 / 8)
    EXPECT_TRUE(fixed->IsVisible());    // row 7 is below the five rows shown
    struct Case {
        float scroll;      // the offset scrolled to
        bool fadeIn;       // the fade started (none: the entry is left as it was)
        bool any;
        float y;           // the entry's y when placed
    };
    const Case cases[] = {
        {-60, false, true, 9 * 20 + 10},  // row 3 first: row 7 inside the window, fades out
        {-80, false, false, 0},           // still inside: nothing new
        {0, true, true, 80},              // row 7 below again: back at the bottom
        {-60, false, true, 9 * 20 + 10},
        {-180, false, true, 0},           // row 9 first: row 7 above, kept hidden at the top
    };
    float offset = 0;
    for (const Case& c : cases) {
        bool faded = false, fadeIn = false;
        Vector position;
        rendertest::RunOnRenderThread([&] {
            // Marks the action in place (none has started: nothing draws the tree).
            constexpr int64_t kMark = -12345;
            if (UIAction* before = fixed->Render().actionTails[3]) before->startStamp = kMark;
            const float d = c.scroll - offset;
            if (d > 0) list->ScrollForward(d); else list->ScrollBack(d);
            const UIAction* after = fixed->Render().actionTails[3];
            const auto* fade = dynamic_cast<const UIActionBlendAndShowHide*>(after);
            faded = fade && fade->startStamp != kMark;
            fadeIn = fade && fade->showAndBlendIn;
            position = fixed->Render().position;
        });
        offset = c.scroll;
        EXPECT_EQ(faded, c.any) << c.scroll;
        if (!c.any) continue;
        EXPECT_EQ(fadeIn, c.fadeIn) << c.scroll;
        const float expected = c.scroll == -60 ? 200 + c.scroll + 10 : c.y;
        EXPECT_FLOAT_EQ(position.y, expected) << c.scroll;
    }
    // A script releases the fixed entry and an entry alone: the list lets go of both.
    UIElement* entry = list->Entry(2);
    fixed->Release();
    entry->Release();
    EXPECT_EQ(list->FixedEntry(), nullptr);
    EXPECT_EQ(list->Entry(2), nullptr);
    gVornexRenderer.FlushCommands(true);
    UIElement::FinishPendingDeletion();
    rendertest::RunOnRenderThread([&] { list->ScrollForward(20); });
    EXPECT_FLOAT_EQ(State().scrollOffset, -160.0f);
}

TEST_F(ListsTest, EmptyListsAndZeroHeightEntriesChangeNothing) {
    ASSERT_TRUE(created);
    MakeList(100, 0, 0);
    rendertest::RunOnRenderThread([&] { list->EaseBack(); });
    EXPECT_EQ(list->AddListElement("Missing", true), nullptr);
    for (int i = 0; i < 3; ++i) ASSERT_NE(list->AddListElement("Row", true), nullptr);
    EXPECT_EQ(list->VisibleRows(), -1);  // no row height to divide by
    ASSERT_NE(list->FixedEntry(), nullptr);
    EXPECT_FALSE(list->FixedEntry()->IsVisible());
    list->OnPress();
    list->OnDrag(Pointer(0));
    list->OnDrag(Pointer(-5));
    list->OnRelease();
    for (int i = 0; i < 5; ++i) Frame(kFrame);
    UIListRenderHalf s = State();
    EXPECT_EQ(s.visibleRows, -1);
    bool quiet = false;
    rendertest::RunOnRenderThread([&] { quiet = list->FixedEntry()->Render().actionHeads[3] == nullptr; });
    EXPECT_TRUE(quiet);
    // Clear: an empty content, the fixed entry hidden at the end of the children.
    list->Clear();
    EXPECT_EQ(list->EntryCount(), 0u);
    EXPECT_EQ(list->Entry(0), nullptr);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(State().entryCount, 0u);
    // A built list recipe makes no entries of its sub-recipes: only the content element.
    UIListRecipe recipe;
    recipe.children.Add(Recipe("Row", 20));
    UIElement* built = recipe.CreateElementTree(nullptr, 0, 1);
    ASSERT_NE(built, nullptr);
    ASSERT_TRUE(built->IsUIList());
    EXPECT_EQ(built->GetFirstChild(), static_cast<UIList*>(built)->Content());
    EXPECT_EQ(built->GetFirstChild()->GetNextSibling(), nullptr);
    built->Release();
}

TEST_F(ListsTest, ARoundListOfZeroToTenThrowsItsLastTwoUp) {
    ASSERT_TRUE(created);
    listRecipe.reset(Recipe("Round", 90));
    UIElementRecipe* entry = Recipe("RoundListEntry", 30);
    // A text element named "Value" in each entry.
    struct TextRecipe : UIElementRecipe {
        UIElement* CreateElement() const override { return new UIText; }
    };
    auto* value = new TextRecipe;
    value->name = "Value";
    entry->children.Add(value);
    listRecipe->children.Add(entry);
    auto* round = new UIRoundList;
    list = round;
    round->SetRecipe(listRecipe.get(), nullptr);
    round->SetRange(0, 10);
    log.Clear();
    round->EndRecipeBuild(1);
    ASSERT_EQ(round->EntryCount(), 11u);
    std::vector<UIText*> texts;
    std::vector<UIElement*> entries;
    for (uint32_t i = 0; i < 11; ++i) {
        entries.push_back(round->Entry(i));
        texts.push_back(dynamic_cast<UIText*>(entries.back()->FindElementByName("Value")));
        ASSERT_NE(texts.back(), nullptr) << i;
    }
    gVornexRenderer.FlushCommands(true);
    rendertest::RunOnRenderThread([&] {
        for (uint32_t i = 0; i < 11; ++i) {
            UIText* text = texts[i];
            std::u16string got = text->Text() ? text->Text() : u"";
            EXPECT_EQ(got, std::u16string(u"") + (i == 10 ? u"10" : std::u16string(1, char16_t(u'0' + i)))) << i;
        }
        EXPECT_FLOAT_EQ(entries[10]->Render().position.y, -30.0f);
        EXPECT_FLOAT_EQ(entries[9]->Render().position.y, -60.0f);
        EXPECT_FLOAT_EQ(entries[8]->Render().position.y, 240.0f);
    });
    EXPECT_EQ(round->RingFirst(), round->Entry(9));
    EXPECT_EQ(round->RingLast(), round->Entry(8));
    EXPECT_FLOAT_EQ(round->TopPosition(), -60.0f);
    EXPECT_FLOAT_EQ(round->LowestPosition(), 330.0f - 90.0f - 60.0f);
    uint32_t lines = 0;
    for (const auto& m : log.Messages())
        if (m.text == "ThrowLastElementUp") {
            ++lines;
            EXPECT_EQ(m.severity, 0u);
            EXPECT_EQ(m.category, 9u);
        }
    EXPECT_EQ(lines, 2u);
    // A damaged range makes at most kMaxRingEntries entries, with one error line; a recipe
    // without "RoundListEntry" makes none.
    for (bool withEntries : {true, false}) {
        auto* big = new UIRoundList;
        std::unique_ptr<UIElementRecipe> other(Recipe("Other", 90));
        big->SetRecipe(withEntries ? listRecipe.get() : other.get(), nullptr);
        big->SetRange(-2000000000, 2000000000);
        log.Clear();
        big->EndRecipeBuild(1);
        EXPECT_EQ(big->EntryCount(), withEntries ? UIRoundList::kMaxRingEntries : 0u);
        EXPECT_EQ(log.Contains("makes more than"), withEntries);
        big->Release();
    }
}
