#pragma once
// Private to platform/gfx: the drawing back end of a device. The device records and
// validates every call as the recording device does and, with a back end attached,
// hands the calls that change pixels to it: draws, clears, fills, stretches. Every
// method runs under the device lock.
//
// Surfaces and buffers keep their bytes in memory (DeviceImpl.h); the back end mirrors
// them in GL objects created on first use. A surface whose bytes changed (lock, copy,
// creation) is marked cpuDirty and uploaded before the next GL use; a surface the GPU
// wrote is marked gpuDirty and read back before the next use of its bytes (lock,
// GetRenderTargetData, ReadSurface, a copy on the memory side).
//
// Contexts: the device owns one EGL context per thread that does GL work through it
// (they share every texture, buffer and program); each thread keeps its own context
// current. Framebuffers and vertex arrays are per context. EndScene waits for the GPU,
// so an event query issued after it is done at once (and so does a clear, fill or copy
// outside a scene); once a second thread has done GL
// work through the device, every GL operation waits for the GPU before the lock is
// released, so another thread's context sees finished work. Destroyed objects' GL names
// are deleted by the next thread that does GL work, so a release on any thread needs
// no context.
#include <memory>
#include <string>

#include "platform/gfx/DeviceImpl.h"

namespace gfx::detail {

struct DrawCall {
    CallKind call;
    PrimitiveType type;
    uint32_t primitiveCount;
    uint32_t startVertex;
    int32_t baseVertex;
    uint32_t minIndex, numVertices, startIndex;
    const void* userVertices;  // the UP draws
    uint32_t userStride;
    const void* userIndices;
    Format userIndexFormat;
};

// False for a format or usage the back end cannot draw or sample correctly.
bool GlFormatSupported(Format format, uint32_t usage);

class GlBackend {
public:
    // Null with a one-line reason when no OpenGL 4.5 core context can be made.
    static std::unique_ptr<GlBackend> Create(std::string* error);
    virtual ~GlBackend() = default;
    // The device that reports the back end's failures (a shader GL refuses) as warnings.
    void SetOwner(DeviceImpl* device) { owner = device; }

    // Turns the shader's SPIR-V into GLSL; false with a reason when it cannot.
    virtual bool PrepareShader(ShaderCore* shader, bool pixel, std::string* error) = 0;

    virtual void Draw(const BoundState& state, const DrawCall& call) = 0;
    virtual void Clear(const BoundState& state, const Rect& rect, uint32_t flags, Color color, float z,
                       uint32_t stencil) = 0;
    virtual void ColorFill(SurfaceImpl* surface, const Rect& rect, Color color) = 0;
    virtual void StretchRect(SurfaceImpl* source, const Rect& sourceRect, SurfaceImpl* dest, const Rect& destRect,
                             TextureFilter filter) = 0;
    // Reads a surface the GPU wrote back into its bytes.
    virtual void SyncToCpu(SurfaceImpl* surface) = 0;
    // Waits until the GPU has done the work handed to it so far. The wait happens on the
    // thread that last drew (its context holds the work); on any other thread it is a
    // no-op, which is safe because EndScene finishes every scene's work and the device
    // finishes every clear, fill and copy made outside a scene.
    virtual void Finish() = 0;
    // The object is being destroyed: its GL objects go.
    virtual void Forget(ObjectCore* object) = 0;

protected:
    DeviceImpl* owner = nullptr;
};

}  // namespace gfx::detail
