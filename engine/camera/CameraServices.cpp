#include "engine/camera/CameraServices.h"

namespace {
CameraServices gDefaultCameraServices;
CameraServices* gCameraServices = &gDefaultCameraServices;
}  // namespace

CameraServices& GetCameraServices() { return *gCameraServices; }

void SetCameraServices(CameraServices* services) {
    gCameraServices = services ? services : &gDefaultCameraServices;
}
