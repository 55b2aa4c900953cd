#pragma once
// The InputManager gathers all player input once per frame and keeps the current and
// the previous frame's state, so that callers can ask whether something is down, went
// down this frame or went up this frame.
//
// Sources: the keyboard (KeyboardDevice), mouse events the window procedure posts
// (PostMouseEvent: buttons and double clicks, one consumed per Update; the cursor
// position, wheel and cursor-on-window state), touch contacts turned into taps, and the
// game controllers (four XInput pads and one DirectInput controller).
//
// Key codes: below 0x10000 keyboard scan codes (0-255); 0x10000 to 0x10005 the mouse
// buttons left, right, middle, left double click, right double click, middle double
// click. Controller queries take an index 0-3 or kAnyController (every enabled pad).
//
// Taps: each touch (or, with mouse tap emulation, each mouse press) makes a tap with a
// process-wide increasing id. States: 0 new (down, not retrieved), 1 retrieved and
// down, 2 released before being retrieved, 3 released and retrieved, 4 reported as
// released. EndFrame removes taps in states 2 to 4. A touch is first offered to the
// Game's screens through TouchRoutingServices; one a screen takes makes no tap.
//
// Input events: key-down (0, virtual key), character (1, UTF-16 unit), tap begin (2),
// tap end (3) and tap move (4) with the tap id, queued for the Game to hand to its
// delegate.
//
// Threads: main thread only; the window procedure posts on the same thread.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/math/Vector.h"
#include "engine/input/GameControllers.h"
#include "platform/input/Keys.h"

class KeyboardDevice;
class UIScreen;
class UIElement;
class UITextBase;

constexpr uint32_t kMouseButtonLeft = 0x10000;
constexpr uint32_t kMouseButtonCount = 6;
constexpr uint32_t kAnyController = 256;

enum MouseEventKind : uint32_t {
    MOUSEEVENT_LEFT_DOWN = 0,
    MOUSEEVENT_LEFT_UP = 1,
    MOUSEEVENT_LEFT_DOUBLE = 2,
    MOUSEEVENT_RIGHT_DOWN = 3,
    MOUSEEVENT_RIGHT_UP = 4,
    MOUSEEVENT_RIGHT_DOUBLE = 5,
    MOUSEEVENT_MIDDLE_DOWN = 6,
    MOUSEEVENT_MIDDLE_UP = 7,
    MOUSEEVENT_MIDDLE_DOUBLE = 8,
    MOUSEEVENT_CURSOR_LEFT = 10,
    MOUSEEVENT_CURSOR_OVER = 11,
};

enum InputEventKind : int32_t {
    INPUTEVENT_KEYBOARD_KEYPRESS = 0,
    INPUTEVENT_KEYBOARD_CHAR = 1,
    INPUTEVENT_TOUCH_TAPBEGIN = 2,
    INPUTEVENT_TOUCH_TAPEND = 3,
    INPUTEVENT_TOUCH_TAPMOVE = 4,
};

enum TapState : uint32_t {
    TAP_NEW = 0,
    TAP_RETRIEVED = 1,
    TAP_RELEASED = 2,
    TAP_RELEASED_RETRIEVED = 3,
    TAP_REPORTED = 4,
};

struct TapRecord {
    Vector start;
    Vector current;
    uint32_t id = 0;
    uint32_t touchId = 0;
    uint32_t state = TAP_NEW;
    float distance = 0.0f;  // kFloatMax: no longer a click
    int64_t time = 0;       // hardware time of the press
};

struct InputEvent {
    int32_t kind;
    uint32_t value;
};

class InputManager {
public:
    // Caps that keep a stalled consumer from growing the queues without bound; events
    // beyond them are dropped.
    static constexpr uint32_t kMaxMouseEvents = 1024;
    static constexpr uint32_t kMaxInputEvents = 1024;
    static constexpr uint32_t kMaxTaps = 256;

    InputManager();
    // Writes the accessibility settings back and releases every device.
    ~InputManager();
    InputManager(const InputManager&) = delete;
    InputManager& operator=(const InputManager&) = delete;

    // Creates the input system; "Unable to initialize DirectInput" and false on failure.
    bool Init(uint32_t window);
    // Cursor (0.5, 0.5), the keyboard device, the four pads and the DirectInput
    // controller.
    void InitDevices(uint32_t window);
    // One frame; true when a pad connected or disconnected.
    bool Update();
    // End of the Game tick: taps in states 2, 3 and 4 go.
    void EndFrame();

    // Window-procedure entries. A mouse event is (kind, x, y) with the position
    // normalised to the client area; other kinds are refused.
    bool PostMouseEvent(uint32_t kind, float x, float y);
    void OnMouseMove(float x, float y) { cursor = Vector(x, y, 0.0f, 0.0f); }
    void AddWheel(float amount) { wheelAccumulator += amount; }
    // A wheel message: this frame's wheel becomes 1 (delta 0 or more) or -1, so the
    // last notch of a frame wins.
    void SetWheelFromMessage(int32_t delta) { wheelAccumulator = delta >= 0 ? 1.0f : -1.0f; }
    void OnDevicesChanged();

    bool IsKeyPressed(uint32_t key) const;
    // The pressed pointer inputs (kMouseButtonLeft + 0..5), in that order, into `out`;
    // returns how many.
    static constexpr uint32_t kPointerInputCount = 6;
    uint32_t PressedPointerInputs(uint32_t (&out)[kPointerInputCount]) const;
    bool IsKeyPressedForTheFirstTime(uint32_t key) const;
    bool IsKeyReleasedForTheFirstTime(uint32_t key) const;
    const Vector& GetCursorPosition() const { return cursor; }
    void SetCursorPosition(float x, float y) { cursor = Vector(x, y, 0.0f, 0.0f); }
    float GetMouseWheel() const { return wheel; }
    bool IsCursorOnGameWindow() const { return cursorOnWindow != 0; }
    uint32_t FrameNumber() const { return frameNumber; }
    const KeyboardDevice* Keyboard() const { return keyboard.get(); }

    // Controllers.
    bool IsXControllerPresent(uint32_t index) const;
    Vector GetXControllerAnalogInput(uint32_t index) const;
    float GetXControllerLeftTriggerInput(uint32_t index) const;
    float GetXControllerRightTriggerInput(uint32_t index) const;
    bool IsXControllerKeyPressed(uint32_t key, uint32_t index) const;
    bool IsXControllerKeyPressedForTheFirstTime(uint32_t key, uint32_t index) const;
    void EnableControllerInput(bool enable, uint32_t index);
    uint32_t EnabledControllerMask() const { return enabledControllers; }
    bool IsDIControllerPresent() const { return diController.IsConnected(); }
    Vector GetDIControllerAnalogInput() const;
    bool IsDIControllerKeyPressed(uint32_t button) const { return diController.IsButtonPressed(button); }
    bool IsDIControllerKeyPressedForTheFirstTime(uint32_t button) const {
        return diController.IsButtonPressedForTheFirstTime(button);
    }
    // Append the device's instance name / the name of button 1..32 to a UI text,
    // clearing it first when asked.
    void AppendDIDeviceName(UITextBase* text, bool clear) const;
    void AppendDIKeyName(UITextBase* text, uint32_t button, bool clear) const;
    // Around a renderer device reset.
    void ReleaseGameControllers();
    void ReconnectGameControllers();
    void SetAccessibilityKeys(bool restore);

    // Taps.
    void TouchDown(uint32_t touchId, float x, float y);
    void TouchMove(uint32_t touchId, float x, float y);
    void TouchUp(uint32_t touchId, float x, float y);
    void EnableMouseTapEmulation(bool enable) { mouseTapEmulation = enable; }
    // Deactivation: every tap still down is released.
    void ReleaseActiveTaps();

    uint32_t GetNewTap();
    // The oldest new tap that started inside the element the screen tracks.
    uint32_t GetNewTapForUIElement(UIScreen* screen, UIElement* element);
    // Whether the tap's present position lies inside the element.
    bool IsTapWithinUIElement(uint32_t tap, UIScreen* screen, UIElement* element) const;
    uint32_t GetNextReleasedTap();
    bool IsTapStillActive(uint32_t tap) const;
    bool GetTapPosition(uint32_t tap, Vector* position) const;
    void CancelTapAsClick(uint32_t tap);
    void MarkTapRetrieved(uint32_t tap);
    const std::vector<TapRecord>& Taps() const { return taps; }

    // The queued input events.
    void PostInputEvent(int32_t kind, uint32_t value);
    const std::vector<InputEvent>& InputEvents() const { return inputEvents; }
    void ClearInputEvents() { inputEvents.clear(); }

private:
    struct MouseEvent {
        uint32_t kind;
        float x, y;
    };
    static_assert(sizeof(MouseEvent) == 12);

    TapRecord* FindTap(uint32_t id);
    const TapRecord* FindTap(uint32_t id) const;
    TapRecord* FindDownTap(uint32_t touchId);
    uint32_t AddTap(uint32_t touchId, float x, float y);
    void RemoveTap(uint32_t id);
    static void MoveTap(TapRecord& tap, float x, float y);
    void EmulateMouseTaps();
    // The tap a screen holds for that touch (0 none), forgotten unless keep is set.
    uint32_t TakeScreenTouch(uint32_t touchId, bool keep = false);
    uint32_t ControllerMask(uint32_t index) const;
    // Whether the test holds for a pad the index selects.
    template <class Test>
    bool AnyController(uint32_t index, Test test) const {
        const uint32_t mask = ControllerMask(index);
        for (uint32_t i = 0; i < kXControllerCount; ++i)
            if ((mask & (1u << i)) && test(xControllers[i])) return true;
        return false;
    }
    float LargestTrigger(uint32_t index, bool right) const;

    Vector cursor;
    float wheel = 0.0f;
    uint8_t mouseButtons[kMouseButtonCount] = {};
    uint8_t previousMouseButtons[kMouseButtonCount] = {};
    uint8_t keys[hid::kKeyStateBytes] = {};
    uint8_t previousKeys[hid::kKeyStateBytes] = {};
    hid::SystemHandle inputSystem = 0;
    std::unique_ptr<KeyboardDevice> keyboard;
    // Left, right, middle down; left, right, middle double click.
    uint8_t latches[kMouseButtonCount] = {};
    std::vector<MouseEvent> mouseEvents;
    float wheelAccumulator = 0.0f;
    XInputController xControllers[kXControllerCount];
    uint32_t enabledControllers = 0;
    DirectInputController diController;
    uint8_t cursorOnWindow = 0;
    uint32_t frameNumber = 0;
    std::vector<TapRecord> taps;
    bool inputControllerEnabled = false;
    bool devicesInitialised = false;
    uint32_t window = 0;
    uint32_t tapCounter = 0;
    bool mouseTapEmulation = false;
    // Touches a screen took at their press: no tap, but their moves and release still
    // go to the screens under the id the press was offered with. At most kMaxTaps.
    struct ScreenTouch {
        uint32_t touchId, tap;
    };
    std::vector<ScreenTouch> screenTouches;
    std::vector<InputEvent> inputEvents;
};
