#include "app/Failure.h"

#include <cstdio>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "core/Log.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"

namespace app {

namespace {

constexpr const char* kHoldLine = "Press a key, click or close the window to end the program.";

}  // namespace

void SayFailure(const char* line) {
    // A log on standard error carries the line there only while it is attached: a failed
    // engine start has closed it by the time its failure is said.
    if (!gMainWindow.logOnStandardError || !gLog.Sink()) {
        std::fprintf(stderr, "quorvel2: %s\n", line);
        std::fflush(stderr);
    }
    gLog.Error(LogCategory::Engine, "%s", line);
}

void EndRunWithFailure(int exitCode, const char* headline, const char* detail) {
    MainWindowState& s = gMainWindow;
    char line[1024];
    if (detail)
        std::snprintf(line, sizeof line, "%s: %s", headline, detail);
    else
        std::snprintf(line, sizeof line, "%s", headline);
    SayFailure(line);
    if (s.exitCode == kExitSuccess) s.exitCode = exitCode;
    if (!gGame) return;  // nothing runs yet: the caller ends the run with the status
    if (!s.presentIntoWindow || !gGame->IsInitialised()) {
        gGame->Quit();
        return;
    }
    // The console shows the newest line at the bottom.
    gGame->ShowConsole(true);
    gGame->OnLogMessage(uint32_t(LogSeverity::Error), uint32_t(LogCategory::Script), headline);
    if (detail) gGame->OnLogMessage(uint32_t(LogSeverity::Error), uint32_t(LogCategory::Script), detail);
    gGame->OnLogMessage(uint32_t(LogSeverity::Warning), uint32_t(LogCategory::Script), kHoldLine);
    s.holding = true;
}

bool CheckStartScripts(bool withMissing) {
    const LuaWrapper::FailureRecord& r = gLua.GetFailureRecord();
    // A start-up call that found no function is fatal only when none found one: the main
    // script is missing or defines nothing the engine calls. An event the script leaves
    // out is its choice (the call's line in the log says so).
    const bool nothingDefined = withMissing && r.missingFunctions != 0 && r.foundFunctions == 0;
    if (r.errors == 0 && !nothingDefined) return false;
    if (r.errors) {
        EndRunWithFailure(kExitStartFailed, "The game's scripts failed at start-up", r.firstError);
    } else {
        char detail[1024];
        std::snprintf(detail, sizeof detail, "%s does not define what the engine calls (%s)",
                      r.firstFile[0] ? r.firstFile : "the main script", r.firstMissing);
        EndRunWithFailure(kExitStartFailed, "The game's scripts failed at start-up", detail);
    }
    return true;
}

void CheckRunScriptErrors() {
    MainWindowState& s = gMainWindow;
    const uint32_t errors = LuaWrapper::GetErrorCount();
    if (errors == 0 || s.exitCode != kExitSuccess) return;
    s.exitCode = kExitScriptErrors;
    const LuaWrapper::FailureRecord& r = gLua.GetFailureRecord();
    const char* noun = errors == 1 ? "error" : "errors";
    char line[1024];
    if (r.firstError[0])
        std::snprintf(line, sizeof line, "the game's scripts reported %u %s; the first: %s", errors, noun,
                      r.firstError);
    else
        std::snprintf(line, sizeof line, "the game's scripts reported %u %s (the log says which: --log FILE)", errors,
                      noun);
    SayFailure(line);
}

}  // namespace app
