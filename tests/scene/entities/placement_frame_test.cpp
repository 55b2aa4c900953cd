// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// The placed kinds drawn on the recording device. One frame of the pass driver over lights
// of all four types, compounds of meshes and lights, and a 40-node graph with curved
// connections: the frame's draws after the first (shaders by name, primitive type and
// count) equal the reviewed list in placement_frame_expected.txt, and the next frame
// repeats them (PLACEMENT_FRAME_WRITE=1 writes the list anew for review). Graph drawing
// with the "Graph" shader family: every variant the template asks for compiles, straight
// segments and arrows go in batches of 32 and curve segments in batches of 16, with the
// ribbon parameters and the records in the constants.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderTestSupport.h"
#include "../SceneFrameTestSupport.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"

using namespace rendertest;

namespace {

struct DefinitionsLoaded : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
    }
};

struct PlacementFrameTest : sceneframe::SceneFrameFixture<DefinitionsLoaded> {
    void TearDown() override {
        EndScene();
        for (EntityTemplateStub* s : stubs) {
            gEntityTemplateRegistry.Root()->RemoveStub(s);
            if (EntityTemplate* t = s->GetLoadedTemplate()) t->stub = nullptr;
            s->DetachTemplate();
            delete s;
        }
        compound.reset();
        if (graph)
            for (ShaderPair& p : graph->shaders) p.Release();
        graph.reset();
        templates.clear();
        SceneFrameFixture::TearDown();
    }
    void Register(const char* name, EntityTemplate* t) {
        t->SetName(name);
        auto* s = new EntityTemplateStub();
        s->SetFileName(name);
        s->typeId = t->typeId;
        s->SetTemplate(t);
        gEntityTemplateRegistry.Root()->AddStub(s);
        stubs.push_back(s);
    }
    MeshTemplate* Mesh(const char* name) {
        auto t = std::make_unique<MeshTemplate>();
        const std::vector<uint8_t> block = sceneframe::MeshToolBlock(
            "(lambda b: (b['rd'].update({'render': [0, 0, 1, 0, 1, 0, 0, 0]}), b)[1])"
            "(m.box_mesh(presets=[{'name': 'Default', 'parts': [{'count': 12}]}]))",
            "placement_frame_test_block.bin");
        BoundedReader in(block.data(), block.size());
        EXPECT_TRUE(t->ReadBinaryData(in, 50));
        MeshTemplate* raw = t.get();
        Register(name, raw);
        templates.push_back(std::move(t));
        return raw;
    }
    LightTemplate* Light(const char* name, uint32_t type) {
        auto t = std::make_unique<LightTemplate>();
        t->lightType = type;
        LightTemplate* raw = t.get();
        Register(name, raw);
        templates.push_back(std::move(t));
        return raw;
    }
    // Shader resource names by device serial.
    std::map<uint32_t, std::string> ShaderNames() {
        std::map<uint32_t, std::string> names;
        for (ResourceShader* r : PooledShaders()) {
            if (VertexShaderObject* v = r->GetVertexShaderObject())
                names[gfx::SerialOf(v->DeviceShader())] = r->GetName();
            if (PixelShaderObject* p = r->GetPixelShaderObject())
                names[gfx::SerialOf(p->DeviceShader())] = r->GetName();
        }
        return names;
    }
    std::vector<std::string> Frame(const std::vector<Entity*>& entities) {
        const std::vector<gfx::DrawRecord> draws = FrameDraws(entities, true);
        const std::map<uint32_t, std::string> names = ShaderNames();
        const auto name = [&](uint32_t serial) {
            auto it = names.find(serial);
            return it == names.end() ? std::string(serial ? "?" : "none") : it->second;
        };
        std::vector<std::string> lines;
        for (const gfx::DrawRecord& d : draws) {
            std::ostringstream line;
            line << "vs " << name(d.vertexShader.serial) << " ps " << name(d.pixelShader.serial) << " type "
                 << int(d.primitiveType) << " primitives " << d.primitiveCount;
            lines.push_back(line.str());
        }
        return lines;
    }
    std::vector<EntityTemplateStub*> stubs;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::unique_ptr<CompoundTemplate> compound;
    std::unique_ptr<GraphTemplate> graph;
};

TEST_F(PlacementFrameTest, LightsCompoundsAndAGraphDrawTheReviewedList) {
    Mesh("crate");
    const char* lightNames[4] = {"point", "spot", "tube", "ambient"};
    for (uint32_t i = 0; i < 4; ++i) Light(lightNames[i], i);
    // Lights of all four types.
    std::vector<Entity*> entities;
    for (uint32_t i = 0; i < 4; ++i) {
        Matrix m;
        m.LoadTranslation(float(i) * 10.0f - 15.0f, 4, 0);
        auto* l = static_cast<LightEntity*>(gEntityManager->CreateEntity(lightNames[i], nullptr, m, 0, nullptr));
        ASSERT_NE(l, nullptr);
        l->startFalloff = 2.0f;
        l->endFalloff = 9.0f;
        l->OnPropertyChanged("End falloff");
        entities.push_back(l);
    }
    // Compounds of three crates and a point light.
    compound = std::make_unique<CompoundTemplate>();
    compound->SetName("CrateStack");
    for (int i = 0; i < 4; ++i) {
        CompoundTemplateElement e;
        e.name = NameString(i < 3 ? "Crate" : "Lamp");
        e.templateName = NameString(i < 3 ? "crate" : "point");
        e.locationMatrix.LoadTranslation(i < 3 ? float(i) * 2.2f : 2.2f, i < 3 ? 0.0f : 3.0f, 0);
        compound->elements.Add(e);
    }
    compound->ResolveElementTemplates();
    for (int i = 0; i < 3; ++i) {
        Matrix m;
        m.LoadTranslation(float(i) * 12.0f - 12.0f, 0, 12);
        Entity* c = gEntityManager->CreateEntityFromTemplate(compound.get(), nullptr, m, 0, nullptr);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->GetChildrenCount(), 4u);
        entities.push_back(c);
        for (uint32_t k = 0; k < c->GetChildrenCount(); ++k) entities.push_back(c->GetChild(k));
    }
    // A graph of 40 nodes on a ring, each joined to the next through one control point.
    graph = std::make_unique<GraphTemplate>();
    graph->SetName("graph");
    graph->RefreshResources(true);
    ASSERT_TRUE(WaitUntil([&] {
        gVornexRenderer.WaitForResourceJobs(1);
        for (ShaderPair& p : graph->shaders) {
            if (!p.vertexShader || !p.pixelShader || !p.vertexShader->IsLoaded() || !p.pixelShader->IsLoaded())
                return false;
            p.ResolveObjects();
            if (!p.IsValid() || !p.vertexObject->DeviceShader() || !p.pixelObject->DeviceShader()) return false;
        }
        return true;
    }));
    FlagTemplate flag;
    flag.SetName("node");
    auto* g = static_cast<GraphEntity*>(
        gEntityManager->CreateEntityFromTemplate(graph.get(), nullptr, Matrix::IDENTITY, 0, nullptr));
    std::vector<FlagEntity*> nodes;
    for (int i = 0; i < 40; ++i) {
        const float a = 6.2831855f * float(i) / 40.0f;
        Matrix m;
        m.LoadTranslation(30.0f * std::cos(a), 0, 30.0f * std::sin(a) - 10.0f);
        nodes.push_back(static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&flag, g, m, 0, nullptr)));
    }
    for (int i = 0; i < 40; ++i) {
        g->Connect(nodes[i], nodes[(i + 1) % 40]);
        const float a = 6.2831855f * (float(i) + 0.5f) / 40.0f;
        FlagEntityConnectionControlPoint p;
        p.position = Vector3(32.0f * std::cos(a), 0.5f, 32.0f * std::sin(a) - 10.0f);
        nodes[i]->FindConnection(nodes[(i + 1) % 40])->controlPoints.Add(p);
    }
    entities.push_back(g);

    // The first frame also renders the ambient cube once; the list is of the frames after.
    Frame(entities);
    const std::vector<std::string> first = Frame(entities);
    EXPECT_EQ(first, sceneframe::ReviewedList(PROJECT_SOURCE_ROOT "/tests/scene/entities/placement_frame_expected.txt",
                                              "PLACEMENT_FRAME_WRITE", first));
    EXPECT_EQ(Frame(entities), first);
    gEntityManager->NewScene();
}

// ---- Graph drawing ----

struct GraphDrawTest : sceneframe::SceneFrameFixture<DefinitionsLoaded> {
    GraphDrawTest() {
        sceneBox = BoundingBox4(Vector(-400, -5, -400, 1), Vector(400, 50, 400, 1));
        cellSize = 20.0f;
    }
    void SetUp() override {
        SceneFrameFixture::SetUp();
        if (HasFatalFailure()) return;
        flagTemplate.SetName("node");
        graphTemplate.SetName("graph");
        graphTemplate.width = 0.75f;
        graphTemplate.mappingSize = 4.0f;
    }
    void TearDown() override {
        EndScene();
        for (ShaderPair& p : graphTemplate.shaders) p.Release();
        SceneFrameFixture::TearDown();
    }
    // Every pair loaded and its device shaders made.
    void LoadShaders() {
        CaptureLogSink log;
        log.Attach();
        graphTemplate.RefreshResources(true);
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            for (ShaderPair& p : graphTemplate.shaders) {
                if (!p.vertexShader || !p.pixelShader || !p.vertexShader->IsLoaded() || !p.pixelShader->IsLoaded())
                    return false;
                p.ResolveObjects();
                if (!p.IsValid() || !p.vertexObject->DeviceShader() || !p.pixelObject->DeviceShader()) return false;
            }
            return true;
        })) << [&] {
            std::string all;
            for (const auto& m : log.Messages()) all += m.text + "\n";
            return all;
        }();
    }
    std::vector<gfx::DrawRecord> Draw(GraphEntity* g, uint32_t flags) {
        g->SubmitHelperRendering(0);
        auto* context = static_cast<GraphEntityRenderingContext*>(g->GetRenderingContext());
        EXPECT_NE(context, nullptr);
        BeginFrame();
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        RenderTaskArguments arguments;
        arguments.flags = flags;
        arguments.vector = Vector(0.5f, 0.25f, 1.0f, 1.0f);
        RunOnRenderThread([&] { context->Draw(nullptr, g->GetGlobalLocationMatrix(), arguments); });
        std::vector<gfx::DrawRecord> draws = recorder->DrawRecords();
        EndFrame();
        return draws;
    }
    FlagTemplate flagTemplate;
    GraphTemplate graphTemplate;
};

TEST_F(GraphDrawTest, EveryVariantCompiles) {
    const char* options[] = {"", "TEXTURE", "CATMULL_ROM", "TEXTURE CATMULL_ROM", "ARROW"};
    ShaderPair pairs[5];
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(pairs[i].Acquire("Graph", options[i], 0)) << options[i];
    EXPECT_TRUE(WaitUntil([&] {
        gVornexRenderer.WaitForResourceJobs(1);
        for (ShaderPair& p : pairs) {
            if (!p.vertexShader->IsLoaded() || !p.pixelShader->IsLoaded()) return false;
            p.ResolveObjects();
            if (!p.IsValid() || !p.vertexObject->DeviceShader() || !p.pixelObject->DeviceShader()) return false;
        }
        return true;
    }));
    for (ShaderPair& p : pairs) p.Release();
}

TEST_F(GraphDrawTest, SegmentsAndCurvesInBatches) {
    LoadShaders();
    GraphEntity* g = static_cast<GraphEntity*>(
        gEntityManager->CreateEntityFromTemplate(&graphTemplate, nullptr, Matrix::IDENTITY, 0, nullptr));
    // A chain of 34 nodes: 33 straight segments.
    std::vector<FlagEntity*> nodes;
    for (int i = 0; i < 34; ++i) {
        Matrix m;
        m.LoadTranslation(float(i) * 3.0f - 50.0f, 0, 0);
        nodes.push_back(static_cast<FlagEntity*>(
            gEntityManager->CreateEntityFromTemplate(&flagTemplate, g, m, 0, nullptr)));
    }
    for (int i = 0; i + 1 < 34; ++i) g->Connect(nodes[i], nodes[i + 1]);
    std::vector<gfx::DrawRecord> draws = Draw(g, 0);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount, 64u);
    EXPECT_EQ(draws[1].primitiveCount, 2u);
    for (const auto& d : draws) {
        EXPECT_EQ(d.primitiveType, gfx::PT_TRIANGLELIST);
        EXPECT_EQ(d.VertexConstant(kGraphParameterRegister)[0], 0.75f);
        EXPECT_EQ(d.VertexConstant(kGraphParameterRegister)[1], 0.25f);
    }
    // The second batch starts with segment 32: nodes 32 to 33, lifted, with their distances.
    EXPECT_EQ(draws[1].VertexConstant(0)[0], nodes[32]->GetLocalPosition().x);
    EXPECT_EQ(draws[1].VertexConstant(0)[1], 0.25f);
    EXPECT_FLOAT_EQ(draws[1].VertexConstant(0)[3], 96.0f);
    EXPECT_FLOAT_EQ(draws[1].VertexConstant(1)[3], 99.0f);
    // Arrows are drawn only with draw flag 8: 33 arrows, 32 and 1, one triangle each.
    EXPECT_EQ(Draw(g, 2).size(), 2u);
    draws = Draw(g, 8);
    ASSERT_EQ(draws.size(), 4u);
    EXPECT_EQ(draws[2].primitiveCount, 32u);
    EXPECT_EQ(draws[3].primitiveCount, 1u);
    EXPECT_EQ(draws[3].textures[0].serial, 0u);

    // One connection through 16 control points: 17 curve segments, 16 and 1.
    gEntityManager->DestroyEntity(g);
    g = static_cast<GraphEntity*>(
        gEntityManager->CreateEntityFromTemplate(&graphTemplate, nullptr, Matrix::IDENTITY, 0, nullptr));
    Matrix m;
    m.LoadTranslation(-40, 0, 0);
    auto* a = static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&flagTemplate, g, m, 0, nullptr));
    m.LoadTranslation(40, 0, 0);
    auto* b = static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&flagTemplate, g, m, 0, nullptr));
    g->Connect(a, b);
    FlagEntityConnection* c = a->FindConnection(b);
    for (int i = 0; i < 16; ++i) {
        FlagEntityConnectionControlPoint p;
        p.position = Vector3(-40.0f + 80.0f * float(i + 1) / 17.0f, 0, (i % 2) ? 3.0f : -3.0f);
        c->controlPoints.Add(p);
    }
    draws = Draw(g, 0);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount, 126u * 16u);
    EXPECT_EQ(draws[1].primitiveCount, 126u);
    EXPECT_EQ(draws[0].numVertices, 128u * 16u);
    // Highlighted, the colour is doubled.
    draws = Draw(g, 2);
    ASSERT_FALSE(draws.empty());
}

}  // namespace
