// Render resource jobs on the running renderer: the queue's delay warning, budgets and
// frame stamps, in-stream jobs in command order, waited and fire-and-forget jobs,
// creation jobs read back through the read-back jobs, and renderer objects released
// on the render thread.
// test-sanitize: thread address
// test-timeout: 180
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <vector>

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

// Counts its executions; finishes after `passes` of them.
struct CountingJob : VornexRendererResourceAccessJob {
    CountingJob(uint32_t cost, uint32_t flags, uint32_t passes = 1)
        : VornexRendererResourceAccessJob(flags & JOB_WANTS_EVENT, flags & JOB_FIRE_AND_FORGET, flags & JOB_IN_STREAM),
          cost(cost), passes(passes) {}
    ~CountingJob() override {
        WaitBeforeDestruction();
        ++gDeleted;
    }
    uint32_t GetCost() const override { return cost; }
    bool Execute(VornexRenderer&) override {
        ++gExecuted;
        ++executions;
        thread = os::CurrentThreadId();
        if (sequence) {
            std::lock_guard<std::mutex> lock(*sequenceLock);
            sequence->push_back(mark);
        }
        return executions >= passes;
    }
    uint32_t cost, passes;
    std::atomic<uint32_t> executions{0};
    std::atomic<uint64_t> thread{0};
    std::vector<int>* sequence = nullptr;
    std::mutex* sequenceLock = nullptr;
    int mark = 0;
};

// A task-47 record that runs f when the render thread reaches it (no flush).
void PostCall(const std::function<void()>* f) {
    RenderCallFunction call = [](uint32_t, CommandRingBuffer& r) {
        const std::function<void()>* target = nullptr;
        if (r.ReadValue(target)) (*target)();
    };
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t) + sizeof f));
    gVornexRenderer.Ring().WriteValue(call);
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
    gVornexRenderer.Ring().WriteValue(f);
}

bool WaitFlag(const std::atomic<bool>& flag) {
    return WaitUntil([&] { return flag.load(); });
}

struct JobsTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        gExecuted = 0;
        gDeleted = 0;
    }
    void TearDown() override {
        gVornexRenderer.SetResourceJobQueueFullWait(nullptr);
        RendererFixture::TearDown();
    }
};

// ---------------------------------------------------------------------------------------
// The queue

std::atomic<uint32_t> gFullAttempts{0};
std::atomic<bool>* gReleaseRenderThread = nullptr;

// A queue of 1024 bytes: a few dozen records fill it.
struct SmallQueueTest : JobsTest {
    void Configure(RendererSettings&) override { gVornexRenderer.SetResourceJobQueueBytes(1024); }
    void TearDown() override {
        JobsTest::TearDown();
        gVornexRenderer.SetResourceJobQueueBytes(0x10000);
    }
};

TEST_F(SmallQueueTest, FullQueueWarnsOnEveryTenthAttempt) {
    std::atomic<bool> release{false};
    gReleaseRenderThread = &release;
    gFullAttempts = 0;
    // The 25th attempt lets the render thread drain; the poster then gets its place.
    gVornexRenderer.SetResourceJobQueueFullWait([] {
        if (++gFullAttempts == 25) {
            gReleaseRenderThread->store(true);
            const uint32_t done = gVornexRenderer.DoneResourceJobs();
            WaitUntil([&] { return gVornexRenderer.DoneResourceJobs() != done; });
        }
    });
    const std::function<void()> block = [&] { WaitFlag(release); };
    PostCall(&block);
    gVornexRenderer.FlushCommands(false);
    log.Clear();
    std::vector<CountingJob*> jobs;
    while (gFullAttempts == 0 && jobs.size() < 200) {
        jobs.push_back(new CountingJob(0, 0));
        SubmitResourceJob(jobs.back(), false);
    }
    EXPECT_GE(gFullAttempts.load(), 25u);
    int warnings = 0;
    for (const auto& m : log.Messages())
        if (m.text == "Resource creation queue is causing delay!!!") ++warnings;
    EXPECT_EQ(warnings, 3);  // attempts 1, 11 and 21
    for (CountingJob* j : jobs) delete j;  // each waits for its execution
    EXPECT_EQ(gExecuted.load(), int(jobs.size()));
}

TEST_F(JobsTest, BudgetsBoundTheJobsOfOnePass) {
    struct Case {
        uint32_t cost, budget;
        float seconds;
        int perCall;
    };
    const Case cases[] = {
        {1000, 1000, 0.01f, 1},  // one creation job per idle call
        {200, 1000, 0.01f, 5},   // object deletions
        {50, 1000, 0.005f, 20},  // reference and texture deletion jobs
        {1000, 0, 0.0f, 30},     // unlimited: everything
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<CountingJob>> jobs;
        int first = -1, second = -1;
        RunOnRenderThread([&] {
            for (int i = 0; i < 30; ++i) {
                jobs.emplace_back(new CountingJob(c.cost, 0));
                SubmitResourceJob(jobs.back().get(), false);
            }
            gExecuted = 0;
            gVornexRenderer.ProcessResourceJobs(c.budget, c.seconds);
            first = gExecuted;
            gVornexRenderer.ProcessResourceJobs(c.budget, c.seconds);
            second = gExecuted;
        });
        EXPECT_EQ(first, c.perCall) << c.cost;
        EXPECT_EQ(second, std::min(30, 2 * c.perCall)) << c.cost;
        jobs.clear();
    }
}

TEST_F(JobsTest, JobStampedWithALaterFrameWaitsForThatFrame) {
    std::atomic<bool> queued{false};
    CountingJob job(1000, JOB_WANTS_EVENT);
    bool ranEarly = true, stopped = false;
    const std::function<void()> inFrame = [&] {
        WaitFlag(queued);
        stopped = gVornexRenderer.ProcessResourceJobs(0, 0.0f);
        ranEarly = job.executions != 0;
    };
    PostCall(&inFrame);
    gVornexRenderer.EndFrame();  // the frame the job is stamped with
    SubmitResourceJob(&job, false);
    EXPECT_EQ(job.FrameStamp(), gVornexRenderer.PostedFrames());
    queued = true;
    job.WaitForCompletion();
    EXPECT_FALSE(ranEarly);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(job.executions.load(), 1u);
}

TEST_F(JobsTest, InStreamJobRunsInOrderWithTheCommandsAroundIt) {
    std::vector<int> sequence;
    std::mutex lock;
    auto append = [&](int v) {
        std::lock_guard<std::mutex> g(lock);
        sequence.push_back(v);
    };
    const std::function<void()> one = [&] { append(1); }, three = [&] { append(3); };
    const uint32_t queued = gVornexRenderer.PostedResourceJobs();
    CountingJob job(1000, JOB_IN_STREAM | JOB_WANTS_EVENT);
    job.sequence = &sequence;
    job.sequenceLock = &lock;
    job.mark = 2;
    PostCall(&one);
    SubmitResourceJob(&job, false);
    PostCall(&three);
    gVornexRenderer.FlushCommands(true);
    job.WaitForCompletion();
    EXPECT_EQ(sequence, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(job.thread.load(), gVornexRenderer.ThreadId());
    EXPECT_EQ(gVornexRenderer.PostedResourceJobs(), queued);  // the queue never saw it
}

TEST_F(JobsTest, WaitedJobsReturnAfterTheirLastPassAndIdleOnesNeverBlock) {
    struct Case {
        uint32_t flags, passes;
    };
    const Case cases[] = {{JOB_WANTS_EVENT, 1}, {0, 1}, {JOB_WANTS_EVENT, 3}, {JOB_IN_STREAM, 2}};
    for (const Case& c : cases) {
        CountingJob job(1000, c.flags, c.passes);
        SubmitResourceJob(&job, true);
        EXPECT_TRUE(job.IsDone());
        EXPECT_EQ(job.executions.load(), c.passes);
        job.executions = 0;
        SubmitResourceJob(&job, true);  // idle again: queued and waited once more
        EXPECT_EQ(job.executions.load(), c.passes);
    }
    // Deleting a job that was never submitted returns at once.
    auto deleted = std::async(std::launch::async, [] { delete new CountingJob(0, JOB_WANTS_EVENT); });
    EXPECT_EQ(deleted.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(JobsTest, FireAndForgetJobsAreDeletedByTheRenderThread) {
    for (uint32_t flags : {uint32_t(JOB_FIRE_AND_FORGET), uint32_t(JOB_FIRE_AND_FORGET | JOB_IN_STREAM)})
        for (int i = 0; i < 10; ++i) SubmitResourceJob(new CountingJob(50, flags), false);
    gVornexRenderer.FlushCommands(true);
    ASSERT_TRUE(WaitUntil([] { return gDeleted == 20; }));
    EXPECT_EQ(gExecuted.load(), 20);
}

TEST_F(JobsTest, TypeTwoRecordsCallTheirFunctionWithObjectAndPayload) {
    struct Seen {
        void* object = nullptr;
        uint32_t flag = 99, payload = 0;
        uint64_t thread = 0;
    };
    static Seen seen;
    seen = Seen{};
    int object = 0;
    VornexRenderer::ResourceCallFunction function = [](VornexRenderer&, uint32_t flag, CommandRingBuffer& ring) {
        ring.ReadValue(seen.object);
        ring.ReadValue(seen.payload);
        seen.flag = flag;
        seen.thread = os::CurrentThreadId();
    };
    const uint32_t done = gVornexRenderer.DoneResourceJobs();
    CommandRingBuffer* ring = gVornexRenderer.BeginResourceCall(function, &object, sizeof(uint32_t));
    ASSERT_NE(ring, nullptr);
    ring->WriteValue(uint32_t(0xC0FFEE));
    gVornexRenderer.EndResourceJobWrite();
    ASSERT_TRUE(WaitUntil([&] { return gVornexRenderer.DoneResourceJobs() == done + 1; }));
    EXPECT_EQ(seen.object, &object);
    EXPECT_EQ(seen.payload, 0xC0FFEEu);
    EXPECT_EQ(seen.flag, 0u);
    EXPECT_EQ(seen.thread, gVornexRenderer.ThreadId());
    EXPECT_EQ(gVornexRenderer.BeginResourceCall(function, &object, 0x20000), nullptr);  // can never fit
}

// ---------------------------------------------------------------------------------------
// Creation and read-back

TEST_F(JobsTest, BufferCreationFillsOnTheSecondPassAndReadsBack) {
    std::vector<uint8_t> vertices(96), indices(24);
    for (size_t i = 0; i < vertices.size(); ++i) vertices[i] = uint8_t(i * 7 + 1);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(200 - i);
    bool passes[4] = {};
    RunOnRenderThread([&] {
        VornexRendererVertexBufferCreationJob withData(96, 0, 0, gfx::POOL_MANAGED, vertices.data(), false, 0);
        passes[0] = withData.Execute(gVornexRenderer);
        passes[1] = withData.Execute(gVornexRenderer);
        VornexRendererVertexBufferCreationJob without(96, 0, 0, gfx::POOL_MANAGED, nullptr, false, 0);
        passes[2] = without.Execute(gVornexRenderer);
        gfx::VertexBuffer* created = without.TakeBuffer();
        passes[3] = created != nullptr;
        SafeReleaseInterface(&created);
    });
    EXPECT_FALSE(passes[0]);
    EXPECT_TRUE(passes[1]);
    EXPECT_TRUE(passes[2]);
    EXPECT_TRUE(passes[3]);

    VornexRendererVertexBufferCreationJob vb(96, 0, 0, gfx::POOL_MANAGED, vertices.data(), false, JOB_WANTS_EVENT);
    VornexRendererIndexBufferCreationJob ib(24, 0, gfx::FMT_INDEX16, gfx::POOL_MANAGED, indices.data(), false,
                                            JOB_WANTS_EVENT);
    SubmitResourceJob(&vb, true);
    SubmitResourceJob(&ib, true);
    gfx::VertexBuffer* vertexBuffer = vb.TakeBuffer();
    gfx::IndexBuffer* indexBuffer = ib.TakeBuffer();
    ASSERT_NE(vertexBuffer, nullptr);
    ASSERT_NE(indexBuffer, nullptr);
    VornexRendererVertexBufferSerializationJob readVertices(vertexBuffer, JOB_WANTS_EVENT);
    VornexRendererIndexBufferSerializationJob readIndices(indexBuffer, 0);
    SubmitResourceJob(&readVertices, true);
    SubmitResourceJob(&readIndices, true);
    uint32_t size = 0;
    uint8_t* block = static_cast<uint8_t*>(readVertices.TakeBlock(&size));
    ASSERT_EQ(size, 96u);
    EXPECT_EQ(std::vector<uint8_t>(block, block + size), vertices);
    EngineFree(block);
    block = static_cast<uint8_t*>(readIndices.TakeBlock(&size));
    ASSERT_EQ(size, 24u);
    EXPECT_EQ(std::vector<uint8_t>(block, block + size), indices);
    EngineFree(block);
    RunOnRenderThread([&] {
        vertexBuffer->Release();
        indexBuffer->Release();
    });
}

TEST_F(JobsTest, DeclarationsComeFromTheCacheAndReadBack) {
    const gfx::VertexElement elements[] = {{0, 0, gfx::DECLTYPE_FLOAT3, 0, gfx::DECLUSAGE_POSITION, 0},
                                           {0, 12, gfx::DECLTYPE_D3DCOLOR, 0, gfx::DECLUSAGE_COLOR, 0},
                                           gfx::kDeclEnd};
    VornexRendererVertexDeclarationCreationJob create(elements, 3, JOB_WANTS_EVENT);
    VornexRendererVertexDeclarationCreationJob again(elements, 3, 0);
    VornexRendererVertexDeclarationCreationJob empty(&gfx::kDeclEnd, 1, 0);
    SubmitResourceJob(&create, true);
    SubmitResourceJob(&again, true);
    SubmitResourceJob(&empty, true);
    gfx::VertexDeclaration* declaration = create.TakeDeclaration();
    gfx::VertexDeclaration* shared = again.TakeDeclaration();
    ASSERT_NE(declaration, nullptr);
    EXPECT_EQ(declaration, shared);
    EXPECT_EQ(empty.TakeDeclaration(), nullptr);

    VornexRendererVertexDeclarationSerializationJob read(declaration, 0);
    SubmitResourceJob(&read, true);
    uint32_t size = 0;
    void* block = read.TakeBlock(&size);
    ASSERT_EQ(size, sizeof elements);
    EXPECT_EQ(std::memcmp(block, elements, size), 0);
    EngineFree(block);
    RunOnRenderThread([&] {
        declaration->Release();
        shared->Release();
    });
}

TEST_F(JobsTest, TextureCreationCopiesRowsByFormat) {
    struct Case {
        gfx::Format format;
        uint32_t texelBytes;  // 0: a format whose pixels are not copied
    };
    const Case cases[] = {{gfx::FMT_A8R8G8B8, 4}, {gfx::FMT_X8R8G8B8, 4}, {gfx::FMT_A8, 1},
                          {gfx::FMT_L8, 1},       {gfx::FMT_A8L8, 2},     {gfx::FMT_R5G6B5, 0}};
    constexpr uint32_t kWidth = 8, kHeight = 4;
    for (const Case& c : cases) {
        const uint32_t rowBytes = kWidth * (c.texelBytes ? c.texelBytes : 2);
        std::vector<uint8_t> pixels(rowBytes * kHeight);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 13 + 5);
        VornexRendererTextureCreationJob job(kWidth, kHeight, 1, 0, c.format, gfx::POOL_MANAGED, pixels.data(),
                                             uint32_t(pixels.size()), false, JOB_WANTS_EVENT);
        SubmitResourceJob(&job, true);
        DeviceObjectHandle* handle = job.TakeHandle();
        ASSERT_NE(handle, nullptr) << c.format;
        std::vector<uint8_t> rows;
        RunOnRenderThread([&] {
            gfx::LockedRect locked{};
            ASSERT_TRUE(gfx::Succeeded(handle->Texture2D()->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY)));
            for (uint32_t y = 0; y < kHeight; ++y) {
                const uint8_t* row = static_cast<const uint8_t*>(locked.bits) + y * locked.pitch;
                rows.insert(rows.end(), row, row + rowBytes);
            }
            handle->Texture2D()->UnlockRect(0);
        });
        if (c.texelBytes)
            EXPECT_EQ(rows, pixels) << c.format;
        else
            EXPECT_NE(rows, pixels) << c.format;
        SubmitTextureDeletionJob(handle, false);
    }
}

TEST_F(JobsTest, UnreadableDdsBytesCreateNothingAndSayWhy) {
    const uint8_t junk[] = {'D', 'D', 'S', ' ', 1, 2, 3};
    VornexRendererDDSTextureCreationJob job(junk, sizeof junk, false, gfx::POOL_MANAGED, nullptr, 0);
    SubmitResourceJob(&job, true);
    EXPECT_EQ(job.Handle(), nullptr);
    EXPECT_TRUE(Logged("Unable to create texture interface!"));
}

TEST_F(JobsTest, TextureReferencesAreCountedOnTheRenderThread) {
    DeviceObjectHandle* handle = nullptr;
    RunOnRenderThread([&] {
        handle = new DeviceObjectHandle;
        handle->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED);
    });
    SubmitResourceAddRefJob(handle, false);
    SubmitResourceAddRefJob(handle, true);
    SubmitTextureDeletionJob(nullptr, false);  // nothing for null
    gVornexRenderer.WaitForResourceJobs(1);
    uint32_t refs = 0;
    RunOnRenderThread([&] { refs = handle->RefCount(); });
    EXPECT_EQ(refs, 3u);
    VornexRendererTextureUnloadDataJob unload(handle, 0);
    SubmitResourceJob(&unload, true);
    bool empty = false;
    RunOnRenderThread([&] { empty = handle->Texture() == nullptr; });
    EXPECT_TRUE(empty);
    for (int i = 0; i < 3; ++i) SubmitTextureDeletionJob(handle, i == 1);
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.WaitForResourceJobs(1);  // the holder is freed (ASan sees a leak otherwise)
}

// ---------------------------------------------------------------------------------------
// Renderer objects

struct TestObject : VornexRendererObject {
    explicit TestObject(std::vector<uint64_t>* threads) : threads(threads) {}
    void PreRelease() override { preReleased = true; }
    void Destroy() override {
        threads->push_back(os::CurrentThreadId());
        EXPECT_TRUE(IsPendingRelease());
        EXPECT_TRUE(preReleased);
        delete this;
    }
    std::vector<uint64_t>* threads;
    bool preReleased = false;
};

TEST_F(JobsTest, RendererObjectsAreDestroyedOnTheRenderThread) {
    std::vector<uint64_t> threads;
    struct Case {
        bool viaStream, wait;
    };
    const Case cases[] = {{true, false}, {false, false}, {false, true}};
    for (const Case& c : cases) {
        auto* object = new TestObject(&threads);
        object->MarkDirty();
        EXPECT_TRUE(object->IsChanged());
        object->Release(c.viaStream, c.wait);
        gVornexRenderer.FlushCommands(true);
        gVornexRenderer.WaitForResourceJobs(1);
    }
    ASSERT_EQ(threads.size(), 3u);
    for (uint64_t t : threads) EXPECT_EQ(t, gVornexRenderer.ThreadId());
    EXPECT_STREQ(TestObject(&threads).GetRTTIClass()->Name(), "VornexRendererObject");
}

}  // namespace
