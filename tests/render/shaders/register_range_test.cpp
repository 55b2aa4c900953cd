// The project's shader families compile without a compiler warning in either stage: no
// constant of a pixel shader lies beyond ps_3_0's 224 registers (X4717), so a run that
// compiles the variants it draws logs no shader warning. Each family is compiled with no
// option, each option alone (with what it enforces) and all options together.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/gfx/ShaderVariantSupport.h"

using namespace shadervariants;

namespace {

// The compiler's messages for one stage of one option set ("" when it said nothing).
std::string Messages(const Family& f, const std::string& source, const std::set<std::string>& options, bool pixel,
                     std::string* label) {
    std::vector<ShaderMacro> macros;
    *label = f.name + (pixel ? " pixel" : " vertex");
    for (const std::string& o : options) {
        if (!StageOption(f, o, pixel)) continue;
        macros.push_back({o.c_str(), nullptr});
        *label += " " + o;
    }
    macros.push_back({"MAX_SHADER_SKINNING_BONES", "64"});
    macros.push_back({pixel ? "PIXEL_STAGE" : "VERTEX_STAGE", nullptr});  // as the engine's shader resources
    macros.push_back({nullptr, nullptr});
    FolderInclude include;
    Blob* code = nullptr;
    Blob* errors = nullptr;
    const Result r = CompileShader(source.data(), static_cast<uint32_t>(source.size()), macros.data(), &include,
                                   pixel ? "pixel" : "vertex", pixel ? "ps_3_0" : "vs_3_0", 0, &code, &errors, nullptr);
    std::string text = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors) errors->Release();
    if (code) code->Release();
    if (Failed(r) && text.empty()) text = "failed without a message";
    return text;
}

TEST(ShaderRegisterRange, NoFamilyWarnsInEitherStage) {
    const std::vector<Family> families = ReadDefinitions();
    ASSERT_GE(families.size(), 19u);
    std::vector<std::string> complaints;
    size_t compiled = 0;
    for (const Family& f : families) {
        const std::string source = ReadFile(kFolder + f.name + ".hlsl");
        ASSERT_FALSE(source.empty()) << f.name;
        std::vector<std::set<std::string>> sets{{}};
        std::set<std::string> all, disabled;
        for (const Option& o : f.options) {
            std::set<std::string> one{o.name};
            one.insert(o.enforces.begin(), o.enforces.end());
            sets.push_back(one);
            all.insert(one.begin(), one.end());
            disabled.insert(o.disables.begin(), o.disables.end());
        }
        for (const std::string& d : disabled) all.erase(d);
        sets.push_back(all);
        for (const std::set<std::string>& options : sets)
            for (bool pixel : {false, true}) {
                std::string label;
                const std::string text = Messages(f, source, options, pixel, &label);
                if (!text.empty()) complaints.push_back(label + ": " + text);
                ++compiled;
            }
    }
    std::string list;
    for (const std::string& c : complaints) list += c + "\n";
    EXPECT_TRUE(complaints.empty()) << complaints.size() << " variants warned:\n" << list;
    EXPECT_GT(compiled, 100u);
}

}  // namespace
