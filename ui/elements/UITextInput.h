#pragma once
// UITextInput: a one-line editor of single-byte (UTF-8) text with a caret, a selection and
// their elements; the console's input line.
//
// Main thread. Every change of the text shows it (UITextBase::SetText). The caret keys,
// Backspace and Delete step over a UTF-8 sequence as one character, and no edit leaves a
// sequence cut at the end of a full buffer. The caret and selection elements are children
// of the input (owned through the tree) and held as safe pointers.
#include "core/rtti/SafePointer.h"
#include "ui/elements/UIText.h"

class UITextInput : public UIText {
public:
    // Scripts see the input as a UIText.
    UITextInput(const char* fontName, uint32_t fontSize, bool pixelPerfect, uint32_t maxLength);
    const RTTIClass* GetRTTIClass() const override;

    bool IsUITextInput() const override { return true; }

    // ======== Main thread ========
    // Copies as much of the text as fits (cut on a character boundary); caret to the end,
    // no selection.
    void SetText(const char* text);
    // Inserts one byte at the caret (the selection is deleted first); in a full buffer
    // the last character falls off. A character above 127 goes in as its UTF-8 bytes
    // through InsertBytes.
    void InsertChar(char c);
    // Inserts the bytes of one character at the caret when they all fit before the
    // maximum; false (nothing changed but the selection) otherwise.
    bool InsertBytes(const char* bytes, uint32_t count);
    void Backspace();
    void DeleteAtCaret();
    // Moves by delta characters (clamped to the text); with extend the selection runs
    // from the anchor to the caret, without it the selection is cleared.
    void MoveCaret(int32_t delta, bool extend);
    void DeleteSelection();
    // Release the previous element and add this one (null: none); the present element
    // given again is kept, the input or one of its ancestors refused.
    void SetCaretElement(UIElement* element);
    void SetSelectionElement(UIElement* element);

    const char* GetText() const { return buffer; }
    uint32_t GetLength() const { return length; }
    uint32_t GetCaret() const { return caret; }
    uint32_t GetSelectionStart() const { return selectionStart; }
    uint32_t GetSelectionLength() const { return selectionLength; }
    UIElement* GetCaretElement() const { return caretElement.Get(); }
    UIElement* GetSelectionElement() const { return selectionElement.Get(); }

    void OnBeforeDelete() override;

protected:
    ~UITextInput() override;

private:
    void Changed();
    void PlaceCaret();
    void PlaceSelection();
    void RemoveRange(uint32_t from, uint32_t to);
    // The start of the character before position, and the end of the one at it.
    uint32_t PreviousBoundary(uint32_t position) const;
    uint32_t NextBoundary(uint32_t position) const;
    // (width, line height) of the bytes [from, to), times the text scale.
    Vector Measure(uint32_t from, uint32_t to) const;

    char* buffer = nullptr;
    uint32_t length = 0;
    uint32_t maxLength = 0;
    uint32_t caret = 0;
    uint32_t selectionStart = 0;
    uint32_t selectionLength = 0;
    int32_t selectionAnchor = -1;
    SafePointer<UIElement> caretElement;
    SafePointer<UIElement> selectionElement;
};
