// UITextInput: the single-byte editor of the console's input line.
#include "ui/elements/UITextInput.h"

#include <algorithm>
#include <cstring>

#include "core/Dynarray.h"
#include "core/Memory.h"
#include "core/rtti/RTTIClass.h"
#include "ui/elements/UITextFont.h"

namespace {
bool IsContinuation(char c) { return (uint8_t(c) & 0xC0) == 0x80; }
}  // namespace

UITextInput::UITextInput(const char* fontName, uint32_t fontSize, bool pixelPerfect, uint32_t maxLength)
    : UIText(nullptr, fontName, fontSize, pixelPerfect), maxLength(maxLength) {
    buffer = static_cast<char*>(EngineAlloc(uint64_t(maxLength) + 1));
    if (!buffer) this->maxLength = 0;
    if (buffer) buffer[0] = 0;
}

UITextInput::~UITextInput() { EngineFree(buffer); }

void UITextInput::OnBeforeDelete() {
    EngineFree(buffer);
    buffer = nullptr;
    length = maxLength = caret = 0;
    caretElement = nullptr;
    selectionElement = nullptr;
    UIText::OnBeforeDelete();
}

uint32_t UITextInput::PreviousBoundary(uint32_t position) const {
    if (position == 0) return 0;
    uint32_t p = position - 1;
    while (p > 0 && IsContinuation(buffer[p])) --p;
    return p;
}

uint32_t UITextInput::NextBoundary(uint32_t position) const {
    if (position >= length) return length;
    uint32_t p = position + 1;
    while (p < length && IsContinuation(buffer[p])) ++p;
    return p;
}

Vector UITextInput::Measure(uint32_t from, uint32_t to) const {
    float width = 0.0f;
    if (to > from) {
        Dynarray<char16_t> wide;
        UITextFromUTF8(buffer + from, to - from, wide);
        width = UITextMeasure(GetFont(), wide.data, kUITextAll, 0, true);
    }
    const Vector& s = GetTextScale();
    return Vector(width * s.x, UITextLineHeight(GetFont()) * s.y, 0, 0);
}

void UITextInput::PlaceCaret() {
    if (UIElement* e = caretElement.Get()) e->SetPosition(Measure(0, caret));
}

void UITextInput::PlaceSelection() {
    UIElement* e = selectionElement.Get();
    if (!e) return;
    const uint32_t start = std::min(selectionStart, length);
    const uint32_t end = start + std::min(selectionLength, length - start);
    e->SetPosition(Vector(Measure(0, start).x, 0, 0, 0));
    e->SetSize(Measure(start, end));
}

void UITextInput::Changed() {
    UITextBase::SetText(buffer);
    PlaceCaret();
    PlaceSelection();
}

void UITextInput::SetText(const char* text) {
    if (!buffer) return;
    const uint32_t n = text ? UITextUTF8Cut(text, uint32_t(std::strlen(text)), maxLength) : 0;
    if (n) std::memcpy(buffer, text, n);
    buffer[n] = 0;
    length = caret = n;
    // A selection of the old text would cut into the new one at the next key.
    selectionStart = selectionLength = 0;
    selectionAnchor = -1;
    Changed();
}

void UITextInput::RemoveRange(uint32_t from, uint32_t to) {
    std::memmove(buffer + from, buffer + to, length - to + 1);
    length -= to - from;
}

void UITextInput::InsertChar(char c) {
    if (uint8_t(c) > 127) {
        InsertBytes(&c, 1);
        return;
    }
    if (selectionLength) DeleteSelection();
    if (!buffer || caret >= maxLength) return;
    const uint32_t newLength = std::min(length + 1, maxLength);
    std::memmove(buffer + caret + 1, buffer + caret, newLength - caret - 1);
    buffer[caret] = c;
    length = newLength;
    // A character cut by the shift falls off whole.
    uint32_t end = length;
    if (end > 0) {
        const uint32_t lead = PreviousBoundary(end);
        const uint8_t b = uint8_t(buffer[lead]);
        const uint32_t need = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (end - lead < need) end = lead;
    }
    length = end;
    buffer[length] = 0;
    ++caret;
    Changed();
}

bool UITextInput::InsertBytes(const char* bytes, uint32_t count) {
    if (selectionLength) DeleteSelection();
    if (!buffer || count == 0 || length + count > maxLength) return false;
    std::memmove(buffer + caret + count, buffer + caret, length - caret + 1);
    std::memcpy(buffer + caret, bytes, count);
    length += count;
    caret += count;
    Changed();
    return true;
}

void UITextInput::Backspace() {
    if (selectionLength) {
        DeleteSelection();
    } else if (caret > 0 && buffer) {
        const uint32_t from = PreviousBoundary(caret);
        RemoveRange(from, caret);
        caret = from;
        Changed();
    }
}

void UITextInput::DeleteAtCaret() {
    if (selectionLength) {
        DeleteSelection();
    } else if (caret < length && buffer) {
        RemoveRange(caret, NextBoundary(caret));
        Changed();
    }
}

void UITextInput::MoveCaret(int32_t delta, bool extend) {
    if (!buffer) return;
    if (extend && selectionAnchor < 0) selectionAnchor = int32_t(caret);
    uint32_t p = caret;
    if (delta == 1 || delta == -1) {
        p = delta > 0 ? NextBoundary(caret) : PreviousBoundary(caret);
    } else {
        p = uint32_t(std::clamp<int64_t>(int64_t(caret) + delta, 0, length));
    }
    caret = p;
    if (extend) {
        const uint32_t anchor = uint32_t(selectionAnchor);
        selectionStart = std::min(caret, anchor);
        selectionLength = caret > anchor ? caret - anchor : anchor - caret;
    } else {
        selectionStart = selectionLength = 0;
        selectionAnchor = -1;
    }
    PlaceCaret();
    PlaceSelection();
}

void UITextInput::DeleteSelection() {
    if (buffer) {
        const uint32_t start = std::min(selectionStart, length);
        const uint32_t end = start + std::min(selectionLength, length - start);
        if (end > start) {
            RemoveRange(start, end);
            if (caret >= end)
                caret -= end - start;
            else if (caret > start)
                caret = start;
        }
    }
    selectionStart = selectionLength = 0;
    selectionAnchor = -1;
    Changed();
}

void UITextInput::SetCaretElement(UIElement* element) {
    // The input itself or one of its ancestors cannot become its child; the present
    // element given again stays (releasing it would free what is kept).
    if (element && IsDescendantOf(element)) return;
    UIElement* old = caretElement.Get();
    if (old && old != element) old->Release();
    caretElement = element;
    if (element) AddChild(element);
    PlaceCaret();
}

void UITextInput::SetSelectionElement(UIElement* element) {
    if (element && IsDescendantOf(element)) return;
    UIElement* old = selectionElement.Get();
    if (old && old != element) old->Release();
    selectionElement = element;
    if (element) AddChild(element);
    PlaceSelection();
}

const RTTIClass* UITextInput::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UITextInput"); }
