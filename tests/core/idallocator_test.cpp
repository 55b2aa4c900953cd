#include <gtest/gtest.h>

#include <random>
#include <set>

#include "core/IdAllocator.h"

TEST(IdAllocator, ReusesTheLastReleasedIdAndLowersTheTop) {
    IdAllocator ids;
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(ids.Allocate(), i);
    ids.Release(1);
    ids.Release(2);  // top: next goes to 2, then to 1 because 1 is free too
    EXPECT_EQ(ids.NextId(), 1u);
    EXPECT_EQ(ids.ReleasedCount(), 0u);
    for (int i = 0; i < 5; ++i) ids.Allocate();  // 1..5
    ids.Release(3);
    ids.Release(2);
    ids.Release(2);  // a duplicate or unknown release is ignored
    ids.Release(9);
    EXPECT_EQ(ids.Allocate(), 2u);
    EXPECT_EQ(ids.Allocate(), 3u);
    EXPECT_EQ(ids.Allocate(), 6u);
    ids.Reset();
    EXPECT_EQ(ids.Allocate(), 0u);

    // Random use never hands out an id that is in use.
    std::mt19937 rng(8);
    std::set<uint32_t> live;
    IdAllocator r;
    for (int n = 0; n < 5000; ++n) {
        if (live.empty() || rng() % 3) {
            EXPECT_TRUE(live.insert(r.Allocate()).second);
        } else {
            auto it = std::next(live.begin(), rng() % live.size());
            r.Release(*it);
            if (rng() % 4 == 0) r.Release(*it);  // careless double release
            live.erase(it);
        }
        ASSERT_LE(r.NextId(), live.size() + r.ReleasedCount());
    }
}
