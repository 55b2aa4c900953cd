#pragma once
// EntityBlender: fades an entity's colour over time. Linked blenders sit in one global
// list that UpdateAllBlenders walks once per frame; a blender leaves the list when its
// fade has finished or its entity is gone. Fades are timed by the Game's smooth game
// timer (the counter while no game runs).
//
// Threads: main thread only.
#include <cstdint>

#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"
#include "engine/tween/Fade.h"

class Entity;

enum : uint32_t {
    INTERPOLATION_LINEAR = 0,
    INTERPOLATION_HALFSINE = 1,
    INTERPOLATION_INVHALFSINE = 2,
    INTERPOLATION_SINE = 3,
};

class EntityBlender {
public:
    explicit EntityBlender(Entity* entity = nullptr);
    // The copy is linked when the source is.
    EntityBlender(const EntityBlender& other);
    EntityBlender& operator=(const EntityBlender&) = delete;
    ~EntityBlender();

    void SetColorMultiplier(float r, float g, float b, float a);
    // Towards target over seconds along curve; at once for seconds <= 0. With auto
    // show/hide a target above 0 shows the entity first.
    void Blend(float target, float seconds, uint32_t curve);
    // False when the entity is gone or the fade has finished (a finished fade at or
    // below 0 hides the entity with auto show/hide).
    bool Update();
    static void UpdateAllBlenders();

    void SetAlphaOnly(bool on) { alphaOnly = on; }
    void SetAutoShowHide(bool on) { autoShowHide = on; }
    bool IsLinked() const { return linked; }
    float GetValue() const { return fade.current; }
    Entity* GetEntity() const { return entity.Get(); }

private:
    void Link();
    void Unlink();

    Vector colorMultiplier = Vector(1.0f, 1.0f, 1.0f, 1.0f);
    SafePointer<Entity> entity;
    FloatFade fade;
    bool alphaOnly = false;
    EntityBlender* previous = nullptr;
    EntityBlender* next = nullptr;
    bool linked = false;
    bool autoShowHide = false;
};
