// test-sanitize: address
// Buttons and the radio and tabbed containers on the main half. No renderer runs, so each
// posted op (and action) reaches the render half at once.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../elements/UIElementTestSupport.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UITextInput.h"
#include "ui/elements/UIUniTextInput.h"
#include "ui/recipes/UIElementPreset.h"
#include "ui/recipes/UIElementRecipe.h"
#include "ui/widgets/UIButton.h"
#include "ui/widgets/UIList.h"
#include "ui/widgets/UIRadioButtonContainer.h"

using namespace uitest;

namespace {

struct CountingCommand : UIElementCommand {
    explicit CountingCommand(int* runs) : runs(runs) {}
    void Execute() override { ++*runs; }
    int* runs;
};

struct Listener : EventReceiver {
    void OnEvent(uint32_t id) override { heard.push_back(id); }
    std::vector<uint32_t> heard;
};

// The last action on the button's scale channel.
const UIActionScale* LastScale(const UIElement* e) {
    return dynamic_cast<const UIActionScale*>(e->Render().actionTails[UIButton::kScaleChannel]);
}

UIButton* AddButton(UIElement* parent, bool withMark = false) {
    auto* b = new UIButton;
    parent->AddChild(b);
    if (withMark) {
        auto* mark = new UIElement;
        mark->SetName("MarkIcon");
        b->AddChild(mark);
    }
    return b;
}

// A recipe of the given size and position, living as long as the test.
struct Recipes {
    UIElementRecipe* Make(float w, float h, float x, float y) {
        auto* r = new UIElementRecipe;
        r->size = Vector(w, h, 0, 0);
        r->position = Vector(x, y, 0, 1);
        owned.emplace_back(r);
        return r;
    }
    std::vector<std::unique_ptr<UIElementRecipe>> owned;
};

}  // namespace

TEST(ButtonTest, PressDragOffAndReleaseScaleWithoutRunningTheCommand) {
    auto* b = new UIButton;
    int runs = 0;
    b->SetCommand(new CountingCommand(&runs));
    b->SetScaleOnClick(0.9f);
    ASSERT_TRUE(b->OnPress());
    const UIActionScale* down = LastScale(b);
    ASSERT_NE(down, nullptr);
    EXPECT_TRUE(SameVector(down->target, Vector(0.9f, 0.9f, 0.9f, 1)));
    EXPECT_FLOAT_EQ(down->duration, UIButton::kDefaultScaleTime);  // made without a recipe
    EXPECT_EQ(down->flags & UIACTIONFLAG_SYSTEMTIME, UIACTIONFLAG_SYSTEMTIME);

    b->OnPressLost(Vector());
    const UIActionScale* up = LastScale(b);
    ASSERT_NE(up, nullptr);
    EXPECT_TRUE(SameVector(up->target, Vector(1, 1, 1, 1)));
    EXPECT_EQ(b->Render().actionHeads[UIButton::kScaleChannel], up);  // the press's action went
    {
        OpRecorder ops;
        b->OnPressLost(Vector());  // a second leave in the same press
        EXPECT_TRUE(ops.For(b).empty());
    }
    b->OnRelease();
    EXPECT_EQ(runs, 0);
    // A click runs every command in order; SetCommand replaces them all.
    b->AddCommand(new CountingCommand(&runs));
    EXPECT_TRUE(b->OnClick());
    EXPECT_EQ(runs, 2);
    b->SetCommand(nullptr);
    EXPECT_FALSE(b->OnClick());
    b->Release();
}

// An element that runs no commands owns what it is handed all the same: it deletes it.
TEST(ButtonTest, AnElementWithoutCommandsDeletesTheCommandsItIsHanded) {
    struct DyingCommand : UIElementCommand {
        explicit DyingCommand(int* deaths) : deaths(deaths) {}
        ~DyingCommand() override { ++*deaths; }
        int* deaths;
    };
    auto* plain = new UIElement;
    int deaths = 0;
    plain->SetCommand(new DyingCommand(&deaths));
    plain->AddCommand(new DyingCommand(&deaths));
    EXPECT_EQ(deaths, 2);
    plain->Release();
}

TEST(ButtonTest, AnInactiveButtonNeitherScalesNorRunsCommands) {
    auto* b = new UIButton;
    int runs = 0;
    b->SetCommand(new CountingCommand(&runs));
    b->enabled = 0;
    OpRecorder ops;
    EXPECT_FALSE(b->OnPress());
    EXPECT_FALSE(b->OnRelease());
    EXPECT_FALSE(b->OnClick());
    EXPECT_TRUE(ops.For(b).empty());
    EXPECT_EQ(runs, 0);
    b->Release();
}

TEST(ButtonTest, ACommandMayReleaseItsButtonOrReplaceTheCommandsWhileItRuns) {
    // The first command acts on its button, then still uses its own fields (a command
    // freed under it is a use after free); the second counts the runs.
    enum class Act { Release, Replace, Add };
    struct ActingCommand : UIElementCommand {
        void Execute() override {
            if (act == Act::Release) button->Release();
            if (act == Act::Replace) button->SetCommand(new CountingCommand(later));
            if (act == Act::Add) button->AddCommand(new CountingCommand(later));
            ++*done;
        }
        Act act = Act::Release;
        UIButton* button = nullptr;
        int* later = nullptr;
        int* done = nullptr;
    };
    struct Case {
        Act act;
        int runs, later;      // after the first click
        uint32_t kept;        // commands the button holds then
        int runs2, later2;    // after a second click
    };
    const Case cases[] = {
        {Act::Release, 0, 0, 0, 0, 0},
        {Act::Replace, 0, 0, 1, 0, 1},  // the rest of the old commands neither run nor stay
        {Act::Add, 1, 0, 3, 2, 1},      // a command added in a click runs from the next one
    };
    for (const Case& c : cases) {
        auto* b = new UIButton;
        int runs = 0, later = 0, done = 0;
        auto* first = new ActingCommand;
        first->act = c.act;
        first->button = b;
        first->later = &later;
        first->done = &done;
        b->SetCommand(first);
        b->AddCommand(new CountingCommand(&runs));
        EXPECT_TRUE(b->OnClick());
        EXPECT_EQ(done, 1);
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(later, c.later);
        if (c.act == Act::Release) continue;
        EXPECT_EQ(b->CommandCount(), c.kept);
        EXPECT_TRUE(b->OnClick());
        EXPECT_EQ(runs, c.runs2);
        EXPECT_EQ(later, c.later2);
        b->Release();
    }
}

TEST(ButtonTest, MarksAndRadioSelection) {
    auto* radio = new UIRadioButtonContainer;
    Listener listener;
    radio->SetListener(&listener);
    std::vector<UIButton*> b;
    for (int i = 0; i < 3; ++i) {
        b.push_back(AddButton(radio, true));
        if (i == 0) radio->AddChild(new UIElement);  // not a button: skipped
    }
    UIElement* mark0 = b[0]->FindElementByName("MarkIcon");
    // ShowMark before any HideMark does nothing.
    mark0->Hide();
    b[0]->ShowMark();
    EXPECT_FALSE(mark0->IsVisible());

    ASSERT_EQ(radio->CollectButtons(10), 3u);
    for (UIButton* x : b) EXPECT_FALSE(x->FindElementByName("MarkIcon")->IsVisible());
    struct Step {
        int click;
        int32_t selected;
        std::vector<uint32_t> heard;
    };
    const Step steps[] = {
        {1, 1, {11}},
        {1, 1, {11}},  // the selected button: no change, no notification
        {2, 2, {11, 12}},
        {0, 0, {11, 12, 10}},
    };
    for (const Step& s : steps) {
        EXPECT_TRUE(b[size_t(s.click)]->OnClick());
        EXPECT_EQ(radio->GetSelected(), s.selected) << s.click;
        EXPECT_EQ(listener.heard, s.heard) << s.click;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(b[size_t(i)]->FindElementByName("MarkIcon")->IsVisible(), i == s.selected) << s.click << i;
    }
    // Ids outside the buttons are ignored.
    radio->Select(9);
    radio->Select(13);
    EXPECT_EQ(radio->GetSelected(), 0);
    // A mark a button gets after its first look is found by the next HideMark.
    UIButton* late = AddButton(radio);
    late->HideMark();
    auto* mark = new UIElement;
    mark->SetName("MarkIcon");
    late->AddChild(mark);
    late->HideMark();
    EXPECT_FALSE(mark->IsVisible());
    late->ShowMark();
    EXPECT_TRUE(mark->IsVisible());
    radio->Release();
}

TEST(ButtonTest, ASelectionPresetAnimatesTheNewButtonAndRestoresTheOld) {
    UIElementRecipe recipe;  // the buttons' recipe, with the preset "Sel"
    auto* preset = new UIElementPreset;
    preset->id = "Sel";
    preset->scale = Vector(2, 2, 2, 0);
    recipe.presets.Add(preset);
    auto* radio = new UIRadioButtonContainer;
    radio->SetSelectionPreset("Sel");
    Listener listener;
    radio->SetListener(&listener);
    std::vector<UIButton*> b;
    for (int i = 0; i < 2; ++i) {
        b.push_back(AddButton(radio));
        b.back()->SetRecipe(&recipe, nullptr);
    }
    ASSERT_EQ(radio->CollectButtons(0), 2u);
    auto lastScale = [](const UIElement* e) {
        const UIAction* a = e->Render().actionTails[0];
        while (a && !dynamic_cast<const UIActionScale*>(a)) a = a->previous;
        return dynamic_cast<const UIActionScale*>(a);
    };
    b[0]->OnClick();
    ASSERT_NE(lastScale(b[0]), nullptr);
    EXPECT_FLOAT_EQ(lastScale(b[0])->duration, 0.3f);
    EXPECT_TRUE(SameVector(lastScale(b[0])->target, Vector(2, 2, 2, 0)));
    b[1]->OnClick();
    ASSERT_NE(lastScale(b[0]), nullptr);
    EXPECT_FLOAT_EQ(lastScale(b[0])->duration, 0.05f);  // back to the recipe's own values
    EXPECT_TRUE(SameVector(lastScale(b[0])->target, recipe.scale));
    EXPECT_FLOAT_EQ(lastScale(b[1])->duration, 0.3f);
    EXPECT_EQ(radio->GetSelected(), 1);
    EXPECT_EQ(listener.heard, (std::vector<uint32_t>{0, 1}));
    radio->Release();
}

TEST(ButtonTest, TabButtonsAreLaidOutInARowAndTheFirstTabIsSelected) {
    struct Case {
        int tabs;
        float offset;  // |trunc(w - S.x)| * 0.5 with W = 300, S.x = 90.6
        float w;
    };
    for (const Case& c : {Case{1, 104.5f, 300.0f}, Case{3, 4.5f, 100.0f}}) {
        Recipes recipes;
        auto* tabbed = new UITabbedContainer;
        std::vector<UIElement*> tabs;
        std::vector<UIButton*> buttons;
        for (int i = 0; i < c.tabs; ++i) {
            auto* page = new UIElement;
            tabbed->AddChild(page);
            auto* tab = new UIElement;
            tab->SetName("Tab");
            tab->SetRecipe(i == 0 ? recipes.Make(300, 200, 7, 8) : recipes.Make(50, 50, 0, 0), nullptr);
            page->AddChild(tab);
            auto* button = AddButton(page);
            button->SetName("TabButton");
            button->SetRecipe(recipes.Make(90.6f, 30, 20, 0), nullptr);
            auto* face = new UIPicture;
            button->AddChild(face);
            tabs.push_back(tab);
            buttons.push_back(button);
        }
        ASSERT_EQ(tabbed->CollectButtons(5), uint32_t(c.tabs));
        ASSERT_EQ(tabbed->TabCount(), uint32_t(c.tabs));
        for (int i = 0; i < c.tabs; ++i) {
            const UIElementRenderHalf& r = buttons[size_t(i)]->Render();
            EXPECT_TRUE(SameVector(r.size, Vector(c.w, 30, 0, 1))) << c.tabs << " " << i;
            EXPECT_TRUE(SameVector(r.anchor, Vector(c.w * -0.5f, -15, -0.0f, -0.5f))) << i;
            EXPECT_FLOAT_EQ(r.position.x, 20 + c.offset + float(i) * c.w) << c.tabs << " " << i;
            EXPECT_TRUE(SameVector(buttons[size_t(i)]->GetFirstChild()->Render().size, r.size));
            EXPECT_EQ(tabs[size_t(i)]->IsVisible(), i == 0);
            if (c.tabs > 1) {  // every tab takes the first tab's recipe size and position
                EXPECT_TRUE(SameVector(tabs[size_t(i)]->Render().size, Vector(300, 200, 0, 0)));
                EXPECT_FLOAT_EQ(tabs[size_t(i)]->Render().position.x, 7);
            }
        }
        if (c.tabs == 3) {
            EXPECT_TRUE(buttons[2]->OnClick());
            EXPECT_EQ(tabbed->GetSelected(), 2);
            EXPECT_FALSE(tabs[0]->IsVisible());
            EXPECT_TRUE(tabs[2]->IsVisible());
        }
        tabbed->Release();
    }
}

TEST(ButtonTest, AButtonOrTabReleasedAloneLeavesTheContainersSafe) {
    auto* radio = new UIRadioButtonContainer;
    std::vector<UIButton*> b;
    for (int i = 0; i < 3; ++i) b.push_back(AddButton(radio, true));
    ASSERT_EQ(radio->CollectButtons(0), 3u);
    radio->Select(1);
    b[1]->Release();  // a script's Release
    EXPECT_EQ(radio->Button(1), nullptr);
    radio->Select(2);
    radio->OnEvent(1);
    radio->Select(0);
    EXPECT_EQ(radio->GetSelected(), 0);
    radio->Release();

    auto* tabbed = new UITabbedContainer;
    std::vector<UIElement*> tabs;
    for (int i = 0; i < 2; ++i) {
        auto* page = new UIElement;
        tabbed->AddChild(page);
        auto* tab = new UIElement;
        tab->SetName("Tab");
        page->AddChild(tab);
        AddButton(page)->SetName("TabButton");
        tabs.push_back(tab);
    }
    ASSERT_EQ(tabbed->CollectButtons(0), 2u);
    tabs[0]->Release();
    tabbed->Select(1);
    EXPECT_EQ(tabbed->GetSelected(), 1);
    tabbed->Release();
}

TEST(ButtonTest, ScriptsMeetEachWidgetAsAClassTheirPackageBinds) {
    // An element whose script class is not bound reaches a script as nil.
    struct Case {
        UIElement* element;
        const char* scriptClass;
    };
    const Case cases[] = {
        {new UIButton, "UIPicture"},
        {new UIRadioButtonContainer, "UIElement"},
        {new UITabbedContainer, "UIElement"},
        {new UIList, "UIList"},
        {new UIRoundList, "UIList"},
        {new UIUniTextInput(nullptr, nullptr, 0, false, 8), "UIUniTextInput"},
        {new UITextInput(nullptr, 0, false, 8), "UIText"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.element->GetScriptClassName(), c.scriptClass);
        c.element->Release();
    }
}
