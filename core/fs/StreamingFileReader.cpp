#include "core/fs/StreamingFileReader.h"

#include <cstring>

#include "core/BaseThread.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/ThreadCheck.h"
#include "core/fs/FsUtil.h"
#include "platform/os/Thread.h"

namespace {
constexpr uint32_t kRingGap = 256;
constexpr uint32_t kWaitMs = 5;

std::atomic<BaseThread*> gLoaderThread{nullptr};
// The list of open readers; loader thread only.
StreamingFileReader* gListHead = nullptr;
StreamingFileReader* gListTail = nullptr;

[[maybe_unused]] os::ThreadId LoaderThreadId() {
    const BaseThread* loader = gLoaderThread.load(std::memory_order_acquire);
    return loader ? loader->ThreadId() : 0;
}

// Warnings go out on the first 128 of every 256 tests.
inline bool WarnOnTest(uint32_t test) { return (test & 255) < 128; }
}  // namespace

void StreamingFileReader::SetLoaderThread(BaseThread* loader) { gLoaderThread.store(loader, std::memory_order_release); }

StreamingFileReader::StreamingFileReader(uint32_t bufferSize, const char* fileName, const char* fileExtension,
                                         const char* fileDirectory, bool loopFile)
    : ringSize(bufferSize + kRingGap), refillThreshold(bufferSize / 4), loop(loopFile) {
    fs::CopyBounded(name, sizeof name, fileName);
    hasExtension = fileExtension && fs::CopyBounded(extension, sizeof extension, fileExtension);
    hasDirectory = fileDirectory && fs::CopyBounded(directory, sizeof directory, fileDirectory);
    // A path part that does not fit would open another file; an empty ring could never
    // hand out a byte and a ring size past 32 bits would wrap. Such a reader fails its
    // open (an empty name).
    if (bufferSize == 0 || bufferSize > UINT32_MAX - kRingGap || (fileExtension && !hasExtension) ||
        (fileDirectory && !hasDirectory)) {
        gLog.Error(LogCategory::Engine, "StreamingFileReader - unusable buffer size %u or path for %s", bufferSize, fileName ? fileName : "");
        name[0] = 0;
    }
    PostJob(JOB_OPEN);
}

StreamingFileReader::~StreamingFileReader() {
    if (previous) previous->next = next;
    if (next) next->previous = previous;
    if (gListHead == this) gListHead = next;
    if (gListTail == this) gListTail = previous;
    ReleaseBuffer(&ring);
    reader.Close();
}

void StreamingFileReader::PostJob(uint32_t type) {
    BaseThread::PostCallOrRunInline(gLoaderThread.load(std::memory_order_acquire), &StreamingFileReader::RunJob, this, &type, sizeof type);
}

void StreamingFileReader::RunJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    uint32_t type = 0;
    if (bytes < sizeof type) return;
    std::memcpy(&type, payload, sizeof type);
    static_cast<StreamingFileReader*>(argument)->ExecuteJob(type);
}

void StreamingFileReader::ExecuteJob(uint32_t type) {
    ASSERT_ON_THREAD(LoaderThreadId(), "loader thread");
    switch (type) {
    case JOB_DESTROY:
        delete this;
        break;
    case JOB_OPEN:
        Open();
        break;
    case JOB_REFILL:
        Pump(0);
        refillsDone.fetch_add(1, std::memory_order_seq_cst);
        break;
    default:
        break;
    }
}

void StreamingFileReader::Open() {
    previous = gListTail;
    next = nullptr;
    if (gListTail) gListTail->next = this;
    gListTail = this;
    if (!gListHead) gListHead = this;

    const char* ext = hasExtension ? extension : nullptr;
    const char* dir = hasDirectory ? directory : nullptr;
    if (!name[0] || !reader.Open(name, ext, dir, 0) || reader.GetSize() == 0) {
        state.store(STATE_FAILED, std::memory_order_seq_cst);
        return;
    }
    const uint32_t size = reader.GetSize();
    ring = static_cast<uint8_t*>(EngineAlloc(ringSize));
    const uint32_t first = size < ringSize - kRingGap ? size : ringSize - kRingGap;
    if (!ring || !reader.Read(ring, first)) {
        gLog.Error(LogCategory::Engine, "StreamingFileReader - cannot read %s", name);
        state.store(STATE_FAILED, std::memory_order_seq_cst);
        return;
    }
    fileSize.store(size, std::memory_order_release);
    remaining = size;  // published to the consumer by the state store below
    leftInFile = size - first;
    peakFill.store(first, std::memory_order_relaxed);
    writePosition.store(first % ringSize, std::memory_order_seq_cst);
    state.store(STATE_OPEN, std::memory_order_seq_cst);
}

bool StreamingFileReader::ReopenForLoop() {
    if (!loop) return false;
    const char* ext = hasExtension ? extension : nullptr;
    const char* dir = hasDirectory ? directory : nullptr;
    if (!reader.Open(name, ext, dir, 0)) return false;
    leftInFile = reader.GetSize();
    if (leftInFile == 0) return false;
    fileSize.store(leftInFile, std::memory_order_release);
    return true;
}

void StreamingFileReader::Pump(uint32_t threshold) {
    if (state.load(std::memory_order_acquire) != STATE_OPEN || !ring) return;
    while (!endFlag.load(std::memory_order_relaxed)) {
        if (leftInFile == 0 && !ReopenForLoop()) {
            // Nothing more will come: a looping file that vanished or emptied ends too.
            endFlag.store(true, std::memory_order_seq_cst);
            break;
        }
        const uint32_t r = readPosition.load(std::memory_order_acquire);
        const uint32_t w = writePosition.load(std::memory_order_relaxed);
        const int64_t freeBytes = r == w ? int64_t(ringSize) : (int64_t(r) - int64_t(w) + ringSize) % ringSize;
        const int64_t space = freeBytes - kRingGap;  // signed: never wraps below zero
        if (space <= int64_t(threshold)) break;
        const uint32_t n = static_cast<uint32_t>(space < int64_t(leftInFile) ? space : int64_t(leftInFile));
        const uint32_t firstPiece = n < ringSize - w ? n : ringSize - w;
        bool ok = reader.Read(ring + w, firstPiece);
        if (ok && n > firstPiece) ok = reader.Read(ring, n - firstPiece);
        if (!ok) {
            gLog.Error(LogCategory::Engine, "StreamingFileReader - cannot read %s", name);
            endFlag.store(true, std::memory_order_seq_cst);
            break;
        }
        leftInFile -= n;
        const uint32_t fill = static_cast<uint32_t>(ringSize - freeBytes + n);
        if (fill > peakFill.load(std::memory_order_relaxed)) peakFill.store(fill, std::memory_order_relaxed);
        writePosition.store((w + n) % ringSize, std::memory_order_seq_cst);
        if (leftInFile == 0 && !loop) {
            endFlag.store(true, std::memory_order_seq_cst);
            break;
        }
    }
}

void StreamingFileReader::PumpAll() {
    for (StreamingFileReader* r = gListHead; r; r = r->next) r->Pump(r->refillThreshold);
}

void StreamingFileReader::Release() { PostJob(JOB_DESTROY); }

void StreamingFileReader::WaitUntilOpen() {
    for (uint32_t test = 0; state.load(std::memory_order_seq_cst) == STATE_OPEN_PENDING; ++test) {
        if (WarnOnTest(test)) gLog.Warning(LogCategory::Engine, "Incorrect use of StreamingFileReader is causing a delay!!!");
        os::Sleep(kWaitMs);
    }
    if (state.load(std::memory_order_seq_cst) != STATE_OPEN) {
        gLog.Error(LogCategory::Engine, "Incorrect use of StreamingFileReader - trying to read from a closed file");
        return;
    }
    if (remaining == 0) remaining = fileSize.load(std::memory_order_acquire);
}

uint32_t StreamingFileReader::Read(void* buffer, uint32_t n) {
    for (uint32_t test = 0; state.load(std::memory_order_seq_cst) == STATE_OPEN_PENDING; ++test) {
        if (WarnOnTest(test)) gLog.Warning(LogCategory::Engine, "Incorrect use of StreamingFileReader is causing a delay!!!");
        os::Sleep(kWaitMs);
    }
    if (state.load(std::memory_order_seq_cst) != STATE_OPEN) {
        gLog.Error(LogCategory::Engine, "Incorrect use of StreamingFileReader - trying to read from a closed file");
        return 0;
    }
    if (n > remaining) n = remaining;
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t copied = 0;
    uint32_t test = 0;
    while (copied < n) {
        uint32_t r = readPosition.load(std::memory_order_relaxed);
        uint32_t w = writePosition.load(std::memory_order_acquire);
        const uint32_t available = static_cast<uint32_t>((int64_t(w) - int64_t(r) + ringSize) % ringSize);
        if (available == 0) {
            if (refillsPosted != refillsDone.load(std::memory_order_acquire)) {
                if (WarnOnTest(test++))
                    gLog.Warning(LogCategory::Engine, "Incorrect use of StreamingFileReader is causing delay while waiting for the next data package");
                os::Sleep(kWaitMs);
                continue;
            }
            if (endFlag.load(std::memory_order_acquire)) {
                // The loader publishes its last bytes before the end flag.
                if (writePosition.load(std::memory_order_acquire) != w) continue;
                break;  // nothing more will come: hand out what was copied
            }
            ++refillsPosted;
            PostJob(JOB_REFILL);
            continue;
        }
        uint32_t take = n - copied;
        if (take > available) take = available;
        if (take > ringSize - r) take = ringSize - r;
        if (out) std::memcpy(out + copied, ring + r, take);
        copied += take;
        r = (r + take) % ringSize;
        readPosition.store(r, std::memory_order_seq_cst);
        const uint32_t used = static_cast<uint32_t>((int64_t(w) - int64_t(r) + ringSize) % ringSize);
        if (ringSize - used >= refillThreshold && refillsPosted == refillsDone.load(std::memory_order_acquire) &&
            !endFlag.load(std::memory_order_acquire)) {
            ++refillsPosted;
            PostJob(JOB_REFILL);
        }
    }
    remaining -= copied;
    return copied;
}
