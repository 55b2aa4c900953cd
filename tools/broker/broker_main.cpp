// online_broker: the local stand-in for the online services.
//
//   online_broker serve [--dir FOLDER] [--data FOLDER] [--schema FILE] [--idle-exit SECONDS]
//                       [--listen [ADDRESS:]PORT --secret-file FILE [--max-network-players N]]
//       Listens on FOLDER/broker.sock (default: $ONLINE_BROKER_DIR); durable state in
//       --data (default FOLDER/data); the schema defaults to online_schema.txt beside
//       the program. --listen also accepts players over TCP (ADDRESS 127.0.0.1 when
//       omitted, 0.0.0.0 for every interface, port 0 for the system's choice) who know
//       the secret of FILE (16 to 4,096 bytes), at most N of them at once (default 64).
//   online_broker ctl [--dir FOLDER] seed FILE | stats ACCOUNT | leaderboard NAME |
//       file ACCOUNT/NAME | stop
//       Sends one control command to a running broker and prints its answer.
#include "platform/online/OnlineSocket.h"
#include "tools/broker/BrokerControl.h"
#include "tools/broker/BrokerServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: online_broker serve [--dir D] [--data D] [--schema F] [--idle-exit S] [--listen [ADDRESS:]PORT --secret-file F [--max-network-players N]]\n"
                 "       online_broker ctl [--dir D] seed FILE|stats ACCOUNT|leaderboard NAME|file ACCOUNT/NAME|stop\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    const char* env = std::getenv("ONLINE_BROKER_DIR");
    std::string dir = env ? env : "";
    online::BrokerServerOptions options;
    options.schemaPath = online::ExecutableFolder() + "/online_schema.txt";
    std::string listen, secretFile, maxPlayers;
    int i = 2;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--dir") dir = argv[i + 1];
        else if (opt == "--data") options.dataFolder = argv[i + 1];
        else if (opt == "--schema") options.schemaPath = argv[i + 1];
        else if (opt == "--idle-exit") options.idleExitSeconds = std::atoi(argv[i + 1]);
        else if (opt == "--listen") listen = argv[i + 1];
        else if (opt == "--secret-file") secretFile = argv[i + 1];
        else if (opt == "--max-network-players") maxPlayers = argv[i + 1];
        else return Usage();
    }
    if (dir.empty()) return Usage();
    if (mode == "serve") {
        if (!maxPlayers.empty() && listen.empty()) {
            std::fprintf(stderr, "online_broker: --max-network-players limits the TCP listener: it needs --listen\n");
            return 2;
        }
        if (!listen.empty()) {
            if (!online::ParseListenAddress(listen, &options.tcpEndpoint)) {
                std::fprintf(stderr, "online_broker: --listen %s is not [ADDRESS:]PORT with a numeric address\n", listen.c_str());
                return 2;
            }
            if (secretFile.empty()) {
                std::fprintf(stderr, "online_broker: --listen needs --secret-file\n");
                return 2;
            }
            std::string error;
            if (!online::ReadSecretFile(secretFile, &options.secret, &error)) {
                std::fprintf(stderr, "online_broker: %s\n", error.c_str());
                return 2;
            }
            if (!maxPlayers.empty()) {
                char* end = nullptr;
                const unsigned long n = std::strtoul(maxPlayers.c_str(), &end, 10);
                if (*end || maxPlayers[0] == '-' || n < 1 || n > 1000000) {
                    std::fprintf(stderr, "online_broker: --max-network-players %s is not a number from 1 to 1000000\n", maxPlayers.c_str());
                    return 2;
                }
                options.maxNetworkConnections = n;
            }
            options.listenTcp = true;
        }
        options.socketFolder = dir;
        if (options.dataFolder.empty()) options.dataFolder = dir + "/data";
        return online::RunBrokerServer(options);
    }
    if (mode != "ctl" || i >= argc) return Usage();
    const std::string command = argv[i];
    std::string argument = i + 1 < argc ? argv[i + 1] : "";
    if (command == "seed") {
        std::ifstream f(argument, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "online_broker: cannot read %s\n", argument.c_str());
            return 1;
        }
        std::ostringstream text;
        text << f.rdbuf();
        argument = text.str();
    }
    std::string answer, error;
    const bool ok = online::ControlBroker(dir, command, argument, &answer, &error);
    if (!error.empty()) std::fprintf(stderr, "online_broker: %s\n", error.c_str());
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    if (!answer.empty() && answer.back() != '\n' && command != "file") std::fputc('\n', stdout);
    return ok ? 0 : 1;
}
