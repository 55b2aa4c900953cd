#pragma once
// "L01n.bin" files for the string tests, written by tests/support/l01n.py (python3) from
// a JSON description, never by the engine's code.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace l01ntest {

// The bytes of l01n.py's file for the JSON (its command line "<out> <json>"), or of
// "generate <count>" when json is empty; empty when python3 fails.
inline std::vector<uint8_t> L01nFile(const std::string& json, uint32_t generateCount = 0) {
    static int serial = 0;
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("l01n_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                                .string();
    std::string command = "python3 " PROJECT_SOURCE_ROOT "/tests/support/l01n.py ";
    if (json.empty()) {
        command += "generate " + out + " " + std::to_string(generateCount);
    } else {
        std::string quoted;
        for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += out + " '" + quoted + "'";
    }
    std::vector<uint8_t> bytes;
    if (std::system((command + " 2>/dev/null").c_str()) != 0) return bytes;
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(out);
    return bytes;
}

}  // namespace l01ntest
