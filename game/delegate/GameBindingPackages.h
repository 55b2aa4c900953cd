#pragma once
// The game's binding packages: the open functions the game's delegate runs when it
// registers its script bindings, after the engine's own packages. The game library links
// below the bindings, so the bindings fill this list at start-up (their static-init rows),
// the way they fill the engine's package registry.
//
// Positions: 1 the entity package, 2 the profile and camera package, 3 the test package,
// 4 the desktop package, 5 the game's native script functions.
//
// Threads: main thread, with the script host.
struct lua_State;

using GameBindingOpenFunction = int (*)(lua_State* L);

constexpr int kGameBindingPackageCount = 5;

// Adds an open function at a position (1 to kGameBindingPackageCount); a second
// registration at the same position replaces the first, one outside the range is ignored.
void RegisterGameBindingPackage(int order, GameBindingOpenFunction open);
// Runs the registered functions in position order; empty positions are skipped.
void OpenGameBindingPackages(lua_State* L);
// Empties the list (start-up tables that run again, tests).
void ClearGameBindingPackages();
