// UIElement: the main-side tree, flags, recipe and teardown.
#include <cassert>

#include "core/Log.h"
#include "core/ThreadCheck.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIIdTable.h"
#include "ui/elements/UITextBase.h"

#define ASSERT_MAIN_THREAD() ASSERT_ON_THREAD(GetMainThreadId(), "main thread")

void UIElement::PostRaw(uint32_t op, const void* payload, uint32_t bytes) {
    PostUIOp(kUIElementFamily, op, this, payload, bytes);
}

void UIElement::Unlink() {
    if (!parent) return;
    (previousSibling ? previousSibling->nextSibling : parent->firstChild) = nextSibling;
    (nextSibling ? nextSibling->previousSibling : parent->lastChild) = previousSibling;
    parent = previousSibling = nextSibling = nullptr;
}

void UIElement::AddChild(UIElement* child) {
    ASSERT_MAIN_THREAD();
    if (!child) return;
    if (IsDescendantOf(child)) {
        gLog.Error(LogCategory::Engine, "UIElement::AddChild - element %u is this element or one of its ancestors",
                   child->id);
        return;
    }
    if (child->parent != this) {
        child->Unlink();
        child->parent = this;
        child->previousSibling = lastChild;
        (lastChild ? lastChild->nextSibling : firstChild) = child;
        lastChild = child;
        child->SetDefaultActionFlags(defaultActionFlags, true);
    }
    PostUIOpValues(kUIElementFamily, UIOP_ADDCHILD, this, child);
}

void UIElement::RemoveChild(UIElement* child) {
    ASSERT_MAIN_THREAD();
    if (!child) return;
    if (child->parent == this) child->Unlink();
    PostUIOpValues(kUIElementFamily, UIOP_REMOVECHILD, this, child);
}

void UIElement::TearDownChildren() {
    while (UIElement* child = firstChild) {
        child->Unlink();
        child->OnBeforeDelete();
        child->released = true;
        child->ancestorTornDown = true;
        child->TearDownChildren();
    }
}

void UIElement::DeleteChildren() {
    ASSERT_MAIN_THREAD();
    TearDownChildren();
    PostRaw(UIOP_DELETECHILDREN);
}

void UIElement::Release() {
    ASSERT_MAIN_THREAD();
    TearDownChildren();
    Unlink();
    OnBeforeDelete();
    released = true;
    PostRaw(UIOP_DELETE);
}

void UIElement::OnBeforeDelete() {
    if (flags & UIFLAG_FOCUSABLEWITHMOUSE) ClearFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
    SetRecipe(nullptr, nullptr);
    ClearSafePointers();
    gLua.InvalidateObject(this);
}

UIElement* UIElement::GetTopParent() {
    UIElement* e = this;
    while (e->parent) e = e->parent;
    return e;
}

UIElement* UIElement::FindElementById(uint32_t wanted) {
    if (id == wanted) return this;
    for (UIElement* c = firstChild; c; c = c->nextSibling)
        if (UIElement* found = c->FindElementById(wanted)) return found;
    return nullptr;
}

UIElement* UIElement::FindElementByFlag(uint32_t value, uint32_t mask) {
    if ((flags & mask) == value) return this;
    for (UIElement* c = firstChild; c; c = c->nextSibling)
        if (UIElement* found = c->FindElementByFlag(value, mask)) return found;
    return nullptr;
}

UIElement* UIElement::FindElementByName(const NameString& wanted) {
    if (name == wanted) return this;
    for (UIElement* c = firstChild; c; c = c->nextSibling)
        if (UIElement* found = c->FindElementByName(wanted)) return found;
    return nullptr;
}

bool UIElement::IsDescendantOf(const UIElement* ancestor) const {
    for (const UIElement* e = this; e; e = e->parent)
        if (e == ancestor) return true;
    return false;
}

void UIElement::RaiseFlag(uint32_t bits, bool recursive) {
    ASSERT_MAIN_THREAD();
    if ((bits & UIFLAG_FOCUSABLEWITHMOUSE) && !(flags & UIFLAG_FOCUSABLEWITHMOUSE) && gUIIdTable)
        gUIIdTable->Insert(this, id);
    flags |= bits;
    PostUIOpValues(kUIElementFamily, UIOP_RAISEFLAG, this, bits, uint8_t(recursive));
}

void UIElement::ClearFlag(uint32_t bits, bool recursive) {
    ASSERT_MAIN_THREAD();
    if ((bits & UIFLAG_FOCUSABLEWITHMOUSE) && (flags & UIFLAG_FOCUSABLEWITHMOUSE) && gUIIdTable)
        gUIIdTable->Remove(id);
    flags &= ~bits;
    PostUIOpValues(kUIElementFamily, UIOP_CLEARFLAG, this, bits, uint8_t(recursive));
}

void UIElement::Hide() { RaiseFlag(UIFLAG_HIDDEN, false); }
void UIElement::Show() { ClearFlag(UIFLAG_HIDDEN, false); }

void UIElement::SetDefaultActionFlags(uint32_t actionFlags, bool recursive) {
    defaultActionFlags = actionFlags;
    if (!recursive) return;
    for (UIElement* c = firstChild; c; c = c->nextSibling) c->SetDefaultActionFlags(actionFlags, true);
}

void UIElement::MarkAsTemporaryLoadingScreenUI() {
    ASSERT_MAIN_THREAD();
    if (recipeOwner) recipeOwner->QueueRequest(kUILoadingScreenMark);
    OnTemporaryLoadingScreenMark(kUILoadingScreenMark);
    for (UIElement* c = firstChild; c; c = c->nextSibling) c->MarkAsTemporaryLoadingScreenUI();
}

UIElement* UIElement::SetNamedText(const char* elementName, const char* text) {
    UIElement* e = FindElementByName(NameString(elementName));
    if (!e || !e->IsUITextBase()) return nullptr;
    if (!text) {
        e->Hide();
    } else {
        static_cast<UITextBase*>(e)->SetText(text);
        e->Show();
    }
    return e;
}

void UIElement::SetRecipe(UIElementRecipe* newRecipe, EntityTemplate* owner) {
    recipe = newRecipe;
    if (owner) owner->AddInstanceRef();
    if (recipeOwner) recipeOwner->ReleaseInstanceRef();
    recipeOwner = owner;
}
