// The project's shader families (data/common/Shaders/Shaders.def) compile through
// glslang, cross-compile to GLSL and link on the drawing device. One test lists every
// failing variant with glslang's (or GL's) message.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gfx/GfxRecorder.h"
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

// The option sets compiled for a family: none, each option alone (with the options it
// enforces) and all options together (less those another option disables). A stage
// sees only the options that select its variants.
std::vector<std::set<std::string>> Variants(const Family& f) {
    std::vector<std::set<std::string>> out{{}};
    std::set<std::string> all, disabled;
    for (const Option& o : f.options) {
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

bool StageOption(const Family& f, const std::string& name, bool pixel) {
    for (const Option& o : f.options)
        if (o.name == name) return pixel ? o.ps : o.vs;
    return false;
}

struct Compiled {
    Blob* code = nullptr;
    std::string failure;
};

Compiled CompileStage(const Family& f, const std::string& source, const std::set<std::string>& options, bool pixel,
                      std::string* label) {
    const char* entry = pixel ? "pixel" : "vertex";
    std::vector<ShaderMacro> macros;
    *label = f.name + " " + entry;
    for (const std::string& o : options) {
        if (!StageOption(f, o, pixel)) continue;
        macros.push_back({o.c_str(), nullptr});
        *label += " " + o;
    }
    macros.push_back({"MAX_SHADER_SKINNING_BONES", "64"});
    macros.push_back({nullptr, nullptr});
    FolderInclude include;
    Compiled c;
    Blob* errors = nullptr;
    const Result r = CompileShader(source.data(), static_cast<uint32_t>(source.size()), macros.data(), &include, entry,
                                   pixel ? "ps_3_0" : "vs_3_0", 0, &c.code, &errors, nullptr);
    const std::string messages = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors) errors->Release();
    EXPECT_TRUE(include.open.empty()) << *label;
    if (Failed(r)) {
        c.failure = *label + ": " + messages;
        return c;
    }
    std::vector<uint32_t> spirv;
    detail::GlslStage stage;
    std::string error;
    if (!detail::FindSpirv(c.code->GetBufferPointer(), c.code->GetBufferSize(), &spirv))
        c.failure = *label + ": no SPIR-V block";
    else if (!detail::SpirvToGlsl(spirv.data(), spirv.size(), pixel, &stage, &error))
        c.failure = *label + ": " + error;
    return c;
}

// Every variant compiles through glslang, cross-compiles to GLSL, and each vertex/pixel
// pair of one option set links into a GL program on the drawing device (one draw each).
TEST(ShaderVariants, EveryFamilyCompilesCrossCompilesAndLinks) {
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    const std::vector<Family> families = ReadDefinitions();
    ASSERT_GE(families.size(), 19u);
    SelectDeviceKind(DeviceKind::Drawing);
    DeviceFactory* factory = CreateDeviceFactory(SDK_VERSION);
    SelectDeviceKind(DeviceKind::Recording);
    PresentParameters params{};
    params.backBufferWidth = params.backBufferHeight = 16;
    params.backBufferFormat = FMT_X8R8G8B8;
    Device* device = nullptr;
    ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &params, &device), OK);
    Recorder* recorder = GetRecorder(device);
    std::vector<std::string> failures;
    size_t compiled = 0, linked = 0;
    for (const Family& f : families) {
        const std::string source = ReadFile(kFolder + f.name + ".hlsl");
        ASSERT_FALSE(source.empty()) << f.name;
        for (const std::set<std::string>& options : Variants(f)) {
            std::string vsLabel, psLabel;
            Compiled vs = CompileStage(f, source, options, false, &vsLabel);
            Compiled ps = CompileStage(f, source, options, true, &psLabel);
            for (const Compiled* c : {&vs, &ps}) {
                if (!c->failure.empty()) failures.push_back(c->failure);
                else ++compiled;
            }
            if (vs.failure.empty() && ps.failure.empty()) {
                VertexShader* v = nullptr;
                PixelShader* p = nullptr;
                device->CreateVertexShader(static_cast<const uint32_t*>(vs.code->GetBufferPointer()), vs.code->GetBufferSize(), &v);
                device->CreatePixelShader(static_cast<const uint32_t*>(ps.code->GetBufferPointer()), ps.code->GetBufferSize(), &p);
                recorder->ClearReports();
                device->SetVertexShader(v);
                device->SetPixelShader(p);
                device->SetFVF(FVF_XYZ | FVF_TEX1);
                const float quad[3][5] = {{-1, -1, 0, 0, 1}, {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}};
                device->BeginScene();
                device->DrawPrimitiveUP(PT_TRIANGLELIST, 1, quad, sizeof quad[0]);
                device->EndScene();
                bool ok = v && p;
                for (const ValidationReport& r : recorder->Reports()) {
                    if (r.rule.rfind("shader", 0) != 0) continue;
                    failures.push_back(vsLabel + " / " + psLabel + ": " + r.message);
                    ok = false;
                }
                linked += ok;
                device->SetVertexShader(nullptr);
                device->SetPixelShader(nullptr);
                if (v) v->Release();
                if (p) p->Release();
            }
            if (vs.code) vs.code->Release();
            if (ps.code) ps.code->Release();
        }
    }
    std::string list;
    for (const std::string& f : failures) list += f + "\n";
    EXPECT_TRUE(failures.empty()) << failures.size() << " variants failed:\n" << list;
    EXPECT_GT(compiled, 100u);
    EXPECT_GT(linked, 50u);
    EXPECT_EQ(device->Release(), 0u);
    factory->Release();
}

}  // namespace
