#pragma once
// Shared helpers of the online tests: callback recorders, bounded pumping, and the
// broker program in a child process.
#include "platform/online/Online.h"
#include "platform/online/OnlineSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace onlinetest {

// Records every record of one callback number.
template <class T>
class Catch : public online::CallbackBase {
public:
    explicit Catch(online::OnlineContext* ctx) : ctx(ctx) { ctx->RegisterCallback(this, T::kCallbackId); }
    ~Catch() override { ctx->UnregisterCallback(this); }
    void Run(const void* data, bool, online::CallHandle) override {
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(*static_cast<const T*>(data));
    }
    std::vector<T> All() {
        std::lock_guard<std::mutex> lock(m);
        return seen;
    }
    size_t Count() { return All().size(); }
    void Clear() {
        std::lock_guard<std::mutex> lock(m);
        seen.clear();
    }

private:
    online::OnlineContext* ctx;
    std::mutex m;
    std::vector<T> seen;
};

// One call result.
template <class T>
class CallResult : public online::CallbackBase {
public:
    explicit CallResult(online::OnlineContext* ctx) : ctx(ctx) {}
    ~CallResult() override {
        if (call) ctx->UnregisterCallResult(this, call);
    }
    void Bind(online::CallHandle c) {
        call = c;
        ctx->RegisterCallResult(this, c);
    }
    void Run(const void* data, bool io, online::CallHandle c) override {
        value = *static_cast<const T*>(data);
        ioFailure = io;
        ++times;
        call = 0;
    }
    online::OnlineContext* ctx;
    online::CallHandle call = 0;
    T value{};
    bool ioFailure = false;
    int times = 0;
};

// Pumps the contexts until pred holds (true) or about five seconds pass (false).
inline bool PumpUntil(std::initializer_list<online::OnlineContext*> contexts, const std::function<bool()>& pred,
                      int milliseconds = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (online::OnlineContext* c : contexts) c->RunCallbacks();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The record of one call's result, pumping ctx until it comes (zero after the time-out).
template <class T>
T Await(online::OnlineContext* ctx, online::CallHandle call, int milliseconds = 5000) {
    CallResult<T> result(ctx);
    result.Bind(call);
    EXPECT_TRUE(PumpUntil({ctx}, [&] { return result.times == 1; }, milliseconds));
    return result.value;
}

// A fresh folder under /tmp, removed with everything in it.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char pattern[] = "/tmp/onlinetestXXXXXX";
        if (const char* made = mkdtemp(pattern)) path = made;
        EXPECT_FALSE(path.empty()) << "no temporary folder";
    }
    // Never throws: a file that appears while the folder is removed (a process still
    // writing) makes another try, and what cannot be removed is reported, not thrown.
    ~TempDir() {
        if (path.empty()) return;
        std::error_code error;
        for (int i = 0; i < 5; ++i) {
            error.clear();
            std::filesystem::remove_all(path, error);
            if (!error) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::fprintf(stderr, "could not remove %s: %s\n", path.c_str(), error.message().c_str());
    }
};

inline online::ClientConfig Config(uint32_t account, const char* persona) {
    online::ClientConfig c;
    c.account = account;
    c.persona = persona;
    c.appId = 0x1234567;
    return c;
}

// True for the status of a process that ended by itself with exit code 0 (a process
// killed by a signal has an exit code of 0 too).
inline bool ExitedNormally(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// The exit status of a child within the given seconds; -1 when it had to be killed.
inline int WaitOrKill(pid_t pid, int seconds) {
    int status = 0;
    for (int i = 0; i < seconds * 100; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// The broker program in a child process ("serve" in folder, with more arguments when
// given), stopped or killed by the test; openFiles > 0 starts it under that limit.
class BrokerProcess {
public:
    explicit BrokerProcess(const std::string& folder) : folder(folder) {}
    // A broker still running is asked to stop and must end normally.
    ~BrokerProcess() {
        if (pid <= 0) return;
        const int status = Stop();
        EXPECT_TRUE(ExitedNormally(status)) << "the broker ended with status " << status;
    }

    bool Start(rlim_t openFiles = 0, std::vector<std::string> more = {}) {
        if (!Spawn(more, openFiles, -1, "")) return false;
        for (int i = 0; i < 500; ++i) {  // up to five seconds for the socket to appear
            if (std::filesystem::exists(online::BrokerSocketPath(folder))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Starts with a TCP listener ("--listen listen --secret-file secretFile" and more):
    // true once the program printed its listening line, whose port lands in *port. The
    // program's standard error goes to errorFile when given.
    bool StartListening(const std::string& listen, const std::string& secretFile, uint16_t* port, std::vector<std::string> more = {},
                        const std::string& errorFile = "") {
        more.insert(more.begin(), {"--listen", listen, "--secret-file", secretFile});
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return false;  // only the program's standard output stays open
        const bool started = Spawn(more, 0, out[1], errorFile);
        close(out[1]);
        std::string line;
        char c = 0;
        pollfd p{out[0], POLLIN, 0};
        while (started && line.size() < 200 && poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const size_t colon = line.rfind(':');
        if (line.rfind("online_broker: listening on ", 0) != 0 || colon == std::string::npos) return false;
        *port = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
        listeningLine = line;
        return true;
    }
    std::string listeningLine;

    // Sends sig (0: none, the broker is ending by itself), then waits up to five seconds.
    int Stop(int sig = SIGTERM) {
        if (pid <= 0) return -1;
        if (sig) kill(pid, sig);
        const int status = WaitOrKill(pid, 5);
        pid = -1;
        return status;
    }
    pid_t Pid() const { return pid; }

private:
    // Forks "serve --dir folder --idle-exit 60" and more; its standard output goes to
    // outFd and its standard error to errorFile when given, under openFiles when not 0.
    bool Spawn(const std::vector<std::string>& more, rlim_t openFiles, int outFd, const std::string& errorFile) {
        std::filesystem::remove(online::BrokerSocketPath(folder));
        const std::string program = std::string(PROJECT_BINARY_ROOT) + "/tools/online_broker";
        std::vector<std::string> args = {program, "serve", "--dir", folder, "--idle-exit", "60"};
        args.insert(args.end(), more.begin(), more.end());
        pid = fork();
        if (pid != 0) return pid > 0;
        if (outFd >= 0) dup2(outFd, 1);
        if (FILE* e = errorFile.empty() ? nullptr : std::fopen(errorFile.c_str(), "w")) dup2(fileno(e), 2);
        const rlimit limit{openFiles, openFiles};
        if (openFiles) setrlimit(RLIMIT_NOFILE, &limit);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }

    std::string folder;
    pid_t pid = -1;
};

}  // namespace onlinetest
