// The drawing device shared by three threads as the program shares it: the main thread
// creates and releases objects, the render thread clears and draws, the presenter
// thread presents and polls an event query. Calls are serialised by the device lock;
// GL work happens on the thread that draws (and on the main thread for the read-back).
// test-sanitize: thread address
// test-timeout: 600
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "DrawFixture.h"

// Under ThreadSanitizer: Mesa's own code (its rasteriser threads are off through
// LP_NUM_THREADS=0, set by the fixture) synchronises through primitives the sanitizer
// does not see; its frames are suppressed by library name, never the project's.
extern "C" const char* __tsan_default_suppressions() {
    return "race:swrast_dri.so\nrace:libgallium\nrace:libLLVM\nrace:libglapi.so\nrace:libEGL_mesa.so\n"
           "race:libGLdispatch.so\nrace:libEGL.so\ncalled_from_lib:swrast_dri.so\ndeadlock:libLLVM\ndeadlock:swrast_dri.so\n";
}

namespace gfx {
namespace {

TEST_F(DrawFixture, RenderAndPresenterThreadsShareTheDrawingDevice) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    UseShaders(kPassVertex, kColourPixel);
    Query* query = nullptr;
    ASSERT_EQ(device->CreateQuery(QUERYTYPE_EVENT, &query), OK);
    held.push_back(query);
    constexpr int kFrames = 60;
    std::atomic<int> drawn{0};
    std::atomic<bool> timedOut{false};
    std::thread render([&] {
        for (int i = 0; i < kFrames; ++i) {
            device->Clear(0, nullptr, CLEAR_TARGET, Argb(255, 0, 0, 0), 1.0f, 0);
            const uint32_t shade = static_cast<uint32_t>(i * 4);
            const std::vector<Vertex> quad = Rectangle(-1, -1, 1, 1, Argb(255, shade, 255 - shade, 128));
            device->SetFVF(kVertexFvf);
            device->BeginScene();
            device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, quad.data(), sizeof(Vertex));
            device->EndScene();
            drawn = i + 1;
        }
    });
    std::thread presenter([&] {
        for (int presented = 0; presented < kFrames && !timedOut;) {
            if (drawn.load() <= presented) {
                if (Clock::now() > deadline) timedOut = true;
                std::this_thread::yield();
                continue;
            }
            device->Present(nullptr, nullptr, nullptr, nullptr);
            query->Issue(ISSUE_END);
            while (query->GetData(nullptr, 0, GETDATA_FLUSH) == OK_FALSE) {
                if (Clock::now() > deadline) {
                    timedOut = true;
                    break;
                }
            }
            ++presented;
        }
    });
    for (int i = 0; i < 50; ++i) {
        Texture* t = nullptr;
        ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &t, nullptr), OK);
        t->Release();
    }
    render.join();
    presenter.join();
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(recorder->CallCount(CallKind::Present), static_cast<uint64_t>(kFrames));
    // The main thread reads what the render thread drew last.
    const uint32_t last = static_cast<uint32_t>((kFrames - 1) * 4);
    ExpectPicture("threads_last_frame", backBuffer,
                  [&](uint32_t, uint32_t) { return Argb(0, last, 255 - last, 128); }, 1);
}

// Work done outside a scene on one thread (a clear, a fill) is what another thread
// reads next.
TEST_F(DrawFixture, WorkOutsideASceneIsSeenByAnotherThread) {
    Clear(0);
    auto work = std::async(std::launch::async, [&] {
        device->Clear(0, nullptr, CLEAR_TARGET, Argb(255, 200, 0, 0), 1.0f, 0);
        const Rect left = {0, 0, kSize / 2, kSize};
        device->ColorFill(backBuffer, &left, Argb(255, 0, 0, 150));
    });
    ASSERT_EQ(work.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ExpectPicture("outside_scene_other_thread", backBuffer,
                  [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0x000096u : 0xC80000u; }, 1);
}

}  // namespace
}  // namespace gfx
