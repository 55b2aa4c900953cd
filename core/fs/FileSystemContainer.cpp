// Container mount points and container streams.
#include "core/fs/FileSystemContainer.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/fs/FsUtil.h"
#include "core/fs/PhysicalFileReader.h"
#include "platform/os/File.h"

namespace {
// Size of a regular file; -1 when it is missing or cannot be opened.
int64_t DataFileSize(const char* path) {
    std::FILE* file = os::OpenFile(path, "rb");
    if (!file) return -1;
    const int64_t size = os::GetOpenFileSize(file);
    os::CloseFile(file);
    return size;
}
}  // namespace

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
        const int64_t datSize = DataFileSize(dat[i]);
        if (datSize < 0 || !c.index.Load(idx[i])) break;
        c.index.DropUnreadableEntries(uint64_t(datSize), idx[i]);
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
        return new FileSystemContainerInputStream(owner, entry, c.index.Compression(), c.datPath, c.dataKind, i, path);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Stream
//
// Stored data: small reads are served from the three read-ahead buffers; a read that
// reaches kContainerDirectReadBytes or more past the bytes already in flight posts that
// rest as one job into the caller's buffer at once, then hands out the buffers in
// flight ahead of it (tickets complete in order) and waits for the job. Compressed data
// always goes through the buffers into the decoder.

FileSystemContainerInputStream::FileSystemContainerInputStream(FileSystem* fileSystem, const ContainerIndexEntry& indexEntry,
                                                               uint8_t compression, const char* path, uint32_t kind,
                                                               uint32_t number, const char* entryName)
    : owner(fileSystem),
      reader(fileSystem ? fileSystem->Reader() : &gPhysicalFileReader),
      entry(indexEntry),
      decompressor(indexEntry.compressed ? compression : uint8_t(CONTAINER_COMPRESSION_NONE)),
      dataKind(kind),
      container(number) {
    fs::CopyBounded(datPath, sizeof datPath, path);
    if (!fs::CopyBounded(name, sizeof name, entryName)) fs::CopyBounded(name, sizeof name, "?");
    for (Slot& s : slots) s.done.wake = &wake;
    direct.wake = &wake;
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
        reader->WaitFor(s.ticket, s.done);
    }
}

bool FileSystemContainerInputStream::Fail(const char* what) {
    gLog.Error(LogCategory::Engine, "FileSystemContainerInputStream - %s: %s (offset %u in %s)", name, what, entry.offset, datPath);
    broken = true;
    return false;
}

void FileSystemContainerInputStream::IssueReads() {
    while (issued - completed < kContainerReadAheadBuffers && requested < entry.storedSize) {
        Slot& s = slots[issued % kContainerReadAheadBuffers];
        const uint32_t left = entry.storedSize - requested;
        const uint32_t n = left < kContainerReadAheadBytes ? left : kContainerReadAheadBytes;
        s.expected = n;
        s.used = 0;
        s.ready = false;
        s.ticket = reader->PostRead(dataKind, container, datPath, uint64_t(entry.offset) + requested,
                                    buffers[issued % kContainerReadAheadBuffers], n, &s.done);
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
        reader->WaitFor(s.ticket, s.done);
        s.ready = true;
        // A short read would hand out stale bytes as file content.
        if (s.done.bytesRead.load(std::memory_order_acquire) != s.expected) return Fail("short read");
    }
    *data = buffers[completed % kContainerReadAheadBuffers] + s.used;
    *available = s.expected - s.used;
    IssueReads();
    return true;
}

void FileSystemContainerInputStream::Consume(uint32_t n) {
    Slot& s = slots[completed % kContainerReadAheadBuffers];
    s.used += n;
    if (s.used >= s.expected) {
        ++completed;
        IssueReads();
    }
}

bool FileSystemContainerInputStream::Read(void* buffer, uint32_t size) {
    if (!open || broken) return false;
    if (size == 0) return true;  // as from a folder: an empty part of a file reads as empty
    if (size > entry.size - produced) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    const bool ok = decompressor.Kind() == CONTAINER_COMPRESSION_NONE ? ReadStored(out, size) : ReadCoded(out, size);
    if (!ok) return false;
    produced += size;
    if (produced == entry.size && decompressor.Kind() == CONTAINER_COMPRESSION_ZLIB) return FinishCodedStream();
    return true;
}

bool FileSystemContainerInputStream::CopyFromSlots(uint8_t* out, uint32_t size) {
    for (uint32_t done = 0; done < size;) {
        const uint8_t* data = nullptr;
        uint32_t available = 0;
        if (!Obtain(&data, &available) || available == 0) return false;
        const uint32_t n = size - done < available ? size - done : available;
        if (out) std::memcpy(out + done, data, n);
        Consume(n);
        done += n;
    }
    return true;
}

bool FileSystemContainerInputStream::ReadStored(uint8_t* out, uint32_t size) {
    // Stored bytes handed out so far equal the decoded ones.
    if (size > entry.storedSize - produced) return false;
    const uint32_t inFlight = requested - produced;
    if (size <= inFlight || size - inFlight < kContainerDirectReadBytes) return CopyFromSlots(out, size);

    const uint32_t rest = size - inFlight;
    uint32_t ticket = 0;
    if (out)  // a skip needs no bytes at all
        ticket = reader->PostRead(dataKind, container, datPath, uint64_t(entry.offset) + requested, out + inFlight, rest, &direct);
    requested += rest;
    IssueReads();  // read-ahead resumes behind the direct range
    bool ok = CopyFromSlots(out, inFlight);
    if (out) {
        // Waited for even after a failure: the job writes into the caller's buffer.
        reader->WaitFor(ticket, direct);
        if (ok && direct.bytesRead.load(std::memory_order_acquire) != rest) ok = Fail("short read");
    }
    return ok;
}

bool FileSystemContainerInputStream::ReadCoded(uint8_t* out, uint32_t size) {
    uint8_t scratch[1024];
    for (uint32_t done = 0; done < size;) {
        const uint8_t* data = nullptr;
        uint32_t available = 0;
        if (!Obtain(&data, &available) && broken) return false;
        // Decoded into the caller's buffer, or for a skip into a scratch area.
        uint8_t* target = out ? out + done : scratch;
        uint32_t room = size - done;
        if (!out && room > sizeof scratch) room = sizeof scratch;
        uint32_t in = available;
        if (!decompressor.Decompress(data, &in, target, &room)) return Fail(decompressor.ErrorText());
        if (in) Consume(in);
        // The stored data ran out before the entry's size was decoded.
        if (in == 0 && room == 0) return Fail("compressed data ends early");
        done += room;
    }
    return true;
}

bool FileSystemContainerInputStream::FinishCodedStream() {
    // The end of the stream and its check value follow the last byte, possibly in a
    // read-ahead buffer still to come.
    uint8_t beyond[16];
    while (!decompressor.Finished()) {
        const uint8_t* data = nullptr;
        uint32_t available = 0;
        if (!Obtain(&data, &available)) return broken ? false : Fail("compressed stream does not end with the entry");
        uint32_t in = available, made = sizeof beyond;
        if (!decompressor.Decompress(data, &in, beyond, &made)) return Fail(decompressor.ErrorText());
        if (made) return Fail("compressed stream decodes past the entry's size");
        if (in == 0) return Fail("compressed stream does not end with the entry");
        Consume(in);
    }
    return true;
}
