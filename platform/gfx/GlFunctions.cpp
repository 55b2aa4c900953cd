// The process-wide table of GL entry points (see GlFunctions.h).
#include "platform/gfx/GlFunctions.h"

#include <mutex>

namespace gfx::detail {

const GlFunctions* LoadGlFunctions(void* (*getProc)(const char* name)) {
    static GlFunctions table;
    static bool loaded = false;
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded) return &table;
    if (!getProc) return nullptr;
    GlFunctions t;
    bool all = true;
#define GFX_GL_LOAD(type, name)                                 \
    t.name = reinterpret_cast<type>(getProc(#name));            \
    all = all && t.name != nullptr;
    GFX_GL_FUNCTIONS(GFX_GL_LOAD)
#undef GFX_GL_LOAD
    if (!all) return nullptr;
    table = t;
    loaded = true;
    return &table;
}

}  // namespace gfx::detail
