#include <gtest/gtest.h>

#include <random>
#include <set>

#include "core/IdAllocator.h"

TEST(IdAllocator, ReusesReleasedIdsAndLowersTheTop) {
    IdAllocator ids;
    EXPECT_EQ(ids.Allocate(), 0u);
    EXPECT_EQ(ids.Allocate(), 1u);
    EXPECT_EQ(ids.Allocate(), 2u);
    ids.Release(1);
    EXPECT_EQ(ids.Allocate(), 1u);
    ids.Release(1);
    ids.Release(2);  // top: next goes to 2, then to 1 because 1 is free too
    EXPECT_EQ(ids.NextId(), 1u);
    EXPECT_EQ(ids.ReleasedCount(), 0u);
    EXPECT_EQ(ids.Allocate(), 1u);

    // Most recently released first.
    for (int i = 0; i < 4; ++i) ids.Allocate();  // 2..5
    ids.Release(3);
    ids.Release(2);
    EXPECT_EQ(ids.Allocate(), 2u);
    EXPECT_EQ(ids.Allocate(), 3u);
    EXPECT_EQ(ids.Allocate(), 6u);

    ids.Reset();
    EXPECT_EQ(ids.Allocate(), 0u);
}

TEST(IdAllocator, DuplicateOrUnknownReleaseIsIgnored) {
    IdAllocator ids;
    for (int i = 0; i < 5; ++i) ids.Allocate();
    ids.Release(2);
    ids.Release(2);
    ids.Release(9);
    EXPECT_EQ(ids.ReleasedCount(), 1u);
    EXPECT_EQ(ids.Allocate(), 2u);
    EXPECT_EQ(ids.Allocate(), 5u);  // not 2 again

    // Random use never hands out an id that is in use.
    std::mt19937 rng(8);
    std::set<uint32_t> live;
    IdAllocator r;
    for (int n = 0; n < 5000; ++n) {
        if (live.empty() || rng() % 3) {
            uint32_t id = r.Allocate();
            EXPECT_TRUE(live.insert(id).second) << id;
        } else {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            r.Release(*it);
            if (rng() % 4 == 0) r.Release(*it);  // careless double release
            live.erase(it);
        }
        ASSERT_LE(r.NextId(), live.size() + r.ReleasedCount());
    }
}
