#pragma once
// UIAction: a small timed animation attached to one action channel of an element on the
// render thread. The main thread only constructs an action and posts it with op 23
// (UIElement::PostAddAction); from then on the render thread owns it: it is attached,
// ticked once per UI frame while its element is drawn, and destroyed when it finishes or
// when its channel, its element's actions or its element are cleared.
//
// Actions on one channel run one after the other (unless UIACTIONFLAG_DONOTWAIT lets the
// next start too); the four channels of an element run side by side.
#include <cstddef>
#include <cstdint>

#include "core/math/Vector.h"

class UIElement;

class UIAction {
public:
    enum : uint32_t { STATE_NOT_STARTED = 0, STATE_RUNNING = 1, STATE_FINISHED = 2 };

    // The plain action: a wait of the duration.
    UIAction(float duration, uint32_t flags, uint32_t channel);
    // Unlinks the action from its element's channel.
    virtual ~UIAction();
    UIAction(const UIAction&) = delete;
    UIAction& operator=(const UIAction&) = delete;

    // Allocated on the main thread, freed on the render thread. A failed allocation gives
    // null (nothing is constructed), which the requests post as a null action.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block);

    // Whether the action may be attached to the element: not to a hidden one (warning).
    virtual bool CanAttach(UIElement* target);
    // Once, when the action starts running.
    virtual void OnStart() {}
    // Writes the animated value for the eased progress e in [0, 1].
    virtual void Apply(float e) {}

    // Moves the action to the tail of its channel on the element (null: only unlinks).
    void AttachTo(UIElement* target);
    // Takes the stamp from the selected clock, runs OnStart.
    void Start();
    // Advances to the selected clock's present time and applies the eased progress.
    void Update();

    // The easing of flags & 7 (5-7 linear).
    static float Ease(uint32_t flags, float t);

    UIElement* element = nullptr;
    uint32_t channel;
    UIAction* previous = nullptr;
    UIAction* next = nullptr;
    float duration;
    uint32_t state = STATE_NOT_STARTED;
    uint32_t flags;
    int64_t startStamp = 0;
    // The tick walk in which a repeating action went back to its channel's tail.
    uint32_t requeuedInWalk = 0;
};

// Actions that move one vector of the element from its value at the start to a target.
class UIActionVector : public UIAction {
public:
    UIActionVector(float duration, const Vector& target, uint32_t flags, uint32_t channel)
        : UIAction(duration, flags, channel), target(target) {}

    Vector start;
    Vector target;
};

class UIActionMove : public UIActionVector {
public:
    UIActionMove(float duration, const Vector& position, uint32_t flags, uint32_t channel)
        : UIActionVector(duration, position, flags, channel) {}
    void OnStart() override;
    void Apply(float e) override;
};

class UIActionChangeSize : public UIActionVector {
public:
    UIActionChangeSize(float duration, const Vector& size, uint32_t flags, uint32_t channel)
        : UIActionVector(duration, size, flags, channel) {}
    void OnStart() override;
    void Apply(float e) override;
};

class UIActionRotate : public UIActionVector {
public:
    UIActionRotate(float duration, const Vector& degrees, uint32_t flags, uint32_t channel)
        : UIActionVector(duration, degrees, flags, channel) {}
    void OnStart() override;
    void Apply(float e) override;
};

class UIActionScale : public UIActionVector {
public:
    UIActionScale(float duration, const Vector& scale, uint32_t flags, uint32_t channel)
        : UIActionVector(duration, scale, flags, channel) {}
    void OnStart() override;
    void Apply(float e) override;
};

class UIActionColor : public UIActionVector {
public:
    UIActionColor(float duration, const Vector& color, uint32_t flags, uint32_t channel)
        : UIActionVector(duration, color, flags, channel) {}
    void OnStart() override;
    void Apply(float e) override;
};

// Fades the alpha in (showing a hidden element first) or out (hiding the element at the
// end, or when the fade-out is destroyed before it ends).
class UIActionBlendAndShowHide : public UIAction {
public:
    UIActionBlendAndShowHide(float duration, bool showAndBlendIn, uint32_t flags, uint32_t channel);
    ~UIActionBlendAndShowHide() override;
    bool CanAttach(UIElement* target) override;
    void OnStart() override;
    void Apply(float e) override;

    Vector start;
    Vector target;
    uint8_t showAndBlendIn;
};

// Deletes its element when it starts (the render side queues it for the main thread).
class UIActionDelete : public UIAction {
public:
    UIActionDelete(uint32_t flags, uint32_t channel) : UIAction(0.0f, flags, channel) {}
    void OnStart() override;
};

// lerp(a, b, e) = (1 - e) a + e b per component.
inline Vector UIActionLerp(const Vector& a, const Vector& b, float e) { return a * (1.0f - e) + b * e; }
