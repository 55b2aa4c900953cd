// The program: parses the command line, runs the ordered start-up of every library,
// attaches the --log sink (handed to the engine, which destroys it at its shutdown),
// builds the game's delegate (PCMacGameDelegate, which hands the engine's events to the
// game's scripts, starting with the main script "common/scripts/Main"), runs the main
// window and loop with it, and shuts down: the engine first, then the delegate, then
// the libraries.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/CommandLine.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "bindings/startup/BindingsStaticInit.h"
#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/config/CoreStaticInit.h"
#include "engine/services/EngineCore.h"
#include "engine/startup/EngineStaticInit.h"
#include "game/GameStaticInit.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "net/NetStaticInit.h"
#include "platform/gfx/GfxDevice.h"
#include "render/frame/RenderStaticInit.h"
#include "scene/startup/SceneStaticInit.h"
#include "sound/SoundStaticInit.h"
#include "ui/UIStaticInit.h"

namespace {

constexpr const char* kTitle = "Quorvel 2";

}  // namespace

int main(int argc, char** argv) {
    app::CommandLine line;
    std::string error;
    if (!app::ParseCommandLine(argc, argv, &line, &error)) return app::ReportBadCommandLine(error, stderr);
    if (line.help) {
        app::PrintUsage(stdout);
        return app::kExitSuccess;
    }
    // The drawing device unless --no-draw; the renderer's device factory reads the choice.
    gfx::SelectDeviceKind(line.noDraw ? gfx::DeviceKind::Recording : gfx::DeviceKind::Drawing);
    if (line.screenshotFolder) {
        std::error_code failed;
        std::filesystem::create_directories(line.screenshotFolder, failed);
    }
    app::gMainWindow.screenshotPath = line.screenshotPath;
    app::gMainWindow.screenshotEvery = line.screenshotEvery;
    app::gMainWindow.screenshotFolder = line.screenshotFolder;
    app::gMainWindow.paced = app::IsPaced(line);
    app::gMainWindow.logOnStandardError = line.logPath && std::string(line.logPath) == "-";
    app::ApplyBrokerOption(line);
    const StaticInitTable* tables[] = {&kCoreStaticInit,  &kRenderStaticInit, &kEngineStaticInit, &kSceneStaticInit,
                                       &kSoundStaticInit, &kUIStaticInit,     &kNetStaticInit,    &kGameStaticInit, &kBindingsStaticInit};
    if (!RunStaticInit(tables, sizeof tables / sizeof tables[0])) {
        std::fprintf(stderr, "quorvel2: the program cannot start: its libraries did not start\n");
        return app::kExitStartFailed;
    }
    app::ApplyStepTimeOption(line);
    int exitCode = app::kExitSuccess;
    LogSink* sink = app::StartLogSink(line, stderr, &exitCode);
    if (exitCode != app::kExitSuccess) {
        RunStaticShutdown();
        return exitCode;
    }
    if (sink) {
        gLog.AttachSink(sink);
        EngineCore::AdoptLogSink(sink);
    }
    // Without a window and without a frame limit the run would otherwise go on unseen.
    if (!app::StartDesktop(line) && line.frames == 0)
        std::fprintf(stderr,
                     "quorvel2: running without a window (no display); --log FILE shows its log, Ctrl-C ends it\n");
    auto* delegate = new PCMacGameDelegate;
    line.gameArguments.push_back(nullptr);
    exitCode = app::AppMain(delegate, kTitle, line.gameArguments.data(),
                            static_cast<int>(line.gameArguments.size() - 1), line.frames);
    app::StopDesktop();
    delete delegate;
    // The engine destroyed the sink at its shutdown unless it never started.
    if (sink && gLog.Sink() == sink) {
        EngineCore::AdoptLogSink(nullptr);
        Log::DestroySink(&sink);
    }
    RunStaticShutdown();
    return exitCode;
}
