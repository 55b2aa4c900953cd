// test-sanitize: address
// The placed kinds' own property lists against the independent writer
// (tests/support/proplist.py): the defaults, and lists with values read into the engine's
// objects and written back unchanged. Compound lists come first in the walk ("Compound..."
// sorts before "Entity..."), the others last.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "render/RenderTestSupport.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

std::vector<uint8_t> Write(const RTTIPolyBaseClass& object) {
    const RTTIClass* cls = object.GetRTTIClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &object, 0));
    cls->SerializeProperties(out.data(), &object, 0);
    return out;
}

bool EndsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& tail) {
    return bytes.size() >= tail.size() && std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& head) {
    return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

// bytes with its own part (at the front or the back, of the default's size) replaced.
std::vector<uint8_t> Replace(std::vector<uint8_t> bytes, size_t defaultSize, const std::vector<uint8_t>& own,
                             bool front) {
    if (front) {
        bytes.erase(bytes.begin(), bytes.begin() + defaultSize);
        bytes.insert(bytes.begin(), own.begin(), own.end());
    } else {
        bytes.resize(bytes.size() - defaultSize);
        bytes.insert(bytes.end(), own.begin(), own.end());
    }
    return bytes;
}

// Reads bytes into object; true when all of it was read and it writes back the same.
bool ReadsBack(RTTIPolyBaseClass& object, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    return object.GetRTTIClass()->DeserializeProperties(in, &object, 0) == bytes.size() && !in.Failed() &&
           Write(object) == bytes;
}

struct PlacementPropListTest : sceneframe::SceneEntityFixture<RendererFixture> {};

TEST_F(PlacementPropListTest, Templates) {
    CompoundTemplate compound;
    const std::vector<uint8_t> compoundDefaults = shelltest::PropList("compoundtemplate", "{}");
    EXPECT_TRUE(StartsWith(Write(compound), compoundDefaults));
    const std::vector<uint8_t> elements = Replace(
        Write(compound), compoundDefaults.size(),
        shelltest::PropList("compoundtemplate",
                            R"({"definition": "<x/>", "elements": [{"name": "Door", "template": "Sample/Crate",)"
                            R"( "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [2, 3, 4, 1]], "preset": "Glow",)"
                            R"( "children": [{"name": "Handle", "template": "Sample/Marker"}]}]})"),
        true);
    EXPECT_TRUE(ReadsBack(compound, elements));
    ASSERT_EQ(compound.elements.Count(), 1u);
    EXPECT_STREQ(compound.elements[0].shaderPreset.CStr(), "Glow");
    EXPECT_EQ(compound.elements[0].locationMatrix.r[3], Vector(2, 3, 4, 1));
    ASSERT_EQ(compound.elements[0].children.Count(), 1u);
    EXPECT_STREQ(compound.elements[0].children[0].templateName.CStr(), "Sample/Marker");
    EXPECT_STREQ(compound.definition, "<x/>");

    FlagTemplate flag;
    const std::vector<uint8_t> flagDefaults = shelltest::PropList("flagtemplate", "{}");
    EXPECT_TRUE(EndsWith(Write(flag), flagDefaults));
    EXPECT_TRUE(ReadsBack(flag, Replace(Write(flag), flagDefaults.size(),
                                        shelltest::PropList("flagtemplate", R"({"Size": 2.5})"), false)));
    EXPECT_EQ(flag.size, 2.5f);

    GraphTemplate graph;
    const std::vector<uint8_t> graphDefaults = shelltest::PropList("graphtemplate", "{}");
    EXPECT_TRUE(EndsWith(Write(graph), graphDefaults));
    EXPECT_TRUE(ReadsBack(graph, Replace(Write(graph), graphDefaults.size(),
                                         shelltest::PropList("graphtemplate",
                                                             R"({"Node template": "Paths/Node", "Width": 2.0,)"
                                                             R"( "Texture": "ribbon.dds", "Blend mode": 3,)"
                                                             R"( "Mappnig size": 6.0, "Cut off nasty ends": true})"),
                                         false)));
    EXPECT_STREQ(graph.nodeTemplate.CStr(), "Paths/Node");
    EXPECT_EQ(graph.blendMode, 3u);
    EXPECT_TRUE(graph.cutOffNastyEnds);

    InGameUITemplate ui;
    const std::vector<uint8_t> uiDefaults = shelltest::PropList("ingameuitemplate", "{}");
    EXPECT_TRUE(EndsWith(Write(ui), uiDefaults));
    EXPECT_TRUE(ReadsBack(ui, Replace(Write(ui), uiDefaults.size(),
                                      shelltest::PropList("ingameuitemplate", R"({"Size": [320, 200, 10, 0]})"), false)));
    EXPECT_EQ(ui.size, Vector(320, 200, 10, 0));
}

// A kind's editor colour is its "Wireframe color" default, which its files store and the
// flag marker draws in.
TEST_F(PlacementPropListTest, EditorColours) {
    const auto colour = [](const Vector& v) {
        HDRColor c;
        c.SetFromVector(v);
        return c;
    };
    EXPECT_EQ(FlagTemplate().wireframeColor, colour(Vector(0.3f, 0.3f, 1.0f, 1.0f)));
    EXPECT_EQ(GraphTemplate().wireframeColor, colour(Vector(0.22745098f, 0.7019608f, 0.8392157f, 1.0f)));
}

TEST_F(PlacementPropListTest, Entities) {
    CompoundTemplate compoundKind;
    compoundKind.SetName("compound");
    auto* compound = static_cast<CompoundEntity*>(
        gEntityManager->CreateEntityFromTemplate(&compoundKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> compoundDefaults = shelltest::PropList("compoundentity", "{}");
    EXPECT_TRUE(StartsWith(Write(*compound), compoundDefaults));
    EXPECT_TRUE(ReadsBack(*compound, Replace(Write(*compound), compoundDefaults.size(),
                                             shelltest::PropList("compoundentity",
                                                                 R"({"color": [10, 20, 30, 255, 2.0],)"
                                                                 R"( "box": [-2, 0, -2, 1, 2, 3, 2, 1],)"
                                                                 R"( "lightmaps": [[0.5, 0.5, 0.25, 0, 7]]})"),
                                             true)));
    EXPECT_EQ(compound->localColor, HDRColor(10, 20, 30, 255, 2.0f));
    ASSERT_EQ(compound->elementLightmaps.Count(), 1u);
    EXPECT_EQ(compound->elementLightmaps[0].lightmapId, 7u);

    FlagTemplate flagKind;
    flagKind.SetName("flag");
    auto* flag = static_cast<FlagEntity*>(
        gEntityManager->CreateEntityFromTemplate(&flagKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> flagDefaults = shelltest::PropList("flagentity", "{}");
    EXPECT_TRUE(EndsWith(Write(*flag), flagDefaults));
    EXPECT_TRUE(ReadsBack(*flag, Replace(Write(*flag), flagDefaults.size(),
                                         shelltest::PropList("flagentity",
                                                             R"({"connections": [{"points": [[1, 2, 3, 4.5]],)"
                                                             R"( "length": 9.0}]})"),
                                         false)));
    ASSERT_EQ(flag->connections.Count(), 1u);
    EXPECT_EQ(flag->connections[0].length, 9.0f);
    EXPECT_EQ(flag->connections[0].controlPoints[0].position, Vector3(1, 2, 3));
    EXPECT_EQ(flag->connections[0].controlPoints[0].distance, 4.5f);

    GraphTemplate graphKind;
    graphKind.SetName("graph");
    auto* graph = static_cast<GraphEntity*>(
        gEntityManager->CreateEntityFromTemplate(&graphKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> graphDefaults = shelltest::PropList("graphentity", R"({"box": [-1, -1, -1, 1, 1, 1, 1, 1]})");
    EXPECT_TRUE(EndsWith(Write(*graph), graphDefaults));
    EXPECT_TRUE(ReadsBack(*graph, Replace(Write(*graph), graphDefaults.size(),
                                          shelltest::PropList("graphentity", R"({"box": [-5, 0, -5, 1, 5, 1, 5, 1]})"),
                                          false)));
    EXPECT_EQ(graph->GetLocalBoundingBox().max, Vector(5, 1, 5, 1));
    // The entities go before their templates.
    gEntityManager->NewScene();
}

}  // namespace
