// Searches by place against brute force over every entity.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <random>
#include <set>
#include <vector>

#include "EntityTestSupport.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/SpatialQueries.h"

namespace {

class SpatialQueriesTest : public EntityTest {
protected:
    std::vector<Entity*> Scene(std::mt19937& rng, int count) {
        std::uniform_real_distribution<float> pos(-99, 99), up(-10, 10), size(0.2f, 8);
        EntityTemplate* types[2] = {Template(0, "thing"), Template(2, "flag")};
        std::vector<Entity*> all;
        for (int i = 0; i < count; ++i) {
            Entity* e = Make(nullptr, 0, types[rng() % 2]);
            e->SetGroup(1u << (rng() % 4));
            e->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -1, -size(rng), 1), Vector(size(rng), 1, size(rng), 1)));
            e->SetLocalRotation3(0, float(rng() % 360), 0);
            e->SetGlobalPosition3(pos(rng), up(rng), pos(rng));
            all.push_back(e);
        }
        return all;
    }
    static std::set<Entity*> Got(const NearEntitiesGatherer& g) {
        std::set<Entity*> s;
        for (uint32_t i = 0; i < g.GetEntitiesNumber(); ++i) EXPECT_TRUE(s.insert(g.GetEntity(i)).second);
        EXPECT_EQ(g.GetEntity(g.GetEntitiesNumber()), nullptr);
        return s;
    }
};

float Horizontal(const Vector& a, const Vector& b) { return std::hypot(a.x - b.x, a.z - b.z); }

TEST_F(SpatialQueriesTest, GatherersAndNearestFlagAgreeWithBruteForce) {
    std::mt19937 rng(2148);
    std::uniform_real_distribution<float> pos(-99, 99), up(-10, 10), radius(0, 40), unit(-1, 1);
    const auto all = Scene(rng, 300);
    NearEntitiesGatherer g;
    for (int q = 0; q < 200; ++q) {
        SCOPED_TRACE(q);
        const uint32_t mask = rng() % 16;
        const Vector p(pos(rng), up(rng), pos(rng), 1);
        const float r = radius(rng);
        auto brute = [&](auto keep) {
            std::set<Entity*> s;
            for (Entity* e : all)
                if (e->IsInGroups(mask) && keep(e)) s.insert(e);
            return s;
        };
        g.Init(mask, p, r);
        EXPECT_EQ(Got(g), brute([&](Entity* e) { return Horizontal(e->GetGlobalPosition(), p) <= r; }));
        g.InitWithEntitiesWhoesOBBIsWithinRange(mask, p, r);
        EXPECT_EQ(Got(g), brute([&](Entity* e) {
            OBBox4 box;
            box.Transform3D(e->GetLocalBoundingBox(), e->GetGlobalLocationMatrix());
            return Horizontal(box.GetClosestPoint(p), p) <= r;
        }));
        const BoundingBox4 local(Vector(-r, -5, -r * 0.5f, 1), Vector(r * 0.7f, 5, r, 1));
        g.Init(mask, p, local);
        EXPECT_EQ(Got(g), brute([&](Entity* e) {
            const Vector d = e->GetGlobalPosition() - p;
            return d.x >= local.min.x && d.x <= local.max.x && d.y >= -5 && d.y <= 5 && d.z >= local.min.z &&
                   d.z <= local.max.z;
        }));
        Matrix m = Matrix::IDENTITY;
        m.LoadComplexTransformation(p, Vector(0, float(rng() % 360), 0, 0), Vector(1, 1, 1, 0));
        OBBox4 obb;
        obb.Transform3D(local, m);
        g.Init(mask, obb);
        EXPECT_EQ(Got(g), brute([&](Entity* e) { return obb.Inside3D(e->GetGlobalPosition()); }));

        // The nearest flag, in a cone or any direction.
        Vector dir(unit(rng), unit(rng), unit(rng), 0);
        const float minCos = q % 2 ? unit(rng) : -FLT_MAX;
        Entity* excluded = all[rng() % all.size()];
        Entity* want = nullptr;
        float best = r * r;
        for (Entity* e : all) {
            const Vector d = e->GetGlobalPosition() - p;
            const float d2 = d.Length3Squared();
            if (e == excluded || e->GetTemplate()->typeId != 2 || d2 <= 0.0001f) continue;
            if (d.Dot3(dir) / std::sqrt(d2) >= minCos && d2 < best) best = d2, want = e;
        }
        EXPECT_EQ(gEntityManager->GetNearestFlag(p, r, excluded, dir, minCos), want);
    }
}

TEST_F(SpatialQueriesTest, BoundaryDistances) {
    Entity* flag = Make(nullptr, 0, Template(2, "flag"));
    flag->SetGroup(1);
    flag->SetGlobalPosition3(3, 0, 4);
    const Vector origin(0, 0, 0, 1);
    EXPECT_EQ(gEntityManager->GetNearestFlag(origin, 5.0f, nullptr), nullptr) << "at exactly the maximum";
    EXPECT_EQ(gEntityManager->GetNearestFlag(origin, 5.01f, nullptr), flag);
    EXPECT_EQ(gEntityManager->GetNearestFlag(origin, 5.01f, flag), nullptr);
    EXPECT_EQ(gEntityManager->GetNearestFlag(Vector(3, 0, 4.005f, 1), 5.0f, nullptr), nullptr) << "at the position";
    NearEntitiesGatherer g;
    g.Init(1, origin, 5.0f);
    EXPECT_EQ(g.GetEntitiesNumber(), 1u) << "radius is inclusive";
    g.Init(2, origin, 5.0f);
    EXPECT_EQ(g.GetEntitiesNumber(), 0u) << "group mask";
}

TEST_F(SpatialQueriesTest, SetIterationAndMembership) {
    std::mt19937 rng(127);
    std::vector<Entity*> all;
    for (int i = 0; i < 30; ++i) all.push_back(Make());
    const char* names[] = {"red", "green", "blue", "gold"};
    std::map<std::string, std::set<Entity*>> members;
    for (int i = 0; i < 80; ++i) {
        Entity* e = all[rng() % all.size()];
        const char* name = names[rng() % 4];
        if (rng() % 4) {
            e->AddToSet(name, true);
            members[name].insert(e);
        } else {
            e->RemoveFromSet(name);
            members[name].erase(e);
        }
    }
    all[0]->AddToSet("missing", false);
    EXPECT_EQ(gEntityManager->FindEntitySetByName("missing"), nullptr);
    gEntityManager->DestroyEntity(all.back());
    all.pop_back();

    auto drain = [](EntitySetIterator& it) {
        std::multiset<Entity*> got;
        while (Entity* e = it.GetNext()) got.insert(e);
        return got;
    };
    EntitySetIterator it;
    for (const char* name : names) {
        it.Init(name);
        std::multiset<Entity*> want;
        for (Entity* e : members[name])
            if (std::find(all.begin(), all.end(), e) != all.end()) want.insert(e);
        EXPECT_EQ(drain(it), want) << name;
    }
    it.Init("missing");
    EXPECT_EQ(it.GetNext(), nullptr);
    for (Entity* e : all) {
        std::multiset<Entity*> want;
        std::set<std::string> sets;
        for (auto& [name, m] : members)
            if (m.count(e)) {
                sets.insert(name);
                for (Entity* o : m)
                    if (o != e && !want.count(o) && std::find(all.begin(), all.end(), o) != all.end()) want.insert(o);
            }
        it.Init(e);
        EXPECT_EQ(drain(it), want);
        ASSERT_EQ(e->GetSetsCount(), sets.size());
        std::set<std::string> named;
        for (uint32_t i = 0; i < e->GetSetsCount(); ++i) named.insert(e->GetSetName(i));
        EXPECT_EQ(named, sets);
        EXPECT_EQ(e->GetSetName(e->GetSetsCount()), nullptr);
        const Dynarray<EntitySet*>& list = e->EntitySets();  // sorted by set GUID
        for (uint32_t i = 1; i < list.Count(); ++i)
            EXPECT_LT(SimpleGUID::Compare(list[i - 1]->GetGUID(), list[i]->GetGUID()), 0);
    }
    // Making a set first drops the sets left empty.
    for (Entity* e : all) e->RemoveFromSet("red");
    ASSERT_NE(gEntityManager->FindEntitySetByName("red"), nullptr);
    all[0]->AddToSet("fresh", true);
    EXPECT_EQ(gEntityManager->FindEntitySetByName("red"), nullptr);
    EXPECT_NE(gEntityManager->FindEntitySetByName("FRESH"), nullptr);
}

TEST_F(SpatialQueriesTest, VicinityMonitorOverMovingDestroyedAndNewEntities) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-60, 60);
    auto spawn = [&] {
        Entity* e = Make();
        e->SetGroup(1u << (rng() % 2));
        e->SetLocalBoundingBox(BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)));
        e->SetGlobalPosition3(pos(rng), 0, pos(rng));
        return e;
    };
    std::vector<Entity*> all;
    for (int i = 0; i < 120; ++i) all.push_back(spawn());
    EntitiesVicinityMonitor monitor;
    monitor.Init(1);
    const Vector centres[] = {Vector(-20, 0, 0, 1), Vector(5, 5, 10, 1)};
    all[0]->SetGroup(1);
    all[0]->SetGlobalPosition3(-2, 0, 0);  // exactly at the first radius
    const float radii[] = {18, 12};
    for (int i = 0; i < 2; ++i) monitor.AddTestPosition(centres[i], radii[i]);
    std::set<Entity*> wasNear;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        for (int k = 0; k < 15 * !!round; ++k) all[rng() % all.size()]->SetGlobalPosition3(pos(rng), 0, pos(rng));
        // Destroy a few and make new ones, which take the freed keys.
        for (int k = 0; k < 3 * !!round; ++k) {
            const size_t i = rng() % all.size();
            wasNear.erase(all[i]);
            gEntityManager->DestroyEntity(all[i]);
            all[i] = spawn();
        }
        monitor.CalculateEntitiesVicinityChange();
        std::set<Entity*> isNear, toNear, toFar, gotNear, gotFar;
        for (Entity* e : all) {
            const Vector p = e->GetGlobalPosition();
            for (int i = 0; i < 2; ++i)
                if ((e->GetGroup() & 1) && Horizontal(p, centres[i]) <= radii[i]) isNear.insert(e);
        }
        for (Entity* e : isNear)
            if (!wasNear.count(e)) toNear.insert(e);
        for (Entity* e : wasNear)
            if (!isNear.count(e)) toFar.insert(e);
        for (uint32_t i = 0; i < monitor.GetEntitiesChangedToNearNumber(); ++i)
            EXPECT_TRUE(gotNear.insert(monitor.GetEntityChangedToNear(i)).second);
        for (uint32_t i = 0; i < monitor.GetEntitiesChangedToFarNumber(); ++i)
            EXPECT_TRUE(gotFar.insert(monitor.GetEntityChangedToFar(i)).second);
        if (!round) {
            EXPECT_TRUE(gotNear.count(all[0]));
        }
        EXPECT_EQ(gotNear, toNear);
        EXPECT_EQ(gotFar, toFar);
        wasNear = isNear;
    }
    monitor.Reset();
    monitor.CalculateEntitiesVicinityChange();
    EXPECT_EQ(monitor.GetEntitiesChangedToNearNumber(), 0u);
    EXPECT_EQ(monitor.GetEntitiesChangedToFarNumber(), 0u);
}

}  // namespace
