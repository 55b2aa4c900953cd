// test-sanitize: address
#include <lua.hpp>

#include <cmath>
#include <map>
#include <string>

#include "EntityTestSupport.h"
#include "engine/script/LuaUnicodeString.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ScriptScheduler.h"
#include "engine/entity/MPProperty.h"

namespace {

std::vector<std::string> gCalls;

class EntityCoreTest : public EntityTest {};

TEST_F(EntityCoreTest, SetParentRefusalsAndRoot) {
    Entity* a = Make();
    Entity* b = Make(a);
    Entity* c = Make(b);
    a->SetParent(c);
    EXPECT_EQ(a->GetParent(), Root());
    EXPECT_TRUE(log.Contains("SetParent call ignored to avoid a loop"));
    c->SetParent(nullptr);
    EXPECT_EQ(c->GetParent(), Root());
    Root()->SetParent(a);
    EXPECT_EQ(Root()->GetParent(), nullptr);

    Entity* auth = Make(nullptr, ENTITYCREATION_MULTIPLAYER_AUTHORITY);
    ASSERT_NE(auth, nullptr);
    Entity* authChild = Make(auth, ENTITYCREATION_MULTIPLAYER_AUTHORITY);
    ASSERT_NE(authChild, nullptr);
    EXPECT_EQ(authChild->GetParent(), auth);
    const struct {
        Entity* to;
        bool fromInit;
        const char* reason;
    } refusals[] = {{a, false, "outside initialization!"}, {nullptr, false, "outside initialization!"},
                    {a, true, "due to parent not being multiplayer authority!"}};
    for (const auto& r : refusals) {
        log.Clear();
        authChild->SetParentCore(r.to, false, r.fromInit);
        EXPECT_EQ(authChild->GetParent(), auth);
        EXPECT_TRUE(log.Contains("SetParent of multiplayer entity")) << r.reason;
        EXPECT_TRUE(log.Contains(std::string("is forbidden ") + r.reason));
    }
    authChild->SetParentCore(nullptr, false, true);  // the root is allowed from initialisation
    EXPECT_EQ(authChild->GetParent(), Root());
}

TEST_F(EntityCoreTest, BoneMountsFollowParentChanges) {
    static std::vector<std::pair<std::string, Entity*>> calls;
    calls.clear();
    static struct : SceneContentServices {
        void RemountOnMesh(Entity* mesh, Entity*) override { calls.push_back({"mount", mesh}); }
        void UnmountFromMesh(Entity* mesh, Entity* child) override {
            calls.push_back({"unmount", mesh});
            child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, false);
        }
    } scene;
    SetSceneContentServices(&scene);
    EntityTemplate* mesh = Template(ENTITY_MESH, "mesh");
    Entity* plain = Make(nullptr, 0, Template(0, "plain"));
    Entity* m1 = Make(nullptr, 0, mesh);
    Entity* m2 = Make(nullptr, 0, mesh);
    Entity* child = Make(m1, 0, Template(0, "child"));
    EXPECT_TRUE(calls.empty());  // no mount record yet
    child->SetMountBone("hand");
    child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, true);
    child->SetParent(m2);
    child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, true);
    child->SetParent(plain);  // not a mesh: unmounted, not mounted again
    const std::vector<std::pair<std::string, Entity*>> want = {
        {"mount", m1}, {"unmount", m1}, {"mount", m2}, {"unmount", m2}};
    EXPECT_EQ(calls, want);
    EXPECT_STREQ(child->GetMountBone(), "hand");

    // The offset's parts compose back into the offset matrix.
    child->SetMountScale(Vector(-2, 3, 4, 0));  // kept as given, not as a decomposition would split it
    child->SetMountRotation(Quaternion(0, 0.6f, 0, 0.8f));
    child->SetMountPosition(Vector(1, 2, 3, 1));
    Matrix expected;
    expected.LoadQuaternionTranslationAndScale(Quaternion(0, 0.6f, 0, 0.8f), Vector(1, 2, 3, 1), Vector(-2, 3, 4, 0));
    for (int r = 0; r < 16; ++r)
        EXPECT_NEAR(child->GetMountLocation().r[r / 4][r % 4], expected.r[r / 4][r % 4], 1e-5) << r;
    child->SetMountLocation(expected);  // mirrored: decomposed with the sign on z and a half turn about y
    EXPECT_NEAR(child->GetMountScale().z, -4.0f, 1e-5);
    EXPECT_NEAR(std::fabs(child->GetMountRotation().y), 0.8f, 1e-5);
    EXPECT_EQ(plain->GetMountLocation(), Matrix::IDENTITY);  // no record
}

TEST_F(EntityCoreTest, FlagSideEffectsOnlyForChangedBits) {
    struct Ghost : Entity {
        int on = 0, off = 0, contexts = 0;
        void OnGhostModeOn() override { ++on; }
        void OnGhostModeOff() override { ++off; }
        EntityRenderingContext* CreateRenderingContext() override {
            ++contexts;
            return nullptr;
        }
    };
    static std::vector<Ghost*> made;
    made.clear();
    struct GhostTemplate : EntityTemplate {
        Entity* CreateEntity() override {
            made.push_back(new Ghost());
            return made.back();
        }
    } t;
    t.SetName("ghost");
    Entity* parent = Make(nullptr, 0, &t);
    Make(parent, 0, &t);
    Ghost* p = made[0];
    Ghost* c = made[1];
    const int contexts = p->contexts;
    p->RaiseFlag(ENTITYFLAG_GHOSTMODE | ENTITYFLAG_SELECTED, false);
    p->RaiseFlag(ENTITYFLAG_GHOSTMODE, false);
    EXPECT_EQ(p->on, 1);
    EXPECT_EQ(p->GetEnforcedRenderingFlags() & ENFORCED_SELECTED, ENFORCED_SELECTED);
    // Unchanged on the parent: the given bits go down, and the child changes.
    p->RaiseFlag(ENTITYFLAG_GHOSTMODE, true);
    EXPECT_EQ(p->on, 1);
    EXPECT_EQ(c->on, 1);
    p->ClearFlag(ENTITYFLAG_GHOSTMODE | ENTITYFLAG_SELECTED, true);
    EXPECT_EQ(p->off, 1);
    EXPECT_EQ(c->off, 1);
    EXPECT_EQ(p->GetEnforcedRenderingFlags() & ENFORCED_SELECTED, 0u);
    p->RaiseFlag(0x80000, false);
    p->RaiseFlag(0x80000, false);
    p->ClearFlag(0x80000, false);
    EXPECT_EQ(p->contexts, contexts + 2);  // recreated on each real change
    p->RaiseFlag(0x40000, false);
    EXPECT_EQ(p->contexts, contexts + 2);  // 0x40000: no context is made
    gEntityManager->DestroyEntity(p);  // before its template goes
}

class InitPassTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        gLua.Init();
        for (const char* cls : {"ProbeA", "ProbeB", "ProbeC", "ProbeZ"}) gLua.RegisterClass(cls, "");
        lua_register(gLua.GetState(), "SpawnLate", [](lua_State*) -> int {
            Entity* e = gEntityManager->CreateEntityFromTemplate(late, nullptr, Matrix::IDENTITY, 0, nullptr);
            gEntityManager->FinishEntityCreation(e);
            return 0;
        });
        ASSERT_TRUE(gLua.ExecuteString(
            "trace = ''\n"
            "function ProbeA:OnInit(p) trace = trace .. 'A' .. p .. ' ' end\n"
            "function ProbeB:OnInit(p) trace = trace .. 'B' .. p .. ' ' if p == 1 and spawn then spawn = false "
            "SpawnLate() end end\n"
            "function ProbeC:OnInit(p) trace = trace .. 'C' .. p .. ' ' end\n"
            "function ProbeZ:OnInit(p) trace = trace .. 'Z' .. p .. ' ' end\n"));
        for (auto [cls, passes] : {std::pair{"ProbeA", 1u}, {"ProbeB", 3u}, {"ProbeC", 3u}, {"ProbeZ", 0u}}) {
            EntityTemplate* t = Template(0, cls);
            RTTIValueStore<char*>::Assign(t->luaClass, const_cast<char*>(cls));
            t->initPassCount = passes;
            byClass[cls] = t;
        }
        late = byClass["ProbeC"];
    }
    void TearDown() override {
        gLua.Close();
        EntityTest::TearDown();
    }
    std::string Trace() {
        lua_getglobal(gLua.GetState(), "trace");
        std::string s = lua_tostring(gLua.GetState(), -1);
        lua_pop(gLua.GetState(), 1);
        EXPECT_TRUE(gLua.ExecuteString("trace = ''"));
        return s;
    }
    Entity* Create(const char* cls) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(byClass[cls], nullptr, Matrix::IDENTITY, 0, nullptr);
        gEntityManager->FinishEntityCreation(e);
        return e;
    }
    std::map<std::string, EntityTemplate*> byClass;
    static EntityTemplate* late;
};
EntityTemplate* InitPassTest::late = nullptr;

TEST_F(InitPassTest, PassesRunPassByPassAcrossTheBatch) {
    Create("ProbeZ");
    Create("ProbeB");
    EXPECT_EQ(Trace(), "B0 B1 B2 ");  // a batch of its own; N = 0 gets no call

    ASSERT_TRUE(EntityInitBatch::Begin());
    EXPECT_FALSE(EntityInitBatch::Begin());
    Create("ProbeB");
    Create("ProbeA");
    Entity* dead = Create("ProbeC");
    Create("ProbeZ");
    gEntityManager->DestroyEntity(dead);
    ASSERT_TRUE(gLua.ExecuteString("spawn = true"));
    EntityInitBatch::Finish();
    // The entity spawned during pass 1 catches up pass 0 at once, then runs with the batch.
    EXPECT_EQ(Trace(), "B0 A0 B1 C0 C1 B2 C2 ");
    EXPECT_FALSE(EntityInitBatch::IsOpen());

    // Initialised with no batch open: all its passes at once.
    Entity* alone = gEntityManager->CreateEntityFromTemplate(byClass["ProbeC"], nullptr, Matrix::IDENTITY, 0, nullptr);
    Trace();
    EntityInitBatch::InitEntity(alone);
    EXPECT_EQ(Trace(), "C0 C1 C2 ");
}

TEST_F(InitPassTest, NetDestroyRunsChildrenFirstOnEntitiesWithARole) {
    ASSERT_TRUE(gLua.ExecuteString("function ProbeA:OnNetDestroy() trace = trace .. 'a ' end\n"
                                   "function ProbeB:OnNetDestroy() trace = trace .. 'b ' end\n"
                                   "function ProbeC:OnNetDestroy() trace = trace .. 'c ' end\n"));
    const uint32_t proxy = ENTITYCREATION_MULTIPLAYER_PROXY;
    Entity* a = gEntityManager->CreateEntityFromTemplate(byClass["ProbeA"], nullptr, Matrix::IDENTITY, proxy, nullptr);
    Entity* b = gEntityManager->CreateEntityFromTemplate(byClass["ProbeB"], a, Matrix::IDENTITY, proxy, nullptr);
    gEntityManager->CreateEntityFromTemplate(byClass["ProbeC"], b, Matrix::IDENTITY, 0, nullptr);
    gEntityManager->CreateEntityFromTemplate(byClass["ProbeC"], a, Matrix::IDENTITY, proxy, nullptr);
    Trace();
    gEntityManager->DestroyEntity(a);
    EXPECT_EQ(Trace(), "b c a ");
}

TEST_F(EntityCoreTest, DestructionClearsEveryIndexChildrenFirst) {
    static std::vector<std::string> order;
    order.clear();
    struct Noted : Entity {
        void Destroy() override {
            order.push_back(GetName());
            Entity::Destroy();
        }
    };
    struct NotedTemplate : EntityTemplate {
        Entity* CreateEntity() override { return new Noted(); }
    } t;
    t.SetName("noted");
    const uint32_t live = gEntityManager->GetLiveEntityCount();
    Entity* top = Make(nullptr, 0, &t);
    Entity* mid = Make(top, 0, &t);
    Entity* leaf = Make(mid, 0, &t);
    top->SetName("top");
    mid->SetName("mid");
    leaf->SetName("leaf");
    leaf->SetMultiplayerId(7);
    const SimpleGUID leafGuid = leaf->GetGUID();
    const uint32_t topKey = top->GetReusableId();
    SafePointer<Entity> watch(leaf);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live + 3);
    gEntityManager->DestroyEntity(top);
    EXPECT_EQ(order, std::vector<std::string>({"top", "mid", "leaf"}));  // each Destroy runs its children's
    EXPECT_EQ(watch.Get(), nullptr);
    EXPECT_EQ(gEntityManager->FindEntityByName("leaf"), nullptr);
    EXPECT_EQ(gEntityManager->FindEntityByGUID(leafGuid), nullptr);
    EXPECT_EQ(gEntityManager->GetEntityByMID(7), nullptr);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live);
    EXPECT_EQ(Root()->GetChildrenCount(), 0u);
    EXPECT_EQ(t.GetInstanceCount(), 0u);
    EXPECT_EQ(Make()->GetReusableId(), topKey);  // the last released id (the parent's) comes back first
}

TEST_F(EntityCoreTest, ListMeAndChildrenIsBreadthFirstAndBounded) {
    Entity* a = Make();
    Entity* b = Make(a);
    Entity* c = Make(a);
    Entity* d = Make(b);
    Entity* e = Make(c);
    Entity* buffer[8];
    ASSERT_EQ(a->ListMeAndChildren(buffer, 8), 5u);
    EXPECT_EQ(std::vector<Entity*>(buffer, buffer + 5), std::vector<Entity*>({a, b, c, d, e}));
    EXPECT_FALSE(log.Contains("Buffer too small"));
    EXPECT_EQ(a->ListMeAndChildren(buffer, 3), 3u);
    EXPECT_TRUE(log.Contains("Buffer too small (3 entities) in a call to ListMeAndChildren"));
    a->DeleteChildren();
    EXPECT_EQ(a->GetChildrenCount(), 0u);
}

TEST_F(EntityCoreTest, BlockRenderingMaskFollowsEntityAndTemplateViews) {
    // view byte: 0 template default, 1 true, 2 false.
    for (int byte = 0; byte < 3; ++byte)
        for (int templ = 0; templ < 2; ++templ)
            for (int extended = 0; extended < 3; ++extended) {
                EntityTemplate* t = Template();
                t->visibleInCombatView = templ;
                t->visibleInTacticalView = !templ;
                t->visibleInTacticalExtended = uint8_t(extended);
                Entity* e = Make(nullptr, 0, t);
                e->SetPropertyFromString("Visible in combat view", std::to_string(byte).c_str());
                e->SetPropertyFromString("Visible in tactical view", std::to_string(byte).c_str());
                e->UpdateBlockRenderingMask();
                const bool blockCombat = byte == 2 || (byte == 0 && !templ);
                const bool blockTactical = byte == 2 || (byte == 0 && templ);
                const bool blockExtended = extended == 2 || (extended == 0 && templ);
                const uint32_t want = (blockCombat ? 1 : 0) | (blockTactical ? 2 : 0) | (blockExtended ? 4 : 0);
                EXPECT_EQ(e->GetBlockRenderingMask(), want) << byte << templ << extended;
            }
}

TEST_F(EntityCoreTest, SchedulingPicksTheSchedulerByFlags) {
    static ScriptScheduler game, gameplay, engine;
    static bool gameRunning;
    static struct : GameServices {
        ScriptScheduler* SelectScheduler(uint32_t selection, int64_t* now) override {
            *now = 100;
            if (selection == SCRIPTCALL_SYSTEMTIME) return &engine;
            if (!gameRunning) return nullptr;
            return selection == SCRIPTCALL_GAMEPLAYTIME ? &gameplay : &game;
        }
    } schedulers;
    SetGameServices(&schedulers);
    Entity* e = Make();
    gameRunning = true;
    const struct {
        uint32_t flags;
        ScriptScheduler* expected;
    } cases[] = {{0, &game}, {SCRIPTCALL_REPEAT, &game}, {4, &gameplay}, {8, &engine}, {12, &game}};
    for (const auto& c : cases) {
        const uint32_t before = c.expected->Count();
        e->ScheduleCallback(5, 1.0f, c.flags);
        EXPECT_EQ(c.expected->Count(), before + 1) << c.flags;
    }
    EXPECT_NEAR(e->GetScheduledCallbackTimeLeft(5, 4), 1.0f, 1e-6);
    e->DeleteScheduledCallback(5);
    EXPECT_FLOAT_EQ(e->GetScheduledCallbackTimeLeft(5, 4), -1.0f);
    gameRunning = false;
    e->ScheduleScriptCall("Later", 1.0f, 0);
    e->ScheduleCallback(9, 1.0f, 4);
    EXPECT_TRUE(log.Contains("Cannot schedule script [Later] because the game is not active"));
    EXPECT_TRUE(log.Contains("Cannot schedule callback [9] because the game is not active"));
    e->ScheduleScriptCall("Later", 1.0f, 8);  // the engine's scheduler always exists
    EXPECT_EQ(engine.Count(), 2u);
    game.Clear();
    gameplay.Clear();
    engine.Clear();
}

TEST(LuaUnicodeStringTest, CountAndTerminatorSurviveEveryEdit) {
    LuaUnicodeString s;
    EXPECT_EQ(s.GetCount(), 0u);
    const struct {
        void (*edit)(LuaUnicodeString&);
        const char16_t* text;
        uint32_t count;
    } steps[] = {
        {[](LuaUnicodeString& x) { x.RemoveLastChar(); }, u"", 0},
        {[](LuaUnicodeString& x) { x.AppendChar(u'a'); }, u"a", 2},
        {[](LuaUnicodeString& x) { x.AppendChar(u'\u00e9'); }, u"a\u00e9", 3},
        {[](LuaUnicodeString& x) { x.RemoveLastChar(); }, u"a", 2},
        {[](LuaUnicodeString& x) { x.Resize(6); }, u"a", 6},
        {[](LuaUnicodeString& x) { x.Set(u"hello"); }, u"hello", 6},
        {[](LuaUnicodeString& x) { x.Resize(3); }, u"he", 3},
        {[](LuaUnicodeString& x) { x.RemoveLastChar(); }, u"h", 2},
        {[](LuaUnicodeString& x) { x.RemoveLastChar(); }, u"", 1},
        {[](LuaUnicodeString& x) { x.RemoveLastChar(); }, u"", 1},
        {[](LuaUnicodeString& x) { x.AppendChar(u'z'); }, u"z", 2},
        {[](LuaUnicodeString& x) { x.Clear(); }, u"", 0},
    };
    for (const auto& step : steps) {
        step.edit(s);
        EXPECT_EQ(std::u16string(s.GetUnicharPtr()), std::u16string(step.text));
        EXPECT_EQ(s.GetCount(), step.count);
        if (s.GetCount()) {
            EXPECT_EQ(s.GetUnicharPtr()[s.GetCount() - 1], 0);
        }
    }
}

// A received property's callback may end its entity (a proxy goes at once), or end an
// entity whose own tick ran the callback: the ticks that ran it end without touching
// the containers the entities owned, and report nothing pending.
Entity* gCallbackVictim = nullptr;
Entity* gCallbackNested = nullptr;

TEST_F(EntityCoreTest, APropertyCallbackMayDestroyTheTickingEntity) {
    struct Row {
        const char* name;
        bool nested;  // the victim's callback ticks another entity, whose callback ends the victim
    };
    for (const Row row : {Row{"its own callback", false}, Row{"a callback of a tick it ran", true}}) {
        const auto received = [](Entity* e) {
            e->CreateMPProperties();
            const uint32_t index = e->MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_CALLBACK, 0, 255, "n");
            MPFieldBuffer fields;
            fields.Append(7, 9);
            EXPECT_TRUE(e->MPPropDeserialize(fields, uint64_t(1) << index, 0, 1, true));
        };
        Entity* victim = Make();
        received(victim);
        gCallbackVictim = victim;
        gCallbackNested = nullptr;
        if (row.nested) {
            gCallbackNested = Make();
            received(gCallbackNested);
        }
        static struct : GameServices {
            void OnReplicatedProperty(Entity* e) override {
                if (e == gCallbackVictim && gCallbackNested) {
                    Entity* other = gCallbackNested;
                    gCallbackNested = nullptr;
                    other->MPPropTick(2);
                } else {
                    gEntityManager->DestroyEntity(gCallbackVictim);
                }
            }
        } game;
        SetGameServices(&game);
        SafePointer<Entity> alive(victim);
        EXPECT_FALSE(victim->MPPropTick(2)) << row.name;
        EXPECT_EQ(alive.Get(), nullptr) << row.name;
        SetGameServices(nullptr);
    }
}

// The mesh keeps the two property indices of its replicated animation in a byte each: an
// index past that names no property rather than the one its low byte would.
uint32_t gAnimReplication[2];

TEST_F(EntityCoreTest, ReplicatedAnimationIndicesPastAByteNameNoProperty) {
    static struct : SceneContentServices {
        bool SetAnimationReplication(Entity*, bool, uint32_t animation, uint32_t progress) override {
            gAnimReplication[0] = animation;
            gAnimReplication[1] = progress;
            return true;
        }
    } scene;
    SetSceneContentServices(&scene);
    struct Row {
        uint32_t animation, progress, expectedAnimation, expectedProgress;
    };
    for (const Row row : {Row{3, 4, 3, 4}, Row{259, 4, 255, 4}, Row{3, 0x104, 3, 255}}) {
        Make()->ReplicateAnimEnable(row.animation, row.progress);
        EXPECT_EQ(gAnimReplication[0], row.expectedAnimation) << row.animation;
        EXPECT_EQ(gAnimReplication[1], row.expectedProgress) << row.progress;
    }
    SetSceneContentServices(nullptr);
}

}  // namespace
