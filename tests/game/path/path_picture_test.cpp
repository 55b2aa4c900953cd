// test-depends: shader_data
// test-timeout: 600
// The ribbon on the drawing device (software rasteriser), 128 x 128 over a black ground,
// the camera above looking straight down (orthographic, 2 pixels a unit). A straight route
// draws a band of the template's colour whose centre line lies within 1 pixel of the
// projected route and whose width matches the template's Width within 2 pixels, column by
// column; at least 95 % of the band's pixels have the colour (8 per channel) and the
// ground beside it stays black. A turned route keeps the band's width across its new
// direction. A failed check saves the picture as PNG under the build folder and names it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "PathTestSupport.h"
#include "game/path/ZKRPathRendererEntityRenderingContext.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/particles/ParticleSystemInstance.h"

using namespace pathtest;
using namespace rendertest;

namespace {

constexpr uint32_t kSide = 128;
constexpr float kPixelsPerUnit = 2.0f;
constexpr int kTolerance = 8;
constexpr const char* kWhite = "System/White_4x4$cxy.dds";

struct PathPictureTest : PathFixture<shadertest::DrawingShaderFixture> {
    void SetUp() override {
        PathFixture::SetUp();
        if (HasFatalFailure()) return;
        // Looking down the y axis with +z up the picture and +x to the right.
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 50, 0, 1), Vector(0, 0, 0, 1), Vector(0, 0, 1, 0));
        const float half = float(kSide) / kPixelsPerUnit / 2.0f;
        projection.LoadOrthoOffCenterLH(-half, half, -half, half, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        RunOnRenderThread([] { ParticleSystemInstance::CreateDeviceBuffers(); });
        pathTemplate.textureFileName = NameString(kWhite);
        pathTemplate.color = HDRColor(255, 255, 0, 255, 1.0f);
        pathTemplate.signalColor = HDRColor(0, 0, 0, 255, 1.0f);
        pathTemplate.width = 4.0f;
        pathTemplate.level = 0.0f;
        pathTemplate.blendMode = 0;
        pathTemplate.SetupResources(true);
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            VertexShaderObject* v = pathTemplate.vertexShader ? pathTemplate.vertexShader->GetVertexShaderObject() : nullptr;
            PixelShaderObject* p = pathTemplate.pixelShader ? pathTemplate.pixelShader->GetPixelShaderObject() : nullptr;
            return v && p && v->DeviceShader() && p->DeviceShader() && pathTemplate.texture &&
                   pathTemplate.texture->IsLoaded();
        }));
        const Vector c = pathTemplate.color.ToLinearVector() * gVornexRenderer.ColorFactor();
        for (int i = 0; i < 3; ++i) colour[i] = int(std::lround(std::clamp(c[i], 0.0f, 1.0f) * 255.0f));
    }
    void TearDown() override {
        EndScene();
        RunOnRenderThread([] { ParticleSystemInstance::ReleaseDeviceBuffers(); });
        PathFixture::TearDown();
    }
    std::vector<uint32_t> Picture(const std::string& name, bool save) {
        auto* c = static_cast<ZKRPathRendererEntityRenderingContext*>(path->GetRenderingContext());
        return shadertest::OffscreenPixels(*this, kSide, name, save,
                                           [c] { c->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{}); });
    }
    bool Coloured(uint32_t p) const {
        const int rgb[3] = {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
        for (int i = 0; i < 3; ++i)
            if (std::abs(rgb[i] - colour[i]) > kTolerance) return false;
        return true;
    }
    // Checks a band along one picture axis (horizontal: along x, the band's rows measured
    // in each column) over the run of pixels [first, last], centred on `centre`, of
    // `width` pixels; false on any failed check.
    bool CheckBand(const std::vector<uint32_t>& pixels, bool horizontal, int first, int last, float centre,
                   float width) {
        const auto at = [&](int along, int across) {
            return horizontal ? pixels[size_t(across) * kSide + along] : pixels[size_t(along) * kSide + across];
        };
        bool ok = true;
        uint32_t inside = 0, matching = 0, ground = 0, dark = 0;
        for (int a = first; a <= last; ++a) {
            int count = 0;
            double sum = 0;
            for (int b = 0; b < int(kSide); ++b) {
                const float offset = std::fabs(float(b) + 0.5f - centre);
                const bool coloured = Coloured(at(a, b));
                if (coloured) ++count, sum += b + 0.5;
                if (offset < width / 2.0f - 1.0f) ++inside, matching += coloured;
                if (offset > width / 2.0f + 2.0f) ++ground, dark += (at(a, b) & 0xFFFFFF) == 0;
            }
            const double middle = count ? sum / count : -100.0;
            EXPECT_NEAR(middle, centre, 1.0) << "centre line at " << a;
            EXPECT_NEAR(count, width, 2.0) << "width at " << a;
            ok = ok && std::fabs(middle - centre) <= 1.0 && std::fabs(count - width) <= 2.0;
        }
        EXPECT_GE(matching, inside * 95 / 100) << "the band's colour";
        EXPECT_GE(dark, ground * 95 / 100) << "the ground beside the band";
        return ok && matching >= inside * 95 / 100 && dark >= ground * 95 / 100;
    }
    int colour[3] = {0, 0, 0};
};

TEST_F(PathPictureTest, AStraightRouteDrawsABandOfItsWidthOnTheRoute) {
    // From x = -20 to 20 at z = 5: columns 24 to 104, the route on row 64 - 10.
    Route(Chain({Vector(-20, 0, 5, 1), Vector(20, 0, 5, 1)}), 1e-6f);
    gVornexRenderer.FlushCommands(true);
    const std::vector<uint32_t> pixels = Picture("path_straight", false);
    ASSERT_EQ(pixels.size(), size_t(kSide) * kSide);
    const float row = float(kSide) / 2.0f - 5.0f * kPixelsPerUnit;
    if (!CheckBand(pixels, true, 30, 98, row, pathTemplate.width * kPixelsPerUnit)) Picture("path_straight", true);
}

TEST_F(PathPictureTest, ATurnedRouteKeepsItsWidthAcrossItsDirection) {
    // Up the picture along z at x = -10, wider.
    pathTemplate.width = 7.0f;
    Route(Chain({Vector(-10, 0, -25, 1), Vector(-10, 0, 25, 1)}), 1e-6f);
    gVornexRenderer.FlushCommands(true);
    const std::vector<uint32_t> pixels = Picture("path_turned", false);
    ASSERT_EQ(pixels.size(), size_t(kSide) * kSide);
    const float column = float(kSide) / 2.0f - 10.0f * kPixelsPerUnit;
    if (!CheckBand(pixels, false, 20, 108, column, pathTemplate.width * kPixelsPerUnit)) Picture("path_turned", true);
}

}  // namespace
