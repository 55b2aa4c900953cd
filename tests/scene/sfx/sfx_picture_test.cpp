// test-depends: shader_data
// test-timeout: 600
// An effect quad on the drawing device (software rasteriser), 128 x 128 over black: a
// 4 x 4-unit quad at the origin seen from 10 units away plays a 2 x 2 atlas of four solid
// colours (written here as a DDS file) along a frame curve from 0 to 3.5. At each frame's
// time the quad's centre shows that frame's colour (within 3/255) and the quad covers the
// rectangle its placement projects to (within 1 pixel); outside it the picture is black.
// A failed check (or RENDER_PICTURES=<folder>) saves the picture as PNG and names it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "render/shaders/ShaderTestSupport.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXElementContexts.h"

using namespace rendertest;

namespace {

constexpr uint32_t kSide = 128;
constexpr uint32_t kAtlas = 64;
// Frames in atlas order (column, then row): red, green, blue, white.
const uint32_t kFrameColours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) { std::memcpy(d.data() + at, &v, 4); }

// An uncompressed A8R8G8B8 DDS of one level: each quadrant one frame's colour.
std::vector<uint8_t> AtlasDds() {
    std::vector<uint8_t> d(128 + kAtlas * kAtlas * 4, 0);
    std::memcpy(d.data(), "DDS ", 4);
    const uint32_t fields[][2] = {{4, 124},  {8, 0x1007},  {12, kAtlas},    {16, kAtlas},       {28, 1},
                                  {76, 32},  {80, 0x41},   {88, 32},        {92, 0xFF0000},     {96, 0xFF00},
                                  {100, 0xFF}, {104, 0xFF000000u}, {108, 0x1000}};
    for (const auto& [at, v] : fields) Put32(d, at, v);
    for (uint32_t y = 0; y < kAtlas; ++y)
        for (uint32_t x = 0; x < kAtlas; ++x) {
            const uint32_t frame = (x >= kAtlas / 2 ? 1u : 0u) + (y >= kAtlas / 2 ? 2u : 0u);
            Put32(d, 128 + (size_t(y) * kAtlas + x) * 4, 0xFF000000u | kFrameColours[frame]);
        }
    return d;
}

struct SFXPictureTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        std::filesystem::create_directories(root + "/textures/SFX");
        const std::vector<uint8_t> dds = AtlasDds();
        std::ofstream(root + "/textures/SFX/atlas.dds", std::ios::binary)
            .write(reinterpret_cast<const char*>(dds.data()), std::streamsize(dds.size()));
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 1.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    void TearDown() override {
        if (context) context->Release();
        gVornexRenderer.FlushCommands(true);
        definition.reset();
        gVornexRenderer.FlushCommands(true);
        ShaderFixture::TearDown();
    }
    std::vector<uint32_t> Picture(const std::string& name, bool save) {
        std::vector<uint8_t> bytes;
        BeginFrame();
        RunOnRenderThread([&] {
            bytes = shadertest::DrawOffscreen(recorder, kSide, name, save,
                                              [&] { context->RenderMain(16, 0, Vector(1, 1, 1, 1)); });
        });
        EndFrame();
        return shadertest::RgbPixels(bytes);
    }
    // The pixel column (or row) of a point at x (or y) on the plane z = 0.
    double PixelOf(float v, bool row) const {
        Matrix vp;
        vp.Mul(projection, view);  // view first, then projection
        const Vector p(row ? 0.0f : v, row ? v : 0.0f, 0.0f, 1.0f);
        float c[4];
        for (int k = 0; k < 4; ++k) c[k] = p.x * vp.r[0][k] + p.y * vp.r[1][k] + p.z * vp.r[2][k] + vp.r[3][k];
        const double ndc = (row ? c[1] : c[0]) / c[3];
        return row ? (1.0 - ndc) * 0.5 * kSide : (ndc + 1.0) * 0.5 * kSide;
    }

    Matrix view, projection;
    std::unique_ptr<SFXDefinition> definition;
    SFXContext* context = nullptr;
};

TEST_F(SFXPictureTest, EachFrameShowsItsColourInsideTheProjectedQuad) {
    definition = std::make_unique<SFXDefinition>();
    auto* q = new SFXQuadElementDefinition();
    q->textureFileName = NameString("SFX/atlas.dds");
    q->textureFramesX = 2;
    q->textureFramesY = 2;
    q->alphaTestMode = 0;
    q->scale.SetConstantValue(Vector(4, 4, 1, 0));
    // Steps from 0 to 3.5: frames 0 to 3 at whole seconds.
    for (float t : {0.0f, 1.0f, 2.0f, 3.0f, 3.5f}) {
        q->frameAnimationCurve.keyTimes.Add(EnvelopeKeyTime(t));
        q->frameAnimationCurve.keys.Add(Vector(t, 0, 0, 0));
    }
    q->frameAnimationCurve.interpolation = ENVELOPE_INTERPOLATION_NONE;
    definition->AddElement(q);
    definition->ResolveElements(false);
    ASSERT_TRUE(WaitUntil([&] {
        gVornexRenderer.WaitForResourceJobs(1);
        VertexShaderObject* v = q->vertexShader ? q->vertexShader->GetVertexShaderObject() : nullptr;
        PixelShaderObject* p = q->pixelShader ? q->pixelShader->GetPixelShaderObject() : nullptr;
        return v && p && v->DeviceShader() && p->DeviceShader() && q->texture && q->texture->IsLoaded();
    }));
    EntityRenderingContextSetup s;
    s.creationFlags = ERC_FLAG_NO_GRID;
    context = new SFXContext(s, nullptr, nullptr, 0);
    context->Setup(definition.get(), Matrix::IDENTITY, false, 0);
    context->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);

    const double left = PixelOf(-2, false), right = PixelOf(2, false);
    const double top = PixelOf(2, true), bottom = PixelOf(-2, true);
    for (uint32_t frame = 0; frame < 4; ++frame) {
        SCOPED_TRACE(frame);
        // 0.25 s, then a second each: a quarter second into each frame's step.
        const float step = frame ? 1.0f : 0.25f;
        const RenderFrameClock clocks[3] = {{0, step}, {0, step}, {0, step}};
        RunOnRenderThread([&] { SFXContext::UpdateAll(clocks); });
        const std::string name = "sfx-quad-frame-" + std::to_string(frame);
        std::vector<uint32_t> pixels = Picture(name, false);
        ASSERT_EQ(pixels.size(), size_t(kSide) * kSide);
        // The quad's constants: frame size, (column, row) of this frame and the next, blend.
        const std::vector<gfx::DrawRecord> draws = recorder->DrawRecords();
        ASSERT_FALSE(draws.empty());
        const gfx::DrawRecord& d = draws.back();
        const uint32_t next = (frame + 1) % 4;
        const float want196[4] = {0.5f * float(frame % 2), 0.5f * float(frame / 2), 0.5f * float(next % 2),
                                  0.5f * float(next / 2)};
        for (int c = 0; c < 4; ++c) {
            EXPECT_FLOAT_EQ(d.VertexConstant(195)[c], 0.5f);
            EXPECT_FLOAT_EQ(d.VertexConstant(196)[c], want196[c]) << c;
        }
        EXPECT_FLOAT_EQ(d.PixelConstant(0)[0], 0.0f);  // a step curve: no blend
        bool ok = true;
        auto near = [&](uint32_t got, uint32_t want, const char* where) {
            for (int shift : {0, 8, 16}) {
                const int a = int(got >> shift & 0xFF), b = int(want >> shift & 0xFF);
                if (std::abs(a - b) > 3) {
                    ADD_FAILURE() << where << ": got " << std::hex << got << ", want " << want;
                    ok = false;
                    return;
                }
            }
        };
        near(pixels[(kSide / 2) * kSide + kSide / 2], kFrameColours[frame], "centre");
        // Just inside and just outside each edge of the projected rectangle (1 pixel).
        const uint32_t mid = kSide / 2;
        near(pixels[mid * kSide + uint32_t(std::ceil(left + 1))], kFrameColours[frame], "inside left");
        near(pixels[mid * kSide + uint32_t(std::floor(left - 1))], 0, "outside left");
        near(pixels[mid * kSide + uint32_t(std::floor(right - 1))], kFrameColours[frame], "inside right");
        near(pixels[mid * kSide + uint32_t(std::ceil(right + 1))], 0, "outside right");
        near(pixels[uint32_t(std::ceil(top + 1)) * kSide + mid], kFrameColours[frame], "inside top");
        near(pixels[uint32_t(std::floor(top - 1)) * kSide + mid], 0, "outside top");
        near(pixels[uint32_t(std::floor(bottom - 1)) * kSide + mid], kFrameColours[frame], "inside bottom");
        near(pixels[uint32_t(std::ceil(bottom + 1)) * kSide + mid], 0, "outside bottom");
        if (!ok) Picture(name + "-failed", true);
    }
}

// A definition file whose "REFRACTION" also selects vertex variants: the second vertex
// shader differs, the message is logged and the element keeps no refraction shader. With
// the real definitions the refraction pixel shader is kept.
constexpr const char* kRefractionMessage = "Refraction option in FixedPipelineReplacement affects vertex shader.";

TEST_F(SFXPictureTest, RefractionKeepsItsPixelShader) {
    SFXQuadElementDefinition q;
    q.textureFileName = NameString();
    q.refractionPower = 1.0f;
    q.Resolve(false);
    EXPECT_NE(q.refractionPixelShader, nullptr);
    EXPECT_NE(q.refractionPixelShader, q.pixelShader);
    EXPECT_FALSE(log.Contains(kRefractionMessage));
    q.ReleaseResources();
}

TEST_F(SFXPictureTest, RefractionMustNotTouchTheVertexStage) {
    SFXQuadElementDefinition q;
    q.textureFileName = NameString();
    q.refractionPower = 1.0f;
    std::ifstream in(ShaderFolder() + "/Shaders.def");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find("family FixedPipelineReplacement");
    ASSERT_NE(at, std::string::npos);
    const size_t option = text.find("option REFRACTION ps", at);
    ASSERT_NE(option, std::string::npos);
    text.replace(option, std::strlen("option REFRACTION ps"), "option REFRACTION vs ps");
    std::ofstream(ShaderFolder() + "/test.def") << text;
    ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py defbin " + ShaderFolder() +
                                  "/test.def " + ShaderFolder() + "/Shaders.DefBin"));
    gShaderManager->Close();  // read the new definitions
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    q.Resolve(false);
    EXPECT_EQ(q.refractionPixelShader, nullptr);
    EXPECT_NE(q.pixelShader, nullptr);
    EXPECT_TRUE(log.Contains(kRefractionMessage));
    q.ReleaseResources();
}

}  // namespace
