// test-sanitize: address
// Elements deleted on the render side and their hand-over to the main thread: the order
// and pace of the hand-over, and releases that meet an element while it waits in the
// pending list or in the hand-over slot (each element torn down once and freed once).
#include <gtest/gtest.h>

#include "UIElementTestSupport.h"

using namespace uitest;

namespace {

struct HandOverTest : ::testing::Test {
    void SetUp() override {
        // Start from an empty list and a taken slot.
        ASSERT_EQ(UIElement::PendingDeletionCount(), 0u);
        ASSERT_EQ(UIElement::HandOverSlot(), nullptr);
        root = new UIElement();
    }
    void TearDown() override {
        root->Release();
        EXPECT_EQ(UIElement::PendingDeletionCount(), 0u);
        EXPECT_EQ(UIElement::HandOverSlot(), nullptr);
    }
    RecordingElement* Child() {
        auto* e = new RecordingElement(&deleted, &freed);
        root->AddChild(e);
        return e;
    }

    UIElement* root = nullptr;
    std::vector<uint32_t> deleted, freed;
};

}  // namespace

TEST_F(HandOverTest, LastQueuedFirstOnePerTickOnlyOnceTaken) {
    RecordingElement* a = Child();
    RecordingElement* b = Child();
    const uint32_t idA = a->GetId(), idB = b->GetId();
    a->QueueForDeletion();
    b->QueueForDeletion();
    b->QueueForDeletion();  // already pending: nothing
    EXPECT_EQ(UIElement::PendingDeletionCount(), 2u);

    UIElement::ProcessPendingDeletion();
    EXPECT_EQ(UIElement::HandOverSlot(), b);
    UIElement::ProcessPendingDeletion();  // not taken yet: nothing moves
    EXPECT_EQ(UIElement::HandOverSlot(), b);
    EXPECT_EQ(UIElement::PendingDeletionCount(), 1u);

    UIElement::FinishPendingDeletion();
    EXPECT_EQ(deleted, std::vector<uint32_t>{idB});
    EXPECT_EQ(freed, std::vector<uint32_t>{idB});
    UIElement::FinishPendingDeletion();  // at most one per hand-over
    EXPECT_EQ(freed.size(), 1u);

    UIElement::ProcessPendingDeletion();
    EXPECT_EQ(UIElement::HandOverSlot(), a);
    UIElement::FinishPendingDeletion();
    EXPECT_EQ(freed, (std::vector<uint32_t>{idB, idA}));
    EXPECT_EQ(root->GetFirstChild(), nullptr);
}

TEST_F(HandOverTest, ReleasingAnElementWaitingInTheListOrTheSlot) {
    for (const bool inSlot : {false, true}) {
        deleted.clear();
        freed.clear();
        RecordingElement* a = Child();
        const uint32_t id = a->GetId();
        a->QueueForDeletion();
        if (inSlot) {
            UIElement::ProcessPendingDeletion();
            ASSERT_EQ(UIElement::HandOverSlot(), a);
        }
        // In the list its op 0 takes it out and frees it; in the slot the main thread may
        // still read it, so it is only marked and freed once the take is seen.
        a->Release();
        EXPECT_EQ(UIElement::PendingDeletionCount(), 0u);
        EXPECT_EQ(freed.empty(), inSlot) << "in the slot: " << inSlot;
        UIElement::FinishPendingDeletion();  // torn down already: no second teardown
        UIElement::ProcessPendingDeletion();
        EXPECT_EQ(deleted, std::vector<uint32_t>{id}) << "in the slot: " << inSlot;
        EXPECT_EQ(freed, std::vector<uint32_t>{id}) << "in the slot: " << inSlot;
        EXPECT_EQ(UIElement::HandOverSlot(), nullptr);
    }
}

TEST_F(HandOverTest, AnAncestorsReleaseTearsAPendingElementDownOnce) {
    UIElement* parent = new UIElement();
    root->AddChild(parent);
    auto* pendingChild = new RecordingElement(&deleted, &freed);
    auto* grandChild = new RecordingElement(&deleted, &freed);
    parent->AddChild(pendingChild);
    pendingChild->AddChild(grandChild);
    const uint32_t id = pendingChild->GetId(), grandId = grandChild->GetId();
    pendingChild->QueueForDeletion();
    parent->Release();  // tears the pending child down on the main side; it stays queued
    EXPECT_EQ(deleted, (std::vector<uint32_t>{id, grandId}));
    EXPECT_TRUE(freed.empty());
    UIElement::ProcessPendingDeletion();
    UIElement::FinishPendingDeletion();  // only the freeing op
    EXPECT_EQ(deleted, (std::vector<uint32_t>{id, grandId}));
    EXPECT_EQ(freed, (std::vector<uint32_t>{id, grandId}));
}

TEST_F(HandOverTest, ADeletionInsideAPendingSubtreeIsIgnored) {
    RecordingElement* a = Child();
    auto* inner = new RecordingElement(&deleted, &freed);
    a->AddChild(inner);
    a->QueueForDeletion();
    inner->QueueForDeletion();  // its ancestor is pending already
    EXPECT_EQ(UIElement::PendingDeletionCount(), 1u);
    UIElement::ProcessPendingDeletion();
    UIElement::FinishPendingDeletion();
    EXPECT_EQ(freed.size(), 2u);
}

TEST_F(HandOverTest, AQueuedElementStaysOutOfRenderTrees) {
    RecordingElement* a = Child();
    const uint32_t id = a->GetId();
    a->QueueForDeletion();
    UIElement* other = new UIElement();
    root->AddChild(other);
    other->AddChild(a);  // the main side does not know yet
    EXPECT_EQ(a->Render().parent, nullptr);
    a->ClearFlag(0xFFFFFFFFu, true);  // flag ops never move the pending bit
    EXPECT_TRUE(a->Render().flags & UIRENDERFLAG_PENDINGDELETION);
    other->Release();  // tears it down on the main side; it stays queued, alive
    EXPECT_EQ(deleted, std::vector<uint32_t>{id});
    EXPECT_TRUE(freed.empty());
    UIElement::ProcessPendingDeletion();
    UIElement::FinishPendingDeletion();
    EXPECT_EQ(freed, std::vector<uint32_t>{id});
}
