#pragma once
// Unix-domain socket transport between online clients and the broker program. The socket
// is "broker.sock" in the folder named by the client configuration (ONLINE_BROKER_DIR).
// Only local sockets are used.
//
// The client side is a Transport with its own reader thread. The server side is a set of
// plain calls on non-blocking sockets for the broker program (tools/broker), whose one
// thread polls them; the program's policy (buffers, time-outs) lives there, the
// operating-system calls here.
#include <cstddef>
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

// Transfers on a connection: the bytes moved; 0 when a non-blocking socket would block;
// -1 when the connection ended or failed.
long SocketReceive(SocketHandle socket, void* buffer, size_t size);
long SocketSend(SocketHandle socket, const void* data, size_t size);
void SocketClose(SocketHandle socket);

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
