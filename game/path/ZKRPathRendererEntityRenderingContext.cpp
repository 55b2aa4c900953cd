// The path renderer's rendering context: the instance buffer build and the ribbon draw
// on the render thread, and the two command 47 operations that feed them.
#include "game/path/ZKRPathRendererEntityRenderingContext.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/math/Matrix.h"
#include "game/path/PathInstanceRecords.h"
#include "game/path/ZKRPathRendererTemplate.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/os/Clock.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderJobs.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ResourceShader.h"
#include "scene/particles/SharedQuad.h"

namespace {

// The ribbon's length unit: route length x 2.5 / 32767, as the records store it.
constexpr float kPathLengthUnit = 2.5f / 32767.0f;
constexpr uint32_t kPathBlendModeCount = 9;
constexpr uint32_t kPathBlendAlpha = 1;
enum : uint32_t { PATH_OP_BUILD = 0, PATH_OP_SQUAD = 1 };

const gfx::VertexElement kPositionElements[] = {
    {0, 0, gfx::DECLTYPE_SHORT4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
    gfx::kDeclEnd,
};
// Stream 0: the shared quad's corner. Stream 1: one record per segment (both points with
// their lengths, the side bytes, the marker bytes).
const gfx::VertexElement kInstancedElements[] = {
    {0, 0, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_BLENDWEIGHT, 0},
    {1, 0, gfx::DECLTYPE_SHORT4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
    {1, 8, gfx::DECLTYPE_SHORT4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_NORMAL, 0},
    {1, 16, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_COLOR, 0},
    {1, 20, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_COLOR, 1},
    gfx::kDeclEnd,
};

// Writes the record head of an operation: executor, op, context; then the caller's data.
template <class... T>
bool PostPathOp(uint32_t op, ZKRPathRendererEntityRenderingContext* c, const T&... data) {
    constexpr uint32_t dataBytes = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    constexpr uint32_t size = sizeof(RenderCallFunction) + sizeof(uintptr_t) + sizeof(void*) + dataBytes;
    if (!gVornexRenderer.BeginCommand(TASK_CALL, size)) return false;
    CommandRingBuffer& ring = gVornexRenderer.Ring();
    ring.WriteValue(RenderCallFunction(&ZKRPathRendererEntityRenderingContext::Execute));
    ring.WriteValue(uintptr_t(op));
    ring.WriteValue(c);
    (ring.WriteValue(data), ...);
    return true;
}

}  // namespace

ZKRPathRendererEntityRenderingContext::ZKRPathRendererEntityRenderingContext(
    const EntityRenderingContextSetup& setup, const ZKRPathRendererTemplate& t, uint32_t count, const Vector* points,
    float squad, float squadRaw, bool battlefield)
    : EntityRenderingContext(setup) {
    const PathRendererLook look = t.Look(battlefield);
    texture = look.texture;
    if (texture) {
        texture->AddRef();
        if (auto* tex = dynamic_cast<ResourceTexture*>(texture)) textureHandle = tex->Handle();
        // In the stream, so the reference is taken before any operation of this context.
        if (textureHandle) SubmitResourceAddRefJob(textureHandle, true);
    }
    vertexShader = look.vertexShader;
    pixelShader = look.pixelShader;
    if (vertexShader) vertexShader->AddRef();
    if (pixelShader) pixelShader->AddRef();

    ribbon[0] = look.width;
    ribbon[1] = look.mappingScale * 32767.0f * 0.4f;
    ribbon[2] = squad * kPathLengthUnit;
    ribbon[3] = kPathSignalHidden;
    colour = look.color.ToLinearVector();
    signalColour = look.signalColor.ToLinearVector();
    signalTimeout = look.signalTimeout > 0.0f ? look.signalTimeout : 0.0f;
    signalVelocity = look.signalVelocity >= kPathMinSignalVelocity ? look.signalVelocity : kPathMinSignalVelocity;
    blendMode = look.blendMode < kPathBlendModeCount ? look.blendMode : kPathBlendAlpha;
    level = look.level;
    depthBias = look.depthOffset * kPathDepthBiasScale;
    squadDistance = squad;
    squadRawDistance = squadRaw;
    signalStart = os::ReadCounter();

    if (count && points) {
        pointCopy = new Vector[count];
        std::copy(points, points + count, pointCopy);
        pointCount = count;
    }
    // The copy goes with the operation; the context keeps owning it until the build takes
    // it, so a context destroyed without its build (the operation refused by a stream that
    // is not running) frees it in its destructor, once.
    PostPathOp(PATH_OP_BUILD, this, pointCount, pointCopy);
}

ZKRPathRendererEntityRenderingContext::~ZKRPathRendererEntityRenderingContext() {
    Resource* held[3] = {texture, vertexShader, pixelShader};
    ReleaseResources(held, 3);
    if (textureHandle) textureHandle->Unref();
    if (instances) instances->Release();
    if (positionDeclaration) positionDeclaration->Release();
    if (instancedDeclaration) instancedDeclaration->Release();
    delete[] pointCopy;
}

void ZKRPathRendererEntityRenderingContext::PostSquadUpdate(float distance, float rawDistance) {
    PostPathOp(PATH_OP_SQUAD, this, distance, rawDistance);
}

void ZKRPathRendererEntityRenderingContext::Execute(uint32_t op, CommandRingBuffer& r) {
    ZKRPathRendererEntityRenderingContext* c = nullptr;
    if (!r.ReadValue(c) || !c) return;
    if (op == PATH_OP_BUILD) {
        uint32_t count = 0;
        Vector* copy = nullptr;
        if (r.ReadValue(count) && r.ReadValue(copy) && copy == c->pointCopy) c->BuildVertexData();
    } else if (op == PATH_OP_SQUAD) {
        float distance = 0.0f, rawDistance = 0.0f;
        if (r.ReadValue(distance) && r.ReadValue(rawDistance)) c->SetSquadDistances(distance, rawDistance);
    }
}

void ZKRPathRendererEntityRenderingContext::SetSquadDistances(float distance, float rawDistance) {
    squadDistance = distance;
    squadRawDistance = rawDistance;
    ribbon[2] = distance * kPathLengthUnit;
}

void ZKRPathRendererEntityRenderingContext::BuildVertexData() {
    Vector* copy = pointCopy;
    const uint32_t n = pointCount;
    pointCopy = nullptr;
    pointCount = 0;
    if (instances) instances->Release();
    instances = nullptr;
    segments = 0;
    VertexDeclarationCache* cache = gVornexRenderer.DeclarationCache();
    if (copy && n >= kPathMinRecordPoints && cache) {
        std::vector<uint8_t> records(size_t(n - 1) * kPathRecordBytes);
        std::vector<uint8_t> scratch(size_t(n) * 3);
        const PathRecordSummary s = BuildPathRecords(copy, n, records.data(), scratch.data());
        instances = cache->CreateVertexBuffer(uint32_t(records.size()), gfx::USAGE_WRITEONLY, gfx::POOL_MANAGED,
                                              records.data());
        if (instances) {
            box = s.box;
            routeLength = s.routeLength;
            segments = s.segments;
            if (!positionDeclaration)
                positionDeclaration = cache->GetOrCreate(kPositionElements, std::size(kPositionElements));
            if (!instancedDeclaration)
                instancedDeclaration = cache->GetOrCreate(kInstancedElements, std::size(kInstancedElements));
            signalStart = os::ReadCounter();
        }
    }
    delete[] copy;
}

float ZKRPathRendererEntityRenderingContext::SignalPosition(int64_t now) {
    const float t = float(double(now - signalStart) / double(os::kCounterFrequency));
    const float span = std::max(routeLength - squadDistance, 0.01f);
    const float travel = span / signalVelocity;
    if (t > signalTimeout + travel) {
        signalStart = now;
        return kPathSignalHidden;
    }
    if (t < 0.0f || t > travel) return kPathSignalHidden;
    return (std::fmod((squadRawDistance - squadDistance) + signalVelocity * t, span) + squadDistance) * kPathLengthUnit;
}

void ZKRPathRendererEntityRenderingContext::Draw(void*, const Matrix&, const RenderTaskArguments&) {
    if (segments == 0 || !instances) return;
    ribbon[3] = SignalPosition(os::ReadCounter());
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    r.SetVertexShaderConstants(kPathRibbonRegister, ribbon, 1);
    r.SetVertexShaderConstants(kPathBoxMinRegister, &box.min.x, 1);
    r.SetVertexShaderConstants(kPathBoxMaxRegister, &box.max.x, 1);
    r.SetPixelShaderConstants(kPathSignalColorRegister, &signalColour.x, 1);

    const DeviceObjectHandle* handle = textureHandle;
    if (!handle)
        if (auto* tex = dynamic_cast<ResourceTexture*>(texture)) handle = tex->Handle();
    r.SetTexture(0, handle, 0);

    VertexShaderObject* vs = vertexShader ? vertexShader->GetVertexShaderObject() : nullptr;
    PixelShaderObject* ps = pixelShader ? pixelShader->GetPixelShaderObject() : nullptr;
    if (!vs || !ps || !vs->DeviceShader() || !ps->DeviceShader()) return;
    gfx::VertexBuffer* quad = SharedQuadVertices();
    gfx::IndexBuffer* quadIndices = SharedQuadIndices();
    if (!quad || !quadIndices || !instancedDeclaration) return;
    Matrix model;
    model.LoadTranslation(0.0f, level, 0.0f);
    vs->SetModelMatrix(model, false);
    vs->SetModelColor(colour);

    device->SetStreamSource(0, quad, 0, 4);
    device->SetStreamSourceFreq(0, gfx::STREAMSOURCE_INDEXEDDATA | segments);
    device->SetStreamSource(1, instances, 0, kPathRecordBytes);
    device->SetStreamSourceFreq(1, gfx::STREAMSOURCE_INSTANCEDATA | 1u);
    device->SetIndices(quadIndices);
    device->SetVertexDeclaration(instancedDeclaration);
    r.SetVertexShader(vs->DeviceShader());
    r.SetPixelShader(ps->DeviceShader());
    r.SetBlendMode(blendMode);
    r.SetCullMode(gfx::CULL_NONE);
    r.SetDepthState(gfx::CMP_LESSEQUAL, 0, std::bit_cast<uint32_t>(depthBias), 0);
    r.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, 4, 0, 2);
    // The draw counted one quad; the other instances count here.
    r.AddPrimitives(2 * segments - 2);
    device->SetStreamSourceFreq(0, 1);
    device->SetStreamSourceFreq(1, 1);
    device->SetIndices(nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetStreamSource(1, nullptr, 0, 0);
}
