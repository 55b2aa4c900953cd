#pragma once
// The recipe classes of the element kinds beyond the element, picture and text recipes:
// the wide text input, rounded rectangles, template views, screens and the clipboard
// (which makes nothing). The widgets' recipes are in ui/widgets/UIWidgetRecipes.h.
//
// Threads: main thread (their property lists are read with their template's).
#include "ui/recipes/UIPictureRecipe.h"
#include "ui/recipes/UITextRecipe.h"

class UIUniTextInputRecipe : public UITextRecipe {
public:
    UIUniTextInputRecipe();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIUniTextInputRecipe"; }
    const char* GetElementClassName() const override { return "UIUniTextInput"; }
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIUniTextInputRecipe(); }

    uint32_t maxInputLength = 32;
};

class UIRoundedRectRecipe : public UIElementRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIRoundedRectRecipe"; }
    const char* GetElementClassName() const override { return "UIRoundedRect"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIRoundedRectRecipe(); }

    NameString cornerTexture{"iPhone/UI/Round_Edge_01$cxy.dds"};
    float cornerRadius = 15.0f;
};

class UITemplateViewRecipe : public UIElementRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UITemplateViewRecipe"; }
    const char* GetElementClassName() const override { return "UITemplateView"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UITemplateViewRecipe(); }

    NameString templateName;
    NameString shaderPreset;
    bool startImmediately = true;
    bool orthoProjection = false;
};

class UIScreenRecipe : public UIElementRecipe {
public:
    UIScreenRecipe();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Any property change enables the screen recipe again.
    void OnPropertyChanged(const char* propertyName) override { disabled = UIRECIPE_ENABLED; }
    const char* GetClassName() const override { return "UIScreenRecipe"; }
    const char* GetElementClassName() const override { return "UIScreen"; }
    UIElement* CreateElement() const override;
    void CycleDisabled() override { disabled = UIRECIPE_ENABLED; }
    UIElementRecipe* CreateDefault() const override { return new UIScreenRecipe(); }
};

class UIClipboardRecipe : public UIElementRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIClipboardRecipe"; }
    const char* GetElementClassName() const override { return "Undefined"; }
    UIElement* CreateElement() const override { return nullptr; }
    UIElementRecipe* CreateDefault() const override { return new UIClipboardRecipe(); }
};
