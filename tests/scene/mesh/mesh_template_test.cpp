// test-sanitize: thread address
// test-sources: ../../engine/NumpyReference.cpp
// test-timeout: 120
// The mesh template: its property list and mesh block through the template files and the
// ResourceManager, the animation tree, the lookups, the head bones and the collision box.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/BoundedReader.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "engine/services/SceneContentServices.h"

namespace {

// A skeleton of seven nodes, depth first:
//   0 root, 1 spine (root), 2 head (spine), 3 jaw (head), 4 arm (spine), 5 hand (arm),
//   6 legs (root); every node but the root is a bone.
MeshHierarchy* Skeleton() {
    auto* h = new MeshHierarchy();
    const struct {
        const char* name;
        uint8_t parent;
    } nodes[] = {{"root", 255}, {"spine", 0}, {"head", 1}, {"jaw", 2}, {"arm", 1}, {"hand", 4}, {"legs", 0}};
    uint8_t bone = 0;
    for (const auto& n : nodes) {
        h->nodes.push_back({NameString(n.name), n.parent, n.parent == 255 ? kMeshNoIndex : bone++});
        for (int i = 0; i < 16; ++i) h->matrices.push_back(i % 5 == 0 ? 1.0f : 0.0f);
    }
    h->boneCount = bone;
    h->matrices.resize(h->matrices.size() + size_t(bone) * 16);
    return h;
}

struct TreeNode {
    std::string name;
    uint32_t first, count, parent, child, sibling;
};

std::vector<TreeNode> Tree(const MeshHierarchy& h) {
    std::vector<TreeNode> out;
    for (const MeshAnimationTreeNode& t : h.treeNodes)
        out.push_back({t.name.CStr(), t.firstNode, t.nodeCount, t.parent, t.firstChild, t.nextSibling});
    return out;
}

constexpr uint32_t N = kMeshNoTreeNode;

TEST(MeshHierarchyTree, DefinitionsBecomeRangesOverTheSkeleton) {
    CaptureLogSink log;
    log.Attach();
    const struct {
        const char* name;
        const char* text;
        std::vector<TreeNode> tree;
        const char* logged;
    } cases[] = {
        {"siblings in hierarchy order, ranges over each subtree",
         "<Node Name=\"Legs\" Bone=\"legs\"/><Node Name=\"Upper\" Bone=\"spine\"><Node Name=\"Head\" Bone=\"head\"/></Node>",
         {{"root", 0, 7, N, 1, N}, {"Upper", 1, 5, 0, 2, 3}, {"Head", 2, 2, 1, N, N}, {"Legs", 6, 1, 0, N, N}},
         nullptr},
        {"a nested range is cut at its parent's end",
         "<Node Name=\"H\" Bone=\"head\"><Node Name=\"S\" Bone=\"spine\"/></Node>",
         {{"root", 0, 7, N, 1, N}, {"H", 2, 2, 0, 2, N}, {"S", 1, 3, 1, N, N}},
         nullptr},
        {"a missing bone is logged once and its children are not visited",
         "<Node Name=\"X\" Bone=\"tail\"><Node Name=\"Y\" Bone=\"head\"/></Node><Node Name=\"L\" Bone=\"legs\"/>",
         {{"root", 0, 7, N, 1, N}, {"L", 6, 1, 0, N, N}},
         "Error while parsing animation tree definition. Bone tail not found in the hierarchy. Template: T"},
        {"an element without a bone",
         "<Node Name=\"X\"/>",
         {{"root", 0, 7, N, N, N}},
         "Error while parsing animation tree definition. Node without a bone detected. Template: T"},
        {"an element without a name",
         "<Node Bone=\"jaw\"/>",
         {{"root", 0, 7, N, N, N}},
         "Error while parsing animation tree definition. Unnamed node detected. Template: T"},
        {"malformed text leaves the root over every node",
         "<Node Name=\"X\" Bone=\"head\">",
         {{"root", 0, 7, N, N, N}},
         "Error while parsing animation tree definition: "},
        {"no text", "", {{"root", 0, 7, N, N, N}}, nullptr},
    };
    std::unique_ptr<MeshHierarchy> h(Skeleton());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        h->ParseAnimationTreeDefinition(c.text, "T");
        const std::vector<TreeNode> got = Tree(*h);
        ASSERT_EQ(got.size(), c.tree.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].name, c.tree[i].name);
            EXPECT_EQ(got[i].first, c.tree[i].first);
            EXPECT_EQ(got[i].count, c.tree[i].count);
            EXPECT_EQ(got[i].parent, c.tree[i].parent);
            EXPECT_EQ(got[i].child, c.tree[i].child);
            EXPECT_EQ(got[i].sibling, c.tree[i].sibling);
        }
        const auto messages = log.Messages();
        if (c.logged) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].text.find(c.logged), std::string::npos) << messages[0].text;
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
    EXPECT_EQ(h->FindAnimationTreeNode(NameString("root")), 0);
    EXPECT_EQ(h->FindNode(NameString("hand")), 5);
    EXPECT_EQ(h->FindNode(NameString("Hand")), -1);
    std::vector<NameString> names;
    h->GetNodeNames(names, true);
    EXPECT_EQ(names.size(), 6u);
    log.Detach();
}

// The bind pose composes each node's matrix with its parents' (child first): compared
// with the engine's transform reference in float64 over a chain of rotations, scales and
// translations.
TEST(MeshHierarchyTree, BindPoseMatchesTheTransformReference) {
    MeshHierarchy h;
    const float locals[4][16] = {
        {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 1, 0, 1},
        {0.8f, 0.6f, 0, 0, -0.6f, 0.8f, 0, 0, 0, 0, 1, 0, 1, 0, 0.5f, 1},
        {1, 0, 0, 0, 0, 0, -1.5f, 0, 0, 1.5f, 0, 0, 0.25f, -2, 3, 1},
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 0, 0, 1},
    };
    const uint8_t parents[4] = {255, 0, 1, 1};
    std::string input = "4";
    for (int i = 0; i < 4; ++i) {
        h.nodes.push_back({NameString(("n" + std::to_string(i)).c_str()), parents[i], uint8_t(i)});
        h.matrices.insert(h.matrices.end(), locals[i], locals[i] + 16);
        input += " " + std::to_string(parents[i] == 255 ? -1 : int(parents[i])) + " 0";
        for (float v : locals[i]) input += " " + FloatBits(v);
    }
    h.boneCount = 4;
    const std::vector<std::string> reference = RunNumpyReference("entity/entity_reference.py", input + "\n");
    ASSERT_EQ(reference.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        const std::vector<float> expected = ParseFloats(reference[i]);
        const Matrix got = h.BindPoseGlobal(i);
        for (int k = 0; k < 16; ++k) EXPECT_NEAR(got.r[k / 4][k % 4], expected[size_t(k)], 1e-5f) << i << " " << k;
    }
}

TEST(MeshTemplateQueries, AnimationLookupIsCaseInsensitiveInEitherOrder) {
    MeshTemplate t;
    auto set = [&](std::vector<const char*> names) {
        t.animations.Resize(uint32_t(names.size()));
        for (uint32_t i = 0; i < names.size(); ++i) t.animations[i].name = names[i];
        t.OnPropertiesRead();
    };
    for (auto names : {std::vector<const char*>{"idle", "Run", "walk"}, std::vector<const char*>{"walk", "idle", "Run"}}) {
        set(names);
        for (const char* key : {"Walk", "RUN", "IDLE"}) {
            const int32_t i = t.FindAnimationDefinition(key);
            ASSERT_GE(i, 0) << key;
            EXPECT_EQ(RTTIStricmp(t.animations[uint32_t(i)].name.CStr(), key), 0);
        }
        EXPECT_EQ(t.FindAnimationDefinition("jump"), -1);
        EXPECT_EQ(t.FindAnimationDefinition(nullptr), -1);
    }
}

TEST(MeshTemplateQueries, BoneChoicesEndWithAnEmptyName) {
    MeshTemplate t;
    std::vector<NameString> list = {NameString("stale")};
    t.GetPropertyChoices("Optimizable mesh", list);
    EXPECT_EQ(list.size(), 1u);
    t.GetPropertyChoices("HeadA bone", list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].IsEmpty());
    EXPECT_EQ(t.fakeShadow.headABone, -1);
}

TEST(MeshTemplateQueries, InstalledContentServicesSetTheFallbackPreset) {
    SetSceneContentServices(nullptr);
    InstallSceneServices();
    ASSERT_EQ(&GetSceneContentServices(), &SceneLibraryContentServices());
    GetSceneContentServices().SetMeshShaderPreset("Default");
    EXPECT_STREQ(MeshTemplate::GetFallbackShaderPreset().CStr(), "Default");
    GetSceneContentServices().SetMeshShaderPreset(nullptr);
    EXPECT_TRUE(MeshTemplate::GetFallbackShaderPreset().IsEmpty());
    ClearSceneServices();
    EXPECT_NE(&GetSceneContentServices(), &SceneLibraryContentServices());
}

// Templates through the files and the loader thread.
struct MeshTemplateFilesTest : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        gEntityTemplateRegistry.Clear();
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        log.Clear();
    }
    void TearDown() override {
        gEntityManager->NewScene();
        gEntityTemplateRegistry.SetInitialised(true);
        gEntityTemplateRegistry.Shutdown();
        ResourceFixture::TearDown();
    }
    void Write(const char* command, const std::string& path, const std::string& json) {
        std::string quoted;
        for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py " +
                                      std::string(command) + " " + path + " '" + quoted + "'"));
    }
    // A mesh template: a box mesh with a three-node skeleton, head "head" at (2, 1, 0) in
    // the bind pose (the root scales by 2 and moves up 1; the head sits 1 along x).
    static std::string Mesh(int i) {
        const std::string g = "00000000-0000-0000-0000-00000000000" + std::to_string(i);
        return "{\"guid\":\"" + g + "\",\"type\":1,\"kind\":\"mesh\",\"props\":{\"lua_class\":\"M" + std::to_string(i) +
               "\"},\"kind_props\":{\"collision_scale\":[2,2,2,1],\"collision_offset\":[0,1,0,0],"
               "\"animations\":[{\"name\":\"idle\",\"file\":\"idle\"},{\"name\":\"run\",\"file\":\"gone\"},"
               "{\"name\":\"Walk\",\"file\":\"\"}],"
               "\"tree\":\"<Node Name=\\\"Top\\\" Bone=\\\"head\\\"/>\",\"xsi_scale\":3.0,"
               "\"fake_shadow\":{\"enabled\":true},\"head_a\":\"head\"},"
               "\"mesh\":{\"rd\":null,\"hier\":{\"nodes\":["
               "{\"name\":\"root\",\"matrix\":[2,0,0,0,0,2,0,0,0,0,2,0,0,1,0,1],\"parent\":255,\"bone\":255},"
               "{\"name\":\"head\",\"matrix\":[1,0,0,0,0,1,0,0,0,0,1,0,1,0,0,1],\"parent\":0,\"bone\":0},"
               "{\"name\":\"jaw\",\"matrix\":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1],\"parent\":1,\"bone\":1}],"
               "\"bones\":[[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1],[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1]],\"tree\":[]}}}";
    }
};

TEST_F(MeshTemplateFilesTest, OptimizedFileOfThreeMeshTemplatesLoadsAll) {
    Write("opt", Path("scenes", "meshes.opt"), "{\"version\":50,\"templates\":[" + Mesh(1) + "," + Mesh(2) + "," +
                                                   Mesh(3) + "]}");
    // One animation file; "gone" has none.
    std::vector<uint8_t> idle(16 + 108, 0);  // the header, then an empty clip
    const uint32_t head[] = {kAnimationFileMagic, kAnimationFileVersion};
    std::memcpy(idle.data(), head, sizeof head);
    resourcetest::WriteBytes(Path("animations", "idle.bin"), idle);
    LoadOptimizedTemplates("meshes", "scenes");
    ASSERT_EQ(gEntityTemplateRegistry.GUIDIndexCount(), 3u);
    for (int i = 1; i <= 3; ++i) {
        SimpleGUID g;
        ASSERT_TRUE(g.FromString(("00000000-0000-0000-0000-00000000000" + std::to_string(i)).c_str()));
        auto* t = dynamic_cast<MeshTemplate*>(gEntityTemplateRegistry.FindTemplateByGUID(g, false));
        ASSERT_NE(t, nullptr) << i;
        EXPECT_STREQ(t->luaClass, ("M" + std::to_string(i)).c_str());
        EXPECT_EQ(t->GetEffectiveCollisionBox().min, Vector(-2, -1, -2, 1));
        EXPECT_EQ(t->GetEffectiveCollisionBox().max, Vector(2, 3, 2, 1));
        ASSERT_NE(t->GetHierarchy(), nullptr);
        EXPECT_EQ(t->GetRenderingData(), nullptr);
        // The head sits where the bind pose puts it, scale and all.
        EXPECT_EQ(t->fakeShadow.headABone, 0);
        EXPECT_EQ(t->fakeShadow.headAPosition, Vector(2, 1, 0, 1));
        EXPECT_EQ(t->fakeShadow.headBBone, -1);
        // One animation resource per definition; none for a missing file or no file name.
        ASSERT_EQ(t->GetAnimationResources().size(), 3u);
        EXPECT_NE(t->GetAnimationResources()[0], nullptr);
        EXPECT_EQ(t->GetAnimationResources()[1], nullptr);
        EXPECT_EQ(t->GetAnimationResources()[2], nullptr);
        EXPECT_EQ(t->FindAnimationDefinition("WALK"), 2);
        std::vector<NameString> choices;
        t->GetPropertyChoices("HeadB bone", choices);
        ASSERT_EQ(choices.size(), 3u);
        EXPECT_STREQ(choices[0].CStr(), "head");
        EXPECT_STREQ(choices[1].CStr(), "jaw");
        EXPECT_TRUE(choices[2].IsEmpty());
        // A change notification parses the animation tree.
        t->NotifyEntitiesOfChange();
        ASSERT_EQ(t->GetHierarchy()->treeNodes.size(), 2u);
        EXPECT_EQ(t->GetHierarchy()->treeNodes[1].nodeCount, 2u);
        // Reloading the animations gives the old uses back.
        Resource* idle = t->GetAnimationResources()[0];
        const uint32_t uses = idle->GetUseCount();
        t->LoadAnimations();
        EXPECT_EQ(t->GetAnimationResources()[0], idle);
        EXPECT_EQ(idle->GetUseCount(), uses);
    }
}

// A part texture with a name is requested, loaded at once and its device texture kept;
// an empty name requests nothing. The template's end gives the use back.
TEST_F(MeshTemplateFilesTest, PartTexturesAreLoadedWithTheMesh) {
    ASSERT_TRUE(rendertest::Shell("convert -size 4x4 xc:white -define dds:compression=none -define dds:mipmaps=0 '" +
                                  Path("textures", "crate.dds") + "'"));
    const std::string block = Path("scenes", "textured.bin");
    ASSERT_TRUE(rendertest::Shell(
        "python3 -c \"import sys; sys.path.insert(0, '" PROJECT_SOURCE_ROOT "/tests/support'); import mesh_block as m; "
        "open('" + block + "', 'wb').write(m.write(m.box_mesh(presets=[{'name': 'P', 'parts': [{'count': 12, "
        "'textures': [{'name': 'crate.tga', 'sampler': 0, 'flags': 1}, {'name': '', 'sampler': 1, 'flags': 0}]}]}])))\""));
    const std::vector<uint8_t> bytes = resourcetest::ReadBytes(block);
    Resource* crate = gResourceManager.GetResource(RESOURCE_TEXTURE, "crate.tga", 0, true, 0);
    ASSERT_NE(crate, nullptr);
    const uint32_t uses = crate->GetUseCount();
    {
        MeshTemplate t;
        BoundedReader in(bytes.data(), bytes.size());
        ASSERT_TRUE(t.ReadBinaryData(in, 50));
        const MeshPart& part = t.GetRenderingData()->presets[0].parts[0];
        ASSERT_EQ(part.textures.size(), 2u);
        EXPECT_EQ(part.textures[0].resource, crate);
        EXPECT_TRUE(crate->IsLoaded());
        EXPECT_NE(part.textures[0].texture, nullptr);
        EXPECT_EQ(part.textures[1].resource, nullptr);
        EXPECT_EQ(crate->GetUseCount(), uses + 1);
        // A request marks the part textures with its flags. (Marked loaded first, so the
        // base request posts no load of this unnamed template.)
        t.Load(false);
        EXPECT_EQ(crate->GetFlags() & RESOURCE_FLAG_KEEP_DATA, 0u);
        t.QueueRequest(RESOURCE_FLAG_KEEP_DATA);
        EXPECT_NE(crate->GetFlags() & RESOURCE_FLAG_KEEP_DATA, 0u);
    }
    EXPECT_EQ(crate->GetUseCount(), uses);
    crate->Release();
}

}  // namespace
