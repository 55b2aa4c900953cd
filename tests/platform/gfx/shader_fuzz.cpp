// Fuzz target: the shader preprocessor and scanner on arbitrary sources (with an include
// handler serving the input itself), and the constant-table reader on arbitrary blobs.
#include <cstring>
#include <string>

#include "platform/gfx/ShaderCompiler.h"

using namespace gfx;

namespace {

class SelfInclude : public IncludeHandler {
public:
    SelfInclude(const uint8_t* data, size_t size) : data(data), size(size) {}
    Result Open(IncludeType, const char*, const void*, const void** out, uint32_t* bytes) override {
        *out = data;
        *bytes = static_cast<uint32_t>(size);
        return OK;
    }
    Result Close(const void*) override { return OK; }
    const uint8_t* data;
    size_t size;
};

const char* const kSeeds[] = {
    ("#define A(x) (x*2)\n#if defined(A) && A(3) == 6\nfloat4 C : register(c4);\n#else\n#error no\n#endif\n"
     "sampler2D S : register(s1);\nfloat4 pixel() : COLOR { return C; }\n"),
    "#include \"self\"\nfloat4x3 Bones[64];\nfloat4 vertex() : POSITION { return 0; } /* c */ // d\n",
    "#ifdef X\n#elif 1 ? 2 : 3\nbool B : register(b2);\n#endif\\\n\nint I[4];\n",
};

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (const char* s : kSeeds) add(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
    Blob* code = nullptr;
    if (Succeeded(CompileShader(kSeeds[0], static_cast<uint32_t>(std::strlen(kSeeds[0])), nullptr, nullptr, "pixel",
                                "ps_3_0", 0, &code, nullptr, nullptr))) {
        add(static_cast<const uint8_t*>(code->GetBufferPointer()), code->GetBufferSize());
        code->Release();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SelfInclude include(data, size);
    const ShaderMacro macros[] = {{"OPTION", nullptr}, {"MAX_SHADER_SKINNING_BONES", "64"}, {nullptr, nullptr}};
    for (const char* profile : {"vs_3_0", "ps_3_0"}) {
        Blob* code = nullptr;
        Blob* errors = nullptr;
        ConstantTable* table = nullptr;
        CompileShader(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), macros, &include,
                      profile[0] == 'v' ? "vertex" : "pixel", profile, 0, &code, &errors, &table);
        if (code) code->Release();
        if (errors) errors->Release();
        if (table) table->Release();
    }
    std::vector<ConstantDesc> constants;
    std::string target;
    ParseShaderConstantTable(data, size, &constants, &target);
    ConstantTable* table = nullptr;
    if (Succeeded(GetShaderConstantTableSized(data, size, &table))) table->Release();
    return 0;
}
