// The two heaviest pixel shaders of the sample scene on the software rasteriser, as the
// drawing device translates them (HLSL through glslang and SPIR-V to GLSL 450, exactly
// as the device does for a draw without an alpha test) against the same shading written
// by hand in GLSL 4.5, drawn with the same inputs: the final composite ("Postprocess"
// with ENABLED OUTLINES) and the sun pass ("LightFinalComponents" with HARDWARE_DEPTH
// SHADOWMAP SHADOWMAP_FILTERING), at the sample's render size of 800 x 500.
//
// The inputs are the sample's: the composite reads the half-float scene colour, sRGB
// glow, folded curve-and-lookup and cloud textures and the 10-bit outline target; the sun pass
// reads the depth-stencil target as depth, the 10-bit normals, a 2048 x 2048 16-bit
// shadow map and the ambient cube, and runs on the pixels the stencil marks as deferred
// geometry (a third of the screen here) with the stencil test on, as in the frame.
// Both sides take the same register values (the twin through named uniforms).
//
// Each repetition draws every side once per round, interleaved, each draw timed to
// completion (glFinish); the figure of a side is its median draw. Printed, as the median
// of the repetitions: each shader's translated and hand-written times and their ratio
// (goal: at most 1.3; the ratio's range beside it), and beside them
// the translation with the alpha test compiled in, which is what every draw got before
// the test became a variant of its own (a discard in the shader makes the rasteriser
// test stencil and depth after shading, so rejected pixels are shaded too).
//
// The HLSL sources come from the build tree's data folder (target shader_data).
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/gfx/GlFunctions.h"
#include "platform/gfx/ShaderCompiler.h"
#include "platform/gfx/ShaderSpirv.h"

namespace {

namespace sfs = std::filesystem;
using gfx::detail::GlFunctions;
const GlFunctions* gl = nullptr;
constexpr int kWidth = 800, kHeight = 500;
constexpr int kRounds = 15;

std::string ReadText(const sfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

sfs::path ShaderFolder() {
    return sfs::canonical("/proc/self/exe").parent_path().parent_path() / "data" / "common" / "Shaders";
}

class FolderInclude : public gfx::IncludeHandler {
public:
    gfx::Result Open(gfx::IncludeType, const char* name, const void*, const void** data, uint32_t* bytes) override {
        texts.push_back(ReadText(ShaderFolder() / name));
        if (texts.back().empty()) return gfx::ERR_FAIL;
        *data = texts.back().data();
        *bytes = static_cast<uint32_t>(texts.back().size());
        return gfx::OK;
    }
    gfx::Result Close(const void*) override { return gfx::OK; }
    std::vector<std::string> texts;
};

// The device's GLSL of one pixel-shader variant; empty (with a message) when it fails.
std::string Translate(const char* family, const std::vector<const char*>& options) {
    const std::string source = ReadText(ShaderFolder() / (std::string(family) + ".hlsl"));
    std::vector<gfx::ShaderMacro> macros;
    for (const char* o : options) macros.push_back({o, nullptr});
    macros.push_back({nullptr, nullptr});
    FolderInclude include;
    gfx::Blob* code = nullptr;
    gfx::Blob* errors = nullptr;
    gfx::CompileShader(source.data(), static_cast<uint32_t>(source.size()), macros.data(), &include, "pixel", "ps_3_0",
                       0, &code, &errors, nullptr);
    if (errors) {
        if (!code) std::fprintf(stderr, "%s: %s\n", family, static_cast<const char*>(errors->GetBufferPointer()));
        errors->Release();
    }
    if (!code) return {};
    std::vector<uint32_t> words;
    gfx::detail::GlslStage stage;
    std::string error;
    const bool ok = gfx::detail::FindSpirv(code->GetBufferPointer(), code->GetBufferSize(), &words) &&
                    gfx::detail::SpirvToGlsl(words.data(), words.size(), true, &stage, &error);
    code->Release();
    if (!ok) std::fprintf(stderr, "%s: %s\n", family, error.c_str());
    return ok ? stage.source : std::string();
}

// The same source with the alpha test compiled in (the define after the version line).
std::string WithAlphaTest(const std::string& glsl) {
    const size_t line = glsl.find('\n');
    return glsl.substr(0, line + 1) + "#define " + gfx::detail::kAlphaTestDefine + "\n" + glsl.substr(line + 1);
}

// One vertex stage for every side: a full-screen quad with the varyings both pixel
// stages read, by the device's varying locations (TEXCOORDn at location n).
const char* kQuadVertex = R"(#version 450
layout(location = 0) in vec2 position;
layout(location = 0) out vec2 uv;
layout(location = 1) out vec2 glowUv;
layout(location = 2) out vec2 vignette;
layout(location = 3) out vec4 gradient;
layout(location = 4) out vec2 cloudUv;
layout(location = 5) out vec4 factor;
void main() {
    uv = position * vec2(0.5, -0.5) + 0.5;
    glowUv = uv * 0.25;
    vignette = (uv * 2.0 - 1.0) * vec2(1.6, 1.0);
    gradient = vec4(0.2, 0.3, 0.4, 0.15);
    cloudUv = uv * 3.0;
    factor = vec4(1.0);
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

// ENABLED OUTLINES, by hand.
const char* kCompositeTwin = R"(#version 450
layout(binding = 0) uniform sampler2D SceneTexture;
layout(binding = 1) uniform sampler2D GlowTexture;
layout(binding = 2) uniform sampler2D OutlineTexture;
layout(binding = 3) uniform sampler2D ToneLookupTexture;
layout(binding = 5) uniform sampler2D CloudTexture;
uniform vec4 GlowColor;      // c0
uniform vec4 Grading;        // c1: vignette ramp, saturation, contrast
uniform vec4 Outline;        // c3
uniform vec4 Exclude0;       // c4
uniform vec4 Exclude1;       // c5
uniform vec4 ExcludeRamps;   // c6
uniform vec4 Exposition;     // c7 (w)
uniform vec4 CloudColor;     // c8
layout(location = 0) in vec2 uv;
layout(location = 1) in vec2 glowUv;
layout(location = 2) in vec2 vignette;
layout(location = 3) in vec4 gradient;
layout(location = 4) in vec2 cloudUv;
layout(location = 5) in vec4 factor;
layout(location = 0) out vec4 result;

float Luminance(vec3 c) { return dot(c, vec3(0.2126, 0.7152, 0.0722)); }
vec3 SrgbDecode(vec3 c) {
    return mix(pow(c * (1.0 / 1.055) + 0.055 / 1.055, vec3(2.4)), c * (1.0 / 12.92), lessThanEqual(c, vec3(0.04045)));
}

void main() {
    vec4 scene = texture(SceneTexture, uv);
    vec3 colour = (scene.rgb + texture(GlowTexture, glowUv).rgb * GlowColor.rgb) * Exposition.w;
    vec3 original = colour;
    vec3 t = clamp(sqrt(max(colour, 0.0)) * 0.5, 0.0, 1.0) * (1023.0 / 1024.0) + 0.5 / 1024.0;
    colour = SrgbDecode(vec3(texture(ToneLookupTexture, vec2(t.r, 0.5)).r, texture(ToneLookupTexture, vec2(t.g, 0.5)).g,
                             texture(ToneLookupTexture, vec2(t.b, 0.5)).b));
    colour = mix(vec3(Luminance(colour)), colour, Grading.z);
    colour = clamp((colour - 0.5) * Grading.w + 0.5, 0.0, 1.0);
    float keep0 = clamp(length(original - Exclude0.rgb) * ExcludeRamps.x + ExcludeRamps.z, 0.0, 1.0);
    float keep1 = clamp(length(original - Exclude1.rgb) * ExcludeRamps.y + ExcludeRamps.w, 0.0, 1.0);
    colour = mix(clamp(original, 0.0, 1.0), colour, mix(1.0, keep0, Exclude0.a) * mix(1.0, keep1, Exclude1.a));
    colour = mix(colour, gradient.rgb, clamp(gradient.a, 0.0, 1.0));
    colour *= mix(vec3(1.0), texture(CloudTexture, cloudUv).rgb * CloudColor.rgb, CloudColor.a);
    colour *= clamp(length(vignette) * Grading.x + Grading.y, 0.0, 1.0);
    vec4 outline = texture(OutlineTexture, uv);
    colour = mix(colour, outline.rgb / max(outline.a, 1e-3), clamp(outline.a * Outline.x - Outline.y, 0.0, 1.0));
    result = vec4(colour * factor.rgb, scene.a);
}
)";

// HARDWARE_DEPTH SHADOWMAP SHADOWMAP_FILTERING, by hand.
const char* kSunTwin = R"(#version 450
layout(binding = 5) uniform samplerCube AmbientCube;
layout(binding = 6) uniform sampler2D NormalTexture;
layout(binding = 10) uniform sampler2D DepthTexture;
layout(binding = 12) uniform sampler2D ShadowTexture;
uniform vec4 InverseView[4];  // c10-c13, rows: view to world
uniform vec4 SunDirection;    // c14
uniform vec4 SpecularDirection;
uniform vec4 SunColor;
uniform vec4 SecondaryColor;
uniform vec4 SideColor;
uniform vec4 SpecularColor;   // c19
uniform vec4 LightTerms;      // c20
uniform vec4 ShadowMatrix[4]; // c25-c28, rows: view to shadow-map texture space
uniform vec4 ShadowTerms;     // c29
uniform vec4 DepthParams;     // c217
uniform vec4 ProjectionTerms; // c219
layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 result;

void main() {
    float depth = DepthParams.x / (texture(DepthTexture, uv).r * ProjectionTerms.z + ProjectionTerms.w);
    vec3 viewPosition = vec3((uv * 2.0 - 1.0) * vec2(1.0, -1.0) * ProjectionTerms.xy, 1.0) * depth;
    vec3 normal = normalize(texture(NormalTexture, uv).xyz * 2.0 - 1.0);
    float facing = dot(normal, SunDirection.xyz);
    vec4 s = viewPosition.x * ShadowMatrix[0] + viewPosition.y * ShadowMatrix[1] + viewPosition.z * ShadowMatrix[2] +
             ShadowMatrix[3];
    vec2 at = s.xy / s.w;
    float z = s.z / s.w, d = 0.5 * ShadowTerms.y;
    float lit = (texture(ShadowTexture, at + vec2(-d, -d)).r >= z ? 0.25 : 0.0) +
                (texture(ShadowTexture, at + vec2(d, -d)).r >= z ? 0.25 : 0.0) +
                (texture(ShadowTexture, at + vec2(-d, d)).r >= z ? 0.25 : 0.0) +
                (texture(ShadowTexture, at + vec2(d, d)).r >= z ? 0.25 : 0.0);
    float sun = clamp((facing + LightTerms.x) / (1.0 + LightTerms.x), 0.0, 1.0) *
                (ShadowTerms.x + (1.0 - ShadowTerms.x) * lit);
    vec3 world = (normal.x * InverseView[0] + normal.y * InverseView[1] + normal.z * InverseView[2]).xyz;
    vec3 ambient = texture(AmbientCube, world).rgb * 0.25;
    vec3 colour = ambient + SecondaryColor.rgb + SideColor.rgb * (1.0 - abs(facing)) + SunColor.rgb * sun;
    vec3 h = normalize(SpecularDirection.xyz - normalize(viewPosition));
    float specular = pow(clamp(dot(normal, h), 0.0, 1.0), 32.0) * sun * dot(SpecularColor.rgb, vec3(0.2126, 0.7152, 0.0722));
    result = vec4(colour, specular);
}
)";

GLuint CompileStage(GLenum type, const std::string& text) {
    const GLuint s = gl->glCreateShader(type);
    const char* p = text.c_str();
    gl->glShaderSource(s, 1, &p, nullptr);
    gl->glCompileShader(s);
    GLint ok = 0;
    gl->glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        gl->glGetShaderInfoLog(s, sizeof log, nullptr, log);
        std::fprintf(stderr, "shader_twin_bench: %s\n", log);
        gl->glDeleteShader(s);
        return 0;
    }
    return s;
}

GLuint Link(const std::string& pixel) {
    const GLuint v = CompileStage(GL_VERTEX_SHADER, kQuadVertex), f = CompileStage(GL_FRAGMENT_SHADER, pixel);
    if (!v || !f) return 0;
    const GLuint p = gl->glCreateProgram();
    gl->glAttachShader(p, v);
    gl->glAttachShader(p, f);
    gl->glLinkProgram(p);
    GLint ok = 0;
    gl->glGetProgramiv(p, GL_LINK_STATUS, &ok);
    return ok ? p : 0;
}

// The register file both sides read: the translation as the array, the twin by name.
using Registers = std::map<int, std::vector<float>>;  // first register -> its values (4 per register)

void SetRegisters(GLuint program, const Registers& registers, const std::map<std::string, int>& names) {
    gl->glUseProgram(program);
    const GLint array = gl->glGetUniformLocation(program, "gfx_PixelConstants");
    if (array >= 0) {
        std::vector<float> file(224 * 4, 0.0f);
        for (const auto& [reg, v] : registers) std::copy(v.begin(), v.end(), file.begin() + reg * 4);
        gl->glUniform4fv(array, 224, file.data());
        return;
    }
    for (const auto& [name, reg] : names) {
        const GLint at = gl->glGetUniformLocation(program, name.c_str());
        auto it = registers.find(reg);
        if (at < 0 || it == registers.end()) continue;
        gl->glUniform4fv(at, static_cast<GLsizei>(it->second.size() / 4), it->second.data());
    }
}

GLuint Texture2D(GLenum internal, GLenum layout, GLenum type, int w, int h, const void* texels) {
    GLuint t = 0;
    gl->glGenTextures(1, &t);
    gl->glBindTexture(GL_TEXTURE_2D, t);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, internal, w, h, 0, layout, type, texels);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    return t;
}

// A sampler as the device makes one: linear, clamped, sRGB decoding as asked.
GLuint Sampler(bool srgb, bool linear = true) {
    GLuint s = 0;
    gl->glGenSamplers(1, &s);
    gl->glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    gl->glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    gl->glSamplerParameteri(s, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->glSamplerParameteri(s, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl->glSamplerParameteri(s, GL_TEXTURE_SRGB_DECODE_EXT,
                            srgb ? gfx::detail::kGlDecodeExt : gfx::detail::kGlSkipDecodeExt);
    return s;
}

void Bind(GLuint unit, GLenum target, GLuint texture, GLuint sampler) {
    gl->glActiveTexture(GL_TEXTURE0 + unit);
    gl->glBindTexture(target, texture);
    gl->glBindSampler(unit, sampler);
}

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> v(bytes);
    for (uint8_t& b : v) {
        seed = seed * 214013u + 2531011u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

struct Shader {
    const char* name;
    GLuint translated = 0, twin = 0, alphaTested = 0;
    std::function<void()> bindInputs;
};

struct Figures {
    double translated = 0, twin = 0, alphaTested = 0;
};
std::map<std::string, std::vector<Figures>> gFigures;  // one per repetition

struct Scene {
    bool ready = false;
    EGLDisplay display = EGL_NO_DISPLAY;
    GLuint colourTarget = 0, depthStencil = 0, fbo = 0, vao = 0, quad = 0;
    std::vector<Shader> shaders;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Scene& TheScene() {
    static Scene s;
    static bool tried = false;
    if (tried) return s;
    tried = true;
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    auto platformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!platformDisplay) return s;
    s.display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (s.display == EGL_NO_DISPLAY || !eglInitialize(s.display, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API))
        return s;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    const EGLContext context = eglCreateContext(s.display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return s;
    gl = gfx::detail::LoadGlFunctions([](const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); });
    if (!gl) return s;

    // The light buffer / back buffer (8-bit, stored as sRGB like every 8-bit target of the
    // device) with the scene's depth-stencil target: the middle third of the rows marked.
    s.colourTarget = Texture2D(GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, kWidth, kHeight, nullptr);
    s.depthStencil = Texture2D(GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, kWidth, kHeight, nullptr);
    gl->glGenFramebuffers(1, &s.fbo);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, s.fbo);
    gl->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, s.colourTarget, 0);
    gl->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_TEXTURE_2D, s.depthStencil, 0);
    gl->glViewport(0, 0, kWidth, kHeight);
    gl->glClearStencil(0);
    gl->glClearDepthf(0.5f);
    gl->glClear(GL_STENCIL_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glEnable(GL_SCISSOR_TEST);
    gl->glScissor(0, kHeight / 3, kWidth, kHeight / 3);
    gl->glClearStencil(1);
    gl->glClear(GL_STENCIL_BUFFER_BIT);
    gl->glDisable(GL_SCISSOR_TEST);

    gl->glGenVertexArrays(1, &s.vao);
    gl->glBindVertexArray(s.vao);
    const float corners[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    gl->glGenBuffers(1, &s.quad);
    gl->glBindBuffer(GL_ARRAY_BUFFER, s.quad);
    gl->glBufferData(GL_ARRAY_BUFFER, sizeof corners, corners, GL_STATIC_DRAW);
    gl->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 8, nullptr);
    gl->glEnableVertexAttribArray(0);

    // Composite inputs.
    std::vector<uint16_t> half(static_cast<size_t>(kWidth) * kHeight * 4);
    const std::vector<uint8_t> noise = Noise(half.size() * 2, 7);
    for (size_t i = 0; i < half.size(); ++i) half[i] = static_cast<uint16_t>(0x3000 + (noise[i] << 3));  // 0.125..1.9
    const GLuint scene = Texture2D(GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, kWidth, kHeight, half.data());
    const GLuint glow = Texture2D(GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, kWidth, kHeight, noise.data());
    const GLuint outline = Texture2D(GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, kWidth, kHeight, noise.data());
    const GLuint curve = Texture2D(GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 1024, 1, noise.data());
    const GLuint cloud = Texture2D(GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 256, 256, noise.data());
    const GLuint plain = Sampler(false), decoded = Sampler(true), point = Sampler(false, false);

    // Sun-pass inputs.
    const std::vector<uint8_t> shadowBytes = Noise(2048u * 2048u * 2, 11);
    const GLuint shadow = Texture2D(GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2048, 2048,
                                    shadowBytes.data());
    const GLuint normals = Texture2D(GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, kWidth, kHeight, noise.data());
    // The depth the pass reads, as a texture of its own (the target stays bound for the stencil).
    const GLuint depth = Texture2D(GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, kWidth, kHeight,
                                   noise.data());
    GLuint cube = 0;
    gl->glGenTextures(1, &cube);
    gl->glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
    for (GLenum face = 0; face < 6; ++face)
        gl->glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_SRGB8_ALPHA8, 8, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         noise.data() + face * 256);
    gl->glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAX_LEVEL, 0);

    const Registers compositeRegisters = {
        {0, {0.6f, 0.5f, 0.4f, 1.0f}},  {1, {-0.6f, 1.3f, 0.9f, 1.1f}}, {3, {4.0f, 1.0f, 0.0f, 0.0f}},
        {4, {0.1f, 0.8f, 0.2f, 0.5f}},  {5, {0.7f, 0.2f, 0.6f, 0.3f}},   {6, {2.0f, 1.5f, -0.2f, -0.1f}},
        {7, {-0.5f / kWidth, -0.5f / kHeight, 0.0f, 1.2f}}, {8, {0.9f, 0.9f, 1.0f, 0.4f}}};
    const std::map<std::string, int> compositeNames = {
        {"GlowColor", 0}, {"Grading", 1},      {"Outline", 3},   {"Exclude0", 4},
        {"Exclude1", 5},  {"ExcludeRamps", 6}, {"Exposition", 7}, {"CloudColor", 8}};
    // A view looking down +z, the sun from above, the shadow map covering the view.
    const Registers sunRegisters = {
        {10, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
        {14, {0.3f, 0.8f, -0.5f, 0}}, {15, {0.2f, 0.9f, -0.4f, 0}}, {16, {0.25f, 0.24f, 0.2f, 0.24f}},
        {17, {0.05f, 0.05f, 0.06f, 0}}, {18, {0.04f, 0.03f, 0.03f, 0}}, {19, {0.2f, 0.2f, 0.2f, 0}},
        {20, {0.3f, 0.5f, 0.7f, 0}},
        {25, {0.02f, 0, 0, 0, 0, 0.02f, 0, 0, 0, 0, 0.01f, 0, 0.5f, 0.5f, 0.0f, 1}},
        {29, {0.3f, 1.0f / 2048.0f, 2048.0f, 0}},
        {217, {1.0f, 0, 0.001f, 0}}, {219, {1.2f, 1.9f, -0.99f, 1.0f}}};
    const std::map<std::string, int> sunNames = {
        {"InverseView", 10}, {"SunDirection", 14}, {"SpecularDirection", 15}, {"SunColor", 16},
        {"SecondaryColor", 17}, {"SideColor", 18}, {"SpecularColor", 19}, {"LightTerms", 20},
        {"ShadowMatrix", 25}, {"ShadowTerms", 29}, {"DepthParams", 217}, {"ProjectionTerms", 219}};

    struct Source {
        const char* name;
        const char* family;
        std::vector<const char*> options;
        const char* twin;
        const Registers* registers;
        const std::map<std::string, int>* names;
        std::function<void()> bind;
    };
    const Source sources[] = {
        {"composite", "Postprocess", {"ENABLED", "OUTLINES"}, kCompositeTwin, &compositeRegisters, &compositeNames,
         [=] {
             gl->glDisable(GL_STENCIL_TEST);
             Bind(0, GL_TEXTURE_2D, scene, plain);
             Bind(1, GL_TEXTURE_2D, glow, decoded);
             Bind(2, GL_TEXTURE_2D, outline, plain);
             Bind(3, GL_TEXTURE_2D, curve, plain);  // the table is read as stored and converted in the shader
             Bind(5, GL_TEXTURE_2D, cloud, decoded);
         }},
        {"sun", "LightFinalComponents", {"HARDWARE_DEPTH", "SHADOWMAP", "SHADOWMAP_FILTERING"}, kSunTwin, &sunRegisters,
         &sunNames, [=] {
             gl->glEnable(GL_STENCIL_TEST);
             gl->glStencilFunc(GL_EQUAL, 1, 0xFF);
             gl->glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
             gl->glStencilMask(0xFF);  // the device's default write mask: the ops keep every value
             Bind(5, GL_TEXTURE_CUBE_MAP, cube, decoded);
             Bind(6, GL_TEXTURE_2D, normals, point);
             Bind(10, GL_TEXTURE_2D, depth, point);
             Bind(12, GL_TEXTURE_2D, shadow, plain);
         }},
    };
    for (const Source& src : sources) {
        const std::string translated = Translate(src.family, src.options);
        if (translated.empty()) return s;
        Shader shader{src.name, Link(translated), Link(src.twin), Link(WithAlphaTest(translated)), src.bind};
        if (!shader.translated || !shader.twin || !shader.alphaTested) return s;
        for (GLuint p : {shader.translated, shader.twin, shader.alphaTested})
            SetRegisters(p, *src.registers, *src.names);
        // The alpha test off, as the device sends it for a draw without one.
        gl->glUseProgram(shader.alphaTested);
        gl->glUniform1i(gl->glGetUniformLocation(shader.alphaTested, "gfx_AlphaFunc"), 0);
        s.shaders.push_back(shader);
    }
    s.ready = true;
    return s;
}

// Draws the quad with the program and waits for it; the seconds it took.
double DrawOnce(GLuint program) {
    const auto start = std::chrono::steady_clock::now();
    gl->glUseProgram(program);
    gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl->glFinish();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_TranslatedAgainstTwin(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no drawing context or a shader did not build");
        return;
    }
    Shader& shader = scene.shaders[static_cast<size_t>(state.range(0))];
    state.SetLabel(shader.name);
    shader.bindInputs();
    for (GLuint p : {shader.translated, shader.twin, shader.alphaTested}) DrawOnce(p);  // compiles the variants
    std::vector<double> translated, twin, alphaTested;
    for (auto _ : state) {
        double total = 0;
        for (int round = 0; round < kRounds; ++round) {
            translated.push_back(DrawOnce(shader.translated));
            twin.push_back(DrawOnce(shader.twin));
            alphaTested.push_back(DrawOnce(shader.alphaTested));
            total += translated.back() + twin.back() + alphaTested.back();
        }
        state.SetIterationTime(total);
    }
    Figures f{Median(translated), Median(twin), Median(alphaTested)};
    gFigures[shader.name].push_back(f);
    state.counters["translated_ms"] = f.translated * 1e3;
    state.counters["twin_ms"] = f.twin * 1e3;
    state.counters["ratio"] = f.twin > 0 ? f.translated / f.twin : 0.0;
    state.counters["with_alpha_test_ms"] = f.alphaTested * 1e3;
}
BENCHMARK(BM_TranslatedAgainstTwin)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // The medians of the repetitions' figures, the ratio's range beside it.
    for (const auto& [name, reps] : gFigures) {
        std::vector<double> translated, twin, alphaTested, ratio;
        for (const Figures& f : reps) {
            translated.push_back(f.translated);
            twin.push_back(f.twin);
            alphaTested.push_back(f.alphaTested);
            ratio.push_back(f.twin > 0 ? f.translated / f.twin : 0.0);
        }
        std::printf("shader_twin_bench (%s): translated %.2f ms, hand-written %.2f ms; with the alpha test compiled "
                    "in %.2f ms (medians)\n",
                    name.c_str(), Median(translated) * 1e3, Median(twin) * 1e3, Median(alphaTested) * 1e3);
        benchsupport::PrintFigure((name + ": translated / hand-written, time").c_str(), benchsupport::SpreadOf(ratio),
                                  "at most 1.3");
    }
    benchmark::Shutdown();
    return 0;
}
