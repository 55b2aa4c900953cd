#include "ui/elements/UIRoundedRect.h"

#include <algorithm>

#include "ui/elements/UIPicture.h"

namespace {
constexpr uint32_t kCornerSampler = 7;  // the picture sampler mode of SetCornerTexture
}

UIRoundedRect::UIRoundedRect(uint8_t lastPictureFlag, const char* shaderOptions) {
    SetLuaClass("UIRoundedRect");
    RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_HIERARCHICALANCHOR, false);
    for (uint32_t i = 0; i < kPictures; ++i) {
        UIPicture* p = new UIPicture;
        p->SetColorMode(UICOLOR_MULTIPLYBYPARENTCOLOR);
        if (i < 3) p->SetTextureScale(Vector());
        p->SetShader("iPhoneUI", shaderOptions, 0, i + 1 == kPictures ? lastPictureFlag : 0);
        AddChild(p);
        pictures[i] = p;
    }
}

void UIRoundedRect::SetCornerTexture(const char* name) {
    for (UIPicture* p : pictures)
        if (p) p->SetTexture(name, 0, kCornerSampler);
}

void UIRoundedRect::SetCornerRadius(float value) {
    PostUIOpValues(kUIRoundedRectFamily, UIOP_ROUNDEDRECT_RADIUS, this, value);
}

void UIRoundedRect::HandleRoundedRectOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIRoundedRect* r = static_cast<UIRoundedRect*>(element);
    if (!r || op != UIOP_ROUNDEDRECT_RADIUS || !payload.ReadValue(r->radius)) {
        payload.Skip(payload.Left());
        return;
    }
    r->DoSetSize(r->Render().size);
}

void UIRoundedRect::DoSetSize(const Vector& size) {
    UIElement::DoSetSize(size);
    const float w = size.x, h = size.y;
    const float r = std::min(std::min(w, h), radius);
    struct Place {
        Vector size, position, rotation;
    };
    const Place places[kPictures] = {
        {Vector(w - 2 * r, r, 0, 0), Vector(r, 0, 0, 0), Vector()},           // top strip
        {Vector(w, h - 2 * r, 0, 0), Vector(0, r, 0, 0), Vector()},           // middle band
        {Vector(w - 2 * r, r, 0, 0), Vector(r, h - r, 0, 0), Vector()},       // bottom strip
        {Vector(r, r, 0, 0), Vector(r, r, 0, 0), Vector(0, 0, 180, 0)},        // top left
        {Vector(r, r, 0, 0), Vector(w - r, r, 0, 0), Vector(0, 0, -90, 0)},    // top right
        {Vector(r, r, 0, 0), Vector(r, h - r, 0, 0), Vector(0, 0, 90, 0)},     // bottom left
        {Vector(r, r, 0, 0), Vector(w - r, h - r, 0, 0), Vector()},            // bottom right
    };
    // The render children are the seven pictures in creation order.
    uint32_t i = 0;
    for (UIElement* c = Render().firstChild; c && i < kPictures; c = c->Render().nextSibling, ++i) {
        c->DoSetSize(places[i].size);
        c->RenderMutable().rotation = places[i].rotation;
        c->DoSetPosition(places[i].position);  // rebuilds the matrix and the mirrored flag
    }
}
