#pragma once
// Test helper: a fresh temporary folder mounted in gFileSystem under a mount name,
// removed and unmounted afterwards (every mount is dropped then).

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/fs/FileSystem.h"

class ConfigFolder {
public:
    explicit ConfigFolder(const char* mountName) {
        static int serial = 0;
        path = std::filesystem::temp_directory_path() /
               ("configtest_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                std::to_string(serial++));
        std::filesystem::create_directories(path);
        mounted = gFileSystem.MountDirectory(mountName, path.string().c_str());
    }
    ~ConfigFolder() {
        gFileSystem.UnmountAll();
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    bool Mounted() const { return mounted; }
    std::filesystem::path File(const char* name) const { return path / name; }
    std::vector<uint8_t> Read(const char* name) const {
        std::ifstream in(File(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const char* name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(File(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

private:
    std::filesystem::path path;
    bool mounted = false;
};
