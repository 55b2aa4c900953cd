// Video decoding through the video engine against a plain libtheora loop, in one run.
// The clip is 10 s of 1280 x 720 at 25 fps made by ffmpeg when the benchmark starts
// (VIDEO_BENCH_CLIP names another .ogv instead). Each iteration plays it through the
// engine: the ops run on the render thread, the clock moves one frame per update (a
// render-thread call before each update op), every shown frame's planes go to the device's
// textures, and the sound engine is not running (a silent voice). Then the same file
// is decoded on one thread by Ogg sync and packets, theora_decode_packetin and
// theora_decode_YUVout with the planes copied into memory. The engine's rate counts only
// the frames it showed (a frame it dropped counts for nothing); the plain loop's counts
// every frame it decoded. Frames per second of both and their ratio are printed at the
// end, the median of the repetitions (goal: at least 0.9).
#include <benchmark/benchmark.h>

#include <ogg/ogg.h>
#include <theora/theora.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/LoaderBench.h"
#include "bench/RateReporter.h"
#include "platform/os/Clock.h"
#include "ui/video/VideoEngine.h"
#include "ui/video/VideoPlayer.h"

namespace {

constexpr double kFps = 25.0;
std::string gFolder;
std::vector<uint8_t> gFile;
os::ManualClock* gClock = nullptr;
// Frames the engine showed (uploaded to its planes), counted on the render thread.
uint64_t gShownFrames = 0;
uint32_t gLastShown = 0;

void StartOnce() {
    static const bool started = benchsupport::StartLoader("video_bench", &gFolder, [](const std::string& folder) {
        const std::string clip = folder + "/bench.ogv";
        if (const char* given = std::getenv("VIDEO_BENCH_CLIP")) {
            std::filesystem::copy_file(given, clip);
        } else {
            const std::string command = "ffmpeg -y -v error -f lavfi -i testsrc2=s=1280x720:r=25:d=10 -c:v libtheora "
                                        "-q:v 6 -f ogg '" + clip + "'";
            if (std::system(command.c_str()) != 0) std::fprintf(stderr, "video_bench: ffmpeg failed\n");
        }
        std::ifstream in(clip, std::ios::binary);
        gFile.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        gFileSystem.MountDirectory("videos", folder.c_str());
    });
    (void)started;
    if (!gClock) {
        gClock = new os::ManualClock(1'000'000'000);
        gClock->Install();
    }
}

// Counts the frame the last update showed: a shown frame takes the decoder's frame count as
// the player's last frame count, so every change of that is one frame on screen. True when
// the last update showed one.
bool CountShownFrame() {
    const VideoPlayer* player = gVideoEngine->Player();
    if (!player || player->LastFrameCounter() == gLastShown) return false;
    gLastShown = player->LastFrameCounter();
    ++gShownFrames;
    return true;
}

// A render-thread call that counts the frame the previous update showed and moves the
// clock one frame on when it showed one or when a decoded frame waits for the clock. An
// update that found no data yet (the loader's read-ahead is late) leaves the clock where it
// is, so the clock never runs ahead of the picture and no frame is dropped: the engine's
// rate is that of playing every frame, whatever the loader's timing on a busy machine.
void PostClockStep() {
    RenderCallFunction call = [](uint32_t, CommandRingBuffer&) {
        const VideoPlayer* player = gVideoEngine->Player();
        if (CountShownFrame() || (player && player->FrameTime() > player->VideoClock()))
            gClock->AdvanceSeconds(1.0 / kFps);
    };
    if (!gVornexRenderer.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t))) return;
    gVornexRenderer.Ring().WriteValue(call);
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
}

// The engine's playback of the whole clip; the frames it showed.
uint64_t EnginePass() {
    benchsupport::RunOnRenderThread([] { gShownFrames = 0, gLastShown = 0; });
    gVideoEngine->Play("bench", nullptr, true, false, 1.0f);
    uint64_t updates = 0;
    // The updates go out in batches of 64 (the main thread does not wait on each).
    while (gVideoEngine->IsPlaying() && updates < 100000) {
        for (int i = 0; i < 64; ++i, ++updates) {
            PostClockStep();
            gVideoEngine->UpdateFrame();
        }
        gVornexRenderer.FlushCommands(true);
    }
    uint64_t shown = 0;
    benchsupport::RunOnRenderThread([&] {
        CountShownFrame();
        shown = gShownFrames;
    });
    return shown;
}

// Plain libtheora over the same bytes on this thread; the frames decoded.
uint64_t PlainPass(std::vector<uint8_t>& planes) {
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(gFile.size()));
    std::memcpy(buffer, gFile.data(), gFile.size());
    ogg_sync_wrote(&sync, long(gFile.size()));
    theora_info info;
    theora_comment comment;
    theora_state state;
    theora_info_init(&info);
    theora_comment_init(&comment);
    ogg_stream_state stream;
    bool streamInit = false, decoding = false;
    int headers = 0;
    uint64_t frames = 0;
    ogg_page page;
    ogg_packet packet;
    while (ogg_sync_pageout(&sync, &page) > 0) {
        if (!streamInit) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            streamInit = true;
        }
        ogg_stream_pagein(&stream, &page);
        while (ogg_stream_packetout(&stream, &packet) > 0) {
            if (headers < 3) {
                if (theora_decode_header(&info, &comment, &packet) == 0) ++headers;
                if (headers == 3) decoding = theora_decode_init(&state, &info) == 0;
                continue;
            }
            if (!decoding || theora_decode_packetin(&state, &packet) != 0) continue;
            yuv_buffer yuv;
            theora_decode_YUVout(&state, &yuv);
            const uint32_t w = info.frame_width, h = info.frame_height;
            planes.resize(size_t(w) * h * 3 / 2);
            uint8_t* out = planes.data();
            for (uint32_t y = 0; y < h; ++y, out += w)
                std::memcpy(out, yuv.y + ptrdiff_t(info.offset_y + y) * yuv.y_stride + info.offset_x, w);
            for (const unsigned char* p : {yuv.u, yuv.v})
                for (uint32_t y = 0; y < h / 2; ++y, out += w / 2)
                    std::memcpy(out, p + ptrdiff_t(info.offset_y / 2 + y) * yuv.uv_stride + info.offset_x / 2, w / 2);
            ++frames;
        }
    }
    if (decoding) theora_clear(&state);
    if (streamInit) ogg_stream_clear(&stream);
    theora_comment_clear(&comment);
    theora_info_clear(&info);
    ogg_sync_clear(&sync);
    return frames;
}

void BM_EngineAgainstPlainLibtheora(benchmark::State& state) {
    StartOnce();
    gVideoEngine->Init();
    std::vector<uint8_t> planes;
    double engineTime = 0.0, plainTime = 0.0;
    uint64_t engineFrames = 0, plainFrames = 0;
    for (auto _ : state) {
        auto a = std::chrono::steady_clock::now();
        engineFrames += EnginePass();
        auto b = std::chrono::steady_clock::now();
        plainFrames += PlainPass(planes);
        auto c = std::chrono::steady_clock::now();
        engineTime += std::chrono::duration<double>(b - a).count();
        plainTime += std::chrono::duration<double>(c - b).count();
    }
    const double engineFps = engineTime > 0 ? double(engineFrames) / engineTime : 0.0;
    const double plainFps = plainTime > 0 ? double(plainFrames) / plainTime : 0.0;
    state.counters["engine_fps"] = engineFps;
    state.counters["plain_fps"] = plainFps;
    state.counters["ratio"] = plainFps > 0 ? engineFps / plainFps : 0.0;
    state.counters["shown/decoded"] = plainFrames ? double(engineFrames) / double(plainFrames) : 0.0;
    gVideoEngine->Close();
}
BENCHMARK(BM_EngineAgainstPlainLibtheora)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("video: engine %.1f frames/s, plain libtheora %.1f frames/s (medians)\n",
                reporter.Median("BM_EngineAgainstPlainLibtheora", "engine_fps"),
                reporter.Median("BM_EngineAgainstPlainLibtheora", "plain_fps"));
    std::printf("video: frames shown by the engine / frames in the clip: %.3f (median)\n",
                reporter.Median("BM_EngineAgainstPlainLibtheora", "shown/decoded"));
    benchsupport::PrintFigure("video: engine / plain libtheora, rate", reporter.Of("BM_EngineAgainstPlainLibtheora", "ratio"),
                              "at least 0.9", 3);
    benchmark::Shutdown();
    return 0;
}
