#pragma once
// Worker threads and their command rings.
//
// A BaseThread owns a CommandRingBuffer: a single-reader byte ring of records
// {u32 id, u32 size, payload} aligned to 4 bytes. Other threads reserve a record
// (BeginCommand), write its payload through the ring's write calls and commit it
// (EndCommand); the worker wakes on its event and executes records in order.
// Built-in commands: 0 filler/no-op, 1 start hook, 2 stop, 3 time-out mode, 4 flush,
// 5 call a function; 6 and up go to the subclass's HandleCommand.
//
// Threads: a ring built with a lock accepts any number of writer threads (the lock is
// held from reservation to commit); without a lock it must have a single writer.
// Every pointer in a payload (stop event, command-5 function and argument) is stored
// at native size.
#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "core/Sync.h"
#include "core/Time.h"

namespace os {
class Event;
class Thread;
}

// Aligned, so that whatever follows a ring starts on a line of its own.
class alignas(128) CommandRingBuffer {
public:
    static constexpr uint32_t kReserve = 512;  // bytes always kept free
    static constexpr uint32_t kHeader = 8;

    CommandRingBuffer(uint32_t capacity, uint32_t fillerId);
    ~CommandRingBuffer();
    CommandRingBuffer(const CommandRingBuffer&) = delete;
    CommandRingBuffer& operator=(const CommandRingBuffer&) = delete;

    uint32_t Capacity() const { return capacity; }
    uint32_t Used() const;
    bool HasSpace(uint32_t size) const;
    // A payload this large can never be reserved.
    bool CanEverFit(uint32_t size) const { return uint64_t(size) + kReserve < capacity; }

    // Writer side.
    bool BeginWrite(uint32_t id, uint32_t size);
    // Inline, like the reads: a record written field by field costs plain moves. Within
    // the reservation a fixed-size write is one fixed-size copy; past it the write is cut
    // to what is left.
    void Write(const void* source, uint32_t n) {
        assert(n <= WriteLeft() && "payload larger than its reservation");
        if (n <= WriteLeft()) {
            if (n) std::memcpy(writeCursor, source, n);  // an empty write may pass a null source
            writeCursor += n;
        } else {
            if (WriteLeft()) std::memcpy(writeCursor, source, WriteLeft());
            writeCursor = writeEnd;
        }
    }
    void Skip(uint32_t n) {
        assert(n <= WriteLeft() && "payload larger than its reservation");
        writeCursor = n <= WriteLeft() ? writeCursor + n : writeEnd;
    }
    uint32_t Align16();
    uint8_t* Cursor() const { return writeCursor; }
    // Bytes of the reservation not yet written.
    uint32_t WriteLeft() const { return static_cast<uint32_t>(writeEnd - writeCursor); }
    void EndWrite();
    template <class T>
    void WriteValue(const T& v) { Write(&v, sizeof v); }

    // Reader side.
    bool BeginRead();
    uint32_t RecordId() const { return readRecordId; }
    uint32_t RecordSize() const { return readRecordSize; }
    uint32_t ReadLeft() const { return readLeft; }
    // False (and nothing copied) when the record has fewer than n bytes left. Inline: a
    // reader that takes a record apart field by field gets plain moves for its fixed sizes.
    bool Read(void* destination, uint32_t n) {
        if (n > readLeft) return false;
        if (n) std::memcpy(destination, readCursor, n);
        readCursor += n;
        readLeft -= n;
        return true;
    }
    void SkipRead(uint32_t n) {
        if (n > readLeft) n = readLeft;
        readCursor += n;
        readLeft -= n;
    }
    uint32_t AlignRead16();
    const uint8_t* ReadCursor() const { return readCursor; }
    void EndRead();
    template <class T>
    bool ReadValue(T& v) { return Read(&v, sizeof v); }

    uint32_t WriteOffset() const { return writeOffset.load(std::memory_order_relaxed); }
    uint32_t ReadOffset() const { return readOffset.load(std::memory_order_relaxed); }
    // Reader side: true when a committed record is waiting (a cheap poll, no record made
    // current).
    bool HasRecord() const { return writeOffset.load(std::memory_order_acquire) != readOffset.load(std::memory_order_relaxed); }

    // A writer that found the ring full arms an event here; the reader sets it (once) when a
    // quarter of the ring is free again, or the ring is empty. Null disarms.
    void SetSpaceWaiter(os::Event* event) { spaceWaiter.store(event, std::memory_order_seq_cst); }

private:
    // Four groups, each on its own pair of cache lines, so that neither side's private
    // work moves a line the other side is using: the writer's fields, the published
    // write offset, the published read offset, the reader's fields. Each side keeps its
    // own copy of the buffer address and capacity.
    static constexpr size_t kLine = 128;
    // Writer side.
    uint8_t* buffer;
    uint32_t capacity;
    uint32_t fillerId;
    uint8_t* writeRecord = nullptr;
    uint8_t* writeCursor = nullptr;
    uint8_t* writeEnd = nullptr;  // the end of the reserved payload: what is written is writeCursor - payload start
    uint32_t cachedReadOffset = 0;  // the writer's last copy of readOffset
    alignas(kLine) std::atomic<uint32_t> writeOffset{0};
    alignas(kLine) std::atomic<uint32_t> readOffset{0};
    std::atomic<os::Event*> spaceWaiter{nullptr};  // read by the reader after every record
    // Reader side.
    alignas(kLine) uint8_t* readBuffer;
    uint32_t readCapacity;
    uint32_t cachedWriteOffset = 0;  // the reader's last copy of writeOffset
    uint8_t* readRecord = nullptr;
    uint8_t* readCursor = nullptr;
    uint32_t readRecordId = 0;
    uint32_t readRecordSize = 0;
    uint32_t readLeft = 0;
};

class BaseThread {
public:
    static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
    enum : uint32_t { CMD_NOP = 0, CMD_START = 1, CMD_STOP = 2, CMD_TIMEOUT_MODE = 3, CMD_FLUSH = 4, CMD_CALL = 5, CMD_FIRST_USER = 6 };
    // Command 5 callee: reads any further payload from the ring.
    using CallFunction = void (*)(BaseThread* thread, void* argument, CommandRingBuffer* ring);

    BaseThread(const char* name, uint32_t ringBytes, bool useLock, uint32_t waitTimeoutMs);
    virtual ~BaseThread();
    BaseThread(const BaseThread&) = delete;
    BaseThread& operator=(const BaseThread&) = delete;

    // Any thread (but one at a time for Start/Stop). Start reports false when the thread
    // cannot be created; commands posted before Start run after the start hook.
    virtual bool Start();
    virtual void Stop();

    // Writers. BeginCommand returns only with a reservation (it waits while the ring is
    // full) or false when the payload can never fit or the worker is not running and
    // the ring has no room. The lock, if any, is held until EndCommand.
    bool BeginCommand(uint32_t id, uint32_t payloadBytes);
    void EndCommand();
    CommandRingBuffer& Ring() { return ring; }
    // Posts command 4 and waits until every earlier command has run. From the worker
    // itself it returns at once.
    bool Flush();
    void SetTimeoutMode(uint8_t waitForever);
    bool PostCall(CallFunction function, void* argument);
    // A job that gets its payload as one block.
    using PayloadJob = void (*)(void* argument, const uint8_t* payload, uint32_t bytes);
    // Any thread. Runs job(argument, a copy of the payload) as a command-5 record on the
    // worker when there is a running one, else at once on the calling thread (no worker,
    // a stopped one, or a record that cannot be reserved), so a job never waits for a
    // thread that is not there.
    static void PostCallOrRunInline(BaseThread* worker, PayloadJob job, void* argument, const void* payload, uint32_t bytes);
    void SetPriority(int priority);

    const char* Name() const { return name; }
    bool IsRunning() const { return running.load(std::memory_order_acquire); }
    bool OnWorkerThread() const;
    uint64_t ThreadId() const { return threadId.load(std::memory_order_acquire); }
    uint32_t TickCount() const { return tickCount.load(std::memory_order_relaxed); }
    // Total time the worker spent with an empty ring (worker thread, or after Stop).
    Time TotalIdleTime() const { return Time(totalIdle.load(std::memory_order_relaxed)); }
    uint32_t CurrentTimeout() const { return currentTimeout.load(std::memory_order_relaxed); }

protected:
    // Worker thread.
    virtual void OnThreadStart();
    virtual void OnThreadExit() {}
    virtual void HandleCommand(uint32_t id, CommandRingBuffer& ring) {}
    virtual void Tick();
    void ProcessCommands();
    void Wake();

    void SetWakeOnCommit(bool on) { wakeOnCommit = on; }
    void InstallSemaphore(Semaphore* s) { semaphore = s; }
    // Subclasses may rewrite the current wait time-out (ms).
    std::atomic<uint32_t> currentTimeout;
    uint32_t configuredTimeout;

private:
    static void Entry(void* self);
    void ThreadLoop();
    bool PollForWork() const;
    static void RunPayloadJob(BaseThread* thread, void* argument, CommandRingBuffer* ring);

    CommandRingBuffer ring;
    char* name = nullptr;
    Semaphore* semaphore = nullptr;
    bool wakeOnCommit = true;
    os::Event* wakeEvent;
    os::Event* spaceEvent;  // a writer waiting for room in a full ring
    os::Event* doneEvent;
    std::atomic<os::Event*> stopEvent{nullptr};
    os::Thread* thread;
    std::atomic<uint64_t> threadId{0};
    std::atomic<bool> running{false};
    CriticalSection* writerLock = nullptr;
    // Written by the worker on every pass: on a line of their own, away from the fields
    // writers read on every command.
    alignas(128) std::atomic<uint32_t> tickCount{0};
    uint32_t idlePasses = 0;
    Time idleStart;
    std::atomic<int64_t> totalIdle{0};
};

// Settings of the program's workers (name, ring bytes, writer lock, wait time-out ms).
struct WorkerSettings {
    const char* name;
    uint32_t ringBytes;
    bool useLock;
    uint32_t waitTimeoutMs;
};
enum WorkerKind {
    WORKER_PHYSICAL_FILE_READER,
    WORKER_PRESENTER,
    WORKER_RENDERER,
    WORKER_RESOURCE_MANAGER,
    WORKER_SOUND_ENGINE,
    WORKER_MULTIPLAYER_ENGINE,
    WORKER_SERVER_REQUEST,
    WORKER_KIND_COUNT
};
extern const WorkerSettings kWorkerSettings[WORKER_KIND_COUNT];
