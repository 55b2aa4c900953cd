// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Envelope entities (colour evaluation with and without gamma, advancing, the restart on a
// template change) and in-game UI entities (the element's life, the context's life, the UI
// transform against numpy through a recording draw entry, sizes that cannot draw).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/math/HDRColor.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "render/RenderTestSupport.h"
#include "scene/SceneServices.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

struct UIElementDouble : SafePointerRoot {};

std::vector<SafePointerRoot*> gReleased;
struct DrawCall {
    SafePointerRoot* element;
    Matrix transform;
    bool interaction;
};
std::vector<DrawCall> gDraws;

struct EnvelopeUITest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        gReleased.clear();
        gDraws.clear();
        gSceneServices.uiElementRelease = [](SafePointerRoot* e) { gReleased.push_back(e); };
        gSceneServices.uiDrawElementTree = [](SafePointerRoot* e, const Matrix& m, bool interaction) {
            gDraws.push_back({e, m, interaction});
        };
        colorTemplate.SetName("colour");
        uiTemplate.SetName("panel");
    }
    void TearDown() override {
        EndScene();
        gSceneServices.uiElementRelease = nullptr;
        gSceneServices.uiDrawElementTree = nullptr;
        SetRenderVisualizationMode(0);
        SceneEntityFixture::TearDown();
    }
    template <class E, class T>
    E* Make(T& t, const Matrix& m = Matrix::IDENTITY) {
        auto* e = dynamic_cast<E*>(gEntityManager->CreateEntityFromTemplate(&t, nullptr, m, 0, nullptr));
        EXPECT_NE(e, nullptr);
        return e;
    }
    ColorEnvelopeTemplate colorTemplate;
    InGameUITemplate uiTemplate;
};

TEST_F(EnvelopeUITest, ColourEnvelopeEntity) {
    auto* e = Make<ColorEnvelopeEntity>(colorTemplate);
    for (uint32_t mode : {0u, 1u}) {
        SetRenderVisualizationMode(mode);
        Vector c;
        e->GetLinearColor(c);
        EXPECT_EQ(c, Vector(1, 1, 1, 1)) << "mode " << mode;
    }
    // A grey constant tells the gamma flag apart: raised to 2.2 only in mode 0.
    colorTemplate.envelope.SetConstantValue(HDRColor(128, 64, 255, 255, 1.0f));
    Vector linear, plain;
    SetRenderVisualizationMode(0);
    e->GetLinearColor(linear);
    SetRenderVisualizationMode(1);
    e->GetLinearColor(plain);
    EXPECT_NEAR(plain.x, 128.0f / 255.0f, 1e-6f);
    EXPECT_NEAR(linear.x, std::pow(128.0f / 255.0f, 2.2f), 1e-5f);
    EXPECT_EQ(linear.z, 1.0f);
    // Without keys the playback is over at once.
    EXPECT_TRUE(e->Advance(0.25f));
    // A template change restarts the playback and keeps the broken loops.
    e->state.time = 3.0f;
    e->state.keyIndex = 2;
    e->state.brokenLoops = 5;
    colorTemplate.OnPropertyChanged("Envelope");
    EXPECT_EQ(e->state.time, 0.0f);
    EXPECT_EQ(e->state.keyIndex, 0u);
    EXPECT_EQ(e->state.brokenLoops, 5u);
    e->state.time = 1.0f;
    e->Reset();
    EXPECT_EQ(e->state.time, 0.0f);

    VectorEnvelopeTemplate vectorTemplate;
    vectorTemplate.SetName("vector");
    Vector v;
    vectorTemplate.envelope.GetConstantValue(v);
    EXPECT_EQ(v, Vector(1, 1, 1, 1));
    auto* ve = Make<VectorEnvelopeEntity>(vectorTemplate);
    ve->state.time = 2.0f;
    vectorTemplate.OnPropertyChanged("Envelope");
    EXPECT_EQ(ve->state.time, 0.0f);
    gEntityManager->DestroyEntity(ve);
}

TEST_F(EnvelopeUITest, ElementAndContextLife) {
    UIElementDouble first, second;
    auto* e = Make<InGameUIEntity>(uiTemplate);
    EXPECT_EQ(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    e->SetUIElement(&first);
    EntityRenderingContext* context = e->GetRenderingContext();
    ASSERT_NE(context, nullptr);
    EXPECT_NE(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    e->SetUIElement(&first);
    EXPECT_EQ(e->GetRenderingContext(), context) << "the same element keeps its context";
    EXPECT_TRUE(gReleased.empty());
    e->SetUIElement(&second);
    EXPECT_EQ(gReleased, std::vector<SafePointerRoot*>{&first});
    ASSERT_NE(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext())->Element(), &second);
    e->SetUIElement(nullptr);
    EXPECT_EQ(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    EXPECT_EQ(gReleased.size(), 2u);
    // Destruction releases the shown element once.
    e->SetUIElement(&first);
    gReleased.clear();
    gEntityManager->DestroyEntity(e);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gReleased, std::vector<SafePointerRoot*>{&first});
    // An element that dies first is not released again.
    {
        auto dying = std::make_unique<UIElementDouble>();
        auto* f = Make<InGameUIEntity>(uiTemplate);
        f->SetUIElement(dying.get());
        gVornexRenderer.FlushCommands(true);
        f->SetUIElement(nullptr);
        gReleased.clear();
        f->SetUIElement(dying.get());
        f->DeleteRenderingContext();
        gVornexRenderer.FlushCommands(true);
        dying.reset();
        gEntityManager->DestroyEntity(f);
        EXPECT_TRUE(gReleased.empty());
    }
}

TEST_F(EnvelopeUITest, UITransformAgainstNumpy) {
    uiTemplate.size = Vector(320, 200, 50, 0);
    Matrix world;
    world.LoadComplexTransformation(Vector(4, 2, -3, 1), Vector(20, 35, -10, 1), Vector(1.5f, 2, 0.5f, 0));
    auto* e = Make<InGameUIEntity>(uiTemplate, world);
    UIElementDouble element;
    e->SetUIElement(&element);
    gVornexRenderer.FlushCommands(true);
    auto* context = static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext());
    ASSERT_NE(context, nullptr);
    for (uint32_t flags : {0u, 2u}) {
        RenderTaskArguments arguments;
        arguments.flags = flags;
        RunOnRenderThread([&] { context->Draw(nullptr, world, arguments); });
    }
    ASSERT_EQ(gDraws.size(), 2u);
    EXPECT_EQ(gDraws[0].element, &element);
    EXPECT_TRUE(gDraws[0].interaction);
    EXPECT_FALSE(gDraws[1].interaction) << "draw flag 2 turns interaction off";
    std::string input = "ui";
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) input += " " + FloatBits(world.r[r][c]);
    const std::vector<std::string> lines = RunNumpyReference("../scene/entities/path_reference.py", input + "\n");
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<float> want = ParseFloats(lines[0]);
    ASSERT_EQ(want.size(), 6u);
    Vector origin(0, 0, 0, 1), corner(320, 200, 0, 1);
    origin.Transform(gDraws[0].transform);
    corner.Transform(gDraws[0].transform);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(origin[i], want[i], 1e-4f) << "UI (0, 0) " << i;
        EXPECT_NEAR(corner[i], want[3 + i], 1e-4f) << "UI (Size.x, Size.y) " << i;
    }
}

TEST_F(EnvelopeUITest, SizesThatCannotDraw) {
    const Vector sizes[] = {Vector(0, 100, 100, 0), Vector(100, -1, 100, 0), Vector(100, 100, 0, 0),
                            Vector(NAN, 100, 100, 0)};
    for (const Vector& size : sizes) {
        CaptureLogSink log;
        log.Attach();
        uiTemplate.size = size;
        auto* e = Make<InGameUIEntity>(uiTemplate);
        UIElementDouble element;
        e->SetUIElement(&element);
        auto* context = static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext());
        ASSERT_NE(context, nullptr);
        EXPECT_FALSE(context->Drawable());
        RunOnRenderThread([&] { context->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{}); });
        EXPECT_TRUE(gDraws.empty());
        int warnings = 0;
        for (const auto& m : log.Messages()) warnings += m.text.find("In-game UI size") != std::string::npos;
        EXPECT_EQ(warnings, 1);
        e->SetUIElement(nullptr);
        gEntityManager->DestroyEntity(e);
    }
}

}  // namespace
