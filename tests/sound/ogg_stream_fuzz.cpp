// Fuzz target: OGGStream over SoundStreamStaticDataSource, as a static Ogg sound uses
// them: the bytes arrive as chunks, the stream is opened, read to its end in blocks,
// then re-opened on a second copy of the data and read again.
//
// Input: byte 0 gives the split count (bits 0-2) and the read block (bits 3-7: 1 <<
// (4 + n % 11) bytes); the next `count` bytes place the splits (fractions of the rest);
// the rest is the file. Seeds are small oggenc files (mono, stereo, and two files of
// different rates chained).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/SoundStream.h"

namespace {

constexpr uint64_t kMaxDecodedBytes = 8u << 20;  // a bound on one input's work

uint64_t ReadToEnd(OGGStream& stream, uint32_t block) {
    std::vector<uint8_t> buffer(block);
    uint64_t total = 0;
    for (uint32_t n; total < kMaxDecodedBytes && (n = stream.Read(buffer.data(), block)) > 0;) {
        if (n > block || n % stream.Format().blockAlign != 0) __builtin_trap();  // whole frames, inside the buffer
        total += n;
    }
    return total;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t splits = data[0] & 7;
    const uint32_t block = 1u << (4 + (data[0] >> 3) % 11);
    if (size < 1 + splits) return 0;
    const uint8_t* file = data + 1 + splits;
    const uint32_t length = uint32_t(std::min<size_t>(size - 1 - splits, UINT32_MAX));
    std::vector<uint32_t> cuts = {0, length};
    for (uint32_t i = 0; i < splits; ++i) cuts.push_back(uint32_t(uint64_t(length) * data[1 + i] / 256));
    std::sort(cuts.begin(), cuts.end());

    SoundStreamStaticDataSource source;
    OGGStream stream(&source);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i + 1 < cuts.size(); ++i) source.AddChunk(file + cuts[i], cuts[i + 1] - cuts[i]);
        if (stream.Open()) {
            const audio::WaveFormat& f = stream.Format();
            if (f.channels == 0 || f.sampleRate == 0 || f.blockAlign != f.channels * 2) __builtin_trap();
            ReadToEnd(stream, block);
        } else if (stream.Read(nullptr, 16) != 0) {
            __builtin_trap();  // a stream that did not open reads nothing
        }
        // What the first pass left unread is drained, so the re-open starts on the copy.
        std::vector<uint8_t> rest(4096);
        while (source.Read(rest.data(), uint32_t(rest.size())) > 0) {}
    }
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    char pattern[] = "/tmp/ogg_fuzz_XXXXXX";
    if (!mkdtemp(pattern)) return;
    const std::string dir = pattern;
    auto make = [&](const std::string& name, const std::string& format, int frequency) {
        const std::string wav = dir + "/" + name + ".wav", ogg = dir + "/" + name + ".ogg";
        const std::string command = "sox -n " + format + " '" + wav + "' synth 0.05 sine " + std::to_string(frequency) +
                                    " >/dev/null 2>&1 && oggenc -Q -o '" + ogg + "' '" + wav + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? ReadFile(ogg) : std::vector<uint8_t>();
    };
    const std::vector<uint8_t> mono = make("mono", "-r 8000 -c 1 -b 16", 440);
    const std::vector<uint8_t> stereo = make("stereo", "-r 22050 -c 2 -b 16", 660);
    std::vector<uint8_t> chained = mono;
    chained.insert(chained.end(), stereo.begin(), stereo.end());
    const std::vector<uint8_t>* files[] = {&mono, &stereo, &chained};
    for (const std::vector<uint8_t>* f : files) {
        if (f->empty()) continue;
        std::vector<uint8_t> seed = {uint8_t(7 << 3)};  // whole, read in 2048-byte blocks
        seed.insert(seed.end(), f->begin(), f->end());
        add(seed.data(), seed.size());
        std::vector<uint8_t> split = {uint8_t(3 | (2 << 3)), 40, 128, 250};  // three cuts, 64-byte blocks
        split.insert(split.end(), f->begin(), f->end());
        add(split.data(), split.size());
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}
