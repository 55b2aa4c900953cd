#include "render/ResourceStreamPump.h"

#include <atomic>

namespace {
std::atomic<void (*)()> gPump{nullptr};
}  // namespace

void PumpResourceStreams() {
    if (void (*pump)() = gPump.load(std::memory_order_acquire)) pump();
}

void SetResourceStreamPump(void (*pump)()) { gPump.store(pump, std::memory_order_release); }
