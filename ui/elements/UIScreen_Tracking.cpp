// UIScreen: elements placed over scene entities (main thread). Every frame each record
// posts its element's placement (op 24); a record whose element was released elsewhere is
// dropped, and one whose entity died releases its element unless it survives the death.
#include <algorithm>
#include <cmath>

#include "engine/entity/Entity.h"
#include "ui/elements/UIScreen.h"

void UIScreen::EnableEntityTracking(UIElement* element, Entity* entity, uint32_t trackingFlags, const Vector& offset,
                                    uint32_t extra) {
    if (!element || !entity) return;
    DisableEntityTracking(element);
    UITrackedEntity* t = new UITrackedEntity;
    t->element = element;
    t->entity = entity;
    t->offset = offset;
    t->lastPosition = entity->GetGlobalPosition();
    t->flags = trackingFlags;
    t->extra = extra;
    tracked.push_back(t);
}

void UIScreen::DisableEntityTracking(UIElement* element) {
    for (UITrackedEntity* t : tracked)
        if (t->element.Get() == element) t->element = nullptr;
}

void UIScreen::UpdateTrackedEntities(const Matrix& view, const Matrix& projection) {
    Matrix inverseView, viewProjection;
    inverseView.Inverse(view);
    viewProjection.Mul(projection, view);  // view first, then the projection
    Vector up;
    up.Transform(inverseView, Vector(0, 1, 0, 0));
    const float cameraScale = std::sqrt(up.x * up.x + up.y * up.y + up.z * up.z);

    size_t kept = 0;
    for (size_t i = 0; i < tracked.size(); ++i) {
        UITrackedEntity* t = tracked[i];
        UIElement* element = t->element.Get();
        Entity* entity = t->entity.Get();
        const bool healthBar = (t->flags & UIENTITYTRACKING_HEALTHBARMODE) != 0;
        const bool survives = !healthBar && (t->flags & UIENTITYTRACKING_SURVIVEENTITYDEATH);
        if (!element || (!entity && !survives)) {
            // Gone elsewhere: drop silently; the entity died: release the element too.
            if (element) element->Release();
            delete t;
            continue;
        }
        Vector anchor;
        if (healthBar) {
            Vector top;
            top.Transform(entity->GetGlobalLocationMatrix(), Vector(0, entity->GetLocalBoundingBox().max.y, 0, 1));
            anchor = top + t->offset;
        } else {
            if (entity) t->lastPosition = entity->GetGlobalPosition();
            anchor = t->lastPosition + t->offset;
        }
        anchor.w = 1.0f;
        Vector projected;
        projected.Transform(viewProjection, anchor);
        if (entity && (t->flags & UIENTITYTRACKING_HIDEWITHENTITY)) {
            if (entity->IsHidden() && !t->hiddenByEntity) {
                t->hiddenByEntity = true;
                element->Hide();
            } else if (!entity->IsHidden() && t->hiddenByEntity) {
                t->hiddenByEntity = false;
                element->Show();
            }
        }
        PostUIOpValues(kUIElementFamily, UIOP_ENTITYTRACKING, element, projected, cameraScale, t->flags);
        tracked[kept++] = t;
    }
    tracked.resize(kept);
}
