// The worker command ring against a plain std::mutex + std::deque queue doing the same
// work: one writer thread posts commands with an N-byte payload, one worker thread
// receives them and folds every payload byte into a checksum. Each benchmark iteration
// posts kBatch commands and then waits until the worker has handled all of them, so
// the rate counts delivered commands, not queued ones. A batch always fits the ring:
// a writer that finds the ring full sleeps 20 ms by design, which would measure the
// sleep instead of the ring.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "core/BaseThread.h"

namespace {

constexpr int kBatch = 2048;
constexpr uint32_t kCommand = 6;

uint32_t Fold(const uint8_t* p, size_t n, uint32_t sum) {
    for (size_t i = 0; i < n; ++i) sum = sum * 31 + p[i];
    return sum;
}

// One writer (the benchmark thread), no writer lock, wakes on every commit.
class RingWorker : public BaseThread {
public:
    RingWorker() : BaseThread("RingBench", 0x100000, false, kWaitForever) {}
    ~RingWorker() override { Stop(); }
    uint32_t checksum = 0;  // worker thread; read after Flush

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
        checksum = Fold(ring.ReadCursor(), ring.ReadLeft(), checksum);
    }
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
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * int64_t(size));
}

// The baseline: a mutex-protected deque of heap records and a condition variable.
class DequeWorker {
public:
    DequeWorker() : thread([this] { Run(); }) {}
    ~DequeWorker() {
        Post(0, nullptr, 0);  // id 0 stops the worker
        thread.join();
    }
    void Post(uint32_t id, const uint8_t* data, uint32_t size) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(Record{id, std::vector<uint8_t>(data, data + size)});
            if (id != 0) ++posted;
        }
        wake.notify_one();
    }
    // Waits until every record posted before has been handled.
    void Flush() {
        std::unique_lock<std::mutex> lock(mutex);
        const uint64_t target = posted;
        done.wait(lock, [&] { return handled >= target; });
    }
    uint32_t checksum = 0;

private:
    struct Record {
        uint32_t id;
        std::vector<uint8_t> payload;
    };
    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return !queue.empty(); });
            Record r = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            if (r.id == 0) return;
            checksum = Fold(r.payload.data(), r.payload.size(), checksum);
            lock.lock();
            ++handled;
            if (handled == posted) done.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<Record> queue;
    uint64_t posted = 0;
    uint64_t handled = 0;
    std::thread thread;
};

void BM_MutexDeque(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> payload(size, 0x5A);
    DequeWorker worker;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            worker.Post(kCommand, payload.data(), size);
        }
        worker.Flush();
    }
    benchmark::DoNotOptimize(worker.checksum);
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * int64_t(size));
}

BENCHMARK(BM_CommandRing)->Arg(16)->Arg(256)->UseRealTime();
BENCHMARK(BM_MutexDeque)->Arg(16)->Arg(256)->UseRealTime();

}  // namespace
