#include "core/fs/ContainerIndex.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FsUtil.h"
#include "platform/os/File.h"

uint32_t MurmurHash2(const void* data, uint32_t length, uint32_t seed, uint32_t m) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t h = seed ^ length;
    uint32_t left = length;
    while (left >= 4) {
        uint32_t k = fs::LoadLE32(p);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h *= m;
        h ^= k;
        p += 4;
        left -= 4;
    }
    switch (left) {
    case 3:
        h ^= uint32_t(p[2]) << 16;
        [[fallthrough]];
    case 2:
        h ^= uint32_t(p[1]) << 8;
        [[fallthrough]];
    case 1:
        h ^= p[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

ContainerIndex::~ContainerIndex() { EngineFree(entries); }

bool ContainerIndex::Load(const char* indexPath) {
    std::FILE* file = os::OpenFile(indexPath, "rb");
    if (!file) return false;
    const int64_t size = os::GetOpenFileSize(file);
    // Read only as much as the header says, once it proved to fit the real file size.
    uint8_t header[kContainerIndexHeader];
    if (size < int64_t(kContainerIndexHeader) || std::fread(header, 1, sizeof header, file) != sizeof header) {
        os::CloseFile(file);
        return LoadFromMemory(header, 0, indexPath);
    }
    const bool big = header[1] == 1 || header[1] == 5;
    const uint32_t n = big ? fs::LoadBE32(header + 3) : fs::LoadLE32(header + 3);
    uint64_t want = kContainerIndexHeader;
    if (header[0] == 0 && uint64_t(n) * kContainerIndexEntry <= uint64_t(size) - kContainerIndexHeader)
        want += uint64_t(n) * kContainerIndexEntry;
    auto* data = static_cast<uint8_t*>(EngineAlloc(static_cast<size_t>(want)));
    if (!data) {
        os::CloseFile(file);
        gLog.Error(LogCategory::FileSystem, "ContainerIndex::Load - out of memory for %s", indexPath);
        return false;
    }
    std::memcpy(data, header, sizeof header);
    const size_t body = static_cast<size_t>(want - kContainerIndexHeader);
    const size_t got = body ? std::fread(data + kContainerIndexHeader, 1, body, file) : 0;
    os::CloseFile(file);
    const bool ok = LoadFromMemory(data, kContainerIndexHeader + got, indexPath);
    EngineFree(data);
    return ok;
}

bool ContainerIndex::LoadFromMemory(const uint8_t* data, uint64_t size, const char* name) {
    if (!name) name = "";
    if (!data || size < kContainerIndexHeader) {
        gLog.Error(LogCategory::FileSystem, "ContainerIndex::Load - truncated index file %s", name);
        return false;
    }
    const uint8_t version = data[0];
    const uint8_t tag = data[1];
    const bool big = tag == 1 || tag == 5;
    auto word = [big](const uint8_t* p) { return big ? fs::LoadBE32(p) : fs::LoadLE32(p); };
    if (version != 0) {
        gLog.Error(LogCategory::FileSystem, "wrong index file version");
        return false;
    }
    const uint32_t n = word(data + 3);
    if (uint64_t(n) * kContainerIndexEntry > size - kContainerIndexHeader) {
        gLog.Error(LogCategory::FileSystem, "ContainerIndex::Load - %u entries do not fit index file %s", n, name);
        return false;
    }
    ContainerIndexEntry* loaded = nullptr;
    if (n) {
        loaded = static_cast<ContainerIndexEntry*>(EngineAlloc(sizeof(ContainerIndexEntry) * n));
        if (!loaded) {
            gLog.Error(LogCategory::FileSystem, "ContainerIndex::Load - out of memory for %s", name);
            return false;
        }
    }
    const uint8_t* p = data + kContainerIndexHeader;
    for (uint32_t i = 0; i < n; ++i, p += kContainerIndexEntry) {
        loaded[i].hash = word(p);
        loaded[i].offset = word(p + 4);
        loaded[i].size = word(p + 8);
        loaded[i].storedSize = word(p + 12);
        loaded[i].compressed = p[16];
    }
    EngineFree(entries);
    entries = loaded;
    count = n;
    seed = word(data + 7);
    platformTag = tag;
    compression = data[2];
    bigEndian = big;
    return true;
}

bool ContainerIndex::Find(const char* path, ContainerIndexEntry* out) const {
    if (!path || !entries) return false;
    if (*path) ++path;  // the mount point hands over "/rest"
    char lower[kContainerMaxHashedPath + 1];
    uint32_t n = 0;
    for (; path[n] && n < kContainerMaxHashedPath; ++n) lower[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[n])));
    lower[n] = 0;
    const uint32_t hash = MurmurHash2(lower, n, seed, multiplier);
    const ContainerIndexEntry* at = std::lower_bound(
        entries, entries + count, hash, [](const ContainerIndexEntry& e, uint32_t h) { return e.hash < h; });
    if (at == entries + count || at->hash != hash) return false;
    if (out) *out = *at;
    return true;
}

uint64_t ContainerDecodedSizeBound(uint8_t compression, uint32_t storedSize) {
    switch (compression) {
    case CONTAINER_COMPRESSION_ZLIB:
        // Deflate's densest code spends 2 bits on a 258-byte match; the wrapper and
        // block headers only lower the ratio. The constant covers tiny streams.
        return uint64_t(storedSize) * kZlibMaxExpansion + kZlibMaxExpansion;
    case CONTAINER_COMPRESSION_LZX:
        // Every frame has a header of at least 2 bytes and expands to at most 32768.
        return (uint64_t(storedSize) / 2 + 1) * kLzxFrameBytes;
    default:
        return storedSize;
    }
}

uint32_t ContainerIndex::DropUnreadableEntries(uint64_t dataSize, const char* name) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ContainerIndexEntry& e = entries[i];
        const bool uncoded = !e.compressed || compression == CONTAINER_COMPRESSION_NONE;
        const uint64_t bound = ContainerDecodedSizeBound(uncoded ? uint8_t(CONTAINER_COMPRESSION_NONE) : compression, e.storedSize);
        const bool inFile = uint64_t(e.offset) + e.storedSize <= dataSize;
        if (inFile && e.size <= bound) {
            entries[kept++] = e;
            continue;
        }
        if (inFile && !uncoded) {
            gLog.Error(LogCategory::FileSystem,
                       "ContainerIndex - entry %08X of %s claims %u bytes, more than its %u stored bytes can decode to (%llu)",
                       e.hash, name ? name : "", e.size, e.storedSize, static_cast<unsigned long long>(bound));
            continue;
        }
        gLog.Error(LogCategory::FileSystem,
                   "ContainerIndex - entry %08X of %s (offset %u, %u stored bytes, size %u) cannot be read from its %llu-byte data file",
                   e.hash, name ? name : "", e.offset, e.storedSize, e.size, static_cast<unsigned long long>(dataSize));
    }
    const uint32_t dropped = count - kept;
    count = kept;
    return dropped;
}
