#include "render/resources/ResourceTexture.h"

#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderJobs.h"
#include "render/resources/ResourceManager.h"

ResourceTexture::~ResourceTexture() { SubmitTextureDeletionJob(handle, false); }

bool ResourceTexture::FilePath(char* base, const char** directory) const {
    if (!ResourceBaseName(GetName(), base)) return false;
    *directory = GetFlags() < RESOURCE_FLAG_SCENE_TEXTURE ? "textures" : "scenes";
    return true;
}

void ResourceTexture::PreheatResource() {
    char base[kMaxResourceName + 1];
    const char* directory = nullptr;
    if (FilePath(base, &directory)) gFileSystem.SetPreheatFile(base, "dds", directory, 0);
}

namespace {
// The whole file into an EngineAlloc block; false (nothing kept) when it cannot be read.
bool ReadWhole(FileReader& reader, void** bytes, uint32_t* size) {
    *size = reader.GetSize();
    *bytes = *size ? EngineAlloc(*size) : nullptr;
    if (*bytes && reader.Read(*bytes, *size)) return true;
    EngineFree(*bytes);
    *bytes = nullptr;
    return false;
}

// While the render thread creates the running queued load's texture: the file of the
// texture queued next, kept by the manager for that texture's own load. A file that
// cannot be read now is left to that load, which says why.
void ReadAheadNext() {
    Resource* next = gResourceManager.NextQueued(RESOURCE_TEXTURE);
    if (!next) return;
    char base[kMaxResourceName + 1];
    const char* directory = nullptr;
    if (static_cast<ResourceTexture*>(next)->FilePath(base, &directory)) {
        FileReader reader(base, "dds", directory);
        void* bytes = nullptr;
        uint32_t size = 0;
        if (reader.IsOpen() && ReadWhole(reader, &bytes, &size))
            gResourceManager.KeepReadAheadFile(next, directory, bytes, size);
    }
    next->Release();
}
}  // namespace

bool ResourceTexture::ReadAndCreate(bool queuedLoad) {
    char base[kMaxResourceName + 1];
    const char* directory = nullptr;
    if (!FilePath(base, &directory)) return false;
    void* bytes = nullptr;
    uint32_t fileSize = 0;
    if (queuedLoad && gResourceManager.TakeReadAheadFile(this, directory, &bytes, &fileSize)) {
        gResourceManager.PreheatReadAheadResource();
    } else {
        FileReader reader(base, "dds", directory);
        if (!reader.IsOpen()) {
            char path[fs::kMaxPath];
            FileSystem::ComposePath(path, sizeof path, base, "dds", directory);
            gLog.Error(LogCategory::RenderDevice, "Unable to open texture file %s", path);
            return false;
        }
        gResourceManager.PreheatReadAheadResource();
        if (!ReadWhole(reader, &bytes, &fileSize)) {
            gLog.Error(LogCategory::RenderDevice, "Unable to read texture file %s", base);
            return false;
        }
    }
    VornexRendererDDSTextureCreationJob job(bytes, fileSize, true, gfx::POOL_MANAGED, handle, JOB_WANTS_EVENT);
    SubmitResourceJob(&job, false);
    // This load still ends (created, logged, state 2) before the next one begins.
    if (queuedLoad && !job.IsDone()) ReadAheadNext();
    job.WaitForCompletion();
    if (!handle) handle = job.TakeHandle();
    size = handle ? fileSize : 0;
    return handle != nullptr;
}

bool ResourceTexture::LoadResource() { return ReadAndCreate(gResourceManager.InQueuedLoad(this)); }

void ResourceTexture::ReloadResource() {
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Reloading texture: %s", GetName() ? GetName() : "");
    ReadAndCreate(false);
}

void ResourceTexture::UnloadResourceData() {
    if (handle)
        SubmitResourceJob(new VornexRendererTextureUnloadDataJob(handle, JOB_FIRE_AND_FORGET), false);
}

void ResourceTexture::RestoreResourceData() {
    if (handle) LoadResource();
}
