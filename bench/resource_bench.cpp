// Texture loading through the ResourceManager against the same work done directly, in
// one run: each iteration queues a set of DDS textures through the manager (loader
// thread reads, render thread creates) and waits for them, then reads and creates the
// same textures on one thread with FileReader and CreateTextureFromFileInMemoryEx.
// Two sets: 1,000 small ones (32 x 32 A8R8G8B8, one level), and 256 of the kinds the
// game's data holds: 32 x 32 A8R8G8B8, 256 x 256 DXT1, 512 x 512 DXT5 and 1024 x 1024
// DXT1, the compressed ones with their whole mip chains.
// Evicting the loaded textures between iterations is not timed. The ratio of the two
// rates is printed at the end (goal: at least 0.8), with what the manager's path costs
// above the direct one per texture next to one bare hand-off there and back between two
// threads (a flag passed to and fro, each side yielding while it waits): every managed
// load makes one such round trip, as the loader waits for the render thread's creation.
// Each set also reports how many cores were busy on average while it loaded through the
// manager (process CPU time over wall time): near 1 the loader and the render thread took
// turns on one core, and the read-ahead could not overlap the creation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/LoaderBench.h"
#include "bench/RateReporter.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "platform/os/Thread.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/TextureLoad.h"
#include "render/resources/Resource.h"

namespace {

using benchsupport::Seconds;

constexpr uint32_t kEdge = 32;

// The two sets: their size and the file of their i-th texture.
constexpr int kSetSize[] = {1000, 256};
constexpr const char* kSetName[] = {"small", "mixed"};

std::string gFolder;

std::string Name(int set, int i) { return std::string(kSetName[set]) + std::to_string(i) + ".dds"; }

// A DXT1 or DXT5 DDS of edge x edge texels with its whole mip chain.
std::vector<uint8_t> DxtDds(uint32_t edge, bool dxt5, uint32_t seed) {
    const uint32_t block = dxt5 ? 16 : 8;
    auto levelBytes = [&](uint32_t e) { return std::max(1u, (e + 3) / 4) * std::max(1u, (e + 3) / 4) * block; };
    uint32_t levels = 0, bytes = 0;
    for (uint32_t e = edge; e; e >>= 1, ++levels) bytes += levelBytes(e);
    std::vector<uint8_t> b(128 + bytes, 0);
    const uint32_t header[] = {0x20534444, 124, 0xA1007, edge, edge, levelBytes(edge), 0, levels};
    std::memcpy(b.data(), header, sizeof header);
    const uint32_t format[] = {32, 0x4, dxt5 ? 0x35545844u : 0x31545844u, 0, 0, 0, 0, 0, 0x401008};
    std::memcpy(b.data() + 76, format, sizeof format);
    for (size_t i = 128; i < b.size(); ++i) b[i] = uint8_t(i * seed);
    return b;
}

// A 32x32 A8R8G8B8 DDS with one level.
std::vector<uint8_t> SmallDds(uint32_t seed) {
    std::vector<uint8_t> b(128 + kEdge * kEdge * 4, 0);
    const uint32_t header[] = {0x20534444, 124, 0x100F, kEdge, kEdge, kEdge * 4, 0, 1};
    std::memcpy(b.data(), header, sizeof header);
    const uint32_t format[] = {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0x1000};
    std::memcpy(b.data() + 76, format, sizeof format);
    for (size_t i = 128; i < b.size(); ++i) b[i] = uint8_t(i * seed);
    return b;
}

void StartOnce() {
    static const bool started = benchsupport::StartLoader("resource_bench", &gFolder, [](const std::string& folder) {
        auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
            if (FILE* f = std::fopen((folder + "/" + name).c_str(), "wb")) {
                std::fwrite(bytes.data(), 1, bytes.size(), f);
                std::fclose(f);
            }
        };
        for (int i = 0; i < kSetSize[0]; ++i) write(Name(0, i), SmallDds(uint32_t(i) + 1));
        for (int i = 0; i < kSetSize[1]; ++i) {
            const uint32_t seed = uint32_t(i) + 1;
            switch (i % 4) {
                case 0: write(Name(1, i), SmallDds(seed)); break;
                case 1: write(Name(1, i), DxtDds(256, false, seed)); break;
                case 2: write(Name(1, i), DxtDds(512, true, seed)); break;
                default: write(Name(1, i), DxtDds(1024, false, seed)); break;
            }
        }
        gFileSystem.MountDirectory("textures", folder.c_str());
    });
    (void)started;
}

void BM_ManagerAgainstDirectLoads(benchmark::State& state) {
    StartOnce();
    const int set = int(state.range(0));
    const int kTextures = kSetSize[set];
    state.SetLabel(kSetName[set]);
    gfx::DeviceFactory* factory = gfx::CreateDeviceFactory(gfx::SDK_VERSION);
    gfx::PresentParameters p{};
    p.backBufferWidth = 320, p.backBufferHeight = 180, p.backBufferCount = 1, p.windowed = 1;
    p.backBufferFormat = gfx::FMT_X8R8G8B8, p.swapEffect = gfx::SWAPEFFECT_DISCARD;
    gfx::Device* device = nullptr;
    factory->CreateDevice(0, gfx::DEVTYPE_HAL, nullptr, gfx::CREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
    std::vector<std::string> names;
    for (int i = 0; i < kTextures; ++i) names.push_back(Name(set, i));
    std::vector<Resource*> textures(kTextures);
    std::vector<gfx::Texture*> direct(kTextures, nullptr);
    double managerTime = 0, directTime = 0, managerCpu = 0;
    uint64_t created = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::clock_t c0 = std::clock();
        for (int i = 0; i < kTextures; ++i) {
            textures[i] = gResourceManager.GetResource(RESOURCE_TEXTURE, names[i].c_str(), 0, true, 0);
            textures[i]->QueueLoad();
        }
        // Waited for by draining the loader, which returns as soon as the last load ended
        // (a resource's own wait sleeps in 10 ms steps).
        gResourceManager.Flush();
        const auto t1 = std::chrono::steady_clock::now();
        managerCpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
        for (int i = 0; i < kTextures; ++i) {
            FileReader reader(names[i].c_str(), nullptr, "textures");
            const uint32_t size = reader.GetSize();
            void* bytes = EngineAlloc(size);
            gfx::Texture* texture = nullptr;
            if (reader.Read(bytes, size) &&
                gfx::Succeeded(gfx::CreateTextureFromFileInMemoryEx(
                    device, bytes, size, gfx::DEFAULT_NONPOW2, gfx::DEFAULT_NONPOW2, gfx::FROM_FILE, 0,
                    gfx::FMT_UNKNOWN, gfx::POOL_MANAGED, gfx::FILTER_NONE, gfx::FILTER_NONE, 0, nullptr, nullptr,
                    &texture))) {
                direct[i] = texture;
                ++created;
            }
            EngineFree(bytes);
        }
        const auto t2 = std::chrono::steady_clock::now();
        for (gfx::Texture*& t : direct) if (t) { t->Release(); t = nullptr; }
        managerTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
        ReleaseResources(textures.data(), kTextures);
        gResourceManager.PostEvictResources(1u << RESOURCE_TEXTURE, false, 0, 0);
        gResourceManager.Flush();
        gVornexRenderer.WaitForResourceJobs(1);
    }
    device->Release();
    factory->Release();
    benchmark::DoNotOptimize(created);
    const double loads = static_cast<double>(state.iterations()) * kTextures;
    state.counters["manager_per_s"] = loads / managerTime;
    state.counters["direct_per_s"] = loads / directTime;
    state.counters["manager/direct"] = directTime / managerTime;
    state.counters["manager_cpus"] = managerCpu / managerTime;
    state.SetItemsProcessed(state.iterations() * 2 * kTextures);
}
BENCHMARK(BM_ManagerAgainstDirectLoads)->Arg(0)->Arg(1)->UseRealTime()->MinTime(2.0);

// One hand-off to another thread and back, in the waits' own style (poll, yield).
void BM_ThreadRoundTrip(benchmark::State& state) {
    std::atomic<uint64_t> turn{0};
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        for (uint64_t seen = 0; !stop.load(std::memory_order_relaxed);) {
            const uint64_t t = turn.load(std::memory_order_acquire);
            if (t != seen && t % 2 == 1) {
                seen = t + 1;
                turn.store(seen, std::memory_order_release);
            } else {
                os::YieldThread();
            }
        }
    });
    uint64_t t = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        turn.store(++t, std::memory_order_release);
        while (turn.load(std::memory_order_acquire) != t + 1) os::YieldThread();
        ++t;
    }
    const double seconds = Seconds(start, std::chrono::steady_clock::now());
    stop = true;
    echo.join();
    state.counters["round_trip_us"] = seconds * 1e6 / double(state.iterations());
}
BENCHMARK(BM_ThreadRoundTrip)->UseRealTime()->MinTime(0.5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int i = 0; i < 2; ++i) {
        const char* set = kSetName[i];
        const std::string name = "BM_ManagerAgainstDirectLoads/" + std::to_string(i);
        const double manager = reporter.Median(name, "manager_per_s"), direct = reporter.Median(name, "direct_per_s");
        if (manager <= 0 || direct <= 0) continue;
        std::printf("%s set: textures through the manager: %.0f/s, directly on one thread: %.0f/s (medians)\n", set,
                    manager, direct);
        benchsupport::PrintFigure((std::string(set) + " set: manager / direct, rate").c_str(),
                                  reporter.Of(name, "manager/direct"), "at least 0.8");
        std::printf("%s set: manager above direct: %.2f us per texture\n", set, 1e6 / manager - 1e6 / direct);
        // Near 1: the loader and the render thread took turns on one core (the cores of the
        // run were busy with other work), so the read-ahead could not overlap the creation.
        std::printf("%s set: cores busy while loading through the manager: %.2f (median)\n", set,
                    reporter.Median(name, "manager_cpus"));
    }
    std::printf("one bare thread round trip: %.2f us\n", reporter.Median("BM_ThreadRoundTrip", "round_trip_us"));
    benchsupport::StopLoader(gFolder);
    benchmark::Shutdown();
    return 0;
}
