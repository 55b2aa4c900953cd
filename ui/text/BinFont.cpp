#include "ui/text/BinFont.h"

#include <cstring>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/WholeFile.h"
#include "render/resources/ResourceFont.h"

namespace {

constexpr const char* kFontDirectory = "Common/Fonts";
constexpr const char* kFontExtension = "BinFont";

void Put32(std::vector<uint8_t>& out, uint32_t v, bool swapped) {
    uint8_t b[4];
    StoreU32(b, v, swapped ? kSerializeByteSwap : 0);
    out.insert(out.end(), b, b + 4);
}

void Put16(std::vector<uint8_t>& out, uint16_t v, bool swapped) {
    uint8_t b[2];
    StoreU16(b, v, swapped ? kSerializeByteSwap : 0);
    out.insert(out.end(), b, b + 2);
}

const FontGlyphTables* Tables(const ResourceFont& font) {
    if (font.GlyphTableBytes() < sizeof(FontGlyphTables)) return nullptr;
    return static_cast<const FontGlyphTables*>(font.GlyphTables());
}

}  // namespace

const FontGlyph* FontGlyphs(const ResourceFont& font, uint32_t* count) {
    const FontGlyphTables* t = Tables(font);
    *count = t ? t->glyphCount : 0;
    return t ? reinterpret_cast<const FontGlyph*>(t + 1) : nullptr;
}

uint32_t FontLineHeight(const ResourceFont& font) {
    const FontGlyphTables* t = Tables(font);
    return t ? t->lineHeight : 0;
}

bool LoadBinFontFromMemory(ResourceFont& font, const void* data, size_t bytes) {
    font.Clear();
    BoundedReader r(data, bytes);
    uint32_t magic = 0, version = 0, pageCount = 0;
    uint8_t texelFormat = 0;
    if (!r.ReadU32(magic) || !r.ReadU32(version) || magic != kBinFontMagic || version != kBinFontVersion) return false;
    if (!r.ReadU8(texelFormat) || !r.ReadU32(pageCount) || !r.CheckCount(pageCount, 4)) return false;
    const uint32_t texelBytes = texelFormat ? 2 : 1;
    const uint64_t rowBytes = uint64_t(kFontPageWidth) * texelBytes;
    std::vector<uint32_t> heights(pageCount);
    uint64_t pageBytes = 0;
    for (uint32_t& h : heights) {
        if (!r.ReadU32(h)) return false;
        // A page holds at least a row: N is then bounded by the texels the file carries,
        // not only by its four-byte heights (millions of empty pages, each a texture job).
        if (h == 0) return r.Fail("font page without rows");
        pageBytes += h * rowBytes;
        if (pageBytes > r.Remaining()) return r.Fail("font pages larger than the file");
    }
    // Every page, the glyph count and the line height must fit what is left.
    if (pageBytes > r.Remaining() || r.Remaining() - pageBytes < 8) return r.Fail("font pages larger than the file");
    font.SetTexelBytes(texelBytes);
    for (uint32_t h : heights) {
        const size_t n = size_t(h * rowBytes);
        auto* pixels = static_cast<uint8_t*>(EngineAlloc(n ? n : 1));
        if (!pixels || !r.Read(pixels, n)) {
            EngineFree(pixels);
            font.Clear();
            return false;
        }
        font.AddPage(pixels, h);
    }
    uint32_t glyphCount = 0, lineHeight = 0;
    if (!r.ReadU32(glyphCount) || !r.CheckCount(glyphCount, sizeof(FontGlyph)) ||
        uint64_t(glyphCount) * sizeof(FontGlyph) + 4 > r.Remaining()) {
        font.Clear();
        return r.Fail(nullptr);
    }
    const size_t tableBytes = sizeof(FontGlyphTables) + size_t(glyphCount) * sizeof(FontGlyph);
    auto* tables = static_cast<FontGlyphTables*>(EngineAlloc(tableBytes));
    auto* glyphs = reinterpret_cast<FontGlyph*>(tables + 1);
    bool ok = tables && r.Read(glyphs, size_t(glyphCount) * sizeof(FontGlyph)) && r.ReadU32(lineHeight);
    for (uint32_t i = 0; ok && i < glyphCount; ++i) ok = glyphs[i].page < pageCount;
    if (!ok) {
        EngineFree(tables);
        font.Clear();
        return r.Fail(tables ? "glyph on a page the font does not have" : nullptr);
    }
    tables->glyphCount = glyphCount;
    tables->lineHeight = lineHeight;
    font.SetGlyphTables(tables, uint32_t(tableBytes));
    return true;
}

bool LoadBinFont(ResourceFont& font) {
    font.Clear();
    FileReader reader(font.GetName(), kFontExtension, kFontDirectory);
    if (!reader.IsOpen()) return false;
    std::vector<uint8_t> bytes;
    if (!fs::ReadWholeFile(reader, UINT32_MAX, 0, &bytes)) return false;
    return LoadBinFontFromMemory(font, bytes.data(), bytes.size());
}

bool WriteBinFont(const ResourceFont& font, bool swapped, std::vector<uint8_t>* out) {
    out->clear();
    const uint32_t texelBytes = font.TexelBytes();
    for (uint32_t i = 0; i < font.PageCount(); ++i)
        if (!font.PagePixels(i)) return false;
    Put32(*out, kBinFontMagic, swapped);
    Put32(*out, kBinFontVersion, swapped);
    out->push_back(texelBytes == 2 ? 1 : 0);
    Put32(*out, font.PageCount(), swapped);
    for (uint32_t i = 0; i < font.PageCount(); ++i) Put32(*out, font.PageHeight(i), swapped);
    for (uint32_t i = 0; i < font.PageCount(); ++i) {
        const uint8_t* p = font.PagePixels(i);
        out->insert(out->end(), p, p + size_t(font.PageHeight(i)) * kFontPageWidth * texelBytes);
    }
    uint32_t count = 0;
    const FontGlyph* glyphs = FontGlyphs(font, &count);
    Put32(*out, count, swapped);
    if (!swapped) {
        const auto* b = reinterpret_cast<const uint8_t*>(glyphs);
        if (count) out->insert(out->end(), b, b + size_t(count) * sizeof(FontGlyph));
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            const FontGlyph& g = glyphs[i];
            Put16(*out, g.code, true);
            out->push_back(g.page);
            out->push_back(uint8_t(g.xOffset));
            out->push_back(uint8_t(g.yOffset));
            out->push_back(g.advance);
            for (uint16_t v : {g.left, g.right, g.top, g.bottom}) Put16(*out, v, true);
        }
    }
    Put32(*out, FontLineHeight(font), swapped);
    return true;
}

bool SaveBinFont(const ResourceFont& font) {
    std::vector<uint8_t> bytes;
    if (!WriteBinFont(font, false, &bytes)) return false;
    FileWriter writer(font.GetName(), kFontExtension, kFontDirectory);
    if (!writer.IsOpen()) return false;
    const bool written = writer.Write(bytes.data(), uint32_t(bytes.size()));
    return writer.Close() && written;
}
