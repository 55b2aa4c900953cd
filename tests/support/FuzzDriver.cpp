// Replay-and-mutate driver for fuzz targets, so that every target runs as a bounded,
// deterministic CTest test with the ordinary compiler. A target defines
// LLVMFuzzerTestOneInput and may define FuzzSeeds to hand over well-formed inputs
// (made by the engine's own writers); the driver runs each seed, then mutations of
// them (bit flips, byte changes, cuts, splices, inserted bytes) and random inputs.
//
// Arguments: [iterations] [seed]. FUZZ_ITERATIONS in the environment overrides the
// default count. A file path argument replays that one input (for reproducing).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);
extern "C" void FuzzSeeds(FuzzAddSeed add) __attribute__((weak));
// libFuzzer's set-up hook: a target that needs the program's start-up runs it here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

std::vector<std::vector<uint8_t>> gSeeds;

void AddSeed(const uint8_t* data, size_t size) { gSeeds.emplace_back(data, data + size); }

struct Lcg {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
};

void Mutate(std::vector<uint8_t>& in, Lcg& rng) {
    const int edits = 1 + static_cast<int>(rng.Below(4));
    for (int e = 0; e < edits; ++e) {
        switch (rng.Below(7)) {
        case 0:
            if (!in.empty()) in[rng.Below(static_cast<uint32_t>(in.size()))] ^= static_cast<uint8_t>(1u << rng.Below(8));
            break;
        case 1:
            if (!in.empty()) in[rng.Below(static_cast<uint32_t>(in.size()))] = static_cast<uint8_t>(rng.Next());
            break;
        case 2:
            if (!in.empty()) in.resize(rng.Below(static_cast<uint32_t>(in.size())));
            break;
        case 3: {
            const size_t at = rng.Below(static_cast<uint32_t>(in.size() + 1));
            const size_t n = 1 + rng.Below(16);
            for (size_t i = 0; i < n; ++i) in.insert(in.begin() + static_cast<long>(at), static_cast<uint8_t>(rng.Next()));
            break;
        }
        case 4:  // interesting values at a random 32-bit position
            if (in.size() >= 4) {
                static const uint32_t kValues[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFu, 0x10000u};
                const uint32_t v = kValues[rng.Below(7)];
                std::memcpy(&in[rng.Below(static_cast<uint32_t>(in.size() - 3))], &v, 4);
            }
            break;
        case 5:
            if (!gSeeds.empty()) {  // splice another seed's tail
                const auto& other = gSeeds[rng.Below(static_cast<uint32_t>(gSeeds.size()))];
                const size_t cut = rng.Below(static_cast<uint32_t>(in.size() + 1));
                const size_t from = rng.Below(static_cast<uint32_t>(other.size() + 1));
                in.resize(cut);
                in.insert(in.end(), other.begin() + static_cast<long>(from), other.end());
            }
            break;
        default:
            if (in.size() > 1) {  // duplicate a block
                const size_t from = rng.Below(static_cast<uint32_t>(in.size()));
                const size_t n = 1 + rng.Below(static_cast<uint32_t>(in.size() - from));
                std::vector<uint8_t> block(in.begin() + static_cast<long>(from), in.begin() + static_cast<long>(from + n));
                in.insert(in.begin() + static_cast<long>(rng.Below(static_cast<uint32_t>(in.size()))), block.begin(), block.end());
            }
            break;
        }
    }
}

}  // namespace

// --write-seeds DIR: writes the target's seeds as files, the starting corpus of a
// coverage-guided run of the same target.
static int WriteSeeds(const char* folder) {
    if (FuzzSeeds) FuzzSeeds(AddSeed);
    for (size_t i = 0; i < gSeeds.size(); ++i) {
        char path[4096];
        std::snprintf(path, sizeof path, "%s/seed-%04zu", folder, i);
        FILE* f = std::fopen(path, "wb");
        if (!f) {
            std::perror(path);
            return 2;
        }
        const bool ok = std::fwrite(gSeeds[i].data(), 1, gSeeds[i].size(), f) == gSeeds[i].size();
        if (std::fclose(f) != 0 || !ok) return 2;
    }
    std::printf("wrote %zu seeds\n", gSeeds.size());
    return 0;
}

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    if (argc == 3 && std::strcmp(argv[1], "--write-seeds") == 0) return WriteSeeds(argv[2]);
    if (argc == 2 && std::strtol(argv[1], nullptr, 10) == 0 && argv[1][0] != '0') {
        FILE* f = std::fopen(argv[1], "rb");
        if (!f) { std::perror(argv[1]); return 2; }
        std::vector<uint8_t> in;
        uint8_t buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) in.insert(in.end(), buf, buf + n);
        std::fclose(f);
        LLVMFuzzerTestOneInput(in.data(), in.size());
        std::puts("replayed 1 input");
        return 0;
    }
    long iterations = 3000;
    if (const char* env = std::getenv("FUZZ_ITERATIONS")) iterations = std::strtol(env, nullptr, 10);
    if (argc > 1) iterations = std::strtol(argv[1], nullptr, 10);
    Lcg rng{argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0x5EEDull};

    if (FuzzSeeds) FuzzSeeds(AddSeed);
    for (const auto& s : gSeeds) LLVMFuzzerTestOneInput(s.data(), s.size());

    std::vector<uint8_t> in;
    for (long i = 0; i < iterations; ++i) {
        if (!gSeeds.empty() && rng.Below(8) != 0) {
            in = gSeeds[rng.Below(static_cast<uint32_t>(gSeeds.size()))];
            Mutate(in, rng);
        } else {
            in.resize(rng.Below(512));
            for (auto& b : in) b = static_cast<uint8_t>(rng.Next());
        }
        LLVMFuzzerTestOneInput(in.data(), in.size());
    }
    std::printf("fuzz: %zu seeds, %ld mutated or random inputs, no fault\n", gSeeds.size(), iterations);
    return 0;
}
