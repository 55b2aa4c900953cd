#pragma once
// The table Runner that the binding cases (lua/*.lua and the call scripts) and the
// bindings' fuzz target give their scripts: what a script cannot see by itself.
//   Runner.ErrorCount()      the host's error counter
//   Runner.Execute(code)     runs code as the engine does (reported and counted); true on success
//   Runner.Warnings(text)    how many captured log messages so far contain text (0 without a sink)
//   Runner.Spawn()           a new engine object of script class RunnerProbe
//   Runner.KillAll()         destroys every spawned object (their handles die)
class CaptureLogSink;
struct lua_State;

// Opens the table in the host's state and registers the class RunnerProbe; the sink,
// when given, is what Warnings reads.
void OpenRunnerNatives(lua_State* L, CaptureLogSink* sink);
// Destroys every object Spawn made.
void DestroyRunnerProbes();
