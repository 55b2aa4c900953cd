#pragma once
// The index of one container file (extension idx): an 11-byte header {u8 version 0,
// u8 platform tag, u8 compression kind, u32 count, u32 seed} and count 17-byte entries
// {u32 hash, u32 offset, u32 size, u32 stored size, u8 compressed} sorted by hash.
// Platform tags 1 and 5 store the words big-endian, every other tag little-endian.
// A path is found by the MurmurHash2 of its lower-case text.
#include <cstdint>

constexpr uint32_t kContainerIndexHeader = 11;
constexpr uint32_t kContainerIndexEntry = 17;
constexpr uint32_t kContainerMaxHashedPath = 2047;
// A container mount holds at most this many containers: the base file and its extras.
constexpr uint32_t MAX_CONTAINER_FILE_NUM = 4;
// Data kinds 0 .. 10 each own a row of kept-open container files in the reader;
// kContainerNoDataKind (and anything above) means none: such reads open their file.
constexpr uint32_t kContainerDataKinds = 11;
constexpr uint32_t kContainerNoDataKind = 11;

enum : uint8_t { CONTAINER_COMPRESSION_NONE = 0, CONTAINER_COMPRESSION_ZLIB = 1, CONTAINER_COMPRESSION_LZX = 2 };

struct ContainerIndexEntry {
    uint32_t hash;
    uint32_t offset;      // of the data in the ".dat" file
    uint32_t size;        // of the contents after decoding
    uint32_t storedSize;  // bytes in the ".dat" file
    uint8_t compressed;   // non-zero: coded with the container's compression kind
};

// Largest contents that storedSize bytes of the given compression kind can decode to
// (uncoded: storedSize itself). Deflate expands at most about 1032:1; an LZX frame of
// at most 32768 bytes has a header of at least 2 bytes.
constexpr uint32_t kZlibMaxExpansion = 1032;
constexpr uint32_t kLzxFrameBytes = 32768;
uint64_t ContainerDecodedSizeBound(uint8_t compression, uint32_t storedSize);

// Standard MurmurHash2 (r = 24) with a caller-given multiplier; words little-endian.
uint32_t MurmurHash2(const void* data, uint32_t length, uint32_t seed, uint32_t multiplier);

class ContainerIndex {
public:
    ContainerIndex() = default;
    ~ContainerIndex();
    ContainerIndex(const ContainerIndex&) = delete;
    ContainerIndex& operator=(const ContainerIndex&) = delete;

    // Replaces the entries with those of the file; false (old entries kept) when the
    // file is missing, truncated, of another version or claims more entries than it
    // holds. Every failure but a missing file logs one line (category 10).
    bool Load(const char* indexPath);
    // Loads from memory (the same checks; used by Load and by the fuzz target).
    bool LoadFromMemory(const uint8_t* data, uint64_t size, const char* nameForMessages);
    // The path starts with '/', which is skipped; the rest is lower-cased.
    bool Find(const char* path, ContainerIndexEntry* out) const;
    // Drops every entry that its data file of dataSize bytes cannot serve: stored bytes
    // past the end of the file, or contents larger than their stored bytes can decode
    // to (ContainerDecodedSizeBound). One error line names each; returns how many went.
    uint32_t DropUnreadableEntries(uint64_t dataSize, const char* indexPathForMessages);

    void SetMultiplier(uint32_t m) { multiplier = m; }
    uint32_t Count() const { return count; }
    uint32_t Seed() const { return seed; }
    uint8_t PlatformTag() const { return platformTag; }
    uint8_t Compression() const { return compression; }
    bool IsBigEndian() const { return bigEndian; }
    const ContainerIndexEntry* Entries() const { return entries; }

private:
    ContainerIndexEntry* entries = nullptr;
    uint32_t count = 0;
    uint32_t seed = 0;
    uint32_t multiplier = 0x5BD1E995;
    uint8_t platformTag = 0;
    uint8_t compression = 0;
    bool bigEndian = false;
};
