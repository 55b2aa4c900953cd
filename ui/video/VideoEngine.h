#pragma once
// VideoEngine (global gVideoEngine): plays one Ogg Theora video at a time, full screen or
// inside a UIVideo element, with its Vorbis sound through a voice of the sound thread.
//
// Threads:
//  - Main thread: Init, Close, Play, Stop, IsPlaying, IsFullScreen, UpdateFrame and
//    DrawFrame. They only post video ops to the render thread (UIOpStream.h); with the
//    renderer stopped an op runs at once on the calling thread.
//  - Render thread: the ops, HasFrame and the planes (the UIVideo draw).
// The counts are atomics: the render thread counts finished players, the main thread
// counts plays, and IsPlaying compares them.
#include <atomic>
#include <cstdint>

#include "render/shaders/ShaderManager.h"

class DeviceObjectHandle;
class UIOpReader;
class UIElement;
class VideoPlayer;

// Video ops (the video family of the element op stream; the target is the engine).
enum VideoOp : uint32_t { VIDEOOP_PLAY = 0, VIDEOOP_STOP = 1, VIDEOOP_DRAW = 2, VIDEOOP_UPDATE = 3 };

class VideoEngine {
public:
    static constexpr uint32_t kPlaneCount = 3;  // Y, U, V
    // Sampler flags of the planes (SAMPLER_CLAMP_U | SAMPLER_CLAMP_V): bilinear, clamped.
    static constexpr uint32_t kPlaneSamplerFlags = 6;

    VideoEngine() = default;
    VideoEngine(const VideoEngine&) = delete;
    VideoEngine& operator=(const VideoEngine&) = delete;

    // ======== Main thread ========
    // The "Video" shader pair.
    void Init();
    // Stops the player (op 1, waited for while the renderer runs), then drops the shaders.
    void Close();
    // directory null: "videos". flag: play full screen (kept for IsFullScreen).
    void Play(const char* name, const char* directory, bool flag, bool loop, float volume);
    void Stop();
    bool IsPlaying() const {
        return finishedCount.load(std::memory_order_acquire) < playCount.load(std::memory_order_acquire);
    }
    bool IsFullScreen() const { return playFlag != 0; }
    void UpdateFrame();
    void DrawFrame();
    uint32_t FinishedCount() const { return finishedCount.load(std::memory_order_acquire); }
    uint32_t PlayCount() const { return playCount.load(std::memory_order_acquire); }

    // ======== Render thread ========
    // A player exists and its current frame has been uploaded.
    bool HasFrame() const { return player && frameReady.load(std::memory_order_acquire) != 0; }
    DeviceObjectHandle* Plane(uint32_t i) const { return i < kPlaneCount ? planes[i] : nullptr; }
    const ShaderPair& Shaders() const { return shaders; }
    VideoPlayer* Player() const { return player; }
    // The family's handler.
    static void HandleOp(uint32_t op, UIElement* target, UIOpReader& payload);

private:
    void RenderPlay(UIOpReader& payload);
    void RenderStop();
    void RenderUpdate();
    void RenderDraw();
    void ReleaseTextures();
    void EndPlayer();
    bool UploadFrame();
    void Post(uint32_t op, const void* payload = nullptr, uint32_t bytes = 0);

    VideoPlayer* player = nullptr;
    DeviceObjectHandle* planes[kPlaneCount] = {};
    std::atomic<uint8_t> frameReady{0};
    [[maybe_unused]] uint32_t textureSetIndex = 0;  // one texture set: always the first
    std::atomic<uint32_t> finishedCount{0};
    std::atomic<uint32_t> playCount{0};
    uint8_t playFlag = 0;
    ShaderPair shaders;
};

extern VideoEngine* gVideoEngine;
