// Arbitrary bytes as "OptimalSettings.cfg" in a mounted "locals" folder, read by the
// engine's start-up piece: the file is always consumed, the quality level stays within
// its range and the render scale stays a finite number.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "ProgramStaticInit.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "engine/VornexEngine.h"

namespace {

std::string gFolder;

void AddText(void (*add)(const uint8_t*, size_t), const char* text) {
    add(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (const char* text : {"0\n0.5\n", "1\n", "9\n2.5", "-5\n0\n", "3\r\n0.75\r\n", "2147483648\n1e40\n",
                             "+4 trailing\n-0.25 x\n"})
        AddText(add, text);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    char pattern[] = "/tmp/optimal_settings_fuzz_XXXXXX";
    gFolder = mkdtemp(pattern);
    gFileSystem.MountDirectory("locals", gFolder.c_str());
    gFileSystem.MountDirectory("project", gFolder.c_str());
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    gVornexEngine.SetConfiguration(gGameConfig);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gFolder + "/OptimalSettings.cfg";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    gVornexEngine.ReadOptimalSettings();
    const RendererConfigContainer& r = gGameConfig->rendererConfig;
    if (std::filesystem::exists(path)) __builtin_trap();
    if (r.gfxQualityLevel > 4 || !std::isfinite(r.semiResolutionScreenScale) || r.semiResolutionScreenScale == 0.0f)
        __builtin_trap();
    return 0;
}
