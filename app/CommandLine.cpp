#include "app/CommandLine.h"

#include <cstring>

#include "core/Log.h"

namespace app {

namespace {

constexpr const char kProgram[] = "quorvel2";

// Decimal digits only, 1 to kMaxFrames.
bool ParseFrames(const char* text, uint32_t* frames) {
    if (!text[0]) return false;
    uint64_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (value > kMaxFrames) return false;
    }
    if (value == 0) return false;
    *frames = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ParseCommandLine(int argc, char* const* argv, CommandLine* line, std::string* error) {
    *line = CommandLine{};
    error->clear();
    static char emptyName[] = "";
    line->gameArguments.push_back(argc > 0 && argv[0] ? argv[0] : emptyName);
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (!arg) continue;
        if (std::strncmp(arg, "--", 2) != 0) {
            line->gameArguments.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--help") == 0) {
            line->help = true;
            return true;
        }
        const bool isLog = std::strcmp(arg, "--log") == 0;
        const bool isFrames = std::strcmp(arg, "--frames") == 0;
        if (!isLog && !isFrames) {
            *error = std::string("unknown option '") + arg + "'";
            return false;
        }
        if (i + 1 >= argc || !argv[i + 1]) {
            *error = std::string("option '") + arg + "' needs a value";
            return false;
        }
        const char* value = argv[++i];
        if (isLog) {
            if (!value[0]) {
                *error = "option '--log' needs a file name";
                return false;
            }
            line->logPath = value;
        } else if (!ParseFrames(value, &line->frames)) {
            *error = std::string("--frames wants a whole number from 1 to 2147483647, not '") + value + "'";
            return false;
        }
    }
    return true;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: %s [--log FILE] [--frames N] [--help] [ARGUMENT...]\n"
                 "  --log FILE   write the log to FILE (\"-\" for standard error)\n"
                 "  --frames N   quit after N rendered frames (1 to 2147483647)\n"
                 "  --help       print this help and exit\n"
                 "Other arguments go to the game (for example +connect_lobby ID).\n",
                 kProgram);
}

int ReportBadCommandLine(const std::string& error, std::FILE* err) {
    std::fprintf(err, "%s: %s\n", kProgram, error.c_str());
    PrintUsage(err);
    return kExitBadArguments;
}

LogSink* StartLogSink(const CommandLine& line, std::FILE* err, int* exitCode) {
    *exitCode = kExitSuccess;
    if (!line.logPath) return nullptr;
    LogSink* sink = CreateFileLogSink(line.logPath);
    if (sink && !sink->Start()) Log::DestroySink(&sink);
    if (!sink) *exitCode = ReportBadCommandLine(std::string("cannot open log file '") + line.logPath + "'", err);
    return sink;
}

}  // namespace app
