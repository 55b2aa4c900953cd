#pragma once
// The graphics device: reference-counted interfaces with the calls, arguments and
// results the renderer is written against. AddRef and Release return the new count;
// the last Release frees the object. Results are HRESULT-style codes (GfxEnums.h).
//
// Two implementations stand behind CreateDeviceFactory, chosen by SelectDeviceKind:
// - the recording device (the default): lockable resources and render targets hold
//   real bytes, draws are recorded with the complete bound state, and the device's
//   rules are validated (GfxRecorder.h); it rasterises nothing;
// - the drawing device: the same recording and validation, and every draw rasterised
//   through OpenGL 4.5 core on EGL (Mesa's software rasteriser without a GPU); locks of
//   render targets, GetRenderTargetData and the recorder's ReadSurface return the
//   pixels drawn. A format it cannot draw is refused at creation (ERR_INVALIDCALL),
//   and so is shader code without SPIR-V.
//
// Threads: every device call may come from any thread; the device serialises them
// under one device-wide lock, as a device created multithreaded does. Objects must
// not be used after their last Release.
#include <cstdint>

#include "platform/gfx/GfxTypes.h"

namespace gfx {

class Device;

class Unknown {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~Unknown() = default;
};

class Resource : public Unknown {
public:
    virtual Result GetDevice(Device** device) = 0;
    virtual ResourceType GetType() = 0;
};

class Surface : public Resource {
public:
    virtual Result GetDesc(SurfaceDesc* desc) = 0;
    virtual Result LockRect(LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
    virtual Result UnlockRect() = 0;
};

class BaseTexture : public Resource {
public:
    virtual uint32_t GetLevelCount() = 0;
};

class Texture : public BaseTexture {
public:
    virtual Result GetLevelDesc(uint32_t level, SurfaceDesc* desc) = 0;
    // The surface gets a reference of its own; release it when done.
    virtual Result GetSurfaceLevel(uint32_t level, Surface** surface) = 0;
    virtual Result LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
    virtual Result UnlockRect(uint32_t level) = 0;
};

class CubeTexture : public BaseTexture {
public:
    virtual Result GetLevelDesc(uint32_t level, SurfaceDesc* desc) = 0;
    virtual Result GetCubeMapSurface(CubeFace face, uint32_t level, Surface** surface) = 0;
    virtual Result LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
    virtual Result UnlockRect(CubeFace face, uint32_t level) = 0;
};

class VertexBuffer : public Resource {
public:
    // size 0 locks from offset to the end.
    virtual Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
    virtual Result Unlock() = 0;
    virtual Result GetDesc(VertexBufferDesc* desc) = 0;
};

class IndexBuffer : public Resource {
public:
    virtual Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
    virtual Result Unlock() = 0;
    virtual Result GetDesc(IndexBufferDesc* desc) = 0;
};

class VertexDeclaration : public Unknown {
public:
    // With elements null, *count receives the element count (end marker included).
    virtual Result GetDeclaration(VertexElement* elements, uint32_t* count) = 0;
};

class VertexShader : public Unknown {
public:
    // With data null, *size receives the code size in bytes.
    virtual Result GetFunction(void* data, uint32_t* size) = 0;
};

class PixelShader : public Unknown {
public:
    virtual Result GetFunction(void* data, uint32_t* size) = 0;
};

class Query : public Unknown {
public:
    virtual QueryType GetType() = 0;
    virtual Result Issue(uint32_t flags) = 0;
    // OK when the issued work is done, OK_FALSE while it is not.
    virtual Result GetData(void* data, uint32_t size, uint32_t flags) = 0;
};

class SwapChain : public Unknown {
public:
    virtual Result Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion,
                           uint32_t flags) = 0;
    virtual Result GetBackBuffer(uint32_t index, BackBufferType type, Surface** surface) = 0;
    virtual Result GetPresentParameters(PresentParameters* params) = 0;
};

class Device : public Unknown {
public:
    // ---- Lifetime and frame ----
    virtual Result TestCooperativeLevel() = 0;
    virtual Result Reset(PresentParameters* params) = 0;
    virtual Result Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion) = 0;
    virtual Result BeginScene() = 0;
    virtual Result EndScene() = 0;
    virtual Result GetDeviceCaps(Caps* caps) = 0;
    virtual void SetGammaRamp(uint32_t swapChain, uint32_t flags, const GammaRamp* ramp) = 0;
    virtual void GetGammaRamp(uint32_t swapChain, GammaRamp* ramp) = 0;
    virtual Result CreateAdditionalSwapChain(PresentParameters* params, SwapChain** swapChain) = 0;
    virtual Result GetSwapChain(uint32_t index, SwapChain** swapChain) = 0;

    // ---- Creation (sharedHandle must be null) ----
    virtual Result CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, Format format,
                                 Pool pool, Texture** texture, void* sharedHandle) = 0;
    virtual Result CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, Format format, Pool pool,
                                     CubeTexture** texture, void* sharedHandle) = 0;
    virtual Result CreateRenderTarget(uint32_t width, uint32_t height, Format format, MultisampleType ms,
                                      uint32_t msQuality, int32_t lockable, Surface** surface, void* sharedHandle) = 0;
    virtual Result CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format, MultisampleType ms,
                                             uint32_t msQuality, int32_t discard, Surface** surface,
                                             void* sharedHandle) = 0;
    virtual Result CreateOffscreenPlainSurface(uint32_t width, uint32_t height, Format format, Pool pool,
                                               Surface** surface, void* sharedHandle) = 0;
    virtual Result CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool, VertexBuffer** buffer,
                                      void* sharedHandle) = 0;
    virtual Result CreateIndexBuffer(uint32_t length, uint32_t usage, Format format, Pool pool, IndexBuffer** buffer,
                                     void* sharedHandle) = 0;
    virtual Result CreateVertexDeclaration(const VertexElement* elements, VertexDeclaration** declaration) = 0;
    // code is codeBytes long; nothing past it is read. Code without its end token inside
    // codeBytes is refused with ERR_INVALIDCALL.
    virtual Result CreateVertexShader(const uint32_t* code, uint32_t codeBytes, VertexShader** shader) = 0;
    virtual Result CreatePixelShader(const uint32_t* code, uint32_t codeBytes, PixelShader** shader) = 0;
    virtual Result CreateQuery(QueryType type, Query** query) = 0;

    // ---- Targets ----
    virtual Result GetBackBuffer(uint32_t swapChain, uint32_t index, BackBufferType type, Surface** surface) = 0;
    virtual Result SetRenderTarget(uint32_t index, Surface* surface) = 0;
    virtual Result GetRenderTarget(uint32_t index, Surface** surface) = 0;
    virtual Result SetDepthStencilSurface(Surface* surface) = 0;
    virtual Result GetDepthStencilSurface(Surface** surface) = 0;
    virtual Result StretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                               TextureFilter filter) = 0;
    virtual Result ColorFill(Surface* surface, const Rect* rect, Color color) = 0;
    virtual Result GetRenderTargetData(Surface* renderTarget, Surface* destSurface) = 0;
    virtual Result UpdateSurface(Surface* source, const Rect* sourceRect, Surface* dest, const void* destPoint) = 0;
    virtual Result Clear(uint32_t rectCount, const Rect* rects, uint32_t flags, Color color, float z,
                         uint32_t stencil) = 0;
    virtual Result SetViewport(const Viewport* viewport) = 0;
    virtual Result GetViewport(Viewport* viewport) = 0;
    virtual Result SetScissorRect(const Rect* rect) = 0;
    virtual Result GetScissorRect(Rect* rect) = 0;

    // ---- State ----
    virtual Result SetRenderState(RenderStateType state, uint32_t value) = 0;
    virtual Result GetRenderState(RenderStateType state, uint32_t* value) = 0;
    virtual Result SetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t value) = 0;
    virtual Result GetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t* value) = 0;
    virtual Result SetTexture(uint32_t stage, BaseTexture* texture) = 0;
    virtual Result GetTexture(uint32_t stage, BaseTexture** texture) = 0;
    virtual Result SetVertexShader(VertexShader* shader) = 0;
    virtual Result GetVertexShader(VertexShader** shader) = 0;
    virtual Result SetPixelShader(PixelShader* shader) = 0;
    virtual Result GetPixelShader(PixelShader** shader) = 0;
    virtual Result SetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count) = 0;
    virtual Result GetVertexShaderConstantF(uint32_t start, float* data, uint32_t count) = 0;
    virtual Result SetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count) = 0;
    virtual Result GetPixelShaderConstantF(uint32_t start, float* data, uint32_t count) = 0;
    virtual Result SetVertexShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) = 0;
    virtual Result SetPixelShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) = 0;
    virtual Result SetVertexShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) = 0;
    virtual Result SetPixelShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) = 0;

    // ---- Input ----
    virtual Result SetFVF(uint32_t fvf) = 0;
    virtual Result GetFVF(uint32_t* fvf) = 0;
    virtual Result SetVertexDeclaration(VertexDeclaration* declaration) = 0;
    virtual Result GetVertexDeclaration(VertexDeclaration** declaration) = 0;
    virtual Result SetStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) = 0;
    virtual Result SetStreamSourceFreq(uint32_t stream, uint32_t setting) = 0;
    virtual Result SetIndices(IndexBuffer* buffer) = 0;

    // ---- Draw ----
    virtual Result DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount) = 0;
    virtual Result DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t minIndex,
                                        uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount) = 0;
    virtual Result DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertexData,
                                   uint32_t stride) = 0;
    virtual Result DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                          uint32_t primitiveCount, const void* indexData, Format indexFormat,
                                          const void* vertexData, uint32_t stride) = 0;
};

// The device factory: adapters, formats, display modes and device creation.
class DeviceFactory : public Unknown {
public:
    virtual uint32_t GetAdapterCount() = 0;
    virtual uint32_t GetAdapterModeCount(uint32_t adapter, Format format) = 0;
    virtual Result EnumAdapterModes(uint32_t adapter, Format format, uint32_t mode, DisplayMode* out) = 0;
    virtual Result GetAdapterDisplayMode(uint32_t adapter, DisplayMode* out) = 0;
    virtual Result CheckDeviceFormat(uint32_t adapter, DeviceType type, Format adapterFormat, uint32_t usage,
                                     ResourceType resourceType, Format checkFormat) = 0;
    virtual Result CheckDeviceMultiSampleType(uint32_t adapter, DeviceType type, Format surfaceFormat,
                                              int32_t windowed, MultisampleType ms, uint32_t* qualityLevels) = 0;
    virtual Result GetDeviceCaps(uint32_t adapter, DeviceType type, Caps* caps) = 0;
    virtual Result CreateDevice(uint32_t adapter, DeviceType type, void* focusWindow, uint32_t behaviorFlags,
                                PresentParameters* params, Device** device) = 0;
};

// The process-wide choice read by every CreateDeviceFactory after it (thread-safe).
enum class DeviceKind : uint8_t { Recording, Drawing };
void SelectDeviceKind(DeviceKind kind);
DeviceKind SelectedDeviceKind();

// Creates the factory; null when sdkVersion is not SDK_VERSION. Its CreateDevice fails
// with ERR_NOTAVAILABLE when the drawing device was chosen and no OpenGL 4.5 core
// context can be made.
DeviceFactory* CreateDeviceFactory(uint32_t sdkVersion);

// A number unique to each object of this process (never reused), for matching draw
// records and counters to objects; 0 for null.
uint32_t SerialOf(Unknown* object);

}  // namespace gfx
