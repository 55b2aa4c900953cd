// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// Text elements on the drawing device (128 x 128 targets, reference size 128 x 128, a box
// font from binfont.py whose glyphs are solid boxes): each lit region of "AB A" is the
// glyph rectangle of the layout (offsets, advances), in the text colour, and centring
// moves everything by half the measured width; a tag run draws child, "/", child; a text
// box wraps "AA AA AA" at two words onto lines one line height apart. Boxes are compared
// within 1 pixel and colours within 3/255 on 99 % of the pixels; a failed check saves the
// picture under the build's pictures folder and prints its path.
#include <algorithm>

#include "TextTestSupport.h"
#include "ui/elements/UIViewState.h"

using namespace texttest;

namespace {

constexpr uint32_t kSide = 128;

struct Box {
    int left = kSide, top = kSide, right = -1, bottom = -1;  // inclusive
    bool Near(int l, int t, int r, int b) const {
        return std::abs(left - l) <= 1 && std::abs(top - t) <= 1 && std::abs(right - r) <= 1 &&
               std::abs(bottom - b) <= 1;
    }
};

std::ostream& operator<<(std::ostream& o, const Box& b) {
    return o << b.left << "," << b.top << " - " << b.right << "," << b.bottom;
}

struct TextPicturesTest : TextFixtureOf<shadertest::DrawingShaderFixture> {
    void SetUp() override {
        TextFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        SetUISizeOverride(float(kSide), float(kSide));
        screen->SetSize(float(kSide), float(kSide));
    }
    // The screen drawn into a fresh target as a frame would draw it. Pixels 0xRRGGBB.
    std::vector<uint32_t> Draw(const std::string& name, bool save = false) {
        return kindstest::DrawScreenPixels(*this, screen, kSide, name, save, [&] { gVornexRenderer.SetSRGBWriteState(0); });
    }
    template <class Check>
    void DrawAndCheck(const std::string& name, Check check) {
        if (!check(Draw(name))) Draw(name + "-failed", true);
    }
    // The bounding box of the pixels in [x0, x1) x [y0, y1) that the predicate accepts.
    template <class Accept>
    static Box BoxOf(const std::vector<uint32_t>& px, int x0, int y0, int x1, int y1, Accept accept) {
        Box b;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (accept(px[size_t(y) * kSide + size_t(x)])) {
                    b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                    b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                }
        return b;
    }
    static int Channel(uint32_t p, int c) { return int((p >> (16 - 8 * c)) & 0xFF); }
    static bool Is(uint32_t p, int r, int g, int b) {
        return std::abs(Channel(p, 0) - r) <= 3 && std::abs(Channel(p, 1) - g) <= 3 && std::abs(Channel(p, 2) - b) <= 3;
    }
    static bool Lit(uint32_t p) { return Channel(p, 0) > 3 || Channel(p, 1) > 3 || Channel(p, 2) > 3; }
    // The glyph rectangle of character i of the text drawn with the pen at (x, y).
    static Box GlyphBox(const std::u16string& text, size_t i, int x, int y) {
        int pen = 0;
        for (size_t k = 0; k < i; ++k) pen += FindBox(text[k])->advance;
        const BoxGlyph* g = FindBox(text[i]);
        return Box{x + pen + g->x, y - g->y, x + pen + g->x + g->width - 1, y + g->height - g->y - 1};
    }
};

TEST_F(TextPicturesTest, GlyphBoxesOfALineInTheTextColourAndCentred) {
    const std::u16string text = u"AB A";
    UIText* left = AddText(screen, 20, 10, "AB A");
    left->SetLinearColor(1, 1, 0, 1);
    // Centred about x = 64: half of the measured width (25 / 2) to the left, the
    // translation snapped to whole pixels (pixel-perfect x).
    UIText* centred = AddText(screen, 64, 60, "AB A");
    centred->SetAlignment(TEXTALIGNMENT_CENTER, 0);
    centred->RaiseFlag(0x20, false);
    const int shift = int(std::floor(64 - BoxWidth(text, false) / 2 + 0.5f));
    DrawAndCheck("text-line", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide) * kSide) return false;
        bool ok = true;
        size_t good = 0;
        for (uint32_t p : px) good += !Lit(p) || Is(p, 255, 255, 0) || Is(p, 255, 255, 255);
        EXPECT_GE(good, size_t(0.99 * kSide * kSide)) << "only the text colours and black";
        for (const auto& [x, y, yellow] : {std::tuple{20, 10, true}, std::tuple{shift, 60, false}}) {
            for (size_t i : {size_t(0), size_t(1), size_t(3)}) {
                const Box want = GlyphBox(text, i, x, y);
                // Each glyph alone: the columns between it and its neighbours are dark.
                const Box got = BoxOf(px, want.left - 1, y - 8, want.right + 2, y + 30, [&](uint32_t p) {
                    return yellow ? Is(p, 255, 255, 0) : Is(p, 255, 255, 255);
                });
                const bool near = got.Near(want.left, want.top, want.right, want.bottom);
                EXPECT_TRUE(near) << "glyph " << i << " at " << x << ": " << got << " against " << want;
                ok = ok && near;
            }
        }
        return ok && good >= size_t(0.99 * kSide * kSide);
    });
}

TEST_F(TextPicturesTest, ATagRunDrawsChildSlashChildInline) {
    UIText* t = AddText(screen, 10, 20, "A|key|B");
    for (const Vector& colour : {Vector(1, 0, 0, 1), Vector(0, 1, 0, 1)}) {
        UIElement* child = new UIElement;
        child->SetSize(10, 8);
        child->SetLinearColor(colour);
        child->SetColorMode(UICOLOR_STATIC);
        child->SetTag("key");
        child->RaiseFlag(UIFLAG_TEXTTAG, false);
        t->AddChild(child);
    }
    DrawAndCheck("text-tags", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide) * kSide) return false;
        const auto white = [](uint32_t p) { return Is(p, 255, 255, 255); };
        const Box red = BoxOf(px, 0, 0, kSide, kSide, [](uint32_t p) { return Is(p, 255, 0, 0); });
        const Box green = BoxOf(px, 0, 0, kSide, kSide, [](uint32_t p) { return Is(p, 0, 255, 0); });
        // The pen: "A" advances 8, each child 10, "/" 3; children one line (16) down.
        const Box a = BoxOf(px, 0, 0, 19, kSide, white);
        const Box slash = BoxOf(px, 27, 0, 31, kSide, white);
        const Box b = BoxOf(px, 40, 0, kSide, kSide, white);
        const bool ok = red.Near(18, 36, 27, 43) && slash.Near(28, 21, 29, 32) && green.Near(31, 36, 40, 43) &&
                        b.Near(41, 21, 45, 32) && a.Near(11, 22, 16, 31);
        EXPECT_TRUE(ok) << "A " << a << ", red " << red << ", / " << slash << ", green " << green << ", B " << b;
        return ok;
    });
}

TEST_F(TextPicturesTest, ATextBoxWrapsAtTwoWordsOneLineHeightApart) {
    // "AA " is 20 wide with its space: two words fill 40; the third goes to a new line.
    AddBox(screen, 10, 20, 40, 80, "AA AA AA");
    DrawAndCheck("text-box", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide) * kSide) return false;
        const Box first = BoxOf(px, 0, 20, kSide, 36, Lit);
        const Box second = BoxOf(px, 0, 36, kSide, 52, Lit);
        const Box rest = BoxOf(px, 0, 52, kSide, kSide, Lit);
        const std::u16string line = u"AA AA";
        const Box a0 = GlyphBox(line, 0, 10, 20), a3 = GlyphBox(line, 4, 10, 20);
        const bool ok = first.Near(a0.left, a0.top, a3.right, a3.bottom) &&
                        second.Near(a0.left, a0.top + 16, GlyphBox(line, 1, 10, 20).right, a0.bottom + 16) &&
                        rest.right < 0;
        EXPECT_TRUE(ok) << "first " << first << ", second " << second << ", below " << rest;
        return ok;
    });
}

}  // namespace
