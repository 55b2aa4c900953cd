// test-depends: quorvel2 sample_data
// test-timeout: 900
// The built program on a desktop (a virtual X server driven by xdotool): its window
// opens titled "Quorvel 2" and shows the back buffer, Ctrl+Enter and a resize reach the
// renderer's reset, a click on the menu's start button reaches the main script, the close
// button ends the program with status 0; without a display or with --headless it stays
// headless and says so. Skipped when Xvfb or xdotool is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/XvfbServer.h"

namespace {

const std::string kProgram = PROJECT_BINARY_ROOT "/app/quorvel2";

std::string Read(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The differing pixel count `compare -metric AE` printed; infinity when it printed no
// number (an error), so that a failed comparison never passes as a match.
double PixelCount(const std::string& text) {
    char* end = nullptr;
    const double count = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? HUGE_VAL : count;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// A white window over the whole screen takes the focus for a second and goes away
// (libX11 from Python).
std::string CoverCommand() {
    return "/usr/bin/python3 -c \""
           "import ctypes as c,time;x=c.cdll.LoadLibrary('libX11.so.6');L=c.c_ulong;P=c.c_void_p;"
           "x.XOpenDisplay.restype=P;x.XDefaultRootWindow.argtypes=[P];x.XDefaultRootWindow.restype=L;"
           "x.XCreateSimpleWindow.argtypes=[P,L,c.c_int,c.c_int,c.c_uint,c.c_uint,c.c_uint,L,L];"
           "x.XCreateSimpleWindow.restype=L;x.XMapRaised.argtypes=[P,L];x.XUnmapWindow.argtypes=[P,L];"
           "x.XSetInputFocus.argtypes=[P,L,c.c_int,L];x.XSync.argtypes=[P,c.c_int];x.XCloseDisplay.argtypes=[P];"
           "d=x.XOpenDisplay(None);w=x.XCreateSimpleWindow(d,x.XDefaultRootWindow(d),0,0,1280,1024,0,0,0xffffff);"
           "x.XMapRaised(d,w);x.XSync(d,0);time.sleep(0.5);x.XSetInputFocus(d,w,2,0);x.XSync(d,0);time.sleep(1);"
           "x.XUnmapWindow(d,w);x.XSync(d,0);x.XCloseDisplay(d)\"";
}

class DesktopProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/desktop_program_XXXXXX";
        root = mkdtemp(pattern);
    }
    void TearDown() override {
        // A program still running after a failure: ask it to close, then stop the server.
        if (!std::filesystem::exists(root + "/status") && !window.empty())
            server.Run(xvfbtest::CloseWindowCommand(std::stoul(window)));
        WaitFor([&] { return std::filesystem::exists(root + "/status"); }, 20);
        server.Stop();
        std::filesystem::remove_all(root);
    }

    bool StartServer() {
        std::string missing;
        if (!xvfbtest::ToolsPresent(&missing)) {
            skipReason = missing;
            return false;
        }
        return server.Start();
    }

    // Starts the program in the background; its exit status lands in root/status.
    void Launch(const std::string& environment, const std::string& arguments) {
        const std::string command = "( cd '" + root + "' && " + environment + " XDG_DATA_HOME='" + root +
                                    "/home' XDG_RUNTIME_DIR='" + root + "' EGL_PLATFORM=surfaceless '" + kProgram +
                                    "' --log - " + arguments + " >'" + root + "/out' 2>'" + root +
                                    "/err'; echo $? >'" + root + "/status.tmp'; mv '" + root + "/status.tmp' '" +
                                    root + "/status' ) >/dev/null 2>&1 &";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    int Status() {
        if (!WaitFor([&] { return std::filesystem::exists(root + "/status"); }, 180)) return -1;
        return std::atoi(Read(root + "/status").c_str());
    }

    std::string Log() const { return Read(root + "/err"); }

    // ImageMagick's picture of the window against the newest saved frame.
    void ComparePicture();
    // The newest finished frame shows the menu's button (magenta) in its middle: its face
    // is sampled 70 UI units left of the middle, clear of the label centred on it.
    bool MenuShown() const {
        std::vector<std::string> frames;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/shots", error)) frames.push_back(entry.path());
        if (frames.size() < 2) return false;
        std::sort(frames.begin(), frames.end());
        const std::string face = "p{w/2-70*min(w/1280,h/720),h/2}";
        const std::string rgb = shelltest::ShellOutput("convert '" + frames[frames.size() - 2] + "' -format '%[fx:int(255*" +
                                                       face + ".r)] %[fx:int(255*" + face + ".g)] %[fx:int(255*" + face +
                                                       ".b)]' info: 2>/dev/null");
        int r = 0, g = 255, b = 0;
        return std::sscanf(rgb.c_str(), "%d %d %d", &r, &g, &b) == 3 && r >= 240 && g <= 15 && b >= 240;
    }

    size_t SavedFrames() const {
        std::error_code error;
        const std::filesystem::directory_iterator shots(root + "/shots", error);
        return error ? 0 : size_t(std::distance(begin(shots), end(shots)));
    }

    bool LogHas(const std::string& line, int seconds = 60) const {
        return WaitFor([&] { return Log().find(line) != std::string::npos; }, seconds);
    }

    xvfbtest::Server server;
    std::string root, window, skipReason;
};

TEST_F(DesktopProgramTest, OpensItsWindowPresentsAndClosesCleanly) {
    if (!StartServer()) {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        FAIL() << "Xvfb did not start";
    }
    Launch("DISPLAY=" + server.Display() + " SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" + root + "/device.f32'",
           "--screenshot-every 10 '" + root + "/shots' --audio-out '" + root + "/sound.wav'");
    window = server.Output("timeout 60 xdotool search --sync --name '^Quorvel 2$' | head -n 1");
    ASSERT_FALSE(window.empty()) << Log();
    ASSERT_TRUE(LogHas("Presenting into the window: back buffer read back and uploaded each frame")) << Log();
    for (const char* line : {"Desktop: window, keyboard, mouse and controllers and the audio device",
                             "Audio output: disk device, 48000 Hz, 2 channels"})
        EXPECT_NE(Log().find(line), std::string::npos) << line;

    // Ctrl+Enter leaves full screen; a resize of the window reaches the renderer's reset.
    ASSERT_TRUE(server.Run("xdotool key --window " + window + " ctrl+Return"));
    EXPECT_TRUE(WaitFor(
        [&] {
            return server.Output("xdotool getwindowgeometry " + window).find("Geometry: 1280x1024") == std::string::npos;
        },
        30))
        << Log();
    ASSERT_TRUE(server.Run("xdotool windowsize " + window + " 1024 576"));
    EXPECT_TRUE(LogHas("Render target size: 1024x576")) << Log();

    // The window shows the back buffer: the newest saved frame, scaled to the window,
    // against ImageMagick's picture of the window (at most 2 % of the pixels off by
    // more than 5 %). The intro video plays first and changes most pixels each frame:
    // the pictures are compared once the menu shows.
    const bool magick = shelltest::Shell("(command -v import && command -v compare)");
    if (magick) {
        EXPECT_TRUE(WaitFor([&] { return MenuShown(); }, 120)) << "the intro did not end\n" << Log();
    }
    if (magick) ComparePicture();
    else std::printf("ImageMagick is not installed: the window's picture is not compared\n");

    // Covered by a white window that takes the focus, then uncovered: the X server keeps
    // no picture of the window, so the unfocused window's paint must draw a frame and
    // show it. The menu still shows, so the scene stands still.
    if (magick) {
        ASSERT_TRUE(server.Run(CoverCommand())) << Log();
        SCOPED_TRACE("uncovered while unfocused");
        ComparePicture();
    }

    // A left press in the middle of the window, where the menu's start button is: the window
    // lost the focus to the cover and no window manager gives it back, so the press itself
    // activates it; the main script sees it through the Game, logs its line and blends the
    // menu out.
    if (magick) {
        ASSERT_TRUE(server.Run("xdotool mousemove --window " + window + " 512 288 mousedown 1 sleep 0.3 mouseup 1"));
        EXPECT_TRUE(LogHas("Sample: Start pressed", 30)) << Log();
        EXPECT_TRUE(WaitFor([&] { return !MenuShown(); }, 60)) << "the menu still shows";
    }

    ASSERT_TRUE(server.Run(xvfbtest::CloseWindowCommand(std::stoul(window))));
    EXPECT_EQ(Status(), 0) << Log();
    EXPECT_NE(Log().find("VornexEngine closed"), std::string::npos);
    // Focus changes, resizes and key presses reach the main script, which answers each.
    EXPECT_NE(Log().find("Loading script file: Main.lua"), std::string::npos);
    EXPECT_EQ(Log().find("is not function"), std::string::npos) << Log();
    // --audio-out: a WAV file that sox reads at the mastering voice's rate and channels.
    if (!shelltest::Shell("command -v soxi")) {
        std::printf("sox is not installed: the WAV file is not read\n");
        return;
    }
    EXPECT_EQ(shelltest::ShellOutput("soxi -r '" + root + "/sound.wav'"), "48000");
    EXPECT_EQ(shelltest::ShellOutput("soxi -c '" + root + "/sound.wav'"), "2");
}

void DesktopProgramTest::ComparePicture() {
    // The window shows what the program last presented, which a loaded machine may show
    // seconds after a resize or an uncovering: the pictures are taken again until they
    // agree or a minute has passed, and only the last comparison counts.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string differing, size;
    double limit = 0.0;
    for (;;) {
        ASSERT_TRUE(server.Run("import -window " + window + " '" + root + "/window.png'"));
        // The newest frame may still be being written: the one before it.
        std::vector<std::string> frames;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/shots", error)) frames.push_back(entry.path());
        std::sort(frames.begin(), frames.end());
        if (frames.size() >= 2) {
            const std::string newest = frames[frames.size() - 2];
            size = server.Output("identify -format '%wx%h' '" + root + "/window.png'");
            ASSERT_TRUE(server.Run("convert '" + newest + "' -resize " + size + "! '" + root + "/frame.png'"));
            differing = shelltest::ShellOutput("compare -metric AE -fuzz 5% '" + root + "/window.png' '" + root +
                                               "/frame.png' null: 2>&1");
            const int width = std::atoi(size.c_str()), height = std::atoi(size.substr(size.find('x') + 1).c_str());
            limit = width * height / 50.0;
            if (width > 0 && height > 0 && PixelCount(differing) <= limit) return;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_FALSE(size.empty()) << "fewer than two frames saved in a minute";
    EXPECT_LE(PixelCount(differing), limit) << differing << " of " << size;
}

// Full screen, as configured by default, on screens whose size the renderer's own mode
// list may lack: the program takes the display's mode, shows its frames at the screen's
// size and ends normally.
TEST_F(DesktopProgramTest, StaysUpFullScreenOnLaptopScreens) {
    std::string missing;
    if (!xvfbtest::ToolsPresent(&missing)) GTEST_SKIP() << missing;
    const std::pair<int, int> screens[] = {{1280, 800}, {1366, 768}, {1024, 768}};
    for (const auto& [width, height] : screens) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        SCOPED_TRACE(size);
        ASSERT_TRUE(server.Start(width, height));
        std::filesystem::remove_all(root + "/home");
        std::filesystem::remove(root + "/status");
        Launch("DISPLAY=" + server.Display() + " SDL_AUDIODRIVER=dummy", "--frames 10");
        EXPECT_EQ(Status(), 0) << Log();
        EXPECT_NE(Log().find("Presenting into the window: back buffer read back and uploaded each frame (" + size + ")"),
                  std::string::npos)
            << Log();
        EXPECT_NE(Log().find("Ran 10 frames"), std::string::npos);
        server.Stop();
    }
}

TEST_F(DesktopProgramTest, HeadlessWithoutADisplayOrWhenAsked) {
    struct Case {
        bool display;
        const char* arguments;
        const char* line;
    } cases[] = {
        {false, "--frames 3", "Headless: no display (DISPLAY and WAYLAND_DISPLAY are unset)"},
        {true, "--frames 3 --headless", "Headless: asked on the command line"},
    };
    const bool haveServer = StartServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        if (c.display && !haveServer) continue;
        std::filesystem::remove(root + "/status");
        Launch(c.display ? "DISPLAY=" + server.Display() : "env -u DISPLAY -u WAYLAND_DISPLAY", c.arguments);
        EXPECT_EQ(Status(), 0) << Log();
        EXPECT_NE(Log().find(c.line), std::string::npos) << Log();
        EXPECT_EQ(Log().find("Presenting into the window"), std::string::npos);
        EXPECT_EQ(Log().find("Audio output:"), std::string::npos);  // the null output, as before
        if (c.display) {
            EXPECT_EQ(server.Output("xdotool search --name '^Quorvel 2$'"), "");
        }
    }
}

}  // namespace
