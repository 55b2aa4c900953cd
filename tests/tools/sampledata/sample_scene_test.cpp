// The sample templates and scene through the engine's own loaders, read from the sample
// data's container sets as the engine mounts them: the catalogue and binary templates,
// the resource list preloaded by the loader thread, and the binary scene with its walk
// grid, whose blocked cells must lie under the rocks as the grid itself maps positions.
// test-link: engine
// test-depends: sample_data
// test-timeout: 120
#include <cstdio>
#include <string>
#include <vector>

#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SolidFile.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/navigation/SceneGrid.h"
#include "render/RenderTestSupport.h"
#include "render/resources/ResourceList.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"
#include "render/shaders/ShaderManager.h"

namespace {

struct SampleSceneTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        const char* const kinds[] = {"animations", "common", "scenes", "sounds", "templates", "voices", "videos", "textures"};
        for (uint32_t i = 0; i < 8; ++i) {
            const std::string dat = std::string(PROJECT_BINARY_ROOT "/app/") + kinds[i] + ".dat";
            ASSERT_TRUE(gFileSystem.MountContainer(kinds[i], dat.c_str(), i, 0x5BD1E995, 1)) << kinds[i];
        }
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
        ResourcePool* pool = gResourceManager.Pool(type);
        const int32_t i = pool ? pool->Find(name) : -1;
        return i >= 0 && pool->At(static_cast<uint32_t>(i))->IsLoaded();
    }
    // Warnings and errors logged so far, one per line; the shader compiler's own
    // diagnostics of the sources are the shader tests' business.
    std::string Problems() {
        std::string out;
        for (const auto& m : log.Messages())
            if (m.severity >= uint8_t(LogSeverity::Warning) && m.text.find(": warning X") == std::string::npos)
                out += m.text + "\n";
        return out;
    }
};

TEST_F(SampleSceneTest, TemplatesResourcesAndSceneLoad) {
    ASSERT_TRUE(ReadTemplateInfoFile(gEntityTemplateRegistry));
    const char* const templates[] = {"Sample/Crate", "Sample/Tree", "Sample/Rock", "Sample/Marker"};
    EXPECT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 4u);
    for (const char* name : templates) {
        EntityTemplateStub* stub = gEntityTemplateRegistry.FindStubByName(name);
        ASSERT_NE(stub, nullptr) << name;
        EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByName(name, true);
        ASSERT_NE(t, nullptr) << name;
        EXPECT_TRUE(t->IsLoaded()) << name;
        EXPECT_EQ(t->guid, stub->guid) << name;
        EXPECT_EQ(t->binaryDataVersion, kTemplateBinaryVersion) << name;
        EXPECT_GT(t->staticBoundingBox.max.y, t->staticBoundingBox.min.y) << name;
    }

    // The list as the loader reads it; every entry loads, shaders made this device's.
    ResourceList list;
    FileReader reader("Sample", "ResList", "scenes");
    ASSERT_TRUE(reader.IsOpen());
    ASSERT_TRUE(SolidDeserializeFromFileReader(list, reader, 4));
    EXPECT_EQ(list.entries[ResourceList::TEXTURES].Count(), ShaderManager::kSystemTextures);
    EXPECT_GT(list.entries[ResourceList::SHADERS].Count(), 0u);
    gResourceManager.PostPreloadList("Sample", "ResList", "scenes");
    gResourceManager.Flush();
    EXPECT_TRUE(log.Contains("PreloadResources end"));
    for (const ResourceEntry& e : list.entries[ResourceList::TEXTURES])
        EXPECT_TRUE(Loaded(RESOURCE_TEXTURE, e.name.CStr())) << e.name.CStr();
    for (const ResourceEntry& e : list.entries[ResourceList::SHADERS]) {
        char name[kMaxResourceName + 1];
        std::snprintf(name, sizeof name, "%s", e.name.CStr());
        gShaderManager->FixHardwareDepthBits(name);
        EXPECT_TRUE(Loaded(RESOURCE_SHADER, name)) << name;
    }

    LoadBinaryScene("Sample", "scenes", SCENEPARSE_INSTALL_GRID, 0);
    EXPECT_EQ(Problems(), "");
    const SceneGrid* grid = gEntityManager->GetSceneGrid();
    ASSERT_NE(grid, nullptr);
    Entity* root = gEntityManager->GetRootEntity();
    EXPECT_GE(root->GetChildrenCount(), 200u);
    uint32_t rocks = 0, blocked = 0;
    for (uint32_t i = 0; i < root->GetChildrenCount(); ++i) {
        Entity* e = root->GetChild(i);
        const bool rock = std::string(e->GetTemplateFullName()) == "templates/Sample/Rock";
        const uint32_t cell = grid->WorldToCell(e->GetGlobalPosition());
        ASSERT_NE(cell, SceneGrid::kNoCell) << e->GetName();
        EXPECT_EQ(grid->Cells()[(cell >> 16) * grid->Width() + (cell & 0xFFFF)], rock ? 0 : 1) << e->GetName();
        rocks += rock;
    }
    for (uint32_t i = 0; i < grid->Width() * grid->Height(); ++i) blocked += grid->Cells()[i] == 0;
    EXPECT_GT(rocks, 0u);
    EXPECT_EQ(blocked, rocks);
}

}  // namespace
