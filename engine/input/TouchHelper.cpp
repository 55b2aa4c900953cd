#include "engine/input/TouchHelper.h"

#include "core/Log.h"
#include "engine/services/OptionalLibrary.h"
#include "engine/input/InputManager.h"
#include "platform/os/SharedLibrary.h"

namespace {

template <class Entry>
Entry Resolve(void* library, const char* name) {
    return reinterpret_cast<Entry>(os::FindSharedSymbol(library, name));
}

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

}  // namespace

TouchHelper::~TouchHelper() { os::CloseSharedLibrary(library); }

void TouchHelper::Init(wnd::WindowHandle window) {
    if (!library) {
        library = optlib::OpenOptionalLibrary(libraryName);
        if (library) {
            gLog.Print(LogSeverity::Progress, LogCategory::Engine, "PCTouchHelper.dll successfully loaded");
            isTouchScreenPresent = Resolve<IsTouchScreenPresentEntry>(library, "PCTouchHelperIsTouchScreenPresent");
            registerTouchWindow = Resolve<RegisterTouchWindowEntry>(library, "PCTouchHelperRegisterTouchWindow");
            closeTouchInputHandle = Resolve<CloseTouchInputHandleEntry>(library, "PCTouchHelperCloseTouchInputHandle");
            getTouchInputInfo = Resolve<GetTouchInputInfoEntry>(library, "PCTouchHelperGetTouchInputInfo");
        } else if (!missingReported) {
            // The helper is optional and does not exist on most platforms: information,
            // said once.
            missingReported = true;
            gLog.Print(LogSeverity::Progress, LogCategory::Engine,
                       "Cannot load PCTouchHelper.dll (the optional touch helper does not exist on this platform)");
        }
    }
    if (registerTouchWindow && window) {
        registerTouchWindow(window, kRegisterFlags);
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Touch support present");
    } else {
        gLog.Warning(LogCategory::Engine, "No touch support detected");
    }
}

bool TouchHelper::OnTouch(uint32_t count, wnd::TouchHandle handle, wnd::WindowHandle window, InputManager& input) {
    if (!closeTouchInputHandle || !getTouchInputInfo) return false;
    count &= 0xFFFF;  // the count travels in the message's low word
    if (count > kMaxContacts) count = kMaxContacts;
    wnd::TouchContact records[kMaxContacts];
    wnd::Rect client;
    // A minimised window has no client area to place the contacts in.
    const bool placeable = wnd::GetClientRect(window, &client) && client.Width() > 0 && client.Height() > 0;
    if (count && placeable &&
        getTouchInputInfo(handle, count, records, static_cast<int32_t>(sizeof(wnd::TouchContact))) != 0) {
        for (uint32_t i = 0; i < count; ++i) {
            const wnd::TouchContact& r = records[i];
            wnd::Point point{r.x / 100, r.y / 100};  // hundredths of a pixel
            wnd::ScreenToClient(window, &point);
            const float x = Clamp01(static_cast<float>(point.x) / static_cast<float>(client.Width()));
            const float y = Clamp01(static_cast<float>(point.y) / static_cast<float>(client.Height()));
            switch (r.flags & 7) {
            case wnd::kTouchMove:
                input.TouchMove(r.id, x, y);
                break;
            case wnd::kTouchDown:
                input.TouchDown(r.id, x, y);
                break;
            case wnd::kTouchUp:
                input.TouchUp(r.id, x, y);
                break;
            default:
                break;
            }
        }
    }
    closeTouchInputHandle(handle);
    return true;
}
