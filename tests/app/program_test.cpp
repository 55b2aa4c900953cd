// test-depends: quorvel2 sample_data pack online_broker
// test-timeout: 900
// The built program: a run on the sample data, exit codes, no memory growth.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/MainWindow.h"
#include "app/SampleDelegate.h"
#include "core/config/GameConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/VornexEngine.h"
#include "engine/game/Game.h"
#include "engine/game/GameDelegate.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIScreen.h"
#include "platform/window/Window.h"
#include "../platform/online/OnlineTestUtil.h"

namespace {

const std::string kProgramFolder = PROJECT_BINARY_ROOT "/app";

struct Outcome { int status = -1; std::string out, err; };

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/program_test_XXXXXX";
        root = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    // Runs the program with its user and runtime folders inside the test's folder.
    Outcome Start(const std::string& program, const std::string& arguments) const {
        const std::string command = "XDG_DATA_HOME='" + root + "/home' XDG_RUNTIME_DIR='" + root + "' '" + program +
                                    "' " + arguments + " >'" + root + "/out' 2>'" + root + "/err'";
        Outcome run;
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Read(root + "/out");
        run.err = Read(root + "/err");
        return run;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string root;
};

// A picture as 8-bit RGB rows, decoded by ffmpeg (independent of the program's PNG writer).
struct Picture {
    unsigned width = 0, height = 0;
    std::string rgb;
    const unsigned char* At(unsigned x, unsigned y) const {
        return reinterpret_cast<const unsigned char*>(rgb.data()) + (size_t(y) * width + x) * 3;
    }
};
struct Box { unsigned x0, y0, x1, y1; };  // x1, y1 excluded
using Colour = std::array<double, 3>;

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

// Decodes frames of a file to raw RGB with ffmpeg; every frame has width x height pixels.
std::string DecodeRgb(const std::string& file, const std::string& options, const std::string& out) {
    const std::string command = "ffmpeg -v error -y -i '" + file + "' " + options + " -f rawvideo -pix_fmt rgb24 '" +
                                out + "' 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    std::ifstream in(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A PNG screenshot: the size from its header, the pixels through ffmpeg.
Picture ReadScreenshot(const std::string& png, const std::string& scratch) {
    Picture p;
    std::ifstream in(png, std::ios::binary);
    unsigned char header[24] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return p;
    auto be32 = [&](int at) { return unsigned(header[at]) << 24 | unsigned(header[at + 1]) << 16 | unsigned(header[at + 2]) << 8 | header[at + 3]; };
    p.width = be32(16);
    p.height = be32(20);
    p.rgb = DecodeRgb(png, "", scratch);
    if (p.rgb.size() != size_t(p.width) * p.height * 3) p.rgb.clear();
    return p;
}

Colour Mean(const Picture& p, const Box& b) {
    Colour sum{};
    for (unsigned y = b.y0; y < b.y1; ++y)
        for (unsigned x = b.x0; x < b.x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += p.At(x, y)[c];
    const double n = double(b.x1 - b.x0) * (b.y1 - b.y0);
    for (double& v : sum) v = n > 0 ? v / n : 0;
    return sum;
}

double Distance(const Colour& a, const Colour& b) {
    double d = 0;
    for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(a[c] - b[c]));
    return d;
}

// The rectangle of rows and columns holding anything brighter than the black around it.
Box LitRectangle(const Picture& p) {
    Box b{p.width, p.height, 0, 0};
    for (unsigned y = 0; y < p.height; ++y)
        for (unsigned x = 0; x < p.width; ++x) {
            const unsigned char* px = p.At(x, y);
            if (std::max({px[0], px[1], px[2]}) <= 24) continue;
            b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
            b.x1 = std::max(b.x1, x + 1), b.y1 = std::max(b.y1, y + 1);
        }
    return b;
}

TEST_F(ProgramTest, RunsTheSampleDataAndClosesCleanly) {
    const Outcome run = Start(kProgramFolder + "/quorvel2", "--log - --frames 300");
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* line : {"Caps - RAWZ:", "Render target size:", "PreloadResources begin", "PreloadResources end",
                             "Scene switched in", "Ran 300 frames (300 ticks) in", "Game closed",
                             "VornexEngine closed"})
        EXPECT_NE(run.err.find(line), std::string::npos) << line;
    // Headless there is no screen to switch, and every script singleton has its type.
    for (const char* line : {"Switching screen resolution", "unknown type", "[3:2] Cannot load PCTouchHelper.dll"})
        EXPECT_EQ(run.err.find(line), std::string::npos) << line;
    EXPECT_TRUE(std::filesystem::is_regular_file(root + "/home/Brintavolque/Quorvel 2/config.bin"));
    for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(root))
        EXPECT_NE(e.path().extension(), ".lock") << "left after a clean exit: " << e.path();
}

// The drawing device's picture of the last frame, read by an independent PNG reader
// (Python's zlib and the PNG chunk layout): a whole picture of the back buffer's size.
TEST_F(ProgramTest, ScreenshotOfTheLastFrameIsAPngOfTheBackBuffer) {
    const std::string picture = root + "/last.png";
    const Outcome run = Start(kProgramFolder + "/quorvel2", "--log - --frames 5 --screenshot '" + picture + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Saved frame 5 to " + picture), std::string::npos) << run.err;
    const std::string check = "python3 '" PROJECT_SOURCE_ROOT "/tests/app/png_check.py' '" + picture + "' > '" + root +
                              "/png' 2>&1";
    ASSERT_EQ(std::system(check.c_str()), 0) << Read(root + "/png");
    unsigned width = 0, height = 0, colours = 0;
    ASSERT_EQ(std::sscanf(Read(root + "/png").c_str(), "%u %u %u", &width, &height, &colours), 3) << Read(root + "/png");
    EXPECT_GT(width, 0u);
    EXPECT_GT(height, 0u);
    EXPECT_GE(colours, 1u);
    // Every second frame of four, into a folder the program makes.
    const std::string shots = root + "/shots";
    const Outcome every = Start(kProgramFolder + "/quorvel2", "--frames 4 --screenshot-every 2 '" + shots + "'");
    EXPECT_EQ(every.status, 0) << every.err;
    for (const char* name : {"/frame-000002.png", "/frame-000004.png"})
        EXPECT_TRUE(std::filesystem::is_regular_file(shots + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(shots + "/frame-000003.png"));
    // --no-draw uses the recording device: the run ends the same way.
    const Outcome recording = Start(kProgramFolder + "/quorvel2", "--log - --frames 3 --no-draw");
    EXPECT_EQ(recording.status, 0) << recording.err;
}

// The intro plays full screen after the start scene has loaded: a frame of its first
// second matches ffmpeg's picture of one of the clip's frames of that second (mean colour
// of the lit rectangle; the draw scales and letterboxes, so never byte for byte); once
// it has ended the menu shows (the button in the middle in its own colour: pure
// channels, the same bytes with or without sRGB writes). A run shorter than the clip
// still stops the player and closes cleanly.
TEST_F(ProgramTest, TheIntroPlaysFullScreenThenTheMenuShows) {
    const std::string clip = PROJECT_BINARY_ROOT "/sample_data/videos/Intro.ogv";
    if (!HaveFfmpeg() || !std::filesystem::is_regular_file(clip)) GTEST_SKIP() << "the sample data has no intro (no ffmpeg)";
    constexpr unsigned kClipWidth = 320, kClipHeight = 180, kClipRate = 25;
    const std::string reference = DecodeRgb(clip, "-t 1", root + "/reference.rgb");
    const size_t frameBytes = size_t(kClipWidth) * kClipHeight * 3;
    ASSERT_EQ(reference.size(), frameBytes * kClipRate) << "ffmpeg's decode of " << clip;

    // Paced: 200 frames last at least 3.2 s, past the 2 s clip (which also shows each of
    // its 50 frames at least once, however slow the frames are).
    const std::string shots = root + "/shots";
    const Outcome run = Start(kProgramFolder + "/quorvel2", "--log - --paced --frames 200 --screenshot-every 10 '" + shots + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("Video error"), std::string::npos) << run.err;

    const Picture early = ReadScreenshot(shots + "/frame-000010.png", root + "/early.rgb");
    ASSERT_FALSE(early.rgb.empty());
    Box lit = LitRectangle(early);
    ASSERT_LT(lit.x0 + 8, lit.x1);
    ASSERT_LT(lit.y0 + 8, lit.y1);
    lit = {lit.x0 + 2, lit.y0 + 2, lit.x1 - 2, lit.y1 - 2};  // the scaled edges blend with the black
    const Colour shown = Mean(early, lit);
    double nearest = 255;
    for (unsigned f = 0; f < kClipRate; ++f) {
        const Picture frame{kClipWidth, kClipHeight, reference.substr(f * frameBytes, frameBytes)};
        nearest = std::min(nearest, Distance(shown, Mean(frame, {0, 0, kClipWidth, kClipHeight})));
    }
    EXPECT_LE(nearest, 8.0) << "frame 10 (" << shots << "/frame-000010.png) matches no frame of the clip's first second";

    const Picture last = ReadScreenshot(shots + "/frame-000200.png", root + "/last.rgb");
    ASSERT_FALSE(last.rgb.empty());
    const unsigned char* middle = last.At(last.width / 2, last.height / 2);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(double(middle[c]), 255.0 * (&app::kSampleButtonColour.x)[c], 3.0)
            << "channel " << c << " of " << shots << "/frame-000200.png";

    const Outcome shorter = Start(kProgramFolder + "/quorvel2", "--log - --frames 5");
    EXPECT_EQ(shorter.status, 0) << shorter.err;
    for (const char* line : {"Game closed", "VornexEngine closed"})
        EXPECT_NE(shorter.err.find(line), std::string::npos) << line;
    EXPECT_EQ(shorter.err.find("Video error"), std::string::npos) << shorter.err;
}

TEST_F(ProgramTest, BadCommandLinesAndAFailedStartEndWithTheirCodes) {
    // The sample data without "Project.ConfigBin": the engine refuses to start.
    const std::string broken = root + "/broken";
    std::filesystem::create_directories(broken + "/common");
    for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(kProgramFolder))
        if (e.path().extension() == ".dat" || e.path().extension() == ".idx") std::filesystem::copy(e.path(), broken);
    std::filesystem::copy(PROJECT_BINARY_ROOT "/sample_data/common", broken + "/common", std::filesystem::copy_options::recursive);
    std::filesystem::remove(broken + "/common/Project.ConfigBin");
    const std::string pack = "'" PROJECT_BINARY_ROOT "/tools/pack' '" + broken + "/common' '" + broken + "/common.dat' >/dev/null";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    std::filesystem::copy(kProgramFolder + "/quorvel2", broken);
    // oneErrorLine: "quorvel2: ..." first on standard error; the parser's own tests hold the other refusals.
    const struct Case { const char* arguments; int status; bool oneErrorLine; } cases[] = {
        {"--help", 0, false}, {"--bogus", 2, true}, {"--log /nonexistent/folder/log.txt", 2, true},
        {"--broker 127.0.0.1", 2, true}};
    for (const Case& c : cases) {
        const Outcome run = Start(kProgramFolder + "/quorvel2", c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.err.rfind("quorvel2: ", 0) == 0, c.oneErrorLine) << c.arguments;
        if (c.status == 0) EXPECT_NE(run.out.find("--frames N"), std::string::npos);
        else EXPECT_EQ(run.err.find("Initializing engine"), std::string::npos);
    }
    const Outcome failed = Start(broken + "/quorvel2", "--log - --frames 10");
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("Initializing engine"), std::string::npos);
}

// A run nobody limits: paced to the present interval (at most one frame per 16 ms of its
// own reported time) and ended by SIGINT through the normal shutdown, summary first.
// Without a display and without --log it says once on standard error how to see and end it.
TEST_F(ProgramTest, AnUnlimitedRunIsPacedAndEndsOnAnInterrupt) {
    for (const bool logged : {true, false}) {
        SCOPED_TRACE(logged ? "--log -" : "no arguments");
        const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY '" + kProgramFolder + "/quorvel2'";
        const Outcome run = Start("sh", "-c \"" + program + (logged ? " --log -" : "") +
                                             " & p=\\$!; sleep 3; kill -INT \\$p; wait \\$p\"");
        EXPECT_EQ(run.status, 0) << run.err;
        const size_t hint = run.err.find("quorvel2: running without a window");
        ASSERT_NE(hint, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("quorvel2: running", hint + 1), std::string::npos);
        if (!logged) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            continue;
        }
        unsigned frames = 0, ticks = 0;
        double seconds = 0;
        const size_t summary = run.err.find("Ran ");
        ASSERT_NE(summary, std::string::npos) << run.err;
        ASSERT_EQ(std::sscanf(run.err.c_str() + summary, "Ran %u frames (%u ticks) in %lf s", &frames, &ticks, &seconds), 3);
        EXPECT_GT(frames, 0u);
        EXPECT_LE(frames, seconds / 0.016 + 2) << seconds << " s";
        EXPECT_LT(summary, run.err.find("Game closed"));
    }
}

// A start scene that is missing, empty or cut short is an error the program reports: one
// line saying what is wrong with which file, then the start-failure status (before: an
// empty scene, no line and status 0).
TEST_F(ProgramTest, AStartSceneThatCannotBeLoadedEndsTheProgramWithAnError) {
    const std::string scene = PROJECT_BINARY_ROOT "/sample_data/scenes/Sample.BinaryScene";
    std::ifstream in(scene, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(bytes.size(), 100u);
    const struct Case {
        const char* what;
        bool present;
        std::string content;
        const char* line;
    } cases[] = {
        {"missing", false, "", "Unable to open file for reading (scenes/Sample)"},
        {"empty", true, "", "Scene scenes/Sample.BinaryScene is empty"},
        {"cut short", true, bytes.substr(0, bytes.size() / 2), "Scene scenes/Sample.BinaryScene is cut short or corrupt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = root + "/" + std::string(c.what == std::string("cut short") ? "cut" : c.what);
        std::filesystem::create_directories(folder + "/scenes");
        for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(kProgramFolder))
            if (e.path().extension() == ".dat" || e.path().extension() == ".idx")
                std::filesystem::copy(e.path(), folder);
        std::filesystem::copy(PROJECT_BINARY_ROOT "/sample_data/scenes", folder + "/scenes",
                              std::filesystem::copy_options::recursive);
        std::filesystem::remove(folder + "/scenes/Sample.BinaryScene");
        if (c.present) std::ofstream(folder + "/scenes/Sample.BinaryScene", std::ios::binary) << c.content;
        for (const char* ext : {".dat", ".idx"}) std::filesystem::remove(folder + "/scenes" + ext);
        const std::string pack = "'" PROJECT_BINARY_ROOT "/tools/pack' '" + folder + "/scenes' '" + folder +
                                 "/scenes.dat' >/dev/null";
        ASSERT_EQ(std::system(pack.c_str()), 0);
        std::filesystem::copy(kProgramFolder + "/quorvel2", folder);
        const Outcome run = Start(folder + "/quorvel2", "--log - --frames 300");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err.substr(0, 4000);
        EXPECT_NE(run.err.find("The start scene Sample could not be loaded"), std::string::npos);
        EXPECT_EQ(run.err.find("Ran 300 frames"), std::string::npos);
        EXPECT_NE(run.err.find("Game closed"), std::string::npos);
    }
}

// A broker on the network: the program signs in through it with the secret.
TEST_F(ProgramTest, PlaysThroughABrokerOnTheNetwork) {
    onlinetest::TempDir brokerDir;
    const std::string secret = brokerDir.path.string() + "/secret";
    std::ofstream(secret) << "the program test's secret";
    onlinetest::BrokerProcess broker(brokerDir.path.string());
    uint16_t port = 0;
    ASSERT_TRUE(broker.StartListening("127.0.0.1:0", secret, &port));
    setenv("ONLINE_BROKER_SECRET_FILE", secret.c_str(), 1);
    const Outcome run = Start(kProgramFolder + "/quorvel2", "--broker 127.0.0.1:" + std::to_string(port) + " --log - --frames 3");
    unsetenv("ONLINE_BROKER_SECRET_FILE");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Steam appId: "), std::string::npos) << run.err;
}

uint64_t ResidentKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
    return 0;
}

TEST_F(ProgramTest, InProcessTheSampleDelegatePresentsItsLoadingScreen) {
    setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
    const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
    ASSERT_NE(repository, nullptr);
    ASSERT_TRUE(repository->FromString(gGameConfig, kProgramFolder.c_str()));
    wnd::ResetWindowLayer();
    app::ResetMainWindowState();
    app::SampleDelegate delegate;
    ASSERT_TRUE(app::CreateMainWindow(wnd::kShowNormal, "Quorvel 2"));
    app::StartGame(&delegate, nullptr, 0);
    ASSERT_NE(delegate.MenuScreen(), nullptr);
    EXPECT_EQ(gGame->GetScreen(GAMESCREEN_ACTIVE), delegate.MenuScreen());
    EXPECT_EQ(gGame->GetScreen(GAMESCREEN_LOADING), delegate.LoadingScreen());
    while (app::gMainWindow.renderedFrames < 30) ASSERT_TRUE(app::RunMainLoopPass());
    EXPECT_GE(gVornexRenderer.LoadingScreenPresents(), 1u);
    // The intro hides the menu while it plays (2 s of clip on the timer's clock).
    if (delegate.IntroRunning()) {
        EXPECT_FALSE(delegate.MenuScreen()->IsVisible());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (delegate.IntroRunning() && std::chrono::steady_clock::now() < deadline)
            ASSERT_TRUE(app::RunMainLoopPass());
        EXPECT_FALSE(delegate.IntroRunning()) << "the intro did not end within 60 s";
    }
    EXPECT_TRUE(delegate.MenuScreen()->IsVisible());
    gGame->Quit();
    EXPECT_FALSE(app::RunMainLoopPass());
    // The screens emptied their slots when the Game released them.
    for (uint32_t s = 0; s < GAMESCREEN_COUNT; ++s) EXPECT_EQ(gGame ? gGame->GetScreen(GameScreenSlot(s)) : nullptr, nullptr);
    repository->FromString(gGameConfig, "");
    gVornexEngine.SetConfiguration(nullptr);
    app::ResetMainWindowState();
    wnd::ResetWindowLayer();
    unsetenv("XDG_DATA_HOME");
}

TEST_F(ProgramTest, InProcessThreeThousandFramesKeepResidentMemory) {
    setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
    const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
    ASSERT_NE(repository, nullptr);
    ASSERT_TRUE(repository->FromString(gGameConfig, kProgramFolder.c_str()));
    wnd::ResetWindowLayer();
    app::ResetMainWindowState();
    GameDelegate delegate;
    ASSERT_TRUE(app::CreateMainWindow(wnd::kShowNormal, "Quorvel 2"));
    app::StartGame(&delegate, nullptr, 0);
    uint64_t atFrame100 = 0;
    while (app::gMainWindow.renderedFrames < 3000) {
        ASSERT_TRUE(app::RunMainLoopPass());
        if (app::gMainWindow.renderedFrames == 100 && !atFrame100) atFrame100 = ResidentKiB();
    }
    [[maybe_unused]] const uint64_t atFrame3000 = ResidentKiB();
    gGame->Quit();
    EXPECT_FALSE(app::RunMainLoopPass());
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator has resident pools of its own; there it checks leaks
    EXPECT_LT(atFrame3000, atFrame100 + 1024) << atFrame100 << " KiB at frame 100";
#endif
    repository->FromString(gGameConfig, "");
    gVornexEngine.SetConfiguration(nullptr);
    app::ResetMainWindowState();
    wnd::ResetWindowLayer();
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
