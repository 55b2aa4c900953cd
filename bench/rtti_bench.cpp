// Property-list throughput: a large object (thousands of array elements) written and
// read through the property walk, beside a plain memory copy of the same payload.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/RateReporter.h"
#include "tests/core/rtti/RichTestClass.h"

using namespace richtest;

namespace {

struct Large {
    RichObject object;
    std::vector<uint8_t> payload;
    Large() {
        FillRich(object, nullptr);
        for (uint32_t i = 0; i < 20000; ++i) object.words.Add(i);
        for (uint32_t i = 0; i < 5000; ++i) object.records.Add(Record{i, NameString(i % 2 ? "odd" : "even")});
        for (uint32_t i = 0; i < 2000; ++i) {
            auto* e = new ElemText;
            e->v = static_cast<int32_t>(i);
            RTTIValueStore<char*>::Assign(e->s, const_cast<char*>("element"));
            object.poly.Add(e);
        }
        payload.resize(object.SolidSerialize(nullptr, 0));
        object.SolidSerialize(payload.data(), 0);
    }
};

Large& Data() {
    static Large* large = new Large;
    return *large;
}

void BM_PropertyWrite(benchmark::State& state) {
    Large& d = Data();
    std::vector<uint8_t> out(d.payload.size());
    for (auto _ : state) benchmark::DoNotOptimize(d.object.SolidSerialize(out.data(), 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_PropertyWrite);

void BM_PropertyRead(benchmark::State& state) {
    Large& d = Data();
    RichObject target;
    for (auto _ : state) {
        BoundedReader in(d.payload.data(), d.payload.size());
        benchmark::DoNotOptimize(target.SolidDeserialize(in, kSerializeNoEntityPass));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.payload.size()));
}
BENCHMARK(BM_PropertyRead);

void BM_PlainCopy(benchmark::State& state) {
    Large& d = Data();
    std::vector<uint8_t> out(d.payload.size());
    for (auto _ : state) {
        std::memcpy(out.data(), d.payload.data(), out.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_PlainCopy);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* walk : {"BM_PropertyWrite", "BM_PropertyRead"})
        benchsupport::PrintFigure((std::string(walk) + " / BM_PlainCopy, rate").c_str(),
                                  reporter.Ratio(walk, "bytes_per_second", "BM_PlainCopy", "bytes_per_second"), nullptr,
                                  3);
    benchmark::Shutdown();
    return 0;
}
