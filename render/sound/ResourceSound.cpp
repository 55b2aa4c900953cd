#include "render/sound/ResourceSound.h"

#include <cstring>

#include "core/Log.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "render/resources/ResourceManager.h"
#include "render/sound/RiffChunkReader.h"
#include "render/sound/SoundMemoryPool.h"

namespace {
constexpr const char* kSoundDirectory = "sounds";
constexpr uint32_t kWaveFormatBytes = 16;
constexpr uint32_t kRiff = RiffFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kWave = RiffFourCC('W', 'A', 'V', 'E');
constexpr uint32_t kXwma = RiffFourCC('X', 'W', 'M', 'A');
constexpr uint32_t kFmt = RiffFourCC('f', 'm', 't', ' ');
constexpr uint32_t kData = RiffFourCC('d', 'a', 't', 'a');
constexpr uint32_t kDpds = RiffFourCC('d', 'p', 'd', 's');

enum class Extension { Other, Ogg, Wav };

Extension ExtensionOf(const char* name) {
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    if (!dot) return Extension::Other;
    if (fs::CompareNoCase(dot, ".ogg") == 0) return Extension::Ogg;
    if (fs::CompareNoCase(dot, ".wav") == 0) return Extension::Wav;
    return Extension::Other;
}

uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// The "fmt " chunk's first 16 bytes; false when the chunk is shorter or runs past the
// end.
bool ReadWaveFormat(const RiffChunkReader& riff, SoundWaveFormat* format) {
    if (riff.ChunkSize() < kWaveFormatBytes || !riff.ChunkFits()) return false;
    const uint8_t* p = riff.ChunkData();
    format->formatTag = Load16(p);
    format->channels = Load16(p + 2);
    format->samplesPerSecond = fs::LoadLE32(p + 4);
    format->averageBytesPerSecond = fs::LoadLE32(p + 8);
    format->blockAlign = Load16(p + 12);
    format->bitsPerSample = Load16(p + 14);
    format->extraSize = 0;
    return true;
}
}  // namespace

ResourceSound::~ResourceSound() { ReleaseData(); }

void ResourceSound::ReleaseData() {
    if (chunk) {
        chunk->owner = nullptr;
        if (gSoundMemoryPool) gSoundMemoryPool->ReleaseChunk(chunk);
    }
    chunk = nullptr;
    data = packetTable = nullptr;
    dataSize = packetTableSize = 0;
    formatKind = SOUND_FORMAT_NONE;
    size = 0;
}

void ResourceSound::PreheatResource() {
    const char* name = GetName();
    char base[kMaxResourceName + 1];
    switch (ExtensionOf(name)) {
    case Extension::Ogg:
        gFileSystem.SetPreheatFile(name, nullptr, kSoundDirectory, 0);
        break;
    case Extension::Wav:
        if (ResourceBaseName(name, base)) gFileSystem.SetPreheatFile(base, "adpcm", kSoundDirectory, 0);
        break;
    default:
        break;
    }
}

bool ResourceSound::ReadIntoChunk(FileReader& reader) {
    const uint32_t fileSize = reader.GetSize();
    chunk = gSoundMemoryPool ? static_cast<SoundMemoryChunk*>(gSoundMemoryPool->Alloc(fileSize, -1)) : nullptr;
    if (!chunk) {
        gLog.Error(LogCategory::Sound,
                   "Out of sound memory. Please doublecheck that you're using ADPCM compression instead of raw WAV "
                   "files. If it doesn't help you may try to bribe the nearest programmer to increase the size of "
                   "sound memory pool.");
        return false;
    }
    chunk->owner = this;
    if (!reader.Read(gSoundMemoryPool->GetChunkAddress(chunk), fileSize)) {
        ReleaseData();
        return false;
    }
    size = fileSize;
    return true;
}

bool ResourceSound::LoadResource() {
    ReleaseData();
    const char* name = GetName();
    FileReader reader;
    switch (ExtensionOf(name)) {
    case Extension::Ogg: {
        if (!reader.Open(name, nullptr, kSoundDirectory)) return false;
        gResourceManager.PreheatReadAheadResource();
        if (!ReadIntoChunk(reader)) return false;
        data = static_cast<const uint8_t*>(gSoundMemoryPool->GetChunkAddress(chunk));
        dataSize = reader.GetSize();
        formatKind = SOUND_FORMAT_OGG;
        gSoundMemoryPool->MarkLoaded(chunk);
        return true;
    }
    case Extension::Wav: {
        char base[kMaxResourceName + 1];
        if (!ResourceBaseName(name, base)) return false;
        if (!reader.Open(base, "adpcm", kSoundDirectory)) {
            if (!reader.Open(name, nullptr, kSoundDirectory)) return false;
            gLog.Warning(LogCategory::Sound,
                         "Playing WAV sound file. This is a real waste of precious RAM! Please convert into ADPCM "
                         "with WavToADPCM.bat utility");
        }
        gResourceManager.PreheatReadAheadResource();
        if (!ReadIntoChunk(reader)) return false;
        const bool parsed = ParseWave();
        gSoundMemoryPool->MarkLoaded(chunk);
        if (!parsed) ReleaseData();
        return parsed;
    }
    default:
        return false;
    }
}

bool ResourceSound::ParseWave() {
    const auto* bytes = static_cast<const uint8_t*>(gSoundMemoryPool->GetChunkAddress(chunk));
    RiffChunkReader riff(bytes, size);
    uint32_t form = 0;
    if (size < 8 || riff.Next(false) != kRiff || !riff.ReadU32(&form)) return false;
    if (form == kXwma) {
        if (riff.Next(false) != kFmt || !ReadWaveFormat(riff, &waveFormat)) return false;
        uint32_t id = riff.Next(true);
        if (id == kDpds) {
            if (!riff.ChunkFits()) return false;
            packetTable = riff.ChunkData();
            packetTableSize = riff.ChunkSize();
            id = riff.Next(true);
        }
        if (id != kData || !riff.ChunkFits()) return false;
        data = riff.ChunkData();
        dataSize = riff.ChunkSize();
        formatKind = SOUND_FORMAT_XWMA;
        return true;
    }
    if (form != kWave) return false;
    if (riff.Next(false) != kFmt || !ReadWaveFormat(riff, &waveFormat)) return false;
    if (riff.Next(true) != kData || !riff.ChunkFits()) return false;
    switch (waveFormat.formatTag) {
    case SOUND_FORMAT_PCM:
    case SOUND_FORMAT_ADPCM:
        formatKind = waveFormat.formatTag;
        break;
    default:
        gLog.Error(LogCategory::Sound, "Unsupported wave format: %d", waveFormat.formatTag);
        return false;
    }
    data = riff.ChunkData();
    dataSize = riff.ChunkSize();
    return true;
}

ResourceSoundPool::ResourceSoundPool() {
    if (gSoundMemoryPool) gSoundMemoryPool->Init();
}

ResourceSoundPool::~ResourceSoundPool() {
    DeleteAll();  // the sounds return their chunks before the pool goes
    if (gSoundMemoryPool) gSoundMemoryPool->Free();
}

void ResourceSoundPool::LogMemory() {
    if (gSoundMemoryPool) gSoundMemoryPool->Dump();
}
