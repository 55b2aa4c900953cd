// Resource lists preloaded by the loader, written by the engine and by the reference writer.
// test-sanitize: thread address
// test-depends: shader_data

#include "../shaders/ShaderTestSupport.h"
#include "core/rtti/RTTIProperty.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceList.h"
#include "render/resources/TemplateResourceServices.h"

using namespace resourcetest;
using namespace shadertest;

namespace {

std::vector<std::string> gTemplates;

// A registry that notes each template it is asked to load.
struct RecordingTemplates : TemplateResourceServices {
    bool HasTemplateRegistry() const override { return true; }
    void PreloadTemplate(const char* name) override {
        gTemplates.push_back(name);
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Loading template: %s", name);
    }
} recordingTemplates;

struct ListTest : ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        gTemplates.clear();
        SetTemplateResourceServices(&recordingTemplates);
        std::vector<uint8_t> animation(16 + 108, 0);  // the header, then an empty clip
        std::memcpy(animation.data(), &kAnimationFileMagic, 4);
        std::memcpy(animation.data() + 4, &kAnimationFileVersion, 4);
        WriteBytes(Path("animations", "Walk.bin"), animation);
        for (const char* name : {"A", "B"}) WriteBytes(Path("textures", std::string("Plain/") + name + ".dds"), SmallDds(1));
    }
    void TearDown() override {
        SetTemplateResourceServices(nullptr);
        ShaderFixture::TearDown();
    }
    // The two names of a variant made with an explicit option text (as on another device).
    std::pair<std::string, std::string> Variant(const char* family, const char* options) {
        CriticalSectionGuard guard(&gShaderManager->Lock());
        const char *vs = nullptr, *ps = nullptr;
        gShaderManager->FindFamilyLocked(family)->GetVariantNames(options, &vs, &ps);
        return {vs, ps};
    }
    static void Add(ResourceList& list, ResourceList::Kind kind, const std::string& name) {
        list.entries[kind][list.entries[kind].Add(ResourceEntry{})].name = name.c_str();
    }
    void Preload(const char* name) {
        log.Clear();
        gResourceManager.PostPreloadList(name, "ResList", "scenes");
        gResourceManager.Flush();
    }
};

TEST_F(ListTest, ListsOfBothWritersPreloadKindByKindInTheirOrder) {
    const auto shader = Variant("Light", "POINT SPOT");  // not among the built-in variants
    const std::pair<ResourceList::Kind, std::string> entries[] = {
        {ResourceList::TEMPLATES, "Templates/Tower"}, {ResourceList::TEMPLATES, "templates/props/Wall"},
        {ResourceList::TEMPLATES, "Other/Thing"},     {ResourceList::SOUNDS, "Boom.wav"},
        {ResourceList::ANIMATIONS, "Walk.bin"},       {ResourceList::TEXTURES, "Plain/A.dds"},
        {ResourceList::TEXTURES, "Plain/B.dds"},      {ResourceList::FONTS, "Default"},
        {ResourceList::VIDEOS, "Intro"},              {ResourceList::SHADERS, shader.first},
        {ResourceList::SHADERS, shader.second},
    };
    ResourceList list;
    std::string pyArguments;  // the Python writer places each kind by its own list of names
    for (const auto& [kind, name] : entries) {
        Add(list, kind, name);
        pyArguments += " '" + std::string(ResourceList::RegisterClass()->PropertyAt(kind)->Name()) + ":" + name + ":0:0'";
    }
    ASSERT_TRUE(list.SaveToFile("Engine", "ResList", "scenes", 0));
    ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py reslist " +
                                  Path("scenes", "Python.ResList") + pyArguments));

    for (const char* file : {"Engine", "Python"}) {
        gTemplates.clear();
        gResourceManager.PostEvictResources(kAllResourceTypes, true, 0, 0);
        Preload(file);
        std::vector<std::string> order;
        for (const std::string& line : Lines("Loading ")) order.push_back(line.substr(8, line.find(':') - 8));
        EXPECT_EQ(order, (std::vector<std::string>{"shader resource", "shader resource", "texture resource",
                                                  "texture resource", "animation resource", "sound resource",
                                                  "template", "template"}))
            << file;
        EXPECT_EQ(gTemplates, (std::vector<std::string>{"Tower", "props/Wall"}));
        EXPECT_EQ(Lines("PreloadResources begin").size(), 1u);
        EXPECT_EQ(Lines("PreloadResources end. Time: ").size(), 1u);
        // Preloaded resources stay in their pools without users; fonts are not preloaded.
        CriticalSectionGuard guard(&gResourceManager.ManagerLock());
        ResourcePool* textures = gResourceManager.Pool(RESOURCE_TEXTURE);
        const int32_t a = textures->Find("Plain/A.dds");
        ASSERT_GE(a, 0);
        EXPECT_TRUE(textures->At(static_cast<uint32_t>(a))->IsLoaded());
        EXPECT_EQ(textures->At(static_cast<uint32_t>(a))->GetUseCount(), 0u);
        EXPECT_LT(gResourceManager.Pool(RESOURCE_FONT)->Find("Default"), 0);
    }

    // Without a template registry, template entries are skipped with one line.
    SetTemplateResourceServices(nullptr);
    Preload("Engine");
    EXPECT_EQ(Lines("PreloadResources - no template registry").size(), 1u);

    Preload("Nowhere");
    EXPECT_EQ(Lines("Cannot preload resource list from scenes/Nowhere.ResList").size(), 1u);
    EXPECT_TRUE(Lines("PreloadResources begin").empty());
}

// A list that cannot be read is refused with one line naming it, whether the property
// list inside is cut or the file is empty; nothing is preloaded.
TEST_F(ListTest, ARefusedListNamesItsFile) {
    ResourceList list;
    Add(list, ResourceList::TEXTURES, "Plain/A.dds");
    Add(list, ResourceList::TEXTURES, "Plain/B.dds");
    ASSERT_TRUE(list.SaveToFile("Whole", "ResList", "scenes", 4));
    const std::vector<uint8_t> whole = ReadBytes(Path("scenes", "Whole.ResList"));
    // The payload cut inside the second name, with the size word to match.
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 6);
    const uint32_t payload = uint32_t(cut.size() - 4);
    std::memcpy(cut.data(), &payload, 4);
    const struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* line;
    } cases[] = {{"Cut", cut, "Binary property data is corrupt"}, {"Empty", {}, "is cut short"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(Path("scenes", std::string(c.name) + ".ResList"), c.bytes);
        Preload(c.name);
        const auto lines = log.Messages();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].text.find(c.line), std::string::npos) << lines[0].text;
        EXPECT_NE(lines[0].text.find(std::string("scenes/") + c.name + ".ResList"), std::string::npos) << lines[0].text;
    }
}

TEST_F(ListTest, OnlyANextEntrySetsTheReadAhead) {
    // A load that opens its file preheats the read-ahead entry and empties the slot; one
    // that opens nothing leaves the slot (and its use) as the preload set it. A shader name
    // of the longest length is taken as it is.
    const std::pair<std::vector<std::string>, uint32_t> cases[] = {
        {{"Missing/0.dds"}, 1}, {{"Missing/0.dds", "Missing/1.dds"}, 2}, {{"Plain/A.dds", "Plain/B.dds"}, 1}};
    for (const auto& [names, uses] : cases) {
        ResourceList list;
        for (const std::string& name : names) Add(list, ResourceList::TEXTURES, name);
        Add(list, ResourceList::SHADERS, std::string(kMaxResourceName, 's'));
        gResourceManager.PreloadResources(list);
        Resource* last = Get(RESOURCE_TEXTURE, names.back().c_str());
        EXPECT_EQ(last->GetUseCount(), uses) << names.size();  // ours, and the read-ahead's
        gResourceManager.SetReadAheadResource(nullptr);
        EXPECT_EQ(last->GetUseCount(), 1u) << names.size();
        last->Release();
    }
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
    for (const std::string& n : {rawz.first, rawz.second}) Add(list, ResourceList::SHADERS, n);
    ASSERT_TRUE(list.SaveToFile("Rawz", "ResList", "scenes", 0));
    Preload("Rawz");
    EXPECT_EQ(Lines("Loading shader resource: " + intz.second).size(), 1u);
    CriticalSectionGuard guard(&gResourceManager.ManagerLock());
    EXPECT_LT(gResourceManager.Pool(RESOURCE_SHADER)->Find(rawz.second.c_str()), 0);
}

}  // namespace
