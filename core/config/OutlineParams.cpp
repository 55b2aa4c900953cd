#include "core/config/OutlineParams.h"

#include "core/StaticInit.h"
#include "core/rtti/DirectProperty.h"

namespace {
RTTIClass* gOutlineParamsClass = nullptr;
}

const RTTIClass* OutlineParams::RegisterClass(const char* nameOverride) {
    if (gOutlineParamsClass) return gOutlineParamsClass;
    using O = OutlineParams;
    RTTIClass* c =
        CreateRegisteredClass(gOutlineParamsClass, nameOverride ? nameOverride : "OutlineParams", kRTTIRootBaseName);
    AddDirect<HDRColor>(c, "Color hostile", RTTI_OFFSETOF(O, colorHostile));
    AddDirect<HDRColor>(c, "Color friendly", RTTI_OFFSETOF(O, colorFriendly));
    AddDirect<HDRColor>(c, "Color neutral", RTTI_OFFSETOF(O, colorNeutral));
    AddDirect<HDRColor>(c, "Color hero", RTTI_OFFSETOF(O, colorHero));
    AddDirect<float>(c, "Dilatation kernel size", RTTI_OFFSETOF(O, dilatationKernelSize));
    AddDirect<float>(c, "Softness", RTTI_OFFSETOF(O, softness));
    return c;
}
