// The program's command line: accepted forms, the one-line errors with the usage and
// their exit status, --help on standard output, and the --log sink check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "core/Log.h"

namespace {

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string text;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    return text;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

struct Parsed {
    bool ok;
    app::CommandLine line;
    std::string error;
};

Parsed Parse(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    Parsed p;
    p.ok = app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.line, &p.error);
    // The kept arguments point into argv; copy them before the words go.
    static std::vector<std::string> kept;
    kept.clear();
    for (char* a : p.line.gameArguments) kept.emplace_back(a);
    p.line.gameArguments.clear();
    for (std::string& k : kept) p.line.gameArguments.push_back(k.data());
    if (p.line.logPath) {
        static std::string log;
        log = p.line.logPath;
        p.line.logPath = log.c_str();
    }
    return p;
}

TEST(CommandLine, AcceptedFormsKeepTheGameArgumentsInOrder) {
    struct Case {
        std::vector<std::string> argv;
        const char* log;
        uint32_t frames;
        bool help;
        std::vector<std::string> game;
    } cases[] = {
        {{"quorvel2"}, nullptr, 0, false, {"quorvel2"}},
        {{"q", "--log", "-", "--frames", "300"}, "-", 300, false, {"q"}},
        {{"q", "+connect_lobby", "42", "--frames", "1", "x"}, nullptr, 1, false, {"q", "+connect_lobby", "42", "x"}},
        {{"q", "--frames", "2147483647", "--frames", "007"}, nullptr, 7, false, {"q"}},
        {{"q", "--log", "a.txt", "--log", "b.txt", "-x"}, "b.txt", 0, false, {"q", "-x"}},
        // --help wins over whatever follows it, bad options included.
        {{"q", "--frames", "5", "--help", "--bogus"}, nullptr, 5, true, {"q"}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.argv);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_STREQ(p.line.logPath, c.log);
        EXPECT_EQ(p.line.frames, c.frames);
        EXPECT_EQ(p.line.help, c.help);
        std::vector<std::string> game(p.line.gameArguments.begin(), p.line.gameArguments.end());
        EXPECT_EQ(game, c.game);
    }
    app::CommandLine line;
    std::string error;
    EXPECT_TRUE(app::ParseCommandLine(0, nullptr, &line, &error));
    EXPECT_EQ(line.gameArguments.size(), 1u);
}

TEST(CommandLine, BadFormsGiveOneLineAndTheUsageOnStandardError) {
    struct Case {
        std::vector<std::string> argv;
        const char* line;
    } cases[] = {
        {{"q", "--bogus"}, "quorvel2: unknown option '--bogus'"},
        {{"q", "--log=x"}, "quorvel2: unknown option '--log=x'"},
        {{"q", "--frames"}, "quorvel2: option '--frames' needs a value"},
        {{"q", "--log"}, "quorvel2: option '--log' needs a value"},
        {{"q", "--log", ""}, "quorvel2: option '--log' needs a file name"},
        {{"q", "--frames", "0"}, "quorvel2: --frames wants a whole number from 1 to 2147483647, not '0'"},
        {{"q", "--frames", "x"}, "quorvel2: --frames wants a whole number from 1 to 2147483647, not 'x'"},
        {{"q", "--frames", "2147483648"},
         "quorvel2: --frames wants a whole number from 1 to 2147483647, not '2147483648'"},
        {{"q", "--frames", "99999999999999999999999"},
         "quorvel2: --frames wants a whole number from 1 to 2147483647, not '99999999999999999999999'"},
        {{"q", "--frames", "-1"}, "quorvel2: --frames wants a whole number from 1 to 2147483647, not '-1'"},
        {{"q", "--frames", "+5"}, "quorvel2: --frames wants a whole number from 1 to 2147483647, not '+5'"},
        {{"q", "--frames", " 5"}, "quorvel2: --frames wants a whole number from 1 to 2147483647, not ' 5'"},
    };
    std::FILE* usage = std::tmpfile();
    app::PrintUsage(usage);
    const std::string usageText = ReadAll(usage);
    std::fclose(usage);
    for (const Case& c : cases) {
        const Parsed p = Parse(c.argv);
        ASSERT_FALSE(p.ok) << c.line;
        std::FILE* err = std::tmpfile();
        EXPECT_EQ(app::ReportBadCommandLine(p.error, err), app::kExitBadArguments);
        EXPECT_EQ(ReadAll(err), std::string(c.line) + "\n" + usageText);
        std::fclose(err);
    }
    for (const char* option : {"--log FILE", "--frames N", "--help"})
        EXPECT_NE(usageText.find(option), std::string::npos) << option;
}

TEST(CommandLine, LogSinkThatCannotOpenIsABadCommandLine) {
    std::FILE* err = std::tmpfile();
    int exitCode = -1;
    app::CommandLine line;
    EXPECT_EQ(app::StartLogSink(line, err, &exitCode), nullptr);  // no --log
    EXPECT_EQ(exitCode, app::kExitSuccess);
    line.logPath = "/nonexistent-folder/quorvel2.log";
    EXPECT_EQ(app::StartLogSink(line, err, &exitCode), nullptr);
    EXPECT_EQ(exitCode, app::kExitBadArguments);
    EXPECT_EQ(FirstLine(ReadAll(err)), "quorvel2: cannot open log file '/nonexistent-folder/quorvel2.log'");
    std::fclose(err);

    line.logPath = "-";
    LogSink* sink = app::StartLogSink(line, stderr, &exitCode);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(exitCode, app::kExitSuccess);
    EXPECT_TRUE(sink->IsRunning());
    Log::DestroySink(&sink);
}

}  // namespace
