#pragma once
// Shared pieces of the font tests: files written by tests/support/binfont.py into a
// scratch folder mounted as "common", and a font resource loaded from bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/fs/FileSystem.h"
#include "render/resources/ResourceFont.h"
#include "support/ShellCommand.h"

namespace fonttest {

inline std::string Quote(const std::string& json) {
    std::string quoted;
    for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return "'" + quoted + "'";
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The bytes of "binfont.py <command> <out> <json>".
inline std::vector<uint8_t> BinFontPy(const std::string& command, const std::string& json) {
    static int serial = 0;
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("binfont_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                                .string();
    if (!shelltest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/binfont.py " + command + " " + out + " " +
                          Quote(json))) {
        ADD_FAILURE() << "binfont.py " << command << " failed on " << json;
        return {};
    }
    std::vector<uint8_t> bytes = ReadFile(out);
    std::filesystem::remove(out);
    return bytes;
}

// A scratch folder mounted as "common" for the test's lifetime.
struct CommonFolder {
    std::string root;
    CommonFolder() {
        char pattern[] = "/tmp/font_test_XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/Fonts");
        gFileSystem.MountDirectory("common", root.c_str());
    }
    ~CommonFolder() {
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(root + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

// One glyph quad of binfont.py's layout: pixels from the pen origin, the texel rectangle,
// and the summed coverage of its texels.
struct Quad {
    int page, left, top, right, bottom, L, T, R, B, coverage;
};

// binfont.py's layout of a text in a font file: measured width, line height and full
// width, and the quads.
inline bool PythonLayout(const std::string& file, const std::u16string& text, int spacing, int measured[3],
                         std::vector<Quad>* quads) {
    std::string codes;
    for (char16_t c : text) codes += std::to_string(int(c)) + ",";
    std::istringstream in(shelltest::ShellOutput("python3 " PROJECT_SOURCE_ROOT "/tests/support/binfont.py layout " +
                                                 file + " " + std::to_string(spacing) + " " + codes));
    std::string word;
    in >> word >> measured[0] >> measured[1] >> measured[2];
    if (word != "measure") return false;
    Quad q;
    while (in >> word >> q.page >> q.left >> q.top >> q.right >> q.bottom >> q.L >> q.T >> q.R >> q.B >> q.coverage)
        quads->push_back(q);
    return true;
}

// Two glyphs on page 0 and one on page 1 of a font with two 16-row pages.
inline const char* kTwoPageFont =
    R"({"line": 14, "pages": [{"height": 16, "fill": "ramp"}, {"height": 32, "fill": "ramp"}],
        "glyphs": [[65, 0, 1, -2, 9, 0, 8, 0, 10], [66, 0, -1, -3, 7, 10, 16, 2, 12],
                   [8364, 1, 0, 0, 11, 3, 13, 4, 15]]})";

}  // namespace fonttest
