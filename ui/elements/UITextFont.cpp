// The text elements' font operations over ui/text's glyph measuring and drawing.
#include "ui/elements/UITextFont.h"

#include "ui/elements/UIQuadBatch.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"

namespace {

// FontDraw's "all characters" is a limit of 0; an empty run is ours to skip.
uint32_t FontLimit(uint32_t limit) { return limit == kUITextAll ? 0 : limit; }

}  // namespace

float UITextLineHeight(const ResourceFont* font) { return font ? MeasureTextW(*font, nullptr).y : 0.0f; }

float UITextMeasure(const ResourceFont* font, const char16_t* text, uint32_t limit, int32_t spacing, bool full) {
    if (!font || !text || limit == 0) return 0.0f;
    return MeasureTextW(*font, text, spacing, FontLimit(limit), full).x;
}

float UITextAdvance(const ResourceFont* font, char16_t c, int32_t spacing) {
    if (!font || c == 0) return 0.0f;
    const char16_t one[2] = {c, 0};  // the measure reads up to a terminator
    return MeasureTextW(*font, one, spacing, 1, true).x;
}

float UITextDraw(const ResourceFont* font, const Matrix& matrix, const UITextRun& run) {
    if (!font || !run.text || run.limit == 0) return 0.0f;
    float pen = 0.0f;
    DrawTextW(*font, run.text, matrix, run.top, run.bottom, run.third, run.spacing, run.blendMode, run.mirrored,
              run.depthTest ? kUIDepthLessEqual : kUIDepthAlways, FontLimit(run.limit), &pen, run.fadeSlope,
              run.fadeOffset);
    return pen;
}

UITextCharMetrics UITextMetrics::Look(char16_t c) const {
    UITextCharMetrics m;
    uint32_t count = 0;
    const FontGlyph* glyphs = font ? FontGlyphs(*font, &count) : nullptr;
    const int32_t index = glyphs ? FindGlyph(*font, c) : -1;
    if (index < 0) return m;
    const FontGlyph& g = glyphs[index];
    m.hasGlyph = true;
    m.advance = float(int32_t(g.advance) + spacing);
    m.lastCorrection = float(int32_t(g.right - g.left) - int32_t(g.advance) - spacing);
    return m;
}

UITextCharMetrics UITextMetrics::Of(char16_t c) {
    if (c >= 128) return Look(c);
    if (!known[c]) ascii[c] = Look(c), known[c] = true;
    return ascii[c];
}
