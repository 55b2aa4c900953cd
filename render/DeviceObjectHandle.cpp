#include "render/DeviceObjectHandle.h"

#include "render/VornexRenderer.h"

DeviceObjectHandle::~DeviceObjectHandle() { ReleaseInterface(); }

void DeviceObjectHandle::Unref() {
    if (refs == 0 || --refs != 0) return;
    gVornexRenderer.ForgetTextureHolder(this);
    delete this;
}

void DeviceObjectHandle::ReleaseInterface() { SafeReleaseInterface(&texture); }

void DeviceObjectHandle::Attach(gfx::BaseTexture* t) {
    ReleaseInterface();
    texture = t;
    is2D = !t || t->GetType() == gfx::RTYPE_TEXTURE;
}

bool DeviceObjectHandle::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                       gfx::Format format, gfx::Pool pool) {
    ReleaseInterface();
    gfx::Device* device = gVornexRenderer.Device();
    gfx::Texture* created = nullptr;
    if (device && gfx::Succeeded(device->CreateTexture(width, height, levels, usage, format, pool, &created, nullptr)))
        Attach(created);
    return texture != nullptr;
}

bool DeviceObjectHandle::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, gfx::Format format,
                                           gfx::Pool pool) {
    ReleaseInterface();
    gfx::Device* device = gVornexRenderer.Device();
    gfx::CubeTexture* created = nullptr;
    if (device && gfx::Succeeded(device->CreateCubeTexture(edge, levels, usage, format, pool, &created, nullptr)))
        Attach(created);
    return texture != nullptr;
}
