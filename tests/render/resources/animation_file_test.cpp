// Animation files through ResourceAnimation: clips written by tests/support/anim_file.py
// load with their tracks, keys, boxes and length; a wrong header, every truncation and
// every altered count or length leaves the resource unloaded with an empty clip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/fs/FileSystem.h"
#include "render/resources/ResourceAnimation.h"

namespace {

const std::string kTool = "python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py ";

// Three tracks: the rotation and translation channels with several keys, an empty name,
// a track with only scale keys; header bytes 1..8.
const char* const kClip =
    R"({"length": 2.0, "header": [1,2,3,4,5,6,7,8], "tracks": [)"
    R"({"name": "root", "rotation": [[0,0,0,0],[0.5,0,0.7071,0],[1,0.5,0.5,0.5]],)"
    R"( "translation": [[0,1,2,3],[1,-4,5,6]], "scale": [[0,1,1,1]]},)"
    R"({"name": "", "translation": [[0.25,0,0,0]]},)"
    R"({"name": "forearm", "scale": [[0.5,1,1,1],[1,2,0.5,2]]}]})";

std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct AnimationFileTest : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/animation_file_test_XXXXXX";
        root = mkdtemp(pattern);
        gFileSystem.MountDirectory("animations", root.c_str());
        log.Attach();
        // The tool's file and its stored keys, one "x y z t" line each.
        std::istringstream lines(shelltest::ShellOutput("echo '" + std::string(kClip) + "' | " + kTool + "write " +
                                                        root + "/clip.bin"));
        for (int v[4]; lines >> v[0] >> v[1] >> v[2] >> v[3];)
            keys.push_back({int16_t(v[0]), int16_t(v[1]), int16_t(v[2]), int16_t(v[3])});
        file = Bytes(root + "/clip.bin");
        ASSERT_EQ(keys.size(), 9u);
        ASSERT_GT(file.size(), 16u);
    }
    void TearDown() override {
        log.Detach();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    void Write(const std::vector<uint8_t>& bytes) {
        std::ofstream(root + "/case.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // Loads "case" and, when it fails, checks the clip was left empty.
    bool Load(const std::vector<uint8_t>& bytes) {
        Write(bytes);
        ResourceAnimation animation("case");
        const bool loaded = animation.LoadResource();
        if (!loaded) {
            const AnimationClipData& clip = animation.Clip();
            EXPECT_TRUE(clip.TrackCount() == 0 && clip.KeyCount() == 0 && clip.Length() == 0.0f);
            EXPECT_TRUE(clip.ChannelBox(0).IsEmpty3D());
        }
        return loaded;
    }
    // Warnings and errors logged (the resource's own progress lines aside).
    size_t Errors() {
        size_t n = 0;
        for (const CaptureLogSink::Message& m : log.Messages()) n += m.severity >= 3;
        return n;
    }
    template <class T>
    void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
    }
    // Byte offsets of the tool's file: track 0's name length, the key count, the boxes.
    static constexpr size_t kTrackCount = 16, kFirstName = 20;
    size_t KeyCountOffset() const { return 20 + (4 + 4 + 6) + (4 + 0 + 6) + (4 + 7 + 6); }
    size_t BoxesOffset() const { return KeyCountOffset() + 4 + 8 * keys.size(); }

    std::string root;
    CaptureLogSink log;
    std::vector<AnimationKey> keys;
    std::vector<uint8_t> file;
};

TEST_F(AnimationFileTest, ToolClipLoadsWithTracksKeysBoxesAndLength) {
    ResourceAnimation animation("clip");
    ASSERT_TRUE(animation.LoadResource());
    const AnimationClipData& clip = animation.Clip();
    ASSERT_EQ(clip.TrackCount(), 3u);
    struct Row {
        const char* name;
        uint16_t counts[3];
    } const rows[] = {{"root", {3, 2, 1}}, {"", {0, 1, 0}}, {"forearm", {0, 0, 2}}};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(clip.Track(i).name.CStr(), rows[i].name);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(clip.Track(i).keyCounts[c], rows[i].counts[c]) << i << " " << c;
    }
    EXPECT_TRUE(clip.Track(1).name.IsEmpty());
    ASSERT_EQ(clip.KeyCount(), keys.size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
        const AnimationKey& k = clip.Key(i);
        EXPECT_TRUE(k.x == keys[i].x && k.y == keys[i].y && k.z == keys[i].z && k.t == keys[i].t) << "key " << i;
    }
    // Boxes over each channel's keys: x, y, z bounds and the t range.
    const BoundingBox4 want[] = {{Vector(0, 0, 0, 0), Vector(0.5f, 0.7071f, 0.5f, 1)},
                                 {Vector(-4, 0, 0, 0), Vector(1, 5, 6, 1)},
                                 {Vector(1, 0.5f, 1, 0), Vector(2, 1, 2, 1)}};
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(clip.ChannelBox(c), want[c]) << "box " << c;
    EXPECT_EQ(clip.Length(), 2.0f);
    EXPECT_EQ(std::memcmp(animation.HeaderValue(), "\1\2\3\4\5\6\7\10", 8), 0);
    // Bytes after the body change nothing.
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), {9, 9, 9});
    EXPECT_TRUE(Load(longer));
}

TEST_F(AnimationFileTest, EmptyBodyLoadsAnEmptyClip) {
    const std::string body = shelltest::ShellOutput("echo '{\"length\": 0.5, \"tracks\": []}' | " + kTool + "body");
    std::vector<uint8_t> bytes(file.begin(), file.begin() + 16);
    for (size_t i = 0; i + 1 < body.size(); i += 2) bytes.push_back(uint8_t(std::stoi(body.substr(i, 2), nullptr, 16)));
    ASSERT_EQ(bytes.size(), 16u + 4 + 4 + 96 + 4);
    Write(bytes);
    ResourceAnimation animation("case");
    ASSERT_TRUE(animation.LoadResource());
    EXPECT_EQ(animation.Clip().TrackCount(), 0u);
    EXPECT_EQ(animation.Clip().KeyCount(), 0u);
    EXPECT_EQ(animation.Clip().Length(), 0.5f);
}

TEST_F(AnimationFileTest, WrongMagicOrVersionStaysUnloadedWithoutAMessage) {
    for (auto [offset, value] : {std::pair<size_t, uint32_t>{0, 0xA3B9550Eu}, {4, 2}, {4, 4}}) {
        std::vector<uint8_t> bytes = file;
        Put(bytes, offset, value);
        log.Clear();
        EXPECT_FALSE(Load(bytes)) << offset << " " << value;
        EXPECT_EQ(Errors(), 0u);
    }
}

TEST_F(AnimationFileTest, EveryTruncationFailsCleanly) {
    for (size_t size = 0; size < file.size(); ++size)
        EXPECT_FALSE(Load(std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(size)))) << size;
}

TEST_F(AnimationFileTest, AlteredCountsLengthsAndValuesAreRefused) {
    const float inf = INFINITY, nan = NAN;
    struct Case {
        const char* what;
        size_t offset;
        uint32_t size;  // 2 or 4 bytes written
        uint32_t bits;
    };
    auto floatBits = [](float f) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        return b;
    };
    const Case cases[] = {
        {"one track more", kTrackCount, 4, 4},
        {"one track fewer", kTrackCount, 4, 2},
        {"a track count past the bytes left", kTrackCount, 4, 0x10000000},
        {"a name one byte longer", kFirstName, 4, 5},
        {"a name longer than the file", kFirstName, 4, 0xFFFFFFF0u},
        {"a rotation count one higher", kFirstName + 4 + 4, 2, 4},
        {"a scale count one lower", kFirstName + 4 + 4 + 4, 2, 0},
        {"one key more", KeyCountOffset(), 4, uint32_t(keys.size() + 1)},
        {"one key fewer", KeyCountOffset(), 4, uint32_t(keys.size() - 1)},
        {"a key count past the bytes left", KeyCountOffset(), 4, 0x20000000},
        {"an infinite box value", BoxesOffset() + 4, 4, floatBits(inf)},
        {"a NaN as the last box value", BoxesOffset() + 92, 4, floatBits(nan)},
        {"a NaN length", BoxesOffset() + 96, 4, floatBits(nan)},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = file;
        if (c.size == 4) Put(bytes, c.offset, c.bits);
        else Put(bytes, c.offset, uint16_t(c.bits));
        log.Clear();
        EXPECT_FALSE(Load(bytes)) << c.what;
        EXPECT_EQ(Errors(), 1u) << c.what;
    }
}

TEST_F(AnimationFileTest, AFailedReloadEmptiesTheClip) {
    Write(file);
    ResourceAnimation animation("case");
    ASSERT_TRUE(animation.LoadResource());
    ASSERT_EQ(animation.Clip().TrackCount(), 3u);
    Write(std::vector<uint8_t>(file.begin(), file.end() - 1));
    EXPECT_FALSE(animation.LoadResource());
    EXPECT_EQ(animation.Clip().TrackCount(), 0u);
    EXPECT_EQ(animation.Clip().KeyCount(), 0u);
}

}  // namespace
