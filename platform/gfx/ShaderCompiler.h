#pragma once
// The shader compiler with the original compile call's shape. It preprocesses an
// HLSL source (defines, conditionals, includes through a handler, #error), checks that
// the entry point exists, reads the file-scope uniforms and samplers with their
// registers, and compiles the result with glslang's HLSL front end to SPIR-V. The code
// blob is framed like shader bytecode: the version token, a comment block "CTAB"
// holding the constant table in the documented layout, a comment block with a hash of
// the preprocessed source, a comment block "SPRV" holding the SPIR-V (float constant
// register N at byte offset N x 16 of one uniform block, sampler sN at binding N), and
// the end token. Thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/GfxDevice.h"

namespace gfx {

struct ShaderMacro {
    const char* name;        // a list ends with a null name
    const char* definition;  // null means empty
};

enum IncludeType : uint32_t { INCLUDE_LOCAL = 0, INCLUDE_SYSTEM = 1 };

// Opens included files for the compiler; every opened file is closed again.
class IncludeHandler {
public:
    virtual Result Open(IncludeType type, const char* fileName, const void* parentData, const void** data,
                        uint32_t* bytes) = 0;
    virtual Result Close(const void* data) = 0;

protected:
    virtual ~IncludeHandler() = default;
};

// A reference-counted byte buffer (code or error text).
class Blob : public Unknown {
public:
    virtual void* GetBufferPointer() = 0;
    virtual uint32_t GetBufferSize() = 0;
};
Blob* CreateBlob(const void* data, size_t bytes);

enum RegisterSet : uint16_t { REGISTERSET_BOOL = 0, REGISTERSET_INT4 = 1, REGISTERSET_FLOAT4 = 2, REGISTERSET_SAMPLER = 3 };
enum ParameterClass : uint16_t {
    PARAMCLASS_SCALAR = 0,
    PARAMCLASS_VECTOR = 1,
    PARAMCLASS_MATRIX_ROWS = 2,
    PARAMCLASS_MATRIX_COLUMNS = 3,
    PARAMCLASS_OBJECT = 4,
    PARAMCLASS_STRUCT = 5,
};
enum ParameterType : uint16_t {
    PARAMTYPE_VOID = 0,
    PARAMTYPE_BOOL = 1,
    PARAMTYPE_INT = 2,
    PARAMTYPE_FLOAT = 3,
    PARAMTYPE_SAMPLER = 10,
    PARAMTYPE_SAMPLER1D = 11,
    PARAMTYPE_SAMPLER2D = 12,
    PARAMTYPE_SAMPLER3D = 13,
    PARAMTYPE_SAMPLERCUBE = 14,
};

struct ConstantDesc {
    std::string name;
    RegisterSet registerSet;
    uint32_t registerIndex;
    uint32_t registerCount;
    ParameterClass parameterClass;
    ParameterType type;
    uint32_t rows, columns, elements, structMembers;
    uint32_t bytes;  // rows x columns x elements x 4
};

class ConstantTable : public Unknown {
public:
    virtual uint32_t GetConstantCount() = 0;
    virtual const ConstantDesc* GetConstantDesc(uint32_t index) = 0;  // null past the end
    virtual const ConstantDesc* GetConstantByName(const char* name) = 0;
    virtual const char* GetCreator() = 0;
    virtual const char* GetTarget() = 0;  // "vs_3_0" or "ps_3_0"
};

constexpr uint32_t SHADER_FLAGS_NONE = 0;

// Compiles source (sourceBytes long, need not end with a zero) for the entry point and
// profile ("vs_3_0" or "ps_3_0"). On success *code receives the blob and errors, if
// asked, the warnings; on failure *code is null and *errors holds one message per line
// as "file(line,col): error Xnnnn: text". The main file is named "memory".
Result CompileShader(const char* source, uint32_t sourceBytes, const ShaderMacro* defines, IncludeHandler* include,
                     const char* entryPoint, const char* profile, uint32_t flags, Blob** code, Blob** errors,
                     ConstantTable** constants);

// The constant table of a code blob. The pointer form reads until the end token (as the
// original does; at most 1 MiB); the sized form never reads past bytes.
Result GetShaderConstantTable(const uint32_t* code, ConstantTable** table);
Result GetShaderConstantTableSized(const void* code, size_t bytes, ConstantTable** table);
// Value form for the device and tests: false when the code holds no readable table.
bool ParseShaderConstantTable(const void* code, size_t bytes, std::vector<ConstantDesc>* out, std::string* target);
// Bytes of shader code up to and including its end token; 0 when none is found within limit.
size_t ShaderCodeSize(const uint32_t* code, size_t limitBytes);

}  // namespace gfx
