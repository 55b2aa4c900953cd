#include "render/scene/LightmapMapping.h"

#include "core/StaticInit.h"
#include "core/rtti/RTTIProperty.h"

namespace {
RTTIClass* gLightmapMappingClass = nullptr;
}

const RTTIClass* LightmapMapping::RegisterClass() {
    if (gLightmapMappingClass) return gLightmapMappingClass;
    RTTIClass* c = CreateRegisteredClass(gLightmapMappingClass, "LightmapMapping", kRTTIRootBaseName);
    c->AddProperty(new RTTIDirectAccessTypedProperty<Vector>("UVMulAdd", RTTI_OFFSETOF(LightmapMapping, uvMulAdd)));
    c->AddProperty(
        new RTTIDirectAccessTypedProperty<uint32_t>("LightmapID", RTTI_OFFSETOF(LightmapMapping, lightmapId)));
    return c;
}
