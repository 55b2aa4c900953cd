// Readiness poller and non-blocking TCP connections (see OnlinePoller.h), on epoll.
#include "platform/online/OnlinePoller.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace online {

static_assert(sizeof(TcpAddress::bytes) >= sizeof(sockaddr_in6), "an IPv6 address must fit");

SocketPoller::SocketPoller() : fd(::epoll_create1(EPOLL_CLOEXEC)) {}

SocketPoller::~SocketPoller() {
    if (fd >= 0) ::close(fd);
}

namespace {

bool Control(int poller, int op, SocketHandle socket, uint32_t tag, bool wantRead, bool wantWrite) {
    epoll_event e{};
    e.events = (wantRead ? EPOLLIN : 0u) | (wantWrite ? EPOLLOUT : 0u);
    e.data.u32 = tag;
    return ::epoll_ctl(poller, op, socket, &e) == 0;
}

}  // namespace

bool SocketPoller::Add(SocketHandle socket, uint32_t tag, bool wantWrite) {
    return Control(fd, EPOLL_CTL_ADD, socket, tag, true, wantWrite);
}

bool SocketPoller::Change(SocketHandle socket, uint32_t tag, bool wantWrite) {
    return Control(fd, EPOLL_CTL_MOD, socket, tag, true, wantWrite);
}

bool SocketPoller::Add(SocketHandle socket, uint32_t tag, bool wantRead, bool wantWrite) {
    return Control(fd, EPOLL_CTL_ADD, socket, tag, wantRead, wantWrite);
}

bool SocketPoller::Change(SocketHandle socket, uint32_t tag, bool wantRead, bool wantWrite) {
    return Control(fd, EPOLL_CTL_MOD, socket, tag, wantRead, wantWrite);
}

Wakeup::Wakeup() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wakeup::~Wakeup() {
    if (fd >= 0) ::close(fd);
}

void Wakeup::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void Wakeup::Clear() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

void SocketPoller::Remove(SocketHandle socket) { ::epoll_ctl(fd, EPOLL_CTL_DEL, socket, nullptr); }

size_t SocketPoller::Wait(std::vector<Event>& out, int timeoutMs) {
    epoll_event events[kMaxEventsPerWait];
    const int max = static_cast<int>(std::min(out.size(), kMaxEventsPerWait));
    if (fd < 0 || max <= 0) return 0;
    const int n = ::epoll_wait(fd, events, max, timeoutMs);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        out[i].tag = events[i].data.u32;
        out[i].readable = (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0;
        out[i].writable = (events[i].events & EPOLLOUT) != 0;
    }
    return static_cast<size_t>(n);
}

bool ResolveTcpAddress(const std::string& host, uint16_t port, TcpAddress* out, std::string* error) {
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || !found) {
        *error = "cannot resolve " + host + ": " + (rc ? ::gai_strerror(rc) : "no address");
        return false;
    }
    const bool fits = found->ai_addrlen <= sizeof out->bytes;
    if (fits) {
        std::memcpy(out->bytes, found->ai_addr, found->ai_addrlen);
        out->size = static_cast<uint32_t>(found->ai_addrlen);
    } else {
        *error = "cannot resolve " + host + ": an address of an unknown kind";
    }
    ::freeaddrinfo(found);
    return fits;
}

SocketHandle ConnectTcpNonBlocking(const TcpAddress& address) {
    if (address.size < sizeof(sockaddr::sa_family)) return -1;
    const auto* a = reinterpret_cast<const sockaddr*>(address.bytes);
    const int fd = ::socket(a->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, a, address.size) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectionError(SocketHandle socket) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

}  // namespace online
