// Resources and pools without threads: name normalisation and lookup, creation,
// insertion, discarding to the detached list, collection by flag mask, use counts.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

namespace {

int gDestroyed = 0;

struct TestResource : Resource {
    explicit TestResource(const char* name) : Resource(name) {}
    ~TestResource() override { ++gDestroyed; }
    uint32_t GetResourceType() const override { return RESOURCE_TEXTURE; }
};

struct TestPool : ResourcePool {
    Resource* CreateResource(const char* name, uint32_t parameter) override {
        ++created;
        return parameter == 666 ? nullptr : new TestResource(name);
    }
    int created = 0;
};

struct PoolTest : ::testing::Test {
    void SetUp() override {
        gDestroyed = 0;
        log.Attach();
    }
    void TearDown() override { log.Detach(); }

    std::vector<Resource*> Collect(uint32_t mask, uint32_t value) {
        std::vector<Resource*> out;
        pool.CollectUnused(out, mask, value);
        return out;
    }

    TestPool pool;
    CaptureLogSink log;
};

TEST_F(PoolTest, SpellingsOfOneNameFindOneResource) {
    Resource* a = pool.GetResource("Tex\\A.dds", 0, true, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->GetName(), "Tex/A.dds");
    struct Case {
        const char* name;
        bool found;
    };
    const Case cases[] = {{"tex/a.DDS", true}, {"TEX\\a.dds", true}, {"tex/a.dd", false}, {"tex\\a.dds ", false}};
    uint32_t uses = 1;
    for (const Case& c : cases) {
        Resource* r = pool.GetResource(c.name, 0, false, 0);
        EXPECT_EQ(r, c.found ? a : nullptr) << c.name;
        if (r) ++uses;
    }
    EXPECT_EQ(a->GetUseCount(), uses);
    EXPECT_EQ(pool.Count(), 1u);
    EXPECT_EQ(pool.created, 1);
}

TEST_F(PoolTest, AbsentNamesAndFailedCreationsLeaveThePoolUnchanged) {
    EXPECT_EQ(pool.GetResource("missing", 0, false, 0), nullptr);
    EXPECT_EQ(pool.GetResource(nullptr, 0, true, 0), nullptr);
    EXPECT_EQ(pool.GetResource("refused", 666, true, 0), nullptr);
    EXPECT_EQ(pool.Count(), 0u);
    EXPECT_EQ(pool.created, 1);  // only the refused creation was asked
}

TEST_F(PoolTest, IndexStaysSortedAndRefusesDuplicates) {
    const char* names[] = {"b", "C", "a", "_x", "B2", "c1"};
    for (const char* n : names) pool.GetResource(n, 0, true, 0);
    ASSERT_EQ(pool.Count(), 6u);
    const char* sorted[] = {"_x", "a", "b", "B2", "C", "c1"};  // ASCII letters folded, '_' first
    for (uint32_t i = 0; i < pool.Count(); ++i) EXPECT_STREQ(pool.At(i)->GetName(), sorted[i]);
    EXPECT_EQ(pool.Find("B"), 2);
    EXPECT_EQ(pool.Find("bb"), -1);

    TestResource* twin = new TestResource("c");
    EXPECT_FALSE(pool.Insert(twin));
    EXPECT_EQ(twin->GetPool(), nullptr);
    delete twin;
    EXPECT_EQ(pool.Count(), 6u);
}

TEST_F(PoolTest, NamesLongerThanTheLimitAreRefusedNotTruncated) {
    const std::string fits(kMaxResourceName, 'n');
    const std::string longer = fits + "x";
    EXPECT_NE(pool.GetResource(fits.c_str(), 0, true, 0), nullptr);
    EXPECT_EQ(pool.GetResource(longer.c_str(), 0, true, 0), nullptr);
    EXPECT_EQ(pool.Count(), 1u);
    EXPECT_TRUE(log.Contains("longer than 259"));
}

TEST_F(PoolTest, ReleaseNeverDestroysAndStopsAtZero) {
    Resource* r = pool.GetResource("r", 0, true, 0);
    r->AddRef();
    r->Release();
    r->Release();
    EXPECT_EQ(r->GetUseCount(), 0u);
    EXPECT_EQ(gDestroyed, 0);
    EXPECT_EQ(r->GetPool(), &pool);

    r->Release();
    EXPECT_EQ(r->GetUseCount(), 0u);
    EXPECT_TRUE(log.Contains("has no use to release"));

    Resource* list[] = {r, nullptr, r};
    r->AddRef();
    r->AddRef();
    ReleaseResources(list, 3);
    EXPECT_EQ(r->GetUseCount(), 0u);
}

TEST_F(PoolTest, CollectionSelectsUnusedResourcesByFlagMask) {
    struct Case {
        uint32_t mask, value;
        std::vector<std::string> collected;
    };
    const Case cases[] = {
        {256, 256, {"loading"}},             // the Game's drop of loading-screen resources
        {256, 0, {"plain", "scene"}},        // flag 256 kept
        {128, 128, {"scene"}},               // scene textures
        {0, 0, {"loading", "plain", "scene"}},  // mask 0: every unused one
    };
    for (const Case& c : cases) {
        TestPool p;
        p.GetResource("loading", 0, true, RESOURCE_FLAG_LOADING_SCREEN)->Release();
        p.GetResource("plain", 0, true, 0)->Release();
        p.GetResource("scene", 0, true, RESOURCE_FLAG_SCENE_TEXTURE)->Release();
        p.GetResource("used", 0, true, RESOURCE_FLAG_LOADING_SCREEN);
        std::vector<Resource*> out;
        p.CollectUnused(out, c.mask, c.value);
        std::vector<std::string> names;
        for (Resource* r : out) {
            EXPECT_EQ(r->GetPool(), nullptr);
            names.push_back(r->GetName());
            delete r;
        }
        EXPECT_EQ(names, c.collected) << c.mask << "/" << c.value;
        EXPECT_EQ(p.Count(), 4u - c.collected.size());
        EXPECT_TRUE(p.Find("used") >= 0);
    }
}

TEST_F(PoolTest, DiscardedResourceInUseWaitsOnTheDetachedList) {
    Resource* used = pool.GetResource("used", 0, true, RESOURCE_FLAG_LOADING_SCREEN);
    Resource* idle = pool.GetResource("idle", 0, true, 0);
    idle->Release();
    pool.Discard(idle);
    EXPECT_EQ(gDestroyed, 1);  // unused: deleted at once

    pool.Discard(used);
    pool.Discard(used);  // already detached: one entry, so one deletion
    EXPECT_EQ(pool.Count(), 0u);
    EXPECT_EQ(pool.DetachedCount(), 1u);
    EXPECT_EQ(pool.GetResource("used", 0, false, 0), nullptr);
    EXPECT_TRUE(Collect(256, 0).empty());  // still used
    used->Release();
    // Collected whatever the mask: 256/0 would keep an indexed resource with flag 256.
    std::vector<Resource*> out = Collect(256, 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], used);
    EXPECT_EQ(pool.DetachedCount(), 0u);
    delete out[0];
    EXPECT_TRUE(log.Contains("Removing unused resource: used"));
}

TEST_F(PoolTest, FlagsAreOnlyEverAdded) {
    Resource* r = pool.GetResource("r", 0, true, RESOURCE_FLAG_KEEP_DATA);
    pool.GetResource("r", 0, false, 16);  // a bit without meaning here is carried
    pool.SetFlagsOnAll(RESOURCE_FLAG_STARTUP);
    pool.GetResource("r", 0, false, 0);
    EXPECT_EQ(r->GetFlags(), RESOURCE_FLAG_KEEP_DATA | 16u | RESOURCE_FLAG_STARTUP);
}

TEST_F(PoolTest, DestroyingThePoolDeletesIndexedAndDetachedResources) {
    {
        TestPool p;
        p.GetResource("a", 0, true, 0);
        Resource* b = p.GetResource("b", 0, true, 0);
        p.Discard(b);
    }
    EXPECT_EQ(gDestroyed, 2);
}

}  // namespace
