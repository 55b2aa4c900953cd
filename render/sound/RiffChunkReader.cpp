#include "render/sound/RiffChunkReader.h"

#include "core/fs/FsUtil.h"

namespace {
constexpr uint32_t kChunkHeader = 8;
}

uint32_t RiffChunkReader::Next(bool skipCurrent) {
    if (skipCurrent) {
        if (chunkSize > Left()) {
            position = totalSize;
            return 0;
        }
        position += chunkSize;
        chunkSize = 0;
    }
    if (Left() < kChunkHeader) return 0;
    chunkId = fs::LoadLE32(data + position);
    chunkSize = fs::LoadLE32(data + position + 4);
    position += kChunkHeader;
    return chunkId;
}

bool RiffChunkReader::ReadU32(uint32_t* value) {
    if (Left() < 4) return false;
    *value = fs::LoadLE32(data + position);
    position += 4;
    return true;
}
