#pragma once
// Measuring and drawing UTF-16 and single-byte (UTF-8) text with a bitmap font, and the
// shared glyph buffers the drawing uses.
//
// A glyph quad is four 16-byte vertices: s16 x, s16 y (pixels from the pen origin),
// u16 u, v (texels) and the colour as four signed normalised s16. Quads go out in
// batches of up to kGlyphBatchQuads per page through the shared index list.
//
// Threads: render thread (measuring also anywhere the font stays loaded).
#include <cstdint>

#include "core/math/Matrix.h"
#include "core/math/Vector.h"

class ResourceFont;

constexpr uint32_t kGlyphBatchQuads = 512;
constexpr uint32_t kMaxSingleByteText = 2047;

struct GlyphVertex {
    int16_t x, y;
    uint16_t u, v;
    int16_t colour[4];
};
static_assert(sizeof(GlyphVertex) == 16, "a glyph quad is 64 bytes");

// Clamped to [-1, 1]; c * 32768 when negative, c * 32767 otherwise; NaN gives 0.
int16_t PackGlyphColour(float c);

// Render thread: the shared glyph index list and the glyph vertex declaration (device
// creation and release).
void CreateFontSharedBuffers();
void ReleaseFontSharedBuffers();

// Index of the glyph of that code, or -1.
int32_t FindGlyph(const ResourceFont& font, uint16_t code);

// (width, line height, 0, 0) of at most maxCharacters characters (0: all). Without the
// full flag the last glyph counts its width instead of its advance and the spacing.
// A null or empty text gives (0, line height).
Vector MeasureTextW(const ResourceFont& font, const char16_t* text, int32_t spacing = 0, uint32_t maxCharacters = 0,
                    bool full = false);

// Draws at most maxCharacters characters (0: all) at the matrix. Top and bottom colour
// are the quads' upper and lower edges, the third colour the outline colour of
// two-byte pages. Character i fades with clamp(i * fadeSlope + fadeOffset, 0, 1). The
// pen advance comes back through penAdvance when given.
void DrawTextW(const ResourceFont& font, const char16_t* text, const Matrix& matrix, const Vector& top,
               const Vector& bottom, const Vector& third, int32_t spacing, uint32_t blendMode, bool mirrored,
               uint32_t depthState, uint32_t maxCharacters, float* penAdvance, float fadeSlope = 0.0f,
               float fadeOffset = 1.0f);

// Single-byte forms: UTF-8 text, at most kMaxSingleByteText bytes (cut at a character
// boundary; bytes: the length, or -1 for a terminated text).
Vector MeasureText(const ResourceFont& font, const char* text, int32_t bytes = -1, int32_t spacing = 0,
                   bool full = false);
void DrawText(const ResourceFont& font, const char* text, int32_t bytes, const Matrix& matrix, const Vector& top,
              const Vector& bottom, const Vector& third, int32_t spacing, uint32_t blendMode, bool mirrored,
              uint32_t depthState, uint32_t maxCharacters = 0);
