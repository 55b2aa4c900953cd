// test-sanitize: address
// The mesh block: round trips through the device, every older version against the
// independent tool's model, the collision vertices, and refusals that leave nothing
// behind. Mesh entities: the preset fallback chain and the temporary preset, the local
// colour's posts, the proxy's copied state, ops and draws, the walk-map calls and the
// navigation entries. Blocks come from tests/support/mesh_block.py; no shader definitions
// are loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/config/ProjectConfig.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/CharacterCollision.h"
#include "engine/services/SceneContentServices.h"
#include "render/RenderTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

namespace {

using namespace rendertest;
using shelltest::Shell;
using shelltest::ShellOutput;

const std::string kTool = "python3 " PROJECT_SOURCE_ROOT "/tests/support/mesh_block.py ";
const std::string kDir = PROJECT_BINARY_ROOT "/";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
// The tool's block of a model (Python expression over the module `m`).
std::vector<uint8_t> ToolBlock(const std::string& model, uint32_t version = 50, const char* endian = "<") {
    const std::string path = kDir + "mesh_data_test_block.bin";
    const std::string script = "import sys; sys.path.insert(0, '" PROJECT_SOURCE_ROOT "/tests/support'); "
                               "import mesh_block as m; open('" + path + "', 'wb').write(m.write(" + model + ", " +
                               std::to_string(version) + ", '" + endian + "'))";
    EXPECT_TRUE(Shell("python3 -c \"" + script + "\"")) << model;
    return ReadFile(path);
}

// A version-50 model with everything the block can carry: two presets, textures,
// palette and parameter entries, secondary geometry, a hierarchy and the metrics.
const std::string kFullModel =
    "(lambda b: (b['rd'].update({'box': [-1, -2, -3, 1, 4, 5, 6, 1], 'box2': [0, 0, 0, 1, 2, 2, 2, 1], "
    "'iwordA': 0xDEADBEEF, 'iwordB': 7, 'sec_words': [11, 0xCAFE], 'bones': 2, 'render': [1, 0, 1, 0, 1, 1, 0, 1], "
    "'sec_vbytes': (bytes(range(32)) * 3).hex(), 'sec_ibytes': '000001000200', 'sec_vdesc': [0, 4, 0, 1, 0], 'sec_idesc': [101, 7, 0, 1], "
    "'presets': [{'name': 'Default', 'parts': [{'first': 0, 'count': 6, 'pass': 1, 'palette': '0102030405060708', "
    "'params': '00' * 16, 'textures': [{'name': '', 'sampler': 3, 'flags': 1}], 'options': 'A/B', "
    "'words': [1, 2, 3, 4, 5, 6], 'flags': 0x21, 'low': 0, 'high': 7, 'sec_count': 1, 'w9': 0.5, 'base': 8.0, "
    "'bone': 1}, {'first': 6, 'count': 6, 'pass': 3, 'family': 'Other'}], 'mask': 0x1234}, "
    "{'name': 'Wire', 'parts': [{'first': 0, 'count': 12}]}]}), "
    "b.update({'metrics': [1, 2, 3, 0.25], 'hier': {'nodes': [{'name': 'root', 'matrix': m.IDENTITY, 'parent': 255, "
    "'bone': 255}, {'name': 'head', 'matrix': [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 2, 0, 1], 'parent': 0, "
    "'bone': 0}, {'name': 'tip', 'matrix': [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1], 'parent': 1, "
    "'bone': 1}], 'bones': [m.IDENTITY, m.IDENTITY], 'tree': [{'name': 'root', 'first': 0, 'count': 3, "
    "'parent': 0xFFFFFFFF, 'child': 0xFFFFFFFF, 'sibling': 0xFFFFFFFF}]}}), b)[2])(m.box_mesh())";

struct MeshDataTest : RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        baseline = Live();
    }
    void TearDown() override {
        EXPECT_EQ(Live(), baseline) << "device objects left behind";
        RendererFixture::TearDown();
    }
    uint32_t Live() {
        gVornexRenderer.FlushCommands(true);
        uint32_t n = 0;
        for (auto kind : {gfx::ObjectKind::VertexBuffer, gfx::ObjectKind::IndexBuffer}) n += recorder->LiveObjects(kind);
        return n;
    }
    bool Load(MeshTemplate& t, const std::vector<uint8_t>& block, uint32_t version) {
        BoundedReader in(block.data(), block.size());
        return t.ReadBinaryData(in, version) && in.Remaining() == 0;
    }
    std::vector<uint8_t> Written(const MeshTemplate& t, uint32_t flags = 0) {
        std::vector<uint8_t> out;
        EXPECT_TRUE(t.WriteMeshBlock(out, flags));
        return out;
    }
    uint32_t baseline = 0;
};

TEST_F(MeshDataTest, FullBlockWritesBackByteForByteAndSwapsToTheSameModel) {
    const std::vector<uint8_t> block = ToolBlock(kFullModel);
    {
        MeshTemplate t;
        t.SetName("Full");
        ASSERT_TRUE(Load(t, block, 50));
        EXPECT_EQ(Written(t), block);
        const std::string little = kDir + "mesh_full_le.bin", big = kDir + "mesh_full_be.bin";
        WriteFile(little, block);
        WriteFile(big, Written(t, kMeshWriteSwap));
        EXPECT_EQ(ShellOutput(kTool + "same " + big + " 50 '>' " + little), "same");
    }
    // Main-memory vertices instead of a vertex buffer.
    const std::vector<uint8_t> mainMemory = ToolBlock(
        "(lambda b: (b['rd'].update({'storage': 1, 'stride': 16, 'mm_flags': 3, 'mm_size': 24, "
        "'mm_bytes': bytes(range(192)).hex()}), b)[1])(m.box_mesh())");
    MeshTemplate t;
    ASSERT_TRUE(Load(t, mainMemory, 50));
    EXPECT_EQ(t.GetRenderingData()->vertexBufferA, nullptr);
    EXPECT_EQ(t.GetRenderingData()->mainMemoryVertices.size(), 192u);
    EXPECT_EQ(Written(t), mainMemory);
}

// Every listed version, loaded and written anew, gives the model the tool parsed from the
// old block (defaults where the version carries nothing).
TEST_F(MeshDataTest, OlderVersionsLoadWithTheTabledDefaults) {
    const struct {
        uint32_t version;
        const char* model;
    } cases[] = {
        {2, "m.box_mesh()"},
        {3, "m.box_mesh()"},
        {7, "m.box_mesh()"},
        {10, "(lambda b: (b['rd'].update({'legacy_parts': [{'count': 1}]}), b)[1])(m.box_mesh())"},
        {13, "m.box_mesh()"},
        {14, "m.box_mesh()"},
        {33, "m.box_mesh(presets=[{'name': 'P', 'parts': [{'count': 2, 'pass': 2}, {'first': 2, 'count': 2, 'pass': 4}, "
             "{'count': 1, 'pass': 5}]}])"},
        {36, "(lambda b: (b['rd'].update({'storage': 1, 'mm_flags': 1, 'mm_size': 12, 'mm_bytes': '00' * 96}), "
             "b)[1])(m.box_mesh())"},
        {44, "m.box_mesh()"},
        {45, "m.box_mesh(presets=[{'name': 'P', 'parts': [{'count': 12, 'base': 0.0}]}])"},
        {49, kFullModel.c_str()},
    };
    // The listed cases, then the full model at every version (each row's version bounds).
    std::vector<std::pair<uint32_t, const char*>> runs;
    for (const auto& c : cases) runs.emplace_back(c.version, c.model);
    for (uint32_t v = kMeshOldestVersion; v <= kMeshDataVersion; ++v) runs.emplace_back(v, kFullModel.c_str());
    for (const auto& [version, model] : runs) {
        const struct {
            uint32_t version;
            const char* model;
        } c{version, model};
        SCOPED_TRACE(std::to_string(c.version) + " " + c.model);
        log.Clear();
        const std::vector<uint8_t> block = ToolBlock(c.model, c.version);
        MeshTemplate t;
        t.SetName("Old");
        ASSERT_TRUE(Load(t, block, c.version));
        const std::string oldPath = kDir + "mesh_old.bin", newPath = kDir + "mesh_new.bin";
        WriteFile(oldPath, block);
        WriteFile(newPath, Written(t));
        EXPECT_EQ(ShellOutput(kTool + "same " + oldPath + " " + std::to_string(c.version) + " '<' " + newPath),
                  "same");
        EXPECT_EQ(log.Contains("Collision info for Old outdated. Please use mesh editor to refresh it"),
                  c.version >= 3 && c.version <= 9);
    }
    // Version 33 computes the pass mask from the pass kinds 1 to 4.
    MeshTemplate t;
    ASSERT_TRUE(Load(t, ToolBlock(cases[6].model, 33), 33));
    EXPECT_EQ(t.GetRenderingData()->presets[0].passMask, (1u << 2) | (1u << 4));
    // Version 45 derives the exponent floats from its base.
    MeshTemplate e;
    ASSERT_TRUE(Load(e, ToolBlock(cases[9].model, 45), 45));
    const float* x = e.GetRenderingData()->presets[0].parts[0].exponent;
    EXPECT_FLOAT_EQ(x[0], 1.1180886f);
    EXPECT_FLOAT_EQ(x[1], -1.1180886f);
    EXPECT_EQ(x[2], 0.0f);
    EXPECT_EQ(x[3], 0.0f);
    // Before 45 a part keeps base 64 and its fixed floats.
    MeshTemplate o;
    ASSERT_TRUE(Load(o, ToolBlock(cases[9].model, 44), 44));
    const MeshPart& old = o.GetRenderingData()->presets[0].parts[0];
    EXPECT_EQ(old.exponentBase, 64.0f);
    const float kept[4] = {93.45057f, -93.45057f, 64.0f, 0.0f};
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(old.exponent[i], kept[i]) << i;
}

TEST_F(MeshDataTest, CollisionVerticesFollowDeclarationB) {
    // 24-byte vertices: position at 0, blend indices at 12, weights at 16 (or elsewhere).
    std::vector<uint8_t> vertices(3 * 24);
    for (size_t i = 0; i < vertices.size(); ++i) vertices[i] = uint8_t(i);
    using E = gfx::VertexElement;
    const E end = gfx::kDeclEnd;
    const struct {
        const char* name;
        std::vector<E> decl;
        uint32_t flags, size, positionOffset, blendOffset;
    } cases[] = {
        {"float3", {{0, 0, gfx::DECLTYPE_FLOAT3, 0, 0, 0}, end}, kMeshVertexFloat3, 12, 0, 0},
        {"short4n", {{0, 4, gfx::DECLTYPE_SHORT4N, 0, 0, 0}, end}, kMeshVertexShort4N, 8, 4, 0},
        {"blend",
         {{0, 0, gfx::DECLTYPE_FLOAT3, 0, 0, 0}, {0, 12, gfx::DECLTYPE_UBYTE4, 0, 2, 0},
          {0, 16, gfx::DECLTYPE_UBYTE4N, 0, 1, 0}, end},
         kMeshVertexFloat3 | kMeshVertexBlend, 20, 0, 12},
        {"weights not at +4",
         {{0, 0, gfx::DECLTYPE_FLOAT3, 0, 0, 0}, {0, 12, gfx::DECLTYPE_UBYTE4, 0, 2, 0},
          {0, 20, gfx::DECLTYPE_UBYTE4N, 0, 1, 0}, end},
         kMeshVertexFloat3, 12, 0, 0},
        {"last position counts",
         {{0, 0, gfx::DECLTYPE_FLOAT3, 0, 0, 0}, {0, 8, gfx::DECLTYPE_SHORT4N, 0, 0, 0}, end}, kMeshVertexShort4N, 8, 8, 0},
        {"float4", {{0, 0, gfx::DECLTYPE_FLOAT4, 0, 0, 0}, end}, 0, 0, 0, 0},
        {"no position", {{0, 0, gfx::DECLTYPE_FLOAT3, 0, 3, 0}, end}, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MeshTemplateRenderingData rd;
        rd.BuildCollisionVertices(c.decl.data(), uint32_t(c.decl.size()), vertices.data(), 3, 24);
        EXPECT_EQ(rd.mainMemoryFlags, c.flags);
        EXPECT_EQ(rd.mainMemorySize, c.size);
        ASSERT_EQ(rd.mainMemoryVertices.size(), size_t(c.size) * 3);
        const uint32_t positionBytes = c.size - ((c.flags & kMeshVertexBlend) ? 8 : 0);
        for (uint32_t v = 0; v < 3 && c.size; ++v) {
            const uint8_t* got = rd.mainMemoryVertices.data() + v * c.size;
            EXPECT_EQ(std::memcmp(got, vertices.data() + v * 24 + c.positionOffset, positionBytes), 0);
            if (c.flags & kMeshVertexBlend) {
                EXPECT_EQ(std::memcmp(got + positionBytes, vertices.data() + v * 24 + c.blendOffset, 8), 0);
            }
        }
    }
    // The project setting turns them off.
    gProjectConfig->pcUsesMobileSettings = true;
    gProjectConfig->collisionVertices = false;
    MeshTemplateRenderingData rd;
    rd.BuildCollisionVertices(cases[0].decl.data(), 2, vertices.data(), 3, 24);
    EXPECT_TRUE(rd.mainMemoryVertices.empty());
    gProjectConfig->pcUsesMobileSettings = false;
    gProjectConfig->collisionVertices = true;
}

// Every prefix of a full block, and blocks with one count, link or range altered, fail
// with one line naming the template and leave no device object behind.
TEST_F(MeshDataTest, CorruptAndShortBlocksFailCleanly) {
    const std::vector<uint8_t> block = ToolBlock(kFullModel);
    for (size_t n = 0; n < block.size(); n += (n < 400 ? 1 : 7)) {
        std::vector<uint8_t> prefix(block.begin(), block.begin() + long(n));
        MeshTemplate t;
        t.SetName("Cut");
        BoundedReader in(prefix.data(), prefix.size());
        log.Clear();
        EXPECT_FALSE(t.ReadBinaryData(in, 50)) << n;
        EXPECT_EQ(t.GetRenderingData(), nullptr);
        EXPECT_EQ(t.GetHierarchy(), nullptr);
        const auto messages = log.Messages();
        EXPECT_EQ(messages.size(), 1u) << n << " " << (messages.empty() ? "" : messages.back().text);
    }
    const char* altered[] = {
        // a parent not below its child
        "(lambda b: (b['hier']['nodes'][1].update({'parent': 2}), b)[1])",
        // a bone index not below the bone count
        "(lambda b: (b['hier']['nodes'][2].update({'bone': 2}), b)[1])",
        // a tree range past the nodes and a tree link out of range
        "(lambda b: (b['hier']['tree'][0].update({'count': 4}), b)[1])",
        "(lambda b: (b['hier']['tree'][0].update({'child': 1}), b)[1])",
        // an index naming no vertex
        "(lambda b: (b['rd'].update({'ibytesA': b['rd']['ibytesA'][:-4] + '0800'}), b)[1])",
        // part ranges outside the index buffers, bad lowest/highest
        "(lambda b: (b['rd']['presets'][0]['parts'][1].update({'count': 7}), b)[1])",
        "(lambda b: (b['rd']['presets'][0]['parts'][0].update({'sec_count': 2}), b)[1])",
        "(lambda b: (b['rd']['presets'][0]['parts'][0].update({'high': 8}), b)[1])",
        "(lambda b: (b['rd']['presets'][0]['parts'][0].update({'low': 5, 'high': 4}), b)[1])",
        // a family name over 259 bytes
        "(lambda b: (b['rd']['presets'][0]['parts'][0].update({'family': 'F' * 260}), b)[1])",
        // buffer A smaller than vertex count x stride
        "(lambda b: (b['rd'].update({'vbytes': b['rd']['vbytes'][:-24]}), b)[1])",
        // a declaration without its end marker
        "(lambda b: (b['rd'].update({'declA': [[0, 0, 2, 0, 0, 0]]}), b)[1])",
    };
    for (const char* change : altered) {
        SCOPED_TRACE(change);
        const std::vector<uint8_t> bad = ToolBlock(std::string(change) + "(" + kFullModel + ")");
        MeshTemplate t;
        t.SetName("Bad");
        log.Clear();
        EXPECT_FALSE(Load(t, bad, 50));
        EXPECT_EQ(t.GetRenderingData(), nullptr);
        EXPECT_EQ(log.Messages().size(), 1u);
        EXPECT_TRUE(log.Contains("Bad"));
    }
    // Before version 10 nothing is copied from buffer A, but its vertices are still drawn
    // by index: a buffer short of vertex count x stride is refused there too.
    {
        MeshTemplate old;
        old.SetName("Short");
        log.Clear();
        EXPECT_FALSE(Load(old,
                          ToolBlock("(lambda b: (b['rd'].update({'vbytes': b['rd']['vbytes'][:-24]}), b)[1])"
                                    "(m.box_mesh())",
                                    7),
                          7));
        EXPECT_EQ(old.GetRenderingData(), nullptr);
        EXPECT_EQ(log.Messages().size(), 1u);
        EXPECT_TRUE(log.Contains("Short"));
    }
    // Main-memory vertices with blend data are skinned on the CPU: a vertex too small for
    // what skinning reads, or a stride too small for what it writes, is refused at reading.
    {
        const struct {
            uint32_t flags, size, stride;
            bool loads;
        } rows[] = {
            {27, 52, 36, true},   // position, blend, normal, tangent: 52 in, 36 out
            {27, 52, 32, false},  // the skinned vertex does not fit the stride
            {27, 48, 36, false},  // the main-memory vertex lacks the tangent's bytes
            {3, 24, 16, true},    // position and blend: 24 in, 16 out
            {3, 20, 16, false},   // no room for the trailing value
            {1, 12, 12, true},    // no blend data: never skinned, only the layout counts
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(r.flags * 1000 + r.size);
            const std::string model =
                "(lambda b: (b['rd'].update({'storage': 1, 'vcount': 4, 'stride': " + std::to_string(r.stride) +
                ", 'mm_flags': " + std::to_string(r.flags) + ", 'mm_size': " + std::to_string(r.size) +
                ", 'mm_bytes': '00' * " + std::to_string(4 * r.size) +
                ", 'vbytes': '', 'vdesc': [0, 4, 0, 1, 0], 'ibytesA': m.struct.pack('<6H', 0, 1, 2, 1, 3, 2).hex(), "
                "'iwordA': 6, 'presets': [{'name': 'Default', 'parts': [{'count': 2, 'low': 0, 'high': 3}]}]}), "
                "b)[1])(m.box_mesh())";
            MeshTemplate t;
            t.SetName("Skinned");
            log.Clear();
            EXPECT_EQ(Load(t, ToolBlock(model), 50), r.loads);
            EXPECT_EQ(t.GetRenderingData() != nullptr, r.loads);
            if (!r.loads) {
                EXPECT_TRUE(log.Contains("Skinned"));
            }
        }
    }
    // A count far beyond the input allocates nothing before failing.
    std::vector<uint8_t> huge = block;
    const uint32_t count = 0x7FFFFFFF;
    std::memcpy(huge.data() + 1 + 4 + 64, &count, 4);  // declaration A's element count
    MeshTemplate t;
    EXPECT_FALSE(Load(t, huge, 50));
}

// The helper draws post tasks 64 and 66, which reach the mesh draw hooks on the render
// thread with the preset, the wire switch, the box and the colour.
struct DrawnMesh {
    const void* meshData = nullptr;
    uint32_t value = 99;
    uint8_t flag = 99;
    BoundingBox4 box{};
    Vector colour{};
    int calls = 0;
};
DrawnMesh gDrawn;

TEST_F(MeshDataTest, HelperDrawsReachTheMeshHooks) {
    static struct : SceneDrawServices {
        void DrawMesh(const MeshTemplateRenderingData* mesh, const Matrix&, const Matrix&, const BoundingBox4* box,
                      const Vector& colour, uint32_t value, uint8_t flag, const float*, uint32_t) override {
            gDrawn.meshData = mesh;
            gDrawn.value = value;
            gDrawn.flag = flag;
            gDrawn.box = *box;
            gDrawn.colour = colour;
            ++gDrawn.calls;
        }
        void DrawSkinnedMesh(const MeshTemplateRenderingData* mesh, const Matrix&, const Vector& colour,
                             const float*, uint32_t) override {
            gDrawn.meshData = mesh;
            gDrawn.colour = colour;
            ++gDrawn.calls;
        }
    } drawn;
    SetSceneDrawServices(&drawn);
    MeshTemplate empty;
    EXPECT_FALSE(empty.DrawHelper(Matrix::IDENTITY, Vector(1, 0, 0, 1), 4, nullptr));
    EXPECT_FALSE(empty.DrawHelperParts(Matrix::IDENTITY, 0));

    MeshTemplate t;
    ASSERT_TRUE(Load(t, ToolBlock(kFullModel), 50));
    t.staticBoundingBox = BoundingBox4(Vector(-3, -2, -1, 1), Vector(1, 2, 3, 1));
    t.wireframeColor = HDRColor{255, 0, 0, 255, 1.0f};
    const struct {
        const char* preset;
        uint32_t flags;
        uint32_t value;
        uint8_t wire;
    } cases[] = {{"WIRE", 4, 1, 1}, {"Default", 0, 0, 0}, {"missing", 4, 0, 1}, {nullptr, 0, 0, 0}};
    for (const auto& c : cases) {
        gDrawn = {};
        EXPECT_TRUE(t.DrawHelper(Matrix::IDENTITY, Vector(0.5f, 0.25f, 0, 1), c.flags, c.preset));
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(gDrawn.calls, 1);
        EXPECT_EQ(gDrawn.meshData, t.GetRenderingData());
        EXPECT_EQ(gDrawn.value, c.value);
        EXPECT_EQ(gDrawn.flag, c.wire);
        EXPECT_EQ(gDrawn.box, t.staticBoundingBox);
        EXPECT_EQ(gDrawn.colour, Vector(0.5f, 0.25f, 0, 1));
    }
    for (uint32_t flags : {0u, 2u}) {
        gDrawn = {};
        EXPECT_TRUE(t.DrawHelperParts(Matrix::IDENTITY, flags));
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(gDrawn.calls, 1);
        EXPECT_EQ(gDrawn.colour, flags ? Vector(1, 1, 1, 1) : t.wireframeColor.ToLinearVector());
    }
}

// ---- Mesh entities ----

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

    SceneContentServices& scene = GetSceneContentServices();
    ASSERT_EQ(&scene, &SceneLibraryContentServices());
    EXPECT_EQ(scene.MeshPlayerCollisionType(obstacle), uint32_t(PLAYER_COLLISION_FACE));
    EXPECT_EQ(scene.MeshPlayerCollisionType(other), uint32_t(PLAYER_COLLISION_NONE));
    MeshCollisionData data;
    ASSERT_TRUE(scene.GetMeshCollisionData(obstacle, &data));
    EXPECT_EQ(data.vertexCount, 8u);
    EXPECT_EQ(data.vertexSize, 12u);
    EXPECT_EQ(data.triangleCount, 12u);
    EXPECT_EQ(data.indices[0], 0);
    EXPECT_EQ(data.indices[1], 2);
    EXPECT_FALSE(scene.GetMeshCollisionData(other, &data));

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
    child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, true);
    child->SetParent(nullptr);  // the old parent's RemoveChild
    EXPECT_EQ(child->GetMountFlags() & ENTITY_MOUNTED_TO_BONE, 0u);
    EXPECT_EQ(m->GetChildrenCount(), 0u);
}

}  // namespace
