// The post-processing chain on the drawing device (software rasteriser), 1280 x 720, in
// one run: the longest chain (mode bits 0 and 2, quality 3, glow, local contrast, FXAA,
// RGB shift and the zoom blur; outlines off) against the plain composite alone
// (bit 0 clear). Each frame is timed to completion with an event query. The counters give
// both frame times, their ratio (goal: the longest chain at most 8 times the plain
// composite: glow, blurs and luminance work at quarter size, so the chain draws about
// 4.5 full-screen passes' worth of pixels), each pass's own time, and the chain's
// render-thread CPU time per run up to the device's queue.
//
// The project's shader data comes from the build tree's data folder (target
// shader_data), copied to a scratch folder mounted as "common" and "textures".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/fs/FileSystem.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ShaderManager.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::RunOnRenderThread;

namespace sfs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kWidth = 1280, kHeight = 720;
std::string gFolder;

// Render thread: waits until the device finished everything issued so far.
void WaitForDevice() {
    gfx::Query* query = nullptr;
    gfx::Device* device = gVornexRenderer.Device();
    if (gfx::Failed(device->CreateQuery(gfx::QUERYTYPE_EVENT, &query))) return;
    query->Issue(gfx::ISSUE_END);
    while (query->GetData(nullptr, 0, gfx::GETDATA_FLUSH) == gfx::OK_FALSE) {
    }
    query->Release();
}

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        std::string pattern = "/tmp/postprocess_bench_XXXXXX";
        if (!mkdtemp(pattern.data())) return false;
        gFolder = pattern;
        const sfs::path data = sfs::canonical("/proc/self/exe").parent_path().parent_path() / "data";
        sfs::copy(data, gFolder, sfs::copy_options::recursive);
        gFileSystem.MountDirectory("common", (gFolder + "/common").c_str());
        gFileSystem.MountDirectory("textures", (gFolder + "/textures").c_str());
        setenv("GALLIUM_DRIVER", "llvmpipe", 0);
        setenv("EGL_PLATFORM", "surfaceless", 0);
        gfx::SelectDeviceKind(gfx::DeviceKind::Drawing);
        gVornexRenderer.Settings().gfxQualityLevel = 3;
        gVornexRenderer.Settings().enableOutlines = false;
        const bool ok = benchsupport::StartRenderer("PostprocessBench", kWidth, kHeight) && gResourceManager.Start();
        gfx::SelectDeviceKind(gfx::DeviceKind::Recording);
        if (!ok || !gShaderManager->LoadDefinitions()) return false;
        gfx::GetRecorder(gVornexRenderer.Device())->SetDrawRecordMode(gfx::DrawRecordMode::Off);
        gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
        gVornexRenderer.WaitForResourceJobs(1);
        gRendererScene->PostInit();
        RunOnRenderThread([] {
            SceneParameterBlock& p = gRendererScene->GetCurrentParameters()->Values();
            p.rest.fxaaEnabled = true;
            p.rest.zoomBlurStrength = 0.5f;
            p.rest.imageLocalContrast = 1.2f;
            for (float& v : p.rgbShiftScaleCurve) v = 0.5f;
        });
        return true;
    }();
    if (!started) std::abort();
}

// One frame through task 22 and the upscale, waited for on the device.
double Frame(uint32_t modeBits) {
    const Clock::time_point t0 = Clock::now();
    gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
    gVornexRenderer.SetViewport(0, 0, kWidth, kHeight, 0.0f, 1.0f);
    gVornexRenderer.SetPostProcessTargetMode(modeBits);
    gVornexRenderer.PostUpscale();
    RunOnRenderThread(WaitForDevice);
    const Clock::time_point t1 = Clock::now();
    gVornexRenderer.PostUpscaleFinal();
    gVornexRenderer.EndFrame();
    gVornexRenderer.FlushCommands(true);
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_LongestChainAgainstPlainComposite(benchmark::State& state) {
    StartOnce();
    double chain = 0, plain = 0;
    for (auto _ : state) {
        chain += Frame(5);
        plain += Frame(0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["chain_ms"] = 1000.0 * chain / n;
    state.counters["plain_ms"] = 1000.0 * plain / n;
    state.counters["chain/plain"] = chain / plain;
}
BENCHMARK(BM_LongestChainAgainstPlainComposite)->UseRealTime()->MinTime(3.0);

// Each pass alone, waited for on the device, in the chain's order and targets.
void BM_PassTimes(benchmark::State& state) {
    StartOnce();
    constexpr uint32_t kPasses = 7;
    double times[kPasses] = {};
    const char* const names[kPasses] = {"glow_ms", "blur2x_ms", "luminance_ms", "composite_ms", "fxaa_ms",
                                        "rgbshift_ms", "zoom_ms"};
    for (auto _ : state) {
        gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            PostProcessChain& c = r.PostProcess();
            const RenderTarget& a = r.Target(TARGET_LIGHT_0);
            const RenderTarget& b = r.Target(TARGET_LIGHT_1);
            const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
            auto bindQuad = [&] {
                r.Device()->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
                r.Device()->SetStreamSource(0, quad.vertices, 0, 20);
            };
            bindQuad();
            r.SetCullMode(gfx::CULL_NONE);
            r.SetAlphaTest(0, 0);
            r.SetBlendMode(0);
            r.SetDepthState(gfx::CMP_ALWAYS, 0, 0, 0);
            const float softness = gRendererScene->GetCurrentParameters()->Values().rest.glowSoftness;
            const uint32_t qw = (kWidth + 3) >> 2, qh = (kHeight + 3) >> 2;
            const std::function<void()> passes[kPasses] = {
                [&] { c.GlowSource(kWidth, kHeight); },
                [&] {
                    c.GaussBlur(a.surface, a.texture, b.surface, b.texture, qw, qh, softness, 1.0f);
                    c.GaussBlur(a.surface, a.texture, b.surface, b.texture, qw, qh, softness, 2.0f);
                    bindQuad();
                },
                [&] { c.DownscaleLuminance(kWidth, kHeight); },
                [&] { c.Tonemap(true, a.texture, nullptr, b.surface, kWidth, kHeight, Vector(1, 1, 1, 1), true); },
                [&] { c.FXAA(b.texture, a.surface, kWidth, kHeight); },
                [&] { c.RGBShift(a.texture, b.surface, kWidth, kHeight, 0.5f); },
                [&] { c.ZoomBlur(b.texture, a.surface, kWidth, kHeight, 1.0f); },
            };
            WaitForDevice();
            for (uint32_t i = 0; i < kPasses; ++i) {
                const Clock::time_point t0 = Clock::now();
                passes[i]();
                WaitForDevice();
                times[i] += std::chrono::duration<double>(Clock::now() - t0).count();
            }
        });
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        gVornexRenderer.FlushCommands(true);
    }
    const double n = static_cast<double>(state.iterations());
    for (uint32_t i = 0; i < kPasses; ++i) state.counters[names[i]] = 1000.0 * times[i] / n;
}
BENCHMARK(BM_PassTimes)->UseRealTime()->MinTime(3.0);

// The chain's render-thread CPU time per run: task 22 alone, without waiting for the
// device (draws are queued to the back end).
void BM_ChainCpuTime(benchmark::State& state) {
    StartOnce();
    double cpu = 0;
    for (auto _ : state) {
        gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
        gVornexRenderer.SetViewport(0, 0, kWidth, kHeight, 0.0f, 1.0f);
        RunOnRenderThread([&] {
            timespec a{}, b{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
            gVornexRenderer.PostProcess().RunPasses(5);
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
            cpu += (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) * 1e-9;
            WaitForDevice();
        });
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        gVornexRenderer.FlushCommands(true);
    }
    state.counters["cpu_us"] = 1e6 * cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ChainCpuTime)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_LongestChainAgainstPlainComposite";
    std::printf("longest chain %.2f ms, plain composite %.2f ms (medians)\n", reporter.Median(name, "chain_ms"),
                reporter.Median(name, "plain_ms"));
    benchsupport::PrintFigure("longest chain / plain composite, time", reporter.Of(name, "chain/plain"), "at most 8");
    gRendererScene->PostShutdown();
    gVornexRenderer.PostProcess().ReleaseShaders();
    gShaderManager->Close();
    gResourceManager.Stop();
    gVornexRenderer.Stop();
    gFileSystem.UnmountAll();
    sfs::remove_all(gFolder);
    benchmark::Shutdown();
    return 0;
}
