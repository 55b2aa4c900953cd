// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/math/BoundingBox4.h"
#include "core/math/MathHelpers.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "platform/os/Clock.h"

namespace {

void ExpectNear(const Vector& a, const Vector& b, float tol = 1e-5f) {
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], tol) << "component " << i;
}

void ExpectNear(const Matrix& a, const Matrix& b, float tol = 1e-5f) {
    for (int i = 0; i < 4; ++i) ExpectNear(a.r[i], b.r[i], tol);
}

Vector Point(const Matrix& m, float x, float y, float z) {
    Vector v(x, y, z, 1);
    v.Transform3D(m);
    return v;
}

Vector Projected(const Matrix& m, float x, float y, float z) {
    Vector v(x, y, z, 1);
    v.TransformHomogen(m);
    return v;
}

Matrix RandomAffine(std::mt19937& rng) {
    std::uniform_real_distribution<float> ang(-180, 180), pos(-50, 50), sc(0.2f, 4.0f);
    Matrix m;
    m.LoadComplexTransformation(Vector(pos(rng), pos(rng), pos(rng)), Vector(ang(rng), ang(rng), ang(rng)),
                                Vector(sc(rng), sc(rng), sc(rng)));
    return m;
}

}  // namespace

TEST(Matrix, MulAppliesSecondArgumentFirst) {
    Matrix a(Vector(1, 2, 3, 4), Vector(5, 6, 7, 8), Vector(9, 10, 11, 12), Vector(13, 14, 15, 16));
    Matrix b(Vector(2, 0, 0, 1), Vector(0, 3, 0, 0), Vector(1, 0, 1, 0), Vector(0, 0, 0, 1));
    Matrix ab, acc = a;
    ab.Mul(a, b);  // b x a: row 0 = 2 * a.r0 + 1 * a.r3
    ExpectNear(ab.r[0], Vector(15, 18, 21, 24));
    ExpectNear(ab.r[2], Vector(10, 12, 14, 16));
    acc.Mul(b);  // Mul(m) puts m before the old contents
    ExpectNear(acc, ab);
}

TEST(Matrix, InverseUndoesAndSingularFailsToIdentity) {
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        Matrix m = RandomAffine(rng), inv, prod;
        ASSERT_TRUE(inv.Inverse(m));
        prod.Mul(m, inv);
        ExpectNear(prod, Matrix::IDENTITY, 2e-4f);
        EXPECT_NEAR(m.Det() * inv.Det(), 1.0f, 1e-3f);
    }
    Matrix out(Vector(1, 2, 3, 0), Vector(2, 4, 6, 0), Vector(0, 0, 1, 0), Vector(0, 0, 0, 1));  // singular
    EXPECT_EQ(out.Det(), 0.0f);
    EXPECT_FALSE(out.Inverse());
    EXPECT_EQ(out, Matrix::IDENTITY);
    // The smallest normal determinant still inverts; a denormal one does not.
    for (float d : {std::numeric_limits<float>::min(), std::numeric_limits<float>::min() / 2}) {
        Matrix tiny(Vector(d, 0, 0, 0), Vector(0, 1, 0, 0), Vector(0, 0, 1, 0), Vector(0, 0, 0, 1));
        EXPECT_EQ(tiny.Inverse(), d == std::numeric_limits<float>::min()) << d;
    }
    // General matrices, every entry free, invert too.
    std::uniform_real_distribution<float> u(-2, 2);
    for (int n = 0; n < 100; ++n) {
        Matrix g, ginv, gg;
        for (int k = 0; k < 16; ++k) g.r[k / 4][k % 4] = u(rng);
        if (std::fabs(g.Det()) < 0.1f) continue;
        ASSERT_TRUE(ginv.Inverse(g));
        gg.Mul(ginv, g);
        ExpectNear(gg, Matrix::IDENTITY, 2e-3f);
    }
}

TEST(Matrix, TransposeAndPackedForms) {
    Matrix a(Vector(1, 2, 3, 4), Vector(5, 6, 7, 8), Vector(9, 10, 11, 12), Vector(13, 14, 15, 16)), t;
    t.Transpose(a);
    EXPECT_TRUE(t.At(0, 3) == 13.0f && t.At(3, 0) == 4.0f);
    t.Transpose();
    EXPECT_EQ(t, a);
    const float packed[12] = {1, 2, 3, 10, 4, 5, 6, 11, 7, 8, 9, 12};  // three columns of four
    Matrix m;
    m.FromTransposed3x4(packed);
    EXPECT_EQ(m, Matrix(Vector(1, 4, 7, 0), Vector(2, 5, 8, 0), Vector(3, 6, 9, 0), Vector(10, 11, 12, 1)));
    BoundingBox4 box(Vector(1, 2, 3, 1), Vector(3, 6, 4, 1));
    m.LoadZeroOneToBox(box);
    ExpectNear(Point(m, 0, 0, 0), Vector(1, 2, 3, 1));
    ExpectNear(Point(m, 1, 1, 1), Vector(3, 6, 4, 1));
}

TEST(Matrix, RotationsAreLeftHanded) {
    Matrix m;
    m.LoadXRotation(90);
    ExpectNear(Point(m, 0, 1, 0), Vector(0, 0, 1, 1));
    m.LoadYRotation(90);
    ExpectNear(Point(m, 0, 0, 1), Vector(1, 0, 0, 1));
    m.LoadZRotation(90);
    ExpectNear(Point(m, 1, 0, 0), Vector(0, 1, 0, 1));
    // Quaternion rotations agree with the matrix builders.
    Quaternion q;
    Matrix qm;
    q.LoadYRotation(37);
    qm.LoadQuaternion(q);
    m.LoadYRotation(37);
    ExpectNear(qm, m);
    qm.LoadQuaternionTranslationAndScale(q, Vector(1, 2, 3), Vector(2, 3, 4));
    ExpectNear(Point(qm, 0, 1, 0), Vector(1, 5, 3, 1));
}

TEST(Matrix, ProjectionsMapKnownPointsToClipSpace) {
    // Values worked from the documented left-handed formulas.
    Matrix p;
    p.LoadPerspectiveFovLH(90, 2.0f, 1, 101);
    ExpectNear(Projected(p, 0, 0, 1), Vector(0, 0, 0, 1));
    ExpectNear(Projected(p, 0, 0, 101), Vector(0, 0, 1, 1));
    ExpectNear(Projected(p, 20, 10, 10), Vector(1, 1, 1.01f - 0.101f, 1));

    p.LoadPerspectiveLH(4, 2, 2, 10);  // view volume 4 x 2 at the near plane
    ExpectNear(Projected(p, 2, 1, 2), Vector(1, 1, 0, 1));
    ExpectNear(Projected(p, -10, -5, 10), Vector(-1, -1, 1, 1));

    p.LoadPerspectiveOffCenterLH(-1, 3, -2, 2, 1, 11);
    ExpectNear(Projected(p, -1, -2, 1), Vector(-1, -1, 0, 1));
    ExpectNear(Projected(p, 33, 22, 11), Vector(1, 1, 1, 1));

    // Pixel rectangle with y pointing down.
    p.LoadOrthoOffCenterLH(0, 800, 600, 0, 0, 1);
    ExpectNear(Projected(p, 0, 0, 0), Vector(-1, 1, 0, 1));
    ExpectNear(Projected(p, 800, 600, 1), Vector(1, -1, 1, 1));
    ExpectNear(Projected(p, 400, 300, 0.5f), Vector(0, 0, 0.5f, 1));
}

TEST(Matrix, LookAtAndItsInverse) {
    Matrix view, world, prod;
    Vector eye(3, 4, -5, 1), at(1, 1, 1, 1), up(0, 1, 0, 0);
    view.LoadLookAtLH(eye, at, up);
    ExpectNear(Point(view, eye.x, eye.y, eye.z), Vector(0, 0, 0, 1));
    float dist = std::sqrt(4.0f + 9.0f + 36.0f);
    ExpectNear(Point(view, at.x, at.y, at.z), Vector(0, 0, dist, 1), 1e-4f);
    // Simple case: looking down +z from -5, x to the right and y up are kept.
    view.LoadLookAtLH(Vector(0, 0, -5, 1), Vector(0, 0, 0, 1), up);
    ExpectNear(Point(view, 1, 2, 0), Vector(1, 2, 5, 1));

    view.LoadLookAtLH(eye, at, up);
    world.LoadInverseLookAtLH(eye, at, up);
    prod.Mul(view, world);
    ExpectNear(prod, Matrix::IDENTITY, 1e-5f);
    ExpectNear(world.r[3], eye);
}

TEST(Matrix, DecomposeUndoesComplexTransformation) {
    Matrix m;
    Vector t, a, s;
    m.LoadComplexTransformation(Vector(4, -5, 6), Vector(10, 20, 30), Vector(1, 2, 3));
    m.Decompose(&t, &a, &s);
    ExpectNear(t, Vector(4, -5, 6, 1));
    ExpectNear(a, Vector(10, 20, 30, 1), 1e-3f);
    ExpectNear(s, Vector(1, 2, 3, 0));

    // Negative angles come back in 0..360.
    m.LoadComplexTransformation(Vector(0, 0, 0), Vector(-10, 5, -40), Vector(1, 1, 1));
    m.Decompose(nullptr, &a, nullptr);
    ExpectNear(a, Vector(350, 5, 320, 1), 1e-3f);

    // A mirrored matrix reports a negative z scale and still rebuilds.
    m.LoadComplexTransformation(Vector(1, 1, 1), Vector(15, 25, 35), Vector(2, 1, -1.5f));
    EXPECT_LT(m.Det(), 0.0f);
    m.Decompose(&t, &a, &s);
    EXPECT_NEAR(s.z, -1.5f, 1e-5f);
    Matrix rebuilt;
    rebuilt.LoadComplexTransformation(t, a, s);
    ExpectNear(rebuilt, m, 1e-4f);

    // Both gimbal branches: y = 90 and y = 270 with z folded into x.
    for (float y : {90.0f, -90.0f}) {
        m.LoadComplexTransformation(Vector(0, 0, 0), Vector(30, y, 0), Vector(1, 1, 1));
        m.Decompose(nullptr, &a, nullptr);
        EXPECT_NEAR(a.y, y > 0 ? 90.0f : 270.0f, 1e-3f);
        EXPECT_EQ(a.z, 0.0f);
        rebuilt.LoadComplexTransformation(Vector(0, 0, 0), a, Vector(1, 1, 1));
        ExpectNear(rebuilt, m, 1e-4f);
    }

    // Rows are divided by their scale, as written: here c / |row| reaches the gimbal
    // threshold 0.999999 while c x (1 / |row|) falls one step short of it.
    m.Set(Vector(0.00255860295f, -0.000597004371f, 1.84704185f, 0), Vector(0, 1, 0, 0), Vector(-1, 0, 0, 0),
          Vector(0, 0, 0, 1));
    m.Decompose(nullptr, &a, nullptr);
    EXPECT_NEAR(a.y, 270.0f, 1e-4f);
    EXPECT_EQ(a.z, 0.0f);

    // Random round trips through the rebuilt matrix.
    std::mt19937 rng(3);
    for (int n = 0; n < 200; ++n) {
        m = RandomAffine(rng);
        m.Decompose(&t, &a, &s);
        for (int i = 0; i < 3; ++i) {
            EXPECT_GE(a[i], 0.0f);
            EXPECT_LE(a[i], 360.0f);
        }
        rebuilt.LoadComplexTransformation(t, a, s);
        ExpectNear(rebuilt, m, 5e-4f);
    }
}

TEST(Matrix, AlignedToTargetKeepsAxisLengthsAndBlendsPosition) {
    Matrix src, tgt, out;
    src.LoadComplexTransformation(Vector(0, 0, 0), Vector(0, 0, 0), Vector(2, 3, 4));
    tgt.LoadComplexTransformation(Vector(10, 0, 0), Vector(0, 90, 0), Vector(1, 1, 1));
    Matrix general;
    general.LoadComplexTransformation(Vector(10, 4, 8), Vector(20, 40, 60), Vector(1, 1, 1));
    for (uint32_t mode = 1; mode <= 7; ++mode) {
        SCOPED_TRACE(mode);
        out.LoadAlignedToTarget(src, mode, general, 0.25f);
        ExpectNear(out.r[3], Vector(2.5f, 1, 2, 1));
        ExpectNear(Vector(out.r[0].Length3(), out.r[1].Length3(), out.r[2].Length3(), out.r[0].Dot3(out.r[1])),
                   Vector(2, 3, 4, 0), 1e-4f);
        EXPECT_NEAR(out.r[1].Dot3(out.r[2]), 0.0f, 1e-4f);
    }
    out.LoadAlignedToTarget(src, 1, tgt, 1.0f);  // the target's directions
    ExpectNear(out.r[0], Vector(0, 0, -2, 0));
    ExpectNear(out.r[2], Vector(4, 0, 0, 0));
    out.LoadAlignedToTarget(src, 2, tgt, 0.0f);  // z faces the target
    ExpectNear(out.r[2], Vector(4, 0, 0, 0));
    ExpectNear(out.r[1], Vector(0, 3, 0, 0));
    // Source and target at one place: nothing to normalise, no NaN.
    out.LoadAlignedToTarget(src, 2, src, 0.5f);
    for (int k = 0; k < 16; ++k) EXPECT_FALSE(std::isnan(out.At(k / 4, k % 4)));
}

namespace {

// q and -q are one rotation: compare up to sign.
void ExpectSameRotation(const Quaternion& a, const Quaternion& b, float tol = 1e-5f) {
    const float s = a.Dot(b) < 0 ? -1.0f : 1.0f, d[4] = {a.x - s * b.x, a.y - s * b.y, a.z - s * b.z, a.w - s * b.w};
    for (float c : d) EXPECT_NEAR(c, 0.0f, tol);
}

Quaternion Axis(float x, float y, float z, float degrees) {
    Quaternion q;
    q.SetAxisAlpha(Vector(x, y, z), degrees);
    return q;
}

}  // namespace

TEST(Quaternion, LoadMatrixRoundTripsOnEveryBranch) {
    // trace > 0, then the largest diagonal element at x, y and z (180 degree turns).
    const Quaternion cases[] = {Axis(1, 2, 3, 40), Axis(1, 0, 0, 180), Axis(0, 1, 0, 180), Axis(0, 0, 1, 180),
                                Axis(1, 0.1f, 0.2f, 170), Axis(0.1f, 1, 0.2f, 170), Axis(0.2f, 0.1f, 1, 170)};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1, 1), ang(-360, 360);
    for (int n = 0; n < 507; ++n) {  // the cases, then random rotations
        Quaternion q = n < 7 ? cases[n] : Axis(u(rng), u(rng), u(rng) + 0.01f, ang(rng)), back;
        Matrix m;
        m.LoadQuaternion(q);
        back.LoadMatrix(m);
        ExpectSameRotation(back, q, 2e-5f);
    }
}

TEST(Quaternion, ProductComposesRotations) {
    Quaternion a = Axis(0, 0, 1, 90), b = Axis(1, 0, 0, 90), ab;
    ab.Mul(a, b);  // Hamilton a (x) b
    // Hand-worked: (0,0,s,c) (x) (s,0,0,c) with s = c = sqrt(1/2).
    ExpectSameRotation(ab, Quaternion(0.5f, 0.5f, 0.5f, 0.5f), 1e-6f);
    Quaternion c = a;
    c.Mul(b);
    EXPECT_EQ(c, ab);
    Quaternion inv = a, id;
    inv.Conjugate();
    id.Mul(a, inv);
    ExpectSameRotation(id, Quaternion::ZERO);

    // Any two rotations: the product's matrix is b's rotation followed by a's.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int n = 0; n < 100; ++n) {
        Quaternion p = Axis(u(rng), u(rng), u(rng), 360 * u(rng)), q = Axis(u(rng), u(rng), u(rng), 360 * u(rng)), pq;
        pq.Mul(p, q);
        Matrix mp, mq, mpq, both;
        mp.LoadQuaternion(p);
        mq.LoadQuaternion(q);
        mpq.LoadQuaternion(pq);
        both.Mul(mp, mq);
        for (int k = 0; k < 16; ++k) EXPECT_NEAR(mpq.At(k / 4, k % 4), both.At(k / 4, k % 4), 1e-5f) << n << " " << k;
    }
}

TEST(Quaternion, SlerpEndpointsMidpointAndSignFlip) {
    Quaternion a = Axis(0, 1, 0, 0), b = Axis(0, 1, 0, 90), r;
    for (float t : {0.0f, 0.5f, 1.0f}) {
        r.Slerp(a, b, t);
        ExpectSameRotation(r, Axis(0, 1, 0, 90 * t));
    }

    // q and -q are one rotation: the blend takes the short way for either sign.
    const Quaternion tilted = Axis(0.3f, 1, 0.5f, 100);
    Quaternion negB(-tilted.x, -tilted.y, -tilted.z, -tilted.w), r2;
    for (float t = 0; t <= 1.0f; t += 0.125f) {
        r.Slerp(a, tilted, t);
        r2.Slerp(a, negB, t);
        ExpectSameRotation(r, r2);
        EXPECT_NEAR(r.Dot(r), 1.0f, 1e-5f);  // spherical weights keep unit length
    }
    // Nearly equal inputs take linear weights: the result is the plain blend.
    Quaternion c = Axis(0, 1, 0, 1), d = Axis(0, 1, 0, 3);
    ASSERT_LE(1.0f - c.Dot(d), 0.001f);
    r.Slerp(c, d, 0.25f);
    EXPECT_FLOAT_EQ(r.y, 0.75f * c.y + 0.25f * d.y);
    EXPECT_FLOAT_EQ(r.w, 0.75f * c.w + 0.25f * d.w);
}

TEST(VectorSinCos, MatchesLibmOverAWideRange) {
    Vector s, c;
    std::mt19937 rng(4);
    for (float range : {4.0f, 100.0f, 10000.0f}) {
        std::uniform_real_distribution<float> u(-range, range);
        double worst = 0;
        for (int n = 0; n < 20000; ++n) {
            Vector a(u(rng), u(rng), u(rng), u(rng));
            VectorSinCos(a, &s, &c);
            for (int i = 0; i < 4; ++i)  // reference in double from the same float angle
                worst = std::fmax(worst, std::fmax(std::fabs(s[i] - std::sin(double(a[i]))), std::fabs(c[i] - std::cos(double(a[i])))));
        }
        // Within a few float steps of the argument's own rounding.
        EXPECT_LT(worst, range <= 4 ? 3e-7 : range * 2e-8 + 3e-7) << range;
    }
}

TEST(RandomGenerator, StepsWordZeroAsTheClassicGenerator) {
    RandomGenerator g;
    g.SetState(1);
    // state 1 -> 2745024 -> ...; output is the old state >> 16.
    EXPECT_EQ(g.Next(), 0u);
    EXPECT_EQ(g.state[0], 2745024u);
    EXPECT_EQ(g.Next(), 41u);
    EXPECT_EQ(g.Next(), (2745024u * 214013u + 2531011u) >> 16);

    os::ManualClock clock(0x123456789ALL);
    clock.Install();
    g.Seed();
    const uint32_t seeded[5] = {0x3456789Au, 0x3456789Au, 0x1A2B3C4Du, 0x8D159E26u, 0x468ACF13u};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g.state[i], seeded[i]) << i;
    SeedEngineRandomGenerators();  // every engine generator from the clock
    for (const RandomGenerator& e : gRandomGenerators) EXPECT_EQ(std::vector<uint32_t>(e.state, e.state + 5), std::vector<uint32_t>(seeded, seeded + 5));
    clock.Uninstall();
}

TEST(CatmullRom, EndpointsTangentAndNearestPoint) {
    Vector p0(-1, 0, 0, 1), p1(0, 0, 0, 1), p2(1, 1, 0, 1), p3(2, 3, 1, 1);
    EXPECT_EQ(CatmullRomPoint(0, p0, p1, p2, p3), p1);
    EXPECT_LT(CatmullRomPoint(1, p0, p1, p2, p3).DistanceSquaredXYZ(p2), 1e-12f);
    // The tangent matches a finite difference of the point.
    for (float t : {0.1f, 0.5f, 0.9f}) {
        Vector d = (CatmullRomPoint(t + 1e-3f, p0, p1, p2, p3) - CatmullRomPoint(t - 1e-3f, p0, p1, p2, p3)) * 500.0f;
        Vector tan = CatmullRomTangent(t, p0, p1, p2, p3);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(d[i], tan[i], 2e-3f);
    }

    // Evenly spaced collinear points give a straight, uniformly parametrised segment.
    Vector a(0, 0, 0, 1), b(10, 0, 0, 1), c(20, 0, 0, 1), d(30, 0, 0, 1);
    Vector point;
    float t = -1, length = -1;
    float d2 = CatmullRomNearestPoint(&point, &t, &length, Vector(13, 4, 0, 1), a, b, c, d);
    EXPECT_NEAR(point.x, 13.0f, 10.0f / 256);
    EXPECT_NEAR(t, 0.3f, 1.0f / 256);
    EXPECT_NEAR(length, point.x - 10.0f, 1e-4f);
    EXPECT_NEAR(d2, 16.0f + (point.x - 13) * (point.x - 13), 1e-3f);
    // Beyond the end: the last sample with the whole length.
    CatmullRomNearestPoint(&point, &t, &length, Vector(50, 0, 0, 1), a, b, c, d);
    EXPECT_EQ(t, 1.0f);
    EXPECT_NEAR(length, 10.0f, 1e-4f);
    EXPECT_NEAR(CatmullRomNearestPoint(nullptr, nullptr, nullptr, Vector(5, 0, 0, 1), a, b, c, d), 25.0f, 1e-4f);
}

TEST(DequantizeInt16Vector, MapsTheFullRangeOntoMinusOneToOne) {
    Vector v = DequantizeInt16Vector(Vector(-32768, 32767, 0, -16384));
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i], (Vector(-1, 1, 0, -0.5f)[i]), 1e-7f) << i;
}

TEST(BezierSolveT, SolvesTheCurveParameter) {
    // Linear controls: the start value is already the answer.
    for (float x : {0.0f, 0.25f, 0.7f, 1.0f}) EXPECT_FLOAT_EQ(BezierSolveT(0, 1.0f / 3, 2.0f / 3, 1, x), x);
    // An ease curve: x(t) reaches x within the stop tolerance.
    const float x0 = 0, x1 = 0.05f, x2 = 0.95f, x3 = 1;
    for (float x = 0.05f; x < 1.0f; x += 0.1f) {
        float t = BezierSolveT(x0, x1, x2, x3, x);
        float u = 1 - t;
        float xt = u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
        EXPECT_NEAR(xt, x, 0.011f) << x;
    }
    // Keys at one time: no division by zero.
    EXPECT_TRUE(BezierSolveT(2, 2, 2, 2, 1.5f) == 0.0f && BezierSolveT(2, 2, 2, 2, 2.0f) == 1.0f);
    // A flat derivative stops the iteration instead of dividing by it.
    EXPECT_TRUE(std::isfinite(BezierSolveT(0, 0, 1, 1, 0.001f)));
}
