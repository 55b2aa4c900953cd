// MeshEntity::TestLineOfSight: a segment against the template's collision (nothing, the
// effective collision box, or the triangles of the selected preset's parts), animated
// meshes through their skinned collision vertices, cached for one scratch generation.
#include <cstring>

#include "core/Memory.h"
#include "core/math/MathHelpers.h"
#include "core/profiler/Profiler.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

constexpr uint32_t kLosFloat3 = 1, kLosBlend = 2, kLosShort4n = 4;
constexpr uint32_t kLosPartDisabled = 0x80;

struct CollisionVertices {
    const uint8_t* data = nullptr;
    uint32_t stride = 0;
    uint32_t flags = 0;  // kLosFloat3 or kLosShort4n (skinned: float3)
    uint32_t count = 0;
    BoundingBox4 box;

    Vector Position(uint32_t i) const {
        const uint8_t* v = data + size_t(i) * stride;
        if (flags & kLosFloat3) {
            float f[3];
            std::memcpy(f, v, sizeof f);
            return Vector(f[0], f[1], f[2], 1.0f);
        }
        int16_t s[4];
        std::memcpy(s, v, sizeof s);
        const Vector u = DequantizeInt16Vector(Vector(s[0], s[1], s[2], s[3])) * 0.5f + Vector(0.5f, 0.5f, 0.5f, 0.5f);
        return Vector((1 - u.x) * box.min.x + u.x * box.max.x, (1 - u.y) * box.min.y + u.y * box.max.y,
                      (1 - u.z) * box.min.z + u.z * box.max.z, 1.0f);
    }
};

// The positions skinned by the palette into out (3 floats a vertex).
void SkinCollisionVertices(const CollisionVertices& in, const float* palette, uint32_t boneCount, float* out) {
    const uint32_t blendOffset = (in.flags & kLosFloat3) ? 12 : 8;
    for (uint32_t i = 0; i < in.count; ++i) {
        const Vector p = in.Position(i);
        const uint8_t* blend = in.data + size_t(i) * in.stride + blendOffset;
        float x = 0, y = 0, z = 0;
        for (uint32_t j = 0; j < 4; ++j) {
            const uint32_t bone = blend[j];
            const float w = blend[4 + j] / 255.0f;
            if (w == 0.0f || bone >= boneCount) continue;
            const float* r = palette + size_t(bone) * 12;
            x += w * (r[0] * p.x + r[1] * p.y + r[2] * p.z + r[3]);
            y += w * (r[4] * p.x + r[5] * p.y + r[6] * p.z + r[7]);
            z += w * (r[8] * p.x + r[9] * p.y + r[10] * p.z + r[11]);
        }
        out[size_t(i) * 3 + 0] = x;
        out[size_t(i) * 3 + 1] = y;
        out[size_t(i) * 3 + 2] = z;
    }
}

}  // namespace

bool MeshEntity::TestLineOfSight(const Vector& from, const Vector& to, uint32_t flags, uint32_t mask, float,
                                 LOSResult* hit) {
    const MeshTemplate* t = GetMeshTemplate();
    if (!t || (t->losMask & mask) != 0 || CheckFlag(ENTITYFLAG_DISABLE_LOS)) return true;

    bool faces = (flags & LOSFLAG_EXACT) != 0;
    uint32_t type;
    if (flags & LOSFLAG_QUERYWALKMAP) {
        type = t->playerCollisionType;
    } else if (flags & LOSFLAG_EXACT) {
        type = t->exactLosType;
        if (type == MESH_COLLISION_NONE) return true;
        if (type == MESH_COLLISION_BOX) faces = false;
    } else {
        type = t->roughLosType;
    }
    if ((flags & LOSFLAG_QUERYWALKMAP) || !(flags & LOSFLAG_EXACT)) {
        if (type == MESH_COLLISION_NONE) return true;
        if (type == MESH_COLLISION_FACE) faces = true;
    }

    const Matrix& inverse = GetInversedGlobalLocationMatrix();
    const Matrix& global = GetGlobalLocationMatrix();
    Vector a, b;
    a.Transform3D(inverse, from);
    b.Transform3D(inverse, to);
    a.w = b.w = 1.0f;

    auto report = [&](const Vector& point, const Vector& normal) {
        if (!hit) return;
        hit->Result = LOSRESULT_ENTITY;
        hit->Entity = this;
        hit->Point = point;
        hit->Normal = normal;
    };

    if (!faces) {
        Vector where;
        if (!t->GetEffectiveCollisionBox().CollidesWithSegment3D(a, b, &where)) return true;
        Vector point;
        point.Transform3D(global, where);
        point.w = 1.0f;
        report(point, to - from);
        return false;
    }

    const MeshTemplateRenderingData* d = t->GetRenderingData();
    if (!d || d->mainMemoryVertices.empty() || !d->indexCopy || d->indexDescA.format == gfx::FMT_INDEX32) return true;
    const uint32_t positionKind = d->mainMemoryFlags & (kLosFloat3 | kLosShort4n);
    if (positionKind != kLosFloat3 && positionKind != kLosShort4n) return true;
    const uint32_t minimum = (positionKind == kLosFloat3 ? 12 : 8) + ((d->mainMemoryFlags & kLosBlend) ? 8 : 0);
    if (d->mainMemorySize < minimum || uint64_t(d->vertexCount) * d->mainMemorySize > d->mainMemoryVertices.size())
        return true;

    CollisionVertices v;
    v.data = d->mainMemoryVertices.data();
    v.stride = d->mainMemorySize;
    v.flags = positionKind;
    v.count = d->vertexCount;
    v.box = d->box;
    MeshAnimationController* c = controller;
    if ((d->mainMemoryFlags & kLosBlend) && c && c->BoneCount() > 0 && v.count > 0) {
        const float* skinned = nullptr;
        if (c->skinnedVertices && c->skinnedGeneration == gScratchAllocator.Generation()) {
            skinned = c->skinnedVertices;
        } else {
            void* block = nullptr;
            uint32_t generation = 0;
            if (uint64_t(v.count) * 12 <= 0xFFFFFFFFu &&
                gScratchAllocator.Alloc(v.count * 12, &block, &generation) && block) {
                SkinCollisionVertices(v, c->Palette(), c->BoneCount(), static_cast<float*>(block));
                c->skinnedVertices = static_cast<const float*>(block);
                c->skinnedGeneration = generation;
                skinned = c->skinnedVertices;
            }
        }
        if (skinned) {
            v.data = reinterpret_cast<const uint8_t*>(skinned);
            v.stride = 12;
            v.flags = kLosFloat3;
        }
    }

    const uint32_t preset = GetShaderPresetIndex();
    if (preset >= d->presets.size()) return true;
    const uint16_t* indices = reinterpret_cast<const uint16_t*>(d->indexCopy);
    const uint32_t indexCount = std::min<uint32_t>(d->IndexCount(), d->indexCopySize / 2);
    const Vector dir = b - a;
    const bool twoSided = (flags & LOSFLAG_FORCETWOSIDED) != 0;
    const bool honourDisable = (flags & (LOSFLAG_QUERYWALKMAP | LOSFLAG_ALLOWCOLLISIONDISABLE)) != 0;
    float best = 1.0f;
    bool found = false;
    Vector normal(0, 0, 0, 0);
    for (const MeshPart& part : d->presets[preset].parts) {
        if (honourDisable && (part.flags & kLosPartDisabled)) continue;
        gProfiler.AddValue(PROFILE_LOS_TRIANGLES, float(part.triangleCount), 0);
        bool stop = false;
        for (uint32_t tri = 0; tri < part.triangleCount && !stop; ++tri) {
            const uint64_t first = (uint64_t(part.firstTriangle) + tri) * 3;
            if (first + 3 > indexCount) break;
            const uint32_t ia = indices[first], ib = indices[first + 1], ic = indices[first + 2];
            if (ia >= v.count || ib >= v.count || ic >= v.count) continue;
            const Vector pa = v.Position(ia), pb = v.Position(ib), pc = v.Position(ic);
            const Vector oa = pa - a, ob = pb - a, oc = pc - a;
            Vector n1, n2, n3;
            n1.Cross(oa, ob);
            n2.Cross(ob, oc);
            n3.Cross(oc, oa);
            const float e1 = n1.Dot3(dir), e2 = n2.Dot3(dir), e3 = n3.Dot3(dir);
            const bool front = e1 <= 0 && e2 <= 0 && e3 <= 0;
            const bool back = twoSided && e1 > 0 && e2 > 0 && e3 > 0;
            if (!front && !back) continue;
            Vector n;
            n.Cross(pb - pa, pc - pa);
            const float denominator = n.Dot3(dir);
            if (denominator == 0.0f) continue;
            const float tt = n.Dot3(oa) / denominator;
            if (!(tt >= 0.0f && tt <= best)) continue;
            best = tt;
            normal = n;
            found = true;
            if (flags & LOSFLAG_BINARY) stop = true;
        }
        if (stop) break;
    }
    if (!found) return true;
    Vector local = a * (1.0f - best) + b * best;
    local.w = 1.0f;
    Vector point, worldNormal;
    point.Transform(global, local);
    normal.w = 0.0f;
    worldNormal.Transform(global, normal);
    report(point, worldNormal);
    return false;
}
