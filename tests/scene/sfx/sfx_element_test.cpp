// test-sanitize: address thread
// test-timeout: 600
// The element runtime on the real render thread: quad frames (random and by curve),
// light ranges and their registration, and the sound element against recording sound
// entries: starting, fading, suppressed starts, take-over, volume and position, and no
// command at all for a sound that never started.
#include <gtest/gtest.h>

#include "SFXTestSupport.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/scene/RendererLight.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"

using namespace rendertest;
using namespace sfxtest;

namespace {

struct SFXElementTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        SoundRecorder::Install();
    }
    void TearDown() override {
        for (SFXContext* c : contexts) c->Release();
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        definitions.clear();
        SoundRecorder::Remove();
        RendererFixture::TearDown();
    }
    SFXDefinition& Definition() {
        definitions.push_back(std::make_unique<SFXDefinition>());
        return *definitions.back();
    }
    SFXContext* Start(SFXDefinition& d, uint8_t suppressSound = 0) {
        d.ResolveElements(false);
        contexts.push_back(MakeContext(d));
        contexts.back()->Restart(1, suppressSound);
        gVornexRenderer.FlushCommands(true);
        return contexts.back();
    }
    template <class T>
    T* Element(SFXContext* c, uint32_t i) {
        T* e = nullptr;
        RunOnRenderThread([&] { e = static_cast<T*>(c->ElementContexts()[i]); });
        return e;
    }
    std::vector<std::string>& Calls() { return SoundRecorder::Calls(); }

    std::vector<std::unique_ptr<SFXDefinition>> definitions;
    std::vector<SFXContext*> contexts;
};

TEST_F(SFXElementTest, RandomFramesNeverRepeatTheCurrentOne) {
    SFXSeedQuadFrames(12345);
    SFXDefinition& d = Definition();
    SFXQuadElementDefinition* q = Quad();
    q->textureFramesX = 2;
    q->textureFramesY = 2;
    q->randomFrameTimeout = 0.5f;
    d.AddElement(q);
    SFXContext* c = Start(d);
    auto* e = Element<SFXQuadElementContext>(c, 0);
    uint32_t changes = 0, previous = 99;
    for (int i = 0; i < 200; ++i) {
        Update(Clocks::All(0.3f));
        RunOnRenderThread([&] {
            EXPECT_LT(e->currentFrame, 4u);
            EXPECT_LT(e->nextFrame, 4u);
            EXPECT_NE(e->nextFrame, e->currentFrame);
            EXPECT_GE(e->blend, 0.0f);
            EXPECT_LE(e->blend, 1.0f);
            if (e->currentFrame != previous) ++changes;
            previous = e->currentFrame;
        });
    }
    EXPECT_GT(changes, 50u);
}

TEST_F(SFXElementTest, FramesFollowTheCurve) {
    SFXDefinition& d = Definition();
    SFXQuadElementDefinition* q = Quad();
    q->textureFramesX = 2;
    q->textureFramesY = 2;
    Keys(q->frameAnimationCurve, {{0, 0}, {3.5f, 3.5f}});
    d.AddElement(q);
    SFXQuadElementDefinition* negative = Quad();
    negative->textureFramesX = 4;
    Keys(negative->frameAnimationCurve, {{0, -1.5f}, {10, -1.5f}});
    d.AddElement(negative);
    SFXContext* c = Start(d);
    auto* e = Element<SFXQuadElementContext>(c, 0);
    auto* n = Element<SFXQuadElementContext>(c, 1);
    struct Row {
        float step;
        uint32_t current, next;
        float blend;
    } rows[] = {{0.25f, 0, 1, 0.25f}, {1.25f, 1, 2, 0.5f}, {1.25f, 2, 3, 0.75f}, {0.75f, 3, 0, 0.5f}};
    for (const Row& r : rows) {
        Update(Clocks::All(r.step));
        RunOnRenderThread([&] {
            EXPECT_EQ(e->currentFrame, r.current);
            EXPECT_EQ(e->nextFrame, r.next);
            EXPECT_NEAR(e->blend, r.blend, 1e-3);
            EXPECT_EQ(n->currentFrame, 3u);  // -1 wraps to the last frame
        });
    }
}

TEST_F(SFXElementTest, PointLightRangeAndItsPass) {
    SFXDefinition& d = Definition();
    auto* light = new SFXPointLightElementDefinition();
    light->range.SetConstantValue(Vector(3, 1, 0, 0));
    d.AddElement(light);
    SFXContext* c = Start(d);
    Update(Clocks::All(0.1f));
    auto* e = Element<SFXLightElementContext>(c, 0);
    RunOnRenderThread([&] {
        EXPECT_EQ(e->light->innerRange, 1.0f);
        EXPECT_EQ(e->light->outerRange, 3.0f);
        EXPECT_EQ(e->localBox.max.x, 3.0f);
        EXPECT_EQ(e->light->type, uint32_t(LIGHT_TYPE_POINT));
        const uint32_t before = gVornexRenderer.GatheredLights();
        c->RenderMain(1, 0, Vector(1, 1, 1, 1));  // not its pass
        EXPECT_EQ(gVornexRenderer.GatheredLights(), before);
    });
    EXPECT_EQ(d.passMask, 2u);
}

TEST_F(SFXElementTest, SoundStartsFadesAndStartsAgain) {
    SFXDefinition& d = Definition();
    auto* s = new SFXSoundElementDefinition();
    s->soundEntryName = NameString("Hum");
    Keys(s->soundStartEnvelope, {{0, 1}, {1, 0}, {2, 1}, {9, 1}}, true);
    d.AddElement(s);
    Start(d);
    Update(Clocks::All(0.5f));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"create", "play Hum"}));
    Calls().clear();
    Update(Clocks::All(0.6f));  // the start curve is 0: fade over 0.3 s
    EXPECT_EQ(Calls(), (std::vector<std::string>{"volume 100 0.000 0.30 0 own", "exit 100 own"}));
    Calls().clear();
    Update(Clocks::All(0.5f));
    EXPECT_TRUE(Calls().empty());  // nothing left to fade
    Update(Clocks::All(0.5f));     // 2.1 s: a new instance
    EXPECT_EQ(Calls(), (std::vector<std::string>{"move 0", "play Hum"}));
}

TEST_F(SFXElementTest, VolumeAndPositionFollowTheElement) {
    SFXSoundElementDefinition* s = nullptr;
    SFXDefinition& d = Definition();
    s = new SFXSoundElementDefinition();
    s->soundEntryName = NameString("Hum");
    Keys(s->volume, {{0, 1}, {1, 0.5f}}, true);
    Keys(s->position, {{0, 0}, {1, 7}}, true);
    d.AddElement(s);
    Start(d);
    Update(Clocks::All(0.5f));
    Calls().clear();
    Update(Clocks::All(0.6f));
    // Base volume (the entry's 0.5) × the new volume; the emitter moves with the element.
    EXPECT_EQ(Calls(), (std::vector<std::string>{"volume 100 0.250 0.00 0 own", "move 7"}));
}

TEST_F(SFXElementTest, SoundsThatNeverStartedAreNeverAddressed) {
    auto sound = [](SFXDefinition& d) {
        auto* s = new SFXSoundElementDefinition();
        s->soundEntryName = NameString("Hum");
        Keys(s->soundStartEnvelope, {{0, 1}, {1, 0}}, true);
        d.AddElement(s);
    };
    struct Row {
        const char* what;
        std::function<void(SFXContext*)> act;
    } rows[] = {
        {"stopped", [](SFXContext* c) { c->Stop(); }},
        {"faded", [](SFXContext* c) { c->FadeOutAndMute(1.0f, 1); }},
        {"set up again keeping states", [&](SFXContext* c) { c->Setup(c->Definition(), Matrix::IDENTITY, true, 0); }},
        {"released", [&](SFXContext* c) {
             c->Release();
             contexts.pop_back();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SFXDefinition& d = Definition();
        sound(d);
        SFXContext* c = Start(d);
        r.act(c);
        gVornexRenderer.FlushCommands(true);
        EXPECT_TRUE(Calls().empty());
        for (SFXContext* left : contexts) left->Release();
        contexts.clear();
        gVornexRenderer.FlushCommands(true);
        EXPECT_TRUE(Calls().empty());
    }
    // A start that gave nothing (id 0) is not addressed by the fade that follows.
    SoundRecorder::NextId() = 0;
    SFXDefinition& d = Definition();
    sound(d);
    Start(d);
    Update(Clocks::All(0.5f));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"create", "play Hum"}));
    Calls().clear();
    Update(Clocks::All(0.6f));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(SFXElementTest, SuppressedRestartAndTakeOver) {
    SFXDefinition& d = Definition();
    auto* s = new SFXSoundElementDefinition();
    s->soundEntryName = NameString("Hum");
    d.AddElement(s);
    SFXContext* c = Start(d, 1);
    Update(Clocks::All(0.1f));
    EXPECT_TRUE(Calls().empty());  // the suppressed start posts nothing

    SFXContext* other = Start(d);
    Update(Clocks::All(0.1f));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"create", "play Hum"}));
    Calls().clear();
    other->Setup(&d, Matrix::IDENTITY, true, 0);  // the new element takes the playing id
    gVornexRenderer.FlushCommands(true);
    EXPECT_TRUE(Calls().empty());  // the old one forgot it: freeing it stops nothing
    auto* e = Element<SFXSoundElementContext>(other, 0);
    RunOnRenderThread([&] { EXPECT_EQ(e->soundId, 100u); });
    other->Stop();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"volume 100 0.000 0.00 0 own", "exit 100 own"}));
    (void)c;
}

TEST_F(SFXElementTest, LensFlareFadesByBandWithTheIntegerAspect) {
    // With identity view and projection the screen position is the translation itself.
    gVornexRenderer.SetCamera(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY);
    gVornexRenderer.FlushCommands(true);
    SFXQuadElementDefinition q;
    q.renderAsLensFlare = true;
    struct Row {
        float distance, x, y;
        float fade, px, py;  // fade and screen position
    } rows[] = {
        {0.5f, 0.8f, 0.1f, 0.5f, -0.4f, -0.05f},  // in the band, far out: (1 - d) x 2.5
        {0.5f, 0.2f, 0.0f, 0.8f, -0.1f, 0.0f},    // near the centre: d + 0.6
        {0.5f, 0.5f, -0.5f, 1.0f, -0.25f, 0.25f},
        {-0.99f, 0.95f, 0.0f, 0.5f, 0.95f, 0.0f},  // out of the band: kept; (1 - d) x 10
        {2.0f, 0.3f, 0.0f, 1.0f, 0.3f, 0.0f},
    };
    RunOnRenderThread([&] {
        const uint32_t a = gVornexRenderer.RenderHeight() * 1024 / gVornexRenderer.RenderWidth();
        ASSERT_GT(a, 0u);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.x);
            q.flareDistance = r.distance;
            Matrix world;
            world.LoadScale(2, 3, 1);
            world.r[3] = Vector(r.x, r.y, 0.5f, 1);
            Vector colour(1, 1, 1, 1);
            Matrix model;
            ASSERT_TRUE(q.LensFlareMatrix(world, colour, model));
            EXPECT_NEAR(colour.w, r.fade, 1e-5);
            EXPECT_NEAR(model.r[0].x, 2.0f / 1024.0f, 1e-7);
            EXPECT_NEAR(model.r[1].y, 3.0f / float(a), 1e-7);
            EXPECT_EQ(model.r[2].z, 0.0f);
            EXPECT_NEAR(model.r[3].x, r.px - 0.5f * 2.0f / 1024.0f, 1e-5);
            EXPECT_NEAR(model.r[3].y, r.py - 0.5f * 3.0f / float(a), 1e-5);
        }
    });
}

TEST_F(SFXElementTest, ParticleElementSpawnsOnTransitionsWithTheProduct) {
    RunOnRenderThread([] { ParticleSystemInstance::InitGlobals({4096, 4096, false, 1.0f}); });
    MeshTemplate meshStandIn;  // the definition's mesh template (no data), with the definition's use
    meshStandIn.AddRef();
    ParticleTemplate particles;
    particles.definition.spawnRate = 20.0f;
    particles.definition.meshTemplate = &meshStandIn;
    EntityTemplateStub stub;
    stub.guid.bytes[0] = 0x42;
    stub.SetTemplate(&particles);
    ASSERT_TRUE(gEntityTemplateRegistry.InsertStub(&stub));
    {
        SFXDefinition& d = Definition();
        auto* p = new SFXParticleElementDefinition();
        p->templateGuid = stub.guid;
        Keys(p->spawnRateMultiplier, {{0, 2}, {1, 0}, {2, -1}, {3, 0.5f}}, true);
        d.AddElement(p);
        SFXContext* c = Start(d);
        c->SetSpawnRateMultiplier(3.0f);
        gVornexRenderer.FlushCommands(true);
        auto* e = Element<SFXParticleElementContext>(c, 0);
        struct Row {
            float step;
            bool spawning;
            float product;
        } rows[] = {{0.5f, true, 6.0f}, {1.0f, false, 0.0f}, {1.0f, false, 0.0f}, {1.0f, true, 1.5f}};
        for (const Row& r : rows) {
            Update(Clocks::All(r.step));
            RunOnRenderThread([&] {
                ASSERT_NE(e->instance, nullptr);
                EXPECT_EQ(e->spawning != 0, r.spawning);
                EXPECT_EQ(e->instance->IsSpawning(), r.spawning);
                EXPECT_FLOAT_EQ(e->spawnMultiplierInForce, r.product);
            });
        }
        c->SetSpawnRateMultiplier(-2.0f);  // stored as 0
        gVornexRenderer.FlushCommands(true);
        Update(Clocks::All(0.1f));
        RunOnRenderThread([&] { EXPECT_FLOAT_EQ(e->spawnMultiplierInForce, 0.0f); });
        for (SFXContext* x : contexts) x->Release();
        contexts.clear();
        gVornexRenderer.FlushCommands(true);
        definitions.clear();
    }
    EXPECT_EQ(meshStandIn.GetUseCount(), 1u);  // the instance released only the use it was given
    gEntityTemplateRegistry.RemoveStub(&stub);
    RunOnRenderThread([] { ParticleSystemInstance::ReleaseGlobals(); });
}

}  // namespace
