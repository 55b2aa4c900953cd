// Debug path lists on the render thread: the two point lists' draws with their point
// sizes, colours and states, empty lists, and the release of both buffers.
// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 600
#include <cstring>

#include "../shaders/ShaderTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/shaders/ShaderManager.h"

namespace {

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
