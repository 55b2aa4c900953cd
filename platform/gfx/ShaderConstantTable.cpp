// Code blobs, the constant-table block ("CTAB") reader and the constant-table object.
//
// CTAB layout (offsets relative to the first byte after the "CTAB" tag, little-endian):
//   header (28 bytes): size (28), creator string offset, version token, constant count,
//                      constant-info offset, flags, target string offset
//   constant info (20 bytes each): name offset, u16 register set, u16 register index,
//                      u16 register count, u16 reserved, type-info offset, default-value offset
//   type info (16 bytes each): u16 class, type, rows, columns, elements, struct members,
//                      u32 struct-member-info offset
#include <cstring>

#include "platform/gfx/SelfCounted.h"
#include "platform/gfx/ShaderCompiler.h"

namespace gfx {
namespace {

constexpr uint32_t kCommentOpcode = 0xFFFE;
constexpr uint32_t kCtabTag = MakeFourCC('C', 'T', 'A', 'B');
constexpr size_t kMaxCodeBytes = 1u << 20;

class BlobImpl final : public detail::SelfCounted<Blob> {
public:
    BlobImpl(const void* data, size_t bytes)
        : bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + bytes) {}
    void* GetBufferPointer() override { return bytes.data(); }
    uint32_t GetBufferSize() override { return static_cast<uint32_t>(bytes.size()); }

private:
    std::vector<uint8_t> bytes;
};

class ConstantTableImpl final : public detail::SelfCounted<ConstantTable> {
public:
    uint32_t GetConstantCount() override { return static_cast<uint32_t>(constants.size()); }
    const ConstantDesc* GetConstantDesc(uint32_t index) override {
        return index < constants.size() ? &constants[index] : nullptr;
    }
    const ConstantDesc* GetConstantByName(const char* name) override {
        if (!name) return nullptr;
        if (name[0] == '$') ++name;
        for (const ConstantDesc& c : constants)
            if (c.name == name || (c.name.size() > 1 && c.name[0] == '$' && c.name.compare(1, std::string::npos, name) == 0))
                return &c;
        return nullptr;
    }
    const char* GetCreator() override { return creator.c_str(); }
    const char* GetTarget() override { return target.c_str(); }

    std::vector<ConstantDesc> constants;
    std::string creator, target;
};

uint32_t Word(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t Half(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// A NUL-terminated string at offset inside the table, or false.
bool ReadString(const uint8_t* table, size_t size, uint32_t offset, std::string* out) {
    if (offset >= size) return false;
    const auto* start = reinterpret_cast<const char*>(table + offset);
    const void* end = std::memchr(start, 0, size - offset);
    if (!end) return false;
    out->assign(start, static_cast<const char*>(end));
    return true;
}

bool ParseCtab(const uint8_t* t, size_t size, std::vector<ConstantDesc>* out, std::string* creator,
               std::string* target) {
    if (size < 28 || Word(t) < 28) return false;
    const uint32_t count = Word(t + 12);
    const uint32_t infoOffset = Word(t + 16);
    if (!ReadString(t, size, Word(t + 4), creator) || !ReadString(t, size, Word(t + 24), target)) return false;
    if (infoOffset > size || count > (size - infoOffset) / 20) return false;
    out->clear();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* info = t + infoOffset + static_cast<size_t>(i) * 20;
        ConstantDesc c{};
        if (!ReadString(t, size, Word(info), &c.name)) return false;
        const uint32_t set = Half(info + 4);
        if (set > REGISTERSET_SAMPLER) return false;
        c.registerSet = static_cast<RegisterSet>(set);
        c.registerIndex = Half(info + 6);
        c.registerCount = Half(info + 8);
        const uint32_t typeOffset = Word(info + 12);
        if (typeOffset > size || size - typeOffset < 16) return false;
        const uint8_t* type = t + typeOffset;
        c.parameterClass = static_cast<ParameterClass>(Half(type));
        c.type = static_cast<ParameterType>(Half(type + 2));
        c.rows = Half(type + 4);
        c.columns = Half(type + 6);
        c.elements = Half(type + 8);
        c.structMembers = Half(type + 10);
        c.bytes = 4 * c.rows * c.columns * (c.elements ? c.elements : 1);
        out->push_back(std::move(c));
    }
    return true;
}

}  // namespace

Blob* CreateBlob(const void* data, size_t bytes) { return new BlobImpl(data, bytes); }

size_t ShaderCodeSize(const uint32_t* code, size_t limitBytes) {
    if (!code) return 0;
    const size_t words = limitBytes / 4;
    size_t i = 1;  // after the version token
    while (i < words) {
        const uint32_t token = code[i];
        if (token == kShaderEndToken) return (i + 1) * 4;
        if ((token & 0xFFFF) == kCommentOpcode)
            i += 1 + ((token >> 16) & 0x7FFF);
        else
            i += 1 + ((token >> 24) & 0xF);  // instruction with its length in bits 24..27
    }
    return 0;
}

namespace {

// Walks the code's tokens to its "CTAB" comment block and reads it.
bool ReadTable(const void* code, size_t bytes, std::vector<ConstantDesc>* out, std::string* creator,
               std::string* target) {
    if (!code || bytes < 8) return false;
    std::vector<uint32_t> words(bytes / 4);
    std::memcpy(words.data(), code, words.size() * 4);
    for (size_t i = 1; i < words.size();) {
        const uint32_t token = words[i];
        if (token == kShaderEndToken) return false;
        if ((token & 0xFFFF) != kCommentOpcode) {
            i += 1 + ((token >> 24) & 0xF);
            continue;
        }
        const size_t length = (token >> 16) & 0x7FFF;
        if (length > words.size() - i - 1) return false;
        if (length >= 1 && words[i + 1] == kCtabTag)
            return ParseCtab(reinterpret_cast<const uint8_t*>(&words[i + 2]), (length - 1) * 4, out, creator, target);
        i += 1 + length;
    }
    return false;
}

}  // namespace

bool ParseShaderConstantTable(const void* code, size_t bytes, std::vector<ConstantDesc>* out, std::string* target) {
    if (!out) return false;
    std::string creator, name;
    if (!ReadTable(code, bytes, out, &creator, &name)) return false;
    if (target) *target = name;
    return true;
}

Result GetShaderConstantTableSized(const void* code, size_t bytes, ConstantTable** table) {
    if (!table) return ERR_INVALIDCALL;
    *table = nullptr;
    auto* impl = new ConstantTableImpl();
    if (!ReadTable(code, bytes, &impl->constants, &impl->creator, &impl->target)) {
        impl->Release();
        return ERR_INVALIDDATA;
    }
    *table = impl;
    return OK;
}

Result GetShaderConstantTable(const uint32_t* code, ConstantTable** table) {
    const size_t bytes = ShaderCodeSize(code, kMaxCodeBytes);
    if (bytes == 0) {
        if (table) *table = nullptr;
        return ERR_INVALIDCALL;
    }
    return GetShaderConstantTableSized(code, bytes, table);
}

}  // namespace gfx
