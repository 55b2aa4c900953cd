// The shader manager on the project's shader data: tables, depth options, requests, reload.
// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 600
#include <cmath>
#include <set>

#include "ShaderTestSupport.h"
#include "core/math/Matrix.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "render/DeviceObjectHandle.h"
#include "render/shaders/PostProcessChain.h"
#include "render/resources/ResourceTexture.h"

using namespace shadertest;
using namespace resourcetest;
using namespace rendertest;

namespace {

struct ManagerTest : ShaderFixture {};

TEST_F(ManagerTest, BuiltInAndPostProcessingVariantsAreRequestedCompileAndPassAnHlslFrontEnd) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    EXPECT_EQ(gShaderManager->FamilyCount(), 23u);
    std::set<Resource*> held;
    uint32_t valid = 0;
    auto count = [&](const ShaderPair& p) {
        if (p.vertexShader) held.insert(p.vertexShader);
        if (p.pixelShader) held.insert(p.pixelShader);
        valid += p.IsValid() ? 1 : 0;
    };
    for (uint32_t i = 0; i < ShaderManager::kFixedSlots; ++i) count(gShaderManager->Fixed(i));
    EXPECT_EQ(valid, 15u);
    EXPECT_FALSE(gShaderManager->Fixed(2).vertexShader);  // slot 2 stays empty
    const uint32_t lightCounts[ShaderManager::kLightTables] = {4, 4, 2, 2, 12};
    for (uint32_t t = 0; t < ShaderManager::kLightTables; ++t) {
        valid = 0;
        for (uint32_t i = 0; i < ShaderManager::kLightSlots; ++i) count(gShaderManager->Light(t, i));
        EXPECT_EQ(valid, lightCounts[t]) << t;
    }
    EXPECT_TRUE(gShaderManager->Light(2, 8).IsValid() && !gShaderManager->Light(2, 1).vertexShader);
    valid = 0;
    for (uint32_t i = 0; i < ShaderManager::kShadowMapSlots; ++i) count(gShaderManager->ShadowMap(i));
    EXPECT_EQ(valid, 256u);
    EXPECT_EQ(gShaderManager->ShadowMap(16 + 5).vertexShader, gShaderManager->ShadowMap(5).vertexShader);

    PostProcessChain& chain = gVornexRenderer.PostProcess();
    gShaderManager->InitPostProcessShaders(chain);
    valid = 0;
    for (const ShaderPair& p : chain.compositeShaders) count(p);
    for (const ShaderPair& p : chain.passShaders) count(p);
    EXPECT_EQ(valid, 32u + PostProcessChain::PASS_SHADER_COUNT);
    // Exactly the requested variants exist, and none failed to compile.
    EXPECT_EQ(PooledShaders().size(), held.size());
    EXPECT_TRUE(Lines("HLSL error").empty());
    for (uint32_t i = 0; i < ShaderManager::kSystemTextures; ++i) EXPECT_TRUE(gShaderManager->SystemTexture(i)) << i;

    // Every variant also passes an independent HLSL front end under its macros.
    if (!Shell("command -v glslangValidator")) GTEST_SKIP() << "glslangValidator is not installed";
    std::set<std::string> checked;
    for (ResourceShader* r : PooledShaders()) {
        std::vector<std::string> options;
        ASSERT_TRUE(gShaderManager->LookupFamilyOptions(r->GetName(), &options, false));
        const std::string name = r->GetName();
        std::string command = std::string("glslangValidator -D -V -o /dev/null -e ") +
                              (r->Kind() == SHADER_KIND_VERTEX ? "vertex -S vert" : "pixel -S frag") +
                              " -DMAX_SHADER_SKINNING_BONES=64";
        for (const std::string& o : options) command += " -D" + o;
        command += " " + ShaderFolder() + "/" + name.substr(0, name.find('/')) + ".hlsl";
        if (!checked.insert(command).second) continue;
        EXPECT_TRUE(Shell(command)) << command;
    }
    EXPECT_GT(checked.size(), 100u);
    chain.ReleaseShaders();
}

TEST_F(ManagerTest, RepeatedAndRacingRequestsGetOneResourcePerVariant) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    const char* const options[] = {"", "OUTLINES", "OUTLINES", ""};
    std::vector<ResourceShader*> got(8, nullptr);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (uint32_t round = 0; round < 20; ++round) {
                ResourceShader *vs = nullptr, *ps = nullptr;
                if (!gShaderManager->GetShader("Font", options[(t + round) % 4], &vs, &ps, SHADER_LOAD_QUEUED,
                                               round % 2 == 0, 0))
                    return;
                vs->WaitUntilLoaded(false);
                ps->WaitUntilLoaded(false);
                Resource* both[2] = {vs, ps};
                if (round == 19) got[2 * t] = vs, got[2 * t + 1] = ps;
                else ReleaseResources(both, 2);
            }
        });
    for (std::thread& th : threads) th.join();
    for (ResourceShader* r : got) ASSERT_TRUE(r && r->IsLoaded());
    // The last round: "" on threads 0 and 1, "OUTLINES" (pixel only) on threads 2 and 3.
    EXPECT_EQ(got[1], got[3]);
    EXPECT_EQ(got[5], got[7]);
    EXPECT_NE(got[1], got[5]);
    for (uint32_t t = 1; t < 4; ++t) EXPECT_EQ(got[2 * t], got[0]);

    // Once more, in any letter case: the same two resources with one more use each.
    const uint32_t uses[2] = {got[4]->GetUseCount(), got[5]->GetUseCount()};
    ResourceShader *vs = nullptr, *ps = nullptr;
    ASSERT_TRUE(gShaderManager->GetShader("font", "OUTLINES", &vs, &ps, SHADER_LOAD_HERE, false, 0));
    EXPECT_TRUE(vs == got[4] && ps == got[5]);
    EXPECT_EQ(vs->GetUseCount(), uses[0] + 1);
    EXPECT_EQ(ps->GetUseCount(), uses[1] + 1);
    ReleaseResources(reinterpret_cast<Resource* const*>(got.data()), 8);
    Resource* both[2] = {vs, ps};
    ReleaseResources(both, 2);

    // An option text too long for a variant record is refused like an unknown family.
    log.Clear();
    EXPECT_FALSE(gShaderManager->GetShader("Font", std::string(300, 'O').c_str(), &vs, &ps, SHADER_LOAD_HERE, false, 0));
    EXPECT_EQ(Lines("Cannot load shader Font with options OOO").size(), 1u);
}

TEST_F(ManagerTest, ReloadKeepsTheFamiliesAndCloseLeavesNothingBehind) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    const uint64_t stamp = gShaderManager->GetDefinitionStamp();
    // A vertex variant lists its stage's options: bit 2 DENORMALIZATION (vertex only), bit 11 TEXTURE.
    std::vector<std::string> names;
    const std::string vertexName = "FixedPipelineReplacement/408" + std::string(29, '0') + ".vs_3_0";
    ASSERT_TRUE(gShaderManager->LookupFamilyOptions(vertexName.c_str(), &names, false));
    EXPECT_EQ(names, (std::vector<std::string>{"DENORMALIZATION", "TEXTURE"}));
    log.Clear();
    gShaderManager->ReloadShaders();
    EXPECT_EQ(gShaderManager->FamilyCount(), 23u);
    EXPECT_EQ(gShaderManager->GetDefinitionStamp(), stamp);
    EXPECT_EQ(Lines("Reloading shaders - ").size(), 2u);
    EXPECT_TRUE(Lines("Compiling shader").empty());  // nothing changed
    EXPECT_TRUE(Lines("Cannot reload shader").empty());
    EXPECT_TRUE(gShaderManager->Fixed(0).IsValid());

    gShaderManager->Close();
    EXPECT_FALSE(gShaderManager->IsLoaded());
    EXPECT_EQ(gShaderManager->FamilyCount(), 0u);
    EXPECT_FALSE(gShaderManager->Fixed(0).vertexShader);
    gResourceManager.PostEvictResources(kAllResourceTypes, true, 0, 0);
    gResourceManager.Flush();
    EXPECT_TRUE(PooledShaders().empty());
    EXPECT_EQ(gResourceManager.Pool(RESOURCE_TEXTURE)->Count(), 0u);
    // Without definitions the start-up fails with its line.
    std::filesystem::remove(ShaderFolder() + "/Shaders.DefBin");
    EXPECT_FALSE(gShaderManager->LoadDefinitions());
    EXPECT_EQ(Lines("Unable to load shader definition file").size(), 1u);
}


enum class Depth { None, Intz, Rawz };

struct DepthTest : ShaderFixture, ::testing::WithParamInterface<Depth> {
    void Configure(RendererSettings&) override {
        gfx::CapabilityFaults faults;
        faults.refuseIntz = GetParam() != Depth::Intz;
        faults.refuseRawz = GetParam() != Depth::Rawz;
        gfx::SetCapabilityFaults(faults);
    }
};

TEST_P(DepthTest, OptionsAndListedNamesFollowTheDevice) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    const char* const texts[] = {"POINT", "POINT HARDWARE_DEPTH", "POINT HARDWARE_DEPTH HARDWARE_DEPTH_RAWZ"};
    const std::vector<std::vector<std::string>> listed = {
        {"POINT"}, {"HARDWARE_DEPTH", "POINT"}, {"HARDWARE_DEPTH", "HARDWARE_DEPTH_RAWZ", "POINT"}};
    const int mode = static_cast<int>(GetParam());
    log.Clear();
    auto* sentinel = reinterpret_cast<ResourceShader*>(uintptr_t(8));
    ResourceShader *vs = sentinel, *ps = sentinel;
    EXPECT_FALSE(gShaderManager->GetShader("Unknown", "POINT", &vs, &ps, SHADER_LOAD_HERE, false, 0));
    EXPECT_TRUE(vs == sentinel && ps == sentinel);  // outputs untouched
    EXPECT_EQ(Lines(std::string("Cannot load shader Unknown with options ") + texts[mode]).size(), 1u);

    ASSERT_TRUE(gShaderManager->GetShader("Light", "POINT", &vs, &ps, SHADER_LOAD_QUEUED, false, 0));
    std::vector<std::string> names;
    ASSERT_TRUE(gShaderManager->LookupFamilyOptions(ps->GetName(), &names, false));
    EXPECT_EQ(names, listed[mode]);
    names.clear();
    ASSERT_TRUE(gShaderManager->LookupFamilyOptions(ps->GetName(), &names, true));
    EXPECT_EQ(names, std::vector<std::string>{"POINT"});

    // Names from every kind of device become this device's variant; only the pixel digits change.
    for (const char* text : texts) {
        const char *madeVs = nullptr, *madePs = nullptr;
        {
            CriticalSectionGuard guard(&gShaderManager->Lock());
            ASSERT_TRUE(gShaderManager->FindFamilyLocked("Light")->GetVariantNames(text, &madeVs, &madePs));
        }
        std::string fixedVs = madeVs, fixedPs = madePs;
        gShaderManager->FixHardwareDepthBits(fixedVs.data());
        gShaderManager->FixHardwareDepthBits(fixedPs.data());
        EXPECT_EQ(fixedVs, vs->GetName()) << text;
        EXPECT_EQ(fixedPs, ps->GetName()) << text;
    }
    Resource* both[2] = {vs, ps};
    ReleaseResources(both, 2);
}

INSTANTIATE_TEST_SUITE_P(Devices, DepthTest, ::testing::Values(Depth::None, Depth::Intz, Depth::Rawz));


// float32 products of row-vector matrices from numpy: model x view x projection.
std::vector<float> NumpyProduct(const Matrix& model, const Matrix& view, const Matrix& projection) {
    std::ostringstream command;
    // Debian's interpreter, which python3-numpy installs into.
    command << "/usr/bin/python3 -c \"import sys, numpy as np; m = [np.array(sys.argv[1 + 16 * i:17 + 16 * i], dtype=np.float32)"
               ".reshape(4, 4) for i in range(3)]; print(' '.join('%.9g' % v for v in (m[0] @ m[1] @ m[2]).flatten()))\"";
    for (const Matrix* m : {&model, &view, &projection})
        for (int r = 0; r < 4; ++r) command << ' ' << m->r[r].x << ' ' << m->r[r].y << ' ' << m->r[r].z << ' ' << m->r[r].w;
    std::istringstream out(ShellOutput(command.str()));
    std::vector<float> values;
    float v;
    while (out >> v) values.push_back(v);
    return values;
}

TEST_F(ManagerTest, OverlayDrawsWithFixedSlotZeroAndItsConstantsAsRecorded) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    gVornexRenderer.WaitForResourceJobs(1);
    const ShaderPair& fixed = gShaderManager->Fixed(0);
    ASSERT_TRUE(fixed.IsValid());
    const VertexShaderObject& v = *fixed.vertexObject;
    // Declared after the bones at c0 (a matrix of four registers, a colour), or not at all.
    EXPECT_GE(v.ConstantRegister(VSC_MODEL_VIEW_PROJ).index, 192);
    EXPECT_EQ(v.ConstantRegister(VSC_MODEL_VIEW_PROJ).count, 4u);
    EXPECT_GE(v.ConstantRegister(VSC_CONSTANT_COLOR).index, 192);
    EXPECT_EQ(v.ConstantRegister(VSC_MODEL_VIEW).index, -1);

    Matrix view, projection, model;
    view.LoadLookAtLH(Vector(1, 2, -5, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 0.5f, 100.0f);
    model.LoadComplexTransformation(Vector(3, -1, 2, 1), Vector(10, 20, 30, 0), Vector(1, 2, 0.5f, 0));
    const std::vector<float> expected = NumpyProduct(model, view, projection);
    ASSERT_EQ(expected.size(), 16u);

    BeginFrame();
    gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    recorder->ClearDrawRecords();
    RunOnRenderThread([&] {
        gVornexRenderer.SetColorFactor(Vector(0.5f, 1, 1, 0.25f));
        RendererProfilerDrawer& overlay = gVornexRenderer.ProfilerOverlay();
        overlay.SetFixedPipelineShader();
        overlay.SetModelColor(Vector(1, 0.5f, 0.25f, 1));
        VertexShaderObject::ResetBoneMatrixConstants(2);
        const float line[6] = {0, 0, 0, 1, 1, 1};
        overlay.DrawLines(line, 1, model);
        gVornexRenderer.SetColorFactor(Vector(1, 1, 1, 1));
    });
    EndFrame();
    const std::vector<gfx::DrawRecord> draws = Draws();
    ASSERT_FALSE(draws.empty());
    const gfx::DrawRecord& d = draws.front();
    EXPECT_EQ(d.vertexShader.serial, gfx::SerialOf(v.DeviceShader()));
    EXPECT_EQ(d.pixelShader.serial, gfx::SerialOf(fixed.pixelObject->DeviceShader()));
    const uint32_t mvp = static_cast<uint32_t>(v.ConstantRegister(VSC_MODEL_VIEW_PROJ).index);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_NEAR(d.VertexConstant(mvp + i / 4)[i % 4], expected[i], 1e-4f * (1 + std::fabs(expected[i]))) << i;
    const float* colour = d.VertexConstant(static_cast<uint32_t>(v.ConstantRegister(VSC_CONSTANT_COLOR).index));
    EXPECT_EQ(std::vector<float>(colour, colour + 4), (std::vector<float>{0.5f, 0.5f, 0.25f, 0.25f}));
    // Two bones of three identity rows at c0; nothing beyond them.
    for (uint32_t r = 0; r < 7; ++r)
        for (uint32_t c = 0; c < 4; ++c) EXPECT_EQ(d.VertexConstant(r)[c], r < 6 && r % 3 == c ? 1.0f : 0.0f) << r;
    // Bones beyond the 64th are not set: c192 keeps its value.
    RunOnRenderThread([] {
        const std::vector<float> rows(65 * 12, 2.0f);
        const float kept[4] = {5, 5, 5, 5};
        float seen[4] = {};
        gVornexRenderer.SetVertexShaderConstants(192, kept, 1);
        VertexShaderObject::SetBoneMatrixConstants(rows.data(), 65);
        gVornexRenderer.Device()->GetVertexShaderConstantF(192, seen, 1);
        EXPECT_EQ(seen[0], 5.0f);
    });
}

}  // namespace
