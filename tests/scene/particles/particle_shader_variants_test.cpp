// test-timeout: 900
// Every variant of the particle family "Particle" compiles through glslang and cross-compiles
// to GLSL, and every pixel variant links with the vertex variant of its option set on the
// drawing device.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gfx/ShaderVariantSupport.h"

using namespace shadervariants;

namespace {

TEST(ParticleVariants, EveryVariantCompilesAndLinks) {
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    Family family;
    for (const Family& f : ReadDefinitions())
        if (f.name == "Particle") family = f;
    ASSERT_EQ(family.options.size(), 12u);
    const std::string source = ReadFile(kFolder + "Particle.hlsl");
    ASSERT_FALSE(source.empty());
    const FamilyVariants v = CompileAndLinkEveryVariant(family, source);
    EXPECT_TRUE(v.failures.empty()) << v.failures.size() << " variants failed:\n" << v.FailureList();
    // Six vertex options; the two velocity modes exclude each other, frame choices imply animation.
    EXPECT_EQ(v.vertexSets, 30u);
    EXPECT_EQ(v.linked, v.pixelSets);
}

}  // namespace
