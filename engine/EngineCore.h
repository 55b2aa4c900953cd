#pragma once
// Process-wide state that every subsystem may read once the engine has started: the
// core configuration, the main thread's id and the executable's folder (mounted as
// "locals"). Set by EngineCore::Init on the main thread before any worker starts and
// cleared by EngineCore::Shutdown after the last one stopped.
#include <cstdint>

#include "platform/os/Thread.h"

class CoreConfig;

namespace EngineCore {

// Keeps the configuration, records the calling thread as the main thread and pins it to
// the first processor, seeds the engine's random generator from the counter, starts the
// engine timer and mounts the executable's folder as "locals".
void Init(CoreConfig* configuration);
// Destroys the attached log sink (when one is attached), unmounts every mount point and
// forgets the configuration. Harmless when repeated.
void Shutdown();

CoreConfig* GetConfiguration();

}  // namespace EngineCore

// The folder of the program file, '/'-separated, without a trailing separator (empty
// before EngineCore::Init).
const char* GetExecutableDirectory();
os::ThreadId GetMainThreadId();
