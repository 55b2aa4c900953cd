// UIScreen: construction, the UI-wide sizes, the point conversions and hit testing
// (main thread). The render side is UIScreen_Render.cpp, the pointer UIScreen_Input.cpp,
// entity tracking UIScreen_Tracking.cpp.
#include "ui/elements/UIScreen.h"

#include <algorithm>
#include <cfloat>

#include "core/config/ProjectConfig.h"
#include "engine/services/GameServices.h"
#include "ui/elements/UIIdTable.h"

namespace {

// Main thread. The override is the only UI reference size the system stores.
float gOverrideWidth = 0, gOverrideHeight = 0;
float gScreenWidth = 1280, gScreenHeight = 720;
float gPhysicalWidth = 0, gPhysicalHeight = 0;
bool gOverrideTaken = false;

// One-sided ray/triangle test along +z from the point; barycentric u, v in [0, 1].
bool RayHitsTriangle(const Vector& origin, const Vector& a, const Vector& b, const Vector& c, float* distance) {
    const Vector dir(0, 0, 1, 0);
    const Vector e1 = b - a, e2 = c - a;
    const Vector p(dir.y * e2.z - dir.z * e2.y, dir.z * e2.x - dir.x * e2.z, dir.x * e2.y - dir.y * e2.x, 0);
    const float det = e1.x * p.x + e1.y * p.y + e1.z * p.z;
    if (det < 1e-6f) return false;
    const Vector t = origin - a;
    const float u = (t.x * p.x + t.y * p.y + t.z * p.z) / det;
    if (u < 0.0f || u > 1.0f) return false;
    const Vector q(t.y * e1.z - t.z * e1.y, t.z * e1.x - t.x * e1.z, t.x * e1.y - t.y * e1.x, 0);
    const float v = (dir.x * q.x + dir.y * q.y + dir.z * q.z) / det;
    if (v < 0.0f || u + v > 1.0f) return false;
    *distance = (e2.x * q.x + e2.y * q.y + e2.z * q.z) / det;
    return true;
}

bool CandidateHit(const UIHitCandidate& c, const Vector& device, float* distance) {
    return RayHitsTriangle(device, c.corners[0], c.corners[1], c.corners[2], distance) ||
           RayHitsTriangle(device, c.corners[0], c.corners[2], c.corners[3], distance);
}

Vector DevicePoint(const Vector& p) { return Vector((p.x - 0.5f) * 2.0f, -(p.y - 0.5f) * 2.0f, 0, 0); }

}  // namespace

float GetUIWidth() { return gOverrideWidth > 0.0f ? gOverrideWidth : gScreenWidth; }
float GetUIHeight() { return gOverrideHeight > 0.0f ? gOverrideHeight : gScreenHeight; }
void SetUISizeOverride(float width, float height) { gOverrideWidth = width, gOverrideHeight = height; }
void SetUICurrentScreenSize(float width, float height) { gScreenWidth = width, gScreenHeight = height; }
void SetUIPhysicalResolution(float width, float height) { gPhysicalWidth = width, gPhysicalHeight = height; }
void GetPhysicalScreenResolution(float* width, float* height) { *width = gPhysicalWidth, *height = gPhysicalHeight; }

UIScreen::UIScreen() {
    SetLuaClass("UIScreen");
    // The first screen takes the project's UI reference size.
    if (!gOverrideTaken && gProjectConfig) {
        gOverrideTaken = true;
        SetUISizeOverride(gProjectConfig->uiScreenWidth, gProjectConfig->uiScreenHeight);
    }
    RenderMutable().flags |= UIFLAG_TRANSPARENT;
}

UIScreen::~UIScreen() {
    for (UITrackedEntity* t : tracked) delete t;
}

void UIScreen::OnBeforeDelete() {
    // The Game keeps plain pointers: every teardown (the screen's own release, an
    // ancestor's, cleared children, a deletion action) empties the slots still naming it.
    GameServices& game = GetGameServices();
    for (uint32_t s = 0; s < GAMESCREEN_COUNT; ++s)
        if (game.GetScreen(GameScreenSlot(s)) == this) game.SetScreen(GameScreenSlot(s), nullptr);
    for (UITrackedEntity* t : tracked) delete t;
    tracked.clear();
    UIElement::OnBeforeDelete();
}

void UIScreen::SlotChanged(bool) {
    // The Game's slots are the record of where the screen is: the teardown looks them up.
}

// ---- Conversions ----

void UIScreenLetterbox(bool keepAspect, uint32_t renderWidth, uint32_t renderHeight, float* sx, float* sy) {
    *sx = *sy = 1.0f;
    if (!keepAspect || renderWidth == 0 || renderHeight == 0) return;
    const float ratio = (float(renderHeight) * GetUIWidth()) / (float(renderWidth) * GetUIHeight());
    if (ratio > 1.0f) *sy = 1.0f / ratio;
    else *sx = ratio;
}

Vector UIScreen::UIPointToScreenPoint(const Vector& p, uint32_t renderWidth, uint32_t renderHeight) const {
    float sx, sy;
    UIScreenLetterbox(keepAspect, renderWidth, renderHeight, &sx, &sy);
    return Vector((p.x / GetUIWidth() - 0.5f) * sx + 0.5f, (p.y / GetUIHeight() - 0.5f) * sy + 0.5f, p.z, p.w);
}

Vector UIScreen::ScreenPointToUIPoint(const Vector& p, uint32_t renderWidth, uint32_t renderHeight) const {
    float sx, sy;
    UIScreenLetterbox(keepAspect, renderWidth, renderHeight, &sx, &sy);
    return Vector(((p.x - 0.5f) / sx + 0.5f) * GetUIWidth(), ((p.y - 0.5f) / sy + 0.5f) * GetUIHeight(), p.z, p.w);
}

bool UIScreen::WorldPositionToUIPoint(const Vector& position, uint32_t renderWidth, uint32_t renderHeight,
                                      const Matrix& view, const Matrix& projection, Vector* out) const {
    Matrix viewProjection;
    viewProjection.Mul(projection, view);  // view first, then the projection
    Vector p;
    p.Transform(viewProjection, Vector(position.x, position.y, position.z, 1.0f));
    if (p.w < 0.0f) return false;
    p = Vector(std::max(p.x, -FLT_MAX), std::max(p.y, -FLT_MAX), std::max(p.z, -FLT_MAX), std::max(p.w, 0.0001f));
    const float x = p.x / p.w, y = p.y / p.w;
    *out = ScreenPointToUIPoint(Vector(x * 0.5f + 0.5f, -y * 0.5f + 0.5f, 0, 1), renderWidth, renderHeight);
    return true;
}

// ---- Hit testing ----

UIHitResult UIScreen::GetElementAt(const Vector& point) const {
    const Vector d = DevicePoint(point);
    UIHitResult result;
    for (uint32_t i = 0; i < mainCount; ++i) {
        float distance = 0;
        if (CandidateHit(mainCandidates[i], d, &distance))
            result = {mainCandidates[i].id, mainCandidates[i].flags, distance};
    }
    return result;
}

UIElement* UIScreen::GetElementAtScreenPosition(const Vector& point) const {
    const uint32_t id = GetElementAt(point).id;
    return id && gUIIdTable ? gUIIdTable->Find(id) : nullptr;
}

int32_t UIScreen::FindHitCandidate(uint32_t elementId) const {
    for (uint32_t i = 0; i < mainCount; ++i)
        if (mainCandidates[i].id == elementId) return int32_t(i);
    return -1;
}

bool UIScreen::HitTestCandidate(int32_t index, const Vector& point) const {
    if (index < 0 || uint32_t(index) >= mainCount) return false;
    float distance = 0;
    return CandidateHit(mainCandidates[index], DevicePoint(point), &distance);
}

void UIScreen::Update(const Vector& cursor) {
    const uint32_t published = publishTicket.load(std::memory_order_acquire);
    if (published != takenTicket.load(std::memory_order_relaxed)) {
        mainCount = renderCount;
        std::copy(renderCandidates, renderCandidates + mainCount, mainCandidates);
        takenTicket.store(published, std::memory_order_release);
    }
    pointedId = GetElementAt(cursor).id;
}
