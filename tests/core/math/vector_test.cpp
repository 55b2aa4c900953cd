// test-sanitize: thread address
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

#include "CaptureLogSink.h"
#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"

TEST(Vector, PlaneHelpers) {
    Vector plane;
    // Points counter-clockwise seen from +y in a left-handed frame give the +y normal.
    ASSERT_TRUE(plane.BuildPlaneFromPoints(Vector(0, 2, 0), Vector(1, 2, 0), Vector(0, 2, 1)));
    EXPECT_NEAR(std::fabs(plane.y), 1.0f, 1e-6f);
    EXPECT_NEAR(plane.y * 2 + plane.w, 0.0f, 1e-6f);  // a lies on the plane
    Vector keep = plane;
    EXPECT_FALSE(plane.BuildPlaneFromPoints(Vector(0, 0, 0), Vector(1, 1, 1), Vector(2, 2, 2)));
    EXPECT_EQ(plane, keep);

    Vector ground(0, 1, 0, -1);  // y = 1
    Vector p;
    ASSERT_TRUE(p.ProjectOntoPlane(Vector(1, -1, 2), Vector(0, 3, 0, 1), ground));
    EXPECT_EQ(p, Vector(2, 1, 4, 1));
    EXPECT_FALSE(p.ProjectOntoPlane(Vector(1, 0.0005f, 0), Vector(0, 3, 0, 1), ground));

    float t = -1;
    ASSERT_TRUE(p.ProjectForwardOntoPlane(ground, Vector(0, 5, 0, 1), Vector(0, -2, 0), &t));
    EXPECT_FLOAT_EQ(t, 2.0f);
    EXPECT_FLOAT_EQ(p.y, 1.0f);
    EXPECT_FALSE(p.ProjectForwardOntoPlane(ground, Vector(0, 5, 0, 1), Vector(0, 2, 0), &t));  // behind

    Vector r;
    r.Reflect(Vector(1, -1, 0), Vector(0, 1, 0));
    EXPECT_EQ(r, Vector(1, 1, 0));
    r.ProjectOntoPlane(Vector(1, -1, 3), Vector(0, 1, 0));
    EXPECT_EQ(r, Vector(1, 0, 3));

    Matrix m;
    m.LoadTranslation(5, 0, 0);
    Vector n(1, 0, 0), pt(1, 0, 0, 1);
    n.Transform3DNormal(m);
    pt.Transform3D(m);
    EXPECT_TRUE(n == Vector(1, 0, 0, 0) && pt == Vector(6, 0, 0, 1));
    // A plane moves with a point transform through the inverse transpose.
    Matrix inv, it;
    inv.Inverse(m);
    it.Transpose(inv);
    Vector xPlane(1, 0, 0, -1);  // x = 1
    xPlane.TransformPlane(it);
    EXPECT_NEAR(xPlane.Dot3(pt) + xPlane.w, 0.0f, 1e-6f);
}

TEST(Vector, TextAndColourForms) {
    EXPECT_EQ(Vector(1, 0.5f, 0, 1).GetRGBA(), 0xFFFF7F00u);
    EXPECT_EQ(Vector(-3, 7, NAN, 0.5f).GetRGBA(), 0x7F00FF00u);
    EXPECT_STREQ(Vector(1, -2, 0.5f, 0).ToString(), "[1.000000, -2.000000, 0.500000, 0.000000]");
    // Each thread has its own buffer.
    const char* mine = Vector(1, 1, 1, 1).ToString();
    std::string other;
    std::thread th([&] { other = Vector(2, 2, 2, 2).ToString(); });
    th.join();
    EXPECT_STREQ(mine, "[1.000000, 1.000000, 1.000000, 1.000000]");
    EXPECT_EQ(other, "[2.000000, 2.000000, 2.000000, 2.000000]");

    CaptureLogSink sink;
    sink.Attach();
    Vector(1, 2, 3, 4).Log(0, 2, "pos");
    Vector(1, 2, 3, 4).Log(0, 2);
    auto msgs = sink.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].text + "|" + msgs[1].text, "pos 1.000000, 2.000000, 3.000000, 4.000000|1.000000, 2.000000, 3.000000, 4.000000");
}

TEST(HDRColor, IntegerArithmetic) {
    EXPECT_EQ(HDRColor(), HDRColor(0, 0, 0, 0, 1.0f));
    HDRColor a(3, 200, 200, 10, 1.0f), b(0, 100, 100, 250, 3.0f), r;
    r.Lerp(a, b, 1.0f);
    EXPECT_EQ(r.c[0], 0);
    r.Lerp(a, b, 0.5f);  // k = 128
    EXPECT_EQ(r.c[1], 150);
    EXPECT_EQ(r.c[3], 10 + 240 * 128 / 255);
    EXPECT_FLOAT_EQ(r.intensity, 2.0f);

    // Intensities with low mantissa bits set, so a channel loop that runs one past
    // the four channels shows in the intensity beside them.
    const float i1 = 1.1f, i2 = 0.3f;
    HDRColor s(200, 0, 255, 255, i1);
    s.Add(HDRColor(100, 5, 1, 0, i2));
    EXPECT_EQ(s, HDRColor(255, 5, 255, 255, i1 + i2));

    HDRColor m(255, 128, 10, 0, i1);
    m.Modulate(HDRColor(128, 128, 255, 9, i2));
    EXPECT_EQ(m, HDRColor(128, 64, 10, 0, i1 * i2));

    HDRColor sc;
    sc.SetScaled(HDRColor(255, 100, 0, 200, 4.0f), 0.5f);
    EXPECT_EQ(sc, HDRColor(128, 50, 0, 100, 2.0f));
    sc.intensity = i1;
    sc.AddScaled(HDRColor(255, 255, 255, 255, i2), 3.0f);  // saturates
    EXPECT_EQ(sc, HDRColor(255, 255, 255, 255, i1 + i2 * 3.0f));
    // Out of contract: far negative, huge and NaN weights clamp, never wrap.
    const struct {
        float f;
        uint8_t channel;
    } weights[] = {{-1.0f, 0}, {-1e9f, 0}, {NAN, 0}, {1e9f, 255}};
    for (const auto& w : weights) {
        sc.SetScaled(HDRColor(255, 255, 255, 255, 1.0f), w.f);
        EXPECT_EQ(sc.c[0], w.channel) << w.f;
    }
}

TEST(HDRColor, VectorConversions) {
    HDRColor c;
    c.SetFromVector(Vector(2, 1, 0, 1));
    EXPECT_FLOAT_EQ(c.intensity, 2.0f);
    EXPECT_EQ(c, HDRColor(255, 127, 0, 255, 2.0f));
    c.SetFromVector(Vector(0.5f, -1, 0.25f, 3));  // intensity at least 1, channels clamped
    EXPECT_EQ(c, HDRColor(127, 0, 63, 255, 1.0f));

    HDRColor h(255, 51, 102, 204, 2.0f);
    Vector v = h.ToVector();
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(v[i], (Vector(2, 0.4f, 0.8f, 0.8f)[i]));
    SetRenderVisualizationMode(0);
    Vector lin = h.ToLinearVector();
    EXPECT_NEAR(lin.x, std::pow(2.0f, 2.2f), 1e-5f);
    EXPECT_FLOAT_EQ(lin.w, 0.8f);  // alpha stays linear
    SetRenderVisualizationMode(3);
    EXPECT_EQ(h.ToLinearVector(), v);
    SetRenderVisualizationMode(0);
}
