#pragma once
// The "PhysicalFileReader" worker: reads container data into the read-ahead buffers of
// container streams, so that file input overlaps decoding.
//
// Jobs are command-5 records (register a container file, read a range). Each read gets
// a ticket from the posted counter; the worker completes jobs in order. A read reports
// back through its ReadDone: the worker stores the byte count it really read, wakes the
// owner's event, and only then advances the completed counter, so a ticket is complete
// when the completed counter has reached it (compared wrap-safely) and the worker no
// longer touches the ReadDone or the event once it is. A handle table of data kinds
// 0..10 x MAX_CONTAINER_FILE_NUM containers keeps each container file open for the
// worker's life; reads of any other data kind open, read and close their file, and only
// those carry their path in the job.
//
// Threads: any thread posts (a lock orders tickets and records). When the worker is not
// running, jobs run at once on the posting thread (the inline mode), so a stream never
// waits for a thread that is not there. Handles are touched only by whoever runs jobs.
// A ReadDone and its event belong to one waiting thread at a time.
#include <cstdint>
#include <atomic>
#include <cstdio>

#include "core/BaseThread.h"
#include "core/fs/ContainerIndex.h"

class PhysicalFileReader : public BaseThread {
public:
    static constexpr uint32_t kReadPending = 0xFFFFFFFFu;
    // Where one read reports back. bytesRead is kReadPending until the worker stored
    // the count; wake (optional) is set right after. A read of twice kEndingCallBytes
    // or more also sets ending and wake once before its last kEndingCallBytes, so that
    // a sleeping owner is up again by the time the read ends instead of only starting
    // to wake then.
    struct ReadDone {
        std::atomic<uint32_t> bytesRead{kReadPending};
        std::atomic<bool> ending{false};
        os::Event* wake = nullptr;
    };
    // About as long to read from a cached file as a sleeping thread takes to wake.
    static constexpr uint32_t kEndingCallBytes = 1024u << 10;

    PhysicalFileReader();
    ~PhysicalFileReader() override;  // closes every handle; the worker must be stopped

    // Opens the container file for (data kind, number) unless that slot already holds
    // the same file; a different file replaces it.
    bool RegisterContainerFile(uint32_t dataKind, uint32_t container, const char* path);
    // Reads size bytes at offset into destination and reports through done (which must
    // stay alive until the ticket completes). The path is used only by data kinds without
    // a kept-open file. Returns the ticket.
    uint32_t PostRead(uint32_t dataKind, uint32_t container, const char* path, uint64_t offset, void* destination,
                      uint32_t size, ReadDone* done);
    bool IsComplete(uint32_t ticket) const { return int32_t(counters.Second() - ticket) >= 0; }
    // Waits until the ticket completed: watching it for a moment first, then asleep on
    // done's event while the job is pending, watching again (for a bounded time) once
    // its last part is being read, and yielding only in the moment between its report
    // and its completion.
    void WaitFor(uint32_t ticket, const ReadDone& done) const;
    uint32_t Posted() const { return counters.First(); }
    uint32_t Completed() const { return counters.Second(); }

private:
    struct Job {
        uint32_t type;  // 0 register, 1 read
        uint32_t dataKind;
        uint32_t container;
        uint32_t pathLength;
        uint64_t offset;
        void* destination;
        uint32_t size;
        ReadDone* done;
    };
    static void RunJob(void* argument, const uint8_t* payload, uint32_t bytes);
    bool Post(const Job& job, const char* path);
    void Execute(const Job& job, const char* path);

    CriticalSection postLock;
    CounterPair counters;  // first: reads posted, second: reads completed
    std::FILE* handles[kContainerDataKinds][MAX_CONTAINER_FILE_NUM] = {};
    char* handlePaths[kContainerDataKinds][MAX_CONTAINER_FILE_NUM] = {};
};

// The program's reader; the start-up sequence starts it and the shutdown stops it.
// Lives in static storage; built by the ordered start-up, stopped and destroyed by
// the shutdown.
extern PhysicalFileReader& gPhysicalFileReader;
void CreateGlobalPhysicalFileReader();
void DestroyGlobalPhysicalFileReader();
