#include "render/shaders/ShaderDefinitions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Log.h"
#include "core/SortedSearch.h"
#include "core/StaticInit.h"
#include "core/fs/FileReader.h"
#include "core/fs/FsUtil.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/DirectProperty.h"

namespace {

RTTIClass* gParameterClass = nullptr;
RTTIClass* gOptionClass = nullptr;
RTTIClass* gFamilyClass = nullptr;

constexpr const char* kTypeWords[SHADER_PARAM_TYPE_COUNT] = {"unknown", "option", "texture", "vector", "color",
                                                             "float",   "mask",   "group",   "enum",   "bool"};
constexpr const char* kSubregisterWords[4] = {"x", "y", "z", "w"};
constexpr const char* kRegisterNames[kShaderRegisterNameCount] = {
    "AlphaTest",      "AlphaRef",         "BlendMode",       "CullMode",        "DepthBias",
    "MappingScale",   "MappingOffset",    "MappingDrift",    "RefractionPower", "RefractionGranularity",
    "OutlineIndex",   "SunShadow",        "ColorWrite",      "MinRefractionQualityLevel",
    "RenderToLightmap", "DesaturationPower", "DepthWrite",   "DepthRead",       "LineWidth",
    "LineSoftness",   "UseLocalColor",    "SpecularExponent", "LightingType"};
constexpr const char* kAccessorNames[SHADER_ACCESSOR_COUNT] = {"Type", "Subregister", "Shader", "SRGB",
                                                              "NoAlpha", "Register", "Trilinear"};
constexpr const char* kHardwareDepth = "HARDWARE_DEPTH";
constexpr const char* kHardwareDepthRawz = "HARDWARE_DEPTH_RAWZ";
constexpr uint32_t kAccessorTextBytes = 32;

int32_t FindWord(const char* const* words, uint32_t count, const char* text) {
    for (uint32_t i = 0; i < count; ++i)
        if (std::strcmp(words[i], text) == 0) return static_cast<int32_t>(i);
    return -1;
}

// A "0"/"1" flag bit: "1" sets it; any other text than "0" is a definition error.
void SetFlagBit(uint32_t& bits, uint32_t bit, const char* text, bool oneSets) {
    const bool one = std::strcmp(text, "1") == 0;
    if (!one && std::strcmp(text, "0") != 0) {
        bits |= SHADER_PARAM_BIT_DEFINITION_ERROR;
        return;
    }
    if (one == oneSets) bits |= bit;
    else bits &= ~bit;
}

bool ParseDecimal(const char* text, int32_t* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

// Calls visit(start, length) for every name of a list separated by blanks, tabs or commas.
template <class Visit>
void ForEachName(const char* list, Visit visit) {
    if (!list) return;
    const char* p = list;
    while (*p) {
        while (*p && IsSeparator(*p)) ++p;
        const char* start = p;
        while (*p && !IsSeparator(*p)) ++p;
        if (p > start) visit(start, static_cast<size_t>(p - start));
    }
}

// The seven text-stored parameter properties: written and read in the binary form of a
// text (characters and a terminating zero), parsed into the record's packed fields.
class ShaderAccessorProperty : public RTTIProperty {
public:
    explicit ShaderAccessorProperty(ShaderParamAccessor which) : RTTIProperty(kAccessorNames[which]), which(which) {}
    uint32_t TypeId() const override { return 12; }
    bool ToString(const void* object, char* buffer, uint32_t size) const override {
        Record(object).GetAccessorText(which, buffer, size);
        return true;
    }
    bool FromString(void* object, const char* text) const override {
        if (!text) return false;
        Record(object).SetAccessorText(which, text);
        return true;
    }
    bool Equal(const void* a, const void* b) const override {
        char x[kAccessorTextBytes], y[kAccessorTextBytes];
        Record(a).GetAccessorText(which, x, sizeof x);
        Record(b).GetAccessorText(which, y, sizeof y);
        return std::strcmp(x, y) == 0;
    }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t) const override {
        char text[kAccessorTextBytes];
        Record(object).GetAccessorText(which, text, sizeof text);
        const uint32_t n = static_cast<uint32_t>(std::strlen(text)) + 1;
        if (destination) std::memcpy(destination, text, n);
        return n;
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t) const override {
        size_t length = 0;
        if (!in.PeekStringLength(length)) return false;
        const std::string text(reinterpret_cast<const char*>(in.Position()), length);
        if (!in.Read(nullptr, length + 1)) return false;
        Record(object).SetAccessorText(which, text.c_str());
        return true;
    }

private:
    static ShaderParameterDefinition& Record(void* o) { return *static_cast<ShaderParameterDefinition*>(o); }
    static const ShaderParameterDefinition& Record(const void* o) {
        return *static_cast<const ShaderParameterDefinition*>(o);
    }
    ShaderParamAccessor which;
};

}  // namespace

const char* ShaderRegisterName(int32_t registerNumber) {
    if (registerNumber >= 0 || registerNumber < -static_cast<int32_t>(kShaderRegisterNameCount)) return nullptr;
    return kRegisterNames[-registerNumber - 1];
}

// ---------------------------------------------------------------------------------------
// Parameters

void ShaderParameterDefinition::GetAccessorText(ShaderParamAccessor which, char* buffer, uint32_t size) const {
    if (!buffer || size == 0) return;
    const char* word = nullptr;
    switch (which) {
    case SHADER_ACCESSOR_TYPE: word = typeIndex < SHADER_PARAM_TYPE_COUNT ? kTypeWords[typeIndex] : kTypeWords[0]; break;
    case SHADER_ACCESSOR_SUBREGISTER:
        word = kSubregisterWords[(bits & SHADER_PARAM_SUBREGISTER_MASK) >> SHADER_PARAM_SUBREGISTER_SHIFT];
        break;
    case SHADER_ACCESSOR_SHADER: word = (bits & SHADER_PARAM_BIT_PIXEL) ? "pixel" : "vertex"; break;
    case SHADER_ACCESSOR_SRGB: word = (bits & SHADER_PARAM_BIT_NOT_SRGB) ? "0" : "1"; break;
    case SHADER_ACCESSOR_NO_ALPHA: word = (bits & SHADER_PARAM_BIT_NO_ALPHA) ? "1" : "0"; break;
    case SHADER_ACCESSOR_TRILINEAR: word = (bits & SHADER_PARAM_BIT_TRILINEAR) ? "1" : "0"; break;
    case SHADER_ACCESSOR_REGISTER:
        word = ShaderRegisterName(registerNumber);
        if (!word) {
            std::snprintf(buffer, size, "%d", registerNumber);
            return;
        }
        break;
    default: word = ""; break;
    }
    std::snprintf(buffer, size, "%s", word);
}

void ShaderParameterDefinition::SetAccessorText(ShaderParamAccessor which, const char* text) {
    if (!text) text = "";
    switch (which) {
    case SHADER_ACCESSOR_TYPE: {
        const int32_t i = FindWord(kTypeWords, SHADER_PARAM_TYPE_COUNT, text);
        if (i < 0) bits |= SHADER_PARAM_BIT_DEFINITION_ERROR;
        else typeIndex = static_cast<uint32_t>(i);
        break;
    }
    case SHADER_ACCESSOR_SUBREGISTER: {
        const int32_t i = FindWord(kSubregisterWords, 4, text);
        if (i < 0) bits |= SHADER_PARAM_BIT_DEFINITION_ERROR;
        else bits = (bits & ~SHADER_PARAM_SUBREGISTER_MASK) | (static_cast<uint32_t>(i) << SHADER_PARAM_SUBREGISTER_SHIFT);
        break;
    }
    case SHADER_ACCESSOR_SHADER:
        if (std::strcmp(text, "pixel") == 0) bits |= SHADER_PARAM_BIT_PIXEL;
        else if (std::strcmp(text, "vertex") == 0) bits &= ~SHADER_PARAM_BIT_PIXEL;
        else bits |= SHADER_PARAM_BIT_DEFINITION_ERROR;
        break;
    case SHADER_ACCESSOR_SRGB: SetFlagBit(bits, SHADER_PARAM_BIT_NOT_SRGB, text, false); break;
    case SHADER_ACCESSOR_NO_ALPHA: SetFlagBit(bits, SHADER_PARAM_BIT_NO_ALPHA, text, true); break;
    case SHADER_ACCESSOR_TRILINEAR: SetFlagBit(bits, SHADER_PARAM_BIT_TRILINEAR, text, true); break;
    case SHADER_ACCESSOR_REGISTER: {
        const int32_t i = FindWord(kRegisterNames, kShaderRegisterNameCount, text);
        if (i >= 0) {
            registerNumber = -(i + 1);
        } else if (!ParseDecimal(text, &registerNumber)) {
            registerNumber = std::atoi(text);
            bits |= SHADER_PARAM_BIT_DEFINITION_ERROR;
        }
        break;
    }
    default: break;
    }
}

const RTTIClass* ShaderParameterDefinition::RegisterClass() {
    if (gParameterClass) return gParameterClass;
    using P = ShaderParameterDefinition;
    RTTIClass* c = CreateRegisteredClass(gParameterClass, "ShaderParameterDefinition", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(P, name));
    AddDirect<uint32_t>(c, "ParamType", RTTI_OFFSETOF(P, paramType));
    for (uint32_t a = 0; a < SHADER_ACCESSOR_COUNT; ++a)
        c->AddProperty(new ShaderAccessorProperty(static_cast<ShaderParamAccessor>(a)));
    AddDirect<uint32_t>(c, "Flags", RTTI_OFFSETOF(P, flags));
    AddDirect<int32_t>(c, "SecondaryRegister", RTTI_OFFSETOF(P, secondaryRegister));
    AddDirect<NameString>(c, "Default", RTTI_OFFSETOF(P, defaultValue));
    AddDirect<uint32_t>(c, "DefaultFlags", RTTI_OFFSETOF(P, defaultFlags));
    AddDirect<NameString>(c, "AssociatedOption", RTTI_OFFSETOF(P, associatedOption));
    AddDirect<NameString>(c, "RequiredOption", RTTI_OFFSETOF(P, requiredOption));
    return c;
}

// ---------------------------------------------------------------------------------------
// Options and families

const RTTIClass* ShaderOption::RegisterClass() {
    if (gOptionClass) return gOptionClass;
    const RTTIClass* parameter = ShaderParameterDefinition::RegisterClass();
    using O = ShaderOption;
    RTTIClass* c = CreateRegisteredClass(gOptionClass, "ShaderOption", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(O, name));
    AddDirect<NameString>(c, "DisabledOptionNames", RTTI_OFFSETOF(O, disabledOptionNames));
    AddDirect<NameString>(c, "EnforcedOptionNames", RTTI_OFFSETOF(O, enforcedOptionNames));
    AddDirect<bool>(c, "AffectsVertexShader", RTTI_OFFSETOF(O, affectsVertexShader));
    AddDirect<bool>(c, "AffectsPixelShader", RTTI_OFFSETOF(O, affectsPixelShader));
    AddDirect<bool>(c, "System", RTTI_OFFSETOF(O, system));
    AddDirect<bool>(c, "Default", RTTI_OFFSETOF(O, defaultOn));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<ShaderParameterDefinition>>(
        "Parameter definitions", RTTI_OFFSETOF(O, parameterDefinitions), parameter));
    return c;
}

const RTTIClass* ShaderFamily::RegisterClass() {
    if (gFamilyClass) return gFamilyClass;
    const RTTIClass* option = ShaderOption::RegisterClass();
    const RTTIClass* parameter = ShaderParameterDefinition::RegisterClass();
    using F = ShaderFamily;
    RTTIClass* c = CreateRegisteredClass(gFamilyClass, "ShaderFamily", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new ShaderFamily; });
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(F, name));
    AddDirect<bool>(c, "Deferred", RTTI_OFFSETOF(F, deferred));
    AddDirect<bool>(c, "SolidNonDeferred", RTTI_OFFSETOF(F, solidNonDeferred));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<ShaderOption>>(
        "Shader options", RTTI_OFFSETOF(F, options), option));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<ShaderParameterDefinition>>(
        "Parameter definitions", RTTI_OFFSETOF(F, parameterDefinitions), parameter));
    return c;
}

bool ShaderStageOfExtension(const char* extension, bool* vertex) {
    if (!extension || !extension[0]) return false;
    const unsigned char a = fs::FoldAscii(static_cast<unsigned char>(extension[0]));
    if (fs::FoldAscii(static_cast<unsigned char>(extension[1])) != 's' || (a != 'v' && a != 'p')) return false;
    *vertex = a == 'v';
    return true;
}

void ShaderMaskToText(const uint32_t words[kShaderMaskWords], char* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (uint32_t w = 0; w < kShaderMaskWords; ++w)
        for (uint32_t n = 0; n < 8; ++n) out[w * 8 + n] = kDigits[(words[w] >> (4 * n)) & 0xF];
    out[kShaderMaskDigits] = 0;
}

bool ShaderMaskFromText(const char* text, uint32_t words[kShaderMaskWords]) {
    if (!text) return false;
    for (uint32_t w = 0; w < kShaderMaskWords; ++w) {
        uint32_t v = 0;
        for (uint32_t n = 0; n < 8; ++n) {
            const char c = text[w * 8 + n];
            uint32_t d;
            if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
            else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
            else return false;  // a terminator included: the text is short
            v |= d << (4 * n);
        }
        words[w] = v;
    }
    return true;
}

int32_t ShaderFamily::FindOption(const char* text, size_t length) const {
    if (!text || length == 0 || length > kRTTIMaxNameLength) return -1;
    char key[kRTTIMaxNameLength + 1];
    std::memcpy(key, text, length);
    key[length] = 0;
    const SortedSearchResult r =
        FindSortedEqual(options.Count(), [&](uint32_t i) { return RTTIStricmp(key, options[i].name.CStr()); });
    return r.found ? static_cast<int32_t>(r.index) : -1;
}

void ShaderFamily::ComputeMasks(const char* optionText, uint32_t vertex[kShaderMaskWords],
                                uint32_t pixel[kShaderMaskWords]) const {
    uint32_t vertexEnforced[kShaderMaskWords] = {}, vertexDisabled[kShaderMaskWords] = {};
    uint32_t pixelEnforced[kShaderMaskWords] = {}, pixelDisabled[kShaderMaskWords] = {};
    for (uint32_t w = 0; w < kShaderMaskWords; ++w) vertex[w] = pixel[w] = 0;
    auto setBit = [](uint32_t* mask, int32_t bit) { mask[bit >> 5] |= 1u << (bit & 31); };
    // Options from bit 128 on have no bit: they select nothing.
    auto usable = [this](const char* s, size_t n) {
        const int32_t i = FindOption(s, n);
        return i >= 0 && static_cast<uint32_t>(i) < kMaxShaderOptionBits ? i : -1;
    };
    ForEachName(optionText, [&](const char* s, size_t n) {
        const int32_t i = usable(s, n);
        if (i < 0) return;
        const ShaderOption& o = options[static_cast<uint32_t>(i)];
        if (o.affectsVertexShader) setBit(vertex, i);
        if (o.affectsPixelShader) setBit(pixel, i);
        auto collect = [&](const NameString& list, uint32_t* vertexMask, uint32_t* pixelMask) {
            ForEachName(list.Raw(), [&](const char* ls, size_t ln) {
                const int32_t j = usable(ls, ln);
                if (j < 0) return;
                if (options[static_cast<uint32_t>(j)].affectsVertexShader) setBit(vertexMask, j);
                if (options[static_cast<uint32_t>(j)].affectsPixelShader) setBit(pixelMask, j);
            });
        };
        collect(o.enforcedOptionNames, vertexEnforced, pixelEnforced);
        collect(o.disabledOptionNames, vertexDisabled, pixelDisabled);
    });
    for (uint32_t w = 0; w < kShaderMaskWords; ++w) {
        vertex[w] = (vertex[w] & ~vertexDisabled[w]) | vertexEnforced[w];
        pixel[w] = (pixel[w] & ~pixelDisabled[w]) | pixelEnforced[w];
    }
}

bool ShaderFamily::GetVariantNames(const char* optionText, const char** vertexName, const char** pixelName) {
    if (!optionText) optionText = "";
    if (std::strlen(optionText) > kMaxVariantOptionText) return false;
    for (const Variant& v : variants) {
        if (std::strcmp(v.options, optionText) == 0) {
            *vertexName = v.vertexName;
            *pixelName = v.pixelName;
            return true;
        }
    }
    uint32_t vertex[kShaderMaskWords], pixel[kShaderMaskWords];
    ComputeMasks(optionText, vertex, pixel);
    char vertexDigits[kShaderMaskDigits + 1], pixelDigits[kShaderMaskDigits + 1];
    ShaderMaskToText(vertex, vertexDigits);
    ShaderMaskToText(pixel, pixelDigits);
    Variant v;
    std::snprintf(v.options, sizeof v.options, "%s", optionText);
    const int nv = std::snprintf(v.vertexName, sizeof v.vertexName, "%s/%s.vs_3_0", name.CStr(), vertexDigits);
    const int np = std::snprintf(v.pixelName, sizeof v.pixelName, "%s/%s.ps_3_0", name.CStr(), pixelDigits);
    if (nv < 0 || np < 0 || nv > static_cast<int>(kMaxVariantResourceName) ||
        np > static_cast<int>(kMaxVariantResourceName))
        return false;
    variants.push_back(v);
    *vertexName = variants.back().vertexName;
    *pixelName = variants.back().pixelName;
    return true;
}

bool ShaderFamily::ListOptions(const char* maskDigits, bool vertexStage, bool skipHardwareDepth,
                               std::vector<std::string>* names) const {
    uint32_t words[kShaderMaskWords];
    if (!ShaderMaskFromText(maskDigits, words)) return false;
    const uint32_t count = options.Count() < kMaxShaderOptionBits ? options.Count() : kMaxShaderOptionBits;
    for (uint32_t i = 0; i < count; ++i) {
        if (!(words[i >> 5] & (1u << (i & 31)))) continue;
        const ShaderOption& o = options[i];
        if (!(vertexStage ? o.affectsVertexShader : o.affectsPixelShader)) continue;
        const char* n = o.name.CStr();
        if (skipHardwareDepth && (std::strcmp(n, kHardwareDepth) == 0 || std::strcmp(n, kHardwareDepthRawz) == 0))
            continue;
        if (std::strlen(n) > kMaxListedOptionName) return false;
        names->push_back(n);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// The file

bool ReadShaderDefBin(FileReader& reader, uint64_t* stamp, std::vector<ShaderFamily*>* families) {
    constexpr uint32_t kHeaderBytes = 16;
    uint32_t magic = 0, count = 0;
    uint64_t fileStamp = 0;
    if (!reader.Read(&magic, 4)) {
        gLog.Error(LogCategory::Engine, "Shaders.DefBin is truncated");
        return false;
    }
    if (magic != kShaderDefBinMagic) {
        gLog.Error(LogCategory::Engine, "Shaders.DefBin magic mismatch");
        return false;
    }
    const uint32_t size = reader.GetSize();
    if (!reader.Read(&fileStamp, 8) || !reader.Read(&count, 4) || count > (size - kHeaderBytes) / 4) {
        gLog.Error(LogCategory::Engine, "Shaders.DefBin is truncated or holds a wrong family count");
        return false;
    }
    std::vector<ShaderFamily*> read;
    read.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        ShaderFamily* family = new ShaderFamily;
        read.push_back(family);
        if (!ShaderFamily::RegisterClass()->ReadPropertiesBlock(reader, family, 4)) {
            for (ShaderFamily* f : read) delete f;
            return false;
        }
    }
    *stamp = fileStamp;
    families->insert(families->end(), read.begin(), read.end());
    return true;
}
