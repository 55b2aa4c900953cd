// The input manager's taps: touches and emulated mouse presses, their states, and
// the queries that retrieve them.
#include <algorithm>
#include <cmath>

#include "core/Time.h"
#include "engine/services/UIServices.h"
#include "engine/input/InputManager.h"
#include "engine/input/TouchRoutingServices.h"

namespace {

// Raised for every new tap of any manager, so ids never repeat in the process.
uint32_t gTapCounter = 0;

// Touch ids of emulated mouse taps, out of the range touch contacts use.
constexpr uint32_t kMouseTouchIdBase = 0xFFFFFF00u;

bool HitsElement(UIScreen* screen, UIElement* element, const Vector& position) {
    UIServices& ui = GetUIServices();
    const int32_t slot = ui.FindTrackedEntitySlot(screen, element);
    return slot >= 0 && ui.HitTestTrackedEntity(screen, slot, position);
}

}  // namespace

TapRecord* InputManager::FindTap(uint32_t id) {
    for (TapRecord& t : taps)
        if (t.id == id) return &t;
    return nullptr;
}

const TapRecord* InputManager::FindTap(uint32_t id) const { return const_cast<InputManager*>(this)->FindTap(id); }

TapRecord* InputManager::FindDownTap(uint32_t touchId) {
    for (TapRecord& t : taps)
        if (t.touchId == touchId && (t.state == TAP_NEW || t.state == TAP_RETRIEVED)) return &t;
    return nullptr;
}

uint32_t InputManager::AddTap(uint32_t touchId, float x, float y) {
    if (taps.size() >= kMaxTaps) return 0;
    TapRecord t;
    t.start = t.current = Vector(x, y, 0.0f, 0.0f);
    t.id = std::max(gTapCounter, tapCounter) + 1;
    gTapCounter = tapCounter = t.id;
    t.touchId = touchId;
    Time now;
    now.LoadHardwareTime();
    t.time = now.ticks;
    taps.push_back(t);
    return t.id;
}

void InputManager::RemoveTap(uint32_t id) {
    for (size_t i = 0; i < taps.size(); ++i) {
        if (taps[i].id != id) continue;
        taps[i] = taps.back();  // the last tap takes the removed one's place
        taps.pop_back();
        return;
    }
}

void InputManager::MoveTap(TapRecord& tap, float x, float y) {
    tap.current = Vector(x, y, 0.0f, 0.0f);
    if (tap.distance == kFloatMax) return;
    const float dx = x - tap.start.x, dy = y - tap.start.y;
    tap.distance = std::max(tap.distance, std::sqrt(dx * dx + dy * dy));
}

void InputManager::TouchDown(uint32_t touchId, float x, float y) {
    const uint32_t id = AddTap(touchId, x, y);
    if (!id) return;
    TakeScreenTouch(touchId);  // a touch id seen again starts a new touch
    if (GetTouchRoutingServices().RouteTouchDown(id, x, y)) {
        RemoveTap(id);
        if (screenTouches.size() >= kMaxTaps) screenTouches.erase(screenTouches.begin());
        screenTouches.push_back({touchId, id});
        return;
    }
    PostInputEvent(INPUTEVENT_TOUCH_TAPBEGIN, id);
}

uint32_t InputManager::TakeScreenTouch(uint32_t touchId, bool keep) {
    for (size_t i = 0; i < screenTouches.size(); ++i) {
        if (screenTouches[i].touchId != touchId) continue;
        const uint32_t tap = screenTouches[i].tap;
        if (!keep) screenTouches.erase(screenTouches.begin() + static_cast<std::ptrdiff_t>(i));
        return tap;
    }
    return 0;
}

void InputManager::TouchMove(uint32_t touchId, float x, float y) {
    TapRecord* tap = FindDownTap(touchId);
    if (!tap) {
        if (const uint32_t held = TakeScreenTouch(touchId, true)) GetTouchRoutingServices().RouteTouchMove(held, x, y);
        return;
    }
    MoveTap(*tap, x, y);
    const uint32_t id = tap->id;
    if (GetTouchRoutingServices().RouteTouchMove(id, x, y)) return;
    PostInputEvent(INPUTEVENT_TOUCH_TAPMOVE, id);
}

void InputManager::TouchUp(uint32_t touchId, float x, float y) {
    TapRecord* tap = FindDownTap(touchId);
    if (!tap) {
        if (const uint32_t held = TakeScreenTouch(touchId)) GetTouchRoutingServices().RouteTouchUp(held, x, y);
        return;
    }
    tap->state = tap->state == TAP_RETRIEVED ? TAP_RELEASED_RETRIEVED : TAP_RELEASED;
    MoveTap(*tap, x, y);
    const uint32_t id = tap->id;
    if (GetTouchRoutingServices().RouteTouchUp(id, x, y)) return;
    PostInputEvent(INPUTEVENT_TOUCH_TAPEND, id);
}

void InputManager::EmulateMouseTaps() {
    // The Game routes the mouse to its screens itself, so emulated taps are not offered
    // to them again.
    for (uint32_t b = 0; b < kMouseButtonCount; ++b) {
        const uint32_t touchId = kMouseTouchIdBase + b;
        if (mouseButtons[b] && !previousMouseButtons[b]) {
            if (FindDownTap(touchId)) continue;  // one tap per press
            if (const uint32_t id = AddTap(touchId, cursor.x, cursor.y)) PostInputEvent(INPUTEVENT_TOUCH_TAPBEGIN, id);
        } else if (TapRecord* tap = FindDownTap(touchId)) {
            if (mouseButtons[b]) {
                if (tap->current.x == cursor.x && tap->current.y == cursor.y) continue;
                MoveTap(*tap, cursor.x, cursor.y);
                PostInputEvent(INPUTEVENT_TOUCH_TAPMOVE, tap->id);
            } else {
                tap->state = tap->state == TAP_RETRIEVED ? TAP_RELEASED_RETRIEVED : TAP_RELEASED;
                MoveTap(*tap, cursor.x, cursor.y);
                PostInputEvent(INPUTEVENT_TOUCH_TAPEND, tap->id);
            }
        }
    }
}

void InputManager::ReleaseActiveTaps() {
    for (TapRecord& t : taps) {
        if (t.state != TAP_NEW && t.state != TAP_RETRIEVED) continue;
        t.state = t.state == TAP_RETRIEVED ? TAP_RELEASED_RETRIEVED : TAP_RELEASED;
        PostInputEvent(INPUTEVENT_TOUCH_TAPEND, t.id);
    }
}

void InputManager::EndFrame() {
    for (size_t i = 0; i < taps.size();) {
        if (taps[i].state >= TAP_RELEASED) {
            taps[i] = taps.back();
            taps.pop_back();
        } else {
            ++i;
        }
    }
}

uint32_t InputManager::GetNewTap() {
    for (TapRecord& t : taps) {
        if (t.state == TAP_NEW || t.state == TAP_RELEASED) {
            t.state = t.state == TAP_NEW ? TAP_RETRIEVED : TAP_RELEASED_RETRIEVED;
            return t.id;
        }
    }
    return 0;
}

uint32_t InputManager::GetNewTapForUIElement(UIScreen* screen, UIElement* element) {
    for (TapRecord& t : taps) {
        if ((t.state == TAP_NEW || t.state == TAP_RELEASED) && HitsElement(screen, element, t.start)) {
            t.state = t.state == TAP_NEW ? TAP_RETRIEVED : TAP_RELEASED_RETRIEVED;
            return t.id;
        }
    }
    return 0;
}

bool InputManager::IsTapWithinUIElement(uint32_t tap, UIScreen* screen, UIElement* element) const {
    const TapRecord* t = FindTap(tap);
    return t && HitsElement(screen, element, t->current);
}

uint32_t InputManager::GetNextReleasedTap() {
    for (TapRecord& t : taps) {
        if (t.state == TAP_RELEASED || t.state == TAP_RELEASED_RETRIEVED) {
            t.state = TAP_REPORTED;
            return t.id;
        }
    }
    return 0;
}

bool InputManager::IsTapStillActive(uint32_t tap) const {
    const TapRecord* t = FindTap(tap);
    return t && (t->state == TAP_NEW || t->state == TAP_RETRIEVED);
}

bool InputManager::GetTapPosition(uint32_t tap, Vector* position) const {
    const TapRecord* t = FindTap(tap);
    if (!t || !position) return false;
    *position = t->current;
    return true;
}

void InputManager::CancelTapAsClick(uint32_t tap) {
    if (TapRecord* t = FindTap(tap)) t->distance = kFloatMax;
}

void InputManager::MarkTapRetrieved(uint32_t tap) {
    TapRecord* t = FindTap(tap);
    if (!t) return;
    if (t->state == TAP_NEW) t->state = TAP_RETRIEVED;
    else if (t->state == TAP_RELEASED) t->state = TAP_RELEASED_RETRIEVED;
}
