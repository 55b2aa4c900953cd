#pragma once
// The font file a text element draws with: its size quantised to the sizes fonts are
// built at, snapped to the font table, and its resource name
// "<name>#<outline>~<size><suffix>" ("<name>~<size><suffix>" without an outline).
//
// Threads: main thread.
#include <cstdint>

// Sizes up to 8 stay; 9-16 round down to even, 17-32 to a multiple of 4, 33-64 of 6,
// 65-128 of 10, 129-255 of 20; above 255 give 255.
uint32_t GetFontSizeStep(uint32_t size);

constexpr uint32_t kFontResourceNameBytes = 320;

struct FontNameRequest {
    const char* fontName = nullptr;  // the element's font (lower case)
    uint32_t fontSize = 0;
    uint32_t outlineWidth = 0;
    bool pixelPerfect = false;
    bool ignoreReplacement = false;
    uint32_t language = 1;  // the current text language (0-10)
    // The physical resolution (not positive until the first one is set) and the UI's
    // reference size, for the pixel-perfect factor.
    float physicalWidth = 0.0f, physicalHeight = 0.0f;
    float uiWidth = 0.0f, uiHeight = 0.0f;
};

struct FontNameResult {
    char resourceName[kFontResourceNameBytes] = {};
    uint32_t size = 0;      // the pixel size in the name
    uint32_t outline = 0;   // the outline in the name
    float textScale = 1.0f; // draw scale: (s, s, 1, 1)
    bool replaced = false;  // a font replacement of the language is in use
    bool lineBreaking = false;  // character-wise wrapping (Japanese, Chinese, Korean replaced)
};

// Computes the font file for the request (the project configuration's font replacement
// of the language, the font table's sizes). False when the name does not fit.
bool ComputeFontName(const FontNameRequest& request, FontNameResult* result);
