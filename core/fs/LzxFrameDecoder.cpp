// Frame layer of LZX container data; see LzxFrameDecoder.h for the stream layout and
// the call contract.
#include "core/fs/LzxFrameDecoder.h"

#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"

namespace {
constexpr uint8_t kLastFrameMark = 0xFF;
}  // namespace

LzxFrameDecoder::LzxFrameDecoder() {
    const LzxCodecParams params{0, kWindowSize, kPartitionSize};
    LzxDecoder* made = nullptr;
    const LzxResult r = LzxDecoder::Create(kLzxCodec, &params, &made);
    frameBuffer = static_cast<uint8_t*>(EngineAlloc(kMaxCompressedFrame + kLzxFrameSize));
    if (r != kLzxOk || !frameBuffer) {
        gLog.Error(LogCategory::Engine, "LzxFrameDecoder - cannot create the LZX decoder (0x%08X)",
                   r != kLzxOk ? r : kLzxOutOfMemory);
        error = r != kLzxOk ? r : kLzxOutOfMemory;
        LzxDecoder::Destroy(made);
        return;
    }
    outputBuffer = frameBuffer + kMaxCompressedFrame;
    context = made;
}

LzxFrameDecoder::~LzxFrameDecoder() {
    LzxDecoder::Destroy(context);
    EngineFree(frameBuffer);
}

LzxResult LzxFrameDecoder::Fail(LzxResult code) {
    if (code == kLzxCorruptData)
        gLog.Warning(LogCategory::Engine, "LzxFrameDecoder::Decompress - corrupt LZX data in frame %u", frameIndex);
    error = code;
    return code;
}

LzxResult LzxFrameDecoder::Decompress(const void* source, uint32_t* sourceSize, void* destination,
                                      uint32_t* destinationSize) {
    const uint8_t* in = static_cast<const uint8_t*>(source);
    uint32_t inLeft = sourceSize && in ? *sourceSize : 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t room = destinationSize && out ? *destinationSize : 0;
    uint32_t consumed = 0, produced = 0;
    LzxResult result = error;

    while (result == kLzxOk) {
        if (pendingCount) {
            const uint32_t n = pendingCount < room ? pendingCount : room;
            if (n) std::memcpy(out + produced, outputBuffer + pendingOffset, n);
            pendingOffset += n;
            pendingCount -= n;
            produced += n;
            room -= n;
            if (pendingCount) break;
        }
        if (lastFrameDone) {  // the stream is over; trailing bytes are ignored
            consumed += inLeft;
            break;
        }

        if (!headerComplete) {
            while (inLeft && (headerBytes == 0 || headerBytes < (header[0] == kLastFrameMark ? 5u : 2u))) {
                header[headerBytes++] = *in++;
                --inLeft;
                ++consumed;
            }
            if (headerBytes == 0 || headerBytes < (header[0] == kLastFrameMark ? 5u : 2u)) break;
            lastFrame = header[0] == kLastFrameMark;
            if (lastFrame) {
                expandedSize = uint32_t(header[1]) << 8 | header[2];
                compressedSize = uint32_t(header[3]) << 8 | header[4];
            } else {
                expandedSize = kLzxFrameSize;
                compressedSize = uint32_t(header[0]) << 8 | header[1];
            }
            if (expandedSize > kLzxFrameSize) {
                result = Fail(kLzxCorruptData);
                break;
            }
            headerComplete = true;
            gathered = 0;
        }

        const uint8_t* frame;
        if (gathered == 0 && inLeft >= compressedSize) {  // whole frame in the caller's chunk
            frame = in;
            in += compressedSize;
            inLeft -= compressedSize;
            consumed += compressedSize;
        } else {
            const uint32_t want = compressedSize - gathered;
            const uint32_t n = want < inLeft ? want : inLeft;
            if (n) std::memcpy(frameBuffer + gathered, in, n);
            gathered += n;
            in += n;
            inLeft -= n;
            consumed += n;
            if (gathered < compressedSize) break;
            frame = frameBuffer;
        }

        if (expandedSize) {
            const bool direct = room >= expandedSize;
            uint32_t size = expandedSize;
            const LzxResult r =
                LzxDecoder::Decompress(context, direct ? out + produced : outputBuffer, &size, frame, compressedSize);
            if (r != kLzxOk) {
                result = Fail(r);
                break;
            }
            if (direct) {
                produced += size;
                room -= size;
            } else {
                pendingOffset = 0;
                pendingCount = size;
            }
        }
        ++frameIndex;
        headerComplete = false;
        headerBytes = 0;
        if (lastFrame) lastFrameDone = true;
    }

    if (sourceSize) *sourceSize = consumed;
    if (destinationSize) *destinationSize = produced;
    return result;
}
