// UIUniTextInput: the UTF-16 buffer, its editing keys, the caret and the selection.
#include "ui/elements/UIUniTextInput.h"

#include <algorithm>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/rtti/RTTIClass.h"
#include "engine/script/LuaUnicodeRegistry.h"
#include "ui/elements/UITextFont.h"

UIUniTextInput::UIUniTextInput(const char* text, const char* fontName, uint32_t fontSize, bool pixelPerfect,
                               uint32_t maxLength)
    : UIText(text, fontName, fontSize, pixelPerfect),
      maxLength(std::clamp(maxLength, kMinInputLength, kMaxInputLength)) {
    SetLuaClass("UIUniTextInput");
    // A maximum outside any field's need (a damaged recipe, a script's stray number) is
    // clamped, never allocated as asked.
    if (this->maxLength != maxLength)
        gLog.Warning(LogCategory::UI, "UIUniTextInput - maximum length %u clamped to %u", maxLength, this->maxLength);
    buffer = static_cast<char16_t*>(EngineAlloc((uint64_t(this->maxLength) + 1) * sizeof(char16_t)));
    if (!buffer) this->maxLength = 0;
    if (buffer) {
        buffer[0] = 0;
        // Scripts hold the buffer as a text pointer; it reaches natives while it is live.
        RegisterLuaUnicodeBuffer(buffer, this->maxLength + 1);
    }
}

UIUniTextInput::~UIUniTextInput() { FreeBuffer(); }

void UIUniTextInput::FreeBuffer() {
    if (!buffer) return;
    UnregisterLuaUnicodeBuffer(buffer);
    EngineFree(buffer);
    buffer = nullptr;
}

void UIUniTextInput::OnBeforeDelete() {
    FreeBuffer();
    length = maxLength = caret = 0;
    caretElement = nullptr;
    selectionElement = nullptr;
    UIText::OnBeforeDelete();
}

void UIUniTextInput::Show16() {
    if (buffer) SetTextUnicharPtr(buffer);
}

Vector UIUniTextInput::Measure(const char16_t* from, uint32_t count) const {
    const float width = count ? UITextMeasure(GetFont(), from, count, 0, true) : 0.0f;
    const Vector& s = GetTextScale();
    return Vector(width * s.x, UITextLineHeight(GetFont()) * s.y, 0, 0);
}

void UIUniTextInput::SetCaret(uint32_t position) {
    caret = position;
    UIElement* e = caretElement.Get();
    if (!GetFont() || !e || !buffer) return;
    e->SetPosition(Measure(buffer, std::min(caret, length)));
}

void UIUniTextInput::SetSelection(uint32_t start, uint32_t count) {
    start = std::min(start, length);
    count = std::min(count, length - start);
    selectionStart = start;
    selectionLength = count;
    UIElement* e = selectionElement.Get();
    if (!GetFont() || !e || !buffer) return;
    const Vector before = Measure(buffer, start);
    e->SetPosition(Vector(before.x, 0, 0, 0));
    e->SetSize(Measure(buffer + start, count));
}

void UIUniTextInput::DeleteSelection(bool remove) {
    const uint32_t start = std::min(selectionStart, length);
    const uint32_t end = start + std::min(selectionLength, length - start);
    if (remove && end > start && buffer) {
        std::copy(buffer + end, buffer + length + 1, buffer + start);
        length -= end - start;
        if (caret >= end)
            caret -= end - start;
        else if (caret > start)
            caret = start;
        Show16();
        SetCaret(caret);
    }
    selectionStart = selectionLength = 0;
    selectionAnchor = -1;
}

void UIUniTextInput::InsertChar(char16_t c) {
    DeleteSelection(true);
    if (!buffer || caret >= maxLength) return;
    const uint32_t newLength = std::min(length + 1, maxLength);
    // Shift right; in a full buffer the last character falls off.
    for (uint32_t i = newLength - 1; i > caret; --i) buffer[i] = buffer[i - 1];
    buffer[caret] = c;
    length = newLength;
    buffer[length] = 0;
    Show16();
    SetCaret(caret + 1);
}

void UIUniTextInput::ProcessKeyCharEvent(char16_t c) { InsertChar(c); }

void UIUniTextInput::PasteString(const char16_t* text) {
    if (!text || !*text) return;
    DeleteSelection(true);
    if (!buffer || caret > maxLength) return;
    uint32_t n = 0;
    while (text[n]) ++n;
    const uint32_t k = std::min(n, maxLength - caret);
    if (k == 0) return;
    const uint32_t newLength = std::min(length + k, maxLength);
    // Characters after the caret move k right; those beyond the maximum fall off.
    for (uint32_t i = newLength; i-- > caret + k;) buffer[i] = buffer[i - k];
    std::copy(text, text + k, buffer + caret);
    length = newLength;
    buffer[length] = 0;
    Show16();
    SetCaret(caret + k);
}

void UIUniTextInput::MoveCaretTo(int64_t position) {
    SetCaret(uint32_t(std::clamp<int64_t>(position, 0, length)));
    selectionStart = selectionLength = 0;
    selectionAnchor = -1;
}

void UIUniTextInput::ProcessKeyPressEvent(uint32_t key) {
    switch (key) {
    case kKeyBackspace:
        if (selectionLength) {
            DeleteSelection(true);
        } else if (caret > 0 && buffer) {
            std::copy(buffer + caret, buffer + length + 1, buffer + caret - 1);
            --length;
            Show16();
            SetCaret(caret - 1);
        }
        break;
    case kKeyDelete:
        if (selectionLength) {
            DeleteSelection(true);
        } else if (caret < length && buffer) {
            std::copy(buffer + caret + 1, buffer + length + 1, buffer + caret);
            --length;
            Show16();
            SetCaret(caret);
        }
        break;
    // Signed arithmetic before the clamp.
    case kKeyLeft: MoveCaretTo(int64_t(caret) - 1); break;
    case kKeyRight: MoveCaretTo(int64_t(caret) + 1); break;
    case kKeyHome: MoveCaretTo(int64_t(caret) - 65535); break;
    case kKeyEnd: MoveCaretTo(int64_t(caret) + 65535); break;
    default: break;
    }
}

void UIUniTextInput::ResetInput() {
    caret = selectionStart = selectionLength = 0;
    length = 0;
    selectionAnchor = -1;
    if (buffer) buffer[0] = 0;
    Show16();
    SetCaret(0);
}

void UIUniTextInput::SetCursorElement(UIElement* element) {
    // The field itself or one of its ancestors cannot become its child; the present caret
    // element given again stays (releasing it would free what is kept).
    if (element && IsDescendantOf(element)) return;
    UIElement* old = caretElement.Get();
    if (old && old != element) old->Release();
    caretElement = element;
    if (element) AddChild(element);
    SetCaret(length);
}

void UIUniTextInput::SetSelectionElement(UIElement* element) {
    if (element && IsDescendantOf(element)) return;
    UIElement* old = selectionElement.Get();
    if (old && old != element) old->Release();
    selectionElement = element;
    if (element) AddChild(element);
    SetSelection(selectionStart, selectionLength);
}

void UIUniTextInput::ShowCursor() {
    if (UIElement* e = caretElement.Get()) e->Show();
}

void UIUniTextInput::HideCursor() {
    if (UIElement* e = caretElement.Get()) e->Hide();
}

bool UIUniTextInput::OnPress() {
    gLog.Print(LogSeverity::Information, LogCategory::UI, "Mouse down %u", GetId());
    return true;
}

bool UIUniTextInput::OnRelease() {
    gLog.Print(LogSeverity::Information, LogCategory::UI, "Mouse up %u", GetId());
    return true;
}

bool UIUniTextInput::OnClick() {
    gLog.Print(LogSeverity::Information, LogCategory::UI, "Mouse click %u", GetId());
    return true;
}

const RTTIClass* UIUniTextInput::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIUniTextInput"); }
