// sampledata: writes the project configuration of the sample data, "Project.ConfigBin",
// into a folder (the staging folder of the "common" data kind) through the engine's own
// property writer. The start scene is "Sample"; every other value keeps its default.
//
//   sampledata <folder>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/StaticInit.h"
#include "core/config/CoreStaticInit.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/RTTIProperty.h"

namespace {

constexpr const char* kSampleScene = "Sample";

bool WriteProjectConfig(const char* folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !gFileSystem.MountDirectory(kProjectConfigDirectory, folder)) {
        std::fprintf(stderr, "sampledata: cannot use the folder %s\n", folder);
        return false;
    }
    ProjectConfig config;
    const RTTIProperty* scene = ProjectConfig::RegisterClass()->FindProperty("Default scene");
    bool ok = scene && scene->FromString(&config, kSampleScene) &&
              config.SaveToFile(kProjectConfigFileName, kProjectConfigFileExtension, kProjectConfigDirectory, 0);
    if (!ok) std::fprintf(stderr, "sampledata: cannot write %s.%s in %s\n", kProjectConfigFileName, kProjectConfigFileExtension, folder);
    gFileSystem.UnmountAll();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sampledata <folder>\n");
        return 2;
    }
    const StaticInitTable* tables[] = {&kCoreStaticInit};
    RunStaticInit(tables, 1);
    const bool ok = WriteProjectConfig(argv[1]);
    RunStaticShutdown();
    return ok ? 0 : 1;
}
