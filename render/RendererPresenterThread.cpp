#include "render/RendererPresenterThread.h"

#include "core/Time.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

namespace {
constexpr int64_t kQueryWaitLimitSeconds = 1;
}  // namespace

VornexRendererPresenterThread::VornexRendererPresenterThread()
    : BaseThread(kWorkerSettings[WORKER_PRESENTER].name, kWorkerSettings[WORKER_PRESENTER].ringBytes,
                 kWorkerSettings[WORKER_PRESENTER].useLock, kWorkerSettings[WORKER_PRESENTER].waitTimeoutMs) {}

bool VornexRendererPresenterThread::PostPresent(float minimumIntervalSeconds, gfx::Device* device, gfx::Query* query) {
    if (!BeginCommand(CMD_PRESENT, kPresentPayloadBytes)) return false;
    Ring().WriteValue(minimumIntervalSeconds);
    Ring().WriteValue(device);
    Ring().WriteValue(query);
    presentsPosted.fetch_add(1, std::memory_order_acq_rel);
    EndCommand();
    return true;
}

bool VornexRendererPresenterThread::AcknowledgeDeviceLoss() {
    const uint32_t acknowledged = lossesAcknowledged.load(std::memory_order_acquire);
    if (lossesReported.load(std::memory_order_acquire) == acknowledged) return false;
    lossesAcknowledged.store(acknowledged + 1, std::memory_order_release);
    return true;
}

void VornexRendererPresenterThread::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    if (id != CMD_PRESENT) return;
    float interval = 0.0f;
    gfx::Device* device = nullptr;
    gfx::Query* query = nullptr;
    if (ring.ReadValue(interval) && ring.ReadValue(device) && ring.ReadValue(query)) Present(interval, device, query);
    presentsDone.fetch_add(1, std::memory_order_acq_rel);
}

void VornexRendererPresenterThread::Present(float minimumIntervalSeconds, gfx::Device* device, gfx::Query* query) {
    const int64_t interval = Time::FromFloatSeconds(minimumIntervalSeconds).ticks;
    const int64_t elapsed = os::ReadCounter() - lastPresent;
    if (elapsed >= 0 && elapsed < interval) {
        const int64_t ms = (interval - elapsed) / (os::kCounterFrequency / 1000);
        if (ms > 0) os::Sleep(static_cast<uint32_t>(ms));
    }
    lastPresent = os::ReadCounter();
    if (!device) return;
    if (device->Present(nullptr, nullptr, nullptr, nullptr) == gfx::ERR_DEVICELOST) {
        // One loss at a time: a new one counts only once the earlier ones are acknowledged.
        const uint32_t reported = lossesReported.load(std::memory_order_acquire);
        if (reported == lossesAcknowledged.load(std::memory_order_acquire))
            lossesReported.store(reported + 1, std::memory_order_release);
    }
    if (!query) return;
    query->Issue(gfx::ISSUE_END);
    // Bounded like the frame end's wait: the render thread flushes this thread, so a
    // query that never completes must not stop both.
    const int64_t limit = os::ReadRealCounter() + kQueryWaitLimitSeconds * os::kCounterFrequency;
    while (query->GetData(nullptr, 0, gfx::GETDATA_FLUSH) == gfx::OK_FALSE && os::ReadRealCounter() < limit)
        os::Sleep(1);
}
