#pragma once
// SceneRenderList: the main thread's per-frame list of what the scene draws. Each
// rendered frame the Game Builds it (the entities of the entity grid that the camera
// frustum sees), marks the gathered entities with the frame's render flags, submits them
// as the main scene pass (GatherEntity: tasks 48, 69 per entity, 49), submits the
// entities set aside for the late pass (Submit), Resets it and posts the debug path
// draw. It also owns the render-side DebugPathList.
//
// Options (the Game passes its block-rendering mask): bit 1 adds render flag 0x1000 and
// bit 2 adds 0x2000 (tactical views); bit 3 takes every visible layer with detail limit
// 5; bit 4 also leaves out entities flagged 0x800002 and the frozen layers.
//
// Threads: main thread only; everything reaches the render thread as commands.
#include <cstdint>
#include <vector>

#include "core/math/Vector.h"

class DebugPathList;
class Entity;

class SceneRenderList {
public:
    static constexpr uint32_t kVisitedBits = 32768;  // one per entity key (kMaxLiveEntities)
    static constexpr uint32_t kLatePassFlags = 0x38000;
    static constexpr uint32_t kLatePassEntityFlag = 0x20000;

    SceneRenderList();
    ~SceneRenderList();
    SceneRenderList(const SceneRenderList&) = delete;
    SceneRenderList& operator=(const SceneRenderList&) = delete;

    // Gathers the visible entities (after clearing the list). A camera without an
    // inverse view-projection gathers nothing.
    void Build(uint32_t options, uint32_t excludeMask);
    void MarkEntities(uint32_t renderFlags, uint32_t options);
    // The main scene pass: task 48, the entities not set aside, task 49 with the flags,
    // the clear byte and colour. Sets the visible-entities counter.
    void GatherEntity(uint32_t renderFlags, uint32_t options, uint8_t clear, const Vector& clearColor);
    // The late pass of the entities set aside (flag 0x20000); nothing when there are none.
    void Submit(uint32_t renderFlags);
    void Reset();
    void SetView(const float values[6]);
    // Debug paths: PostRelease empties both lists and waits; the per-frame operation
    // draws them.
    void PostRelease();
    void PostPerFrameOperation();

    const std::vector<Entity*>& Gathered() const { return gathered; }
    const std::vector<Entity*>& LatePass() const { return late; }
    DebugPathList& DebugPaths() { return *debugPaths; }

private:
    std::vector<Entity*> gathered;
    std::vector<Entity*> late;
    float view[6] = {};
    std::vector<uint64_t> visited;  // kVisitedBits bits, cleared per build
    DebugPathList* debugPaths;
};

// Made and destroyed by the engine's start-up table (row "gSceneRenderList").
extern SceneRenderList* gSceneRenderList;
