#pragma once
// A virtual X server for the desktop tests: Xvfb on a free display number, started and
// stopped by the test itself, and xdotool to drive it. Every wait has a time-out.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/ShellCommand.h"

namespace xvfbtest {

// Whether the tools the desktop tests need are installed; the reason when not.
inline bool ToolsPresent(std::string* missing) {
    for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo"}) {
        if (!shelltest::Shell(std::string("command -v ") + tool)) {
            *missing = std::string(tool) + " is not installed (scripts/setup installs it)";
            return false;
        }
    }
    return true;
}

class Server {
public:
    // Starts Xvfb with one screen of that size on the first free display from 70 on
    // (a lock file or socket marks a display in use); false after 10 s without one.
    bool Start(int width = 1280, int height = 1024) {
        for (int n = 70 + int(getpid() % 40); n < 200; ++n) {
            if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
            if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) continue;
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            const pid_t child = fork();
            if (child < 0) return false;
            if (child == 0) {
                std::freopen("/dev/null", "w", stdout);
                std::freopen("/dev/null", "w", stderr);
                const std::string display = ":" + std::to_string(n);
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                       "-noreset", static_cast<char*>(nullptr));
                _exit(127);
            }
            pid = child;
            display = ":" + std::to_string(n);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < deadline) {
                int status = 0;
                if (waitpid(pid, &status, WNOHANG) == pid) break;  // lost the race for the number
                if (shelltest::Shell("xdpyinfo -display " + display)) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            Stop();
        }
        return false;
    }

    void Stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) != pid; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = -1;
    }

    ~Server() { Stop(); }

    const std::string& Display() const { return display; }

    // Runs a command with DISPLAY set to this server, ended after 60 s (a tool waiting
    // on a window that never comes); whether it succeeded.
    bool Run(const std::string& command) const { return shelltest::Shell(Bounded(command)); }
    std::string Output(const std::string& command) const {
        return shelltest::ShellOutput(Bounded(command) + " 2>/dev/null");
    }

private:
    std::string Bounded(const std::string& command) const {
        return "DISPLAY=" + display + " timeout 60 sh -c '" + Quoted(command) + "'";
    }
    // The command inside single quotes.
    static std::string Quoted(const std::string& command) {
        std::string out;
        for (char c : command) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out;
    }

    pid_t pid = -1;
    std::string display;
};

// Asks a window to close the way a window manager's close button does (the
// WM_DELETE_WINDOW message), through libX11 from Python.
inline std::string CloseWindowCommand(unsigned long window) {
    return "python3 -c \""
           "import ctypes as c;x=c.cdll.LoadLibrary('libX11.so.6');"
           "x.XOpenDisplay.restype=c.c_void_p;x.XInternAtom.restype=c.c_ulong;"
           "x.XInternAtom.argtypes=[c.c_void_p,c.c_char_p,c.c_int];"
           "x.XSendEvent.argtypes=[c.c_void_p,c.c_ulong,c.c_int,c.c_long,c.c_void_p];"
           "x.XFlush.argtypes=[c.c_void_p];x.XCloseDisplay.argtypes=[c.c_void_p];"
           "d=x.XOpenDisplay(None);e=(c.c_long*24)();"
           "e[0]=33;e[4]=" + std::to_string(window) + ";e[5]=x.XInternAtom(d,b'WM_PROTOCOLS',0);e[6]=32;"
           "e[7]=x.XInternAtom(d,b'WM_DELETE_WINDOW',0);"
           "x.XSendEvent(d," + std::to_string(window) + ",0,0,e);x.XFlush(d);x.XCloseDisplay(d)\"";
}

}  // namespace xvfbtest
