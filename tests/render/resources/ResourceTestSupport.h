#pragma once
// Shared fixture of the resource tests: the renderer started on a recording device, a
// scratch data folder whose sub-folders are mounted as the data kinds, and the
// ResourceManager started on them (stopped first in TearDown); file helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../RenderTestSupport.h"
#include "core/fs/FileSystem.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"

namespace resourcetest {

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A 4x4 A8R8G8B8 DDS, one level, every texel `value`.
inline std::vector<uint8_t> SmallDds(uint32_t value) {
    std::vector<uint8_t> b(128 + 64, 0);
    const uint32_t header[] = {0x20534444, 124, 0x100F, 4, 4, 16, 0, 1};
    const uint32_t format[] = {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0x1000};
    std::memcpy(b.data(), header, sizeof header);
    std::memcpy(b.data() + 76, format, sizeof format);
    for (int i = 0; i < 16; ++i) std::memcpy(b.data() + 128 + 4 * i, &value, 4);
    return b;
}

// The first texel of a loaded texture's top level (read on the render thread); 0 without one.
inline uint32_t FirstTexel(ResourceTexture* t) {
    uint32_t value = 0;
    rendertest::RunOnRenderThread([&] {
        gfx::LockedRect locked{};
        gfx::Texture* texture = t->Handle() ? t->Handle()->Texture2D() : nullptr;
        if (texture && gfx::Succeeded(texture->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY))) {
            std::memcpy(&value, locked.bits, 4);
            texture->UnlockRect(0);
        }
    });
    return value;
}

struct ResourceFixture : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        char pattern[] = "/tmp/resource_test_XXXXXX";
        root = mkdtemp(pattern);
        for (const char* kind : {"textures", "scenes", "sounds", "animations", "common"}) {
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
