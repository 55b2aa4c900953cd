// The game library's start-up table: the Game, its configuration helper and the game's
// entity-creation listener, then the game's entity and template classes with their
// template-type rows.
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
#include "game/GameEntityListener.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKREffect.h"
#include "game/kinds/ZKRLevelParams.h"
#include "game/kinds/ZKRMarkers.h"
#include "game/kinds/ZKRRemoteConnectorArray.h"
#include "game/kinds/ZKRSmallKinds.h"
#include "game/kinds/ZKRTriggers.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "game/path/ZKRPathRendererTemplate.h"

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
    const GameTypeRow& r = kGameTypeRows[GameTypeRowIndex(type)];
    return {kGameModule, K::TemplateTypeRow, r.templateClass, nullptr, r.type, r.base};
}

constexpr StaticInitRow kGameRows[] = {
    {1, K::GlobalObject, "gGame", &CreateGame, 0, 0},
    {kGameModule, K::GlobalObject, "gConfigHelper", &StaticInitCreateGlobal<LUAConfigHelper, gConfigHelper>, 0, 0},
    {kGameModule, K::GlobalObject, "gGameEntityListener",
     &StaticInitCreateGlobal<GameEntityListener, gGameEntityListener>, 0, 0},

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
    ClassRow<ZKRTriggerTemplate>("ZKRTriggerTemplate"),
    TypeRow(ENTITY_ZKR_TRIGGER),
    ClassRow<ZKRTriggerEntity>("ZKRTriggerEntity"),
    ClassRow<ZKRScriptTriggerTemplate>("ZKRScriptTriggerTemplate"),
    TypeRow(ENTITY_ZKR_SCRIPTTRIGGER),
    ClassRow<ZKRScriptTriggerEntity>("ZKRScriptTriggerEntity"),
    ClassRow<ZKRSquadScriptTriggerTemplate>("ZKRSquadScriptTriggerTemplate"),
    TypeRow(kSquadScriptTriggerType),
    ClassRow<ZKRSquadScriptTriggerEntity>("ZKRSquadScriptTriggerEntity"),
    ClassRow<ZKRSquadZDirTriggerTemplate>("ZKRSquadZDirTriggerTemplate"),
    TypeRow(ENTITY_ZKR_SQUAD_TRIGGER),
    ClassRow<ZKRSquadZDirTriggerEntity>("ZKRSquadZDirTriggerEntity"),
    ClassRow<ZKREffectTemplate>("ZKREffectTemplate"),
    TypeRow(ENTITY_ZKR_EFFECT),
    ClassRow<ZKREffectEntity>("ZKREffectEntity"),
    ClassRow<ZKRDamageSurfaceTemplate>("ZKRDamageSurfaceTemplate"),
    TypeRow(ENTITY_ZKR_DAMAGESURFACE),
    ClassRow<ZKRDamageSurfaceEntity>("ZKRDamageSurfaceEntity"),
    ClassRow<ZKRUsableTemplate>("ZKRUsableTemplate"),
    TypeRow(ENTITY_ZKR_USABLE),
    ClassRow<ZKRUsableEntity>("ZKRUsableEntity"),
    ClassRow<ZKRGameEntity>("ZKRGameEntity"),
    ClassRow<ZKRTowerTemplate>("ZKRTowerTemplate"),
    TypeRow(ENTITY_ZKR_TOWER),
    ClassRow<ZKRTowerEntity>("ZKRTowerEntity"),
    ClassRow<ZKRObstacleMarkerTemplate>("ZKRObstacleMarkerTemplate"),
    TypeRow(ENTITY_ZKR_OBSTACLEMARKER),
    ClassRow<ZKRObstacleMarkerEntity>("ZKRObstacleMarkerEntity"),
    ClassRow<ZKRHelicopterPathFlagTemplate>("ZKRHelicopterPathFlagTemplate"),
    TypeRow(ENTITY_ZKR_HELIPATHFLAG),
    ClassRow<ZKRHelicopterPathFlagEntity>("ZKRHelicopterPathFlagEntity"),
    ClassRow<ZKRAmbientSoundTemplate>("ZKRAmbientSoundTemplate"),
    TypeRow(ENTITY_ZKR_AMBIENTSOUND),
    ClassRow<ZKRAmbientSoundEntity>("ZKRAmbientSoundEntity"),
    ClassRow<ZKRCheckpointTemplate>("ZKRCheckpointTemplate"),
    TypeRow(ENTITY_ZKR_CHECKPOINT),
    ClassRow<ZKRCheckpointEntity>("ZKRCheckpointEntity"),
    ClassRow<ZKRProgressAreaTriggerTemplate>("ZKRProgressAreaTriggerTemplate"),
    TypeRow(ENTITY_ZKR_PROGRESSAREATRIGGER),
    ClassRow<ZKRProgressAreaTriggerEntity>("ZKRProgressAreaTriggerEntity"),
    // The level parameters' entity goes before its template.
    ClassRow<ZKRLevelParamsEntity>("ZKRLevelParamsEntity"),
    ClassRow<ZKRLevelParamsTemplate>("ZKRLevelParamsTemplate"),
    TypeRow(ENTITY_ZKR_LEVELPARAMS),
    // The phone-trigger entities, then their template.
    ClassRow<ZKRiPhoneDialogTriggerEntity>("ZKRiPhoneDialogTriggerEntity"),
    ClassRow<ZKRiPhoneTriggerEntity>("ZKRiPhoneTriggerEntity"),
    ClassRow<ZKRiPhoneChatBoxTriggerEntity>("ZKRiPhoneChatBoxTriggerEntity"),
    ClassRow<ZKRiPhoneDamageAreaEntity>("ZKRiPhoneDamageAreaEntity"),
    ClassRow<ZKRiPhoneBurnAreaEntity>("ZKRiPhoneBurnAreaEntity"),
    ClassRow<ZKRiPhoneTriggerTemplate>("ZKRiPhoneTriggerTemplate"),
    TypeRow(ENTITY_ZKR_IPHONETRIGGER),
    ClassRow<ZKRPathRendererTemplate>("ZKRPathRendererTemplate"),
    TypeRow(ENTITY_ZKR_PATHRENDERER),
    ClassRow<ZKRRemoteConnectorArrayTemplate>("ZKRRemoteConnectorArrayTemplate"),
    TypeRow(ENTITY_ZKR_REMOTECONNECTORARRAY),
    ClassRow<ZKRPathRendererEntity>("ZKRPathRendererEntity"),
    ClassRow<ZKRRemoteConnectorArrayEntity>("ZKRRemoteConnectorArrayEntity"),
};

}  // namespace

const StaticInitTable kGameStaticInit = {kGameRows, sizeof(kGameRows) / sizeof(kGameRows[0])};
