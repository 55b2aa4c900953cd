// test-sources: ContainerBuilder.cpp
// test-link: z
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "platform/os/File.h"

using namespace testfs;
namespace stdfs = std::filesystem;

namespace {

std::string Compose(const char* name, const char* extension, const char* directory) {
    char buffer[260];
    if (!FileSystem::ComposePath(buffer, sizeof buffer, name, extension, directory)) return "<fail>";
    return buffer;
}

TEST(ComposePath, StripsSeparatorsAndDotsAndRefusesOverlongPaths) {
    EXPECT_EQ(Compose("a/b", "bin", "common/"), "common/a/b.bin");
    EXPECT_EQ(Compose("./x", nullptr, nullptr), "/x");  // only dots are skipped without a folder
    EXPECT_EQ(Compose("\\.\\x\\", "", "dir\\sub\\.\\"), "dir/sub/x");
    EXPECT_EQ(Compose("x", "\\", "d"), "d/x");  // an extension of separators only is ignored
    EXPECT_EQ(Compose("x", "..tga", "d"), "d/x...tga");
    EXPECT_EQ(Compose(nullptr, nullptr, "a\\b/"), "a/b");
    EXPECT_EQ(Compose("...", nullptr, "d"), "d");
    EXPECT_EQ(Compose(std::string(259, 'a').c_str(), nullptr, nullptr), std::string(259, 'a'));
    EXPECT_EQ(Compose(std::string(259, 'a').c_str(), "x", nullptr), "<fail>");
    EXPECT_EQ(Compose(std::string(200, 'b').c_str(), nullptr, std::string(59, 'c').c_str()), "<fail>");
    char tiny[4];
    EXPECT_FALSE(FileSystem::ComposePath(tiny, sizeof tiny, "abcd", nullptr, nullptr));
    EXPECT_EQ(tiny[0], 0);
}

// Copies need room for the NUL; names compare folding A..Z only.
TEST(FsUtil, BoundedCopiesAndCaseFolding) {
    const struct {
        size_t size;
        const char* text;
        bool fits;
    } copies[] = {{4, "abc", true}, {3, "abc", false}, {1, "", true}, {1, nullptr, true}, {0, "", false}};
    for (const auto& c : copies) {
        char out[8] = "xxxxxxx";
        EXPECT_EQ(fs::CopyBounded(out, c.size, c.text), c.fits) << c.size;
        EXPECT_STREQ(out, c.size && c.fits && c.text ? c.text : c.size ? "" : "xxxxxxx") << c.size;
    }
    EXPECT_EQ(fs::CompareNoCase("Zeta@", "zETA@"), 0);
    EXPECT_LT(fs::CompareNoCase("[", "{"), 0);  // the characters beside the letters stay
    EXPECT_LT(fs::CompareNoCase("ab", "abc"), 0);
    EXPECT_GT(fs::CompareNoCase("abd", "ABC"), 0);
}

struct FileSystemFixture : ::testing::Test {
    TempDir dir;
    CaptureLogSink sink;
    void SetUp() override {
        sink.Attach();
        setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
    }
    void TearDown() override {
        gFileSystem.UnmountAll();
        sink.Detach();
    }
    void Touch(const std::string& relative, const std::string& text = "x") {
        stdfs::create_directories(stdfs::path(dir / relative).parent_path());
        WriteWholeFile(dir / relative, std::vector<uint8_t>(text.begin(), text.end()));
    }
};

TEST_F(FileSystemFixture, AbsolutePathsAreOnlyThePlatformFoldersAndDoubleSlashOrDrivePaths) {
    EXPECT_TRUE(FileSystem::IsAbsolutePath((dir / "x").c_str()));  // under the user data folder
    for (const char* path : {"//server/x", "C:/x"}) EXPECT_TRUE(FileSystem::IsAbsolutePath(path)) << path;
    for (const char* path : {"/x", "/etc/passwd", "common/x"}) EXPECT_FALSE(FileSystem::IsAbsolutePath(path)) << path;
    EXPECT_FALSE(FileSystem::IsAbsolutePath((dir.Path() + "x").c_str()));  // a sibling sharing the prefix

    Touch("abs.txt", "abs");
    EXPECT_TRUE(FileReader((dir / "abs.txt").c_str(), nullptr, nullptr, 0).IsOpen());
    // A composed "/x" is a mount path with an empty mount name, never the machine's root.
    EXPECT_FALSE(gFileSystem.FileExists("./etc/passwd", nullptr, nullptr));
}

TEST_F(FileSystemFixture, MountNamesCompareWithoutCaseAndUnknownMountsGiveNullSilently) {
    Touch("data/file.txt");
    ASSERT_TRUE(gFileSystem.MountDirectory("Common", (dir / "data").c_str()));
    EXPECT_TRUE(sink.Contains("Mounting directory"));
    EXPECT_FALSE(gFileSystem.MountDirectory("COMMON", dir.Path().c_str()));
    EXPECT_TRUE(sink.Contains("Mount point COMMON already mounted"));
    EXPECT_FALSE(gFileSystem.MountDirectory("other", (dir / "missing").c_str()));
    EXPECT_TRUE(sink.Contains("Unable to mount directory"));
    for (const char* bad : {"", "a/b", "a\\b"}) EXPECT_FALSE(gFileSystem.MountDirectory(bad, dir.Path().c_str())) << bad;

    ASSERT_TRUE(gFileSystem.MountDirectory("b", dir.Path().c_str()));
    ASSERT_TRUE(gFileSystem.MountDirectory("a", dir.Path().c_str()));
    EXPECT_TRUE(gFileSystem.FileExists("file", "txt", "cOmMoN"));
    EXPECT_TRUE(gFileSystem.FileExists("B/data/file.txt", nullptr, nullptr));
    sink.Clear();
    EXPECT_EQ(gFileSystem.OpenInputStream("nowhere/file.txt", nullptr, nullptr, 0), nullptr);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(FileSystemFixture, FolderMountsResolveEveryComponentWithoutCase) {
    Touch("root/Common/Fonts/Arial.BinFont", "font");
    Touch("root/Templates/TemplateInfo.Bin", "info");
    ASSERT_TRUE(gFileSystem.MountDirectory("common", (dir / "root").c_str()));
    for (int pass = 0; pass < 2; ++pass) {  // the second pass goes through the cache
        FileReader a("common/COMMON\\fonts/arial.binfont", nullptr, nullptr, 0);
        ASSERT_TRUE(a.IsOpen());
        EXPECT_EQ(a.GetSize(), 4u);
        EXPECT_TRUE(gFileSystem.FileExists("templates/templateinfo", "bin", "common"));
    }
    // The cache notices a folder that was renamed behind its back.
    stdfs::rename(dir / "root/Common", dir / "root/COMMONX");
    EXPECT_FALSE(gFileSystem.FileExists("common/common/fonts/arial.binfont", nullptr, nullptr));
    EXPECT_TRUE(gFileSystem.FileExists("common/commonx/fonts/arial.binfont", nullptr, nullptr));

    // New files go to the existing folder or file of another case, never to a sibling.
    FileWriter w("common/TEMPLATES/templateinfo.bin", nullptr, nullptr, 0);
    ASSERT_TRUE(w.Write("new!", 4));
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(ReadWholeFile(dir / "root/Templates/TemplateInfo.Bin"), std::vector<uint8_t>({'n', 'e', 'w', '!'}));
    char physical[512];
    ASSERT_TRUE(gFileSystem.GetPhysicalPath("templates/New.txt", nullptr, "common", physical, sizeof physical));
    EXPECT_EQ(std::string(physical), dir / "root/Templates/New.txt");
    char small[8];
    EXPECT_FALSE(gFileSystem.GetPhysicalPath("templates/New.txt", nullptr, "common", small, sizeof small));
}

TEST_F(FileSystemFixture, DirectoriesNeverOpenAsFiles) {
    stdfs::create_directories(dir / "m/sub.bin");
    ASSERT_TRUE(gFileSystem.MountDirectory("m", (dir / "m").c_str()));
    EXPECT_FALSE(gFileSystem.FileExists("m/sub.bin", nullptr, nullptr));
    for (uint32_t flags : {0u, uint32_t(FILE_OPEN_WHOLE_FILE_CRC)}) EXPECT_EQ(gFileSystem.OpenInputStream("m/sub.bin", nullptr, nullptr, flags), nullptr);
    EXPECT_EQ(gFileSystem.OpenInputStream((dir / "m/sub.bin").c_str(), nullptr, nullptr, 0), nullptr);
    EXPECT_FALSE(gFileSystem.FileExists((dir / "m").c_str(), nullptr, nullptr));
    EXPECT_EQ(gFileSystem.OpenOutputStream("m/sub.bin", nullptr, nullptr, 0), nullptr);
}

TEST_F(FileSystemFixture, IteratorsListMatchingEntries) {
    for (const char* name : {"t/a.template", "t/B.TEMPLATE", "t/c.txt", "t/noext"}) Touch(name);
    stdfs::create_directories(dir / "t/folder");
    ASSERT_TRUE(gFileSystem.MountDirectory("templates", (dir / "t").c_str()));
    auto list = [](const char* path, const char* pattern) {
        std::set<std::string> names;
        FileSystemDirectoryIterator it(path, pattern);
        char name[256];
        while (it.GetName()) {
            const bool isDir = it.IsDirectory();
            EXPECT_TRUE(it.Step(name, sizeof name));
            names.insert(std::string(name) + (isDir ? "/" : ""));
        }
        return names;
    };
    EXPECT_EQ(list("TEMPLATES", "*.template"), (std::set<std::string>{"a.template", "B.TEMPLATE"}));
    EXPECT_EQ(list("templates", "*"), (std::set<std::string>{"./", "../", "a.template", "B.TEMPLATE", "c.txt", "noext", "folder/"}));
    EXPECT_EQ(list((dir / "t").c_str(), "?.txt"), (std::set<std::string>{"c.txt"}));
    EXPECT_TRUE(list(nullptr, "*").empty());
    EXPECT_TRUE(list("unknown", "*").empty());
}

TEST_F(FileSystemFixture, CreateAndDeleteDirectories) {
    ASSERT_TRUE(gFileSystem.MountDirectory("user", dir.Path().c_str()));
    EXPECT_TRUE(gFileSystem.CreateDirectory("a/b/c", "user"));
    EXPECT_FALSE(gFileSystem.CreateDirectory("a/b/c", "user"));  // nothing new
    EXPECT_TRUE(gFileSystem.CreateDirectory("A/B/d", "user"));   // existing parts found without case
    EXPECT_TRUE(gFileSystem.CreateDirectory("long/name", "user"));
    EXPECT_FALSE(stdfs::exists(dir / "l") || stdfs::exists(dir / "long/n"));  // only whole components
    EXPECT_TRUE(os::IsDirectory((dir / "a/b/d").c_str()));
    Touch("file");
    EXPECT_FALSE(gFileSystem.CreateDirectory("file/x", "user"));

    Touch("a/b/c/ro.txt");
    Touch("a/top.txt");
    os::SetReadOnly((dir / "a/b/c/ro.txt").c_str(), true);
    EXPECT_FALSE(gFileSystem.Delete("a", nullptr, "user", false));
    EXPECT_TRUE(stdfs::exists(dir / "a/top.txt"));
    EXPECT_TRUE(gFileSystem.Delete("a", nullptr, "user", true));
    EXPECT_FALSE(stdfs::exists(dir / "a"));
    EXPECT_FALSE(gFileSystem.Delete("a", nullptr, "user", true));
    EXPECT_TRUE(gFileSystem.Delete("file", nullptr, "user", false));
    EXPECT_FALSE(stdfs::exists(dir / "file"));

    // Links inside a deleted tree go themselves; what they point to stays, attributes too.
    Touch("outside/keep.txt", "keep");
    os::SetReadOnly((dir / "outside/keep.txt").c_str(), true);
    stdfs::create_directories(dir / "tree/sub");
    stdfs::create_directory_symlink(dir / "outside", dir / "tree/sub/dirlink");
    stdfs::create_symlink(dir / "outside/keep.txt", dir / "tree/filelink");
    stdfs::create_directory_symlink(dir / "outside", dir / "toplink");
    EXPECT_TRUE(gFileSystem.Delete("tree", nullptr, "user", true));
    EXPECT_FALSE(stdfs::exists(dir / "tree"));
    EXPECT_FALSE(gFileSystem.Delete("toplink", nullptr, "user", false));
    EXPECT_TRUE(gFileSystem.Delete("toplink", nullptr, "user", true));
    EXPECT_FALSE(stdfs::is_symlink(dir / "toplink"));
    EXPECT_EQ(ReadWholeFile(dir / "outside/keep.txt"), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(os::IsReadOnly((dir / "outside/keep.txt").c_str()));
    os::SetReadOnly((dir / "outside/keep.txt").c_str(), false);
}

}  // namespace
