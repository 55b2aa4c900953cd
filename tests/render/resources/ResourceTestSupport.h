#pragma once
// Shared fixture of the resource tests: the renderer started on a recording device, a
// scratch data folder whose sub-folders are mounted as the data kinds, and the
// ResourceManager started on them (stopped first in TearDown). Helpers write files,
// run the external tools and the fixture script, and wait with time-outs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../RenderTestSupport.h"
#include "core/fs/FileSystem.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"

namespace resourcetest {

inline const char* const kDataKinds[] = {"textures", "scenes", "sounds", "animations", "common"};

// Runs a shell command; true on exit status 0.
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string ShellOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[1024];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

inline std::string Fixture(const std::string& arguments) {
    return "python3 " PROJECT_SOURCE_ROOT "/tests/render/resources/resource_fixtures.py " + arguments;
}

// "codec,..." of the first stream as ffprobe reports it.
inline std::string Probe(const std::string& path, const std::string& entries) {
    return ShellOutput("ffprobe -v error -select_streams 0 -show_entries stream=" + entries + " -of csv=p=0 '" + path +
                       "'");
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

struct ResourceFixture : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        char pattern[] = "/tmp/resource_test_XXXXXX";
        root = mkdtemp(pattern);
        for (const char* kind : kDataKinds) {
            std::filesystem::create_directories(root + "/" + kind);
            gFileSystem.MountDirectory(kind, (root + "/" + kind).c_str());
        }
        ASSERT_TRUE(gResourceManager.Start());
    }

    void TearDown() override {
        gResourceManager.Stop();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
        RendererFixture::TearDown();
    }

    std::string Path(const std::string& kind, const std::string& name) const { return root + "/" + kind + "/" + name; }

    Resource* Get(uint32_t type, const char* name, uint32_t flags = 0) {
        return gResourceManager.GetResource(type, name, 0, true, flags);
    }

    std::string root;
};

}  // namespace resourcetest
