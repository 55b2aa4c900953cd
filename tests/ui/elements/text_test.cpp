// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// test-sanitize: thread
// Text elements through the render thread (recording device, box fonts from binfont.py):
// alignment, tag runs, wrapping by words and characters, the drawn range and its
// alignments, character positions, the per-character blend-in, the text ops' sizes and
// cuts, copying, fitting the parent, the line count, the resolution change.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "TextTestSupport.h"
#include "engine/services/UIServices.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"
#include "ui/elements/UITextActions.h"
#include "ui/elements/UITextFont.h"
#include "ui/text/FontDraw.h"
#include "ui/text/UIFontTable.h"

using namespace texttest;

namespace {

struct TextTest : TextFixtureOf<shadertest::ShaderFixture> {
    // One frame of the screen with both action clocks at the given second.
    void FrameAt(double seconds) {
        const int64_t t = int64_t(seconds * 1e7);
        BeginFrame();
        screen->Render(uint32_t(clientWidth), uint32_t(clientHeight), t, t, Vector(0.5f, 0.5f, 0, 0));
        EndFrame();
    }
    static std::vector<gfx::DrawRecord> GlyphDraws(const std::vector<gfx::DrawRecord>& all) {
        std::vector<gfx::DrawRecord> out;
        for (const gfx::DrawRecord& d : all)
            if (d.call == gfx::CallKind::DrawIndexedPrimitiveUP && d.userStride == sizeof(GlyphVertex))
                out.push_back(d);
        return out;
    }
    static GlyphVertex Vertex(const gfx::DrawRecord& d, uint32_t i) {
        GlyphVertex v{};
        std::memcpy(&v, d.userVertices->data() + i * sizeof v, sizeof v);
        return v;
    }
};

TEST_F(TextTest, AlignmentOffsetsFollowTheMeasuredTextAndTheFontScale) {
    const float w = BoxWidth(u"AB A", false), full = BoxWidth(u"AB A", true);
    struct Case {
        const char* font;
        uint32_t size, horizontal, vertical;
        bool appendSpace;
        float scale, width;
    } cases[] = {
        {"boxes.ttf", 20, TEXTALIGNMENT_LEFT, 0, false, 1, w},
        {"boxes.ttf", 20, TEXTALIGNMENT_RIGHT, 1, false, 1, w},
        {"boxes.ttf", 20, TEXTALIGNMENT_CENTER, 2, false, 1, w},
        {"boxes.ttf", 20, TEXTALIGNMENT_RIGHT, 0, true, 1, full},
        // 24 is above the table's only size 12: the font of 12 drawn twice as large.
        {"scaled.ttf", 24, TEXTALIGNMENT_CENTER, 1, false, 2, w},
    };
    for (const Case& c : cases) {
        UIText* t = AddText(screen, 10, 20, nullptr, c.font, c.size);
        if (c.appendSpace) t->RaiseFlag(UIFLAG_APPENDSPACETOCOMPUTETEXTLENGTH, false);
        t->SetAlignment(c.horizontal, c.vertical);
        t->SetText("AB A");
        Vector offset, size;
        OnRender([&] { offset = t->TextOffset(), size = t->TextSize(); });
        const float hx[] = {0, -c.width, -c.width / 2}, vy[] = {0, -kBoxLine, -kBoxLine / 2};
        SCOPED_TRACE(std::string(c.font) + " " + std::to_string(c.horizontal) + "/" + std::to_string(c.vertical));
        EXPECT_FLOAT_EQ(size.x, c.width * c.scale);
        EXPECT_FLOAT_EQ(size.y, kBoxLine * c.scale);
        EXPECT_FLOAT_EQ(offset.x, hx[c.horizontal] * c.scale);
        EXPECT_FLOAT_EQ(offset.y, vy[c.vertical] * c.scale);
        EXPECT_FLOAT_EQ(t->GetTextSize("AB A").x, w * c.scale) << "the main-side measure is scaled, not divided";
    }
}

TEST_F(TextTest, ATagRunMeasuresItsTaggedChildrenSeparatedBySlashes) {
    UIText* t = AddText(screen, 0, 0, nullptr);
    UIElement* first = new UIElement;
    first->SetSize(10, 5);
    first->SetTag("key");
    first->RaiseFlag(UIFLAG_TEXTTAG, false);
    UIElement* second = new UIElement;
    second->SetSize(20, 5);
    second->SetScale(0.5f, 1, 1);
    second->SetTag("key");
    second->RaiseFlag(UIFLAG_TEXTTAG, false);
    UIElement* other = new UIElement;
    other->SetSize(100, 5);
    other->SetTag("other");
    t->AddChild(first), t->AddChild(second), t->AddChild(other);
    t->SetText("A|key|B");
    Vector size;
    OnRender([&] { size = t->TextSize(); });
    EXPECT_FLOAT_EQ(size.x, BoxWidth(u"A", false) + 10 + BoxWidth(u"/", true) + 10 + BoxWidth(u"B", false));
}

TEST_F(TextTest, WordWrappingKeepsAnOverlongWordOnItsOwnLineAndFollowsTheWidth) {
    struct Case {
        float width;
        const char* text;
        std::vector<std::u16string> lines;
    } cases[] = {
        {5, "AAAA AAAA", {u"AAAA", u"AAAA"}},     // narrower than one word: no empty line first
        {100, "AAAA AAAA", {u"AAAA AAAA"}},
        {50, "AA AA AA", {u"AA AA", u"AA"}},     // 20 + 20 fits 50, the third word does not
        {100, "AB\nB  ", {u"AB", u"B"}},         // a line feed ends its line; trailing blanks go
        {100, "A\n\nB", {u"A", u"", u"B"}},
    };
    for (const Case& c : cases) {
        UITextBox* b = AddBox(screen, 0, 0, c.width, 50, c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LinesOf(b), c.lines);
        EXPECT_EQ(b->HackGetLinesCount(), c.lines.size());
    }
    // A size change lays the whole text out again.
    UITextBox* b = AddBox(screen, 0, 0, 100, 50, "AAAA AAAA");
    b->SetSize(5, 50);
    EXPECT_EQ(LinesOf(b), (std::vector<std::u16string>{u"AAAA", u"AAAA"}));
    EXPECT_EQ(b->HackGetLinesCount(), 2u);
    // A text set before the font is laid out when the font comes.
    UITextBox* early = new UITextBox;
    early->SetSize(5, 50);
    early->SetText("AA AA");
    screen->AddChild(early);
    EXPECT_TRUE(LinesOf(early).empty());
    early->SetFont("boxes.ttf", 20, false, 0);
    EXPECT_EQ(LinesOf(early), (std::vector<std::u16string>{u"AA", u"AA"}));
    // Appending continues the last line.
    b->SetSize(100, 50);
    b->AppendText(" B");
    EXPECT_EQ(LinesOf(b), (std::vector<std::u16string>{u"AAAA AAAA B"}));
    float width = 0;
    OnRender([&] { width = b->Lines()[0].width; });
    EXPECT_FLOAT_EQ(width, BoxWidth(u"AAAA AAAA B", false));
}

TEST_F(TextTest, CharacterModeFillsTheWidthAndEndsALineAtALineFeed) {
    struct Case {
        float width;
        const char* text;
        std::vector<std::u16string> lines;
    } cases[] = {
        {20, "A\nAAAAA", {u"A", u"AA", u"AA", u"A"}},  // the line feed inside the fitting run
        {3, "AAA", {u"A", u"A", u"A"}},                // at least one character per line
        {24, "AAAB", {u"AAA", u"B"}},
    };
    for (const Case& c : cases) {
        UITextBox* b = AddBox(screen, 0, 0, c.width, 50, nullptr);
        // The font of a line-breaking language: op 42 with the flag set.
        ResourceFont* font = b->GetFont();
        font->AddRef();  // the use the op carries
        PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_FONT, b, font, Vector(1, 1, 1, 1), uint8_t(1));
        b->SetText(c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LinesOf(b), c.lines);
    }
}

TEST_F(TextTest, DrawnRangeAlignmentsAndCharacterPositions) {
    // Two lines of "AB" in a 100 x 100 box: the block is 32 high.
    struct Case {
        uint32_t horizontal, vertical;
        bool inBox;
        float x, y;  // position of character 0
    } cases[] = {
        {TEXTALIGNMENT_LEFT, 0, false, 0, 0},
        {TEXTALIGNMENT_RIGHT, 1, false, -BoxWidth(u"AB", false), -32},
        {TEXTALIGNMENT_RIGHT, 1, true, 100 - BoxWidth(u"AB", false), 100 - 32},
        {TEXTALIGNMENT_CENTER, 2, false, -BoxWidth(u"AB", false) / 2, -20},  // floor(2.5 * 16 / 2 + 0.5)
        {TEXTALIGNMENT_CENTER, 2, true, 50 - BoxWidth(u"AB", false) / 2, 50 - 20},
    };
    for (const Case& c : cases) {
        UITextBox* b = AddBox(screen, 0, 0, 100, 100, nullptr);
        if (c.inBox) b->RaiseFlag(UIRENDERFLAG_ALIGNINBOX, false);
        b->SetAlignment(c.horizontal, c.vertical);
        b->SetText("AB\nAB");
        Vector first, third, beyond;
        OnRender([&] {
            first = b->GetCharacterPosition(0);
            third = b->GetCharacterPosition(3);
            beyond = b->GetCharacterPosition(4);
        });
        SCOPED_TRACE(std::to_string(c.horizontal) + "/" + std::to_string(c.vertical) + (c.inBox ? " in box" : ""));
        EXPECT_FLOAT_EQ(first.x, c.x);
        EXPECT_FLOAT_EQ(first.y, c.y);
        EXPECT_FLOAT_EQ(third.x, c.x + BoxWidth(u"A", true)) << "second line, second character";
        EXPECT_FLOAT_EQ(third.y, c.y + kBoxLine);
        EXPECT_TRUE(uitest::SameVector(beyond, Vector(0, 0, 0, 1)));
        b->Release();
    }
    // A range of one line draws one line.
    UITextBox* b = AddBox(screen, 0, 0, 100, 100, "AB\nAB\nAB");
    b->SetLinesToRender(1, 1);
    recorder->ClearDrawRecords();
    FrameAt(0);
    EXPECT_EQ(GlyphDraws(Draws()).size(), 1u);
}

TEST_F(TextTest, PerCharacterBlendInRevealsFromNothingToEverything) {
    struct Fade {
        float e, step, slope, offset;
    } fades[] = {
        {0.0f, -0.25f, -0.25f, 0.0f},  // c = 4: character 0 at alpha 0
        {1.0f, -0.25f, -0.25f, 3.5f},  // the last of 10 characters at 1.25
        {0.5f, 0.0f, 0.0f, 1.0f},      // no soft edge: everything at once (no division by zero)
        {0.0f, 0.5f, 0.0f, 1.0f},
    };
    for (const Fade& f : fades) {
        float slope = 9, offset = 9;
        UIActionTextPerCharBlendIn::FadeAt(f.e, 10, f.step, &slope, &offset);
        EXPECT_FLOAT_EQ(slope, f.slope);
        EXPECT_FLOAT_EQ(offset, f.offset);
    }
    // Through the render thread: a 1 s reveal of "ABABA" with a cursor.
    UITextBox* b = AddBox(screen, 0, 0, 100, 100, "ABABA");
    UIElement* cursor = new UIElement;
    b->AddChild(cursor);
    b->BlendInTextPerChar(1.0f, 0, 0, -0.5f, cursor);
    struct Step {
        double seconds;
        float alphaFirst, alphaLast;
        uint32_t cursorAt;
    } steps[] = {{0.0, 0.0f, 0.0f, 0}, {0.5, 1.0f, 0.0f, 2}, {1.0, 1.0f, 1.0f, 5}};
    for (const Step& s : steps) {
        FrameAt(s.seconds);
        float slope = 0, offset = 0;
        Vector at, expected;
        OnRender([&] {
            slope = b->CharacterFadeSlope(), offset = b->CharacterFadeOffset();
            at = cursor->Render().position;
            expected = b->GetCharacterPosition(s.cursorAt);
        });
        SCOPED_TRACE(s.seconds);
        EXPECT_FLOAT_EQ(std::clamp(offset, 0.0f, 1.0f), s.alphaFirst);
        EXPECT_FLOAT_EQ(std::clamp(4 * slope + offset, 0.0f, 1.0f), s.alphaLast);
        EXPECT_TRUE(uitest::SameVector(at, expected));
    }
    // The cursor released while the reveal runs: the reveal goes on without it (the freed
    // cursor is never touched), and so does a second reveal whose cursor goes first.
    UITextBox* second = AddBox(screen, 0, 0, 100, 100, "ABABA");
    for (UITextBox* box : {b, second}) {
        UIElement* gone = new UIElement;
        screen->AddChild(gone);
        box->BlendInTextPerChar(1.0f, UIACTIONFLAG_REMOVEOTHERACTIONS, 0, -0.5f, gone);
        if (box == second) gone->Release();
        FrameAt(2.0);
        if (box == b) gone->Release();
        FrameAt(2.5);
        FrameAt(3.0);
        float offset = 0;
        OnRender([&] { offset = box->CharacterFadeOffset(); });
        EXPECT_GE(offset, 1.0f) << "the reveal finished";
    }
}

TEST_F(TextTest, TextOpsCarryTheirBytesAndCutOnCharacterBoundaries) {
    uitest::OpRecorder ops;
    UIText* t = AddText(screen, 0, 0, nullptr);
    UITextBox* b = AddBox(screen, 0, 0, 10000, 100, nullptr);
    std::string text(4000, 'A');
    // 3071 bytes, then a two-byte character straddling the cut: it goes whole.
    std::string straddling(3071, 'B');
    straddling += "\xC3\xAB";
    ops.ops.clear();
    t->SetText(text.c_str());
    b->SetText(text.c_str());
    t->AppendText("\xC3\xAB");
    std::vector<uitest::PostedOp> posted = ops.ops;
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].op, UIOP_TEXT_SET);
    EXPECT_EQ(posted[0].bytes, 4u + kUITextMaxBytes + 1u) << "count, 3072 bytes, terminator";
    EXPECT_EQ(posted[1].op, UIOP_TEXTBOX_SET);
    EXPECT_EQ(posted[1].bytes, 4u + 4000u + 1u) << "a text box takes the whole text";
    EXPECT_EQ(posted[2].op, UIOP_TEXT_APPEND);
    EXPECT_EQ(posted[2].bytes, 4u + 2u + 1u) << "count without the terminator, and the terminator";
    std::u16string shown;
    size_t boxText = 0;
    OnRender([&] { shown = t->Text(), boxText = b->WholeText().size(); });
    EXPECT_EQ(shown, std::u16string(kUITextMaxBytes, u'A') + u"\u00EB") << "UTF-8 decoded";
    EXPECT_EQ(boxText, 4000u);

    t->SetText(straddling.c_str());
    OnRender([&] { shown = t->Text(); });
    EXPECT_EQ(shown, std::u16string(3071, u'B'));
    // The cross-fade's 2047 characters: a surrogate pair straddling the cut goes whole.
    t->SetTextSmooth(0.0f, (std::string(2046, 'B') + "\xF0\x9F\x98\x80").c_str(), 0, 0);
    FrameAt(0);
    FrameAt(1);
    OnRender([&] { shown = t->Text(); });
    EXPECT_EQ(shown, std::u16string(2046, u'B'));
    // The engine's UI services (the input manager's device and key names): set, append,
    // clear.
    GetUIServices().SetText(t, u"AB");
    GetUIServices().AppendText(t, u" A");
    OnRender([&] { shown = t->Text(); });
    EXPECT_EQ(shown, u"AB A");
    GetUIServices().SetText(t, nullptr);
    const char16_t* cleared = u"x";
    OnRender([&] { cleared = t->Text(); });
    EXPECT_EQ(cleared, nullptr);
    // A text too large for one record travels as a heap block, whole.
    ops.ops.clear();
    b->SetText(std::string(9000, 'A').c_str());
    ASSERT_EQ(ops.ops.size(), 1u);
    EXPECT_TRUE(ops.ops[0].heap);
    OnRender([&] { boxText = b->WholeText().size(); });
    EXPECT_EQ(boxText, 9000u);
    EXPECT_EQ(UIOpPayloadMismatches(), 0u);
}

TEST_F(TextTest, CopyResizeParentAlignToBottomAndNamedText) {
    UIElement* panel = new UIElement;
    panel->SetName("panel");
    screen->AddChild(panel);
    UIText* source = AddText(panel, 0, 0, "AB");
    source->SetName("label");
    source->SetLinearColor(1, 0, 0, 1);
    UIText* copy = AddText(screen, 0, 0, nullptr);
    copy->SetAlignment(TEXTALIGNMENT_CENTER, 0);
    copy->CopyText(source, true, true);
    std::u16string copied;
    const char16_t* left = u"x";
    Vector colour;
    OnRender([&] { copied = copy->Text(), left = source->Text(), colour = copy->Render().color; });
    EXPECT_EQ(copied, u"AB");
    EXPECT_EQ(left, nullptr) << "taken over";
    EXPECT_TRUE(uitest::SameVector(colour, Vector(1, 0, 0, 1)));

    // The parent takes the text size times the element's scale and the negative offset.
    UIElement* parent = new UIElement;
    screen->AddChild(parent);
    UIText* fit = AddText(parent, 0, 0, "AB A");
    fit->SetAlignment(TEXTALIGNMENT_CENTER, 2);
    fit->SetScale(2, 3, 1);
    fit->ResizeParentToMySize();
    Vector size, anchor;
    OnRender([&] { size = parent->Render().size, anchor = parent->Render().anchor; });
    const float w = BoxWidth(u"AB A", false);
    EXPECT_FLOAT_EQ(size.x, w * 2);
    EXPECT_FLOAT_EQ(size.y, kBoxLine * 3);
    EXPECT_FLOAT_EQ(anchor.x, w / 2);
    EXPECT_FLOAT_EQ(anchor.y, kBoxLine / 2);

    // Below three lines: 3 x 16 x spacing 1.5 x factor 2 + the box's y + offset.
    UITextBox* b = AddBox(screen, 5, 40, 100, 100, "A\nB\nA");
    b->SetLineSpacingScale(1.5f);
    UIElement* below = new UIElement;
    below->SetPosition(7, 0, 3);
    screen->AddChild(below);
    b->AlignToBottom(below, 2.0f, 1.0f);
    Vector at;
    OnRender([&] { at = below->Render().position; });
    EXPECT_FLOAT_EQ(at.x, 7);
    EXPECT_FLOAT_EQ(at.y, 3 * 16 * 1.5f * 2 + 40 + 1);
    EXPECT_FLOAT_EQ(at.z, 3);

    // Named text: set and shown; a null text hides; other elements are not text elements.
    EXPECT_EQ(screen->SetNamedText("label", "B"), source);
    OnRender([&] { copied = source->Text() ? source->Text() : u""; });
    EXPECT_EQ(copied, u"B");
    EXPECT_EQ(screen->SetNamedText("label", nullptr), source);
    EXPECT_FALSE(source->IsVisible());
    EXPECT_EQ(screen->SetNamedText("panel", "B"), nullptr);
}

TEST_F(TextTest, ShadowAndBottomColourPasses) {
    UIText* t = AddText(screen, 10, 10, "A");
    t->SetLinearShadowColor(Vector(0, 0, 0, 0.5f));
    t->SetShadowPosition(Vector(2, 2, 0, 0));
    t->SetBottomColor(Vector(1, 0, 0, 0.5f));
    t->SetLinearColor(1, 1, 1, 1);
    recorder->ClearDrawRecords();
    FrameAt(0);
    const auto draws = GlyphDraws(Draws());
    ASSERT_EQ(draws.size(), 2u) << "shadow, then text";
    const auto packed = [](const Vector& c) {
        return std::array<int16_t, 4>{PackGlyphColour(c.x), PackGlyphColour(c.y), PackGlyphColour(c.z),
                                       PackGlyphColour(c.w)};
    };
    const auto colourOf = [](const GlyphVertex& v) {
        return std::array<int16_t, 4>{v.colour[0], v.colour[1], v.colour[2], v.colour[3]};
    };
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(colourOf(Vertex(draws[0], i)), packed(Vector(0, 0, 0, 0.5f)));
    const Vector bottom(1, 0.5f, 0.5f, 0.75f);  // halfway to the bottom colour
    EXPECT_EQ(colourOf(Vertex(draws[1], 0)), packed(bottom));
    EXPECT_EQ(colourOf(Vertex(draws[1], 1)), packed(bottom));
    EXPECT_EQ(colourOf(Vertex(draws[1], 2)), packed(Vector(1, 1, 1, 1)));
    EXPECT_EQ(colourOf(Vertex(draws[1], 3)), packed(Vector(1, 1, 1, 1)));
    // A shadow without offset is off.
    t->SetShadowPosition(Vector(0, 0, 0, 0));
    recorder->ClearDrawRecords();
    FrameAt(0);
    EXPECT_EQ(GlyphDraws(Draws()).size(), 1u);
}

TEST_F(TextTest, PixelPerfectSnappingOfTheDrawTranslation) {
    struct Case {
        uint32_t flags;
        float scale, x, y, snappedX, snappedY;
    } cases[] = {
        {0, 1, 10.4f, 3.6f, 10.4f, 3.6f},
        {0x20, 1, 10.4f, 3.6f, 10, 3.6f},
        {0x60, 1, 10.6f, 3.4f, 11, 3},
        {0x20, 0.5f, 10.3f, 0, 10.5f, 0},  // whole steps of the font scale
    };
    for (const Case& c : cases) {
        Matrix world;
        world.LoadTranslation(c.x, c.y, 0);
        const Matrix m = UITextDrawMatrix(world, Vector(), Vector(c.scale, c.scale, 1, 1), c.flags);
        EXPECT_FLOAT_EQ(m.r[3].x, c.snappedX);
        EXPECT_FLOAT_EQ(m.r[3].y, c.snappedY);
        EXPECT_FLOAT_EQ(m.r[0].x, c.scale);
    }
}

TEST_F(TextTest, PendingFontOpKeepsItsFontThroughAnEviction) {
    UIText* a = AddText(screen, 0, 0, "A");
    // Two font changes before the render side runs: the first font's only use is then
    // the pending op's, and an eviction meanwhile must leave it alone.
    a->SetFont("boxes.ttf", 12, false, 0);
    ResourceFont* first = a->GetFont();
    a->SetFont("boxes.ttf", 20, false, 0);
    ASSERT_NE(first, a->GetFont());
    EXPECT_EQ(first->GetUseCount(), 1u) << "held by the pending op";
    gResourceManager.PostEvictResources(1u << RESOURCE_FONT, true, 0, 0);
    gResourceManager.Flush();
    ResourceFont* shown = nullptr;
    OnRender([&] { shown = a->TextRender().font; });
    EXPECT_EQ(shown, a->GetFont());
    EXPECT_EQ(shown->GetUseCount(), 2u) << "one use each side";
}

TEST_F(TextTest, ScreenResolutionReleasesEvictsOnlyFontsAndRebuilds) {
    UIText* a = AddText(screen, 0, 0, "A");
    UITextBox* b = AddBox(screen, 0, 0, 5, 50, "AA AA");
    ASSERT_NE(a->GetFont(), nullptr);
    // An unused font and an unused texture in their pools.
    Resource* spare = gResourceManager.GetResource(RESOURCE_FONT, "boxes.ttf~012", 0, true, 0);
    ASSERT_NE(spare, nullptr);
    spare->Release();
    ASSERT_TRUE(MakeTexture("spare", "red"));
    Resource* texture = gResourceManager.GetResource(RESOURCE_TEXTURE, "UI/spare.dds", 0, true, 0);
    ASSERT_NE(texture, nullptr);
    texture->Release();
    const auto pooled = [](uint32_t type, const char* name) {
        CriticalSectionGuard guard(&gResourceManager.ManagerLock());
        ResourcePool* pool = gResourceManager.Pool(type);
        for (uint32_t i = 0; pool && i < pool->Count(); ++i)
            if (strcasecmp(pool->At(i)->GetName(), name) == 0) return true;
        return false;
    };
    ASSERT_TRUE(pooled(RESOURCE_FONT, "boxes.ttf~012"));

    uitest::OpRecorder ops;
    UITextBase::SetScreenResolution(640, 480, true, true);
    for (UITextBase* t : {static_cast<UITextBase*>(a), static_cast<UITextBase*>(b)}) {
        const std::vector<uint32_t> posted = ops.For(t);
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted[0], UIOP_TEXT_RELEASEFONT);
        EXPECT_NE(t->GetFont(), nullptr) << "rebuilt";
    }
    EXPECT_FALSE(pooled(RESOURCE_FONT, "boxes.ttf~012")) << "unused fonts are evicted";
    EXPECT_TRUE(pooled(RESOURCE_TEXTURE, "UI/spare.dds")) << "other kinds are not";
    float physicalWidth = 0, physicalHeight = 0;
    GetPhysicalScreenResolution(&physicalWidth, &physicalHeight);
    EXPECT_EQ(physicalWidth, 640);
    EXPECT_EQ(physicalHeight, 480);
    ResourceFont* font = nullptr;
    OnRender([&] { font = a->TextRender().font; });
    EXPECT_EQ(font, a->GetFont());
    EXPECT_EQ(LinesOf(b), (std::vector<std::u16string>{u"AA", u"AA"})) << "the box laid out again";
}

}  // namespace
