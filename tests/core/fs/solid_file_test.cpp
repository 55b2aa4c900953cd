// test-sanitize: address
// test-sources: ContainerBuilder.cpp
// test-link: z
#include <gtest/gtest.h>

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

    // A payload-free object writes only the size word and loads as a no-op.
    solidfiletest::Empty empty;
    ASSERT_TRUE(empty.SaveToFile("empty", "bin", "user", kSerializeSolidCheck));
    EXPECT_EQ(ReadWholeFile(dir / "empty.bin"), (std::vector<uint8_t>{0, 0, 0, 0}));
    Settings other = Marked();
    EXPECT_TRUE(other.LoadFromFile("empty", "bin", "user", kSerializeSolidCheck));
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
    Settings a = Marked(), b = Marked(), c = Marked();
    EXPECT_TRUE(SolidDeserializeFromFileReader(a, r, kSerializeSolidCheck));
    EXPECT_TRUE(SolidDeserializeFromFileReader(b, r, 0));
    EXPECT_TRUE(SolidDeserializeFromFileReader(c, r, 0));
    EXPECT_EQ(a.level, saved.level);
    EXPECT_TRUE(Untouched(b));
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
                   {3, "larger than the file"}};             // the size word
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
    // The temporary file cannot be made beside an existing save: the old file stays.
    std::filesystem::create_directory(dir / "config.bin.~tmp");
    EXPECT_FALSE(changed.SaveToFile("config", "bin", "user", 0));
    EXPECT_EQ(ReadWholeFile(dir / "config.bin"), old);
    Settings back = Marked();
    ASSERT_TRUE(back.LoadFromFile("config", "bin", "user", 0));
    EXPECT_EQ(back.level, Sample().level);
    // The new file cannot be moved into place: the temporary file vanishes mid-save.
    std::filesystem::remove(dir / "config.bin.~tmp");
    Interfering interfering;
    interfering.level = 7;
    interfering.during = [&] { std::filesystem::remove(dir / "config.bin.~tmp"); };
    sink.Clear();
    EXPECT_FALSE(interfering.SaveToFile("config", "bin", "user", 0));
    EXPECT_TRUE(sink.Contains("Cannot write file"));
    EXPECT_EQ(ReadWholeFile(dir / "config.bin"), old);
    // A writer that never opened, or whose earlier write failed, writes nothing.
    FileWriter closed("no/such/folder/x", "bin", "user");
    EXPECT_FALSE(SolidSerializeToFileWriter(changed, closed, 0));
    FileWriter broken("broken", "bin", "user");
    EXPECT_FALSE(broken.Write(nullptr, 4));
    EXPECT_FALSE(SolidSerializeToFileWriter(changed, broken, 0));
    EXPECT_FALSE(broken.Close());
}

}  // namespace
