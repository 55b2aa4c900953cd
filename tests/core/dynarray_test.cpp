// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/Dynarray.h"
#include "core/math/Vector.h"

TEST(Dynarray, GrowthDoublesFromTwoAndKeepsAlignment) {
    Dynarray<Vector> v;
    EXPECT_EQ(v.capacity, 0u);
    uint32_t seen[6];
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(DynarrayAdd16(v, Vector(float(i), 0, 0, 0)), i);
        seen[i] = v.capacity;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data) % 16, 0u);
    }
    EXPECT_EQ(seen[0], 2u);
    EXPECT_EQ(seen[2], 4u);
    EXPECT_EQ(seen[4], 8u);
    EXPECT_EQ(v[5].x, 5.0f);
    ASSERT_TRUE(v.Resize(20));
    EXPECT_EQ(v.capacity, 32u);
    EXPECT_EQ(v[19], Vector());
    EXPECT_EQ(v[3].x, 3.0f);
    ASSERT_TRUE(v.Resize(2));
    EXPECT_EQ(v.count, 2u);
    // Appending one of the array's own elements while it grows copies the value
    // before the old storage is freed.
    Dynarray<PathString> own;
    PathString first{};
    std::snprintf(first.text, sizeof first.text, "%s", "maps/first");
    own.Add(first);
    own.Add(PathString{});
    ASSERT_EQ(own.count, own.capacity);
    EXPECT_EQ(own.Add(own[0]), 2u);
    EXPECT_STREQ(own[2].text, "maps/first");
    Dynarray<Vector> r;
    ASSERT_TRUE(DynarrayReserve16(r, 5));
    EXPECT_EQ(r.capacity, 8u);
    EXPECT_EQ(r.count, 0u);
}

TEST(Dynarray, PointerArrayOperations) {
    int a = 1, b = 2, c = 3;
    Dynarray<int*> p;
    EXPECT_TRUE(p.Insert(&a, 0));
    EXPECT_EQ(p.capacity, 2u);
    EXPECT_TRUE(p.Insert(&c, 1));  // index == count appends
    EXPECT_TRUE(p.Insert(&b, 1));
    EXPECT_EQ(p.capacity, 4u);
    EXPECT_EQ(p[0], &a);
    EXPECT_EQ(p[1], &b);
    EXPECT_EQ(p[2], &c);
    EXPECT_EQ(p.GetAt(2), &c);
    EXPECT_EQ(p.GetAt(3), nullptr);
    EXPECT_EQ(p.GetAt(0xFFFFFFFFu), nullptr);

    EXPECT_EQ(p.AddZeroed(2), 3u);
    EXPECT_EQ(p[4], nullptr);
    p.Add(&b);
    // b at 1 and 5, zeros at 3 and 4: order of the rest kept.
    EXPECT_EQ(DynarrayRemoveAllEqual(p, &b), 6u);
    ASSERT_EQ(p.count, 4u);
    EXPECT_EQ(p[0], &a);
    EXPECT_EQ(p[1], &c);
    EXPECT_EQ(p[2], nullptr);
    EXPECT_TRUE(DynarrayResizePtr(p, 1));
    EXPECT_EQ(p.count, 1u);

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

TEST(Dynarray, OwnedPointersAndSafeElements) {
    Dynarray<Counted*> owned;
    owned.Add(new Counted);
    owned.Add(nullptr);
    owned.Add(new Counted);
    EXPECT_EQ(Counted::live, 2);
    DeleteOwnedPointerArray(owned);
    EXPECT_EQ(Counted::live, 0);
    EXPECT_EQ(owned.data, nullptr);

    DynarraySafe<std::string> s;
    for (int i = 0; i < 9; ++i) s.Add(std::string(40, char('a' + i)));  // heap strings moved on growth
    s.Insert(std::string("first"), 0);
    s.Add(s[0]);  // element of the array itself, during growth
    s.Remove(1);
    ASSERT_EQ(s.count, 10u);
    EXPECT_EQ(s[0], "first");
    EXPECT_EQ(s[1], std::string(40, 'b'));
    EXPECT_EQ(s[9], "first");
    DynarraySafe<std::string> t = s;
    s.Resize(3);
    EXPECT_EQ(t.count, 10u);
    EXPECT_EQ(t[8], std::string(40, 'i'));
}

TEST(Dynarray, SortedNamesAndPaths) {
    SortedNameList names;
    for (const char* n : {"Alpha", "beta", "Gamma", "delta_2", "ZETA"}) names.Add(n);
    // Sorted case-insensitively: alpha, beta, delta_2, gamma, zeta.
    names[2] = "delta_2";
    names[3] = "Gamma";
    EXPECT_EQ(names.Find("ALPHA"), 0);
    EXPECT_EQ(names.Find("gamma"), 3);
    EXPECT_EQ(names.Find("Zeta"), 4);
    EXPECT_EQ(names.Find("epsilon"), -1);
    EXPECT_EQ(names.Find(nullptr), -1);
    EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
    EXPECT_EQ(CompareNoCase("MiXeD", "mixed"), 0);

    PathStringArray paths;
    ASSERT_TRUE(paths.Resize(3));
    EXPECT_EQ(paths[2].text[0], 0);
    std::snprintf(paths[1].text, sizeof paths[1].text, "%s", "textures/a.dds");
    ASSERT_TRUE(paths.Resize(9));
    EXPECT_STREQ(paths[1].text, "textures/a.dds");
}
