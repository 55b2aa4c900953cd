// Child processes and the open-file limit (see ChildProcess.h): fork and exec, /proc for
// CPU time and resident memory.
#include "platform/os/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace os {

bool RaiseOpenFileLimit(uint64_t* before, uint64_t* after) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        *before = *after = 0;
        return false;
    }
    *before = limit.rlim_cur;
    const bool already = limit.rlim_cur == limit.rlim_max;
    limit.rlim_cur = limit.rlim_max;
    const bool set = already || ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    *after = limit.rlim_cur;
    return set && *after > *before;
}

bool ParseCpuList(const std::string& text, std::vector<int>* cpus) {
    cpus->clear();
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        if (part.empty() || part[0] < '0' || part[0] > '9') return false;
        const long first = std::strtol(part.c_str(), &end, 10);
        long last = first;
        if (*end == '-') {
            const char* from = end + 1;
            if (*from < '0' || *from > '9') return false;
            last = std::strtol(from, &end, 10);
        }
        if (*end || last < first || last >= CPU_SETSIZE) return false;
        for (long c = first; c <= last; ++c) cpus->push_back(static_cast<int>(c));
    }
    return !cpus->empty() && text.back() != ',';
}

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (output >= 0) ::close(output);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& errorLog, const std::string& cpus,
                         std::string* error) {
    if (pid > 0 || argv.empty()) {
        *error = pid > 0 ? "already running" : "no program";
        return false;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (!cpus.empty()) {
        std::vector<int> list;
        if (!ParseCpuList(cpus, &list)) {
            *error = "malformed CPU list " + cpus;
            return false;
        }
        for (int c : list) CPU_SET(c, &set);
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *error = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    const int log = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeEnds[1], 1);
        if (log >= 0) ::dup2(log, 2);
        if (!cpus.empty()) ::sched_setaffinity(0, sizeof set, &set);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (log >= 0) ::close(log);
    if (pid < 0) {
        ::close(pipeEnds[0]);
        *error = "cannot start " + argv[0] + ": " + std::strerror(errno);
        return false;
    }
    output = pipeEnds[0];
    pending.clear();
    return true;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = pending.find('\n');
        if (end != std::string::npos) {
            *line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || output < 0) return false;
        pollfd p{output, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(output, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

bool ChildProcess::ReadUsage(ProcessUsage* out) const {
    if (pid <= 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 > text.size()) return false;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    int i = 3;
    for (; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    if (i <= 15) return false;
    out->cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    out->residentBytes = 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) out->residentBytes = std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    return true;
}

std::string ChildProcess::Stop(int timeoutMs) {
    if (pid <= 0) return "not running";
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    std::string how;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            how = "did not stop in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = -1;
    if (output >= 0) ::close(output);
    output = -1;
    if (!how.empty()) return how;
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended oddly";
}

}  // namespace os
