// The ResourceManager on real threads: loads, batches, evictions, passes, Stop, streaming readers.
// test-sanitize: thread address
// test-timeout: 240
#include <atomic>
#include <chrono>
#include <thread>
#include <future>
#include <random>

#include "ResourceTestSupport.h"
#include "core/Memory.h"
#include "core/fs/StreamingFileReader.h"
#include "core/rtti/RTTIClass.h"
#include "platform/os/Thread.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceTemplatePool.h"
#include "render/resources/ResourceTexture.h"

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
    ResourceTemplatePool::SetResourcePartHook([](RTTIPolyBaseClass* o) -> Resource* { return static_cast<HoldingTemplate*>(o); });
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
    ResourceTemplatePool::SetResourcePartHook(nullptr);
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

}  // namespace
