// test-sanitize: address
// The route ribbon's property lists against the independent writer
// (tests/support/proplist.py): the template's defaults, a list with every property set read
// into the template and written back unchanged (order, kinds and the two group separators
// that write nothing), and the entity's own list, which is empty. A "Blend mode" read from
// data outside the nine names draws as "Alpha".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "game/path/ZKRPathRendererEntityRenderingContext.h"
#include "PathTestSupport.h"
#include "render/RenderTestSupport.h"

using namespace pathtest;
using sceneframe::EndsWith;
using sceneframe::Written;

namespace {

using PathTemplateTest = PathFixture<rendertest::RendererFixture>;

TEST_F(PathTemplateTest, PropertyListsMatchTheIndependentWriter) {
    ZKRPathRendererTemplate t;
    const std::vector<uint8_t> defaults = shelltest::PropList("pathrenderertemplate", "{}");
    const std::vector<uint8_t> before = Written(t);
    ASSERT_TRUE(EndsWith(before, defaults));
    const std::vector<uint8_t> own = shelltest::PropList(
        "pathrenderertemplate",
        R"({"Smoothness": 2.0, "Texture file name": "Path/Ribbon.dds", "Blend mode": 2, "Width": 6.0,)"
        R"( "Level": 1.5, "Depth offset": 3.0, "Color": [10, 20, 30, 40, 1.5],)"
        R"( "Signal color": [50, 60, 70, 80, 2.5], "Signal timeout": 7.0, "Signal velocity": 90.0,)"
        R"( "Mapping scale": 0.25, "Battlefield texture file name": "Path/Wide.dds",)"
        R"( "Battlefield Blend mode": 12, "Battlefield width": 8.0, "Battlefield level": 2.5,)"
        R"( "Battlefield depth offset": 4.0, "Battlefield color": [1, 2, 3, 4, 1.0],)"
        R"( "Battlefield signal color": [5, 6, 7, 8, 3.0], "Battlefield signal timeout": 9.0,)"
        R"( "Battlefield signal velocity": 11.0})");
    std::vector<uint8_t> bytes(before.begin(), before.end() - ptrdiff_t(defaults.size()));
    bytes.insert(bytes.end(), own.begin(), own.end());
    BoundedReader in(bytes.data(), bytes.size());
    ASSERT_EQ(t.GetRTTIClass()->DeserializeProperties(in, &t, 0), bytes.size());
    EXPECT_EQ(Written(t), bytes);
    EXPECT_EQ(t.smoothness, 2.0f);
    EXPECT_STREQ(t.textureFileName.CStr(), "Path/Ribbon.dds");
    EXPECT_EQ(t.blendMode, 2u);
    EXPECT_EQ(t.mappingScale, 0.25f);
    EXPECT_EQ(t.color, HDRColor(10, 20, 30, 40, 1.5f));
    EXPECT_EQ(t.signalColor, HDRColor(50, 60, 70, 80, 2.5f));
    EXPECT_STREQ(t.battlefieldTextureFileName.CStr(), "Path/Wide.dds");
    EXPECT_EQ(t.battlefieldSignalColor, HDRColor(5, 6, 7, 8, 3.0f));
    EXPECT_EQ(t.battlefieldSignalVelocity, 11.0f);

    // The battlefield set as a context takes it: the blend mode outside the names falls
    // back to "Alpha", the depth offset becomes the bias.
    auto* c = new ZKRPathRendererEntityRenderingContext(EntityRenderingContextSetup{}, t, 0, nullptr, 0.0f, 0.0f, true);
    EXPECT_EQ(c->BlendMode(), 1u);
    EXPECT_EQ(c->DepthBias(), 4.0f * -0.0001f);
    EXPECT_EQ(c->RibbonConstant()[0], 8.0f);
    EXPECT_EQ(c->SignalVelocity(), 11.0f);
    c->Release();
    gVornexRenderer.FlushCommands(true);

    // The entity adds no list of its own to its base's.
    EXPECT_TRUE(shelltest::PropList("pathrendererentity", "{}").empty());
    Entity plain;
    EXPECT_EQ(Written(*path).size(), Written(plain).size());
}

}  // namespace
