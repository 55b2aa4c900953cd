// Frames of the drawing device presented into a desktop window against the same frames
// without presenting, in one run: a 1280 x 720 back buffer, cleared and drawn with 500
// textured quads per frame, each frame ending when the GPU is done (EndScene); the
// presented side then reads the back buffer back and shows it in a 1280 x 720 window.
//
// The path measured is the read-back path, the program's only one (the drawing device
// renders off screen and shares no context with the window): every presented frame is
// read back from the GPU and uploaded to the window. The goal, presenting costs at most
// 20 %, is written for presenting without reading the frame back, which the program does
// not have; the printed ratio (the median of the repetitions) says which path it is.
// Without DISPLAY the benchmark starts its own Xvfb. Run on the software rasteriser
// (GALLIUM_DRIVER=llvmpipe, EGL_PLATFORM=surfaceless) unless a GPU is wanted.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/DrawingDeviceBench.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/gfx/ShaderCompiler.h"
#include "platform/window/Window.h"

namespace {

using namespace gfx;

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kQuads = 500;

using benchgfx::Vertex;

// Xvfb of the benchmark's own when no display is set.
struct OwnServer {
    pid_t pid = -1;
    bool Start() {
        if (std::getenv("DISPLAY")) return true;
        for (int n = 140; n < 200; ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (access(lock.c_str(), F_OK) == 0) continue;
            const std::string display = ":" + std::to_string(n);
            pid = fork();
            if (pid == 0) {
                std::freopen("/dev/null", "w", stderr);
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                       static_cast<char*>(nullptr));
                _exit(127);
            }
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            setenv("DISPLAY", display.c_str(), 1);
            return true;
        }
        return false;
    }
    ~OwnServer() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

struct Scene {
    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    VertexShader* vs = nullptr;
    PixelShader* ps = nullptr;
    Texture* texture = nullptr;
    VertexBuffer* vb = nullptr;
    wnd::WindowHandle window = 0;
    std::vector<uint32_t> pixels;
    bool ok = false;

    Scene() {
        device = benchgfx::CreateDrawingDevice(kWidth, kHeight, factory);
        if (!device || !benchgfx::CreateQuadShaders(device, vs, ps)) return;
        texture = benchgfx::CreateStripedTexture(device, 0xFFFF8080u, 0xFF80FF80u);
        const Vertex quad[4] = {{-0.1f, -0.1f, 0.5f, 0xFFFFFFFF, 0, 1}, {-0.1f, 0.1f, 0.5f, 0xFFFFFFFF, 0, 0},
                                {0.1f, -0.1f, 0.5f, 0xFFFFFFFF, 1, 1}, {0.1f, 0.1f, 0.5f, 0xFFFFFFFF, 1, 0}};
        vb = benchgfx::CreateFilledVertexBuffer(device, quad, sizeof quad);
        device->SetRenderState(RS_ZENABLE, 0);
        device->SetRenderState(RS_CULLMODE, CULL_NONE);
        device->SetVertexShader(vs);
        device->SetPixelShader(ps);
        device->SetFVF(benchgfx::kFvf);
        device->SetTexture(0, texture);
        device->SetStreamSource(0, vb, 0, sizeof(Vertex));

        const char* reason = nullptr;
        if (!wnd::StartDesktopWindows(&reason)) {
            std::fprintf(stderr, "present_bench: no desktop: %s\n", reason);
            return;
        }
        wnd::WindowDesc desc;
        desc.className = "PresentBench";
        desc.title = "present bench";
        desc.style = wnd::kStylePopup;
        desc.width = kWidth;
        desc.height = kHeight;
        window = wnd::CreateWindow(desc);
        wnd::ShowWindow(window, wnd::kShowNormal);
        ok = vs && ps && window;
    }
    ~Scene() {
        wnd::ResetWindowLayer();
        for (Unknown* u : {static_cast<Unknown*>(vs), static_cast<Unknown*>(ps), static_cast<Unknown*>(texture),
                           static_cast<Unknown*>(vb)})
            if (u) u->Release();
        if (device) device->Release();
        if (factory) factory->Release();
    }

    void Frame(int n) {
        device->Clear(0, nullptr, CLEAR_TARGET, 0xFF000000u | uint32_t(n * 3 & 0xFF), 1.0f, 0);
        device->BeginScene();
        for (int i = 0; i < kQuads; ++i) {
            const float offset[4] = {float(i % 25) * 0.08f - 0.96f, float(i / 25) * 0.09f - 0.9f, 0, 0};
            device->SetVertexShaderConstantF(0, offset, 1);
            device->DrawPrimitive(PT_TRIANGLESTRIP, 0, 2);
        }
        device->EndScene();  // waits for the GPU
    }

    bool Present() {
        Surface* back = nullptr;
        if (Failed(device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back)) || !back) return false;
        uint32_t width = 0, height = 0;
        std::string error;
        const bool read = ReadSurfaceArgb(device, back, &pixels, &width, &height, &error);
        back->Release();
        wnd::Event e;
        while (wnd::PeekEvent(&e)) wnd::DispatchEvent(e);
        return read && wnd::PresentPixels(window, pixels.data(), width, height);
    }
};

OwnServer& Server() {
    static OwnServer server;
    return server;
}

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_FramesWithoutPresenting(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ok) return state.SkipWithError("no drawing device or desktop window");
    int n = 0;
    for (auto _ : state) scene.Frame(n++);
    state.SetItemsProcessed(n);
}

void BM_FramesPresented(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ok) return state.SkipWithError("no drawing device or desktop window");
    int n = 0;
    for (auto _ : state) {
        scene.Frame(n++);
        if (!scene.Present()) return state.SkipWithError("the window refused the picture");
    }
    state.SetItemsProcessed(n);
}

BENCHMARK(BM_FramesWithoutPresenting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramesPresented)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!Server().Start()) std::fprintf(stderr, "present_bench: no display and no Xvfb\n");
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    benchsupport::PrintFigure("read-back path: presented frame time / frame time without presenting",
                              reporter.Ratio("BM_FramesPresented", "real_s", "BM_FramesWithoutPresenting", "real_s"),
                              "at most 1.20, written for presenting without reading back");
    return 0;
}
