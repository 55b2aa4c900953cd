// The project's shader families compile through glslang and cross-compile to GLSL:
// every family and stage with no option, each option alone (with the options it
// enforces) and all of the stage's options together, as data/common/Shaders/Shaders.def
// lists them. One test lists every failing variant with glslang's message.
// test-sanitize: address
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gfx/ShaderCompiler.h"
#include "platform/gfx/ShaderSpirv.h"

using namespace gfx;

namespace {

const std::string kFolder = std::string(PROJECT_SOURCE_ROOT) + "/data/common/Shaders/";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class FolderInclude : public IncludeHandler {
public:
    Result Open(IncludeType, const char* name, const void*, const void** data, uint32_t* bytes) override {
        auto* text = new std::string(ReadFile(kFolder + name));
        if (text->empty()) {
            delete text;
            return ERR_FAIL;
        }
        *data = text->data();
        *bytes = static_cast<uint32_t>(text->size());
        open[text->data()] = text;
        return OK;
    }
    Result Close(const void* data) override {
        auto it = open.find(data);
        if (it == open.end()) return ERR_FAIL;
        delete it->second;
        open.erase(it);
        return OK;
    }
    std::map<const void*, std::string*> open;
};

struct Option {
    std::string name;
    bool vs = false, ps = false;
    std::vector<std::string> enforces, disables;
};
struct Family {
    std::string name;
    std::vector<Option> options;
};

std::vector<std::string> Split(const std::string& s, char by) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, by);)
        if (!part.empty()) out.push_back(part);
    return out;
}

std::vector<Family> ReadDefinitions() {
    std::vector<Family> families;
    std::istringstream in(ReadFile(kFolder + "Shaders.def"));
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> words = Split(line, ' ');
        if (words.size() < 2) continue;
        if (words[0] == "family") families.push_back({words[1], {}});
        if (words[0] != "option" || families.empty()) continue;
        Option o;
        o.name = words[1];
        for (const std::string& w : words) {
            if (w == "vs") o.vs = true;
            if (w == "ps") o.ps = true;
            if (w.rfind("enforces=", 0) == 0) o.enforces = Split(w.substr(9), ',');
            if (w.rfind("disables=", 0) == 0) o.disables = Split(w.substr(9), ',');
        }
        families.back().options.push_back(o);
    }
    return families;
}

// The option sets compiled for one stage of a family.
std::vector<std::set<std::string>> Variants(const Family& f, bool pixel) {
    std::vector<std::set<std::string>> out{{}};
    std::set<std::string> all, disabled;
    for (const Option& o : f.options) {
        if (!(pixel ? o.ps : o.vs)) continue;
        std::set<std::string> one{o.name};
        one.insert(o.enforces.begin(), o.enforces.end());
        out.push_back(one);
        all.insert(one.begin(), one.end());
        disabled.insert(o.disables.begin(), o.disables.end());
    }
    for (const std::string& d : disabled) all.erase(d);
    if (all.size() > 1) out.push_back(all);
    return out;
}

TEST(ShaderVariants, EveryFamilyCompilesToSpirvAndCrossCompilesToGlsl) {
    const std::vector<Family> families = ReadDefinitions();
    ASSERT_GE(families.size(), 19u);
    std::vector<std::string> failures;
    size_t compiled = 0;
    for (const Family& f : families) {
        const std::string source = ReadFile(kFolder + f.name + ".hlsl");
        ASSERT_FALSE(source.empty()) << f.name;
        for (const bool pixel : {false, true}) {
            const char* entry = pixel ? "pixel" : "vertex";
            if (source.find(std::string(entry) + "(") == std::string::npos) continue;  // no such stage
            for (const std::set<std::string>& options : Variants(f, pixel)) {
                std::vector<ShaderMacro> macros;
                std::string label = f.name + " " + entry;
                for (const std::string& o : options) {
                    macros.push_back({o.c_str(), nullptr});
                    label += " " + o;
                }
                macros.push_back({"MAX_SHADER_SKINNING_BONES", "64"});
                macros.push_back({nullptr, nullptr});
                FolderInclude include;
                Blob* code = nullptr;
                Blob* errors = nullptr;
                const Result r = CompileShader(source.data(), static_cast<uint32_t>(source.size()), macros.data(),
                                               &include, entry, pixel ? "ps_3_0" : "vs_3_0", 0, &code, &errors, nullptr);
                const std::string messages = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
                if (errors) errors->Release();
                EXPECT_TRUE(include.open.empty()) << label;
                if (Failed(r)) {
                    failures.push_back(label + ": " + messages);
                    continue;
                }
                std::vector<uint32_t> spirv;
                detail::GlslStage stage;
                std::string error;
                if (!detail::FindSpirv(code->GetBufferPointer(), code->GetBufferSize(), &spirv))
                    failures.push_back(label + ": no SPIR-V block");
                else if (!detail::SpirvToGlsl(spirv.data(), spirv.size(), pixel, &stage, &error))
                    failures.push_back(label + ": " + error);
                else
                    ++compiled;
                code->Release();
            }
        }
    }
    std::string list;
    for (const std::string& f : failures) list += f + "\n";
    EXPECT_TRUE(failures.empty()) << failures.size() << " variants failed:\n" << list;
    EXPECT_GT(compiled, 60u);
}

}  // namespace
