// What the sample game's program tests share: the program, the broker's tool, Debian's
// Python (the checks need its numpy), the project folder the scenario is read from,
// reading files, and the lines of a log that tell what the program did.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

namespace sampletest {

const std::string kProgram = PROJECT_BINARY_ROOT "/app/quorvel2";
const std::string kBrokerTool = PROJECT_BINARY_ROOT "/tools/online_broker";
// The checks' interpreter: Debian's, where python3-numpy is installed, whatever python3
// comes first on the PATH the test was started with (scripts/test puts /usr/bin first).
const std::string kPython = "/usr/bin/python3";
// The project folder below the user folder, where the program reads its scenario.
const std::string kProjectFolder = "Brintavolque/Quorvel 2";

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// Runs a shell command; its standard output and its exit status (-1 when it did not exit).
inline std::string CommandOutput(const std::string& command, int* status) {
    std::string out;
    *status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        const int ended = pclose(pipe);
        *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    }
    return out;
}

// The log's lines that match the pattern, for a failure's message: what the program did,
// not the teardown its last lines hold.
inline std::string Story(const std::string& log, const std::regex& pattern) {
    std::string story, line;
    std::istringstream in(log);
    while (std::getline(in, line))
        if (std::regex_search(line, pattern)) story += line + "\n";
    return story;
}

}  // namespace sampletest
