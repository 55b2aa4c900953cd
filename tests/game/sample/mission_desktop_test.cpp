// test-depends: quorvel2 sample_data
// test-timeout: 900
// The sample mission played on a desktop (a virtual X server driven by xdotool) with the
// keyboard and the mouse, on the real clock: the menu's start button starts it, P pauses
// and resumes it, A and a click on a gun tower drop an airstrike that destroys it, the
// wheel moves the camera out and Escape abandons the mission; a key ends the program once
// the result has shown.
// While paused the window shows the frame the program saved. The grave key shows the game
// console, which runs a line typed into it. Skipped when Xvfb or xdotool is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SampleTestSupport.h"
#include "support/XvfbServer.h"

namespace {

using sampletest::kProgram;
using sampletest::kProjectFolder;
using sampletest::ReadFile;

bool WaitUntil(const std::function<bool()>& done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

class MissionDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mission_desktop_XXXXXX";
        root = mkdtemp(pattern);
    }
    void TearDown() override {
        // A program still running after a failure: ask it to close, then stop the server.
        if (!std::filesystem::exists(root + "/status") && !window.empty())
            server.Run(xvfbtest::CloseWindowCommand(std::stoul(window)));
        WaitUntil([&] { return std::filesystem::exists(root + "/status"); }, 30);
        server.Stop();
        std::filesystem::remove_all(root);
    }

    // Starts the program in the background on the scenario; its exit status lands in
    // root/status.
    void Launch(const std::string& scenario) {
        std::filesystem::create_directories(root + "/home/" + kProjectFolder);
        std::ofstream(root + "/home/" + kProjectFolder + "/Scenario.lua") << scenario;
        const std::string command =
            "( cd '" + root + "' && DISPLAY=" + server.Display() + " SDL_AUDIODRIVER=dummy XDG_DATA_HOME='" + root +
            "/home' XDG_RUNTIME_DIR='" + root + "' EGL_PLATFORM=surfaceless '" + kProgram +
            "' --log - --screenshot-every 5 '" + root + "/shots' >'" + root + "/out' 2>'" + root +
            "/err'; echo $? >'" + root + "/status.tmp'; mv '" + root + "/status.tmp' '" + root + "/status' ) "
            ">/dev/null 2>&1 &";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string Log() const { return ReadFile(root + "/err"); }
    // The log's lines that tell the game's story so far, for failure messages.
    std::string Story() const {
        static const std::regex kStory("Menu:|Sample:|Profile:|Mission|Tower |Airstrike|Paused|Resumed|Camera|rror|closed");
        const std::string story = sampletest::Story(Log(), kStory);
        // What the program wrote on standard error (a sanitizer's report among it).
        const std::string err = ReadFile(root + "/err");
        return story + err.substr(err.size() > 8000 ? err.size() - 8000 : 0);
    }

    // Waits for a line matching the pattern after the log offset `from`; its groups go to
    // `groups` (the whole match first) and the offset moves past it.
    bool AwaitLine(const std::string& pattern, std::vector<std::string>* groups, size_t* from, int seconds = 120) {
        const std::regex line(pattern);
        return WaitUntil(
            [&] {
                const std::string log = Log();
                std::smatch m;
                if (*from > log.size() ||
                    !std::regex_search(log.cbegin() + std::ptrdiff_t(*from), log.cend(), m, line))
                    return false;
                groups->assign(m.begin(), m.end());
                *from += size_t(m.position(0) + m.length(0));
                return true;
            },
            seconds);
    }

    bool Xdotool(const std::string& arguments) { return server.Run("xdotool " + arguments); }

    // ImageMagick's picture of the window against the second-newest saved frame (the
    // newest may still be being written), scaled to the window: at most 2 % of the pixels
    // off by more than 5 %. Retried for a minute while a loaded machine catches up.
    void CompareWindowWithSavedFrame();

    xvfbtest::Server server;
    std::string root, window;
};

void MissionDesktopTest::CompareWindowWithSavedFrame() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    double differing = HUGE_VAL, limit = 0.0;
    std::string report = "fewer than two frames saved";
    for (;;) {
        ASSERT_TRUE(server.Run("import -window " + window + " '" + root + "/window.png'"));
        std::vector<std::string> frames;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/shots", error))
            frames.push_back(entry.path());
        std::sort(frames.begin(), frames.end());
        if (frames.size() >= 2) {
            const std::string size = server.Output("identify -format '%wx%h' '" + root + "/window.png'");
            ASSERT_TRUE(server.Run("convert '" + frames[frames.size() - 2] + "' -resize " + size + "! '" + root +
                                   "/frame.png'"));
            report = shelltest::ShellOutput("compare -metric AE -fuzz 5% '" + root + "/window.png' '" + root +
                                            "/frame.png' null: 2>&1");
            char* end = nullptr;
            differing = std::strtod(report.c_str(), &end);
            if (end == report.c_str()) differing = HUGE_VAL;  // an error, never a match
            limit = std::atoi(size.c_str()) * std::atoi(size.substr(size.find('x') + 1).c_str()) / 50.0;
            report += " pixels differ of " + size;
            if (limit > 0.0 && differing <= limit) return;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ADD_FAILURE() << "the paused window differs from the saved frame: " << report;
}

TEST_F(MissionDesktopTest, PlayedWithKeyboardAndMouseUntilAbandoned) {
    std::string missing;
    if (!xvfbtest::ToolsPresent(&missing)) GTEST_SKIP() << missing;
    ASSERT_TRUE(server.Start(1280, 1024)) << "Xvfb did not start";
    // Game time at a quarter of the real clock, so that the squad does not reach the end
    // (or the towers) while the test is still playing on a slow machine.
    Launch("Scenario = {mode = \"menu\", seed = 7, timeMultiplier = 0.25}\n");
    window = server.Output("timeout 120 xdotool search --sync --name '^Quorvel 2$' | head -n 1");
    ASSERT_FALSE(window.empty()) << Story();

    // The menu's start button, clicked in its middle.
    size_t at = 0;
    std::vector<std::string> m;
    ASSERT_TRUE(AwaitLine("Menu: StartButton at (\\d+) (\\d+) (\\d+) (\\d+)", &m, &at, 240)) << Story();
    const int x = (std::stoi(m[1]) + std::stoi(m[3])) / 2, y = (std::stoi(m[2]) + std::stoi(m[4])) / 2;
    ASSERT_TRUE(Xdotool("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
                        " mousedown 1 sleep 0.3 mouseup 1"));
    ASSERT_TRUE(AwaitLine("Mission M01 started at step \\d+", &m, &at, 300)) << Story();

    // The towers' places on the window, logged two steps after the start (a slow frame
    // of a sanitizer build on a loaded machine may take seconds).
    std::string gunTower;
    int towerX = 0, towerY = 0;
    for (size_t from = at; AwaitLine("Tower (\\S+) at screen (-?\\d+) (-?\\d+)", &m, &from, 120);) {
        if (m[1].rfind("GunTower", 0) != 0) continue;
        gunTower = m[1];
        towerX = std::stoi(m[2]);
        towerY = std::stoi(m[3]);
        break;
    }
    ASSERT_FALSE(gunTower.empty()) << "no gun tower on the window\n" << Story();

    // P pauses (keys are plain taps, shorter than a frame); the window then shows what the
    // program saved, since nothing moves.
    ASSERT_TRUE(Xdotool("key p"));
    ASSERT_TRUE(AwaitLine("Paused at step (\\d+)", &m, &at)) << Story();
    const long pausedAt = std::stol(m[1]);
    if (shelltest::Shell("(command -v import && command -v compare && command -v identify)"))
        CompareWindowWithSavedFrame();
    else
        std::printf("ImageMagick is not installed: the paused window's picture is not compared\n");
    ASSERT_TRUE(Xdotool("key p"));
    ASSERT_TRUE(AwaitLine("Resumed at step (\\d+)", &m, &at)) << Story();
    EXPECT_GE(std::stol(m[1]), pausedAt);

    // A arms an airstrike and a click on the gun tower drops it, which destroys the tower
    // (the strike's line first, then the lines of what it destroyed).
    ASSERT_TRUE(Xdotool("key a"));
    ASSERT_TRUE(AwaitLine("Airstrike armed", &m, &at)) << Story();
    ASSERT_TRUE(Xdotool("mousemove --window " + window + " " + std::to_string(towerX) + " " + std::to_string(towerY) +
                        " click 1"));
    ASSERT_TRUE(AwaitLine("Airstrike at -?[\\d.]+ -?[\\d.]+: (\\d+) towers hit", &m, &at)) << Story();
    EXPECT_GE(std::stoi(m[1]), 1);
    size_t destroyed = at;
    EXPECT_TRUE(AwaitLine("Tower " + gunTower + " destroyed", &m, &destroyed)) << Story();

    // Two wheel notches towards the player move the camera out, one at a time.
    ASSERT_TRUE(Xdotool("click 5"));
    ASSERT_TRUE(AwaitLine("Camera distance ([\\d.]+)", &m, &at)) << Story();
    const double first = std::stod(m[1]);
    ASSERT_TRUE(Xdotool("click 5"));
    ASSERT_TRUE(AwaitLine("Camera distance ([\\d.]+)", &m, &at)) << Story();
    EXPECT_GT(std::stod(m[1]), first);

    // Escape abandons the mission; the result shows for its steps (slow sanitizer frames
    // run a step only every few frames), then waits for the player: a key ends the program.
    ASSERT_TRUE(Xdotool("key Escape"));
    ASSERT_TRUE(AwaitLine("Mission M01 finished: result (\\w+)", &m, &at, 300)) << Story();
    EXPECT_EQ(m[1], "abandoned");
    ASSERT_TRUE(AwaitLine("Result shown: a key or a click ends the program", &m, &at)) << Story();
    ASSERT_TRUE(Xdotool("key Return"));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(root + "/status"); }, 180)) << Story();
    EXPECT_EQ(std::atoi(ReadFile(root + "/status").c_str()), 0) << Story();
    const std::string log = Log();
    for (const char* line : {"Game closed", "VornexEngine closed"}) EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find("is not function"), std::string::npos);
}

// The game console on the window: hidden at first, then shown by the grave key as a band
// of its tint across the top, and a line typed into it runs as script. The window's
// height is not the UI reference's (a letterboxed UI whose top-left aligned console must
// still reach the top of the window).
TEST_F(MissionDesktopTest, ConsoleShowsAndRunsATypedLine) {
    std::string missing;
    if (!xvfbtest::ToolsPresent(&missing)) GTEST_SKIP() << missing;
    if (!shelltest::Shell("(command -v import && command -v convert)"))
        GTEST_SKIP() << "ImageMagick is not installed: the console's picture cannot be read";
    ASSERT_TRUE(server.Start(1280, 800)) << "Xvfb did not start";
    Launch("Scenario = {mode = \"mission\", seed = 7, timeMultiplier = 0.25}\n");
    window = server.Output("timeout 120 xdotool search --sync --name '^Quorvel 2$' | head -n 1");
    ASSERT_FALSE(window.empty()) << Story();
    size_t at = 0;
    std::vector<std::string> m;
    ASSERT_TRUE(AwaitLine("Mission M01 started at step \\d+", &m, &at, 300)) << Story();

    // The share of the window's top 200 rows in the console's tint (0.3, 0, 0.3 of full
    // scale), within 5 %; the picture stays at `picture`.
    const std::string picture = root + "/window.png";
    const auto tinted = [&] {
        if (!server.Run("import -window " + window + " '" + picture + "'")) return -1.0;
        const std::string share = shelltest::ShellOutput(
            "convert '" + picture + "' -crop 1280x200+0+0 +repage -fuzz 5% -fill black +opaque 'rgb(76,0,76)' "
            "-fill white -opaque 'rgb(76,0,76)' -format '%[fx:mean]' info: 2>&1");
        char* end = nullptr;
        const double value = std::strtod(share.c_str(), &end);
        return end == share.c_str() ? -1.0 : value;
    };
    const std::string kept = std::string(PROJECT_BINARY_ROOT) + "/mission_desktop_console.png";
    const auto keep = [&] {
        std::filesystem::copy_file(picture, kept, std::filesystem::copy_options::overwrite_existing);
        return "the window's picture: " + kept;
    };
    const double hidden = tinted();
    EXPECT_GE(hidden, 0.0) << "the window's picture could not be read";
    EXPECT_LT(hidden, 0.05) << keep();

    // Shown: nearly all of the band is the tint (the rest is the console's text). A loaded
    // machine may take a while to draw the next frame.
    ASSERT_TRUE(Xdotool("key grave"));
    double shown = -1.0;
    EXPECT_TRUE(WaitUntil([&] { return (shown = tinted()) >= 0.85; }, 60))
        << shown << " of the top rows in the console's tint; " << keep() << "\n"
        << Story();

    // A typed line runs as script: the console prints what the script computed.
    ASSERT_TRUE(Xdotool("type --delay 50 'gConsole:Print(\"console typed at \" .. 6 * 7)'"));
    ASSERT_TRUE(Xdotool("key Return"));
    EXPECT_TRUE(AwaitLine("console typed at 42", &m, &at)) << Story();
    // While it shows, the typed keys stay the console's: the P and the A of the typing
    // neither pause the mission nor arm an airstrike.
    const std::string log = Log();
    for (const char* line : {"Paused at step", "Airstrike armed"})
        EXPECT_EQ(log.find(line), std::string::npos) << line;
}

}  // namespace
