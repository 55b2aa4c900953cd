#include "app/Desktop.h"

#include "app/MainWindow.h"
#include "core/Log.h"
#include "platform/audio/AudioEngine.h"
#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/window/Window.h"

namespace app {

namespace {

void LogAudioNotice(const char* line) { gLog.Print(LogSeverity::Progress, LogCategory::Sound, "%s", line); }

}  // namespace

bool StartDesktop(const CommandLine& line) {
    audio::SetOutputNotice(&LogAudioNotice);
    audio::SetDefaultCapturePath(line.audioOutPath);
    audio::SelectOutputDevice(audio::OutputDevice::kNull);
    gMainWindow.presentIntoWindow = false;
    if (line.headless) {
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Headless: asked on the command line");
        return false;
    }
    const char* reason = nullptr;
    if (!wnd::StartDesktopWindows(&reason)) {
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Headless: %s", reason);
        return false;
    }
    wnd::SetKeyTranslator(&hid::VirtualKeyFromUsbUsage);
    if (!hid::StartDesktopInput(&reason))
        gLog.Print(LogSeverity::Warning, LogCategory::Engine, "No game controllers: %s", reason);
    if (!line.noSound) audio::SelectOutputDevice(audio::OutputDevice::kDevice);
    gMainWindow.presentIntoWindow = true;
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Desktop: window, keyboard, mouse and controllers%s",
               line.noSound ? " (no sound device: --no-sound)" : " and the audio device");
    return true;
}

void StopDesktop() {
    hid::StopDesktopInput();
    wnd::StopDesktopWindows();
    wnd::SetKeyTranslator(nullptr);
    audio::SelectOutputDevice(audio::OutputDevice::kNull);
    audio::SetOutputNotice(nullptr);
    gMainWindow.presentIntoWindow = false;
}

}  // namespace app
