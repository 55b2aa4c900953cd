// test-sources: ../NumpyReference.cpp
// Boxes block only on an inner core, so entry order and hit order differ.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include "EntityTestSupport.h"
#include "engine/NumpyReference.h"

namespace {

std::vector<int>* gTested = nullptr;  // the entities the running query has tested
std::function<void()> gNested;        // run from inside the next entity test

// Blocks on its core, the local box halved about its centre, facing the segment's start
// with a normal that is not of unit length.
class CoreEntity : public Entity {
public:
    int index = 0;
    bool TestLineOfSight(const Vector& start, const Vector& end, uint32_t, uint32_t, float, LOSResult* hit) override {
        if (gTested) gTested->push_back(index);
        if (gNested) std::exchange(gNested, nullptr)();
        const Vector c = GetLocalBoundingBox().GetCenter(), h = GetLocalBoundingBox().GetExtent() * 0.5f;
        Vector a = start, b = end, p;
        a.Transform3D(GetInversedGlobalLocationMatrix());
        b.Transform3D(GetInversedGlobalLocationMatrix());
        if (!BoundingBox4(c - h, c + h).CollidesWithSegment3D(a, b, &p)) return true;
        p.Transform3D(GetGlobalLocationMatrix());
        *hit = {LOSRESULT_ENTITY, this, p, (start - end) * 3.0f};
        return false;
    }
};

struct CoreTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new CoreEntity(); }
};

struct Query {
    Vector a, b;
    uint32_t flags;
    int skip1, skip2;
    bool nested;  // run from inside the previous query
};

class LineOfSightTest : public EntityTest {
protected:
    // Random entities, described for the reference.
    std::vector<CoreEntity*> Scene(std::mt19937& rng, int count, std::string* input = nullptr) {
        std::uniform_real_distribution<float> pos(-95, 95), size(0.3f, 12), up(-4, 4);
        std::vector<CoreEntity*> all;
        for (int i = 0; i < count; ++i) {
            auto* e = static_cast<CoreEntity*>(
                gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr));
            e->index = i;
            e->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                Vector(size(rng), size(rng), size(rng), 1)));
            e->SetLocalRotation3(0, float(rng() % 360), float(rng() % 40));
            e->SetLocalScale3(size(rng) / 6 + 0.5f, 1, size(rng) / 6 + 0.5f);
            e->SetGlobalPosition3(pos(rng), up(rng), pos(rng));
            all.push_back(e);
            if (!input) continue;
            *input += "E";
            for (const Vector& r : e->GetGlobalLocationMatrix().r) *input += Words({r.x, r.y, r.z, r.w});
            const BoundingBox4& box = e->GetLocalBoundingBox();
            *input += Words({box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z}) + "\n";
        }
        return all;
    }
    static std::string Words(std::initializer_list<float> values) {
        std::string s;
        for (float v : values) s += " " + FloatBits(v);
        return s;
    }

    // Runs a query (and, from inside it, `nested`) and checks it against the reference's answer.
    void Check(const std::vector<CoreEntity*>& all, const Query& k, const std::string& answer,
               std::function<void()> nested = nullptr) {
        std::istringstream s(answer);
        int want = -1, ambiguous = 0;
        float at = 0;
        s >> want >> at >> ambiguous;
        std::vector<int> tested;
        std::vector<int>* outer = std::exchange(gTested, &tested);
        gNested = std::move(nested);
        LOSResult r;
        const bool clear = gEntityManager->LOS(k.a, k.b, k.flags, &r, 0, k.skip1 < 0 ? nullptr : all[k.skip1],
                                               k.skip2 < 0 ? nullptr : all[k.skip2]);
        gNested = nullptr;
        gTested = outer;
        std::sort(tested.begin(), tested.end());
        EXPECT_EQ(std::adjacent_find(tested.begin(), tested.end()), tested.end()) << "an entity tested twice";
        for (int late; s >> late;) EXPECT_FALSE(std::binary_search(tested.begin(), tested.end(), late)) << "no early stop";
        if (ambiguous) return;
        Entity* expect = want < 0 ? nullptr : all[want];
        ASSERT_EQ(clear, expect == nullptr);
        EXPECT_EQ(r.Entity, expect);
        if (!expect) {
            EXPECT_EQ(r.Result, LOSRESULT_NONE);
            return;
        }
        EXPECT_EQ(r.Result, LOSRESULT_ENTITY);
        EXPECT_LT(std::sqrt(r.Point.DistanceSquaredXYZ(k.a + (k.b - k.a) * at)), 1e-3f);
        EXPECT_NEAR(r.Normal.Length3(), 1.0f, 1e-5f);
        EXPECT_EQ(r.Normal.w, 0.0f);
    }

    CoreTemplate tpl;
};

TEST_F(LineOfSightTest, AgreesWithBruteForceOnRandomScenes) {
    std::mt19937 rng(2146);
    std::uniform_real_distribution<float> inside(-99, 99), anywhere(-140, 140), up(-6, 6);
    for (int scene = 0; scene < 6; ++scene) {
        std::string input;
        const auto all = Scene(rng, 40 + scene * 30, &input);
        std::vector<Query> queries;
        for (int q = 0; q < 300; ++q) {
            const Vector a(inside(rng), up(rng), inside(rng), 1);
            const Vector b = q % 3 ? Vector(anywhere(rng), up(rng), anywhere(rng), 1)
                                   : a + Vector(inside(rng) / 8, up(rng), inside(rng) / 8, 0);
            const int n = int(all.size());
            queries.push_back({a, b, q % 4 == 1 ? LOSFLAG_BINARY | LOSFLAG_EXACT : LOSFLAG_EXACT,
                               q % 5 == 2 ? int(rng() % n) : -1, q % 7 == 3 ? int(rng() % n) : -1, false});
            // Now and then an entity's test runs a query of its own while the outer one
            // holds the shared candidate buffer.
            if (q % 10 == 0)
                queries.push_back({Vector(inside(rng), 0, inside(rng), 1), Vector(inside(rng), 0, inside(rng), 1), 0,
                                   -1, -1, true});
        }
        for (const Query& k : queries)
            input += "Q " + std::to_string(k.flags & LOSFLAG_BINARY) + " " + std::to_string(k.skip1) + " " +
                     std::to_string(k.skip2) + Words({k.a.x, k.a.y, k.a.z, k.b.x, k.b.y, k.b.z}) + "\n";
        const std::vector<std::string> answers = RunNumpyReference("entity/line_of_sight_reference.py", input);
        ASSERT_EQ(answers.size(), queries.size());
        for (size_t i = 0; i < queries.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "scene " << scene << " query " << i);
            if (queries[i].nested) continue;
            std::function<void()> nested;
            if (i + 1 < queries.size() && queries[i + 1].nested)
                nested = [&, i] { Check(all, queries[i + 1], answers[i + 1]); };
            Check(all, queries[i], answers[i], nested);
        }
        for (CoreEntity* e : all) gEntityManager->DestroyEntity(e);
    }
    EXPECT_FALSE(log.Contains("Internal LOS error"));
    EXPECT_FALSE(log.Contains("within the scene bounds"));
}

TEST_F(LineOfSightTest, DegenerateSegmentsAnswerClear) {
    std::mt19937 rng(1);
    const auto all = Scene(rng, 1);
    all[0]->SetLocalBoundingBox(BoundingBox4(Vector(-2, -2, -2, 1), Vector(2, 2, 2, 1)));
    all[0]->SetGlobalPosition3(0, 0, 0);
    const Vector centre(0, 0, 0, 1);
    std::vector<int> tested;
    gTested = &tested;
    LOSResult r;
    // A point inside a box, and a start beside the grid aimed through the box.
    EXPECT_TRUE(gEntityManager->LOS(centre, centre, 0, &r, 0, nullptr, nullptr));
    EXPECT_TRUE(tested.empty());
    EXPECT_FALSE(log.Contains("within the scene bounds"));
    EXPECT_TRUE(gEntityManager->LOS(Vector(-150, 0, 0, 1), Vector(50, 0, 0, 1), 0, &r, 0, nullptr, nullptr));
    EXPECT_EQ(r.Result, LOSRESULT_NONE);
    EXPECT_TRUE(log.Contains("LOS check must begin in a point within the scene bounds"));
    gTested = nullptr;
}

}  // namespace
