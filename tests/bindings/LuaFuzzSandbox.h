#pragma once
// What the script fuzz targets take away before an input runs, and their budgets: the
// hook and the registry, finalisers, and the string loops the hook cannot interrupt (so no
// input outlasts the budgets); and the `new` forms, whose objects live until the script
// deletes them (the free cameras' until the program ends), so that an input cut short by
// a budget (or one that never deletes) leaks by contract. The UI elements made by `new`
// are the engine's until released, and the game's route element is a UI element: the
// same rule.
#include <lua.hpp>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace luafuzz {

constexpr int kInstructionBudget = 200000;
constexpr size_t kByteBudget = 8u << 20;

// Each chunk runs on its own, so that one whose names are missing leaves the others.
constexpr const char* kRestrictions[] = {
    ("print, newproxy = nil\ndebug.debug, debug.sethook, debug.getregistry, debug.setmetatable = nil\nstring.rep, string.find, string.match, string.gmatch, string.gsub = nil\n"
     "OutlineParams.new, LuaUnicodeString.new, PerspectiveCamera.new, TargetViewCamera.new = nil\n"
     "EntityBlender.new, EntitySetIterator.new = nil\n"),
    ("for _, c in ipairs({UIElement, UIPicture, UIList, UIPictureAtlas, UIBlur, UIVideo, UIText, UITextBox,\n"
     "                    UIUniTextInput, UITemplateView, UIRoundedRect, UIScreen, UICreditsHelper}) do c.new = nil end\n"),
    "ZKRMissionSelectorPathRenderer.new = nil",
};

inline void Restrict(lua_State* L) {
    for (const char* chunk : kRestrictions) luaL_dostring(L, chunk);
}

// Ends the running chunk once its count of instructions is spent (and at once after).
inline void BudgetHook(lua_State* L, lua_Debug*) {
    lua_sethook(L, &BudgetHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction budget exhausted");
}

// A seed file's whole text (empty when it cannot be read).
inline std::string ReadSeedFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace luafuzz
