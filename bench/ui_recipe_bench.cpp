// Building a UI tree from recipes against building the same tree in code, in one run:
// CreateFromRecipeObject of a 505-element recipe tree made in memory (pictures, texts and
// rounded rectangles, nested four deep below the root) against the same elements made
// with new and given the same setter calls in code. Each iteration builds the tree,
// releases it and waits for the render thread to have run every op, both ways.
// Rates are trees per second; the ratio (recipe rate / code rate) is printed at the end
// (goal: at least 0.6).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/elements/UIPicture.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIText.h"
#include "ui/recipes/UIRecipeClasses.h"

namespace {

using benchsupport::Seconds;

// Children per element at each level below the root: 4, 20, 80, 400 elements.
constexpr int kFanOut[4] = {4, 5, 4, 5};

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        return benchsupport::StartRenderer("UIRecipeBench");
    }();
    (void)started;
}

// The kind at a level: pictures above, rounded rectangles at level 3, pictures and texts
// (alternating) at the leaves.
enum Kind { kPicture, kRounded, kText };
Kind KindAt(int level, int index) {
    if (level < 2) return kPicture;
    if (level == 2) return kRounded;
    return (index & 1) ? kText : kPicture;
}

Vector PositionOf(int index) { return Vector(float(index * 3), float(index * 2), 0, 1); }

UIElementRecipe* MakeRecipe(Kind kind, int index) {
    UIElementRecipe* r = nullptr;
    switch (kind) {
        case kPicture: {
            auto* p = new UIPictureRecipe;
            p->shader.Clear();
            p->tileCountX = 2;
            r = p;
            break;
        }
        case kRounded: r = new UIRoundedRectRecipe; break;
        case kText: r = new UITextRecipe; break;
    }
    r->position = PositionOf(index);
    r->size = Vector(40, 20, 0, 0);
    return r;
}

void AddLevel(UIElementRecipe* parent, int level) {
    if (level == 4) return;
    for (int i = 0; i < kFanOut[level]; ++i) {
        UIElementRecipe* child = MakeRecipe(KindAt(level, i), i);
        parent->children.Add(child);
        AddLevel(child, level + 1);
    }
}

// The same tree in code: the same element classes and the same setter calls Apply makes.
void ApplyBase(UIElement* e, int index) {
    e->SetName("");
    e->SetPosition(PositionOf(index));
    e->SetRotation(Vector());
    e->SetAnchor(Vector());
    e->SetSize(Vector(40, 20, 0, 0));
    e->SetSelectionFrame(Vector());
    e->SetScale(Vector(1, 1, 1, 0));
    e->SetOutline(0);
    e->RaiseFlag(UIFLAG_HIERARCHICALANCHOR, false);
    e->ClearFlag(UIFLAG_HIDDEN | UIFLAG_TRANSPARENT | UIFLAG_FOCUSABLEWITHMOUSE | UIRENDERFLAG_CLIPCHILDREN, false);
    e->SetColorMode(1);
    e->SetLinearColor(Vector(1, 1, 1, 1));
    e->SetBlendMode(1);
    e->SetWindowAlignment(0);
    e->SetAspectScaling(0);
}

UIElement* MakeInCode(Kind kind, int index) {
    UIElement* e = nullptr;
    switch (kind) {
        case kPicture: {
            auto* p = new UIPicture;
            ApplyBase(p, index);
            p->SetTexture("", 0, 7);
            p->SetTexture("", 1, 7);
            p->SetTextureTile(0, 0, 2, 1, Vector(1, 1, 1, 1), Vector(0, 0, 0, 0));
            const Vector corners[4] = {Vector(1, 1, 1, 1), Vector(1, 1, 1, 1), Vector(1, 1, 1, 1), Vector(1, 1, 1, 1)};
            p->SetCornerColors(corners);
            return p;
        }
        case kRounded: {
            auto* r = new UIRoundedRect(1, "");
            ApplyBase(r, index);
            r->SetCornerTexture("iPhone/UI/Round_Edge_01$cxy.dds");
            r->SetCornerRadius(15.0f);
            r->RaiseFlag(UIFLAG_TRANSPARENT, false);
            e = r;
            break;
        }
        case kText: {
            auto* t = new UIText;
            ApplyBase(t, index);
            t->SetIgnoreFontReplacement(false);
            t->SetCharacterSpacing(0);
            t->SetFont("", 10, true, 0);
            t->SetAlignment(0, 0);
            t->SetText("");
            t->RaiseFlag(0x60, false);
            t->SetShadowPosition(Vector());
            t->SetShadowColor(Vector(0, 0, 0, 1));
            t->SetOutlineColor(Vector(1, 0, 1, 1));
            t->SetBottomColor(Vector(1, 1, 1, 0));
            e = t;
            break;
        }
    }
    if (e && !e->IsUIPicture()) e->RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, false);
    return e;
}

void AddLevelInCode(UIElement* parent, int level) {
    if (level == 4) return;
    for (int i = 0; i < kFanOut[level]; ++i) {
        UIElement* child = MakeInCode(KindAt(level, i), i);
        if (!child) continue;
        AddLevelInCode(child, level + 1);
        parent->AddChild(child);
    }
}

uint32_t CountTree(const UIElement* e) {
    uint32_t n = 1;
    for (const UIElement* c = e->GetFirstChild(); c; c = c->GetNextSibling()) n += CountTree(c);
    return n;
}

void BM_RecipeTreeAgainstCode(benchmark::State& state) {
    StartOnce();
    UIScreenRecipe recipe;
    AddLevel(&recipe, 0);
    double recipeTime = 0, codeTime = 0;
    uint32_t recipeElements = 0, codeElements = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        UIElement* a = UIElement::CreateFromRecipeObject(&recipe, nullptr, nullptr, 1);
        recipeElements = CountTree(a);
        a->Release();
        gVornexRenderer.FlushCommands(true);
        const auto t1 = std::chrono::steady_clock::now();
        UIElement* b = new UIElement;
        b->RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_DRAWPENDINGUIELEMENTS, false);
        AddLevelInCode(b, 0);
        codeElements = CountTree(b);
        b->Release();
        gVornexRenderer.FlushCommands(true);
        const auto t2 = std::chrono::steady_clock::now();
        recipeTime += Seconds(t0, t1);
        codeTime += Seconds(t1, t2);
    }
    if (recipeElements != codeElements) state.SkipWithError("the two trees differ");
    state.counters["elements"] = recipeElements;
    state.counters["recipe_trees_per_s"] = double(state.iterations()) / recipeTime;
    state.counters["code_trees_per_s"] = double(state.iterations()) / codeTime;
    state.counters["ratio"] = codeTime / recipeTime;  // recipe rate / code rate
}
BENCHMARK(BM_RecipeTreeAgainstCode)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("recipe tree / the same tree in code, rate",
                              reporter.Of("BM_RecipeTreeAgainstCode", "ratio"), "at least 0.6");
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
