// The scene-wide lighting state of the render thread. The main thread posts command 47
// records to Execute; task 41 runs Update once per frame with the frame's three clocks.
#include "render/scene/RendererScene.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/Memory.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "platform/os/Clock.h"
#include "render/VornexRenderer_Local.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/SceneCommand.h"
#include "render/scene/SceneParametersWrapper.h"

RendererScene* gRendererScene = nullptr;

namespace {
// v - floor(v) per component, kept below 1 when a tiny negative rounds up to it.
float Wrap(float v) {
    const float w = v - std::floor(v);
    return w >= 1.0f || !std::isfinite(w) ? 0.0f : w;
}
Vector Wrap(const Vector& v) { return Vector(Wrap(v.x), Wrap(v.y), Wrap(v.z), Wrap(v.w)); }

constexpr float kPi = 3.14159265f;

// Which of the frame parameters' clocks (0 engine, 1 smooth game, 2 smooth gameplay) a
// blend's mode bits pick.
uint32_t BlendClock(uint32_t mode) {
    switch (mode & SCENE_MODE_CLOCK_MASK) {
        case SCENE_MODE_CLOCK_ENGINE:
            return 0;
        case SCENE_MODE_CLOCK_GAMEPLAY:
            return 2;
        default:
            return 1;
    }
}
}  // namespace

// ---------------------------------------------------------------------------------------
// Main thread

template <class... T>
bool RendererScene::Post(uint32_t op, const T&... data) {
    return PostObjectCall(&Execute, op, this, data...);
}

void RendererScene::PostInit() {
    if (initialised) return;
    initialised = true;
    Post(1);
}

void RendererScene::PostShutdown() {
    ClearLightmaps();
    Post(2);
    gVornexRenderer.FlushCommands(true);
    initialised = false;
}

void RendererScene::PostSceneParameters(SceneParametersWrapper* set, uint32_t mode, float seconds) {
    // The engine clock's blends count from 0; the others from the clock's last posted value.
    const uint32_t clock = BlendClock(mode);
    const uint64_t start = clock == 0 ? 0 : uint64_t(gVornexRenderer.PostedClockTicks(clock));
    Post(0, uint32_t(start), uint32_t(start >> 32), set, mode, seconds);
}

void RendererScene::PostSceneParametersChanged(SceneParametersWrapper* set) { Post(3, set); }
void RendererScene::PostPreviewOn() { Post(4); }
void RendererScene::PostPreviewOff() { Post(5); }

void RendererScene::PostTerrainLightmap(const Vector& box0, const Vector& box1, const Vector& box2) {
    Post(6, box0, box1, box2);
}

void RendererScene::ClearLightmaps() {
    Post(7);
    ReleaseResources(lightmaps, kLightmapCount);
    gResourceManager.PostEvictResources(1u << RESOURCE_TEXTURE, false, RESOURCE_FLAG_SCENE_TEXTURE,
                                        RESOURCE_FLAG_SCENE_TEXTURE);
    gVornexRenderer.FlushCommands(true);
    gResourceManager.Flush();
    for (Resource*& r : lightmaps) r = nullptr;
}

void RendererScene::LoadLightmaps(const char* sceneName) {
    ClearLightmaps();
    if (!sceneName) return;
    for (uint32_t i = 0; i < kLightmapCount; ++i) {
        // "<scene>_lm<i>" with room for ".dds" in a resource name.
        char base[kMaxResourceName + 1 - 4], name[kMaxResourceName + 1];
        if (std::snprintf(base, sizeof base, "%s_lm%d", sceneName, int(i)) >= int(sizeof base)) break;
        if (!gFileSystem.FileExists(base, "dds", "scenes")) break;
        std::snprintf(name, sizeof name, "%s.dds", base);
        lightmaps[i] = gResourceManager.GetResource(RESOURCE_TEXTURE, name, 0, true, RESOURCE_FLAG_SCENE_TEXTURE);
        if (lightmaps[i]) lightmaps[i]->QueueLoad();
    }
    char* copy = fs::CopyText(sceneName);
    if (!Post(8, copy)) EngineFree(copy);
    gVornexRenderer.FlushCommands(true);
    gResourceManager.Flush();
}

// ---------------------------------------------------------------------------------------
// Render thread

SceneParametersWrapper* RendererScene::GetCurrentParameters() const {
    if (previewActive) return sets[SET_PREVIEW];
    return overrideActive ? sets[SET_OVERRIDE] : sets[SET_IN_FORCE];
}

void RendererScene::CreateSets() {
    for (SceneParametersWrapper*& s : sets) {
        if (s) continue;
        s = setFactory ? setFactory() : new SceneParametersWrapper;
        s->LoadDefaults();
    }
}

void RendererScene::DestroySets() {
    for (SceneParametersWrapper*& s : sets) {
        if (s) s->Destroy();
        s = nullptr;
    }
    blendRunning = overrideActive = previewActive = false;
}

void RendererScene::Activate(uint64_t startTicks, SceneParametersWrapper* set, uint32_t mode, float seconds) {
    if (!sets[SET_IN_FORCE]) return;
    if (mode & SCENE_MODE_OVERRIDE) {
        if (set) sets[SET_OVERRIDE]->CopyFrom(*set);
        overrideActive = set != nullptr;
        lightingChanged = true;
        return;
    }
    if (mode & SCENE_MODE_STOP_OVERRIDE) overrideActive = false;
    sets[SET_BLEND_FROM]->CopyFrom(*sets[SET_IN_FORCE]);
    if (set) {
        sets[SET_BLEND_TO]->CopyFrom(*sets[SET_IN_FORCE]);
        sets[SET_BLEND_TO]->CopySectionsFrom(*set);
    } else {
        sets[SET_BLEND_TO]->LoadDefaults();
    }
    blendRunning = true;
    blendStart = startTicks;
    blendMode = mode;
    blendSeconds = seconds;
}

float RendererScene::Ease(uint32_t easing, float t) {
    switch (easing & SCENE_MODE_EASING_MASK) {
        case 0:
            return 0.5f * (std::sin((t - 0.5f) * kPi) + 1.0f);
        case 16:
            return std::sin(t * kPi / 2.0f);
        case 32:
            return 1.0f - std::sin((1.0f - t) * kPi / 2.0f);
        default:
            return t;
    }
}

void RendererScene::Update(const RenderFrameClock clocks[3]) {
    SceneParametersWrapper* inForce = sets[SET_IN_FORCE];
    if (!inForce) return;
    if (blendRunning) {
        const RenderFrameClock& c = clocks[BlendClock(blendMode)];
        const float elapsed = float(c.ticks - int64_t(blendStart)) / float(os::kCounterFrequency);
        float t = elapsed / blendSeconds;
        if (!(blendSeconds > 0.001f) || !(t < 1.0f)) {
            t = 1.0f;
            blendRunning = false;
        }
        if (t < 0.0f) t = 0.0f;  // a clock behind the start
        inForce->Blend(*sets[SET_BLEND_FROM], *sets[SET_BLEND_TO], Ease(blendMode, t));
        lightingChanged = true;
    }
    // The scroll runs on smooth game time, the clock of a blend's default mode.
    const float frameTime = clocks[1].frameTime;
    cloudOffset = Wrap(cloudOffset + inForce->CloudDrift() * frameTime);
    layerOffset = Wrap(layerOffset + inForce->LayerDrift() * frameTime);
    inForce->RebuildCloudProjection(cloudOffset);

    const float a = inForce->RangeStart(), b = inForce->RangeEnd();
    if (std::fabs(b - a) > 0.001f) {
        rangeScale = 1.0f / (b - a);
        rangeOffset = -a * rangeScale;
    } else {
        rangeScale = 0.0f;
        rangeOffset = 1.0f;
    }
    const float f = inForce->CorrectionAmount();
    correctionColor = Vector(1, 1, 1, 1) * (1.0f - f) + inForce->CorrectionColor() * f;
}

void RendererScene::Execute(uint32_t op, CommandRingBuffer& r) {
    RendererScene* scene = nullptr;
    if (!Read(r, scene)) return;
    switch (op) {
        case 0: {
            uint32_t a = 0, b = 0, mode = 0;
            SceneParametersWrapper* set = nullptr;
            float seconds = 0.0f;
            if (Read(r, a, b, set, mode, seconds) && scene)
                scene->Activate(uint64_t(a) | uint64_t(b) << 32, set, mode, seconds);
            break;
        }
        case 1:
            if (scene) scene->CreateSets();
            break;
        case 2:
            if (scene) scene->DestroySets();
            break;
        case 3: {
            SceneParametersWrapper* set = nullptr;
            if (Read(r, set) && scene && set && scene->sets[SET_PREVIEW]) scene->sets[SET_PREVIEW]->CopyFrom(*set);
            break;
        }
        case 4:
        case 5:
            if (scene) scene->previewActive = op == 4;
            break;
        case 6: {
            Vector boxes[3];
            if (Read(r, boxes) && scene) std::memcpy(scene->terrainLightmapBoxes, boxes, sizeof boxes);
            break;
        }
        case 7:
            if (scene) scene->probeMap.Clear();
            break;
        case 8: {
            char* name = nullptr;
            if (!Read(r, name)) break;
            if (scene) scene->probeMap.Load(name);
            EngineFree(name);
            break;
        }
        default:
            break;
    }
}
