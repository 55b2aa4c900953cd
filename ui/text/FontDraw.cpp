#include "ui/text/FontDraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text/TextConversion.h"
#include "platform/gfx/GfxDevice.h"
#include "render/DeviceObjectHandle.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceFont.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "ui/text/BinFont.h"

namespace {

constexpr uint32_t kFontShaderSlot = 13;          // one byte per texel
constexpr uint32_t kOutlinedFontShaderSlot = 14;  // glyph and outline
constexpr uint32_t kTexelScaleRegister = 195;     // vertex: texels to texture coordinates
constexpr uint32_t kTexelOffsetRegister = 196;    // vertex: added after the scale
constexpr uint32_t kOutlineColourRegister = 200;  // pixel
constexpr uint32_t kPageSampler = 6;
constexpr uint32_t kCullClockwise = 2;
constexpr uint32_t kCullCounterClockwise = 3;

// Render thread: the shared glyph buffers.
uint16_t gIndices[kGlyphBatchQuads * 6];
GlyphVertex gVertices[kGlyphBatchQuads * 4];
gfx::VertexDeclaration* gDeclaration = nullptr;

void BuildIndices() {
    for (uint32_t q = 0; q < kGlyphBatchQuads; ++q) {
        const auto b = static_cast<uint16_t>(4 * q);
        uint16_t* i = gIndices + 6 * q;
        i[0] = b, i[1] = uint16_t(b + 1), i[2] = uint16_t(b + 2), i[3] = b, i[4] = uint16_t(b + 2),
        i[5] = uint16_t(b + 3);
    }
}

void FlushQuads(uint32_t& quads) {
    if (quads == 0) return;
    gVornexRenderer.DrawIndexedPrimitiveUP(gfx::PT_TRIANGLELIST, 0, 4 * quads, 2 * quads, gIndices, gVertices,
                                           sizeof(GlyphVertex));
    quads = 0;
}

int16_t Clamp16(float v) {
    if (v < -32768.0f) return -32768;
    if (v > 32767.0f) return 32767;
    return static_cast<int16_t>(v);
}

void PackColour(int16_t out[4], const Vector& c, float fade) {
    out[0] = PackGlyphColour(c.x);
    out[1] = PackGlyphColour(c.y);
    out[2] = PackGlyphColour(c.z);
    out[3] = PackGlyphColour(c.w * fade);
}

// UTF-8 text cut to kMaxSingleByteText bytes at a character boundary, as UTF-16
// (terminated).
void ToWide(const char* text, int32_t bytes, char16_t (&out)[kMaxSingleByteText + 1]) {
    std::memset(out, 0, sizeof out);
    if (!text) return;
    size_t n = bytes < 0 ? std::strlen(text) : size_t(bytes);
    if (const void* nul = std::memchr(text, 0, n)) n = size_t(static_cast<const char*>(nul) - text);
    if (n > kMaxSingleByteText) {
        n = kMaxSingleByteText;
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
    }
    if (n) MultiByteToWide(out, kMaxSingleByteText, text, int32_t(n), kCodePageUTF8);
}

}  // namespace

int16_t PackGlyphColour(float c) {
    if (std::isnan(c)) return 0;  // a script's 0 / 0: converting NaN would be undefined
    c = std::clamp(c, -1.0f, 1.0f);
    return static_cast<int16_t>(c < 0.0f ? c * 32768.0f : c * 32767.0f);
}

void CreateFontSharedBuffers() {
    BuildIndices();
    SafeReleaseInterface(&gDeclaration);
    VertexDeclarationCache* cache = gVornexRenderer.DeclarationCache();
    if (!cache) return;
    static const gfx::VertexElement kElements[4] = {
        {0, 0, gfx::DECLTYPE_SHORT2, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
        {0, 4, gfx::DECLTYPE_SHORT2, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_TEXCOORD, 0},
        {0, 8, gfx::DECLTYPE_SHORT4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_COLOR, 0},
        gfx::kDeclEnd,
    };
    gDeclaration = cache->GetOrCreate(kElements, 4);
}

void ReleaseFontSharedBuffers() { SafeReleaseInterface(&gDeclaration); }

int32_t FindGlyph(const ResourceFont& font, uint16_t code) {
    uint32_t count = 0;
    const FontGlyph* glyphs = FontGlyphs(font, &count);
    const FontGlyph* at =
        std::lower_bound(glyphs, glyphs + count, code, [](const FontGlyph& g, uint16_t c) { return g.code < c; });
    return at != glyphs + count && at->code == code ? int32_t(at - glyphs) : -1;
}

Vector MeasureTextW(const ResourceFont& font, const char16_t* text, int32_t spacing, uint32_t maxCharacters,
                    bool full) {
    const float lineHeight = float(FontLineHeight(font));
    uint32_t count = 0;
    const FontGlyph* glyphs = FontGlyphs(font, &count);
    if (!text || !glyphs) return Vector(0.0f, lineHeight, 0.0f, 0.0f);
    int64_t width = 0;
    const FontGlyph* last = nullptr;
    for (uint32_t i = 0; (maxCharacters == 0 || i < maxCharacters) && text[i]; ++i) {
        const int32_t g = FindGlyph(font, text[i]);
        last = g >= 0 ? &glyphs[g] : nullptr;
        if (last) width += last->advance + spacing;
    }
    if (!full && last) width += int64_t(last->right - last->left) - last->advance - spacing;
    return Vector(float(width), lineHeight, 0.0f, 0.0f);
}

void DrawTextW(const ResourceFont& font, const char16_t* text, const Matrix& matrix, const Vector& top,
               const Vector& bottom, const Vector& third, int32_t spacing, uint32_t blendMode, bool mirrored,
               uint32_t depthState, uint32_t maxCharacters, float* penAdvance, float fadeSlope, float fadeOffset) {
    if (penAdvance) *penAdvance = 0.0f;
    uint32_t count = 0;
    const FontGlyph* glyphs = FontGlyphs(font, &count);
    if (!text || !glyphs || !text[0]) return;
    VornexRenderer& r = gVornexRenderer;
    r.SetBlendMode(blendMode);
    r.SetCullMode(mirrored != r.CameraMirrored() ? kCullClockwise : kCullCounterClockwise);
    r.SetDepthState(depthState, 0, 0, 0);
    if (gfx::Device* device = r.Device()) device->SetVertexDeclaration(gDeclaration);
    const ShaderPair* pair = gShaderManager ? &gShaderManager->Fixed(font.TexelBytes() == 2 ? kOutlinedFontShaderSlot
                                                                                            : kFontShaderSlot)
                                            : nullptr;
    r.SetVertexShader(pair && pair->vertexObject ? pair->vertexObject->DeviceShader() : nullptr);
    r.SetPixelShader(pair && pair->pixelObject ? pair->pixelObject->DeviceShader() : nullptr);
    if (pair && pair->vertexObject) {
        pair->vertexObject->SetCameraConstants();
        pair->vertexObject->SetModelMatrix(matrix, false);
        pair->vertexObject->SetModelColor(Vector(1.0f, 1.0f, 1.0f, 1.0f));
    }
    const Vector zero(0.0f, 0.0f, 0.0f, 0.0f);
    r.SetVertexShaderConstants(kTexelOffsetRegister, &zero.x, 1);
    r.SetPixelShaderConstants(kOutlineColourRegister, &third.x, 1);

    int64_t pen = 0;
    uint32_t quads = 0;
    int32_t page = -1;
    // The packed colours of the last fade: without a ramp, packed once per draw.
    float packedFade = -1.0f;
    int16_t packed[2][4];
    for (uint32_t i = 0; (maxCharacters == 0 || i < maxCharacters) && text[i]; ++i) {
        const int32_t index = FindGlyph(font, text[i]);
        if (index < 0) continue;
        const FontGlyph& g = glyphs[index];
        const float fade = std::clamp(float(i) * fadeSlope + fadeOffset, 0.0f, 1.0f);
        if (fade != packedFade) {
            PackColour(packed[0], bottom, fade);
            PackColour(packed[1], top, fade);
            packedFade = fade;
        }
        if (int32_t(g.page) != page) {
            FlushQuads(quads);
            page = g.page;
            const uint32_t height = g.page < font.PageCount() ? font.PageHeight(g.page) : 0;
            r.SetTexture(0, g.page < font.PageTextureCount() ? font.PageTexture(g.page) : nullptr, kPageSampler);
            const Vector scale(1.0f / float(kFontPageWidth), height ? 1.0f / float(height) : 0.0f, 1.0f, 1.0f);
            r.SetVertexShaderConstants(kTexelScaleRegister, &scale.x, 1);
        } else if (quads == kGlyphBatchQuads) {
            FlushQuads(quads);
        }
        const int64_t left = pen + g.xOffset;
        const int64_t right = left + (g.right - g.left);
        const int64_t topY = -g.yOffset;
        const int64_t bottomY = int64_t(g.bottom - g.top) - g.yOffset;
        GlyphVertex* v = gVertices + 4 * quads;
        const int64_t xy[4][2] = {{left, bottomY}, {right, bottomY}, {right, topY}, {left, topY}};
        const uint16_t uv[4][2] = {{g.left, g.bottom}, {g.right, g.bottom}, {g.right, g.top}, {g.left, g.top}};
        for (uint32_t k = 0; k < 4; ++k) {
            v[k].x = Clamp16(float(xy[k][0]));
            v[k].y = Clamp16(float(xy[k][1]));
            v[k].u = uv[k][0];
            v[k].v = uv[k][1];
            std::memcpy(v[k].colour, packed[k < 2 ? 0 : 1], sizeof v[k].colour);
        }
        ++quads;
        pen += g.advance + spacing;
    }
    FlushQuads(quads);
    if (penAdvance) *penAdvance = float(pen);
}

Vector MeasureText(const ResourceFont& font, const char* text, int32_t bytes, int32_t spacing, bool full) {
    char16_t wide[kMaxSingleByteText + 1];
    ToWide(text, bytes, wide);
    return MeasureTextW(font, wide, spacing, 0, full);
}

void DrawText(const ResourceFont& font, const char* text, int32_t bytes, const Matrix& matrix, const Vector& top,
              const Vector& bottom, const Vector& third, int32_t spacing, uint32_t blendMode, bool mirrored,
              uint32_t depthState, uint32_t maxCharacters) {
    char16_t wide[kMaxSingleByteText + 1];
    ToWide(text, bytes, wide);
    DrawTextW(font, wide, matrix, top, bottom, third, spacing, blendMode, mirrored, depthState, maxCharacters,
              nullptr);
}
