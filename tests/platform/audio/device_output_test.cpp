// test-timeout: 120
// The device output: the mixer's quanta reach SDL's disk audio driver (a file standing
// in for the sound card) with the right frequency and level, measured by numpy, and the
// default capture file holds the same samples as sox reads them; without a device the
// output falls back to the null output with one notice.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "AudioTestUtil.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "support/ShellCommand.h"

using namespace audio;

namespace {

std::mutex gNoticeLock;
std::vector<std::string> gNotices;

void KeepNotice(const char* line) {
    std::lock_guard<std::mutex> hold(gNoticeLock);
    gNotices.emplace_back(line);
}

std::vector<std::string> Notices() {
    std::lock_guard<std::mutex> hold(gNoticeLock);
    return gNotices;
}

class DeviceOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> hold(gNoticeLock);
            gNotices.clear();
        }
        SetOutputNotice(&KeepNotice);
        SelectOutputDevice(OutputDevice::kDevice);
        folder = std::filesystem::temp_directory_path() / ("device_output_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        SelectOutputDevice(OutputDevice::kNull);
        SetDefaultCapturePath(nullptr);
        SetOutputNotice(nullptr);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        std::filesystem::remove_all(folder);
    }

    // Plays one buffer on a real-time engine until it has drained (at most 20 s).
    static void Play(const std::vector<int16_t>& samples, uint32_t rate) {
        audiotest::ManualEngine e(EngineOptions{OutputKind::kRealtimeNull, 48000, 2});
        SourceVoice* v = e.Voice(audiotest::Pcm(1, rate));
        ASSERT_NE(v, nullptr);
        const AudioBuffer b = audiotest::Buffer(samples);
        ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
        ASSERT_EQ(v->Start(), kOk);
        const int64_t deadline = os::ReadRealCounter() + 20 * os::kCounterFrequency;
        VoiceState st;
        do {
            os::Sleep(20);
            v->GetState(&st);
        } while (st.buffersQueued > 0 && os::ReadRealCounter() < deadline);
        EXPECT_EQ(st.buffersQueued, 0u);
        // The buffer's last quantum may still be half handed out: two more quanta mixed
        // mean the device has taken all of it (at most 5 s, a slow machine's device).
        PerformanceData drained, now;
        e.engine->GetPerformanceData(&drained);
        const int64_t tail = os::ReadRealCounter() + 5 * os::kCounterFrequency;
        do {
            os::Sleep(10);
            e.engine->GetPerformanceData(&now);
        } while (now.framesRendered < drained.framesRendered + 2 * 480 && os::ReadRealCounter() < tail);
        EXPECT_GE(now.framesRendered, drained.framesRendered + 2 * 480);
    }

    std::filesystem::path folder;
};

TEST_F(DeviceOutputTest, ToneReachesTheDeviceAndTheCaptureFile) {
    if (!shelltest::Shell("/usr/bin/python3 -c 'import numpy'")) GTEST_SKIP() << "numpy (python3-numpy) is not installed";
    if (!shelltest::Shell("command -v sox")) GTEST_SKIP() << "sox is not installed";
    const std::string device = (folder / "device.f32").string();
    const std::string wav = (folder / "capture.wav").string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", device.c_str(), 1);
    SetDefaultCapturePath(wav.c_str());
    std::vector<int16_t> tone(48000);  // 1 s of 440 Hz at half of full scale
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(std::lround(16384.0 * std::sin(2 * M_PI * 440.0 * i / 48000.0)));
    Play(tone, 48000);

    const std::vector<std::string> notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "Audio output: disk device, 48000 Hz, 2 channels");

    // numpy (in Debian's interpreter, where python3-numpy installs it): the strongest
    // frequency and the RMS level of each channel where the tone plays.
    const std::string script =
        "import numpy as n,sys;d=n.fromfile('" + device + "',dtype='<f4').reshape(-1,2);"
        "i=n.nonzero(n.abs(d[:,0])>1e-4)[0];t=d[i[0]:i[-1]+1];"
        "f=n.fft.rfftfreq(len(t),1/48000.0)[n.argmax(n.abs(n.fft.rfft(t[:,0])))];"
        "print('%.1f %.4f %.4f %d'%(f,n.sqrt(n.mean(t[:,0]**2)),n.sqrt(n.mean(t[:,1]**2)),len(t)))";
    const std::string measured = shelltest::ShellOutput("/usr/bin/python3 -c \"" + script + "\"");
    double frequency = 0, left = 0, right = 0;
    int frames = 0;
    ASSERT_EQ(std::sscanf(measured.c_str(), "%lf %lf %lf %d", &frequency, &left, &right, &frames), 4) << measured;
    EXPECT_NEAR(frequency, 440.0, 2.0);
    EXPECT_NEAR(left, 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(right, 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(frames, 48000, 200);

    // sox reads the capture file with the device's samples (16-bit steps apart), from the
    // tone's first sample on: the device may have played silence before the capture began.
    const std::string raw = (folder / "capture.f32").string();
    ASSERT_TRUE(shelltest::Shell("sox " + wav + " -t raw -e floating-point -b 32 " + raw));
    const std::string compare =
        "import numpy as n;a=n.fromfile('" + device + "',dtype='<f4');b=n.fromfile('" + raw + "',dtype='<f4');"
        "a=a[n.nonzero(n.abs(a)>1e-4)[0][0]:];b=b[n.nonzero(n.abs(b)>1e-4)[0][0]:];"
        "m=min(len(a),len(b));print('%d %.6f'%(m,n.max(n.abs(a[:m]-b[:m]))))";
    const std::string compared = shelltest::ShellOutput("/usr/bin/python3 -c \"" + compare + "\"");
    int common = 0;
    double difference = 1.0;
    ASSERT_EQ(std::sscanf(compared.c_str(), "%d %lf", &common, &difference), 2) << compared;
    EXPECT_GE(common, 2 * 48000);
    EXPECT_LT(difference, 1.5 / 32768.0);
}

TEST_F(DeviceOutputTest, NoDeviceFallsBackToTheNullOutput) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    Play(std::vector<int16_t>(4800, 1000), 48000);  // still drains, at the null pace
    const std::vector<std::string> notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("Audio output: no audio device (", 0), 0u) << notices[0];
}

// A device that stops taking samples (the disk driver writing into /dev/full, as
// unplugged headphones would) is noticed: the output goes on at the null pace, so
// buffers still drain, and new voices are refused as on a lost device.
TEST_F(DeviceOutputTest, LostDeviceGoesOnUnheardAndRefusesNewVoices) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/full", 1);
    audiotest::ManualEngine e(EngineOptions{OutputKind::kRealtimeNull, 48000, 2});
    const int64_t deadline = os::ReadRealCounter() + 10 * os::kCounterFrequency;
    while (Notices().size() < 2 && os::ReadRealCounter() < deadline) os::Sleep(10);
    const std::vector<std::string> notices = Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], "Audio output: disk device, 48000 Hz, 2 channels");
    EXPECT_EQ(notices[1], "Audio output: the audio device was lost; sound goes on unheard");
    SourceVoice* v = nullptr;
    const WaveFormat f = audiotest::Pcm(1, 48000);
    EXPECT_EQ(e.engine->CreateSourceVoice(&v, &f), kErrorDeviceInvalidated);
    EXPECT_STREQ(e.engine->LastErrorText(), "CreateSourceVoice: the audio device was lost");
    PerformanceData before, after;
    e.engine->GetPerformanceData(&before);
    os::Sleep(100);
    e.engine->GetPerformanceData(&after);
    EXPECT_GT(after.framesRendered, before.framesRendered);  // still mixing, at the null pace
}

TEST_F(DeviceOutputTest, NullOutputNeverOpensADevice) {
    SelectOutputDevice(OutputDevice::kNull);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    const std::string device = (folder / "unused.f32").string();
    setenv("SDL_DISKAUDIOFILE", device.c_str(), 1);
    Play(std::vector<int16_t>(4800, 1000), 48000);
    EXPECT_TRUE(Notices().empty());
    EXPECT_FALSE(std::filesystem::exists(device));
}

}  // namespace
