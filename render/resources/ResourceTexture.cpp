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

bool ResourceTexture::ReadAndCreate() {
    char base[kMaxResourceName + 1];
    const char* directory = nullptr;
    if (!FilePath(base, &directory)) return false;
    FileReader reader(base, "dds", directory);
    if (!reader.IsOpen()) {
        char path[fs::kMaxPath];
        FileSystem::ComposePath(path, sizeof path, base, "dds", directory);
        gLog.Error(LogCategory::RenderDevice, "Unable to open texture file %s", path);
        return false;
    }
    gResourceManager.PreheatReadAheadResource();
    const uint32_t fileSize = reader.GetSize();
    void* bytes = fileSize ? EngineAlloc(fileSize) : nullptr;
    if (!bytes || !reader.Read(bytes, fileSize)) {
        EngineFree(bytes);
        gLog.Error(LogCategory::RenderDevice, "Unable to read texture file %s", base);
        return false;
    }
    VornexRendererDDSTextureCreationJob job(bytes, fileSize, true, gfx::POOL_MANAGED, handle, JOB_WANTS_EVENT);
    SubmitResourceJob(&job, true);
    if (!handle) handle = job.TakeHandle();
    size = handle ? fileSize : 0;
    return handle != nullptr;
}

bool ResourceTexture::LoadResource() { return ReadAndCreate(); }

void ResourceTexture::ReloadResource() {
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Reloading texture: %s", GetName() ? GetName() : "");
    ReadAndCreate();
}

void ResourceTexture::UnloadResourceData() {
    if (handle)
        SubmitResourceJob(new VornexRendererTextureUnloadDataJob(handle, JOB_FIRE_AND_FORGET), false);
}

void ResourceTexture::RestoreResourceData() {
    if (handle) LoadResource();
}
