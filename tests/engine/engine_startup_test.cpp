// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 900
// test-sources: ../core/fs/ContainerBuilder.cpp
// The engine object on generated data: start-up order, failures, settings, mounting.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <lua.hpp>
#include <string>
#include <thread>
#include <vector>

#include "../core/fs/ContainerBuilder.h"
#include "CaptureLogSink.h"
#include "EngineDataSet.h"
#include "core/Log.h"
#include "core/Time.h"
#include "core/config/RendererConfigContainer.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "engine/services/EngineCore.h"
#include "engine/EngineSeamsTestSupport.h"
#include "engine/VornexEngine.h"
#include "engine/entity/EntityManager.h"
#include "engine/script/LuaWrapper.h"
#include "platform/online/Online.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/shaders/ShaderManager.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineDataSet;

constexpr const char* kTitle = "Engine Test";

std::vector<std::string> gEvents;

// The hook's name with the state of the real services when it ran.
void Record(const char* name) {
    char text[160];
    std::snprintf(text, sizeof text, "%s reader=%d renderer=%d loader=%d shaders=%d lua=%d", name,
                  gPhysicalFileReader.IsRunning(), gVornexRenderer.IsRendererRunning(), gResourceManager.IsRunning(),
                  gShaderManager && gShaderManager->IsLoaded(), gLua.GetState() != nullptr);
    gEvents.push_back(text);
}

// The services above the engine, each recording when the engine calls it.
struct RecordingOnline : MultiplayerServices {
    bool StartOnlineServices() override { return Record("steam"), InitSteam(); }
};
struct RecordingUI : UIServices {
    void InitVideoEngine() override { Record("video-init"); }
    bool CreateStringManager() override { return Record("strings"), true; }
    bool LoadCompiledStrings(const char* file) override { return Record(file), true; }
    bool LoadFontTable() override { return Record("font-table"), true; }
    void DeleteStringManager() override { Record("strings-delete"); }
    void FreeFontTable() override { Record("font-table-free"); }
    void CloseVideoEngine() override { Record("video-close"); }
};
struct RecordingSound : SoundServices {
    void StartEngine() override { Record("sound-start"); }
    void FlushEngine() override { Record("sound-flush"); }
    void RemoveAllSoundEntries() override { Record("sound-entries"); }
    void StopEngine() override { Record("sound-stop"); }
};
struct RecordingScene : SceneContentServices {
    void TickSequenceSystem() override { Record("sequence-tick"); }
    void ClearSequenceSystem() override { Record("sequences-clear"); }
    void ClearSequenceActionFactory() override { Record("actions-clear"); }
};
RecordingOnline gRecordingOnline;
RecordingUI gRecordingUI;
RecordingSound gRecordingSound;
RecordingScene gRecordingScene;

void InstallRecordingHooks() {
    SetMultiplayerServices(&gRecordingOnline);
    SetUIServices(&gRecordingUI);
    SetSoundServices(&gRecordingSound);
    SetSceneContentServices(&gRecordingScene);
}

// The calling thread's processors as the system lists them ("0-7").
std::string AllowedProcessors() {
    std::ifstream in("/proc/thread-self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Cpus_allowed_list:", 0) == 0) return line.substr(line.find('\t') + 1);
    return "";
}

bool Mounted(const char* name) { return gFileSystem.FindMountPoint(name, nullptr) != nullptr; }

struct EngineStartupTest : ::testing::Test {
    void SetUp() override {
        InstallRecordingHooks();
        gEvents.clear();
        log.Attach();
        window = enginetest::MakeWindow();
    }
    void TearDown() override {
        gVornexEngine.Shutdown();
        gVornexEngine.SetConfiguration(nullptr);
        ResetEngineSeams();
        Log::SetFrameInfoMode(0);
        gFileSystem.UnmountAll();
        log.Detach();
        wnd::ResetWindowLayer();
    }
    size_t Count(const std::string& text) {
        size_t n = 0;
        for (const auto& m : log.Messages()) n += m.text == text;
        return n;
    }

    EngineDataSet set;
    CaptureLogSink log;
    uint32_t window = 0;
};

// A missing user data folder is made with its parents.
TEST_F(EngineStartupTest, ServicesStartInOrderStopInReverseAndASecondShutdownDoesNothing) {
    set.WriteProjectConfig();
    set.user = set.root + "/home/.local/share";
    setenv("XDG_DATA_HOME", set.user.c_str(), 1);
    ASSERT_TRUE(gVornexEngine.Init(window, kTitle, gGameConfig, true));
    EXPECT_TRUE(gVornexEngine.IsInitialized());
    for (const char* kind : enginetest::kKinds) EXPECT_TRUE(Mounted(kind)) << kind;
    EXPECT_TRUE(Mounted("locals") && Mounted("user") && Mounted("project"));
    EXPECT_TRUE(gVornexEngine.SaveConfig());
    EXPECT_TRUE(fs::exists(set.ProjectFolder(kTitle) + "/config.bin"));
    EXPECT_NE(online::GlobalContext(), nullptr);  // offline without a broker, data in the user folder
    EXPECT_TRUE(fs::exists(set.user + "/online/broker.db"));
    for (const char* line : {"Initializing engine...", "Engine successfully initialized", "Steam appId: 480"})
        EXPECT_EQ(Count(line), 1u) << line;
    // The system font stays with every start-up resource marked; the project's default world.
    ASSERT_NE(gVornexEngine.SystemFont(), nullptr);
    EXPECT_TRUE(gVornexEngine.SystemFont()->GetFlags() & RESOURCE_FLAG_STARTUP);
    const BoundingBox4& world = gEntityManager->GetWorldBounds();
    EXPECT_EQ(std::vector<float>({world.min.x, world.min.y, world.min.z, world.max.x, world.max.y, world.max.z}),
              std::vector<float>({-2400.0f, -25.0f, -2400.0f, 2400.0f, 200.0f, 2400.0f}));
    EXPECT_EQ(gEntityManager->GetCellSize(), 40.0f);
    gVornexEngine.Update(0, 0.0f, 0, 0.0f, 0);
    // The scene list's release is the first render call the shutdown posts.
    static bool sceneListReleased;
    sceneListReleased = false;
    gVornexRenderer.SetTaskObserver(
        [](void*, uint32_t id) {
            if (id == TASK_CALL && !sceneListReleased) sceneListReleased = true, Record("scene-list");
        },
        nullptr);
    gVornexEngine.Shutdown();
    gVornexRenderer.SetTaskObserver(nullptr, nullptr);
    EXPECT_EQ(online::GlobalContext(), nullptr);
    EXPECT_FALSE(gVornexRenderer.IsRendererRunning() || gResourceManager.IsRunning() || gShaderManager->IsLoaded());

    // Only Steam runs before the services; the video and sound stops come after the scripts.
    std::vector<std::string> expected;
    for (const char* hook : {"steam", "video-init", "sound-start", "sound-flush", "strings", "L01n.bin", "font-table",
                             "sequence-tick", "scene-list", "strings-delete", "font-table-free", "sequences-clear",
                             "actions-clear", "sound-entries", "video-close", "sound-stop"}) {
        const char* state = expected.empty() ? "0 renderer=0 loader=0 shaders=0 lua=0"
                            : expected.size() < 14 ? "1 renderer=1 loader=1 shaders=1 lua=1"
                                                   : "1 renderer=1 loader=1 shaders=1 lua=0";
        expected.push_back(std::string(hook) + " reader=" + state);
    }
    EXPECT_EQ(gEvents, expected);
    EXPECT_EQ(Count("VornexEngine closed"), 1u);

    gVornexEngine.Shutdown();
    EXPECT_EQ(gEvents.size(), expected.size());
    EXPECT_EQ(Count("VornexEngine closing..."), 1u);
}

TEST_F(EngineStartupTest, AFailedStepShutsDownOnceAndASecondShutdownIsHarmless) {
    const struct Case {
        const char* name;
        std::function<void(EngineDataSet&)> arrange;
        const char* title;
    } cases[] = {
        {"no project configuration", [](EngineDataSet&) {}, kTitle},
        {"no shader definitions", [](EngineDataSet& d) { fs::remove(d.data + "/common/Shaders/Shaders.DefBin"); },
         kTitle},
        {"a data folder missing", [](EngineDataSet& d) { fs::remove_all(d.data + "/voices"); }, kTitle},
        {"no title", [](EngineDataSet&) {}, ""},
        {"a broker that does not answer",
         [](EngineDataSet& d) { setenv("ONLINE_BROKER_DIR", (d.root + "/nobroker").c_str(), 1); }, kTitle},
        {"a network broker that does not answer",
         [](EngineDataSet& d) {
             std::ofstream(d.root + "/secret") << "sixteen or more bytes";
             setenv("ONLINE_BROKER_SECRET_FILE", (d.root + "/secret").c_str(), 1);
             setenv("ONLINE_BROKER_ADDRESS", "127.0.0.1:1", 1);
         },
         kTitle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineDataSet data;
        if (std::string(c.name) != "no project configuration") data.WriteProjectConfig();
        c.arrange(data);
        log.Clear(), gEvents.clear();
        EXPECT_FALSE(gVornexEngine.Init(window, c.title, gGameConfig, true));
        unsetenv("ONLINE_BROKER_DIR");
        unsetenv("ONLINE_BROKER_ADDRESS");
        unsetenv("ONLINE_BROKER_SECRET_FILE");
        EXPECT_FALSE(gVornexEngine.IsInitialized());
        EXPECT_FALSE(gVornexRenderer.IsRendererRunning() || gResourceManager.IsRunning() ||
                     gPhysicalFileReader.IsRunning());
        EXPECT_EQ(online::GlobalContext(), nullptr);
        EXPECT_EQ(Count("Engine successfully initialized"), 0u);
        EXPECT_EQ(Count("VornexEngine closed"), 1u);
        const size_t events = gEvents.size();
        gVornexEngine.Shutdown();
        EXPECT_EQ(gEvents.size(), events);
        EXPECT_EQ(Count("VornexEngine closing..."), 1u);
    }
    EXPECT_EQ(Count("SteamAPI_Init failed. Check if Steam client is running."), 1u);  // the last case
    EXPECT_EQ(Count("Online broker: no broker at 127.0.0.1:1: Connection refused"), 1u);
}

// Negative volumes take the project's defaults; only a first run copies the renderer settings.
TEST_F(EngineStartupTest, SavedSettingsProjectDefaultsAndFrameInfo) {
    ProjectConfig project;
    project.defaultSoundVolume = 0.5f, project.defaultMusicVolume = 0.6f, project.defaultSpeechVolume = 0.7f;
    set.WriteProjectConfig(project);
    for (const bool saved : {false, true}) {
        SCOPED_TRACE(saved ? "saved configuration" : "first run");
        EngineDataSet::ResetConfiguration();
        gGameConfig->sfxVolume = -1.0f, gGameConfig->musicVolume = 0.25f, gGameConfig->voiceVolume = -0.5f;
        gGameConfig->rendererConfig.gfxQualityLevel = 1;
        gGameConfig->logFrameInfo = LOG_FRAME_INFO_EVERY_LINE;
        fs::remove_all(set.user + "/Brintavolque");
        if (saved) {
            fs::create_directories(set.ProjectFolder(kTitle));
            ASSERT_TRUE(gFileSystem.MountDirectory("project", set.ProjectFolder(kTitle).c_str()));
            ASSERT_TRUE(gGameConfig->Save());
            gFileSystem.UnmountAll();
        }
        gVornexRenderer.Settings().gfxQualityLevel = 4;
        ASSERT_TRUE(gVornexEngine.Init(window, kTitle, gGameConfig, true));
        EXPECT_EQ(gVornexRenderer.Settings().gfxQualityLevel, saved ? 4u : 1u);
        EXPECT_FLOAT_EQ(gGameConfig->sfxVolume, 0.5f);
        EXPECT_FLOAT_EQ(gGameConfig->musicVolume, 0.25f);
        EXPECT_FLOAT_EQ(gGameConfig->voiceVolume, 0.7f);
        SetLogFrameNumbers(12, 34);
        log.Clear();
        gLog.Print(LogSeverity::Warning, LogCategory::Script, "probe");
        EXPECT_TRUE(log.Contains("probe [frame: 12/34]"));
        gVornexEngine.Shutdown();
    }
}

// With container sets "textures" is mounted only after the renderer settings are applied.
TEST_F(EngineStartupTest, ContainerSetsMountTexturesInTheSecondPass) {
    set.WriteProjectConfig();
    for (const char* kind : enginetest::kKinds) {
        std::vector<testfs::Entry> entries = {{"placeholder.txt", {'x'}}};
        const fs::path folder = set.data + "/" + kind;
        for (const auto& f : fs::recursive_directory_iterator(folder)) {
            std::string path = fs::relative(f.path(), folder).string();
            for (char& ch : path) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (f.is_regular_file()) entries.emplace_back(path, testfs::ReadWholeFile(f.path().string()));
        }
        ASSERT_TRUE(testfs::WriteContainer(set.data + "/" + kind + ".dat", entries, {}, set.root)) << kind;
        fs::remove_all(folder);
    }
    gGameConfig->useContainerFiles = true;
    static bool texturesAtApply = true, commonAtApply = false;
    // Notes the mounts at the apply, then applies as the renderer does.
    struct MountsAtApply : RendererConfigServices {
        void ApplyRendererConfig(const RendererConfigContainer& c) override {
            texturesAtApply = Mounted("textures");
            commonAtApply = Mounted("common");
            renderer->ApplyRendererConfig(c);
        }
        RendererConfigServices* renderer = &GetRendererConfigServices();
    } noting;
    SetRendererConfigServices(&noting);
    const bool started = gVornexEngine.Init(window, kTitle, gGameConfig, true);
    SetRendererConfigServices(noting.renderer);
    ASSERT_TRUE(started);
    EXPECT_FALSE(texturesAtApply);
    EXPECT_TRUE(commonAtApply);
    EXPECT_TRUE(Mounted("textures"));
}

TEST_F(EngineStartupTest, AFailedFolderMountKeepsMountingTheOthers) {
    // A relative repository path is taken from the executable's folder; time counts from here.
    os::ManualClock clock(4'000'000'000);
    clock.Install(), EngineCore::Init(gGameConfig), clock.Uninstall();
    EXPECT_EQ(Time::Base().start, 4'000'000'000);
    Time::InitTimer();
    const std::string relative = fs::relative(set.data, GetExecutableDirectory()).string();
    ASSERT_EQ(relative.compare(0, 3, "../"), 0);
    EngineDataSet::SetRepositoryPath("./" + relative);
    gVornexEngine.SetConfiguration(gGameConfig);
    fs::remove_all(set.data + "/sounds");
    EXPECT_FALSE(gVornexEngine.MountData(kMountAllButTextures));
    for (const char* kind : enginetest::kKinds) {
        const bool expected = std::string(kind) != "sounds" && std::string(kind) != "textures";
        EXPECT_EQ(Mounted(kind), expected) << kind;
    }
    char physical[4096];
    ASSERT_TRUE(gFileSystem.GetPhysicalPath("x", nullptr, "common", physical, sizeof physical));
    EXPECT_EQ(physical, fs::canonical(set.data).string() + "/common/x");
    EXPECT_TRUE(gVornexEngine.MountData(kMountTextures | 0x700u));
    EXPECT_TRUE(Mounted("textures"));
    EngineCore::Shutdown();
}

// "OptimalSettings.cfg": quality level plus one (0 keeps it, at most 4), then the render scale.
TEST_F(EngineStartupTest, OptimalSettingsApplyOnceAndAreSaved) {
    const struct {
        const char* text;  // null: no file
        bool savedBefore;
        uint32_t quality;
        float scale;
    } cases[] = {
        {"0\n0.5\n", false, 3, 0.5f}, {"1\n", true, 0, 1.0f},     {"9\n2.5", false, 4, 2.5f},
        {"-5\n0\n", true, 4, 1.0f},  {"3", false, 2, 1.0f},       {"x\nnan\n", false, 3, 1.0f},
        {"2\r\n0.75\r\n", false, 1, 0.75f}, {nullptr, true, 3, 1.0f}, {nullptr, false, 3, 1.0f},
    };
    gVornexEngine.SetConfiguration(gGameConfig);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "no file");
        testfs::TempDir locals, project;
        ASSERT_TRUE(gFileSystem.MountDirectory("locals", locals.Path().c_str()));
        ASSERT_TRUE(gFileSystem.MountDirectory("project", project.Path().c_str()));
        EngineDataSet::ResetConfiguration();
        ASSERT_TRUE(!c.savedBefore || gGameConfig->Save());
        if (c.text) std::ofstream(locals / "OptimalSettings.cfg", std::ios::binary) << c.text;
        EXPECT_EQ(gVornexEngine.ReadOptimalSettings(), c.savedBefore);
        EXPECT_EQ(gGameConfig->rendererConfig.gfxQualityLevel, c.quality);
        EXPECT_FLOAT_EQ(gGameConfig->rendererConfig.semiResolutionScreenScale, c.scale);
        EXPECT_FALSE(fs::exists(locals / "OptimalSettings.cfg"));
        EXPECT_EQ(fs::exists(project / "config.bin"), c.text != nullptr || c.savedBefore);
        if (c.text) {
            EngineDataSet::ResetConfiguration();
            ASSERT_TRUE(gGameConfig->Load());
            EXPECT_EQ(gGameConfig->rendererConfig.gfxQualityLevel, c.quality);
        }
        gFileSystem.UnmountAll();
    }
}

// A console line that names a function alone is called; anything else runs as typed.
TEST_F(EngineStartupTest, ConsoleLinesRunAsScriptWithBareNamesCalled) {
    gLua.Init();
    ASSERT_TRUE(gLua.ExecuteString("calls = '' function foo() calls = calls .. 'foo;' end "
                                   "function f(x) calls = calls .. 'f' .. x .. ';' end"));
    for (const char* line : {"foo", "a=1", "f(1)", "  foo  "}) {
        ASSERT_TRUE(log.OfferInputLine(line));
        gVornexEngine.Update(0, 0.0f, 0, 0.0f, 0);
    }
    lua_State* L = gLua.GetState();
    lua_getglobal(L, "calls"), lua_getglobal(L, "a");
    EXPECT_STREQ(lua_tostring(L, -2), "foo;f1;foo;");
    EXPECT_EQ(lua_tonumber(L, -1), 1.0);
    lua_pop(L, 2);
    EXPECT_EQ(gEvents.size(), 4u);  // one sequence tick per update
    gLua.Close();
}

TEST_F(EngineStartupTest, ExternalBrowserGetsTheUrlWithoutWaiting) {
    testfs::TempDir bin;
    const std::string opener = bin / "xdg-open", out = bin / "opened";
    // The opener writes the URL and the processors it may use.
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" << out << ".tmp' && grep ^Cpus_allowed_list: /proc/$$/status"
                          << " | cut -f2 >> '" << out << ".tmp' && mv '" << out << ".tmp' '" << out << "'\n";
    fs::permissions(opener, fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin.Path() + ":" + oldPath).c_str(), 1);
    // From a pinned main thread the browser still gets every processor of the process.
    std::string processors;
    os::Thread probe;
    ASSERT_TRUE(probe.Start([](void* p) { *static_cast<std::string*>(p) = AllowedProcessors(); }, &processors));
    probe.Join();
    ASSERT_TRUE(os::SetCurrentThreadAffinity(1));
    EXPECT_FALSE(gVornexEngine.ActivateExternalBrowser(nullptr));
    EXPECT_TRUE(gVornexEngine.ActivateExternalBrowser("https://example.org/a?b=1&c=2"));
    setenv("PATH", oldPath.c_str(), 1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(out) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(fs::exists(out));
    const std::vector<uint8_t> bytes = testfs::ReadWholeFile(out);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "https://example.org/a?b=1&c=2\n" + processors + "\n");
}

}  // namespace
