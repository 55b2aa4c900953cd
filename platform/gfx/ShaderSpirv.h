#pragma once
// Private to platform/gfx: the two halves of the shader path that talk to third-party
// libraries. The compiler hands preprocessed HLSL to glslang (SPIR-V into the code
// blob); the drawing device turns that SPIR-V into GLSL 450 with SPIRV-Cross.
//
// Interface between the stages (both sides follow it, so a vertex/pixel pair links):
// - float constants live in one uniform block per stage, register N at byte offset
//   N x 16 (the compiler gives every constant its register before glslang sees it);
//   in GLSL the block is the vec4 array gfx_VertexConstants / gfx_PixelConstants,
//   element N being register N;
// - a sampler declared at register sN binds to texture unit N;
// - varyings are placed by their semantic (VaryingLocation), not by declaration order;
// - vertex inputs keep the locations glslang gave them; the semantic of each is reported
//   so the device can feed it from the matching vertex-declaration element.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gfx::detail {

constexpr uint32_t kSpirvTag = 0x56525053u;  // "SPRV": the code blob's comment block with the SPIR-V

struct SpirvMessage {
    uint32_t line;  // 1-based line of the compiled text; 0 when glslang names none
    bool error;
    std::string text;
};

// Compiles HLSL text (no preprocessor directives left) for the entry point "vertex" or
// "pixel" with glslang's DX9-compatible HLSL front end. Thread-safe.
bool CompileHlslToSpirv(const std::string& text, bool pixel, std::vector<uint32_t>* spirv,
                        std::vector<SpirvMessage>* messages);

struct GlslInput {
    uint32_t location;
    uint8_t usage;  // DeclUsage
    uint8_t usageIndex;
};

struct GlslSampler {
    uint32_t unit;  // the sN register
    bool cube;
};

// Defined (after the version line) in a pixel stage's source, it compiles the original
// device's alpha test in (uniforms gfx_AlphaFunc and gfx_AlphaRef); without it the stage
// has no discard of its own.
constexpr const char* kAlphaTestDefine = "GFX_ALPHA_TEST";

struct GlslStage {
    std::string source;              // GLSL 450 core
    std::vector<GlslInput> inputs;   // vertex stage only
    std::vector<GlslSampler> samplers;
    uint32_t constantBytes = 0;      // registers used x 16; 0 when the stage reads no constant
    std::string colorOutput;         // pixel stage: the variable written to render target 0
};

// Cross-compiles one stage's SPIR-V to GLSL 450 (not ES). False with a message when the
// module is not valid SPIR-V of the expected stage. Thread-safe.
bool SpirvToGlsl(const uint32_t* words, size_t count, bool pixel, GlslStage* out, std::string* error);

// Location of a varying by its semantic ("TEXCOORD3", "COLOR0", ...); -1 when the
// semantic carries no interpolated value between the stages.
int VaryingLocation(const std::string& semantic);

// Usage and index of a vertex input's semantic ("POSITION", "TEXCOORD1", ...).
bool ParseInputSemantic(const std::string& semantic, uint8_t* usage, uint8_t* usageIndex);

// The SPIR-V words of a code blob (the "SPRV" comment block), never reading past bytes.
bool FindSpirv(const void* code, size_t bytes, std::vector<uint32_t>* words);

}  // namespace gfx::detail
