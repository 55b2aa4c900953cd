#pragma once
// UITextBase: the base of the text elements (UIText, one line; UITextBox, wrapped lines).
//
// Main thread: the font choice (name, size, outline, pixel-perfect flag) becomes a font
// file name for the current language and physical resolution (UpdateFont), whose font
// resource the element holds with one use and hands to the render side with op 42. The
// element also holds the replacement container its localised texts are expanded with,
// and the id of its localised text, so a language change can set it again. Every text
// element is linked into one global list (main thread), which a resolution or language
// change walks.
//
// Render thread: the text base family's ops (41-50) fill UITextRenderHalf; the kinds lay
// their text out and draw it with the font (ui/text/FontDraw.h). The render side holds its
// own use of the font, so an eviction never frees a font an element may still draw.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"
#include "ui/elements/UIElement.h"

class ResourceFont;

// Room for a font file name ("%s#%d~%03d%s%s": a 259-character name and its suffixes).
constexpr uint32_t kMaxTextFontName = 320;
// The longest font name kept (lower-cased).
constexpr uint32_t kMaxTextFontBaseName = 259;
class StringReplacementContainer;
class UITextBase;

enum : uint32_t {
    UIOP_TEXT_SPACING = 30,  // i32 character spacing (text recipes, posted before their font op)
    UIOP_TEXT_RELEASEFONT = 41,
    UIOP_TEXT_FONT = 42,
    UIOP_TEXT_SHADOWOFFSET = 43,
    UIOP_TEXT_SHADOWCOLOR = 44,
    UIOP_TEXT_OUTLINECOLOR = 45,
    UIOP_TEXT_BOTTOMCOLOR = 46,
    UIOP_TEXT_ALIGNMENT = 47,
    UIOP_TEXT_CONVERSION = 48,
    UIOP_TEXT_APPEND = 49,      // u32 bytes (no terminator), UTF-8 bytes, 0
    UIOP_TEXT_APPENDWIDE = 50,  // u32 characters (no terminator), UTF-16, 0
};

// Render fields of a text element.
struct UITextRenderHalf {
    ResourceFont* font = nullptr;  // one use held by the render side
    Vector fontScale{1, 1, 1, 1};
    uint8_t lineBreaking = 0;  // 1: break anywhere (Japanese, Chinese, Korean replacements)
    uint32_t horizontalAlignment = 0;  // TEXTALIGNMENT_*
    uint32_t verticalAlignment = 0;    // 0 top, 1 bottom, 2 centre
    uint8_t conversion = 0;            // UITEXTCONVERSION_*
    Vector shadowOffset;
    Vector shadowColor;
    bool shadowEnabled = false;
    Vector bottomColor;
    bool bottomColorEnabled = false;
    Vector outlineColor;
    // Added after every glyph advance; text recipes write it while building the element
    // (before it is drawn), not through an op.
    int32_t spacing = 0;
};

// The outcome of the font choice (UITextBase::ChooseFont): the font file name, the text
// scale (s, s, 1, 1) and the line-breaking byte of op 42.
struct UITextFontChoice {
    char name[kMaxTextFontName] = {};
    Vector textScale{1, 1, 1, 1};
    uint8_t lineBreaking = 0;
};

class UITextBase : public UIElement {
public:
    // Links the element at the tail of the text-element list, takes the default
    // replacement container and sets the font when a name is given.
    UITextBase(const char* fontName, uint32_t fontSize, bool pixelPerfect);

    const RTTIClass* GetRTTIClass() const override;
    bool IsUITextBase() const override { return true; }

    // ======== Main thread ========
    // Name (at most 259 characters, lower-cased), size, pixel-perfect flag and outline;
    // then the font update.
    void SetFont(const char* name, uint32_t size, bool pixelPerfect, uint32_t outline);
    // The font update: picks and loads the font file for the language and resolution and
    // posts op 42 (a text box then re-lays its lines out).
    void UpdateFont();
    // Pure part of the font update, for the element's settings (tests call it directly).
    static UITextFontChoice ChooseFont(const char* fontName, uint32_t fontSize, uint32_t outline, bool pixelPerfect,
                                       bool ignoreReplacement, uint32_t language);

    // Direct texts clear the localised id. Single-byte text is UTF-8.
    void SetText(const char* text);
    void SetText(const char16_t* text) { SetTextUnicharPtr(text); }
    void SetTextUnicharPtr(const char16_t* text);
    // Looks the id up in the current language, expands the container's tags and sets
    // the text (the id is kept for a language change).
    void SetLocalizedText(const char* stringId);
    // Appends (op 49 / 50); null does nothing.
    void AppendText(const char* text);
    void AppendText(const char16_t* text);
    void AppendLocalizedText(const char* stringId);
    // Cross-fades from the shown text to the new one over the time (two fade actions).
    void SetTextSmooth(float time, const char* text, uint32_t actionFlags, uint32_t channel);
    void SetTextSmooth(float time, const char16_t* text, uint32_t actionFlags, uint32_t channel);
    void SetLocalizedTextSmooth(float time, const char* stringId, uint32_t actionFlags, uint32_t channel);

    void SetShadowPosition(const Vector& offset);
    void SetShadowColor(const Vector& color);  // r, g, b raised to 2.2
    void SetLinearShadowColor(const Vector& color);
    void SetAlignment(uint32_t horizontal, uint32_t vertical);
    void SetTextConversion(uint8_t conversion);
    // Recipe-only: the outline colour (op 45) and the bottom colour (op 46).
    void SetOutlineColor(const Vector& color);
    void SetBottomColor(const Vector& color);
    // Recipe-only: the character spacing (op 30), and whether the project's font
    // replacement is skipped for this text (read by the next font update).
    void SetCharacterSpacing(int32_t spacing);
    void SetIgnoreFontReplacement(bool ignore) { ignoreFontReplacement = ignore; }
    // Shares the container (null: none); its tags expand in later localised texts.
    void SetReplacementContainer(StringReplacementContainer* container);
    StringReplacementContainer* GetReplacementContainer() const { return replacement; }
    // The font's line height times the text scale's y; 0 without a font.
    float GetFontHeight() const;

    const NameString& GetFontName() const { return fontName; }
    uint32_t GetFontSize() const { return fontSize; }
    const Vector& GetTextScale() const { return textScale; }
    // The font-measure wrap width, passed to the main side's measuring as its spacing.
    uint32_t GetWrapWidth() const { return wrapWidth; }
    ResourceFont* GetFont() const { return font; }
    const NameString& GetLocalizedTextId() const { return localizedTextId; }

    // Resolution change (game start, window resize): with releaseFonts every text element
    // drops its font (op 41), the render queue is flushed, unused fonts are evicted and
    // the loader flushed; then the physical resolution is stored; with reloadFonts every
    // text element picks its font again.
    static void SetScreenResolution(uint32_t width, uint32_t height, bool releaseFonts, bool reloadFonts);
    // Language change: the release part, then every element picks its font again and
    // sets its localised text again.
    static void ReloadAllFonts();
    // The list (main thread; tests and the resolution change walk it).
    static UITextBase* FirstTextElement();
    UITextBase* NextTextElement() const { return nextText; }

    void OnBeforeDelete() override;
    void OnTemporaryLoadingScreenMark(uint32_t mark) override;

    // ======== Render thread ========
    static void HandleTextBaseOp(uint32_t op, UIElement* element, UIOpReader& payload);
    const UITextRenderHalf& TextRender() const { return tr; }
    UITextRenderHalf& TextRenderMutable() { return tr; }

    // Kind operations: re-layout after a font or alignment change (a text box re-lays out
    // only through its own op), append UTF-16 text (count characters, no terminator
    // needed), replace the text, and whether there is no text to show.
    virtual void RenderRelayout() {}
    virtual void RenderAppend(const char16_t* text, uint32_t count) {}
    virtual void RenderSetText(const char16_t* text, uint32_t count) {}
    virtual bool RenderTextEmpty() const { return true; }

protected:
    ~UITextBase() override;

    // The kinds' setters (op 51 or 57 for UTF-8, 52 or 58 for UTF-16).
    virtual void PostText(const char* text) = 0;
    virtual void PostTextWide(const char16_t* text) = 0;
    // After op 42 (a text box posts op 56).
    virtual void OnFontPosted() {}

    // Render thread: upper-cases in place when the conversion asks for it.
    void ApplyConversion(char16_t* text) const;
    // Render thread: the width in pixels of the '|'-separated tag run's children.
    float TagChildrenWidth(const char16_t* name, uint32_t length, bool& any) const;

    UITextRenderHalf tr;

private:
    void ReleaseMainFont();
    // The localised text of the id, expanded (empty when it is missing).
    void LookUpLocalized(const char* stringId, Dynarray<char16_t>& out) const;
    void SetLocalizedWide(const char* stringId, bool smooth, float time, uint32_t actionFlags, uint32_t channel);
    void CrossFade(float time, const char16_t* text, uint32_t actionFlags, uint32_t channel);
    void Unlink();

    // ---- Main half, in the design's order ----
    NameString fontName;
    uint32_t fontSize = 0;
    uint32_t outlineWidth = 0;
    uint32_t wrapWidth = 0;  // passed to text measuring as its spacing
    Vector textScale{1, 1, 1, 1};
    bool pixelPerfect = false;
    bool ignoreFontReplacement = false;
    ResourceFont* font = nullptr;
    UITextBase* previousText = nullptr;
    UITextBase* nextText = nullptr;
    StringReplacementContainer* replacement = nullptr;  // a handle of our own (shares the body)
    NameString localizedTextId;
    bool linked = false;
};

inline constexpr UIOpFamily kUITextBaseFamily = MakeUIOpFamily<&UITextBase::HandleTextBaseOp>();
