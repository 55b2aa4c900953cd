// The frame pass driver and the shadow caster gathering, on the recording device with
// draw records off, timed on the render thread:
//  (1) task 49's driver over a frame of 1,000 forward tasks in 14 buckets, 2,000 deferred
//      meshes and 64 lights (contexts whose Draw makes one indexed draw), against a hand
//      loop over the same contexts in the order the driver chose that sets each bucket's
//      state once and makes the same draws (goal: the driver at most 1.5 times the loop);
//  (2) the shadow pass's gathering from the grid cells under the light volume against a
//      test of every context (goal: at least 3 times faster).
// Ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RendererLight.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::RunOnRenderThread;

using Clock = std::chrono::steady_clock;

std::vector<const EntityRenderingContext*>* gCapture = nullptr;
uint64_t gDepthDraws = 0;

struct BenchContext : EntityRenderingContext {
    using EntityRenderingContext::EntityRenderingContext;
    void Draw(void*, const Matrix&, const RenderTaskArguments&) override {
        if (gCapture) gCapture->push_back(this);
        const BuiltInMesh& box = gVornexRenderer.GetBuiltInMesh(MESH_UNIT_BOX);
        gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, box.vertexCount, 0, 1);
    }
    void DrawDepth(void*, uint32_t) override { ++gDepthDraws; }
};

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        const bool ok = benchsupport::StartRenderer("FramePassBench");
        if (gVornexRenderer.Device()) gfx::GetRecorder(gVornexRenderer.Device())->SetDrawRecordMode(gfx::DrawRecordMode::Off);
        gRendererScene->PostInit();
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 150, -150, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 260.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        gVornexRenderer.FlushCommands(true);
        return ok;
    }();
    (void)started;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::unique_ptr<BenchContext> MakeContext(std::mt19937& rng, bool grid, float spread) {
    std::uniform_real_distribution<float> u(-spread, spread);
    EntityRenderingContextSetup s;
    s.creationFlags = grid ? 0u : uint32_t(ERC_FLAG_NO_GRID);
    s.kindFlags = ERC_KIND_SHADOW_CASTER;
    s.localBox = BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
    s.world.r[3] = Vector(u(rng), 1.0f, u(rng), 1);
    return std::make_unique<BenchContext>(s);
}

void BM_DriverAgainstHandLoop(benchmark::State& state) {
    StartOnce();
    double driverSeconds = 0, loopSeconds = 0;
    std::mt19937 rng(7);
    std::vector<std::unique_ptr<BenchContext>> forward, deferred;
    std::vector<std::unique_ptr<RendererLight>> lights(64);
    for (int i = 0; i < 1000; ++i) {
        forward.push_back(MakeContext(rng, false, 100.0f));
        forward.back()->PostSetBucket(static_cast<uint32_t>(i % 14));
    }
    for (int i = 0; i < 2000; ++i) deferred.push_back(MakeContext(rng, false, 100.0f));
    RunOnRenderThread([&] {
        for (auto& l : lights) l = std::make_unique<RendererLight>();
    });
    gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
    gVornexRenderer.PostResetFrameGather();
    for (auto& c : forward) gVornexRenderer.SubmitRenderTask(c.get(), RENDER_FLAG_FORWARD);
    for (auto& c : deferred) gVornexRenderer.SubmitRenderTask(c.get(), RENDER_FLAG_DEFERRED);
    for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
    gVornexRenderer.FlushCommands(true);
    // The order the driver chose, captured once.
    std::vector<const EntityRenderingContext*> order;
    RunOnRenderThread([&] {
        gCapture = &order;
        gVornexRenderer.RenderScene(Vector(0, 0, 0, 1), 0, 0);
        gCapture = nullptr;
    });
    std::vector<std::pair<uint32_t, EntityRenderingContext*>> forwardOrder;
    for (size_t i = 2 * deferred.size(); i < order.size(); ++i) {
        auto* c = const_cast<EntityRenderingContext*>(order[i]);
        forwardOrder.push_back({c->Bucket(), c});
    }
    for (auto _ : state) {
        double driver = 0, loop = 0;
        RunOnRenderThread([&] {
            const auto t0 = Clock::now();
            gVornexRenderer.RenderScene(Vector(0, 0, 0, 1), 0, 0);
            const auto t1 = Clock::now();
            RenderTaskArguments a;
            a.pass = 2, a.mode = 3;
            for (auto& c : deferred) c->Render(nullptr, a);
            a.pass = 4, a.mode = 0;
            for (auto& c : deferred) c->Render(nullptr, a);
            uint32_t bucket = ~0u;
            a.pass = 1;
            for (const auto& [b, c] : forwardOrder) {
                if (b != bucket) gVornexRenderer.SetBucketState(bucket = b, &a.mode);
                c->Render(nullptr, a);
            }
            gVornexRenderer.DisableStencil();
            const auto t2 = Clock::now();
            driver = Seconds(t0, t1), loop = Seconds(t1, t2);
        });
        driverSeconds += driver, loopSeconds += loop;
        state.SetIterationTime(driver);
    }
    state.counters["driver/loop"] = loopSeconds > 0 ? driverSeconds / loopSeconds : 0.0;
    gVornexRenderer.PostUpscaleFinal();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { lights.clear(); });
}
BENCHMARK(BM_DriverAgainstHandLoop)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ShadowGatheringAgainstEveryContext(benchmark::State& state) {
    StartOnce();
    double gridSeconds = 0, everySeconds = 0, coverage = 0;
    gVornexRenderer.PostNewScene(BoundingBox4(Vector(-1000, 0, -1000, 1), Vector(1000, 50, 1000, 1)), 50.0f);
    RunOnRenderThread([] {
        SceneParametersWrapper* set = gRendererScene->GetCurrentParameters();
        Vector d(0.2f, -1.0f, 0.3f, 0);
        d.NormalizeXYZ();
        set->Values().light.lightDirection = d;
        set->Values().light.shadowStrength = Vector(0.5f, 0.5f, 0.5f, 0.5f);
    });
    std::mt19937 rng(11);
    std::vector<std::unique_ptr<BenchContext>> contexts;
    for (int i = 0; i < 20000; ++i) {
        contexts.push_back(MakeContext(rng, true, 1000.0f));
        contexts.back()->PostRefresh();
    }
    gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
    gVornexRenderer.FlushCommands(true);
    // One pass fits the light box; the gathering is then timed alone.
    RunOnRenderThread([] { gVornexRenderer.ShadowMapPass(0); });
    for (auto _ : state) {
        double grid = 0, every = 0;
        uint64_t drawn = 0;
        RunOnRenderThread([&] {
            gDepthDraws = 0;
            const auto t0 = Clock::now();
            gVornexRenderer.DrawShadowCasters(0);
            const auto t1 = Clock::now();
            drawn = gDepthDraws;
            // The same tests over every context.
            const BoundingBox4& box = gVornexRenderer.LightSpaceBox();
            const Matrix& inverse = gVornexRenderer.LightInverse();
            uint64_t passed = 0;
            for (auto& c : contexts)
                if ((c->KindFlags() & ERC_KIND_SHADOW_CASTER) && !c->Hidden() && c->MinimumQuality() <= 5 &&
                    c->LocalBox().CollidesWithOtherBox3D(c->World(), box, inverse))
                    c->DrawDepth(nullptr, ++passed);
            const auto t2 = Clock::now();
            grid = Seconds(t0, t1), every = Seconds(t1, t2);
        });
        gridSeconds += grid, everySeconds += every;
        coverage = static_cast<double>(drawn) / contexts.size();
        state.SetIterationTime(grid);
    }
    state.counters["every/grid"] = gridSeconds > 0 ? everySeconds / gridSeconds : 0.0;
    state.counters["cast_share"] = coverage;
    gVornexRenderer.PostUpscaleFinal();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { contexts.clear(); });
}
BENCHMARK(BM_ShadowGatheringAgainstEveryContext)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("frame_pass: driver / hand loop, time", reporter.Of("BM_DriverAgainstHandLoop", "driver/loop"),
                              "at most 1.5");
    benchsupport::PrintFigure("frame_pass: every context / grid gathering, time",
                              reporter.Of("BM_ShadowGatheringAgainstEveryContext", "every/grid"), "at least 3");
    std::printf("frame_pass: %.1f %% of contexts cast (median)\n",
                100.0 * reporter.Median("BM_ShadowGatheringAgainstEveryContext", "cast_share"));
    benchmark::Shutdown();
    return 0;
}
