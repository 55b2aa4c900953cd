// The widgets' recipe classes: registration (the stored format), default objects, element
// construction and their Apply additions.
#include "ui/widgets/UIWidgetRecipes.h"

#include "core/rtti/DirectProperty.h"
#include "ui/widgets/UIButton.h"
#include "ui/widgets/UIList.h"
#include "ui/widgets/UIRadioButtonContainer.h"

namespace {

RTTIClass* gButtonClass = nullptr;
RTTIClass* gRadioClass = nullptr;
RTTIClass* gTabbedClass = nullptr;
RTTIClass* gListClass = nullptr;
RTTIClass* gRoundListClass = nullptr;

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
    if (element->IsUiButton()) {
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
    return RegisterPlainRecipeClass<UIRadioButtonContainerRecipe>(gRadioClass, "UIRadioButtonContainerRecipe",
                                                       "UIElementRecipe");
}

const RTTIClass* UIRadioButtonContainerRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElement* UIRadioButtonContainerRecipe::CreateElement() const { return new UIRadioButtonContainer; }

const RTTIClass* UITabbedContainerRecipe::RegisterClass() {
    if (gTabbedClass) return gTabbedClass;
    UIRadioButtonContainerRecipe::RegisterClass();
    return RegisterPlainRecipeClass<UITabbedContainerRecipe>(gTabbedClass, "UITabbedContainerRecipe",
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
    return RegisterPlainRecipeClass<UIListRecipe>(gListClass, "UIListRecipe", "UIElementRecipe");
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
