#include "render/resources/TemplateResourceServices.h"

#include <atomic>

namespace {
TemplateResourceServices gDefaultTemplateResourceServices;
std::atomic<TemplateResourceServices*> gTemplateResourceServices{&gDefaultTemplateResourceServices};
}  // namespace

TemplateResourceServices& GetTemplateResourceServices() { return *gTemplateResourceServices.load(); }

void SetTemplateResourceServices(TemplateResourceServices* services) {
    gTemplateResourceServices.store(services ? services : &gDefaultTemplateResourceServices);
}
