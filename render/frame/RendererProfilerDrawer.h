#pragma once
// RendererProfilerDrawer: the renderer's side of the profiler overlay.
//
// Main thread: BeginRenderCall writes a task-47 record {function, argument, then the
// announced bytes, which the caller writes through the returned ring}; SetOverlayCamera
// posts the viewport (task 28) and the camera (task 32); the font comes from the font
// lookup (the resource manager's kind-2 fonts once they exist; tests replace it).
// Render thread: everything else, through the renderer's state cache and counted draws;
// the panel geometry lives in a static vertex buffer that the renderer's device-object
// owner list rebuilds with the device.
#include <cstdint>

#include "core/profiler/ProfilerDrawer.h"

namespace gfx {
class VertexBuffer;
}

class RendererProfilerDrawer : public ProfilerDrawer {
public:
    // Finds and loads a font by name; null when unavailable.
    using FontAcquire = void* (*)(const char* name);
    using FontRelease = void (*)(void* font);
    void SetFontLookup(FontAcquire acquire, FontRelease release) { acquireFont = acquire, releaseFont = release; }

    CommandRingBuffer* BeginRenderCall(RenderCallFunction function, uint32_t argument, uint32_t payloadBytes) override;
    void EndRenderCall() override {}
    void SetOverlayCamera(uint32_t width, uint32_t height, const Matrix& projection) override;
    void* AcquireFont(const char* name) override { return acquireFont ? acquireFont(name) : nullptr; }
    void ReleaseFont(void* font) override {
        if (releaseFont) releaseFont(font);
    }

    void UpdateFrameStatistics() override;
    bool CreateGraphVertexBuffer(const float* xyz, uint32_t vertexCount) override;
    void ReleaseGraphVertexBuffer() override;
    void SetBlendMode(uint32_t mode) override;
    void SetDepthState(uint32_t function, bool write) override;
    void SetCullMode(uint32_t mode) override;
    void SetFixedPipelineShader() override;
    void SetModelColor(const Vector& colour) override;
    void DrawGraphVertices(uint32_t primitive, uint32_t firstVertex, uint32_t primitiveCount,
                           const Matrix& world) override;
    void DrawLines(const float* xyz, uint32_t lineCount, const Matrix& world) override;
    float MeasureText(void* font, const char* text) override;
    void DrawText(void* font, const char* text, float x, float y, const Vector& colour) override;

    gfx::VertexBuffer* GraphVertexBuffer() const { return graphBuffer; }

private:
    FontAcquire acquireFont = nullptr;
    FontRelease releaseFont = nullptr;
    gfx::VertexBuffer* graphBuffer = nullptr;
};
