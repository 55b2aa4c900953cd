// The renderer's resource-job queue: a second command ring inside the renderer that any
// thread writes under the job lock and only the render thread reads.
//
// Records: type 1 {job pointer} and type 2 {function, flag word, object, payload}. Each
// commit releases the commit signal once (waking an idle render thread) and the render
// thread takes one count back per record it reads, so the idle tick's blocking wait
// stays balanced. Jobs are stamped with the main thread's posted-frame count and wait
// until the render thread has completed that many frames, so a job never overtakes the
// render commands of a frame posted before it.
#include <cassert>

#include "core/Log.h"
#include "core/Time.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/RenderJobs.h"
#include "render/VornexRenderer.h"
#include "render/VornexRendererObject.h"
#include "render/ResourceStreamPump.h"

namespace {

enum : uint32_t { RECORD_FILLER = 0, RECORD_JOB = 1, RECORD_CALL = 2 };
constexpr uint32_t kDefaultQueueBytes = 0x10000;
constexpr uint32_t kFullWarningEvery = 10;
constexpr uint32_t kFullWaitMs = 10;

void DefaultFullWait() {
    PumpResourceStreams();
    os::Sleep(kFullWaitMs);
}

}  // namespace

struct ResourceJobQueue {
    std::unique_ptr<CommandRingBuffer> ring = std::make_unique<CommandRingBuffer>(kDefaultQueueBytes, RECORD_FILLER);
    std::atomic<uint32_t> posted{0};
    std::atomic<uint32_t> done{0};
    VornexRendererResourceAccessJob* current = nullptr;  // render thread
    void (*fullWait)() = &DefaultFullWait;
};

void ResourceJobQueueDeleter::operator()(ResourceJobQueue* queue) const { delete queue; }

ResourceJobQueue* VornexRenderer::CreateResourceJobQueue() { return new ResourceJobQueue; }

uint32_t VornexRenderer::PostedResourceJobs() const { return jobQueue->posted.load(std::memory_order_acquire); }
uint32_t VornexRenderer::DoneResourceJobs() const { return jobQueue->done.load(std::memory_order_acquire); }

void VornexRenderer::SetResourceJobQueueBytes(uint32_t bytes) {
    assert(!IsRunning() && !jobQueue->current && jobQueue->ring->Used() == 0 && "resizing a queue in use");
    CriticalSectionGuard guard(&jobLock);
    jobQueue->ring = std::make_unique<CommandRingBuffer>(bytes, RECORD_FILLER);
}

void VornexRenderer::SetResourceJobQueueFullWait(void (*wait)()) {
    jobQueue->fullWait = wait ? wait : &DefaultFullWait;
}

// ---------------------------------------------------------------------------------------
// Writers (any thread)

namespace {
// Reserves a record with the job lock held; false (lock released, one error line) when
// it can never fit or nobody will ever drain a full queue.
bool ReserveRecord(CriticalSection& lock, ResourceJobQueue& queue, uint32_t type, uint32_t size,
                   const VornexRenderer& renderer) {
    lock.Enter();
    CommandRingBuffer& ring = *queue.ring;
    if (!ring.CanEverFit(size)) {
        lock.Leave();
        gLog.Error(LogCategory::Resources, "Resource job of %u bytes can never fit the queue", size);
        return false;
    }
    for (uint32_t attempt = 0; !ring.BeginWrite(type, size); ++attempt) {
        if (!renderer.IsRunning()) {
            lock.Leave();
            gLog.Error(LogCategory::Resources, "Resource creation queue is full and the renderer does not run");
            return false;
        }
        if (attempt % kFullWarningEvery == 0)
            gLog.Warning(LogCategory::Resources, "Resource creation queue is causing delay!!!");
        queue.fullWait();
    }
    return true;
}
}  // namespace

void VornexRenderer::QueueResourceJob(VornexRendererResourceAccessJob* job) {
    if (!ReserveRecord(jobLock, *jobQueue, RECORD_JOB, sizeof job, *this)) {
        // Unreachable for a pointer-sized record unless the renderer stopped; the job
        // then runs here rather than leave its waiter hanging.
        while (!job->Execute(*this)) {
        }
        job->Complete();
        return;
    }
    job->frameStamp = postedFrames.load(std::memory_order_acquire);
    jobQueue->ring->WriteValue(job);
    EndResourceJobWrite();
}

CommandRingBuffer* VornexRenderer::BeginResourceCall(ResourceCallFunction function, void* object,
                                                     uint32_t payloadBytes) {
    const uint32_t head = uint32_t(sizeof function + sizeof(uint32_t) + sizeof object);
    if (payloadBytes > UINT32_MAX - head || !ReserveRecord(jobLock, *jobQueue, RECORD_CALL, head + payloadBytes, *this))
        return nullptr;
    CommandRingBuffer& ring = *jobQueue->ring;
    const uint32_t flag = 0;
    ring.WriteValue(function);
    ring.WriteValue(flag);
    ring.WriteValue(object);
    return &ring;
}

void VornexRenderer::EndResourceJobWrite() {
    jobQueue->ring->EndWrite();
    jobQueue->posted.fetch_add(1, std::memory_order_acq_rel);
    jobLock.Leave();
    commitSignal.Release();
    Wake();  // a render thread asleep in its idle tick
}

void VornexRenderer::WaitForResourceJobs(uint32_t stepMs) {
    while (IsRunning() && DoneResourceJobs() != PostedResourceJobs()) os::Sleep(stepMs);
}

// ---------------------------------------------------------------------------------------
// Render thread

bool VornexRenderer::RunResourceJobs(uint32_t budgetUnits, float seconds) {
    if (DoneResourceJobs() == PostedResourceJobs()) return false;
    if (!ProcessResourceJobs(budgetUnits, seconds)) return false;
    // A job stamped with a frame not yet completed waits for that frame's end, which
    // comes as a command and wakes the thread; only a spent budget leaves work to run now.
    const VornexRendererResourceAccessJob* job = jobQueue->current;
    return !job || job->frameStamp <= completedFrames.load(std::memory_order_acquire);
}

bool VornexRenderer::ProcessResourceJobs(uint32_t budgetUnits, float seconds) {
    ResourceJobQueue& queue = *jobQueue;
    CommandRingBuffer& ring = *queue.ring;
    const int64_t budgetTicks = Time::FromSeconds(seconds).ticks;
    int64_t start = 0;
    bool clockStarted = false;
    uint32_t spent = 0;
    auto overTime = [&] { return seconds > 0.0f && clockStarted && os::ReadCounter() - start > budgetTicks; };
    auto finishOne = [&] {
        queue.done.fetch_add(1, std::memory_order_acq_rel);
        commitSignal.Wait();  // the count its commit released
    };
    for (;;) {
        if (!queue.current) {
            if (!ring.BeginRead()) return false;
            if (!clockStarted) {
                start = os::ReadCounter();
                clockStarted = true;
            }
            const uint32_t type = ring.RecordId();
            if (type == RECORD_JOB) {
                ring.ReadValue(queue.current);
                ring.EndRead();
                if (!queue.current) finishOne();
            } else if (type == RECORD_CALL) {
                ResourceCallFunction function = nullptr;
                uint32_t flag = 0;
                if (ring.ReadValue(function) && ring.ReadValue(flag) && function) function(*this, flag, ring);
                ring.EndRead();
                finishOne();
            } else {
                ring.EndRead();  // filler at the wrap
            }
            if (overTime()) return true;
            continue;
        }
        VornexRendererResourceAccessJob* job = queue.current;
        if (job->frameStamp > completedFrames.load(std::memory_order_acquire)) return true;
        spent += job->GetCost();
        if (job->Execute(*this)) {
            queue.current = nullptr;
            job->Complete();
            finishOne();
        }
        if ((budgetUnits != 0 && spent >= budgetUnits) || overTime()) return true;
    }
}

void VornexRenderer::RunJob(void* job) {
    auto* j = static_cast<VornexRendererResourceAccessJob*>(job);
    if (!j) return;
    while (!j->Execute(*this)) {
    }
    j->Complete();
}

void VornexRenderer::DestroyRendererObject(void* object) {
    if (object) static_cast<VornexRendererObject*>(object)->Destroy();
}
