// UITextRecipe: registration (the stored format), the spacing and pixel-perfect rules,
// element construction and the text steps of Apply.
#include "ui/recipes/UITextRecipe.h"

#include <algorithm>

#include "core/rtti/DirectProperty.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIText.h"
#include "ui/elements/UITextBox.h"

namespace {

RTTIClass* gTextRecipeClass = nullptr;
const char kHorizontalNames[] = "Left\0Right\0Center\0";
const char kVerticalNames[] = "Up\0Down\0Center\0";
const char kPixelPerfectNames[] = "None\0Full\0Vertical\0Horizontal\0";
// Above this UI resolution (both sides) the lo-res spacing offset is not added.
constexpr uint32_t kLoResWidth = 640;
constexpr uint32_t kLoResHeight = 480;

}  // namespace

const RTTIClass* UITextRecipe::RegisterClass() {
    if (gTextRecipeClass) return gTextRecipeClass;
    UIElementRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTextRecipeClass, "UITextRecipe", "UIElementRecipe",
                                         &CreateUIRecipeObject<UITextRecipe>);
    using T = UITextRecipe;
    AddDirect<NameString>(c, "Font", RTTI_OFFSETOF(T, font));
    AddDirect<uint32_t>(c, "Font size", RTTI_OFFSETOF(T, fontSize));
    AddDirect<NameString>(c, "Text", RTTI_OFFSETOF(T, text));
    AddDirect<bool>(c, "Upper case", RTTI_OFFSETOF(T, upperCase));
    AddDirect<bool>(c, "Localized", RTTI_OFFSETOF(T, localized));
    AddDirect<bool>(c, "Do not replace", RTTI_OFFSETOF(T, doNotReplace));
    AddDirect<uint32_t>(c, "Horizontal alignment", RTTI_OFFSETOF(T, horizontalAlignment), kPropertyFlagEnum,
                        kHorizontalNames);
    AddDirect<uint32_t>(c, "Vertical alignment", RTTI_OFFSETOF(T, verticalAlignment), kPropertyFlagEnum,
                        kVerticalNames);
    AddDirect<uint8_t>(c, "Pixel perfect", RTTI_OFFSETOF(T, pixelPerfect), kPropertyFlagEnum, kPixelPerfectNames);
    AddDirect<HDRColor>(c, "Bottom color", RTTI_OFFSETOF(T, bottomColor));
    AddDirect<uint32_t>(c, "Outline width", RTTI_OFFSETOF(T, outlineWidth));
    AddDirect<HDRColor>(c, "Outline color", RTTI_OFFSETOF(T, outlineColor));
    AddDirect<Vector>(c, "Shadow position", RTTI_OFFSETOF(T, shadowPosition));
    AddDirect<HDRColor>(c, "Shadow color", RTTI_OFFSETOF(T, shadowColor));
    AddDirect<bool>(c, "Wrap text", RTTI_OFFSETOF(T, wrapText));
    AddDirect<bool>(c, "Debug box", RTTI_OFFSETOF(T, debugBox));
    AddDirect<int32_t>(c, "Character spacing", RTTI_OFFSETOF(T, characterSpacing));
    AddDirect<int32_t>(c, "Char spacing lo-res offset", RTTI_OFFSETOF(T, charSpacingLoResOffset));
    AddDirect<float>(c, "Line spacing", RTTI_OFFSETOF(T, lineSpacing));
    return c;
}

const RTTIClass* UITextRecipe::GetRTTIClass() const { return RegisterClass(); }

int32_t UITextRecipe::SpacingFor(uint32_t width, uint32_t height) const {
    int64_t spacing = characterSpacing;
    if (!(width > kLoResWidth && height > kLoResHeight)) spacing += charSpacingLoResOffset;
    return int32_t(std::clamp<int64_t>(spacing, -kUITextRecipeMaxSpacing, kUITextRecipeMaxSpacing));
}

uint32_t UITextRecipe::PixelPerfectFlags() const {
    switch (pixelPerfect) {
        case UITEXTRECIPE_PIXEL_FULL: return 0x60;
        case UITEXTRECIPE_PIXEL_VERTICAL: return 0x40;
        case UITEXTRECIPE_PIXEL_HORIZONTAL: return 0x20;
        default: return 0;
    }
}

void UITextRecipe::ApplyText(UIElement* element) const {
    auto* t = dynamic_cast<UITextBase*>(element);
    if (!t) return;
    t->SetIgnoreFontReplacement(doNotReplace);
    // The spacing goes before the font op, so the layout that op starts already uses it.
    float width = 0, height = 0;
    GetPhysicalScreenResolution(&width, &height);
    t->SetCharacterSpacing(SpacingFor(uint32_t(std::max(width, 0.0f)), uint32_t(std::max(height, 0.0f))));
    t->SetFont(font.CStr(), fontSize, true, outlineWidth);
    t->SetAlignment(horizontalAlignment, verticalAlignment);
    if (upperCase) t->SetTextConversion(UITEXTCONVERSION_UPPERCASE);
    if (localized) t->SetLocalizedText(text.CStr());
    else t->SetText(text.CStr());
    if (const uint32_t flags = PixelPerfectFlags()) t->RaiseFlag(flags, false);
    t->SetShadowPosition(shadowPosition);
    t->SetShadowColor(shadowColor.ToVector());
    t->SetOutlineColor(outlineColor.ToVector());
    t->SetBottomColor(bottomColor.ToVector());
    if (debugBox) t->RaiseFlag(UIFLAG_DRAWDEBUGBOX, false);
    if (t->IsUITextBox()) static_cast<UITextBox*>(t)->SetLineSpacingScale(lineSpacing);
}

void UITextRecipe::Apply(UIElement* element) const {
    UIElementRecipe::Apply(element);
    ApplyText(element);
}

UIElement* UITextRecipe::CreateElement() const {
    if (!wrapText) return new UIText();
    UITextBox* box = new UITextBox();
    box->RaiseFlag(kUITextRecipeBoxFlag, false);
    return box;
}
