#include "platform/os/System.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/os/Thread.h"

extern char** environ;

namespace os {

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

int64_t WallClockSeconds() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec);
}

bool ToLocalTime(int64_t secondsSince1970, LocalTime* out) {
    *out = LocalTime{};
    const time_t t = static_cast<time_t>(secondsSince1970);
    struct tm fields {};
    if (!localtime_r(&t, &fields)) return false;
    out->year = fields.tm_year + 1900;
    out->month = fields.tm_mon + 1;
    out->day = fields.tm_mday;
    out->hour = fields.tm_hour;
    out->minute = fields.tm_min;
    out->second = fields.tm_sec;
    return true;
}

bool FindProgram(const char* name) {
    if (!name || !*name) return false;
    if (std::strchr(name, '/')) return access(name, X_OK) == 0;
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string folder;
    for (const char* p = path;; ++p) {
        if (*p == ':' || *p == 0) {
            if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) return true;
            folder.clear();
            if (*p == 0) return false;
        } else {
            folder += *p;
        }
    }
}

bool LaunchDetached(const char* program, const char* argument) {
    if (!program || !argument) return false;
    // A child that starts the program and exits at once: the program is reparented and
    // reaped by the system, and this process waits only for the short-lived child.
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // The program gets the process's processors, not those of a pinned caller.
        ResetCurrentThreadAffinity();
        setsid();
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        char* const argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
        pid_t grandchild = 0;
        const int failed = posix_spawnp(&grandchild, program, nullptr, nullptr, argv, environ);
        _exit(failed ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessExists(uint32_t processId) {
    if (processId == 0 || processId > uint32_t(INT32_MAX)) return false;
    // Signal 0 checks for the process without signalling it; EPERM: it exists but
    // belongs to someone else.
    return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

}  // namespace os
