#pragma once
// The program's command line:
//   --log FILE   attach a log sink writing to FILE ("-": standard error)
//   --frames N   quit after N rendered frames, 1 to 2^31 - 1; such a run is not paced
//   --paced      pace a --frames run too (a run without --frames always is)
//   --step-time  every frame lasts exactly one game step (1/15 s) on the frame timer's
//                clock, however long it really takes; the mixer mixes exactly the game's
//                steps (nothing is heard; --audio-out's file is on the game's clock)
//   --screenshot FILE          save the back buffer after the last frame as a PNG
//   --screenshot-every N DIR   save every Nth frame's back buffer as DIR/frame-NNNNNN.png
//   --no-draw    use the recording graphics device (draws nothing, writes no picture)
//   --broker HOST:PORT   play through the online broker at that network address
//   --headless   no window, keyboard, mouse, controller or sound device even where a
//                display is present (the only way without one)
//   --no-sound   no audio device: sounds are mixed but not heard
//   --audio-out FILE     write what the mixer produces to FILE as a WAV file
//   --help       print the usage to standard output and exit with 0
// Every other argument that does not start with "--" is kept, in order, for the Game
// (Game::Init's argument vector, after the program name).
//
// A bad command line (unknown option, missing or non-numeric value, N out of range,
// a log file that cannot be opened) prints one "quorvel2: ..." line and the usage to
// standard error and ends the program with kExitBadArguments before anything starts.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class LogSink;

namespace app {

constexpr int kExitSuccess = 0;
constexpr int kExitStartFailed = 1;  // the window, the engine, the start-up scripts or a scene did not load
constexpr int kExitBadArguments = 2;
constexpr int kExitAlreadyRunning = 3;  // another copy runs (and was asked to come to the front)
constexpr int kExitScriptErrors = 4;    // the run went on to its end, but its scripts reported errors
constexpr uint32_t kMaxFrames = 0x7FFFFFFF;

struct CommandLine {
    const char* logPath = nullptr;  // null: no --log
    uint32_t frames = 0;            // 0: run until the Game quits
    bool paced = false;             // --paced
    bool stepTime = false;          // --step-time
    const char* screenshotPath = nullptr;  // null: no --screenshot
    uint32_t screenshotEvery = 0;          // 0: no --screenshot-every
    const char* screenshotFolder = nullptr;
    bool noDraw = false;
    const char* brokerAddress = nullptr;  // null: no --broker
    bool headless = false;
    bool noSound = false;
    const char* audioOutPath = nullptr;  // null: no --audio-out
    bool help = false;
    // The program name, then the positional arguments; pointers into argv.
    std::vector<char*> gameArguments;
};

// Reads argv[1..argc-1]. False with the error line (without the "quorvel2: " prefix and
// newline) when the command line is bad; --help stops the parse and succeeds.
bool ParseCommandLine(int argc, char* const* argv, CommandLine* line, std::string* error);

void PrintUsage(std::FILE* out);
// True when frames are presented at most once per present interval: always without
// --frames (a run nobody limits must not spin), with --frames only when --paced.
inline bool IsPaced(const CommandLine& line) { return line.frames == 0 || line.paced; }
// "quorvel2: <error>" and the usage; returns kExitBadArguments.
int ReportBadCommandLine(const std::string& error, std::FILE* err);

// Applies --broker to the online services' configuration (before the engine starts).
void ApplyBrokerOption(const CommandLine& line);
// Applies --step-time to the engine's frame timer and the sound's output (after start-up,
// before the engine starts).
void ApplyStepTimeOption(const CommandLine& line);

// The started --log sink (null without --log). A file that cannot be opened is a bad
// command line: reported on err, *exitCode set to kExitBadArguments, null returned.
LogSink* StartLogSink(const CommandLine& line, std::FILE* err, int* exitCode);

}  // namespace app
