// Shader compiler stand-in: preprocessing, includes, registers, blob framing and errors.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/gfx/ShaderCompiler.h"

using namespace gfx;

namespace {

class MapInclude : public IncludeHandler {
public:
    Result Open(IncludeType type, const char* name, const void*, const void** data, uint32_t* bytes) override {
        opened.push_back(type == INCLUDE_SYSTEM ? std::string("<") + name + ">" : std::string(name));
        auto it = files.find(name);
        if (it == files.end()) return ERR_FAIL;
        *data = it->second.data();
        *bytes = static_cast<uint32_t>(it->second.size());
        ++open;
        return OK;
    }
    Result Close(const void*) override {
        --open;
        return OK;
    }
    std::map<std::string, std::string> files;
    std::vector<std::string> opened;
    int open = 0;
};

struct Compiled { Result result; std::vector<uint8_t> code; std::string errors; };

Compiled Compile(const std::string& src, const char* entry, const char* profile, const ShaderMacro* macros = nullptr,
                 IncludeHandler* include = nullptr) {
    Blob* code = nullptr;
    Blob* errors = nullptr;
    Compiled c;
    c.result = CompileShader(src.data(), static_cast<uint32_t>(src.size()), macros, include, entry, profile, 0, &code,
                             &errors, nullptr);
    if (code) {
        const auto* p = static_cast<const uint8_t*>(code->GetBufferPointer());
        c.code.assign(p, p + code->GetBufferSize());
        code->Release();
    }
    if (errors) {
        c.errors = static_cast<const char*>(errors->GetBufferPointer());
        EXPECT_EQ(errors->GetBufferSize(), c.errors.size() + 1);  // the text and its NUL
        errors->Release();
    }
    return c;
}

const char* kSkinned = R"(// skinned mesh
#include "Common.hlsl"
#if defined(SKINNED) && MAX_SHADER_SKINNING_BONES >= 64
float4x3 BoneMatrices[MAX_SHADER_SKINNING_BONES] : register(c0);
#else
#error skinning needs 64 bones
#endif
#ifndef SKINNED
float4 Unused;
#elif SCALE(2) == 4 /* function-like macro */
float4 ConstantColor;
#endif
float4x4 ModelViewProjMatrix;
sampler2D Diffuse : register(s3);
samplerCUBE Ambient;
float4 Long = float4(1, \
                     2, 3, 4);
struct Output { float4 pos : POSITION; };
Output vertex(float4 p : POSITION) { Output o; o.pos = mul(p, ModelViewProjMatrix); return o; }
)";

TEST(ShaderCompiler, OptionsIncludesRegistersAndDeterminism) {
    MapInclude include;
    include.files["Common.hlsl"] = "#define SCALE(x) ((x) * 2)\nfloat4 CameraPos;\n";
    const ShaderMacro macros[] = {{"SKINNED", nullptr}, {"MAX_SHADER_SKINNING_BONES", "64"}, {nullptr, nullptr}};
    const Compiled a = Compile(kSkinned, "vertex", "vs_3_0", macros, &include);
    ASSERT_EQ(a.result, OK) << a.errors;
    EXPECT_EQ(include.opened, std::vector<std::string>{"Common.hlsl"});
    EXPECT_EQ(include.open, 0);
    const Compiled b = Compile(kSkinned, "vertex", "vs_3_0", macros, &include);
    EXPECT_EQ(a.code, b.code);

    uint32_t first, last;
    std::memcpy(&first, a.code.data(), 4);
    std::memcpy(&last, a.code.data() + a.code.size() - 4, 4);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(kVertexShaderVersion30, kShaderEndToken));
    EXPECT_EQ(ShaderCodeSize(reinterpret_cast<const uint32_t*>(a.code.data()), a.code.size()), a.code.size());

    ConstantTable* table = nullptr;
    ASSERT_EQ(GetShaderConstantTable(reinterpret_cast<const uint32_t*>(a.code.data()), &table), OK);
    EXPECT_STREQ(table->GetTarget(), "vs_3_0");
    ASSERT_EQ(table->GetConstantCount(), 7u);
    const ConstantDesc* bones = table->GetConstantByName("BoneMatrices");
    ASSERT_NE(bones, nullptr);
    EXPECT_EQ(std::make_tuple(bones->parameterClass, bones->rows, bones->columns, bones->elements),
              std::make_tuple(PARAMCLASS_MATRIX_COLUMNS, 4u, 3u, 64u));
    // Unplaced constants fill the lowest free registers in declaration order.
    const std::tuple<const char*, RegisterSet, uint32_t, uint32_t> placed[] = {
        {"BoneMatrices", REGISTERSET_FLOAT4, 0, 192}, {"CameraPos", REGISTERSET_FLOAT4, 192, 1},
        {"ConstantColor", REGISTERSET_FLOAT4, 193, 1}, {"ModelViewProjMatrix", REGISTERSET_FLOAT4, 194, 4},
        {"Long", REGISTERSET_FLOAT4, 198, 1}, {"Diffuse", REGISTERSET_SAMPLER, 3, 1}, {"Ambient", REGISTERSET_SAMPLER, 0, 1}};
    for (const auto& [name, set, index, count] : placed) {
        const ConstantDesc* d = table->GetConstantByName(name);
        ASSERT_NE(d, nullptr) << name;
        EXPECT_EQ(std::make_tuple(d->registerSet, d->registerIndex, d->registerCount), std::make_tuple(set, index, count)) << name;
    }
    EXPECT_EQ(table->GetConstantByName("Ambient")->type, PARAMTYPE_SAMPLERCUBE);
    EXPECT_EQ(table->GetConstantByName("Unused"), nullptr);
    table->Release();

    // Without the option the #error fires, with file and line.
    const ShaderMacro none[] = {{"MAX_SHADER_SKINNING_BONES", "64"}, {nullptr, nullptr}};
    const Compiled c = Compile(kSkinned, "vertex", "vs_3_0", none, &include);
    EXPECT_LT(c.result, 0);
    EXPECT_TRUE(c.code.empty());
    EXPECT_NE(c.errors.find("memory(6,1): error"), std::string::npos) << c.errors;
    EXPECT_NE(c.errors.find("skinning needs 64 bones"), std::string::npos);
}

TEST(ShaderCompiler, EffectBlocksAreSkippedAndRegistersEndAt65535) {
    const char* effect = "float4 C : register(c7);\nfloat4 proto(float4 p) : POSITION;\nstring Label = \"a;b\";\nfloat4 _U;\n"
                         "float4 9V;\nstruct S { float4 a; };\ntypedef float4 F;\n"
                         "technique T { pass P { VertexShader = compile vs_3_0 vertex(); } }\n"
                         "float4 vertex() : POSITION { return C; }\n";
    const Compiled c = Compile(effect, "vertex", "vs_3_0");
    ASSERT_EQ(c.result, OK) << c.errors;
    ConstantTable* table = nullptr;
    ASSERT_EQ(GetShaderConstantTable(reinterpret_cast<const uint32_t*>(c.code.data()), &table), OK);
    EXPECT_EQ(table->GetConstantCount(), 2u);  // a name may start with '_', not with a digit
    ASSERT_NE(table->GetConstantByName("_U"), nullptr);
    EXPECT_EQ(table->GetConstantByName("_U")->registerIndex, 0u);
    table->Release();
    for (const char* reg : {"c65535", "c65536", "c7x", "t3"}) {
        const Compiled r = Compile(std::string("float4 C : register(") + reg + ");\nfloat4 vertex() : POSITION { return C; }\n",
                                   "vertex", "vs_3_0");
        EXPECT_EQ(r.errors.find("X4509") == std::string::npos, std::string(reg) == "c65535") << reg << ": " << r.errors;
    }
}

TEST(ShaderCompiler, ErrorsComeBackAsLines) {
    MapInclude include;
    include.files["Bad.hlsl"] = "\n#if 1 +\n#endif\n";
    const std::string pixel = "float4 pixel() : COLOR { return 0; }\n", vertex = "float4 vertex() : POSITION { return 0; }\n";
    struct Case { std::string source; bool isPixel; const char* fragment; } cases[] = {
        {vertex, true, "error X3501: 'pixel': entrypoint not found"}, {"float4 A[257];\n" + vertex, false, "X4505"},
        {"#include \"Bad.hlsl\"\n" + pixel, true, "Bad.hlsl(2,1): error"},
        {"#include \"Nope.hlsl\"\n" + pixel, true, "memory(1,1): error X1507: failed to open source file: 'Nope.hlsl'"},
        {"float4 A : register(c2);\nfloat4x4 B : register(c0);\nfloat4 pixel() : COLOR { return A; }\n", true,
         "memory(2,10): error X4500"},
        {")\n" + vertex, false, "memory(1,1): error X3000: syntax error: unexpected token ')'"},
        // Pixel constants above 223 are accepted with a warning (the renderer writes c247 and c248).
        {"float4 Scene : register(c248);\nfloat4 pixel() : COLOR { return Scene; }\n", true, "beyond ps_3_0"},
    };
    for (const Case& c : cases) {
        const Compiled r = Compile(c.source, c.isPixel ? "pixel" : "vertex", c.isPixel ? "ps_3_0" : "vs_3_0", nullptr, &include);
        EXPECT_NE(r.errors.find(c.fragment), std::string::npos) << r.errors;
        EXPECT_EQ(r.result == OK, std::string(c.fragment) == "beyond ps_3_0") << c.fragment;
    }
    const Compiled recursive = Compile("#define A A B\n#define B A\nA\n" + vertex, "vertex", "vs_3_0");
    EXPECT_EQ(recursive.result, ERR_INVALIDDATA);  // "A B A" is no declaration; no hang either
    // A file that includes itself twice stops at the include budget instead of opening
    // 2^depth files; every file it opened is closed again.
    include.files["Twice.hlsl"] = "#include \"Twice.hlsl\"\n#include \"Twice.hlsl\"\n";
    include.opened.clear();
    EXPECT_EQ(Compile("#include \"Twice.hlsl\"\n" + vertex, "vertex", "vs_3_0", nullptr, &include).result, ERR_INVALIDDATA);
    EXPECT_LE(include.opened.size(), 1100u);
    include.opened.clear();
    Compile("#include <Sys.hlsl>\n#include \"Local.hlsl\"\n" + pixel, "pixel", "ps_3_0", nullptr, &include);
    EXPECT_EQ(include.opened, (std::vector<std::string>{"<Sys.hlsl>", "Local.hlsl"}));
    EXPECT_EQ(include.open, 0);
    EXPECT_EQ(Compile(vertex, "vertex", "gs_4_0").result, ERR_INVALIDDATA);
}

TEST(ShaderCompiler, ConstantTableReaderIsBounded) {
    const Compiled a = Compile("float4 C;\nfloat4 pixel() : COLOR { return C; }\n", "pixel", "ps_3_0");
    ASSERT_EQ(a.result, OK);
    std::vector<ConstantDesc> out;
    std::string target;
    ASSERT_TRUE(ParseShaderConstantTable(a.code.data(), a.code.size(), &out, &target));
    EXPECT_EQ(target, "ps_3_0");
    uint32_t comment;
    std::memcpy(&comment, a.code.data() + 4, 4);
    const size_t tableEnd = 8 + 4 * static_cast<size_t>(comment >> 16);  // version and comment tokens, then the block
    for (size_t cut = 0; cut < tableEnd; cut += 3)
        EXPECT_FALSE(ParseShaderConstantTable(a.code.data(), cut, &out, &target)) << cut;
    // Strings the table points at must lie inside it: the creator (word 1 of the table,
    // which starts behind the version token, the comment token and the tag) and the
    // target (word 6).
    for (size_t word : {size_t(1), size_t(6)}) {
        std::vector<uint8_t> bad = a.code;
        const uint32_t outside = 0xFFFF;
        std::memcpy(bad.data() + 12 + 4 * word, &outside, 4);
        EXPECT_FALSE(ParseShaderConstantTable(bad.data(), bad.size(), &out, &target)) << word;
    }
    ConstantTable* table = nullptr;
    EXPECT_EQ(GetShaderConstantTableSized(a.code.data(), 8, &table), ERR_INVALIDDATA);
    EXPECT_EQ(table, nullptr);
    // Names are found with or without the '$' of global parameters; nothing past the end.
    ASSERT_EQ(GetShaderConstantTable(reinterpret_cast<const uint32_t*>(a.code.data()), &table), OK);
    ASSERT_NE(table->GetConstantByName("C"), nullptr);
    EXPECT_EQ(table->GetConstantByName("$C"), table->GetConstantByName("C"));
    for (const ConstantDesc* none : {table->GetConstantByName("Cx"), table->GetConstantByName(""), table->GetConstantByName(nullptr),
                                     table->GetConstantDesc(table->GetConstantCount())})
        EXPECT_EQ(none, nullptr);
    table->Release();
}

}  // namespace
