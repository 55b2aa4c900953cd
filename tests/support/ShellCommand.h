#pragma once
// Shell commands run by tests to make their data and check it with outside tools.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace shelltest {

// Whether a shell command succeeds (its output discarded).
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// What a shell command prints, without its trailing line ends (empty when it cannot run).
// Any exit code is the command's own answer (tools such as `compare` end with 1 on a
// difference); a shell killed by a signal fails the test.
inline std::string ShellOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        const int status = pclose(p);
        if (status == -1 || !WIFEXITED(status)) ADD_FAILURE() << "the shell of `" << command << "` did not exit normally";
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// The bytes tests/support/proplist.py writes for one of its commands ("scene",
// "envelope", ...) from a JSON description; empty, with a test failure, when it fails.
inline std::vector<uint8_t> PropList(const std::string& command, const std::string& json) {
    static int serial = 0;
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("proplist_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                                .string();
    std::string quoted;
    for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::vector<uint8_t> bytes;
    if (!Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py " + command + " " + out + " '" + quoted +
               "'")) {
        ADD_FAILURE() << "proplist.py " << command << " failed on " << json;
        return bytes;
    }
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(out);
    return bytes;
}

}  // namespace shelltest
