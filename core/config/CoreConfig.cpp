// Configuration classes: CoreConfig, and the design note of the configuration folder.
//
// Settings live in registered classes whose properties are the setting names; the
// property tables (class names, property names, types, flags, order, defaults) are
// the format of the saved "config.bin" (GameConfig, Solid blob with option 16, whose
// layout check value changes with any of them) and of the shipped
// "Project.ConfigBin" (ProjectConfig, options 0). Registration functions build their
// descriptor once, registering the classes they depend on first, and push an exit
// handler that destroys it (StaticInit.h). Objects are read and written on the main
// thread; the property-changed hooks call into later subsystems through function
// pointers those subsystems set.
#include "core/config/CoreConfig.h"

#include "core/StaticInit.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/DirectProperty.h"

namespace {
RTTIClass* gCoreConfigClass = nullptr;
}

const RTTIClass* CoreConfig::RegisterClass(const char* nameOverride) {
    if (gCoreConfigClass) return gCoreConfigClass;
    RTTIClass* c = CreateRegisteredClass(gCoreConfigClass, nameOverride ? nameOverride : "CoreConfig", kRTTIRootBaseName);
    AddDirect<bool>(c, "Connect to external console",
                                                           RTTI_OFFSETOF(CoreConfig, connectToExternalConsole));
    AddDirect<bool>(c, "Break on assert", RTTI_OFFSETOF(CoreConfig, breakOnAssert));
    AddDirect<uint8_t>(c, "Log frame info", RTTI_OFFSETOF(CoreConfig, logFrameInfo),
                                                              kPropertyFlagEnum, kLogFrameModeNames);
    return c;
}
