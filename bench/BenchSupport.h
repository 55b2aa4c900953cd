#pragma once
// What the benchmarks that drive the renderer share: a call run on the render thread
// (waited for) and the seconds between two clock readings.
#include <chrono>
#include <cstdint>
#include <functional>

#include "render/VornexRenderer.h"

namespace benchsupport {

// Runs f on the render thread and returns once it has run.
inline void RunOnRenderThread(const std::function<void()>& f) {
    RenderCallFunction call = [](uint32_t, CommandRingBuffer& r) {
        const std::function<void()>* target = nullptr;
        if (r.ReadValue(target)) (*target)();
    };
    const std::function<void()>* pointer = &f;
    gVornexRenderer.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t) + sizeof pointer);
    gVornexRenderer.Ring().WriteValue(call);
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
    gVornexRenderer.Ring().WriteValue(pointer);
    gVornexRenderer.FlushCommands(true);
}

inline double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

}  // namespace benchsupport
