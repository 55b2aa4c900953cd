#include "core/fs/BlockDecompressor.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "core/fs/LzxFrameDecoder.h"

namespace {
// 15-bit window with automatic zlib/gzip header detection (15 + 32). The original
// asked for both wrappings; 15 + 16 would accept gzip only.
constexpr int kZlibWindowBits = 15 + 32;
}  // namespace

BlockDecompressor::BlockDecompressor(uint32_t decoderKind) : kind(decoderKind) {
    if (kind == 1) {
        auto* z = new z_stream;
        std::memset(z, 0, sizeof *z);
        if (inflateInit2(z, kZlibWindowBits) != Z_OK) {
            delete z;
            failed = true;
            error = "cannot set up the zlib decoder";
            return;
        }
        zlibStream = z;
    } else if (kind == 2) {
        auto* d = new (std::nothrow) LzxFrameDecoder;
        if (!d || !d->IsValid()) {  // the frame decoder logged why
            delete d;
            failed = true;
            error = "cannot set up the LZX decoder";
            return;
        }
        lzx = d;
    } else if (kind != 0) {
        failed = true;
        error = "unknown compression kind";
    }
}

BlockDecompressor::~BlockDecompressor() {
    if (zlibStream) {
        auto* z = static_cast<z_stream*>(zlibStream);
        inflateEnd(z);
        delete z;
    }
    delete lzx;
}

bool BlockDecompressor::Decompress(const uint8_t* source, uint32_t* sourceSize, uint8_t* destination, uint32_t* destinationSize) {
    const uint32_t in = sourceSize ? *sourceSize : 0;
    const uint32_t room = destinationSize ? *destinationSize : 0;
    if (sourceSize) *sourceSize = 0;
    if (destinationSize) *destinationSize = 0;
    if (failed) return false;
    if ((in && !source) || (room && !destination)) return false;
    if (kind == 0) {
        const uint32_t n = in < room ? in : room;
        if (n) std::memcpy(destination, source, n);
        *sourceSize = *destinationSize = n;
        return true;
    }
    if (kind == 2) {
        // The frame decoder keeps partial frames and undelivered output itself, so it
        // takes every call, drains (no input) included.
        if (sourceSize) *sourceSize = in;
        if (destinationSize) *destinationSize = room;
        const LzxResult r = lzx->Decompress(source, sourceSize, destination, destinationSize);
        finished = lzx->Finished();
        if (r != kLzxOk) {
            failed = true;
            error = "corrupt LZX data";
            return false;
        }
        return true;
    }
    // zlib: sync flush hands out everything decodable from the input so far.
    auto* z = static_cast<z_stream*>(zlibStream);
    if (finished || room == 0) return true;  // data after the end of the stream is ignored
    z->next_in = const_cast<Bytef*>(source);
    z->avail_in = in;
    z->next_out = destination;
    z->avail_out = room;
    const int result = inflate(z, Z_SYNC_FLUSH);
    *sourceSize = in - z->avail_in;
    *destinationSize = room - z->avail_out;
    if (result == Z_STREAM_END) {
        finished = true;
        return true;
    }
    if (result == Z_OK || result == Z_BUF_ERROR) return true;
    failed = true;
    std::snprintf(zlibMessage, sizeof zlibMessage, "corrupt zlib data (%s)", z->msg ? z->msg : "no message");
    error = zlibMessage;
    return false;
}
