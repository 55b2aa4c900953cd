// The render command stream against its alternatives, in one run:
//  (a) 16-byte render records (task 47 with a function and an argument) written into the
//      renderer's 4096-byte blocks and executed on the render thread, against the same
//      records each posted as its own BaseThread command to a worker that runs them;
//      each iteration posts a batch and waits until all of it has run;
//  (b) the main thread's cost of posting a render-state record (task 38, sRGB writes on
//      and off) against making the same state change directly where it reaches GL: the
//      glEnable / glDisable of GL_FRAMEBUFFER_SRGB that the drawing device makes for it,
//      called on the drawing device's GL context. (The device's own SetRenderState only
//      stores the value in its state cache; GL sees it at the next draw.)
// Ratios are printed at the end, the medians of the repetitions (goals: (a) at least 3,
// (b) at most 0.5).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GlFunctions.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::Seconds;

constexpr int kBatch = 8192;
constexpr uint32_t kCommand = 9;

uint64_t gExecuted = 0;  // render or worker thread; read after a flush
void Count(uint32_t argument, CommandRingBuffer&) { gExecuted += argument; }

// The 16-byte payload of both: a function and its argument.
struct CallRecord {
    RenderCallFunction function;
    uintptr_t argument;
};
static_assert(sizeof(CallRecord) == 2 * sizeof(void*));

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        return benchsupport::StartRenderer("RenderBench");
    }();
    (void)started;
}

// The worker that runs each record as its own command.
class CommandWorker : public BaseThread {
public:
    CommandWorker() : BaseThread("StreamBench", 0x100000, false, kWaitForever) {}
    ~CommandWorker() override { Stop(); }

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
        CallRecord record;
        if (ring.ReadValue(record) && record.function) record.function(static_cast<uint32_t>(record.argument), ring);
    }
};

// (a) Each iteration runs one batch each way, so the load of a shared machine falls on
// both alike; a batch is posted and then waited for until all of it has run.
void BM_StreamRecordsAgainstOwnCommands(benchmark::State& state) {
    StartOnce();
    CommandWorker worker;
    worker.Start();
    const CallRecord record{&Count, 1};
    double streamTime = 0, commandTime = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            gVornexRenderer.BeginCommand(TASK_CALL, sizeof record);
            gVornexRenderer.Ring().WriteValue(record);
        }
        gVornexRenderer.FlushCommands(true);
        const auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            worker.BeginCommand(kCommand, sizeof record);
            worker.Ring().WriteValue(record);
            worker.EndCommand();
        }
        worker.Flush();
        const auto t2 = std::chrono::steady_clock::now();
        streamTime += Seconds(t0, t1);
        commandTime += Seconds(t1, t2);
    }
    benchmark::DoNotOptimize(gExecuted);
    const double records = static_cast<double>(state.iterations()) * kBatch;
    state.counters["stream_per_s"] = records / streamTime;
    state.counters["commands_per_s"] = records / commandTime;
    state.counters["stream/commands"] = commandTime / streamTime;
    state.SetItemsProcessed(state.iterations() * 2 * kBatch);
}
BENCHMARK(BM_StreamRecordsAgainstOwnCommands)->UseRealTime();

// (b) The main thread's cost of posting a state record against the direct GL call,
// interleaved the same way; the render thread's execution of the records is drained
// outside the timed parts, so the ring never fills.
void BM_PostStateRecordAgainstDirectCall(benchmark::State& state) {
    StartOnce();
    const gfx::DeviceKind kind = gfx::SelectedDeviceKind();
    gfx::SelectDeviceKind(gfx::DeviceKind::Drawing);
    gfx::DeviceFactory* factory = gfx::CreateDeviceFactory(gfx::SDK_VERSION);
    gfx::SelectDeviceKind(kind);
    gfx::PresentParameters p{};
    p.backBufferWidth = 320, p.backBufferHeight = 180, p.backBufferCount = 1, p.windowed = 1;
    p.backBufferFormat = gfx::FMT_X8R8G8B8, p.swapEffect = gfx::SWAPEFFECT_DISCARD;
    gfx::Device* device = nullptr;
    factory->CreateDevice(0, gfx::DEVTYPE_HAL, nullptr, gfx::CREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
    if (!device) {
        state.SkipWithError("no drawing device");
        factory->Release();
        return;
    }
    // The device's context is made current on this thread by a clear through it.
    device->BeginScene();
    device->Clear(0, nullptr, gfx::CLEAR_TARGET, 0, 1.0f, 0);
    device->EndScene();
    const gfx::detail::GlFunctions* gl = gfx::detail::LoadGlFunctions(nullptr);
    if (!gl) {
        state.SkipWithError("no GL table");
        device->Release();
        factory->Release();
        return;
    }
    double postTime = 0, directTime = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) gVornexRenderer.SetSRGBWrite(static_cast<uint8_t>(i & 1));
        const auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) (i & 1) ? gl->glEnable(GL_FRAMEBUFFER_SRGB) : gl->glDisable(GL_FRAMEBUFFER_SRGB);
        const auto t2 = std::chrono::steady_clock::now();
        gVornexRenderer.FlushCommands(true);
        postTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    device->Release();
    factory->Release();
    const double records = static_cast<double>(state.iterations()) * kBatch;
    state.counters["post_ns"] = postTime * 1e9 / records;
    state.counters["direct_ns"] = directTime * 1e9 / records;
    state.counters["post/direct"] = postTime / directTime;
    state.SetItemsProcessed(state.iterations() * 2 * kBatch);
}
BENCHMARK(BM_PostStateRecordAgainstDirectCall)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("(a) stream records / own commands, rate",
                              reporter.Of("BM_StreamRecordsAgainstOwnCommands", "stream/commands"), "at least 3");
    benchsupport::PrintFigure("(b) posting a state record / the direct GL call, time",
                              reporter.Of("BM_PostStateRecordAgainstDirectCall", "post/direct"), "at most 0.5");
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
