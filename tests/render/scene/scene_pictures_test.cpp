// Pictures of the render-side scene on the drawing device (software rasteriser): the
// ambient cube lit by a directional ambient light posted through its wrapper. Checks use
// tolerances; a failed check (or RENDER_PICTURES=<folder>) saves the faces as PNG files
// and names them.
// test-depends: shader_data
// test-timeout: 600
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "../shaders/ShaderTestSupport.h"
#include "platform/gfx/ImageWriter.h"
#include "render/DeviceObjectHandle.h"
#include "render/scene/RendererLightWrapper.h"
#include "render/shaders/ShaderManager.h"

namespace {

using namespace gfx;

struct FaceMeans {
    double r = 0, g = 0, b = 0;  // 0 to 255
    uint8_t maxChannel = 0;
};

struct ScenePictureTest : shadertest::ShaderFixture {
    void SetUp() override {
        setenv("GALLIUM_DRIVER", "llvmpipe", 0);
        setenv("EGL_PLATFORM", "surfaceless", 0);
#if defined(__SANITIZE_THREAD__)
        setenv("LP_NUM_THREADS", "0", 1);
#endif
        SelectDeviceKind(DeviceKind::Drawing);
        ShaderFixture::SetUp();
        SelectDeviceKind(DeviceKind::Recording);
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
    }
    void Frame() {
        gVornexRenderer.FlushCommands(true);
        BeginFrame();
        EndFrame();
    }
    // The means of each cube face; saves the faces when asked or when keep is false.
    std::vector<FaceMeans> Faces(const std::string& name, bool failed) {
        std::vector<FaceMeans> out(6);
        const char* folder = std::getenv("RENDER_PICTURES");
        const std::string dir = folder ? folder : PROJECT_BINARY_ROOT "/pictures";
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
                if (folder || failed) {
                    std::filesystem::create_directories(dir);
                    const std::string path = dir + "/" + name + "-face" + std::to_string(face) + ".png";
                    std::string error;
                    if (SaveSurfacePng(gVornexRenderer.Device(), s, path, &error))
                        std::printf("picture: %s\n", path.c_str());
                }
                s->Release();
            }
        });
        return out;
    }
};

TEST_F(ScenePictureTest, ADirectionalAmbientLightTintsTheFaceThatLooksAgainstIt) {
    auto* light = new RendererLightWrapper;
    const Vector none(0, 0, 0, 0);
    // No wrap, exponent 1: the lit side follows the cosine.
    light->PostLightType3(Vector(1, 0, 0, 1), none, Vector(1, 0, 0, 0), 1.0f, 0x4, AMBIENT_KIND_PLAIN, nullptr, none,
                          Vector(0, 1, 0, 0), nullptr);
    Frame();
    std::vector<FaceMeans> faces = Faces("ambient-lit", false);
    bool ok = faces[1].r >= faces[0].r + 0.15 * 255.0;
    for (const FaceMeans& f : faces) ok = ok && std::fabs(f.g - f.b) <= 3.0;
    if (!ok) faces = Faces("ambient-lit", true);
    EXPECT_GE(faces[1].r, faces[0].r + 0.15 * 255.0) << "-X face red " << faces[1].r << ", +X face red " << faces[0].r;
    for (uint32_t i = 0; i < 6; ++i) EXPECT_LE(std::fabs(faces[i].g - faces[i].b), 3.0) << "face " << i;

    // Excluded by the task-15 mask: every face black.
    gVornexRenderer.PostCommand15(nullptr, 4);
    Frame();
    faces = Faces("ambient-excluded", false);
    bool black = true;
    for (const FaceMeans& f : faces) black = black && f.maxChannel <= 1;
    if (!black) faces = Faces("ambient-excluded", true);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_LE(faces[i].maxChannel, 1) << "face " << i;
    light->Release(true, false);
    gVornexRenderer.FlushCommands(true);
}

}  // namespace
