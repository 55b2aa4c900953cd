// Fuzz target for LZX decoding. The first input byte picks the path:
//  - even: the container frame layer (LzxFrameDecoder), fed in chunks and drained
//    into destinations whose sizes come from the second byte;
//  - odd: LzxDecoder directly, with window 2^(15 + (byte >> 1) % 7), over records
//    [u16 compressed size][u16 expanded size][compressed bytes] (little-endian).
// test-sources: support/LzxTestEncoder.cpp
// test-link: mspack
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/fs/LzxFrameDecoder.h"
#include "core/fs/support/LzxTestEncoder.h"

namespace {

void FrameLayer(const uint8_t* data, size_t size, uint32_t seed) {
    LzxFrameDecoder d;
    static uint8_t out[70000];
    uint32_t s = seed * 2654435761u + 1;
    size_t pos = 0;
    for (int calls = 0; calls < 100000; ++calls) {
        s = s * 1103515245u + 12345u;
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(size - pos, 1 + (s >> 8) % 40000));
        uint32_t used = chunk, made = (s >> 4) % sizeof out;
        const LzxResult r = d.Decompress(data + pos, &used, out, &made);
        if (used > chunk || made > sizeof out) __builtin_trap();
        pos += used;
        if (r != kLzxOk || (!used && !made && pos == size)) break;
    }
}

void Direct(const uint8_t* data, size_t size, uint32_t windowBits) {
    const LzxCodecParams params{0, 1u << windowBits, 1u << windowBits};
    LzxDecoder* d = nullptr;
    if (LzxDecoder::Create(kLzxCodec, &params, &d) != kLzxOk) __builtin_trap();
    static uint8_t out[kLzxFrameSize];
    size_t pos = 0;
    while (size - pos >= 4) {
        const uint32_t compressed = data[pos] | data[pos + 1] << 8;
        uint32_t expanded = data[pos + 2] | data[pos + 3] << 8;
        pos += 4;
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(compressed, size - pos));
        // An exact-size copy, so reading past the frame is caught.
        std::vector<uint8_t> frame(data + pos, data + pos + n);
        pos += n;
        if (expanded > kLzxFrameSize) expanded = kLzxFrameSize;
        const uint32_t asked = expanded;
        const LzxResult r = LzxDecoder::Decompress(d, out, &expanded, frame.data(), n);
        if (r == kLzxOk ? expanded != asked : expanded != 0) __builtin_trap();
        if (r != kLzxOk) break;
    }
    LzxDecoder::Destroy(d);
}

void AddDirectSeed(void (*add)(const uint8_t*, size_t), const LzxTestFrames& f, uint8_t mode) {
    std::vector<uint8_t> in{mode};
    for (size_t i = 0; i < f.compressed.size(); ++i) {
        const uint32_t c = static_cast<uint32_t>(f.compressed[i].size()), e = f.expanded[i];
        in.insert(in.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(e), uint8_t(e >> 8)});
        in.insert(in.end(), f.compressed[i].begin(), f.compressed[i].end());
    }
    add(in.data(), in.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    if (data[0] & 1) Direct(data + 1, size - 1, 15 + (data[0] >> 1) % 7);
    else FrameLayer(data + 2, size - 2, data[1]);
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const LzxTestBlock kPlans[][3] = {{{1, 1u << 20}, {1, 1}, {1, 1}},
                                      {{2, 20000}, {3, 777}, {1, 9000}},
                                      {{3, 1001}, {2, 40000}, {1, 3}}};
    uint32_t seed = 1;
    for (const auto& plan : kPlans) {
        for (int32_t e8 : {0, 12000000}) {
            LzxTestOptions o;
            o.blocks.assign(plan, plan + 3);
            o.e8Size = e8;
            const std::vector<uint8_t> data = LzxTestData(20000 + 15000 * seed, seed);
            const LzxTestFrames f = LzxTestEncode(data, o);
            std::vector<uint8_t> stream = LzxTestFrameStream(f);
            stream.insert(stream.begin(), {0, static_cast<uint8_t>(seed)});
            add(stream.data(), stream.size());
            AddDirectSeed(add, f, 1 + 2 * 1);  // window 2^16
            o.windowBits = 15 + seed % 7;
            AddDirectSeed(add, LzxTestEncode(data, o), static_cast<uint8_t>(1 + 2 * (seed % 7)));
            ++seed;
        }
    }
}
