#pragma once
// VornexRenderer (global gVornexRenderer): the only owner of the graphics device.
//
// Every other thread talks to the renderer by writing records into its command
// stream: 4096-byte blocks, each the payload of one ring record 8 of the renderer's
// BaseThread ("Renderer", 0x100000-byte ring, no writer lock, time-out 0). A record is
// a u32 task id at a 4-byte-aligned offset from the block's start followed by its
// payload, packed (a u32 may follow a byte unaligned); a block ends with terminator 0,
// or 1 when the writer waits for it to run. A record never spans two blocks, so the
// largest payload is 4088 bytes; a larger one is refused with an error line and nothing
// is written (large data travels as a heap block whose pointer the record carries).
// Pointers and handles in payloads are stored at native size.
//
// Threads:
//  - Main thread: Start, Stop, Reset, BeginCommand, FlushCommands, EndFrame,
//    WaitForFrameLatency, SetSceneLoading, every Post/Set writer and the main-thread
//    copies of the camera (asserted in development builds once started).
//  - Render thread: the task loop, the idle tick and every device call (the state
//    cache, targets, geometry, the debug draws). Only Start (device creation) and Reset
//    touch the device from the main thread, with the render thread drained.
//  - Any thread: the atomic counts and flags.
// Device-object owners and the draw seams (SceneDrawServices, UIDrawServices) are
// installed at start-up, before Start; GameRenderServices while the Game runs.
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/BaseThread.h"
#include "core/Sync.h"
#include "core/config/OutlineParams.h"
#include "core/math/BoundingBox4.h"
#include "core/profiler/ProfilerDrawer.h"
#include "platform/gfx/GfxDevice.h"
#include "render/RendererPresenterThread.h"

class EntityRenderingContext;
class GameDelegate;
class MeshTemplateRenderingData;
class ParticleSystemInstance;
class UIElement;
class PostProcessChain;
struct RendererLight;
class RendererProfilerDrawer;
class DeviceObjectHandle;
class RenderSceneGrid;
class RendererConfigContainer;
class Resource;
class VertexDeclarationCache;
class VornexRendererResourceAccessJob;
struct RenderFrameClock;
struct ResourceJobQueue;
struct ResourceJobQueueDeleter {
    void operator()(ResourceJobQueue* queue) const;
};

// ---- Stream layout ----
constexpr uint32_t kRenderBlockBytes = 4096;
constexpr uint32_t kRenderMaxPayload = kRenderBlockBytes - 8;  // id and terminator
constexpr uint32_t kRenderCommandBlock = 8;                    // the BaseThread command carrying a block
constexpr uint32_t kRenderTaskCount = 70;
// A visible-layer mask: 256 layers, layer i at bit i % 32 of word i / 32.
constexpr uint32_t kRenderLayerMaskWords = 8;

enum RenderTask : uint32_t {
    TASK_END_OF_BLOCK = 0, TASK_END_OF_BLOCK_WAIT = 1, TASK_CREATE_DEVICE = 2, TASK_RELEASE_DEVICE_RESOURCES = 3,
    TASK_CLOSE_DX = 4, TASK_RESET_DEVICE = 5, TASK_NEW_SCENE = 6, TASK_SCENE_GRID_VALUE = 7,
    TASK_REQUEST_DEVICE_RESET = 8, TASK_GAME_DELEGATE = 9, TASK_NOP_10 = 10, TASK_NOP_11 = 11,
    TASK_LOADING_SCREEN = 12, TASK_BLANK_FRAME = 13, TASK_RESET_OVERRIDE = 14, TASK_LAYER_MASKS = 15,
    TASK_OUTPUT_SWAP_CHAIN = 16, TASK_UPSCALE_FINAL = 17, TASK_OUTLINE_TYPE_MASK = 18, TASK_BUCKET_ENABLE = 19,
    TASK_OUTLINE_PARAMS = 20, TASK_SECONDARY_OUTLINE_PARAMS = 21, TASK_POST_PROCESS_TARGET = 22, TASK_UPSCALE = 23,
    TASK_SHADOW_MAP_PASS = 24, TASK_BEGIN_OUTLINE_GATHER = 25, TASK_RENDER_OUTLINES = 26, TASK_LIGHT_BUFFERS = 27,
    TASK_VIEWPORT = 28, TASK_BRIGHTNESS = 29, TASK_SCREEN_SCALE_X = 30, TASK_SCREEN_SCALE_Y = 31, TASK_CAMERA = 32,
    TASK_CAMERA_MATRICES = 33, TASK_CAMERA_FLOAT = 34, TASK_VISUALIZATION_MODE = 35, TASK_FLAG_BYTE = 36,
    TASK_CLEAR = 37, TASK_SRGB_WRITE = 38, TASK_END_FRAME = 39, TASK_SLEEP = 40, TASK_FRAME_PARAMS = 41,
    TASK_OBJECT_NOTIFY = 42, TASK_OBJECT_QUERY = 43, TASK_SCISSOR = 44, TASK_TEXT = 45, TASK_REGISTER_LIGHT = 46,
    TASK_CALL = 47, TASK_RESET_FRAME_GATHER = 48, TASK_RENDER_PASSES = 49, TASK_DESTROY_OBJECT = 50, TASK_RUN_JOB = 51,
    TASK_NOP = 52, TASK_DEPTH_STENCIL = 53, TASK_DEBUG_BOUNDING_BOX = 54, TASK_DEBUG_WIRE_BOX = 55,
    TASK_DEBUG_TRIGGER = 56, TASK_DEBUG_POINT_LIGHT = 57, TASK_DEBUG_SPOT_LIGHT = 58, TASK_DEBUG_TUBE_LIGHT = 59,
    TASK_DEBUG_AMBIENT_LIGHT = 60, TASK_DEBUG_SFX = 61, TASK_DEBUG_MARKER = 62, TASK_DEBUG_FLAG = 63,
    TASK_DEBUG_MESH = 64, TASK_DEBUG_MESH_RECORDS = 65, TASK_DEBUG_MESH_PARTS = 66,
    TASK_DEBUG_MESH_PARTS_RECORDS = 67, TASK_DEBUG_PARTICLES = 68, TASK_SUBMIT_RENDER_TASK = 69,
};

// Bytes of the 48-byte records that debug tasks 65 and 67 carry in place.
constexpr uint32_t kMeshRecordBytes = 48;

// ---- Present parameters ----
// The 64-byte block the main thread computes and the renderer copies (task 5, Reset).
struct PresentParameterBlock {
    uint32_t fullScreenWidth;   // 0 in a window
    uint32_t fullScreenHeight;
    uint32_t renderWidth;
    uint32_t renderHeight;
    uint32_t msaaMode;          // 0 none, 1 2X, 2 4X
    uint32_t quality;           // 0 "Ultra low" .. 4 "Very high"
    uint32_t shadowMapSize;
    uint8_t shadowMap;
    uint8_t gpuSync;
    uint8_t pad30[2];
    float globalFloats[3];      // carried as they stand
    uint8_t shadowFiltering;
    uint8_t refraction;
    uint8_t outlines;
    uint8_t vsync;
    uint8_t fullScreen;
    uint8_t standalone;
    uint8_t pad50[2];
    float scale;
    uint8_t globalFlags56[2];   // carried as they stand
    uint8_t highQuality;
    uint8_t globalFlag59;       // carried as it stands
    float linearDepthRange;     // pixel constant c248 (and its in-range copy c217)
};
static_assert(sizeof(PresentParameterBlock) == 64, "the present-parameter block is 64 bytes");

// The renderer's own copy of the renderer configuration (main thread; the renderer's
// RendererConfigServices fills it).
struct RendererSettings {
    uint32_t msaaMode = 0;
    uint32_t gfxQualityLevel = 3;
    float semiResolutionScreenScale = 1.0f;
    float brightness = 0.5f;
    float screenScaleX = 1.0f, screenScaleY = 1.0f;
    bool gpuSync = true, vSync = true, enableShadowMap = true, enableShadowMapFiltering = true;
    uint32_t shadowMapSize = 2048;
    bool enableFullScreenEffects = true, enableRefraction = true, enableOutlines = true;
    bool displayShadowDebugInfo = false;  // "Display shadow debug info": posted with the shadow pass
    bool standalone = false;  // the engine configuration's standalone-build answer
    // Global render settings carried into the block unchanged.
    float globalFloats[3] = {0.0f, 0.0f, 0.0f};
    uint8_t globalFlags[3] = {0, 0, 0};
    float linearDepthRange = 1.0f;
};

// ---- Display modes ----
struct DisplayModeEntry {
    uint32_t width, height, refreshRate;
    gfx::Format format;
};
static_assert(sizeof(DisplayModeEntry) == 16);

// Sorted by width, then height; one entry per size, keeping the refresh rate nearest
// to 60 Hz.
class DisplayModeList {
public:
    void Add(const DisplayModeEntry& mode);
    void Clear() { entries.clear(); }
    // Binary-search position of (width, height) and whether it is listed there.
    uint32_t Find(uint32_t width, uint32_t height, bool* found) const;
    uint32_t Count() const { return static_cast<uint32_t>(entries.size()); }
    const DisplayModeEntry& operator[](uint32_t i) const { return entries[i]; }

private:
    std::vector<DisplayModeEntry> entries;
};

struct WindowSize {
    uint32_t width, height;
};

// ---- Render targets ----
struct RenderTarget {
    gfx::Surface* surface = nullptr;
    DeviceObjectHandle* texture = nullptr;  // none for a plain surface
};

enum RenderTargetId : uint32_t {
    TARGET_MAIN_DEPTH, TARGET_BACKBUFFER_DEPTH, TARGET_NORMAL, TARGET_MSAA_COLOR, TARGET_MSAA_DEPTH,
    TARGET_SCENE_COLOR, TARGET_BACKBUFFER_COLOR, TARGET_REFRACTION, TARGET_LINEAR_DEPTH, TARGET_LIGHT_0,
    TARGET_LIGHT_1, TARGET_OCCLUSION_0, TARGET_OCCLUSION_1, TARGET_SHADOW_MAP, TARGET_SHADOW_DUMMY,
    TARGET_COUNT
};
const char* RenderTargetName(RenderTargetId id);
constexpr uint32_t kEventQueryCount = 3;  // two for frame ends, one for presents
// The pixel rectangle of a box's projection, grown by 0.01 in normalised coordinates on
// each side and clamped to the screen; the whole screen when a corner lies behind the
// camera. False when it is empty.
bool ComputeRefractionRect(const BoundingBox4& bounds, const Matrix& world, const Matrix& viewProjection,
                           uint32_t width, uint32_t height, gfx::Rect* out);

// ---- Built-in geometry ----
enum BuiltInMeshId : uint32_t {
    MESH_UNIT_BOX, MESH_UNIT_SPHERE, MESH_UNIT_CONE, MESH_WIRE_SPHERE, MESH_WIRE_CONE_LAMP, MESH_CYLINDER,
    MESH_FLAG_MARKER, MESH_GROUND_GRID, MESH_AXIS_GIZMO, MESH_UNIT_QUAD, MESH_FULLSCREEN_QUAD, MESH_RAMP_STRIP,
    BUILTIN_MESH_COUNT
};
// One mesh as generated: vertex bytes, up to two 16-bit index lists (solid, wire).
struct BuiltInMeshData {
    uint32_t stride;
    std::vector<uint8_t> vertices;
    std::vector<uint16_t> indices[2];
};
BuiltInMeshData GenerateBuiltInMesh(BuiltInMeshId id);
struct BuiltInMesh {
    gfx::VertexBuffer* vertices = nullptr;
    gfx::IndexBuffer* indices[2] = {nullptr, nullptr};  // solid, wire
    uint32_t vertexCount = 0, stride = 0;
    uint32_t indexCount[2] = {0, 0};
};

// ---- Device-object owners ----
// Rebuilt after every device creation and reset, released before; in slot order, then
// the registered owners in registration order.
enum DeviceObjectOwnerSlot : uint32_t {
    OWNER_PROFILER_GRAPH, OWNER_PARTICLE_BUFFERS, OWNER_POST_PROCESS, OWNER_BATCH_MESHES, OWNER_MESH_DECLARATION,
    OWNER_FIXED_COUNT
};
struct DeviceObjectOwner {
    void (*release)(void* context) = nullptr;
    void (*create)(void* context) = nullptr;
    void* context = nullptr;
};

// The blend-mode table row: eight render-state values and the shader blend vector.
struct BlendModeRow {
    uint32_t alphaBlendEnable, blendOp, srcBlend, destBlend;
    uint32_t separateAlphaBlendEnable, blendOpAlpha, srcBlendAlpha, destBlendAlpha;
    Vector shaderBlend;
};
static_assert(sizeof(BlendModeRow) == 48);
constexpr uint32_t kBlendModeCount = 10;

// Sampler flags of SetTexture.
enum : uint32_t {
    SAMPLER_SRGB = 0x1,
    SAMPLER_CLAMP_U = 0x2,
    SAMPLER_CLAMP_V = 0x4,
    SAMPLER_POINT = 0x8,
    SAMPLER_BORDER = 0x400,
    SAMPLER_LINEAR_MIPS = 0x800,
};

// Frame arrays of the pass driver.
constexpr uint32_t kFrameRenderTasks = 1280;
constexpr uint32_t kFrameDeferredMeshes = 8192;
constexpr uint32_t kFrameOutlinedEntities = 1024;
constexpr uint32_t kFrameLights = 512;
constexpr uint32_t kRenderBucketCount = 14;

// Render flags of a submitted task (task 69).
enum : uint32_t {
    RENDER_FLAG_FORWARD = 0x20,
    RENDER_FLAG_DEFERRED = 0x40,
    RENDER_FLAG_DEFERRED_THIRD = 0x80,
    RENDER_FLAG_DEFERRED_ANY = 0xC0,
    RENDER_FLAG_OUTLINE = 0x200,
};
// Pass flags of the scene pass driver (task 49); the low byte selects the global vector
// of the scene constants.
enum : uint32_t {
    RENDER_PASS_SKIP_DEFERRED = 0x10000,
    RENDER_PASS_SKIP_OUTLINES = 0x20000,
    RENDER_PASS_AMBIENT_OCCLUSION = 0x80000,
    RENDER_PASS_NO_SHADOW_MASK = 0x30B011,  // any of these keeps the global light unshadowed
};

// One gathered forward task: the context's world matrix at submission and its bucket.
struct RenderTaskRecord {
    Matrix world;
    EntityRenderingContext* context;
    uint32_t flags;
    uint32_t bucket;
};
// A sort key (the bits of a float distance, 0 for none) and the task record it belongs to.
struct RenderSortKey {
    uint32_t key;
    uint32_t index;
};
// A deferred mesh or outlined entity of the frame.
struct GatheredContext {
    EntityRenderingContext* context;
    uint32_t flags;
};

class VornexRenderer : public BaseThread {
public:
    VornexRenderer();
    ~VornexRenderer() override;

    // ======== Main thread: front end ========
    // Starts both threads and creates the device on the calling thread for the window
    // (a window-layer handle). Returns whether the device was created; the renderer can
    // be stopped either way.
    bool Start(uint32_t window, uint8_t flags);
    bool Start() override { return Start(0, 0); }
    // Drains, closes the device on the render thread and stops both threads.
    void Stop() override;
    void Reset(uint32_t window, uint32_t width, uint32_t height, bool applyConfiguration, bool fullScreen);
    // Starts a record; the caller then writes exactly payloadBytes through Ring(). False
    // (nothing written) when the payload is larger than kRenderMaxPayload or the renderer
    // is not started.
    // Inline for the common case (an open block with room for the record, no observer):
    // the id, with the padding before it, goes in as one copy.
    bool BeginCommand(uint32_t id, uint32_t payloadBytes) {
#ifndef NDEBUG
        AssertMainThread();
#endif
        const int pad = InPlaceRecordPad(payloadBytes);
        if (pad < 0) return BeginCommandInBlock(id, payloadBytes);
        // Eight bytes always fit here (the terminator's room at the least): one fixed-size
        // store, of which the padding and the id are kept. The eight bytes are made in a
        // register: assembled in memory, a narrow store followed by a wide load of the same
        // bytes stalls.
        CommandRingBuffer& ring = Ring();
        const uint64_t head = RecordHead(id, uint32_t(pad));
        std::memcpy(ring.Cursor(), &head, sizeof head);
        ring.Skip(uint32_t(pad) + sizeof id);
        recordEnd = ring.Cursor() + payloadBytes;
        ++postedRecords;
        return true;
    }
    // The common case of a record: the block is open with room for one of payloadBytes
    // and no observer watches. The padding before the record then, -1 otherwise.
    int InPlaceRecordPad(uint32_t payloadBytes) {
        if (!blockOpen || taskObserver || Ring().Cursor() != recordEnd) return -1;
        const uint32_t used = static_cast<uint32_t>(recordEnd - blockStart);
        const uint32_t pad = (4 - (used & 3)) & 3;
        return uint64_t(used) + pad + 8 + payloadBytes <= kRenderBlockBytes ? int(pad) : -1;
    }
    void FlushCommands(bool wait);
    // Ends the frame (task 39 with the swap chain or null); false while a device reset
    // is pending (the caller then resets with the window's client size).
    bool EndFrame(gfx::SwapChain* swapChain = nullptr);
    void WaitForFrameLatency(uint32_t framesAhead);
    void SetSceneLoading(uint8_t loading);

    // Writers of the task table (one record each).
    void PostReleaseDeviceResources();
    void PostNewScene(const BoundingBox4& box, float cellSize);
    void PostSceneGridValue(float value);
    void RequestDeviceReset();
    // Main thread, with the render thread drained (after FlushCommands with wait): makes
    // the resources that follow the graphics settings again: the render targets (the
    // shadow, outline and light buffers among them) and the post-processing chain's
    // device objects. Nothing without a device.
    void RebuildSettingResources();
    void PostGameDelegate(GameDelegate* gameDelegate);  // hands the render thread the game delegate it calls back
    void PostNop();
    void SetLoadingScreen(UIElement* screen, uint8_t unused, uint8_t overScene);
    void PostResetOverride();
    // Stores the frame's visible-layer mask (kRenderLayerMaskWords words, copied; null:
    // every layer visible) and block-rendering mask on the render thread (the mask also
    // keys the ambient cube's refresh).
    void PostLayerMasks(const uint32_t* visibleLayers, uint32_t blockRenderingMask);
    void SetOutputSwapChain(gfx::SwapChain* swapChain, uint8_t multisample, uint8_t mode);
    void PostUpscaleFinal();
    void SetOutlineParams(const OutlineParams& params);
    void SetSecondaryOutlineParams(const OutlineParams& params);
    void PostOutlineTypeMask(uint32_t mask);
    // Post-processes the frame into the back buffer (the mode bits; only the chain bit
    // while full-screen effects are off in the configuration).
    void SetPostProcessTargetMode(uint32_t modeBits);
    void PostUpscale();
    void PostShadowMapPass(uint32_t value, uint8_t secondStep);
    void PostBeginOutlineGather();
    void PostRenderOutlines();
    void SetViewport(uint32_t x, uint32_t y, uint32_t width, uint32_t height, float minZ, float maxZ);
    void SetBrightness(float brightness);
    void SetScreenScaleX(float scale);
    void SetScreenScaleY(float scale);
    // View x projection, the inverses, the six frustum planes and eight corners; keeps
    // the main thread's copies and posts task 32.
    void SetCamera(const Matrix& view, const Matrix& projection, const Matrix& third);
    void SetCameraMatrices(const Matrix& view, const Matrix& projection, const Matrix& secondA, const Matrix& secondB);
    void PostCameraFloat(float value);
    void SetVisualizationMode(uint32_t mode);
    void Clear(uint32_t flags, const Vector& colour, float depth, uint32_t stencil);
    void SetSRGBWrite(uint8_t enable);
    // Finishes a pending UI deletion first, then posts task 41 with the engine frame
    // timer, the smooth game timer and the smooth gameplay timer, in that order.
    void PostFrameParams(const RenderFrameClock& engine, const RenderFrameClock& game,
                         const RenderFrameClock& gameplay, uint32_t flags);
    void PostRegisterLight(RendererLight* light);
    void PostResetFrameGather();
    void PostRenderPassFlags(const Vector& clearColour, uint32_t passFlags, uint8_t clear);
    void SubmitRenderTask(EntityRenderingContext* renderingContext, uint32_t renderFlags);
    // Task 45: text bytes (not terminated) through the font (a font resource the render
    // thread draws with; it must live until the frame has run); refused when they do not
    // fit one block.
    bool PostDrawText(Resource* font, const Matrix& matrix, const Vector& colour, uint32_t valueA, uint32_t valueB,
                      uint8_t flag, const char* text, uint32_t textBytes);

    // Debug draws (tasks 54-68).
    void DebugDrawBoundingBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour);
    // The box's wire shape placed by the matrix.
    void DebugDrawWireBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour, uint8_t cullMirror,
                          uint8_t depthTest);
    void DebugDrawTrigger(const Matrix& matrix, const Vector& colour);
    void DebugDrawPointLight(const Matrix& matrix, const Vector& colour, float inner, float outer);
    void DebugDrawSpotLight(const Matrix& matrix, const Vector& colour, float inner, float outer, float width);
    void DebugDrawTubeLight(const Matrix& matrix, const Vector& colour, float inner, float outer, float halfLength);
    void DebugDrawAmbientLight(const Matrix& matrix, const Vector& colour);
    void DebugDrawSFX(const Matrix& matrix, uint8_t depthTest);
    void DebugDrawFlag(const Matrix& matrix, const Vector& colour, uint8_t depthTest);
    // Records: recordCount 48-byte records (tasks 65 / 67, which carry the count and the
    // records 16-byte aligned in place), or none (64 / 66). False when they do not fit
    // one block.
    // A null box goes as zeros.
    bool DebugDrawMeshTemplate(const MeshTemplateRenderingData* mesh, const Matrix& world, const Matrix& previous,
                               const BoundingBox4* box, const Vector& colour, uint32_t value, uint8_t flag,
                               const void* records, uint32_t recordCount);
    bool DebugDrawMeshTemplateParts(const MeshTemplateRenderingData* mesh, const Matrix& world, const Vector& colour,
                                    const void* records, uint32_t recordCount);
    void DebugDrawParticleTemplate(ParticleSystemInstance* system, const Matrix& world, const BoundingBox4* box,
                                   const Vector& colour);

    // Configuration and present parameters (main thread).
    void ApplyConfig(const RendererConfigContainer& config);
    RendererSettings& Settings() { return settings; }
    void ComputePresentParameters(uint32_t width, uint32_t height, bool applyConfiguration, bool fullScreen,
                                  PresentParameterBlock* block);
    void RefreshDisplayModes();
    // The listed entry of (width, height), else the one before its insertion position
    // (the first when none is smaller); false when the list is empty.
    bool FindDisplayMode(uint32_t width, uint32_t height, DisplayModeEntry* out) const;
    // The last window size, in list order, within the request (index 0 when none is).
    WindowSize FindNearestDisplayMode(uint32_t width, uint32_t height) const;
    const DisplayModeList& DisplayModes() const { return displayModes; }
    const std::vector<WindowSize>& WindowSizes() const { return windowSizes; }

    // Device-object owners (main thread, before Start).
    void SetDeviceObjectOwner(DeviceObjectOwnerSlot slot, const DeviceObjectOwner& owner);
    void RegisterDeviceObjectOwner(const DeviceObjectOwner& owner);

    // Sees the id of every record the front end begins (tests of main-thread writers).
    using TaskObserver = void (*)(void* user, uint32_t taskId);
    void SetTaskObserver(TaskObserver observer, void* user) { taskObserver = observer, taskObserverUser = user; }

    // Main thread's copies.
    bool IsRendererRunning() const { return started; }
    const Matrix& CurrentView() const { return mainView; }
    const Matrix& CurrentProjection() const { return mainProjection; }
    const Matrix& CurrentViewProjection() const { return mainViewProjection; }
    const Vector& CameraPosition() const { return mainCameraPosition; }
    const Vector* FrustumPlanes() const { return mainFrustumPlanes; }
    const Vector* FrustumCorners() const { return mainFrustumCorners; }
    const BoundingBox4& FrustumBox() const { return mainFrustumBox; }
    // Whether the last SetCamera's view-projection had an inverse (else no frustum).
    bool CameraInvertible() const { return mainCameraInvertible; }
    uint32_t ScreenWidth() const { return clientWidth; }
    uint32_t ScreenHeight() const { return clientHeight; }
    uint32_t QualityLevel() const { return settings.gfxQualityLevel; }
    bool RefractionEnabled() const { return settings.enableRefraction; }
    bool ShadowMapEnabled() const { return settings.enableShadowMap; }
    // The tick counts of the last frame parameters posted, in record order (0 engine,
    // 1 smooth game, 2 smooth gameplay).
    int64_t PostedClockTicks(uint32_t clock) const { return postedClockTicks[clock]; }

    // Counts (any thread).
    uint32_t PostedRecords() const { return postedRecords; }  // main thread
    uint32_t ConsumedTasks() const { return consumedTasks.load(std::memory_order_acquire); }
    uint32_t PostedFrames() const { return postedFrames.load(std::memory_order_acquire); }
    uint32_t CompletedFrames() const { return completedFrames.load(std::memory_order_acquire); }
    uint32_t WaitedFrames() const { return waitedFrames.load(std::memory_order_acquire); }
    bool DeviceResetPending() const { return deviceResetPending.load(std::memory_order_acquire); }
    // Device creations and successful device resets so far (the Game tells its delegate).
    uint32_t DisplayResets() const { return displayResets.load(std::memory_order_acquire); }
    bool SceneLoading() const { return sceneLoading.load(std::memory_order_acquire); }
    uint32_t LoadingScreenPresents() const { return loadingPresents.load(std::memory_order_acquire); }
    VornexRendererPresenterThread& Presenter() { return *presenter; }
    RendererProfilerDrawer& ProfilerOverlay() { return *profilerDrawer; }
    // The overlay's font by name (the resource manager's fonts while it runs; null: none).
    void SetProfilerFontLookup(void* (*acquire)(const char* name), void (*release)(void* font));
    // Render-thread debug switches (sRGB forced off; trilinear mip filtering).
    void SetSRGBForcedOff(bool off) { srgbForcedOff.store(off, std::memory_order_release); }
    void SetTrilinearFiltering(bool on) { trilinear.store(on, std::memory_order_release); }

    // ======== Resource-job queue (VornexRenderer_Jobs.cpp, RenderJobs.h) ========
    // Any thread: a type-1 record for the job, stamped with the posted-frame count.
    void QueueResourceJob(VornexRendererResourceAccessJob* job);
    // Any thread: reserves a type-2 record {function, flag word 0, object} followed by
    // payloadBytes that the caller writes through the returned ring before
    // EndResourceJobWrite (the queue lock is held in between). On the render thread the
    // function reads the object and the payload; a flag word other than 0 tells it to
    // read them and do nothing else. Null (nothing reserved) when the record can never
    // fit, or the queue is full while the render thread does not run.
    using ResourceCallFunction = void (*)(VornexRenderer& renderer, uint32_t flag, CommandRingBuffer& ring);
    CommandRingBuffer* BeginResourceCall(ResourceCallFunction function, void* object, uint32_t payloadBytes);
    void EndResourceJobWrite();
    // Render thread: runs queued records and jobs within the budgets (0: unlimited).
    // True when it stopped on a budget or on a job stamped with a frame the render
    // thread has not completed; false when the queue is empty.
    bool ProcessResourceJobs(uint32_t budgetUnits, float seconds);
    uint32_t PostedResourceJobs() const;
    uint32_t DoneResourceJobs() const;
    // Sleeps in steps of stepMs until every posted job is done (while the thread runs).
    void WaitForResourceJobs(uint32_t stepMs);
    // Test seams (main thread): the queue's ring size (while the renderer is stopped), and
    // the wait between attempts on a full queue (null: pump the loader's streams and
    // sleep 10 ms).
    void SetResourceJobQueueBytes(uint32_t bytes);
    void SetResourceJobQueueFullWait(void (*wait)());

    // ======== Render thread: device layer ========
    gfx::Device* Device() const { return device; }
    bool CreateTextureFromDDS(DeviceObjectHandle* holder, const void* data, uint32_t size, uint32_t mipLevels,
                              gfx::Pool pool);
    bool CreateCubeTextureFromDDS(DeviceObjectHandle* holder, const void* data, uint32_t size, uint32_t mipLevels,
                                  gfx::Pool pool);
    void DrawPrimitive(gfx::PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount);
    void DrawPrimitiveUP(gfx::PrimitiveType type, uint32_t primitiveCount, const void* vertices, uint32_t stride);
    void DrawIndexedPrimitive(gfx::PrimitiveType type, int32_t baseVertex, uint32_t minIndex, uint32_t numVertices,
                              uint32_t startIndex, uint32_t primitiveCount);
    void DrawIndexedPrimitiveUP(gfx::PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                uint32_t primitiveCount, const void* indices, const void* vertices, uint32_t stride);
    void ResetStateCache(bool forgetConstantGeneration = false);
    void InitBlendModeTable();
    const Vector& GetBlendModeRow(uint32_t row) const;
    void SetBlendMode(uint32_t row);
    void SetCullMode(uint32_t mode);
    void SetAlphaTest(uint32_t mode, uint32_t reference);
    void SetDepthState(uint32_t function, uint8_t write, uint32_t bias, uint32_t slopeBias);
    void SetVertexShader(gfx::VertexShader* shader);
    void SetPixelShader(gfx::PixelShader* shader);
    void SetTexture(uint32_t stage, const DeviceObjectHandle* texture, uint32_t samplerFlags);
    void SetVertexShaderConstants(uint32_t firstRegister, const float* data, uint32_t registerCount);
    void SetPixelShaderConstants(uint32_t firstRegister, const float* data, uint32_t registerCount);
    void ClearTarget(uint32_t flags, const Vector& colour, float depth, uint32_t stencil);
    void SetColorWriteMask(uint32_t mask);
    void SetRenderTargets(gfx::Surface* target0, gfx::Surface* target1, uint32_t flags);
    void BindBackBuffer();
    void SetStencilOps(uint32_t pass, uint32_t fail, uint32_t zFail);
    void SetStencilWriteMask(uint32_t mask);
    void SetStencilFunc(uint32_t function, uint32_t reference, uint32_t mask, uint32_t writeMask);
    void DisableStencil();
    void SetSRGBWriteState(uint8_t enable);
    void ApplyViewport(uint32_t x, uint32_t y, uint32_t width, uint32_t height, float minZ, float maxZ);
    void ApplyFullViewport();
    void SetCameraState(const Matrix& view, const Matrix& projection, const Matrix& third, uint8_t flag);
    void SetUITemplateCamera(const Matrix& view);
    // The camera's world matrix (inverse view; row 3 is the camera position).
    const Matrix& CameraWorldMatrix() const { return inverseView; }
    void SetSceneConstants(uint8_t flag);
    void SetGlobalShaderConstants();
    // The 12 projection constants of view-position reconstruction (pixel c223, c218,
    // c219 in that order) for the camera in force.
    void ProjectionConstants(Vector out[3]) const;
    // The depth source of sampler 10: the main depth texture with hardware depth, else
    // the linear-depth target.
    DeviceObjectHandle* DepthSourceTexture() const {
        return hardwareDepth ? targets[TARGET_MAIN_DEPTH].texture : targets[TARGET_LINEAR_DEPTH].texture;
    }
    // The model colour and matrix of the bound shader (kept until the shader manager
    // uploads them).
    void SetModelColor(const Vector& colour) { modelColor = colour; }
    void SetModelMatrix(const Matrix& world) { modelMatrix = world; }
    // The camera in force and the global colour multiplier that model colours are
    // multiplied by (render thread).
    const Matrix& ViewMatrix() const { return view; }
    const Matrix& ViewProjectionMatrix() const { return viewProjection; }
    const Vector& ColorFactor() const { return colorFactor; }
    void SetColorFactor(const Vector& factor) { colorFactor = factor; }
    void ForgetTextureHolder(const DeviceObjectHandle* holder);

    // Targets.
    bool CreateTargetTexture(RenderTarget* target, uint32_t width, uint32_t height, gfx::Format format,
                             uint32_t usage, bool surfaceOnly);
    void ReleaseTarget(RenderTarget* target);
    void ReleaseRenderTargets();
    void CreateRenderTargets();
    void UpdateRefraction(const BoundingBox4& bounds, const Matrix& world);
    const RenderTarget& Target(RenderTargetId id) const { return targets[id]; }
    DeviceObjectHandle* AmbientCube() const { return ambientCube; }
    // The render-side scene grid: null until the device is created and after task 3.
    RenderSceneGrid* SceneGrid() const { return sceneGrid; }
    DeviceObjectHandle* SmallAmbientCube() const { return smallAmbientCube; }
    // Re-renders the ambient cube from the active lights that share no bit with the
    // exclusion mask (VornexRenderer_AmbientCube.cpp).
    void RefreshAmbientCube(uint32_t exclusionMask);
    uint32_t AmbientCubeRefreshes() const { return ambientCubeRefreshes; }
    gfx::Query* EventQuery(uint32_t i) const { return eventQueries[i]; }
    gfx::Format SceneColorFormat() const { return sceneColorFormat; }

    // Device management.
    bool DeviceCreated() const { return deviceCreated; }
    const gfx::PresentParameters& PresentParameters() const { return presentParams; }
    const PresentParameterBlock& BlockInForce() const { return blockInForce; }
    uint32_t RenderWidth() const { return renderWidth; }
    uint32_t RenderHeight() const { return renderHeight; }
    uint32_t BackBufferWidth() const { return backBufferWidth; }
    uint32_t BackBufferHeight() const { return backBufferHeight; }
    bool HardwareDepth() const { return hardwareDepth; }
    // The renderer clock's start: the counter when the device was created (10 MHz ticks).
    int64_t StartTime() const { return startTime; }
    // The float of task 34 (the RGB-shift offset of the post-processing chain).
    float CameraValue() const { return cameraValue; }
    // The frame's output surface (null outside a frame) and the flags of the bound targets.
    gfx::Surface* OutputSurface() const { return outputSurface; }
    uint32_t RenderTargetFlags() const { return renderTargetFlags; }
    // The main depth texture is RAWZ (the device reads depth but lacks INTZ).
    bool RawzDepth() const { return hardwareDepth && !intz; }

    // Geometry.
    void CreateBuiltInGeometry();
    void ReleaseBuiltInGeometry();
    const BuiltInMesh& GetBuiltInMesh(BuiltInMeshId id) const { return builtInMeshes[id]; }
    // The batch meshes' buffers (null before the device): 0 the quad batch, 1 the grid batch
    // (each with indices), 2 the arrow batch (without).
    gfx::VertexBuffer* BatchVertices(uint32_t i) const { return i < 3 ? batchVertices[i] : nullptr; }
    gfx::IndexBuffer* BatchIndices(uint32_t i) const { return i < 2 ? batchIndices[i] : nullptr; }
    void DrawSolidBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour, uint8_t cullMirror,
                      uint8_t depthTest);
    void CreateGlobalVertexDeclaration();
    void ReleaseGlobalVertexDeclaration();
    void CreateBatchMeshes();
    void ReleaseBatchMeshes();
    VertexDeclarationCache* DeclarationCache() const { return declarationCache; }
    gfx::VertexDeclaration* GlobalVertexDeclaration() const { return globalDeclaration; }

    // Render-thread statistics and state for the profiler overlay and tests (read them
    // on the render thread, or after a flush with wait).
    void UpdateFrameStatistics();
    uint32_t DrawCalls() const { return drawCalls; }
    uint32_t Primitives() const { return primitives; }
    // Primitives a draw made beyond those its call counted (the instances of an instanced draw).
    void AddPrimitives(uint32_t count) { primitives += count; }
    float AppliedBrightness() const { return brightness; }
    float ScreenScaleXValue() const { return screenScaleX; }
    float ScreenScaleYValue() const { return screenScaleY; }
    uint32_t VisualizationMode() const { return visualizationMode; }
    uint32_t OutlineTypeMask() const { return outlineTypeMask; }
    uint32_t BucketEnableMask() const { return bucketEnableMask; }
    PostProcessChain& PostProcess() { return *postProcess; }
    uint32_t GatheredLights() const { return lightCount; }
    uint32_t GatheredTasks() const { return taskCount; }
    uint32_t GatheredDeferredMeshes() const { return deferredCount; }
    uint32_t GatheredOutlinedEntities() const { return outlinedCount; }
    bool Gathering() const { return gathering; }
    bool TaskOverflow() const { return taskOverflow; }
    const RenderTaskRecord& TaskRecord(uint32_t i) const { return renderTasks[i]; }
    const RenderSortKey& SortKeyEntry(uint32_t i) const { return sortKeys[i]; }
    const RenderSortKey& SortedKeyEntry(uint32_t i) const { return sortedKeys[i]; }
    uint32_t BucketCount(uint32_t bucket) const { return bucketCount[bucket]; }
    uint32_t BucketStart(uint32_t bucket) const { return bucketStart[bucket]; }
    RendererLight* FrameLight(uint32_t i) const { return lights[i]; }

    // ======== Render thread: the frame pass driver (frame/VornexRenderer_Passes.cpp) ========
    // The frame's task record, or null when the 1280 records of the frame are used up
    // (the task is dropped and the overflow raised: the gathered tasks stay drawable).
    RenderTaskRecord* AllocRenderTask();
    // Append while below 8192, 1024 and 512 entries; further entries are dropped.
    void AddDeferredMesh(EntityRenderingContext* context, uint32_t flags);
    void AddOutlinedEntity(EntityRenderingContext* context, uint32_t flags);
    void AddLight(RendererLight* light);
    // Clears a light being destroyed from the frame's list (its slots become null).
    void ForgetLight(const RendererLight* light);
    // The key of record `index`: the distance along the camera's forward axis of the
    // context's box point nearest to the camera, + 10000 + the context's sort offset,
    // as float bits; 0 when not above 0 or not finite (drawn last in its bucket).
    void ComputeSortKey(uint32_t index, const EntityRenderingContext& context);
    // Stable counting sort of the used records into the 14 buckets.
    void SortRenderTasks();
    // Applies the bucket's stencil and colour-write state; returns whether its tasks are
    // sorted by key and writes its draw mode.
    bool SetBucketState(uint32_t bucket, uint32_t* mode);
    void RenderForwardPass(uint32_t passFlags);
    void RenderDeferredPrePass(uint32_t passFlags);
    void RenderScene(const Vector& clearColour, uint32_t passFlags, uint8_t clear);

    // ======== Render thread: the sun's shadow map (frame/VornexRenderer_Shadow.cpp) ========
    // Fits and draws the map when the shadow switch is on and the scene's "Shadow
    // strength" is above 0; otherwise (or when the fit is not finite) the previous
    // matrices stay.
    void ShadowMapPass(uint32_t flags);
    // Fits the light view and projection to the camera frustum above the ground; false
    // (nothing changed) when the fitted box is not finite.
    bool FitShadowMap();
    void RenderShadowMap(uint32_t flags);
    // The casting contexts of the grid cells under the fitted light box, each drawn once
    // (the camera and targets of the shadow pass set by the caller).
    void DrawShadowCasters(uint32_t flags);
    // The 8 frustum corners (index: bit 0 x, bit 1 y, bit 2 far) with the far corners of
    // the side edges that reach the ground height brought down onto it.
    void ClipFrustumToGround(float groundHeight, Vector corners[8]) const;
    // A vector perpendicular to the direction: its cross product with the unit axis of
    // its smallest component.
    static Vector PerpendicularAxis(const Vector& direction);
    const Matrix& LightView() const { return lightView; }
    const Matrix& LightProjection() const { return lightProjection; }
    const Matrix& LightInverse() const { return lightInverse; }
    const BoundingBox4& LightSpaceBox() const { return lightSpaceBox; }
    const Matrix& ShadowTextureMatrix() const { return shadowTextureMatrix; }
    const Matrix& CameraToShadowMatrix() const { return cameraToShadowMatrix; }
    // Whether the global light samples the shadow map this pass (pass flags of task 49).
    bool GlobalLightShadowed(uint32_t passFlags) const;
    bool CameraMirrored() const { return mirrored; }
    float DepthScale() const { return depthScale; }

    // What the scene's draws read of the frame (render thread): the pass kinds a
    // pass-mask draw writes (bits 1 to 4: the outline type mask while outlines are on);
    // whether refraction shaders are in force (the block's flag with the copy made); the
    // block's three global render floats; a frame clock of task 41 in seconds (0 engine,
    // 1 smooth game, 2 smooth gameplay).
    uint32_t EnabledPassMask() const { return blockInForce.outlines ? outlineTypeMask : 0; }
    bool RefractionActive() const { return blockInForce.refraction && targets[TARGET_REFRACTION].texture; }
    float GlobalRenderFloat(uint32_t i) const { return i < 3 ? blockInForce.globalFloats[i] : 0.0f; }
    double FrameSeconds(uint32_t clock) const { return clock < 3 ? frameSeconds[clock] : 0.0; }
    // The scene lighting of the lit passes, from the scene parameters in force: pixel
    // registers kSceneLightingRegister on (kSceneLightingRegisters of them) and the cloud
    // and layer textures on samplers 4 and 5 (frame/VornexRenderer_Lighting.cpp). With
    // the in-range copies of the frame times and depth terms (c216, c217) and the global
    // constants (c218 to c223) they fill pixel c205 to c223, below ps_3_0's 224.
    static constexpr uint32_t kSceneLightingRegister = 205, kSceneLightingRegisters = 11;
    static constexpr uint32_t kPixelFrameTimesRegister = 216, kPixelDepthParamsRegister = 217;
    static_assert(kSceneLightingRegister + kSceneLightingRegisters <= kPixelFrameTimesRegister,
                  "the scene lighting ends below the frame constants");
    void SetSceneLighting();

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;
    void Tick() override;

private:
    using TaskHandler = bool (*)(VornexRenderer& self, CommandRingBuffer& r);
    template <bool (VornexRenderer::*Handler)(CommandRingBuffer&)>
    static bool Run(VornexRenderer& self, CommandRingBuffer& r);
    // A task that only reads its payload and passes it on: the payload is the member's
    // parameters by value, packed in order; the block goes on.
    template <auto Method>
    static bool Call(VornexRenderer& self, CommandRingBuffer& r);
    static const TaskHandler kTaskHandlers[kRenderTaskCount];

    // Front end.
    void ReserveBlock();
    void CloseBlock(uint32_t terminator);
    void AssertMainThread() const;
    // Single writer (the main thread): a plain increment published with release.
    void CountPosted() { ++postedRecords; }
    // A record's head as ring bytes: pad zero bytes, then the id, then zeros.
    static uint64_t RecordHead(uint32_t id, uint32_t pad) {
        if constexpr (std::endian::native == std::endian::little) return uint64_t(id) << (8 * pad);
        uint8_t head[8] = {};
        std::memcpy(head + pad, &id, sizeof id);
        uint64_t v;
        std::memcpy(&v, head, sizeof v);
        return v;
    }
    // BeginCommand's general case: checks, a new block when this one is full, the observer.
    bool BeginCommandInBlock(uint32_t id, uint32_t payloadBytes);
    template <class... T>
    bool Post(uint32_t id, const T&... fields);
    static ResourceJobQueue* CreateResourceJobQueue();

    // Task loop, idle tick, loading screen.
    void RunBlock(CommandRingBuffer& r);
    void IdleTick();
    bool LoadingScreenDue();
    void LoadingScreenPresent();
    void PresentBlankFrame();
    // Hands a present (minimum interval since the previous one, device, event query to
    // issue and poll) to the presenter thread.
    void PostPresentToPresenter(float interval, gfx::Device* presentDevice, gfx::Query* query) {
        presenter->PostPresent(interval, presentDevice, query);
    }
    // Runs pending jobs within the budget; true when runnable work is left (the budget
    // ran out), false when the queue is empty or waits for a frame end.
    bool RunResourceJobs(uint32_t budgetUnits, float seconds);

    // Device management.
    bool CreateDevice(uint32_t window, uint8_t flags);
    void ApplyPresentParameters(uint32_t window);
    void DeviceReset(bool resetDevice);
    void ReleaseDeviceResources();
    void CloseDX();
    void BindOutput(gfx::SwapChain* swapChain, uint8_t multisample, uint8_t mode);
    // Render thread: resolves the scene, binds the back buffer and runs the post-process
    // chain (frame/VornexRenderer_Tasks.cpp, above the shaders it draws with).
    void PostProcessTargetMode(uint32_t modeBits);
    // The render-side scene grid, made with the device and deleted with its resources
    // (frame/VornexRenderer_Tasks.cpp, above render/scene).
    void CreateSceneGrid();
    void ReleaseSceneGrid();
    void Upscale();
    void UpscaleFinal();
    void ReleaseOutputSurfaces();
    void RunOwners(bool create);
    void SetUICamera();

    // Render-thread seams the scene and post-processing passes fill.
    void RebuildSceneGrid(const BoundingBox4& box, float cellSize);
    void SetSceneGridValue(float value);
    void UpdateSceneLighting(const RenderFrameClock clocks[3]);
    void CheckAmbientCube();
    // Task 24: the shadow map pass when the map's surface and texture exist, then the
    // debug step when asked (frame/VornexRenderer_Shadow.cpp).
    void RunShadowMapPass(uint32_t flags, uint8_t debug);
    // The debug drawing of the fitted light box (empty: no debug drawing is supplied).
    void DrawShadowDebug(const BoundingBox4& lightBox, const Matrix& lightInverse, const Vector& colour) {}
    void BeginOutlineGather();  // task 25
    void RenderOutlines();      // task 26
    void ResetFrameGather();
    // Deferred lighting (frame/VornexRenderer_Lighting.cpp).
    bool AmbientOcclusionDue(uint32_t passFlags) const;
    void RenderGlobalLight(bool shadowsAllowed, bool occlusion);
    void RenderLights();
    void RenderAmbientOcclusion();
    // Flags 14 (clamped, point) plus sRGB read while the light buffers are sRGB.
    uint32_t LightBufferSamplerFlags() const;
    // Outline gathering of the frame's outlined entities under the category mask.
    void GatherOutlines(uint32_t mask);
    void RunScenePasses(const Vector& clearColour, uint32_t passFlags, uint8_t clear);
    void SubmitRenderTaskOnRenderThread(EntityRenderingContext* context, uint32_t flags);
    // A notification of a renderer object that no renderer object takes yet.
    void NotifyRendererObject(void* object, uint32_t value) {}
    // An object query no renderer object answers yet (0; task 43 writes it to its result).
    uint32_t QueryRendererObject(void* object, uint32_t a, uint32_t b, uint32_t c) { return 0; }
    void DestroyRendererObject(void* object);  // Destroy of a released renderer object
    void RunJob(void* job);

    // Debug draws.
    void DrawDebugMesh(BuiltInMeshId mesh, uint32_t list, const Matrix& world, const Vector& colour,
                       uint8_t cullMirror, uint8_t depthTest);
    void DrawBoxShape(const BoundingBox4& box, const Matrix& matrix, const Vector& colour, uint8_t cullMirror,
                      uint8_t depthTest, uint32_t list);

    // Task handlers (one per id; false ends the block).
    bool TaskEndOfBlock(CommandRingBuffer& r);
    bool TaskEndOfBlockWait(CommandRingBuffer& r);
    bool TaskCreateDevice(CommandRingBuffer& r);
    bool TaskResetDevice(CommandRingBuffer& r);
    bool TaskRequestDeviceReset(CommandRingBuffer& r);
    bool TaskGameDelegate(CommandRingBuffer& r);
    bool TaskNothing(CommandRingBuffer& r);
    bool TaskLoadingScreen(CommandRingBuffer& r);
    bool TaskBlankFrame(CommandRingBuffer& r);
    bool TaskResetOverride(CommandRingBuffer& r);
    bool TaskLayerMasks(CommandRingBuffer& r);
    bool TaskOutlineTypeMask(CommandRingBuffer& r);
    bool TaskBucketEnable(CommandRingBuffer& r);
    bool TaskOutlineParams(CommandRingBuffer& r);
    bool TaskSecondaryOutlineParams(CommandRingBuffer& r);
    bool TaskShadowMapPass(CommandRingBuffer& r);
    bool TaskLightBuffers(CommandRingBuffer& r);
    bool TaskBrightness(CommandRingBuffer& r);
    bool TaskScreenScaleX(CommandRingBuffer& r);
    bool TaskScreenScaleY(CommandRingBuffer& r);
    bool TaskCamera(CommandRingBuffer& r);
    bool TaskCameraMatrices(CommandRingBuffer& r);
    bool TaskCameraFloat(CommandRingBuffer& r);
    bool TaskVisualizationMode(CommandRingBuffer& r);
    bool TaskFlagByte(CommandRingBuffer& r);
    bool TaskClear(CommandRingBuffer& r);
    bool TaskEndFrame(CommandRingBuffer& r);
    bool TaskSleep(CommandRingBuffer& r);
    bool TaskFrameParams(CommandRingBuffer& r);
    bool TaskObjectQuery(CommandRingBuffer& r);
    bool TaskScissor(CommandRingBuffer& r);
    bool TaskText(CommandRingBuffer& r);
    bool TaskRegisterLight(CommandRingBuffer& r);
    bool TaskCall(CommandRingBuffer& r);
    bool TaskRenderPasses(CommandRingBuffer& r);
    bool TaskDepthStencil(CommandRingBuffer& r);
    bool TaskDebugSkip(CommandRingBuffer& r);
    bool TaskDebugWireBox(CommandRingBuffer& r);
    bool TaskDebugLightShape(CommandRingBuffer& r);
    bool TaskDebugSFX(CommandRingBuffer& r);
    bool TaskDebugMarker(CommandRingBuffer& r);
    bool TaskDebugFlag(CommandRingBuffer& r);
    bool TaskDebugMesh(CommandRingBuffer& r);
    bool TaskDebugMeshRecords(CommandRingBuffer& r);
    bool TaskDebugMeshParts(CommandRingBuffer& r);
    bool TaskDebugMeshPartsRecords(CommandRingBuffer& r);
    bool TaskDebugParticles(CommandRingBuffer& r);

    // Each thread's fields begin a pair of cache lines of their own (the lines are
    // fetched in pairs): a record's posting then never waits for a line that the
    // render thread has just written, such as its per-block consumed count.
    // ---- Main thread ----
    alignas(128) bool started = false;
    bool blockOpen = false;
    uint8_t* blockStart = nullptr;  // payload start of the open block
    uint8_t* recordEnd = nullptr;   // where the last begun record's payload ends
    uint64_t ownerThread = 0;
    uint8_t startFlags = 0;
    uint32_t window = 0;
    TaskObserver taskObserver = nullptr;
    void* taskObserverUser = nullptr;
    RendererSettings settings;
    PresentParameterBlock presentBlock{};  // computed on the main thread
    uint32_t clientWidth = 0, clientHeight = 0;
    DisplayModeList displayModes;
    std::vector<WindowSize> windowSizes;
    Matrix mainView = Matrix::IDENTITY, mainProjection = Matrix::IDENTITY, mainViewProjection = Matrix::IDENTITY;
    Matrix mainInverseView = Matrix::IDENTITY, mainInverseViewProjection = Matrix::IDENTITY;
    Vector mainCameraPosition;
    int64_t postedClockTicks[3] = {0, 0, 0};
    Vector mainFrustumPlanes[6];
    Vector mainFrustumCorners[8];
    BoundingBox4 mainFrustumBox;
    bool mainCameraInvertible = false;
    DeviceObjectOwner owners[OWNER_FIXED_COUNT];
    std::vector<DeviceObjectOwner> registeredOwners;

    uint32_t postedRecords = 0;  // records begun and block terminators, for tests

    // ---- Shared ----
    alignas(128) std::atomic<uint32_t> consumedTasks{0};
    std::atomic<uint32_t> postedFrames{0};
    std::atomic<uint32_t> completedFrames{0};
    std::atomic<uint32_t> waitedFrames{0};
    std::atomic<uint32_t> loadingPresents{0};
    std::atomic<bool> deviceResetPending{false};
    std::atomic<uint32_t> displayResets{0};
    std::atomic<bool> sceneLoading{false};
    std::atomic<bool> srgbForcedOff{false};
    std::atomic<bool> trilinear{false};
    Semaphore frameSemaphore{0};
    Semaphore commitSignal{0};
    CriticalSection rendererLock;
    CriticalSection jobLock;
    std::unique_ptr<ResourceJobQueue, ResourceJobQueueDeleter> jobQueue{CreateResourceJobQueue()};
    VornexRendererPresenterThread* presenter;
    RendererProfilerDrawer* profilerDrawer = nullptr;  // owned; made and deleted with the renderer

    // ---- Render thread ----
    alignas(128) uint32_t previousTaskId = 0;
    uint32_t currentTask = 0;  // the id whose handler runs (handlers shared by several ids)
    uint32_t jobsDoneAtSleep = 0;  // the resource jobs done when the idle tick last slept
    UIElement* loadingScreen = nullptr;
    uint8_t loadingScreenOverScene = 0;
    uint8_t blankFrameMode = 0;
    float loadingPresentInterval = 0.016f;
    int64_t lastLoadingPresent = 0;
    uint32_t currentQuery = 0;
    float brightness = -1.0f;
    float screenScaleX = 1.0f, screenScaleY = 1.0f;
    uint32_t bucketEnableMask = 0xFFFFFFFFu;
    uint32_t outlineTypeMask = 0;
    uint32_t visualizationMode = 0;
    GameDelegate* gameDelegate = nullptr;
    int32_t overrideIndex = -1;
    uint8_t frameVisibleLayers[32];
    uint32_t frameBlockRenderingMask = 0;
    float cameraValue = 0.0f;
    uint8_t flagByte = 0;
    Matrix secondCamera[2];
    int64_t frameTicks[3] = {0, 0, 0};
    double frameSeconds[3] = {0, 0, 0};
    int64_t lastFrameEnd = 0;
    bool frameCompleted = false;
    int64_t lastStatistics = 0;
    int64_t lastIdle = 0;
    PostProcessChain* postProcess = nullptr;  // owned; made and deleted with the renderer
    bool lightBufferClearMark = false;

    // Shadow map (render thread).
    Matrix lightView = Matrix::IDENTITY, lightProjection = Matrix::IDENTITY, lightInverse = Matrix::IDENTITY;
    BoundingBox4 lightSpaceBox = BoundingBox4::ZERO4;
    Matrix shadowTextureMatrix = Matrix::IDENTITY, cameraToShadowMatrix = Matrix::IDENTITY;
    uint32_t shadowPassStamp = 0;

    // Frame gather (sized with the device).
    std::vector<RenderTaskRecord> renderTasks;
    std::vector<RenderSortKey> sortKeys, sortedKeys;
    std::vector<GatheredContext> deferredMeshes, outlinedEntities;
    std::vector<RendererLight*> lights;
    uint32_t taskCount = 0, deferredCount = 0, outlinedCount = 0, lightCount = 0;
    uint32_t bucketCount[kRenderBucketCount] = {};
    uint32_t bucketStart[kRenderBucketCount] = {};
    bool gathering = false;
    bool taskOverflow = false;
    uint8_t gatherFlags[5] = {};

    // Device.
    gfx::DeviceFactory* factory = nullptr;
    gfx::Device* device = nullptr;
    gfx::PresentParameters presentParams{};
    PresentParameterBlock blockInForce{};
    uint32_t backBufferWidth = 0, backBufferHeight = 0;
    WindowSize windowBackBuffer{0, 0};  // the back buffer in a window, kept while full screen
    uint32_t renderWidth = 0, renderHeight = 0;
    bool rawz = false, intz = false, hardwareDepth = false;
    bool deviceCreated = false;
    int64_t startTime = 0;
    gfx::Surface* outputSurface = nullptr;
    gfx::Surface* backBufferSurface = nullptr;
    gfx::Surface* depthInForce = nullptr;
    bool needsResolve = false;
    bool inScene = false;
    Vector colorFactor{1, 1, 1, 1};

    // Targets.
    RenderTarget targets[TARGET_COUNT];
    DeviceObjectHandle* ambientCube = nullptr;
    RenderSceneGrid* sceneGrid = nullptr;
    // The keys of the last ambient cube refresh (light-list change counter, mask).
    bool ambientCubeKeysSet = false;
    uint32_t ambientCubeLightCounter = 0, ambientCubeMask = 0, ambientCubeRefreshes = 0;
    DeviceObjectHandle* smallAmbientCube = nullptr;
    gfx::Query* eventQueries[kEventQueryCount] = {};
    gfx::Format normalFormat = gfx::FMT_A2B10G10R10;
    gfx::Format sceneColorFormat = gfx::FMT_A2B10G10R10;

    // Geometry and declarations.
    BuiltInMesh builtInMeshes[BUILTIN_MESH_COUNT];
    VertexDeclarationCache* declarationCache = nullptr;
    gfx::VertexDeclaration* globalDeclaration = nullptr;
    gfx::VertexBuffer* batchVertices[3] = {};
    gfx::IndexBuffer* batchIndices[2] = {};

    // State cache.
    static constexpr uint32_t kUnset = 0xFFFFFFFFu;
    struct SamplerCache {
        const DeviceObjectHandle* texture;
        bool textureKnown;
        uint32_t flags;
    };
    BlendModeRow blendRows[kBlendModeCount];
    uint32_t blendMode = 9;
    uint32_t cullMode = kUnset;
    uint32_t alphaTestMode = 3, alphaReference = kUnset;
    uint32_t depthFunction = kUnset, depthBias = kUnset, slopeDepthBias = kUnset;
    uint8_t depthWrite = 1;
    gfx::VertexShader* vertexShader = nullptr;
    gfx::PixelShader* pixelShader = nullptr;
    bool vertexShaderKnown = false, pixelShaderKnown = false;
    SamplerCache samplers[gfx::kSamplerStageCount];
    uint8_t stencilEnable = 0;
    uint32_t stencilPass = kUnset, stencilFail = kUnset, stencilZFail = kUnset, stencilFunction = kUnset;
    uint32_t stencilReference = kUnset, stencilMask = kUnset, stencilWriteMask = 0;
    uint32_t srgbWrite = kUnset;
    gfx::Viewport viewport{};
    float inverseViewportWidth = 0.0f, inverseViewportHeight = 0.0f;
    uint32_t renderTargetFlags = 0;
    uint32_t drawCalls = 0, primitives = 0;
    uint32_t constantGeneration = 1, appliedConstantGeneration = 0;

    // Camera state.
    Matrix view = Matrix::IDENTITY, projection = Matrix::IDENTITY, thirdMatrix = Matrix::IDENTITY;
    Matrix inverseView = Matrix::IDENTITY, inverseProjection = Matrix::IDENTITY;
    Matrix viewProjection = Matrix::IDENTITY, inverseViewProjection = Matrix::IDENTITY;
    Matrix thirdView = Matrix::IDENTITY, thirdViewProjection = Matrix::IDENTITY;
    bool mirrored = false;
    float depthScale = 1.0f;
    Vector sceneParameterValues{0, 0, 0, 1};
    Vector sceneGlobalVector{0, 1, 0, 0};
    Vector modelColor{1, 1, 1, 1};
    Matrix modelMatrix = Matrix::IDENTITY;
};

// Both live in static storage; built and destroyed by the ordered start-up (the
// presenter first).
extern VornexRenderer& gVornexRenderer;
extern VornexRendererPresenterThread& gVornexRendererPresenter;
void CreateGlobalRenderer();
void DestroyGlobalRenderer();
void CreateGlobalPresenter();
void DestroyGlobalPresenter();
