#pragma once
// Shared pieces of the sound tests: sound files made by real tools (sox, oggenc) in a
// scratch folder mounted as "sounds", the loader thread started on it, and a sound
// engine of the test's own (installed as gSoundEngine) that runs without its thread
// over the manual output and a ManualClock, so a test steps it wake by wake.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourceManager.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"

namespace soundtest {

using shelltest::Shell;
using shelltest::ShellOutput;

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<int16_t> ReadSamples(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    std::vector<int16_t> s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// sox's decoding of a file as signed 16-bit raw samples.
inline std::vector<int16_t> SoxDecode(const std::string& file) {
    const std::string raw = file + ".sox.raw";
    if (!Shell("sox '" + file + "' -t raw -e signed -b 16 -L '" + raw + "'")) return {};
    return ReadSamples(raw);
}

// ffmpeg's own Vorbis decoder.
inline std::vector<int16_t> FfmpegDecode(const std::string& file) {
    const std::string raw = file + ".ffmpeg.raw";
    if (!Shell("ffmpeg -y -v error -i '" + file + "' -f s16le -acodec pcm_s16le '" + raw + "'")) return {};
    return ReadSamples(raw);
}

// "rate,channels" as ffprobe reports the first audio stream.
inline std::string Probe(const std::string& file) {
    return ShellOutput("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels -of csv=p=0 '" +
                       file + "'");
}

// A sine tone: "sox -n" with the given format options, e.g. "-r 44100 -c 2 -b 16".
inline bool MakeTone(const std::string& path, const std::string& format, double seconds, int frequency = 440) {
    return Shell("sox -n " + format + " '" + path + "' synth " + std::to_string(seconds) + " sine " +
                 std::to_string(frequency) + " vol 0.5");
}

// An Ogg Vorbis file of a tone (through a WAV, encoded by oggenc).
inline bool MakeOgg(const std::string& path, uint32_t rate, uint32_t channels, double seconds, int frequency = 440) {
    const std::string wav = path + ".src.wav";
    return MakeTone(wav, "-r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16", seconds, frequency) &&
           Shell("oggenc -Q -o '" + path + "' '" + wav + "'");
}

inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 20.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The default parameter block with the given flags and passes (0: endless).
inline SoundParamWrapper Params(uint32_t flags = 0, uint32_t loops = 1) {
    SoundParamWrapper p;
    p.LoadDefaults();
    p.Flags = flags;
    p.LoopCount = loops;
    return p;
}

// A sound engine of the test's own, installed as gSoundEngine while this lives.
struct OwnSoundEngine {
    OwnSoundEngine() = default;
    OwnSoundEngine(const OwnSoundEngine&) = delete;
    SoundEngine* saved = gSoundEngine;
    SoundEngine* engine = gSoundEngine = new SoundEngine;
    ~OwnSoundEngine() {
        gSoundEngine = saved;
        delete engine;
    }
};

// A scratch "sounds" folder and the loader started on it.
struct SoundFolderFixture : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/sound_test_XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/sounds");
        gFileSystem.MountDirectory("sounds", (root + "/sounds").c_str());
        ASSERT_TRUE(gResourceManager.Start());
        if (gGameConfig) {
            savedVolumes[0] = gGameConfig->sfxVolume;
            savedVolumes[1] = gGameConfig->musicVolume;
            savedVolumes[2] = gGameConfig->voiceVolume;
            gGameConfig->sfxVolume = gGameConfig->musicVolume = gGameConfig->voiceVolume = 1.0f;
        }
    }
    void TearDown() override {
        gResourceManager.Stop();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
        if (gGameConfig) {
            gGameConfig->sfxVolume = savedVolumes[0];
            gGameConfig->musicVolume = savedVolumes[1];
            gGameConfig->voiceVolume = savedVolumes[2];
        }
    }
    std::string Sound(const std::string& name) const { return root + "/sounds/" + name; }

    std::string root;
    float savedVolumes[3] = {};
};

// The engine of one test, stepped on the test thread over the manual output.
struct InlineEngineFixture : SoundFolderFixture {
    static constexpr int64_t kWake = os::kCounterFrequency * 30 / 1000;  // 30 ms

    void SetUp() override {
        SoundFolderFixture::SetUp();
        clock.Install();
        saved = gSoundEngine;
        engine = new SoundEngine;
        gSoundEngine = engine;
        engine->SetRunWithoutThread(true);
    }
    void TearDown() override {
        if (started) engine->Stop();
        gSoundEngine = saved;
        delete engine;
        audio::SetEngineFault(audio::EngineFault::kNone);
        clock.Uninstall();
        SoundFolderFixture::TearDown();
    }
    // Initialises on the manual output at the given rate and channel count.
    void StartEngine(uint32_t rate = 48000, uint32_t outChannels = 2) {
        options = audio::EngineOptions{audio::OutputKind::kManual, rate, outChannels, nullptr};
        this->rate = rate;
        this->outChannels = outChannels;
        engine->SetEngineOptions(&options);
        engine->Start();
        started = true;
        engine->RunWake();
    }
    // One wake 30 ms later, then 30 ms of output (appended to captured when a voice
    // exists).
    void Step() {
        clock.Advance(kWake);
        engine->RunWake();
        audio::AudioEngine* a = engine->GetAudioEngine();
        if (!a || a->GetVoiceDebugStates(nullptr, 0) == 0) return;
        const uint32_t frames = rate * 30 / 1000;
        std::vector<float> out(size_t(frames) * outChannels);
        a->Render(frames, out.data());
        for (float f : out) captured.push_back(int16_t(std::lrint(f * 32768.0f > 32767.0f ? 32767.0f : f * 32768.0f)));
    }
    // Steps (once at least, so posted commands run) until no instance is left; false
    // after the time-out.
    bool RunUntilSilent(double seconds = 30.0) {
        Step();
        return WaitUntil([&] { return !SoundInstanceBase::First() || (Step(), false); }, seconds);
    }
    // Steps until a voice exists (or the time-out).
    bool RunUntilVoiced(double seconds = 20.0) {
        return WaitUntil([&] { return !VoiceStates().empty() || (Step(), false); }, seconds);
    }
    std::vector<audio::VoiceDebugState> VoiceStates() {
        std::vector<audio::VoiceDebugState> states(64);
        audio::AudioEngine* a = engine->GetAudioEngine();
        const uint32_t n = a ? a->GetVoiceDebugStates(states.data(), uint32_t(states.size())) : 0;
        states.resize(n < states.size() ? n : states.size());
        return states;
    }
    os::ManualClock clock{1'000'000'000};
    SoundEngine* engine = nullptr;
    SoundEngine* saved = nullptr;
    audio::EngineOptions options;
    uint32_t rate = 48000;
    uint32_t outChannels = 2;
    bool started = false;
    std::vector<int16_t> captured;
};

// Largest absolute difference of two sample runs over their common length.
inline int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

inline double RmsDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return n ? std::sqrt(sum / double(n)) : 1e9;
}

// A placement at (x, y, z).
inline Matrix At(float x, float y, float z) {
    Matrix m = Matrix::IDENTITY;
    m.r[3] = Vector(x, y, z, 1.0f);
    return m;
}

// An audio engine that forwards every call to the real one; a test derives from it and
// overrides the calls it watches. Release releases the real engine and deletes this.
struct ForwardingEngine : audio::AudioEngine {
    explicit ForwardingEngine(audio::AudioEngine* e) : inner(e) {}
    audio::Result Initialize(uint32_t f, uint32_t p) override { return inner->Initialize(f, p); }
    audio::Result CreateMasteringVoice(audio::MasteringVoice** v, uint32_t c, uint32_t r, uint32_t f, uint32_t d,
                                       const audio::EffectChain* e) override {
        return inner->CreateMasteringVoice(v, c, r, f, d, e);
    }
    audio::Result CreateSourceVoice(audio::SourceVoice** v, const audio::WaveFormat* f, uint32_t flags, float ratio,
                                    audio::VoiceCallback* c, const audio::SendList* s, const audio::EffectChain* e) override {
        return inner->CreateSourceVoice(v, f, flags, ratio, c, s, e);
    }
    audio::Result CommitChanges(uint32_t set) override { return inner->CommitChanges(set); }
    void GetPerformanceData(audio::PerformanceData* d) override { inner->GetPerformanceData(d); }
    uint32_t Release() override {
        inner->Release();
        delete this;
        return 0;
    }
    const char* LastErrorText() override { return inner->LastErrorText(); }
    uint32_t Render(uint32_t frames, float* out) override { return inner->Render(frames, out); }
    uint32_t RenderDue(float* out, uint32_t max) override { return inner->RenderDue(out, max); }
    uint32_t GetVoiceDebugStates(audio::VoiceDebugState* s, uint32_t max) override {
        return inner->GetVoiceDebugStates(s, max);
    }
    void InjectMixerStall(uint32_t ms) override { inner->InjectMixerStall(ms); }
    audio::AudioEngine* inner;
};

// The engine factory that wraps the real engine in an E.
template <class E>
audio::Result CreateForwardingEngine(audio::AudioEngine** engine, const audio::EngineOptions* options) {
    audio::AudioEngine* inner = nullptr;
    const audio::Result r = audio::CreateAudioEngine(&inner, options);
    *engine = r == audio::kOk ? new E(inner) : nullptr;
    return r;
}

}  // namespace soundtest
