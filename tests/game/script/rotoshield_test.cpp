// test-sources: ../../engine/NumpyReference.cpp
// The rotating shield's aiming against the numpy reference
// (rotoshield_reference.py) on seeded random inputs, and the cases worked by
// hand: the turn the shorter way round, ties to the first candidate, masks
// shorter than the circle and degenerate inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "game/script/RotoShield.h"

namespace {

float Best(float angle, const std::vector<float>& bearings, const std::vector<int32_t>& mask, float sector) {
    return rotoshield::ComputeMaxCoverAngle(angle, bearings.data(), static_cast<uint32_t>(bearings.size()), mask.data(),
                                            static_cast<uint32_t>(mask.size()), sector);
}

TEST(RotoShield, MatchesTheReferenceOnRandomInputs) {
    std::mt19937 rng(76);
    std::uniform_real_distribution<float> angle(0.0f, 360.0f), offset(-50.0f, 50.0f), wide(-20000.0f, 20000.0f);
    std::ostringstream input;
    struct Case {
        float angle, sector;
        std::vector<float> bearings;
        std::vector<int32_t> mask;
    };
    std::vector<Case> cases;
    std::vector<std::pair<float, float>> offsets;
    for (int i = 0; i < 300; ++i) {
        Case c;
        c.angle = angle(rng);
        const uint32_t sectors = std::uniform_int_distribution<uint32_t>(1, 16)(rng);
        // Most masks cover the circle; some are shorter, some sector sizes
        // overshoot.
        const float exact = 360.0f / static_cast<float>(sectors);
        c.sector = i % 5 == 0 ? exact * 0.7f : (i % 7 == 0 ? exact * 1.3f : exact);
        for (uint32_t j = 0; j < sectors; ++j) c.mask.push_back(std::uniform_int_distribution<int32_t>(-1, 3)(rng));
        const uint32_t n = std::uniform_int_distribution<uint32_t>(0, 12)(rng);
        for (uint32_t j = 0; j < n; ++j)
            c.bearings.push_back(i % 11 == 0  ? wide(rng)  // far outside the circle, either sign
                                 : i % 3 == 0 ? std::round(angle(rng))
                                              : angle(rng));
        input << "best " << FloatBits(c.angle) << ' ' << FloatBits(c.sector) << ' ' << n;
        for (float b : c.bearings) input << ' ' << FloatBits(b);
        input << ' ' << c.mask.size();
        for (int32_t m : c.mask) input << ' ' << m;
        input << '\n';
        cases.push_back(c);
    }
    for (int i = 0; i < 200; ++i) {
        offsets.emplace_back(offset(rng), i % 10 == 0 ? 0.0f : offset(rng));
        input << "bearing " << FloatBits(offsets.back().first) << ' ' << FloatBits(offsets.back().second) << '\n';
    }
    const std::vector<std::string> lines = RunNumpyReference("../game/script/rotoshield_reference.py", input.str());
    ASSERT_EQ(lines.size(), cases.size() + offsets.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(FloatBits(Best(c.angle, c.bearings, c.mask, c.sector)), lines[i]) << "case " << i;
    }
    // numpy's float atan2 and the C library's may differ in the last bit, which
    // the turn past 3600 degrees keeps as one step of 1/4096.
    for (size_t i = 0; i < offsets.size(); ++i) {
        EXPECT_NEAR(rotoshield::Bearing(offsets[i].first, offsets[i].second), BitsToFloat(lines[cases.size() + i]),
                    5e-4)
            << "offset " << i;
    }
}

TEST(RotoShield, BearingsOfTheAxes) {
    const struct { float dx, dz, bearing; } cases[] = {{0, 5, 0}, {5, 0, 90}, {0, -5, 180}, {-5, 0, 270}};
    for (const auto& c : cases) EXPECT_NEAR(rotoshield::Bearing(c.dx, c.dz), c.bearing, 1e-3) << c.dx << "," << c.dz;
}

TEST(RotoShield, HandWorkedCases) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        float angle;
        std::vector<float> bearings;
        std::vector<int32_t> mask;
        float sector;
        float best;
    } cases[] = {
        // One sector of 360: the candidate puts the target mid-sector, 100 - 180
        // = 280.
        {"one target, one sector", 0, {100}, {1}, 360, 280},
        // Two sectors of 180, only the second covers: 10 - 270 wraps to 100.
        {"only covering sectors propose", 350, {10}, {0, 1}, 180, 100},
        // Candidates 10 and 190 for bearing 100 with two covering sectors: from
        // 350 the
        // turn to 10 is 20 degrees, not 340.
        {"turn across zero", 350, {100}, {1, 1}, 180, 10},
        // Equal scores (each candidate covers both targets, same turn): the first
        // found.
        {"ties go to the first", 180, {0, 0}, {1, 1}, 180, 270},
        {"no bearings", 42, {}, {1}, 360, 42},
        {"no covering sector", 42, {100}, {0, 0}, 180, 42},
        {"sector size 0", 42, {100}, {1}, 0, 42},
        {"negative sector size", 42, {100}, {1}, -30, 42},
        {"infinite sector size", 42, {100}, {1}, inf, 42},
        {"NaN sector size", 42, {100}, {1}, nan, 42},
        {"non-finite bearings take no part", 0, {nan, 100, inf}, {1}, 360, 280},
        // A mask of one 90-degree sector: targets outside it count nothing rather
        // than
        // reading past the mask; the candidate for 100 covers only itself.
        {"mask shorter than the circle", 0, {100, 300}, {1}, 90, 55},
    };
    for (const auto& c : cases) EXPECT_FLOAT_EQ(Best(c.angle, c.bearings, c.mask, c.sector), c.best) << c.what;
}

TEST(RotoShield, LongTablesAreCut) {
    // Bearings past the limit take no part: the crowd at 200 beyond it (candidate
    // 110) would outnumber the one at 10 (candidate 280) otherwise.
    std::vector<float> bearings(rotoshield::kMaxBearings, 10.0f);
    bearings.insert(bearings.end(), 3 * rotoshield::kMaxBearings, 200.0f);
    EXPECT_FLOAT_EQ(Best(0, bearings, {1, 0}, 180), 280.0f);
    // Sectors past the limit are never read.
    std::vector<int32_t> mask(rotoshield::kMaxSectors, 0);
    mask.push_back(1);
    EXPECT_FLOAT_EQ(Best(7, {100}, mask, 1), 7.0f);
}

}  // namespace
