// The drawing device against the same OpenGL calls made directly, in one run:
//  (a) 10,000 small indexed draws with state changes between them (blend on and off, a
//      vertex constant, one of two textures), through gfx::Device on the drawing device,
//      against the same draws and state as direct GL calls;
//  (b) 1,000 draws, each from a dynamic vertex buffer locked with discard, against the
//      same vertices written into persistently mapped storage.
// Every iteration runs both sides, one after the other, so that whatever else loads the
// machine falls on both alike; each side has a device (and GL context) of its own, and
// ends waiting for the GPU (the device at EndScene, the direct side with glFinish). Each
// side's wall time and the process's CPU time (the software rasteriser's threads
// included) are counted. Ratios are printed at the end, the medians of the repetitions,
// by wall time and by CPU time (goals: (a) the device adds at most 30 %, (b) at least
// 0.8 of the direct rate). Run on the software rasteriser (GALLIUM_DRIVER=llvmpipe,
// EGL_PLATFORM=surfaceless) unless a GPU is wanted.
// bench-link: EGL
#include <EGL/egl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/DrawingDeviceBench.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/GlFunctions.h"
#include "platform/gfx/ShaderCompiler.h"

namespace {

using namespace gfx;

constexpr int kDraws = 10000;
constexpr int kLockedDraws = 1000;
constexpr uint32_t kTarget = 256;

using benchgfx::kFvf;
using benchgfx::Vertex;

// The same shaders as GLSL 450 for the direct side.
const char* kGlslVertex = R"(#version 450
uniform vec4 Offset;
layout(location = 0) in vec3 position;
layout(location = 1) in vec4 colour;
layout(location = 2) in vec2 uv;
layout(location = 16) out vec4 vColour;
layout(location = 0) out vec2 vUv;
void main() { gl_Position = vec4(position.xy + Offset.xy, position.z, 1.0); vColour = colour; vUv = uv; }
)";
const char* kGlslPixel = R"(#version 450
layout(binding = 0) uniform sampler2D T;
layout(location = 16) in vec4 vColour;
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
void main() { colour = vColour * texture(T, vUv); }
)";

// The CPU time of the whole process so far, in seconds: the software rasteriser draws on
// threads of its own.
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall and CPU seconds of the two sides of one benchmark, summed over its iterations.
struct SideTimes {
    double wall[2] = {}, cpu[2] = {};
    // Runs one side, timed.
    template <class F>
    void Run(int side, F&& f) {
        const auto w0 = std::chrono::steady_clock::now();
        const double c0 = ProcessCpuSeconds();
        f();
        cpu[side] += ProcessCpuSeconds() - c0;
        wall[side] += benchsupport::Seconds(w0, std::chrono::steady_clock::now());
    }
    // Counters: each side's times per iteration in ms, and device over direct time.
    void Report(benchmark::State& state) const {
        const double n = static_cast<double>(state.iterations());
        state.counters["device_ms"] = 1e3 * wall[0] / n;
        state.counters["direct_ms"] = 1e3 * wall[1] / n;
        state.counters["device_cpu_ms"] = 1e3 * cpu[0] / n;
        state.counters["direct_cpu_ms"] = 1e3 * cpu[1] / n;
        state.counters["device/direct"] = wall[1] > 0 ? wall[0] / wall[1] : 0.0;
        state.counters["device/direct_cpu"] = cpu[1] > 0 ? cpu[0] / cpu[1] : 0.0;
    }
};

// A drawing device with a 256 x 256 back buffer, the shaders, two textures and a quad.
struct Scene {
    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    VertexShader* vs = nullptr;
    PixelShader* ps = nullptr;
    Texture* textures[2] = {};
    VertexBuffer* vb = nullptr;
    IndexBuffer* ib = nullptr;
    bool ok = false;

    Scene() {
        device = benchgfx::CreateDrawingDevice(kTarget, kTarget, factory);
        if (!device || !benchgfx::CreateQuadShaders(device, vs, ps)) return;
        for (int t = 0; t < 2; ++t) {
            const uint32_t colour = t ? 0xFF80FF80u : 0xFFFF8080u;
            textures[t] = benchgfx::CreateStripedTexture(device, colour, colour);
        }
        const Vertex quad[4] = {{-0.05f, -0.05f, 0.5f, 0xFFFFFFFF, 0, 1}, {-0.05f, 0.05f, 0.5f, 0xFFFFFFFF, 0, 0},
                                {0.05f, 0.05f, 0.5f, 0xFFFFFFFF, 1, 0}, {0.05f, -0.05f, 0.5f, 0xFFFFFFFF, 1, 1}};
        const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
        vb = benchgfx::CreateFilledVertexBuffer(device, quad, sizeof quad);
        void* p = nullptr;
        device->CreateIndexBuffer(sizeof indices, USAGE_WRITEONLY, FMT_INDEX16, POOL_MANAGED, &ib, nullptr);
        ib->Lock(0, 0, &p, 0);
        std::memcpy(p, indices, sizeof indices);
        ib->Unlock();
        device->SetRenderState(RS_ZENABLE, 0);
        device->SetRenderState(RS_CULLMODE, CULL_NONE);
        device->SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
        device->SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
        device->SetVertexShader(vs);
        device->SetPixelShader(ps);
        device->SetFVF(kFvf);
        ok = vs && ps;
    }
    ~Scene() {
        for (Unknown* u : {static_cast<Unknown*>(vs), static_cast<Unknown*>(ps), static_cast<Unknown*>(textures[0]),
                           static_cast<Unknown*>(textures[1]), static_cast<Unknown*>(vb), static_cast<Unknown*>(ib)})
            if (u) u->Release();
        if (device) device->Release();
        if (factory) factory->Release();
    }
};

float OffsetX(int i) { return static_cast<float>(i % 19) * 0.1f - 0.9f; }
float OffsetY(int i) { return static_cast<float>(i % 17) * 0.1f - 0.8f; }

// Direct GL on the context of a drawing device (made current by one draw through it; the
// context is kept so that the direct side can make it current again after the other side).
struct DirectGl {
    const detail::GlFunctions* gl = nullptr;
    GLuint program = 0, vao = 0, vbo = 0, ibo = 0, fbo = 0, target = 0, textures[2] = {};
    GLint offset = -1;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;

    void MakeCurrent() const {
        if (eglGetCurrentContext() != context) eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
    }

    explicit DirectGl(Scene& scene) {
        scene.device->SetStreamSource(0, scene.vb, 0, sizeof(Vertex));
        scene.device->SetIndices(scene.ib);
        scene.device->BeginScene();
        scene.device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, 4, 0, 2);
        scene.device->EndScene();
        display = eglGetCurrentDisplay();
        context = eglGetCurrentContext();
        gl = detail::LoadGlFunctions(nullptr);
        if (!gl) return;
        auto stage = [this](GLenum kind, const char* text) {
            const GLuint s = gl->glCreateShader(kind);
            gl->glShaderSource(s, 1, &text, nullptr);
            gl->glCompileShader(s);
            return s;
        };
        program = gl->glCreateProgram();
        gl->glAttachShader(program, stage(GL_VERTEX_SHADER, kGlslVertex));
        gl->glAttachShader(program, stage(GL_FRAGMENT_SHADER, kGlslPixel));
        gl->glLinkProgram(program);
        offset = gl->glGetUniformLocation(program, "Offset");
        gl->glGenVertexArrays(1, &vao);
        gl->glBindVertexArray(vao);
        const Vertex quad[4] = {{-0.05f, -0.05f, 0.5f, 0xFFFFFFFF, 0, 1}, {-0.05f, 0.05f, 0.5f, 0xFFFFFFFF, 0, 0},
                                {0.05f, 0.05f, 0.5f, 0xFFFFFFFF, 1, 0}, {0.05f, -0.05f, 0.5f, 0xFFFFFFFF, 1, 1}};
        const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
        gl->glGenBuffers(1, &vbo);
        gl->glBindBuffer(GL_ARRAY_BUFFER, vbo);
        gl->glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
        gl->glGenBuffers(1, &ibo);
        gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
        gl->glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, indices, GL_STATIC_DRAW);
        Attributes(0);
        gl->glGenTextures(2, textures);
        std::vector<uint32_t> texels(16 * 16);
        for (int t = 0; t < 2; ++t) {
            for (uint32_t& v : texels) v = t ? 0xFF80FF80u : 0xFFFF8080u;
            gl->glBindTexture(GL_TEXTURE_2D, textures[t]);
            gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
            gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        }
        gl->glGenTextures(1, &target);
        gl->glBindTexture(GL_TEXTURE_2D, target);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, kTarget, kTarget, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        gl->glGenFramebuffers(1, &fbo);
        gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
        gl->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
        gl->glViewport(0, 0, kTarget, kTarget);
        gl->glDisable(GL_DEPTH_TEST);
        gl->glDisable(GL_CULL_FACE);
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glDisable(GL_STENCIL_TEST);
        gl->glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        gl->glUseProgram(program);
        gl->glActiveTexture(GL_TEXTURE0);
        gl->glBindSampler(0, 0);
    }
    void Attributes(uintptr_t base) {
        gl->glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(base));
        gl->glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex), reinterpret_cast<void*>(base + 12));
        gl->glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(base + 16));
        for (GLuint i = 0; i < 3; ++i) gl->glEnableVertexAttribArray(i);
    }
    ~DirectGl() {
        if (!gl) return;
        gl->glDeleteProgram(program);
        gl->glDeleteVertexArrays(1, &vao);
        gl->glDeleteBuffers(1, &vbo);
        gl->glDeleteBuffers(1, &ibo);
        gl->glDeleteTextures(2, textures);
        gl->glDeleteTextures(1, &target);
        gl->glDeleteFramebuffers(1, &fbo);
    }
};

// (a) Indexed draws with state changes, both sides in every iteration.
void BM_IndexedDraws(benchmark::State& state) {
    Scene device, other;
    if (!device.ok || !other.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    DirectGl direct(other);
    const detail::GlFunctions* gl = direct.gl;
    if (!gl) {
        state.SkipWithError("no GL table");
        return;
    }
    Device* d = device.device;
    d->SetStreamSource(0, device.vb, 0, sizeof(Vertex));
    d->SetIndices(device.ib);
    SideTimes times;
    for (auto _ : state) {
        times.Run(0, [&] {
            d->BeginScene();
            for (int i = 0; i < kDraws; ++i) {
                d->SetRenderState(RS_ALPHABLENDENABLE, i & 1);
                const float offset[4] = {OffsetX(i), OffsetY(i), 0, 0};
                d->SetVertexShaderConstantF(0, offset, 1);
                d->SetTexture(0, device.textures[(i >> 1) & 1]);
                d->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, 4, 0, 2);
            }
            d->EndScene();  // waits for the GPU
        });
        direct.MakeCurrent();
        times.Run(1, [&] {
            for (int i = 0; i < kDraws; ++i) {
                (i & 1) ? gl->glEnable(GL_BLEND) : gl->glDisable(GL_BLEND);
                gl->glUniform2f(direct.offset, OffsetX(i), OffsetY(i));
                gl->glBindTexture(GL_TEXTURE_2D, direct.textures[(i >> 1) & 1]);
                gl->glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
            }
            gl->glFinish();
        });
    }
    state.SetItemsProcessed(state.iterations() * 2 * kDraws);
    times.Report(state);
}

// (b) Dynamic vertices: discard locks against persistently mapped storage, both sides in
// every iteration.
void BM_DynamicVertices(benchmark::State& state) {
    Scene device, other;
    if (!device.ok || !other.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    DirectGl direct(other);
    const detail::GlFunctions* gl = direct.gl;
    if (!gl) {
        state.SkipWithError("no GL table");
        return;
    }
    Device* d = device.device;
    VertexBuffer* dynamic = nullptr;
    d->CreateVertexBuffer(4 * sizeof(Vertex), USAGE_DYNAMIC | USAGE_WRITEONLY, kFvf, POOL_DEFAULT, &dynamic, nullptr);
    d->SetStreamSource(0, dynamic, 0, sizeof(Vertex));
    d->SetTexture(0, device.textures[0]);
    direct.MakeCurrent();
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(kLockedDraws) * 4 * sizeof(Vertex);
    GLuint buffer = 0;
    gl->glGenBuffers(1, &buffer);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    const GLbitfield flags = GL_MAP_WRITE_BIT | GL_MAP_PERSISTENT_BIT | GL_MAP_COHERENT_BIT;
    gl->glBufferStorage(GL_ARRAY_BUFFER, bytes, nullptr, flags);
    auto* mapped = static_cast<Vertex*>(gl->glMapBufferRange(GL_ARRAY_BUFFER, 0, bytes, flags));
    direct.Attributes(0);
    gl->glUniform2f(direct.offset, 0, 0);
    gl->glBindTexture(GL_TEXTURE_2D, direct.textures[0]);
    SideTimes times;
    for (auto _ : state) {
        times.Run(0, [&] {
            d->BeginScene();
            for (int i = 0; i < kLockedDraws; ++i) {
                void* p = nullptr;
                dynamic->Lock(0, 0, &p, LOCK_DISCARD);
                auto* v = static_cast<Vertex*>(p);
                const float x = OffsetX(i), y = OffsetY(i);
                v[0] = {x - 0.05f, y - 0.05f, 0.5f, 0xFFFFFFFF, 0, 1};
                v[1] = {x - 0.05f, y + 0.05f, 0.5f, 0xFFFFFFFF, 0, 0};
                v[2] = {x + 0.05f, y - 0.05f, 0.5f, 0xFFFFFFFF, 1, 1};
                v[3] = {x + 0.05f, y + 0.05f, 0.5f, 0xFFFFFFFF, 1, 0};
                dynamic->Unlock();
                d->DrawPrimitive(PT_TRIANGLESTRIP, 0, 2);
            }
            d->EndScene();
        });
        direct.MakeCurrent();
        times.Run(1, [&] {
            for (int i = 0; i < kLockedDraws; ++i) {
                Vertex* v = mapped + i * 4;
                const float x = OffsetX(i), y = OffsetY(i);
                v[0] = {x - 0.05f, y - 0.05f, 0.5f, 0xFFFFFFFF, 0, 1};
                v[1] = {x - 0.05f, y + 0.05f, 0.5f, 0xFFFFFFFF, 0, 0};
                v[2] = {x + 0.05f, y - 0.05f, 0.5f, 0xFFFFFFFF, 1, 1};
                v[3] = {x + 0.05f, y + 0.05f, 0.5f, 0xFFFFFFFF, 1, 0};
                gl->glDrawArrays(GL_TRIANGLE_STRIP, i * 4, 4);
            }
            gl->glFinish();  // the storage is written again next iteration
        });
    }
    direct.MakeCurrent();
    gl->glUnmapBuffer(GL_ARRAY_BUFFER);
    gl->glDeleteBuffers(1, &buffer);
    dynamic->Release();
    state.SetItemsProcessed(state.iterations() * 2 * kLockedDraws);
    times.Report(state);
}

BENCHMARK(BM_IndexedDraws)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DynamicVertices)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("(a) device time / direct GL time per draw, wall",
                              reporter.Of("BM_IndexedDraws", "device/direct"), "at most 1.30");
    benchsupport::PrintFigure("(a) device time / direct GL time per draw, CPU",
                              reporter.Of("BM_IndexedDraws", "device/direct_cpu"));
    // The rate ratio is the inverse of the time ratio, repetition by repetition.
    const std::vector<double> ones(reporter.Values("BM_DynamicVertices", "device/direct").size(), 1.0);
    benchsupport::PrintFigure("(b) device rate / direct persistent-buffer rate, wall",
                              benchsupport::RatioSpread(ones, reporter.Values("BM_DynamicVertices", "device/direct")),
                              "at least 0.80");
    benchsupport::PrintFigure("(b) device rate / direct persistent-buffer rate, CPU",
                              benchsupport::RatioSpread(ones, reporter.Values("BM_DynamicVertices", "device/direct_cpu")));
    benchmark::Shutdown();
    return 0;
}
