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

// The bytes l01n.py writes for the JSON; empty when python3 fails.
inline std::vector<uint8_t> L01nFile(const std::string& json) {
    static int serial = 0;
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("l01n_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                                .string();
    std::string quoted;
    for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    if (std::system(("python3 " PROJECT_SOURCE_ROOT "/tests/support/l01n.py " + out + " '" + quoted + "'").c_str()))
        return {};
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(out);
    return bytes;
}

}  // namespace l01ntest
