// test-sanitize: address
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "CaptureLogSink.h"
#include "core/math/BoundingBox4.h"

namespace {

BoundingBox4 Box(float x0, float y0, float z0, float x1, float y1, float z1) {
    return BoundingBox4(Vector(x0, y0, z0, 1), Vector(x1, y1, z1, 1));
}

// A box grown (or shrunk, for a negative margin) on every side.
BoundingBox4 Grown(const BoundingBox4& b, float margin) {
    Vector d(margin, margin, margin, 0);
    return BoundingBox4(b.min - d, b.max + d);
}

// Frustum of the axis-aligned region |x| <= 1, |y| <= 1, 0 <= z <= 10.
Frustum SlabFrustum() {
    Frustum f;
    const Vector planes[6] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {0, 1, 0, 1}, {0, -1, 0, 1}, {0, 0, 1, 0}, {0, 0, -1, 10}};
    std::copy(planes, planes + 6, f.planes);
    return f;
}

// Segment against a box by dense sampling: +1 surely hits (a sample inside the box
// shrunk by the margin), -1 surely misses (every sample further than the margin), 0
// too close to call.
int SampledSegmentVerdict(const BoundingBox4& box, const Vector& a, const Vector& b, float margin) {
    BoundingBox4 inner = Grown(box, -margin);
    float nearest = 1e30f;
    const int n = 4000;
    for (int i = 0; i <= n; ++i) {
        float t = static_cast<float>(i) / n;
        Vector p = a + (b - a) * t;
        if (inner.Inside3D(p)) return 1;
        nearest = std::fmin(nearest, std::sqrt(box.GetNearestPoint(p).DistanceSquaredXYZ(p)));
    }
    // The spacing of the samples bounds what they can miss.
    float spacing = std::sqrt(a.DistanceSquaredXYZ(b)) / n;
    return nearest > margin + spacing ? -1 : 0;
}

void ExpectNearXYZ(const Vector& a, const Vector& b, float tol) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tol) << i;
}

Vector Corner(const BoundingBox4& b, int i, const Matrix& m) {
    Vector v = b.GetVertex(i);
    v.Transform3D(m);
    return v;
}

// Do two placed boxes meet? Convex solids meet exactly when an edge of one meets the
// other solid; each edge is taken into the other box's space and clipped exactly.
bool EdgesMeet(const BoundingBox4& a, const Matrix& ma, const BoundingBox4& b, const Matrix& mb) {
    static const int edges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                                     {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    Matrix toB;
    toB.Inverse(mb);
    for (const auto& e : edges) {
        Vector p = Corner(a, e[0], ma), q = Corner(a, e[1], ma);
        p.Transform3D(toB);
        q.Transform3D(toB);
        if (b.CollidesWithSegment3DSlowSlowSlow(p, q)) return true;
    }
    return false;
}

bool BruteBoxesMeet(const BoundingBox4& a, const Matrix& ma, const BoundingBox4& b, const Matrix& mb) {
    return EdgesMeet(a, ma, b, mb) || EdgesMeet(b, mb, a, ma);
}

Matrix Placement(std::mt19937& rng, float spread) {
    std::uniform_real_distribution<float> ang(-180, 180), pos(-spread, spread), sc(0.5f, 2.0f);
    Matrix m;
    m.LoadComplexTransformation(Vector(pos(rng), pos(rng), pos(rng)), Vector(ang(rng), ang(rng), ang(rng)),
                                Vector(sc(rng), sc(rng), sc(rng)));
    return m;
}

}  // namespace

TEST(BoundingBox4, ContainmentOverlapAndCorners) {
    for (int axis = 0; axis < 3; ++axis) {  // one inverted axis makes a box empty
        BoundingBox4 inverted = Box(0, 0, 0, 1, 1, 1);
        inverted.min[axis] = 2;
        EXPECT_TRUE(inverted.IsEmpty3D()) << axis;
    }
    EXPECT_FALSE(Box(0, 0, 0, 0, 0, 0).IsEmpty3D());
    BoundingBox4 b = Box(0, 0, 0, 2, 4, 6);
    EXPECT_TRUE(b.Inside3D(Vector(2, 1, 1)) && b.Inside3D(Vector(0, 4, 6)));  // on a face, on a corner
    EXPECT_FALSE(b.Inside3D(Vector(2.0001f, 1, 1)));
    // Boxes sharing a face overlap, on each of the six sides; a gap separates them.
    const BoundingBox4 faces[] = {Box(2, 0, 0, 3, 1, 1), Box(-1, 0, 0, 0, 1, 1), Box(0, 4, 0, 1, 5, 1),
                                  Box(0, -1, 0, 1, 0, 1), Box(0, 0, 6, 1, 1, 7), Box(0, 0, -1, 1, 1, 0)};
    for (const BoundingBox4& f : faces) {
        EXPECT_TRUE(b.Overlaps3D(f) && f.Overlaps3D(b));
        for (int axis = 0; axis < 3; ++axis) {  // moved off along the face's own axis
            BoundingBox4 apart = f;
            const float away = f.min[axis] >= b.max[axis] ? 0.01f : f.max[axis] <= b.min[axis] ? -0.01f : 0.0f;
            apart.min[axis] += away, apart.max[axis] += away;
            if (away != 0.0f) {
                EXPECT_FALSE(b.Overlaps3D(apart)) << axis;
            }
        }
    }
    EXPECT_TRUE(b.Inside3D(Box(0, 1, 1, 2, 2, 2)) && b.Inside4D(Vector(1, 1, 1, 1)));
    EXPECT_FALSE(b.Inside3D(Box(0, 1, 1, 2, 5, 2)) || b.Inside4D(Vector(1, 1, 1, 2)));  // w outside 1..1

    for (int i = 0; i < 8; ++i) EXPECT_EQ(b.GetVertex(i), Vector(i & 1 ? 2 : 0, i & 2 ? 4 : 0, i & 4 ? 6 : 0, 1)) << i;
    EXPECT_EQ(b.GetCenter(), Vector(1, 2, 3, 1));
    EXPECT_EQ(b.GetNearestPoint(Vector(-5, 2, 9, 1)), Vector(0, 2, 6, 1));

    BoundingBox4 e = BoundingBox4::INVALID;
    EXPECT_TRUE(e.IsEmpty3D());
    e.Expand(Vector(1, 2, 3, 1));
    EXPECT_EQ(e, BoundingBox4(Vector(1, 2, 3, 1), Vector(1, 2, 3, 1)));
    e.Expand(Box(-1, 5, 0, 0, 6, 1));
    EXPECT_EQ(e, Box(-1, 2, 0, 1, 6, 3));
    e.Expand3D(BoundingBox4::INVALID, Matrix::IDENTITY);  // growing by an empty box adds nothing
    EXPECT_EQ(e, Box(-1, 2, 0, 1, 6, 3));
}

TEST(BoundingBox4, TransformMatchesEightCorners) {
    std::mt19937 rng(5);
    BoundingBox4 b = Box(-1, 0, 2, 3, 1, 5);
    for (int n = 0; n < 100; ++n) {
        Matrix m = Placement(rng, 20);
        BoundingBox4 fast, corners = BoundingBox4::INVALID;
        fast.Transform3D(b, m);
        for (int i = 0; i < 8; ++i) corners.Expand(Corner(b, i, m));
        ExpectNearXYZ(fast.min, corners.min, 1e-3f);
        ExpectNearXYZ(fast.max, corners.max, 1e-3f);
        BoundingBox4 grown = BoundingBox4::INVALID;
        grown.Expand3D(b, m);
        EXPECT_EQ(grown.min.x, fast.min.x);
    }
}

TEST(BoundingBox4, NearestPointOfTransformedBox) {
    Matrix m;
    m.LoadComplexTransformation(Vector(10, 0, 0), Vector(0, 0, 45), Vector(2, 1, 1));
    BoundingBox4 b = Box(-1, -1, -1, 1, 1, 1);
    Vector inside(10.5f, 0.2f, 0.1f, 1);  // inside: the point itself
    EXPECT_NEAR(b.GetNearestPoint(inside, m).DistanceSquaredXYZ(inside), 0.0f, 1e-8f);
    // Outside: the result lies on the box and no corner or face sample is nearer.
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-6, 6), s(-1, 1);
    for (int n = 0; n < 50; ++n) {
        Vector q(10 + u(rng), u(rng), u(rng), 1);
        Vector near = b.GetNearestPoint(q, m);
        float d = near.DistanceSquaredXYZ(q);
        for (int k = 0; k < 200; ++k) {
            Vector local(s(rng), s(rng), s(rng), 1);
            local.Transform3D(m);
            EXPECT_LE(d, local.DistanceSquaredXYZ(q) + 1e-3f);
        }
    }
}

TEST(BoundingBox4, FrustumCulling) {
    Frustum f = SlabFrustum();
    EXPECT_TRUE(Box(-0.5f, -0.5f, 1, 0.5f, 0.5f, 2).IntersectsFrustum(f));
    EXPECT_TRUE(Box(1, -0.5f, 1, 3, 0.5f, 2).IntersectsFrustum(f));  // touching the x = 1 plane
    EXPECT_FALSE(Box(1.001f, -0.5f, 1, 3, 0.5f, 2).IntersectsFrustum(f) || Box(-0.5f, -0.5f, 10.01f, 0.5f, 0.5f, 12).IntersectsFrustum(f));
    EXPECT_TRUE(Box(-5, -5, -5, 5, 5, 20).IntersectsFrustum(f));  // enclosing the frustum

    // A local box placed by a matrix: the same answers as the world-space box.
    Matrix m;
    m.LoadComplexTransformation(Vector(3, 0, 5), Vector(0, 0, 0), Vector(2, 2, 2));
    BoundingBox4 local = Box(-0.5f, -0.1f, -0.1f, 0.5f, 0.1f, 0.1f);
    EXPECT_FALSE(local.IntersectsFrustumTransformed(f, m));  // x 2..4: one unit beyond the x = 1 plane
    m.LoadComplexTransformation(Vector(2, 0, 5), Vector(0, 0, 0), Vector(2, 2, 2));  // x 1..3: touching
    EXPECT_TRUE(local.IntersectsFrustumTransformed(f, m));
}

TEST(BoundingBox4, SegmentTestsAgreeWithSampling) {
    BoundingBox4 b = Box(-1, -2, -0.5f, 1, 2, 0.5f);
    Vector hit;
    ASSERT_TRUE(b.CollidesWithSegment3D(Vector(-5, 0, 0, 1), Vector(5, 0, 0, 1), &hit));
    EXPECT_NEAR(hit.x, -1.0f, 1e-6f);
    ASSERT_TRUE(b.CollidesWithSegment3D(Vector(0, 0, 0, 1), Vector(5, 0, 0, 1), &hit));
    EXPECT_EQ(hit.x, 0.0f);  // starting inside
    Vector exact;
    ASSERT_TRUE(b.CollidesWithSegment3DSlowSlowSlow(Vector(3, 0.5f, 0, 1), Vector(-1, 0.5f, 0, 1), &exact));
    ExpectNearXYZ(exact, Vector(1, 0.5f, 0, 1), 1e-6f);
    // Diagonal that passes a corner: the cross-product axes reject it (other misses: sampled below).
    EXPECT_FALSE(b.CollidesWithSegment3D(Vector(0, 3.1f, 0, 1), Vector(2.1f, 1, 0, 1)));

    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-4, 4);
    int hits = 0, misses = 0;
    for (int n = 0; n < 4000; ++n) {
        if (n == 3000) b = Box(0.5f, -1, 0, 3, 2, 0.5f);  // off the origin
        Vector a(u(rng), u(rng), u(rng), 1), c(u(rng), u(rng), u(rng), 1);
        // Parallel to each face (one coordinate kept), then to each axis (two kept).
        if (n % 8 >= 2) c[n % 8 % 3] = a[n % 8 % 3];
        if (n % 8 >= 5) c[(n % 8 + 1) % 3] = a[(n % 8 + 1) % 3];
        int verdict = SampledSegmentVerdict(b, a, c, 1e-3f);
        bool sat = b.CollidesWithSegment3D(a, c), slow = b.CollidesWithSegment3DSlowSlowSlow(a, c);
        if (verdict == 1) {
            ++hits;
            EXPECT_TRUE(sat && slow);
            ASSERT_TRUE(b.CollidesWithSegment3D(a, c, &hit));
            EXPECT_TRUE(Grown(b, 1e-4f).Inside3D(hit));
            Vector exact;
            ASSERT_TRUE(b.CollidesWithSegment3DSlowSlowSlow(a, c, &exact));
            ExpectNearXYZ(exact, hit, 1e-4f);
        } else if (verdict == -1) {
            ++misses;
            EXPECT_FALSE(sat || slow);
        }
    }
    EXPECT_GT(std::min(hits, misses), 300);
}

TEST(BoundingBox4, BoxSeparatingAxisAgreesWithEdgeClipping) {
    BoundingBox4 a = Box(-1, -1, -1, 1, 1, 1), b = Box(-0.5f, -2, -1, 0.5f, 2, 1);
    std::mt19937 rng(2);
    int meet = 0, apart = 0;
    for (int n = 0; n < 3000; ++n) {
        Matrix ma = Placement(rng, 2), mb = Placement(rng, 4);
        bool sat = a.CollidesWithOtherBox3D(ma, b, mb);
        // Decide only where shrinking and growing both boxes by 1 % agree.
        Matrix shrink, grow, mas, mbs, mag, mbg;
        shrink.LoadUniformScale(0.99f);
        grow.LoadUniformScale(1.01f);
        mas.Mul(ma, shrink), mbs.Mul(mb, shrink), mag.Mul(ma, grow), mbg.Mul(mb, grow);
        bool inner = BruteBoxesMeet(a, mas, b, mbs), outer = BruteBoxesMeet(a, mag, b, mbg);
        if (inner) {
            ++meet;
            EXPECT_TRUE(sat);
        } else if (!outer) {
            ++apart;
            EXPECT_FALSE(sat);
        }
    }
    EXPECT_GT(std::min(meet, apart), 300);

    // Trigger form: this box untransformed; parallel axes (no rotation) are handled.
    Matrix m;
    m.LoadTranslation(2, 0, 0);
    EXPECT_TRUE(a.CollidesWithTransformedBox(a, m));  // touching faces
    m.LoadTranslation(2.01f, 0, 0);
    EXPECT_FALSE(a.CollidesWithTransformedBox(a, m));
    m.LoadComplexTransformation(Vector(2.3f, 2.3f, 0), Vector(0, 0, 45), Vector(1, 1, 1));
    EXPECT_FALSE(a.CollidesWithTransformedBox(a, m));  // a diamond beside the corner
    m.LoadComplexTransformation(Vector(2.3f, 0, 0), Vector(0, 0, 45), Vector(1, 1, 1));
    EXPECT_TRUE(a.CollidesWithTransformedBox(a, m));  // its tip enters the face
}

TEST(OBBox4, InsideAndClosestPoint) {
    Matrix m;
    m.LoadComplexTransformation(Vector(5, 0, 0), Vector(0, 90, 0), Vector(1, 1, 1));
    OBBox4 o;
    o.Transform3D(Box(-2, -1, -1, 2, 1, 1), m);  // long axis now along z
    EXPECT_EQ(o.center, Vector(5, 0, 0, 1));
    EXPECT_TRUE(o.Inside3D(Vector(5, 0, 1.9f, 1)) && o.Inside3D(Vector(5, 0, 2, 1)));
    EXPECT_FALSE(o.Inside3D(Vector(6.5f, 0, 0, 1)));
    ExpectNearXYZ(o.GetClosestPoint(Vector(9, 0.5f, 7, 1)), Vector(6, 0.5f, 2, 1), 1e-5f);

    CaptureLogSink sink;
    sink.Attach();
    o.Log(0, 2);
    Box(0, 0, 0, 1, 1, 1).Log(0, 2);
    auto msgs = sink.Messages();
    ASSERT_EQ(msgs.size(), 6u);
    EXPECT_EQ(msgs[0].text.rfind("center: 5.000000", 0), 0u);
    EXPECT_EQ(msgs[4].text, "min: 0.000000, 0.000000, 0.000000, 1.000000");
}
