// The deferred pre-pass on each depth path (INTZ, RAWZ, linear depth) with and without
// multisampling: the linear-depth clear and binding, the geometry stencil, the batch order
// on the mesh hooks, the depth surfaces of the passes, and the depth source the ambient
// occlusion samples.
// test-depends: shader_data
// test-sanitize: address
#include "DeferredTestSupport.h"
#include "render/DeviceObjectHandle.h"

using namespace rendertest;
using namespace passtest;

namespace {

constexpr uint32_t R = STENCILOP_REPLACE;

enum class Depth { Intz, Rawz, Linear };

struct Case {
    const char* name;
    Depth depth;
    bool msaa;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<std::pair<uint32_t, uint32_t>> gBatches;  // (pass, mode) begun; (flags, ~0u) flushed

// The targets and depth-stencil surface bound at each draw.
struct TargetContext : RecordingContext {
    using RecordingContext::RecordingContext;
    void Draw(void* task, const Matrix& m, const RenderTaskArguments& a) override {
        RecordingContext::Draw(task, m, a);
        Bound b{a.pass};
        Surface* s = nullptr;
        for (uint32_t i = 0; i < 2; ++i) {
            s = nullptr;
            gVornexRenderer.Device()->GetRenderTarget(i, &s);
            b.target[i] = s;
            if (s) s->Release();
        }
        s = nullptr;
        gVornexRenderer.Device()->GetDepthStencilSurface(&s);
        b.depth = s;
        if (s) s->Release();
        bound.push_back(b);
    }
    struct Bound {
        uint32_t pass = 0;
        Surface* target[2] = {};
        Surface* depth = nullptr;
    };
    std::vector<Bound> bound;
};

struct PrePassTest : DeferredFixture, ::testing::WithParamInterface<Case> {
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.msaaMode = 1;
        gfx::CapabilityFaults faults;
        faults.refuseIntz = GetParam().depth != Depth::Intz;
        faults.refuseRawz = GetParam().depth == Depth::Linear;
        faults.refuseMultisample = !GetParam().msaa;
        gfx::SetCapabilityFaults(faults);
    }
    void SetUp() override {
        Seen().clear();
        gBatches.clear();
        DeferredFixture::SetUp();
        if (HasFatalFailure()) return;
        gRenderHooks.MeshTemplateRenderingDataBeginDrawBatch = [](uint32_t pass, uint32_t mode) {
            gBatches.push_back({pass, mode});
        };
        gRenderHooks.MeshTemplateRenderingDataFlushDrawBatch = [](uint32_t flags) { gBatches.push_back({flags, ~0u}); };
        Camera(Vector(0, 50, -80, 1), 16.0f / 9.0f);
        Edit([](SceneParameterBlock& p) {
            p.rest.ssaoIntensity = 1.5f;
            p.rest.ssaoRadius = 15.0f;
        });
    }
    static std::vector<float> LinearDepth() {
        std::vector<uint8_t> bytes;
        std::vector<float> out;
        Surface* s = gVornexRenderer.Target(TARGET_LINEAR_DEPTH).surface;
        if (!s) return out;
        gfx::Recorder* r = gfx::GetRecorder(gVornexRenderer.Device());
        if (r->ReadSurface(s, &bytes) != gfx::OK) return out;
        out.resize(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }
};

TEST_P(PrePassTest, TargetsStencilAndBatchesOnEachDepthPath) {
    const Case k = GetParam();
    ASSERT_EQ(gVornexRenderer.HardwareDepth(), k.depth != Depth::Linear);
    ASSERT_EQ(gVornexRenderer.RawzDepth(), k.depth == Depth::Rawz);
    ASSERT_EQ(gVornexRenderer.Target(TARGET_MSAA_COLOR).surface != nullptr, k.msaa);
    // The linear-depth target exists only without hardware depth.
    Surface* const linear = gVornexRenderer.Target(TARGET_LINEAR_DEPTH).surface;
    ASSERT_EQ(linear != nullptr, k.depth == Depth::Linear);
    // Zero it first, so the frame's clear shows.
    if (linear) RunOnRenderThread([&] { gVornexRenderer.Device()->ColorFill(linear, nullptr, 0); });
    if (linear) {
        const std::vector<float> before = LinearDepth();
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(std::count(before.begin(), before.end(), 0.0f), ptrdiff_t(before.size()));
    }

    EntityRenderingContextSetup s;
    s.creationFlags = ERC_FLAG_NO_GRID;
    TargetContext geometry(s), third(s);
    recorder->ClearDrawRecords();
    gVornexRenderer.SetOutputSwapChain(nullptr, 1, 1);
    gVornexRenderer.PostResetFrameGather();
    gVornexRenderer.SubmitRenderTask(&geometry, RENDER_FLAG_DEFERRED);
    gVornexRenderer.SubmitRenderTask(&third, RENDER_FLAG_DEFERRED_THIRD);
    gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0x80000, 1);
    gVornexRenderer.FlushCommands(true);

    // The clear to all ones (1.0 in R32F, the far end); the recording draws write nothing.
    if (linear) {
        const std::vector<float> after = LinearDepth();
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(std::count(after.begin(), after.end(), 1.0f), ptrdiff_t(after.size()));
    }

    const std::vector<std::pair<uint32_t, uint32_t>> batches = {{2, 3}, {0x80000, ~0u}, {4, 0},
                                                               {0x80000, ~0u}, {8, 1}, {0x80000, ~0u}};
    EXPECT_EQ(gBatches, batches);

    Surface* const mainDepth = gVornexRenderer.Target(TARGET_MAIN_DEPTH).surface;
    Surface* const output = k.msaa ? gVornexRenderer.Target(TARGET_MSAA_COLOR).surface
                                   : gVornexRenderer.Target(TARGET_SCENE_COLOR).surface;
    Surface* const composeDepth = k.msaa ? gVornexRenderer.Target(TARGET_MSAA_DEPTH).surface : mainDepth;
    ASSERT_EQ(geometry.bound.size(), 2u);  // passes 2 and 4
    ASSERT_EQ(third.bound.size(), 1u);     // pass 8
    const TargetContext::Bound& g = geometry.bound[0];
    EXPECT_EQ(g.pass, 2u);
    EXPECT_EQ(g.target[0], gVornexRenderer.Target(TARGET_NORMAL).surface);
    EXPECT_EQ(g.target[1], linear);  // null with hardware depth
    // The multisampled depth does not fit the normal target: the main one is bound.
    EXPECT_EQ(g.depth, mainDepth);
    const TargetContext::Bound& c = geometry.bound[1];
    EXPECT_EQ(c.pass, 4u);
    EXPECT_EQ(c.target[0], output);
    EXPECT_EQ(c.target[1], nullptr);
    EXPECT_EQ(c.depth, composeDepth);
    EXPECT_EQ(third.bound[0].target[0], output);
    EXPECT_EQ(third.bound[0].depth, composeDepth);

    // The geometry pass marks stencil bit 0 wherever it draws.
    const DrawSeen* geometryDraw = nullptr;
    for (const DrawSeen& d : Seen())
        if (d.arguments.pass == 2) geometryDraw = &d;
    ASSERT_NE(geometryDraw, nullptr);
    const DrawSeen& d = *geometryDraw;
    EXPECT_EQ(std::vector<uint32_t>({d.stencilEnable, d.pass, d.fail, d.zFail, d.function, d.reference, d.mask,
                                     d.writeMask}),
              std::vector<uint32_t>({1, R, R, R, CMP_ALWAYS, 255, 1, 1}));

    // The ambient occlusion samples the depth source: the main depth texture with
    // hardware depth, else the linear-depth target.
    const PostProcessChain& chain = gVornexRenderer.PostProcess();
    std::vector<DrawRecord> draws = Draws();
    uint32_t prepares = 0;
    for (const DrawRecord& r : draws) {
        bool prepare = false;
        for (auto pass : {PostProcessChain::PASS_SSAO_PREPARE, PostProcessChain::PASS_SSAO_PREPARE_NORMAL_MAPS}) {
            const ShaderPair& p = chain.passShaders[pass];
            prepare |= p.IsValid() && r.pixelShader.serial == gfx::SerialOf(p.pixelObject->DeviceShader());
        }
        if (!prepare) continue;
        ++prepares;
        const RenderTarget& source =
            gVornexRenderer.Target(k.depth == Depth::Linear ? TARGET_LINEAR_DEPTH : TARGET_MAIN_DEPTH);
        ASSERT_NE(source.texture, nullptr);
        EXPECT_EQ(r.textures[10].serial, SerialOf(source.texture->Texture()));
        const gfx::Format want = k.depth == Depth::Intz   ? gfx::FMT_INTZ
                                 : k.depth == Depth::Rawz ? gfx::FMT_RAWZ
                                                          : gfx::FMT_R32F;
        EXPECT_EQ(r.textures[10].format, want);
        EXPECT_EQ(r.SamplerState(10, SAMP_MAGFILTER), uint32_t(TEXF_POINT));
        EXPECT_EQ(r.SamplerState(10, SAMP_ADDRESSU), uint32_t(TADDRESS_CLAMP));
    }
    EXPECT_EQ(prepares, 1u);
    EndFrame();
}

INSTANTIATE_TEST_SUITE_P(Depth, PrePassTest,
                         ::testing::Values(Case{"Intz", Depth::Intz, false}, Case{"Rawz", Depth::Rawz, false},
                                           Case{"Linear", Depth::Linear, false}, Case{"IntzMsaa", Depth::Intz, true},
                                           Case{"RawzMsaa", Depth::Rawz, true},
                                           Case{"LinearMsaa", Depth::Linear, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
