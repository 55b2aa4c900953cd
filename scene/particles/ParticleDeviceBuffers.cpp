// The particle runtime's device objects: the instance vertex buffer written as a ring,
// the quad, the expanded index buffer and the two declarations; the per-draw instance
// data written into the ring; and the draws.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/Log.h"
#include "core/config/ProjectConfig.h"
#include "core/profiler/Profiler.h"
#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ResourceShader.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/particles/SharedQuad.h"

namespace {

gfx::VertexBuffer* gParticleInstanceBuffer = nullptr;
gfx::VertexBuffer* gParticleQuadVertices = nullptr;
gfx::IndexBuffer* gParticleQuadIndices = nullptr;
gfx::IndexBuffer* gParticleExpandedIndices = nullptr;
gfx::VertexDeclaration* gParticleDeclarationVelocity = nullptr;
gfx::VertexDeclaration* gParticleDeclarationPlain = nullptr;
uint32_t gParticleCursor = kParticleInstanceBufferSize;
uint32_t gParticleGeneration = 1;

template <class T>
void ReleaseParticleObject(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

gfx::VertexBuffer* SharedQuadVertices() { return gParticleQuadVertices; }
gfx::IndexBuffer* SharedQuadIndices() { return gParticleQuadIndices; }

void ParticleSystemInstance::CreateDeviceBuffers() {
    ReleaseDeviceBuffers();
    gfx::Device* device = gVornexRenderer.Device();
    if (!device) return;
    const uint32_t dynamic = gfx::USAGE_DYNAMIC | gfx::USAGE_WRITEONLY;
    if (gfx::Succeeded(device->CreateVertexBuffer(kParticleInstanceBufferSize, dynamic, 0, gfx::POOL_DEFAULT,
                                                  &gParticleInstanceBuffer, nullptr))) {
        // Written through once here, so the ring's memory is all in place before the
        // frames start walking it.
        void* p = nullptr;
        if (gfx::Succeeded(gParticleInstanceBuffer->Lock(0, 0, &p, gfx::LOCK_DISCARD))) {
            std::memset(p, 0, kParticleInstanceBufferSize);
            gParticleInstanceBuffer->Unlock();
        }
    }

    if (gfx::Succeeded(device->CreateVertexBuffer(16, gfx::USAGE_WRITEONLY, 0, gfx::POOL_MANAGED, &gParticleQuadVertices,
                                                  nullptr))) {
        void* p = nullptr;
        if (gfx::Succeeded(gParticleQuadVertices->Lock(0, 0, &p, 0))) {
            static const uint8_t kCorners[16] = {0, 0, 0, 0, 255, 0, 0, 0, 255, 255, 0, 0, 0, 255, 0, 0};
            std::copy(kCorners, kCorners + 16, static_cast<uint8_t*>(p));
            gParticleQuadVertices->Unlock();
        }
    }
    if (gfx::Succeeded(device->CreateIndexBuffer(12, gfx::USAGE_WRITEONLY, gfx::FMT_INDEX16, gfx::POOL_MANAGED,
                                                 &gParticleQuadIndices, nullptr))) {
        void* p = nullptr;
        if (gfx::Succeeded(gParticleQuadIndices->Lock(0, 0, &p, 0))) {
            static const uint16_t kIndices[6] = {0, 1, 2, 0, 2, 3};
            std::copy(kIndices, kIndices + 6, static_cast<uint16_t*>(p));
            gParticleQuadIndices->Unlock();
        }
    }
    // 16-bit indices reach 16,384 quads.
    const ProjectConfig defaults;
    const ProjectConfig& config = gProjectConfig ? *gProjectConfig : defaults;
    const uint32_t quads = std::min(config.GetParticlesPerSystem(), kParticleExpandedQuads);
    if (quads && gfx::Succeeded(device->CreateIndexBuffer(quads * 12, gfx::USAGE_WRITEONLY, gfx::FMT_INDEX16,
                                                          gfx::POOL_MANAGED, &gParticleExpandedIndices, nullptr))) {
        void* p = nullptr;
        if (gfx::Succeeded(gParticleExpandedIndices->Lock(0, 0, &p, 0))) {
            uint16_t* out = static_cast<uint16_t*>(p);
            for (uint32_t i = 0; i < quads; ++i) {
                const uint16_t b = static_cast<uint16_t>(4 * i);
                const uint16_t q[6] = {b, static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 2), b,
                                       static_cast<uint16_t>(b + 2), static_cast<uint16_t>(b + 3)};
                std::copy(q, q + 6, out + 6 * i);
            }
            gParticleExpandedIndices->Unlock();
        }
    }
    const gfx::VertexElement withVelocity[] = {
        {0, 0, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_BLENDWEIGHT, 0},
        {1, 0, gfx::DECLTYPE_FLOAT4, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
        {1, 16, gfx::DECLTYPE_FLOAT3, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_NORMAL, 0},
        {1, 28, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_BLENDINDICES, 0},
        gfx::kDeclEnd,
    };
    const gfx::VertexElement plain[] = {
        {0, 0, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_BLENDWEIGHT, 0},
        {1, 0, gfx::DECLTYPE_FLOAT4, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
        {1, 16, gfx::DECLTYPE_UBYTE4N, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_BLENDINDICES, 0},
        gfx::kDeclEnd,
    };
    device->CreateVertexDeclaration(withVelocity, &gParticleDeclarationVelocity);
    device->CreateVertexDeclaration(plain, &gParticleDeclarationPlain);
    gParticleCursor = kParticleInstanceBufferSize;  // the first write discards
}

void ParticleSystemInstance::ReleaseDeviceBuffers() {
    ReleaseParticleObject(gParticleInstanceBuffer);
    ReleaseParticleObject(gParticleQuadVertices);
    ReleaseParticleObject(gParticleQuadIndices);
    ReleaseParticleObject(gParticleExpandedIndices);
    ReleaseParticleObject(gParticleDeclarationVelocity);
    ReleaseParticleObject(gParticleDeclarationPlain);
}

void ParticleSystemInstance::NextInstanceDataGeneration() {
    ++gParticleGeneration;
    gParticleCursor = kParticleInstanceBufferSize;
}

bool ParticleSystemInstance::PrepareInstanceData() {
    if (dataGeneration == gParticleGeneration) return true;  // written earlier this generation
    if (!gParticleInstanceBuffer || count == 0) return false;
    const uint32_t stride = InstanceStride();
    uint32_t n = count;
    const uint32_t fit = kParticleInstanceBufferSize / stride;
    if (n > fit) {
        if (!warnedOverflow)
            gLog.Warning(LogCategory::Engine, "Particle system has %u particles, only %u are drawn", n, fit);
        warnedOverflow = true;
        n = fit;
    }
    const uint32_t size = n * stride;
    uint32_t flags = gfx::LOCK_NOOVERWRITE;
    if (gParticleCursor + size > kParticleInstanceBufferSize) {
        gParticleCursor = 0;
        ++gParticleGeneration;
        flags = gfx::LOCK_DISCARD;
    }
    void* p = nullptr;
    if (gfx::Failed(gParticleInstanceBuffer->Lock(gParticleCursor, size, &p, flags))) return false;
    WriteInstanceData(p, n);
    gParticleInstanceBuffer->Unlock();
    dataOffset = gParticleCursor;
    dataCount = n;
    dataGeneration = gParticleGeneration;
    gProfiler.AddValue(PROFILE_PARTICLES_ON_SCREEN, static_cast<float>(n), PROFILER_THREAD_RENDER);
    gProfiler.AddValue(PROFILE_DYNAMIC_GEOMETRY, static_cast<float>(size) / 1024.0f, PROFILER_THREAD_RENDER);
    gParticleCursor = (gParticleCursor + size + 31) & ~31u;
    return true;
}

uint32_t ParticleSystemInstance::InstanceBufferCursor() { return gParticleCursor; }

// ---------------------------------------------------------------------------------------
// Drawing

namespace {

// Scratch records of the mesh-particle draw (a mesh draw takes at most a batch at once).
MeshDrawBatchRecord gParticleMeshRecords[kMeshDrawBatchSize];

void ParticleColumnsToRecord(const float in[16], const Vector& colour, MeshDrawBatchRecord* out) {
    Matrix m = Matrix::IDENTITY;
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t r = 0; r < 4; ++r) m.r[r][c] = in[c * 4 + r];
    out->world = m;
    out->second = m;
    out->colour = Vector(in[12] * colour.x, in[13] * colour.y, in[14] * colour.z, in[15] * colour.w);
}

}  // namespace

void ParticleSystemInstance::QuadConstants(float out[kParticleVertexRegisters][4]) const {
    const float rotation[4] = {rotationMin, rotationMax, secondaryRotationMin, secondaryRotationMax};
    for (uint32_t i = 0; i < 4; ++i) {
        out[i][0] = nodeTime[i];
        out[i][1] = nodeSize[i];
        out[i][2] = nodeReciprocalSpan[i];
        out[i][3] = rotation[i];
        // The colour moved toward its luminance by the desaturation factor.
        const Vector& c = nodeColor[i];
        const float l = 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z;
        const float d = desaturation;
        out[4 + i][0] = d * l + (1.0f - d) * c.x;
        out[4 + i][1] = d * l + (1.0f - d) * c.y;
        out[4 + i][2] = d * l + (1.0f - d) * c.z;
        out[4 + i][3] = c.w;
    }
    Vector a{1.0f, 0.0f, 0.0f, 0.0f}, b{0.0f, 0.0f, 1.0f, 0.0f};
    const Matrix& camera = gVornexRenderer.CameraWorldMatrix();
    switch (faceCameraMode) {
        case PARTICLE_FACE_LOCAL_X:
            a = Vector{0.0f, 1.0f, 0.0f, 0.0f};
            b = Vector{0.0f, 0.0f, 1.0f, 0.0f};
            break;
        case PARTICLE_FACE_LOCAL_Y:
            a = Vector{1.0f, 0.0f, 0.0f, 0.0f};
            b = Vector{0.0f, 0.0f, 1.0f, 0.0f};
            break;
        case PARTICLE_FACE_LOCAL_Z:
            a = Vector{1.0f, 0.0f, 0.0f, 0.0f};
            b = Vector{0.0f, 1.0f, 0.0f, 0.0f};
            break;
        case PARTICLE_FACE_CAMERA:
            // The camera's right and up, in the particles' space.
            if (localSpace) {
                Matrix inverse;
                inverse.Inverse(normalisedWorld);
                a.Transform3DNormal(inverse, camera.r[0]);
                b.Transform3DNormal(inverse, camera.r[1]);
            } else {
                a = camera.r[0];
                b = camera.r[1];
            }
            a.w = b.w = 0.0f;
            break;
        case PARTICLE_FACE_VELOCITY_ALIGN:
            // The camera position, in the particles' space.
            if (localSpace) {
                Matrix inverse;
                inverse.Inverse(normalisedWorld);
                a.Transform3D(inverse, camera.r[3]);
            } else {
                a = camera.r[3];
            }
            a.w = 1.0f;
            b = Vector{0.0f, 0.0f, 0.0f, 0.0f};
            break;
        default:
            break;
    }
    const float va[4] = {a.x, a.y, a.z, a.w}, vb[4] = {b.x, b.y, b.z, b.w};
    std::copy(va, va + 4, out[8]);
    std::copy(vb, vb + 4, out[9]);
    const float anchorValues[4] = {anchor.x, anchor.y, anchor.z, anchor.w};
    std::copy(anchorValues, anchorValues + 4, out[10]);
    const float sx = worldScale.x;
    const float sy = faceCameraMode == PARTICLE_FACE_VELOCITY_ALIGN ? worldScale.z : worldScale.y;
    out[11][0] = shape.x * sx;
    out[11][1] = shape.y * sy;
    out[11][2] = shape.z * sx;
    out[11][3] = shape.w * sy;
    std::copy(textureFrames, textureFrames + 4, out[12]);
    // The start angle per unit of the normalised random byte (byte / 255).
    const float start[4] = {randomRotationAtStart ? 255.0f * kParticleStartAngleStep : 0.0f, 0.0f, 0.0f, 0.0f};
    std::copy(start, start + 4, out[kParticleRotationStartRegister]);
}

void ParticleSystemInstance::Draw(const Vector& colour, uint32_t meshPass) {
    MarkDrawn();
    // A paused instance's particles come back with the next update.
    if (!globals || count == 0 || inPausedList || !gVornexRenderer.Device()) return;
    gProfiler.StartTimer(PROFILE_PARTICLE_RENDER_TIME, PROFILER_THREAD_RENDER);
    if (meshTemplate) DrawMeshParticles(colour, meshPass);
    else DrawQuads(colour);
    gProfiler.StopTimer(PROFILE_PARTICLE_RENDER_TIME, PROFILER_THREAD_RENDER);
}

void ParticleSystemInstance::DrawQuads(const Vector& colour) {
    VertexShaderObject* vs = vertexShader ? vertexShader->GetVertexShaderObject() : nullptr;
    PixelShaderObject* ps = pixelShader ? pixelShader->GetPixelShaderObject() : nullptr;
    if (!vs || !ps || !vs->DeviceShader() || !ps->DeviceShader()) return;
    if (!gParticleQuadVertices || !gParticleQuadIndices || !gParticleDeclarationPlain) return;
    if (!PrepareInstanceData()) return;
    gfx::Device* device = gVornexRenderer.Device();
    VornexRenderer& r = gVornexRenderer;

    const ResourceTexture* t = static_cast<const ResourceTexture*>(texture);
    r.SetTexture(0, t ? t->Handle() : nullptr, SAMPLER_SRGB | SAMPLER_CLAMP_U | SAMPLER_CLAMP_V);
    r.SetAlphaTest(alphaTestMode, static_cast<uint32_t>(alphaReference));
    r.SetDepthState(gfx::CMP_LESSEQUAL, zBufferWrite ? 1 : 0, 0, 0);
    r.SetCullMode(gfx::CULL_NONE);
    r.SetBlendMode(blendingMode);
    r.SetVertexShader(vs->DeviceShader());
    r.SetPixelShader(ps->DeviceShader());

    float constants[kParticleVertexRegisters][4];
    QuadConstants(constants);
    r.SetVertexShaderConstants(0, constants[0], kParticleVertexRegisters);
    const float pixel[4] = {desaturation, 0.0f, 0.0f, 0.0f};
    r.SetPixelShaderConstants(0, pixel, 1);
    vs->SetModelMatrix(localSpace ? normalisedWorld : Matrix::IDENTITY, false);
    vs->SetModelColor(colour);

    const uint32_t stride = InstanceStride();
    device->SetVertexDeclaration(stride == 32 ? gParticleDeclarationVelocity : gParticleDeclarationPlain);
    device->SetStreamSource(0, gParticleQuadVertices, 0, 4);
    device->SetStreamSourceFreq(0, gfx::STREAMSOURCE_INDEXEDDATA | dataCount);
    device->SetStreamSource(1, gParticleInstanceBuffer, dataOffset, stride);
    device->SetStreamSourceFreq(1, gfx::STREAMSOURCE_INSTANCEDATA | 1u);
    device->SetIndices(gParticleQuadIndices);
    r.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, 4, 0, 2);
    device->SetStreamSourceFreq(0, 1);
    device->SetStreamSourceFreq(1, 1);
    device->SetIndices(nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetStreamSource(1, nullptr, 0, 0);
    // The draw counted one quad; the instances count the rest.
    r.AddPrimitives(2 * dataCount - 2);
}

void ParticleSystemInstance::DrawMeshParticles(const Vector& colour, uint32_t meshPass) {
    const MeshTemplate* mesh = static_cast<const MeshTemplate*>(meshTemplate);
    MeshTemplateRenderingData* data = mesh->GetRenderingData();
    if (!data) return;
    const ParticleRecord* ring = Ring();
    const uint32_t size = RingSize();
    uint32_t n = count;
    const uint32_t fit = kParticleInstanceBufferSize / kMeshInstanceStride;
    if (n > fit) {
        if (!warnedOverflow)
            gLog.Warning(LogCategory::Engine, "Particle system has %u particles, only %u are drawn", n, fit);
        warnedOverflow = true;
        n = fit;
    }
    gProfiler.AddValue(PROFILE_PARTICLES_ON_SCREEN, static_cast<float>(n), PROFILER_THREAD_RENDER);
    gProfiler.AddValue(PROFILE_DYNAMIC_GEOMETRY, static_cast<float>(n * kMeshInstanceStride) / 1024.0f,
                       PROFILER_THREAD_RENDER);
    const float now = Now();
    const Matrix& model = normalisedWorld;
    for (uint32_t first = 0; first < n; first += kMeshDrawBatchSize) {
        const uint32_t batch = std::min(n - first, kMeshDrawBatchSize);
        for (uint32_t i = 0; i < batch; ++i) {
            const uint32_t k = sortMode == PARTICLE_SORT_REVERSE ? count - 1 - (first + i) : first + i;
            float record[16];
            BuildMeshRecord(ring[(runStart + k) % size], now, record);
            MeshDrawBatchRecord& out = gParticleMeshRecords[i];
            out = MeshDrawBatchRecord{};
            ParticleColumnsToRecord(record, colour, &out);
            if (localSpace) {
                Matrix m;
                m.Mul(model, out.world);
                out.world = out.second = m;
            }
            out.data = data;
            out.preset = meshPreset;
        }
        data->DrawParts(meshPreset, (meshPass ? meshPass : kMeshPassAll) | kMeshPassInstanced, gParticleMeshRecords, batch,
                        nullptr, 0);
    }
}

