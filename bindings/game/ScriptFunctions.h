#pragma once
// The game's native script functions, registered as plain global closures (no upvalues)
// when the game's packages open:
//   zkr2_testTableSum(t)                               the sum of the table's numbers
//   zkr2_towerRotoShield_ComputeMaxCoverAngle(angle, bearings, mask, sectorSize)
//                                                      the best shield angle
//   zkr2_towerRotoShield_ComputeAttackAngles(tower, targets)
//                                                      the bearings, keys from 0
//   zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(tower, targets, angle, mask,
//                                                      sectorSize)
//                                                      the best angle for the targets
// Arguments are type-tested (table, number, "Entity"); a failed test raises
// "error in function '<name>'." with tolua++'s argument line and returns nothing. Tables
// are read as arrays from key 1 up to the first nil, through the host's float boundary;
// see game/script/RotoShield.h for the search and its limits.
//
// Threads: main thread only, like every script.
struct lua_State;

int zkr2_testTableSum(lua_State* L);
int zkr2_towerRotoShield_ComputeMaxCoverAngle(lua_State* L);
int zkr2_towerRotoShield_ComputeAttackAngles(lua_State* L);
int zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(lua_State* L);

// Stores the four functions as globals, in the order above; returns 0 (it is the open
// function of the game's list, game/delegate/GameBindingPackages.h).
int RegisterGameScriptFunctions(lua_State* L);
