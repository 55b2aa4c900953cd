// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Graph geometry: straight ribbons and arrows of a bidirectional pair, distances around a
// cycle, the curve segments with their neighbour points, distances and cut ends, the arrow
// of a curve against the reference, the rebuild point, the node-set test and the editor
// creation's error.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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
    static void Points(FlagEntity* a, FlagEntity* b, std::vector<Vector3> points) {
        FlagEntityConnection* c = a->FindConnection(b);
        c->controlPoints.Clear();
        for (const Vector3& p : points) {
            FlagEntityConnectionControlPoint cp;
            cp.position = p;
            c->controlPoints.Add(cp);
        }
        a->RecomputeConnections();
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
