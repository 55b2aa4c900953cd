#pragma once
// Process-wide state that every subsystem may read once the engine has started: the
// core configuration, the main thread's id and the executable's folder (mounted as
// "locals"). Set by EngineCore::Init on the main thread before any worker starts and
// cleared by EngineCore::Shutdown after the last one stopped.
#include <cstdint>

#include "platform/os/Thread.h"

class CoreConfig;
class LogSink;

namespace EngineCore {

// Keeps the configuration, records the calling thread as the main thread and pins it to
// the first processor, seeds the engine's random generator from the counter, starts the
// engine timer and mounts the executable's folder as "locals".
void Init(CoreConfig* configuration);
// Destroys the adopted log sink (when it is still the attached one), unmounts every mount
// point and forgets the configuration. Harmless when repeated.
void Shutdown();
// Hands the program's own log sink (the --log option's) to the core, which destroys it
// at shutdown. A sink attached without being handed over stays its attacher's.
void AdoptLogSink(LogSink* sink);

CoreConfig* GetConfiguration();

}  // namespace EngineCore

// The folder of the program file, '/'-separated, without a trailing separator (empty
// before EngineCore::Init).
const char* GetExecutableDirectory();
os::ThreadId GetMainThreadId();
