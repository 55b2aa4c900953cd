// The blurred screen copy behind UI blur panels on the recording device: the copied
// rectangle and its size in light buffer A, the texture-coordinate scale and offset,
// the blur draws, the iteration cap and the bound target's references.
// test-depends: shader_data
#include <cmath>
#include <sstream>

#include "PostTestSupport.h"

using namespace rendertest;
using namespace posttest;

namespace {

struct Config {
    float scale;  // render size / back-buffer size
};

struct UIBlurTest : PostFixture, ::testing::WithParamInterface<Config> {
    UIBlurTest() { clientWidth = 240, clientHeight = 144; }
    void Configure(RendererSettings& s) override {
        s.gfxQualityLevel = 3;
        s.semiResolutionScreenScale = GetParam().scale;
    }
    struct Result {
        Vector scale, offset;
        const DeviceObjectHandle* texture;
        std::vector<DrawRecord> draws;
        uint64_t copies;
        uint32_t boundBefore, boundAfter, refsBefore, refsAfter;
    };
    // Binds the back buffer with its viewport and runs the copy on the render thread.
    Result Blur(const Matrix& m, const Vector corners[4], float sigma, uint32_t iterations) {
        Result out{};
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        recorder->ResetCallCounts();
        BeginFrame();
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            Surface* backBuffer = nullptr;
            r.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer);
            r.SetRenderTargets(backBuffer, nullptr, 1);
            r.ApplyViewport(0, 0, r.BackBufferWidth(), r.BackBufferHeight(), 0.0f, 1.0f);
            out.boundBefore = Serial(backBuffer);
            out.refsBefore = backBuffer->AddRef() - 1;
            backBuffer->Release();
            out.texture = Chain().BlurScreenQuad(&out.scale, &out.offset, m, corners, sigma, iterations);
            Surface* bound = nullptr;
            r.Device()->GetRenderTarget(0, &bound);
            out.boundAfter = Serial(bound);
            bound->Release();
            out.refsAfter = backBuffer->AddRef() - 1;
            backBuffer->Release();
            backBuffer->Release();
        });
        EndFrame();
        out.draws = recorder->DrawRecords();
        out.copies = recorder->CallCount(CallKind::StretchRect);
        return out;
    }
};

// A panel transform: pixels of the back buffer to clip space, optionally turned about
// the panel's corner and with its depth as w.
Matrix PanelMatrix(float width, float height, float angle, bool depthAsW) {
    Matrix m = Matrix::IDENTITY;
    const float c = std::cos(angle), s = std::sin(angle);
    const float sx = 2.0f / width, sy = -2.0f / height;
    m.r[0] = Vector(c * sx, s * sy, 0, 0);
    m.r[1] = Vector(-s * sx, c * sy, 0, 0);
    m.r[2] = Vector(0, 0, 1, depthAsW ? 1.0f : 0.0f);
    m.r[3] = Vector(-1, 1, 0, depthAsW ? 0.0f : 1.0f);
    return m;
}

TEST_P(UIBlurTest, CopiesBlursAndMapsThePanel) {
    const uint32_t bbw = gVornexRenderer.BackBufferWidth(), bbh = gVornexRenderer.BackBufferHeight();
    const uint32_t rw = gVornexRenderer.RenderWidth();
    SurfaceDesc a{};
    gVornexRenderer.Target(TARGET_LIGHT_0).surface->GetDesc(&a);
    struct Case {
        const char* name;
        float x0, y0, x1, y1, angle;
        bool behind;
    };
    const Case cases[] = {{"inside", 20.5f, 10.25f, 120.75f, 70.5f, 0.0f, false},
                          {"partly outside", -30.0f, 100.0f, 60.0f, 200.0f, 0.0f, false},
                          {"wholly outside", 300.0f, 10.0f, 400.0f, 50.0f, 0.0f, false},
                          {"rotated", 60.0f, 20.0f, 140.0f, 80.0f, 0.3f, false},
                          {"behind the camera", 10.0f, 10.0f, 50.0f, 50.0f, 0.0f, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Matrix m = PanelMatrix(static_cast<float>(bbw), static_cast<float>(bbh), c.angle, c.behind);
        // Behind the camera: one corner at depth 0 (w = 0), the others in front.
        const float z = c.behind ? 1.0f : 0.0f;
        const Vector corners[4] = {Vector(c.x0, c.y0, c.behind ? 0.0f : z, 1), Vector(c.x1, c.y0, z, 1),
                                   Vector(c.x1, c.y1, z, 1), Vector(c.x0, c.y1, z, 1)};
        std::ostringstream args;
        args.precision(9);
        args << "uiblur";
        for (const Vector& row : m.r) args << ' ' << row.x << ' ' << row.y << ' ' << row.z << ' ' << row.w;
        for (const Vector& v : corners) args << ' ' << v.x << ' ' << v.y << ' ' << v.z;
        args << ' ' << bbw << ' ' << bbh << ' ' << bbw << ' ' << bbh << ' ' << bbw << ' ' << rw << ' ' << a.width << ' '
             << a.height;
        const std::string want = Reference(args.str());
        const Result got = Blur(m, corners, 2.0f, 2);
        EXPECT_EQ(got.texture, gVornexRenderer.Target(TARGET_LIGHT_0).texture);
        EXPECT_EQ(got.boundAfter, got.boundBefore);
        EXPECT_EQ(got.refsAfter, got.refsBefore);
        if (want.rfind("empty", 0) == 0) {
            EXPECT_EQ(got.copies, 0u);
            EXPECT_TRUE(got.draws.empty());
            continue;
        }
        const std::vector<double> v = Numbers(want);
        ASSERT_EQ(v.size(), 10u) << want;
        EXPECT_EQ(got.copies, 1u);
        ASSERT_EQ(got.draws.size(), 4u);  // two iterations of two passes
        for (const DrawRecord& d : got.draws) {
            EXPECT_EQ(d.viewport.width, uint32_t(v[4]));
            EXPECT_EQ(d.viewport.height, uint32_t(v[5]));
        }
        EXPECT_NEAR(got.scale.x, v[6], 1e-5 * std::max(1.0, std::fabs(v[6])));
        EXPECT_NEAR(got.scale.y, v[7], 1e-5 * std::max(1.0, std::fabs(v[7])));
        EXPECT_NEAR(got.offset.x, v[8], 1e-5);
        EXPECT_NEAR(got.offset.y, v[9], 1e-5);
    }
}

TEST_P(UIBlurTest, IterationsAreCappedAt64) {
    const Matrix m = PanelMatrix(static_cast<float>(gVornexRenderer.BackBufferWidth()),
                                 static_cast<float>(gVornexRenderer.BackBufferHeight()), 0.0f, false);
    const Vector corners[4] = {Vector(0, 0, 0, 1), Vector(64, 0, 0, 1), Vector(64, 32, 0, 1), Vector(0, 32, 0, 1)};
    for (uint32_t n : {0u, 1u, 3u, 64u, 65u, 0xFFFFFFFFu}) {
        const Result got = Blur(m, corners, 1.5f, n);
        EXPECT_EQ(got.draws.size(), 2u * std::min(n, 64u)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, UIBlurTest, ::testing::Values(Config{1.0f}, Config{2.0f / 3.0f}),
                         [](const ::testing::TestParamInfo<Config>& i) { return i.param.scale == 1.0f ? "Ratio1" : "Ratio1p5"; });

}  // namespace
