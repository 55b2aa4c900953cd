#pragma once
// RendererLight: the render thread's description of one light, and the list of active
// lights with its change counter. Only the fields the ambient cube refresh reads are
// here; the light set-up operations fill them.
//
// The change counter advances whenever a light enters or leaves the list or a listed
// light changes; the renderer re-renders its ambient cube when the counter moves.
//
// Threads: render thread only.
#include <cstdint>

#include "core/math/Vector.h"

class DeviceObjectHandle;

enum : uint8_t { AMBIENT_KIND_PLAIN = 0, AMBIENT_KIND_TWO_COLOUR = 1, AMBIENT_KIND_BLENDED = 2 };

struct RendererLight {
    Vector direction{0, 0, 1, 0};
    Vector colors[3] = {};  // first, second, third (the third's w is a blend weight)
    Vector maskAngles{};    // the mask texture's orientation, degrees about x, y, z
    float scalars[2] = {0.0f, 0.0f};
    DeviceObjectHandle* maskTexture = nullptr;  // none: no mask
    uint32_t exclusionBits = 0;                 // a light sharing a bit with the mask is left out
    uint8_t ambientKind = AMBIENT_KIND_PLAIN;

    RendererLight* previous = nullptr;
    RendererLight* next = nullptr;
    bool listed = false;
};

class RendererLightList {
public:
    // At the tail, when not listed yet.
    void Append(RendererLight* light);
    // When listed.
    void Unlink(RendererLight* light);
    void MarkChanged() { ++changeCounter; }

    RendererLight* Head() const { return head; }
    uint32_t ChangeCounter() const { return changeCounter; }

private:
    RendererLight* head = nullptr;
    RendererLight* tail = nullptr;
    uint32_t changeCounter = 0;
};

extern RendererLightList gActiveLights;
