#pragma once
// Shader definitions: the families of shaders, their options and parameters, as read
// from "Common/Shaders/Shaders.DefBin", and the rules that turn an option string into
// the resource names of a variant's vertex and pixel shader.
//
// A family is one HLSL source compiled into many variants. Its options are sorted by
// name (case-insensitively) and an option's position is its bit number in the 128-bit
// masks, so at most 128 options have a bit; later ones are listed but never selected.
// A variant's resource name is "<family>/<32 mask digits>.vs_3_0" (or ".ps_3_0"); the
// digits are the four mask words in order, each written from its least significant
// nibble to its most significant.
//
// DefBin layout (little-endian): u32 magic 0x23EA5BC0, u64 definition stamp, u32
// family count, then per family a u32 byte count and that many bytes of the family's
// binary property list (0 bytes: an empty family).
//
// Threads: the definitions are read and their variant caches grown under the shader
// manager's lock (ShaderManager.h); nothing here locks.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

class FileReader;

constexpr uint32_t kShaderDefBinMagic = 0x23EA5BC0u;
constexpr uint32_t kShaderMaskWords = 4;
constexpr uint32_t kMaxShaderOptionBits = kShaderMaskWords * 32;  // 128
constexpr uint32_t kShaderMaskDigits = kShaderMaskWords * 8;      // 32
// Fixed text fields of a variant record and of a listed option name (characters, the
// terminator not counted). Longer texts are refused, never cut: two cut keys could
// name one variant.
constexpr uint32_t kMaxVariantOptionText = 255;
constexpr uint32_t kMaxVariantResourceName = 127;
constexpr uint32_t kMaxListedOptionName = 255;

// The ten words of a parameter's "Type".
enum ShaderParamType : uint32_t {
    SHADER_PARAM_UNKNOWN, SHADER_PARAM_OPTION, SHADER_PARAM_TEXTURE, SHADER_PARAM_VECTOR, SHADER_PARAM_COLOR,
    SHADER_PARAM_FLOAT, SHADER_PARAM_MASK, SHADER_PARAM_GROUP, SHADER_PARAM_ENUM, SHADER_PARAM_BOOL,
    SHADER_PARAM_TYPE_COUNT
};

// Bits of a parameter's packed word.
enum : uint32_t {
    SHADER_PARAM_BIT_PIXEL = 1u << 0,        // "Shader" "pixel"
    SHADER_PARAM_SUBREGISTER_SHIFT = 1,      // "Subregister" x, y, z, w in bits 1-2
    SHADER_PARAM_SUBREGISTER_MASK = 3u << 1,
    SHADER_PARAM_BIT_NOT_SRGB = 1u << 3,     // "SRGB" "0"
    SHADER_PARAM_BIT_NO_ALPHA = 1u << 4,     // "NoAlpha" "1"
    SHADER_PARAM_BIT_TRILINEAR = 1u << 5,    // "Trilinear" "1"
    SHADER_PARAM_BIT_DEFINITION_ERROR = 1u << 31,  // a text that matched none of its words
};

// The seven accessor properties, stored as text.
enum ShaderParamAccessor : uint32_t {
    SHADER_ACCESSOR_TYPE, SHADER_ACCESSOR_SUBREGISTER, SHADER_ACCESSOR_SHADER, SHADER_ACCESSOR_SRGB,
    SHADER_ACCESSOR_NO_ALPHA, SHADER_ACCESSOR_REGISTER, SHADER_ACCESSOR_TRILINEAR, SHADER_ACCESSOR_COUNT
};

// The 23 named engine render parameters a "Register" may hold, -1 .. -23.
constexpr uint32_t kShaderRegisterNameCount = 23;
const char* ShaderRegisterName(int32_t registerNumber);  // null unless -1 .. -23

// A material parameter (plain record, class "ShaderParameterDefinition").
struct ShaderParameterDefinition {
    NameString name;
    uint32_t paramType = 0;
    uint32_t typeIndex = 0;      // ShaderParamType
    uint32_t bits = 0;           // SHADER_PARAM_BIT_*
    int32_t registerNumber = 0;  // a register, or a negative engine parameter
    uint32_t flags = 0;
    int32_t secondaryRegister = 0;
    NameString defaultValue;
    uint32_t defaultFlags = 0;
    NameString associatedOption;
    NameString requiredOption;

    // The text form of an accessor property (at most 31 characters).
    void GetAccessorText(ShaderParamAccessor which, char* buffer, uint32_t size) const;
    void SetAccessorText(ShaderParamAccessor which, const char* text);

    static const RTTIClass* RegisterClass();
};

// One option of a family (plain record, class "ShaderOption").
struct ShaderOption {
    NameString name;
    NameString disabledOptionNames;  // names separated by blanks, tabs or commas
    NameString enforcedOptionNames;
    bool affectsVertexShader = false;
    bool affectsPixelShader = false;
    bool system = false;
    bool defaultOn = false;
    DynarraySafe<ShaderParameterDefinition> parameterDefinitions;

    static const RTTIClass* RegisterClass();
};

// The stage an extension names: "vs..." vertex, "ps..." pixel (ASCII case folded);
// false for neither.
bool ShaderStageOfExtension(const char* extension, bool* vertex);

// Four mask words as 32 upper-case digits (out holds 33 bytes), and back (letters in
// either case; false for any other character or a short text).
void ShaderMaskToText(const uint32_t words[kShaderMaskWords], char* out);
bool ShaderMaskFromText(const char* text, uint32_t words[kShaderMaskWords]);

class ShaderFamily : public RTTIPolyBaseClass {
public:
    ShaderFamily() = default;
    ShaderFamily(const ShaderFamily&) = delete;
    ShaderFamily& operator=(const ShaderFamily&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Index of the option (case-insensitive binary search over the sorted options), or
    // -1. The name is the first length characters of text.
    int32_t FindOption(const char* text, size_t length) const;
    // The final vertex and pixel masks of an option string (unknown names and options
    // from bit 128 on are ignored).
    void ComputeMasks(const char* options, uint32_t vertex[kShaderMaskWords], uint32_t pixel[kShaderMaskWords]) const;
    // The variant's two resource names from the cache, or computed and cached. False
    // when the option string or a name does not fit its fixed field.
    bool GetVariantNames(const char* options, const char** vertexName, const char** pixelName);
    // The option names that the mask digits select for one stage, in bit order; the
    // hardware-depth options left out when asked. False for bad digits or a name longer
    // than kMaxListedOptionName.
    bool ListOptions(const char* maskDigits, bool vertexStage, bool skipHardwareDepth,
                     std::vector<std::string>* names) const;

    uint32_t VariantCount() const { return static_cast<uint32_t>(variants.size()); }

    NameString name;
    bool deferred = false;
    bool solidNonDeferred = false;
    DynarraySafe<ShaderOption> options;
    DynarraySafe<ShaderParameterDefinition> parameterDefinitions;

private:
    struct Variant {
        char options[kMaxVariantOptionText + 1];
        char vertexName[kMaxVariantResourceName + 1];
        char pixelName[kMaxVariantResourceName + 1];
    };
    std::vector<Variant> variants;
};

// Reads a DefBin through the reader: false for a wrong magic ("Shaders.DefBin magic
// mismatch"), a count the file cannot hold or a record that does not read (one line
// each). On success the families are appended (caller owns them) in file order.
bool ReadShaderDefBin(FileReader& reader, uint64_t* stamp, std::vector<ShaderFamily*>* families);
