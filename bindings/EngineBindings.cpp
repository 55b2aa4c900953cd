#include "bindings/EngineBindings.h"

#include "core/config/OutlineParams.h"
#include "core/math/Vector.h"
#include "engine/script/LuaUnicodeString.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "game/LUAConfigHelper.h"
#include "ui/elements/UIScreen.h"

namespace {

UIElement* ElementOf(UIScreen* screen, uint32_t elementId) {
    return screen ? screen->FindElementById(elementId) : nullptr;
}

Time SecondsToTicks(float seconds) { return Time::FromSeconds(static_cast<double>(seconds)); }

}  // namespace

void LuaWrapperIgnoreProfilerCommand(LuaWrapper*, const char*) {}

OutlineParams OutlineParamsInstance() { return OutlineParams(); }

// ---- Game ----

void GameSwitchScene(Game* self, const char* name, uint32_t flags) { self->SwitchScene(name, flags, nullptr); }
void GameIgnoreRenderMode(Game*, float) {}
void GameIgnoreMemoryLog(Game*) {}
bool GameIsDIControllerPresent(const Game* self, uint32_t) { return self->IsDIControllerPresent(); }
void GameAppendDIDeviceName(const Game* self, UITextBase* text, uint32_t, bool clear) {
    self->AppendDIDeviceName(text, clear);
}
void GameAppendDIKeyName(const Game* self, UITextBase* text, uint32_t, uint32_t button, bool clear) {
    self->AppendDIKeyName(text, button, clear);
}
Vector GameGetDIControllerAnalogInput(const Game* self, uint32_t) { return self->GetDIControllerAnalogInput(); }
uint32_t GameGetNewTap(Game* self, bool) { return self->GetNewTap(); }
uint32_t GameGetNewTapForUIElement(Game* self, UIScreen* screen, uint32_t elementId) {
    UIElement* element = ElementOf(screen, elementId);
    return element ? self->GetNewTapForUIElement(screen, element) : 0;
}
bool GameIsTapWithinUIElement(const Game* self, uint32_t tap, UIScreen* screen, uint32_t elementId) {
    UIElement* element = ElementOf(screen, elementId);
    return element && self->IsTapWithinUIElement(tap, screen, element);
}
bool GameGetTapPosition(const Game* self, uint32_t tap, Vector* position, float, float) {
    return self->GetTapPosition(tap, position);
}

// ---- Console ----

void GameConsoleToggle(GameConsole*) {
    if (gGame) gGame->ToggleConsole();
}
void GameConsoleShow(GameConsole*) {
    if (gGame) gGame->ShowConsole(true);
}
void GameConsoleHide(GameConsole*) {
    if (gGame) gGame->ShowConsole(false);
}
void GameConsoleCls(GameConsole*) {
    if (gGame) gGame->ClearConsole();
}

// ---- Time ----

Time TimeInstance() { return Time(0); }
Time TimeInstance(const Time& t) { return t; }
void TimeSet(Time* self, const Time& t) { *self = t; }
void TimeLog(const Time* self, uint32_t severity, uint32_t category) {
    self->Log(static_cast<LogSeverity>(severity), static_cast<LogCategory>(category), nullptr);
}
void TimeAdd(Time* self, const Time& t) { *self = Time::Sum(*self, t); }
void TimeAddSeconds(Time* self, float seconds) { *self = Time::Sum(*self, SecondsToTicks(seconds)); }
void TimeAddOf(Time* self, const Time& a, const Time& b) { *self = Time::Sum(a, b); }
void TimeAddSecondsTo(Time* self, const Time& a, float seconds) { *self = Time::Sum(a, SecondsToTicks(seconds)); }
void TimeSub(Time* self, const Time& t) { *self = Time::Difference(*self, t); }
void TimeSubSeconds(Time* self, float seconds) { *self = Time::Difference(*self, SecondsToTicks(seconds)); }
void TimeSubOf(Time* self, const Time& a, const Time& b) { *self = Time::Difference(a, b); }
void TimeSubSecondsFrom(Time* self, const Time& a, float seconds) { *self = Time::Difference(a, SecondsToTicks(seconds)); }

// ---- GameTimer ----

GameTimer GameTimerInstance() {
    GameTimer t;
    t.Reset();
    return t;
}
GameTimer GameTimerInstance(const GameTimer& t) { return t; }
void GameTimerResetTime(GameTimer* self) { self->ResetTime(0); }
void GameTimerResetTimeTo(GameTimer* self, const Time& t) { self->ResetTime(t.ticks); }

// ---- LUAConfigHelper ----

void ConfigHelperIgnoreTraceDump(LUAConfigHelper*) {}
bool ConfigHelperIsPlayerLoggedIn(const LUAConfigHelper*, uint32_t) { return false; }
void ConfigHelperIgnoreSigninUI(LUAConfigHelper*, uint32_t) {}
LuaUnicodeString ConfigHelperLocalizedString(const LUAConfigHelper* self, const char* id) {
    LuaUnicodeString* text = self->GetLocalizedString(id);
    LuaUnicodeString copy;
    if (text) copy = *text;
    delete text;
    return copy;
}

// ---- LuaUnicodeString ----

LuaUnicodeString UnicodeStringInstance() { return LuaUnicodeString(); }
LuaUnicodeString UnicodeStringInstance(const char16_t* text) { return LuaUnicodeString(text); }
