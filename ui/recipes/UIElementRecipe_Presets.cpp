// UIElementRecipe: presets.
#include "ui/recipes/UIElementPreset.h"
#include "ui/recipes/UIElementRecipe.h"

void UIElementRecipe::ApplyPreset(const char* presetName, UIElement* element, float t, uint32_t actionFlags,
                                  uint32_t channel, bool cancelFirst) const {
    if (const UIElementPreset* p = presetName ? FindPreset(presetName) : nullptr) {
        p->ApplyToElement(element, t, actionFlags, channel, cancelFirst);
        return;
    }
    // An unknown (or no) name restores the recipe's own values, through the first preset;
    // a recipe without presets has nothing to restore.
    if (presets.Count() == 0) return;
    if (presets[0]) {
        presets[0]->RestoreRecipeValues(*this, element, t, actionFlags, channel, cancelFirst);
        return;
    }
    const UIElementPreset stand;  // a stored null entry
    stand.RestoreRecipeValues(*this, element, t, actionFlags, channel, cancelFirst);
}
