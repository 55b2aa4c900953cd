// Frame-exact decoding: every frame the engine uploads, read back from its three L8
// textures, equals ffmpeg's own Theora decode of the clip byte for byte, with the same
// number of frames, for 4:2:0 (even and odd sizes), 4:2:2 and 4:4:4 clips, with and
// without sound.
// test-depends: shader_data
#include "VideoRenderSupport.h"

using namespace videotest;

namespace {

using DecodeTest = VideoRenderFixtureOf<shadertest::ShaderFixture>;

struct Case {
    const char* clip;
    const char* pixelFormat;
    uint32_t width, height, chromaWidth, chromaHeight;
};

TEST_F(DecodeTest, EveryFrameEqualsFfmpegsDecode) {
    const Case cases[] = {
        {"stereo320", "yuv420p", 320, 240, 160, 120}, {"odd161", "yuv420p", 161, 97, 81, 49},
        {"silent", "yuv420p", 160, 120, 80, 60},      {"yuv422", "yuv422p", 160, 120, 80, 120},
        {"grad444", "yuv444p", 160, 120, 160, 120},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) names.push_back(c.clip);
    Mount(names);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        const std::string probe = ProbeVideo(Clip(c.clip));
        ASSERT_NE(probe.find(std::to_string(c.width) + "," + std::to_string(c.height) + "," + c.pixelFormat),
                  std::string::npos)
            << probe;
        const std::vector<uint8_t> reference = RawFrames(Clip(c.clip), c.pixelFormat);
        const size_t lumaBytes = size_t(c.width) * c.height, chromaBytes = size_t(c.chromaWidth) * c.chromaHeight;
        const size_t frameBytes = lumaBytes + 2 * chromaBytes;
        ASSERT_GT(reference.size(), 0u);
        ASSERT_EQ(reference.size() % frameBytes, 0u);
        const size_t want = reference.size() / frameBytes;

        ASSERT_TRUE(Start(c.clip));
        PlayToEnd(25.0, uint32_t(want) + 60);
        EXPECT_FALSE(gVideoEngine->IsPlaying());
        ASSERT_EQ(frames.size(), want) << LogText();
        for (size_t n = 0; n < want; ++n) {
            const Frame& f = frames[n];
            const size_t offsets[3] = {n * frameBytes, n * frameBytes + lumaBytes, n * frameBytes + lumaBytes + chromaBytes};
            const size_t sizes[3] = {lumaBytes, chromaBytes, chromaBytes};
            for (int p = 0; p < 3; ++p) {
                ASSERT_EQ(f.width[p], p ? c.chromaWidth : c.width) << "plane " << p;
                ASSERT_EQ(f.height[p], p ? c.chromaHeight : c.height) << "plane " << p;
                ASSERT_EQ(f.planes[p].size(), sizes[p]);
                ASSERT_TRUE(std::equal(f.planes[p].begin(), f.planes[p].end(), reference.begin() + ptrdiff_t(offsets[p])))
                    << "frame " << n << " plane " << p;
            }
        }
    }
}

}  // namespace
