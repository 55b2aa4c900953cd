// The ambient cube refresh on the render thread: per-face draws and constants against a reference.
//
// Debug path lists on the render thread: the two point lists' draws with their point
// sizes, colours and states, empty lists, and the release of both buffers.
// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 600
#include <algorithm>
#include <cstring>

#include "../shaders/ShaderTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/DeviceObjectHandle.h"
#include "render/scene/RendererLight.h"
#include "render/shaders/ShaderManager.h"

namespace {

using namespace gfx;

struct AmbientCubeTest : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        rendertest::RunOnRenderThread([&] { mask->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED); });
    }
    void TearDown() override {
        rendertest::RunOnRenderThread([&] {
            for (RendererLight& l : lights) gActiveLights.Unlink(&l), l.maskTexture = nullptr;  // the test's mask
            mask->Unref();
        });
        ShaderFixture::TearDown();
    }
    // The built-in pairs; with a broken mask variant "MASK" does not compile.
    void LoadShaders(bool breakMask = false) {
        if (breakMask) {
            std::filesystem::remove_all(ShaderFolder() + "/Compiled");
            std::ofstream(ShaderFolder() + "/LightCubeGeneration.hlsl", std::ios::app) << "\n#ifdef MASK\n#error\n#endif\n";
        }
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        ASSERT_TRUE(gShaderManager->Light(3, 0).IsValid());
        ASSERT_EQ(gShaderManager->Light(3, 1).IsValid(), !breakMask);
    }
    static uint32_t PixelShader(uint32_t variant) {
        return SerialOf(gShaderManager->Light(3, variant).pixelObject->DeviceShader());
    }
    void Append(uint32_t i) {
        rendertest::RunOnRenderThread([&] { gActiveLights.Append(&lights[i]); });
    }
    // One frame start (the refresh check), returning the cube draws it made.
    std::vector<DrawRecord> Frame() {
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        BeginFrame();
        std::vector<DrawRecord> draws = Draws();
        EndFrame();
        return draws;
    }
    // Fills every face white, runs a frame that draws nothing, and tells whether every
    // face reads back black.
    bool FacesBlackAfterFrame() {
        auto faces = [](const std::function<void(Surface*)>& f) {
            for (uint32_t face = 0; face < 6; ++face) {
                Surface* s = nullptr;
                gVornexRenderer.AmbientCube()->Cube()->GetCubeMapSurface(CubeFace(face), 0, &s);
                f(s);
                s->Release();
            }
        };
        rendertest::RunOnRenderThread(
            [&] { faces([](Surface* s) { gVornexRenderer.Device()->ColorFill(s, nullptr, 0xFFFFFFFFu); }); });
        EXPECT_TRUE(Frame().empty());
        bool black = true;
        rendertest::RunOnRenderThread([&] {
            faces([&](Surface* s) {
                std::vector<uint8_t> bytes;
                black = black && recorder->ReadSurface(s, &bytes) == OK && bytes.size() == 64 * 64 * 4;
                black = black && std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
            });
        });
        return black;
    }

    RendererLight lights[3];
    DeviceObjectHandle* mask = new DeviceObjectHandle;
    // The refresh reads directional ambient lights only.
    const bool typed = [this] {
        for (RendererLight& l : lights) l.type = LIGHT_TYPE_DIRECTIONAL_AMBIENT;
        return true;
    }();
};

TEST_F(AmbientCubeTest, BlackFacesAndRefreshKeys) {
    LoadShaders();
    const uint32_t before = gVornexRenderer.AmbientCubeRefreshes();
    EXPECT_TRUE(FacesBlackAfterFrame());  // the new device's first frame, without lights
    Frame();
    EXPECT_EQ(gVornexRenderer.AmbientCubeRefreshes(), before + 1);

    // A light sharing a bit with the mask is left out: black again.
    lights[0].exclusionBits = 6;
    gVornexRenderer.PostLayerMasks(nullptr, 4);
    Append(0);
    EXPECT_TRUE(FacesBlackAfterFrame());

    // A reset keeps the keys; the mask or the lights changing refresh.
    gVornexRenderer.Reset(window, kClientWidth, kClientHeight, true, false);
    EXPECT_TRUE(Frame().empty());
    gVornexRenderer.PostLayerMasks(nullptr, 8);
    EXPECT_EQ(Frame().size(), 6u);
    Append(1);
    EXPECT_EQ(Frame().size(), 12u);
    EXPECT_EQ(gVornexRenderer.AmbientCubeRefreshes(), before + 4);
    // Removing a light refreshes as well: the cube is drawn again without it, once.
    rendertest::RunOnRenderThread([&] { gActiveLights.Unlink(&lights[1]); });
    EXPECT_EQ(Frame().size(), 6u);
    EXPECT_TRUE(Frame().empty());
    EXPECT_EQ(gVornexRenderer.AmbientCubeRefreshes(), before + 5);
}

TEST_F(AmbientCubeTest, EachFaceDrawsEveryLightWithItsConstants) {
    LoadShaders();
    // Kind, masked, then direction, three colours, two scalars and three mask angles.
    const float cases[3][23] = {
        {0, 0, 0, -2, 0, 0, 1, 0.5f, 0.25f, 1, 0.9f, 0.9f, 0.9f, 1, 0.4f, 0.4f, 0.4f, 0.5f, 1, 2},
        {2, 0, 1, 2, 2, 0, 0.2f, 0.4f, 0.6f, 1, 0.3f, 0.1f, 0.0f, 1, 1, 1, 1, 0, 0.5f, 0.25f},  // third alpha 0
        {1, 1, 1, 2, 2, 0, 1, 0.5f, 0.25f, 1, 0, 0, 1, 1, 0.8f, 0.4f, 0.2f, 0.5f, 3, 4, 30, 45, 60},
    };
    std::vector<float> expected[3];
    for (uint32_t i = 0; i < 3; ++i) {
        const float* c = cases[i];
        RendererLight& l = lights[i];
        l.ambientKind = uint8_t(c[0]), l.maskTexture = c[1] ? mask : nullptr;
        l.direction = Vector(c[2], c[3], c[4], c[5]);
        for (uint32_t k = 0; k < 3; ++k) l.colors[k] = Vector(c[6 + 4 * k], c[7 + 4 * k], c[8 + 4 * k], c[9 + 4 * k]);
        l.scalars[0] = c[18], l.scalars[1] = c[19], l.maskAngles = Vector(c[20], c[21], c[22], 1);
        std::string args = "cube " + std::to_string(int(c[0]));
        for (uint32_t k = 2; k < 23; ++k) args += " " + std::to_string(c[k]);
        expected[i] = scenetest::ReferenceFloats(args);
        if (expected[i].size() != 36) GTEST_SKIP() << "python3 not available";
        Append(i);
    }
    const std::vector<float> faces = scenetest::ReferenceFloats("faces");
    ASSERT_EQ(faces.size(), 54u);
    const std::vector<DrawRecord> draws = Frame();
    ASSERT_EQ(draws.size(), 18u);
    for (uint32_t d = 0; d < draws.size(); ++d) {
        const uint32_t face = d / 3, light = d % 3;
        const bool masked = cases[light][1] != 0;
        const DrawRecord& r = draws[d];
        EXPECT_TRUE(r.primitiveType == PT_TRIANGLEFAN && r.primitiveCount == 2 && r.streams[0].stride == 20) << d;
        EXPECT_TRUE(r.depthStencil == 0 && r.viewport.width == 64) << d;
        EXPECT_EQ(r.pixelShader.serial, PixelShader(masked ? 1 : 0)) << d;
        EXPECT_EQ(r.textures[0].serial != 0, masked);
        for (uint32_t k = 0; k < 12; ++k)
            EXPECT_EQ(r.VertexConstant(k / 4)[k % 4], k % 4 == 3 ? 0.0f : faces[face * 9 + k / 4 * 3 + k % 4]) << d;
        for (uint32_t k = 0; k < (masked ? 36u : 20u); ++k) {
            const uint32_t reg = k < 20 ? k / 4 : 10 + (k - 20) / 4;
            EXPECT_NEAR(r.PixelConstant(reg)[k % 4], expected[light][k], 1e-6) << d << " c" << reg;
        }
    }
}

// Only directional ambient lights feed the cube: a point light entering the list causes
// a refresh that draws nothing.
TEST_F(AmbientCubeTest, APointLightDoesNotChangeTheCube) {
    LoadShaders();
    Frame();
    const uint32_t before = gVornexRenderer.AmbientCubeRefreshes();
    lights[0].type = LIGHT_TYPE_POINT;
    lights[0].colors[0] = Vector(1, 0, 0, 1);
    Append(0);
    EXPECT_TRUE(Frame().empty());
    EXPECT_EQ(gVornexRenderer.AmbientCubeRefreshes(), before + 1);
    lights[1].colors[0] = Vector(1, 0, 0, 1);
    Append(1);
    EXPECT_EQ(Frame().size(), 6u) << "the directional ambient light beside it draws each face";
}

TEST_F(AmbientCubeTest, ALightWhosePairIsMissingIsLeftOut) {
    LoadShaders(true);
    lights[0].maskTexture = mask;
    Append(0);
    Append(1);
    const std::vector<DrawRecord> draws = Frame();
    ASSERT_EQ(draws.size(), 6u);
    for (const DrawRecord& r : draws) EXPECT_EQ(r.pixelShader.serial, PixelShader(0));
}

using namespace gfx;

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The value of a named vertex constant of a draw (empty when the shader has none).
std::vector<float> VertexConstant(const DrawRecord& d, const char* name) {
    if (!d.vertexShader.constants) return {};
    for (const ConstantDesc& c : *d.vertexShader.constants)
        if (c.name == name) return std::vector<float>(d.VertexConstant(c.registerIndex), d.VertexConstant(c.registerIndex) + 4);
    return {};
}

struct DebugPathTest : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        ASSERT_TRUE(gShaderManager->Fixed(0).IsValid());
    }
    // One frame in which the list draws; the draws it made.
    std::vector<DrawRecord> DrawFrame() {
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        BeginFrame();
        list.PostDraw();
        std::vector<DrawRecord> draws = Draws();
        EndFrame();
        return draws;
    }
    uint32_t LiveBuffers() {
        gVornexRenderer.FlushCommands(true);
        return recorder->LiveObjects(ObjectKind::VertexBuffer);
    }
    DebugPathList list;
};

TEST_F(DebugPathTest, PointListsDrawWithTheirSizesColoursAndStates) {
    const uint32_t baseline = LiveBuffers();
    EXPECT_TRUE(DrawFrame().empty()) << "a list with no buffers draws nothing";
    list.SetPoints(nullptr, 0);
    EXPECT_TRUE(DrawFrame().empty()) << "0 points make no buffer";
    EXPECT_EQ(LiveBuffers(), baseline);

    const Vector points[3] = {Vector(1, 2, 3, 1), Vector(4, 5, 6, 1), Vector(7, 8, 9, 1)};
    list.SetPoints(points, 3);
    const std::vector<DrawRecord> draws = DrawFrame();
    ASSERT_EQ(draws.size(), 1u);
    const DrawRecord& d = draws[0];
    EXPECT_EQ(d.primitiveType, PT_POINTLIST);
    EXPECT_EQ(d.primitiveCount, 3u);
    EXPECT_EQ(d.RenderState(RS_POINTSIZE), Bits(DebugPathList::kSecondPointSize));
    EXPECT_EQ(d.RenderState(RS_ZFUNC), uint32_t(CMP_LESSEQUAL));
    EXPECT_EQ(d.RenderState(RS_ZWRITEENABLE), 0u);
    EXPECT_EQ(d.fvf, FVF_XYZ | FVF_DIFFUSE);
    EXPECT_EQ(d.vertexShader.serial, SerialOf(gShaderManager->Fixed(0).vertexObject->DeviceShader()));
    EXPECT_EQ(VertexConstant(d, "ConstantColor"), (std::vector<float>{1, 0, 0, 0}));
    EXPECT_EQ(LiveBuffers(), baseline + 1);

    // Replacing the list keeps one buffer; the release empties both.
    list.SetPoints(points, 2);
    EXPECT_EQ(DrawFrame().at(0).primitiveCount, 2u);
    EXPECT_EQ(LiveBuffers(), baseline + 1);
    list.PostRelease();
    EXPECT_EQ(LiveBuffers(), baseline);
    EXPECT_TRUE(DrawFrame().empty());
}

// Op 0 fills the first list (4-pixel white points) and empties the second.
TEST_F(DebugPathTest, TheFirstListDrawsWhiteFourPixelPoints) {
    const Vector points[2] = {Vector(1, 2, 3, 1), Vector(4, 5, 6, 1)};
    list.SetPoints(points, 2);
    scenetest::PostPathListOp(list, 0, new float[6]{0, 0, 0, 1, 1, 1}, 2);
    const std::vector<DrawRecord> draws = DrawFrame();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].RenderState(RS_POINTSIZE), Bits(DebugPathList::kFirstPointSize));
    EXPECT_EQ(VertexConstant(draws[0], "ConstantColor"), (std::vector<float>{1, 1, 1, 1}));
    EXPECT_EQ(list.PointCount(1), 0u);
    list.PostRelease();
}

// A count whose buffer size would overflow makes no buffer (and reads nothing past the
// array); the array is freed all the same.
TEST_F(DebugPathTest, AnOverflowingCountMakesNoBuffer) {
    const uint32_t baseline = LiveBuffers();
    // 16-byte vertices: 16 bytes after the overflow.
    scenetest::PostPathListOp(list, 1, new float[3]{1, 2, 3}, (1u << 28) + 1);
    EXPECT_TRUE(DrawFrame().empty());
    EXPECT_EQ(list.PointCount(1), 0u);
    EXPECT_EQ(LiveBuffers(), baseline);
}

}  // namespace
