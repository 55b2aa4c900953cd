// The operating-system calls of broker_load (see LoadSystem.h).
#include "tools/brokerload/LoadSystem.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace brokerload {

bool RaiseFileLimit(uint64_t* before, uint64_t* after) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    *before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    const bool ok = ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
    ::getrlimit(RLIMIT_NOFILE, &limit);
    *after = limit.rlim_cur;
    return ok;
}

Poller::Poller() : fd(::epoll_create1(EPOLL_CLOEXEC)) {}

Poller::~Poller() {
    if (fd >= 0) ::close(fd);
}

bool Poller::Add(int socket, uint32_t tag, bool wantWrite) {
    epoll_event e{};
    e.events = EPOLLIN | (wantWrite ? EPOLLOUT : 0u);
    e.data.u32 = tag;
    return ::epoll_ctl(fd, EPOLL_CTL_ADD, socket, &e) == 0;
}

bool Poller::Change(int socket, uint32_t tag, bool wantWrite) {
    epoll_event e{};
    e.events = EPOLLIN | (wantWrite ? EPOLLOUT : 0u);
    e.data.u32 = tag;
    return ::epoll_ctl(fd, EPOLL_CTL_MOD, socket, &e) == 0;
}

void Poller::Remove(int socket) { ::epoll_ctl(fd, EPOLL_CTL_DEL, socket, nullptr); }

size_t Poller::Wait(std::vector<Event>& out, int timeoutMs) {
    epoll_event events[512];
    const int max = static_cast<int>(std::min(out.size(), sizeof events / sizeof events[0]));
    const int n = ::epoll_wait(fd, events, max, timeoutMs);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        out[i].tag = events[i].data.u32;
        out[i].readable = (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0;
        out[i].writable = (events[i].events & EPOLLOUT) != 0;
    }
    return static_cast<size_t>(n);
}

int ConnectTcp(const std::string& address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectError(int socket) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

namespace {

// "4-5,7" into a CPU set; false when malformed.
bool ParseCpus(const std::string& text, cpu_set_t* set) {
    CPU_ZERO(set);
    std::stringstream in(text);
    std::string part;
    bool any = false;
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        const long first = std::strtol(part.c_str(), &end, 10);
        long last = first;
        if (end == part.c_str()) return false;
        if (*end == '-') {
            const char* from = end + 1;
            last = std::strtol(from, &end, 10);
            if (end == from) return false;
        }
        if (*end || first < 0 || last < first || last >= CPU_SETSIZE) return false;
        for (long c = first; c <= last; ++c) CPU_SET(static_cast<int>(c), set);
        any = true;
    }
    return any;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (output >= 0) ::close(output);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& errorLog, const std::string& cpus,
                         std::string* error) {
    cpu_set_t set;
    if (!cpus.empty() && !ParseCpus(cpus, &set)) {
        *error = "malformed CPU list " + cpus;
        return false;
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
        *error = std::string("cannot start ") + argv[0] + ": " + std::strerror(errno);
        return false;
    }
    output = pipeEnds[0];
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

bool ChildProcess::ReadUsage(Usage* out) const {
    if (pid <= 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    out->cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
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
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
            return "did not stop in time";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended oddly";
}

uint64_t FileSize(const std::string& path) {
    struct stat s{};
    return ::stat(path.c_str(), &s) == 0 ? static_cast<uint64_t>(s.st_size) : 0;
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

bool WriteFileBytes(const std::string& path, const void* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
    return ::close(fd) == 0 && ok;
}

}  // namespace brokerload
