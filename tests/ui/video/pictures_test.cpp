// The full-screen video draw on the drawing device (Mesa's software rasteriser without a
// GPU): frame K of a 160 x 120 clip drawn into a 160 x 120 target (scale 1), read back,
// against ffmpeg's RGB of the same frame; and a UIVideo inside a screen. Tolerances, never
// byte-exact; a failed check saves the picture under the build folder and names it.
// test-depends: shader_data
#include <cmath>

#include "../elements/KindsTestSupport.h"
#include "VideoRenderSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "ui/elements/UIViewState.h"
#include "ui/video/UIVideo.h"

using namespace videotest;

namespace {

constexpr uint32_t kWidth = 160, kHeight = 120;

struct PicturesTest : VideoRenderFixtureOf<shadertest::DrawingShaderFixture> {
    PicturesTest() { clientWidth = int32_t(kWidth), clientHeight = int32_t(kHeight); }

    // Draws the current frame full screen into a fresh target; B, G, R, A per pixel. With
    // save, the picture goes to the build's pictures folder.
    std::vector<uint8_t> DrawFrame(const std::string& name, bool save) {
        using namespace gfx;
        std::vector<uint8_t> bytes;
        Surface *target = nullptr, *frameTarget = nullptr;
        BeginFrame();
        RunOnRenderThread([&] {
            Device* device = gVornexRenderer.Device();
            device->GetRenderTarget(0, &frameTarget);
            ASSERT_EQ(device->CreateRenderTarget(kWidth, kHeight, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr),
                      OK);
            gVornexRenderer.SetRenderTargets(target, nullptr, 1);
            gVornexRenderer.ApplyViewport(0, 0, kWidth, kHeight, 0.0f, 1.0f);
            device->Clear(0, nullptr, CLEAR_TARGET, 0, 1.0f, 0);
        });
        gVideoEngine->DrawFrame();
        RunOnRenderThread([&] {
            if (!target) return;
            if (Failed(recorder->ReadSurface(target, &bytes)) || bytes.size() != size_t(kWidth) * kHeight * 4) bytes.clear();
            if (save) {
                const std::string dir = PROJECT_BINARY_ROOT "/pictures";
                std::filesystem::create_directories(dir);
                const std::string path = dir + "/" + name + ".png";
                std::string error;
                if (SaveSurfacePng(gVornexRenderer.Device(), target, path, &error)) std::printf("picture: %s\n", path.c_str());
            }
            gVornexRenderer.SetRenderTargets(frameTarget, nullptr, 1);
            target->Release();
            frameTarget->Release();
        });
        EndFrame();
        return bytes;
    }
};

struct Case {
    const char* clip;
    uint32_t frame;
    double within;       // per channel, out of 255
    double share;        // of the pixels within it
    double meanAtMost;   // mean difference per channel, out of 255
};

// ffmpeg's RGB of frame K: its decode upsampled to 4:4:4 (chroma centred and bilinear, as
// Theora sites it), then converted. Its direct 4:2:0 to RGB path sites the chroma rows a
// quarter of a chroma row lower, which no correct reader matches on sharp chroma edges.
std::string ReferenceFrame(const std::string& clip, uint32_t frame) {
    const std::string raw = Clip(clip) + ".frame" + std::to_string(frame) + ".444.rgb";
    const std::string scale = "scale=flags=bilinear+accurate_rnd+full_chroma_int";
    return MakeOnce(raw, "ffmpeg -y -v error -i '" + Clip(clip) + "' -vf \"select=eq(n\\," + std::to_string(frame) +
                             ")," + scale + ",format=yuv444p," + scale + ",format=rgb24\" -frames:v 1 -f rawvideo {out}")
               ? raw
               : "";
}

TEST_F(PicturesTest, AFrameDrawnFullScreenMatchesFfmpegsRgb) {
    const Case cases[] = {{"grad444", 5, 3.0, 0.99, 3.0}, {"pic420", 5, 8.0, 0.99, 2.0}};
    Mount({"grad444", "pic420"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        const std::string raw = ReferenceFrame(c.clip, c.frame);
        ASSERT_FALSE(raw.empty());
        const std::vector<uint8_t> want = ReadBytes(raw);
        ASSERT_EQ(want.size(), size_t(kWidth) * kHeight * 3);
        ASSERT_TRUE(Start(c.clip));
        for (uint32_t i = 0; i < 60 && frames.size() < c.frame + 1; ++i) {
            clock.AdvanceSeconds(0.04);
            Update();
        }
        ASSERT_EQ(frames.size(), size_t(c.frame) + 1);
        std::vector<uint8_t> got = DrawFrame(c.clip, false);
        ASSERT_EQ(got.size(), size_t(kWidth) * kHeight * 4);
        size_t inside = 0;
        double sum = 0.0;
        for (size_t p = 0; p < size_t(kWidth) * kHeight; ++p) {
            double worst = 0.0;
            for (int ch = 0; ch < 3; ++ch) {
                const double d = std::fabs(double(got[p * 4 + 2 - ch]) - double(want[p * 3 + ch]));
                worst = std::max(worst, d);
                sum += d;
            }
            inside += worst <= c.within;
        }
        const double share = double(inside) / double(kWidth * kHeight);
        const double mean = sum / double(kWidth * kHeight * 3);
        EXPECT_GE(share, c.share);
        EXPECT_LE(mean, c.meanAtMost);
        if (share < c.share || mean > c.meanAtMost) DrawFrame(std::string("video_") + c.clip, true);
    }
}

// A UIVideo inside a screen, drawn into a kSide x kSide target as a frame draws the tree.
constexpr uint32_t kSide = 128;

struct UIVideoPicturesTest : VideoRenderFixtureOf<kindstest::KindsFixtureOf<shadertest::DrawingShaderFixture>> {
    void SetUp() override {
        VideoRenderFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        SetUISizeOverride(float(kSide), float(kSide));
        screen->SetSize(float(kSide), float(kSide));
    }
    // 0xRRGGBB per pixel.
    std::vector<uint32_t> DrawScreen(const std::string& name, bool save) {
        std::vector<uint32_t> pixels = kindstest::DrawScreenPixels(*this, screen, kSide, name, save);
        screen->Update(Vector());
        return pixels;
    }
};

TEST_F(UIVideoPicturesTest, AnElementShowsTheFrameInItsRectangleOnly) {
    constexpr uint32_t kFrame = 5, kX = 32, kY = 40, kW = 64, kH = 48;
    Mount({"pic420"});
    const std::string raw = ReferenceFrame("pic420", kFrame);
    ASSERT_FALSE(raw.empty());
    const std::vector<uint8_t> want = ReadBytes(raw);
    ASSERT_EQ(want.size(), size_t(kWidth) * kHeight * 3);
    double wantMean[3] = {};
    for (size_t p = 0; p < size_t(kWidth) * kHeight; ++p)
        for (int c = 0; c < 3; ++c) wantMean[c] += want[p * 3 + c] / double(kWidth * kHeight);

    UIVideo* video = new UIVideo;
    video->SetPosition(float(kX), float(kY), 0);
    video->SetSize(float(kW), float(kH));
    screen->AddChild(video);
    ASSERT_TRUE(Start("pic420"));
    for (uint32_t i = 0; i < 60 && frames.size() < kFrame + 1; ++i) {
        clock.AdvanceSeconds(0.04);
        Update();
    }
    ASSERT_EQ(frames.size(), size_t(kFrame) + 1);

    const auto check = [&](const std::vector<uint32_t>& px) {
        EXPECT_EQ(px.size(), size_t(kSide) * kSide);
        if (px.size() != size_t(kSide) * kSide) return false;
        double mean[3] = {};
        size_t outside = 0;
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const uint32_t v = px[y * kSide + x];
                if (x >= kX && x < kX + kW && y >= kY && y < kY + kH) {
                    for (int c = 0; c < 3; ++c) mean[c] += double((v >> (16 - 8 * c)) & 0xFF) / double(kW * kH);
                } else if (v != 0) {
                    ++outside;
                }
            }
        bool ok = outside == 0;
        EXPECT_EQ(outside, 0u) << "pixels drawn outside the element";
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(mean[c], wantMean[c], 4.0) << "channel " << c;
            ok = ok && std::fabs(mean[c] - wantMean[c]) <= 4.0;
        }
        return ok;
    };
    if (!check(DrawScreen("uivideo", false))) DrawScreen("uivideo-failed", true);
}

}  // namespace
