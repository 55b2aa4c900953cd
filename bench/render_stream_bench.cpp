// The render command stream against its alternatives, in one run:
//  (a) 16-byte render records (task 47 with a function and an argument) written into the
//      renderer's 4096-byte blocks and executed on the render thread, against the same
//      records each posted as its own BaseThread command to a worker that runs them;
//      each iteration posts a batch and waits until all of it has run;
//  (b) the main thread's cost of posting a render-state record (task 38) against making
//      the same graphics-device call directly.
// Ratios are printed at the end (goals: (a) at least 3, (b) at most 0.5).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/gfx/GfxDevice.h"
#include "platform/window/Window.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

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
        wnd::WindowDesc desc;
        desc.className = "RenderBench";
        desc.style = wnd::kStylePopup;
        desc.width = 320;
        desc.height = 180;
        return gVornexRenderer.Start(wnd::CreateWindow(desc), 0);
    }();
    (void)started;
}

void BM_StreamRecords(benchmark::State& state) {
    StartOnce();
    const CallRecord record{&Count, 1};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            gVornexRenderer.BeginCommand(TASK_CALL, sizeof record);
            gVornexRenderer.Ring().WriteValue(record);
        }
        gVornexRenderer.FlushCommands(true);
    }
    benchmark::DoNotOptimize(gExecuted);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_StreamRecords)->UseRealTime();

// A worker that runs each record as its own command.
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

void BM_OwnCommands(benchmark::State& state) {
    StartOnce();
    CommandWorker worker;
    worker.Start();
    const CallRecord record{&Count, 1};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            worker.BeginCommand(kCommand, sizeof record);
            worker.Ring().WriteValue(record);
            worker.EndCommand();
        }
        worker.Flush();
    }
    benchmark::DoNotOptimize(gExecuted);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_OwnCommands)->UseRealTime();

void BM_PostStateRecord(benchmark::State& state) {
    StartOnce();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) gVornexRenderer.SetSRGBWrite(static_cast<uint8_t>(i & 1));
        // The render thread's execution is not the poster's cost: drain untimed, so the
        // ring never fills.
        state.PauseTiming();
        gVornexRenderer.FlushCommands(true);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PostStateRecord)->UseRealTime();

void BM_DirectStateCall(benchmark::State& state) {
    StartOnce();
    gfx::DeviceFactory* factory = gfx::CreateDeviceFactory(gfx::SDK_VERSION);
    gfx::PresentParameters p{};
    p.backBufferWidth = 320, p.backBufferHeight = 180, p.backBufferCount = 1, p.windowed = 1;
    p.backBufferFormat = gfx::FMT_X8R8G8B8, p.swapEffect = gfx::SWAPEFFECT_DISCARD;
    gfx::Device* device = nullptr;
    factory->CreateDevice(0, gfx::DEVTYPE_HAL, nullptr, gfx::CREATE_HARDWARE_VERTEXPROCESSING | gfx::CREATE_MULTITHREADED,
                          &p, &device);
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) device->SetRenderState(gfx::RS_SRGBWRITEENABLE, static_cast<uint32_t>(i & 1));
    device->Release();
    factory->Release();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DirectStateCall)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    double Ratio(const char* a, const char* b) const {
        const auto x = times.find(a), y = times.find(b);
        return x == times.end() || y == times.end() || y->second <= 0 ? 0 : x->second / y->second;
    }

private:
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("stream records / own commands, rate: %.2f (goal: at least 3)\n",
                reporter.Ratio("BM_OwnCommands/real_time", "BM_StreamRecords/real_time"));
    std::printf("posting a state record / direct device call, time: %.2f (goal: at most 0.5)\n",
                reporter.Ratio("BM_PostStateRecord/real_time", "BM_DirectStateCall/real_time"));
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
