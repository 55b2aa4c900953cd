// Line of sight against a brute-force test of every entity on random scenes of rotated,
// scaled boxes that block only on an inner core (so entry order and hit order differ):
// nearest blocker and hit point, unit normal, each entity tested at most once, the early
// stop, LOSFLAG_BINARY giving the first blocker in entry order, the ignored entities, a
// query nested inside an entity's test, zero-length segments and starts beside the grid.
// Segments may run out of the grid; only the part over it is looked at.
#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "EntityTestSupport.h"

namespace {

// Where segment a-b (as a share of its length) enters the box scaled by s about its
// centre, in the entity's local space; nullopt when it misses.
std::optional<double> Entry(Entity* e, const Vector& from, const Vector& to, double s, int* axisOut = nullptr) {
    Vector a = from, b = to;
    a.Transform3D(e->GetInversedGlobalLocationMatrix());
    b.Transform3D(e->GetInversedGlobalLocationMatrix());
    const BoundingBox4& box = e->GetLocalBoundingBox();
    double t0 = 0, t1 = 1;
    int axis = -1;
    for (int i = 0; i < 3; ++i) {
        const double c = (double(box.min[i]) + box.max[i]) / 2, h = (double(box.max[i]) - box.min[i]) / 2 * s;
        const double lo = c - h, hi = c + h, d = double(b[i]) - a[i];
        if (d == 0) {
            if (a[i] < lo || a[i] > hi) return std::nullopt;
            continue;
        }
        double n = (lo - a[i]) / d, f = (hi - a[i]) / d;
        if (n > f) std::swap(n, f);
        if (n > t0) t0 = n, axis = i;
        t1 = std::min(t1, f);
        if (t0 > t1) return std::nullopt;
    }
    if (axisOut) *axisOut = axis;
    return t0;
}

constexpr double kCore = 0.5;

struct Probe {
    int calls = 0;
    bool tooLate = false;  // tested although a nearer hit was already known
    std::function<void()> nested;
} gProbe;
double gBest = 2;  // the nearest hit handed out so far in the current query

class CoreEntity : public Entity {
public:
    int calls = 0;
    bool TestLineOfSight(const Vector& start, const Vector& end, uint32_t, uint32_t, float entry,
                         LOSResult* hit) override {
        ++calls;
        if (*Entry(this, start, end, 1.0) > gBest + 1e-4) gProbe.tooLate = true;
        if (gProbe.nested) std::exchange(gProbe.nested, nullptr)();
        int axis = -1;
        const auto t = Entry(this, start, end, kCore, &axis);
        if (!t) return true;
        gBest = std::min(gBest, *t);
        hit->Result = LOSRESULT_ENTITY;
        hit->Entity = this;
        hit->Point = start + (end - start) * float(*t);
        Vector n{0, 0, 0, 0};
        if (axis < 0) {
            n = start - end;
        } else {
            Vector a = start;
            a.Transform3D(GetInversedGlobalLocationMatrix());
            n[axis] = a[axis] < GetLocalBoundingBox().min[axis] ? -3.0f : 3.0f;
            n.Transform3DNormal(GetGlobalLocationMatrix());
        }
        hit->Normal = n;
        return false;
    }
};

struct CoreTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new CoreEntity(); }
};

class LineOfSightTest : public EntityTest {
protected:
    std::vector<CoreEntity*> Scene(std::mt19937& rng, int count) {
        std::uniform_real_distribution<float> pos(-95, 95), size(0.3f, 12), up(-4, 4);
        std::vector<CoreEntity*> all;
        for (int i = 0; i < count; ++i) {
            auto* e = static_cast<CoreEntity*>(
                gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr));
            e->SetLocalBoundingBox(BoundingBox4(Vector(-size(rng), -size(rng), -size(rng), 1),
                                                Vector(size(rng), size(rng), size(rng), 1)));
            e->SetLocalRotation3(0, float(rng() % 360), float(rng() % 40));
            e->SetLocalScale3(size(rng) / 6 + 0.5f, 1, size(rng) / 6 + 0.5f);
            e->SetGlobalPosition3(pos(rng), up(rng), pos(rng));
            all.push_back(e);
        }
        return all;
    }
    // The brute-force answer: the nearest core hit or, with binary, the blocker whose box
    // the segment enters first.
    static CoreEntity* Oracle(const std::vector<CoreEntity*>& all, const Vector& a, const Vector& b, bool binary,
                              Entity* skip1, Entity* skip2, double* at, bool* ambiguous) {
        CoreEntity* best = nullptr;
        double key = 2, second = 2;
        for (CoreEntity* e : all) {
            if (e == skip1 || e == skip2) continue;
            const auto t = Entry(e, a, b, kCore);
            if (!t) continue;
            // The grid covers the world: what lies beyond it is not looked at.
            const Vector p = a + (b - a) * float(*t);
            if (std::fabs(p.x) >= 100 || std::fabs(p.z) >= 100) continue;
            const double k = binary ? *Entry(e, a, b, 1.0) : *t;
            if (k < key) {
                second = key, key = k, best = e, *at = *t;
            } else {
                second = std::min(second, k);
            }
        }
        *ambiguous = second - key < 1e-4;
        return best;
    }

    CoreTemplate tpl;
};

TEST_F(LineOfSightTest, AgreesWithBruteForceOnRandomScenes) {
    std::mt19937 rng(2146);
    std::uniform_real_distribution<float> inside(-99, 99), anywhere(-140, 140), up(-6, 6);
    int blockedQueries = 0, nestedChecks = 0;
    for (int scene = 0; scene < 6; ++scene) {
        const auto all = Scene(rng, 40 + scene * 30);
        for (int q = 0; q < 300; ++q) {
            const Vector a(inside(rng), up(rng), inside(rng), 1);
            const Vector b = q % 3 ? Vector(anywhere(rng), up(rng), anywhere(rng), 1)
                                   : a + Vector(inside(rng) / 8, up(rng), inside(rng) / 8, 0);
            const uint32_t flags = q % 4 == 1 ? LOSFLAG_BINARY | LOSFLAG_EXACT : LOSFLAG_EXACT;
            Entity* skip1 = q % 5 == 2 ? all[rng() % all.size()] : nullptr;
            Entity* skip2 = q % 7 == 3 ? all[rng() % all.size()] : nullptr;
            double at = 0;
            bool ambiguous = false;
            CoreEntity* want = Oracle(all, a, b, flags & LOSFLAG_BINARY, skip1, skip2, &at, &ambiguous);

            // Now and then an entity's test runs a query of its own while the outer one
            // holds the shared candidate buffer.
            std::optional<bool> nestedOk;
            if (q % 10 == 0) {
                gProbe.nested = [&] {
                    const double outerBest = gBest;
                    const Vector c(inside(rng), 0, inside(rng), 1), d(inside(rng), 0, inside(rng), 1);
                    double t = 0;
                    bool amb = false;
                    CoreEntity* expect = Oracle(all, c, d, false, nullptr, nullptr, &t, &amb);
                    std::vector<int> saved;
                    for (CoreEntity* e : all) saved.push_back(e->calls);
                    gBest = 2;
                    LOSResult r;
                    const bool clear = gEntityManager->LOS(c, d, 0, &r, 0, nullptr, nullptr);
                    nestedOk = amb || (clear == !expect && r.Entity == expect);
                    for (size_t i = 0; i < all.size(); ++i) all[i]->calls = saved[i];
                    gBest = outerBest;
                };
            }
            for (CoreEntity* e : all) e->calls = 0;
            gBest = 2;
            gProbe.tooLate = false;
            LOSResult r;
            const bool clear = gEntityManager->LOS(a, b, flags, &r, 0, skip1, skip2);
            gProbe.nested = nullptr;

            SCOPED_TRACE(testing::Message() << "scene " << scene << " query " << q);
            for (CoreEntity* e : all) ASSERT_LE(e->calls, 1);
            if (!(flags & LOSFLAG_BINARY)) {
                EXPECT_FALSE(gProbe.tooLate) << "no early stop";
            }
            if (nestedOk) {
                EXPECT_TRUE(*nestedOk);
                ++nestedChecks;
            }
            if (ambiguous) continue;
            ASSERT_EQ(clear, want == nullptr);
            EXPECT_EQ(r.Entity, want);
            if (!want) {
                EXPECT_EQ(r.Result, LOSRESULT_NONE);
                continue;
            }
            ++blockedQueries;
            EXPECT_EQ(r.Result, LOSRESULT_ENTITY);
            EXPECT_NE(r.Entity, skip1);
            EXPECT_NE(r.Entity, skip2);
            const Vector expectPoint = a + (b - a) * float(at);
            EXPECT_LT(std::sqrt(r.Point.DistanceSquaredXYZ(expectPoint)), 1e-3f);
            EXPECT_NEAR(r.Normal.Length3(), 1.0f, 1e-5f);
            EXPECT_EQ(r.Normal.w, 0.0f);
        }
        for (CoreEntity* e : all) gEntityManager->DestroyEntity(e);
    }
    EXPECT_GT(blockedQueries, 300);
    EXPECT_GT(nestedChecks, 100);
    EXPECT_FALSE(log.Contains("Internal LOS error"));
    EXPECT_FALSE(log.Contains("within the scene bounds"));
}

TEST_F(LineOfSightTest, DegenerateSegmentsAnswerClear) {
    std::mt19937 rng(1);
    const auto all = Scene(rng, 1);
    all[0]->SetLocalBoundingBox(BoundingBox4(Vector(-2, -2, -2, 1), Vector(2, 2, 2, 1)));
    all[0]->SetGlobalPosition3(0, 0, 0);
    const Vector centre(0, 0, 0, 1);
    LOSResult r;
    // A point inside a box, and a start beside the grid aimed through the box.
    EXPECT_TRUE(gEntityManager->LOS(centre, centre, 0, &r, 0, nullptr, nullptr));
    EXPECT_EQ(all[0]->calls, 0);
    EXPECT_FALSE(log.Contains("within the scene bounds"));
    EXPECT_TRUE(gEntityManager->LOS(Vector(-150, 0, 0, 1), Vector(50, 0, 0, 1), 0, &r, 0, nullptr, nullptr));
    EXPECT_EQ(r.Result, LOSRESULT_NONE);
    EXPECT_TRUE(log.Contains("LOS check must begin in a point within the scene bounds"));
    // The same segment from inside the grid is blocked.
    EXPECT_FALSE(gEntityManager->LOS(Vector(-90, 0, 0, 1), Vector(50, 0, 0, 1), 0, &r, 0, nullptr, nullptr));
    EXPECT_EQ(r.Entity, all[0]);
}

}  // namespace
