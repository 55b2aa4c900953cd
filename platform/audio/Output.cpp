// The real-time null output: a mixer thread that consumes one quantum (10 ms) of
// audio per quantum of wall-clock time, as a sound card would, so that buffers drain
// and sounds finish on a machine without audio hardware. Its schedule is frame-exact
// (deadline n = start + n quanta) on the real monotonic clock. When the thread wakes
// more than one quantum behind its schedule the card would have run dry: the
// glitch counter rises and the schedule restarts from now (the missed time is not
// mixed later, as on a device that played silence meanwhile).
//
// Optionally everything mixed is appended to a 16-bit PCM WAV file; its header sizes
// are written when the output stops.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/audio/Engine_p.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

namespace audio::detail {

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

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

}  // namespace

class RealtimeOutput {
public:
    explicit RealtimeOutput(EngineImpl* engine) : engine(engine) {}

    bool Start(const char* capturePath, uint32_t channels, uint32_t rate) {
        this->channels = channels;
        this->rate = rate;
        quantum = rate / 100 ? rate / 100 : 1;
        block.resize(size_t(quantum) * channels);
        if (capturePath && capturePath[0]) capturing = capture.Open(capturePath, channels, rate);
        return thread.Start(&RealtimeOutput::Run, this, "AudioMixer");
    }

    void Stop() {
        stopping.store(true);
        wake.Set();
        thread.Join();
        capture.Close();
    }

private:
    static void Run(void* self) { static_cast<RealtimeOutput*>(self)->Loop(); }

    void Loop() {
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
    WavCapture capture;
    bool capturing = false;
};

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
    }
    if (!out) return;
    out->Stop();
    delete out;
}

}  // namespace audio::detail
