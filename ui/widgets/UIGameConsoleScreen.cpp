// UIGameConsoleScreen: construction, keys, the history expressions, output lines and the
// entered command.
#include "ui/widgets/UIGameConsoleScreen.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/config/GameConfig.h"
#include "core/fs/FsUtil.h"
#include "core/Memory.h"
#include "core/rtti/RTTIClass.h"
#include "platform/window/Window.h"
#include "ui/elements/UIText.h"
#include "ui/elements/UITextInput.h"

namespace {

constexpr const char* kConsoleFont = "_system.ttf";
constexpr uint32_t kConsoleFontSize = 12;
constexpr uint32_t kInputFlags =
    UIFLAG_DRAWPENDINGUIELEMENTSBEFORE | UIFLAG_NOSPECIALTAGSUBSTITUTION | UIFLAG_PIXELPERFECTFONT;
constexpr uint32_t kLineFlags = UIFLAG_NOSPECIALTAGSUBSTITUTION | UIFLAG_PIXELPERFECTFONT;
constexpr float kConsoleHeight = 250.0f;
constexpr float kCaretBlinkSeconds = 0.2f;
constexpr uint32_t kCaretBlinkFlags = UIACTIONFLAG_REPEAT | UIACTIONFLAG_INVHALFSINE;
const Vector kHistoryGrey(0.5f, 0.5f, 0.5f, 1.0f);
// Room for one resolved line (the input's maximum and its terminator).
constexpr uint32_t kLineBuffer = UIGameConsoleScreen::kMaxInput + 1;

enum : uint32_t {
    kKeyBackspace = 8,
    kKeyTab = 9,
    kKeyEnter = 13,
    kKeyEnd = 35,
    kKeyHome = 36,
    kKeyLeft = 37,
    kKeyUp = 38,
    kKeyRight = 39,
    kKeyDown = 40,
    kKeyDelete = 46,
};

StringHistoryContainer* History() { return gGameConfig ? &gGameConfig->consoleHistory : nullptr; }

const char* HistoryAt(uint32_t i) {
    StringHistoryContainer* h = History();
    if (!h || i >= h->Count()) return nullptr;
    const char* text = h->GetAt(i);
    return text ? text : "";
}

// The first entry, from the newest, that starts with the prefix.
const char* FindByPrefix(const char* prefix) {
    StringHistoryContainer* h = History();
    if (!h) return nullptr;
    const size_t n = std::strlen(prefix);
    for (uint32_t i = 0; i < h->Count(); ++i) {
        const char* text = HistoryAt(i);
        if (std::strncmp(text, prefix, n) == 0) return text;
    }
    return nullptr;
}

void CopyBounded(char* out, uint32_t size, const char* text) {
    if (!size) return;
    const size_t n = text ? std::min<size_t>(std::strlen(text), size - 1) : 0;
    if (n) std::memcpy(out, text, n);
    out[n] = 0;
}

}  // namespace

UIGameConsoleScreen::UIGameConsoleScreen() {
    SetDefaultActionFlags(UIACTIONFLAG_SYSTEMTIME, true);
    SetUseRenderTargetSize(true);
    SetKeepAspect(true);

    const float uiW = GetUIWidth();
    const Vector size(2.0f * uiW, kConsoleHeight, 0, 0);
    const Vector half(uiW, kConsoleHeight * 0.5f, 0, 0);

    background = new UIElement;
    background->RaiseFlag(UIFLAG_TRANSPARENT, false);
    background->SetWindowAlignment(UIWINDOWALIGNMENT_LEFTTOP);
    background->SetSize(size);
    background->SetPosition(half);
    background->SetAnchor(half);
    background->SetColor(0, 0, 0, 1);
    background->SetScale(0, 0, 1);
    AddChild(background);

    panel = new UIElement;
    panel->RaiseFlag(UIFLAG_TRANSPARENT, false);
    panel->SetSize(size);
    panel->SetPosition(-uiW, -kConsoleHeight * 0.5f, 0);
    background->AddChild(panel);

    tint = new UIElement;
    tint->SetSize(size);
    tint->SetColor(0.3f, 0.0f, 0.3f, 1.0f);
    panel->AddChild(tint);

    input = new UITextInput(kConsoleFont, kConsoleFontSize, false, kMaxInput);
    input->SetPosition(5, 230, 0);
    input->RaiseFlag(kInputFlags, false);
    panel->AddChild(input);

    UIElement* caret = new UIElement;
    caret->SetSize(10, 2);
    input->SetCaretElement(caret);
    caret->ChangeColor(kCaretBlinkSeconds, 1, 1, 1, 0, kCaretBlinkFlags, 0);
    caret->ChangeColor(kCaretBlinkSeconds, 1, 1, 1, 1, kCaretBlinkFlags, 0);

    UIElement* selection = new UIElement;
    selection->SetSize(10, 18);
    selection->SetColor(0.3f, 0.3f, 0.8f, 0.5f);
    input->SetSelectionElement(selection);

    for (uint32_t k = 0; k < kOutputLines; ++k) {
        UIText* line = new UIText(nullptr, kConsoleFont, kConsoleFontSize);
        line->SetPosition(5, 200.0f - line->GetFontHeight() * float(k), 0);
        line->RaiseFlag(kLineFlags, false);
        panel->AddChild(line);
        lines[k] = line;
    }
}

UIGameConsoleScreen::~UIGameConsoleScreen() { EngineFree(pending); }

void UIGameConsoleScreen::OnBeforeDelete() {
    EngineFree(pending);
    pending = nullptr;
    UIScreen::OnBeforeDelete();
}

void UIGameConsoleScreen::SetShown(bool shown) {
    state = shown ? 1 : 0;
    if (background) background->SetScale(shown ? 1.0f : 0.0f, shown ? 1.0f : 0.0f, 1.0f);
}

bool UIGameConsoleScreen::OnChar(uint32_t c) {
    if (c >= 32 && c <= 126) {
        input->InsertChar(char(c));
    } else if (c >= 0xA0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
        char bytes[4];
        uint32_t n;
        if (c < 0x800) {
            bytes[0] = char(0xC0 | (c >> 6)), bytes[1] = char(0x80 | (c & 0x3F)), n = 2;
        } else if (c < 0x10000) {
            bytes[0] = char(0xE0 | (c >> 12)), bytes[1] = char(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = char(0x80 | (c & 0x3F)), n = 3;
        } else {
            bytes[0] = char(0xF0 | (c >> 18)), bytes[1] = char(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = char(0x80 | ((c >> 6) & 0x3F)), bytes[3] = char(0x80 | (c & 0x3F)), n = 4;
        }
        input->InsertBytes(bytes, n);
    } else {
        return false;
    }
    historyPosition = -1;
    return true;
}

void UIGameConsoleScreen::Resolve(const char* text, char* out, uint32_t size) {
    out[0] = 0;
    uint32_t bangs = 0;
    while (text[bangs] == '!') ++bangs;
    const char* rest = text + bangs;
    if (bangs == 0) {
        CopyBounded(out, size, text);
    } else if (bangs == 1) {
        // "!n": a whole number from 0 in range is an index; anything else not empty is a
        // prefix.
        errno = 0;
        char* end = nullptr;
        const long index = std::strtol(rest, &end, 10);
        if (end != rest && *end == 0 && errno != ERANGE && index >= 0 && index <= INT_MAX)
            CopyBounded(out, size, HistoryAt(uint32_t(index)));
        else if (*rest)
            CopyBounded(out, size, FindByPrefix(rest));
    } else if (bangs == 2) {
        CopyBounded(out, size, HistoryAt(1));
    } else if (StringHistoryContainer* h = History()) {
        for (uint32_t i = h->Count(); i-- > 0;) AddLine(HistoryAt(i), kHistoryGrey);
    }
}

void UIGameConsoleScreen::Recall(int32_t candidate) {
    const char* entry = candidate >= 0 ? HistoryAt(uint32_t(candidate)) : nullptr;
    if (!entry) return;
    historyPosition = candidate;
    input->SetText(entry);
}

bool UIGameConsoleScreen::OnKeyDown(uint32_t key) {
    const bool extend = wnd::IsShiftKeyDown();
    switch (key) {
    case kKeyBackspace:
        input->Backspace();
        historyPosition = -1;
        return true;
    case kKeyTab: {
        const char* text = input->GetText();
        if (text && text[0] == '!' && text[1] != '!' && text[1]) {
            if (const char* found = FindByPrefix(text + 1)) {
                char line[kLineBuffer + 1];
                line[0] = '!';
                CopyBounded(line + 1, kLineBuffer, found);
                input->SetText(line);
            }
        }
        return true;
    }
    case kKeyEnter: {
        char resolved[kLineBuffer];
        Resolve(input->GetText() ? input->GetText() : "", resolved, sizeof resolved);
        if (resolved[0]) {
            EngineFree(pending);
            pending = fs::CopyText(resolved);
            if (StringHistoryContainer* h = History()) h->AddUnique(resolved);
            historyPosition = -1;
        }
        input->SetText("");
        return true;
    }
    case kKeyEnd: input->MoveCaret(65535, extend); return true;
    case kKeyHome: input->MoveCaret(-65535, extend); return true;
    case kKeyLeft: input->MoveCaret(-1, extend); return true;
    case kKeyRight: input->MoveCaret(1, extend); return true;
    case kKeyUp: Recall(historyPosition + 1); return true;
    case kKeyDown: Recall(historyPosition < 1 ? 0 : historyPosition - 1); return true;
    case kKeyDelete:
        input->DeleteAtCaret();
        historyPosition = -1;
        return true;
    default: return false;
    }
}

void UIGameConsoleScreen::AddLine(const char* text, const Vector& colour) {
    for (uint32_t k = kOutputLines - 1; k >= 1; --k) lines[k]->CopyText(lines[k - 1], true, true);
    lines[0]->SetText(text ? text : "");
    lines[0]->SetColor(colour);
}

bool UIGameConsoleScreen::GetEnteredCommand(char* buffer, uint32_t size) {
    if (!pending || !buffer || size == 0) return false;
    CopyBounded(buffer, size, pending);
    EngineFree(pending);
    pending = nullptr;
    return true;
}

const RTTIClass* UIGameConsoleScreen::GetRTTIClass() const {
    return RTTIClassRegistry::FindClass("UIGameConsoleScreen");
}
