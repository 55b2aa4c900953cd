#pragma once
// The script benchmarks' start: the program's ordered start-up and the script host, once per
// process.
#include "engine/script/LuaWrapper.h"
#include "tests/support/ProgramStaticInit.h"

namespace benchsupport {

inline void StartScriptHost() {
    static const bool started = [] {
        RunProgramStaticInit();
        gLua.Init();
        return true;
    }();
    (void)started;
}

}  // namespace benchsupport
