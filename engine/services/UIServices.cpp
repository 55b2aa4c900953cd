#include "engine/services/UIServices.h"

namespace {
UIServices gDefaultUIServices;
UIServices* gUIServices = &gDefaultUIServices;
}  // namespace

UIServices& GetUIServices() { return *gUIServices; }

void SetUIServices(UIServices* services) { gUIServices = services ? services : &gDefaultUIServices; }
