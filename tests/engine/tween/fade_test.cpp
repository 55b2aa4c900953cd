// The tween's two kinds blend alike: a Fade<Vector> moves every component as a FloatFade
// over that component would, starts from the value it is given, and ends at its target.
#include <gtest/gtest.h>

#include "core/math/Vector.h"
#include "engine/tween/Fade.h"
#include "platform/os/Clock.h"

namespace {

constexpr int64_t kSecond = os::kCounterFrequency;

TEST(FadeTest, VectorKindFollowsTheFloatKindOfEachComponent) {
    const Vector from(1.0f, -2.0f, 10.0f, 1.0f), to(5.0f, 2.0f, -30.0f, 0.0f);
    for (uint32_t curve : {0u, 1u, 2u, 3u}) {
        Fade<Vector> v;
        v.Start(10 * kSecond, from, to, 4.0f, curve);
        FloatFade f[4];
        for (int c = 0; c < 4; ++c) f[c].Start(10 * kSecond, from[c], to[c], 4.0f, curve);
        for (int64_t at : {9 * kSecond, 11 * kSecond, 13 * kSecond, 14 * kSecond, 15 * kSecond}) {
            v.Update(at);
            for (int c = 0; c < 4; ++c) {
                f[c].Update(at);
                EXPECT_EQ(v.current[c], f[c].current) << curve << " " << at << " " << c;
                EXPECT_EQ(v.active, f[c].active);
            }
        }
        EXPECT_FALSE(v.active);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(v.current[c], to[c]);
    }
}

TEST(FadeTest, RestValuesAndRestartFromTheCurrentValue) {
    EXPECT_EQ(FloatFade().current, 1.0f);  // a multiplier at rest
    FloatFade f;
    f.Start(0, 3.0f, 2.0f, 0);
    f.Start(kSecond, 1.0f, 2.0f, 0);  // halfway: restarts from 2
    EXPECT_EQ(f.from, 2.0f);
    f.Update(2 * kSecond);
    EXPECT_EQ(f.current, 1.5f);
}

}  // namespace
