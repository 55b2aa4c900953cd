// Worker threads and the command ring.
//
// Every worker of the program is a BaseThread: one OS thread that waits on its wake
// event, drains its CommandRingBuffer and runs each record in order. Writers on other
// threads reserve, fill and commit records; the ring's write offset is published only
// after a record's bytes (release), and the reader publishes its read offset the same
// way, so the ring itself needs no lock. A writer lock, when the worker has one,
// serialises several writer threads from reservation to commit.
#include "core/BaseThread.h"

#include <cassert>
#include <cstring>

#include "core/Log.h"  // a loop inside core_base: the log writes through a worker thread, which logs
#include "core/Memory.h"
#include "core/ThreadCheck.h"
#include "platform/os/Thread.h"

// ---------------------------------------------------------------------------------------
// CommandRingBuffer

namespace {
inline uint32_t LoadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StoreU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
}  // namespace

CommandRingBuffer::CommandRingBuffer(uint32_t capacityBytes, uint32_t filler)
    : capacity(capacityBytes & ~3u), fillerId(filler) {
    buffer = static_cast<uint8_t*>(EngineAlloc(capacity));
    if (!buffer) capacity = 0;
    else std::memset(buffer, 0, capacity);  // resident from the start, not page by page as it first wraps
    readBuffer = buffer;
    readCapacity = capacity;
}

CommandRingBuffer::~CommandRingBuffer() { EngineFree(buffer); }

uint32_t CommandRingBuffer::Used() const {
    const int64_t used = int64_t(writeOffset.load(std::memory_order_acquire)) - int64_t(readOffset.load(std::memory_order_acquire));
    return static_cast<uint32_t>(used < 0 ? used + capacity : used);
}

bool CommandRingBuffer::HasSpace(uint32_t size) const {
    return CanEverFit(size) && uint64_t(Used()) < uint64_t(capacity) - size - kReserve;
}

namespace {
inline uint64_t UsedBetween(uint32_t w, uint32_t r, uint32_t capacity) { return w >= r ? w - r : uint64_t(w) + capacity - r; }
}  // namespace

bool CommandRingBuffer::BeginWrite(uint32_t id, uint32_t size) {
    assert(!writeRecord && "BeginWrite while a record is open");
    if (!CanEverFit(size)) return false;
    // The writer works from its last copy of the read offset and fetches a fresh one
    // (another cache line) only when that copy says "no room". A stale copy is behind
    // the reader, so it only ever underestimates the free space.
    const uint64_t limit = uint64_t(capacity) - size - kReserve;
    uint32_t w = writeOffset.load(std::memory_order_relaxed);
    if (UsedBetween(w, cachedReadOffset, capacity) >= limit) {
        cachedReadOffset = readOffset.load(std::memory_order_acquire);
        if (UsedBetween(w, cachedReadOffset, capacity) >= limit) return false;
    }
    if (capacity - w < size + kHeader) {
        if (capacity - w >= kHeader) {
            StoreU32(buffer + w, fillerId);
            StoreU32(buffer + w + 4, capacity - w - kHeader);
        }
        // Publishes the filler at once; the reader skips the tail up to the end.
        writeOffset.store(0, std::memory_order_seq_cst);
        w = 0;
        if (size + kReserve + kHeader >= cachedReadOffset) {
            cachedReadOffset = readOffset.load(std::memory_order_acquire);
            if (size + kReserve + kHeader >= cachedReadOffset) return false;
        }
    }
    writeRecord = buffer + w;
    StoreU32(writeRecord, id);
    writeCursor = writeRecord + kHeader;
    writeEnd = writeCursor + size;
    return true;
}

uint32_t CommandRingBuffer::Align16() {
    const uint32_t pad = static_cast<uint32_t>((16 - (reinterpret_cast<uintptr_t>(writeCursor) & 15)) & 15);
    Skip(pad);
    return pad;
}

void CommandRingBuffer::EndWrite() {
    assert(writeRecord);
    const uint32_t written = static_cast<uint32_t>(writeCursor - (writeRecord + kHeader));
    StoreU32(writeRecord + 4, written);
    const uint32_t w = static_cast<uint32_t>(writeRecord - buffer);
    uint32_t next = (w + written + 11) & ~3u;
    if (uint64_t(next) + kHeader > capacity) next = 0;
    writeRecord = writeCursor = writeEnd = nullptr;
    // Release: the record's bytes are visible to a reader that sees the new offset.
    // (The wake event's Set is a read-modify-write, which orders this store before it.)
    writeOffset.store(next, std::memory_order_release);
}

bool CommandRingBuffer::BeginRead() {
    // The reader works from its last copy of the write offset; records up to it are
    // published already. Only an apparently empty ring costs a fresh (acquiring) load.
    const uint32_t r = readOffset.load(std::memory_order_relaxed);
    if (r == cachedWriteOffset) {
        cachedWriteOffset = writeOffset.load(std::memory_order_seq_cst);
        if (r == cachedWriteOffset) return false;
    }
    readRecord = readBuffer + r;
    readRecordId = LoadU32(readRecord);
    readRecordSize = LoadU32(readRecord + 4);
    readCursor = readRecord + kHeader;
    readLeft = readRecordSize;
    return true;
}

uint32_t CommandRingBuffer::AlignRead16() {
    const uint32_t pad = static_cast<uint32_t>((16 - (reinterpret_cast<uintptr_t>(readCursor) & 15)) & 15);
    SkipRead(pad);
    return pad;
}

void CommandRingBuffer::EndRead() {
    assert(readRecord);
    const uint32_t r = static_cast<uint32_t>(readRecord - readBuffer);
    // A record never runs past the end, so the sum reaches the capacity at most.
    uint64_t next = uint64_t(r) + ((uint64_t(readRecordSize) + 11) & ~uint64_t(3));
    if (next >= readCapacity) next %= readCapacity;
    if (next + kHeader > readCapacity) next = 0;
    readRecord = readCursor = nullptr;
    readRecordId = readRecordSize = readLeft = 0;
    readOffset.store(static_cast<uint32_t>(next), std::memory_order_release);
    if (os::Event* waiter = spaceWaiter.load(std::memory_order_seq_cst)) {
        const uint64_t used = UsedBetween(writeOffset.load(std::memory_order_acquire), uint32_t(next), readCapacity);
        if (used <= readCapacity - readCapacity / 4 && spaceWaiter.exchange(nullptr) == waiter) waiter->Set();
    }
}

// ---------------------------------------------------------------------------------------
// BaseThread

const WorkerSettings kWorkerSettings[WORKER_KIND_COUNT] = {
    {"PhysicalFileReader", 0x10000, true, BaseThread::kWaitForever},
    {"PresenterThread", 1024, false, BaseThread::kWaitForever},
    {"Renderer", 0x100000, false, 0},
    {"ResourceManager", 0x10000, true, BaseThread::kWaitForever},
    {"SoundEngine", 0x10000, true, 30},
    {"MultiplayerEngine", 0x100000, false, 50},
    {"ServerRequestThread", 8192, false, BaseThread::kWaitForever},
};

BaseThread::BaseThread(const char* threadName, uint32_t ringBytes, bool useLock, uint32_t waitTimeoutMs)
    : currentTimeout(waitTimeoutMs), configuredTimeout(waitTimeoutMs), ring(ringBytes, CMD_NOP) {
    if (threadName && threadName[0]) {
        const size_t n = std::strlen(threadName);
        name = new char[n + 1];
        std::memcpy(name, threadName, n + 1);
    }
    wakeEvent = new os::Event;
    spaceEvent = new os::Event;
    doneEvent = new os::Event;
    thread = new os::Thread;
    if (useLock) writerLock = new CriticalSection;
}

BaseThread::~BaseThread() {
    assert(!IsRunning() && "a worker must be stopped before it is destroyed");
    delete thread;
    delete writerLock;
    delete doneEvent;
    delete spaceEvent;
    delete wakeEvent;
    delete[] name;
}

bool BaseThread::OnWorkerThread() const { return IsRunning() && os::CurrentThreadId() == ThreadId(); }

void BaseThread::Entry(void* self) { static_cast<BaseThread*>(self)->ThreadLoop(); }

bool BaseThread::Start() {
    if (IsRunning()) return true;
    // Without room for the stop command the thread could never be stopped again.
    if (!ring.CanEverFit(2 * sizeof(void*))) {
        gLog.Error(LogCategory::Engine, "BaseThread::Start - the %u-byte ring of \"%s\" cannot hold a command", ring.Capacity(),
                   name ? name : "");
        return false;
    }
    stopEvent.store(nullptr);
    // Running before the thread exists, so that the worker's first code already sees
    // itself as running (self-flush and self-post checks).
    running.store(true, std::memory_order_release);
    if (!thread->Start(&BaseThread::Entry, this, name)) {
        running.store(false, std::memory_order_release);
        gLog.Error(LogCategory::Engine, "BaseThread::Start - cannot create the thread \"%s\"", name ? name : "");
        return false;
    }
    threadId.store(thread->Id(), std::memory_order_release);
    if (BeginCommand(CMD_START, 0)) EndCommand();
    return true;
}

void BaseThread::Stop() {
    if (!IsRunning()) return;
    if (OnWorkerThread()) {
        gLog.Error(LogCategory::Engine, "BaseThread::Stop - \"%s\" cannot stop itself", name ? name : "");
        return;
    }
    os::Event stopped;
    os::Event* payload = &stopped;
    if (BeginCommand(CMD_STOP, sizeof payload)) {
        ring.WriteValue(payload);
        EndCommand();
        stopped.Wait(os::kWaitInfinite);
    }
    thread->Join();
    running.store(false, std::memory_order_release);
    threadId.store(0, std::memory_order_release);
    stopEvent.store(nullptr);
}

bool BaseThread::BeginCommand(uint32_t id, uint32_t payloadBytes) {
    if (!ring.CanEverFit(payloadBytes)) {
        gLog.Error(LogCategory::Engine, "BaseThread::BeginCommand - %u bytes can never fit the %u-byte ring of \"%s\"", payloadBytes,
                   ring.Capacity(), name ? name : "");
        return false;
    }
    if (writerLock) writerLock->Enter(true);
    bool woke = false;
    while (!ring.BeginWrite(id, payloadBytes)) {
        // Nobody would ever drain the ring: a worker that never started (or stopped),
        // or the worker itself posting into its own full ring.
        if (!IsRunning() || OnWorkerThread()) {
            if (writerLock) writerLock->Leave();
            gLog.Error(LogCategory::Engine, "BaseThread::BeginCommand - the ring of \"%s\" is full and %s", name ? name : "",
                       IsRunning() ? "the writer is its own worker" : "its thread is not running");
            return false;
        }
        if (!woke) {
            wakeEvent->Set();
            woke = true;
        }
        // Wait until the worker has freed a good part of the ring, 20 ms at the most; the
        // retry after arming catches space freed just before.
        ring.SetSpaceWaiter(spaceEvent);
        if (ring.BeginWrite(id, payloadBytes)) break;
        spaceEvent->Wait(20);
    }
    if (woke) ring.SetSpaceWaiter(nullptr);
    return true;
}

void BaseThread::EndCommand() {
    ring.EndWrite();
    if (wakeOnCommit) wakeEvent->Set();
    if (writerLock) writerLock->Leave();
    if (semaphore) semaphore->Release();
}

bool BaseThread::Flush() {
    if (OnWorkerThread()) return true;  // everything before this point has been run or is running now
    if (!IsRunning()) return false;
    // Each flush carries its own event, so two threads flushing at once each wait for
    // their own command instead of the first done signal.
    os::Event done;
    os::Event* payload = &done;
    if (!BeginCommand(CMD_FLUSH, sizeof payload)) return false;
    ring.WriteValue(payload);
    EndCommand();
    return done.Wait(os::kWaitInfinite);
}

void BaseThread::SetTimeoutMode(uint8_t waitForever) {
    if (BeginCommand(CMD_TIMEOUT_MODE, 1)) {
        ring.WriteValue(waitForever);
        EndCommand();
    }
}

bool BaseThread::PostCall(CallFunction function, void* argument) {
    if (!BeginCommand(CMD_CALL, sizeof function + sizeof argument)) return false;
    ring.WriteValue(function);
    ring.WriteValue(argument);
    EndCommand();
    return true;
}

void BaseThread::PostCallOrRunInline(BaseThread* worker, PayloadJob job, void* argument, const void* payload, uint32_t bytes) {
    CallFunction function = &RunPayloadJob;
    if (worker && worker->IsRunning() && worker->BeginCommand(CMD_CALL, uint32_t(sizeof function + sizeof argument + sizeof job) + bytes)) {
        worker->ring.WriteValue(function);
        worker->ring.WriteValue(argument);
        worker->ring.WriteValue(job);
        worker->ring.Write(payload, bytes);
        worker->EndCommand();
        return;
    }
    job(argument, static_cast<const uint8_t*>(payload), bytes);
}

void BaseThread::RunPayloadJob(BaseThread*, void* argument, CommandRingBuffer* ring) {
    PayloadJob job = nullptr;
    if (ring->ReadValue(job) && job) job(argument, ring->ReadCursor(), ring->ReadLeft());
}

void BaseThread::SetPriority(int priority) { thread->SetPriority(priority); }

void BaseThread::Wake() { wakeEvent->Set(); }

void BaseThread::OnThreadStart() {
    // x86-64 computes floats in SSE registers at single precision and rounds to
    // nearest by default, which is the state every worker assumes.
}

void BaseThread::ThreadLoop() {
    threadId.store(os::CurrentThreadId(), std::memory_order_release);
    // The start hook runs first, so that commands committed before Start find the
    // thread set up; command 1 then does nothing more.
    OnThreadStart();
    idlePasses = 0;  // time spent stopped is not idle time
    while (!stopEvent.load(std::memory_order_acquire)) {
        const uint32_t timeout = currentTimeout.load(std::memory_order_relaxed);
        if (timeout != 0) wakeEvent->Wait(timeout);
        Tick();
    }
    stopEvent.load()->Set();
}

// A drain that empties the ring watches it for a moment before it ends, so a writer in
// the middle of a burst finds the worker still draining: neither side then pays for a
// sleep and a wake-up per record, the writer's wake finds no sleeper to call the kernel
// for, and the idle clock is not read twice per record. Gaps shorter than the watch
// count as busy time.
bool BaseThread::PollForWork() const {
    constexpr int kPolls = 256;  // a few microseconds
    for (int i = 0; i < kPolls; ++i) {
        if (ring.HasRecord()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return false;
}

void BaseThread::Tick() {
    tickCount.fetch_add(1, std::memory_order_relaxed);
    ProcessCommands();
}

void BaseThread::ProcessCommands() {
    ASSERT_ON_THREAD(ThreadId(), "worker thread");  // the ring's one reader
    if (!ring.BeginRead()) {
        if (idlePasses == 0) idleStart.LoadHardwareTime();
        ++idlePasses;
        return;
    }
    if (idlePasses != 0) {
        Time now;
        now.LoadHardwareTime();
        totalIdle.fetch_add((now - idleStart).ticks, std::memory_order_relaxed);
        idlePasses = 0;
    }
    do {
        const uint32_t id = ring.RecordId();
        switch (id) {
        case CMD_NOP:
            break;
        case CMD_START:
            break;  // the start hook already ran at thread entry
        case CMD_STOP: {
            OnThreadExit();
            os::Event* event = nullptr;
            ring.ReadValue(event);
            stopEvent.store(event, std::memory_order_release);
            break;
        }
        case CMD_TIMEOUT_MODE: {
            uint8_t forever = 0;
            ring.ReadValue(forever);
            currentTimeout.store(forever ? kWaitForever : configuredTimeout, std::memory_order_relaxed);
            break;
        }
        case CMD_FLUSH: {
            os::Event* event = nullptr;
            if (ring.ReadValue(event) && event)
                event->Set();
            else
                doneEvent->Set();
            break;
        }
        case CMD_CALL: {
            CallFunction function = nullptr;
            void* argument = nullptr;
            if (ring.ReadValue(function) && ring.ReadValue(argument) && function) function(this, argument, &ring);
            break;
        }
        default:
            HandleCommand(id, ring);
            break;
        }
        // One wait per committed record, paired with the one release of its commit, so
        // no command leaves a surplus count behind (fillers are never committed).
        if (semaphore && id != CMD_NOP) semaphore->Wait();
        ring.EndRead();
    } while (ring.BeginRead() || (PollForWork() && ring.BeginRead()));
}
