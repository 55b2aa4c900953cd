// Drawing of mesh rendering data (render thread), its shader variants and its live list.
//
// A part draws with one of seven shader variants of its family, chosen by the pass (the
// pass table below) and resolved after reading, on device restore and after a settings
// change. A preset's parts draw for one or more instances: one after the other from
// vertex buffer A, or, in an instanced pass, once with the instances in stream 1. Draws
// made while the batch is on are kept (1024 records), sorted near to far and drawn as
// runs of equal draws at the flush. Main-memory meshes skin on the CPU into one scratch
// vertex block and draw from it with their index copy, triangles sorted when asked.
//
// Threads: the live list under its lock (any thread); everything else on the render
// thread, including the batch, the scratch vertices and the shared declaration.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Sync.h"
#include "platform/gfx/GfxDevice.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "scene/mesh/MeshData.h"

namespace {

CriticalSection gMeshLiveLock;
MeshTemplateRenderingData* gMeshLiveHead = nullptr;
uint32_t gMeshLiveCount = 0;

gfx::VertexDeclaration* gMeshSecondaryDeclaration = nullptr;
gfx::VertexBuffer* gMeshInstanceBuffer = nullptr;

std::vector<uint8_t> gMeshScratchVertices;  // grows only

MeshDrawBatchRecord gMeshBatch[kMeshDrawBatchSize];
uint32_t gMeshBatchCount = 0;
bool gMeshBatching = false;
uint32_t gMeshBatchPass = 0;
uint32_t gMeshBatchMode = 0;

constexpr float kWeightScale = 0.003921569f;  // 1 / 255
constexpr float kAlphaReferenceScale = -0.003921569f;
constexpr float kSortKeyBias = 10000.0f;
constexpr uint32_t kVertexPartRegister = 198;
constexpr uint32_t kVertexUVRegister = 195;
constexpr uint32_t kVertexDepthRegister = 200;
constexpr uint32_t kPixelPartRegister = 194;
// The renderer clock scrolling texture coordinates follow: the engine clock. No caller's
// draw words choose another (the entities' and the tasks' draws carry none for it), so
// every draw takes this one.
constexpr uint32_t kScrollClock = 0;

gfx::Device* MeshDevice() { return gVornexRenderer.Device(); }

VertexShaderObject* PartVS(const MeshPart& p, MeshPartShader s) { return static_cast<VertexShaderObject*>(p.shaders.objects[s]); }
PixelShaderObject* PartPS(const MeshPart& p, MeshPartShader s) { return static_cast<PixelShaderObject*>(p.shaders.objects[s]); }

// The option names removed below quality 2, and the further ones removed at quality 0.
constexpr const char* kBelowTwo[] = {"NORMAL_MAP_TEXTURE", "SOFTNESS", "SHADOWMAP_FILTERING"};
constexpr const char* kAtZero[] = {"ENV_MAP", "DESATURATION", "SHADOWMAP"};

// Overwrites with spaces the first occurrence of the option followed by a space or the end.
void RemoveOption(std::string& options, const char* name) {
    const size_t n = std::strlen(name);
    for (size_t at = options.find(name); at != std::string::npos; at = options.find(name, at + 1)) {
        if (at + n == options.size() || options[at + n] == ' ') {
            options.replace(at, n, n, ' ');
            return;
        }
    }
}

// The vertex and pixel shaders of the pass for a part of that class (table of the pass ids).
void PassShaders(const MeshPart& p, uint32_t pass, VertexShaderObject** vs, PixelShaderObject** ps) {
    const uint32_t cls = p.flags & kMeshPartClassMask;
    const bool instanced = (pass & kMeshPassInstanced) != 0;
    const MeshPartShader forwardVS = instanced ? MESH_SHADER_INSTANCING_VS : MESH_SHADER_FORWARD_VS;
    const MeshPartShader deferredVS = instanced ? MESH_SHADER_DEFERRED_INSTANCING_VS : MESH_SHADER_DEFERRED_VS;
    *vs = nullptr;
    *ps = nullptr;
    switch (pass & ~kMeshPassInstanced) {
        case kMeshPassForward:
            if (cls != 0) return;
            *vs = PartVS(p, forwardVS);
            // The stored part holds no word of its own that refraction is compared with:
            // the renderer's state (refraction on and its copy made) decides alone.
            *ps = (!instanced && gVornexRenderer.RefractionActive() && PartPS(p, MESH_SHADER_REFRACTION_PS))
                      ? PartPS(p, MESH_SHADER_REFRACTION_PS)
                      : PartPS(p, MESH_SHADER_FORWARD_PS);
            return;
        case kMeshPassSecond:
            if (cls != 1) return;
            *vs = PartVS(p, forwardVS), *ps = PartPS(p, MESH_SHADER_FORWARD_PS);
            return;
        case kMeshPassDeferred:
            if (cls != 1) return;
            *vs = PartVS(p, deferredVS), *ps = PartPS(p, MESH_SHADER_DEFERRED_PS);
            return;
        case kMeshPassThird:
            if (cls != 2) return;
            *vs = PartVS(p, forwardVS), *ps = PartPS(p, MESH_SHADER_FORWARD_PS);
            return;
        case kMeshPassAll:
            if (cls == 1) *vs = PartVS(p, deferredVS), *ps = PartPS(p, MESH_SHADER_DEFERRED_PS);
            else *vs = PartVS(p, forwardVS), *ps = PartPS(p, MESH_SHADER_FORWARD_PS);
            return;
        default:
            return;
    }
}

bool ForwardPass(uint32_t pass) {
    const uint32_t p = pass & ~kMeshPassInstanced;
    return p == kMeshPassForward || p == kMeshPassAll;
}

// The passes that light in the shader: the forward ones and the third class.
bool LitPass(uint32_t pass) { return ForwardPass(pass) || (pass & ~kMeshPassInstanced) == kMeshPassThird; }

// Culling of a part: the normal mode is counter-clockwise when the draw's mirroring
// matches the renderer's mirrored transform, clockwise otherwise.
uint32_t PartCull(const MeshPart& p, bool mirrored) {
    const bool same = mirrored == gVornexRenderer.CameraMirrored();
    const uint32_t normal = same ? gfx::CULL_CCW : gfx::CULL_CW;
    const uint32_t other = same ? gfx::CULL_CW : gfx::CULL_CCW;
    if (p.flags & kMeshPartTwoSided) return gfx::CULL_NONE;
    return (p.flags & kMeshPartMirroredCull) ? other : normal;
}

// The instance's world matrix: the attachment bone's matrix first when there is one.
Matrix PartWorld(const MeshPart& p, const Matrix& world, const float* bones, uint32_t boneCount) {
    if (p.attachmentBone == kMeshNoIndex || !bones || p.attachmentBone >= boneCount) return world;
    Matrix bone;
    bone.FromTransposed3x4(bones + size_t(p.attachmentBone) * 12);
    Matrix m;
    m.Mul(world, bone);  // the bone first, then the instance
    return m;
}

// The palette-directed constants: entries in order, each taking its vector count of
// parameter vectors; the first word0 entries go to the vertex shader.
void SetPaletteConstants(const MeshPart& p, bool vertexOnly) {
    const uint32_t entries = uint32_t(p.palette.size() / 8);
    const uint32_t vectors = uint32_t(p.parameters.size() / 16);
    uint32_t used = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t reg = 0, count = 0;
        std::memcpy(&reg, &p.palette[i * 8], 4);
        std::memcpy(&count, &p.palette[i * 8 + 4], 4);
        if (count > vectors - used) break;  // more vectors asked than the part holds
        const float* data = reinterpret_cast<const float*>(&p.parameters[size_t(used) * 16]);
        const bool vertex = i < p.word0;
        if (vertex) gVornexRenderer.SetVertexShaderConstants(reg, data, count);
        else if (!vertexOnly) gVornexRenderer.SetPixelShaderConstants(reg, data, count);
        used += count;
    }
}

void BindTextures(const MeshPart& p, bool samplerZeroOnly) {
    for (const MeshPartTexture& t : p.textures)
        if (!samplerZeroOnly || t.sampler == 0) gVornexRenderer.SetTexture(t.sampler, t.texture, t.flags);
}

// Four floats in one register: lane-wise arithmetic is the same IEEE arithmetic as the
// Vector operators, done at once.
using Lanes = float __attribute__((vector_size(16)));
Lanes Load(const Vector& v) {
    Lanes r;
    std::memcpy(&r, &v.x, sizeof r);
    return r;
}
Lanes Splat(float f) { return Lanes{f, f, f, f}; }

// The depth along the camera's view direction (weights 1, 1, 1, 0) of the point of the
// box placed by the world matrix nearest to the camera; exact for rotation, translation
// and scale (the box's axes stay orthogonal), as BoundingBox4::GetNearestPoint. Every
// sum and product is the one Vector's Transform3D, Dot3 and operators compute, in the
// same order: the three axes side by side in lanes.
float NearestPointDepth(const BoundingBox4& box, const Matrix& world, const Matrix& camera) {
    const Lanes low = Load(box.min), high = Load(box.max);
    const Lanes middle = (low + high) * Splat(0.5f);
    const Lanes half = (high - low) * Splat(0.5f);
    const Lanes axes[3] = {Load(world.r[0]), Load(world.r[1]), Load(world.r[2])};
    const Lanes centre = Splat(middle[0]) * axes[0] + Splat(middle[1]) * axes[1] + Splat(middle[2]) * axes[2] +
                         Splat(1.0f) * Load(world.r[3]);
    const Lanes eye = Load(camera.r[3]);
    const Lanes d = eye - centre;
    // Lane i: axis i's squared length, the eye's offset along it and their quotient.
    const Lanes x = {axes[0][0], axes[1][0], axes[2][0], 1.0f};
    const Lanes y = {axes[0][1], axes[1][1], axes[2][1], 0.0f};
    const Lanes z = {axes[0][2], axes[1][2], axes[2][2], 0.0f};
    const Lanes length2 = x * x + y * y + z * z;
    const Lanes along = Splat(d[0]) * x + Splat(d[1]) * y + Splat(d[2]) * z;
    const Lanes quotient = along / length2;
    Lanes nearest = centre;
    for (int i = 0; i < 3; ++i) {
        if (length2[i] <= 0.0f) continue;
        const float t = std::clamp(quotient[i], -half[i], half[i]);
        nearest += axes[i] * Splat(t);
    }
    const Lanes offset = nearest - eye;
    const Lanes view = Load(camera.r[2]);
    return offset[0] * view[0] + offset[1] * view[1] + offset[2] * view[2];
}

// The pass's depth state, taken before the parts change it and put back after them: a
// part's depth write "as the pass chooses" means the pass's choice, not the previous part's.
struct PassDepthState {
    PassDepthState() {
        if (gfx::Device* d = MeshDevice()) {
            d->GetRenderState(gfx::RS_ZFUNC, &function);
            d->GetRenderState(gfx::RS_ZWRITEENABLE, &write);
            d->GetRenderState(gfx::RS_DEPTHBIAS, &bias);
            d->GetRenderState(gfx::RS_SLOPESCALEDEPTHBIAS, &slope);
        }
    }
    ~PassDepthState() { gVornexRenderer.SetDepthState(function, uint8_t(write ? 1 : 0), bias, slope); }
    uint32_t function = gfx::CMP_LESSEQUAL, write = 1, bias = 0, slope = 0;
};

}  // namespace

// ---- Part shaders ---------------------------------------------------------------------

MeshPartShaders::MeshPartShaders(MeshPartShaders&& other) noexcept { *this = std::move(other); }

MeshPartShaders& MeshPartShaders::operator=(MeshPartShaders&& other) noexcept {
    if (this == &other) return *this;
    Release();
    for (uint32_t i = 0; i < MESH_SHADER_COUNT; ++i) {
        resources[i] = other.resources[i], objects[i] = other.objects[i];
        other.resources[i] = nullptr, other.objects[i] = nullptr;
    }
    return *this;
}

void MeshPartShaders::Release() {
    for (uint32_t i = 0; i < MESH_SHADER_COUNT; ++i) {
        if (resources[i]) resources[i]->Release();
        resources[i] = nullptr;
        objects[i] = nullptr;
    }
}

std::string MeshPart::QualityOptions(const std::string& options, uint32_t quality) {
    std::string text = options;
    if (quality < 2)
        for (const char* o : kBelowTwo) RemoveOption(text, o);
    if (quality == 0)
        for (const char* o : kAtZero) RemoveOption(text, o);
    return text;
}

void MeshPart::ResolveShaders() {
    shaders.Release();
    // Without definitions (tools, tests of the data alone) a part has no shaders.
    if (!gShaderManager || !gShaderManager->IsLoaded()) return;
    std::string text = QualityOptions(options, gVornexRenderer.QualityLevel());
    if (flags & kMeshPartTwoSided) text += " TWO_SIDED";
    auto get = [&](const std::string& o, MeshPartShader vs, MeshPartShader ps) {
        ResourceShader* v = nullptr;
        ResourceShader* p = nullptr;
        if (!gShaderManager->GetShader(family.c_str(), o.c_str(), &v, &p, SHADER_LOAD_HERE, false, 0)) return;
        if (vs < MESH_SHADER_COUNT) shaders.resources[vs] = v;
        else if (v) v->Release();
        if (ps < MESH_SHADER_COUNT) shaders.resources[ps] = p;
        else if (p) p->Release();
    };
    get(text, MESH_SHADER_FORWARD_VS, MESH_SHADER_FORWARD_PS);
    get(text + " INSTANCING", MESH_SHADER_INSTANCING_VS, MESH_SHADER_COUNT);
    if (flags & kMeshPartDeferred) {
        const std::string deferred = text + " DEFERRED";
        get(deferred, MESH_SHADER_DEFERRED_VS, MESH_SHADER_DEFERRED_PS);
        get(deferred + " INSTANCING", MESH_SHADER_DEFERRED_INSTANCING_VS, MESH_SHADER_COUNT);
    } else if (flags & kMeshPartRefraction) {
        get(text + " REFRACTION", MESH_SHADER_COUNT, MESH_SHADER_REFRACTION_PS);
    }
    for (uint32_t i = 0; i < MESH_SHADER_COUNT; ++i) {
        ResourceShader* r = shaders.resources[i];
        if (!r) continue;
        const bool vertex = i == MESH_SHADER_FORWARD_VS || i == MESH_SHADER_DEFERRED_VS ||
                            i == MESH_SHADER_INSTANCING_VS || i == MESH_SHADER_DEFERRED_INSTANCING_VS;
        shaders.objects[i] = vertex ? static_cast<ShaderObject*>(r->GetVertexShaderObject())
                                    : static_cast<ShaderObject*>(r->GetPixelShaderObject());
    }
}

// ---- Live list and device -------------------------------------------------------------

MeshTemplateRenderingData::MeshTemplateRenderingData() {
    CriticalSectionGuard guard(&gMeshLiveLock);
    next = gMeshLiveHead;
    if (gMeshLiveHead) gMeshLiveHead->previous = this;
    gMeshLiveHead = this;
    ++gMeshLiveCount;
}

MeshTemplateRenderingData::~MeshTemplateRenderingData() {
    {
        CriticalSectionGuard guard(&gMeshLiveLock);
        if (previous) previous->next = next;
        else gMeshLiveHead = next;
        if (next) next->previous = previous;
        --gMeshLiveCount;
    }
    // Batched records of this data would draw freed memory: drop them.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < gMeshBatchCount; ++i)
        if (gMeshBatch[i].data != this) gMeshBatch[kept++] = gMeshBatch[i];
    gMeshBatchCount = kept;
    ReleaseDeviceObjects();
}

uint32_t MeshTemplateRenderingData::LiveCount() {
    CriticalSectionGuard guard(&gMeshLiveLock);
    return gMeshLiveCount;
}

void MeshTemplateRenderingData::RequestResources(uint32_t bits) {
    for (const MeshShaderPreset& preset : presets)
        for (const MeshPart& part : preset.parts) {
            for (ResourceShader* r : part.shaders.resources)
                if (r) gResourceManager.SetResourceFlags(r, bits);
            for (const MeshPartTexture& t : part.textures)
                if (t.resource) gResourceManager.SetResourceFlags(t.resource, bits);
        }
}

uint32_t MeshTemplateRenderingData::GetPresetPassMask(uint32_t preset) const {
    return preset < presets.size() ? presets[preset].passMask : 0;
}

void MeshTemplateRenderingData::ResolveAllShaders() {
    for (MeshShaderPreset& preset : presets)
        for (MeshPart& part : preset.parts) part.ResolveShaders();
}

void MeshTemplateRenderingData::RefreshAllShaders() {
    CriticalSectionGuard guard(&gMeshLiveLock);
    for (MeshTemplateRenderingData* d = gMeshLiveHead; d; d = d->next) d->ResolveAllShaders();
}

void MeshTemplateRenderingData::CreateVertexDeclaration() {
    ReleaseVertexDeclaration();
    gfx::Device* device = MeshDevice();
    if (!device) return;
    const gfx::VertexElement elements[] = {
        {0, 0, gfx::DECLTYPE_FLOAT3, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
        {0, 12, gfx::DECLTYPE_FLOAT3, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_NORMAL, 0},
        {0, 24, gfx::DECLTYPE_FLOAT2, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_TEXCOORD, 0},
        gfx::kDeclEnd,
    };
    device->CreateVertexDeclaration(elements, &gMeshSecondaryDeclaration);
    device->CreateVertexBuffer(kMeshDrawBatchSize * kMeshInstanceStride, gfx::USAGE_DYNAMIC | gfx::USAGE_WRITEONLY, 0,
                               gfx::POOL_DEFAULT, &gMeshInstanceBuffer, nullptr);
}

void MeshTemplateRenderingData::ReleaseVertexDeclaration() {
    if (gMeshSecondaryDeclaration) gMeshSecondaryDeclaration->Release();
    if (gMeshInstanceBuffer) gMeshInstanceBuffer->Release();
    gMeshSecondaryDeclaration = nullptr;
    gMeshInstanceBuffer = nullptr;
}

// ---- Drawing --------------------------------------------------------------------------

void MeshTemplateRenderingData::UploadBones(const float* bones, uint32_t boneCount) {
    if (skinningBoneCount == 0 || renderBytes[8]) return;
    if (bones && boneCount) VertexShaderObject::SetBoneMatrixConstants(bones, std::min(boneCount, skinningBoneCount));
    else VertexShaderObject::ResetBoneMatrixConstants(skinningBoneCount);
}

void MeshTemplateRenderingData::SetStreams(bool instanced) {
    gfx::Device* device = MeshDevice();
    device->SetStreamSource(0, vertexBufferA, 0, stride);
    device->SetVertexDeclaration(instanced && declarationB ? declarationB : declarationA);
    device->SetIndices(indexBufferA);
    const Vector boxConstants[2] = {box.min, box.max};
    gVornexRenderer.SetVertexShaderConstants(kMeshBoxRegister, &boxConstants[0].x, 2);
    const Vector camera = gVornexRenderer.CameraWorldMatrix().r[3];
    gVornexRenderer.SetVertexShaderConstants(kMeshCameraRegister, &camera.x, 1);
}

void MeshTemplateRenderingData::DrawLineList(uint32_t pass, const MeshDrawBatchRecord* const* instances,
                                             uint32_t count) {
    if ((pass & ~kMeshPassInstanced) == kMeshPassSecond || !indexBufferB || indexWordB == 0) return;
    const ShaderPair& pair = gShaderManager ? gShaderManager->Fixed(0) : ShaderPair{};
    if (!pair.IsValid()) return;
    MeshDevice()->SetVertexDeclaration(declarationA);
    MeshDevice()->SetIndices(indexBufferB);
    pair.Bind();
    gVornexRenderer.SetBlendMode(0);
    gVornexRenderer.SetDepthState(gfx::CMP_LESSEQUAL, 1, 0, 0);
    for (uint32_t i = 0; i < count; ++i) {
        pair.vertexObject->SetModelMatrix(instances[i]->world, false);
        pair.vertexObject->SetModelColor(instances[i]->colour);
        gVornexRenderer.DrawIndexedPrimitive(gfx::PT_LINELIST, 0, 0, vertexCount, 0, indexWordB);
    }
}

void MeshTemplateRenderingData::DrawParts(uint32_t presetIndex, uint32_t pass, const MeshDrawBatchRecord* instances,
                                          uint32_t count, const float* bones, uint32_t boneCount,
                                          uint32_t stencilMode) {
    static const MeshDrawBatchRecord* pointers[kMeshDrawBatchSize];
    if (count > kMeshDrawBatchSize) count = kMeshDrawBatchSize;
    for (uint32_t i = 0; i < count; ++i) pointers[i] = &instances[i];
    DrawRecords(presetIndex, pass, pointers, count, bones, boneCount, stencilMode);
}

void MeshTemplateRenderingData::DrawRecords(uint32_t presetIndex, uint32_t pass,
                                            const MeshDrawBatchRecord* const* instances, uint32_t count,
                                            const float* bones, uint32_t boneCount, uint32_t stencilMode) {
    gfx::Device* device = MeshDevice();
    if (!device || count == 0) return;
    const bool hasPreset = presetIndex < presets.size();
    bool instanced = (pass & kMeshPassInstanced) != 0;
    if (instanced && (!declarationB || !gMeshInstanceBuffer || !vertexBufferA || count > kMeshDrawBatchSize)) {
        // No instancing stream: the instances one by one in the plain pass.
        pass &= ~kMeshPassInstanced;
        instanced = false;
    }

    // CPU skinning of the preset's vertex range.
    const bool cpuSkinned = bones && !mainMemoryVertices.empty() && vertexCount != 0 && hasPreset &&
                            (storageFlags & kMeshStorageMainMemoryOnly) && !instanced;
    bool skinned = false;
    if (cpuSkinned) {
        uint32_t lowest = 65535, highest = 0;
        for (const MeshPart& p : presets[presetIndex].parts) {
            if (p.lowestVertex == 0 && p.highestVertex == 0) {
                lowest = 0, highest = vertexCount - 1;
                break;
            }
            lowest = std::min<uint32_t>(lowest, p.lowestVertex);
            highest = std::max<uint32_t>(highest, p.highestVertex);
        }
        skinned = lowest <= highest && SkinVertices(lowest, highest, bones, boneCount);
    }
    if (!skinned && !vertexBufferA) return;

    const PassDepthState passDepth;
    UploadBones(bones, boneCount);
    SetStreams(instanced);
    if (LitPass(pass)) gVornexRenderer.SetSceneLighting();

    if (!hasPreset) {
        DrawLineList(pass, instances, count);
        device->SetIndices(nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        return;
    }

    // The instance stream: the world matrix's columns and the colour a part with flag
    // bit 11 takes (white for the others); refilled when the next part wants the other.
    int32_t streamColours = -1;
    auto fillInstances = [&](bool withColour) {
        if (streamColours == int32_t(withColour)) return true;
        void* mapped = nullptr;
        if (gMeshInstanceBuffer->Lock(0, count * kMeshInstanceStride, &mapped, gfx::LOCK_DISCARD) != gfx::OK || !mapped)
            return false;
        auto* out = static_cast<float*>(mapped);
        const Vector& factor = gVornexRenderer.ColorFactor();
        for (uint32_t i = 0; i < count; ++i, out += 16) {
            const Vector* r = instances[i]->world.r;
            const float columns[12] = {r[0].x, r[1].x, r[2].x, r[3].x, r[0].y, r[1].y, r[2].y, r[3].y,
                                       r[0].z, r[1].z, r[2].z, r[3].z};
            std::memcpy(out, columns, sizeof columns);
            const Vector colour = (withColour ? instances[i]->colour : Vector(1, 1, 1, 1)) * factor;
            std::memcpy(out + 12, &colour.x, 16);
        }
        gMeshInstanceBuffer->Unlock();
        streamColours = int32_t(withColour);
        return true;
    };
    if (instanced) {
        device->SetStreamSource(1, gMeshInstanceBuffer, 0, kMeshInstanceStride);
        device->SetStreamSourceFreq(0, gfx::STREAMSOURCE_INDEXEDDATA | count);
        device->SetStreamSourceFreq(1, gfx::STREAMSOURCE_INSTANCEDATA | 1);
    }

    const bool mirrored = instances[0]->mirrored;
    // A two-sided part turns its normals by the renderer's mirrored transform.
    const float mirrorSign = gVornexRenderer.CameraMirrored() ? -1.0f : 1.0f;
    const Vector cameraWorld = gVornexRenderer.CameraWorldMatrix().r[3];
    const double scrollSeconds = gVornexRenderer.FrameSeconds(kScrollClock);
    const uint16_t* indexWords = reinterpret_cast<const uint16_t*>(indexCopy);
    const bool index16 = indexDescA.format != gfx::FMT_INDEX32;
    for (const MeshPart& p : presets[presetIndex].parts) {
        if (p.triangleCount == 0 || (p.flags & kMeshPartSkipped)) continue;
        VertexShaderObject* vs = nullptr;
        PixelShaderObject* ps = nullptr;
        PassShaders(p, pass, &vs, &ps);
        if (!vs || !ps) continue;
        gVornexRenderer.SetVertexShader(vs->DeviceShader());
        gVornexRenderer.SetPixelShader(ps->DeviceShader());

        // The part's values.
        const float cullSign = (p.flags & kMeshPartTwoSided) ? mirrorSign
                               : (p.flags & kMeshPartMirroredCull) ? -1.0f : 1.0f;
        const Vector c198(gVornexRenderer.GlobalRenderFloat(0), 0.0f, gVornexRenderer.GlobalRenderFloat(1), cullSign);
        gVornexRenderer.SetVertexShaderConstants(kVertexPartRegister, &c198.x, 1);
        float offset[2] = {p.vectors[1][0], p.vectors[1][1]};
        if (p.flags & kMeshPartScroll)
            for (uint32_t i = 0; i < 2; ++i)
                offset[i] = float(std::fmod(double(offset[i]) + double(p.vectors[2][i]) * scrollSeconds, 1.0));
        const Vector c195(p.vectors[0][0], p.vectors[0][1], offset[0], offset[1]);
        gVornexRenderer.SetVertexShaderConstants(kVertexUVRegister, &c195.x, 1);
        const float alphaSign = p.words[0] == 0 ? 0.0f : p.words[0] == 1 ? 1.0f : -1.0f;
        const float alphaScalar =
            p.words[0] != 0 ? float(p.words[1]) * kAlphaReferenceScale * alphaSign : 1.0f;
        const Vector c194(p.word9 * instances[0]->scalar, alphaSign, alphaScalar, 0.0f);
        gVornexRenderer.SetPixelShaderConstants(kPixelPartRegister, &c194.x, 1);
        SetPaletteConstants(p, false);
        BindTextures(p, false);
        uint32_t stencil = 0;
        if ((stencilMode & 1) && p.passKind >= 1 && p.passKind <= 4) stencil |= 1u << p.passKind;
        if (stencilMode & 2) stencil |= 1;
        if (stencil) gVornexRenderer.SetStencilWriteMask(stencil);
        gVornexRenderer.SetBlendMode(p.words[2]);
        const uint32_t write = p.words[4] == 2 ? 1 : p.words[4] == 1 ? 0 : passDepth.write;
        gVornexRenderer.SetDepthState(p.words[5] ? gfx::CMP_LESSEQUAL : gfx::CMP_ALWAYS, uint8_t(write), p.words[3],
                                      p.words[3]);
        gVornexRenderer.SetCullMode(PartCull(p, mirrored));

        const uint32_t minIndex = (p.lowestVertex == 0 && p.highestVertex == 0) ? 0 : p.lowestVertex;
        const uint32_t numVertices =
            (p.lowestVertex == 0 && p.highestVertex == 0) ? vertexCount : uint32_t(p.highestVertex) - p.lowestVertex + 1;
        if (instanced) {
            if (!fillInstances((p.flags & kMeshPartInstanceColor) != 0)) continue;
            vs->SetCameraConstants();
            gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, minIndex, numVertices, p.firstTriangle * 3,
                                                 p.triangleCount);
            continue;
        }
        // A refracting part reads the scene behind it: the copy is brought up to date
        // under the part's box before each instance draws.
        const bool refracting = pass == kMeshPassForward && ps == PartPS(p, MESH_SHADER_REFRACTION_PS);
        for (uint32_t i = 0; i < count; ++i) {
            const Matrix world = PartWorld(p, instances[i]->world, bones, boneCount);
            if (refracting) gVornexRenderer.UpdateRefraction(box, world);
            vs->SetModelMatrix(world, false);
            vs->SetModelColor((p.flags & kMeshPartInstanceColor) ? instances[i]->colour : Vector(1, 1, 1, 1));
            if (!skinned) {
                gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, minIndex, numVertices,
                                                     p.firstTriangle * 3, p.triangleCount);
                continue;
            }
            if (!index16) continue;
            const uint16_t* indices = indexWords + size_t(p.firstTriangle) * 3;
            if (storageFlags & kMeshStorageSortTriangles) {
                Matrix inverse;
                inverse.Inverse(world);
                Vector local;
                local.Transform3D(inverse, cameraWorld);
                indices = SortTriangles(p, local);
            }
            gVornexRenderer.DrawIndexedPrimitiveUP(gfx::PT_TRIANGLELIST, minIndex, numVertices, p.triangleCount, indices,
                                                   gMeshScratchVertices.data(), stride);
        }
    }

    if (instanced) {
        device->SetStreamSourceFreq(0, 1);
        device->SetStreamSourceFreq(1, 1);
        device->SetStreamSource(1, nullptr, 0, 0);
    }
    if (ForwardPass(pass) && secondaryVertexBuffer && secondaryIndexBuffer)
        for (uint32_t i = 0; i < count; ++i) DrawSecondary(presetIndex, *instances[i]);
    device->SetIndices(nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
}

void MeshTemplateRenderingData::DrawSecondary(uint32_t presetIndex, const MeshDrawBatchRecord& instance) {
    gfx::Device* device = MeshDevice();
    if (!device || presetIndex >= presets.size() || !gMeshSecondaryDeclaration) return;
    if (!secondaryVertexBuffer || !secondaryIndexBuffer) return;
    bool bound = false;
    for (const MeshPart& p : presets[presetIndex].parts) {
        if (p.secondaryTriangleCount == 0) continue;
        VertexShaderObject* vs = PartVS(p, MESH_SHADER_FORWARD_VS);
        PixelShaderObject* ps = PartPS(p, MESH_SHADER_FORWARD_PS);
        if (!vs || !ps) continue;
        if (!bound) {
            device->SetStreamSource(0, secondaryVertexBuffer, 0, kMeshSecondaryStride);
            device->SetVertexDeclaration(gMeshSecondaryDeclaration);
            device->SetIndices(secondaryIndexBuffer);
            bound = true;
        }
        gVornexRenderer.SetVertexShader(vs->DeviceShader());
        gVornexRenderer.SetPixelShader(ps->DeviceShader());
        gVornexRenderer.SetBlendMode(p.words[2]);
        gVornexRenderer.SetCullMode(gfx::CULL_NONE);
        gVornexRenderer.SetDepthState(p.words[5] ? gfx::CMP_LESSEQUAL : gfx::CMP_ALWAYS, p.words[2] == 0 ? 1 : 0,
                                      p.words[3], p.words[3]);
        SetPaletteConstants(p, true);
        const float width = float(std::max(1u, gVornexRenderer.RenderWidth()));
        const float height = float(std::max(1u, gVornexRenderer.RenderHeight()));
        const float blend = p.words[2] != 0 ? std::clamp(2.0f - p.word8, 0.0f, 1.0f) : 2.0f;
        const Vector c200(p.word7 / width, p.word7 / height, blend, 0.0f);
        gVornexRenderer.SetVertexShaderConstants(kVertexDepthRegister, &c200.x, 1);
        const Vector zero(0, 0, 0, 0);
        gVornexRenderer.SetPixelShaderConstants(0, &zero.x, 1);
        vs->SetModelMatrix(instance.world, false);
        vs->SetModelColor((p.flags & kMeshPartInstanceColor) ? instance.colour : Vector(1, 1, 1, 1));
        const uint32_t first = p.secondaryFirstTriangle;
        gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, first * 2, uint32_t(p.secondaryTriangleCount) * 2,
                                             first * 3, p.secondaryTriangleCount);
    }
}

bool MeshTemplateRenderingData::DrawPassMask(const Matrix& world, bool mirrored, uint32_t presetIndex,
                                             const float* bones, uint32_t boneCount) {
    gfx::Device* device = MeshDevice();
    if (!device || !gShaderManager || presetIndex >= presets.size() || !vertexBufferA) return false;
    const MeshShaderPreset& preset = presets[presetIndex];
    const uint32_t enabled = gVornexRenderer.EnabledPassMask();
    if ((preset.passMask & enabled) == 0) return false;
    UploadBones(bones, boneCount);
    SetStreams(false);
    bool drew = false;
    for (const MeshPart& p : preset.parts) {
        const uint32_t k = p.passKind;
        if (k < 1 || k > 4 || !(enabled & (1u << k))) continue;
        if (p.triangleCount == 0 || (p.flags & kMeshPartSkipped)) continue;
        const bool skin = bones && skinningBoneCount != 0 && p.attachmentBone == kMeshNoIndex;
        const ShaderPair& pair = gShaderManager->Fixed(skin ? 6 : 1);
        if (!pair.IsValid()) continue;
        pair.Bind();
        gVornexRenderer.SetColorWriteMask(1u << (k - 1));
        gVornexRenderer.SetCullMode(PartCull(p, mirrored));
        pair.vertexObject->SetModelMatrix(PartWorld(p, world, bones, boneCount), false);
        pair.vertexObject->SetModelColor(Vector(1, 1, 1, 1));
        const bool whole = p.lowestVertex == 0 && p.highestVertex == 0;
        gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, whole ? 0 : p.lowestVertex,
                                             whole ? vertexCount : uint32_t(p.highestVertex) - p.lowestVertex + 1,
                                             p.firstTriangle * 3, p.triangleCount);
        drew = true;
    }
    gVornexRenderer.SetColorWriteMask(gfx::COLORWRITEENABLE_RED | gfx::COLORWRITEENABLE_GREEN |
                                      gfx::COLORWRITEENABLE_BLUE | gfx::COLORWRITEENABLE_ALPHA);
    device->SetIndices(nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    return drew;
}

void MeshTemplateRenderingData::DrawDepth(const Matrix& world, bool mirrored, uint32_t presetIndex,
                                          const float* bones, uint32_t boneCount, bool instanced) {
    gfx::Device* device = MeshDevice();
    if (!device || !gShaderManager || presetIndex >= presets.size() || !vertexBufferA) return;
    UploadBones(bones, boneCount);
    SetStreams(instanced);
    for (const MeshPart& p : presets[presetIndex].parts) {
        if (p.triangleCount == 0 || (p.flags & (kMeshPartNoDepthA | kMeshPartNoDepthB))) continue;
        uint32_t bits = 0;
        if (skinningBoneCount != 0 && p.attachmentBone == kMeshNoIndex) bits |= 1;
        if (p.words[0] != 0) bits |= 2;
        if (instanced) bits |= 4;
        if (p.flags & kMeshPartDepthConstant) bits |= 8;
        const ShaderPair& pair = gShaderManager->ShadowMap(bits);
        if (!pair.IsValid()) continue;
        pair.Bind();
        if ((p.flags & kMeshPartDepthConstant) && p.parameters.size() >= 16) {
            // The parameter vector the palette sends to register 200.
            const uint32_t entries = uint32_t(p.palette.size() / 8);
            uint32_t used = 0;
            for (uint32_t i = 0; i < entries; ++i) {
                uint32_t reg = 0, n = 0;
                std::memcpy(&reg, &p.palette[i * 8], 4);
                std::memcpy(&n, &p.palette[i * 8 + 4], 4);
                if (size_t(used + n) * 16 > p.parameters.size()) break;
                if (i < p.word0 && reg <= kVertexDepthRegister && kVertexDepthRegister < reg + n) {
                    const float* v = reinterpret_cast<const float*>(&p.parameters[size_t(used + kVertexDepthRegister - reg) * 16]);
                    gVornexRenderer.SetVertexShaderConstants(kVertexDepthRegister, v, 1);
                    break;
                }
                used += n;
            }
        }
        if (p.words[0] != 0) BindTextures(p, true);
        gVornexRenderer.SetAlphaTest(p.words[0], p.words[1]);
        gVornexRenderer.SetCullMode(PartCull(p, mirrored));
        pair.vertexObject->SetModelMatrix(PartWorld(p, world, bones, boneCount), false);
        const bool whole = p.lowestVertex == 0 && p.highestVertex == 0;
        gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, whole ? 0 : p.lowestVertex,
                                             whole ? vertexCount : uint32_t(p.highestVertex) - p.lowestVertex + 1,
                                             p.firstTriangle * 3, p.triangleCount);
    }
    gVornexRenderer.SetAlphaTest(0, 0);
    device->SetIndices(nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
}

// ---- CPU skinning and triangle sorting ------------------------------------------------

const uint8_t* MeshTemplateRenderingData::ScratchVertices() { return gMeshScratchVertices.data(); }

bool MeshTemplateRenderingData::SkinVertices(uint32_t lowest, uint32_t highest, const float* bones,
                                             uint32_t boneCount) {
    const bool normal = (mainMemoryFlags & kMeshVertexNormal) != 0;
    const bool tangent = (mainMemoryFlags & kMeshVertexTangent) != 0;
    const uint32_t inSize = MeshSkinInputSize(mainMemoryFlags);
    const uint32_t outSize = MeshSkinOutputSize(mainMemoryFlags);
    if (!bones || highest >= vertexCount || lowest > highest || outSize > stride || mainMemorySize < inSize ||
        uint64_t(vertexCount) * mainMemorySize > mainMemoryVertices.size())
        return false;
    const size_t need = size_t(vertexCount) * stride;
    if (gMeshScratchVertices.size() < need) gMeshScratchVertices.resize(need);
    for (uint32_t v = lowest; v <= highest; ++v) {
        const uint8_t* in = &mainMemoryVertices[size_t(v) * mainMemorySize];
        float position[3], n[3] = {0, 0, 0}, t[4] = {0, 0, 0, 0};
        std::memcpy(position, in, 12);
        const uint8_t* indices = in + 12;
        const uint8_t* weights = in + 16;
        uint32_t at = 20;
        if (normal) std::memcpy(n, in + at, 12), at += 12;
        if (tangent) std::memcpy(t, in + at, 16), at += 16;
        float outP[3] = {0, 0, 0}, outN[3] = {0, 0, 0}, outT[3] = {0, 0, 0};
        for (uint32_t i = 0; i < 4 && weights[i] != 0; ++i) {
            if (indices[i] >= boneCount) continue;
            const float w = float(weights[i]) * kWeightScale;
            const float* m = bones + size_t(indices[i]) * 12;
            for (uint32_t r = 0; r < 3; ++r) {
                const float* row = m + r * 4;
                outP[r] += w * (row[0] * position[0] + row[1] * position[1] + row[2] * position[2] + row[3]);
                outN[r] += w * (row[0] * n[0] + row[1] * n[1] + row[2] * n[2]);
                outT[r] += w * (row[0] * t[0] + row[1] * t[1] + row[2] * t[2]);
            }
        }
        uint8_t* out = &gMeshScratchVertices[size_t(v) * stride];
        std::memcpy(out, outP, 12);
        uint32_t o = 12;
        if (normal) std::memcpy(out + o, outN, 12), o += 12;
        if (tangent) {
            const float values[4] = {outT[0], outT[1], outT[2], t[3]};
            int16_t packed[4];
            for (uint32_t i = 0; i < 4; ++i) {
                const float c = std::clamp(values[i], -1.0f, 1.0f);
                packed[i] = int16_t(c >= 0.0f ? c * 32767.0f : c * 32768.0f);
            }
            std::memcpy(out + o, packed, 8), o += 8;
        }
        std::memcpy(out + o, in + at, 4);
    }
    return true;
}

const uint16_t* MeshTemplateRenderingData::SortTriangles(const MeshPart& part, const Vector& point) {
    const uint16_t* indices = reinterpret_cast<const uint16_t*>(indexCopy) + size_t(part.firstTriangle) * 3;
    const uint32_t n = part.triangleCount;
    struct Entry {
        float distance;
        uint32_t triangle;
    };
    std::vector<Entry> order(n);
    for (uint32_t t = 0; t < n; ++t) {
        float best = INFINITY;
        for (uint32_t k = 0; k < 3; ++k) {
            const uint16_t v = indices[t * 3 + k];
            float p[3] = {0, 0, 0};
            if (v < vertexCount) std::memcpy(p, &gMeshScratchVertices[size_t(v) * stride], 12);
            const float dx = p[0] - point.x, dy = p[1] - point.y, dz = p[2] - point.z;
            best = std::min(best, dx * dx + dy * dy + dz * dz);
        }
        order[t] = {best, t};
    }
    std::stable_sort(order.begin(), order.end(), [](const Entry& a, const Entry& b) { return a.distance < b.distance; });
    sortedIndices.resize(size_t(n) * 3);
    for (uint32_t t = 0; t < n; ++t)
        std::memcpy(&sortedIndices[size_t(t) * 3], indices + size_t(order[t].triangle) * 3, 6);
    return sortedIndices.data();
}

// ---- The draw batch -------------------------------------------------------------------

void MeshTemplateRenderingData::BeginDrawBatch(uint32_t pass, uint32_t mode) {
    gMeshBatching = true;
    gMeshBatchCount = 0;
    gMeshBatchPass = pass;
    gMeshBatchMode = mode;
}

uint32_t MeshTemplateRenderingData::BatchedRecords() { return gMeshBatchCount; }
bool MeshTemplateRenderingData::Batching() { return gMeshBatching; }

void MeshTemplateRenderingData::Draw(MeshTemplateRenderingData* data, const Matrix& world, const Matrix& second,
                                     const BoundingBox4& localBox, const Vector& colour, float scalar, bool mirrored,
                                     uint32_t preset, const float* bones, uint32_t boneCount, uint32_t pass,
                                     uint32_t lastWord) {
    if (!data) return;
    const bool batched = gMeshBatching && !bones && !(pass & kMeshPassInstanced);
    if (batched && gMeshBatchCount == kMeshDrawBatchSize) {
        FlushDrawBatch(0);
        gMeshBatching = true;
    }
    MeshDrawBatchRecord single;
    MeshDrawBatchRecord& record = batched ? gMeshBatch[gMeshBatchCount] : single;
    record.world = world;
    record.second = second;
    record.colour = colour;
    record.callerWords[0] = record.callerWords[1] = 0;
    record.scalar = scalar;
    record.data = data;
    record.preset = preset;
    record.mirrored = mirrored;
    record.lastWord = lastWord;
    record.sortKey = 0.0f;
    if (!batched) {
        data->DrawParts(preset, pass, &record, 1, bones, boneCount, gMeshBatching ? gMeshBatchMode : 0);
        return;
    }
    const Matrix& camera = gVornexRenderer.CameraWorldMatrix();
    record.sortKey = NearestPointDepth(localBox, world, camera) + kSortKeyBias;
    ++gMeshBatchCount;
}

namespace {

// The fields of a record that decide whether two draws are one run, and their order
// among records of equal depth: data, preset, mirroring and last word, all descending.
struct BatchGroup {
    const MeshTemplateRenderingData* data;
    uint32_t preset;
    uint32_t lastWord;
    bool mirrored;
    bool operator==(const BatchGroup& o) const {
        return data == o.data && preset == o.preset && lastWord == o.lastWord && mirrored == o.mirrored;
    }
};

bool DrawsBefore(const BatchGroup& a, const BatchGroup& b) {
    if (a.data != b.data) return std::greater<const void*>()(a.data, b.data);
    if (a.preset != b.preset) return a.preset > b.preset;
    if (a.mirrored != b.mirrored) return a.mirrored > b.mirrored;
    return a.lastWord > b.lastWord;
}

// A float's bits as an unsigned value that orders as the float does (-0 as +0).
uint32_t OrderedBits(float f) {
    if (f == 0.0f) f = 0.0f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

// The batch's groups: every record's group number, the groups in draw order.
struct BatchGroups {
    static constexpr uint32_t kSlots = 2 * kMeshDrawBatchSize;  // open addressing, power of 2
    BatchGroup groups[kMeshDrawBatchSize];
    uint16_t rank[kMeshDrawBatchSize];
    uint16_t byRank[kMeshDrawBatchSize];
    uint16_t ofRecord[kMeshDrawBatchSize];
    uint32_t slotStamp[kSlots] = {};
    uint16_t slotGroup[kSlots] = {};
    uint32_t stamp = 0;
    uint32_t count = 0;

    static uint32_t Hash(const BatchGroup& g) {
        uint64_t h = reinterpret_cast<uintptr_t>(g.data);
        h ^= (uint64_t(g.preset) << 32 | g.lastWord) * 0x9E3779B97F4A7C15ull;
        h ^= uint64_t(g.mirrored) << 7;
        h *= 0xFF51AFD7ED558CCDull;
        return uint32_t(h >> 40);
    }
    uint16_t Find(const BatchGroup& g) {
        for (uint32_t slot = Hash(g) & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
            if (slotStamp[slot] != stamp) {
                slotStamp[slot] = stamp;
                slotGroup[slot] = uint16_t(count);
                groups[count] = g;
                return uint16_t(count++);
            }
            if (groups[slotGroup[slot]] == g) return slotGroup[slot];
        }
    }
    void Build(const MeshDrawBatchRecord* records, uint32_t n) {
        if (++stamp == 0) {  // the stamps wrapped: forget every slot
            std::fill(std::begin(slotStamp), std::end(slotStamp), 0u);
            stamp = 1;
        }
        count = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const MeshDrawBatchRecord& r = records[i];
            const BatchGroup g{r.data, r.preset, r.lastWord, r.mirrored};
            ofRecord[i] = (i > 0 && groups[ofRecord[i - 1]] == g) ? ofRecord[i - 1] : Find(g);
        }
        for (uint32_t i = 0; i < count; ++i) byRank[i] = uint16_t(i);
        std::sort(byRank, byRank + count,
                  [this](uint16_t a, uint16_t b) { return DrawsBefore(groups[a], groups[b]); });
        for (uint32_t i = 0; i < count; ++i) rank[byRank[i]] = uint16_t(i);
    }
};

BatchGroups gMeshBatchGroups;

}  // namespace

void MeshTemplateRenderingData::FlushDrawBatch(uint32_t) {
    gMeshBatching = false;
    const uint32_t n = gMeshBatchCount;
    // Three or more records sort near to far; equal depths by their group's order, then
    // in insertion order. The order is one integer per record: the depth's ordered bits,
    // the group's rank, the record's index.
    static uint64_t keys[kMeshDrawBatchSize];
    static const MeshDrawBatchRecord* order[kMeshDrawBatchSize];
    static uint16_t groupOf[kMeshDrawBatchSize];
    BatchGroups& groups = gMeshBatchGroups;
    groups.Build(gMeshBatch, n);
    if (n > 2) {
        for (uint32_t i = 0; i < n; ++i)
            keys[i] = uint64_t(OrderedBits(gMeshBatch[i].sortKey)) << 32 | uint32_t(groups.rank[groups.ofRecord[i]]) << 16 | i;
        std::sort(keys, keys + n);
    } else {
        for (uint32_t i = 0; i < n; ++i) keys[i] = i;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t index = uint32_t(keys[i] & 0xFFFF);
        order[i] = &gMeshBatch[index];
        groupOf[i] = groups.ofRecord[index];
    }
    // Runs of equal draws become one call with the run as its instances.
    for (uint32_t i = 0; i < n;) {
        uint32_t j = i + 1;
        while (j < n && groupOf[j] == groupOf[i]) ++j;
        const uint32_t pass = (j - i) > 1 ? (gMeshBatchPass | kMeshPassInstanced) : gMeshBatchPass;
        order[i]->data->DrawRecords(order[i]->preset, pass, &order[i], j - i, nullptr, 0, gMeshBatchMode);
        i = j;
    }
    gMeshBatchCount = 0;
}

void MeshTemplateRenderingData::DrawSkinned(const Matrix& world, const Vector& colour, const float* bones,
                                            uint32_t boneCount) {
    MeshDrawBatchRecord record{};
    record.world = world;
    record.second = world;
    record.colour = colour;
    record.scalar = 1.0f;
    record.data = this;
    DrawParts(0, kMeshPassAll, &record, 1, bones, boneCount);
}

// ---- The renderer's debug mesh tasks and device owner ---------------------------------

void DrawStreamedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Matrix& previous,
                      const BoundingBox4* box, const Vector& colour, uint32_t value, uint8_t flag, const float* records,
                      uint32_t recordCount) {
    MeshTemplateRenderingData::Draw(const_cast<MeshTemplateRenderingData*>(mesh), world, previous, *box, colour, 1.0f,
                                    flag != 0, value, records, records ? recordCount : 0, kMeshPassAll);
}

void DrawStreamedSkinnedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Vector& colour,
                             const float* records, uint32_t recordCount) {
    if (!mesh) return;
    const_cast<MeshTemplateRenderingData*>(mesh)->DrawSkinned(world, colour, records, records ? recordCount : 0);
}

void InstallMeshDeviceOwner() {
    DeviceObjectOwner owner;
    owner.release = [](void*) { MeshTemplateRenderingData::ReleaseVertexDeclaration(); };
    owner.create = [](void*) {
        MeshTemplateRenderingData::CreateVertexDeclaration();
        MeshTemplateRenderingData::RefreshAllShaders();
    };
    gVornexRenderer.SetDeviceObjectOwner(OWNER_MESH_DECLARATION, owner);
}

void ClearMeshDeviceOwner() {
    gVornexRenderer.SetDeviceObjectOwner(OWNER_MESH_DECLARATION, DeviceObjectOwner{});
}
