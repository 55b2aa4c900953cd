#pragma once
// What the shader-variant tests share: the project's shader definitions
// (data/common/Shaders/Shaders.def) read into families and options, an include handler
// over the shader folder, and one stage compiled through glslang and cross-compiled to GLSL.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ShaderCompiler.h"
#include "platform/gfx/ShaderSpirv.h"

namespace shadervariants {

using namespace gfx;

inline const std::string kFolder = std::string(PROJECT_SOURCE_ROOT) + "/data/common/Shaders/";

inline std::string ReadFile(const std::string& path) {
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

inline std::vector<std::string> Split(const std::string& s, char by) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, by);)
        if (!part.empty()) out.push_back(part);
    return out;
}

inline std::vector<Family> ReadDefinitions() {
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

inline bool StageOption(const Family& f, const std::string& name, bool pixel) {
    for (const Option& o : f.options)
        if (o.name == name) return pixel ? o.ps : o.vs;
    return false;
}

struct Compiled {
    Blob* code = nullptr;
    std::string failure;
};

inline Compiled CompileStage(const Family& f, const std::string& source, const std::set<std::string>& options, bool pixel,
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
    macros.push_back({pixel ? "PIXEL_STAGE" : "VERTEX_STAGE", nullptr});  // as the engine's shader resources
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

// A 16 x 16 drawing device for linking shader pairs: the device creation's result (the
// factory is made either way and released by the caller).
inline Result CreateLinkDevice(DeviceFactory** factory, Device** device) {
    SelectDeviceKind(DeviceKind::Drawing);
    *factory = CreateDeviceFactory(SDK_VERSION);
    SelectDeviceKind(DeviceKind::Recording);
    PresentParameters params{};
    params.backBufferWidth = params.backBufferHeight = 16;
    params.backBufferFormat = FMT_X8R8G8B8;
    return (*factory)->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &params, device);
}

// Links a vertex and pixel shader by one draw; false, with the device's shader reports
// added to failures under label, when they do not link. Leaves neither bound.
inline bool LinkByDraw(Device* device, VertexShader* v, PixelShader* p, const std::string& label,
                       std::vector<std::string>* failures) {
    Recorder* recorder = GetRecorder(device);
    recorder->ClearReports();
    device->SetVertexShader(v);
    device->SetPixelShader(p);
    device->SetFVF(FVF_XYZ | FVF_TEX1);
    const float tri[3][5] = {{-1, -1, 0, 0, 1}, {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}};
    device->BeginScene();
    device->DrawPrimitiveUP(PT_TRIANGLELIST, 1, tri, sizeof tri[0]);
    device->EndScene();
    bool ok = true;
    for (const ValidationReport& r : recorder->Reports()) {
        if (r.rule.rfind("shader", 0) != 0) continue;
        failures->push_back(label + ": " + r.message);
        ok = false;
    }
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    return ok;
}

// Every variant of a family: the stage option sets of each subset of its options (what an
// option enforces added, what one disables taken away), each vertex set compiled, each
// pixel set compiled and linked with the vertex set of its subset by one draw on the
// drawing device.
struct FamilyVariants {
    size_t vertexSets = 0, pixelSets = 0, linked = 0;
    std::vector<std::string> failures;
    std::string FailureList() const {
        std::string list;
        for (const std::string& f : failures) list += f + "\n";
        return list;
    }
};

inline FamilyVariants CompileAndLinkEveryVariant(const Family& family, const std::string& source) {
    using namespace gfx;
    FamilyVariants out;
    const std::vector<Option>& options = family.options;
    // The stage option sets of every subset; each pixel set remembers one vertex set.
    std::set<std::set<std::string>> vertexSets;
    std::map<std::set<std::string>, std::set<std::string>> pixelSets;
    for (uint32_t bits = 0; bits < (1u << options.size()); ++bits) {
        std::set<std::string> on, disabled;
        for (uint32_t i = 0; i < options.size(); ++i) {
            if (!(bits & (1u << i))) continue;
            on.insert(options[i].name);
            on.insert(options[i].enforces.begin(), options[i].enforces.end());
            disabled.insert(options[i].disables.begin(), options[i].disables.end());
        }
        std::set<std::string> vs, ps;
        for (const Option& o : options) {
            if (!on.count(o.name) || disabled.count(o.name)) continue;
            if (o.vs) vs.insert(o.name);
            if (o.ps) ps.insert(o.name);
        }
        vertexSets.insert(vs);
        pixelSets.emplace(ps, vs);
    }

    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    if (CreateLinkDevice(&factory, &device) != OK) {
        out.failures.push_back("no drawing device");
        factory->Release();
        return out;
    }

    std::map<std::set<std::string>, VertexShader*> vertexShaders;
    for (const std::set<std::string>& vs : vertexSets) {
        std::string label;
        Compiled c = CompileStage(family, source, vs, false, &label);
        if (!c.failure.empty()) out.failures.push_back(c.failure);
        VertexShader* v = nullptr;
        if (c.code)
            device->CreateVertexShader(static_cast<const uint32_t*>(c.code->GetBufferPointer()), c.code->GetBufferSize(), &v);
        vertexShaders[vs] = v;
        if (c.code) c.code->Release();
    }
    for (const auto& [ps, vs] : pixelSets) {
        std::string label;
        Compiled c = CompileStage(family, source, ps, true, &label);
        if (!c.failure.empty()) out.failures.push_back(c.failure);
        PixelShader* p = nullptr;
        if (c.code)
            device->CreatePixelShader(static_cast<const uint32_t*>(c.code->GetBufferPointer()), c.code->GetBufferSize(), &p);
        if (c.code) c.code->Release();
        VertexShader* v = vertexShaders[vs];
        if (!v || !p) {
            if (p) p->Release();
            continue;
        }
        out.linked += LinkByDraw(device, v, p, "link " + label, &out.failures);
        p->Release();
    }
    for (auto& [set, v] : vertexShaders)
        if (v) v->Release();
    out.vertexSets = vertexSets.size();
    out.pixelSets = pixelSets.size();
    if (device->Release() != 0) out.failures.push_back("device objects outlive the check");
    factory->Release();
    return out;
}

}  // namespace shadervariants
