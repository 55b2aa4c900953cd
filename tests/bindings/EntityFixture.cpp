#include "EntityFixture.h"

#include <lua.hpp>

#include <cstring>
#include <memory>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/navigation/Pathfinder.h"
#include "engine/navigation/VerySimpleCharacterController.h"
#include "engine/navigation/WalkGridSupport.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/GameServices.h"
#include "platform/os/Clock.h"
#include "net/Player.h"
#include "platform/os/Thread.h"
#include "scene/animation/ProceduralTargetingAnimation.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/entities/SceneParametersTemplate.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sfx/SFXEntity.h"

namespace {

constexpr uint32_t kGridSize = 20;  // cells a side, 1 unit each, centred on the origin

std::unique_ptr<EntityTemplate> gTemplate;
GameCameraController* gCameraController = nullptr;

// One template of each bound scene kind, by the kind's script class; made with the scene.
// Each is in the registry's GUID index (GUID ...-0000000000NN, N its place in the list)
// while the scene lives.
struct KindTemplate {
    const char* kind;
    std::unique_ptr<EntityTemplate> (*make)();
    std::unique_ptr<EntityTemplate> made;
    std::unique_ptr<EntityTemplateStub> stub;
};
template <class T>
std::unique_ptr<EntityTemplate> MakeTemplate() {
    return std::make_unique<T>();
}
// A mesh whose line-of-sight box (the unit cube) blocks rough queries.
std::unique_ptr<EntityTemplate> MakeBlockingMesh() {
    auto t = std::make_unique<MeshTemplate>();
    t->roughLosType = MESH_COLLISION_BOX;
    return t;
}
KindTemplate gKinds[] = {
    {"LightEntity", &MakeTemplate<LightTemplate>, nullptr, nullptr},
    {"MeshEntity", &MakeTemplate<MeshTemplate>, nullptr, nullptr},
    {"FlagEntity", &MakeTemplate<FlagTemplate>, nullptr, nullptr},
    {"GraphEntity", &MakeTemplate<GraphTemplate>, nullptr, nullptr},
    {"TriggerEntity", &MakeTemplate<TriggerTemplate>, nullptr, nullptr},
    {"CompoundEntity", &MakeTemplate<CompoundTemplate>, nullptr, nullptr},
    {"ParticleEntity", &MakeTemplate<ParticleTemplate>, nullptr, nullptr},
    {"SFXEntity", &MakeTemplate<SFXTemplate>, nullptr, nullptr},
    {"SceneParametersEntity", &MakeTemplate<SceneParametersTemplate>, nullptr, nullptr},
    {"InGameUIEntity", &MakeTemplate<InGameUITemplate>, nullptr, nullptr},
    {"ColorEnvelopeEntity", &MakeTemplate<ColorEnvelopeTemplate>, nullptr, nullptr},
    {"BlockingMesh", &MakeBlockingMesh, nullptr, nullptr},
};

// Aiming animations without a mesh, destroyed by the fixture.
std::vector<ProceduralTargetingAnimation*> gAnimations;

// A scene of 200 units a side whose centre 20 x 20 is walkable.
void EnsureScene() {
    if (gTemplate) return;
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
    gEntityManager->SetSceneGrid(MakeWalkGrid(kGridSize, kGridSize, 1.0f, Vector(-10, 0, -10, 1),
                                              std::vector<uint8_t>(kGridSize * kGridSize, 1)));
    gTemplate = std::make_unique<EntityTemplate>();
    gTemplate->SetName("fixture");
    for (KindTemplate& k : gKinds) {
        k.made = k.make();
        k.made->SetName(k.kind);
        k.stub = std::make_unique<EntityTemplateStub>();
        k.stub->guid.bytes[0] = static_cast<uint8_t>(&k - gKinds + 1);
        k.stub->typeId = k.made->typeId;
        k.stub->SetFileName(k.kind);
        k.made->guid = k.stub->guid;
        k.stub->SetTemplate(k.made.get());
        gEntityTemplateRegistry.InsertStub(k.stub.get());
    }
}

// Fixture.TemplateGUID(name): the GUID of the template of the scene kind whose script
// class is name (nil for another name).
int TemplateGUID(lua_State* L) {
    EnsureScene();
    const char* kind = luaL_checkstring(L, 1);
    for (KindTemplate& k : gKinds)
        if (std::strcmp(k.kind, kind) == 0) {
            LuaBindingPushCopy<SimpleGUID>(L, &k.stub->guid, "SimpleGUID");
            return 1;
        }
    lua_pushnil(L);
    return 1;
}

// Fixture.Kind(name [, x, y, z]): a new entity of the scene kind whose script class is
// name, at the point; nil for another name.
int NewKind(lua_State* L) {
    EnsureScene();
    const char* kind = luaL_checkstring(L, 1);
    for (KindTemplate& k : gKinds) {
        if (std::strcmp(k.kind, kind) != 0) continue;
        // Without a rendering context, now or later: no renderer runs to release one.
        Entity* e = gEntityManager->CreateEntityFromTemplate(k.made.get(), nullptr, Matrix::IDENTITY,
                                                             ENTITYCREATION_DONOTCREATERENDERINGCONTEXT, nullptr);
        if (e) {
            e->RaiseFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
            e->SetGlobalPosition3(float(lua_tonumber(L, 2)), float(lua_tonumber(L, 3)), float(lua_tonumber(L, 4)));
        }
        gLua.PushObject(e);
        return 1;
    }
    lua_pushnil(L);
    return 1;
}

// Fixture.ProceduralTargetingAnimation(): an aiming animation of no mesh.
int NewAnimation(lua_State* L) {
    gAnimations.push_back(new ProceduralTargetingAnimation(os::CurrentThreadId(), AnimationParams()));
    gLua.PushUserType(gAnimations.back(), "ProceduralTargetingAnimation");
    return 1;
}

// Fixture.DestroyAnimation(animation): destroys an animation Fixture made.
int DestroyAnimation(lua_State* L) {
    void* a = LuaBindingReader{"ProceduralTargetingAnimation"}(L, 1, nullptr);
    gLuaBindingDeadArgument = false;
    for (size_t i = 0; i < gAnimations.size(); ++i)
        if (gAnimations[i] == a) {
            delete gAnimations[i];
            gAnimations.erase(gAnimations.begin() + std::ptrdiff_t(i));
            break;
        }
    return 0;
}

// Clip-less animations started with a script's parameters, run on their own clock.
std::vector<std::unique_ptr<XSIAnimation>> gPlaying;
GameTimer gPlayingClock;

// Fixture.StartAnimation(params): starts an animation of one second with the parameters.
int StartAnimation(lua_State* L) {
    auto* params = static_cast<AnimationParams*>(LuaBindingReader{"AnimationParams"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!params) return 0;
    gPlaying.push_back(std::make_unique<XSIAnimation>(os::CurrentThreadId(), nullptr, *params, 1.0f));
    gPlaying.back()->SetCustomClock(&gPlayingClock);
    gPlaying.back()->weight.current = 1.0f;
    return 0;
}

// Fixture.TickAnimations(seconds): advances the started animations (their sync objects too).
int TickAnimations(lua_State* L) {
    gPlayingClock.Tick(float(lua_tonumber(L, 1)));
    auto workspace = std::make_unique<AnimationPoseWorkspace>();
    const MeshHierarchy hierarchy;
    for (auto& a : gPlaying) a->Evaluate(*workspace, hierarchy);
    return 0;
}

// Fixture.EndAnimations(): ends the started animations.
int EndAnimations(lua_State*) {
    gPlaying.clear();
    return 0;
}

// Fixture.ConnectFlags(from, to): a path connection between two live flags.
int ConnectFlags(lua_State* L) {
    auto* from = static_cast<FlagEntity*>(LuaBindingReader{"FlagEntity"}(L, 1, nullptr));
    auto* to = static_cast<FlagEntity*>(LuaBindingReader{"FlagEntity"}(L, 2, nullptr));
    gLuaBindingDeadArgument = false;
    if (from && to) from->AddConnection(to);
    return 0;
}

// Fixture.EnterTrigger(trigger, entity): the entity enters the live trigger.
int EnterTrigger(lua_State* L) {
    auto* trigger = static_cast<TriggerEntity*>(LuaBindingReader{"TriggerEntity"}(L, 1, nullptr));
    auto* e = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 2, nullptr));
    gLuaBindingDeadArgument = false;
    if (trigger && e) TriggerEntity::HandleEnter(trigger, e);
    return 0;
}

// Fixture.Player(): the match's local player (no package makes one).
Player* gPlayer = nullptr;
int LocalPlayer(lua_State*) {
    if (!gPlayer) gPlayer = new Player(true, 0xFFFFFFFFu);
    gLua.PushObject(gPlayer);
    return 1;
}

// Fixture.Entity([x, y, z]): a new entity of the scene root at the point.
int NewEntity(lua_State* L) {
    EnsureScene();
    Entity* e = gEntityManager->CreateEntityFromTemplate(gTemplate.get(), nullptr, Matrix::IDENTITY, 0, nullptr);
    if (e) e->SetGlobalPosition3(float(lua_tonumber(L, 1)), float(lua_tonumber(L, 2)), float(lua_tonumber(L, 3)));
    gLua.PushObject(e);
    return 1;
}

// Fixture.Destroy(entity): destroys a live entity of the fixture's scene.
int DestroyEntity(lua_State* L) {
    auto* e = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (e) gEntityManager->DestroyEntity(e);
    return 0;
}

// Fixture.Address(entity): where the entity lives, as a number (nil for none).
int Address(lua_State* L) {
    void* e = LuaBindingReader{"Entity"}(L, 1, nullptr);
    gLuaBindingDeadArgument = false;
    if (e) lua_pushnumber(L, static_cast<lua_Number>(reinterpret_cast<uintptr_t>(e)));
    else lua_pushnil(L);
    return 1;
}

// Fixture.CreateMPProperties(entity): gives a live entity its replicated properties.
int CreateMPProperties(lua_State* L) {
    auto* e = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (e) e->CreateMPProperties();
    return 0;
}

// Fixture.RegisterClass(name, base): registers a script class as the game does.
int RegisterClass(lua_State* L) {
    gLua.RegisterClass(luaL_checkstring(L, 1), luaL_checkstring(L, 2));
    return 0;
}

// Clocks the cases set: the smooth gameplay time the controllers read, and the camera
// clock (smooth game time and the frame's step). Installed while a case sets them.
struct FixtureGameServices : GameServices {
    int64_t SmoothGameplayTime() const override { return now; }
    int64_t now = 0;
};
struct FixtureCameraServices : CameraServices {
    int64_t SmoothGameTime() const override { return now; }
    float FrameGameDelta() const override { return delta; }
    int64_t now = 0;
    float delta = 0.0f;
};
FixtureGameServices gGameClock;
GameServices* gSavedGameServices = nullptr;
FixtureCameraServices gCameraClock;
CameraServices* gSavedCameraServices = nullptr;

int64_t Ticks(lua_State* L, int index) { return int64_t(lua_tonumber(L, index) * double(os::kCounterFrequency)); }

// Fixture.GameplayClock(seconds): the smooth gameplay time; no argument: the game's again.
int GameplayClock(lua_State* L) {
    if (lua_isnoneornil(L, 1)) {
        if (gSavedGameServices) SetGameServices(gSavedGameServices);
        gSavedGameServices = nullptr;
        return 0;
    }
    if (!gSavedGameServices) gSavedGameServices = &GetGameServices();
    gGameClock.now = Ticks(L, 1);
    SetGameServices(&gGameClock);
    return 0;
}

// Fixture.CameraClock(seconds, step): the camera clock; no argument: the game's again.
int CameraClock(lua_State* L) {
    if (lua_isnoneornil(L, 1)) {
        if (gSavedCameraServices) SetCameraServices(gSavedCameraServices);
        gSavedCameraServices = nullptr;
        return 0;
    }
    if (!gSavedCameraServices) gSavedCameraServices = &GetCameraServices();
    gCameraClock.now = Ticks(L, 1);
    gCameraClock.delta = float(lua_tonumber(L, 2));
    SetCameraServices(&gCameraClock);
    return 0;
}

// Fixture.ControllerSpy(controller): its radius and the cost limit its pathfinder holds
// (nil without one).
int ControllerSpy(lua_State* L) {
    auto* c = static_cast<VerySimpleCharacterController*>(LuaBindingReader{"VerySimpleCharacterController"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!c) return 0;
    lua_pushnumber(L, c->GetRadius());
    if (c->GetPathfinder()) lua_pushnumber(L, c->GetPathfinder()->MaxCost());
    else lua_pushnil(L);
    return 2;
}

// Fixture.RebuildCamera(camera): the camera's matrices from its present state.
int RebuildCamera(lua_State* L) {
    auto* camera = static_cast<BaseCamera*>(LuaBindingReader{"BaseCamera"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (camera) camera->RebuildMatrices();
    return 0;
}

// Fixture.GameCameraController(): the one controller of the run.
int CameraController(lua_State*) {
    if (!gCameraController) gCameraController = new GameCameraController();
    gLua.PushUserType(gCameraController, "GameCameraController");
    return 1;
}

// Fixture.OtherCameraController(): a second controller, with lists of its own.
GameCameraController* gOtherCameraController = nullptr;
int OtherCameraController(lua_State*) {
    if (!gOtherCameraController) gOtherCameraController = new GameCameraController();
    gLua.PushUserType(gOtherCameraController, "GameCameraController");
    return 1;
}

// Fixture.UpdateCameraController(): one frame of the controller of the run.
int UpdateCameraController(lua_State*) {
    if (gCameraController) gCameraController->Update();
    return 0;
}

// The classes without values of their own, made from the ones above.
constexpr const char* kFixtureScript = R"(
Fixture.BaseCamera = function() return PerspectiveCamera() end
Fixture.YawPitchCamera = Fixture.BaseCamera
Fixture.PerspectiveCamera = Fixture.BaseCamera
Fixture.TargetViewCamera = function() return TargetViewCamera() end
Fixture.LCBaseCameraSubcontroller = function()
    return Fixture.GameCameraController():AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
end
Fixture.LCRTSCameraSubcontroller = function()
    return Fixture.GameCameraController():AddNewSubcontroller(CAMERASUBCONTROLLER_RTS)
end
for _, kind in ipairs({"LightEntity", "MeshEntity", "FlagEntity", "GraphEntity", "TriggerEntity", "CompoundEntity",
                       "ParticleEntity", "SFXEntity", "SceneParametersEntity", "InGameUIEntity",
                       "ColorEnvelopeEntity"}) do
    Fixture[kind] = function(...) return Fixture.Kind(kind, ...) end
end
Fixture.EntityLayerSystem = function()
    Fixture.Entity()  -- the scene, with its layer system
    return gEntityManager:GetLayerSystem()
end
Fixture.VerySimpleCharacterController = function()
    return VerySimpleCharacterController:Instance(Fixture.Entity(0, 0, 0))
end
)";

}  // namespace

void OpenEntityFixture(lua_State* L) {
    static const luaL_Reg kFunctions[] = {{"Entity", &NewEntity},
                                          {"Destroy", &DestroyEntity},
                                          {"GameCameraController", &CameraController},
                                          {"Kind", &NewKind},
                                          {"Address", &Address},
                                          {"RegisterClass", &RegisterClass},
                                          {"CreateMPProperties", &CreateMPProperties},
                                          {"TemplateGUID", &TemplateGUID},
                                          {"ProceduralTargetingAnimation", &NewAnimation},
                                          {"DestroyAnimation", &DestroyAnimation},
                                          {"Player", &LocalPlayer},
                                          {"ConnectFlags", &ConnectFlags},
                                          {"GameplayClock", &GameplayClock},
                                          {"CameraClock", &CameraClock},
                                          {"ControllerSpy", &ControllerSpy},
                                          {"RebuildCamera", &RebuildCamera},
                                          {"OtherCameraController", &OtherCameraController},
                                          {"UpdateCameraController", &UpdateCameraController},
                                          {"EnterTrigger", &EnterTrigger},
                                          {"StartAnimation", &StartAnimation},
                                          {"TickAnimations", &TickAnimations},
                                          {"EndAnimations", &EndAnimations},
                                          {nullptr, nullptr}};
    luaL_register(L, "Fixture", kFunctions);
    // Fixture.Sanitized: the allocator keeps freed blocks back (AddressSanitizer).
#if defined(__SANITIZE_ADDRESS__)
    lua_pushboolean(L, 1);
#else
    lua_pushboolean(L, 0);
#endif
    lua_setfield(L, -2, "Sanitized");
    lua_pop(L, 1);
    if (luaL_dostring(L, kFixtureScript) != 0) lua_pop(L, 1);
}

void CloseEntityFixture() {
    delete gCameraController;
    delete gOtherCameraController;
    gOtherCameraController = nullptr;
    if (gSavedGameServices) SetGameServices(gSavedGameServices);
    if (gSavedCameraServices) SetCameraServices(gSavedCameraServices);
    gSavedGameServices = nullptr;
    gSavedCameraServices = nullptr;
    for (ProceduralTargetingAnimation* a : gAnimations) delete a;
    gAnimations.clear();
    gPlaying.clear();
    gCameraController = nullptr;
    if (gTemplate) gEntityManager->NewScene();
    if (gPlayer) Player::Delete(gPlayer);
    gPlayer = nullptr;
    gTemplate.reset();
    for (KindTemplate& k : gKinds) {
        if (k.stub) gEntityTemplateRegistry.RemoveStub(k.stub.get());
        k.stub.reset();
        k.made.reset();
    }
}
