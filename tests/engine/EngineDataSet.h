#pragma once
// A generated data set the engine starts on, with a private user folder (XDG_DATA_HOME).
// Programs using it depend on the shader data (test-depends: shader_data).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SolidBlob.h"
#include "platform/window/Window.h"

namespace enginetest {

inline const char* const kKinds[] = {"animations", "common", "scenes", "sounds",
                                     "templates",  "voices", "videos", "textures"};

class EngineDataSet {
public:
    EngineDataSet() {
        namespace fs = std::filesystem;
        char pattern[] = "/tmp/engine_data_XXXXXX";
        root = mkdtemp(pattern);
        data = root + "/data";
        user = root + "/user";
        for (const char* kind : kKinds) fs::create_directories(data + "/" + kind);
        fs::create_directories(user);
        fs::copy(PROJECT_BINARY_ROOT "/data/common/Shaders", data + "/common/Shaders", fs::copy_options::recursive);
        fs::copy(PROJECT_BINARY_ROOT "/data/textures/System", data + "/textures/System", fs::copy_options::recursive);
        const char* old = std::getenv("XDG_DATA_HOME");
        hadUserHome = old != nullptr;
        if (old) oldUserHome = old;
        setenv("XDG_DATA_HOME", user.c_str(), 1);
        unsetenv("ONLINE_BROKER_DIR");
        unsetenv("ONLINE_DATA_DIR");
        // A configuration as a first run has it, pointing at the data folders.
        ResetConfiguration();
        SetRepositoryPath(data);
    }
    ~EngineDataSet() {
        SetRepositoryPath("");
        if (hadUserHome) setenv("XDG_DATA_HOME", oldUserHome.c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    EngineDataSet(const EngineDataSet&) = delete;
    EngineDataSet& operator=(const EngineDataSet&) = delete;

    // The settings the tests read back, at their defaults; windowed, folders.
    static void ResetConfiguration() {
        GameConfig& c = *gGameConfig;
        c.useContainerFiles = false;
        c.fullScreenMode = false;
        c.logFrameInfo = 0;
        c.sfxVolume = c.musicVolume = c.voiceVolume = -1.0f;
        c.rendererConfig.gfxQualityLevel = 3;
        c.rendererConfig.semiResolutionScreenScale = 1.0f;
    }
    static void SetRepositoryPath(const std::string& path) {
        const RTTIProperty* p = EngineConfig::RegisterClass()->FindProperty("Repository path");
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->FromString(gGameConfig, path.c_str()));
    }
    // "Project.ConfigBin" in "common", written by the engine's Solid writer.
    void WriteProjectConfig(ProjectConfig& project) const {
        std::vector<uint8_t> bytes;
        SolidSerializeToBuffer(project, bytes, 0);
        WriteFile(data + "/common/Project.ConfigBin", bytes);
    }
    void WriteProjectConfig() const {
        ProjectConfig project;
        WriteProjectConfig(project);
    }
    static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    // The per-title folder the engine mounts as "project".
    std::string ProjectFolder(const std::string& title) const { return user + "/Brintavolque/" + title; }

    std::string root, data, user;

private:
    bool hadUserHome = false;
    std::string oldUserHome;
};

// A headless window for the renderer.
inline uint32_t MakeWindow(int32_t width = 256, int32_t height = 144) {
    wnd::ResetWindowLayer();
    return wnd::CreateWindow({"EngineTest", "", wnd::kStylePopup, 0, 0, 0, width, height});
}

}  // namespace enginetest
