// One audio update of the sound thread (the 30 ms pass, run by a wake of an engine
// stepped on this thread with a ManualClock; no mixing) with 256 endless positional
// entity sounds, in one run:
//   placeholders  230 of them beyond range (placeholders without voices), 26 voiced;
//   voiced        all 256 within range, each with its voice.
// Both costs and their ratio are printed at the end (goal: the placeholder-heavy update
// costs at most a quarter of the all-voiced one).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/RateReporter.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourceManager.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kSounds = 256;
constexpr int64_t kWake = os::kCounterFrequency * 30 / 1000;
std::string gFolder;

bool StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        char pattern[] = "/tmp/sound_placeholder_bench_XXXXXX";
        if (!mkdtemp(pattern)) return false;
        gFolder = pattern;
        const std::string make = "sox -n -r 22050 -c 1 -b 16 '" + gFolder + "/hum.wav' synth 2 sine 330 vol 0.5";
        if (std::system(make.c_str()) != 0) return false;
        gFileSystem.MountDirectory("sounds", gFolder.c_str());
        if (gGameConfig) gGameConfig->sfxVolume = gGameConfig->musicVolume = gGameConfig->voiceVolume = 1.0f;
        return gResourceManager.Start();
    }();
    return started;
}

// An engine of its own with `far` of the sounds beyond range, stepped until every near
// sound has its voice and every far one is a placeholder.
struct Scene {
    explicit Scene(int far) {
        clock.Install();
        saved = gSoundEngine;
        engineOwned = new SoundEngine;  // after the clock: its update time is the clock's
        gSoundEngine = engineOwned;
        SoundEngine& engine = *engineOwned;
        engine.SetRunWithoutThread(true);
        options = audio::EngineOptions{audio::OutputKind::kManual, 22050, 2, nullptr};
        engine.SetEngineOptions(&options);
        engine.Start();
        engine.RunWake();
        SoundParamWrapper p;
        p.LoadDefaults();
        p.LoopCount = 0;
        p.FullVolumeRange = 10.0f;
        p.ZeroVolumeRange = 15.0f;
        for (int i = 0; i < kSounds; ++i) {
            Matrix m = Matrix::IDENTITY;
            const bool beyond = i < far;
            m.r[3] = Vector(float(i % 16), 0.0f, beyond ? 500.0f : float(i / 16), 1.0f);
            emitters.push_back(new EntitySoundEmitter(m));
            emitters.back()->StartSound("hum.wav", &p);
        }
        uint32_t voiced = 0, placeholders = 0;
        for (int tries = 0; tries < 20000; ++tries) {
            Update();
            voiced = placeholders = 0;
            for (const SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next()) {
                if (i->IsZombie()) ++placeholders;
                else if (i->Voice()) ++voiced;
            }
            if (placeholders == uint32_t(far) && voiced == uint32_t(kSounds - far)) {
                ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!ready) std::fprintf(stderr, "settled: %u voiced, %u placeholders, %u instances\n", voiced, placeholders, SoundInstanceBase::Count());
    }
    ~Scene() {
        for (EntitySoundEmitter* e : emitters) e->PostRelease();
        engineOwned->Stop();
        gSoundEngine = saved;
        delete engineOwned;
        clock.Uninstall();
    }
    void Update() {
        clock.Advance(kWake);
        engineOwned->RunWake();
    }

    os::ManualClock clock{1'000'000'000};
    SoundEngine* engineOwned = nullptr;
    SoundEngine* saved = nullptr;
    audio::EngineOptions options;
    std::vector<EntitySoundEmitter*> emitters;
    bool ready = false;
};

void Run(benchmark::State& state, int far) {
    if (!StartOnce()) {
        state.SkipWithError("no sound folder");
        return;
    }
    Scene scene(far);
    if (!scene.ready) {
        state.SkipWithError("the sounds did not settle");
        return;
    }
    for (auto _ : state) scene.Update();
    state.counters["updates_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Placeholders(benchmark::State& state) { Run(state, 230); }
void BM_Voiced(benchmark::State& state) { Run(state, 0); }

BENCHMARK(BM_Placeholders)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Voiced)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double placeholders = reporter.Median("BM_Placeholders", "updates_per_s");
    const double voiced = reporter.Median("BM_Voiced", "updates_per_s");
    if (placeholders > 0 && voiced > 0) {
        std::printf("update with 230 placeholders: %.2f us; all 256 voiced: %.2f us (medians)\n", 1e6 / placeholders,
                    1e6 / voiced);
        benchsupport::PrintFigure("placeholders / voiced, time",
                                  reporter.Ratio("BM_Voiced", "updates_per_s", "BM_Placeholders", "updates_per_s"),
                                  "at most 0.25", 3);
    }
    gResourceManager.Stop();
    gFileSystem.UnmountAll();
    std::filesystem::remove_all(gFolder);
    benchmark::Shutdown();
    return 0;
}
