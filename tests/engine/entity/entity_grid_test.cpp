// test-sanitize: address
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "EntityTestSupport.h"
#include "engine/entity/EntitySpatialGrid.h"

namespace {

constexpr uint32_t kExcluded[2] = {0x80000 | ENTITYFLAG_DISABLE_UPDATE, 0x40000 | ENTITYFLAG_DISABLE_UPDATE};

// The cells a world box overlaps, computed from the cell boxes themselves.
std::set<std::pair<int, int>> Expected(const EntitySpatialGrid& g, const BoundingBox4& box) {
    std::set<std::pair<int, int>> cells;
    for (int z = 0; z < int(g.CountZ()); ++z)
        for (int x = 0; x < int(g.CountX()); ++x) {
            const BoundingBox4 c = g.CellBox(x, z);
            if (box.max.x >= c.min.x && box.min.x < c.max.x && box.max.z >= c.min.z && box.min.z < c.max.z)
                cells.insert({x, z});
        }
    return cells;
}

// Every live entity with a finite box.
std::vector<Entity*> AllLive() {
    std::vector<Entity*> live;
    for (Entity* x = Entity::FirstLive(); x; x = x->NextLive())
        if (std::isfinite(x->GetGlobalBoundingBox().min.x) && std::isfinite(x->GetGlobalBoundingBox().max.x))
            live.push_back(x);
    return live;
}

void CheckGrid(const std::vector<Entity*>& live = AllLive()) {
    const EntitySpatialGrid& g = gEntityManager->GetSpatialGrid();
    for (uint32_t list = 0; list < 2; ++list) {
        std::set<std::tuple<int, int, Entity*>> want, have;
        for (Entity* e : live) {
            if (e->GetFlags() & kExcluded[list]) continue;
            for (auto [x, z] : Expected(g, e->GetGlobalBoundingBox())) want.insert({x, z, e});
        }
        for (int z = 0; z < int(g.CountZ()); ++z)
            for (int x = 0; x < int(g.CountX()); ++x) {
                const EntityGridList& l = g.Cell(x, z)->lists[list];
                for (uint32_t i = 0; i < l.count; ++i) {
                    have.insert({x, z, l.entries[i].entity});
                    if (i) {
                        EXPECT_LT(l.entries[i - 1].key, l.entries[i].key) << "sorted by key";
                    }
                    EXPECT_EQ(l.entries[i].key, l.entries[i].entity->GetReusableId());
                }
            }
        EXPECT_EQ(want, have) << "list " << list;
    }
}

class GridTest : public EntityTest {};

TEST_F(GridTest, RegistrationFollowsMovesFlagsAndDestruction) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> pos(-120, 120), size(0.1f, 25);
    const uint32_t flagBits[] = {0x40000, 0x80000, ENTITYFLAG_DISABLE_UPDATE};
    std::vector<Entity*> live{Root()};
    for (int step = 0; step < 600; ++step) {
        const int action = int(rng() % 10);
        if (action < 2 || live.size() < 4) {
            Entity* parent = live[rng() % live.size()];
            Entity* e = Make(parent == Root() ? nullptr : parent);
            const float s = size(rng);
            e->SetLocalBoundingBox(BoundingBox4(Vector(-s, -1, -s, 1), Vector(s, 1, s * 0.5f, 1)));
            live.push_back(e);
        } else if (action < 6) {
            live[1 + rng() % (live.size() - 1)]->SetGlobalPosition3(pos(rng), 0, pos(rng));
        } else if (action < 8) {
            Entity* e = live[1 + rng() % (live.size() - 1)];
            const uint32_t bit = flagBits[rng() % 3];
            if (rng() % 2) e->RaiseFlag(bit, rng() % 2);
            else e->ClearFlag(bit, rng() % 2);
        } else if (action == 8) {
            Entity* e = live[1 + rng() % (live.size() - 1)];
            gEntityManager->DestroyEntity(e);
            live = AllLive();
        } else {
            live[1 + rng() % (live.size() - 1)]->SetLocalRotation3(0, float(rng() % 360), 0);
        }
        if (step % 50 == 49) CheckGrid(live);
    }
    CheckGrid(live);
}

TEST_F(GridTest, CrowdedCellKeepsItsListsSortedAsTheyGrowAndShrink) {
    // More entities than a cell list holds inside the cell, gathered into one cell and
    // scattered again in shuffled orders: each list passes between its inline entries and
    // a heap block both ways, with inserts and removals at the front, middle and back.
    std::mt19937 rng(5);
    std::vector<Entity*> crowd;
    for (int i = 0; i < 12; ++i) crowd.push_back(Make());
    const auto scatter = [&] {
        std::shuffle(crowd.begin(), crowd.end(), rng);
        for (size_t i = 0; i < crowd.size(); ++i) {
            crowd[i]->SetGlobalPosition3(-95.0f + 10.0f * float(i), 0, -85);
            CheckGrid();
        }
    };
    const EntityGridCell* cell = gEntityManager->GetSpatialGrid().Cell(15, 15);
    scatter();
    for (int round = 0; round < 3; ++round) {
        std::shuffle(crowd.begin(), crowd.end(), rng);
        for (size_t i = 0; i < crowd.size(); ++i) {
            crowd[i]->SetGlobalPosition3(55, 0, 55);
            CheckGrid();
            ASSERT_EQ(cell->lists[0].count, i + 1);
            ASSERT_EQ(cell->lists[1].count, i + 1);
        }
        if (round == 1) {
            // One list only: the other keeps its heap block meanwhile.
            for (Entity* e : crowd) e->RaiseFlag(0x40000, false);
            CheckGrid();
            EXPECT_EQ(cell->lists[1].count, 0u);
            for (Entity* e : crowd) e->ClearFlag(0x40000, false);
            CheckGrid();
        }
        scatter();
    }
    // A grid rebuilt while its lists hold heap blocks releases them (the address
    // sanitizer reports a leak otherwise).
    for (Entity* e : crowd) e->SetGlobalPosition3(55, 0, 55);
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
}

TEST_F(GridTest, BoxesNotFiniteRegisterNowhere) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        Vector min, max;
    } cases[] = {
        {{nan, 0, 0, 1}, {1, 1, 1, 1}},
        {{0, 0, 0, 1}, {inf, 1, 1, 1}},
        {{-inf, 0, -inf, 1}, {inf, 1, inf, 1}},
    };
    for (const auto& c : cases) {
        Entity* e = Make();
        e->SetLocalBoundingBox(BoundingBox4(c.min, c.max));
        EXPECT_TRUE(e->GetCellRange(0).IsEmpty() && e->GetCellRange(1).IsEmpty()) << c.min.x << " " << c.max.x;
    }
    Make()->SetLocalBoundingBox(BoundingBox4(Vector(-1, 0, -1, 1), Vector(1e20f, 1, 1e20f, 1)));  // finite: to the last cells
    CheckGrid();
}

TEST_F(GridTest, LocationHookMovingAnotherEntityLeavesBothTreesRight) {
    struct Mover : Entity {
        Entity* other = nullptr;
        void OnGlobalLocationChanged(BoundingBox4& box) override {
            if (other) other->SetGlobalPosition3(GetGlobalPosition().x + 30, 0, 0);
        }
    };
    static Mover* made = nullptr;
    struct MoverTemplate : EntityTemplate {
        Entity* CreateEntity() override { return made = new Mover(); }
    } moverTemplate;
    moverTemplate.SetName("mover");
    Entity* otherRoot = Make();
    Entity* otherChild = Make(otherRoot);
    otherChild->SetLocalPosition3(0, 0, 5);
    Make(nullptr, 0, &moverTemplate);
    Mover* mover = made;
    Entity* moverChild = Make(mover);
    moverChild->SetLocalPosition3(0, 0, -5);
    mover->other = otherRoot;
    mover->SetLocalPosition3(10, 0, 0);
    EXPECT_FLOAT_EQ(otherRoot->GetGlobalPosition().x, 40);
    EXPECT_FLOAT_EQ(otherChild->GetGlobalPosition().x, 40);
    EXPECT_FLOAT_EQ(moverChild->GetGlobalPosition().x, 10);
    CheckGrid();
    mover->other = nullptr;
    gEntityManager->DestroyEntity(mover);
}

TEST_F(GridTest, CellSizesGivingTooManyCellsAreEnlarged) {
    for (float size : {0.0f, 1e-6f, -5.0f, std::numeric_limits<float>::quiet_NaN()}) {
        log.Clear();
        gEntityManager->Init(BoundingBox4(Vector(-1000, 0, -1000, 1), Vector(1000, 10, 1000, 1)), size);
        const EntitySpatialGrid& g = gEntityManager->GetSpatialGrid();
        EXPECT_LE(uint64_t(g.CountX()) * g.CountZ(), EntitySpatialGrid::kMaxCells) << size;
        EXPECT_GE(uint64_t(g.CountX()) * g.CountZ(), EntitySpatialGrid::kMaxCells * 99 / 100) << size;
        EXPECT_TRUE(log.Contains("gives too many cells")) << size;
    }
    log.Clear();
    gEntityManager->Init(BoundingBox4(Vector(-1000, 0, -1000, 1), Vector(1000, 10, 1000, 1)), 40.0f);
    EXPECT_EQ(gEntityManager->GetSpatialGrid().CountX(), 50u);
    EXPECT_FALSE(log.Contains("gives too many cells"));
}

}  // namespace
