#pragma once
// Termination requests: SIGINT and SIGTERM set one flag that the program's main loop
// takes once per pass (and turns into the main window's destroy event), so Ctrl-C and a
// plain kill end the program through its normal shutdown. The handler only stores to a
// lock-free atomic flag, which is safe inside a signal handler.
//
// Threads: install on the main thread before other threads start; take from any thread.
namespace os {

// Replaces the handlers of SIGINT and SIGTERM; false when either was refused.
bool InstallTerminationHandlers();
// Restores the default handlers.
void RemoveTerminationHandlers();
// True once for each burst of requests since the last call.
bool TakeTerminationRequest();

}  // namespace os
