#include "bindings/BindingsStaticInit.h"

#include "engine/script/LuaBindings.h"

namespace {

// One line per package; the host opens them by order, whatever the order here.
void RegisterPackages() {
}

const StaticInitRow kBindingsRows[] = {
    {13, StaticInitKind::GlobalObject, "ScriptBindingPackages", &RegisterPackages, 0, 0},
};

}  // namespace

const StaticInitTable kBindingsStaticInit = {kBindingsRows, sizeof kBindingsRows / sizeof kBindingsRows[0]};
