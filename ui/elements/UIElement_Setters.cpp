// UIElement: the main-side setters, one op each.
#include <cmath>
#include <cstring>

#include "core/ThreadCheck.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UIElement.h"

#define ASSERT_MAIN_THREAD() ASSERT_ON_THREAD(GetMainThreadId(), "main thread")

namespace {

Vector ToLinear(const Vector& c) { return Vector(std::pow(c.x, 2.2f), std::pow(c.y, 2.2f), std::pow(c.z, 2.2f), c.w); }

}  // namespace

void UIElement::SetWindowAlignment(uint32_t alignment) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_WINDOWALIGNMENT, this, alignment);
}

void UIElement::SetAspectScaling(uint32_t mode) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_ASPECTSCALING, this, mode);
}

void UIElement::SetPosition(const Vector& position) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_POSITION, this, position);
}

void UIElement::SetPositionWithMask(float x, float y, float z, bool maskX, bool maskY, bool maskZ) {
    ASSERT_MAIN_THREAD();
    const Vector position(x, y, z, 1.0f);
    const Vector mask(maskX ? 1.0f : 0.0f, maskY ? 1.0f : 0.0f, maskZ ? 1.0f : 0.0f, 0.0f);
    PostUIOpValues(kUIElementFamily, UIOP_POSITIONWITHMASK, this, position, mask);
}

void UIElement::SetAnchor(const Vector& anchor) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_ANCHOR, this, anchor);
}

void UIElement::SetRotation(const Vector& degrees) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_ROTATION, this, degrees);
}

void UIElement::SetScale(const Vector& scale) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_SCALE, this, scale);
}

void UIElement::SetSize(const Vector& size) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_SIZE, this, size);
}

void UIElement::SetSelectionFrame(const Vector& frame) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_SELECTIONFRAME, this, frame);
}

void UIElement::SetColor(const Vector& color) { SetLinearColor(ToLinear(color)); }

void UIElement::SetLinearColor(const Vector& color) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_COLOR, this, color);
}

void UIElement::SetBlendMode(uint32_t mode) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_BLENDMODE, this, mode);
}

void UIElement::SetColorMode(uint32_t mode) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_COLORMODE, this, mode);
}

void UIElement::SetOutline(uint32_t index) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_OUTLINE, this, index);
}

void UIElement::SetName(const char* text) {
    ASSERT_MAIN_THREAD();
    name = text;
    const uint32_t count = name.IsEmpty() ? 0 : name.Length() + 1;
    const UIOpPart parts[] = {{&count, sizeof count}, {name.CStr(), count}};
    PostUIOpParts(kUIElementFamily, UIOP_NAME, this, parts, 2);
}

void UIElement::SetTag(const char* text) {
    ASSERT_MAIN_THREAD();
    const uint32_t count = text ? uint32_t(std::strlen(text) + 1) : 0;
    const UIOpPart parts[] = {{&count, sizeof count}, {text, count}};
    PostUIOpParts(kUIElementFamily, UIOP_TAG, this, parts, 2);
}

void UIElement::SetExtraParamVector(const Vector& value) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_EXTRAPARAM, this, value);
}

void UIElement::RemoveAllActions(uint32_t channel) {
    ASSERT_MAIN_THREAD();
    PostUIOpValues(kUIElementFamily, UIOP_REMOVEACTIONS, this, channel);
}
