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
#include "platform/window/Window.h"
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
        wnd::WindowDesc desc;
        desc.className = "ContextBench";
        desc.style = wnd::kStylePopup;
        desc.width = 320;
        desc.height = 180;
        const bool ok = gVornexRenderer.Start(wnd::CreateWindow(desc), 0);
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

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto c = run.counters.find("stream/direct");
            if (c == run.counters.end()) continue;
            const double stream = run.counters.at("stream_moves_per_s"), direct = run.counters.at("direct_moves_per_s");
            results.push_back({stream, direct, c->second});
        }
    }
    struct Result {
        double stream, direct, ratio;
    };
    std::vector<Result> results;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* labels[] = {"one flush per frame", "four waited slices per frame"};
    for (size_t i = 0; i < reporter.results.size() && i < 2; ++i) {
        const RatioReporter::Result& r = reporter.results[i];
        std::printf("%s: streamed %.0f moves/s, direct %.0f refreshes/s, ratio %.2f (goal: at least 0.5)\n",
                    labels[i], r.stream, r.direct, r.ratio);
    }
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
