// test-depends: shader_data
// test-sanitize: address
// test-timeout: 600
// Skinned pictures on the drawing device (software rasteriser), 128 x 128, a fixed camera:
// a two-bone arm (a white upper arm on bone 0, a red forearm on bone 1) posed by the pose
// evaluator of a mesh entity, its palette taken from the rendering context the entity
// posted it to. The red forearm covers the rectangle numpy projects its skinned corners
// to, a bent forearm leaves nothing where the straight one was, and the mesh skinned on
// the GPU (palette constants) and the same mesh skinned in main memory give one picture.
// A failed check (or RENDER_PICTURES=<folder>) saves the picture as PNG and names it.
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AnimationTestSupport.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "platform/gfx/ImageWriter.h"
#include "render/DeviceObjectHandle.h"
#include "render/shaders/ShaderTestSupport.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;
using namespace gfx;

namespace {

constexpr uint32_t kSide = 128;

// The arm: node "upper" at (0, -2, 0) with bone 0, node "fore" 2 above it (the elbow at
// the origin) with bone 1; bone matrices undo the bind pose. The upper arm's box spans
// y -2..0, the forearm's y 0..2 and is a little thinner so that the upper arm hides it
// where they overlap. Vertices name both bones, the second with weight 0. The GPU form
// keeps position, indices and weights in the vertex buffer and draws with SKINNING; the
// main-memory form keeps them for SkinVertices and draws the skinned positions.
const char kArmModel[] = R"(
import struct, sys
sys.path.insert(0, sys.argv[1] + '/tests/support')
import mesh_block as m
gpu = sys.argv[3] == 'gpu'
def box(x, y0, y1, z):
    return [(a, b, c) for c in (-z, z) for b in (y0, y1) for a in (-x, x)]
arm = [(p, 0) for p in box(0.25, -2, 0, 0.25)] + [(p, 1) for p in box(0.25, 0, 2, 0.2)]
cube = list(struct.unpack('<36H', bytes.fromhex(m.box_mesh()['rd']['ibytesA'])))
tris = cube + [i + 8 for i in cube]
layout = '<3f4B4B' if gpu else '<3f4B4B4x'
vertices = b''.join(struct.pack(layout, *p, b, 1 - b, 0, 0, 255, 0, 0, 0) for p, b in arm).hex()
position = [0, 0, 2, 0, 0, 0]
options = 'SKINNING' if gpu else ''
rd = {'declA': [position, [0, 12, 5, 0, 2, 0], [0, 16, 8, 0, 1, 0], m.DECL_END] if gpu else [position, m.DECL_END],
      'vcount': 16, 'stride': 20 if gpu else 16, 'ibytesA': struct.pack('<72H', *tris).hex(), 'iwordA': 72,
      'bones': 2, 'box': [-2.5, -2.5, -0.5, 1, 2.5, 2.5, 0.5, 1],
      'presets': [{'name': 'Default', 'parts': [{'first': 0, 'count': 12, 'flags': 0x4, 'options': options},
                                                {'first': 12, 'count': 12, 'flags': 0x804, 'options': options}]}]}
rd['declB'] = rd['declA']
if gpu:
    rd['vbytes'] = vertices
else:
    rd.update({'storage': 1, 'mm_flags': 3, 'mm_size': 24, 'mm_bytes': vertices, 'vbytes': ''})
def t(y):
    return [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, y, 0, 1]
hier = {'nodes': [{'name': 'upper', 'parent': 255, 'bone': 0, 'matrix': t(-2)},
                  {'name': 'fore', 'parent': 0, 'bone': 1, 'matrix': t(2)}],
        'bones': [t(2), t(0)],
        'tree': [{'name': 'root', 'first': 0, 'count': 2, 'parent': 0xFFFFFFFF, 'child': 0xFFFFFFFF,
                  'sibling': 0xFFFFFFFF}]}
open(sys.argv[2], 'wb').write(m.write({'rd': rd, 'hier': hier, 'metrics': [0, 0, 0, 0.0]}))
)";

// The reference: the same hierarchy posed with scipy's rotation about z, the palette
// bone x global with row vectors, the forearm's eight corners skinned by it and projected;
// the pixel rectangle they span (x0, y0, x1, y1).
const char kReference[] = R"(
import sys
import numpy as np
from scipy.spatial.transform import Rotation
VP = np.array([float(v) for v in sys.argv[1].split(',')]).reshape(4, 4)
angle = float(sys.argv[2])
def t(y):
    m = np.eye(4); m[3, 1] = y; return m
R = np.eye(4); R[:3, :3] = Rotation.from_euler('z', angle, degrees=True).as_matrix().T
upper = t(-2)
fore = R @ t(2) @ upper
bone = t(0) @ fore
P = np.array([[x, y, z, 1] for z in (-0.2, 0.2) for y in (0, 2) for x in (-0.25, 0.25)]) @ bone
C = P @ VP; C = C[:, :2] / C[:, 3:4]
x = (C[:, 0] + 1) * 0.5 * 128; y = (1 - C[:, 1]) * 0.5 * 128
print(x.min(), y.min(), x.max(), y.max())
)";

std::string Write(const std::string& name, const char* text) {
    const std::string path = PROJECT_BINARY_ROOT "/" + name;
    std::ofstream(path) << text;
    return path;
}

struct SkinningPictureTest : sceneframe::SceneEntityFixture<shadertest::DrawingShaderFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        // Parts are lit: a white sun from behind the camera gives the facing arm its colours.
        gRendererScene->PostInit();
        sceneframe::SetSunOnly(Vector(0, 0, 1, 0), Vector(1, 1, 1, 1));
        view.LoadLookAtLH(Vector(0, 0, -10, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 1.0f, 1.0f, 100.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        const std::string script = Write("skinning_picture_arm.py", kArmModel);
        for (bool onGpu : {true, false}) {
            const std::string path = PROJECT_BINARY_ROOT "/skinning_picture_arm.bin";
            ASSERT_TRUE(Shell("python3 " + script + " " PROJECT_SOURCE_ROOT " " + path + (onGpu ? " gpu" : " cpu")));
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> block{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            auto& mesh = (onGpu ? gpu : cpu) = std::make_unique<MeshTemplate>();
            mesh->SetName(onGpu ? "ArmGpu" : "ArmCpu");
            BoundedReader reader(block.data(), block.size());
            ASSERT_TRUE(mesh->ReadBinaryData(reader, 50));
        }
        ASSERT_TRUE(WaitUntil([&] {
            gVornexRenderer.WaitForResourceJobs(1);
            DeviceObjectHandle* white = gShaderManager->SystemTexture(1);
            if (!white || !white->Texture()) return false;
            for (MeshTemplate* t : {gpu.get(), cpu.get()})
                for (const MeshPart& p : t->GetRenderingData()->presets[0].parts) {
                    auto* vs = static_cast<VertexShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_VS]);
                    auto* ps = static_cast<PixelShaderObject*>(p.shaders.objects[MESH_SHADER_FORWARD_PS]);
                    if (!vs || !vs->DeviceShader() || !ps || !ps->DeviceShader()) return false;
                }
            return true;
        }));
        for (MeshTemplate* t : {gpu.get(), cpu.get()})
            for (MeshPart& p : t->GetRenderingData()->presets[0].parts) {
                MeshPartTexture& texture = p.textures.emplace_back();
                texture.sampler = 0;
                texture.texture = gShaderManager->SystemTexture(1);
            }
    }
    void TearDown() override {
        EndScene();
        gpu.reset();  // their parts hold shader resources the fixture's close ends
        cpu.reset();
        if (gRendererScene) gRendererScene->PostShutdown();
        gVornexRenderer.FlushCommands(true);
        SceneEntityFixture::TearDown();
    }

    // The palette an arm entity posts to its rendering context with "fore" turned by
    // degrees about z by an animation on the root channel.
    std::vector<float> PostedPalette(float degrees) {
        auto* arm = dynamic_cast<MeshEntity*>(
            gEntityManager->CreateEntityFromTemplate(gpu.get(), nullptr, Matrix::IDENTITY, 0, nullptr));
        EXPECT_NE(arm, nullptr);
        if (!arm || !arm->GetAnimationController()) return {};
        const float h = degrees * 3.14159265f / 360.0f;
        auto* bend = new animtest::FixedPoseAnimation({{1u, {{0, 0, std::sin(h), std::cos(h)}, {0, 0, 0}, {1, 1, 1}}}});
        arm->GetAnimationController()->AddAnimation(0, bend);
        bend->SetWeight(1.0f);
        arm->GetAnimationController()->ClearEvaluationStamp();
        arm->Animate();
        gVornexRenderer.FlushCommands(true);
        std::vector<float> bones;
        RunOnRenderThread([&] { bones = static_cast<MeshEntityRenderingContext*>(arm->GetRenderingContext())->Bones(); });
        EXPECT_EQ(bones.size(), 24u);
        return bones;
    }

    // Runs the draws into a fresh 128 x 128 target cleared to black; its pixels as 0xRRGGBB.
    std::vector<uint32_t> Picture(const std::string& name, const std::function<void()>& draws, bool save) {
        return shadertest::OffscreenPixels(*this, kSide, name, save, [&] {
            viewProjection = gVornexRenderer.ViewProjectionMatrix();
            draws();
        });
    }
    std::function<void()> DrawArm(MeshTemplate* mesh, const std::vector<float>& bones) {
        return [this, mesh, &bones] {
            record = sceneframe::MeshRecord(Vector(0, 0, 0, 1), Vector(1, 0, 0, 1));
            mesh->GetRenderingData()->DrawParts(0, kMeshPassForward, &record, 1, bones.data(), 2);
        };
    }
    static bool Red(uint32_t p) { return (p >> 16 & 0xFF) > 128 && (p >> 8 & 0xFF) < 64 && (p & 0xFF) < 64; }
    // The rectangle (x0, y0, x1, y1 inclusive) of the red pixels.
    static std::array<int, 4> RedRectangle(const std::vector<uint32_t>& pixels) {
        return shadertest::PixelRectangle(pixels, kSide, Red);
    }
    // The pixel centres inside numpy's projection of the forearm turned by degrees.
    std::array<int, 4> Expected(float degrees) {
        std::ostringstream m;
        m.precision(9);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) m << (r || c ? "," : "") << viewProjection.r[r][c];
        const std::vector<double> want =
            Numbers(ShellOutput("/usr/bin/python3 " + Write("skinning_picture_reference.py", kReference) + " " +
                                m.str() + " " + std::to_string(degrees)));
        EXPECT_EQ(want.size(), 4u);
        return sceneframe::CentresInside(want);
    }

    std::unique_ptr<MeshTemplate> gpu, cpu;
    MeshDrawBatchRecord record{};
    Matrix view, projection, viewProjection;
};

TEST_F(SkinningPictureTest, ForearmFollowsTheBentElbowOnGpuAndCpu) {
    const std::vector<float> straightBones = PostedPalette(0.0f);
    const std::vector<float> bentBones = PostedPalette(90.0f);
    ASSERT_EQ(bentBones.size(), 24u);
    ASSERT_EQ(straightBones.size(), 24u);
    std::array<int, 4> straight{};
    for (float degrees : {0.0f, 90.0f}) {
        const std::vector<float>& bones = degrees == 0.0f ? straightBones : bentBones;
        const std::string tag = std::to_string(int(degrees));
        const std::vector<uint32_t> onGpu = Picture("skin-gpu-" + tag, DrawArm(gpu.get(), bones), false);
        const std::vector<uint32_t> onCpu = Picture("skin-cpu-" + tag, DrawArm(cpu.get(), bones), false);
        ASSERT_EQ(onGpu.size(), kSide * kSide);
        ASSERT_EQ(onCpu.size(), kSide * kSide);
        const std::array<int, 4> want = Expected(degrees);
        if (degrees == 0.0f) straight = want;
        bool ok = true;
        for (const auto& [path, pixels] : {std::pair{"gpu", &onGpu}, std::pair{"cpu", &onCpu}}) {
            const std::array<int, 4> got = RedRectangle(*pixels);
            for (int i = 0; i < 4; ++i) {
                EXPECT_NEAR(got[i], want[i], 1) << path << " edge " << i << " at " << degrees << " degrees";
                ok = ok && std::abs(got[i] - want[i]) <= 1;
            }
            // The upper arm stays white below the elbow in both poses.
            const uint32_t shoulder = (*pixels)[size_t(want[3] + (degrees == 0.0f ? 12 : 10)) * kSide + kSide / 2];
            EXPECT_EQ(shoulder, 0xFFFFFFu) << path << " at " << degrees << " degrees";
            ok = ok && shoulder == 0xFFFFFFu;
            if (degrees == 0.0f) continue;
            // Nothing is left where the straight forearm was, above the bent one.
            size_t left = 0;
            for (int y = straight[1] - 1; y < want[1] - 1; ++y)
                for (int x = straight[0] - 1; x <= straight[2] + 1; ++x) left += ((*pixels)[y * kSide + x] & 0xFCFCFC) != 0;
            EXPECT_EQ(left, 0u) << path;
            ok = ok && left == 0;
        }
        const size_t off = sceneframe::DifferingPixels(onGpu, onCpu);
        EXPECT_LE(off, onGpu.size() / 100) << degrees << " degrees";
        if (!ok || off > onGpu.size() / 100) {
            Picture("skin-gpu-failed-" + tag, DrawArm(gpu.get(), bones), true);
            Picture("skin-cpu-failed-" + tag, DrawArm(cpu.get(), bones), true);
        }
    }
}

}  // namespace
