// UIElement: entity-tracking placement (op 24) and tap following.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "ui/elements/UIElement.h"
#include "ui/elements/UIViewState.h"

namespace {

// The parent chain's world matrix as the tree draw composes it (a point goes through the
// parent's local matrix, then the grandparent's, up to the root's).
void ParentChainWorld(const UIElement* e, Matrix& world) {
    world = Matrix::IDENTITY;
    for (const UIElement* p = e->Render().parent; p; p = p->Render().parent) {
        Matrix m;
        m.Mul(p->Render().localMatrix, world);  // world first, then this ancestor's local
        world = m;
    }
}

}  // namespace

void UIElement::TrackEntity(const Vector& p, float distance, uint32_t trackingFlags) {
    const UIViewState& s = gUIViewState;
    // 1. Behind the camera: hidden where it is.
    if (p.w < 0.0f) {
        rs.flags |= UIRENDERFLAG_OFFSCREEN;
        return;
    }
    rs.flags &= ~UIRENDERFLAG_OFFSCREEN;

    // 2. Normalised device position.
    const Vector q(std::max(p.x, -FLT_MAX), std::max(p.y, -FLT_MAX), std::max(p.z, -FLT_MAX), std::max(p.w, 0.0001f));
    const Vector n = q * (1.0f / q.w);
    if (trackingFlags & UIENTITYTRACKING_PERSPECTIVESCALE) {
        const float k = distance / q.w;
        DoSetScale(Vector(k, k, k, k));
    }

    // 3. Screen direction, y down.
    Vector v(n.x, -n.y, 0, 0);

    // 4. Keep the element inside the screen.
    if (trackingFlags & (UIENTITYTRACKING_STAYONSCREEN | UIENTITYTRACKING_BORDERONLY)) {
        Vector lower = -rs.anchor * rs.scale;
        Vector upper = (rs.size + rs.anchor) * rs.scale;
        if (trackingFlags & UIENTITYTRACKING_ROTATETOWARDSTARGET) {
            const float m = std::max(std::max(lower.x, upper.x), std::max(lower.y, upper.y));
            lower = upper = Vector(m, m, 0, 0);
        }
        const float lox = -1.0f + 2.0f * s.screenPerUI.x * lower.x, loy = -1.0f + 2.0f * s.screenPerUI.y * lower.y;
        const float hix = 1.0f - 2.0f * s.screenPerUI.x * upper.x, hiy = 1.0f - 2.0f * s.screenPerUI.y * upper.y;
        const bool inside = v.x >= lox && v.x <= hix && v.y >= loy && v.y <= hiy;
        if (inside) {
            if (trackingFlags & UIENTITYTRACKING_BORDERONLY) rs.flags |= UIRENDERFLAG_OFFSCREEN;
        } else {
            if (trackingFlags & UIENTITYTRACKING_BORDERONLY) rs.flags &= ~UIRENDERFLAG_OFFSCREEN;
            // The smallest factor at which the ray from the origin meets a border line.
            float f = 1.0f;
            if (v.x > hix && v.x != 0.0f) f = std::min(f, hix / v.x);
            if (v.x < lox && v.x != 0.0f) f = std::min(f, lox / v.x);
            if (v.y > hiy && v.y != 0.0f) f = std::min(f, hiy / v.y);
            if (v.y < loy && v.y != 0.0f) f = std::min(f, loy / v.y);
            v = v * std::max(f, 0.0f);
        }
    }

    // 5. Point at the target.
    if (trackingFlags & UIENTITYTRACKING_ROTATETOWARDSTARGET)
        DoSetRotation(Vector(0, 0, std::atan2(v.y, v.x) * 57.29578f, 1));

    // 6. Position in UI units, or in the parent chain's space.
    const Vector ui(0.5f * v.x * s.uiPerScreen.x + s.a / 2.0f, 0.5f * v.y * s.uiPerScreen.y + s.b / 2.0f, 0, 1);
    if (trackingFlags & UIENTITYTRACKING_RELATIVETOPARENT) {
        Matrix world, inverse;
        ParentChainWorld(this, world);
        // A chain that flattens the plane (a zero scale) has no inverse: the position
        // stays as it was rather than turning into NaN.
        if (inverse.Inverse(world)) {
            Vector local;
            local.Transform(inverse, ui);
            DoSetPosition(Vector(local.x, local.y, 0, 1));
        }
    } else {
        DoSetPosition(ui);
    }

    // 7. Health bars disappear well off the screen.
    if (trackingFlags & UIENTITYTRACKING_HEALTHBARMODE) {
        const bool outside = ui.x < -60.0f || ui.x > s.a + 60.0f || ui.y < -60.0f || ui.y > s.b + 60.0f;
        if (outside)
            rs.flags |= UIRENDERFLAG_OFFSCREEN;
        else
            rs.flags &= ~UIRENDERFLAG_OFFSCREEN;
    }
}

void UIElement::FollowTap(bool (*lookupTap)(uint32_t tapId, float* x, float* y)) {
    if (!(rs.flags & UIRENDERFLAG_FOLLOWTAP) || !lookupTap) return;
    float px = 0, py = 0;
    if (!lookupTap(rs.tapId, &px, &py)) return;
    const UIViewState& s = gUIViewState;
    DoSetPosition(Vector(s.hx, 0, 0, 0) + s.uiPerScreen * Vector(px, py, 0, 0) + Vector(0, s.hy, 0, 1));
}
