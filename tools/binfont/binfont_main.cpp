// binfont <face.ttf> <pixel size> <outline width> <out.BinFont>
//
// Rasterises the face's characters 32-126 and 160-383 at the pixel size into pages
// 1024 texels wide and writes them as a binary font file. Without an outline a texel
// is one byte of glyph coverage; with one it is two bytes, the outline's coverage (made
// by FreeType's stroker at that width) and then the glyph's. The glyph origin is the
// top of the line: a glyph's y offset is its top's height above the baseline minus the
// ascender. A size at which a glyph's offsets or advance do not fit the record's bytes
// (about 117 pixels and up for DejaVu Sans) is refused.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x23F20AE3u;
constexpr uint32_t kVersion = 6;
constexpr uint32_t kPageWidth = 1024;
constexpr uint32_t kMaxPageHeight = 1024;

struct Bitmap {
    int left = 0, top = 0;  // FreeType's bitmap_left and bitmap_top
    uint32_t width = 0, rows = 0;
    std::vector<uint8_t> pixels;  // rows x width
};

struct Glyph {
    uint16_t code;
    int advance;
    Bitmap glyph, outline;  // the outline is empty without one
    uint32_t page = 0, x = 0, y = 0, width = 0, height = 0;
    int left = 0, top = 0;
};

Bitmap FromFreeType(const FT_Bitmap& b, int left, int top) {
    Bitmap out;
    out.left = left, out.top = top, out.width = b.width, out.rows = b.rows;
    out.pixels.resize(size_t(b.width) * b.rows);
    for (uint32_t r = 0; r < b.rows; ++r)
        std::memcpy(out.pixels.data() + size_t(r) * b.width, b.buffer + ptrdiff_t(r) * b.pitch, b.width);
    return out;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
bool FitsS8(int v) { return v >= -128 && v <= 127; }

bool Fail(const char* what) {
    std::fprintf(stderr, "binfont: %s\n", what);
    return false;
}

bool Run(const char* facePath, uint32_t size, uint32_t outline, const char* outPath) {
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library)) return Fail("FreeType does not start");
    if (FT_New_Face(library, facePath, 0, &face)) return Fail("the face does not open");
    if (FT_Set_Pixel_Sizes(face, 0, size)) return Fail("the face has no such size");
    FT_Stroker stroker = nullptr;
    if (outline) {
        FT_Stroker_New(library, &stroker);
        FT_Stroker_Set(stroker, FT_Fixed(outline) * 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    }
    const int ascender = int((face->size->metrics.ascender + 63) >> 6);
    const uint32_t lineHeight = uint32_t((face->size->metrics.height + 63) >> 6) + 2 * outline;

    std::vector<Glyph> glyphs;
    auto add = [&](uint32_t code) {
        const FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0 && code != ' ') return;
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT)) return;
        Glyph g{};
        g.code = uint16_t(code);
        g.advance = int((face->glyph->advance.x + 32) >> 6) + int(outline);
        FT_Glyph shape;
        if (FT_Get_Glyph(face->glyph, &shape)) return;
        FT_Glyph copy = shape;
        if (stroker) {
            FT_Glyph stroked = shape;
            FT_Glyph_Copy(shape, &stroked);
            if (!FT_Glyph_StrokeBorder(&stroked, stroker, 0, 1) &&
                !FT_Glyph_To_Bitmap(&stroked, FT_RENDER_MODE_NORMAL, nullptr, 1)) {
                auto* b = reinterpret_cast<FT_BitmapGlyph>(stroked);
                g.outline = FromFreeType(b->bitmap, b->left, b->top);
            }
            FT_Done_Glyph(stroked);
        }
        if (!FT_Glyph_To_Bitmap(&copy, FT_RENDER_MODE_NORMAL, nullptr, 1)) {
            auto* b = reinterpret_cast<FT_BitmapGlyph>(copy);
            g.glyph = FromFreeType(b->bitmap, b->left, b->top);
        }
        FT_Done_Glyph(copy);
        // The texel rectangle holds both.
        const Bitmap& box = g.outline.width ? g.outline : g.glyph;
        g.left = box.left, g.top = box.top, g.width = box.width, g.height = box.rows;
        glyphs.push_back(std::move(g));
    };
    for (uint32_t c = 32; c < 127; ++c) add(c);
    for (uint32_t c = 160; c < 384; ++c) add(c);

    // Shelves, one texel apart.
    std::vector<uint32_t> pageHeights{0};
    uint32_t x = 1, y = 1, shelf = 0;
    for (Glyph& g : glyphs) {
        if (g.width + 2 > kPageWidth || g.height + 2 > kMaxPageHeight) return Fail("a glyph larger than a page");
        if (x + g.width + 1 > kPageWidth) x = 1, y += shelf + 1, shelf = 0;
        if (y + g.height + 1 > kMaxPageHeight) pageHeights.push_back(0), x = 1, y = 1, shelf = 0;
        g.page = uint32_t(pageHeights.size() - 1), g.x = x, g.y = y;
        x += g.width + 1;
        shelf = std::max(shelf, g.height);
        pageHeights.back() = std::max(pageHeights.back(), y + g.height + 1);
    }
    const uint32_t texel = outline ? 2 : 1;
    std::vector<std::vector<uint8_t>> pages;
    for (uint32_t& h : pageHeights) {
        uint32_t p = 16;
        while (p < h) p *= 2;
        h = p;
        pages.emplace_back(size_t(h) * kPageWidth * texel, 0);
    }
    auto blit = [&](const Glyph& g, const Bitmap& b, uint32_t channel) {
        const uint32_t dx = g.x + uint32_t(b.left - g.left), dy = g.y + uint32_t(g.top - b.top);
        for (uint32_t r = 0; r < b.rows; ++r)
            for (uint32_t c = 0; c < b.width; ++c)
                pages[g.page][(size_t(dy + r) * kPageWidth + dx + c) * texel + channel] = b.pixels[r * b.width + c];
    };
    for (const Glyph& g : glyphs) {
        if (outline) blit(g, g.outline, 0);
        blit(g, g.glyph, texel - 1);
    }

    std::vector<uint8_t> out;
    Put32(out, kMagic);
    Put32(out, kVersion);
    out.push_back(outline ? 1 : 0);
    Put32(out, uint32_t(pages.size()));
    for (uint32_t h : pageHeights) Put32(out, h);
    for (const auto& p : pages) out.insert(out.end(), p.begin(), p.end());
    // A record holds the offsets in signed bytes and the advance in a byte: a size whose
    // glyphs do not fit them has no file (the glyphs would land in the wrong place).
    bool fits = true;
    Put32(out, uint32_t(glyphs.size()));
    for (const Glyph& g : glyphs) {
        const int yOffset = g.top - ascender - int(outline);
        fits = fits && FitsS8(g.left) && FitsS8(yOffset) && g.advance >= 0 && g.advance <= 255;
        Put16(out, g.code);
        out.push_back(uint8_t(g.page));
        out.push_back(uint8_t(int8_t(g.left)));
        out.push_back(uint8_t(int8_t(yOffset)));
        out.push_back(uint8_t(g.advance));
        Put16(out, g.x), Put16(out, g.x + g.width), Put16(out, g.y), Put16(out, g.y + g.height);
    }
    Put32(out, lineHeight);
    if (stroker) FT_Stroker_Done(stroker);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!fits) return Fail("a glyph's offset or advance does not fit its byte at this size");

    FILE* f = std::fopen(outPath, "wb");
    if (!f) return Fail("the output does not open");
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return (std::fclose(f) == 0 && written) || Fail("the output was not written");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: binfont <face.ttf> <pixel size> <outline width> <out.BinFont>\n");
        return 2;
    }
    const long size = std::strtol(argv[2], nullptr, 10), outline = std::strtol(argv[3], nullptr, 10);
    if (size < 1 || size > 255 || outline < 0 || outline > 16) {
        std::fprintf(stderr, "binfont: a size of 1-255 and an outline of 0-16, please\n");
        return 2;
    }
    return Run(argv[1], uint32_t(size), uint32_t(outline), argv[4]) ? 0 : 1;
}
