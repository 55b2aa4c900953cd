#pragma once
// The "PhysicalFileReader" worker: reads container data into the read-ahead buffers of
// container streams, so that file input overlaps decoding.
//
// Jobs are command-5 records (register a container file, read a range). Each read gets
// a ticket from the posted counter; the worker completes jobs in order, records the
// bytes it really read and then advances the completed counter, so a ticket is complete
// when the completed counter has reached it (compared wrap-safely). A handle table of
// 11 data kinds x 4 containers keeps each container file open for the worker's life;
// data kind 11 means none: such reads open, read and close their file.
//
// Threads: any thread posts (a lock orders tickets and records). When the worker is not
// running, jobs run at once on the posting thread (the inline mode), so a stream never
// waits for a thread that is not there. Handles are touched only by whoever runs jobs.
#include <cstdint>
#include <cstdio>

#include "core/BaseThread.h"

class PhysicalFileReader : public BaseThread {
public:
    static constexpr uint32_t kDataKinds = 11;
    static constexpr uint32_t kContainers = 4;
    static constexpr uint32_t kNoDataKind = 11;

    PhysicalFileReader();
    ~PhysicalFileReader() override;  // closes every handle; the worker must be stopped

    // Opens the container file for (data kind, number) unless that slot already holds
    // the same file; a different file replaces it.
    bool RegisterContainerFile(uint32_t dataKind, uint32_t container, const char* path);
    // Reads size bytes at offset into destination; *bytesRead receives the count really
    // read before the ticket completes. Returns the ticket.
    uint32_t PostRead(uint32_t dataKind, uint32_t container, const char* path, uint64_t offset, void* destination,
                      uint32_t size, uint32_t* bytesRead);
    bool IsComplete(uint32_t ticket) const { return int32_t(counters.Second() - ticket) >= 0; }
    // Waits (yielding) until the ticket completed.
    void WaitFor(uint32_t ticket) const;
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
        uint32_t* bytesRead;
    };
    static void RunJob(BaseThread* thread, void* argument, CommandRingBuffer* ring);
    bool Post(const Job& job, const char* path);
    void Execute(const Job& job, const char* path);

    CriticalSection postLock;
    CounterPair counters;  // first: reads posted, second: reads completed
    std::FILE* handles[kDataKinds][kContainers] = {};
    char* handlePaths[kDataKinds][kContainers] = {};
};

// The program's reader; the start-up sequence starts it and the shutdown stops it.
// Lives in static storage; built by the ordered start-up, stopped and destroyed by
// the shutdown.
extern PhysicalFileReader& gPhysicalFileReader;
void CreateGlobalPhysicalFileReader();
void DestroyGlobalPhysicalFileReader();
