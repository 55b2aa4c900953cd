// Container mount points and container streams.
#include "core/fs/FileSystemContainer.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/fs/FsUtil.h"
#include "core/fs/PhysicalFileReader.h"
#include "platform/os/File.h"

// ---------------------------------------------------------------------------------------
// Mount point

FileSystemContainerMountPoint::FileSystemContainerMountPoint(FileSystem* fileSystem, const char* mountName, const char* basePath,
                                                             uint32_t dataKind, uint32_t hashMultiplier, uint32_t extraCount)
    : FileSystemMountPoint(mountName), owner(fileSystem) {
    valid = OpenContainerFiles(mountName, basePath, dataKind, hashMultiplier, extraCount);
}

bool FileSystemContainerMountPoint::OpenContainerFiles(const char* mountName, const char* basePath, uint32_t dataKind,
                                                       uint32_t hashMultiplier, uint32_t extraCount) {
    if (!basePath || loaded >= MAX_CONTAINER_FILE_NUM) return false;
    if (uint64_t(loaded) + extraCount + 1 > MAX_CONTAINER_FILE_NUM) {
        gLog.Warning(LogCategory::Engine, "More than MAX_CONTAINER_FILE_NUM container files required");
        extraCount = MAX_CONTAINER_FILE_NUM - 1 - loaded;
    }
    // Paths of the new containers: the base itself, then "_%03d.dat" in place of ".dat".
    char base[fs::kMaxPath];
    const size_t baseLength = std::strlen(basePath);
    if (baseLength < 4 || !fs::CopyBounded(base, sizeof base, basePath)) {
        gLog.Error(LogCategory::Engine, "FileSystemContainerMountPoint - unusable container path %s", basePath);
        return false;
    }
    for (char* p = base; *p; ++p)
        if (*p == '\\') *p = '/';
    const uint32_t first = loaded;
    const uint32_t newCount = extraCount + 1;
    char dat[MAX_CONTAINER_FILE_NUM][fs::kMaxPath];
    char idx[MAX_CONTAINER_FILE_NUM][fs::kMaxPath];
    for (uint32_t i = 0; i < newCount; ++i) {
        if (i == 0) {
            std::memcpy(dat[i], base, baseLength + 1);
        } else {
            const int n = std::snprintf(dat[i], sizeof dat[i], "%.*s_%03u.dat", int(baseLength - 4), base, first + i);
            if (n < 0 || size_t(n) >= sizeof dat[i]) return false;
        }
        const size_t n = std::strlen(dat[i]);
        std::memcpy(idx[i], dat[i], n + 1);
        std::memcpy(idx[i] + n - 3, "idx", 3);
    }
    if (!os::IsRegularFile(dat[0]) || !os::IsRegularFile(idx[0])) return false;

    PhysicalFileReader* reader = owner ? owner->Reader() : &gPhysicalFileReader;
    uint32_t added = 0;
    for (uint32_t i = 0; i < newCount; ++i) {
        Container& c = containers[first + i];
        c.index.SetMultiplier(hashMultiplier);
        if (!c.index.Load(idx[i])) break;
        std::memcpy(c.datPath, dat[i], sizeof c.datPath);
        std::memcpy(c.indexPath, idx[i], sizeof c.indexPath);
        reader->RegisterContainerFile(dataKind, first + i, c.datPath);
        c.dataKind = dataKind;
        ++added;
    }
    loaded += added;
    return added > 0;
}

bool FileSystemContainerMountPoint::AddExtraFiles(const char* mountName, const char* basePath, uint32_t dataKind,
                                                  uint32_t hashMultiplier, uint32_t extraCount) {
    if (loaded >= MAX_CONTAINER_FILE_NUM) {
        gLog.Error(LogCategory::Engine, "AddExtraFiles failed - too many containers already added");
        return false;
    }
    OpenContainerFiles(mountName, basePath, dataKind, hashMultiplier, extraCount);
    return true;
}

bool FileSystemContainerMountPoint::FileExists(const char* path) {
    for (uint32_t i = loaded; i-- > 0;)
        if (containers[i].index.Find(path, nullptr)) return true;
    return false;
}

FileSystemInputStream* FileSystemContainerMountPoint::OpenInputStream(const char* path, uint32_t flags) {
    ContainerIndexEntry entry;
    for (uint32_t i = loaded; i-- > 0;) {
        const Container& c = containers[i];
        if (!c.index.Find(path, &entry)) continue;
        return new FileSystemContainerInputStream(owner, entry, c.index.Compression(), c.datPath, c.dataKind, i);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Stream

FileSystemContainerInputStream::FileSystemContainerInputStream(FileSystem* fileSystem, const ContainerIndexEntry& indexEntry,
                                                               uint8_t compression, const char* path, uint32_t kind,
                                                               uint32_t number)
    : owner(fileSystem),
      reader(fileSystem ? fileSystem->Reader() : &gPhysicalFileReader),
      entry(indexEntry),
      decompressor(indexEntry.compressed ? compression : 0),
      dataKind(kind),
      container(number) {
    fs::CopyBounded(datPath, sizeof datPath, path);
    open = true;
    IssueReads();
}

FileSystemContainerInputStream::~FileSystemContainerInputStream() {
    bool waited = false;
    for (uint32_t i = completed; i != issued; ++i) {
        const Slot& s = slots[i % kContainerReadAheadBuffers];
        if (s.ready || reader->IsComplete(s.ticket)) continue;
        if (!waited) {
            reader->Flush();
            gLog.Warning(LogCategory::Engine, "Incorrect usage of container file reader is causing delay. File: %s", datPath);
            waited = true;
        }
        reader->WaitFor(s.ticket);
    }
}

void FileSystemContainerInputStream::IssueReads() {
    while (issued - completed < kContainerReadAheadBuffers && requested < entry.storedSize) {
        Slot& s = slots[issued % kContainerReadAheadBuffers];
        const uint32_t left = entry.storedSize - requested;
        const uint32_t n = left < kContainerReadAheadBytes ? left : kContainerReadAheadBytes;
        s.expected = n;
        s.got = 0;
        s.used = 0;
        s.ready = false;
        s.ticket = reader->PostRead(dataKind, container, datPath, uint64_t(entry.offset) + requested,
                                    buffers[issued % kContainerReadAheadBuffers], n, &s.got);
        requested += n;
        ++issued;
    }
    if (requested == entry.storedSize && !preheatRequested) {
        preheatRequested = true;
        if (owner) owner->PreheatNextStream();
    }
}

bool FileSystemContainerInputStream::Obtain(const uint8_t** data, uint32_t* available) {
    *data = nullptr;
    *available = 0;
    if (broken || completed == issued) return false;
    Slot& s = slots[completed % kContainerReadAheadBuffers];
    if (!s.ready) {
        reader->WaitFor(s.ticket);
        s.ready = true;
        if (s.got != s.expected) {
            // A short read would hand out stale bytes as file content.
            gLog.Error(LogCategory::Engine, "FileSystemContainerInputStream - short read of %s at offset %u", datPath, entry.offset);
            broken = true;
            return false;
        }
    }
    *data = buffers[completed % kContainerReadAheadBuffers] + s.used;
    *available = s.got - s.used;
    IssueReads();
    return true;
}

void FileSystemContainerInputStream::Consume(uint32_t n) {
    Slot& s = slots[completed % kContainerReadAheadBuffers];
    s.used += n;
    if (s.used >= s.got) {
        ++completed;
        IssueReads();
    }
}

bool FileSystemContainerInputStream::Read(void* buffer, uint32_t size) {
    if (!open || broken || size == 0) return false;
    if (size > entry.size - produced) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    uint8_t scratch[1024];
    uint32_t done = 0;
    while (done < size) {
        const uint8_t* data = nullptr;
        uint32_t available = 0;
        if (!Obtain(&data, &available) && broken) return false;
        if (decompressor.Kind() == 0) {
            if (available == 0) return false;
            uint32_t n = size - done < available ? size - done : available;
            if (out) std::memcpy(out + done, data, n);
            Consume(n);
            done += n;
            continue;
        }
        // Decoded into the caller's buffer, or for a skip into a scratch area.
        uint8_t* target = out ? out + done : scratch;
        uint32_t room = size - done;
        if (!out && room > sizeof scratch) room = sizeof scratch;
        uint32_t in = available;
        if (!decompressor.Decompress(data, &in, target, &room)) {
            broken = true;
            return false;
        }
        if (in) Consume(in);
        if (in == 0 && room == 0) {
            // The stored data ran out before the entry's size was decoded.
            gLog.Error(LogCategory::Engine, "FileSystemContainerInputStream - compressed data of %s at offset %u ends early", datPath,
                       entry.offset);
            broken = true;
            return false;
        }
        done += room;
        produced += room;
    }
    if (decompressor.Kind() == 0) produced += size;
    return true;
}
