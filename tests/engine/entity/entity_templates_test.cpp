// test-sanitize: thread address
// test-timeout: 120
// Templates through the real file system and the ResourceManager thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CaptureLogSink.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/resources/ResourceTestSupport.h"

namespace {

const char* const kG1 = "00000000-0000-0000-0000-000000000001";
const char* const kG2 = "00000000-0000-0000-0000-000000000002";
const char* const kG4 = "00000000-0000-0000-0000-000000000004";
const char* const kG5 = "00000000-0000-0000-0000-000000000005";

bool ReadInfo(const std::vector<uint8_t>& bytes, EntityTemplateRegistry& into, size_t length = SIZE_MAX) {
    BoundedReader in(bytes.data(), std::min(length, bytes.size()));
    return ReadTemplateInfo(in, into);
}

SimpleGUID Guid(const char* text) {
    SimpleGUID g;
    EXPECT_TRUE(g.FromString(text));
    return g;
}

struct TemplateFilesTest : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        std::filesystem::create_directories(root + "/templates");
        gFileSystem.MountDirectory("templates", (root + "/templates").c_str());
        gEntityTemplateRegistry.Clear();
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        log.Clear();
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gEntityTemplateRegistry.SetInitialised(true);
        gEntityTemplateRegistry.Shutdown();
        ResourceFixture::TearDown();
    }
    void MakeTree() {
        ASSERT_TRUE(rendertest::Shell("sh " PROJECT_SOURCE_ROOT "/tests/engine/entity/make_template_tree.sh " +
                                      Path("templates", "")));
    }
    void ScanTree() {
        MakeTree();
        gEntityTemplateRegistry.ScanTemplates();
    }
    // Runs the independent writer; the file lands at kind/name.
    void Write(const char* command, const std::string& kind, const std::string& name, const std::string& json) {
        const std::string out = Path(kind, name);
        std::filesystem::create_directories(std::filesystem::path(out).parent_path());
        std::string quoted;
        for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py " +
                                      std::string(command) + " " + out + " '" + quoted + "'"))
            << command << " " << json;
    }
    static std::string Binary(const char* guid, uint32_t type, const std::string& luaClass, const std::string& extra = "") {
        return "{\"guid\":\"" + std::string(guid) + "\",\"type\":" + std::to_string(type) +
               ",\"props\":{\"lua_class\":\"" + luaClass +
               "\",\"passes\":2,\"face_camera_mode\":3,\"color\":[10,20,30,40,2.5],\"box\":[-2,-3,-4,1,2,3,4,1],"
               "\"quality\":4,\"combat\":false,\"tactical_extended\":2},\"extra\":\"" + extra + "\"}";
    }
};

TEST_F(TemplateFilesTest, ScannedTreeRegistersWithItsRules) {
    ScanTree();
    EXPECT_TRUE(Logged("Unable to register template due to duplicated GUID: templates/b/Second.template (guid used by "
                       "templates/a/First)"));
    for (const char* bad : {"c/NoType.template", "c/LateType.template", "c/Garbage.template", "c/Empty.template",
                            "c/Dangling.template"})
        EXPECT_TRUE(Logged(std::string("Unable to load template entity from file: templates/") + bad)) << bad;
    EXPECT_FALSE(Logged("Hidden"));
    EXPECT_FALSE(Logged("readme"));
    const struct {
        const char* path;
        const char* guid;
        uint32_t type;
    } found[] = {{"a/First", kG1, 0}, {"A\\FIRST", kG1, 0}, {"b/third", kG2, 0},
                 {"a\\Deep/DEEPER\\leaf", kG4, 0}, {"c/Long", kG5, 7}};
    for (const auto& f : found) {
        EntityTemplateStub* s = gEntityTemplateRegistry.FindStubByName(f.path);
        ASSERT_NE(s, nullptr) << f.path;
        EXPECT_EQ(s, gEntityTemplateRegistry.FindStubByGUID(Guid(f.guid))) << f.path;
        EXPECT_EQ(s->typeId, f.type) << f.path;
    }
    for (const char* missing :
         {"b/Second", ".svn/Hidden", "c/LateType", "a", "a/Deep", "", "x/First", "templates/a/First"})
        EXPECT_EQ(gEntityTemplateRegistry.FindStubByName(missing), nullptr) << missing;
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 4u);
}

TEST_F(TemplateFilesTest, BinaryTemplatesLoadFieldByFieldPreferringSuffixes) {
    ScanTree();
    Write("binarytemplate", "templates", "a/First.BinaryTemplate", Binary(kG1, 0, "Crate", "0102"));
    Write("binarytemplate", "templates", "b/Third_hd.BinaryTemplate", Binary(kG2, 0, "Suffixed"));
    Write("binarytemplate", "templates", "b/Third.BinaryTemplate", Binary(kG2, 0, "Plain"));
    gResourceManager.PostAddName("_hd");
    gResourceManager.Flush();

    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByName("a/first", true);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->GetName(), "templates/a/First");
    EXPECT_EQ(t->guid, Guid(kG1));
    EXPECT_STREQ(t->luaClass, "Crate");
    EXPECT_EQ(t->initPassCount, 2u);
    EXPECT_EQ(t->faceCameraMode, 3u);
    EXPECT_EQ(t->wireframeColor.c[2], 30);
    EXPECT_FLOAT_EQ(t->wireframeColor.intensity, 2.5f);
    EXPECT_EQ(t->staticBoundingBox.min.z, -4.0f);
    EXPECT_EQ(t->minimumQualityLevel, 4);
    EXPECT_FALSE(t->visibleInCombatView);
    EXPECT_EQ(t->visibleInTacticalExtended, 2);
    EXPECT_EQ(t->binaryDataVersion, kTemplateBinaryVersion);
    EntityTemplate* third = gEntityTemplateRegistry.FindTemplateByName("b/Third", true);
    ASSERT_NE(third, nullptr);
    ASSERT_NE(third->luaClass, nullptr);
    EXPECT_STREQ(third->luaClass, "Suffixed");

    // A file shorter than its header: the load fails and says so.
    std::ofstream(Path("templates", "a/Deep/Deeper/Leaf.BinaryTemplate"), std::ios::binary) << "short";
    EntityTemplate* leaf = gEntityTemplateRegistry.FindTemplateByName("a/Deep/Deeper/Leaf", true);
    ASSERT_NE(leaf, nullptr);
    EXPECT_TRUE(Logged("corrupt binary template"));
}

TEST_F(TemplateFilesTest, CatalogueBuildsTheTreeBounded) {
    Write("templateinfo", "templates", "TemplateInfo.Bin",
          "{\"stubs\":[{\"file\":\"Crate\",\"guid\":\"" + std::string(kG2) + "\",\"type\":1},"
          "{\"file\":\"Barrel\",\"guid\":\"" + kG1 + "\",\"type\":2},"
          "{\"file\":\"Twin\",\"guid\":\"" + kG1 + "\",\"type\":3},"
          "{\"file\":\"Loose\",\"guid\":\"" + kG4 + "\",\"type\":4}],"
          "\"root\":{\"name\":\"templates\",\"folders\":[{\"name\":\"props\",\"guids\":[\"" + kG2 +
          "\",\"00000000-0000-0000-0000-0000000000ff\"],\"folders\":[{\"name\":\"wood\",\"guids\":[\"" + kG1 +
          "\"]}]}]}}");
    ASSERT_TRUE(ReadTemplateInfoFile(gEntityTemplateRegistry));
    EXPECT_TRUE(Logged("duplicated template GUID"));
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 3u);
    for (uint32_t i = 1; i < gEntityTemplateRegistry.GUIDIndexCount(); ++i)
        EXPECT_LT(SimpleGUID::Compare(gEntityTemplateRegistry.GUIDIndexAt(i - 1)->guid,
                                      gEntityTemplateRegistry.GUIDIndexAt(i)->guid), 0);
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByName("Props/Crate")->typeId, 1u);
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByName("props/wood/barrel")->typeId, 2u);
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByName("Loose")->typeId, 4u);  // named by no folder: the root
    char path[300];
    gEntityTemplateRegistry.FindStubByName("props/wood/barrel")->GetFullPath(path, sizeof path);
    EXPECT_STREQ(path, "templates/props/wood/Barrel");
    // Two sibling folders of one name merge, sub-folders included.
    Write("templateinfo", "templates", "Twins.Bin",
          "{\"stubs\":[{\"file\":\"A\",\"guid\":\"" + std::string(kG1) + "\",\"type\":1},"
          "{\"file\":\"B\",\"guid\":\"" + kG2 + "\",\"type\":2}],\"root\":{\"name\":\"templates\",\"folders\":["
          "{\"name\":\"x\",\"folders\":[{\"name\":\"b\",\"guids\":[\"" + kG2 + "\"]}]},"
          "{\"name\":\"X\",\"folders\":[{\"name\":\"a\",\"guids\":[\"" + kG1 + "\"]}]}]}}");
    {
        EntityTemplateRegistry scratch;
        ASSERT_TRUE(ReadInfo(resourcetest::ReadBytes(Path("templates", "Twins.Bin")), scratch));
        EXPECT_NE(scratch.FindStubByName("x/a/A"), nullptr);
        EXPECT_NE(scratch.FindStubByName("x/b/B"), nullptr);
    }

    // Every shorter cut of the file fails cleanly and keeps what was read before it.
    const std::vector<uint8_t> bytes = resourcetest::ReadBytes(Path("templates", "TemplateInfo.Bin"));
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EntityTemplateRegistry scratch;
        EXPECT_FALSE(ReadInfo(bytes, scratch, cut)) << cut;
    }
    // Folders nest at most 64 levels deep.
    for (int depth : {64, 65}) {
        std::string tree = "{\"name\":\"templates\"";
        for (int i = 0; i < depth; ++i) tree += ",\"folders\":[{\"name\":\"f\"";
        for (int i = 0; i < depth; ++i) tree += "}]";
        Write("templateinfo", "templates", "Deep.Bin", "{\"stubs\":[],\"root\":" + tree + "}}");
        EntityTemplateRegistry scratch;
        EXPECT_EQ(ReadInfo(resourcetest::ReadBytes(Path("templates", "Deep.Bin")), scratch), depth == 64) << depth;
    }
    // Counts larger than the file are refused before anything is allocated.
    EntityTemplateRegistry scratch;
    EXPECT_FALSE(ReadInfo({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}, scratch));
}

// The catalogue's refusals by the property-list reader name the file, wherever it is cut.
TEST_F(TemplateFilesTest, ACatalogueRefusalNamesTheFile) {
    Write("templateinfo", "templates", "TemplateInfo.Bin",
          "{\"stubs\":[{\"file\":\"Crate\",\"guid\":\"" + std::string(kG2) + "\",\"type\":1}],"
          "\"root\":{\"name\":\"templates\",\"folders\":[{\"name\":\"props\",\"guids\":[\"" + kG2 + "\"]}]}}");
    const std::vector<uint8_t> bytes = resourcetest::ReadBytes(Path("templates", "TemplateInfo.Bin"));
    for (size_t cut : {size_t(6), bytes.size() / 2, bytes.size() - 1}) {
        SCOPED_TRACE(cut);
        resourcetest::WriteBytes(Path("templates", "TemplateInfo.Bin"),
                                 std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
        gEntityTemplateRegistry.Clear();
        log.Clear();
        EXPECT_FALSE(ReadTemplateInfoFile(gEntityTemplateRegistry));
        uint32_t named = 0;
        for (const auto& m : log.Messages())
            if (m.text.find("Binary property data is corrupt") != std::string::npos) {
                EXPECT_NE(m.text.find("Templates/TemplateInfo.Bin"), std::string::npos) << m.text;
                ++named;
            }
        EXPECT_EQ(named, 1u);
    }
}

TEST_F(TemplateFilesTest, OptimizedTemplatesLoadInFileOrder) {
    const std::string a = Binary(kG1, 1, "OptA"), b = Binary(kG2, 2, "OptB"), dup = Binary(kG1, 3, "OptDup");
    Write("opt", "scenes", "level.opt", "{\"version\":50,\"templates\":[" + a + "," + b + "," + dup + "]}");
    Write("opt", "scenes", "old.opt", "{\"version\":49,\"templates\":[" + a + "]}");
    std::ofstream(Path("scenes", "tiny.opt"), std::ios::binary) << "1234567";

    LoadOptimizedTemplates("tiny", "scenes");
    LoadOptimizedTemplates("old", "scenes");
    EXPECT_TRUE(Logged("Wrong opt file version old"));
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 0u);

    LoadOptimizedTemplates("level", "scenes");
    EXPECT_TRUE(Logged("LoadOptimizedTemplates in "));
    ASSERT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 2u);
    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByGUID(Guid(kG2), false);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->luaClass, "OptB");
    EXPECT_STREQ(t->GetName(), "#optimizedtemplate001");
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByGUID(Guid(kG1))->typeId, 1u);  // the first of the twins
    EXPECT_STREQ(gEntityTemplateRegistry.FindTemplateByGUID(Guid(kG1), false)->luaClass, "OptA");

    // A second file reuses the names: not while a template of the first is in use.
    Write("opt", "scenes", "next.opt", "{\"version\":50,\"templates\":[" + Binary(kG4, 4, "OptNext") + "]}");
    EntityTemplate* inUse = gEntityTemplateRegistry.FindTemplateByGUID(Guid(kG1), false);
    inUse->AddInstanceRef();
    LoadOptimizedTemplates("next", "scenes");
    EXPECT_TRUE(Logged("#optimizedtemplate000 is still in use, next not loaded"));
    EXPECT_STREQ(inUse->luaClass, "OptA");
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByGUID(Guid(kG4)), nullptr);
    inUse->ReleaseInstanceRef();
    LoadOptimizedTemplates("next", "scenes");
    EXPECT_STREQ(gEntityTemplateRegistry.FindTemplateByGUID(Guid(kG4), false)->luaClass, "OptNext");
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByGUID(Guid(kG1)), nullptr);

    // A truncated entry ends the batch: the entries after it are not registered.
    gEntityTemplateRegistry.UnloadUnusedTemplates();
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 0u);
    std::vector<uint8_t> bytes = resourcetest::ReadBytes(Path("scenes", "level.opt"));
    bytes.resize(8 + (bytes.size() - 8) / 3 + 40);  // into the second entry
    resourcetest::WriteBytes(Path("scenes", "cut.opt"), bytes);
    LoadOptimizedTemplates("cut", "scenes");
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 1u);
    EXPECT_NE(gEntityTemplateRegistry.FindStubByGUID(Guid(kG1)), nullptr);
}

TEST_F(TemplateFilesTest, UnloadRules) {
    ScanTree();
    Write("binarytemplate", "templates", "a/First.BinaryTemplate", Binary(kG1, 0, "Crate"));
    Write("binarytemplate", "templates", "b/Third.BinaryTemplate", Binary(kG2, 0, "Held"));
    EntityTemplateStub* first = gEntityTemplateRegistry.FindStubByName("a/First");
    EntityTemplateStub* third = gEntityTemplateRegistry.FindStubByName("b/Third");

    // Flag 0x200: the last entity takes the template with it.
    EntityTemplate* t = first->GetTemplate(true);
    t->AddFlags(kTemplateFlagUnloadWithLastEntity);
    Entity* e = gEntityManager->CreateEntity("a/First", nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(t->GetInstanceCount(), 1u);
    gEntityManager->DestroyEntity(e);
    EXPECT_EQ(first->GetLoadedTemplate(), nullptr);

    // ... unless someone outside still holds its resource part.
    EntityTemplate* held = gEntityTemplateRegistry.AcquireTemplateByName("b/Third", 0);
    ASSERT_NE(held, nullptr);
    held->AddFlags(kTemplateFlagUnloadWithLastEntity);
    gEntityManager->DestroyEntity(gEntityManager->CreateEntity("b/Third", nullptr, Matrix::IDENTITY, 0, nullptr));
    EXPECT_EQ(third->GetLoadedTemplate(), held);
    first->GetTemplate(true);
    gEntityTemplateRegistry.UnloadUnusedTemplates();
    EXPECT_EQ(first->GetLoadedTemplate(), nullptr);
    EXPECT_EQ(third->GetLoadedTemplate(), held);
    EXPECT_STREQ(held->luaClass, "Held");
    held->Release();
    gEntityTemplateRegistry.UnloadUnusedTemplates();
    EXPECT_EQ(third->GetLoadedTemplate(), nullptr);
    EXPECT_TRUE(Logged("Unused templates unloaded in "));
}

// The loader runs a job that needs the registry while the main thread waits for a
// template queued behind that job: the wait must not hold the registry.
TEST_F(TemplateFilesTest, WaitingForALoadingTemplateLeavesTheRegistryFree) {
    ScanTree();
    Write("binarytemplate", "templates", "a/First.BinaryTemplate", Binary(kG1, 0, "Crate"));
    static std::atomic<bool> go, looked;
    go = looked = false;
    ASSERT_TRUE(gResourceManager.PostCall(
        [](BaseThread*, void*, CommandRingBuffer*) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!go && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the main thread is waiting by now
            looked = gEntityTemplateRegistry.FindStubByGUID(Guid(kG1)) != nullptr;
        },
        nullptr));
    EntityTemplateStub* stub = gEntityTemplateRegistry.FindStubByName("a/First");
    ASSERT_NE(stub, nullptr);
    EntityTemplate* t = TemplateFromResource(gResourceManager.GetResource(RESOURCE_TEMPLATE, "templates/a/First", 0, true, 0));
    ASSERT_NE(t, nullptr);
    stub->SetTemplate(t);
    gResourceManager.QueueLoad(t);
    go = true;
    EXPECT_EQ(gEntityTemplateRegistry.FindTemplateByName("a/First", true), t);
    EXPECT_TRUE(looked);
    EXPECT_STREQ(t->luaClass, "Crate");
}

TEST_F(TemplateFilesTest, LoaderThreadLookupsWhileTheMainThreadScans) {
    MakeTree();
    static std::atomic<bool> stop;
    static std::atomic<uint32_t> lookups;
    stop = false;
    lookups = 0;
    ASSERT_TRUE(gResourceManager.PostCall(
        [](BaseThread*, void*, CommandRingBuffer*) {
            const SimpleGUID g = Guid(kG4);
            while (!stop) {
                gEntityTemplateRegistry.FindStubByName("a/Deep/Deeper/Leaf");
                gEntityTemplateRegistry.FindStubByGUID(g);
                ++lookups;
            }
        },
        nullptr));
    for (int i = 0; i < 20; ++i) {
        gEntityTemplateRegistry.Clear();
        gEntityTemplateRegistry.ScanTemplates();
    }
    ASSERT_TRUE(rendertest::WaitUntil([] { return lookups > 10; }));
    stop = true;
    gResourceManager.Flush();
    EXPECT_NE(gEntityTemplateRegistry.FindStubByGUID(Guid(kG4)), nullptr);
}

}  // namespace
