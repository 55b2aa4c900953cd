// test-timeout: 900
// Every variant of the particle family "Particle" compiles through glslang and cross-compiles
// to GLSL, and every pixel variant links with the vertex variant of its option set on the
// drawing device. The option sets follow Shaders.def: each subset of the options, with
// what an option enforces added and what one disables taken away, seen per stage.
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
#include "platform/gfx/ShaderVariantSupport.h"

using namespace gfx;
using namespace shadervariants;

namespace {

TEST(ParticleVariants, EveryVariantCompilesAndLinks) {
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    Family family;
    for (const Family& f : ReadDefinitions())
        if (f.name == "Particle") family = f;
    const std::vector<Option>& options = family.options;
    ASSERT_EQ(options.size(), 12u);
    const std::string source = ReadFile(kFolder + "Particle.hlsl");
    ASSERT_FALSE(source.empty());

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
    std::map<std::set<std::string>, VertexShader*> vertexShaders;
    for (const std::set<std::string>& vs : vertexSets) {
        std::string label;
        Compiled c = CompileStage(family, source, vs, false, &label);
        if (!c.failure.empty()) failures.push_back(c.failure);
        VertexShader* v = nullptr;
        if (c.code)
            device->CreateVertexShader(static_cast<const uint32_t*>(c.code->GetBufferPointer()), c.code->GetBufferSize(), &v);
        vertexShaders[vs] = v;
        if (c.code) c.code->Release();
    }
    uint32_t linked = 0;
    for (const auto& [ps, vs] : pixelSets) {
        std::string label;
        Compiled c = CompileStage(family, source, ps, true, &label);
        if (!c.failure.empty()) failures.push_back(c.failure);
        PixelShader* p = nullptr;
        if (c.code)
            device->CreatePixelShader(static_cast<const uint32_t*>(c.code->GetBufferPointer()), c.code->GetBufferSize(), &p);
        if (c.code) c.code->Release();
        VertexShader* v = vertexShaders[vs];
        if (!v || !p) {
            if (p) p->Release();
            continue;
        }
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
            failures.push_back("link " + label + ": " + r.message);
            ok = false;
        }
        linked += ok;
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        p->Release();
    }
    for (auto& [set, v] : vertexShaders)
        if (v) v->Release();
    std::string list;
    for (const std::string& f : failures) list += f + "\n";
    EXPECT_TRUE(failures.empty()) << failures.size() << " variants failed:\n" << list;
    // Six vertex options; the two velocity modes exclude each other, frame choices imply animation.
    EXPECT_EQ(vertexSets.size(), 30u);
    EXPECT_EQ(linked, pixelSets.size());
    EXPECT_EQ(device->Release(), 0u);
    factory->Release();
}

}  // namespace
