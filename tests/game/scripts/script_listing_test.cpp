// The distribution listings over a script tree the test writes: the common listing runs
// the distribution main script and the Game's set-up and keeps what lies under
// common/scripts in any case, each name once and spelt as the script spelt it; the scene
// listing puts the scene's sequences
// first and runs its four texts in order, with or without them; outside paths are logged
// and left out; the recorder's slot is empty after a listing, a failing script included,
// whatever was installed before; long paths are kept whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <tolua++.h>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/fs/FileSystem.h"
#include "engine/script/LuaWrapper.h"
#include "game/scripts/LuaScriptRegistry.h"
#include "game/scripts/ScriptListing.h"

namespace {

const char* const kCommonOutside =
    "One of script files includes something out of common/scripts directory. Such script will not be included in the "
    "distribution package";

std::filesystem::path gRoot;

void Write(const std::string& relative, const std::string& text) {
    const std::filesystem::path path = gRoot / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// Run(name, folder): the host runs the file, as the game's scripts do through the
// engine package.
int RunFile(lua_State* L) {
    gLua.ExecuteFile(lua_tostring(L, 1), lua_tostring(L, 2));
    return 0;
}

std::vector<std::string> Names(const DynarraySafe<NameString>& files) {
    std::vector<std::string> out;
    for (const NameString& f : files) out.emplace_back(f.CStr());
    return out;
}

class ScriptListing : public testing::Test {
protected:
    static void SetUpTestSuite() {
        gRoot = std::filesystem::temp_directory_path() / ("script_listing_" + std::to_string(getpid()));
        Write("common/scripts/DistributionMain.lua",
              "Run('Helper', 'common/scripts') Run('Helper', 'common/scripts') Run('Upper', 'Common/Scripts') "
              "Run('Helper', 'COMMON/scripts') Run('Outside', 'other')");
        Write("common/scripts/Helper.lua", "");
        Write("common/Scripts/Upper.lua", "");
        Write("common/scripts/FromInit.lua", "");
        Write("common/scripts/Resources.lua", "");
        Write("common/scripts/FromClose.lua", "");
        Write("other/Outside.lua", "");
        Write("other/Stray.lua", "");
        Write("scenes/Level1/SceneSequences.lua", "");
        Write("scenes/Level1/Local.lua", "");
        Write("scenes/Level2/Local.lua", "");
        for (const char* mount : {"common", "other", "scenes"}) {
            ASSERT_TRUE(gFileSystem.MountDirectory(mount, (gRoot / mount).string().c_str()));
        }
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(gRoot); }

    void SetUp() override {
        sink.Attach();
        gLua.Init();
        lua_State* L = gLua.GetState();
        ASSERT_NE(L, nullptr);
        lua_register(L, "Run", &RunFile);
        // The host knows the Game's type (it publishes gGame); the class table comes
        // with the engine package, which this library does not link.
        tolua_open(L);
        tolua_usertype(L, "Game");
        tolua_beginmodule(L, nullptr);
        tolua_cclass(L, "Game", "Game", "", nullptr);
        tolua_endmodule(L);
        ASSERT_TRUE(gLua.ExecuteString(R"(
            order = {}
            function Game:OnInit() Run('FromInit', 'common/scripts') end
            function Game:OnClose() Run('FromClose', 'common/scripts') end
            function ReportCommonResources(set) reported = set Run('Resources', 'common/scripts') end
            function UnregisterAllScriptSequences() order[#order + 1] = 'U' end
            function ReportLocalSceneLuaFiles()
                order[#order + 1] = 'L'
                Run(scene .. '/Local', 'scenes') Run('Stray', 'other')
                error('a failing scene script')
            end
            function RegisterAllScriptSequences() order[#order + 1] = 'R' Run(scene .. '/Local', 'scenes') end
            function ReportLocalSceneResources() order[#order + 1] = 'S' end
        )")) << (sink.Messages().empty() ? "" : sink.Messages().back().text);
        sink.Clear();
    }
    void TearDown() override {
        gLua.SetFileExecutionCallback(nullptr);
        gLua.Close();
        sink.Detach();
    }
    std::string Global(const char* name) {
        lua_State* L = gLua.GetState();
        lua_getglobal(L, name);
        std::string value = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
        if (lua_istable(L, -1)) {
            for (int i = 1; lua_rawgeti(L, -1, i), !lua_isnil(L, -1); ++i) {
                value += lua_tostring(L, -1);
                lua_pop(L, 1);
            }
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        return value;
    }
    size_t Logged(const std::string& text) {
        size_t n = 0;
        for (const auto& m : sink.Messages()) n += m.text == text;
        return n;
    }

    CaptureLogSink sink;
    int game = 0;
};

TEST_F(ScriptListing, CommonScriptsInOrderOnceEachSpeltAsRun) {
    DynarraySafe<NameString> files;
    files.Add(NameString("scripts/Helper.lua"));  // already listed by the caller
    LuaScriptRegistry previous;
    gLua.SetFileExecutionCallback(&previous);
    ListCommonScripts(&game, "set's", files);
    EXPECT_EQ(Names(files),
              (std::vector<std::string>{"scripts/Helper.lua", "scripts/DistributionMain.lua", "Scripts/Upper.lua",
                                        "scripts/FromInit.lua", "scripts/Resources.lua", "scripts/FromClose.lua"}));
    EXPECT_EQ(Global("reported"), "set's");
    EXPECT_EQ(Logged(kCommonOutside), 1u);
    EXPECT_EQ(gLua.GetFileExecutionCallback(), nullptr);
}

TEST_F(ScriptListing, SceneScriptsWithAndWithoutSequences) {
    const struct {
        const char* scene;
        std::vector<std::string> files;
    } cases[] = {
        {"Level1", {"Level1/SceneSequences.lua", "Level1/Local.lua"}},
        {"Level2", {"Level2/Local.lua"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(gLua.ExecuteString((std::string("order = {} scene = '") + c.scene + "'").c_str()));
        sink.Clear();
        LuaScriptRegistry previous;
        gLua.SetFileExecutionCallback(&previous);
        DynarraySafe<NameString> files;
        ListSceneScripts(c.scene, files);
        EXPECT_EQ(Names(files), c.files) << c.scene;
        EXPECT_EQ(Global("order"), "ULRS") << c.scene;
        EXPECT_EQ(Logged("One of local scene script files includes something out of scene directory (other/Stray). "
                         "Such script will not be included in the distribution package"),
                  1u)
            << c.scene;
        // The failing script did not leave the recorder installed, nor put back the one
        // installed before.
        EXPECT_EQ(gLua.GetFileExecutionCallback(), nullptr) << c.scene;
        EXPECT_TRUE(previous.Paths().empty()) << c.scene;
    }
}

TEST_F(ScriptListing, RecorderKeepsLongPathsWhole) {
    LuaScriptRegistry registry;
    const std::string path = "common/scripts/" + std::string(300, 'x');
    registry.OnFileExecuted(path.c_str(), true);
    ASSERT_EQ(registry.Paths().size(), 1u);
    EXPECT_EQ(registry.Paths()[0], path);
}

}  // namespace
