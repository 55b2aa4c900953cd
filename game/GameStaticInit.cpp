// Start-up table of the Game.
#include "game/GameStaticInit.h"

#include "game/Game.h"
#include "game/LUAConfigHelper.h"

namespace {

using K = StaticInitKind;

const StaticInitRow kGameRows[] = {
    {1, K::GlobalObject, "gGame", &StaticInitCreateGlobal<Game, gGame>, 0, 0},
    {12, K::GlobalObject, "gConfigHelper", &StaticInitCreateGlobal<LUAConfigHelper, gConfigHelper>, 0, 0},
};

}  // namespace

const StaticInitTable kGameStaticInit = {kGameRows, sizeof(kGameRows) / sizeof(kGameRows[0])};
