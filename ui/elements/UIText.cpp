// UIText: the text family's setters (main thread), its ops, re-layout and draw (render
// thread).
#include "ui/elements/UIText.h"

#include <cmath>
#include <cstring>

#include "core/ThreadCheck.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/TextConversion.h"
#include "engine/services/EngineCore.h"
#include "render/resources/ResourceFont.h"
#include "ui/elements/UITextFont.h"

#define ASSERT_MAIN_THREAD() ASSERT_ON_THREAD(GetMainThreadId(), "main thread")

UIText::UIText(const char* initial, const char* fontName, uint32_t fontSize, bool pixelPerfect)
    : UITextBase(fontName, fontSize, pixelPerfect) {
    SetLuaClass("UIText");
    if (initial) SetText(initial);
}

const RTTIClass* UIText::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIText"); }

// ---- Main thread ----

void UIText::PostText(const char* value) {
    const uint32_t length = value ? uint32_t(std::strlen(value)) : 0;
    const uint32_t bytes = UITextUTF8Cut(value, length, kUITextMaxBytes);
    const char zero = 0;
    const UIOpPart parts[] = {{&bytes, sizeof bytes}, {value, bytes}, {&zero, 1}};
    PostUIOpParts(kUITextFamily, UIOP_TEXT_SET, this, parts, 3);
}

void UIText::PostTextWide(const char16_t* value) {
    const uint32_t count = UTF16Length(value);
    const char16_t zero = 0;
    const UIOpPart parts[] = {{&count, sizeof count}, {value, count * 2}, {&zero, 2}};
    PostUIOpParts(kUITextFamily, UIOP_TEXT_SETWIDE, this, parts, 3);
}

void UIText::CopyText(UIText* source, bool copyColor, bool takeOver) {
    ASSERT_MAIN_THREAD();
    const uint8_t colour = copyColor ? 1 : 0, take = takeOver ? 1 : 0;
    PostUIOpValues(kUITextFamily, UIOP_TEXT_COPY, this, source, colour, take);
}

void UIText::ResizeParentToMySize() {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextFamily, UIOP_TEXT_RESIZEPARENT, this);
}

Vector UIText::GetTextSize(const char* value) const {
    if (!GetFont()) return Vector();
    Dynarray<char16_t> wide;
    UITextFromUTF8(value ? value : "", value ? uint32_t(std::strlen(value)) : 0, wide);
    const float width = UITextMeasure(GetFont(), wide.data, kUITextAll, int32_t(GetWrapWidth()), false);
    const Vector& s = GetTextScale();
    return Vector(width * s.x, UITextLineHeight(GetFont()) * s.y, 0, 0);
}

Vector UIText::GetLocalizedTextSize(const char* stringId) const {
    if (!GetFont()) return Vector();
    const char16_t* wide = UITextLookUp(stringId);
    const float width = UITextMeasure(GetFont(), wide, kUITextAll, int32_t(GetWrapWidth()), false);
    const Vector& s = GetTextScale();
    return Vector(width * s.x, UITextLineHeight(GetFont()) * s.y, 0, 0);
}

// ---- Render thread ----

void UIText::RenderSetText(const char16_t* value, uint32_t count) {
    text.Clear();
    if (!value || count == 0 || !text.Reserve(count + 1)) {
        RenderRelayout();
        return;
    }
    std::memcpy(text.data, value, count * 2);
    text.data[count] = 0;
    text.count = count + 1;
    ApplyConversion(text.data);
    RenderRelayout();
}

void UIText::RenderAppend(const char16_t* value, uint32_t count) {
    if (!value || count == 0) return;
    const uint32_t old = text.count ? text.count - 1 : 0;
    if (!text.Reserve(old + count + 1)) return;
    std::memcpy(text.data + old, value, count * 2);
    text.data[old + count] = 0;
    text.count = old + count + 1;
    RenderRelayout();
}

float UIText::MeasureWithTags(const char16_t* from, bool full) const {
    const ResourceFont* font = tr.font;
    float width = 0.0f;
    const char16_t* p = from;
    while (p && *p) {
        const char16_t* bar = p;
        while (*bar && *bar != u'|') ++bar;
        if (bar > p) width += UITextMeasure(font, p, uint32_t(bar - p), tr.spacing, full);
        if (!*bar) break;
        const char16_t* name = bar + 1;
        const char16_t* close = name;
        while (*close && *close != u'|') ++close;
        if (!*close) {
            // No closing bar: the rest is plain text.
            width += UITextMeasure(font, bar, kUITextAll, tr.spacing, full);
            break;
        }
        bool any = false;
        width += TagChildrenWidth(name, uint32_t(close - name), any);
        p = close + 1;
    }
    return width;
}

void UIText::RenderRelayout() {
    if (Render().flags & UIFLAG_FREEZEALIGNMENTOFFSET) return;
    const ResourceFont* font = tr.font;
    if (!font) {
        textSize = Vector();
        textOffset = Vector();
        return;
    }
    const float lineHeight = UITextLineHeight(font);
    const bool full = (Render().flags & UIFLAG_APPENDSPACETOCOMPUTETEXTLENGTH) != 0;
    const float width = text.count ? MeasureWithTags(text.data, full) : 0.0f;
    textSize = Vector(width, lineHeight, 0, 0);
    Vector offset;
    if (tr.horizontalAlignment == TEXTALIGNMENT_RIGHT) offset.x = -width;
    else if (tr.horizontalAlignment == TEXTALIGNMENT_CENTER) offset.x = -width * 0.5f;
    if (tr.verticalAlignment == 1) offset.y = -lineHeight;
    else if (tr.verticalAlignment == 2) offset.y = -lineHeight * 0.5f;
    const Vector scale(tr.fontScale.x, tr.fontScale.y, 0, 0);
    textOffset = offset * scale;
    textSize = textSize * scale;
}

void UIText::DrawWithTags(const Matrix& matrix, const UITextRun& style, bool drawTags, const Vector& colour,
                          bool mirrored, const UIFadeRecord* fade) {
    const ResourceFont* font = tr.font;
    if (Render().flags & UIFLAG_NOSPECIALTAGSUBSTITUTION) {
        UITextRun run = style;
        run.text = text.data;
        UITextDraw(font, matrix, run);
        return;
    }
    const float lineHeight = UITextLineHeight(font);
    float pen = 0.0f;
    const auto drawRun = [&](const char16_t* from, uint32_t limit) {
        UITextRun run = style;
        run.text = from;
        run.limit = limit;
        Matrix at = matrix;
        at.r[3] = matrix.r[0] * pen + matrix.r[3];
        pen += UITextDraw(font, at, run);
    };
    const char16_t* p = text.data;
    while (*p) {
        const char16_t* bar = p;
        while (*bar && *bar != u'|') ++bar;
        if (bar > p) drawRun(p, uint32_t(bar - p));
        if (!*bar) break;
        const char16_t* name = bar + 1;
        const char16_t* close = name;
        while (*close && *close != u'|') ++close;
        if (!*close) {
            drawRun(bar, kUITextAll);
            break;
        }
        char tag[128];
        const uint32_t n = std::min(uint32_t(close - name), 127u);
        for (uint32_t i = 0; i < n; ++i) tag[i] = char(name[i]);
        tag[n] = 0;
        bool first = true;
        for (UIElement* c = Render().firstChild; c; c = c->Render().nextSibling) {
            const NameString& childTag = c->Render().tag;
            if (childTag.IsEmpty() || std::strcmp(childTag.CStr(), tag) != 0) continue;
            if (!first) drawRun(u"/", 1);
            first = false;
            if (drawTags) {
                // The child in UI units at the pen, one line down from the run's origin.
                Matrix inverse, shift, a, childParent;
                inverse.LoadScale(1.0f / tr.fontScale.x, 1.0f / tr.fontScale.y, 1.0f);
                shift.LoadTranslation(pen, lineHeight, 0.0f);
                a.Mul(matrix, shift);          // the shift, then the run's matrix
                childParent.Mul(a, inverse);  // UI units first
                c->DrawTree(childParent, colour, mirrored, fade, 0);
            }
            pen += c->Render().size.x * c->Render().scale.x / tr.fontScale.x;
        }
        p = close + 1;
    }
}

// The draw matrix: scale(font scale) x translate(text offset) x world, its x (and with
// the second pixel-perfect bit its y) translation snapped to whole font-scale steps.
Matrix UITextDrawMatrix(const Matrix& world, const Vector& offset, const Vector& fontScale, uint32_t flags) {
    Matrix translate, scale, moved, m;
    translate.LoadTranslation(offset.x, offset.y, offset.z);
    scale.LoadScale(fontScale.x, fontScale.y, 1.0f);
    moved.Mul(world, translate);  // the offset, then the element
    m.Mul(moved, scale);          // the font scale first
    if ((flags & 0x20) && fontScale.x != 0.0f)
        m.r[3].x = std::floor((fontScale.x * 0.5f + m.r[3].x) / fontScale.x) * fontScale.x;
    if ((flags & 0x40) && fontScale.y != 0.0f)
        m.r[3].y = std::floor((fontScale.y * 0.5f + m.r[3].y) / fontScale.y) * fontScale.y;
    return m;
}

// The shadow's matrix: the main one moved by the shadow offset in UI units.
Matrix UITextShadowMatrix(const Matrix& m, const Vector& shadowOffset, const Vector& fontScale) {
    Matrix shift, out;
    shift.LoadTranslation(shadowOffset.x / fontScale.x, shadowOffset.y / fontScale.y, shadowOffset.z);
    out.Mul(m, shift);  // the shift in font pixels, then the text
    return out;
}

// The main pass's colours: top the element colour, bottom blended towards the bottom
// colour by its alpha.
void UITextMainColours(const UITextRenderHalf& tr, const Vector& colour, UITextRun& run) {
    run.top = colour;
    run.bottom = colour;
    if (tr.bottomColorEnabled) {
        const float t = tr.bottomColor.w;
        run.bottom = colour * (1.0f - t) + tr.bottomColor * t;
    }
    run.third = tr.outlineColor;
}

void UIText::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    if (!tr.font || text.count <= 1) return;
    const uint32_t flags = Render().flags;
    const Matrix m = UITextDrawMatrix(world, textOffset, tr.fontScale, flags);
    UITextRun style;
    style.spacing = tr.spacing;
    style.blendMode = Render().blendMode;
    style.mirrored = mirrored;
    style.depthTest = (flags & UIFLAG_DEPTHTEST) != 0;
    if (tr.shadowEnabled) {
        UITextRun shadow = style;
        Vector c = tr.shadowColor;
        c.w *= colour.w;
        shadow.top = shadow.bottom = shadow.third = c;
        DrawWithTags(UITextShadowMatrix(m, tr.shadowOffset, tr.fontScale), shadow, false, colour, mirrored, fade);
    }
    UITextMainColours(tr, colour, style);
    DrawWithTags(m, style, true, colour, mirrored, fade);
}

void UIText::HandleTextOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIText* t = static_cast<UIText*>(element);
    if (!t) {
        payload.Skip(payload.Left());
        return;
    }
    switch (op) {
    case UIOP_TEXT_SET:
    case UIOP_TEXT_SETWIDE: {
        Dynarray<char16_t> value;
        uint32_t count = 0;
        const bool ok = op == UIOP_TEXT_SET ? UITextReadUTF8(payload, value, count)
                                            : UITextReadUTF16(payload, value, count);
        if (ok) {
            // The buffer is taken over as it is.
            t->text.Swap(value);
            if (count == 0) t->text.Release();
            t->ApplyConversion(t->text.data);
            t->RenderRelayout();
        }
        break;
    }
    case UIOP_TEXT_COPY: {
        UIText* source = nullptr;
        uint8_t copyColor = 0, takeOver = 0;
        if (!payload.ReadValue(source) || !payload.ReadValue(copyColor) || !payload.ReadValue(takeOver)) break;
        if (source == t) break;
        if (source) {
            if (takeOver) {
                t->text.Swap(source->text);
                source->text.Release();
                source->RenderRelayout();
            } else {
                t->text = source->text;
            }
            if (copyColor) t->RenderMutable().color = source->Render().color;
        } else {
            t->text.Release();
        }
        t->ApplyConversion(t->text.count ? t->text.data : nullptr);
        t->RenderRelayout();
        break;
    }
    case UIOP_TEXT_RESIZEPARENT:
        if (UIElement* parent = t->Render().parent) {
            const Vector& scale = t->Render().scale;
            parent->DoSetSize(Vector(t->textSize.x * scale.x, t->textSize.y * scale.y, t->textSize.z * scale.z,
                                     t->textSize.w * scale.w));
            parent->RenderMutable().anchor = -t->textOffset;
        }
        break;
    default:
        payload.Skip(payload.Left());  // not an op of this family
        break;
    }
}
