#include "core/fs/PhysicalFileReader.h"

#include <cstring>
#include <new>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/ThreadCheck.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "platform/os/Clock.h"
#include "platform/os/File.h"
#include "platform/os/Thread.h"

namespace {
alignas(PhysicalFileReader) unsigned char gPhysicalFileReaderStorage[sizeof(PhysicalFileReader)];
}
PhysicalFileReader& gPhysicalFileReader = *reinterpret_cast<PhysicalFileReader*>(gPhysicalFileReaderStorage);

void CreateGlobalPhysicalFileReader() { new (gPhysicalFileReaderStorage) PhysicalFileReader; }
void DestroyGlobalPhysicalFileReader() {
    // The file system outlives the reader (it is built first): its mounts and a
    // preheated container stream still waiting on the reader go first.
    gFileSystem.UnmountAll();
    gPhysicalFileReader.Stop();
    gPhysicalFileReader.~PhysicalFileReader();
}

namespace {
constexpr uint32_t kMaxJobPath = 4095;
}

PhysicalFileReader::PhysicalFileReader()
    : BaseThread(kWorkerSettings[WORKER_PHYSICAL_FILE_READER].name, kWorkerSettings[WORKER_PHYSICAL_FILE_READER].ringBytes,
                 kWorkerSettings[WORKER_PHYSICAL_FILE_READER].useLock, kWorkerSettings[WORKER_PHYSICAL_FILE_READER].waitTimeoutMs) {}

PhysicalFileReader::~PhysicalFileReader() {
    for (uint32_t k = 0; k < kContainerDataKinds; ++k)
        for (uint32_t c = 0; c < MAX_CONTAINER_FILE_NUM; ++c) {
            os::CloseFile(handles[k][c]);
            EngineFree(handlePaths[k][c]);
        }
}

bool PhysicalFileReader::RegisterContainerFile(uint32_t dataKind, uint32_t container, const char* path) {
    Job job{};
    job.type = 0;
    job.dataKind = dataKind;
    job.container = container;
    return Post(job, path);
}

uint32_t PhysicalFileReader::PostRead(uint32_t dataKind, uint32_t container, const char* path, uint64_t offset,
                                      void* destination, uint32_t size, ReadDone* done) {
    Job job{};
    job.type = 1;
    job.dataKind = dataKind;
    job.container = container;
    job.offset = offset;
    job.destination = destination;
    job.size = size;
    job.done = done;
    if (done) {
        done->bytesRead.store(kReadPending, std::memory_order_relaxed);
        done->ending.store(false, std::memory_order_relaxed);
    }
    CriticalSectionGuard guard(&postLock);
    Post(job, path);
    return counters.First();
}

namespace {
// Longest watch of a read's last part (in counter ticks), after which the owner sleeps
// again; its count and the event follow in any case.
constexpr int64_t kEndingWatchTicks = os::kCounterFrequency / 5000;  // 0.2 ms, twice the last part from a cached file
// How long a waiting owner watches its read before it first sleeps.
constexpr int64_t kFirstWatchTicks = os::kCounterFrequency / 50000;  // 20 us

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
}  // namespace

void PhysicalFileReader::WaitFor(uint32_t ticket, const ReadDone& done) const {
    // A read-ahead buffer takes about as long as this watch; a reader that finds its
    // owner awake need not call the kernel to wake it.
    const int64_t until = os::ReadRealCounter() + kFirstWatchTicks;
    while (!IsComplete(ticket) && os::ReadRealCounter() < until) Pause();
    while (!IsComplete(ticket)) {
        // Once the count is in, the completion is a few instructions away; before, the
        // event is set after the count, so a sleep here cannot miss it.
        if (done.bytesRead.load(std::memory_order_acquire) != kReadPending || !done.wake) {
            os::YieldThread();
            continue;
        }
        done.wake->Wait();
        if (!done.ending.load(std::memory_order_acquire)) continue;
        const int64_t until = os::ReadRealCounter() + kEndingWatchTicks;
        while (!IsComplete(ticket) && os::ReadRealCounter() < until) Pause();
    }
}

namespace {
bool HasKeptOpenFile(uint32_t dataKind, uint32_t container) {
    return dataKind < kContainerDataKinds && container < MAX_CONTAINER_FILE_NUM;
}
}  // namespace

bool PhysicalFileReader::Post(const Job& original, const char* path) {
    Job job = original;
    // Reads of a kept-open file need no path; registrations and reopening reads do.
    if (job.type == 1 && HasKeptOpenFile(job.dataKind, job.container)) path = nullptr;
    const size_t n = path ? std::strlen(path) : 0;
    job.pathLength = n > kMaxJobPath ? 0 : static_cast<uint32_t>(n);
    if (n > kMaxJobPath) path = "";
    CriticalSectionGuard guard(&postLock);
    // The ticket is taken under the lock that also orders the records, so tickets
    // complete in the order they were handed out.
    if (job.type == 1) counters.IncrementFirst();
    // The job record and its path (with the terminator) travel as one payload.
    uint8_t payload[sizeof job + kMaxJobPath + 1];
    std::memcpy(payload, &job, sizeof job);
    std::memcpy(payload + sizeof job, path ? path : "", job.pathLength);
    payload[sizeof job + job.pathLength] = 0;
    PostCallOrRunInline(this, &PhysicalFileReader::RunJob, this, payload, uint32_t(sizeof job + job.pathLength + 1));
    return true;
}

void PhysicalFileReader::RunJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    Job job;
    if (bytes < sizeof job) return;
    std::memcpy(&job, payload, sizeof job);
    const char* path = reinterpret_cast<const char*>(payload + sizeof job);
    if (bytes - sizeof job < uint64_t(job.pathLength) + 1 || path[job.pathLength] != 0) {
        job.pathLength = 0;
        path = "";
    }
    static_cast<PhysicalFileReader*>(argument)->Execute(job, path);
}

void PhysicalFileReader::Execute(const Job& job, const char* path) {
    ASSERT_ON_THREAD(ThreadId(), "worker thread");  // the worker, or the posting thread while it is stopped
    const bool table = HasKeptOpenFile(job.dataKind, job.container);
    if (job.type == 0) {
        if (!table) return;
        std::FILE*& handle = handles[job.dataKind][job.container];
        char*& handlePath = handlePaths[job.dataKind][job.container];
        if (handle && handlePath && std::strcmp(handlePath, path) == 0) return;
        os::CloseFile(handle);
        EngineFree(handlePath);
        handle = os::OpenFile(path, "rb");
        handlePath = handle ? fs::CopyText(path) : nullptr;
        if (!handle) gLog.Error(LogCategory::Engine, "PhysicalFileReader - cannot open container file %s", path);
        return;
    }
    uint32_t got = 0;
    std::FILE* file = nullptr;
    bool own = false;
    if (table) {
        file = handles[job.dataKind][job.container];
    } else {
        file = os::OpenFile(path, "rb");
        own = true;
    }
    if (file && job.size && os::SeekFile(file, static_cast<int64_t>(job.offset), os::SeekOrigin::Begin)) {
        auto* destination = static_cast<uint8_t*>(job.destination);
        uint32_t first = 0;
        if (job.done && job.done->wake && job.size >= 2 * kEndingCallBytes) {
            // The owner wakes while the last part is read and watches for the end.
            first = job.size - kEndingCallBytes;
            got = static_cast<uint32_t>(std::fread(destination, 1, first, file));
            job.done->ending.store(true, std::memory_order_release);
            job.done->wake->Set();
        }
        if (got == first) got += static_cast<uint32_t>(std::fread(destination + first, 1, job.size - first, file));
    }
    if (own) os::CloseFile(file);
    if (job.done) {
        // The owner leaves only once the ticket completed, so both stay valid until then.
        job.done->bytesRead.store(got, std::memory_order_release);
        if (job.done->wake) job.done->wake->Set();
    }
    counters.IncrementSecond();
}
