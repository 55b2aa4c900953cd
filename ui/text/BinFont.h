#pragma once
// Binary font files ("BinFont" in "Common/Fonts", one per font resource name): the
// glyph pages as raw texels and the glyph records, read into a ResourceFont when it
// loads and written back from one.
//
// Layout (little-endian): u32 magic 0x23F20AE3, u32 version 6, u8 texel format (0: one
// byte per texel, else two), u32 page count N, N x u32 page heights, the pages (height
// x 1024 x texel bytes each, row by row), u32 glyph count G, G x 14-byte glyph records
// sorted by code, u32 line height. The byte-swapped writer swaps every u32 and the five
// u16 fields of each glyph record.
//
// Threads: the loader thread (or whichever thread loads the font).
#include <cstddef>
#include <cstdint>
#include <vector>

class ResourceFont;

constexpr uint32_t kBinFontMagic = 0x23F20AE3u;
constexpr uint32_t kBinFontVersion = 6;

// One glyph: also the in-memory record the drawing code reads.
struct FontGlyph {
    uint16_t code;     // UTF-16 unit
    uint8_t page;      // page index
    int8_t xOffset;    // pen to the quad's left edge
    int8_t yOffset;    // baseline-relative top (the quad's top is -yOffset)
    uint8_t advance;   // pen advance
    uint16_t left, right, top, bottom;  // texel rectangle on its page
};
static_assert(sizeof(FontGlyph) == 14, "glyph records are 14 bytes in files and in memory");

// The block a font's glyph tables point at (ResourceFont::GlyphTables): this header,
// then glyphCount records.
struct FontGlyphTables {
    uint32_t glyphCount;
    uint32_t lineHeight;
};

// The glyph records of a font's tables; null (and count 0) without tables.
const FontGlyph* FontGlyphs(const ResourceFont& font, uint32_t* count);
// The font's line height in pixels (0 without tables).
uint32_t FontLineHeight(const ResourceFont& font);

// Reads "<font name>.BinFont" from "Common/Fonts" into the font. False, with the font
// left without pages and tables, when the file is missing, its magic or version does
// not match, or it is cut short or inconsistent (a page of no rows included).
bool LoadBinFont(ResourceFont& font);
// The same from bytes in memory.
bool LoadBinFontFromMemory(ResourceFont& font, const void* data, size_t bytes);

// Writes the font's file; false when it cannot be created or written, or when the font
// no longer holds its page texels.
bool SaveBinFont(const ResourceFont& font);
// The file's bytes (swapped: big-endian); false when the font holds no page texels.
bool WriteBinFont(const ResourceFont& font, bool swapped, std::vector<uint8_t>* out);
