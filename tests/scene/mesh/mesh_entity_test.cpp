// test-sanitize: address
// Mesh entities: the preset fallback chain and the temporary preset, the local colour's
// posts, the proxy's copied state, ops and draws, the walk-map calls and the navigation
// entries. Meshes come from tests/support/mesh_block.py; no shader definitions are loaded.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/CharacterCollision.h"
#include "engine/services/EngineServices.h"
#include "render/RenderTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

std::vector<uint8_t> ToolBlock(const std::string& model) { return sceneframe::MeshToolBlock(model, "mesh_entity_test_block.bin"); }

// A cube whose presets have these names; preset i's part has pass kind i + 1.
std::string Presets(std::initializer_list<const char*> names, const std::string& extra = "") {
    std::string list = "[";
    int kind = 1;
    for (const char* n : names)
        list += "{'name': '" + std::string(n) + "', 'parts': [{'count': 12, 'pass': " + std::to_string(kind++) + "}]},";
    list += "]";
    return "(lambda b: (b['rd'].update({" + extra + "}), b)[1])(m.box_mesh(presets=" + list + "))";
}

struct MeshEntityTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void TearDown() override {
        MeshEntity::ReturnAllMeshesToDefaultShaderPreset();
        EndScene();
        templates.clear();
        SceneEntityFixture::TearDown();
    }
    MeshTemplate* Template(const std::string& model, const char* name = "mesh") {
        templates.push_back(std::make_unique<MeshTemplate>());
        MeshTemplate* t = templates.back().get();
        t->SetName(name);
        const std::vector<uint8_t> block = ToolBlock(model);
        BoundedReader in(block.data(), block.size());
        EXPECT_TRUE(t->ReadBinaryData(in, 50));
        return t;
    }
    MeshEntity* Make(MeshTemplate* t, const char* preset = nullptr) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr);
        auto* m = dynamic_cast<MeshEntity*>(e);
        EXPECT_NE(m, nullptr);
        if (m && preset) m->SetShaderPreset(NameString(preset));
        return m;
    }
    // The context's preset as the render thread holds it.
    static uint32_t ContextPreset(MeshEntity* m) {
        gVornexRenderer.FlushCommands(true);
        return static_cast<MeshEntityRenderingContext*>(m->GetRenderingContext())->Preset();
    }
    std::vector<std::unique_ptr<MeshTemplate>> templates;
};

TEST_F(MeshEntityTest, PresetFallsBackToDefaultThenTheFirst) {
    MeshTemplate* withDefault = Template(Presets({"A", "Default", "Red"}));
    MeshTemplate* without = Template(Presets({"A", "B"}));
    const struct {
        MeshTemplate* t;
        const char* name;
        uint32_t want;
    } cases[] = {{withDefault, "Red", 2}, {withDefault, "", 1}, {withDefault, "Missing", 1}, {withDefault, "a", 0},
                 {without, "Missing", 0}, {without, "B", 1}};
    for (const auto& c : cases) {
        MeshEntity* m = Make(c.t, c.name);
        EXPECT_EQ(m->GetShaderPresetIndex(), c.want) << c.name;
        EXPECT_EQ(ContextPreset(m), c.want) << c.name;
        EXPECT_EQ(m->HasShaderPreset(c.name), std::string(c.name) == "Red" || std::string(c.name) == "B" ||
                                                  std::string(c.name) == "a")
            << c.name;
    }
    // The editor's choices are the template's preset names.
    std::vector<NameString> choices;
    Make(withDefault)->GetPropertyChoices("Shader preset", choices);
    ASSERT_EQ(choices.size(), 3u);
    EXPECT_STREQ(choices[2].CStr(), "Red");
}

TEST_F(MeshEntityTest, TemporaryPresetAppliesToAllAndReturns) {
    MeshTemplate* red = Template(Presets({"Default", "Red"}));
    MeshTemplate* plain = Template(Presets({"Default", "Blue"}));
    MeshEntity* a = Make(red);
    MeshEntity* b = Make(plain, "Blue");
    MeshEntity* custom = Make(plain, "Default");
    custom->SetCustomTemporaryShaderPreset("Blue");
    MeshEntity::TemporarySetShaderPresetForAllMeshes("Red", 0);
    EXPECT_EQ(a->GetShaderPresetIndex(), 1);
    EXPECT_EQ(b->GetShaderPresetIndex(), 1);  // no "Red": keeps its own
    EXPECT_EQ(custom->GetShaderPresetIndex(), 0);
    EXPECT_EQ(ContextPreset(a), 1u);
    // A mesh made meanwhile takes the temporary preset; bit 0 prefers the custom one.
    MeshEntity* late = Make(red);
    EXPECT_EQ(late->GetShaderPresetIndex(), 1);
    MeshEntity::TemporarySetShaderPresetForAllMeshes("Red", kMeshPresetUseCustom);
    EXPECT_EQ(custom->GetShaderPresetIndex(), 1);
    MeshEntity::ReturnAllMeshesToDefaultShaderPreset();
    EXPECT_TRUE(MeshEntity::GetTemporaryShaderPreset().IsEmpty());
    EXPECT_EQ(a->GetShaderPresetIndex(), 0);
    EXPECT_EQ(late->GetShaderPresetIndex(), 0);
    EXPECT_EQ(b->GetShaderPresetIndex(), 1);
    EXPECT_EQ(custom->GetShaderPresetIndex(), 0);
    EXPECT_EQ(ContextPreset(a), 0u);
    // The registry's global name is not a temporary preset: it is tried after a missing
    // preset, before "Default"; a template without it goes on to "Default".
    MeshTemplate::SetFallbackShaderPreset("Red");
    EXPECT_TRUE(MeshEntity::GetTemporaryShaderPreset().IsEmpty());
    EXPECT_EQ(Make(red)->GetShaderPresetIndex(), 1);
    EXPECT_EQ(Make(red, "Missing")->GetShaderPresetIndex(), 1);
    EXPECT_EQ(Make(red, "Default")->GetShaderPresetIndex(), 0);
    EXPECT_EQ(Make(plain, "Missing")->GetShaderPresetIndex(), 0);
    EXPECT_EQ(a->GetShaderPresetIndex(), 0);  // nothing re-applied
    MeshTemplate::SetFallbackShaderPreset(nullptr);
}

TEST_F(MeshEntityTest, LocalColorPostsChangesOnlyAndTheDrawTakesThem) {
    MeshEntity* m = Make(Template(Presets({"Default"})));
    const HDRColor red(255, 0, 0, 255, 1.0f);
    gVornexRenderer.FlushCommands(true);
    const uint32_t before = gVornexRenderer.PostedRecords();
    m->SetLocalColor(HDRColor(255, 255, 255, 255, 1.0f));
    EXPECT_EQ(gVornexRenderer.PostedRecords(), before);
    m->SetLocalColor(red);
    EXPECT_EQ(gVornexRenderer.PostedRecords(), before + 1);
    m->SetLocalColor(red);
    EXPECT_EQ(gVornexRenderer.PostedRecords(), before + 1);
    gVornexRenderer.FlushCommands(true);
    // The colour the draws take follows the change; a proxy made later starts with it.
    auto* c = static_cast<MeshEntityRenderingContext*>(m->GetRenderingContext());
    EXPECT_EQ(c->MeshColour(), Vector(1, 0, 0, 1));
    m->RecreateRenderingContext(true);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(static_cast<MeshEntityRenderingContext*>(m->GetRenderingContext())->MeshColour(), Vector(1, 0, 0, 1));
}

TEST_F(MeshEntityTest, ProxyCopiesStateAndAppliesItsOps) {
    // Render bytes 1..8: deferred, third, forward, outlined, secondary pass, flag 5, second flag.
    MeshTemplate* t = Template(Presets({"Default", "Two"}, "'render': [1, 0, 1, 1, 1, 0, 1, 0]"));
    MeshEntity* m = Make(t, "Two");
    m->localColor = HDRColor(255, 255, 255, 255, 1.0f);
    m->lightmapMapping = LightmapMapping{Vector(1, 2, 3, 4), 7};
    m->RecreateRenderingContext(true);
    auto* c = static_cast<MeshEntityRenderingContext*>(m->GetRenderingContext());
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(m->GetEnforcedRenderingFlags() & 0x2E0u, 0x40u | 0x20u | 0x200u);
    EXPECT_EQ(c->RenderingData(), t->GetRenderingData());
    EXPECT_EQ(c->Preset(), 1u);
    EXPECT_EQ(c->RenderState(), MeshEntityRenderingContext::kStateSecondary | MeshEntityRenderingContext::kStateSecond);
    EXPECT_EQ(c->Lightmap().lightmapId, 7u);
    EXPECT_EQ(c->KindFlags() & ERC_KIND_SHADOW_CASTER, ERC_KIND_SHADOW_CASTER);
    // The pass query answers the preset's pass mask (kind 2 -> bit 2).
    uint32_t category = 0;
    RunOnRenderThread([&] { category = c->OutlineCategory(0); });
    EXPECT_EQ(category, 4u);
    // Ops 0 to 3.
    std::vector<float> palette(3 * 12);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = float(i);
    c->PostPreset(0);
    c->PostBones(palette.data(), 3);
    c->PostLightmap(LightmapMapping{Vector(5, 6, 7, 8), 9});
    c->PostRenderingData(nullptr);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(c->Preset(), 0u);
    EXPECT_EQ(c->Bones(), palette);
    EXPECT_EQ(c->Lightmap().uvMulAdd, Vector(5, 6, 7, 8));
    EXPECT_EQ(c->RenderingData(), nullptr);
    EXPECT_EQ(c->RenderState(), 0u);
    // Without rendering data the draws do nothing.
    RunOnRenderThread([&] {
        c->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{});
        c->DrawDepth(nullptr, 0);
        EXPECT_FALSE(c->DrawPassMask(nullptr, Matrix::IDENTITY));
        EXPECT_EQ(c->OutlineCategory(0), 0u);
    });
    EXPECT_TRUE(recorder->DrawRecords().empty());
}

TEST_F(MeshEntityTest, WalkMapAndNavigationEntries) {
    SceneGrid& grid = *new SceneGrid();  // the manager owns it
    gEntityManager->SetSceneGrid(&grid);
    // A face-collision mesh with its collision vertices kept in main memory.
    MeshTemplate* face = Template(
        Presets({"Default"}, "'storage': 1, 'mm_flags': 1, 'mm_size': 12, 'mm_bytes': m.struct.pack('<24f', *[c for z in (-1, 1) for y in (-1, 1) for x in (-1, 1) for c in (x, y, z)]).hex()"));
    face->playerCollisionType = MESH_COLLISION_FACE;
    face->dynamicPlayerCollision = true;
    MeshTemplate* plain = Template(Presets({"Default"}));
    grid.ClearDirty();
    MeshEntity* obstacle = Make(face);
    obstacle->InitTriggerActivation();  // what finishing the creation runs
    EXPECT_TRUE(grid.IsDirty());  // registered as an obstacle
    EXPECT_EQ(grid.Obstacles().Count(), 1u);
    grid.ClearDirty();
    obstacle->SetGlobalPosition3(1, 0, 0);
    EXPECT_TRUE(grid.IsDirty());
    grid.ClearDirty();
    obstacle->RaiseFlag(ENTITYFLAG_GHOSTMODE, false);
    EXPECT_TRUE(grid.IsDirty());
    grid.ClearDirty();
    MeshEntity* other = Make(plain);
    other->InitTriggerActivation();
    other->SetGlobalPosition3(2, 0, 0);
    EXPECT_FALSE(grid.IsDirty());

    ASSERT_NE(gEngineServices.meshPlayerCollisionType, nullptr);
    EXPECT_EQ(gEngineServices.meshPlayerCollisionType(obstacle), uint32_t(PLAYER_COLLISION_FACE));
    EXPECT_EQ(gEngineServices.meshPlayerCollisionType(other), uint32_t(PLAYER_COLLISION_NONE));
    MeshCollisionData data;
    ASSERT_TRUE(gEngineServices.meshCollisionData(obstacle, &data));
    EXPECT_EQ(data.vertexCount, 8u);
    EXPECT_EQ(data.vertexSize, 12u);
    EXPECT_EQ(data.triangleCount, 12u);
    EXPECT_EQ(data.indices[0], 0);
    EXPECT_EQ(data.indices[1], 2);
    EXPECT_FALSE(gEngineServices.meshCollisionData(other, &data));

    grid.ClearDirty();
    obstacle->DeleteMe();
    EXPECT_TRUE(grid.IsDirty());
    gEntityManager->NewScene();  // deletes the entities, then the grid
    EXPECT_EQ(gEntityManager->GetSceneGrid(), nullptr);
}

TEST_F(MeshEntityTest, CollisionBoxesGrowTheRegisteredBox) {
    MeshTemplate* t = Template(Presets({"Default"}));
    t->collisionBox = BoundingBox4(Vector(-1, 0, -1, 1), Vector(1, 5, 1, 1));
    t->collisionScale = Vector(2, 2, 2, 1);
    t->collisionOffset = Vector(0, 1, 0, 0);
    t->UpdateCollisionBox();
    MeshEntity* m = Make(t);
    BoundingBox4 box(Vector(0, 0, 0, 1), Vector(0, 0, 0, 1));
    m->OnGlobalLocationChanged(box);
    EXPECT_EQ(box.min, Vector(-2, 0, -2, 1));
    EXPECT_EQ(box.max, Vector(2, 11, 2, 1));
    EXPECT_EQ(m->GetLocalCollisionBoundingBox(), t->GetEffectiveCollisionBox());
    EXPECT_TRUE(m->IsOptimizable());
    m->optimizable = false;
    EXPECT_FALSE(m->IsOptimizable());

    // The debug box: with a player collision type the collision box goes out first.
    for (uint32_t type : {MESH_COLLISION_NONE, MESH_COLLISION_BOX}) {
        t->playerCollisionType = type;
        gVornexRenderer.FlushCommands(true);
        const uint32_t before = gVornexRenderer.PostedRecords();
        m->DrawBoundingBox(m->GetLocalBoundingBox(), HDRColor(255, 255, 255, 255, 1.0f));
        EXPECT_EQ(gVornexRenderer.PostedRecords() - before, type == MESH_COLLISION_NONE ? 1u : 2u) << type;
    }
    // A child mounted to a bone is unmounted when it leaves.
    MeshEntity* child = Make(t);
    child->SetParent(m);
    child->SetFlags2(ENTITYFLAG2_MOUNTED_TO_BONE, true);
    child->SetParent(nullptr);  // the old parent's RemoveChild
    EXPECT_EQ(child->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE, 0u);
    EXPECT_EQ(m->GetChildrenCount(), 0u);
}

}  // namespace
