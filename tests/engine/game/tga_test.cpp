// TGA images from ImageMagick's convert load pixel-exact; other kinds are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/fs/FileSystem.h"
#include "engine/game/TGAImage.h"

namespace {

constexpr uint32_t kWidth = 37, kHeight = 19;

class TGAImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tga_test_XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("textures", folder.c_str()));
        std::string pam = "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (uint32_t i = 0, state = 12345; i < kWidth * kHeight * 4; ++i) pam += char((state = state * 1103515245u + 12345u) >> 16);
        Write("source.pam", std::vector<uint8_t>(pam.begin(), pam.end()));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder); }

    static std::vector<uint8_t> Read(const std::string& name) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    static bool Run(const std::string& command) { return std::system(("cd " + folder + " && " + command).c_str()) == 0; }

    static std::string folder;
};
std::string TGAImageTest::folder;

TEST_F(TGAImageTest, ConvertedFilesLoadPixelExact) {
    const struct {
        const char* options;
        uint8_t bits;
        bool topRowFirst, imageId;
    } cases[] = {
        {"", 32, false, false},
        {"-alpha off -orient TopLeft", 24, true, false},
        {"-set comment 'cursor image' -orient TopLeft", 32, true, true},
        {"-set comment 'cursor image' -alpha off", 24, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(Run(std::string("convert source.pam -compress None ") + c.options + " image.tga"));
        const std::vector<uint8_t> file = Read("image.tga");
        EXPECT_EQ(file.at(16), c.bits);
        EXPECT_EQ((file.at(17) & 0x20) != 0, c.topRowFirst);
        EXPECT_EQ(file.at(0) != 0, c.imageId);
        // ImageMagick's decoding: top row first, red-green-blue-alpha.
        ASSERT_TRUE(Run("convert image.tga -auto-orient -depth 8 rgba:image.rgba"));
        const std::vector<uint8_t> reference = Read("image.rgba");
        ASSERT_EQ(reference.size(), kWidth * kHeight * 4);

        TGAImage image;
        ASSERT_TRUE(image.Load("image", "tga", "Textures"));
        ASSERT_EQ(image.Width() * 1000 + image.Height(), kWidth * 1000 + kHeight);
        EXPECT_EQ(image.Format(), TGAImage::kFormatA8R8G8B8);
        ASSERT_EQ(image.Size(), kWidth * kHeight * 4);
        uint32_t mismatches = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint8_t* want = &reference[(y * kWidth + x) * 4];
                const uint8_t* got = image.Pixels() + ((kHeight - 1 - y) * kWidth + x) * 4;  // bottom row first
                mismatches += got[0] != want[2] || got[1] != want[1] || got[2] != want[0] ||
                              got[3] != (c.bits == 24 ? 255 : want[3]);
            }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST_F(TGAImageTest, OtherKindsShortFilesAndHugeHeadersAreRefused) {
    const std::pair<const char*, const char*> made[] = {{"rle", "-compress RLE"},
                                                        {"mapped", "-alpha off -type Palette -compress None"},
                                                        {"sixteen", "-depth 5 -compress None"},
                                                        {"whole", "-compress None"}};
    for (const auto& [name, options] : made)
        ASSERT_TRUE(Run(std::string("convert source.pam ") + options + " " + name + ".tga"));
    const std::vector<uint8_t> whole = Read("whole.tga");
    auto header = [&](std::initializer_list<std::pair<size_t, uint8_t>> changes, size_t size) {
        std::vector<uint8_t> h(whole.begin(), whole.begin() + 18);
        for (auto [offset, value] : changes) h[offset] = value;
        h.resize(size, 7);
        return h;
    };
    Write("short.tga", std::vector<uint8_t>(whole.begin(), whole.end() - 1));
    Write("header.tga", std::vector<uint8_t>(whole.begin(), whole.begin() + 10));
    Write("id.tga", header({{0, 255}, {12, 1}, {13, 0}, {14, 1}, {15, 0}}, 18 + 4 + 100));  // ID past the end
    Write("huge.tga", header({{12, 0xFF}, {13, 0xFF}, {14, 0xFF}, {15, 0xFF}}, 64));      // 65535 x 65535
    Write("wide.tga", header({{12, 0x01}, {13, 0x40}, {14, 1}, {15, 0}}, 18 + 16385 * 4));  // complete, too wide
    Write("flagged.tga", header({{1, 1}}, whole.size()));                                   // colour-map flag

    CaptureLogSink sink;
    sink.Attach();
    TGAImage image;
    for (const char* name : {"rle", "mapped", "sixteen", "short", "header", "id", "huge", "wide", "flagged"}) {
        ASSERT_TRUE(image.Load("whole", "tga", "textures"));
        sink.Clear();
        EXPECT_FALSE(image.Load(name, "tga", "Textures")) << name;
        EXPECT_EQ(image.Width() | image.Height() | image.Format() | image.Size(), 0u) << name;
        const auto messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_EQ(messages[0].text, std::string("Unsupported TGA format (") + name + ",Textures)");
        EXPECT_EQ(messages[0].severity, 3);
    }
    sink.Clear();
    EXPECT_FALSE(image.Load("missing", "tga", "Textures"));
    EXPECT_TRUE(sink.Messages().empty());
}

}  // namespace
