// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// test-sanitize: thread
// The wide text input, a screen's focus and keyboard shift, the console's input line and
// the console screen, through the render thread (recording device, box fonts).
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../elements/TextTestSupport.h"
#include "core/config/GameConfig.h"
#include "engine/script/LuaUnicodeRegistry.h"
#include "platform/window/Window.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UITextInput.h"
#include "ui/elements/UIUniTextInput.h"
#include "ui/widgets/UIGameConsoleScreen.h"

using namespace texttest;

namespace {

struct TextInputTest : TextFixtureOf<shadertest::ShaderFixture> {
    void SetUp() override {
        TextFixtureOf<shadertest::ShaderFixture>::SetUp();
        gGameConfig->consoleHistory.Clear();
    }
    void TearDown() override {
        wnd::SetShiftKeyDown(false);
        gGameConfig->consoleHistory.Clear();
        TextFixtureOf<shadertest::ShaderFixture>::TearDown();
    }
    // The history newest first.
    void SetHistory(const std::vector<const char*>& newestFirst) {
        gGameConfig->consoleHistory.Clear();
        for (size_t i = newestFirst.size(); i-- > 0;) gGameConfig->consoleHistory.AddUnique(newestFirst[i]);
    }
    std::u16string Shown(UIText* t) {
        std::u16string out;
        OnRender([&] { out = t->Text() ? t->Text() : u""; });
        return out;
    }
    // Types the text into the console and presses Enter; the pending command ("" none).
    std::string Enter(UIGameConsoleScreen* c, const char* text) {
        for (const char* p = text; *p; ++p) c->OnChar(uint8_t(*p));
        c->OnKeyDown(13);
        char line[300];
        return c->GetEnteredCommand(line, sizeof line) ? line : "";
    }
};

std::u16string Buffer(const UIUniTextInput* t) { return t->GetInputStringUnicharPtr(); }

}  // namespace

TEST_F(TextInputTest, WideTextInputEdits) {
    // Each step: a key (or 0), typed characters, a paste; then the text and the caret.
    struct Step {
        uint32_t key;
        const char16_t* type;
        const char16_t* paste;
        const char16_t* text;
        uint32_t caret;
    };
    struct Case {
        const char* name;
        uint32_t max;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"full field", 4, {{0, u"ABCD", nullptr, u"ABCD", 4}, {0, u"X", nullptr, u"ABCD", 4},
                           {37, nullptr, nullptr, u"ABCD", 3}, {37, u"X", nullptr, u"ABXC", 3}}},
        {"paste of 10 into 4 places", 8, {{0, u"ABCD", u"0123456789", u"ABCD0123", 8}}},
        {"paste in the middle", 8, {{0, u"AB", nullptr, u"AB", 2}, {37, nullptr, u"0123456789", u"A0123456", 8}}},
        {"paste at the end", 6, {{0, u"AB", u"0123456789", u"AB0123", 6}, {0, nullptr, u"", u"AB0123", 6}}},
        {"home, end, left at 0, right at the end", 8,
         {{0, u"ABC", nullptr, u"ABC", 3}, {36, nullptr, nullptr, u"ABC", 0}, {37, nullptr, nullptr, u"ABC", 0},
          {35, nullptr, nullptr, u"ABC", 3}, {39, nullptr, nullptr, u"ABC", 3}}},
        {"back space and delete", 8,
         {{0, u"ABC", nullptr, u"ABC", 3}, {8, nullptr, nullptr, u"AB", 2}, {36, nullptr, nullptr, u"AB", 0},
          {46, nullptr, nullptr, u"B", 0}, {8, nullptr, nullptr, u"B", 0}}},
    };
    for (const Case& c : cases) {
        for (bool withFont : {true, false}) {  // no font and no caret element: still edits
            auto* t = new UIUniTextInput(nullptr, withFont ? "boxes.ttf" : nullptr, 20, false, c.max);
            screen->AddChild(t);
            if (withFont) t->SetCursorElement(new UIElement);
            for (const Step& s : c.steps) {
                if (s.key) t->ProcessKeyPressEvent(s.key);
                for (const char16_t* p = s.type; p && *p; ++p) t->ProcessKeyCharEvent(*p);
                if (s.paste) t->PasteString(s.paste);
                EXPECT_EQ(Buffer(t), std::u16string(s.text)) << c.name;
                EXPECT_EQ(t->GetCaret(), s.caret) << c.name;
                EXPECT_EQ(t->GetCurrentLength(), std::char_traits<char16_t>::length(s.text)) << c.name;
            }
            EXPECT_EQ(Shown(t), Buffer(t)) << c.name;
            t->Release();
        }
    }
    // Back space with a selection removes only the selection.
    auto* t = new UIUniTextInput(nullptr, nullptr, 0, false, 8);
    screen->AddChild(t);
    t->PasteString(u"ABCDE");
    t->SetSelection(1, 2);
    t->ProcessKeyPressEvent(8);
    EXPECT_EQ(Buffer(t), u"ADE");
    EXPECT_EQ(t->GetCaret(), 3u);
    EXPECT_EQ(t->GetSelectionLength(), 0u);
    const LuaUnicodeString copy = t->GetInputStringLuaUnichar();
    t->ResetInput();
    EXPECT_EQ(std::u16string(copy.GetUnicharPtr()), u"ADE");  // a copy, not the buffer
    EXPECT_EQ(Buffer(t), u"");
    EXPECT_EQ(t->GetCaret(), 0u);
    EXPECT_EQ(Shown(t), u"");
    t->Release();
    // A maximum outside 1 ... 65535 is clamped, never allocated as asked; the buffer is a
    // live text buffer of the script host (maximum + 1 characters) until the field goes.
    for (const auto& [asked, kept] : {std::pair{0xFFFFFFFFu, UIUniTextInput::kMaxInputLength}, std::pair{0u, 1u}}) {
        t = new UIUniTextInput(nullptr, nullptr, 0, false, asked);
        EXPECT_EQ(t->GetMaxLength(), kept);
        const char16_t* buffer = t->GetInputStringUnicharPtr();
        EXPECT_EQ(LuaUnicodeBufferCount(buffer), kept + 1);
        t->Release();
        EXPECT_EQ(LuaUnicodeBufferCount(buffer), 0u);
    }
}

TEST_F(TextInputTest, TheCaretSitsAtTheMeasuredWidthTimesTheTextScale) {
    auto* t = new UIUniTextInput(nullptr, "scaled.ttf", 12, false, 8);
    screen->AddChild(t);
    ASSERT_NE(t->GetFont(), nullptr);
    const Vector scale = t->GetTextScale();
    t->PasteString(u"AB");
    auto* first = new UIElement;
    t->SetCursorElement(first);
    auto* caret = new UIElement;
    t->SetCursorElement(caret);  // the old one is released
    EXPECT_EQ(first->CountSafePointers(), 0u);
    t->SetCursorElement(caret);   // the same one again: kept, not released
    t->SetCursorElement(t);       // the field itself and an ancestor: refused
    t->SetCursorElement(screen);
    EXPECT_EQ(t->GetCursorElement(), caret);
    EXPECT_EQ(caret->GetParent(), t);
    t->ProcessKeyPressEvent(37);
    gVornexRenderer.FlushCommands(true);
    const Vector expected(BoxWidth(u"A", true) * scale.x, kBoxLine * scale.y, 0, 0);
    Vector got;
    OnRender([&] { got = caret->Render().position; });
    EXPECT_FLOAT_EQ(got.x, expected.x);
    EXPECT_FLOAT_EQ(got.y, expected.y);
    t->Release();
}

TEST_F(TextInputTest, AClickFocusesTheFieldAndShiftsTheScreenUntilEnter) {
    auto* t = new UIUniTextInput(nullptr, "boxes.ttf", 20, false, 8);
    t->SetPosition(100, 50, 0);
    t->SetSize(64, 20);
    t->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
    screen->AddChild(t);
    auto* caret = new UIElement;
    t->SetCursorElement(caret);
    t->HideCursor();
    const Vector at((100 + 32) / float(clientWidth), (50 + 10) / float(clientHeight), 0, 0);
    Frame(at);
    Frame(at);
    ASSERT_TRUE(screen->OnMouseButtonDown(at, 0));
    ASSERT_TRUE(screen->OnMouseButtonUp(at, 0));
    EXPECT_EQ(screen->FocusedTextInput(), t);
    EXPECT_TRUE(caret->IsVisible());
    EXPECT_TRUE(screen->KeyboardShifted());
    auto move = [&] {
        Vector target;
        float duration = 0;
        OnRender([&] {
            if (auto* m = dynamic_cast<const UIActionMove*>(screen->Render().actionTails[3]))
                target = m->target, duration = m->duration;
        });
        return std::make_pair(target, duration);
    };
    EXPECT_FLOAT_EQ(move().first.y, -200.0f);
    EXPECT_FLOAT_EQ(move().second, 0.5f);
    EXPECT_TRUE(screen->OnChar(13));
    EXPECT_EQ(screen->FocusedTextInput(), nullptr);
    EXPECT_FALSE(caret->IsVisible());
    EXPECT_FALSE(screen->KeyboardShifted());
    EXPECT_FLOAT_EQ(move().first.y, 0.0f);
}

TEST_F(TextInputTest, ConsoleConstruction) {
    auto* c = new UIGameConsoleScreen;
    const float uiW = GetUIWidth();
    UITextInput* input = c->Input();
    UIElement* caret = input->GetCaretElement();
    ASSERT_NE(caret, nullptr);
    ASSERT_NE(input->GetSelectionElement(), nullptr);
    EXPECT_EQ(input->GetFlags() & 0x200160u, 0x200160u);
    EXPECT_STREQ(c->GetScriptClassName(), "UIScreen");  // scripts meet the console as a screen
    // The present caret and selection elements given again stay; the input is refused.
    input->SetCaretElement(caret);
    input->SetSelectionElement(input->GetSelectionElement());
    input->SetCaretElement(input);
    EXPECT_EQ(input->GetCaretElement(), caret);
    EXPECT_EQ(caret->GetParent(), input);
    EXPECT_FALSE(c->IsShown());
    gVornexRenderer.FlushCommands(true);
    OnRender([&] {
        const UIElementRenderHalf& b = c->Background()->Render();
        EXPECT_TRUE(uitest::SameVector(b.size, Vector(2 * uiW, 250, 0, 0)));
        EXPECT_TRUE(uitest::SameVector(b.scale, Vector(0, 0, 1, 0)));
        EXPECT_EQ(b.windowAlignment, uint32_t(UIWINDOWALIGNMENT_LEFTTOP));
        EXPECT_FLOAT_EQ(c->Panel()->Render().position.x, -uiW);
        EXPECT_TRUE(uitest::SameVector(caret->Render().size, Vector(10, 2, 0, 0)));
        // The caret blinks: two colour changes on channel 0, repeating, inverse half sine,
        // on system time.
        int changes = 0;
        for (const UIAction* a = caret->Render().actionHeads[0]; a; a = a->next) {
            EXPECT_NE(dynamic_cast<const UIActionColor*>(a), nullptr);
            EXPECT_EQ(a->flags, 10u | UIACTIONFLAG_SYSTEMTIME);
            EXPECT_FLOAT_EQ(a->duration, 0.2f);
            ++changes;
        }
        EXPECT_EQ(changes, 2);
    });
    for (uint32_t k = 0; k < UIGameConsoleScreen::kOutputLines; ++k)
        EXPECT_EQ(c->Line(k)->GetFlags() & 0x160u, 0x160u) << k;
    EXPECT_EQ(c->GetDefaultActionFlags(), UIACTIONFLAG_SYSTEMTIME);
    c->SetShown(true);
    EXPECT_TRUE(c->IsShown());
    gVornexRenderer.FlushCommands(true);
    OnRender([&] { EXPECT_TRUE(uitest::SameVector(c->Background()->Render().scale, Vector(1, 1, 1, 0))); });
    c->Release();
}

TEST_F(TextInputTest, ConsoleHistoryExpressions) {
    auto* c = new UIGameConsoleScreen;
    const std::vector<const char*> history = {"x=1", "y=2", "3abc", "z=3", "w()"};
    struct Case {
        const char* typed;
        const char* runs;  // "" nothing
    };
    const Case cases[] = {
        {"print(1)", "print(1)"}, {"!!", "y=2"},  {"!3", "z=3"},   {"!0", "x=1"},       {"!3a", "3abc"},
        {"!y", "y=2"},           {"!q", ""},     {"!", ""},       {"!99999999999", ""}, {"!7", ""},
        {"!-1", ""},
    };
    for (const Case& k : cases) {
        SetHistory(history);
        EXPECT_EQ(Enter(c, k.typed), k.runs) << k.typed;
        EXPECT_EQ(c->Input()->GetLength(), 0u) << k.typed;  // the input is cleared in every case
        if (*k.runs) {
            EXPECT_STREQ(gGameConfig->consoleHistory.GetAt(0), k.runs) << k.typed;
        }
    }
    // "!!!" lists the history in grey, oldest first, and runs nothing.
    SetHistory(history);
    EXPECT_EQ(Enter(c, "!!!"), "");
    for (uint32_t k = 0; k < 5; ++k)
        EXPECT_EQ(Shown(c->Line(k)), std::u16string(history[k], history[k] + std::strlen(history[k]))) << k;
    OnRender([&] {
        const Vector& grey = c->Line(0)->Render().color;
        EXPECT_NEAR(grey.x, std::pow(0.5f, 2.2f), 1e-5f);
        EXPECT_FLOAT_EQ(grey.w, 1.0f);
    });
    c->Release();
}

TEST_F(TextInputTest, ConsoleEditingKeys) {
    auto* c = new UIGameConsoleScreen;
    UITextInput* in = c->Input();
    // Shift+Home selects to the start; a character replaces the selection.
    for (const char* p = "hello"; *p; ++p) c->OnChar(uint8_t(*p));
    wnd::SetShiftKeyDown(true);
    EXPECT_TRUE(c->OnKeyDown(36));
    wnd::SetShiftKeyDown(false);
    EXPECT_EQ(in->GetSelectionStart(), 0u);
    EXPECT_EQ(in->GetSelectionLength(), 5u);
    c->OnChar('X');
    EXPECT_STREQ(in->GetText(), "X");
    EXPECT_EQ(Shown(in), u"X");
    // "é" goes in as two bytes; one Backspace removes both; control characters are keys.
    in->SetText("");
    c->OnChar(0xE9);
    EXPECT_STREQ(in->GetText(), "\xC3\xA9");
    for (uint32_t control : {9u, 127u, 0x85u, 0xD800u}) EXPECT_FALSE(c->OnChar(control)) << control;
    c->OnChar('a');
    c->OnKeyDown(37);
    c->OnKeyDown(37);
    EXPECT_EQ(in->GetCaret(), 0u);  // over "é" in one step
    c->OnKeyDown(39);
    EXPECT_EQ(in->GetCaret(), 2u);
    c->OnKeyDown(8);
    EXPECT_STREQ(in->GetText(), "a");
    // Up and Down through the history.
    SetHistory({"h0", "h1", "h2"});
    in->SetText("typed");
    struct Key {
        uint32_t key;
        const char* input;
        int32_t position;
    };
    const Key keys[] = {{40, "h0", 0}, {38, "h1", 1}, {38, "h2", 2}, {38, "h2", 2}, {40, "h1", 1},
                        {40, "h0", 0}, {40, "h0", 0}};
    for (const Key& k : keys) {
        EXPECT_TRUE(c->OnKeyDown(k.key));
        EXPECT_STREQ(in->GetText(), k.input);
        EXPECT_EQ(c->HistoryPosition(), k.position);
    }
    // A recalled line drops the selection of the old one: typing appends to it.
    in->SetText("hello");
    wnd::SetShiftKeyDown(true);
    c->OnKeyDown(36);
    wnd::SetShiftKeyDown(false);
    c->OnKeyDown(38);
    c->OnChar('X');
    EXPECT_STREQ(in->GetText(), "h1X");
    EXPECT_FALSE(c->OnKeyDown(20));  // inside 8..46, not an editing key
    EXPECT_FALSE(c->OnKeyDown(65));
    // Tab completes a "!" prefix.
    in->SetText("!h");
    c->OnKeyDown(9);
    EXPECT_STREQ(in->GetText(), "!h0");
    in->SetText("!!h");
    c->OnKeyDown(9);
    EXPECT_STREQ(in->GetText(), "!!h");
    // Input beyond 255 bytes is dropped.
    in->SetText("");
    for (int i = 0; i < 300; ++i) c->OnChar('a');
    EXPECT_EQ(in->GetLength(), 255u);
    c->OnChar(0xE9);
    EXPECT_EQ(in->GetLength(), 255u);
    c->Release();
}

TEST_F(TextInputTest, ConsoleLinesAndTheEnteredCommand) {
    auto* c = new UIGameConsoleScreen;
    EXPECT_FALSE(c->IsShown());
    for (int i = 0; i < 12; ++i) c->AddLine(("L" + std::to_string(i)).c_str(), Vector(1, 0, 0, 1));
    EXPECT_EQ(Shown(c->Line(0)), u"L11");
    EXPECT_EQ(Shown(c->Line(10)), u"L1");  // the twelfth line dropped L0
    c->AddLine(nullptr, Vector(1, 1, 1, 1));
    EXPECT_EQ(Shown(c->Line(0)), u"");
    for (const char* p = "print(12345)"; *p; ++p) c->OnChar(uint8_t(*p));
    EXPECT_TRUE(c->OnKeyDown(13));
    char small[6] = "#####";
    EXPECT_FALSE(c->GetEnteredCommand(small, 0));  // size 0: nothing copied
    EXPECT_EQ(small[0], '#');
    EXPECT_TRUE(c->GetEnteredCommand(small, sizeof small));
    EXPECT_STREQ(small, "print");
    EXPECT_FALSE(c->GetEnteredCommand(small, sizeof small));  // taken
    c->SetShown(true);
    EXPECT_TRUE(c->IsShown());
    BeginFrame();
    c->Render(uint32_t(clientWidth), uint32_t(clientHeight), 0, 0, c->CursorPosition());
    EndFrame();
    c->Release();
}
