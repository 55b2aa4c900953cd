// test-timeout: 900
// The effect quads' variants of "FixedPipelineReplacement": every combination of
// "TEXTURE" with "SOFTNESS", "TEXTURE_ANIMATION" and "REFRACTION" compiles through glslang
// and cross-compiles to GLSL; "REFRACTION" selects pixel variants only, so the refraction
// variant shares the vertex shader of the plain one.
#include <gtest/gtest.h>

#include "platform/gfx/ShaderVariantSupport.h"

using namespace shadervariants;

namespace {

TEST(SFXQuadVariants, EveryEffectQuadVariantCompiles) {
    Family family;
    for (const Family& f : ReadDefinitions())
        if (f.name == "FixedPipelineReplacement") family = f;
    ASSERT_FALSE(family.options.empty());
    EXPECT_TRUE(StageOption(family, "REFRACTION", true));
    EXPECT_FALSE(StageOption(family, "REFRACTION", false));
    EXPECT_TRUE(StageOption(family, "TEXTURE_ANIMATION", false));
    EXPECT_FALSE(StageOption(family, "SOFTNESS", false));
    const std::string source = ReadFile(kFolder + "FixedPipelineReplacement.hlsl");
    ASSERT_FALSE(source.empty());
    const char* extras[] = {"SOFTNESS", "TEXTURE_ANIMATION", "REFRACTION"};
    for (uint32_t bits = 0; bits < 8; ++bits) {
        std::set<std::string> options{"TEXTURE"};
        for (uint32_t i = 0; i < 3; ++i)
            if (bits & (1u << i)) options.insert(extras[i]);
        for (bool pixel : {false, true}) {
            std::string label;
            Compiled c = CompileStage(family, source, options, pixel, &label);
            EXPECT_TRUE(c.failure.empty()) << c.failure;
            EXPECT_NE(c.code, nullptr) << label;
            if (c.code) c.code->Release();
        }
    }
    // The vertex-only skinning still fits beside the frame constants.
    std::string label;
    Compiled skinned = CompileStage(family, source, {"SKINNING", "TEXTURE", "TEXTURE_ANIMATION"}, false, &label);
    EXPECT_TRUE(skinned.failure.empty()) << skinned.failure;
    if (skinned.code) skinned.code->Release();
}

}  // namespace
