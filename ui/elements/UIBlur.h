#pragma once
// UIBlur: a panel showing the blurred screen behind it. Below quality level 2 it draws a
// dark translucent quad instead, as it does when the blurred copy cannot be made.
//
// Main thread: the setters post ops 68 and 69. Render thread: the ops and the draw.
#include "ui/elements/UIElement.h"

enum : uint32_t { UIOP_BLUR_PARAMS = 68, UIOP_BLUR_SATURATION = 69 };

class UIBlur : public UIElement {
public:
    UIBlur();

    // ======== Main thread ========
    // Sigma of the blur and the number of blur iterations.
    void SetBlurParams(float sigma, uint32_t iterations);
    void SetSaturation(float saturation);

    // ======== Render thread ========
    static void HandleBlurOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    float Sigma() const { return sigma; }
    uint32_t Iterations() const { return iterations; }
    float Saturation() const { return saturation; }

private:
    float sigma = 4.0f;
    uint32_t iterations = 1;
    float saturation = 1.0f;
};

inline constexpr UIOpFamily kUIBlurFamily = MakeUIOpFamily<&UIBlur::HandleBlurOp>();

// The screen quad of the blur and video kinds (render thread): the shared unit quad of
// the element's size through the world matrix with the fixed UI shader pair of the slot,
// texture 0 and its sampler, optional texture scale and offset (vertex c195-c196) and
// pixel constant 4.
struct UIScreenQuad {
    uint32_t shaderSlot = 0;
    const class DeviceObjectHandle* texture = nullptr;
    uint32_t sampler = 0;
    const Vector* texScale = nullptr;
    const Vector* texOffset = nullptr;
    const Vector* pixelConstant = nullptr;
};
void DrawUIScreenQuad(const UIElement& element, const Matrix& world, const Vector& colour, bool mirrored,
                      const UIScreenQuad& quad);
