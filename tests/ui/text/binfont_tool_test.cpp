// test-depends: binfont
// The binary font maker: a size whose glyph offsets or advances do not fit the glyph
// record's bytes is refused with no file written, never stored clamped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/ShellCommand.h"

TEST(BinFontTool, WritesTheSizesItCanStoreAndRefusesTheOthers) {
    const std::string face = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (!std::filesystem::exists(face)) GTEST_SKIP() << "fonts-dejavu-core is not installed";
    const std::string out =
        (std::filesystem::temp_directory_path() / ("binfont_tool_" + std::to_string(::getpid()) + ".BinFont")).string();
    const struct {
        int size, outline;
        bool written;
    } cases[] = {
        {20, 0, true}, {12, 2, true}, {116, 0, true},  // DejaVu's lowest glyph top is -128 at 116 pixels
        {117, 0, false}, {160, 2, false}, {255, 0, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(out);
        const bool ok = shelltest::Shell(PROJECT_BINARY_ROOT "/tools/binfont " + face + " " + std::to_string(c.size) +
                                         " " + std::to_string(c.outline) + " " + out);
        EXPECT_EQ(ok, c.written) << c.size << " pixels, outline " << c.outline;
        EXPECT_EQ(std::filesystem::exists(out), c.written) << c.size << " pixels, outline " << c.outline;
    }
    std::filesystem::remove(out);
}
