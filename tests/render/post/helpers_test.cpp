// The chain's small formulas against the reference: the blur kernel, ramps, the RGB-shift
// amount over the renderer clock, the lookup textures' entry index and texel packing,
// and the composite option strings.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "../RenderTestSupport.h"
#include "PostTestSupport.h"
#include "core/CrtRand.h"
#include "platform/os/Clock.h"
#include "render/PostProcessMath.h"

using namespace rendertest;
using posttest::Reference;

namespace {

std::string Text(float v) {
    std::ostringstream out;
    out.precision(9);
    out << v;
    return out.str();
}

void ExpectClose(float got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 1e-6 * std::max(1.0, std::fabs(want))) << what;
}

TEST(PostHelpers, KernelWeightsAndOffsetsMatchTheReference) {
    for (float sigma : {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 8.0f, 0.0f, -1.0f, NAN, INFINITY, 0.05f, 0.3f, 1e-30f}) {
        SCOPED_TRACE(sigma);
        const GaussKernel k = ComputeGaussKernel(sigma);
        const std::vector<double> want = Numbers(Reference("kernel " + Text(sigma)));
        ASSERT_EQ(want.size(), 7u);
        const float got[7] = {k.centre, k.weight[0], k.weight[1], k.weight[2], k.offset[0], k.offset[1], k.offset[2]};
        for (uint32_t i = 0; i < 7; ++i) {
            EXPECT_TRUE(std::isfinite(got[i])) << i;
            ExpectClose(got[i], want[i], "value " + std::to_string(i));
        }
        // A kernel sums to one.
        EXPECT_NEAR(k.centre + 2.0f * (k.weight[0] + k.weight[1] + k.weight[2]), 1.0f, 1e-5f);
    }
}

TEST(PostHelpers, RampsAtAndBesideTheirThreshold) {
    const float cases[][2] = {{0.0f, 0.1f}, {0.2f, 0.7f}, {0.5f, 0.501f}, {0.5f, 0.5011f}, {0.5f, 0.4989f},
                              {0.3f, 0.3f}, {1.0f, 0.0f}, {0.25f, 0.2509f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Text(c[0]) + " " + Text(c[1]));
        const Ramp r = ComputeRamp(c[0], c[1]);
        const std::vector<double> want = Numbers(Reference("ramp " + Text(c[0]) + " " + Text(c[1])));
        ASSERT_EQ(want.size(), 2u);
        ExpectClose(r.scale, want[0], "scale");
        ExpectClose(r.offset, want[1], "offset");
    }
}

TEST(PostHelpers, RgbShiftFollowsItsCurveOverTheClock) {
    CrtSrand(3);
    float curve[kRgbShiftCurvePoints];
    std::string curveText;
    for (float& v : curve) {
        v = CrtRand() / 16384.0f - 1.0f;
        curveText += " " + Text(v);
    }
    os::ManualClock clock(123456789);
    clock.Install();
    const int64_t start = os::ReadCounter();
    const int64_t steps[] = {0, 1, 793650, 10'000'000, 49'999'999, 49'999'990, 50'000'000, 50'000'001,
                             123'456'789, 10'000'000'000'003LL};
    for (int64_t elapsed : steps) {
        clock.Set(start + elapsed);
        const float got = RgbShiftAmount(curve, os::ReadCounter() - start, os::kCounterFrequency, 0.25f);
        const std::vector<double> want =
            Numbers(Reference("rgbshift " + std::to_string(elapsed) + " 0.25" + curveText));
        ASSERT_EQ(want.size(), 1u);
        EXPECT_NEAR(got, want[0], 1e-5) << "ticks " << elapsed;
    }
    clock.Uninstall();
}

TEST(PostHelpers, LookupIndicesOfEveryTexel) {
    for (uint32_t n : {64u, 1024u}) {
        const std::vector<double> want = Numbers(Reference("lookup " + std::to_string(n) + " 1"));
        ASSERT_EQ(want.size(), n);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t got = LookupIndex(i, n, true);
            // Within 1e-4 of a whole entry either neighbour is right.
            const uint32_t lo = static_cast<uint32_t>(std::floor(want[i] - 1e-4));
            const uint32_t hi = static_cast<uint32_t>(std::floor(want[i] + 1e-4));
            EXPECT_TRUE(got == lo || got == hi) << n << " texel " << i << ": " << got << " for " << want[i];
            EXPECT_EQ(LookupIndex(i, n, false), i);
        }
    }
    EXPECT_EQ(LookupIndex(1023, 1024, true), 480u);  // the highest tone-curve entry read
}

TEST(PostHelpers, TexelsPackClampedChannels) {
    const float cases[][4] = {{0, 0, 0, 0},          {1, 1, 1, 1},       {0.5f, 0.25f, 0.75f, 1},
                              {NAN, -1, 2, INFINITY}, {94 / 255.0f, 1e-9f, 0.999f, -INFINITY}};
    for (const auto& c : cases) {
        std::string args = "pack";
        for (float v : c) args += " " + Text(v);
        const std::vector<double> want = Numbers(Reference(args));
        ASSERT_EQ(want.size(), 1u);
        EXPECT_EQ(PackLookupTexel(Vector(c[0], c[1], c[2], c[3])), static_cast<uint32_t>(want[0])) << args;
    }
}

TEST(PostHelpers, CompositeOptionStringsFollowTheirMask) {
    std::istringstream lines(Reference("options"));
    uint32_t mask = 0, empty = 0;
    for (std::string line; std::getline(lines, line); ++mask) {
        ASSERT_LT(mask, 32u);
        EXPECT_EQ("[" + CompositeOptionString(mask) + "]", line) << mask;
        empty += CompositeOptionString(mask).empty() ? 1 : 0;
    }
    EXPECT_EQ(mask, 32u);
    EXPECT_EQ(empty, 16u);
}

}  // namespace
