#pragma once
// VornexRendererPresenterThread ("PresenterThread"): presents the loading screen at a
// steady pace while a scene loads, so that the render thread can go on running
// resource jobs. Ordinary frames are presented by the render thread itself.
//
// Its one command (8) carries {float minimum interval in seconds, device, event query}
// (pointers at native size). The render thread posts it only while no present is
// outstanding (PresentsPosted() == PresentsDone()).
//
// Threads: PostPresent and AcknowledgeDeviceLoss on the render thread; the counts are
// atomics read by any thread.
#include <atomic>
#include <cstdint>

#include "core/BaseThread.h"

namespace gfx {
class Device;
class Query;
}

class VornexRendererPresenterThread : public BaseThread {
public:
    enum : uint32_t { CMD_PRESENT = 8 };
    static constexpr uint32_t kPresentPayloadBytes = sizeof(float) + 2 * sizeof(void*);

    VornexRendererPresenterThread();

    bool PostPresent(float minimumIntervalSeconds, gfx::Device* device, gfx::Query* query);
    // True when a loss was reported and not yet acknowledged; acknowledges it.
    bool AcknowledgeDeviceLoss();
    bool PresentOutstanding() const { return PresentsPosted() != PresentsDone(); }

    uint32_t PresentsPosted() const { return presentsPosted.load(std::memory_order_acquire); }
    uint32_t PresentsDone() const { return presentsDone.load(std::memory_order_acquire); }
    uint32_t LossesReported() const { return lossesReported.load(std::memory_order_acquire); }
    uint32_t LossesAcknowledged() const { return lossesAcknowledged.load(std::memory_order_acquire); }

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;

private:
    void Present(float minimumIntervalSeconds, gfx::Device* device, gfx::Query* query);

    int64_t lastPresent = 0;  // counter ticks, presenter thread
    std::atomic<uint32_t> presentsPosted{0};
    std::atomic<uint32_t> presentsDone{0};
    std::atomic<uint32_t> lossesReported{0};
    std::atomic<uint32_t> lossesAcknowledged{0};
};
