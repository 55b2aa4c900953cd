// test-sanitize: thread
// Glyph lookup, measuring and glyph quads on the recording device, against
// tests/support/binfont.py laying out the same file; task 45's text through the hook.
#include <cmath>
#include <memory>

#include "../elements/DrawTestSupport.h"
#include "FontTestSupport.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"

using namespace fonttest;
using rendertest::RunOnRenderThread;

namespace {

// Glyphs 'A' and 'B' on page 0 (16 rows), the euro sign on page 1 (32 rows).
const char* kFont = R"({"line": 14, "pages": [{"height": 16}, {"height": 32}],
    "glyphs": [[32, 0, 0, 0, 4, 0, 0, 0, 0], [65, 0, 1, -2, 9, 0, 8, 0, 10], [66, 0, -1, -3, 7, 10, 16, 2, 12],
               [8364, 1, 0, 5, 11, 3, 13, 4, 15], [65533, 1, 2, 0, 6, 20, 24, 0, 6]]})";

struct FontDrawTest : drawtest::UIDrawFixture {
    std::string file;
    ResourceFont font{"draw.ttf~014"};
    void SetUp() override {
        UIDrawFixture::SetUp();
        ASSERT_TRUE(created);
        file = folder.root + "/Fonts/draw.ttf~014.BinFont";
        folder.Write("Fonts/draw.ttf~014.BinFont", BinFontPy("font", kFont));
        ASSERT_TRUE(LoadBinFont(font));
        RunOnRenderThread([] { CreateFontSharedBuffers(); });
    }
    void TearDown() override {
        RunOnRenderThread([] { ReleaseFontSharedBuffers(); });
        UIDrawFixture::TearDown();
    }
    void Layout(const std::u16string& text, int spacing, int measured[3], std::vector<Quad>* quads) {
        ASSERT_TRUE(PythonLayout(file, text, spacing, measured, quads));
    }
    std::vector<gfx::DrawRecord> Glyphs(const std::function<void()>& f) {
        std::vector<gfx::DrawRecord> out;
        for (const gfx::DrawRecord& d : DrawsOf(f))
            if (d.call == gfx::CallKind::DrawIndexedPrimitiveUP && d.userStride == sizeof(GlyphVertex))
                out.push_back(d);
        return out;
    }
    static std::vector<GlyphVertex> Vertices(const gfx::DrawRecord& d) {
        std::vector<GlyphVertex> v(d.userVertices->size() / sizeof(GlyphVertex));
        std::memcpy(v.data(), d.userVertices->data(), v.size() * sizeof(GlyphVertex));
        return v;
    }
    CommonFolder folder;
};

}  // namespace

TEST_F(FontDrawTest, FindsGlyphsAndMeasuresAsPythonDoes) {
    const std::pair<uint16_t, int32_t> finds[] = {{32, 0}, {65, 1}, {8364, 3}, {65533, 4}, {66, 2},
                                                  {0, -1},  {67, -1}, {65535, -1}};
    for (const auto& [code, index] : finds) EXPECT_EQ(FindGlyph(font, code), index) << code;

    const std::pair<std::u16string, int> cases[] = {{u"A", 0}, {u"A", 3}, {u"AB", -2}, {u"AxB\u20AC", 1},
                                                    {u"B\u20ACx", 0}, {u"A B ", 2}};
    for (const auto& [text, spacing] : cases) {
        int expected[3];
        std::vector<Quad> quads;
        Layout(text, spacing, expected, &quads);
        const Vector m = MeasureTextW(font, text.c_str(), spacing);
        const Vector full = MeasureTextW(font, text.c_str(), spacing, 0, true);
        EXPECT_EQ(m.x, float(expected[0])) << text.size() << " " << spacing;
        EXPECT_EQ(m.y, float(expected[1]));
        EXPECT_EQ(full.x, float(expected[2])) << text.size() << " " << spacing;
    }
    EXPECT_EQ(MeasureTextW(font, u"A").x, 8.0f);  // the glyph's width, not its advance
    EXPECT_EQ(MeasureTextW(font, u"A", 3, 0, true).x, 12.0f);
    EXPECT_EQ(MeasureTextW(font, u"ABAB", 0, 2).x, 9.0f + 6.0f);  // two characters
    {
        // A limited run of an unterminated buffer is read no further than its limit.
        std::unique_ptr<char16_t[]> two(new char16_t[2]{u'A', u'B'});
        EXPECT_EQ(MeasureTextW(font, two.get(), 0, 2).x, 9.0f + 6.0f);
    }
    for (const char16_t* empty : {static_cast<const char16_t*>(nullptr), u""}) {
        const Vector v = MeasureTextW(font, empty);
        EXPECT_TRUE(v.x == 0 && v.y == 14 && v.z == 0 && v.w == 0);
    }
    EXPECT_EQ(MeasureText(font, "A\xE2\x82\xAC").x, 9.0f + 10.0f);  // UTF-8 euro sign
}

TEST_F(FontDrawTest, QuadsMatchPythonAndFlushAtPageChanges) {
    const std::u16string text = u"AB\u20ACxA";
    int measured[3];
    std::vector<Quad> quads;
    Layout(text, 2, measured, &quads);
    ASSERT_EQ(quads.size(), 4u);
    const Vector top(1.0f, 0.5f, -0.25f, 1.0f), bottom(0.0f, -1.0f, 2.0f, 0.5f), third(0.1f, 0.2f, 0.3f, 0.4f);
    float pen = -1;
    const auto draws = Glyphs([&] {
        DrawTextW(font, text.c_str(), Matrix::IDENTITY, top, bottom, third, 2, 1, false, 8, 0, &pen, -0.25f, 1.0f);
    });
    EXPECT_EQ(pen, float(measured[2]));
    // Page 0 (A, B), page 1 (euro), page 0 (A): three draws.
    ASSERT_EQ(draws.size(), 3u);
    const float pageRows[3] = {16, 32, 16};
    const uint32_t quadsPerDraw[3] = {2, 1, 1};
    size_t q = 0;
    for (size_t d = 0; d < draws.size(); ++d) {
        EXPECT_EQ(draws[d].primitiveCount, 2 * quadsPerDraw[d]);
        EXPECT_EQ(draws[d].VertexConstant(195)[0], 1.0f / 1024);
        EXPECT_EQ(draws[d].VertexConstant(195)[1], 1.0f / pageRows[d]);
        EXPECT_EQ(draws[d].PixelConstant(200)[2], 0.3f);
        const std::vector<GlyphVertex> v = Vertices(draws[d]);
        ASSERT_EQ(v.size(), 4 * quadsPerDraw[d]);
        for (uint32_t k = 0; k < quadsPerDraw[d]; ++k, ++q) {
            const Quad& e = quads[q];
            // Character index of the quad: A 0, B 1, euro 2, A 4 (x is skipped but counted).
            const float fade = std::max(0.0f, 1.0f - 0.25f * float(q == 3 ? 4 : q));
            const int expected[4][4] = {{e.left, e.bottom, e.L, e.B},
                                        {e.right, e.bottom, e.R, e.B},
                                        {e.right, e.top, e.R, e.T},
                                        {e.left, e.top, e.L, e.T}};
            for (int c = 0; c < 4; ++c) {
                const GlyphVertex& g = v[4 * k + c];
                EXPECT_TRUE(g.x == expected[c][0] && g.y == expected[c][1] && g.u == expected[c][2] &&
                            g.v == expected[c][3])
                    << "quad " << q << " corner " << c;
                const Vector& colour = c < 2 ? bottom : top;
                const int16_t packed[4] = {PackGlyphColour(colour.x), PackGlyphColour(colour.y),
                                           PackGlyphColour(colour.z), PackGlyphColour(colour.w * fade)};
                EXPECT_EQ(std::memcmp(g.colour, packed, sizeof packed), 0) << "quad " << q << " corner " << c;
            }
        }
    }
    const int16_t packs[][2] = {{PackGlyphColour(-1.0f), -32768}, {PackGlyphColour(-2.0f), -32768},
                                {PackGlyphColour(1.0f), 32767},   {PackGlyphColour(0.5f), 16383},
                                {PackGlyphColour(-0.5f), -16384}, {PackGlyphColour(0.0f), 0},
                                {PackGlyphColour(std::nanf("")), 0}};
    for (const auto& p : packs) EXPECT_EQ(p[0], p[1]);
}

TEST_F(FontDrawTest, LongTextsGoOutIn512QuadBatches) {
    const std::u16string text(1030, u'A');
    const auto draws = Glyphs([&] {
        DrawTextW(font, text.c_str(), Matrix::IDENTITY, Vector(1, 1, 1, 1), Vector(1, 1, 1, 1), Vector(), 0, 1,
                  false, 8, 0, nullptr);
    });
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].primitiveCount, 1024u);
    EXPECT_EQ(draws[1].primitiveCount, 1024u);
    EXPECT_EQ(draws[2].primitiveCount, 12u);
    EXPECT_EQ(Vertices(draws[2])[0].x, 1 + 1024 * 9);  // the pen went on across the batches
}

TEST_F(FontDrawTest, Task45DrawsItsUnterminatedBytesThroughTheHook) {
    InstallUIServices();
    BeginFrame();
    gVornexRenderer.FlushCommands(true);
    recorder->ClearDrawRecords();
    Matrix place;
    place.LoadTranslation(5, 7, 0);
    const char text[] = "ABAB";
    ASSERT_TRUE(gVornexRenderer.PostDrawText(&font, place, Vector(1, 0, 0, 1), 1, 8, 0, text, 3));
    gVornexRenderer.FlushCommands(true);
    std::vector<gfx::DrawRecord> draws;
    for (const gfx::DrawRecord& d : recorder->DrawRecords())
        if (d.userStride == sizeof(GlyphVertex)) draws.push_back(d);
    EndFrame();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].primitiveCount, 6u);  // "ABA"
    EXPECT_EQ(GetUIDrawServices().MeasureText(static_cast<Resource*>(&font), "AB"), 9.0f + 6.0f);

    // The profiler overlay's text: blended, over everything.
    RendererProfilerDrawer overlay;
    const auto overlayDraws =
        Glyphs([&] { overlay.DrawText(static_cast<Resource*>(&font), "AB", 3, 4, Vector(1, 1, 1, 1)); });
    ASSERT_EQ(overlayDraws.size(), 1u);
    EXPECT_EQ(overlayDraws[0].RenderState(gfx::RS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(overlayDraws[0].RenderState(gfx::RS_ZFUNC), 8u);
}
