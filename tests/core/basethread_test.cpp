// test-sanitize: thread address
// test-timeout: 120
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "core/BaseThread.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

namespace {

using namespace std::chrono_literals;

template <class F>
bool WaitUntil(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Logs what ran on the worker: 1 start hook, 2 exit hook, the id of every other command.
class Recorder : public BaseThread {
public:
    explicit Recorder(uint32_t ringBytes = 0x10000, bool lock = true, uint32_t timeoutMs = kWaitForever)
        : BaseThread("Recorder", ringBytes, lock, timeoutMs) {}
    ~Recorder() override { Stop(); }

    bool Post(uint32_t id) {
        if (!BeginCommand(id, 0)) return false;
        EndCommand();
        return true;
    }
    std::vector<uint32_t> Log() {
        std::lock_guard<std::mutex> l(mutex);
        return log;
    }
    std::atomic<uint64_t> startThread{0};
    using BaseThread::InstallSemaphore;

protected:
    void OnThreadStart() override {
        startThread = os::CurrentThreadId();
        Add(1);
    }
    void OnThreadExit() override { Add(2); }
    void HandleCommand(uint32_t id, CommandRingBuffer&) override { Add(id); }

private:
    void Add(uint32_t v) {
        std::lock_guard<std::mutex> l(mutex);
        log.push_back(v);
    }
    std::mutex mutex;
    std::vector<uint32_t> log;
};

// Four writers post 25,000 commands each through a locked worker. A record's size
// (0..3000) and bytes follow from its writer and sequence number, which leads the
// payload when it fits, so the worker checks every record's size, bytes and place.
constexpr uint32_t kWriters = 4, kPerWriter = 25000;
uint32_t StressSize(uint32_t writer, uint32_t seq) { return ((seq * 2654435761u + writer * 40503u) >> 8) % 3001; }
uint8_t StressByte(uint32_t writer, uint32_t seq, uint32_t i) { return static_cast<uint8_t>(seq * 131 + i * 7 + writer * 29); }

class StressWorker : public BaseThread {
public:
    StressWorker() : BaseThread("Stress", 0x400000, true, kWaitForever) {}
    ~StressWorker() override { Stop(); }
    uint32_t next[kWriters] = {}, received = 0, faults = 0;  // worker thread only

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
        const uint32_t w = id - CMD_FIRST_USER;
        ++received;
        if (w >= kWriters || ring.ReadLeft() != StressSize(w, next[w])) {
            ++faults;
            return;
        }
        const uint32_t seq = next[w]++, size = StressSize(w, seq), start = size >= 4 ? 4 : 0;
        uint32_t got = seq;
        if (start) ring.ReadValue(got);
        const uint8_t* p = ring.ReadCursor();
        bool bad = got != seq;
        for (uint32_t i = start; i < size; ++i) bad |= p[i - start] != StressByte(w, seq, i);
        faults += bad;
    }
};

TEST(BaseThreadStress, FourWritersThroughALockedWorkerArriveIntactAndInOrder) {
    StressWorker worker;
    ASSERT_TRUE(worker.Start());
    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w) {
        writers.emplace_back([&worker, w] {
            std::vector<uint8_t> bytes;
            for (uint32_t seq = 0; seq < kPerWriter; ++seq) {
                const uint32_t size = StressSize(w, seq), start = size >= 4 ? 4 : 0;
                ASSERT_TRUE(worker.BeginCommand(BaseThread::CMD_FIRST_USER + w, size));
                CommandRingBuffer& ring = worker.Ring();
                if (start) ring.WriteValue(seq);
                if (seq & 1) {  // half the records are written in place, half copied
                    uint8_t* p = ring.Cursor();
                    for (uint32_t i = start; i < size; ++i) p[i - start] = StressByte(w, seq, i);
                    ring.Skip(size - start);
                } else {
                    bytes.resize(size);
                    for (uint32_t i = start; i < size; ++i) bytes[i - start] = StressByte(w, seq, i);
                    ring.Write(bytes.data(), size - start);
                }
                worker.EndCommand();
            }
        });
    }
    for (auto& t : writers) t.join();
    ASSERT_TRUE(worker.Flush());
    EXPECT_EQ(worker.received, kWriters * kPerWriter);
    EXPECT_EQ(worker.faults, 0u);
    for (uint32_t w = 0; w < kWriters; ++w) EXPECT_EQ(worker.next[w], kPerWriter);
}

TEST(BaseThread, FlushReturnsAfterEveryEarlierCommandRan) {
    Recorder r;
    ASSERT_TRUE(r.Start());
    for (uint32_t i = 0; i < 500; ++i) ASSERT_TRUE(r.Post(6 + i % 3));
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.Log().size(), 501u);  // start hook + 500

    // Concurrent flushes each wait for their own command.
    std::vector<std::thread> flushers;
    std::atomic<int> flushed{0};
    for (int t = 0; t < 4; ++t)
        flushers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) flushed += r.Post(6) && r.Flush();
        });
    for (auto& t : flushers) t.join();
    EXPECT_EQ(flushed.load(), 200);
}

TEST(BaseThread, CallCommandsCarryNativePointersAndPayloadJobsRunOnTheWorkerOrInline) {
    struct Seen {
        uint64_t thread = 0;
        std::vector<uint8_t> payload;
        BaseThread* caller = nullptr;
        bool flushedInside = false;
    } seen;
    auto job = [](void* argument, const uint8_t* payload, uint32_t bytes) {
        auto* s = static_cast<Seen*>(argument);
        s->thread = os::CurrentThreadId();
        s->payload.assign(payload, payload + bytes);
    };
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    Recorder r;
    BaseThread::PostCallOrRunInline(&r, job, &seen, bytes, 5);  // stopped: runs here
    EXPECT_EQ(seen.thread, os::CurrentThreadId());
    EXPECT_EQ(seen.payload, std::vector<uint8_t>(bytes, bytes + 5));
    BaseThread::PostCallOrRunInline(nullptr, job, &seen, bytes, 0);  // no worker at all
    EXPECT_TRUE(seen.payload.empty());
    ASSERT_TRUE(r.Start());
    BaseThread::PostCallOrRunInline(&r, job, &seen, bytes + 1, 3);
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(seen.thread, r.ThreadId());
    EXPECT_EQ(seen.payload, std::vector<uint8_t>(bytes + 1, bytes + 4));

    // The plain command: a native-size function and argument, then the callee's payload.
    auto call = [](BaseThread* thread, void* argument, CommandRingBuffer* ring) {
        auto* s = static_cast<Seen*>(argument);
        s->caller = thread;
        uint32_t extra = 0;
        ring->ReadValue(extra);
        s->payload.assign({uint8_t(extra), uint8_t(extra >> 16)});
        s->flushedInside = thread->Flush();  // from the worker itself: returns at once
    };
    BaseThread::CallFunction fn = call;
    void* arg = &seen;
    ASSERT_TRUE(r.BeginCommand(BaseThread::CMD_CALL, sizeof fn + sizeof arg + 4));
    r.Ring().WriteValue(fn);
    r.Ring().WriteValue(arg);
    r.Ring().WriteValue(uint32_t{0xC0FFEE});
    r.EndCommand();
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(seen.caller, &r);
    EXPECT_EQ(seen.payload, (std::vector<uint8_t>{0xEE, 0xC0}));
    EXPECT_TRUE(seen.flushedInside);
}

TEST(BaseThread, TimeoutModeSleepsUntilWokenAndZeroRestoresTheTimeout) {
    Recorder r(0x10000, false, 2);
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(WaitUntil([&] { return r.TickCount() > 10; }));  // ticks on its 2 ms time-out

    r.SetTimeoutMode(1);
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.CurrentTimeout(), BaseThread::kWaitForever);
    std::this_thread::sleep_for(30ms);  // a wake left over from the flush is used up
    const uint32_t ticks = r.TickCount();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(r.TickCount(), ticks);

    r.SetTimeoutMode(0);
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.CurrentTimeout(), 2u);
    const uint32_t resumed = r.TickCount();
    EXPECT_TRUE(WaitUntil([&] { return r.TickCount() > resumed + 10; }));
}

TEST(BaseThread, CommandsBeforeStartRunAfterTheStartHookAndRestartWorks) {
    Recorder r;
    ASSERT_TRUE(r.Post(6));
    ASSERT_TRUE(r.Post(7));
    EXPECT_FALSE(r.Flush());  // not running: nothing to wait for
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.Log(), (std::vector<uint32_t>{1, 6, 7}));
    EXPECT_NE(r.startThread.load(), os::CurrentThreadId());

    r.Stop();
    r.Stop();  // a second stop returns at once
    EXPECT_EQ(r.ThreadId(), 0u);
    ASSERT_TRUE(r.Post(8));
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(r.Post(9));
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.Log(), (std::vector<uint32_t>{1, 6, 7, 2, 1, 8, 9}));
}

TEST(BaseThread, WritersNeverHangOnAWorkerThatCannotDrain) {
    CaptureLogSink sink;
    sink.Attach();

    {  // never started: the ring fills, then posting fails with a log line
        Recorder r(1024 + 512, true);
        int posted = 0;
        while (posted < 1000 && r.Post(6)) ++posted;
        EXPECT_TRUE(posted > 50 && posted < 1000) << posted;
        EXPECT_TRUE(sink.Contains("is full and its thread is not running"));
    }
    {  // thread creation refused: Start reports it and nothing waits for ever
        Recorder r;
        os::Thread::SetCreationFault(true);
        EXPECT_FALSE(r.Start());
        os::Thread::SetCreationFault(false);
        EXPECT_TRUE(sink.Contains("cannot create the thread"));
    }
    {  // a payload that can never fit is refused at once, even by a running worker
        Recorder r(1024 + 512);
        ASSERT_TRUE(r.Start());
        EXPECT_FALSE(r.BeginCommand(6, 1024));
        EXPECT_TRUE(sink.Contains("can never fit"));
        ASSERT_TRUE(r.BeginCommand(6, 1023));
        r.Ring().Skip(1023);
        r.EndCommand();
        EXPECT_TRUE(r.Flush());
    }
    {  // the worker posting into its own full ring fails instead of waiting on itself
        Recorder r(1024 + 512);
        ASSERT_TRUE(r.Start());
        std::atomic<int> selfPosted{0};
        ASSERT_TRUE(r.PostCall(
            [](BaseThread* t, void* arg, CommandRingBuffer*) {
                auto* count = static_cast<std::atomic<int>*>(arg);
                while (*count < 1000 && static_cast<Recorder*>(t)->Post(6)) ++*count;
            },
            &selfPosted));
        ASSERT_TRUE(r.Flush());
        EXPECT_LT(selfPosted.load(), 1000);
        EXPECT_TRUE(sink.Contains("the writer is its own worker"));
    }
    {  // a ring too small for the stop command cannot be started
        Recorder r(256);
        EXPECT_FALSE(r.Start());
        EXPECT_TRUE(sink.Contains("cannot hold a command"));
    }
}

// Commits do not wake this worker, so only a writer that finds the ring full can: it
// must, or it waits for ever on a sleeping worker.
TEST(BaseThread, AWriterWaitingOnAFullRingWakesTheWorker) {
    class Quiet : public Recorder {
    public:
        Quiet() : Recorder(1024 + 512, false) { SetWakeOnCommit(false); }
        ~Quiet() override { SetWakeOnCommit(true); }
        using BaseThread::SetWakeOnCommit;
        using BaseThread::Wake;
    } q;
    ASSERT_TRUE(q.Start());  // asleep at once: the start command does not wake it
    std::atomic<int> posted{0};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {  // 2400 bytes through a ring with room for 1024
            if (!q.BeginCommand(6 + i, 16)) return;
            q.Ring().Skip(16);
            q.EndCommand();
            ++posted;
        }
    });
    const bool done = WaitUntil([&] { return posted == 100; });
    while (posted < 100 && writer.joinable()) {  // unstick a writer that never woke it
        q.Wake();
        std::this_thread::sleep_for(1ms);
    }
    writer.join();
    EXPECT_TRUE(done);
    q.SetWakeOnCommit(true);
    ASSERT_TRUE(q.Flush());
    const std::vector<uint32_t> log = q.Log();
    ASSERT_EQ(log.size(), 101u);
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(log[i + 1], 6 + i);
}

TEST(BaseThread, IdleTimeGrowsWhileTheRingIsEmpty) {
    os::ManualClock clock(1000);
    clock.Install();
    Recorder r(0x10000, false, 1);
    ASSERT_TRUE(r.Start());
    ASSERT_TRUE(r.Flush());
    // Two more passes: the second starts after one found the ring empty at the unmoved clock.
    const uint32_t after = r.TickCount();
    ASSERT_TRUE(WaitUntil([&] { return r.TickCount() >= after + 2; }));
    clock.AdvanceSeconds(5.0);
    ASSERT_TRUE(r.Post(6));
    ASSERT_TRUE(r.Flush());
    EXPECT_EQ(r.TotalIdleTime().ticks, 5 * os::kCounterFrequency);
}

TEST(BaseThread, EveryCommittedCommandConsumesExactlyOneSemaphoreCount) {
    Semaphore sem(0);
    {
        Recorder r;
        r.InstallSemaphore(&sem);
        ASSERT_TRUE(r.Start());
        r.SetTimeoutMode(1);
        r.SetTimeoutMode(0);
        for (int i = 0; i < 3; ++i) r.Post(6);
        r.PostCall([](BaseThread*, void*, CommandRingBuffer*) {}, nullptr);
        r.Stop();  // commands 1, 3, 3, 6, 6, 6, 5, 2: eight releases, eight waits
        EXPECT_EQ(r.Log().size(), 5u);
    }
    EXPECT_FALSE(sem.WaitSeconds(0));  // no surplus count left behind
}

}  // namespace
