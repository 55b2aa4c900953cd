// test-sanitize: address thread
// test-timeout: 900
// 3,000 frames with the real render thread: ten effects of every kind are updated and
// drawn on the render thread while the main thread restarts, advances, recolours, sets
// up again and breaks loops at random and reads the published boxes and "Finished".
#include <gtest/gtest.h>

#include <random>

#include "SFXTestSupport.h"

using namespace rendertest;
using namespace sfxtest;

namespace {

struct SFXStressTest : RendererFixture {};

TEST_F(SFXStressTest, MainThreadChangesWhileTheRenderThreadPlays) {
    ASSERT_TRUE(created);
    SoundRecorder::Install();
    SFXDefinition d;
    SFXQuadElementDefinition* q = Quad("quad");
    q->textureFramesX = 2;
    q->textureFramesY = 2;
    q->randomFrameTimeout = 0.05f;
    Keys(q->position, {{0, 0}, {1, 2}, {2, 0}});
    Loop(q->position, "L", 0, 1);
    d.AddElement(q);
    auto* light = new SFXSpotLightElementDefinition();
    Keys(light->range, {{0, 1}, {1, 3}});
    d.AddElement(light);
    auto* sound = new SFXSoundElementDefinition();
    sound->soundEntryName = NameString("Hum");
    Keys(sound->soundStartEnvelope, {{0, 1}, {0.5f, 0}, {1, 1}}, true);
    Loop(sound->soundStartEnvelope, "L", 0, 1);
    d.AddElement(sound);
    d.AddElement(new SFXMeshElementDefinition());
    d.AddElement(new SFXParticleElementDefinition());
    d.ResolveElements(false);

    std::vector<SFXContext*> contexts;
    for (int i = 0; i < 10; ++i) {
        contexts.push_back(MakeContext(d, i % 3 == 0 ? uint32_t(SFX_CONTEXT_DROP_UNDRAWN) : 0u));
        contexts.back()->Restart(1, 0);
    }
    const Clocks clocks = Clocks::All(1.0f / 60.0f);
    // Runs on the render thread for each frame record.
    static const std::function<void()>* frame = nullptr;
    const std::function<void()> step = [&] {
        SFXContext::UpdateAll(clocks.c);
        for (SFXContext* c : contexts) c->RenderMain(0xFFFFFFFFu, 0, Vector(1, 1, 1, 1));
    };
    frame = &step;
    std::mt19937 random(42);
    const char* names[] = {"quad", "none", nullptr};
    uint32_t fetched = 0, finished = 0;
    for (int f = 0; f < 3000; ++f) {
        SFXContext* c = contexts[random() % contexts.size()];
        switch (random() % 8) {
            case 0: c->Restart(1, uint8_t(random() % 2)); break;
            case 1: c->AdvanceTime(float(random() % 100) / 100.0f); break;
            case 2: c->SetElementLocalColor(names[random() % 3], Vector(0.5f, 1, 1, 1)); break;
            case 3: c->BreakLoop(names[random() % 3]); break;
            case 4: c->ActivateLoop(names[random() % 3]); break;
            case 5: c->SetSpeedMultiplier(float(random() % 300) / 100.0f - 1.0f); break;
            case 6: c->Setup(&d, Matrix::IDENTITY, random() % 2 == 0, 0); break;
            default: c->Stop(); break;
        }
        BoundingBox4 box;
        for (SFXContext* x : contexts) {
            fetched += x->FetchBoundingBox(&box) ? 1 : 0;
            finished += x->Finished() ? 1 : 0;
        }
        PostCall(frame);
        if (f % 64 == 0) gVornexRenderer.FlushCommands(false);
    }
    gVornexRenderer.FlushCommands(true);
    EXPECT_GT(fetched, 0u);
    for (SFXContext* c : contexts) c->Release();
    gVornexRenderer.FlushCommands(true);
    frame = nullptr;
    SoundRecorder::Remove();
    (void)finished;
}

}  // namespace
