#pragma once
// UITextBox: text wrapped into lines at the element's width.
//
// Main thread: the setters post the text box family's ops (55-62); HackGetLinesCount reads
// the line count the render side publishes after every layout.
//
// Render thread (UITextBox_Layout.cpp): appended text is added to the box's whole text and
// laid out into lines, by words (a word that does not fit starts a new line) or, for the
// languages that break anywhere, by characters. A size change lays the whole text out
// again. The draw stacks the lines (a range of them, when one was set) with the
// alignments, and can fade characters in one by one (the per-character blend-in action).
#include <atomic>
#include <string>
#include <vector>

#include "ui/elements/UITextBase.h"

enum : uint32_t {
    UIOP_TEXTBOX_CLEAR = 55,
    UIOP_TEXTBOX_RELAYOUT = 56,
    UIOP_TEXTBOX_SET = 57,      // u32 bytes (no terminator), UTF-8 bytes, 0
    UIOP_TEXTBOX_SETWIDE = 58,  // u32 characters, UTF-16, 0
    UIOP_TEXTBOX_LINESPACING = 59,
    UIOP_TEXTBOX_ALIGNTOBOTTOM = 60,
    UIOP_TEXTBOX_LINESTORENDER = 62,
};

// Render flag of a text box: the alignments measure from the box's far edge (the box
// height for vertical alignment, its width for horizontal) instead of its origin.
constexpr uint32_t UIRENDERFLAG_ALIGNINBOX = 0x1000000;

class UITextBox : public UITextBase {
public:
    struct Line {
        std::u16string text;
        float width = 0.0f;      // UI units
        uint32_t characters = 0;  // after trailing spaces and tabs were stripped
        // Kept while words are added (pixels): the advances so far, those up to the last
        // character that is not blank, that character's correction to its glyph width and
        // the characters up to it. Lines filled by characters are measured afresh.
        bool tracked = true;
        float advances = 0.0f;
        float contentAdvances = 0.0f;
        float correction = 0.0f;
        uint32_t contentCharacters = 0;
    };

    UITextBox(const char* text = nullptr, const char* fontName = nullptr, uint32_t fontSize = 0,
              bool pixelPerfect = false);

    const RTTIClass* GetRTTIClass() const override;
    bool IsUITextBox() const override { return true; }

    // ======== Main thread ========
    void Clear();
    void SetLineSpacingScale(float scale);
    // Moves the element below the box's lines: y = lines x line step x factor + the box's
    // y + offset.
    void AlignToBottom(UIElement* element, float factor, float offset);
    void SetLinesToRender(uint32_t first, uint32_t count);
    // Reveals the text character by character over the time; step is the per-character
    // alpha step (negative); the cursor element, when given, follows the reveal.
    void BlendInTextPerChar(float time, uint32_t actionFlags, uint32_t channel, float step, UIElement* cursor);
    // The number of laid-out lines as of the last layout the render thread finished.
    uint32_t HackGetLinesCount() const { return publishedLines.load(std::memory_order_acquire); }

    // ======== Render thread ========
    static void HandleTextBoxOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void DoSetSize(const Vector& size) override;
    void RenderAppend(const char16_t* text, uint32_t count) override;
    void RenderSetText(const char16_t* text, uint32_t count) override;
    bool RenderTextEmpty() const override { return lines.empty(); }
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    // Position of character `index` of the laid-out text relative to the element; (0, 0,
    // 0, 1) beyond the last line.
    Vector GetCharacterPosition(uint32_t index) const;
    uint32_t TotalCharacters() const;
    void SetCharacterFade(float slope, float offset) { fadeSlope = slope, fadeOffset = offset; }
    float CharacterFadeSlope() const { return fadeSlope; }
    float CharacterFadeOffset() const { return fadeOffset; }

    const std::u16string& WholeText() const { return text; }
    const std::vector<Line>& Lines() const { return lines; }
    float LineStep() const;

protected:
    ~UITextBox() override = default;
    void PostText(const char* text) override;
    void PostTextWide(const char16_t* text) override;
    void OnFontPosted() override;

private:
    void ClearRender();
    void Relayout();
    void LayOutWords(const char16_t* from, uint32_t count);
    void LayOutCharacters(const char16_t* from, uint32_t count);
    void FinishLines();
    // Width in pixels of one unit of character-mode layout: a character, or a whole
    // '|tag|' run (its children); units gives the characters it spans.
    float UnitWidth(const char16_t* at, const char16_t* end, uint32_t& units) const;
    // The top of the first drawn line and the x of a line under the alignments.
    float BlockTop(uint32_t drawnLines) const;
    float LineX(const Line& line) const;
    uint32_t DrawnBegin() const;
    uint32_t DrawnEnd() const;

    // ---- Render half ----
    std::u16string text;
    std::vector<Line> lines;
    uint32_t firstLine = 0;
    uint32_t lineCount = 0;
    bool rangeSet = false;
    float lineSpacing = 1.0f;
    float fadeSlope = 0.0f;
    float fadeOffset = 1.0f;

    // Written by the render thread after each layout, read by the main thread.
    std::atomic<uint32_t> publishedLines{0};
};

inline constexpr UIOpFamily kUITextBoxFamily = MakeUIOpFamily<&UITextBox::HandleTextBoxOp>();
