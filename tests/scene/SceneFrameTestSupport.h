#pragma once
// What the frame tests of the scene kinds (meshes, particles, placed kinds) share: the
// entity manager over a 200 x 60 x 200 box seen by the frame camera from (0, 30, -60),
// one frame of the pass driver over a list of entities, meshes written by the mesh tool
// (tests/support/mesh_block.py), the reviewed list a frame's draws are held to, and
// property lists as the engine writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "../render/RenderTestSupport.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/mesh/MeshData.h"
#include "scene/startup/SceneStaticInit.h"

namespace sceneframe {

// The block the mesh tool writes for model, a Python expression over the tool's module m;
// file names the scratch file under the build folder.
inline std::vector<uint8_t> MeshToolBlock(const std::string& model, const std::string& file) {
    const std::string path = PROJECT_BINARY_ROOT "/" + file;
    const std::string script = "import sys; sys.path.insert(0, '" PROJECT_SOURCE_ROOT "/tests/support'); "
                               "import mesh_block as m; open('" + path + "', 'wb').write(m.write(" + model + "))";
    EXPECT_TRUE(shelltest::Shell("python3 -c \"" + script + "\"")) << model;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The reviewed list at path (a source file), one line a draw. With the environment
// variable writeVariable set, lines are written there first, to be reviewed.
inline std::vector<std::string> ReviewedList(const std::string& path, const char* writeVariable,
                                             const std::vector<std::string>& lines) {
    if (std::getenv(writeVariable)) {
        std::ofstream out(path);
        for (const std::string& l : lines) out << l << "\n";
    }
    std::ifstream in(path);
    std::vector<std::string> expected;
    for (std::string l; std::getline(in, l);) expected.push_back(l);
    return expected;
}

// The object's property list as the engine writes it.
inline std::vector<uint8_t> Written(const RTTIPolyBaseClass& object) {
    const RTTIClass* cls = object.GetRTTIClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &object, 0));
    cls->SerializeProperties(out.data(), &object, 0);
    return out;
}

inline bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& head) {
    return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

inline bool EndsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& tail) {
    return bytes.size() >= tail.size() && std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

// One mesh draw at the point with the colour (no rotation, unit scale).
inline MeshDrawBatchRecord MeshRecord(const Vector& at, const Vector& colour = Vector(1, 1, 1, 1)) {
    MeshDrawBatchRecord r{};
    r.world = Matrix::IDENTITY;
    r.world.r[3] = at;
    r.second = r.world;
    r.colour = colour;
    r.scalar = 1.0f;
    return r;
}

// Pixels (0xRRGGBB) of a and b that differ by more than tolerance in a channel.
inline size_t DifferingPixels(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int tolerance = 3) {
    size_t off = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            if (std::abs(int(a[i] >> s & 0xFF) - int(b[i] >> s & 0xFF)) > tolerance) {
                ++off;
                break;
            }
    return off;
}

// The pixels whose centres lie inside a projected rectangle (x0, y0, x1, y1 in pixels),
// as an inclusive pixel rectangle.
inline std::array<int, 4> CentresInside(const std::vector<double>& r) {
    if (r.size() != 4) return {};
    return {int(std::ceil(r[0] - 0.5)), int(std::ceil(r[1] - 0.5)), int(std::floor(r[2] - 0.5)),
            int(std::floor(r[3] - 0.5))};
}

// The scene parameters in force: only a sun, travelling along `direction` (world space),
// of the given linear colour (times 0.25 as stored for the shaders: 4 x 0.25 = 1), the
// light the forward pass draws mesh parts with.
inline void SetSunOnly(const Vector& direction, const Vector& colour) {
    rendertest::RunOnRenderThread([&] {
        SceneParameterBlock& p = gRendererScene->GetCurrentParameters()->Values();
        p.light.lightDirection = direction;
        p.light.lightColor = colour;
        p.light.secondaryColor = p.light.sideColor = Vector(0, 0, 0, 0);
        p.light.wrapAroundFactor = Vector(0, 0, 0, 0);
    });
}

// A renderer fixture (Base, started: created) with the scene hooks and the entity
// manager over sceneBox (a derived constructor may change it, or cellSize).
template <class Base>
struct SceneEntityFixture : Base {
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(this->created);
        InstallSceneServices();
        gEntityManager->Init(sceneBox, cellSize);
    }
    // Empties the scene and lets the render thread drop the entities' proxies; a derived
    // TearDown calls it before it frees the templates the entities used.
    void EndScene() {
        gEntityManager->NewScene();
        gVornexRenderer.FlushCommands(true);
    }
    void TearDown() override {
        EndScene();
        Base::TearDown();
    }
    BoundingBox4 sceneBox{Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)};
    float cellSize = 10.0f;
};

// A renderer fixture (Base: BeginFrame, EndFrame and the recorder) with the scene hooks,
// the entity manager's box and the frame camera.
template <class Base>
struct SceneFrameFixture : SceneEntityFixture<Base> {
    SceneFrameFixture() { this->sceneBox = BoundingBox4(Vector(-100, -10, -100, 1), Vector(100, 50, 100, 1)); }
    void SetUp() override {
        SceneEntityFixture<Base>::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 30, -60, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 500.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    // The draws of one frame of the pass driver over the entities (with their helper
    // shapes when asked); beforeEnd runs once the frame's commands are done, before it ends.
    std::vector<gfx::DrawRecord> FrameDraws(const std::vector<Entity*>& entities, bool helpers = false,
                                            const std::function<void()>& beforeEnd = {}) {
        this->recorder->ClearDrawRecords();
        this->BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        for (Entity* e : entities) {
            if (helpers) e->SubmitHelperRendering(0);
            e->SubmitForRendering(0);
        }
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), 0, 1);
        gVornexRenderer.FlushCommands(true);
        if (beforeEnd) beforeEnd();
        std::vector<gfx::DrawRecord> draws = this->recorder->DrawRecords();
        this->EndFrame();
        return draws;
    }
};

}  // namespace sceneframe
