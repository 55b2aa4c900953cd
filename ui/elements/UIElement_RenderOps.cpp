// UIElement: the element family of the op stream and the render half's own operations.
#include <cassert>
#include <cstring>

#include "core/Memory.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

namespace {

// Reads a text of `count` bytes (terminator included) into a name of the render half.
void ReadName(NameString& into, UIOpReader& payload, uint32_t count) {
    if (count == 0) {
        into.Clear();
        return;
    }
    char small[256];
    char* text = count <= sizeof small ? small : static_cast<char*>(EngineAlloc(count));
    if (!text) {
        payload.Skip(count);
        return;
    }
    if (payload.Read(text, count)) into.Set(text, strnlen(text, count));
    if (text != small) EngineFree(text);
}

}  // namespace

void UIElement::HandleElementOp(uint32_t op, UIElement* e, UIOpReader& payload) {
    assert(op <= kUIElementOpLast && "an op of another family posted to the element family");
    if (!e) {
        payload.Skip(payload.Left());
        return;
    }
    UIElementRenderHalf& r = e->rs;
    Vector v, mask;
    uint32_t u = 0;
    uint8_t recursive = 0;
    UIElement* child = nullptr;
    switch (op) {
    case UIOP_DELETE:
        e->RenderDestroy();
        break;
    case UIOP_ADDCHILD:
        // An element queued for deletion stays out of every render tree: a parent freed
        // later would otherwise free it while the pending list or the slot names it.
        if (payload.ReadValue(child) && child && !(child->rs.flags & UIRENDERFLAG_PENDINGDELETION))
            e->RenderAttachChild(child);
        break;
    case UIOP_REMOVECHILD:
        if (payload.ReadValue(child) && child && child->rs.parent == e) child->RenderDetach();
        break;
    case UIOP_DELETECHILDREN:
        while (r.firstChild) delete r.firstChild;
        break;
    // The pending-deletion bit belongs to the render side: flag ops never move it.
    case UIOP_RAISEFLAG:
        if (payload.ReadValue(u) && payload.ReadValue(recursive))
            e->RenderRaiseFlags(u & ~UIRENDERFLAG_PENDINGDELETION, recursive != 0);
        break;
    case UIOP_CLEARFLAG:
        if (payload.ReadValue(u) && payload.ReadValue(recursive))
            e->RenderClearFlags(u & ~UIRENDERFLAG_PENDINGDELETION, recursive != 0);
        break;
    case UIOP_WINDOWALIGNMENT:
        payload.ReadValue(r.windowAlignment);
        break;
    case UIOP_ASPECTSCALING:
        payload.ReadValue(r.aspectScaling);
        break;
    case UIOP_POSITION:
        if (payload.ReadValue(v)) e->DoSetPosition(v);
        break;
    case UIOP_POSITIONWITHMASK:
        if (payload.ReadValue(v) && payload.ReadValue(mask))
            e->DoSetPosition((Vector(1, 1, 1, 1) - mask) * r.position + mask * v);
        break;
    case UIOP_ANCHOR:
        payload.ReadValue(r.anchor);
        break;
    case UIOP_ROTATION:
        if (payload.ReadValue(v)) e->DoSetRotation(v);
        break;
    case UIOP_SCALE:
        if (payload.ReadValue(v)) e->DoSetScale(v);
        break;
    case UIOP_SIZE:
        if (payload.ReadValue(v)) e->DoSetSize(v);
        break;
    case UIOP_SELECTIONFRAME:
        payload.ReadValue(r.selectionFrame);
        break;
    case UIOP_COLOR:
        payload.ReadValue(r.color);
        break;
    case UIOP_BLENDMODE:
        payload.ReadValue(r.blendMode);
        break;
    case UIOP_COLORMODE:
        payload.ReadValue(r.colorMode);
        break;
    case UIOP_OUTLINE:
        if (payload.ReadValue(u)) r.outlineMask = u == 0 ? 0 : 1u << (u % 32);
        break;
    case UIOP_TAG:
        if (payload.ReadValue(u)) ReadName(r.tag, payload, u);
        break;
    case UIOP_NAME:
        if (payload.ReadValue(u)) ReadName(r.name, payload, u);
        break;
    case UIOP_EXTRAPARAM:
        payload.ReadValue(r.extraParam);
        break;
    case UIOP_REMOVEACTIONS:
        if (payload.ReadValue(u)) e->RemoveActions(int32_t(u));
        break;
    case UIOP_ADDACTION: {
        UIAction* action = nullptr;
        if (payload.ReadValue(action) && action) e->AddAction(action);
        break;
    }
    case UIOP_ENTITYTRACKING: {
        float distance = 0;
        if (payload.ReadValue(v) && payload.ReadValue(distance) && payload.ReadValue(u))
            e->TrackEntity(v, distance, u);
        break;
    }
    default:
        payload.Skip(payload.Left());
        break;
    }
}

void UIElement::DoSetPosition(const Vector& position) {
    rs.position = position;
    rs.localMatrix.LoadComplexTransformation(rs.position, rs.rotation, rs.scale);
    rs.mirrored = rs.scale.y * rs.scale.x * rs.scale.z < 0.0f;
}

void UIElement::DoSetRotation(const Vector& degrees) {
    rs.rotation = degrees;
    rs.localMatrix.LoadComplexTransformation(rs.position, rs.rotation, rs.scale);
    rs.mirrored = rs.scale.y * rs.scale.x * rs.scale.z < 0.0f;
}

void UIElement::DoSetScale(const Vector& scale) {
    rs.scale = scale;
    rs.localMatrix.LoadComplexTransformation(rs.position, rs.rotation, rs.scale);
    rs.mirrored = rs.scale.y * rs.scale.x * rs.scale.z < 0.0f;
}

void UIElement::DoSetSize(const Vector& size) {
    rs.size = size;
    rs.extent = Vector(size.x, size.y, size.z, 1.0f);
}

void UIElement::RenderAttachChild(UIElement* child) {
    if (child->rs.parent == this) return;
    child->RenderDetach();
    child->rs.parent = this;
    child->rs.previousSibling = rs.lastChild;
    (rs.lastChild ? rs.lastChild->rs.nextSibling : rs.firstChild) = child;
    rs.lastChild = child;
}

void UIElement::RenderDetach() {
    UIElement* p = rs.parent;
    if (!p) return;
    (rs.previousSibling ? rs.previousSibling->rs.nextSibling : p->rs.firstChild) = rs.nextSibling;
    (rs.nextSibling ? rs.nextSibling->rs.previousSibling : p->rs.lastChild) = rs.previousSibling;
    rs.parent = rs.previousSibling = rs.nextSibling = nullptr;
}

void UIElement::RenderRaiseFlags(uint32_t bits, bool recursive) {
    rs.flags |= bits;
    if (recursive)
        for (UIElement* c = rs.firstChild; c; c = c->rs.nextSibling) c->RenderRaiseFlags(bits, true);
}

void UIElement::RenderClearFlags(uint32_t bits, bool recursive) {
    rs.flags &= ~bits;
    if (recursive)
        for (UIElement* c = rs.firstChild; c; c = c->rs.nextSibling) c->RenderClearFlags(bits, true);
}
