// The mission selector's route: segments stretched between consecutive indicators.
#include "game/path/ZKRMissionSelectorPathRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/math/Vector.h"

namespace {

// Height of a segment per unit of its indicator's scale.
constexpr float kSegmentThickness = 74.0f;

// The render-side child of the element with that name, or null. Names are read from the
// render half's copy: the main thread may rename an element (and free its old name) while
// this runs.
UIElement* RenderChildNamed(const UIElement* parent, const char* name) {
    for (UIElement* c = parent->Render().firstChild; c; c = c->Render().nextSibling)
        if (std::strcmp(c->Render().name.CStr(), name) == 0) return c;
    return nullptr;
}

}  // namespace

ZKRMissionSelectorPathRenderer::ZKRMissionSelectorPathRenderer() { SetLuaClass("ZKRMissionSelectorPathRenderer"); }

void ZKRMissionSelectorPathRenderer::Draw(const Matrix&, const Vector&, bool, const UIFadeRecord*) { PlaceSegments(); }

void ZKRMissionSelectorPathRenderer::PlaceSegments() {
    UIElement* segmentList = RenderChildNamed(this, "Segments");
    UIElement* indicatorList = RenderChildNamed(this, "Indicators");
    UIElement* segment = segmentList ? segmentList->Render().firstChild : nullptr;
    UIElement* a = indicatorList ? indicatorList->Render().firstChild : nullptr;
    if (!segment) return;
    while (a && segment) {
        UIElement* b = a->Render().nextSibling;
        if (!b) break;
        const UIElementRenderHalf& from = a->Render();
        const Vector d = b->Render().position - from.position;
        const float lengthScale = from.color.x;
        const float gapScale = from.color.y;
        const float scale = from.scale.x;
        const float length = d.Length3() * lengthScale;
        const float gap = gapScale * lengthScale * scale;
        const float along = gap / std::max(length, 0.001f);
        Vector position = from.position + d * along;
        position.w = from.position.w;
        segment->DoSetPosition(position);
        segment->DoSetRotation(Vector(0.0f, 0.0f, std::atan2(d.y, d.x) * kRadToDeg, 1.0f));
        segment->DoSetScale(Vector(std::max(0.0f, length - 2.0f * gap), scale * kSegmentThickness, 1.0f, 1.0f));
        a = b;
        segment = segment->Render().nextSibling;
    }
}
