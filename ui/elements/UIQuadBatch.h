#pragma once
// UIQuadBatch: merges consecutive UI quads of equal render state into one indexed draw
// from user memory. Four global batches, one per gathering channel (0-3); a picture names
// its channel, flat quads use channel 0. A batch holds up to 64 quads; it draws when its
// state changes, when it is full, and when the tree draw asks (alignment and clip changes,
// the pending-element flags, the end of every tree).
//
// Render thread only. The batches are made by the UI's start-up table and live until
// shutdown; nothing is allocated per frame.
#include <cstdint>

#include "core/math/Matrix.h"

class DeviceObjectHandle;
class PixelShaderObject;
class VertexShaderObject;

// One UI vertex as the renderer's global declaration reads it (52 bytes): linear RGBA
// colour, position after the element transform, the element's pixel-shader parameter,
// texture coordinate.
struct UIQuadVertex {
    float colour[4];
    float position[3];
    float parameter[4];
    float uv[2];
};
static_assert(sizeof(UIQuadVertex) == 52, "the UI vertex is the global declaration's 52 bytes");

// The fade record of the tree draw: two rows of the fading element's inverse transform
// (vertex c12-c13) and the vertical fade band (pixel c3).
struct UIFadeRecord {
    Vector rows[2];
    Vector band;
};

// The fade record that fades nothing (alpha factor saturate(0 + 1)).
inline constexpr UIFadeRecord kUINoFade{{Vector(1, 0, 0, 0), Vector(0, 1, 0, 0)}, Vector(0, 0, 1, 0)};

// Vertex and pixel registers the UI writes.
enum : uint32_t {
    kUIFadeVertexRegister = 12,
    kUIFadePixelRegister = 3,
    kUITexScaleRegister = 195,
    kUITexOffsetRegister = 196,
    kUIScreenQuadPixelRegister = 4,
    kUIParameterPixelRegister = 32,
};

// Renderer state values of the UI draws.
enum : uint32_t {
    kUIDepthAlways = 8,     // no depth test
    kUIDepthLessEqual = 4,  // UIFLAG_DEPTHTEST
    // Cull modes: the batches emit corners counter-clockwise in UI space (y down), the
    // shared unit quad clockwise; a camera or element that mirrors turns the winding.
    kUICullCounterClockwise = 3,
    kUICullClockwise = 2,
    kUISamplerClamp = 0x2 | 0x4,           // SAMPLER_CLAMP_U | SAMPLER_CLAMP_V ("mode 6")
    kUISamplerClampSRGB = 0x2 | 0x4 | 0x1,  // ... with SAMPLER_SRGB ("mode 7")
};

class UIQuadBatch {
public:
    static constexpr uint32_t kMaxQuads = 64;
    static constexpr uint32_t kChannels = 4;
    // Matches no real blend mode, so the first SetState always takes its state.
    static constexpr uint32_t kNoBlendMode = 10;

    UIQuadBatch() = default;
    UIQuadBatch(const UIQuadBatch&) = delete;
    UIQuadBatch& operator=(const UIQuadBatch&) = delete;

    // Flushes when any part differs from the current state, then stores the new state.
    void SetState(uint32_t blendMode, const DeviceObjectHandle* texture0, uint32_t sampler0,
                  const DeviceObjectHandle* texture1, uint32_t sampler1, const VertexShaderObject* vertexShader,
                  const PixelShaderObject* pixelShader, const UIFadeRecord* constants);
    // Four vertices of the unit square through the matrix (which holds the size scale);
    // corner colours in corner order (0, 0), (1, 0), (1, 1), (0, 1). Flushes at 64 quads.
    void AddQuad(const Matrix& world, const Vector colours[4], bool mirrored, const Vector& parameter,
                 const Vector& texScale, const Vector& texOffset);
    void AddQuad(const Matrix& world, const Vector& colour, bool mirrored, const Vector& parameter,
                 const Vector& texScale, const Vector& texOffset);
    // Ready-made vertices (a multiple of four), positions through the matrix.
    void AddVertices(const UIQuadVertex* vertices, uint32_t count, const Matrix& world);
    // Draws the held quads (if any) and empties the batch.
    void Flush();

    uint32_t QuadCount() const { return quads; }

private:
    UIQuadVertex vertices[kMaxQuads * 4];
    uint32_t quads = 0;
    const VertexShaderObject* vertexShader = nullptr;
    const PixelShaderObject* pixelShader = nullptr;
    const DeviceObjectHandle* textures[2] = {};
    uint32_t samplers[2] = {};
    uint32_t blendMode = kNoBlendMode;
    bool hasConstants = false;
    UIFadeRecord constants{};
};

// scale(size) x world: the unit square stretched to the size, then the element's matrix.
inline Matrix UISizedMatrix(const Matrix& world, const Vector& size) {
    Matrix m = world;
    m.r[0] = world.r[0] * size.x;
    m.r[1] = world.r[1] * size.y;
    return m;
}

// Start-up and shutdown (the UI's start-up table).
void CreateUIQuadBatches();
void DestroyUIQuadBatches();
// The batch of a gathering channel (0-3; larger channels use 3).
UIQuadBatch& GetUIQuadBatch(uint32_t channel);
// Flushes the four batches in channel order.
void FlushUIQuadBatches();
