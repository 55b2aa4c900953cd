// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// The render half: setter payloads against float32 references, the transform rules, the
// view transform of op 25, window alignment and entity-tracking placement.
#include <gtest/gtest.h>

#include <cfloat>
#include <sstream>

#include "UIElementTestSupport.h"
#include "engine/NumpyReference.h"
#include "ui/elements/UIViewState.h"

using namespace uitest;

namespace {

const char* kScript = "../ui/elements/ui_reference.py";

std::string Bits(std::initializer_list<float> values) {
    std::string out;
    for (float v : values) out += " " + FloatBits(v);
    return out;
}

struct RenderHalfTest : ::testing::Test {
    void SetUp() override { saved = gUIViewState; }
    void TearDown() override { gUIViewState = saved; }
    UIViewState saved;
};

}  // namespace

TEST_F(RenderHalfTest, ColourSettersAgainstTheReference) {
    const Vector colours[] = {{0.5f, 0.25f, 0.75f, 0.3f}, {1, 0, 0.0031f, 1}, {0.9f, 0.1f, 0.333f, 0}};
    std::string input;
    for (const Vector& c : colours) input += "C" + Bits({c.x, c.y, c.z, c.w}) + "\n";
    const std::vector<std::string> want = RunNumpyReference(kScript, input);
    ASSERT_EQ(want.size(), 3u);
    UIElement* e = new UIElement();
    for (size_t i = 0; i < 3; ++i) {
        const std::vector<float> w = ParseFloats(want[i]);
        e->SetColor(colours[i]);
        const Vector got = e->Render().color;
        for (int k = 0; k < 4; ++k) EXPECT_TRUE(NearUlps(got[k], w[k], 1)) << i << "," << k << ": " << got[k];
        EXPECT_EQ(got.w, colours[i].w);
        e->SetLinearColor(colours[i]);
        EXPECT_TRUE(SameVector(e->Render().color, colours[i]));
    }
    e->Release();
}

TEST_F(RenderHalfTest, SetterFormsAndTheirPayloads) {
    UIElement* e = new UIElement();
    OpRecorder ops;
    e->SetRotation(30.0f);
    EXPECT_TRUE(SameVector(e->Render().rotation, Vector(0, 0, 30, 0)));
    e->SetScale(2.0f);
    EXPECT_TRUE(SameVector(e->Render().scale, Vector(2, 2, 2, 0)));
    e->SetPosition(Vector(1, 2, 3, 1));
    e->SetPositionWithMask(9, 8, 7, true, false, false);
    EXPECT_TRUE(SameVector(e->Render().position, Vector(9, 2, 3, 1)));
    e->SetPositionWithMask(9, 8, 7, false, true, true);
    EXPECT_TRUE(SameVector(e->Render().position, Vector(9, 8, 7, 1)));
    struct OutlineCase {
        uint32_t index, mask;
    } outlines[] = {{33, 2}, {0, 0}, {1, 2}, {31, 0x80000000u}, {32, 1}};
    for (const OutlineCase& c : outlines) {
        e->SetOutline(c.index);
        EXPECT_EQ(e->Render().outlineMask, c.mask) << c.index;
    }
    e->SetTag("abc");
    EXPECT_STREQ(e->Render().tag.CStr(), "abc");
    EXPECT_EQ(ops.ops.back().bytes, 4u + 4u);
    e->SetTag(nullptr);
    EXPECT_EQ(ops.ops.back().bytes, 4u);  // the count alone, 0
    EXPECT_TRUE(e->Render().tag.IsEmpty());
    e->SetSize(10, 20);
    EXPECT_TRUE(SameVector(e->Render().extent, Vector(10, 20, 0, 1)));
    e->SetWindowAlignment(UIWINDOWALIGNMENT_RIGHTTOP);
    e->SetBlendMode(BLEND_ADD);
    e->SetColorMode(UICOLOR_STATIC);
    e->SetAnchor(-5, -10, 0);
    e->SetExtraParamVector(Vector(1, 2, 3, 4));
    e->SetSelectionFrame(Vector(4, 4, 0, 0));
    e->SetAspectScaling(3);
    const UIElementRenderHalf& r = e->Render();
    EXPECT_EQ(r.windowAlignment, uint32_t(UIWINDOWALIGNMENT_RIGHTTOP));
    EXPECT_EQ(r.blendMode, uint32_t(BLEND_ADD));
    EXPECT_EQ(r.colorMode, uint32_t(UICOLOR_STATIC));
    EXPECT_TRUE(SameVector(r.anchor, Vector(-5, -10, 0, 0)));
    EXPECT_TRUE(SameVector(r.extraParam, Vector(1, 2, 3, 4)));
    EXPECT_TRUE(SameVector(r.selectionFrame, Vector(4, 4, 0, 0)));
    EXPECT_EQ(r.aspectScaling, 3u);
    e->Release();
}

TEST_F(RenderHalfTest, TheLocalMatrixAndTheMirroredFlag) {
    struct Case {
        Vector scale;
        bool mirrored;
    } cases[] = {{{1, 1, 1, 0}, false},   {{-1, 1, 1, 0}, true},  {{1, -2, 1, 0}, true}, {{-1, -1, 1, 0}, false},
                 {{-1, -1, -1, 0}, true}, {{0.5f, 3, -1, 0}, true}};
    UIElement* e = new UIElement();
    e->SetPosition(Vector(10, -4, 2, 1));
    e->SetRotation(Vector(10, 20, 30, 0));
    for (const Case& c : cases) {
        e->SetScale(c.scale);
        Matrix want;
        want.LoadComplexTransformation(Vector(10, -4, 2, 1), Vector(10, 20, 30, 0), c.scale);
        EXPECT_TRUE(e->Render().localMatrix == want);
        EXPECT_EQ(e->Render().mirrored, c.mirrored) << c.scale.x << " " << c.scale.y << " " << c.scale.z;
    }
    e->Release();
}

TEST_F(RenderHalfTest, ViewTransformDerivedValuesAgainstTheReference) {
    struct Case {
        float a, b, c, d, px, py;
    } cases[] = {{1280, 720, 1, 1, 0.5f, 0.25f}, {1024, 768, 0.75f, 1, 0.1f, 0.9f}, {1920, 1080, 1, 0.8f, 1, 0}};
    std::string input;
    for (const Case& c : cases) input += "V" + Bits({c.a, c.b, c.c, c.d, c.px, c.py}) + "\n";
    const std::vector<std::string> want = RunNumpyReference(kScript, input);
    ASSERT_EQ(want.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const Case& c = cases[i];
        PostUIViewTransform(nullptr, 111 + int64_t(i), 222 + int64_t(i), c.a, c.b, c.c, c.d, Vector(c.px, c.py, 0, 0));
        const UIViewState& s = gUIViewState;
        EXPECT_EQ(s.smoothGameTime, 111 + int64_t(i));
        EXPECT_EQ(s.smoothGameplayTime, 222 + int64_t(i));
        const float got[] = {s.inverseSize.x, s.inverseSize.y, s.uiPerScreen.x, s.uiPerScreen.y,
                             s.screenPerUI.x, s.screenPerUI.y, s.pointer.x,     s.pointer.y,
                             s.hx,            s.hy,            s.alignA,        s.alignB};
        const std::vector<float> w = ParseFloats(want[i]);
        ASSERT_EQ(w.size(), 12u);
        for (size_t k = 0; k < 12; ++k) EXPECT_EQ(FloatBits(got[k]), FloatBits(w[k])) << "case " << i << " value " << k;
    }
}

TEST_F(RenderHalfTest, WindowAlignmentTable) {
    gUIViewState.alignA = 0.25f;
    gUIViewState.alignB = 0.5f;
    const float A = 0.25f, B = 0.5f;
    struct Case {
        uint32_t alignment;
        float x, y;
        uint32_t bits;
    } cases[] = {{UIWINDOWALIGNMENT_NONE, 0, 0, 0},
                 {UIWINDOWALIGNMENT_LEFT, -A, 0, UIALIGNED_X},
                 {UIWINDOWALIGNMENT_RIGHT, A, 0, UIALIGNED_X},
                 {UIWINDOWALIGNMENT_TOP, 0, -B, UIALIGNED_Y},
                 {UIWINDOWALIGNMENT_BOTTOM, 0, B, UIALIGNED_Y},
                 {UIWINDOWALIGNMENT_LEFTTOP, -A, -B, UIALIGNED_X | UIALIGNED_Y},
                 {UIWINDOWALIGNMENT_LEFTBOTTOM, -A, B, UIALIGNED_X | UIALIGNED_Y},
                 {UIWINDOWALIGNMENT_RIGHTTOP, A, -B, UIALIGNED_X | UIALIGNED_Y},
                 {UIWINDOWALIGNMENT_RIGHTBOTTOM, A, B, UIALIGNED_X | UIALIGNED_Y},
                 {9, 0, 0, 0}};
    for (const Case& c : cases) {
        Vector offset;
        uint32_t bits = 0;
        EXPECT_EQ(ApplyWindowAlignment(c.alignment, offset, bits), c.bits != 0) << c.alignment;
        EXPECT_EQ(offset.x, c.x) << c.alignment;
        EXPECT_EQ(offset.y, c.y) << c.alignment;
        EXPECT_EQ(bits, c.bits) << c.alignment;
    }
    // Inside a parent aligned to the bottom: TOP adds no second y offset, LEFT still shifts x.
    Vector offset;
    uint32_t bits = 0;
    ApplyWindowAlignment(UIWINDOWALIGNMENT_BOTTOM, offset, bits);
    Vector top = offset, left = offset;
    uint32_t topBits = bits, leftBits = bits;
    EXPECT_FALSE(ApplyWindowAlignment(UIWINDOWALIGNMENT_TOP, top, topBits));
    EXPECT_EQ(top.y, B);
    EXPECT_TRUE(ApplyWindowAlignment(UIWINDOWALIGNMENT_LEFT, left, leftBits));
    EXPECT_EQ(left.x, -A);
    EXPECT_EQ(left.y, B);
}

TEST_F(RenderHalfTest, EntityTrackingPlacement) {
    // A 1000 x 500 UI covering the whole window: a/c = 1000, b/d = 500, c/a = 0.001, d/b = 0.002.
    PostUIViewTransform(nullptr, 0, 0, 1000, 500, 1, 1, Vector());
    struct Case {
        const char* name;
        Vector p;
        float distance;
        uint32_t flags;
        Vector startPosition;
        bool offscreen;
        Vector position;
        Vector scale;
        float rotationZ;
    };
    const Vector kept(7, 8, 0, 1);
    // Size 100 x 50 centred (anchor -50, -25): the allowed box is x in [-0.9, 0.9], y in [-0.9, 0.9].
    const Case cases[] = {
        {"behind the camera", {0.5f, 0.5f, 0, -1}, 0, 0, kept, true, kept, {1, 1, 1, 0}, 0},
        {"plain", {0.5f, 0.5f, 0, 1}, 0, 0, kept, false, {750, 125, 0, 1}, {1, 1, 1, 0}, 0},
        {"stay on screen, target right", {3, 0.3f, 0, 1}, 0, UIENTITYTRACKING_STAYONSCREEN, kept, false,
         {0.5f * 0.9f * 1000 + 500, 0.5f * (-0.3f * (0.9f / 3)) * 500 + 250, 0, 1}, {1, 1, 1, 0}, 0},
        {"border only, inside", {0.2f, 0.2f, 0, 1}, 0, UIENTITYTRACKING_BORDERONLY, kept, true,
         {600, 200, 0, 1}, {1, 1, 1, 0}, 0},
        {"border only, outside", {0, -2, 0, 1}, 0, UIENTITYTRACKING_BORDERONLY, kept, false,
         {500, 0.5f * 0.9f * 500 + 250, 0, 1}, {1, 1, 1, 0}, 0},
        {"perspective scale", {0, 0, 0, 4}, 2, UIENTITYTRACKING_PERSPECTIVESCALE, kept, false, {500, 250, 0, 1},
         {0.5f, 0.5f, 0.5f, 0.5f}, 0},
        {"health bar beyond the margin", {1.2f, 0, 0, 1}, 0, UIENTITYTRACKING_HEALTHBARMODE, kept, true,
         {1100, 250, 0, 1}, {1, 1, 1, 0}, 0},
        {"health bar inside the margin", {1.1f, 0, 0, 1}, 0, UIENTITYTRACKING_HEALTHBARMODE, kept, false,
         {1050, 250, 0, 1}, {1, 1, 1, 0}, 0},
    };
    for (const Case& c : cases) {
        UIElement* e = new UIElement();
        e->SetSize(100, 50);
        e->SetAnchor(-50, -25, 0);
        e->SetPosition(c.startPosition);
        e->TrackEntity(c.p, c.distance, c.flags);
        const UIElementRenderHalf& r = e->Render();
        EXPECT_EQ((r.flags & UIRENDERFLAG_OFFSCREEN) != 0, c.offscreen) << c.name;
        EXPECT_NEAR(r.position.x, c.position.x, 1e-3f) << c.name;
        EXPECT_NEAR(r.position.y, c.position.y, 1e-3f) << c.name;
        EXPECT_TRUE(SameVector(r.scale, c.scale)) << c.name;
        e->Release();
    }
}

TEST_F(RenderHalfTest, EntityTrackingRotationAndParentSpace) {
    PostUIViewTransform(nullptr, 0, 0, 1000, 500, 1, 1, Vector());
    // Rotate towards a target up and to the left: atan2(v.y, v.x) in degrees.
    UIElement* arrow = new UIElement();
    arrow->TrackEntity(Vector(-0.5f, 0.5f, 0, 1), 0, UIENTITYTRACKING_ROTATETOWARDSTARGET);
    EXPECT_FLOAT_EQ(arrow->Render().rotation.z, std::atan2(-0.5f, -0.5f) * 57.29578f);
    EXPECT_EQ(arrow->Render().rotation.w, 1.0f);
    arrow->Release();

    // Under a rotated, scaled, moved parent the point lands where the tree draw puts it.
    UIElement* parent = new UIElement();
    UIElement* child = new UIElement();
    parent->AddChild(child);
    parent->SetPosition(Vector(100, 50, 0, 1));
    parent->SetRotation(30.0f);
    parent->SetScale(Vector(2, 0.5f, 1, 0));
    child->TrackEntity(Vector(0.2f, -0.4f, 0, 1), 0, UIENTITYTRACKING_RELATIVETOPARENT);
    Vector placed;
    placed.Transform(parent->Render().localMatrix, child->Render().position);
    EXPECT_NEAR(placed.x, 0.5f * 0.2f * 1000 + 500, 1e-2f);
    EXPECT_NEAR(placed.y, 0.5f * 0.4f * 500 + 250, 1e-2f);

    // A parent that flattens the plane (the console background's scale (0, 0, 1)) leaves
    // the position as it was.
    parent->SetScale(Vector(0, 0, 1, 0));
    child->SetPosition(Vector(3, 4, 0, 1));
    child->TrackEntity(Vector(0.2f, -0.4f, 0, 1), 0, UIENTITYTRACKING_RELATIVETOPARENT);
    EXPECT_TRUE(SameVector(child->Render().position, Vector(3, 4, 0, 1)));
    parent->Release();
}

TEST_F(RenderHalfTest, TapFollowingMapsTheWindowPositionOntoTheUI) {
    PostUIViewTransform(nullptr, 0, 0, 1000, 500, 0.8f, 1, Vector());
    auto tap = [](uint32_t id, float* x, float* y) {
        if (id != 0) return false;
        *x = 0.25f, *y = 0.5f;
        return true;
    };
    UIElement* e = new UIElement();
    e->SetPosition(Vector(1, 2, 0, 1));
    e->FollowTap(tap);  // without the render-only flag nothing moves
    EXPECT_TRUE(SameVector(e->Render().position, Vector(1, 2, 0, 1)));
    e->RaiseFlag(UIRENDERFLAG_FOLLOWTAP, false);
    e->FollowTap(tap);
    const UIViewState& s = gUIViewState;
    EXPECT_TRUE(SameVector(e->Render().position, Vector(s.hx + s.uiPerScreen.x * 0.25f, s.uiPerScreen.y * 0.5f + s.hy, 0, 1)));
    e->Release();
}
