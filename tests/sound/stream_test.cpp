// test-sanitize: address
// The streams alone: the static data source's chunk queue, OGGStream's format and samples
// (the engine's playback compares every rate and channel count with sox and ffmpeg),
// chained files whose second link changes the rate, damaged files, the decode block pool, and the resources' RIFF reader as the sound
// code relies on it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "SoundTestSupport.h"
#include "render/sound/RiffChunkReader.h"
#include "sound/FixedBlockPool.h"
#include "sound/SoundStream.h"

using namespace soundtest;

namespace {

struct StreamFiles : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/sound_stream_XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string dir;
};

// Everything OGGStream decodes from bytes in memory, read in blocks of `block` bytes.
std::vector<int16_t> DecodeAll(const std::vector<uint8_t>& file, uint32_t block, audio::WaveFormat* format = nullptr) {
    SoundStreamStaticDataSource source;
    source.AddChunk(file.data(), uint32_t(file.size()));
    OGGStream stream(&source);
    if (!stream.Open()) return {};
    if (format) *format = stream.Format();
    std::vector<int16_t> out;
    std::vector<uint8_t> buffer(block);
    for (uint32_t n; (n = stream.Read(buffer.data(), block)) > 0;) {
        const size_t at = out.size();
        out.resize(at + n / 2);
        std::memcpy(out.data() + at, buffer.data(), n);
    }
    return out;
}

}  // namespace

TEST(SoundStreamStaticDataSource, ReadsChunksInOrderAndDropsFinishedOnes) {
    const uint8_t a[4] = {1, 2, 3, 4};
    const uint8_t b[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    SoundStreamStaticDataSource source;
    uint8_t out[16] = {};
    EXPECT_EQ(source.Read(out, 8), 0u);  // empty: the decoder's read ends
    source.AddChunk(a, 4);
    source.AddChunk(b, 0);  // ignored
    source.AddChunk(b, 10);
    source.AddChunk(a, 4);
    EXPECT_EQ(source.Read(out, 0), 0u);
    ASSERT_EQ(source.Read(out, 10), 10u);
    const uint8_t expected[10] = {1, 2, 3, 4, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(out, expected, 10), 0);
    // 4 + 6 read: the rest of the second chunk and the third remain.
    EXPECT_EQ(source.ChunkCount(), 2u);
    EXPECT_EQ(source.ChunkLength(0), 4u);
    ASSERT_EQ(source.Read(out, 16), 8u);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(source.ChunkCount(), 0u);
}

TEST(RiffChunkReaderContract, HeadersNeedEightBytesAndAnOverlongChunkEndsTheWalk) {
    // "abcd" with 4 bytes of data, then 7 stray bytes.
    std::vector<uint8_t> data = {'a', 'b', 'c', 'd', 4, 0, 0, 0, 1, 2, 3, 4, 'e', 'f', 'g', 'h', 9, 9, 9};
    RiffChunkReader reader(data.data(), uint32_t(data.size()));
    EXPECT_EQ(reader.Next(false), RiffFourCC('a', 'b', 'c', 'd'));
    EXPECT_EQ(reader.Next(true), 0u);  // 7 bytes left
    // A chunk that claims more than is left: skipping it leaves nothing to read.
    std::vector<uint8_t> overlong = {'d', 'a', 't', 'a', 100, 0, 0, 0, 1, 2, 3, 'f', 'm', 't', ' ', 0, 0, 0, 0};
    RiffChunkReader r2(overlong.data(), uint32_t(overlong.size()));
    EXPECT_EQ(r2.Next(false), RiffFourCC('d', 'a', 't', 'a'));
    EXPECT_FALSE(r2.ChunkFits());
    EXPECT_EQ(r2.Next(true), 0u);
    EXPECT_EQ(r2.Left(), 0u);
    EXPECT_EQ(r2.Next(false), 0u);
}

TEST(FixedBlockPool, HandsOutTheLastBlockFirstAndCapsItsCount) {
    FixedBlockPool pool(32, 3);
    uint8_t* first = pool.Take();
    uint8_t* second = pool.Take();
    uint8_t* third = pool.Take();
    EXPECT_EQ(second + 32, first);  // block 2, then 1, then 0
    EXPECT_EQ(third + 32, second);
    EXPECT_EQ(pool.Take(), nullptr);
    pool.GiveBack(second);
    EXPECT_EQ(pool.Take(), second);
    FixedBlockPool big(1, 70000);
    EXPECT_EQ(big.BlockCount(), FixedBlockPool::kMaxBlocks);  // a 16-bit free-index stack
}

TEST_F(StreamFiles, ChainedFileEndsWhereTheRateChangesAndReopensOnNewChunks) {
    const std::string a = dir + "/a.ogg", b = dir + "/b.ogg";
    ASSERT_TRUE(MakeOgg(a, 44100, 2, 0.5));
    ASSERT_TRUE(MakeOgg(b, 22050, 2, 0.5, 880));
    std::vector<uint8_t> chained = ReadBytes(a);
    const std::vector<uint8_t> second = ReadBytes(b);
    chained.insert(chained.end(), second.begin(), second.end());
    audio::WaveFormat format = {};
    const std::vector<int16_t> first = DecodeAll(ReadBytes(a), 16384, &format);
    const std::vector<int16_t> both = DecodeAll(chained, 16384);
    ASSERT_FALSE(first.empty());
    const std::vector<int16_t> sox = SoxDecode(a);
    EXPECT_EQ(first.size(), sox.size());
    EXPECT_LE(MaxDifference(first, sox), 1);
    EXPECT_TRUE(format.formatTag == audio::kFormatPcm && format.channels == 2 && format.sampleRate == 44100 &&
                format.bitsPerSample == 16 && format.blockAlign == 4 && format.avgBytesPerSec == 4 * 44100);
    EXPECT_EQ(both.size(), first.size());
    EXPECT_EQ(MaxDifference(both, first), 0);

    // A re-open starts clean on whatever the source holds next.
    SoundStreamStaticDataSource source;
    OGGStream stream(&source);
    std::vector<uint8_t> buffer(8192);
    EXPECT_FALSE(stream.Open());  // nothing yet
    EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
    const std::vector<uint8_t> fileA = ReadBytes(a);
    for (int pass = 0; pass < 2; ++pass) {
        source.AddChunk(fileA.data(), uint32_t(fileA.size()));
        ASSERT_TRUE(stream.Open());
        size_t total = 0;
        for (uint32_t n; (n = stream.Read(buffer.data(), 8192)) > 0;) total += n;
        EXPECT_EQ(total, first.size() * 2);
    }
}

TEST_F(StreamFiles, RejectedAndDamagedFilesFailCleanly) {
    const std::string ogg = dir + "/t.ogg";
    ASSERT_TRUE(MakeOgg(ogg, 44100, 1, 0.5));
    const std::vector<uint8_t> good = ReadBytes(ogg);
    std::vector<uint8_t> buffer(16384);

    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'o', 'g', 'g'};
    SoundStreamStaticDataSource source;
    source.AddChunk(text.data(), uint32_t(text.size()));
    OGGStream rejected(&source);
    EXPECT_FALSE(rejected.Open());
    EXPECT_FALSE(rejected.IsOpen());
    EXPECT_EQ(rejected.Read(buffer.data(), uint32_t(buffer.size())), 0u);

    // Truncated copies decode a prefix (or nothing); corrupted copies decode without
    // reading out of bounds (the sanitizer build checks).
    const std::vector<int16_t> whole = DecodeAll(good, 16384);
    for (size_t cut : {size_t(20), good.size() / 3, good.size() - 7}) {
        std::vector<uint8_t> part(good.begin(), good.begin() + std::ptrdiff_t(cut));
        const std::vector<int16_t> decoded = DecodeAll(part, 16384);
        EXPECT_LE(decoded.size(), whole.size());
    }
    std::vector<uint8_t> corrupted = good;
    for (size_t i = good.size() / 4; i < good.size(); i += 97) corrupted[i] ^= 0x5A;
    DecodeAll(corrupted, 16384);
}
