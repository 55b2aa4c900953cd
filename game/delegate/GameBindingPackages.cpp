#include "game/delegate/GameBindingPackages.h"

namespace {

GameBindingOpenFunction gGameBindingOpens[kGameBindingPackageCount] = {};

}  // namespace

void RegisterGameBindingPackage(int order, GameBindingOpenFunction open) {
    if (order < 1 || order > kGameBindingPackageCount) return;
    gGameBindingOpens[order - 1] = open;
}

void OpenGameBindingPackages(lua_State* L) {
    for (GameBindingOpenFunction open : gGameBindingOpens)
        if (open) open(L);
}

void ClearGameBindingPackages() {
    for (GameBindingOpenFunction& open : gGameBindingOpens) open = nullptr;
}
