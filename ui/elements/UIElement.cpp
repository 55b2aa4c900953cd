// UIElement: construction, the counts, the class descriptor and the memory guard.
//
// Design. An element is one object shared by two threads, split into two halves:
//  - The main half (UIElement.h, "Main half") is written and read by the main thread
//    only: scripts, recipes and input routing use it. Every main-side change that
//    affects drawing updates the main copy where there is one and posts one element op.
//  - The render half (UIElementRenderHalf) is written by the constructor before the
//    element is published and afterwards only by ops and actions on the render thread.
//    The main thread never reads it again.
// Ops are records of the renderer's function-call task (UIOpStream.h) executed in
// posting order, so a setter posted before a release is applied before the element is
// freed. The element's memory is freed only on the render thread: by op 0, or as a
// render child of a freed element.
//
// Deletion hand-over (UIElement_Deletion.cpp). A UIActionDelete firing on the render side
// hides the element, detaches it from its render parent and queues it; once per renderer
// tick, when the main thread has taken the previous one, the last queued element goes into
// a single hand-over slot behind a counter pair (handed, taken). The main thread's
// FinishPendingDeletion takes it and runs its Release, which tears it down and posts op 0.
// The main side marks an element released when its teardown runs (its own Release or an
// ancestor's), so an element already torn down gets only the freeing op; op 0 for an
// element still queued takes it out of the queue first, and op 0 for the element in the
// slot before the main thread took it only marks it, and the render side frees it once it
// sees the take. Each element is thus torn down once and freed once.
#include "ui/elements/UIElement.h"

#include <atomic>

#include "core/rtti/RTTIClass.h"
#include "ui/elements/UIAction.h"

namespace {

uint32_t gIdCounter = 0;  // main thread
std::atomic<uint32_t> gCreated{0};
std::atomic<uint32_t> gDestroyed{0};
UIElement* gMemoryGuard = nullptr;  // main thread

}  // namespace

UIElement::UIElement() : LuaNamedBaseClass("UIElement") {
    id = ++gIdCounter;
    gCreated.fetch_add(1, std::memory_order_relaxed);
    if (gMemoryGuard) gMemoryGuard->AddChild(this);
}

UIElement::~UIElement() {
    RemoveActions(-1);
    RenderDetach();
    while (rs.firstChild) delete rs.firstChild;  // each child detaches itself
    gDestroyed.fetch_add(1, std::memory_order_relaxed);
}

const RTTIClass* UIElement::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIElement"); }

uint32_t UIElement::CreatedCount() { return gCreated.load(std::memory_order_relaxed); }
uint32_t UIElement::DestroyedCount() { return gDestroyed.load(std::memory_order_relaxed); }

void EnableUIMemoryGuard() {
    if (!gMemoryGuard) gMemoryGuard = new UIElement();
}

void DisableUIMemoryGuard() {
    UIElement* guard = gMemoryGuard;
    gMemoryGuard = nullptr;
    if (guard) guard->Release();
}

void UIMemoryGuardReportElement(UIElement* element) {
    if (gMemoryGuard) gMemoryGuard->RemoveChild(element);
}

UIElement* UIMemoryGuard() { return gMemoryGuard; }
