// test-link: bindings broker_server
// test-depends: sample_data
// The distribution listings of the built sample data: the game's delegate lists the common
// set's scripts and the mission scene's scripts by running the sample's own scripts, and each listing
// names exactly the script files of the sample tree, found by walking it, so a
// script the game runs but the listing misses (or one left lying in the tree) shows. The
// listing runs without a Game's screens: the menu's recipes are not found, which the
// scripts survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/config/GameConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/VornexEngine.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"

namespace {

namespace stdfs = std::filesystem;

const stdfs::path kSampleTree = stdfs::path(PROJECT_SOURCE_ROOT) / "data";

// Every .lua file below folder, as its path relative to base, with prefix before it.
std::vector<std::string> ScriptFilesBelow(const stdfs::path& folder, const stdfs::path& base, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& entry : stdfs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".lua")
            out.push_back(prefix + entry.path().lexically_relative(base).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Sorted(const DynarraySafe<NameString>& files) {
    std::vector<std::string> out;
    for (const NameString& f : files) out.emplace_back(f.CStr());
    std::sort(out.begin(), out.end());
    return out;
}

class SampleListingTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The sample data as the program mounts it: the container sets beside the program.
        gGameConfig->useContainerFiles = true;
        const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
        ASSERT_NE(repository, nullptr);
        repository->FromString(gGameConfig, PROJECT_BINARY_ROOT "/app");
        gVornexEngine.SetConfiguration(gGameConfig);
        ASSERT_TRUE(gVornexEngine.MountData(~0u));
    }

    void SetUp() override {
        sink.Attach();
        gLua.Init();
        delegate.RegisterBindings();
    }
    void TearDown() override { gLua.Close(); }

    CaptureLogSink sink;
    PCMacGameDelegate delegate;
};

TEST_F(SampleListingTest, ListingsNameEveryScriptFileOfTheSampleTree) {
    const stdfs::path common = kSampleTree / "common/scripts";
    const stdfs::path scenes = kSampleTree / "scenes";
    const struct {
        const char* what;
        void (GameDelegate::*list)(const char*, DynarraySafe<NameString>&);
        const char* name;
        std::vector<std::string> expected;
    } cases[] = {
        {"common scripts", &GameDelegate::LoadMainScripts, "common", ScriptFilesBelow(common, common, "scripts/")},
        {"scene scripts", &GameDelegate::RegisterSceneScripts, "Outpost", ScriptFilesBelow(scenes / "Outpost", scenes, "")},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.expected.empty()) << c.what;
        DynarraySafe<NameString> files;
        (static_cast<GameDelegate&>(delegate).*c.list)(c.name, files);
        EXPECT_EQ(Sorted(files), c.expected) << c.what;
    }
    // The set-up scripts ran through without a script error or an unanswered call.
    for (const char* fault : {"LUA_ERROR", "is not function"}) EXPECT_FALSE(sink.Contains(fault)) << fault;
}

}  // namespace
