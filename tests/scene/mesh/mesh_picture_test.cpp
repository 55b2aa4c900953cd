// test-depends: shader_data
// test-timeout: 600
// Mesh pictures on the drawing device (software rasteriser), 128 x 128, a fixed camera: a
// cube drawn in the forward pass covers the rectangle numpy projects its corners to, a
// move by one unit shifts it by the projected amount, and sixteen cubes through one batch
// run give the picture of sixteen single draws, and a box's faces take the sun's light by
// the lighting formula. Checks use tolerances; a failed check
// (or RENDER_PICTURES=<folder>) saves the picture as PNG and names it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "core/BoundedReader.h"
#include "platform/gfx/ImageWriter.h"
#include "render/DeviceObjectHandle.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;
using namespace gfx;

namespace {

constexpr uint32_t kSide = 128;

std::vector<uint8_t> ToolBlock(const std::string& model) { return sceneframe::MeshToolBlock(model, "mesh_picture_test_block.bin"); }

struct MeshPictureTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        InstallSceneServices();
        gRendererScene->PostInit();  // the parameter set whose sun the forward pass lights with
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 1.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        // A two-sided cube of half size 0.5 whose part takes the instance colour, white-textured.
        const std::vector<uint8_t> block = ToolBlock(
            "(lambda b: (b['rd'].update({'declB': [[0, 0, 2, 0, 0, 0], [1, 0, 3, 0, 5, 4], "
            "[1, 16, 3, 0, 5, 5], [1, 32, 3, 0, 5, 6], [1, 48, 3, 0, 5, 7], m.DECL_END]}), b)[1])(m.box_mesh(0.5, "
            "[{'name': 'Default', 'parts': [{'count': 12, 'flags': 0x804}]}]))");
        mesh = std::make_unique<MeshTemplate>();
        mesh->SetName("Cube");
        BoundedReader in(block.data(), block.size());
        ASSERT_TRUE(mesh->ReadBinaryData(in, 50));
        data = mesh->GetRenderingData();
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            DeviceObjectHandle* white = gShaderManager->SystemTexture(1);
            const MeshPart& p = data->presets[0].parts[0];
            return white && white->Texture() && p.shaders.objects[MESH_SHADER_FORWARD_VS] &&
                   static_cast<VertexShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_VS])->DeviceShader() &&
                   static_cast<VertexShaderObject*>(p.shaders.objects[MESH_SHADER_INSTANCING_VS])->DeviceShader() &&
                   static_cast<PixelShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_PS])->DeviceShader();
        }));
        MeshPartTexture& t = data->presets[0].parts[0].textures.emplace_back();
        t.sampler = 0;
        t.texture = gShaderManager->SystemTexture(1);
    }
    void TearDown() override {
        mesh.reset();  // its parts hold shader resources the fixture's close ends
        if (gRendererScene) gRendererScene->PostShutdown();
        gVornexRenderer.FlushCommands(true);
        ShaderFixture::TearDown();
    }
    // Runs the draws into a fresh 128 x 128 target cleared to black; its pixels as 0xRRGGBB.
    std::vector<uint32_t> Picture(const std::string& name, const std::function<void()>& draws, bool save) {
        return shadertest::OffscreenPixels(*this, kSide, name, save, [&] {
            viewProjection = gVornexRenderer.ViewProjectionMatrix();
            draws();
        });
    }
    // The covered rectangle (x0, y0, x1, y1 inclusive) of pixels brighter than the threshold.
    static std::array<int, 4> Covered(const std::vector<uint32_t>& pixels) {
        return shadertest::PixelRectangle(pixels, kSide, [](uint32_t p) { return (p >> 16 & 0xFF) > 128; });
    }
    // numpy's projection of the cube's corners at the offset: the pixel rectangle they span.
    std::vector<double> Projected(const Vector& offset) {
        std::ostringstream m;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) m << viewProjection.r[r][c] << ",";
        const std::string script =
            "import numpy as np, itertools\n"
            "M = np.array([" + m.str() + "], np.float64).reshape(4, 4)\n"
            "P = np.array([[x, y, z, 1] for x, y, z in itertools.product((-0.5, 0.5), repeat=3)]) + "
            "np.array([" + std::to_string(offset.x) + ", " + std::to_string(offset.y) + ", " + std::to_string(offset.z) +
            ", 0])\n"
            "C = P @ M; C = C[:, :2] / C[:, 3:4]\n"
            "x = (C[:, 0] + 1) * 0.5 * 128; y = (1 - C[:, 1]) * 0.5 * 128\n"
            "print(x.min(), y.min(), x.max(), y.max())\n";
        const std::string path = PROJECT_BINARY_ROOT "/mesh_picture_reference.py";
        std::ofstream(path) << script;
        return Numbers(ShellOutput("/usr/bin/python3 " + path));
    }

    static void SetSun(const Vector& direction, const Vector& colour) { sceneframe::SetSunOnly(direction, colour); }
    // The pixel a world point projects to.
    std::pair<uint32_t, uint32_t> PixelOf(const Vector& p) const {
        Vector c;
        c.TransformHomogen(viewProjection, p);
        return {uint32_t((c.x / c.w + 1.0f) * 0.5f * kSide), uint32_t((1.0f - c.y / c.w) * 0.5f * kSide)};
    }

    std::unique_ptr<MeshTemplate> mesh;
    MeshTemplateRenderingData* data = nullptr;
    Matrix view, projection, viewProjection;
};

TEST_F(MeshPictureTest, CubeLandsWhereItsTransformSays) {
    // A white sun from behind the camera lights the facing side fully.
    SetSun(Vector(0, 0, 1, 0), Vector(1, 1, 1, 1));
    for (float x : {0.0f, 1.0f}) {
        const MeshDrawBatchRecord one = sceneframe::MeshRecord(Vector(x, 0, 0, 1), Vector(1, 0, 0, 1));
        auto draw = [&] { data->DrawParts(0, kMeshPassForward, &one, 1, nullptr, 0); };
        std::vector<uint32_t> pixels = Picture("mesh-cube", draw, false);
        ASSERT_EQ(pixels.size(), kSide * kSide);
        const std::array<int, 4> got = Covered(pixels);
        const std::vector<double> want = Projected(Vector(x, 0, 0, 0));
        ASSERT_EQ(want.size(), 4u);
        // Pixel centres inside the projected rectangle are covered.
        const std::array<int, 4> expect = sceneframe::CentresInside(want);
        bool ok = true;
        for (int i = 0; i < 4; ++i) ok = ok && std::abs(got[i] - expect[i]) <= 1;
        // Inside the rectangle the cube is pure red (white texture x instance colour).
        const uint32_t centre = pixels[((got[1] + got[3]) / 2) * kSide + (got[0] + got[2]) / 2];
        ok = ok && (centre >> 16 & 0xFF) >= 252 && (centre >> 8 & 0xFF) <= 3 && (centre & 0xFF) <= 3;
        if (!ok) Picture("mesh-cube-failed-" + std::to_string(int(x)), draw, true);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], expect[i], 1.0) << "edge " << i << " at x " << x;
        EXPECT_EQ(centre, 0xFF0000u);
    }
}

TEST_F(MeshPictureTest, SixteenInstancesInOneRunEqualSixteenDraws) {
    std::vector<MeshDrawBatchRecord> cubes;
    for (int i = 0; i < 16; ++i)
        cubes.push_back(sceneframe::MeshRecord(Vector(-4.5f + float(i % 4) * 3.0f, -4.5f + float(i / 4) * 3.0f, float(i % 3), 1),
                           Vector(float(i % 2), float(i / 8), 1.0f - float(i) / 16.0f, 1)));
    auto batched = [&] {
        MeshTemplateRenderingData::BeginDrawBatch(kMeshPassForward, 0);
        for (const MeshDrawBatchRecord& c : cubes)
            MeshTemplateRenderingData::Draw(data, c.world, c.second, data->box, c.colour, 1.0f, false, 0, nullptr, 0,
                                            kMeshPassForward);
        MeshTemplateRenderingData::FlushDrawBatch(0);
    };
    auto single = [&] {
        for (const MeshDrawBatchRecord& c : cubes) data->DrawParts(0, kMeshPassForward, &c, 1, nullptr, 0);
    };
    const uint64_t before = recorder->CallCount(CallKind::DrawIndexedPrimitive);
    const std::vector<uint32_t> a = Picture("mesh-batch", batched, false);
    EXPECT_EQ(recorder->CallCount(CallKind::DrawIndexedPrimitive) - before, 1u);
    const std::vector<uint32_t> b = Picture("mesh-single", single, false);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    const size_t off = sceneframe::DifferingPixels(a, b);
    const size_t lit = a.size() - size_t(std::count(a.begin(), a.end(), 0u));
    if (off > a.size() / 100) {
        Picture("mesh-batch-failed", batched, true);
        Picture("mesh-single-failed", single, true);
    }
    EXPECT_LE(off, a.size() / 100);
    EXPECT_GT(lit, 16u * 20u);
}

// The fixture's cube and a skinned twin of it.
struct MeshSunlitTest : MeshPictureTest, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        MeshPictureTest::SetUp();
        if (HasFatalFailure()) return;
        const std::vector<uint8_t> block = ToolBlock(
            "(lambda b, st: (b['rd'].update({'declA': [[0, 0, 2, 0, 0, 0], [0, 12, 5, 0, 2, 0], [0, 16, 8, 0, 1, 0], "
            "m.DECL_END], 'declB': [[0, 0, 2, 0, 0, 0], [0, 12, 5, 0, 2, 0], [0, 16, 8, 0, 1, 0], m.DECL_END], "
            "'stride': 20, 'bones': 1, 'vbytes': b''.join(st.pack('<3f4B4B', 0.5 * x, 0.5 * y, 0.5 * z, 0, 0, 0, 0, "
            "255, 0, 0, 0) for z in (-1, 1) for y in (-1, 1) for x in (-1, 1)).hex()}), b)[1])(m.box_mesh(0.5, "
            "[{'name': 'Default', 'parts': [{'count': 12, 'flags': 0x800, 'options': 'SKINNING'}]}]), "
            "__import__('struct'))");
        skinnedMesh = std::make_unique<MeshTemplate>();
        skinnedMesh->SetName("SkinnedCube");
        BoundedReader in(block.data(), block.size());
        ASSERT_TRUE(skinnedMesh->ReadBinaryData(in, 50));
        skinnedData = skinnedMesh->GetRenderingData();
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            const MeshPart& p = skinnedData->presets[0].parts[0];
            return p.shaders.objects[MESH_SHADER_FORWARD_VS] &&
                   static_cast<VertexShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_VS])->DeviceShader() &&
                   static_cast<PixelShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_PS])->DeviceShader();
        }));
        MeshPartTexture& t = skinnedData->presets[0].parts[0].textures.emplace_back();
        t.sampler = 0;
        t.texture = gShaderManager->SystemTexture(1);
    }
    void TearDown() override {
        skinnedMesh.reset();
        MeshPictureTest::TearDown();
    }
    std::unique_ptr<MeshTemplate> skinnedMesh;
    MeshTemplateRenderingData* skinnedData = nullptr;
};

// A box without vertex normals, below the camera so its front and top show, lit only by
// a sun of intensity 1: each face is the part's colour x the sun's colour x the cosine of
// the angle between the face's normal and the direction toward the sun (the target is
// written without sRGB conversion, so a byte is the linear value x 255). The skinned twin
// (a "SKINNING" part, every corner on bone 0, drawn with an identity bone) is lit alike.
TEST_P(MeshSunlitTest, BoxFacesTakeTheSunByTheLightingFormula) {
    const bool skinned = GetParam();
    MeshTemplateRenderingData* data = skinned ? skinnedData : this->data;
    const float bone[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    const Vector toward(0.36f, 0.48f, -0.8f, 0);  // unit length
    const Vector sun(1.0f, 0.9f, 0.7f, 1.0f), albedo(0.8f, 0.5f, 0.25f, 1.0f);
    SetSun(Vector(-toward.x, -toward.y, -toward.z, 0), sun);
    const MeshDrawBatchRecord box = sceneframe::MeshRecord(Vector(0, -2, 0, 1), albedo);
    auto draw = [&] {
        gVornexRenderer.Device()->SetRenderState(RS_SRGBWRITEENABLE, 0);
        data->DrawParts(0, kMeshPassForward, &box, 1, skinned ? bone : nullptr, skinned ? 1 : 0);
    };
    std::vector<uint32_t> pixels = Picture(skinned ? "mesh-sunlit-skinned-box" : "mesh-sunlit-box", draw, false);
    ASSERT_EQ(pixels.size(), kSide * kSide);
    struct Face {
        const char* name;
        Vector centre, normal;
    };
    const Face faces[] = {{"front", Vector(0, -2, -0.5f, 1), Vector(0, 0, -1, 0)},
                          {"top", Vector(0, -1.5f, 0, 1), Vector(0, 1, 0, 0)}};
    bool ok = true;
    for (const Face& f : faces) {
        const float facing = std::max(0.0f, f.normal.x * toward.x + f.normal.y * toward.y + f.normal.z * toward.z);
        const auto [px, py] = PixelOf(f.centre);
        ASSERT_LT(px, kSide);
        ASSERT_LT(py, kSide);
        const uint32_t got = pixels[py * kSide + px];
        const float want[3] = {albedo.x * sun.x * facing, albedo.y * sun.y * facing, albedo.z * sun.z * facing};
        const uint32_t have[3] = {got >> 16 & 0xFF, got >> 8 & 0xFF, got & 0xFF};
        for (int k = 0; k < 3; ++k) {
            const bool near = std::fabs(float(have[k]) - want[k] * 255.0f) <= 3.0f;
            ok = ok && near;
            EXPECT_TRUE(near) << f.name << " channel " << k << ": " << have[k] << " for " << want[k] * 255.0f;
        }
    }
    if (!ok) Picture(skinned ? "mesh-sunlit-skinned-box-failed" : "mesh-sunlit-box-failed", draw, true);
}

INSTANTIATE_TEST_SUITE_P(PlainAndSkinned, MeshSunlitTest, ::testing::Bool());

}  // namespace
