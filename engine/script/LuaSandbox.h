#pragma once
// The standard libraries a game script gets, and what the host takes out of them.
//
// Scripts get the base, table, string and math libraries and a reduced debug library.
// Taken out or replaced, because bindings cannot defend against them:
//   - loadstring and load refuse a chunk that begins with the binary signature, as the
//     host's own compile does (Lua 5.1 runs bytecode unverified);
//   - dofile and loadfile are absent: scripts run files through LuaWrapper.ExecuteFile,
//     which reads through the engine's file system;
//   - the debug library keeps traceback, getinfo, getlocal and getupvalue; the rest
//     would let a script forge a userdata's class or tolua++'s tables;
//   - tolua++'s module loses takeownership, releaseownership and inherit (a script could
//     hand an engine object's memory to the collector, or pass a table as an object), and
//     its cast gives nil unless the class is on the object's own class line;
//   - math.random and math.randomseed draw from the host's own generator, so the engine's
//     draws never disturb a script's sequence: random() is (next & 0x7FFF) / 32768,
//     random(m) and random(m, n) scale it as Lua's own does, randomseed(s) sets the
//     state.
//
// Threads: main thread, like the state.
#include <cstdint>

struct lua_State;

// Opens the libraries above into a fresh state (the script generator starts at state 1,
// the C library's own start).
void OpenScriptLibraries(lua_State* L);

// The script generator's state, for tests and for saving a sequence.
void SetScriptRandomState(uint32_t state);
uint32_t ScriptRandomState();
