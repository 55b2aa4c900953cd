#include "engine/input/TouchRoutingServices.h"

namespace {
TouchRoutingServices gDefaultTouchRoutingServices;
TouchRoutingServices* gTouchRoutingServices = &gDefaultTouchRoutingServices;
}  // namespace

TouchRoutingServices& GetTouchRoutingServices() { return *gTouchRoutingServices; }

void SetTouchRoutingServices(TouchRoutingServices* services) {
    gTouchRoutingServices = services ? services : &gDefaultTouchRoutingServices;
}
