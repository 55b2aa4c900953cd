// The particle runtime's device objects: the instance vertex buffer written as a ring,
// the quad, the expanded index buffer and the two declarations; and the per-draw
// instance data written into the ring.
#include <algorithm>
#include <cstdint>

#include "core/Log.h"
#include "core/config/ProjectConfig.h"
#include "core/profiler/Profiler.h"
#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"
#include "scene/particles/ParticleSystemInstance.h"

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

void ParticleSystemInstance::CreateDeviceBuffers() {
    ReleaseDeviceBuffers();
    gfx::Device* device = gVornexRenderer.Device();
    if (!device) return;
    const uint32_t dynamic = gfx::USAGE_DYNAMIC | gfx::USAGE_WRITEONLY;
    device->CreateVertexBuffer(kParticleInstanceBufferSize, dynamic, 0, gfx::POOL_DEFAULT, &gParticleInstanceBuffer, nullptr);

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
    gParticleCursor = (gParticleCursor + size + 31) & ~31u;
    return true;
}

uint32_t ParticleSystemInstance::InstanceBufferCursor() { return gParticleCursor; }
