// test-depends: shader_data
// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// test-timeout: 600
// The ribbon's records and draw on the recording device with strict validation. The
// instance buffer a context builds is decoded with Python's struct and recomputed by the
// reference (tests/game/path/path_reference.py): quantisation, lengths saturating past
// 13106.8 units, side bytes with the turn-back inversion, marker bytes 0, 255 and between.
// The draw: one instanced draw of the shared quad with the stream frequencies, stride,
// declaration, vertex constants 128 to 130, pixel constant 0, the depth bias, two
// primitives and the counter; the signal run on a replaceable clock (shown, hidden,
// restarted); the slowest velocity; two points build and draw nothing; a context released
// before its build frees its copy once, and one whose build never runs frees it itself;
// the draw's model matrix, model colour, texture and blend states; the template's
// resources and their use counts, and a live ribbon taking them again after a property
// change.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "HexText.h"
#include "PathTestSupport.h"
#include "game/path/PathInstanceRecords.h"
#include "game/path/ZKRPathRendererEntityRenderingContext.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/particles/SharedQuad.h"

using namespace pathtest;
using namespace rendertest;

namespace {

constexpr const char* kWhite = "System/White_4x4$cxy.dds";

std::vector<float> Reg(const float* p) { return {p[0], p[1], p[2], p[3]}; }

struct PathDrawTest : PathFixture<shadertest::ShaderFixture> {
    void SetUp() override {
        PathFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        recorder->SetValidationMode(gfx::ValidationMode::Strict);
        RunOnRenderThread([] { ParticleSystemInstance::CreateDeviceBuffers(); });
        pathTemplate.SetupResources(true);
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            VertexShaderObject* v = pathTemplate.vertexShader ? pathTemplate.vertexShader->GetVertexShaderObject() : nullptr;
            PixelShaderObject* p = pathTemplate.pixelShader ? pathTemplate.pixelShader->GetPixelShaderObject() : nullptr;
            return v && p && v->DeviceShader() && p->DeviceShader();
        })) << "the ZKRPath shaders";
    }
    void TearDown() override {
        for (ZKRPathRendererEntityRenderingContext* c : contexts) c->Release();
        EndScene();
        RunOnRenderThread([] { ParticleSystemInstance::ReleaseDeviceBuffers(); });
        PathFixture::TearDown();
    }
    // A context of the points, built on the render thread.
    ZKRPathRendererEntityRenderingContext* Context(const std::vector<Vector>& points, float squad = 0.0f,
                                                   float squadRaw = 0.0f, bool battlefield = false) {
        auto* c = new ZKRPathRendererEntityRenderingContext(EntityRenderingContextSetup{}, pathTemplate,
                                                            uint32_t(points.size()), points.data(), squad, squadRaw,
                                                            battlefield);
        contexts.push_back(c);
        gVornexRenderer.FlushCommands(true);
        return c;
    }
    // The bytes of the context's instance buffer (a plain lock: the device keeps them).
    std::vector<uint8_t> InstanceBytes(ZKRPathRendererEntityRenderingContext* c) {
        std::vector<uint8_t> bytes;
        RunOnRenderThread([&] {
            gfx::VertexBuffer* b = c->InstanceBuffer();
            if (!b) return;
            void* p = nullptr;
            const uint32_t size = c->SegmentCount() * kPathRecordBytes;
            if (gfx::Succeeded(b->Lock(0, size, &p, 0))) {
                bytes.assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + size);
                b->Unlock();
            }
        });
        return bytes;
    }
    std::vector<gfx::DrawRecord> Draw(ZKRPathRendererEntityRenderingContext* c) {
        return DrawsOf([c] { c->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{}); });
    }
    std::vector<ZKRPathRendererEntityRenderingContext*> contexts;
};

TEST_F(PathDrawTest, InstanceRecordsMatchTheStructDecoder) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    std::vector<std::vector<Vector>> routes;
    // A route that turns back on itself, with marked points near others.
    routes.push_back({Vector(0, 0, 0, 1), Vector(10, 0, 0, -1), Vector(20, 1, 0, 1), Vector(12, 1, 3, 1),
                      Vector(4, 0, 6, 1), Vector(4, 2, 30, 1), Vector(4, 2, 60, -2), Vector(4, 2, 120, 1)});
    // A long straight route: the lengths saturate past 13106.8 units.
    std::vector<Vector> longRoute;
    for (int i = 0; i < 60; ++i) longRoute.push_back(Vector(300.0f * float(i), 5, 0, 1));
    routes.push_back(longRoute);
    // Random points, some marked, and a closed loop.
    for (int k = 0; k < 3; ++k) {
        std::vector<Vector> r;
        for (int i = 0; i < 25; ++i) r.push_back(Vector(coord(rng), coord(rng) * 0.1f, coord(rng), rng() % 5 ? 1.0f : -1.0f));
        if (k == 2) r.push_back(r.front());
        routes.push_back(r);
    }
    std::ostringstream input;
    std::vector<std::vector<uint8_t>> buffers;
    for (const std::vector<Vector>& r : routes) {
        ZKRPathRendererEntityRenderingContext* c = Context(r);
        std::vector<uint8_t> bytes = InstanceBytes(c);
        ASSERT_EQ(bytes.size(), (r.size() - 1) * kPathRecordBytes);
        input << "records" << PointWords(r) << " " << HexText(bytes) << "\n";
        buffers.push_back(bytes);
        EXPECT_FALSE(c->HoldsPointCopy());
    }
    const std::vector<std::string> lines = RunNumpyReference("../game/path/path_reference.py", input.str());
    ASSERT_EQ(lines.size(), routes.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "ok") << "route " << i;

    // The cases the reference checked are there: a marker byte of 0, one of 255 and one
    // between; a saturated length; a flipped side byte pair at the turn back.
    const std::vector<uint8_t>& first = buffers[0];
    EXPECT_EQ(first[21], 0);              // point 1 is marked
    EXPECT_EQ(first[6 * 24 + 21], 255);   // point 7: the mark four points back is 60 units away
    EXPECT_GT(first[20], 0);
    EXPECT_LT(first[20], 255);            // point 0: 10 units from the mark
    EXPECT_EQ(first[24 + 18], 255 - first[2 * 24 + 16]) << "side x flipped where the route turns back";
    const std::vector<uint8_t>& saturated = buffers[1];
    const size_t lastRecord = (longRoute.size() - 2) * kPathRecordBytes;
    EXPECT_EQ(saturated[lastRecord + 14] | saturated[lastRecord + 15] << 8, 32767);
}

TEST_F(PathDrawTest, OneInstancedDrawOfTheSharedQuad) {
    pathTemplate.width = 6.0f;
    pathTemplate.mappingScale = 0.5f;
    pathTemplate.depthOffset = 3.0f;
    pathTemplate.level = 2.0f;
    pathTemplate.signalColor = HDRColor(255, 0, 0, 255, 2.0f);
    pathTemplate.color = HDRColor(255, 128, 0, 255, 1.5f);
    pathTemplate.blendMode = 2;  // "Add"
    pathTemplate.textureFileName = NameString(kWhite);
    pathTemplate.SetupResources(true);
    Route(Chain({Vector(0, 0, 0, 1), Vector(40, 0, 0, 1), Vector(40, 0, 40, 1)}), 1.0f);
    path->ResetSquadPosition(Vector(10, 0, -1, 1), Vector(1, 0, 0, 0));
    gVornexRenderer.FlushCommands(true);
    auto* c = static_cast<ZKRPathRendererEntityRenderingContext*>(path->GetRenderingContext());
    ASSERT_NE(c, nullptr);
    const uint32_t segments = uint32_t(path->Points().size() - 1);
    uint32_t primitives = 0, quadBuffer = 0, quadIndices = 0, texture = 0;
    Vector colourFactor;
    RunOnRenderThread([&] {
        quadBuffer = gfx::SerialOf(SharedQuadVertices());
        quadIndices = gfx::SerialOf(SharedQuadIndices());
        auto* white = dynamic_cast<ResourceTexture*>(pathTemplate.texture);
        texture = gfx::SerialOf(white && white->Handle() ? white->Handle()->Texture() : nullptr);
        colourFactor = gVornexRenderer.ColorFactor();
    });
    ASSERT_NE(texture, 0u);
    // Under an identity camera the model-view-projection constant is the model matrix.
    gVornexRenderer.SetCamera(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY);
    recorder->ResetCallCounts();
    const std::vector<gfx::DrawRecord> draws = DrawsOf([&] {
        const uint32_t before = gVornexRenderer.Primitives();
        c->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{});
        primitives = gVornexRenderer.Primitives() - before;
    });
    ASSERT_EQ(draws.size(), 1u);
    const gfx::DrawRecord& d = draws[0];
    EXPECT_EQ(d.call, gfx::CallKind::DrawIndexedPrimitive);
    EXPECT_EQ(d.primitiveType, gfx::PT_TRIANGLELIST);
    EXPECT_EQ(d.primitiveCount, 2u);
    EXPECT_EQ(d.numVertices, 4u);
    EXPECT_EQ(primitives, 2 * segments);
    EXPECT_EQ(d.streams[0].buffer, quadBuffer);
    EXPECT_EQ(d.streams[0].stride, 4u);
    EXPECT_EQ(d.streams[0].frequency, gfx::STREAMSOURCE_INDEXEDDATA | segments);
    EXPECT_EQ(d.streams[1].stride, kPathRecordBytes);
    EXPECT_EQ(d.streams[1].frequency, gfx::STREAMSOURCE_INSTANCEDATA | 1u);
    EXPECT_EQ(d.indices, quadIndices);
    EXPECT_EQ(recorder->CallCount(gfx::CallKind::SetStreamSourceFreq), 4u);  // set, then back to 1
    ASSERT_TRUE(d.declarationElements);
    const std::vector<std::array<uint32_t, 4>> elements = {
        {0, 0, gfx::DECLTYPE_UBYTE4N, gfx::DECLUSAGE_BLENDWEIGHT}, {1, 0, gfx::DECLTYPE_SHORT4N, gfx::DECLUSAGE_POSITION},
        {1, 8, gfx::DECLTYPE_SHORT4N, gfx::DECLUSAGE_NORMAL},      {1, 16, gfx::DECLTYPE_UBYTE4N, gfx::DECLUSAGE_COLOR},
        {1, 20, gfx::DECLTYPE_UBYTE4N, gfx::DECLUSAGE_COLOR}};
    ASSERT_EQ(d.declarationElements->size(), elements.size() + 1);  // with the end marker
    for (size_t i = 0; i < elements.size(); ++i) {
        const gfx::VertexElement& e = (*d.declarationElements)[i];
        EXPECT_EQ((std::array<uint32_t, 4>{e.stream, e.offset, e.type, e.usage}), elements[i]) << i;
    }
    EXPECT_EQ((*d.declarationElements)[4].usageIndex, 1);

    // c128: width, mapping factor, squad distance in the length unit, the signal head.
    const std::vector<float> ribbon = Reg(d.VertexConstant(kPathRibbonRegister));
    EXPECT_EQ(ribbon[0], 6.0f);
    EXPECT_EQ(ribbon[1], 0.5f * 32767.0f * 0.4f);
    EXPECT_NEAR(ribbon[2], path->SquadDistance() * 2.5f / 32767.0f, 1e-7f);
    EXPECT_GT(path->SquadDistance(), 5.0f);
    BoundingBox4 box;
    RunOnRenderThread([&] { box = c->QuantisationBox(); });
    EXPECT_EQ(Reg(d.VertexConstant(kPathBoxMinRegister)), Reg(&box.min.x));
    EXPECT_EQ(Reg(d.VertexConstant(kPathBoxMaxRegister)), Reg(&box.max.x));
    float lowest = 1e9f, highest = -1e9f;
    for (const Vector& p : path->Points()) lowest = std::min(lowest, p.x), highest = std::max(highest, p.x);
    EXPECT_NEAR(box.min.x, lowest - 1.0f, 1e-4f);  // the route's box grown by 1 a side
    EXPECT_NEAR(box.max.x, highest + 1.0f, 1e-4f);
    const Vector signal = pathTemplate.signalColor.ToLinearVector();
    EXPECT_EQ(Reg(d.PixelConstant(kPathSignalColorRegister)), Reg(&signal.x));
    EXPECT_EQ(d.RenderState(gfx::RS_DEPTHBIAS), std::bit_cast<uint32_t>(3.0f * -0.0001f));
    EXPECT_EQ(d.RenderState(gfx::RS_ZWRITEENABLE), 0u);
    EXPECT_EQ(d.RenderState(gfx::RS_ZFUNC), uint32_t(gfx::CMP_LESSEQUAL));
    EXPECT_EQ(d.RenderState(gfx::RS_CULLMODE), uint32_t(gfx::CULL_NONE));
    // "Add": source plus destination.
    EXPECT_EQ(d.RenderState(gfx::RS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(d.RenderState(gfx::RS_SRCBLEND), uint32_t(gfx::BLEND_ONE));
    EXPECT_EQ(d.RenderState(gfx::RS_DESTBLEND), uint32_t(gfx::BLEND_ONE));
    EXPECT_EQ(d.textures[0].serial, texture);
    // The model matrix lifts the ribbon to its level; the model colour is the ribbon's.
    const VertexShaderObject* vs = pathTemplate.vertexShader->GetVertexShaderObject();
    const int32_t mvp = vs->ConstantRegister(VSC_MODEL_VIEW_PROJ).index;
    const int32_t colourRegister = vs->ConstantRegister(VSC_CONSTANT_COLOR).index;
    ASSERT_GE(mvp, 0);
    ASSERT_GE(colourRegister, 0);
    const std::vector<float> rows[4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 2.0f, 0, 1}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Reg(d.VertexConstant(uint32_t(mvp + i))), rows[i]) << "row " << i;
    const Vector colour = pathTemplate.color.ToLinearVector() * colourFactor;
    EXPECT_EQ(Reg(d.VertexConstant(uint32_t(colourRegister))), Reg(&colour.x));
    EXPECT_EQ(recorder->ViolationCount(), 0u);
}

TEST_F(PathDrawTest, TheSignalRunsHidesAndRestartsOnTheClock) {
    os::ManualClock clock(1000);
    clock.Install();
    pathTemplate.signalVelocity = 10.0f;
    pathTemplate.signalTimeout = 2.0f;
    std::vector<Vector> straight;
    for (int i = 0; i <= 40; ++i) straight.push_back(Vector(2.5f * float(i), 0, 0, 1));  // 100 units
    // Squad at 20 (raw 25): the signal crosses the 80 units ahead in 8 s, from 5 units on.
    ZKRPathRendererEntityRenderingContext* c = Context(straight, 20.0f, 25.0f);
    const float unit = 2.5f / 32767.0f;
    const struct {
        double seconds;  // since the previous step
        float head;      // in world units, < 0: hidden
    } steps[] = {{0.0, 25.0f}, {1.0, 35.0f}, {6.0, 20.0f + std::fmod(5.0f + 70.0f, 80.0f)}, {1.5, -1},
                 {1.6, -1},  // past timeout + travel: restarts, hidden this draw
                 {0.5, 30.0f}};
    for (const auto& s : steps) {
        clock.AdvanceSeconds(s.seconds);
        const std::vector<gfx::DrawRecord> draws = Draw(c);
        ASSERT_EQ(draws.size(), 1u);
        const float head = draws[0].VertexConstant(kPathRibbonRegister)[3];
        if (s.head < 0) EXPECT_EQ(head, kPathSignalHidden) << s.seconds;
        else EXPECT_NEAR(head, s.head * unit, 1e-6f) << s.seconds;
    }
    clock.Uninstall();
    // A velocity of 0 takes the slowest one instead.
    pathTemplate.signalVelocity = 0.0f;
    pathTemplate.signalTimeout = -3.0f;
    ZKRPathRendererEntityRenderingContext* slow = Context(straight);
    RunOnRenderThread([&] {
        EXPECT_EQ(slow->SignalVelocity(), kPathMinSignalVelocity);
        EXPECT_EQ(slow->SignalTimeout(), 0.0f);
    });
}

TEST_F(PathDrawTest, RoutesOfTwoPointsBuildAndDrawNothing) {
    for (const std::vector<Vector>& r : {std::vector<Vector>{}, std::vector<Vector>{Vector(0, 0, 0, 1)},
                                         std::vector<Vector>{Vector(0, 0, 0, 1), Vector(10, 0, 0, 1)}}) {
        ZKRPathRendererEntityRenderingContext* c = Context(r);
        bool built = true;
        RunOnRenderThread([&] { built = c->InstanceBuffer() != nullptr || c->SegmentCount() != 0 || c->HoldsPointCopy(); });
        EXPECT_FALSE(built) << r.size();
        EXPECT_TRUE(Draw(c).empty()) << r.size();
    }
    EXPECT_EQ(recorder->ViolationCount(), 0u);
}

// Released at once, the context's build and its destruction follow in the stream: the
// copy is freed exactly once (AddressSanitizer reports a double free or a leak), and so
// are the device objects of a context that built its buffer.
TEST_F(PathDrawTest, AContextReleasedBeforeItsBuildFreesItsCopyOnce) {
    std::vector<Vector> r;
    for (int i = 0; i < 10; ++i) r.push_back(Vector(float(i) * 3.0f, 0, 0, 1));
    const uint32_t buffers = recorder->LiveObjects(gfx::ObjectKind::VertexBuffer);
    auto* early = new ZKRPathRendererEntityRenderingContext(EntityRenderingContextSetup{}, pathTemplate,
                                                            uint32_t(r.size()), r.data(), 0.0f, 0.0f, false);
    early->Release();
    ZKRPathRendererEntityRenderingContext* built = Context(r);
    EXPECT_EQ(recorder->LiveObjects(gfx::ObjectKind::VertexBuffer), buffers + 1);
    contexts.clear();
    built->Release();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(recorder->LiveObjects(gfx::ObjectKind::VertexBuffer), buffers);
}

// A property change reaches a ribbon already on screen: its context is made again after
// the template reloaded, so it draws with the new texture and look.
TEST_F(PathDrawTest, ALiveRibbonTakesTheTemplatesReloadedResources) {
    Route(Chain({Vector(0, 0, 0, 1), Vector(40, 0, 0, 1)}), 1.0f);
    gVornexRenderer.FlushCommands(true);
    ASSERT_NE(path->GetRenderingContext(), nullptr);
    pathTemplate.textureFileName = NameString(kWhite);
    pathTemplate.width = 9.0f;
    pathTemplate.OnPropertyChanged("Texture file name");
    gVornexRenderer.FlushCommands(true);
    auto* c = static_cast<ZKRPathRendererEntityRenderingContext*>(path->GetRenderingContext());
    ASSERT_NE(c, nullptr);
    auto* white = dynamic_cast<ResourceTexture*>(pathTemplate.texture);
    ASSERT_NE(white, nullptr);
    uint32_t serial = 0;
    RunOnRenderThread([&] { serial = gfx::SerialOf(white->Handle() ? white->Handle()->Texture() : nullptr); });
    ASSERT_NE(serial, 0u);
    const std::vector<gfx::DrawRecord> draws = Draw(c);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].textures[0].serial, serial);
    EXPECT_EQ(draws[0].VertexConstant(kPathRibbonRegister)[0], 9.0f);
}

// Made while the renderer takes no commands, a context's build never runs: the context
// keeps its copy and its destruction frees it (AddressSanitizer reports the leak).
TEST(PathContextTest, AContextDestroyedWithoutItsBuildFreesItsCopy) {
    ASSERT_FALSE(gVornexRenderer.IsRunning()) << "the renderer must not be running here";
    ZKRPathRendererTemplate t;
    std::vector<Vector> r;
    for (int i = 0; i < 10; ++i) r.push_back(Vector(float(i) * 3.0f, 0, 0, 1));
    auto* c = new ZKRPathRendererEntityRenderingContext(EntityRenderingContextSetup{}, t, uint32_t(r.size()), r.data(),
                                                        0.0f, 0.0f, false);
    EXPECT_TRUE(c->HoldsPointCopy());
    c->Destroy();  // no render thread: the caller stands in for it
}

TEST_F(PathDrawTest, TheTemplateHoldsAndReturnsItsResources) {
    // Empty names: no texture, still both shaders.
    EXPECT_EQ(pathTemplate.texture, nullptr);
    EXPECT_EQ(pathTemplate.battlefieldTexture, nullptr);
    ASSERT_NE(pathTemplate.vertexShader, nullptr);
    ASSERT_NE(pathTemplate.pixelShader, nullptr);
    // A property change reloads with waiting: the named texture is there when it returns.
    pathTemplate.textureFileName = NameString(kWhite);
    pathTemplate.OnPropertyChanged("Texture file name");
    ASSERT_NE(pathTemplate.texture, nullptr);
    EXPECT_TRUE(pathTemplate.texture->IsLoaded());
    EXPECT_EQ(pathTemplate.battlefieldTexture, nullptr);
    Resource* held[3] = {pathTemplate.texture, pathTemplate.vertexShader, pathTemplate.pixelShader};
    uint32_t start[3];
    for (int i = 0; i < 3; ++i) start[i] = held[i]->GetUseCount();
    {
        auto* second = new ZKRPathRendererTemplate();
        second->textureFileName = NameString(kWhite);
        second->battlefieldTextureFileName = NameString(kWhite);
        second->SetupResources(true);
        EXPECT_EQ(second->texture, held[0]);
        EXPECT_EQ(second->battlefieldTexture, held[0]);
        EXPECT_EQ(second->vertexShader, held[1]);
        // The battlefield set falls back to the tactical shaders.
        const PathRendererLook look = second->Look(true);
        EXPECT_EQ(look.vertexShader, held[1]);
        EXPECT_EQ(look.pixelShader, held[2]);
        EXPECT_EQ(held[0]->GetUseCount(), start[0] + 2);
        // A context takes uses of its own and gives them back when it goes.
        ZKRPathRendererEntityRenderingContext* c = new ZKRPathRendererEntityRenderingContext(
            EntityRenderingContextSetup{}, *second, 0, nullptr, 0.0f, 0.0f, true);
        EXPECT_EQ(held[0]->GetUseCount(), start[0] + 3);
        c->Release();
        gVornexRenderer.FlushCommands(true);
        delete second;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(held[i]->GetUseCount(), start[i]) << i;
}

}  // namespace
