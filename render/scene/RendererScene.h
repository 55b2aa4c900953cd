#pragma once
// RendererScene (global gRendererScene): the render thread's scene-wide lighting state
// and the scene-parameter manager: the five scene-parameter sets and the choice of the
// set in force, the terrain lightmap boxes, the game light probe map, and on the main
// thread the scene's lightmap textures.
//
// The main thread changes the render-side state only through render command 47 records
// to RendererScene::Execute (payload: the op at native size, the object, the op's data):
//   0 u32 a, u32 b (start ticks, low and high), set, u32 mode, f32 seconds: activate a set
//   1 create and initialise the five sets (PostInit, once)   2 destroy them (PostShutdown)
//   3 set: copy it into the preview set   4 / 5 preview on / off
//   6 three vectors: terrain lightmap boxes   7 clear the probe map
//   8 heap copy of a scene name: load its probe map, then free the name   9 nothing
//
// Mode bits of op 0: 1 override (a set: copy it into the override set and use it; none:
// stop overriding), 2 stop overriding, then blend; bits 12 pick the clock of the blend
// among the frame parameters' three (8 the engine clock, start 0; 4 smooth gameplay
// time; else smooth game time);
// bits 48 the easing (0 sine in-out, 16 sine in, 32 sine out, 48 linear).
//
// Threads: the Post* members, ClearLightmaps, LoadLightmaps and Lightmap on the main
// thread; Execute, Update, GetCurrentParameters and the readers on the render thread.
#include <cstdint>

#include "core/math/Vector.h"
#include "render/SceneDrawServices.h"
#include "render/scene/LightProbeMap.h"

class CommandRingBuffer;
class Resource;
class SceneParametersWrapper;

enum : uint32_t {
    SCENE_MODE_OVERRIDE = 1,
    SCENE_MODE_STOP_OVERRIDE = 2,
    SCENE_MODE_CLOCK_MASK = 12,
    SCENE_MODE_CLOCK_ENGINE = 8,    // the frame parameters' first clock
    SCENE_MODE_CLOCK_GAMEPLAY = 4,  // their third (smooth gameplay); else the second
    SCENE_MODE_EASING_MASK = 48,
};

class RendererScene {
public:
    static constexpr uint32_t kLightmapCount = 8;
    enum ParameterSet : uint32_t { SET_IN_FORCE, SET_PREVIEW, SET_BLEND_FROM, SET_BLEND_TO, SET_OVERRIDE, SET_COUNT };

    RendererScene() = default;
    RendererScene(const RendererScene&) = delete;
    RendererScene& operator=(const RendererScene&) = delete;

    // ======== Main thread ========
    // Op 1 the first time (until PostShutdown).
    void PostInit();
    // ClearLightmaps, op 2, then a flush that waits.
    void PostShutdown();
    // Op 0 with the start ticks of the clock the mode picks (0 for the first clock).
    void PostSceneParameters(SceneParametersWrapper* set, uint32_t mode, float seconds);
    void PostSceneParametersChanged(SceneParametersWrapper* set);
    void PostPreviewOn();  // the preview scene parameters take over
    void PostPreviewOff();  // the preview scene parameters step back
    void PostTerrainLightmap(const Vector& box0, const Vector& box1, const Vector& box2);
    // Op 7; releases the lightmaps, evicts the scene textures, flushes the stream, waits
    // for the ResourceManager and forgets the handles.
    void ClearLightmaps();
    // ClearLightmaps; then "<scene>_lm<i>.dds" in "scenes" for i = 0 to 7 up to the first
    // missing one, each requested as a scene texture; then op 8 and the waits.
    void LoadLightmaps(const char* sceneName);
    Resource* Lightmap(uint32_t i) const { return i < kLightmapCount ? lightmaps[i] : nullptr; }
    bool Initialised() const { return initialised; }

    // The five sets of op 1 are made by this factory (null: SceneParametersWrapper).
    using SetFactory = SceneParametersWrapper* (*)();
    void SetParameterSetFactory(SetFactory factory) { setFactory = factory; }

    // ======== Render thread ========
    static void Execute(uint32_t op, CommandRingBuffer& r);
    // The preview set while the preview is on, else the set in force unless an override
    // is active, else the override set. Null before op 1.
    SceneParametersWrapper* GetCurrentParameters() const;
    // Task 41 with the frame's three clocks: blend step, scroll offsets, range factors
    // and correction colour.
    void Update(const RenderFrameClock clocks[3]);

    bool LightingChanged() const { return lightingChanged; }
    void ClearLightingChanged() { lightingChanged = false; }
    bool OverrideActive() const { return overrideActive; }
    bool PreviewActive() const { return previewActive; }
    bool BlendRunning() const { return blendRunning; }
    SceneParametersWrapper* Set(uint32_t i) const { return i < SET_COUNT ? sets[i] : nullptr; }
    const Vector& TerrainLightmapBox(uint32_t i) const { return terrainLightmapBoxes[i]; }
    const LightProbeMap& ProbeMap() const { return probeMap; }
    const Vector& CloudOffset() const { return cloudOffset; }
    const Vector& LayerOffset() const { return layerOffset; }
    float RangeScale() const { return rangeScale; }
    float RangeOffset() const { return rangeOffset; }
    const Vector& CorrectionColor() const { return correctionColor; }

    // The blend factor for easing bits (mode & 48) at t in [0, 1].
    static float Ease(uint32_t easing, float t);

private:
    template <class... T>
    bool Post(uint32_t op, const T&... data);
    void Activate(uint64_t startTicks, SceneParametersWrapper* set, uint32_t mode, float seconds);
    void CreateSets();
    void DestroySets();

    // Main thread.
    bool initialised = false;
    Resource* lightmaps[kLightmapCount] = {};
    SetFactory setFactory = nullptr;

    // Render thread.
    SceneParametersWrapper* sets[SET_COUNT] = {};
    bool overrideActive = false;
    bool previewActive = false;
    bool lightingChanged = false;
    Vector terrainLightmapBoxes[3];
    LightProbeMap probeMap;
    bool blendRunning = false;
    uint64_t blendStart = 0;
    uint32_t blendMode = 0;
    float blendSeconds = 0.0f;
    Vector cloudOffset{0, 0, 0, 0}, layerOffset{0, 0, 0, 0};
    float rangeScale = 1.0f, rangeOffset = 0.0f;
    Vector correctionColor{1, 1, 1, 1};
};

// Built and destroyed by the renderer's start-up rows (module 5).
extern RendererScene* gRendererScene;
