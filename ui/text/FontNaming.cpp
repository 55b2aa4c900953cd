#include "ui/text/FontNaming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/config/ConfigEnums.h"
#include "core/config/ProjectConfig.h"
#include "core/text/NameString.h"
#include "ui/text/UIFontTable.h"

namespace {

constexpr uint32_t kLanguageJapanese = 6;
constexpr uint32_t kLanguageChinese = 7;
constexpr uint32_t kLanguageKorean = 10;

}  // namespace

uint32_t GetFontSizeStep(uint32_t size) {
    if (size > 255) return 255;
    if (size > 128) return size - size % 20;
    if (size > 64) return size - size % 10;
    if (size > 32) return size - size % 6;
    if (size > 16) return size - size % 4;
    if (size > 8) return size - size % 2;
    return size;
}

bool ComputeFontName(const FontNameRequest& request, FontNameResult* result) {
    *result = FontNameResult{};
    const char* fontName = request.fontName ? request.fontName : "";
    // 1. The pixel-perfect factor (1 until a physical resolution is known).
    float f = 1.0f;
    if (request.pixelPerfect && request.physicalWidth > 0.0f && request.physicalHeight > 0.0f &&
        request.uiWidth > 0.0f && request.uiHeight > 0.0f)
        f = std::min(request.physicalWidth * request.uiHeight / request.uiWidth, request.physicalHeight) /
            request.uiHeight;
    // 2. The face: the language's replacement unless the element ignores them.
    NameString face(fontName);
    float replacementScale = 1.0f;
    uint32_t maxSize = 0;
    bool replaced = false;
    if (!request.ignoreReplacement && gProjectConfig) {
        NameString replacement;
        uint32_t granularity = 1;
        replaced = gProjectConfig->FindFontReplacement(request.language, NameString(fontName), &replacement,
                                                       &replacementScale, &granularity, &maxSize);
        if (replaced) face = replacement;
        else replacementScale = 1.0f, maxSize = 0;
    }
    // 3-5. The size, its maximum and its step.
    const double scaled = std::floor(double(request.fontSize) * f * replacementScale + 0.5);
    // Not positive, or NaN from a damaged replacement scale: 0.
    uint32_t size = !(scaled > 0.0) ? 0 : scaled >= 4294967295.0 ? UINT32_MAX : uint32_t(scaled);
    float e = 1.0f;
    if (maxSize > 0 && size > maxSize) {
        e = float(size) / float(maxSize);
        size = maxSize;
    }
    size = GetFontSizeStep(size);
    // 6-7. The outline and the sizes the font table lists for the element's own font.
    const uint32_t outline = replaced ? 0 : request.outlineWidth;
    if (gUIFontTable) size = gUIFontTable->SnapSize(fontName, outline, size, &e);
    // 8-9. The scale and the name.
    const char* separator = replaced ? "_" : "";
    const char* language = replaced ? LanguageNameFromIndex(request.language) : "";
    const int n = outline ? std::snprintf(result->resourceName, sizeof result->resourceName, "%s#%d~%03d%s%s",
                                          face.CStr(), int(outline), int(size), separator, language)
                          : std::snprintf(result->resourceName, sizeof result->resourceName, "%s~%03d%s%s",
                                          face.CStr(), int(size), separator, language);
    result->size = size;
    result->outline = outline;
    result->textScale = e / f;
    result->replaced = replaced;
    result->lineBreaking = replaced && (request.language == kLanguageJapanese ||
                                        request.language == kLanguageChinese || request.language == kLanguageKorean);
    return n >= 0 && size_t(n) < sizeof result->resourceName;
}
