#include "render/scene/DebugPathList.h"

#include <cstring>

#include "core/math/Matrix.h"
#include "platform/gfx/GfxDevice.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/SceneCommand.h"
#include "render/shaders/ShaderManager.h"
#include "render/shaders/ResourceShader.h"

namespace {
constexpr uint32_t kPointBytes = 12;  // x, y, z: the posted arrays
// The buffers' vertices: the point and a white diffuse colour, which the fixed-pipeline
// shader multiplies by the list's colour (a stream without a colour reads as black).
struct PathVertex {
    float x, y, z;
    uint32_t diffuse;
};
constexpr uint32_t kVertexFvf = gfx::FVF_XYZ | gfx::FVF_DIFFUSE;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kMaxPoints = 1u << 20;
constexpr uint32_t kBlendRowOpaque = 0;

uint32_t FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}
}  // namespace

DebugPathList::~DebugPathList() {
    for (gfx::VertexBuffer*& b : buffers) SafeReleaseInterface(&b);
}

// ---------------------------------------------------------------------------------------
// Main thread

void DebugPathList::SetPoints(const Vector* points, uint32_t count) {
    float* copy = nullptr;
    if (points && count > 0) {
        copy = new float[size_t(count) * 3];
        for (uint32_t i = 0; i < count; ++i) std::memcpy(copy + 3 * i, &points[i].x, kPointBytes);
    } else {
        count = 0;
    }
    if (!PostObjectCall(&Execute, 1, this, copy, count)) delete[] copy;
}

void DebugPathList::PostDraw() { PostObjectCall(&Execute, 2, this); }

void DebugPathList::PostRelease() {
    const float* none = nullptr;
    PostObjectCall(&Execute, 0, this, none, uint32_t(0));
    gVornexRenderer.FlushCommands(true);
}

// ---------------------------------------------------------------------------------------
// Render thread

void DebugPathList::Execute(uint32_t op, CommandRingBuffer& r) {
    DebugPathList* list = nullptr;
    if (!Read(r, list)) return;
    if (op == 0 || op == 1) {
        float* points = nullptr;
        uint32_t count = 0;
        if (!Read(r, points, count)) return;
        if (list) {
            list->Replace(op, points, count);
            if (op == 0) list->Replace(1, nullptr, 0);
        }
        delete[] points;
    } else if (op == 2 && list) {
        list->Draw();
    }
}

void DebugPathList::Replace(uint32_t list, const float* points, uint32_t count) {
    SafeReleaseInterface(&buffers[list]);
    counts[list] = 0;
    gfx::Device* device = gVornexRenderer.Device();
    // A zero-sized buffer is invalid; a count past the cap would overflow the size.
    if (!device || !points || count == 0 || count > kMaxPoints) return;
    const uint32_t bytes = count * uint32_t(sizeof(PathVertex));
    gfx::VertexBuffer* buffer = nullptr;
    if (gfx::Failed(device->CreateVertexBuffer(bytes, gfx::USAGE_WRITEONLY, kVertexFvf, gfx::POOL_MANAGED, &buffer,
                                               nullptr)) ||
        !buffer)
        return;
    void* locked = nullptr;
    if (gfx::Failed(buffer->Lock(0, bytes, &locked, 0)) || !locked) {
        buffer->Release();
        return;
    }
    auto* out = static_cast<PathVertex*>(locked);
    for (uint32_t i = 0; i < count; ++i) out[i] = {points[3 * i], points[3 * i + 1], points[3 * i + 2], kWhite};
    buffer->Unlock();
    buffers[list] = buffer;
    counts[list] = count;
}

void DebugPathList::Draw() {
    gfx::Device* device = gVornexRenderer.Device();
    if (!device || (!buffers[0] && !buffers[1])) return;
    device->SetFVF(kVertexFvf);
    gVornexRenderer.SetBlendMode(kBlendRowOpaque);
    gVornexRenderer.SetDepthState(gfx::CMP_LESSEQUAL, 0, 0, 0);
    const VertexShaderObject* shader = nullptr;
    if (gShaderManager) {
        gShaderManager->Fixed(0).Bind();
        shader = gShaderManager->Fixed(0).vertexObject;
    }
    gVornexRenderer.SetModelMatrix(Matrix::IDENTITY);
    if (shader) shader->SetModelMatrix(Matrix::IDENTITY, false);
    static const struct {
        float size;
        Vector color;
    } kLooks[2] = {{kFirstPointSize, Vector(1, 1, 1, 1)}, {kSecondPointSize, Vector(1, 0, 0, 0)}};
    for (uint32_t i = 0; i < 2; ++i) {
        if (!buffers[i]) continue;
        device->SetRenderState(gfx::RS_POINTSIZE, FloatBits(kLooks[i].size));
        gVornexRenderer.SetModelColor(kLooks[i].color);
        if (shader) shader->SetModelColor(kLooks[i].color);
        device->SetStreamSource(0, buffers[i], 0, sizeof(PathVertex));
        gVornexRenderer.DrawPrimitive(gfx::PT_POINTLIST, 0, counts[i]);
    }
    device->SetStreamSource(0, nullptr, 0, 0);
}
