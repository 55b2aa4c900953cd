// UIButton: press, release, click and press-lost, the commands and the mark icon.
#include "ui/widgets/UIButton.h"

#include "core/rtti/RTTIClass.h"

namespace {
constexpr uint32_t kAllChannels = uint32_t(-1);
constexpr uint32_t kScaleActionFlags = UIACTIONFLAG_SYSTEMTIME;
const NameString& MarkIconName() {
    static const NameString name("MarkIcon");
    return name;
}
}  // namespace

UIButton::UIButton() = default;

UIButton::~UIButton() = default;

bool UIButton::OnPress() {
    pressLost = false;
    if (!enabled) return false;
    RemoveAllActions(kAllChannels);
    Scale(scaleTime, scaleOnClick, kScaleActionFlags, kScaleChannel);
    return true;
}

bool UIButton::OnRelease() {
    if (!enabled) return false;
    Scale(scaleTime, 1.0f, kScaleActionFlags, kScaleChannel);
    return true;
}

bool UIButton::OnClick() {
    if (!enabled) return false;
    if (commands.Count() == 0) return false;
    // The click holds the commands while they run: a command may replace them (SetCommand)
    // or release the button, and the one running must outlive its own Execute. The button
    // is not touched again once it is released.
    Dynarray<UIElementCommand*> running;
    running.Swap(commands);
    SafePointer<UIElement> self(this);
    commandsReplaced = false;
    for (uint32_t i = 0; i < running.Count(); ++i) {
        running[i]->Execute();
        if (!self.Get() || commandsReplaced) break;
    }
    if (self.Get() && !commandsReplaced) {
        // Commands added during the click follow the ones that ran.
        for (UIElementCommand* c : commands) running.Add(c);
        commands.Swap(running);
        running.Clear();
    }
    for (UIElementCommand* c : running) delete c;
    return true;
}

bool UIButton::OnPressLost(const Vector&) {
    if (pressLost) return false;
    RemoveAllActions(kAllChannels);
    pressLost = true;
    OnRelease();
    return false;
}

void UIButton::DeleteCommands() {
    for (UIElementCommand* c : commands) delete c;
    commands.Clear();
}

void UIButton::SetCommand(UIElementCommand* command) {
    DeleteCommands();
    commandsReplaced = true;
    if (command) commands.Add(command);
}

void UIButton::AddCommand(UIElementCommand* command) {
    if (command) commands.Add(command);
}

void UIButton::Show() {
    RemoveAllActions(kAllChannels);
    UIElement::Show();
}

void UIButton::ShowMark() {
    if (UIElement* mark = markIcon.Get()) mark->Show();
}

void UIButton::HideMark() {
    // Looked up while not known: a mark added (or replaced) after an earlier look is found.
    if (!markIcon.Get()) markIcon = FindElementByName(MarkIconName());
    if (UIElement* mark = markIcon.Get()) mark->Hide();
}

void UIButton::OnBeforeDelete() {
    DeleteCommands();
    commands.Release();
    markIcon = nullptr;
    UIPicture::OnBeforeDelete();
}

const RTTIClass* UIButton::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UiButton"); }
