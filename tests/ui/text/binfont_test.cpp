// Binary font files: the reader against tests/support/binfont.py's files, refusals of
// damaged files, and the writer reproducing the Python bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "FontTestSupport.h"
#include "core/Memory.h"
#include "ui/text/BinFont.h"

using namespace fonttest;

namespace {

std::string Font(int texel, bool swapped = false) {
    std::string json = kTwoPageFont;
    json.insert(1, "\"texel\": " + std::to_string(texel) + ", \"swapped\": " + (swapped ? "true, " : "false, "));
    return json;
}

bool Load(ResourceFont& font, const std::vector<uint8_t>& bytes) {
    return LoadBinFontFromMemory(font, bytes.data(), bytes.size());
}

bool Empty(const ResourceFont& font) {
    uint32_t n = 0;
    return font.PageCount() == 0 && FontGlyphs(font, &n) == nullptr && n == 0 && FontLineHeight(font) == 0;
}

}  // namespace

TEST(BinFont, LoadsBothTexelFormsFieldForFieldAndWritesTheSameBytes) {
    for (int texel : {0, 1}) {
        const std::vector<uint8_t> bytes = BinFontPy("font", Font(texel));
        ResourceFont font("t~012");
        ASSERT_TRUE(Load(font, bytes)) << texel;
        const uint32_t bpt = texel ? 2 : 1;
        EXPECT_EQ(font.TexelBytes(), bpt);
        ASSERT_EQ(font.PageCount(), 2u);
        EXPECT_EQ(font.PageHeight(0), 16u);
        EXPECT_EQ(font.PageHeight(1), 32u);
        for (uint32_t i : {0u, 1000u, 16u * 1024 * bpt - 1}) EXPECT_EQ(font.PagePixels(0)[i], i % 251);
        uint32_t n = 0;
        const FontGlyph* g = FontGlyphs(font, &n);
        ASSERT_EQ(n, 3u);
        EXPECT_TRUE(g[1].code == 66 && g[1].page == 0 && g[1].xOffset == -1 && g[1].yOffset == -3 &&
                    g[1].advance == 7 && g[1].left == 10 && g[1].right == 16 && g[1].top == 2 && g[1].bottom == 12);
        EXPECT_TRUE(g[2].code == 8364 && g[2].page == 1);
        EXPECT_EQ(FontLineHeight(font), 14u);

        std::vector<uint8_t> out;
        ASSERT_TRUE(WriteBinFont(font, false, &out));
        EXPECT_TRUE(out == bytes) << "little-endian, texel " << texel;
        ASSERT_TRUE(WriteBinFont(font, true, &out));
        EXPECT_TRUE(out == BinFontPy("font", Font(texel, true))) << "swapped, texel " << texel;
    }
}

TEST(BinFont, TwoByteTexelPageOf256RowsHoldsHalfAMegabyte) {
    const std::vector<uint8_t> bytes =
        BinFontPy("font", R"({"texel": 1, "line": 9, "pages": [{"height": 256}], "glyphs": []})");
    EXPECT_EQ(bytes.size(), 4 + 4 + 1 + 4 + 4 + 524288u + 4 + 4);
    ResourceFont font("t");
    EXPECT_TRUE(Load(font, bytes));
    EXPECT_EQ(font.PageHeight(0), 256u);
}

TEST(BinFont, DamagedFilesAreRefusedAndLeaveTheFontEmpty) {
    const std::vector<uint8_t> good = BinFontPy("font", Font(1));
    auto with = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> b = good;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    const size_t glyphCountAt = 13 + 8 + 48u * 1024 * 2;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"wrong magic", with(0, 0x23F20AE4)},
        {"version 5", with(4, 5)},
        {"page count beyond the file", with(9, 0x40000000)},
        {"page height beyond the file", with(13, 0xFFFFFFFF)},
        {"page without rows", BinFontPy("font", R"({"line": 9, "pages": [{"height": 0}], "glyphs": []})")},
        {"glyph count beyond the file", with(glyphCountAt, 0x12492492)},
        {"glyph on page 2 of 2", [&] {
             std::vector<uint8_t> b = good;
             b[glyphCountAt + 4 + 14 * 2 + 2] = 2;
             return b;
         }()},
    };
    for (const auto& c : cases) {
        ResourceFont font("t");
        ASSERT_TRUE(Load(font, good));
        EXPECT_FALSE(Load(font, c.bytes)) << c.what;
        EXPECT_TRUE(Empty(font)) << c.what;
    }
    // Every cut of the file fails cleanly.
    for (size_t n = 0; n < good.size(); n += (n < 64 || n + 64 > good.size()) ? 1 : 4093) {
        ResourceFont font("t");
        EXPECT_FALSE(LoadBinFontFromMemory(font, good.data(), n)) << n;
        EXPECT_TRUE(Empty(font)) << n;
    }
}

TEST(BinFont, LoadsAndSavesThroughTheFileSystem) {
    CommonFolder folder;
    const std::vector<uint8_t> bytes = BinFontPy("font", Font(0));
    folder.Write("Fonts/face.ttf~012.BinFont", bytes);
    ResourceFont font("face.ttf~012");
    ASSERT_TRUE(LoadBinFont(font));
    ResourceFont copy("copy.ttf~012");
    ASSERT_TRUE(Load(copy, bytes));
    ASSERT_TRUE(SaveBinFont(copy));
    EXPECT_TRUE(ReadFile(folder.root + "/Fonts/copy.ttf~012.BinFont") == bytes);
    ResourceFont missing("none.ttf~012");
    EXPECT_FALSE(LoadBinFont(missing));
}
