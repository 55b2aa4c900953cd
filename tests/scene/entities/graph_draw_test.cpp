// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// Graph drawing on the recording device with the "Graph" shader family: every variant the
// template asks for compiles, straight segments and arrows go in batches of 32 and curve
// segments in batches of 16, with the ribbon parameters and the records in the constants.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/entity/EntityManager.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

struct GraphDrawTest : sceneframe::SceneFrameFixture<shadertest::ShaderFixture> {
    GraphDrawTest() {
        sceneBox = BoundingBox4(Vector(-400, -5, -400, 1), Vector(400, 50, 400, 1));
        cellSize = 20.0f;
    }
    void SetUp() override {
        SceneFrameFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
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
