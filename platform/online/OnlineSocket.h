#pragma once
// Unix-domain socket transport between online clients and the broker program, and the
// broker program's serving loop. The socket is "broker.sock" in the folder named by
// the client configuration (ONLINE_BROKER_DIR). Only local sockets are used.
#include <memory>
#include <string>

namespace online {

class ClientCore;
class Transport;

std::string ExecutableFolder();
std::string BrokerSocketPath(const std::string& folder);

// Connects; a reader thread hands every frame to core->OnFrame and reports the end of
// the connection with core->OnDisconnected. Null (with the reason) when nobody listens.
std::unique_ptr<Transport> ConnectSocketTransport(const std::string& folder, ClientCore* core, std::string* error);

struct BrokerServerOptions {
    std::string socketFolder;
    std::string dataFolder;       // empty: memory only
    std::string schemaPath;
    int idleExitSeconds = 0;      // > 0: exit after this long without any connection
};

// Serves until a "stop" control command, SIGTERM/SIGINT, or the idle time-out.
// Returns the process exit code; reasons go to standard error.
int RunBrokerServer(const BrokerServerOptions& options);

// Sends one control command to a running broker (a short-lived connection).
bool ControlBroker(const std::string& folder, const std::string& command, const std::string& argument,
                   std::string* answer, std::string* error);

}  // namespace online
