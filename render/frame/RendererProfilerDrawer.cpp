#include "render/frame/RendererProfilerDrawer.h"

#include <cstring>

#include "core/BaseThread.h"
#include "core/math/Matrix.h"
#include "render/DeviceObjectHandle.h"
#include "render/UIDrawServices.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"

using namespace gfx;

// ---- Main thread ----

CommandRingBuffer* RendererProfilerDrawer::BeginRenderCall(RenderCallFunction function, uint32_t argument,
                                                           uint32_t payloadBytes) {
    const uintptr_t wideArgument = argument;
    if (!gVornexRenderer.BeginCommand(TASK_CALL, sizeof function + sizeof wideArgument + payloadBytes)) return nullptr;
    CommandRingBuffer& ring = gVornexRenderer.Ring();
    ring.WriteValue(function);
    ring.WriteValue(wideArgument);
    return &ring;
}

void RendererProfilerDrawer::SetOverlayCamera(uint32_t width, uint32_t height, const Matrix& projection) {
    gVornexRenderer.SetViewport(0, 0, width, height, 0.0f, 1.0f);
    gVornexRenderer.SetCamera(Matrix::IDENTITY, projection, Matrix::IDENTITY);
}

// ---- Render thread ----

void RendererProfilerDrawer::UpdateFrameStatistics() { gVornexRenderer.UpdateFrameStatistics(); }

bool RendererProfilerDrawer::CreateGraphVertexBuffer(const float* xyz, uint32_t vertexCount) {
    ReleaseGraphVertexBuffer();
    if (VertexDeclarationCache* cache = gVornexRenderer.DeclarationCache())
        graphBuffer = cache->CreateVertexBuffer(vertexCount * 12, USAGE_WRITEONLY, POOL_DEFAULT, xyz);
    return graphBuffer != nullptr;
}

void RendererProfilerDrawer::ReleaseGraphVertexBuffer() { SafeReleaseInterface(&graphBuffer); }

void RendererProfilerDrawer::SetBlendMode(uint32_t mode) { gVornexRenderer.SetBlendMode(mode); }

void RendererProfilerDrawer::SetDepthState(uint32_t function, bool write) {
    gVornexRenderer.SetDepthState(function, write ? 1 : 0, 0, 0);
}

void RendererProfilerDrawer::SetCullMode(uint32_t mode) { gVornexRenderer.SetCullMode(mode); }

// The overlay draws with the shader manager's fixed slot 0 ("FixedPipelineReplacement"
// without options); its model colour and matrix go to that shader's constants.
namespace {
const VertexShaderObject* FixedVertexShader() {
    return gShaderManager ? gShaderManager->Fixed(0).vertexObject : nullptr;
}
}  // namespace

void RendererProfilerDrawer::SetFixedPipelineShader() {
    if (gShaderManager) {
        gShaderManager->Fixed(0).Bind();
        return;
    }
    gVornexRenderer.SetVertexShader(nullptr);
    gVornexRenderer.SetPixelShader(nullptr);
}

void RendererProfilerDrawer::SetModelColor(const Vector& colour) {
    gVornexRenderer.SetModelColor(colour);
    if (const VertexShaderObject* v = FixedVertexShader()) v->SetModelColor(colour);
}

void RendererProfilerDrawer::DrawGraphVertices(uint32_t primitive, uint32_t firstVertex, uint32_t primitiveCount,
                                               const Matrix& world) {
    Device* device = gVornexRenderer.Device();
    if (!device || !graphBuffer) return;
    gVornexRenderer.SetModelMatrix(world);
    if (const VertexShaderObject* v = FixedVertexShader()) v->SetModelMatrix(world, false);
    device->SetFVF(FVF_XYZ);
    device->SetStreamSource(0, graphBuffer, 0, 12);
    gVornexRenderer.DrawPrimitive(static_cast<PrimitiveType>(primitive), firstVertex, primitiveCount);
    device->SetStreamSource(0, nullptr, 0, 0);
}

void RendererProfilerDrawer::DrawLines(const float* xyz, uint32_t lineCount, const Matrix& world) {
    Device* device = gVornexRenderer.Device();
    if (!device) return;
    gVornexRenderer.SetModelMatrix(world);
    if (const VertexShaderObject* v = FixedVertexShader()) v->SetModelMatrix(world, false);
    device->SetFVF(FVF_XYZ);
    gVornexRenderer.DrawPrimitiveUP(PT_LINELIST, lineCount, xyz, 12);
}

float RendererProfilerDrawer::MeasureText(void* font, const char* text) {
    return GetUIDrawServices().MeasureText(static_cast<::Resource*>(font), text);
}

void RendererProfilerDrawer::DrawText(void* font, const char* text, float x, float y, const Vector& colour) {
    if (!text) return;
    Matrix place;
    place.LoadTranslation(x, y, 0.0f);
    // Blended glyphs (blend mode 1), not mirrored, over everything (depth function 8).
    GetUIDrawServices().DrawText(static_cast<::Resource*>(font), text, static_cast<uint32_t>(std::strlen(text)), place,
                                 colour, 1, 0, 8);
}
