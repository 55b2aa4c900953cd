// UI element ops and actions against doing the same work directly, in one run:
//  (a) 2,000 elements each given a SetPosition and a SetColor per frame through the op
//      stream and executed on the render thread (frames handed over as they are posted,
//      each batch of frames waited for at its end),
//      against the same render-half updates called directly in a loop on one thread;
//  (b) 2,000 elements each with a running Move ticked per frame, against the same lerp
//      and Matrix::LoadComplexTransformation computed directly.
// Rates are element updates per second; ratios are printed at the end (goals: (a) at
// least 0.5, (b) at least 0.7).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/Time.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIViewState.h"

namespace {

using benchsupport::Seconds;

constexpr int kElements = 2000;

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        return benchsupport::StartRenderer("UIOpsBench");
    }();
    (void)started;
}

std::vector<UIElement*> MakeElements() {
    std::vector<UIElement*> elements;
    for (int i = 0; i < kElements; ++i) elements.push_back(new UIElement());
    gVornexRenderer.FlushCommands(true);
    return elements;
}

void ReleaseElements(std::vector<UIElement*>& elements) {
    for (UIElement* e : elements) e->Release();
    gVornexRenderer.FlushCommands(true);
}

// (a) Each iteration is kFrames frames each way. The stream's frames are handed to the
// render thread as the program hands them (no wait per frame); the iteration ends when the
// render thread has run all of them.
constexpr int kFrames = 16;
void BM_SettersThroughTheStream(benchmark::State& state) {
    StartOnce();
    std::vector<UIElement*> elements = MakeElements();
    // The direct side works on its own elements' render halves (no renderer involved).
    std::vector<UIElementRenderHalf> direct(kElements);
    double streamTime = 0, directTime = 0;
    float f = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int frame = 0; frame < kFrames; ++frame) {
            f += 1.0f;
            for (int i = 0; i < kElements; ++i) {
                const float g = float(i & 255) / 255.0f;
                elements[i]->SetPosition(Vector(f, float(i), 0, 1));
                elements[i]->SetColor(Vector(g, 1.0f - g, 0.5f * g, 1));
            }
            gVornexRenderer.FlushCommands(false);
        }
        gVornexRenderer.FlushCommands(true);
        const auto t1 = std::chrono::steady_clock::now();
        for (int frame = 0; frame < kFrames; ++frame) {
            f += 1.0f;
            for (int i = 0; i < kElements; ++i) {
                // The same colours as the stream's, converted to linear space as SetColor does.
                const float g = float(i & 255) / 255.0f;
                UIElementRenderHalf& r = direct[i];
                r.position = Vector(f, float(i), 0, 1);
                r.localMatrix.LoadComplexTransformation(r.position, r.rotation, r.scale);
                r.mirrored = r.scale.y * r.scale.x * r.scale.z < 0.0f;
                r.color = Vector(std::pow(g, 2.2f), std::pow(1.0f - g, 2.2f), std::pow(0.5f * g, 2.2f), 1);
            }
            benchmark::DoNotOptimize(direct.data());
        }
        const auto t2 = std::chrono::steady_clock::now();
        streamTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    ReleaseElements(elements);
    const double updates = double(state.iterations()) * kElements * kFrames;
    state.counters["stream_per_s"] = updates / streamTime;
    state.counters["direct_per_s"] = updates / directTime;
    state.counters["ratio"] = directTime / streamTime;  // stream rate / direct rate
}
BENCHMARK(BM_SettersThroughTheStream)->UseRealTime();

// (b) Actions ticked on the render thread's state (the ticking itself runs on this
// thread: no op crosses threads per frame), against the same lerp and matrix directly.
void BM_MoveActionsTicked(benchmark::State& state) {
    StartOnce();
    std::vector<UIElement*> elements = MakeElements();
    const int64_t second = Time::Base().frequency;
    std::vector<UIElementRenderHalf> direct(kElements);
    const Vector target(100, 200, 0, 1);
    // Very long moves, so every frame applies one.
    for (UIElement* e : elements) e->Move(1e6f, target, UIACTIONFLAG_GAMEPLAYTIME, 0);
    gVornexRenderer.FlushCommands(true);
    int64_t clock = 0;
    double actionTime = 0, directTime = 0;
    // The clocks and the ticks are render-half work: run them where the render thread is
    // idle (after the flush), from this thread.
    for (auto _ : state) {
        clock += second / 60;
        gUIViewState.smoothGameplayTime = clock;
        const auto t0 = std::chrono::steady_clock::now();
        for (UIElement* e : elements) e->TickActions();
        const auto t1 = std::chrono::steady_clock::now();
        const float t = float(Time(clock).ToSeconds()) / 1e6f;
        for (int i = 0; i < kElements; ++i) {
            UIElementRenderHalf& r = direct[i];
            r.position = UIActionLerp(Vector(), target, t);
            r.localMatrix.LoadComplexTransformation(r.position, r.rotation, r.scale);
            r.mirrored = r.scale.y * r.scale.x * r.scale.z < 0.0f;
        }
        benchmark::DoNotOptimize(direct.data());
        const auto t2 = std::chrono::steady_clock::now();
        actionTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    ReleaseElements(elements);
    const double updates = double(state.iterations()) * kElements;
    state.counters["actions_per_s"] = updates / actionTime;
    state.counters["direct_per_s"] = updates / directTime;
    state.counters["ratio"] = directTime / actionTime;  // action rate / direct rate
}
BENCHMARK(BM_MoveActionsTicked)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("(a) setters through the op stream / direct, rate",
                              reporter.Of("BM_SettersThroughTheStream", "ratio"), "at least 0.5", 3);
    benchsupport::PrintFigure("(b) ticked Move actions / direct, rate", reporter.Of("BM_MoveActionsTicked", "ratio"),
                              "at least 0.7", 3);
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
