// test-sanitize: thread address
// test-timeout: 240
// The main thread posts random tree ops, setters and actions (deletions among them) while
// the render thread applies them, ticks the actions and hands deleted elements back; at
// the end every element is freed once.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "UIElementTestSupport.h"
#include "render/RenderTestSupport.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIViewState.h"

using namespace uitest;

namespace {

// Render side of a frame: tick the actions of every element of the tree, then one step of
// the deletion hand-over.
void FrameHandler(uint32_t, UIElement* root, UIOpReader&) {
    std::vector<UIElement*> tree{root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (UIElement* c = tree[i]->Render().firstChild; c; c = c->Render().nextSibling) tree.push_back(c);
    for (UIElement* e : tree) e->TickActions();
}
void HandOverHandler(uint32_t, UIElement*, UIOpReader&) { UIElement::ProcessPendingDeletion(); }
constexpr UIOpFamily kFrameFamily = MakeUIOpFamily<&FrameHandler>();
constexpr UIOpFamily kHandOverFamily = MakeUIOpFamily<&HandOverHandler>();

struct ThreadsTest : rendertest::RendererFixture {
    void SetUp() override {
        RendererFixture::SetUp();
        InstallUIServices();
    }
    void TearDown() override {
        RendererFixture::TearDown();
        InstallUIServices();
    }
};

}  // namespace

TEST_F(ThreadsTest, RandomOpsWhileTheRenderThreadRuns) {
    ASSERT_TRUE(created);
    const uint32_t liveBefore = UIElement::LiveCount();
    std::mt19937 rng(77);
    auto pick = [&rng](size_t n) { return size_t(rng() % n); };
    std::vector<uint32_t> torn;
    std::map<uint32_t, UIElement*> live;
    std::vector<UIElement*> roots;
    for (int i = 0; i < 4; ++i) {
        roots.push_back(new RecordingElement(&torn));
        live[roots.back()->GetId()] = roots.back();
    }
    auto forget = [&] {
        for (uint32_t id : torn) live.erase(id);
        torn.clear();
    };
    auto any = [&]() {
        auto it = live.begin();
        std::advance(it, pick(live.size()));
        return it->second;
    };
    int64_t clock = 0;
    for (uint32_t step = 0; step < 20000; ++step) {
        UIElement* e = any();
        const bool isRoot = std::find(roots.begin(), roots.end(), e) != roots.end();
        switch (pick(16)) {
        case 0:
        case 1: {
            auto* child = new RecordingElement(&torn);
            live[child->GetId()] = child;
            e->AddChild(child);
            break;
        }
        case 2: if (!isRoot) any()->AddChild(e); break;
        case 3: if (e->GetParent()) e->GetParent()->RemoveChild(e); break;
        case 4: if (!isRoot && pick(4) == 0) e->Release(); break;
        case 5: e->RaiseFlag(uint32_t(rng()) & 0x3FFFFFFD, pick(2)); break;
        case 6: e->ClearFlag(uint32_t(rng()) & 0x3FFFFFFF, pick(2)); break;
        case 7: e->SetPosition(Vector(float(pick(100)), float(pick(100)), 0, 1)); break;
        case 8: e->SetScale(float(pick(3)) - 1.0f); break;
        case 9: e->SetColor(0.5f, 0.5f, 0.5f, 1); e->SetTag(pick(2) ? "tag" : nullptr); break;
        case 10: e->Move(0.01f * float(pick(10)), Vector(1, 2, 3, 1), uint32_t(rng()) & 0xFF, uint32_t(pick(4))); break;
        case 11: e->BlendOutAndHide(0.02f, 0, uint32_t(pick(4))); break;
        case 12: e->ShowAndBlendIn(0.02f, 0, uint32_t(pick(4))); break;
        case 13: if (!isRoot) e->Delete(0.01f * float(pick(3)), uint32_t(pick(4))); break;
        case 14: e->RemoveAllActions(pick(2) ? uint32_t(-1) : uint32_t(pick(4))); break;
        default: {
            // A frame: clocks, every root's tree, the hand-over, then the main side's take.
            clock += Time::Base().frequency / 100;
            PostUIViewTransform(nullptr, clock, clock, 1280, 720, 1, 1, Vector());
            for (UIElement* r : roots) PostUIOp(kFrameFamily, 0, r);
            PostUIOp(kHandOverFamily, 0, nullptr);
            UIElement::FinishPendingDeletion();
            if (pick(8) == 0) gVornexRenderer.FlushCommands(pick(2) == 0);
            break;
        }
        }
        forget();
    }
    // Release every tree still held (roots and elements removed from their parents).
    for (int guard = 0; !live.empty() && guard < 100000; ++guard) {
        live.begin()->second->GetTopParent()->Release();
        forget();
    }
    EXPECT_TRUE(live.empty());
    // Hand back whatever is still queued.
    for (int i = 0; i < 20000 && UIElement::LiveCount() != liveBefore; ++i) {
        PostUIOp(kHandOverFamily, 0, nullptr);
        gVornexRenderer.FlushCommands(true);
        UIElement::FinishPendingDeletion();
        gVornexRenderer.FlushCommands(true);
    }
    EXPECT_EQ(UIElement::LiveCount(), liveBefore);
}

TEST_F(ThreadsTest, TheTakeOfAnElementThatReleasedItselfReadsNothingAfterIt) {
    // An element released while it waits in the hand-over slot: its op 0 only marks it,
    // and the render thread frees it as soon as it sees the take. The render thread's
    // hand-over step runs while the main thread takes, so any read of the element after
    // the take races with that free.
    const uint32_t liveBefore = UIElement::LiveCount();
    for (int i = 0; i < 50; ++i) {
        UIElement* e = new UIElement();
        rendertest::RunOnRenderThread([e] {
            e->QueueForDeletion();
            UIElement::ProcessPendingDeletion();
        });
        e->Release();
        gVornexRenderer.FlushCommands(true);  // op 0 meets it in the slot
        PostUIOp(kHandOverFamily, 0, nullptr);
        gVornexRenderer.FlushCommands(false);
        UIElement::FinishPendingDeletion();
        gVornexRenderer.FlushCommands(true);
        rendertest::RunOnRenderThread([] { UIElement::ProcessPendingDeletion(); });
    }
    EXPECT_EQ(UIElement::LiveCount(), liveBefore);
    EXPECT_EQ(UIElement::HandOverSlot(), nullptr);
}
