// test-sanitize: address
// The input constants package against the platform headers: mingw-w64's dinput.h and
// xinput.h, preprocessed, give the value of every bound key and button constant.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <map>
#include <sstream>
#include <string>

#include "engine/script/LuaWrapper.h"

namespace {

constexpr const char* kHeaders = "/usr/share/mingw-w64/include";

// The bound globals named DIK_* or XINPUT_GAMEPAD_*, with their values.
std::map<std::string, double> BoundConstants(lua_State* L) {
    std::map<std::string, double> out;
    lua_pushnil(L);
    while (lua_next(L, LUA_GLOBALSINDEX)) {
        if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TNUMBER) {
            const std::string name = lua_tostring(L, -2);
            if (name.rfind("DIK_", 0) == 0 || name.rfind("XINPUT_GAMEPAD_", 0) == 0) out[name] = lua_tonumber(L, -1);
        }
        lua_pop(L, 1);
    }
    return out;
}

// A preprocessed header value: "(0x90)", "0x0001", "0x8000u" and the like.
long long ParseValue(std::string text) {
    std::string digits;
    for (char c : text)
        if (c != '(' && c != ')' && c != ' ') digits += c;
    while (!digits.empty() && (digits.back() == 'u' || digits.back() == 'U' || digits.back() == 'l' || digits.back() == 'L'))
        digits.pop_back();
    try {
        size_t used = 0;
        const long long value = std::stoll(digits, &used, 0);
        return used == digits.size() ? value : -1;
    } catch (...) {
        return -1;
    }
}

TEST(InputConstantsTest, EveryKeyAndButtonHasItsHeaderValue) {
    if (!std::filesystem::exists(std::string(kHeaders) + "/dinput.h")) GTEST_SKIP() << "mingw-w64-common (scripts/setup)";
    gLua.Init();
    const std::map<std::string, double> bound = BoundConstants(gLua.GetState());
    gLua.Close();
    ASSERT_EQ(bound.size(), 160u);

    // The header's own names: mingw-w64 spells the previous-track key by its Japanese
    // keyboard name, which has the same code.
    const std::map<std::string, std::string> kHeaderAlias = {{"DIK_PREVTRACK", "DIK_CIRCUMFLEX"}};
    const std::string source = testing::TempDir() + "input_constants_check.c";
    {
        std::ofstream c(source);
        c << "#include <windows.h>\n#define DIRECTINPUT_VERSION 0x0800\n#include <dinput.h>\n#include <xinput.h>\n";
        for (const auto& [name, value] : bound) {
            const auto alias = kHeaderAlias.find(name);
            c << "\"" << name << "\" " << (alias == kHeaderAlias.end() ? name : alias->second) << "\n";
        }
    }
    const std::string command = std::string("cpp -P -D_WIN32 -I") + kHeaders + " " + source + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string all;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, p)) all += buffer;
    ASSERT_EQ(pclose(p), 0) << all;

    int compared = 0;
    std::istringstream lines(all);
    for (std::string line; std::getline(lines, line);) {
        // "NAME" value (a quoted name is never expanded).
        if (line.empty() || line[0] != '"') continue;
        const size_t close = line.find('"', 1);
        if (close == std::string::npos) continue;
        const std::string name = line.substr(1, close - 1);
        const std::string value = line.substr(close + 1);
        if (name == "XINPUT_GAMEPAD_LEFT_TRIGGER" || name == "XINPUT_GAMEPAD_RIGHT_TRIGGER") continue;
        EXPECT_EQ(ParseValue(value), static_cast<long long>(bound.at(name))) << name << " = " << value;
        ++compared;
    }
    EXPECT_EQ(compared, 158);
    // The triggers have codes of their own above every button bit.
    EXPECT_EQ(bound.at("XINPUT_GAMEPAD_LEFT_TRIGGER"), 65537);
    EXPECT_EQ(bound.at("XINPUT_GAMEPAD_RIGHT_TRIGGER"), 65538);
    // Codes without a key of their own have no constant.
    for (const auto& [name, value] : bound) {
        if (name.rfind("DIK_", 0) != 0) continue;
        const int code = static_cast<int>(value);
        EXPECT_FALSE(code == 84 || code == 85 || (code >= 89 && code <= 99) || (code >= 103 && code <= 111))
            << name << " = " << code;
    }
    std::filesystem::remove(source);
}

TEST(InputConstantsTest, KeyConstantsAreThePlatformScanCodes) {
    // A key binding names the same key in scripts and in the input layer: spot checks
    // of the numbering both use.
    gLua.Init();
    const std::map<std::string, double> bound = BoundConstants(gLua.GetState());
    gLua.Close();
    const std::pair<const char*, double> kCases[] = {
        {"DIK_ESCAPE", 1}, {"DIK_RETURN", 28}, {"DIK_F15", 102}, {"DIK_NUMPADENTER", 156}, {"DIK_MEDIASELECT", 237},
        {"XINPUT_GAMEPAD_DPAD_UP", 1}, {"XINPUT_GAMEPAD_Y", 32768},
    };
    for (const auto& [name, value] : kCases) EXPECT_EQ(bound.at(name), value) << name;
}

}  // namespace
