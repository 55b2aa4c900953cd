// The packer and the sample data: bad folders refused keeping the old set; every kind's
// set mounted as the engine does and read back byte for byte; configuration, templates,
// resource list and scene with its walk grid read by the engine's own loaders; the soldier's
// hierarchy and clips.
// test-link: engine scene z
// test-depends: pack sample_data
// test-sources: ../../core/fs/ContainerBuilder.cpp
// test-timeout: 120
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/config/ProjectConfig.h"
#include "core/fs/ContainerBuilder.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SolidFile.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/SceneGrid.h"
#include "render/RenderTestSupport.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceList.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"
#include "render/shaders/ShaderManager.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/entities/SceneParametersTemplate.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sequences/SequenceSystem.h"
#include "scene/sfx/SFXEntity.h"

namespace {

namespace stdfs = std::filesystem;
using testfs::ReadWholeFile;

const std::string kApp = PROJECT_BINARY_ROOT "/app";
const std::string kStage = PROJECT_BINARY_ROOT "/sample_data";

// The data kinds by their index in the engine's table, with files each set must hold.
const struct { const char* kind; std::vector<std::string> required; } kKinds[] = {
    {"animations", {"Soldier_Idle.bin", "Soldier_Walk.bin"}},
    {"common", {"Project.ConfigBin", "Shaders/Shaders.DefBin", "Shaders/Light.hlsl", "Shaders/Globals.hlsli"}},
    {"scenes", {"Sample.BinaryScene", "Sample.ResList", "Outpost.BinaryScene", "Outpost.ResList"}},
    {"sounds", {"Wind.ogg", "Shot.ogg", "Explosion.ogg", "Won.ogg", "Lost.ogg"}},  // sox and oggenc
    {"templates", {"TemplateInfo.Bin", "Sample/Crate.BinaryTemplate"}},
    {"voices", {}},
    {"videos", {"Intro.ogv"}},  // made by ffmpeg, which the set-up installs
    {"textures", {"System/White_4x4$cxy.dds", "System/RefractionNoise.dds"}},
};

// Every kind's set as the engine mounts it (its index, the multiplier, one extra file
// that does not exist).
bool MountSampleData(FileSystem& fileSystem) {
    for (uint32_t i = 0; i < sizeof kKinds / sizeof kKinds[0]; ++i)
        if (!fileSystem.MountContainer(kKinds[i].kind, (kApp + "/" + kKinds[i].kind + ".dat").c_str(), i, 0x5BD1E995, 1))
            return false;
    return true;
}

int Pack(const std::string& folder, const std::string& dat) {
    const int status = std::system((PROJECT_BINARY_ROOT "/tools/pack '" + folder + "' '" + dat + "' 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PackTest, FoldersTheIndexCannotServeAreRefusedKeepingTheOldSet) {
    testfs::TempDir dir;
    std::string longPath = "long";
    for (int i = 0; i < 9; ++i) longPath += "/" + std::string(240, char('a' + i));
    const std::pair<std::string, std::string> cases[] = {  // a file to make (folder first), the data file
        {"old/kept.txt", "set.dat"},   {"case/Tower.txt", "set.dat"}, {"case/tower.TXT", "set.dat"},
        {longPath, "set.dat"},         {"other/a.txt", "set.bin"},     {"missing", "set.dat"}};
    for (const auto& [path, target] : cases) {
        if (path == "missing") continue;
        stdfs::create_directories(stdfs::path(dir / path).parent_path());
        ASSERT_TRUE(testfs::WriteWholeFile(dir / path, {1, 2, 3}));
    }
    std::vector<uint8_t> dat, idx;
    for (const auto& [path, target] : cases) {
        const std::string label = path.substr(0, 16);
        EXPECT_EQ(Pack(dir / path.substr(0, path.find('/')), dir / target), path == "old/kept.txt" ? 0 : 1) << label;
        if (dat.empty()) dat = ReadWholeFile(dir / "set.dat"), idx = ReadWholeFile(dir / "set.idx");
        EXPECT_TRUE(ReadWholeFile(dir / "set.dat") == dat && ReadWholeFile(dir / "set.idx") == idx) << label;
        EXPECT_FALSE(stdfs::exists(dir / "set.dat.tmp") || stdfs::exists(dir / "set.idx.tmp")) << label;
    }
    EXPECT_EQ(dat, std::vector<uint8_t>({1, 2, 3}));
}

TEST(PackTest, SampleDataMountsEveryKindByteForByte) {
    PhysicalFileReader reader;
    ASSERT_TRUE(reader.Start());
    auto fileSystem = std::make_unique<FileSystem>(&reader);
    ASSERT_TRUE(MountSampleData(*fileSystem));
    uint32_t compressed = 0, entries = 0;
    for (const auto& k : kKinds) {
        std::vector<std::string> staged;
        for (const auto& e : stdfs::recursive_directory_iterator(kStage + "/" + k.kind))
            if (e.is_regular_file()) staged.push_back(e.path().lexically_relative(kStage + "/" + k.kind).generic_string());
        ContainerIndex index;
        ASSERT_TRUE(index.Load((kApp + "/" + k.kind + ".idx").c_str()));
        EXPECT_EQ(index.Count(), staged.size()) << k.kind;
        EXPECT_EQ(staged.empty(), k.required.empty()) << k.kind;
        for (uint32_t i = 0; i < index.Count(); ++i, ++entries) compressed += index.Entries()[i].compressed != 0;
        for (const std::string& r : k.required)
            EXPECT_NE(std::find(staged.begin(), staged.end(), r), staged.end()) << k.kind << "/" << r;
        for (std::string f : staged) {
            std::unique_ptr<FileSystemInputStream> s(fileSystem->OpenInputStream((k.kind + ("/" + f)).c_str(), nullptr, nullptr, 0));
            ASSERT_NE(s, nullptr) << f;
            std::vector<uint8_t> bytes(s->GetSize());
            EXPECT_TRUE(bytes.empty() || s->Read(bytes.data(), uint32_t(bytes.size()))) << f;
            EXPECT_EQ(bytes, ReadWholeFile(kStage + "/" + k.kind + "/" + f)) << f;
        }
    }
    EXPECT_TRUE(compressed > 0 && compressed < entries) << compressed << " of " << entries;
    EXPECT_EQ(ReadWholeFile(kApp + "/online_schema.txt"), ReadWholeFile(PROJECT_SOURCE_ROOT "/platform/online/online_schema.txt"));
    fileSystem.reset();
    reader.Stop();
}

struct SampleSceneTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(MountSampleData(gFileSystem));
        ASSERT_TRUE(gResourceManager.Start());
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        gEntityTemplateRegistry.Clear();
        gEntityManager->Init(BoundingBox4(Vector(-2400, -25, -2400, 1), Vector(2400, 200, 2400, 1)), 40.0f);
        log.Clear();
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gEntityTemplateRegistry.SetInitialised(true);
        gEntityTemplateRegistry.Shutdown();
        gShaderManager->Close();
        gResourceManager.Stop();
        gFileSystem.UnmountAll();
        RendererFixture::TearDown();
    }
    bool Loaded(uint32_t type, const char* name) {
        CriticalSectionGuard guard(&gResourceManager.ManagerLock());
        const int32_t i = gResourceManager.Pool(type)->Find(name);
        return i >= 0 && gResourceManager.Pool(type)->At(uint32_t(i))->IsLoaded();
    }
};

TEST_F(SampleSceneTest, ConfigurationTemplatesResourcesAndSceneLoad) {
    // The start scene is "Sample"; every other value is at its default.
    ProjectConfig loaded, expected;
    ASSERT_TRUE(loaded.Load());
    ASSERT_TRUE(ProjectConfig::RegisterClass()->FindProperty("Default scene")->FromString(&expected, "Sample"));
    EXPECT_STREQ(loaded.defaultScene, "Sample");
    EXPECT_TRUE(ProjectConfig::RegisterClass()->PropertiesEqual(&expected, &loaded));

    ASSERT_TRUE(ReadTemplateInfoFile(gEntityTemplateRegistry));
    // With the menu's two recipe templates, the game's 30 templates and its three recipes.
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 51u);
    EXPECT_EQ(gEntityTemplateRegistry.FindStubByName("UI/MainMenu")->typeId, 10u);
    for (const char* name : {"Sample/Crate", "Sample/Tree", "Sample/Rock", "Sample/Marker"}) {
        EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByName(name, true);
        ASSERT_NE(t, nullptr) << name;
        EXPECT_TRUE(t->IsLoaded() && t->guid == gEntityTemplateRegistry.FindStubByName(name)->guid) << name;
        // The crate, the tree and the rock are meshes.
        const bool mesh = std::string(name) != "Sample/Marker";
        EXPECT_EQ(t->typeId, mesh ? ENTITY_MESH : 0u) << name;
        EXPECT_EQ(t->HasRenderingData(), mesh) << name;
    }
    // The soldier: nine nodes and bones, both clips loaded.
    auto* soldier = dynamic_cast<MeshTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/Soldier", true));
    ASSERT_NE(soldier, nullptr);
    ASSERT_NE(soldier->GetHierarchy(), nullptr);
    EXPECT_EQ(soldier->GetHierarchy()->NodeCount(), 9u);
    EXPECT_EQ(soldier->GetHierarchy()->BoneCount(), 9u);
    ASSERT_EQ(soldier->animations.Count(), 2u);
    EXPECT_EQ(soldier->FindAnimationDefinition("Walk"), 1);
    gResourceManager.Flush();
    ASSERT_EQ(soldier->GetAnimationResources().size(), 2u);
    for (Resource* r : soldier->GetAnimationResources()) {
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->IsLoaded()) << r->GetName();
        EXPECT_GT(static_cast<ResourceAnimation*>(r)->Clip().TrackCount(), 0u) << r->GetName();
    }
    auto* trigger = dynamic_cast<TriggerTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/Trigger", true));
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(std::make_tuple(trigger->typeId, trigger->shape, trigger->mode),
              std::make_tuple(uint32_t(ENTITY_TRIGGER), uint32_t(TRIGGER_SHAPE_BOX), uint32_t(TRIGGER_MODE_POSITION_INSIDE)));
    for (const auto& [name, kind] : {std::pair{"Sample/PointLight", LIGHT_KIND_POINT}, {"Sample/SpotLight", LIGHT_KIND_SPOT}}) {
        auto* light = dynamic_cast<LightTemplate*>(gEntityTemplateRegistry.FindTemplateByName(name, true));
        ASSERT_NE(light, nullptr) << name;
        EXPECT_EQ(light->lightType, uint32_t(kind)) << name;
    }

    // The scene-parameter set (sun, fog, a tone-mapping curve) and the colour envelope.
    auto* look = dynamic_cast<SceneParametersTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/SceneParams", true));
    ASSERT_NE(look, nullptr);
    EXPECT_EQ(std::make_tuple(look->typeId, bool(look->values.affectsSun), look->values.lightPitch, look->values.rest.fogStart,
                              look->toneMappingCurve.keys.Count()),
              std::make_tuple(uint32_t(ENTITY_SCENEPARAMBOX), true, 50.0f, 80.0f, 4u));
    auto* pulse = dynamic_cast<ColorEnvelopeTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/Pulse", true));
    ASSERT_NE(pulse, nullptr);
    EXPECT_EQ(pulse->typeId, uint32_t(ENTITY_COLOR_ENVELOPE));
    ASSERT_EQ(pulse->envelope.keys.Count(), 3u);
    EXPECT_EQ(pulse->envelope.keys[1], HDRColor(255, 60, 30, 255, 1.5f));

    // The particle templates: smoke and sparks with the soft round texture, resolved on load.
    for (const char* name : {"Sample/Smoke", "Sample/Sparks"}) {
        auto* t = dynamic_cast<ParticleTemplate*>(gEntityTemplateRegistry.FindTemplateByName(name, true));
        ASSERT_NE(t, nullptr) << name;
        EXPECT_EQ(t->typeId, uint32_t(ENTITY_PARTICLE)) << name;
        EXPECT_STREQ(t->definition.textureFileName.CStr(), "SFX/SoftRound.dds") << name;
        EXPECT_TRUE(t->definition.texture && t->definition.texture->IsLoaded() && t->definition.vertexShader &&
                    t->definition.pixelShader) << name;
    }
    EXPECT_EQ(dynamic_cast<ParticleTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/Sparks", true))
                  ->definition.faceCameraMode,
              uint32_t(PARTICLE_FACE_VELOCITY_ALIGN));

    // The effect: a flare over its frame atlas, the sparks, a light and the walking soldier.
    {
        auto* beacon = dynamic_cast<SFXTemplate*>(gEntityTemplateRegistry.FindTemplateByName("Sample/Beacon", true));
        ASSERT_NE(beacon, nullptr);
        const SFXDefinition& d = *beacon->definition;
        ASSERT_EQ(d.elements.Count(), 4u);
        auto* flare = dynamic_cast<SFXQuadElementDefinition*>(d.elements[0]);
        ASSERT_NE(flare, nullptr);
        EXPECT_EQ(flare->frameCount, 4u);
        EXPECT_TRUE(flare->texture && flare->texture->IsLoaded() && flare->vertexShader && flare->pixelShader);
        auto* sparks = dynamic_cast<SFXParticleElementDefinition*>(d.elements[1]);
        ASSERT_NE(sparks, nullptr);
        EXPECT_EQ(sparks->heldTemplate, gEntityTemplateRegistry.FindTemplateByName("Sample/Sparks", true));
        EXPECT_NE(dynamic_cast<SFXPointLightElementDefinition*>(d.elements[2]), nullptr);
        auto* walker = dynamic_cast<SFXMeshElementDefinition*>(d.elements[3]);
        ASSERT_NE(walker, nullptr);
        EXPECT_EQ(walker->heldTemplate, gEntityTemplateRegistry.FindTemplateByName("Sample/Soldier", true));
        EXPECT_STREQ(walker->animation.CStr(), "Walk");
        // The clip holds its last pose past progress 1: the curve itself walks it again
        // every second.
        for (const float seconds : {0.25f, 1.5f, 30.75f}) {
            EnvelopeState state;
            walker->animationProgress.Advance(state, seconds);
            Vector progress;
            walker->animationProgress.Evaluate(state, progress);
            EXPECT_NEAR(progress.x, seconds - float(int(seconds)), 1e-3f) << seconds;
        }
        EXPECT_EQ(d.passMask & 2u, 2u);  // the light
    }

    // The list as the loader reads it: every entry loads, the shaders made this device's.
    ResourceList list;
    FileReader reader("Sample", "ResList", "scenes");
    ASSERT_TRUE(SolidDeserializeFromFileReader(list, reader, 4));
    EXPECT_EQ(list.entries[ResourceList::TEXTURES].Count(), ShaderManager::kSystemTextures);
    EXPECT_GT(list.entries[ResourceList::SHADERS].Count(), 0u);
    gResourceManager.PostPreloadList("Sample", "ResList", "scenes");
    gResourceManager.Flush();
    for (const ResourceEntry& e : list.entries[ResourceList::TEXTURES])
        EXPECT_TRUE(Loaded(RESOURCE_TEXTURE, e.name.CStr())) << e.name.CStr();
    for (const ResourceEntry& e : list.entries[ResourceList::SHADERS]) {
        char name[kMaxResourceName + 1];
        std::snprintf(name, sizeof name, "%s", e.name.CStr());
        gShaderManager->FixHardwareDepthBits(name);
        EXPECT_TRUE(Loaded(RESOURCE_SHADER, name)) << name;
    }

    // Nothing lost or refused (the shader compiler's diagnostics of the sources are the
    // shader tests' business); the grid's blocked cells are exactly those under rocks.
    LoadBinaryScene("Sample", "scenes", SCENEPARSE_INSTALL_GRID | SCENEPARSE_SEQUENCES, 0);
    for (const auto& m : log.Messages())
        EXPECT_FALSE(m.severity >= uint8_t(LogSeverity::Warning) && m.text.find(": warning X") == std::string::npos) << m.text;
    const SceneGrid* grid = gEntityManager->GetSceneGrid();
    ASSERT_NE(grid, nullptr);
    Entity* root = gEntityManager->GetRootEntity();
    EXPECT_GE(root->GetChildrenCount(), 200u);
    uint32_t rocks = 0, blocked = 0, triggers = 0, soldiers = 0, lights = 0, compounds = 0, graphs = 0;
    for (uint32_t i = 0; i < root->GetChildrenCount(); ++i) {
        Entity* e = root->GetChild(i);
        if (e->GetTemplate() == soldier) {
            ++soldiers;
            auto* m = dynamic_cast<MeshEntity*>(e);
            ASSERT_NE(m, nullptr);
            EXPECT_NE(m->GetAnimationController(), nullptr) << e->GetName();
        }
        if (auto* c = dynamic_cast<CompoundEntity*>(e)) {
            // Three crates and a lamp, made from the template's elements.
            ++compounds;
            ASSERT_EQ(c->GetChildrenCount(), 4u);
            EXPECT_STREQ(c->GetChild(0)->GetName(), "~Bottom0");
            EXPECT_NE(dynamic_cast<LightEntity*>(c->GetChild(3)), nullptr);
        }
        if (auto* g = dynamic_cast<GraphEntity*>(e)) {
            // Eight flags in a loop: every connection reaches a live flag of the graph.
            ++graphs;
            ASSERT_EQ(g->Nodes().size(), 8u);
            for (FlagEntity* f : g->Nodes()) {
                ASSERT_EQ(f->GetNeighbourCount(), 1u) << f->GetName();
                ASSERT_NE(f->GetNeighbour(0), nullptr) << f->GetName();
                EXPECT_EQ(f->GetNeighbour(0)->GetParent(), g);
            }
            GraphGeometry geometry;
            g->BuildGeometry(geometry);
            EXPECT_EQ(std::make_pair(geometry.curves.size(), geometry.arrows.size()), std::make_pair(size_t(16), size_t(8)));
        }
        if (auto* l = dynamic_cast<LightEntity*>(e)) {
            ++lights;
            EXPECT_GT(l->OuterRange(), 10.0f) << e->GetName();
            EXPECT_GT(l->color.intensity, 1.0f) << e->GetName();
        }
        if (auto* t = dynamic_cast<TriggerEntity*>(e)) {
            ++triggers;
            EXPECT_TRUE(t->IsActive() && t->GetTemplate() == trigger);
        }
        const bool rock = std::string(e->GetTemplateFullName()) == "templates/Sample/Rock";
        const uint32_t cell = grid->WorldToCell(e->GetGlobalPosition());
        ASSERT_NE(cell, SceneGrid::kNoCell) << e->GetName();
        EXPECT_EQ(grid->Cells()[(cell >> 16) * grid->Width() + (cell & 0xFFFF)], rock ? 0 : 1) << e->GetName();
        rocks += rock;
    }
    for (uint32_t i = 0; i < grid->Width() * grid->Height(); ++i) blocked += grid->Cells()[i] == 0;
    EXPECT_TRUE(rocks > 0 && blocked == rocks) << rocks << " rocks, " << blocked << " blocked cells";
    EXPECT_EQ(std::make_tuple(triggers, soldiers, lights, compounds, graphs), std::make_tuple(1u, 4u, 2u, 1u, 1u));
    // The root activates the scene's one scene-parameter entity, made from the sample set.
    SceneParametersEntity* active = gEntityManager->GetActiveSceneParamsEntity();
    ASSERT_NE(active, nullptr);
    EXPECT_STREQ(active->GetName(), "SceneParams_001");
    EXPECT_EQ(active->GetTemplate(), look);
    uint32_t particles = 0;
    for (uint32_t i = 0; i < root->GetChildrenCount(); ++i)
        if (auto* p = dynamic_cast<ParticleEntity*>(root->GetChild(i))) particles += p->spawnInGame;
    EXPECT_EQ(particles, 4u);
    uint32_t effects = 0;
    for (uint32_t i = 0; i < root->GetChildrenCount(); ++i)
        if (auto* e = dynamic_cast<SFXEntity*>(root->GetChild(i))) {
            ++effects;
            EXPECT_STREQ(e->GetName(), "Beacon_001");
            EXPECT_TRUE(e->startAtGameInit && !e->deleteAtStop);
        }
    EXPECT_EQ(effects, 1u);
    // The sequence block: one sequence of semaphores and a wait, not started.
    ASSERT_EQ(gSequenceSystem->GetSequenceCount(), 1u);
    EXPECT_STREQ(gSequenceSystem->GetSequenceName(0), "SampleGate");
    EXPECT_EQ(gSequenceSystem->GetActionsCount(0, 0), 5u);
    EXPECT_STREQ(gSequenceSystem->GetActionName(0, 0, 3), "SequenceAction");
    EXPECT_FLOAT_EQ(gSequenceSystem->GetFloatParamValue(0, 0, 3, 0), 2.0f);
    EXPECT_EQ(gSequenceSystem->GetRunningCount(), 0u);
}

}  // namespace

// The menu's textures, read by ImageMagick: uncompressed DDS of the documented sizes.
TEST(SampleUITexturesTest, AreDdsFilesImageMagickReads) {
    const struct {
        const char* name;
        const char* size;
    } rows[] = {{"MenuBackground.dds", "64x64"}, {"ButtonCorner.dds", "32x32"}};
    for (const auto& r : rows) {
        const std::string path = std::string(PROJECT_BINARY_ROOT "/sample_data/textures/UI/") + r.name;
        const std::string info = rendertest::ShellOutput("identify -format '%m %wx%h %[channels]' '" + path + "'");
        EXPECT_EQ(info.substr(0, info.find(' ', 4)), std::string("DDS ") + r.size) << info;
        EXPECT_NE(info.find("a"), std::string::npos) << "an alpha channel: " << info;
    }
}

// The menu's recipe templates, decoded by the independent reader of recipes.py.
TEST(SampleUITemplatesTest, DecodeWithTheRecipeWriter) {
    const struct {
        const char* name;
        const char* fragments[3];
    } rows[] = {
        {"MainMenu", {R"("class": "UIButtonRecipe", "Scale on click": 0.8999999761581421)", R"("Name": "StartButton")",
                      R"("Name": "StartLabel")"}},
        {"LoadingScreen", {R"("type": 10)", R"("Name": "Background")", R"("Texture": "UI/MenuBackground.dds")"}},
    };
    for (const auto& r : rows) {
        const std::string json = rendertest::ShellOutput("python3 " PROJECT_SOURCE_ROOT "/tests/support/recipes.py decode " +
                                                         std::string(PROJECT_BINARY_ROOT "/sample_data/templates/UI/") +
                                                         r.name + ".BinaryTemplate");
        for (const char* f : r.fragments) EXPECT_NE(json.find(f), std::string::npos) << r.name << ": " << f << "\n" << json;
    }
}
