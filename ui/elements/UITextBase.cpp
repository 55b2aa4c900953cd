// UITextBase: the main-thread API of the text elements (font choice, texts, localised
// texts, the setters of ops 41-50), the text-element list with the resolution and
// language changes, and the render side of the text base family.
//
// Font choice (UpdateFont). The element names a face ("_system.ttf"), a size in UI
// units, an outline width and whether its pixels should be sharp on the physical screen.
// The choice scales the size to physical pixels (pixel-perfect elements only), applies
// the project's font replacement for the language (its scale and maximum size), steps the
// size down to the sizes fonts are made in and to the sizes the font table lists, and
// draws the remainder as the text scale (ComputeFontName, ui/text/FontNaming.h). The font
// file name carries outline, size and, with a replacement, the language. Before the first
// resolution is known the factor is 1.
//
// Texts. Single-byte text is UTF-8 and is converted on the render side; localised texts
// are looked up in the current language and their "^tag^" placeholders expanded from the
// element's replacement container before they go as UTF-16.
#include "ui/elements/UITextBase.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/ThreadCheck.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/TagReplacement.h"
#include "core/text/TextConversion.h"
#include "engine/services/EngineCore.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceFont.h"
#include "render/resources/ResourceManager.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITextActions.h"
#include "ui/elements/UITextFont.h"
#include "ui/localisation/StringManager.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/text/FontNaming.h"

#define ASSERT_MAIN_THREAD() ASSERT_ON_THREAD(GetMainThreadId(), "main thread")

namespace {

// Main thread: the text-element list.
UITextBase* gFirstText = nullptr;
UITextBase* gLastText = nullptr;

Vector ToLinear(const Vector& c) { return Vector(std::pow(c.x, 2.2f), std::pow(c.y, 2.2f), std::pow(c.z, 2.2f), c.w); }

}  // namespace

const char16_t* UITextLookUp(const char* stringId) {
    return gStringManager ? gStringManager->GetString(stringId, kCurrentTextLanguage, nullptr, true, true) : nullptr;
}

namespace {

uint32_t CurrentLanguage() { return gStringManager ? gStringManager->GetCurrentLanguage() : kLanguageEnglish; }

// The element's own handle on a container's shared body (null for none).
StringReplacementContainer* ShareContainer(const StringReplacementContainer* container) {
    return container ? new StringReplacementContainer(*container) : nullptr;
}

}  // namespace

UITextBase::UITextBase(const char* name, uint32_t size, bool perfect) {
    SetLuaClass("UITextBase");
    previousText = gLastText;
    if (gLastText) gLastText->nextText = this;
    else gFirstText = this;
    gLastText = this;
    linked = true;
    replacement = ShareContainer(gDefaultReplacementContainer);
    if (name) SetFont(name, size, perfect, 0);
}

UITextBase::~UITextBase() {
    // Render thread: the render side's use of its font.
    if (tr.font) tr.font->Release();
    tr.font = nullptr;
}

const RTTIClass* UITextBase::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UITextBase"); }

UITextBase* UITextBase::FirstTextElement() { return gFirstText; }

void UITextBase::Unlink() {
    if (!linked) return;
    if (previousText) previousText->nextText = nextText;
    else gFirstText = nextText;
    if (nextText) nextText->previousText = previousText;
    else gLastText = previousText;
    previousText = nextText = nullptr;
    linked = false;
}

void UITextBase::ReleaseMainFont() {
    if (font) font->Release();
    font = nullptr;
}

void UITextBase::OnBeforeDelete() {
    UIElement::OnBeforeDelete();
    Unlink();
    delete replacement;
    replacement = nullptr;
    ReleaseMainFont();
}

void UITextBase::OnTemporaryLoadingScreenMark(uint32_t mark) {
    if (font) font->AddFlags(mark);
}

// ---- Font choice ----

UITextFontChoice UITextBase::ChooseFont(const char* name, uint32_t size, uint32_t outline, bool perfect,
                                        bool ignoreReplacement, uint32_t language) {
    FontNameRequest request;
    request.fontName = name;
    request.fontSize = size;
    request.outlineWidth = outline;
    request.pixelPerfect = perfect;
    request.ignoreReplacement = ignoreReplacement;
    request.language = language;
    GetPhysicalScreenResolution(&request.physicalWidth, &request.physicalHeight);
    request.uiWidth = GetUIWidth();
    request.uiHeight = GetUIHeight();
    FontNameResult result;
    UITextFontChoice choice;
    if (!ComputeFontName(request, &result)) return choice;
    std::snprintf(choice.name, sizeof choice.name, "%s", result.resourceName);
    choice.textScale = Vector(result.textScale, result.textScale, 1.0f, 1.0f);
    choice.lineBreaking = result.lineBreaking ? 1 : 0;
    return choice;
}

void UITextBase::SetFont(const char* name, uint32_t size, bool perfect, uint32_t outline) {
    ASSERT_MAIN_THREAD();
    char lower[kMaxTextFontBaseName + 1] = {};
    if (name) {
        uint32_t i = 0;
        for (; name[i] && i < kMaxTextFontBaseName; ++i) lower[i] = char(std::tolower(uint8_t(name[i])));
        lower[i] = 0;
    }
    fontName = lower;
    fontSize = size;
    outlineWidth = outline;
    pixelPerfect = perfect;
    UpdateFont();
}

void UITextBase::UpdateFont() {
    ASSERT_MAIN_THREAD();
    if (fontName.IsEmpty()) return;
    const UITextFontChoice choice =
        ChooseFont(fontName.CStr(), fontSize, outlineWidth, pixelPerfect, ignoreFontReplacement, CurrentLanguage());
    textScale = choice.textScale;
    Resource* r = gResourceManager.GetResource(RESOURCE_FONT, choice.name, 0, true, 0);
    if (r && !r->IsLoaded()) r->Load(true);
    ReleaseMainFont();
    font = static_cast<ResourceFont*>(r);
    // The op carries a use of its own, which the render side takes over: the font stays
    // alive while the op waits, even when this side lets go of it first.
    if (font) font->AddRef();
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_FONT, this, font, textScale, choice.lineBreaking);
    OnFontPosted();
}

float UITextBase::GetFontHeight() const { return font ? UITextLineHeight(font) * textScale.y : 0.0f; }

// ---- Resolution and language ----

void UITextBase::SetScreenResolution(uint32_t width, uint32_t height, bool releaseFonts, bool reloadFonts) {
    ASSERT_MAIN_THREAD();
    if (releaseFonts) {
        for (UITextBase* t = gFirstText; t; t = t->nextText) {
            t->ReleaseMainFont();
            PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_RELEASEFONT, t);
        }
        // The render side has let go of every font before unused fonts are evicted.
        gVornexRenderer.FlushCommands(true);
        gResourceManager.PostEvictResources(1u << RESOURCE_FONT, true, 0, 0);
        gResourceManager.Flush();
    }
    SetUIPhysicalResolution(float(width), float(height));
    if (reloadFonts)
        for (UITextBase* t = gFirstText; t; t = t->nextText) t->UpdateFont();
}

void UITextBase::ReloadAllFonts() {
    ASSERT_MAIN_THREAD();
    float width = 0, height = 0;
    GetPhysicalScreenResolution(&width, &height);
    SetScreenResolution(uint32_t(std::max(width, 0.0f)), uint32_t(std::max(height, 0.0f)), true, false);
    for (UITextBase* t = gFirstText; t; t = t->nextText) {
        t->UpdateFont();
        if (!t->localizedTextId.IsEmpty()) {
            const NameString id = t->localizedTextId;
            t->SetLocalizedText(id.CStr());
        }
    }
}

// ---- Texts ----

void UITextBase::SetText(const char* text) {
    ASSERT_MAIN_THREAD();
    localizedTextId = nullptr;
    PostText(text);
}

void UITextBase::SetTextUnicharPtr(const char16_t* text) {
    ASSERT_MAIN_THREAD();
    localizedTextId = nullptr;
    PostTextWide(text);
}

void UITextBase::LookUpLocalized(const char* stringId, Dynarray<char16_t>& out) const {
    out.count = 0;
    const char16_t* text = UITextLookUp(stringId);
    if (text && replacement) {
        AppendWithTagReplacement(out, text, *replacement);
    } else if (text) {
        const uint32_t n = UTF16Length(text);
        if (out.Reserve(n + 1)) std::memcpy(out.data, text, n * sizeof(char16_t)), out.count = n;
    }
    out.Add(u'\0');
}

void UITextBase::SetLocalizedText(const char* stringId) {
    ASSERT_MAIN_THREAD();
    localizedTextId = stringId;
    Dynarray<char16_t> text;
    LookUpLocalized(stringId, text);
    PostTextWide(text.data);
}

void UITextBase::AppendText(const char* text) {
    ASSERT_MAIN_THREAD();
    if (!text) return;
    localizedTextId = nullptr;
    const uint32_t bytes = uint32_t(std::strlen(text));
    const char zero = 0;
    const UIOpPart parts[] = {{&bytes, sizeof bytes}, {text, bytes}, {&zero, 1}};
    PostUIOpParts(kUITextBaseFamily, UIOP_TEXT_APPEND, this, parts, 3);
}

void UITextBase::AppendText(const char16_t* text) {
    ASSERT_MAIN_THREAD();
    if (!text) return;
    localizedTextId = nullptr;
    const uint32_t count = UTF16Length(text);
    const char16_t zero = 0;
    const UIOpPart parts[] = {{&count, sizeof count}, {text, count * 2}, {&zero, 2}};
    PostUIOpParts(kUITextBaseFamily, UIOP_TEXT_APPENDWIDE, this, parts, 3);
}

void UITextBase::AppendLocalizedText(const char* stringId) {
    ASSERT_MAIN_THREAD();
    localizedTextId = nullptr;
    if (const char16_t* text = UITextLookUp(stringId)) AppendText(text);
}

void UITextBase::CrossFade(float time, const char16_t* text, uint32_t actionFlags, uint32_t channel) {
    const uint32_t flags = actionFlags | GetDefaultActionFlags();
    PostAddAction(new UIActionTextXFadeHelper(time, true, nullptr, flags, channel));
    if (text) PostAddAction(new UIActionTextXFadeHelper(time, false, text, flags, channel));
}

void UITextBase::SetTextSmooth(float time, const char* text, uint32_t actionFlags, uint32_t channel) {
    ASSERT_MAIN_THREAD();
    localizedTextId = nullptr;
    if (!text) {
        CrossFade(time, nullptr, actionFlags, channel);
        return;
    }
    // At most 2047 characters.
    Dynarray<char16_t> wide;
    UITextFromUTF8(text, uint32_t(std::strlen(text)), wide);
    if (wide.count > kUITextSmoothMax + 1) {
        // Never half a surrogate pair.
        uint32_t cut = kUITextSmoothMax;
        if ((wide.data[cut - 1] & 0xFC00) == 0xD800) --cut;
        wide.data[cut] = 0;
    }
    CrossFade(time, wide.data, actionFlags, channel);
}

void UITextBase::SetTextSmooth(float time, const char16_t* text, uint32_t actionFlags, uint32_t channel) {
    ASSERT_MAIN_THREAD();
    localizedTextId = nullptr;
    CrossFade(time, text, actionFlags, channel);
}

void UITextBase::SetLocalizedTextSmooth(float time, const char* stringId, uint32_t actionFlags, uint32_t channel) {
    ASSERT_MAIN_THREAD();
    Dynarray<char16_t> text;
    LookUpLocalized(stringId, text);
    localizedTextId = stringId;
    CrossFade(time, text.data, actionFlags, channel);
}

// ---- Setters ----

void UITextBase::SetShadowPosition(const Vector& offset) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_SHADOWOFFSET, this, offset);
}

void UITextBase::SetShadowColor(const Vector& color) { SetLinearShadowColor(ToLinear(color)); }

void UITextBase::SetLinearShadowColor(const Vector& color) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_SHADOWCOLOR, this, color);
}

void UITextBase::SetOutlineColor(const Vector& color) {
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_OUTLINECOLOR, this, color);
}

void UITextBase::SetCharacterSpacing(int32_t spacing) {
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_SPACING, this, spacing);
}

void UITextBase::SetBottomColor(const Vector& color) {
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_BOTTOMCOLOR, this, color);
}

void UITextBase::SetAlignment(uint32_t horizontal, uint32_t vertical) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_ALIGNMENT, this, horizontal, vertical);
}

void UITextBase::SetTextConversion(uint8_t conversion) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUITextBaseFamily, UIOP_TEXT_CONVERSION, this, conversion);
}

void UITextBase::SetReplacementContainer(StringReplacementContainer* container) {
    ASSERT_MAIN_THREAD();
    // The new handle first: the container may be this element's own.
    StringReplacementContainer* shared = ShareContainer(container);
    delete replacement;
    replacement = shared;
}

// ---- Render thread ----

void UITextBase::ApplyConversion(char16_t* text) const {
    if (tr.conversion == UITEXTCONVERSION_UPPERCASE && text) ToUpperUTF16(text, true);
}

float UITextBase::TagChildrenWidth(const char16_t* name, uint32_t length, bool& any) const {
    // The tag name narrowed to bytes (at most 127 characters), compared with each child's.
    char tag[128];
    const uint32_t n = std::min(length, 127u);
    for (uint32_t i = 0; i < n; ++i) tag[i] = char(name[i]);
    tag[n] = 0;
    float width = 0.0f;
    any = false;
    const float slash = UITextMeasure(tr.font, u"/", 1, tr.spacing, true);
    for (UIElement* c = Render().firstChild; c; c = c->Render().nextSibling) {
        const NameString& childTag = c->Render().tag;
        if (childTag.IsEmpty() || std::strcmp(childTag.CStr(), tag) != 0) continue;
        if (any) width += slash;
        width += c->Render().size.x * c->Render().scale.x / tr.fontScale.x;
        any = true;
    }
    return width;
}

namespace {

bool ReadText16(UIOpReader& payload, Dynarray<char16_t>& out, uint32_t& count) {
    if (!payload.ReadValue(count) || uint64_t(count) * 2 + 2 != payload.Left() || !out.Reserve(count + 1)) return false;
    payload.Read(out.data, count * 2 + 2);
    out.count = count + 1;
    out.data[count] = 0;
    return true;
}

}  // namespace

uint32_t UITextUTF8Cut(const char* text, uint32_t bytes, uint32_t limit) {
    if (bytes <= limit) return bytes;
    uint32_t cut = limit;
    // Back over continuation bytes to the start of the character that does not fit.
    while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

uint32_t UITextFromUTF8(const char* text, uint32_t bytes, Dynarray<char16_t>& out) {
    out.count = 0;
    if (!out.Reserve(bytes + 1)) return 0;
    out.data[0] = 0;
    if (bytes > 0) {
        Dynarray<char> raw;
        if (!raw.Reserve(bytes + 1)) return 0;
        std::memcpy(raw.data, text, bytes);
        raw.data[bytes] = 0;
        if (!MultiByteToWide(out.data, bytes + 1, raw.data, -1, kCodePageUTF8)) out.data[0] = 0;
    }
    const uint32_t count = UTF16Length(out.data);
    out.count = count + 1;
    return count;
}

bool UITextReadUTF8(UIOpReader& payload, Dynarray<char16_t>& out, uint32_t& count) {
    uint32_t bytes = 0;
    if (!payload.ReadValue(bytes) || uint64_t(bytes) + 1 != payload.Left()) return false;
    Dynarray<char> raw;
    if (!raw.Reserve(bytes + 1)) return false;
    payload.Read(raw.data, bytes + 1);
    count = UITextFromUTF8(raw.data, bytes, out);
    return out.data != nullptr;
}

bool UITextReadUTF16(UIOpReader& payload, Dynarray<char16_t>& out, uint32_t& count) {
    return ReadText16(payload, out, count);
}

void UITextBase::HandleTextBaseOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UITextBase* t = static_cast<UITextBase*>(element);
    if (!t) {
        payload.Skip(payload.Left());
        return;
    }
    UITextRenderHalf& r = t->tr;
    const auto shadowRule = [&r] {
        const Vector& o = r.shadowOffset;
        r.shadowEnabled = r.shadowColor.w > 0.0f && (o.x > 0.01f || o.y > 0.01f || o.z > 0.01f);
    };
    switch (op) {
    case UIOP_TEXT_SPACING:
        payload.ReadValue(r.spacing);
        break;
    case UIOP_TEXT_RELEASEFONT:
        if (r.font) r.font->Release();
        r.font = nullptr;
        break;
    case UIOP_TEXT_FONT: {
        ResourceFont* font = nullptr;
        Vector scale;
        uint8_t lineBreaking = 0;
        if (!payload.ReadValue(font) || !payload.ReadValue(scale) || !payload.ReadValue(lineBreaking)) break;
        // The op's use of the font becomes the render side's.
        if (r.font) r.font->Release();
        r.font = font;
        r.fontScale = scale;
        r.lineBreaking = lineBreaking;
        t->RenderRelayout();
        break;
    }
    case UIOP_TEXT_SHADOWOFFSET:
        if (payload.ReadValue(r.shadowOffset)) shadowRule();
        break;
    case UIOP_TEXT_SHADOWCOLOR:
        if (payload.ReadValue(r.shadowColor)) shadowRule();
        break;
    case UIOP_TEXT_OUTLINECOLOR:
        payload.ReadValue(r.outlineColor);
        break;
    case UIOP_TEXT_BOTTOMCOLOR:
        if (payload.ReadValue(r.bottomColor)) r.bottomColorEnabled = r.bottomColor.w > 0.0001f;
        break;
    case UIOP_TEXT_ALIGNMENT:
        if (payload.ReadValue(r.horizontalAlignment) && payload.ReadValue(r.verticalAlignment)) t->RenderRelayout();
        break;
    case UIOP_TEXT_CONVERSION:
        payload.ReadValue(r.conversion);
        break;
    case UIOP_TEXT_APPEND:
    case UIOP_TEXT_APPENDWIDE: {
        Dynarray<char16_t> text;
        uint32_t count = 0;
        const bool ok =
            op == UIOP_TEXT_APPEND ? UITextReadUTF8(payload, text, count) : ReadText16(payload, text, count);
        if (!ok) break;
        t->ApplyConversion(text.data);
        t->RenderAppend(text.data, count);
        break;
    }
    default:
        payload.Skip(payload.Left());  // not an op of this family
        break;
    }
}
