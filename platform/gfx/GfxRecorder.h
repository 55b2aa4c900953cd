#pragma once
// Observation and control of the recording device, for tests and debugging tools:
// draw records with the complete bound state, call and object counters, the thread
// that made each call, validation of the device's rules, and injectable faults.
// Every call here is thread-safe (it takes the device lock).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/GfxDevice.h"
#include "platform/os/Thread.h"

namespace gfx {

struct ConstantDesc;

enum class CallKind : uint8_t {
    CreateDevice, Reset, Present, SwapChainPresent, TestCooperativeLevel, BeginScene, EndScene, SetGammaRamp,
    CreateAdditionalSwapChain, CreateTexture, CreateCubeTexture, CreateRenderTarget, CreateDepthStencilSurface,
    CreateOffscreenPlainSurface, CreateVertexBuffer, CreateIndexBuffer, CreateVertexDeclaration,
    CreateVertexShader, CreatePixelShader, CreateQuery, GetBackBuffer, SetRenderTarget, GetRenderTarget,
    SetDepthStencilSurface, GetDepthStencilSurface, StretchRect, ColorFill, Clear, SetViewport, SetScissorRect,
    SetRenderState, SetSamplerState, SetTexture, SetVertexShader, SetPixelShader, SetVertexShaderConstant,
    SetPixelShaderConstant, SetFVF, SetVertexDeclaration, SetStreamSource, SetStreamSourceFreq, SetIndices,
    DrawPrimitive, DrawIndexedPrimitive, DrawPrimitiveUP, DrawIndexedPrimitiveUP, Lock, Unlock, QueryIssue,
    QueryGetData, LoadSurface, Other,
    Count
};
const char* CallKindName(CallKind kind);

enum class ObjectKind : uint8_t {
    SwapChain, Texture, CubeTexture, Surface, VertexBuffer, IndexBuffer, VertexDeclaration, VertexShader,
    PixelShader, Query,
    Count
};

// ---- Validation ----
enum class ValidationMode : uint8_t {
    Warn,    // a broken rule is reported to the sink and counted
    Strict,  // as Warn; without a sink installed the process stops (a test fails)
};

struct ValidationReport {
    bool violation;  // false: a warning only (e.g. a pixel constant beyond ps_3_0's range)
    CallKind call;
    std::string rule;     // short stable key, e.g. "draw-outside-scene"
    std::string message;  // one line for a log
};

// Receives every report of every device (any thread, under the reporting device's lock).
// The engine hooks its log here; tests may fail the running test from it.
using ValidationSink = void (*)(void* user, const ValidationReport& report);
void SetValidationSink(ValidationSink sink, void* user);

// ---- Capability faults: process-wide, read by factories and devices at each check ----
struct CapabilityFaults {
    bool refuseHardwareVertexProcessing = false;
    bool refuseIntz = false;
    bool refuseRawz = false;
    bool refuse10BitRenderTarget = false;
    bool refuseMultisample = false;
    bool refuseDeviceCreation = false;  // every CreateDevice fails with ERR_NOTAVAILABLE
};
void SetCapabilityFaults(const CapabilityFaults& faults);
CapabilityFaults GetCapabilityFaults();

// ---- Draw records ----
enum class DrawRecordMode : uint8_t {
    Off,
    LastFrame,  // records of the frame being drawn; the first draw after a present starts over
    All,        // every draw until cleared (tests, debugging)
};

struct TextureBinding {
    uint32_t serial;  // 0 when nothing is bound
    ResourceType type;
    Format format;
    uint32_t width, height, levels;
};

struct StreamBinding {
    uint32_t buffer;  // serial of the vertex buffer, 0 for none
    uint32_t offset, stride, frequency;
};

struct ShaderBinding {
    uint32_t serial;  // 0 when no shader is bound
    std::shared_ptr<const std::vector<ConstantDesc>> constants;  // the shader's constant table
};

struct StateBlock {
    std::array<uint32_t, kRenderStateCount> renderStates;
    std::array<std::array<uint32_t, kSamplerStateCount>, kSamplerStageCount> samplerStates;
};

struct ConstantBlock {
    std::array<std::array<float, 4>, kMaxFloatConstants> floats;
    std::array<std::array<int32_t, 4>, kIntConstants> ints;
    std::array<int32_t, kBoolConstants> bools;
};

// One draw call with everything bound when it was made. Blocks that did not change
// between draws are shared, so a long record list stays small.
struct DrawRecord {
    CallKind call;
    PrimitiveType primitiveType;
    uint32_t primitiveCount;
    uint32_t startVertex;  // DrawPrimitive
    int32_t baseVertex;    // DrawIndexedPrimitive
    uint32_t minIndex, numVertices, startIndex;
    uint32_t userStride;  // the UP draws
    // A copy of the vertex bytes of a UP draw (the vertices it reads, stride apart).
    std::shared_ptr<const std::vector<uint8_t>> userVertices;
    Format userIndexFormat;
    uint64_t frame;  // presents before this draw
    os::ThreadId thread;

    std::shared_ptr<const StateBlock> states;
    std::shared_ptr<const ConstantBlock> vertexConstants;
    std::shared_ptr<const ConstantBlock> pixelConstants;
    std::array<TextureBinding, kSamplerStageCount> textures;
    std::array<uint32_t, kMaxRenderTargets> renderTargets;  // surface serials
    uint32_t depthStencil;
    Viewport viewport;
    Rect scissor;
    ShaderBinding vertexShader, pixelShader;
    uint32_t fvf;
    uint32_t declaration;  // serial
    std::shared_ptr<const std::vector<VertexElement>> declarationElements;
    std::array<StreamBinding, kMaxStreams> streams;
    uint32_t indices;  // serial

    uint32_t RenderState(RenderStateType state) const { return states->renderStates[state]; }
    uint32_t SamplerState(uint32_t stage, SamplerStateType type) const { return states->samplerStates[stage][type]; }
    const float* VertexConstant(uint32_t reg) const { return vertexConstants->floats[reg].data(); }
    const float* PixelConstant(uint32_t reg) const { return pixelConstants->floats[reg].data(); }
};

// One lock of a vertex or index buffer (locks the device refused are not logged).
struct LockRecord {
    uint32_t buffer;  // serial of the buffer
    uint32_t offset, bytes, flags;  // bytes 0: to the end of the buffer
};

// One call of the call log: the state, target, clear, copy, scene and draw calls, with
// their arguments as made (before validation), so that a frame's device work can be
// replayed on another device. Constant registers, rectangles, the viewport and the
// vertex and index bytes of user-pointer draws are copied into data.
enum class ConstantKind : uint8_t { Float, Int, Bool };
struct CallRecord {
    CallKind call;
    // The integer arguments in the call's order (floats as their bits); for the constant
    // calls: start, count, ConstantKind, and 1 for pixel constants.
    std::array<uint32_t, 6> args;
    // The object arguments (the copy's destination second), each held by the log until
    // it is cleared or turned off.
    Unknown* object;
    Unknown* object2;
    std::vector<uint8_t> data;
};

struct ThreadCalls {
    os::ThreadId thread;
    std::array<uint64_t, static_cast<size_t>(CallKind::Count)> calls;
};

class Recorder {
public:
    virtual void SetValidationMode(ValidationMode mode) = 0;
    virtual std::vector<ValidationReport> Reports() = 0;  // warnings and violations so far
    virtual size_t ViolationCount() = 0;
    virtual void ClearReports() = 0;

    virtual void SetDrawRecordMode(DrawRecordMode mode) = 0;
    virtual std::vector<DrawRecord> DrawRecords() = 0;
    virtual void ClearDrawRecords() = 0;

    // The lock log of buffers (off by default; turning it off clears it).
    virtual void SetLockLogging(bool on) = 0;
    virtual std::vector<LockRecord> LockLog() = 0;
    virtual void ClearLockLog() = 0;

    // The call log (off by default; turning it off clears it). The records' objects stay
    // valid until then.
    virtual void SetCallLogging(bool on) = 0;
    virtual std::vector<CallRecord> CallLog() = 0;
    virtual void ClearCallLog() = 0;

    virtual uint64_t CallCount(CallKind kind) = 0;
    // Set calls (states, textures, shaders, constants, input layout, streams, indices,
    // viewport, scissor) that left the device state as it was: counted above too, but the
    // device did no work for them. ResetCallCounts clears it.
    virtual uint64_t DroppedCalls() = 0;
    virtual uint64_t CallCountOnThread(os::ThreadId thread, CallKind kind) = 0;
    virtual std::vector<ThreadCalls> CallsByThread() = 0;
    virtual void ResetCallCounts() = 0;
    virtual uint32_t LiveObjects(ObjectKind kind) = 0;
    virtual uint32_t LiveObjects(ObjectKind kind, Pool pool) = 0;
    virtual uint64_t PresentCount() = 0;

    // Faults of this device.
    virtual void LoseDeviceOnNextPresent() = 0;
    // The next k resets fail with the given result (the device stays lost).
    virtual void FailResets(uint32_t count, Result result = ERR_DEVICELOST) = 0;
    // An issued event query reports done after this many GetData polls (0: at once).
    virtual void SetQueryLatency(uint32_t polls) = 0;
    // The next count locks of textures, surfaces or buffers are refused with
    // ERR_INVALIDCALL (a device that cannot give the memory; not a broken rule).
    virtual void FailLocks(uint32_t count) = 0;

    // Read-back of any surface's bytes regardless of lockability; rows are tightly packed.
    virtual Result ReadSurface(Surface* surface, std::vector<uint8_t>* bytes) = 0;

protected:
    virtual ~Recorder() = default;
};

// The recorder of a device made by this platform's factory (never null for those).
Recorder* GetRecorder(Device* device);

}  // namespace gfx
