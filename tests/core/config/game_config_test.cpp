// test-sanitize: address
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ConfigFolder.h"
#include "core/CRC32.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SolidBlob.h"

namespace {

std::vector<uint8_t> Save(const RTTIPolyBaseClass& o, uint32_t options = kGameConfigOptions) {
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(o, blob, options);
    return blob;
}

// Every value away from its default, arrays and nested objects included.
void FillNonDefault(GameConfig& g) {
    g.connectToExternalConsole = true, g.logFrameInfo = 2, g.mouseSensitivity = 2.5f, g.inputMode = 3;
    RTTIValueStore<char*>::Assign(g.repositoryPath, const_cast<char*>("D:/repo"));
    RendererConfigContainer& r = g.rendererConfig;
    r.gfxQualityLevel = 1, r.brightness = 0.75f, r.vSync = false, r.shadowMapSize = 1024, r.displayEntityNames = true;
    g.fullScreenMode = false, g.musicVolume = 0.25f, g.port = 1234, g.textLanguage = 3, g.voiceLanguage = 12;
    g.subtitleMode = 2, g.userGUIDEstablished = true;
    RTTIValueStore<char*>::Assign(g.activeConfigurationProfiles, const_cast<char*>("low;quiet"));
    SimpleGUID guid;
    for (uint8_t i = 0; i < 16; ++i) guid.bytes[i] = static_cast<uint8_t>(i * 17 + 1);
    g.SetUserGUID(guid);
    for (uint32_t set = 0; set < kControlSetCount; ++set) g.SetPrimaryControl(set, 2, 0x10001 + set);
    g.SetSecondaryControl(kControlSetKeyboard, 0, 57);
    g.SetPrimaryControl(kControlSetDIPad, 1, 9);
    g.controlEstablished = 7;
    g.BindKey(59, "toggleconsole"), g.BindKey(28, "say hello");
    g.consoleHistory.AddUnique("first"), g.consoleHistory.AddUnique("second");
    g.inGameProfilers[0] = 0x80000001u, g.editorProfilers[2] = 0xFFFu;
    g.windowWidth = 1920, g.windowHeight = 1080, g.useContainerFiles = false;
}

TEST(GameConfigTest, DefaultsAndChangedValuesSurviveTheRoundTrip) {
    GameConfig fresh, filled;
    FillNonDefault(filled);
    for (const GameConfig* source : {&fresh, &filled}) {
        const std::vector<uint8_t> blob = Save(*source);
        uint32_t size = 0, check = 0;
        std::memcpy(&size, blob.data(), 4);
        std::memcpy(&check, blob.data() + 4, 4);
        ASSERT_EQ(blob.size(), 12u + size);  // option 16: size, check value, CRC, payload
        EXPECT_EQ(check, source->GetRTTIClass()->GetLayoutHash(source));
        // Read over the other one, so every value must come from the blob.
        GameConfig back;
        if (source == &fresh) FillNonDefault(back);
        ASSERT_TRUE(SolidDeserializeFromBuffer(back, blob.data(), blob.size(), kGameConfigOptions));
        EXPECT_TRUE(source->GetRTTIClass()->PropertiesEqual(source, &back));
        EXPECT_EQ(back.GetUserGUID(), source->GetUserGUID());
        for (uint32_t set = 0; set < kControlSetCount; ++set) {
            uint32_t p[2] = {}, q[2] = {};
            source->GetControl(set, 2, &p[0], &p[1]);
            back.GetControl(set, 2, &q[0], &q[1]);
            EXPECT_EQ(p[0] * 31 + p[1], q[0] * 31 + q[1]) << set;
        }
    }
}

std::string Binds(const EngineConfig& e) {
    std::string s;
    for (const KeyBindDef& k : e.keyBinds) s += std::to_string(k.keyCode) + ":" + (k.command ? k.command : "-") + " ";
    return s;
}

TEST(EngineConfigTest, KeyBindsStaySortedAndAreReplacedAndRemoved) {
    EngineConfig e;
    e.BindKey(5, nullptr), e.BindKey(30, "c"), e.BindKey(10, "a"), e.BindKey(20, "b");
    EXPECT_EQ(Binds(e), "10:a 20:b 30:c ");
    char text[] = "replaced";
    e.BindKey(20, text);
    text[0] = 'X';  // the bind keeps its own copy
    e.BindKey(10, nullptr), e.BindKey(15, nullptr);
    EXPECT_EQ(Binds(e), "20:replaced 30:c ");
    EXPECT_STREQ(e.GetKeyBindCommand(30), "c");
    e.BindKey(30, nullptr);  // the last bind goes; its old slot is no bind any more
    EXPECT_EQ(e.GetKeyBindCommand(30), nullptr);
    e.BindKey(30, "c");
    EXPECT_EQ(e.GetKeyBindCommand(10), nullptr);
    EXPECT_EQ(e.GetKeyBindCommand(99), nullptr);
    e.RemoveAllKeyBinds();
    EXPECT_EQ(Binds(e), "");

    // Binds from a file come back sorted.
    GameConfig g;
    g.keyBinds.Add(KeyBindDef(40, "late")), g.keyBinds.Add(KeyBindDef(2, "early"));
    const std::vector<uint8_t> blob = Save(g);
    GameConfig back;
    ASSERT_TRUE(SolidDeserializeFromBuffer(back, blob.data(), blob.size(), kGameConfigOptions));
    EXPECT_EQ(Binds(back), "2:early 40:late ");
    EXPECT_EQ(back.GetKeyBindCommand(41), nullptr);  // beyond the last bind: never read past the array
}

TEST(EngineConfigTest, ControlSetsGrowWithZeroEntriesAndAnswerZeroBeyondThem) {
    CaptureLogSink sink;
    sink.Attach();
    EngineConfig e;
    e.SetPrimaryControl(kControlSetMouse, 3, 77);
    e.SetSecondaryControl(kControlSetMouse, 4, 12);  // one past the last entry
    auto controls = [&e](uint32_t set, uint32_t count) {
        std::string s;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t p = 1, q = 1;
            e.GetControl(set, i, &p, &q);
            s += std::to_string(p) + "/" + std::to_string(q) + " ";
        }
        return s;
    };
    EXPECT_EQ(controls(kControlSetMouse, 6), "0/0 0/0 0/0 77/0 0/12 0/0 ");
    EXPECT_EQ(e.controlSets[kControlSetMouse].Count(), 5u);
    EXPECT_EQ(controls(kControlSetCount, 1), "0/0 ");
    // Unknown sets and action indices from 4096 on change nothing.
    e.SetPrimaryControl(kControlSetCount, 0, 1);
    e.SetPrimaryControl(kControlSetGamePad, 0x80000000u, 1);
    e.SetPrimaryControl(kControlSetGamePad, 4096, 1);
    EXPECT_EQ(e.controlSets[kControlSetGamePad].Count(), 0u);
    EXPECT_TRUE(sink.Contains("out of range"));
    e.SetPrimaryControl(kControlSetGamePad, 4095, 1);
    EXPECT_EQ(e.controlSets[kControlSetGamePad].Count(), 4096u);
    e.RemoveAllControls(kControlSetMouse);
    EXPECT_EQ(e.controlSets[kControlSetMouse].Count(), 0u);
}

TEST(StringHistoryTest, AddUniqueMovesRepeatsToTheFrontAndDropsTheOldest) {
    StringHistoryContainer h;
    auto lines = [&h] {
        std::string s;
        for (uint32_t i = 0; i < h.Count(); ++i) s += std::string(h.GetAt(i) ? h.GetAt(i) : "(null)") + "|";
        return s;
    };
    for (const char* t : {"one", "one", "two", "One", "one", static_cast<const char*>(nullptr)}) h.AddUnique(t);
    EXPECT_EQ(lines(), "one|One|two|");  // case-sensitive; repeats move to the front

    h.Clear();
    for (int i = 1; i <= 33; ++i) h.AddUnique(("line " + std::to_string(i)).c_str());
    ASSERT_EQ(h.Count(), 32u);
    EXPECT_EQ(std::string(h.At(0)) + "," + h.At(31), "line 33,line 2");
    // An empty line is stored as null and is found again as "".
    for (const char* t : {"", "line 10", ""}) h.AddUnique(t);
    EXPECT_EQ(h.Count(), 32u);
    EXPECT_EQ(lines().substr(0, 27), "(null)|line 10|line 33|line");
    EXPECT_EQ(std::string(h.At(0)) + h.At(99), "");
    EXPECT_TRUE(h.GetAt(32) == nullptr && h.GetAt(0xFFFFFFFFu) == nullptr);
}

int gApplyCount = 0;
uint32_t gAppliedQuality = 0;
struct CountApply : RendererConfigServices {
    void ApplyRendererConfig(const RendererConfigContainer& c) override {
        ++gApplyCount;
        gAppliedQuality = c.gfxQualityLevel;
    }
};

TEST(RendererConfigTest, ApplyFiresForAllChangesAndForTheQualityLevel) {
    RendererConfigContainer r;
    r.OnPropertyChanged(nullptr);  // no renderer yet: nothing happens
    CountApply counter;
    SetRendererConfigServices(&counter);
    gApplyCount = 0;
    r.gfxQualityLevel = 4;
    r.OnPropertyChanged(nullptr);
    EXPECT_EQ(gAppliedQuality, 4u);
    r.OnPropertyChanged("GFX quality level");
    EXPECT_EQ(gApplyCount, 2);
    r.OnPropertyChanged("VSync");
    EXPECT_EQ(gApplyCount, 2);
    SetRendererConfigServices(nullptr);
    r.OnPropertyChanged(nullptr);
    EXPECT_EQ(gApplyCount, 2);
}

// A blob whose check value and CRC pass but whose payload stops parsing half-way.
std::vector<uint8_t> Resealed(std::vector<uint8_t> payload) {
    std::vector<uint8_t> blob(12);
    const uint32_t n = static_cast<uint32_t>(payload.size());
    GameConfig layout;
    const uint32_t check = layout.GetRTTIClass()->GetLayoutHash(&layout);
    const uint32_t crc = CRC32::GetDefault().Compute(payload.data(), n);
    std::memcpy(&blob[0], &n, 4);
    std::memcpy(&blob[4], &check, 4);
    std::memcpy(&blob[8], &crc, 4);
    blob.insert(blob.end(), payload.begin(), payload.end());
    return blob;
}

// The "project" mount in a folder of its own, with the log captured.
class GameConfigFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(project.Mounted());
        sink.Attach();
    }
    ConfigFolder project{"project"};
    CaptureLogSink sink;
};

TEST_F(GameConfigFileTest, ConfigBinLoadsWholeAndChangesNothingWhenItsPayloadStopsParsing) {
    GameConfig plain, oneBind;
    ASSERT_TRUE(plain.Save());
    const std::vector<uint8_t> a = project.Read("config.bin");
    EXPECT_EQ(a, Save(plain));  // the blob and nothing else
    GameConfig loaded;
    FillNonDefault(loaded);
    ASSERT_TRUE(loaded.Load());
    EXPECT_TRUE(plain.GetRTTIClass()->PropertiesEqual(&plain, &loaded));

    oneBind.keyBinds.Add(KeyBindDef(1, "x"));
    const std::vector<uint8_t> b = Save(oneBind), payload(a.begin() + 12, a.end());
    EXPECT_EQ(Resealed(payload), a);  // the sealing of the damaged payloads below is the saved one
    // The key-bind count is where the two payloads first differ; everything read
    // before it (the CoreConfig properties) would be applied by an in-place read.
    const size_t count = std::mismatch(a.begin() + 12, a.end(), b.begin() + 12).first - a.begin() - 12;
    ASSERT_GT(count, 8u);
    std::vector<uint8_t> wildCount = payload;
    std::memset(&wildCount[count], 0xFF, 4);
    const std::vector<uint8_t> cut(payload.begin(), payload.begin() + static_cast<long>(count + 2));
    for (const std::vector<uint8_t>* damaged : std::initializer_list<const std::vector<uint8_t>*>{&wildCount, &cut}) {
        project.Write("config.bin", Resealed(*damaged));
        GameConfig target, expected;
        FillNonDefault(target);
        FillNonDefault(expected);
        EXPECT_FALSE(target.Load());
        EXPECT_TRUE(expected.GetRTTIClass()->PropertiesEqual(&expected, &target));
    }
    std::filesystem::remove(project.File("config.bin"));
    EXPECT_FALSE(loaded.Load());  // a missing file is a plain false
}

// A configuration file cut short names itself and counts its header in both sizes
// (before: "blob size 164 larger than the file (175 bytes)", the stated size without its
// 12 header bytes beside the file's size with them).
TEST_F(GameConfigFileTest, ACutFileSaysWhichAndBySizesThatIncludeTheHeader) {
    GameConfig plain;
    ASSERT_TRUE(plain.Save());
    const std::vector<uint8_t> whole = project.Read("config.bin");
    const uint32_t full = uint32_t(whole.size());
    for (uint32_t cut : {1u, 7u}) {
        sink.Clear();
        project.Write("config.bin", std::vector<uint8_t>(whole.begin(), whole.end() - cut));
        GameConfig target;
        EXPECT_FALSE(target.Load());
        const std::string expected = "config.bin is cut short: " + std::to_string(full - cut) +
                                     " bytes where its blob states " + std::to_string(full) + " (a 12-byte header and " +
                                     std::to_string(full - 12) + " bytes of data)";
        EXPECT_TRUE(sink.Contains(expected)) << expected;
    }
}

// The main window saves the settings at each size event; a save with nothing changed
// leaves the file alone, a changed value rewrites it.
TEST_F(GameConfigFileTest, SavingTheSameBytesAgainLeavesTheFileAlone) {
    GameConfig g;
    ASSERT_TRUE(g.Save());
    const auto file = project.File("config.bin");
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    std::filesystem::last_write_time(file, old);
    ASSERT_TRUE(g.Save());
    EXPECT_EQ(std::filesystem::last_write_time(file), old);
    g.windowWidth = 1024;
    ASSERT_TRUE(g.Save());
    EXPECT_NE(std::filesystem::last_write_time(file), old);
    EXPECT_EQ(project.Read("config.bin"), Save(g));
    // A damaged file of the same size is rewritten too.
    std::vector<uint8_t> damaged = Save(g);
    damaged.back() ^= 1;
    project.Write("config.bin", damaged);
    ASSERT_TRUE(g.Save());
    EXPECT_EQ(project.Read("config.bin"), Save(g));
}

// A save killed in an earlier run leaves its temporary beside config.bin. The next save
// removes it even when the settings are unchanged and nothing is written; the folder is
// listed for this once per process, not at every save.
TEST_F(GameConfigFileTest, AnUnchangedSaveRemovesTemporariesOfEndedWritersOnce) {
    pid_t ended = 0;
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    ASSERT_EQ(posix_spawn(&ended, program, nullptr, nullptr, argv, environ), 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string first = "config.bin.~tmp" + std::to_string(ended) + ".0badc0de";
    const std::string later = "config.bin.~tmp" + std::to_string(ended) + ".12345678";
    GameConfig g;
    project.Write("config.bin", Save(g));
    project.Write(first.c_str(), {1, 2, 3});
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    std::filesystem::last_write_time(project.File("config.bin"), old);
    ASSERT_TRUE(g.Save());
    EXPECT_EQ(std::filesystem::last_write_time(project.File("config.bin")), old);  // nothing written
    EXPECT_FALSE(std::filesystem::exists(project.File(first.c_str())));
    EXPECT_TRUE(sink.Contains("Removed unfinished save"));
    project.Write(later.c_str(), {1, 2, 3});
    g.windowWidth = 1024;
    ASSERT_TRUE(g.Save());
    EXPECT_EQ(project.Read("config.bin"), Save(g));
    EXPECT_TRUE(std::filesystem::exists(project.File(later.c_str())));
}

TEST(GameConfigSaveTest, FailedSaveIsReported) {
    CaptureLogSink sink;
    sink.Attach();
    GameConfig g;
    EXPECT_FALSE(g.Save());  // no "project" mount at all
    EXPECT_TRUE(sink.Contains("GameConfig::Save - the settings could not be saved"));
    ConfigFolder project("project");
    ASSERT_TRUE(project.Mounted());
    // A folder where the file should go: the rename cannot replace it.
    std::filesystem::create_directory(project.File("config.bin"));
    sink.Clear();
    EXPECT_FALSE(g.Save());
    EXPECT_TRUE(sink.Contains("GameConfig::Save"));
    EXPECT_TRUE(std::filesystem::is_directory(project.File("config.bin")));
}


TEST(ProjectConfigTest, FontReplacementLanguageIsReadAndWrittenByName) {
    FontReplacement f;
    EXPECT_EQ(f.language, 0u);
    const RTTIProperty* p = FontReplacement::RegisterClass()->FindProperty("Language");
    ASSERT_NE(p, nullptr);
    struct Case {
        const char* in;
        uint32_t index;
        const char* out;
    } cases[] = {{"english", 1, "English"}, {"KOREAN", 10, "Korean"}, {"polish", 0, "Polish"},
                 {"Default", kLanguageNone, ""}, {"Elvish", kLanguageNone, ""}, {"", kLanguageNone, ""}};
    for (const Case& c : cases) {
        char text[64];
        ASSERT_TRUE(p->FromString(&f, c.in));
        EXPECT_EQ(f.language, c.index) << c.in;
        p->ToString(&f, text, sizeof(text));
        EXPECT_STREQ(text, c.out);
    }
    for (uint32_t index : {12u, 0xFFFFFFFFu}) EXPECT_STREQ(LanguageNameFromIndex(index), "");
    // The empty name is written as the single byte 0 and reads back as index 11.
    uint8_t one = 0xEE;
    EXPECT_EQ(p->WriteBinary(&one, &f, 0), 1u);
    EXPECT_EQ(one, 0);
    EXPECT_EQ(LanguageIndexFromName(nullptr), kLanguageNone);
    EXPECT_STREQ(LanguageNameFromIndex(9), "Portuguese");
}

TEST(ProjectConfigTest, TuningValuesAreFixedUnlessMobileSettingsAreUsed) {
    ProjectConfig c;
    c.soundPoolMB = 1, c.soundDecoders = 2, c.animationBufferKB = 3, c.worldRange = 4.0f, c.worldCell = 5.0f;
    c.maxParticles = 8192, c.particlesPerSystem = 7, c.particlePausing = false, c.collisionVertices = false;
    c.particleSpawnRateMultiplier = 9.0f;
    auto tuning = [&c] {
        char s[160];
        std::snprintf(s, sizeof s, "%u %u %u %g %g %u %u %d %d %g", c.GetSoundPoolMB(), c.GetSoundDecoders(),
                      c.GetAnimationBufferKB(), c.GetWorldRange(), c.GetWorldCell(), c.GetMaxParticles(),
                      c.GetParticlesPerSystem(), c.GetParticlePausing(), c.GetCollisionVertices(),
                      c.GetParticleSpawnRateMultiplier());
        return std::string(s);
    };
    EXPECT_EQ(tuning(), "32 64 1024 2400 40 262144 65536 1 1 1");
    c.pcUsesMobileSettings = true;
    EXPECT_EQ(tuning(), "1 2 3 4 5 8192 7 0 0 9");
}

TEST(ProjectConfigTest, FindFontReplacementTakesTheFirstMatchOrTheNameItself) {
    ProjectConfig c;
    FontReplacement a;
    a.SetOriginal("Arial");
    a.language = 6, a.replacement = "Gothic", a.scale = 1.5f, a.granularity = 3, a.maxSize = 40;
    FontReplacement b = a;
    b.replacement = "Second";
    c.fontReplacements.Add(a), c.fontReplacements.Add(b);

    NameString name;
    float scale = 0;
    uint32_t granularity = 0, maxSize = 9;
    auto found = [&] { return std::string(name.CStr()) + " " + std::to_string(scale) + " " + std::to_string(granularity) + " " + std::to_string(maxSize); };
    EXPECT_TRUE(c.FindFontReplacement(6, "arial", &name, &scale, &granularity, &maxSize));
    EXPECT_EQ(found(), "Gothic 1.500000 3 40");
    EXPECT_TRUE(c.FindFontReplacement(6, "ARIAL", &name, nullptr, nullptr, nullptr));
    EXPECT_FALSE(c.FindFontReplacement(7, "Arial", &name, &scale, &granularity, &maxSize));
    EXPECT_EQ(found(), "Arial 1.000000 1 0");
}

int gLanguageSelections = 0;
struct CountSelection : LanguageSelectionServices {
    void SelectLanguage() override { ++gLanguageSelections; }
};
std::vector<std::string> gHeard;
void Listen(const char* name, void* context) {
    gHeard.push_back(std::string(static_cast<const char*>(context)) + ":" + (name ? name : "(all)"));
}
void ListenOnce(const char* name, void* context) {
    static_cast<ProjectConfig*>(context)->RemoveListener(&ListenOnce, context);
    gHeard.push_back("once");
}

TEST(ProjectConfigTest, PropertyChangeSelectsTheLanguageThenCallsListeners) {
    ProjectConfig c;
    CountSelection counter;
    SetLanguageSelectionServices(&counter);
    gLanguageSelections = 0;
    gHeard.clear();
    static char a[] = "a";
    static char b[] = "b";
    c.AddListener(&Listen, a);
    c.AddListener(&ListenOnce, &c);
    c.AddListener(&Listen, b);

    std::string selections;  // after each change
    for (const char* name : {"Default language", static_cast<const char*>(nullptr), "UI scene param template"})
        c.OnPropertyChanged(name), selections += std::to_string(gLanguageSelections);
    EXPECT_EQ(selections, "122");
    const std::vector<std::string> expected = {"a:Default language", "once", "b:Default language",
                                               "a:(all)",            "b:(all)", "a:UI scene param template",
                                               "b:UI scene param template"};
    EXPECT_EQ(gHeard, expected);

    c.RemoveListener(&Listen, a);
    gHeard.clear();
    c.OnPropertyChanged("Outlines");
    EXPECT_EQ(gHeard, std::vector<std::string>{"b:Outlines"});
    SetLanguageSelectionServices(nullptr);
}

TEST(ProjectConfigTest, ReleaseDataFreesStringsAndFonts) {
    ProjectConfig c;
    RTTIValueStore<char*>::Assign(c.distributionTag, const_cast<char*>("x"));
    c.fontReplacements.Resize(3);
    c.ReleaseData();
    EXPECT_EQ(c.distributionTag, nullptr);
    EXPECT_EQ(c.executableFileName, nullptr);
    EXPECT_EQ(c.fontReplacements.Count(), 0u);
}

TEST(ProjectConfigFileTest, ProjectConfigBinLoadsFromTheCommonMount) {
    ConfigFolder common("common");
    ASSERT_TRUE(common.Mounted());
    CaptureLogSink sink;
    sink.Attach();

    // Values away from the defaults in the records and the embedded objects too.
    ProjectConfig built;
    built.languageMask = 3, built.uiScreenWidth = 1600.0f, built.maxParticles = 4096;
    built.fontReplacements.Resize(2);
    built.fontReplacements[0].SetOriginal("Tahoma");
    built.fontReplacements[0].language = 10, built.fontReplacements[1].language = kLanguageNone;
    built.outline.colorHostile = HDRColor(1, 2, 3, 4, 1.5f), built.uiOutline.softness = 0.75f;
    ASSERT_TRUE(built.SaveToFile(kProjectConfigFileName, kProjectConfigFileExtension, kProjectConfigDirectory, 0));
    ProjectConfig back;
    ASSERT_TRUE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));
    EXPECT_EQ(back.fontReplacements[1].language, kLanguageNone);
    EXPECT_STREQ(back.fontReplacements[0].original.CStr(), "tahoma");

    // A payload cut short behind a matching size word fails and changes nothing.
    std::vector<uint8_t> resized = common.Read("Project.ConfigBin");
    ASSERT_GT(resized.size(), 44u);
    resized.resize(resized.size() - 40);
    const uint32_t shorter = static_cast<uint32_t>(resized.size() - 4);
    std::memcpy(resized.data(), &shorter, 4);
    common.Write("Project.ConfigBin", resized);
    EXPECT_FALSE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));

    // A truncated file fails without reading past its end; a missing one is logged.
    resized.resize(resized.size() / 2);
    common.Write("Project.ConfigBin", resized);
    ProjectConfig partial;
    EXPECT_FALSE(partial.Load());
    std::filesystem::remove(common.File("Project.ConfigBin"));
    sink.Clear();
    EXPECT_FALSE(partial.Load());
    EXPECT_TRUE(sink.Contains("ProjectConfig::Load - cannot open common/Project.ConfigBin"));
}

// A configuration file that exists but is empty is reported with one line naming it and
// the defaults apply: the saved settings load as absent, the project's load goes on.
TEST(ConfigFileTest, AnEmptyFileIsNamedAndTheDefaultsApply) {
    ConfigFolder project("project"), common("common");
    ASSERT_TRUE(project.Mounted() && common.Mounted());
    CaptureLogSink sink;
    sink.Attach();
    struct Case {
        ConfigFolder* folder;
        const char* file;
        std::function<bool()> load;
        bool loads;
    };
    GameConfig game, defaultGame;
    ProjectConfig projectConfig, defaultProject;
    const Case cases[] = {{&project, "config.bin", [&] { return game.Load(); }, false},
                          {&common, "Project.ConfigBin", [&] { return projectConfig.Load(); }, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        c.folder->Write(c.file, {});
        sink.Clear();
        EXPECT_EQ(c.load(), c.loads);
        const auto lines = sink.Messages();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].text.find(c.file), std::string::npos) << lines[0].text;
    }
    EXPECT_TRUE(game.GetRTTIClass()->PropertiesEqual(&game, &defaultGame));
    EXPECT_TRUE(projectConfig.GetRTTIClass()->PropertiesEqual(&projectConfig, &defaultProject));
}

// The registered property tables of the configuration classes are the format of
// "config.bin" and "Project.ConfigBin". Each table (class and base names, and per
// property its name, type id, flags, default as text and enumeration names) is folded
// into one CRC-32 and compared with the value taken when the tables were checked entry
// by entry against the design; a changed row anywhere changes the digest.

std::string Describe(const RTTIClass* c, const void* object) {
    std::string s = std::string(c->Name()) + "<" + (c->Base() ? c->Base()->Name() : "") + ">";
    for (uint32_t i = 0; i < c->PropertyCount(); ++i) {
        const RTTIProperty* p = c->PropertyAt(i);
        char text[256] = "-";
        if (p->IsTyped()) p->ToString(object, text, sizeof text);
        s += "|" + std::string(p->Name()) + "," + std::to_string(p->TypeId()) + "," + std::to_string(p->Flags()) + "," +
             text;
        if (p->Flags() & kPropertyFlagEnum)
            for (auto* names = static_cast<const char* const*>(p->Extra()); *names; ++names) s += std::string(",") + *names;
    }
    return s;
}

uint32_t Digest(const RTTIClass* c, const void* object) {
    const std::string s = Describe(c, object);
    return CRC32::GetDefault().Compute(s.data(), static_cast<uint32_t>(s.size()));
}

TEST(ConfigTablesTest, EveryTableMatchesItsCheckedDigest) {
    GameConfig game;
    ProjectConfig project;
    KeyBindDef bind;
    ControlEntry control;
    FontReplacement font;
    const RTTIClass* gameClass = game.GetRTTIClass();
    struct Case {
        const RTTIClass* cls;
        const void* object;
        uint32_t digest;
    } cases[] = {
        {gameClass, &game, 0x2DFDFABBu},
        {gameClass->Base(), &game, 0xBA4DD3CBu},
        {gameClass->Base()->Base(), &game, 0xCC4A84FEu},
        {game.rendererConfig.GetRTTIClass(), &game.rendererConfig, 0x6DD9B7E3u},
        {game.consoleHistory.GetRTTIClass(), &game.consoleHistory, 0xE7569FC1u},
        {project.GetRTTIClass(), &project, 0x4CF6B142u},
        {OutlineParams::RegisterClass(), &project.outline, 0x7EA20BE6u},
        {OutlineParams::RegisterClass(), &project.uiOutline, 0x7EA20BE6u},
        {KeyBindDef::RegisterClass(), &bind, 0x7B2F58C1u},
        {ControlEntry::RegisterClass(), &control, 0xEC6B4DF4u},
        {FontReplacement::RegisterClass(), &font, 0x3821DCE9u},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.cls, nullptr);
        EXPECT_EQ(Digest(c.cls, c.object), c.digest) << Describe(c.cls, c.object);
    }
}

}  // namespace
