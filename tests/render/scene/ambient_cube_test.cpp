// The ambient cube refresh on the real render thread: black faces without lights, one
// draw per face and light with the face frame and the light's constants against an
// independent calculation, the refresh keys, and lights left out.
// test-sanitize: thread address
#include <cstdio>
#include <cstring>
#include <vector>

#include "../RenderTestSupport.h"
#include "SceneTestSupport.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/DeviceObjectHandle.h"
#include "render/scene/LightCubeShaders.h"
#include "render/scene/RendererLight.h"

namespace {

using namespace gfx;

using scenetest::ReferenceFloats;

LightCubeShaderPair gPlain, gMasked;

struct AmbientCubeTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        rendertest::RunOnRenderThread([&] {
            Device* device = gVornexRenderer.Device();
            device->CreateVertexShader(Code("float4 vertex() : POSITION { return 0; }\n", "vertex", "vs_3_0"),
                                       &gPlain.vertex);
            device->CreatePixelShader(Code("float4 pixel() : COLOR { return 0; }\n", "pixel", "ps_3_0"), &gPlain.pixel);
            device->CreatePixelShader(Code("float4 pixel() : COLOR { return 1; }\n", "pixel", "ps_3_0"),
                                      &gMasked.pixel);
            gMasked.vertex = gPlain.vertex;
            mask = new DeviceObjectHandle;
            mask->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
        });
        gLightCubeShaderLookup = [](bool masked) { return masked ? gMasked : gPlain; };
    }
    void TearDown() override {
        rendertest::RunOnRenderThread([&] {
            for (RendererLight& l : lights) gActiveLights.Unlink(&l);
            mask->Unref();
            gPlain.vertex->Release(), gPlain.pixel->Release(), gMasked.pixel->Release();
            for (Blob* b : blobs) b->Release();
            blobs.clear();
        });
        gLightCubeShaderLookup = nullptr;
        RendererFixture::TearDown();
    }
    // The compiled words, kept alive by the blob (freed with the process).
    static const uint32_t* Code(const char* source, const char* entry, const char* profile) {
        Blob* code = nullptr;
        CompileShader(source, uint32_t(std::strlen(source)), nullptr, nullptr, entry, profile, 0, &code, nullptr,
                      nullptr);
        blobs.push_back(code);
        return static_cast<const uint32_t*>(code->GetBufferPointer());
    }
    static inline std::vector<Blob*> blobs;

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
    // Fills every face white, runs a frame, and tells whether every face reads back black.
    bool FacesBlackAfterFrame() {
        auto eachFace = [](auto f) {
            rendertest::RunOnRenderThread([&] {
                for (uint32_t face = 0; face < 6; ++face) {
                    Surface* s = nullptr;
                    gVornexRenderer.AmbientCube()->Cube()->GetCubeMapSurface(CubeFace(face), 0, &s);
                    f(s);
                    s->Release();
                }
            });
        };
        eachFace([](Surface* s) { gVornexRenderer.Device()->ColorFill(s, nullptr, 0xFFFFFFFFu); });
        Frame();
        std::vector<uint8_t> bytes, all;
        eachFace([&](Surface* s) {
            if (recorder->ReadSurface(s, &bytes) == OK) all.insert(all.end(), bytes.begin(), bytes.end());
        });
        return all == std::vector<uint8_t>(6 * 64 * 64 * 4, 0);
    }
    uint32_t Refreshes() {
        gVornexRenderer.FlushCommands(true);
        return gVornexRenderer.AmbientCubeRefreshes();
    }

    RendererLight lights[3];
    DeviceObjectHandle* mask = nullptr;
};

TEST_F(AmbientCubeTest, NoLightOrEveryLightExcludedLeavesTheFacesBlack) {
    EXPECT_TRUE(FacesBlackAfterFrame());  // the first frame refreshes
    lights[0].exclusionBits = 6;
    Append(0);
    gVornexRenderer.PostCommand15(nullptr, 4);
    EXPECT_TRUE(FacesBlackAfterFrame());
    EXPECT_TRUE(Frame().empty());
}

TEST_F(AmbientCubeTest, EachFaceDrawsEveryLightWithItsConstants) {
    struct LightCase {
        uint8_t kind;
        bool masked;
        Vector direction, colors[3];
        float scalars[2];
        Vector angles;
    } cases[3] = {
        {0, false, {0, -2, 0, 0}, {{1, 0.5f, 0.25f, 1}, {0.9f, 0.9f, 0.9f, 1}, {0.4f, 0.4f, 0.4f, 0.5f}}, {1, 2}, {}},
        {2, false, {1, 2, 2, 0}, {{0.2f, 0.4f, 0.6f, 1}, {0.3f, 0.1f, 0.0f, 1}, {1, 1, 1, 0}}, {0.5f, 0.25f}, {}},
        {1, true, {1, 2, 2, 0}, {{1, 0.5f, 0.25f, 1}, {0, 0, 1, 1}, {0.8f, 0.4f, 0.2f, 0.5f}}, {3, 4}, {30, 45, 60, 1}},
    };
    std::vector<std::vector<float>> expected;
    for (uint32_t i = 0; i < 3; ++i) {
        const LightCase& c = cases[i];
        RendererLight& l = lights[i];
        l.ambientKind = c.kind, l.direction = c.direction, l.maskAngles = c.angles;
        std::copy(c.colors, c.colors + 3, l.colors);
        l.scalars[0] = c.scalars[0], l.scalars[1] = c.scalars[1];
        l.maskTexture = c.masked ? mask : nullptr;
        std::ostringstream args;
        args << "cube " << int(c.kind);
        for (const Vector* v : {&c.direction, &c.colors[0], &c.colors[1], &c.colors[2]})
            args << ' ' << v->x << ' ' << v->y << ' ' << v->z << ' ' << v->w;
        args << ' ' << c.scalars[0] << ' ' << c.scalars[1] << ' ' << c.angles.x << ' ' << c.angles.y << ' '
             << c.angles.z;
        expected.push_back(ReferenceFloats(args.str()));
        if (expected.back().size() != 36) GTEST_SKIP() << "python3 not available";
        Append(i);
    }
    const std::vector<float> faces = ReferenceFloats("faces");
    ASSERT_EQ(faces.size(), 54u);
    const std::vector<DrawRecord> draws = Frame();
    ASSERT_EQ(draws.size(), 18u);
    for (uint32_t d = 0; d < draws.size(); ++d) {
        const uint32_t face = d / 3, light = d % 3;
        const DrawRecord& r = draws[d];
        EXPECT_EQ(r.primitiveType, PT_TRIANGLEFAN);
        EXPECT_EQ(r.primitiveCount, 2u);
        EXPECT_EQ(r.streams[0].stride, 20u);
        EXPECT_EQ(r.depthStencil, 0u);
        EXPECT_EQ(r.viewport.width, 64u);
        EXPECT_EQ(r.textures[0].serial != 0, cases[light].masked);
        for (uint32_t reg = 0; reg < 3; ++reg) {
            for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(r.VertexConstant(reg)[k], faces[face * 9 + reg * 3 + k]) << d;
            EXPECT_EQ(r.VertexConstant(reg)[3], 0.0f);
        }
        for (uint32_t k = 0; k < 20; ++k)
            EXPECT_NEAR(r.PixelConstant(k / 4)[k % 4], expected[light][k], 1e-6) << d << " c" << k / 4;
        if (!cases[light].masked) continue;
        for (uint32_t k = 0; k < 16; ++k)
            EXPECT_NEAR(r.PixelConstant(10 + k / 4)[k % 4], expected[light][20 + k], 1e-6) << d << " c" << 10 + k / 4;
    }
}

TEST_F(AmbientCubeTest, RefreshesOnlyWhenTheLightsOrTheMaskChange) {
    const uint32_t before = Refreshes();
    Frame();  // the new device's first frame
    EXPECT_EQ(Refreshes(), before + 1);
    Frame();
    EXPECT_EQ(Refreshes(), before + 1);
    gVornexRenderer.PostCommand15(nullptr, 8);
    Frame();
    EXPECT_EQ(Refreshes(), before + 2);
    gVornexRenderer.Reset(window, kClientWidth, kClientHeight, true, false);
    Frame();
    EXPECT_EQ(Refreshes(), before + 2);
    Append(0);
    EXPECT_EQ(Frame().size(), 6u);
    EXPECT_EQ(Refreshes(), before + 3);

    // A light whose pair is missing is left out.
    lights[1].maskTexture = mask;
    gLightCubeShaderLookup = [](bool masked) { return masked ? LightCubeShaderPair{} : gPlain; };
    Append(1);
    EXPECT_EQ(Frame().size(), 6u);
}

}  // namespace
