// The three threads of a video for real: the render thread runs the ops, the sound thread
// (real-time null output) owns the voice, the loader thread fills the streaming reader.
// A looping clip plays, is stopped, a clip with sound is replaced and the engine closed
// while the renderer runs; the player is freed on the sound thread after its voice.
// Every wait has a time-out.
// test-depends: shader_data
// test-sanitize: thread address
#include <atomic>

#include "../../render/shaders/ShaderTestSupport.h"
#include "VideoTestSupport.h"
#include "sound/SoundEngine.h"

using namespace videotest;
using rendertest::RunOnRenderThread;
using rendertest::WaitUntil;

namespace {

struct ThreadsTest : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        gVideoEngine->Init();
        ASSERT_TRUE(gSoundEngine->Start());
        soundStarted = true;
    }
    void TearDown() override {
        gVideoEngine->Close();
        if (soundStarted) gSoundEngine->Stop();
        folder.Remove();
        ShaderFixture::TearDown();
    }
    // One frame with the video's posts, then a short sleep.
    void Frame() {
        BeginFrame();
        gVideoEngine->UpdateFrame();
        gVideoEngine->DrawFrame();
        EndFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    uint32_t FrameCounter() {
        uint32_t n = 0;
        RunOnRenderThread([&] { n = CurrentPlayer() ? CurrentPlayer()->FrameCounter() : 0; });
        return n;
    }
    // Waits until every job posted to the sound thread so far has run.
    bool SoundJobsDone() {
        std::atomic<bool> done{false};
        gSoundEngine->PostJob([](void* flag, const uint8_t*, uint32_t) { static_cast<std::atomic<bool>*>(flag)->store(true); },
                              &done, nullptr, 0);
        return WaitUntil([&] { return done.load(); });
    }

    VideoFolder folder;
    bool soundStarted = false;
};

TEST_F(ThreadsTest, PlayLoopStopReplaceAndClose) {
    folder.Mount({"loop", "long"});
    // A looping clip keeps playing past its length on the timer or its sound's clock.
    gVideoEngine->Play("loop", nullptr, true, true, 0.5f);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(900)) {
        Frame();
        ASSERT_TRUE(gVideoEngine->IsPlaying());
    }
    EXPECT_GT(FrameCounter(), 12u);  // past one pass of ten frames
    // Stop: false once the op ran.
    gVideoEngine->Stop();
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(gVideoEngine->IsPlaying());
    EXPECT_TRUE(SoundJobsDone());

    // A clip with sound, replaced while it plays, then the engine closed.
    gVideoEngine->Play("long", nullptr, true, false, 1.0f);
    ASSERT_TRUE(WaitUntil([&] { return Frame(), FrameCounter() >= 3; }));
    gVideoEngine->Play("long", nullptr, true, false, 1.0f);
    for (int i = 0; i < 20; ++i) Frame();
    EXPECT_TRUE(gVideoEngine->IsPlaying());
    gVideoEngine->Close();
    EXPECT_EQ(gVideoEngine->FinishedCount(), gVideoEngine->PlayCount());
    RunOnRenderThread([] { EXPECT_EQ(CurrentPlayer(), nullptr); });
    // The voices are destroyed and the players freed by the sound thread's jobs.
    EXPECT_TRUE(SoundJobsDone());
    gVideoEngine->Init();
}

}  // namespace
