#include "render/UIDrawServices.h"

namespace {
UIDrawServices gDefaultUIDrawServices;
UIDrawServices* gUIDrawServices = &gDefaultUIDrawServices;
}  // namespace

UIDrawServices& GetUIDrawServices() { return *gUIDrawServices; }

void SetUIDrawServices(UIDrawServices* services) { gUIDrawServices = services ? services : &gDefaultUIDrawServices; }
