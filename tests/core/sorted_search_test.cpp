// test-sanitize: address
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/SortedSearch.h"

namespace {

SortedSearchResult Search(const std::vector<int>& values, int key, SortedProbe probe) {
    return FindSortedEqual(
        static_cast<uint32_t>(values.size()), [&](uint32_t i) { return key < values[i] ? -1 : key > values[i] ? 1 : 0; },
        probe);
}

constexpr SortedProbe kUpper = SortedProbe::UpperMiddle;
constexpr SortedProbe kLower = SortedProbe::LowerMiddle;

TEST(SortedSearch, EqualKeysGiveTheElementTheProbeOrderReachesFirst) {
    const struct {
        std::vector<int> values;
        int key;
        SortedProbe probe;
        uint32_t index;
        bool found;
    } cases[] = {
        {{}, 3, kUpper, 0, false},
        {{}, 3, kLower, 0, false},
        {{5}, 5, kUpper, 0, true},
        {{5}, 5, kLower, 0, true},
        {{5}, 4, kUpper, 0, false},
        {{5}, 6, kLower, 1, false},
        {{2, 2}, 2, kUpper, 1, true},
        {{2, 2}, 2, kLower, 0, true},
        {{2, 2, 2, 2}, 2, kUpper, 2, true},
        {{2, 2, 2, 2}, 2, kLower, 1, true},
        {{1, 3, 3, 3, 5, 7}, 3, kUpper, 3, true},
        {{1, 3, 3, 3, 5, 7}, 3, kLower, 2, true},
        {{1, 3, 3, 3, 5, 7}, 7, kLower, 5, true},
        {{1, 3, 3, 3, 5, 7}, 4, kUpper, 4, false},
        {{1, 3, 3, 3, 5, 7}, 4, kLower, 4, false},
        {{1, 3, 3, 3, 5, 7}, 0, kUpper, 0, false},
        {{1, 3, 3, 3, 5, 7}, 9, kLower, 6, false},
    };
    for (const auto& c : cases) {
        const SortedSearchResult r = Search(c.values, c.key, c.probe);
        EXPECT_EQ(r.index, c.index) << c.key << " in " << c.values.size() << " values, probe " << int(c.probe);
        EXPECT_EQ(r.found, c.found) << c.key << " in " << c.values.size() << " values, probe " << int(c.probe);
    }
}

// Every sorted range of up to seven values from {0, 1, 2}: a found index holds the key,
// and a missing key's index is where inserting it keeps the range sorted.
TEST(SortedSearch, FindsEveryPresentKeyAndInsertsMissingOnesInOrder) {
    for (uint32_t length = 0; length <= 7; ++length) {
        uint32_t combinations = 1;
        for (uint32_t i = 0; i < length; ++i) combinations *= 3;
        for (uint32_t code = 0; code < combinations; ++code) {
            std::vector<int> values;
            for (uint32_t i = 0, c = code; i < length; ++i, c /= 3) values.push_back(int(c % 3));
            std::sort(values.begin(), values.end());
            for (const SortedProbe probe : {kUpper, kLower})
                for (int key = -1; key <= 3; ++key) {
                    const SortedSearchResult r = Search(values, key, probe);
                    const bool present = std::binary_search(values.begin(), values.end(), key);
                    ASSERT_EQ(r.found, present) << key << " of code " << code << " length " << length;
                    if (present)
                        ASSERT_EQ(values[r.index], key);
                    else
                        ASSERT_EQ(r.index, uint32_t(std::lower_bound(values.begin(), values.end(), key) - values.begin()));
                }
        }
    }
}

}  // namespace
