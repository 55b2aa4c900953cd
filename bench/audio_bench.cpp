// Mixer cost: 64 and 256 looping voices (half mono 22.05 kHz, half stereo 44.1 kHz,
// each at its own frequency ratio, so every voice resamples) positioned in 3-D and
// moving, mixed to 48 kHz stereo. Every 30 ms the positions move on, as the sound
// thread would do: our side runs the panner per voice, sets matrix and Doppler-scaled
// ratio in operation set 1 and commits; the OpenAL Soft side (loaded at run time,
// rendering through its loopback device) sets position, velocity and pitch.
//
// Each benchmark iteration mixes one second of audio on the calling thread, so the
// time per iteration is the cost as a fraction of one core in real time. A summary
// with both fractions and their ratio is printed at exit: with
// --benchmark_repetitions, the medians of the repetitions' fractions and of their ratios.
#include <benchmark/benchmark.h>

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

#include "bench/RateReporter.h"
#include "platform/audio/AudioEngine.h"
#include "platform/audio/Panner3D.h"
#include "platform/os/SharedLibrary.h"

namespace {

constexpr uint32_t kOutRate = 48000;
constexpr uint32_t kQuantum = 480;
constexpr uint32_t kUpdateFrames = 1440;  // 30 ms

std::vector<int16_t> Tone(uint32_t channels, uint32_t rate, double freq) {
    std::vector<int16_t> s(size_t(rate) * channels);
    for (uint32_t i = 0; i < rate; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            s[i * channels + c] = int16_t(8000.0 * std::sin(2.0 * M_PI * freq * (c + 1) * i / rate));
    return s;
}

// Voice i circles the listener at its own radius and speed.
struct Motion {
    float radius, speed, phase, pitch;
    audio::Vec3 Position(float t) const {
        const float a = phase + speed * t;
        return {radius * std::cos(a), 0.5f, radius * std::sin(a)};
    }
    audio::Vec3 Velocity(float t) const {
        const float a = phase + speed * t;
        return {-radius * speed * std::sin(a), 0.0f, radius * speed * std::cos(a)};
    }
};

std::vector<Motion> Motions(int n) {
    std::vector<Motion> m(n);
    for (int i = 0; i < n; ++i)
        m[i] = {2.0f + float(i % 17), 0.3f + 0.05f * float(i % 7), 0.1f * float(i), 0.8f + 0.4f * float(i % 11) / 10.0f};
    return m;
}

// Mixes one second per iteration: update(t) every 30 ms, render(out) every quantum.
// Reports the cost per second of audio as the counter "core_fraction".
template <class Update, class Render>
void MixSeconds(benchmark::State& state, Update update, Render render) {
    std::vector<float> out(size_t(kQuantum) * 2);
    float t = 0.0f;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (uint32_t frame = 0; frame < kOutRate; frame += kQuantum) {
            if (frame % kUpdateFrames == 0) {
                t += 0.03f;
                update(t);
            }
            render(out.data());
        }
        benchmark::DoNotOptimize(out.data());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double perSecond = seconds / double(state.iterations());
    state.counters["core_fraction"] = perSecond;
}

void BM_OurMixer(benchmark::State& state) {
    const int n = int(state.range(0));
    audio::EngineOptions o;
    o.output = audio::OutputKind::kManual;
    audio::AudioEngine* engine = nullptr;
    audio::MasteringVoice* master = nullptr;
    if (audio::CreateAudioEngine(&engine, &o) != audio::kOk || engine->Initialize() != audio::kOk ||
        engine->CreateMasteringVoice(&master) != audio::kOk) {
        state.SkipWithError("engine");
        return;
    }
    const auto mono = Tone(1, 22050, 330.0), stereo = Tone(2, 44100, 220.0);
    const auto motions = Motions(n);
    std::vector<audio::SourceVoice*> voices(n);
    for (int i = 0; i < n; ++i) {
        const bool st = i & 1;
        const audio::WaveFormat f = {audio::kFormatPcm, uint16_t(st ? 2 : 1), st ? 44100u : 22050u,
                                     st ? 176400u : 44100u, uint16_t(st ? 4 : 2), 16, 0};
        engine->CreateSourceVoice(&voices[i], &f);
        audio::AudioBuffer b;
        b.audioData = reinterpret_cast<const uint8_t*>(st ? stereo.data() : mono.data());
        b.audioBytes = uint32_t((st ? stereo.size() : mono.size()) * 2);
        b.loopCount = audio::kLoopInfinite;
        voices[i]->SubmitSourceBuffer(&b);
        voices[i]->Start();
    }
    audio::PannerHandle panner;
    audio::PannerInitialize(audio::kSpeakerStereo, audio::kSpeedOfSound, panner);
    audio::Listener listener = {{0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}, nullptr};
    const float azimuths[2] = {1.5707964f, 4.712389f};
    MixSeconds(
        state,
        [&](float t) {
            for (int i = 0; i < n; ++i) {
                const bool st = i & 1;
                audio::Emitter e = {};
                e.orientFront = {0, 0, 1};
                e.orientTop = {0, 1, 0};
                e.position = motions[i].Position(t);
                e.velocity = motions[i].Velocity(t);
                e.channelCount = st ? 2 : 1;
                e.channelRadius = st ? 1.0f : 0.0f;
                e.channelAzimuths = azimuths;
                e.curveDistanceScaler = 3.0f;
                e.dopplerScaler = 1.0f;
                float m[audio::kPannerMatrixCapacity];
                audio::DspSettings dsp = {};
                dsp.matrixCoefficients = m;
                dsp.srcChannelCount = e.channelCount;
                dsp.dstChannelCount = 2;
                audio::PannerCalculate(panner, &listener, &e, audio::kCalculateMatrix | audio::kCalculateDoppler, &dsp);
                for (uint32_t k = 0; k < e.channelCount * 2; ++k) m[k] = std::min(2.0f * m[k], 1.0f);
                voices[i]->SetOutputMatrix(nullptr, e.channelCount, 2, m, 1);
                voices[i]->SetFrequencyRatio(std::min(motions[i].pitch * dsp.dopplerFactor, 2.0f), 1);
            }
            engine->CommitChanges(1);
        },
        [&](float* out) { engine->Render(kQuantum, out); });
    engine->Release();
}

// OpenAL Soft entry points, loaded from the shared library.
struct OpenAl {
    void* lib = nullptr;
    LPALCGETPROCADDRESS alcGetProcAddress = nullptr;
    LPALCLOOPBACKOPENDEVICESOFT alcLoopbackOpenDevice = nullptr;
    LPALCRENDERSAMPLESSOFT alcRenderSamples = nullptr;
    LPALCCREATECONTEXT alcCreateContext = nullptr;
    LPALCMAKECONTEXTCURRENT alcMakeContextCurrent = nullptr;
    LPALCDESTROYCONTEXT alcDestroyContext = nullptr;
    LPALCCLOSEDEVICE alcCloseDevice = nullptr;
    LPALGENBUFFERS alGenBuffers = nullptr;
    LPALBUFFERDATA alBufferData = nullptr;
    LPALGENSOURCES alGenSources = nullptr;
    LPALDELETESOURCES alDeleteSources = nullptr;
    LPALDELETEBUFFERS alDeleteBuffers = nullptr;
    LPALSOURCEI alSourcei = nullptr;
    LPALSOURCEF alSourcef = nullptr;
    LPALSOURCE3F alSource3f = nullptr;
    LPALSOURCEPLAY alSourcePlay = nullptr;
    LPALGETINTEGER alGetInteger = nullptr;
    LPALGETSTRINGISOFT alGetStringi = nullptr;

    template <typename F>
    bool Load(F& f, const char* name) {
        f = reinterpret_cast<F>(os::FindSharedSymbol(lib, name));
        return f != nullptr;
    }

    bool Open() {
        lib = os::OpenSharedLibrary("libopenal.so.1");
        if (!lib) return false;
        bool ok = Load(alcGetProcAddress, "alcGetProcAddress") && Load(alcCreateContext, "alcCreateContext") &&
                  Load(alcMakeContextCurrent, "alcMakeContextCurrent") && Load(alcDestroyContext, "alcDestroyContext") &&
                  Load(alcCloseDevice, "alcCloseDevice") && Load(alGenBuffers, "alGenBuffers") &&
                  Load(alBufferData, "alBufferData") && Load(alGenSources, "alGenSources") &&
                  Load(alDeleteSources, "alDeleteSources") && Load(alDeleteBuffers, "alDeleteBuffers") &&
                  Load(alSourcei, "alSourcei") && Load(alSourcef, "alSourcef") && Load(alSource3f, "alSource3f") &&
                  Load(alSourcePlay, "alSourcePlay") && Load(alGetInteger, "alGetInteger");
        if (!ok) return false;
        alcLoopbackOpenDevice = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
            alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
        alcRenderSamples = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
        alGetStringi = reinterpret_cast<LPALGETSTRINGISOFT>(alcGetProcAddress(nullptr, "alGetStringiSOFT"));
        return alcLoopbackOpenDevice && alcRenderSamples;
    }
};

void BM_OpenAlSoft(benchmark::State& state) {
    static OpenAl al;
    static const bool opened = al.Open();
    if (!opened) {
        state.SkipWithError("libopenal.so.1 with ALC_SOFT_loopback not available");
        return;
    }
    const int n = int(state.range(0));
    ALCdevice* device = al.alcLoopbackOpenDevice(nullptr);
    const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                            ALC_FREQUENCY, ALCint(kOutRate), ALC_MONO_SOURCES, 512, ALC_STEREO_SOURCES, 512, 0};
    ALCcontext* context = device ? al.alcCreateContext(device, attrs) : nullptr;
    if (!context) {
        state.SkipWithError("loopback device");
        if (device) al.alcCloseDevice(device);
        return;
    }
    al.alcMakeContextCurrent(context);

    // The same linear interpolation as ours, when the library offers a choice.
    ALint linear = -1;
    if (al.alGetStringi) {
        const ALint count = al.alGetInteger(AL_NUM_RESAMPLERS_SOFT);
        for (ALint r = 0; r < count; ++r) {
            const char* name = al.alGetStringi(AL_RESAMPLER_NAME_SOFT, r);
            if (name && std::string_view(name).find("inear") != std::string_view::npos) linear = r;
        }
    }

    const auto mono = Tone(1, 22050, 330.0), stereo = Tone(2, 44100, 220.0);
    ALuint buffers[2];
    al.alGenBuffers(2, buffers);
    al.alBufferData(buffers[0], AL_FORMAT_MONO16, mono.data(), ALsizei(mono.size() * 2), 22050);
    al.alBufferData(buffers[1], AL_FORMAT_STEREO16, stereo.data(), ALsizei(stereo.size() * 2), 44100);
    const auto motions = Motions(n);
    std::vector<ALuint> sources(n);
    al.alGenSources(n, sources.data());
    for (int i = 0; i < n; ++i) {
        al.alSourcei(sources[i], AL_BUFFER, ALint(buffers[i & 1]));
        al.alSourcei(sources[i], AL_LOOPING, AL_TRUE);
        al.alSourcef(sources[i], AL_REFERENCE_DISTANCE, 3.0f);
        if (linear >= 0) al.alSourcei(sources[i], AL_SOURCE_RESAMPLER_SOFT, linear);
        al.alSourcePlay(sources[i]);
    }
    MixSeconds(
        state,
        [&](float t) {
            for (int i = 0; i < n; ++i) {
                const audio::Vec3 p = motions[i].Position(t), v = motions[i].Velocity(t);
                al.alSource3f(sources[i], AL_POSITION, p.x, p.y, -p.z);  // OpenAL is right-handed
                al.alSource3f(sources[i], AL_VELOCITY, v.x, v.y, -v.z);
                al.alSourcef(sources[i], AL_PITCH, motions[i].pitch);
            }
        },
        [&](float* out) { al.alcRenderSamples(device, out, ALCsizei(kQuantum)); });

    al.alDeleteSources(n, sources.data());
    al.alDeleteBuffers(2, buffers);
    al.alcMakeContextCurrent(nullptr);
    al.alcDestroyContext(context);
    al.alcCloseDevice(device);
}

BENCHMARK(BM_OurMixer)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenAlSoft)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nMixing cost as a fraction of one core in real time (48 kHz stereo), medians:\n");
    for (const char* voices : {"64", "256"}) {
        const std::string ours = std::string("BM_OurMixer/") + voices, openal = std::string("BM_OpenAlSoft/") + voices;
        if (reporter.Values(ours, "core_fraction").empty()) continue;
        std::printf("%s voices: ours %.3f %%, OpenAL Soft %.3f %%\n", voices,
                    100 * reporter.Median(ours, "core_fraction"), 100 * reporter.Median(openal, "core_fraction"));
        benchsupport::PrintFigure((std::string(voices) + " voices: ours / OpenAL Soft, cost").c_str(),
                                  reporter.Ratio(ours, "core_fraction", openal, "core_fraction"), nullptr, 3);
    }
    benchmark::Shutdown();
    return 0;
}
