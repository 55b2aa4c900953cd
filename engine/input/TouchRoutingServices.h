#pragma once
// TouchRoutingServices: how the InputManager offers a touch to the Game's UI screens
// before it becomes a tap. The Game installs its implementation while it runs; until
// then (and after SetTouchRoutingServices(nullptr)) the base class answers that no
// screen took the touch, so every touch becomes a tap.
//
// Each call gets the tap id the touch was (or would have been) given and its normalised
// position, and returns true when a screen took the touch.
//
// Threads: main thread.
#include <cstdint>

class TouchRoutingServices {
public:
    virtual ~TouchRoutingServices() = default;

    virtual bool RouteTouchDown(uint32_t tap, float x, float y) { return false; }
    virtual bool RouteTouchMove(uint32_t tap, float x, float y) { return false; }
    virtual bool RouteTouchUp(uint32_t tap, float x, float y) { return false; }
};

TouchRoutingServices& GetTouchRoutingServices();
// Not owned; null restores the default.
void SetTouchRoutingServices(TouchRoutingServices* services);
