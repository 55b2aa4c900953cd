#pragma once
// Script values are read through the raw Lua API, so the host's counters stay untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/script/LuaWrapper.h"

namespace luatest {

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

inline std::string TempFile(const std::string& contents) {
    static int serial = 0;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("luatest_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
         std::to_string(serial++));
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
}

// Standard output of a shell command that must succeed.
inline std::string RunProgram(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    EXPECT_EQ(pclose(p), 0) << command;
    return out;
}

// What Debian's lua5.1 reports for the chunk compiled under the chunk name: the compile
// error, or the message of the run error ("" when it runs).
inline std::string InterpreterMessage(const std::string& code, const std::string& chunkName) {
    const std::string script = TempFile(
        "local function read(p) local f = assert(io.open(p, 'rb')) local s = f:read('*a') f:close() return s end\n"
        "local f, e = loadstring(read(arg[1]), read(arg[2]))\n"
        "if not f then io.write(e) return end\n"
        "local ok, m = pcall(f)\n"
        "if not ok then io.write(tostring(m)) end\n");
    const std::string codeFile = TempFile(code), nameFile = TempFile(chunkName);
    const std::string out = RunProgram("/usr/bin/lua5.1 " + script + " " + codeFile + " " + nameFile);
    for (const std::string& f : {script, codeFile, nameFile}) std::filesystem::remove(f);
    return out;
}

// The file-execution callback as a recorder of (path, flag).
struct FileRecorder : LuaWrapperFileExecutionCallbackObject {
    using Seen = std::vector<std::pair<std::string, bool>>;
    void OnFileExecuted(const char* path, bool flag) override { seen.emplace_back(path, flag); }
    Seen seen;
};

}  // namespace luatest

class LuaHostTest : public testing::Test {
protected:
    void SetUp() override {
        sink.Attach();
        gLua.Init();
        ASSERT_NE(gLua.GetState(), nullptr);
        LuaWrapper::ResetErrorCounter();
        sink.Clear();
    }
    void TearDown() override {
        gLua.SetFileExecutionCallback(nullptr);
        gLua.Close();
        LuaWrapper::SetAllocationBudget(SIZE_MAX);
        sink.Detach();
    }

    lua_State* L() const { return gLua.GetState(); }
    int Top() const { return lua_gettop(L()); }

    // Runs a chunk directly; it must succeed and leaves `results` values.
    bool Run(const std::string& chunk, int results = 0) {
        if (luaL_loadstring(L(), chunk.c_str()) == 0 && lua_pcall(L(), 0, results, 0) == 0) return true;
        ADD_FAILURE() << lua_tostring(L(), -1);
        lua_pop(L(), 1);
        return false;
    }
    // tostring(expression), evaluated directly.
    std::string Eval(const std::string& expression) {
        if (!Run("return tostring(" + expression + ")", 1)) return "<error>";
        std::string value = lua_tostring(L(), -1);
        lua_pop(L(), 1);
        return value;
    }
    bool Logged(const std::string& fragment) { return sink.Contains(fragment); }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& m : sink.Messages()) texts.push_back(m.text);
        return texts;
    }
    // Messages whose text contains the fragment.
    int CountLogged(const std::string& fragment) {
        int n = 0;
        for (const auto& m : sink.Messages()) n += m.text.find(fragment) != std::string::npos;
        return n;
    }

    CaptureLogSink sink;
};
