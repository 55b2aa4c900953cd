// Arbitrary argument vectors (the input split at its NUL bytes) through the option
// parser: a failed parse says why on one line; a successful one keeps, in order,
// exactly the arguments that are neither options nor their values, and a frame count
// in range.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const std::vector<std::vector<std::string>> seeds = {
        {"q", "--log", "-", "--frames", "300"}, {"q", "+connect_lobby", "1", "--help"}, {"q", "--frames"},
        {"q", "--screenshot", "a.png", "--screenshot-every", "5", "d", "--no-draw", "x"},
        {"q", "--broker", "127.0.0.1:4000", "y"}, {"q", "--step-time", "z", "--frames", "9"}};
    for (const auto& words : seeds) {
        std::string joined;
        for (const std::string& w : words) joined += (joined.empty() ? "" : std::string(1, '\0')) + w;
        add(reinterpret_cast<const uint8_t*>(joined.data()), joined.size());
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i) data[i] ? words.back().push_back(char(data[i])) : words.emplace_back().clear();
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    app::CommandLine line;
    std::string error;
    if (!app::ParseCommandLine(int(argv.size()), argv.data(), &line, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) std::abort();  // one line
        return 0;
    }
    if (line.frames > app::kMaxFrames || line.gameArguments.empty() || line.gameArguments[0] != argv[0]) std::abort();
    if (line.help) return 0;
    size_t kept = 1;
    for (size_t i = 1; i < argv.size(); ++i) {
        if (!std::strcmp(argv[i], "--log") || !std::strcmp(argv[i], "--frames") || !std::strcmp(argv[i], "--screenshot") ||
            !std::strcmp(argv[i], "--broker") || !std::strcmp(argv[i], "--audio-out"))
            ++i;
        else if (!std::strcmp(argv[i], "--screenshot-every"))
            i += 2;
        else if (!std::strcmp(argv[i], "--no-draw") || !std::strcmp(argv[i], "--headless") ||
                 !std::strcmp(argv[i], "--no-sound") || !std::strcmp(argv[i], "--paced") ||
                 !std::strcmp(argv[i], "--step-time"))
            continue;
        else if (kept >= line.gameArguments.size() || line.gameArguments[kept++] != argv[i])
            std::abort();
    }
    if (kept != line.gameArguments.size()) std::abort();
    return 0;
}
