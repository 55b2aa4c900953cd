// TCP for the broker on a local network: the listener, the client's connection with its
// handshake, the handshake's HMAC, and the address and secret rules.
#include "platform/online/OnlineSocket.h"

#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineWire.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace online {

namespace {

constexpr int kKeepIdleSeconds = 10;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepProbes = 3;

void TuneConnection(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
}

bool ParsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    if (v > 65535) return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

std::string AddressText(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = {};
    uint16_t port = 0;
    if (a.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        port = ntohs(v6->sin6_port);
        return std::string("[") + host + "]:" + std::to_string(port);
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    ::inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    port = ntohs(v4->sin_port);
    return std::string(host) + ":" + std::to_string(port);
}

// Waits for fd to become readable (or writable) within the remaining time.
bool WaitFor(int fd, short events, int64_t deadlineMs) {
    for (;;) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t left = deadlineMs - (int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) continue;
        return rc > 0;
    }
}

int64_t NowMs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Connects to one resolved address within the deadline.
int ConnectWithin(const addrinfo* ai, int64_t deadline) {
    const int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        if (!WaitFor(fd, POLLOUT, deadline)) {
            ::close(fd);
            errno = ETIMEDOUT;
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(fd);
            errno = err;
            return -1;
        }
    }
    return fd;
}

// Reads exactly size bytes before the deadline.
bool ReadExactly(int fd, uint8_t* out, size_t size, int64_t deadline) {
    while (size > 0) {
        if (!WaitFor(fd, POLLIN, deadline)) return false;
        const ssize_t n = ::recv(fd, out, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::array<uint8_t, kAnswerBytes> HandshakeAnswer(const std::string& secret, const uint8_t* challenge, bool* ok) {
    // The key is SHA-256 of the secret's length and bytes. HMAC itself pads a short key
    // with zero bytes, so a secret and the same secret with zero bytes appended would be
    // one key.
    std::string keyed(8, '\0');
    for (int i = 0; i < 8; ++i) keyed[i] = static_cast<char>(static_cast<uint64_t>(secret.size()) >> (8 * i));
    keyed += secret;
    uint8_t key[32];
    unsigned int keySize = 0;
    std::array<uint8_t, kAnswerBytes> out{};
    // A failure would leave one answer for every secret: reported, never to be accepted.
    if (ok) *ok = false;
    if (EVP_Digest(keyed.data(), keyed.size(), key, &keySize, EVP_sha256(), nullptr) != 1 || keySize != sizeof key) {
        std::fprintf(stderr, "online: hashing the network secret failed; the handshake is refused\n");
        return out;
    }
    uint8_t message[kChallengeBytes + 32];
    const size_t labelSize = std::strlen(kHandshakeLabel);
    std::memcpy(message, challenge, kChallengeBytes);
    std::memcpy(message + kChallengeBytes, kHandshakeLabel, labelSize);
    unsigned int size = 0;
    if (!HMAC(EVP_sha256(), key, static_cast<int>(keySize), message, kChallengeBytes + labelSize, out.data(), &size) ||
        size != kAnswerBytes) {
        std::fprintf(stderr, "online: computing the handshake's answer failed; the handshake is refused\n");
        out.fill(0);
        return out;
    }
    if (ok) *ok = true;
    return out;
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size) {
    uint8_t diff = 0;
    for (size_t i = 0; i < size; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

bool SystemRandom(void* out, size_t size) {
    auto* p = static_cast<uint8_t*>(out);
    while (size > 0) {
        const ssize_t n = ::getrandom(p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadSecretFile(const std::string& path, std::string* secret, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error) *error = "cannot read the secret file " + path;
        return false;
    }
    // One byte more than the longest secret and its newline tells a longer file.
    std::string text(kMaxSecretBytes + 2, '\0');
    f.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(f.gcount()));
    // A file written by echo ends with a newline that its author does not count.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.size() < kMinSecretBytes || text.size() > kMaxSecretBytes) {
        if (error)
            *error = "the secret in " + path + " must hold " + std::to_string(kMinSecretBytes) + " to " + std::to_string(kMaxSecretBytes) +
                     " bytes";
        return false;
    }
    // A secret of a few byte values (one repeated, zeros with a one) is guessed at once.
    bool seen[256] = {};
    size_t distinct = 0;
    for (const char c : text) {
        bool& s = seen[static_cast<uint8_t>(c)];
        distinct += !s;
        s = true;
    }
    if (distinct < kMinSecretByteValues) {
        if (error)
            *error = "the secret in " + path + " holds fewer than " + std::to_string(kMinSecretByteValues) +
                     " different byte values; make one of random bytes (head -c 32 /dev/urandom)";
        return false;
    }
    *secret = std::move(text);
    return true;
}

std::string TcpEndpoint::Text() const { return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port); }

bool ParseListenAddress(const std::string& text, TcpEndpoint* out) {
    TcpEndpoint e;
    std::string portText = text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        e.address = text.substr(1, close - 1);
        e.ipv6 = true;
        in6_addr a6;
        if (::inet_pton(AF_INET6, e.address.c_str(), &a6) != 1) return false;
        portText = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        e.address = text.substr(0, colon);
        in_addr a4;
        if (::inet_pton(AF_INET, e.address.c_str(), &a4) != 1) return false;
        portText = text.substr(colon + 1);
    }
    if (!ParsePort(portText, &e.port)) return false;
    *out = e;
    return true;
}

bool ParseBrokerAddress(const std::string& text, std::string* host, uint16_t* port) {
    std::string h, p;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) return false;
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
    }
    uint16_t v = 0;
    if (h.empty() || h.size() > 253 || !ParsePort(p, &v) || v == 0) return false;
    for (char c : h)
        if (c <= ' ' || c == '/' || c == '\\') return false;
    *host = h;
    *port = v;
    return true;
}

std::unique_ptr<Transport> ConnectTcpTransport(const std::string& address, const std::string& secretFile, ClientCore* core,
                                               std::string* error, bool* worthRetrying, int64_t limitMs) {
    if (worthRetrying) *worthRetrying = false;
    std::string host;
    uint16_t port = 0;
    if (!ParseBrokerAddress(address, &host, &port)) {
        if (error) *error = "malformed broker address " + address;
        return nullptr;
    }
    std::string secret;
    if (!ReadSecretFile(secretFile, &secret, error)) return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
        if (error) *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
        return nullptr;
    }
    const int64_t end = limitMs > 0 ? NowMs() + limitMs : INT64_MAX;  // the caller's limit
    const int64_t deadline = std::min(NowMs() + kTcpConnectMs, end);
    int fd = -1;
    int lastError = ETIMEDOUT;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        fd = ConnectWithin(ai, deadline);
        if (fd < 0 && errno) lastError = errno;
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        if (error) *error = "no broker at " + address + ": " + std::strerror(lastError);
        // A refusal means nobody listens there; a connection not taken in time may be one
        // that waited behind a flood.
        if (worthRetrying) *worthRetrying = lastError == ETIMEDOUT;
        return nullptr;
    }
    TuneConnection(fd);
    // The challenge: one frame {u32 length, u8 kChallenge, u32 sequence, u32 n, n bytes}.
    uint8_t frame[4 + 1 + 4 + 4 + kChallengeBytes];
    const int64_t handshakeDeadline = std::min(NowMs() + kTcpConnectMs, end);
    uint32_t length = 0, n = 0;
    if (ReadExactly(fd, frame, sizeof frame, handshakeDeadline)) {
        std::memcpy(&length, frame, 4);
        std::memcpy(&n, frame + 9, 4);
    }
    if (length != sizeof frame - 4 || frame[4] != wire::kChallenge || n != kChallengeBytes) {
        if (error) *error = "the broker at " + address + " sent no challenge";
        if (worthRetrying) *worthRetrying = true;
        ::close(fd);
        return nullptr;
    }
    bool answered = false;
    const std::array<uint8_t, kAnswerBytes> answer = HandshakeAnswer(secret, frame + 13, &answered);
    if (!answered) {
        if (error) *error = "the answer to the broker's challenge at " + address + " could not be computed";
        ::close(fd);
        return nullptr;
    }
    wire::Writer w(wire::kAuthAnswer);
    w.Bytes(answer.data(), answer.size());
    const std::vector<uint8_t>& out = w.Frame();
    // Blocking from here on, as the Unix transport.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!SocketSendAll(fd, out.data(), out.size())) {
        if (error) *error = "the broker at " + address + " closed the connection";
        if (worthRetrying) *worthRetrying = true;
        ::close(fd);
        return nullptr;
    }
    return MakeStreamTransport(fd, core);
}

TcpListener::~TcpListener() {
    if (fd >= 0) ::close(fd);
}

bool TcpListener::Open(const TcpEndpoint& endpoint, std::string* error) {
    sockaddr_storage addr{};
    socklen_t size = 0;
    if (endpoint.ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(endpoint.port);
        ::inet_pton(AF_INET6, endpoint.address.c_str(), &a->sin6_addr);
        size = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(endpoint.port);
        ::inet_pton(AF_INET, endpoint.address.c_str(), &a->sin_addr);
        size = sizeof *a;
    }
    fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        if (error) *error = "cannot listen on " + endpoint.Text() + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        fd = -1;
        return false;
    }
    bound = endpoint;
    sockaddr_storage got{};
    socklen_t gotSize = sizeof got;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&got), &gotSize) == 0)
        bound.port = got.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&got)->sin6_port)
                                               : ntohs(reinterpret_cast<sockaddr_in*>(&got)->sin_port);
    return true;
}

BrokerListener::Accept TcpListener::AcceptOne(SocketHandle* connection, std::string* peer) {
    for (;;) {
        sockaddr_storage from{};
        socklen_t size = sizeof from;
        const int c = ::accept4(fd, reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c >= 0) {
            TuneConnection(c);
            *connection = c;
            if (peer) *peer = AddressText(from);
            return BrokerListener::Accept::Connection;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED: continue;
        case EAGAIN: return BrokerListener::Accept::None;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM: return BrokerListener::Accept::OutOfHandles;
        default: return BrokerListener::Accept::Failed;
        }
    }
}

}  // namespace online
