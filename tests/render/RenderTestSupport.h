#pragma once
// Shared fixture of the renderer tests: a headless window, the renderer started on it
// with a strict, fully recording device, hooks cleared, and helpers that run code on the
// render thread (through a task-47 record) and wait with a time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/window/Window.h"
#include "render/GameRenderServices.h"
#include "render/SceneDrawServices.h"
#include "render/UIDrawServices.h"
#include "render/VornexRenderer.h"

namespace rendertest {

// Posts a task-47 record that runs *f when the render thread reaches it.
// The renderer's seams to the libraries above it back at their defaults (no scene content,
// UI or Game), as a renderer test starts and ends.
inline void ResetRenderSeams() {
    SetSceneDrawServices(nullptr);
    SetUIDrawServices(nullptr);
    SetGameRenderServices(nullptr);
}

inline void PostCall(const std::function<void()>* f) {
    RenderCallFunction call = [](uint32_t, CommandRingBuffer& r) {
        const std::function<void()>* target = nullptr;
        if (r.ReadValue(target)) (*target)();
    };
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t) + sizeof f));
    gVornexRenderer.Ring().WriteValue(call);
    gVornexRenderer.Ring().WriteValue(uintptr_t(0));
    gVornexRenderer.Ring().WriteValue(f);
}

// Runs f on the render thread and returns once it ran.
inline void RunOnRenderThread(const std::function<void()>& f) {
    PostCall(&f);
    gVornexRenderer.FlushCommands(true);
}

// Polls until the condition holds; false after the time-out.
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 10.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

using shelltest::Shell;
using shelltest::ShellOutput;

// The numbers in a text.
inline std::vector<double> Numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> out;
    for (double v; in >> v;) out.push_back(v);
    return out;
}

// The output of a reference script under tests/render, or empty when python3 is missing.
inline std::string RunReference(const std::string& arguments) {
    return ShellOutput("python3 " PROJECT_SOURCE_ROOT "/tests/render/render_reference.py " + arguments);
}

// After Stop: the kept device (its recorder) holds what a fresh device of the same
// factory holds, kind by kind.
inline void ExpectHoldsWhatAFreshDeviceHolds(gfx::Recorder* kept) {
    using namespace gfx;
    std::vector<uint32_t> after;
    for (uint32_t k = 0; k < uint32_t(ObjectKind::Count); ++k) after.push_back(kept->LiveObjects(ObjectKind(k)));
    DeviceFactory* factory = CreateDeviceFactory(SDK_VERSION);
    PresentParameters p{};
    p.backBufferWidth = 64, p.backBufferHeight = 64, p.backBufferCount = 1, p.windowed = 1;
    p.swapEffect = SWAPEFFECT_DISCARD, p.backBufferFormat = FMT_X8R8G8B8;
    Device* fresh = nullptr;
    ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &p, &fresh), OK);
    for (uint32_t k = 0; k < uint32_t(ObjectKind::Count); ++k)
        EXPECT_EQ(after[k], GetRecorder(fresh)->LiveObjects(ObjectKind(k))) << "kind " << k;
    fresh->Release();
    factory->Release();
}

struct RendererFixture : ::testing::Test {
    static constexpr int32_t kClientWidth = 256;
    static constexpr int32_t kClientHeight = 144;

    // Before Start: settings and faults a test wants.
    virtual void Configure(RendererSettings& settings) {}

    void SetUp() override {
        wnd::ResetWindowLayer();
        gfx::SetCapabilityFaults({});
        ResetRenderSeams();
        gVornexRenderer.Settings() = RendererSettings{};
        gVornexRenderer.Settings().gfxQualityLevel = 2;
        Configure(gVornexRenderer.Settings());
        wnd::WindowDesc desc;
        desc.className = "RenderTest";
        desc.style = wnd::kStylePopup;
        desc.width = clientWidth;
        desc.height = clientHeight;
        window = wnd::CreateWindow(desc);
        log.Clear();
        log.Attach();
        created = gVornexRenderer.Start(window, 0);
        if (gVornexRenderer.Device()) {
            recorder = gfx::GetRecorder(gVornexRenderer.Device());
            recorder->SetValidationMode(gfx::ValidationMode::Strict);
            recorder->SetDrawRecordMode(gfx::DrawRecordMode::All);
        }
    }

    void TearDown() override {
        if (recorder) {
            gVornexRenderer.FlushCommands(true);
            for (const gfx::ValidationReport& r : recorder->Reports())
                EXPECT_FALSE(r.violation) << r.rule << ": " << r.message;
        }
        gVornexRenderer.Stop();
        gfx::SetCapabilityFaults({});
        ResetRenderSeams();
        log.Detach();
        wnd::ResetWindowLayer();
    }

    // The renderer reset on the window at the size (0 x 0 keeps it), as the main window
    // does; Reset waits for the render thread. The recorder is looked up again, as a
    // lost device comes back as another.
    void ResetRenderer(uint32_t width, uint32_t height, bool fullScreen = false) {
        gVornexRenderer.Reset(window, width, height, true, fullScreen);
        recorder = gfx::GetRecorder(gVornexRenderer.Device());
    }

    // Binds the frame's output (scene colour and main depth) and begins the scene.
    void BeginFrame() { gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1); }
    void EndFrame() {
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        gVornexRenderer.FlushCommands(true);
    }
    std::vector<gfx::DrawRecord> Draws() {
        gVornexRenderer.FlushCommands(true);
        return recorder->DrawRecords();
    }
    // Runs f on the render thread inside a frame; the draws it made.
    std::vector<gfx::DrawRecord> DrawsOf(const std::function<void()>& f) {
        BeginFrame();
        gVornexRenderer.FlushCommands(true);
        recorder->ClearDrawRecords();
        RunOnRenderThread(f);
        std::vector<gfx::DrawRecord> draws = recorder->DrawRecords();
        EndFrame();
        return draws;
    }
    bool Logged(const std::string& text) { return log.Contains(text); }
    // Messages whose text starts with the prefix.
    std::vector<std::string> Lines(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& m : log.Messages())
            if (m.text.compare(0, prefix.size(), prefix) == 0) out.push_back(m.text);
        return out;
    }

    int32_t clientWidth = kClientWidth, clientHeight = kClientHeight;
    uint32_t window = 0;
    bool created = false;
    gfx::Recorder* recorder = nullptr;
    CaptureLogSink log;
};

}  // namespace rendertest
