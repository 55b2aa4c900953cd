// Start-up table of the multiplayer layer: installs the engine's MultiplayerServices; the
// Game's default multiplayer engine.
#include "net/NetStaticInit.h"

#include "engine/services/GameServices.h"
#include "engine/services/MultiplayerServices.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"
#include "net/online/GamerProfile.h"
#include "net/online/GamerProfileData.h"
#include "net/online/InGameStore.h"
#include "net/steam/SteamNetDriver.h"

namespace {

// The online driver of the engine made over the process's online context (none when
// the services did not start: the engine then refuses hosting and joining).
Network::SteamNetDriver* gOnlineDriver = nullptr;
MultiplayerEngine* gOnlineDriverOwner = nullptr;

}  // namespace

MultiplayerEngine* CreateMultiplayerEngine() {
    if (gOnlineDriver || !online::GlobalContext()) return new MultiplayerEngine();
    auto* driver = new Network::SteamNetDriver(online::GlobalContext());
    MultiplayerEngine::Options options;
    options.driver = driver;
    auto* engine = new MultiplayerEngine(options);
    gOnlineDriver = driver;
    gOnlineDriverOwner = engine;
    driver->SetRouteTarget(engine);
    return engine;
}

void DeleteMultiplayerEngine(MultiplayerEngine* engine) {
    if (engine && engine == gOnlineDriverOwner) {
        // No routed event reaches an engine being torn down; the driver outlives it.
        gOnlineDriver->SetRouteTarget(nullptr);
        delete engine;
        delete gOnlineDriver;
        gOnlineDriver = nullptr;
        gOnlineDriverOwner = nullptr;
        return;
    }
    delete engine;
}

namespace {

// The engine's multiplayer services: entity and method-call replication through the
// Game's multiplayer engine (nothing while it has none), and the in-game store.
class NetMultiplayerServices final : public MultiplayerServices {
public:
    void OnEntityCreated(Entity* e) override {
        if (MultiplayerEngine* m = Current()) m->OnEntityCreated(e);
    }
    void OnEntityDestroyed(Entity* e) override {
        if (MultiplayerEngine* m = Current()) m->OnEntityDestroyed(e);
    }
    void OnEntityTornOff(Entity* e) override {
        if (MultiplayerEngine* m = Current()) m->OnEntityTornOff(e);
    }
    void MarkEntityDirty(Entity* e) override {
        if (MultiplayerEngine* m = Current()) m->MarkEntityDirty(e);
    }
    bool IsMultiplayerGame() const override {
        MultiplayerEngine* e = Current();
        return e && e->IsMultiplayerGame();
    }
    bool IsServer() const override {
        MultiplayerEngine* e = Current();
        return e && e->IsServer();
    }
    void ReplicateMethodCall(Player* owner, const MPMethodCall& call, bool reliable) override {
        if (MultiplayerEngine* e = Current()) e->ReplicateMethodCall(owner, call, reliable);
    }
    InGameStore* CreateInGameStore(const char* definitionFile) override { return new InGameStore(definitionFile); }
    void DeleteInGameStore(InGameStore* store) override { delete store; }
    void GetInGameStoreItemImageFiles(InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) override {
        if (store) store->GetItemImageFiles(word, files);
    }

private:
    static MultiplayerEngine* Current() { return GetGameServices().GetMultiplayerEngine(); }
};

NetMultiplayerServices gNetMultiplayerServices;

void InstallRow() {
    InstallNetServices();
    PushExitHandler([](void*) { ClearNetServices(); }, nullptr);
}

using namespace ZKRGamerProfileData;
using namespace PCMacGamerProfileData;
using K = StaticInitKind;

const StaticInitRow kNetRows[] = {
    {13, K::ClassRegistration, "GamerProfile", &StaticInitRegister<GamerProfile>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileMissionMedalEntry", &StaticInitRegister<ZKRGamerProfileMissionMedalEntry>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileMissionEntry", &StaticInitRegister<ZKRGamerProfileMissionEntry>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileStatEntry", &StaticInitRegister<ZKRGamerProfileStatEntry>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileLocalDataEntry", &StaticInitRegister<ZKRGamerProfileLocalDataEntry>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileAchievementEntry", &StaticInitRegister<ZKRGamerProfileAchievementEntry>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileResultsData", &StaticInitRegister<ZKRGamerProfileResultsData>, 0, 0},
    {13, K::ClassRegistration, "ZKRGamerProfileStatsData", &StaticInitRegister<ZKRGamerProfileStatsData>, 0, 0},
    {13, K::ClassRegistration, "PCMacGamerProfileResultsData", &StaticInitRegister<PCMacGamerProfileResultsData>, 0, 0},
    {13, K::ClassRegistration, "PCMacGamerProfileStatsData", &StaticInitRegister<PCMacGamerProfileStatsData>, 0, 0},
    {13, K::ClassRegistration, "PCMacGamerProfileProgressData", &StaticInitRegister<PCMacGamerProfileProgressData>, 0, 0},
    {13, K::ClassRegistration, "InGameStoreItem", &StaticInitRegister<InGameStoreItem>, 0, 0},
    {13, K::ClassRegistration, "InGameStore", &StaticInitRegister<InGameStore>, 0, 0},
    {13, K::ClassRegistration, "InGameBackpack", &StaticInitRegister<InGameBackpack>, 0, 0},
    {13, K::ClassRegistration, "InGameBackpackItem", &StaticInitRegister<InGameBackpackItem>, 0, 0},
    {13, K::ClassRegistration, "InGameStoreItemImage", &StaticInitRegister<InGameStoreItemImage>, 0, 0},
    {13, StaticInitKind::GlobalObject, "MultiplayerServices (net)", &InstallRow, 0, 0},
};

}  // namespace

const StaticInitTable kNetStaticInit = {kNetRows, sizeof kNetRows / sizeof kNetRows[0]};

void InstallNetServices() {
    SetMultiplayerServices(&gNetMultiplayerServices);
}

void ClearNetServices() {
    SetMultiplayerServices(nullptr);
}
