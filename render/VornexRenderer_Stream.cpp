// The command stream: the main thread's front end (blocks, records, flushes, start,
// stop, reset, frame end and pacing), the render thread's task loop and its idle tick.
#include <cassert>
#include <cmath>
#include <cstring>
#include <tuple>
#include <type_traits>

#include "core/Log.h"
#include "core/Time.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "platform/window/Window.h"
#include "render/UIDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

namespace {
constexpr float kFrameJobSeconds = 0.005f;
constexpr float kIdleJobSeconds = 0.01f;
constexpr uint32_t kJobBudgetUnits = 1000;
// The shortest sleep of the loading screen's idle tick, in ms: a present held back by
// the presenter or the GPU is looked at again after it.
constexpr uint32_t kLoadingRecheckMs = 1;

// Whole milliseconds to sleep for the seconds left, rounded up so that the thread does
// not wake a moment early and poll.
uint32_t LoadingWaitMs(double seconds) {
    const double ms = std::ceil(seconds * 1000.0);
    if (!(ms > kLoadingRecheckMs)) return kLoadingRecheckMs;
    return ms < 1000.0 * 60.0 ? static_cast<uint32_t>(ms) : 60000u;
}
// How long the idle tick waits, yielding, for the next resource job after it ran some
// (0.2 ms in counter ticks).
constexpr int64_t kNextJobPollTicks = os::kCounterFrequency / 5000;

// A loader that waits for the job just run posts its next one within microseconds (it
// reads ahead while the job runs). Waiting for it here, yielding, for a moment spares
// the thread a sleep and a wake-up per job: on a shared or virtualised machine a wake-up
// takes longer than the whole job. True when a job or a command came.
bool NextJobSoon(VornexRenderer& renderer) {
    const int64_t end = os::ReadRealCounter() + kNextJobPollTicks;
    do {
        if (renderer.PostedResourceJobs() != renderer.DoneResourceJobs() || renderer.Ring().HasRecord()) return true;
        os::YieldThread();
    } while (os::ReadRealCounter() < end);
    return false;
}

// How long the frame wait sleeps before it checks whether the render thread still
// has a frame end to run.
constexpr float kFrameWaitStepSeconds = 0.05f;

// The block's lines were last read by the render thread, a lap of the ring ago: asking
// for all of them at once lets their transfers overlap instead of each record's write
// waiting for its own line. On x86 the request asks for the lines to own (PREFETCHW):
// a plain prefetch brings them in shared, and the first write to each then waits again
// for the other core to let it go.
void PrefetchForWriting(const uint8_t* start, uint32_t bytes) {
    for (uint32_t at = 0; at < bytes; at += 64) {
#if defined(__x86_64__) && defined(__GNUC__)
        asm volatile("prefetchw %0" : : "m"(start[at]));
#else
        __builtin_prefetch(start + at, 1, 3);
#endif
    }
}
}  // namespace

// ---------------------------------------------------------------------------------------
// Front end (main thread)

void VornexRenderer::ReserveBlock() {
    // Waits while the ring is full; refused only when the ring cannot drain at all.
    if (!BaseThread::BeginCommand(kRenderCommandBlock, kRenderBlockBytes)) return;
    blockOpen = true;
    blockStart = recordEnd = Ring().Cursor();
    PrefetchForWriting(blockStart, kRenderBlockBytes);
}

void VornexRenderer::CloseBlock(uint32_t terminator) {
    CommandRingBuffer& ring = Ring();
    // A caller that wrote less than it announced leaves a gap; skip it so the reader
    // finds the next id where it expects one.
    assert(ring.Cursor() == recordEnd && "a render record's payload differs from its announced size");
    if (ring.Cursor() < recordEnd) ring.Skip(static_cast<uint32_t>(recordEnd - ring.Cursor()));
    ring.Skip(PadTo4(static_cast<uint32_t>(ring.Cursor() - blockStart)));
    ring.WriteValue(terminator);
    CountPosted();
    blockOpen = false;
    BaseThread::EndCommand();
}

bool VornexRenderer::BeginCommandInBlock(uint32_t id, uint32_t payloadBytes) {
    AssertMainThread();
    if (payloadBytes > kRenderMaxPayload) {
        gLog.Error(LogCategory::RenderDevice,
                   "VornexRenderer::BeginCommand - task %u: %u payload bytes exceed the %u bytes of a block", id,
                   payloadBytes, kRenderMaxPayload);
        return false;
    }
    // Nothing runs a block while stopped, and a block left open would break the ring
    // records of the next Start.
    if (!started) return false;
    if (!blockOpen) ReserveBlock();
    if (!blockOpen) return false;
    CommandRingBuffer& ring = Ring();
    assert(ring.Cursor() == recordEnd && "a render record's payload differs from its announced size");
    if (ring.Cursor() < recordEnd) ring.Skip(static_cast<uint32_t>(recordEnd - ring.Cursor()));
    uint32_t used = static_cast<uint32_t>(ring.Cursor() - blockStart);
    used += PadTo4(used);
    if (kRenderBlockBytes - used < payloadBytes + 8) {
        CloseBlock(TASK_END_OF_BLOCK);
        ReserveBlock();
        if (!blockOpen) return false;
        used = 0;
    }
    // Padding and id in one copy.
    const uint32_t pad = PadTo4(static_cast<uint32_t>(ring.Cursor() - blockStart));
    uint8_t head[8] = {};
    std::memcpy(head + pad, &id, sizeof id);
    ring.Write(head, pad + sizeof id);
    recordEnd = ring.Cursor() + payloadBytes;
    CountPosted();
    if (taskObserver) taskObserver(taskObserverUser, id);
    return true;
}

void VornexRenderer::FlushCommands(bool wait) {
    AssertMainThread();
    if (!started) return;
    const bool empty = !blockOpen || Ring().Cursor() == blockStart;
    if (empty && !wait) return;
    if (!blockOpen) ReserveBlock();
    if (!blockOpen) return;
    CloseBlock(wait ? TASK_END_OF_BLOCK_WAIT : TASK_END_OF_BLOCK);
    if (wait) BaseThread::Flush();
    ReserveBlock();
}

bool VornexRenderer::EndFrame(gfx::SwapChain* swapChain) {
    postedFrames.fetch_add(1, std::memory_order_acq_rel);
    Post(TASK_END_FRAME, swapChain);
    FlushCommands(false);
    return !deviceResetPending.load(std::memory_order_acquire);
}

void VornexRenderer::WaitForFrameLatency(uint32_t framesAhead) {
    FlushCommands(false);
    if (!started) return;
    gProfiler.StartTimer(PROFILE_MAIN_IDLE, PROFILER_THREAD_MAIN);
    while (WaitedFrames() + framesAhead < PostedFrames()) {
        waitedFrames.fetch_add(1, std::memory_order_acq_rel);
        // A frame end can be lost (abandoned with its block after an unknown id). Once
        // the render thread has run every committed block without a release, none will
        // come: the ring's read offset moves only after a whole block, frame ends and
        // their releases included, has run.
        while (!frameSemaphore.WaitSeconds(kFrameWaitStepSeconds))
            if (Ring().Used() == 0 && !frameSemaphore.WaitSeconds(0.0f)) break;
    }
    gProfiler.StopTimer(PROFILE_MAIN_IDLE, PROFILER_THREAD_MAIN);
}

void VornexRenderer::SetSceneLoading(uint8_t loading) {
    CriticalSectionGuard guard(&rendererLock);
    sceneLoading.store(loading != 0, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------
// Task loop (render thread)

// Plain functions in the table (a table of member-function pointers is misread by the
// undefined-behaviour sanitizer); each forwards to its handler.
template <bool (VornexRenderer::*Handler)(CommandRingBuffer&)>
bool VornexRenderer::Run(VornexRenderer& self, CommandRingBuffer& r) {
    return (self.*Handler)(r);
}

namespace {
template <class... Params>
bool ReadAndCall(VornexRenderer& self, CommandRingBuffer& r, void (VornexRenderer::*method)(Params...)) {
    std::tuple<std::decay_t<Params>...> fields{};
    return std::apply(
        [&](auto&... field) {
            if (!Read(r, field...)) return false;
            (self.*method)(field...);
            return true;
        },
        fields);
}
}  // namespace

template <auto Method>
bool VornexRenderer::Call(VornexRenderer& self, CommandRingBuffer& r) {
    return ReadAndCall(self, r, Method);
}

// One row per task id. Run<&TaskX>: a handler of its own; Call<&Member>: the payload is the
// member's parameters, passed straight on.
const VornexRenderer::TaskHandler VornexRenderer::kTaskHandlers[kRenderTaskCount] = {
    &Run<&VornexRenderer::TaskEndOfBlock>,            // 0
    &Run<&VornexRenderer::TaskEndOfBlockWait>,        // 1
    &Run<&VornexRenderer::TaskCreateDevice>,          // 2
    &Call<&VornexRenderer::ReleaseDeviceResources>,
    &Call<&VornexRenderer::CloseDX>,
    &Run<&VornexRenderer::TaskResetDevice>,           // 5
    &Call<&VornexRenderer::RebuildSceneGrid>,
    &Call<&VornexRenderer::SetSceneGridValue>,
    &Run<&VornexRenderer::TaskRequestDeviceReset>,
    &Run<&VornexRenderer::TaskGameDelegate>,
    &Run<&VornexRenderer::TaskNothing>,               // 10
    &Run<&VornexRenderer::TaskNothing>,
    &Run<&VornexRenderer::TaskLoadingScreen>,
    &Run<&VornexRenderer::TaskBlankFrame>,
    &Run<&VornexRenderer::TaskResetOverride>,
    &Run<&VornexRenderer::TaskLayerMasks>,               // 15
    &Call<&VornexRenderer::BindOutput>,
    &Call<&VornexRenderer::UpscaleFinal>,
    &Run<&VornexRenderer::TaskOutlineTypeMask>,
    &Run<&VornexRenderer::TaskBucketEnable>,
    &Run<&VornexRenderer::TaskOutlineParams>,         // 20
    &Run<&VornexRenderer::TaskSecondaryOutlineParams>,
    &Call<&VornexRenderer::PostProcessTargetMode>,
    &Call<&VornexRenderer::Upscale>,
    &Run<&VornexRenderer::TaskShadowMapPass>,
    &Call<&VornexRenderer::BeginOutlineGather>,       // 25
    &Call<&VornexRenderer::RenderOutlines>,
    &Run<&VornexRenderer::TaskLightBuffers>,
    &Call<&VornexRenderer::ApplyViewport>,
    &Run<&VornexRenderer::TaskBrightness>,
    &Run<&VornexRenderer::TaskScreenScaleX>,          // 30
    &Run<&VornexRenderer::TaskScreenScaleY>,
    &Run<&VornexRenderer::TaskCamera>,
    &Run<&VornexRenderer::TaskCameraMatrices>,
    &Run<&VornexRenderer::TaskCameraFloat>,
    &Run<&VornexRenderer::TaskVisualizationMode>,     // 35
    &Run<&VornexRenderer::TaskFlagByte>,
    &Run<&VornexRenderer::TaskClear>,
    &Call<&VornexRenderer::SetSRGBWriteState>,
    &Run<&VornexRenderer::TaskEndFrame>,
    &Run<&VornexRenderer::TaskSleep>,                 // 40
    &Run<&VornexRenderer::TaskFrameParams>,
    &Call<&VornexRenderer::NotifyRendererObject>,
    &Run<&VornexRenderer::TaskObjectQuery>,
    &Run<&VornexRenderer::TaskScissor>,
    &Run<&VornexRenderer::TaskText>,                  // 45
    &Run<&VornexRenderer::TaskRegisterLight>,
    &Run<&VornexRenderer::TaskCall>,
    &Call<&VornexRenderer::ResetFrameGather>,
    &Run<&VornexRenderer::TaskRenderPasses>,
    &Call<&VornexRenderer::DestroyRendererObject>,       // 50
    &Call<&VornexRenderer::RunJob>,
    &Run<&VornexRenderer::TaskNothing>,
    &Run<&VornexRenderer::TaskDepthStencil>,
    &Run<&VornexRenderer::TaskDebugSkip>,
    &Run<&VornexRenderer::TaskDebugWireBox>,               // 55
    &Run<&VornexRenderer::TaskDebugSkip>,
    &Run<&VornexRenderer::TaskDebugSkip>,
    &Run<&VornexRenderer::TaskDebugLightShape>,
    &Run<&VornexRenderer::TaskDebugLightShape>,
    &Run<&VornexRenderer::TaskDebugSkip>,             // 60
    &Run<&VornexRenderer::TaskDebugSFX>,
    &Run<&VornexRenderer::TaskDebugMarker>,
    &Run<&VornexRenderer::TaskDebugFlag>,
    &Run<&VornexRenderer::TaskDebugMesh>,
    &Run<&VornexRenderer::TaskDebugMeshRecords>,      // 65
    &Run<&VornexRenderer::TaskDebugMeshParts>,
    &Run<&VornexRenderer::TaskDebugMeshPartsRecords>,
    &Run<&VornexRenderer::TaskDebugParticles>,
    &Call<&VornexRenderer::SubmitRenderTaskOnRenderThread>,
};

void VornexRenderer::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    if (id == kRenderCommandBlock) RunBlock(ring);
}

void VornexRenderer::RunBlock(CommandRingBuffer& r) {
    // The consumed count is published once per block (its only writer is this thread).
    uint32_t consumed = 0;
    struct Publish {
        std::atomic<uint32_t>& count;
        uint32_t& n;
        ~Publish() { count.store(count.load(std::memory_order_relaxed) + n, std::memory_order_release); }
    } publish{consumedTasks, consumed};
    for (;;) {
        if (loadingScreen && rendererLock.Enter(false)) {
            if (LoadingScreenDue()) LoadingScreenPresent();
            rendererLock.Leave();
        }
        const uint32_t pad = PadTo4(r.RecordSize() - r.ReadLeft());
        uint32_t task = 0;
        if (r.ReadLeft() < pad + sizeof task) return;  // a block always ends with a terminator; be safe
        std::memcpy(&task, r.ReadCursor() + pad, sizeof task);
        r.SkipRead(pad + sizeof task);
        if (task >= kRenderTaskCount) {
            // The payload cannot be parsed, and reading it as ids could reach a function
            // pointer of task 47: the rest of the block is dropped.
            gLog.Error(LogCategory::Resources, "Unknown XR task: %u, previous: %u", task, previousTaskId);
            previousTaskId = task;
            ++consumed;
            return;
        }
        currentTask = task;
        bool next;
        if (task == TASK_CALL) {
            // The stream's plain calls, the most frequent record, without the table's hops.
            RenderCallFunction function = nullptr;
            uintptr_t argument = 0;
            next = r.ReadValue(function) && r.ReadValue(argument);
            if (next && function) function(static_cast<uint32_t>(argument), r);
        } else {
            next = kTaskHandlers[task](*this, r);
        }
        previousTaskId = task;
        ++consumed;
        if (!next) {
            // Only the terminators end a block on purpose; any other task found its
            // payload cut short, and where the next record would start is unknown.
            if (task != TASK_END_OF_BLOCK && task != TASK_END_OF_BLOCK_WAIT)
                gLog.Error(LogCategory::Resources, "XR task %u cut short: the rest of its block is dropped", task);
            return;
        }
    }
}

bool VornexRenderer::TaskEndOfBlock(CommandRingBuffer&) { return false; }

bool VornexRenderer::TaskEndOfBlockWait(CommandRingBuffer&) {
    RunResourceJobs(0, 0.0f);
    if (presenter->IsRunning()) {
        // A record leaves the presenter's ring only after it ran: with the ring empty every
        // present posted so far is done, and the round trip of a flush is not needed.
        if (presenter->Ring().Used() != 0) presenter->Flush();
        presenter->AcknowledgeDeviceLoss();
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Idle tick (render thread)

void VornexRenderer::Tick() {
    BaseThread::Tick();
    IdleTick();
}

// Between ticks the thread sleeps on its wake event for the time-out this tick leaves:
// every commit to the ring and every resource job posted sets the event, so posted work
// wakes it at once, and a commit that lands while it is still busy leaves the event set
// and the next wait returns at once. Only after running resource jobs does the tick wait
// a moment, yielding, for the next one (NextJobSoon).
void VornexRenderer::IdleTick() {
    uint32_t sleepMs = kWaitForever;
    if (blankFrameMode) {
        // Under the lock, like every other device use that may meet a main-thread reset.
        if (rendererLock.Enter(false)) {
            PresentBlankFrame();
            rendererLock.Leave();
        }
        sleepMs = 0;
    } else if (loadingScreen && !deviceResetPending.load(std::memory_order_acquire) && rendererLock.Enter(false)) {
        const double left = loadingPresentInterval - Time(os::ReadCounter() - lastLoadingPresent).ToSeconds();
        if (left <= 0.0 && LoadingScreenDue()) {
            LoadingScreenPresent();
            sleepMs = LoadingWaitMs(loadingPresentInterval);
        } else {
            // Not yet due, or due but held back by a present or query still in flight:
            // look again when the interval ends, or a moment later.
            sleepMs = LoadingWaitMs(left);
        }
        rendererLock.Leave();
    }
    if (RunResourceJobs(kJobBudgetUnits, kIdleJobSeconds)) sleepMs = 0;
    else if (sleepMs != 0 && DoneResourceJobs() != jobsDoneAtSleep && NextJobSoon(*this)) sleepMs = 0;
    if (sleepMs != 0) jobsDoneAtSleep = DoneResourceJobs();
    currentTimeout.store(sleepMs, std::memory_order_relaxed);
}

// The present conditions shared by the task loop and the idle tick (both hold the
// renderer lock): the interval has passed on the clock, the presenter has no present
// outstanding and the current event query reports completion.
bool VornexRenderer::LoadingScreenDue() {
    const double since = Time(os::ReadCounter() - lastLoadingPresent).ToSeconds();
    if (since + 0.001 < loadingPresentInterval) return false;
    if (presenter->PresentOutstanding()) return false;
    gfx::Query* query = eventQueries[currentQuery];
    return !query || query->GetData(nullptr, 0, 0) != gfx::OK_FALSE;
}

// ---------------------------------------------------------------------------------------
// Frame end (task 39)

bool VornexRenderer::TaskEndFrame(CommandRingBuffer& r) {
    gfx::SwapChain* swapChain = nullptr;
    if (!Read(r, swapChain)) return false;
    const int64_t now = os::ReadCounter();
    if (lastFrameEnd != 0)
        gProfiler.AddValue(PROFILE_RENDER_ROUND,
                           static_cast<float>(Time(now - lastFrameEnd).ToMilliseconds()),
                           PROFILER_THREAD_RENDER);
    lastFrameEnd = now;
    if (device) {
        gProfiler.StartTimer(PROFILE_D3D_PRESENT, PROFILER_THREAD_RENDER);
        const gfx::Result result = swapChain ? swapChain->Present(nullptr, nullptr, nullptr, nullptr, 0)
                                             : device->Present(nullptr, nullptr, nullptr, nullptr);
        gProfiler.StopTimer(PROFILE_D3D_PRESENT, PROFILER_THREAD_RENDER);
        if (result == gfx::ERR_DEVICELOST) deviceResetPending.store(true, std::memory_order_release);
        currentQuery ^= 1;
        if (gfx::Query* query = eventQueries[currentQuery]) {
            gProfiler.StartTimer(PROFILE_GPU_SYNC, PROFILER_THREAD_RENDER);
            const int64_t limit = os::ReadRealCounter() + os::kCounterFrequency;
            while (query->GetData(nullptr, 0, gfx::GETDATA_FLUSH) == gfx::OK_FALSE && os::ReadRealCounter() < limit)
                os::Sleep(1);
            gProfiler.StopTimer(PROFILE_GPU_SYNC, PROFILER_THREAD_RENDER);
        }
    }
    completedFrames.fetch_add(1, std::memory_order_acq_rel);
    frameSemaphore.Release();
    RunResourceJobs(kJobBudgetUnits, kFrameJobSeconds);
    frameCompleted = true;
    return true;
}

void VornexRenderer::UpdateFrameStatistics() {
    const int64_t now = os::ReadCounter();
    const int64_t idle = TotalIdleTime().ticks;
    if (frameCompleted && lastStatistics != 0) {
        const float ms = static_cast<float>(Time(now - lastStatistics).ToMilliseconds());
        gProfiler.SetValue(PROFILE_FPS, ms, PROFILER_THREAD_RENDER);
        gProfiler.SetValue(PROFILE_FRAME_TIME, ms, PROFILER_THREAD_RENDER);
        gProfiler.SetValue(PROFILE_RENDER_IDLE,
                           static_cast<float>(Time(idle - lastIdle).ToMilliseconds()),
                           PROFILER_THREAD_RENDER);
        gProfiler.SetValue(PROFILE_DRAW_CALLS, static_cast<float>(drawCalls), PROFILER_THREAD_RENDER);
        gProfiler.SetValue(PROFILE_TRIANGLES, static_cast<float>(primitives), PROFILER_THREAD_RENDER);
        // Live UI elements: created minus destroyed.
        const uint32_t uiElements = GetUIDrawServices().LiveElementCount();
        gProfiler.SetValue(PROFILE_UI_INST, static_cast<float>(uiElements), PROFILER_THREAD_RENDER);
    }
    lastStatistics = now;
    lastIdle = idle;
}
