#pragma once
// Many non-blocking TCP connections waited on at once, for programs that play many
// clients from one thread each (tools/brokerload): a readiness poller that reports only
// the sockets with something to do, and non-blocking connections to a broker's address
// resolved once. Sockets are the SocketHandle of OnlineSocket.h: SocketSend,
// SocketReceive and SocketClose apply to them.
//
// Threads: a SocketPoller belongs to the thread that waits on it; the free functions are
// thread-safe.
#include "platform/online/OnlineSocket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace online {

class SocketPoller {
public:
    struct Event {
        uint32_t tag = 0;
        bool readable = false;  // also set at the end of the stream and on errors
        bool writable = false;
    };
    static constexpr size_t kMaxEventsPerWait = 512;

    SocketPoller();
    ~SocketPoller();
    SocketPoller(const SocketPoller&) = delete;
    SocketPoller& operator=(const SocketPoller&) = delete;
    bool Ok() const { return fd >= 0; }
    // Read interest always; write interest when wantWrite. The tag comes back in events.
    bool Add(SocketHandle socket, uint32_t tag, bool wantWrite);
    bool Change(SocketHandle socket, uint32_t tag, bool wantWrite);
    // Either interest, or none. A hang-up or an error is reported all the same.
    bool Add(SocketHandle socket, uint32_t tag, bool wantRead, bool wantWrite);
    bool Change(SocketHandle socket, uint32_t tag, bool wantRead, bool wantWrite);
    void Remove(SocketHandle socket);
    // Up to min(out.size(), kMaxEventsPerWait) events within timeoutMs; their count (0 on
    // a time-out, a signal or a failure).
    size_t Wait(std::vector<Event>& out, int timeoutMs);

private:
    int fd = -1;
};

// Wakes a thread that waits on sockets from another thread: a handle that turns readable
// on Wake and stays so until Clear. Wake is thread-safe.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;
    bool Ok() const { return fd >= 0; }
    SocketHandle Handle() const { return fd; }
    void Wake();
    void Clear();

private:
    int fd = -1;
};

// A resolved TCP address (IPv4 or IPv6), ready for many connections.
struct TcpAddress {
    uint8_t bytes[28] = {};  // large enough for either family's address record
    uint32_t size = 0;
};

// Resolves a host name, a numeric IPv4 address or a bracketed IPv6 one; false with the
// reason when it cannot.
bool ResolveTcpAddress(const std::string& host, uint16_t port, TcpAddress* out, std::string* error);

// Starts a non-blocking connection with TCP_NODELAY; the socket, or -1. The connection is
// made when the socket turns writable: ConnectionError then tells how it went.
SocketHandle ConnectTcpNonBlocking(const TcpAddress& address);
int ConnectionError(SocketHandle socket);  // 0: connected, else the system's error number

}  // namespace online
