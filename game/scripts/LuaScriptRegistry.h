#pragma once
// LuaScriptRegistry: a recorder of the script files the host runs. While installed as the
// host's file-execution callback it keeps every executed path ("directory/name", without
// ".lua") whole, in order, however long. The distribution listings (ScriptListing.h) run
// the game's set-up scripts under one to learn which files a package must carry.
//
// ScopedScriptRecording installs a recorder in the host's single callback slot for its
// lifetime and empties the slot on every way out, a failing script included (the host
// catches script errors, so nothing unwinds past it). A callback installed before is not
// put back: recordings do not nest.
//
// Threads: main thread, like the script host.
#include <string>
#include <vector>

#include "engine/script/LuaWrapper.h"

class LuaScriptRegistry : public LuaWrapperFileExecutionCallbackObject {
public:
    void OnFileExecuted(const char* path, bool flag) override;
    const std::vector<std::string>& Paths() const { return paths; }
    void Clear() { paths.clear(); }

private:
    std::vector<std::string> paths;
};

class ScopedScriptRecording {
public:
    explicit ScopedScriptRecording(LuaScriptRegistry& registry);
    ~ScopedScriptRecording();
    ScopedScriptRecording(const ScopedScriptRecording&) = delete;
    ScopedScriptRecording& operator=(const ScopedScriptRecording&) = delete;
};
