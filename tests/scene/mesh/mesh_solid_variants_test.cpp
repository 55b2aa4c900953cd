// test-timeout: 900
// Every variant of the mesh family "MeshSolid" compiles through glslang and cross-compiles
// to GLSL, and every pixel variant links with the vertex variant of its option set on the
// drawing device.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gfx/ShaderVariantSupport.h"

using namespace shadervariants;

namespace {

TEST(MeshSolidVariants, EveryVariantCompilesAndLinks) {
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    Family family;
    for (const Family& f : ReadDefinitions())
        if (f.name == "MeshSolid") family = f;
    ASSERT_GE(family.options.size(), 10u);
    const std::string source = ReadFile(kFolder + "MeshSolid.hlsl");
    ASSERT_FALSE(source.empty());
    const FamilyVariants v = CompileAndLinkEveryVariant(family, source);
    EXPECT_TRUE(v.failures.empty()) << v.failures.size() << " variants failed:\n" << v.FailureList();
    EXPECT_EQ(v.vertexSets, 32u);
    EXPECT_EQ(v.linked, v.pixelSets);
}

}  // namespace
