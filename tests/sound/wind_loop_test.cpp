// test-depends: sample_data
// The sample's wind is a loop: played round and round, its last sample runs on into its
// first with no click: a step no larger than 99 in 100 of those the sound takes by itself
// (the wind is low-passed noise, so a plain cut jumps by its level, well past that). Checked on the
// built file as sox decodes it, so the encoder's edges count too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ShellCommand.h"

namespace {

TEST(WindLoop, TheSeamStepsNoFurtherThanTheSoundItselfAlmostAlways) {
    const std::string wind = PROJECT_BINARY_ROOT "/sample_data/sounds/Wind.ogg";
    const std::string raw = PROJECT_BINARY_ROOT "/wind_loop_test.raw";
    ASSERT_TRUE(shelltest::Shell("sox '" + wind + "' -t raw -e signed -b 16 -L -c 1 '" + raw + "'")) << wind;
    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(raw);
    std::vector<int16_t> x(bytes.size() / 2);
    if (!x.empty()) std::memcpy(x.data(), bytes.data(), x.size() * 2);
    // Four seconds at 48 kHz: a loop of whole seconds, nothing added at either end.
    ASSERT_EQ(x.size(), 4u * 48000u);
    std::vector<int> steps;
    for (size_t i = 1; i < x.size(); ++i) steps.push_back(std::abs(x[i] - x[i - 1]));
    auto p99 = steps.begin() + ptrdiff_t(steps.size() * 99 / 100);
    std::nth_element(steps.begin(), p99, steps.end());
    const int seam = std::abs(x.front() - x.back());
    EXPECT_GT(*p99, 0) << "the wind is silent";
    EXPECT_LE(seam, *p99) << "last sample " << x.back() << ", first " << x.front();
}

}  // namespace
