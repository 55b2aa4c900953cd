// UIAction: attaching, ticking, easing; UIElement's channel operations.
#include "ui/elements/UIAction.h"

#include <cmath>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIViewState.h"

namespace {

constexpr float kPi = 3.1415927f;
uint32_t gTickWalk = 0;  // render thread

}  // namespace

UIAction::UIAction(float duration, uint32_t flags, uint32_t channel)
    : channel(channel), duration(duration), flags(flags) {}

UIAction::~UIAction() { AttachTo(nullptr); }

void* UIAction::operator new(size_t size) noexcept { return EngineAlloc(size); }
void UIAction::operator delete(void* block) { EngineFree(block); }

bool UIAction::CanAttach(UIElement* target) {
    if (target->Render().flags & UIFLAG_HIDDEN) {
        gLog.Warning(LogCategory::Engine, "Attempt to add UI action to an invisible element. Ignoring...");
        return false;
    }
    return true;
}

void UIAction::AttachTo(UIElement* target) {
    if (element) {
        UIElementRenderHalf& r = element->RenderMutable();
        (previous ? previous->next : r.actionHeads[channel]) = next;
        (next ? next->previous : r.actionTails[channel]) = previous;
        previous = next = nullptr;
        element = nullptr;
    }
    if (!target || channel >= kUIActionChannels) return;
    UIElementRenderHalf& r = target->RenderMutable();
    element = target;
    previous = r.actionTails[channel];
    (previous ? previous->next : r.actionHeads[channel]) = this;
    r.actionTails[channel] = this;
}

void UIAction::Start() {
    startStamp = UIActionClock(flags);
    state = STATE_RUNNING;
    OnStart();
}

void UIAction::Update() {
    const float elapsed = static_cast<float>(Time(UIActionClock(flags) - startStamp).ToSeconds());
    float t = 1.0f;
    if (duration <= 0.0f || elapsed / duration >= 1.0f)
        state = STATE_FINISHED;
    else
        t = elapsed / duration;
    Apply(Ease(flags, t));
}

float UIAction::Ease(uint32_t flags, float t) {
    switch (flags & kUIActionEasingMask) {
    case UIACTIONFLAG_HALFSINE:
        return std::sin(t * kPi / 2.0f);
    case UIACTIONFLAG_INVHALFSINE:
        return 1.0f - std::sin((1.0f - t) * kPi / 2.0f);
    case UIACTIONFLAG_SINE:
        return (std::sin((t - 0.5f) * kPi) + 1.0f) / 2.0f;
    case UIACTIONFLAG_HALFSINESLOW:
        return std::sqrt(std::sin(t * kPi / 2.0f));
    default:
        return t;
    }
}

void UIElement::AddAction(UIAction* action) {
    if (!action) return;
    if ((action->flags & UIACTIONFLAG_REMOVEOTHERACTIONS) && action->channel < kUIActionChannels)
        RemoveActions(int32_t(action->channel));
    if (action->CanAttach(this)) {
        if (action->channel < kUIActionChannels) {
            action->AttachTo(this);
            return;
        }
        gLog.Error(LogCategory::Engine, "Action channel out of range [%d/%d]", int32_t(action->channel),
                   int32_t(kUIActionChannels));
    }
    delete action;
}

void UIElement::RemoveActions(int32_t channel) {
    if (channel == -1) {
        for (uint32_t c = 0; c < kUIActionChannels; ++c) RemoveActions(int32_t(c));
        return;
    }
    if (channel < 0 || channel >= int32_t(kUIActionChannels)) return;
    while (UIAction* a = rs.actionHeads[channel]) delete a;  // each unlinks itself
}

void UIElement::TickActions() {
    const uint32_t walk = ++gTickWalk;
    for (int32_t c = int32_t(kUIActionChannels) - 1; c >= 0; --c) {
        UIAction* a = rs.actionHeads[c];
        while (a) {
            // A repeating action sent back to the tail in this walk waits for the next frame.
            if (a->requeuedInWalk == walk) break;
            UIAction* following = a->next;
            // A new action starts and updates at once, even when its start already
            // finished it; a running one updates; a finished one is left as it is.
            if (a->state == UIAction::STATE_NOT_STARTED) {
                a->Start();
                a->Update();
            } else if (a->state == UIAction::STATE_RUNNING) {
                a->Update();
            }
            if (a->state == UIAction::STATE_FINISHED) {
                if (a->flags & UIACTIONFLAG_REPEAT) {
                    a->AttachTo(nullptr);
                    a->state = UIAction::STATE_NOT_STARTED;
                    a->requeuedInWalk = walk;
                    a->AttachTo(this);
                } else {
                    delete a;
                }
                a = following;
                continue;
            }
            if (!(a->flags & UIACTIONFLAG_DONOTWAIT)) break;
            a = following;
        }
    }
}
