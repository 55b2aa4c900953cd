// Frames posted from the main thread while the render thread draws the ones before them:
// every frame's gathered work is drawn once, in its passes, on the render thread only.
// test-sanitize: thread
#include <atomic>
#include <thread>

#include "PassesTestSupport.h"

using namespace rendertest;
using namespace passtest;

namespace {

// Counts its draws per pass; the main thread polls the counts while frames run.
struct CountingContext : RecordingContext {
    using RecordingContext::RecordingContext;
    void Draw(void* task, const Matrix& m, const RenderTaskArguments& a) override {
        RecordingContext::Draw(task, m, a);
        if (std::this_thread::get_id() == mainThread) offThread.fetch_add(1, std::memory_order_relaxed);
        for (uint32_t i = 0; i < kPasses; ++i)
            if (a.pass == 1u << i) draws[i].fetch_add(1, std::memory_order_release);
    }
    static constexpr uint32_t kPasses = 5;  // passes 1, 2, 4, 8, 16
    std::atomic<uint32_t> draws[kPasses] = {};
    std::atomic<uint32_t> offThread{0};
    std::thread::id mainThread = std::this_thread::get_id();
};

struct FramesThreadsTest : RendererFixture {
    void SetUp() override {
        Seen().clear();
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        Matrix projection;
        projection.LoadPerspectiveFovLH(1.0f, 16.0f / 9.0f, 1.0f, 1000.0f);
        gVornexRenderer.SetCamera(Matrix::IDENTITY, projection, Matrix::IDENTITY);
        recorder->SetDrawRecordMode(gfx::DrawRecordMode::Off);
    }
};

TEST_F(FramesThreadsTest, FramesPostedWhileTheRenderThreadDrawsAreEachDrawnOnce) {
    constexpr uint32_t kFrames = 60;
    EntityRenderingContextSetup s;
    s.creationFlags = ERC_FLAG_NO_GRID;
    s.localBox = BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
    s.world = Matrix::IDENTITY;
    s.world.r[3] = Vector(0, 0, 10, 1);
    CountingContext forward(s), deferred(s);
    forward.PostSetBucket(4);
    gVornexRenderer.FlushCommands(true);
    const uint64_t presents = recorder->PresentCount();

    for (uint32_t frame = 0; frame < kFrames; ++frame) {
        BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        gVornexRenderer.SubmitRenderTask(&forward, RENDER_FLAG_FORWARD);
        gVornexRenderer.SubmitRenderTask(&deferred, RENDER_FLAG_DEFERRED | RENDER_FLAG_DEFERRED_THIRD);
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0, 1);
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        // Up to two frames ahead, as the game loop runs; the counts move meanwhile.
        gVornexRenderer.WaitForFrameLatency(2);
        EXPECT_LE(deferred.draws[1].load(std::memory_order_acquire), frame + 1);
    }
    ASSERT_TRUE(WaitUntil([&] { return deferred.draws[3].load(std::memory_order_acquire) == kFrames; }, 30.0))
        << deferred.draws[3].load();
    gVornexRenderer.FlushCommands(true);

    // Forward tasks draw in pass 1; the deferred mesh in passes 2, 4 and 8; nothing at once.
    const uint32_t forwardWant[CountingContext::kPasses] = {kFrames, 0, 0, 0, 0};
    const uint32_t deferredWant[CountingContext::kPasses] = {0, kFrames, kFrames, kFrames, 0};
    for (uint32_t i = 0; i < CountingContext::kPasses; ++i) {
        SCOPED_TRACE(1u << i);
        EXPECT_EQ(forward.draws[i].load(), forwardWant[i]);
        EXPECT_EQ(deferred.draws[i].load(), deferredWant[i]);
    }
    EXPECT_EQ(forward.offThread.load() + deferred.offThread.load(), 0u);
    EXPECT_EQ(Seen().size(), size_t(4 * kFrames));
    EXPECT_EQ(recorder->PresentCount() - presents, uint64_t(kFrames));
    EXPECT_EQ(gVornexRenderer.TaskOverflow(), false);
}

}  // namespace
