// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "core/Dynarray.h"
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
