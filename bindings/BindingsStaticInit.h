#pragma once
// Start-up table of the script bindings: registers each binding package's open function
// with the script host (RegisterLuaBindingPackage) under its order, and the game's
// packages and script functions with the game's list (RegisterGameBindingPackage), which
// the game's delegate opens when it registers its bindings. Every program that
// links bindings runs RunStaticInit with kBindingsStaticInit after the other tables.
#include "core/StaticInit.h"

extern const StaticInitTable kBindingsStaticInit;
