// The loader's one file of read-ahead: the texture whose file was read ahead stays
// queued until its own load created it (every wait and drain waits for it), and what
// happens to it in between is what that load sees.
// test-sanitize: thread address
// test-timeout: 240
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ResourceTestSupport.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceTexture.h"

using namespace resourcetest;

namespace {

// Keeps the render thread in one call, so texture creations wait, until Release.
struct RenderThreadHold {
    RenderThreadHold() {
        call = [this] {
            entered = true;
            rendertest::WaitUntil([this] { return released.load(); }, 60.0);
        };
        rendertest::PostCall(&call);
        gVornexRenderer.FlushCommands(false);
        EXPECT_TRUE(rendertest::WaitUntil([this] { return entered.load(); }));
    }
    ~RenderThreadHold() {
        Release();
        gVornexRenderer.FlushCommands(true);
    }
    void Release() { released = true; }
    std::atomic<bool> entered{false}, released{false};
    std::function<void()> call;
};

struct ReadAheadTest : ResourceFixture {
    ResourceTexture* Texture(const char* name, uint32_t value, uint32_t flags = 0) {
        WriteBytes(Path("textures", name), SmallDds(value));
        return static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, name, flags));
    }
    // With the render thread held: queues a and b, and returns once the loader, waiting
    // for a's creation, has read b's file ahead.
    // between runs after a is queued and before b is.
    // Both are queued behind a held loader command, so that b is queued by the time a's
    // load looks for the next one.
    void QueueWithReadAhead(Resource* a, Resource* b, const std::function<void()>& between = {}) {
        std::atomic<bool> queued{false};
        std::function<void()> hold = [&] { rendertest::WaitUntil([&] { return queued.load(); }); };
        gResourceManager.PostCall([](BaseThread*, void* f, CommandRingBuffer*) { (*static_cast<std::function<void()>*>(f))(); },
                                  &hold);
        a->QueueLoad();
        if (between) between();
        b->QueueLoad();
        queued = true;
        ASSERT_TRUE(rendertest::WaitUntil([&] { return gResourceManager.ReadAheadFileOwner() == b; }));
        EXPECT_EQ(b->GetState(), RESOURCE_LOADING);
    }
    // Releases the hold from another thread a little later and runs wait here; true
    // when wait returned only after the release.
    bool WaitsForTheRelease(RenderThreadHold& hold, const std::function<void()>& wait) {
        std::atomic<bool> released{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            released = true;
            hold.Release();
        });
        wait();
        const bool after = released.load();
        releaser.join();
        return after;
    }
};

TEST_F(ReadAheadTest, LoadsLogsAndCreationsKeepTheQueueOrder) {
    // Textures with an animation between them, queued one by one and as a batch; each
    // texture ends with its own file's texel, whether read ahead or not.
    std::vector<uint8_t> clip(16 + 108, 0);
    const uint32_t head[] = {kAnimationFileMagic, kAnimationFileVersion};
    std::memcpy(clip.data(), head, sizeof head);
    WriteBytes(Path("animations", "walk.bin"), clip);
    std::vector<ResourceTexture*> textures;
    for (uint32_t i = 0; i < 6; ++i)
        textures.push_back(Texture(("t" + std::to_string(i) + ".dds").c_str(), 0xFF000000u | (i * 0x111111u)));
    Resource* walk = Get(RESOURCE_ANIMATION, "walk");
    std::vector<std::string> expected;
    auto expect = [&](Resource* r, const char* kind) {
        expected.push_back(std::string("Loading ") + kind + " resource: " + r->GetName());
        expected.push_back(std::string("Resource loaded successfully (") + r->GetName() + ")");
    };
    {
        RenderThreadHold hold;
        textures[0]->QueueLoad();
        textures[1]->QueueLoad();
        walk->QueueLoad();
        Resource* batch[] = {textures[2], textures[3], textures[4], textures[5]};
        gResourceManager.QueueLoadMany(batch, 4);
        for (int i = 0; i < 2; ++i) expect(textures[i], "texture");
        expect(walk, "animation");
        for (int i = 2; i < 6; ++i) expect(textures[i], "texture");
    }
    gResourceManager.Flush();
    std::vector<std::string> lines;
    for (const CaptureLogSink::Message& m : log.Messages()) {
        const std::string& line = m.text;
        if (line.rfind("Loading ", 0) == 0 || line.rfind("Resource load", 0) == 0)
            lines.push_back(line.substr(0, line.find(" in ") == std::string::npos ? line.size() : line.find(" in ")));
    }
    EXPECT_EQ(lines, expected);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(FirstTexel(textures[i]), 0xFF000000u | (i * 0x111111u)) << i;
        EXPECT_EQ(textures[i]->GetUseCount(), 1u) << i;
    }
    EXPECT_EQ(gResourceManager.ReadAheadFileOwner(), nullptr);
    for (ResourceTexture* t : textures) t->Release();
    walk->Release();
}

TEST_F(ReadAheadTest, EveryWaitAndDrainWaitsForATextureReadAhead) {
    struct Case {
        const char* name;
        std::function<void(Resource* b)> wait;
    };
    const Case cases[] = {
        {"drain of the loader", [](Resource*) { gResourceManager.Flush(); }},
        {"wait for the texture", [](Resource* b) { b->WaitUntilLoaded(true); }},
        {"load on the loader thread", [](Resource* b) { b->Load(true); }},
        {"reload with wait", [](Resource*) { gResourceManager.PostReload(1u << RESOURCE_TEXTURE, true); }},
        {"restore of data", [](Resource*) { gResourceManager.PostRestoreData(1u << RESOURCE_TEXTURE); }},
    };
    uint32_t round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++round;
        const std::string a = "a" + std::to_string(round) + ".dds", b = "b" + std::to_string(round) + ".dds";
        ResourceTexture* first = Texture(a.c_str(), 0xFF0000FFu);
        ResourceTexture* second = Texture(b.c_str(), 0xFF00FF00u + round);
        {
            RenderThreadHold hold;
            QueueWithReadAhead(first, second);
            EXPECT_TRUE(WaitsForTheRelease(hold, [&] { c.wait(second); }));
            EXPECT_TRUE(second->IsLoaded());
            EXPECT_NE(second->Handle(), nullptr);
        }
        EXPECT_EQ(FirstTexel(second), 0xFF00FF00u + round);
        first->Release();
        second->Release();
    }
    // Stop drains too: the texture read ahead is loaded before the pools go, and the use
    // its file held is given back.
    Resource* first = Texture("a.dds", 1);
    Resource* second = Texture("b.dds", 2);
    RenderThreadHold hold;
    QueueWithReadAhead(first, second);
    first->Release();
    second->Release();
    EXPECT_TRUE(WaitsForTheRelease(hold, [] { gResourceManager.Stop(); }));
    EXPECT_TRUE(Logged("Resource loaded successfully (b.dds)"));
    EXPECT_TRUE(Logged("Removing unused resource: b.dds"));
    EXPECT_FALSE(Logged("has no use to release"));
    EXPECT_EQ(gResourceManager.ReadAheadFileOwner(), nullptr);
}

TEST_F(ReadAheadTest, WhatHappensToAReadAheadTextureBeforeItsLoadIsWhatItsLoadSees) {
    struct Case {
        const char* name;
        std::function<void()> between;  // posted between the two loads
        // Runs while the second texture's file is kept (the render thread held); returns
        // the texel the texture must end with (0: no texture).
        std::function<uint32_t(ResourceTexture* b, ReadAheadTest& test, RenderThreadHold& hold)> meanwhile;
        const char* line;  // its load's line
    };
    const Case cases[] = {
        {"loaded on another thread first", {},
         [](ResourceTexture* b, ReadAheadTest&, RenderThreadHold& hold) {
             // That load claims the texture and waits for its creation behind the hold;
             // the loader then finds it being loaded and skips it.
             const uint32_t posted = gVornexRenderer.PostedResourceJobs();
             std::thread other([b] { b->Load(false); });
             EXPECT_TRUE(rendertest::WaitUntil([&] { return gVornexRenderer.PostedResourceJobs() != posted; }));
             hold.Release();
             other.join();
             return 0xFF00FF00u;
         },
         "Resource load request skipped. The resource have already been loaded in between (b.dds)"},
        {"flagged as a scene texture: read from the scenes", {},
         [](ResourceTexture* b, ReadAheadTest& test, RenderThreadHold&) {
             WriteBytes(test.Path("scenes", "b.dds"), SmallDds(0xFF123456u));
             gResourceManager.SetResourceFlags(b, RESOURCE_FLAG_SCENE_TEXTURE);
             return 0xFF123456u;
         },
         "Resource loaded successfully (b.dds)"},
        {"texture loads switched off between the two",
         [] { gResourceManager.PostSetLoadTypeMask(~(1u << RESOURCE_TEXTURE)); },
         [](ResourceTexture*, ReadAheadTest&, RenderThreadHold&) { return 0u; }, "Resource loading skipped (b.dds)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        ResourceTexture* first = Texture("a.dds", 0xFF0000FFu);
        ResourceTexture* second = Texture("b.dds", 0xFF00FF00u);
        uint32_t texel = 0;
        {
            RenderThreadHold hold;
            QueueWithReadAhead(first, second, c.between);
            texel = c.meanwhile(second, *this, hold);
        }
        gResourceManager.Flush();
        gVornexRenderer.WaitForResourceJobs(1);
        EXPECT_TRUE(Logged(c.line));
        EXPECT_EQ(Lines("Loading texture resource: b.dds").size(), 1u);
        EXPECT_EQ(FirstTexel(second), texel);
        EXPECT_EQ(gResourceManager.ReadAheadFileOwner(), nullptr);
        EXPECT_EQ(second->GetUseCount(), 1u);
        gResourceManager.PostSetLoadTypeMask(kAllResourceTypes);
        first->Release();
        second->Release();
        // Nothing holds either now: both go, exactly once.
        gResourceManager.PostEvictResources(kAllResourceTypes, false, 0, 0);
        gResourceManager.Flush();
        EXPECT_EQ(Lines("Removing unused resource: b.dds").size(), 1u);
    }
}

}  // namespace
