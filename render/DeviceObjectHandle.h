#pragma once
// DeviceObjectHandle: a heap holder of one device texture (2D or cube) with a reference
// count that starts at 1. Render objects share holders; the last Unref releases the
// interface exactly once and frees the holder, and the renderer's state cache forgets
// every sampler stage that held it (so a new holder at the same address is bound).
//
// Threads: render thread only (and the main thread while it creates or resets the
// device with the render thread drained).
#include <cstdint>

#include "platform/gfx/GfxDevice.h"

class DeviceObjectHandle {
public:
    DeviceObjectHandle() = default;
    DeviceObjectHandle(const DeviceObjectHandle&) = delete;
    DeviceObjectHandle& operator=(const DeviceObjectHandle&) = delete;

    void AddRef() { ++refs; }
    // At zero: releases the interface and deletes the holder.
    void Unref();
    uint32_t RefCount() const { return refs; }

    // Release any held texture, then create one on the renderer's device; false (and an
    // empty holder) on failure.
    bool CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, gfx::Format format,
                       gfx::Pool pool);
    bool CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, gfx::Format format, gfx::Pool pool);
    // Releases the held texture; the holder stays.
    void ReleaseInterface();
    // Takes over a texture reference.
    void Attach(gfx::BaseTexture* texture);

    gfx::BaseTexture* Texture() const { return texture; }
    gfx::Texture* Texture2D() const { return is2D ? static_cast<gfx::Texture*>(texture) : nullptr; }
    gfx::CubeTexture* Cube() const { return is2D ? nullptr : static_cast<gfx::CubeTexture*>(texture); }

private:
    ~DeviceObjectHandle();

    gfx::BaseTexture* texture = nullptr;
    bool is2D = true;
    uint32_t refs = 1;
};

// Release when not null and set to null.
template <class T>
void SafeReleaseInterface(T** object) {
    if (object && *object) {
        (*object)->Release();
        *object = nullptr;
    }
}
