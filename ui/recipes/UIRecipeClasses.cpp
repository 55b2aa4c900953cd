// The recipe classes of the element kinds: registration (the stored format), default
// objects, element construction and their Apply additions.
#include "ui/recipes/UIRecipeClasses.h"

#include "core/rtti/DirectProperty.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITemplateView.h"
#include "ui/elements/UIUniTextInput.h"
#include "ui/recipes/UIElementPreset.h"

namespace {

RTTIClass* gUniTextInputClass = nullptr;
RTTIClass* gRoundedRectClass = nullptr;
RTTIClass* gTemplateViewClass = nullptr;
RTTIClass* gScreenClass = nullptr;
RTTIClass* gClipboardClass = nullptr;

constexpr uint32_t kTemplateNameFlags = 4096;

}  // namespace

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
    return RegisterPlainRecipeClass<UIScreenRecipe>(gScreenClass, "UIScreenRecipe", "UIElementRecipe");
}

const RTTIClass* UIScreenRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIScreenRecipe::CreateElement() const { return new UIScreen(); }

const RTTIClass* UIClipboardRecipe::RegisterClass() {
    if (gClipboardClass) return gClipboardClass;
    UIElementRecipe::RegisterClass();
    return RegisterPlainRecipeClass<UIClipboardRecipe>(gClipboardClass, "UIClipboardRecipe", "UIElementRecipe");
}

const RTTIClass* UIClipboardRecipe::GetRTTIClass() const { return RegisterClass(); }
