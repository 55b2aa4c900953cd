// test-link: game
// The host's entity announcements on the main thread (the records it posts as command
// 13 for created, changed, destroyed and torn-off authority entities) and the client's
// first checks of received records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <lua.hpp>

#include "../NetTestSupport.h"
#include "../../engine/entity/SceneFiles.h"
#include "CaptureLogSink.h"
#include "core/Time.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTestSupport.h"
#include "game/Game.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/GameClock.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"
#include "platform/os/Clock.h"

// The Game's multiplayer engine is the test's own.
struct GameEntityListsTestAccess {
    static void SetMultiplayerEngine(Game& game, MultiplayerEngine* engine) { game.multiplayerEngine = engine; }
};

namespace {

using nettest::RecordingDelegate;

MultiplayerEngine* gEngine = nullptr;

// The engine's entity events reach the test's multiplayer engine.
struct AnnouncingMultiplayer : MultiplayerServices {
    void OnEntityCreated(Entity* e) override { gEngine->OnEntityCreated(e); }
    void OnEntityDestroyed(Entity* e) override { gEngine->OnEntityDestroyed(e); }
    void OnEntityTornOff(Entity* e) override { gEngine->OnEntityTornOff(e); }
    void MarkEntityDirty(Entity* e) override { gEngine->MarkEntityDirty(e); }
};

class AnnouncementTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        MultiplayerEngine::Options o;
        o.delegate = &delegate;
        o.driver = link.Endpoint(0);
        o.startThread = false;
        engine = std::make_unique<MultiplayerEngine>(o);
        engine->InitRemotePlayers(1);
        gEngine = engine.get();
        SetMultiplayerServices(&announcing);
    }
    void TearDown() override {
        gEntityManager->NewScene();
        engine.reset();
        gEngine = nullptr;
        EntityTest::TearDown();
    }
    AnnouncingMultiplayer announcing;
    // Returns the entity records the callback's handling posted.
    std::vector<EntityRecord> Become(uint32_t callback) {
        CommandRingBuffer& q = engine->CallbackQueue();
        const uint32_t ok = NETERROR_OK;
        if (!q.BeginWrite(callback, 4)) {
            ADD_FAILURE() << "the callback queue refused " << callback;
            return {};
        }
        q.Write(&ok, 4);
        q.EndWrite();
        engine->ProcessMessages();
        return Records();
    }
    // The entity records posted since the last call.
    std::vector<EntityRecord> Records() {
        std::vector<EntityRecord> out;
        CommandRingBuffer& ring = engine->Ring();
        while (ring.BeginRead()) {
            if (ring.RecordId() == NETCMD_ENTITY_RECORD) {
                EntityRecord r;
                ring.Read(&r, sizeof r);
                out.push_back(r);
            }
            ring.EndRead();
        }
        return out;
    }
    Entity* Authority(Entity* parent = nullptr, uint32_t extra = 0) { return Make(parent, ENTITYCREATION_MULTIPLAYER_AUTHORITY | extra); }

    RecordingDelegate delegate;
    LoopbackLink link;
    std::unique_ptr<MultiplayerEngine> engine;
};

TEST_F(AnnouncementTest, CreatedAndDestroyedInOneStepSendsNothingAndFreesTheId) {
    Become(NETCB_HOST_RESULT);
    Entity* e = Authority();
    const uint16_t id = e->GetMultiplayerId();
    ASSERT_LT(id, kNoMultiplayerId);
    EXPECT_EQ(engine->GetPendingEntityFlags(id), ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    const uint32_t ids = gEntityManager->GetDynamicMIDCount();
    gEntityManager->DestroyEntity(e);
    engine->FlushDirtyEntities();
    EXPECT_TRUE(Records().empty());
    EXPECT_TRUE(log.Contains("Created and destroyed authoritative entity mid:" + std::to_string(id) + " in same frame"));
    EXPECT_EQ(gEntityManager->GetDynamicMIDCount(), ids - 1);
}

TEST_F(AnnouncementTest, TheLifeOfAnEntityAsRecords) {
    Become(NETCB_HOST_RESULT);
    Entity* parent = Authority();
    Entity* e = Authority(parent);
    Entity* other = Authority();
    engine->FlushDirtyEntities();
    std::vector<EntityRecord> r = Records();
    ASSERT_EQ(r.size(), 3u);
    // Most recently linked first, but a parent's create before its child's; each created
    // with its template and parent.
    EXPECT_EQ(r[0].multiplayerId, other->GetMultiplayerId());
    for (const EntityRecord& x : r) EXPECT_EQ(x.flags, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(r[1].multiplayerId, parent->GetMultiplayerId());
    EXPECT_EQ(r[1].parentId, kNoMultiplayerId) << "under the scene root";
    EXPECT_EQ(r[1].ownerId, kNoOwnerId);
    EXPECT_EQ(r[2].multiplayerId, e->GetMultiplayerId());
    EXPECT_EQ(r[2].parentId, parent->GetMultiplayerId());
    // A change after a change keeps one place; the flush clears the first mask only.
    e->MPPropMarkDirty(3);
    e->MPPropMarkDirty(5);
    engine->FlushDirtyEntities();
    r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].flags, ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(r[0].dirtyMask, (1u << 3) | (1u << 5));
    EXPECT_EQ(e->GetReplicationDirtyMask(0), 0u);
    EXPECT_NE(e->GetReplicationDirtyMask(1), 0u);
    // Destroying the parent destroys its authority child too, at once.
    gEntityManager->DestroyEntity(parent);
    r = Records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].flags, ENTITYRECORD_DESTROY);
    EXPECT_EQ(r[1].flags, ENTITYRECORD_DESTROY);
    EXPECT_TRUE(log.Contains("MultiplayerEngine::UpdateEntity - Destroying child_mId:"));
    engine->FlushDirtyEntities();
    EXPECT_TRUE(Records().empty()) << "nothing is announced twice";
}

// The network thread may send between any two records: a create never comes before the
// create of the parent it names, however the entities were made and changed.
TEST_F(AnnouncementTest, AParentsCreateIsPostedBeforeItsChildrens) {
    Become(NETCB_HOST_RESULT);
    struct Row {
        const char* name;
        bool parentAnnounced;  // the parent's create went in an earlier step
        bool parentChanged;    // and it changed again in this one
    };
    for (const Row& row : {Row{"all new", false, false}, Row{"parent known", true, false}, Row{"parent known and changed", true, true}}) {
        SCOPED_TRACE(row.name);
        Entity* root = Authority();
        if (row.parentAnnounced) {
            engine->FlushDirtyEntities();
            Records();
        }
        Entity* middle = Authority(root);
        Entity* leaf = Authority(middle);
        Entity* sibling = Authority(root);
        if (row.parentChanged) root->MPPropMarkDirty(1);
        engine->FlushDirtyEntities();
        const std::vector<EntityRecord> r = Records();
        ASSERT_EQ(r.size(), row.parentAnnounced ? 3u + row.parentChanged : 4u);
        std::vector<uint16_t> posted;
        for (const EntityRecord& x : r) {
            if (x.flags & ENTITYRECORD_CREATE) {
                if (x.parentId != kNoMultiplayerId && !(row.parentAnnounced && x.parentId == root->GetMultiplayerId())) {
                    EXPECT_NE(std::find(posted.begin(), posted.end(), x.parentId), posted.end()) << "id " << x.multiplayerId;
                }
                posted.push_back(x.multiplayerId);
            } else {
                EXPECT_EQ(x.multiplayerId, root->GetMultiplayerId());
                EXPECT_EQ(x.flags, ENTITYRECORD_PROPERTIES) << "a known parent is not created again";
            }
        }
        const auto created = [&](Entity* e) { return std::find(posted.begin(), posted.end(), e->GetMultiplayerId()) != posted.end(); };
        EXPECT_TRUE(created(leaf) && created(middle) && created(sibling));
        EXPECT_EQ(created(root), !row.parentAnnounced);
        gEntityManager->DestroyEntity(root);
        engine->FlushDirtyEntities();
        Records();
    }
}

// An entity a field names is created before the record that names it, as a parent is;
// a loop of names posts each once.
TEST_F(AnnouncementTest, AnEntityAFieldNamesIsPostedFirst) {
    Become(NETCB_HOST_RESULT);
    for (const bool loop : {false, true}) {
        Entity* named = Authority();
        Entity* naming = Authority();  // linked later, so flushed first without the rule
        for (Entity* e : {named, naming})
            if (!e->GetMPProperties()) e->CreateMPProperties();
        ASSERT_NE(naming->MPPropAddEntity(named, MPPROPFLAG_NULL, "target"), kMPRefused);
        if (loop) named->MPPropAddEntity(naming, MPPROPFLAG_NULL, "back");
        engine->FlushDirtyEntities();
        const std::vector<EntityRecord> r = Records();
        ASSERT_EQ(r.size(), 2u) << loop;
        EXPECT_EQ(r[0].multiplayerId, named->GetMultiplayerId()) << loop;
        EXPECT_EQ(r[1].fields.referencedIds[3], named->GetMultiplayerId()) << loop;
        gEntityManager->DestroyEntity(named);
        gEntityManager->DestroyEntity(naming);
        engine->FlushDirtyEntities();
        Records();
    }
}

// A call naming an entity made in the same step is posted after that entity's create, so
// the network thread can write the create before the call.
TEST_F(AnnouncementTest, ACallNamingANewEntityIsPostedAfterItsCreate) {
    Become(NETCB_HOST_RESULT);
    Entity* e = Authority();
    MPMethodCall call;
    ASSERT_TRUE(call.AddEntityArg(e->GetMultiplayerId()));
    engine->ReplicateMethodCall(engine->GetRemotePlayer(0), call, true);
    std::vector<uint32_t> order;
    CommandRingBuffer& ring = engine->Ring();
    while (ring.BeginRead()) {
        order.push_back(ring.RecordId());
        ring.EndRead();
    }
    EXPECT_EQ(order, std::vector<uint32_t>({NETCMD_ENTITY_RECORD, NETCMD_METHOD_CALL}));
    EXPECT_EQ(engine->GetPendingEntityFlags(e->GetMultiplayerId()), 0u);
}

TEST_F(AnnouncementTest, TearOffsAndStaticEntities) {
    Become(NETCB_HOST_RESULT);
    struct Row {
        const char* name;
        bool flushFirst;
        bool dirty;
        uint8_t flags;
    };
    for (const Row& row : {Row{"pending create", false, false, 15}, Row{"pending change", true, true, 11}, Row{"nothing pending", true, false, 11}}) {
        Entity* e = Authority();
        if (row.flushFirst) engine->FlushDirtyEntities();
        if (row.dirty) e->MPPropMarkDirty(1);
        Records();
        e->SetTornOff();
        const std::vector<EntityRecord> r = Records();
        ASSERT_EQ(r.size(), 1u) << row.name;
        EXPECT_EQ(r[0].flags, row.flags) << row.name;
        EXPECT_EQ(engine->GetPendingEntityFlags(e->GetMultiplayerId()), 0u) << row.name;
    }
    Entity* s = Authority(nullptr, ENTITYCREATION_MULTIPLAYER_STATIC);
    engine->FlushDirtyEntities();
    gEntityManager->DestroyEntity(s);
    for (const EntityRecord& r : Records()) EXPECT_EQ(r.flags & (ENTITYRECORD_CREATE | ENTITYRECORD_DESTROY | ENTITYRECORD_TEAROFF), 0) << "static";
}

// A game that ends takes every id; hosting again announces the entities still in the
// match with new ids, each create carrying every property (the new peer knows none of the
// values flushed in the earlier game), and leaves out the torn-off ones.
TEST_F(AnnouncementTest, HostingAgainAnnouncesTheRemainingEntitiesWithEveryProperty) {
    Become(NETCB_HOST_RESULT);
    Entity* kept = Authority();
    Entity* torn = Authority();
    kept->CreateMPProperties();
    for (int32_t v : {7, 9}) ASSERT_NE(kept->MPPropAddInt(v, MPPROPTYPE_INT, MPPROPFLAG_NULL, 0, 255, "n"), kMPRefused);
    engine->FlushDirtyEntities();
    kept->MPPropSetInt(3, 11, 0);
    engine->FlushDirtyEntities();
    torn->SetTornOff();
    Records();
    Become(NETCB_DISCONNECTED);
    EXPECT_EQ(kept->GetMultiplayerId(), kNoMultiplayerId);
    const std::vector<EntityRecord> r = Become(NETCB_HOST_RESULT);
    ASSERT_EQ(r.size(), 1u) << "the torn-off entity left the match";
    EXPECT_EQ(r[0].multiplayerId, kept->GetMultiplayerId());
    EXPECT_LT(kept->GetMultiplayerId(), kNoMultiplayerId);
    EXPECT_EQ(r[0].flags, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(r[0].dirtyMask, (uint64_t(1) << kept->GetMPProperties()->Count()) - 1) << "every property";
    // A change after hosting again is announced as before.
    kept->MPPropSetInt(4, 12, 0);
    engine->FlushDirtyEntities();
    ASSERT_EQ(Records().size(), 1u);
}

// Static ids pair the level entities of both sides by their order of creation: hosting
// again gives every static entity, of any role, the id it had, and its record stays a
// properties record.
TEST_F(AnnouncementTest, HostingAgainKeepsTheStaticIdsInTheirOrderOfCreation) {
    Entity* level = Make(nullptr, ENTITYCREATION_MULTIPLAYER_STATIC);  // no role: never replicated
    Entity* levelAuthority = Authority(nullptr, ENTITYCREATION_MULTIPLAYER_STATIC);
    const uint16_t first = level->GetMultiplayerId(), second = levelAuthority->GetMultiplayerId();
    ASSERT_LT(first, second);
    ASSERT_LT(second, kNoMultiplayerId);
    Become(NETCB_HOST_RESULT);
    Become(NETCB_DISCONNECTED);
    ASSERT_EQ(level->GetMultiplayerId(), kNoMultiplayerId);
    const std::vector<EntityRecord> r = Become(NETCB_HOST_RESULT);
    EXPECT_EQ(level->GetMultiplayerId(), first);
    EXPECT_EQ(levelAuthority->GetMultiplayerId(), second);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].multiplayerId, second);
    EXPECT_EQ(r[0].flags, ENTITYRECORD_PROPERTIES);
}

// The same on a client that leaves and joins again on the level it has: its level
// entities take their static ids again, so the host's records find them.
TEST_F(AnnouncementTest, JoiningAgainKeepsTheStaticIdsInTheirOrderOfCreation) {
    Entity* level = Make(nullptr, ENTITYCREATION_MULTIPLAYER_STATIC);
    Entity* levelAuthority = Authority(nullptr, ENTITYCREATION_MULTIPLAYER_STATIC);
    const uint16_t first = level->GetMultiplayerId(), second = levelAuthority->GetMultiplayerId();
    ASSERT_LT(first, second);
    Become(NETCB_JOIN_RESULT);
    Become(NETCB_DISCONNECTED);
    ASSERT_EQ(level->GetMultiplayerId(), kNoMultiplayerId);
    EXPECT_TRUE(Become(NETCB_JOIN_RESULT).empty()) << "a client announces nothing";
    EXPECT_EQ(level->GetMultiplayerId(), first);
    EXPECT_EQ(levelAuthority->GetMultiplayerId(), second);
    EXPECT_EQ(gEntityManager->GetEntityByMID(second), levelAuthority);
}

TEST_F(AnnouncementTest, OutsideAHostedGameIdsAreFreedAtOnceAndNothingIsPosted) {
    Entity* e = Authority();  // single player
    const uint32_t ids = gEntityManager->GetDynamicMIDCount();
    ASSERT_LT(e->GetMultiplayerId(), kNoMultiplayerId);
    gEntityManager->DestroyEntity(e);
    EXPECT_EQ(gEntityManager->GetDynamicMIDCount(), ids - 1);
    engine->FlushDirtyEntities();
    EXPECT_TRUE(Records().empty());
}

TEST_F(AnnouncementTest, AClientDropsRecordsForUnknownTemplatesAndExistingIds) {
    Become(NETCB_JOIN_RESULT);
    CommandRingBuffer& q = engine->CallbackQueue();
    const auto push = [&](const EntityRecord& r) {
        ASSERT_TRUE(q.BeginWrite(NETCB_ENTITY_RECORD, sizeof r));
        q.Write(&r, sizeof r);
        q.EndWrite();
        engine->ProcessMessages();
    };
    EntityRecord r;
    r.multiplayerId = 12;
    r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
    r.templateGuid.bytes[3] = 0x42;
    push(r);
    EXPECT_TRUE(log.Contains("Couldn't create replicated entity with id 12. Entity template with GUID"));
    EXPECT_TRUE(log.Contains("doesn't exist."));
    Entity* existing = Make();
    existing->SetMultiplayerId(13);
    r.multiplayerId = 13;
    push(r);
    EXPECT_TRUE(log.Contains("ClientEntitySynchronizationStrategy::ProcessCreate - Entity already exists mId: 13."));
    EXPECT_EQ(gEntityManager->GetEntityByMID(13), existing);
    EXPECT_EQ(existing->GetMPProperties(), nullptr) << "the refused create declares no properties on the entity";
    // An id whose destroy is queued but has not run yet may come back: the old proxy
    // gives it up and the create goes on.
    EntityRecord destroy;
    destroy.multiplayerId = 13;
    destroy.flags = ENTITYRECORD_DESTROY;
    push(destroy);
    log.Clear();
    push(r);
    EXPECT_FALSE(log.Contains("already exists"));
    EXPECT_TRUE(log.Contains("Couldn't create replicated entity with id 13."));
    EXPECT_EQ(existing->GetMultiplayerId(), kNoMultiplayerId);
}

TEST_F(AnnouncementTest, AClientBuildsADisabledParentedOwnedProxy) {
    EntityTemplate proxyTemplate;
    proxyTemplate.SetName("proxy");
    scenefiles::RegisteredTemplate registered(&proxyTemplate, "00000000-0000-0000-0000-0000000000B7", 0);
    Become(NETCB_JOIN_RESULT);
    Entity* parent = Make();
    parent->SetMultiplayerId(20);
    struct Row {
        const char* name;
        uint16_t id;
        uint16_t parentId;
        uint8_t owned;
        Entity* expectedParent;
        bool warned;
    };
    const std::vector<Row> rows = {
        {"parented and owned", 30, 20, 1, parent, false},
        {"under the root", 31, kNoMultiplayerId, 0, Root(), false},
        {"a missing parent falls back to the root", 32, 999, 0, Root(), true},
        {"itself as parent is refused, the root stays", 33, 33, 0, Root(), false},
    };
    for (const Row& row : rows) {
        log.Clear();
        EntityRecord r;
        r.multiplayerId = row.id;
        r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
        r.templateGuid = registered.stub.guid;
        r.parentId = row.parentId;
        r.ownedByReceiver = row.owned;
        // "PosXZ" (x 0 z 0 in the default box), "PosY", "Rot" at 90 degrees.
        BitWriter w(r.fields.data, kMPFieldBufferBytes * 8);
        w.WriteValue(0x80008000u, 32);
        w.WriteValue(0x8000, 16);
        w.WriteValue(256, 10);
        r.fields.totalBits = w.BitCount();
        r.dirtyMask = 7;
        CommandRingBuffer& q = engine->CallbackQueue();
        ASSERT_TRUE(q.BeginWrite(NETCB_ENTITY_RECORD, sizeof r));
        q.Write(&r, sizeof r);
        q.EndWrite();
        engine->ProcessMessages();
        Entity* e = gEntityManager->GetEntityByMID(row.id);
        ASSERT_NE(e, nullptr) << row.name;
        EXPECT_EQ(e->GetMultiplayerRole(), MPROLE_PROXY) << row.name;
        EXPECT_TRUE(e->CheckFlag(ENTITYFLAG_DISABLE_UPDATE)) << row.name;
        EXPECT_EQ(e->GetParent(), row.expectedParent) << row.name;
        EXPECT_EQ(e->GetPlayerOwner(), row.owned ? engine->GetLocalPlayer() : nullptr) << row.name;
        EXPECT_NEAR(e->MPPropGetRotationValue().y, 90.0f, 0.5f) << row.name;
        EXPECT_TRUE(log.Contains("ClientEntitySynchronizationStrategy::ProcessUpdate - Entity created mulid:" + std::to_string(row.id))) << row.name;
        EXPECT_EQ(log.Contains("missing, using the scene root"), row.warned) << row.name;
    }
    gEntityManager->NewScene();
}


std::vector<std::string> gNetInits;

int LuaNetInitNote(lua_State* L) {
    gNetInits.push_back(static_cast<Entity*>(*static_cast<void**>(lua_touserdata(L, 1)))->GetName());
    return 0;
}

// A received create runs "OnNetInit" only when the game clock reaches the time the packet
// maps to; until then the proxy stays disabled.
TEST_F(AnnouncementTest, AProxysNetInitWaitsForItsPacketsTime) {
    os::ManualClock clock;
    clock.Install(), Time::InitTimer(0, 0);
    const auto setNow = [&](uint64_t t) {
        clock.Set(int64_t(t - kNetworkTimeOffset) * (os::kCounterFrequency / 1000000));
        gGameClock->Tick(-1, 1.0f);
    };
    constexpr uint64_t kNow = 1000000;
    setNow(kNow);
    Game game;
    Game* saved = std::exchange(gGame, &game);
    GameEntityListsTestAccess::SetMultiplayerEngine(game, engine.get());  // a client after the join below
    SetGameServices(&GetRunningGameServices());
    gLua.Init();
    gLua.RegisterClass("NetProbe", "");
    lua_register(gLua.GetState(), "NetInitNote", &LuaNetInitNote);
    ASSERT_TRUE(gLua.ExecuteString("function NetProbe:OnNetInit() NetInitNote(self) end\n"));
    EntityTemplate proxyTemplate;
    proxyTemplate.SetName("netprobe");
    RTTIValueStore<char*>::Assign(proxyTemplate.luaClass, const_cast<char*>("NetProbe"));
    scenefiles::RegisteredTemplate registered(&proxyTemplate, "00000000-0000-0000-0000-0000000000B8", 0);
    Become(NETCB_JOIN_RESULT);
    gNetInits.clear();

    struct Row {
        uint16_t id;
        uint64_t due;  // the record's local time
    };
    const Row rows[] = {{40, kNow + 30000}, {41, kNow + 10000}, {42, kNow}};
    for (const Row& row : rows) {
        EntityRecord r;
        r.multiplayerId = row.id;
        r.flags = ENTITYRECORD_CREATE;
        r.templateGuid = registered.stub.guid;
        r.localTime = row.due;
        CommandRingBuffer& q = engine->CallbackQueue();
        ASSERT_TRUE(q.BeginWrite(NETCB_ENTITY_RECORD, sizeof r));
        q.Write(&r, sizeof r);
        q.EndWrite();
    }
    engine->ProcessMessages();
    std::vector<Entity*> made;
    for (const Row& row : rows) {
        made.push_back(gEntityManager->GetEntityByMID(row.id));
        ASSERT_NE(made.back(), nullptr) << row.id;
        made.back()->SetName(("p" + std::to_string(row.id)).c_str());
        EXPECT_TRUE(made.back()->CheckFlag(ENTITYFLAG_DISABLE_UPDATE)) << row.id;
    }
    EXPECT_TRUE(gNetInits.empty()) << "nothing runs before the game ticks its delayed list";
    const struct {
        uint64_t now;
        std::vector<std::string> inits;
    } steps[] = {{kNow, {"p42"}}, {kNow + 9999, {}}, {kNow + 10000, {"p41"}}, {kNow + 29999, {}}, {kNow + 40000, {"p40"}}};
    for (const auto& step : steps) {
        setNow(step.now);
        game.TickDelayed(false);
        EXPECT_EQ(std::exchange(gNetInits, {}), step.inits) << "at " << step.now - kNow;
    }
    for (Entity* e : made) EXPECT_FALSE(e->CheckFlag(ENTITYFLAG_DISABLE_UPDATE)) << e->GetName();

    gEntityManager->NewScene();
    SetGameServices(nullptr);
    gGame = saved;
    gLua.Close();
    clock.Uninstall(), Time::InitTimer();
}

}  // namespace
