// test-depends: shader_data
// test-sanitize: address
// The frame's light list when it is full: lights past its end are dropped, and a light
// destroyed after its registration clears its own slot only, the last one included,
// while a light the list never held changes nothing.
#include "DeferredTestSupport.h"

using namespace rendertest;
using namespace passtest;

namespace {

struct LightListTest : DeferredFixture {};

TEST_F(LightListTest, AFullListForgetsOnlyTheLightsItHolds) {
    Camera(Vector(0, 50, -80, 1), 16.0f / 9.0f);
    RendererLightShape shape;
    shape.color = Vector(1, 1, 1, 1);
    for (uint32_t i = 0; i < kFrameLights + 2; ++i) AddLight(LIGHT_TYPE_POINT, Matrix::IDENTITY, shape, 5.0f, 0.0f, false);
    recorder->ClearDrawRecords();
    BeginFrame();
    gVornexRenderer.PostResetFrameGather();
    gVornexRenderer.SubmitRenderTask(mesh.get(), RENDER_FLAG_DEFERRED);
    for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
    RunOnRenderThread([&] {
        ASSERT_EQ(gVornexRenderer.GatheredLights(), kFrameLights);
        struct Row {
            const char* name;
            uint32_t light;  // index into the fixture's lights
        };
        const Row rows[] = {{"one the list never held", kFrameLights + 1},
                            {"the last held", kFrameLights - 1},
                            {"the first held", 0},
                            {"one held in the middle", kFrameLights / 2}};
        std::vector<bool> forgotten(kFrameLights, false);
        for (const Row& row : rows) {
            gVornexRenderer.ForgetLight(lights[row.light].get());
            if (row.light < kFrameLights) forgotten[row.light] = true;
            EXPECT_EQ(gVornexRenderer.GatheredLights(), kFrameLights) << row.name;
            for (uint32_t i = 0; i < kFrameLights; ++i)
                if (gVornexRenderer.FrameLight(i) != (forgotten[i] ? nullptr : lights[i].get())) {
                    ADD_FAILURE() << row.name << ": slot " << i << " holds the wrong light";
                    break;
                }
        }
    });
    gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0, 1);
    EndFrame();
}

}  // namespace
