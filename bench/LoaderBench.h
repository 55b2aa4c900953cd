#pragma once
// Start-up and shutdown shared by the benchmarks that load through the ResourceManager:
// the program's start-up, a scratch data folder, the renderer on a small headless window
// and the loader thread.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "core/fs/FileSystem.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "tests/support/ProgramStaticInit.h"

namespace benchsupport {

// Makes the scratch folder "/tmp/<name>_XXXXXX" (into *folder), lets fill(folder) put
// the data there and mount it, then starts the renderer on a 320 x 180 window of class
// name and the ResourceManager. False when anything did not start.
template <class Fill>
bool StartLoader(const char* name, std::string* folder, Fill fill) {
    RunProgramStaticInit();
    std::string pattern = std::string("/tmp/") + name + "_XXXXXX";
    if (!mkdtemp(pattern.data())) return false;
    *folder = pattern;
    fill(*folder);
    return StartRenderer(name) && gResourceManager.Start();
}

// Nothing when StartLoader never made the folder (no benchmark of the run loaded): the
// program's start-up has not run then, and the manager does not exist.
inline void StopLoader(const std::string& folder) {
    if (folder.empty()) return;
    gResourceManager.Stop();
    gVornexRenderer.Stop();
    gFileSystem.UnmountAll();
    std::filesystem::remove_all(folder);
}

}  // namespace benchsupport
