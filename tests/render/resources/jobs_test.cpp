// Render resource jobs on the running renderer: queue, budgets, order, waits, creation jobs.
// test-sanitize: thread address
// test-timeout: 180
#include <atomic>
#include <future>

#include "../RenderTestSupport.h"
#include "core/Memory.h"
#include "platform/os/Thread.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderJobs.h"
#include "render/VornexRendererObject.h"

using namespace rendertest;

namespace {

std::atomic<int> gExecuted{0};
std::atomic<int> gDeleted{0};
std::vector<int> gOrder;  // render thread; read after a flush

// Finishes after `passes` executions; records `mark` in gOrder when it is not 0.
struct CountingJob : VornexRendererResourceAccessJob {
    CountingJob(uint32_t cost, uint32_t flags, uint32_t passes = 1, int mark = 0)
        : VornexRendererResourceAccessJob(flags & JOB_WANTS_EVENT, flags & JOB_FIRE_AND_FORGET, flags & JOB_IN_STREAM),
          cost(cost), passes(passes), mark(mark) {}
    ~CountingJob() override {
        WaitBeforeDestruction();
        ++gDeleted;
    }
    uint32_t GetCost() const override { return cost; }
    bool Execute(VornexRenderer&) override {
        ++gExecuted;
        if (mark) gOrder.push_back(mark);
        return ++executions % passes == 0;
    }
    uint32_t cost, passes;
    int mark;
    std::atomic<uint32_t> executions{0};
};

struct JobsTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        gExecuted = gDeleted = 0;
        gOrder.clear();
    }
};

std::atomic<uint32_t> gFullAttempts{0};
std::atomic<bool> gRelease{false};

struct SmallQueueTest : JobsTest {
    void Configure(RendererSettings&) override { gVornexRenderer.SetResourceJobQueueBytes(1024); }
    void TearDown() override {
        gVornexRenderer.SetResourceJobQueueFullWait(nullptr);
        JobsTest::TearDown();
        gVornexRenderer.SetResourceJobQueueBytes(0x10000);
    }
};

TEST_F(SmallQueueTest, FullQueueWarnsOnTheFirstAndEveryTenthAttempt) {
    gRelease = false;
    gFullAttempts = 0;
    // The 25th attempt lets the blocked render thread drain the queue.
    gVornexRenderer.SetResourceJobQueueFullWait([] {
        if (++gFullAttempts != 25) return;
        const uint32_t done = gVornexRenderer.DoneResourceJobs();
        gRelease = true;
        WaitUntil([&] { return gVornexRenderer.DoneResourceJobs() != done; });
    });
    std::atomic<bool> blocked{false};
    const std::function<void()> block = [&] {
        blocked = true;
        WaitUntil([] { return gRelease.load(); });
    };
    PostCall(&block);
    gVornexRenderer.FlushCommands(false);
    ASSERT_TRUE(WaitUntil([&] { return blocked.load(); }));
    log.Clear();
    std::vector<std::unique_ptr<CountingJob>> jobs;
    while (gFullAttempts == 0 && jobs.size() < 200) {
        jobs.emplace_back(new CountingJob(0, 0));
        SubmitResourceJob(jobs.back().get(), false);
    }
    int warnings = 0;
    for (const auto& m : log.Messages()) warnings += m.text == "Resource creation queue is causing delay!!!";
    EXPECT_EQ(warnings, 3);  // attempts 1, 11 and 21
    jobs.clear();           // each waits for its execution
    EXPECT_EQ(gDeleted.load(), gExecuted.load());
}

TEST_F(JobsTest, BudgetsBoundOnePassAndLaterFramesWait) {
    struct Case { uint32_t cost, budget; float seconds; int perCall; };
    // The time limits are far beyond what the jobs take, even under a sanitizer on a loaded
    // machine: the unit budget bounds each pass.
    const Case cases[] = {{1000, 1000, 1.0f, 1}, {200, 1000, 1.0f, 5}, {50, 1000, 1.0f, 20}, {1000, 0, 0.0f, 30}};
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<CountingJob>> jobs;
        int first = -1;
        RunOnRenderThread([&] {
            for (int i = 0; i < 30; ++i) {
                jobs.emplace_back(new CountingJob(c.cost, 0));
                SubmitResourceJob(jobs.back().get(), false);
            }
            gExecuted = 0;
            gVornexRenderer.ProcessResourceJobs(c.budget, c.seconds);
            first = gExecuted;
        });
        EXPECT_EQ(first, c.perCall) << c.cost;
    }
    // A job stamped with a frame the render thread has not finished waits for it.
    std::atomic<bool> queued{false};
    CountingJob job(1000, JOB_WANTS_EVENT);
    bool ranEarly = true;
    const std::function<void()> inFrame = [&] {
        WaitUntil([&] { return queued.load(); });
        const bool stopped = gVornexRenderer.ProcessResourceJobs(0, 0.0f);
        ranEarly = !stopped || job.executions != 0;
    };
    PostCall(&inFrame);
    gVornexRenderer.EndFrame();
    SubmitResourceJob(&job, false);
    queued = true;
    job.WaitForCompletion();
    EXPECT_FALSE(ranEarly);
    EXPECT_EQ(job.executions.load(), 1u);
}

// After a run of waited jobs (each spending a whole pass's budget) the render thread may
// look for the next one for a moment, but then sleeps: its ticks stop.
TEST_F(JobsTest, AfterItsJobsTheRenderThreadSleepsAgain) {
    for (uint32_t flags : {0u, uint32_t(JOB_WANTS_EVENT)})
        for (int i = 0; i < 20; ++i) {
            CountingJob job(1000, flags);
            SubmitResourceJob(&job, true);
        }
    os::Sleep(20);
    const uint32_t ticks = gVornexRenderer.TickCount();
    os::Sleep(100);
    EXPECT_LE(gVornexRenderer.TickCount(), ticks + 2);
}

TEST_F(JobsTest, WaitedInStreamAndFireAndForgetJobs) {
    // An in-stream job runs between the render commands around it, never in the queue.
    const uint32_t queued = gVornexRenderer.PostedResourceJobs();
    const std::function<void()> one = [] { gOrder.push_back(1); }, three = [] { gOrder.push_back(3); };
    CountingJob inStream(1000, JOB_IN_STREAM | JOB_WANTS_EVENT, 1, 2);
    PostCall(&one);
    SubmitResourceJob(&inStream, false);
    PostCall(&three);
    gVornexRenderer.FlushCommands(true);
    inStream.WaitForCompletion();
    EXPECT_EQ(gOrder, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(gVornexRenderer.PostedResourceJobs(), queued);
    // Waited jobs return after their last pass, and can be submitted again once idle.
    for (uint32_t flags : {0u, uint32_t(JOB_WANTS_EVENT), uint32_t(JOB_IN_STREAM)}) {
        CountingJob job(1000, flags, 3);
        for (uint32_t round = 1; round <= 2; ++round) {
            SubmitResourceJob(&job, true);
            EXPECT_EQ(job.executions.load(), 3 * round) << flags;
        }
    }
    // Fire-and-forget jobs are deleted by the render thread, a never-submitted waited one at once.
    gDeleted = gExecuted = 0;
    for (uint32_t flags : {uint32_t(JOB_FIRE_AND_FORGET), uint32_t(JOB_FIRE_AND_FORGET | JOB_IN_STREAM)})
        for (int i = 0; i < 10; ++i) SubmitResourceJob(new CountingJob(50, flags), false);
    gVornexRenderer.FlushCommands(false);
    ASSERT_TRUE(WaitUntil([] { return gDeleted == 20; }));
    EXPECT_EQ(gExecuted.load(), 20);
    auto deleted = std::async(std::launch::async, [] { delete new CountingJob(0, JOB_WANTS_EVENT); });
    EXPECT_EQ(deleted.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(JobsTest, CreationJobsFillWhatTheReadBackJobsReturn) {
    std::vector<uint8_t> vertices(96), indices(24);
    for (size_t i = 0; i < vertices.size(); ++i) vertices[i] = uint8_t(i * 7 + 1);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(200 - i);
    std::vector<bool> passes;
    RunOnRenderThread([&] {
        VornexRendererVertexBufferCreationJob withData(96, 0, 0, gfx::POOL_MANAGED, vertices.data(), false, 0),
            without(96, 0, 0, gfx::POOL_MANAGED, nullptr, false, 0);
        passes = {withData.Execute(gVornexRenderer), withData.Execute(gVornexRenderer), without.Execute(gVornexRenderer)};
    });
    EXPECT_EQ(passes, (std::vector<bool>{false, true, true}));  // data: filled on the second pass

    VornexRendererVertexBufferCreationJob vb(96, 0, 0, gfx::POOL_MANAGED, vertices.data(), false, JOB_WANTS_EVENT);
    VornexRendererIndexBufferCreationJob ib(24, 0, gfx::FMT_INDEX16, gfx::POOL_MANAGED, indices.data(), false, 0);
    const gfx::VertexElement elements[] = {{0, 0, gfx::DECLTYPE_FLOAT3, 0, gfx::DECLUSAGE_POSITION, 0}, gfx::kDeclEnd};
    VornexRendererVertexDeclarationCreationJob declare(elements, 2, 0), empty(&gfx::kDeclEnd, 1, 0);
    VornexRendererResourceAccessJob* creations[] = {&vb, &ib, &declare, &empty};
    for (VornexRendererResourceAccessJob* job : creations) SubmitResourceJob(job, true);
    EXPECT_EQ(empty.TakeDeclaration(), nullptr);
    gfx::VertexBuffer* vertexBuffer = vb.TakeBuffer();
    gfx::IndexBuffer* indexBuffer = ib.TakeBuffer();
    gfx::VertexDeclaration* declaration = declare.TakeDeclaration();
    VornexRendererVertexBufferSerializationJob readVertices(vertexBuffer, JOB_WANTS_EVENT);
    VornexRendererIndexBufferSerializationJob readIndices(indexBuffer, 0);
    VornexRendererVertexDeclarationSerializationJob readElements(declaration, 0);
    const auto* elementBytes = reinterpret_cast<const uint8_t*>(elements);
    const std::vector<uint8_t> expected[] = {vertices, indices, {elementBytes, elementBytes + sizeof elements}};
    VornexRendererBufferSerializationJob* reads[] = {&readVertices, &readIndices, &readElements};
    for (int i = 0; i < 3; ++i) {
        SubmitResourceJob(reads[i], true);
        uint32_t size = 0;
        auto* block = static_cast<uint8_t*>(reads[i]->TakeBlock(&size));
        EXPECT_EQ(std::vector<uint8_t>(block, block + size), expected[i]) << i;
        EngineFree(block);
    }
    RunOnRenderThread([&] {
        SafeReleaseInterface(&vertexBuffer);
        SafeReleaseInterface(&indexBuffer);
        SafeReleaseInterface(&declaration);
    });
}

TEST_F(JobsTest, TextureCreationCopiesRowsOfTheFormatsTexelSize) {
    const std::pair<gfx::Format, uint32_t> cases[] = {
        {gfx::FMT_X8R8G8B8, 4}, {gfx::FMT_A8, 1}, {gfx::FMT_A8L8, 2}, {gfx::FMT_R5G6B5, 0}};  // 0: nothing copied
    for (const auto& [format, texel] : cases) {
        const uint32_t rowBytes = 8 * (texel ? texel : 2);
        std::vector<uint8_t> pixels(rowBytes * 4), rows;
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 13 + 5);
        VornexRendererTextureCreationJob job(8, 4, 1, 0, format, gfx::POOL_MANAGED, pixels.data(),
                                             uint32_t(pixels.size()), false, JOB_WANTS_EVENT);
        SubmitResourceJob(&job, true);
        DeviceObjectHandle* handle = job.TakeHandle();
        ASSERT_NE(handle, nullptr) << format;
        RunOnRenderThread([&] {
            gfx::LockedRect locked{};
            handle->Texture2D()->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY);
            for (uint32_t y = 0; y < 4; ++y) {
                const uint8_t* row = static_cast<const uint8_t*>(locked.bits) + y * locked.pitch;
                rows.insert(rows.end(), row, row + rowBytes);
            }
            handle->Texture2D()->UnlockRect(0);
        });
        EXPECT_EQ(rows == pixels, texel != 0) << format;
        // References are counted on the render thread: +1 and -2 leave the holder freed.
        SubmitResourceAddRefJob(handle, false);
        VornexRendererTextureUnloadDataJob unload(handle, 0);
        SubmitResourceJob(&unload, true);
        RunOnRenderThread([&] { EXPECT_TRUE(handle->RefCount() == 2 && !handle->Texture()); });
        SubmitTextureDeletionJob(handle, false);
        SubmitTextureDeletionJob(handle, false);
        gVornexRenderer.WaitForResourceJobs(1);  // ASan reports the holder if it leaked
    }
}

struct TestObject : VornexRendererObject {
    void PreRelease() override { preReleased = true; }
    void Destroy() override {
        if (preReleased && IsPendingRelease() && os::CurrentThreadId() == gVornexRenderer.ThreadId()) ++gDeleted;
        delete this;
    }
    bool preReleased = false;
};

TEST_F(JobsTest, RendererObjectsAreDestroyedOnTheRenderThread) {
    for (const auto& [viaStream, wait] : {std::pair{true, false}, {false, false}, {false, true}}) {
        (new TestObject)->Release(viaStream, wait);
        gVornexRenderer.FlushCommands(true);
        gVornexRenderer.WaitForResourceJobs(1);
    }
    EXPECT_EQ(gDeleted.load(), 3);
}

}  // namespace
