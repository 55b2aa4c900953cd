// Fuzz target: arbitrary bytes as an ".ogv" file in a mounted "videos" folder, played
// by the video engine for a bounded number of updates on a ManualClock (40 ms each),
// then stopped. The renderer and the sound thread do not run, so the ops and the sound
// jobs run inline: headers, the Ogg pages, Theora frames out of the decoder and Vorbis
// PCM through the ring's hand-over are all reached.
//
// Input: byte 0 bit 0 plays with the loop flag (for files of 4 KiB or more: a looping
// reader refills its 512 KiB ring by reopening the file, once per pass); the rest is the
// file. Seeds are small clips made by ffmpeg.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "ShellCommand.h"
#include "core/fs/FileSystem.h"
#include "platform/os/Clock.h"
#include "ui/video/VideoEngine.h"

namespace {

constexpr uint32_t kUpdates = 48;
constexpr size_t kMinLoopBytes = 4096;
std::string gFolder;
os::ManualClock* gClock = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    char pattern[] = "/tmp/video_fuzz_XXXXXX";
    gFolder = mkdtemp(pattern);
    gFileSystem.MountDirectory("videos", gFolder.c_str());
    gClock = new os::ManualClock(1'000'000'000);
    gClock->Install();
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || !gVideoEngine) return 0;
    {
        std::ofstream out(gFolder + "/clip.ogv", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    }
    const bool loop = (data[0] & 1) != 0 && size > kMinLoopBytes;
    gVideoEngine->Play("clip", nullptr, true, loop, 1.0f);
    for (uint32_t i = 0; i < kUpdates && gVideoEngine->IsPlaying(); ++i) {
        gClock->AdvanceSeconds(0.04);
        gVideoEngine->UpdateFrame();
        gVideoEngine->DrawFrame();
    }
    gVideoEngine->Stop();
    if (gVideoEngine->IsPlaying()) __builtin_trap();  // a stop always ends the playback
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    char pattern[] = "/tmp/video_fuzz_seeds_XXXXXX";
    if (!mkdtemp(pattern)) return;
    const std::string dir = pattern;
    const char* clips[] = {
        "-f lavfi -i testsrc2=s=64x48:r=25:d=0.3 -f lavfi -i sine=f=440:r=22050:d=0.3 -c:v libtheora -c:a libvorbis -ac 1",
        "-f lavfi -i testsrc2=s=48x32:r=25:d=0.2 -pix_fmt yuv444p -c:v libtheora",
        "-f lavfi -i testsrc2=s=32x32:r=25:d=0.2 -pix_fmt yuv422p -c:v libtheora",
    };
    int n = 0;
    for (const char* args : clips) {
        const std::string path = dir + "/" + std::to_string(n++) + ".ogv";
        if (!shelltest::Shell(std::string("ffmpeg -y -v error ") + args + " -f ogg '" + path + "'")) continue;
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes(1, uint8_t(n & 1));
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        add(bytes.data(), bytes.size());
    }
    std::filesystem::remove_all(dir);
}
