#pragma once
// PostprocessManager (global gPostprocessManager, script class "PostprocessManager"): what
// scripts may ask of the post-processing chain. Today that is the blurred screen copy
// behind UI blur panels: by default the chain copies and blurs the screen again on every
// frame a panel draws; with refreshing switched off it copies only on the frames a script
// asks for and panels reuse the last copy in between.
//
// Threads: the setters are main-thread calls; the chain's render thread reads the state
// through TakeBlurRefresh once per frame, so the fields are atomics.
#include <atomic>
#include <cstdint>

class PostprocessManager {
public:
    // The next `frames` frames copy the screen again, whatever the refreshing switch says
    // (a later request replaces an earlier one's remaining count).
    void RequestBlurredImageRefresh(uint32_t frames);
    // On (the default) every frame copies; off only the requested ones.
    void EnableBlurredImageRefreshing(bool enable);
    bool IsBlurredImageRefreshing() const { return refreshing.load(std::memory_order_acquire); }

    // Render thread, once at the first blur of each frame: whether this frame copies the
    // screen again (a requested frame is used up here).
    bool TakeBlurRefresh();

private:
    std::atomic<bool> refreshing{true};
    std::atomic<uint32_t> requestedFrames{0};
};

extern PostprocessManager gPostprocessManager;
