// MeshTemplate: the mesh template's properties, its mesh block and its queries. The mesh
// block's layers are read and written in MeshData.cpp; the animation tree is parsed in
// MeshHierarchy_Tree.cpp.
#include "scene/mesh/MeshTemplate.h"

#include <algorithm>
#include <cstring>

#include "core/BoundedReader.h"
#include "core/Log.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/Entity.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "scene/SceneEffectServices.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"

namespace {

RTTIClass* gMeshTemplateClass = nullptr;
RTTIClass* gAnimationDefinitionClass = nullptr;
RTTIClass* gFakeShadowClass = nullptr;

const char kCollisionTypes[] = "None\0Box\0Face\0";
constexpr const char* kAnimationFolder = "Animations";
// Property flags as the editor knows them.
constexpr uint32_t kFlagImportedFrom = 1;
constexpr uint32_t kFlagCollisionBox = 2;
constexpr uint32_t kFlagVector = 64;
constexpr uint32_t kFlagMultiline = 256;
constexpr uint32_t kFlagMask = 512;
constexpr uint32_t kFlagBoneChoice = 0x8080;
// Helper draw flags.
constexpr uint32_t kHelperFlagWhite = 1u << 1;
constexpr uint32_t kHelperFlagWire = 1u << 2;

NameString gFallbackShaderPreset;

const char* NameOrEmpty(const char* name) { return name ? name : ""; }

int CompareDefinitionNames(const NameString& a, const NameString& b) { return RTTIStricmp(a.CStr(), b.CStr()); }

}  // namespace

const RTTIClass* MeshTemplateAnimationDefinition::RegisterClass() {
    if (gAnimationDefinitionClass) return gAnimationDefinitionClass;
    RTTIClass* c = CreateRegisteredClass(gAnimationDefinitionClass, "MeshTemplateAnimationDefinition",
                                         kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(MeshTemplateAnimationDefinition, name));
    AddDirect<NameString>(c, "File name", RTTI_OFFSETOF(MeshTemplateAnimationDefinition, fileName),
                          kPropertyFlagFileName, kAnimationFolder);
    AddDirect<float>(c, "Time", RTTI_OFFSETOF(MeshTemplateAnimationDefinition, time));
    return c;
}

const RTTIClass* MeshFakeShadowDefinition::RegisterClass() {
    if (gFakeShadowClass) return gFakeShadowClass;
    RTTIClass* c = CreateRegisteredClass(gFakeShadowClass, "MeshFakeShadowDefinition", kRTTIRootBaseName);
    using F = MeshFakeShadowDefinition;
    AddDirect<bool>(c, "Enabled", RTTI_OFFSETOF(F, enabled));
    AddDirect<Vector>(c, "Body mapping", RTTI_OFFSETOF(F, bodyMapping));
    AddDirect<Vector>(c, "Body scale offset", RTTI_OFFSETOF(F, bodyScaleOffset));
    AddDirect<float>(c, "Body pivot Y", RTTI_OFFSETOF(F, bodyPivotY));
    AddDirect<float>(c, "Body max shadow offset", RTTI_OFFSETOF(F, bodyMaxShadowOffset));
    AddDirect<Vector>(c, "HeadA mapping", RTTI_OFFSETOF(F, headAMapping));
    AddDirect<Vector>(c, "HeadA scale offset", RTTI_OFFSETOF(F, headAScaleOffset));
    AddDirect<float>(c, "HeadA max shadow offset", RTTI_OFFSETOF(F, headAMaxShadowOffset));
    AddDirect<Vector>(c, "HeadB mapping", RTTI_OFFSETOF(F, headBMapping));
    AddDirect<Vector>(c, "HeadB scale offset", RTTI_OFFSETOF(F, headBScaleOffset));
    AddDirect<float>(c, "HeadB max shadow offset", RTTI_OFFSETOF(F, headBMaxShadowOffset));
    return c;
}

const RTTIClass* MeshTemplate::RegisterClass() {
    if (gMeshTemplateClass) return gMeshTemplateClass;
    EntityTemplate::RegisterClass();
    const RTTIClass* definition = MeshTemplateAnimationDefinition::RegisterClass();
    const RTTIClass* fakeShadow = MeshFakeShadowDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gMeshTemplateClass, "MeshTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new MeshTemplate(); });
    using M = MeshTemplate;
    AddDirect<char*>(c, "Imported from file", RTTI_OFFSETOF(M, importedFrom), kFlagImportedFrom);
    AddDirect<bool>(c, "Optimizable mesh", RTTI_OFFSETOF(M, optimizable));
    c->AddProperty(new RTTIPropertyGroup("Physics"));
    AddDirect<uint32_t>(c, "Player collision type", RTTI_OFFSETOF(M, playerCollisionType), kPropertyFlagEnum,
                        kCollisionTypes);
    AddDirect<bool>(c, "Dynamic player collision", RTTI_OFFSETOF(M, dynamicPlayerCollision));
    AddDirect<BoundingBox4>(c, "Collision bounding box", RTTI_OFFSETOF(M, collisionBox), kFlagCollisionBox);
    AddDirect<Vector>(c, "Collision box scale", RTTI_OFFSETOF(M, collisionScale), kFlagVector);
    AddDirect<Vector>(c, "Collision box offset", RTTI_OFFSETOF(M, collisionOffset), kFlagVector);
    AddDirect<uint32_t>(c, "Rough LOS collision type", RTTI_OFFSETOF(M, roughLosType), kPropertyFlagEnum,
                        kCollisionTypes);
    AddDirect<uint32_t>(c, "Exact LOS collision type", RTTI_OFFSETOF(M, exactLosType), kPropertyFlagEnum,
                        kCollisionTypes);
    AddDirect<uint32_t>(c, "LOS mask", RTTI_OFFSETOF(M, losMask), kFlagMask);
    AddDirect<bool>(c, "Expands walkable area", RTTI_OFFSETOF(M, expandsWalkableArea));
    c->AddProperty(new RTTIPropertyGroup("Animation"));
    AddDirect<char*>(c, "Animation tree definition", RTTI_OFFSETOF(M, animationTreeDefinition), kFlagMultiline);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<MeshTemplateAnimationDefinition>>(
        "Animations", RTTI_OFFSETOF(M, animations), definition));
    AddDirect<float>(c, "XSI animation scale", RTTI_OFFSETOF(M, xsiAnimationScale), kFlagCollisionBox);
    c->AddProperty(new RTTIEmbeddedObjectProperty<MeshFakeShadowDefinition>("FakeShadow", RTTI_OFFSETOF(M, fakeShadow),
                                                                           fakeShadow));
    c->AddProperty(new RTTISGProperty<NameString, M>("HeadA bone", &M::GetHeadABone, &M::SetHeadABone, kFlagBoneChoice));
    c->AddProperty(new RTTISGProperty<NameString, M>("HeadB bone", &M::GetHeadBBone, &M::SetHeadBBone, kFlagBoneChoice));
    return c;
}

const RTTIClass* MeshTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* MeshTemplate::CreateEntity() { return new MeshEntity(); }

MeshTemplate::MeshTemplate() { typeId = ENTITY_MESH; }

MeshTemplate::~MeshTemplate() {
    ReleaseMeshData();
    for (Resource* r : animationResources)
        if (r) r->Release();
    RTTIFreeString(importedFrom);
    RTTIFreeString(animationTreeDefinition);
}

void MeshTemplate::ReleaseMeshData() {
    if (renderingData) renderingData->Release(false, true);
    renderingData = nullptr;
    delete hierarchy;
    hierarchy = nullptr;
}

// ---- Mesh block ----------------------------------------------------------------------

namespace {

// Gives the live mesh entities of a template controllers on its present hierarchy (or none).
// Only a re-read with entities about walks the live list: a first load may run on the
// resource thread while the main thread changes that list.
struct RebindControllers {
    const MeshTemplate* meshTemplate;
    bool needed;
    ~RebindControllers() {
        if (!needed) return;
        for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) {
            if (e->GetTemplate() != meshTemplate) continue;
            for (const RTTIClass* c = e->GetRTTIClass(); c; c = c->Base())
                if (c == MeshEntity::RegisterClass()) static_cast<MeshEntity*>(e)->RecreateAnimationController();
        }
    }
};

}  // namespace

bool MeshTemplate::ReadBinaryData(BoundedReader& in, uint32_t version) {
    if (!EntityTemplate::ReadBinaryData(in, version)) return false;
    // The old hierarchy goes now: live entities animating on it move to the new one (or
    // lose their controller) however the read ends.
    const RebindControllers rebind{this, hierarchy != nullptr && GetInstanceCount() > 0};
    ReleaseMeshData();
    UpdateCollisionBox();
    const char* name = NameOrEmpty(GetName());
    if (!animationsSorted)
        gLog.Warning(LogCategory::Engine, "MeshTemplate %s: animations are not in name order, looked up one by one",
                     name);
    auto fail = [&] {
        ReleaseMeshData();
        gLog.Error(LogCategory::Engine, "MeshTemplate::ReadBinaryData - corrupt mesh data in %s", name);
        in.Fail(nullptr);
        return false;
    };
    uint8_t hasRenderingData = 1, hasHierarchy = 0;
    if (version < kMeshOldestVersion) return fail();
    if (version >= 3 && (in.Remaining() < 1 || !in.ReadU8(hasRenderingData))) return fail();
    if (hasRenderingData) {
        renderingData = new MeshTemplateRenderingData();
        if (!renderingData->Read(in, version, name)) return fail();
    }
    if (version >= 8 && (in.Remaining() < 1 || !in.ReadU8(hasHierarchy))) return fail();
    if (hasHierarchy) {
        hierarchy = new MeshHierarchy();
        if (!hierarchy->Read(in, version)) return fail();
    }
    uint32_t m[3] = {0, 0, 0};
    float m4 = 0.0f;
    if (version >= 42 && (in.Remaining() < 8 || !in.Read(m, 8))) return fail();
    if (version >= 47 && (in.Remaining() < 8 || !in.Read(&m[2], 4) || !in.Read(&m4, 4))) return fail();
    std::memcpy(metrics, m, sizeof metrics);
    metric4 = m4;
    if (hierarchy) ResolveFakeShadowBones();
    return true;
}

bool MeshTemplate::WriteMeshBlock(std::vector<uint8_t>& out, uint32_t flags) const {
    const size_t start = out.size();
    MeshWriter w(out, flags);
    w.U8(renderingData ? 1 : 0);
    if (renderingData && !renderingData->Write(w)) {
        out.resize(start);
        gLog.Error(LogCategory::Engine, "MeshTemplate::WriteBinaryData - cannot write the mesh data of %s",
                   NameOrEmpty(GetName()));
        return false;
    }
    w.U8(hierarchy ? 1 : 0);
    if (hierarchy) hierarchy->Write(w);
    w.U32(metrics[0]);
    w.U32(metrics[1]);
    w.U32(metrics[2]);
    w.F32(metric4);
    return true;
}

void MeshTemplate::WriteBinaryData(void* out, uint32_t flags) {
    if (out) WriteMeshBlock(*static_cast<std::vector<uint8_t>*>(out), flags);
}

bool MeshTemplate::LoadResource() {
    const bool loaded = EntityTemplate::LoadResource();
    if (loaded) LoadAnimations();
    return loaded;
}

// ---- Helper drawing -------------------------------------------------------------------

bool MeshTemplate::DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) {
    if (!renderingData) return false;
    const int32_t preset = GetShaderPresetIndex(presetName);
    const uint8_t wire = (flags & kHelperFlagWire) ? 1 : 0;
    gVornexRenderer.DebugDrawMeshTemplate(renderingData, m, m, &staticBoundingBox, colour, uint32_t(preset < 0 ? 0 : preset),
                                          wire, nullptr, 0);
    return true;
}

bool MeshTemplate::DrawHelperParts(const Matrix& m, uint32_t flags) {
    if (!renderingData) return false;
    const Vector colour = (flags & kHelperFlagWhite) ? Vector(1, 1, 1, 1) : wireframeColor.ToLinearVector();
    gVornexRenderer.DebugDrawMeshTemplateParts(renderingData, m, colour, nullptr, 0);
    return true;
}

// ---- Change notification -----------------------------------------------------------

void MeshTemplate::NotifyEntitiesOfChange() {
    EntityTemplate::NotifyEntitiesOfChange();
    if (hierarchy) {
        hierarchy->ParseAnimationTreeDefinition(animationTreeDefinition, NameOrEmpty(GetName()));
        RefreshEntities();
    }
    UpdateCollisionBox();
    // Effects whose mesh elements draw this template refresh them.
    SceneEffectServices& effects = GetSceneEffectServices();
    if (effects.RefreshesMeshTemplates())
        for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
            if (e->IsSFX()) effects.RefreshMeshTemplate(e, this);
}

void MeshTemplate::RefreshEntities() {
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetTemplate() == this) e->RefreshAfterChange();
}

void MeshTemplate::UpdateCollisionBox() {
    for (int i = 0; i < 4; ++i) {
        effectiveCollisionBox.min[i] = collisionBox.min[i] * collisionScale[i] + collisionOffset[i];
        effectiveCollisionBox.max[i] = collisionBox.max[i] * collisionScale[i] + collisionOffset[i];
    }
    animationsSorted = true;
    for (uint32_t i = 1; i < animations.Count(); ++i)
        if (CompareDefinitionNames(animations[i - 1].name, animations[i].name) > 0) animationsSorted = false;
}

// ---- Queries --------------------------------------------------------------------------

void MeshTemplate::GetPropertyChoices(const char* propertyName, std::vector<NameString>& list) const {
    if (!propertyName || (std::strcmp(propertyName, "HeadA bone") != 0 && std::strcmp(propertyName, "HeadB bone") != 0))
        return;
    list.clear();
    if (hierarchy) {
        for (const MeshHierarchyNode& node : hierarchy->nodes)
            if (node.bone != kMeshNoIndex) list.push_back(node.name);
    }
    list.emplace_back();
}

int32_t MeshTemplate::FindAnimationDefinition(const char* name) const {
    const char* key = name ? name : "";
    const uint32_t count = animations.Count();
    if (!animationsSorted) {
        for (uint32_t i = 0; i < count; ++i)
            if (RTTIStricmp(animations[i].name.CStr(), key) == 0) return int32_t(i);
        return -1;
    }
    const auto at = std::lower_bound(animations.begin(), animations.end(), key,
                                     [](const MeshTemplateAnimationDefinition& a, const char* k) {
                                         return RTTIStricmp(a.name.CStr(), k) < 0;
                                     });
    const uint32_t lo = static_cast<uint32_t>(at - animations.begin());
    return lo < count && RTTIStricmp(animations[lo].name.CStr(), key) == 0 ? int32_t(lo) : -1;
}

int32_t MeshTemplate::GetShaderPresetIndex(const char* name) const {
    if (!name || !renderingData) return -1;
    for (size_t i = 0; i < renderingData->presets.size(); ++i)
        if (RTTIStricmp(renderingData->presets[i].name.CStr(), name) == 0) return int32_t(i);
    return -1;
}

int32_t MeshTemplate::GetShaderPresetIndexById(const NameString& name) const {
    if (name.IsEmpty() || !renderingData) return -1;
    for (size_t i = 0; i < renderingData->presets.size(); ++i)
        if (renderingData->presets[i].name == name) return int32_t(i);
    return -1;
}

void MeshTemplate::SetHeadABone(const NameString& name) {
    headABoneName = name;
    ResolveFakeShadowBones();
}

void MeshTemplate::SetHeadBBone(const NameString& name) {
    headBBoneName = name;
    ResolveFakeShadowBones();
}

// The bind pose composes the node matrices without animation; the animation scale
// applies only to animated translations, so it leaves the heads where the skeleton has
// them.
void MeshTemplate::ResolveFakeShadowBones() {
    if (!fakeShadow.enabled) return;
    struct Head {
        const NameString& name;
        int32_t& bone;
        Vector& position;
    } heads[] = {{headABoneName, fakeShadow.headABone, fakeShadow.headAPosition},
                 {headBBoneName, fakeShadow.headBBone, fakeShadow.headBPosition}};
    for (Head& h : heads) {
        h.bone = -1;
        h.position = Vector(0, 0, 0, 0);
        if (!hierarchy || h.name.IsEmpty()) continue;
        const int32_t node = hierarchy->FindNode(h.name);
        if (node < 0) continue;
        h.position = hierarchy->BindPoseGlobal(uint32_t(node)).r[3];
        const uint8_t bone = hierarchy->nodes[size_t(node)].bone;
        h.bone = bone == kMeshNoIndex ? -1 : int32_t(bone);
    }
}

void MeshTemplate::LoadAnimations() {
    for (Resource* r : animationResources)
        if (r) r->Release();
    animationResources.assign(animations.Count(), nullptr);
    for (uint32_t i = 0; i < animations.Count(); ++i) {
        const NameString& file = animations[i].fileName;
        if (file.IsEmpty()) continue;
        Resource* r = gResourceManager.GetResource(RESOURCE_ANIMATION, file.CStr(), 0, true, 0);
        if (!r) continue;
        r->Load(false);
        // A resource that loaded no bytes (a missing or unreadable file) is kept as none.
        if (r->GetSize() == 0) {
            r->Release();
            continue;
        }
        animationResources[i] = r;
    }
}

void MeshTemplate::QueueRequest(uint32_t argument) {
    EntityTemplate::QueueRequest(argument);
    if (!renderingData) return;
    // The part textures and shaders are marked with the request's flags (they were
    // loaded with the mesh).
    renderingData->RequestResources(argument);
}

void MeshTemplate::SetFallbackShaderPreset(const char* presetName) { gFallbackShaderPreset = presetName; }

const NameString& MeshTemplate::GetFallbackShaderPreset() { return gFallbackShaderPreset; }
