// test-depends: quorvel2 sample_data pack
// test-timeout: 900
// Broken inputs given to the real program, each run headless with --step-time (and the
// recording device: nothing needs drawing) on a copy of the sample data with one fault:
// a scenario's bad values, a main script and a mission script with each kind of fault,
// an error every step, a scene that cannot be loaded, a damaged resource list, an empty
// video, missing data and a second copy. For each: the exit status, the line that names
// the file (in the log, and on standard error for what ends the run), a log that stays
// short (at most 50 warnings and errors for the one fault) and readable (no raw bytes),
// and the run's end within its frames.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "SampleTestSupport.h"
#include "platform/os/SingleInstance.h"

namespace {

using namespace sampletest;
namespace fs = std::filesystem;

const std::string kProgramFolder = PROJECT_BINARY_ROOT "/app";
const std::string kSampleData = PROJECT_BINARY_ROOT "/sample_data";
const char kMission[] = "Scenario = {mode = \"mission\", seed = 1}\n";
const char kMenu[] = "Scenario = {mode = \"menu\", seed = 1}\n";
constexpr uint32_t kFrames = 40;      // the run's cap
constexpr size_t kMostProblems = 50;  // warnings and errors of a run with one fault

void Prepend(const std::string& file, const std::string& text) {
    const std::string rest = ReadFile(file);
    std::ofstream(file, std::ios::binary) << text << rest;
}
void Append(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::app) << text; }
void Replace(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

struct Case {
    const char* what;
    const char* set;  // the data set the fault is in (null: none is changed; "": no data at all)
    std::function<void(const std::string& set)> change;
    const char* scenario;
    int status;
    std::vector<std::string> lines;  // in the log or, for a failed start-up, on standard error
    bool told;                       // the run ends for the fault: standard error says why
    uint32_t frames;                 // the run ends within this many frames
};

struct Outcome {
    int status = -1;
    std::string log, err;
};

class BrokenInputsTest : public ::testing::Test {
protected:
    // The program's folder with the sample data, the set changed; below the build folder,
    // so the program and the data are hard links.
    std::string Prepare(const Case& c, const std::string& name) {
        const std::string folder = root + "/" + name;
        fs::create_directories(folder + "/home/" + kProjectFolder);
        std::ofstream(folder + "/home/" + kProjectFolder + "/Scenario.lua") << c.scenario;
        const auto place = [&](const fs::path& from) {
            std::error_code linked;
            fs::create_hard_link(from, folder + "/" + from.filename().string(), linked);
            if (linked) fs::copy_file(from, folder + "/" + from.filename().string());
        };
        place(kProgramFolder + "/quorvel2");
        const std::string changed = c.set ? c.set : "";
        if (c.set && changed.empty()) return folder;
        for (const fs::directory_entry& e : fs::directory_iterator(kProgramFolder)) {
            const std::string ext = e.path().extension();
            if ((ext == ".dat" || ext == ".idx") && e.path().stem() != changed) place(e.path());
        }
        if (changed.empty()) return folder;
        const std::string set = folder + "/" + c.set;
        fs::copy(kSampleData + "/" + c.set, set, fs::copy_options::recursive);
        if (c.change) c.change(set);
        const std::string pack = "'" PROJECT_BINARY_ROOT "/tools/pack' '" + set + "' '" + set + ".dat' >/dev/null";
        EXPECT_EQ(std::system(pack.c_str()), 0) << c.what;
        return folder;
    }

    // log: the --log argument ("-": standard error, where the log then is).
    Outcome Start(const std::string& folder, const std::string& log = "log.txt") {
        const std::string command = "cd '" + folder + "' && XDG_DATA_HOME='" + folder + "/home' XDG_RUNTIME_DIR='" +
                                    folder + "' EGL_PLATFORM=surfaceless timeout -s KILL 300 ./quorvel2 --headless "
                                    "--step-time --no-draw --frames " + std::to_string(kFrames) +
                                    " --log " + log + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.log = ReadFile(folder + (log == "-" ? "/err.txt" : "/" + log));
        run.err = ReadFile(folder + "/err.txt");
        return run;
    }

    void SetUp() override {
        root = PROJECT_BINARY_ROOT "/broken_inputs";
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }

    std::string root;
};

// Warning and error lines ("[3:" and "[4:" at their start).
size_t Problems(const std::string& log) {
    size_t n = 0;
    for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
        if (log.compare(at, 3, "[3:") == 0 || log.compare(at, 3, "[4:") == 0) ++n;
        if (log.find('\n', at) == std::string::npos) break;
    }
    return n;
}

// Control bytes (but the line ends) or bytes that are not UTF-8: raw data in a line.
bool Readable(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
        if (c < 0x80) continue;
        const size_t follow = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        if (!follow) return false;
        for (size_t k = 1; k <= follow; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += follow;
    }
    return true;
}

TEST_F(BrokenInputsTest, EachFaultIsNamedOnceAndTheRunEndsAsItSays) {
    const std::string main = "/scripts/Main.lua";
    const Case cases[] = {
        // The scenario's values: one line each, the defaults apply, the run goes on.
        {"bad scenario values", nullptr, nullptr,
         "Scenario = {mode = \"mission\", seed = \"abc\", difficulty = \"easy\", timeMultiplier = 1e9}\n", 0,
         {"Scenario.lua: seed \"abc\" is not a whole number", "Scenario.lua: difficulty \"easy\" is not one of",
          "Scenario.lua: timeMultiplier 1000000000 is not a number", "Scenario: mode mission seed 1 difficulty advanced"},
         false, kFrames},
        {"a scenario that is no table", nullptr, nullptr, "Scenario = 42\n", 0,
         {"Scenario.lua: Scenario is 42, not a table; the defaults apply"}, false, kFrames},
        {"a scenario that does not compile", nullptr, nullptr, "Scenario = {mode = \"mission\"\n", 1,
         {"project/Scenario.lua:2: '}' expected"}, true, 0},
        // The main script and the scripts it loads: the first failure, once, then the end.
        {"Main.lua fails at its load", "common", [&](const std::string& s) { Prepend(s + main, "error('boom')\n"); },
         kMission, 1, {"common/scripts/Main.lua:1: boom"}, true, 0},
        {"Main.lua is empty", "common", [&](const std::string& s) { Replace(s + main, ""); }, kMission, 1,
         {"common/scripts/Main.lua does not define what the engine calls"}, true, 0},
        {"Main.lua holds zero bytes", "common", [&](const std::string& s) { Replace(s + main, std::string(300, '\0')); },
         kMission, 1, {"common/scripts/Main.lua:1: unexpected symbol"}, true, 0},
        {"Main.lua is a precompiled chunk", "common",
         [&](const std::string& s) { Replace(s + main, std::string("\x1bLuaQ\x01\x04\x08\x04\x08\0\0\0", 14)); },
         kMission, 1, {"common/scripts/Main.lua: precompiled chunks are not accepted"}, true, 0},
        {"Main.lua recurses without end", "common",
         [&](const std::string& s) { Prepend(s + main, "local function f(n) return 1 + f(n + 1) end f(1)\n"); },
         kMission, 1, {"common/scripts/Main.lua:1: stack overflow"}, true, 0},
        // An event the script leaves out is logged once and the run goes on.
        {"Main.lua leaves an event out", "common",
         [&](const std::string& s) { Append(s + main, "\nGame.OnAfterInit = nil\n"); }, kMission, 0,
         {"Variable \"OnAfterInit\" is not function but nil in Game class", "Mission M01 started"}, false, kFrames},
        {"the Game's OnInit fails", "common",
         [&](const std::string& s) { Append(s + main, "\nfunction Game:OnInit() error('no init') end\n"); }, kMission, 1,
         {"common/scripts/Main.lua:", ": no init"}, true, 0},
        {"Mission.lua fails at its load", "common",
         [](const std::string& s) { Prepend(s + "/scripts/Game/Mission.lua", "error('mission boom')\n"); }, kMission, 1,
         {"common/scripts/Game/Mission.lua:1: mission boom"}, true, 0},
        {"Towers.lua does not compile", "common",
         [](const std::string& s) { Prepend(s + "/scripts/Game/Towers.lua", "local x = = 1\n"); }, kMission, 1,
         {"common/scripts/Game/Towers.lua:1: unexpected symbol near '='"}, true, 0},
        // A fault met every step: logged once with its count; the run's status says it.
        {"an error every step", "common",
         [&](const std::string& s) { Append(s + main, "\nfunction ZKRGameDelegate:OnTick() error('every step') end\n"); },
         kMission, 4, {"LUA: error in 'OnTick'", "every step (reported ", "Script errors: "}, true, kFrames},
        {"an error at one step", "common",
         [&](const std::string& s) {
             Append(s + main, "\nlocal ticks, tick = 0, ZKRGameDelegate.OnTick\n"
                              "function ZKRGameDelegate:OnTick() ticks = ticks + 1 "
                              "if ticks == 5 then error('at step 5') end return tick(self) end\n");
         },
         kMission, 4, {"quorvel2: the game's scripts reported 1 error; the first: ", ": at step 5", "Script errors: 1"},
         true, kFrames},
        // Data.
        {"the mission's scene is missing", "scenes",
         [](const std::string& s) { fs::remove(s + "/Outpost.BinaryScene"); }, kMission, 1,
         {"Unable to open file for reading (scenes/Outpost)", "The scene Outpost could not be loaded"}, true, 10},
        {"the level has no player marker", "scenes",
         [](const std::string& s) {
             const std::string script = s + "/Outpost/Outpost.lua";
             std::string text = ReadFile(script);
             const size_t at = text.find("local player = players[1]");
             ASSERT_NE(at, std::string::npos);
             Replace(script, text.replace(at, 25, "local player = nil"));
         },
         kMission, 1,
         {"Mission M01 cannot start: the level has no player marker",
          "quorvel2: The scene Outpost could not be started: OnAfterSwitchScene: Mission M01 cannot start: the level "
          "has no player marker"},
         true, 10},
        {"a damaged resource list", "scenes",
         [](const std::string& s) {
             std::fstream list(s + "/Outpost.ResList", std::ios::in | std::ios::out | std::ios::binary);
             list.seekg(0, std::ios::end);
             list.seekp((list.tellg() / 3) & ~std::streamoff(3));
             list.write("\xff\xff\xff\xff", 4);
         },
         kMission, 0, {"Resource list scenes/Outpost.ResList: Shaders entry 0 has a damaged name; it is skipped"}, false,
         kFrames},
        {"an empty intro video", "videos", [](const std::string& s) { Replace(s + "/Intro.ogv", ""); }, kMenu, 0,
         {"videos/Intro.ogv"}, false, kFrames},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = Prepare(c, "case" + std::to_string(&c - cases));
        const Outcome run = Start(folder);
        const std::string said = run.log + run.err;
        EXPECT_EQ(run.status, c.status) << run.err;
        for (const std::string& line : c.lines) EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << run.err;
        EXPECT_EQ(run.err.rfind("quorvel2: ", 0) == 0, c.told) << run.err;
        EXPECT_LE(Problems(run.log), kMostProblems);
        EXPECT_TRUE(Readable(run.log)) << "raw bytes in the log";
        std::smatch ran;
        ASSERT_TRUE(std::regex_search(run.log, ran, std::regex("Ran (\\d+) frames"))) << run.err;
        EXPECT_LE(std::stoul(ran[1].str()), c.frames);
        EXPECT_NE(run.log.find("Script errors: "), std::string::npos);
    }
}

// What ends a run before the engine or the game starts reaches standard error whatever the
// log, even when the log is there itself: the missing data (the engine's shutdown has closed
// the log by then) and a second copy, each with its own status.
TEST_F(BrokenInputsTest, FailedStartsSayWhyOnStandardError) {
    for (const std::string log : {"log.txt", "-"}) {
        SCOPED_TRACE("--log " + log);
        const std::string tag = log == "-" ? "-stderr" : "";
        const Case noData{"no data", "", nullptr, kMission, 1, {}, true, 0};
        Outcome run = Start(Prepare(noData, "nodata" + tag), log);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("quorvel2: The program cannot start: the data file "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("animations.dat cannot be mounted"), std::string::npos) << run.err;

        // Another copy holds the lock of the runtime folder.
        const Case second{"second copy", "", nullptr, kMission, 3, {}, true, 0};
        const std::string folder = Prepare(second, "second" + tag);
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        os::SingleInstance first;
        ASSERT_EQ(first.Acquire("BrintavolqueGame"), os::SingleInstance::Result::First);
        run = Start(folder, log);
        first.Release();
        unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(run.status, 3);
        EXPECT_NE(run.err.find("Another copy of the program is already running"), std::string::npos) << run.err;
        if (log != "-") {
            EXPECT_EQ(run.err.rfind("quorvel2: Another copy of the program is already running", 0), 0u);
        }
        EXPECT_EQ(run.log.find("Initializing engine"), std::string::npos) << "nothing started";
    }
}

}  // namespace
