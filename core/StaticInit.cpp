// The exit stack and the merged run of start-up tables (see StaticInit.h).
#include "core/StaticInit.h"

#include <vector>

#include "core/Log.h"

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
StaticInitRowRunner gClassRowRunner = nullptr;

void RunRow(const StaticInitRow& r) {
    switch (r.kind) {
    case StaticInitKind::BareClassRegistration:
    case StaticInitKind::TemplateTypeRow:
        if (gClassRowRunner)
            gClassRowRunner(r);
        else
            gLog.Error(LogCategory::Engine, "RunStaticInit - no class row runner for \"%s\"", r.name ? r.name : "");
        break;
    default:
        if (r.run) r.run();
        break;
    }
}

}  // namespace

void PushExitHandler(ExitHandler handler, void* context) {
    if (handler) ExitStack().push_back({handler, context});
}

uint32_t ExitHandlerCount() { return static_cast<uint32_t>(ExitStack().size()); }

void SetStaticInitClassRowRunner(StaticInitRowRunner runner) { gClassRowRunner = runner; }

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
