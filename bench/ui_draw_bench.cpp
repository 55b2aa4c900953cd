// The UI tree draw against writing the same quads directly, in one run: a screen of
// 4,000 pictures (40 groups of 10 rows of 10 pictures, gathering channels 0-3, 40
// textures, every 20th picture focusable) drawn per frame through UIScreen::RenderTree on
// the recording device with draw records off, against writing the same quads' vertices
// (the matrices precomputed) into 64-quad arrays per channel and issuing the same
// DrawIndexedPrimitiveUP calls directly. Both frame times and the ratio (direct time /
// tree time, the tree's rate over the direct rate; goal: at least 0.5) are printed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/elements/UIPicture.h"
#include "ui/elements/UIQuadIndexList.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIViewState.h"

namespace {

using benchsupport::RunOnRenderThread;

constexpr uint32_t kGroups = 40, kRows = 10, kColumns = 10, kTextures = 40, kFocusEvery = 20;
constexpr uint32_t kPictures = kGroups * kRows * kColumns;

struct Scene {
    UIScreen* screen = nullptr;
    std::vector<DeviceObjectHandle*> textures;
    // The direct side: each picture's sized world matrix, channel, texture and colour.
    struct Quad {
        Matrix world;
        uint32_t channel;
        const DeviceObjectHandle* texture;
        Vector colour;
    };
    std::vector<Quad> quads;
    Matrix view, projection;
    float w = 0, h = 0, sx = 1, sy = 1;
};

Scene* Build() {
    RunProgramStaticInit();
    if (!benchsupport::StartRenderer("UIDrawBench", 1280, 720)) std::abort();
    gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device());
    recorder->SetDrawRecordMode(gfx::DrawRecordMode::Off);
    recorder->SetValidationMode(gfx::ValidationMode::Warn);

    Scene* s = new Scene;
    s->textures.resize(kTextures);
    RunOnRenderThread([&] {
        for (DeviceObjectHandle*& t : s->textures) {
            t = new DeviceObjectHandle;  // holds one reference
            t->CreateTexture(4, 4, 1, 0, gfx::FMT_A8R8G8B8, gfx::POOL_MANAGED);
        }
    });
    SetUISizeOverride(1280, 720);
    s->screen = new UIScreen;
    s->screen->SetSize(1280, 720);
    uint32_t index = 0;
    for (uint32_t g = 0; g < kGroups; ++g) {
        UIElement* group = new UIElement;
        group->RaiseFlag(UIFLAG_TRANSPARENT, false);
        group->SetPosition(float(g % 8) * 160.0f, float(g / 8) * 140.0f, 0);
        s->screen->AddChild(group);
        for (uint32_t r = 0; r < kRows; ++r) {
            UIElement* row = new UIElement;
            row->RaiseFlag(UIFLAG_TRANSPARENT, false);
            row->SetPosition(0, float(r) * 14.0f, 0);
            group->AddChild(row);
            const DeviceObjectHandle* texture = s->textures[(g * kRows + r) % kTextures];
            for (uint32_t c = 0; c < kColumns; ++c, ++index) {
                UIPicture* p = new UIPicture;
                p->SetPosition(float(c) * 16.0f, 0, 0);
                p->SetSize(14, 12);
                p->SetLinearColor(1, float(c) / kColumns, 0.5f, 1);
                if (index % kFocusEvery == 0) p->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
                const uint32_t stage = 0, sampler = kUISamplerClampSRGB;
                PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_TEXTURE, p, stage, texture, sampler);
                p->SetRenderGatheringChannel(c % UIQuadBatch::kChannels);
                row->AddChild(p);
                Matrix local, parent, world, sized, scale;
                local.LoadTranslation(float(c) * 16.0f, 0, 0);
                parent.LoadTranslation(float(g % 8) * 160.0f, float(g / 8) * 140.0f + float(r) * 14.0f, 0);
                world.Mul(parent, local);
                scale.LoadScale(14, 12, 1);
                sized.Mul(world, scale);
                s->quads.push_back({sized, c % UIQuadBatch::kChannels, texture, Vector(1, float(c) / kColumns, 0.5f, 1)});
            }
        }
    }
    gVornexRenderer.FlushCommands(true);
    Matrix ortho;
    s->screen->ComputeCamera(1280, 720, &s->view, &s->projection, &ortho, &s->w, &s->h, &s->sx, &s->sy);
    return s;
}

// The direct side's batch: vertices written in place, drawn when full or when the texture
// changes, as the quad batch does.
struct DirectBatch {
    UIQuadVertex vertices[UIQuadBatch::kMaxQuads * 4];
    uint32_t quads = 0;
    const DeviceObjectHandle* texture = nullptr;
    void Draw() {
        if (!quads) return;
        VornexRenderer& r = gVornexRenderer;
        r.SetTexture(0, texture, kUISamplerClampSRGB);
        r.DrawIndexedPrimitiveUP(gfx::PT_TRIANGLELIST, 0, 4 * quads, 2 * quads, UIQuadIndexList(), vertices,
                                 sizeof(UIQuadVertex));
        quads = 0;
    }
};

void DrawDirect(Scene& s, DirectBatch (&batches)[UIQuadBatch::kChannels]) {
    static const float kCorners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const Scene::Quad& q : s.quads) {
        DirectBatch& b = batches[q.channel];
        if (b.texture != q.texture) {
            b.Draw();
            b.texture = q.texture;
        }
        UIQuadVertex* out = b.vertices + 4 * b.quads;
        for (uint32_t k = 0; k < 4; ++k) {
            Vector p;
            p.Transform(q.world, Vector(kCorners[k][0], kCorners[k][1], 0, 1));
            out[k] = UIQuadVertex{{q.colour.x, q.colour.y, q.colour.z, q.colour.w}, {p.x, p.y, p.z}, {0, 0, 0, 0},
                                  {kCorners[k][0], kCorners[k][1]}};
        }
        if (++b.quads == UIQuadBatch::kMaxQuads) b.Draw();
    }
    for (DirectBatch& b : batches) b.Draw();
}

void BM_TreeDrawAgainstDirectQuads(benchmark::State& state) {
    static Scene* scene = Build();
    static DirectBatch batches[UIQuadBatch::kChannels];
    double treeTime = 0, directTime = 0;
    for (auto _ : state) {
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            r.Device()->BeginScene();
            r.ApplyViewport(0, 0, 1280, 720, 0, 1);
            r.SetCameraState(scene->view, scene->projection, Matrix::IDENTITY, 0);
            SetUIViewTransform(0, 0, scene->w, scene->h, scene->sx, scene->sy, Vector(0.5f, 0.5f, 0, 0));
            const auto t0 = std::chrono::steady_clock::now();
            scene->screen->RenderTree();
            const auto t1 = std::chrono::steady_clock::now();
            DrawDirect(*scene, batches);
            const auto t2 = std::chrono::steady_clock::now();
            r.Device()->EndScene();
            treeTime += std::chrono::duration<double>(t1 - t0).count();
            directTime += std::chrono::duration<double>(t2 - t1).count();
        });
        // The main thread takes the candidates, so every frame collects them.
        scene->screen->Update(Vector());
    }
    const double frames = double(state.iterations());
    state.counters["tree_ms"] = 1000.0 * treeTime / frames;
    state.counters["direct_ms"] = 1000.0 * directTime / frames;
    state.counters["tree/direct"] = directTime / treeTime;
}
BENCHMARK(BM_TreeDrawAgainstDirectQuads)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_TreeDrawAgainstDirectQuads";
    std::printf("tree %.3f ms/frame, direct %.3f ms/frame (medians)\n", reporter.Median(name, "tree_ms"),
                reporter.Median(name, "direct_ms"));
    benchsupport::PrintFigure("tree / direct, rate", reporter.Of(name, "tree/direct"), "at least 0.5", 3);
    benchmark::Shutdown();
    return 0;
}
