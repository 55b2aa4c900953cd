// Child processes: their output line by line, how they ended, their usage while they
// run, their CPU pinning and refused CPU lists; and the open-file limit.
#include "platform/os/ChildProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(ChildProcess, ReportsOutputAndHowItEnded) {
    const std::string log = (std::filesystem::temp_directory_path() / ("child_process_test." + std::to_string(::getpid()))).string();
    struct Case {
        const char* script;
        const char* firstLine;  // nullptr: none
        const char* ended;
    } cases[] = {
        {"echo one; echo two; exit 0", "one", ""},
        {"echo out; echo err >&2; exit 3", "out", "exit status 3"},
        {"kill -SEGV $$", nullptr, "killed by signal 11"},
        {"exec sleep 30", nullptr, ""},  // stops on the request: SIGTERM ends sleep, "killed by signal 15"
    };
    for (const Case& c : cases) {
        os::ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start({"/bin/sh", "-c", c.script}, log, "", &error)) << error;
        std::string line;
        if (c.firstLine) {
            ASSERT_TRUE(child.ReadLine(&line, 5000)) << c.script;
            EXPECT_EQ(line, c.firstLine);
        } else {
            EXPECT_FALSE(child.ReadLine(&line, 200)) << c.script << ": " << line;
        }
        const bool running = std::string(c.script).rfind("exec sleep", 0) == 0;
        if (!running)
            while (child.ReadLine(&line, 5000)) {
            }  // to the end of its output: it has exited then
        os::ProcessUsage usage;
        if (running) {
            EXPECT_TRUE(child.ReadUsage(&usage));
            EXPECT_GT(usage.residentBytes, 0u);
        }
        const std::string ended = child.Stop(5000);
        EXPECT_EQ(ended, running ? "killed by signal 15" : c.ended) << c.script;
        EXPECT_FALSE(child.ReadUsage(&usage)) << "no usage of a stopped process";
        EXPECT_EQ(child.Stop(100), "not running");
    }
    std::ifstream errors(log);
    std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "err\n") << "standard error goes to the log";
    std::filesystem::remove(log);
}

TEST(ChildProcess, PinsToTheCpusGivenAndRefusesMalformedLists) {
    struct Case {
        const char* text;
        std::vector<int> cpus;  // empty: refused
    } cases[] = {{"0", {0}}, {"0-2,5", {0, 1, 2, 5}}, {"3,1", {3, 1}}, {"", {}}, {"1-", {}}, {"2-1", {}},
                 {"a", {}}, {"1,", {}}, {"-1", {}}, {"1,,2", {}}, {"99999", {}}};
    for (const Case& c : cases) {
        std::vector<int> cpus;
        EXPECT_EQ(os::ParseCpuList(c.text, &cpus), !c.cpus.empty()) << c.text;
        if (!c.cpus.empty()) {
            EXPECT_EQ(cpus, c.cpus) << c.text;
        }
    }
    os::ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start({"/bin/true"}, "/dev/null", "x", &error));
    EXPECT_NE(error.find("malformed CPU list"), std::string::npos) << error;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "grep Cpus_allowed_list /proc/self/status"}, "/dev/null", "0", &error)) << error;
    std::string line;
    ASSERT_TRUE(child.ReadLine(&line, 5000));
    EXPECT_EQ(line.substr(line.find_last_of(" \t") + 1), "0") << line;
    EXPECT_FALSE(child.ReadLine(&line, 5000)) << "its output ends as it exits";
    EXPECT_EQ(child.Stop(5000), "");
}

TEST(ChildProcess, RaisingTheOpenFileLimitSaysWhetherItRose) {
    uint64_t before = 0, after = 0;
    os::RaiseOpenFileLimit(&before, &after);
    EXPECT_GT(after, 0u);
    // At the hard limit already: nothing rises.
    uint64_t again = 0, still = 0;
    EXPECT_FALSE(os::RaiseOpenFileLimit(&again, &still));
    EXPECT_EQ(again, after);
    EXPECT_EQ(still, after);
}

}  // namespace
