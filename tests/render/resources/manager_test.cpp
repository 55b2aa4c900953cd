// The ResourceManager on real threads: queueing and racing loads, the load type mask,
// evictions through templates, the scene file check, Stop, the passes 14-17, batches,
// loads from the loader thread itself, and the streaming readers it serves.
// test-sanitize: thread address
// test-timeout: 240
#include <atomic>
#include <cstring>
#include <future>
#include <random>
#include <thread>

#include "ResourceTestSupport.h"
#include "core/Memory.h"
#include "core/fs/StreamingFileReader.h"
#include "core/rtti/RTTIClass.h"
#include "platform/os/Thread.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourcePool.h"
#include "render/resources/ResourceTemplatePool.h"
#include "render/resources/ResourceTexture.h"

using namespace resourcetest;

namespace {

std::vector<uint8_t> AnimationFile(uint8_t tag) {
    std::vector<uint8_t> b(16 + tag % 5);
    const uint32_t magic = kAnimationFileMagic, version = kAnimationFileVersion;
    std::memcpy(b.data(), &magic, 4);
    std::memcpy(b.data() + 4, &version, 4);
    for (int i = 8; i < 16; ++i) b[i] = uint8_t(tag + i);
    return b;
}

// A small uncompressed DDS (4x4 A8R8G8B8, one level) whose texels are `value`.
std::vector<uint8_t> SmallDds(uint32_t value) {
    std::vector<uint8_t> b(128 + 64, 0);
    const uint32_t header[] = {0x20534444, 124, 0x100F, 4, 4, 16, 0, 1};
    std::memcpy(b.data(), header, sizeof header);
    const uint32_t format[] = {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0x1000};
    std::memcpy(b.data() + 76, format, sizeof format);
    for (int i = 0; i < 16; ++i) std::memcpy(b.data() + 128 + 4 * i, &value, 4);
    return b;
}

// Runs f on the loader thread once it reaches this point of its ring.
void PostToLoader(std::function<void()>* f) {
    gResourceManager.PostCall([](BaseThread*, void* a, CommandRingBuffer*) { (*static_cast<std::function<void()>*>(a))(); },
                              f);
}

struct ManagerTest : ResourceFixture {
    void WriteAnimation(const std::string& name, uint8_t tag = 1) {
        WriteBytes(Path("animations", name + ".bin"), AnimationFile(tag));
    }
    std::vector<std::string> Lines(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& m : log.Messages())
            if (m.text.compare(0, prefix.size(), prefix) == 0) out.push_back(m.text);
        return out;
    }
    int Count(const std::string& text) { return int(Lines(text).size()); }
};

TEST_F(ManagerTest, QueueingALoadedOrQueuedResourcePostsNothing) {
    WriteAnimation("walk");
    Resource* r = Get(RESOURCE_ANIMATION, "walk");
    std::atomic<bool> release{false};
    std::function<void()> block = [&] { rendertest::WaitUntil([&] { return release.load(); }); };
    PostToLoader(&block);
    r->QueueLoad();
    r->QueueLoad();  // state 1: nothing more
    EXPECT_EQ(r->GetState(), uint32_t(RESOURCE_LOADING));
    EXPECT_EQ(r->GetUseCount(), 2u);  // the caller's and the queued command's
    release = true;
    r->WaitUntilLoaded(false);
    gResourceManager.Flush();
    r->QueueLoad();  // state 2: nothing
    gResourceManager.Flush();
    EXPECT_EQ(Count("Loading animation resource: walk"), 1);
    EXPECT_EQ(Count("Resource load request skipped"), 0);
    EXPECT_EQ(r->GetUseCount(), 1u);
    r->Release();
}

TEST_F(ManagerTest, SynchronousLoadRacingAQueuedOneKeepsItsDataAndIsSkippedOnce) {
    WriteAnimation("run", 7);
    Resource* r = Get(RESOURCE_ANIMATION, "run");
    std::atomic<bool> release{false};
    std::function<void()> block = [&] { rendertest::WaitUntil([&] { return release.load(); }); };
    PostToLoader(&block);
    r->QueueLoad();
    r->Load(false);  // loads here while command 9 waits
    EXPECT_TRUE(r->IsLoaded());
    release = true;
    gResourceManager.Flush();
    EXPECT_EQ(Count("Loading animation resource: run"), 1);
    EXPECT_EQ(Count("Resource load request skipped. The resource have already been loaded in between (run)"), 1);
    EXPECT_EQ(static_cast<ResourceAnimation*>(r)->HeaderValue()[0], 7 + 8);
    EXPECT_EQ(r->GetUseCount(), 1u);
    r->Release();
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
    gResourceManager.Flush();
    EXPECT_EQ(gResourceManager.LoadTypeMask(), kAllResourceTypes);
    r->Release();
}

// A template kind whose object holds a use of a texture until it is deleted.
struct HoldingTemplate : RTTIPolyBaseClass, Resource {
    HoldingTemplate() : Resource(nullptr) {}
    ~HoldingTemplate() override {
        if (held) held->Release();
    }
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    uint32_t GetResourceType() const override { return RESOURCE_TEMPLATE; }
    Resource* held = nullptr;
};
constexpr uint32_t kTestTemplateRow = 300;

TEST_F(ManagerTest, EvictionFreesWhatDeletedResourcesReleased) {
    NameRegistry::Register("HoldingTemplate", [](int32_t) -> RTTIPolyBaseClass* { return new HoldingTemplate; });
    TemplateTypeTable::Get()[kTestTemplateRow] = {TemplateTypeTable::kRows, "HoldingTemplate"};
    ResourceTemplatePool::SetResourcePartHook(
        [](RTTIPolyBaseClass* o) -> Resource* { return static_cast<HoldingTemplate*>(o); });

    Resource* part = gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/holder", kTestTemplateRow, true, 0);
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part->GetName(), "Templates/holder");
    static_cast<HoldingTemplate*>(part)->held = Get(RESOURCE_TEXTURE, "held.dds");
    Resource* other = Get(RESOURCE_TEXTURE, "other.dds", RESOURCE_FLAG_LOADING_SCREEN);
    part->Release();
    other->Release();

    // A request that keeps loading-screen resources: the template, then the texture it
    // held, in the next round.
    gResourceManager.PostEvictResources((1u << RESOURCE_TEXTURE) | (1u << RESOURCE_TEMPLATE), false,
                                        RESOURCE_FLAG_LOADING_SCREEN, 0);
    gResourceManager.Flush();
    EXPECT_TRUE(Logged("Evicted 2 resources"));
    EXPECT_TRUE(Logged("Removing unused resource: held.dds"));
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEXTURE, "other.dds", 0, false, 0), other);
    other->Release();

    // A row without a class, and an unknown one.
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/x", 301, true, 0), nullptr);
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEMPLATE, "Templates/y", 5000, true, 0), nullptr);
    EXPECT_EQ(Count("Resource of name Templates/"), 2);
    ResourceTemplatePool::SetResourcePartHook(nullptr);
    TemplateTypeTable::Get()[kTestTemplateRow] = {};
}

TEST_F(ManagerTest, DiscardedResourceInUseIsEvictedOnceUnused) {
    Resource* r = Get(RESOURCE_TEXTURE, "kept.dds", RESOURCE_FLAG_LOADING_SCREEN);
    gResourceManager.PostDiscard(r);
    gResourceManager.PostEvictResources(kAllResourceTypes, false, RESOURCE_FLAG_LOADING_SCREEN, 0);
    gResourceManager.Flush();
    EXPECT_FALSE(Logged("Removing unused resource: kept.dds"));
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_TEXTURE, "kept.dds", 0, false, 0), nullptr);
    r->Release();
    gResourceManager.PostEvictResources(kAllResourceTypes, false, RESOURCE_FLAG_LOADING_SCREEN, 0);
    gResourceManager.Flush();
    EXPECT_TRUE(Logged("Removing unused resource: kept.dds"));
}

TEST_F(ManagerTest, SceneFileCheckStoresTheFirstBytesOfAnExistingFile) {
    WriteBytes(Path("scenes", "level.BinaryScene"), {'S', 'C', 'N', 'E', 1, 2, 3});
    WriteBytes(Path("scenes", "empty.BinaryScene"), {});
    WriteBytes(Path("scenes", "tiny.BinaryScene"), {'T', 'I'});
    struct Case {
        const char* name;
        std::string expected;  // empty: the variable keeps its value
    };
    const Case cases[] = {{"level", "SCNE"}, {"empty", ""}, {"missing", ""}, {"tiny", "TI"}};
    for (const Case& c : cases) {
        void* sentinel = &log;
        void* variable = sentinel;
        gResourceManager.PostLoadScene(&variable, c.name, "BinaryScene", "scenes");
        gResourceManager.Flush();
        if (c.expected.empty()) {
            EXPECT_EQ(variable, sentinel) << c.name;
            continue;
        }
        ASSERT_NE(variable, sentinel) << c.name;
        EXPECT_EQ(std::string(static_cast<const char*>(variable), c.expected.size()), c.expected);
        EngineFree(variable);
    }
    void* variable = nullptr;
    gResourceManager.PostLoadScene(&variable, std::string(300, 'n').c_str(), "BinaryScene", "scenes");
    gResourceManager.Flush();
    EXPECT_EQ(variable, nullptr);
    EXPECT_TRUE(Logged("longer than 259 characters"));
}

TEST_F(ManagerTest, StopEvictsAllButShadersDestroysThePoolsAndDrains) {
    WriteAnimation("idle");
    Resource* held = Get(RESOURCE_ANIMATION, "idle");
    held->QueueLoad();
    Get(RESOURCE_FONT, "f.ttf~10")->Release();
    gResourceManager.Stop();
    EXPECT_FALSE(gResourceManager.PoolsCreated());
    EXPECT_FALSE(gResourceManager.IsRunning());
    EXPECT_EQ(gResourceManager.Pool(RESOURCE_TEXTURE), nullptr);
    EXPECT_TRUE(Logged("Loading animation resource: idle"));  // drained before the pools went
    EXPECT_TRUE(Logged("Evicted 1 resources"));  // the unused font; the animation is still held
    EXPECT_TRUE(Logged("Removing unused resource: idle"));
    EXPECT_TRUE(Logged("ResourceManager closed"));
    EXPECT_EQ(gResourceManager.GetResource(RESOURCE_ANIMATION, "idle", 0, true, 0), nullptr);
    ASSERT_TRUE(gResourceManager.Start());  // and a second session starts clean
    EXPECT_TRUE(gResourceManager.PoolsCreated());
}

TEST_F(ManagerTest, DumpListsLoadedResourcesWithTheirSizes) {
    WriteAnimation("a", 0);  // 16 bytes
    WriteAnimation("b", 3);  // 19 bytes
    Resource* r[] = {Get(RESOURCE_ANIMATION, "a"), Get(RESOURCE_ANIMATION, "b"), Get(RESOURCE_ANIMATION, "unloaded")};
    r[0]->Load(true);
    r[1]->Load(true);
    log.Clear();
    gResourceManager.PostDump(1u << RESOURCE_ANIMATION);
    gResourceManager.Flush();
    EXPECT_EQ(Lines("000000"), (std::vector<std::string>{"00000016 a", "00000019 b"}));
    EXPECT_TRUE(Logged("Total resNum:2 resSize:35"));
    ReleaseResources(r, 3);
}

TEST_F(ManagerTest, ReloadUnloadAndRestoreTextures) {
    WriteBytes(Path("textures", "keep.dds"), SmallDds(0xFF0000FF));
    WriteBytes(Path("textures", "drop.dds"), SmallDds(0xFF00FF00));
    auto* keep = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "keep.dds", RESOURCE_FLAG_KEEP_DATA));
    auto* drop = static_cast<ResourceTexture*>(Get(RESOURCE_TEXTURE, "drop.dds"));
    keep->Load(true);
    drop->Load(true);
    auto texel = [](ResourceTexture* t) {
        uint32_t value = 0;
        rendertest::RunOnRenderThread([&] {
            gfx::Texture* texture = t->Handle() ? t->Handle()->Texture2D() : nullptr;
            gfx::LockedRect locked{};
            if (texture && gfx::Succeeded(texture->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY))) {
                std::memcpy(&value, locked.bits, 4);
                texture->UnlockRect(0);
            }
        });
        return value;
    };
    EXPECT_EQ(texel(drop), 0xFF00FF00u);

    gResourceManager.PostUnloadData(1u << RESOURCE_TEXTURE, true);
    gResourceManager.Flush();
    gVornexRenderer.WaitForResourceJobs(1);
    EXPECT_EQ(Lines("Unloading data for resource"), (std::vector<std::string>{"Unloading data for resource drop.dds"}));
    EXPECT_EQ(texel(drop), 0u);
    EXPECT_EQ(texel(keep), 0xFF0000FFu);

    WriteBytes(Path("textures", "drop.dds"), SmallDds(0xFF123456));
    gResourceManager.PostRestoreData(1u << RESOURCE_TEXTURE);
    EXPECT_EQ(texel(drop), 0xFF123456u);

    WriteBytes(Path("textures", "keep.dds"), SmallDds(0xFFABCDEF));
    gResourceManager.PostReload(1u << RESOURCE_TEXTURE, true);
    EXPECT_EQ(texel(keep), 0xFFABCDEFu);
    EXPECT_TRUE(Logged("Reloading texture: keep.dds"));
    EXPECT_TRUE(Logged("Reloaded 2 resources"));
    keep->Release();
    drop->Release();
}

TEST_F(ManagerTest, BatchLoadsEveryEntryInOrderLoadedOnesIncluded) {
    const char* names[] = {"c1", "a2", "b3"};
    Resource* batch[3];
    for (int i = 0; i < 3; ++i) {
        WriteAnimation(names[i]);
        batch[i] = Get(RESOURCE_ANIMATION, names[i]);
    }
    batch[1]->Load(true);
    log.Clear();
    std::atomic<bool> release{false};
    std::function<void()> block = [&] { rendertest::WaitUntil([&] { return release.load(); }); };
    PostToLoader(&block);
    gResourceManager.QueueLoadMany(batch, 3);
    for (Resource* r : batch) {
        EXPECT_EQ(r->GetUseCount(), 2u);
        EXPECT_EQ(r->GetState(), uint32_t(RESOURCE_LOADING));
    }
    release = true;
    gResourceManager.Flush();
    EXPECT_EQ(Lines("Loading animation resource"),
              (std::vector<std::string>{"Loading animation resource: c1", "Loading animation resource: a2",
                                        "Loading animation resource: b3"}));
    for (Resource* r : batch) {
        EXPECT_TRUE(r->IsLoaded());
        EXPECT_EQ(r->GetUseCount(), 1u);
    }
    ReleaseResources(batch, 3);
}

TEST_F(ManagerTest, LoadsAskedForOnTheLoaderThreadDoNotWaitForThemselves) {
    WriteAnimation("self");
    WriteAnimation("queued");
    Resource* self = Get(RESOURCE_ANIMATION, "self");
    Resource* queued = Get(RESOURCE_ANIMATION, "queued");
    std::atomic<bool> ran{false};
    std::function<void()> onLoader = [&] {
        queued->QueueLoad();           // behind this very command
        queued->WaitUntilLoaded(false);  // so it is loaded here
        self->Load(true);
        ran = true;
    };
    PostToLoader(&onLoader);
    ASSERT_TRUE(rendertest::WaitUntil([&] { return ran.load(); }, 30.0));
    gResourceManager.Flush();
    EXPECT_TRUE(self->IsLoaded());
    EXPECT_TRUE(queued->IsLoaded());
    EXPECT_EQ(Count("Resource load request skipped"), 1);
    self->Release();
    queued->Release();
}

TEST_F(ManagerTest, LoadsRunOnTheCallerWhenTheLoaderThreadCouldNotStart) {
    gResourceManager.Stop();
    os::Thread::SetCreationFault(true);
    EXPECT_FALSE(gResourceManager.Start());
    os::Thread::SetCreationFault(false);
    ASSERT_TRUE(gResourceManager.PoolsCreated());
    WriteAnimation("inline");
    Resource* r = Get(RESOURCE_ANIMATION, "inline");
    auto load = std::async(std::launch::async, [&] { r->Load(true); });
    ASSERT_EQ(load.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(r->IsLoaded());
    r->Release();
    gResourceManager.Stop();  // evicts and destroys the pools without a thread
    EXPECT_FALSE(gResourceManager.PoolsCreated());
    EXPECT_TRUE(Logged("Removing unused resource: inline"));
    ASSERT_TRUE(gResourceManager.Start());
}

std::vector<uint8_t> StreamContent(size_t size) {
    std::vector<uint8_t> data(size);
    std::mt19937 rng(5);
    for (auto& b : data) b = uint8_t(rng());
    return data;
}

// Reads `total` bytes in random chunks; a looping reader restarts its count at the end
// of each pass (WaitUntilOpen) and goes on with the file's first bytes.
std::vector<uint8_t> Consume(StreamingFileReader* reader, size_t total) {
    std::vector<uint8_t> out;
    std::mt19937 rng(11);
    std::vector<uint8_t> buffer(70000);
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

TEST_F(ManagerTest, StreamingReaderOpenedBeforeStartIsServedOnceTheManagerRuns) {
    gResourceManager.Stop();
    const std::vector<uint8_t> data = StreamContent(300000);
    WriteBytes(Path("sounds", "early.ogg"), data);
    auto* reader = new StreamingFileReader(32768, "early", "ogg", "sounds", false);
    ASSERT_TRUE(gResourceManager.Start());
    auto consumer = std::async(std::launch::async, [&] { return Consume(reader, data.size()); });
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(consumer.get(), data);
}

TEST_F(ManagerTest, LoopingStreamArrivesByteIdenticalWhileTexturesLoad) {
    const std::vector<uint8_t> data = StreamContent(5 * 1024 * 1024 + 17);
    WriteBytes(Path("sounds", "music.ogg"), data);
    for (int i = 0; i < 40; ++i) WriteBytes(Path("textures", "t" + std::to_string(i) + ".dds"), SmallDds(i));
    auto* reader = new StreamingFileReader(65536, "music", "ogg", "sounds", true);
    const size_t total = data.size() * 5 / 2;
    auto consumer = std::async(std::launch::async, [&] { return Consume(reader, total); });
    std::vector<Resource*> textures;
    for (int i = 0; i < 40; ++i) {
        textures.push_back(Get(RESOURCE_TEXTURE, ("t" + std::to_string(i) + ".dds").c_str()));
        textures.back()->QueueLoad();
    }
    for (Resource* t : textures) t->WaitUntilLoaded(true);
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    const std::vector<uint8_t> got = consumer.get();
    ASSERT_EQ(got.size(), total);
    for (size_t pass = 0; pass * data.size() < total; ++pass) {
        const size_t at = pass * data.size(), n = std::min(data.size(), total - at);
        EXPECT_TRUE(std::equal(got.begin() + long(at), got.begin() + long(at + n), data.begin())) << "pass " << pass;
    }
    for (Resource* t : textures) {
        EXPECT_NE(static_cast<ResourceTexture*>(t)->Handle(), nullptr);
        t->Release();
    }
}

}  // namespace
