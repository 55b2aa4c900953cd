// Shader definitions: DefBin files from both writers, corrupt files, masks, names, text forms.
// test-sanitize: address
// test-depends: shaderdefs
#include <memory>

#include "../resources/ResourceTestSupport.h"
#include "core/fs/FileReader.h"
#include "render/shaders/ShaderDefinitions.h"

namespace {

using Bytes = std::vector<uint8_t>;
using resourcetest::ReadBytes;

struct Families {
    std::vector<ShaderFamily*> list;
    ~Families() {
        for (ShaderFamily* f : list) delete f;
    }
};

// A scratch folder mounted as "common"; DefBins are read from it as the engine does.
struct DefBinTest : ::testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/shader_defs_XXXXXX";
        root = mkdtemp(pattern);
        gFileSystem.MountDirectory("common", root.c_str());
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    bool Load(const Bytes& bytes, Families* out, uint64_t* stamp = nullptr) {
        resourcetest::WriteBytes(root + "/Test.DefBin", bytes);
        FileReader reader("Test", "DefBin", "common");
        uint64_t s = 0;
        return ReadShaderDefBin(reader, stamp ? stamp : &s, &out->list);
    }
    // The DefBin of a description as written by the tool ("tool") or the reference writer ("py").
    Bytes Make(const std::string& description, const std::string& writer) {
        std::ofstream(root + "/d.def") << description;
        const std::string command = writer == "tool" ? PROJECT_BINARY_ROOT "/tools/shaderdefs"
                                                     : "python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py defbin";
        EXPECT_EQ(std::system((command + " " + root + "/d.def " + root + "/out.bin").c_str()), 0) << writer;
        return ReadBytes(root + "/out.bin");
    }
    std::string root;
    CaptureLogSink log;
};

const char kDescription[] =
    "family Water deferred\n"
    "param Ripples Type=texture Register=3 Shader=pixel SRGB=0 NoAlpha=1 Trilinear=1 Subregister=z\n"
    "option SKINNING vs system\n"
    "option FOG ps default\n"
    "param FogColor Type=color Register=RefractionPower Default=1,0.5,0,1 Flags=7 SecondaryRegister=-2\n"
    "option ALPHA_TEST vs ps enforces=FOG disables=SKINNING\n"
    "family Sky solidnondeferred\n";

TEST_F(DefBinTest, ToolAndIndependentWriterGiveOneFileThatLoadsToTheDescription) {
    const Bytes tool = Make(kDescription, "tool");
    EXPECT_EQ(tool, Make(kDescription, "py"));
    Families f;
    uint64_t stamp = 0;
    ASSERT_TRUE(Load(tool, &f, &stamp));
    ASSERT_EQ(f.list.size(), 2u);
    const ShaderFamily& water = *f.list[0];
    EXPECT_TRUE(water.deferred && f.list[1]->solidNonDeferred);
    ASSERT_EQ(water.options.Count(), 3u);  // sorted: their positions are their bits
    EXPECT_STREQ(water.options[0].name.CStr(), "ALPHA_TEST");
    EXPECT_TRUE(water.options[1].defaultOn && !water.options[1].affectsVertexShader);
    const ShaderParameterDefinition& ripples = water.parameterDefinitions[0];
    EXPECT_EQ(ripples.typeIndex, SHADER_PARAM_TEXTURE);
    EXPECT_EQ(ripples.bits, SHADER_PARAM_BIT_PIXEL | (2u << 1) | SHADER_PARAM_BIT_NOT_SRGB | SHADER_PARAM_BIT_NO_ALPHA |
                                SHADER_PARAM_BIT_TRILINEAR);
    EXPECT_EQ(water.options[1].parameterDefinitions[0].registerNumber, -9);

    // Changed definitions change the stamp.
    Families g;
    uint64_t changedStamp = 0;
    ASSERT_TRUE(Load(Make(std::string(kDescription) + "family Extra\n", "tool"), &g, &changedStamp));
    EXPECT_NE(changedStamp, stamp);
}

TEST_F(DefBinTest, CorruptFilesFailWithOneLineAndLeaveNoFamilies) {
    const Bytes valid = Make(kDescription, "tool");
    auto withCount = [&](uint32_t count) {
        Bytes b = valid;
        std::memcpy(b.data() + 12, &count, 4);
        return b;
    };
    Bytes wrongMagic = valid;
    wrongMagic[0] ^= 1;
    struct Case { const char* what; Bytes bytes; const char* line; } cases[] = {
        {"wrong magic", wrongMagic, "Shaders.DefBin magic mismatch"},
        {"one family more", withCount(3), "truncated"},
        {"a count larger than the file", withCount(0x40000000u), "family count"},
    };
    for (Case& c : cases) {
        log.Clear();
        Families f;
        EXPECT_FALSE(Load(c.bytes, &f)) << c.what;
        EXPECT_TRUE(f.list.empty()) << c.what;
        EXPECT_TRUE(log.Contains(c.line)) << c.what;
        EXPECT_EQ(log.Messages().size(), 1u) << c.what;
    }
    for (size_t n = 0; n < valid.size(); ++n) {
        Families f;
        EXPECT_FALSE(Load(Bytes(valid.begin(), valid.begin() + n), &f)) << n;
        EXPECT_TRUE(f.list.empty()) << n;
    }
    // A record of size 0 is an empty family.
    Bytes empty = withCount(1);
    std::memset(empty.data() + 16, 0, 4);
    Families f;
    ASSERT_TRUE(Load(empty, &f));
    ASSERT_EQ(f.list.size(), 1u);
    EXPECT_TRUE(f.list[0]->name.IsEmpty());
}


struct OptionSpec { const char* name; bool vs, ps; const char* enforces; const char* disables; };

std::unique_ptr<ShaderFamily> MakeFamily(const char* name, std::initializer_list<OptionSpec> options) {
    auto f = std::make_unique<ShaderFamily>();
    f->name = name;
    f->options.Resize(static_cast<uint32_t>(options.size()));
    uint32_t i = 0;
    for (const OptionSpec& o : options) {
        ShaderOption& s = f->options[i++];
        s.name = o.name;
        s.affectsVertexShader = o.vs;
        s.affectsPixelShader = o.ps;
        s.enforcedOptionNames = o.enforces;
        s.disabledOptionNames = o.disables;
    }
    return f;
}

TEST(ShaderVariantTest, OptionStringsGiveMaskDigitsAndNames) {
    // Bits: 0 ALPHA_TEST (both), 1 FOG (pixel), 2 HARDWARE_DEPTH (pixel), 3 NO_SKIN (vertex,
    // disables SKINNING), 4 SKINNING (vertex, enforces FOG), 5 WIND (vertex).
    auto f = MakeFamily("Mesh", {{"ALPHA_TEST", true, true, "", ""},
                                 {"FOG", false, true, "", ""},
                                 {"HARDWARE_DEPTH", false, true, "", ""},
                                 {"NO_SKIN", true, false, "", "SKINNING"},
                                 {"SKINNING", true, false, "FOG", ""},
                                 {"WIND", true, false, "", ""}});
    struct Case { const char* options; const char* vertexDigits; const char* pixelDigits; } cases[] = {
        {"", "00000000000000000000000000000000", "00000000000000000000000000000000"},
        {"SKINNING,ALPHA_TEST", "11000000000000000000000000000000", "30000000000000000000000000000000"},
        {"SKINNING ALPHA_TEST", "11000000000000000000000000000000", "30000000000000000000000000000000"},
        {"fog", "00000000000000000000000000000000", "20000000000000000000000000000000"},
        {"SKINNING NO_SKIN\tWIND, UNKNOWN", "82000000000000000000000000000000", "20000000000000000000000000000000"},
    };
    for (const Case& c : cases) {
        const char *vs = nullptr, *ps = nullptr;
        ASSERT_TRUE(f->GetVariantNames(c.options, &vs, &ps)) << c.options;
        EXPECT_EQ(std::string(vs), std::string("Mesh/") + c.vertexDigits + ".vs_3_0") << c.options;
        EXPECT_EQ(std::string(ps), std::string("Mesh/") + c.pixelDigits + ".ps_3_0") << c.options;
    }
    EXPECT_EQ(f->VariantCount(), 5u);  // the comma and blank spellings are two records

    // The digits read back into the stage's names; hardware-depth names left out only when asked.
    std::vector<std::string> all, skipped;
    ASSERT_TRUE(f->ListOptions("F0000000000000000000000000000000", false, false, &all));
    ASSERT_TRUE(f->ListOptions("F0000000000000000000000000000000", false, true, &skipped));
    EXPECT_EQ(all, (std::vector<std::string>{"ALPHA_TEST", "FOG", "HARDWARE_DEPTH"}));
    EXPECT_EQ(skipped, (std::vector<std::string>{"ALPHA_TEST", "FOG"}));
    std::vector<std::string> none;
    EXPECT_FALSE(f->ListOptions("F000000000000000000000000000000G", true, false, &none));
    EXPECT_FALSE(f->ListOptions("F00", true, false, &none));

    // Fixed fields are never cut.
    const char *vs = nullptr, *ps = nullptr;
    EXPECT_FALSE(f->GetVariantNames(std::string(256, 'A').c_str(), &vs, &ps));
    EXPECT_TRUE(f->GetVariantNames(std::string(255, 'A').c_str(), &vs, &ps));
    for (size_t length : {127u, 128u})  // "<family>/" + 32 digits + ".vs_3_0" is 40 more
        EXPECT_EQ(MakeFamily(std::string(length - 40, 'L').c_str(), {})->GetVariantNames("", &vs, &ps), length == 127);
}

TEST(ShaderVariantTest, OptionsFrom128OnHaveNoBit) {
    auto f = MakeFamily("Many", {});
    f->options.Resize(130);
    for (uint32_t i = 0; i < 130; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, "O%03u", i);
        f->options[i].name = n;
        f->options[i].affectsVertexShader = f->options[i].affectsPixelShader = true;
    }
    f->options[1].enforcedOptionNames = "O129";
    uint32_t v[4], p[4];
    f->ComputeMasks("O128 O129 O001 O127", v, p);
    EXPECT_EQ(v[0], 2u);
    EXPECT_EQ(v[3], 0x80000000u);
    std::vector<std::string> names;
    ASSERT_TRUE(f->ListOptions(std::string(32, 'F').c_str(), true, false, &names));
    EXPECT_EQ(names.size(), 128u);
    EXPECT_EQ(names.back(), "O127");
}

TEST(ShaderParameterTest, AccessorTextFormsRoundTrip) {
    constexpr auto R = SHADER_ACCESSOR_REGISTER;
    // error: bit 31, the text matched none of the property's words.
    struct Case { ShaderParamAccessor which; const char* text; const char* readBack; bool error; int32_t registerNumber = 0; };
    const Case cases[] = {
        {SHADER_ACCESSOR_TYPE, "bool", "bool", false},         {SHADER_ACCESSOR_TYPE, "Texture", "unknown", true},
        {SHADER_ACCESSOR_SUBREGISTER, "w", "w", false},        {SHADER_ACCESSOR_SUBREGISTER, "q", "x", true},
        {SHADER_ACCESSOR_SHADER, "pixel", "pixel", false},     {SHADER_ACCESSOR_SHADER, "geometry", "vertex", true},
        {SHADER_ACCESSOR_SRGB, "0", "0", false},               {SHADER_ACCESSOR_NO_ALPHA, "1", "1", false},
        {SHADER_ACCESSOR_TRILINEAR, "1", "1", false},          {SHADER_ACCESSOR_TRILINEAR, "yes", "0", true},
        {R, "17", "17", false, 17},                            {R, "-30", "-30", false, -30},
        {R, "AlphaTest", "AlphaTest", false, -1},              {R, "LightingType", "LightingType", false, -23},
        {R, "MinRefractionQualityLevel", "MinRefractionQualityLevel", false, -14},
        {R, "12abc", "12", true, 12},  // an unknown name keeps its number
    };
    for (const Case& c : cases) {
        ShaderParameterDefinition p;
        char back[32];
        p.SetAccessorText(c.which, c.text);
        p.GetAccessorText(c.which, back, sizeof back);
        EXPECT_EQ((p.bits & SHADER_PARAM_BIT_DEFINITION_ERROR) != 0, c.error) << c.text;
        EXPECT_STREQ(back, c.readBack) << c.text;
        EXPECT_EQ(p.registerNumber, c.registerNumber) << c.text;
    }
}

}  // namespace
