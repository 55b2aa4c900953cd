// test-sanitize: thread address
// test-timeout: 120
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "core/text/NameString.h"

namespace {

struct Target : SafePointerRoot {};

TEST(SafePointerTest, ClearedWhenTheTargetDies) {
    SafePointer<Target> a, b;
    auto* c = new SafePointer<Target>;
    {
        Target t;
        a.Assign(&t), b = &t, c->Assign(&t);
        EXPECT_EQ(t.CountSafePointers(), 3u);
        delete c;  // destroying one pointer first leaves the others linked
        EXPECT_EQ(t.CountSafePointers(), 2u);
        a.Assign(&t);  // same target: no change
        EXPECT_EQ(t.CountSafePointers(), 2u);
        Target copy = t;  // a copy does not take the list
        EXPECT_EQ(copy.CountSafePointers(), 0u);
    }
    EXPECT_TRUE(a.Get() == nullptr && b.Get() == nullptr);
    Target u, v;
    a.Assign(&u), a.Assign(&v);
    EXPECT_TRUE(u.CountSafePointers() == 0u && v.CountSafePointers() == 1u);
    // A pointer set to null forgets its old target, which may then die first.
    auto* w = new Target;
    b.Assign(w), b.Assign(nullptr);
    EXPECT_EQ(b.Root(), nullptr);
    delete w;
    v.ClearSafePointers();
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(v.CountSafePointers(), 0u);
}

TEST(SafePointerTest, ArrayGrowthInsertionAndMovesKeepEveryElementLinked) {
    Target t[6];
    using Ptr = SafePointer<Target>;
    DynarraySafe<Ptr> arr;
    for (auto& x : t) arr.Add(Ptr(&x));  // grows 2 -> 4 -> 8
    EXPECT_EQ(arr.capacity, 8u);
    arr.Insert(Ptr(&t[0]), 1);  // overlapping move up, from the end
    arr.Insert(arr[arr.Count() - 1], 0);  // the source element lives in the array
    ASSERT_EQ(arr.Count(), 8u);
    const Target* order[8] = {&t[5], &t[0], &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(arr[i].Get(), order[i]) << i;
    EXPECT_EQ(t[0].CountSafePointers() + t[5].CountSafePointers(), 4u);
    arr.Remove(0);  // overlapping move down
    for (int i = 1; i < 6; ++i) EXPECT_EQ(t[i].CountSafePointers(), 1u) << i;
    DynarraySafe<Ptr> copy = arr;
    EXPECT_EQ(t[1].CountSafePointers(), 2u);
    t[1].ClearSafePointers();
    EXPECT_TRUE(arr[2].Get() == nullptr && copy[2].Get() == nullptr);
    // Element-wise assignment links each destination element, and only those.
    auto* into = new Ptr[2];
    SafePointerArrayAssign(into, &arr[4], 2);
    EXPECT_TRUE(into[0].Get() == &t[3] && into[1].Get() == &t[4]);
    EXPECT_EQ(t[4].CountSafePointers(), 3u);
    delete[] into;
    arr.Release();
    EXPECT_EQ(t[0].CountSafePointers(), 2u);  // only the copy's two remain
}

TEST(NameStringTest, InterningCountsAndPoolTotal) {
    const uint32_t entries = NameString::PoolEntryCount();
    const uint64_t total = NameString::PoolTotalBytes();
    {
        NameString a("Mesh"), b("mesh"), c("Mesh");
        NameString d = a;
        EXPECT_TRUE(a == c && a != b);
        EXPECT_EQ(a.RefCount(), 3u);
        EXPECT_EQ(NameString::PoolEntryCount(), entries + 2);
        EXPECT_EQ(NameString::PoolTotalBytes(), total + 2 * (4 + 9));
        NameString e, f("");
        EXPECT_TRUE(e.IsEmpty() && e == f);
        EXPECT_STREQ(e.CStr(), "");
        d = "other";
        EXPECT_EQ(a.RefCount(), 2u);
        d = c;
        EXPECT_EQ(a.RefCount(), 3u);

        // A sole holder assigned its own text (or a part of it) keeps a valid name:
        // the new text is interned before the old entry is released.
        NameString solo("solo name");
        solo = solo.CStr();
        EXPECT_STREQ(solo.CStr(), "solo name");
        solo.Set(solo.CStr(), 4);
        EXPECT_STREQ(solo.CStr(), "solo");
        EXPECT_EQ(solo.RefCount(), 1u);
    }
    EXPECT_EQ(NameString::PoolEntryCount(), entries);
    EXPECT_EQ(NameString::PoolTotalBytes(), total);
}

TEST(NameStringTest, StreamForm) {
    NameString n("abc");
    uint8_t buf[16];
    ASSERT_EQ(n.Write(buf, 0), 7u);
    EXPECT_EQ(0, std::memcmp(buf, "\x03\x00\x00\x00" "abc", 7));
    n.Write(buf, kSerializeByteSwap);
    EXPECT_EQ(0, std::memcmp(buf, "\x00\x00\x00\x03" "abc", 7));
    EXPECT_EQ(NameString().Write(buf, 0), 4u);

    // A 600-character name (the long-name path) reads back whole.
    std::vector<uint8_t> in(4 + 600, 'q');
    const uint32_t len = 600;
    std::memcpy(in.data(), &len, 4);
    NameString r("stale");
    BoundedReader reader(in.data(), in.size());
    ASSERT_TRUE(r.Read(reader));
    EXPECT_EQ(std::string(r.CStr(), r.Length()), std::string(600, 'q'));

    // Length 0 makes the name empty; a length beyond the input fails.
    const uint8_t zero[4] = {};
    BoundedReader z(zero, 4);
    ASSERT_TRUE(r.Read(z));
    EXPECT_TRUE(r.IsEmpty());
    const uint8_t lying[6] = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'};
    BoundedReader l(lying, 6);
    r = "keep";
    EXPECT_FALSE(r.Read(l));
    EXPECT_STREQ(r.CStr(), "keep");
}

TEST(NameStringTest, ArraysOfNamesHoldAndReleaseTheirEntries) {
    const uint32_t entries = NameString::PoolEntryCount();
    EXPECT_TRUE(NewNameStringArray(0) == nullptr && NewNameStringArray(-1) == nullptr);
    DeleteNameStringArray(nullptr);
    for (int32_t n : {1, 3, 17}) {
        NameString* names = NewNameStringArray(n);
        ASSERT_NE(names, nullptr);
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_TRUE(names[i].IsEmpty());
            names[i] = ("array name " + std::to_string(i)).c_str();
        }
        EXPECT_EQ(NameString::PoolEntryCount(), entries + static_cast<uint32_t>(n));
        ClearNameStringRange(names, static_cast<uint32_t>(n - 1));
        EXPECT_EQ(names[0].IsEmpty(), n > 1);
        EXPECT_STREQ(names[n - 1].CStr(), ("array name " + std::to_string(n - 1)).c_str());
        EXPECT_EQ(NameString::PoolEntryCount(), entries + 1);
        DeleteNameStringArray(names);  // releases the last name too
        EXPECT_EQ(NameString::PoolEntryCount(), entries);
    }
    ClearNameStringRange(nullptr, 0);
}

TEST(NameStringTest, ConcurrentInternAndRelease) {
    const uint32_t entries = NameString::PoolEntryCount();
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &bad] {
            std::vector<NameString> held;
            for (int i = 0; i < 4000; ++i) {
                char text[16];
                std::snprintf(text, sizeof(text), "n%d", (i * 7 + t) % 50);
                NameString n(text);
                if (std::strcmp(n.CStr(), text) != 0) bad = true;
                if (i % 3 == 0) held.push_back(n);
                if (held.size() > 20) held.erase(held.begin());
                NameString copy = n;
                if (copy != n) bad = true;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(bad);
    EXPECT_EQ(NameString::PoolEntryCount(), entries);
}

}  // namespace
