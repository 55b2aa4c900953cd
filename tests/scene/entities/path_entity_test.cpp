// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Flags and graphs against the float64 reference (tests/scene/entities/path_reference.py).
// Path flags: the measured length, placement by arc length, the nearest-point query, the
// outer points through neighbouring flags, the reversed copy of a connection, placement
// through a transformed parent, degenerate connections and the script-facing indices.
// Graph geometry: straight ribbons and arrows of a bidirectional pair, distances around a
// cycle, the curve segments with their neighbour points, distances and cut ends, the arrow
// of a curve against the reference, the rebuild point, the node-set test and the editor
// creation's error.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/RenderTestSupport.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
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

// The control points of a's connection to b, measured anew.
FlagEntityConnection& Points(FlagEntity* a, FlagEntity* b, const std::vector<Vector3>& points) {
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
        return Points(a, b, points);
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

// ---- Graphs ----

void ExpectXYZ(const Vector& got, const Vector& want, const char* what, float tolerance = 1e-5f) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tolerance) << what << " " << i;
}

struct GraphTest : sceneframe::SceneEntityFixture<RendererFixture> {
    GraphTest() { sceneBox = BoundingBox4(Vector(-80, -5, -80, 1), Vector(80, 50, 80, 1)); }
    void SetUp() override {
        SceneEntityFixture::SetUp();
        flagTemplate.SetName("node");
        graphTemplate.SetName("graph");
    }
    GraphEntity* Graph() {
        auto* g = dynamic_cast<GraphEntity*>(
            gEntityManager->CreateEntityFromTemplate(&graphTemplate, nullptr, Matrix::IDENTITY, 0, nullptr));
        EXPECT_NE(g, nullptr);
        return g;
    }
    FlagEntity* Node(GraphEntity* g, const Vector& p) {
        Matrix m;
        m.LoadTranslation(p.x, p.y, p.z);
        return static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&flagTemplate, g, m, 0, nullptr));
    }
    FlagTemplate flagTemplate;
    GraphTemplate graphTemplate;
};

TEST_F(GraphTest, BidirectionalPairIsOneRibbonWithTwoArrows) {
    GraphEntity* g = Graph();
    FlagEntity* a = Node(g, Vector(0, 0, 0, 1));
    FlagEntity* b = Node(g, Vector(4, 0, 0, 1));
    g->Connect(a, b);
    g->Connect(b, a);
    g->Connect(a, a);
    g->Connect(a, nullptr);
    EXPECT_EQ(a->GetNeighbourCount(), 1u);
    a->RecomputeConnections();
    b->RecomputeConnections();
    GraphGeometry geometry;
    g->BuildGeometry(geometry);
    ASSERT_EQ(geometry.straights.size(), 1u);
    EXPECT_TRUE(geometry.curves.empty());
    EXPECT_EQ(geometry.straights[0].start, Vector(0, 0.25f, 0, 0));
    EXPECT_EQ(geometry.straights[0].end, Vector(4, 0.25f, 0, 4));
    ASSERT_EQ(geometry.arrows.size(), 2u);
    ExpectXYZ(geometry.arrows[0].position, Vector(2.3f, 0, 0, 0), "arrow");
    ExpectXYZ(geometry.arrows[0].direction, Vector(1, 0, 0, 0), "direction");
    ExpectXYZ(geometry.arrows[1].position, Vector(1.7f, 0, 0, 0), "back arrow");
    ExpectXYZ(geometry.arrows[1].direction, Vector(-1, 0, 0, 0), "back direction");
    // A flag outside the graph is not connected by it.
    FlagEntity* outside = static_cast<FlagEntity*>(
        gEntityManager->CreateEntityFromTemplate(&flagTemplate, nullptr, Matrix::IDENTITY, 0, nullptr));
    g->Connect(a, outside);
    EXPECT_EQ(a->GetNeighbourCount(), 1u);
}

TEST_F(GraphTest, PairsAreBuiltFromTheFirstChildWhateverTheAddresses) {
    for (int decoys = 0; decoys < 4; ++decoys) {
        std::vector<std::unique_ptr<char[]>> held;
        GraphEntity* g = Graph();
        FlagEntity* a = Node(g, Vector(0, 0, 0, 1));
        for (int i = 0; i < decoys * 7; ++i) held.emplace_back(new char[64 * (i + 1)]);
        FlagEntity* b = Node(g, Vector(0, 0, 6, 1));
        g->Connect(b, a);
        g->Connect(a, b);
        GraphGeometry geometry;
        g->BuildGeometry(geometry);
        ASSERT_EQ(geometry.straights.size(), 1u);
        EXPECT_EQ(geometry.straights[0].start.z, 0.0f) << "built from the first child, decoys " << decoys;
        gEntityManager->DestroyEntity(g);
    }
}

TEST_F(GraphTest, CycleDistancesGrowFromAStartThatKeepsZero) {
    GraphEntity* g = Graph();
    const Vector at[4] = {Vector(0, 0, 0, 1), Vector(3, 0, 0, 1), Vector(3, 0, 4, 1), Vector(0, 0, 4, 1)};
    FlagEntity* n[4];
    for (int i = 0; i < 4; ++i) n[i] = Node(g, at[i]);
    for (int i = 0; i < 4; ++i) g->Connect(n[i], n[(i + 1) % 4]);
    for (FlagEntity* f : n) f->RecomputeConnections();
    GraphGeometry geometry;
    g->BuildGeometry(geometry);
    const float want[4] = {0, 3, 7, 10};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(n[i]->incomingCount, 1u);
        EXPECT_FLOAT_EQ(n[i]->graphDistance, want[i]) << i;
        EXPECT_EQ(n[i]->previousNode, n[(i + 3) % 4]);
    }
    EXPECT_EQ(geometry.straights.size(), 4u);
    EXPECT_EQ(geometry.arrows.size(), 4u);
    // A chain with a start of no incoming connection.
    GraphEntity* h = Graph();
    FlagEntity* x = Node(h, Vector(10, 0, 0, 1));
    FlagEntity* y = Node(h, Vector(12, 0, 0, 1));
    FlagEntity* z = Node(h, Vector(0, 0, 0, 1));
    h->Connect(z, x);
    h->Connect(x, y);
    z->RecomputeConnections();
    x->RecomputeConnections();
    h->BuildGeometry(geometry);
    EXPECT_FLOAT_EQ(z->graphDistance, 0.0f);
    EXPECT_FLOAT_EQ(x->graphDistance, 10.0f);
    EXPECT_FLOAT_EQ(y->graphDistance, 12.0f);
}

TEST_F(GraphTest, CurveSegmentsTheirNeighboursAndArrows) {
    const struct {
        uint32_t k;
        bool before, after, cut;
        size_t segments;
    } cases[] = {
        {1, false, false, false, 2}, {2, false, false, false, 3}, {2, false, false, true, 1},
        {2, true, true, true, 3},    {3, true, false, true, 3},   {4, false, true, false, 5},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.k << k.before << k.after << k.cut);
        graphTemplate.cutOffNastyEnds = k.cut;
        GraphEntity* g = Graph();
        FlagEntity* p = Node(g, Vector(-6, 0, -2, 1));
        FlagEntity* n = Node(g, Vector(0, 0, 0, 1));
        FlagEntity* d = Node(g, Vector(12, 0, 2, 1));
        FlagEntity* e = Node(g, Vector(18, 0, 6, 1));
        if (k.before) {
            g->Connect(p, n);
            Points(p, n, {Vector3(-3, 1, -3)});
        }
        if (k.after) g->Connect(d, e);
        g->Connect(n, d);
        std::vector<Vector3> points;
        for (uint32_t i = 0; i < k.k; ++i) points.push_back(Vector3(2.0f + 8.0f * i / k.k, 1.0f + (i % 2), -1.0f + i));
        Points(n, d, points);
        GraphGeometry geometry;
        g->BuildGeometry(geometry);
        const FlagEntityConnection& c = *n->FindConnection(d);
        // The previous flag's curve comes first (it is the first child): two segments, the
        // first of them cut off when asked, as nothing comes before that flag.
        const size_t previousCurves = k.before ? (k.cut ? 1 : 2) : 0;
        ASSERT_EQ(geometry.curves.size(), k.segments + previousCurves);
        const GraphGeometry::Curve& first = geometry.curves[previousCurves];
        const GraphGeometry::Curve& last = geometry.curves.back();
        if (!k.cut || k.before) {
            // The point before N: the previous connection's last control point, or N itself.
            ExpectXYZ(first.points[0], k.before ? Vector(-3, 1, -3, 0) : n->GetLocalPosition(), "before N");
            ExpectXYZ(first.points[1], n->GetLocalPosition(), "N");
            EXPECT_FLOAT_EQ(first.points[0].w, n->graphDistance);
            EXPECT_FLOAT_EQ(first.points[3].w, n->graphDistance + c.controlPoints[0].distance);
            EXPECT_FLOAT_EQ(first.points[1].w, 0.75f * first.points[0].w + 0.25f * first.points[3].w);
            EXPECT_FLOAT_EQ(first.points[2].w, 0.25f * first.points[0].w + 0.75f * first.points[3].w);
        }
        if (!k.cut || k.after) {
            ExpectXYZ(last.points[2], d->GetLocalPosition(), "D");
            ExpectXYZ(last.points[3], k.after ? e->GetLocalPosition() : d->GetLocalPosition(), "after D");
            EXPECT_FLOAT_EQ(last.points[3].w, d->graphDistance);
        }
        // One arrow, on segment (k + 2) / 2 - 2 at t = 0.5, against the reference.
        ASSERT_EQ(geometry.arrows.size(), size_t(1 + (k.before ? 1 : 0) + (k.after ? 1 : 0)));
        const int32_t j = int32_t(k.k + 2) / 2 - 2;
        std::vector<Vector> path{n->GetLocalPosition()};
        for (uint32_t i = 0; i < k.k; ++i) path.push_back(c.PointAt(i));
        path.push_back(d->GetLocalPosition());
        const Vector before = k.before ? Vector(-3, 1, -3, 1) : n->GetLocalPosition();
        const Vector after = k.after ? e->GetLocalPosition() : d->GetLocalPosition();
        const Vector pts[4] = {j == -1 ? before : path[j], path[j + 1], path[j + 2],
                               j == int32_t(k.k) - 1 ? after : path[j + 3]};
        std::string input = "mid";
        for (const Vector& v : pts) input += Words3(v);
        const std::vector<float> want = ParseFloats(RunNumpyReference("../scene/entities/path_reference.py",
                                                                      input + "\n").at(0));
        ASSERT_EQ(want.size(), 6u);
        const GraphGeometry::Arrow* arrow = nullptr;
        for (const auto& a : geometry.arrows)
            if (std::abs(a.position.x - want[0] - 0.3f * want[3]) < 1e-3f) arrow = &a;
        ASSERT_NE(arrow, nullptr);
        ExpectXYZ(arrow->position, Vector(want[0] + 0.3f * want[3], want[1] + 0.3f * want[4],
                                          want[2] + 0.3f * want[5], 0), "arrow", 1e-4f);
        ExpectXYZ(arrow->direction, Vector(want[3], want[4], want[5], 0), "arrow direction", 1e-4f);
        gEntityManager->DestroyEntity(g);
    }
}

TEST_F(GraphTest, RebuildPointBoxNodeSetAndLook) {
    graphTemplate.mappingSize = 0.0f;
    graphTemplate.width = 2.5f;
    GraphEntity* g = Graph();
    FlagEntity* a = Node(g, Vector(1, 2, 3, 1));
    FlagEntity* b = Node(g, Vector(-4, 0, 5, 1));
    EXPECT_TRUE(g->IsDirty());
    EXPECT_TRUE(g->CheckFlag(kGraphUpdateRequest));
    EXPECT_NE(g->GetEnforcedRenderingFlags() & kGraphRenderBit, 0u);
    g->Connect(a, b);
    g->SubmitHelperRendering(0);
    EXPECT_FALSE(g->IsDirty());
    EXPECT_FALSE(g->CheckFlag(kGraphUpdateRequest));
    EXPECT_FLOAT_EQ(a->FindConnection(b)->length, std::sqrt(25.0f + 4.0f + 4.0f)) << "re-measured on rebuild";
    auto* context = static_cast<GraphEntityRenderingContext*>(g->GetRenderingContext());
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->Geometry().straights.size(), 1u);
    EXPECT_EQ(context->Width(), 2.5f);
    EXPECT_EQ(context->MappingFactor(), 1.0f) << "a mapping size not above 0 counts as 1";
    g->UpdateBox();
    EXPECT_EQ(g->GetLocalBoundingBox().min, Vector(-4, 0.4f, 3, 1));
    EXPECT_EQ(g->GetLocalBoundingBox().max, Vector(1, 2.4f, 5, 1));
    EXPECT_TRUE(g->IsDirty());
    uint32_t bits[2] = {0, 0};
    for (FlagEntity* f : {a, b}) bits[f->nodeId / 32] |= 1u << (f->nodeId % 32);
    EXPECT_TRUE(g->AreAllNodesIn(bits, 2));
    bits[b->nodeId / 32] &= ~(1u << (b->nodeId % 32));
    EXPECT_FALSE(g->AreAllNodesIn(bits, 2));
    EXPECT_FALSE(g->AreAllNodesIn(nullptr, 0));
}

TEST_F(GraphTest, MappingFactorIsAlwaysUsable) {
    const struct {
        float size, factor;
    } cases[] = {{10.0f, 0.1f}, {0.0f, 1.0f}, {-3.0f, 1.0f}, {NAN, 1.0f}, {1e-40f, 1.0f}, {INFINITY, 0.0f}};
    for (const auto& k : cases) {
        graphTemplate.mappingSize = k.size;
        EXPECT_FLOAT_EQ(graphTemplate.MappingFactor(), k.factor) << k.size;
    }
}

TEST_F(GraphTest, EditorCreationNeedsAFlagNodeTemplate) {
    CaptureLogSink log;
    log.Attach();
    graphTemplate.nodeTemplate = NameString("Graph/Missing");
    GraphEntity* g = Graph();
    EXPECT_FALSE(g->CreateInEditor());
    EXPECT_EQ(g->GetChildrenCount(), 0u);
    EXPECT_TRUE(log.Contains("Cannot create graph because the 'Node template' property is invalid (Graph/Missing). "
                             "It should define a full path to a valid Flag template."));
    // With a flag template registered under the name: two nodes connected both ways.
    auto* stub = new EntityTemplateStub();
    stub->SetFileName("node");
    stub->typeId = ENTITY_FLAG;
    stub->SetTemplate(&flagTemplate);
    gEntityTemplateRegistry.Root()->AddStub(stub);
    graphTemplate.nodeTemplate = NameString("node");
    EXPECT_TRUE(g->CreateInEditor());
    ASSERT_EQ(g->Nodes().size(), 2u);
    FlagEntity* a = g->Nodes()[0];
    FlagEntity* b = g->Nodes()[1];
    EXPECT_TRUE(a->HasNeighbour(b));
    EXPECT_TRUE(b->HasNeighbour(a));
    EXPECT_EQ(b->GetLocalPosition(), Vector(0, 0, 1, 1));
    EXPECT_STRNE(a->GetName(), b->GetName());
    gEntityManager->NewScene();
    gEntityTemplateRegistry.Root()->RemoveStub(stub);
    flagTemplate.stub = nullptr;
    stub->DetachTemplate();
    delete stub;
}

}  // namespace
