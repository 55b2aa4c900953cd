// Shader compiler: design note.
//
// Compile = preprocess (ShaderPreprocessor.cpp) -> tokenise the result with the file
// and line of every token -> scan the file scope for functions and uniform
// declarations -> assign registers (the constant table) -> hand the preprocessed text,
// with every register written out, to glslang's HLSL front end (ShaderSpirv.cpp) ->
// write the code blob: version token, "CTAB" block, a hash of the preprocessed source,
// a "SPRV" block with the SPIR-V, end token. Devices turn the SPIR-V into their own
// code at shader creation. Everything is deterministic: the same source, macros and
// included files give the same bytes.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/gfx/ShaderCompiler.h"
#include "platform/gfx/ShaderPreprocessor.h"
#include "platform/gfx/ShaderSpirv.h"

namespace gfx {
namespace {

using detail::PreprocessResult;

constexpr char kCreator[] = "Shader compiler stand-in 1.0";

struct Token {
    std::string text;
    uint32_t file, line, column;
    uint32_t lineIndex;  // into PreprocessResult::lines
};

std::vector<Token> Tokenise(const PreprocessResult& pre) {
    std::vector<Token> tokens;
    for (uint32_t index = 0; index < pre.lines.size(); ++index) {
        const detail::SourceLine& l = pre.lines[index];
        const std::string& s = l.text;
        size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
                continue;
            }
            const size_t start = i;
            if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
            } else if (c == '"') {
                ++i;
                while (i < s.size() && s[i] != '"') ++i;
                if (i < s.size()) ++i;
            } else {
                ++i;
            }
            tokens.push_back({s.substr(start, i - start), l.file, l.line, static_cast<uint32_t>(start + 1), index});
        }
    }
    return tokens;
}

struct TypeShape {
    ParameterClass cls;
    ParameterType type;
    uint32_t rows, columns;
    bool sampler;
};

bool ParseType(const std::string& name, bool rowMajor, TypeShape* out) {
    if (name == "sampler" || name == "sampler2D") {
        *out = {PARAMCLASS_OBJECT, name == "sampler" ? PARAMTYPE_SAMPLER : PARAMTYPE_SAMPLER2D, 1, 1, true};
        return true;
    }
    if (name == "sampler1D" || name == "sampler3D" || name == "samplerCUBE") {
        const ParameterType t = name == "sampler1D" ? PARAMTYPE_SAMPLER1D
                                : name == "sampler3D" ? PARAMTYPE_SAMPLER3D
                                                      : PARAMTYPE_SAMPLERCUBE;
        *out = {PARAMCLASS_OBJECT, t, 1, 1, true};
        return true;
    }
    std::string base;
    ParameterType type;
    if (name.rfind("float", 0) == 0) {
        base = "float";
        type = PARAMTYPE_FLOAT;
    } else if (name.rfind("half", 0) == 0) {
        base = "half";
        type = PARAMTYPE_FLOAT;
    } else if (name.rfind("bool", 0) == 0) {
        base = "bool";
        type = PARAMTYPE_BOOL;
    } else if (name.rfind("int", 0) == 0) {
        base = "int";
        type = PARAMTYPE_INT;
    } else {
        return false;
    }
    const std::string dims = name.substr(base.size());
    auto digit = [](char c) { return c >= '1' && c <= '4'; };
    if (dims.empty()) {
        *out = {PARAMCLASS_SCALAR, type, 1, 1, false};
    } else if (dims.size() == 1 && digit(dims[0])) {
        *out = {PARAMCLASS_VECTOR, type, 1, static_cast<uint32_t>(dims[0] - '0'), false};
    } else if (dims.size() == 3 && digit(dims[0]) && dims[1] == 'x' && digit(dims[2])) {
        *out = {rowMajor ? PARAMCLASS_MATRIX_ROWS : PARAMCLASS_MATRIX_COLUMNS, type,
                static_cast<uint32_t>(dims[0] - '0'), static_cast<uint32_t>(dims[2] - '0'), false};
    } else {
        return false;
    }
    return true;
}

struct Declared {
    ConstantDesc desc;
    bool explicitRegister;
    const Token* at;
    size_t registerAt;  // token before which an assigned register is written for glslang
};

class Compiler {
public:
    Compiler(const PreprocessResult& pre, bool pixel, const char* entry)
        : pre(pre), pixel(pixel), entry(entry), tokens(Tokenise(pre)) {}

    void Scan();
    void Assign();
    std::vector<std::string> errors, warnings;
    std::vector<Declared> constants;
    std::vector<std::string> functions;
    // For the glslang text: file-scope statements of effect files that only this scanner
    // skips (techniques, strings, malformed names), as token ranges to leave out, and
    // the semantic tokens that name the vertex position: the vertex entry's return value
    // and out parameters, and struct members (by struct name) unless the struct is an
    // input of the vertex entry, where POSITION stays the vertex attribute.
    std::vector<std::pair<size_t, size_t>> dropped;
    std::vector<size_t> positionSemantics;
    std::vector<std::pair<std::string, size_t>> memberPositions;
    std::vector<std::string> entryInputStructs;
    std::string GlslangText() const;

private:
    void Error(const Token& t, const char* code, const std::string& text) {
        if (errors.size() < 100)
            errors.push_back(pre.files[t.file] + "(" + std::to_string(t.line) + "," + std::to_string(t.column) +
                             "): error " + code + ": " + text);
    }
    void Warning(const Token& t, const char* code, const std::string& text) {
        warnings.push_back(pre.files[t.file] + "(" + std::to_string(t.line) + "," + std::to_string(t.column) +
                           "): warning " + code + ": " + text);
    }
    bool At(size_t i, const char* text) const { return i < tokens.size() && tokens[i].text == text; }
    size_t SkipBalanced(size_t i, const char* open, const char* close) const;
    size_t SkipStatement(size_t i) const;
    size_t Declaration(size_t i);
    void VertexEntry(size_t params, size_t close);
    bool IsPosition(size_t i) const {
        return i + 1 < tokens.size() && tokens[i].text == ":" &&
               (tokens[i + 1].text == "POSITION" || tokens[i + 1].text == "POSITION0");
    }
    uint32_t Limit(RegisterSet set) const;

    const PreprocessResult& pre;
    bool pixel;
    std::string entry;
    std::vector<Token> tokens;
};

size_t Compiler::SkipBalanced(size_t i, const char* open, const char* close) const {
    int level = 0;
    for (; i < tokens.size(); ++i) {
        if (tokens[i].text == open) ++level;
        if (tokens[i].text == close && --level == 0) return i + 1;
    }
    return tokens.size();
}

// Skips to after the ';' ending a file-scope statement, or after a braced body.
size_t Compiler::SkipStatement(size_t i) const {
    for (; i < tokens.size(); ++i) {
        if (tokens[i].text == ";") return i + 1;
        if (tokens[i].text == "{") {
            i = SkipBalanced(i, "{", "}");
            if (At(i, ";")) ++i;
            return i;
        }
    }
    return i;
}

// The vertex entry's parameters between params and close (the closing parenthesis):
// out parameters with the semantic POSITION are the position; a struct taken as an
// input keeps POSITION on its members.
void Compiler::VertexEntry(size_t params, size_t close) {
    size_t start = params;
    for (size_t k = params; k <= close && k < tokens.size(); ++k) {
        if (k < close && tokens[k].text != ",") continue;
        bool out = false;
        std::string type;
        for (size_t t = start; t < k; ++t) {
            const std::string& w = tokens[t].text;
            if (w == "out" || w == "inout") out = true;
            else if (type.empty() && w != "in" && w != "uniform" && w != "const") type = w;
        }
        for (size_t t = start; out && t < k; ++t)
            if (IsPosition(t)) positionSemantics.push_back(t + 1);
        if (!out) entryInputStructs.push_back(type);
        start = k + 1;
    }
}

uint32_t Compiler::Limit(RegisterSet set) const {
    switch (set) {
    case REGISTERSET_FLOAT4: return kMaxFloatConstants;
    case REGISTERSET_SAMPLER: return kSamplerStageCount;
    default: return 16;
    }
}

size_t Compiler::Declaration(size_t i) {
    const size_t first = i;
    bool isStatic = false, rowMajor = false;
    while (i < tokens.size()) {
        const std::string& t = tokens[i].text;
        if (t == "static") isStatic = true;
        else if (t == "row_major") rowMajor = true;
        else if (t != "uniform" && t != "extern" && t != "const" && t != "shared" && t != "volatile" &&
                 t != "column_major" && t != "inline")
            break;
        ++i;
    }
    if (At(i, "struct")) {
        const size_t end = SkipStatement(i);
        const std::string name = i + 1 < tokens.size() ? tokens[i + 1].text : std::string();
        for (size_t k = i; k + 1 < end; ++k)
            if (IsPosition(k)) memberPositions.emplace_back(name, k + 1);
        return end;
    }
    if (At(i, "typedef")) return SkipStatement(i);
    if (At(i, "technique") || At(i, "technique9") || At(i, "technique10") || At(i, "pass")) {
        const size_t end = SkipStatement(i);
        dropped.emplace_back(first, end);
        return end;
    }
    if (i + 1 >= tokens.size()) return tokens.size();
    const Token& typeToken = tokens[i];
    const Token& nameToken = tokens[i + 1];
    if (At(i + 2, "(")) {  // a function: remember its name, skip its body
        functions.push_back(nameToken.text);
        size_t j = SkipBalanced(i + 2, "(", ")");
        if (!pixel && nameToken.text == entry) {
            VertexEntry(i + 3, j - 1);
            if (IsPosition(j)) positionSemantics.push_back(j + 1);
        }
        while (j < tokens.size() && tokens[j].text != "{" && tokens[j].text != ";") ++j;
        if (At(j, ";")) return j + 1;
        return SkipBalanced(j, "{", "}");
    }
    TypeShape shape{};
    const bool nameOk = std::isalpha(static_cast<unsigned char>(nameToken.text[0])) || nameToken.text[0] == '_';
    if (isStatic) return SkipStatement(i);
    if (!ParseType(typeToken.text, rowMajor, &shape) || !nameOk) {
        const size_t end = SkipStatement(i);
        if (!nameOk || typeToken.text == "string") dropped.emplace_back(first, end);
        return end;
    }
    size_t j = i + 1;
    for (;;) {  // one or more declarators: name [N] [: register(xK)] [= init]
        const Token& name = tokens[j];
        uint32_t elements = 0;
        ++j;
        if (At(j, "[")) {
            if (j + 2 >= tokens.size() || tokens[j + 2].text != "]") {
                Error(tokens[j], "X3000", "array size must be an integer literal");
                return SkipStatement(j);
            }
            const std::string& n = tokens[j + 1].text;
            char* end = nullptr;
            const unsigned long v = std::strtoul(n.c_str(), &end, 0);
            if (n.empty() || *end != '\0' || v == 0 || v > 65535) {
                Error(tokens[j + 1], "X3058", "array dimensions must be positive literal integers");
                return SkipStatement(j);
            }
            elements = static_cast<uint32_t>(v);
            j += 3;
        }
        Declared d{};
        d.at = &name;
        d.registerAt = j;
        d.desc.name = name.text;
        d.desc.parameterClass = shape.cls;
        d.desc.type = shape.type;
        d.desc.rows = shape.rows;
        d.desc.columns = shape.columns;
        d.desc.elements = elements ? elements : 1;
        d.desc.bytes = 4 * shape.rows * shape.columns * d.desc.elements;
        const uint32_t perElement = shape.sampler ? 1
                                    : shape.cls == PARAMCLASS_MATRIX_COLUMNS ? shape.columns
                                    : shape.cls == PARAMCLASS_MATRIX_ROWS    ? shape.rows
                                                                              : 1;
        d.desc.registerCount = perElement * d.desc.elements;
        d.desc.registerSet = shape.sampler ? REGISTERSET_SAMPLER : REGISTERSET_FLOAT4;
        while (At(j, ":")) {
            if (At(j + 1, "register") && At(j + 2, "(") && j + 4 < tokens.size() && tokens[j + 4].text == ")") {
                const std::string& reg = tokens[j + 3].text;
                const char kind = reg.empty() ? '?' : static_cast<char>(std::tolower(reg[0]));
                char* end = nullptr;
                const unsigned long index = reg.size() > 1 ? std::strtoul(reg.c_str() + 1, &end, 10) : 0;
                const bool numeric = reg.size() > 1 && end && *end == '\0' && std::isdigit(static_cast<unsigned char>(reg[1]));
                const bool fits = (kind == 's') == shape.sampler && (kind == 'c' || kind == 's' || kind == 'b' || kind == 'i');
                if (!numeric || !fits || index > 65535) {
                    Error(tokens[j + 3], "X4509", "invalid register '" + reg + "' for '" + name.text + "'");
                } else {
                    d.explicitRegister = true;
                    d.desc.registerIndex = static_cast<uint32_t>(index);
                    if (kind == 'b') {
                        d.desc.registerSet = REGISTERSET_BOOL;
                        d.desc.type = PARAMTYPE_BOOL;
                    } else if (kind == 'i') {
                        d.desc.registerSet = REGISTERSET_INT4;
                        d.desc.type = PARAMTYPE_INT;
                    }
                }
                j += 5;
            } else {
                j += 2;  // a semantic: ignored
            }
        }
        constants.push_back(std::move(d));
        if (At(j, "=")) {  // initialiser (also sampler_state { ... })
            int level = 0;
            for (++j; j < tokens.size(); ++j) {
                const std::string& t = tokens[j].text;
                if (t == "{" || t == "(") ++level;
                if (t == "}" || t == ")") --level;
                if (level == 0 && (t == ";" || t == ",")) break;
            }
        }
        if (At(j, ",") && j + 1 < tokens.size()) {
            ++j;
            continue;
        }
        if (!At(j, ";")) {
            Error(j < tokens.size() ? tokens[j] : name, "X3000", "syntax error: expected ';' after '" + name.text + "'");
            return SkipStatement(j);
        }
        return j + 1;
    }
}

void Compiler::Scan() {
    size_t i = 0;
    while (i < tokens.size()) {
        if (At(i, ";")) {
            ++i;
            continue;
        }
        if (At(i, "{") || At(i, "}") || At(i, ")") || At(i, "]")) {
            Error(tokens[i], "X3000", "syntax error: unexpected token '" + tokens[i].text + "'");
            i = At(i, "{") ? SkipBalanced(i, "{", "}") : i + 1;
            continue;
        }
        const size_t next = Declaration(i);
        i = next > i ? next : i + 1;
    }
}

// Explicit registers first (overlaps are errors), then the rest in declaration order
// at the lowest free run of registers.
void Compiler::Assign() {
    std::vector<std::vector<const Declared*>> used(4, std::vector<const Declared*>(256, nullptr));
    for (Declared& d : constants) {
        if (!d.explicitRegister) continue;
        const uint32_t limit = Limit(d.desc.registerSet);
        const uint64_t end = static_cast<uint64_t>(d.desc.registerIndex) + d.desc.registerCount;
        if (end > limit) {
            Error(*d.at, "X4505", "'" + d.desc.name + "' needs registers beyond the profile's limit");
            continue;
        }
        for (uint64_t r = d.desc.registerIndex; r < end; ++r) {
            if (used[d.desc.registerSet][r]) {
                Error(*d.at, "X4500", "overlapping register semantics: '" + d.desc.name + "' and '" +
                                          used[d.desc.registerSet][r]->desc.name + "'");
                break;
            }
            used[d.desc.registerSet][r] = &d;
        }
    }
    for (Declared& d : constants) {
        if (d.explicitRegister) continue;
        const uint32_t limit = d.desc.registerSet == REGISTERSET_FLOAT4 && pixel ? kPixelShaderFloatConstants
                                                                                   : Limit(d.desc.registerSet);
        bool placed = false;
        for (uint32_t start = 0; !placed && start + d.desc.registerCount <= limit; ++start) {
            uint32_t n = 0;
            while (n < d.desc.registerCount && !used[d.desc.registerSet][start + n]) ++n;
            if (n == d.desc.registerCount) {
                d.desc.registerIndex = start;
                for (uint32_t r = 0; r < n; ++r) used[d.desc.registerSet][start + r] = &d;
                placed = true;
            }
        }
        if (!placed) Error(*d.at, "X4505", "maximum constant register index exceeded by '" + d.desc.name + "'");
    }
    if (pixel) {
        for (const Declared& d : constants)
            if (d.desc.registerSet == REGISTERSET_FLOAT4 && d.desc.registerIndex + d.desc.registerCount > kPixelShaderFloatConstants)
                Warning(*d.at, "X4717", "'" + d.desc.name + "' uses registers beyond ps_3_0's 224");
    }
}

// The preprocessed source as glslang gets it, one line per preprocessed line (so its
// line numbers index PreprocessResult::lines): every constant and sampler placed at the
// register of the constant table (glslang puts register cN at byte offset N x 16 of the
// uniform block and sN at binding N), the vertex position's semantic POSITION written
// as SV_Position (glslang's DX9 mode does not make POSITION the clip-space position; the
// pixel stage reads a struct shared with the vertex stage as the fragment position;
// the vertex stage's inputs keep POSITION as an attribute), and the effect-file
// statements left out.
std::string Compiler::GlslangText() const {
    struct Edit {
        uint32_t column;  // 0-based
        uint32_t erase;
        std::string text;
    };
    std::vector<std::vector<Edit>> edits(pre.lines.size());
    auto at = [&](size_t token, uint32_t erase, std::string text) {
        if (token < tokens.size()) {
            edits[tokens[token].lineIndex].push_back({tokens[token].column - 1, erase, std::move(text)});
        } else if (!pre.lines.empty()) {
            edits.back().push_back({static_cast<uint32_t>(pre.lines.back().text.size()), 0, std::move(text)});
        }
    };
    for (const Declared& d : constants) {
        if (d.explicitRegister) continue;
        const char kind = d.desc.registerSet == REGISTERSET_SAMPLER ? 's' : 'c';
        at(d.registerAt, 0, " : register(" + std::string(1, kind) + std::to_string(d.desc.registerIndex) + ") ");
    }
    std::vector<size_t> positions = positionSemantics;
    for (const auto& [name, k] : memberPositions)
        if (pixel || std::find(entryInputStructs.begin(), entryInputStructs.end(), name) == entryInputStructs.end())
            positions.push_back(k);
    for (const size_t k : positions) at(k, static_cast<uint32_t>(tokens[k].text.size()), "SV_Position");
    for (const auto& [from, to] : dropped)
        for (size_t k = from; k < to && k < tokens.size(); ++k) at(k, static_cast<uint32_t>(tokens[k].text.size()), "");
    std::string text;
    for (size_t i = 0; i < pre.lines.size(); ++i) {
        std::string line = pre.lines[i].text;
        std::vector<Edit>& e = edits[i];
        std::stable_sort(e.begin(), e.end(), [](const Edit& a, const Edit& b) { return a.column > b.column; });
        for (const Edit& x : e) line.replace(x.column, x.erase, x.text);
        text += line;
        text += '\n';
    }
    return text;
}

// ---------------------------------------------------------------- blob

void Put32(std::vector<uint8_t>* b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>* b, uint16_t v) {
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> BuildCtab(const std::vector<Declared>& constants, uint32_t version, const char* target) {
    const auto count = static_cast<uint32_t>(constants.size());
    const uint32_t infoOffset = 28;
    const uint32_t typeOffset = infoOffset + 20 * count;
    uint32_t stringOffset = typeOffset + 16 * count;
    std::vector<uint8_t> strings;
    auto addString = [&](const std::string& s) {
        const uint32_t at = stringOffset + static_cast<uint32_t>(strings.size());
        strings.insert(strings.end(), s.begin(), s.end());
        strings.push_back(0);
        return at;
    };
    const uint32_t creatorAt = addString(kCreator);
    const uint32_t targetAt = addString(target);
    std::vector<uint32_t> names;
    for (const Declared& d : constants) names.push_back(addString(d.desc.name));

    std::vector<uint8_t> t;
    Put32(&t, 28);
    Put32(&t, creatorAt);
    Put32(&t, version);
    Put32(&t, count);
    Put32(&t, infoOffset);
    Put32(&t, 0);
    Put32(&t, targetAt);
    for (uint32_t i = 0; i < count; ++i) {
        const ConstantDesc& c = constants[i].desc;
        Put32(&t, names[i]);
        Put16(&t, c.registerSet);
        Put16(&t, static_cast<uint16_t>(c.registerIndex));
        Put16(&t, static_cast<uint16_t>(c.registerCount));
        Put16(&t, 0);
        Put32(&t, typeOffset + 16 * i);
        Put32(&t, 0);
    }
    for (const Declared& d : constants) {
        const ConstantDesc& c = d.desc;
        Put16(&t, c.parameterClass);
        Put16(&t, c.type);
        Put16(&t, static_cast<uint16_t>(c.rows));
        Put16(&t, static_cast<uint16_t>(c.columns));
        Put16(&t, static_cast<uint16_t>(c.elements));
        Put16(&t, 0);
        Put32(&t, 0);
    }
    t.insert(t.end(), strings.begin(), strings.end());
    while (t.size() % 4) t.push_back(0);
    return t;
}

void PutComment(std::vector<uint8_t>* blob, uint32_t tag, const std::vector<uint8_t>& body) {
    const auto words = static_cast<uint32_t>(1 + body.size() / 4);
    Put32(blob, 0xFFFEu | (words << 16));
    Put32(blob, tag);
    blob->insert(blob->end(), body.begin(), body.end());
}

uint64_t Fnv1a(const PreprocessResult& pre) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const detail::SourceLine& l : pre.lines) {
        for (const char c : l.text) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
        h = (h ^ '\n') * 0x100000001B3ull;
    }
    return h;
}

Blob* JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return CreateBlob(text.c_str(), text.size() + 1);
}

}  // namespace

Result CompileShader(const char* source, uint32_t sourceBytes, const ShaderMacro* defines, IncludeHandler* include,
                     const char* entryPoint, const char* profile, uint32_t flags, Blob** code, Blob** errors,
                     ConstantTable** constants) {
    if (code) *code = nullptr;
    if (errors) *errors = nullptr;
    if (constants) *constants = nullptr;
    if (!source || !entryPoint || !profile || !code) return ERR_INVALIDCALL;
    const bool vertex = std::strcmp(profile, "vs_3_0") == 0;
    const bool pixel = std::strcmp(profile, "ps_3_0") == 0;
    if (!vertex && !pixel) {
        if (errors) *errors = JoinLines({std::string("error X3504: unsupported compiler target '") + profile + "'"});
        return ERR_INVALIDDATA;
    }
    PreprocessResult pre;
    detail::Preprocess(source, sourceBytes, defines, include, &pre);
    std::vector<std::string> messages = pre.errors;
    Compiler compiler(pre, pixel, entryPoint);
    if (messages.empty()) {
        compiler.Scan();
        bool found = false;
        for (const std::string& f : compiler.functions) found = found || f == entryPoint;
        if (!found) messages.push_back(std::string("memory(1,1): error X3501: '") + entryPoint + "': entrypoint not found");
        compiler.Assign();
        messages.insert(messages.end(), compiler.errors.begin(), compiler.errors.end());
    }
    std::vector<uint32_t> spirv;
    if (messages.empty()) {
        std::vector<detail::SpirvMessage> glslang;
        const bool compiled = detail::CompileHlslToSpirv(compiler.GlslangText(), pixel, &spirv, &glslang);
        for (const detail::SpirvMessage& m : glslang) {
            if (!m.error) continue;
            std::string where = "memory(1,1)";
            if (m.line >= 1 && m.line <= pre.lines.size()) {
                const detail::SourceLine& l = pre.lines[m.line - 1];
                where = pre.files[l.file] + "(" + std::to_string(l.line) + ",1)";
            }
            messages.push_back(where + ": error X3000: " + m.text);
        }
        if (!compiled && messages.empty()) messages.push_back("memory(1,1): error X3000: glslang produced no code");
        // One comment block holds at most 32767 words.
        if (compiled && spirv.size() + 1 > 0x7FFF)
            messages.push_back("memory(1,1): error X3000: the compiled code is too long for one shader");
    }
    if (!messages.empty()) {
        if (errors) *errors = JoinLines(messages);
        return ERR_INVALIDDATA;
    }
    const uint32_t version = vertex ? kVertexShaderVersion30 : kPixelShaderVersion30;
    std::vector<uint8_t> blob;
    Put32(&blob, version);
    PutComment(&blob, MakeFourCC('C', 'T', 'A', 'B'), BuildCtab(compiler.constants, version, profile));
    std::vector<uint8_t> hash;
    const uint64_t h = Fnv1a(pre);
    Put32(&hash, static_cast<uint32_t>(h));
    Put32(&hash, static_cast<uint32_t>(h >> 32));
    PutComment(&blob, MakeFourCC('S', 'R', 'C', 'H'), hash);
    std::vector<uint8_t> spirvBytes(spirv.size() * 4);
    std::memcpy(spirvBytes.data(), spirv.data(), spirvBytes.size());
    PutComment(&blob, detail::kSpirvTag, spirvBytes);
    Put32(&blob, kShaderEndToken);
    *code = CreateBlob(blob.data(), blob.size());
    if (errors && !compiler.warnings.empty()) *errors = JoinLines(compiler.warnings);
    if (constants) GetShaderConstantTableSized(blob.data(), blob.size(), constants);
    return OK;
}

}  // namespace gfx
