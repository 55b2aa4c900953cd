// Device management: present parameters, display modes, creation, loss and reset, close.
// test-sanitize: thread address
// test-timeout: 180
#include <atomic>

#include "RenderTestSupport.h"
#include "core/config/RendererConfigContainer.h"
#include "platform/os/Clock.h"

using namespace rendertest;
using namespace gfx;

namespace {


TEST(PresentParametersTest, BlockFollowsTheConfigurationPerQualityLevel) {
    struct Case { uint32_t quality, shadowSize; bool shadowMap, apply, fullScreen; float scale; uint32_t blockShadow;
                  uint8_t shadowByte, filtering, refraction, highQuality, vsync; uint32_t renderWidth, fullWidth; };
    const Case cases[] = {
        {0, 2048, true, true, false, 1.0f, 0, 0, 0, 0, 0, 1, 1000, 0},      // "Ultra low"
        {1, 2048, true, true, false, 1.0f, 1024, 1, 0, 0, 0, 1, 1000, 0},   // "Low" halves
        {2, 8192, true, true, false, 1.0f, 4096, 1, 0, 1, 0, 1, 1000, 0},   // clamped to 4096
        {3, 2048, true, true, false, 0.5f, 2048, 1, 1, 1, 1, 1, 500, 0},    // filtering from "High"
        {4, 8, true, false, true, 0.5f, 16, 1, 1, 1, 1, 0, 1000, 1000},     // clamped up; scale not applied
        {3, 2048, false, true, false, 1.0f, 2048, 0, 0, 1, 1, 1, 1000, 0},  // no shadow map, no filtering
    };
    for (const Case& c : cases) {
        RendererSettings& s = gVornexRenderer.Settings();
        s = RendererSettings{};
        s.gfxQualityLevel = c.quality;
        s.shadowMapSize = c.shadowSize;
        s.enableShadowMap = c.shadowMap;
        s.semiResolutionScreenScale = c.scale;
        PresentParameterBlock b;
        gVornexRenderer.ComputePresentParameters(1000, 500, c.apply, c.fullScreen, &b);
        EXPECT_TRUE(b.shadowMapSize == c.blockShadow && b.shadowMap == c.shadowByte && b.shadowFiltering == c.filtering)
            << c.quality;
        EXPECT_TRUE(b.refraction == c.refraction && b.highQuality == c.highQuality && b.vsync == c.vsync) << c.quality;
        EXPECT_TRUE(b.renderWidth == c.renderWidth && b.renderHeight == c.renderWidth / 2) << c.quality;
        EXPECT_TRUE(b.fullScreenWidth == c.fullWidth && b.quality == c.quality) << c.quality;
    }
    gVornexRenderer.Settings() = RendererSettings{};
}

// Each switch of the configuration reaches the renderer's settings when the configuration
// is applied, and from there the present parameters: off and on again.
TEST(PresentParametersTest, SwitchesFollowTheAppliedConfiguration) {
    const struct {
        const char* name;
        bool RendererConfigContainer::*config;
        uint8_t PresentParameterBlock::*block;
    } cases[] = {
        {"Enable outlines", &RendererConfigContainer::enableOutlines, &PresentParameterBlock::outlines},
        {"Enable refraction", &RendererConfigContainer::enableRefraction, &PresentParameterBlock::refraction},
        {"Enable shadow map", &RendererConfigContainer::enableShadowMap, &PresentParameterBlock::shadowMap},
        {"Enable shadow map filtering", &RendererConfigContainer::enableShadowMapFiltering,
         &PresentParameterBlock::shadowFiltering},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RendererConfigContainer config;
        config.gfxQualityLevel = 3;  // a level where every switch shows in the block
        for (bool on : {false, true, false}) {
            config.*c.config = on;
            config.OnPropertyChanged(nullptr);  // the whole configuration changed
            PresentParameterBlock b;
            gVornexRenderer.ComputePresentParameters(1000, 500, true, false, &b);
            EXPECT_EQ(b.*c.block, on ? 1 : 0);
        }
    }
    gVornexRenderer.Settings() = RendererSettings{};
}

TEST(DisplayModeTest, ListKeepsTheRateNearestSixtyAndFindsEntries) {
    DisplayModeList list;
    list.Add({1024, 768, 75, FMT_X8R8G8B8});
    list.Add({1024, 768, 59, FMT_X8R8G8B8});
    list.Add({1024, 768, 85, FMT_X8R8G8B8});
    list.Add({800, 600, 60, FMT_X8R8G8B8});
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list[0].width, 800u);
    EXPECT_EQ(list[1].refreshRate, 59u);

    wnd::ResetWindowLayer();
    gVornexRenderer.RefreshDisplayModes();  // the adapter's modes, 1920 x 1080 screen
    struct Case { uint32_t width, height, foundWidth, foundHeight, rate; };
    const Case cases[] = {
        {1920, 1080, 1920, 1080, 60},  // exact, 60 Hz kept over 50, 59 and 144
        {1280, 900, 1280, 720, 60},    // between two heights: the entry before
        {1300, 800, 1280, 1024, 60},   // between two widths
        {320, 200, 640, 480, 60},      // below every entry: the first
        {4000, 3000, 2560, 1440, 60},  // above every entry: the last
    };
    for (const Case& c : cases) {
        DisplayModeEntry e{};
        ASSERT_TRUE(gVornexRenderer.FindDisplayMode(c.width, c.height, &e));
        EXPECT_EQ(e.width, c.foundWidth) << c.width << "x" << c.height;
        EXPECT_EQ(e.height, c.foundHeight) << c.width << "x" << c.height;
        EXPECT_EQ(e.refreshRate, c.rate) << c.width << "x" << c.height;
    }
    const WindowSize nearest = gVornexRenderer.FindNearestDisplayMode(1000, 700);
    EXPECT_EQ(nearest.width, 960u);
    EXPECT_EQ(nearest.height, 540u);
    EXPECT_EQ(gVornexRenderer.FindNearestDisplayMode(10, 10).width, 800u);  // index 0 when none fits
}

TEST(DisplayModeTest, NarrowScreenEndsItsWindowSizesWithTheScreenSize) {
    wnd::DisplayMode mode;
    mode.fields = wnd::kModePixelWidth | wnd::kModePixelHeight | wnd::kModeBitsPerPixel | wnd::kModeFrequency;
    mode.width = 1366, mode.height = 768, mode.bitsPerPixel = 32, mode.frequency = 60;
    ASSERT_TRUE(wnd::SetDisplayModes(&mode, 1, 0));
    gVornexRenderer.RefreshDisplayModes();
    const std::vector<WindowSize>& sizes = gVornexRenderer.WindowSizes();
    const uint32_t widths[] = {800, 848, 960, 1024, 1280, 1366};
    ASSERT_EQ(sizes.size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sizes[i].width, widths[i]);
        EXPECT_EQ(sizes[i].height, widths[i] * 768 / 1366);
    }
    wnd::ResetWindowLayer();
}


// The renderer started under one refused capability.
template <bool CapabilityFaults::*Refused>
struct RefusingFixture : RendererFixture {
    void Configure(RendererSettings&) override {
        CapabilityFaults f;
        f.*Refused = true;
        SetCapabilityFaults(f);
    }
};

using SoftwareProcessingTest = RefusingFixture<&CapabilityFaults::refuseHardwareVertexProcessing>;

TEST_F(SoftwareProcessingTest, RetryWithoutThePureDeviceFlagCreatesTheDevice) {
    EXPECT_TRUE(created);
    EXPECT_TRUE(gVornexRenderer.DeviceCreated());
    EXPECT_FALSE(Logged("cannot be created"));
}

using RefusedDeviceTest = RefusingFixture<&CapabilityFaults::refuseDeviceCreation>;

TEST_F(RefusedDeviceTest, StartReportsFailureAndTheRendererStillRunsAndStops) {
    EXPECT_FALSE(created);
    EXPECT_EQ(gVornexRenderer.Device(), nullptr);
    EXPECT_TRUE(Logged("the device cannot be created"));
    gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
    gVornexRenderer.Clear(CLEAR_TARGET, Vector(1, 1, 1, 1), 1, 0);
    gVornexRenderer.DebugDrawWireBox(BoundingBox4::UNITCUBE3D, Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, 1);
    gVornexRenderer.SetBrightness(0.3f);
    gVornexRenderer.PostUpscaleFinal();
    EXPECT_TRUE(gVornexRenderer.EndFrame());
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.Stop();
    EXPECT_TRUE(Logged("VornexRenderer closed"));
}


struct ResetTest : RendererFixture {
    std::vector<uint32_t> Live() {
        std::vector<uint32_t> v;
        for (uint32_t k = 0; k < uint32_t(ObjectKind::Count); ++k) v.push_back(recorder->LiveObjects(ObjectKind(k)));
        return v;
    }
    void Frame() {
        BeginFrame();
        gVornexRenderer.PostUpscaleFinal();
    }
    // References held on the back buffer, besides the one taken to count them.
    uint32_t BackBufferReferences() {
        uint32_t references = 0;
        RunOnRenderThread([&] {
            Surface* s = nullptr;
            gVornexRenderer.Device()->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &s);
            references = s ? s->Release() : 0;
        });
        return references;
    }
    bool NoLiveObjectReports() {
        for (const ValidationReport& r : recorder->Reports())
            if (r.rule == "reset-live-default-objects") return false;
        return true;
    }
};

TEST_F(ResetTest, LostDeviceMakesEndFrameFalseUntilAReset) {
    recorder->LoseDeviceOnNextPresent();
    Frame();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    Frame();
    EXPECT_FALSE(gVornexRenderer.EndFrame());
    ResetRenderer(kClientWidth, kClientHeight);
    EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
    Frame();
    EXPECT_TRUE(gVornexRenderer.EndFrame());
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
    EXPECT_TRUE(NoLiveObjectReports());
}

TEST_F(ResetTest, FailedResetsKeepTheRequestAndLostDevicesAreRetriedForABoundedTime) {
    struct Case { uint32_t failures; Result result; bool pendingAfter; const char* line; };
    const Case cases[] = {
        {3, ERR_DEVICELOST, false, nullptr},  // retried until it works
        {1, ERR_INVALIDCALL, true, "Device::Reset error: D3DERR_INVALIDCALL"},
        {1, ERR_OUTOFVIDEOMEMORY, true, "Device::Reset error: D3DERR_OUTOFVIDEOMEMORY"},
        {1, static_cast<Result>(0x80001234u), true, "Device::Reset unknown error 0x80001234"},
        {41, ERR_DEVICELOST, true, "Device::Reset error: D3DERR_DEVICELOST"},  // gives up after 40 tries
    };
    for (const Case& c : cases) {
        log.Clear();
        recorder->FailResets(c.failures, c.result);
        gVornexRenderer.RequestDeviceReset();
        gVornexRenderer.FlushCommands(true);
        const auto start = std::chrono::steady_clock::now();
        ResetRenderer(kClientWidth, kClientHeight);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 10.0);
        EXPECT_EQ(gVornexRenderer.DeviceResetPending(), c.pendingAfter) << c.failures;
        if (c.line) {
            EXPECT_TRUE(Logged(c.line)) << c.line;
            EXPECT_TRUE(Logged("BackBufferWidth=256, BackBufferHeight=144, BackBufferFormat=22, BackBufferCount=1"));
            EXPECT_TRUE(Logged("hDeviceWindow=" + std::to_string(window) + ", Windowed=1"));
            EXPECT_TRUE(Logged("FullScreen_RefreshRateInHz=0, PresentationInterval=1"));
        }
        EXPECT_NE(gVornexRenderer.Target(TARGET_SCENE_COLOR).surface, nullptr);
        recorder->FailResets(0);
        ResetRenderer(kClientWidth, kClientHeight);
        EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
    }
    EXPECT_TRUE(NoLiveObjectReports());
}

// Every size change leaves the back buffer, the render targets and the client area of
// one size; a reset at the same size rebuilds nothing.
TEST_F(ResetTest, ResizesKeepTheBackBufferAndTheTargetsAtTheClientSize) {
    const uint64_t resets = recorder->CallCount(CallKind::Reset);
    const uint64_t textures = recorder->CallCount(CallKind::CreateTexture);
    ResetRenderer(kClientWidth, kClientHeight);
    EXPECT_EQ(recorder->CallCount(CallKind::CreateTexture), textures);
    EXPECT_EQ(recorder->CallCount(CallKind::Reset), resets);
    const PresentParameters& p = gVornexRenderer.PresentParameters();
    auto sizes = [&](uint32_t w, uint32_t h) {
        Surface* scene = gVornexRenderer.Target(TARGET_SCENE_COLOR).surface;
        SurfaceDesc desc{};
        const bool sceneSized = scene && Succeeded(scene->GetDesc(&desc)) && desc.width == w && desc.height == h;
        return gVornexRenderer.BackBufferWidth() == w && gVornexRenderer.BackBufferHeight() == h &&
               gVornexRenderer.RenderWidth() == w && gVornexRenderer.RenderHeight() == h && sceneSized;
    };
    ResetRenderer(320, 180);  // a window resized: the device is reset to the new size
    EXPECT_EQ(recorder->CallCount(CallKind::Reset), resets + 1);
    EXPECT_TRUE(sizes(320, 180) && p.windowed == 1);
    ResetRenderer(320, 200);  // the height alone
    EXPECT_EQ(recorder->CallCount(CallKind::Reset), resets + 2);
    EXPECT_TRUE(sizes(320, 200));
    ResetRenderer(1280, 720, true);  // full screen: the display mode's size
    EXPECT_EQ(recorder->CallCount(CallKind::Reset), resets + 3);
    EXPECT_TRUE(sizes(1280, 720) && p.fullScreenRefreshRateInHz == 60 && p.windowed == 0);
    gVornexRenderer.Reset(0, 0, 0, true, true);  // a settings change stays in full screen
    EXPECT_TRUE(gVornexRenderer.BackBufferWidth() == 1280 && p.windowed == 0);
    ResetRenderer(1280, 800, true);  // a size the adapter does not list: taken as the display gives it
    EXPECT_TRUE(sizes(1280, 800) && p.windowed == 0);
    ResetRenderer(kClientWidth, kClientHeight);  // back in its window
    EXPECT_TRUE(p.windowed == 1 && p.fullScreenRefreshRateInHz == 0);
    EXPECT_TRUE(sizes(kClientWidth, kClientHeight));
    EXPECT_TRUE(NoLiveObjectReports());
}

TEST_F(ResetTest, ObjectsReturnToTheirBaselineAfterResetsAndAfterStop) {
    Frame();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    const std::vector<uint32_t> running = Live();
    const uint32_t references = BackBufferReferences();
    BeginFrame();  // the output bound twice in one frame
    Frame();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(BackBufferReferences(), references) << "a frame releases the output surfaces it bound";
    for (uint32_t i = 0; i < 3; ++i) {
        gVornexRenderer.RequestDeviceReset();
        ResetRenderer(kClientWidth, kClientHeight);
        ResetRenderer(200 + 8 * i, 100);
        ResetRenderer(kClientWidth, kClientHeight);
        Frame();
        gVornexRenderer.EndFrame();
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(Live(), running) << i;
    }
    EXPECT_TRUE(NoLiveObjectReports());
    // A fresh device of the same factory is the baseline; the renderer's device is kept
    // alive past Stop to count what it still holds.
    Device* device = gVornexRenderer.Device();
    device->AddRef();
    gfx::Recorder* kept = recorder;
    TearDown();
    recorder = nullptr;
    ExpectHoldsWhatAFreshDeviceHolds(kept);
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(ResetTest, BlankFrameModePresentsOnIdleTicksAndGivesTheLockBack) {
    auto blankFrames = [](uint32_t on) {
        ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_BLANK_FRAME, 4));
        gVornexRenderer.Ring().WriteValue(on);
        gVornexRenderer.FlushCommands(true);
    };
    const uint64_t before = recorder->PresentCount();
    blankFrames(1);
    EXPECT_TRUE(WaitUntil([&] { return recorder->PresentCount() >= before + 3; })) << "idle ticks present too";
    // A call that takes the renderer lock from another thread still gets it.
    std::atomic<bool> returned{false};
    std::thread other([&] {
        gVornexRenderer.SetSceneLoading(0);
        returned = true;
    });
    const bool done = WaitUntil([&] { return returned.load(); });
    EXPECT_TRUE(done) << "an idle present kept the renderer lock";
    done ? other.join() : other.detach();
    blankFrames(0);
}

TEST_F(ResetTest, CloseLogsItsSixLinesInOrder) {
    gVornexRenderer.Stop();
    recorder = nullptr;
    std::vector<std::string> lines;
    for (const CaptureLogSink::Message& m : log.Messages())
        if (m.text.rfind("_CloseDX", 0) == 0) lines.push_back(m.text);
    EXPECT_EQ(lines, (std::vector<std::string>{"_CloseDX begin", "_CloseDX waiting for jobs", "_CloseDX all jobs complete",
                                               "_CloseDX Delete arrays", "_CloseDX Delete display modes",
                                               "_CloseDX All done!!!"}));
    EXPECT_TRUE(Logged("VornexRenderer closing..."));
    EXPECT_TRUE(Logged("VornexRenderer closed"));
}

// A rule broken every frame is logged once, and its count once when the device closes.
TEST_F(ResetTest, RepeatedValidationWarningsAreLoggedOnceWithTheirCount) {
    const float values[8] = {};
    for (int frame = 0; frame < 5; ++frame)
        RunOnRenderThread([&] { gVornexRenderer.Device()->SetPixelShaderConstantF(247, values, 2); });
    RunOnRenderThread([&] { gVornexRenderer.Device()->SetPixelShaderConstantF(240, values, 1); });
    gVornexRenderer.Stop();
    recorder = nullptr;
    const std::string repeated = "SetPixelShaderConstant: pixel constants c247..c248 are beyond ps_3_0";
    uint32_t once = 0, summed = 0, other = 0;
    for (const CaptureLogSink::Message& m : log.Messages()) {
        once += m.text == repeated;
        summed += m.text == repeated + " (reported 5 times)";
        other += m.text.find("c240..c240") != std::string::npos;
    }
    EXPECT_EQ(once, 1u);
    EXPECT_EQ(summed, 1u);
    EXPECT_EQ(other, 1u);  // a report seen once has no count line
}

// A loading screen without the UI library: the renderer only hands it to the default UI
// draws, which never look at it.
UIElement* StandInScreen() {
    static int screen;
    return reinterpret_cast<UIElement*>(&screen);
}

TEST_F(ResetTest, PresenterLossBecomesAResetRequestOnlyThroughTheLoadingScreen) {
    static os::ManualClock clock(1'000'000'000);  // the render thread may read it after the test
    clock.Install();
    gVornexRenderer.SetSceneLoading(1);
    recorder->LoseDeviceOnNextPresent();
    gVornexRenderer.SetLoadingScreen(StandInScreen(), 0, 0);  // draws at once and hands the present over
    gVornexRenderer.FlushCommands(false);
    ASSERT_TRUE(WaitUntil([] { return gVornexRendererPresenter.LossesReported() == 1; }));
    EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
    clock.Advance(os::kCounterFrequency / 20);  // the next loading-screen present is due
    ASSERT_TRUE(WaitUntil([] { return gVornexRenderer.DeviceResetPending(); }));
    EXPECT_EQ(gVornexRendererPresenter.LossesAcknowledged(), 1u);
    gVornexRenderer.SetSceneLoading(0);
    ResetRenderer(kClientWidth, kClientHeight);
    EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
    clock.Uninstall();
}

TEST_F(ResetTest, PresenterGivesUpOnAQueryThatNeverCompletes) {
    recorder->SetQueryLatency(0xFFFFFFFFu);
    gVornexRenderer.SetSceneLoading(1);
    gVornexRenderer.SetLoadingScreen(StandInScreen(), 0, 0);  // draws at once and hands the present over
    gVornexRenderer.FlushCommands(true);
    EXPECT_TRUE(WaitUntil([] { return !gVornexRendererPresenter.PresentOutstanding(); }));
    EXPECT_GE(gVornexRendererPresenter.PresentsDone(), 1u);
    gVornexRenderer.SetSceneLoading(0);
    recorder->SetQueryLatency(0);
}

}  // namespace
