#pragma once
// What the benchmarks that drive the renderer share: a call run on the render thread
// (waited for), the seconds between two clock readings and the calling thread's CPU time.
#include <chrono>
#include <cstdint>
#include <ctime>
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

// The CPU time the calling thread has used, in seconds: what a thread costs, whatever
// else shares its core.
inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The render thread's CPU time so far, in seconds.
inline double RenderThreadCpuSeconds() {
    double seconds = 0;
    RunOnRenderThread([&] { seconds = ThreadCpuSeconds(); });
    return seconds;
}

}  // namespace benchsupport
