// The project's shader families (data/common/Shaders/Shaders.def) compile through
// glslang, cross-compile to GLSL and link on the drawing device. One test lists every
// failing variant with glslang's (or GL's) message.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "ShaderVariantSupport.h"

using namespace gfx;

namespace {

using namespace shadervariants;

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

// Every variant compiles through glslang, cross-compiles to GLSL, and each vertex/pixel
// pair of one option set links into a GL program on the drawing device (one draw each).
TEST(ShaderVariants, EveryFamilyCompilesCrossCompilesAndLinks) {
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    const std::vector<Family> families = ReadDefinitions();
    ASSERT_GE(families.size(), 19u);
    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    ASSERT_EQ(CreateLinkDevice(&factory, &device), OK);
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
                linked += LinkByDraw(device, v, p, vsLabel + " / " + psLabel, &failures) && v && p;
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
