#pragma once
// ResourceSound (type 4): the whole data of a sound file in a chunk of the sound memory
// pool, in the data kind "sounds".
//  - ".ogg": the whole Ogg Vorbis file (kind 4).
//  - ".wav": the sibling with the extension "adpcm" when it exists, else the WAV itself
//    (with a warning about its size), parsed as RIFF WAVE (PCM kind 1, MS-ADPCM kind 2)
//    or RIFF XWMA with an optional "dpds" packet table (kind 3).
// The sound thread reads the format, the data and the packet table once the state is 2.
#include <cstdint>

#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

class SoundMemoryChunk;

enum SoundFormatKind : uint32_t {
    SOUND_FORMAT_NONE = 0,
    SOUND_FORMAT_PCM = 1,
    SOUND_FORMAT_ADPCM = 2,
    SOUND_FORMAT_XWMA = 3,
    SOUND_FORMAT_OGG = 4
};

// The layout of a WAVEFORMATEX: the 16 bytes of the "fmt " chunk, extra size 0.
struct SoundWaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSecond;
    uint32_t averageBytesPerSecond;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
};

class ResourceSound : public Resource {
public:
    explicit ResourceSound(const char* name) : Resource(name) {}
    // Detaches the chunk and returns it to the sound memory pool.
    ~ResourceSound() override;

    uint32_t GetResourceType() const override { return RESOURCE_SOUND; }
    void PreheatResource() override;
    bool LoadResource() override;

    uint32_t FormatKind() const { return formatKind; }
    const SoundWaveFormat& WaveFormat() const { return waveFormat; }
    const uint8_t* Data() const { return data; }
    uint32_t DataSize() const { return dataSize; }
    const uint8_t* PacketTable() const { return packetTable; }
    uint32_t PacketTableSize() const { return packetTableSize; }
    SoundMemoryChunk* Chunk() const { return chunk; }

private:
    // The file read into a new chunk; false (one line for a full pool) on failure.
    bool ReadIntoChunk(class FileReader& reader);
    bool ParseWave();
    void ReleaseData();

    uint32_t formatKind = SOUND_FORMAT_NONE;
    SoundMemoryChunk* chunk = nullptr;
    SoundWaveFormat waveFormat{};
    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    const uint8_t* packetTable = nullptr;
    uint32_t packetTableSize = 0;
};

// Creating the pool prepares the sound memory pool; destroying it frees that pool.
class ResourceSoundPool : public ResourcePool {
public:
    ResourceSoundPool();
    ~ResourceSoundPool() override;
    Resource* CreateResource(const char* name, uint32_t parameter) override { return new ResourceSound(name); }
    void LogMemory() override;
};
