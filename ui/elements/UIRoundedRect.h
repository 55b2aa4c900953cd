#pragma once
// UIRoundedRect: a rectangle with rounded corners drawn by seven pictures it owns (a top
// strip, a middle band and a bottom strip first, then the four corners) that share its
// corner texture. The strips read one texel of it (texture scale zero); the corners
// are quarter pictures rotated into place. Its size operation lays the seven out for the
// radius r = min(w, h, corner radius).
//
// Main thread: construction and the setters (op 67 for the radius). Render thread: op 67
// and the size operation place the children.
#include "ui/elements/UIElement.h"

class UIPicture;

constexpr uint32_t UIOP_ROUNDEDRECT_RADIUS = 67;

class UIRoundedRect : public UIElement {
public:
    static constexpr uint32_t kPictures = 7;
    static constexpr float kDefaultRadius = 10.0f;
    enum : uint32_t { kTopStrip = 0, kMiddleBand = 1, kBottomStrip = 2, kFirstCorner = 3 };

    // The seventh picture's shader flag and the option string of the "iPhoneUI" shaders.
    explicit UIRoundedRect(uint8_t lastPictureFlag = 0, const char* shaderOptions = "");

    // ======== Main thread ========
    // SetTexture(name, 0, 7) on each picture.
    void SetCornerTexture(const char* name);
    void SetCornerRadius(float radius);
    UIPicture* Picture(uint32_t i) const { return pictures[i]; }

    // ======== Render thread ========
    static void HandleRoundedRectOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void DoSetSize(const Vector& size) override;
    float CornerRadius() const { return radius; }

private:
    UIPicture* pictures[kPictures] = {};
    float radius = kDefaultRadius;  // render thread
};

inline constexpr UIOpFamily kUIRoundedRectFamily = MakeUIOpFamily<&UIRoundedRect::HandleRoundedRectOp>();
