#pragma once
// UITextRecipe: the recipe of a UIText, or of a UITextBox when "Wrap text" is set (font,
// text or string id, alignment, pixel-perfect mode, colours, spacing).
//
// Threads: main thread (its property list is read with its template's).
#include "ui/recipes/UIElementRecipe.h"

// "Pixel perfect" values and the element flags each raises.
enum : uint8_t { UITEXTRECIPE_PIXEL_NONE = 0, UITEXTRECIPE_PIXEL_FULL = 1, UITEXTRECIPE_PIXEL_VERTICAL = 2,
                 UITEXTRECIPE_PIXEL_HORIZONTAL = 3 };
// The character spacing a recipe stores is kept within +-1000.
constexpr int32_t kUITextRecipeMaxSpacing = 1000;
// Element flag of a text box made by a recipe.
constexpr uint32_t kUITextRecipeBoxFlag = 0x1000000;

class UITextRecipe : public UIElementRecipe {
public:
    UITextRecipe() = default;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    const char* GetClassName() const override { return "UITextRecipe"; }
    const char* GetElementClassName() const override { return "UIText"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UITextRecipe(); }

    // The spacing the element gets at a UI resolution of width x height: "Character
    // spacing" plus the lo-res offset unless the resolution is wider than 640 and taller
    // than 480, clamped to +-1000.
    int32_t SpacingFor(uint32_t width, uint32_t height) const;
    // The element flags "Pixel perfect" raises.
    uint32_t PixelPerfectFlags() const;

    // ---- Stored values ----
    NameString font;
    uint32_t fontSize = 10;
    NameString text;
    bool upperCase = false;
    bool localized = false;
    bool doNotReplace = false;
    uint32_t horizontalAlignment = 0;
    uint32_t verticalAlignment = 0;
    uint8_t pixelPerfect = UITEXTRECIPE_PIXEL_FULL;
    HDRColor bottomColor{255, 255, 255, 0, 1.0f};
    uint32_t outlineWidth = 0;
    HDRColor outlineColor{255, 0, 255, 255, 1.0f};
    Vector shadowPosition{0, 0, 0, 0};
    HDRColor shadowColor{0, 0, 0, 255, 1.0f};
    bool wrapText = false;
    bool debugBox = false;
    int32_t characterSpacing = 0;
    int32_t charSpacingLoResOffset = 0;
    float lineSpacing = 1.0f;

protected:
    // The text steps of Apply.
    void ApplyText(UIElement* element) const;
};
