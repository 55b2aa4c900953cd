// The video draws on the recording device: the full-screen draw's constants for screens
// wider, taller and equal to the picture, its states and the sRGB restore; UIVideo's
// draw before and after the first frame.
// test-depends: shader_data
#include "VideoRenderSupport.h"
#include "render/shaders/ResourceShader.h"
#include "ui/video/UIVideo.h"

using namespace videotest;

namespace {

using gfx::DrawRecord;

using DrawTest = VideoRenderFixtureOf<shadertest::ShaderFixture>;

// Plays the clip until its first frame is uploaded.
void FirstFrame(DrawTest& t, const std::string& clip) {
    ASSERT_TRUE(t.Start(clip));
    for (uint32_t i = 0; i < 20 && t.frames.empty(); ++i) {
        t.clock.AdvanceSeconds(0.04);
        t.Update();
    }
    ASSERT_FALSE(t.frames.empty());
}

uint32_t SerialOfPlane(uint32_t i) {
    uint32_t serial = 0;
    RunOnRenderThread([&] { serial = gfx::SerialOf(gVideoEngine->Plane(i)->Texture()); });
    return serial;
}

TEST_F(DrawTest, FullScreenDrawKeepsThePicturesAspect) {
    struct Case {
        const char* clip;  // the screen is 256 x 144
        float scaleX, scaleY;
        uint32_t width, height;
    };
    const Case cases[] = {{"screen256", 1.0f, 1.0f, 256, 144},
                          {"stereo320", 0.75f, 1.0f, 320, 240},    // taller picture: narrower quad
                          {"wide320", 1.0f, 2.0f / 3.0f, 320, 120}};  // wider picture: lower quad
    Mount({"screen256", "stereo320", "wide320"});
    ASSERT_EQ(gVornexRenderer.RenderWidth(), 256u);
    ASSERT_EQ(gVornexRenderer.RenderHeight(), 144u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        FirstFrame(*this, c.clip);
        BeginFrame();
        RunOnRenderThread([] { gVornexRenderer.SetSRGBWriteState(1); });
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        gVideoEngine->DrawFrame();
        const std::vector<DrawRecord> draws = Draws();
        uint32_t srgbAfter = 0;
        RunOnRenderThread([&] { gVornexRenderer.Device()->GetRenderState(gfx::RS_SRGBWRITEENABLE, &srgbAfter); });
        EndFrame();
        ASSERT_EQ(draws.size(), 1u);
        const DrawRecord& d = draws[0];
        EXPECT_EQ(d.primitiveType, gfx::PT_TRIANGLEFAN);
        EXPECT_EQ(d.primitiveCount, 2u);
        const float* c0 = d.VertexConstant(0);
        const float* c1 = d.VertexConstant(1);
        EXPECT_FLOAT_EQ(c0[0], 1.0f);
        EXPECT_FLOAT_EQ(c0[1], 1.0f);
        EXPECT_FLOAT_EQ(c0[2], 0.5f / 256.0f);
        EXPECT_FLOAT_EQ(c0[3], 0.5f / 144.0f);
        EXPECT_FLOAT_EQ(c1[0], c.scaleX);
        EXPECT_FLOAT_EQ(c1[1], c.scaleY);
        EXPECT_EQ(c1[2], 0.0f);
        EXPECT_EQ(c1[3], 0.0f);
        EXPECT_EQ(d.RenderState(gfx::RS_ALPHABLENDENABLE), 0u);
        EXPECT_EQ(d.RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_NONE));
        EXPECT_EQ(d.RenderState(gfx::RS_ZWRITEENABLE), 0u);
        EXPECT_EQ(d.RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_ALWAYS));
        EXPECT_EQ(d.RenderState(gfx::RS_STENCILENABLE), 0u);
        EXPECT_EQ(d.RenderState(gfx::RS_ALPHATESTENABLE), 0u);
        EXPECT_EQ(d.RenderState(gfx::RS_SRGBWRITEENABLE), 0u);
        EXPECT_EQ(srgbAfter, 1u);
        EXPECT_EQ(d.vertexShader.serial, gfx::SerialOf(gVideoEngine->Shaders().vertexObject->DeviceShader()));
        for (uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(d.textures[i].serial, SerialOfPlane(i)) << "sampler " << i;
            EXPECT_EQ(d.textures[i].format, gfx::FMT_L8);
            EXPECT_EQ(d.textures[i].width, i ? c.width / 2 : c.width);
            EXPECT_EQ(d.textures[i].height, i ? c.height / 2 : c.height);
        }
    }
}

TEST_F(DrawTest, UIVideoDrawsTheFrameOnSamplersOneToThree) {
    Mount({"silent"});
    const ShaderPair& pair = gShaderManager->Fixed(11);
    const auto draw = [&] {
        BeginFrame();
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        UIVideo* video = new UIVideo;
        video->RenderMutable().size = Vector(64.0f, 48.0f, 0.0f, 0.0f);
        RunOnRenderThread([video] { video->Draw(Matrix::IDENTITY, Vector(1.0f, 1.0f, 1.0f, 1.0f), false, nullptr); });
        video->Release();
        std::vector<DrawRecord> out = Draws();
        EndFrame();
        return out;
    };
    EXPECT_TRUE(draw().empty());  // no player
    gVideoEngine->Play("silent", nullptr, false, false, 1.0f);
    EXPECT_TRUE(draw().empty());  // no frame yet
    FirstFrame(*this, "silent");
    const std::vector<DrawRecord> draws = draw();
    ASSERT_EQ(draws.size(), 1u);
    const DrawRecord& d = draws[0];
    ASSERT_TRUE(pair.IsValid());
    EXPECT_EQ(d.pixelShader.serial, gfx::SerialOf(pair.pixelObject->DeviceShader()));
    EXPECT_EQ(d.vertexShader.serial, gfx::SerialOf(pair.vertexObject->DeviceShader()));
    EXPECT_EQ(d.textures[0].serial, 0u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.textures[i + 1].serial, SerialOfPlane(i)) << "sampler " << i + 1;
        EXPECT_EQ(d.SamplerState(i + 1, gfx::SAMP_ADDRESSU), uint32_t(gfx::TADDRESS_CLAMP));
    }
    EXPECT_EQ(d.RenderState(gfx::RS_SRGBWRITEENABLE), 0u);
}

}  // namespace
