// The drawing device against the same OpenGL calls made directly, in one run:
//  (a) 10,000 small indexed draws per iteration with state changes between them (blend
//      on and off, a vertex constant, one of two textures), through gfx::Device on the
//      drawing device, against the same draws and state as direct GL calls;
//  (b) 1,000 draws per iteration, each from a dynamic vertex buffer locked with discard,
//      against the same vertices written into persistently mapped storage.
// Both sides end every iteration waiting for the GPU (the device at EndScene, the
// direct side with glFinish). Ratios are printed at the end (goals: (a) the device adds
// at most 30 %, (b) at least 0.8 of the direct rate). Run on the software rasteriser
// (GALLIUM_DRIVER=llvmpipe, EGL_PLATFORM=surfaceless) unless a GPU is wanted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/DrawingDeviceBench.h"
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

// Draws per second of each side, for the ratios printed at the end.
std::map<std::string, double>& Rates() {
    static std::map<std::string, double> rates;
    return rates;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

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

void BM_DeviceIndexedDraws(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    Device* d = scene.device;
    d->SetStreamSource(0, scene.vb, 0, sizeof(Vertex));
    d->SetIndices(scene.ib);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        d->BeginScene();
        for (int i = 0; i < kDraws; ++i) {
            d->SetRenderState(RS_ALPHABLENDENABLE, i & 1);
            const float offset[4] = {OffsetX(i), OffsetY(i), 0, 0};
            d->SetVertexShaderConstantF(0, offset, 1);
            d->SetTexture(0, scene.textures[(i >> 1) & 1]);
            d->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, 4, 0, 2);
        }
        d->EndScene();  // waits for the GPU
    }
    state.SetItemsProcessed(state.iterations() * kDraws);
    Rates()["a_device"] = static_cast<double>(state.iterations()) * kDraws / Seconds(start);
}

// Direct GL on the context of a drawing device (made current by one draw through it).
struct DirectGl {
    const detail::GlFunctions* gl = nullptr;
    GLuint program = 0, vao = 0, vbo = 0, ibo = 0, fbo = 0, target = 0, textures[2] = {};
    GLint offset = -1;

    explicit DirectGl(Scene& scene) {
        scene.device->SetStreamSource(0, scene.vb, 0, sizeof(Vertex));
        scene.device->SetIndices(scene.ib);
        scene.device->BeginScene();
        scene.device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, 4, 0, 2);
        scene.device->EndScene();
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

void BM_DirectIndexedDraws(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    DirectGl direct(scene);
    const detail::GlFunctions* gl = direct.gl;
    if (!gl) {
        state.SkipWithError("no GL table");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < kDraws; ++i) {
            (i & 1) ? gl->glEnable(GL_BLEND) : gl->glDisable(GL_BLEND);
            gl->glUniform2f(direct.offset, OffsetX(i), OffsetY(i));
            gl->glBindTexture(GL_TEXTURE_2D, direct.textures[(i >> 1) & 1]);
            gl->glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
        }
        gl->glFinish();
    }
    state.SetItemsProcessed(state.iterations() * kDraws);
    Rates()["a_direct"] = static_cast<double>(state.iterations()) * kDraws / Seconds(start);
}

void BM_DeviceDiscardLocks(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    Device* d = scene.device;
    VertexBuffer* dynamic = nullptr;
    d->CreateVertexBuffer(4 * sizeof(Vertex), USAGE_DYNAMIC | USAGE_WRITEONLY, kFvf, POOL_DEFAULT, &dynamic, nullptr);
    d->SetStreamSource(0, dynamic, 0, sizeof(Vertex));
    d->SetTexture(0, scene.textures[0]);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
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
    }
    dynamic->Release();
    state.SetItemsProcessed(state.iterations() * kLockedDraws);
    Rates()["b_device"] = static_cast<double>(state.iterations()) * kLockedDraws / Seconds(start);
}

void BM_DirectPersistentBuffer(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no drawing device");
        return;
    }
    DirectGl direct(scene);
    const detail::GlFunctions* gl = direct.gl;
    if (!gl) {
        state.SkipWithError("no GL table");
        return;
    }
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
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
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
    }
    gl->glUnmapBuffer(GL_ARRAY_BUFFER);
    gl->glDeleteBuffers(1, &buffer);
    state.SetItemsProcessed(state.iterations() * kLockedDraws);
    Rates()["b_direct"] = static_cast<double>(state.iterations()) * kLockedDraws / Seconds(start);
}

BENCHMARK(BM_DeviceIndexedDraws)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectIndexedDraws)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeviceDiscardLocks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectPersistentBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::map<std::string, double>& r = Rates();
    if (r["a_device"] > 0 && r["a_direct"] > 0)
        std::printf("(a) device time / direct GL time per draw: %.2f (goal: at most 1.30)\n", r["a_direct"] / r["a_device"]);
    if (r["b_device"] > 0 && r["b_direct"] > 0)
        std::printf("(b) device rate / direct persistent-buffer rate: %.2f (goal: at least 0.80)\n", r["b_device"] / r["b_direct"]);
    return 0;
}
