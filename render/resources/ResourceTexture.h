#pragma once
// ResourceTexture (type 0): a DDS file made into a device texture by a render job. The
// file is the name with its extension replaced by "dds", in "textures" while the flags
// value is below 128, else in "scenes". The device texture lives in a shared
// DeviceObjectHandle that render objects reference on the render thread.
#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

class DeviceObjectHandle;

class ResourceTexture : public Resource {
public:
    explicit ResourceTexture(const char* name) : Resource(name) {}
    // Hands the handle to a deletion job.
    ~ResourceTexture() override;

    uint32_t GetResourceType() const override { return RESOURCE_TEXTURE; }
    void PreheatResource() override;
    bool LoadResource() override;
    void ReloadResource() override;
    void UnloadResourceData() override;
    void RestoreResourceData() override;

    // Null until loaded. Render thread users take references through jobs.
    DeviceObjectHandle* Handle() const { return handle; }
    // The file's name (without extension) and data kind; false when the name is unusable.
    bool FilePath(char* base, const char** directory) const;

private:
    // Reads the file and creates its texture into the handle (a new one when null). A
    // queued load on the loader takes the file read ahead for it, and reads the next
    // queued texture's file while the render thread creates this one.
    bool ReadAndCreate(bool queuedLoad);

    DeviceObjectHandle* handle = nullptr;
};

class ResourceTexturePool : public ResourcePool {
public:
    Resource* CreateResource(const char* name, uint32_t parameter) override { return new ResourceTexture(name); }
};
