// Arbitrary argument vectors through the program's option parser: the input's NUL
// bytes split it into arguments. A parse that succeeds keeps every argument that is
// not an option or an option's value, and a frame count in range.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const char* seeds[] = {
        "quorvel2\0--log\0-\0--frames\0300",
        "q\0+connect_lobby\0123\0--frames\0002147483647",
        "q\0--help\0--bogus",
        "q\0--frames",
        "q\0--log\0\0x",
    };
    const size_t sizes[] = {30, 44, 18, 10, 11};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i)
        add(reinterpret_cast<const uint8_t*>(seeds[i]), sizes[i]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    app::CommandLine line;
    std::string error;
    if (!app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (!error.empty() || line.gameArguments.empty() || line.gameArguments[0] != argv[0]) std::abort();
    if (line.frames > app::kMaxFrames) std::abort();
    if (line.help) return 0;
    size_t kept = 1;
    for (size_t i = 1; i < argv.size(); ++i) {
        if (std::strcmp(argv[i], "--log") == 0 || std::strcmp(argv[i], "--frames") == 0) {
            ++i;
        } else {
            if (kept >= line.gameArguments.size() || line.gameArguments[kept] != argv[i]) std::abort();
            ++kept;
        }
    }
    if (kept != line.gameArguments.size()) std::abort();
    return 0;
}
