// LZX container sets read through gFileSystem: entries are frame streams from the test
// encoder, indexed by the independent builder, and read back whole, in random chunks
// and skips, and several at once, with the reader thread running or inline; stored
// entries of an LZX container; corrupt and truncated entries fail cleanly.
// test-sanitize: thread address
// test-link: z mspack
// test-sources: ContainerBuilder.cpp support/LzxTestEncoder.cpp
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/fs/support/LzxTestEncoder.h"

using namespace testfs;

namespace {

constexpr uint32_t kDataKind = 4;

Entry LzxEntry(const std::string& path, uint32_t size, uint32_t seed, const LzxTestOptions& options = {},
               const std::vector<uint8_t>& trailing = {}) {
    std::vector<uint8_t> data = LzxTestData(size, seed);
    std::vector<uint8_t> coded = LzxTestFrameStream(LzxTestEncode(data, options), trailing);
    return Entry(path, std::move(data), Coding::Precoded, std::move(coded));
}

std::vector<Entry> LzxEntries() {
    LzxTestOptions mixed;  // every block type, E8 translation on
    mixed.blocks = {{1, 40000}, {3, 5000}, {2, 70000}};
    mixed.e8Size = 12000000;
    return {
        LzxEntry("lzx/big.bin", 420000, 1, mixed),  // stored size spans the three read-ahead buffers
        LzxEntry("lzx/one_frame.bin", 32768, 2),
        LzxEntry("lzx/frame_and_a_byte.bin", 32769, 3),
        LzxEntry("lzx/tiny.txt", 9, 4),
        LzxEntry("lzx/trailing.bin", 70000, 5, {}, std::vector<uint8_t>(11, 0xAB)),  // bytes after the last frame
        {"plain/stored.bin", MakeContent(80000, 6), Coding::Stored},            // flag 0: read as stored
    };
}

struct LzxContainer : ::testing::TestWithParam<bool> {
    TempDir dir;
    CaptureLogSink sink;

    void SetUp() override {
        sink.Attach();
        if (GetParam()) {
            ASSERT_TRUE(gPhysicalFileReader.Start());
        }
    }
    void TearDown() override {
        gFileSystem.UnmountAll();
        gPhysicalFileReader.Stop();
        sink.Detach();
    }
    void Mount(const std::string& name, const std::vector<Entry>& entries) {
        ContainerOptions options;
        options.compression = 2;
        ASSERT_TRUE(WriteContainer(dir / (name + ".dat"), entries, options, dir.Path()));
        ASSERT_TRUE(gFileSystem.MountContainer(name.c_str(), (dir / (name + ".dat")).c_str(), kDataKind, 0x5BD1E995, 0));
    }
    std::unique_ptr<FileSystemInputStream> Open(const std::string& path) {
        return std::unique_ptr<FileSystemInputStream>(gFileSystem.OpenInputStream(path.c_str(), nullptr, nullptr, 0));
    }
};

TEST_P(LzxContainer, EveryEntryReadsBackWholeInChunksAndSeveralAtOnce) {
    const std::vector<Entry> entries = LzxEntries();
    Mount("pack", entries);
    std::mt19937 rng(GetParam() ? 11 : 12);
    for (const Entry& e : entries) {
        auto s = Open("pack/" + e.path);
        ASSERT_NE(s, nullptr) << e.path;
        ASSERT_EQ(s->GetSize(), e.data.size());
        std::vector<uint8_t> whole(e.data.size());
        ASSERT_TRUE(s->Read(whole.data(), static_cast<uint32_t>(whole.size()))) << e.path;
        EXPECT_EQ(whole, e.data) << e.path;
        uint8_t extra;
        EXPECT_FALSE(s->Read(&extra, 1));
        EXPECT_EQ(CheckChunkedRead(Open("pack/" + e.path).get(), e.data, rng), "") << e.path;
    }

    std::vector<std::unique_ptr<FileSystemInputStream>> streams;
    std::vector<FileSystemInputStream*> raw;
    std::vector<const std::vector<uint8_t>*> sources;
    for (int round = 0; round < 2; ++round) {  // each entry twice: two decoders on one entry
        for (const Entry& e : entries) {
            streams.push_back(Open("PACK/" + e.path));
            ASSERT_NE(streams.back(), nullptr);
            raw.push_back(streams.back().get());
            sources.push_back(&e.data);
        }
    }
    EXPECT_EQ(CheckInterleavedReads(raw, sources, 20000, rng), "");
    EXPECT_FALSE(sink.Contains("corrupt"));
    EXPECT_FALSE(sink.Contains("ends early"));
}

// A damaged frame, a cut stream and an index that promises more than the stream holds
// each fail the read with one log line; the other entries stay readable.
TEST_P(LzxContainer, CorruptAndTruncatedEntriesFailCleanly) {
    std::vector<Entry> entries = {LzxEntry("good.bin", 100000, 7), LzxEntry("bad_frame.bin", 100000, 8),
                                  LzxEntry("cut.bin", 100000, 9), LzxEntry("short.bin", 50000, 10)};
    // The stream's first bits (the top of its first little-endian word, after the
    // 2-byte frame header): E8 flag 0, then block type 7, which does not exist.
    entries[1].coded[3] = static_cast<uint8_t>((entries[1].coded[3] & 0x0F) | 0x70);
    entries[2].coded.resize(entries[2].coded.size() / 2);
    entries[3].data.resize(60000);  // the index claims 10000 bytes the stream lacks
    Mount("bad", entries);

    std::vector<uint8_t> out(100000);
    EXPECT_FALSE(Open("bad/bad_frame.bin")->Read(out.data(), 100000));
    EXPECT_TRUE(sink.Contains("corrupt LZX data"));
    auto cut = Open("bad/cut.bin");
    EXPECT_FALSE(cut->Read(out.data(), 100000));
    EXPECT_FALSE(cut->Read(out.data(), 1));  // stays failed
    EXPECT_TRUE(sink.Contains("ends early"));
    auto shortEntry = Open("bad/short.bin");
    ASSERT_TRUE(shortEntry->Read(out.data(), 50000));
    EXPECT_FALSE(shortEntry->Read(out.data(), 10000));

    auto good = Open("bad/good.bin");
    ASSERT_TRUE(good->Read(out.data(), 100000));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), entries[0].data.begin()));
}

INSTANTIATE_TEST_SUITE_P(ReaderThread, LzxContainer, ::testing::Bool());

}  // namespace
