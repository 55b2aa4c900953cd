#pragma once
// The arithmetic the entity, camera and character-controller packages do in their
// bindings: the script forms whose arguments differ from the natives'. Each helper takes
// the bound object as `self` (the packages call them as methods, tolua_outside) and does
// nothing with a null one.
//
// Threads: main thread only, like every script.

struct Vector;
struct OBBox4;
class Matrix;
class Entity;
class BaseCamera;
class LCRTSCameraSubcontroller;
class VerySimpleCharacterController;

// ---- Cameras ----
// The colour's four components, in order.
void CameraSetBackgroundColor(BaseCamera* self, const Vector& color);
// Cameras a script made with `new` live until the program ends: they are destroyed and
// released then, after every script has gone.
void KeepCameraUntilExit(BaseCamera* camera);
// The second Vector cannot describe the native's bounding box (min and max), so the
// acceleration is applied without bounds whatever it holds.
void RTSCameraApplyAcceleration(LCRTSCameraSubcontroller* self, const Vector& acceleration, const Vector* unused);

// ---- Character controller ----
// A controller of the owner with the radius; the binding copies it into a script-owned
// object.
VerySimpleCharacterController CharacterControllerInstance(Entity* owner, float radius);
// The matrix's rows read as a box: centre, then the three half axes.
OBBox4 MatrixAsOBBox(const Matrix& m);
void CharacterControllerSetMoveConstraints(VerySimpleCharacterController* self, const Matrix& constraints);
