#include "platform/gfx/ShaderPreprocessor.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <set>

namespace gfx::detail {
namespace {

constexpr int kMaxIncludeDepth = 32;
// A file that includes itself twice would otherwise open 2^depth files.
constexpr size_t kMaxIncludedFiles = 1024;
constexpr int kMaxExpansionDepth = 64;
constexpr size_t kMaxOutputBytes = 16u << 20;
constexpr size_t kMaxLineBytes = 1u << 20;
constexpr size_t kMaxExpansionSteps = 200000;

struct Macro {
    bool function = false;
    std::vector<std::string> params;
    std::string body;
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdent(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

struct LogicalLine {
    std::string text;
    uint32_t line;
};

// Splits a file into logical lines: continuations joined, comments replaced by a space.
std::vector<LogicalLine> SplitLines(const char* text, size_t bytes) {
    std::vector<LogicalLine> out;
    std::string current;
    uint32_t line = 1, start = 1;
    bool inBlock = false;
    for (size_t i = 0; i < bytes; ++i) {
        const char c = text[i];
        if (c == '\0') break;
        if (c == '\\' && i + 1 < bytes && (text[i + 1] == '\n' || (text[i + 1] == '\r' && i + 2 < bytes && text[i + 2] == '\n'))) {
            i += text[i + 1] == '\r' ? 2 : 1;
            ++line;
            continue;
        }
        if (c == '\n') {
            if (!inBlock) {
                out.push_back({current, start});
                current.clear();
                start = line + 1;
            }
            ++line;
            continue;
        }
        if (c == '\r') continue;
        if (inBlock) {
            if (c == '*' && i + 1 < bytes && text[i + 1] == '/') {
                inBlock = false;
                ++i;
                current += ' ';
            }
            continue;
        }
        if (c == '/' && i + 1 < bytes && text[i + 1] == '*') {
            inBlock = true;
            ++i;
            continue;
        }
        if (c == '/' && i + 1 < bytes && text[i + 1] == '/') {
            while (i + 1 < bytes && text[i + 1] != '\n' && text[i + 1] != '\0') {
                // a continuation inside a line comment continues the comment
                if (text[i + 1] == '\\' && i + 2 < bytes && text[i + 2] == '\n') {
                    i += 2;
                    ++line;
                    continue;
                }
                ++i;
            }
            continue;
        }
        if (c == '"') {  // strings are copied untouched
            current += c;
            while (i + 1 < bytes && text[i + 1] != '"' && text[i + 1] != '\n' && text[i + 1] != '\0') current += text[++i];
            if (i + 1 < bytes && text[i + 1] == '"') current += text[++i];
            continue;
        }
        if (current.size() < kMaxLineBytes) current += c;
    }
    if (!current.empty() || out.empty()) out.push_back({current, start});
    return out;
}

class Preprocessor {
public:
    Preprocessor(IncludeHandler* include, PreprocessResult* result) : include(include), result(result) {}

    void Define(const std::string& name, const std::string& value) { macros[name] = Macro{false, {}, value}; }

    void RunFile(const char* text, size_t bytes, uint32_t file, int depth, const void* data);

private:
    struct Conditional {
        bool active;       // lines of this branch are kept
        bool taken;        // some branch was taken already
        bool parentActive;
        bool sawElse;
    };

    void Error(uint32_t file, uint32_t line, uint32_t column, const char* code, const std::string& text) {
        if (result->errors.size() < 100)
            result->errors.push_back(result->files[file] + "(" + std::to_string(line) + "," + std::to_string(column) +
                                     "): error " + code + ": " + text);
    }

    bool Active() const { return conditionals.empty() || conditionals.back().active; }
    void Directive(const std::string& text, size_t at, uint32_t file, uint32_t line, int depth, const void* data);
    std::string Expand(const std::string& text, int depth, std::set<std::string>& disabled, bool* ok);
    bool Evaluate(const std::string& expression, uint32_t file, uint32_t line, int64_t* value);

    IncludeHandler* include;
    PreprocessResult* result;
    std::map<std::string, Macro> macros;
    std::vector<Conditional> conditionals;
    size_t outputBytes = 0;
    size_t expansionSteps = 0;  // per logical line; guards against exponential macro chains
    bool overflow = false;
};

size_t SkipSpace(const std::string& s, size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return i;
}

std::string ReadIdent(const std::string& s, size_t* i) {
    const size_t start = *i;
    if (*i < s.size() && IsIdentStart(s[*i]))
        while (*i < s.size() && IsIdent(s[*i])) ++*i;
    return s.substr(start, *i - start);
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

// Integer expression parser over already expanded text.
class ExpressionParser {
public:
    explicit ExpressionParser(const std::string& s) : s(s) {}
    bool Parse(int64_t* value) {
        *value = Ternary();
        Skip();
        return ok && pos == s.size();
    }

private:
    void Skip() { pos = SkipSpace(s, pos); }
    bool Accept(const char* op) {
        Skip();
        const size_t n = std::char_traits<char>::length(op);
        if (s.compare(pos, n, op) != 0) return false;
        // do not take '<' from '<<' or '<=' and the like
        if (n == 1 && pos + 1 < s.size()) {
            const char next = s[pos + 1];
            if ((op[0] == '<' || op[0] == '>') && (next == op[0] || next == '=')) return false;
            if ((op[0] == '&' || op[0] == '|') && next == op[0]) return false;
            if ((op[0] == '!' || op[0] == '=') && next == '=') return false;
        }
        pos += n;
        return true;
    }
    int64_t Ternary() {
        if (++depth > 200) {
            ok = false;
            return 0;
        }
        const int64_t c = Binary(0);
        if (Accept("?")) {
            const int64_t a = Ternary();
            if (!Accept(":")) ok = false;
            const int64_t b = Ternary();
            --depth;
            return c ? a : b;
        }
        --depth;
        return c;
    }
    int64_t Binary(int level) {
        static const char* const kLevels[][6] = {
            {"||"}, {"&&"}, {"|"}, {"^"}, {"&"}, {"==", "!="}, {"<=", ">=", "<", ">"}, {"<<", ">>"}, {"+", "-"},
            {"*", "/", "%"},
        };
        if (level == 10) return Unary();
        int64_t left = Binary(level + 1);
        for (;;) {
            const char* matched = nullptr;
            for (const char* op : kLevels[level])
                if (op && Accept(op)) {
                    matched = op;
                    break;
                }
            if (!matched) return left;
            const int64_t right = Binary(level + 1);
            const std::string op = matched;
            const auto ul = static_cast<uint64_t>(left);
            if (op == "||") left = left || right;
            else if (op == "&&") left = left && right;
            else if (op == "|") left = left | right;
            else if (op == "^") left = left ^ right;
            else if (op == "&") left = left & right;
            else if (op == "==") left = left == right;
            else if (op == "!=") left = left != right;
            else if (op == "<=") left = left <= right;
            else if (op == ">=") left = left >= right;
            else if (op == "<") left = left < right;
            else if (op == ">") left = left > right;
            else if (op == "<<") left = static_cast<int64_t>(ul << (right & 63));
            else if (op == ">>") left = left >> (right & 63);
            else if (op == "+") left = static_cast<int64_t>(ul + static_cast<uint64_t>(right));
            else if (op == "-") left = static_cast<int64_t>(ul - static_cast<uint64_t>(right));
            else if (op == "*") left = static_cast<int64_t>(ul * static_cast<uint64_t>(right));
            else if (right == 0 || (left == INT64_MIN && right == -1)) {
                ok = false;
                divideByZero = true;
                left = 0;
            } else if (op == "/") left = left / right;
            else left = left % right;
        }
    }
    int64_t Unary() {
        if (++depth > 200) {
            ok = false;
            return 0;
        }
        int64_t v;
        if (Accept("!")) v = !Unary();
        else if (Accept("~")) v = ~Unary();
        else if (Accept("-")) v = static_cast<int64_t>(0 - static_cast<uint64_t>(Unary()));
        else if (Accept("+")) v = Unary();
        else v = Primary();
        --depth;
        return v;
    }
    int64_t Primary() {
        Skip();
        if (Accept("(")) {
            const int64_t v = Ternary();
            if (!Accept(")")) ok = false;
            return v;
        }
        if (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
            uint64_t v = 0;
            int base = 10;
            if (s[pos] == '0' && pos + 1 < s.size() && (s[pos + 1] == 'x' || s[pos + 1] == 'X')) {
                base = 16;
                pos += 2;
            } else if (s[pos] == '0') {
                base = 8;
            }
            bool any = base != 16;
            while (pos < s.size() && std::isxdigit(static_cast<unsigned char>(s[pos]))) {
                const char c = s[pos];
                const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
                if (digit >= base) break;
                v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
                any = true;
                ++pos;
            }
            while (pos < s.size() && (s[pos] == 'u' || s[pos] == 'U' || s[pos] == 'l' || s[pos] == 'L')) ++pos;
            if (!any) ok = false;
            return static_cast<int64_t>(v);
        }
        if (pos < s.size() && IsIdentStart(s[pos])) {  // an identifier left after expansion is 0
            while (pos < s.size() && IsIdent(s[pos])) ++pos;
            return 0;
        }
        ok = false;
        return 0;
    }

    const std::string& s;
    size_t pos = 0;
    int depth = 0;
    bool ok = true;

public:
    bool divideByZero = false;
};

}  // namespace

std::string Preprocessor::Expand(const std::string& text, int depth, std::set<std::string>& disabled, bool* ok) {
    if (depth > kMaxExpansionDepth || ++expansionSteps > kMaxExpansionSteps) {
        *ok = false;
        return text;
    }
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            const size_t end = text.find('"', i + 1);
            const size_t stop = end == std::string::npos ? text.size() : end + 1;
            out.append(text, i, stop - i);
            i = stop;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {  // numbers such as 1e5f stay whole
            while (i < text.size() && (IsIdent(text[i]) || text[i] == '.')) out += text[i++];
            continue;
        }
        if (!IsIdentStart(c)) {
            out += c;
            ++i;
            continue;
        }
        const std::string name = ReadIdent(text, &i);
        auto it = macros.find(name);
        if (it == macros.end() || disabled.count(name)) {
            out += name;
            continue;
        }
        const Macro& m = it->second;
        std::string body = m.body;
        if (m.function) {
            const size_t open = SkipSpace(text, i);
            if (open >= text.size() || text[open] != '(') {
                out += name;
                continue;
            }
            std::vector<std::string> args(1);
            int level = 0;
            size_t j = open + 1;
            for (; j < text.size(); ++j) {
                const char a = text[j];
                if (a == '(') ++level;
                if (a == ')') {
                    if (level == 0) break;
                    --level;
                }
                if (a == ',' && level == 0) {
                    args.emplace_back();
                    continue;
                }
                args.back() += a;
            }
            if (j >= text.size()) {
                *ok = false;
                return out;
            }
            i = j + 1;
            if (args.size() == 1 && Trim(args[0]).empty() && m.params.empty()) args.clear();
            if (args.size() != m.params.size()) {
                *ok = false;
                return out;
            }
            std::string substituted;
            for (size_t k = 0; k < m.body.size();) {
                if (IsIdentStart(m.body[k])) {
                    const std::string word = ReadIdent(m.body, &k);
                    size_t p = 0;
                    while (p < m.params.size() && m.params[p] != word) ++p;
                    if (p < m.params.size()) {
                        std::set<std::string> none = disabled;
                        substituted += Expand(Trim(args[p]), depth + 1, none, ok);
                        if (!*ok) return out;
                    } else {
                        substituted += word;
                    }
                } else {
                    substituted += m.body[k++];
                }
            }
            body = substituted;
        }
        disabled.insert(name);
        out += Expand(body, depth + 1, disabled, ok);
        disabled.erase(name);
        if (!*ok) return out;
        if (out.size() > kMaxLineBytes) {
            *ok = false;
            return out;
        }
    }
    return out;
}

bool Preprocessor::Evaluate(const std::string& expression, uint32_t file, uint32_t line, int64_t* value) {
    // Replace defined X and defined(X) first, so the names are not expanded.
    std::string replaced;
    for (size_t i = 0; i < expression.size();) {
        if (IsIdentStart(expression[i])) {
            const std::string word = ReadIdent(expression, &i);
            if (word != "defined") {
                replaced += word;
                continue;
            }
            size_t j = SkipSpace(expression, i);
            const bool paren = j < expression.size() && expression[j] == '(';
            if (paren) j = SkipSpace(expression, j + 1);
            const std::string name = ReadIdent(expression, &j);
            if (paren) {
                j = SkipSpace(expression, j);
                if (j >= expression.size() || expression[j] != ')' || name.empty()) {
                    Error(file, line, 1, "X1507", "invalid use of defined()");
                    return false;
                }
                ++j;
            }
            if (name.empty()) {
                Error(file, line, 1, "X1507", "defined without a name");
                return false;
            }
            replaced += macros.count(name) ? " 1 " : " 0 ";
            i = j;
        } else {
            replaced += expression[i++];
        }
    }
    bool ok = true;
    std::set<std::string> disabled;
    expansionSteps = 0;
    const std::string expanded = Expand(replaced, 0, disabled, &ok);
    ExpressionParser parser(expanded);
    if (!ok || !parser.Parse(value)) {
        Error(file, line, 1, "X1507", parser.divideByZero ? "division by zero in #if" : "invalid #if expression '" + Trim(expression) + "'");
        return false;
    }
    return true;
}

void Preprocessor::Directive(const std::string& text, size_t at, uint32_t file, uint32_t line, int depth,
                             const void* data) {
    size_t i = SkipSpace(text, at + 1);
    const std::string name = ReadIdent(text, &i);
    const std::string rest = text.substr(i);
    const uint32_t column = static_cast<uint32_t>(at + 1);

    if (name == "if" || name == "ifdef" || name == "ifndef") {
        const bool parent = Active();
        bool value = false;
        if (parent) {
            if (name == "if") {
                int64_t v = 0;
                value = Evaluate(rest, file, line, &v) && v != 0;
            } else {
                size_t j = SkipSpace(rest, 0);
                const std::string macro = ReadIdent(rest, &j);
                if (macro.empty()) Error(file, line, column, "X1507", "#" + name + " without a name");
                value = (macros.count(macro) != 0) == (name == "ifdef");
            }
        }
        conditionals.push_back({parent && value, value, parent, false});
        return;
    }
    if (name == "elif" || name == "else" || name == "endif") {
        if (conditionals.empty()) {
            Error(file, line, column, "X1507", "#" + name + " without #if");
            return;
        }
        Conditional& c = conditionals.back();
        if (name == "endif") {
            conditionals.pop_back();
            return;
        }
        if (c.sawElse) {
            Error(file, line, column, "X1507", "#" + name + " after #else");
            return;
        }
        if (name == "else") {
            c.sawElse = true;
            c.active = c.parentActive && !c.taken;
            c.taken = true;
            return;
        }
        int64_t v = 0;
        const bool value = c.parentActive && !c.taken && Evaluate(rest, file, line, &v) && v != 0;
        c.active = value;
        c.taken = c.taken || value;
        return;
    }
    if (!Active()) return;

    if (name == "define") {
        size_t j = SkipSpace(rest, 0);
        const std::string macro = ReadIdent(rest, &j);
        if (macro.empty()) {
            Error(file, line, column, "X1507", "#define without a name");
            return;
        }
        Macro m;
        if (j < rest.size() && rest[j] == '(') {
            m.function = true;
            ++j;
            for (;;) {
                j = SkipSpace(rest, j);
                if (j < rest.size() && rest[j] == ')') {
                    ++j;
                    break;
                }
                const std::string param = ReadIdent(rest, &j);
                j = SkipSpace(rest, j);
                if (param.empty() || j >= rest.size() || (rest[j] != ',' && rest[j] != ')')) {
                    Error(file, line, column, "X1507", "invalid parameter list of macro '" + macro + "'");
                    return;
                }
                m.params.push_back(param);
                if (rest[j] == ',') ++j;
            }
        }
        m.body = Trim(rest.substr(j));
        macros[macro] = m;
        return;
    }
    if (name == "undef") {
        size_t j = SkipSpace(rest, 0);
        macros.erase(ReadIdent(rest, &j));
        return;
    }
    if (name == "error") {
        Error(file, line, column, "X1503", "#error " + Trim(rest));
        return;
    }
    if (name == "pragma" || name == "line") return;
    if (name == "include") {
        const std::string spec = Trim(rest);
        if (spec.size() < 2 || !((spec.front() == '"' && spec.back() == '"') || (spec.front() == '<' && spec.back() == '>'))) {
            Error(file, line, column, "X1507", "#include expects \"file\" or <file>");
            return;
        }
        const std::string target = spec.substr(1, spec.size() - 2);
        if (depth >= kMaxIncludeDepth) {
            Error(file, line, column, "X1507", "#include nested too deeply");
            return;
        }
        if (result->files.size() > kMaxIncludedFiles) {
            Error(file, line, column, "X1507", "too many #include files");
            overflow = true;
            return;
        }
        const void* included = nullptr;
        uint32_t bytes = 0;
        if (!include || Failed(include->Open(spec.front() == '"' ? INCLUDE_LOCAL : INCLUDE_SYSTEM, target.c_str(),
                                             data, &included, &bytes)) ||
            (!included && bytes)) {
            Error(file, line, column, "X1507", "failed to open source file: '" + target + "'");
            return;
        }
        result->files.push_back(target);
        RunFile(static_cast<const char*>(included), bytes, static_cast<uint32_t>(result->files.size() - 1), depth + 1,
                included);
        include->Close(included);
        return;
    }
    Error(file, line, column, "X1507", "unknown directive #" + name);
}

void Preprocessor::RunFile(const char* text, size_t bytes, uint32_t file, int depth, const void* data) {
    const size_t openConditionals = conditionals.size();
    for (const LogicalLine& l : SplitLines(text ? text : "", text ? bytes : 0)) {
        if (overflow) return;
        const size_t first = SkipSpace(l.text, 0);
        if (first < l.text.size() && l.text[first] == '#') {
            Directive(l.text, first, file, l.line, depth, data);
            continue;
        }
        if (!Active()) continue;
        bool ok = true;
        std::set<std::string> disabled;
        expansionSteps = 0;
        std::string expanded = Expand(l.text, 0, disabled, &ok);
        if (!ok) Error(file, l.line, 1, "X1507", "macro expansion failed (bad arguments or too deep)");
        outputBytes += expanded.size() + 1;
        if (outputBytes > kMaxOutputBytes) {
            Error(file, l.line, 1, "X1507", "preprocessed source too large");
            overflow = true;
            return;
        }
        result->lines.push_back({std::move(expanded), file, l.line});
    }
    if (conditionals.size() > openConditionals) {
        Error(file, 1, 1, "X1507", "unterminated #if");
        conditionals.resize(openConditionals);
    }
}

void Preprocess(const char* source, size_t bytes, const ShaderMacro* defines, IncludeHandler* include,
                PreprocessResult* result) {
    *result = PreprocessResult{};
    result->files.push_back("memory");
    Preprocessor p(include, result);
    for (const ShaderMacro* m = defines; m && m->name; ++m) p.Define(m->name, m->definition ? m->definition : "");
    p.RunFile(source, bytes, 0, 0, nullptr);
}

}  // namespace gfx::detail
