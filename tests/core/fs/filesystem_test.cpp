// test-sources: ContainerBuilder.cpp
// test-link: z
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "UserFolderFixture.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "core/fs/WholeFile.h"
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


// Bit-at-a-time CRC-32 (0x04C11DB7, MSB first, init 0, no final XOR).
uint32_t BitwiseCrc(const std::vector<uint8_t>& data) {
    uint32_t crc = 0;
    for (uint8_t byte : data) {
        crc ^= uint32_t(byte) << 24;
        for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

std::vector<uint8_t> Fwsf(const std::vector<uint8_t>& body, uint32_t sizeWord, uint32_t crc) {
    std::vector<uint8_t> out = {'F', 'W', 'S', 'F'};
    for (uint32_t v : {sizeWord, crc})
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct StreamFixture : UserFolderFixture {
    std::vector<uint8_t> ReadAll(const char* name, uint32_t flags) {
        FileReader r(name, nullptr, "user", flags);
        if (!r.IsOpen()) return {0xDE, 0xAD};
        std::vector<uint8_t> out(r.GetSize());
        if (!out.empty()) {
            EXPECT_TRUE(r.Read(out.data(), static_cast<uint32_t>(out.size())));
        }
        return out;
    }
};

TEST_F(StreamFixture, CrcFilesFromAnIndependentWriterReadBackAndDamageIsCaught) {
    const std::vector<uint8_t> body = MakeContent(10000, 1);
    std::vector<uint8_t> damaged = Fwsf(body, 10000, BitwiseCrc(body));
    damaged.back() ^= 1;
    const struct {
        std::vector<uint8_t> file;
        bool opens;
        std::string message;  // empty: nothing logged
    } cases[] = {
        {Fwsf(body, 10000, BitwiseCrc(body)), true, ""},
        {damaged, false, "Crc check failed for " + (dir / "f.bin")},
        {body, false, ""},                                                     // no magic: fails silently
        {Fwsf(body, 0xFFFFFFF0u, BitwiseCrc(body)), false, "exceeds the file"},  // refused before allocating
        {{'F', 'W', 'S', 'F', 1, 0}, false, "Truncated"},
        {Fwsf({}, 0, 0), true, ""},  // an empty body is an open, empty stream (the writer makes such files)
    };
    for (const auto& c : cases) {
        sink.Clear();
        WriteWholeFile(dir / "f.bin", c.file);
        FileReader r("f.bin", nullptr, "user", FILE_OPEN_WHOLE_FILE_CRC);
        ASSERT_EQ(r.IsOpen(), c.opens) << c.file.size();
        if (c.opens) {
            EXPECT_EQ(ReadAll("f.bin", FILE_OPEN_WHOLE_FILE_CRC), c.file.size() > 12 ? body : std::vector<uint8_t>{});
        }
        EXPECT_TRUE(c.message.empty() ? sink.Messages().empty() : sink.Contains(c.message)) << c.message;
    }
}

TEST_F(StreamFixture, CrcWriterRoundTripsAndKeepsTheOldFileUntilTheNewOneIsComplete) {
    const std::vector<uint8_t> body = MakeContent(70000, 2);
    {
        FileWriter w("config", "bin", "user", FILE_OPEN_WHOLE_FILE_CRC);
        ASSERT_TRUE(w.IsOpen());
        for (size_t at = 0; at < body.size(); at += 1000)
            ASSERT_TRUE(w.Write(body.data() + at, static_cast<uint32_t>(std::min<size_t>(1000, body.size() - at))));
        EXPECT_FALSE(stdfs::exists(dir / "config.bin"));
        EXPECT_TRUE(w.Close());
    }
    EXPECT_EQ(ReadWholeFile(dir / "config.bin"), Fwsf(body, 70000, BitwiseCrc(body)));
    EXPECT_EQ(ReadAll("config.bin", FILE_OPEN_WHOLE_FILE_CRC), body);
    FileWriter("config", "bin", "user", FILE_OPEN_WHOLE_FILE_CRC);
    EXPECT_EQ(ReadAll("config.bin", FILE_OPEN_WHOLE_FILE_CRC), std::vector<uint8_t>{});
    for (const auto& e : stdfs::directory_iterator(dir.Path())) EXPECT_EQ(e.path().filename().string().find("tmp"), std::string::npos);

    // A write that lost its bytes fails the save, keeps the old file and ends the stream.
    for (uint32_t flags : {0u, uint32_t(FILE_OPEN_WHOLE_FILE_CRC)}) {
        {
            FileWriter w("keep", "bin", "user", flags);
            ASSERT_TRUE(w.Write(body.data(), 100));
            ASSERT_TRUE(w.Close());
        }
        const std::vector<uint8_t> before = ReadWholeFile(dir / "keep.bin");
        std::unique_ptr<FileSystemOutputStream> s(gFileSystem.OpenOutputStream("keep", "bin", "user", flags));
        ASSERT_NE(s, nullptr);
        ASSERT_TRUE(s->Write(body.data(), 10));
        EXPECT_TRUE(s->Write(nullptr, 0));
        EXPECT_FALSE(s->Write(nullptr, 10));
        EXPECT_FALSE(s->Write(body.data(), 10));
        EXPECT_FALSE(s->Close());
        EXPECT_FALSE(s->Write(body.data(), 10));
        EXPECT_EQ(ReadWholeFile(dir / "keep.bin"), before);
        if (!flags) continue;
        // Nor can a protected file outgrow its header's 32-bit size.
        s.reset(gFileSystem.OpenOutputStream("keep", "bin", "user", flags));
        ASSERT_TRUE(s->Write(body.data(), 10));
        EXPECT_FALSE(s->Write(body.data(), 0xFFFFFFF6u));
        EXPECT_FALSE(s->Close());
        EXPECT_EQ(ReadWholeFile(dir / "keep.bin"), before);
    }

    FileWriter lost("no/such/folder/x", "bin", "user", 0);
    EXPECT_FALSE(lost.IsOpen());
    EXPECT_FALSE(lost.Write("a", 1));
    EXPECT_FALSE(lost.Close());
}

TEST_F(StreamFixture, ReadLineKeepsTheCharacterAfterALoneCarriageReturn) {
    const struct {
        std::string text;
        std::vector<const char*> lines;  // null: ReadLine fails there
    } cases[] = {
        {"ab\r\ncd\n\nx\ry\n7\r", {"ab", "cd", nullptr, "x\ry", "7\r", nullptr}},
        {"3\r\n0.75", {"3", "0.75", nullptr}},
        {std::string(40, 'z'), {nullptr}},  // does not fit the 16-byte buffer
    };
    // Plain and protected files read their lines alike.
    for (uint32_t flags : {0u, uint32_t(FILE_OPEN_WHOLE_FILE_CRC)}) {
        for (const auto& c : cases) {
            const std::vector<uint8_t> text(c.text.begin(), c.text.end());
            WriteWholeFile(dir / "lines.txt", flags ? Fwsf(text, uint32_t(text.size()), BitwiseCrc(text)) : text);
            FileReader r("lines.txt", nullptr, "user", flags);
            char line[16];
            for (const char* expected : c.lines) {
                ASSERT_EQ(r.ReadLine(line, sizeof line), expected != nullptr) << c.text;
                EXPECT_STREQ(expected ? line : nullptr, expected);
            }
            EXPECT_FALSE(r.ReadLine(nullptr, 10));
        }
    }
    // A line overflowing right after a lone '\r' leaves the character read ahead to Read.
    WriteWholeFile(dir / "lines.txt", {'a', 'b', '\r', 'X', 'Y', 'Z'});
    for (bool skip : {false, true}) {
        FileReader r("lines.txt", nullptr, "user", 0);
        char line[3], rest[3] = {};
        EXPECT_FALSE(r.ReadLine(line, sizeof line));
        ASSERT_TRUE(r.Read(skip ? nullptr : rest, skip ? 2 : 3));
        if (skip) {
            ASSERT_TRUE(r.Read(rest, 1));
        }
        EXPECT_EQ(std::string(rest, skip ? 1 : 3), skip ? "Z" : "XYZ");
        EXPECT_FALSE(r.Read(rest, 1));
    }
}

// Whole-file reads: the cap refuses before reading, the padding follows the bytes as zeros,
// a reader without a file and a missing name give false and nothing.
TEST_F(StreamFixture, WholeFileReadsKeepTheirCapAndPadding) {
    const std::vector<uint8_t> body = MakeContent(100, 3);
    WriteWholeFile(dir / "whole.bin", body);
    WriteWholeFile(dir / "none.bin", {});
    const struct {
        const char* name;
        uint32_t cap, padding;
        bool ok;
        size_t size;
    } cases[] = {{"whole.bin", 100, 0, true, 100}, {"whole.bin", 99, 0, false, 0}, {"whole.bin", UINT32_MAX, 1, true, 101},
                 {"none.bin", 0, 1, true, 1},      {"missing.bin", UINT32_MAX, 1, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " cap " + std::to_string(c.cap) + " padding " + std::to_string(c.padding));
        FileReader r(c.name, nullptr, "user");
        std::vector<char> out(7, 'x');
        EXPECT_EQ(fs::ReadWholeFile(r, c.cap, c.padding, &out), c.ok);
        ASSERT_EQ(out.size(), c.size);
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(uint8_t(out[i]), i < body.size() && c.size > c.padding ? body[i] : 0) << i;
    }
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(fs::ReadWholeFile("whole", "bin", "user", &bytes));
    EXPECT_EQ(bytes, body);
    EXPECT_FALSE(fs::ReadWholeFile("missing", "bin", "user", &bytes));
    EXPECT_TRUE(bytes.empty());
}

// Skips, reads past the end and reads of zero bytes, which succeed on folder files and
// checked whole files alike, also at the end and on an empty file (the container
// streams: container_test).
TEST_F(StreamFixture, SkipsTimesAndHandles) {
    const std::vector<uint8_t> body = MakeContent(1000, 4);
    WriteWholeFile(dir / "local.bin", body);
    WriteWholeFile(dir / "empty.bin", {});
    WriteWholeFile(dir / "crc.bin", Fwsf(body, 1000, BitwiseCrc(body)));
    WriteWholeFile(dir / "emptycrc.bin", Fwsf({}, 0, 0));
    const struct {
        const char* name;
        uint32_t flags;
    } cases[] = {{"local.bin", 0}, {"empty.bin", 0}, {"crc.bin", FILE_OPEN_WHOLE_FILE_CRC},
                 {"emptycrc.bin", FILE_OPEN_WHOLE_FILE_CRC}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileReader r(c.name, nullptr, "user", c.flags);
        ASSERT_TRUE(r.IsOpen());
        uint8_t b[10];
        EXPECT_TRUE(r.Read(b, 0));
        EXPECT_TRUE(r.Read(nullptr, 0));
        if (r.GetSize()) {
            EXPECT_TRUE(r.Read(nullptr, 990));
            EXPECT_FALSE(r.Read(nullptr, 11));  // past the end
            ASSERT_TRUE(r.Read(b, 10));
            EXPECT_EQ(0, std::memcmp(b, body.data() + 990, 10));
        }
        EXPECT_TRUE(r.Read(b, 0));  // at the end
        EXPECT_FALSE(r.Read(b, 1));
        char line[16];
        EXPECT_FALSE(r.ReadLine(line, sizeof line));  // no character past the end either
    }
    // Last-write time in 100 ns units since 1601, as the file system reports it.
    FileReader local("local.bin", nullptr, "user", 0);
    const auto sys = std::chrono::file_clock::to_sys(stdfs::last_write_time(dir / "local.bin"));
    const uint64_t expected = 116444736000000000ull + std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count() / 100;
    EXPECT_EQ(local.GetFileTime(), expected);
    EXPECT_EQ(FileReader("crc.bin", nullptr, "user", FILE_OPEN_WHOLE_FILE_CRC).GetFileTime(), 0u);
    EXPECT_EQ(FileReader().GetFileTime() + FileReader().GetSize(), 0u);

    // Detaching hands the handle over; the stream forgets it.
    std::FILE* handle = local.GetFileHandle(true);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(local.GetFileHandle(false), nullptr);
    EXPECT_EQ(std::fgetc(handle), body[0]);
    std::fclose(handle);
    EXPECT_EQ(FileReader("crc.bin", nullptr, "user", FILE_OPEN_WHOLE_FILE_CRC).GetFileHandle(false), nullptr);
}

}  // namespace
