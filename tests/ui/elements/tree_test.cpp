// test-sanitize: address
// The main half: the tree and its ops, flags and the focus table, release and the memory
// guard. No renderer runs, so each op is applied as it is posted and the render half can
// be checked at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "CaptureLogSink.h"
#include "UIElementTestSupport.h"
#include "engine/entity/EntityTemplate.h"
#include "ui/elements/UIIdTable.h"

using namespace uitest;

namespace {

struct TreeTest : ::testing::Test {
    void SetUp() override { log.Attach(); }
    void TearDown() override { log.Detach(); }

    CaptureLogSink log;
};

std::vector<const UIElement*> Children(const UIElement* e) {
    std::vector<const UIElement*> out;
    for (UIElement* c = e->GetFirstChild(); c; c = c->GetNextSibling()) out.push_back(c);
    return out;
}

std::vector<const UIElement*> RenderChildren(const UIElement* e) {
    std::vector<const UIElement*> out;
    for (UIElement* c = e->Render().firstChild; c; c = c->Render().nextSibling) out.push_back(c);
    return out;
}

}  // namespace

TEST_F(TreeTest, AddChildReparentsTheSubtreeWithTheDefaultActionFlags) {
    UIElement* a = new UIElement();
    UIElement* b = new UIElement();
    UIElement* c = new UIElement();
    UIElement* d = new UIElement();
    a->AddChild(c);
    c->AddChild(d);
    b->SetDefaultActionFlags(UIACTIONFLAG_GAMEPLAYTIME, false);
    b->AddChild(c);
    EXPECT_TRUE(Children(a).empty());
    EXPECT_EQ(Children(b), std::vector<const UIElement*>{c});
    EXPECT_EQ(c->GetParent(), b);
    EXPECT_EQ(c->GetDefaultActionFlags(), uint32_t(UIACTIONFLAG_GAMEPLAYTIME));
    EXPECT_EQ(d->GetDefaultActionFlags(), uint32_t(UIACTIONFLAG_GAMEPLAYTIME));
    // The render tree followed.
    EXPECT_TRUE(RenderChildren(a).empty());
    EXPECT_EQ(RenderChildren(b), std::vector<const UIElement*>{c});
    a->Release();
    b->Release();
}

TEST_F(TreeTest, ReAddingTheLastChildPostsOpOneAndKeepsTheTree) {
    UIElement* root = new UIElement();
    UIElement* x = new UIElement();
    UIElement* y = new UIElement();
    root->AddChild(x);
    root->AddChild(y);
    OpRecorder ops;
    root->AddChild(y);
    EXPECT_EQ(ops.For(root), std::vector<uint32_t>{UIOP_ADDCHILD});
    EXPECT_EQ(Children(root), (std::vector<const UIElement*>{x, y}));
    EXPECT_EQ(RenderChildren(root), (std::vector<const UIElement*>{x, y}));
    // Removing an element that is not a child changes nothing but still posts op 2.
    UIElement* stranger = new UIElement();
    root->RemoveChild(stranger);
    EXPECT_EQ(ops.For(root), (std::vector<uint32_t>{UIOP_ADDCHILD, UIOP_REMOVECHILD}));
    EXPECT_EQ(Children(root).size(), 2u);
    stranger->Release();
    root->Release();
}

TEST_F(TreeTest, ACycleIsRefusedWithOneLine) {
    UIElement* top = new UIElement();
    UIElement* mid = new UIElement();
    UIElement* leaf = new UIElement();
    top->AddChild(mid);
    mid->AddChild(leaf);
    OpRecorder ops;
    struct Case {
        UIElement* parent;
        UIElement* child;
    } cases[] = {{top, top}, {leaf, top}, {leaf, mid}};
    for (const Case& c : cases) c.parent->AddChild(c.child);
    EXPECT_TRUE(ops.ops.empty());
    EXPECT_EQ(top->GetParent(), nullptr);
    EXPECT_EQ(Children(leaf).size(), 0u);
    EXPECT_EQ(RenderChildren(leaf).size(), 0u);
    size_t lines = 0;
    for (const auto& m : log.Messages())
        if (m.text.find("UIElement::AddChild") == 0 && m.severity == uint8_t(LogSeverity::Error)) ++lines;
    EXPECT_EQ(lines, 3u);
    top->Release();
}

TEST_F(TreeTest, FindsArePreOrderWithTheElementFirst) {
    // root(A(A1, A2), B(B1))
    UIElement* root = new UIElement();
    UIElement* a = new UIElement();
    UIElement* a1 = new UIElement();
    UIElement* a2 = new UIElement();
    UIElement* b = new UIElement();
    UIElement* b1 = new UIElement();
    root->AddChild(a);
    a->AddChild(a1);
    a->AddChild(a2);
    root->AddChild(b);
    b->AddChild(b1);
    a2->RaiseFlag(UIFLAG_DEPTHTEST | UIFLAG_TRANSPARENT, false);
    b->RaiseFlag(UIFLAG_DEPTHTEST, false);
    b1->SetName("same");
    a2->SetName("same");

    EXPECT_EQ(root->FindElementById(root->GetId()), root);
    EXPECT_EQ(root->FindElementById(b1->GetId()), b1);
    EXPECT_EQ(a->FindElementById(b1->GetId()), nullptr);
    EXPECT_TRUE(root->HasElementWithId(a2->GetId()));
    EXPECT_EQ(root->FindElementByFlag(UIFLAG_DEPTHTEST, UIFLAG_DEPTHTEST), a2);
    EXPECT_EQ(root->FindElementByFlag(UIFLAG_DEPTHTEST, UIFLAG_DEPTHTEST | UIFLAG_TRANSPARENT), b);
    EXPECT_EQ(root->FindElementByFlag(0, UIFLAG_DEPTHTEST), root);
    EXPECT_EQ(root->FindElementByName(NameString("same")), a2);
    EXPECT_EQ(b->FindElementByName(NameString("same")), b1);
    EXPECT_EQ(root->FindElementByName(NameString("none")), nullptr);
    EXPECT_EQ(b1->GetTopParent(), root);
    EXPECT_TRUE(b1->IsDescendantOf(b1));
    EXPECT_TRUE(b1->IsDescendantOf(root));
    EXPECT_FALSE(b1->IsDescendantOf(a));
    EXPECT_FALSE(root->IsDescendantOf(nullptr));
    root->Release();
}

TEST_F(TreeTest, HideAnswersAtOnceAndRecursionIsTheRenderSides) {
    UIElement* root = new UIElement();
    UIElement* child = new UIElement();
    root->AddChild(child);
    root->Hide();
    EXPECT_FALSE(root->IsVisible());
    root->Show();
    EXPECT_TRUE(root->IsVisible());
    root->RaiseFlag(UIFLAG_HIDDEN, true);
    EXPECT_TRUE(child->IsVisible());  // the main copies of the children keep their flags
    EXPECT_TRUE(child->Render().flags & UIFLAG_HIDDEN);
    root->ClearFlag(UIFLAG_HIDDEN, true);
    EXPECT_FALSE(child->Render().flags & UIFLAG_HIDDEN);
    root->Release();
}

TEST_F(TreeTest, TheFocusTableKeepsOneSortedEntryPerFocusableElement) {
    UIIdTable table;
    for (uint32_t id : {7u, 3u, 9u, 1u, 5u, 3u}) table.Insert(nullptr, id);
    ASSERT_EQ(table.Count(), 6u);
    for (uint32_t i = 1; i < table.Count(); ++i) EXPECT_LE(table.At(i - 1).id, table.At(i).id);
    EXPECT_EQ(table.Capacity(), 8u);
    EXPECT_EQ(table.At(6).id, -1);
    table.Remove(4);  // absent
    EXPECT_EQ(table.Count(), 6u);

    ASSERT_NE(gUIIdTable, nullptr);
    const uint32_t before = gUIIdTable->Count();
    UIElement* e = new UIElement();
    UIElement* never = new UIElement();
    e->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
    e->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_HIDDEN, false);
    EXPECT_EQ(gUIIdTable->Count(), before + 1);
    EXPECT_EQ(gUIIdTable->Find(e->GetId()), e);
    never->ClearFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
    EXPECT_EQ(gUIIdTable->Count(), before + 1);
    // Release leaves the table through ClearFlag, whose op precedes op 0.
    OpRecorder ops;
    e->Release();
    EXPECT_EQ(gUIIdTable->Count(), before);
    EXPECT_EQ(ops.For(e), (std::vector<uint32_t>{UIOP_CLEARFLAG, UIOP_DELETE}));
    never->Release();
}

TEST_F(TreeTest, ReleaseAndDeleteChildrenTearTheSubtreeDownInOrderAndFreeIt) {
    // r(a(a1, a2), b): Release takes r too, DeleteChildren keeps it.
    for (const bool release : {true, false}) {
        std::vector<uint32_t> deleted, freed;
        auto* r = new RecordingElement(&deleted, &freed);
        auto* a = new RecordingElement(&deleted, &freed);
        auto* a1 = new RecordingElement(&deleted, &freed);
        auto* a2 = new RecordingElement(&deleted, &freed);
        auto* b = new RecordingElement(&deleted, &freed);
        r->AddChild(a);
        a->AddChild(a1);
        a->AddChild(a2);
        r->AddChild(b);
        std::vector<uint32_t> order = {a->GetId(), a1->GetId(), a2->GetId(), b->GetId()};
        if (release) order.push_back(r->GetId());
        const uint32_t destroyedBefore = UIElement::DestroyedCount();
        OpRecorder ops;
        if (release)
            r->Release();
        else
            r->DeleteChildren();
        EXPECT_EQ(deleted, order) << "release: " << release;
        std::sort(freed.begin(), freed.end());
        std::sort(order.begin(), order.end());
        EXPECT_EQ(freed, order) << "release: " << release;
        EXPECT_EQ(UIElement::DestroyedCount() - destroyedBefore, uint32_t(order.size()));
        ASSERT_FALSE(ops.ops.empty());
        EXPECT_EQ(ops.ops.back().op, uint32_t(release ? UIOP_DELETE : UIOP_DELETECHILDREN));
        EXPECT_EQ(ops.ops.back().element, r);
        if (!release) {
            EXPECT_EQ(r->GetFirstChild(), nullptr);
            EXPECT_EQ(r->Render().firstChild, nullptr);
            r->Release();
        }
    }
}

TEST_F(TreeTest, TheRecipeOwnerCountFollowsTheElement) {
    EntityTemplate first, second;
    UIElement* e = new UIElement();
    e->SetRecipe(nullptr, &first);
    EXPECT_EQ(first.GetInstanceCount(), 1u);
    e->SetRecipe(nullptr, &second);
    EXPECT_EQ(first.GetInstanceCount(), 0u);
    EXPECT_EQ(second.GetInstanceCount(), 1u);
    e->SetRecipe(nullptr, &second);
    EXPECT_EQ(second.GetInstanceCount(), 1u);
    e->Release();
    EXPECT_EQ(second.GetInstanceCount(), 0u);
}

TEST_F(TreeTest, TheMemoryGuardReleasesWhatWasNeverAccountedFor) {
    std::vector<uint32_t> freed;
    EnableUIMemoryGuard();
    auto* lost = new RecordingElement(nullptr, &freed);
    auto* reported = new RecordingElement(nullptr, &freed);
    auto* placed = new RecordingElement(nullptr, &freed);
    UIElement* parent = new UIElement();  // itself under the guard
    UIMemoryGuardReportElement(reported);
    UIMemoryGuardReportElement(parent);
    parent->AddChild(placed);
    EXPECT_EQ(lost->GetParent(), UIMemoryGuard());
    const uint32_t lostId = lost->GetId();
    DisableUIMemoryGuard();
    EXPECT_EQ(UIMemoryGuard(), nullptr);
    EXPECT_EQ(freed, std::vector<uint32_t>{lostId});
    EXPECT_EQ(reported->beforeDeleteCalls, 0);
    reported->Release();
    parent->Release();
}

TEST_F(TreeTest, TheLoadingScreenMarkGoesToTheOwnerThenTheElementThenTheChildren) {
    static std::vector<std::string> calls;
    calls.clear();
    struct MarkedTemplate : EntityTemplate {
        void QueueRequest(uint32_t argument) override { calls.push_back("template " + std::to_string(argument)); }
    } owner;
    struct MarkedElement : UIElement {
        explicit MarkedElement(const char* name) : label(name) {}
        void OnTemporaryLoadingScreenMark(uint32_t mark) override {
            calls.push_back(label + " " + std::to_string(mark));
        }
        std::string label;
    };
    auto* root = new MarkedElement("root");
    auto* first = new MarkedElement("first");
    auto* inner = new MarkedElement("inner");
    auto* second = new MarkedElement("second");
    root->AddChild(first);
    first->AddChild(inner);
    root->AddChild(second);
    root->SetRecipe(nullptr, &owner);
    root->MarkAsTemporaryLoadingScreenUI();
    EXPECT_EQ(calls, (std::vector<std::string>{"template 768", "root 768", "first 768", "inner 768", "second 768"}));
    root->Release();
}
