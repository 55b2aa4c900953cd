// TGA images made by ImageMagick's convert load pixel-exact against ImageMagick's own
// decoding (both row orders, 24 and 32 bits, with an image ID); every other kind, a
// short file and an oversized header are refused with one warning.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/fs/FileSystem.h"
#include "engine/game/TGAImage.h"

namespace stdfs = std::filesystem;

namespace {

constexpr uint32_t kWidth = 37, kHeight = 19;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class TGAImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tga_test_XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("textures", folder.c_str()));
        // A source picture with every channel varying, alpha included.
        std::string pam = "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        std::vector<uint8_t> bytes(pam.begin(), pam.end());
        uint32_t state = 12345;
        for (uint32_t i = 0; i < kWidth * kHeight * 4; ++i) {
            state = state * 1103515245u + 12345u;
            bytes.push_back(static_cast<uint8_t>(state >> 16));
        }
        WriteBytes(folder + "/source.pam", bytes);
    }
    static void TearDownTestSuite() { stdfs::remove_all(folder); }

    // convert source.pam <options> name.tga; false when convert fails.
    static bool Convert(const std::string& options, const std::string& name) {
        const std::string command = "cd " + folder + " && convert source.pam " + options + " " + name + ".tga";
        return std::system(command.c_str()) == 0;
    }

    static std::string folder;
};
std::string TGAImageTest::folder;

TEST_F(TGAImageTest, ConvertedFilesLoadPixelExact) {
    struct Case {
        const char* options;
        uint8_t bits;
        bool topRowFirst;
        bool imageId;
    } cases[] = {
        {"-compress None", 32, false, false},
        {"-orient TopLeft -compress None", 32, true, false},
        {"-alpha off -compress None", 24, false, false},
        {"-alpha off -orient TopLeft -compress None", 24, true, false},
        {"-set comment 'cursor image' -orient TopLeft -compress None", 32, true, true},
        {"-set comment 'cursor image' -alpha off -compress None", 24, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(Convert(c.options, "image"));
        const std::vector<uint8_t> file = ReadBytes(folder + "/image.tga");
        ASSERT_GE(file.size(), 18u);
        // The file has the shape the case is about.
        EXPECT_EQ(file[16], c.bits);
        EXPECT_EQ((file[17] & 0x20) != 0, c.topRowFirst);
        EXPECT_EQ(file[0] != 0, c.imageId);
        // ImageMagick's decoding, top row first, red-green-blue-alpha.
        ASSERT_EQ(std::system(("cd " + folder + " && convert image.tga -auto-orient -depth 8 rgba:image.rgba").c_str()), 0);
        const std::vector<uint8_t> reference = ReadBytes(folder + "/image.rgba");
        ASSERT_EQ(reference.size(), kWidth * kHeight * 4);

        TGAImage image;
        ASSERT_TRUE(image.Load("image", "tga", "Textures"));
        ASSERT_EQ(image.Width(), kWidth);
        ASSERT_EQ(image.Height(), kHeight);
        EXPECT_EQ(image.Format(), TGAImage::kFormatA8R8G8B8);
        ASSERT_EQ(image.Size(), kWidth * kHeight * 4);
        uint32_t mismatches = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint8_t* want = &reference[(y * kWidth + x) * 4];
                const uint8_t* got = image.Pixels() + ((kHeight - 1 - y) * kWidth + x) * 4;  // bottom row first
                const uint8_t alpha = c.bits == 24 ? 255 : want[3];
                if (got[0] != want[2] || got[1] != want[1] || got[2] != want[0] || got[3] != alpha) ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST_F(TGAImageTest, OtherKindsShortFilesAndHugeHeadersAreRefused) {
    ASSERT_TRUE(Convert("-compress RLE", "rle"));
    ASSERT_TRUE(Convert("-alpha off -type Palette -compress None", "mapped"));
    ASSERT_TRUE(Convert("-depth 5 -compress None", "sixteen"));
    ASSERT_TRUE(Convert("-colorspace Gray -alpha off -compress None", "grey"));
    ASSERT_TRUE(Convert("-compress None", "whole"));
    // Each made file has the header of its kind: (file, offset, value).
    const struct {
        const char* name;
        size_t offset;
        uint8_t value;
    } kinds[] = {{"rle", 2, 10}, {"mapped", 1, 1}, {"sixteen", 16, 16}, {"grey", 2, 3}};
    for (const auto& k : kinds) EXPECT_EQ(ReadBytes(folder + "/" + k.name + ".tga").at(k.offset), k.value) << k.name;
    std::vector<uint8_t> whole = ReadBytes(folder + "/whole.tga");
    WriteBytes(folder + "/short.tga", std::vector<uint8_t>(whole.begin(), whole.end() - 1));
    WriteBytes(folder + "/header.tga", std::vector<uint8_t>(whole.begin(), whole.begin() + 10));
    // An image ID that runs past the end of the file.
    std::vector<uint8_t> id(whole.begin(), whole.begin() + 18);
    id[0] = 255;
    id[12] = id[14] = 1;
    id[13] = id[15] = 0;
    id.resize(18 + 4 + 100);
    WriteBytes(folder + "/id.tga", id);
    // 65535 x 65535 x 4 does not fit 32 bits; a side above the limit is refused even
    // when the file really holds all its pixels.
    std::vector<uint8_t> huge(whole.begin(), whole.begin() + 18);
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
    huge.resize(64, 7);
    WriteBytes(folder + "/huge.tga", huge);
    std::vector<uint8_t> wide(whole.begin(), whole.begin() + 18);
    wide[12] = 0x01, wide[13] = 0x40, wide[14] = 1, wide[15] = 0;  // 16385 x 1
    wide.resize(18 + 16385 * 4, 9);
    WriteBytes(folder + "/wide.tga", wide);
    // A mapped-colour flag on an otherwise true-colour header.
    std::vector<uint8_t> flagged = whole;
    flagged[1] = 1;
    WriteBytes(folder + "/flagged.tga", flagged);

    CaptureLogSink sink;
    sink.Attach();
    TGAImage image;
    ASSERT_TRUE(image.Load("whole", "tga", "textures"));
    for (const char* name : {"rle", "mapped", "sixteen", "grey", "short", "header", "id", "huge", "wide", "flagged"}) {
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
