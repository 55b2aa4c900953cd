#pragma once
// The video tests that need the renderer: the shader fixture (renderer, loader, shader
// data) with the "videos" mount, a ManualClock, and a driver that posts the update op
// and, on the render thread, copies every newly uploaded frame's planes out.
#include <array>
#include <functional>

#include "../../render/shaders/ShaderTestSupport.h"
#include "VideoTestSupport.h"
#include "render/DeviceObjectHandle.h"

namespace videotest {

using rendertest::RunOnRenderThread;

// One delivered frame: the Y, U and V planes as read back from the textures.
struct Frame {
    std::array<std::vector<uint8_t>, 3> planes;
    std::array<uint32_t, 3> width{}, height{};
};

template <class Base>
struct VideoRenderFixtureOf : Base {
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        if (!gShaderManager->IsLoaded()) {
            ASSERT_TRUE(gShaderManager->LoadDefinitions());
        }
        gVideoEngine->Init();
        clock.Install();
    }
    void TearDown() override {
        if (gVideoEngine) gVideoEngine->Close();
        clock.Uninstall();
        folder.Remove();
        Base::TearDown();
    }
    void Mount(const std::vector<std::string>& clips) { folder.Mount(clips); }
    // Every captured log line (for failure messages).
    std::string LogText() {
        std::string out;
        for (const auto& m : this->log.Messages()) out += m.text + "\n";
        return out;
    }

    // Plays the clip and updates without moving the clock until its headers are parsed.
    bool Start(const std::string& clip, bool loop = false) {
        gVideoEngine->Play(clip.c_str(), nullptr, true, loop, 1.0f);
        seen = 0;
        frames.clear();
        return rendertest::WaitUntil([&] {
            Update();
            bool parsed = false;
            RunOnRenderThread([&] { parsed = !CurrentPlayer() || CurrentPlayer()->HeadersParsed(); });
            return parsed;
        });
    }
    // One update op; a newly uploaded frame is copied into frames.
    void Update() {
        gVideoEngine->UpdateFrame();
        RunOnRenderThread([&] {
            VideoPlayer* p = CurrentPlayer();
            if (!p || !gVideoEngine->HasFrame() || p->LastFrameCounter() == seen) return;
            seen = p->LastFrameCounter();
            Frame f;
            for (uint32_t i = 0; i < 3; ++i) {
                gfx::Texture* t = gVideoEngine->Plane(i)->Texture2D();
                gfx::SurfaceDesc desc{};
                t->GetLevelDesc(0, &desc);
                f.width[i] = desc.width, f.height[i] = desc.height;
                gfx::Surface* s = nullptr;
                t->GetSurfaceLevel(0, &s);
                this->recorder->ReadSurface(s, &f.planes[i]);
                s->Release();
            }
            frames.push_back(std::move(f));
        });
    }
    // Steps the clock a frame period at a time until the video ends (at most maxSteps).
    void PlayToEnd(double fps, uint32_t maxSteps) {
        for (uint32_t i = 0; i < maxSteps && gVideoEngine->IsPlaying(); ++i) {
            clock.AdvanceSeconds(1.0 / fps);
            Update();
        }
    }

    VideoFolder folder;
    os::ManualClock clock;
    uint32_t seen = 0;
    std::vector<Frame> frames;
};

}  // namespace videotest
