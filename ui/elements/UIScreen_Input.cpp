// UIScreen: pointer and character routing (main thread). A press goes to the focusable
// element under the pointer and bubbles up to the first ancestor that accepts it; the
// release over the same element is a click; moving over a drag source makes it the
// pressed element.
#include "ui/elements/UIIdTable.h"
#include "ui/elements/UIScreen.h"

namespace {
constexpr uint32_t kEnterKey = 13;
UIElement* Resolve(uint32_t id) { return id && gUIIdTable ? gUIIdTable->Find(id) : nullptr; }
}  // namespace

bool UIScreen::OnMouseButtonDown(const Vector& point, uint32_t button) {
    if (isPressed) return false;
    dragging = false;
    UIElement* e = Resolve(GetElementAt(point).id);
    pressed = e;
    pressButton = button;
    if (keyboardShift) ShiftForKeyboard(false);
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
        e->OnClick();
        // The element may have released itself (and cleared the pointer) in its click.
        if (UIElement* still = pressed.Get()) still->OnRelease();
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
    // Enter ends the focused text input's editing (the text widgets give the input).
    return character == kEnterKey;
}

void UIScreen::ShiftForKeyboard(bool up) {
    keyboardShift = up;
}
