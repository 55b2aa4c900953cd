// UIScreen: pointer and character routing (main thread). A press goes to the focusable
// element under the pointer and bubbles up to the first ancestor that accepts it; the
// release over the same element is a click; moving over a drag source makes it the
// pressed element.
#include "ui/elements/UIIdTable.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIUniTextInput.h"

namespace {
constexpr uint32_t kEnterKey = 13;
// The keyboard shift: how far up (UI units), over how long, on which channel.
constexpr float kKeyboardShift = 200.0f;
constexpr float kKeyboardShiftSeconds = 0.5f;
constexpr uint32_t kKeyboardShiftChannel = 3;
UIElement* Resolve(uint32_t id) { return id && gUIIdTable ? gUIIdTable->Find(id) : nullptr; }
}  // namespace

bool UIScreen::OnMouseButtonDown(const Vector& point, uint32_t button) {
    if (isPressed) return false;
    ReleaseTextFocus();
    dragging = false;
    UIElement* e = Resolve(GetElementAt(point).id);
    pressed = e;
    pressButton = button;
    if (keyboardShift && (!e || !e->IsUIUniTextInput())) ShiftForKeyboard(false);
    while (e && !e->OnPress()) e = e->GetParent();
    pressed = e;
    if (!e) return false;
    isPressed = true;
    return true;
}

bool UIScreen::OnMouseButtonUp(const Vector& point, uint32_t button) {
    UIElement* under = Resolve(GetElementAt(point).id);
    isPressed = dragging = thirdPress = false;
    UIElement* e = pressed.Get();
    if (!e) return false;
    if (under != e) {
        // Another button's release leaves the pressed element in place.
        if (button != pressButton) return false;
        e->OnRelease();
        pressButton = 0;
    } else {
        const bool clicked = e->OnClick();
        // The element may have released itself (and cleared the pointer) in its click.
        UIElement* still = pressed.Get();
        if (clicked && still && still->IsUIUniTextInput() && still->enabled) {
            focusedInput = still;
            static_cast<UIUniTextInput*>(still)->ShowCursor();
            ShiftForKeyboard(true);
        }
        if (still) still->OnRelease();
    }
    pressed = nullptr;
    return true;
}

bool UIScreen::OnMouseMove(const Vector& point, uint32_t) {
    UIElement* under = Resolve(GetElementAt(point).id);
    if (!dragging && !thirdPress) {
        UIElement* source = under;
        while (source && !source->AcceptsDrag()) source = source->GetParent();
        if (source) {
            if (UIElement* old = pressed.Get()) old->OnPressLost(point);
            pressed = source;
            dragging = true;
            return false;
        }
    }
    UIElement* e = pressed.Get();
    if (e && dragging && e->AcceptsDrag()) {
        e->OnDrag(point);
        return true;
    }
    if (e && e != under) {
        e->OnPressLost(point);
        pressed = nullptr;
    }
    return false;
}

bool UIScreen::OnChar(uint32_t character) {
    // Enter ends the focused text input's editing.
    if (character != kEnterKey) return false;
    ReleaseTextFocus();
    if (keyboardShift) ShiftForKeyboard(false);
    return true;
}

void UIScreen::ReleaseTextFocus() {
    if (UIElement* e = focusedInput.Get()) static_cast<UIUniTextInput*>(e)->HideCursor();
    focusedInput = nullptr;
}

void UIScreen::ShiftForKeyboard(bool up) {
    Vector position(0, 0, 0, 1);
    LoadRecipeVectorProperty(position, "Position", nullptr);
    if (up) position.y -= kKeyboardShift;
    Move(kKeyboardShiftSeconds, position, 0, kKeyboardShiftChannel);
    keyboardShift = up;
}
