#pragma once
// Socket transports between online clients and the broker program: a Unix-domain socket
// "broker.sock" in the folder named by the client configuration (ONLINE_BROKER_DIR), and
// TCP for players on other machines of a local network (ONLINE_BROKER_ADDRESS), where the
// broker first proves that the client knows a shared secret: it sends a challenge of
// kChallengeBytes random bytes, and the client's first frame must be
// HMAC-SHA-256 of challenge || kHandshakeLabel, keyed by a hash of the secret. TCP traffic
// is not encrypted.
//
// The client side is a Transport with its own reader thread. The server side is a set of
// plain calls on non-blocking sockets for the broker program (tools/broker), whose one
// thread polls them; the program's policy (buffers, time-outs) lives there, the
// operating-system calls here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace online {

class ClientCore;
class Transport;

std::string ExecutableFolder();
std::string BrokerSocketPath(const std::string& folder);

// Connects; a reader thread hands every frame to core->OnFrame and reports the end of
// the connection with core->OnDisconnected. Null (with the reason) when nobody listens.
std::unique_ptr<Transport> ConnectSocketTransport(const std::string& folder, ClientCore* core, std::string* error);
// The same reader and sender over a connected stream socket, which it takes over.
std::unique_ptr<Transport> MakeStreamTransport(int connected, ClientCore* core);

// ---- TCP ----

constexpr size_t kChallengeBytes = 32;
constexpr size_t kAnswerBytes = 32;
constexpr size_t kMinSecretBytes = 16;
constexpr size_t kMaxSecretBytes = 4096;
constexpr size_t kMinSecretByteValues = 8;  // different byte values a secret holds at least
constexpr const char* kHandshakeLabel = "online-broker-tcp-1";
constexpr int kTcpConnectMs = 5000;  // connecting and the handshake, each
// Signing in over TCP tries again, after kTcpRetryFirstMs doubling up to kTcpRetryMostMs
// (each less up to a half at random), while a try fails in a way a busy broker can cause,
// until kTcpSignInMs have passed.
constexpr int kTcpSignInMs = 10000;
constexpr int kTcpRetryFirstMs = 50;
constexpr int kTcpRetryMostMs = 1000;

// HMAC-SHA-256(key, challenge || kHandshakeLabel), the key being SHA-256 of the secret's
// length (8 bytes, little-endian) and bytes. *ok (when given) is false, and the answer
// all zero, when the hashing failed: the broker then refuses the handshake.
std::array<uint8_t, kAnswerBytes> HandshakeAnswer(const std::string& secret, const uint8_t* challenge, bool* ok = nullptr);
bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size);
// Bytes from the system's random source; false when it cannot give them.
bool SystemRandom(void* out, size_t size);
// The secret of a file, less one trailing newline: false (with the reason) when it cannot
// be read, its size is outside kMinSecretBytes..kMaxSecretBytes, or it holds fewer than
// kMinSecretByteValues different byte values.
bool ReadSecretFile(const std::string& path, std::string* secret, std::string* error);

// A listening address: a numeric IPv4 address or a bracketed IPv6 one, and a port.
struct TcpEndpoint {
    std::string address = "127.0.0.1";
    uint16_t port = 0;
    bool ipv6 = false;
    std::string Text() const;  // "ADDRESS:PORT", IPv6 bracketed
};
// "[ADDRESS:]PORT" (ADDRESS 127.0.0.1 when omitted); false when malformed.
bool ParseListenAddress(const std::string& text, TcpEndpoint* out);
// A client's "HOST:PORT" (HOST a name, a numeric IPv4 address or a bracketed IPv6 one);
// false when malformed.
bool ParseBrokerAddress(const std::string& text, std::string* host, uint16_t* port);

// Connects to a broker's TCP listener within kTcpConnectMs (and limitMs when not 0),
// waits as long for its challenge, answers it with
// the secret of secretFile, then runs like the Unix transport. Null with the reason;
// *worthRetrying tells whether the failure may pass (the broker dropped the connection
// or did not take it in time) or not (a malformed address, no secret, nobody listening).
std::unique_ptr<Transport> ConnectTcpTransport(const std::string& address, const std::string& secretFile, ClientCore* core,
                                               std::string* error, bool* worthRetrying = nullptr, int64_t limitMs = 0);

// ---- Server side and short control exchanges ----

using SocketHandle = int;  // -1: none

class BrokerListener {
public:
    BrokerListener() = default;
    ~BrokerListener();  // stops listening and removes the socket file
    BrokerListener(const BrokerListener&) = delete;
    BrokerListener& operator=(const BrokerListener&) = delete;

    // Listens on folder/broker.sock: bound under a temporary name first, then renamed
    // into place, so a client that sees the socket file can always connect to it.
    bool Open(const std::string& folder, std::string* error);

    enum class Accept { Connection, None, OutOfHandles, Failed };
    // A pending connection, non-blocking. OutOfHandles: the process or the system is at
    // its open-file limit; the connection stays pending and the listener stays readable.
    Accept AcceptOne(SocketHandle* connection);
    SocketHandle Handle() const { return fd; }

private:
    int fd = -1;
    std::string path;
};

// The broker's TCP listener. Accepted connections are non-blocking, with TCP_NODELAY and
// keep-alive probes (idle 10 s, then every 5 s, 3 probes).
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // False with "cannot listen on ADDRESS:PORT: <reason>".
    bool Open(const TcpEndpoint& endpoint, std::string* error);
    // The address and the port actually bound (the system's choice for port 0).
    const TcpEndpoint& Bound() const { return bound; }
    BrokerListener::Accept AcceptOne(SocketHandle* connection, std::string* peer);
    SocketHandle Handle() const { return fd; }

private:
    int fd = -1;
    TcpEndpoint bound;
};

// Transfers on a connection: the bytes moved; 0 when a non-blocking socket would block;
// -1 when the connection ended or failed.
long SocketReceive(SocketHandle socket, void* buffer, size_t size);
long SocketSend(SocketHandle socket, const void* data, size_t size);
void SocketClose(SocketHandle socket);
// Ends the sending half: what was sent still arrives, followed by the end of the stream.
void SocketShutdownSend(SocketHandle socket);

struct PollItem {
    SocketHandle handle = -1;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;  // also set at the end of the stream and on errors
    bool writable = false;
};
// Waits up to timeoutMs for a wanted event. False on a failure; an interruption by a
// signal is no failure (nothing is marked).
bool PollSockets(std::vector<PollItem>& items, int timeoutMs);

// A blocking connection to the broker in folder, for short exchanges. -1 (with the
// reason) when nobody listens.
SocketHandle ConnectBroker(const std::string& folder, std::string* error);
bool SocketSendAll(SocketHandle socket, const void* data, size_t size);  // blocking socket

// Creates the broker's data folder, readable by its owner only (one level; an existing
// folder is left as it is).
void MakePrivateFolder(const std::string& path);

// SIGTERM and SIGINT set a flag that StopSignalled reports; SIGPIPE is ignored.
void CatchStopSignals();
bool StopSignalled();

}  // namespace online
