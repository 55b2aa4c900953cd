// The program's command line: accepted forms, one-line errors, the --log file check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "core/Log.h"

namespace {

std::string ReadAll(std::FILE* f) {
    std::string text(static_cast<size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
}

struct Parsed { bool ok; app::CommandLine line; std::string error; std::vector<std::string> game; };

Parsed Parse(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    Parsed p;
    p.ok = app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.line, &p.error);
    p.game.assign(p.line.gameArguments.begin(), p.line.gameArguments.end());
    p.line.logPath = p.line.logPath ? (p.line.logPath[0] == '-' ? "-" : "file") : nullptr;  // argv goes now
    p.line.audioOutPath = p.line.audioOutPath ? "file" : nullptr;
    return p;
}

TEST(CommandLine, AcceptedFormsKeepTheGameArgumentsInOrder) {
    struct Case {
        std::vector<std::string> argv;
        const char* log;
        uint32_t frames;
        bool stepTime;
        bool help;
        std::vector<std::string> game;
    } cases[] = {
        {{"q"}, nullptr, 0, false, false, {"q"}},
        {{"q", "--log", "-", "--frames", "300"}, "-", 300, false, false, {"q"}},
        {{"q", "+connect_lobby", "42", "--frames", "1", "-x"}, nullptr, 1, false, false, {"q", "+connect_lobby", "42", "-x"}},
        {{"q", "--frames", "2147483647", "--log", "a", "--frames", "007"}, "file", 7, false, false, {"q"}},
        {{"q", "--step-time", "a", "--frames", "9"}, nullptr, 9, true, false, {"q", "a"}},
        {{"q", "--frames", "5", "--help", "--bogus"}, nullptr, 5, false, true, {"q"}},  // --help ends the parse
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.argv);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_STREQ(p.line.logPath, c.log);
        EXPECT_EQ(p.line.frames, c.frames);
        EXPECT_EQ(p.line.stepTime, c.stepTime);
        EXPECT_EQ(p.line.help, c.help);
        EXPECT_EQ(p.game, c.game);
    }
}

TEST(CommandLine, PictureOptionsAndNoDraw) {
    std::vector<std::string> words = {"q", "--screenshot", "last.png", "a", "--screenshot-every", "10", "shots",
                                      "--no-draw", "b"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    app::CommandLine line;
    std::string error;
    ASSERT_TRUE(app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, &error)) << error;
    EXPECT_STREQ(line.screenshotPath, "last.png");
    EXPECT_EQ(line.screenshotEvery, 10u);
    EXPECT_STREQ(line.screenshotFolder, "shots");
    EXPECT_TRUE(line.noDraw);
    EXPECT_EQ(line.gameArguments.size(), 3u);  // the program name, "a" and "b"
    const struct {
        std::vector<std::string> argv;
        const char* error;
    } bad[] = {
        {{"q", "--screenshot"}, "option '--screenshot' needs a value"},
        {{"q", "--screenshot", ""}, "option '--screenshot' needs a file name"},
        {{"q", "--screenshot-every", "0", "d"}, "--screenshot-every wants a whole number from 1 to 2147483647, not '0'"},
        {{"q", "--screenshot-every", "5"}, "option '--screenshot-every' needs a folder after the number"},
    };
    for (const auto& c : bad) {
        const Parsed p = Parse(c.argv);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, c.error);
    }
}

TEST(CommandLine, DesktopOptions) {
    const Parsed p = Parse({"q", "--headless", "a", "--no-sound", "--audio-out", "out.wav"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.line.headless);
    EXPECT_TRUE(p.line.noSound);
    EXPECT_NE(p.line.audioOutPath, nullptr);
    EXPECT_EQ(p.game, (std::vector<std::string>{"q", "a"}));
    const Parsed plain = Parse({"q"});
    EXPECT_FALSE(plain.line.headless);
    EXPECT_FALSE(plain.line.noSound);
    EXPECT_EQ(plain.line.audioOutPath, nullptr);
    EXPECT_EQ(Parse({"q", "--audio-out"}).error, "option '--audio-out' needs a value");
    EXPECT_EQ(Parse({"q", "--audio-out", ""}).error, "option '--audio-out' needs a file name");
    // Pacing: a run without a frame limit is always paced, a limited one only when asked.
    const struct { std::vector<std::string> argv; bool paced; } pacing[] = {
        {{"q"}, true}, {{"q", "--paced"}, true}, {{"q", "--frames", "5"}, false}, {{"q", "--frames", "5", "--paced"}, true}};
    for (const auto& c : pacing) EXPECT_EQ(app::IsPaced(Parse(c.argv).line), c.paced) << c.argv.size();
}

TEST(CommandLine, BadFormsGiveOneLineThenTheUsage) {
    const std::string range = "quorvel2: --frames wants a whole number from 1 to 2147483647, not ";
    struct Case { std::vector<std::string> argv; std::string line; } cases[] = {
        {{"q", "--bogus"}, "quorvel2: unknown option '--bogus'"},
        {{"q", "--frames"}, "quorvel2: option '--frames' needs a value"},
        {{"q", "--log", ""}, "quorvel2: option '--log' needs a file name"},
        {{"q", "--frames", "0"}, range + "'0'"},
        {{"q", "--frames", "x"}, range + "'x'"},
        {{"q", "--frames", "2147483648"}, range + "'2147483648'"},
        {{"q", "--frames", "99999999999999999999999"}, range + "'99999999999999999999999'"},
        {{"q", "--bad\noption"}, "quorvel2: unknown option '--bad?option'"},  // still one line
        {{"q", "--broker", "nocolon"}, "quorvel2: --broker wants HOST:PORT, not 'nocolon'"},
        {{"q", "--broker", "host:0"}, "quorvel2: --broker wants HOST:PORT, not 'host:0'"},
        {{"q", "--broker", "host:65536"}, "quorvel2: --broker wants HOST:PORT, not 'host:65536'"},
        {{"q", "--frames", "5\r\n\x7F"}, range + "'5" + std::string(3, '?') + "'"},
    };
    std::FILE* usage = std::tmpfile();
    app::PrintUsage(usage);
    const std::string usageText = ReadAll(usage);
    for (const char* option : {"--log FILE", "--frames N", "--paced", "--step-time", "--screenshot FILE", "--screenshot-every N DIR",
                               "--no-draw", "--headless", "--no-sound", "--audio-out FILE", "--help"})
        EXPECT_NE(usageText.find(option), std::string::npos);
    for (const Case& c : cases) {
        const Parsed p = Parse(c.argv);
        ASSERT_FALSE(p.ok) << c.line;
        std::FILE* err = std::tmpfile();
        EXPECT_EQ(app::ReportBadCommandLine(p.error, err), app::kExitBadArguments);
        EXPECT_EQ(ReadAll(err), c.line + "\n" + usageText);
    }
}

TEST(CommandLine, LogFileThatCannotOpenIsABadCommandLine) {
    std::FILE* err = std::tmpfile();
    int exitCode = -1;
    app::CommandLine line;
    line.logPath = "/nonexistent-folder/quorvel2.log";
    EXPECT_EQ(app::StartLogSink(line, err, &exitCode), nullptr);
    EXPECT_EQ(exitCode, app::kExitBadArguments);
    EXPECT_EQ(ReadAll(err).substr(0, 66), "quorvel2: cannot open log file '/nonexistent-folder/quorvel2.log'\n");
    line.logPath = "-";
    LogSink* sink = app::StartLogSink(line, stderr, &exitCode);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(exitCode, app::kExitSuccess);
    Log::DestroySink(&sink);
}

}  // namespace
