// Resources and pools without threads: names, use counts, collection, the detached list.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

namespace {

struct TestResource : Resource {
    using Resource::Resource;
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
    void SetUp() override { log.Attach(); }
    void TearDown() override { log.Detach(); }
    std::vector<std::string> Collect(uint32_t mask, uint32_t value) {
        std::vector<Resource*> out;
        pool.CollectUnused(out, mask, value);
        std::vector<std::string> names;
        for (Resource* r : out) {
            EXPECT_EQ(r->GetPool(), nullptr);
            names.push_back(r->GetName());
            delete r;
        }
        return names;
    }
    TestPool pool;
    CaptureLogSink log;
};

TEST_F(PoolTest, EverySpellingOfANameFindsOneResource) {
    for (const char* n : {"b", "_x", "C", "Tex\\A.dds", "B2"}) pool.GetResource(n, 0, true, 0)->Release();
    struct Case { const char* name; const char* found; };  // found null: absent
    const Case cases[] = {{"tex/a.DDS", "Tex/A.dds"}, {"TEX\\a.dds", "Tex/A.dds"}, {"tex/a.dd", nullptr},
                          {"_X", "_x"},                {"b2", "B2"},              {"c", "C"},
                          {"bb", nullptr}};
    for (const Case& c : cases) {
        Resource* r = pool.GetResource(c.name, 0, false, 0);
        EXPECT_STREQ(r ? r->GetName() : nullptr, c.found) << c.name;
        if (!r) continue;
        EXPECT_EQ(r->GetUseCount(), 1u) << c.name;
        r->Release();
    }
    // Nothing is created without the create flag, for a refused creation, a null name or
    // a name one character over the limit (never truncated into another name).
    EXPECT_EQ(pool.GetResource("refused", 666, true, 0), nullptr);
    EXPECT_EQ(pool.GetResource(nullptr, 0, true, 0), nullptr);
    const std::string fits(kMaxResourceName, 'n');
    EXPECT_NE(pool.GetResource(fits.c_str(), 0, true, 0), nullptr);
    EXPECT_EQ(pool.GetResource((fits + "x").c_str(), 0, true, 0), nullptr);
    EXPECT_TRUE(log.Contains("longer than 259"));
    EXPECT_EQ(pool.Count(), 6u);
    EXPECT_EQ(pool.created, 7);
    TestResource twin("c");
    EXPECT_FALSE(pool.Insert(&twin));
}

TEST_F(PoolTest, CollectionSelectsUnusedResourcesByFlagMask) {
    struct Case { uint32_t mask, value; std::vector<std::string> collected; };
    const Case cases[] = {
        {256, 256, {"loading"}},  // the Game's drop of loading-screen resources
        {256, 0, {"plain", "scene"}},
        {128, 128, {"scene"}},
        {0, 0, {"loading", "plain", "scene"}},
    };
    for (const Case& c : cases) {
        pool.GetResource("loading", 0, true, RESOURCE_FLAG_LOADING_SCREEN)->Release();
        pool.GetResource("plain", 0, true, 0)->Release();
        pool.GetResource("scene", 0, true, RESOURCE_FLAG_SCENE_TEXTURE)->Release();
        Resource* used = pool.GetResource("used", 0, true, RESOURCE_FLAG_LOADING_SCREEN);
        EXPECT_EQ(Collect(c.mask, c.value), c.collected) << c.mask << "/" << c.value;
        EXPECT_EQ(pool.Count(), 4u - c.collected.size());
        used->Release();
        Collect(0, 0);
    }
}

TEST_F(PoolTest, DiscardedResourceInUseWaitsOnTheDetachedList) {
    Resource* used = pool.GetResource("used", 0, true, RESOURCE_FLAG_LOADING_SCREEN);
    pool.GetResource("idle", 0, true, 0)->Release();
    pool.Discard(pool.At(0));  // unused: deleted at once
    EXPECT_TRUE(log.Contains("Removing unused resource: idle"));
    pool.Discard(used);
    pool.Discard(used);  // already detached: one entry, so one deletion
    EXPECT_EQ(pool.Count(), 0u);
    EXPECT_EQ(pool.DetachedCount(), 1u);
    EXPECT_EQ(pool.GetResource("used", 0, false, 0), nullptr);
    EXPECT_TRUE(Collect(256, 0).empty());  // still used
    // Releasing never destroys; a release below zero stays at zero.
    Resource* list[] = {used, nullptr, used};
    used->AddRef();
    ReleaseResources(list, 3);
    used->Release();
    EXPECT_EQ(used->GetUseCount(), 0u);
    EXPECT_TRUE(log.Contains("has no use to release"));
    EXPECT_FALSE(log.Contains("Removing unused resource: used"));
    // Collected whatever the mask (256/0 would keep an indexed one with flag 256).
    EXPECT_EQ(Collect(256, 0), std::vector<std::string>{"used"});
    // The pool's destructor deletes indexed and detached resources (ASan sees leaks).
    Resource* kept = pool.GetResource("kept", 0, true, 0);
    pool.GetResource("indexed", 0, true, 0);
    pool.Discard(kept);
}

}  // namespace
