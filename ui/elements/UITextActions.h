#pragma once
// The text elements' actions (render thread once posted; see UIAction.h).
//
// UIActionTextXFadeHelper: one half of a text cross-fade. The fade-out half blends the
// element out and, at its end, empties the text and shows the element again; it ends at
// once when there is no text to fade. The fade-in half sets its text when it starts and
// blends the element in. SetTextSmooth posts both on one channel, so the new text appears
// when the old one has gone.
//
// UIActionTextPerCharBlendIn: reveals a text box's characters from the first to the last
// with a soft edge about -1/step characters wide; an optional cursor element follows the
// reveal. The cursor is followed through a render-side link taken when the action reaches
// the render thread: a cursor freed meanwhile is dropped and the reveal goes on alone.
#include <cstdint>

#include "core/rtti/SafePointer.h"
#include "ui/elements/UIAction.h"

class UIActionTextXFadeHelper : public UIActionBlendAndShowHide {
public:
    // fadeOut: the fade-out half (targets alpha 0); otherwise the fade-in half with its
    // text (copied; null for none).
    UIActionTextXFadeHelper(float duration, bool fadeOut, const char16_t* text, uint32_t flags, uint32_t channel);
    ~UIActionTextXFadeHelper() override;
    void OnStart() override;
    void Apply(float e) override;

    uint8_t phase;  // 1 fade-out, 0 fade-in
    char16_t* text = nullptr;
    uint32_t textLength = 0;
};

// A render-thread weak link to an element: null once the element is freed.
class UIRenderElementLink : public SafePointerListNode {
public:
    void Assign(UIElement* target);
    UIElement* Get() const { return value; }
    void OnTargetDestroyed() override {
        SafePointerListNode::OnTargetDestroyed();
        value = nullptr;
    }

private:
    UIElement* value = nullptr;
};

class UIActionTextPerCharBlendIn : public UIAction {
public:
    UIActionTextPerCharBlendIn(float duration, uint32_t flags, uint32_t channel, float step, UIElement* cursor);
    // Takes the render-side link to the cursor (the cursor is alive here: its freeing op
    // comes after this action's op).
    bool CanAttach(UIElement* target) override;
    void OnStart() override;
    void Apply(float e) override;

    // The text box's per-character fade (slope, offset) at eased progress e for n
    // characters and the step; a step that is not negative shows everything at once.
    static void FadeAt(float e, uint32_t n, float step, float* slope, float* offset);

    uint32_t characters = 0;
    UIElement* requestedCursor;  // as posted; read once, by CanAttach
    UIRenderElementLink cursor;
    float step;
};
