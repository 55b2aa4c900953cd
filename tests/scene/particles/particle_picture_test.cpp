// test-depends: shader_data
// test-timeout: 600
// Particles on the drawing device (software rasteriser), 128 x 128 over black. Four
// particles in one place whose colour over life falls from white to black (alpha with it)
// over their 2 s, pictured at 0, 0.5, 1.0 and 1.5 s of their life: the mean of the centre
// pixels follows the colour within 4/255, and after their life the picture is black.
// Without blending that is one particle's colour; added, the one instanced draw gives four
// times it (clamped at white). What the random bits choose reaches the picture: the start
// angle of a random start (a square turned by 45 degrees leaves its corners black), the
// secondary rotation (a square tipped edge-on covers almost nothing) and the random frame
// of a two-frame sheet (red or green). A failed check (or RENDER_PICTURES=<folder>) saves
// the picture as PNG and names it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
constexpr const char* kWhite = "System/White_4x4$cxy.dds";

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
    // Draws into a fresh 128 x 128 target cleared to black; the pixels (0xRRGGBB).
    std::vector<uint32_t> Pixels(const std::string& name, bool save) {
        return shadertest::OffscreenPixels(*this, kSide, name, save, [&] { instance->Draw(Vector(1, 1, 1, 1)); });
    }
    // The pixels' red channel.
    std::vector<uint8_t> Picture(const std::string& name, bool save) {
        std::vector<uint8_t> red;
        for (uint32_t p : Pixels(name, save)) red.push_back(uint8_t(p >> 16));
        return red;
    }
    // A definition of particles that stay where they are born, alive for 2 s, square
    // (size 4, about 44 pixels across) and of one colour over life, drawn unblended.
    static void Still(ParticleSystem& def, const char* texture) {
        def.lifeTime = 2.0f;
        def.spawnRate = 1048576.0f;  // one particle a clock tick
        def.initialVelocity = Vector(0, 0, 0, 0);
        def.initialVelocityVar = Vector(0, 0, 0, 0);
        def.alphaTestMode = PARTICLE_ALPHA_TEST_NONE;
        def.blendingMode = PARTICLE_BLEND_NONE;
        def.fog = false;
        def.textureFileName = NameString(texture);
        for (int i = 0; i < 4; ++i) {
            def.nodeSize[i] = 4.0f;
            def.nodeColor[i].SetFromVector(Vector(1, 1, 1, 1));
        }
    }
    // Resolves def, then makes the instance with four particles born within four ticks
    // (ages under 4 microseconds) and no more; with random, every particle's random bits
    // are that value.
    void Spawn(ParticleSystem& def, const uint32_t* random = nullptr) {
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
            const float step = 3.0f / 1048576.0f;
            ParticleSystemInstance::UpdateAll(step, step, step, 3);
            instance->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
            ParticleRecord* ring = ParticleSystemInstance::Ring();
            for (uint32_t i = 0; random && i < instance->Count(); ++i)
                ring[(instance->RunStart() + i) % ParticleSystemInstance::RingSize()].randomBits = *random;
        });
        ASSERT_EQ(instance->Count(), 4u);
    }
    void Destroy() {
        RunOnRenderThread([this] { instance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr); });
        instance = nullptr;
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
    Still(def, kWhite);
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
        Spawn(def);
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
        Destroy();
    }
}

// The ROTATION variant with a start angle of 32 steps of the random byte (about 45
// degrees): a random start turns the square so that a point near its corner is black, an
// unturned square covers it; the centre is white either way. A secondary rotation of 180
// degrees per unit of life tips the square about its first axis: edge-on at half its life,
// it covers almost nothing. The primary speed is tiny (it only selects the variant).
TEST_F(ParticlePictureTest, TheRandomStartAndTheSecondaryRotationTurnTheSquare) {
    const struct {
        bool randomStart;
        float secondarySpeed;  // degrees per unit of life
        float age;             // seconds of the 2 s life
        bool cornerLit;
        bool edgeOn;
        const char* name;
    } cases[] = {
        {false, 0.0f, 0.0f, true, false, "unturned"},
        {true, 0.0f, 0.0f, false, false, "random-start"},
        {false, 0.0f, 1.0f, true, false, "flat-at-half-life"},
        {false, 180.0f, 1.0f, false, true, "tipped-at-half-life"},
    };
    const uint32_t random = 32;  // low byte: the start angle; high byte 0: the minimum speeds
    size_t flatCount = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParticleSystem def;
        Still(def, kWhite);
        def.randomRotationAtStart = c.randomStart;
        def.rotationSpeed = 0.001f;
        def.secondaryRotationSpeed = c.secondarySpeed;
        Spawn(def, &random);
        if (c.age > 0.0f) RunOnRenderThread([&] { ParticleSystemInstance::UpdateAll(c.age, c.age, c.age, 3); });
        const std::string name = std::string("particle-") + c.name;
        std::vector<uint8_t> red = Picture(name, false);
        ASSERT_EQ(red.size(), kSide * kSide);
        const auto at = [&](int dx, int dy) { return red[(kSide / 2 + dy) * kSide + kSide / 2 + dx]; };
        size_t lit = 0;
        for (uint8_t r : red) lit += r > 128;
        bool ok = true;
        if (!c.edgeOn) {
            ok = at(0, 0) > 250;
            for (const int dx : {-18, 18})
                for (const int dy : {-18, 18}) ok = ok && ((at(dx, dy) > 250) == c.cornerLit);
            if (!c.randomStart && c.age > 0.0f) flatCount = lit;
        } else {
            ok = flatCount > 1000 && lit * 10 < flatCount;
        }
        if (!ok) Picture(name + "-failed", true);
        EXPECT_TRUE(ok) << "lit pixels " << lit << ", flat " << flatCount;
        Destroy();
    }
}

// A sheet of two frames side by side, red and green, with the random frame mode: the
// random bits' 16 bits pick frame 0 below half their range and frame 1 above it.
TEST_F(ParticlePictureTest, TheRandomFrameReachesThePicture) {
    // 4 x 4 A8R8G8B8: two red columns, two green ones.
    std::vector<uint8_t> dds = resourcetest::SmallDds(0);
    for (uint32_t i = 0; i < 16; ++i) {
        const uint32_t texel = (i % 4) < 2 ? 0xFFFF0000u : 0xFF00FF00u;
        std::memcpy(dds.data() + 128 + 4 * i, &texel, 4);
    }
    resourcetest::WriteBytes(Path("textures", "Test/Frames.dds"), dds);
    const struct {
        uint32_t random;
        uint32_t colour;  // 0xRRGGBB at the centre
    } cases[] = {{0x0000, 0xFF0000}, {0x7F00, 0xFF0000}, {0x8100, 0x00FF00}, {0xFFFF, 0x00FF00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.random);
        ParticleSystem def;
        Still(def, "Test/Frames.dds");
        def.textureFramesX = 2;
        def.animationMode = PARTICLE_ANIMATION_RANDOM_FRAME;
        Spawn(def, &c.random);
        const std::string name = "particle-frame-" + std::to_string(c.random);
        const std::vector<uint32_t> pixels = Pixels(name, false);
        ASSERT_EQ(pixels.size(), kSide * kSide);
        const uint32_t centre = pixels[(kSide / 2) * kSide + kSide / 2];
        bool ok = true;
        for (int shift : {16, 8, 0}) ok = ok && std::abs(int((centre >> shift) & 0xFF) - int((c.colour >> shift) & 0xFF)) <= 3;
        if (!ok) Pixels(name + "-failed", true);
        EXPECT_TRUE(ok) << std::hex << centre;
        Destroy();
    }
}

}  // namespace
