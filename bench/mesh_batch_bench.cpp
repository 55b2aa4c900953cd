// The mesh draw batch of a deferred pass against replaying its device calls, in one run:
// each iteration batches 2,000 instances (20 meshes x 100 entities, 8 parts each) with
// BeginDrawBatch, Draw and FlushDrawBatch on the render thread (recording device, draw
// recording off), and replays the device calls one flush made from a list built once.
// The counters give both rates in instances per second and their ratio (goal: the batch
// reaches at least 0.5 of the replay's rate).
//
// The project's shader data comes from the build tree's data folder (target
// shader_data), copied to a scratch folder mounted as "common" and "textures".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/LoaderBench.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VertexDeclarationCache.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "scene/mesh/MeshData.h"
#include "scene/startup/SceneStaticInit.h"

namespace {

using benchsupport::RunOnRenderThread;

namespace sfs = std::filesystem;
constexpr uint32_t kMeshes = 20, kEntities = 100, kParts = 8;
std::string gFolder;

// A cube of 8 float3 vertices and 12 triangles per part, 8 parts, all deferred.
MeshTemplateRenderingData* MakeMesh() {
    auto* d = new MeshTemplateRenderingData();
    d->declA = {{0, 0, gfx::DECLTYPE_FLOAT3, 0, gfx::DECLUSAGE_POSITION, 0}, gfx::kDeclEnd};
    d->declB = {{0, 0, gfx::DECLTYPE_FLOAT3, 0, gfx::DECLUSAGE_POSITION, 0},
                {1, 0, gfx::DECLTYPE_FLOAT4, 0, gfx::DECLUSAGE_TEXCOORD, 4},
                {1, 16, gfx::DECLTYPE_FLOAT4, 0, gfx::DECLUSAGE_TEXCOORD, 5},
                {1, 32, gfx::DECLTYPE_FLOAT4, 0, gfx::DECLUSAGE_TEXCOORD, 6},
                {1, 48, gfx::DECLTYPE_FLOAT4, 0, gfx::DECLUSAGE_TEXCOORD, 7},
                gfx::kDeclEnd};
    std::vector<float> vertices;
    for (int i = 0; i < 8; ++i)
        for (int axis = 0; axis < 3; ++axis) vertices.push_back((i >> axis & 1) ? 0.5f : -0.5f);
    const uint16_t cube[36] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                               2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    std::vector<uint16_t> indices;
    for (uint32_t p = 0; p < kParts; ++p) indices.insert(indices.end(), cube, cube + 36);
    d->vertexCount = 8;
    d->stride = 12;
    d->indexDescA.format = gfx::FMT_INDEX16;
    d->indexCopySize = uint32_t(indices.size() * 2);
    RunOnRenderThread([&] {
        gfx::Device* device = gVornexRenderer.Device();
        device->CreateVertexDeclaration(d->declA.data(), &d->declarationA);
        device->CreateVertexDeclaration(d->declB.data(), &d->declarationB);
        d->vertexBufferA = gVornexRenderer.DeclarationCache()->CreateVertexBuffer(
            uint32_t(vertices.size() * 4), gfx::USAGE_WRITEONLY, gfx::POOL_MANAGED, vertices.data());
        d->indexBufferA = gVornexRenderer.DeclarationCache()->CreateIndexBuffer(
            d->indexCopySize, gfx::USAGE_WRITEONLY, gfx::POOL_MANAGED, indices.data());
    });
    MeshShaderPreset& preset = d->presets.emplace_back();
    preset.name = "Default";
    for (uint32_t p = 0; p < kParts; ++p) {
        MeshPart& part = preset.parts.emplace_back();
        part.flags = kMeshPartDeferred;
        part.firstTriangle = p * 12;
        part.triangleCount = 12;
        part.ResolveShaders();
    }
    gVornexRenderer.WaitForResourceJobs(1);
    return d;
}

struct Scene {
    std::vector<MeshTemplateRenderingData*> meshes;
    std::vector<Matrix> worlds;  // entity e of mesh m at m * kEntities + e
    // The device calls of one flush, as a list replayed without the batch.
    std::vector<std::function<void(gfx::Device*)>> calls;

    Scene() {
        for (uint32_t m = 0; m < kMeshes; ++m) meshes.push_back(MakeMesh());
        for (uint32_t m = 0; m < kMeshes; ++m)
            for (uint32_t e = 0; e < kEntities; ++e) {
                Matrix w = Matrix::IDENTITY;
                w.r[3] = Vector(float(e) - 50.0f, 0, 10.0f + float(m) * 5.0f, 1);  // one depth per mesh
                worlds.push_back(w);
            }
        BuildReplay();
    }
    ~Scene() {
        for (MeshTemplateRenderingData* d : meshes) d->Release(false, true);
    }
    // What FlushDrawBatch sends for the 20 runs of 100: per run the streams, the box and
    // camera constants and the instance data, per part the shaders, the part's and the
    // camera's constants, the culling and one instanced draw, then the streams reset.
    // The instance data goes to a buffer the size of the batch's own (a batch's worth of
    // instances), so a lock with discard costs the device what the batch's lock costs.
    void BuildReplay() {
        gfx::VertexBuffer* instances = nullptr;
        RunOnRenderThread([&] {
            gVornexRenderer.Device()->CreateVertexBuffer(kMeshDrawBatchSize * kMeshInstanceStride,
                                                         gfx::USAGE_DYNAMIC | gfx::USAGE_WRITEONLY, 0,
                                                         gfx::POOL_DEFAULT, &instances, nullptr);
        });
        auto data = std::make_shared<std::vector<float>>(kEntities * 16, 1.0f);
        const Vector constants[4] = {{1, 1, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}, {1, 0, 0, 0}};
        for (MeshTemplateRenderingData* d : meshes) {
            const MeshPart& first = d->presets[0].parts[0];
            gfx::VertexShader* vs =
                static_cast<VertexShaderObject*>(first.shaders.objects[MESH_SHADER_DEFERRED_INSTANCING_VS])->DeviceShader();
            gfx::PixelShader* ps =
                static_cast<PixelShaderObject*>(first.shaders.objects[MESH_SHADER_DEFERRED_PS])->DeviceShader();
            calls.push_back([d, instances, data](gfx::Device* device) {
                device->SetStreamSource(0, d->vertexBufferA, 0, d->stride);
                device->SetVertexDeclaration(d->declarationB);
                device->SetIndices(d->indexBufferA);
                const Vector box[3] = {d->box.min, d->box.max, Vector(0, 0, 0, 1)};
                device->SetVertexShaderConstantF(kMeshBoxRegister, &box[0].x, 2);
                device->SetVertexShaderConstantF(kMeshCameraRegister, &box[2].x, 1);
                void* mapped = nullptr;
                if (instances->Lock(0, kEntities * kMeshInstanceStride, &mapped, gfx::LOCK_DISCARD) == gfx::OK) {
                    std::memcpy(mapped, data->data(), data->size() * 4);
                    instances->Unlock();
                }
                device->SetStreamSource(1, instances, 0, kMeshInstanceStride);
                device->SetStreamSourceFreq(0, gfx::STREAMSOURCE_INDEXEDDATA | kEntities);
                device->SetStreamSourceFreq(1, gfx::STREAMSOURCE_INSTANCEDATA | 1);
            });
            for (uint32_t p = 0; p < kParts; ++p)
                calls.push_back([=](gfx::Device* device) {
                    device->SetVertexShader(vs);
                    device->SetPixelShader(ps);
                    device->SetVertexShaderConstantF(198, &constants[0].x, 1);
                    device->SetVertexShaderConstantF(195, &constants[1].x, 1);
                    device->SetPixelShaderConstantF(194, &constants[2].x, 1);
                    // The camera constants: view-projection, view and model matrices.
                    device->SetVertexShaderConstantF(0, &constants[0].x, 4);
                    device->SetVertexShaderConstantF(4, &constants[0].x, 4);
                    device->SetVertexShaderConstantF(8, &constants[0].x, 4);
                    device->SetRenderState(gfx::RS_CULLMODE, gfx::CULL_CCW);
                    device->DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, 8, p * 36, 12);
                });
            calls.push_back([](gfx::Device* device) {
                device->SetStreamSourceFreq(0, 1);
                device->SetStreamSourceFreq(1, 1);
                device->SetStreamSource(1, nullptr, 0, 0);
                device->SetIndices(nullptr);
                device->SetStreamSource(0, nullptr, 0, 0);
            });
        }
        replayBuffer = instances;
    }
    gfx::VertexBuffer* replayBuffer = nullptr;
};

void StartOnce() {
    static const bool started = benchsupport::StartLoader("mesh_batch_bench", &gFolder, [](const std::string& folder) {
        const sfs::path data = sfs::canonical("/proc/self/exe").parent_path().parent_path() / "data";
        sfs::copy(data, folder, sfs::copy_options::recursive);
        gFileSystem.MountDirectory("common", (folder + "/common").c_str());
        gFileSystem.MountDirectory("textures", (folder + "/textures").c_str());
    });
    if (!started || !gShaderManager->LoadDefinitions()) std::abort();
    InstallSceneServices();
    gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device());
    recorder->SetDrawRecordMode(gfx::DrawRecordMode::Off);
    recorder->SetValidationMode(gfx::ValidationMode::Warn);
}

void BM_BatchAgainstReplay(benchmark::State& state) {
    StartOnce();
    static Scene* scene = new Scene();
    const BoundingBox4 box(Vector(-0.5f, -0.5f, -0.5f, 1), Vector(0.5f, 0.5f, 0.5f, 1));
    double batchTime = 0, replayTime = 0;
    for (auto _ : state) {
        RunOnRenderThread([&] {
            gVornexRenderer.Device()->BeginScene();
            const auto t0 = std::chrono::steady_clock::now();
            MeshTemplateRenderingData::BeginDrawBatch(kMeshPassDeferred, 0);
            for (uint32_t m = 0; m < kMeshes; ++m)
                for (uint32_t e = 0; e < kEntities; ++e) {
                    const Matrix& w = scene->worlds[m * kEntities + e];
                    MeshTemplateRenderingData::Draw(scene->meshes[m], w, w, box, Vector(1, 1, 1, 1), 1.0f, false, 0,
                                                    nullptr, 0, kMeshPassDeferred);
                }
            MeshTemplateRenderingData::FlushDrawBatch(0);
            const auto t1 = std::chrono::steady_clock::now();
            gfx::Device* device = gVornexRenderer.Device();
            for (const auto& call : scene->calls) call(device);
            const auto t2 = std::chrono::steady_clock::now();
            gVornexRenderer.Device()->EndScene();
            batchTime += std::chrono::duration<double>(t1 - t0).count();
            replayTime += std::chrono::duration<double>(t2 - t1).count();
            gVornexRenderer.ResetStateCache();
        });
    }
    const double instances = double(state.iterations()) * kMeshes * kEntities;
    state.counters["batch_instances_per_s"] = instances / batchTime;
    state.counters["replay_instances_per_s"] = instances / replayTime;
    state.counters["batch/replay"] = replayTime / batchTime;
}
BENCHMARK(BM_BatchAgainstReplay)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_BatchAgainstReplay";
    std::printf("batch %.0f instances/s, replay %.0f instances/s (medians)\n",
                reporter.Median(name, "batch_instances_per_s"), reporter.Median(name, "replay_instances_per_s"));
    benchsupport::PrintFigure("batch / replay, rate", reporter.Of(name, "batch/replay"), "at least 0.5", 3);
    benchsupport::StopLoader(gFolder);
    benchmark::Shutdown();
    return 0;
}
