#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"

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
