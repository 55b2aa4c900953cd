// test-sanitize: address
// test-sources: ContainerBuilder.cpp
// test-link: z
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "SolidFileTestClass.h"
#include "UserFolderFixture.h"
#include "core/CRC32.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SolidBlob.h"
#include "core/rtti/SolidFile.h"

using namespace testfs;
using solidfiletest::Settings;

namespace {

// Runs `during` when its property list is written, i.e. while a save is under way.
struct Interfering : Settings {
    std::function<void()> during;
    uint32_t SolidSerialize(uint8_t* buffer, uint32_t options) const override {
        if (buffer && during) during();
        return Settings::SolidSerialize(buffer, options);
    }
};

struct SolidFileFixture : UserFolderFixture {
    // Names in the folder that start with the target's and are not the target.
    std::vector<std::string> Leftovers(const std::string& target) const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            const std::string name = e.path().filename().string();
            if (name != target && name.rfind(target, 0) == 0) out.push_back(name);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    static Settings Sample() {
        Settings s;
        s.level = 0x01020304;
        s.volume = 0.75f;
        s.player = "Second Player";
        return s;
    }
    static Settings Marked() {  // marker values, so an untouched object is recognisable
        Settings s;
        s.level = 99;
        s.player = "untouched";
        return s;
    }
    static bool Untouched(const Settings& s) { return s.level == 99 && std::string(s.player.CStr()) == "untouched" && s.loads == 0; }
};

TEST_F(SolidFileFixture, SavedObjectsLoadBackWithAndWithoutTheCheck) {
    const Settings saved = Sample();
    for (uint32_t options : {0u, kSerializeSolidCheck}) {
        ASSERT_TRUE(saved.SaveToFile("config", "bin", "user", options));
        std::vector<uint8_t> blob;
        SolidSerializeToBuffer(saved, blob, options);
        EXPECT_EQ(ReadWholeFile(dir / "config.bin"), blob);  // the file is exactly the blob
        Settings back = Marked();
        ASSERT_TRUE(back.LoadFromFile("config", "bin", "user", options));
        EXPECT_EQ(back.level, saved.level);
        EXPECT_EQ(back.volume, 0.75f);
        EXPECT_STREQ(back.player.CStr(), "Second Player");
        EXPECT_EQ(back.loads, 1);
    }
    // With option 16 the file carries the class-layout value and the CRC of the payload.
    const std::vector<uint8_t> file = ReadWholeFile(dir / "config.bin");
    ASSERT_GT(file.size(), 12u);
    const uint32_t n = file[0] | file[1] << 8 | file[2] << 16 | uint32_t(file[3]) << 24;
    ASSERT_EQ(n + 12, file.size());
    const uint32_t crc = file[8] | file[9] << 8 | file[10] << 16 | uint32_t(file[11]) << 24;
    EXPECT_EQ(crc, CRC32::GetDefault().Compute(file.data() + 12, n));

    // A payload-free object writes only the size word and loads it as a no-op; an
    // object with properties refuses it (a damaged file) and stays as it was.
    solidfiletest::Empty empty;
    ASSERT_TRUE(empty.SaveToFile("empty", "bin", "user", kSerializeSolidCheck));
    EXPECT_EQ(ReadWholeFile(dir / "empty.bin"), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(empty.LoadFromFile("empty", "bin", "user", kSerializeSolidCheck));
    Settings other = Marked();
    EXPECT_FALSE(other.LoadFromFile("empty", "bin", "user", kSerializeSolidCheck));
    EXPECT_TRUE(Untouched(other));

    // Several blobs back to back in one file, each read at the reader's position.
    {
        FileWriter w("two", "bin", "user");
        ASSERT_TRUE(SolidSerializeToFileWriter(saved, w, kSerializeSolidCheck));
        ASSERT_TRUE(SolidSerializeToFileWriter(empty, w, 0));
        ASSERT_TRUE(SolidSerializeToFileWriter(saved, w, 0));
        ASSERT_TRUE(w.Close());
    }
    FileReader r("two", "bin", "user");
    Settings a = Marked(), c = Marked();
    EXPECT_TRUE(SolidDeserializeFromFileReader(a, r, kSerializeSolidCheck));
    solidfiletest::Empty between;
    EXPECT_TRUE(SolidDeserializeFromFileReader(between, r, 0));
    EXPECT_TRUE(SolidDeserializeFromFileReader(c, r, 0));
    EXPECT_EQ(a.level, saved.level);
    EXPECT_EQ(c.level, saved.level);
    EXPECT_FALSE(SolidDeserializeFromFileReader(c, r, 0));  // nothing left
    EXPECT_FALSE(sink.Contains("Cannot write"));
}

TEST_F(SolidFileFixture, DamagedOversizedAndTruncatedFilesFailAndLeaveTheObject) {
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", kSerializeSolidCheck));
    const std::vector<uint8_t> good = ReadWholeFile(dir / "config.bin");

    struct Damage {
        size_t at;
        const char* message;
    } damages[] = {{good.size() - 1, "CRC check error!!!"},  // last payload byte
                   {12, "CRC check error!!!"},               // first payload byte
                   {9, "CRC check error!!!"},                // the CRC itself
                   {5, "magic check error!!!"},              // the class-layout value
                   {3, "config.bin is cut short"}};           // the size word
    for (const Damage& d : damages) {
        sink.Clear();
        std::vector<uint8_t> bad = good;
        bad[d.at] ^= 0x40;
        WriteWholeFile(dir / "config.bin", bad);
        Settings s = Marked();
        EXPECT_FALSE(s.LoadFromFile("config", "bin", "user", kSerializeSolidCheck)) << d.at;
        EXPECT_TRUE(sink.Contains(d.message)) << d.at;
        EXPECT_TRUE(Untouched(s)) << d.at;
    }
    // Every cut of the file fails cleanly, the object untouched.
    for (size_t length = 0; length < good.size(); ++length) {
        WriteWholeFile(dir / "config.bin", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length)));
        Settings s = Marked();
        EXPECT_FALSE(s.LoadFromFile("config", "bin", "user", kSerializeSolidCheck)) << length;
        EXPECT_TRUE(Untouched(s)) << length;
    }
    sink.Clear();  // a file that does not exist: false and nothing logged
    Settings s = Marked();
    EXPECT_FALSE(s.LoadFromFile("missing", "bin", "user", 0));
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(SolidFileFixture, SavesThatCannotCompleteAreReportedAndKeepTheOldFile) {
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", 0));
    const std::vector<uint8_t> old = ReadWholeFile(dir / "config.bin");
    Settings changed = Sample();
    changed.level = 7;

    // The target folder is read-only (the superuser may write there anyway).
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool canWrite = changed.SaveToFile("locked/config", "bin", "user", 0);
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    EXPECT_EQ(canWrite, std::filesystem::exists(dir / "locked/config.bin"));

    // A folder nobody can create files in; a target that is a folder.
    ASSERT_TRUE(gFileSystem.MountDirectory("proc", "/proc/self"));
    EXPECT_FALSE(changed.SaveToFile("config", "bin", "proc", 0));
    std::filesystem::create_directory(dir / "folder.bin");
    EXPECT_FALSE(changed.SaveToFile("folder", "bin", "user", 0));
    // The new file cannot be moved into place: the temporary file vanishes mid-save.
    Interfering interfering;
    interfering.level = 7;
    interfering.during = [&] {
        for (const std::string& name : Leftovers("config.bin")) std::filesystem::remove(dir / name);
    };
    sink.Clear();
    EXPECT_FALSE(interfering.SaveToFile("config", "bin", "user", 0));
    EXPECT_TRUE(sink.Contains("Cannot write file"));
    EXPECT_EQ(ReadWholeFile(dir / "config.bin"), old);
    Settings back = Marked();
    ASSERT_TRUE(back.LoadFromFile("config", "bin", "user", 0));
    EXPECT_EQ(back.level, Sample().level);
    // A writer that never opened, or whose earlier write failed, writes nothing.
    FileWriter closed("no/such/folder/x", "bin", "user");
    EXPECT_FALSE(SolidSerializeToFileWriter(changed, closed, 0));
    FileWriter broken("broken", "bin", "user");
    EXPECT_FALSE(broken.Write(nullptr, 4));
    EXPECT_FALSE(SolidSerializeToFileWriter(changed, broken, 0));
    EXPECT_FALSE(broken.Close());
    // A failed close takes its temporary file with it.
    EXPECT_EQ(Leftovers("broken.bin"), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(dir / "broken.bin"));
}

// A damaged file that exists is refused with one line naming it, whatever the damage:
// a size word of 0 (only an object with nothing to store writes one), an empty file, a
// wrong check value or CRC, and a payload that does not parse. The object keeps its
// values (the caller's defaults apply).
TEST_F(SolidFileFixture, EveryRefusalOfAnExistingFileNamesIt) {
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", kSerializeSolidCheck));
    const std::vector<uint8_t> checked = ReadWholeFile(dir / "config.bin");
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", 0));
    const std::vector<uint8_t> plain = ReadWholeFile(dir / "config.bin");
    const auto with = [](std::vector<uint8_t> b, size_t at, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
        return b;
    };
    // Option 0, cut inside "Player" with a size word to match: checks pass, parsing fails.
    std::vector<uint8_t> cut(plain.begin(), plain.begin() + 4 + 9);
    cut[0] = 9;
    struct Case {
        const char* what;
        uint32_t options;
        std::vector<uint8_t> file;
        const char* line;
    } cases[] = {
        {"size word 0 with the check", kSerializeSolidCheck, with(checked, 0, {0, 0, 0, 0}), "holds no data"},
        {"size word 0 alone", 0, {0, 0, 0, 0}, "holds no data"},
        {"empty file", kSerializeSolidCheck, {}, "is cut short"},
        {"last payload byte", kSerializeSolidCheck, with(checked, checked.size() - 1, {0x7E}), "CRC check error!!!"},
        {"layout value", kSerializeSolidCheck, with(checked, 5, {0x55}), "magic check error!!!"},
        {"payload cut inside a name", 0, cut, "Binary property data is corrupt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(dir / "config.bin", c.file);
        sink.Clear();
        Settings s = Marked();
        EXPECT_FALSE(s.LoadFromFile("config", "bin", "user", c.options));
        // (A payload that fails half-way may leave a class without a scratch copy partly read.)
        if (std::string(c.line) != "Binary property data is corrupt") {
            EXPECT_TRUE(Untouched(s));
        }
        const auto lines = sink.Messages();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].text.find(c.line), std::string::npos) << lines[0].text;
        EXPECT_NE(lines[0].text.find("config.bin"), std::string::npos) << lines[0].text;
    }
    // An object with nothing to store reads its empty blob back.
    ASSERT_TRUE(solidfiletest::Empty().SaveToFile("empty", "bin", "user", kSerializeSolidCheck));
    EXPECT_EQ(ReadWholeFile(dir / "empty.bin"), std::vector<uint8_t>(4, 0));
    solidfiletest::Empty e;
    sink.Clear();
    EXPECT_TRUE(e.LoadFromFile("empty", "bin", "user", kSerializeSolidCheck));
    EXPECT_TRUE(sink.Messages().empty());
}

// A save killed between creating its temporary file and renaming it leaves the
// temporary behind; the next save of that file removes it once its writer is gone.
// Temporaries of running writers (this process, its parent), of other files and of
// other shapes stay.
TEST_F(SolidFileFixture, TheNextSaveRemovesTemporariesOfEndedWriters) {
    pid_t ended = 0;
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    ASSERT_EQ(posix_spawn(&ended, program, nullptr, nullptr, argv, environ), 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string dead = std::to_string(ended), self = std::to_string(getpid()), parent = std::to_string(getppid());
    struct Case {
        std::string name;
        bool stays;
    } cases[] = {
        {"config.bin.~tmp" + dead + ".0badc0de", false},
        {"config.bin.~tmp" + dead + ".12345678", false},
        {"config.bin.~tmp" + self + ".0badc0de", true},
        {"config.bin.~tmp" + parent + ".0badc0de", true},
        {"config.bin.~tmp00000000", true},                 // no writer in the name
        {"config.bin.~tmp" + dead + ".0badc0de.txt", true},  // not a temporary
        {"config.bin.~tmp" + dead + ".0badc0d", true},
        {"other.bin.~tmp" + dead + ".0badc0de", true},     // another file's
    };
    for (const Case& c : cases) WriteWholeFile(dir / c.name, {1, 2, 3});
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", 0));
    for (const Case& c : cases) EXPECT_EQ(std::filesystem::exists(dir / c.name), c.stays) << c.name;
    // This process's own temporaries carry its id, so a later process can tell.
    FileWriter open("config", "bin", "user");
    bool ours = false;
    for (const std::string& name : Leftovers("config.bin"))
        ours |= name.rfind("config.bin.~tmp" + self + ".", 0) == 0 && name.size() == std::string("config.bin.~tmp").size() + self.size() + 9;
    EXPECT_TRUE(ours);
    EXPECT_TRUE(open.Close());
}

// Each save writes a temporary file of its own, so a leftover of a writer that died, or a
// folder where the old fixed temporary name was, does not stop the next save.
TEST_F(SolidFileFixture, LeftoversOfOtherWritersDoNotStopASave) {
    std::filesystem::create_directory(dir / "config.bin.~tmp");
    WriteWholeFile(dir / "config.bin.~tmp00000000", {1, 2, 3});
    ASSERT_TRUE(Sample().SaveToFile("config", "bin", "user", 0));
    Settings back = Marked();
    ASSERT_TRUE(back.LoadFromFile("config", "bin", "user", 0));
    EXPECT_EQ(back.level, Sample().level);
    EXPECT_EQ(Leftovers("config.bin").size(), 2u);  // only the two planted ones
}

constexpr int kSharedRounds = 200;
constexpr uint32_t kSharedBytes = 64 * 1024;

// The writer process of the test below (this program started again with this test's
// name and the writer's byte and folder in its environment); skipped otherwise.
TEST_F(SolidFileFixture, SharedFileWriterProcess) {
    const char* byte = std::getenv("SHARED_SAVE_BYTE");
    const char* folder = std::getenv("SHARED_SAVE_FOLDER");
    if (!byte || !folder) GTEST_SKIP() << "run by TwoProcessesSavingOneFileNeverMixTheirBytes";
    ASSERT_TRUE(gFileSystem.MountDirectory("shared", folder));
    const std::vector<uint8_t> bytes(kSharedBytes, uint8_t(byte[0]));
    for (int round = 0; round < kSharedRounds; ++round) {
        FileWriter w("shared", "bin", "shared");
        ASSERT_TRUE(w.Write(bytes.data(), kSharedBytes) && w.Close()) << round;
    }
}

// Two processes saving one file at once: whenever the file is read, and at the end, it is
// one writer's whole content (before, both wrote through one temporary name, truncated
// and renamed each other's file, and a round could leave the bytes of both).
TEST_F(SolidFileFixture, TwoProcessesSavingOneFileNeverMixTheirBytes) {
    const auto content = [](char writer) { return std::vector<uint8_t>(kSharedBytes, uint8_t(writer)); };
    std::vector<pid_t> children;
    for (const char* writer : {"A", "B"}) {
        setenv("SHARED_SAVE_BYTE", writer, 1);
        setenv("SHARED_SAVE_FOLDER", dir.Path().c_str(), 1);
        char program[] = "/proc/self/exe";
        char filter[] = "--gtest_filter=SolidFileFixture.SharedFileWriterProcess";
        char* argv[] = {program, filter, nullptr};
        posix_spawn_file_actions_t quiet;  // the writer's own test report goes nowhere
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, program, &quiet, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&quiet);
        ASSERT_EQ(spawned, 0);
        children.push_back(pid);
    }
    unsetenv("SHARED_SAVE_BYTE");
    unsetenv("SHARED_SAVE_FOLDER");
    // Read while they write; at most 60 s.
    int mixed = 0, reads = 0, done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (done < 2 && std::chrono::steady_clock::now() < deadline) {
        const std::vector<uint8_t> now = ReadWholeFile(dir / "shared.bin");
        if (!now.empty()) {
            ++reads;
            mixed += now != content('A') && now != content('B');
        }
        for (pid_t& pid : children) {
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer's save failed";
                pid = 0;
                ++done;
            }
        }
    }
    for (pid_t pid : children)
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            ADD_FAILURE() << "a writer did not finish within 60 s";
        }
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    const std::vector<uint8_t> last = ReadWholeFile(dir / "shared.bin");
    EXPECT_TRUE(last == content('A') || last == content('B'));
    EXPECT_EQ(Leftovers("shared.bin"), std::vector<std::string>{});
}

}  // namespace
