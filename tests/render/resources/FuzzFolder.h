#pragma once
// A scratch folder for a resource fuzz target, mounted under a data kind's name on
// first use and removed at exit; inputs are written into it as files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/fs/FileSystem.h"

namespace resourcefuzz {

inline const std::string& MountedFolder(const char* kind) {
    static const std::string folder = [kind] {
        char pattern[] = "/tmp/resource_fuzz_XXXXXX";
        std::string f = mkdtemp(pattern);
        gFileSystem.MountDirectory(kind, f.c_str());
        static std::string removed = f;
        std::atexit([] { std::filesystem::remove_all(removed); });
        return f;
    }();
    return folder;
}

inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

}  // namespace resourcefuzz
