#pragma once
// Shared pieces of the UI drawing tests: the renderer fixture with the UI's hooks, the
// float32 reference script, and matrix and vertex helpers.
#include <string>
#include <vector>

#include "UIElementTestSupport.h"
#include "engine/NumpyReference.h"
#include "render/RenderTestSupport.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIQuadBatch.h"

void InstallUIScreenServices();  // ui/elements/UIScreenServices.cpp

namespace drawtest {

inline const char* kScript = "../ui/elements/ui_draw_reference.py";

inline std::string Hex(const Matrix& m) {
    std::string s;
    for (const Vector& r : m.r)
        for (float f : {r.x, r.y, r.z, r.w}) s += FloatBits(f) + " ";
    return s;
}
inline std::string Hex(const Vector& v) {
    return FloatBits(v.x) + " " + FloatBits(v.y) + " " + FloatBits(v.z) + " " + FloatBits(v.w) + " ";
}

// The floats of a draw record's vertex copy.
inline std::vector<float> VertexFloats(const gfx::DrawRecord& d) {
    std::vector<float> out;
    if (!d.userVertices) return out;
    out.resize(d.userVertices->size() / 4);
    std::memcpy(out.data(), d.userVertices->data(), out.size() * 4);
    return out;
}

inline std::vector<gfx::DrawRecord> IndexedUPDraws(const std::vector<gfx::DrawRecord>& all) {
    std::vector<gfx::DrawRecord> out;
    for (const gfx::DrawRecord& d : all)
        if (d.call == gfx::CallKind::DrawIndexedPrimitiveUP) out.push_back(d);
    return out;
}

// The renderer on the recording device with the UI's table entries installed.
struct UIDrawFixture : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        InstallUIServices();
        InstallUIScreenServices();
    }
    void TearDown() override {
        RendererFixture::TearDown();
        InstallUIServices();
        InstallUIScreenServices();
    }
    // Render thread: an orthographic UI camera mapping (0, 0)-(w, h) onto the viewport,
    // y down.
    static void SetFlatCamera(float w, float h) {
        Matrix projection;
        projection.LoadOrthoOffCenterLH(0, w, h, 0, 0, 1);
        gVornexRenderer.SetCameraState(Matrix::IDENTITY, projection, Matrix::IDENTITY, 0);
    }
};

}  // namespace drawtest
