// The shader preprocessor against the system's C preprocessor (cpp): seeded random
// #if expressions and hand-made sources with comments, continuations and macros give
// the same lines once blanks are folded. Plus the cases where the two differ on
// purpose: errors, limits and input without a terminator.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/CrtRand.h"
#include "platform/gfx/ShaderPreprocessor.h"

using namespace gfx;
using namespace gfx::detail;

namespace {

// Lines with runs of blanks folded to one and empty lines dropped.
std::vector<std::string> Fold(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
        std::string f;
        for (char c : l) {
            if (c == ' ' || c == '\t') {
                if (!f.empty() && f.back() != ' ') f += ' ';
            } else {
                f += c;
            }
        }
        while (!f.empty() && f.back() == ' ') f.pop_back();
        if (!f.empty()) out.push_back(f);
    }
    return out;
}

std::vector<std::string> Ours(const std::string& source, std::vector<std::string>* errors = nullptr) {
    PreprocessResult r;
    Preprocess(source.data(), source.size(), nullptr, nullptr, &r);
    if (errors) *errors = r.errors;
    std::vector<std::string> lines;
    for (const SourceLine& l : r.lines) lines.push_back(l.text);
    return Fold(lines);
}

// Null when cpp cannot be run.
bool SystemCpp(const std::string& source, std::vector<std::string>* lines) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("preprocessor_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".h");
    std::ofstream(path) << source;
    FILE* p = popen(("cpp -P -w " + path.string() + " 2>/dev/null").c_str(), "r");
    if (!p) return false;
    std::vector<std::string> raw;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, p)) {
        std::string l = buffer;
        if (!l.empty() && l.back() == '\n') l.pop_back();
        raw.push_back(l);
    }
    const int status = pclose(p);
    std::filesystem::remove(path);
    *lines = Fold(raw);
    return status == 0;
}

std::string RandomOperand(int depth) {
    if (depth > 3 || CrtRand() % 3 == 0) {
        static const char* const kLiterals[] = {"0", "1", "2", "7", "13", "0x1F", "010", "255", "100L", "3"};
        return kLiterals[CrtRand() % 10];
    }
    static const char* const kBinary[] = {"+", "-", "*", "/", "%", "<<", ">>", "<", ">", "<=", ">=", "==", "!=",
                                          "&", "|", "^", "&&", "||"};
    switch (CrtRand() % 5) {
    case 0: return std::string(CrtRand() % 2 ? "-" : CrtRand() % 2 ? "!" : "~") + "(" + RandomOperand(depth + 1) + ")";
    case 1:
        return "(" + RandomOperand(depth + 1) + " ? " + RandomOperand(depth + 1) + " : " + RandomOperand(depth + 1) + ")";
    default: {
        const std::string op = kBinary[CrtRand() % 18];
        // Shift counts stay in range and divisors are never 0, which both treat alike.
        std::string right;
        if (op == "<<" || op == ">>") right = std::to_string(CrtRand() % 20);
        else if (op == "/" || op == "%") right = std::to_string(1 + CrtRand() % 9);
        else right = RandomOperand(depth + 1);
        return "(" + RandomOperand(depth + 1) + " " + op + " " + right + ")";
    }
    }
}

TEST(ShaderPreprocessor, ExpressionsAgreeWithTheSystemPreprocessor) {
    CrtSrand(2024);
    std::string source;
    for (int i = 0; i < 400; ++i)
        source += "#if " + RandomOperand(0) + "\nL" + std::to_string(i) + " yes\n#elif 1\nL" + std::to_string(i) + " no\n#endif\n";
    std::vector<std::string> theirs;
    if (!SystemCpp(source, &theirs)) GTEST_SKIP() << "cpp not available";
    std::vector<std::string> errors;
    const std::vector<std::string> ours = Ours(source, &errors);
    EXPECT_TRUE(errors.empty()) << errors[0];
    ASSERT_EQ(ours.size(), 400u);
    EXPECT_EQ(ours, theirs);
}

TEST(ShaderPreprocessor, SourcesAgreeWithTheSystemPreprocessor) {
    const char* sources[] = {
        "/* leading */ a /* block */ b // line\nc /* across\nlines */ d\ne",
        "x = 1; /**/ y = 2;\n// only a comment\n/* a / and a * inside */ z",
        "long \\\nline \\\n joined\nnext", "crlf \\\r\njoined\r\nnext\r\n", "// a comment \\\n continued\nafter",
        "s = \"// not a comment /* either */\";",
        "#define A 1\n#define B A + A\n#define F(x, y) ((x) * (y) + B)\nF(2, A) F( (1,2) , 3 )\n#undef A\nA B",
        "#define E()  empty\n#define G(x) x x\nE() G(G(1)) G()", "#define SELF SELF + 1\nSELF",
        "#ifdef NOPE\nno\n#elif defined(NOPE) || !defined NOPE\nyes\n#else\nno\n#endif",
        "#define V 3\n#if V > 2\n#if V > 5\nbig\n#else\nmid\n#endif\n#endif\n#ifndef V\nno\n#endif",
        "#if 0\n#error not here\n#if 1\nskipped\n#endif\n#else\nkept\n#endif", "1e5f 0x1Fu 3.5 .5 x1 _y",
    };
    for (const char* s : sources) {
        std::vector<std::string> theirs;
        if (!SystemCpp(s, &theirs)) GTEST_SKIP() << "cpp not available";
        std::vector<std::string> errors;
        EXPECT_EQ(Ours(s, &errors), theirs) << s;
        EXPECT_TRUE(errors.empty()) << s;
    }
}

TEST(ShaderPreprocessor, ErrorsLimitsAndUnterminatedInput) {
    std::string chain;  // a thousand macros, each expanding to the one before
    for (int i = 1; i <= 1000; ++i) chain += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + "\n";
    struct Case { std::string source; const char* error; } cases[] = {  // a fragment of the first error; null: none
        {"#if 1 / 0\n#endif", "division by zero"}, {"#if (1\n#endif", "X1507"},
        {"#if defined(\n#endif", "invalid use of defined()"}, {"#endif", "X1507"}, {"#if 1\nopen", "X1507"},
        {"#error stop here", "stop here"}, {"#define F(a) a\nF(1, 2)", "X1507"},
        {"#include \"x.hlsl\"", "failed to open source file"}, {"#include x.hlsl", "expects \"file\" or <file>"},
        {chain + "M1000", "X1507"}, {"#if 1 ? 2\n#endif", "X1507"},
        {"#if 0x\n#endif", "X1507"},  // a hex prefix without digits
        {"#if " + std::string(198, '-') + "1\n#endif", nullptr},  // the deepest expression taken
        {"#if " + std::string(199, '-') + "1\n#endif", "X1507"},
        {"#if 1\n#else\n#else\n#endif", "X1507"}, {"#if 0\n#else\n#elif 1\n#endif", "X1507"},
        {"a /", nullptr}, {"s = \"never closed", nullptr}, {"a /* never closed", nullptr},
        {"a /* closed only past the end *", nullptr},
    };
    for (const Case& c : cases) {
        // The source is handed over without a terminator: nothing may read past it.
        const std::vector<char> exact(c.source.begin(), c.source.end());
        PreprocessResult r;
        Preprocess(exact.data(), exact.size(), nullptr, nullptr, &r);
        const std::string first = r.errors.empty() ? "none" : r.errors[0];
        EXPECT_TRUE(c.error ? first.rfind("memory(", 0) == 0 && first.find(c.error) != std::string::npos : r.errors.empty())
            << c.source.substr(0, 80) << " -> " << first;
    }
    // The output is bounded: 16 MiB of expanded lines end the run with an error.
    std::string huge = "#define W " + std::string(4000, 'w') + "\n";
    for (int i = 0; i < 4200; ++i) huge += "W\n";
    PreprocessResult big;
    Preprocess(huge.data(), huge.size(), nullptr, nullptr, &big);
    ASSERT_FALSE(big.errors.empty());
    EXPECT_NE(big.errors[0].find("preprocessed source too large"), std::string::npos) << big.errors[0];
    EXPECT_LT(big.lines.size(), 4200u);
    // Macros given by the caller take part; a line number follows continuations.
    const ShaderMacro defines[] = {{"QUALITY", "3"}, {"EMPTY", nullptr}, {nullptr, nullptr}};
    PreprocessResult r;
    const std::string src = "#if QUALITY == 3 && defined(EMPTY)\nq \\\n=\nEMPTY QUALITY\n#endif";
    Preprocess(src.data(), src.size(), defines, nullptr, &r);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(std::make_pair(r.lines[1].line, Fold({r.lines[1].text})), std::make_pair(4u, std::vector<std::string>{"3"}));
}

}  // namespace
