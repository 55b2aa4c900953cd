#pragma once
// The ordered start-up of process-wide state, and its mirror at shutdown.
//
// Nothing in the engine depends on C++ static constructors running in any order:
// class registrations, template type rows, global objects, locks, the CRC table,
// random seeds and the platform string are made by rows of one start-up table, run
// by RunStaticInit() at the top of main (tests call the same function). Every row
// that builds something pushes an exit handler; RunStaticShutdown() runs those
// newest first, so everything is destroyed in the reverse order of construction.
//
// Rows carry a module number (1 to 13: core, cameras and the renderer objects,
// configuration, UI/sound/profiler globals, scene core, fonts/shaders/sounds,
// resources, templates, animation and memory, entities, rendering data, game, last).
// The table is merged across libraries: each library that has rows exports one
// StaticInitTable (core: kCoreStaticInit, core/config/CoreStaticInit.h), and
// RunStaticInit(tables) runs the rows of module 1 of every table in the order the
// tables are given, then module 2, and so on. Adding a row is one line in its
// library's table. Rows that register classes without a function of their own (bare
// classes, template type rows) are run by the class layer's row runner, which the
// core table installs in its first row.
//
// Threads: main thread only, before any other thread starts and after every one
// has stopped.
#include <cstdint>

using ExitHandler = void (*)(void* context);

// Pushes a handler onto the exit stack.
void PushExitHandler(ExitHandler handler, void* context);
uint32_t ExitHandlerCount();

enum class StaticInitKind : uint8_t {
    ClassRegistration,      // run() calls a class's registration function
    BareClassRegistration,  // a descriptor without properties named `name`, root base
    TemplateTypeRow,        // TemplateTypeTable row typeRow = {baseRow, heap copy of name}
    GlobalObject,           // run() constructs a process-wide object
    Lock,                   // run() constructs a CriticalSection global
    CrcTable,
    RandomSeeds,
    Constants,
    PlatformName,
};

struct StaticInitRow {
    uint8_t module;  // 1..13; rows of a table are listed in non-decreasing module order
    StaticInitKind kind;
    const char* name;     // what the row makes (class, object, type or lock name)
    void (*run)();        // the row's work; null for bare classes and template rows
    uint32_t typeRow;     // template type rows only
    uint32_t baseRow;     // template type rows only; 4096 = no base
};

struct StaticInitTable {
    const StaticInitRow* rows;
    uint32_t count;
};

// Runs the given tables merged by module number (null tables are skipped). False (and
// nothing done) when start-up already ran and was not shut down since.
bool RunStaticInit(const StaticInitTable* const* tables, uint32_t tableCount);
// The runner of the rows whose kind names no function (BareClassRegistration,
// TemplateTypeRow); such a row run without one is logged and skipped.
using StaticInitRowRunner = void (*)(const StaticInitRow& row);
void SetStaticInitClassRowRunner(StaticInitRowRunner runner);
// Runs every exit handler, newest first, and allows RunStaticInit again.
void RunStaticShutdown();
bool IsStaticInitDone();

// Shared time constants of the fixed simulation step.
constexpr uint32_t kFixedStepMicroseconds = 66666;  // 1/15 s
constexpr uint32_t kMicrosecondsPerSecond = 1000 * 1000;

// ---------------------------------------------------------------------------------
// Row helpers.

// A registration row: `{3, StaticInitKind::ClassRegistration, "EngineConfig",
// &StaticInitRegister<EngineConfig>}`.
template <class T>
void StaticInitRegister() {
    T::RegisterClass();
}

// A global object or lock row: constructs *Slot once and pushes its deletion.
template <class T, T*& Slot>
void StaticInitCreateGlobal() {
    if (Slot) return;
    Slot = new T();
    PushExitHandler(
        [](void*) {
            delete Slot;
            Slot = nullptr;
        },
        nullptr);
}

