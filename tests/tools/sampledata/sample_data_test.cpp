// The packer and the sample data set it makes: container sets read back through the real
// file system byte for byte (stored and zlib entries, read-ahead and direct reads, empty
// files, any case), folders the index could not serve refused with the old set kept, and
// every data kind of the sample data mounted as the engine mounts it, with the project
// configuration loading from it.
// test-link: core z
// test-depends: pack sample_data
// test-sources: ../../core/fs/ContainerBuilder.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/fs/ContainerBuilder.h"
#include "core/rtti/RTTIProperty.h"

namespace {

namespace stdfs = std::filesystem;
using testfs::MakeContent;
using testfs::ReadWholeFile;
using testfs::TempDir;
using testfs::WriteWholeFile;

constexpr uint32_t kEngineMultiplier = 0x5BD1E995;
const std::string kApp = PROJECT_BINARY_ROOT "/app";
const std::string kStage = PROJECT_BINARY_ROOT "/sample_data";

int Pack(const std::string& folder, const std::string& dat) {
    const std::string command = PROJECT_BINARY_ROOT "/tools/pack '" + folder + "' '" + dat + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Relative paths of the regular files below root.
std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& e : stdfs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.push_back(e.path().lexically_relative(root).generic_string());
    return out;
}

struct PackTest : ::testing::Test {
    void SetUp() override {
        log.Attach();
        ASSERT_TRUE(reader.Start());
        fsys = std::make_unique<FileSystem>(&reader);
    }
    void TearDown() override {
        fsys.reset();
        reader.Stop();
        log.Detach();
    }
    // The whole file through the mount; {0xEE} when it cannot be opened or read.
    std::vector<uint8_t> ReadAll(const std::string& name) {
        std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream(name.c_str(), nullptr, nullptr, 0));
        if (!s) return {0xEE};
        std::vector<uint8_t> out(s->GetSize());
        if (!out.empty() && !s->Read(out.data(), static_cast<uint32_t>(out.size()))) return {0xEE};
        return out;
    }
    // Entries of a set's index with the compressed flag set, and all entries.
    static std::pair<uint32_t, uint32_t> Flags(const std::string& dat) {
        ContainerIndex index;
        if (!index.Load((dat.substr(0, dat.size() - 3) + "idx").c_str())) return {~0u, ~0u};
        uint32_t compressed = 0;
        for (uint32_t i = 0; i < index.Count(); ++i) compressed += index.Entries()[i].compressed != 0;
        EXPECT_EQ(index.Compression(), CONTAINER_COMPRESSION_ZLIB);
        return {compressed, index.Count()};
    }

    CaptureLogSink log;
    PhysicalFileReader reader;
    std::unique_ptr<FileSystem> fsys;
};

TEST_F(PackTest, FilesReadBackByteExactStoredAndCompressed) {
    TempDir dir;
    const struct {
        const char* path;
        std::vector<uint8_t> data;
    } files[] = {
        {"Readme.TXT", MakeContent(100000, 1)},  // the one coded entry, across the read-ahead buffers
        {"Noise/Random.bin", {}},                // incompressible: stored, read directly
        {"deep/er/Small.dat", MakeContent(500, 2)},  // compressible, but too small to be worth it
        {"empty.bin", {}},
    };
    std::vector<uint8_t> noise(70000);
    uint32_t state = 99;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    for (const auto& f : files) {
        const std::string path = dir / ("stage/" + std::string(f.path));
        stdfs::create_directories(stdfs::path(path).parent_path());
        ASSERT_TRUE(WriteWholeFile(path, f.path == std::string("Noise/Random.bin") ? noise : f.data));
    }
    ASSERT_EQ(Pack(dir / "stage", dir / "set.dat"), 0);
    EXPECT_EQ(Flags(dir / "set.dat"), std::make_pair(1u, 4u));
    ASSERT_TRUE(fsys->MountContainer("pk", (dir / "set.dat").c_str(), 3, kEngineMultiplier, 1));
    for (const auto& f : files) {
        const std::vector<uint8_t>& expected = f.path == std::string("Noise/Random.bin") ? noise : f.data;
        EXPECT_EQ(ReadAll("pk/" + std::string(f.path)), expected) << f.path;
        std::string upper = "PK/" + std::string(f.path);
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_TRUE(fsys->FileExists(upper.c_str(), nullptr, nullptr)) << upper;
    }
    EXPECT_FALSE(fsys->FileExists("pk/deep/er", nullptr, nullptr));
}

TEST_F(PackTest, FoldersTheIndexCannotServeAreRefusedKeepingTheOldSet) {
    TempDir dir;
    stdfs::create_directories(dir / "old");
    ASSERT_TRUE(WriteWholeFile(dir / "old/kept.txt", MakeContent(500, 3)));
    ASSERT_EQ(Pack(dir / "old", dir / "set.dat"), 0);
    const std::vector<uint8_t> oldDat = ReadWholeFile(dir / "set.dat"), oldIdx = ReadWholeFile(dir / "set.idx");

    std::string longPath = "long";
    for (int i = 0; i < 9; ++i) longPath += "/" + std::string(240, char('a' + i));
    const struct {
        const char* name;
        std::vector<std::string> files;  // below the folder "<name>"
        std::string target;
        int status;
    } cases[] = {
        {"same_but_case", {"Tower.txt", "tower.TXT"}, "set.dat", 1},
        {"longer_than_hashed", {longPath.substr(5) + "/x"}, "set.dat", 1},
        {"not_a_dat", {"a.txt"}, "set.bin", 1},
        {"missing", {}, "set.dat", 1},
    };
    for (const auto& c : cases) {
        for (const std::string& f : c.files) {
            const stdfs::path p = stdfs::path(dir / c.name) / f;
            stdfs::create_directories(p.parent_path());
            ASSERT_TRUE(WriteWholeFile(p.string(), {1, 2, 3})) << c.name;
        }
        EXPECT_EQ(Pack(dir / c.name, dir / c.target), c.status) << c.name;
        EXPECT_EQ(ReadWholeFile(dir / "set.dat"), oldDat) << c.name;
        EXPECT_EQ(ReadWholeFile(dir / "set.idx"), oldIdx) << c.name;
        EXPECT_FALSE(stdfs::exists(dir / "set.dat.tmp") || stdfs::exists(dir / "set.idx.tmp")) << c.name;
    }
    EXPECT_EQ(Pack(dir / "old", ""), 1);
    EXPECT_EQ(std::system(PROJECT_BINARY_ROOT "/tools/pack 2>/dev/null") >> 8, 2);
}

// Every data kind as the engine mounts it (kind index, multiplier, one extra file that
// does not exist): each staged file reads back byte for byte, and nothing else is there.
TEST_F(PackTest, SampleDataMountsEveryKind) {
    const struct {
        const char* kind;
        uint32_t index;
        std::vector<std::string> required;
    } kinds[] = {
        {"animations", 0, {}},
        {"common", 1, {"Project.ConfigBin", "Shaders/Shaders.DefBin", "Shaders/Light.hlsl", "Shaders/Globals.hlsli"}},
        {"scenes", 2, {"Sample.BinaryScene", "Sample.ResList"}},
        {"sounds", 3, {}},
        {"templates", 4, {"TemplateInfo.Bin", "Sample/Crate.BinaryTemplate"}},
        {"voices", 5, {}},
        {"videos", 6, {}},
        {"textures", 7, {"System/White_4x4$cxy.dds", "System/RefractionNoise.dds"}},
    };
    uint32_t compressed = 0, entries = 0;
    for (const auto& k : kinds) {
        const std::string dat = kApp + "/" + k.kind + ".dat";
        ASSERT_TRUE(fsys->MountContainer(k.kind, dat.c_str(), k.index, kEngineMultiplier, 1)) << k.kind;
        const std::vector<std::string> staged = FilesBelow(kStage + "/" + k.kind);
        const auto [packedCompressed, packed] = Flags(dat);
        EXPECT_EQ(packed, staged.size()) << k.kind;
        EXPECT_EQ(staged.empty(), k.required.empty()) << k.kind;
        compressed += packedCompressed;
        entries += packed;
        for (const std::string& r : k.required)
            EXPECT_NE(std::find(staged.begin(), staged.end(), r), staged.end()) << k.kind << "/" << r;
        for (const std::string& f : staged)
            EXPECT_EQ(ReadAll(std::string(k.kind) + "/" + f), ReadWholeFile(kStage + "/" + k.kind + "/" + f)) << f;
    }
    EXPECT_GT(compressed, 0u);
    EXPECT_LT(compressed, entries);
    EXPECT_EQ(ReadWholeFile(kApp + "/online_schema.txt"), ReadWholeFile(PROJECT_SOURCE_ROOT "/platform/online/online_schema.txt"));
}

// "Project.ConfigBin" from the common set: the start scene is "Sample", everything else
// is at its default.
TEST_F(PackTest, ProjectConfigurationLoadsFromTheCommonSet) {
    ASSERT_TRUE(gFileSystem.MountContainer("common", (kApp + "/common.dat").c_str(), 1, kEngineMultiplier, 1));
    ProjectConfig loaded;
    const bool ok = loaded.Load();
    gFileSystem.UnmountAll();
    ASSERT_TRUE(ok);
    ASSERT_NE(loaded.defaultScene, nullptr);
    EXPECT_STREQ(loaded.defaultScene, "Sample");
    ProjectConfig expected;
    ASSERT_TRUE(ProjectConfig::RegisterClass()->FindProperty("Default scene")->FromString(&expected, "Sample"));
    EXPECT_TRUE(ProjectConfig::RegisterClass()->PropertiesEqual(&expected, &loaded));
}

}  // namespace
