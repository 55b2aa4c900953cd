// Start-up table of the engine core (see CoreStaticInit.h).
#include "core/config/CoreStaticInit.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "core/CRC32.h"
#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/config/ConfigRecords.h"
#include "core/config/CoreConfig.h"
#include "core/config/EngineConfig.h"
#include "core/config/GameConfig.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "core/config/RendererConfigContainer.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/math/MathHelpers.h"
#include "core/profiler/Profiler.h"
#include "core/rtti/GUIDReplacement.h"
#include "core/rtti/RTTIClass.h"

namespace {

char* gPlatformName = nullptr;

void ReleaseNameRegistry(void*) { NameRegistry::Release(); }

void RunClassRow(const StaticInitRow& r);

// First row of the core table, so every later row of every table finds the class
// row runner.
void CoreExitHandlers() {
    SetStaticInitClassRowRunner(&RunClassRow);
    PushExitHandler(ReleaseNameRegistry, nullptr);
}

// Objects in static storage: constructed by the row, destroyed by its exit handler.
template <void (*Create)(), void (*Destroy)()>
void InPlaceGlobal() {
    Create();
    PushExitHandler([](void*) { Destroy(); }, nullptr);
}

// The script host's small-object pools, at the sizes the engine runs with.
void CreateSmallObjectPools() {
    if (gSmallObjectPools) return;
    gSmallObjectPools = new SmallObjectPools(16384, 131072, 32768, 16384, 16384);
    PushExitHandler(
        [](void*) {
            delete gSmallObjectPools;
            gSmallObjectPools = nullptr;
        },
        nullptr);
}

// Builds the shared CRC-32 table now rather than on a first use from any thread.
void BuildCrcTable() { CRC32::GetDefault(); }

void SeedCrtRand() { CrtSrand(static_cast<uint32_t>(std::time(nullptr))); }

void CreatePlatformName() {
    if (gPlatformName) return;
    gPlatformName = static_cast<char*>(EngineAlloc(3));
    std::memcpy(gPlatformName, "PC", 3);
    PushExitHandler(
        [](void*) {
            EngineFree(gPlatformName);
            gPlatformName = nullptr;
        },
        nullptr);
}

void DestroyBareClass(void* context) {
    auto* c = static_cast<RTTIClass*>(context);
    RTTIClassRegistry::RemoveClass(c);
    delete c;
}

void RegisterBareClass(const char* name) {
    auto* c = new RTTIClass;
    c->Register(name, kRTTIRootBaseName);
    PushExitHandler(DestroyBareClass, c);
}

void ClearTemplateTypeRow(void* context) {
    TemplateTypeTable::Row& row = TemplateTypeTable::Get()[reinterpret_cast<uintptr_t>(context)];
    EngineFree(const_cast<char*>(row.name));
    row = TemplateTypeTable::Row{};
}

void SetTemplateTypeRow(const StaticInitRow& r) {
    if (r.typeRow >= TemplateTypeTable::kRows) {
        gLog.Error(LogCategory::Engine, "RunStaticInit - template type row %u of \"%s\" out of range", r.typeRow,
                   r.name ? r.name : "");
        return;
    }
    TemplateTypeTable::Row& row = TemplateTypeTable::Get()[r.typeRow];
    char* copy = nullptr;
    if (r.name) {
        const size_t n = std::strlen(r.name) + 1;
        copy = static_cast<char*>(EngineAlloc(n));
        std::memcpy(copy, r.name, n);
    }
    EngineFree(const_cast<char*>(row.name));
    row = {r.baseRow, copy};
    PushExitHandler(ClearTemplateTypeRow, reinterpret_cast<void*>(static_cast<uintptr_t>(r.typeRow)));
}

void RunClassRow(const StaticInitRow& r) {
    if (r.kind == StaticInitKind::BareClassRegistration)
        RegisterBareClass(r.name);
    else
        SetTemplateTypeRow(r);
}

using K = StaticInitKind;

// Rows of the core. Shared vector, colour and time constants are constexpr or
// constant-initialised in this build and need no row.
const StaticInitRow kCoreRows[] = {
    {1, K::GlobalObject, "core exit handlers", &CoreExitHandlers, 0, 0},
    {1, K::ClassRegistration, "CoreConfig", &StaticInitRegister<CoreConfig>, 0, 0},
    {1, K::GlobalObject, "gFileSystem", &InPlaceGlobal<CreateGlobalFileSystem, DestroyGlobalFileSystem>, 0, 0},
    {1, K::CrcTable, "CRC32", &BuildCrcTable, 0, 0},
    {1, K::ClassRegistration, "GUIDReplacementEntry", &StaticInitRegister<GUIDReplacementEntry>, 0, 0},
    {1, K::ClassRegistration, "GUIDReplacementTable", &StaticInitRegister<GUIDReplacementTable>, 0, 0},
    {1, K::GlobalObject, "PhysicalFileReader",
     &InPlaceGlobal<CreateGlobalPhysicalFileReader, DestroyGlobalPhysicalFileReader>, 0, 0},
    {3, K::ClassRegistration, "EngineConfig", &StaticInitRegister<EngineConfig>, 0, 0},
    {3, K::ClassRegistration, "RendererConfigContainer", &StaticInitRegister<RendererConfigContainer>, 0, 0},
    {3, K::ClassRegistration, "FontReplacement", &StaticInitRegister<FontReplacement>, 0, 0},
    {3, K::ClassRegistration, "ProjectConfig", &StaticInitRegister<ProjectConfig>, 0, 0},
    {3, K::ClassRegistration, "KeyBindDef", &StaticInitRegister<KeyBindDef>, 0, 0},
    {3, K::ClassRegistration, "ControlEntry", &StaticInitRegister<ControlEntry>, 0, 0},
    {3, K::GlobalObject, "gProjectConfig", &StaticInitCreateGlobal<ProjectConfig, gProjectConfig>, 0, 0},
    {4, K::GlobalObject, "gProfiler", &InPlaceGlobal<CreateGlobalProfiler, DestroyGlobalProfiler>, 0, 0},
    {5, K::ClassRegistration, "OutlineParams", &StaticInitRegister<OutlineParams>, 0, 0},
    {5, K::ClassRegistration, "StringHistoryContainer", &StaticInitRegister<StringHistoryContainer>, 0, 0},
    {6, K::RandomSeeds, "CrtSrand", &SeedCrtRand, 0, 0},
    {6, K::PlatformName, "PC", &CreatePlatformName, 0, 0},
    {9, K::GlobalObject, "gSmallObjectPools", &CreateSmallObjectPools, 0, 0},
    {10, K::RandomSeeds, "engine generators", &SeedEngineRandomGenerators, 0, 0},
    {13, K::ClassRegistration, "GameConfig", &StaticInitRegister<GameConfig>, 0, 0},
    {13, K::GlobalObject, "gGameConfig", &StaticInitCreateGlobal<GameConfig, gGameConfig>, 0, 0},
};

}  // namespace

const StaticInitTable kCoreStaticInit = {kCoreRows, sizeof(kCoreRows) / sizeof(kCoreRows[0])};

bool RunStaticInit() {
    const StaticInitTable* tables[] = {&kCoreStaticInit};
    return RunStaticInit(tables, 1);
}

const char* GetPlatformName() { return gPlatformName; }
