// The scene root's settings and the scene-parameter entities.
#include "core/StaticInit.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/SceneParametersEntity.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "core/rtti/DirectProperty.h"

namespace {

RTTIClass* gSceneEntityClass = nullptr;
RTTIClass* gSceneParametersEntityClass = nullptr;

const char kVisualizationModeNames[] = "PC\0iPhone\0iPad2\0DEFAULT\0";
constexpr uint32_t kVisualizationDefault = 3;

// Scene-parameter command modes with no parameter set.
constexpr uint32_t kModeDropOverride = 0;
constexpr uint32_t kModeOverrideOff = 1;
constexpr uint32_t kModeSceneDefault = 10;

void PostNoParameters(uint32_t mode) {
    if (gRendererScene) gRendererScene->PostSceneParameters(nullptr, mode, 0.0f);
}

SceneEntity* SceneRoot() {
    return gEntityManager ? dynamic_cast<SceneEntity*>(gEntityManager->GetRootEntity()) : nullptr;
}

}  // namespace

const RTTIClass* SceneEntity::RegisterClass() {
    if (gSceneEntityClass) return gSceneEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gSceneEntityClass, "SceneEntity", "Entity");
    AddDirect<SimpleGUID>(c, "Active scene param box", RTTI_OFFSETOF(SceneEntity, activeSceneParamBox));
    AddDirect<bool>(c, "Requires common resources", RTTI_OFFSETOF(SceneEntity, requiresCommonResources));
    AddDirect<bool>(c, "Allow mesh optimization", RTTI_OFFSETOF(SceneEntity, allowMeshOptimization));
    AddDirect<float>(c, "Universe bbox min y", RTTI_OFFSETOF(SceneEntity, universeMinY));
    AddDirect<NameString>(c, "Scene tag", RTTI_OFFSETOF(SceneEntity, sceneTag));
    AddDirect<uint32_t>(c, "Visualization mode", RTTI_OFFSETOF(SceneEntity, visualizationMode), kPropertyFlagEnum,
                        kVisualizationModeNames);
    AddDirect<Vector>(c, "TerrainLightmapPosBBox", RTTI_OFFSETOF(SceneEntity, terrainLightmapPosBBox));
    AddDirect<Vector>(c, "TerrainLightmapUVBBox", RTTI_OFFSETOF(SceneEntity, terrainLightmapUVBBox));
    AddDirect<Vector>(c, "TerrainLightmapUVMulAdd", RTTI_OFFSETOF(SceneEntity, terrainLightmapUVMulAdd));
    return c;
}

const RTTIClass* SceneEntity::GetRTTIClass() const { return RegisterClass(); }

void SceneEntity::OnLoaded(uint32_t options) {
    Entity::OnLoaded(options);
    uint32_t mode = visualizationMode;
    if (mode == kVisualizationDefault) mode = gProjectConfig ? gProjectConfig->visualizationMode : 0;
    gVornexRenderer.SetVisualizationMode(mode);
    if (gEntityManager) gEntityManager->SetUniverseMinY(universeMinY);
    if (gRendererScene)
        gRendererScene->PostTerrainLightmap(terrainLightmapPosBBox, terrainLightmapUVBBox, terrainLightmapUVMulAdd);
}

void SceneEntity::OnPropertyChanged(const char* propertyName) {
    Entity::OnPropertyChanged(propertyName);
    ActivateSceneParams();
}

void SceneEntity::ActivateSceneParams() {
    const EntityManager* manager = gEntityManager;
    Entity* active = activeSceneParamBox.IsNull() || !manager ? nullptr : manager->FindEntityByGUID(activeSceneParamBox);
    if (auto* params = dynamic_cast<SceneParametersEntity*>(active)) params->Activate(SceneParametersEntity::kFromScene, 0.0f);
    else PostNoParameters(kModeSceneDefault);
}

// ---------------------------------------------------------------------------------

const RTTIClass* SceneParametersEntity::RegisterClass() {
    if (gSceneParametersEntityClass) return gSceneParametersEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gSceneParametersEntityClass, "SceneParametersEntity", "Entity",
                                 [](int32_t) -> RTTIPolyBaseClass* { return new SceneParametersEntity(); });
}

const RTTIClass* SceneParametersEntity::GetRTTIClass() const { return RegisterClass(); }

void SceneParametersEntity::Activate(uint32_t flags, float blendTime) {
    if (!(flags & kKeepActiveGuid))
        if (SceneEntity* root = SceneRoot()) root->activeSceneParamBox = GetGUID();
    if (flags & kResetOverride) PostNoParameters(kModeDropOverride);
    if (GetTemplate()) GetSceneContentServices().StartSceneParametersTransition(GetTemplate(), flags, blendTime);
}

void SceneParametersEntity::ChangeTemplate(EntityTemplate* t) {
    Entity::ChangeTemplate(t);
    if (gEntityManager && gEntityManager->GetActiveSceneParamsEntity() == this && GetTemplate())
        GetSceneContentServices().StartSceneParametersTransition(GetTemplate(), 0, 0.0f);
}

void SceneParametersEntity::DeactivateOverrideParams() { PostNoParameters(kModeOverrideOff); }

void SceneParametersEntity::ActivateDefaultSceneParams(uint32_t flags, float blendTime) {
    if (SceneParametersEntity* active = gEntityManager ? gEntityManager->GetActiveSceneParamsEntity() : nullptr)
        active->Activate(flags, blendTime);
    else if (flags & kResetOverride)
        PostNoParameters(kModeDropOverride);
}
