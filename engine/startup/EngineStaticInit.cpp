// Start-up table of the engine.
#include "engine/startup/EngineStaticInit.h"

#include "engine/services/GameClock.h"
#include "engine/VornexEngine.h"

#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/Cameras.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/SceneRenderList.h"
#include "render/scene/DebugPathList.h"
#include "render/resources/TemplateResourceServices.h"
#include "engine/script/LuaBitLibrary.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ReplicationBridge.h"

namespace {

bool gLuaWrapperBuilt = false;

// The script host object (its state is made later, by engine start-up). Built after the
// small-object pools of the same module, so it is destroyed, closing any state still
// open, before they are.
void CreateScriptHost() {
    if (gLuaWrapperBuilt) return;
    CreateGlobalLuaWrapper();
    gLua.SetInitHooks(OpenBitLibrary, ResetReplication);
    LuaWrapper::SetEngineSingletons([]() -> void* { return &gVornexEngine; },
                                    []() -> void* { return &gVornexEngine.Timer(); });
    gLuaWrapperBuilt = true;
    PushExitHandler(
        [](void*) {
            DestroyGlobalLuaWrapper();
            gLuaWrapperBuilt = false;
        },
        nullptr);
}

// What the resource manager asks of the templates: the resource part of a template made
// by class name, and the resource lists' "Templates" entries (acquire by name, then drop
// the use: the list only wants it loaded).
class EntityTemplateResources final : public TemplateResourceServices {
public:
    bool HasTemplateRegistry() const override { return true; }
    Resource* ResourcePart(RTTIPolyBaseClass* object) override { return TemplateResourcePart(object); }
    void PreloadTemplate(const char* templateName) override {
        if (EntityTemplate* t = gEntityTemplateRegistry.AcquireTemplateByName(templateName, 0)) t->Release();
    }
};
EntityTemplateResources gEntityTemplateResources;

// The entity manager object and the template services of the resource manager.
void CreateEntityManager() {
    StaticInitCreateGlobal<EntityManager, gEntityManager>();
    LuaWrapper::SetEntityManagerSingleton([]() -> void* { return gEntityManager; });
    SetTemplateResourceServices(&gEntityTemplateResources);
    PushExitHandler([](void*) { SetTemplateResourceServices(nullptr); }, nullptr);
}

// The engine object in its static storage; destroyed after a shutdown that its owner ran.
void CreateEngineObject() {
    CreateGlobalVornexEngine();
    PushExitHandler([](void*) { DestroyGlobalVornexEngine(); }, nullptr);
}


using K = StaticInitKind;

const StaticInitRow kEngineRows[] = {
    {1, K::GlobalObject, "gGameClock", &StaticInitCreateGlobal<GameClock, gGameClock>, 0, 0},
    {1, K::GlobalObject, "gVornexEngine", &CreateEngineObject, 0, 0},
    {1, K::GlobalObject, "gSceneRenderList", &StaticInitCreateGlobal<SceneRenderList, gSceneRenderList>, 0, 0},
    {2, K::BareClassRegistration, "LCBaseCameraSubcontroller", nullptr, 0, 0},
    {5, K::BareClassRegistration, "BaseCamera", nullptr, 0, 0},
    {5, K::ClassRegistration, "YawPitchCamera", &StaticInitRegister<YawPitchCamera>, 0, 0},
    {5, K::ClassRegistration, "PerspectiveCamera", &StaticInitRegister<PerspectiveCamera>, 0, 0},
    {5, K::ClassRegistration, "TargetViewCamera", &StaticInitRegister<TargetViewCamera>, 0, 0},
    {5, K::ClassRegistration, "GameCameraControllerCamera", &StaticInitRegister<GameCameraControllerCamera>, 0, 0},
    {5, K::ClassRegistration, "LCRTSCameraSubcontroller", &StaticInitRegister<LCRTSCameraSubcontroller>, 0, 0},
    {5, K::GlobalObject, "gEntityManager", &CreateEntityManager, 0, 0},
    {5, K::ClassRegistration, "EntityLayer", &StaticInitRegister<EntityLayer>, 0, 0},
    {5, K::ClassRegistration, "EntityLayerGroup", &StaticInitRegister<EntityLayerGroup>, 0, 0},
    {5, K::ClassRegistration, "EntityLayerSystem", &StaticInitRegister<EntityLayerSystem>, 0, 0},
    {5, K::ClassRegistration, "Entity", &StaticInitRegister<Entity>, 0, 0},
    {5, K::ClassRegistration, "SceneEntity", &StaticInitRegister<SceneEntity>, 0, 0},
    {5, K::ClassRegistration, "SceneParametersEntity", &StaticInitRegister<SceneParametersEntity>, 0, 0},
    {8, K::ClassRegistration, "EntityTemplate", &StaticInitRegister<EntityTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "EntityTemplate", nullptr, 0, 4096},
    {9, K::GlobalObject, "gLua", &CreateScriptHost, 0, 0},
    {10, K::ClassRegistration, "EntityTemplateStub", &StaticInitRegister<EntityTemplateStub>, 0, 0},
    {10, K::ClassRegistration, "EntitySet", &StaticInitRegister<EntitySet>, 0, 0},
};

}  // namespace

const StaticInitTable kEngineStaticInit = {kEngineRows, sizeof(kEngineRows) / sizeof(kEngineRows[0])};
