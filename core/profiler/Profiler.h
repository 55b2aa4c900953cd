#pragma once
// Profiler (global gProfiler): 76 named per-frame counters - timed sections, per-frame
// sums and levels - fed by index from any thread, sampled once per frame into
// 209-sample histories and drawn by the render thread as small graph panels.
//
// Threads:
//  - Feeding (StartTimer/StopTimer/AddValue/SetValue): any thread, which passes its
//    thread kind (0 main, 1 render, 2 other). Kind 2 takes the profiler's lock.
//  - Control (Init, BindEnabledMask, EnableProfiler, Draw, Release): main thread, the
//    one that called Init; development builds assert it there and for kind-0 feeding.
//  - Render side (ExecuteRenderCommand and what it calls, graph vertex buffer): render
//    thread, reached through the drawer's function-call records.
// The configured mask (three words owned by the configuration) belongs to the main
// thread; the active mask is the render thread's copy, read by every feeder.
#include <atomic>
#include <cstdint>

#include "core/Sync.h"
#include "core/ThreadCheck.h"
#include "core/Time.h"
#include "core/profiler/ProfilerDrawer.h"

constexpr uint32_t kProfilerCounterCount = 76;
constexpr uint32_t kProfilerHistory = 209;
constexpr uint32_t kProfilerMaskWords = 3;
constexpr uint32_t kProfilerPanelWidth = 210;
constexpr uint32_t kProfilerPanelHeight = 80;
constexpr uint32_t kProfilerGraphVertexCount = 11;
constexpr uint32_t kProfilerPatternMax = 255;
constexpr const char* kProfilerFontName = "_system.ttf~012";

enum ProfilerThreadKind : uint32_t { PROFILER_THREAD_MAIN = 0, PROFILER_THREAD_RENDER = 1, PROFILER_THREAD_OTHER = 2 };
enum ProfilerValueKind : uint32_t { PROFILER_TIMER = 0, PROFILER_SUM = 1, PROFILER_LEVEL = 2 };
enum ProfilerSubCommand : uint32_t {
    PROFILER_CMD_MASK = 0,
    PROFILER_CMD_DRAW = 1,
    PROFILER_CMD_SAMPLES = 2,
    PROFILER_CMD_CLEAR = 3,
};
enum ProfilerMaskOp : uint32_t { PROFILER_MASK_OR = 0, PROFILER_MASK_ANDNOT = 1, PROFILER_MASK_SET = 2, PROFILER_MASK_XOR = 3 };

// Counter indices.
enum ProfilerCounterId : uint32_t {
    PROFILE_FPS, PROFILE_FRAME_TIME, PROFILE_MAIN_FRAME_TIME, PROFILE_MAIN_IDLE, PROFILE_RENDER_IDLE,
    PROFILE_RENDER_FRAME, PROFILE_D3D_PRESENT, PROFILE_RENDER_ROUND, PROFILE_GPU_SYNC, PROFILE_DRAW_CALLS,
    PROFILE_TRIANGLES, PROFILE_PARTICLE_TIME, PROFILE_PARTICLE_RENDER_TIME, PROFILE_PARTICLE_MULTIPLIER,
    PROFILE_PARTICLES_ON_SCREEN, PROFILE_SFX_TIME, PROFILE_VISIBLE_ENTITIES, PROFILE_DYNAMIC_GEOMETRY,
    PROFILE_UI_INST, PROFILE_RENDER_TEST_A, PROFILE_RENDER_TEST_B, PROFILE_TOTAL_FRAME_TIME,
    PROFILE_GAME_TICK_COUNT, PROFILE_GAME_TICK, PROFILE_LOS, PROFILE_LOS_TRIANGLES, PROFILE_PATHFINDING,
    PROFILE_CPU_SKINNING, PROFILE_LUA_ALLOC_TIME, PROFILE_LUA_ALLOC_NUM, PROFILE_LUA_GC_TIME, PROFILE_LUA_GC_MEM,
    PROFILE_ENTITY_INST, PROFILE_MEMORY_FREE, PROFILE_SOUND_INSTANCES, PROFILE_ZOMBIE_SOUND_INSTANCES,
    PROFILE_SOUND_ROUND_TIME, PROFILE_SOUND_TICK, PROFILE_SOUND_DECODE_TIME, PROFILE_SOUND_UPLOAD_TIME,
    PROFILE_SOUND_BYTES_DECODED, PROFILE_NET_TICK_MAIN, PROFILE_NET_TICK_OTHER, PROFILE_NET_SENT_B,
    PROFILE_NET_SENT_PACKETS, PROFILE_NET_SENT_ENTITY, PROFILE_NET_SENT_ENTITY_B, PROFILE_NET_SENT_PACKET_ACK,
    PROFILE_NET_SENT_PACKET_ACK_B, PROFILE_NET_SENT_METHOD, PROFILE_NET_SENT_METHOD_B, PROFILE_NET_CHAT_ENTRY,
    PROFILE_NET_CHAT_ENTRY_B, PROFILE_NET_SENT_TEMPLATE_ID, PROFILE_NET_RECV_B, PROFILE_NET_RECV_PACKETS,
    PROFILE_NET_LATENCY, PROFILE_NET_PACKET_LOSS, PROFILE_NET_DYNAMIC_MID, PROFILE_NET_STATIC_MID,
    PROFILE_MP_PROPS_ENTITY_TICK_NUM, PROFILE_MP_PROPS_ENTITY_TICK_SRV_NUM, PROFILE_RESOURCE_LOADING,
    PROFILE_TEST_A, PROFILE_TEST_B, PROFILE_TEST_C, PROFILE_TEST_D, PROFILE_TEST_E, PROFILE_TEST_F,
    PROFILE_TEST_G, PROFILE_TEST_H, PROFILE_TEST_I, PROFILE_TEST_J, PROFILE_TEST_K, PROFILE_TEST_L,
    PROFILE_TEST_M,
    PROFILE_COUNTER_COUNT
};
static_assert(PROFILE_COUNTER_COUNT == kProfilerCounterCount);

struct ProfilerCounter {
    uint32_t threadKind;
    int32_t depth;
    uint32_t valueKind;
    uint8_t running;
    Time sectionStart;
    Time accumulated;
    float value;
    const char* name;
    const char* format;
    uint8_t showMinimum;
    float graphMin;
    float graphMax;
    float raw[kProfilerHistory];
    float normalised[kProfilerHistory];  // 0..1
    uint32_t position;                   // next slot to write
    uint32_t sampleCount;                // samples ever added
};

struct ProfilerPanelPosition {
    int32_t x, y;
    uint32_t counter;
};

class Profiler {
public:
    Profiler();
    Profiler(const Profiler&) = delete;
    Profiler& operator=(const Profiler&) = delete;

    // ---- Any thread ----
    void StartTimer(uint32_t index, uint32_t threadKind);
    void StopTimer(uint32_t index, uint32_t threadKind);
    void AddValue(uint32_t index, float value, uint32_t threadKind);
    void SetValue(uint32_t index, float value, uint32_t threadKind);

    // ---- Main thread ----
    // The renderer's side of the overlay; set before Init. Null disconnects.
    void SetDrawer(ProfilerDrawer* d) { drawer = d; }
    // Loads the font, then binds the mask.
    void Init(uint32_t* mask);
    // mask: three words owned by the caller, or null. A bound mask is sent to the
    // render thread (set, then clear the histories).
    void BindEnabledMask(uint32_t* mask);
    // Sets (or clears) the bits of every counter whose name contains the pattern in
    // any case; a null pattern selects all 96 bits. Nothing without a bound mask.
    void EnableProfiler(const char* pattern, bool enable = true);
    void DisableProfiler(const char* pattern) { EnableProfiler(pattern, false); }
    // Per rendered frame: send the main-thread samples, set the overlay camera and
    // post the draw.
    void Draw(uint32_t width, uint32_t height);
    void PostDrawCommands();
    void Release();

    // ---- Render thread ----
    static void RenderThreadTrampoline(uint32_t subCommand, CommandRingBuffer& reader);
    void ExecuteRenderCommand(uint32_t subCommand, CommandRingBuffer& reader);
    void AddSample(uint32_t index, float value);
    void CollectSamples();
    void _Render(uint32_t width, uint32_t height);
    void FillGraphVertices(uint32_t index);
    void CreateGraphVertexBuffer();
    void ReleaseGraphVertexBuffer();

    // Min/average/max text of a counter's history; returns the length (0 = empty).
    // Render thread, or any thread while the render thread is idle.
    uint32_t FormatText(uint32_t index, char* buffer, uint32_t size) const;
    // Panels of 210 x 80 for the set bits of mask, from the top-right corner down,
    // then column by column to the left. Returns how many were placed.
    static uint32_t ComputePanelLayout(uint32_t width, uint32_t height, const uint32_t mask[kProfilerMaskWords],
                                       ProfilerPanelPosition* out);

    // Inspection.
    const ProfilerCounter& Counter(uint32_t index) const { return counters[index]; }
    uint32_t ActiveMaskWord(uint32_t word) const { return activeMask[word].load(std::memory_order_relaxed); }
    bool IsActive(uint32_t index) const;
    const uint32_t* ConfiguredMask() const { return configuredMask; }
    const float* GraphLineVertices() const { return graphLines; }
    void* Font() const { return font; }

private:
    // Development builds: the caller is the main thread (or Init has not run yet).
    void AssertMainThread() const { ASSERT_ON_THREAD(mainThread, "main thread"); }
    CommandRingBuffer* BeginPost(uint32_t subCommand, uint32_t extraBytes);
    void PostMaskOp(const uint32_t words[kProfilerMaskWords], uint32_t op);
    void PostClear();

    ProfilerCounter counters[kProfilerCounterCount];
    uint32_t* configuredMask = nullptr;
    std::atomic<uint32_t> activeMask[kProfilerMaskWords] = {};
    void* font = nullptr;
    CriticalSection lock;
    os::ThreadId mainThread = 0;  // set by Init; 0 until then
    ProfilerDrawer* drawer = nullptr;
    bool vertexBufferReady = false;
    // 209 line pairs (x, y, z each), render thread.
    float graphLines[kProfilerHistory * 2 * 3];
};

// Lives in static storage; built and destroyed by the ordered start-up and shutdown.
extern Profiler& gProfiler;
void CreateGlobalProfiler();
void DestroyGlobalProfiler();
