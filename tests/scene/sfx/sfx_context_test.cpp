// test-sanitize: address thread
// test-timeout: 600
// Effect contexts on the real render thread: every sub-command's effect, set-up with and
// without kept states, the per-frame update (clocks, finishing, the published box and
// the face-camera cube, leaving the update list), the draw walk's filters and colour.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "SFXTestSupport.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneCommand.h"
#include "render/scene/SceneParametersWrapper.h"

using namespace rendertest;
using namespace sfxtest;

namespace {

struct SFXContextTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
    }
    void TearDown() override {
        for (SFXContext* c : contexts) c->Release();
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        definitions.clear();
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
    Inspect([&] {
        c->RenderMain(1, 0, Vector(1, 1, 1, 1));  // not running: nothing
    });
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

}  // namespace
