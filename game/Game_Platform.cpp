// The Game's small platform services: touch input through the optional touch helper,
// the device lighting, the hardware cursor made from a TGA image, the window helpers
// that scripts call.
#include <cstring>

#include "core/Log.h"
#include "game/EnvLight.h"
#include "game/Game.h"
#include "render/resources/TGAImage.h"
#include "engine/input/InputManager.h"
#include "platform/window/Window.h"

namespace {

constexpr const char* kCursorMount = "Textures";
// The location mask that colours every light of the device.
constexpr uint32_t kAllLightLocations = 0x07FFFFFF;
constexpr uint32_t kFlashCount = 1000;

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// Puts the cursor at the normalised point of the window's client area.
void PlaceCursor(uint32_t window, float x, float y) {
    wnd::Rect client;
    if (!window || !wnd::GetClientRect(window, &client)) return;
    wnd::Point point{static_cast<int32_t>(static_cast<float>(client.Width()) * x),
                     static_cast<int32_t>(static_cast<float>(client.Height()) * y)};
    if (wnd::ClientToScreen(window, &point)) wnd::SetCursorPos(point.x, point.y);
}

}  // namespace

// ---- Touch ----

void Game::InitTouch() { touchHelper.Init(window); }

bool Game::OnTouch(uint32_t count, wnd::TouchHandle handle) {
    return touchHelper.OnTouch(count, handle, window, *inputManager);
}

// ---- Device lighting ----

void Game::InitEnvLight() {
    gEnvLight.Init();
    gEnvLight.Reset();
}

void Game::SetEnvLight(const Vector& colour) {
    gEnvLight.SetColor(kAllLightLocations, colour.x, colour.y, colour.z, colour.w);
    gEnvLight.Update();
}

void Game::DeinitEnvLight() { gEnvLight.Release(); }

// ---- Hardware cursor ----

void Game::SetHardwareCursor(const char* name, int32_t hotspotX, int32_t hotspotY) {
    hardwareCursorX = hotspotX;
    hardwareCursorY = hotspotY;
    if (name != hardwareCursorName) {
        hardwareCursorName[0] = '\0';
        if (name) std::strncat(hardwareCursorName, name, sizeof hardwareCursorName - 1);
    }
    if (hardwareCursor) {
        wnd::SetCursor(0);
        wnd::DestroyCursor(hardwareCursor);
        hardwareCursor = 0;
    }
    if (!hardwareCursorName[0]) return;
    TGAImage image;
    if (!image.Load(hardwareCursorName, nullptr, kCursorMount)) {
        gLog.Warning(LogCategory::Engine, "Cannot load cursor: %s", hardwareCursorName);
        return;
    }
    if (image.Width() != wnd::kCursorSize || image.Height() != wnd::kCursorSize ||
        image.Format() != TGAImage::kFormatA8R8G8B8) {
        gLog.Warning(LogCategory::Engine, "Incorrect cursor format. Only 32x32 A8R8G8B8 files are supported (%s)",
                     hardwareCursorName);
        return;
    }
    // Opaque pixels keep their colour; the others are transparent (black under the mask).
    wnd::CursorImage cursor;
    cursor.hotspotX = hotspotX;
    cursor.hotspotY = hotspotY;
    const uint8_t* pixels = image.Pixels();
    for (uint32_t y = 0; y < wnd::kCursorSize; ++y) {
        const uint8_t* row = pixels + (wnd::kCursorSize - 1 - y) * wnd::kCursorSize * 4;  // stored bottom row first
        for (uint32_t x = 0; x < wnd::kCursorSize; ++x) {
            const uint8_t* p = row + x * 4;  // blue, green, red, alpha
            cursor.pixels[y * wnd::kCursorSize + x] =
                p[3] ? 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0] : 0u;
        }
    }
    hardwareCursor = wnd::CreateCursor(cursor);
    wnd::SetCursor(hardwareCursor);
}

void Game::EnableHardwareCursor(bool show, bool centre) {
    if (show == hardwareCursorShown) return;
    hardwareCursorShown = show;
    CheckCursorCounter(wnd::ShowCursor(show), show ? 0 : -1);
    if (show && centre) PlaceCursor(window, 0.5f, 0.5f);
}

void Game::RefreshHardwareCursor() { SetHardwareCursor(hardwareCursorName, hardwareCursorX, hardwareCursorY); }

// ---- Window helpers ----

void Game::FlashWindow() {
    if (wnd::GetFocus() == window) return;
    wnd::MessageBeep(0);
    wnd::FlashWindowEx(window, wnd::kFlashAll | wnd::kFlashTimerNoForeground, kFlashCount, 0);
}

void Game::RestoreWindow() {
    if (wnd::GetFocus() != window) wnd::ShowWindow(window, wnd::kShowRestore);
}

void Game::SetCursorPosition(const Vector& point) {
    const float x = Clamp01(point.x), y = Clamp01(point.y);
    inputManager->SetCursorPosition(x, y);
    PlaceCursor(window, x, y);
}
