#include "app/CommandLine.h"

#include <cstring>

#include "core/Log.h"
#include "engine/VornexEngine.h"
#include "platform/online/Online.h"
#include "platform/online/OnlineSocket.h"
#include "sound/SoundEngine.h"

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

// An argument as the one-line error shows it: quoted, with control characters (a
// newline above all) shown as '?' so that the error stays on its line.
std::string Quoted(const char* text) {
    std::string out = "'";
    for (const char* c = text; *c; ++c) out += static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F ? '?' : *c;
    return out + "'";
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
        if (std::strcmp(arg, "--no-draw") == 0) {
            line->noDraw = true;
            continue;
        }
        if (std::strcmp(arg, "--headless") == 0) {
            line->headless = true;
            continue;
        }
        if (std::strcmp(arg, "--no-sound") == 0) {
            line->noSound = true;
            continue;
        }
        if (std::strcmp(arg, "--paced") == 0) {
            line->paced = true;
            continue;
        }
        if (std::strcmp(arg, "--step-time") == 0) {
            line->stepTime = true;
            continue;
        }
        const bool isLog = std::strcmp(arg, "--log") == 0;
        const bool isFrames = std::strcmp(arg, "--frames") == 0;
        const bool isShot = std::strcmp(arg, "--screenshot") == 0;
        const bool isEvery = std::strcmp(arg, "--screenshot-every") == 0;
        const bool isBroker = std::strcmp(arg, "--broker") == 0;
        const bool isAudioOut = std::strcmp(arg, "--audio-out") == 0;
        if (!isLog && !isFrames && !isShot && !isEvery && !isBroker && !isAudioOut) {
            *error = "unknown option " + Quoted(arg);
            return false;
        }
        if (i + 1 >= argc || !argv[i + 1]) {
            *error = "option " + Quoted(arg) + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        if (isEvery) {
            if (!ParseFrames(value, &line->screenshotEvery)) {
                *error = "--screenshot-every wants a whole number from 1 to 2147483647, not " + Quoted(value);
                return false;
            }
            if (i + 1 >= argc || !argv[i + 1] || !argv[i + 1][0]) {
                *error = "option '--screenshot-every' needs a folder after the number";
                return false;
            }
            line->screenshotFolder = argv[++i];
        } else if (isShot) {
            if (!value[0]) {
                *error = "option '--screenshot' needs a file name";
                return false;
            }
            line->screenshotPath = value;
        } else if (isBroker) {
            std::string host;
            uint16_t port = 0;
            if (!online::ParseBrokerAddress(value, &host, &port)) {
                *error = "--broker wants HOST:PORT, not " + Quoted(value);
                return false;
            }
            line->brokerAddress = value;
        } else if (isAudioOut) {
            if (!value[0]) {
                *error = "option '--audio-out' needs a file name";
                return false;
            }
            line->audioOutPath = value;
        } else if (isLog) {
            if (!value[0]) {
                *error = "option '--log' needs a file name";
                return false;
            }
            line->logPath = value;
        } else if (!ParseFrames(value, &line->frames)) {
            *error = "--frames wants a whole number from 1 to 2147483647, not " + Quoted(value);
            return false;
        }
    }
    return true;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: %s [--log FILE] [--frames N] [--paced] [--step-time] [--screenshot FILE] [--screenshot-every N DIR]\n"
                 "       [--no-draw] [--broker HOST:PORT] [--headless] [--no-sound] [--audio-out FILE] [--help] [ARGUMENT...]\n"
                 "  --log FILE   write the log to FILE (\"-\" for standard error)\n"
                 "  --frames N   quit after N rendered frames (1 to 2147483647), as fast as they run\n"
                 "  --paced      with --frames, present at most one frame per 16 ms, as a run without it does\n"
                 "  --step-time  count every frame as exactly 1/15 s of game time (one game step), however\n"
                 "               long it takes, so that a run plays the same steps at any speed\n"
                 "  --screenshot FILE\n"
                 "               save the picture of the last frame as a PNG file\n"
                 "  --screenshot-every N DIR\n"
                 "               save every Nth frame as DIR/frame-NNNNNN.png\n"
                 "  --no-draw    record draws without rasterising them (no pictures)\n"
                 "  --broker HOST:PORT   play through the online broker at that address\n"
                 "  --headless   no window, input devices or sound device, even on a desktop\n"
                 "  --no-sound   mix sounds without playing them on the audio device\n"
                 "  --audio-out FILE\n"
                 "               write the mixed sound to FILE as a WAV file\n"
                 "  --help       print this help and exit\n"
                 "Other arguments go to the game (for example +connect_lobby ID).\n",
                 kProgram);
}

int ReportBadCommandLine(const std::string& error, std::FILE* err) {
    std::fprintf(err, "%s: %s\n", kProgram, error.c_str());
    PrintUsage(err);
    return kExitBadArguments;
}

void ApplyBrokerOption(const CommandLine& line) {
    if (line.brokerAddress) online::SetBrokerAddressOverride(line.brokerAddress);
}

void ApplyStepTimeOption(const CommandLine& line) {
    gVornexEngine.Timer().SetStepTime(line.stepTime);
    // The sound follows the game's steps too (MainWindow.cpp hands them over).
    if (gSoundEngine) gSoundEngine->SetSteppedOutput(line.stepTime);
}

LogSink* StartLogSink(const CommandLine& line, std::FILE* err, int* exitCode) {
    *exitCode = kExitSuccess;
    if (!line.logPath) return nullptr;
    LogSink* sink = CreateFileLogSink(line.logPath);
    if (sink && !sink->Start()) Log::DestroySink(&sink);
    if (!sink) *exitCode = ReportBadCommandLine("cannot open log file " + Quoted(line.logPath), err);
    return sink;
}

}  // namespace app
