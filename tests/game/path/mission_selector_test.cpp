// test-sanitize: address
// The mission selector's route: each segment is stretched between its indicator and the
// next one, from the indicator's position, scale and the two numbers its colour carries;
// the walk stops at the last indicator, segments beyond it are left as they were, and a
// selector without segments or indicators places nothing. Without a running renderer the
// element ops run at once, so the render half is read right after the setters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "game/path/ZKRMissionSelectorPathRenderer.h"

namespace {

struct Placement {
    Vector position, rotation, scale;
};

// The expected placement of a segment from indicator a at pa to the next one at pb.
Placement Expected(const Vector& pa, const Vector& pb, float r, float g, float s) {
    const Vector d = pb - pa;
    const float l = d.Length3() * r;
    const float gap = g * r * s;
    Placement p;
    p.position = pa + d * (gap / std::max(l, 0.001f));
    p.rotation = Vector(0, 0, std::atan2(d.y, d.x) * 57.29578f, 1);
    p.scale = Vector(std::max(0.0f, l - 2.0f * gap), s * 74.0f, 1, 1);
    return p;
}

void ExpectNear(const Vector& got, const Vector& want, const char* what, int i) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-3f) << what << " of segment " << i << ", " << k;
}

struct MissionSelectorTest : ::testing::Test {
    void SetUp() override {
        selector = new ZKRMissionSelectorPathRenderer();
        segments = new UIElement();
        segments->SetName("Segments");
        indicators = new UIElement();
        indicators->SetName("Indicators");
        UIElement* decoy = new UIElement();  // a child of another name is not looked into
        decoy->SetName("Other");
        selector->AddChild(decoy);
        selector->AddChild(indicators);
        selector->AddChild(segments);
    }
    void TearDown() override { selector->Release(); }
    UIElement* Child(UIElement* parent) {
        UIElement* e = new UIElement();
        parent->AddChild(e);
        return e;
    }
    ZKRMissionSelectorPathRenderer* selector = nullptr;
    UIElement* segments = nullptr;
    UIElement* indicators = nullptr;
};

TEST_F(MissionSelectorTest, SegmentsAreStretchedBetweenConsecutiveIndicators) {
    const struct {
        Vector position;
        float r, g, s;
    } stops[] = {
        {Vector(0, 0, 0, 0), 1.0f, 0.0f, 1.0f},      // white: the full length, no gap
        {Vector(100, 0, 0, 0), 1.0f, 0.1f, 2.0f},    // a gap of 0.2 at each end, straight up
        {Vector(100, 50, 0, 0), 0.5f, 0.2f, 1.0f},   // half the length
        {Vector(-20, -30, 5, 0), 2.0f, 0.05f, 0.5f}, // to the same place: no length
        {Vector(-20, -30, 5, 0), 1.0f, 0.3f, 1.0f},
        {Vector(0, 0, 0, 0), 1.0f, 0.0f, 1.0f},
    };
    std::vector<UIElement*> stopElements, pieces;
    for (const auto& s : stops) {
        UIElement* e = Child(indicators);
        e->SetPosition(s.position);
        e->SetScale(s.s);
        e->SetLinearColor(Vector(s.r, s.g, 1, 1));
        stopElements.push_back(e);
    }
    const Placement untouched{Vector(7, 7, 7, 0), Vector(1, 2, 3, 0), Vector(3, 3, 3, 0)};
    for (int i = 0; i < 7; ++i) {  // two more segments than there are gaps
        UIElement* e = Child(segments);
        e->SetPosition(untouched.position);
        e->SetRotation(untouched.rotation);
        e->SetScale(untouched.scale);
        pieces.push_back(e);
    }
    selector->PlaceSegments();
    for (int i = 0; i < 5; ++i) {
        const Placement want =
            Expected(stops[i].position, stops[i + 1].position, stops[i].r, stops[i].g, stops[i].s);
        const UIElementRenderHalf& got = pieces[i]->Render();
        ExpectNear(got.position, want.position, "position", i);
        ExpectNear(got.rotation, want.rotation, "rotation", i);
        ExpectNear(got.scale, want.scale, "scale", i);
        EXPECT_EQ(got.rotation.w, 1.0f);
        EXPECT_EQ(got.scale.w, 1.0f);
    }
    // The named cases, by hand: the first runs (0, 0) to (100, 0) at full length; the
    // second turns 90 degrees; the fourth has no length.
    EXPECT_NEAR(pieces[0]->Render().scale.x, 100.0f, 1e-4f);
    EXPECT_NEAR(pieces[1]->Render().rotation.z, 90.0f, 1e-4f);
    EXPECT_NEAR(pieces[1]->Render().position.y, 0.2f, 1e-4f);
    EXPECT_EQ(pieces[3]->Render().scale.x, 0.0f);
    for (int i = 5; i < 7; ++i) {
        const UIElementRenderHalf& got = pieces[i]->Render();
        ExpectNear(got.position, untouched.position, "untouched position", i);
        ExpectNear(got.scale, untouched.scale, "untouched scale", i);
    }
}

TEST_F(MissionSelectorTest, NothingIsPlacedWithoutSegmentsOrASecondIndicator) {
    UIElement* only = Child(indicators);
    only->SetPosition(Vector(5, 5, 0, 0));
    selector->PlaceSegments();  // no segments at all
    UIElement* piece = Child(segments);
    piece->SetPosition(Vector(9, 9, 9, 0));
    selector->PlaceSegments();  // one indicator: no gap to fill
    EXPECT_EQ(piece->Render().position.x, 9.0f);
    EXPECT_EQ(piece->Render().scale.x, 1.0f);
}

// The lists are found by the names the render side holds: a rename reaches the placement
// through the op stream, and a name the main side holds alone (its op not yet run) is not
// looked at on the render side.
TEST_F(MissionSelectorTest, TheListsAreFoundByTheirRenderSideNames) {
    UIElement* first = Child(indicators);
    UIElement* second = Child(indicators);
    second->SetPosition(Vector(100, 0, 0, 0));
    UIElement* piece = Child(segments);
    const struct {
        const char* mainName;    // set with SetName
        const char* renderName;  // then put into the render half alone; null: as posted
        bool placed;
    } cases[] = {
        {"Segments", nullptr, true},
        {"Pieces", nullptr, false},
        {"Pieces", "Segments", true},
        {"Segments", "Pieces", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mainName) + " / " + (c.renderName ? c.renderName : "posted"));
        piece->SetPosition(Vector(9, 9, 9, 0));
        segments->SetName(c.mainName);
        if (c.renderName) segments->RenderMutable().name = c.renderName;
        selector->PlaceSegments();
        EXPECT_EQ(piece->Render().position.x != 9.0f, c.placed);
    }
    EXPECT_EQ(first->Render().position.x, 0.0f);
}

}  // namespace
