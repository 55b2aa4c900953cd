#pragma once
// The profiler's window on the renderer. The profiler never touches the graphics
// device or the render command stream itself: the renderer implements this interface
// and hands it over with Profiler::SetDrawer at start-up.
//
// Main-thread calls post into the render command stream; render-thread calls run
// while the profiler executes its own render commands (inside the overlay draw) or
// when the renderer creates and releases its device objects.
#include <cstdint>

class CommandRingBuffer;
class Matrix;
struct Vector;

// The function carried by the renderer's function-call command: it runs on the render
// thread with the command's argument and a reader positioned at the rest of the
// payload, which it consumes.
using RenderCallFunction = void (*)(uint32_t argument, CommandRingBuffer& reader);

// Primitive types, with the values of the device interface.
enum : uint32_t { PROFILER_PRIMITIVE_LINELIST = 2, PROFILER_PRIMITIVE_LINESTRIP = 3, PROFILER_PRIMITIVE_TRIANGLEFAN = 6 };
// Render-state values used by the overlay.
enum : uint32_t {
    PROFILER_BLEND_OPAQUE = 0,
    PROFILER_BLEND_ALPHA = 1,
    PROFILER_CMP_LESSEQUAL = 4,
    PROFILER_CULL_NONE = 1,
};

class ProfilerDrawer {
public:
    virtual ~ProfilerDrawer() = default;

    // ---- Main thread ----
    // Reserves a function-call record (function, argument, then payloadBytes that the
    // caller writes through the returned ring) in the render command stream. Null
    // when nothing can be posted; otherwise EndRenderCall commits it.
    virtual CommandRingBuffer* BeginRenderCall(RenderCallFunction function, uint32_t argument,
                                               uint32_t payloadBytes) = 0;
    virtual void EndRenderCall() = 0;
    // Posts viewport (0, 0, width, height, depth 0..1), the projection and an identity
    // view for the overlay.
    virtual void SetOverlayCamera(uint32_t width, uint32_t height, const Matrix& projection) = 0;
    // Finds and loads a font resource by name (resource kind 2); null when unavailable.
    virtual void* AcquireFont(const char* name) = 0;
    virtual void ReleaseFont(void* font) = 0;

    // ---- Render thread ----
    // Feeds the renderer's frame statistics counters (run at the start of each overlay
    // draw).
    virtual void UpdateFrameStatistics() = 0;
    // The static graph vertex buffer (x, y, z floats, stride 12).
    virtual bool CreateGraphVertexBuffer(const float* xyz, uint32_t vertexCount) = 0;
    virtual void ReleaseGraphVertexBuffer() = 0;
    // Render state through the state cache.
    virtual void SetBlendMode(uint32_t mode) = 0;
    virtual void SetDepthState(uint32_t function, bool write) = 0;
    virtual void SetCullMode(uint32_t mode) = 0;
    virtual void SetFixedPipelineShader() = 0;  // shader slot 0, no options
    virtual void SetModelColor(const Vector& colour) = 0;
    // Primitives from the graph vertex buffer, placed by world.
    virtual void DrawGraphVertices(uint32_t primitive, uint32_t firstVertex, uint32_t primitiveCount,
                                   const Matrix& world) = 0;
    // A line list from client memory (x, y, z floats, two vertices per line).
    virtual void DrawLines(const float* xyz, uint32_t lineCount, const Matrix& world) = 0;
    virtual float MeasureText(void* font, const char* text) = 0;
    virtual void DrawText(void* font, const char* text, float x, float y, const Vector& colour) = 0;
};
