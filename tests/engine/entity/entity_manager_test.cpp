// test-sanitize: address
#include "EntityTestSupport.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntitySet.h"
#include "engine/input/InputManager.h"
#include "platform/input/Input.h"
#include "render/RenderTestSupport.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RenderSceneGrid.h"

namespace {

class ManagerTest : public EntityTest {};

TEST_F(ManagerTest, LiveLimitRefusesAndReadmits) {
    EntityTemplate* t = Template();
    std::vector<Entity*> made;
    while (gEntityManager->GetLiveEntityCount() < kMaxLiveEntities) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr);
        ASSERT_NE(e, nullptr);
        made.push_back(e);
    }
    const uint32_t created = gEntityManager->GetCreationCount();
    EXPECT_EQ(gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("Too many entities! Current limit: 32768"));
    EXPECT_EQ(gEntityManager->GetCreationCount(), created);
    gEntityManager->DestroyEntity(made.back());
    EXPECT_NE(gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr), nullptr);
}

// A script may delete the scene root: the manager forgets it instead of destroying it again.
TEST_F(ManagerTest, DestroyedRootIsForgotten) {
    Make(Root());
    gEntityManager->DestroyEntity(Root());
    EXPECT_EQ(gEntityManager->GetRootEntity(), nullptr);
    gEntityManager->NewScene();
    EXPECT_STREQ(Root()->GetName(), "SCENE ROOT");
}

TEST_F(ManagerTest, AuthorityCreationRules) {
    static std::vector<std::pair<Entity*, uint32_t>> delayed;
    delayed.clear();
    static struct : GameServices {
        bool TakesDelayedEntities() const override { return true; }
        bool AddServerDelayedEntity(Entity* e, DelayedEntityKind kind) override {
            delayed.push_back({e, kind});
            return true;
        }
    } game;
    SetGameServices(&game);
    static struct : MultiplayerServices {
        void OnEntityCreated(Entity* e) override {
            if (e->GetMultiplayerRole() == MPROLE_AUTHORITY)
                e->SetMultiplayerId(e->IsStaticMultiplayer() ? gEntityManager->AllocateStaticMID()
                                                             : gEntityManager->AllocateDynamicMID());
        }
    } multiplayer;
    SetMultiplayerServices(&multiplayer);
    Entity* plain = Make();
    const uint32_t live = gEntityManager->GetLiveEntityCount();
    EXPECT_EQ(Make(plain, ENTITYCREATION_MULTIPLAYER_AUTHORITY), nullptr);
    EXPECT_TRUE(log.Contains("CreateEntity MULTIPLAYER_AUTHORITY - parent is not replicable while child is template:tpl parent:"));
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live);

    Entity* a = Make(nullptr, ENTITYCREATION_MULTIPLAYER_AUTHORITY);
    Entity* b = Make(a, ENTITYCREATION_MULTIPLAYER_AUTHORITY | ENTITYCREATION_MULTIPLAYER_STATIC);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->GetMultiplayerId(), 0);
    EXPECT_EQ(b->GetMultiplayerId(), kDynamicMultiplayerIds);
    EXPECT_EQ(gEntityManager->GetEntityByMID(0), a);
    EXPECT_TRUE(a->CheckFlag(ENTITYFLAG_DISABLE_UPDATE) && b->CheckFlag(ENTITYFLAG_DISABLE_UPDATE));
    ASSERT_EQ(delayed.size(), 2u);
    EXPECT_EQ(delayed[0], std::make_pair(a, 0u));
    gEntityManager->DestroyEntity(a);
    EXPECT_EQ(delayed.back(), std::make_pair(a, 1u));  // destroyed later by the Game
    EXPECT_EQ(gEntityManager->GetEntityByMID(0), a);

    // The dynamic limit is checked before the parent refusal.
    for (uint32_t i = gEntityManager->GetDynamicMIDCount(); i < kDynamicMultiplayerIds; ++i)
        gEntityManager->AllocateDynamicMID();
    log.Clear();
    EXPECT_EQ(Make(plain, ENTITYCREATION_MULTIPLAYER_AUTHORITY), nullptr);
    EXPECT_TRUE(log.Contains("too many dynamic multiplayer entities! Current limit: 3072"));
}

TEST_F(ManagerTest, MultiplayerIds) {
    gEntityManager->ClearMIDTable();
    for (uint32_t i = 0; i < kDynamicMultiplayerIds; ++i) ASSERT_EQ(gEntityManager->AllocateDynamicMID(), i);
    EXPECT_EQ(gEntityManager->AllocateDynamicMID(), NULL_ENTITY_MULTIPLAYER_ID);
    gEntityManager->ReleaseMID(5);
    gEntityManager->ReleaseMID(4000);  // static ids do not return
    EXPECT_EQ(gEntityManager->AllocateDynamicMID(), 5);
    for (uint32_t i = 0; i < kStaticMultiplayerIds; ++i) ASSERT_EQ(gEntityManager->AllocateStaticMID(), 3072 + i);
    EXPECT_EQ(gEntityManager->AllocateStaticMID(), NULL_ENTITY_MULTIPLAYER_ID);

    Entity* e = Make();
    Entity* f = Make();
    e->SetMultiplayerId(9);
    f->SetMultiplayerId(9);
    EXPECT_TRUE(log.Contains("Entity already in lookup mid:9"));
    EXPECT_EQ(gEntityManager->GetEntityByMID(9), f);
    e->SetMultiplayerId(NULL_ENTITY_MULTIPLAYER_ID);
    EXPECT_TRUE(log.Contains("Removing wrong entity from lookup mid:9"));
    for (uint32_t id : {4095u, 4096u, 70000u}) EXPECT_EQ(gEntityManager->GetEntityByMID(id), nullptr) << id;
    gEntityManager->ClearMIDTable();
    EXPECT_EQ(f->GetMultiplayerId(), NULL_ENTITY_MULTIPLAYER_ID);
    EXPECT_EQ(gEntityManager->GetEntityByMID(9), nullptr);
    EXPECT_EQ(gEntityManager->AllocateStaticMID(), 3072);
}

TEST_F(ManagerTest, NamesAndLookups) {
    EntityTemplate* t = Template(0, "Props/Crate");
    Entity* a = Make(nullptr, 0, t);
    gEntityManager->FinishEntityCreation(a);
    Entity* b = Make(nullptr, 0, t);
    gEntityManager->FinishEntityCreation(b);
    EXPECT_STREQ(a->GetName(), "Props/Crate*1");
    EXPECT_STREQ(b->GetName(), "Props/Crate*2");
    EXPECT_EQ(gEntityManager->FindEntityByName("props/CRATE*2"), b);
    std::string longName(600, 'x');
    b->SetName(longName.c_str());
    EXPECT_EQ(gEntityManager->FindEntityByName(longName.c_str()), b);
    EXPECT_EQ(gEntityManager->FindEntityByName((longName + "y").c_str()), nullptr);
    EXPECT_EQ(gEntityManager->FindEntityByName(nullptr), nullptr);
    a->MakeUniqueName();
    EXPECT_STREQ(a->GetName(), "Props/Crate_000");
    b->MakeUniqueName();
    EXPECT_STREQ(b->GetName(), "Props/Crate_001");
    EntityTemplate* longTemplate = Template(0, std::string(300, 'L').c_str());
    Entity* c = Make(nullptr, 0, longTemplate);
    Entity* d = Make(nullptr, 0, longTemplate);
    c->MakeUniqueName();
    d->MakeUniqueName();
    EXPECT_EQ(std::string(d->GetName()), std::string(300, 'L') + "_001");
    EXPECT_EQ(gEntityManager->FindEntityByGUID(b->GetGUID()), b);
    a->SetGroup(6);
    EXPECT_TRUE(a->IsInGroups(4) && !a->IsInGroups(9));
}

// Entity pointers read from files resolve through the manager while it runs.
TEST_F(ManagerTest, PointerResolverEndsWithShutdown) {
    EXPECT_EQ(GetEntityPointerResolver(), gEntityManager);
    gEntityManager->Shutdown();
    EXPECT_EQ(GetEntityPointerResolver(), nullptr);
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
}

TEST_F(ManagerTest, PickingHandsHitsToTheHandlers) {
    static std::vector<std::pair<Entity*, uint32_t>> picks;
    picks.clear();
    struct Handler : EntityPickHandler {
        void OnPicked(Entity* e, uint32_t input) override { picks.push_back({e, input}); }
    };
    Entity* ahead = Make();
    ahead->SetLocalPosition3(0, 0, 50);
    ahead->SetLocalRotation3(0, 45, 0);
    Entity* aside = Make();
    aside->SetLocalPosition3(30, 0, 50);
    Entity* notPickable = Make();
    notPickable->SetLocalPosition3(0, 0, 80);
    for (Entity* e : {ahead, aside, notPickable}) {
        e->SetPickHandler(new Handler());
        gEntityManager->FrameEntities().Add(e);
    }
    ahead->RaiseFlag(ENTITYFLAG_PICKABLE, false);
    aside->RaiseFlag(ENTITYFLAG_PICKABLE, false);
    hid::ResetInputLayer();
    InputManager input;
    ASSERT_TRUE(input.Init(1));
    input.InitDevices(1);
    Matrix view = Matrix::IDENTITY, projection;
    projection.LoadPerspectiveFovLH(90.0f, 1.0f, 0.1f, 1000.0f);
    input.SetCursorPosition(0.5f, 0.5f);
    auto pick = [&] {
        uint32_t pressed[InputManager::kPointerInputCount];
        gEntityManager->Pick(input.GetCursorPosition(), pressed, input.PressedPointerInputs(pressed), view, projection);
    };
    pick();
    EXPECT_TRUE(picks.empty());  // no pointer input active
    ASSERT_TRUE(input.PostMouseEvent(MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.5f));
    input.Update();
    pick();
    EXPECT_EQ(picks, (std::vector<std::pair<Entity*, uint32_t>>{{ahead, 0x10001}}));
    picks.clear();
    input.SetCursorPosition(0.5f + 30.0f / 100.0f, 0.5f);  // x = 30 at depth 50 under 90 degrees
    pick();
    EXPECT_EQ(picks, (std::vector<std::pair<Entity*, uint32_t>>{{aside, 0x10001}}));
    gEntityManager->FrameEntities().Clear();
    hid::ResetInputLayer();
}

struct NewSceneTest : rendertest::RendererFixture {};

TEST_F(NewSceneTest, ResetsTheSceneAndTellsTheRenderer) {
    ASSERT_TRUE(created);
    const BoundingBox4 world(Vector(-40, -5, -30, 1), Vector(40, 500, 30, 1));
    gEntityManager->Init(world, 10.0f);
    EntityTemplate t;
    t.SetName("tpl");
    Entity* e = gEntityManager->CreateEntityFromTemplate(&t, nullptr, Matrix::IDENTITY, 0, nullptr);
    gEntityManager->FinishEntityCreation(e);
    gEntityManager->GetLayerSystem()->HideLayerInGame("Default", true);
    gEntityManager->SetSceneFileName("scenes/one");
    EXPECT_EQ(gEntityManager->GetQueryBounds().max.y, 200.0f);
    gEntityManager->NewScene();
    gEntityManager->SetUniverseMinY(-12.0f);
    gVornexRenderer.FlushCommands(true);
    const RenderSceneGrid& grid = *gVornexRenderer.SceneGrid();
    EXPECT_EQ(grid.ColumnCount(), 8u);
    EXPECT_EQ(grid.RowCount(), 6u);
    EXPECT_EQ(grid.CellSize(), 10.0f);
    EXPECT_EQ(grid.Cell(2, 3).value, -12.0f);  // task 7's value in every cell
    EXPECT_EQ(gEntityManager->GetSpatialGrid().CellBox(0, 0).min.y, -12.0f);
    EXPECT_EQ(gEntityManager->GetCreationCount(), 0u);
    EXPECT_EQ(gEntityManager->GetSceneFileName(), nullptr);
    EXPECT_STREQ(gEntityManager->GetRootEntity()->GetName(), "SCENE ROOT");
    EXPECT_EQ(gEntityManager->GetRootEntity()->GetChildrenCount(), 0u);
    EXPECT_EQ(gEntityManager->FindEntityByName("tpl*1"), nullptr);
    EXPECT_EQ(t.GetInstanceCount(), 0u);
    EXPECT_TRUE(EntityLayerSystem::LayerById(1)->visibleInGame);
    EXPECT_TRUE(Logged("NewScene in "));
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
}

}  // namespace

namespace {

// The entity side of a rendering context, as the render thread applies it.
struct RecordingContext : EntityRenderingContext {
    using EntityRenderingContext::EntityRenderingContext;
    void Release() override {
        ++releases;
        EntityRenderingContext::Release();
    }
    static int releases;
};
int RecordingContext::releases = 0;

struct DrawnEntity : Entity {
    EntityRenderingContext* CreateRenderingContext() override {
        EntityRenderingContextSetup s;
        FillRenderingContextSetup(s, 1, 0);
        return new RecordingContext(s);
    }
};

TEST_F(NewSceneTest, RenderingContextFollowsTheEntity) {
    ASSERT_TRUE(created);
    gEntityManager->Init(BoundingBox4(Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)), 10.0f);
    struct DrawnTemplate : EntityTemplate {
        Entity* CreateEntity() override { return new DrawnEntity(); }
    } t;
    t.SetName("drawn");
    t.wireframeColor = HDRColor(10, 200, 30, 255, 1.0f);
    static std::vector<uint32_t> tasks;
    tasks.clear();
    gVornexRenderer.SetTaskObserver([](void*, uint32_t id) { tasks.push_back(id); }, nullptr);
    RecordingContext::releases = 0;

    Entity* e = gEntityManager->CreateEntityFromTemplate(&t, nullptr, Matrix::IDENTITY, 0, nullptr);
    auto* c = static_cast<RecordingContext*>(e->GetRenderingContext());
    ASSERT_NE(c, nullptr);
    e->SetLocalPosition3(5, 0, 0);
    e->SetLocalScale3(1, 1, -1);
    e->SetLayer(7);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(c->World(), e->GetGlobalLocationMatrix());
    EXPECT_EQ(c->Visibility(), 1);  // mirrored
    EXPECT_EQ(c->Layer(), 7);
    e->ResetLayerToDefault();
    EXPECT_EQ(e->GetLayer(), 1);
    EXPECT_EQ(c->Owner(), e);
    EXPECT_EQ(c->RandomSeed(), e->GetRandomId());
    EXPECT_EQ(c->Bucket(), 5u);
    const Vector colour = t.wireframeColor.ToLinearVector();
    EXPECT_EQ(c->Color().y, colour.y);

    // Hidden while either HIDDEN or DISABLE_UPDATE is raised.
    const struct {
        bool raise;
        uint32_t bit;
        bool hidden;
    } steps[] = {{true, ENTITYFLAG_HIDDEN, true}, {true, ENTITYFLAG_DISABLE_UPDATE, true},
                 {false, ENTITYFLAG_HIDDEN, true}, {false, ENTITYFLAG_DISABLE_UPDATE, false}};
    for (const auto& s : steps) {
        if (s.raise) e->RaiseFlag(s.bit, false);
        else e->ClearFlag(s.bit, false);
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(c->Hidden(), s.hidden) << s.raise << " " << s.bit;
    }

    tasks.clear();
    e->SubmitForRendering(0x20);
    e->DrawBoundingBox(e->GetLocalBoundingBox(), t.wireframeColor);
    EXPECT_EQ(tasks, (std::vector<uint32_t>{TASK_SUBMIT_RENDER_TASK, TASK_DEBUG_BOUNDING_BOX}));
    // Set markers: the one asked for, then one at each corner unless flag 0x800 is given.
    e->AddToSet("marked", true);
    EntitySet::DrawSetMarkers(e->EntitySets(), Vector(0, 0, 0, 1), 0);
    e->DrawBoundingCornerMarkers(0x800);
    e->DrawBoundingCornerMarkers(0);
    EXPECT_EQ(std::count(tasks.begin(), tasks.end(), TASK_DEBUG_BOUNDING_BOX), 10);

    e->RaiseFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
    EXPECT_EQ(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(RecordingContext::releases, 1);
    e->ClearFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
    EXPECT_NE(e->GetRenderingContext(), nullptr);
    gEntityManager->DestroyEntity(e);
    EXPECT_EQ(RecordingContext::releases, 2);
    gVornexRenderer.SetTaskObserver(nullptr, nullptr);
    gVornexRenderer.FlushCommands(true);
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
}

}  // namespace
