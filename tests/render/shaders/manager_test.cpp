// The shader manager on the project's shader data: tables, depth options, requests, reload.
//
// Shader compilation and the compiled-shader cache: hits, stamps, reloads, failed compiles.
// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 600
#include <cmath>
#include <set>

#include "ShaderTestSupport.h"
#include "core/Memory.h"
#include "core/math/Matrix.h"
#include "render/DeviceObjectHandle.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/PostProcessChain.h"

using namespace shadertest;
using namespace resourcetest;
using namespace rendertest;

namespace {

struct ManagerTest : ShaderFixture {};

TEST_F(ManagerTest, BuiltInAndPostProcessingVariantsAreRequestedCompileAndPassAnHlslFrontEnd) {
    ASSERT_TRUE(gShaderManager->LoadDefinitions());
    EXPECT_EQ(gShaderManager->FamilyCount(), 24u);
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
    EXPECT_EQ(valid, PostProcessChain::kCompositeShaderCount + PostProcessChain::PASS_SHADER_COUNT);
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
                              (r->Kind() == SHADER_KIND_VERTEX ? "vertex -S vert -DVERTEX_STAGE" : "pixel -S frag -DPIXEL_STAGE") +
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
    EXPECT_EQ(gShaderManager->FamilyCount(), 24u);
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

namespace {

const char kDefinitions[] =
    "family Probe\n"
    "option BEND vs\n"
    "option BROKEN ps\n"
    "option TINT ps\n"
    "family Ghost\n"
    "option BAR ps\n"
    "option FOO ps\n"
    "family VertexOnly\n"
    "family ModelView\n"
    "family InverseView\n";

// Under BROKEN the pixel stage declares two constants at registers that do not exist.
std::string ProbeSource(const char* brokenRegister) {
    return std::string("#include \"ProbeCommon.hlsli\"\n"
                       "row_major float4x4 ModelViewProjMatrix;\n"
                       "float4 ConstantColor;\n"
                       "#ifdef BROKEN\n"
                       "float4 First : register(") + brokenRegister + "1);\n"
           "float4 Second : register(" + brokenRegister + "2);\n"
           "#endif\n"
           "float4 vertex(float4 p : POSITION) : POSITION { return mul(p, ModelViewProjMatrix) * Scale(); }\n"
           "float4 pixel(float4 c : COLOR0) : COLOR0 { return c * ConstantColor; }\n";
}

struct CacheTest : ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        WriteDefinitions(kDefinitions);
        Write("Probe.hlsl", ProbeSource("q"));
        Write("ProbeCommon.hlsli", "float Scale() { return 1.0; }\n");
        Write("ModelView.hlsl", "row_major float4x4 ModelViewProjMatrix;\nrow_major float4x4 ModelViewMatrix;\n"
                                "row_major float4x4 ModelMatrix;\n"
                                "float4 vertex(float4 p : POSITION) : POSITION {\n"
                                "  return mul(mul(mul(p, ModelMatrix), ModelViewMatrix), ModelViewProjMatrix); }\n"
                                "float4 pixel(float4 c : COLOR0) : COLOR0 { return c; }\n");
        // The inverse-transposed products without the plain model-view matrix.
        Write("InverseView.hlsl", "row_major float4x4 ModelViewProjMatrix;\nrow_major float4x4 InvTModelViewMatrix;\n"
                                  "row_major float4x4 InvTModelMatrix;\n"
                                  "float4 vertex(float4 p : POSITION) : POSITION {\n"
                                  "  return mul(mul(mul(p, InvTModelMatrix), InvTModelViewMatrix), ModelViewProjMatrix); }\n"
                                  "float4 pixel(float4 c : COLOR0) : COLOR0 { return c; }\n");
        // The word pixel is never followed by a parenthesis here.
        Write("VertexOnly.hlsl", "float4 vertex(float4 p : POSITION) : POSITION { return p; }\n// no pixel entry\n");
        ASSERT_TRUE(gShaderManager->LoadDefinitions());  // the built-in families are absent here
        log.Clear();
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(ShaderFolder() + "/" + name) << text; }
    // Moves a file's time on, as an edit a moment later would.
    void Touch(const std::string& name) {
        const std::string path = ShaderFolder() + "/" + name;
        std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    }
    void WriteDefinitions(const std::string& text) {
        Write("test.def", text);
        ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py defbin " +
                                      ShaderFolder() + "/test.def " + ShaderFolder() + "/Shaders.DefBin"));
    }
    ShaderPair Get(const char* family, const char* options) {
        ShaderPair p;
        gShaderManager->GetShader(family, options, &p.vertexShader, &p.pixelShader, SHADER_LOAD_QUEUED, true, 0);
        p.ResolveObjects();
        gVornexRenderer.WaitForResourceJobs(1);
        return p;
    }
    void Reload() {
        gResourceManager.PostReload(1u << RESOURCE_SHADER, true);
        gVornexRenderer.WaitForResourceJobs(1);
    }
    std::string CachePath(const Resource* r) const { return ShaderFolder() + "/Compiled/" + r->GetName(); }
    size_t Compiles() { return Lines("Compiling shader").size(); }
};

TEST_F(CacheTest, AVariantIsCompiledOnceAndThenReadFromTheCacheOfItsStamp) {
    ShaderPair p = Get("Probe", "TINT");
    ASSERT_TRUE(p.IsValid());
    EXPECT_EQ(Compiles(), 2u);
    EXPECT_EQ(p.vertexShader->IncludeText(), "|ProbeCommon.hlsli");
    EXPECT_EQ(p.vertexShader->IncludeTimes().size(), 1u);
    const std::vector<uint8_t> cached = ReadBytes(CachePath(p.vertexShader));

    // A fresh resource reads the cache; one under another stamp is compiled and rewritten.
    ResourceShader again(p.vertexShader->GetName());
    EXPECT_TRUE(again.LoadResource());
    EXPECT_EQ(Compiles(), 2u);
    EXPECT_EQ(again.IncludeText(), "|ProbeCommon.hlsli");
    std::vector<uint8_t> otherStamp = cached;
    otherStamp[8] ^= 0xFF;
    WriteBytes(CachePath(p.vertexShader), otherStamp);
    EXPECT_TRUE(again.LoadResource());
    EXPECT_EQ(Compiles(), 3u);
    EXPECT_EQ(ReadBytes(CachePath(p.vertexShader)), cached);

    // A cache folder that cannot be written only means no cache.
    std::filesystem::remove_all(ShaderFolder() + "/Compiled");
    Write("Compiled", "a file where the folder would be");
    EXPECT_TRUE(again.LoadResource());
    EXPECT_TRUE(again.LoadResource());
    EXPECT_EQ(Compiles(), 5u);
    EXPECT_TRUE(Lines("HLSL error").empty());
    p.Release();
}

TEST_F(CacheTest, TheCacheReaderIsBoundedAndChecksOnlyUnderAStamp) {
    ShaderPair p = Get("Probe", "");
    ASSERT_TRUE(p.IsValid());
    const std::vector<uint8_t> valid = ReadBytes(CachePath(p.pixelShader));
    ResourceShader probe(p.pixelShader->GetName());
    const uint64_t stamp = gShaderManager->GetDefinitionStamp();
    auto reads = [&](const std::vector<uint8_t>& bytes, uint64_t current) {
        void* code = nullptr;
        uint32_t size = 0;
        const bool hit = probe.ReadCache(bytes.data(), bytes.size(), current, &code, &size);
        EngineFree(code);
        return hit;
    };
    EXPECT_TRUE(reads(valid, stamp));
    uint32_t codeSize;
    std::memcpy(&codeSize, valid.data() + 24, 4);
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = valid;
        std::memcpy(b.data() + at, &value, 4);
        return b;
    };
    struct Case { const char* what; std::vector<uint8_t> bytes; uint64_t current; bool hit; } cases[] = {
        {"magic 0 under a stamp", patched(0, 0), stamp, false},
        {"magic 0 without a stamp", patched(0, 0), 0, true},
        {"version 3", patched(4, 3), stamp, false},
        {"another stamp without a current one", patched(8, 0x1234), 0, true},
        {"code running past the end", patched(24, static_cast<uint32_t>(valid.size())), stamp, false},
        {"include text running past the end", patched(28 + codeSize, 0x7FFFFFFF), stamp, false},
        {"include count running past the end", patched(valid.size() - 12, 2), stamp, false},
    };
    for (const Case& c : cases) EXPECT_EQ(reads(c.bytes, c.current), c.hit) << c.what;

    // Code the device could not walk: a miss with one line each, never handed on.
    uint32_t firstWord = 0;
    std::memcpy(&firstWord, valid.data() + 28, 4);
    EXPECT_EQ(firstWord, gfx::kPixelShaderVersion30);
    std::vector<uint8_t> noEnd = valid;  // every end token of the code rewritten
    for (size_t at = 28 + 4; at + 4 <= 28 + codeSize; at += 4)
        if (std::memcmp(noEnd.data() + at, &gfx::kShaderEndToken, 4) == 0) std::memset(noEnd.data() + at, 0, 4);
    std::vector<uint8_t> oddSize = valid;  // one byte more in the code's stated size
    const uint32_t odd = codeSize + 1;
    std::memcpy(oddSize.data() + 24, &odd, 4);
    oddSize.insert(oddSize.begin() + 28 + codeSize, 0);
    const Case damaged[] = {
        {"no end token", noEnd, stamp, false},
        {"a vertex version token in a pixel entry", patched(28, gfx::kVertexShaderVersion30), stamp, false},
        {"a size that is not a whole number of words", oddSize, stamp, false},
    };
    for (const Case& c : damaged) {
        log.Clear();
        EXPECT_FALSE(reads(c.bytes, c.current)) << c.what;
        EXPECT_EQ(Lines("Compiled shader cache entry " + std::string(probe.GetName()) + " is damaged").size(), 1u)
            << c.what;
    }
    for (size_t n = 0; n < valid.size(); ++n)
        EXPECT_FALSE(reads(std::vector<uint8_t>(valid.begin(), valid.begin() + n), stamp)) << n;
    p.Release();
}

TEST_F(CacheTest, ReloadCompilesOnlyWhatChanged) {
    ShaderPair p = Get("Probe", "TINT");
    ASSERT_TRUE(p.IsValid());
    gfx::VertexShader* before = p.vertexObject->DeviceShader();
    const uint32_t beforeSerial = gfx::SerialOf(before);
    const size_t compiles = Compiles();

    Reload();
    EXPECT_EQ(Compiles(), compiles);
    EXPECT_EQ(p.vertexObject->DeviceShader(), before);

    const uint32_t live = recorder->LiveObjects(gfx::ObjectKind::VertexShader);
    Touch("ProbeCommon.hlsli");  // only the included file
    Reload();
    EXPECT_EQ(Compiles(), compiles + 2);
    EXPECT_EQ(recorder->LiveObjects(gfx::ObjectKind::VertexShader), live);  // the old one released
    EXPECT_EQ(p.vertexShader->GetVertexShaderObject(), p.vertexObject);  // the object stays
    EXPECT_NE(gfx::SerialOf(p.vertexObject->DeviceShader()), beforeSerial);

    // New definitions: compiled shaders cannot be reloaded under them.
    WriteDefinitions(std::string(kDefinitions) + "family Extra\n");
    log.Clear();
    gShaderManager->ReloadShaders();
    EXPECT_EQ(Lines("Cannot reload shader Probe/").size(), 2u);
    EXPECT_EQ(Compiles(), 0u);
    p.Release();
}

TEST_F(CacheTest, FailedCompilesLogTheirLinesLeaveNoObjectAndAreMendedByAReload) {
    ShaderPair broken = Get("Probe", "BROKEN");
    EXPECT_TRUE(broken.vertexObject);  // BROKEN only selects pixel variants
    EXPECT_FALSE(broken.pixelObject);
    EXPECT_TRUE(broken.pixelShader->IsLoaded());
    EXPECT_EQ(Lines("HLSL error while compiling pixel shader Common/Shaders/Probe.hlsl").size(), 1u);
    uint32_t compilerErrors = 0;
    for (const auto& m : log.Messages())
        if (m.text.find("error X4509") != std::string::npos) {
            EXPECT_EQ(m.severity, 4) << m.text;
            ++compilerErrors;
        }
    EXPECT_EQ(compilerErrors, 2u);

    log.Clear();
    ShaderPair ghost = Get("Ghost", "FOO BAR");
    EXPECT_FALSE(ghost.vertexObject || ghost.pixelObject);
    EXPECT_EQ(Lines("Cannot load shader source Common/Shaders/Ghost.hlsl").size(), 2u);  // both stages
    EXPECT_EQ(Lines("Option 00: BAR").size(), 1u);  // the pixel stage's options, in bit order
    EXPECT_EQ(Lines("Option 01: FOO").size(), 1u);

    log.Clear();
    ShaderPair vertexOnly = Get("VertexOnly", "");
    EXPECT_TRUE(vertexOnly.vertexObject);
    EXPECT_FALSE(vertexOnly.pixelObject);
    // One line names the source and the missing entry (before, only the loader's
    // "Resource loading failed" said anything), then the loader's line.
    std::vector<std::string> errors;
    for (const auto& m : log.Messages())
        if (m.severity >= 3) errors.push_back(m.text);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].find("Shader source Common/Shaders/VertexOnly.hlsl has no pixel entry function"), 0u)
        << errors[0];
    EXPECT_EQ(errors[1].find("Resource loading failed"), 0u) << errors[1];

    // A reload with nothing changed neither compiles nor refuses the variants that made
    // no code; mended sources then compile.
    log.Clear();
    Reload();
    EXPECT_TRUE(Lines("Cannot reload").empty());
    EXPECT_EQ(Compiles(), 0u);
    Write("Probe.hlsl", ProbeSource("c"));
    Touch("Probe.hlsl");
    Write("Ghost.hlsl", ProbeSource("c"));
    Reload();
    EXPECT_TRUE(Lines("Cannot reload").empty());
    EXPECT_TRUE(broken.pixelShader->GetPixelShaderObject());
    EXPECT_TRUE(ghost.vertexShader->GetVertexShaderObject() && ghost.pixelShader->GetPixelShaderObject());

    // A shader resource of neither stage compiles nothing, with its line; digits that are
    // no mask compile nothing.
    log.Clear();
    ResourceShader neither("Probe/00000000000000000000000000000000.gs_3_0"),
        noMask("Probe/G0000000000000000000000000000000.vs_3_0");
    EXPECT_FALSE(neither.LoadResource() || noMask.LoadResource());
    EXPECT_EQ(Lines("Cannot find option definition for shader Probe/").size(), 1u);
    for (ShaderPair* p : {&broken, &ghost, &vertexOnly}) p->Release();
}

// A model matrix goes to the bound vertex shader's registers as the model, model x view
// and model x view x projection, and the inverse transposes of the model and of model x
// view (each row by row, at the registers its table names), also for a shader that reads
// the inverse of model x view without model x view itself.
TEST_F(CacheTest, ModelMatricesReachTheirRegistersCombinedWithTheCamera) {
    Matrix view, projection, model;
    view.LoadTranslation(Vector(1, 2, 3, 1));
    projection.LoadPerspectiveFovLH(60.0f, 1.5f, 1.0f, 250.0f);
    model.LoadScale(2, 3, 4);
    model.r[3] = Vector(-5, 6, 7, 1);
    gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    Matrix modelView, modelViewProj, inverseModel, inverseModelView;
    modelView.Mul(view, model);
    modelViewProj.Mul(projection, modelView);
    inverseModel.Inverse(model);
    inverseModel.Transpose();
    inverseModelView.Inverse(modelView);
    inverseModelView.Transpose();
    struct Case {
        const char* family;
        VertexShaderConstant constant;
        const Matrix* matrix;
    };
    const Case cases[] = {
        {"ModelView", VSC_MODEL, &model},
        {"ModelView", VSC_MODEL_VIEW, &modelView},
        {"ModelView", VSC_MODEL_VIEW_PROJ, &modelViewProj},
        {"InverseView", VSC_INV_T_MODEL, &inverseModel},
        {"InverseView", VSC_INV_T_MODEL_VIEW, &inverseModelView},
        {"InverseView", VSC_MODEL_VIEW_PROJ, &modelViewProj},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + VertexShaderConstantName(c.constant));
        ShaderPair p = Get(c.family, "");
        ASSERT_TRUE(p.vertexObject);
        const auto& r = p.vertexObject->ConstantRegister(c.constant);
        ASSERT_GE(r.index, 0);
        ASSERT_EQ(r.count, 4u);
        float got[16];
        rendertest::RunOnRenderThread([&] {
            // Garbage first, so only an upload of this call can pass.
            const std::vector<float> garbage(16, 1234.5f);
            gVornexRenderer.Device()->SetVertexShaderConstantF(uint32_t(r.index), garbage.data(), 4);
            p.vertexObject->SetModelMatrix(model, false);
            gVornexRenderer.Device()->GetVertexShaderConstantF(uint32_t(r.index), got, 4);
        });
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(got[i], c.matrix->r[i / 4][i % 4], 1e-4f * std::max(1.0f, std::fabs(c.matrix->r[i / 4][i % 4])))
                << "element " << i;
        p.Release();
    }
}

}  // namespace
