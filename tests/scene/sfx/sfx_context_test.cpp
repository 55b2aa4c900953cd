// test-sanitize: address thread
// test-timeout: 600
// Effects on the real render thread. Contexts: every sub-command's effect, set-up with and
// without kept states, the per-frame update (clocks, finishing, the published box and the
// face-camera cube, leaving the update list), the draw walk's filters and colour. The
// element runtime: quad frames (random and by curve), light ranges and their registration,
// and the sound element against recording sound entries: starting, fading, suppressed
// starts, take-over, volume and position, and no command at all for a sound that never
// started. Effect entities with test schedulers on a stepped clock: the start on game
// entry or after the activation delay, AdvanceTime through a pending start, deletion after
// the effect finished, SetDeleteAtStop, BreakLoop(nil) cancelling the delayed start, the
// render flags of the pass mask, the random delays, the bounding-box timer and the
// template preview. Definitions: the template's stored form against the independent writer
// (every default, every kind, written back byte for byte), the view mask, the frame layout,
// the quad's option text, template references of the wrong type, and stripping disabled
// elements. The mesh element with a real mesh template (tests/support/mesh_block.py) and
// clips from tests/support/anim_file.py: the element plays its "Animation" at the node
// "root" on the render thread with its progress curve, and its bone palette equals the
// palette of a controller posed directly at that progress; the box, the preset fallback
// and the pass mask come from the template; "Animation" naming no clip, or a definition
// without data, plays nothing; a template change rebinds the element (RefreshMeshTemplate,
// sub-command 16) once the render thread is idle, also for effect entities when the mesh
// template tells its users of a change.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../animation/MeshEntityFixture.h"
#include "CaptureLogSink.h"
#include "SFXTestSupport.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/ScriptScheduler.h"
#include "engine/services/GameServices.h"
#include "render/scene/RendererLight.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneCommand.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/sfx/SFXElementContexts.h"
#include "scene/sfx/SFXEntity.h"

using namespace rendertest;
using namespace sfxtest;

namespace {

struct SFXContextTest : RendererFixture {
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
    SFXContext* Context(SFXDefinition& d, uint32_t flags = 0) {
        d.ResolveElements(false);
        contexts.push_back(MakeContext(d, flags));
        return contexts.back();
    }
    // A started context of d.
    SFXContext* Start(SFXDefinition& d, uint8_t suppressSound = 0) {
        SFXContext* c = Context(d);
        c->Restart(1, suppressSound);
        gVornexRenderer.FlushCommands(true);
        return c;
    }
    template <class T>
    T* Element(SFXContext* c, uint32_t i) {
        T* e = nullptr;
        RunOnRenderThread([&] { e = static_cast<T*>(c->ElementContexts()[i]); });
        return e;
    }
    std::vector<std::string>& Calls() { return SoundRecorder::Calls(); }
    // A render-thread read of the context.
    template <class F>
    void Inspect(F f) {
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread(f);
    }

    std::vector<std::unique_ptr<SFXDefinition>> definitions;
    std::vector<SFXContext*> contexts;
};

TEST_F(SFXContextTest, SubCommandsChangeWhatTheyName) {
    SFXDefinition& d = Definition();
    d.AddElement(Quad("a"));
    d.AddElement(Quad("b"));
    d.AddElement(Quad(nullptr));
    SFXContext* c = Context(d);
    struct Row {
        const char* what;
        std::function<void()> post;
        std::function<void(SFXContext*)> check;
    };
    const Vector red(1, 0, 0, 1), white(1, 1, 1, 1), blue(0, 0, 1, 1);
    const Row rows[] = {
        {"restart runs", [&] { c->Restart(1, 0); }, [](SFXContext* x) { EXPECT_TRUE(x->Running()); }},
        {"speed -1 stored as 0", [&] { c->SetSpeedMultiplier(-1.0f); },
         [](SFXContext* x) { EXPECT_EQ(x->SpeedMultiplier(), 0.0f); }},
        {"speed 2", [&] { c->SetSpeedMultiplier(2.0f); }, [](SFXContext* x) { EXPECT_EQ(x->SpeedMultiplier(), 2.0f); }},
        {"spawn rate -3 stored as 0", [&] { c->SetSpawnRateMultiplier(-3.0f); },
         [](SFXContext* x) { EXPECT_EQ(x->SpawnRateMultiplier(), 0.0f); }},
        {"colour of b only", [&] { c->SetElementLocalColor("b", red); },
         [&](SFXContext* x) {
             EXPECT_EQ(x->ElementContexts()[0]->localColor, white);
             EXPECT_EQ(x->ElementContexts()[1]->localColor, red);
             EXPECT_EQ(x->ElementContexts()[2]->localColor, white);
         }},
        {"an unmatched name changes nothing", [&] { c->SetElementLocalColor("zz", blue); },
         [&](SFXContext* x) { EXPECT_EQ(x->ElementContexts()[0]->localColor, white); }},
        {"a null name matches no element", [&] { c->SetElementLocalColor(nullptr, blue); },
         [&](SFXContext* x) { EXPECT_EQ(x->ElementContexts()[2]->localColor, white); }},
        {"colour of all", [&] { c->SetLocalColorAll(blue); },
         [&](SFXContext* x) {
             for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(x->ElementContexts()[i]->localColor, blue);
         }},
        {"pass masks", [&] { c->SetPassMasks(0xF0, 0x3); },
         [](SFXContext* x) {
             EXPECT_EQ(x->PassAndMask(), 0xF0u);
             EXPECT_EQ(x->PassOrMask(), 0x3u);
         }},
        {"ids 3 and 17 and an index out of range do nothing",
         [&] {
             PostObjectCall(&SFXContext::ExecuteRenderCommand, 3, c, 1.0f);
             PostObjectCall(&SFXContext::ExecuteRenderCommand, 17, c, 1.0f);
             const SFXElementDefinition* e = d.elements[0];
             PostObjectCall(&SFXContext::ExecuteRenderCommand, SFX_CMD_REBIND_ELEMENT, c, 3u, e);
         },
         [](SFXContext* x) {
             EXPECT_TRUE(x->Running());
             EXPECT_EQ(x->ElementCount(), 3u);
         }},
        {"advance moves every state", [&] { c->AdvanceTime(0.25f); },
         [](SFXContext* x) {
             for (uint32_t i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(x->ElementContexts()[i]->states[SFX_STATE_POSITION].time, 0.25f);
         }},
        {"stop", [&] { c->Stop(); }, [](SFXContext* x) { EXPECT_FALSE(x->Running()); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        r.post();
        Inspect([&] { r.check(c); });
    }
}

TEST_F(SFXContextTest, BreakAndActivateLoopsByName) {
    SFXDefinition& d = Definition();
    SFXQuadElementDefinition* a = Quad("a");
    SFXQuadElementDefinition* b = Quad("b");
    Keys(a->position, {{0, 0}, {4, 4}});
    Keys(b->position, {{0, 0}, {4, 4}});
    Loop(a->position, "L", 0, 1);
    Loop(b->position, "M", 0, 1);
    d.AddElement(a);
    d.AddElement(b);
    SFXContext* c = Context(d);
    auto broken = [&](uint32_t i) {
        uint32_t bits = 0;
        Inspect([&] { bits = c->ElementContexts()[i]->states[SFX_STATE_POSITION].brokenLoops; });
        return bits;
    };
    c->BreakLoop("nothing");
    EXPECT_EQ(broken(0), 0u);
    c->BreakLoop("L");
    EXPECT_EQ(broken(0), 1u);
    EXPECT_EQ(broken(1), 0u);
    c->ActivateLoop("L");
    EXPECT_EQ(broken(0), 0u);
    c->BreakLoop(nullptr);  // every loop of every element
    EXPECT_EQ(broken(0), 0xFFFFFFFFu);
    EXPECT_EQ(broken(1), 0xFFFFFFFFu);
    // A name longer than any fixed record goes whole.
    const std::string longName(5000, 'x');
    c->BreakLoop(longName.c_str());
    EXPECT_EQ(broken(1), 0xFFFFFFFFu);
}

TEST_F(SFXContextTest, SetupKeepsStatesOnlyForAnEqualCount) {
    SFXDefinition& d = Definition();
    d.AddElement(Quad("a"));
    d.AddElement(Quad("b"));
    SFXContext* c = Context(d);
    c->AdvanceTime(0.5f);
    auto time = [&](uint32_t i) {
        float t = -1.0f;
        Inspect([&] { t = c->ElementContexts()[i] ? c->ElementContexts()[i]->states[SFX_STATE_SCALE].time : -2.0f; });
        return t;
    };
    c->Setup(&d, Matrix::IDENTITY, true, 0);
    EXPECT_FLOAT_EQ(time(0), 0.5f);
    EXPECT_FLOAT_EQ(time(1), 0.5f);
    c->Setup(&d, Matrix::IDENTITY, false, 0);
    EXPECT_FLOAT_EQ(time(0), 0.0f);

    c->AdvanceTime(0.5f);
    d.elements[1]->enabled = false;
    d.AddElement(Quad("c"));
    d.ResolveElements(false);
    c->Setup(&d, Matrix::IDENTITY, true, 0);  // three now: every element restarts
    EXPECT_FLOAT_EQ(time(0), 0.0f);
    EXPECT_FLOAT_EQ(time(1), -2.0f);  // disabled: no context
    EXPECT_FLOAT_EQ(time(2), 0.0f);
    Inspect([&] { EXPECT_EQ(SFXContext::ReplacementsApplied(), SFXContext::ReplacementsPosted()); });
}

TEST_F(SFXContextTest, TheFlagsChooseTheClock) {
    struct Row {
        uint32_t flags;
        float time;
    } rows[] = {{SFX_CONTEXT_CLOCK_SYSTEM, 0.1f},
                {SFX_CONTEXT_CLOCK_GAMEPLAY, 0.3f},
                {0, 0.2f},
                {SFX_CONTEXT_CLOCK_SYSTEM | SFX_CONTEXT_CLOCK_GAMEPLAY, 0.1f}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.flags);
        SFXDefinition& d = Definition();
        d.AddElement(Quad());
        SFXContext* c = Context(d, r.flags);
        c->Restart(1, 0);
        c->SetSpeedMultiplier(2.0f);
        gVornexRenderer.FlushCommands(true);
        Update(Clocks{});
        Inspect([&] { EXPECT_FLOAT_EQ(c->Time(), 2.0f * r.time); });
    }
}

TEST_F(SFXContextTest, FinishingAndTheEmptyDefinition) {
    SFXDefinition& empty = Definition();
    SFXContext* e = Context(empty);
    e->Restart(1, 0);
    SFXDefinition& d = Definition();
    SFXQuadElementDefinition* q = Quad();
    Keys(q->position, {{0, 0}, {1, 1}});
    d.AddElement(q);
    SFXContext* c = Context(d);
    c->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(e->Finished());
    Update(Clocks::All(0.5f));
    EXPECT_TRUE(e->Finished());   // nothing to play: finished after one update
    EXPECT_FALSE(c->Finished());  // half-way through its curve
    Update(Clocks::All(0.6f));
    EXPECT_TRUE(c->Finished());
}

TEST_F(SFXContextTest, PublishedBoxGrowsByTheMarginAndScales) {
    SFXDefinition& d = Definition();
    d.scaleForAllElements = Vector(2, 2, 2, 1);
    SFXQuadElementDefinition* plain = Quad();
    d.AddElement(plain);
    SFXContext* c = Context(d);
    c->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    BoundingBox4 box;
    EXPECT_FALSE(c->FetchBoundingBox(&box));
    Update(Clocks::All(0.1f));
    ASSERT_TRUE(c->FetchBoundingBox(&box));
    EXPECT_FALSE(c->FetchBoundingBox(&box));  // once per publication
    const float m = 0.01f;
    EXPECT_NEAR(box.min.x, -1.0f - m, 1e-5);
    EXPECT_NEAR(box.max.y, 1.0f + m, 1e-5);
    EXPECT_NEAR(box.min.z, -m, 1e-5);
    EXPECT_NEAR(box.max.z, m, 1e-5);
    Update(Clocks::All(0.1f));
    EXPECT_TRUE(c->FetchBoundingBox(&box));

    // A face-camera element: a cube of the largest coordinate about the origin.
    SFXDefinition& f = Definition();
    SFXQuadElementDefinition* facing = Quad();
    facing->faceCameraMode = SFX_FACE_SCREEN_FULL;
    facing->scale.SetConstantValue(Vector(3, 1, 1, 0));
    f.AddElement(facing);
    SFXContext* fc = Context(f);
    fc->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    Update(Clocks::All(0.1f));
    ASSERT_TRUE(fc->FetchBoundingBox(&box));
    EXPECT_NEAR(box.min.z, -1.5f - m, 1e-5);
    EXPECT_NEAR(box.max.y, 1.5f + m, 1e-5);
}

TEST_F(SFXContextTest, UndrawnContextsLeaveTheUpdateListAfterThreeFrames) {
    SFXDefinition& d = Definition();
    d.AddElement(Quad());
    SFXContext* c = Context(d, SFX_CONTEXT_DROP_UNDRAWN);
    SFXContext* kept = Context(d, 0);
    c->Restart(1, 0);
    kept->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    Update(Clocks::All(0.1f));
    Inspect([&] { EXPECT_TRUE(c->Linked()); });
    for (int i = 0; i < 4; ++i) {
        BeginFrame();
        EndFrame();
    }
    Update(Clocks::All(0.1f));
    Inspect([&] {
        EXPECT_FALSE(c->Linked());
        EXPECT_TRUE(kept->Linked());
    });
    Inspect([&] { c->RenderMain(16, 0, Vector(1, 1, 1, 1)); });  // drawn again: linked again
    Inspect([&] { EXPECT_TRUE(c->Linked()); });
}

// An element kind that records its draws.
struct DrawRecord {
    uint32_t element;
    Vector colour;
    uint32_t pass;
};
std::vector<DrawRecord> gDrawn;

class RecordingElement : public SFXElementDefinition {
public:
    explicit RecordingElement(uint32_t id, uint32_t mask, bool mesh = false) : id(id), mesh(mesh) { passMask = mask; }
    bool IsMeshElement() const override { return mesh; }
    SFXElementContext* CreateContext() const override { return new SFXElementContext(); }
    void Render(SFXElementContext*, const Matrix&, const Vector& colour, uint32_t pass) override {
        gDrawn.push_back({id, colour, pass});
    }
    void Resolve(bool load) override {
        const uint32_t mask = passMask;
        SFXElementDefinition::Resolve(load);
        passMask = mask;
    }
    uint32_t id;
    bool mesh;
};

TEST_F(SFXContextTest, DrawsFilterByViewAndPassAndComposeTheColour) {
    SFXDefinition& d = Definition();
    auto* plain = new RecordingElement(0, 17);
    auto* tacticalOnly = new RecordingElement(1, 17);
    tacticalOnly->visibleInCombatView = false;
    auto* light = new RecordingElement(2, 2);
    auto* invisible = new RecordingElement(3, 17);
    invisible->color.SetConstantValue(HDRColor{255, 255, 255, 0, 1.0f});  // alpha 0: skipped
    auto* mesh = new RecordingElement(4, 17, true);
    mesh->useFSEColorMult = false;
    for (SFXElementDefinition* e : std::initializer_list<SFXElementDefinition*>{plain, tacticalOnly, light, invisible, mesh})
        d.AddElement(e);
    SFXContext* c = Context(d);
    c->SetElementLocalColor(nullptr, Vector(1, 1, 1, 1));
    c->PostSetLocalColor(Vector(0.5f, 1, 1, 1));
    c->PostSetColor(Vector(1, 0, 1, 1));  // the effect template's wireframe colour: no tint
    struct Row {
        uint32_t pass, flags;
        std::vector<uint32_t> drawn;
    } rows[] = {
        {1, 0, {0, 4}},           // combat view (bit 1): the tactical-only element is left out
        {16, 0x1000, {0, 1, 4}},  // tactical view (bit 2)
        {2, 0, {2}},              // pass 2: the light only
        {1, 0x1, {}},             // flag value 1: nothing
        {1, 0x10, {4}},           // flag 16: mesh elements only
        {1, 0x2000, {}},          // tactical extended (bit 4): none is visible there
    };
    gDrawn.clear();
    Inspect([&] { c->RenderMain(1, 0, Vector(1, 1, 1, 1)); });  // not running: nothing
    EXPECT_TRUE(gDrawn.empty());
    c->Restart(1, 0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.pass);
        gDrawn.clear();
        Inspect([&] { c->RenderMain(r.pass, r.flags, Vector(1, 1, 1, 0.5f)); });
        std::vector<uint32_t> got;
        for (const DrawRecord& x : gDrawn) got.push_back(x.element);
        EXPECT_EQ(got, r.drawn);
        for (const DrawRecord& x : gDrawn) {
            // The context colour (0.5 red) × the given colour (alpha 0.5) × white elements.
            EXPECT_FLOAT_EQ(x.colour.x, 0.5f);
            EXPECT_FLOAT_EQ(x.colour.y, 1.0f);
            EXPECT_FLOAT_EQ(x.colour.w, 0.5f);
            EXPECT_EQ(x.pass, r.pass);
        }
    }
    // The AND and OR masks apply to the flags first.
    c->SetPassMasks(~0x1u, 0x1000);
    gDrawn.clear();
    Inspect([&] { c->RenderMain(1, 0x1, Vector(1, 1, 1, 1)); });
    EXPECT_EQ(gDrawn.size(), 3u);  // flag 1 masked away, tactical view forced
}

TEST_F(SFXContextTest, TheSceneMultiplierAppliesWhereBothAskForIt) {
    ASSERT_NE(gRendererScene, nullptr);
    gRendererScene->PostInit();
    gVornexRenderer.FlushCommands(true);
    SFXDefinition& d = Definition();
    auto* with = new RecordingElement(0, 17);
    auto* without = new RecordingElement(1, 17);
    without->useFSEColorMult = false;
    auto* tinted = new RecordingElement(2, 17);
    tinted->color.SetConstantValue(HDRColor{255, 255, 255, 255, 2.0f});  // intensity 2
    d.AddElement(with);
    d.AddElement(without);
    d.AddElement(tinted);
    SFXContext* c = Context(d);
    c->Restart(1, 0);
    gDrawn.clear();
    Inspect([&] {
        SceneParametersWrapper* set = gRendererScene->GetCurrentParameters();
        ASSERT_NE(set, nullptr);
        set->Values().rest.sfxColorMultiplier = HDRColor{255, 255, 255, 255, 0.5f};
        c->RenderMain(1, 0, Vector(1, 1, 1, 1));
    });
    ASSERT_EQ(gDrawn.size(), 3u);
    const Vector fse = HDRColor{255, 255, 255, 255, 0.5f}.ToLinearVector();
    const Vector own = HDRColor{255, 255, 255, 255, 2.0f}.ToLinearVector();
    ASSERT_LT(fse.x, 1.0f);
    EXPECT_FLOAT_EQ(gDrawn[0].colour.x, fse.x);          // × the scene's multiplier
    EXPECT_FLOAT_EQ(gDrawn[1].colour.x, 1.0f);           // the element opts out
    EXPECT_FLOAT_EQ(gDrawn[2].colour.x, own.x * fse.x);  // its own linear colour first
    EXPECT_FLOAT_EQ(gDrawn[0].colour.w, fse.w);
    Inspect([&] { gRendererScene->GetCurrentParameters()->Values().rest.sfxColorMultiplier = HDRColor{255, 255, 255, 255, 1.0f}; });
    gRendererScene->PostShutdown();
    gVornexRenderer.FlushCommands(true);
}

TEST_F(SFXContextTest, ReapplyKeepsStatesAndAnEditRestarts) {
    SFXDefinition& d = Definition();
    d.AddElement(Quad("a"));
    SFXContext* c = Context(d);
    c->AdvanceTime(0.75f);
    auto time = [&] {
        float t = -1.0f;
        Inspect([&] { t = c->ElementContexts()[0]->states[SFX_STATE_POSITION].time; });
        return t;
    };
    ASSERT_FLOAT_EQ(time(), 0.75f);
    SFXContext::ReapplyAll();
    EXPECT_FLOAT_EQ(time(), 0.75f);
    d.OnPropertyChanged("Delete timeout");
    EXPECT_FLOAT_EQ(time(), 0.0f);
    d.elements[0]->OnPropertyChanged("Pivot");
    c->AdvanceTime(0.5f);
    EXPECT_FLOAT_EQ(time(), 0.5f);
}

TEST_F(SFXContextTest, DefinitionChangesWaitForTheRenderThread) {
    auto owned = std::make_unique<SFXDefinition>();  // empty: its context still reads it
    SFXContext* empty = MakeContext(*owned);
    empty->Restart(1, 0);
    SFXDefinition& d = Definition();
    d.AddElement(Quad("kept"));
    d.AddElement(Quad("gone"));
    d.elements[1]->enabled = false;
    Context(d)->Restart(1, 0);
    struct Row {
        const char* what;
        std::function<void()> change;
    } rows[] = {
        {"stripping disabled elements", [&] { d.StripDisabledElements(); }},
        {"deleting an empty definition after its context's release",
         [&] {
             empty->Release();
             owned.reset();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        // A slow frame queued ahead, as if it were still updating the contexts.
        std::atomic<bool> done{false};
        const std::function<void()> slowFrame = [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            SFXContext::UpdateAll(Clocks{}.c);
            done = true;
        };
        PostCall(&slowFrame);
        r.change();
        EXPECT_TRUE(done.load());
        gVornexRenderer.FlushCommands(true);
    }
    EXPECT_EQ(d.elements.Count(), 1u);
}

// ---- The element runtime ----

using SFXElementTest = SFXContextTest;

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

// The element that takes over a playing sound takes its base volume (the entry's) with
// it: its later volume changes are base x volume, as before the take-over.
TEST_F(SFXElementTest, ATakenOverSoundKeepsItsBaseVolume) {
    SFXDefinition& d = Definition();
    auto* s = new SFXSoundElementDefinition();
    s->soundEntryName = NameString("Hum");
    Keys(s->volume, {{0, 1}, {1, 0.5f}}, true);
    d.AddElement(s);
    SFXContext* c = Start(d);
    Update(Clocks::All(0.5f));
    ASSERT_EQ(Calls(), (std::vector<std::string>{"create", "play Hum"}));
    c->Setup(&d, Matrix::IDENTITY, true, 0);  // the new element takes the playing sound
    gVornexRenderer.FlushCommands(true);
    auto* e = Element<SFXSoundElementContext>(c, 0);
    RunOnRenderThread([&] { EXPECT_EQ(e->baseVolume, SoundRecorder::EntryVolume()); });
    Calls().clear();
    Update(Clocks::All(0.6f));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"volume 100 0.250 0.00 0 own"}));
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

// ---- Effect entities ----

constexpr int64_t kTicksPerSecond = 10000000;

struct Schedulers {
    static ScriptScheduler& Game() {
        static ScriptScheduler s;
        return s;
    }
    static ScriptScheduler& Global() {
        static ScriptScheduler s;
        return s;
    }
    static int64_t& Now() {
        static int64_t now = 0;
        return now;
    }
};

// The Game's schedulers: the global one for system time, the game one otherwise.
struct SchedulerGame : GameServices {
    ScriptScheduler* SelectScheduler(uint32_t selection, int64_t* now) override {
        *now = Schedulers::Now();
        return selection == SCRIPTCALL_SYSTEMTIME ? &Schedulers::Global() : &Schedulers::Game();
    }
};

struct SFXEntityTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        Schedulers::Now() = kTicksPerSecond;
        SetGameServices(&game);
        gEntityManager->Init(BoundingBox4(Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)), 10.0f);
        SFXSeedEntityDelays(7);
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gVornexRenderer.FlushCommands(true);
        Schedulers::Game().Clear();
        Schedulers::Global().Clear();
        SetGameServices(nullptr);
        templates.clear();
        RendererFixture::TearDown();
    }
    SFXTemplate* Template(float startDelay, bool withCurve = true) {
        templates.push_back(std::make_unique<SFXTemplate>());
        SFXTemplate* t = templates.back().get();
        t->SetName("effect");
        t->activationAtStartDelay = startDelay;
        if (withCurve) {
            SFXQuadElementDefinition* q = Quad("q");
            Keys(q->position, {{0, 0}, {5, 5}});
            t->definition->AddElement(q);
        }
        t->definition->ResolveElements(false);
        return t;
    }
    SFXEntity* Make(SFXTemplate* t) {
        Entity* made = gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr);
        auto* e = dynamic_cast<SFXEntity*>(made);
        EXPECT_NE(e, nullptr);
        return e;
    }
    // Moves the clock on and runs what fell due.
    void Advance(float seconds) {
        Schedulers::Now() += int64_t(double(seconds) * kTicksPerSecond);
        Schedulers::Game().Run(Schedulers::Now());
        Schedulers::Global().Run(Schedulers::Now());
        gVornexRenderer.FlushCommands(true);
    }
    bool Running(SFXEntity* e) {
        bool running = false;
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] { running = e->Context() && e->Context()->Running(); });
        return running;
    }
    float ElementTime(SFXEntity* e) {
        float t = -1.0f;
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] { t = e->Context()->ElementContexts()[0]->states[SFX_STATE_POSITION].time; });
        return t;
    }
    static float Left(SFXEntity* e, uint32_t id, uint32_t flags = 0) { return e->GetScheduledCallbackTimeLeft(id, flags); }

    std::vector<std::unique_ptr<SFXTemplate>> templates;
    SchedulerGame game;
};

TEST_F(SFXEntityTest, StartsOnGameEntryOrAfterTheDelay) {
    SFXEntity* now = Make(Template(0.0f));
    now->InitTriggerActivation();
    EXPECT_TRUE(Running(now));
    EXPECT_GE(Left(now, SFX_CALLBACK_CHECK_FINISHED), 1.0f);
    EXPECT_LT(Left(now, SFX_CALLBACK_CHECK_FINISHED), 2.0f);
    EXPECT_FLOAT_EQ(Left(now, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME), 0.0f);

    SFXEntity* later = Make(Template(0.5f));
    later->InitTriggerActivation();
    EXPECT_FALSE(Running(later));
    EXPECT_NEAR(Left(later, SFX_CALLBACK_START), 0.5f, 1e-6);
    Advance(0.4f);
    EXPECT_FALSE(Running(later));
    Advance(0.1f);
    EXPECT_TRUE(Running(later));
}

TEST_F(SFXEntityTest, AdvanceTimeThroughAPendingStart) {
    SFXEntity* e = Make(Template(0.3f));
    e->InitTriggerActivation();
    e->AdvanceTime(0.1f);  // still 0.2 s to wait
    EXPECT_FALSE(Running(e));
    EXPECT_NEAR(Left(e, SFX_CALLBACK_START), 0.2f, 1e-5);
    e->AdvanceTime(0.9f);  // starts and plays the 0.7 s past the start
    EXPECT_TRUE(Running(e));
    EXPECT_LT(Left(e, SFX_CALLBACK_START), 0.0f);
    EXPECT_NEAR(ElementTime(e), 0.7f, 1e-5);
    e->AdvanceTime(0.5f);  // no start pending: the context itself
    EXPECT_NEAR(ElementTime(e), 1.2f, 1e-5);
}

TEST_F(SFXEntityTest, FinishedEffectsDeleteThemselvesUnlessTold) {
    SFXTemplate* t = Template(0.0f, false);  // no elements: finished at once
    t->definition->deleteTimeout = 2.0f;
    SFXEntity* e = Make(t);
    SFXEntity* kept = Make(t);
    const uint32_t live = gEntityManager->GetLiveEntityCount();
    e->InitTriggerActivation();
    kept->InitTriggerActivation();
    Update(Clocks::All(0.1f));
    kept->SetDeleteAtStop(false);
    EXPECT_LT(Left(kept, SFX_CALLBACK_CHECK_FINISHED), 0.0f);
    Advance(2.0f);  // the check: finished, deletion armed
    EXPECT_NEAR(Left(e, SFX_CALLBACK_DELETE), 2.0f, 1e-5);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live);
    Advance(2.0f);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), live - 1);
}

TEST_F(SFXEntityTest, BreakLoopWithoutNameCancelsTheDelayedStart) {
    SFXEntity* e = Make(Template(1.0f));
    e->InitTriggerActivation();
    e->BreakLoop("unknown");
    EXPECT_GT(Left(e, SFX_CALLBACK_START), 0.0f);
    e->BreakLoop(nullptr);
    EXPECT_LT(Left(e, SFX_CALLBACK_START), 0.0f);
    Advance(2.0f);
    EXPECT_FALSE(Running(e));
}

TEST_F(SFXEntityTest, BoundingBoxTimerSetsTheValidFlag) {
    SFXTemplate* t = Template(0.0f);
    t->constantBoundingBoxUpdate = true;
    SFXEntity* e = Make(t);
    e->InitTriggerActivation();
    Advance(0.0f);  // no box published yet: armed again
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & SFX_RENDER_BOX_VALID, 0u);
    EXPECT_FLOAT_EQ(Left(e, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME), 0.0f);
    Update(Clocks::All(0.1f));
    Advance(0.0f);
    EXPECT_NE(e->GetEnforcedRenderingFlags() & SFX_RENDER_BOX_VALID, 0u);
    const float next = Left(e, SFX_CALLBACK_BOUNDING_BOX, SCRIPTCALL_SYSTEMTIME);
    EXPECT_GE(next, 0.2f);
    EXPECT_LT(next, 0.4f);
}

TEST(SFXEntityRules, RenderFlagsOfThePassMask) {
    const struct {
        uint32_t mask, flags;
    } rows[] = {{2, 0x40}, {8, 0x80}, {17, 0x20}, {1, 0x20}, {16, 0x20}, {32, 0x200}, {0, 0}, {4, 0}, {59, 0x2E0}};
    for (const auto& r : rows) EXPECT_EQ(SFXRenderFlagsForPassMask(r.mask), r.flags) << r.mask;
}

TEST(SFXEntityRules, DelaysUseTheSeedBeforeTheStep) {
    SFXSeedEntityDelays(0);
    EXPECT_FLOAT_EQ(SFXNextEntityDelay(), 1.0f);  // (0 >> 16) / 65536 + 1
    const uint32_t second = 2531011u;
    EXPECT_FLOAT_EQ(SFXNextEntityDelay(), float(second >> 16) / 65536.0f + 1.0f);
    for (int i = 0; i < 1000; ++i) {
        const float d = SFXNextEntityDelay();
        EXPECT_GE(d, 1.0f);
        EXPECT_LT(d, 2.0f);
    }
}

TEST_F(SFXEntityTest, PreviewPlaysAndDrawsThroughTheImmediateTask) {
    SFXTemplate* t = Template(0.0f);
    SFXContext* preview = t->CreatePreview();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_TRUE(preview->Running());
        EXPECT_EQ(preview->ElementCount(), 1u);
        EXPECT_EQ(preview->ContextFlags() & SFX_CONTEXT_PREVIEW, uint32_t(SFX_CONTEXT_PREVIEW));
    });
    Matrix m = Matrix::IDENTITY;
    m.r[3] = Vector(4, 5, 6, 1);
    t->DrawPreview(preview, m);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_EQ(preview->World().r[3], Vector(4, 5, 6, 1));
        EXPECT_TRUE(preview->Linked());  // drawn in the immediate pass
    });
    t->DestroyPreview(preview);
}

// ---- Definitions ----

std::vector<uint8_t> Tool(const std::string& json) { return shelltest::PropList("sfxtemplate", json); }

std::vector<uint8_t> Write(const SFXTemplate& t) {
    std::vector<uint8_t> out(t.SolidSerialize(nullptr, 0));
    t.SolidSerialize(out.data(), 0);
    return out;
}

// Reads without resolving (nothing to load here).
bool Read(SFXTemplate& t, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    t.SolidDeserialize(in, 4);
    return !in.Failed() && in.Remaining() == 0;
}

TEST(SFXDefinitionTest, DefaultsMatchTheWriter) {
    SFXTemplate t;
    EXPECT_EQ(Write(t), Tool("{}"));

    // Every kind with its defaults, in the writer's order.
    const char* kinds[] = {"SFXQuadElementDefinition", "SFXParticleElementDefinition", "SFXMeshElementDefinition",
                           "SFXPointLightElementDefinition", "SFXSpotLightElementDefinition",
                           "SFXSoundElementDefinition"};
    std::string json = "{\"definition\": {\"elements\": [";
    for (const char* k : kinds) json += std::string(k == kinds[0] ? "" : ",") + "{\"class\": \"" + k + "\"}";
    json += "]}}";
    const std::vector<uint8_t> tool = Tool(json);
    SFXTemplate loaded;
    ASSERT_TRUE(Read(loaded, tool));
    ASSERT_EQ(loaded.definition->elements.Count(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(kinds[i]);
        SFXElementDefinition* e = loaded.definition->elements[i];
        EXPECT_STREQ(e->GetClassName(), kinds[i]);
        EXPECT_EQ(e->owner, loaded.definition);
        EXPECT_TRUE(e->enabled);
        EXPECT_EQ(e->visibleInTacticalExtended, SFX_TACTICAL_EXTENDED_FALSE);
    }
    auto* quad = static_cast<SFXQuadElementDefinition*>(loaded.definition->elements[0]);
    EXPECT_STREQ(quad->textureFileName.CStr(), "SFX/glow.dds");
    EXPECT_EQ(quad->blendingMode, uint32_t(SFX_BLEND_ADD_ALPHA));
    EXPECT_EQ(static_cast<SFXSpotLightElementDefinition*>(loaded.definition->elements[4])->spotWidth, 30.0f);
    EXPECT_EQ(Write(loaded), tool);
}

TEST(SFXDefinitionTest, EveryKindWithValuesWritesBackTheSameBytes) {
    const std::string json = R"({
      "template": {"lua_class": "Boom"},
      "own": {"Activity timer": 1, "Offscreen processing enabled": false, "Activation at start delay": 0.5,
              "Constant BoundingBox Update Enabled": true, "Use FSE SFX Color Multiplier": false},
      "definition": {"Delete timeout": 2.5, "Scale for all elements": [2, 3, 4, 1], "elements": [
        {"class": "SFXQuadElementDefinition", "Description": "flare", "Texture frames X": 2,
         "Texture frames Y": 2, "Render as lens flare": true, "Flare distance": 0.5,
         "Frame animation curve": {"key_times": [0, 3584], "keys": [[0, 0, 0, 0], [3.5, 0, 0, 0]],
                                   "loops": [[0, 1024, "L"]]},
         "Visible in tactical extended": 1, "Face camera mode": 2},
        {"class": "SFXParticleElementDefinition", "Particle template": "00112233445566778899aabbccddeeff",
         "Enabled": false},
        {"class": "SFXMeshElementDefinition", "Shader preset": "Glow", "Animation": "Walk",
         "AnimationProgress": {"key_times": [0, 1024], "keys": [[0, 0, 0, 0], [1, 0, 0, 0]]}},
        {"class": "SFXPointLightElementDefinition", "Mask texture": "mask.dds", "Draw light wireframe": true},
        {"class": "SFXSpotLightElementDefinition", "Spot width": 45, "Spot softness": 0.25},
        {"class": "SFXSoundElementDefinition", "Sound entry name": "Boom", "Sound channel": 3,
         "Color": {"kind": "color", "constant": [10, 20, 30, 40, 2.0]}}
      ]}})";
    const std::vector<uint8_t> tool = Tool(json);
    SFXTemplate t;
    ASSERT_TRUE(Read(t, tool));
    EXPECT_EQ(t.activityTimer, SFX_TIMER_SYSTEM);
    EXPECT_FALSE(t.useFSEColorMultiplier);
    const SFXDefinition& d = *t.definition;
    EXPECT_EQ(d.deleteTimeout, 2.5f);
    ASSERT_EQ(d.elements.Count(), 6u);
    auto* quad = static_cast<SFXQuadElementDefinition*>(d.elements[0]);
    EXPECT_STREQ(quad->description, "flare");
    EXPECT_TRUE(quad->renderAsLensFlare);
    EXPECT_EQ(quad->frameAnimationCurve.loops.Count(), 1u);
    EXPECT_FALSE(d.elements[1]->enabled);
    EXPECT_STREQ(static_cast<SFXMeshElementDefinition*>(d.elements[2])->animation.CStr(), "Walk");
    EXPECT_EQ(static_cast<SFXSoundElementDefinition*>(d.elements[5])->soundChannel, 3u);
    EXPECT_EQ(Write(t), tool);

    // A truncated blob fails cleanly.
    for (size_t cut : {tool.size() - 1, tool.size() / 2, size_t(100)}) {
        std::vector<uint8_t> part(tool.begin(), tool.begin() + cut);
        SFXTemplate broken;
        EXPECT_FALSE(Read(broken, part)) << cut;
    }
}

TEST(SFXDefinitionTest, ViewMaskTruthTable) {
    struct Row {
        bool combat, tactical;
        uint8_t extended;
        uint32_t mask;
    } rows[] = {
        {true, true, SFX_TACTICAL_EXTENDED_FALSE, 3},      {true, false, SFX_TACTICAL_EXTENDED_FALSE, 1},
        {false, true, SFX_TACTICAL_EXTENDED_SAME_AS_VR, 6}, {false, false, SFX_TACTICAL_EXTENDED_SAME_AS_VR, 0},
        {false, false, SFX_TACTICAL_EXTENDED_TRUE, 4},      {true, true, SFX_TACTICAL_EXTENDED_TRUE, 7},
    };
    for (const Row& r : rows) {
        SFXSoundElementDefinition e;
        e.visibleInCombatView = r.combat;
        e.visibleInTacticalView = r.tactical;
        e.visibleInTacticalExtended = r.extended;
        e.Resolve(false);
        EXPECT_EQ(e.viewMask, r.mask) << r.combat << r.tactical << int(r.extended);
        EXPECT_EQ(e.envelopeBindings.Count(), 6u);  // four base curves, start and volume
    }
}

TEST(SFXDefinitionTest, FrameLayoutAndOptionText) {
    struct Row {
        uint32_t x, y;
        bool softness;
        uint32_t count;
        float sizeX;
        const char* options;
    } rows[] = {
        {1, 1, false, 1, 1.0f, "TEXTURE "},
        {0, 5, false, 1, 1.0f, "TEXTURE "},  // X = 0: one frame, no division by zero
        {2, 2, false, 4, 0.5f, "TEXTURE TEXTURE_ANIMATION "},
        {4, 1, true, 4, 0.25f, "TEXTURE SOFTNESS TEXTURE_ANIMATION "},
        {1, 1, true, 1, 1.0f, "TEXTURE SOFTNESS "},
    };
    for (const Row& r : rows) {
        SFXQuadElementDefinition q;
        q.softness = r.softness;
        q.SetTextureFramesX(r.x);
        q.SetTextureFramesY(r.y);
        EXPECT_EQ(q.frameCount, r.count);
        EXPECT_FLOAT_EQ(q.frameSize.x, r.sizeX);
        EXPECT_FLOAT_EQ(q.frameSize.z, r.sizeX);
        char text[96];
        q.ShaderOptions(text, sizeof text);
        EXPECT_STREQ(text, r.options);
    }
}

// Templates in the registry's GUID index for the test's length.
class SFXResolveTest : public testing::Test {
protected:
    void SetUp() override { log.Attach(); }
    void TearDown() override {
        log.Detach();
        for (auto& s : stubs) gEntityTemplateRegistry.RemoveStub(s.get());
        templates.clear();
        stubs.clear();
    }
    SimpleGUID Register(uint32_t typeId, uint8_t id, const char* name) {
        templates.push_back(std::make_unique<EntityTemplate>());
        templates.back()->typeId = typeId;
        templates.back()->SetName(name);
        stubs.push_back(std::make_unique<EntityTemplateStub>());
        EntityTemplateStub* s = stubs.back().get();
        s->guid = SimpleGUID();
        s->guid.bytes[0] = id;
        s->guid.bytes[15] = 0x5F;
        s->SetTemplate(templates.back().get());
        EXPECT_TRUE(gEntityTemplateRegistry.InsertStub(s));
        return s->guid;
    }
    CaptureLogSink log;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<std::unique_ptr<EntityTemplateStub>> stubs;
};

TEST_F(SFXResolveTest, WrongTemplateKindsAreLoggedAndDropped) {
    const SimpleGUID mesh = Register(1, 1, "rock");
    const SimpleGUID trigger = Register(4, 2, "zone");
    {
        SFXParticleElementDefinition p;
        p.templateGuid = mesh;
        p.Resolve(false);
        EXPECT_EQ(p.heldTemplate, nullptr);
        EXPECT_TRUE(log.Contains("Template rock is not particle while used as such in SFX definition"));
        EXPECT_EQ(p.passMask, 17u);
        EXPECT_EQ(p.envelopeBindings.Count(), 5u);  // its curves still run
        EXPECT_NE(std::unique_ptr<SFXElementContext>(p.CreateContext()), nullptr);

        SFXMeshElementDefinition m;
        m.templateGuid = trigger;
        m.Resolve(false);
        EXPECT_EQ(m.heldTemplate, nullptr);
        EXPECT_TRUE(log.Contains("Template zone is not mesh while used as such in SFX definition"));
        m.templateGuid = mesh;
        m.Resolve(false);
        EXPECT_EQ(m.heldTemplate, templates[0].get());
        m.Resolve(false);  // the same template: still one use
        EXPECT_EQ(templates[0]->GetUseCount(), 1u);
    }
    EXPECT_EQ(templates[0]->GetUseCount(), 0u);
    EXPECT_EQ(templates[1]->GetUseCount(), 0u);
}

TEST(SFXDefinitionTest, StripDisabledElementsKeepsTheOrder) {
    SFXDefinition d;
    const bool enabled[] = {true, false, true};
    const char* names[] = {"first", "gone", "last"};
    for (int i = 0; i < 3; ++i) {
        auto* e = new SFXSoundElementDefinition();
        e->enabled = enabled[i];
        char* n = const_cast<char*>(names[i]);
        RTTIValueStore<char*>::Assign(e->description, n);
        d.AddElement(e);
    }
    d.StripDisabledElements();
    ASSERT_EQ(d.elements.Count(), 2u);
    EXPECT_STREQ(d.elements[0]->description, "first");
    EXPECT_STREQ(d.elements[1]->description, "last");
}

TEST(SFXDefinitionTest, LiveDefinitionsAreListed) {
    const uint32_t before = SFXDefinition::LiveCount();
    auto a = std::make_unique<SFXDefinition>();
    auto b = std::make_unique<SFXDefinition>();
    auto c = std::make_unique<SFXDefinition>();
    EXPECT_EQ(SFXDefinition::LiveCount(), before + 3);
    b.reset();
    uint32_t seen = 0;
    for (SFXDefinition* d = SFXDefinition::FirstLive(); d; d = d->NextLive()) seen += d == a.get() || d == c.get();
    EXPECT_EQ(seen, 2u);
    EXPECT_EQ(SFXDefinition::LiveCount(), before + 2);
}

// ---- Mesh elements ----

const char kTree[] =
    "[{'name': 'root', 'first': 0, 'count': 3, 'parent': 4294967295, 'child': 4294967295, 'sibling': 4294967295}]";

struct SFXMeshTest : animtest::MeshFixture {
    void SetUp() override {
        MeshFixture::SetUp();
        ASSERT_TRUE(shelltest::Shell(
            "echo '{\"length\": 1.0, \"tracks\": [{\"name\": \"fore\", \"rotation\": [[0, 0, 0, 0], [1, 0, 0, 0.7071]]}]}'"
            " | python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py write " + Path("animations", "bend.bin") +
            " >/dev/null"));
        arm = Template(animtest::ChainHierarchy({"upper", "fore", "hand"}, {-1, 0, 1}, {0, 1, 1}, kTree), "arm");
        arm->animations.Resize(2);
        arm->animations[0].name = NameString("Bend");
        arm->animations[0].fileName = NameString("bend");
        arm->animations[0].time = 2.0f;
        arm->animations[1].name = NameString("Empty");
        arm->animations[1].time = 1.0f;
        arm->LoadAnimations();
        stub.guid.bytes[0] = 0x77;
        stub.SetTemplate(arm);
        ASSERT_TRUE(gEntityTemplateRegistry.InsertStub(&stub));
    }
    void TearDown() override {
        for (SFXContext* c : contexts) c->Release();
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        definitions.clear();
        gEntityTemplateRegistry.RemoveStub(&stub);
        MeshFixture::TearDown();
    }
    SFXContext* Play(const char* animation, float progress) {
        definitions.push_back(std::make_unique<SFXDefinition>());
        SFXDefinition& d = *definitions.back();
        auto* m = new SFXMeshElementDefinition();
        m->templateGuid = stub.guid;
        m->animation = NameString(animation);
        m->animationProgress.SetConstantValue(Vector(progress, 0, 0, 0));
        d.AddElement(m);
        d.ResolveElements(false);
        contexts.push_back(MakeContext(d));
        contexts.back()->Restart(1, 0);
        gVornexRenderer.FlushCommands(true);
        return contexts.back();
    }

    MeshTemplate* arm = nullptr;
    EntityTemplateStub stub;
    std::unique_ptr<SFXTemplate> effect;
    std::vector<std::unique_ptr<SFXDefinition>> definitions;
    std::vector<SFXContext*> contexts;
};

TEST_F(SFXMeshTest, ThePaletteFollowsTheProgressCurve) {
    SFXContext* c = Play("Bend", 0.5f);
    Update(Clocks::All(0.1f));
    std::vector<float> palette;
    uint32_t bones = 0;
    float time = -1.0f;
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        ASSERT_NE(e->controller, nullptr);
        bones = e->controller->BoneCount();
        palette.assign(e->controller->Palette(), e->controller->Palette() + bones * 12);
        const AnimationChannelList& channel = e->controller->Channel(0);
        ASSERT_EQ(channel.Count(), 1u);
        time = static_cast<XSIAnimation*>(channel[0].Get())->Time();
    });
    EXPECT_EQ(bones, 3u);
    EXPECT_FLOAT_EQ(time, 1.0f);  // half of the definition's 2 s

    // The reference: a controller of its own posed with the same clip at the same progress.
    MeshAnimationController reference(*arm->GetHierarchy());
    AnimationParams p;
    p.OverrideProgress = 0.5f;
    p.AttackTime = 0.0f;
    ASSERT_TRUE(reference.StartAnimationByIndex(*arm, "root", 0, &p));
    AnimationPoseWorkspace workspace;
    reference.EvaluatePose(workspace, Matrix::IDENTITY, arm->xsiAnimationScale);
    ASSERT_EQ(palette.size(), size_t(reference.BoneCount()) * 12);
    for (size_t i = 0; i < palette.size(); ++i) EXPECT_NEAR(palette[i], reference.Palette()[i], 1e-5f) << i;
    // The bend moved the hand's bone away from the rest pose.
    EXPECT_GT(std::fabs(palette[24] - 1.0f), 0.01f);
}

TEST_F(SFXMeshTest, NoClipNoController) {
    for (const char* name : {"Missing", "Empty", ""}) {
        SCOPED_TRACE(name);
        SFXContext* c = Play(name, 0.5f);
        Update(Clocks::All(0.1f));
        RunOnRenderThread([&] {
            auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
            EXPECT_EQ(e->controller, nullptr);
            EXPECT_EQ(e->renderingData, arm->GetRenderingData());
        });
    }
}

TEST_F(SFXMeshTest, TemplateValuesAndTheRebind) {
    SFXContext* c = Play("Bend", 0.0f);
    const auto* m = static_cast<SFXMeshElementDefinition*>(definitions.back()->elements[0]);
    EXPECT_EQ(m->templateBox, arm->staticBoundingBox);
    EXPECT_EQ(m->presetIndex, 0u);  // "" and "Default" unknown: 0
    EXPECT_TRUE(m->IsMeshElement());
    EXPECT_EQ(m->passMask & 16u, 16u);
    Update(Clocks::All(0.1f));
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        EXPECT_EQ(e->localBox, arm->staticBoundingBox);
        e->renderingData = nullptr;  // stands for data that has since been replaced
    });
    // A slow job queued ahead: the element's box and preset change only once the render
    // thread, which draws with them, has finished it.
    std::atomic<bool> slowJobDone{false};
    const std::function<void()> slowJob = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        slowJobDone = true;
    };
    rendertest::PostCall(&slowJob);
    c->RefreshMeshTemplate(arm);
    EXPECT_TRUE(slowJobDone.load());
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        EXPECT_EQ(e->renderingData, arm->GetRenderingData());
        EXPECT_NE(e->controller, nullptr);  // the animation plays on
    });
}

TEST_F(SFXMeshTest, AMeshTemplateChangeReachesTheEffectEntities) {
    effect = std::make_unique<SFXTemplate>();
    auto* m = new SFXMeshElementDefinition();
    m->templateGuid = stub.guid;
    effect->definition->AddElement(m);
    effect->definition->ResolveElements(false);
    auto* e = dynamic_cast<SFXEntity*>(gEntityManager->CreateEntityFromTemplate(effect.get(), nullptr, Matrix::IDENTITY, 0, nullptr));
    ASSERT_NE(e, nullptr);
    ASSERT_NE(e->Context(), nullptr);
    e->Context()->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    Update(Clocks::All(0.1f));
    RunOnRenderThread([&] { static_cast<SFXMeshElementContext*>(e->Context()->ElementContexts()[0])->renderingData = nullptr; });
    arm->NotifyEntitiesOfChange();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_EQ(static_cast<SFXMeshElementContext*>(e->Context()->ElementContexts()[0])->renderingData,
                  arm->GetRenderingData());
    });
    // The entity, then its template (which holds a use of the mesh template), go first.
    gEntityManager->NewScene();
    gVornexRenderer.FlushCommands(true);
    effect.reset();
}

}  // namespace
