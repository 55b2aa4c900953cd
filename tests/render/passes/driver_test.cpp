// The frame pass driver: gathering, the bucket sort and states, the deferred pre-pass
// order, the pass flags, the delegate hook and the overflow reports.
// test-sanitize: thread address
#include "PassesTestSupport.h"

using namespace rendertest;
using namespace passtest;

namespace {

constexpr uint32_t K = STENCILOP_KEEP, R = STENCILOP_REPLACE;

struct HookLog {
    std::vector<std::pair<uint32_t, uint32_t>> batches;  // (pass, mode) begun; (flags, ~0u) flushed
    uint32_t delegateCalls = 0;
    void* delegate = nullptr;
};
HookLog gHooks;

struct PassesTest : RendererFixture {
    void SetUp() override {
        Seen().clear();
        gHooks = HookLog{};
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        gRenderHooks.MeshTemplateRenderingDataBeginDrawBatch = [](uint32_t pass, uint32_t mode) {
            gHooks.batches.push_back({pass, mode});
        };
        gRenderHooks.MeshTemplateRenderingDataFlushDrawBatch = [](uint32_t flags) {
            gHooks.batches.push_back({flags, ~0u});
        };
        gRenderHooks.GameDelegateRenderScenePass = [](void* d) {
            ++gHooks.delegateCalls;
            gHooks.delegate = d;
        };
        Matrix projection;
        projection.LoadPerspectiveFovLH(1.0f, 16.0f / 9.0f, 1.0f, 1000.0f);
        gVornexRenderer.SetCamera(Matrix::IDENTITY, projection, Matrix::IDENTITY);
    }
    void TearDown() override {
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        RendererFixture::TearDown();
    }
    RecordingContext* Add(const Vector& position, uint32_t bucket, float bias = 0.0f) {
        contexts.push_back(MakeContext(position, bucket, bias));
        return contexts.back().get();
    }
    static void EnableBucket(uint32_t bucket, bool on) {
        ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_BUCKET_ENABLE, 5));
        gVornexRenderer.Ring().WriteValue(bucket);
        gVornexRenderer.Ring().WriteValue(uint8_t(on ? 1 : 0));
    }
    // One frame: gather, submit (context, flags) pairs, run task 49.
    void Frame(const std::vector<std::pair<RecordingContext*, uint32_t>>& tasks, uint32_t passFlags = 0) {
        BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        for (const auto& [c, flags] : tasks) gVornexRenderer.SubmitRenderTask(c, flags);
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), passFlags, 1);
        gVornexRenderer.FlushCommands(true);
    }
    std::vector<const EntityRenderingContext*> DrawOrder(uint32_t pass) {
        std::vector<const EntityRenderingContext*> out;
        for (const DrawSeen& d : Seen())
            if (d.arguments.pass == pass) out.push_back(d.context);
        return out;
    }
    std::vector<std::unique_ptr<RecordingContext>> contexts;
};

TEST_F(PassesTest, OutsideAGatherATaskDrawsAtOnceWithPass16) {
    RecordingContext* c = Add(Vector(0, 0, 10, 1), 3);
    gVornexRenderer.SubmitRenderTask(c, RENDER_FLAG_FORWARD | RENDER_FLAG_DEFERRED);
    gVornexRenderer.FlushCommands(true);
    ASSERT_EQ(Seen().size(), 1u);
    const DrawSeen& d = Seen()[0];
    EXPECT_EQ(d.task, nullptr);
    EXPECT_EQ(d.arguments.pass, 16u);
    EXPECT_EQ(d.arguments.mode, 0u);
    EXPECT_EQ(d.arguments.flags, RENDER_FLAG_FORWARD | RENDER_FLAG_DEFERRED);
    EXPECT_EQ(d.arguments.vector.x, 0.0f);
    EXPECT_EQ(d.arguments.vector.w, 0.0f);
    EXPECT_EQ(gVornexRenderer.GatheredTasks(), 0u);
}

TEST_F(PassesTest, SortKeysMatchTheReference) {
    struct Case { Vector position; float bias; };
    const Case cases[] = {
        {Vector(0, 0, 10, 1), 0.0f},      {Vector(3, -2, 250, 1), 0.0f}, {Vector(-40, 8, 0.5f, 1), 0.0f},
        {Vector(0, 0, -30, 1), 0.0f},     {Vector(1, 1, 40, 1), 12.5f},  {Vector(0, 0, 5, 1), -20000.0f},
        {Vector(0, 0, 0, 1), 0.0f},       {Vector(5, 0, -9999, 1), 0.0f},
    };
    std::vector<std::pair<RecordingContext*, uint32_t>> tasks;
    for (const Case& c : cases) tasks.push_back({Add(c.position, 4, c.bias), RENDER_FLAG_FORWARD});
    Frame(tasks);
    if (Reference("sortkey 0 0 0 0 0 1 -1 -1 -1 1 1 1 0 0 0 0").empty()) GTEST_SKIP() << "no python3-numpy";
    for (uint32_t i = 0; i < std::size(cases); ++i) {
        std::ostringstream a;
        a << "sortkey 0 0 0 0 0 1 -1 -1 -1 1 1 1 " << cases[i].position.x << ' ' << cases[i].position.y << ' '
          << cases[i].position.z << ' ' << cases[i].bias;
        const uint32_t want = static_cast<uint32_t>(std::stoul(Reference(a.str())));
        EXPECT_EQ(gVornexRenderer.SortKeyEntry(i).key, want) << i;
        EXPECT_EQ(gVornexRenderer.SortKeyEntry(i).index, i);
    }
}

TEST_F(PassesTest, BucketsDrawInOrderWithTheirStatesAndSortFarthestFirst) {
    // Submission order is scrambled across buckets; within a bucket positions vary.
    RecordingContext* b0a = Add(Vector(0, 0, 10, 1), 0);
    RecordingContext* b2near = Add(Vector(0, 0, 10, 1), 2);
    RecordingContext* b0b = Add(Vector(0, 0, 50, 1), 0);
    RecordingContext* b3first = Add(Vector(0, 0, 20, 1), 3);
    RecordingContext* b2far = Add(Vector(0, 0, 30, 1), 2);
    RecordingContext* b3second = Add(Vector(0, 0, 20, 1), 3);  // equal key: submission order
    RecordingContext* b1 = Add(Vector(0, 0, 5, 1), 1);
    RecordingContext* b5none = Add(Vector(0, 0, 5, 1), 5, -20000.0f);  // key 0: last
    RecordingContext* b5 = Add(Vector(0, 0, 1, 1), 5);
    RecordingContext* b4 = Add(Vector(0, 0, 1, 1), 4);
    RecordingContext* b6 = Add(Vector(0, 0, 1, 1), 6);
    RecordingContext* b7 = Add(Vector(0, 0, 1, 1), 7);  // disabled below
    RecordingContext* b8 = Add(Vector(0, 0, 1, 1), 8);
    RecordingContext* b12 = Add(Vector(0, 0, 1, 1), 12);
    RecordingContext* b13 = Add(Vector(0, 0, 1, 1), 13);
    EnableBucket(7, false);
    std::vector<std::pair<RecordingContext*, uint32_t>> tasks;
    for (RecordingContext* c : {b0a, b2near, b0b, b3first, b2far, b3second, b1, b5none, b5, b4, b6, b7, b8, b12, b13})
        tasks.push_back({c, RENDER_FLAG_FORWARD});
    Frame(tasks);

    const std::vector<const EntityRenderingContext*> want = {b0a, b0b, b1, b2far, b2near, b3first, b3second, b4,
                                                             b5, b5none, b6, b8, b12, b13};
    EXPECT_EQ(DrawOrder(1), want);
    // The state every bucket's draws meet: the table, with "unchanged" carried over from
    // the bucket before and the stencil off after buckets 0, 1, 2, 4, 6, 8 and 12.
    struct Want { uint32_t mode, colorWrites, stencilEnable, pass, fail, zFail, function, reference, mask, writeMask; };
    auto expect = [&](const EntityRenderingContext* c, const Want& w) {
        for (const DrawSeen& d : Seen()) {
            if (d.context != c || d.arguments.pass != 1) continue;
            SCOPED_TRACE(c->Bucket());
            EXPECT_EQ(d.arguments.mode, w.mode);
            EXPECT_EQ(d.arguments.flags, RENDER_FLAG_FORWARD);
            EXPECT_EQ(d.colorWrites, w.colorWrites);
            EXPECT_EQ(d.stencilEnable, w.stencilEnable);
            if (!w.stencilEnable) continue;
            EXPECT_EQ(d.pass, w.pass);
            EXPECT_EQ(d.fail, w.fail);
            EXPECT_EQ(d.zFail, w.zFail);
            EXPECT_EQ(d.function, w.function);
            EXPECT_EQ(d.reference, w.reference);
            EXPECT_EQ(d.mask, w.mask);
            EXPECT_EQ(d.writeMask, w.writeMask);
        }
    };
    expect(b0a, {0, 0, 1, R, R, R, CMP_ALWAYS, 255, 97, 97});
    expect(b1, {0, 0, 1, R, R, R, CMP_ALWAYS, 255, 33, 33});
    expect(b2far, {0, 15, 1, K, K, K, CMP_EQUAL, 0, 64, 0});
    expect(b3first, {3, 15, 0, 0, 0, 0, 0, 0, 0, 0});
    expect(b4, {0, 15, 1, K, K, K, CMP_EQUAL, 64, 64, 0});
    expect(b5, {0, 15, 0, 0, 0, 0, 0, 0, 0, 0});
    expect(b6, {0, 15, 1, R, R, K, CMP_EQUAL, 192, 64, 128});
    expect(b8, {0, 15, 1, R, R, K, CMP_NOTEQUAL, 0, 96, 128});
    expect(b12, {0, 15, 1, K, K, K, CMP_EQUAL, 128, 128, 0});
    expect(b13, {0, 15, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(DeviceState(RS_STENCILENABLE), 0u);
    EXPECT_EQ(DeviceState(RS_COLORWRITEENABLE), 15u);
    EXPECT_FALSE(gVornexRenderer.Gathering());
    // Each draw is given its own task record.
    for (const DrawSeen& d : Seen())
        if (d.arguments.pass == 1) {
            EXPECT_EQ(static_cast<const RenderTaskRecord*>(d.task)->context, d.context);
        }
}

TEST_F(PassesTest, AnEmptyForwardPassDrawsNothingAndLeavesStencilOff) {
    RecordingContext* deferred = Add(Vector(0, 0, 10, 1), 3);
    Frame({{deferred, RENDER_FLAG_DEFERRED}});
    EXPECT_TRUE(DrawOrder(1).empty());
    EXPECT_EQ(DrawOrder(2).size(), 1u);
    EXPECT_EQ(DeviceState(RS_STENCILENABLE), 0u);
}

TEST_F(PassesTest, PassFlagsAndTheDelegateHook) {
    RecordingContext* forward = Add(Vector(0, 0, 10, 1), 3);
    RecordingContext* deferred = Add(Vector(0, 0, 10, 1), 3);
    int delegateObject = 0;
    gVornexRenderer.PostCommand9(&delegateObject);
    struct Case { uint32_t flags; bool prePass; };
    for (const Case& c : {Case{0, true}, Case{RENDER_PASS_SKIP_DEFERRED, false},
                          Case{RENDER_PASS_SKIP_OUTLINES | 0x3, true}}) {
        SCOPED_TRACE(c.flags);
        Seen().clear();
        gHooks = HookLog{};
        Frame({{forward, RENDER_FLAG_FORWARD}, {deferred, RENDER_FLAG_DEFERRED}}, c.flags);
        EXPECT_EQ(DrawOrder(1).size(), 1u);
        EXPECT_EQ(DrawOrder(2).size(), c.prePass ? 1u : 0u);
        EXPECT_EQ(gHooks.batches.empty(), !c.prePass);
        EXPECT_EQ(gHooks.delegateCalls, 1u);
        EXPECT_EQ(gHooks.delegate, &delegateObject);
    }
    gVornexRenderer.PostCommand9(nullptr);
    gHooks = HookLog{};
    Frame({{forward, RENDER_FLAG_FORWARD}});
    EXPECT_EQ(gHooks.delegateCalls, 0u);
}

TEST_F(PassesTest, DeferredMeshesDrawInThreeBatchedPassesInOrder) {
    RecordingContext* geometry = Add(Vector(0, 0, 10, 1), 3);
    RecordingContext* third = Add(Vector(0, 0, 10, 1), 3);
    RecordingContext* both = Add(Vector(0, 0, 10, 1), 3);
    Frame({{geometry, RENDER_FLAG_DEFERRED}, {third, RENDER_FLAG_DEFERRED_THIRD},
           {both, RENDER_FLAG_DEFERRED | RENDER_FLAG_DEFERRED_THIRD}},
          0x1234);
    const std::vector<std::pair<uint32_t, uint32_t>> batches = {{2, 3}, {0x1234, ~0u}, {4, 0}, {0x1234, ~0u},
                                                               {8, 1}, {0x1234, ~0u}};
    EXPECT_EQ(gHooks.batches, batches);
    using V = std::vector<const EntityRenderingContext*>;
    EXPECT_EQ(DrawOrder(2), (V{geometry, both}));
    EXPECT_EQ(DrawOrder(4), (V{geometry, both}));
    EXPECT_EQ(DrawOrder(8), (V{third, both}));
    for (const DrawSeen& d : Seen()) {
        SCOPED_TRACE(d.arguments.pass);
        EXPECT_EQ(d.arguments.mode, d.arguments.pass == 2 ? 3u : d.arguments.pass == 8 ? 1u : 0u);
        // Deferred draws get the diffuse multiplier (white without a scene set).
        EXPECT_EQ(d.arguments.vector.x, 1.0f);
        if (d.arguments.pass == 2) {
            EXPECT_EQ(d.stencilEnable, 1u);
            EXPECT_EQ(std::vector<uint32_t>({d.pass, d.fail, d.zFail, d.function, d.reference, d.mask, d.writeMask}),
                      std::vector<uint32_t>({R, R, R, CMP_ALWAYS, 255, 1, 1}));
        }
        if (d.arguments.pass == 4) {
            EXPECT_EQ(d.stencilEnable, 0u);
            // The light buffers at flags 14 plus sRGB read.
            for (const auto& sampler : d.lightSamplers)
                EXPECT_EQ(std::vector<uint32_t>(sampler, sampler + 3),
                          std::vector<uint32_t>({1, TADDRESS_CLAMP, TEXF_POINT}));
        }
        if (d.arguments.pass == 8) {
            EXPECT_EQ(std::vector<uint32_t>({d.stencilEnable, d.function, d.reference, d.mask, d.writeMask}),
                      std::vector<uint32_t>({1, CMP_ALWAYS, 255, 0, 0}));
        }
    }
}

TEST_F(PassesTest, OverflowsDropAndReportOncePerPass) {
    struct Case {
        const char* message;
        uint32_t count, flags, mask;
        uint32_t drawn;  // forward draws
        bool logged;
    };
    const char* tasksMessage = "Too many gathered render tasks. Certain objects will not display at all.";
    const char* meshesMessage = "Too many deferred meshes visible at once. Please kick the nearest programmer's butt "
                                "and ask him to increase the buffer size or develop a better solution.";
    const char* outlinedMessage = "Too many outlined entities visible at once. Please kick the nearest programmer's "
                                  "butt and ask him to increase the buffer size or develop a better solution.";
    const Case cases[] = {
        {tasksMessage, 1280, RENDER_FLAG_FORWARD, 0, 1280, false},
        {tasksMessage, 1281, RENDER_FLAG_FORWARD, 0, 1280, true},
        {meshesMessage, 8191, RENDER_FLAG_DEFERRED, 0, 0, false},
        {meshesMessage, 8192, RENDER_FLAG_DEFERRED, 0, 0, true},
        {outlinedMessage, 1023, RENDER_FLAG_OUTLINE, 2, 0, false},
        {outlinedMessage, 1024, RENDER_FLAG_OUTLINE, 2, 0, true},
    };
    RecordingContext* c = Add(Vector(0, 0, 10, 1), 4);
    c->category = 2;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.count);
        Seen().clear();
        log.Clear();
        gVornexRenderer.PostOutlineTypeMask(k.mask);
        std::vector<std::pair<RecordingContext*, uint32_t>> tasks(k.count, {c, k.flags});
        Frame(tasks, RENDER_PASS_SKIP_DEFERRED);
        EXPECT_EQ(DrawOrder(1).size(), k.drawn);
        size_t lines = 0;
        for (const auto& m : log.Messages()) lines += m.text == k.message;
        EXPECT_EQ(lines, k.logged ? 1u : 0u);
        EXPECT_EQ(gVornexRenderer.TaskOverflow(), k.count > 1280 && k.flags == RENDER_FLAG_FORWARD);
    }
    // An outline candidate whose category misses the mask is not gathered.
    gVornexRenderer.PostOutlineTypeMask(4);
    Frame({{c, RENDER_FLAG_OUTLINE}});
    EXPECT_EQ(gVornexRenderer.GatheredOutlinedEntities(), 0u);
}

}  // namespace
