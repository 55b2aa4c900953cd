// Unix-domain socket transport: the client's connection with its reader thread, and the
// plain socket calls the broker program's poll loop is built on.
//
// Client: one reader thread per connection polls with a 100 ms time-out so that Close
// ends it promptly; sends are whole frames written under a lock from any thread.
#include "platform/online/OnlineSocket.h"

#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineWire.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace online {

namespace {

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

class SocketTransport : public Transport {
public:
    SocketTransport(int fd, ClientCore* core) : fd(fd), core(core) { reader = std::thread([this] { Read(); }); }
    ~SocketTransport() override { Close(); }

    bool Send(const std::vector<uint8_t>& frame) override {
        std::lock_guard<std::mutex> lock(sendLock);
        return fd >= 0 && SocketSendAll(fd, frame.data(), frame.size());
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

bool SocketSendAll(SocketHandle fd, const void* bytes, size_t size) {
    const auto* data = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

SocketHandle ConnectBroker(const std::string& folder, std::string* error) {
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


std::unique_ptr<Transport> ConnectSocketTransport(const std::string& folder, ClientCore* core, std::string* error) {
    const int fd = ConnectBroker(folder, error);
    if (fd < 0) return nullptr;
    return std::make_unique<SocketTransport>(fd, core);
}

std::unique_ptr<Transport> MakeStreamTransport(SocketHandle connected, ClientCore* core) {
    return std::make_unique<SocketTransport>(connected, core);
}

BrokerListener::~BrokerListener() {
    if (fd < 0) return;
    ::close(fd);
    ::unlink(path.c_str());
}

bool BrokerListener::Open(const std::string& folder, std::string* error) {
    path = BrokerSocketPath(folder);
    const std::string pendingPath = path + ".new";
    sockaddr_un addr, pendingAddr;
    if (folder.empty() || !MakeAddress(path, &addr) || !MakeAddress(pendingPath, &pendingAddr)) {
        if (error) *error = "no usable socket folder";
        return false;
    }
    ::unlink(pendingPath.c_str());
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&pendingAddr), sizeof pendingAddr) != 0 ||
        ::listen(fd, 64) != 0 || ::rename(pendingPath.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot listen on " + path + ": " + std::strerror(errno);
        ::unlink(pendingPath.c_str());
        if (fd >= 0) ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

BrokerListener::Accept BrokerListener::AcceptOne(SocketHandle* connection) {
    for (;;) {
        const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c >= 0) {
            *connection = c;
            return Accept::Connection;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED: continue;  // that one gave up while waiting: take the next
        case EAGAIN: return Accept::None;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM: return Accept::OutOfHandles;
        default: return Accept::Failed;
        }
    }
}

long SocketReceive(SocketHandle socket, void* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, size, 0);
        if (n > 0) return static_cast<long>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return -1;
    }
}

long SocketSend(SocketHandle socket, const void* data, size_t size) {
    for (;;) {
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

void SocketClose(SocketHandle socket) {
    if (socket >= 0) ::close(socket);
}

void SocketShutdownSend(SocketHandle socket) {
    if (socket >= 0) ::shutdown(socket, SHUT_WR);
}

bool PollSockets(std::vector<PollItem>& items, int timeoutMs) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = items[i].handle;
        fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
        items[i].readable = items[i].writable = false;
    }
    const int rc = ::poll(fds.data(), fds.size(), timeoutMs);
    if (rc < 0) return errno == EINTR;
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        items[i].writable = (fds[i].revents & (POLLOUT | POLLERR)) != 0;
    }
    return true;
}


namespace {

volatile std::sig_atomic_t gStopSignal = 0;
void OnStopSignal(int) { gStopSignal = 1; }

}  // namespace

void MakePrivateFolder(const std::string& path) { ::mkdir(path.c_str(), 0700); }

void CatchStopSignals() {
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopSignalled() { return gStopSignal != 0; }

}  // namespace online
