#pragma once
// Private to render/scene: the command 47 record of the render-side scene objects. Its
// payload is the executor, the op number (at native size), the object, then the op's
// fields packed in order; the executor reads the object and the fields back with Read.
#include <cstdint>

#include "render/VornexRenderer.h"

template <class... T>
bool PostObjectCall(RenderCallFunction executor, uint32_t op, void* object, const T&... data) {
    constexpr uint32_t dataBytes = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    constexpr uint32_t size = sizeof(RenderCallFunction) + sizeof(uintptr_t) + sizeof(void*) + dataBytes;
    if (!gVornexRenderer.BeginCommand(TASK_CALL, size)) return false;
    CommandRingBuffer& ring = gVornexRenderer.Ring();
    ring.WriteValue(executor);
    ring.WriteValue(uintptr_t(op));
    ring.WriteValue(object);
    (ring.WriteValue(data), ...);
    return true;
}
