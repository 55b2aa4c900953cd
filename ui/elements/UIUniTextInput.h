#pragma once
// UIUniTextInput: a single-line field of UTF-16 text with a fixed maximum length, a caret
// and a selection. The buffer is shown as the element's text after every change; a caret
// element (any element a script gives it) sits at the measured width of the text before
// the caret, and an optional selection element is stretched over the selected text.
// Scripts feed it keys and characters; a screen gives it the focus when it is clicked and
// shows or hides its caret.
//
// Main thread. The caret and selection elements are children of the field (owned through
// the tree) and held as safe pointers.
#include "core/rtti/SafePointer.h"
#include "engine/script/LuaUnicodeString.h"
#include "ui/elements/UIText.h"

class UIUniTextInput : public UIText {
public:
    // Virtual key codes of the editing keys.
    static constexpr uint32_t kKeyBackspace = 8, kKeyDelete = 46, kKeyLeft = 37, kKeyRight = 39, kKeyHome = 36,
                              kKeyEnd = 35;

    UIUniTextInput(const char* text = nullptr, const char* fontName = nullptr, uint32_t fontSize = 0,
                   bool pixelPerfect = false, uint32_t maxLength = 32);
    const RTTIClass* GetRTTIClass() const override;

    bool IsUIUniTextInput() const override { return true; }

    // ======== Main thread ========
    void ProcessKeyPressEvent(uint32_t key);
    void ProcessKeyCharEvent(char16_t c);
    // Inserts as much of the text as fits before the maximum (null or empty: nothing).
    void PasteString(const char16_t* text);
    void ResetInput();
    const char16_t* GetInputStringUnicharPtr() const { return buffer; }
    // A copy of the text for a script to own.
    LuaUnicodeString GetInputStringLuaUnichar() const { return LuaUnicodeString(buffer ? buffer : u""); }
    uint32_t GetCurrentLength() const { return length; }
    uint32_t GetMaxLength() const { return maxLength; }
    // The shortest and the longest field: a maximum outside is clamped, with a warning.
    // The buffer (maximum + 1 characters) is in the host's registry of live UTF-16
    // buffers while the element lives, so scripts may pass it back to natives.
    static constexpr uint32_t kMinInputLength = 1;
    static constexpr uint32_t kMaxInputLength = 65535;
    // Releases the old caret element, adds the new one (null: none) and puts the caret at
    // the end. The present element given again is kept; the field or one of its ancestors
    // is refused (nothing changes).
    void SetCursorElement(UIElement* element);
    void SetSelectionElement(UIElement* element);
    void ShowCursor();
    void HideCursor();
    void SetCaret(uint32_t position);
    void SetSelection(uint32_t start, uint32_t count);
    // Removes the selected characters when remove is set; the selection becomes empty.
    void DeleteSelection(bool remove);

    uint32_t GetCaret() const { return caret; }
    uint32_t GetSelectionStart() const { return selectionStart; }
    uint32_t GetSelectionLength() const { return selectionLength; }
    UIElement* GetCursorElement() const { return caretElement.Get(); }

    // A field always takes the press and the click.
    bool OnPress() override;
    bool OnRelease() override;
    bool OnClick() override;

    void OnBeforeDelete() override;

protected:
    ~UIUniTextInput() override;

private:
    void FreeBuffer();
    void Show16();
    void InsertChar(char16_t c);
    void MoveCaretTo(int64_t position);
    // (width, line height) of count characters from the start, times the text scale.
    Vector Measure(const char16_t* from, uint32_t count) const;

    char16_t* buffer = nullptr;
    uint32_t length = 0;
    uint32_t maxLength = 0;
    uint32_t caret = 0;
    uint32_t selectionStart = 0;
    uint32_t selectionLength = 0;
    int32_t selectionAnchor = -1;
    SafePointer<UIElement> caretElement;
    SafePointer<UIElement> selectionElement;
};
