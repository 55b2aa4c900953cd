#pragma once
// What the engine-core package does in its bindings: the script forms the natives do not
// have (time arithmetic in seconds, argument lists that differ from the native's, the
// rows that do nothing or answer a constant), and the constants it registers. Each
// helper is called by the package as a method of the class its first argument is
// (tolua_outside).
//
// Threads: main thread, like every script.
#include <cstdint>

#include "core/Log.h"
#include "core/Time.h"
#include "engine/input/InputManager.h"  // INPUTEVENT_*
#include "engine/services/FrameTimer.h"
#include "engine/services/GameTimer.h"

class Game;
class LUAConfigHelper;
class LuaUnicodeString;
class LuaWrapper;
class UIScreen;
class UITextBase;
struct OutlineParams;
struct Vector;

// The script classes whose natives carry another name.
using GameConsole = Log;
using EngineTimer = FrameTimer;

// ---- Constants of the package ----
enum EngineScriptConstant : uint32_t {
    LRFSEFLAG_MASSIVEOUTLINEMODE = 2,
    GFXQUALITY_ULTRALOW = 0, GFXQUALITY_LOW = 1, GFXQUALITY_MEDIUM = 2, GFXQUALITY_HIGH = 3,
    GFXQUALITY_VERYHIGH = 4, GFXQUALITY_MAX = 5,
    SUBTITLEMODE_DEFAULT = 0, SUBTITLEMODE_ON = 1, SUBTITLEMODE_OFF = 2,
    LEMB_MIN = 65536, LEMB_LEFT = 65536, LEMB_RIGHT = 65537, LEMB_MIDDLE = 65538, LEMB_LEFT_DBLCLICK = 65539,
    LEMB_RIGHT_DBLCLICK = 65540, LEMB_MIDDLE_DBLCLICK = 65541, LEMB_MAX = 65542,
    CONTROLLERINDEX_ANY = 256,
    NEWSCENEREQUEST_NORESOURCEEVICTION = 1, NEWSCENEREQUEST_MULTIPLAYER_CLIENT = 2,
    NEWSCENEREQUEST_DISPLAYLOADINGSCREENDURINGINITIALIZATION = 4, NEWSCENEREQUEST_KEEPLOADINGSCREENAFTERSWITCH = 8,
    PROPERTY_GROUP = 0, PROPERTY_SEPARATOR = 1, PROPERTY_DYNARRAY = 2, PROPERTY_EMBEDDED_OBJECT = 3,
    PROPERTY_SAFEPOINTER = 4, PROPERTY_DYNARRAY_OF_EMBEDDED_OBJECT_POINTERS = 5,
    PROPERTY_DYNARRAY_OF_EMBEDDED_OBJECTS = 6, PROPERTY_DYNARRAY_OF_POLY_OBJECT_POINTERS = 7, PROPERTY_FLOAT = 8,
    PROPERTY_INT = 9, PROPERTY_UNSIGNED = 10, PROPERTY_STRING = 12, PROPERTY_UNICODESTRING = 13,
    PROPERTY_VECTOR = 14, PROPERTY_VECTOR3 = 15, PROPERTY_BOUNDINGBOX = 16, PROPERTY_QUATERNION = 17,
    PROPERTY_MATRIX = 18, PROPERTY_BOOL = 19, PROPERTY_GUID = 20, PROPERTY_NAMESTRING = 21, PROPERTY_COLOR = 22,
    PROPERTY_CHAR = 23, PROPERTY_UNSIGNED_CHAR = 24, PROPERTY_STATICBITVECTOR = 25,
    PROPERTY_PUREMEMORYBLOCK = 26, PROPERTY_FIRSTCUSTOMTYPE = 27,
    INPUTMODE_GAMEPAD = 0, INPUTMODE_MOUSE = 1, INPUTMODE_KEYBOARD = 2, INPUTMODE_DIPAD = 3,
    INPUTMODE_TOUCH = 4, INPUTMODE_MAX = 5,
};

// ---- Script host and engine rows without effect ----
void LuaWrapperIgnoreProfilerCommand(LuaWrapper* self, const char* text);

// ---- OutlineParams ----
OutlineParams OutlineParamsInstance();  // the defaults

// ---- Game ----
void GameSwitchScene(Game* self, const char* name, uint32_t flags);
// SetRenderMode and the memory logs: no effect.
void GameIgnoreRenderMode(Game* self, float mode);
void GameIgnoreMemoryLog(Game* self);
// The pad arguments the natives do not take (one DirectInput pad; a new tap is a new tap).
bool GameIsDIControllerPresent(const Game* self, uint32_t controller);
void GameAppendDIDeviceName(const Game* self, UITextBase* text, uint32_t controller, bool clear);
void GameAppendDIKeyName(const Game* self, UITextBase* text, uint32_t controller, uint32_t button, bool clear);
Vector GameGetDIControllerAnalogInput(const Game* self, uint32_t controller);
uint32_t GameGetNewTap(Game* self, bool unused);
// UI elements named by their id inside the screen (none: null).
uint32_t GameGetNewTapForUIElement(Game* self, UIScreen* screen, uint32_t elementId);
bool GameIsTapWithinUIElement(const Game* self, uint32_t tap, UIScreen* screen, uint32_t elementId);
bool GameGetTapPosition(const Game* self, uint32_t tap, Vector* position, float unusedX, float unusedY);

// ---- Console: the Game's console screen (nothing without one) ----
void GameConsoleToggle(GameConsole* self);
void GameConsoleShow(GameConsole* self);
void GameConsoleHide(GameConsole* self);
void GameConsoleCls(GameConsole* self);

// ---- Time: ticks at the counter's frequency; seconds become truncated tick counts ----
Time TimeInstance();  // zero ticks
Time TimeInstance(const Time& t);
void TimeSet(Time* self, const Time& t);
void TimeLog(const Time* self, uint32_t severity, uint32_t category);
void TimeAdd(Time* self, const Time& t);
void TimeAddSeconds(Time* self, float seconds);
void TimeAddOf(Time* self, const Time& a, const Time& b);
void TimeAddSecondsTo(Time* self, const Time& a, float seconds);
void TimeSub(Time* self, const Time& t);
void TimeSubSeconds(Time* self, float seconds);
void TimeSubOf(Time* self, const Time& a, const Time& b);
void TimeSubSecondsFrom(Time* self, const Time& a, float seconds);

// ---- GameTimer ----
GameTimer GameTimerInstance();  // reset to the present counter, every count 0
GameTimer GameTimerInstance(const GameTimer& t);
void GameTimerResetTime(GameTimer* self);  // time 0
void GameTimerResetTimeTo(GameTimer* self, const Time& t);

// ---- LUAConfigHelper rows without effect or with a constant answer ----
void ConfigHelperIgnoreTraceDump(LUAConfigHelper* self);
bool ConfigHelperIsPlayerLoggedIn(const LUAConfigHelper* self, uint32_t player);  // false
void ConfigHelperIgnoreSigninUI(LUAConfigHelper* self, uint32_t panes);
// The localised text as a value the script owns.
LuaUnicodeString ConfigHelperLocalizedString(const LUAConfigHelper* self, const char* id);

// ---- LuaUnicodeString ----
LuaUnicodeString UnicodeStringInstance();
LuaUnicodeString UnicodeStringInstance(const char16_t* text);  // null: empty
