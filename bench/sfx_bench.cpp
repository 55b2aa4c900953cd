// Effect contexts' per-frame update against a plain loop, in one run: SFXContext::UpdateAll
// over 2,000 running contexts of 6 quads each (keyed position, rotation, scale, colour
// and frame curves), and a loop over plain records that advances and evaluates the same
// envelopes and builds the same element matrices and boxes without contexts. Both rates
// (elements per second) and their ratio are printed; the goal is at least 0.7 of the
// plain rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "render/VornexRenderer.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXElementContexts.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kContexts = 2000;
constexpr int kElements = 6;
constexpr float kStep = 1.0f / 60.0f;

void Keys(TEnvelope<Vector>& e, float scale) {
    for (int k = 0; k < 8; ++k) {
        e.keyTimes.Add(EnvelopeKeyTime(float(k) * 0.5f));
        e.keys.Add(Vector(scale * float(k % 3), scale * float(k % 2), scale, 1.0f));
    }
    EnvelopeLoop loop;
    loop.start = 0;
    loop.end = EnvelopeKeyTime(3.5f);
    loop.name = NameString("L");
    e.loops.Add(loop);
}

SFXDefinition* Definition() {
    static SFXDefinition* d = [] {
        auto* def = new SFXDefinition();
        for (int i = 0; i < kElements; ++i) {
            auto* q = new SFXQuadElementDefinition();
            q->textureFileName = NameString();
            q->textureFramesX = 2;
            q->textureFramesY = 2;
            Keys(q->position, 1.0f + float(i));
            Keys(q->rotation, 30.0f);
            Keys(q->scale, 1.5f);
            Keys(q->frameAnimationCurve, 1.0f);
            q->color.keyTimes.Add(0);
            q->color.keyTimes.Add(EnvelopeKeyTime(2.0f));
            q->color.keys.Add(HDRColor{255, 128, 0, 255, 1.0f});
            q->color.keys.Add(HDRColor{0, 128, 255, 255, 1.0f});
            def->AddElement(q);
        }
        def->ResolveElements(false);
        return def;
    }();
    return d;
}

std::vector<SFXContext*>& StartOnce() {
    static std::vector<SFXContext*> contexts = [] {
        RunProgramStaticInit();
        benchsupport::StartRenderer("SFXBench");
        std::vector<SFXContext*> made;
        for (int i = 0; i < kContexts; ++i) {
            EntityRenderingContextSetup s;
            s.creationFlags = ERC_FLAG_NO_GRID;
            s.world.r[3] = Vector(float(i % 50), 0, float(i / 50), 1);
            auto* c = new SFXContext(s, nullptr, nullptr, 0);
            c->Setup(Definition(), s.world, false, 0);
            c->Restart(1, 0);
            made.push_back(c);
            if (i % 100 == 0) gVornexRenderer.FlushCommands(true);
        }
        gVornexRenderer.FlushCommands(true);
        return made;
    }();
    return contexts;
}

// What the plain loop keeps per element.
struct PlainElement {
    EnvelopeState states[SFX_STATE_COUNT];
    Matrix matrix;
};

void BM_UpdateAllAgainstPlainLoop(benchmark::State& state) {
    StartOnce();
    const SFXDefinition& d = *Definition();
    std::vector<PlainElement> plain(size_t(kContexts) * kElements);
    const RenderFrameClock clocks[3] = {{0, kStep}, {0, kStep}, {0, kStep}};
    const BoundingBox4 quadBox(Vector(-0.5f, -0.5f, 0, 1), Vector(0.5f, 0.5f, 0, 1));
    double updateTime = 0, plainTime = 0, elements = 0;
    for (auto _ : state) {
        // The render thread is idle between flushes: the update runs here.
        const auto t0 = std::chrono::steady_clock::now();
        SFXContext::UpdateAll(clocks);
        const auto t1 = std::chrono::steady_clock::now();
        for (int c = 0; c < kContexts; ++c) {
            BoundingBox4 box = BoundingBox4::INVALID;
            for (int i = 0; i < kElements; ++i) {
                const auto& q = static_cast<const SFXQuadElementDefinition&>(*d.elements[i]);
                PlainElement& e = plain[size_t(c) * kElements + size_t(i)];
                for (uint32_t b = 0; b < q.envelopeBindings.Count(); ++b)
                    q.envelopeBindings[b].envelope->Advance(e.states[q.envelopeBindings[b].state], kStep);
                Vector p, r, s, f;
                q.position.Evaluate(e.states[SFX_STATE_POSITION], p);
                q.rotation.Evaluate(e.states[SFX_STATE_ROTATION], r);
                q.scale.Evaluate(e.states[SFX_STATE_SCALE], s);
                q.frameAnimationCurve.Evaluate(e.states[SFX_STATE_KIND_FIRST], f);
                Matrix complex, pivot;
                complex.LoadComplexTransformation(p, r, s);
                pivot.LoadTranslation(q.pivot);
                e.matrix.Mul(complex, pivot);
                BoundingBox4 t;
                t.Transform3D(quadBox, e.matrix);
                box.Expand(t);
                benchmark::DoNotOptimize(f);
            }
            benchmark::DoNotOptimize(box);
        }
        const auto t2 = std::chrono::steady_clock::now();
        updateTime += std::chrono::duration<double>(t1 - t0).count();
        plainTime += std::chrono::duration<double>(t2 - t1).count();
        elements += double(kContexts) * kElements;
        // The published boxes are taken as an entity would, so every frame publishes.
        BoundingBox4 box;
        for (SFXContext* c : StartOnce()) c->FetchBoundingBox(&box);
    }
    state.counters["update_elements_per_s"] = elements / updateTime;
    state.counters["plain_elements_per_s"] = elements / plainTime;
    state.counters["update/plain"] = (elements / updateTime) / (elements / plainTime);
}
BENCHMARK(BM_UpdateAllAgainstPlainLoop)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_UpdateAllAgainstPlainLoop";
    std::printf("UpdateAll %.0f elements/s, plain loop %.0f elements/s (medians)\n",
                reporter.Median(name, "update_elements_per_s"), reporter.Median(name, "plain_elements_per_s"));
    benchsupport::PrintFigure("UpdateAll / plain loop, rate", reporter.Of(name, "update/plain"), "at least 0.7", 3);
    for (SFXContext* c : StartOnce()) c->Release();
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
