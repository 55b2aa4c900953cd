#pragma once
// Container sets: a ".dat" file of entries back to back and an ".idx" index per
// container; up to MAX_CONTAINER_FILE_NUM containers per mount (the base file and
// "_%03d.dat" extras). Later containers override earlier ones. Streams read through
// three 32 KB read-ahead buffers filled by the PhysicalFileReader and decode with a
// BlockDecompressor; a large stored read goes straight into the caller's buffer.
//
// Threads: the mount point is used under the FileSystem lock; a stream belongs to one
// thread at a time (its buffers, and a caller's buffer during a direct read, are
// written by the reader thread between posting and completion only; the stream sleeps
// on its own event meanwhile).
#include <cstdint>

#include "core/fs/BlockDecompressor.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "core/fs/PhysicalFileReader.h"

constexpr uint32_t kContainerReadAheadBuffers = 3;
constexpr uint32_t kContainerReadAheadBytes = 32768;

class FileSystemContainerMountPoint : public FileSystemMountPoint {
public:
    FileSystemContainerMountPoint(FileSystem* owner, const char* mountName, const char* basePath, uint32_t dataKind,
                                  uint32_t hashMultiplier, uint32_t extraCount);
    ~FileSystemContainerMountPoint() override = default;

    // Loads the indexes of the next containers. An index entry that its data file cannot
    // serve is dropped (logged), so GetSize never promises bytes that are not there.
    bool OpenContainerFiles(const char* mountName, const char* basePath, uint32_t dataKind, uint32_t hashMultiplier,
                            uint32_t extraCount);

    bool FileExists(const char* path) override;
    FileSystemInputStream* OpenInputStream(const char* path, uint32_t flags) override;
    bool AddExtraFiles(const char* mountName, const char* basePath, uint32_t dataKind, uint32_t hashMultiplier,
                       uint32_t extraCount) override;

    uint32_t ContainerCount() const { return loaded; }
    const char* DatPath(uint32_t i) const { return i < loaded ? containers[i].datPath : nullptr; }
    const char* IndexPath(uint32_t i) const { return i < loaded ? containers[i].indexPath : nullptr; }
    const ContainerIndex* Index(uint32_t i) const { return i < loaded ? &containers[i].index : nullptr; }

private:
    struct Container {
        uint32_t dataKind = kContainerNoDataKind;
        ContainerIndex index;
        char datPath[fs::kMaxPath] = {};
        char indexPath[fs::kMaxPath] = {};
    };

    FileSystem* owner;
    Container containers[MAX_CONTAINER_FILE_NUM];
    uint32_t loaded = 0;
};

// Reads of stored data that reach at least this far past the bytes already in flight go
// straight into the caller's buffer as one reader job; smaller reads and compressed data
// go through the read-ahead buffers.
constexpr uint32_t kContainerDirectReadBytes = kContainerReadAheadBytes;

class FileSystemContainerInputStream : public FileSystemInputStream {
public:
    // Starts the read-ahead at once. name: the entry's path, for messages.
    FileSystemContainerInputStream(FileSystem* owner, const ContainerIndexEntry& entry, uint8_t compression,
                                   const char* datPath, uint32_t dataKind, uint32_t container, const char* name);
    // Waits for reads still in flight (they write into this object).
    ~FileSystemContainerInputStream() override;

    bool IsOpen() const override { return open; }
    uint32_t GetSize() override { return entry.size; }
    // A zlib or gzip entry whose last byte is read must also end its stream there with a
    // matching check value; otherwise the read fails.
    bool Read(void* buffer, uint32_t size) override;
    bool ReadChar(uint8_t* out) override { return false; }

private:
    struct Slot {
        uint32_t ticket = 0;
        uint32_t expected = 0;  // bytes asked for
        uint32_t used = 0;      // bytes handed out
        bool ready = false;
        PhysicalFileReader::ReadDone done;  // bytes the reader really read
    };
    void IssueReads();
    // The next unread bytes of the stored data; false when none are left or a read came
    // back short (then the stream fails).
    bool Obtain(const uint8_t** data, uint32_t* available);
    void Consume(uint32_t n);
    bool ReadStored(uint8_t* out, uint32_t size);
    bool CopyFromSlots(uint8_t* out, uint32_t size);
    bool ReadCoded(uint8_t* out, uint32_t size);
    bool FinishCodedStream();
    // Logs one line naming the entry and fails the stream for good.
    bool Fail(const char* what);

    FileSystem* owner;
    PhysicalFileReader* reader;
    ContainerIndexEntry entry;
    BlockDecompressor decompressor;
    char datPath[fs::kMaxPath];
    char name[fs::kMaxPath];
    uint32_t dataKind;
    uint32_t container;
    uint32_t requested = 0;  // stored bytes asked for so far
    uint32_t issued = 0;     // reads posted
    uint32_t completed = 0;  // buffers used up
    uint32_t produced = 0;   // decoded bytes handed out
    Slot slots[kContainerReadAheadBuffers];
    os::Event wake;  // set by the reader as each read of this stream completes
    PhysicalFileReader::ReadDone direct;
    bool open = false;
    bool broken = false;
    bool preheatRequested = false;
    uint8_t buffers[kContainerReadAheadBuffers][kContainerReadAheadBytes];
};
