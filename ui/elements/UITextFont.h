#pragma once
// Private to the text elements: the few font operations their layout and drawing use,
// over the font code of ui/text. Every call accepts a null font (nothing measured or
// drawn). Measuring may run on any thread that holds a use of the font (its glyph tables
// do not change once loaded); drawing runs on the render thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Matrix.h"
#include "ui/elements/UIOpStream.h"

class ResourceFont;
struct UITextRenderHalf;

// A run's limit meaning "up to the terminator".
constexpr uint32_t kUITextAll = 0xFFFFFFFFu;

// The font's line height in pixels (0 without a font).
float UITextLineHeight(const ResourceFont* font);
// The width of the first `limit` characters (or up to the terminator) in pixels: each
// glyph's advance + spacing; unless `full`, the last character's contribution is its
// glyph width. Missing glyphs count nothing.
float UITextMeasure(const ResourceFont* font, const char16_t* text, uint32_t limit, int32_t spacing, bool full);
// One character's advance + spacing (0 when the font has no glyph for it).
float UITextAdvance(const ResourceFont* font, char16_t c, int32_t spacing);

// Per-character metrics for a layout pass: a character's advance + spacing (0 without a
// glyph) and, for the last character of a measured text, what replaces its advance and
// spacing by its glyph width. The first 128 codes are looked up once per pass.
struct UITextCharMetrics {
    float advance = 0.0f;
    float lastCorrection = 0.0f;
    bool hasGlyph = false;
};
class UITextMetrics {
public:
    UITextMetrics(const ResourceFont* font, int32_t spacing) : font(font), spacing(spacing) {}
    UITextCharMetrics Of(char16_t c);

private:
    UITextCharMetrics Look(char16_t c) const;
    const ResourceFont* font;
    int32_t spacing;
    UITextCharMetrics ascii[128];
    bool known[128] = {};
};

// One glyph run drawn at the pen origin of the matrix (font pixels, y down).
struct UITextRun {
    const char16_t* text = nullptr;
    uint32_t limit = kUITextAll;  // characters, or up to the terminator
    Vector top, bottom, third;     // linear colours
    int32_t spacing = 0;
    uint32_t blendMode = 1;
    bool mirrored = false;
    bool depthTest = false;
    float fadeSlope = 0.0f;  // per-character alpha clamp(i * slope + offset, 0, 1)
    float fadeOffset = 1.0f;
};
// Draws the run; returns the pen advance in pixels.
float UITextDraw(const ResourceFont* font, const Matrix& matrix, const UITextRun& run);

// ---- Text conversion of the text elements ----
// The text of a string id in the current language (with fallback; a missing id logs its
// line), null when there is none.
const char16_t* UITextLookUp(const char* stringId);
// The longest text a smooth setter converts (UTF-16 units).
constexpr uint32_t kUITextSmoothMax = 2047;
// The bytes of the longest prefix of at most `limit` bytes that ends on a UTF-8
// character boundary.
uint32_t UITextUTF8Cut(const char* text, uint32_t bytes, uint32_t limit);
// UTF-8 bytes to zero-terminated UTF-16 in out; the characters written.
uint32_t UITextFromUTF8(const char* text, uint32_t bytes, Dynarray<char16_t>& out);
// Payload readers of the text ops: a u32 count, the bytes (UTF-8) or units (UTF-16)
// and a terminator, exactly filling the payload. The text comes out zero-terminated.
bool UITextReadUTF8(UIOpReader& payload, Dynarray<char16_t>& out, uint32_t& count);
bool UITextReadUTF16(UIOpReader& payload, Dynarray<char16_t>& out, uint32_t& count);

// ---- Drawing helpers shared by UIText and UITextBox ----
// scale(font scale) x translate(offset) x world, the x translation snapped to whole
// font-scale steps with pixel-perfect bit 0x20 and the y translation with 0x40.
Matrix UITextDrawMatrix(const Matrix& world, const Vector& offset, const Vector& fontScale, uint32_t flags);
// The matrix moved by the shadow offset (UI units).
Matrix UITextShadowMatrix(const Matrix& m, const Vector& shadowOffset, const Vector& fontScale);
// The main pass's colours: top the element colour, bottom blended towards the bottom
// colour by its alpha when enabled, third the outline colour.
void UITextMainColours(const UITextRenderHalf& tr, const Vector& colour, UITextRun& run);
