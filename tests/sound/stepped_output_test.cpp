// test-sanitize: address
// The stepped output of a --step-time run: the sound's clock is the time the game hands
// over step by step, and the capture file holds exactly that time, each sound beginning at
// the step that started it, whatever the machine's speed and the loader's: the sound thread
// waits for a new sound's data before it mixes the step. Run as the program runs it: per
// step, the step's time first, then the step's plays; a second run gives the same file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SoundTestSupport.h"
#include "core/Time.h"

using namespace soundtest;

namespace {

const int64_t kStep = Time::FromFloatSeconds(1.0f / 15.0f).ticks;

struct Cue {
    int step;  // the sound starts in this step (1 = the first)
    const char* name;
    uint32_t flags;
};

struct SteppedOutput : InlineEngineFixture {
    // Plays the cues over `steps` steps of a stepped output at the rate; the capture
    // file's samples (interleaved, two channels).
    std::vector<int16_t> Play(const std::vector<Cue>& cues, int steps, uint32_t outputRate) {
        const std::string capture = root + "/capture" + std::to_string(++runs) + ".wav";
        options = audio::EngineOptions{audio::OutputKind::kRealtimeNull, outputRate, 2, capture.c_str()};
        engine->SetSteppedOutput(true);
        engine->SetEngineOptions(&options);
        engine->Start();
        engine->RunWake();
        for (int step = 1; step <= steps; ++step) {
            engine->AdvanceSteppedOutput(kStep);
            for (const Cue& c : cues) {
                if (c.step != step) continue;
                params = Params(c.flags);
                EXPECT_NE(engine->PlaySystemSound(c.name, &params), 0u);
            }
            // The loader and the clock do not wait for the sound thread: a real run's
            // main thread is on to its next frame.
            clock.Advance(kWake);
            engine->RunWake();
        }
        engine->Stop();
        const std::vector<uint8_t> bytes = ReadBytes(capture);
        EXPECT_GE(bytes.size(), 44u);
        std::vector<int16_t> samples(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
        if (!samples.empty()) std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
        return samples;
    }
    // The frame at which a step's time ends on the output's clock.
    static uint64_t FrameOfStep(int step, uint32_t outputRate) {
        return uint64_t(static_cast<unsigned __int128>(uint64_t(step) * uint64_t(kStep)) * outputRate /
                        os::kCounterFrequency);
    }
    // Whether a sound begins at the frame: silence for the kQuiet frames before it (the
    // cues stand far enough apart), sound at it.
    static bool BeginsAt(const std::vector<int16_t>& samples, uint64_t frame) {
        constexpr uint64_t kQuiet = 200;
        if (2 * frame + 1 >= samples.size() || samples[2 * frame] == 0) return false;
        for (uint64_t f = frame >= kQuiet ? frame - kQuiet : 0; f < frame; ++f)
            if (samples[2 * f] != 0 || samples[2 * f + 1] != 0) return false;
        return true;
    }
    // The first frame that is not silent.
    static uint64_t FirstSound(const std::vector<int16_t>& samples) {
        for (uint64_t f = 0; 2 * f < samples.size(); ++f)
            if (samples[2 * f] != 0) return f;
        return UINT64_MAX;
    }
    SoundParamWrapper params;
    int runs = 0;
};

}  // namespace

TEST_F(SteppedOutput, EachStepMixesItsTimeAndASoundStartsAtItsStepOnEveryRun) {
    // Noise: its first sample is not silent, so the onset is the sound's first frame.
    ASSERT_TRUE(Shell("sox -n -r 48000 -c 1 -b 16 '" + Sound("burst.wav") + "' synth 0.05 whitenoise vol 0.5"));
    ASSERT_TRUE(Shell("sox -n -r 48000 -c 1 -b 16 '" + Sound("long.wav") + "' synth 0.4 whitenoise vol 0.5") &&
                Shell("oggenc -Q -o '" + Sound("long.ogg") + "' '" + Sound("long.wav") + "'"));
    const struct {
        const char* what;
        std::vector<Cue> cues;
        int steps;
        uint32_t rate;
    } kCases[] = {
        {"a loaded sound at step 3", {{3, "burst.wav", 0}}, 10, 48000},
        {"a streamed file opening at step 2", {{2, "long.ogg", SOUNDSTARTFLAG_STREAMED}}, 12, 48000},
        {"sounds at steps 1 and 7", {{1, "burst.wav", 0}, {7, "burst.wav", 0}}, 9, 48000},
        // 44.1 kHz: a step is not a whole number of frames; no error adds up.
        {"another rate", {{5, "burst.wav", 0}}, 700, 44100},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::vector<int16_t> samples = Play(c.cues, c.steps, c.rate);
        EXPECT_EQ(samples.size() / 2, FrameOfStep(c.steps, c.rate)) << "the file holds the steps' time, no more";
        for (const Cue& cue : c.cues)
            EXPECT_TRUE(BeginsAt(samples, FrameOfStep(cue.step, c.rate))) << "the sound of step " << cue.step;
        EXPECT_EQ(FirstSound(samples), FrameOfStep(c.cues[0].step, c.rate)) << "silence before the first sound";
        // Again later, the real clock on: the same file, sample for sample.
        clock.Advance(os::kCounterFrequency * 5);
        EXPECT_EQ(Play(c.cues, c.steps, c.rate), samples);
    }
}
