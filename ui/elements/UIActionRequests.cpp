// UIElement: the main-side action requests. Each builds its action with the element's
// default action flags ORed into the given ones and posts it with op 23.
#include <cmath>

#include "core/ThreadCheck.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

void UIElement::PostAddAction(UIAction* action) {
    ASSERT_ON_THREAD(GetMainThreadId(), "main thread");
    PostUIOpValues(kUIElementFamily, UIOP_ADDACTION, this, action);
}

void UIElement::Wait(float time, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIAction(time, defaultActionFlags | actionFlags, channel));
}

void UIElement::Move(float time, const Vector& position, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionMove(time, position, defaultActionFlags | actionFlags, channel));
}

void UIElement::Move2(float time, float x, float y, uint32_t actionFlags, uint32_t channel) {
    Move(time, Vector(x, y, 0, 1), actionFlags, channel);
}

void UIElement::Move3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel) {
    Move(time, Vector(x, y, z, 1), actionFlags, channel);
}

void UIElement::ChangeSize(float time, const Vector& size, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionChangeSize(time, size, defaultActionFlags | actionFlags, channel));
}

void UIElement::Rotate(float time, const Vector& degrees, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionRotate(time, degrees, defaultActionFlags | actionFlags, channel));
}

void UIElement::Rotate(float time, float angle, uint32_t actionFlags, uint32_t channel) {
    Rotate(time, Vector(0, 0, angle, 0), actionFlags, channel);
}

void UIElement::Rotate3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel) {
    Rotate(time, Vector(x, y, z, 0), actionFlags, channel);
}

void UIElement::Scale(float time, const Vector& scale, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionScale(time, scale, defaultActionFlags | actionFlags, channel));
}

void UIElement::Scale(float time, float s, uint32_t actionFlags, uint32_t channel) {
    Scale(time, Vector(s, s, s, 1), actionFlags, channel);
}

void UIElement::Scale3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel) {
    Scale(time, Vector(x, y, z, 1), actionFlags, channel);
}

void UIElement::ChangeColor(float time, const Vector& color, uint32_t actionFlags, uint32_t channel) {
    const Vector linear(std::pow(color.x, 2.2f), std::pow(color.y, 2.2f), std::pow(color.z, 2.2f), color.w);
    ChangeLinearColor(time, linear, actionFlags, channel);
}

void UIElement::ChangeColor(float time, float r, float g, float b, float a, uint32_t actionFlags, uint32_t channel) {
    ChangeColor(time, Vector(r, g, b, a), actionFlags, channel);
}

void UIElement::ChangeLinearColor(float time, const Vector& color, uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionColor(time, color, defaultActionFlags | actionFlags, channel));
}

void UIElement::ChangeLinearColor(float time, float r, float g, float b, float a, uint32_t actionFlags,
                                  uint32_t channel) {
    ChangeLinearColor(time, Vector(r, g, b, a), actionFlags, channel);
}

void UIElement::BlendOutAndHide(float time, uint32_t actionFlags, uint32_t channel) {
    // The main copy answers IsVisible at once; the action hides the render side at its end.
    flags |= UIFLAG_HIDDEN;
    PostAddAction(new UIActionBlendAndShowHide(time, false, defaultActionFlags | actionFlags, channel));
}

void UIElement::ShowAndBlendIn(float time, uint32_t actionFlags, uint32_t channel) {
    flags &= ~UIFLAG_HIDDEN;
    PostAddAction(new UIActionBlendAndShowHide(time, true,
                                               defaultActionFlags | actionFlags | UIACTIONFLAG_REMOVEOTHERACTIONS,
                                               channel));
}

void UIElement::Delete(float delay, uint32_t channel) {
    // The delay runs as a plain wait ahead of the deletion on the same channel.
    if (delay > 0.0f) PostAddAction(new UIAction(delay, 0, channel));
    PostAddAction(new UIActionDelete(0, channel));
}
