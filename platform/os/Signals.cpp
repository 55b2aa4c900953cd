#include "platform/os/Signals.h"

#include <signal.h>

#include <atomic>

namespace os {
namespace {

std::atomic<bool> gTerminationRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnTerminationSignal(int) { gTerminationRequested.store(true, std::memory_order_release); }

bool SetHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return sigaction(signal, &action, nullptr) == 0;
}

}  // namespace

bool InstallTerminationHandlers() {
    const bool interrupt = SetHandler(SIGINT, &OnTerminationSignal);
    const bool terminate = SetHandler(SIGTERM, &OnTerminationSignal);
    return interrupt && terminate;
}

void RemoveTerminationHandlers() {
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
}

bool TakeTerminationRequest() { return gTerminationRequested.exchange(false, std::memory_order_acq_rel); }

}  // namespace os
