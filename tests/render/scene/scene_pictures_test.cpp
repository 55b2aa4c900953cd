// Pictures of the render-side scene on the drawing device (software rasteriser): the
// ambient cube lit by a directional ambient light posted through its wrapper, and the
// debug path lists' points. Checks use
// tolerances; a failed check (or RENDER_PICTURES=<folder>) saves the faces as PNG files
// and names them.
// test-depends: shader_data
// test-timeout: 600
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../shaders/ShaderTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "core/math/Matrix.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/RendererLightWrapper.h"
#include "render/shaders/ShaderManager.h"

namespace {

using namespace gfx;

struct FaceMeans {
    double r = 0, g = 0, b = 0;  // 0 to 255
    uint8_t maxChannel = 0;
};

struct ScenePictureTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
    }
    void Frame() {
        gVornexRenderer.FlushCommands(true);
        BeginFrame();
        EndFrame();
    }
    // The means of each cube face; saves the faces when asked or when keep is false.
    std::vector<FaceMeans> Faces(const std::string& name, bool failed) {
        std::vector<FaceMeans> out(6);
        rendertest::RunOnRenderThread([&] {
            for (uint32_t face = 0; face < 6; ++face) {
                Surface* s = nullptr;
                gVornexRenderer.AmbientCube()->Cube()->GetCubeMapSurface(CubeFace(face), 0, &s);
                if (!s) continue;
                std::vector<uint8_t> bytes;
                if (Succeeded(recorder->ReadSurface(s, &bytes)) && bytes.size() >= 4) {
                    const size_t n = bytes.size() / 4;
                    for (size_t i = 0; i < n; ++i) {  // A8R8G8B8: b, g, r, a in memory
                        out[face].b += bytes[4 * i], out[face].g += bytes[4 * i + 1], out[face].r += bytes[4 * i + 2];
                        for (int k = 0; k < 3; ++k) out[face].maxChannel = std::max(out[face].maxChannel, bytes[4 * i + k]);
                    }
                    out[face].r /= double(n), out[face].g /= double(n), out[face].b /= double(n);
                }
                shadertest::SavePicture(s, name + "-face" + std::to_string(face), failed);
                s->Release();
            }
        });
        return out;
    }
};

TEST_F(ScenePictureTest, ADirectionalAmbientLightTintsTheFaceThatLooksAgainstIt) {
    auto* light = new RendererLightWrapper;
    const Vector none(0, 0, 0, 0);
    // Its z axis along +X: the light travels along +X.
    Matrix turned = Matrix::IDENTITY;
    turned.r[0] = Vector(0, 0, -1, 0), turned.r[2] = Vector(1, 0, 0, 0);
    light->PostTransform(turned);
    // Single sided, no wrap, intensity 1: the lit side follows the cosine. Block bit 4.
    light->PostDirectionalAmbientLight(Vector(1, 0, 0, 1), none, none, 1.0f, AMBIENT_KIND_PLAIN, 0.0f, nullptr,
                                       none, Vector(1, 1, 1, 1), 0x4);
    Frame();
    std::vector<FaceMeans> faces = Faces("ambient-lit", false);
    bool ok = faces[1].r >= faces[0].r + 0.15 * 255.0;
    for (const FaceMeans& f : faces) ok = ok && std::fabs(f.g - f.b) <= 3.0;
    if (!ok) faces = Faces("ambient-lit", true);
    EXPECT_GE(faces[1].r, faces[0].r + 0.15 * 255.0) << "-X face red " << faces[1].r << ", +X face red " << faces[0].r;
    for (uint32_t i = 0; i < 6; ++i) EXPECT_LE(std::fabs(faces[i].g - faces[i].b), 3.0) << "face " << i;

    // A blue side colour at full weight adds a quarter of blue to every face; the red
    // stays where it was.
    light->PostDirectionalAmbientLight(Vector(1, 0, 0, 1), none, Vector(0, 0, 1, 1), 1.0f, AMBIENT_KIND_PLAIN, 0.0f,
                                       nullptr, none, Vector(1, 1, 1, 1), 0x4);
    Frame();
    std::vector<FaceMeans> sided = Faces("ambient-side", false);
    ok = sided[1].r >= sided[0].r + 0.15 * 255.0;
    for (const FaceMeans& f : sided) ok = ok && std::fabs(f.b - f.g - 64.0) <= 3.0;
    if (!ok) sided = Faces("ambient-side", true);
    EXPECT_GE(sided[1].r, sided[0].r + 0.15 * 255.0);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_NEAR(sided[i].b - sided[i].g, 64.0, 3.0) << "face " << i;

    // Excluded by the task-15 mask: every face black.
    gVornexRenderer.PostLayerMasks(nullptr, 4);
    Frame();
    faces = Faces("ambient-excluded", false);
    bool black = true;
    for (const FaceMeans& f : faces) black = black && f.maxChannel <= 1;
    if (!black) faces = Faces("ambient-excluded", true);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_LE(faces[i].maxChannel, 1) << "face " << i;
    gVornexRenderer.PostLayerMasks(nullptr, 0);  // the mask outlives the renderer's stop
    light->Release(true, false);
    gVornexRenderer.FlushCommands(true);
}

// The debug path lists drawn into a 128 x 128 colour target with depth, under a known
// camera: a square of about the point size around each point's projection, white for
// the first list and red for the second, and nothing else.
struct DebugPathPictureTest : ScenePictureTest {
    static constexpr uint32_t kSide = 128;

    // Posts op 0 (the first list).
    void PostFirstList(const std::vector<Vector>& points) {
        auto* xyz = new float[points.size() * 3];
        for (size_t i = 0; i < points.size(); ++i) std::memcpy(xyz + 3 * i, &points[i].x, 12);
        scenetest::PostPathListOp(list, 0, xyz, uint32_t(points.size()));
    }
    // Draws the lists into a fresh target; its pixels as 0xRRGGBB (saved when asked or
    // when failed is set).
    std::vector<uint32_t> Draw(bool failed) {
        std::vector<uint32_t> pixels;
        Surface* target = nullptr;
        Surface* depth = nullptr;
        Surface* frameTarget = nullptr;  // the frame's own, put back afterwards
        Surface* frameDepth = nullptr;
        BeginFrame();
        rendertest::RunOnRenderThread([&] {
            Device* device = gVornexRenderer.Device();
            device->GetRenderTarget(0, &frameTarget);
            device->GetDepthStencilSurface(&frameDepth);
            ASSERT_EQ(device->CreateRenderTarget(kSide, kSide, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr),
                      OK);
            ASSERT_EQ(
                device->CreateDepthStencilSurface(kSide, kSide, FMT_D24S8, MULTISAMPLE_NONE, 0, 1, &depth, nullptr), OK);
            device->SetRenderTarget(0, target);
            device->SetDepthStencilSurface(depth);
            device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0, 1.0f, 0);
        });
        list.PostDraw();
        rendertest::RunOnRenderThread([&] {
            if (!target) return;
            std::vector<uint8_t> bytes;
            if (Succeeded(recorder->ReadSurface(target, &bytes)) && bytes.size() == kSide * kSide * 4)
                pixels = shadertest::RgbPixels(bytes);
            shadertest::SavePicture(target, "debug-paths", failed);
            Device* device = gVornexRenderer.Device();
            device->SetRenderTarget(0, frameTarget);
            device->SetDepthStencilSurface(frameDepth);
            for (Surface* s : {target, depth, frameTarget, frameDepth})
                if (s) s->Release();
        });
        EndFrame();
        return pixels;
    }
    // Per channel within the tolerance: the rasteriser may round a channel differently.
    static constexpr int kTolerance = 8;
    static bool Near(uint32_t got, uint32_t want) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > kTolerance) return false;
        return true;
    }
    // The point's pixel position: x right, y down, pixel centres at integers.
    static void Project(const Matrix& viewProjection, const Vector& p, float& x, float& y) {
        Vector v;
        v.TransformHomogen(viewProjection, p);
        x = (v.x + 1.0f) * 0.5f * kSide;
        y = (1.0f - v.y) * 0.5f * kSide;
    }

    DebugPathList list;
};

TEST_F(DebugPathPictureTest, PointsDrawSquaresOfTheirSizesAroundTheirProjections) {
    Matrix view, projection, viewProjection;
    view.LoadLookAtLH(Vector(2, 6, -20, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    projection.LoadPerspectiveFovLH(50.0f, 1.0f, 1.0f, 100.0f);
    viewProjection.Mul(projection, view);  // the view first, then the projection
    gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    const std::vector<Vector> white = {Vector(-5, 0, 0, 1), Vector(0, 3, 2, 1), Vector(4, -2, -3, 1)};
    const std::vector<Vector> red = {Vector(-4, 4, 1, 1), Vector(1, -4, 0, 1), Vector(6, 3, 4, 1)};
    PostFirstList(white);
    list.SetPoints(red.data(), uint32_t(red.size()));

    const struct {
        const std::vector<Vector>& points;
        uint32_t colour;
        float side;
    } lists[] = {{white, 0xFFFFFF, DebugPathList::kFirstPointSize}, {red, 0xFF0000, DebugPathList::kSecondPointSize}};
    std::vector<uint32_t> pixels = Draw(false);
    ASSERT_EQ(pixels.size(), size_t(kSide * kSide)) << "the target could not be read";
    bool ok = true;
    uint32_t expectedLit = 0, lit = 0;
    std::vector<std::string> failures;
    for (const auto& l : lists) {
        for (const Vector& p : l.points) {
            float px, py;
            Project(viewProjection, p, px, py);
            // The square of this colour within 10 pixels of the projection.
            int x0 = kSide, x1 = -1, y0 = kSide, y1 = -1, count = 0;
            for (int y = std::max(0, int(py) - 10); y <= std::min(int(kSide) - 1, int(py) + 10); ++y)
                for (int x = std::max(0, int(px) - 10); x <= std::min(int(kSide) - 1, int(px) + 10); ++x)
                    if (Near(pixels[y * kSide + x], l.colour))
                        ++count, x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            const float w = float(x1 + 1 - x0), h = float(y1 + 1 - y0);
            const float cx = 0.5f * float(x0 + x1), cy = 0.5f * float(y0 + y1);
            char text[200];
            std::snprintf(text, sizeof text, "point (%g, %g, %g) at (%.1f, %.1f): %d pixels, %gx%g around (%.1f, %.1f)",
                          p.x, p.y, p.z, px, py, count, w, h, cx, cy);
            if (count == 0 || std::fabs(w - l.side) > 1.0f || std::fabs(h - l.side) > 1.0f || float(count) != w * h ||
                std::fabs(cx - px) > 1.0f || std::fabs(cy - py) > 1.0f)
                failures.push_back(text), ok = false;
            expectedLit += uint32_t(count);
        }
    }
    for (uint32_t v : pixels) lit += !Near(v, 0);
    if (lit != expectedLit) ok = false;
    if (!ok) Draw(true);
    for (const std::string& f : failures) ADD_FAILURE() << f;
    EXPECT_EQ(lit, expectedLit) << "pixels lit outside the squares";
    list.PostRelease();
}

}  // namespace
