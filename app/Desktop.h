#pragma once
// The program's back ends, chosen once at start-up: where a display is present and the
// command line does not say --headless, the window, input and audio layers run on the
// desktop (a real window, keyboard, mouse, controllers and, unless --no-sound, the audio
// device); otherwise everything stays headless. One log line says which, and why.
// --audio-out names the mixer's WAV file either way.
//
// Threads: main thread only.
#include "app/CommandLine.h"

namespace app {

// True when the desktop back ends run.
bool StartDesktop(const CommandLine& line);
void StopDesktop();

}  // namespace app
