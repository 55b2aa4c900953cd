// Input routing to the UI screens and the delegate, touch routing, resolution and
// full-screen requests, outline parameters.
#include <cmath>
#include <cstdio>

#include "core/config/ProjectConfig.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "render/resources/ResourceManager.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITextBase.h"

namespace {

// A touch moving no more than this in both coordinates (normalised to the client area)
// from where it was last reported is not a move yet.
constexpr float kTouchMoveThreshold = 0.04f;
constexpr uint32_t kFontTypeMask = 4;

// A screen's press, release or move handler; false without a screen.
bool ScreenCall(bool (UIScreen::*handler)(const Vector&, uint32_t), UIScreen* screen, const Vector& position,
                uint32_t value) {
    return screen && (screen->*handler)(position, value);
}

}  // namespace

void Game::UpdateInput(bool) {
    // This input manager gathers one frame per call, so the routing runs once.
    if (inputManager->Update() && delegate) delegate->OnInputConfigChanged();
    if (!ScreenShown(GAMESCREEN_MODAL)) {
        RouteMouseToScreen(screens[GAMESCREEN_ACTIVE] ? screens[GAMESCREEN_ACTIVE] : screens[GAMESCREEN_PRE_FSE]);
        if (delegate) {
            delegate->OnTickInput();
            for (const InputEvent& e : inputManager->InputEvents()) delegate->OnInputEvent(e.kind, e.value);
        }
        inputManager->ClearInputEvents();
    } else {
        RouteMouseToScreen(screens[GAMESCREEN_MODAL]);
    }
    if (ScreenShown(GAMESCREEN_OVERLAY)) RouteMouseToScreen(screens[GAMESCREEN_OVERLAY]);
}

bool Game::RouteMouseToScreen(UIScreen* screen) {
    if (!screen) return false;
    const Vector& cursor = inputManager->GetCursorPosition();
    screen->SetCursorPosition(cursor);
    for (uint32_t b = 0; b < kMouseButtonCount; ++b) {
        const uint32_t button = kMouseButtonLeft + b;
        if (inputManager->IsKeyPressedForTheFirstTime(button)) {
            buttonPositions[b] = cursor;
            ScreenCall(&UIScreen::OnMouseButtonDown, screen, cursor, button);
        } else if (inputManager->IsKeyReleasedForTheFirstTime(button)) {
            ScreenCall(&UIScreen::OnMouseButtonUp, screen, cursor, button);
        } else if (inputManager->IsKeyPressed(button) &&
                   (cursor.x != buttonPositions[b].x || cursor.y != buttonPositions[b].y)) {
            buttonPositions[b] = cursor;
            ScreenCall(&UIScreen::OnMouseMove, screen, cursor, button);
        }
    }
    return true;
}

bool Game::RouteTouchDownToScreens(uint32_t tap, float x, float y) {
    const Vector position(x, y, 0.0f, 0.0f);
    if (ScreenShown(GAMESCREEN_MODAL)) {
        lastTapPosition = position;
        while (inputManager->GetNewTap() != 0) {
        }
        return ScreenCall(&UIScreen::OnMouseButtonDown, screens[GAMESCREEN_MODAL], position, tap) ||
               ScreenCall(&UIScreen::OnMouseButtonDown, screens[GAMESCREEN_OVERLAY], position, tap);
    }
    return ScreenShown(GAMESCREEN_OVERLAY) &&
           ScreenCall(&UIScreen::OnMouseButtonDown, screens[GAMESCREEN_OVERLAY], position, tap);
}

bool Game::RouteTouchMoveToScreens(uint32_t tap, float x, float y) {
    if (!ScreenShown(GAMESCREEN_MODAL)) return false;
    if (!tapMoved && std::fabs(x - lastTapPosition.x) <= kTouchMoveThreshold &&
        std::fabs(y - lastTapPosition.y) <= kTouchMoveThreshold)
        return false;
    lastTapPosition = Vector(x, y, 0.0f, 0.0f);
    tapMoved = true;
    return ScreenCall(&UIScreen::OnMouseMove, screens[GAMESCREEN_MODAL], lastTapPosition, tap);
}

bool Game::RouteTouchUpToScreens(uint32_t tap, float x, float y) {
    const Vector position(x, y, 0.0f, 0.0f);
    tapMoved = false;
    while (inputManager->GetNewTap() != 0) {
    }
    if (ScreenShown(GAMESCREEN_MODAL))
        return ScreenCall(&UIScreen::OnMouseButtonUp, screens[GAMESCREEN_MODAL], position, tap) ||
               ScreenCall(&UIScreen::OnMouseButtonUp, screens[GAMESCREEN_OVERLAY], position, tap);
    return ScreenShown(GAMESCREEN_OVERLAY) &&
           ScreenCall(&UIScreen::OnMouseButtonUp, screens[GAMESCREEN_OVERLAY], position, tap);
}

void Game::RequestScreenResoultionChange(uint32_t width, uint32_t height) {
    if (width && height) pendingWidth = width, pendingHeight = height;
}

bool Game::GetPendingResolution(uint32_t* width, uint32_t* height) const {
    if (quitting || !pendingWidth) return false;
    *width = pendingWidth;
    *height = pendingHeight;
    return true;
}

void Game::OnResolutionChanged(uint32_t width, uint32_t height, bool skipNotify) {
    ClearPendingResolution();
    clientWidth = width;
    clientHeight = height;
    if (!skipNotify) {
        UITextBase::SetScreenResolution(width, height, true, true);
        gResourceManager.PostEvictResources(kFontTypeMask, false, 0, 0);
    }
    if (delegate) delegate->OnScreenResolutionChanged();
}

void Game::RequestFullScreen(bool fullScreen) {
    fullScreenRequest = fullScreen;
    fullScreenRequested = true;
}

bool Game::TakeFullScreenRequest(bool* fullScreen) {
    if (!fullScreenRequested) return false;
    fullScreenRequested = false;
    *fullScreen = fullScreenRequest;
    return true;
}

void Game::NotifyDelegateDisplayReset() {
    if (delegate) delegate->OnDisplayReset();
}

void Game::RevertToDefaultOutlineParams() { outlineParams = gProjectConfig->outline; }

void Game::SetOutlineMaskStr(const char* hex) {
    unsigned int mask = 0;
    if (hex && std::sscanf(hex, "%x", &mask) == 1) outlineMask = mask;
}
