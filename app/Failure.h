#pragma once
// What ends a run before its time, said so that a user sees it: a start-up that failed
// (the engine's, a second copy's), the game's scripts failing in the calls that start the
// game, a scene that could not be loaded, and the script errors of a run at its end.
//
// Each failure is one line on standard error ("quorvel2: ..."), whatever --log says (the
// log gets the same line, and when the log itself goes to standard error the line is
// written there once, through the log). With a Game running on the desktop, the game
// console opens with the lines and the run waits for a key, a click or the window's
// close before it ends; headless, the Game quits at once. The run's exit status is the
// failure's.
//
// Threads: main thread only.
#include <cstdint>

namespace app {

// One failure line: "quorvel2: <line>" on standard error unless the log goes there, and
// the line in the log (an error of the engine's category).
void SayFailure(const char* line);

// Ends the run for a failure: says the headline and the detail (null: none), sets the
// run's status, and quits the Game, or on the desktop shows both lines on the game console
// and holds the run until a key, a click or the window's close.
void EndRunWithFailure(int exitCode, const char* headline, const char* detail);

// After the Game's start-up calls: a failed script run, or (withMissing) start-up calls
// none of which found its function (no main script, or one that defines nothing the
// engine calls), ends the run (kExitStartFailed) naming the file and line of the first
// failure, or the main script and the first missing function. An event function the
// script leaves out while defining others is not a failure. The first scene's load checks
// failed runs only: an entity whose script class lacks a method is the scene's matter,
// not the main script's. True when it ended the run.
bool CheckStartScripts(bool withMissing);

// At the end of a run that ended normally: script errors make the status
// kExitScriptErrors, said with the first of them.
void CheckRunScriptErrors();

}  // namespace app
