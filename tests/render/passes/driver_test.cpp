// The frame pass driver: gathering, the bucket sort and states, the deferred pre-pass
// order, the pass flags, the delegate hook and the overflow reports.
//
// The sun's shadow map: the fit against the ground-clipped frustum, texel snapping, the
// bias scale, the caster filters, one draw per caster, and what the pass restores.
// test-sanitize: thread address
#include <algorithm>
#include <bit>

#include "PassesTestSupport.h"
#include "core/config/ProjectConfig.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

using namespace rendertest;
using namespace passtest;

namespace {

constexpr uint32_t K = STENCILOP_KEEP, R = STENCILOP_REPLACE;

struct HookLog {
    std::vector<std::pair<uint32_t, uint32_t>> batches;  // (pass, mode) begun; (flags, ~0u) flushed
    uint32_t delegateCalls = 0;
    GameDelegate* delegate = nullptr;
};
HookLog gHooks;

struct PassesTest : RendererFixture {
    void SetUp() override {
        Seen().clear();
        gHooks = HookLog{};
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        // The mesh draw batches and the delegate's scene hook, recorded.
        static struct : SceneDrawServices {
            void BeginMeshDrawBatch(uint32_t pass, uint32_t mode) override { gHooks.batches.push_back({pass, mode}); }
            void FlushMeshDrawBatch(uint32_t flags) override { gHooks.batches.push_back({flags, ~0u}); }
        } batches;
        static struct : GameRenderServices {
            void RenderScenePass(GameDelegate* d) override {
                ++gHooks.delegateCalls;
                gHooks.delegate = d;
            }
        } game;
        SetSceneDrawServices(&batches);
        SetGameRenderServices(&game);
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
    // A stand-in address: the renderer only hands the delegate to the recording services.
    int delegateObject = 0;
    GameDelegate* const delegate = reinterpret_cast<GameDelegate*>(&delegateObject);
    gVornexRenderer.PostGameDelegate(delegate);
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
        EXPECT_EQ(gHooks.delegate, delegate);
    }
    gVornexRenderer.PostGameDelegate(nullptr);
    gHooks = HookLog{};
    Frame({{forward, RENDER_FLAG_FORWARD}});
    EXPECT_EQ(gHooks.delegateCalls, 0u);
}

// Every pass of the scene draws with the scene constants set at its start (vertex c249,
// pixel c220: the fog colour with 1 - w), whatever those registers held before.
TEST_F(PassesTest, ScenePassesDrawWithTheSceneConstants) {
    RecordingContext* forward = Add(Vector(0, 0, 10, 1), 3);
    RecordingContext* deferred = Add(Vector(0, 0, 10, 1), 3);
    for (const uint32_t flags : {0u, 0x3u}) {
        SCOPED_TRACE(flags);
        Seen().clear();
        RunOnRenderThread([] {
            const float stale[4] = {7, 7, 7, 7};
            gVornexRenderer.Device()->SetVertexShaderConstantF(249, stale, 1);
            gVornexRenderer.Device()->SetPixelShaderConstantF(220, stale, 1);
        });
        Frame({{forward, RENDER_FLAG_FORWARD}, {deferred, RENDER_FLAG_DEFERRED}}, flags);
        ASSERT_GE(Seen().size(), 2u);
        for (const DrawSeen& d : Seen()) {
            EXPECT_EQ(std::vector<float>(d.sceneVertex, d.sceneVertex + 4), (std::vector<float>{0, 1, 0, 0}));
            EXPECT_EQ(std::vector<float>(d.scenePixel, d.scenePixel + 4), (std::vector<float>{0, 0, 0, 0}));
        }
    }
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

namespace {

struct ShadowTest : RendererFixture, ::testing::WithParamInterface<uint32_t> {
    void Configure(RendererSettings& s) override {
        s.shadowMapSize = GetParam();
        s.enableShadowMap = true;
    }
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        gRendererScene->PostInit();
        gVornexRenderer.PostNewScene(BoundingBox4(Vector(-200, 0, -200, 1), Vector(200, 50, 200, 1)), 50.0f);
        SetSun(Vector(0.3f, -1.0f, 0.2f, 0), 0.5f);
        LookAt(Vector(0, 120, -150, 1), Vector(0, 0, 0, 1));
        BeginFrame();
    }
    void TearDown() override {
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        gRendererScene->PostShutdown();
        RendererFixture::TearDown();
    }
    static void SetSun(Vector direction, float strength) {
        direction.NormalizeXYZ();
        RunOnRenderThread([&] {
            SceneParametersWrapper* set = gRendererScene->GetCurrentParameters();
            ASSERT_NE(set, nullptr);
            set->Values().light.lightDirection = direction;
            set->Values().light.shadowStrength = Vector(strength, strength, strength, strength);
        });
    }
    void LookAt(const Vector& eye, const Vector& at) {
        view.LoadLookAtLH(eye, at, Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 600.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    // A caster of half size h at the position, listed in the grid.
    RecordingContext* Caster(const Vector& position, float h = 2.0f, uint8_t kind = ERC_KIND_SHADOW_CASTER) {
        EntityRenderingContextSetup s;
        s.kindFlags = kind;
        s.localBox = BoundingBox4(Vector(-h, -h, -h, 1), Vector(h, h, h, 1));
        s.world.r[3] = Vector(position.x, position.y, position.z, 1);
        contexts.push_back(std::make_unique<RecordingContext>(s));
        return contexts.back().get();
    }
    void Refresh() {
        for (auto& c : contexts) c->PostRefresh();
    }
    static void Pass(uint32_t flags = 0) {
        gVornexRenderer.PostShadowMapPass(flags, 0);
        gVornexRenderer.FlushCommands(true);
    }
    Matrix view, projection;
    std::vector<std::unique_ptr<RecordingContext>> contexts;
};

// The frustum corners clipped to the ground plane y = 0, computed here from the camera.
std::vector<Vector> GroundClippedCorners(const Matrix& view, const Matrix& projection) {
    Matrix vp, inverse;
    vp.Mul(projection, view);
    inverse.Inverse(vp);
    std::vector<Vector> out;
    for (int i = 0; i < 4; ++i) {
        Vector n((i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, 0, 1), f(n.x, n.y, 1, 1);
        n.TransformHomogen(inverse);
        f.TransformHomogen(inverse);
        if (f.y < 0.0f) {
            const float t = n.y / (n.y - f.y);
            f = Vector(n.x + (f.x - n.x) * t, 0.0f, n.z + (f.z - n.z) * t, 1);
        }
        out.push_back(n);
        out.push_back(f);
    }
    return out;
}

TEST_P(ShadowTest, TheFitCoversTheGroundClippedFrustumAndSnapsToWholeTexels) {
    const float S = static_cast<float>(GetParam());
    struct Case { const char* what; Vector eye, at; };
    const Case cases[] = {
        {"looking down", Vector(0, 120, -150, 1), Vector(0, 0, 0, 1)},
        {"steep", Vector(10, 300, -20, 1), Vector(0, 0, 10, 1)},
        {"at the horizon", Vector(0, 20, -100, 1), Vector(0, 20, 100, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LookAt(c.eye, c.at);
        Pass();
        Matrix texture, lightView, lightProjection;
        RunOnRenderThread([&] {
            texture = gVornexRenderer.ShadowTextureMatrix();
            lightView = gVornexRenderer.LightView();
            lightProjection = gVornexRenderer.LightProjection();
        });
        // Snapping moves the centre by less than a texel without growing the box.
        const float e = 1.0f / S + 1e-4f;
        for (const Vector& p : GroundClippedCorners(view, projection)) {
            Vector t;
            t.TransformHomogen(texture, p);
            EXPECT_TRUE(t.x >= -e && t.x <= 1.0f + e && t.y >= -e && t.y <= 1.0f + e && t.z >= 0.0f && t.z <= 1.0001f)
                << t.x << " " << t.y << " " << t.z;
        }
        // The light view looks along the sun.
        Vector axis(lightView.r[0].z, lightView.r[1].z, lightView.r[2].z, 0);
        Vector sun(0.3f, -1.0f, 0.2f, 0);
        sun.NormalizeXYZ();
        EXPECT_NEAR(axis.Dot3(sun), 1.0f, 1e-4f);
        // The centre sits on whole texels: row 3 of an off-centre projection is -2c / d.
        for (float v : {lightProjection.r[3].x, lightProjection.r[3].y}) {
            const float texels = v * S * 0.5f;
            EXPECT_NEAR(texels, std::round(texels), 0.02f);
        }
    }
    // Moves under a texel shift the projection by whole texels only.
    LookAt(Vector(0, 120, -150, 1), Vector(0, 0, 0, 1));
    Pass();
    Matrix before;
    RunOnRenderThread([&] { before = gVornexRenderer.LightProjection(); });
    for (float dx : {0.01f, 0.05f, 0.2f}) {
        LookAt(Vector(dx, 120, -150, 1), Vector(dx, 0, 0, 1));
        Pass();
        Matrix after;
        RunOnRenderThread([&] { after = gVornexRenderer.LightProjection(); });
        EXPECT_EQ(after.r[0].x, before.r[0].x) << dx;
        const float shift = (after.r[3].x - before.r[3].x) * S * 0.5f;
        EXPECT_NEAR(shift, std::round(shift), 0.02f) << dx;
    }
}

TEST_P(ShadowTest, EdgesParallelToTheGroundReachOneThousandUnits) {
    // An orthographic camera below the ground: every side edge runs along z.
    Matrix ortho;
    ortho.LoadOrthoOffCenterLH(-10, 10, -10, 10, 1, 500);
    Matrix below;
    below.LoadTranslation(0, 50, 0);  // the eye at y = -50
    gVornexRenderer.SetCamera(below, ortho, Matrix::IDENTITY);
    Vector corners[8];
    RunOnRenderThread([&] { gVornexRenderer.ClipFrustumToGround(0.0f, corners); });
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(corners[i].z, 1.0f, 1e-4f) << i;
        EXPECT_NEAR(corners[i + 4].z, corners[i].z + 1000.0f, 1e-2f) << i;
        EXPECT_NEAR(corners[i + 4].y, corners[i].y, 1e-4f) << i;
    }
    // Above the ground the far corners stay.
    RunOnRenderThread([&] { gVornexRenderer.ClipFrustumToGround(-100.0f, corners); });
    for (int i = 4; i < 8; ++i) EXPECT_NEAR(corners[i].z, 500.0f, 1e-2f) << i;
}

TEST_P(ShadowTest, EachFilterExcludesExactlyItsCasterAndEachCasterDrawsOnce) {
    uint32_t layers[kRenderLayerMaskWords];
    std::fill(std::begin(layers), std::end(layers), 0xFFFFFFFFu);
    layers[0] &= ~(1u << 9);  // layer 9 hidden
    gVornexRenderer.PostLayerMasks(layers, 4);
    RecordingContext* plain = Caster(Vector(0, 2, 0, 1));
    RecordingContext* wide = Caster(Vector(20, 2, 20, 1), 60.0f);  // many cells
    RecordingContext* notCaster = Caster(Vector(5, 2, 0, 1), 2.0f, 0);
    RecordingContext* excluded = Caster(Vector(10, 2, 0, 1));
    RecordingContext* otherMask = Caster(Vector(15, 2, 0, 1));
    RecordingContext* quality3 = Caster(Vector(-5, 2, 0, 1));
    RecordingContext* quality6 = Caster(Vector(-10, 2, 0, 1));
    RecordingContext* outside = Caster(Vector(0, -5000, 0, 1));
    RecordingContext* hidden = Caster(Vector(-15, 2, 0, 1));
    RecordingContext* hiddenLayer = Caster(Vector(-20, 2, 0, 1));
    // The setup values that differ (set on idle contexts before their first refresh).
    auto with = [&](RecordingContext* c, auto change) {
        EntityRenderingContextSetup s;
        s.kindFlags = c->KindFlags();
        s.localBox = c->LocalBox();
        s.world = c->World();
        change(s);
        for (auto& owned : contexts)
            if (owned.get() == c) owned = std::make_unique<RecordingContext>(s);
    };
    with(excluded, [](EntityRenderingContextSetup& s) { s.exclusionMask = 4; });
    with(otherMask, [](EntityRenderingContextSetup& s) { s.exclusionMask = 8; });
    with(quality3, [](EntityRenderingContextSetup& s) { s.minimumQuality = 3; });
    with(quality6, [](EntityRenderingContextSetup& s) { s.minimumQuality = 6; });
    with(hidden, [](EntityRenderingContextSetup& s) { s.hidden = true; });
    with(hiddenLayer, [](EntityRenderingContextSetup& s) { s.layer = 9; });
    Refresh();
    (void)plain, (void)wide, (void)notCaster, (void)outside;
    // Order of contexts: plain, wide, notCaster, excluded, otherMask, quality3, quality6,
    // outside, hidden, hiddenLayer.
    struct Case { uint32_t flags; std::vector<size_t> drawn; };
    for (const Case& c : {Case{0, {0, 1, 4}}, Case{8, {0, 1, 4, 5}}}) {
        SCOPED_TRACE(c.flags);
        for (auto& owned : contexts) owned->depthDraws.clear();
        Pass(c.flags);
        for (size_t i = 0; i < contexts.size(); ++i) {
            const bool want = std::find(c.drawn.begin(), c.drawn.end(), i) != c.drawn.end();
            ASSERT_EQ(contexts[i]->depthDraws.size(), want ? 1u : 0u) << "context " << i;
            if (want) {
                EXPECT_EQ(contexts[i]->depthDraws[0], c.flags);
            }
        }
    }
}

// Casters, turned and of several sizes, across the light box's faces: each is drawn
// exactly when its box and the light box overlap as oriented boxes.
TEST_P(ShadowTest, CastersAtTheLightBoxFacesDrawWhenTheirBoxesOverlapIt) {
    Pass();
    BoundingBox4 box;
    Matrix inverse;
    RunOnRenderThread([&] {
        box = gVornexRenderer.LightSpaceBox();
        inverse = gVornexRenderer.LightInverse();
    });
    const Vector mid = box.GetCenter();
    const BoundingBox4 grid(Vector(-190, 0, -190, 1), Vector(190, 50, 190, 1));
    for (int axis = 0; axis < 2; ++axis)
        for (const float face : {box.min[axis], box.max[axis]})
            for (const float h : {0.5f, 2.0f})
                for (const float off : {-1.5f, -0.6f, -0.1f, 0.0f, 0.1f, 0.6f, 1.5f}) {
                    Vector p(mid.x, mid.y, mid.z, 1);
                    (axis == 0 ? p.x : p.y) = face + off * h * 2.0f;
                    // The depth along the light that puts the caster at the height of 2.
                    p.z = (2.0f - p.x * inverse.r[0].y - p.y * inverse.r[1].y - inverse.r[3].y) / inverse.r[2].y;
                    p.Transform3D(inverse);
                    if (!grid.Inside3D(p)) continue;
                    RecordingContext* c = Caster(p, h);
                    EntityRenderingContextSetup s;
                    s.kindFlags = c->KindFlags();
                    s.localBox = c->LocalBox();
                    s.world.LoadYRotation(25.0f + 40.0f * off);
                    s.world.r[3] = Vector(p.x, p.y, p.z, 1);
                    contexts.back() = std::make_unique<RecordingContext>(s);
                }
    ASSERT_GE(contexts.size(), 10u);
    Refresh();
    Pass();
    int drawn = 0;
    for (const auto& c : contexts) {
        const bool overlaps = c->LocalBox().CollidesWithOtherBox3D(c->World(), box, inverse);
        EXPECT_EQ(c->depthDraws.size(), overlaps ? 1u : 0u) << c->World().r[3].x << " " << c->World().r[3].z;
        drawn += overlaps;
    }
    EXPECT_TRUE(drawn > 0 && drawn < int(contexts.size())) << drawn;
}

TEST_P(ShadowTest, BiasScalesWithTheMapSizeAndThePassRestoresWhatItChanged) {
    struct BiasContext : RecordingContext {
        using RecordingContext::RecordingContext;
        void DrawDepth(void* task, uint32_t flags) override {
            RecordingContext::DrawDepth(task, flags);
            bias = DeviceState(RS_DEPTHBIAS), slope = DeviceState(RS_SLOPESCALEDEPTHBIAS);
            colorWrites = DeviceState(RS_COLORWRITEENABLE);
            gVornexRenderer.Device()->GetViewport(&viewport);
            lightCamera = gVornexRenderer.ViewMatrix() == gVornexRenderer.LightView();
        }
        uint32_t bias = 0, slope = 0, colorWrites = 99;
        Viewport viewport{};
        bool lightCamera = false;
    };
    EntityRenderingContextSetup s;
    s.kindFlags = ERC_KIND_SHADOW_CASTER;
    s.localBox = BoundingBox4(Vector(-2, -2, -2, 1), Vector(2, 2, 2, 1));
    contexts.push_back(std::make_unique<BiasContext>(s));
    auto* c = static_cast<BiasContext*>(contexts.back().get());
    Refresh();
    gVornexRenderer.SetViewport(3, 4, 100, 60, 0.0f, 1.0f);
    Surface* targetBefore = nullptr;
    Viewport viewportBefore{};
    RunOnRenderThread([&] {
        gVornexRenderer.Device()->GetRenderTarget(0, &targetBefore);
        gVornexRenderer.Device()->GetViewport(&viewportBefore);
    });
    Pass();
    ASSERT_EQ(c->depthDraws.size(), 1u);
    const float k = GetParam() == 1024 ? 2.0f : 1.0f;
    const float depthBias = gProjectConfig ? gProjectConfig->depthBias : 0.01f;
    const float slopeBias = gProjectConfig ? gProjectConfig->slopeDepthBias : 0.02f;
    EXPECT_EQ(c->bias, std::bit_cast<uint32_t>(depthBias * k));
    EXPECT_EQ(c->slope, std::bit_cast<uint32_t>(slopeBias * k));
    EXPECT_EQ(c->colorWrites, 0u);
    EXPECT_EQ(c->viewport.width, GetParam());
    EXPECT_TRUE(c->lightCamera);

    Surface* targetAfter = nullptr;
    Surface* depthAfter = nullptr;
    Viewport viewportAfter{};
    Matrix viewAfter;
    RunOnRenderThread([&] {
        gVornexRenderer.Device()->GetRenderTarget(0, &targetAfter);
        gVornexRenderer.Device()->GetDepthStencilSurface(&depthAfter);
        gVornexRenderer.Device()->GetViewport(&viewportAfter);
        viewAfter = gVornexRenderer.ViewMatrix();
    });
    EXPECT_EQ(targetAfter, targetBefore);
    EXPECT_EQ(depthAfter, gVornexRenderer.Target(TARGET_MAIN_DEPTH).surface);
    EXPECT_TRUE(viewportAfter.x == viewportBefore.x && viewportAfter.y == viewportBefore.y &&
                viewportAfter.width == viewportBefore.width && viewportAfter.height == viewportBefore.height);
    EXPECT_TRUE(viewAfter == view);
    EXPECT_EQ(DeviceState(RS_COLORWRITEENABLE), 15u);
    EXPECT_EQ(DeviceState(RS_DEPTHBIAS), 0u);
    for (Surface* s : {targetBefore, targetAfter, depthAfter})
        if (s) s->Release();
}

TEST_P(ShadowTest, WithoutStrengthTheMatricesStay) {
    Pass();
    Matrix before;
    RunOnRenderThread([&] { before = gVornexRenderer.LightView(); });
    SetSun(Vector(-0.5f, -1.0f, 0.4f, 0), 0.0f);
    Pass();
    Matrix after;
    RunOnRenderThread([&] { after = gVornexRenderer.LightView(); });
    EXPECT_TRUE(after == before);
    SetSun(Vector(-0.5f, -1.0f, 0.4f, 0), 0.5f);
    Pass();
    RunOnRenderThread([&] { after = gVornexRenderer.LightView(); });
    EXPECT_FALSE(after == before);
}

INSTANTIATE_TEST_SUITE_P(MapSize, ShadowTest, ::testing::Values(1024u, 2048u));

}  // namespace
