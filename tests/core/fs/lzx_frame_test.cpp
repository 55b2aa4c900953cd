// test-sanitize: thread address
// test-sources: support/LzxTestEncoder.cpp
// test-link: mspack
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CaptureLogSink.h"
#include "core/fs/LzxFrameDecoder.h"
#include "core/fs/support/LzxTestEncoder.h"

namespace {

struct Drained {
    std::vector<uint8_t> out;
    LzxResult result = kLzxOk;
    bool finished = false;
};

// Feeds chunks of 1..maxChunk bytes into destinations of 0..maxRoom bytes, as a container
// stream would; a call that neither consumes nor produces moves on to the next chunk.
Drained Drain(const std::vector<uint8_t>& stream, uint32_t maxChunk, uint32_t maxRoom, uint32_t seed) {
    std::mt19937 rng(seed);
    LzxFrameDecoder d;
    Drained r;
    std::vector<uint8_t> room(maxRoom + 1);
    size_t pos = 0;
    uint32_t chunkLeft = 0;
    for (int idle = 0, calls = 0; idle < 3 && calls < 10000000; ++calls) {
        if (chunkLeft == 0 && pos < stream.size())
            chunkLeft = std::min<uint32_t>(1 + rng() % maxChunk, static_cast<uint32_t>(stream.size() - pos));
        uint32_t used = chunkLeft, made = rng() % (maxRoom + 1);
        r.result = d.Decompress(stream.data() + pos, &used, room.data(), &made);
        EXPECT_LE(used, chunkLeft);
        r.out.insert(r.out.end(), room.begin(), room.begin() + made);
        pos += used;
        chunkLeft -= used;
        if (r.result != kLzxOk) break;
        idle = used || made ? 0 : (pos == stream.size() ? idle + 1 : idle);
        if (!used && !made && chunkLeft && pos < stream.size()) chunkLeft = 0;  // wants more input: next chunk
    }
    r.finished = d.Finished();
    return r;
}

std::vector<uint8_t> Stream(uint32_t size, uint32_t seed, const LzxTestOptions& o, const std::vector<uint8_t>& trailing = {}) {
    return LzxTestFrameStream(LzxTestEncode(LzxTestData(size, seed), o), trailing);
}

}  // namespace

// Any split of the input, one byte at a time included, and any destination sizes give
// the same bytes; input after the last frame is consumed and ignored.
TEST(LzxFrameDecoder, RandomSplitsAndDestinationsGiveTheSameBytes) {
    LzxTestOptions o;
    o.blocks = {{1, 50000}, {3, 3333}, {2, 40000}};
    o.e8Size = 12000000;
    const std::vector<uint8_t> data = LzxTestData(140000, 5);
    const std::vector<uint8_t> stream = LzxTestFrameStream(LzxTestEncode(data, o), {1, 2, 3, 4, 5, 0xFF, 0, 1});
    struct Shape {
        uint32_t chunk, room;
    };
    for (Shape s : {Shape{1u << 20, 1u << 20}, Shape{1, 1u << 17}, Shape{1u << 20, 1}, Shape{1, 7}, Shape{700, 5000},
                    Shape{40000, 33000}, Shape{3, 32768}}) {
        for (uint32_t seed = 1; seed <= 2; ++seed) {
            SCOPED_TRACE(testing::Message() << s.chunk << " " << s.room << " " << seed);
            const Drained r = Drain(stream, s.chunk, s.room, seed);
            EXPECT_EQ(r.result, kLzxOk);
            EXPECT_TRUE(r.finished);
            EXPECT_TRUE(r.out == data);
        }
    }
}

// The last frame is decoded as soon as its header and data are in, bytes after it or not.
TEST(LzxFrameDecoder, LastFrameShapes) {
    LzxTestOptions o;
    for (uint32_t size : {0u, 1u, 32768u, 65536u, 65537u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> data = LzxTestData(size, size);
        const std::vector<uint8_t> stream = LzxTestFrameStream(LzxTestEncode(data, o));
        LzxFrameDecoder d;
        std::vector<uint8_t> out(size + 1);
        uint32_t used = static_cast<uint32_t>(stream.size()), made = size + 1;
        EXPECT_EQ(d.Decompress(stream.data(), &used, out.data(), &made), kLzxOk);
        EXPECT_EQ(used, stream.size());
        ASSERT_EQ(made, size);
        out.resize(made);
        EXPECT_TRUE(out == data);
        EXPECT_TRUE(d.Finished());
        used = 4;
        made = 10;
        EXPECT_EQ(d.Decompress("junk", &used, out.data(), &made), kLzxOk);
        EXPECT_EQ(used * 100 + made, 400u);
    }
}

TEST(LzxFrameDecoder, TruncatedStreamStopsWithoutFinishing) {
    const std::vector<uint8_t> stream = Stream(100000, 9, LzxTestOptions{});
    for (size_t cut : {size_t(1), size_t(2), size_t(40), stream.size() - 1}) {
        SCOPED_TRACE(cut);
        const std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<long>(cut));
        const Drained r = Drain(part, 1000, 40000, 3);
        EXPECT_EQ(r.result, kLzxOk);
        EXPECT_FALSE(r.finished);
        EXPECT_LT(r.out.size(), 100000u);
    }
}

// A header announcing more than 32768 bytes, or bad frame data, fails after the good
// frames before it, with one warning, and stays failed.
TEST(LzxFrameDecoder, CorruptFramesFailOnceAndStayFailed) {
    CaptureLogSink sink;
    sink.Attach();
    const std::vector<uint8_t> data = LzxTestData(70000, 4);
    const LzxTestFrames frames = LzxTestEncode(data, LzxTestOptions{});
    {
        std::vector<uint8_t> stream = LzxTestFrameStream(frames);
        const size_t last = 2 + frames.compressed[0].size() + 2 + frames.compressed[1].size();
        ASSERT_EQ(stream[last], 0xFF);
        stream[last + 1] = 0x80;
        stream[last + 2] = 0x01;  // 32769 bytes
        const Drained r = Drain(stream, 1u << 20, 1u << 20, 1);
        EXPECT_EQ(r.result, kLzxCorruptData);
        ASSERT_EQ(r.out.size(), 65536u);
        EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), data.begin()));
    }
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0].severity, 3);
    EXPECT_TRUE(sink.Contains("LzxFrameDecoder::Decompress - corrupt LZX data in frame 2"));
    sink.Clear();
    {
        LzxTestFrames bad = frames;
        for (size_t i = 0; i < bad.compressed[1].size(); i += 7) bad.compressed[1][i] ^= 0x5A;
        const std::vector<uint8_t> stream = LzxTestFrameStream(bad);
        LzxFrameDecoder d;
        std::vector<uint8_t> out(1u << 17);
        uint32_t used = static_cast<uint32_t>(stream.size()), made = 1u << 17;
        EXPECT_EQ(d.Decompress(stream.data(), &used, out.data(), &made), kLzxCorruptData);
        EXPECT_EQ(made, 32768u);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + 32768, data.begin()));
        used = static_cast<uint32_t>(stream.size());
        made = 1u << 17;
        EXPECT_EQ(d.Decompress(stream.data(), &used, out.data(), &made), kLzxCorruptData);
        EXPECT_EQ(used + made, 0u);
        EXPECT_FALSE(d.Finished());
    }
    EXPECT_EQ(sink.Messages().size(), 1u);
}
