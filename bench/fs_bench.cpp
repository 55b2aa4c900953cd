// Container reads through the file system against the plain alternatives, in one run:
//  - zlib entries read through gFileSystem-style streams (read-ahead on the
//    PhysicalFileReader thread, inflate per buffer) vs one inflate call from memory;
//  - stored entries through the streams vs one plain read of the same bytes.
// Each pair's rates (MB/s of decoded data) and their ratio are printed after the runs.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "RateReporter.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FileSystemContainer.h"
#include "core/fs/PhysicalFileReader.h"

namespace {

constexpr int kEntries = 16;
constexpr size_t kEntrySize = 4 << 20;

std::vector<uint8_t> Content(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"tower ", "squad ", "path ", "level ", "<entity>", "\r\n", "0.125 "};
    std::vector<uint8_t> out;
    out.reserve(size);
    std::mt19937 rng(seed);
    while (out.size() < size) {
        if (rng() % 4 == 0) {
            for (int i = 0, n = 1 + int(rng() % 24); i < n && out.size() < size; ++i) out.push_back(uint8_t(rng()));
        } else {
            for (const char* p = kWords[rng() % 7]; *p && out.size() < size; ++p) out.push_back(uint8_t(*p));
        }
    }
    return out;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One container set with kEntries zlib entries and kEntries stored entries.
struct Fixture {
    std::string dir;
    std::vector<std::vector<uint8_t>> plain;
    std::vector<std::vector<uint8_t>> compressed;
    PhysicalFileReader reader;
    std::unique_ptr<FileSystem> fileSystem;

    Fixture() {
        dir = (std::filesystem::temp_directory_path() / ("fs_bench_" + std::to_string(std::random_device()()))).string();
        std::filesystem::create_directories(dir);
        std::vector<uint8_t> dat;
        std::map<uint32_t, std::vector<uint8_t>> rows;
        const uint32_t seed = 99;
        for (int i = 0; i < 2 * kEntries; ++i) {
            const bool zlib = i < kEntries;
            plain.push_back(Content(kEntrySize, i));
            std::vector<uint8_t> stored = plain.back();
            if (zlib) {
                uLongf n = compressBound(uLong(kEntrySize));
                stored.resize(n);
                compress2(stored.data(), &n, plain.back().data(), uLong(kEntrySize), 6);
                stored.resize(n);
                compressed.push_back(stored);
            }
            const std::string name = (zlib ? "z/" : "s/") + std::to_string(i % kEntries);
            const uint32_t hash = MurmurHash2(name.data(), uint32_t(name.size()), seed, 0x5BD1E995);
            std::vector<uint8_t> row;
            Put32(row, hash);
            Put32(row, uint32_t(dat.size()));
            Put32(row, uint32_t(kEntrySize));
            Put32(row, uint32_t(stored.size()));
            row.push_back(zlib ? 1 : 0);
            rows[hash] = row;
            dat.insert(dat.end(), stored.begin(), stored.end());
        }
        std::vector<uint8_t> idx = {0, 0, 1};
        Put32(idx, uint32_t(rows.size()));
        Put32(idx, seed);
        for (auto& [hash, row] : rows) idx.insert(idx.end(), row.begin(), row.end());
        std::ofstream(dir + "/bench.dat", std::ios::binary).write(reinterpret_cast<const char*>(dat.data()), std::streamsize(dat.size()));
        std::ofstream(dir + "/bench.idx", std::ios::binary).write(reinterpret_cast<const char*>(idx.data()), std::streamsize(idx.size()));
        reader.Start();
        fileSystem = std::make_unique<FileSystem>(&reader);
        fileSystem->MountContainer("bench", (dir + "/bench.dat").c_str(), 2, 0x5BD1E995, 0);
    }
    ~Fixture() {
        fileSystem.reset();
        reader.Stop();
        std::filesystem::remove_all(dir);
    }
};

Fixture& Get() {
    static Fixture fixture;
    return fixture;
}

void ReadThroughFileSystem(benchmark::State& state, const char* folder) {
    Fixture& f = Get();
    std::vector<uint8_t> out(kEntrySize);
    int i = 0;
    for (auto _ : state) {
        const std::string name = std::string(folder) + std::to_string(i++ % kEntries);
        std::unique_ptr<FileSystemInputStream> s(f.fileSystem->OpenInputStream(name.c_str(), nullptr, "bench", 0));
        if (!s || !s->Read(out.data(), uint32_t(kEntrySize))) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kEntrySize));
}

void BM_ZlibEntriesThroughFileSystem(benchmark::State& state) { ReadThroughFileSystem(state, "z/"); }
void BM_StoredEntriesThroughFileSystem(benchmark::State& state) { ReadThroughFileSystem(state, "s/"); }

void BM_ZlibInflateFromMemory(benchmark::State& state) {
    Fixture& f = Get();
    std::vector<uint8_t> out(kEntrySize);
    int i = 0;
    for (auto _ : state) {
        const auto& in = f.compressed[i++ % kEntries];
        uLongf n = uLongf(kEntrySize);
        if (uncompress(out.data(), &n, in.data(), uLong(in.size())) != Z_OK) state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kEntrySize));
}

void BM_StoredPlainFileRead(benchmark::State& state) {
    Fixture& f = Get();
    std::vector<uint8_t> out(kEntrySize);
    // The stored entries follow the zlib ones; a plain read of the same byte count.
    size_t offset = 0;
    for (const auto& c : f.compressed) offset += c.size();
    int i = 0;
    for (auto _ : state) {
        std::FILE* file = std::fopen((f.dir + "/bench.dat").c_str(), "rb");
        std::fseek(file, long(offset + (i++ % kEntries) * kEntrySize), SEEK_SET);
        if (std::fread(out.data(), 1, kEntrySize, file) != kEntrySize) state.SkipWithError("read failed");
        std::fclose(file);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kEntrySize));
}

BENCHMARK(BM_ZlibEntriesThroughFileSystem)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZlibInflateFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoredEntriesThroughFileSystem)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoredPlainFileRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [a, b, figure] :
         {std::tuple{"BM_ZlibEntriesThroughFileSystem", "BM_ZlibInflateFromMemory",
                     "zlib entries through the file system / one inflate from memory, rate"},
          std::tuple{"BM_StoredEntriesThroughFileSystem", "BM_StoredPlainFileRead",
                     "stored entries through the file system / one plain read, rate"}}) {
        std::printf("%s %.1f MB/s, %s %.1f MB/s (medians)\n", a, reporter.Median(a, "bytes_per_second") / 1e6, b,
                    reporter.Median(b, "bytes_per_second") / 1e6);
        benchsupport::PrintFigure(figure, reporter.Ratio(a, "bytes_per_second", b, "bytes_per_second"));
    }
    benchmark::Shutdown();
    return 0;
}
