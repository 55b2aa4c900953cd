// test-depends: shader_data binfont
// Text on the drawing device (128 x 128): "Hg" in DejaVu Sans at 20 pixels, as binfont
// makes it, drawn by DrawText. The lit pixels cover the two glyph rectangles of
// binfont.py's layout of the same file, and their summed coverage is the pages'. A
// failed check saves the picture under the build's pictures folder and prints its path.
#include <algorithm>

#include "../../render/shaders/ShaderTestSupport.h"
#include "FontTestSupport.h"
#include "ui/UIStaticInit.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"

using rendertest::RunOnRenderThread;

namespace {

constexpr uint32_t kSide = 128;
constexpr float kPenX = 30, kPenY = 50;

struct FontPicturesTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        InstallUIServices();
        RunOnRenderThread([] { CreateFontSharedBuffers(); });
    }
    void TearDown() override {
        if (font) font->Release();
        RunOnRenderThread([] { ReleaseFontSharedBuffers(); });
        DrawingShaderFixture::TearDown();
    }
    // binfont's DejaVu Sans at the size and outline, loaded as the named font resource.
    bool MakeFont(const std::string& name, int size, int outline) {
        file = root + "/common/Fonts/" + name + ".BinFont";
        std::filesystem::create_directories(root + "/common/Fonts");
        if (!shelltest::Shell(PROJECT_BINARY_ROOT "/tools/binfont /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf " +
                              std::to_string(size) + " " + std::to_string(outline) + " " + file))
            return false;
        Resource* r = gResourceManager.GetResource(RESOURCE_FONT, name.c_str(), 0, true, 0);
        if (!r) return false;
        r->Load(true);
        font = static_cast<ResourceFont*>(r);
        return font->PageTextureCount() > 0;
    }
    // The text drawn white at the pen into a fresh target; pixels 0xRRGGBB.
    std::vector<uint32_t> Draw(const char* text, const std::string& name, bool save) {
        std::vector<uint8_t> bytes;
        BeginFrame();
        RunOnRenderThread([&] {
            bytes = shadertest::DrawOffscreen(recorder, kSide, name, save, [&] {
                Matrix projection, place;
                projection.LoadOrthoOffCenterLH(0, float(kSide), float(kSide), 0, 0, 1);
                gVornexRenderer.ApplyViewport(0, 0, kSide, kSide, 0.0f, 1.0f);
                gVornexRenderer.SetCameraState(Matrix::IDENTITY, projection, Matrix::IDENTITY, 0);
                gVornexRenderer.SetSRGBWriteState(0);
                place.LoadTranslation(kPenX, kPenY, 0);
                const Vector white(1, 1, 1, 1);
                DrawText(*font, text, -1, place, white, white, Vector(0, 0, 0, 1), 0, 1, false, 8);
            });
        });
        EndFrame();
        return shadertest::RgbPixels(bytes);
    }
    std::string file;
    ResourceFont* font = nullptr;
};

}  // namespace

TEST_F(FontPicturesTest, HgCoversItsGlyphRectanglesWithThePagesCoverage) {
    ASSERT_TRUE(MakeFont("_system.ttf~020", 20, 0));
    EXPECT_EQ(font->TexelBytes(), 1u);
    int measured[3];
    std::vector<fonttest::Quad> quads;
    ASSERT_TRUE(fonttest::PythonLayout(file, u"Hg", 0, measured, &quads));
    ASSERT_EQ(quads.size(), 2u);
    int left = kSide, top = kSide, right = -1, bottom = -1;
    double coverage = 0;
    for (const fonttest::Quad& q : quads) {
        left = std::min(left, q.left), top = std::min(top, q.top);
        right = std::max(right, q.right - 1), bottom = std::max(bottom, q.bottom - 1);
        coverage += q.coverage / 255.0;
    }
    left += int(kPenX), right += int(kPenX), top += int(kPenY), bottom += int(kPenY);

    auto check = [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide) * kSide) return false;
        int l = kSide, t = kSide, r = -1, b = -1;
        double sum = 0;
        size_t grey = 0;
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const uint32_t p = px[y * kSide + x];
                const int red = int(p >> 16), green = int((p >> 8) & 0xFF), blue = int(p & 0xFF);
                grey += std::abs(red - green) <= 3 && std::abs(red - blue) <= 3;  // white text on black
                sum += red / 255.0;
                if (red <= 3) continue;
                l = std::min(l, int(x)), r = std::max(r, int(x)), t = std::min(t, int(y)), b = std::max(b, int(y));
            }
        const bool box = std::abs(l - left) <= 1 && std::abs(r - right) <= 1 && std::abs(t - top) <= 1 &&
                         std::abs(b - bottom) <= 1;
        EXPECT_TRUE(box) << l << " " << t << " " << r << " " << b << " against " << left << " " << top << " " << right
                         << " " << bottom;
        EXPECT_NEAR(sum, coverage, 0.05 * coverage);
        EXPECT_GE(grey, size_t(0.99 * kSide * kSide));
        return box && std::abs(sum - coverage) <= 0.05 * coverage && grey >= size_t(0.99 * kSide * kSide);
    };
    if (!check(Draw("Hg", "font-hg", false))) Draw("Hg", "font-hg-failed", true);
}

TEST_F(FontPicturesTest, AnOutlinedNameLoadsTwoByteTexelPages) {
    ASSERT_TRUE(MakeFont("_system.ttf#2~012", 12, 2));
    EXPECT_EQ(font->TexelBytes(), 2u);
    EXPECT_TRUE(font->Outlined());
    const std::vector<uint32_t> px = Draw("Hg", "font-outlined", false);
    size_t lit = 0;
    for (uint32_t p : px) lit += p != 0;
    EXPECT_GT(lit, 20u);  // drawn through the two-byte glyph shader
}
