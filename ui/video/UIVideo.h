#pragma once
// UIVideo: a plain element that shows the playing video's current frame in its
// rectangle. It has no fields of its own; scripts make one with UIVideo.new.
//
// Threads: constructed and released on the main thread like every element; Draw runs on
// the render thread.
#include "ui/elements/UIElement.h"

class UIVideo : public UIElement {
public:
    UIVideo() = default;
    const RTTIClass* GetRTTIClass() const override;

    // ======== Render thread ========
    // Nothing without a player and an uploaded frame; else the Y, U and V planes on
    // samplers 1-3, sRGB writes off during the draw, the element's screen quad with the UI
    // shader pair 11 and colour (1, 1, 1, 1).
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;

protected:
    ~UIVideo() override = default;
};
