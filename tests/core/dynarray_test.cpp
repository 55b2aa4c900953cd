// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <vector>

#include "core/Dynarray.h"
#include "core/IdAllocator.h"
#include "core/math/Vector.h"

TEST(Dynarray, GrowthDoublesFromTwoAndKeepsAlignment) {
    Dynarray<Vector> v;
    const uint32_t capacities[] = {2, 2, 4, 4, 8, 8};
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(DynarrayAdd16(v, Vector(float(i), 0, 0, 0)), i);
        EXPECT_EQ(v.capacity, capacities[i]);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data) % 16, 0u);
    }
    ASSERT_TRUE(v.Resize(20));
    EXPECT_EQ(v.capacity, 32u);
    EXPECT_EQ(v[19], Vector());
    EXPECT_EQ(v[3].x, 3.0f);
    // Appending one of the array's own elements while it grows copies it first.
    Dynarray<PathString> own;
    PathString first{};
    std::snprintf(first.text, sizeof first.text, "%s", "maps/first");
    own.Add(first);
    own.Add(PathString{});
    EXPECT_EQ(own.Add(own[0]), 2u);
    EXPECT_STREQ(own[2].text, "maps/first");
    Dynarray<Vector> r;
    ASSERT_TRUE(DynarrayReserve16(r, 5));
    EXPECT_EQ(r.capacity, 8u);
}

TEST(Dynarray, PointerArrayOperations) {
    int a = 1, b = 2, c = 3;
    Dynarray<int*> p;
    EXPECT_TRUE(p.Insert(&a, 0));
    EXPECT_TRUE(p.Insert(&c, 1));  // index == count appends
    EXPECT_TRUE(p.Insert(&b, 1));
    EXPECT_EQ(p.capacity, 4u);
    EXPECT_EQ(p.GetAt(3), nullptr);
    EXPECT_EQ(p.GetAt(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(p.AddZeroed(2), 3u);
    p.Add(&b);
    // b at 1 and 5, zeros at 3 and 4: order of the rest kept.
    EXPECT_EQ(DynarrayRemoveAllEqual(p, &b), 6u);
    EXPECT_EQ(std::vector<int*>(p.data, p.data + p.count), (std::vector<int*>{&a, &c, nullptr, nullptr}));
    EXPECT_TRUE(DynarrayResizePtr(p, 1));
    Dynarray<int*> copy = p;
    copy.Add(&c);
    EXPECT_EQ(p.count, 1u);
    EXPECT_NE(copy.data, p.data);
}

namespace {
struct Counted {
    static int live;
    virtual ~Counted() { --live; }
    Counted() { ++live; }
};
int Counted::live = 0;
}  // namespace

TEST(Dynarray, OwnedPointersAndShrinkingSafeElements) {
    Dynarray<Counted*> owned;
    owned.Add(new Counted);
    owned.Add(nullptr);
    owned.Add(new Counted);
    DeleteOwnedPointerArray(owned);
    EXPECT_EQ(Counted::live, 0);
    EXPECT_EQ(owned.data, nullptr);

}

TEST(Dynarray, SortedNamesAndPaths) {
    SortedNameList names;
    for (const char* n : {"Alpha", "beta", "Gamma", "delta_2", "ZETA"}) names.Add(n);
    names[2] = "delta_2";  // sorted without case: alpha, beta, delta_2, gamma, zeta
    names[3] = "Gamma";
    EXPECT_EQ(names.Find("ALPHA"), 0);
    EXPECT_EQ(names.Find("gamma"), 3);
    EXPECT_EQ(names.Find("Zeta"), 4);
    EXPECT_EQ(names.Find("epsilon"), -1);
    EXPECT_EQ(names.Find(nullptr), -1);
    EXPECT_LT(CompareNoCase("abc", "ABD"), 0);

    PathStringArray paths;
    ASSERT_TRUE(paths.Resize(3));
    std::snprintf(paths[1].text, sizeof paths[1].text, "%s", "textures/a.dds");
    ASSERT_TRUE(paths.Resize(9));
    EXPECT_STREQ(paths[1].text, "textures/a.dds");
    EXPECT_EQ(paths[8].text[0], 0);
}

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
