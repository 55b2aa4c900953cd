#pragma once
// The broker program's serving loop. One thread (the caller of RunBrokerServer) polls
// the listening socket and every connection, hands whole frames to BrokerCore, runs the
// control commands, and writes the answers back.
//
// No client, hostile or stuck, may take the broker down or make it hold unbounded
// memory:
// - Input. A connection buffers at most one incomplete frame (up to wire::kMaxFrame).
//   The bytes all connections buffer share inputBudget: a frame whose announced length
//   does not fit waits, its connection unread, until other frames have been handled;
//   large frames wait in turn, and an eighth of the budget is kept from them for the
//   small ones, which never wait behind a large one. A frame still incomplete
//   partialFrameSeconds after its connection could send it closes the connection.
// - Output. Answers wait per connection as shared frames; a newer snapshot of a lobby
//   replaces an unsent older one. While more than pauseOutput bytes wait for a
//   connection, its own requests wait (it must read first). While more than
//   congestedOutput bytes wait for any one connection, or more than outputBudget for all
//   of them together, only connections with nothing waiting are served, one request a
//   round each; writing goes on. A connection that has taken no byte for stallSeconds
//   during such a pause is cut off as not reading, and so is one for which more than
//   connectionOutputLimit bytes wait.
// - Work. Each round reads at most a bounded amount from each connection, in turn.
// - Accepting. At the open-file limit, accepting pauses for acceptPauseMs.
// - Network (a TCP listener, optional). A connection first answers the challenge of
//   BrokerTcp.h within handshakeSeconds; until then nothing reaches the core. A stranger
//   without the secret must not keep players out, so a new connection is never turned
//   away for the handshakes under way: at most maxUnauthenticatedPerAddress of them per
//   peer address and maxUnauthenticated in all, and a new connection beyond either
//   drops the oldest handshake (of its own address first). A player answers within a
//   round trip, while the handshake is young; the client tries again, with back-off,
//   when it is dropped all the same. Past the handshake, at most maxNetworkConnections
//   network connections; a new one beyond them is closed at once. A control frame
//   closes a network connection: control stays on the Unix socket.
#include <cstddef>
#include <string>

#include "platform/online/OnlineSocket.h"

namespace online {

struct BrokerServerOptions {
    std::string socketFolder;
    std::string dataFolder;   // empty: memory only
    std::string schemaPath;
    int idleExitSeconds = 0;  // > 0: exit after this long without any connection

    size_t inputBudget = 64u << 20;
    double partialFrameSeconds = 10;
    size_t pauseOutput = 1u << 20;
    size_t congestedOutput = 16u << 20;
    size_t outputBudget = 128u << 20;
    size_t connectionOutputLimit = 64u << 20;
    double stallSeconds = 10;
    int acceptPauseMs = 250;

    bool listenTcp = false;
    TcpEndpoint tcpEndpoint;
    std::string secret;  // the handshake's shared secret
    double handshakeSeconds = 5;
    size_t maxNetworkConnections = 64;  // past the handshake
    // Handshakes under way. Each holds a descriptor: the total stays well below the usual
    // open-file limit of 1,024.
    size_t maxUnauthenticated = 512;
    size_t maxUnauthenticatedPerAddress = 256;
};

// Serves until a "stop" control command, SIGTERM/SIGINT, or the idle time-out.
// Returns the process exit code; reasons go to standard error.
int RunBrokerServer(const BrokerServerOptions& options);

}  // namespace online
