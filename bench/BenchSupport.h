#pragma once
// What the benchmarks share: the figure every benchmark prints (the median of its
// repetitions with their range), and for those that drive the renderer its start on a
// headless window, a call run on the render thread (waited for), the seconds between two
// clock readings and the calling thread's CPU time.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/window/Window.h"
#include "render/VornexRenderer.h"

namespace benchsupport {

// The figures of a benchmark's repetitions: their median (the mean of the two middle ones
// for an even count), smallest and largest. Figures that are not finite (a repetition
// that did not run, a division by zero) are left out; count says how many remained.
struct Spread {
    double median = 0, min = 0, max = 0;
    size_t count = 0;
};

inline Spread SpreadOf(std::vector<double> figures) {
    std::erase_if(figures, [](double f) { return !std::isfinite(f); });
    Spread s;
    s.count = figures.size();
    if (figures.empty()) return s;
    std::sort(figures.begin(), figures.end());
    const size_t n = figures.size();
    s.median = n % 2 ? figures[n / 2] : (figures[n / 2 - 1] + figures[n / 2]) / 2;
    s.min = figures.front();
    s.max = figures.back();
    return s;
}

// One ratio per repetition, numerator[i] / denominator[i] (repetitions paired by their
// order), then their spread: the median of the ratios, not the ratio of the medians.
// Repetitions without a partner or with a denominator of zero are left out.
inline Spread RatioSpread(const std::vector<double>& numerator, const std::vector<double>& denominator) {
    std::vector<double> ratios;
    for (size_t i = 0; i < numerator.size() && i < denominator.size(); ++i)
        if (denominator[i] != 0) ratios.push_back(numerator[i] / denominator[i]);
    return SpreadOf(std::move(ratios));
}

// "0.57 (min-max 0.55-0.60 of 3)", or just "0.57" for one figure and "n/a" for none.
inline std::string Describe(const Spread& s, int decimals = 2) {
    char text[128];
    if (s.count == 0) return "n/a";
    if (s.count == 1) std::snprintf(text, sizeof text, "%.*f", decimals, s.median);
    else
        std::snprintf(text, sizeof text, "%.*f (min-max %.*f-%.*f of %zu)", decimals, s.median, decimals, s.min,
                      decimals, s.max, s.count);
    return text;
}

// One printed line: "<what>: <figure> (goal: <goal>)".
inline void PrintFigure(const char* what, const Spread& s, const char* goal = nullptr, int decimals = 2) {
    if (goal) std::printf("%s: %s (goal: %s)\n", what, Describe(s, decimals).c_str(), goal);
    else std::printf("%s: %s\n", what, Describe(s, decimals).c_str());
}

// Starts the renderer on a popup window of the class name and size (headless unless a
// display is set); false when it did not start.
inline bool StartRenderer(const char* name, uint32_t width = 320, uint32_t height = 180) {
    wnd::WindowDesc desc;
    desc.className = name;
    desc.style = wnd::kStylePopup;
    desc.width = width;
    desc.height = height;
    return gVornexRenderer.Start(wnd::CreateWindow(desc), 0);
}

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
