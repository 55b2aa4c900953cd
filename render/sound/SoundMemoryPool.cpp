#include "render/sound/SoundMemoryPool.h"

#include "core/Log.h"
#include "core/config/ProjectConfig.h"
#include "render/resources/Resource.h"

SoundMemoryPool* gSoundMemoryPool = nullptr;

namespace {
constexpr int32_t kSoundPoolGranularity = 16;
constexpr uint32_t kDefaultSoundPoolMB = 32;
}  // namespace

const char* SoundMemoryChunk::GetName() const { return owner ? owner->GetName() : nullptr; }

bool SoundMemoryPool::Init() {
    const uint32_t megabytes = gProjectConfig ? gProjectConfig->GetSoundPoolMB() : kDefaultSoundPoolMB;
    // A setting of 4096 MB or more would wrap to a small pool.
    if (megabytes >= 4096) {
        gLog.Error(LogCategory::Sound, "SoundMemoryPool::Init - a pool of %u MB does not fit 32 bits", megabytes);
        return false;
    }
    return SystemMemoryPool::Init(megabytes << 20, kSoundPoolGranularity);
}
