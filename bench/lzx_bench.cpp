// LZX decoding speed: our frame decoder against libmspack on the same compressed
// frames (libmspack reads them as the data blocks of one cabinet folder, in memory).
// bench-sources: tests/core/fs/support/LzxTestEncoder.cpp
// bench-link: mspack
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/RateReporter.h"
#include "core/fs/LzxFrameDecoder.h"
#include "tests/core/fs/support/LzxTestEncoder.h"

namespace {

constexpr uint32_t kInputBytes = 16u << 20;

struct Input {
    std::vector<uint8_t> data, stream, cabinet;
    Input() {
        data = LzxTestData(kInputBytes, 42);
        LzxTestOptions o;
        o.e8Size = 12000000;
        o.blocks = {{1, 1u << 20}, {2, 1u << 20}};
        const LzxTestFrames frames = LzxTestEncode(data, o);
        stream = LzxTestFrameStream(frames);
        cabinet = LzxTestCabinet(frames, 16);
    }
};

const Input& TheInput() {
    static const Input input;
    return input;
}

void DecodeOurs(const Input& in, std::vector<uint8_t>& out) {
    LzxFrameDecoder d;
    uint32_t used = static_cast<uint32_t>(in.stream.size()), made = static_cast<uint32_t>(out.size());
    if (d.Decompress(in.stream.data(), &used, out.data(), &made) != kLzxOk || made != in.data.size()) std::abort();
}

void DecodeMspack(const Input& in, std::vector<uint8_t>& out) {
    if (!LzxMspackExtract(in.cabinet, out) || out.size() != in.data.size()) std::abort();
}

void BM_LzxOurs(benchmark::State& state) {
    const Input& in = TheInput();
    std::vector<uint8_t> out(in.data.size());
    for (auto _ : state) {
        DecodeOurs(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}

void BM_LzxLibmspack(benchmark::State& state) {
    const Input& in = TheInput();
    std::vector<uint8_t> out;
    out.reserve(in.data.size());
    for (auto _ : state) {
        DecodeMspack(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}

// Both decoders in one run, alternating, with both rates and their ratio as counters.
void BM_LzxOursVsLibmspack(benchmark::State& state) {
    const Input& in = TheInput();
    std::vector<uint8_t> ours(in.data.size()), theirs;
    theirs.reserve(in.data.size());
    double oursSeconds = 0, theirSeconds = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        DecodeOurs(in, ours);
        const auto t1 = Clock::now();
        DecodeMspack(in, theirs);
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        theirSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    if (ours != theirs) std::abort();
    const double mb = double(in.data.size()) * double(state.iterations()) / 1e6;
    state.counters["ours_MBps"] = mb / oursSeconds;
    state.counters["libmspack_MBps"] = mb / theirSeconds;
    state.counters["ours_over_libmspack"] = theirSeconds / oursSeconds;
}

BENCHMARK(BM_LzxOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzxLibmspack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzxOursVsLibmspack)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("ours / libmspack, rate", reporter.Of("BM_LzxOursVsLibmspack", "ours_over_libmspack"));
    benchmark::Shutdown();
    return 0;
}
