// test-sources: ../../engine/NumpyReference.cpp
// Screens on the recording device: the tree draw (what draws, what becomes a hit
// candidate), the candidate hand-over, hit testing, pointer routing and the point
// conversions against the camera the screen posts.
#include "DrawTestSupport.h"
#include "engine/entity/Entity.h"
#include "engine/TestGameServices.h"
#include "render/scene/RendererScene.h"
#include "scene/entities/InGameUIEntity.h"
#include "ui/elements/UIScreen.h"

using namespace drawtest;
using rendertest::RunOnRenderThread;

namespace {

// Answers the input calls as told and counts them.
class InputElement : public UIElement {
public:
    explicit InputElement(bool accepts = false, bool drag = false) : accepts(accepts), drag(drag) {}
    bool OnPress() override { return ++presses, accepts; }
    bool OnRelease() override { return ++releases, false; }
    bool OnClick() override { return ++clicks, true; }
    bool OnPressLost(const Vector&) override { return ++lost, false; }
    bool AcceptsDrag() override { return drag; }
    bool OnDrag(const Vector&) override { return ++drags, true; }
    bool accepts, drag;
    int presses = 0, releases = 0, clicks = 0, lost = 0, drags = 0;
};

struct ScreenTest : UIDrawFixture {
    void SetUp() override {
        UIDrawFixture::SetUp();
        ASSERT_TRUE(created);
        SetUISizeOverride(256, 144);  // the client size: no letterbox
        screen = new UIScreen;
        screen->SetSize(256, 144);
    }
    void TearDown() override {
        if (screen) screen->Release();
        gVornexRenderer.FlushCommands(true);
        UIElement::FinishPendingDeletion();
        UIDrawFixture::TearDown();
    }
    // A child of the parent at (x, y) of w x h.
    template <class T = UIElement, class... A>
    T* Add(UIElement* parent, float x, float y, float w, float h, uint32_t flags = 0, A... args) {
        T* e = new T(args...);
        e->SetPosition(x, y, 0);
        e->SetSize(w, h);
        if (flags) e->RaiseFlag(flags, false);
        parent->AddChild(e);
        return e;
    }
    // One frame of the screen; the UI quads drawn (sum over the batched draws).
    uint32_t Frame(const Vector& pointer = Vector(0.5f, 0.5f, 0, 0)) {
        recorder->ClearDrawRecords();
        BeginFrame();
        screen->Render(256, 144, 0, 0, pointer);
        EndFrame();
        uint32_t quads = 0;
        for (const gfx::DrawRecord& d : IndexedUPDraws(Draws())) quads += d.primitiveCount / 2;
        return quads;
    }
    // A frame and the main thread's take of its candidates.
    uint32_t FrameAndUpdate(const Vector& cursor = Vector()) {
        const uint32_t quads = Frame();
        screen->Update(cursor);
        return quads;
    }
    // The normalised point of a UI point (no letterbox here).
    static Vector At(float x, float y) { return Vector(x / 256.0f, y / 144.0f, 0, 0); }

    UIScreen* screen = nullptr;
};

}  // namespace

TEST_F(ScreenTest, WhatDrawsAndWhatBecomesACandidate) {
    struct Row {
        const char* name;
        uint32_t parentFlags, childFlags;
        float childAlpha;
        uint32_t quads, candidates;
    } rows[] = {
        {"plain parent and child", 0, 0, 1, 2, 0},
        {"hidden parent: nothing of the subtree", UIFLAG_HIDDEN, UIFLAG_FOCUSABLEWITHMOUSE, 1, 0, 0},
        {"transparent parent: the child draws", UIFLAG_TRANSPARENT, 0, 1, 1, 0},
        {"alpha 0: no draw, still a candidate", 0, UIFLAG_FOCUSABLEWITHMOUSE, 0, 1, 1},
        {"alpha 0 drawn with DRAWZEROALPHA", 0, UIFLAG_DRAWZEROALPHA, 0, 2, 0},
        {"block focus: no candidate below", UIFLAG_BLOCKFOCUS, UIFLAG_FOCUSABLEWITHMOUSE, 1, 2, 0},
        {"block focus on the element itself", 0, UIFLAG_BLOCKFOCUS | UIFLAG_FOCUSABLEWITHMOUSE, 1, 2, 0},
        {"debug box: two quads", 0, UIFLAG_DRAWDEBUGBOX, 1, 3, 0},
    };
    for (const Row& r : rows) {
        UIElement* parent = Add(screen, 10, 10, 100, 100, r.parentFlags);
        UIElement* child = Add(parent, 5, 5, 20, 20, r.childFlags);
        child->SetLinearColor(1, 1, 1, r.childAlpha);
        EXPECT_EQ(FrameAndUpdate(), r.quads) << r.name;
        EXPECT_EQ(screen->CandidateCount(), r.candidates) << r.name;
        parent->Release();
    }
}

TEST_F(ScreenTest, AHiddenSubtreeDoesNotTickItsActions) {
    UIElement* parent = Add(screen, 0, 0, 10, 10, UIFLAG_HIDDEN);
    UIElement* child = Add(parent, 0, 0, 10, 10);
    child->Move(0.0f, Vector(50, 60, 0, 0), 0, 0);  // would land at once when ticked
    Frame();
    Vector seen;
    RunOnRenderThread([&] { seen = child->Render().position; });
    EXPECT_EQ(seen.x, 0.0f);
    parent->Show();
    Frame();
    RunOnRenderThread([&] { seen = child->Render().position; });
    EXPECT_EQ(seen.x, 50.0f);
}

TEST_F(ScreenTest, SixtyFiveFocusableElementsKeepSixtyFourAndLogTheError) {
    for (int i = 0; i < 65; ++i) Add(screen, float(i), 0, 2, 2, UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_TRANSPARENT);
    FrameAndUpdate();
    EXPECT_EQ(screen->CandidateCount(), 64u);
    EXPECT_TRUE(Logged("Too many UI selection candidates. Certain clicks might be ignored!"));
}

TEST_F(ScreenTest, ASetIsCollectedOnlyAfterTheLastOneWasTaken) {
    UIElement* a = Add(screen, 0, 0, 10, 10, UIFLAG_FOCUSABLEWITHMOUSE);
    Frame();
    EXPECT_EQ(screen->PublishedSets(), 1u);
    Add(screen, 20, 0, 10, 10, UIFLAG_FOCUSABLEWITHMOUSE);
    Frame();  // not taken yet: nothing collected, nothing published
    EXPECT_EQ(screen->PublishedSets(), 1u);
    screen->Update(Vector());
    EXPECT_EQ(screen->CandidateCount(), 1u);  // the first frame's set
    EXPECT_EQ(screen->TakenSets(), 1u);
    screen->Update(Vector());  // no new set: the copy stays
    EXPECT_EQ(screen->CandidateCount(), 1u);
    Frame();
    screen->Update(Vector());
    EXPECT_EQ(screen->CandidateCount(), 2u);
    EXPECT_EQ(screen->PublishedSets(), 2u);
    EXPECT_EQ(screen->FindHitCandidate(a->GetId()), 0);
}

TEST_F(ScreenTest, HitTestingPicksTheLastCandidateUnderThePoint) {
    UIElement* a = Add(screen, 0, 0, 128, 72, UIFLAG_FOCUSABLEWITHMOUSE);
    UIElement* b = Add(screen, 64, 36, 128, 72, UIFLAG_FOCUSABLEWITHMOUSE);
    FrameAndUpdate(At(100, 50));
    const struct {
        Vector point;
        uint32_t id;
    } rows[] = {
        {At(100, 50), b->GetId()},   // both: the later one
        {At(10, 10), a->GetId()},    // only a
        {At(250, 140), 0},           // none
        {At(0, 0), a->GetId()},      // a's corner
        {At(128, 36), b->GetId()},   // b's top-left corner, inside a too
    };
    for (const auto& r : rows) EXPECT_EQ(screen->GetElementAt(r.point).id, r.id) << r.point.x << " " << r.point.y;
    EXPECT_EQ(screen->GetPointedElementId(), b->GetId());
    EXPECT_EQ(screen->GetElementAtScreenPosition(At(10, 10)), a);
    EXPECT_TRUE(screen->HitTestCandidate(screen->FindHitCandidate(a->GetId()), At(10, 10)));
    EXPECT_FALSE(screen->HitTestCandidate(screen->FindHitCandidate(b->GetId()), At(10, 10)));
    EXPECT_FALSE(screen->HitTestCandidate(7, At(10, 10)));
}

// Window alignment moves an element by the letterbox band to the window's edge: the
// candidate corner (device space) of an element at the UI's edge lands on the window's.
TEST_F(ScreenTest, WindowAlignedElementsReachTheWindowsEdge) {
    const struct {
        float uiW, uiH;  // in a 256 x 144 target: a band left and right, or above and below
        uint32_t alignment;
        float x, y;   // the element's UI position (16 x 16)
        int corner;   // the corner checked
        float deviceX, deviceY;
    } rows[] = {
        {128, 144, UIWINDOWALIGNMENT_NONE, 0, 0, 0, -0.5f, 1},
        {128, 144, UIWINDOWALIGNMENT_LEFT, 0, 0, 0, -1, 1},
        {128, 144, UIWINDOWALIGNMENT_RIGHTTOP, 112, 0, 1, 1, 1},
        {256, 72, UIWINDOWALIGNMENT_TOP, 0, 0, 0, -1, 1},
        {256, 72, UIWINDOWALIGNMENT_LEFTBOTTOM, 0, 56, 3, -1, -1},
    };
    for (const auto& r : rows) {
        SetUISizeOverride(r.uiW, r.uiH);
        UIElement* e = Add(screen, r.x, r.y, 16, 16, UIFLAG_FOCUSABLEWITHMOUSE);
        e->SetWindowAlignment(r.alignment);
        FrameAndUpdate();
        ASSERT_EQ(screen->CandidateCount(), 1u);
        EXPECT_NEAR(screen->Candidate(0).corners[r.corner].x, r.deviceX, 1e-4) << r.alignment;
        EXPECT_NEAR(screen->Candidate(0).corners[r.corner].y, r.deviceY, 1e-4) << r.alignment;
        e->Release();
    }
    SetUISizeOverride(256, 144);
}

TEST_F(ScreenTest, AClipParentClampsItsChildsCandidate) {
    UIElement* clip = Add(screen, 0, 0, 50, 50);
    RunOnRenderThread([&] { clip->RenderMutable().flags |= UIRENDERFLAG_CLIPCHILDREN; });
    UIElement* child = Add(clip, 0, 0, 200, 100, UIFLAG_FOCUSABLEWITHMOUSE);
    FrameAndUpdate();
    EXPECT_EQ(screen->GetElementAt(At(40, 40)).id, child->GetId());
    EXPECT_EQ(screen->GetElementAt(At(100, 40)).id, 0u);  // inside the child, outside the clip
}

TEST_F(ScreenTest, PressesBubbleReleasesClickAndDragsTakeOver) {
    auto* plain = Add<InputElement>(screen, 0, 0, 40, 40, 0, true);
    auto* parent = Add<InputElement>(screen, 50, 0, 60, 60, 0, true);
    auto* child = Add<InputElement>(parent, 0, 0, 20, 20, UIFLAG_FOCUSABLEWITHMOUSE, false);
    auto* dragSource = Add<InputElement>(screen, 150, 0, 40, 40, UIFLAG_FOCUSABLEWITHMOUSE, false, true);
    FrameAndUpdate();

    // A non-focusable element does not resolve: no press.
    EXPECT_FALSE(screen->OnMouseButtonDown(At(10, 10), 1));
    EXPECT_EQ(screen->PressedElement(), nullptr);
    EXPECT_EQ(plain->presses, 0);

    // The child refuses, its parent accepts.
    EXPECT_TRUE(screen->OnMouseButtonDown(At(55, 5), 1));
    EXPECT_EQ(screen->PressedElement(), parent);
    EXPECT_EQ(child->presses, 1);
    EXPECT_FALSE(screen->OnMouseButtonDown(At(55, 5), 1));  // a press is held already

    // Another button released elsewhere: the press stays.
    EXPECT_FALSE(screen->OnMouseButtonUp(At(250, 140), 2));
    EXPECT_EQ(screen->PressedElement(), parent);
    // The press button released elsewhere: a release, no click.
    EXPECT_TRUE(screen->OnMouseButtonUp(At(250, 140), 1));
    EXPECT_EQ(parent->releases, 1);
    EXPECT_EQ(parent->clicks, 0);
    EXPECT_EQ(screen->PressedElement(), nullptr);

    // A drag source under the pointer takes the press over.
    EXPECT_TRUE(screen->OnMouseButtonDown(At(55, 5), 1));
    EXPECT_FALSE(screen->OnMouseMove(At(160, 10), 1));
    EXPECT_EQ(parent->lost, 1);
    EXPECT_EQ(screen->PressedElement(), dragSource);
    EXPECT_TRUE(screen->Dragging());
    EXPECT_TRUE(screen->OnMouseMove(At(170, 10), 1));
    EXPECT_EQ(dragSource->drags, 1);
    EXPECT_TRUE(screen->OnMouseButtonUp(At(170, 10), 1));
    EXPECT_EQ(dragSource->clicks, 1);
    EXPECT_EQ(dragSource->releases, 1);
    EXPECT_EQ(screen->PressedElement(), nullptr);
}

TEST_F(ScreenTest, WorldPositionsBehindOrNearTheCameraPlane) {
    const Matrix view = Matrix::IDENTITY;
    Matrix projection;
    projection.LoadPerspectiveFovLH(90.0f, 1.0f, 1.0f, 100.0f);
    Vector out(7, 7, 7, 7);
    EXPECT_FALSE(screen->WorldPositionToUIPoint(Vector(0, 0, -5, 1), 256, 144, view, projection, &out));
    EXPECT_EQ(out.x, 7.0f);
    // w = z = 0.00005: divided by 0.0001 instead.
    ASSERT_TRUE(screen->WorldPositionToUIPoint(Vector(0.00001f, 0, 0.00005f, 1), 256, 144, view, projection, &out));
    const float x = 0.00001f / 0.0001f;
    EXPECT_FLOAT_EQ(out.x, (x * 0.5f + 0.5f) * 256.0f);
    EXPECT_FLOAT_EQ(out.y, 72.0f);
}

TEST_F(ScreenTest, LetterboxConversionsInvertThePostedCamera) {
    const struct {
        float uiW, uiH;
    } rows[] = {{128, 128}, {512, 144}, {256, 144}};  // target wider, taller, equal
    for (const auto& r : rows) {
        SetUISizeOverride(r.uiW, r.uiH);
        screen->Render(256, 144, 0, 0, Vector());
        gVornexRenderer.FlushCommands(true);
        const Matrix& vp = gVornexRenderer.CurrentViewProjection();
        for (const Vector& u : {Vector(0, 0, 0, 1), Vector(r.uiW, r.uiH, 0, 1), Vector(r.uiW * 0.25f, r.uiH * 0.75f, 0, 1)}) {
            Vector clip;
            clip.TransformHomogen(vp, u);
            const Vector posted(clip.x * 0.5f + 0.5f, -clip.y * 0.5f + 0.5f, 0, 1);
            const Vector n = screen->UIPointToScreenPoint(u, 256, 144);
            EXPECT_NEAR(n.x, posted.x, 1e-5) << r.uiW << "x" << r.uiH;
            EXPECT_NEAR(n.y, posted.y, 1e-5) << r.uiW << "x" << r.uiH;
            const Vector back = screen->ScreenPointToUIPoint(n, 256, 144);
            EXPECT_NEAR(back.x, u.x, 1e-3);
            EXPECT_NEAR(back.y, u.y, 1e-3);
        }
    }
    // A wider target: UI y = 0 lies below the top.
    SetUISizeOverride(128, 128);
    EXPECT_GT(screen->UIPointToScreenPoint(Vector(0, 0, 0, 1), 256, 144).x, 0.0f);
    EXPECT_NEAR(screen->UIPointToScreenPoint(Vector(0, 0, 0, 1), 256, 144).y, 0.0f, 1e-6);
    SetUISizeOverride(128, 256);
    EXPECT_GT(screen->UIPointToScreenPoint(Vector(0, 0, 0, 1), 256, 144).x, 0.0f);
    SetUISizeOverride(256, 144);
}

// An in-game UI entity's tree through the scene's entry: the entity's UI transform puts
// UI (0, 0) at local (-1, 1, 1) and (Size.x, Size.y) at (1, 1, -1).
TEST_F(ScreenTest, InGameElementTreesLandInTheEntitysBox) {
    const Vector size(200, 100, 50, 0);
    UIElement* root = new UIElement;
    root->SetSize(size.x, size.y);
    gVornexRenderer.FlushCommands(true);
    EntityRenderingContextSetup setup;
    InGameUIEntityRenderingContext context(setup, root, size);
    ASSERT_TRUE(context.Drawable());
    recorder->ClearDrawRecords();
    BeginFrame();
    RunOnRenderThread([&] {
        SetFlatCamera(256, 144);
        context.Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{});
    });
    EndFrame();
    const auto draws = IndexedUPDraws(Draws());
    ASSERT_EQ(draws.size(), 1u) << "the tree's quads are flushed at its end";
    const std::vector<float> v = VertexFloats(draws[0]);
    ASSERT_GE(v.size(), 52u);
    const float want[2][3] = {{-1, 1, 1}, {1, 1, -1}};  // corners (0, 0) and (1, 1)
    for (int c = 0; c < 3; ++c) {
        EXPECT_FLOAT_EQ(v[4 + c], want[0][c]) << c;
        EXPECT_FLOAT_EQ(v[2 * 13 + 4 + c], want[1][c]) << c;
    }
    root->Release();
}

// A screen's release empties the Game slots still naming it before it goes.
TEST_F(ScreenTest, ReleasedScreensLeaveNoSlotBehind) {
    TestGameServices game;
    UIScreen* other = new UIScreen;
    game.SetScreen(GAMESCREEN_ACTIVE, screen);
    game.SetScreen(GAMESCREEN_MODAL, screen);
    game.SetScreen(GAMESCREEN_OVERLAY, other);
    screen->Release();
    screen = nullptr;
    EXPECT_EQ(game.GetScreen(GAMESCREEN_ACTIVE), nullptr);
    EXPECT_EQ(game.GetScreen(GAMESCREEN_MODAL), nullptr);
    EXPECT_EQ(game.GetScreen(GAMESCREEN_OVERLAY), other);
    other->Release();
    EXPECT_EQ(game.GetScreen(GAMESCREEN_OVERLAY), nullptr);
    // So does every other teardown: a screen inside a released tree, or under cleared
    // children, is torn down without its own Release.
    const std::pair<const char*, void (*)(UIElement*)> teardowns[] = {
        {"an ancestor's release", [](UIElement* root) { root->Release(); }},
        {"DeleteChildren", [](UIElement* root) {
             root->DeleteChildren();
             root->Release();
         }},
    };
    for (const auto& [what, teardown] : teardowns) {
        UIElement* root = new UIElement;
        UIScreen* inner = new UIScreen;
        root->AddChild(inner);
        game.SetScreen(GAMESCREEN_LOADING, inner);
        teardown(root);
        EXPECT_EQ(game.GetScreen(GAMESCREEN_LOADING), nullptr) << what;
    }
}

// Render posts, in order: the scene's preview op 4, the viewport, the camera, op 25 with
// the letterboxed pointer, op 24 for each live tracking record, op 26, op 5.
TEST_F(ScreenTest, RenderPostsItsFrameInOrderAndTracksEntities) {
    struct Seen {
        char kind;  // 'T' a renderer record, 'U' a UI op
        uint32_t id;
    };
    static std::vector<Seen> seen;
    seen.clear();
    UIElement* followed = Add(screen, 0, 0, 10, 10);
    std::vector<uint32_t> released;
    auto* survivor = new uitest::RecordingElement(&released);
    auto* healthBar = new uitest::RecordingElement(&released);
    auto* hiding = Add(screen, 0, 0, 10, 10);
    screen->AddChild(survivor);
    screen->AddChild(healthBar);
    Entity* a = new Entity;
    Entity* b = new Entity;
    Entity* c = new Entity;
    a->SetGlobalPosition3(1, 2, 3);
    screen->EnableEntityTracking(followed, a, 0, Vector(0, 1, 0, 0), 7);
    screen->EnableEntityTracking(survivor, b, UIENTITYTRACKING_SURVIVEENTITYDEATH, Vector(), 0);
    screen->EnableEntityTracking(healthBar, b, UIENTITYTRACKING_HEALTHBARMODE | UIENTITYTRACKING_SURVIVEENTITYDEATH,
                                 Vector(), 0);
    screen->EnableEntityTracking(hiding, c, UIENTITYTRACKING_HIDEWITHENTITY, Vector(), 0);
    screen->EnableEntityTracking(nullptr, c, 0, Vector(), 0);  // nothing
    EXPECT_EQ(screen->TrackedCount(), 4u);

    // The preview ops go to a scene of the test's own.
    RendererScene* savedScene = gRendererScene;
    RendererScene scene;
    gRendererScene = &scene;
    BeginFrame();
    gVornexRenderer.SetTaskObserver([](void*, uint32_t id) { seen.push_back({'T', id}); }, nullptr);
    SetUIOpObserver([](void*, uint32_t op, const UIElement*, uint32_t, bool) { seen.push_back({'U', op}); }, nullptr);
    screen->Render(256, 144, 0, 0, Vector(0.5f, 0.5f, 0, 0));
    SetUIOpObserver(nullptr, nullptr);
    gVornexRenderer.SetTaskObserver(nullptr, nullptr);
    EndFrame();
    gRendererScene = savedScene;
    // The renderer's records (the scene's ops and the UI ops are both function calls) and
    // the UI ops, each in posting order: a call before the viewport (op 4) and one after
    // the UI ops (op 5).
    std::vector<std::string> tasks, uiOps;
    for (const Seen& s : seen) {
        if (s.kind == 'U') uiOps.push_back(std::to_string(s.id));
        else tasks.push_back(s.id == TASK_VIEWPORT ? "viewport" : s.id == TASK_CAMERA ? "camera"
                             : s.id == TASK_CALL ? "call" : std::to_string(s.id));
    }
    EXPECT_EQ(uiOps, (std::vector<std::string>{"25", "24", "24", "24", "24", "26"}));
    std::vector<std::string> want{"call", "viewport", "camera"};
    want.insert(want.end(), uiOps.size() + 1, "call");
    EXPECT_EQ(tasks, want);

    // b dies: the survivor stays, the health bar goes even though it survives deaths;
    // c hides: its element hides, and shows again with it; a's element released
    // elsewhere drops its record.
    const uint32_t healthBarId = healthBar->GetId();
    delete b;
    c->Hide();
    followed->Release();
    Frame();
    EXPECT_EQ(released, (std::vector<uint32_t>{healthBarId}));
    EXPECT_EQ(screen->TrackedCount(), 2u);
    EXPECT_FALSE(hiding->IsVisible());
    c->Show();
    Frame();
    EXPECT_TRUE(hiding->IsVisible());
    survivor->Release();  // before the list its teardown writes to goes
    gVornexRenderer.FlushCommands(true);
    delete a;
    delete c;
}

// The child's flat quad under each colour mode, parent-border fade and aspect scaling,
// and the fade record of a fading parent, against the float32 reference.
TEST_F(ScreenTest, ColourModesFadesAndAspectScalingMatchTheReference) {
    SetUISizeOverride(128, 128);  // letterboxed in x: c = 0.5625, d = 1
    screen->SetSize(128, 128);
    const Vector parentColour(0.5f, 0.25f, 1.0f, 0.8f), childColour(0.2f, 0.4f, 0.6f, 0.5f);
    const float f = 10.0f;
    struct Row {
        const char* name;
        uint32_t colourMode, flags, aspect;
    } rows[] = {
        {"static", UICOLOR_STATIC, 0, 0},
        {"parent alpha", UICOLOR_MULTIPLYBYPARENTALPHA, 0, 0},
        {"parent colour", UICOLOR_MULTIPLYBYPARENTCOLOR, 0, 0},
        {"left and right borders", UICOLOR_STATIC, UIFLAG_FADEATPARENTBORDERLEFTRIGHT, 0},
        {"top and bottom borders", UICOLOR_STATIC, UIFLAG_FADEATPARENTBORDERUPDOWN, 0},
        {"aspect 1", UICOLOR_STATIC, 0, 1},
        {"aspect 2", UICOLOR_STATIC, 0, 2},
        {"aspect 3", UICOLOR_STATIC, 0, 3},
    };
    using drawtest::kScript;
    for (const Row& r : rows) {
        UIElement* parent = Add(screen, 10, 20, 100, 50, UIFLAG_TRANSPARENT);
        parent->SetLinearColor(parentColour);
        UIElement* child = Add(parent, 5, 6, 40, 20, r.flags);
        child->SetLinearColor(childColour);
        child->SetColorMode(r.colourMode);
        child->SetExtraParamVector(Vector(f, 0, 0, 0));
        child->SetAspectScaling(r.aspect);
        Frame();
        const auto draws = IndexedUPDraws(Draws());
        ASSERT_EQ(draws.size(), 1u) << r.name;
        const std::vector<float> v = VertexFloats(draws[0]);
        ASSERT_GE(v.size(), 13u);

        std::string input = "M " + std::to_string(r.colourMode) + " " + Hex(childColour) + Hex(parentColour) + "\n";
        input += "F " + std::string(r.flags & UIFLAG_FADEATPARENTBORDERLEFTRIGHT ? "1" : "0") + " " +
                 (r.flags & UIFLAG_FADEATPARENTBORDERUPDOWN ? "1" : "0");
        for (float x : {f, 0.0f, 5.0f, 40.0f, 0.0f, 6.0f, 20.0f, 100.0f, 50.0f}) input += " " + FloatBits(x);
        input += " " + FloatBits(childColour.w) + "\n";
        input += "A " + std::to_string(r.aspect);
        for (float x : {128.0f, 128.0f, 0.5625f, 1.0f, 15.0f, 26.0f}) input += " " + FloatBits(x);
        input += "\n";
        const auto want = RunNumpyReference(kScript, input);
        ASSERT_EQ(want.size(), 3u);
        const std::vector<float> colour = ParseFloats(want[0]);
        const float alpha = ParseFloats(want[1])[0];
        const std::vector<float> at = ParseFloats(want[2]);
        for (int c = 0; c < 3; ++c) EXPECT_TRUE(uitest::NearUlps(v[c], colour[c])) << r.name << " " << c;
        const float wantAlpha = (r.flags ? alpha : colour[3]);
        EXPECT_TRUE(uitest::NearUlps(v[3], wantAlpha)) << r.name << ": " << v[3] << " vs " << wantAlpha;
        EXPECT_NEAR(v[4], at[0], 1e-3) << r.name;
        EXPECT_NEAR(v[5], at[1], 1e-3) << r.name;
        parent->Release();
    }

    // A fading parent hands its record down: the columns of its inverse world that give
    // local x and y (vertex c12-c13) and the band (-h/2, -1/f, h/(2f), 0) (pixel c3).
    UIElement* fader = Add(screen, 10, 20, 100, 50, UIFLAG_TRANSPARENT | UIFLAG_FADECHILDREN);
    fader->SetExtraParamVector(Vector(4, 0, 0, 0));
    Add(fader, 0, 0, 10, 10);
    Frame();
    const auto draws = IndexedUPDraws(Draws());
    ASSERT_EQ(draws.size(), 1u);
    const float* c12 = draws[0].VertexConstant(kUIFadeVertexRegister);
    const float* c13 = draws[0].VertexConstant(kUIFadeVertexRegister + 1);
    const float* band = draws[0].PixelConstant(kUIFadePixelRegister);
    EXPECT_EQ(std::vector<float>(c12, c12 + 4), (std::vector<float>{1, 0, 0, -10}));
    EXPECT_EQ(std::vector<float>(c13, c13 + 4), (std::vector<float>{0, 1, 0, -20}));
    EXPECT_EQ(std::vector<float>(band, band + 4), (std::vector<float>{-25, -0.25f, 6.25f, 0}));

    // A fade width of 0 would divide by zero (a NaN alpha): the record fades nothing.
    fader->SetExtraParamVector(Vector(0, 0, 0, 0));
    Frame();
    const auto flat = IndexedUPDraws(Draws());
    ASSERT_EQ(flat.size(), 1u);
    const float* neutral = flat[0].PixelConstant(kUIFadePixelRegister);
    EXPECT_EQ(std::vector<float>(neutral, neutral + 4), (std::vector<float>{0, 0, 1, 0}));
}
