// The text elements' actions: the cross-fade halves and the per-character blend-in.
#include "ui/elements/UITextActions.h"

#include <cmath>
#include <cstring>

#include "core/Memory.h"
#include "core/text/TextConversion.h"
#include "scene/sfx/SFXContext.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UITemplateView.h"
#include "ui/elements/UITextBase.h"
#include "ui/elements/UITextBox.h"

UIActionTextXFadeHelper::UIActionTextXFadeHelper(float duration, bool fadeOut, const char16_t* value, uint32_t flags,
                                                 uint32_t channel)
    : UIActionBlendAndShowHide(duration, !fadeOut, flags, channel), phase(fadeOut ? 1 : 0) {
    if (!value) return;
    textLength = UTF16Length(value);
    text = static_cast<char16_t*>(EngineAlloc((textLength + 1) * sizeof(char16_t)));
    if (!text) {
        textLength = 0;
        return;
    }
    std::memcpy(text, value, (textLength + 1) * sizeof(char16_t));
}

UIActionTextXFadeHelper::~UIActionTextXFadeHelper() { EngineFree(text); }

void UIActionTextXFadeHelper::OnStart() {
    UIActionBlendAndShowHide::OnStart();
    if (!element->IsUITextBase()) return;
    UITextBase* t = static_cast<UITextBase*>(element);
    if (phase) {
        if (t->RenderTextEmpty()) state = STATE_FINISHED;
    } else {
        t->RenderSetText(text, textLength);
    }
}

void UIActionTextXFadeHelper::Apply(float e) {
    UIActionBlendAndShowHide::Apply(e);
    if (state != STATE_FINISHED || !phase) return;
    element->RenderClearFlags(UIFLAG_HIDDEN, false);
    if (element->IsUITextBase()) static_cast<UITextBase*>(element)->RenderSetText(nullptr, 0);
}

void UIRenderElementLink::Assign(UIElement* target) {
    value = target;
    Relink(target ? &target->RenderMutable().renderLinks : nullptr);
}

UIActionTextPerCharBlendIn::UIActionTextPerCharBlendIn(float duration, uint32_t flags, uint32_t channel, float step,
                                                       UIElement* cursor)
    : UIAction(duration, flags, channel), requestedCursor(cursor), step(step) {}

bool UIActionTextPerCharBlendIn::CanAttach(UIElement* target) {
    cursor.Assign(requestedCursor);
    requestedCursor = nullptr;
    return UIAction::CanAttach(target);
}

void UIActionTextPerCharBlendIn::OnStart() {
    if (!element->IsUITextBox()) return;
    UITextBox* box = static_cast<UITextBox*>(element);
    characters = box->TotalCharacters();
    box->SetCharacterFade(0.0f, 0.0f);  // everything invisible
}

void UIActionTextPerCharBlendIn::FadeAt(float e, uint32_t n, float k, float* slope, float* offset) {
    if (!(k < 0.0f)) {
        // No soft edge to run: everything shows (a zero step would divide by zero).
        *slope = 0.0f;
        *offset = 1.0f;
        return;
    }
    const float c = std::ceil(-1.0f / k);
    *slope = k;
    *offset = 1.0f + c * k - (float(n) + c) * k * e;
}

void UIActionTextPerCharBlendIn::Apply(float e) {
    if (characters == 0 || !element->IsUITextBox()) return;
    UITextBox* box = static_cast<UITextBox*>(element);
    float slope = 0, offset = 1;
    FadeAt(e, characters, step, &slope, &offset);
    box->SetCharacterFade(slope, offset);
    UIElement* follower = cursor.Get();
    if (!follower) return;
    const uint32_t at = uint32_t(float(characters) * e);
    follower->DoSetPosition(box->GetCharacterPosition(at));
    if (e >= 1.0f && follower->IsUITemplateView()) {
        SFXContext* effect = static_cast<UITemplateView*>(follower)->RenderEffect();
        if (effect) effect->BreakLoopNow(nullptr);
    }
}
