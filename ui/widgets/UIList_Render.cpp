// UIList, render thread: the list ops, the drag, the glide, easing back and the fixed
// entry's fades. Time is the engine clock of the render frame (task 41), in seconds.
#include <cmath>

#include "ui/elements/UIAction.h"
#include "ui/widgets/UIList.h"

namespace {

constexpr float kEaseShare = 0.05f;      // of the overshoot removed per frame
constexpr float kEaseSettled = 1.0f;     // units left that count as settled
constexpr double kMinReleaseDt = 0.0001; // seconds; shorter releases carry no speed
constexpr float kVelocityScale = 10.0f;
constexpr uint32_t kEngineClock = 0;
constexpr uint32_t kFadeFlags = UIACTIONFLAG_SYSTEMTIME;

double Now() { return gVornexRenderer.FrameSeconds(kEngineClock); }

// The candidate when it is still one of the parent's render children.
UIElement* ChildOf(const UIElement* parent, UIElement* candidate) {
    if (!candidate) return nullptr;
    for (UIElement* c = parent->Render().firstChild; c; c = c->Render().nextSibling)
        if (c == candidate) return c;
    return nullptr;
}

// Whether the fixed entry counts as shown: not hidden and not fading out.
bool FixedShown(const UIElement* f) {
    if (f->Render().flags & UIFLAG_HIDDEN) return false;
    for (const UIAction* a = f->Render().actionHeads[UIList::kFixedFadeChannel]; a; a = a->next) {
        const auto* fade = dynamic_cast<const UIActionBlendAndShowHide*>(a);
        if (fade && !fade->showAndBlendIn) return false;
    }
    return true;
}

}  // namespace

void UIList::HandleListOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIList* list = static_cast<UIList*>(element);
    UIListRenderHalf& r = list->lr;
    switch (op) {
    case UIOP_LIST_CONTENT: payload.ReadValue(r.content); break;
    case UIOP_LIST_FIXEDENTRY: payload.ReadValue(r.fixedEntry); break;
    case UIOP_LIST_CONTENTHEIGHT: payload.ReadValue(r.contentHeight); break;
    case UIOP_LIST_ENTRYCOUNT: payload.ReadValue(r.entryCount); break;
    case UIOP_LIST_FIXEDENTRYINDEX: payload.ReadValue(r.fixedEntryIndex); break;
    case UIOP_LIST_VISIBLEROWS: payload.ReadValue(r.visibleRows); break;
    case UIOP_LIST_SCROLLOFFSET: payload.ReadValue(r.scrollOffset); break;
    case UIOP_LIST_PRESS: list->RenderPress(); break;
    case UIOP_LIST_DRAG: {
        Vector p;
        if (payload.ReadValue(p)) list->RenderDrag(p);
        break;
    }
    case UIOP_LIST_RELEASE: list->RenderRelease(); break;
    default: break;
    }
}

UIElement* UIList::RenderContent() const { return ChildOf(this, lr.content); }
UIElement* UIList::RenderFixedEntry() const { return ChildOf(this, lr.fixedEntry); }

void UIList::SetGlideMarks(uint8_t mark) {
    if (UIElement* c = RenderContent())
        for (UIElement* e = c->Render().firstChild; e; e = e->Render().nextSibling) e->glideMark = mark;
}

void UIList::ResetScroll() {
    lr.velocity = 0;
    lr.lastDelta = 0;
    lr.direction = 0;
    SetGlideMarks(1);
}

void UIList::ScrollBy(float delta) {
    lr.scrollOffset += delta;
    if (UIElement* c = RenderContent()) c->DoSetPosition(Vector(0, lr.scrollOffset, 0, 1));
    if (UIElement* f = RenderFixedEntry()) {
        f->DoSetPosition(Vector(f->Render().position.x,
                                lr.contentHeight + lr.scrollOffset + f->Render().size.y * 0.5f, 0, 1));
        RenderUpdateFixedEntry();
    }
    lr.lastDelta = delta;
}

bool UIList::ScrollForward(float delta) {
    if (lr.scrollOffset - lr.margin > 0.0f) {
        lr.settled = false;
        return false;
    }
    ScrollBy(delta);
    return true;
}

bool UIList::ScrollBack(float delta) {
    float bottom = lr.scrollOffset + lr.contentHeight - Render().size.y + lr.margin;
    if (UIElement* f = RenderFixedEntry()) bottom += f->Render().size.y;
    if (bottom < 0.0f) {
        lr.settled = false;
        return false;
    }
    ScrollBy(delta);
    return true;
}

void UIList::EaseBack() {
    if (lr.settled || lr.contentHeight == 0.0f) return;
    lr.settled = true;
    if (lr.scrollOffset > 0.0f) {
        ScrollBy(-kEaseShare * lr.scrollOffset);
        if (!(lr.scrollOffset < kEaseSettled)) lr.settled = false;
        return;
    }
    float over = lr.scrollOffset + lr.contentHeight - Render().size.y;
    UIElement* f = RenderFixedEntry();
    if (f && !(f->Render().flags & UIFLAG_HIDDEN)) over += f->Render().size.y;
    if (over >= 0.0f) return;
    ScrollBy(-kEaseShare * over);
    if (!(std::fabs(over) < kEaseSettled)) lr.settled = false;
}

void UIList::RenderPress() {
    lr.lastTime = Now();
    if (lr.state == UILIST_GLIDING) lr.state = UILIST_STOPPING;
}

void UIList::RenderDrag(const Vector& p) {
    switch (lr.state) {
    case UILIST_DRAGGING: {
        const float d = (p.y - lr.lastPointer.y) * lr.uiHeight;
        if (d > 0.0f)
            ScrollForward(d);
        else
            ScrollBack(d);
        lr.lastPointer = p;
        break;
    }
    case UILIST_IDLE:
    case UILIST_EASINGBACK:
        lr.state = UILIST_DRAGGING;
        lr.lastPointer = p;
        ResetScroll();
        break;
    default: lr.lastPointer = p; break;
    }
}

void UIList::RenderRelease() {
    const double now = Now();
    const double dt = now - lr.lastTime;
    lr.lastTime = now;
    Glide(lr.lastDelta, dt);
}

void UIList::Glide(float delta, double dt) {
    lr.velocity = delta * kVelocityScale * (dt > kMinReleaseDt ? float(1.0 / dt) : 0.0f);
    lr.direction = lr.velocity > 0.0f ? 1 : -1;
    if (float(lr.direction) * lr.velocity > lr.maximumSpeed) lr.velocity = lr.maximumSpeed * float(lr.direction);
    lr.state = UILIST_GLIDING;
    lr.deceleration = std::fabs(lr.velocity);  // a glide lasts at most one second
    SetGlideMarks(0);
}

void UIList::Draw(const Matrix&, const Vector&, bool, const UIFadeRecord*) { RenderFrameUpdate(); }

void UIList::RenderFrameUpdate() {
    switch (lr.state) {
    case UILIST_GLIDING: {
        const double now = Now();
        const double dt = now - lr.lastTime;
        lr.velocity -= float(dt) * lr.deceleration * float(lr.direction);
        lr.lastTime = now;
        bool accepted = false;
        if (float(lr.direction) * lr.velocity > 0.0f) {
            const float d = lr.velocity * float(dt);
            accepted = d > 0.0f ? ScrollForward(d) : ScrollBack(d);
        }
        if (!accepted) {
            // Easing back looks at where the glide left the list: one pulled past an end
            // within the margin (never refused) is brought back too.
            lr.state = UILIST_EASINGBACK;
            lr.settled = false;
        }
        break;
    }
    case UILIST_EASINGBACK:
        EaseBack();
        if (lr.settled) lr.state = UILIST_STOPPING;
        break;
    case UILIST_STOPPING:
        ResetScroll();
        lr.state = UILIST_IDLE;
        break;
    default: break;
    }
}

void UIList::RenderUpdateFixedEntry() {
    UIElement* f = RenderFixedEntry();
    if (!f || lr.entryCount == 0) return;
    const float h = lr.contentHeight / float(lr.entryCount);
    if (!(h > 0.0f)) return;
    const int32_t r = int32_t(std::fabs(lr.scrollOffset) / h + 0.5f);
    const int32_t index = lr.fixedEntryIndex;
    const bool shown = FixedShown(f);
    if (!shown && index < r) {
        f->DoSetPosition(Vector(0, 0, 0, 1));
        f->RemoveActions(-1);
        f->RenderMutable().color = Vector(1, 1, 1, 1);
        f->AddAction(new UIActionBlendAndShowHide(kFixedFadeSeconds, false, kFadeFlags, kFixedFadeChannel));
    } else if (!shown && index > r + lr.visibleRows - 1) {
        f->DoSetPosition(Vector(0, Render().size.y - f->Render().size.y, 0, 1));
        f->RemoveActions(-1);
        f->RenderMutable().color = Vector(1, 1, 1, 1);
        f->AddAction(new UIActionBlendAndShowHide(kFixedFadeSeconds, true, kFadeFlags, kFixedFadeChannel));
    } else if (shown && index >= r && index <= r + lr.visibleRows) {
        f->RemoveActions(-1);
        f->AddAction(new UIActionBlendAndShowHide(kFixedFadeSeconds, false, kFadeFlags, kFixedFadeChannel));
    }
}
