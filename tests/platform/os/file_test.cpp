// Files, folders, wildcards, aligned blocks and shared libraries of the platform layer.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>

#include "platform/os/File.h"
#include "platform/os/Memory.h"
#include "platform/os/Paths.h"
#include "platform/os/SharedLibrary.h"

namespace stdfs = std::filesystem;

namespace {

struct Temp {
    stdfs::path path = stdfs::temp_directory_path() / ("os_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                       "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Temp() { stdfs::create_directories(path); }
    ~Temp() { stdfs::remove_all(path); }
    std::string operator/(const char* n) const { return (path / n).string(); }
    void Write(const char* n, const char* text) const { std::ofstream(path / n) << text; }
};

TEST(Wildcard, HasTheOriginalPlatformsMeaning) {
    const std::string stem511(511, 'a'), stem512(512, 'a');
    const std::string long511 = stem511 + ".*", long512 = stem512 + ".*";
    struct Case { const char* pattern; const char* name; bool match; } cases[] = {
        {"*", "anything", true},     {"*.*", "noext", true},        {"*.*", "a.b", true},
        {"*.template", "X.TEMPLATE", true}, {"*.template", "x.templates", false}, {"a?c", "ABC", true},
        {"a?c", "ac", false},        {"?", "", false},              {"*.txt", "txt", false},
        {"a*b*c", "aXbYbZc", true},  {"a*b*c", "aXbYbZ", false},    {"data_*.dat", "DATA_001.dat", true},
        {"x.*", "x", true},          {"x.*", "x.y", true},          {"x.*", "y", false},
        {"x.*", "xy", false},        {"x.*", "x.", true},           {"X.*", "x", true},
        {"", "", true},              {"", "a", false},              {"a", "", false},
        {"**", "", true},            {"a*", "a", true},
        // Only ASCII letters fold: the characters beside 'A'..'Z' keep their case.
        {"@", "`", false},           {"[", "{", false},             {"AZ", "az", true},
        {"\xC3\x89", "\xC3\xA9", false},
        {long511.c_str(), stem511.c_str(), true}, {long512.c_str(), stem512.c_str(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(os::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
    EXPECT_FALSE(os::WildcardMatch(nullptr, "a") || os::WildcardMatch("*", nullptr));
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
    ASSERT_TRUE(os::SeekFile(f, -3, os::SeekOrigin::Current));
    EXPECT_EQ(os::TellFile(f), far - 2);
    EXPECT_FALSE(os::SeekFile(f, -1, os::SeekOrigin::Begin));
    EXPECT_TRUE(os::GetFileWriteTime(f) == os::GetPathWriteTime(p.c_str()) && os::GetFileWriteTime(f) != 0u);
    os::CloseFile(f);

    // Null handles fail without touching anything.
    EXPECT_FALSE(os::SeekFile(nullptr, 0, os::SeekOrigin::Begin) || os::FlushFileToDisk(nullptr));
    EXPECT_EQ(std::make_tuple(os::TellFile(nullptr), os::GetOpenFileSize(nullptr), os::GetFileWriteTime(nullptr)),
              std::make_tuple(int64_t(-1), int64_t(-1), uint64_t(0)));
    os::CloseFile(nullptr);
}

TEST(Files, OnlyRegularFilesOpen) {
    Temp t;
    t.Write("f", "x");
    ASSERT_EQ(std::system(("mkfifo " + t / "fifo").c_str()), 0);
    stdfs::create_symlink(t / "f", t / "link");
    struct Case { std::string path; const char* mode; bool opens; } cases[] = {
        {t / "f", "rb", true},     {t / "link", "rb", true},  {t / "f", "r+b", true},
        {t.path.string(), "rb", false},  // a folder never opens as a file
        {t.path.string(), "r+b", false}, {t.path.string(), "wb", false},
        {"/dev/null", "rb", false},  {"/dev/null", "wb", false},  // a device opens for writing, then is refused
        {t / "fifo", "rb", false},  // refused before the open, which would block
        {t / "missing", "rb", false}, {t / "new", "wb", true},   {"", "rb", false},
    };
    for (const Case& c : cases) {
        std::FILE* f = os::OpenFile(c.path.c_str(), c.mode);
        EXPECT_EQ(f != nullptr, c.opens) << c.path << " " << c.mode;
        os::CloseFile(f);
    }
    EXPECT_TRUE(os::OpenFile(nullptr, "rb") == nullptr && os::OpenFile((t / "f").c_str(), nullptr) == nullptr);
}

TEST(Files, KindsLinksFoldersAndRename) {
    Temp t;
    t.Write("f", "x");
    stdfs::create_directory(t.path / "d");
    stdfs::create_symlink(t / "f", t / "fileLink");
    stdfs::create_symlink(t / "d", t / "dirLink");
    stdfs::create_symlink(t / "gone", t / "danglingLink");
    struct Case { std::string path; os::PathKind kind; bool link; } cases[] = {
        {t / "f", os::PathKind::File, false},        {t / "d", os::PathKind::Directory, false},
        {t / "fileLink", os::PathKind::File, true},  {t / "dirLink", os::PathKind::Directory, true},
        {t / "danglingLink", os::PathKind::Missing, true}, {"/dev/null", os::PathKind::Other, false},
        {t / "none", os::PathKind::Missing, false},  {"", os::PathKind::Missing, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os::GetPathKind(c.path.c_str()), c.kind) << c.path;
        EXPECT_EQ(os::IsSymbolicLink(c.path.c_str()), c.link) << c.path;
    }
    EXPECT_TRUE(os::GetPathKind(nullptr) == os::PathKind::Missing && !os::IsSymbolicLink(nullptr));

    // A link is deleted itself, never its target; folders are never deleted as files.
    EXPECT_TRUE(os::DeleteFile((t / "dirLink").c_str()) && stdfs::is_directory(t.path / "d"));
    EXPECT_TRUE(os::DeleteFile((t / "danglingLink").c_str()));
    EXPECT_FALSE(os::DeleteFile((t / "d").c_str()) || os::DeleteFile((t / "none").c_str()));

    EXPECT_TRUE(os::MakeDirectory((t / "d/sub").c_str()));
    EXPECT_FALSE(os::MakeDirectory((t / "d/sub").c_str()) || os::MakeDirectory((t / "no/such/parent").c_str()));
    t.Write("d/sub/f", "x");
    EXPECT_FALSE(os::RemoveDirectory((t / "d/sub").c_str()));  // not empty
    EXPECT_TRUE(os::DeleteFile((t / "d/sub/f").c_str()) && os::RemoveDirectory((t / "d/sub").c_str()));
    EXPECT_FALSE(os::RemoveDirectory((t / "d/sub").c_str()));
    for (const char* bad : {"", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(os::MakeDirectory(bad) || os::RemoveDirectory(bad) || os::DeleteFile(bad));

    t.Write("a", "new");
    t.Write("b", "old");
    EXPECT_TRUE(os::RenameFile((t / "a").c_str(), (t / "b").c_str()));
    std::string text;
    std::ifstream(t.path / "b") >> text;
    EXPECT_TRUE(text == "new" && !stdfs::exists(t.path / "a"));
    EXPECT_FALSE(os::RenameFile((t / "a").c_str(), (t / "c").c_str()) || os::RenameFile(nullptr, (t / "c").c_str()) ||
                 os::RenameFile((t / "b").c_str(), nullptr));
}

TEST(Files, ReadOnlyIsTheOwnersWritePermission) {
    Temp t;
    t.Write("f", "x");
    const std::string f = t / "f";
    using P = stdfs::perms;
    stdfs::permissions(f, P::owner_read | P::owner_write | P::group_write | P::others_write | P::others_read);
    EXPECT_FALSE(os::IsReadOnly(f.c_str()));
    ASSERT_TRUE(os::SetReadOnly(f.c_str(), true) && os::IsReadOnly(f.c_str()));
    // Every write bit goes; the read bits stay.
    EXPECT_EQ(stdfs::status(f).permissions(), P::owner_read | P::others_read);
    ASSERT_TRUE(os::SetReadOnly(f.c_str(), false) && !os::IsReadOnly(f.c_str()));
    EXPECT_EQ(stdfs::status(f).permissions(), P::owner_read | P::owner_write | P::others_read);
    stdfs::permissions(f, P::owner_read | P::group_write);
    EXPECT_TRUE(os::IsReadOnly(f.c_str()));  // only the owner's bit counts

    const std::string none = t / "none";
    for (const char* bad : {none.c_str(), static_cast<const char*>(nullptr)})
        EXPECT_FALSE(os::SetReadOnly(bad, true) || os::IsReadOnly(bad));
}

TEST(Files, WriteTimesAreFileTimeUnits) {
    Temp t;
    t.Write("b", "x");
    const auto sys = std::chrono::file_clock::to_sys(stdfs::last_write_time(t.path / "b"));
    const uint64_t ft = os::kFileTimeUnixEpoch + std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count() / 100;
    EXPECT_EQ(os::GetPathWriteTime((t / "b").c_str()), ft);
    EXPECT_EQ(os::GetPathWriteTime((t / "none").c_str()) + os::GetPathWriteTime(nullptr), 0u);
    static_assert(os::UnixToFileTime(0, 0) == 116444736000000000ull);
    static_assert(os::UnixToFileTime(1, 199) == 116444736000000000ull + 10'000'000ull + 1);
}

TEST(Directories, ListMatchingEntriesWithTheirKinds) {
    Temp t;
    t.Write("a.txt", "x");
    t.Write("B.TXT", "x");
    t.Write("c.dat", "x");
    t.Write("noext", "x");
    stdfs::create_directory(t.path / "sub.txt");
    stdfs::create_symlink(t / "sub.txt", t / "dirLink.txt");
    stdfs::create_symlink(t / "a.txt", t / "fileLink.txt");
    auto list = [&](const char* dir, const char* pattern) {
        std::set<std::string> names;
        os::DirectoryIterator it;
        for (bool ok = it.Open(dir, pattern); ok; ok = it.Next()) {
            EXPECT_TRUE(it.Valid());
            names.insert(std::string(it.Name()) + (it.IsDirectory() ? "/" : ""));
        }
        EXPECT_FALSE(it.Valid());
        EXPECT_FALSE(it.Next());
        return names;
    };
    const std::string dir = t.path.string();
    EXPECT_EQ(list(dir.c_str(), "*.txt"),
              (std::set<std::string>{"a.txt", "B.TXT", "sub.txt/", "dirLink.txt/", "fileLink.txt"}));
    EXPECT_EQ(list(dir.c_str(), "*"), (std::set<std::string>{"./", "../", "a.txt", "B.TXT", "c.dat", "noext",
                                                             "sub.txt/", "dirLink.txt/", "fileLink.txt"}));
    EXPECT_EQ(list(dir.c_str(), "noext.*"), (std::set<std::string>{"noext"}));
    EXPECT_TRUE(list(dir.c_str(), "*.none").empty() && list((t / "missing").c_str(), "*").empty() && list(dir.c_str(), nullptr).empty());

    // Opening again releases the listing before: no handle is left behind.
    auto openHandles = [] { return std::distance(stdfs::directory_iterator("/proc/self/fd"), stdfs::directory_iterator{}); };
    os::DirectoryIterator it;
    const auto handles = openHandles();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(it.Open(dir.c_str(), "*"));
    EXPECT_LE(openHandles(), handles + 1);
    ASSERT_TRUE(it.Open(dir.c_str(), "c.dat"));
    EXPECT_STREQ(it.Name(), "c.dat");
    it.Close();
    EXPECT_FALSE(it.Valid() || it.Next());
    EXPECT_STREQ(it.Name(), "");
}

TEST(Folders, UserAndExecutableFolders) {
    char buffer[4096];
    // The folder is built in a 4096-byte path: a home of 4082 bytes fits with the suffix.
    const std::string fitHome = "/" + std::string(4081, 'h'), longHome = fitHome + "h";
    const std::string fitFolder = fitHome + "/.local/share";
    struct Case { const char* xdg; const char* home; const char* folder; } cases[] = {  // null: none
        {"/some/where/", "/home/t", "/some/where"},
        {"/", "/home/t", "/"},
        {"relative", "/home/tester", "/home/tester/.local/share"},  // not absolute: ignored
        {nullptr, "/home/tester//", "/home/tester/.local/share"},
        {nullptr, "/", "/.local/share"},
        {nullptr, "relative", nullptr},
        {nullptr, fitHome.c_str(), fitFolder.c_str()},
        {nullptr, longHome.c_str(), nullptr},  // the folder would not fit a path
        {nullptr, nullptr, nullptr},
    };
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        c.xdg ? setenv("XDG_DATA_HOME", c.xdg, 1) : unsetenv("XDG_DATA_HOME");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        std::strcpy(buffer, "stale");
        EXPECT_EQ(os::GetUserDataFolder(buffer, sizeof buffer), c.folder != nullptr) << (c.home ? c.home : "-");
        EXPECT_STREQ(buffer, c.folder ? c.folder : "");
    }
    setenv("HOME", savedHome.c_str(), 1);

    // The buffer must hold the folder and its NUL.
    const std::string exe = stdfs::read_symlink("/proc/self/exe").parent_path().string();
    ASSERT_TRUE(os::GetExecutableFolder(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), exe);
    EXPECT_TRUE(os::GetExecutableFolder(buffer, exe.size() + 1));
    std::strcpy(buffer, "stale");
    EXPECT_FALSE(os::GetExecutableFolder(buffer, exe.size()) || os::GetExecutableFolder(nullptr, 0));
    EXPECT_EQ(buffer[0], 0);
}

TEST(Memory, AlignedBlocksHonourPowersOfTwo) {
    struct Case { size_t size, alignment; bool ok; } cases[] = {
        {100, 16, true}, {0, 16, true},  {1, sizeof(void*), true}, {64, 4096, true},
        {8, 4, false},   {8, 24, false}, {8, 0, false},
    };
    for (const Case& c : cases) {
        void* p = os::AlignedAlloc(c.size, c.alignment);
        EXPECT_EQ(p != nullptr, c.ok) << c.size << " " << c.alignment;
        if (p) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % c.alignment, 0u);
            std::memset(p, 0xAB, c.size);
        }
        os::AlignedFree(p);
    }
}

TEST(SharedLibraries, OpenFindAndClose) {
    void* lib = os::OpenSharedLibrary("libm.so.6");
    ASSERT_NE(lib, nullptr);
    auto* cosine = reinterpret_cast<double (*)(double)>(os::FindSharedSymbol(lib, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_TRUE(!os::FindSharedSymbol(lib, "no_such_symbol_here") && !os::FindSharedSymbol(lib, nullptr) &&
                !os::FindSharedSymbol(nullptr, "cos"));
    os::CloseSharedLibrary(lib);
    EXPECT_TRUE(!os::OpenSharedLibrary("libno_such_library.so") && !os::OpenSharedLibrary(nullptr));
    os::CloseSharedLibrary(nullptr);
}

}  // namespace
