#include "render/scene/RendererLight.h"

RendererLightList gActiveLights;

void RendererLightList::Append(RendererLight* light) {
    if (light->listed) return;
    light->previous = tail;
    light->next = nullptr;
    (tail ? tail->next : head) = light;
    tail = light;
    light->listed = true;
    ++changeCounter;
}

void RendererLightList::Unlink(RendererLight* light) {
    if (!light->listed) return;
    (light->previous ? light->previous->next : head) = light->next;
    (light->next ? light->next->previous : tail) = light->previous;
    light->previous = light->next = nullptr;
    light->listed = false;
    ++changeCounter;
}
