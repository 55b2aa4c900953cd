// Files and folders of the platform layer: wildcard meaning, large offsets, kinds,
// folders and the platform's own folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/os/File.h"
#include "platform/os/Paths.h"

namespace stdfs = std::filesystem;

namespace {

struct Temp {
    stdfs::path path = stdfs::temp_directory_path() / ("os_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                       "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Temp() { stdfs::create_directories(path); }
    ~Temp() { stdfs::remove_all(path); }
    std::string operator/(const char* n) const { return (path / n).string(); }
};

TEST(Wildcard, HasTheOriginalPlatformsMeaning) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*", "anything", true},     {"*.*", "noext", true},        {"*.*", "a.b", true},
        {"*.template", "X.TEMPLATE", true}, {"*.template", "x.templates", false}, {"a?c", "ABC", true},
        {"a?c", "ac", false},        {"*.txt", "txt", false},       {"a*b*c", "aXbYbZc", true},
        {"data_*.dat", "DATA_001.dat", true}, {"x.*", "x", true},  {"", "", true},
        {"", "a", false},
    };
    for (const Case& c : cases) EXPECT_EQ(os::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(Files, OffsetsPastTwoGigabytesSeekAndTell) {
    Temp t;
    const std::string p = t / "sparse.bin";
    std::FILE* f = os::OpenFile(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const int64_t far = (int64_t(3) << 30) + 5;
    ASSERT_TRUE(os::SeekFile(f, far, os::SeekOrigin::Begin));
    ASSERT_EQ(std::fputc('Z', f), 'Z');
    EXPECT_EQ(os::TellFile(f), far + 1);
    ASSERT_TRUE(os::FlushFileToDisk(f));
    EXPECT_EQ(os::GetOpenFileSize(f), far + 1);
    os::CloseFile(f);
    f = os::OpenFile(p.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(os::SeekFile(f, -1, os::SeekOrigin::End));
    EXPECT_EQ(std::fgetc(f), 'Z');
    os::CloseFile(f);
}

TEST(Files, KindsFoldersRenameAndTimes) {
    Temp t;
    EXPECT_EQ(os::GetPathKind(t.path.c_str()), os::PathKind::Directory);
    EXPECT_EQ(os::GetPathKind((t / "none").c_str()), os::PathKind::Missing);
    EXPECT_EQ(os::OpenFile(t.path.c_str(), "rb"), nullptr);  // a folder never opens as a file
    EXPECT_EQ(os::OpenFile(t.path.c_str(), "r+b"), nullptr);
    EXPECT_EQ(os::OpenFile("/dev/null", "rb"), nullptr);

    EXPECT_TRUE(os::MakeDirectory((t / "d").c_str()));
    EXPECT_FALSE(os::MakeDirectory((t / "d").c_str()));
    std::ofstream((t / "d/f")) << "x";
    EXPECT_FALSE(os::RemoveDirectory((t / "d").c_str()));
    EXPECT_FALSE(os::DeleteFile((t / "d").c_str()));
    EXPECT_TRUE(os::DeleteFile((t / "d/f").c_str()));
    EXPECT_TRUE(os::RemoveDirectory((t / "d").c_str()));

    std::ofstream((t / "a")) << "new";
    std::ofstream((t / "b")) << "old";
    EXPECT_TRUE(os::RenameFile((t / "a").c_str(), (t / "b").c_str()));
    std::ifstream in(t / "b");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "new");

    const auto sys = std::chrono::file_clock::to_sys(stdfs::last_write_time(t / "b"));
    const uint64_t ft = os::kFileTimeUnixEpoch + std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count() / 100;
    EXPECT_EQ(os::GetPathWriteTime((t / "b").c_str()), ft);
    EXPECT_EQ(os::UnixToFileTime(0, 0), 116444736000000000ull);
    EXPECT_EQ(os::GetPathWriteTime((t / "none").c_str()), 0u);
}

TEST(Folders, UserAndExecutableFolders) {
    char buffer[4096];
    setenv("XDG_DATA_HOME", "/some/where/", 1);
    ASSERT_TRUE(os::GetUserDataFolder(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/some/where");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/tester", 1);
    ASSERT_TRUE(os::GetUserDataFolder(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/home/tester/.local/share");
    unsetenv("XDG_DATA_HOME");
    char tiny[8];
    EXPECT_FALSE(os::GetUserDataFolder(tiny, sizeof tiny));
    EXPECT_EQ(tiny[0], 0);

    ASSERT_TRUE(os::GetExecutableFolder(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), stdfs::read_symlink("/proc/self/exe").parent_path().string());
}

}  // namespace
