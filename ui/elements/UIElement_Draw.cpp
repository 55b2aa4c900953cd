// UIElement: the tree draw. Once per frame and visible screen (op 26), and for every
// in-game UI entity, the render thread walks the element tree depth first: it ticks each
// element's actions, composes transforms and colours, applies window alignment, aspect
// scaling, fading and clipping, lets each element kind draw itself (mostly as quads merged
// by the quad batches) and collects the screen-space quads of the focusable elements for
// the main thread's hit testing (UIScreen).
//
// Render thread only.
#include <algorithm>

#include "engine/input/TapPositions.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ShaderManager.h"
#include "ui/elements/UIClipStack.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIQuadBatch.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIViewState.h"

namespace {

// The fixed slot of the untextured UI shaders ("iPhoneUI" "NO_TEXTURE").
constexpr uint32_t kFlatQuadShaderSlot = 15;
const Vector kDebugBoxColour(1.0f, 0.0f, 0.0f, 0.5f);

// The element rectangle's box lies wholly outside one clip plane of the camera in force.
bool OutsideView(const Vector& extent, const Matrix& world) {
    Matrix m;
    m.Mul(gVornexRenderer.ViewProjectionMatrix(), world);
    uint32_t outside = 0x3F;
    for (uint32_t i = 0; i < 8; ++i) {
        Vector p;
        p.Transform(m, Vector(i & 1 ? extent.x : 0.0f, i & 2 ? extent.y : 0.0f, i & 4 ? extent.z : 0.0f, 1.0f));
        uint32_t bits = 0;
        if (p.x < -p.w) bits |= 1;
        if (p.x > p.w) bits |= 2;
        if (p.y < -p.w) bits |= 4;
        if (p.y > p.w) bits |= 8;
        if (p.z < 0.0f) bits |= 16;
        if (p.z > p.w) bits |= 32;
        outside &= bits;
    }
    return outside != 0;
}

// The aspect-scaling matrix of a mode, about the UI centre (identity for mode 0).
bool AspectScaling(uint32_t mode, Matrix& out) {
    const UIViewState& s = gUIViewState;
    float sx = 1.0f, sy = 1.0f;
    switch (mode) {
    case 0:
        return false;
    case 1:
        sx = 1.0f / s.c;
        break;
    case 2:
        sy = 1.0f / s.d;
        break;
    case 3:
        sx = (1.0f / s.a) * (s.a / s.c);
        sy = (1.0f / s.a) * (s.b / s.d);
        break;
    default:
        break;
    }
    Matrix to, scale, back, m;
    to.LoadTranslation(-s.a * 0.5f, -s.b * 0.5f, 0.0f);
    scale.LoadScale(sx, sy, 1.0f);
    back.LoadTranslation(s.a * 0.5f, s.b * 0.5f, 0.0f);
    m.Mul(scale, to);   // to, then scale
    out.Mul(back, m);   // ... then back
    return true;
}

Vector ElementColour(const UIElementRenderHalf& r, const Vector& parent) {
    switch (r.colorMode) {
    case UICOLOR_STATIC:
        return r.color;
    case UICOLOR_MULTIPLYBYPARENTCOLOR:
        return r.color * parent;
    default:
        return Vector(r.color.x, r.color.y, r.color.z, r.color.w * parent.w);
    }
}

// The fade record of a UIFLAG_FADECHILDREN element: the columns of its inverse world
// transform that give local x and y (the shader takes a dot product with the position),
// and the band (-h/2, -1/f, h/(2f), 0): alpha = saturate(|y - h/2| * -1/f + h/(2f)),
// the distance to the nearer of the top and bottom borders over f.
UIFadeRecord FadeRecord(const Matrix& world, float height, float f) {
    // A fade width that is not above zero fades nothing (instead of dividing by it).
    if (!(f > 0.0f)) return kUINoFade;
    Matrix inverse;
    inverse.Inverse(world);
    UIFadeRecord fade;
    fade.rows[0] = Vector(inverse.r[0].x, inverse.r[1].x, inverse.r[2].x, inverse.r[3].x);
    fade.rows[1] = Vector(inverse.r[0].y, inverse.r[1].y, inverse.r[2].y, inverse.r[3].y);
    fade.band = Vector(-height * 0.5f, -1.0f / f, height / (2.0f * f), 0.0f);
    return fade;
}

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

}  // namespace

void UIElement::DrawFlatQuad(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) const {
    const ShaderPair* flat = gShaderManager ? &gShaderManager->Fixed(kFlatQuadShaderSlot) : nullptr;
    UIQuadBatch& batch = GetUIQuadBatch(0);
    batch.SetState(rs.blendMode, nullptr, 0, nullptr, 0, flat ? flat->vertexObject : nullptr,
                   flat ? flat->pixelObject : nullptr, fade);
    batch.AddQuad(UISizedMatrix(world, rs.size), colour, mirrored, Vector(), Vector(1, 1, 0, 0), Vector());
}

void UIElement::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    DrawFlatQuad(world, colour, mirrored, fade);
}

void UIElement::DrawTree(const Matrix& parentMatrix, const Vector& parentColour, bool parentMirrored,
                         const UIFadeRecord* inheritedFade, uint32_t alignedBits) {
    TickActions();
    if (rs.flags & UIFLAG_HIDDEN) return;
    UIScreen* screen = static_cast<UIScreen*>(gUIViewState.drawnScreen);
    const uint32_t flags = rs.flags;
    const bool blockFocus = (flags & UIFLAG_BLOCKFOCUS) != 0;
    if (blockFocus && screen) ++screen->blockFocusDepth;

    // Window alignment: a changed offset (or a pending-elements or clip element) draws
    // what is batched so far under the old camera.
    Vector offset;
    const bool aligned = ApplyWindowAlignment(rs.windowAlignment, offset, alignedBits);
    const bool clips = (flags & UIRENDERFLAG_CLIPCHILDREN) != 0;
    if (aligned || (flags & UIFLAG_DRAWPENDINGUIELEMENTSBEFORE) || clips) FlushUIQuadBatches();

    // Pointer and tap following.
    if (flags & UIFLAG_FOLLOWMOUSE)
        DoSetPosition(Vector(gUIViewState.pointer.x, gUIViewState.pointer.y, rs.position.z, 0.0f));
    if (flags & UIRENDERFLAG_FOLLOWTAP) {
        // The Game's tap table, keyed by the element (copied under its lock: the main
        // thread keeps the records).
        if (Vector at; FindTapPosition(this, &at)) {
            const UIViewState& s = gUIViewState;
            DoSetPosition(Vector(s.hx, 0, 0, 0) + s.uiPerScreen * Vector(at.x, at.y, 0, 0) + Vector(0, s.hy, 0, 1));
        }
    }

    Matrix world;
    world.Mul(parentMatrix, rs.localMatrix);  // local first, then the parent
    Matrix aspect;
    if (AspectScaling(rs.aspectScaling, aspect)) {
        Matrix scaled;
        scaled.Mul(aspect, world);
        world = scaled;
    }

    // The alignment shifts the UI camera for the subtree. The offset is in normalised
    // view units, so it moves clip space (x + offset.x * w): the camera becomes
    // view x projection x shift, reached through the view as
    // view' = viewProjection x shift x inverse(viewProjection) x view.
    Matrix savedView;
    if (aligned) {
        savedView = gVornexRenderer.ViewMatrix();
        const Matrix& viewProjection = gVornexRenderer.ViewProjectionMatrix();
        Matrix shift, inverse, a, b, shifted;
        shift.LoadTranslation(offset);
        inverse.Inverse(viewProjection);
        a.Mul(shift, viewProjection);  // the camera, then the shift
        b.Mul(inverse, a);             // ... back through the camera's inverse
        // The shift moves clip x and y only, and the UI cameras' depth and w depend on
        // the view depth alone, so the round trip keeps depth and w as they were. Rounding
        // in the inverse would otherwise put the UI plane, which lies on the near plane,
        // a hair behind it, and the whole aligned subtree would be clipped away.
        for (uint32_t i = 0; i < 4; ++i) {
            b.r[i].z = i == 2 ? 1.0f : 0.0f;
            b.r[i].w = i == 3 ? 1.0f : 0.0f;
        }
        shifted.Mul(savedView, b);     // ... and the view again
        gVornexRenderer.SetUITemplateCamera(shifted);
    }

    Vector colour = ElementColour(rs, parentColour);
    const bool mirrored = parentMirrored != rs.mirrored;

    UIFadeRecord ownFade;
    const UIFadeRecord* fade = inheritedFade;
    if (flags & UIFLAG_FADECHILDREN) {
        ownFade = FadeRecord(world, rs.size.y, rs.extraParam.x);
        fade = &ownFade;
    }
    if (flags & UIFLAG_DISABLEFADE) fade = nullptr;

    if ((flags & (UIFLAG_FADEATPARENTBORDERLEFTRIGHT | UIFLAG_FADEATPARENTBORDERUPDOWN)) && rs.parent &&
        rs.extraParam.x > 0.0f) {
        const Vector& ps = rs.parent->rs.size;
        const float f = rs.extraParam.x;
        const float left = Clamp01((rs.anchor.x + rs.position.x) / f);
        const float top = Clamp01((rs.anchor.y + rs.position.y) / f);
        const float right = Clamp01((ps.x - (rs.size.x + rs.anchor.x + rs.position.x)) / f);
        const float bottom = Clamp01((ps.y - (rs.size.y + rs.anchor.y + rs.position.y)) / f);
        if (flags & UIFLAG_FADEATPARENTBORDERLEFTRIGHT) colour.w *= left * right;
        if (flags & UIFLAG_FADEATPARENTBORDERUPDOWN) colour.w *= top * bottom;
    }

    // Self: the anchored draw matrix (the children's too with a hierarchical anchor).
    const bool hierarchical = (flags & UIFLAG_HIERARCHICALANCHOR) != 0;
    // translate(anchor) x world: the rows stay, the anchor moves the origin.
    Matrix drawMatrix = world;
    if (rs.anchor.x != 0.0f || rs.anchor.y != 0.0f || rs.anchor.z != 0.0f)
        drawMatrix.r[3] = world.r[0] * rs.anchor.x + world.r[1] * rs.anchor.y + world.r[2] * rs.anchor.z + world.r[3];
    const Matrix& childMatrix = hierarchical ? drawMatrix : world;
    const uint32_t kVisibleBits = UIRENDERFLAG_CLIPCHILDREN | UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_TRANSPARENT;
    const bool skipCullAndClip = !hierarchical && (flags & kVisibleBits) == UIFLAG_TRANSPARENT;
    const bool skipDraw = hierarchical ? (flags & (UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_TRANSPARENT)) == UIFLAG_TRANSPARENT
                                       : skipCullAndClip;
    bool pushed = false;
    bool culled = false;
    if (!skipCullAndClip && (flags & UIRENDERFLAG_FRUSTUMCULL) && OutsideView(rs.extent, drawMatrix)) culled = true;
    if (!culled) {
        if (!skipDraw) {
            if (!(flags & UIFLAG_TRANSPARENT) && (colour.w > 0.0f || (flags & UIFLAG_DRAWZEROALPHA))) {
                if (flags & UIFLAG_DRAWDEBUGBOX) DrawFlatQuad(drawMatrix, kDebugBoxColour, mirrored, fade);
                Draw(drawMatrix, colour, mirrored, fade);
            }
            if ((flags & UIFLAG_FOCUSABLEWITHMOUSE) && screen) screen->AddCandidate(this, drawMatrix);
        }
        if (!skipCullAndClip && clips) {
            GetUIClipStack().Push(drawMatrix, rs.size);
            pushed = true;
        }

        const uint32_t kSkippedChildren = UIFLAG_HIDDEN | UIRENDERFLAG_OFFSCREEN | UIFLAG_TEXTTAG;
        for (UIElement* c = rs.firstChild; c; c = c->rs.nextSibling)
            if (!(c->rs.flags & kSkippedChildren)) c->DrawTree(childMatrix, colour, mirrored, fade, alignedBits);

        if (aligned || (flags & UIFLAG_DRAWPENDINGUIELEMENTS) || clips) FlushUIQuadBatches();
    }
    if (aligned) gVornexRenderer.SetUITemplateCamera(savedView);
    if (pushed) GetUIClipStack().Pop();
    if (blockFocus && screen) --screen->blockFocusDepth;
}
