// Rendering contexts moved every frame, in one run: 10,000 contexts each moved by a
// transform record (command 47 op 3) in the command stream and executed by the render
// thread, against the same moves applied directly by one call on the render thread.
// Both re-list the contexts in the scene grid's cells. The ratio of the rates is printed
// at the end (goal: the stream reaches at least half the direct rate).
//
// One frame of 10,000 transform records (192 bytes each with 8-byte pointers) is more
// than the renderer's 1 MiB ring holds; a writer that finds the ring full sleeps 20 ms.
// The argument splits the frame's moves into slices, each followed by a flush that waits,
// so that with 4 slices the ring never fills and the stream's own cost shows.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "render/VornexRenderer.h"
#include "render/scene/EntityRenderingContext.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::Seconds;

constexpr int kContexts = 10000;
constexpr int kFrames = 2;  // two position sets, alternated

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        const bool ok = benchsupport::StartRenderer("ContextBench");
        gVornexRenderer.PostNewScene({{-500, 0, -500, 1}, {500, 50, 500, 1}}, 20.0f);
        gVornexRenderer.FlushCommands(true);
        return ok;
    }();
    (void)started;
}

struct Scene {
    std::vector<EntityRenderingContext*> contexts;
    std::vector<Matrix> moves[kFrames];
    Scene() {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> position(-480.0f, 480.0f), step(-6.0f, 6.0f);
        EntityRenderingContextSetup setup;
        setup.hasEntity = true;
        setup.localBox = {{-2, -2, -2, 1}, {2, 2, 2, 1}};
        for (int i = 0; i < kContexts; ++i) {
            contexts.push_back(new EntityRenderingContext(setup));
            Matrix m = Matrix::IDENTITY;
            m.r[3] = Vector(position(random), 0, position(random), 1);
            for (auto& frame : moves) {
                m.r[3].x += step(random), m.r[3].z += step(random);
                frame.push_back(m);
            }
        }
    }
    ~Scene() {
        for (EntityRenderingContext* c : contexts) c->Release();
        gVornexRenderer.FlushCommands(true);
    }
};

struct DirectMove {
    Scene* scene;
    int frame;
};
void ApplyDirect(uint32_t, CommandRingBuffer& r) {
    DirectMove* move = nullptr;
    if (!r.ReadValue(move)) return;
    for (int i = 0; i < kContexts; ++i)
        move->scene->contexts[i]->SetUITransform(move->scene->moves[move->frame][i], false);
}

void BM_StreamedMovesAgainstDirectRefreshes(benchmark::State& state) {
    StartOnce();
    Scene scene;
    double streamTime = 0, directTime = 0;
    int frame = 0;
    for (auto _ : state) {
        const int slice = kContexts / static_cast<int>(state.range(0));
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kContexts; ++i) {
            const Matrix& m = scene.moves[frame][i];
            scene.contexts[i]->PostTransform(m, Matrix::IDENTITY, 0, scene.contexts[i]->LocalBox());
            if ((i + 1) % slice == 0) gVornexRenderer.FlushCommands(true);
        }
        gVornexRenderer.FlushCommands(true);
        const auto t1 = std::chrono::steady_clock::now();
        frame ^= 1;
        DirectMove move{&scene, frame};
        DirectMove* pointer = &move;
        gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + sizeof(uintptr_t) + sizeof pointer);
        gVornexRenderer.Ring().WriteValue(RenderCallFunction(&ApplyDirect));
        gVornexRenderer.Ring().WriteValue(uintptr_t(0));
        gVornexRenderer.Ring().WriteValue(pointer);
        gVornexRenderer.FlushCommands(true);
        const auto t2 = std::chrono::steady_clock::now();
        frame ^= 1;
        streamTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    const double moves = static_cast<double>(state.iterations()) * kContexts;
    state.counters["stream_moves_per_s"] = moves / streamTime;
    state.counters["direct_moves_per_s"] = moves / directTime;
    state.counters["stream/direct"] = directTime / streamTime;
    state.SetItemsProcessed(state.iterations() * 2 * kContexts);
}
BENCHMARK(BM_StreamedMovesAgainstDirectRefreshes)->Arg(1)->Arg(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [slices, label] : {std::pair{1, "one flush per frame"}, {4, "four waited slices per frame"}}) {
        const std::string name = "BM_StreamedMovesAgainstDirectRefreshes/" + std::to_string(slices);
        if (reporter.Values(name, "stream/direct").empty()) continue;
        std::printf("%s: streamed %.0f moves/s, direct %.0f refreshes/s (medians)\n", label,
                    reporter.Median(name, "stream_moves_per_s"), reporter.Median(name, "direct_moves_per_s"));
        benchsupport::PrintFigure((std::string(label) + ": stream / direct, rate").c_str(),
                                  reporter.Of(name, "stream/direct"), "at least 0.5");
    }
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
