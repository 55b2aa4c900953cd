// The Game's methods for scripts: the user pause, scheduled script calls, the screen
// slots scripts fill, point conversions between the UI, the screen and the world, the
// controller gates and the plain forwards to the input manager.
//
// Normalised screen points run from (0, 0) at the client area's top left to (1, 1) at
// its bottom right, as the input manager reports the cursor.
//
// Threads: main thread only.
#include "game/Game.h"

#include "core/config/ProjectConfig.h"
#include "engine/services/GameServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/input/InputManager.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/window/Window.h"
#include "render/resources/ResourceManager.h"
#include "engine/script/LuaWrapper.h"
#include "ui/elements/UIEventController.h"
#include "ui/elements/UIScreen.h"
#include "ui/widgets/UIButton.h"

namespace {

// The ResourceManager eviction of the temporary loading-screen resources: every type,
// queued, resources whose flag 256 is set.
constexpr uint32_t kEvictAllTypes = 0xFFFFFFFFu;
constexpr uint32_t kTemporaryLoadingScreenFlag = 256;

// Scheduler selections (flags & 12) of the engine and game-time clocks.
constexpr uint32_t kEngineClockSelection = 8;
constexpr uint32_t kGameClockSelection = 0;

const Vector kNoCursor(0.0f, 0.0f, 0.0f, 0.0f);

bool ControllersEnabled() { return gProjectConfig && gProjectConfig->enableController; }

// The listener of the buttons on the Game's screens. A button that holds no command of its
// own when its screen takes a slot is given a notify command with its id (the command a
// radio container gives its buttons); a click on it then calls the "OnClick" method of
// the button's script class. A button whose screen has left every slot is not found and
// nothing is called.
class ScreenButtonListener final : public EventReceiver {
public:
    void OnEvent(uint32_t elementId) override {
        for (uint32_t slot = 0; slot < GAMESCREEN_COUNT; ++slot) {
            UIScreen* screen = gGame->GetScreen(GameScreenSlot(slot));
            if (UIElement* button = screen ? screen->FindElementById(elementId) : nullptr) {
                gLua.CallObjectMethod(button, "OnClick");
                return;
            }
        }
    }
};

ScreenButtonListener gScreenButtonListener;

void ListenToButtons(UIElement* element) {
    if (element->IsUiButton() && static_cast<UIButton*>(element)->CommandCount() == 0)
        element->SetCommand(new NotifyCommand(&gScreenButtonListener, element->GetId()));
    for (UIElement* child = element->GetFirstChild(); child; child = child->GetNextSibling()) ListenToButtons(child);
}

}  // namespace

void Game::SetUserPause(bool pause) {
    if (pause == userPaused) return;
    userPaused = pause;
    for (GameTimer* timer : {&gameTimer, &gameplayTimer, &smoothGameTimer, &smoothGameplayTimer}) timer->Pause(pause);
}

bool Game::IsFinalBuild() {
#ifdef NDEBUG
    return true;
#else
    return false;
#endif
}

void Game::Pause(bool pause) {
    gameTimer.Pause(pause);
    smoothGameTimer.Pause(pause);
}

void Game::PauseGameplay(bool pause) {
    gameplayTimer.Pause(pause);
    smoothGameplayTimer.Pause(pause);
}

void Game::DisablePause(bool disable) {
    for (GameTimer* timer : {&gameTimer, &gameplayTimer, &smoothGameTimer, &smoothGameplayTimer})
        timer->DisablePause(disable);
}

float Game::GetScreenAspect() const {
    return clientHeight ? static_cast<float>(clientWidth) / static_cast<float>(clientHeight) : 1.0f;
}

void Game::EnableMouseTapEmulation(bool enable) {
    if (inputManager) inputManager->EnableMouseTapEmulation(enable);
}

void Game::EvictTemporaryLoadingScreenResources() {
    gResourceManager.PostEvictResources(kEvictAllTypes, false, kTemporaryLoadingScreenFlag,
                                        kTemporaryLoadingScreenFlag);
}

void Game::ScheduleScriptCall(const char* text, float delay, uint32_t flags) {
    int64_t now = 0;
    if (ScriptScheduler* scheduler = SelectScheduler(flags, &now))
        scheduler->ScheduleString(nullptr, text, now, delay, flags);
}

void Game::DeleteScriptCalls(const char* text) {
    int64_t now = 0;
    for (uint32_t selection : {kEngineClockSelection, kGameClockSelection})
        if (ScriptScheduler* scheduler = SelectScheduler(selection, &now))
            scheduler->CancelScriptCalls(nullptr, text);
}

float Game::GetMouseDoubleClickTime() { return static_cast<float>(wnd::GetDoubleClickTime()) * 0.001f; }

bool Game::IsXControllerPresent(uint32_t index) const {
    return ControllersEnabled() && inputManager && inputManager->IsXControllerPresent(index);
}

bool Game::IsXControllerKeyPressed(uint32_t key, uint32_t index) const {
    return ControllersEnabled() && inputManager && inputManager->IsXControllerKeyPressed(key, index);
}

void Game::ReplaceScreen(GameScreenSlot slot, UIScreen* screen) {
    UIScreen* old = screens[slot];
    screens[slot] = screen;
    if (old) old->SlotChanged(false);
    if (screen) {
        screen->SlotChanged(true);
        ListenToButtons(screen);
    }
}

void Game::SetActiveUIScreen(UIScreen* screen) { ReplaceScreen(GAMESCREEN_ACTIVE, screen); }

void Game::SetPreFSEUIScreen(UIScreen* screen) { ReplaceScreen(GAMESCREEN_PRE_FSE, screen); }

void Game::SetLoadingUIScreen(UIScreen* screen, bool show, bool, uint8_t setting) {
    loadingScreenSetting = setting;
    screens[GAMESCREEN_LOADING] = screen;
    if (screen) screen->MarkAsTemporaryLoadingScreenUI();
    if (show) ShowLoadingScreen();
}

bool Game::UIPointToScreenPoint(const Vector& uiPoint, Vector* screenPoint) const {
    const UIScreen* screen = screens[GAMESCREEN_ACTIVE];
    if (!screen || !screenPoint) return false;
    *screenPoint = screen->UIPointToScreenPoint(uiPoint, clientWidth, clientHeight);
    return true;
}

bool Game::ScreenPointToUIPoint(const Vector& screenPoint, Vector* uiPoint) const {
    const UIScreen* screen = screens[GAMESCREEN_ACTIVE];
    if (!screen || !uiPoint) return false;
    *uiPoint = screen->ScreenPointToUIPoint(screenPoint, clientWidth, clientHeight);
    return true;
}

bool Game::WorldPositionToUIPoint(const Vector& position, Vector* uiPoint) const {
    const UIScreen* screen = screens[GAMESCREEN_ACTIVE];
    if (!screen || !cameraController || !uiPoint) return false;
    return screen->WorldPositionToUIPoint(position, clientWidth, clientHeight, cameraController->GetCameraViewMatrix(),
                                          cameraController->GetCameraProjectionMatrix(), uiPoint);
}

// The ray runs from the point on the near plane towards the one on the far plane, both
// unprojected through the camera's inverse view-projection.
void Game::ScreenPointToWorld(const Vector& point, Vector* origin, Vector* direction) const {
    Vector unusedOrigin, unusedDirection;
    if (!origin) origin = &unusedOrigin;
    if (!direction) direction = &unusedDirection;
    if (!cameraController) {
        *origin = Vector(0.0f, 0.0f, 0.0f, 1.0f);
        *direction = Vector(0.0f, 0.0f, 1.0f, 0.0f);
        return;
    }
    const Matrix& inverse = cameraController->GetCameraInvViewProjectionMatrix();
    const float x = point.x * 2.0f - 1.0f;
    const float y = 1.0f - point.y * 2.0f;
    Vector nearPoint, farPoint;
    nearPoint.TransformHomogen(inverse, Vector(x, y, 0.0f, 1.0f));
    farPoint.TransformHomogen(inverse, Vector(x, y, 1.0f, 1.0f));
    *origin = Vector(nearPoint.x, nearPoint.y, nearPoint.z, 1.0f);
    Vector d = farPoint - nearPoint;
    d.w = 0.0f;
    d.NormalizeXYZ();
    *direction = d;
}

bool Game::LoadScreenPointProjectedOnWorldPlane(const Vector& point, const Vector& plane, Vector* result) const {
    if (!result) return false;
    Vector origin, direction;
    ScreenPointToWorld(point, &origin, &direction);
    return result->ProjectForwardOntoPlane(plane, origin, direction, nullptr);
}

// ---------------------------------------------------------------------------------------
// Plain forwards to the input manager (the least answer while the Game has none)

bool Game::IsKeyPressed(uint32_t key) const {
    return inputManager ? inputManager->IsKeyPressed(key) : false;
}
bool Game::IsKeyPressedForTheFirstTime(uint32_t key) const {
    return inputManager ? inputManager->IsKeyPressedForTheFirstTime(key) : false;
}
const Vector& Game::GetCursorPosition() const {
    return inputManager ? inputManager->GetCursorPosition() : kNoCursor;
}
bool Game::IsCursorOnGameWindow() const {
    return inputManager ? inputManager->IsCursorOnGameWindow() : false;
}
float Game::GetMouseWheel() const {
    return inputManager ? inputManager->GetMouseWheel() : 0.0f;
}
Vector Game::GetXControllerAnalogInput(uint32_t index) const {
    return inputManager ? inputManager->GetXControllerAnalogInput(index) : Vector();
}
float Game::GetXControllerLeftTriggerInput(uint32_t index) const {
    return inputManager ? inputManager->GetXControllerLeftTriggerInput(index) : 0.0f;
}
float Game::GetXControllerRightTriggerInput(uint32_t index) const {
    return inputManager ? inputManager->GetXControllerRightTriggerInput(index) : 0.0f;
}
bool Game::IsXControllerKeyPressedForTheFirstTime(uint32_t key, uint32_t index) const {
    return inputManager ? inputManager->IsXControllerKeyPressedForTheFirstTime(key, index) : false;
}
void Game::EnableControllerInput(bool enable, uint32_t index) {
    if (inputManager) inputManager->EnableControllerInput(enable, index);
}
bool Game::IsDIControllerPresent() const {
    return inputManager ? inputManager->IsDIControllerPresent() : false;
}
void Game::AppendDIDeviceName(UITextBase* text, bool clear) const {
    if (inputManager && text) inputManager->AppendDIDeviceName(text, clear);
}
void Game::AppendDIKeyName(UITextBase* text, uint32_t button, bool clear) const {
    if (inputManager && text) inputManager->AppendDIKeyName(text, button, clear);
}
Vector Game::GetDIControllerAnalogInput() const {
    return inputManager ? inputManager->GetDIControllerAnalogInput() : Vector();
}
bool Game::IsMouseButtonPressed(uint32_t button) const {
    return inputManager ? inputManager->IsKeyPressed(button) : false;
}
bool Game::IsMouseButtonPressedForTheFirstTime(uint32_t button) const {
    return inputManager ? inputManager->IsKeyPressedForTheFirstTime(button) : false;
}
bool Game::IsMouseButtonReleasedForTheFirstTime(uint32_t button) const {
    return inputManager ? inputManager->IsKeyReleasedForTheFirstTime(button) : false;
}
uint32_t Game::GetNewTap() {
    return inputManager ? inputManager->GetNewTap() : 0;
}
uint32_t Game::GetNewTapForUIElement(UIScreen* screen, UIElement* element) {
    return inputManager ? inputManager->GetNewTapForUIElement(screen, element) : 0;
}
bool Game::IsTapWithinUIElement(uint32_t tap, UIScreen* screen, UIElement* element) const {
    return inputManager ? inputManager->IsTapWithinUIElement(tap, screen, element) : false;
}
uint32_t Game::GetNextReleasedTap() {
    return inputManager ? inputManager->GetNextReleasedTap() : 0;
}
bool Game::IsTapStillActive(uint32_t tap) const {
    return inputManager ? inputManager->IsTapStillActive(tap) : false;
}
bool Game::GetTapPosition(uint32_t tap, Vector* position) const {
    return position && inputManager ? inputManager->GetTapPosition(tap, position) : false;
}
void Game::CancelTapAsClick(uint32_t tap) {
    if (inputManager) inputManager->CancelTapAsClick(tap);
}
void Game::MarkTapRetrieved(uint32_t tap) {
    if (inputManager) inputManager->MarkTapRetrieved(tap);
}
