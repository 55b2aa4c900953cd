// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// Mesh drawing on the recording device with strict validation: the shader variants a
// part resolves, the pass table, the part constants and states, the line-list fallback,
// the secondary geometry, the mask and depth draws, CPU skinning against numpy float32,
// triangle sorting, and the draw batch. Meshes come from tests/support/mesh_block.py.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/DeviceObjectHandle.h"
#include "render/SceneDrawServices.h"
#include "scene/startup/SceneStaticInit.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/mesh/MeshEntity.h"
#include "render/shaders/ShaderTestSupport.h"
#include "../SceneFrameTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"

using namespace rendertest;
using sceneframe::MeshRecord;

namespace {

std::vector<uint8_t> ToolBlock(const std::string& model) {
    return sceneframe::MeshToolBlock(model, "mesh_draw_test_block.bin");
}

// The cube of the tool with these presets (a Python list expression) and declaration B
// carrying the instance stream.
std::string Cube(const std::string& presets, const std::string& extra = "") {
    return "(lambda b: (b['rd'].update({'declB': [[0, 0, 2, 0, 0, 0], [1, 0, 3, 0, 5, 4], [1, 16, 3, 0, 5, 5], "
           "[1, 32, 3, 0, 5, 6], [1, 48, 3, 0, 5, 7], m.DECL_END]" +
           extra + "}), b)[1])(m.box_mesh(presets=" + presets + "))";
}

std::vector<float> Floats(const float* p, uint32_t n) { return std::vector<float>(p, p + n); }

// The frame's engine clock at 1.5 s (texture scrolling follows it).
void PostEngineClock(double seconds) {
    const RenderFrameClock clock{int64_t(seconds * 1e7), 0.0f};
    gVornexRenderer.PostFrameParams(clock, clock, clock, 1);
}

struct MeshDrawTest : shadertest::ShaderFixture {
    // The block's global render floats are the part register's two renderer values.
    void Configure(RendererSettings& settings) override {
        settings.globalFloats[0] = 3.0f;
        settings.globalFloats[1] = 4.0f;
    }
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        InstallSceneServices();
        liveBaseline = MeshTemplateRenderingData::LiveCount();
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        // Every pass kind enabled for the pass-mask draws (outlines are on).
        gVornexRenderer.PostOutlineTypeMask(0x1E);
    }
    void TearDown() override {
        templates.clear();
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(MeshTemplateRenderingData::LiveCount(), liveBaseline);
        ShaderFixture::TearDown();
    }
    MeshTemplateRenderingData* Load(const std::string& model) {
        const std::vector<uint8_t> block = ToolBlock(model);
        templates.push_back(std::make_unique<MeshTemplate>());
        templates.back()->SetName("Drawn");
        BoundedReader in(block.data(), block.size());
        EXPECT_TRUE(templates.back()->ReadBinaryData(in, 50));
        MeshTemplateRenderingData* d = templates.back()->GetRenderingData();
        // The device shaders are made by render-thread jobs.
        EXPECT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            for (const MeshShaderPreset& s : d->presets)
                for (const MeshPart& p : s.parts)
                    for (uint32_t i = 0; i < MESH_SHADER_COUNT; ++i)
                        if (p.shaders.objects[i] && !Device(p, MeshPartShader(i))) return false;
            return true;
        }));
        return d;
    }
    static uint32_t Device(const MeshPart& p, MeshPartShader s) {
        const bool vertex = s == MESH_SHADER_FORWARD_VS || s == MESH_SHADER_DEFERRED_VS ||
                            s == MESH_SHADER_INSTANCING_VS || s == MESH_SHADER_DEFERRED_INSTANCING_VS;
        if (!p.shaders.objects[s]) return 0;
        return vertex ? gfx::SerialOf(static_cast<VertexShaderObject*>(p.shaders.objects[s])->DeviceShader())
                      : gfx::SerialOf(static_cast<PixelShaderObject*>(p.shaders.objects[s])->DeviceShader());
    }
    // The name of the variant the family gives for the options.
    static std::string Variant(const std::string& options, bool vertex) {
        ResourceShader* v = nullptr;
        ResourceShader* p = nullptr;
        if (!gShaderManager->GetShader("MeshSolid", options.c_str(), &v, &p, SHADER_LOAD_QUEUED, false, 0)) return "";
        const std::string name = vertex ? v->GetName() : p->GetName();
        v->Release();
        p->Release();
        return name;
    }
    static std::string Name(const MeshPart& p, MeshPartShader s) {
        return p.shaders.resources[s] ? p.shaders.resources[s]->GetName() : "";
    }

    std::vector<std::unique_ptr<MeshTemplate>> templates;
    uint32_t liveBaseline = 0;
};

TEST(MeshPartOptions, QualityRemovesItsOptions) {
    const struct {
        const char* options;
        uint32_t quality;
        std::string want;
    } cases[] = {
        {"NORMAL_MAP_TEXTURE ENV_MAP FOG", 0, "                           FOG"},
        {"NORMAL_MAP_TEXTURE ENV_MAP FOG", 1, "                   ENV_MAP FOG"},
        {"NORMAL_MAP_TEXTURE ENV_MAP FOG", 2, "NORMAL_MAP_TEXTURE ENV_MAP FOG"},
        // Only a whole name followed by a space or the end is removed, the first one.
        {"SHADOWMAP_FILTERING SHADOWMAP", 0, "                             "},
        {"SHADOWMAPX SHADOWMAP", 0, "SHADOWMAPX          "},
        {"SOFTNESS SOFTNESS", 1, "         SOFTNESS"},
        {"DESATURATION", 1, "DESATURATION"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MeshPart::QualityOptions(c.options, c.quality), c.want) << c.options << " at " << c.quality;
}

struct MeshQualityTest : MeshDrawTest, ::testing::WithParamInterface<uint32_t> {
    void Configure(RendererSettings& s) override { s.gfxQualityLevel = GetParam(); }
};

TEST_P(MeshQualityTest, PartsResolveTheVariantsOfTheirFlags) {
    const uint32_t q = GetParam();
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12, 'options': 'NORMAL_MAP_TEXTURE ENV_MAP FOG', 'flags': 0x21}, "
        "{'count': 12, 'options': 'FOG', 'flags': 0x20}, {'count': 12, 'options': 'FOG', 'flags': 0x4}]}]"));
    ASSERT_EQ(d->presets.size(), 1u);
    const std::string kept = q == 0 ? "FOG" : q == 1 ? "ENV_MAP FOG" : "NORMAL_MAP_TEXTURE ENV_MAP FOG";
    const MeshPart& deferred = d->presets[0].parts[0];
    EXPECT_EQ(Name(deferred, MESH_SHADER_FORWARD_VS), Variant(kept, true));
    EXPECT_EQ(Name(deferred, MESH_SHADER_FORWARD_PS), Variant(kept, false));
    EXPECT_EQ(Name(deferred, MESH_SHADER_INSTANCING_VS), Variant(kept + " INSTANCING", true));
    EXPECT_EQ(Name(deferred, MESH_SHADER_DEFERRED_VS), Variant(kept + " DEFERRED", true));
    EXPECT_EQ(Name(deferred, MESH_SHADER_DEFERRED_PS), Variant(kept + " DEFERRED", false));
    EXPECT_EQ(Name(deferred, MESH_SHADER_DEFERRED_INSTANCING_VS), Variant(kept + " DEFERRED INSTANCING", true));
    // Flag bit 0 wins over the refraction bit.
    EXPECT_EQ(Name(deferred, MESH_SHADER_REFRACTION_PS), "");
    const MeshPart& refracting = d->presets[0].parts[1];
    EXPECT_EQ(Name(refracting, MESH_SHADER_REFRACTION_PS), Variant("FOG REFRACTION", false));
    EXPECT_EQ(Name(refracting, MESH_SHADER_DEFERRED_VS), "");
    const MeshPart& twoSided = d->presets[0].parts[2];
    EXPECT_EQ(Name(twoSided, MESH_SHADER_FORWARD_VS), Variant("FOG TWO_SIDED", true));
    EXPECT_EQ(Name(twoSided, MESH_SHADER_REFRACTION_PS), "");
}

INSTANTIATE_TEST_SUITE_P(Quality, MeshQualityTest, ::testing::Values(0u, 1u, 2u));

// Which part each pass draws and with which shaders (the parts are told apart by their
// triangle counts 2, 3 and 4).
TEST_F(MeshDrawTest, PassTableChoosesPartsAndShaders) {
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'first': 0, 'count': 2}, {'first': 2, 'count': 3, 'flags': 1}, "
        "{'first': 5, 'count': 4, 'flags': 2}]}]"));
    const auto& parts = d->presets[0].parts;
    enum { FV, FP, DV, DP, IV, DIV };
    auto serial = [&](uint32_t part, int which) {
        const MeshPartShader s[] = {MESH_SHADER_FORWARD_VS, MESH_SHADER_FORWARD_PS, MESH_SHADER_DEFERRED_VS,
                                    MESH_SHADER_DEFERRED_PS, MESH_SHADER_INSTANCING_VS,
                                    MESH_SHADER_DEFERRED_INSTANCING_VS};
        return Device(parts[part], s[which]);
    };
    const struct {
        uint32_t pass;
        std::vector<std::array<int, 3>> want;  // triangles, vertex shader, pixel shader
    } cases[] = {
        {1, {{2, FV, FP}}},
        {2, {{3, FV, FP}}},
        {4, {{3, DV, DP}}},
        {8, {{4, FV, FP}}},
        {16, {{2, FV, FP}, {3, DV, DP}, {4, FV, FP}}},
        {0x80000001, {{2, IV, FP}}},
        {0x80000002, {{3, IV, FP}}},
        {0x80000004, {{3, DIV, DP}}},
        {0x80000008, {{4, IV, FP}}},
        {0x80000010, {{2, IV, FP}, {3, DIV, DP}, {4, IV, FP}}},
        {32, {}},
    };
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    for (const auto& c : cases) {
        const auto draws = DrawsOf([&] { d->DrawParts(0, c.pass, &one, 1, nullptr, 0); });
        ASSERT_EQ(draws.size(), c.want.size()) << std::hex << c.pass;
        for (size_t i = 0; i < draws.size(); ++i) {
            const uint32_t part = uint32_t(c.want[i][0] - 2);
            EXPECT_EQ(draws[i].primitiveCount, uint32_t(c.want[i][0])) << std::hex << c.pass;
            EXPECT_EQ(draws[i].vertexShader.serial, serial(part, c.want[i][1])) << std::hex << c.pass;
            EXPECT_EQ(draws[i].pixelShader.serial, serial(part, c.want[i][2])) << std::hex << c.pass;
            const bool instanced = (c.pass & kMeshPassInstanced) != 0;
            EXPECT_EQ(draws[i].declaration, gfx::SerialOf(instanced ? d->declarationB : d->declarationA));
        }
    }
}

TEST_F(MeshDrawTest, PartConstantsAndStates) {
    // Palette: two vertex entries (c10 one vector, c20 two), one pixel entry (c5 one).
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12, 'flags': 0x810, 'words': [2, 51, 3, 7, 2, 0], 'w9': 0.5, "
        "'vectors': [2, 3, 0, 0, 0.25, 0.5, 0, 0, 0.5, 1.25, 0, 0], 'word0': 2, "
        "'palette': '0a000000010000001400000002000000' + '0500000001000000', "
        "'params': ''.join(m.struct.pack('<4f', i, i + 0.5, -i, 1).hex() for i in range(4))}, "
        "{'count': 12, 'words': [0, 0, 0, 0, 1, 1], 'flags': 0x4}]}]"));
    PostEngineClock(1.5);
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1), Vector(0.5f, 0.25f, 1, 1));
    const auto draws = DrawsOf([&] { d->DrawParts(0, 1, &one, 1, nullptr, 0); });
    ASSERT_EQ(draws.size(), 2u);
    const gfx::DrawRecord& a = draws[0];
    // Scroll: 0.25 + 0.5 x 1.5 = 1.0 -> 0; 0.5 + 1.25 x 1.5 = 2.375 -> 0.375.
    EXPECT_EQ(Floats(a.VertexConstant(195), 4), (std::vector<float>{2, 3, 0, 0.375f}));
    // Mode 2: sign -1, scalar 51 x -1/255 x -1.
    EXPECT_EQ(Floats(a.PixelConstant(194), 4), (std::vector<float>{0.5f, -1.0f, 51 * 0.003921569f, 0}));
    EXPECT_EQ(Floats(a.VertexConstant(198), 4), (std::vector<float>{3, 0, 4, 1}));
    EXPECT_EQ(Floats(a.VertexConstant(10), 4), (std::vector<float>{0, 0.5f, 0, 1}));
    EXPECT_EQ(Floats(a.VertexConstant(20), 8), (std::vector<float>{1, 1.5f, -1, 1, 2, 2.5f, -2, 1}));
    EXPECT_EQ(Floats(a.PixelConstant(5), 4), (std::vector<float>{3, 3.5f, -3, 1}));
    EXPECT_EQ(a.RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_ALWAYS));
    EXPECT_EQ(a.RenderState(gfx::RS_ZWRITEENABLE), 1u);
    EXPECT_EQ(a.RenderState(gfx::RS_DEPTHBIAS), 7u);
    EXPECT_EQ(a.RenderState(gfx::RS_SLOPESCALEDEPTHBIAS), 7u);
    EXPECT_EQ(a.RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_CCW));
    const gfx::DrawRecord& b = draws[1];
    // Off: sign 0, scalar 1; the depth override 1 turns writes off; two-sided: no culling.
    EXPECT_EQ(Floats(b.PixelConstant(194), 4), (std::vector<float>{0, 0, 1, 0}));
    EXPECT_EQ(b.RenderState(gfx::RS_ZWRITEENABLE), 0u);
    EXPECT_EQ(b.RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_LESSEQUAL));
    EXPECT_EQ(b.RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_NONE));
    // The box and the camera.
    EXPECT_EQ(Floats(a.VertexConstant(kMeshBoxRegister), 8), (std::vector<float>{0, 0, 0, 1, 1, 1, 1, 1}));
    EXPECT_NEAR(a.VertexConstant(kMeshCameraRegister)[2], -10.0f, 1e-4f);
}

TEST_F(MeshDrawTest, CullingFollowsTheMirroredState) {
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12}, {'count': 12, 'flags': 8}, {'count': 12, 'flags': 4}]}]"));
    Matrix view, projection, flip = Matrix::IDENTITY, flipped;
    view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 100.0f);
    flip.r[0] = Vector(-1, 0, 0, 0);
    flipped.Mul(view, flip);
    for (bool cameraMirrored : {false, true}) {
        gVornexRenderer.SetCamera(cameraMirrored ? flipped : view, projection, Matrix::IDENTITY);
        for (bool mirrored : {false, true}) {
            MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
            one.mirrored = mirrored;
            const auto draws = DrawsOf([&] { d->DrawParts(0, 1, &one, 1, nullptr, 0); });
            ASSERT_EQ(gVornexRenderer.CameraMirrored(), cameraMirrored);
            ASSERT_EQ(draws.size(), 3u);
            const bool same = mirrored == cameraMirrored;
            const uint32_t normal = same ? gfx::CULL_CCW : gfx::CULL_CW, other = same ? gfx::CULL_CW : gfx::CULL_CCW;
            EXPECT_EQ(draws[0].RenderState(gfx::RS_CULLMODE), normal);
            EXPECT_EQ(draws[1].RenderState(gfx::RS_CULLMODE), other);
            EXPECT_EQ(draws[2].RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_NONE));
            EXPECT_EQ(draws[0].VertexConstant(198)[3], 1.0f);
            EXPECT_EQ(draws[1].VertexConstant(198)[3], -1.0f);
            // A two-sided part's sign is the renderer's mirrored transform, whatever the draw's flag.
            EXPECT_EQ(draws[2].VertexConstant(198)[3], cameraMirrored ? -1.0f : 1.0f);
        }
    }
}

TEST_F(MeshDrawTest, MissingPresetDrawsTheLineList) {
    MeshTemplateRenderingData* d =
        Load(Cube("[]", ", 'ibytesB': m.struct.pack('<8H', 0, 1, 1, 3, 3, 2, 2, 0).hex(), 'iwordB': 4"));
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    for (uint32_t pass : {1u, 2u, 4u, 16u}) {
        const auto draws = DrawsOf([&] { d->DrawParts(0, pass, &one, 1, nullptr, 0); });
        if (pass == 2) {
            EXPECT_TRUE(draws.empty());
            continue;
        }
        ASSERT_EQ(draws.size(), 1u) << pass;
        EXPECT_EQ(draws[0].primitiveType, gfx::PT_LINELIST);
        EXPECT_EQ(draws[0].primitiveCount, 4u);
        EXPECT_EQ(draws[0].numVertices, 8u);
        EXPECT_EQ(draws[0].indices, gfx::SerialOf(d->indexBufferB));
        EXPECT_EQ(draws[0].RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_LESSEQUAL));
    }
    // Several instances: each line-list draw carries its own instance's model matrix
    // (model, then view and projection, a row per register).
    const MeshDrawBatchRecord instances[3] = {MeshRecord(Vector(-2, 1, 0, 1)), MeshRecord(Vector(3, -1, 4, 1)),
                                              MeshRecord(Vector(0, 2, -3, 1))};
    const int reg = gShaderManager->Fixed(0).vertexObject->ConstantRegister(VSC_MODEL_VIEW_PROJ).index;
    ASSERT_GE(reg, 0);
    const auto draws = DrawsOf([&] { d->DrawParts(0, 1, instances, 3, nullptr, 0); });
    ASSERT_EQ(draws.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        Matrix expect;
        expect.Mul(gVornexRenderer.CurrentViewProjection(), instances[i].world);
        for (uint32_t row = 0; row < 4; ++row)
            for (uint32_t k = 0; k < 4; ++k)
                EXPECT_NEAR(draws[i].VertexConstant(reg + row)[k], (&expect.r[row].x)[k], 1e-5f) << i << " " << row;
    }
}

TEST_F(MeshDrawTest, SecondaryGeometryAfterTheForwardPasses) {
    // 12 secondary vertices (32 bytes each) and 2 triangles; the part takes triangle 1.
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12, 'sec_count': 1, 'sec_first': 1, 'w7': 4.0, 'w8': 1.5, "
        "'words': [0, 0, 1, 0, 0, 1]}]}]",
        ", 'sec_vbytes': '00' * 384, 'sec_vdesc': [0, 4, 0, 1, 0], 'sec_ibytes': m.struct.pack('<6H', 0, 1, 2, 2, "
        "3, 4).hex(), 'sec_idesc': [101, 7, 0, 1]"));
    ASSERT_NE(d->secondaryVertexBuffer, nullptr);
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    for (uint32_t pass : {1u, 16u, 2u, 4u}) {
        const auto draws = DrawsOf([&] { d->DrawParts(0, pass, &one, 1, nullptr, 0); });
        if (pass != 1 && pass != 16) {
            EXPECT_TRUE(draws.empty()) << pass;  // the class-0 part is not in these passes
            continue;
        }
        ASSERT_EQ(draws.size(), 2u) << pass;
        const gfx::DrawRecord& s = draws[1];
        EXPECT_EQ(s.streams[0].buffer, gfx::SerialOf(d->secondaryVertexBuffer));
        EXPECT_EQ(s.streams[0].stride, kMeshSecondaryStride);
        EXPECT_EQ(s.startIndex, 3u);
        EXPECT_EQ(s.minIndex, 2u);
        EXPECT_EQ(s.numVertices, 2u);
        EXPECT_EQ(s.primitiveCount, 1u);
        EXPECT_EQ(s.RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_NONE));
        EXPECT_EQ(s.RenderState(gfx::RS_ZWRITEENABLE), 0u);  // blend mode 1
        const float* c200 = s.VertexConstant(200);
        EXPECT_FLOAT_EQ(c200[0], 4.0f / float(gVornexRenderer.RenderWidth()));
        EXPECT_FLOAT_EQ(c200[2], 0.5f);
        EXPECT_EQ(Floats(s.PixelConstant(0), 4), (std::vector<float>{0, 0, 0, 0}));
        ASSERT_EQ(s.declarationElements->size(), 4u);
        EXPECT_EQ((*s.declarationElements)[2].offset, 24u);
    }
    // Every instance of a run gets its secondary geometry, drawn one by one or instanced.
    const MeshDrawBatchRecord three[3] = {MeshRecord(Vector(0, 0, 0, 1)), MeshRecord(Vector(2, 0, 0, 1)),
                                          MeshRecord(Vector(4, 0, 0, 1))};
    for (uint32_t pass : {1u, 0x80000001u, 16u}) {
        const auto draws = DrawsOf([&] { d->DrawParts(0, pass, three, 3, nullptr, 0); });
        uint32_t secondary = 0;
        for (const gfx::DrawRecord& r : draws)
            if (r.streams[0].buffer == gfx::SerialOf(d->secondaryVertexBuffer)) ++secondary;
        EXPECT_EQ(secondary, 3u) << std::hex << pass;
        EXPECT_EQ(draws.size() - secondary, (pass & kMeshPassInstanced) ? 1u : 3u) << std::hex << pass;
    }
}

// A part's depth-write override holds for that part only: the next part that keeps the
// pass's choice, in this draw or the next mesh's, gets the pass's write state back.
TEST_F(MeshDrawTest, DepthWriteOverridesLeaveThePassChoice) {
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12, 'words': [0, 0, 0, 0, 2, 1]}, {'count': 12}, "
        "{'count': 12, 'words': [0, 0, 0, 0, 1, 1]}, {'count': 12}]}]"));
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    for (uint32_t passWrite : {0u, 1u}) {
        uint32_t after = 2;
        const auto draws = DrawsOf([&] {
            gVornexRenderer.SetDepthState(gfx::CMP_LESSEQUAL, uint8_t(passWrite), 0, 0);
            d->DrawParts(0, 1, &one, 1, nullptr, 0);
            d->DrawParts(0, 1, &one, 1, nullptr, 0);
            gVornexRenderer.Device()->GetRenderState(gfx::RS_ZWRITEENABLE, &after);
        });
        ASSERT_EQ(draws.size(), 8u);
        const uint32_t want[4] = {1, passWrite, 0, passWrite};
        for (size_t i = 0; i < draws.size(); ++i)
            EXPECT_EQ(draws[i].RenderState(gfx::RS_ZWRITEENABLE), want[i % 4]) << "pass " << passWrite << " draw " << i;
        EXPECT_EQ(after, passWrite);
    }
}

TEST_F(MeshDrawTest, PassMaskWritesOneChannelPerKind) {
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12, 'pass': 1}, {'count': 12, 'pass': 3}, {'count': 12, 'pass': 4}, "
        "{'count': 12, 'pass': 0}]}, {'name': 'None', 'parts': [{'count': 12}]}]"));
    bool drew = false;
    auto draws = DrawsOf([&] { drew = d->DrawPassMask(Matrix::IDENTITY, false, 0, nullptr, 0); });
    EXPECT_TRUE(drew);
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].RenderState(gfx::RS_COLORWRITEENABLE), 1u);
    EXPECT_EQ(draws[1].RenderState(gfx::RS_COLORWRITEENABLE), 4u);
    EXPECT_EQ(draws[2].RenderState(gfx::RS_COLORWRITEENABLE), 8u);
    EXPECT_EQ(draws[0].pixelShader.serial, gfx::SerialOf(gShaderManager->Fixed(1).pixelObject->DeviceShader()));
    // Kind 4 switched off; a preset without kinds and one out of range draw nothing.
    gVornexRenderer.PostOutlineTypeMask(0x0A);
    draws = DrawsOf([&] { drew = d->DrawPassMask(Matrix::IDENTITY, false, 0, nullptr, 0); });
    EXPECT_EQ(draws.size(), 2u);
    for (uint32_t preset : {1u, 2u}) {
        draws = DrawsOf([&] { drew = d->DrawPassMask(Matrix::IDENTITY, false, preset, nullptr, 0); });
        EXPECT_FALSE(drew);
        EXPECT_TRUE(draws.empty());
    }
}

// Refraction and the pass kinds follow the renderer's settings: the refraction pixel
// shader in pass 1 while refraction is in force (never instanced), and no pass-mask draw
// while outlines are off.
TEST_F(MeshDrawTest, RefractionAndPassKindsFollowTheRendererSettings) {
    MeshTemplateRenderingData* d =
        Load(Cube("[{'name': 'Default', 'parts': [{'count': 12, 'options': 'FOG', 'flags': 0x20, 'pass': 1}]}]"));
    const MeshPart& p = d->presets[0].parts[0];
    ASSERT_NE(Device(p, MESH_SHADER_REFRACTION_PS), 0u);
    const MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    auto pixelShaders = [&](uint32_t pass) {
        std::vector<uint32_t> out;
        for (const gfx::DrawRecord& r : DrawsOf([&] { d->DrawParts(0, pass, &one, 1, nullptr, 0); }))
            out.push_back(r.pixelShader.serial);
        return out;
    };
    auto maskDrawn = [&] {
        bool drew = false;
        const auto draws = DrawsOf([&] { drew = d->DrawPassMask(Matrix::IDENTITY, false, 0, nullptr, 0); });
        EXPECT_EQ(drew, !draws.empty());
        return drew;
    };
    // The refraction copy is brought up to date before the refracting draw only (one
    // copy more than a frame without it).
    recorder->ResetCallCounts();
    EXPECT_EQ(pixelShaders(1), std::vector<uint32_t>{Device(p, MESH_SHADER_REFRACTION_PS)});
    const uint64_t copies = recorder->CallCount(gfx::CallKind::StretchRect);
    recorder->ResetCallCounts();
    EXPECT_EQ(pixelShaders(0x80000001), std::vector<uint32_t>{Device(p, MESH_SHADER_FORWARD_PS)});
    EXPECT_EQ(copies, recorder->CallCount(gfx::CallKind::StretchRect) + 1);
    EXPECT_TRUE(maskDrawn());

    gVornexRenderer.Settings().enableRefraction = false;
    gVornexRenderer.Settings().enableOutlines = false;
    gVornexRenderer.Reset(window, 0, 0, true, false);
    gVornexRenderer.FlushCommands(true);
    recorder = gfx::GetRecorder(gVornexRenderer.Device());
    recorder->SetDrawRecordMode(gfx::DrawRecordMode::All);
    EXPECT_EQ(pixelShaders(1), std::vector<uint32_t>{Device(p, MESH_SHADER_FORWARD_PS)});
    EXPECT_FALSE(maskDrawn());
}

TEST_F(MeshDrawTest, DepthDrawPicksTheSixteenPairs) {
    // Bits: 1 skinned (bone count, no attachment), 2 alpha test, 4 instanced, 8 flag 16.
    MeshTemplateRenderingData* d = Load(Cube(
        "[{'name': 'Default', 'parts': [{'count': 12}, {'count': 12, 'words': [1, 128, 0, 0, 0, 1]}, "
        "{'count': 12, 'flags': 0x10000, 'word0': 1, 'palette': 'c800000001000000', "
        "'params': m.struct.pack('<4f', 1, 2, 3, 4).hex()}, {'count': 12, 'bone': 0}, {'count': 12, 'flags': 0x40}, "
        "{'count': 12, 'flags': 0x8000}]}]",
        ", 'bones': 2"));
    for (bool instanced : {false, true}) {
        const auto draws = DrawsOf([&] { d->DrawDepth(Matrix::IDENTITY, false, 0, nullptr, 0, instanced); });
        ASSERT_EQ(draws.size(), 4u);
        const uint32_t i = instanced ? 4 : 0;
        const uint32_t want[] = {1 | i, 3 | i, 9 | i, i};
        for (uint32_t k = 0; k < 4; ++k)
            EXPECT_EQ(draws[k].vertexShader.serial,
                      gfx::SerialOf(gShaderManager->ShadowMap(want[k]).vertexObject->DeviceShader()))
                << k;
        EXPECT_EQ(draws[1].RenderState(gfx::RS_ALPHATESTENABLE), 1u);
        EXPECT_EQ(draws[1].RenderState(gfx::RS_ALPHAREF), 128u);
        EXPECT_EQ(Floats(draws[2].VertexConstant(200), 4), (std::vector<float>{1, 2, 3, 4}));
    }

    // The distortion variant reads what the draw and the renderer write: the part's vector
    // at register 200 and the frame times the renderer gives vertex shaders.
    PostEngineClock(1.5);
    const auto draws = DrawsOf([&] {
        gVornexRenderer.SetGlobalShaderConstants();
        d->DrawDepth(Matrix::IDENTITY, false, 0, nullptr, 0, false);
    });
    ASSERT_EQ(draws.size(), 4u);
    ASSERT_TRUE(draws[2].vertexShader.constants);
    std::map<std::string, uint32_t> at;
    for (const gfx::ConstantDesc& c : *draws[2].vertexShader.constants) at[c.name] = c.registerIndex;
    ASSERT_EQ(at.count("DistortionParams"), 1u);
    EXPECT_EQ(Floats(draws[2].VertexConstant(at["DistortionParams"]), 4), (std::vector<float>{1, 2, 3, 4}));
    // (The shared globals' FrameTimes is a pixel register; the vertex stage has its own.)
    ASSERT_EQ(at.count("VertexFrameTimes"), 1u);
    EXPECT_EQ(Floats(draws[2].VertexConstant(at["VertexFrameTimes"]), 2), (std::vector<float>{1.5f, 1.5f}));
}

// CPU skinning of a two-bone strip against numpy in float32.
TEST_F(MeshDrawTest, CpuSkinningMatchesTheReference) {
    // Main-memory layout: flags 3 | 8 | 16 (position, blend, normal, tangent): 52 bytes in,
    // 12 + 12 + 8 + 4 = 36 out.
    const std::string vertices =
        "b''.join(m.struct.pack('<3f4B4B3f4f4B', x, y, 0.5, 0, 1, 9, 0, w, 255 - w, 0, 0, 0, 1, 0, 1, 0.5, -1, 1, "
        "1, 2, 3, 4) for x, y, w in [(0, 0, 255), (1, 2, 128), (2, -1, 0), (3, 3, 64)])";
    MeshTemplateRenderingData* d = Load(
        "(lambda b: (b['rd'].update({'storage': 1, 'vcount': 4, 'stride': 36, 'mm_flags': 27, 'mm_size': 52, "
        "'mm_bytes': (" + vertices + ").hex(), 'vbytes': '', 'vdesc': [0, 4, 0, 1, 0], "
        "'ibytesA': m.struct.pack('<6H', 0, 1, 2, 1, 3, 2).hex(), 'iwordA': 6, "
        "'presets': [{'name': 'Default', 'parts': [{'count': 2, 'low': 0, 'high': 3}]}]}), b)[1])(m.box_mesh())");
    ASSERT_EQ(d->mainMemoryVertices.size(), 208u);
    const float bones[24] = {0.8f, -0.6f, 0, 1.5f, 0.6f, 0.8f, 0, -2, 0, 0, 1, 0.25f,
                             2, 0, 0, 0, 0, 0, -1, 3, 0, 1, 0, 1};
    ASSERT_TRUE(d->SkinVertices(0, 3, bones, 2));
    std::vector<float> got;
    for (uint32_t v = 0; v < 4; ++v) {
        const uint8_t* out = MeshTemplateRenderingData::ScratchVertices() + v * 36;
        float f[6];
        int16_t t[4];
        std::memcpy(f, out, 24);
        std::memcpy(t, out + 24, 8);
        got.insert(got.end(), f, f + 6);
        for (int16_t s : t) got.push_back(float(s));
    }
    const std::string script =
        "import numpy as np\n"
        "B = np.array([" + [&] { std::ostringstream s; for (float b : bones) s << b << ","; return s.str(); }() +
        "], dtype=np.float32).reshape(2, 3, 4)\n"
        "out = []\n"
        "for x, y, w in [(0, 0, 255), (1, 2, 128), (2, -1, 0), (3, 3, 64)]:\n"
        "    p = np.array([x, y, 0.5, 1], np.float32); n = np.array([0, 1, 0, 0], np.float32)\n"
        "    t = np.array([1, 0.5, -1, 0], np.float32)\n"
        "    P = np.zeros(3, np.float32); N = np.zeros(3, np.float32); T = np.zeros(3, np.float32)\n"
        "    for b, wt in [(0, w), (1, 255 - w), (9, 0), (0, 0)]:\n"
        "        if wt == 0: break\n"
        "        if b >= 2: continue\n"
        "        f = np.float32(wt) * np.float32(0.003921569)\n"
        "        P = P + f * (B[b] @ p); N = N + f * (B[b] @ n); T = T + f * (B[b] @ t)\n"
        "    tw = np.clip(np.array([T[0], T[1], T[2], 1], np.float32), -1, 1)\n"
        "    packed = [int(np.float32(c) * (np.float32(32767) if c >= 0 else np.float32(32768))) for c in tw]\n"
        "    out += list(P) + list(N) + packed\n"
        "print(' '.join(repr(float(v)) for v in out))\n";
    const std::string path = PROJECT_BINARY_ROOT "/mesh_skin_reference.py";
    std::ofstream(path) << script;
    const std::vector<double> want = Numbers(ShellOutput("/usr/bin/python3 " + path));
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-5 * (1 + std::fabs(want[i]))) << i;
    // The trailing value is copied; a vertex range past the count is refused.
    EXPECT_EQ(MeshTemplateRenderingData::ScratchVertices()[32], 1);
    EXPECT_FALSE(d->SkinVertices(0, 4, bones, 2));

    // A skinned draw goes out from the scratch vertices with the index copy.
    MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
    const auto draws = DrawsOf([&] { d->DrawParts(0, 1, &one, 1, bones, 2); });
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].call, gfx::CallKind::DrawIndexedPrimitiveUP);
    EXPECT_EQ(draws[0].userStride, 36u);
    EXPECT_EQ(draws[0].primitiveCount, 2u);
}

TEST_F(MeshDrawTest, SortedTrianglesAscendByDistance) {
    // Four triangles along x; the camera point at x = 10 sorts them far to near reversed.
    const std::string vertices =
        "b''.join(m.struct.pack('<3f4B4B4B', x, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0) for x in range(12))";
    MeshTemplateRenderingData* d = Load(
        "(lambda b: (b['rd'].update({'storage': 3, 'vcount': 12, 'stride': 16, 'mm_flags': 3, 'mm_size': 24, "
        "'mm_bytes': (" + vertices + ").hex(), 'vbytes': '', 'vdesc': [0, 4, 0, 1, 0], "
        "'ibytesA': m.struct.pack('<12H', *range(12)).hex(), 'iwordA': 12, "
        "'presets': [{'name': 'Default', 'parts': [{'count': 4}]}]}), b)[1])(m.box_mesh())");
    const float identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    ASSERT_TRUE(d->SkinVertices(0, 11, identity, 1));
    const uint16_t* sorted = d->SortTriangles(d->presets[0].parts[0], Vector(10, 0, 0, 1));
    EXPECT_EQ(std::vector<uint16_t>(sorted, sorted + 12),
              (std::vector<uint16_t>{9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2}));
    sorted = d->SortTriangles(d->presets[0].parts[0], Vector(-3, 0, 0, 1));
    EXPECT_EQ(sorted[0], 0);
}

// ---- The batch ----

struct MeshBatchTest : MeshDrawTest {
    void SetUp() override {
        MeshDrawTest::SetUp();
        for (int i = 0; i < 3; ++i) data.push_back(Load(Cube("[{'name': 'Default', 'parts': [{'count': 12}]}]")));
    }
    void Add(MeshTemplateRenderingData* d, float z, uint32_t preset = 0, uint32_t pass = 1, const float* bones = nullptr) {
        Matrix world = Matrix::IDENTITY;
        world.r[3] = Vector(0, 0, z, 1);
        MeshTemplateRenderingData::Draw(d, world, world, BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)),
                                        Vector(1, 1, 1, 1), 1.0f, false, preset, bones, bones ? 1 : 0, pass);
    }
    // The vertex buffer each draw used, as an index into `data`.
    std::vector<int> Order(const std::vector<gfx::DrawRecord>& draws) {
        std::vector<int> out;
        for (const auto& d : draws)
            for (size_t i = 0; i < data.size(); ++i)
                if (d.streams[0].buffer == gfx::SerialOf(data[i]->vertexBufferA)) out.push_back(int(i));
        return out;
    }
    std::vector<MeshTemplateRenderingData*> data;
};

TEST_F(MeshBatchTest, TwoRecordsKeepTheirOrderMoreSortNearFirst) {
    auto draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        Add(data[0], 20);
        Add(data[1], 5);
        MeshTemplateRenderingData::FlushDrawBatch(0);
    });
    EXPECT_EQ(Order(draws), (std::vector<int>{0, 1}));
    draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        Add(data[0], 20);
        Add(data[1], 5);
        Add(data[2], 10);
        MeshTemplateRenderingData::FlushDrawBatch(0);
    });
    EXPECT_EQ(Order(draws), (std::vector<int>{1, 2, 0}));
    EXPECT_FALSE(MeshTemplateRenderingData::Batching());
}

TEST_F(MeshBatchTest, EqualKeysBreakTiesByDataDescending) {
    std::vector<MeshTemplateRenderingData*> byAddress = data;
    std::sort(byAddress.begin(), byAddress.end(), std::greater<>());
    const auto draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        for (MeshTemplateRenderingData* d : data) Add(d, 5);
        MeshTemplateRenderingData::FlushDrawBatch(0);
    });
    std::vector<int> want;
    for (MeshTemplateRenderingData* d : byAddress) want.push_back(int(std::find(data.begin(), data.end(), d) - data.begin()));
    EXPECT_EQ(Order(draws), want);
}

// Records of equal depth order by preset, mirroring and last word, each descending, and
// keep their insertion order within a group; a nearer record goes first whatever its group.
TEST_F(MeshBatchTest, EqualKeysBreakTiesByPresetMirroringAndLastWord) {
    MeshTemplateRenderingData* two =
        Load(Cube("[{'name': 'A', 'parts': [{'count': 12}]}, {'name': 'B', 'parts': [{'count': 6}]}]"));
    struct Row {
        float z;
        uint32_t preset;
        bool mirrored;
        uint32_t lastWord;
    };
    const Row rows[] = {{5, 0, false, 0}, {5, 1, false, 0}, {5, 0, true, 0}, {5, 0, false, 5},
                        {5, 1, true, 7},  {5, 0, false, 0}, {2, 0, false, 0}, {-0.0f, 0, false, 3}};
    const auto draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        for (const Row& r : rows) {
            Matrix world = Matrix::IDENTITY;
            world.r[3] = Vector(0, 0, r.z, 1);
            MeshTemplateRenderingData::Draw(two, world, world, BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)),
                                            Vector(1, 1, 1, 1), 1.0f, r.mirrored, r.preset, nullptr, 0, 1, r.lastWord);
        }
        MeshTemplateRenderingData::FlushDrawBatch(0);
    });
    // (triangles, culling, instances) of each draw: the preset shows in the triangle
    // count, the mirroring in the culling, a group of two in the instance count.
    struct Want {
        uint32_t triangles, cull, instances;
    };
    const Want want[] = {{12, gfx::CULL_CCW, 1}, {12, gfx::CULL_CCW, 1}, {6, gfx::CULL_CW, 1}, {6, gfx::CULL_CCW, 1},
                         {12, gfx::CULL_CW, 1},  {12, gfx::CULL_CCW, 1}, {12, gfx::CULL_CCW, 2}};
    ASSERT_EQ(draws.size(), std::size(want));
    for (size_t i = 0; i < draws.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(draws[i].primitiveCount, want[i].triangles);
        EXPECT_EQ(draws[i].RenderState(gfx::RS_CULLMODE), want[i].cull);
        EXPECT_EQ(draws[i].streams[0].frequency,
                  want[i].instances > 1 ? gfx::STREAMSOURCE_INDEXEDDATA | want[i].instances : 1u);
    }
}

TEST_F(MeshBatchTest, AnEqualRunIsOneInstancedDraw) {
    const auto draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        for (int i = 0; i < 5; ++i) Add(data[0], float(i));
        Add(data[1], 100);
        MeshTemplateRenderingData::FlushDrawBatch(0);
        // After the run the frequencies are reset: a plain draw sees 1 again.
        MeshDrawBatchRecord one = MeshRecord(Vector(0, 0, 0, 1));
        data[2]->DrawParts(0, 1, &one, 1, nullptr, 0);
    });
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].streams[0].frequency, gfx::STREAMSOURCE_INDEXEDDATA | 5u);
    EXPECT_EQ(draws[0].streams[1].frequency, gfx::STREAMSOURCE_INSTANCEDATA | 1u);
    EXPECT_EQ(draws[0].streams[1].stride, kMeshInstanceStride);
    EXPECT_EQ(draws[0].declaration, gfx::SerialOf(data[0]->declarationB));
    EXPECT_EQ(draws[1].streams[0].frequency, 1u);  // a run of one draws plainly
    EXPECT_EQ(draws[2].streams[0].frequency, 1u);
    EXPECT_EQ(draws[2].streams[1].buffer, 0u);
}

TEST_F(MeshBatchTest, FullBatchFlushesAndSkinnedOrInstancedDrawAtOnce) {
    const float bone[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    uint32_t during = 0, afterSkinned = 0, afterInstanced = 0;
    const auto draws = DrawsOf([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        for (uint32_t i = 0; i < kMeshDrawBatchSize; ++i) Add(data[i % 2], float(i));
        during = recorder->CallCount(gfx::CallKind::DrawIndexedPrimitive);
        Add(data[2], 1);  // the 1025th: the first 1024 go out, a new batch holds it
        EXPECT_EQ(MeshTemplateRenderingData::BatchedRecords(), 1u);
        EXPECT_TRUE(MeshTemplateRenderingData::Batching());
        Add(data[2], 2, 0, 1, bone);
        afterSkinned = MeshTemplateRenderingData::BatchedRecords();
        Add(data[2], 3, 0, 0x80000001);
        afterInstanced = MeshTemplateRenderingData::BatchedRecords();
        MeshTemplateRenderingData::FlushDrawBatch(0);
    });
    (void)during;
    EXPECT_EQ(afterSkinned, 1u);
    EXPECT_EQ(afterInstanced, 1u);
    // 1024 alternating records sort into 1024 single draws, then the two drawn at once,
    // then the one left.
    ASSERT_EQ(draws.size(), 1024u + 3u);
    EXPECT_EQ(Order(draws).back(), 2);
}

TEST_F(MeshBatchTest, DestroyedDataLeaveTheBatchAndTheLiveList) {
    const uint32_t live = MeshTemplateRenderingData::LiveCount();
    RunOnRenderThread([&] {
        MeshTemplateRenderingData::BeginDrawBatch(1, 0);
        Add(data[2], 1);
        Add(data[0], 2);
    });
    templates.pop_back();  // data[2]
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(MeshTemplateRenderingData::LiveCount(), live - 1);
    const auto draws = DrawsOf([&] { MeshTemplateRenderingData::FlushDrawBatch(0); });
    data.pop_back();
    EXPECT_EQ(Order(draws), (std::vector<int>{0}));
}

TEST_F(MeshBatchTest, DrawServicesReachTheBatch) {
    SceneDrawServices& scene = GetSceneDrawServices();
    ASSERT_EQ(&scene, &SceneLibraryDrawServices());
    const BoundingBox4 box(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
    const auto draws = DrawsOf([&] {
        scene.BeginMeshDrawBatch(1, 0);
        for (int i = 0; i < 3; ++i)
            scene.DrawMesh(data[0], Matrix::IDENTITY, Matrix::IDENTITY, &box, Vector(1, 1, 1, 1), 0, 0, nullptr, 0);
        EXPECT_EQ(MeshTemplateRenderingData::BatchedRecords(), 3u);
        scene.FlushMeshDrawBatch(0);
        scene.DrawSkinnedMesh(data[1], Matrix::IDENTITY, Vector(1, 1, 1, 1), nullptr, 0);
    });
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].streams[0].frequency, gfx::STREAMSOURCE_INDEXEDDATA | 3u);
    EXPECT_EQ(Order(draws), (std::vector<int>{0, 1}));
}

TEST_F(MeshBatchTest, DeviceResetDrawsTheSameAgain) {
    auto frame = [&] {
        return DrawsOf([&] {
            MeshTemplateRenderingData::BeginDrawBatch(1, 0);
            for (int i = 0; i < 6; ++i) Add(data[i % 3], float(i));
            MeshTemplateRenderingData::FlushDrawBatch(0);
        });
    };
    const auto before = frame();
    gVornexRenderer.RequestDeviceReset();
    gVornexRenderer.Reset(window, uint32_t(clientWidth), uint32_t(clientHeight), false, false);
    gVornexRenderer.FlushCommands(true);
    const auto after = frame();
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].primitiveCount, after[i].primitiveCount);
        EXPECT_EQ(before[i].streams[0].frequency, after[i].streams[0].frequency);
        EXPECT_EQ(before[i].streams[0].buffer, after[i].streams[0].buffer);
    }
}

}  // namespace

// ---- A frame through the pass driver ----

// Three templates and 50 entities gathered and drawn by one frame of the pass driver: the
// mesh draws (told by vertex buffer, triangles, first index, stream frequencies, variant
// names and culling) equal the reviewed list in mesh_frame_expected.txt, and a second
// frame repeats them. MESH_FRAME_WRITE=1 writes the list anew for review.
struct MeshFrameTest : sceneframe::SceneFrameFixture<MeshDrawTest> {
    std::vector<std::string> Frame(const std::vector<Entity*>& entities) {
        const std::vector<gfx::DrawRecord> draws = FrameDraws(entities);
        lastDraws.clear();
        std::vector<std::string> lines;
        for (const gfx::DrawRecord& d : draws) {
            int mesh = -1;
            for (size_t i = 0; i < data.size(); ++i)
                if (d.streams[0].buffer == gfx::SerialOf(data[i]->vertexBufferA)) mesh = int(i);
            if (mesh < 0) continue;
            lastDraws.push_back(d);
            std::ostringstream line;
            line << "mesh " << mesh << " triangles " << d.primitiveCount << " first " << d.startIndex << " freq "
                 << std::hex << d.streams[0].frequency << "/" << d.streams[1].frequency << std::dec << " vs "
                 << ShaderName(d.vertexShader.serial) << " ps " << ShaderName(d.pixelShader.serial) << " cull "
                 << d.RenderState(gfx::RS_CULLMODE);
            lines.push_back(line.str());
        }
        return lines;
    }
    std::string ShaderName(uint32_t serial) const {
        for (const MeshTemplateRenderingData* d : data)
            for (const MeshShaderPreset& s : d->presets)
                for (const MeshPart& p : s.parts)
                    for (uint32_t i = 0; i < MESH_SHADER_COUNT; ++i)
                        if (p.shaders.resources[i] && Device(p, MeshPartShader(i)) == serial)
                            return p.shaders.resources[i]->GetName();
        return "?";
    }
    std::vector<MeshTemplateRenderingData*> data;
    std::vector<gfx::DrawRecord> lastDraws;  // the mesh draws of the last frame
};

TEST_F(MeshFrameTest, ThreeTemplatesAndFiftyEntitiesDrawTheReviewedList) {
    // A forward crate; a deferred block; a post with a forward and a third-class part.
    const std::string specs[3] = {
        Cube("[{'name': 'Default', 'parts': [{'count': 12}]}]", ", 'render': [0, 0, 1, 0, 1, 0, 0, 0]"),
        Cube("[{'name': 'Default', 'parts': [{'count': 12, 'flags': 1}]}]", ", 'render': [1, 0, 0, 0, 1, 0, 0, 0]"),
        Cube("[{'name': 'Default', 'parts': [{'first': 0, 'count': 6}, {'first': 6, 'count': 6, 'flags': 2}]}]",
             ", 'render': [0, 1, 1, 0, 1, 0, 0, 0]")};
    std::vector<Entity*> entities;
    for (int t = 0; t < 3; ++t) {
        data.push_back(Load(specs[t]));
        templates.back()->SetName(("Frame" + std::to_string(t)).c_str());
    }
    for (int i = 0; i < 50; ++i) {
        Matrix local = Matrix::IDENTITY;
        local.r[3] = Vector(float(i % 10) * 4.0f - 18.0f, 0, float(i / 10) * 4.0f - 8.0f, 1);
        entities.push_back(
            gEntityManager->CreateEntityFromTemplate(templates[size_t(i % 3)].get(), nullptr, local, 0, nullptr));
        ASSERT_NE(entities.back(), nullptr);
    }
    const std::vector<std::string> first = Frame(entities);
    EXPECT_EQ(first, sceneframe::ReviewedList(PROJECT_SOURCE_ROOT "/tests/scene/mesh/mesh_frame_expected.txt",
                                              "MESH_FRAME_WRITE", first));
    EXPECT_EQ(Frame(entities), first);
}

// What the frame sets reaches the mesh draws: the scene lighting of the parameter set in
// force (sun vectors and the cloud and layer textures on samplers 4 and 5) at the draws
// of the lit passes and never before them, the block's global render floats in the part
// register, and the posted engine clock in the texture scroll.
TEST_F(MeshFrameTest, TheFrameLightsScrollsAndSetsThePartValuesOfTheDraws) {
    gRendererScene->PostInit();
    gVornexRenderer.FlushCommands(true);
    DeviceObjectHandle* cloud = nullptr;
    DeviceObjectHandle* layer = nullptr;
    // The sun shines along the camera's view: toward the light is -z in view space.
    const Vector forward = Vector(0, -30, 60, 0) * (1.0f / std::sqrt(900.0f + 3600.0f));
    RunOnRenderThread([&] {
        cloud = new DeviceObjectHandle;
        layer = new DeviceObjectHandle;
        cloud->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED);
        layer->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED);
        SceneParametersWrapper* set = gRendererScene->Set(RendererScene::SET_IN_FORCE);
        ASSERT_NE(set, nullptr);
        set->SetCloudTexture(cloud);
        set->SetLayerTexture(layer);
        SceneLightSection& light = set->Values().light;
        light.lightColor = Vector(4, 2, 0, 1);
        light.lightDirection = forward;
        light.wrapAroundFactor = Vector(0.25f, 0, 0, 0);
        light.fakeShadowStrength = Vector(0.5f, 0, 0, 0);
        light.shadowStrength = Vector(0.75f, 0, 0, 0);
    });
    // A scrolling forward part (2 triangles), a deferred one (3) and a third-class one (4).
    data.push_back(Load(Cube("[{'name': 'Default', 'parts': [{'first': 0, 'count': 2, 'flags': 0x10, "
                             "'vectors': [1, 1, 0, 0, 0.25, 0.5, 0, 0, 0.5, 1.25, 0, 0]}, "
                             "{'first': 2, 'count': 3, 'flags': 1}, {'first': 5, 'count': 4, 'flags': 2}]}]",
                             ", 'render': [1, 1, 1, 0, 1, 0, 0, 0]")));
    Entity* e = gEntityManager->CreateEntityFromTemplate(templates.back().get(), nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(e, nullptr);
    PostEngineClock(1.5);
    Frame({e});
    uint32_t cloudSerial = 0, layerSerial = 0;
    RunOnRenderThread([&] {
        cloudSerial = gfx::SerialOf(cloud->Texture());
        layerSerial = gfx::SerialOf(layer->Texture());
        cloud->Unref();
        layer->Unref();
    });
    ASSERT_NE(cloudSerial, 0u);

    // The deferred geometry pass first (unlit), then the compose, the third class and the
    // forward part.
    std::vector<uint32_t> triangles;
    for (const gfx::DrawRecord& d : lastDraws) triangles.push_back(d.primitiveCount);
    ASSERT_EQ(triangles, (std::vector<uint32_t>{3, 3, 4, 2})) << "the pass order of the frame";
    EXPECT_EQ(lastDraws[0].textures[4].serial, 0u) << "no scene lighting before the first lit pass";
    EXPECT_EQ(Floats(lastDraws[0].PixelConstant(VornexRenderer::kSceneLightingRegister), 4),
              (std::vector<float>{0, 0, 0, 0}));
    for (size_t i : {size_t(2), size_t(3)}) {
        const gfx::DrawRecord& d = lastDraws[i];
        EXPECT_EQ(d.textures[4].serial, cloudSerial) << i;
        EXPECT_EQ(d.textures[5].serial, layerSerial) << i;
        const float* toward = d.PixelConstant(VornexRenderer::kSceneLightingRegister);
        EXPECT_NEAR(toward[0], 0.0f, 1e-5f) << i;
        EXPECT_NEAR(toward[1], 0.0f, 1e-5f) << i;
        EXPECT_NEAR(toward[2], -1.0f, 1e-5f) << i;
        // The light colour x 0.25 with its luminance; the shadow values.
        const float* colour = d.PixelConstant(VornexRenderer::kSceneLightingRegister + 2);
        EXPECT_EQ(Floats(colour, 3), (std::vector<float>{1.0f, 0.5f, 0.0f})) << i;
        EXPECT_NEAR(colour[3], 0.2126f + 0.7152f * 0.5f, 1e-6f) << i;
        EXPECT_EQ(Floats(d.PixelConstant(VornexRenderer::kSceneLightingRegister + 6), 4),
                  (std::vector<float>{0.25f, 0.5f, 0.75f, 0})) << i;
        // The block's global render floats (3, 4) around 0; the culling sign.
        EXPECT_EQ(Floats(d.VertexConstant(198), 4), (std::vector<float>{3, 0, 4, 1})) << i;
        // Every pixel constant of the family lies inside ps_3_0's range, the depth terms at
        // the in-range copy of c248.
        ASSERT_TRUE(d.pixelShader.constants) << i;
        std::map<std::string, uint32_t> at;
        for (const gfx::ConstantDesc& c : *d.pixelShader.constants) {
            at[c.name] = c.registerIndex;
            EXPECT_LE(c.registerIndex + c.registerCount, 224u) << c.name;
        }
        EXPECT_EQ(at["DepthParams"], VornexRenderer::kPixelDepthParamsRegister) << i;
        EXPECT_EQ(Floats(d.PixelConstant(VornexRenderer::kPixelDepthParamsRegister), 4), Floats(d.PixelConstant(248), 4));
    }
    // Scroll by the posted engine clock: 0.25 + 0.5 x 1.5 -> 0; 0.5 + 1.25 x 1.5 -> 0.375.
    EXPECT_EQ(Floats(lastDraws[3].VertexConstant(195), 4), (std::vector<float>{1, 1, 0, 0.375f}));
    gRendererScene->PostShutdown();
}

// The proxy's pass-mask slot, reached through the base context: the preset's enabled
// kinds drawn with the task's matrix, nothing once the kinds are switched off.
TEST_F(MeshFrameTest, ThePassMaskSlotDrawsTheEnabledKindsWithTheTaskMatrix) {
    data.push_back(Load(Cube("[{'name': 'Default', 'parts': [{'count': 12, 'pass': 2}, {'count': 12, 'pass': 4}]}]",
                             ", 'render': [0, 0, 1, 0, 1, 0, 0, 0]")));
    Entity* e = gEntityManager->CreateEntityFromTemplate(templates.back().get(), nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(e, nullptr);
    gVornexRenderer.FlushCommands(true);
    EntityRenderingContext* context = e->GetRenderingContext();
    ASSERT_NE(context, nullptr);
    Matrix task = Matrix::IDENTITY;
    task.r[3] = Vector(5, 0, 0, 1);
    bool drew = false;
    auto draws = DrawsOf([&] { drew = context->DrawPassMask(nullptr, task); });
    EXPECT_TRUE(drew);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].RenderState(gfx::RS_COLORWRITEENABLE), 2u);
    EXPECT_EQ(draws[1].RenderState(gfx::RS_COLORWRITEENABLE), 8u);
    EXPECT_EQ(draws[0].streams[0].buffer, gfx::SerialOf(data.back()->vertexBufferA));
    gVornexRenderer.PostOutlineTypeMask(0x02);
    draws = DrawsOf([&] { drew = context->DrawPassMask(nullptr, task); });
    EXPECT_FALSE(drew);
    EXPECT_TRUE(draws.empty());
}
