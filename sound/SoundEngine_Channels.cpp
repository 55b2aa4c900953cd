// Channels, fades and levels: sixteen channels each scale the volume and the frequency
// ratio of their instances, one master volume (faded out when the application loses
// focus) and three class volumes scale every volume. All of them change through
// FloatFades timed on the replaceable clock. A fade started by a command starts at the
// time of the last audio update (at most about 30 ms back), so every fade of one pass
// shares one time base; each update advances them all to its own time.
//
// Threads: sound thread.
#include "core/Log.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"

void SoundEngine::AdvanceFades(int64_t now) {
    masterFade.Update(now);
    masterVolume = masterFade.current;
    for (SoundChannel& c : channels) {
        c.volumeFade.Update(now);
        c.currentVolume = c.volumeFade.current;
        c.frequencyRatioFade.Update(now);
        c.currentFrequencyRatio = c.frequencyRatioFade.current;
    }
}

void SoundEngine::FadeChannels(uint32_t channel, float target, float seconds, uint32_t curve, bool frequencyRatio) {
    for (uint32_t c = 0; c < kSoundChannelCount; ++c) {
        if (channel != kSoundAllChannels && channel != c) continue;
        FloatFade& fade = frequencyRatio ? channels[c].frequencyRatioFade : channels[c].volumeFade;
        fade.Start(lastUpdateTime, target, seconds, curve);
    }
}

void SoundInstanceBase::ApplyLevels() {
    const SoundEngine& engine = *gSoundEngine;
    const int64_t now = engine.LastUpdateTime();
    const SoundChannel& channel = engine.Channel(params.Channel);
    volumeFade.Update(now);
    const float volume = volumeFade.current * channel.currentVolume * engine.ClassVolume(params.Class) * engine.MasterVolume();
    if (volume != lastVolume && SetVoiceVolume(volume)) lastVolume = volume;
    if (!voice) return;
    frequencyRatioFade.Update(now);
    float ratio = frequencyRatioFade.current * dopplerFactor * channel.currentFrequencyRatio;
    // The voice refuses a ratio outside [1/1024, its maximum] and would keep its old
    // pitch. (A NaN is refused: the voice and the stored value keep the old pitch.)
    if (ratio < audio::kMinFrequencyRatio) ratio = audio::kMinFrequencyRatio;
    if (ratio > kSoundMaxFrequencyRatio) ratio = kSoundMaxFrequencyRatio;
    if (ratio != lastFrequencyRatio && voice->SetFrequencyRatio(ratio, kSoundOperationSet) == audio::kOk)
        lastFrequencyRatio = ratio;
}
