// test-depends: shader_data
// test-timeout: 600
// Particles on the drawing device (software rasteriser), 128 x 128 over black: four
// particles in one place whose colour over life falls from white to black (alpha with it)
// over their 2 s, pictured at 0, 0.5, 1.0 and 1.5 s of their life: the mean of the centre
// pixels follows the colour within 4/255, and after their life the picture is black.
// Without blending that is one particle's colour; added, the one instanced draw gives four
// times it (clamped at white). A failed check (or RENDER_PICTURES=<folder>) saves the
// picture as PNG and names it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/gfx/ImageWriter.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"

using namespace rendertest;
using namespace gfx;

namespace {

constexpr uint32_t kSide = 128;

struct ParticlePictureTest : shadertest::DrawingShaderFixture {
    void SetUp() override {
        DrawingShaderFixture::SetUp();
        if (HasFatalFailure()) return;
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 1.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        RunOnRenderThread([] {
            ParticleSystemInstance::InitGlobals({64, 64, false, 1.0f});
            ParticleSystemInstance::CreateDeviceBuffers();
        });
    }
    void TearDown() override {
        RunOnRenderThread([this] {
            if (instance) instance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
            ParticleSystemInstance::ReleaseDeviceBuffers();
            ParticleSystemInstance::ReleaseGlobals();
        });
        gVornexRenderer.FlushCommands(true);
        ShaderFixture::TearDown();
    }
    // Draws into a fresh 128 x 128 target cleared to black; the pixels' red channel.
    std::vector<uint8_t> Picture(const std::string& name, bool save) {
        std::vector<uint8_t> bytes, red;
        BeginFrame();
        RunOnRenderThread(
            [&] { bytes = shadertest::DrawOffscreen(recorder, kSide, name, save, [&] { instance->Draw(Vector(1, 1, 1, 1)); }); });
        EndFrame();
        for (size_t i = 2; i < bytes.size(); i += 4) red.push_back(bytes[i]);
        return red;
    }
    // The mean of the 8 x 8 pixels at the centre.
    static double CentreMean(const std::vector<uint8_t>& red) {
        double sum = 0;
        for (uint32_t y = kSide / 2 - 4; y < kSide / 2 + 4; ++y)
            for (uint32_t x = kSide / 2 - 4; x < kSide / 2 + 4; ++x) sum += red[y * kSide + x];
        return sum / 64.0;
    }

    ParticleSystemInstance* instance = nullptr;
};

TEST_F(ParticlePictureTest, ColourFollowsItsNodesOverLife) {
    ParticleSystem def;
    def.lifeTime = 2.0f;
    def.spawnRate = 1048576.0f;  // one particle a clock tick
    def.initialVelocity = Vector(0, 0, 0, 0);
    def.initialVelocityVar = Vector(0, 0, 0, 0);
    def.alphaTestMode = PARTICLE_ALPHA_TEST_NONE;
    def.fog = false;
    def.textureFileName = NameString("System/White_4x4$cxy.dds");
    float linear[4];
    for (int i = 0; i < 4; ++i) {
        const float v = 1.0f - float(i) / 3.0f;
        def.nodeTime[i] = float(i) / 3.0f;
        def.nodeSize[i] = 4.0f;
        def.nodeColor[i].SetFromVector(Vector(v, v, v, v));
        linear[i] = def.nodeColor[i].ToLinearVector().x;
    }
    const struct {
        uint32_t blending;
        double particles;  // how many particles the centre pixels show
        const char* name;
    } cases[] = {{PARTICLE_BLEND_NONE, 1.0, "none"}, {PARTICLE_BLEND_ADD, 4.0, "add"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        def.blendingMode = c.blending;
        def.Resolve(false);
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            VertexShaderObject* v = def.vertexShader ? def.vertexShader->GetVertexShaderObject() : nullptr;
            PixelShaderObject* p = def.pixelShader ? def.pixelShader->GetPixelShaderObject() : nullptr;
            return v && p && v->DeviceShader() && p->DeviceShader() && def.texture && def.texture->IsLoaded();
        }));
        instance = new ParticleSystemInstance(def, Matrix::IDENTITY, 0);
        RunOnRenderThread([&] {
            EntityTemplate* mesh = nullptr;
            instance->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
            instance->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
            // Four particles born within four ticks (ages under 4 microseconds), then no more.
            const float step = 3.0f / 1048576.0f;
            ParticleSystemInstance::UpdateAll(step, step, step, 3);
            instance->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
        });
        ASSERT_EQ(instance->Count(), 4u);
        for (int step = 0; step < 5; ++step) {
            const float age = 0.5f * float(step);
            SCOPED_TRACE(age);
            if (step) RunOnRenderThread([] { ParticleSystemInstance::UpdateAll(0.5f, 0.5f, 0.5f, 3); });
            // The node span of the normalised age, linear between its two colours; none after 2 s.
            const float t = age / 2.0f;
            const int i = std::min(2, int(t * 3.0f));
            const float u = t * 3.0f - float(i);
            const double one = step < 4 ? 255.0 * ((1.0f - u) * linear[i] + u * linear[i + 1]) : 0.0;
            const double want = std::min(255.0, c.particles * one);
            const std::string name = std::string("particle-") + c.name + "-" + std::to_string(step);
            std::vector<uint8_t> red = Picture(name, false);
            ASSERT_EQ(red.size(), kSide * kSide);
            const double got = CentreMean(red);
            if (std::fabs(got - want) > 4.0) Picture(name + "-failed", true);
            EXPECT_NEAR(got, want, 4.0);
        }
        RunOnRenderThread([this] { instance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr); });
        instance = nullptr;
    }
}

}  // namespace
