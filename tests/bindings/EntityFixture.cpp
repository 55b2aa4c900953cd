#include "EntityFixture.h"

#include <lua.hpp>

#include <memory>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/navigation/WalkGridSupport.h"
#include "engine/script/LuaWrapper.h"

namespace {

constexpr uint32_t kGridSize = 20;  // cells a side, 1 unit each, centred on the origin

std::unique_ptr<EntityTemplate> gTemplate;
GameCameraController* gCameraController = nullptr;

// A scene of 200 units a side whose centre 20 x 20 is walkable.
void EnsureScene() {
    if (gTemplate) return;
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
    gEntityManager->SetSceneGrid(MakeWalkGrid(kGridSize, kGridSize, 1.0f, Vector(-10, 0, -10, 1),
                                              std::vector<uint8_t>(kGridSize * kGridSize, 1)));
    gTemplate = std::make_unique<EntityTemplate>();
    gTemplate->SetName("fixture");
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

// Fixture.GameCameraController(): the one controller of the run.
int CameraController(lua_State*) {
    if (!gCameraController) gCameraController = new GameCameraController();
    gLua.PushUserType(gCameraController, "GameCameraController");
    return 1;
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
Fixture.VerySimpleCharacterController = function()
    return VerySimpleCharacterController.Instance(Fixture.Entity(0, 0, 0))
end
)";

}  // namespace

void OpenEntityFixture(lua_State* L) {
    static const luaL_Reg kFunctions[] = {{"Entity", &NewEntity},
                                          {"Destroy", &DestroyEntity},
                                          {"GameCameraController", &CameraController},
                                          {nullptr, nullptr}};
    luaL_register(L, "Fixture", kFunctions);
    lua_pop(L, 1);
    if (luaL_dostring(L, kFixtureScript) != 0) lua_pop(L, 1);
}

void CloseEntityFixture() {
    delete gCameraController;
    gCameraController = nullptr;
    if (gTemplate) gEntityManager->NewScene();
    gTemplate.reset();
}
