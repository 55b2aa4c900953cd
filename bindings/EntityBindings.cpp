#include "bindings/EntityBindings.h"

#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/Cameras.h"
#include "engine/navigation/VerySimpleCharacterController.h"

namespace {

class LastingCameras {
public:
    ~LastingCameras() {
        for (BaseCamera* camera : cameras) LuaBindingDestroy(camera);
    }
    std::vector<BaseCamera*> cameras;
};

LastingCameras gLastingCameras;

}  // namespace

void KeepCameraUntilExit(BaseCamera* camera) {
    if (camera) gLastingCameras.cameras.push_back(camera);
}

void CameraSetBackgroundColor(BaseCamera* self, const Vector& color) {
    if (self) self->SetBackgroundColor(color.x, color.y, color.z, color.w);
}

void RTSCameraApplyAcceleration(LCRTSCameraSubcontroller* self, const Vector& acceleration, const Vector*) {
    if (self) self->ApplyAcceleration(acceleration, nullptr);
}

VerySimpleCharacterController CharacterControllerInstance(Entity* owner, float radius) {
    return VerySimpleCharacterController(owner, radius);
}

OBBox4 MatrixAsOBBox(const Matrix& m) {
    OBBox4 box;
    box.center = m.r[0];
    box.xextent = m.r[1];
    box.yextent = m.r[2];
    box.zextent = m.r[3];
    return box;
}

void CharacterControllerSetMoveConstraints(VerySimpleCharacterController* self, const Matrix& constraints) {
    if (self) self->SetMoveConstraints(MatrixAsOBBox(constraints));
}
