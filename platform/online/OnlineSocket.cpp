// Unix-domain socket transport and the broker program's poll loop.
//
// Client: one reader thread per connection polls with a 100 ms time-out so that Close
// ends it promptly; sends are whole frames written under a lock from any thread.
// Broker: one thread; non-blocking sockets; each connection has a frame splitter and an
// output buffer (a client that stops reading past 64 MiB is disconnected).
#include "platform/online/OnlineSocket.h"

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineWire.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace online {

namespace {

constexpr size_t kMaxOutput = 64u * 1024 * 1024;

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int ConnectTo(const std::string& folder, std::string* error) {
    sockaddr_un addr;
    if (folder.empty() || !MakeAddress(BrokerSocketPath(folder), &addr)) {
        if (error) *error = "no usable broker folder";
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (error) *error = "no broker at " + BrokerSocketPath(folder) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

class SocketTransport : public Transport {
public:
    SocketTransport(int fd, ClientCore* core) : fd(fd), core(core) { reader = std::thread([this] { Read(); }); }
    ~SocketTransport() override { Close(); }

    bool Send(const std::vector<uint8_t>& frame) override {
        std::lock_guard<std::mutex> lock(sendLock);
        return fd >= 0 && WriteAll(fd, frame.data(), frame.size());
    }

    void Close() override {
        stop = true;
        if (reader.joinable() && reader.get_id() != std::this_thread::get_id()) reader.join();
        std::lock_guard<std::mutex> lock(sendLock);
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

private:
    void Read() {
        wire::FrameSplitter splitter;
        std::vector<uint8_t> body;
        uint8_t buf[65536];
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            const int rc = ::poll(&p, 1, 100);
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0) break;
            if (rc == 0) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0 || !splitter.Push(buf, static_cast<size_t>(n))) break;
            while (splitter.Next(body)) core->OnFrame(body.data(), body.size());
            if (splitter.Broken()) break;
        }
        core->OnDisconnected();
    }

    int fd;
    ClientCore* core;
    std::mutex sendLock;
    std::atomic<bool> stop{false};
    std::thread reader;
};

volatile std::sig_atomic_t gStopSignal = 0;
void OnStopSignal(int) { gStopSignal = 1; }

int64_t MonotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

struct Connection {
    int fd = -1;
    uint32_t session = 0;
    wire::FrameSplitter splitter;
    std::vector<uint8_t> output;
    size_t written = 0;
    bool dead = false;
};

class ServerOutput : public BrokerOutput {
public:
    std::map<uint32_t, Connection*> bySession;
    void Deliver(uint32_t session, const std::vector<uint8_t>& frame) override {
        auto it = bySession.find(session);
        if (it == bySession.end() || it->second->dead) return;
        Connection* c = it->second;
        if (c->output.size() - c->written + frame.size() > kMaxOutput) {
            std::fprintf(stderr, "online_broker: session %u stopped reading; disconnecting\n", session);
            c->dead = true;
            return;
        }
        c->output.insert(c->output.end(), frame.begin(), frame.end());
    }
};

void Flush(Connection& c) {
    while (c.written < c.output.size() && !c.dead) {
        const ssize_t n = ::send(c.fd, c.output.data() + c.written, c.output.size() - c.written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            c.dead = true;
            break;
        }
        c.written += static_cast<size_t>(n);
    }
    if (c.written == c.output.size()) {
        c.output.clear();
        c.written = 0;
    }
}

}  // namespace

std::string ExecutableFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string s(path, static_cast<size_t>(n));
    const size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string BrokerSocketPath(const std::string& folder) { return folder + "/broker.sock"; }

std::unique_ptr<Transport> ConnectSocketTransport(const std::string& folder, ClientCore* core, std::string* error) {
    const int fd = ConnectTo(folder, error);
    if (fd < 0) return nullptr;
    return std::make_unique<SocketTransport>(fd, core);
}

int RunBrokerServer(const BrokerServerOptions& options) {
    StatsSchema schema;
    std::string error;
    if (!options.schemaPath.empty() && !schema.Load(options.schemaPath, &error)) {
        std::fprintf(stderr, "online_broker: %s\n", error.c_str());
        return 2;
    }
    if (!options.dataFolder.empty()) ::mkdir(options.dataFolder.c_str(), 0700);
    ServerOutput output;
    BrokerCore core(&output);
    if (!core.Open(options.dataFolder, schema, &error)) {
        std::fprintf(stderr, "online_broker: %s\n", error.c_str());
        return 2;
    }
    sockaddr_un addr;
    const std::string path = BrokerSocketPath(options.socketFolder);
    if (options.socketFolder.empty() || !MakeAddress(path, &addr)) {
        std::fprintf(stderr, "online_broker: no usable socket folder\n");
        return 2;
    }
    // Bound and listening under a temporary name first, then renamed into place, so a
    // client that sees the socket file can always connect to it.
    const std::string pendingPath = path + ".new";
    sockaddr_un pendingAddr;
    if (!MakeAddress(pendingPath, &pendingAddr)) {
        std::fprintf(stderr, "online_broker: no usable socket folder\n");
        return 2;
    }
    ::unlink(pendingPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&pendingAddr), sizeof pendingAddr) != 0 ||
        ::listen(listener, 64) != 0 || ::rename(pendingPath.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "online_broker: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        ::unlink(pendingPath.c_str());
        return 2;
    }
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::map<int, std::unique_ptr<Connection>> connections;
    int64_t idleSince = MonotonicSeconds();
    std::vector<uint8_t> body;
    uint8_t buf[65536];
    while (!gStopSignal && !core.StopRequested()) {
        std::vector<pollfd> fds;
        fds.push_back(pollfd{listener, POLLIN, 0});
        for (auto& [fd, c] : connections)
            fds.push_back(pollfd{fd, static_cast<short>(POLLIN | (c->output.empty() ? 0 : POLLOUT)), 0});
        const int rc = ::poll(fds.data(), fds.size(), 200);
        if (rc < 0 && errno != EINTR) break;
        if (connections.empty() && options.idleExitSeconds > 0 &&
            MonotonicSeconds() - idleSince >= options.idleExitSeconds) {
            std::fprintf(stderr, "online_broker: idle, exiting\n");
            break;
        }
        if (rc <= 0) continue;
        if (fds[0].revents & POLLIN) {
            for (int i = 0; i < 16; ++i) {
                const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                auto c = std::make_unique<Connection>();
                c->fd = fd;
                c->session = core.AddSession();
                output.bySession[c->session] = c.get();
                connections[fd] = std::move(c);
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            auto it = connections.find(fds[i].fd);
            if (it == connections.end()) continue;
            Connection& c = *it->second;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                // Bounded: at most 16 reads per connection per round, so one client cannot starve the rest.
                for (int reads = 0; reads < 16 && !c.dead; ++reads) {
                    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                    if (n < 0 && errno == EINTR) continue;
                    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
                    if (n <= 0 || !c.splitter.Push(buf, static_cast<size_t>(n))) {
                        if (n > 0) std::fprintf(stderr, "online_broker: session %u sent an oversized frame\n", c.session);
                        c.dead = true;
                        break;
                    }
                    while (!c.dead && c.splitter.Next(body))
                        if (!core.Handle(c.session, body.data(), body.size())) {
                            std::fprintf(stderr, "online_broker: session %u sent a malformed message\n", c.session);
                            c.dead = true;
                        }
                    if (c.splitter.Broken()) c.dead = true;
                }
            }
        }
        for (auto it = connections.begin(); it != connections.end();) {
            Connection& c = *it->second;
            Flush(c);
            if (c.dead) {
                core.RemoveSession(c.session);  // may deliver to others: flushed next round
                output.bySession.erase(c.session);
                ::close(c.fd);
                it = connections.erase(it);
                if (connections.empty()) idleSince = MonotonicSeconds();
            } else {
                ++it;
            }
        }
    }
    for (auto& [fd, c] : connections) {
        Flush(*c);
        ::close(fd);
    }
    ::close(listener);
    ::unlink(path.c_str());
    return 0;
}

bool ControlBroker(const std::string& folder, const std::string& command, const std::string& argument,
                   std::string* answer, std::string* error) {
    const int fd = ConnectTo(folder, error);
    if (fd < 0) return false;
    wire::Writer w(wire::kControl, 1);
    w.Text(command).Bytes(argument.data(), argument.size());
    bool ok = WriteAll(fd, w.Frame().data(), w.Frame().size());
    wire::FrameSplitter splitter;
    std::vector<uint8_t> body;
    uint8_t buf[65536];
    bool done = false;
    // Bounded wait: 50 polls of 100 ms.
    for (int i = 0; ok && !done && i < 50; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0 || !splitter.Push(buf, static_cast<size_t>(n))) break;
        while (splitter.Next(body)) {
            wire::Reader r(body.data(), body.size());
            if (r.MessageKind() != wire::kReply) continue;
            ok = r.U8() != 0;
            uint32_t size = 0;
            const uint8_t* text = r.Bytes(wire::kMaxFrame, &size);
            if (r.Failed()) ok = false;
            else if (answer) answer->assign(reinterpret_cast<const char*>(text), size);
            done = true;
        }
    }
    ::close(fd);
    if (!done && error) *error = "the broker did not answer";
    return done && ok;
}

}  // namespace online
