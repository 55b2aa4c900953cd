// MeshEntity and its rendering context (see MeshEntity.h), and the engine's navigation
// entries that read a mesh entity's collision data.
#include "scene/mesh/MeshEntity.h"

#include <cstring>

#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/CharacterCollision.h"
#include "engine/navigation/WalkMap.h"
#include "render/VornexRenderer.h"
#include "render/scene/SceneCommand.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

RTTIClass* gMeshEntityClass = nullptr;
NameString gMeshTemporaryPreset;
// "Shader preset" takes its choices from the template.
constexpr uint32_t kFlagPresetChoice = 128;
const char kDefaultPreset[] = "Default";
// Render bits of the entity from the rendering data's rendering flags 0 to 3 (render
// bytes 1 to 4): deferred parts, third-class parts, forward parts, outlined parts.
constexpr uint32_t kEntityRenderBits[4] = {0x40, 0x80, 0x20, 0x200};
constexpr uint32_t kEntityRenderClear = 0x20 | 0x40 | 0x80;

bool ClassDerivesFrom(const RTTIClass* c, const RTTIClass* base) {
    for (; c; c = c->Base())
        if (c == base) return true;
    return false;
}

bool IsMeshTemplate(const EntityTemplate* t) { return t && ClassDerivesFrom(t->GetRTTIClass(), MeshTemplate::RegisterClass()); }
bool IsMeshEntity(const Entity* e) { return e && ClassDerivesFrom(e->GetRTTIClass(), MeshEntity::RegisterClass()); }

}  // namespace

// ---- Properties ---------------------------------------------------------------------

const RTTIClass* MeshEntity::RegisterClass() {
    if (gMeshEntityClass) return gMeshEntityClass;
    Entity::RegisterClass();
    const RTTIClass* lightmap = LightmapMapping::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gMeshEntityClass, "MeshEntity", "Entity",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new MeshEntity(); });
    using M = MeshEntity;
    c->AddProperty(new RTTISGProperty<NameString, M>("Shader preset", &M::GetShaderPreset, &M::SetShaderPreset,
                                                      kFlagPresetChoice));
    c->AddProperty(new RTTISGProperty<HDRColor, M>("Local color", &M::GetLocalColor, &M::SetLocalColor));
    AddDirect<bool>(c, "Optimizable", RTTI_OFFSETOF(M, optimizable));
    c->AddProperty(
        new RTTIEmbeddedObjectProperty<LightmapMapping>("LmMapping", RTTI_OFFSETOF(M, lightmapMapping), lightmap));
    return c;
}

const RTTIClass* MeshEntity::GetRTTIClass() const { return RegisterClass(); }

MeshEntity::~MeshEntity() {
    DeleteAnimationController();
    MarkWalkMapDirty();
}

MeshTemplate* MeshEntity::GetMeshTemplate() const {
    EntityTemplate* t = GetTemplate();
    return IsMeshTemplate(t) ? static_cast<MeshTemplate*>(t) : nullptr;
}

MeshTemplateRenderingData* MeshEntity::GetRenderingData() const {
    const MeshTemplate* t = GetMeshTemplate();
    return t ? t->GetRenderingData() : nullptr;
}

// ---- Presets --------------------------------------------------------------------------

int32_t MeshEntity::PresetWithFallbacks(const char* name) const {
    const MeshTemplate* t = GetMeshTemplate();
    if (!t) return 0;
    int32_t i = name && *name ? t->GetShaderPresetIndex(name) : -1;
    // A missing preset tries the registry's global preset name before "Default".
    const NameString& global = MeshTemplate::GetFallbackShaderPreset();
    if (i < 0 && !global.IsEmpty()) i = t->GetShaderPresetIndex(global.CStr());
    if (i < 0) i = t->GetShaderPresetIndex(kDefaultPreset);
    return i < 0 ? 0 : i;
}

void MeshEntity::SelectPreset(int32_t index) {
    const uint8_t value = uint8_t(index < 0 || index > 254 ? 0 : index);
    if (value == presetIndex) return;
    presetIndex = value;
    if (auto* c = static_cast<MeshEntityRenderingContext*>(GetRenderingContext())) c->PostPreset(presetIndex);
}

void MeshEntity::SetShaderPreset(const NameString& name) {
    shaderPresetName = name;
    SelectPreset(PresetWithFallbacks(name.CStr()));
}

bool MeshEntity::HasShaderPreset(const char* name) const {
    const MeshTemplate* t = GetMeshTemplate();
    return t && name && t->GetShaderPresetIndex(name) >= 0;
}

void MeshEntity::SetCustomTemporaryShaderPreset(const char* name) {
    const MeshTemplate* t = GetMeshTemplate();
    const int32_t i = t && name ? t->GetShaderPresetIndex(name) : -1;
    customPresetIndex = i < 0 || i > 254 ? kMeshNoCustomPreset : uint8_t(i);
}

void MeshEntity::TemporarySetShaderPreset(const char* name, uint32_t flags) {
    if ((flags & kMeshPresetUseCustom) && customPresetIndex != kMeshNoCustomPreset) {
        SelectPreset(customPresetIndex);
        return;
    }
    SelectPreset(PresetWithFallbacks(name));
}

void MeshEntity::TemporarySetShaderPresetForAllMeshes(const char* name, uint32_t flags) {
    gMeshTemporaryPreset = name;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) {
        if (!e->IsMesh() || !IsMeshEntity(e)) continue;
        auto* m = static_cast<MeshEntity*>(e);
        if ((flags & kMeshPresetUseCustom) && m->customPresetIndex != kMeshNoCustomPreset) {
            m->SelectPreset(m->customPresetIndex);
            continue;
        }
        const MeshTemplate* t = m->GetMeshTemplate();
        const int32_t i = t && name ? t->GetShaderPresetIndex(name) : -1;
        if (i >= 0) m->SelectPreset(i);  // meshes without that preset keep theirs
    }
}

void MeshEntity::ReturnAllMeshesToDefaultShaderPreset() {
    gMeshTemporaryPreset = nullptr;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) {
        if (!e->IsMesh() || !IsMeshEntity(e)) continue;
        auto* m = static_cast<MeshEntity*>(e);
        m->SelectPreset(m->PresetWithFallbacks(m->shaderPresetName.CStr()));
    }
}

const NameString& MeshEntity::GetTemporaryShaderPreset() { return gMeshTemporaryPreset; }

void MeshEntity::SetLocalColor(const HDRColor& color) {
    if (color == localColor) return;
    localColor = color;
    if (EntityRenderingContext* c = GetRenderingContext()) c->PostSetLocalColor(localColor.ToLinearVector());
}

void MeshEntity::GetPropertyChoices(const char* propertyName, std::vector<NameString>& list) const {
    if (!propertyName || std::strcmp(propertyName, "Shader preset") != 0) return;
    list.clear();
    if (const MeshTemplateRenderingData* d = GetRenderingData())
        for (const MeshShaderPreset& p : d->presets) list.push_back(p.name);
}

bool MeshEntity::IsOptimizable() const {
    const MeshTemplate* t = GetMeshTemplate();
    return GetRTTIClass() == RegisterClass() && optimizable && t && t->optimizable;
}

const BoundingBox4& MeshEntity::GetLocalCollisionBoundingBox() const {
    const MeshTemplate* t = GetMeshTemplate();
    return t ? t->GetEffectiveCollisionBox() : GetLocalBoundingBox();
}

// ---- Entity slots ---------------------------------------------------------------------

bool MeshEntity::DynamicCollision() const {
    const MeshTemplate* t = GetMeshTemplate();
    return t && t->dynamicPlayerCollision;
}

void MeshEntity::MarkWalkMapDirty() const {
    if (!DynamicCollision() || !gEntityManager) return;
    if (SceneGrid* grid = gEntityManager->GetSceneGrid()) grid->MarkDirty();
}

void MeshEntity::InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) {
    Entity::InitFromTemplate(t, creationFlags);
    RecreateAnimationController();
    SelectPreset(PresetWithFallbacks(shaderPresetName.CStr()));
    if (!gMeshTemporaryPreset.IsEmpty()) TemporarySetShaderPreset(gMeshTemporaryPreset.CStr(), 0);
}

void MeshEntity::ChangeTemplate(EntityTemplate* t) {
    Entity::ChangeTemplate(t);
    RecreateAnimationController();
    SelectPreset(PresetWithFallbacks(shaderPresetName.CStr()));
}

void MeshEntity::InitTriggerActivation() {
    Entity::InitTriggerActivation();
    if (DynamicCollision()) WalkMap::UpdateMeshEntityTiles(this);
}

void MeshEntity::UpdateGlobalLocation() {
    Entity::UpdateGlobalLocation();
    MarkWalkMapDirty();
}

void MeshEntity::DrawBoundingBox(const BoundingBox4& box, const HDRColor& color) {
    const MeshTemplate* t = GetMeshTemplate();
    if (t && t->playerCollisionType != MESH_COLLISION_NONE)
        gVornexRenderer.DebugDrawBoundingBox(t->GetEffectiveCollisionBox(), GetGlobalLocationMatrix(), Vector(0, 1, 0, 0));
    Entity::DrawBoundingBox(box, color);
}

void MeshEntity::RemoveChild(Entity* child) {
    if (child && (child->GetMountFlags() & ENTITY_MOUNTED_TO_BONE)) {
        UnmountEntity(child);
        child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, false);
    }
    Entity::RemoveChild(child);
}

void MeshEntity::OnGlobalLocationChanged(BoundingBox4& worldBox) {
    const MeshTemplate* t = GetMeshTemplate();
    if (!t) return;
    worldBox.Expand3D(t->GetEffectiveCollisionBox(), GetGlobalLocationMatrix());
    worldBox.Expand3D(t->collisionBox, GetGlobalLocationMatrix());
}

EntityRenderingContext* MeshEntity::CreateRenderingContext() {
    MeshTemplateRenderingData* data = GetRenderingData();
    uint32_t bits = 0;
    if (data)
        for (uint32_t i = 0; i < 4; ++i)
            if (data->renderBytes[i + 1]) bits |= kEntityRenderBits[i];
    SetEnforcedRenderingBits(kEntityRenderClear, bits);
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, 0, 0);
    s.kindFlags |= ERC_KIND_SHADOW_CASTER;
    return new MeshEntityRenderingContext(s, data, presetIndex, localColor.ToLinearVector(), lightmapMapping);
}

// ---- Rendering context ----------------------------------------------------------------

MeshEntityRenderingContext::MeshEntityRenderingContext(const EntityRenderingContextSetup& setup,
                                                       MeshTemplateRenderingData* d, uint32_t presetIndex,
                                                       const Vector& c, const LightmapMapping& l)
    : EntityRenderingContext(setup), preset(presetIndex), lightmap(l) {
    SetRenderingData(d);
    // The local colour lives where "Local color" posts it (op 7), so later changes show.
    if (!(c == Vector(1, 1, 1, 1))) PostSetLocalColor(c);
}

MeshEntityRenderingContext::~MeshEntityRenderingContext() = default;

void MeshEntityRenderingContext::SetRenderingData(MeshTemplateRenderingData* d) {
    data = d;
    renderState &= ~(kStateSecondary | kStateSecond | kStateFlag5);
    if (!d) return;
    // Rendering flag i is render byte i + 1: flag 4 the secondary pass, 6 the second flag.
    if (d->renderBytes[5]) renderState |= kStateSecondary;
    if (d->renderBytes[7]) renderState |= kStateSecond;
    if (d->renderBytes[6]) renderState |= kStateFlag5;
}

void MeshEntityRenderingContext::PostRenderingData(MeshTemplateRenderingData* d) {
    PostObjectCall(&ExecuteMeshOp, 0, this, d);
}

void MeshEntityRenderingContext::PostPreset(uint32_t value) { PostObjectCall(&ExecuteMeshOp, 1, this, value); }

void MeshEntityRenderingContext::PostBones(const float* rows, uint32_t count) {
    // The palette can outgrow a ring record: it goes as a heap block the render thread frees.
    float* block = count ? new float[size_t(count) * 12] : nullptr;
    if (block) std::memcpy(block, rows, size_t(count) * 48);
    if (!PostObjectCall(&ExecuteMeshOp, 2, this, count, block)) delete[] block;
}

void MeshEntityRenderingContext::PostLightmap(const LightmapMapping& l) {
    PostObjectCall(&ExecuteMeshOp, 3, this, l.uvMulAdd, l.lightmapId);
}

void MeshEntityRenderingContext::ExecuteMeshOp(uint32_t op, CommandRingBuffer& r) {
    MeshEntityRenderingContext* c = nullptr;
    if (!r.ReadValue(c)) return;
    switch (op) {
        case 0: {
            MeshTemplateRenderingData* d = nullptr;
            if (r.ReadValue(d) && c) c->SetRenderingData(d);
            break;
        }
        case 1: {
            uint32_t value = 0;
            if (r.ReadValue(value) && c) c->preset = value;
            break;
        }
        case 2: {
            uint32_t count = 0;
            float* block = nullptr;
            if (!r.ReadValue(count) || !r.ReadValue(block)) break;
            if (c) {
                if (c->bones.size() != size_t(count) * 12) c->bones.resize(size_t(count) * 12);
                if (block) std::memcpy(c->bones.data(), block, size_t(count) * 48);
            }
            delete[] block;
            break;
        }
        case 3: {
            Vector uv;
            uint32_t id = 0;
            if (r.ReadValue(uv) && r.ReadValue(id) && c) c->lightmap.uvMulAdd = uv, c->lightmap.lightmapId = id;
            break;
        }
        default:
            break;
    }
}

void MeshEntityRenderingContext::Draw(void*, const Matrix& world, const RenderTaskArguments& arguments) {
    if (!data) return;
    const float* palette = bones.empty() ? nullptr : bones.data();
    // The entity's colour, the blended template colour (op 6) and the pass colour.
    MeshTemplateRenderingData::Draw(data, world, World(), LocalBox(), MeshColour() * Color() * arguments.vector, alpha, Mirrored(),
                                    preset, palette, uint32_t(bones.size() / 12), arguments.pass ? arguments.pass : kMeshPassAll,
                                    renderState);
}

void MeshEntityRenderingContext::DrawDepth(void*, uint32_t flags) {
    if (!data) return;
    const float* palette = bones.empty() ? nullptr : bones.data();
    data->DrawDepth(World(), Mirrored() != ((flags & 1) != 0), preset, palette, uint32_t(bones.size() / 12), false);
}

uint32_t MeshEntityRenderingContext::OutlineCategory(uint32_t) const {
    return data ? data->GetPresetPassMask(preset) : 0;
}

bool MeshEntityRenderingContext::DrawPassMask(void*, const Matrix& world) {
    if (!data) return false;
    const float* palette = bones.empty() ? nullptr : bones.data();
    return data->DrawPassMask(world, Mirrored(), preset, palette, uint32_t(bones.size() / 12));
}

// ---- Navigation entries ---------------------------------------------------------------

uint32_t MeshPlayerCollisionType(Entity* mesh) {
    const EntityTemplate* t = mesh ? mesh->GetTemplate() : nullptr;
    if (!IsMeshTemplate(t)) return PLAYER_COLLISION_NONE;
    return static_cast<const MeshTemplate*>(t)->playerCollisionType;
}

bool MeshCollisionDataOf(Entity* mesh, MeshCollisionData* out) {
    if (!out || MeshPlayerCollisionType(mesh) != PLAYER_COLLISION_FACE) return false;
    const MeshTemplateRenderingData* d = static_cast<const MeshTemplate*>(mesh->GetTemplate())->GetRenderingData();
    if (!d || d->mainMemoryVertices.empty() || !d->indexCopy || d->indexDescA.format == gfx::FMT_INDEX32) return false;
    if (uint64_t(d->vertexCount) * d->mainMemorySize > d->mainMemoryVertices.size()) return false;
    out->vertices = d->mainMemoryVertices.data();
    out->vertexSize = d->mainMemorySize;
    out->vertexFlags = d->mainMemoryFlags;
    out->vertexCount = d->vertexCount;
    out->positionBox = d->box;
    out->indices = reinterpret_cast<const uint16_t*>(d->indexCopy);
    out->triangleCount = d->IndexCount() / 3;
    return true;
}
