#pragma once
// The engine objects the entity, camera and character-controller cases work on, as the
// table Fixture of the script state: entities of a scene on a walk map (plain ones,
// Fixture.Entity, and one of every bound scene kind under its class name, as
// Fixture.MeshEntity, Fixture.FlagEntity, ...), aiming animations of no mesh, clip-less
// animations started with a script's parameters, the local player (Fixture.Player), a
// camera controller and a second one, clocks a case can set (Fixture.GameplayClock,
// Fixture.CameraClock) and spies on what reached a native, made on demand and destroyed
// by the cases or at the end. The kinds' templates are in the registry:
// Fixture.TemplateGUID(name) gives one's GUID.
struct lua_State;

void OpenEntityFixture(lua_State* L);
// Destroys what the fixture made (after the state is closed, or before).
void CloseEntityFixture();
