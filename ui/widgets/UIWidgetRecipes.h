#pragma once
// The widgets' recipe classes: buttons, radio-button and tabbed containers, lists and
// round lists.
//
// Threads: main thread (their property lists are read with their template's).
#include "ui/recipes/UIPictureRecipe.h"

class UIButtonRecipe : public UIPictureRecipe {
public:
    UIButtonRecipe();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIButtonRecipe"; }
    const char* GetElementClassName() const override { return "UIButton"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIButtonRecipe(); }

    float scaleOnClick = 1.0f;
    float scaleTime = 0.2f;
    bool isActive = true;
};

class UIRadioButtonContainerRecipe : public UIElementRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIRadioButtonContainerRecipe"; }
    const char* GetElementClassName() const override { return "UIRadioButtonContainerRecipe"; }
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIRadioButtonContainerRecipe(); }
};

class UITabbedContainerRecipe : public UIRadioButtonContainerRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UITabbedContainerRecipe"; }
    const char* GetElementClassName() const override { return "UITabbedContainerRecipe"; }
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UITabbedContainerRecipe(); }
};

class UIListRecipe : public UIElementRecipe {
public:
    UIListRecipe();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIListRecipe"; }
    const char* GetElementClassName() const override { return "UIList"; }
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIListRecipe(); }
};

class UIRoundListRecipe : public UIListRecipe {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "UIRoundListRecipe"; }
    const char* GetElementClassName() const override { return "UIRoundList"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIRoundListRecipe(); }

    int32_t rangeFrom = 0;
    int32_t rangeTo = 10;
};
