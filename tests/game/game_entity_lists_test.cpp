// test-sanitize: address
// The Game's entity lists: delayed operations, tear-off, tick list, received changes.
#include <lua.hpp>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Time.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/services/GameClock.h"
#include "engine/entity/EntityTestSupport.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "net/MultiplayerEngine.h"
#include "platform/os/Clock.h"

struct GameEntityListsTestAccess {
    static void SetDelegate(Game& game, GameDelegate* d) { game.delegate = d; }
    static void SetSwitchFlags(Game& game, uint32_t flags) { game.switchFlags = flags; }
    static void SetMultiplayerEngine(Game& game, MultiplayerEngine* engine) { game.multiplayerEngine = engine; }
};

namespace {

// Multiplayer engines stepped on the test thread: one in no session (the authority) and
// one that joined a session (a client, without the authority).
struct TestEngines {
    TestEngines() {
        MultiplayerEngine::Options o;
        o.delegate = &delegate;
        o.startThread = false;
        alone = std::make_unique<MultiplayerEngine>(o);
        client = std::make_unique<MultiplayerEngine>(o);
        const uint32_t ok = NETERROR_OK;
        CommandRingBuffer& q = client->CallbackQueue();
        if (q.BeginWrite(NETCB_JOIN_RESULT, 4)) q.Write(&ok, 4), q.EndWrite();
        client->ProcessMessages();
    }
    MultiplayerEngine* With(bool authority) const { return authority ? alone.get() : client.get(); }
    GameDelegate delegate;
    std::unique_ptr<MultiplayerEngine> alone, client;
};

}  // namespace

namespace {

using Names = std::vector<std::string>;
Names gDestroyed, gCalls;  // destructions; script and multiplayer calls
constexpr uint64_t kNow = 1000000;

// An entity that notes its destruction and may act just before it.
struct ProbeEntity : Entity {
    std::function<void()> onDestroy;
    void Destroy() override {
        gDestroyed.push_back(GetName());
        if (auto action = std::move(onDestroy)) action();
        Entity::Destroy();
    }
};
struct ProbeTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new ProbeEntity(); }
};

struct RecordingDelegate : GameDelegate {
    Names tornOff, initialised;
    void OnTornOff(Entity* e) override { tornOff.push_back(e->GetName()); }
    void InitEntity(Entity* e) override { initialised.push_back(e->GetName()); }
};

// Note(entity, suffix) from the scripts: records the entity's name and the suffix.
int LuaNote(lua_State* L) {
    auto* e = static_cast<Entity*>(*static_cast<void**>(lua_touserdata(L, 1)));
    gCalls.push_back(std::string(e->GetName()) + lua_tostring(L, 2));
    return 0;
}

class GameListsTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        clock.Install(), Time::InitTimer(0, 0);
        SetClockNow(kNow);
        gDestroyed.clear(), gCalls.clear();
        savedGame = std::exchange(gGame, &game);
        GameEntityListsTestAccess::SetDelegate(game, &recorder);
        SetAuthority(true);
        gLua.Init();
        const char* classes[] = {"Probe", "ServerOnly"};  // ServerOnly: not loaded client side
        for (const char* c : classes) {
            gLua.RegisterClass(c, "");
            templates.push_back(std::make_unique<ProbeTemplate>());
            templates.back()->SetName(c);
            RTTIValueStore<char*>::Assign(templates.back()->luaClass, const_cast<char*>(c));
            byClass.push_back(templates.back().get());
        }
        lua_register(gLua.GetState(), "Note", &LuaNote);
        ASSERT_TRUE(gLua.ExecuteString(
            "for _, c in ipairs({Probe, ServerOnly}) do\n"
            "  function c:OnNetInit() Note(self, '') end\n"
            "  function c:OnTick() Note(self, ':tick') end\n"
            "  function c:OnSmoothTick() Note(self, ':smooth') end\n"
            "end\n"
            "function Probe.IsLoadedClientSide() return true end\n"
            "function ServerOnly.IsLoadedClientSide() return false end\n"));
    }
    void TearDown() override {
        GameEntityListsTestAccess::SetMultiplayerEngine(game, nullptr);
        engines.reset();
        SetGameServices(nullptr);
        gGame = savedGame;
        gLua.Close();
        EntityTest::TearDown();
        clock.Uninstall(), Time::InitTimer();
    }
    void SetClockNow(uint64_t t) {
        clock.Set(int64_t(t - kNetworkTimeOffset) * (os::kCounterFrequency / 1000000));
        gGameClock->Tick(-1, 1.0f);
    }
    ProbeEntity* Probe(const char* name, Entity* parent = nullptr, bool serverOnly = false) {
        auto* e = static_cast<ProbeEntity*>(Make(parent, 0, byClass[serverOnly ? 1 : 0]));
        e->SetName(name);
        return e;
    }
    void SetAuthority(bool authority) {
        if (!engines) engines = std::make_unique<TestEngines>();
        GameEntityListsTestAccess::SetMultiplayerEngine(game, engines->With(authority));
        ASSERT_EQ(game.HasMultiplayerAuthority(), authority);
    }
    static Names Take(Names& names) { return std::exchange(names, {}); }
    Names Warnings() {
        Names out;
        for (const auto& m : log.Messages())
            if (m.severity == 3 && m.category == 7) out.push_back(m.text);
        log.Clear();
        return out;
    }

    os::ManualClock clock;
    std::unique_ptr<TestEngines> engines;
    Game game;
    Game* savedGame = nullptr;
    RecordingDelegate recorder;
    std::vector<EntityTemplate*> byClass;
};

TEST_F(GameListsTest, DueRecordsRunInTimeOrderThenOnFlush) {
    const std::pair<const char*, uint64_t> adds[] = {{"A", kNow + 5}, {"B", kNow - 3}, {"C", kNow + 5}, {"D", kNow - 3},
                                                     {"F", kNow + 7}, {"G", uint64_t(-1)}};  // G's time is negative
    for (auto [name, time] : adds) game.AddDelayedEntity(Probe(name), time, DELAYED_ENTITY_INIT);
    ProbeEntity* e = Probe("E");
    ProbeEntity* child = Probe("E1", e);
    e->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, true);
    game.AddDelayedEntity(e, kNow, DELAYED_ENTITY_INIT);
    game.TickDelayed(false);
    EXPECT_EQ(Take(gCalls), Names({"G", "B", "D", "E"}));
    EXPECT_FALSE(e->CheckFlag(ENTITYFLAG_DISABLE_UPDATE) || child->CheckFlag(ENTITYFLAG_DISABLE_UPDATE));
    SetClockNow(kNow + 5);
    game.TickDelayed(false);
    EXPECT_EQ(Take(gCalls), Names({"A", "C"}));
    game.TickDelayed(true);  // regardless of time
    EXPECT_EQ(Take(gCalls), Names({"F"}));
    EXPECT_TRUE(Warnings().empty());
    game.AddDelayedEntity(Probe("H"), kNow + 9, DELAYED_ENTITY_INIT);
    game.SwitchScene("", 0, nullptr);
    game.LoadPendingScene();  // the old scene's records run before it goes
    EXPECT_EQ(Take(gCalls), Names({"H"}));
}

TEST_F(GameListsTest, TearOffReachesChildrenLastFirstAndDropsTheEntitysTearOffs) {
    ProbeEntity *p = Probe("P"), *c1 = Probe("C1", p), *c2 = Probe("C2", p);
    Probe("C3", p)->SetNetAttached(false);
    Probe("D", c2);
    game.AddDelayedEntity(p, kNow, DELAYED_ENTITY_TEAROFF);
    game.AddDelayedEntity(p, kNow + 10, DELAYED_ENTITY_TEAROFF);
    game.AddDelayedEntity(p, kNow + 10, DELAYED_ENTITY_DESTROY);
    game.AddDelayedEntity(c1, kNow + 10, DELAYED_ENTITY_TEAROFF);
    game.TickDelayed(false);
    EXPECT_EQ(recorder.tornOff, Names({"D", "C2", "C1", "P"}));
    log.Clear();
    game.TickDelayed(true);  // the later tear-offs of P and C1 went with theirs; P's destroy finds it torn off
    EXPECT_EQ(recorder.tornOff.size(), 4u);
    EXPECT_EQ(Warnings(), Names({"Game::TickDelayed - entity P was torn off type:destroy time:1000010/0"}));
}

// Handlers that destroy, add and tear off: each record taken out runs once, the added one later.
TEST_F(GameListsTest, HandlersThatChangeTheQueueRunEveryDueRecordOnce) {
    ProbeEntity *x = Probe("X"), *y = Probe("Y"), *z = Probe("Z"), *t = Probe("T"), *w = Probe("W");
    x->onDestroy = [this, y, z] {
        game.AddDelayedEntity(y, 0, DELAYED_ENTITY_INIT);
        gEntityManager->DestroyEntity(z);
    };
    game.AddDelayedEntity(x, kNow - 4, DELAYED_ENTITY_DESTROY);
    game.AddDelayedEntity(t, kNow - 3, DELAYED_ENTITY_TEAROFF);
    game.AddDelayedEntity(z, kNow - 2, DELAYED_ENTITY_INIT);
    game.AddDelayedEntity(t, kNow - 1, DELAYED_ENTITY_TEAROFF);
    game.AddDelayedEntity(w, kNow, DELAYED_ENTITY_INIT);
    log.Clear();
    game.TickDelayed(false);
    EXPECT_EQ(gDestroyed, Names({"X", "Z"}));
    EXPECT_EQ(recorder.tornOff, Names({"T"}));
    EXPECT_EQ(Take(gCalls), Names({"W"}));
    EXPECT_EQ(Warnings(), Names({"Game::TickDelayed - entity <null> was deleted type:init time:999998/0"}));
    game.TickDelayed(false);
    EXPECT_EQ(Take(gCalls), Names({"Y"}));
}

TEST_F(GameListsTest, ServerDelayedRecordsMoveOnFlushOnlyWithAuthority) {
    SetGameServices(&GetRunningGameServices());
    for (bool authority : {true, false}) {
        SCOPED_TRACE(authority);
        SetAuthority(authority);
        ProbeEntity *a = Probe("a"), *b = Probe("b");
        a->SetMultiplayerId(5), b->SetMultiplayerId(9);
        EXPECT_TRUE(GetGameServices().AddServerDelayedEntity(a, DELAYED_ENTITY_INIT));
        EXPECT_TRUE(GetGameServices().AddServerDelayedEntity(b, DELAYED_ENTITY_DESTROY));
        EXPECT_TRUE(log.Contains("Game::AddServerDelayedEntity - destroy entity mId:9 name:b"));
        EXPECT_EQ(b->GetMultiplayerId(), NULL_ENTITY_MULTIPLAYER_ID);
        game.TickDelayed(true);
        EXPECT_EQ(Take(gCalls), authority ? Names({"a"}) : Names());
        EXPECT_EQ(Take(gDestroyed), authority ? Names({"b"}) : Names());
        EXPECT_EQ(game.IsMIDInDelayedLists(5), !authority);
        game.ClearDelayedEntityLists();
        EXPECT_FALSE(game.IsMIDInDelayedLists(5));
        gEntityManager->NewScene();
        gDestroyed.clear();
    }
}

// A clear empties the timed list as well as the server-delayed one: nothing queued there
// runs afterwards.
TEST_F(GameListsTest, AClearEmptiesTheTimedListToo) {
    ProbeEntity* a = Probe("a");
    a->SetMultiplayerId(7);
    game.AddDelayedEntity(a, kNow + 5, DELAYED_ENTITY_INIT);
    EXPECT_TRUE(game.IsMIDInDelayedLists(7));
    game.ClearDelayedEntityLists();
    EXPECT_FALSE(game.IsMIDInDelayedLists(7));
    game.TickDelayed(true);
    EXPECT_TRUE(Take(gCalls).empty());
}

TEST_F(GameListsTest, TickListTicksEachEntityOnce) {
    SetGameServices(&GetRunningGameServices());
    ProbeEntity *e = Probe("e"), *removed = Probe("removed"), *gone = Probe("gone");
    for (Entity* x : {removed, e, e, gone}) x->EnableTickCallback();  // e moves up when compacted
    removed->DisableTickCallback();
    gEntityManager->DestroyEntity(gone);
    game.TickEntities();
    game.TickEntitiesSmooth();
    EXPECT_EQ(Take(gCalls), Names({"e:tick", "e:smooth"}));
}

// A received change puts the entity back on the replicated list; only an authority applies
// them (the entity's received mask is what the application consumes).
TEST_F(GameListsTest, ReceivedChangesAreAppliedWithAuthority) {
    SetClockNow(kNow + 7);
    const struct {
        bool authority;
        uint64_t mask;
        bool applied;
    } cases[] = {{true, 0x4, true}, {true, 0, false}, {false, 0x4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.authority << " " << c.mask);
        SetAuthority(c.authority);
        ProbeEntity* e = Probe("e");
        game.RegisterTickEntity(e, true), game.RegisterTickEntity(e, true);  // listed once
        game.UpdateEntityLists();
        EXPECT_FALSE(e->IsOnReplicatedList()) << "nothing to interpolate: settled at once";
        e->SetReceivedChangeMask(c.mask);
        game.ApplyReplicationChanges(70, 60);
        EXPECT_FALSE(e->IsOnReceivedList());
        EXPECT_EQ(e->IsOnReplicatedList(), c.applied);
        EXPECT_EQ(e->GetReceivedChangeMask(), c.applied ? 0u : c.mask);
        game.UpdateEntityLists();
        EXPECT_FALSE(e->IsOnReplicatedList());
        Take(gCalls);
        e->SetReceivedChangeMask(0x8);
        game.AddDelayedEntity(e, kNow, DELAYED_ENTITY_INIT);
        game.TickDelayed(false);
        EXPECT_EQ(Take(gCalls), Names({"e"}));
        EXPECT_EQ(e->GetReceivedChangeMask(), c.authority ? 0u : 0x8u) << "an authority applies before the initialisation";
        gEntityManager->DestroyEntity(e);
    }
}

// Flag bit 1 deletes (last first) the entities not loaded client side; the rest are initialised.
TEST_F(GameListsTest, InitEntitiesDeletesEntitiesNotLoadedClientSide) {
    const struct {
        uint32_t flags;
        Names deleted, initialised;
    } cases[] = {
        {SWITCHSCENE_DELETE_NOT_CLIENT_SIDE, {"S3", "S2", "S1"}, {"SCENE ROOT", "K"}},
        {0, {}, {"SCENE ROOT", "S1", "K", "S2", "S3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        gEntityManager->NewScene();
        Probe("S1", nullptr, true);
        Probe("K");
        Probe("S3", Probe("S2", nullptr, true), true);
        gDestroyed.clear(), recorder.initialised.clear(), log.Clear();
        GameEntityListsTestAccess::SetSwitchFlags(game, c.flags);
        game.InitEntities();
        EXPECT_EQ(gDestroyed, c.deleted);
        EXPECT_EQ(recorder.initialised, c.initialised);
        EXPECT_EQ(log.Contains("Game::InitEntities - entity: [static: 0] [name: S1]"), !c.deleted.empty());
        EXPECT_EQ(log.Contains("Game::InitEntities - entity: [static: 1] [name: K]"), !c.deleted.empty());
    }
}

}  // namespace
