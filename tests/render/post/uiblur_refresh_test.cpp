// test-depends: shader_data
// Which frames copy the screen again for UI blur panels (recording device): every frame
// by default; with refreshing off only the frames a refresh was asked for (each copy then
// kept apart from light buffer A, which the chain rewrites), the others handing back the
// kept copy with the last copy's mapping.
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
    // copies they made (into A and into the kept copy), the mapping and the texture the
    // second one got.
    uint64_t FrameCopies(Vector* scale = nullptr, const DeviceObjectHandle** texture = nullptr) {
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
            const DeviceObjectHandle* t = nullptr;
            for (int panel = 0; panel < 2; ++panel) t = Chain().BlurScreenQuad(&s, &o, m, corners, 1.0f, 1);
            copies = recorder->CallCount(CallKind::StretchRect) - before;
            if (scale) *scale = s;
            if (texture) *texture = t;
            backBuffer->Release();
        });
        return copies;
    }
};

TEST_F(UIBlurRefreshTest, RequestedFramesCopyWhileRefreshingIsOff) {
    const DeviceObjectHandle* lightA = gVornexRenderer.Target(TARGET_LIGHT_0).texture;
    const DeviceObjectHandle* texture = nullptr;
    Vector copied;
    // Refreshing is on at start: every panel copies into A.
    EXPECT_EQ(FrameCopies(&copied, &texture), 2u);
    EXPECT_EQ(texture, lightA);
    EXPECT_EQ(FrameCopies(), 2u);
    gPostprocessManager.EnableBlurredImageRefreshing(false);
    // Nothing kept yet: the first panel copies and keeps, the second reuses.
    EXPECT_EQ(FrameCopies(nullptr, &texture), 2u);
    const DeviceObjectHandle* kept = texture;
    EXPECT_NE(kept, lightA);
    Vector reused;
    EXPECT_EQ(FrameCopies(&reused, &texture), 0u);
    EXPECT_EQ(texture, kept);
    EXPECT_EQ(reused.x, copied.x);
    EXPECT_EQ(reused.y, copied.y);
    gPostprocessManager.RequestBlurredImageRefresh(2);
    const uint64_t expected[] = {4, 4, 0, 0};  // each panel copies and keeps on a requested frame
    for (uint64_t copies : expected) {
        EXPECT_EQ(FrameCopies(nullptr, &texture), copies);
        EXPECT_EQ(texture, kept);
    }
    gPostprocessManager.EnableBlurredImageRefreshing(true);
    EXPECT_EQ(FrameCopies(nullptr, &texture), 2u);
    EXPECT_EQ(texture, lightA);
}

}  // namespace
