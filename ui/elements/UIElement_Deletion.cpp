// UIElement: elements deleted on the render side and their hand-over to the main thread
// (see the design note in UIElement.cpp).
#include <atomic>

#include "core/Dynarray.h"
#include "core/Sync.h"
#include "core/ThreadCheck.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UIElement.h"

namespace {

Dynarray<UIElement*> gPending;               // render thread
std::atomic<UIElement*> gHandOverSlot{nullptr};  // written by the render thread before it counts
CounterPair gHandOver;                       // first: handed (render), second: taken (main)

}  // namespace

void UIElement::QueueForDeletion() {
    for (const UIElement* e = this; e; e = e->rs.parent)
        if (e->rs.flags & UIRENDERFLAG_PENDINGDELETION) return;
    rs.flags |= UIFLAG_HIDDEN | UIRENDERFLAG_PENDINGDELETION;
    RenderDetach();
    gPending.Add(this);
}

void UIElement::ProcessPendingDeletion() {
    if (gHandOver.Pending()) return;
    // The previous hand-over was taken; an element whose op 0 arrived before the take
    // (it was released on the main side meanwhile) is freed now.
    UIElement* taken = gHandOverSlot.load(std::memory_order_seq_cst);
    if (taken && taken->deleteRequested) {
        gHandOverSlot.store(nullptr, std::memory_order_seq_cst);
        delete taken;
    }
    if (gPending.Count() == 0) return;
    UIElement* e = gPending[gPending.Count() - 1];
    gPending.Remove(gPending.Count() - 1);
    gHandOverSlot.store(e, std::memory_order_seq_cst);
    e->RenderDetach();
    gHandOver.IncrementFirst();
}

void UIElement::FinishPendingDeletion() {
    ASSERT_ON_THREAD(GetMainThreadId(), "main thread");
    if (!gHandOver.Pending()) return;
    UIElement* e = gHandOverSlot.load(std::memory_order_seq_cst);
    // Everything is read before the take: once taken, an element that released itself
    // earlier may be freed by the render thread at any moment.
    const bool tornDown = e && e->released;
    const bool byAncestor = e && e->ancestorTornDown;
    gHandOver.IncrementSecond();
    if (!e) return;
    if (!tornDown) {
        e->Release();
    } else if (byAncestor) {
        // Torn down by an ancestor's release, which posted no op 0 for it: only the
        // freeing op (nothing else frees it, so it is still there).
        e->PostRaw(UIOP_DELETE);
    }
    // Released by itself: its own op 0 is in the stream and frees it after the take.
}

void UIElement::RenderDestroy() {
    for (uint32_t i = 0; i < gPending.Count(); ++i) {
        if (gPending[i] == this) {
            gPending.Remove(i);
            break;
        }
    }
    if (gHandOverSlot.load(std::memory_order_seq_cst) == this) {
        // Handed over but not taken yet: the main thread still reads it. The op is
        // remembered and the render side frees it once the take is seen.
        if (gHandOver.Pending()) {
            deleteRequested = true;
            return;
        }
        gHandOverSlot.store(nullptr, std::memory_order_seq_cst);
    }
    delete this;
}

uint32_t UIElement::PendingDeletionCount() { return gPending.Count(); }

UIElement* UIElement::HandOverSlot() {
    return gHandOver.Pending() ? gHandOverSlot.load(std::memory_order_seq_cst) : nullptr;
}

void ResetUIPendingDeletion() {
    gPending.Release();
    gHandOverSlot.store(nullptr);
}
