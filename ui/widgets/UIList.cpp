// UIList and UIRoundList, main thread: entries, the content, the fixed entry, the pointer
// events (posted as list ops) and the round list's ring.
#include "ui/widgets/UIList.h"

#include <cmath>
#include <cstdio>

#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITextBase.h"
#include "ui/recipes/UIElementRecipe.h"

namespace {

constexpr uint32_t kEntryFlag = 0x80;
constexpr uint32_t kFixedFadeFlags = UIACTIONFLAG_SYSTEMTIME;
constexpr uint32_t kEveryChannel = uint32_t(-1);

// The element's recipe "Size" y (0 without a recipe).
float RecipeSizeY(const UIElement* e) { return e && e->GetRecipe() ? e->GetRecipe()->size.y : 0.0f; }

// "Integer part of x + 0.5" of a non-negative row number.
int32_t RoundRow(float x) { return int32_t(x + 0.5f); }

}  // namespace

UIList::UIList() {
    SetLuaClass("UIList");
    lr.uiHeight = GetUIHeight();
    MakeContent();
}

void UIList::MakeContent() {
    UIElement* c = new UIElement;
    c->RaiseFlag(UIFLAG_TRANSPARENT, false);
    c->SetDefaultActionFlags(0, true);
    AddChild(c);
    content = c;
    PostUIOpValues(kUIListFamily, UIOP_LIST_CONTENT, this, c);
}

void UIList::OnBeforeDelete() {
    entries.Release();
    content = nullptr;
    fixedEntry = nullptr;
    UIElement::OnBeforeDelete();
}

float UIList::RecipeHeight() const { return RecipeSizeY(this); }

void UIList::Clear() {
    if (UIElement* old = content.Get()) {
        RemoveChild(old);
        old->Release();
    }
    UIElement* c = new UIElement;
    c->RaiseFlag(UIFLAG_TRANSPARENT, false);
    c->SetDefaultActionFlags(0, true);
    AddChild(c);
    content = c;
    contentHeight = 0;
    PostUIOpValues(kUIListFamily, UIOP_LIST_CONTENTHEIGHT, this, contentHeight);
    scrollOffset = 0;
    PostUIOpValues(kUIListFamily, UIOP_LIST_SCROLLOFFSET, this, scrollOffset);
    entryCount = 0;
    PostUIOpValues(kUIListFamily, UIOP_LIST_ENTRYCOUNT, this, entryCount);
    entries.Clear();
    if (UIElement* f = fixedEntry.Get()) {
        f->Hide();
        RemoveChild(f);
        AddChild(f);  // at the end of the children
    }
    PostUIOpValues(kUIListFamily, UIOP_LIST_CONTENT, this, c);
}

void UIList::AppendEntry(UIElement* element) {
    UIElement* c = content.Get();
    if (!element || !c) return;
    element->RaiseFlag(kEntryFlag, false);
    element->SetPosition(0, contentHeight, 0);
    contentHeight += RecipeSizeY(element);
    PostUIOpValues(kUIListFamily, UIOP_LIST_CONTENTHEIGHT, this, contentHeight);
    c->AddChild(element);
    entries.Add(SafePointer<UIElement>(element));
    ++entryCount;
    PostUIOpValues(kUIListFamily, UIOP_LIST_ENTRYCOUNT, this, entryCount);
}

UIElement* UIList::AddListElement(const char* subRecipeName, bool withFixedEntry) {
    UIElementRecipe* recipe = GetRecipe();
    if (!recipe || !subRecipeName) return nullptr;
    UIElementRecipe* sub = recipe->FindSubRecipe(NameString(subRecipeName));
    if (!sub) return nullptr;
    UIElement* element = sub->CreateElementTree(GetRecipeOwner(), 0, 1);
    AppendEntry(element);
    if (!withFixedEntry || fixedEntry.Get()) return element;
    UIElementRecipe* fixedRecipe = recipe->FindSubRecipe(NameString("FixedEntry"));
    if (!fixedRecipe) return element;
    fixedEntryIndex = int32_t(entryCount) - 1;
    PostUIOpValues(kUIListFamily, UIOP_LIST_FIXEDENTRYINDEX, this, fixedEntryIndex);
    if (UIElement* f = fixedRecipe->CreateElementTree(GetRecipeOwner(), 0, 1)) {
        f->RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, true);
        f->Hide();
        AddChild(f);
        fixedEntry = f;
        PostUIOpValues(kUIListFamily, UIOP_LIST_FIXEDENTRY, this, f);
    }
    // Rows need entries of a height (the division would be by zero).
    if (entryCount > 0 && contentHeight / float(entryCount) > 0.0f) {
        visibleRows = RoundRow(RecipeHeight() / (contentHeight / float(entryCount)));
        PostUIOpValues(kUIListFamily, UIOP_LIST_VISIBLEROWS, this, visibleRows);
    }
    UpdateFixedEntry();
    return element;
}

void UIList::UpdateFixedEntry() {
    UIElement* f = fixedEntry.Get();
    if (!f || entryCount == 0) return;
    const float h = contentHeight / float(entryCount);
    if (!(h > 0.0f)) return;
    const int32_t r = RoundRow(std::fabs(scrollOffset) / h);
    if (!f->IsVisible() && fixedEntryIndex < r) {
        f->SetPosition(0, 0, 0);
        f->RemoveAllActions(kEveryChannel);
        f->SetLinearColor(1, 1, 1, 1);
        f->BlendOutAndHide(kFixedFadeSeconds, kFixedFadeFlags, kFixedFadeChannel);
    } else if (!f->IsVisible() && fixedEntryIndex > r + visibleRows - 1) {
        f->SetPosition(0, RecipeHeight() - RecipeSizeY(f), 0);
        f->RemoveAllActions(kEveryChannel);
        f->SetLinearColor(1, 1, 1, 1);
        f->ShowAndBlendIn(kFixedFadeSeconds, kFixedFadeFlags, kFixedFadeChannel);
    } else if (f->IsVisible() && fixedEntryIndex >= r && fixedEntryIndex <= r + visibleRows) {
        f->RemoveAllActions(kEveryChannel);
        f->BlendOutAndHide(kFixedFadeSeconds, kFixedFadeFlags, kFixedFadeChannel);
    }
}

void UIList::SetScrollOffset(float offset) {
    scrollOffset = offset;
    PostUIOpValues(kUIListFamily, UIOP_LIST_SCROLLOFFSET, this, offset);
}

bool UIList::OnPress() {
    PostUIOp(kUIListFamily, UIOP_LIST_PRESS, this);
    return true;
}

bool UIList::OnRelease() {
    PostUIOp(kUIListFamily, UIOP_LIST_RELEASE, this);
    return true;
}

bool UIList::OnDrag(const Vector& pointer) {
    PostUIOpValues(kUIListFamily, UIOP_LIST_DRAG, this, pointer);
    return true;
}

// ---- Round list ----

UIRoundList::UIRoundList() = default;

void UIRoundList::OnBeforeDelete() {
    first = nullptr;
    last = nullptr;
    UIList::OnBeforeDelete();
}

void UIRoundList::SetRange(int32_t from, int32_t to) {
    rangeFrom = from;
    rangeTo = to;
    ringEntryCount = int32_t(int64_t(to) - int64_t(from));
}

void UIRoundList::EndRecipeBuild(uint32_t childCreation) {
    if (!childCreation) return;
    static const NameString kValue("Value");
    ringEntryCount = 0;
    UIElement* lastMade = nullptr;
    // A stored range is a count of elements to make: without an entry recipe nothing is
    // made, and a range beyond the limit makes its first kMaxRingEntries values only.
    UIElementRecipe* recipe = GetRecipe();
    const bool entries = recipe && recipe->FindSubRecipe(NameString("RoundListEntry"));
    int64_t to = entries ? int64_t(rangeTo) : int64_t(rangeFrom) - 1;
    if (to - int64_t(rangeFrom) + 1 > int64_t(kMaxRingEntries)) {
        gLog.Error(LogCategory::UI, "UIRoundList: range %d..%d makes more than %u entries", rangeFrom, rangeTo,
                   kMaxRingEntries);
        to = int64_t(rangeFrom) + kMaxRingEntries - 1;
    }
    for (int64_t v = rangeFrom; v <= to; ++v) {
        UIElement* e = AddListElement("RoundListEntry", false);
        if (!e) continue;
        UIElement* value = e->FindElementByName(kValue);
        if (!value) value = e;
        if (value->IsUITextBase()) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", int32_t(v));
            static_cast<UITextBase*>(value)->SetText(text);
            value->Show();
        }
        ++ringEntryCount;
        lastMade = e;
    }
    UIElement* c = content.Get();
    UIElement* head = c ? c->GetFirstChild() : nullptr;
    UIElement* tail = head;
    while (tail && tail->GetNextSibling()) tail = tail->GetNextSibling();
    first = head;
    last = tail;
    entryHeight = RecipeSizeY(lastMade);
    topPosition = 0;
    lowestPosition = contentHeight - 3.0f * entryHeight;
    ThrowLastElementUp();
    ThrowLastElementUp();
    accumulator = 0;
}

void UIRoundList::ThrowLastElementUp() {
    UIElement* head = first.Get();
    UIElement* tail = last.Get();
    UIElement* c = content.Get();
    if (!head || !tail || !c) return;
    accumulator -= entryHeight;
    tail->SetPosition(0, topPosition - entryHeight, 0);
    topPosition -= entryHeight;
    lowestPosition -= entryHeight;
    // The old last's previous sibling, else the content's last child.
    UIElement* previous = nullptr;
    UIElement* contentLast = nullptr;
    for (UIElement* e = c->GetFirstChild(); e; e = e->GetNextSibling()) {
        if (e->GetNextSibling() == tail) previous = e;
        contentLast = e;
    }
    last = previous ? previous : contentLast;
    first = tail;
    gLog.Print(LogSeverity::Information, LogCategory::UI, "ThrowLastElementUp");
}

const RTTIClass* UIList::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIList"); }

const RTTIClass* UIRoundList::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIRoundList"); }
