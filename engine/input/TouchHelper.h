#pragma once
// Touch input through the optional helper library "PCTouchHelper.dll" (loaded as
// described in OptionalLibrary.h), for the Game: Init when the Game starts, OnTouch for
// each touch message of the main window. Without the library (or without its entries)
// touch messages stay unhandled and go to the default window procedure.
//
// Touch records are the window layer's own (wnd::TouchContact), which the helper's
// info entry fills.
//
// Threads: main thread only.
#include <cstdint>

#include "platform/window/Window.h"

class InputManager;

class TouchHelper {
public:
    static constexpr const char* kLibraryName = "PCTouchHelper.dll";
    // The contacts of one message that are handled; the rest are dropped.
    static constexpr uint32_t kMaxContacts = 128;
    // The registration flags the Game passes with its window.
    static constexpr uint32_t kRegisterFlags = 2;

    // The helper's entry points.
    using IsTouchScreenPresentEntry = int32_t (*)();
    using RegisterTouchWindowEntry = int32_t (*)(wnd::WindowHandle window, uint32_t flags);
    using CloseTouchInputHandleEntry = int32_t (*)(wnd::TouchHandle handle);
    using GetTouchInputInfoEntry = int32_t (*)(wnd::TouchHandle handle, uint32_t count, wnd::TouchContact* records,
                                               int32_t recordSize);

    explicit constexpr TouchHelper(const char* library = kLibraryName) : libraryName(library) {}
    ~TouchHelper();
    TouchHelper(const TouchHelper&) = delete;
    TouchHelper& operator=(const TouchHelper&) = delete;

    // Loads the helper and registers the window (0: none) for touch input, logging the
    // outcome (a missing helper as information, once per helper).
    void Init(wnd::WindowHandle window);
    // One touch message (count contacts behind handle): each contact's position,
    // normalised to the window's client area, moves, starts or ends the input manager's
    // tap of that contact id. False when the helper cannot read touches.
    bool OnTouch(uint32_t count, wnd::TouchHandle handle, wnd::WindowHandle window, InputManager& input);

private:
    const char* libraryName;
    void* library = nullptr;
    bool missingReported = false;
    IsTouchScreenPresentEntry isTouchScreenPresent = nullptr;
    RegisterTouchWindowEntry registerTouchWindow = nullptr;
    CloseTouchInputHandleEntry closeTouchInputHandle = nullptr;
    GetTouchInputInfoEntry getTouchInputInfo = nullptr;
};
