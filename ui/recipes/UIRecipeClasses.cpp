// The recipe classes beyond the element, picture and text recipes: registration (the
// stored format), default objects, element construction and their Apply additions.
#include "ui/recipes/UIRecipeClasses.h"

#include "core/rtti/DirectProperty.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITemplateView.h"
#include "ui/recipes/UIElementPreset.h"
#include "ui/widgets/UIButton.h"
#include "ui/widgets/UIList.h"
#include "ui/widgets/UIRadioButtonContainer.h"
#include "ui/widgets/UIUniTextInput.h"

namespace {

RTTIClass* gButtonClass = nullptr;
RTTIClass* gRadioClass = nullptr;
RTTIClass* gTabbedClass = nullptr;
RTTIClass* gListClass = nullptr;
RTTIClass* gRoundListClass = nullptr;
RTTIClass* gUniTextInputClass = nullptr;
RTTIClass* gRoundedRectClass = nullptr;
RTTIClass* gTemplateViewClass = nullptr;
RTTIClass* gScreenClass = nullptr;
RTTIClass* gClipboardClass = nullptr;

constexpr uint32_t kTemplateNameFlags = 4096;

// A class without properties of its own.
template <class T>
RTTIClass* RegisterPlain(RTTIClass*& slot, const char* name, const char* base) {
    return CreateRegisteredClass(slot, name, base, &CreateUIRecipeObject<T>);
}

}  // namespace

// ---- Button ----

UIButtonRecipe::UIButtonRecipe() {
    focusableWithMouse = true;
    anchorBy = UIRECIPE_ANCHOR_CENTER;
}

const RTTIClass* UIButtonRecipe::RegisterClass() {
    if (gButtonClass) return gButtonClass;
    UIPictureRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gButtonClass, "UIButtonRecipe", "UIPictureRecipe",
                                         &CreateUIRecipeObject<UIButtonRecipe>);
    using B = UIButtonRecipe;
    AddDirect<float>(c, "Scale on click", RTTI_OFFSETOF(B, scaleOnClick));
    AddDirect<float>(c, "Scale time", RTTI_OFFSETOF(B, scaleTime));
    AddDirect<bool>(c, "Is active", RTTI_OFFSETOF(B, isActive));
    return c;
}

const RTTIClass* UIButtonRecipe::GetRTTIClass() const { return RegisterClass(); }

void UIButtonRecipe::Apply(UIElement* element) const {
    UIPictureRecipe::Apply(element);
    element->enabled = isActive ? 1 : 0;
    if (element->IsUIButton()) {
        auto* button = static_cast<UIButton*>(element);
        button->SetScaleOnClick(scaleOnClick);
        button->SetScaleTime(scaleTime);
    }
}

UIElement* UIButtonRecipe::CreateElement() const { return new UIButton; }

// ---- Containers ----

const RTTIClass* UIRadioButtonContainerRecipe::RegisterClass() {
    if (gRadioClass) return gRadioClass;
    UIElementRecipe::RegisterClass();
    return RegisterPlain<UIRadioButtonContainerRecipe>(gRadioClass, "UIRadioButtonContainerRecipe",
                                                       "UIElementRecipe");
}

const RTTIClass* UIRadioButtonContainerRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIRadioButtonContainerRecipe::CreateElement() const { return new UIRadioButtonContainer; }

const RTTIClass* UITabbedContainerRecipe::RegisterClass() {
    if (gTabbedClass) return gTabbedClass;
    UIRadioButtonContainerRecipe::RegisterClass();
    return RegisterPlain<UITabbedContainerRecipe>(gTabbedClass, "UITabbedContainerRecipe",
                                                  "UIRadioButtonContainerRecipe");
}

const RTTIClass* UITabbedContainerRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UITabbedContainerRecipe::CreateElement() const { return new UITabbedContainer; }

// ---- Lists ----

UIListRecipe::UIListRecipe() {
    focusableWithMouse = true;
    clipChildren = true;
}

const RTTIClass* UIListRecipe::RegisterClass() {
    if (gListClass) return gListClass;
    UIElementRecipe::RegisterClass();
    return RegisterPlain<UIListRecipe>(gListClass, "UIListRecipe", "UIElementRecipe");
}

const RTTIClass* UIListRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIListRecipe::CreateElement() const { return new UIList; }

const RTTIClass* UIRoundListRecipe::RegisterClass() {
    if (gRoundListClass) return gRoundListClass;
    UIListRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gRoundListClass, "UIRoundListRecipe", "UIListRecipe",
                                         &CreateUIRecipeObject<UIRoundListRecipe>);
    AddDirect<int32_t>(c, "Range from", RTTI_OFFSETOF(UIRoundListRecipe, rangeFrom));
    AddDirect<int32_t>(c, "Range to", RTTI_OFFSETOF(UIRoundListRecipe, rangeTo));
    return c;
}

const RTTIClass* UIRoundListRecipe::GetRTTIClass() const { return RegisterClass(); }

void UIRoundListRecipe::Apply(UIElement* element) const {
    UIListRecipe::Apply(element);
    if (element->IsUIRoundList()) static_cast<UIRoundList*>(element)->SetRange(rangeFrom, rangeTo);
}

UIElement* UIRoundListRecipe::CreateElement() const { return new UIRoundList; }

// ---- Wide text input ----

UIUniTextInputRecipe::UIUniTextInputRecipe() { clipChildren = true; }

const RTTIClass* UIUniTextInputRecipe::RegisterClass() {
    if (gUniTextInputClass) return gUniTextInputClass;
    UITextRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gUniTextInputClass, "UIUniTextInputRecipe", "UITextRecipe",
                                         &CreateUIRecipeObject<UIUniTextInputRecipe>);
    AddDirect<uint32_t>(c, "Max input length", RTTI_OFFSETOF(UIUniTextInputRecipe, maxInputLength));
    return c;
}

const RTTIClass* UIUniTextInputRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIUniTextInputRecipe::CreateElement() const {
    return new UIUniTextInput(nullptr, nullptr, 0, false, maxInputLength);
}

// ---- Rounded rectangle ----

const RTTIClass* UIRoundedRectRecipe::RegisterClass() {
    if (gRoundedRectClass) return gRoundedRectClass;
    UIElementRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gRoundedRectClass, "UIRoundedRectRecipe", "UIElementRecipe",
                                         &CreateUIRecipeObject<UIRoundedRectRecipe>);
    using R = UIRoundedRectRecipe;
    AddDirect<NameString>(c, "Corner texture", RTTI_OFFSETOF(R, cornerTexture), kPropertyFlagFileName,
                          kUIRecipeTextureFolder);
    AddDirect<float>(c, "Corner radius", RTTI_OFFSETOF(R, cornerRadius));
    return c;
}

const RTTIClass* UIRoundedRectRecipe::GetRTTIClass() const { return RegisterClass(); }

void UIRoundedRectRecipe::Apply(UIElement* element) const {
    UIElementRecipe::Apply(element);
    if (auto* rect = dynamic_cast<UIRoundedRect*>(element)) {
        rect->SetCornerTexture(cornerTexture.CStr());
        rect->SetCornerRadius(cornerRadius);
    }
    element->RaiseFlag(UIFLAG_TRANSPARENT, false);
}

UIElement* UIRoundedRectRecipe::CreateElement() const { return new UIRoundedRect(1, ""); }

// ---- Template view ----

const RTTIClass* UITemplateViewRecipe::RegisterClass() {
    if (gTemplateViewClass) return gTemplateViewClass;
    UIElementRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTemplateViewClass, "UITemplateViewRecipe", "UIElementRecipe",
                                         &CreateUIRecipeObject<UITemplateViewRecipe>);
    using V = UITemplateViewRecipe;
    AddDirect<NameString>(c, "Template name", RTTI_OFFSETOF(V, templateName), kTemplateNameFlags);
    AddDirect<NameString>(c, "Shader preset", RTTI_OFFSETOF(V, shaderPreset));
    AddDirect<bool>(c, "Start immediately", RTTI_OFFSETOF(V, startImmediately));
    AddDirect<bool>(c, "Ortho projection", RTTI_OFFSETOF(V, orthoProjection));
    return c;
}

const RTTIClass* UITemplateViewRecipe::GetRTTIClass() const { return RegisterClass(); }

void UITemplateViewRecipe::Apply(UIElement* element) const {
    UIElementRecipe::Apply(element);
    auto* view = dynamic_cast<UITemplateView*>(element);
    if (!view) return;
    view->SetTemplate(templateName.CStr(), shaderPreset.CStr());
    if (startImmediately) view->Restart();
    if (orthoProjection) view->RaiseFlag(UIRENDERFLAG_TEMPLATECAMERA, false);
}

UIElement* UITemplateViewRecipe::CreateElement() const { return new UITemplateView(); }

// ---- Screen and clipboard ----

UIScreenRecipe::UIScreenRecipe() { size = Vector(500, 500, 0, 0); }

const RTTIClass* UIScreenRecipe::RegisterClass() {
    if (gScreenClass) return gScreenClass;
    UIElementRecipe::RegisterClass();
    return RegisterPlain<UIScreenRecipe>(gScreenClass, "UIScreenRecipe", "UIElementRecipe");
}

const RTTIClass* UIScreenRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIScreenRecipe::CreateElement() const { return new UIScreen(); }

const RTTIClass* UIClipboardRecipe::RegisterClass() {
    if (gClipboardClass) return gClipboardClass;
    UIElementRecipe::RegisterClass();
    return RegisterPlain<UIClipboardRecipe>(gClipboardClass, "UIClipboardRecipe", "UIElementRecipe");
}

const RTTIClass* UIClipboardRecipe::GetRTTIClass() const { return RegisterClass(); }
