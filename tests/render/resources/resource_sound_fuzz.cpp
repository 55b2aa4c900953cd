// Arbitrary bytes as a sound file (first byte: .wav or .adpcm); reads stay inside the chunk.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "render/sound/ResourceSound.h"
#include "render/sound/RiffChunkReader.h"
#include "render/sound/SoundMemoryPool.h"

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void Chunk(std::vector<uint8_t>& b, const char* id, const std::vector<uint8_t>& data) {
    b.insert(b.end(), id, id + 4);
    Put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
}

std::vector<uint8_t> Riff(const char* form, uint16_t tag, bool packets) {
    std::vector<uint8_t> fmt = {uint8_t(tag), uint8_t(tag >> 8), 1, 0};
    Put32(fmt, 8000);
    Put32(fmt, 16000);
    fmt.insert(fmt.end(), {2, 0, 16, 0});
    std::vector<uint8_t> body(form, form + 4);
    Chunk(body, "fmt ", fmt);
    if (packets) Chunk(body, "dpds", {1, 0, 0, 0, 2, 0, 0, 0});
    Chunk(body, "data", std::vector<uint8_t>(12, 0x55));
    std::vector<uint8_t> file;
    Chunk(file, "RIFF", body);
    return file;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const std::vector<uint8_t> seeds[] = {Riff("WAVE", 1, false), Riff("WAVE", 2, false), Riff("XWMA", 0x161, true),
                                          Riff("XWMA", 0x161, false), Riff("WAVE", 3, false)};
    uint8_t selector = 0;
    for (const auto& s : seeds) {
        std::vector<uint8_t> input = {selector++};
        input.insert(input.end(), s.begin(), s.end());
        add(input.data(), input.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gSoundMemoryPool->Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string& folder = resourcefuzz::MountedFolder("sounds");
    const bool adpcm = data[0] & 1;
    std::remove((folder + "/fuzz.adpcm").c_str());
    resourcefuzz::WriteInput(folder + (adpcm ? "/fuzz.adpcm" : "/fuzz.wav"), data + 1, size - 1);
    {
        ResourceSound sound("fuzz.wav");
        const bool loaded = sound.LoadResource();
        if (loaded) {
            const auto* base = static_cast<const uint8_t*>(gSoundMemoryPool->GetChunkAddress(sound.Chunk()));
            const uint8_t* end = base + (size - 1);
            if (sound.Data() < base || sound.Data() + sound.DataSize() > end) __builtin_trap();
            if (sound.PacketTable() && sound.PacketTable() + sound.PacketTableSize() > end) __builtin_trap();
        } else if (sound.Chunk()) {
            __builtin_trap();  // a failed load keeps no chunk
        }
    }
    // Every chunk went back: the pool is one free block again.
    if (!gSoundMemoryPool->FirstChunk() || gSoundMemoryPool->FirstChunk()->next) __builtin_trap();
    return 0;
}
