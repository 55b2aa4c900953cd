// Ogg Vorbis sounds through the sound engine against plain vorbisfile decoding, in one
// run, on a 60 s stereo 44.1 kHz file made by sox and oggenc:
//   plain     ov_open_callbacks and ov_read from memory into memory on one thread;
//   streamed  a streamed sound: the loader thread reads the file through a
//             StreamingFileReader, the sound engine (stepped on this thread) decodes its
//             halves and submits them to a voice on the manual output, which is rendered
//             as fast as it is fed (output discarded);
//   static    the same file as a static Ogg resource (loaded before timing), decoded
//             through SoundStreamStaticDataSource the same way.
// The rates (decoded bytes per second) and the ratios to plain are printed at the end
// (goals: streamed at least 0.9, static at least 0.95).
#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

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

#include "bench/RateReporter.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "platform/os/Clock.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr const char* kFile = "bench60.ogg";
std::string gFolder;
std::vector<uint8_t> gFile;
uint64_t gPcmBytes = 0;

bool StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        char pattern[] = "/tmp/sound_stream_bench_XXXXXX";
        if (!mkdtemp(pattern)) return false;
        gFolder = pattern;
        const std::string wav = gFolder + "/src.wav", ogg = gFolder + "/" + kFile;
        const std::string make = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 60 sine 220-880 pinknoise vol 0.5 && oggenc -Q -o '" +
                                 ogg + "' '" + wav + "'";
        if (std::system(make.c_str()) != 0) return false;
        std::ifstream in(ogg, std::ios::binary);
        gFile.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        gFileSystem.MountDirectory("sounds", gFolder.c_str());
        if (gGameConfig) gGameConfig->sfxVolume = gGameConfig->musicVolume = gGameConfig->voiceVolume = 1.0f;
        return gResourceManager.Start();
    }();
    return started;
}

struct Memory {
    const uint8_t* data;
    size_t size, at;
};

size_t MemoryRead(void* buffer, size_t size, size_t count, void* source) {
    auto* m = static_cast<Memory*>(source);
    const size_t n = std::min(size * count, m->size - m->at);
    std::memcpy(buffer, m->data + m->at, n);
    m->at += n;
    return size ? n / size : 0;
}

void BM_Plain(benchmark::State& state) {
    if (!StartOnce()) return state.SkipWithError("no test file");
    std::vector<char> out(16384);
    uint64_t bytes = 0;
    for (auto _ : state) {
        Memory m{gFile.data(), gFile.size(), 0};
        OggVorbis_File vf;
        const ov_callbacks callbacks = {&MemoryRead, nullptr, nullptr, nullptr};
        if (ov_open_callbacks(&m, &vf, nullptr, 0, callbacks) != 0) return state.SkipWithError("ov_open failed");
        int link = 0;
        for (long n; (n = ov_read(&vf, out.data(), int(out.size()), 0, 2, 1, &link)) > 0;) bytes += uint64_t(n);
        ov_clear(&vf);
    }
    gPcmBytes = bytes / state.iterations();
    state.counters["bytes_per_s"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}

// One sound played to its end through an engine stepped on this thread.
void PlayThroughEngine(benchmark::State& state, uint32_t flags) {
    if (!StartOnce()) return state.SkipWithError("no test file");
    if (!(flags & SOUNDSTARTFLAG_STREAMED)) {
        Resource* r = gResourceManager.GetResource(RESOURCE_SOUND, kFile, 0, true, 0);
        r->Load(true);  // the resource stays loaded; the instance takes its own use
        r->Release();
    }
    os::ManualClock clock(1'000'000'000);
    clock.Install();
    SoundEngine* saved = gSoundEngine;
    SoundEngine engine;
    gSoundEngine = &engine;
    engine.SetRunWithoutThread(true);
    const audio::EngineOptions options{audio::OutputKind::kManual, 44100, 2, nullptr};
    engine.SetEngineOptions(&options);
    engine.Start();
    engine.RunWake();
    SoundParamWrapper p;
    p.LoadDefaults();
    p.Flags = flags;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const uint32_t before = SoundInstanceBase::DecodedBytes();
        engine.PlaySystemSound(kFile, &p);
        do {
            clock.Advance(os::kCounterFrequency * 30 / 1000);
            engine.RunWake();
            audio::AudioEngine* a = engine.GetAudioEngine();
            if (a && a->GetVoiceDebugStates(nullptr, 0) > 0)
                a->Render(kSoundDecodeHalfBytes / 4, nullptr);  // one half of stereo 16-bit frames
            else
                std::this_thread::yield();  // the reader is opening
        } while (SoundInstanceBase::First());
        bytes += SoundInstanceBase::DecodedBytes() - before;
    }
    engine.Stop();
    gSoundEngine = saved;
    clock.Uninstall();
    state.counters["bytes_per_s"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}

void BM_Streamed(benchmark::State& state) { PlayThroughEngine(state, SOUNDSTARTFLAG_STREAMED); }
void BM_Static(benchmark::State& state) { PlayThroughEngine(state, 0); }

BENCHMARK(BM_Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Streamed)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Static)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plain = reporter.Median("BM_Plain", "bytes_per_s");
    const double streamed = reporter.Median("BM_Streamed", "bytes_per_s");
    const double statics = reporter.Median("BM_Static", "bytes_per_s");
    std::printf("decoded PCM per pass: %llu bytes\n", static_cast<unsigned long long>(gPcmBytes));
    std::printf("plain vorbisfile: %.1f MB/s; streamed sound: %.1f MB/s; static sound: %.1f MB/s (medians)\n",
                plain / 1e6, streamed / 1e6, statics / 1e6);
    if (plain > 0) {
        benchsupport::PrintFigure("streamed / plain",
                                  reporter.Ratio("BM_Streamed", "bytes_per_s", "BM_Plain", "bytes_per_s"),
                                  "at least 0.9", 3);
        benchsupport::PrintFigure("static / plain", reporter.Ratio("BM_Static", "bytes_per_s", "BM_Plain", "bytes_per_s"),
                                  "at least 0.95", 3);
    }
    gResourceManager.Stop();
    gFileSystem.UnmountAll();
    std::filesystem::remove_all(gFolder);
    benchmark::Shutdown();
    return 0;
}
