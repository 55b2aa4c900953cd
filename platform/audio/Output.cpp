// The real-time outputs. The device output hands the mixer's quanta to the desktop's
// audio device (SDL2), whose own thread asks for them; a watcher notices when the device
// goes away and the output then goes on as the null output. The null output: a mixer
// thread that consumes one quantum (10 ms) of audio per quantum of wall-clock time, as a
// sound card would, so that buffers drain and sounds finish on a machine without audio
// hardware. Its schedule is frame-exact
// (deadline n = start + n quanta) on the real monotonic clock. When the thread wakes
// more than one quantum behind its schedule the card would have run dry: the
// glitch counter rises and the schedule restarts from now (the missed time is not
// mixed later, as on a device that played silence meanwhile).
//
// Optionally everything mixed is appended to a 16-bit PCM WAV file; its header sizes
// are written when the output stops.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/Engine_p.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

namespace audio {

namespace {

std::atomic<OutputDevice> gDevice{OutputDevice::kNull};
std::atomic<OutputNotice> gNotice{nullptr};
std::mutex gCaptureLock;
std::string gCapturePath;

}  // namespace

void SelectOutputDevice(OutputDevice device) { gDevice.store(device); }
OutputDevice SelectedOutputDevice() { return gDevice.load(); }

void SetDefaultCapturePath(const char* path) {
    std::lock_guard<std::mutex> hold(gCaptureLock);
    gCapturePath = path ? path : "";
}

void SetOutputNotice(OutputNotice notice) { gNotice.store(notice); }

}  // namespace audio

namespace audio::detail {

std::string DefaultCapturePath() {
    std::lock_guard<std::mutex> hold(gCaptureLock);
    return gCapturePath;
}

std::string CapturePathFor(const EngineOptions& options) {
    const char* capture = options.capturePath ? options.capturePath : std::getenv("AUDIO_CAPTURE_WAV");
    if (capture && capture[0]) return capture;
    return DefaultCapturePath();
}

void Notice(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (const OutputNotice notice = gNotice.load()) notice(line);
    else std::fprintf(stderr, "%s\n", line);
}

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

// A WAV file written as it grows: 16-bit PCM, sizes patched at Close.
class WavCapture {
public:
    bool Open(const char* path, uint32_t channels, uint32_t rate) {
        file = std::fopen(path, "wb");
        if (!file) return false;
        this->channels = channels;
        uint8_t h[44] = {};
        std::memcpy(h, "RIFF", 4);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        PutU32(h + 16, 16);
        PutU16(h + 20, kFormatPcm);
        PutU16(h + 22, channels);
        PutU32(h + 24, rate);
        PutU32(h + 28, rate * channels * 2);
        PutU16(h + 32, channels * 2);
        PutU16(h + 34, 16);
        std::memcpy(h + 36, "data", 4);
        std::fwrite(h, 1, sizeof h, file);
        return true;
    }

    void Append(const float* samples, uint32_t frames) {
        if (!file) return;
        pcm.resize(size_t(frames) * channels * 2);
        for (size_t i = 0; i < size_t(frames) * channels; ++i) {
            const float x = samples[i] * 32767.0f;
            const int32_t v = static_cast<int32_t>(x + (x >= 0.0f ? 0.5f : -0.5f));
            PutU16(&pcm[i * 2], static_cast<uint16_t>(static_cast<int16_t>(v)));
        }
        if (dataBytes + pcm.size() > 0xFFFFFFF0u - 36) return;  // a WAV file ends at 4 GiB
        dataBytes += static_cast<uint32_t>(std::fwrite(pcm.data(), 1, pcm.size(), file));
    }

    void Close() {
        if (!file) return;
        uint8_t v[4];
        PutU32(v, 36 + dataBytes);
        std::fseek(file, 4, SEEK_SET);
        std::fwrite(v, 1, 4, file);
        PutU32(v, dataBytes);
        std::fseek(file, 40, SEEK_SET);
        std::fwrite(v, 1, 4, file);
        std::fclose(file);
        file = nullptr;
    }

private:
    std::FILE* file = nullptr;
    uint32_t channels = 0;
    uint32_t dataBytes = 0;
    std::vector<uint8_t> pcm;
};

class RealtimeOutput {
public:
    explicit RealtimeOutput(EngineImpl* engine) : engine(engine) {}

    bool Start(const char* capturePath, uint32_t channels, uint32_t rate) {
        this->channels = channels;
        this->rate = rate;
        quantum = rate / 100 ? rate / 100 : 1;
        block.resize(size_t(quantum) * channels);
        position = quantum;
        if (capturePath && capturePath[0]) {
            capturing = capture.Open(capturePath, channels, rate);
            if (!capturing) Notice("Audio output: cannot write %s", capturePath);
        }
        if (SelectedOutputDevice() == OutputDevice::kDevice) OpenDevice();
        return thread.Start(&RealtimeOutput::Run, this, "AudioMixer");
    }

    void Stop() {
        stopping.store(true);
        wake.Set();
        thread.Join();
        CloseDevice();
        capture.Close();
    }

private:
    static void Run(void* self) { static_cast<RealtimeOutput*>(self)->Loop(); }

    // SDL keeps an error text per thread; threads it did not start must free theirs.
    struct FreeThreadState {
        ~FreeThreadState() { SDL_TLSCleanup(); }
    };

    static void QuitAudio() {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();  // the last user frees SDL's own state
    }

    bool OpenDevice() {
        FreeThreadState freeState;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            Notice("Audio output: no audio device (%s); nothing is heard", SDL_GetError());
            QuitAudio();
            return false;
        }
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(rate);
        want.format = AUDIO_F32SYS;
        want.channels = static_cast<uint8_t>(channels);
        uint32_t samples = 1;
        while (samples < quantum) samples <<= 1;
        want.samples = static_cast<uint16_t>(samples);
        want.callback = &RealtimeOutput::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts to whatever the device plays.
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!device) {
            Notice("Audio output: no audio device (%s); nothing is heard", SDL_GetError());
            QuitAudio();
            return false;
        }
        Notice("Audio output: %s device, %u Hz, %u channels", SDL_GetCurrentAudioDriver(), rate, channels);
        SDL_PauseAudioDevice(device, 0);
        return true;
    }

    void CloseDevice() {
        if (!device) return;
        FreeThreadState freeState;
        SDL_CloseAudioDevice(device);  // waits for the device's thread
        device = 0;
        QuitAudio();
    }

    static void SDLCALL Callback(void* self, Uint8* stream, int bytes) {
        auto* out = static_cast<RealtimeOutput*>(self);
        out->Fill(reinterpret_cast<float*>(stream), static_cast<uint32_t>(bytes) / (4 * out->channels));
    }

    // The device's thread: whole quanta from the mixer, handed out as the device asks.
    void Fill(float* out, uint32_t frames) {
        while (frames) {
            if (position == quantum) {
                {
                    EngineGuard guard(engine->lock);
                    engine->MixQuantum(quantum, block.data());
                }
                if (capturing) capture.Append(block.data(), quantum);
                position = 0;
            }
            const uint32_t n = std::min(frames, quantum - position);
            std::memcpy(out, block.data() + size_t(position) * channels, size_t(n) * channels * sizeof(float));
            out += size_t(n) * channels;
            position += n;
            frames -= n;
        }
    }

    void Loop() {
        if (device) {
            // The device mixes; this thread only watches it.
            while (!stopping.load() && SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_STOPPED) wake.Wait(20);
            if (stopping.load()) return;
            CloseDevice();
            engine->deviceLost.store(true);
            Notice("Audio output: the audio device was lost; sound goes on unheard");
        }
        int64_t origin = os::ReadRealCounter();
        uint64_t rendered = 0;  // frames since origin
        while (!stopping.load()) {
            const int64_t deadline =
                origin + static_cast<int64_t>(static_cast<unsigned __int128>(rendered) * os::kCounterFrequency / rate);
            int64_t now = os::ReadRealCounter();
            if (now < deadline) {
                const int64_t waitMs = (deadline - now + 9999) / 10000;
                wake.Wait(static_cast<uint32_t>(waitMs));
                continue;
            }
            if (const uint32_t stall = engine->stallMs.exchange(0)) {
                os::Sleep(stall);
                now = os::ReadRealCounter();
            }
            const int64_t quantumTicks = static_cast<int64_t>(quantum) * os::kCounterFrequency / rate;
            if (now - deadline > quantumTicks) {
                engine->glitches.fetch_add(1);
                origin = now;
                rendered = 0;
            }
            {
                EngineGuard guard(engine->lock);
                engine->MixQuantum(quantum, block.data());
            }
            if (capturing) capture.Append(block.data(), quantum);
            rendered += quantum;
        }
    }

    EngineImpl* engine;
    os::Thread thread;
    os::Event wake;
    std::atomic<bool> stopping{false};
    uint32_t channels = 0, rate = 0, quantum = 1;
    std::vector<float> block;
    uint32_t position = 0;  // frames of block handed to the device
    WavCapture capture;
    bool capturing = false;
    SDL_AudioDeviceID device = 0;
};

WavCapture* OpenManualCapture(const std::string& path, uint32_t channels, uint32_t rate) {
    if (path.empty()) return nullptr;
    auto* capture = new WavCapture;
    if (capture->Open(path.c_str(), channels, rate)) return capture;
    Notice("Audio output: cannot write %s", path.c_str());
    delete capture;
    return nullptr;
}

void AppendManualCapture(WavCapture* capture, const float* samples, uint32_t frames) {
    if (capture) capture->Append(samples, frames);
}

void CloseManualCapture(WavCapture** capture) {
    if (!*capture) return;
    (*capture)->Close();
    delete *capture;
    *capture = nullptr;
}

RealtimeOutput* StartRealtimeOutput(EngineImpl* engine, const char* capturePath) {
    auto* out = new RealtimeOutput(engine);
    if (!out->Start(capturePath, engine->master->channels, engine->master->sampleRate)) {
        out->Stop();
        delete out;
        return nullptr;
    }
    return out;
}

void EngineImpl::StopOutput() {
    assert(!lock.HeldByCaller());  // the mixer thread takes the lock every quantum: joining it under the lock would deadlock
    RealtimeOutput* out = nullptr;
    {
        EngineGuard guard(lock);
        out = output;
        output = nullptr;
        CloseManualCapture(&manualCapture);
    }
    if (!out) return;
    out->Stop();
    delete out;
}

}  // namespace audio::detail
