// test-sanitize: address
// The op stream through the real render thread: random op sequences against the same
// sequences applied without a render thread, large payloads as heap blocks, posting
// order; the renderer's calls into the UI (the loading screen's fade, the frame
// statistics).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <random>

#include "UIElementTestSupport.h"
#include "core/Time.h"
#include "core/profiler/Profiler.h"
#include "render/RenderTestSupport.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIViewState.h"

using namespace uitest;
using rendertest::RunOnRenderThread;

namespace {

// A family of the tests: records op numbers and sums u32 payload words.
std::vector<uint32_t> gOrder;   // render thread, read after a flush
uint64_t gWordSum = 0;
uint32_t gWordCount = 0;
void ProbeHandler(uint32_t op, UIElement*, UIOpReader& payload) {
    gOrder.push_back(op);
    uint32_t word = 0;
    while (payload.Left() >= 4 && payload.ReadValue(word)) {
        gWordSum += word;
        ++gWordCount;
    }
}
constexpr UIOpFamily kProbeFamily = MakeUIOpFamily<&ProbeHandler>();

struct OpStreamTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        InstallUIServices();  // the fixture restores the renderer's seams to their defaults
        gOrder.clear();
        gWordSum = 0;
        gWordCount = 0;
        mismatches = UIOpPayloadMismatches();
    }
    void TearDown() override {
        EXPECT_EQ(UIOpPayloadMismatches(), mismatches);
        RendererFixture::TearDown();
        InstallUIServices();
    }
    uint32_t mismatches = 0;
};

std::string FloatBits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    char text[12];
    std::snprintf(text, sizeof text, "%08x", bits);
    return text;
}

// Releases the trees of the set (each top element; its subtree goes with it).
void ReleaseSet(const std::vector<UIElement*>& set) {
    std::vector<UIElement*> tops;
    for (UIElement* e : set)
        if (!e->GetParent()) tops.push_back(e);
    for (UIElement* e : tops) e->Release();
}

// One random step on a set of elements.
using Step = std::function<void(std::vector<UIElement*>&)>;

std::vector<Step> RandomSteps(uint32_t seed, uint32_t count) {
    std::mt19937 rng(seed);
    auto pick = [&rng](uint32_t n) { return uint32_t(rng() % n); };
    auto real = [&rng]() { return float(int32_t(rng() % 2001) - 1000) / 16.0f; };
    std::vector<Step> steps;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t a = pick(8), b = pick(8), kind = pick(22);
        const Vector v(real(), real(), real(), real());
        const uint32_t word = uint32_t(rng());
        const uint32_t tagLength = pick(10) == 0 ? 4000 + pick(9000) : pick(40);
        switch (kind) {
        case 0: steps.push_back([a, b](auto& e) { e[a]->AddChild(e[b]); }); break;
        case 1: steps.push_back([a, b](auto& e) { e[a]->RemoveChild(e[b]); }); break;
        case 2: steps.push_back([a, word](auto& e) { e[a]->RaiseFlag(word & 0x3FFFFFEF, word & 1); }); break;
        case 3: steps.push_back([a, word](auto& e) { e[a]->ClearFlag(word & 0x3FFFFFEF, word & 2); }); break;
        case 4: steps.push_back([a, word](auto& e) { e[a]->SetWindowAlignment(word % 10); }); break;
        case 5: steps.push_back([a, word](auto& e) { e[a]->SetAspectScaling(word % 4); }); break;
        case 6: steps.push_back([a, v](auto& e) { e[a]->SetPosition(v); }); break;
        case 7: steps.push_back([a, v, word](auto& e) { e[a]->SetPositionWithMask(v.x, v.y, v.z, word & 1, word & 2, word & 4); }); break;
        case 8: steps.push_back([a, v](auto& e) { e[a]->SetAnchor(v); }); break;
        case 9: steps.push_back([a, v](auto& e) { e[a]->SetRotation(v); }); break;
        case 10: steps.push_back([a, v](auto& e) { e[a]->SetScale(v); }); break;
        case 11: steps.push_back([a, v](auto& e) { e[a]->SetSize(v); }); break;
        case 12: steps.push_back([a, v](auto& e) { e[a]->SetSelectionFrame(v); }); break;
        case 13: steps.push_back([a, v](auto& e) { e[a]->SetLinearColor(v); }); break;
        case 14: steps.push_back([a, word](auto& e) { e[a]->SetBlendMode(word % 5); e[a]->SetColorMode(word % 3); }); break;
        case 15: steps.push_back([a, word](auto& e) { e[a]->SetOutline(word % 70); }); break;
        case 16:
            steps.push_back([a, tagLength, word](auto& e) {
                std::string tag(tagLength, 'a');
                for (uint32_t k = 0; k < tagLength; ++k) tag[k] = char('a' + (word + k * 7) % 26);
                e[a]->SetTag(tagLength ? tag.c_str() : nullptr);
            });
            break;
        case 17: steps.push_back([a, v](auto& e) { e[a]->SetExtraParamVector(v); }); break;
        case 18: steps.push_back([a, v, word](auto& e) { e[a]->Move(1.0f, v, word & 0xFF, word % 5); }); break;
        case 19: steps.push_back([a, word](auto& e) { e[a]->RemoveAllActions(word % 2 ? uint32_t(-1) : word % 6); }); break;
        case 20:
            steps.push_back([a, v, word](auto& e) {
                const float distance = 3.0f;
                PostUIOpValues(kUIElementFamily, UIOP_ENTITYTRACKING, e[a], v, distance, word & 0x9F);
            });
            break;
        default:
            steps.push_back([v](auto&) { PostUIViewTransform(nullptr, 10, 20, 800, 600, 0.9f, 1.0f, v); });
            break;
        }
    }
    return steps;
}

// Everything of the render half that ops write, with the tree as element indices.
std::string Describe(const std::vector<UIElement*>& set) {
    auto index = [&set](const UIElement* e) {
        for (size_t i = 0; i < set.size(); ++i)
            if (set[i] == e) return int(i);
        return -1;
    };
    std::ostringstream out;
    for (const UIElement* e : set) {
        const UIElementRenderHalf& r = e->Render();
        out << r.tag.CStr() << "|" << r.flags << " " << r.windowAlignment << " " << r.aspectScaling << " " << r.blendMode
            << " " << r.colorMode << " " << r.outlineMask << " " << r.mirrored << " tree " << index(r.parent) << " "
            << index(r.firstChild) << " " << index(r.nextSibling) << " main " << index(e->GetParent()) << " "
            << e->GetFlags() << " ";
        for (const Vector* v : {&r.position, &r.anchor, &r.rotation, &r.scale, &r.size, &r.extent, &r.selectionFrame,
                                &r.color, &r.extraParam})
            out << FloatBits(v->x) << FloatBits(v->y) << FloatBits(v->z) << FloatBits(v->w) << " ";
        for (const Vector& row : r.localMatrix.r) out << FloatBits(row.x) << FloatBits(row.y) << FloatBits(row.z) << FloatBits(row.w) << " ";
        for (uint32_t c = 0; c < kUIActionChannels; ++c) {
            uint32_t n = 0;
            for (UIAction* a = r.actionHeads[c]; a; a = a->next) ++n;
            out << "c" << n;
        }
        out << "\n";
    }
    return out.str();
}

}  // namespace

TEST_F(OpStreamTest, RandomSequencesMatchTheSameSequencesWithoutARenderThread) {
    ASSERT_TRUE(created);
    const uint32_t seeds[] = {1, 2, 3, 4};
    std::vector<std::string> got;
    for (uint32_t seed : seeds) {
        RunOnRenderThread([] { gUIViewState = UIViewState{}; });
        std::vector<UIElement*> set;
        for (int i = 0; i < 8; ++i) set.push_back(new UIElement());
        for (const Step& s : RandomSteps(seed, 500)) s(set);
        gVornexRenderer.FlushCommands(true);
        RunOnRenderThread([&] { got.push_back(Describe(set)); });
        ReleaseSet(set);
    }
    gVornexRenderer.FlushCommands(true);
    for (const gfx::ValidationReport& r : recorder->Reports()) EXPECT_FALSE(r.violation) << r.message;
    recorder = nullptr;  // the device goes with the renderer
    gVornexRenderer.Stop();
    for (size_t i = 0; i < got.size(); ++i) {
        gUIViewState = UIViewState{};
        std::vector<UIElement*> set;
        for (int k = 0; k < 8; ++k) set.push_back(new UIElement());
        for (const Step& s : RandomSteps(seeds[i], 500)) s(set);
        EXPECT_EQ(got[i], Describe(set)) << "seed " << seeds[i];
        ReleaseSet(set);
    }
}

TEST_F(OpStreamTest, LargePayloadsArriveWholeAsHeapBlocks) {
    OpRecorder ops;
    UIElement* e = new UIElement();
    std::string tag(10000, 'x');
    for (size_t i = 0; i < tag.size(); ++i) tag[i] = char('A' + i % 26);
    e->SetTag(tag.c_str());
    ASSERT_TRUE(ops.ops.back().heap);
    EXPECT_EQ(ops.ops.back().bytes, 4u + 10001u);

    std::vector<uint32_t> atlas(3000);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < atlas.size(); ++i) sum += atlas[i] = i * 2654435761u;
    PostUIOp(kProbeFamily, 40, e, atlas.data(), uint32_t(atlas.size() * 4));
    EXPECT_TRUE(ops.ops.back().heap);
    // A payload that just fits stays in the record.
    std::vector<uint8_t> fits(kUIOpMaxInlinePayload, 0);
    PostUIOp(kProbeFamily, 41, e, fits.data(), uint32_t(fits.size()));
    EXPECT_FALSE(ops.ops.back().heap);

    gVornexRenderer.FlushCommands(true);
    std::string got;
    RunOnRenderThread([&] { got = e->Render().tag.CStr(); });
    EXPECT_EQ(got, tag);
    EXPECT_EQ(gWordCount, 3000u + kUIOpMaxInlinePayload / 4);
    EXPECT_EQ(gWordSum, sum);
    e->Release();
}

TEST_F(OpStreamTest, RecordsRunInPostingOrder) {
    std::vector<uint32_t> posted;
    for (uint32_t i = 0; i < 3000; ++i) {
        const uint32_t op = (i * 37) % (kUIOpLast + 1);
        posted.push_back(op);
        if (i % 3 == 0)
            PostUIOpValues(kProbeFamily, op, nullptr, i);
        else
            PostUIOp(kProbeFamily, op, nullptr);
    }
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gOrder, posted);
}

TEST_F(OpStreamTest, TheLoadingScreenFadesInOnSystemTime) {
    UIElement* screen = new UIElement();
    // The UI's element draws, with every element fading in.
    struct FadingIn : UIDrawServices {
        UIDrawServices& ui = GetUIDrawServices();
        void RemoveActions(UIElement* e, int32_t channel) override { ui.RemoveActions(e, channel); }
        void AddColorAction(UIElement* e, float seconds, const Vector& colour, uint32_t flags,
                            uint32_t channel) override {
            ui.AddColorAction(e, seconds, colour, flags, channel);
        }
        void SetColor(UIElement* e, const Vector& colour) override { ui.SetColor(e, colour); }
        Vector GetColor(const UIElement* e) const override { return ui.GetColor(e); }
        bool HasFadeIn(const UIElement*) const override { return true; }
        void Draw(UIElement* e) override { ui.Draw(e); }
        void GetVirtualSize(float* w, float* h) const override { ui.GetVirtualSize(w, h); }
    };
    static FadingIn fading;
    SetUIDrawServices(&fading);
    gVornexRenderer.SetLoadingScreen(screen, 0, 0);
    gVornexRenderer.FlushCommands(true);
    Vector colour;
    uint32_t flags = 0;
    int64_t start = 0;
    RunOnRenderThread([&] {
        colour = screen->Render().color;
        UIAction* fade = screen->Render().actionHeads[0];
        if (!fade) return;
        flags = fade->flags;
        // The loading-screen draw refreshes the hardware clock first; the game clock
        // stands still while the scene loads (no op 25).
        Time now;
        now.LoadHardwareTime();
        gUIViewState.hardwareTime = now.ticks;
        screen->TickActions();
        start = fade->startStamp;
        gUIViewState.hardwareTime = start + Time::Base().frequency * 3 / 10;
        screen->TickActions();
        colour = screen->Render().color;
    });
    EXPECT_EQ(flags, uint32_t(UIACTIONFLAG_SYSTEMTIME));
    EXPECT_TRUE(SameVector(colour, Vector(1, 1, 1, 1)));
    RunOnRenderThread([&] { flags = screen->Render().actionHeads[0] ? 1 : 0; });
    EXPECT_EQ(flags, 0u);
    screen->Release();
}

TEST_F(OpStreamTest, TheFrameStatisticsShowTheLiveCount) {
    std::vector<UIElement*> elements;
    for (int i = 0; i < 5; ++i) elements.push_back(new UIElement());
    const uint32_t live = UIElement::LiveCount();
    for (int i = 0; i < 3; ++i) {
        BeginFrame();
        EndFrame();
    }
    float value = -1;
    RunOnRenderThread([&] {
        // The overlay's draw runs these once per frame; the first only takes the time.
        gVornexRenderer.UpdateFrameStatistics();
        gVornexRenderer.UpdateFrameStatistics();
        value = gProfiler.Counter(PROFILE_UI_INST).value;
    });
    EXPECT_EQ(value, float(live));
    for (UIElement* e : elements) e->Release();
}
