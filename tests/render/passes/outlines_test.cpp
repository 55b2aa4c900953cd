// Outlines: cell ranges against the reference, the index lists and the ring, the stencil
// coverage per category, and the constants of "Dilate" and "Outlines".
// test-depends: shader_data
// test-sanitize: address
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include "../shaders/ShaderTestSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "PassesTestSupport.h"
#include "render/PostProcessMath.h"
#include "render/shaders/PostProcessChain.h"

using namespace rendertest;
using namespace passtest;

namespace {

struct OutlinesTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
    }
    static OutlineRenderer& Outlines() { return gVornexRenderer.PostProcess().Outlines(); }
    // The range of cells carrying any bit: first column, end column, first row, end row.
    static std::vector<int> MarkedRange() {
        int c0 = 40, c1 = 0, r0 = 24, r1 = 0;
        for (int r = 0; r < 24; ++r)
            for (int c = 0; c < 40; ++c)
                if (Outlines().Cell(c, r)) c0 = std::min(c0, c), c1 = std::max(c1, c + 1), r0 = std::min(r0, r), r1 = std::max(r1, r + 1);
        if (c1 == 0) return {0, 0, 0, 0};
        return {c0, c1, r0, r1};
    }
};

TEST_F(OutlinesTest, CellRangesMatchTheReferenceOverRandomBoxesAndCameras) {
    if (Reference("sortkey 0 0 0 0 0 1 -1 -1 -1 1 1 1 0 0 0 0").empty()) GTEST_SKIP() << "no python3-numpy";
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    uint32_t behind = 0, empty = 0;
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        Matrix view, projection;
        const Vector eye(u(rng) * 50, 20 + u(rng) * 10, -60 + u(rng) * 20, 1);
        view.LoadLookAtLH(eye, Vector(u(rng) * 10, 0, u(rng) * 10, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 500.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        Matrix world;
        world.LoadComplexTransformation(Vector(u(rng) * 80, u(rng) * 10, u(rng) * 80, 1),
                                        Vector(u(rng) * 180, u(rng) * 180, 0, 1), Vector(1, 1, 1, 1));
        const float s = 1.0f + 4.0f * (u(rng) + 1.0f);
        const BoundingBox4 box(Vector(-s, -s, -s, 1), Vector(s, s * 0.5f, s, 1));
        Matrix vp;
        std::vector<int> got;
        uint8_t all = 0;
        RunOnRenderThread([&] {
            vp = gVornexRenderer.ViewProjectionMatrix();
            Outlines().Clear();
            Outlines().AddEntity(box, world, 8);
            got = MarkedRange();
            all = Outlines().AllBits();
        });
        std::ostringstream a;
        a.precision(9);
        a << "cells " << gVornexRenderer.RenderWidth() << ' ' << gVornexRenderer.RenderHeight();
        for (const Matrix* m : {&vp, &world})
            for (const Vector& r : m->r) a << ' ' << r.x << ' ' << r.y << ' ' << r.z << ' ' << r.w;
        a << ' ' << box.min.x << ' ' << box.min.y << ' ' << box.min.z << ' ' << box.max.x << ' ' << box.max.y << ' '
          << box.max.z;
        std::istringstream out(Reference(a.str()));
        int c0, c1, r0, r1;
        ASSERT_TRUE(out >> c0 >> c1 >> r0 >> r1);
        const bool none = c0 >= c1 || r0 >= r1;
        empty += none;
        behind += c0 == 0 && c1 == 40 && r0 == 0 && r1 == 24;
        const std::vector<int> want = none ? std::vector<int>({0, 0, 0, 0}) : std::vector<int>({c0, c1, r0, r1});
        EXPECT_EQ(got, want);
        EXPECT_EQ(all, 8u);  // also for an empty range
    }
    EXPECT_GT(behind + empty, 0u) << "the cases should reach a whole-screen or empty rectangle";
}

// A box just in front of the camera plane (w barely above 1e-6) projects billions of
// clip units away: its rectangle is clamped on both ends before the cells are counted,
// so it marks nothing (and never turns into a whole row or column through an integer
// conversion out of range); its bits still reach the all-bits byte.
TEST_F(OutlinesTest, ARectangleFarOffScreenMarksNoCell) {
    struct Case { const char* what; float x, y; };
    for (const Case& c : {Case{"right", 1e4f, 0}, Case{"left", -1e4f, 0}, Case{"above", 0, 1e4f},
                          Case{"below", 0, -1e4f}}) {
        SCOPED_TRACE(c.what);
        std::vector<int> got;
        uint8_t all = 0;
        RunOnRenderThread([&] {
            gVornexRenderer.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
            Matrix world = Matrix::IDENTITY;
            world.r[3] = Vector(c.x, c.y, 0.5f, 2e-6f);
            Outlines().Clear();
            Outlines().AddEntity(BoundingBox4(Vector(-1, -1, 0, 1), Vector(1, 1, 0, 1)), world, 4);
            got = MarkedRange();
            all = Outlines().AllBits();
        });
        EXPECT_EQ(got, std::vector<int>({0, 0, 0, 0}));
        EXPECT_EQ(all, 4u);
    }
}

TEST_F(OutlinesTest, ListsCoverTheirCategoriesInOrderAndTheRingWrapsWithADiscard) {
    std::vector<uint16_t> indices;
    uint32_t counts[5], starts[5];
    RunOnRenderThread([&] {
        OutlineRenderer& o = Outlines();
        o.Clear();
        // Two boxes: one of category bits 2 and 4 (two lists, list 0 once), one of 16.
        gVornexRenderer.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
        Matrix at = Matrix::IDENTITY;
        at.r[3] = Vector(-0.5f, -0.5f, 0.5f, 1);
        o.AddEntity(BoundingBox4(Vector(-0.1f, -0.1f, 0, 1), Vector(0.1f, 0.1f, 0, 1)), at, 2 | 4);
        at.r[3] = Vector(0.5f, 0.5f, 0.5f, 1);
        o.AddEntity(BoundingBox4(Vector(-0.05f, -0.05f, 0, 1), Vector(0.05f, 0.05f, 0, 1)), at, 16);
        o.BuildIndexLists();
        indices = o.Indices();
        for (uint32_t k = 0; k < 5; ++k) counts[k] = o.ListCount(k), starts[k] = o.ListStart(k);
    });
    EXPECT_EQ(counts[1], counts[2]);
    EXPECT_EQ(counts[3], 0u);
    EXPECT_GT(counts[4], 0u);
    EXPECT_EQ(counts[0], counts[1] + counts[4]);
    for (uint32_t k = 0; k + 1 < 5; ++k) EXPECT_EQ(starts[k + 1], starts[k] + 6 * counts[k]);
    ASSERT_EQ(indices.size(), 6u * (counts[0] + counts[1] + counts[2] + counts[4]));
    // The first quad of list 0 is the lowest marked cell, row by row.
    const uint16_t v = indices[0];
    EXPECT_EQ(std::vector<uint16_t>(indices.begin(), indices.begin() + 6),
              (std::vector<uint16_t>{v, uint16_t(v + 1), uint16_t(v + 41), uint16_t(v + 1), uint16_t(v + 42),
                                     uint16_t(v + 41)}));
    // Rebuilding streams on: offsets rounded up to 32 bytes, no-overwrite until the end,
    // then a discard at offset 0.
    const uint32_t bytes = static_cast<uint32_t>(indices.size() * 2);
    uint32_t previousEnd = 0;
    bool wrapped = false;
    RunOnRenderThread([&] { previousEnd = Outlines().RingOffset(); });
    recorder->SetLockLogging(true);
    for (int i = 0; i < 2000 && !wrapped; ++i) {
        uint32_t offset = 0, flags = 0, next = 0, start = 0, ring = 0;
        std::vector<LockRecord> locks;
        RunOnRenderThread([&] {
            recorder->ClearLockLog();
            Outlines().BuildIndexLists();
            locks = recorder->LockLog();
            ring = SerialOf(Outlines().Ring());
            next = Outlines().RingOffset(), start = Outlines().ListStart(0);
        });
        ASSERT_EQ(locks.size(), 1u) << "one lock of the ring per build";
        EXPECT_EQ(locks[0].buffer, ring);
        EXPECT_EQ(locks[0].bytes, bytes);
        offset = locks[0].offset, flags = locks[0].flags;
        EXPECT_EQ(next, (offset + bytes + 31) / 32 * 32);
        EXPECT_EQ(start, offset / 2);
        if (previousEnd + bytes > OutlineRenderer::kRingBytes) {
            EXPECT_EQ(offset, 0u);
            EXPECT_EQ(flags, LOCK_DISCARD);
            wrapped = true;
        } else {
            EXPECT_EQ(offset, previousEnd);
            EXPECT_EQ(flags, LOCK_NOOVERWRITE);
        }
        previousEnd = next;
    }
    recorder->SetLockLogging(false);
    EXPECT_TRUE(wrapped);
}

TEST_F(OutlinesTest, CoverageDilateAndCompositeDrawTheirCategoriesAndConstants) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    PostProcessChain& chain = gVornexRenderer.PostProcess();
    gShaderManager->InitPostProcessShaders(chain);
    ASSERT_TRUE(chain.passShaders[PostProcessChain::PASS_DILATE].IsValid());
    OutlineParams secondary;
    secondary.dilatationKernelSize = 4.0f;
    secondary.softness = -0.5f;  // counts as 0
    secondary.colorFriendly = HDRColor(0, 255, 0, 128, 2.0f);
    gVornexRenderer.SetSecondaryOutlineParams(secondary);
    BeginFrame();
    // Nothing marked: task 26 draws nothing.
    recorder->ClearDrawRecords();
    gVornexRenderer.PostBeginOutlineGather();
    gVornexRenderer.PostRenderOutlines();
    EXPECT_TRUE(Draws().empty());

    RunOnRenderThread([&] {
        Outlines().Clear();
        gVornexRenderer.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
        Matrix at = Matrix::IDENTITY;
        at.r[3] = Vector(0, 0, 0.5f, 1);
        Outlines().AddEntity(BoundingBox4(Vector(-0.2f, -0.2f, 0, 1), Vector(0.2f, 0.2f, 0, 1)), at, 2 | 8);
    });
    recorder->ClearDrawRecords();
    gVornexRenderer.PostRenderOutlines();
    const std::vector<DrawRecord> draws = Draws();
    // Coverage: category 0 (stencil bit 1) into green, category 2 (bit 3) into blue.
    ASSERT_EQ(draws.size(), 4u);
    const uint32_t cells = Outlines().ListCount(0);
    EXPECT_EQ(draws[0].RenderState(RS_STENCILFUNC), uint32_t(CMP_EQUAL));
    EXPECT_EQ(draws[0].RenderState(RS_STENCILMASK), 2u);
    EXPECT_EQ(draws[0].RenderState(RS_COLORWRITEENABLE), 2u);
    EXPECT_EQ(draws[1].RenderState(RS_STENCILMASK), 8u);
    EXPECT_EQ(draws[1].RenderState(RS_COLORWRITEENABLE), 4u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(draws[i].RenderState(RS_STENCILREF), 255u);
        EXPECT_EQ(draws[i].RenderState(RS_STENCILWRITEMASK), 0u);
        EXPECT_EQ(draws[i].primitiveCount, cells * 2);
        EXPECT_EQ(draws[i].renderTargets[0], SerialOf(gVornexRenderer.Target(TARGET_LIGHT_0).surface));
    }
    // "Dilate" into the normal target.
    const float w = static_cast<float>(gVornexRenderer.RenderWidth()), h = static_cast<float>(gVornexRenderer.RenderHeight());
    const DrawRecord& dilate = draws[2];
    EXPECT_EQ(dilate.renderTargets[0], SerialOf(gVornexRenderer.Target(TARGET_NORMAL).surface));
    EXPECT_FLOAT_EQ(dilate.VertexConstant(1)[0], 2.0f / w);
    EXPECT_FLOAT_EQ(dilate.VertexConstant(1)[2], -2.0f / w);
    const Vector friendly = secondary.colorFriendly.ToLinearVector();
    for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(dilate.PixelConstant(1)[k], (&friendly.x)[k] * friendly.w * 0.2f) << k;
    EXPECT_EQ(dilate.SamplerState(0, SAMP_ADDRESSU), uint32_t(TADDRESS_CLAMP));
    EXPECT_EQ(dilate.SamplerState(0, SAMP_MAGFILTER), uint32_t(TEXF_LINEAR));
    // "Outlines" over the output: the low-spec variant at quality 2, softness 0 -> (5, 0).
    const DrawRecord& composite = draws[3];
    EXPECT_EQ(composite.renderTargets[0], SerialOf(gVornexRenderer.OutputSurface()));
    EXPECT_EQ(composite.pixelShader.serial,
              SerialOf(chain.passShaders[PostProcessChain::PASS_OUTLINES_LOW_SPEC].pixelObject->DeviceShader()));
    EXPECT_FLOAT_EQ(composite.PixelConstant(0)[0], 5.0f);
    EXPECT_FLOAT_EQ(composite.PixelConstant(0)[1], 0.0f);
    EXPECT_FLOAT_EQ(composite.VertexConstant(1)[3], -0.5f / h);
    EXPECT_EQ(composite.RenderState(RS_ALPHABLENDENABLE), 1u);
    EndFrame();
    chain.ReleaseShaders();
}

// "Dilate" on the drawing device: coverage of category 0 (green) takes the hostile
// colour, category 1 (red) the friendly one.
struct DilatePictureTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
    }
    void TearDown() override {
        gVornexRenderer.PostProcess().ReleaseShaders();
        ShaderFixture::TearDown();
    }
    // The mean red and green (0..1) of the outline target after dilating a coverage
    // filled with the colour (A8R8G8B8); saves the picture when asked or when the wrong
    // channel dominates.
    std::pair<double, double> Dilated(Color coverage, const std::string& name, bool redExpected) {
        std::pair<double, double> out{-1, -1};
        BeginFrame();
        RunOnRenderThread([&] {
            OutlineRenderer& o = gVornexRenderer.PostProcess().Outlines();
            gVornexRenderer.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
            o.Clear();
            Matrix behind = Matrix::IDENTITY;
            behind.r[3].w = 0.0f;  // every corner at w 0: the whole screen
            o.AddEntity(BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)), behind, 2 | 4);
            o.BuildIndexLists();
            const RenderTarget& a = gVornexRenderer.Target(TARGET_LIGHT_0);
            ASSERT_TRUE(a.surface && a.texture);
            ASSERT_TRUE(gfx::Succeeded(gVornexRenderer.Device()->ColorFill(a.surface, nullptr, coverage)));
            // The state the reconstruction sets around the dilation.
            gVornexRenderer.SetColorWriteMask(15);
            gVornexRenderer.DisableStencil();
            gVornexRenderer.SetCullMode(CULL_NONE);
            gVornexRenderer.SetAlphaTest(0, 0);
            gVornexRenderer.SetBlendMode(0);
            gVornexRenderer.SetDepthState(CMP_ALWAYS, 0, 0, 0);
            gVornexRenderer.ApplyViewport(0, 0, gVornexRenderer.RenderWidth(), gVornexRenderer.RenderHeight(), 0, 1);
            o.Dilate(OutlineParams(), a.texture);
            Surface* normal = gVornexRenderer.Target(TARGET_NORMAL).surface;
            SurfaceDesc desc{};
            normal->GetDesc(&desc);
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(gfx::Succeeded(recorder->ReadSurface(normal, &bytes)));
            const size_t n = bytes.size() / 4;
            double r = 0, g = 0;
            for (size_t i = 0; i < n; ++i) {
                uint32_t v;
                std::memcpy(&v, &bytes[4 * i], 4);
                if (desc.format == FMT_A2B10G10R10)
                    r += (v & 1023) / 1023.0, g += ((v >> 10) & 1023) / 1023.0;
                else
                    r += ((v >> 16) & 255) / 255.0, g += ((v >> 8) & 255) / 255.0;
            }
            out = {r / double(n), g / double(n)};
            shadertest::SavePicture(normal, name, (out.first > out.second) != redExpected);
        });
        EndFrame();
        return out;
    }
};

TEST_F(DilatePictureTest, EachCategoryTakesItsOwnColour) {
    ASSERT_TRUE(gVornexRenderer.PostProcess().passShaders[PostProcessChain::PASS_DILATE].IsValid());
    // Default colours: hostile red, friendly green, both at full alpha; five taps of 0.2.
    // The coverage alpha (category 3) stays 0.
    const auto [hostileR, hostileG] = Dilated(0x0000FF00u, "dilate-category0", true);
    EXPECT_GT(hostileR, 0.9) << "category 0 should be drawn in the hostile colour";
    EXPECT_LT(hostileG, 0.02);
    const auto [friendlyR, friendlyG] = Dilated(0x00FF0000u, "dilate-category1", false);
    EXPECT_LT(friendlyR, 0.02);
    EXPECT_GT(friendlyG, 0.9) << "category 1 should be drawn in the friendly colour";
}

TEST(OutlineMath, SoftnessPair) {
    struct Case { float f, a, b; };
    for (const Case& c : {Case{0.5f, 5.0f / 3.0f, 2.5f / 3.0f}, Case{0.0f, 5.0f, 0.0f}, Case{-0.25f, 5.0f, 0.0f},
                          Case{-7.0f, 5.0f, 0.0f}, Case{-0.2f, 25.0f, -5.0f}}) {
        const Vector p = OutlineSoftnessPair(c.f);
        EXPECT_NEAR(p.x, c.a, 1e-4f) << c.f;
        EXPECT_NEAR(p.y, c.b, 1e-4f) << c.f;
    }
}

}  // namespace
