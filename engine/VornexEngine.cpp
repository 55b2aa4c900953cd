// The engine object: its storage, per-frame update, idle pass, configuration files, the
// banner and the online-services start-up. Start-up lives in VornexEngine_Init.cpp, data
// mounting in VornexEngine_Mount.cpp and shutdown in VornexEngine_Shutdown.cpp.
#include "engine/VornexEngine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/PathLimit.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "engine/services/SceneContentServices.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/online/Online.h"
#include "platform/os/Paths.h"
#include "platform/os/System.h"
#include "render/SceneDrawServices.h"
#include "render/VornexRenderer.h"

#ifndef VORNEX_BUILD_TIME
#define VORNEX_BUILD_TIME 0
#endif

namespace {

alignas(VornexEngine) unsigned char gVornexEngineStorage[sizeof(VornexEngine)];

// "OptimalSettings.cfg" in "locals": line 1 the quality level plus one, line 2 the
// render scale. Lines longer than this are not read.
constexpr const char* kOptimalSettingsName = "OptimalSettings";
constexpr const char* kOptimalSettingsExtension = "cfg";
constexpr uint32_t kOptimalSettingsLine = 256;
constexpr uint32_t kHighestQualityLevel = 4;

// Console input lines: up to 1022 characters, room for "()" appended.
constexpr uint32_t kConsoleLineRead = 1023;

// "%d" without the undefined result of an out-of-range number: the value saturates.
bool ScanInt(const char* text, int32_t* value) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    const long long v = std::strtoll(text, nullptr, 10);
    *value = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    return true;
}

void LogTime(const char* label, int64_t seconds) {
    os::LocalTime t;
    os::ToLocalTime(seconds, &t);
    // The minute is printed without padding, as the banner always did.
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "%s: %02d/%02d/%04d %02d:%d:%02d", label, t.day, t.month,
               t.year, t.hour, t.minute, t.second);
}

}  // namespace

VornexEngine& gVornexEngine = *reinterpret_cast<VornexEngine*>(gVornexEngineStorage);

void CreateGlobalVornexEngine() { new (gVornexEngineStorage) VornexEngine; }
void DestroyGlobalVornexEngine() { gVornexEngine.~VornexEngine(); }

VornexEngine::VornexEngine() = default;
// The engine is shut down by its owner; at process exit the services it used may be gone.
VornexEngine::~VornexEngine() = default;

ProjectConfig& VornexEngine::GetProjectConfig() const { return *gProjectConfig; }

void VornexEngine::AddOwnedObject(VornexEngineOwnedObject* object) {
    if (object) ownedObjects.Add(object);
}

// ---- Per frame ----

void VornexEngine::Update(int64_t smoothGameTime, float smoothGameDelta, int64_t smoothGameplayTime,
                          float smoothGameplayDelta, uint32_t flags) {
    const RenderFrameClock engine{frameTimer.Time(), frameTimer.Delta()};
    const RenderFrameClock game{smoothGameTime, smoothGameDelta};
    const RenderFrameClock gameplay{smoothGameplayTime, smoothGameplayDelta};
    if (gVornexRenderer.IsRendererRunning()) gVornexRenderer.PostFrameParams(engine, game, gameplay, flags);
    gScratchAllocator.NextFrame();

    char line[kConsoleLineRead + 2];
    if (gLog.ReadConsoleInput(line, kConsoleLineRead)) {
        // A bare name is a call: "foo" runs as "foo()".
        if (!std::strchr(line, '=') && !std::strchr(line, '(')) std::strcat(line, "()");
        gLua.ExecuteString(line);
    }

    if (scheduler) scheduler->Run(frameTimer.Time());
    gLua.StepGarbageCollector();
    GetSceneContentServices().TickSequenceSystem();
    SteamAPI_RunCallbacks();
}

void VornexEngine::Idle(uint32_t milliseconds) {
    os::Sleep(milliseconds);
    SteamAPI_RunCallbacks();
}

// ---- Configuration files ----

bool VornexEngine::SaveConfig() { return configuration && configuration->Save(); }

bool VornexEngine::ReadOptimalSettings() {
    const bool loaded = configuration && configuration->Load();
    FileReader file;
    if (!file.Open(kOptimalSettingsName, kOptimalSettingsExtension, "locals")) return loaded;
    if (configuration) {
        RendererConfigContainer& renderer = configuration->rendererConfig;
        char line[kOptimalSettingsLine];
        int32_t level = 0;
        if (file.ReadLine(line, sizeof line) && ScanInt(line, &level) && level != 0) {
            const uint32_t quality = static_cast<uint32_t>(level) - 1u;
            renderer.gfxQualityLevel = quality > kHighestQualityLevel ? kHighestQualityLevel : quality;
        }
        float scale = 0.0f;
        // A scale that is not a finite number would reach the renderer's sizes; it is
        // ignored like a missing one.
        if (file.ReadLine(line, sizeof line) && std::sscanf(line, "%f", &scale) == 1 && scale != 0.0f &&
            std::isfinite(scale))
            renderer.semiResolutionScreenScale = scale;
    }
    file.Close();
    gFileSystem.Delete(kOptimalSettingsName, kOptimalSettingsExtension, "locals", false);
    SaveConfig();
    return loaded;
}

bool VornexEngine::ActivateExternalBrowser(const char* url) {
    if (!url) return false;
    if (!os::FindProgram("xdg-open") || !os::LaunchDetached("xdg-open", url))
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "Open in a browser: %s", url);
    return true;
}

// ---- Banner and online services ----

void VornexEngine::LogBanner() {
    LogTime("Build time", VORNEX_BUILD_TIME);
    LogTime("Current time", os::WallClockSeconds());
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Initializing engine...");
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "System memory: %u MB",
               static_cast<uint32_t>(os::PhysicalMemoryBytes() >> 20));
}

void VornexEngine::OnSteamWarning(int severity, const char* text) {
    gLog.Print(LogSeverity::Warning, LogCategory::Engine, "severity: %d    %s", severity, text ? text : "");
}

bool InitSteam() {
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Initializing steam");
    online::ClientConfig config = online::ClientConfig::FromEnvironment();
    if (config.brokerDir.empty() && config.brokerAddress.empty()) {
        // No broker configured: this machine serves itself, keeping its data in the
        // user folder unless told otherwise.
        config.offline = true;
        if (config.dataDir.empty()) {
            char userFolder[fs::kMaxPath];
            if (os::GetUserDataFolder(userFolder, sizeof userFolder)) {
                config.dataDir = std::string(userFolder) + "/online";
                // With its parents: a new account may have no user data folder yet.
                gFileSystem.CreateDirectory(config.dataDir.c_str(), nullptr);
            }
        }
    }
    if (!SteamAPI_InitWithConfig(config)) {
        gLog.Error(LogCategory::Engine, "SteamAPI_Init failed. Check if Steam client is running.");
        gLog.Error(LogCategory::Engine, "Online broker: %s", SteamAPI_InitError());
        return false;
    }
    const struct {
        bool present;
        const char* failure;
    } interfaces[] = {
        {SteamRemoteStorage() != nullptr, "SteamRemoteStorage failed"},
        {SteamUser() != nullptr, "SteamUser failed"},
        {SteamUserStats() != nullptr, "SteamUserStats failed"},
        {SteamClient() != nullptr, "SteamClient failed"},
    };
    for (const auto& i : interfaces) {
        if (i.present) continue;
        gLog.Error(LogCategory::Engine, "%s", i.failure);
        return false;
    }
    SteamClient()->SetWarningMessageHook(&VornexEngine::OnSteamWarning);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Steam appId: %u", SteamUtils()->GetAppID());
    return true;
}
