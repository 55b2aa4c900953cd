// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"

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
