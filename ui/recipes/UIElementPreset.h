#pragma once
// UIElementPreset: a named, stored set of position, size, scale, rotation, colour and
// visibility that a recipe applies to a live element, at once or as timed UI actions.
//
// Threads: main thread (its property list is read with its recipe's).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

class UIElement;
class UIElementRecipe;

// Below this time a preset sets its values at once.
constexpr float kUIPresetInstantTime = 0.001f;
// Action flag the timed preset actions carry (not the closing Wait).
constexpr uint32_t kUIPresetActionFlag = 0x80;

// The values a preset (or a recipe restoring its own) puts on an element.
struct UIPresetValues {
    Vector position;
    Vector rotation;
    Vector scale;
    Vector size;
    HDRColor color;
    bool hidden = false;
};

class UIElementPreset : public RTTIPolyBaseClass {
public:
    UIElementPreset() = default;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    virtual const char* GetClassName() const { return "UIElementPreset"; }
    // This preset's values onto element.
    virtual void ApplyToElement(UIElement* element, float t, uint32_t actionFlags, uint32_t channel,
                                bool cancelFirst) const;
    // The recipe's own values onto element, with the same steps.
    virtual void RestoreRecipeValues(const UIElementRecipe& recipe, UIElement* element, float t,
                                     uint32_t actionFlags, uint32_t channel, bool cancelFirst) const;

    // The shared steps: with cancelFirst remove the channel's actions; t < 0.001 sets
    // the values (and the hidden flag) at once; otherwise actions with flags | 0x80
    // (blend out or in when the visibility changes, move, rotate, scale, resize, colour)
    // and, unless cancelFirst, a closing Wait with the flags as given.
    static void ApplyValues(const UIPresetValues& v, UIElement* element, float t, uint32_t actionFlags,
                            uint32_t channel, bool cancelFirst);

    // ---- Stored values (registered properties) ----
    NameString id;
    bool hidden = false;
    Vector position{0, 0, 0, 1};
    Vector size{64, 64, 0, 0};
    Vector scale{1, 1, 1, 0};
    Vector rotation{0, 0, 0, 0};
    HDRColor color{255, 255, 255, 255, 1.0f};
    // Kept for editing; not consulted when applying.
    DynarraySafe<NameString> activeProperties;
};
