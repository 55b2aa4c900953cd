#pragma once
// Shared pieces of the video tests: clips made by ffmpeg (libtheora and libvorbis over
// lavfi sources) once per build folder, the references of tools independent of our code
// (ffmpeg's own Theora decoder, oggdec), the "videos" mount, and a playback driver that
// steps the engine on a ManualClock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "ShellCommand.h"
#include "core/fs/FileSystem.h"
#include "platform/os/Clock.h"
#include "ui/video/VideoEngine.h"
#include "ui/video/VideoPlayer.h"

namespace videotest {

using shelltest::Shell;
using shelltest::ShellOutput;

struct ClipSpec {
    const char* name;
    const char* args;  // ffmpeg's inputs and encoder options, before the output file
};

// The test clips. Sources: testsrc2 and gradients for pictures, sine for sound; every clip
// is the same in every build folder.
inline const ClipSpec kClips[] = {
    {"stereo320", "-f lavfi -i testsrc2=s=320x240:r=25:d=1.2 "
                  "-filter_complex \"sine=f=440:r=44100:d=1.2[a];sine=f=660:r=44100:d=1.2[b];[a][b]amerge=inputs=2[s]\" "
                  "-map 0:v -map [s] -c:v libtheora -q:v 7 -c:a libvorbis -q:a 4"},
    {"odd161", "-f lavfi -i testsrc2=s=320x200:r=25:d=1 -f lavfi -i sine=f=300:r=22050:d=1 "
               "-vf scale=161:97 -c:v libtheora -q:v 7 -c:a libvorbis -ac 1"},
    {"silent", "-f lavfi -i testsrc2=s=160x120:r=25:d=0.6 -c:v libtheora -q:v 7"},
    {"yuv422", "-f lavfi -i testsrc2=s=160x120:r=25:d=0.6 -pix_fmt yuv422p -c:v libtheora -q:v 7"},
    // gradients picks random colours and lines unless every one is given; on some random
    // pictures libtheora and ffmpeg's Theora decoder disagree in 4:4:4.
    {"grad444", "-f lavfi -i gradients=s=160x120:r=25:d=0.6:c0=0xff2020:c1=0x2040ff:c2=0x20e040:n=3:x0=10:y0=20:"
                "x1=150:y1=100:seed=1 "
                "-pix_fmt yuv444p -c:v libtheora -q:v 8"},
    {"loop", "-f lavfi -i testsrc2=s=160x120:r=25:d=0.4 -f lavfi -i sine=f=440:r=44100:d=0.4 "
             "-c:v libtheora -q:v 5 -c:a libvorbis -ac 1"},
    {"long", "-f lavfi -i testsrc2=s=160x120:r=25:d=4 -f lavfi -i sine=f=440:r=44100:d=4 "
             "-c:v libtheora -q:v 5 -c:a libvorbis -ac 2"},
    {"shortsound", "-f lavfi -i testsrc2=s=160x120:r=25:d=1.2 -f lavfi -i sine=f=440:r=44100:d=0.4 "
                   "-c:v libtheora -q:v 5 -c:a libvorbis -ac 1"},
    {"audioonly", "-f lavfi -i sine=f=440:r=44100:d=0.5 -c:a libvorbis"},
    {"pic420", "-f lavfi -i testsrc2=s=160x120:r=25:d=0.4 -c:v libtheora -q:v 10"},
    {"screen256", "-f lavfi -i testsrc2=s=256x144:r=25:d=0.2 -c:v libtheora"},
    {"wide320", "-f lavfi -i testsrc2=s=320x120:r=25:d=0.2 -c:v libtheora"},
    // A 0.1 s beep at the start of every second.
    {"beeps", "-f lavfi -i testsrc2=s=160x120:r=25:d=5 "
              "-f lavfi -i \"aevalsrc=if(lt(mod(t\\,1)\\,0.1)\\,0.5*sin(2*PI*1000*t)\\,0):s=44100:d=5\" "
              "-c:v libtheora -q:v 5 -c:a libvorbis -ac 2"},
};

// The folder of the made clips (one per build folder; made once, atomically).
inline std::string ClipFolder() { return PROJECT_BINARY_ROOT "/video_clips"; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs the command into a temporary file and renames it over path (tests run in parallel).
inline bool MakeOnce(const std::string& path, const std::string& commandWithOut) {
    if (std::filesystem::exists(path)) return true;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    std::string command = commandWithOut;
    const size_t at = command.find("{out}");
    command.replace(at, 5, "'" + temp + "'");
    if (!Shell(command)) return false;
    std::filesystem::rename(temp, path);
    return true;
}

// The path of a clip (name without ".ogv"), made by ffmpeg on first use; "cut" is the
// stereo clip cut inside its headers.
inline std::string Clip(const std::string& name) {
    const std::string path = ClipFolder() + "/" + name + ".ogv";
    if (name == "cut") {
        const std::vector<uint8_t> whole = ReadBytes(Clip("stereo320"));
        if (whole.size() < 6000) return "";
        if (!std::filesystem::exists(path)) {
            WriteBytes(path + ".tmp", std::vector<uint8_t>(whole.begin(), whole.begin() + 3000));
            std::filesystem::rename(path + ".tmp", path);
        }
        return path;
    }
    for (const ClipSpec& c : kClips)
        if (name == c.name)
            return MakeOnce(path, std::string("ffmpeg -y -v error ") + c.args + " -f ogg {out}") ? path : "";
    return "";
}

// ffmpeg's raw decode of the video stream in the given pixel format.
inline std::vector<uint8_t> RawFrames(const std::string& clip, const std::string& pixelFormat) {
    const std::string raw = clip + "." + pixelFormat + ".raw";
    if (!MakeOnce(raw, "ffmpeg -y -v error -i '" + clip + "' -f rawvideo -pix_fmt " + pixelFormat + " {out}"))
        return {};
    return ReadBytes(raw);
}

// oggdec's 16-bit decode of the clip's audio stream (copied out by ffmpeg first).
inline std::vector<int16_t> OggdecSamples(const std::string& clip) {
    const std::string audio = clip + ".audio.ogg", raw = clip + ".oggdec.raw";
    if (!MakeOnce(audio, "ffmpeg -y -v error -i '" + clip + "' -map 0:a -c copy -f ogg {out}")) return {};
    if (!MakeOnce(raw, "oggdec -Q -R -b 16 -e 0 -s 1 -o {out} '" + audio + "'")) return {};
    const std::vector<uint8_t> b = ReadBytes(raw);
    std::vector<int16_t> s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// ffprobe's "width,height,pix_fmt" of the video stream.
inline std::string ProbeVideo(const std::string& clip) {
    return ShellOutput("ffprobe -v error -select_streams v:0 -show_entries stream=width,height,pix_fmt -of csv=p=0 '" +
                       clip + "'");
}

// A scratch folder mounted as "videos" with the named clips copied in.
struct VideoFolder {
    void Mount(const std::vector<std::string>& clips) {
        char pattern[] = "/tmp/video_test_XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/videos");
        for (const std::string& c : clips) {
            const std::string from = Clip(c);
            ASSERT_FALSE(from.empty()) << "ffmpeg could not make the clip " << c;
            std::filesystem::copy_file(from, root + "/videos/" + c + ".ogv");
        }
        gFileSystem.MountDirectory("videos", (root + "/videos").c_str());
    }
    // The fixture's UnmountAll drops the mount.
    void Remove() {
        if (root.empty()) return;
        std::filesystem::remove_all(root);
        root.clear();
    }
    std::string root;
};

// Render-thread views of the engine's player (null when there is none).
inline VideoPlayer* CurrentPlayer() { return gVideoEngine->Player(); }

}  // namespace videotest
