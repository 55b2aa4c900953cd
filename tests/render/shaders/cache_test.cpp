// Shader compilation and the compiled-shader cache: hits, stamps, reloads, failed compiles.
// test-sanitize: thread address
// test-depends: shader_data

#include <cmath>

#include "ShaderTestSupport.h"
#include "core/Memory.h"

using namespace shadertest;
using namespace resourcetest;

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
