#pragma once
// SceneRenderList: the main thread's per-frame list of what the scene draws. Each
// rendered frame Builds it for the Game's block-rendering mask (gathering the visible
// entities), marks the gathered entities with the frame's render flags, adds the camera's
// entity, Submits it to the renderer, Resets it and posts its per-frame operation.
//
// The gathering and submission of entities come with the scene render list of the
// render side; until then every step here is empty, so a frame draws no entities.
//
// Main thread only.
#include <cstdint>

class Entity;

class SceneRenderList {
public:
    void Build(uint32_t blockRenderingMask) {}
    void MarkEntities(uint32_t renderFlags, uint32_t blockRenderingMask) {}
    void GatherEntity(Entity* entity) {}
    void Submit() {}
    void Reset() {}
    void PostPerFrameOperation() {}
};

inline SceneRenderList gSceneRenderList;
