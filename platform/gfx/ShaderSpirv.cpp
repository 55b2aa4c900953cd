// HLSL to SPIR-V through glslang, and SPIR-V to GLSL 450 through SPIRV-Cross (see
// ShaderSpirv.h for the interface between the two stages).
//
// glslang keeps process-wide tables: InitializeProcess runs once, on the first compile,
// and the tables live until the process ends. Each compile has its own TShader and
// TProgram, so compiles on several threads do not share state.
#include "platform/gfx/ShaderSpirv.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross_c.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/gfx/GfxEnums.h"

namespace gfx::detail {
namespace {

constexpr uint32_t kCommentOpcode = 0xFFFE;

void InitGlslangOnce() {
    static std::once_flag once;
    std::call_once(once, [] { glslang::InitializeProcess(); });
}

// glslang's info log: "ERROR: memory:12: 'x' : undeclared identifier" per line.
void ParseLog(const char* log, bool errorsOnly, std::vector<SpirvMessage>* out) {
    if (!log) return;
    const char* p = log;
    while (*p) {
        const char* end = std::strchr(p, '\n');
        std::string line(p, end ? end : p + std::strlen(p));
        p = end ? end + 1 : p + line.size();
        SpirvMessage m{0, false, {}};
        if (line.rfind("ERROR: ", 0) == 0) {
            m.error = true;
            line.erase(0, 7);
        } else if (line.rfind("WARNING: ", 0) == 0) {
            line.erase(0, 9);
        } else {
            continue;  // summary lines ("1 compilation errors ...") and blanks
        }
        if (line.rfind("memory:", 0) == 0) {
            const char* digits = line.c_str() + 7;
            char* after = nullptr;
            const unsigned long n = std::strtoul(digits, &after, 10);
            if (after != digits && *after == ':') {
                m.line = static_cast<uint32_t>(n);
                line.erase(0, static_cast<size_t>(after - line.c_str()) + 1);
                while (!line.empty() && line[0] == ' ') line.erase(0, 1);
            }
        }
        if (errorsOnly && !m.error) continue;
        m.text = line;
        out->push_back(std::move(m));
    }
}

}  // namespace

bool CompileHlslToSpirv(const std::string& text, bool pixel, std::vector<uint32_t>* spirv,
                        std::vector<SpirvMessage>* messages) {
    InitGlslangOnce();
    const EShLanguage stage = pixel ? EShLangFragment : EShLangVertex;
    glslang::TShader shader(stage);
    const char* strings[] = {text.c_str()};
    const int lengths[] = {static_cast<int>(text.size())};
    const char* names[] = {"memory"};
    shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    shader.setSourceEntryPoint(pixel ? "pixel" : "vertex");
    shader.setEntryPoint("main");
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientOpenGL, 100);
    shader.setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1();  // the semantic of every stage input and output
    shader.setAutoMapBindings(true);
    shader.setAutoMapLocations(true);
    shader.setHlslIoMapping(true);  // register(sN) -> binding N
    const auto rules = static_cast<EShMessages>(EShMsgSpvRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible);
    const bool parsed = shader.parse(GetDefaultResources(), 100, false, rules);
    ParseLog(shader.getInfoLog(), false, messages);
    if (!parsed) return false;
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(rules) || !program.mapIO()) {
        ParseLog(program.getInfoLog(), true, messages);
        bool any = false;
        for (const SpirvMessage& m : *messages) any = any || m.error;
        if (!any) messages->push_back({0, true, "link failed"});
        return false;
    }
    spv::SpvBuildLogger logger;
    glslang::SpvOptions options;
    options.disableOptimizer = true;
    spirv->clear();
    glslang::GlslangToSpv(*program.getIntermediate(stage), *spirv, &logger, &options);
    const std::string extra = logger.getAllMessages();
    if (!extra.empty()) messages->push_back({0, false, extra});
    return !spirv->empty();
}

int VaryingLocation(const std::string& semantic) {
    uint8_t usage = 0, index = 0;
    if (!ParseInputSemantic(semantic, &usage, &index)) return -1;
    switch (usage) {
    case DECLUSAGE_TEXCOORD: return index < 16 ? index : -1;
    case DECLUSAGE_COLOR: return index < 2 ? 16 + index : -1;
    case DECLUSAGE_FOG: return 18;
    case DECLUSAGE_NORMAL: return index < 2 ? 19 + index : -1;
    case DECLUSAGE_TANGENT: return 21;
    case DECLUSAGE_BINORMAL: return 22;
    case DECLUSAGE_DEPTH: return 23;
    case DECLUSAGE_PSIZE: return 24;
    default: return -1;
    }
}

bool ParseInputSemantic(const std::string& semantic, uint8_t* usage, uint8_t* usageIndex) {
    static const struct {
        const char* name;
        uint8_t usage;
    } kUsages[] = {
        {"POSITIONT", DECLUSAGE_POSITIONT}, {"POSITION", DECLUSAGE_POSITION},       {"BLENDWEIGHT", DECLUSAGE_BLENDWEIGHT},
        {"BLENDINDICES", DECLUSAGE_BLENDINDICES}, {"NORMAL", DECLUSAGE_NORMAL}, {"PSIZE", DECLUSAGE_PSIZE},
        {"TEXCOORD", DECLUSAGE_TEXCOORD},   {"TANGENT", DECLUSAGE_TANGENT},         {"BINORMAL", DECLUSAGE_BINORMAL},
        {"TESSFACTOR", DECLUSAGE_TESSFACTOR}, {"COLOR", DECLUSAGE_COLOR},           {"FOG", DECLUSAGE_FOG},
        {"DEPTH", DECLUSAGE_DEPTH},         {"SAMPLE", DECLUSAGE_SAMPLE},
    };
    std::string upper;
    for (const char c : semantic) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    size_t digits = upper.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(upper[digits - 1]))) --digits;
    const std::string base = upper.substr(0, digits);
    unsigned long index = 0;
    if (digits < upper.size()) {
        if (upper.size() - digits > 2) return false;
        index = std::strtoul(upper.c_str() + digits, nullptr, 10);
    }
    for (const auto& u : kUsages) {
        if (base == u.name) {
            *usage = u.usage;
            *usageIndex = static_cast<uint8_t>(index);
            return true;
        }
    }
    return false;
}

bool FindSpirv(const void* code, size_t bytes, std::vector<uint32_t>* words) {
    const size_t count = bytes / 4;
    const auto* b = static_cast<const uint8_t*>(code);
    auto word = [b](size_t i) {
        uint32_t v;
        std::memcpy(&v, b + i * 4, 4);
        return v;
    };
    for (size_t i = 1; i < count;) {
        const uint32_t token = word(i);
        if (token == kShaderEndToken) return false;
        if ((token & 0xFFFF) != kCommentOpcode) {
            i += 1 + ((token >> 24) & 0xF);
            continue;
        }
        const size_t length = (token >> 16) & 0x7FFF;
        if (length > count - i - 1) return false;
        if (length >= 2 && word(i + 1) == kSpirvTag) {
            words->resize(length - 1);
            std::memcpy(words->data(), b + (i + 2) * 4, (length - 1) * 4);
            return true;
        }
        i += 1 + length;
    }
    return false;
}

namespace {

struct SpvcContext {
    spvc_context context = nullptr;
    ~SpvcContext() {
        if (context) spvc_context_destroy(context);
    }
};

void AppendWrapper(bool pixel, const std::string& colorOutput, std::string* source) {
    // The entry point SPIRV-Cross wrote becomes an inner function; main adds the rules
    // of the original device that core GL leaves to the shader.
    const std::string from = "void main()";
    const size_t at = source->find(from);
    if (at == std::string::npos) return;
    source->replace(at, from.size(), "void gfx_main()");
    // Uniforms go right after the version and extension lines.
    size_t insert = 0;
    for (size_t p = 0; p < source->size();) {
        const size_t end = source->find('\n', p);
        if (end == std::string::npos) break;
        if ((*source)[p] == '#') insert = end + 1;
        else if (end > p) break;
        p = end + 1;
    }
    if (!pixel) {
        // Clip y is negated, so the picture's rows grow with GL's window y and GL's
        // tie rule comes out as the original's top-left rule (see GlBackend.cpp).
        // Pixel centres: the original device samples pixel i at integer coordinate i,
        // GL at i + 0.5, so the geometry moves half a pixel right and down (in clip
        // units after the negation; the device sets the amount per viewport).
        source->insert(insert, "uniform vec2 gfx_HalfPixel;\n");
        *source += "void main()\n{\n    gfx_main();\n    gl_Position.y = -gl_Position.y;\n"
                   "    gl_Position.xy += gfx_HalfPixel * gl_Position.w;\n}\n";
        return;
    }
    // Alpha test (RS_ALPHATESTENABLE, RS_ALPHAFUNC, RS_ALPHAREF): the reference byte is
    // compared with the output alpha quantised to a byte, as the original's blend unit
    // sees it. gfx_AlphaFunc 0 (or ALWAYS) passes everything. The test is compiled in
    // only with kAlphaTestDefine: a discard anywhere in a pixel shader makes the software
    // rasteriser test depth and stencil after shading instead of before, so pixels the
    // stencil or depth test rejects would be shaded all the same.
    source->insert(insert, "#ifdef " + std::string(kAlphaTestDefine) +
                               "\nuniform int gfx_AlphaFunc;\nuniform float gfx_AlphaRef;\n#endif\n");
    std::string body = "void main()\n{\n    gfx_main();\n";
    if (!colorOutput.empty()) {
        body += "#ifdef " + std::string(kAlphaTestDefine) + "\n"
                "    float a = floor(clamp(" + colorOutput + ".a, 0.0, 1.0) * 255.0 + 0.5);\n"
                "    bool pass = true;\n"
                "    switch (gfx_AlphaFunc) {\n"
                "    case 1: pass = false; break;\n"
                "    case 2: pass = a < gfx_AlphaRef; break;\n"
                "    case 3: pass = a == gfx_AlphaRef; break;\n"
                "    case 4: pass = a <= gfx_AlphaRef; break;\n"
                "    case 5: pass = a > gfx_AlphaRef; break;\n"
                "    case 6: pass = a != gfx_AlphaRef; break;\n"
                "    case 7: pass = a >= gfx_AlphaRef; break;\n"
                "    default: break;\n"
                "    }\n"
                "    if (!pass) discard;\n"
                "#endif\n";
    }
    body += "}\n";
    *source += body;
}

}  // namespace

bool SpirvToGlsl(const uint32_t* words, size_t count, bool pixel, GlslStage* out, std::string* error) {
    SpvcContext ctx;
    if (spvc_context_create(&ctx.context) != SPVC_SUCCESS) {
        *error = "SPIRV-Cross context";
        return false;
    }
    spvc_parsed_ir ir = nullptr;
    spvc_compiler compiler = nullptr;
    auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + spvc_context_get_last_error_string(ctx.context);
        return false;
    };
    if (spvc_context_parse_spirv(ctx.context, words, count, &ir) != SPVC_SUCCESS) return fail("parse");
    if (spvc_context_create_compiler(ctx.context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_TAKE_OWNERSHIP,
                                     &compiler) != SPVC_SUCCESS)
        return fail("compiler");
    spvc_entry_point* entries = nullptr;
    size_t entryCount = 0;
    spvc_compiler_get_entry_points(compiler, const_cast<const spvc_entry_point**>(&entries), &entryCount);
    if (entryCount != 1 || entries[0].execution_model != (pixel ? SpvExecutionModelFragment : SpvExecutionModelVertex)) {
        *error = "not a single " + std::string(pixel ? "pixel" : "vertex") + " entry point";
        return false;
    }
    spvc_resources resources = nullptr;
    if (spvc_compiler_create_shader_resources(compiler, &resources) != SPVC_SUCCESS) return fail("resources");
    const spvc_reflected_resource* list = nullptr;
    size_t n = 0;

    // The constant block.
    spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, &list, &n);
    out->constantBytes = 0;
    for (size_t i = 0; i < n; ++i) {
        spvc_compiler_unset_decoration(compiler, list[i].id, SpvDecorationBinding);
        spvc_compiler_unset_decoration(compiler, list[i].id, SpvDecorationDescriptorSet);
        size_t size = 0;
        spvc_compiler_get_declared_struct_size(compiler, spvc_compiler_get_type_handle(compiler, list[i].base_type_id),
                                               &size);
        out->constantBytes = static_cast<uint32_t>(size);
        spvc_compiler_set_name(compiler, list[i].id, pixel ? "gfx_PixelConstants" : "gfx_VertexConstants");
        spvc_compiler_set_name(compiler, list[i].base_type_id, pixel ? "gfx_PixelConstants" : "gfx_VertexConstants");
        // GLSL wants block members in offset order, HLSL declares them in any order:
        // the block becomes one vec4 array, a register per element.
        if (spvc_compiler_flatten_buffer_block(compiler, list[i].id) != SPVC_SUCCESS) return fail("flatten");
    }
    // Samplers keep the binding of their register.
    spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_SAMPLED_IMAGE, &list, &n);
    out->samplers.clear();
    for (size_t i = 0; i < n; ++i) {
        const unsigned binding = spvc_compiler_get_decoration(compiler, list[i].id, SpvDecorationBinding);
        spvc_compiler_unset_decoration(compiler, list[i].id, SpvDecorationDescriptorSet);
        // Uniform locations differ between the stages of a pair; the unit is what matters.
        spvc_compiler_unset_decoration(compiler, list[i].id, SpvDecorationLocation);
        spvc_type type = spvc_compiler_get_type_handle(compiler, list[i].type_id);
        const bool cube = spvc_type_get_image_dimension(type) == SpvDimCube;
        out->samplers.push_back({binding, cube});
    }
    // Stage inputs and outputs.
    out->inputs.clear();
    spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STAGE_INPUT, &list, &n);
    for (size_t i = 0; i < n; ++i) {
        const char* semantic = spvc_compiler_get_decoration_string(compiler, list[i].id, SpvDecorationUserSemantic);
        const std::string s = semantic ? semantic : "";
        if (!pixel) {
            GlslInput in{spvc_compiler_get_decoration(compiler, list[i].id, SpvDecorationLocation), 0, 0};
            if (!ParseInputSemantic(s, &in.usage, &in.usageIndex)) {
                *error = "vertex input without a known semantic: '" + s + "'";
                return false;
            }
            out->inputs.push_back(in);
        } else {
            const int location = VaryingLocation(s);
            if (location < 0) {
                *error = "pixel input without an interpolated semantic: '" + s + "'";
                return false;
            }
            spvc_compiler_set_decoration(compiler, list[i].id, SpvDecorationLocation, static_cast<unsigned>(location));
        }
    }
    spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STAGE_OUTPUT, &list, &n);
    out->colorOutput.clear();
    for (size_t i = 0; i < n; ++i) {
        const char* semantic = spvc_compiler_get_decoration_string(compiler, list[i].id, SpvDecorationUserSemantic);
        const std::string s = semantic ? semantic : "";
        if (!pixel) {
            const int location = VaryingLocation(s);
            if (location < 0) {
                *error = "vertex output without an interpolated semantic: '" + s + "'";
                return false;
            }
            spvc_compiler_set_decoration(compiler, list[i].id, SpvDecorationLocation, static_cast<unsigned>(location));
        } else {
            const unsigned location = spvc_compiler_get_decoration(compiler, list[i].id, SpvDecorationLocation);
            if (location == 0 && spvc_compiler_has_decoration(compiler, list[i].id, SpvDecorationLocation)) {
                out->colorOutput = "gfx_Color0";
                spvc_compiler_set_name(compiler, list[i].id, out->colorOutput.c_str());
            }
        }
    }

    spvc_compiler_options options = nullptr;
    if (spvc_compiler_create_compiler_options(compiler, &options) != SPVC_SUCCESS) return fail("options");
    spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 450);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_VULKAN_SEMANTICS, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ENABLE_420PACK_EXTENSION, SPVC_TRUE);
    spvc_compiler_install_compiler_options(compiler, options);
    const char* glsl = nullptr;
    if (spvc_compiler_compile(compiler, &glsl) != SPVC_SUCCESS || !glsl) return fail("compile");
    out->source = glsl;
    AppendWrapper(pixel, out->colorOutput, &out->source);
    return true;
}

}  // namespace gfx::detail
