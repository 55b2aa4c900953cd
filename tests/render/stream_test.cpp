// The command stream: record layout, flushes, unknown ids, frame pacing, loading screen.
// test-sanitize: thread address
// test-timeout: 180
#include <atomic>
#include <cstring>

#include "RenderTestSupport.h"
#include "core/profiler/Profiler.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "platform/os/Clock.h"

using namespace rendertest;

namespace {

constexpr uint32_t P = sizeof(void*);

struct StreamTest : RendererFixture {
    uint8_t* EmptyBlockCursor() {
        gVornexRenderer.FlushCommands(false);
        return gVornexRenderer.Ring().Cursor();
    }
    void PostBucket(uint32_t bucket, uint8_t on) {
        ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_BUCKET_ENABLE, 5));
        gVornexRenderer.Ring().WriteValue(bucket);
        gVornexRenderer.Ring().WriteValue(on);
    }
    uint32_t BucketMask() {
        uint32_t mask = 0;
        RunOnRenderThread([&] { mask = gVornexRenderer.BucketEnableMask(); });
        return mask;
    }
};

// Text records of a chosen payload size, seen by the font hook.
std::vector<uint32_t> gTextLengths;
struct TextLengthRecorder : UIDrawServices {
    void DrawText(Resource*, const char*, uint32_t bytes, const Matrix&, const Vector&, uint32_t, uint8_t,
                  uint32_t) override {
        gTextLengths.push_back(bytes);
    }
} gTextRecorder;
constexpr uint32_t kTextFixed = P + sizeof(Matrix) + 16 + 12 + 1;

TEST_F(StreamTest, LargestPayloadFitsAnEmptyBlockAndOneMoreIsRefused) {
    SetUIDrawServices(&gTextRecorder);
    gTextLengths.clear();
    std::vector<char> text(kRenderMaxPayload, 'x');
    uint8_t* start = EmptyBlockCursor();
    const uint32_t posted = gVornexRenderer.PostedRecords();
    EXPECT_FALSE(gVornexRenderer.BeginCommand(TASK_TEXT, kRenderMaxPayload + 1));
    EXPECT_FALSE(gVornexRenderer.PostDrawText(nullptr, Matrix::IDENTITY, Vector(), 0, 0, 0, text.data(),
                                              kRenderMaxPayload - kTextFixed + 1));
    EXPECT_EQ(gVornexRenderer.Ring().Cursor(), start);
    EXPECT_EQ(gVornexRenderer.PostedRecords(), posted);
    EXPECT_TRUE(Logged("exceed the 4088 bytes of a block"));
    // The largest record goes into the empty block without a terminator before it.
    ASSERT_TRUE(gVornexRenderer.PostDrawText(nullptr, Matrix::IDENTITY, Vector(), 0, 0, 0, text.data(),
                                             kRenderMaxPayload - kTextFixed));
    EXPECT_EQ(gVornexRenderer.Ring().Cursor(), start + 4 + kRenderMaxPayload);
    EXPECT_EQ(gVornexRenderer.PostedRecords(), posted + 1);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gTextLengths, std::vector<uint32_t>{kRenderMaxPayload - kTextFixed});
}

TEST_F(StreamTest, RecordThatDoesNotFitClosesTheBlockWithTerminatorZero) {
    SetUIDrawServices(&gTextRecorder);
    gTextLengths.clear();
    std::vector<char> text(4000, 'y');
    struct Case { uint32_t first, second; bool newBlock; };
    // First record ends at 4 + fixed + first (aligned up); the second needs 4 + fixed +
    // second and 4 bytes for the terminator.
    const uint32_t firstEnd = (4 + kTextFixed + 3000 + 3) & ~3u;
    const uint32_t room = kRenderBlockBytes - firstEnd - 8 - kTextFixed;
    const Case cases[] = {{3000, room, false}, {3000, room + 1, true}, {3000, 800, false}, {3000, 1000, true}};
    for (const Case& c : cases) {
        gTextLengths.clear();
        EmptyBlockCursor();
        const uint32_t posted = gVornexRenderer.PostedRecords();
        ASSERT_TRUE(gVornexRenderer.PostDrawText(nullptr, Matrix::IDENTITY, Vector(), 0, 0, 0, text.data(), c.first));
        ASSERT_TRUE(gVornexRenderer.PostDrawText(nullptr, Matrix::IDENTITY, Vector(), 0, 0, 0, text.data(), c.second));
        EXPECT_EQ(gVornexRenderer.PostedRecords() - posted, c.newBlock ? 3u : 2u) << c.second;
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(gTextLengths, (std::vector<uint32_t>{c.first, c.second})) << c.second;
    }
}

// Records of 1, 4, 0 and 5 payload bytes in a row, through the writers and by hand: each
// id at the next multiple of 4 after the previous record's end with the fields packed
// after it, and over several blocks every record runs (the last bucket record of each
// bucket decides its bit).
TEST_F(StreamTest, RecordsInARowEachStartAtTheNextWordAfterThePreviousOne) {
    struct Case {
        const char* writer;
        std::function<void(uint32_t round)> post;
        uint32_t id;
        std::vector<uint8_t> payload;  // as posted in round 1
    };
    const Case cases[] = {
        {"SetSRGBWrite", [](uint32_t) { gVornexRenderer.SetSRGBWrite(1); }, TASK_SRGB_WRITE, {1}},
        {"PostOutlineTypeMask", [](uint32_t) { gVornexRenderer.PostOutlineTypeMask(0xA1B2C3D4u); },
         TASK_OUTLINE_TYPE_MASK, {0xD4, 0xC3, 0xB2, 0xA1}},
        {"PostNop", [](uint32_t) { gVornexRenderer.PostNop(); }, TASK_NOP, {}},
        {"bucket by hand",
         [](uint32_t round) {
             ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_BUCKET_ENABLE, 5));
             gVornexRenderer.Ring().WriteValue(uint32_t(round % 32));
             gVornexRenderer.Ring().WriteValue(uint8_t(round / 32 % 2));
         },
         TASK_BUCKET_ENABLE, {1, 0, 0, 0, 0}},
    };
    gVornexRenderer.FlushCommands(true);
    uint8_t* start = EmptyBlockCursor();
    const uint32_t posted = gVornexRenderer.PostedRecords(), consumed = gVornexRenderer.ConsumedTasks();
    uint32_t at = 0;
    for (const Case& c : cases) {
        c.post(1);
        at = (at + 3) & ~3u;
        uint32_t id = 0;
        std::memcpy(&id, start + at, 4);
        EXPECT_EQ(id, c.id) << c.writer;
        EXPECT_EQ(std::vector<uint8_t>(start + at + 4, start + at + 4 + c.payload.size()), c.payload) << c.writer;
        at += 4 + uint32_t(c.payload.size());
        EXPECT_EQ(gVornexRenderer.Ring().Cursor(), start + at) << c.writer;
    }
    // Rounds 2 to 199: some 7,000 bytes, two blocks and part of a third. Bucket b's last
    // record is in the last round r with r % 32 == b; it enables the bucket when r / 32 is odd.
    constexpr uint32_t kRounds = 200;
    for (uint32_t round = 2; round < kRounds; ++round)
        for (const Case& c : cases) c.post(round);
    gVornexRenderer.FlushCommands(true);
    uint32_t mask = 0;
    for (uint32_t b = 0; b < 32; ++b) {
        const uint32_t last = b + (kRounds - 1 - b) / 32 * 32;
        if (last / 32 % 2) mask |= 1u << b;
    }
    EXPECT_EQ(BucketMask(), mask);
    EXPECT_EQ(gVornexRenderer.ConsumedTasks() - consumed, gVornexRenderer.PostedRecords() - posted);
    EXPECT_FALSE(Logged("cut short"));
}

std::atomic<int> gCalls{0};
void CountCall(uint32_t, CommandRingBuffer&) { ++gCalls; }

TEST_F(StreamTest, UnknownIdAbandonsItsBlockWithoutRunningWhatFollows) {
    gCalls = 0;
    // Bytes after the unknown id look like a task-47 record, then a valid record follows.
    ASSERT_TRUE(gVornexRenderer.BeginCommand(200, 4 + 2 * P));
    gVornexRenderer.Ring().WriteValue(uint32_t(TASK_CALL));
    gVornexRenderer.Ring().WriteValue(RenderCallFunction(&CountCall));
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
    PostBucket(7, 0);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gCalls.load(), 0);
    EXPECT_EQ(BucketMask(), 0xFFFFFFFFu);
    EXPECT_TRUE(Logged("Unknown XR task: 200, previous: "));
    PostBucket(7, 0);
    EXPECT_EQ(BucketMask(), ~(1u << 7));
    // A frame end abandoned with its block never completes; the frame wait still ends
    // once the render thread has run everything, and later frames pace as before.
    ASSERT_TRUE(gVornexRenderer.BeginCommand(200, 0));
    gVornexRenderer.EndFrame();
    gVornexRenderer.WaitForFrameLatency(0);
    EXPECT_EQ(gVornexRenderer.WaitedFrames(), gVornexRenderer.PostedFrames());
    const uint32_t completed = gVornexRenderer.CompletedFrames();
    gVornexRenderer.EndFrame();
    gVornexRenderer.WaitForFrameLatency(0);
    EXPECT_EQ(gVornexRenderer.CompletedFrames(), completed + 1);
    EXPECT_EQ(gVornexRenderer.WaitedFrames(), gVornexRenderer.PostedFrames());
}

// The render thread's block runner, for blocks the front end never writes (it always
// ends a block with a terminator): a pointer to the member, formed through a class that
// is never made.
struct BlockRunner : VornexRenderer {
    static void Run(CommandRingBuffer& ring) {
        (gVornexRenderer.*&BlockRunner::HandleCommand)(kRenderCommandBlock, ring);
    }
};

std::atomic<int> gParticleUpdates{0}, gEffectUpdates{0};

// A frame-parameters record ending before its flags word, or inside its clocks, is
// refused with a line: no clock moves and nothing is updated. Whole, it moves the clocks
// and runs the updates unless flag bit 0 says to skip them.
TEST_F(StreamTest, FrameParametersCutShortAreRefused) {
    static struct : SceneDrawServices {
        void UpdateParticleSystems(float, float, float) override { ++gParticleUpdates; }
        void UpdateEffects(const RenderFrameClock*) override { ++gEffectUpdates; }
    } updates;
    SetSceneDrawServices(&updates);
    const struct {
        const char* name;
        uint32_t bytes, flags;
        bool applied, updated;
    } cases[] = {
        {"whole", 40, 0, true, true},
        {"whole, updates skipped", 40, 1, true, false},
        {"cut before the flags", 36, 0, false, false},
        {"cut in the clocks", 20, 0, false, false},
    };
    int64_t ticks = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        gParticleUpdates = gEffectUpdates = 0;
        ticks += 30'000'000;  // three seconds more each time
        double before = 0, after = 0;
        RunOnRenderThread([&] {
            before = gVornexRenderer.FrameSeconds(0);
            CommandRingBuffer ring(4096, 0xFFFF);
            ASSERT_TRUE(ring.BeginWrite(kRenderCommandBlock, 4 + c.bytes));
            ring.WriteValue(uint32_t(TASK_FRAME_PARAMS));
            uint8_t payload[40] = {};
            for (int clock = 0; clock < 3; ++clock) {
                std::memcpy(payload + clock * 12, &ticks, 8);
                const float frameTime = 0.03f;
                std::memcpy(payload + clock * 12 + 8, &frameTime, 4);
            }
            std::memcpy(payload + 36, &c.flags, 4);
            ring.Write(payload, c.bytes);
            ring.EndWrite();
            ASSERT_TRUE(ring.BeginRead());
            BlockRunner::Run(ring);
            ring.EndRead();
            after = gVornexRenderer.FrameSeconds(0);
        });
        EXPECT_EQ(after, c.applied ? double(ticks) / 1e7 : before);
        EXPECT_EQ(gParticleUpdates.load(), c.updated ? 1 : 0);
        EXPECT_EQ(gEffectUpdates.load(), c.updated ? 1 : 0);
        EXPECT_EQ(Lines("XR task 41 cut short").size(), c.applied ? 0u : 1u);
    }
}

TEST_F(StreamTest, WritersWhileStoppedWriteNothingAndTheNextStartRuns) {
    gVornexRenderer.Stop();
    gVornexRenderer.SetBrightness(0.7f);
    EXPECT_FALSE(gVornexRenderer.BeginCommand(TASK_NOP, 0));
    ASSERT_TRUE(gVornexRenderer.Start(window, 0));
    recorder = gfx::GetRecorder(gVornexRenderer.Device());
    PostBucket(2, 0);
    EXPECT_EQ(BucketMask(), ~(1u << 2));
    float brightness = 0.0f;
    RunOnRenderThread([&] { brightness = gVornexRenderer.AppliedBrightness(); });
    EXPECT_NE(brightness, 0.7f);
}

// A stop in the middle of a frame ends its scene: the next start's first frame begins
// its own scene on the new device before ending it.
TEST_F(StreamTest, AStartAfterAStopMidFrameBeginsItsOwnScene) {
    BeginFrame();
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.Stop();
    ASSERT_TRUE(gVornexRenderer.Start(window, 0));
    recorder = gfx::GetRecorder(gVornexRenderer.Device());
    recorder->SetValidationMode(gfx::ValidationMode::Strict);
    BeginFrame();
    EndFrame();  // the fixture's tear-down fails on an end of scene without its begin
}

TEST_F(StreamTest, DebugTasksWithoutAShapeDrawNothing) {
    BeginFrame();
    const Matrix m = Matrix::IDENTITY;
    const Vector c(1, 0, 0, 1);
    gVornexRenderer.DebugDrawBoundingBox(BoundingBox4::UNITCUBE3D, m, c);
    gVornexRenderer.DebugDrawTrigger(m, c);
    gVornexRenderer.DebugDrawPointLight(m, c, 1, 2);
    gVornexRenderer.DebugDrawAmbientLight(m, c);
    gVornexRenderer.DebugDrawMeshTemplate(nullptr, m, m, nullptr, c, 0, 0, nullptr, 0);  // no mesh hook
    PostBucket(9, 0);
    EndFrame();
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(BucketMask(), ~(1u << 9));  // every skipped payload kept the stream in step
    BeginFrame();
    gVornexRenderer.SetPostProcessTargetMode(0);  // from here on the frame draws into the back buffer
    gVornexRenderer.DebugDrawWireBox(BoundingBox4::UNITCUBE3D, m, c, 0, 1);
    gVornexRenderer.DebugDrawSpotLight(m, c, 1, 2, 0.5f);
    gVornexRenderer.DebugDrawTubeLight(m, c, 1, 2, 3);
    gVornexRenderer.DebugDrawSFX(m, 1);
    gVornexRenderer.DebugDrawFlag(m, c, 1);
    EndFrame();
    uint32_t backBuffer = 0;
    RunOnRenderThread([&] {
        gfx::Surface* s = nullptr;
        gVornexRenderer.Device()->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &s);
        backBuffer = gfx::SerialOf(s);
        s->Release();
    });
    const std::vector<gfx::DrawRecord> draws = Draws();
    EXPECT_EQ(draws.size(), 5u);
    for (const gfx::DrawRecord& d : draws) EXPECT_EQ(d.renderTargets[0], backBuffer);
}

// Records handed to the mesh hooks: their address and bytes.
struct SeenRecords { const void* records; uint32_t count; std::vector<uint8_t> bytes; };
std::vector<SeenRecords> gSeen;
void SeeRecords(const void* records, uint32_t count) {
    gSeen.push_back({records, count, {}});
    if (records)
        gSeen.back().bytes.assign(static_cast<const uint8_t*>(records),
                                  static_cast<const uint8_t*>(records) + count * kMeshRecordBytes);
}
struct MeshRecordsSeen : SceneDrawServices {
    void DrawMesh(const MeshTemplateRenderingData*, const Matrix&, const Matrix&, const BoundingBox4*, const Vector&,
                  uint32_t, uint8_t, const float* records, uint32_t count) override {
        SeeRecords(records, count);
    }
    void DrawSkinnedMesh(const MeshTemplateRenderingData*, const Matrix&, const Vector&, const float* records,
                         uint32_t count) override {
        SeeRecords(records, count);
    }
} gMeshRecordsSeen;

TEST_F(StreamTest, MeshRecordsAreUsedInPlaceAtSixteenByteAlignment) {
    SetSceneDrawServices(&gMeshRecordsSeen);
    uint8_t records[3 * kMeshRecordBytes];
    for (uint32_t i = 0; i < sizeof records; ++i) records[i] = static_cast<uint8_t>(i * 7 + 1);
    // Shift the records' start through every 4-byte phase of the 16-byte boundary.
    for (uint32_t shift = 0; shift < 4; ++shift) {
        gSeen.clear();
        EmptyBlockCursor();
        for (uint32_t k = 0; k < shift; ++k) gVornexRenderer.SetSRGBWrite(0);
        const uint32_t count = 1 + shift % 3;
        ASSERT_TRUE(gVornexRenderer.DebugDrawMeshTemplate(nullptr, Matrix::IDENTITY, Matrix::IDENTITY, nullptr,
                                                          Vector(), 0, 0, records, count));
        ASSERT_TRUE(gVornexRenderer.DebugDrawMeshTemplateParts(nullptr, Matrix::IDENTITY, Vector(), records, count));
        PostBucket(11, shift & 1);
        gVornexRenderer.FlushCommands(true);
        ASSERT_EQ(gSeen.size(), 2u);
        for (const SeenRecords& s : gSeen) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(s.records) % 16, 0u) << shift;
            EXPECT_EQ(s.count, count);
            EXPECT_EQ(s.bytes, std::vector<uint8_t>(records, records + count * kMeshRecordBytes));
        }
        EXPECT_EQ((BucketMask() >> 11) & 1, shift & 1);
    }
    // More records than a block holds are refused with nothing written.
    std::vector<uint8_t> many(100 * kMeshRecordBytes);
    EXPECT_FALSE(gVornexRenderer.DebugDrawMeshTemplateParts(nullptr, Matrix::IDENTITY, Vector(), many.data(), 100));
}

// A task-47 function consumes exactly its own payload.
void SkipEight(uint32_t, CommandRingBuffer& r) { r.SkipRead(8); }

TEST_F(StreamTest, PayloadsCarryPointersAtNativeSize) {
    static uint8_t record[2 * kMeshRecordBytes];
    struct Case { const char* writer; std::function<void()> post; uint32_t bytes; };
    const Matrix m = Matrix::IDENTITY;
    const Vector c(0.5f, 0.5f, 0.5f, 1);
    const RenderFrameClock clock{0, 0.0f};
    RendererProfilerDrawer& drawer = gVornexRenderer.ProfilerOverlay();
    const Case cases[] = {
        {"PostGameDelegate", [] { gVornexRenderer.PostGameDelegate(nullptr); }, P},
        {"SetLoadingScreen", [] { gVornexRenderer.SetLoadingScreen(nullptr, 0, 0); }, P + 2},
        {"PostLayerMasks", [] { gVornexRenderer.PostLayerMasks(nullptr, 1); }, 36},
        {"SetOutlineParams", [] { gVornexRenderer.SetOutlineParams(OutlineParams{}); }, 40},
        {"PostShadowMapPass", [] { gVornexRenderer.PostShadowMapPass(1, 1); }, 5},
        {"SetViewport", [] { gVornexRenderer.SetViewport(0, 0, 16, 16, 0, 1); }, 24},
        {"SetCamera", [&] { gVornexRenderer.SetCamera(m, m, m); }, 288},
        {"Clear", [&] { gVornexRenderer.Clear(gfx::CLEAR_TARGET, c, 1, 0); }, 28},
        {"PostFrameParams", [&] { gVornexRenderer.PostFrameParams(clock, clock, clock, 1); }, 40},
        {"PostRegisterLight", [] { gVornexRenderer.PostRegisterLight(nullptr); }, P},
        {"PostRenderPassFlags", [&] { gVornexRenderer.PostRenderPassFlags(c, 0, 0); }, 21},
        {"SubmitRenderTask", [] { gVornexRenderer.SubmitRenderTask(nullptr, 0); }, P + 4},
        {"DebugDrawBoundingBox", [&] { gVornexRenderer.DebugDrawBoundingBox(BoundingBox4::UNITCUBE3D, m, c); }, 112},
        {"DebugDrawWireBox", [&] { gVornexRenderer.DebugDrawWireBox(BoundingBox4::UNITCUBE3D, m, c, 0, 0); }, 114},
        {"DebugDrawSpotLight", [&] { gVornexRenderer.DebugDrawSpotLight(m, c, 1, 2, 3); }, 92},
        {"DebugDrawSFX", [&] { gVornexRenderer.DebugDrawSFX(m, 0); }, 65},
        {"DebugDrawFlag", [&] { gVornexRenderer.DebugDrawFlag(m, c, 0); }, 81},
        {"DebugDrawMeshTemplate",
         [&] { gVornexRenderer.DebugDrawMeshTemplate(nullptr, m, m, nullptr, c, 0, 0, nullptr, 0); }, P + 181},
        {"DebugDrawMeshTemplate/records",
         [&] { gVornexRenderer.DebugDrawMeshTemplate(nullptr, m, m, nullptr, c, 0, 0, record, 2); },
         P + 181 + 4 + 16 + 96},
        {"DebugDrawMeshTemplateParts", [&] { gVornexRenderer.DebugDrawMeshTemplateParts(nullptr, m, c, nullptr, 0); },
         P + 80},
        {"DebugDrawParticleTemplate", [&] { gVornexRenderer.DebugDrawParticleTemplate(nullptr, m, nullptr, c); },
         P + 112},
        {"PostDrawText", [&] { gVornexRenderer.PostDrawText(nullptr, m, c, 0, 0, 0, "hello", 5); }, kTextFixed + 5},
        {"BeginRenderCall", [&] { drawer.BeginRenderCall(&SkipEight, 0, 8)->Skip(8); }, 2 * P + 8},
    };
    BeginFrame();
    for (const Case& k : cases) {
        uint8_t* start = EmptyBlockCursor();
        k.post();
        EXPECT_EQ(gVornexRenderer.Ring().Cursor() - start, std::ptrdiff_t(4 + k.bytes)) << k.writer;
    }
    EndFrame();
}

TEST_F(StreamTest, FrameLatencyBoundsHowFarTheMainThreadRunsAhead) {
    for (uint32_t ahead : {0u, 1u, 2u, 3u}) {
        for (uint32_t frame = 0; frame < 12; ++frame) {
            ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_SLEEP, 4));
            gVornexRenderer.Ring().WriteValue(uint32_t(2));
            gVornexRenderer.EndFrame();
            gVornexRenderer.WaitForFrameLatency(ahead);
            const uint32_t posted = gVornexRenderer.PostedFrames(), waited = gVornexRenderer.WaitedFrames();
            EXPECT_LE(posted - waited, ahead);
            EXPECT_GE(gVornexRenderer.CompletedFrames(), waited);
        }
    }
    gVornexRenderer.WaitForFrameLatency(0);
    ASSERT_TRUE(WaitUntil([] { return gVornexRenderer.CompletedFrames() == gVornexRenderer.PostedFrames(); }));
    EXPECT_EQ(gVornexRenderer.WaitedFrames(), gVornexRenderer.PostedFrames());
}

std::atomic<uint32_t> gScreenDraws{0};

TEST_F(StreamTest, LoadingScreenPresentsAtMostEveryIntervalAndOnlyWhileLoading) {
    static os::ManualClock clock(1'000'000'000);  // the render thread may read it after the test
    clock.Install();
    gScreenDraws = 0;
    static struct : UIDrawServices {
        void Draw(UIElement*) override { ++gScreenDraws; }
    } screens;
    SetUIDrawServices(&screens);
    static int screen;  // a stand-in address: only the recording draws above see it
    gVornexRenderer.SetSceneLoading(1);
    gVornexRenderer.SetLoadingScreen(reinterpret_cast<UIElement*>(&screen), 0, 0);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gScreenDraws.load(), 1u);  // drawn at once
    const uint32_t first = gVornexRenderer.LoadingScreenPresents();
    // 0.2 s of clock time in 2 ms steps: at most one present per 0.016 s.
    for (uint32_t step = 0; step < 100; ++step) {
        clock.Advance(os::kCounterFrequency / 500);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40));  // a present already due runs
    ASSERT_TRUE(WaitUntil([] { return !gVornexRendererPresenter.PresentOutstanding(); }));
    const uint32_t presents = gVornexRenderer.LoadingScreenPresents() - first;
    EXPECT_GE(presents, 1u);
    EXPECT_LE(presents, 0.2 / 0.015 + 1);
    // A frozen clock presents nothing more: once a present that was already due has run
    // (a loaded machine may run it late), the count stays.
    uint32_t frozen = gVornexRenderer.LoadingScreenPresents();
    for (int tries = 0; tries < 20; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        const uint32_t now = gVornexRenderer.LoadingScreenPresents();
        if (now == frozen) break;
        frozen = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(gVornexRenderer.LoadingScreenPresents(), frozen);
    // Without a scene loading nothing is presented, however much time passes.
    gVornexRenderer.SetSceneLoading(0);
    const uint32_t stopped = gVornexRenderer.LoadingScreenPresents();
    for (uint32_t step = 0; step < 20; ++step) {
        clock.Advance(os::kCounterFrequency / 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(gVornexRenderer.LoadingScreenPresents(), stopped);
    gVornexRenderer.FlushCommands(true);
    clock.Uninstall();
}

}  // namespace
