// UITextBox: the text box family's setters (main thread), its ops and draw (render
// thread). The layout is UITextBox_Layout.cpp.
#include "ui/elements/UITextBox.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/ThreadCheck.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/TextConversion.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UITextActions.h"
#include "ui/elements/UITextFont.h"

#define ASSERT_MAIN_THREAD() ASSERT_ON_THREAD(GetMainThreadId(), "main thread")

UITextBox::UITextBox(const char* initial, const char* fontName, uint32_t fontSize, bool pixelPerfect)
    : UITextBase(fontName, fontSize, pixelPerfect) {
    SetLuaClass("UITextBox");
    if (initial) SetText(initial);
}

const RTTIClass* UITextBox::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UITextBox"); }

// ---- Main thread ----

void UITextBox::PostText(const char* value) {
    // The whole text: a long one travels as a heap block.
    const uint32_t bytes = value ? uint32_t(std::strlen(value)) : 0;
    const char zero = 0;
    const UIOpPart parts[] = {{&bytes, sizeof bytes}, {value, bytes}, {&zero, 1}};
    PostUIOpParts(kUITextBoxFamily, UIOP_TEXTBOX_SET, this, parts, 3);
}

void UITextBox::PostTextWide(const char16_t* value) {
    const uint32_t count = UTF16Length(value);
    const char16_t zero = 0;
    const UIOpPart parts[] = {{&count, sizeof count}, {value, count * 2}, {&zero, 2}};
    PostUIOpParts(kUITextBoxFamily, UIOP_TEXTBOX_SETWIDE, this, parts, 3);
}

void UITextBox::OnFontPosted() { PostUIOpValues(kUITextBoxFamily, UIOP_TEXTBOX_RELAYOUT, this); }

void UITextBox::Clear() {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBoxFamily, UIOP_TEXTBOX_CLEAR, this);
}

void UITextBox::SetLineSpacingScale(float scale) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBoxFamily, UIOP_TEXTBOX_LINESPACING, this, scale);
}

void UITextBox::AlignToBottom(UIElement* element, float factor, float offset) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBoxFamily, UIOP_TEXTBOX_ALIGNTOBOTTOM, this, element, factor, offset);
}

void UITextBox::SetLinesToRender(uint32_t first, uint32_t count) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBoxFamily, UIOP_TEXTBOX_LINESTORENDER, this, first, count);
}

void UITextBox::BlendInTextPerChar(float time, uint32_t actionFlags, uint32_t channel, float step, UIElement* cursor) {
    ASSERT_MAIN_THREAD();
    // The flags go unchanged: the element's default action flags are not added here.
    PostAddAction(new UIActionTextPerCharBlendIn(time, actionFlags, channel, step, cursor));
}

// ---- Render thread ----

void UITextBox::HandleTextBoxOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UITextBox* b = static_cast<UITextBox*>(element);
    if (!b) {
        payload.Skip(payload.Left());
        return;
    }
    switch (op) {
    case UIOP_TEXTBOX_CLEAR:
        b->ClearRender();
        break;
    case UIOP_TEXTBOX_RELAYOUT:
        b->Relayout();
        break;
    case UIOP_TEXTBOX_SET:
    case UIOP_TEXTBOX_SETWIDE: {
        Dynarray<char16_t> value;
        uint32_t count = 0;
        const bool ok = op == UIOP_TEXTBOX_SET ? UITextReadUTF8(payload, value, count)
                                               : UITextReadUTF16(payload, value, count);
        if (ok) b->RenderSetText(value.data, count);
        break;
    }
    case UIOP_TEXTBOX_LINESPACING:
        payload.ReadValue(b->lineSpacing);
        break;
    case UIOP_TEXTBOX_ALIGNTOBOTTOM: {
        UIElement* target = nullptr;
        float factor = 0, offset = 0;
        if (!payload.ReadValue(target) || !payload.ReadValue(factor) || !payload.ReadValue(offset)) break;
        if (!target || !b->tr.font) break;
        const Vector& p = target->Render().position;
        const float y = float(b->lines.size()) * b->LineStep() * factor + b->Render().position.y + offset;
        target->DoSetPosition(Vector(p.x, y, p.z, p.w));
        break;
    }
    case UIOP_TEXTBOX_LINESTORENDER:
        if (payload.ReadValue(b->firstLine) && payload.ReadValue(b->lineCount)) b->rangeSet = true;
        break;
    default:
        payload.Skip(payload.Left());  // not an op of this family
        break;
    }
}

void UITextBox::ClearRender() {
    text.clear();
    lines.clear();
    if (!rangeSet) firstLine = lineCount = 0;
    publishedLines.store(0, std::memory_order_release);
}

void UITextBox::RenderSetText(const char16_t* value, uint32_t count) {
    ClearRender();
    if (!value || count == 0) return;
    std::u16string converted(value, count);
    ApplyConversion(converted.data());
    RenderAppend(converted.data(), uint32_t(converted.size()));
}

void UITextBox::DoSetSize(const Vector& size) {
    UIElement::DoSetSize(size);
    Relayout();
}

float UITextBox::LineStep() const { return UITextLineHeight(tr.font) * tr.fontScale.y * lineSpacing; }

uint32_t UITextBox::DrawnBegin() const { return std::min(firstLine, uint32_t(lines.size())); }

uint32_t UITextBox::DrawnEnd() const {
    return uint32_t(std::min<uint64_t>(uint64_t(firstLine) + lineCount, lines.size()));
}

float UITextBox::BlockTop(uint32_t drawnLines) const {
    const float lineHeight = UITextLineHeight(tr.font) * tr.fontScale.y;
    const bool inBox = (Render().flags & UIRENDERFLAG_ALIGNINBOX) != 0;
    const float height = Render().size.y;
    if (tr.verticalAlignment == 1)
        return -std::floor(float(drawnLines) * lineHeight + 0.5f) + (inBox ? height : 0.0f);
    if (tr.verticalAlignment == 2)
        return -std::floor((float(drawnLines) + 0.5f) * lineHeight * 0.5f + 0.5f) + (inBox ? height * 0.5f : 0.0f);
    return 0.0f;
}

float UITextBox::LineX(const Line& line) const {
    const bool inBox = (Render().flags & UIRENDERFLAG_ALIGNINBOX) != 0;
    const float width = Render().size.x;
    if (tr.horizontalAlignment == TEXTALIGNMENT_RIGHT) return -line.width + (inBox ? width : 0.0f);
    if (tr.horizontalAlignment == TEXTALIGNMENT_CENTER) return -line.width * 0.5f + (inBox ? width * 0.5f : 0.0f);
    return 0.0f;
}

void UITextBox::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    if (!tr.font || lines.empty()) return;
    const uint32_t begin = DrawnBegin(), end = DrawnEnd();
    if (begin >= end) return;
    const uint32_t flags = Render().flags;
    const float step = LineStep();
    const float top = BlockTop(end - begin);
    uint32_t firstCharacter = 0;
    for (uint32_t i = 0; i < begin; ++i) firstCharacter += lines[i].characters;

    UITextRun style;
    style.spacing = tr.spacing;
    style.blendMode = Render().blendMode;
    style.mirrored = mirrored;
    style.depthTest = (flags & UIFLAG_DEPTHTEST) != 0;
    style.fadeSlope = fadeSlope;
    UITextRun shadow = style;
    Vector shadowColour = tr.shadowColor;
    shadowColour.w *= colour.w;
    shadow.top = shadow.bottom = shadow.third = shadowColour;
    UITextMainColours(tr, colour, style);

    for (uint32_t i = begin; i < end; ++i) {
        const Line& line = lines[i];
        const Vector offset(LineX(line), top + float(i - begin) * step, 0, 0);
        const Matrix m = UITextDrawMatrix(world, offset, tr.fontScale, flags);
        const float lineOffset = float(firstCharacter) * fadeSlope + fadeOffset;
        if (tr.shadowEnabled) {
            shadow.text = line.text.c_str();
            shadow.fadeOffset = lineOffset;
            UITextDraw(tr.font, UITextShadowMatrix(m, tr.shadowOffset, tr.fontScale), shadow);
        }
        style.text = line.text.c_str();
        style.fadeOffset = lineOffset;
        UITextDraw(tr.font, m, style);
        firstCharacter += line.characters;
    }
}
