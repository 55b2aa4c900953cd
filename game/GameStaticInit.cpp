// Start-up table of the Game.
#include "game/GameStaticInit.h"

#include "game/Game.h"
#include "game/LUAConfigHelper.h"
#include "engine/script/LuaWrapper.h"

namespace {

using K = StaticInitKind;

// The Game and the configuration helper, and where the script host finds them.
void CreateGame() {
    StaticInitCreateGlobal<Game, gGame>();
    LuaWrapper::SetGameSingletons([]() -> void* { return gGame; }, []() -> void* { return gConfigHelper; });
}

const StaticInitRow kGameRows[] = {
    {1, K::GlobalObject, "gGame", &CreateGame, 0, 0},
    {12, K::GlobalObject, "gConfigHelper", &StaticInitCreateGlobal<LUAConfigHelper, gConfigHelper>, 0, 0},
};

}  // namespace

const StaticInitTable kGameStaticInit = {kGameRows, sizeof(kGameRows) / sizeof(kGameRows[0])};
