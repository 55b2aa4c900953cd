#include "core/config/RendererConfigContainer.h"

#include <atomic>

#include "core/StaticInit.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/DirectProperty.h"

namespace {
RTTIClass* gRendererConfigClass = nullptr;
RendererConfigServices gDefaultRendererConfigServices;
std::atomic<RendererConfigServices*> gRendererConfigServices{&gDefaultRendererConfigServices};
}  // namespace

RendererConfigServices& GetRendererConfigServices() { return *gRendererConfigServices.load(); }

void SetRendererConfigServices(RendererConfigServices* services) {
    gRendererConfigServices.store(services ? services : &gDefaultRendererConfigServices);
}

void RendererConfigContainer::OnPropertyChanged(const char* propertyName) {
    if (propertyName && RTTIStricmp(propertyName, "GFX quality level") != 0) return;
    GetRendererConfigServices().ApplyRendererConfig(*this);
}

const RTTIClass* RendererConfigContainer::RegisterClass(const char* nameOverride) {
    if (gRendererConfigClass) return gRendererConfigClass;
    using R = RendererConfigContainer;
    RTTIClass* c = CreateRegisteredClass(gRendererConfigClass, nameOverride ? nameOverride : "RendererConfigContainer",
                                         kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "MSAA Mode", RTTI_OFFSETOF(R, msaaMode), kPropertyFlagEnum, kMSAAModeNames);
    AddDirect<uint32_t>(c, "GFX quality level", RTTI_OFFSETOF(R, gfxQualityLevel), kPropertyFlagEnum, kGFXQualityNames);
    AddDirect<float>(c, "Semi resolution screen scale", RTTI_OFFSETOF(R, semiResolutionScreenScale));
    AddDirect<float>(c, "Brightness", RTTI_OFFSETOF(R, brightness));
    AddDirect<float>(c, "ScreenScaleX", RTTI_OFFSETOF(R, screenScaleX));
    AddDirect<float>(c, "ScreenScaleY", RTTI_OFFSETOF(R, screenScaleY));
    AddDirect<bool>(c, "GPU Sync", RTTI_OFFSETOF(R, gpuSync));
    AddDirect<bool>(c, "VSync", RTTI_OFFSETOF(R, vSync));
    AddDirect<bool>(c, "Enable shadow map", RTTI_OFFSETOF(R, enableShadowMap));
    AddDirect<bool>(c, "Enable shadow map filtering", RTTI_OFFSETOF(R, enableShadowMapFiltering));
    AddDirect<uint32_t>(c, "Shadow map size", RTTI_OFFSETOF(R, shadowMapSize));
    AddDirect<bool>(c, "Enable full screen effects", RTTI_OFFSETOF(R, enableFullScreenEffects));
    AddDirect<bool>(c, "Enable refraction", RTTI_OFFSETOF(R, enableRefraction));
    AddDirect<bool>(c, "Enable outlines", RTTI_OFFSETOF(R, enableOutlines));
    AddDirect<bool>(c, "Display shadow debug info", RTTI_OFFSETOF(R, displayShadowDebugInfo));
    AddDirect<bool>(c, "Display entity names", RTTI_OFFSETOF(R, displayEntityNames));
    return c;
}
