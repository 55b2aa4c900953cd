// The desktop back end of the window layer, on SDL2: real windows that follow their
// records, the desktop's input turned into the layer's events, the real cursor and the
// display's modes. Every entry point does nothing while the back end is not running, so
// the headless layer is unchanged without it.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window/WindowImpl.h"

namespace wnd {

using namespace detail;

namespace {

bool Running() { return GetState().desktop; }

SDL_Window* NativeOf(const WindowRecord& w) { return static_cast<SDL_Window*>(w.native); }

WindowRecord* FindByNativeId(uint32_t id) {
    for (WindowRecord& w : GetState().windows)
        if (w.native && w.nativeId == id) return &w;
    return nullptr;
}

// The window the cursor calls and display modes act on: the focus window, else the
// first real one.
WindowRecord* ActiveNative() {
    State& s = GetState();
    if (WindowRecord* w = FindRecord(s.focus); w && w->native) return w;
    for (WindowRecord& w : s.windows)
        if (w.native) return &w;
    return nullptr;
}

Point NativeOrigin(const WindowRecord& w) { return {w.rect.left + w.frame.left, w.rect.top + w.frame.top}; }

Point NativeSize(const WindowRecord& w) {
    const int32_t width = w.rect.Width() - w.frame.left - w.frame.right;
    const int32_t height = w.rect.Height() - w.frame.top - w.frame.bottom;
    return {std::max(width, 1), std::max(height, 1)};
}

uint32_t NativeSizeType(const WindowRecord& w) {
    switch (w.show) {
        case ShowState::Minimized: return kSizeMinimized;
        case ShowState::Maximized: return kSizeMaximized;
        default: return kSizeRestored;
    }
}

bool Framed(const WindowRecord& w) { return w.frame.top != 0 || w.frame.left != 0; }

uint32_t ModeBits(uint32_t format) {
    const uint32_t bits = SDL_BITSPERPIXEL(format);
    return bits == 24 ? 32 : bits;  // a 24-bit colour mode is stored in 32-bit pixels
}

// The display's modes (largest first from SDL, kept in that order) and its desktop mode.
void ReadDisplayModes() {
    DisplayMode modes[kMaxDisplayModes];
    uint32_t count = 0, desktop = 0;
    SDL_DisplayMode current{};
    const bool haveDesktop = SDL_GetDesktopDisplayMode(0, &current) == 0;
    const int listed = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < listed && count < kMaxDisplayModes; ++i) {
        SDL_DisplayMode m{};
        if (SDL_GetDisplayMode(0, i, &m) != 0 || m.w <= 0 || m.h <= 0) continue;
        modes[count] = {kModeBitsPerPixel | kModePixelWidth | kModePixelHeight | kModeFrequency, ModeBits(m.format),
                        uint32_t(m.w), uint32_t(m.h), uint32_t(m.refresh_rate)};
        if (haveDesktop && m.w == current.w && m.h == current.h && m.refresh_rate == current.refresh_rate) desktop = count;
        ++count;
    }
    if (count == 0 && haveDesktop && current.w > 0 && current.h > 0) {
        modes[0] = {kModeBitsPerPixel | kModePixelWidth | kModePixelHeight | kModeFrequency, ModeBits(current.format),
                    uint32_t(current.w), uint32_t(current.h), uint32_t(current.refresh_rate)};
        count = 1;
    }
    if (count) SetDisplayModes(modes, count, desktop);
}

// Every desktop event carries the modifier keys held when it happened.
void PostDesktop(Event e) {
    e.modifiers = GetState().desktopModifiers;
    Enqueue(e);
}

uint8_t Modifiers(uint16_t mod) {
    return static_cast<uint8_t>(((mod & KMOD_CTRL) ? kModifierCtrl : 0) | ((mod & KMOD_SHIFT) ? kModifierShift : 0));
}

void Post(EventKind kind, WindowHandle window, uint32_t code = 0, int32_t x = 0, int32_t y = 0) {
    Event e;
    e.kind = kind;
    e.window = window;
    e.code = code;
    e.x = x;
    e.y = y;
    PostDesktop(e);
}

// UTF-8 text into UTF-16 units, one Char event each; a malformed byte is skipped.
void PostText(WindowHandle window, const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p, extra = 0;
        if (c >= 0xF0 && c < 0xF8) c &= 0x07, extra = 3;
        else if (c >= 0xE0) c &= 0x0F, extra = 2;
        else if (c >= 0xC0) c &= 0x1F, extra = 1;
        else if (c >= 0x80) {
            ++p;
            continue;
        }
        ++p;
        bool ok = true;
        for (uint32_t i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        if (!ok || c > 0x10FFFF) continue;
        if (c >= 0x10000) {
            c -= 0x10000;
            Post(EventKind::Char, window, 0xD800 + (c >> 10));
            Post(EventKind::Char, window, 0xDC00 + (c & 0x3FF));
        } else {
            Post(EventKind::Char, window, c);
        }
    }
}

// The keys whose key-down also brings a character of their own: Backspace, Tab,
// Enter and Esc.
uint32_t ControlCharacter(SDL_Scancode code) {
    switch (code) {
        case SDL_SCANCODE_BACKSPACE: return 8;
        case SDL_SCANCODE_TAB: return 9;
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER: return 13;
        case SDL_SCANCODE_ESCAPE: return 27;
        default: return 0;
    }
}

void OnWindowEvent(const SDL_WindowEvent& e) {
    WindowRecord* w = FindByNativeId(e.windowID);
    if (!w || w->destroying) return;
    const WindowHandle handle = w->handle;
    switch (e.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            if (w->show == ShowState::Minimized) break;
            const Point size = NativeSize(*w);
            if (size.x == e.data1 && size.y == e.data2) break;
            w->rect.right = w->rect.left + w->frame.left + e.data1 + w->frame.right;
            w->rect.bottom = w->rect.top + w->frame.top + e.data2 + w->frame.bottom;
            if (w->show != ShowState::Maximized) w->restoreRect = w->rect;
            Post(EventKind::Size, handle, NativeSizeType(*w), e.data1, e.data2);
            break;
        }
        case SDL_WINDOWEVENT_MOVED: {
            const Point origin = NativeOrigin(*w);
            if (origin.x == e.data1 && origin.y == e.data2) break;
            const int32_t dx = e.data1 - origin.x, dy = e.data2 - origin.y;
            w->rect = {w->rect.left + dx, w->rect.top + dy, w->rect.right + dx, w->rect.bottom + dy};
            Post(EventKind::Move, handle, 0, e.data1, e.data2);
            break;
        }
        case SDL_WINDOWEVENT_MINIMIZED:
            if (w->show == ShowState::Minimized) break;
            w->show = ShowState::Minimized;
            if (GetState().focus == handle) SetFocus(0);
            Post(EventKind::Size, handle, kSizeMinimized, 0, 0);
            break;
        case SDL_WINDOWEVENT_MAXIMIZED:
        case SDL_WINDOWEVENT_RESTORED: {
            const ShowState show = e.event == SDL_WINDOWEVENT_MAXIMIZED ? ShowState::Maximized : ShowState::Normal;
            if (w->show == show || w->show == ShowState::Hidden) break;
            w->show = show;
            const Point size = NativeSize(*w);
            Post(EventKind::Size, handle, NativeSizeType(*w), size.x, size.y);
            break;
        }
        case SDL_WINDOWEVENT_FOCUS_GAINED: SetFocus(handle); break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            if (GetState().focus == handle) SetFocus(0);
            break;
        case SDL_WINDOWEVENT_EXPOSED: Post(EventKind::Paint, handle); break;
        case SDL_WINDOWEVENT_CLOSE: DestroyWindow(handle); break;
        default: break;
    }
}

MouseButton ButtonOf(uint8_t button, bool* known) {
    *known = true;
    switch (button) {
        case SDL_BUTTON_LEFT: return MouseButton::Left;
        case SDL_BUTTON_RIGHT: return MouseButton::Right;
        case SDL_BUTTON_MIDDLE: return MouseButton::Middle;
        default: *known = false; return MouseButton::Left;
    }
}

void OnEvent(const SDL_Event& e) {
    State& s = GetState();
    switch (e.type) {
        case SDL_WINDOWEVENT: OnWindowEvent(e.window); break;
        case SDL_KEYUP: s.desktopModifiers = Modifiers(e.key.keysym.mod); break;
        case SDL_KEYDOWN: {
            s.desktopModifiers = Modifiers(e.key.keysym.mod);
            const WindowRecord* w = FindByNativeId(e.key.windowID);
            if (!w) break;
            Event k;
            k.kind = EventKind::KeyDown;
            k.window = w->handle;
            k.code = s.translator ? s.translator(static_cast<uint32_t>(e.key.keysym.scancode)) : 0;
            k.repeat = e.key.repeat != 0;
            PostDesktop(k);
            if (const uint32_t c = ControlCharacter(e.key.keysym.scancode)) Post(EventKind::Char, w->handle, c);
            break;
        }
        case SDL_TEXTINPUT:
            if (const WindowRecord* w = FindByNativeId(e.text.windowID)) PostText(w->handle, e.text.text);
            break;
        case SDL_MOUSEMOTION: {
            const WindowRecord* w = FindByNativeId(e.motion.windowID);
            if (!w) break;
            const Point origin = NativeOrigin(*w);
            s.cursorPos = {origin.x + e.motion.x, origin.y + e.motion.y};
            Post(EventKind::SetCursor, w->handle, 0, s.cursorPos.x, s.cursorPos.y);
            Event m;
            m.kind = EventKind::MouseMove;
            m.window = w->handle;
            m.x = e.motion.x;
            m.y = e.motion.y;
            m.fromTouch = e.motion.which == SDL_TOUCH_MOUSEID;
            PostDesktop(m);
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const WindowRecord* w = FindByNativeId(e.button.windowID);
            bool known = false;
            const MouseButton button = ButtonOf(e.button.button, &known);
            if (!w || !known) break;
            // A press on a window without the focus activates it first, as a click does on
            // the platform (a desktop without a window manager would give it none).
            if (e.type == SDL_MOUSEBUTTONDOWN && s.focus != w->handle) SetFocus(w->handle);
            Event b;
            b.window = w->handle;
            b.button = button;
            b.x = e.button.x;
            b.y = e.button.y;
            b.fromTouch = e.button.which == SDL_TOUCH_MOUSEID;
            // Every second click of a run is the double-click, as the platform reports it.
            if (e.type == SDL_MOUSEBUTTONUP) b.kind = EventKind::ButtonUp;
            else b.kind = (e.button.clicks >= 2 && e.button.clicks % 2 == 0) ? EventKind::ButtonDoubleClick
                                                                             : EventKind::ButtonDown;
            PostDesktop(b);
            break;
        }
        case SDL_MOUSEWHEEL: {
            const WindowRecord* w = FindByNativeId(e.wheel.windowID);
            if (!w || e.wheel.y == 0) break;
            const int32_t notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
            Event m;
            m.kind = EventKind::Wheel;
            m.window = w->handle;
            m.wheelDelta = notches * kWheelDelta;
            m.x = s.cursorPos.x;
            m.y = s.cursorPos.y;
            PostDesktop(m);
            break;
        }
        case SDL_JOYDEVICEADDED:
        case SDL_JOYDEVICEREMOVED:
            // A game device came or went (the input layer reads it): every window hears
            // of it, as the platform tells its top-level windows.
            for (const WindowRecord& w : s.windows)
                if (w.native && !w.destroying) Post(EventKind::DeviceChange, w.handle, kDeviceNodesChanged);
            break;
        default: break;  // controllers and audio devices are read by their own layers
    }
}

std::string gReason;
SDL_Cursor* gBlankCursor = nullptr;  // the cursor shown for none, made when first needed

}  // namespace

bool StartDesktopWindows(const char** reason) {
    State& s = GetState();
    if (s.desktop) return true;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !display[0]) && (!wayland || !wayland[0])) {
        gReason = "no display (DISPLAY and WAYLAND_DISPLAY are unset)";
        if (reason) *reason = gReason.c_str();
        return false;
    }
    // The program handles termination signals itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A minimised window keeps its full-screen mode: the main loop gives the mode back itself.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // Pictures reach the window through the display server's own images: a GL context
    // of the window's would collide with the drawing device's.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        gReason = std::string("the video system did not start: ") + SDL_GetError();
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
        if (reason) *reason = gReason.c_str();
        return false;
    }
    s.desktop = true;
    ReadDisplayModes();
    SDL_StartTextInput();
    for (WindowRecord& w : s.windows) SyncNative(w);
    for (CursorRecord& c : s.cursors)
        if (c.handle != kArrowCursor) c.native = DesktopCreateCursor(c.image);
    if (reason) *reason = "";
    return true;
}

void StopDesktopWindows() {
    State& s = GetState();
    if (!s.desktop) return;
    for (WindowRecord& w : s.windows) DestroyNative(w);
    for (CursorRecord& c : s.cursors) {
        DesktopDestroyCursor(c.native);
        c.native = nullptr;
    }
    DesktopDestroyCursor(gBlankCursor);
    gBlankCursor = nullptr;
    s.desktop = false;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();  // the last user frees SDL's own state
}

bool IsDesktopWindows() { return Running(); }

void SetKeyTranslator(KeyTranslator translator) { GetState().translator = translator; }

bool PresentPixels(WindowHandle window, const uint32_t* argb, uint32_t width, uint32_t height) {
    const WindowRecord* w = FindRecord(window);
    if (!Running() || !w || !w->native || !argb || width == 0 || height == 0) return false;
    SDL_Surface* target = SDL_GetWindowSurface(NativeOf(*w));
    if (!target) return false;
    SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(argb), int(width), int(height), 32,
                                                              int(width * 4), SDL_PIXELFORMAT_ARGB8888);
    if (!picture) return false;
    SDL_SetSurfaceBlendMode(picture, SDL_BLENDMODE_NONE);
    const bool same = uint32_t(target->w) == width && uint32_t(target->h) == height;
    const int blitted = same ? SDL_BlitSurface(picture, nullptr, target, nullptr)
                             : SDL_BlitScaled(picture, nullptr, target, nullptr);
    SDL_FreeSurface(picture);
    return blitted == 0 && SDL_UpdateWindowSurface(NativeOf(*w)) == 0;
}

uint64_t GetNativeWindowId(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    if (!Running() || !w || !w->native) return 0;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(NativeOf(*w), &info)) return 0;
    if (info.subsystem == SDL_SYSWM_X11) return static_cast<uint64_t>(info.info.x11.window);
    return 0;
}

namespace detail {

void SyncNative(WindowRecord& w) {
    if (!Running() || w.destroying) return;
    const Point origin = NativeOrigin(w);
    const Point size = NativeSize(w);
    if (!w.native) {
        const uint32_t flags = SDL_WINDOW_HIDDEN | (Framed(w) ? SDL_WINDOW_RESIZABLE : SDL_WINDOW_BORDERLESS);
        SDL_Window* native = SDL_CreateWindow(w.title.c_str(), origin.x, origin.y, size.x, size.y, flags);
        if (!native) return;  // the record goes on as a headless window
        w.native = native;
        w.nativeId = SDL_GetWindowID(native);
    }
    SDL_Window* native = NativeOf(w);
    if (std::strcmp(SDL_GetWindowTitle(native), w.title.c_str()) != 0) SDL_SetWindowTitle(native, w.title.c_str());
    const bool bordered = (SDL_GetWindowFlags(native) & SDL_WINDOW_BORDERLESS) == 0;
    if (bordered != Framed(w)) {
        SDL_SetWindowBordered(native, Framed(w) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(native, Framed(w) ? SDL_TRUE : SDL_FALSE);
    }
    const bool topmost = (w.exStyle & kExStyleTopmost) != 0;
    if (((SDL_GetWindowFlags(native) & SDL_WINDOW_ALWAYS_ON_TOP) != 0) != topmost)
        SDL_SetWindowAlwaysOnTop(native, topmost ? SDL_TRUE : SDL_FALSE);
    switch (w.show) {
        case ShowState::Hidden: SDL_HideWindow(native); return;
        case ShowState::Minimized: SDL_MinimizeWindow(native); return;
        default: break;
    }
    if (SDL_GetWindowFlags(native) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(native);
    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(native, &x, &y);
    SDL_GetWindowSize(native, &width, &height);
    if (x != origin.x || y != origin.y) SDL_SetWindowPosition(native, origin.x, origin.y);
    if (width != size.x || height != size.y) SDL_SetWindowSize(native, size.x, size.y);
    if (SDL_GetWindowFlags(native) & SDL_WINDOW_HIDDEN) SDL_ShowWindow(native);
}

void DestroyNative(WindowRecord& w) {
    if (!w.native) return;
    SDL_DestroyWindow(NativeOf(w));
    w.native = nullptr;
    w.nativeId = 0;
}

void SyncNativeFocus(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    if (!Running() || !w || !w->native) return;
    if (w->show == ShowState::Hidden || w->show == ShowState::Minimized) return;
    SDL_RaiseWindow(NativeOf(*w));
    SDL_SetWindowInputFocus(NativeOf(*w));
}

void PumpDesktop() {
    if (!Running()) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) OnEvent(e);
}

void DesktopFlash(const WindowRecord& w, uint32_t flags) {
    if (!Running() || !w.native) return;
    const SDL_FlashOperation op = !(flags & kFlashAll)                ? SDL_FLASH_CANCEL
                                  : (flags & kFlashTimerNoForeground) ? SDL_FLASH_UNTIL_FOCUSED
                                                                      : SDL_FLASH_BRIEFLY;
    SDL_FlashWindow(NativeOf(w), op);
}

void DesktopCursorVisible(bool visible) {
    if (Running()) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void DesktopClip(const Rect* rect) {
    WindowRecord* w = Running() ? ActiveNative() : nullptr;
    if (!w) return;
    if (!rect) {
        SDL_SetWindowMouseRect(NativeOf(*w), nullptr);
        return;
    }
    const Point origin = NativeOrigin(*w);
    const SDL_Rect r{rect->left - origin.x, rect->top - origin.y, rect->Width(), rect->Height()};
    SDL_SetWindowMouseRect(NativeOf(*w), &r);
}

void DesktopWarp(Point p) {
    if (Running()) SDL_WarpMouseGlobal(p.x, p.y);
}

void* DesktopCreateCursor(const CursorImage& image) {
    if (!Running()) return nullptr;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(image.pixels), kCursorSize,
                                                              kCursorSize, 32, kCursorSize * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return nullptr;
    SDL_Cursor* cursor = SDL_CreateColorCursor(surface, image.hotspotX, image.hotspotY);
    SDL_FreeSurface(surface);
    return cursor;
}

void DesktopDestroyCursor(void* cursor) {
    if (Running() && cursor) SDL_FreeCursor(static_cast<SDL_Cursor*>(cursor));
}

void DesktopSetCursor(const CursorRecord* cursor) {
    if (!Running()) return;
    if (!cursor) {
        // No cursor: a fully transparent one over the windows (hiding would touch the
        // display counter's state).
        if (!gBlankCursor) {
            CursorImage blank{};
            gBlankCursor = static_cast<SDL_Cursor*>(DesktopCreateCursor(blank));
        }
        SDL_SetCursor(gBlankCursor ? gBlankCursor : SDL_GetDefaultCursor());
        return;
    }
    SDL_SetCursor(cursor->native ? static_cast<SDL_Cursor*>(cursor->native) : SDL_GetDefaultCursor());
}

bool DesktopChangeMode(const DisplayMode& mode, bool desktopMode) {
    WindowRecord* w = Running() ? ActiveNative() : nullptr;
    if (!w) return true;
    SDL_Window* native = NativeOf(*w);
    const bool fullScreen = (SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN) == SDL_WINDOW_FULLSCREEN;
    if (desktopMode) return !fullScreen || SDL_SetWindowFullscreen(native, 0) == 0;
    SDL_DisplayMode m{};
    m.w = int(mode.width);
    m.h = int(mode.height);
    m.refresh_rate = int(mode.frequency);
    return SDL_SetWindowDisplayMode(native, &m) == 0 && SDL_SetWindowFullscreen(native, SDL_WINDOW_FULLSCREEN) == 0;
}

}  // namespace detail

}  // namespace wnd
