// The screen, its display modes and the cursor of the headless window layer, and the
// layer's reset.
#include <algorithm>

#include "platform/window/WindowImpl.h"

namespace wnd {

using namespace detail;

namespace {

constexpr uint32_t kAllModeFields = kModeBitsPerPixel | kModePixelWidth | kModePixelHeight | kModeFrequency;

const DisplayMode kDefaultModes[] = {
    {kAllModeFields, 32, 800, 600, 60},   {kAllModeFields, 32, 1024, 768, 60}, {kAllModeFields, 32, 1280, 720, 60},
    {kAllModeFields, 32, 1366, 768, 60},  {kAllModeFields, 32, 1600, 900, 60}, {kAllModeFields, 32, 1920, 1080, 60},
};
constexpr uint32_t kDefaultDesktopMode = 5;

State InitialState() {
    State s;
    s.modes.assign(std::begin(kDefaultModes), std::end(kDefaultModes));
    s.desktopMode = s.currentMode = kDefaultDesktopMode;
    CursorRecord arrow{};
    arrow.handle = kArrowCursor;
    s.cursors.push_back(arrow);
    const DisplayMode& m = kDefaultModes[kDefaultDesktopMode];
    s.cursorPos = {static_cast<int32_t>(m.width / 2), static_cast<int32_t>(m.height / 2)};
    return s;
}

// The clip area: the clip rectangle when set, else the screen.
Rect CursorArea() {
    const State& s = GetState();
    return s.clipped ? s.clip : ScreenRect();
}

void HoldCursorInside() {
    State& s = GetState();
    const Rect area = CursorArea();
    s.cursorPos.x = std::clamp(s.cursorPos.x, area.left, area.right - 1);
    s.cursorPos.y = std::clamp(s.cursorPos.y, area.top, area.bottom - 1);
}

CursorRecord* FindCursor(CursorHandle cursor) {
    for (CursorRecord& c : GetState().cursors)
        if (c.handle == cursor) return &c;
    return nullptr;
}

}  // namespace

int32_t GetScreenWidth() { return static_cast<int32_t>(GetState().modes[GetState().currentMode].width); }
int32_t GetScreenHeight() { return static_cast<int32_t>(GetState().modes[GetState().currentMode].height); }

bool EnumDisplaySettings(uint32_t index, DisplayMode* mode) {
    const State& s = GetState();
    if (!mode) return false;
    if (index == kCurrentSettings) index = s.currentMode;
    else if (index == kRegistrySettings) index = s.desktopMode;
    if (index >= s.modes.size()) return false;
    *mode = s.modes[index];
    mode->fields = kAllModeFields;
    return true;
}

int32_t ChangeDisplaySettings(const DisplayMode* mode) {
    State& s = GetState();
    if (s.changeFails) return kDisplayChangeFailed;
    if (!mode) {
        if (!DesktopChangeMode(s.modes[s.desktopMode], true)) return kDisplayChangeFailed;
        s.currentMode = s.desktopMode;
        s.changeCount++;
        HoldCursorInside();
        return kDisplayChangeSuccessful;
    }
    const DisplayMode& now = s.modes[s.currentMode];
    const uint32_t width = (mode->fields & kModePixelWidth) ? mode->width : now.width;
    const uint32_t height = (mode->fields & kModePixelHeight) ? mode->height : now.height;
    const uint32_t bits = (mode->fields & kModeBitsPerPixel) ? mode->bitsPerPixel : now.bitsPerPixel;
    const bool anyFrequency = !(mode->fields & kModeFrequency);
    int32_t found = -1;
    for (uint32_t i = 0; i < s.modes.size(); ++i) {
        const DisplayMode& m = s.modes[i];
        if (m.width != width || m.height != height || m.bitsPerPixel != bits) continue;
        if (!anyFrequency && m.frequency != mode->frequency) continue;
        // Without a requested frequency the present one is preferred.
        if (found < 0 || (anyFrequency && m.frequency == now.frequency)) found = static_cast<int32_t>(i);
    }
    if (found < 0) return kDisplayChangeBadMode;
    if (!DesktopChangeMode(s.modes[found], static_cast<uint32_t>(found) == s.desktopMode)) return kDisplayChangeFailed;
    s.currentMode = static_cast<uint32_t>(found);
    s.changeCount++;
    HoldCursorInside();
    return kDisplayChangeSuccessful;
}

bool SetDisplayModes(const DisplayMode* modes, uint32_t count, uint32_t desktopIndex) {
    if (!modes || count == 0 || count > kMaxDisplayModes || desktopIndex >= count) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (modes[i].width == 0 || modes[i].height == 0) return false;
    State& s = GetState();
    s.modes.assign(modes, modes + count);
    s.desktopMode = s.currentMode = desktopIndex;
    HoldCursorInside();
    return true;
}

void SetDisplayChangeFailure(bool fail) { GetState().changeFails = fail; }
uint32_t DisplayChangeCount() { return GetState().changeCount; }

int32_t ShowCursor(bool show) {
    State& s = GetState();
    s.cursorCounter += show ? 1 : -1;
    DesktopCursorVisible(s.cursorCounter >= 0);
    return s.cursorCounter;
}

int32_t GetCursorDisplayCounter() { return GetState().cursorCounter; }

bool ClipCursor(const Rect* rect) {
    State& s = GetState();
    if (!rect) {
        s.clipped = false;
        DesktopClip(nullptr);
        return true;
    }
    const Rect screen = ScreenRect();
    const Rect cut{std::max(rect->left, screen.left), std::max(rect->top, screen.top),
                   std::min(rect->right, screen.right), std::min(rect->bottom, screen.bottom)};
    if (cut.Width() <= 0 || cut.Height() <= 0) return false;
    s.clipped = true;
    s.clip = cut;
    HoldCursorInside();
    DesktopClip(&cut);
    return true;
}

bool GetClipCursor(Rect* rect) {
    const State& s = GetState();
    if (rect) *rect = s.clipped ? s.clip : ScreenRect();
    return s.clipped;
}

bool SetCursorPos(int32_t x, int32_t y) {
    GetState().cursorPos = {x, y};
    HoldCursorInside();
    DesktopWarp(GetState().cursorPos);
    return true;
}

Point GetCursorPos() { return GetState().cursorPos; }

CursorHandle CreateCursor(const CursorImage& image) {
    if (image.hotspotX < 0 || image.hotspotY < 0 || image.hotspotX >= int32_t(kCursorSize) ||
        image.hotspotY >= int32_t(kCursorSize))
        return 0;
    State& s = GetState();
    CursorRecord c;
    c.handle = s.nextCursor++;
    c.image = image;
    c.native = DesktopCreateCursor(image);
    s.cursors.push_back(c);
    return c.handle;
}

bool DestroyCursor(CursorHandle cursor) {
    if (cursor == kArrowCursor) return false;
    State& s = GetState();
    const auto it =
        std::find_if(s.cursors.begin(), s.cursors.end(), [&](const CursorRecord& c) { return c.handle == cursor; });
    if (it == s.cursors.end()) return false;
    if (s.currentCursor == cursor) {
        s.currentCursor = 0;
        DesktopSetCursor(nullptr);
    }
    DesktopDestroyCursor(it->native);
    s.cursors.erase(it);
    return true;
}

CursorHandle SetCursor(CursorHandle cursor) {
    State& s = GetState();
    const CursorHandle previous = s.currentCursor;
    const CursorRecord* c = FindCursor(cursor);
    s.currentCursor = c ? cursor : 0;
    DesktopSetCursor(c);
    return previous;
}

CursorHandle GetCursor() { return GetState().currentCursor; }

bool GetCursorImage(CursorHandle cursor, CursorImage* image) {
    const CursorRecord* c = FindCursor(cursor);
    if (!c || !image || cursor == kArrowCursor) return false;
    *image = c->image;
    return true;
}

void ResetWindowLayer() {
    StopDesktopWindows();
    GetState() = InitialState();
}

namespace detail {

State& GetState() {
    static State state = InitialState();
    return state;
}

Rect ScreenRect() {
    const State& s = GetState();
    const DisplayMode& m = s.modes[s.currentMode];
    return {0, 0, static_cast<int32_t>(m.width), static_cast<int32_t>(m.height)};
}

}  // namespace detail

}  // namespace wnd
