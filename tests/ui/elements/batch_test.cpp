// test-sources: ../../engine/NumpyReference.cpp
// The quad batches and the clip stack on the recording device: merged draws, what splits
// them, every vertex against a float32 reference, and the scissor rectangles.
#include "DrawTestSupport.h"
#include "render/DeviceObjectHandle.h"
#include "ui/elements/UIClipStack.h"

using namespace drawtest;
using rendertest::RunOnRenderThread;

namespace {

struct BatchTest : UIDrawFixture {
    void SetUp() override {
        UIDrawFixture::SetUp();
        ASSERT_TRUE(created);
        RunOnRenderThread([this] {
            for (DeviceObjectHandle*& t : textures) {
                t = new DeviceObjectHandle;  // holds one reference
                t->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED);
            }
        });
    }
    void TearDown() override {
        RunOnRenderThread([this] {
            FlushUIQuadBatches();
            // The batches keep their state pointers: forget them before the textures go.
            for (uint32_t c = 0; c < UIQuadBatch::kChannels; ++c)
                GetUIQuadBatch(c).SetState(UIQuadBatch::kNoBlendMode, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr);
            for (DeviceObjectHandle* t : textures) t->Unref();
        });
        UIDrawFixture::TearDown();
    }
    std::vector<gfx::DrawRecord> Run(const std::function<void()>& f) {
        recorder->ClearDrawRecords();
        BeginFrame();
        RunOnRenderThread([&] {
            f();
            FlushUIQuadBatches();
        });
        EndFrame();
        return IndexedUPDraws(Draws());
    }
    DeviceObjectHandle* textures[2] = {};
};

Matrix Placed(float x, float y, float w, float h, float angle = 0) {
    Matrix m;
    m.LoadComplexTransformation(Vector(x, y, 0.5f, 0), Vector(0, 0, angle, 0), Vector(w, h, 1, 0));
    return m;
}

}  // namespace

TEST_F(BatchTest, EqualStateMergesAndEveryVertexMatchesTheReference) {
    struct Quad {
        Matrix world;
        Vector colour, parameter, scale, offset;
        bool mirrored;
    };
    std::vector<Quad> quads;
    for (int i = 0; i < 5; ++i)
        quads.push_back({Placed(10.0f * i + 0.3f, 7.0f * i, 30.0f + i, 12.5f, 17.0f * i),
                         Vector(0.1f * i, 0.5f, 0.25f, 1.0f - 0.1f * i), Vector(0.3f, float(i), 0.7f, 0.9f),
                         Vector(0.5f + i, 0.75f, 1, 1), Vector(0.125f * i, 0.3f, 0, 0), i == 3});
    const auto draws = Run([&] {
        UIQuadBatch& b = GetUIQuadBatch(1);
        for (const Quad& q : quads) {
            b.SetState(BLEND_ALPHA, textures[0], kUISamplerClampSRGB, nullptr, 0, nullptr, nullptr, nullptr);
            b.AddQuad(q.world, q.colour, q.mirrored, q.parameter, q.scale, q.offset);
        }
    });
    ASSERT_EQ(draws.size(), 1u);
    const gfx::DrawRecord& d = draws[0];
    EXPECT_EQ(d.numVertices, 20u);
    EXPECT_EQ(d.primitiveCount, 10u);
    EXPECT_EQ(d.userStride, 52u);
    EXPECT_EQ(d.primitiveType, gfx::PT_TRIANGLELIST);

    std::string input;
    for (const Quad& q : quads)
        input += "Q " + Hex(q.world) + Hex(q.colour) + FloatBits(q.mirrored ? 1.0f : 0.0f) + " " + Hex(q.parameter) +
                 FloatBits(q.scale.x) + " " + FloatBits(q.scale.y) + " " + FloatBits(q.offset.x) + " " +
                 FloatBits(q.offset.y) + "\n";
    const auto want = RunNumpyReference(kScript, input);
    ASSERT_EQ(want.size(), quads.size());
    const std::vector<float> got = VertexFloats(d);
    ASSERT_GE(got.size(), 20u * 13u);
    for (size_t q = 0; q < quads.size(); ++q) {
        const std::vector<float> w = ParseFloats(want[q]);
        ASSERT_EQ(w.size(), 4u * 13u);
        for (size_t i = 0; i < w.size(); ++i)
            EXPECT_TRUE(uitest::NearUlps(got[q * 52 + i], w[i], 4))
                << "quad " << q << " float " << i << ": " << got[q * 52 + i] << " vs " << w[i];
    }
}

TEST_F(BatchTest, StateChangesSplitTheDraw) {
    const UIFadeRecord fadeA{{Vector(1, 0, 0, 0), Vector(0, 1, 0, 0)}, Vector(-5, -0.1f, 0.5f, 0)};
    const UIFadeRecord fadeB{{Vector(1, 0, 0, 0), Vector(0, 1, 0, 0)}, Vector(-6, -0.1f, 0.5f, 0)};
    struct Row {
        const char* name;
        uint32_t blend;
        int texture;
        uint32_t sampler;
        const UIFadeRecord* fade;
        size_t draws;
    } rows[] = {
        {"same state", BLEND_ALPHA, 0, kUISamplerClampSRGB, &fadeA, 1},
        {"blend", BLEND_ADD, 0, kUISamplerClampSRGB, &fadeA, 2},
        {"texture", BLEND_ALPHA, 1, kUISamplerClampSRGB, &fadeA, 2},
        {"sampler", BLEND_ALPHA, 0, kUISamplerClamp, &fadeA, 2},
        {"fade values", BLEND_ALPHA, 0, kUISamplerClampSRGB, &fadeB, 2},
        {"no fade", BLEND_ALPHA, 0, kUISamplerClampSRGB, nullptr, 2},
    };
    for (const Row& r : rows) {
        const auto draws = Run([&] {
            UIQuadBatch& b = GetUIQuadBatch(0);
            b.SetState(BLEND_ALPHA, textures[0], kUISamplerClampSRGB, nullptr, 0, nullptr, nullptr, &fadeA);
            b.AddQuad(Placed(0, 0, 10, 10), Vector(1, 1, 1, 1), false, Vector(), Vector(1, 1, 0, 0), Vector());
            b.SetState(r.blend, textures[r.texture], r.sampler, nullptr, 0, nullptr, nullptr, r.fade);
            b.AddQuad(Placed(20, 0, 10, 10), Vector(1, 1, 1, 1), false, Vector(), Vector(1, 1, 0, 0), Vector());
        });
        ASSERT_EQ(draws.size(), r.draws) << r.name;
        // The first draw carries the first state's fade record in vertex c12-c13, pixel c3.
        EXPECT_FLOAT_EQ(draws[0].PixelConstant(kUIFadePixelRegister)[0], -5.0f) << r.name;
        EXPECT_FLOAT_EQ(draws[0].VertexConstant(kUIFadeVertexRegister + 1)[1], 1.0f) << r.name;
        EXPECT_EQ(draws[0].RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_ALWAYS)) << r.name;
        EXPECT_EQ(draws[0].RenderState(gfx::RS_ZWRITEENABLE), 0u) << r.name;
    }
}

TEST_F(BatchTest, BatchedDrawsCarryAnIdentityTextureMappingWhateverCameBefore) {
    // An immediate picture leaves its own scale and offset in the registers; the
    // batch's vertices already hold final coordinates, so its draw must undo them.
    const float scale[4] = {3, 2, 5, 7}, offset[4] = {0.25f, 0.5f, 9, 11};
    const auto draws = Run([&] {
        gVornexRenderer.SetVertexShaderConstants(kUITexScaleRegister, scale, 1);
        gVornexRenderer.SetVertexShaderConstants(kUITexOffsetRegister, offset, 1);
        UIQuadBatch& b = GetUIQuadBatch(0);
        b.SetState(BLEND_ALPHA, textures[0], kUISamplerClampSRGB, nullptr, 0, nullptr, nullptr, nullptr);
        b.AddQuad(Placed(0, 0, 10, 10), Vector(1, 1, 1, 1), false, Vector(), Vector(1, 1, 0, 0), Vector());
    });
    ASSERT_EQ(draws.size(), 1u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(draws[0].VertexConstant(kUITexScaleRegister)[i], 1.0f) << i;
        EXPECT_EQ(draws[0].VertexConstant(kUITexOffsetRegister)[i], 0.0f) << i;
    }
}

TEST_F(BatchTest, TheSixtyFifthQuadFlushesTheFirstSixtyFour) {
    const auto draws = Run([&] {
        UIQuadBatch& b = GetUIQuadBatch(2);
        b.SetState(BLEND_ALPHA, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr);
        for (int i = 0; i < 65; ++i) {
            b.AddQuad(Placed(float(i), 0, 1, 1), Vector(1, 1, 1, 1), false, Vector(), Vector(1, 1, 0, 0), Vector());
            if (i == 63) {
                EXPECT_EQ(b.QuadCount(), 0u);  // drawn as soon as the batch filled
            }
        }
    });
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount, 128u);
    EXPECT_EQ(draws[0].numVertices, 256u);
    EXPECT_EQ(draws[1].primitiveCount, 2u);
    // The second draw starts over at vertex 0: quad 64 sits at x = 64.
    EXPECT_FLOAT_EQ(VertexFloats(draws[1])[4], 64.0f);
}

TEST_F(BatchTest, ReadyMadeVerticesAreMovedByTheMatrixAndSplitWhenFull) {
    std::vector<UIQuadVertex> cells(4 * 70);
    for (size_t i = 0; i < cells.size(); ++i) {
        cells[i] = UIQuadVertex{{1, 0.5f, 0.25f, 1}, {float(i), 2.0f, 0}, {float(i), 0, 0, 0}, {0.5f, 0.5f}};
    }
    Matrix shift;
    shift.LoadTranslation(100, 50, 0);
    const auto draws = Run([&] {
        UIQuadBatch& b = GetUIQuadBatch(3);
        b.SetState(BLEND_ALPHA, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr);
        b.AddQuad(Placed(0, 0, 1, 1), Vector(1, 1, 1, 1), false, Vector(), Vector(1, 1, 0, 0), Vector());
        b.AddVertices(cells.data(), uint32_t(cells.size()) + 3, shift);  // a partial quad is left out
    });
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount, 128u);  // 1 + 63 cells
    EXPECT_EQ(draws[1].primitiveCount, 14u);   // the last 7 cells
    const std::vector<float> first = VertexFloats(draws[0]);
    EXPECT_FLOAT_EQ(first[52 + 4], 100.0f);  // cell vertex 0: x 0 + 100
    EXPECT_FLOAT_EQ(first[52 + 5], 52.0f);
    EXPECT_FLOAT_EQ(first[52 + 7], 0.0f);  // parameters are copied unchanged
    EXPECT_FLOAT_EQ(first[2 * 13 * 4 + 7], 4.0f);
}

// ---- Clip stack ----

TEST_F(BatchTest, ClipRectanglesNestPopAndMatchTheReference) {
    struct Case {
        Vector position, size;
    } cases[] = {
        {Vector(20, 10, 0, 0), Vector(100, 60, 0, 0)},   // outer
        {Vector(80.5f, 40, 0, 0), Vector(90, 90, 0, 0)},  // overlaps the outer's right and bottom
        {Vector(300, 10, 0, 0), Vector(20, 20, 0, 0)},   // wholly outside: zero area
    };
    struct Seen {
        UIClipRect rect;
        gfx::Rect scissor;
        uint32_t enabled;
    };
    std::vector<Seen> seen;
    uint32_t afterInnerPop = 0, afterLastPop = 1;
    gfx::Rect restored{};
    RunOnRenderThread([&] {
        SetFlatCamera(256, 144);
        UIClipStack& s = GetUIClipStack();
        for (const Case& c : cases) {
            Matrix m;
            m.LoadTranslation(c.position);
            s.Push(m, c.size);
            Seen v{};
            s.Top(&v.rect);
            gVornexRenderer.Device()->GetScissorRect(&v.scissor);
            gVornexRenderer.Device()->GetRenderState(gfx::RS_SCISSORTESTENABLE, &v.enabled);
            seen.push_back(v);
        }
        s.Pop();
        s.Pop();
        gVornexRenderer.Device()->GetScissorRect(&restored);
        gVornexRenderer.Device()->GetRenderState(gfx::RS_SCISSORTESTENABLE, &afterInnerPop);
        s.Pop();
        gVornexRenderer.Device()->GetRenderState(gfx::RS_SCISSORTESTENABLE, &afterLastPop);
        EXPECT_TRUE(s.Empty());
    });
    ASSERT_EQ(seen.size(), 3u);

    // The reference: each rectangle alone, intersected by hand below, then in pixels.
    Matrix projection;
    projection.LoadOrthoOffCenterLH(0, 256, 144, 0, 0, 1);
    std::string input;
    for (const Case& c : cases) {
        Matrix m, vp;
        m.LoadTranslation(c.position);
        vp.Mul(projection, m);
        input += "P " + Hex(vp) + FloatBits(c.size.x) + " " + FloatBits(c.size.y) + "\n";
    }
    auto rects = RunNumpyReference(kScript, input);
    ASSERT_EQ(rects.size(), 3u);
    std::vector<UIClipRect> want;
    for (const std::string& line : rects) {
        const auto f = ParseFloats(line);
        UIClipRect r{f[0], f[1], f[2], f[3]};
        if (!want.empty()) {
            const UIClipRect& t = want.back();
            r = {std::max(r.left, t.left), std::min(r.top, t.top), std::min(r.right, t.right),
                 std::max(r.bottom, t.bottom)};
            r.right = std::max(r.right, r.left), r.top = std::max(r.top, r.bottom);
        }
        want.push_back(r);
    }
    std::string pixels;
    for (const UIClipRect& r : want)
        pixels += "S " + FloatBits(r.left) + " " + FloatBits(r.top) + " " + FloatBits(r.right) + " " +
                  FloatBits(r.bottom) + " 256 144\n";
    const auto scissors = RunNumpyReference(kScript, pixels);
    ASSERT_EQ(scissors.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(seen[i].rect.left, want[i].left) << i;
        EXPECT_FLOAT_EQ(seen[i].rect.top, want[i].top) << i;
        EXPECT_FLOAT_EQ(seen[i].rect.right, want[i].right) << i;
        EXPECT_FLOAT_EQ(seen[i].rect.bottom, want[i].bottom) << i;
        const auto p = rendertest::Numbers(scissors[i]);
        EXPECT_EQ(seen[i].scissor.left, int32_t(p[0])) << i;
        EXPECT_EQ(seen[i].scissor.top, int32_t(p[1])) << i;
        EXPECT_EQ(seen[i].scissor.right, int32_t(p[2])) << i;
        EXPECT_EQ(seen[i].scissor.bottom, int32_t(p[3])) << i;
        EXPECT_EQ(seen[i].enabled, 1u);
    }
    // Nested: the inner rectangle is the intersection (x 80.5..120, y 40..70).
    EXPECT_EQ(seen[1].scissor.left, 80);
    EXPECT_EQ(seen[1].scissor.right, 120);
    // Wholly outside: zero area, inside the viewport.
    EXPECT_EQ(seen[2].scissor.right - seen[2].scissor.left, 0);
    EXPECT_LE(seen[2].scissor.right, 256);
    EXPECT_EQ(restored.left, seen[0].scissor.left);
    EXPECT_EQ(restored.bottom, seen[0].scissor.bottom);
    EXPECT_EQ(afterInnerPop, 1u);
    EXPECT_EQ(afterLastPop, 0u);
}

TEST(UIClipStackPixels, AreClampedToTheViewport) {
    const struct {
        UIClipRect r;
        int32_t l, t, rr, b;
    } rows[] = {
        {{-1, 1, 1, -1}, 0, 0, 100, 50},
        {{-3, 2, 5, -7}, 0, 0, 100, 50},
        {{2, 1, 3, -1}, 100, 0, 100, 50},  // right of the viewport: zero width at its edge
        {{0, 0.5f, 0.5f, 0}, 50, 12, 75, 25},
    };
    for (const auto& row : rows) {
        const auto p = UIClipStack::ToPixels(row.r, 100, 50);
        EXPECT_EQ(p.left, row.l);
        EXPECT_EQ(p.top, row.t);
        EXPECT_EQ(p.right, row.rr);
        EXPECT_EQ(p.bottom, row.b);
    }
}
