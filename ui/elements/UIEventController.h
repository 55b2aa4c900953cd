#pragma once
// The input side of a UI element (its second base) and the small companions the
// containers use to pass events on.
//
// Main thread: the screen calls these while it routes the pointer.
#include <cstdint>

struct Vector;
class UIElementCommand;

class UIEventController {
public:
    virtual ~UIEventController() = default;

    // The pointer went down on the element; true = handled.
    virtual bool OnPress() { return false; }
    // The press ended (called at every release).
    virtual bool OnRelease() { return false; }
    // Released over the pressed element; true = accepted.
    virtual bool OnClick() { return false; }
    // The pointer moves while this element is the drag source; true = handled.
    virtual bool OnDrag(const Vector& pointer) {
        OnPress();
        return false;
    }
    // The pointer left the pressed element, or a drag source took over.
    virtual bool OnPressLost(const Vector& pointer) { return false; }
    // True when this element wants to become the drag source.
    virtual bool AcceptsDrag() { return false; }
    // The commands a click runs (buttons): SetCommand deletes the held ones and keeps this
    // one, AddCommand appends. The element owns the command; one that runs no commands
    // deletes it at once.
    virtual void SetCommand(UIElementCommand* command);
    virtual void AddCommand(UIElementCommand* command);

    uint32_t enabled = 1;
    // Render thread: 0 while a list this element belongs to glides, else 1 (kept for the
    // draw; nothing reads it yet).
    uint8_t glideMark = 1;
};

// A receiver of numbered events (a separate base of the radio-button and tabbed
// containers).
class EventReceiver {
public:
    virtual ~EventReceiver() = default;
    virtual void OnEvent(uint32_t event) {}
};

// A deferred command.
class UIElementCommand {
public:
    virtual ~UIElementCommand() = default;
    virtual void Execute() {}
};

inline void UIEventController::SetCommand(UIElementCommand* command) { delete command; }
inline void UIEventController::AddCommand(UIElementCommand* command) { delete command; }

// Tells its receiver one event when executed.
class NotifyCommand : public UIElementCommand {
public:
    NotifyCommand(EventReceiver* target, uint32_t argument) : target(target), argument(argument) {}
    void Execute() override {
        if (target) target->OnEvent(argument);
    }

    EventReceiver* target;
    uint32_t argument;
};
