// test-sanitize: thread address
// test-timeout: 240
// Screens drawn every frame on the render thread while the main thread adds, moves and
// releases focusable elements, presses and releases, and takes the candidate sets.
#include <random>

#include "DrawTestSupport.h"
#include "ui/elements/UIScreen.h"

using namespace drawtest;

namespace {

class Button : public UIElement {
public:
    bool OnPress() override { return true; }
    bool OnClick() override { return ++clicks, true; }
    int clicks = 0;
};

struct DrawThreadsTest : UIDrawFixture {};

}  // namespace

TEST_F(DrawThreadsTest, FramesWhileTheMainThreadChangesAndPresses) {
    ASSERT_TRUE(created);
    SetUISizeOverride(256, 144);
    UIScreen* screen = new UIScreen;
    screen->SetSize(256, 144);
    std::mt19937 rng(1234);
    auto coordinate = [&rng](float limit) { return float(rng() % 1000) / 1000.0f * limit; };
    std::vector<UIElement*> live;
    uint32_t published = 0;
    for (uint32_t frame = 0; frame < 400; ++frame) {
        for (int step = 0; step < 8; ++step) {
            switch (rng() % 6) {
            case 0:
            case 1: {
                UIElement* e = new Button;
                e->SetPosition(coordinate(200), coordinate(100), 0);
                e->SetSize(10 + coordinate(50), 10 + coordinate(40));
                e->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
                (live.empty() || rng() % 3 ? static_cast<UIElement*>(screen) : live[rng() % live.size()])->AddChild(e);
                live.push_back(e);
                break;
            }
            case 2:
                if (!live.empty()) live[rng() % live.size()]->SetPosition(coordinate(200), coordinate(100), 0);
                break;
            case 3:
                if (!live.empty()) {
                    const size_t i = rng() % live.size();
                    UIElement* gone = live[i];
                    // Its subtree goes with it.
                    std::vector<UIElement*> kept;
                    for (UIElement* e : live)
                        if (!e->IsDescendantOf(gone)) kept.push_back(e);
                    gone->Release();
                    live = kept;
                }
                break;
            case 4:
                screen->OnMouseButtonDown(Vector(coordinate(1), coordinate(1), 0, 0), 1);
                break;
            default:
                screen->OnMouseButtonUp(Vector(coordinate(1), coordinate(1), 0, 0), 1);
                break;
            }
        }
        // A frame handed to the render thread without waiting for it.
        gVornexRenderer.SetOutputSwapChain(nullptr, 0, 1);
        screen->Render(256, 144, int64_t(frame) * 1000, 0, Vector(0.5f, 0.5f, 0, 0));
        gVornexRenderer.PostUpscaleFinal();
        gVornexRenderer.EndFrame();
        // Now and then the render thread catches up, so that sets are also taken between
        // frames whatever the threads' speeds.
        if (frame % 25 == 24) gVornexRenderer.FlushCommands(true);
        screen->Update(Vector(coordinate(1), coordinate(1), 0, 0));
        published = screen->PublishedSets();
        UIElement::FinishPendingDeletion();
    }
    gVornexRenderer.FlushCommands(true);
    screen->Update(Vector());
    EXPECT_GE(published, 16u) << "sets were published and taken while the frames ran";
    EXPECT_LE(screen->CandidateCount(), UIScreen::kMaxCandidates);
    screen->Release();
    gVornexRenderer.FlushCommands(true);
    UIElement::FinishPendingDeletion();
}
