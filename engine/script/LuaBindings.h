#pragma once
// The registry of binding packages. Each package lives in a library above the engine and
// registers its open function from one of that library's start-up rows; the script host
// opens them all when it creates its state (OpenAllLuaBindings).
//
// Main thread, at start-up.
#include <cstdint>

struct lua_State;

using LuaPackageOpenFunction = int (*)(lua_State* state);

// The packages in the order the host opens them.
enum LuaBindingPackageOrder : uint32_t {
    LUA_PACKAGE_ENGINE_CORE = 1,
    LUA_PACKAGE_ENTITY = 2,
    LUA_PACKAGE_SOUND = 3,
    LUA_PACKAGE_MULTIPLAYER = 4,
    LUA_PACKAGE_MATH = 5,
    LUA_PACKAGE_INPUT_CONSTANTS = 6,
    LUA_PACKAGE_CAMERA = 7,
    LUA_PACKAGE_CHARACTER_CONTROLLER = 8,
    LUA_PACKAGE_USER_INTERFACE = 9,
    LUA_PACKAGE_GAME_DELEGATE = 10,
    LUA_PACKAGE_VIDEO = 11,
};

constexpr uint32_t kMaxLuaBindingPackages = 32;

// Adds a package; packages of one order open in registration order. A function already
// registered, or a full registry, is refused (false, logged). The registration ends with
// the process start-up's shutdown (RunStaticShutdown).
bool RegisterLuaBindingPackage(uint32_t order, LuaPackageOpenFunction open);
uint32_t LuaBindingPackageCount();

// Initialises the tolua++ run-time in the state, then opens every registered package,
// then repairs field assignment on their classes (below).
void OpenAllLuaBindings(lua_State* state);

// Debian's tolua++ 1.0.93 recurses until the C stack overflows when a script assigns a new
// field (a method) to a class table whose base class has a base of its own: its table
// assignment event hands the same table to the grandparent class's event, which does the
// same again. This replaces the assignment event of the named class (every class of the
// state when the name is null) with one that stores a class table's field directly (or
// through the class's static-variable setter) and hands objects to tolua++'s own event.
// Anything that opens packages or creates classes outside OpenAllLuaBindings and
// LuaWrapper::RegisterClass runs it afterwards.
void RepairClassFieldAssignment(lua_State* state, const char* className = nullptr);
