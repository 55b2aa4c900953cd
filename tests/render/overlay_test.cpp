// The profiler overlay through the renderer, and the hand-offs to profiler and outlines.
// test-sanitize: thread address
#include <cstring>

#include "RenderTestSupport.h"
#include "core/profiler/Profiler.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "render/shaders/PostProcessChain.h"

using namespace rendertest;
using namespace gfx;

namespace {

// The renderer's drawer with every placement and colour noted on the way through.
struct RecordingDrawer : RendererProfilerDrawer {
    struct Placed { uint32_t primitive; Matrix world; Vector colour; };
    std::vector<Placed> placed;
    Vector colour;
    void SetModelColor(const Vector& c) override {
        colour = c;
        RendererProfilerDrawer::SetModelColor(c);
    }
    void DrawGraphVertices(uint32_t primitive, uint32_t first, uint32_t count, const Matrix& world) override {
        placed.push_back({primitive, world, colour});
        RendererProfilerDrawer::DrawGraphVertices(primitive, first, count, world);
    }
    void DrawLines(const float* xyz, uint32_t lines, const Matrix& world) override {
        placed.push_back({PT_LINELIST, world, colour});
        RendererProfilerDrawer::DrawLines(xyz, lines, world);
    }
};

struct Text { std::string text; float x, y; };
std::vector<Text> gTexts;
int gFont;

struct OverlayTest : RendererFixture {
    RecordingDrawer drawer;
    uint32_t mask[kProfilerMaskWords] = {};

    void SetUp() override {
        clientWidth = 640;
        clientHeight = 400;
        RendererFixture::SetUp();
        gTexts.clear();
        // Text through a font, recorded; every text 10 pixels wide.
        static struct : UIDrawServices {
            void DrawText(::Resource*, const char* text, uint32_t bytes, const Matrix& m, const Vector&, uint32_t,
                          uint8_t, uint32_t) override {
                gTexts.push_back({std::string(text, bytes), m.r[3].x, m.r[3].y});
            }
            float MeasureText(::Resource*, const char*) const override { return 10.0f; }
        } fonts;
        SetUIDrawServices(&fonts);
        drawer.SetFontLookup([](const char* name) -> void* { return std::strcmp(name, kProfilerFontName) ? nullptr : &gFont; },
                             [](void*) {});
        // The recording drawer takes over the overlay, graph buffer included.
        RunOnRenderThread([] { gProfiler.ReleaseGraphVertexBuffer(); });
        gProfiler.SetDrawer(&drawer);
        RunOnRenderThread([] { gProfiler.CreateGraphVertexBuffer(); });
    }
    void TearDown() override {
        gProfiler.BindEnabledMask(nullptr);
        RunOnRenderThread([] { gProfiler.ReleaseGraphVertexBuffer(); });
        gProfiler.Release();
        gProfiler.SetDrawer(&gVornexRenderer.ProfilerOverlay());
        RunOnRenderThread([] { gProfiler.CreateGraphVertexBuffer(); });
        RendererFixture::TearDown();
    }
    // A frame with some scene draws before the overlay.
    void DrawOverlayFrame(uint32_t sceneDraws = 0) {
        BeginFrame();
        for (uint32_t i = 0; i < sceneDraws; ++i)
            gVornexRenderer.DebugDrawWireBox(BoundingBox4::UNITCUBE3D, Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, 1);
        gProfiler.Draw(640, 400);
        EndFrame();
    }
};

TEST_F(OverlayTest, PanelsShowTheirRectangleOutlineBarsAndTexts) {
    const uint32_t counters[] = {PROFILE_FPS, PROFILE_FRAME_TIME, PROFILE_MAIN_IDLE, PROFILE_DRAW_CALLS,
                                 PROFILE_TRIANGLES, PROFILE_TOTAL_FRAME_TIME};
    for (uint32_t c : counters) mask[c / 32] |= 1u << (c % 32);
    gProfiler.Init(mask);
    EXPECT_EQ(gProfiler.Font(), &gFont);
    DrawOverlayFrame();  // the first completed frame
    drawer.placed.clear();
    gTexts.clear();
    recorder->ClearDrawRecords();
    DrawOverlayFrame(2);

    // 640 x 400: a column of four from the top right, then a second column.
    const int32_t x[6] = {429, 429, 429, 429, 219, 219}, y[6] = {1, 81, 161, 241, 1, 81};
    std::vector<DrawRecord> draws = Draws();
    ASSERT_EQ(draws.size(), 20u);
    draws.erase(draws.begin(), draws.begin() + 2);
    ASSERT_EQ(drawer.placed.size(), 18u);
    for (uint32_t p = 0; p < 6; ++p) {
        SCOPED_TRACE(p);
        const DrawRecord& fan = draws[p];
        const DrawRecord& strip = draws[6 + p];
        const DrawRecord& bars = draws[12 + p];
        EXPECT_TRUE(fan.primitiveType == PT_TRIANGLEFAN && fan.startVertex == 7 && fan.primitiveCount == 2);
        EXPECT_TRUE(fan.RenderState(RS_ALPHABLENDENABLE) == 1 && fan.RenderState(RS_SRCBLEND) == BLEND_SRCALPHA);
        EXPECT_TRUE(fan.RenderState(RS_ZFUNC) == CMP_LESSEQUAL && fan.RenderState(RS_ZWRITEENABLE) == 1);
        EXPECT_EQ(fan.RenderState(RS_CULLMODE), uint32_t(CULL_NONE));
        EXPECT_TRUE(strip.primitiveType == PT_LINESTRIP && strip.startVertex == 0 && strip.primitiveCount == 6);
        EXPECT_TRUE(bars.call == CallKind::DrawPrimitiveUP && bars.primitiveType == PT_LINELIST);
        EXPECT_EQ(bars.primitiveCount, kProfilerHistory);
        EXPECT_TRUE(strip.RenderState(RS_ALPHABLENDENABLE) == 0 && bars.RenderState(RS_ALPHABLENDENABLE) == 0);
        EXPECT_EQ(fan.streams[0].buffer, SerialOf(drawer.GraphVertexBuffer()));

        const RecordingDrawer::Placed& f = drawer.placed[p];
        const RecordingDrawer::Placed& s = drawer.placed[6 + p];
        const RecordingDrawer::Placed& b = drawer.placed[12 + p];
        const Vector corner(float(x[p]), float(y[p]), 0, 1);
        EXPECT_TRUE(f.world.r[3] == corner && s.world.r[3] == corner);
        EXPECT_TRUE(b.world.r[3] == corner + Vector(1, 78, 0, 0) && b.world.r[1].y == -59.0f);
        EXPECT_TRUE(f.colour == Vector(0, 0, 0, 0.25f) && s.colour == Vector(0, 0, 1, 1) && b.colour == Vector(0, 1, 0, 1));
    }
    // Names at (2, 1) in each panel, value texts right-aligned at 208.
    const char* names[6] = {"FPS", "FrameTime", "MainIdle", "DrawCalls", "Triangles", "TotalFrameTime"};
    ASSERT_EQ(gTexts.size(), 12u);
    for (uint32_t p = 0; p < 6; ++p) {
        EXPECT_TRUE(gTexts[2 * p].text == names[p] && gTexts[2 * p].x == x[p] + 2 && gTexts[2 * p].y == y[p] + 1) << p;
        EXPECT_NE(gTexts[2 * p + 1].text.find('/'), std::string::npos) << gTexts[2 * p + 1].text;
        EXPECT_EQ(gTexts[2 * p + 1].x, float(x[p] + 208 - 10));
    }
    // The frame statistics ran first: the draw-call counter saw the two scene draws.
    EXPECT_EQ(gProfiler.Counter(PROFILE_DRAW_CALLS).raw[(gProfiler.Counter(PROFILE_DRAW_CALLS).position + kProfilerHistory - 1) %
                                                         kProfilerHistory],
              2.0f);
    for (uint32_t c : {PROFILE_D3D_PRESENT, PROFILE_GPU_SYNC}) EXPECT_EQ(gProfiler.Counter(c).depth, 0) << c;  // timers closed

    // The graph buffer is made again by a reset and the overlay still draws.
    gVornexRenderer.RequestDeviceReset();
    gVornexRenderer.Reset(window, 640, 400, true, false);
    ASSERT_NE(drawer.GraphVertexBuffer(), nullptr);
    recorder->ClearDrawRecords();
    DrawOverlayFrame();
    EXPECT_EQ(Draws().size(), 18u);
}

TEST_F(OverlayTest, NothingIsDrawnWithoutAFont) {
    drawer.SetFontLookup(nullptr, nullptr);
    mask[0] = 1;
    gProfiler.Init(mask);
    DrawOverlayFrame();
    DrawOverlayFrame();
    EXPECT_TRUE(Draws().empty());
    EXPECT_TRUE(gTexts.empty());
}

struct DrawerHandOffTest : RendererFixture {};

TEST_F(DrawerHandOffTest, StartConnectsTheOverlayBeforeTheProfilerStartsAndStopDisconnectsIt) {
    gVornexRenderer.ProfilerOverlay().SetFontLookup([](const char*) -> void* { return &gFont; }, [](void*) {});
    uint32_t mask[kProfilerMaskWords] = {1, 0, 0};
    gProfiler.Init(mask);
    EXPECT_EQ(gProfiler.Font(), &gFont);
    RunOnRenderThread([] { EXPECT_EQ(gProfiler.ActiveMaskWord(0), 1u); });  // the mask went through the stream
    gProfiler.BindEnabledMask(nullptr);
    gProfiler.Release();
    gVornexRenderer.Stop();
    recorder = nullptr;
    gProfiler.Init(nullptr);
    EXPECT_EQ(gProfiler.Font(), nullptr);
    gVornexRenderer.ProfilerOverlay().SetFontLookup(nullptr, nullptr);
}

TEST_F(OverlayTest, OutlineSettersFollowTheColourRuleAndReachTheRenderThread) {
    const Vector colour(0.5f, 0.25f, 1.0f, 0.5f);
    OutlineParams params;
    params.SetGammaSpaceColorHostile(colour, 3.0f);
    params.SetGammaSpaceColorFriendly(colour, 3.0f);
    params.SetGammaSpaceColorNeutral(colour, 3.0f);
    params.SetGammaSpaceColorHero(colour, 3.0f);
    params.SetDilateKernelSize(2.5f);
    params.SetSoftness(0.75f);
    HDRColor expected;
    expected.SetFromVector(colour);
    expected.intensity *= 3.0f;
    for (const HDRColor* h : {&params.colorHostile, &params.colorFriendly, &params.colorNeutral, &params.colorHero})
        EXPECT_EQ(*h, expected);
    gVornexRenderer.SetSecondaryOutlineParams(params);
    OutlineParams seen;
    RunOnRenderThread([&] { seen = gVornexRenderer.PostProcess().SecondaryOutlineParams(); });
    EXPECT_EQ(std::memcmp(&seen, &params, sizeof params), 0);
}

}  // namespace
