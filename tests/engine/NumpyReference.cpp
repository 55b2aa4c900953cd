#include "engine/NumpyReference.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
// Debian's interpreter, which python3-numpy installs into (a python3 earlier on the
// PATH may be another one).
constexpr const char* kPython = "/usr/bin/python3";
}  // namespace

std::vector<std::string> RunNumpyReference(const char* script, const std::string& input) {
    static int counter = 0;
    const std::filesystem::path in = std::filesystem::temp_directory_path() /
                                     ("numpy_ref_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::ofstream(in) << input;
    const std::string command = std::string(kPython) + " " + PROJECT_SOURCE_ROOT "/tests/engine/" + script + " < " +
                                in.string() + " 2>&1";
    std::vector<std::string> lines;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "cannot run " << command;
        return lines;
    }
    char buffer[4096];
    std::string all;
    while (std::fgets(buffer, sizeof(buffer), p)) all += buffer;
    const int status = pclose(p);
    std::filesystem::remove(in);
    if (status != 0) {
        ADD_FAILURE() << command << " failed (python3-numpy installed by scripts/setup?):\n" << all;
        return lines;
    }
    std::istringstream s(all);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

std::string FloatBits(float value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", std::bit_cast<uint32_t>(value));
    return text;
}

float BitsToFloat(const std::string& hex) {
    return std::bit_cast<float>(static_cast<uint32_t>(std::stoul(hex, nullptr, 16)));
}

std::vector<float> ParseFloats(const std::string& line) {
    std::vector<float> out;
    std::istringstream s(line);
    for (std::string word; s >> word;) out.push_back(BitsToFloat(word));
    return out;
}
