// The device layer: counted draws, DDS textures, the render- and sampler-state cache
// (a state reaches the device only when it differs from the cached value; a reset
// stores "unset" so that the next request is sent), the blend-mode table, targets and
// viewport binding, the camera state and the shader constants every shader reads.
// Render thread only.
#include <cstring>

#include "platform/gfx/TextureLoad.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

using namespace gfx;

// ---------------------------------------------------------------------------------------
// Textures and draws

namespace {
// The vertex register of the frame times (the pixel stage has c247 and its copy).
constexpr uint32_t kVertexFrameTimesRegister = 247;

template <class Created, class Load>
bool LoadInto(DeviceObjectHandle* holder, Device* device, Load load) {
    if (!holder) return false;
    holder->ReleaseInterface();
    Created* created = nullptr;
    if (device && Succeeded(load(&created))) holder->Attach(created);
    return holder->Texture() != nullptr;
}
}  // namespace

bool VornexRenderer::CreateTextureFromDDS(DeviceObjectHandle* holder, const void* data, uint32_t size,
                                          uint32_t mipLevels, Pool pool) {
    return LoadInto<Texture>(holder, device, [&](Texture** out) {
        return CreateTextureFromFileInMemoryEx(device, data, size, DEFAULT_NONPOW2, DEFAULT_NONPOW2, mipLevels, 0,
                                               FMT_UNKNOWN, pool, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr, out);
    });
}

bool VornexRenderer::CreateCubeTextureFromDDS(DeviceObjectHandle* holder, const void* data, uint32_t size,
                                              uint32_t mipLevels, Pool pool) {
    return LoadInto<CubeTexture>(holder, device, [&](CubeTexture** out) {
        return CreateCubeTextureFromFileInMemoryEx(device, data, size, DEFAULT_NONPOW2, mipLevels, 0, FMT_UNKNOWN,
                                                   pool, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr, out);
    });
}

void VornexRenderer::DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount) {
    if (!device) return;
    device->DrawPrimitive(type, startVertex, primitiveCount);
    ++drawCalls;
    primitives += primitiveCount;
}

void VornexRenderer::DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertices,
                                     uint32_t stride) {
    if (!device) return;
    device->DrawPrimitiveUP(type, primitiveCount, vertices, stride);
    ++drawCalls;
    primitives += primitiveCount;
}

void VornexRenderer::DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t minIndex,
                                          uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount) {
    if (!device) return;
    device->DrawIndexedPrimitive(type, baseVertex, minIndex, numVertices, startIndex, primitiveCount);
    ++drawCalls;
    primitives += primitiveCount;
}

void VornexRenderer::DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                            uint32_t primitiveCount, const void* indices, const void* vertices,
                                            uint32_t stride) {
    if (!device) return;
    device->DrawIndexedPrimitiveUP(type, minIndex, numVertices, primitiveCount, indices, FMT_INDEX16, vertices,
                                   stride);
    ++drawCalls;
    primitives += primitiveCount;
}

// ---------------------------------------------------------------------------------------
// Blend modes

void VornexRenderer::InitBlendModeTable() {
    static const BlendModeRow kRows[kBlendModeCount] = {
        {0, BLENDOP_ADD, BLEND_ONE, BLEND_ZERO, 0, 0, 0, 0, {0, 0, 0, 1}},
        {1, BLENDOP_ADD, BLEND_SRCALPHA, BLEND_INVSRCALPHA, 0, 0, 0, 0, {1, 0, -1, 1}},
        {1, BLENDOP_ADD, BLEND_ONE, BLEND_ONE, 0, 0, 0, 0, {0, 1, 0, 1}},
        {1, BLENDOP_ADD, BLEND_SRCALPHA, BLEND_ONE, 0, 0, 0, 0, {1, 0, 0, 1}},
        {1, BLENDOP_ADD, BLEND_INVSRCALPHA, BLEND_SRCALPHA, 0, 0, 0, 0, {-1, 1, 1, 0}},
        {1, BLENDOP_SUBTRACT, BLEND_ONE, BLEND_ONE, 0, 0, 0, 0, {0, 0, 0, 0}},
        {1, BLENDOP_ADD, BLEND_DESTCOLOR, BLEND_ZERO, 0, 0, 0, 0, {0, 0, 0, 0}},
        {1, BLENDOP_ADD, BLEND_ZERO, BLEND_INVSRCCOLOR, 0, 0, 0, 0, {0, 0, 0, 0}},
        {1, BLENDOP_MIN, BLEND_ONE, BLEND_ONE, 0, 0, 0, 0, {0, 0, 0, 0}},
        {0, BLENDOP_ADD, BLEND_ZERO, BLEND_ZERO, 0, 0, 0, 0, {0, 0, 0, 0}},
    };
    std::memcpy(blendRows, kRows, sizeof blendRows);
}

const Vector& VornexRenderer::GetBlendModeRow(uint32_t row) const {
    return blendRows[row < kBlendModeCount ? row : 0].shaderBlend;
}

void VornexRenderer::SetBlendMode(uint32_t row) {
    if (row == blendMode || row >= kBlendModeCount || !device) return;
    blendMode = row;
    const BlendModeRow& b = blendRows[row];
    device->SetRenderState(RS_ALPHABLENDENABLE, b.alphaBlendEnable);
    if (!b.alphaBlendEnable) return;
    device->SetRenderState(RS_BLENDOP, b.blendOp);
    device->SetRenderState(RS_SRCBLEND, b.srcBlend);
    device->SetRenderState(RS_DESTBLEND, b.destBlend);
    device->SetRenderState(RS_SEPARATEALPHABLENDENABLE, b.separateAlphaBlendEnable);
    if (!b.separateAlphaBlendEnable) return;
    device->SetRenderState(RS_BLENDOPALPHA, b.blendOpAlpha);
    device->SetRenderState(RS_SRCBLENDALPHA, b.srcBlendAlpha);
    device->SetRenderState(RS_DESTBLENDALPHA, b.destBlendAlpha);
}

// ---------------------------------------------------------------------------------------
// Render states

namespace {
// Sends the state when the request differs from the cached value.
inline void SetCached(Device* device, uint32_t* cached, RenderStateType state, uint32_t value) {
    if (*cached == value) return;
    *cached = value;
    device->SetRenderState(state, value);
}
}  // namespace

void VornexRenderer::SetCullMode(uint32_t mode) {
    if (device) SetCached(device, &cullMode, RS_CULLMODE, mode);
}

void VornexRenderer::SetAlphaTest(uint32_t mode, uint32_t reference) {
    if (!device || mode > 2) return;  // other modes change nothing
    if (mode != alphaTestMode) {
        alphaTestMode = mode;
        device->SetRenderState(RS_ALPHATESTENABLE, mode != 0);
        if (mode != 0) device->SetRenderState(RS_ALPHAFUNC, mode == 1 ? CMP_GREATER : CMP_EQUAL);
    }
    if (mode != 0) SetCached(device, &alphaReference, RS_ALPHAREF, reference);
}

void VornexRenderer::SetDepthState(uint32_t function, uint8_t write, uint32_t bias, uint32_t slopeBias) {
    if (!device) return;
    SetCached(device, &depthFunction, RS_ZFUNC, function);
    if (write != depthWrite) {
        depthWrite = write;
        device->SetRenderState(RS_ZWRITEENABLE, write ? 1 : 0);
    }
    SetCached(device, &depthBias, RS_DEPTHBIAS, bias);
    SetCached(device, &slopeDepthBias, RS_SLOPESCALEDEPTHBIAS, slopeBias);
}

void VornexRenderer::SetVertexShader(VertexShader* shader) {
    if (!device || (vertexShaderKnown && shader == vertexShader)) return;
    vertexShader = shader;
    vertexShaderKnown = true;
    device->SetVertexShader(shader);
}

void VornexRenderer::SetPixelShader(PixelShader* shader) {
    if (!device || (pixelShaderKnown && shader == pixelShader)) return;
    pixelShader = shader;
    pixelShaderKnown = true;
    device->SetPixelShader(shader);
}

namespace {
struct SamplerValues {
    uint32_t srgb, addressU, addressV, magMin, mip;
};
SamplerValues SamplerStatesOf(uint32_t flags, bool srgbOff, bool trilinear) {
    SamplerValues v;
    v.srgb = (flags & SAMPLER_SRGB) && !srgbOff ? 1 : 0;
    if (flags & SAMPLER_BORDER) {
        v.addressU = v.addressV = TADDRESS_BORDER;
    } else {
        v.addressU = (flags & SAMPLER_CLAMP_U) ? TADDRESS_CLAMP : TADDRESS_WRAP;
        v.addressV = (flags & SAMPLER_CLAMP_V) ? TADDRESS_CLAMP : TADDRESS_WRAP;
    }
    v.magMin = (flags & SAMPLER_POINT) ? TEXF_POINT : TEXF_LINEAR;
    v.mip = !(flags & SAMPLER_POINT) && (flags & SAMPLER_LINEAR_MIPS) && trilinear ? TEXF_LINEAR : TEXF_POINT;
    return v;
}
}  // namespace

void VornexRenderer::SetTexture(uint32_t stage, const DeviceObjectHandle* texture, uint32_t flags) {
    if (!device || stage >= kSamplerStageCount) return;
    SamplerCache& s = samplers[stage];
    if (!s.textureKnown || s.texture != texture) {
        s.texture = texture;
        s.textureKnown = true;
        device->SetTexture(stage, texture ? texture->Texture() : nullptr);
    }
    if (flags == s.flags) return;
    const bool srgbOff = srgbForcedOff.load(std::memory_order_acquire);
    const bool tri = trilinear.load(std::memory_order_acquire);
    const SamplerValues was = SamplerStatesOf(s.flags, srgbOff, tri);
    const SamplerValues now = SamplerStatesOf(flags, srgbOff, tri);
    s.flags = flags;  // bits without a meaning are kept and change no state
    if (now.srgb != was.srgb) device->SetSamplerState(stage, SAMP_SRGBTEXTURE, now.srgb);
    if (now.addressU != was.addressU) device->SetSamplerState(stage, SAMP_ADDRESSU, now.addressU);
    if (now.addressV != was.addressV) device->SetSamplerState(stage, SAMP_ADDRESSV, now.addressV);
    if (now.magMin != was.magMin) {
        device->SetSamplerState(stage, SAMP_MAGFILTER, now.magMin);
        device->SetSamplerState(stage, SAMP_MINFILTER, now.magMin);
    }
    if (now.mip != was.mip) device->SetSamplerState(stage, SAMP_MIPFILTER, now.mip);
}

void VornexRenderer::ForgetTextureHolder(const DeviceObjectHandle* holder) {
    for (SamplerCache& s : samplers)
        if (s.texture == holder) s.textureKnown = false;
}

void VornexRenderer::SetVertexShaderConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) {
    if (device && registerCount) device->SetVertexShaderConstantF(firstRegister, data, registerCount);
}

void VornexRenderer::SetPixelShaderConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) {
    if (device && registerCount) device->SetPixelShaderConstantF(firstRegister, data, registerCount);
}

void VornexRenderer::ClearTarget(uint32_t flags, const Vector& colour, float depth, uint32_t stencil) {
    if (device) device->Clear(0, nullptr, flags, ToDeviceColor(colour), depth, stencil);
}

void VornexRenderer::SetColorWriteMask(uint32_t mask) {
    if (device) device->SetRenderState(RS_COLORWRITEENABLE, mask);
}

void VornexRenderer::SetRenderTargets(Surface* target0, Surface* target1, uint32_t flags) {
    if (!device || !target0) return;
    device->SetRenderTarget(1, target1);
    device->SetRenderTarget(0, target0);  // resets the device's viewport to the target
    renderTargetFlags = flags;
    SetSRGBWriteState(flags & 1u);
    if (flags & 2u) return;
    // The stored viewport again, when it lies inside the new target (the device refuses
    // one that does not; the target's own full viewport then stays).
    SurfaceDesc desc{};
    target0->GetDesc(&desc);
    if (viewport.width && viewport.height && uint64_t(viewport.x) + viewport.width <= desc.width &&
        uint64_t(viewport.y) + viewport.height <= desc.height)
        ApplyViewport(viewport.x, viewport.y, viewport.width, viewport.height, viewport.minZ, viewport.maxZ);
}

void VornexRenderer::BindBackBuffer() { SetRenderTargets(backBufferSurface, nullptr, 3); }

void VornexRenderer::SetStencilOps(uint32_t pass, uint32_t fail, uint32_t zFail) {
    if (!device) return;
    if (!stencilEnable) {
        stencilEnable = 1;
        device->SetRenderState(RS_STENCILENABLE, 1);
    }
    SetCached(device, &stencilPass, RS_STENCILPASS, pass);
    SetCached(device, &stencilFail, RS_STENCILFAIL, fail);
    SetCached(device, &stencilZFail, RS_STENCILZFAIL, zFail);
}

void VornexRenderer::SetStencilWriteMask(uint32_t mask) {
    if (device) SetCached(device, &stencilWriteMask, RS_STENCILWRITEMASK, mask);
}

void VornexRenderer::SetStencilFunc(uint32_t function, uint32_t reference, uint32_t mask, uint32_t writeMask) {
    if (!device) return;
    SetCached(device, &stencilFunction, RS_STENCILFUNC, function);
    SetCached(device, &stencilReference, RS_STENCILREF, reference);
    SetCached(device, &stencilMask, RS_STENCILMASK, mask);
    SetCached(device, &stencilWriteMask, RS_STENCILWRITEMASK, writeMask);
}

void VornexRenderer::DisableStencil() {
    if (!device) return;
    if (stencilEnable) {
        stencilEnable = 0;
        device->SetRenderState(RS_STENCILENABLE, 0);
    }
    SetCached(device, &stencilWriteMask, RS_STENCILWRITEMASK, 0);
}

void VornexRenderer::SetSRGBWriteState(uint8_t enable) {
    if (!device) return;
    const uint32_t value = enable && !srgbForcedOff.load(std::memory_order_acquire) ? 1 : 0;
    SetCached(device, &srgbWrite, RS_SRGBWRITEENABLE, value);
}

void VornexRenderer::ApplyViewport(uint32_t x, uint32_t y, uint32_t width, uint32_t height, float minZ, float maxZ) {
    viewport = {x, y, width, height, minZ, maxZ};
    inverseViewportWidth = width ? 1.0f / static_cast<float>(width) : 0.0f;
    inverseViewportHeight = height ? 1.0f / static_cast<float>(height) : 0.0f;
    if (!device) return;
    // A viewport beyond the bound target (the render size's while the back buffer of
    // another size is bound) would be refused by the device: it stays stored and reaches
    // the device with the next target it fits (SetRenderTargets).
    Surface* target = nullptr;
    if (Succeeded(device->GetRenderTarget(0, &target)) && target) {
        SurfaceDesc desc{};
        target->GetDesc(&desc);
        target->Release();
        if (uint64_t(x) + width > desc.width || uint64_t(y) + height > desc.height) return;
    }
    device->SetViewport(&viewport);
}

void VornexRenderer::ApplyFullViewport() { ApplyViewport(0, 0, renderWidth, renderHeight, 0.0f, 1.0f); }

// ---------------------------------------------------------------------------------------
// Cache reset

void VornexRenderer::ResetStateCache(bool forgetConstantGeneration) {
    blendMode = 9;
    cullMode = kUnset;
    alphaTestMode = 3;
    alphaReference = kUnset;
    depthFunction = depthBias = slopeDepthBias = kUnset;
    depthWrite = 1;
    vertexShaderKnown = pixelShaderKnown = false;
    stencilPass = stencilFail = stencilZFail = stencilFunction = stencilReference = stencilMask = kUnset;
    srgbWrite = kUnset;
    for (SamplerCache& s : samplers) s = SamplerCache{nullptr, false, 0};
    if (forgetConstantGeneration) ++constantGeneration;
    if (!device) return;
    stencilEnable = 0;
    stencilWriteMask = 0;
    device->SetRenderState(RS_STENCILENABLE, 0);
    device->SetRenderState(RS_STENCILWRITEMASK, 0);
    for (uint32_t stage = 0; stage < kSamplerStageCount; ++stage) {
        device->SetSamplerState(stage, SAMP_MAGFILTER, TEXF_LINEAR);
        device->SetSamplerState(stage, SAMP_MINFILTER, TEXF_LINEAR);
        device->SetSamplerState(stage, SAMP_MIPFILTER, TEXF_POINT);
        device->SetSamplerState(stage, SAMP_ADDRESSU, TADDRESS_WRAP);
        device->SetSamplerState(stage, SAMP_ADDRESSV, TADDRESS_WRAP);
        device->SetSamplerState(stage, SAMP_MAXMIPLEVEL, 0);
        device->SetSamplerState(stage, SAMP_BORDERCOLOR, 0);
        device->SetSamplerState(stage, SAMP_SRGBTEXTURE, 0);
    }
}

// ---------------------------------------------------------------------------------------
// Camera and shader constants

void VornexRenderer::SetCameraState(const Matrix& viewMatrix, const Matrix& projectionMatrix, const Matrix& third,
                                    uint8_t flag) {
    view = viewMatrix;
    projection = projectionMatrix;
    thirdMatrix = third;
    inverseView.Inverse(view);
    inverseProjection.Inverse(projection);
    viewProjection.Mul(projection, view);
    inverseViewProjection.Inverse(viewProjection);
    thirdView.Mul(view, third);
    thirdViewProjection.Mul(viewProjection, third);
    mirrored = viewProjection.Det() < 0.0f;
    if (hardwareDepth) {
        depthScale = 1.0f;
    } else {
        // The view-space depth of the far clip point.
        Vector far(0, 0, 1, 1);
        far.TransformHomogen(inverseProjection);
        depthScale = far.z != 0.0f ? 1.0f / far.z : 1.0f;
    }
    SetGlobalShaderConstants();
}

void VornexRenderer::SetUITemplateCamera(const Matrix& viewMatrix) {
    SetCameraState(viewMatrix, projection, thirdMatrix, 0);
}

void VornexRenderer::SetSceneConstants(uint8_t flag) {
    const Vector vs = flag ? sceneGlobalVector : Vector(0, 1, 0, 0);
    const Vector ps(sceneParameterValues.x, sceneParameterValues.y, sceneParameterValues.z,
                    1.0f - sceneParameterValues.w);
    SetVertexShaderConstants(249, &vs.x, 1);
    SetPixelShaderConstants(220, &ps.x, 1);
}

void VornexRenderer::ProjectionConstants(Vector out[3]) const {
    const float w = static_cast<float>(renderWidth ? renderWidth : 1);
    const float h = static_cast<float>(renderHeight ? renderHeight : 1);
    const Matrix& P = inverseProjection;
    const float p00 = P.r[0].x, p11 = P.r[1].y, p23 = P.r[2].w, p33 = P.r[3].w;
    out[0] = Vector(1.0f / w, 1.0f / h, 2.0f * p00 / w, -2.0f * p11 / h);
    out[1] = Vector(0.5f / w, 0.5f / h, (0.5f / w - 1.0f) * p00, (0.5f / h + 1.0f) * p11);
    out[2] = Vector(p00, p11, p23, p33);
}

void VornexRenderer::SetGlobalShaderConstants() {
    appliedConstantGeneration = constantGeneration;
    const Matrix& P = inverseProjection;
    // Registers c223, c218 and c219 hold the reconstruction of view positions from
    // screen positions and depth.
    Vector projectionConstants[3];
    ProjectionConstants(projectionConstants);
    const Vector &c223 = projectionConstants[0], &c218 = projectionConstants[1], &c219 = projectionConstants[2];
    Vector c221(-1, 1, 1, 1), c222(1, -1, 1, 1);
    c221.TransformHomogen(P);
    c222.TransformHomogen(P);
    const Vector c247(static_cast<float>(frameSeconds[0]), static_cast<float>(frameSeconds[1]), 0, 0);
    const float range = blockInForce.linearDepthRange * depthScale;
    const Vector c248(depthScale, 0.0f, range != 0.0f ? 1.0f / range : 0.0f, 0.0f);
    SetPixelShaderConstants(223, &c223.x, 1);
    SetPixelShaderConstants(218, &c218.x, 1);
    SetPixelShaderConstants(219, &c219.x, 1);
    SetPixelShaderConstants(221, &c221.x, 1);
    SetPixelShaderConstants(222, &c222.x, 1);
    SetPixelShaderConstants(247, &c247.x, 1);
    SetPixelShaderConstants(248, &c248.x, 1);
    // ps_3_0 reads only c0 to c223: the pixel shaders read the same two vectors here.
    SetPixelShaderConstants(kPixelFrameTimesRegister, &c247.x, 1);
    SetPixelShaderConstants(kPixelDepthParamsRegister, &c248.x, 1);
    // Vertex shaders that animate by time read the frame times at the same register.
    SetVertexShaderConstants(kVertexFrameTimesRegister, &c247.x, 1);
    SetTexture(8, nullptr, 0);  // the global texture of the scene state, when it exists
    SetTexture(9, targets[TARGET_REFRACTION].texture, SAMPLER_CLAMP_U | SAMPLER_CLAMP_V);
    SetTexture(10, DepthSourceTexture(), SAMPLER_CLAMP_U | SAMPLER_CLAMP_V | SAMPLER_POINT);
}
