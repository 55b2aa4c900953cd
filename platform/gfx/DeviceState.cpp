// Device state with the original's defaults, and draws with their records.
#include <cstring>

#include "platform/gfx/DeviceImpl.h"
#include "platform/gfx/GlBackend.h"

namespace gfx::detail {
namespace {

constexpr uint32_t FloatBits(float f) {
    return __builtin_bit_cast(uint32_t, f);
}

// Known render states; any other index is refused as the original refuses it.
bool KnownRenderState(uint32_t s) {
    switch (s) {
    case RS_ZENABLE: case RS_FILLMODE: case RS_SHADEMODE: case RS_ZWRITEENABLE: case RS_ALPHATESTENABLE:
    case RS_LASTPIXEL: case RS_SRCBLEND: case RS_DESTBLEND: case RS_CULLMODE: case RS_ZFUNC: case RS_ALPHAREF:
    case RS_ALPHAFUNC: case RS_DITHERENABLE: case RS_ALPHABLENDENABLE: case RS_FOGENABLE: case RS_SPECULARENABLE:
    case RS_FOGCOLOR: case RS_FOGTABLEMODE: case RS_FOGSTART: case RS_FOGEND: case RS_FOGDENSITY:
    case RS_RANGEFOGENABLE: case RS_STENCILENABLE: case RS_STENCILFAIL: case RS_STENCILZFAIL: case RS_STENCILPASS:
    case RS_STENCILFUNC: case RS_STENCILREF: case RS_STENCILMASK: case RS_STENCILWRITEMASK: case RS_TEXTUREFACTOR:
    case RS_CLIPPING: case RS_LIGHTING: case RS_AMBIENT: case RS_FOGVERTEXMODE: case RS_COLORVERTEX:
    case RS_LOCALVIEWER: case RS_NORMALIZENORMALS: case RS_DIFFUSEMATERIALSOURCE: case RS_SPECULARMATERIALSOURCE:
    case RS_AMBIENTMATERIALSOURCE: case RS_EMISSIVEMATERIALSOURCE: case RS_VERTEXBLEND: case RS_CLIPPLANEENABLE:
    case RS_POINTSIZE: case RS_POINTSIZE_MIN: case RS_POINTSPRITEENABLE: case RS_POINTSCALEENABLE:
    case RS_POINTSCALE_A: case RS_POINTSCALE_B: case RS_POINTSCALE_C: case RS_MULTISAMPLEANTIALIAS:
    case RS_MULTISAMPLEMASK: case RS_PATCHEDGESTYLE: case RS_DEBUGMONITORTOKEN: case RS_POINTSIZE_MAX:
    case RS_INDEXEDVERTEXBLENDENABLE: case RS_COLORWRITEENABLE: case RS_TWEENFACTOR: case RS_BLENDOP:
    case RS_POSITIONDEGREE: case RS_NORMALDEGREE: case RS_SCISSORTESTENABLE: case RS_SLOPESCALEDEPTHBIAS:
    case RS_ANTIALIASEDLINEENABLE: case RS_MINTESSELLATIONLEVEL: case RS_MAXTESSELLATIONLEVEL:
    case RS_ADAPTIVETESS_X: case RS_ADAPTIVETESS_Y: case RS_ADAPTIVETESS_Z: case RS_ADAPTIVETESS_W:
    case RS_ENABLEADAPTIVETESSELLATION: case RS_TWOSIDEDSTENCILMODE: case RS_CCW_STENCILFAIL:
    case RS_CCW_STENCILZFAIL: case RS_CCW_STENCILPASS: case RS_CCW_STENCILFUNC: case RS_COLORWRITEENABLE1:
    case RS_COLORWRITEENABLE2: case RS_COLORWRITEENABLE3: case RS_BLENDFACTOR: case RS_SRGBWRITEENABLE:
    case RS_DEPTHBIAS: case RS_SEPARATEALPHABLENDENABLE: case RS_SRCBLENDALPHA: case RS_DESTBLENDALPHA:
    case RS_BLENDOPALPHA:
        return true;
    default:
        return (s >= RS_WRAP0 && s <= RS_WRAP7) || (s >= RS_WRAP8 && s <= RS_WRAP15);
    }
}

// Vertices a draw of primitiveCount primitives reads.
uint32_t VertexCount(PrimitiveType type, uint32_t primitives) {
    switch (type) {
    case PT_POINTLIST: return primitives;
    case PT_LINELIST: return primitives * 2;
    case PT_LINESTRIP: return primitives + 1;
    case PT_TRIANGLELIST: return primitives * 3;
    case PT_TRIANGLESTRIP:
    case PT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
    }
}

uint32_t DeclTypeSize(uint8_t type) {
    static const uint8_t kSizes[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    return type < sizeof(kSizes) ? kSizes[type] : 0;
}

TextureBinding DescribeTexture(ObjectCore* core) {
    TextureBinding b{};
    if (auto* t = dynamic_cast<TextureImpl*>(core)) {
        b = {t->serial, RTYPE_TEXTURE, t->format, t->width, t->height, static_cast<uint32_t>(t->levels.size())};
    } else if (auto* c = dynamic_cast<CubeTextureImpl*>(core)) {
        b = {c->serial, RTYPE_CUBETEXTURE, c->format, c->edge, c->edge, c->levelCount};
    }
    return b;
}

}  // namespace

void SetDefaultStates(StateBlock* block, bool autoDepth) {
    auto& rs = block->renderStates;
    rs.fill(0);
    rs[RS_ZENABLE] = autoDepth ? ZB_TRUE : ZB_FALSE;
    rs[RS_FILLMODE] = FILL_SOLID;
    rs[RS_SHADEMODE] = SHADE_GOURAUD;
    rs[RS_ZWRITEENABLE] = 1;
    rs[RS_LASTPIXEL] = 1;
    rs[RS_SRCBLEND] = BLEND_ONE;
    rs[RS_DESTBLEND] = BLEND_ZERO;
    rs[RS_CULLMODE] = CULL_CCW;
    rs[RS_ZFUNC] = CMP_LESSEQUAL;
    rs[RS_ALPHAFUNC] = CMP_ALWAYS;
    rs[RS_FOGEND] = FloatBits(1.0f);
    rs[RS_FOGDENSITY] = FloatBits(1.0f);
    rs[RS_STENCILFAIL] = STENCILOP_KEEP;
    rs[RS_STENCILZFAIL] = STENCILOP_KEEP;
    rs[RS_STENCILPASS] = STENCILOP_KEEP;
    rs[RS_STENCILFUNC] = CMP_ALWAYS;
    rs[RS_STENCILMASK] = 0xFFFFFFFFu;
    rs[RS_STENCILWRITEMASK] = 0xFFFFFFFFu;
    rs[RS_TEXTUREFACTOR] = 0xFFFFFFFFu;
    rs[RS_CLIPPING] = 1;
    rs[RS_LIGHTING] = 1;
    rs[RS_COLORVERTEX] = 1;
    rs[RS_LOCALVIEWER] = 1;
    rs[RS_DIFFUSEMATERIALSOURCE] = MCS_COLOR1;
    rs[RS_SPECULARMATERIALSOURCE] = MCS_COLOR2;
    rs[RS_POINTSIZE] = FloatBits(1.0f);
    rs[RS_POINTSIZE_MIN] = FloatBits(1.0f);
    rs[RS_POINTSCALE_A] = FloatBits(1.0f);
    rs[RS_MULTISAMPLEANTIALIAS] = 1;
    rs[RS_MULTISAMPLEMASK] = 0xFFFFFFFFu;
    rs[RS_POINTSIZE_MAX] = FloatBits(64.0f);
    rs[RS_COLORWRITEENABLE] = 0xF;
    rs[RS_BLENDOP] = BLENDOP_ADD;
    rs[RS_POSITIONDEGREE] = DEGREE_CUBIC;
    rs[RS_NORMALDEGREE] = DEGREE_LINEAR;
    rs[RS_MINTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[RS_MAXTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[RS_ADAPTIVETESS_Z] = FloatBits(1.0f);
    rs[RS_CCW_STENCILFAIL] = STENCILOP_KEEP;
    rs[RS_CCW_STENCILZFAIL] = STENCILOP_KEEP;
    rs[RS_CCW_STENCILPASS] = STENCILOP_KEEP;
    rs[RS_CCW_STENCILFUNC] = CMP_ALWAYS;
    rs[RS_COLORWRITEENABLE1] = 0xF;
    rs[RS_COLORWRITEENABLE2] = 0xF;
    rs[RS_COLORWRITEENABLE3] = 0xF;
    rs[RS_BLENDFACTOR] = 0xFFFFFFFFu;
    rs[RS_SRCBLENDALPHA] = BLEND_ONE;
    rs[RS_DESTBLENDALPHA] = BLEND_ZERO;
    rs[RS_BLENDOPALPHA] = BLENDOP_ADD;
    for (auto& stage : block->samplerStates) {
        stage.fill(0);
        stage[SAMP_ADDRESSU] = TADDRESS_WRAP;
        stage[SAMP_ADDRESSV] = TADDRESS_WRAP;
        stage[SAMP_ADDRESSW] = TADDRESS_WRAP;
        stage[SAMP_MAGFILTER] = TEXF_POINT;
        stage[SAMP_MINFILTER] = TEXF_POINT;
        stage[SAMP_MIPFILTER] = TEXF_NONE;
        stage[SAMP_MAXANISOTROPY] = 1;
    }
}

// Everything back to the defaults; bindings dropped; targets are the implicit ones.
void DeviceImpl::ResetState() {
    for (ObjectCore*& t : state.textures) Rebind<ObjectCore>(t, nullptr);
    for (SurfaceImpl*& rt : state.renderTargets) Rebind<SurfaceImpl>(rt, nullptr);
    Rebind<SurfaceImpl>(state.depthStencil, nullptr);
    Rebind<VertexShaderImpl>(state.vertexShader, nullptr);
    Rebind<PixelShaderImpl>(state.pixelShader, nullptr);
    Rebind<DeclarationImpl>(state.declaration, nullptr);
    Rebind<IndexBufferImpl>(state.indices, nullptr);
    for (StreamSlot& s : state.streams) Rebind<VertexBufferImpl>(s.buffer, nullptr);
    state.streams.fill(StreamSlot{});
    state.fvf = 0;
    SetDefaultStates(&state.states, params.enableAutoDepthStencil != 0);
    std::memset(&state.vertexConstants, 0, sizeof(state.vertexConstants));
    std::memset(&state.pixelConstants, 0, sizeof(state.pixelConstants));

    SurfaceImpl* back = implicitSwapChain->backBuffer.get();
    Rebind(state.renderTargets[0], back);
    if (autoDepth) Rebind(state.depthStencil, autoDepth.get());
    state.viewport = {0, 0, back->width, back->height, 0.0f, 1.0f};
    state.scissor = {0, 0, static_cast<int32_t>(back->width), static_cast<int32_t>(back->height)};
    stateSnapshot.reset();
    vertexSnapshot.reset();
    pixelSnapshot.reset();
}

// ---------------------------------------------------------------- states

Result DeviceImpl::SetRenderState(RenderStateType s, uint32_t value) {
    CallScope scope(this, CallKind::SetRenderState);
    LogCall(CallKind::SetRenderState, {s, value});
    if (s >= kRenderStateCount || !KnownRenderState(s))
        return Report(true, CallKind::SetRenderState, "render-state-unknown", "state %u", s);
    if (state.states.renderStates[s] == value) return Dropped();
    state.states.renderStates[s] = value;
    StatesChanged();
    return OK;
}

Result DeviceImpl::GetRenderState(RenderStateType s, uint32_t* value) {
    CallScope scope(this, CallKind::Other);
    if (!value || s >= kRenderStateCount || !KnownRenderState(s)) return ERR_INVALIDCALL;
    *value = state.states.renderStates[s];
    return OK;
}

Result DeviceImpl::SetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t value) {
    CallScope scope(this, CallKind::SetSamplerState);
    LogCall(CallKind::SetSamplerState, {sampler, type, value});
    if (sampler >= kSamplerStageCount || type == 0 || type >= kSamplerStateCount)
        return Report(true, CallKind::SetSamplerState, "sampler-state-unknown", "sampler %u state %u", sampler, type);
    if (state.states.samplerStates[sampler][type] == value) return Dropped();
    state.states.samplerStates[sampler][type] = value;
    StatesChanged();
    return OK;
}

Result DeviceImpl::GetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t* value) {
    CallScope scope(this, CallKind::Other);
    if (!value || sampler >= kSamplerStageCount || type == 0 || type >= kSamplerStateCount) return ERR_INVALIDCALL;
    *value = state.states.samplerStates[sampler][type];
    return OK;
}

Result DeviceImpl::SetTexture(uint32_t stage, BaseTexture* texture) {
    CallScope scope(this, CallKind::SetTexture);
    if (stage >= kSamplerStageCount)
        return Report(true, CallKind::SetTexture, "texture-stage", "stage %u", stage);
    ObjectCore* core;
    if (!Own(texture, &core, CallKind::SetTexture, "texture")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetTexture, {stage}, core);
    if (core && (core->pool == POOL_SYSTEMMEM || core->pool == POOL_SCRATCH))
        return Report(true, CallKind::SetTexture, "texture-pool", "SYSTEMMEM and SCRATCH textures cannot be bound");
    if (state.textures[stage] == core) return Dropped();
    Rebind(state.textures[stage], core);
    return OK;
}

Result DeviceImpl::GetTexture(uint32_t stage, BaseTexture** texture) {
    CallScope scope(this, CallKind::Other);
    if (stage >= kSamplerStageCount) return ERR_INVALIDCALL;
    return HandOut(dynamic_cast<BaseTexture*>(state.textures[stage]), texture);
}

Result DeviceImpl::SetVertexShader(VertexShader* shader) {
    CallScope scope(this, CallKind::SetVertexShader);
    VertexShaderImpl* impl;
    if (!Own(shader, &impl, CallKind::SetVertexShader, "shader")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetVertexShader, {}, impl);
    if (state.vertexShader == impl) return Dropped();
    Rebind(state.vertexShader, impl);
    return OK;
}

Result DeviceImpl::GetVertexShader(VertexShader** shader) {
    CallScope scope(this, CallKind::Other);
    return HandOut<VertexShader>(state.vertexShader, shader);
}

Result DeviceImpl::SetPixelShader(PixelShader* shader) {
    CallScope scope(this, CallKind::SetPixelShader);
    PixelShaderImpl* impl;
    if (!Own(shader, &impl, CallKind::SetPixelShader, "shader")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetPixelShader, {}, impl);
    if (state.pixelShader == impl) return Dropped();
    Rebind(state.pixelShader, impl);
    return OK;
}

Result DeviceImpl::GetPixelShader(PixelShader** shader) {
    CallScope scope(this, CallKind::Other);
    return HandOut<PixelShader>(state.pixelShader, shader);
}

Result DeviceImpl::SetConstants(bool pixel, uint32_t start, const float* data, uint32_t count, CallKind call) {
    if (!data && count) return ERR_INVALIDCALL;
    LogCall(call, {start, count, static_cast<uint32_t>(ConstantKind::Float), pixel}, nullptr, nullptr, data,
            static_cast<size_t>(count) * 16);
    const uint64_t end = static_cast<uint64_t>(start) + count;
    if (end > kMaxFloatConstants)
        return Report(true, call, "constant-range", "registers %u..%llu beyond %u", start,
                      static_cast<unsigned long long>(end) - 1, kMaxFloatConstants);
    if (pixel && end > kPixelShaderFloatConstants)
        Report(false, call, "constant-beyond-ps30", "pixel constants c%u..c%llu are beyond ps_3_0", start,
               static_cast<unsigned long long>(end) - 1);
    if (count == 0) return OK;  // nothing to copy; data may be null
    ConstantBlock& block = pixel ? state.pixelConstants : state.vertexConstants;
    if (std::memcmp(block.floats[start].data(), data, static_cast<size_t>(count) * 16) == 0) return Dropped();
    std::memcpy(block.floats[start].data(), data, static_cast<size_t>(count) * 16);
    (pixel ? pixelSnapshot : vertexSnapshot).reset();
    return OK;
}

Result DeviceImpl::SetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count) {
    CallScope scope(this, CallKind::SetVertexShaderConstant);
    return SetConstants(false, start, data, count, CallKind::SetVertexShaderConstant);
}

Result DeviceImpl::SetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count) {
    CallScope scope(this, CallKind::SetPixelShaderConstant);
    return SetConstants(true, start, data, count, CallKind::SetPixelShaderConstant);
}

Result DeviceImpl::GetVertexShaderConstantF(uint32_t start, float* data, uint32_t count) {
    CallScope scope(this, CallKind::Other);
    if (!data || static_cast<uint64_t>(start) + count > kMaxFloatConstants) return ERR_INVALIDCALL;
    if (count) std::memcpy(data, state.vertexConstants.floats[start].data(), static_cast<size_t>(count) * 16);
    return OK;
}

Result DeviceImpl::GetPixelShaderConstantF(uint32_t start, float* data, uint32_t count) {
    CallScope scope(this, CallKind::Other);
    if (!data || static_cast<uint64_t>(start) + count > kMaxFloatConstants) return ERR_INVALIDCALL;
    if (count) std::memcpy(data, state.pixelConstants.floats[start].data(), static_cast<size_t>(count) * 16);
    return OK;
}

namespace {

// OK_FALSE when the registers already held the values.
Result CopyInts(ConstantBlock& block, uint32_t start, const int32_t* data, uint32_t count, bool bools) {
    const uint32_t limit = bools ? kBoolConstants : kIntConstants;
    if ((!data && count) || static_cast<uint64_t>(start) + count > limit) return ERR_INVALIDCALL;
    if (count == 0) return OK;
    void* to = bools ? static_cast<void*>(&block.bools[start]) : static_cast<void*>(block.ints[start].data());
    const size_t bytes = static_cast<size_t>(count) * (bools ? 4 : 16);
    if (std::memcmp(to, data, bytes) == 0) return OK_FALSE;
    std::memcpy(to, data, bytes);
    return OK;
}

}  // namespace

Result DeviceImpl::SetVertexShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) {
    CallScope scope(this, CallKind::SetVertexShaderConstant);
    LogCall(CallKind::SetVertexShaderConstant, {start, count, static_cast<uint32_t>(ConstantKind::Int), 0}, nullptr, nullptr, data,
            data ? static_cast<size_t>(count) * 16 : 0);
    const Result r = CopyInts(state.vertexConstants, start, data, count, false);
    if (Failed(r)) return Report(true, CallKind::SetVertexShaderConstant, "constant-range", "int registers");
    if (r == OK_FALSE) return Dropped();
    vertexSnapshot.reset();
    return OK;
}

Result DeviceImpl::SetPixelShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) {
    CallScope scope(this, CallKind::SetPixelShaderConstant);
    LogCall(CallKind::SetPixelShaderConstant, {start, count, static_cast<uint32_t>(ConstantKind::Int), 1}, nullptr, nullptr, data,
            data ? static_cast<size_t>(count) * 16 : 0);
    const Result r = CopyInts(state.pixelConstants, start, data, count, false);
    if (Failed(r)) return Report(true, CallKind::SetPixelShaderConstant, "constant-range", "int registers");
    if (r == OK_FALSE) return Dropped();
    pixelSnapshot.reset();
    return OK;
}

Result DeviceImpl::SetVertexShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) {
    CallScope scope(this, CallKind::SetVertexShaderConstant);
    LogCall(CallKind::SetVertexShaderConstant, {start, count, static_cast<uint32_t>(ConstantKind::Bool), 0}, nullptr, nullptr, data,
            data ? static_cast<size_t>(count) * 4 : 0);
    const Result r = CopyInts(state.vertexConstants, start, data, count, true);
    if (Failed(r)) return Report(true, CallKind::SetVertexShaderConstant, "constant-range", "bool registers");
    if (r == OK_FALSE) return Dropped();
    vertexSnapshot.reset();
    return OK;
}

Result DeviceImpl::SetPixelShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) {
    CallScope scope(this, CallKind::SetPixelShaderConstant);
    LogCall(CallKind::SetPixelShaderConstant, {start, count, static_cast<uint32_t>(ConstantKind::Bool), 1}, nullptr, nullptr, data,
            data ? static_cast<size_t>(count) * 4 : 0);
    const Result r = CopyInts(state.pixelConstants, start, data, count, true);
    if (Failed(r)) return Report(true, CallKind::SetPixelShaderConstant, "constant-range", "bool registers");
    if (r == OK_FALSE) return Dropped();
    pixelSnapshot.reset();
    return OK;
}

// ---------------------------------------------------------------- input

Result DeviceImpl::SetFVF(uint32_t fvf) {
    CallScope scope(this, CallKind::SetFVF);
    LogCall(CallKind::SetFVF, {fvf});
    if (!state.declaration && state.fvf == fvf) return Dropped();
    // An FVF replaces the declaration, as in the original.
    Rebind<DeclarationImpl>(state.declaration, nullptr);
    state.fvf = fvf;
    return OK;
}

Result DeviceImpl::GetFVF(uint32_t* fvf) {
    CallScope scope(this, CallKind::Other);
    if (!fvf) return ERR_INVALIDCALL;
    *fvf = state.fvf;
    return OK;
}

Result DeviceImpl::SetVertexDeclaration(VertexDeclaration* declaration) {
    CallScope scope(this, CallKind::SetVertexDeclaration);
    DeclarationImpl* impl;
    if (!Own(declaration, &impl, CallKind::SetVertexDeclaration, "declaration")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetVertexDeclaration, {}, impl);
    if (state.declaration == impl) return Dropped();  // a bound declaration has already cleared the FVF
    Rebind(state.declaration, impl);
    if (impl) state.fvf = 0;
    return OK;
}

Result DeviceImpl::GetVertexDeclaration(VertexDeclaration** declaration) {
    CallScope scope(this, CallKind::Other);
    return HandOut<VertexDeclaration>(state.declaration, declaration);
}

Result DeviceImpl::SetStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) {
    CallScope scope(this, CallKind::SetStreamSource);
    if (stream >= kMaxStreams) return Report(true, CallKind::SetStreamSource, "stream-index", "stream %u", stream);
    VertexBufferImpl* impl;
    if (!Own(buffer, &impl, CallKind::SetStreamSource, "buffer")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetStreamSource, {stream, offset, stride}, impl);
    if (impl && offset >= impl->bytes.size())
        return Report(true, CallKind::SetStreamSource, "stream-offset", "offset %u beyond buffer of %zu bytes", offset,
                      impl->bytes.size());
    StreamSlot& slot = state.streams[stream];
    if (slot.buffer == impl && slot.offset == offset && slot.stride == stride) return Dropped();
    Rebind(state.streams[stream].buffer, impl);
    state.streams[stream].offset = offset;
    state.streams[stream].stride = stride;
    return OK;
}

Result DeviceImpl::SetStreamSourceFreq(uint32_t stream, uint32_t setting) {
    CallScope scope(this, CallKind::SetStreamSourceFreq);
    LogCall(CallKind::SetStreamSourceFreq, {stream, setting});
    if (stream >= kMaxStreams) return Report(true, CallKind::SetStreamSourceFreq, "stream-index", "stream %u", stream);
    const uint32_t flags = setting & (STREAMSOURCE_INDEXEDDATA | STREAMSOURCE_INSTANCEDATA);
    if (flags == (STREAMSOURCE_INDEXEDDATA | STREAMSOURCE_INSTANCEDATA) ||
        (stream == 0 && (setting & STREAMSOURCE_INSTANCEDATA)) || (flags != 0 && (setting & 0x3FFFFFFFu) == 0))
        return Report(true, CallKind::SetStreamSourceFreq, "stream-frequency", "stream %u setting 0x%08X", stream,
                      setting);
    if (state.streams[stream].frequency == setting) return Dropped();
    state.streams[stream].frequency = setting;
    return OK;
}

Result DeviceImpl::SetIndices(IndexBuffer* buffer) {
    CallScope scope(this, CallKind::SetIndices);
    IndexBufferImpl* impl;
    if (!Own(buffer, &impl, CallKind::SetIndices, "buffer")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetIndices, {}, impl);
    if (state.indices == impl) return Dropped();
    Rebind(state.indices, impl);
    return OK;
}

// ---------------------------------------------------------------- draws

Result DeviceImpl::CheckDrawState(CallKind call, PrimitiveType type, uint32_t primitiveCount, uint32_t vertexCount,
                                  uint32_t firstVertex, bool indexed, uint32_t indexStart) {
    if (!inScene) return Report(true, call, "draw-outside-scene", "draw outside BeginScene/EndScene");
    if (type < PT_POINTLIST || type > PT_TRIANGLEFAN || primitiveCount == 0)
        return Report(true, call, "draw-arguments", "type %u count %u", type, primitiveCount);
    if (!state.declaration && state.fvf == 0) return Report(true, call, "draw-no-input-layout", "no declaration or FVF");
    SurfaceImpl* rt0 = state.renderTargets[0];
    for (uint32_t i = 1; i < kMaxRenderTargets; ++i) {
        SurfaceImpl* rt = state.renderTargets[i];
        if (rt && (rt->width != rt0->width || rt->height != rt0->height))
            return Report(true, call, "draw-target-size-mismatch", "render target %u is %ux%u, target 0 is %ux%u", i,
                          rt->width, rt->height, rt0->width, rt0->height);
    }
    if (state.depthStencil && (state.depthStencil->width < rt0->width || state.depthStencil->height < rt0->height ||
                               state.depthStencil->multiSample != rt0->multiSample))
        return Report(true, call, "draw-depth-mismatch", "depth surface %ux%u (ms %u) with target %ux%u (ms %u)",
                      state.depthStencil->width, state.depthStencil->height, state.depthStencil->multiSample,
                      rt0->width, rt0->height, rt0->multiSample);
    for (uint32_t stage = 0; stage < kSamplerStageCount; ++stage) {
        ObjectCore* t = state.textures[stage];
        if (!t) continue;
        for (SurfaceImpl* rt : state.renderTargets)
            if (rt && rt->container == t)
                Report(false, call, "draw-texture-is-target", "stage %u samples a bound render target", stage);
    }
    if (indexed) {
        if (!state.indices) return Report(true, call, "draw-no-indices", "indexed draw without an index buffer");
        const uint32_t indexBytes = state.indices->format == FMT_INDEX32 ? 4 : 2;
        const uint64_t needed = (static_cast<uint64_t>(indexStart) + VertexCount(type, primitiveCount)) * indexBytes;
        if (needed > state.indices->bytes.size())
            return Report(true, call, "draw-index-range", "indices up to byte %llu of %zu",
                          static_cast<unsigned long long>(needed), state.indices->bytes.size());
    }
    if (vertexCount == 0) return OK;  // user-pointer draws bring their own vertices
    // Stream 0 must hold every vertex the draw reads (with index-data frequency the range
    // is left to the indices), and in an instanced indexed draw each instance stream
    // every instance's element.
    const StreamSlot& s0 = state.streams[0];
    if (!s0.buffer) return Report(true, call, "draw-no-stream", "stream 0 has no vertex buffer");
    uint32_t stride = s0.stride;
    if (state.declaration) {
        uint32_t end = 0;
        for (const VertexElement& e : *state.declaration->elements)
            if (e.stream == 0 && e.type != DECLTYPE_UNUSED) end = std::max(end, e.offset + DeclTypeSize(e.type));
        if (end > stride) return Report(true, call, "draw-stride", "stride %u shorter than the declaration's %u", stride, end);
    }
    if (!(s0.frequency & STREAMSOURCE_INDEXEDDATA)) {
        const uint64_t needed = s0.offset + (static_cast<uint64_t>(firstVertex) + vertexCount) * stride;
        if (needed > s0.buffer->bytes.size())
            return Report(true, call, "draw-vertex-range", "vertices up to byte %llu of %zu",
                          static_cast<unsigned long long>(needed), s0.buffer->bytes.size());
        return OK;
    }
    if (!indexed || !state.declaration) return OK;
    const uint32_t instances = s0.frequency & 0x3FFFFFFFu;
    for (uint32_t i = 1; i < kMaxStreams; ++i) {
        const StreamSlot& s = state.streams[i];
        if (!(s.frequency & STREAMSOURCE_INSTANCEDATA)) continue;
        uint32_t end = 0;
        for (const VertexElement& e : *state.declaration->elements)
            if (e.stream == i && e.type != DECLTYPE_UNUSED) end = std::max(end, e.offset + DeclTypeSize(e.type));
        if (end == 0) continue;
        if (!s.buffer) return Report(true, call, "draw-no-stream", "instance stream %u has no vertex buffer", i);
        const uint32_t divider = s.frequency & 0x3FFFFFFFu;
        const uint64_t rows = (static_cast<uint64_t>(instances) + divider - 1) / divider;
        const uint64_t last = s.offset + (rows - 1) * s.stride + end;
        if (last > s.buffer->bytes.size())
            return Report(true, call, "draw-instance-range", "stream %u: instances up to byte %llu of %zu", i,
                          static_cast<unsigned long long>(last), s.buffer->bytes.size());
    }
    return OK;
}

std::shared_ptr<const std::vector<uint8_t>> DeviceImpl::CopyUserVertices(const void* data, uint32_t count,
                                                                         uint32_t stride) const {
    if (drawRecordMode == DrawRecordMode::Off || !data) return nullptr;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    return std::make_shared<const std::vector<uint8_t>>(bytes, bytes + static_cast<size_t>(count) * stride);
}

// Callers build a record only while draws are recorded (a UP draw's copy of its vertices
// included).
void DeviceImpl::RecordDraw(DrawRecord record) {
    if (drawRecordMode == DrawRecordMode::Off) return;
    if (drawRecordMode == DrawRecordMode::LastFrame && recordsFrame != presents) drawRecords.clear();
    recordsFrame = presents;
    if (!stateSnapshot) stateSnapshot = std::make_shared<const StateBlock>(state.states);
    if (!vertexSnapshot) vertexSnapshot = std::make_shared<const ConstantBlock>(state.vertexConstants);
    if (!pixelSnapshot) pixelSnapshot = std::make_shared<const ConstantBlock>(state.pixelConstants);
    record.frame = presents;
    record.thread = os::CurrentThreadId();
    record.states = stateSnapshot;
    record.vertexConstants = vertexSnapshot;
    record.pixelConstants = pixelSnapshot;
    for (uint32_t i = 0; i < kSamplerStageCount; ++i) record.textures[i] = DescribeTexture(state.textures[i]);
    for (uint32_t i = 0; i < kMaxRenderTargets; ++i)
        record.renderTargets[i] = state.renderTargets[i] ? state.renderTargets[i]->serial : 0;
    record.depthStencil = state.depthStencil ? state.depthStencil->serial : 0;
    record.viewport = state.viewport;
    record.scissor = state.scissor;
    record.vertexShader = {state.vertexShader ? state.vertexShader->serial : 0,
                           state.vertexShader ? state.vertexShader->constants : nullptr};
    record.pixelShader = {state.pixelShader ? state.pixelShader->serial : 0,
                          state.pixelShader ? state.pixelShader->constants : nullptr};
    record.fvf = state.fvf;
    record.declaration = state.declaration ? state.declaration->serial : 0;
    record.declarationElements = state.declaration ? state.declaration->elements : nullptr;
    for (uint32_t i = 0; i < kMaxStreams; ++i) {
        const StreamSlot& s = state.streams[i];
        record.streams[i] = {s.buffer ? s.buffer->serial : 0, s.offset, s.stride, s.frequency};
    }
    record.indices = state.indices ? state.indices->serial : 0;
    drawRecords.push_back(std::move(record));
}

namespace {

DrawRecord NewRecord(CallKind call, PrimitiveType type, uint32_t count) {
    DrawRecord r{};
    r.call = call;
    r.primitiveType = type;
    r.primitiveCount = count;
    return r;
}

}  // namespace

Result DeviceImpl::DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount) {
    CallScope scope(this, CallKind::DrawPrimitive);
    LogCall(CallKind::DrawPrimitive, {type, startVertex, primitiveCount});
    const Result r = CheckDrawState(CallKind::DrawPrimitive, type, primitiveCount,
                                    std::max(1u, VertexCount(type, primitiveCount)), startVertex, false, 0);
    if (Failed(r)) return r;
    if (drawRecordMode != DrawRecordMode::Off) {
        DrawRecord record = NewRecord(CallKind::DrawPrimitive, type, primitiveCount);
        record.startVertex = startVertex;
        RecordDraw(std::move(record));
    }
    if (backend) {
        DrawCall d{};
        d.call = CallKind::DrawPrimitive;
        d.type = type;
        d.primitiveCount = primitiveCount;
        d.startVertex = startVertex;
        backend->Draw(state, d);
    }
    return OK;
}

Result DeviceImpl::DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t minIndex,
                                        uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount) {
    CallScope scope(this, CallKind::DrawIndexedPrimitive);
    LogCall(CallKind::DrawIndexedPrimitive,
            {type, static_cast<uint32_t>(baseVertex), minIndex, numVertices, startIndex, primitiveCount});
    if (baseVertex < 0 || numVertices == 0)
        return Report(true, CallKind::DrawIndexedPrimitive, "draw-arguments", "base vertex %d, %u vertices",
                      baseVertex, numVertices);
    const Result r = CheckDrawState(CallKind::DrawIndexedPrimitive, type, primitiveCount, numVertices,
                                    static_cast<uint32_t>(baseVertex) + minIndex, true, startIndex);
    if (Failed(r)) return r;
    if (drawRecordMode != DrawRecordMode::Off) {
        DrawRecord record = NewRecord(CallKind::DrawIndexedPrimitive, type, primitiveCount);
        record.baseVertex = baseVertex;
        record.minIndex = minIndex;
        record.numVertices = numVertices;
        record.startIndex = startIndex;
        RecordDraw(std::move(record));
    }
    if (backend) {
        DrawCall d{};
        d.call = CallKind::DrawIndexedPrimitive;
        d.type = type;
        d.primitiveCount = primitiveCount;
        d.baseVertex = baseVertex;
        d.minIndex = minIndex;
        d.numVertices = numVertices;
        d.startIndex = startIndex;
        backend->Draw(state, d);
    }
    return OK;
}

Result DeviceImpl::DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertexData,
                                   uint32_t stride) {
    CallScope scope(this, CallKind::DrawPrimitiveUP);
    if (!vertexData || stride == 0)
        return Report(true, CallKind::DrawPrimitiveUP, "draw-arguments", "no vertex data or stride");
    LogCall(CallKind::DrawPrimitiveUP, {type, primitiveCount, stride}, nullptr, nullptr, vertexData,
            static_cast<size_t>(VertexCount(type, primitiveCount)) * stride);
    const Result r = CheckDrawState(CallKind::DrawPrimitiveUP, type, primitiveCount, 0, 0, false, 0);
    if (Failed(r)) return r;
    if (backend) {
        DrawCall d{};
        d.call = CallKind::DrawPrimitiveUP;
        d.type = type;
        d.primitiveCount = primitiveCount;
        d.userVertices = vertexData;
        d.userStride = stride;
        backend->Draw(state, d);
    }
    // The original unbinds stream 0 after a user-pointer draw.
    Bind(nullptr, state.streams[0].buffer);
    state.streams[0] = StreamSlot{};
    if (drawRecordMode != DrawRecordMode::Off) {
        DrawRecord record = NewRecord(CallKind::DrawPrimitiveUP, type, primitiveCount);
        record.userStride = stride;
        record.userVertices = CopyUserVertices(vertexData, VertexCount(type, primitiveCount), stride);
        RecordDraw(std::move(record));
    }
    return OK;
}

Result DeviceImpl::DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                          uint32_t primitiveCount, const void* indexData, Format indexFormat,
                                          const void* vertexData, uint32_t stride) {
    CallScope scope(this, CallKind::DrawIndexedPrimitiveUP);
    if (!vertexData || !indexData || stride == 0 || numVertices == 0 ||
        (indexFormat != FMT_INDEX16 && indexFormat != FMT_INDEX32))
        return Report(true, CallKind::DrawIndexedPrimitiveUP, "draw-arguments", "missing data, stride or format");
    if (callLogging) {
        // The vertices, then the indices.
        const size_t vertexBytes = static_cast<size_t>(minIndex + numVertices) * stride;
        const size_t indexBytes = static_cast<size_t>(VertexCount(type, primitiveCount)) * (indexFormat == FMT_INDEX32 ? 4 : 2);
        std::vector<uint8_t> bytes(static_cast<const uint8_t*>(vertexData), static_cast<const uint8_t*>(vertexData) + vertexBytes);
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(indexData), static_cast<const uint8_t*>(indexData) + indexBytes);
        LogCall(CallKind::DrawIndexedPrimitiveUP, {type, minIndex, numVertices, primitiveCount, indexFormat, stride},
                nullptr, nullptr, bytes.data(), bytes.size());
    }
    const Result r = CheckDrawState(CallKind::DrawIndexedPrimitiveUP, type, primitiveCount, 0, 0, false, 0);
    if (Failed(r)) return r;
    if (backend) {
        DrawCall d{};
        d.call = CallKind::DrawIndexedPrimitiveUP;
        d.type = type;
        d.primitiveCount = primitiveCount;
        d.minIndex = minIndex;
        d.numVertices = numVertices;
        d.userVertices = vertexData;
        d.userStride = stride;
        d.userIndices = indexData;
        d.userIndexFormat = indexFormat;
        backend->Draw(state, d);
    }
    // User-pointer indexed draws unbind stream 0 and the index buffer, as in the original.
    Bind(nullptr, state.streams[0].buffer);
    state.streams[0] = StreamSlot{};
    Rebind<IndexBufferImpl>(state.indices, nullptr);
    if (drawRecordMode != DrawRecordMode::Off) {
        DrawRecord record = NewRecord(CallKind::DrawIndexedPrimitiveUP, type, primitiveCount);
        record.minIndex = minIndex;
        record.numVertices = numVertices;
        record.userStride = stride;
        record.userIndexFormat = indexFormat;
        record.userVertices = CopyUserVertices(vertexData, minIndex + numVertices, stride);
        RecordDraw(std::move(record));
    }
    return OK;
}

}  // namespace gfx::detail
