// Resource lists preloaded by the loader (command 13): lists written by the engine and by
// the independent Python writer, the order of kinds, template names, a missing list, and
// shader entries made for another device's depth format.
// test-sanitize: thread address
// test-depends: shader_data
#include <cstring>

#include "../shaders/ShaderTestSupport.h"
#include "core/fs/FileReader.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceList.h"

using namespace resourcetest;
using namespace shadertest;

namespace {

std::vector<std::string> gTemplates;

struct ListTest : ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        gTemplates.clear();
        ResourceList::SetTemplatePreloadHook([](const char* name) {
            gTemplates.push_back(name);
            gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Loading template: %s", name);
        });
        std::vector<uint8_t> animation(16, 7);
        std::memcpy(animation.data(), &kAnimationFileMagic, 4);
        std::memcpy(animation.data() + 4, &kAnimationFileVersion, 4);
        WriteBytes(Path("animations", "Walk.bin"), animation);
        for (const char* name : {"A", "B"})
            WriteBytes(Path("textures", std::string("Plain/") + name + ".dds"), ReadBytes(Path("textures", "System/White_4x4$cxy.dds")));
    }
    void TearDown() override {
        ResourceList::SetTemplatePreloadHook(nullptr);
        ShaderFixture::TearDown();
    }
    // The two names of a variant made with an explicit option text (as on another device).
    std::pair<std::string, std::string> Variant(const char* family, const char* options) {
        CriticalSectionGuard guard(&gShaderManager->Lock());
        const char *vs = nullptr, *ps = nullptr;
        gShaderManager->FindFamilyLocked(family)->GetVariantNames(options, &vs, &ps);
        return {vs, ps};
    }
    void Preload(const char* name) {
        log.Clear();
        gResourceManager.PostPreloadList(name, "ResList", "scenes");
        gResourceManager.Flush();
    }
};

TEST_F(ListTest, ListsOfBothWritersPreloadKindByKindInTheirOrder) {
    const auto shader = Variant("Light", "POINT SPOT");  // not among the built-in variants
    struct Entry {
        ResourceList::Kind kind;
        const char* pyKind;
        std::string name;
    } entries[] = {
        {ResourceList::TEMPLATES, "Templates", "Templates/Tower"},
        {ResourceList::TEMPLATES, "Templates", "templates/props/Wall"},
        {ResourceList::TEMPLATES, "Templates", "Other/Thing"},
        {ResourceList::SOUNDS, "Sounds", "Boom.wav"},
        {ResourceList::ANIMATIONS, "Animations", "Walk.bin"},
        {ResourceList::TEXTURES, "Textures", "Plain/A.dds"},
        {ResourceList::TEXTURES, "Textures", "Plain/B.dds"},
        {ResourceList::FONTS, "Fonts", "Default"},
        {ResourceList::VIDEOS, "Videos", "Intro"},
        {ResourceList::SHADERS, "Shaders", shader.first},
        {ResourceList::SHADERS, "Shaders", shader.second},
    };
    ResourceList list;
    std::string pyArguments;
    for (const Entry& e : entries) {
        ResourceEntry& r = list.entries[e.kind][list.entries[e.kind].Add(ResourceEntry{})];
        r.name = e.name.c_str();
        r.parameter = 0;
        pyArguments += " '" + std::string(e.pyKind) + ":" + e.name + ":0:0'";
    }
    ASSERT_TRUE(list.SaveToFile("Engine", "ResList", "scenes", 0));
    ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py reslist " + Path("scenes", "Python.ResList") +
                      pyArguments));
    EXPECT_EQ(ReadBytes(Path("scenes", "Engine.ResList")), ReadBytes(Path("scenes", "Python.ResList")));

    for (const char* file : {"Engine", "Python"}) {
        gTemplates.clear();
        gResourceManager.PostEvictResources(kAllResourceTypes, true, 0, 0);
        Preload(file);
        std::vector<std::string> order;
        for (const std::string& line : Lines("Loading ")) order.push_back(line.substr(0, line.find(':')));
        EXPECT_EQ(order, (std::vector<std::string>{"Loading shader resource", "Loading shader resource",
                                                  "Loading texture resource", "Loading texture resource",
                                                  "Loading animation resource", "Loading sound resource",
                                                  "Loading template", "Loading template"}))
            << file;
        EXPECT_EQ(gTemplates, (std::vector<std::string>{"Tower", "props/Wall"}));
        EXPECT_EQ(Lines("PreloadResources begin").size(), 1u);
        EXPECT_EQ(Lines("PreloadResources end. Time: ").size(), 1u);
        // Preloaded resources stay in their pools without users.
        CriticalSectionGuard guard(&gResourceManager.ManagerLock());
        ResourcePool* textures = gResourceManager.Pool(RESOURCE_TEXTURE);
        const int32_t a = textures->Find("Plain/A.dds");
        ASSERT_GE(a, 0);
        EXPECT_TRUE(textures->At(static_cast<uint32_t>(a))->IsLoaded());
        EXPECT_EQ(textures->At(static_cast<uint32_t>(a))->GetUseCount(), 0u);
        EXPECT_LT(gResourceManager.Pool(RESOURCE_FONT)->Find("Default"), 0);
    }

    // Without the registry hook, template entries are skipped with one line.
    ResourceList::SetTemplatePreloadHook(nullptr);
    Preload("Engine");
    EXPECT_EQ(Lines("PreloadResources - no template registry").size(), 1u);
}

TEST_F(ListTest, ASingleTextureAndAMissingList) {
    ResourceList list;
    list.entries[ResourceList::TEXTURES].Add(ResourceEntry{});
    list.entries[ResourceList::TEXTURES][0].name = "Plain/A.dds";
    ASSERT_TRUE(list.SaveToFile("One", "ResList", "scenes", 0));
    Preload("One");
    EXPECT_EQ(Lines("Loading texture resource: Plain/A.dds").size(), 1u);

    Preload("Nowhere");
    EXPECT_EQ(Lines("Cannot preload resource list from scenes/Nowhere.ResList").size(), 1u);
    EXPECT_TRUE(Lines("PreloadResources begin").empty());
}

struct IntzOnlyListTest : ListTest {
    void Configure(RendererSettings&) override {
        gfx::CapabilityFaults faults;
        faults.refuseRawz = true;
        gfx::SetCapabilityFaults(faults);
    }
};

TEST_F(IntzOnlyListTest, AShaderMadeForRawzLoadsAsThisDevicesVariant) {
    // Not among the built-in variants, so the preload loads it.
    const auto rawz = Variant("Light", "SPOT SHADOWMAP HARDWARE_DEPTH HARDWARE_DEPTH_RAWZ");
    const auto intz = Variant("Light", "SPOT SHADOWMAP HARDWARE_DEPTH");
    ASSERT_NE(rawz.second, intz.second);
    ResourceList list;
    for (const std::string& n : {rawz.first, rawz.second}) {
        list.entries[ResourceList::SHADERS][list.entries[ResourceList::SHADERS].Add(ResourceEntry{})].name = n.c_str();
    }
    ASSERT_TRUE(list.SaveToFile("Rawz", "ResList", "scenes", 0));
    Preload("Rawz");
    EXPECT_EQ(Lines("Loading shader resource: " + intz.second).size(), 1u);
    CriticalSectionGuard guard(&gResourceManager.ManagerLock());
    EXPECT_LT(gResourceManager.Pool(RESOURCE_SHADER)->Find(rawz.second.c_str()), 0);
}

}  // namespace
