// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Path flags against the float64 reference (tests/scene/entities/path_reference.py): the
// measured length, placement by arc length, the nearest-point query, the outer points
// through neighbouring flags, the reversed copy of a connection, placement through a
// transformed parent, degenerate connections and the script-facing indices.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "render/RenderTestSupport.h"
#include "scene/entities/FlagEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

std::string Words3(const Vector& v) {
    return " " + FloatBits(v.x) + " " + FloatBits(v.y) + " " + FloatBits(v.z);
}

std::string PathWords(const FlagEntityConnection& c) {
    std::string s = " " + std::to_string(c.PointCount());
    for (uint32_t i = 0; i < c.PointCount(); ++i) s += Words3(c.PointAt(i)) + " " + FloatBits(c.controlPoints[i].distance);
    return s;
}

bool FiniteMatrix(const Matrix& m) {
    for (const Vector& r : m.r)
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(r[i])) return false;
    return true;
}

Vector Forward(const Matrix& m) { return m.r[2]; }

struct FlagTest : sceneframe::SceneEntityFixture<RendererFixture> {
    FlagTest() { sceneBox = BoundingBox4(Vector(-80, -5, -80, 1), Vector(80, 50, 80, 1)); }
    void SetUp() override {
        SceneEntityFixture::SetUp();
        flagTemplate.SetName("flag");
    }
    FlagEntity* Flag(const Vector& p, Entity* parent = nullptr) {
        Matrix m;
        m.LoadTranslation(p.x, p.y, p.z);
        auto* f = dynamic_cast<FlagEntity*>(
            gEntityManager->CreateEntityFromTemplate(&flagTemplate, parent, m, 0, nullptr));
        EXPECT_NE(f, nullptr);
        return f;
    }
    // A connection from a to b through the points, measured.
    FlagEntityConnection& Connect(FlagEntity* a, FlagEntity* b, std::vector<Vector3> points = {}) {
        a->AddConnection(b);
        FlagEntityConnection* c = a->FindConnection(b);
        c->controlPoints.Clear();
        for (const Vector3& p : points) {
            FlagEntityConnectionControlPoint cp;
            cp.position = p;
            c->controlPoints.Add(cp);
        }
        a->RecomputeConnections();
        return *c;
    }
    FlagTemplate flagTemplate;
};

TEST_F(FlagTest, StraightConnection) {
    FlagEntity* s = Flag(Vector(1, 0, 2, 1));
    FlagEntity* d = Flag(Vector(4, 0, 6, 1));
    FlagEntityConnection& c = Connect(s, d);
    EXPECT_FLOAT_EQ(c.length, 5.0f);
    const struct {
        float distance;
        bool wrap;
        Vector at;
    } cases[] = {
        {0, false, Vector(1, 0, 2, 1)},   {2.5f, false, Vector(2.5f, 0, 4, 1)}, {6, true, Vector(1.6f, 0, 2.8f, 1)},
        {6, false, Vector(4, 0, 6, 1)},   {-3, false, Vector(1, 0, 2, 1)},       {-3, true, Vector(1, 0, 2, 1)},
    };
    for (const auto& k : cases) {
        Matrix m;
        s->GetGlobalPositionOnPath(d, k.distance, m, k.wrap, nullptr);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(m.r[3][i], k.at[i], 1e-5f) << k.distance << " " << k.wrap;
        EXPECT_NEAR(Forward(m).x, 0.6f, 1e-5f);
        EXPECT_NEAR(Forward(m).z, 0.8f, 1e-5f);
    }
    EXPECT_EQ(s->GetPathPositionNearestToGlobalPoint(d, Vector(3, 0, 4, 1), nullptr), 0.0f);
    EXPECT_EQ(s->GetPathPositionNearestToGlobalPoint(0u, Vector(3, 0, 4, 1), nullptr), 0.0f);
}

TEST_F(FlagTest, CurvedConnectionAgainstReference) {
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> coord(-10.0f, 10.0f);
    std::ostringstream input;
    struct Case {
        FlagEntity *s, *d, *previous;
        uint32_t lengthLine, firstPlace, places, firstNearest, nearests;
    };
    std::vector<Case> cases;
    uint32_t line = 0;
    std::vector<std::vector<float>> distances;
    std::vector<Vector> queries;
    for (int n = 0; n < 6; ++n) {
        FlagEntity* previous = Flag(Vector(coord(rng), 0, coord(rng), 1));
        FlagEntity* s = Flag(Vector(coord(rng), 0, coord(rng), 1));
        FlagEntity* d = Flag(Vector(coord(rng), coord(rng) * 0.2f, coord(rng), 1));
        FlagEntity* next = Flag(Vector(coord(rng), 0, coord(rng), 1));
        std::vector<Vector3> points;
        for (int i = 0; i < n; ++i) points.push_back(Vector3(coord(rng), coord(rng) * 0.3f, coord(rng)));
        Connect(previous, s, {Vector3(coord(rng), 0, coord(rng))});
        const FlagEntityConnection& c = Connect(s, d, points);
        Connect(d, next);
        Case k{s, d, previous, line++, 0, 0, 0, 0};
        input << "length" << Words3(s->GetLocalPosition()) << Words3(d->GetLocalPosition()) << " " << n;
        for (const Vector3& p : points) input << " " << FloatBits(p.x) << " " << FloatBits(p.y) << " " << FloatBits(p.z);
        input << "\n";
        const std::string outer = Words3(s->OuterBefore(previous)) + Words3(s->GetLocalPosition()) +
                                  Words3(d->GetLocalPosition()) + Words3(s->OuterAfter(d));
        // Random distances, every control point's own distance and the wrap past the end.
        std::vector<std::pair<float, bool>> at;
        for (int i = 0; i < 12; ++i) at.push_back({std::uniform_real_distribution<float>(0, c.length)(rng), false});
        for (uint32_t i = 0; i < c.PointCount(); ++i) at.push_back({c.controlPoints[i].distance, false});
        at.push_back({c.length + 1.0f, true});
        k.firstPlace = line;
        distances.emplace_back();
        for (auto [dist, wrap] : at) {
            input << "place " << (wrap ? 1 : 0) << " " << FloatBits(dist) << outer << " " << FloatBits(c.length)
                  << PathWords(c) << "\n";
            distances.back().push_back(dist);
            distances.back().push_back(wrap ? 1.0f : 0.0f);
            ++line;
        }
        k.places = uint32_t(at.size());
        k.firstNearest = line;
        for (int i = 0; i < 8; ++i) {
            const Vector q(coord(rng), coord(rng) * 0.2f, coord(rng), 1);
            queries.push_back(q);
            input << "nearest" << Words3(q) << outer << PathWords(c) << "\n";
            ++line;
        }
        k.nearests = 8;
        cases.push_back(k);
    }
    const std::vector<std::string> lines = RunNumpyReference("../scene/entities/path_reference.py", input.str());
    ASSERT_EQ(lines.size(), line);
    uint32_t query = 0;
    for (size_t ci = 0; ci < cases.size(); ++ci) {
        const Case& k = cases[ci];
        const FlagEntityConnection& c = *k.s->FindConnection(k.d);
        SCOPED_TRACE(c.PointCount());
        const std::vector<float> length = ParseFloats(lines[k.lengthLine]);
        ASSERT_EQ(length.size(), c.PointCount() + 1);
        EXPECT_NEAR(c.length, length[0], 2e-4f * length[0]);
        for (uint32_t i = 0; i < c.PointCount(); ++i)
            EXPECT_NEAR(c.controlPoints[i].distance, length[i + 1], 2e-4f * length[0]) << "point " << i;
        for (uint32_t i = 0; i < k.places; ++i) {
            const float dist = distances[ci][2 * i];
            const bool wrap = distances[ci][2 * i + 1] != 0.0f;
            Matrix m;
            k.s->GetGlobalPositionOnPath(k.d, dist, m, wrap, k.previous);
            const std::vector<float> want = ParseFloats(lines[k.firstPlace + i]);
            ASSERT_EQ(want.size(), 6u);
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(m.r[3][j], want[j], 2e-3f) << "position at " << dist;
                EXPECT_NEAR(m.r[2][j], want[3 + j], 2e-3f) << "forward at " << dist;
            }
            // A distance exactly at a control point starts that point's segment.
            if (i >= 12 && i < 12 + c.PointCount()) {
                for (int j = 0; j < 3; ++j) EXPECT_NEAR(m.r[3][j], c.PointAt(i - 12)[j], 1e-4f);
            }
        }
        for (uint32_t i = 0; i < k.nearests; ++i) {
            const float want = ParseFloats(lines[k.firstNearest + i])[0];
            const float got = k.s->GetPathPositionNearestToGlobalPoint(k.d, queries[query++], k.previous);
            EXPECT_NEAR(got, want, 1e-3f * (1.0f + want));
        }
    }
}

TEST_F(FlagTest, ArcLengthPlacementMovesAtNearConstantSpeed) {
    FlagEntity* s = Flag(Vector(0, 0, 0, 1));
    FlagEntity* d = Flag(Vector(20, 0, 0, 1));
    // Unevenly spaced points: a plain curve parameter would change speed along them.
    const FlagEntityConnection& c = Connect(s, d, {Vector3(1, 0, 2), Vector3(8, 0, 3.5f), Vector3(15, 0, -4)});
    const int steps = 200;
    std::vector<Vector> at;
    for (int i = 0; i <= steps; ++i) {
        Matrix m;
        s->GetGlobalPositionOnPath(d, c.length * float(i) / steps, m, false, nullptr);
        at.push_back(m.r[3]);
    }
    const float expected = c.length / steps;
    int compared = 0;
    for (int i = 1; i <= steps; ++i) {
        // A step across a control point may cut a corner; within a segment it may not.
        bool across = false;
        for (uint32_t p = 0; p < c.PointCount(); ++p) {
            const float cp = c.controlPoints[p].distance;
            across |= cp > c.length * float(i - 1) / steps && cp < c.length * float(i) / steps;
        }
        if (across) continue;
        ++compared;
        const float chord = std::sqrt(at[i].DistanceSquaredXYZ(at[i - 1]));
        EXPECT_NEAR(chord, expected, expected * 0.05f) << i;
    }
    EXPECT_GE(compared, steps - 3);
}

TEST_F(FlagTest, AddConnectionCopiesTheReversedCurve) {
    FlagEntity* a = Flag(Vector(0, 0, 0, 1));
    FlagEntity* b = Flag(Vector(10, 0, 0, 1));
    const FlagEntityConnection& ab = Connect(a, b, {Vector3(2, 0, 3), Vector3(7, 1, -2)});
    b->AddConnection(a);
    const FlagEntityConnection* ba = b->FindConnection(a);
    ASSERT_NE(ba, nullptr);
    EXPECT_EQ(ba->length, ab.length);
    ASSERT_EQ(ba->PointCount(), 2u);
    EXPECT_EQ(ba->controlPoints[0].position, ab.controlPoints[1].position);
    EXPECT_EQ(ba->controlPoints[1].position, ab.controlPoints[0].position);
    EXPECT_FLOAT_EQ(ba->controlPoints[0].distance, ab.length - ab.controlPoints[1].distance);
    EXPECT_FLOAT_EQ(ba->controlPoints[1].distance, ab.length - ab.controlPoints[0].distance);
    // The placements of both directions meet: distance x one way is length - x the other.
    Matrix there, back;
    a->GetGlobalPositionOnPath(b, 4.0f, there, false, nullptr);
    b->GetGlobalPositionOnPath(a, ab.length - 4.0f, back, false, nullptr);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(there.r[3][j], back.r[3][j], 0.05f);
    b->AddConnection(a);
    EXPECT_EQ(b->GetNeighbourCount(), 1u) << "one connection per destination";
}

TEST_F(FlagTest, OuterPointsComeFromTheNeighbours) {
    FlagEntity* p = Flag(Vector(-5, 0, 0, 1));
    FlagEntity* s = Flag(Vector(0, 0, 0, 1));
    FlagEntity* d = Flag(Vector(5, 0, 0, 1));
    FlagEntity* e = Flag(Vector(5, 0, 5, 1));
    FlagEntity* f = Flag(Vector(9, 0, 9, 1));
    Connect(s, d);
    EXPECT_EQ(s->OuterBefore(nullptr), s->GetLocalPosition());
    EXPECT_EQ(s->OuterBefore(d), s->GetLocalPosition()) << "a previous flag without a connection to S";
    Connect(p, s);
    EXPECT_EQ(s->OuterBefore(p), p->GetLocalPosition());
    Connect(p, s, {Vector3(-1, 0, 1)});
    EXPECT_EQ(s->OuterBefore(p), Vector(-1, 0, 1, 1));
    // D without onward connections, with one, with one back and one on, with three.
    EXPECT_EQ(s->OuterAfter(d), d->GetLocalPosition());
    Connect(d, e, {Vector3(5, 0, 2)});
    EXPECT_EQ(s->OuterAfter(d), Vector(5, 0, 2, 1));
    Connect(d, s);
    EXPECT_EQ(s->OuterAfter(d), Vector(5, 0, 2, 1));
    d->connections.Remove(1);
    d->connections.Remove(0);
    Connect(d, s);
    EXPECT_EQ(s->OuterAfter(d), d->GetLocalPosition()) << "the only onward connection leads back";
    Connect(d, e);
    EXPECT_EQ(s->OuterAfter(d), e->GetLocalPosition());
    Connect(d, f);
    EXPECT_EQ(s->OuterAfter(d), d->GetLocalPosition());
}

TEST_F(FlagTest, PlacementThroughATransformedParent) {
    Entity* parent = gEntityManager->CreateEntityFromTemplate(&flagTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
    Matrix world;
    world.LoadComplexTransformation(Vector(10, 2, -3, 1), Vector(0, 60, 0, 1), Vector(2, 2, 2, 0));
    parent->SetGlobalLocationMatrix(world);
    FlagEntity* s = Flag(Vector(0, 0, 0, 1), parent);
    FlagEntity* d = Flag(Vector(6, 0, 2, 1), parent);
    FlagEntity* loneS = Flag(Vector(0, 0, 0, 1));
    FlagEntity* loneD = Flag(Vector(6, 0, 2, 1));
    const std::vector<Vector3> points{Vector3(2, 0, 3), Vector3(4, 0, -1)};
    const FlagEntityConnection& c = Connect(s, d, points);
    Connect(loneS, loneD, points);
    for (float dist : {0.0f, 1.5f, c.length * 0.5f, c.length}) {
        Matrix global, local, want;
        s->GetGlobalPositionOnPath(d, dist, global, false, nullptr);
        loneS->GetGlobalPositionOnPath(loneD, dist, local, false, nullptr);
        want.Mul(world, local);
        for (int r = 0; r < 4; ++r)
            for (int j = 0; j < 4; ++j) EXPECT_NEAR(global.r[r][j], want.r[r][j], 1e-3f) << dist;
        // The nearest-point query undoes the parent's matrix.
        Vector point = local.r[3];
        point.Transform3D(world);
        EXPECT_NEAR(s->GetPathPositionNearestToGlobalPoint(d, point, nullptr),
                    loneS->GetPathPositionNearestToGlobalPoint(loneD, local.r[3], nullptr), 0.05f);
    }
}

TEST_F(FlagTest, DegenerateConnectionsStayFinite) {
    FlagEntity* s = Flag(Vector(1, 2, 3, 1));
    FlagEntity* same = Flag(Vector(1, 2, 3, 1));
    FlagEntity* above = Flag(Vector(1, 7, 3, 1));
    const struct {
        FlagEntity* d;
        std::vector<Vector3> points;
    } cases[] = {
        {same, {}},
        {same, {Vector3(1, 2, 3), Vector3(1, 2, 3)}},
        {above, {}},
        {above, {Vector3(1, 4, 3)}},
    };
    for (const auto& k : cases) {
        s->connections.Clear();
        const FlagEntityConnection& c = Connect(s, k.d, k.points);
        for (float dist : {-1.0f, 0.0f, 0.5f, c.length, c.length + 3.0f, NAN, INFINITY}) {
            for (bool wrap : {false, true}) {
                Matrix m;
                s->GetGlobalPositionOnPath(k.d, dist, m, wrap, nullptr);
                EXPECT_TRUE(FiniteMatrix(m)) << k.points.size() << " " << dist << " " << wrap;
            }
            EXPECT_TRUE(std::isfinite(s->GetPathPositionNearestToGlobalPoint(k.d, Vector(0, 0, 0, 1), nullptr)));
        }
    }
    // Length 0 places at S with the identity rotation.
    s->connections.Clear();
    Connect(s, same);
    Matrix m;
    s->GetGlobalPositionOnPath(same, 0.0f, m, true, nullptr);
    EXPECT_EQ(m.r[0], Vector(1, 0, 0, 0));
    EXPECT_EQ(m.r[3], Vector(1, 2, 3, 1));
}

TEST_F(FlagTest, ScriptIndicesAndDeadNeighbours) {
    FlagEntity* s = Flag(Vector(0, 0, 0, 1));
    FlagEntity* a = Flag(Vector(3, 0, 4, 1));
    FlagEntity* b = Flag(Vector(0, 0, 8, 1));
    Connect(s, a);
    Connect(s, b);
    EXPECT_EQ(s->GetNeighbour(0), a);
    EXPECT_EQ(s->GetNeighbour(2), nullptr);
    EXPECT_TRUE(s->HasNeighbour(b));
    EXPECT_FALSE(s->HasNeighbour(nullptr));
    EXPECT_FLOAT_EQ(s->GetNeighbourDistance(0u), 5.0f);
    EXPECT_FLOAT_EQ(s->GetNeighbourDistance(b), 8.0f);
    EXPECT_EQ(s->GetNeighbourDistance(7u), 0.0f);
    EXPECT_EQ(s->GetNeighbourDistance(s), 0.0f);
    Matrix m;
    s->GetGlobalPositionOnPath(5u, 1.0f, m, false, nullptr);
    EXPECT_EQ(m.r[3], Matrix::IDENTITY.r[3]);
    s->GetGlobalPositionOnPath(1u, 4.0f, m, false, nullptr);
    EXPECT_NEAR(m.r[3].z, 4.0f, 1e-5f);
    // A dead neighbour still counts until the connections are pruned; it answers nil.
    gEntityManager->DestroyEntity(a);
    EXPECT_EQ(s->GetNeighbourCount(), 2u);
    EXPECT_EQ(s->GetNeighbour(0), nullptr);
    s->GetGlobalPositionOnPath(0u, 1.0f, m, false, nullptr);
    EXPECT_EQ(m.r[3], Matrix::IDENTITY.r[3]);
    EXPECT_EQ(s->GetPathPositionNearestToGlobalPoint(0u, Vector(1, 0, 1, 1), nullptr), 0.0f);
    // Writing the properties drops it (the order of the rest kept).
    const uint32_t size = s->SolidSerialize(nullptr, 0);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(s->GetNeighbourCount(), 1u);
    EXPECT_EQ(s->GetNeighbour(0), b);
}

TEST_F(FlagTest, TemplateBoxFollowsSize) {
    FlagEntity* f = Flag(Vector(0, 0, 0, 1));
    EXPECT_EQ(flagTemplate.staticBoundingBox.max, Vector(1.5f, 4.8f, 1.95f, 1));
    flagTemplate.size = 2.0f;
    flagTemplate.OnPropertyChanged("Size");
    EXPECT_EQ(flagTemplate.staticBoundingBox.min, Vector(-3, 0, -3, 1));
    EXPECT_EQ(flagTemplate.staticBoundingBox.max, Vector(3, 9.6f, 3.9f, 1));
    EXPECT_EQ(f->GetLocalBoundingBox().max, Vector(3, 9.6f, 3.9f, 1)) << "the entity copies the box on refresh";
}

}  // namespace
