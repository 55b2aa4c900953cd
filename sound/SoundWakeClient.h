#pragma once
// Something the sound thread serves on each of its wakes (every 30 ms while sounds play),
// whatever the other threads are doing: the video player keeps its voice fed this way,
// so a slow render frame never starves the voice. Registered and removed on the sound
// thread only (SoundEngine::AddWakeClient, RemoveWakeClient); the client outlives its
// registration.
class SoundWakeClient {
public:
    virtual void OnSoundWake() = 0;

protected:
    ~SoundWakeClient() = default;
};
