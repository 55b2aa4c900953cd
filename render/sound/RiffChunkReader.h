#pragma once
// RiffChunkReader: walks the chunks of a RIFF file held in memory. A chunk header is 8
// bytes (four-character id, u32 size, little-endian); a chunk's data is skipped by its
// size exactly (odd sizes are not padded). Bounded: it never reads past the buffer.
#include <cstdint>

// A four-character id as the little-endian u32 the reader returns.
constexpr uint32_t RiffFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

class RiffChunkReader {
public:
    RiffChunkReader(const uint8_t* data, uint32_t size) : data(data), totalSize(size) {}

    // With skipCurrent, first moves past the current chunk's data. 0 when fewer than 8
    // bytes remain (or the skip runs past the end); else reads the next header, makes it
    // current and returns its id. The position is then at the chunk's data.
    uint32_t Next(bool skipCurrent);
    // Reads a u32 at the position and moves past it (the form type after "RIFF"); false
    // when fewer than 4 bytes remain.
    bool ReadU32(uint32_t* value);

    uint32_t ChunkId() const { return chunkId; }
    uint32_t ChunkSize() const { return chunkSize; }
    uint32_t Position() const { return position; }
    uint32_t Left() const { return totalSize - position; }
    // True when the current chunk's data lies wholly inside the buffer.
    bool ChunkFits() const { return chunkSize <= Left(); }
    const uint8_t* ChunkData() const { return data + position; }

private:
    const uint8_t* data;
    uint32_t totalSize;
    uint32_t position = 0;
    uint32_t chunkSize = 0;
    uint32_t chunkId = 0;
};
