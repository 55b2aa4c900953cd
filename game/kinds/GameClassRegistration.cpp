// The game library's start-up table: the Game and its configuration helper, then the
// game's entity and template classes with their template-type rows.
//
// The class rows run in one fixed order, which is the order of the class-name registry
// and of the template-type rows: each template class is registered (base first, then its
// properties) and followed by the write of its row; its entity class follows. Every
// registration pushes the exit handler that releases its descriptor, and every row its
// own; RunStaticShutdown undoes them newest first.
#include "game/GameStaticInit.h"

#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "game/LUAConfigHelper.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKRMarkers.h"

namespace {

using K = StaticInitKind;
constexpr uint8_t kGameModule = 12;

// The Game and the configuration helper, and where the script host finds them.
void CreateGame() {
    StaticInitCreateGlobal<Game, gGame>();
    LuaWrapper::SetGameSingletons([]() -> void* { return gGame; }, []() -> void* { return gConfigHelper; });
}

template <class T>
constexpr StaticInitRow ClassRow(const char* name) {
    return {kGameModule, K::ClassRegistration, name, &StaticInitRegister<T>, 0, 0};
}

// The template-type row of a game type, from the game's row list.
constexpr StaticInitRow TypeRow(uint32_t type) {
    const GameTypeRow* r = FindGameTypeRow(type);
    return {kGameModule, K::TemplateTypeRow, r->templateClass, nullptr, r->type, r->base};
}

constexpr StaticInitRow kGameRows[] = {
    {1, K::GlobalObject, "gGame", &CreateGame, 0, 0},
    {kGameModule, K::GlobalObject, "gConfigHelper", &StaticInitCreateGlobal<LUAConfigHelper, gConfigHelper>, 0, 0},

    ClassRow<ZKRPlayerMarkerTemplate>("ZKRPlayerMarkerTemplate"),
    TypeRow(ENTITY_ZKR_PLAYERMARKER),
    ClassRow<ZKRPlayerMarkerEntity>("ZKRPlayerMarkerEntity"),
    ClassRow<ZKRVersusPlayerMarkerTemplate>("ZKRVersusPlayerMarkerTemplate"),
    TypeRow(ENTITY_ZKR_VERSUSPLAYERMARKER),
    ClassRow<ZKRVersusPlayerMarkerEntity>("ZKRVersusPlayerMarkerEntity"),
    ClassRow<ZKRTowerMarkerTemplate>("ZKRTowerMarkerTemplate"),
    TypeRow(ENTITY_ZKR_TOWERMARKER),
    ClassRow<ZKRTowerMarkerEntity>("ZKRTowerMarkerEntity"),
    ClassRow<ZKRPickupMarkerTemplate>("ZKRPickupMarkerTemplate"),
    TypeRow(ENTITY_ZKR_PICKUPMARKER),
    ClassRow<ZKRPickupMarkerEntity>("ZKRPickupMarkerEntity"),

    // The path renderer's rows go here, after the phone-trigger template: its template
    // (type 261, base 0), then the remote connector array template, then
    // ZKRPathRendererEntity, then the remote connector array entity.
};

}  // namespace

const StaticInitTable kGameStaticInit = {kGameRows, sizeof(kGameRows) / sizeof(kGameRows[0])};
