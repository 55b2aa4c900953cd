// Arbitrary bytes as a binary font file, read through a mounted folder. The oracle: a
// file that loads has every glyph on a page it has, writes back as the bytes it was
// read from (the texel byte normalised), and measures and looks up without fault; a
// file that does not load leaves the font empty.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "../../render/resources/FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "render/resources/ResourceFont.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Seed(uint8_t texel, uint32_t pages, uint32_t glyphs) {
    std::vector<uint8_t> b;
    Put32(b, kBinFontMagic);
    Put32(b, kBinFontVersion);
    b.push_back(texel);
    Put32(b, pages);
    for (uint32_t p = 0; p < pages; ++p) Put32(b, p + 1);
    for (uint32_t p = 0; p < pages; ++p) b.resize(b.size() + (p + 1) * 1024 * (texel ? 2 : 1), uint8_t(p * 40 + 1));
    Put32(b, glyphs);
    for (uint32_t g = 0; g < glyphs; ++g) {
        const FontGlyph r{uint16_t(32 + 3 * g), uint8_t(g % pages), int8_t(g), int8_t(-int(g)), uint8_t(5 + g),
                          uint16_t(g),         uint16_t(g + 4),     0,         uint16_t(1)};
        const auto* p = reinterpret_cast<const uint8_t*>(&r);
        b.insert(b.end(), p, p + sizeof r);
    }
    Put32(b, 13);
    return b;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (const auto& s : {Seed(0, 1, 3), Seed(1, 2, 5), Seed(0, 0, 0)}) add(s.data(), s.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("common");
    std::filesystem::create_directories(folder + "/Fonts");
    resourcefuzz::WriteInput(folder + "/Fonts/fuzz.ttf~012.BinFont", data, size);
    ResourceFont font("fuzz.ttf~012");
    uint32_t count = 0;
    if (!LoadBinFont(font)) {
        if (font.PageCount() != 0 || FontGlyphs(font, &count) != nullptr) std::abort();
        return 0;
    }
    const FontGlyph* glyphs = FontGlyphs(font, &count);
    std::vector<char16_t> text;
    bool sorted = true;
    for (uint32_t i = 0; i < count; ++i) {
        if (glyphs[i].page >= font.PageCount()) std::abort();
        sorted = sorted && (i == 0 || glyphs[i - 1].code < glyphs[i].code);
        text.push_back(glyphs[i].code ? glyphs[i].code : u'x');
    }
    // Every code of a sorted table is found where it is.
    for (uint32_t i = 0; sorted && i < count; ++i)
        if (FindGlyph(font, glyphs[i].code) != int32_t(i)) std::abort();
    text.push_back(0);
    MeasureTextW(font, text.data(), 1);
    std::vector<uint8_t> out;
    if (!WriteBinFont(font, false, &out) || out.size() > size) std::abort();
    if ((out[8] != 0) != (data[8] != 0)) std::abort();
    out[8] = data[8];
    if (std::memcmp(out.data(), data, out.size()) != 0) std::abort();
    return 0;
}
