#pragma once
// Shared pieces of the text element tests: box fonts written by tests/support/binfont.py
// into the fixture's "common" folder (glyphs are solid boxes of known sizes and offsets),
// and the fixture of the element kinds with text helpers.
#include <filesystem>
#include <fstream>
#include <string>

#include "KindsTestSupport.h"
#include "ui/elements/UIText.h"
#include "ui/elements/UITextBox.h"
#include "ui/text/FontDraw.h"
#include "ui/text/FontTestSupport.h"
#include "ui/text/UIFontTable.h"

namespace texttest {

using kindstest::RunOnRenderThread;

// code, width, height, x offset, y offset, advance. Glyphs span [-y, height - y] below the
// pen origin, inside the line of 16 pixels.
struct BoxGlyph {
    int code, width, height, x, y, advance;
};
inline const BoxGlyph kBoxGlyphs[] = {
    {' ', 0, 0, 0, 0, 4}, {'/', 2, 12, 0, -1, 3}, {'A', 6, 10, 1, -2, 8}, {'B', 5, 12, 0, -1, 7},
};
constexpr float kBoxLine = 16;

inline const BoxGlyph* FindBox(char16_t c) {
    for (const BoxGlyph& g : kBoxGlyphs)
        if (g.code == c) return &g;
    return nullptr;
}

// The width MeasureTextW gives (pixels): advances, the last glyph by its width unless full.
inline float BoxWidth(const std::u16string& text, bool full) {
    float w = 0;
    const BoxGlyph* last = nullptr;
    for (char16_t c : text) {
        last = FindBox(c);
        if (last) w += float(last->advance);
    }
    if (!full && last) w += float(last->width - last->advance);
    return w;
}

inline std::string BoxFontJson() {
    std::string glyphs;
    for (const BoxGlyph& g : kBoxGlyphs)
        glyphs += (glyphs.empty() ? "" : ",") + std::string("[") + std::to_string(g.code) + "," +
                  std::to_string(g.width) + "," + std::to_string(g.height) + "," + std::to_string(g.x) + "," +
                  std::to_string(g.y) + "," + std::to_string(g.advance) + "]";
    return R"({"line": 16, "glyphs": [)" + glyphs + "]}";
}

template <class Base>
struct TextFixtureOf : kindstest::KindsFixtureOf<Base> {
    void SetUp() override {
        kindstest::KindsFixtureOf<Base>::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        // The renderer fixture starts the device before the UI's hooks are in: the glyph
        // buffers the device creation would have made.
        RunOnRenderThread([] { CreateFontSharedBuffers(); });
        namespace fs = std::filesystem;
        fs::create_directories(this->root + "/common/Fonts");
        const std::vector<uint8_t> font = fonttest::BinFontPy("boxfont", BoxFontJson());
        ASSERT_FALSE(font.empty());
        // "boxes.ttf" at 20 (scale 1) and at 12 (24 doubled by the font table's list).
        for (const char* name : {"boxes.ttf~020", "scaled.ttf~012", "boxes.ttf~012"})
            Write("Fonts/" + std::string(name) + ".BinFont", font);
        Write("Fonts.Config", fonttest::BinFontPy("config", R"([["scaled.ttf", 0, [12]]])"));
        ASSERT_TRUE(gUIFontTable && UIFontTable::Load());
    }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(this->root + "/common/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    UIText* AddText(UIElement* parent, float x, float y, const char* text, const char* font = "Boxes.ttf",
                    uint32_t size = 20) {
        UIText* t = new UIText(text, font, size, false);
        t->SetPosition(x, y, 0);
        parent->AddChild(t);
        return t;
    }
    UITextBox* AddBox(UIElement* parent, float x, float y, float width, float height, const char* text) {
        UITextBox* b = new UITextBox(nullptr, "boxes.ttf", 20, false);
        b->SetPosition(x, y, 0);
        b->SetSize(width, height);
        if (text) b->SetText(text);
        parent->AddChild(b);
        return b;
    }
    // Runs f on the render thread after everything posted so far.
    template <class F>
    void OnRender(F f) {
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread(f);
    }
    std::vector<std::u16string> LinesOf(UITextBox* b) {
        std::vector<std::u16string> out;
        OnRender([&] {
            for (const UITextBox::Line& l : b->Lines()) out.push_back(l.text);
        });
        return out;
    }
};

}  // namespace texttest
