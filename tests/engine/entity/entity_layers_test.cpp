// test-sanitize: address
#include <gtest/gtest.h>

#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityLayers.h"

namespace {

bool Bit(const uint32_t mask[kLayerMaskWords], uint32_t i) { return (mask[i / 32] >> (i % 32)) & 1u; }

EntityLayer* AddLayer(EntityLayerGroup& g, const char* name, uint8_t id) {
    EntityLayer* l = new EntityLayer();
    RTTIValueStore<char*>::Assign(l->name, const_cast<char*>(name));
    l->SetId(id);
    g.layers.Add(l);
    return l;
}

EntityLayerGroup* AddGroup(EntityLayerGroup& g, const char* name) {
    EntityLayerGroup* c = new EntityLayerGroup();
    RTTIValueStore<char*>::Assign(c->name, const_cast<char*>(name));
    g.children.Add(c);
    return c;
}

TEST(LayersTest, ResetAndMasks) {
    EntityLayerSystem s;
    EXPECT_STREQ(s.root.name, "LAYERS");
    EXPECT_TRUE(s.root.expanded);
    ASSERT_EQ(s.root.layers.Count(), 1u);
    EXPECT_STREQ(s.root.layers[0]->name, "Default");
    EXPECT_EQ(s.root.layers[0]->GetId(), 1);
    EXPECT_FALSE(s.root.layers[0]->guid.IsNull());
    EXPECT_EQ(s.activeLayerId, 1);

    EntityLayerGroup* outer = AddGroup(s.root, "Outer");
    EntityLayerGroup* inner = AddGroup(*outer, "Inner");
    AddLayer(*outer, "Walls", 7);
    AddLayer(*inner, "Props", 40)->frozen = true;
    AddLayer(s.root, "Editor", 200)->visible = false;

    uint32_t mask[kLayerMaskWords];
    s.HideLayerInGame("Default", true);
    EntityLayerSystem::BuildInGameVisibleLayerMask(mask);
    for (uint32_t i = 0; i < kLayerCount; ++i) EXPECT_EQ(Bit(mask, i), i != 1) << i;  // unused ids stay visible
    s.HideLayerInGame("Default", false);
    s.HideLayerGroupInGame("Outer", true);
    EntityLayerSystem::BuildInGameVisibleLayerMask(mask);
    EXPECT_FALSE(Bit(mask, 7));
    EXPECT_FALSE(Bit(mask, 40));
    EXPECT_TRUE(Bit(mask, 0) && Bit(mask, 1) && Bit(mask, 200));
    EntityLayerSystem::BuildVisibleLayerMask(mask);
    EXPECT_FALSE(Bit(mask, 200));
    EXPECT_TRUE(Bit(mask, 0) && Bit(mask, 40));
    EntityLayerSystem::BuildFrozenLayerMask(mask);
    for (uint32_t i = 0; i < kLayerCount; ++i) EXPECT_EQ(Bit(mask, i), i == 40) << i;
    EXPECT_EQ(EntityLayerSystem::FindLayerByName(&s.root, "Props")->GetId(), 40);
    EXPECT_EQ(EntityLayerSystem::FindLayerGroupByName(&s.root, "Inner"), inner);
    EXPECT_EQ(s.FindLayerByName(nullptr), nullptr);

    s.Reset();
    EXPECT_EQ(EntityLayerSystem::LayerById(7), nullptr);
    EXPECT_EQ(EntityLayerSystem::LayerById(40), nullptr);
    EXPECT_EQ(s.root.children.Count(), 0u);
}

TEST(LayersTest, TwoLayersWithOneId) {
    EntityLayerGroup g;
    EntityLayer* first = AddLayer(g, "first", 9);
    EntityLayer* second = AddLayer(g, "second", 9);
    EXPECT_EQ(EntityLayerSystem::LayerById(9), second);  // the later one owns the slot
    g.layers.Remove(0);
    delete first;  // not the owner: the owner stays registered
    EXPECT_EQ(EntityLayerSystem::LayerById(9), second);
    second->SetId(10);
    EXPECT_EQ(EntityLayerSystem::LayerById(9), nullptr);
    EXPECT_EQ(EntityLayerSystem::LayerById(10), second);
}

}  // namespace
