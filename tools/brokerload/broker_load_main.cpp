// broker_load: how far one online broker goes. Runs steps of simulated players (see
// LoadPlayers.h) against the broker program over TCP on 127.0.0.1 and prints one table
// row per step (LoadReport.h); stops after the first step that misses the goals.
//
//   broker_load [--steps 100,500,1000,2000,5000,10000] [--seconds 90] [--threads 4]
//               [--seed 1] [--work FOLDER] [--broker-cpus LIST]
//               [--broker ADDRESS:PORT --secret-file FILE]
//
// Without --broker, each step starts its own `online_broker serve` (the program beside
// this one) in FOLDER/step-N with a TCP listener and a new secret, pinned to the CPUs of
// --broker-cpus when given, measures its CPU time, resident memory and database, and
// stops it: a broker that does not end cleanly fails the step. The table also goes to
// FOLDER/table.csv, and load_chart.py (beside this program) draws FOLDER/chart.png.
#include "platform/online/OnlinePoller.h"
#include "platform/online/OnlineSocket.h"
#include "platform/os/ChildProcess.h"
#include "platform/os/File.h"
#include "tools/brokerload/LoadPlayers.h"
#include "tools/brokerload/LoadReport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace brokerload;

namespace {

struct Options {
    std::vector<int> steps = {100, 500, 1000, 2000, 5000, 10000};
    double seconds = 90;
    int threads = 4;
    uint32_t seed = 1;
    std::string work;
    std::string cpus;
    std::string broker;
    std::string secretFile;
};

int PrintUsage() {
    std::fprintf(stderr,
                 "usage: broker_load [--steps N,N,...] [--seconds S] [--threads T] [--seed S] [--work FOLDER]\n"
                 "                   [--broker-cpus LIST] [--broker ADDRESS:PORT --secret-file FILE]\n"
                 "A step fails on any error, a broker that does not end cleanly, a sign-in p99 above %.0f ms,\n"
                 "a frame relay p99 above %.0f ms, frames lost beyond what the drops explain, or more than\n"
                 "%.0f KB of broker memory per connection.\n",
                 kGoalSignInP99Ms, kGoalFrameP99Ms, kGoalKbPerConnection);
    return 2;
}

bool ParseSteps(const std::string& text, std::vector<int>* steps) {
    steps->clear();
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string part = text.substr(at, comma - at);
        char* end = nullptr;
        const long n = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || n < 1 || n > 1000000) return false;
        steps->push_back(static_cast<int>(n));
        at = comma + 1;
    }
    return !steps->empty();
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; i += 2) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[i + 1];
        char* end = nullptr;
        if (opt == "--steps") {
            if (!ParseSteps(value, &o->steps)) return false;
        } else if (opt == "--seconds") {
            o->seconds = std::strtod(value.c_str(), &end);
            if (*end || !(o->seconds >= 1 && o->seconds <= 86400)) return false;
        } else if (opt == "--threads") {
            o->threads = static_cast<int>(std::strtol(value.c_str(), &end, 10));
            if (*end || o->threads < 1 || o->threads > 64) return false;
        } else if (opt == "--seed") {
            o->seed = static_cast<uint32_t>(std::strtoul(value.c_str(), &end, 10));
            if (*end) return false;
        } else if (opt == "--work") {
            o->work = value;
        } else if (opt == "--broker-cpus") {
            o->cpus = value;
        } else if (opt == "--broker") {
            o->broker = value;
        } else if (opt == "--secret-file") {
            o->secretFile = value;
        } else {
            return false;
        }
    }
    return o->broker.empty() == o->secretFile.empty();
}

// A broker started for one step.
struct OwnBroker {
    os::ChildProcess process;
    os::ProcessUsage idle;
    std::string folder;
};

uint64_t FileSize(const std::string& path) {
    std::FILE* f = os::OpenFile(path.c_str(), "rb");
    if (!f) return 0;
    const int64_t size = os::GetOpenFileSize(f);
    os::CloseFile(f);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

// Into a folder only its owner reads.
bool WriteSecret(const std::string& path, const void* data, size_t size) {
    std::FILE* f = os::OpenFile(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(data, 1, size, f) == size && os::FlushFileToDisk(f);
    os::CloseFile(f);
    return written;
}

bool MakeFolder(const std::string& path) {
    online::MakePrivateFolder(path);
    return os::IsDirectory(path.c_str());
}

// The broker serves a quarter more network players than the step has: a player who
// dropped comes back while the broker may not have seen its old connection end.
bool StartBroker(const Options& o, int players, OwnBroker* b, LoadPlan* plan, std::string* error) {
    uint8_t secret[32];
    if (!online::SystemRandom(secret, sizeof secret)) {
        *error = "no random bytes for a secret";
        return false;
    }
    plan->secret.assign(reinterpret_cast<const char*>(secret), sizeof secret);
    const std::string secretPath = b->folder + "/secret";
    if (!WriteSecret(secretPath, secret, sizeof secret)) {
        *error = "cannot write " + secretPath;
        return false;
    }
    const std::vector<std::string> argv = {online::ExecutableFolder() + "/online_broker", "serve", "--dir", b->folder,
                                           "--listen", "127.0.0.1:0", "--secret-file", secretPath,
                                           "--max-network-players", std::to_string(players + players / 4 + 16)};
    if (!b->process.Start(argv, b->folder + "/broker.log", o.cpus, error)) return false;
    std::string line, host;
    uint16_t port = 0;
    const std::string prefix = "online_broker: listening on ";
    if (!b->process.ReadLine(&line, 10000) || line.rfind(prefix, 0) != 0 ||
        !online::ParseBrokerAddress(line.substr(prefix.size()), &host, &port) ||
        !online::ResolveTcpAddress(host, port, &plan->broker, error)) {
        *error = "the broker did not start (see " + b->folder + "/broker.log)";
        return false;
    }
    b->process.ReadUsage(&b->idle);
    std::fprintf(stderr, "broker_load: %d players; broker pid %d on %s:%u\n", players, b->process.Pid(), host.c_str(), port);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o)) return PrintUsage();
    LoadPlan external;
    if (!o.broker.empty()) {
        std::string error;
        std::string host;
        uint16_t port = 0;
        if (!online::ParseBrokerAddress(o.broker, &host, &port)) {
            std::fprintf(stderr, "broker_load: --broker %s is not HOST:PORT\n", o.broker.c_str());
            return 2;
        }
        if (!online::ResolveTcpAddress(host, port, &external.broker, &error) ||
            !online::ReadSecretFile(o.secretFile, &external.secret, &error)) {
            std::fprintf(stderr, "broker_load: %s\n", error.c_str());
            return 2;
        }
    }

    if (o.work.empty()) o.work = "/tmp/broker_load." + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    if (!MakeFolder(o.work)) {
        std::fprintf(stderr, "broker_load: cannot make %s\n", o.work.c_str());
        return 2;
    }
    uint64_t before = 0, after = 0;
    if (os::RaiseOpenFileLimit(&before, &after))
        std::printf("broker_load: open-file limit raised to the hard limit, %llu (it was %llu), for the players and the broker\n",
                    static_cast<unsigned long long>(after), static_cast<unsigned long long>(before));
    else
        std::printf("broker_load: open-file limit stays %llu (the hard limit allows no more)\n",
                    static_cast<unsigned long long>(after));
    const int largest = *std::max_element(o.steps.begin(), o.steps.end());
    if (static_cast<uint64_t>(largest) + 64 > after)
        std::printf("broker_load: %d players need more than the %llu open files allowed\n", largest,
                    static_cast<unsigned long long>(after));

    const std::string csvPath = o.work + "/table.csv";
    std::ofstream csv(csvPath);
    csv << CsvLine(Columns()) << "\n";
    std::printf("%s\n", TableLine(Columns()).c_str());
    std::fflush(stdout);
    bool allPassed = true;
    uint32_t nextAccount = 1;
    for (const int players : o.steps) {
        LoadPlan plan = external;
        plan.players = players;
        plan.seconds = o.seconds;
        plan.threads = o.threads;
        plan.seed = o.seed;
        plan.firstAccount = nextAccount;
        nextAccount += static_cast<uint32_t>(players);
        OwnBroker own;
        BrokerFigures figures;
        if (o.broker.empty()) {
            own.folder = o.work + "/step-" + std::to_string(players);
            std::string error;
            if (!MakeFolder(own.folder) || !StartBroker(o, players, &own, &plan, &error)) {
                std::fprintf(stderr, "broker_load: %s\n", error.empty() ? ("cannot make " + own.folder).c_str() : error.c_str());
                return 1;
            }
            figures.known = true;
        }
        LoadGauges gauges;
        int peakSignedIn = 0, peakPaired = 0;
        uint64_t peakResident = own.idle.residentBytes;
        const auto started = std::chrono::steady_clock::now();
        LoadResult result = RunPlayers(plan, gauges, [&] {
            peakSignedIn = std::max(peakSignedIn, gauges.signedIn.load());
            peakPaired = std::max(peakPaired, gauges.paired.load());
            os::ProcessUsage now;
            if (figures.known && own.process.ReadUsage(&now)) peakResident = std::max(peakResident, now.residentBytes);
        });
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (figures.known) {
            os::ProcessUsage end;
            if (own.process.ReadUsage(&end)) {
                figures.cpuShare = (end.cpuSeconds - own.idle.cpuSeconds) / wall;
                peakResident = std::max(peakResident, end.residentBytes);
            }
            figures.residentMb = static_cast<double>(peakResident) / (1 << 20);
            // Per connection the broker held at the peak (none held: as if one).
            figures.kbPerConnection = static_cast<double>(peakResident - own.idle.residentBytes) / 1024.0 /
                                      std::max(peakSignedIn, 1);
            const std::string db = own.folder + "/data/broker.db";
            figures.databaseMb = static_cast<double>(FileSize(db) + FileSize(db + "-wal")) / (1 << 20);
            figures.ended = own.process.Stop(30000);
        }
        const StepRow row = MakeRow(players, o.seconds, result, peakSignedIn, peakPaired / 2, figures);
        std::printf("%s\n", TableLine(row.cells).c_str());
        std::printf("  %llu dropped without a goodbye and came back; frames sent %llu, received %llu, lost %llu "
                    "(%llu may be lost: sent in the last second, or around a drop)\n",
                    static_cast<unsigned long long>(result.drops), static_cast<unsigned long long>(result.framesSent),
                    static_cast<unsigned long long>(result.framesReceived),
                    static_cast<unsigned long long>(result.framesSent - std::min(result.framesSent, result.framesReceived)),
                    static_cast<unsigned long long>(result.framesExcused));
        for (int k = 0; k < kErrorKinds; ++k)
            if (result.errors[k]) std::printf("  %llu x %s\n", static_cast<unsigned long long>(result.errors[k]), ErrorName(ErrorKind(k)));
        if (!figures.ended.empty()) std::printf("  broker: %s\n", figures.ended.c_str());
        std::fflush(stdout);
        csv << CsvLine(row.cells) << "\n";
        csv.flush();
        if (!row.passed) {
            allPassed = false;
            break;
        }
    }
    csv.close();
    const std::string chart = o.work + "/chart.png";
    // Debian's interpreter, which has Debian's matplotlib.
    const std::string command = "/usr/bin/python3 '" + online::ExecutableFolder() + "/load_chart.py' '" + csvPath + "' '" + chart + "'";
    if (std::system(command.c_str()) == 0) std::printf("broker_load: table %s, chart %s\n", csvPath.c_str(), chart.c_str());
    else std::printf("broker_load: table %s; the chart could not be drawn\n", csvPath.c_str());
    return allPassed ? 0 : 1;
}
