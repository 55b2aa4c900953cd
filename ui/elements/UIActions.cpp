// The action kinds: what each takes when it starts and writes when applied.
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

void UIActionMove::OnStart() { start = element->Render().position; }
void UIActionMove::Apply(float e) { element->DoSetPosition(UIActionLerp(start, target, e)); }

void UIActionChangeSize::OnStart() { start = element->Render().size; }
void UIActionChangeSize::Apply(float e) { element->DoSetSize(UIActionLerp(start, target, e)); }

void UIActionRotate::OnStart() { start = element->Render().rotation; }
void UIActionRotate::Apply(float e) { element->DoSetRotation(UIActionLerp(start, target, e)); }

void UIActionScale::OnStart() { start = element->Render().scale; }
void UIActionScale::Apply(float e) { element->DoSetScale(UIActionLerp(start, target, e)); }

void UIActionColor::OnStart() { start = element->Render().color; }
void UIActionColor::Apply(float e) { element->RenderMutable().color = UIActionLerp(start, target, e); }

UIActionBlendAndShowHide::UIActionBlendAndShowHide(float duration, bool show, uint32_t flags, uint32_t channel)
    : UIAction(duration, flags, channel), target(0, 0, 0, show ? 1.0f : 0.0f), showAndBlendIn(show ? 1 : 0) {}

UIActionBlendAndShowHide::~UIActionBlendAndShowHide() {
    // A fade-out cut short still hides its element.
    if (element && state != STATE_FINISHED && !showAndBlendIn) element->RenderRaiseFlags(UIFLAG_HIDDEN, false);
}

bool UIActionBlendAndShowHide::CanAttach(UIElement* target) {
    if (target->Render().flags & UIFLAG_HIDDEN) target->RenderClearFlags(UIFLAG_HIDDEN, false);
    return true;
}

void UIActionBlendAndShowHide::OnStart() { start = element->Render().color; }

void UIActionBlendAndShowHide::Apply(float e) {
    Vector& color = element->RenderMutable().color;
    color.w = (1.0f - e) * start.w + e * target.w;
    if (state == STATE_FINISHED && !showAndBlendIn) element->RenderRaiseFlags(UIFLAG_HIDDEN, false);
}

void UIActionDelete::OnStart() { element->QueueForDeletion(); }
