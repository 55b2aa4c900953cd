// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// The volume test of every mode and shape against a numpy reference, and a seeded soak of
// moving activators and triggers whose inside sets must equal a brute-force recomputation.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "TriggerTestSupport.h"
#include "engine/NumpyReference.h"

using namespace trigtest;

namespace {

std::string Words(const Matrix& m) {
    std::string s;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) s += " " + FloatBits(m.r[r][c]);
    return s;
}

std::string Words(const BoundingBox4& b) {
    std::string s;
    for (float v : {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z}) s += " " + FloatBits(v);
    return s;
}

}  // namespace

TEST_F(TriggerTest, VolumeTestMatchesTheReference) {
    std::mt19937 rng(4101);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), scale(0.4f, 3.0f), angle(0.0f, 360.0f),
        spread(-2.5f, 2.5f), size(0.05f, 1.5f), radius(0.0f, 2.5f);
    constexpr int kPerPair = 150;
    struct Case {
        TriggerEntity* trigger;
        Entity* entity;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    TriggerEntity::ClearPendingChecks();  // nothing is processed: only the volume test runs
    for (uint32_t mode = 0; mode < 4; ++mode) {
        for (uint32_t shape = 0; shape < 2; ++shape) {
            for (int i = 0; i < kPerPair; ++i) {
                TriggerEntity* t = MakeTrigger("T", Matrix::IDENTITY, shape, mode);
                t->SetGlobalLocationMatrix(Place(Vector(unit(rng), unit(rng), unit(rng), 1),
                                                 Vector(scale(rng), scale(rng), scale(rng), 0),
                                                 Vector(angle(rng), angle(rng), angle(rng), 1)));
                t->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                    Vector(size(rng), size(rng), size(rng), 1)));
                Entity* e = MakeActivator("E", Vector(0, 0, 0, 1));
                e->SetGlobalLocationMatrix(Place(Vector(spread(rng), spread(rng), spread(rng), 1),
                                                 Vector(scale(rng), scale(rng), scale(rng), 0) * 0.3f,
                                                 Vector(angle(rng), angle(rng), angle(rng), 1)));
                e->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                    Vector(size(rng), size(rng), size(rng), 1)));
                e->SetRadiusForTrigger(radius(rng));
                cases.push_back({t, e});
                input << mode << " " << shape << " " << FloatBits(e->GetRadiusForTrigger())
                      << Words(t->GetGlobalLocationMatrix()) << Words(t->GetLocalBoundingBox())
                      << Words(e->GetGlobalLocationMatrix()) << Words(e->GetLocalBoundingBox()) << "\n";
            }
        }
    }
    const std::vector<std::string> lines = RunNumpyReference("../scene/entities/trigger_reference.py", input.str());
    ASSERT_EQ(lines.size(), cases.size());
    int compared[8] = {}, insideCount[8] = {};
    for (size_t i = 0; i < cases.size(); ++i) {
        std::istringstream words(lines[i]);
        int expected = 0;
        double margin = 0;
        words >> expected >> margin;
        const int pair = int(i) / kPerPair;
        if (margin < 1e-3) continue;  // within rounding of the threshold
        ++compared[pair];
        insideCount[pair] += expected;
        EXPECT_EQ(TriggerEntity::IsInside(cases[i].trigger, cases[i].entity), expected == 1)
            << "mode " << pair / 2 << " shape " << pair % 2 << " case " << i;
    }
    for (int p = 0; p < 8; ++p) {
        // Both answers occur for every pair, so each branch is exercised.
        EXPECT_GT(compared[p], kPerPair * 9 / 10) << p;
        EXPECT_GT(insideCount[p], 5) << p;
        EXPECT_LT(insideCount[p], compared[p] - 5) << p;
    }
}

TEST_F(TriggerTest, SeededSoakKeepsInsideSetsExact) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> coord(-60.0f, 60.0f), step(-3.0f, 3.0f), scale(1.0f, 12.0f),
        angle(0.0f, 360.0f), chance(0.0f, 1.0f);
    std::vector<TriggerEntity*> triggers;
    for (int i = 0; i < 30; ++i) {
        const uint32_t shape = i % 2, mode = (i / 2) % 4;
        Entity* parent = (i % 5 == 4) ? triggers[i - 1] : nullptr;  // every fifth nested
        TriggerEntity* t = MakeTrigger(("T" + std::to_string(i)).c_str(), Matrix::IDENTITY, shape, mode, parent);
        t->SetGlobalLocationMatrix(Place(Vector(coord(rng), 0, coord(rng), 1),
                                         Vector(scale(rng), scale(rng), scale(rng), 0),
                                         Vector(0, angle(rng), 0, 1)));
        t->SetPositionMaxRange(mode == TRIGGER_MODE_POSITION_WITH_RADIUS ? 4.0f : 0.0f);
        triggers.push_back(t);
    }
    std::vector<Entity*> activators;
    for (int i = 0; i < 200; ++i) {
        Entity* a = MakeActivator(("A" + std::to_string(i)).c_str(), Vector(coord(rng), 0, coord(rng), 1));
        a->SetRadiusForTrigger(i % 3 == 0 ? 2.0f : 0.0f);
        activators.push_back(a);
    }
    // Enters minus exits per top trigger and entity.
    std::map<std::pair<std::string, std::string>, int> balance;
    for (TriggerEntity* t : triggers)
        RecorderOf(t)->then = [&, t](const char* what, Entity* e) {
            if (!e) return;
            balance[{t->GetName(), e->GetName()}] += std::string(what) == "enter" ? 1 : -1;
        };
    auto top = [](TriggerEntity* t) { return t->GetTopTrigger(); };
    for (int pass = 0; pass < 5000; ++pass) {
        for (int m = 0; m < 8; ++m) {
            Entity* a = activators[rng() % activators.size()];
            Vector p = a->GetGlobalPosition() + Vector(step(rng) * 3, 0, step(rng) * 3, 0);
            p.x = std::clamp(p.x, -90.0f, 90.0f), p.z = std::clamp(p.z, -90.0f, 90.0f);
            a->SetGlobalPosition(p);
        }
        if (pass % 10 == 0) {
            TriggerEntity* t = triggers[rng() % triggers.size()];
            Vector p = t->GetGlobalPosition() + Vector(step(rng), 0, step(rng), 0);
            t->SetGlobalPosition(p);
        }
        if (pass % 97 == 0) {
            TriggerEntity* t = triggers[rng() % triggers.size()];
            t->Activate(!t->IsActive());
        }
        Pass();
        if (pass % 50 != 0 && pass != 4999) continue;
        // Brute force: an entity is inside a top trigger when inside any active part of its
        // group; the count is the number of such parts.
        std::map<TriggerEntity*, std::map<Entity*, uint32_t>> expected;
        for (TriggerEntity* t : triggers) {
            if (!t->IsActive()) continue;
            for (Entity* a : activators)
                if (TriggerEntity::IsInside(t, a)) ++expected[top(t)][a];
        }
        for (TriggerEntity* t : triggers) {
            if (top(t) != t || !t->IsActive()) continue;
            // Parts that are inactive keep their records untested: skip such groups.
            bool allActive = true;
            for (TriggerEntity* part : triggers) allActive = allActive && (top(part) != t || part->IsActive());
            if (!allActive) continue;
            std::map<Entity*, uint32_t> got;
            for (uint32_t i = 0; i < t->GetEntitiesInsideCount(); ++i) got[t->GetEntityInside(i)] = t->GetInsideCount(t->GetEntityInside(i));
            ASSERT_EQ(got, expected[t]) << "pass " << pass << " trigger " << t->GetName();
            for (Entity* a : activators) {
                const int b = balance[{t->GetName(), a->GetName()}];
                ASSERT_EQ(b, got.count(a) ? 1 : 0) << "pass " << pass << " " << t->GetName() << " " << a->GetName();
            }
        }
    }
}
