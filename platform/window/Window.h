#pragma once
// The window layer: top-level windows, their event queue, the screen with its display
// modes, and the cursor. Headless unless the desktop back end runs (below).
//
// Headless, nothing is shown and no device is read. A window is a record behind a small
// integer handle with a title, a style word, a window rectangle in screen
// coordinates and a client area derived from the style's frame; the program and
// tests feed the event queue (key presses, mouse, touch, sizing drags) and the layer
// itself posts the events that follow from its own calls (placement posts Move and
// Size, focus changes post Activate, DestroyWindow posts Destroy). The program pumps
// the queue with PeekEvent and DispatchEvent into its window procedure.
//
// Numbers the program computes with keep the original platform's values: style
// bits, show commands, sizing edge codes, display-mode field bits and change
// results, virtual-key codes in key events, UTF-16 units in character events.
//
// Threads: main thread only, like a window procedure. Nothing here
// takes a lock.
#include <cstdint>

namespace wnd {

using WindowHandle = uint32_t;  // 0: none
using CursorHandle = uint32_t;  // 0: none
using TouchHandle = uint32_t;   // 0: none

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// ---------------------------------------------------------------------------------
// Styles and frames.

constexpr uint32_t kStylePopup = 0x80000000;
constexpr uint32_t kStyleClipSiblings = 0x04000000;
constexpr uint32_t kStyleClipChildren = 0x02000000;
constexpr uint32_t kStyleCaption = 0x00C00000;
constexpr uint32_t kStyleThickFrame = 0x00040000;
constexpr uint32_t kStyleOverlappedWindow = 0x00CF0000;  // caption, system menu, sizing frame, boxes
constexpr uint32_t kExStyleTopmost = 0x00000008;

// The two frames. A style with any caption or sizing-frame bit is a framed window
// with an 8-pixel border on the left, right and bottom and a 31-pixel top (a 23-pixel
// caption over the border); any other style (the borderless popup) has no frame.
// The extended style does not change the frame.
struct FrameSize {
    int32_t left, top, right, bottom;
};
constexpr FrameSize kFramedWindowFrame{8, 31, 8, 8};
constexpr FrameSize kPopupFrame{0, 0, 0, 0};
FrameSize FrameForStyle(uint32_t style);

// Grows a client rectangle into the window rectangle of that style. False (rect
// untouched) for a null rectangle.
bool AdjustWindowRect(Rect* rect, uint32_t style, uint32_t exStyle);

// ---------------------------------------------------------------------------------
// Windows.

struct WindowDesc {
    const char* className = "";
    const char* title = "";
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int32_t x = 0, y = 0, width = 0, height = 0;  // the window rectangle
};

// A new hidden window (0 for a null or empty class name). Its frame is taken from
// the style now and again only on SetWindowPos with kPosFrameChanged, as on the
// original platform, so a style change alone leaves the client area as it was.
WindowHandle CreateWindow(const WindowDesc& desc);
// Posts Destroy; the record lives until that event is dispatched (or the layer is
// reset), and the window then no longer exists.
bool DestroyWindow(WindowHandle window);
bool IsWindow(WindowHandle window);
// The oldest window of that class (case-sensitive), or 0.
WindowHandle FindWindow(const char* className);

bool SetWindowText(WindowHandle window, const char* text);
// The title; "" for an unknown window. Valid until the title changes.
const char* GetWindowText(WindowHandle window);
uint32_t GetWindowStyle(WindowHandle window);
bool SetWindowStyle(WindowHandle window, uint32_t style);
uint32_t GetWindowExStyle(WindowHandle window);

bool GetWindowRect(WindowHandle window, Rect* rect);
// (0, 0, client width, client height); 0 x 0 while the window is minimised.
bool GetClientRect(WindowHandle window, Rect* rect);

enum class ZOrder : uint8_t { Unchanged, Topmost, NotTopmost };
constexpr uint32_t kPosNoSize = 0x1;
constexpr uint32_t kPosNoMove = 0x2;
constexpr uint32_t kPosFrameChanged = 0x20;
// Places the window (x, y, width, height of the window rectangle) and its topmost
// flag; posts Move and Size when the client origin or size changed.
bool SetWindowPos(WindowHandle window, ZOrder order, int32_t x, int32_t y, int32_t width, int32_t height,
                  uint32_t flags);
// The same without a z-order change; with repaint also posts Paint.
bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);

enum ShowCommand : int32_t {
    kShowHide = 0,
    kShowNormal = 1,
    kShowMinimized = 2,
    kShowMaximized = 3,
    kShowNoActivate = 4,
    kShowShow = 5,
    kShowMinimize = 6,
    kShowMinNoActive = 7,
    kShowNA = 8,
    kShowRestore = 9,
    kShowDefault = 10,
};
enum class ShowState : uint8_t { Hidden, Normal, Minimized, Maximized };
// Minimising takes the focus away; maximising fills the screen with the client
// area (the frame lies outside it); restoring brings back the rectangle the window
// had before. Each change posts Size with its size type. Returns whether the window
// was visible before. Unknown commands show the window in its present state.
bool ShowWindow(WindowHandle window, int32_t command);
ShowState GetShowState(WindowHandle window);
// Posts Paint.
bool UpdateWindow(WindowHandle window);

// Keyboard focus: one window or none. A change posts Activate (inactive) to the old
// window and Activate (active) to the new one.
WindowHandle GetFocus();
bool SetFocus(WindowHandle window);  // 0 takes the focus away from every window
bool SetForegroundWindow(WindowHandle window);

// Coordinates: the client origin in screen coordinates is the window rectangle's
// top-left corner plus the frame's left and top.
bool ClientToScreen(WindowHandle window, Point* point);
bool ScreenToClient(WindowHandle window, Point* point);

// Recorded requests (nothing flashes or sounds).
struct FlashRequest {
    WindowHandle window = 0;
    uint32_t flags = 0;
    uint32_t count = 0;
    uint32_t timeoutMs = 0;
};
constexpr uint32_t kFlashAll = 0x3;
constexpr uint32_t kFlashTimerNoForeground = 0xC;
bool FlashWindowEx(WindowHandle window, uint32_t flags, uint32_t count, uint32_t timeoutMs);
bool MessageBeep(uint32_t type);
struct Requests {
    uint32_t flashes = 0;
    FlashRequest lastFlash;
    uint32_t beeps = 0;
    uint32_t lastBeepType = 0;
    uint32_t restores = 0;  // ShowWindow with kShowRestore
};
const Requests& GetRequests();

// The state of the Ctrl key as the asynchronous key query reports it (tests and the
// program set it; on the desktop the keyboard's state as of the event taken last
// counts too).
void SetCtrlKeyDown(bool down);
bool IsCtrlKeyDown();
// The Shift key the same way.
void SetShiftKeyDown(bool down);
bool IsShiftKeyDown();

constexpr uint32_t kDoubleClickTimeMs = 500;
uint32_t GetDoubleClickTime();

// ---------------------------------------------------------------------------------
// Events.

enum class EventKind : uint8_t {
    Destroy,
    Move,
    Size,
    Activate,
    Paint,
    SetCursor,
    KeyDown,
    Char,
    SysCommand,
    MouseMove,
    ButtonDown,
    ButtonUp,
    ButtonDoubleClick,
    Wheel,
    Sizing,
    DeviceChange,
    Touch,
    TabletGestureQuery,
    Count
};

enum class MouseButton : uint8_t { Left, Right, Middle };

constexpr uint32_t kSizeRestored = 0;
constexpr uint32_t kSizeMinimized = 1;
constexpr uint32_t kSizeMaximized = 2;
constexpr uint32_t kActivateInactive = 0;
constexpr uint32_t kActivateActive = 1;
constexpr uint32_t kSysCommandKeyMenu = 0xF100;
constexpr uint32_t kDeviceNodesChanged = 0x0007;
constexpr int32_t kWheelDelta = 120;  // one notch
// Sizing edges: 1 left, 2 right, 3 top, 4 top-left, 5 top-right, 6 bottom,
// 7 bottom-left, 8 bottom-right.

// One message. Which fields carry what, by kind:
//   Move         x, y: the client origin in screen coordinates
//   Size         code: kSize*; x, y: client width and height
//   Activate     code: kActivate*
//   SetCursor    x, y: the cursor position in screen coordinates
//   KeyDown      code: the virtual-key code (Enter 13, Ctrl 17); repeat: auto-repeat
//   Char         code: one UTF-16 unit
//   SysCommand   code: the command (kSysCommandKeyMenu for the key menu)
//   MouseMove    x, y: client coordinates
//   Button*      button; x, y: client coordinates; fromTouch: synthesised from touch
//                or pen input
//   Wheel        wheelDelta: signed, kWheelDelta per notch
//   Sizing       code: the edge; rect: the proposed window rectangle, which the
//                procedure may rewrite and which the window then takes
//   DeviceChange code: the change (kDeviceNodesChanged)
//   Touch        code: the contact count; touch: the handle of the contact records
struct Event {
    EventKind kind = EventKind::Paint;
    WindowHandle window = 0;
    uint32_t code = 0;
    int32_t x = 0, y = 0;
    int32_t wheelDelta = 0;
    MouseButton button = MouseButton::Left;
    bool fromTouch = false;
    TouchHandle touch = 0;
    Rect rect;
    bool repeat = false;  // KeyDown: the key was already down (an auto-repeat)
    // Desktop events: the kModifier* keys held when the event happened. IsCtrlKeyDown
    // and IsShiftKeyDown answer for the event taken last, as the platform's key state
    // follows its message queue.
    uint8_t modifiers = 0;
};
constexpr uint8_t kModifierCtrl = 0x1;
constexpr uint8_t kModifierShift = 0x2;

using WindowProcedure = int64_t (*)(Event& event, void* context);
// Null restores the default procedure.
bool SetWindowProcedure(WindowHandle window, WindowProcedure procedure, void* context);

// Appends to the queue. False for an unknown window or a full queue (4096 events).
bool PostEvent(const Event& event);
// Takes the oldest event; false when none is left.
bool PeekEvent(Event* event);
uint32_t PendingEventCount();
// Runs the window's procedure (the default one when none is set) and returns its
// result. Afterwards a Sizing event's rectangle becomes the window's rectangle and a
// Destroy event ends the window. Events of windows that no longer exist return 0.
int64_t DispatchEvent(Event& event);
// What the platform's default procedure does for the kinds the program passes on:
// SetCursor sets the arrow cursor; Touch closes the contact handle; the rest does
// nothing. Returns 0. Each call is counted by kind.
int64_t DefaultProcedure(Event& event);
uint32_t DefaultHandledCount(EventKind kind);

// Touch contacts: the layer's own records (not an operating-system layout).
constexpr uint32_t kTouchMove = 0x1;
constexpr uint32_t kTouchDown = 0x2;
constexpr uint32_t kTouchUp = 0x4;
struct TouchContact {
    int32_t x = 0, y = 0;  // screen coordinates in hundredths of a pixel
    uint32_t id = 0;
    uint32_t flags = 0;  // kTouch*
};
constexpr uint32_t kMaxTouchContacts = 0xFFFF;  // the count travels in 16 bits
constexpr uint32_t kMaxOpenTouchHandles = 256;
// Stores the contacts under a new handle and posts Touch. False for an unknown
// window, no contacts, more than kMaxTouchContacts, or kMaxOpenTouchHandles handles
// still open.
bool PostTouchEvent(WindowHandle window, const TouchContact* contacts, uint32_t count);
// Copies min(count, stored) records; false for an unknown handle.
bool GetTouchInputInfo(TouchHandle handle, uint32_t count, TouchContact* out);
bool CloseTouchInputHandle(TouchHandle handle);
uint32_t OpenTouchHandleCount();

// ---------------------------------------------------------------------------------
// Screen and display modes.

constexpr uint32_t kModeBitsPerPixel = 0x00040000;
constexpr uint32_t kModePixelWidth = 0x00080000;
constexpr uint32_t kModePixelHeight = 0x00100000;
constexpr uint32_t kModeFrequency = 0x00400000;
struct DisplayMode {
    uint32_t fields = 0;  // kMode* bits marking the members a change request sets
    uint32_t bitsPerPixel = 0;
    uint32_t width = 0, height = 0;
    uint32_t frequency = 0;
};
constexpr uint32_t kCurrentSettings = 0xFFFFFFFF;   // EnumDisplaySettings: the mode in force
constexpr uint32_t kRegistrySettings = 0xFFFFFFFE;  // EnumDisplaySettings: the desktop mode
constexpr int32_t kDisplayChangeSuccessful = 0;
constexpr int32_t kDisplayChangeFailed = -1;
constexpr int32_t kDisplayChangeBadMode = -2;

// The size of the mode in force.
int32_t GetScreenWidth();
int32_t GetScreenHeight();
// Index into the list, or kCurrentSettings / kRegistrySettings. The results have
// every field bit set. False past the end of the list.
bool EnumDisplaySettings(uint32_t index, DisplayMode* mode);
// A listed mode matching the marked members (the unmarked ones taken from the mode in
// force; an unmarked frequency matches any) becomes the mode in force. Null returns
// to the desktop mode. Results: kDisplayChangeSuccessful, kDisplayChangeBadMode
// (nothing matches), kDisplayChangeFailed (injected failure); a failure changes
// nothing.
int32_t ChangeDisplaySettings(const DisplayMode* mode);

// Test side: the listed modes and which of them is the desktop mode (in force after
// the call). At most 64 modes; false for none, too many, one without pixels or a bad
// desktop index.
bool SetDisplayModes(const DisplayMode* modes, uint32_t count, uint32_t desktopIndex);
// While set, every ChangeDisplaySettings fails with kDisplayChangeFailed.
void SetDisplayChangeFailure(bool fail);
uint32_t DisplayChangeCount();  // successful changes

// ---------------------------------------------------------------------------------
// Cursor.

constexpr CursorHandle kArrowCursor = 1;  // the system arrow, always present
constexpr uint32_t kCursorSize = 32;
struct CursorImage {
    uint32_t pixels[kCursorSize * kCursorSize];  // 0xAARRGGBB, top row first
    int32_t hotspotX, hotspotY;
};

// The display counter starts at 0; show adds 1, hide subtracts 1; the cursor is
// visible while the counter is 0 or more. Returns the new counter.
int32_t ShowCursor(bool show);
int32_t GetCursorDisplayCounter();
// Keeps the cursor inside the rectangle (screen coordinates, right and bottom
// exclusive, cut to the screen); null releases it. An empty rectangle is refused.
bool ClipCursor(const Rect* rect);
// False (and the screen rectangle) when the cursor is not clipped.
bool GetClipCursor(Rect* rect);
// Screen coordinates, held inside the clip rectangle and the screen.
bool SetCursorPos(int32_t x, int32_t y);
Point GetCursorPos();
// A cursor from a 32 x 32 image; 0 for a null image or a hotspot outside it.
CursorHandle CreateCursor(const CursorImage& image);
// The arrow cannot be destroyed; the current cursor becomes none when destroyed.
bool DestroyCursor(CursorHandle cursor);
// Returns the previous cursor; an unknown handle sets none.
CursorHandle SetCursor(CursorHandle cursor);
CursorHandle GetCursor();
bool GetCursorImage(CursorHandle cursor, CursorImage* image);

// ---------------------------------------------------------------------------------
// The desktop back end (SDL2). Chosen once at start-up: while it runs, every window
// is also a real window that follows the record (title, frame, placement, show
// state, focus, flash), the cursor calls reach the real cursor, the display modes
// come from the display, and PeekEvent first turns the desktop's pending input into
// the events above (key-downs with their repeat flag, characters as UTF-16 units,
// mouse in client coordinates, double-clicks, wheel notches, size, move, activate,
// and the close button as Destroy). Without it the layer stays headless.

// Starts the desktop back end when a display is present (DISPLAY or WAYLAND_DISPLAY)
// and the video system opens. False, with the reason, otherwise: the layer stays
// headless and nothing else changes.
bool StartDesktopWindows(const char** reason);
// Closes every real window and the video system; the records stay.
void StopDesktopWindows();
bool IsDesktopWindows();

// Turns a desktop key (its USB HID usage, the numbering of SDL scancodes) into a
// virtual-key code, 0 for none. The program installs the input layer's key table; without
// one every key-down carries 0.
using KeyTranslator = uint32_t (*)(uint32_t usbUsage);
void SetKeyTranslator(KeyTranslator translator);

// Shows a picture in the window's client area, scaled to it: width x height pixels of
// 0xAARRGGBB words, rows top to bottom. False without the desktop back end, for an
// unknown window or when the desktop refuses; the headless layer shows nothing.
bool PresentPixels(WindowHandle window, const uint32_t* argb, uint32_t width, uint32_t height);
// The native window id of the display server (an X11 window), 0 when there is none.
uint64_t GetNativeWindowId(WindowHandle window);

// ---------------------------------------------------------------------------------
// Drops every window, event, touch record and cursor and restores the defaults:
// screen 1920 x 1080 (modes 800 x 600 to 1920 x 1080, 32 bits, 60 Hz), no focus,
// cursor counter 0 at the screen centre, no clip, Ctrl up, nothing recorded.
void ResetWindowLayer();

}  // namespace wnd
