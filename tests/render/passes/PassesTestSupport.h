#pragma once
// Shared pieces of the frame pass tests: a recording rendering context that logs every
// draw with the device state it met, the reference script, and a renderer fixture that
// gathers and runs frames.
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "../RenderTestSupport.h"
#include "render/scene/EntityRenderingContext.h"

namespace passtest {

using namespace gfx;

// One draw of a recording context with the stencil and colour-write state it met.
struct DrawSeen {
    const EntityRenderingContext* context;
    const void* task;
    RenderTaskArguments arguments;
    uint32_t stencilEnable, pass, fail, zFail, function, reference, mask, writeMask, colorWrites;
    uint32_t lightSamplers[2][3] = {};  // samplers 6 and 7: sRGB read, address u, mag filter
    float sceneVertex[4] = {}, scenePixel[4] = {};  // the scene constants: vertex c249, pixel c220
};

inline std::vector<DrawSeen>& Seen() {
    static std::vector<DrawSeen> seen;
    return seen;
}

inline uint32_t DeviceState(RenderStateType s) {
    uint32_t v = 0;
    if (gVornexRenderer.Device()) gVornexRenderer.Device()->GetRenderState(s, &v);
    return v;
}

struct RecordingContext : EntityRenderingContext {
    explicit RecordingContext(const EntityRenderingContextSetup& s) : EntityRenderingContext(s) {}
    void Draw(void* task, const Matrix&, const RenderTaskArguments& a) override {
        Seen().push_back({this, task, a, DeviceState(RS_STENCILENABLE), DeviceState(RS_STENCILPASS),
                          DeviceState(RS_STENCILFAIL), DeviceState(RS_STENCILZFAIL), DeviceState(RS_STENCILFUNC),
                          DeviceState(RS_STENCILREF), DeviceState(RS_STENCILMASK), DeviceState(RS_STENCILWRITEMASK),
                          DeviceState(RS_COLORWRITEENABLE)});
        for (uint32_t i = 0; i < 2; ++i) {
            uint32_t* out = Seen().back().lightSamplers[i];
            if (!gVornexRenderer.Device()) break;
            gVornexRenderer.Device()->GetSamplerState(6 + i, SAMP_SRGBTEXTURE, &out[0]);
            gVornexRenderer.Device()->GetSamplerState(6 + i, SAMP_ADDRESSU, &out[1]);
            gVornexRenderer.Device()->GetSamplerState(6 + i, SAMP_MAGFILTER, &out[2]);
        }
        if (gfx::Device* d = gVornexRenderer.Device()) {
            d->GetVertexShaderConstantF(249, Seen().back().sceneVertex, 1);
            d->GetPixelShaderConstantF(220, Seen().back().scenePixel, 1);
        }
    }
    void DrawDepth(void* task, uint32_t flags) override { depthDraws.push_back(flags); }
    uint32_t OutlineCategory(uint32_t) const override { return category; }
    uint32_t category = 0;
    std::vector<uint32_t> depthDraws;
};

// A context outside the scene grid: a unit box at the position, in the bucket.
inline std::unique_ptr<RecordingContext> MakeContext(const Vector& position, uint32_t bucket, float sortBias = 0.0f) {
    EntityRenderingContextSetup s;
    s.creationFlags = ERC_FLAG_NO_GRID;
    s.entityFloat = sortBias;
    s.localBox = BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
    s.world = Matrix::IDENTITY;
    s.world.r[3] = Vector(position.x, position.y, position.z, 1);
    auto c = std::make_unique<RecordingContext>(s);
    c->PostSetBucket(bucket);
    return c;
}

// The output of passes_reference.py (Debian's interpreter, which has numpy).
inline std::string Reference(const std::string& arguments) {
    return rendertest::ShellOutput("/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/render/passes/passes_reference.py " +
                                   arguments);
}

}  // namespace passtest
