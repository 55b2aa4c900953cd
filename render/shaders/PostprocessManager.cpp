#include "render/shaders/PostprocessManager.h"

// Constant-initialised (atomics only), so it exists before any start-up code runs.
PostprocessManager gPostprocessManager;

void PostprocessManager::RequestBlurredImageRefresh(uint32_t frames) {
    requestedFrames.store(frames, std::memory_order_release);
}

void PostprocessManager::EnableBlurredImageRefreshing(bool enable) { refreshing.store(enable, std::memory_order_release); }

bool PostprocessManager::TakeBlurRefresh() {
    uint32_t left = requestedFrames.load(std::memory_order_acquire);
    while (left > 0)
        if (requestedFrames.compare_exchange_weak(left, left - 1, std::memory_order_acq_rel)) return true;
    return refreshing.load(std::memory_order_acquire);
}
