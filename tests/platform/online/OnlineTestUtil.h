#pragma once
// Shared helpers of the online tests: callback recorders, bounded pumping, a broker
// program in a child process, and raw socket clients.
#include "platform/online/Online.h"
#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineWire.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
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

// A fresh folder under /tmp, removed with everything in it.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char pattern[] = "/tmp/onlinetestXXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

inline online::ClientConfig Config(uint32_t account, const char* persona) {
    online::ClientConfig c;
    c.account = account;
    c.persona = persona;
    c.appId = 0x1234567;
    return c;
}

// The broker program in a child process; stopped (or killed) by the test. openFiles > 0
// starts it under that open-file limit.
class BrokerProcess {
public:
    explicit BrokerProcess(const std::string& folder) : folder(folder) {}
    ~BrokerProcess() { Stop(); }

    bool Start(rlim_t openFiles = 0) {
        std::filesystem::remove(online::BrokerSocketPath(folder));
        const std::string program = std::string(PROJECT_BINARY_ROOT) + "/tools/online_broker";
        pid = fork();
        if (pid == 0) {
            if (openFiles) {
                const rlimit limit{openFiles, openFiles};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            execl(program.c_str(), program.c_str(), "serve", "--dir", folder.c_str(), "--idle-exit", "60",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500; ++i) {  // up to five seconds for the socket to appear
            if (std::filesystem::exists(online::BrokerSocketPath(folder))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void Stop(int sig = SIGTERM) {
        if (pid <= 0) return;
        kill(pid, sig);
        int status = 0;
        for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, SIGKILL);
        waitpid(pid, &status, WNOHANG);
        pid = -1;
    }
    pid_t Pid() const { return pid; }

private:
    std::string folder;
    pid_t pid = -1;
};

// A hand-made client on the broker's socket: whole frames or raw bytes out, frames in.
class RawClient {
public:
    explicit RawClient(const std::string& folder) : socket(online::ConnectBroker(folder, nullptr)) {}
    ~RawClient() { online::SocketClose(socket); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return socket >= 0; }
    bool Send(online::wire::Writer& w) { return online::SocketSendAll(socket, w.Frame().data(), w.Frame().size()); }
    // Sends what the socket takes without blocking; the bytes taken.
    size_t SendAvailable(const uint8_t* data, size_t size) {
        const ssize_t n = ::send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    bool Hello(uint32_t account) {
        online::wire::Writer w(online::wire::kHello, 1);
        w.U32(account).Text("Raw").U32(1).Text("english");
        std::vector<uint8_t> reply;
        return Send(w) && Next(&reply, 5000) && reply[0] == online::wire::kReply;
    }
    // The next frame body within ms; false at the end of the connection or the time-out.
    bool Next(std::vector<uint8_t>* body, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::vector<uint8_t> buf(1 << 16);
        while (!splitter.Next(*body)) {
            if (ended || splitter.Broken() || std::chrono::steady_clock::now() > end) return false;
            std::vector<online::PollItem> items(1);
            items[0].handle = socket;
            items[0].wantRead = true;
            if (!online::PollSockets(items, 10) || !items[0].readable) continue;
            const long n = online::SocketReceive(socket, buf.data(), buf.size());
            if (n < 0) ended = true;
            else if (n > 0) splitter.Push(buf.data(), static_cast<size_t>(n));
        }
        return true;
    }
    // True when the broker ends the connection within ms; what arrives meanwhile is dropped.
    bool EndsWithin(int ms) {
        std::vector<uint8_t> body;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end && !ended) Next(&body, 10);
        return ended;
    }

    // True when the broker closes the connection within ms, read or not.
    bool HangsUpWithin(int ms) {
        std::vector<online::PollItem> items(1);
        items[0].handle = socket;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            if (online::PollSockets(items, 10) && items[0].readable) return true;  // only a hang-up marks it
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }

private:
    online::SocketHandle socket;
    online::wire::FrameSplitter splitter;
    bool ended = false;
};

}  // namespace onlinetest
