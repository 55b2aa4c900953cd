// test-sanitize: address
// The route ribbon's property lists against the independent writer
// (tests/support/proplist.py "gameclass"): the template's defaults, a list with every
// property set read into the template and written back unchanged (order, kinds and the two
// group separators that write nothing), and the entity's own list, which is empty. A
// "Blend mode" read from data outside the nine names draws as "Alpha"; the texture names
// pick from "Textures". The two classes in their places of the start-up order, with the
// template's type row; the entity's render bit, also when a scene's stored list cleared it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "game/GameStaticInit.h"
#include "game/kinds/GameTypes.h"
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
    const std::vector<uint8_t> defaults = shelltest::PropList("gameclass", R"({"class": "ZKRPathRendererTemplate"})");
    const std::vector<uint8_t> before = Written(t);
    ASSERT_TRUE(EndsWith(before, defaults));
    const std::vector<uint8_t> own = shelltest::PropList(
        "gameclass",
        R"({"class": "ZKRPathRendererTemplate", "values": {"Smoothness": 2.0, "Texture file name": "Path/Ribbon.dds", "Blend mode": 2, "Width": 6.0,)"
        R"( "Level": 1.5, "Depth offset": 3.0, "Color": [10, 20, 30, 40, 1.5],)"
        R"( "Signal color": [50, 60, 70, 80, 2.5], "Signal timeout": 7.0, "Signal velocity": 90.0,)"
        R"( "Mapping scale": 0.25, "Battlefield texture file name": "Path/Wide.dds",)"
        R"( "Battlefield Blend mode": 12, "Battlefield width": 8.0, "Battlefield level": 2.5,)"
        R"( "Battlefield depth offset": 4.0, "Battlefield color": [1, 2, 3, 4, 1.0],)"
        R"( "Battlefield signal color": [5, 6, 7, 8, 3.0], "Battlefield signal timeout": 9.0,)"
        R"( "Battlefield signal velocity": 11.0}})");
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

    // Both texture names are file names picked from the "Textures" folder.
    for (const char* name : {"Texture file name", "Battlefield texture file name"}) {
        const RTTIProperty* p = t.GetRTTIClass()->FindProperty(name);
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(p->Flags() & 2048u, 2048u) << name;
        ASSERT_NE(p->Extra(), nullptr) << name;
        EXPECT_STREQ(static_cast<const char*>(p->Extra()), "Textures") << name;
    }

    // The entity adds no list of its own to its base's.
    EXPECT_TRUE(shelltest::PropList("gameclass", R"({"class": "ZKRPathRendererEntity"})").empty());
    Entity plain;
    EXPECT_EQ(Written(*path).size(), Written(plain).size());

    // A scene stores the base list with its enforced rendering flags clear; the route read
    // from it still reaches the forward pass once its route makes a context.
    const std::vector<uint8_t> stored = Written(plain);
    BoundedReader storedIn(stored.data(), stored.size());
    ASSERT_EQ(path->GetRTTIClass()->DeserializeProperties(storedIn, path, 0), stored.size());
    EXPECT_EQ(path->GetEnforcedRenderingFlags() & 0x20u, 0u);
    Route(Chain({Vector(0, 0, 0, 1), Vector(10, 0, 0, 1), Vector(10, 0, 10, 1)}), 1.0f);
    EXPECT_EQ(path->GetEnforcedRenderingFlags() & 0x20u, 0x20u);
}

TEST_F(PathTemplateTest, TheClassesTakeTheirPlacesInTheStartUpOrder) {
    // Where a class's registration row stands in the game's start-up table; -1 if absent.
    const auto place = [](const char* name, StaticInitKind kind) {
        for (uint32_t i = 0; i < kGameStaticInit.count; ++i)
            if (kGameStaticInit.rows[i].kind == kind && std::strcmp(kGameStaticInit.rows[i].name, name) == 0)
                return int32_t(i);
        return int32_t(-1);
    };
    using K = StaticInitKind;
    const int32_t phone = place("ZKRiPhoneTriggerTemplate", K::ClassRegistration);
    const int32_t pathTemplate = place("ZKRPathRendererTemplate", K::ClassRegistration);
    ASSERT_GE(phone, 0);
    // After the phone-trigger template and its type row: the path renderer template and
    // its type row, the remote connector array template and its row, the path renderer
    // entity, the remote connector array entity.
    EXPECT_EQ(pathTemplate, phone + 2);
    EXPECT_EQ(place("ZKRPathRendererTemplate", K::TemplateTypeRow), phone + 3);
    EXPECT_EQ(kGameStaticInit.rows[phone + 3].typeRow, uint32_t(ENTITY_ZKR_PATHRENDERER));
    EXPECT_EQ(kGameStaticInit.rows[phone + 3].baseRow, uint32_t(ENTITY_NULL));
    EXPECT_EQ(place("ZKRRemoteConnectorArrayTemplate", K::ClassRegistration), phone + 4);
    EXPECT_EQ(place("ZKRPathRendererEntity", K::ClassRegistration), phone + 6);
    EXPECT_EQ(place("ZKRRemoteConnectorArrayEntity", K::ClassRegistration), phone + 7);
    const TemplateTypeTable::Row& row = TemplateTypeTable::Get()[ENTITY_ZKR_PATHRENDERER];
    ASSERT_NE(row.name, nullptr);
    EXPECT_STREQ(row.name, "ZKRPathRendererTemplate");
    EXPECT_EQ(row.base, uint32_t(ENTITY_NULL));
    // The class-name registry makes the template, which makes the entity.
    RTTIPolyBaseClass* made = NameRegistry::CreateObject("ZKRPathRendererTemplate");
    auto* t = dynamic_cast<ZKRPathRendererTemplate*>(made);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->typeId, uint32_t(ENTITY_ZKR_PATHRENDERER));
    Entity* e = t->CreateEntity();
    EXPECT_NE(dynamic_cast<ZKRPathRendererEntity*>(e), nullptr);
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & 0x20u, 0x20u);  // every route carries render bit 0x20
    delete e;
    delete t;
}

}  // namespace
