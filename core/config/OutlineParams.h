#pragma once
// OutlineParams: the outline parameter block (colours per outline category, the
// dilatation kernel size and the softness). A renderer type; it lives with the
// configuration because ProjectConfig embeds two of them ("Outline", "UI outline").
// A plain 40-byte record, copied as a block into render commands.
//
// Registered as "OutlineParams" (root), properties in this order: "Color hostile"
// (255, 0, 0, 255, 1.0), "Color friendly" (0, 255, 0, 255, 1.0), "Color neutral"
// (0, 0, 255, 255, 1.0), "Color hero" (255, 255, 255, 255, 1.0) HDRColor;
// "Dilatation kernel size" float 1.0; "Softness" float 0.5.
#include "core/math/HDRColor.h"
#include "core/rtti/RTTIClass.h"

struct OutlineParams {
    HDRColor colorHostile{255, 0, 0, 255, 1.0f};
    HDRColor colorFriendly{0, 255, 0, 255, 1.0f};
    HDRColor colorNeutral{0, 0, 255, 255, 1.0f};
    HDRColor colorHero{255, 255, 255, 255, 1.0f};
    float dilatationKernelSize = 1.0f;
    float softness = 0.5f;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);

    // Script setters: the colour from the vector (HDRColor::SetFromVector), then its
    // intensity times the factor.
    void SetGammaSpaceColorHostile(const Vector& colour, float factor = 1.0f) { SetColor(colorHostile, colour, factor); }
    void SetGammaSpaceColorFriendly(const Vector& colour, float factor = 1.0f) { SetColor(colorFriendly, colour, factor); }
    void SetGammaSpaceColorNeutral(const Vector& colour, float factor = 1.0f) { SetColor(colorNeutral, colour, factor); }
    void SetGammaSpaceColorHero(const Vector& colour, float factor = 1.0f) { SetColor(colorHero, colour, factor); }
    void SetDilateKernelSize(float size) { dilatationKernelSize = size; }
    void SetSoftness(float value) { softness = value; }

private:
    static void SetColor(HDRColor& target, const Vector& colour, float factor) {
        target.SetFromVector(colour);
        target.intensity *= factor;
    }
};
static_assert(sizeof(OutlineParams) == 40, "copied as a 40-byte block into render commands");
