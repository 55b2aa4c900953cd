#pragma once
// UIText: one line of text, aligned about the element's position.
//
// Main thread: the setters post the text family's ops (51-54). Render thread: the text
// (UTF-16, owned) is measured after every text, font or alignment change into a text
// size and a text offset (the alignment), both in UI units; the draw puts glyph runs at
// the offset. A run between two '|' characters names a tag: the element's children with
// that tag are drawn inline there (separated by "/"), unless the element has
// UIFLAG_NOSPECIALTAGSUBSTITUTION.
#include "ui/elements/UITextBase.h"

enum : uint32_t {
    UIOP_TEXT_SET = 51,      // u32 bytes (no terminator), UTF-8 bytes, 0
    UIOP_TEXT_SETWIDE = 52,  // u32 characters, UTF-16, 0
    UIOP_TEXT_COPY = 53,     // source element, u8 copy colour, u8 take over
    UIOP_TEXT_RESIZEPARENT = 54,
};

// The most bytes a UIText's single-byte setter sends (cut on a character boundary).
constexpr uint32_t kUITextMaxBytes = 3072;

struct UITextRun;

class UIText : public UITextBase {
public:
    UIText(const char* text = nullptr, const char* fontName = nullptr, uint32_t fontSize = 0,
           bool pixelPerfect = false);

    const RTTIClass* GetRTTIClass() const override;
    bool IsUIText() const override { return true; }

    // ======== Main thread ========
    // The source's text becomes this element's: copied, or moved (take over).
    void CopyText(UIText* source, bool copyColor, bool takeOver);
    // The parent's size becomes the text size times this element's scale, its anchor
    // minus the text offset.
    void ResizeParentToMySize();
    // Sizes of a text in this element's font, times the text scale (zero without font).
    Vector GetTextSize(const char* text) const;
    float GetTextWidth(const char* text) const { return GetTextSize(text).x; }
    float GetTextHeight(const char* text) const { return GetTextSize(text).y; }
    Vector GetLocalizedTextSize(const char* stringId) const;
    Vector GetLocallizedTextSize(const char* stringId) const { return GetLocalizedTextSize(stringId); }
    float GetLocalizedTextWidth(const char* stringId) const { return GetLocalizedTextSize(stringId).x; }
    float GetLocalizedTextHeight(const char* stringId) const { return GetLocalizedTextSize(stringId).y; }

    // ======== Render thread ========
    static void HandleTextOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void RenderRelayout() override;
    void RenderAppend(const char16_t* text, uint32_t count) override;
    void RenderSetText(const char16_t* text, uint32_t count) override;
    bool RenderTextEmpty() const override { return text.count <= 1; }
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    // The corners of the text rectangle (offset to offset + size) instead of the element's.
    const char16_t* Text() const { return text.count ? text.data : nullptr; }
    const Vector& TextOffset() const { return textOffset; }
    const Vector& TextSize() const { return textSize; }

protected:
    ~UIText() override = default;
    void PostText(const char* text) override;
    void PostTextWide(const char16_t* text) override;

private:
    // Text width in pixels with tag runs ('|name|') counted as their children.
    float MeasureWithTags(const char16_t* from, bool full) const;
    // Draws the runs from the pen origin of the matrix; tag children only when drawTags.
    void DrawWithTags(const Matrix& matrix, const UITextRun& style, bool drawTags, const Vector& colour,
                      bool mirrored, const UIFadeRecord* fade);

    // ---- Render half ----
    Dynarray<char16_t> text;  // zero-terminated when not empty
    Vector textOffset;
    Vector textSize;
};

inline constexpr UIOpFamily kUITextFamily = MakeUIOpFamily<&UIText::HandleTextOp>();
