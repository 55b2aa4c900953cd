// The ResourceManager on real threads: loads, batches, evictions, passes, Stop, streaming readers.
//
// The loader's one file of read-ahead: the texture whose file was read ahead stays
// queued until its own load created it (every wait and drain waits for it), and what
// happens to it in between is what that load sees.
//
// Resources and pools without threads: names, use counts, collection, the detached list.
// test-sanitize: thread address
// test-timeout: 480
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "ResourceTestSupport.h"
#include "core/Memory.h"
#include "core/fs/StreamingFileReader.h"
#include "core/rtti/RTTIClass.h"
#include "platform/os/Thread.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourcePool.h"
#include "render/resources/ResourceTemplatePool.h"
#include "render/resources/ResourceTexture.h"
#include "render/resources/TemplateResourceServices.h"

using namespace resourcetest;

namespace {

// Magic, version 3, eight header bytes tag + 8 ..., an empty clip (no tracks, no keys,
// zero boxes and length: 108 zero bytes), then tag % 5 bytes more.
std::vector<uint8_t> AnimationFile(uint8_t tag) {
    std::vector<uint8_t> b(16 + 108 + tag % 5);
    const uint32_t head[] = {kAnimationFileMagic, kAnimationFileVersion};
    std::memcpy(b.data(), head, 8);
    for (int i = 8; i < 16; ++i) b[i] = uint8_t(tag + i);
    return b;
}

struct ManagerTest : ResourceFixture {
    Resource* Animation(const char* name, uint8_t tag = 1) {
        WriteBytes(Path("animations", std::string(name) + ".bin"), AnimationFile(tag));
        return Get(RESOURCE_ANIMATION, name);
    }
    // Runs f in a loader command; HoldLoader's command returns once its release is set.
    void OnLoader(std::function<void()> f) {
        onLoader = std::move(f);
        gResourceManager.PostCall([](BaseThread*, void* f, CommandRingBuffer*) { (*static_cast<std::function<void()>*>(f))(); },
                                  &onLoader);
    }
    std::shared_ptr<std::atomic<bool>> HoldLoader() {
        auto release = std::make_shared<std::atomic<bool>>(false);
        OnLoader([release] { rendertest::WaitUntil([&] { return release->load(); }); });
        return release;
    }
    std::function<void()> onLoader;
};

TEST_F(ManagerTest, QueueingPostsOnlyFromStateZeroAndBatchesLoadEveryEntryInOrder) {
    Resource* batch[] = {Animation("c1"), Animation("a2", 7), Animation("b3")};
    auto release = HoldLoader();
    batch[1]->QueueLoad();
    batch[1]->QueueLoad();  // state 1: nothing more
    EXPECT_EQ(batch[1]->GetUseCount(), 2u);
    // The synchronous load runs here while command 9 waits; the loader skips it once.
    batch[1]->Load(false);
    batch[1]->QueueLoad();  // state 2: nothing
    *release = true;
    gResourceManager.Flush();
    EXPECT_EQ(static_cast<ResourceAnimation*>(batch[1])->HeaderValue()[0], 7 + 8);

    EXPECT_EQ(Lines("Resource load request skipped").size(), 1u);
    EXPECT_EQ(Lines("Loading animation resource").size(), 1u);

    log.Clear();
    release = HoldLoader();
    gResourceManager.QueueLoadMany(batch, 3);  // every entry, the loaded one included
    for (Resource* r : batch) EXPECT_TRUE(r->GetState() == RESOURCE_LOADING && r->GetUseCount() == 2);
    *release = true;
    gResourceManager.Flush();
    EXPECT_EQ(Lines("Loading animation resource"),
              (std::vector<std::string>{"Loading animation resource: c1", "Loading animation resource: a2",
                                        "Loading animation resource: b3"}));
    for (Resource* r : batch) EXPECT_TRUE(r->IsLoaded() && r->GetUseCount() == 1) << r->GetName();
    ReleaseResources(batch, 3);
    // Another version fails without a message.
    std::vector<uint8_t> file = AnimationFile(1);
    file[4] = 2;
    WriteBytes(Path("animations", "old.bin"), file);
    ResourceAnimation old("old");
    log.Clear();
    EXPECT_FALSE(old.LoadResource());
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(ManagerTest, ClearedTypeBitSkipsTheLoadAndStillMarksItLoaded) {
    WriteBytes(Path("textures", "a.dds"), SmallDds(0xFF112233));
    gResourceManager.PostSetLoadTypeMask(~(1u << RESOURCE_TEXTURE));
    Resource* r = Get(RESOURCE_TEXTURE, "a.dds");
    r->Load(true);
    EXPECT_TRUE(r->IsLoaded());
    EXPECT_EQ(static_cast<ResourceTexture*>(r)->Handle(), nullptr);
    EXPECT_TRUE(Logged("Resource loading skipped (a.dds)"));
    gResourceManager.PostSetLoadTypeMask(kAllResourceTypes);
    r->Release();
}

// A template kind whose object holds a use of a texture until it is deleted.
struct HoldingTemplate : RTTIPolyBaseClass, Resource {
    HoldingTemplate() : Resource(nullptr) {}
    ~HoldingTemplate() override { held->Release(); }
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    uint32_t GetResourceType() const override { return RESOURCE_TEMPLATE; }
    Resource* held = nullptr;
};

TEST_F(ManagerTest, EvictionFreesWhatDeletedResourcesReleased) {
    NameRegistry::Register("HoldingTemplate", [](int32_t) -> RTTIPolyBaseClass* { return new HoldingTemplate; });
    TemplateTypeTable::Get()[300] = {TemplateTypeTable::kRows, "HoldingTemplate"};
    struct HoldingTemplates : TemplateResourceServices {
        Resource* ResourcePart(RTTIPolyBaseClass* o) override { return static_cast<HoldingTemplate*>(o); }
    } templates;
    SetTemplateResourceServices(&templates);
    Resource* part = gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/holder", 300, true, 0);
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part->GetName(), "Templates/holder");
    static_cast<HoldingTemplate*>(part)->held = Get(RESOURCE_TEXTURE, "held.dds");
    Get(RESOURCE_TEXTURE, "other.dds", RESOURCE_FLAG_LOADING_SCREEN)->Release();
    part->Release();
    // Keeping loading-screen resources: the template, then in the next round its texture.
    gResourceManager.PostEvictResources(kAllResourceTypes, false, RESOURCE_FLAG_LOADING_SCREEN, 0);
    gResourceManager.Flush();
    EXPECT_TRUE(Logged("Evicted 2 resources"));
    EXPECT_TRUE(Logged("Removing unused resource: held.dds"));
    EXPECT_FALSE(Logged("Removing unused resource: other.dds"));
    // A row without a class, and one past the table.
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/x", 301, true, 0), nullptr);
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/y", 5000, true, 0), nullptr);
    EXPECT_EQ(Lines("Resource of name Templates/").size(), 2u);
    SetTemplateResourceServices(nullptr);
    TemplateTypeTable::Get()[300] = {};
}

std::atomic<int> gRenderCallsRun{0};

// A load the main thread waits for first sends the renderer what it was given so far: the
// render thread runs a call posted (and not flushed) before the load without any further
// flush. Only the thread that started the loader counts as the main thread.
TEST_F(ManagerTest, MainThreadLoadsFlushTheRenderQueue) {
    ASSERT_TRUE(created);
    EXPECT_TRUE(gResourceManager.OnMainThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = gResourceManager.OnMainThread(); }).join();
    EXPECT_FALSE(elsewhere);
    std::atomic<bool> onLoader{true};
    OnLoader([&] { onLoader = gResourceManager.OnMainThread(); });
    gResourceManager.Flush();
    EXPECT_FALSE(onLoader);

    gVornexRenderer.FlushCommands(true);
    gRenderCallsRun = 0;
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + sizeof(uintptr_t)));
    gVornexRenderer.Ring().WriteValue(RenderCallFunction([](uint32_t, CommandRingBuffer&) { ++gRenderCallsRun; }));
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
    Resource* r = Animation("flushing");
    r->Load(true);
    EXPECT_TRUE(r->IsLoaded());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (gRenderCallsRun == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gRenderCallsRun, 1);
    r->Release();
}

TEST_F(ManagerTest, SceneFileReadStoresTheWholeFileOnce) {
    // The loader reads the scene whole, so that the main thread parses these bytes and
    // never opens the file again; without a running loader the caller reads it the same way.
    WriteBytes(Path("scenes", "level.BinaryScene"), {'S', 'C', 'N', 'E', 1, 2, 3});
    WriteBytes(Path("scenes", "empty.BinaryScene"), {});
    WriteBytes(Path("scenes", "tiny.BinaryScene"), {'T', 'I'});
    const std::pair<std::string, std::string> cases[] = {{"level", std::string("SCNE\1\2\3", 7)},
                                                         {"empty", ""},
                                                         {"missing", ""},
                                                         {"tiny", "TI"},
                                                         {std::string(300, 'n'), ""}};
    for (const bool running : {true, false}) {
        if (!running) gResourceManager.Stop();
        for (const auto& [name, expected] : cases) {
            SCOPED_TRACE(name + (running ? " by the loader" : " without a loader"));
            SceneFileImage image;
            gResourceManager.PostLoadScene(&image, name.c_str(), "BinaryScene", "scenes");
            gResourceManager.Flush();
            EXPECT_EQ(image.opened, name == "level" || name == "tiny" || name == "empty");
            if (expected.empty()) {
                EXPECT_EQ(image.bytes, nullptr);
                EXPECT_EQ(image.size, 0u);
                continue;
            }
            ASSERT_NE(image.bytes, nullptr);
            EXPECT_EQ(std::string(static_cast<const char*>(image.bytes), image.size), expected);
            EngineFree(image.bytes);
        }
        EXPECT_TRUE(Logged("longer than 259 characters"));
    }
}

TEST_F(ManagerTest, StopEvictsAllButShadersDestroysThePoolsAndDrains) {
    Animation("idle")->QueueLoad();  // still held by the caller
    Get(RESOURCE_FONT, "f.ttf~10")->Release();
    gResourceManager.Stop();
    EXPECT_FALSE(gResourceManager.PoolsCreated() || gResourceManager.IsRunning());
    // Drained before the pools went.
    for (const char* line : {"Loading animation resource: idle", "Evicted 1 resources", "Removing unused resource: idle",
                             "ResourceManager closed"})
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_ANIMATION, "idle", 0, true, 0), nullptr);
}

TEST_F(ManagerTest, DumpReloadUnloadAndRestorePasses) {
    WriteBytes(Path("textures", "keep.dds"), SmallDds(0xFF0000FF));
    WriteBytes(Path("textures", "drop.dds"), SmallDds(0xFF00FF00));
    auto* keep = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "keep.dds", RESOURCE_FLAG_KEEP_DATA));
    auto* drop = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "drop.dds"));
    Resource* unloaded = Get(RESOURCE_TEXTURE, "unloaded.dds");
    keep->Load(true);
    drop->Load(true);
    log.Clear();
    gResourceManager.PostDump(kAllResourceTypes);
    gResourceManager.PostUnloadData(1u << RESOURCE_TEXTURE, true);
    gResourceManager.Flush();
    EXPECT_EQ(Lines("00"), (std::vector<std::string>{"00000192 drop.dds", "00000192 keep.dds"}));
    EXPECT_TRUE(Logged("Total resNum:2 resSize:384"));
    EXPECT_EQ(Lines("Unloading"), (std::vector<std::string>{"Unloading data for resource drop.dds"}));
    gVornexRenderer.WaitForResourceJobs(1);
    EXPECT_TRUE(FirstTexel(drop) == 0 && FirstTexel(keep) == 0xFF0000FFu);

    WriteBytes(Path("textures", "drop.dds"), SmallDds(0xFF123456));
    gResourceManager.PostRestoreData(1u << RESOURCE_TEXTURE);
    EXPECT_EQ(FirstTexel(drop), 0xFF123456u);
    WriteBytes(Path("textures", "keep.dds"), SmallDds(0xFFABCDEF));
    gResourceManager.PostReload(1u << RESOURCE_TEXTURE, true);
    EXPECT_EQ(FirstTexel(keep), 0xFFABCDEFu);
    EXPECT_TRUE(Logged("Reloading texture: keep.dds"));
    EXPECT_TRUE(Logged("Reloaded 2 resources"));
    Resource* all[] = {keep, drop, unloaded};
    ReleaseResources(all, 3);
}

TEST_F(ManagerTest, LoadsThatWouldWaitForThemselvesRunOnTheCaller) {
    // On the loader thread: a queued load would wait behind the running command.
    Resource* self = Animation("self");
    Resource* queued = Animation("queued");
    std::atomic<bool> ran{false};
    OnLoader([&] {
        queued->QueueLoad();
        queued->WaitUntilLoaded(false);
        self->Load(true);
        ran = true;
    });
    ASSERT_TRUE(rendertest::WaitUntil([&] { return ran.load(); }, 30.0));
    gResourceManager.Flush();
    EXPECT_TRUE(self->IsLoaded() && queued->IsLoaded());
    self->Release();
    queued->Release();
    // Without a loader thread at all.
    gResourceManager.Stop();
    os::Thread::SetCreationFault(true);
    EXPECT_FALSE(gResourceManager.Start());
    os::Thread::SetCreationFault(false);
    Resource* r = Animation("inline");
    auto load = std::async(std::launch::async, [&] { r->Load(true); });
    ASSERT_EQ(load.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(r->IsLoaded());
    r->Release();
    gResourceManager.Stop();  // evicts and destroys the pools without a thread
    EXPECT_TRUE(Logged("Removing unused resource: inline"));
}

std::vector<uint8_t> StreamContent(size_t size) {
    std::vector<uint8_t> data(size);
    std::mt19937 rng(5);
    for (auto& b : data) b = uint8_t(rng());
    return data;
}

// Reads `total` bytes in random chunks; a looping reader goes on with the first bytes after WaitUntilOpen.
std::vector<uint8_t> Consume(StreamingFileReader* reader, size_t total) {
    std::vector<uint8_t> out, buffer(70000);
    std::mt19937 rng(11);
    reader->WaitUntilOpen();
    while (out.size() < total) {
        const uint32_t want = std::min<uint32_t>(uint32_t(total - out.size()), 1 + rng() % 70000);
        uint32_t got = reader->Read(buffer.data(), want);
        if (got == 0) {
            reader->WaitUntilOpen();
            got = reader->Read(buffer.data(), want);
        }
        if (got == 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    reader->Release();
    return out;
}

TEST_F(ManagerTest, StreamsOpenedBeforeStartAndLoopingWhileTexturesLoadArriveIntact) {
    gResourceManager.Stop();
    const std::vector<uint8_t> early = StreamContent(300000), data = StreamContent(5 * 1024 * 1024 + 17);
    WriteBytes(Path("sounds", "early.ogg"), early);
    WriteBytes(Path("sounds", "music.ogg"), data);
    auto* first = new StreamingFileReader(32768, "early", "ogg", "sounds", false);
    ASSERT_TRUE(gResourceManager.Start());
    EXPECT_EQ(Consume(first, early.size()), early);

    auto* reader = new StreamingFileReader(65536, "music", "ogg", "sounds", true);
    const size_t total = data.size() * 5 / 2;
    auto consumer = std::async(std::launch::async, [&] { return Consume(reader, total); });
    std::vector<Resource*> textures;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "t" + std::to_string(i) + ".dds";
        WriteBytes(Path("textures", name), SmallDds(i));
        textures.push_back(Get(RESOURCE_TEXTURE, name.c_str()));
        textures.back()->QueueLoad();
    }
    for (Resource* t : textures) t->WaitUntilLoaded(true);
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    const std::vector<uint8_t> got = consumer.get();
    ASSERT_EQ(got.size(), total);
    for (size_t at = 0; at < total; at += data.size())
        EXPECT_TRUE(std::equal(got.begin() + long(at), got.begin() + long(std::min(total, at + data.size())),
                               data.begin())) << "byte " << at;
    for (Resource* t : textures) {
        EXPECT_NE(static_cast<ResourceTexture*>(t)->Handle(), nullptr);
        t->Release();
    }
}

// A load that runs until the test lets it finish.
struct SlowResource : Resource {
    SlowResource() : Resource("slow") {}
    uint32_t GetResourceType() const override { return RESOURCE_ANIMATION; }
    bool LoadResource() override {
        entered = true;
        return rendertest::WaitUntil([&] { return release.load(); }, 120.0);
    }
    std::atomic<bool> entered{false}, release{false};
};

TEST_F(ManagerTest, StreamsAreFilledWhileTheLoaderWaitsForAnotherThreadsLoad) {
    const std::vector<uint8_t> data = StreamContent(400000);
    WriteBytes(Path("sounds", "voice.ogg"), data);
    auto* reader = new StreamingFileReader(32768, "voice", "ogg", "sounds", false);
    SlowResource slow;
    auto first = std::async(std::launch::async, [&] { slow.Load(false); });
    ASSERT_TRUE(rendertest::WaitUntil([&] { return slow.entered.load(); }));
    // The loader meets the same load and waits for it; refills queue behind that command.
    OnLoader([&] { slow.Load(false); });
    auto consumer = std::async(std::launch::async, [&] { return Consume(reader, data.size()); });
    const bool served = consumer.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    slow.release = true;
    EXPECT_TRUE(served) << "the reader waited for the loader's command to end";
    EXPECT_EQ(consumer.get(), data);
    first.get();
    gResourceManager.Flush();
    EXPECT_TRUE(slow.IsLoaded());
}

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
