// test-depends: shader_data
// Which frames copy the screen again for UI blur panels (recording device): every frame
// by default; with refreshing off only the frames a refresh was asked for, the others
// handing back the last copy's mapping.
#include "PostTestSupport.h"
#include "render/shaders/PostprocessManager.h"

using namespace rendertest;
using namespace posttest;

namespace {

struct UIBlurRefreshTest : PostFixture {
    UIBlurRefreshTest() { clientWidth = 240, clientHeight = 144; }
    void TearDown() override {
        gPostprocessManager.RequestBlurredImageRefresh(0);
        gPostprocessManager.EnableBlurredImageRefreshing(true);
        PostFixture::TearDown();
    }
    // One frame in which two panels blur what lies under them after the post-process; the
    // screen copies they made and the mapping the second one got.
    uint64_t FrameCopies(Vector* scale = nullptr) {
        uint64_t copies = 0;
        Frame(0, [&] {
            VornexRenderer& r = gVornexRenderer;
            Surface* backBuffer = nullptr;
            r.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer);
            r.SetRenderTargets(backBuffer, nullptr, 1);
            r.ApplyViewport(0, 0, r.BackBufferWidth(), r.BackBufferHeight(), 0.0f, 1.0f);
            // Pixels of the back buffer to clip space.
            Matrix m = Matrix::IDENTITY;
            m.r[0] = Vector(2.0f / float(r.BackBufferWidth()), 0, 0, 0);
            m.r[1] = Vector(0, -2.0f / float(r.BackBufferHeight()), 0, 0);
            m.r[3] = Vector(-1, 1, 0, 1);
            const Vector corners[4] = {Vector(10, 10, 0, 1), Vector(90, 10, 0, 1), Vector(90, 50, 0, 1),
                                       Vector(10, 50, 0, 1)};
            const uint64_t before = recorder->CallCount(CallKind::StretchRect);
            Vector s, o;
            for (int panel = 0; panel < 2; ++panel) Chain().BlurScreenQuad(&s, &o, m, corners, 1.0f, 1);
            copies = recorder->CallCount(CallKind::StretchRect) - before;
            if (scale) *scale = s;
            backBuffer->Release();
        });
        return copies;
    }
};

TEST_F(UIBlurRefreshTest, RequestedFramesCopyWhileRefreshingIsOff) {
    Vector copied;
    EXPECT_EQ(FrameCopies(&copied), 2u);  // refreshing is on at start: every panel copies
    EXPECT_EQ(FrameCopies(), 2u);
    gPostprocessManager.EnableBlurredImageRefreshing(false);
    Vector reused;
    EXPECT_EQ(FrameCopies(&reused), 0u);
    EXPECT_EQ(reused.x, copied.x);
    EXPECT_EQ(reused.y, copied.y);
    gPostprocessManager.RequestBlurredImageRefresh(2);
    const uint64_t expected[] = {2, 2, 0, 0};
    for (uint64_t copies : expected) EXPECT_EQ(FrameCopies(), copies);
    gPostprocessManager.EnableBlurredImageRefreshing(true);
    EXPECT_EQ(FrameCopies(), 2u);
}

}  // namespace
