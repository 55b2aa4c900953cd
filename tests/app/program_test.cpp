// test-depends: quorvel2 sample_data pack online_broker
// test-timeout: 900
// The built program: a run on the sample data, exit codes, no memory growth.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/MainWindow.h"
#include "core/config/GameConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/VornexEngine.h"
#include "game/Game.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIScreen.h"
#include "ui/video/VideoEngine.h"
#include "platform/window/Window.h"
#include "../platform/online/OnlineTestUtil.h"
#include "CaptureLogSink.h"

namespace {

const std::string kProgramFolder = PROJECT_BINARY_ROOT "/app";
// The sample data's menu (its "UI/MainMenu" recipe template, in UI units of the 1280 x 720
// reference size): the start button's middle is the UI's middle, so letterboxing never
// moves it off the window's centre; its face is magenta (pure channels: the same bytes
// with or without sRGB writes) and its label is centred on it.
constexpr float kUIWidth = 1280, kUIHeight = 720;
constexpr float kButtonMiddleX = 640, kButtonMiddleY = 360;
constexpr unsigned char kButtonFace[3] = {255, 0, 255};
// A point of the face clear of the label, left of the middle (UI units).
constexpr float kFaceX = kButtonMiddleX - 70, kFaceY = kButtonMiddleY;

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
    // Starts the program in the background with its arguments, runs the shell commands
    // before (they may read the program's standard error in $ERR), interrupts it and waits
    // for it at most 60 s; one that is still running then is killed (status -1).
    Outcome Interrupt(const std::string& arguments, const std::string& before) const {
        std::ofstream(root + "/interrupt.sh")
            << "ERR='" << root << "/err'\n"
            << "env -u DISPLAY -u WAYLAND_DISPLAY '" << kProgramFolder << "/quorvel2' " << arguments << " & p=$!\n"
            << before << "\n"
            << "kill -INT $p\n"
            << "i=0; while kill -0 $p 2>/dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
            << "kill -KILL $p 2>/dev/null\n"
            << "wait $p\n";
        Outcome run = Start("sh", "'" + root + "/interrupt.sh'");
        if (run.status == 128 + SIGKILL) run.status = -1;
        return run;
    }
    // Shell commands that wait at most 60 s for text in the program's standard error.
    static std::string WaitForLine(const char* text) {
        return std::string("i=0; while [ $i -lt 600 ] && ! grep -q '") + text + "' \"$ERR\"; do sleep 0.1; i=$((i+1)); done";
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
                             "Loading script file: Main.lua", "Scene switched in", "Ran 300 frames (300 ticks) in",
                             "Game closed", "VornexEngine closed"})
        EXPECT_NE(run.err.find(line), std::string::npos) << line;
    // Headless there is no screen to switch, every script singleton has its type, and the
    // main script answers every event the game's delegate forwards to it.
    for (const char* line : {"Switching screen resolution", "unknown type", "[3:2] Cannot load PCTouchHelper.dll",
                             "is not function", "LUA: error"})
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
    const std::string check = "/usr/bin/python3 '" PROJECT_SOURCE_ROOT "/tests/app/png_check.py' '" + picture + "' > '" + root +
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

// One paced run of the program on the sample data, shared by the picture tests below:
// 240 frames last at least 3.84 s, past the 2 s intro (which also shows each of its 50
// frames at least once, however slow the frames are), with every 5th frame saved.
class SampleRunTest : public ::testing::Test {
protected:
    static constexpr unsigned kFrames = 240, kEvery = 5;
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/program_test_run_XXXXXX";
        folder = mkdtemp(pattern);
        const std::string command = "XDG_DATA_HOME='" + folder + "/home' XDG_RUNTIME_DIR='" + folder + "' '" +
                                    kProgramFolder + "/quorvel2' --log - --paced --frames " + std::to_string(kFrames) +
                                    " --screenshot-every " + std::to_string(kEvery) + " '" + folder + "/shots' 2>'" +
                                    folder + "/err'";
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(folder + "/err");
        run.err.assign(std::istreambuf_iterator<char>(in), {});
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder); }

    static std::string Shot(unsigned frame) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06u.png", frame);
        return folder + "/shots" + name;
    }
    static Picture ReadShot(unsigned frame) { return ReadScreenshot(Shot(frame), folder + "/shot.rgb"); }
    // A failed picture check keeps the picture under the build folder and names it.
    static std::string Kept(unsigned frame) {
        const std::string kept = PROJECT_BINARY_ROOT "/program_test-" + std::filesystem::path(Shot(frame)).filename().string();
        std::error_code ignored;
        std::filesystem::copy_file(Shot(frame), kept, std::filesystem::copy_options::overwrite_existing, ignored);
        return kept;
    }

    static inline std::string folder;
    static inline Outcome run;
};

// The intro plays full screen after the start scene has loaded: a frame of its first
// second matches ffmpeg's picture of one of the clip's frames of that second (mean colour
// of the lit rectangle; the draw scales and letterboxes, so never byte for byte); once
// it has ended the menu shows (the button in the middle in its own colour: pure
// channels, the same bytes with or without sRGB writes). A run shorter than the clip
// still stops the player and closes cleanly.
TEST_F(SampleRunTest, TheIntroPlaysFullScreenThenTheMenuShows) {
    const std::string clip = PROJECT_BINARY_ROOT "/sample_data/videos/Intro.ogv";
    if (!HaveFfmpeg() || !std::filesystem::is_regular_file(clip)) GTEST_SKIP() << "the sample data has no intro (no ffmpeg)";
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("Video error"), std::string::npos) << run.err;
    constexpr unsigned kClipWidth = 320, kClipHeight = 180, kClipRate = 25;
    const std::string reference = DecodeRgb(clip, "-t 1", folder + "/reference.rgb");
    const size_t frameBytes = size_t(kClipWidth) * kClipHeight * 3;
    ASSERT_EQ(reference.size(), frameBytes * kClipRate) << "ffmpeg's decode of " << clip;

    // The first saved frame with a picture (the player opens its file on the loader
    // thread and parses the headers over a few updates: until then the frame is black).
    unsigned first = 0;
    Picture early;
    Box lit{};
    for (unsigned f = kEvery; f <= 5 * kEvery && !first; f += kEvery) {
        early = ReadShot(f);
        ASSERT_FALSE(early.rgb.empty()) << Shot(f);
        lit = LitRectangle(early);
        if (lit.x0 + 8 < lit.x1 && lit.y0 + 8 < lit.y1) first = f;
    }
    ASSERT_NE(first, 0u) << "no picture in the first frames: " << Kept(5 * kEvery);
    lit = {lit.x0 + 2, lit.y0 + 2, lit.x1 - 2, lit.y1 - 2};  // the scaled edges blend with the black
    const Colour shown = Mean(early, lit);
    double nearest = 255;
    for (unsigned f = 0; f < kClipRate; ++f) {
        const Picture frame{kClipWidth, kClipHeight, reference.substr(f * frameBytes, frameBytes)};
        nearest = std::min(nearest, Distance(shown, Mean(frame, {0, 0, kClipWidth, kClipHeight})));
    }
    EXPECT_LE(nearest, 8.0) << "matches no frame of the clip's first second: " << Kept(first);

    const Picture last = ReadShot(kFrames);
    ASSERT_FALSE(last.rgb.empty());
    const double scale = last.width / kUIWidth, top = (last.height - kUIHeight * scale) / 2;
    const unsigned char* face = last.At(unsigned(kFaceX * scale), unsigned(top + kFaceY * scale));
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(double(face[c]), double(kButtonFace[c]), 3.0) << "channel " << c << ": " << Kept(kFrames);

    const std::string shorter = "XDG_DATA_HOME='" + folder + "/home' XDG_RUNTIME_DIR='" + folder + "' '" +
                                kProgramFolder + "/quorvel2' --log - --frames 5 2>'" + folder + "/short'";
    EXPECT_EQ(std::system(shorter.c_str()), 0);
    std::ifstream in(folder + "/short");
    const std::string err{std::istreambuf_iterator<char>(in), {}};
    for (const char* line : {"Game closed", "VornexEngine closed"}) EXPECT_NE(err.find(line), std::string::npos) << line;
    EXPECT_EQ(err.find("Video error"), std::string::npos) << err;
}

// The sample camera as the main script sets it: where it stands, the point it looks at
// (its CAMERA_EYE and CAMERA_TARGET) and its vertical field of view in degrees (CAMERA_FOV).
struct SampleCamera {
    double eye[3] = {}, target[3] = {}, fov = 0;
};

SampleCamera ReadSampleCamera() {
    std::ifstream in(PROJECT_SOURCE_ROOT "/data/common/scripts/Main.lua");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    SampleCamera c;
    const auto read = [&](const char* name, const char* format, double* a, double* b, double* d) {
        const size_t at = text.find(std::string("local ") + name + " = ");
        return at != std::string::npos &&
               std::sscanf(text.c_str() + at + std::strlen(name) + 9, format, a, b, d) == (b ? 3 : 1);
    };
    const bool found = read("CAMERA_EYE", "{%lf, %lf, %lf}", &c.eye[0], &c.eye[1], &c.eye[2]) &&
                       read("CAMERA_TARGET", "{%lf, %lf, %lf}", &c.target[0], &c.target[1], &c.target[2]) &&
                       read("CAMERA_FOV", "%lf", &c.fov, nullptr, nullptr);
    EXPECT_TRUE(found) << "the camera of Main.lua";
    return c;
}

// Where a world point lands in a picture of the given size, seen by the sample camera: a
// left-handed look-at with y up and the vertical field of view, computed here in doubles.
bool Project(const double p[3], unsigned width, unsigned height, double* x, double* y) {
    static const SampleCamera camera = ReadSampleCamera();
    const struct { double x, y, z; } e{camera.eye[0], camera.eye[1], camera.eye[2]},
        t{camera.target[0], camera.target[1], camera.target[2]};
    auto normalise = [](std::array<double, 3> v) {
        const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        return std::array<double, 3>{v[0] / n, v[1] / n, v[2] / n};
    };
    auto dot = [](const std::array<double, 3>& a, const std::array<double, 3>& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    const std::array<double, 3> forward = normalise({t.x - e.x, t.y - e.y, t.z - e.z});
    const std::array<double, 3> right = normalise({forward[2], 0.0, -forward[0]});  // up x forward
    const std::array<double, 3> up{forward[1] * right[2] - forward[2] * right[1], forward[2] * right[0] - forward[0] * right[2],
                                   forward[0] * right[1] - forward[1] * right[0]};
    const std::array<double, 3> d{p[0] - e.x, p[1] - e.y, p[2] - e.z};
    const double depth = dot(d, forward);
    if (depth <= 0) return false;
    const double h = std::tan(camera.fov * 3.14159265358979 / 360.0), aspect = double(width) / height;
    *x = (0.5 + 0.5 * dot(d, right) / depth / (h * aspect)) * width;
    *y = (0.5 - 0.5 * dot(d, up) / depth / h) * height;
    return true;
}

// The picture rectangle a world box projects to, grown by a margin and kept inside.
Box ProjectedBox(const double lo[3], const double hi[3], const Picture& p) {
    constexpr double kMargin = 6;
    double x0 = p.width, y0 = p.height, x1 = 0, y1 = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const double world[3] = {corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1], corner & 4 ? hi[2] : lo[2]};
        double x, y;
        if (!Project(world, p.width, p.height, &x, &y)) return {0, 0, 0, 0};
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
    auto clamp = [](double v, unsigned limit) { return unsigned(std::clamp(v, 0.0, double(limit))); };
    return {clamp(x0 - kMargin, p.width), clamp(y0 - kMargin, p.height), clamp(x1 + kMargin, p.width),
            clamp(y1 + kMargin, p.height)};
}

using ColourTest = bool (*)(const unsigned char* rgb);
unsigned CountInBox(const Picture& p, const Box& b, ColourTest test) {
    unsigned n = 0;
    for (unsigned y = b.y0; y < b.y1; ++y)
        for (unsigned x = b.x0; x < b.x1; ++x) n += test(p.At(x, y)) ? 1 : 0;
    return n;
}

// The configured window size (800 x 500) replaces the first window's (800 x 480) after
// the start: the back buffer, the render targets and the saved pictures all take it; the
// sample scene, which covers the view, leaves no row black; and the intro shows with its
// own aspect.
TEST_F(SampleRunTest, ASizeChangeReachesTheBackBufferTheTargetsAndThePicture) {
    ASSERT_EQ(run.status, 0) << run.err;
    auto lastSize = [&](const char* line) {
        unsigned w = 0, h = 0;
        const size_t at = run.err.rfind(line);
        if (at != std::string::npos) std::sscanf(run.err.c_str() + at + std::strlen(line), "%ux%u", &w, &h);
        return std::make_pair(w, h);
    };
    const auto targets = lastSize("Render target size: "), back = lastSize("Backbuffer size: ");
    EXPECT_EQ(targets, std::make_pair(800u, 500u)) << run.err;
    EXPECT_EQ(back, targets);
    const Picture last = ReadShot(kFrames);
    ASSERT_FALSE(last.rgb.empty());
    EXPECT_EQ(std::make_pair(last.width, last.height), targets);
    unsigned blackRows = 0;
    for (unsigned y = 0; y < last.height; ++y)
        blackRows += CountInBox(last, {0, y, last.width, y + 1}, [](const unsigned char* c) {
            return std::max({c[0], c[1], c[2]}) > 8;
        }) == 0;
    EXPECT_EQ(blackRows, 0u) << Kept(kFrames);

    const std::string clip = PROJECT_BINARY_ROOT "/sample_data/videos/Intro.ogv";
    if (!std::filesystem::is_regular_file(clip)) GTEST_SKIP() << "the sample data has no intro: its aspect is not checked";
    for (unsigned f = kEvery; f <= 5 * kEvery; f += kEvery) {
        const Picture shot = ReadShot(f);
        const Box lit = LitRectangle(shot);
        if (lit.x0 + 8 >= lit.x1 || lit.y0 + 8 >= lit.y1) continue;
        const double shown = double(lit.x1 - lit.x0) / double(lit.y1 - lit.y0);
        EXPECT_NEAR(shown / (320.0 / 180.0), 1.0, 0.01) << (lit.x1 - lit.x0) << "x" << (lit.y1 - lit.y0) << ": " << Kept(f);
        return;
    }
    ADD_FAILURE() << "the intro shows in none of the first frames";
}

// The menu's localised texts: the button's label ("Menu/Start") shows white text pixels
// over the button's own colour in the middle of the button in the last frame, every font
// the menu names loads, and every string is found.
TEST_F(SampleRunTest, TheMenuShowsItsLocalisedLabel) {
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* line : {"Unable to load binary font file", "Unable to find string"})
        EXPECT_EQ(run.err.find(line), std::string::npos) << line;
    const Picture last = ReadShot(kFrames);
    ASSERT_FALSE(last.rgb.empty());
    // The UI's 1280 x 720 across the picture's width, letterboxed vertically.
    const double scale = last.width / kUIWidth, top = (last.height - kUIHeight * scale) / 2;
    const double cx = kButtonMiddleX, cy = kButtonMiddleY;
    const Box label{unsigned((cx - 40) * scale), unsigned(top + (cy - 14) * scale), unsigned((cx + 40) * scale),
                    unsigned(top + (cy + 14) * scale)};
    const unsigned white = CountInBox(last, label, [](const unsigned char* rgb) {
        return rgb[0] >= 200 && rgb[1] >= 200 && rgb[2] >= 200;  // the button itself has no green
    });
    EXPECT_GE(white, 20u) << "no label text over the button: " << Kept(kFrames);
}

// The sample scene after the intro, under the menu: the things the camera looks at, each
// found by its colour inside the box its place in the sample data projects to, and the
// walking soldier moving between the last saved frames.
TEST_F(SampleRunTest, TheSampleSceneShowsAMeshTheWalkerParticlesAndTheEffect) {
    ASSERT_EQ(run.status, 0) << run.err;
    // Colours on the dark grey clear (15, 15, 15) under the scene's dim sun.
    const ColourTest crate = [](const unsigned char* c) { return c[0] >= c[1] + 8 && c[1] >= c[2] && c[0] < 150; };
    const ColourTest walker = [](const unsigned char* c) { return std::min({c[0], c[1], c[2]}) >= 150; };
    const ColourTest smoke = [](const unsigned char* c) {
        return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}) <= 8 && c[0] >= 40;
    };
    const ColourTest flare = [](const unsigned char* c) { return c[0] >= 200 && c[0] >= c[2] + 60; };
    // World boxes from the sample data: the crate of the layout's first row, eighth column
    // at (-12, 0, -56) (box 2 x 2 x 2); "Smoke_002" 1.5 beside it and 2 up (its template's
    // box, 2 x 3 x 2); "Beacon_001" at (0, 0, -60) with its walking soldier (the "Walker"
    // mesh element, 1 x 1.8 x 0.6, lit near white) and its flare quad
    // (3 up, 1.5 across, facing the camera).
    const struct Expected {
        const char* what;
        double lo[3], hi[3];
        ColourTest colour;
    } objects[] = {
        {"a crate (mesh)", {-13, 0, -57}, {-11, 2, -55}, crate},
        {"the walking soldier", {-0.6, 0, -60.5}, {0.6, 1.9, -59.5}, walker},
        {"the smoke (particles)", {-11.5, 2, -57}, {-9.5, 5, -55}, smoke},
        {"the beacon's flare (effect)", {-0.8, 2.2, -60.8}, {0.8, 3.8, -59.2}, flare},
    };
    constexpr unsigned kMinPixels = 25;
    const unsigned shots[] = {kFrames - 2 * kEvery, kFrames - kEvery, kFrames};
    Picture pictures[3];
    for (int i = 0; i < 3; ++i) {
        pictures[i] = ReadShot(shots[i]);
        ASSERT_FALSE(pictures[i].rgb.empty()) << Shot(shots[i]);
    }
    const Picture& last = pictures[2];
    for (const Expected& o : objects) {
        const Box box = ProjectedBox(o.lo, o.hi, last);
        EXPECT_GE(CountInBox(last, box, o.colour), kMinPixels)
            << o.what << " in [" << box.x0 << ", " << box.y0 << ") - [" << box.x1 << ", " << box.y1 << "): " << Kept(kFrames);
    }
    // The walk loops each second: of three frames at least one pair is not a whole number of
    // seconds apart.
    const Box box = ProjectedBox(objects[1].lo, objects[1].hi, last);
    unsigned moved = 0;
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b) {
            unsigned n = 0;
            for (unsigned y = box.y0; y < box.y1; ++y)
                for (unsigned x = box.x0; x < box.x1; ++x) n += walker(pictures[a].At(x, y)) != walker(pictures[b].At(x, y));
            moved = std::max(moved, n);
        }
    EXPECT_GE(moved, 10u) << "the soldier's pixels stay the same: " << Kept(shots[0]) << ", " << Kept(kFrames);
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
    // The log says why: the missing file, then that the start-up ends for it, before the
    // shutdown that closes the log.
    const size_t cause = failed.err.find("ProjectConfig::Load - cannot open common/Project.ConfigBin");
    const size_t ending = failed.err.find("VornexEngine start-up failed: the engine shuts down");
    EXPECT_NE(cause, std::string::npos) << failed.err;
    EXPECT_NE(ending, std::string::npos) << failed.err;
    EXPECT_LT(cause, ending);
    EXPECT_LT(ending, failed.err.find("VornexEngine closing..."));
}

// A run nobody limits: paced to the present interval and ended by SIGINT through the
// normal shutdown, summary first. The logged run draws on the recording device, whose
// frames take a few milliseconds (the software rasteriser's alone take longer than the
// interval and would hide a loop that stopped pacing), and is interrupted 2 s after its
// scene has loaded: its frames after the load are at most one per 16 ms.
// Without a display and without --log it says once on standard error how to see and end it.
TEST_F(ProgramTest, AnUnlimitedRunIsPacedAndEndsOnAnInterrupt) {
    for (const bool logged : {true, false}) {
        SCOPED_TRACE(logged ? "--log - --no-draw" : "no arguments");
        const Outcome run = logged ? Interrupt("--log - --no-draw", WaitForLine("Scene switched") + "; sleep 2")
                                   : Interrupt("", "sleep 3");
        EXPECT_EQ(run.status, 0) << run.err;
        const size_t hint = run.err.find("quorvel2: running without a window");
        ASSERT_NE(hint, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("quorvel2: running", hint + 1), std::string::npos);
        if (!logged) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            continue;
        }
        unsigned frames = 0, ticks = 0;
        double seconds = 0, load = 0;
        const size_t switched = run.err.find("Scene switched in ");
        ASSERT_NE(switched, std::string::npos) << run.err;
        ASSERT_EQ(std::sscanf(run.err.c_str() + switched, "Scene switched in %lf", &load), 1);
        const size_t summary = run.err.find("Ran ");
        ASSERT_NE(summary, std::string::npos) << run.err;
        ASSERT_EQ(std::sscanf(run.err.c_str() + summary, "Ran %u frames (%u ticks) in %lf s", &frames, &ticks, &seconds), 3);
        EXPECT_GT(frames, 10u);
        EXPECT_LE(frames, (seconds - load) / 0.016 + 2) << seconds << " s, " << load << " s of them loading";
        EXPECT_LT(summary, run.err.find("Game closed"));
    }
}

// An interrupt while the engine is still starting ends the run the same way once the
// start-up is done (before: lost or fatal): the summary, then "Game closed", status 0.
TEST_F(ProgramTest, AnInterruptDuringStartUpEndsTheRunThroughTheShutdown) {
    const Outcome run = Interrupt("--headless --log - --no-draw", WaitForLine("Initializing engine"));
    EXPECT_EQ(run.status, 0) << run.err;
    const size_t summary = run.err.find("Ran ");
    ASSERT_NE(summary, std::string::npos) << run.err;
    EXPECT_LT(summary, run.err.find("Game closed"));
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

// The menu's and the loading screen's template files missing (the catalogue still names
// them): each load fails with its error line, and the program runs on without its menu.
TEST_F(ProgramTest, MissingMenuTemplatesLeaveTheRunGoingOn) {
    const std::string folder = root + "/nomenu";
    std::filesystem::create_directories(folder);
    for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(kProgramFolder))
        if ((e.path().extension() == ".dat" || e.path().extension() == ".idx") && e.path().stem() != "templates")
            std::filesystem::copy(e.path(), folder);
    std::filesystem::copy(PROJECT_BINARY_ROOT "/sample_data/templates", folder + "/templates",
                          std::filesystem::copy_options::recursive);
    for (const char* name : {"MainMenu", "LoadingScreen"})
        ASSERT_TRUE(std::filesystem::remove(folder + "/templates/UI/" + name + ".BinaryTemplate")) << name;
    const std::string pack = "'" PROJECT_BINARY_ROOT "/tools/pack' '" + folder + "/templates' '" + folder +
                             "/templates.dat' >/dev/null";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    std::filesystem::copy(kProgramFolder + "/quorvel2", folder);
    const Outcome run = Start(folder + "/quorvel2", "--log - --frames 60");
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 4000);
    for (const char* line : {"Resource loading failed (templates/UI/MainMenu)",
                             "Resource loading failed (templates/UI/LoadingScreen)", "Ran 60 frames", "Game closed"})
        EXPECT_NE(run.err.find(line), std::string::npos) << line;
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

// The game's delegate runs the sample's main script, which builds the menu (the active
// screen) and the loading screen, which the Game presents; once the intro has ended the
// menu shows, and a left press on its start button logs its line and hides the menu.
TEST_F(ProgramTest, InProcessTheMainScriptPresentsItsScreensAndItsStartButtonClicks) {
    setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
    const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
    ASSERT_NE(repository, nullptr);
    ASSERT_TRUE(repository->FromString(gGameConfig, kProgramFolder.c_str()));
    wnd::ResetWindowLayer();
    app::ResetMainWindowState();
    PCMacGameDelegate delegate;
    CaptureLogSink log;
    log.Attach();
    ASSERT_TRUE(app::CreateMainWindow(wnd::kShowNormal, "Quorvel 2"));
    app::StartGame(&delegate, nullptr, 0);
    UIScreen* menu = gGame->GetScreen(GAMESCREEN_ACTIVE);
    ASSERT_NE(menu, nullptr);
    EXPECT_NE(gGame->GetScreen(GAMESCREEN_LOADING), nullptr);
    const auto passUntil = [](const std::function<bool()>& done, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            if (!app::RunMainLoopPass()) return false;
        return done();
    };
    while (app::gMainWindow.renderedFrames < 30) ASSERT_TRUE(app::RunMainLoopPass());
    EXPECT_GE(gVornexRenderer.LoadingScreenPresents(), 1u);
    // The intro hides the menu while it plays (2 s of clip on the timer's clock).
    if (gVideoEngine->IsPlaying()) {
        EXPECT_FALSE(menu->IsVisible());
        EXPECT_TRUE(passUntil([] { return !gVideoEngine->IsPlaying(); }, 60)) << "the intro did not end within 60 s";
    }
    EXPECT_TRUE(passUntil([&] { return menu->IsVisible(); }, 30)) << "the menu does not show";
    // A move, a press and a release at the start button's screen point: the press logs the
    // line and hides the menu. The point is the middle of the button's rectangle as its
    // recipe lays it out (from position + anchor, size wide).
    const UIElement* button = menu->FindElementByName("StartButton");
    ASSERT_NE(button, nullptr);
    Vector position, anchor, size;
    button->LoadRecipeVectorProperty(position, "Position", nullptr);
    button->LoadRecipeVectorProperty(anchor, "Anchor", nullptr);
    button->LoadRecipeVectorProperty(size, "Size", nullptr);
    const Vector middle = position + anchor + size * 0.5f;
    EXPECT_FLOAT_EQ(middle.x, kButtonMiddleX);
    EXPECT_FLOAT_EQ(middle.y, kButtonMiddleY);
    wnd::Rect client;
    ASSERT_TRUE(wnd::GetClientRect(app::gMainWindow.window, &client));
    const Vector at = menu->UIPointToScreenPoint(Vector(middle.x, middle.y, 0, 0), uint32_t(client.Width()),
                                                 uint32_t(client.Height()));
    EXPECT_FALSE(log.Contains("Sample: Start pressed"));
    // The press reaches the button once the render side has published the menu's hit
    // candidates; the script says so when its own hit test finds the button.
    EXPECT_TRUE(passUntil([&] { return log.Contains("Menu: StartButton at"); }, 30)) << "the button is never hit";
    // Each event is taken in by the Game's next ticks; the menu blends out over game time
    // before it hides.
    for (wnd::EventKind kind : {wnd::EventKind::MouseMove, wnd::EventKind::ButtonDown, wnd::EventKind::ButtonUp}) {
        wnd::Event e;
        e.kind = kind;
        e.window = app::gMainWindow.window;
        e.x = int32_t(at.x * float(client.Width()));
        e.y = int32_t(at.y * float(client.Height()));
        ASSERT_TRUE(wnd::PostEvent(e));
        const uint32_t ticked = gGame->GetTickedFrameCount();
        ASSERT_TRUE(passUntil([&] { return gGame->GetTickedFrameCount() >= ticked + 3; }, 30));
    }
    EXPECT_TRUE(log.Contains("Sample: Start pressed"));
    EXPECT_TRUE(passUntil([&] { return !menu->IsVisible(); }, 30)) << "the menu still shows";
    gGame->Quit();
    EXPECT_FALSE(app::RunMainLoopPass());
    log.Detach();
    EXPECT_TRUE(log.Contains("Loading script file: Main.lua"));
    EXPECT_FALSE(log.Contains("is not function"));
    // The screens emptied their slots when the Game released them.
    for (uint32_t s = 0; s < GAMESCREEN_COUNT; ++s) EXPECT_EQ(gGame ? gGame->GetScreen(GameScreenSlot(s)) : nullptr, nullptr);
    repository->FromString(gGameConfig, "");
    gVornexEngine.SetConfiguration(nullptr);
    app::ResetMainWindowState();
    wnd::ResetWindowLayer();
    unsetenv("XDG_DATA_HOME");
}

// The program's own delegate, so every frame's events also pass through the script
// forwarding (and the sample's main script), where a per-frame leak would show.
TEST_F(ProgramTest, InProcessThreeThousandFramesKeepResidentMemory) {
    setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
    const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
    ASSERT_NE(repository, nullptr);
    ASSERT_TRUE(repository->FromString(gGameConfig, kProgramFolder.c_str()));
    wnd::ResetWindowLayer();
    app::ResetMainWindowState();
    PCMacGameDelegate delegate;
    // The script host is new: the game's packages open in it again (an earlier test of
    // this process opened them in a state that is gone).
    delegate.ResetBindingsRegistration();
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
