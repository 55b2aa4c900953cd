// UiButton: press, release, click and press-lost, the commands and the mark icon.
#include "ui/widgets/UiButton.h"

#include "core/rtti/RTTIClass.h"

namespace {
constexpr uint32_t kAllChannels = uint32_t(-1);
constexpr uint32_t kScaleActionFlags = UIACTIONFLAG_SYSTEMTIME;
const NameString& MarkIconName() {
    static const NameString name("MarkIcon");
    return name;
}
}  // namespace

UiButton::UiButton() { SetLuaClass("UiButton"); }

UiButton::~UiButton() = default;

bool UiButton::OnPress() {
    pressLost = false;
    if (!enabled) return false;
    RemoveAllActions(kAllChannels);
    Scale(scaleTime, scaleOnClick, kScaleActionFlags, kScaleChannel);
    return true;
}

bool UiButton::OnRelease() {
    if (!enabled) return false;
    Scale(scaleTime, 1.0f, kScaleActionFlags, kScaleChannel);
    return true;
}

bool UiButton::OnClick() {
    if (!enabled) return false;
    const uint32_t n = commands.Count();
    if (n == 0) return false;
    // A command may release the button (and with it the commands): stop once it is gone.
    SafePointer<UIElement> self(this);
    for (uint32_t i = 0; i < n && self.Get() && i < commands.Count(); ++i) commands[i]->Execute();
    return true;
}

bool UiButton::OnPressLost(const Vector&) {
    if (pressLost) return false;
    RemoveAllActions(kAllChannels);
    pressLost = true;
    OnRelease();
    return false;
}

void UiButton::DeleteCommands() {
    for (UIElementCommand* c : commands) delete c;
    commands.Clear();
}

void UiButton::SetCommand(UIElementCommand* command) {
    DeleteCommands();
    if (command) commands.Add(command);
}

void UiButton::AddCommand(UIElementCommand* command) {
    if (command) commands.Add(command);
}

void UiButton::Show() {
    RemoveAllActions(kAllChannels);
    UIElement::Show();
}

void UiButton::ShowMark() {
    if (UIElement* mark = markIcon.Get()) mark->Show();
}

void UiButton::HideMark() {
    if (!markLookedUp) {
        markLookedUp = true;
        markIcon = FindElementByName(MarkIconName());
    }
    if (UIElement* mark = markIcon.Get()) mark->Hide();
}

void UiButton::OnBeforeDelete() {
    DeleteCommands();
    commands.Release();
    markIcon = nullptr;
    UIPicture::OnBeforeDelete();
}

const RTTIClass* UiButton::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UiButton"); }
