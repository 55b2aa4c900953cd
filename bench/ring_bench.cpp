// The worker command ring against two lock-based queues doing the same work: one writer
// thread posts commands with an N-byte payload, one worker thread receives them and sums
// every payload word. Each iteration posts kBatch commands and then waits until the
// worker has handled all of them, so the rates count delivered commands, not queued
// ones. A batch always fits the ring: a writer that finds the ring full sleeps 20 ms by
// design, which would measure the sleep instead of the ring.
//
// Baselines: a std::mutex + std::deque of heap records woken per record; a mutex-guarded
// byte vector whose consumer swaps out everything waiting at once; and a plain memcpy of
// the same payload bytes into a buffer of the ring's size on one thread, the ceiling.
// The consumer's sum is cheap on purpose, so the rates measure the queues.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RateReporter.h"
#include "core/BaseThread.h"

namespace {

constexpr int kBatch = 2048;
constexpr uint32_t kCommand = 6;
constexpr uint32_t kRingBytes = 0x100000;

uint64_t Sum(const uint8_t* p, size_t n, uint64_t sum) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        sum += w;
    }
    for (; i < n; ++i) sum += p[i];
    return sum;
}

void Count(benchmark::State& state, uint32_t size) {
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * int64_t(size));
}

// One writer (the benchmark thread), no writer lock, wakes on every commit.
class RingWorker : public BaseThread {
public:
    RingWorker() : BaseThread("RingBench", kRingBytes, false, kWaitForever) {}
    ~RingWorker() override { Stop(); }
    uint64_t checksum = 0;  // worker thread; read after Flush

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override { checksum = Sum(ring.ReadCursor(), ring.ReadLeft(), checksum); }
};

void BM_CommandRing(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> payload(size, 0x5A);
    RingWorker worker;
    worker.Start();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            worker.BeginCommand(kCommand, size);
            worker.Ring().Write(payload.data(), size);
            worker.EndCommand();
        }
        worker.Flush();
    }
    benchmark::DoNotOptimize(worker.checksum);
    Count(state, size);
}

// Shared shape of the two lock-based workers: Post under the mutex, the worker counts
// handled records, Flush waits for the count to reach what was posted.
class LockedWorker {
public:
    void Flush() {
        std::unique_lock<std::mutex> lock(mutex);
        const uint64_t target = posted;
        done.wait(lock, [&] { return handled >= target; });
    }
    uint64_t checksum = 0;

protected:
    void StopAndJoin(std::thread& thread) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        thread.join();
    }
    void Handled(uint64_t n) {
        std::lock_guard<std::mutex> lock(mutex);
        handled += n;
        if (handled == posted) done.notify_all();
    }
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    uint64_t posted = 0;
    uint64_t handled = 0;
    bool stopping = false;
};

// A deque of heap records, one notify per record.
class DequeWorker : public LockedWorker {
public:
    DequeWorker() : thread([this] { Run(); }) {}
    ~DequeWorker() { StopAndJoin(thread); }
    void Post(uint32_t id, const uint8_t* data, uint32_t size) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(Record{id, std::vector<uint8_t>(data, data + size)});
            ++posted;
        }
        wake.notify_one();
    }

private:
    struct Record {
        uint32_t id;
        std::vector<uint8_t> payload;
    };
    void Run() {
        for (;;) {
            Record r;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) return;
                r = std::move(queue.front());
                queue.pop_front();
            }
            checksum = Sum(r.payload.data(), r.payload.size(), checksum);
            Handled(1);
        }
    }
    std::deque<Record> queue;
    std::thread thread;
};

// Records {u32 id, u32 size, payload} appended to one byte vector; the consumer swaps the
// whole vector out under the lock and handles every record without it.
class SwapVectorWorker : public LockedWorker {
public:
    SwapVectorWorker() : thread([this] { Run(); }) {}
    ~SwapVectorWorker() { StopAndJoin(thread); }
    void Post(uint32_t id, const uint8_t* data, uint32_t size) {
        bool wasEmpty;
        {
            std::lock_guard<std::mutex> lock(mutex);
            wasEmpty = pending.empty();
            const size_t at = pending.size();
            pending.resize(at + 8 + size);
            std::memcpy(pending.data() + at, &id, 4);
            std::memcpy(pending.data() + at + 4, &size, 4);
            std::memcpy(pending.data() + at + 8, data, size);
            ++posted;
        }
        if (wasEmpty) wake.notify_one();
    }

private:
    void Run() {
        std::vector<uint8_t> taken;
        for (;;) {
            taken.clear();
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stopping || !pending.empty(); });
                if (pending.empty()) return;
                pending.swap(taken);
            }
            uint64_t n = 0;
            for (size_t at = 0; at < taken.size(); ++n) {
                uint32_t size;
                std::memcpy(&size, taken.data() + at + 4, 4);
                checksum = Sum(taken.data() + at + 8, size, checksum);
                at += 8 + size;
            }
            Handled(n);
        }
    }
    std::vector<uint8_t> pending;
    std::thread thread;
};

template <class Worker>
void BM_Locked(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> payload(size, 0x5A);
    Worker worker;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) worker.Post(kCommand, payload.data(), size);
        worker.Flush();
    }
    benchmark::DoNotOptimize(worker.checksum);
    Count(state, size);
}
void BM_MutexDeque(benchmark::State& state) { BM_Locked<DequeWorker>(state); }
void BM_MutexSwapVector(benchmark::State& state) { BM_Locked<SwapVectorWorker>(state); }

// The same payload bytes copied into a ring-sized buffer on one thread.
void BM_Memcpy(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> payload(size, 0x5A);
    std::vector<uint8_t> target(kRingBytes);
    size_t at = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            if (at + size > target.size()) at = 0;
            std::memcpy(target.data() + at, payload.data(), size);
            benchmark::ClobberMemory();
            at += size;
        }
    }
    Count(state, size);
}

BENCHMARK(BM_CommandRing)->Arg(16)->Arg(256)->UseRealTime();
BENCHMARK(BM_MutexDeque)->Arg(16)->Arg(256)->UseRealTime();
BENCHMARK(BM_MutexSwapVector)->Arg(16)->Arg(256)->UseRealTime();
BENCHMARK(BM_Memcpy)->Arg(16)->Arg(256)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // The ring's rate against each baseline.
    for (const char* size : {"16", "256"}) {
        const std::string ring = std::string("BM_CommandRing/") + size;
        std::printf("%s-byte payloads: ring %.2f M/s (median)\n", size, reporter.Median(ring, "items_per_second") / 1e6);
        for (const char* base : {"BM_MutexDeque", "BM_MutexSwapVector", "BM_Memcpy"})
            benchsupport::PrintFigure(
                (std::string(size) + "-byte payloads: ring / " + (base + 3) + ", rate").c_str(),
                reporter.Ratio(ring, "items_per_second", std::string(base) + "/" + size, "items_per_second"));
    }
    benchmark::Shutdown();
    return 0;
}
