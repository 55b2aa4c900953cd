#pragma once
// Shell commands run by tests to make their data and check it with outside tools.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace shelltest {

// Whether a shell command succeeds (its output discarded).
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// What a shell command prints, without its trailing line ends (empty when it cannot run).
inline std::string ShellOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace shelltest
