// Start-up table of the engine core and the exit stack (see StaticInit.h).
#include "core/StaticInit.h"

#include <cstring>
#include <ctime>
#include <vector>

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
#include "core/rtti/CRC32.h"
#include "core/rtti/GUIDReplacement.h"

namespace {

struct ExitEntry {
    ExitHandler handler;
    void* context;
};

std::vector<ExitEntry>& ExitStack() {
    static std::vector<ExitEntry> stack;
    return stack;
}

bool gStaticInitDone = false;
char* gPlatformName = nullptr;

void ReleaseNameRegistry(void*) { NameRegistry::Release(); }

void CoreExitHandlers() { PushExitHandler(ReleaseNameRegistry, nullptr); }

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

void RunRow(const StaticInitRow& r) {
    switch (r.kind) {
    case StaticInitKind::BareClassRegistration:
        RegisterBareClass(r.name);
        break;
    case StaticInitKind::TemplateTypeRow:
        SetTemplateTypeRow(r);
        break;
    default:
        if (r.run) r.run();
        break;
    }
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

void PushExitHandler(ExitHandler handler, void* context) {
    if (handler) ExitStack().push_back({handler, context});
}

uint32_t ExitHandlerCount() { return static_cast<uint32_t>(ExitStack().size()); }

bool RunStaticInit() {
    const StaticInitTable* tables[] = {&kCoreStaticInit};
    return RunStaticInit(tables, 1);
}

bool RunStaticInit(const StaticInitTable* const* tables, uint32_t tableCount) {
    if (gStaticInitDone) return false;
    gStaticInitDone = true;
    // Module by module; within a module, table by table in the order given.
    std::vector<uint32_t> next(tableCount, 0);
    for (uint32_t module = 0; module <= 255; ++module) {
        for (uint32_t t = 0; t < tableCount; ++t) {
            const StaticInitTable* table = tables[t];
            if (!table) continue;
            while (next[t] < table->count && table->rows[next[t]].module == module) RunRow(table->rows[next[t]++]);
        }
    }
    for (uint32_t t = 0; t < tableCount; ++t)
        if (tables[t] && next[t] != tables[t]->count)
            gLog.Error(LogCategory::Engine, "RunStaticInit - rows of table %u are not in module order; row %u and later skipped", t,
                       next[t]);
    return true;
}

void RunStaticShutdown() {
    std::vector<ExitEntry>& stack = ExitStack();
    // A handler may push another (a lazily rebuilt descriptor); run until empty.
    while (!stack.empty()) {
        const ExitEntry e = stack.back();
        stack.pop_back();
        e.handler(e.context);
    }
    gStaticInitDone = false;
}

bool IsStaticInitDone() { return gStaticInitDone; }

const char* GetPlatformName() { return gPlatformName; }

namespace {
void DestroyRegisteredClass(void* context) {
    auto** slot = static_cast<RTTIClass**>(context);
    RTTIClassRegistry::RemoveClass(*slot);
    delete *slot;
    *slot = nullptr;
}
}  // namespace

RTTIClass* CreateRegisteredClass(RTTIClass*& slot, const char* className, const char* baseClassName,
                                 RTTICreateFunction factory) {
    slot = new RTTIClass;
    slot->Register(className, baseClassName, factory);
    PushExitHandler(DestroyRegisteredClass, &slot);
    return slot;
}
