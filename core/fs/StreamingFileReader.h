#pragma once
// StreamingFileReader: one file read continuously into a ring on the loader thread
// (the ResourceManager's worker) and drained by one consumer thread (sound, video).
//
// All file work runs on the loader thread through command-5 jobs {job type, reader}
// (0 destroy, 1 open, 2 refill) and through PumpAll, which the loader calls in its loop.
// The consumer only copies out of the ring and posts refill jobs. The ring holds the
// requested buffer size + 256 bytes and never fills beyond ring size - 256, so the write
// position never catches up with the read position.
//
// Ownership of the fields: the loader owns the file, the write position, the bytes left
// in the file, the end flag and the global list; the consumer owns the read position,
// the remaining count and the refills posted. Each side publishes its position with
// release and reads the other's with acquire.
#include <atomic>
#include <cstdint>

#include "core/fs/FileReader.h"
#include "core/fs/FsUtil.h"

class BaseThread;
class CommandRingBuffer;

class StreamingFileReader {
public:
    enum : uint32_t { STATE_OPEN_PENDING = 0, STATE_FAILED = 1, STATE_OPEN = 2 };
    enum : uint32_t { JOB_DESTROY = 0, JOB_OPEN = 1, JOB_REFILL = 2 };

    // Any thread: stores the settings and posts the open job.
    StreamingFileReader(uint32_t bufferSize, const char* name, const char* extension, const char* directory, bool loop);

    // The worker that runs the jobs (set by the loader's owner at start-up; tests set a
    // stand-in). Without one, jobs run at once on the posting thread.
    static void SetLoaderThread(BaseThread* loader);
    // Loader thread: refills every open reader whose free space passed a quarter of its
    // buffer.
    static void PumpAll();

    // Consumer thread.
    void Release();  // posts the destroy job; the object is gone afterwards
    bool IsOpenOrFailed() const { return state.load(std::memory_order_seq_cst) != STATE_OPEN_PENDING; }
    bool IsOpen() const { return state.load(std::memory_order_seq_cst) == STATE_OPEN; }
    // Waits for the open attempt; a looping reader whose remaining count ran out starts
    // counting the file again.
    void WaitUntilOpen();
    // Copies (or skips, with a null buffer) up to n bytes; returns the count, 0 for a
    // failed open or at the end.
    uint32_t Read(void* buffer, uint32_t n);

    const char* GetName() const { return name; }
    uint32_t GetFileSize() const { return fileSize.load(std::memory_order_acquire); }
    uint32_t RingSize() const { return ringSize; }
    // Most bytes ever held in the ring (a test check of the 256-byte gap).
    uint32_t PeakFill() const { return peakFill.load(std::memory_order_relaxed); }

private:
    ~StreamingFileReader();  // loader thread, through the destroy job
    static void RunJob(void* argument, const uint8_t* payload, uint32_t bytes);
    void PostJob(uint32_t type);
    void ExecuteJob(uint32_t type);
    void Open();
    void Pump(uint32_t threshold);
    bool ReopenForLoop();

    // Consumer side.
    std::atomic<uint32_t> readPosition{0};
    uint32_t remaining = 0;
    uint32_t refillsPosted = 0;
    // Settings: the three path parts, as for FileSystem::OpenInputStream.
    char name[fs::kMaxPath] = {};
    char extension[fs::kMaxPath] = {};
    char directory[fs::kMaxPath] = {};
    bool hasExtension = false;
    bool hasDirectory = false;
    std::atomic<uint32_t> state{STATE_OPEN_PENDING};
    // Loader side.
    FileReader reader;
    uint32_t leftInFile = 0;
    std::atomic<uint32_t> fileSize{0};
    uint32_t ringSize;
    uint32_t refillThreshold;
    uint8_t* ring = nullptr;
    std::atomic<uint32_t> writePosition{0};
    std::atomic<uint32_t> refillsDone{0};
    bool loop;
    std::atomic<bool> endFlag{false};
    std::atomic<uint32_t> peakFill{0};
    StreamingFileReader* previous = nullptr;
    StreamingFileReader* next = nullptr;
};
