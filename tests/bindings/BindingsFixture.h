#pragma once
// The Lua state of the binding tests: the host opened with every registered package, a
// captured log, and runs of script text that report a failure as text instead of
// raising it.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <string>

#include "engine/script/LuaWrapper.h"
#include "support/CaptureLogSink.h"

class BindingsTest : public testing::Test {
protected:
    void SetUp() override {
        sink.Attach();
        gLua.Init();
        ASSERT_NE(gLua.GetState(), nullptr);
        LuaWrapper::ResetErrorCounter();
    }
    void TearDown() override {
        gLua.Close();
        sink.Detach();
    }
    lua_State* L() const { return gLua.GetState(); }

    // The string the chunk returns, or "<error: message>" when it fails to load or run.
    std::string Result(const std::string& chunk) {
        if (luaL_loadstring(L(), chunk.c_str()) != 0 || lua_pcall(L(), 0, 1, 0) != 0) {
            std::string message = std::string("<error: ") + lua_tostring(L(), -1) + ">";
            lua_pop(L(), 1);
            return message;
        }
        const char* text = lua_tostring(L(), -1);
        std::string value = text ? text : "nil";
        lua_pop(L(), 1);
        return value;
    }
    // tostring of the expression.
    std::string Eval(const std::string& expression) { return Result("return tostring(" + expression + ")"); }
    // The values the chunk returns, numbers as "%.9g" and others by tostring, joined by
    // blanks.
    std::string Values(const std::string& chunk) {
        return Result("local r = {(function() " + chunk +
                      " end)()} for i, v in ipairs(r) do r[i] = type(v) == 'number' and "
                      "string.format('%.9g', v) or tostring(v) end return table.concat(r, ' ')");
    }
    // Runs the chunk; a failure fails the test.
    void Run(const std::string& chunk) {
        if (luaL_loadstring(L(), chunk.c_str()) == 0 && lua_pcall(L(), 0, 0, 0) == 0) return;
        ADD_FAILURE() << chunk << ": " << lua_tostring(L(), -1);
        lua_pop(L(), 1);
    }

    CaptureLogSink sink;
};
