#include "game/camera/ZKRCameraHelper.h"

#include <algorithm>
#include <cmath>

#include "engine/camera/Cameras.h"
#include "engine/camera/GameCameraController.h"
#include "game/Game.h"

ZKRCameraHelper gZKRCameraHelper;

namespace {

bool Finite(const Vector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// The four side planes (left, right, bottom, top) of the camera at eye, inward unit
// normals.
void SidePlanes(const GameCameraControllerCamera& camera, const Vector& eye, const Quaternion& rotation, float fov,
                Vector planes[4]) {
    Matrix view, projection;
    camera.ComputeViewProjection(eye, rotation, fov, &view, &projection);
    const Frustum frustum = ComputeFrustumPlanes(view, projection);
    for (int i = 0; i < 4; ++i) planes[i] = frustum.planes[2 + i];
}

// How far back from lookAt the camera must stand for p to lie inside the plane by the
// margin; false when moving back does not move the plane (n . back = 0).
bool NeededDistance(const Vector& plane, const Vector& p, const Vector& lookAt, const Vector& back, float margin,
                    float* s, float* t) {
    *s = plane.Dot3(p) + plane.w - margin;
    const float along = plane.Dot3(back);
    if (along == 0.0f) return false;
    *t = -(plane.Dot3(lookAt) + (plane.w - *s)) / along;
    return std::isfinite(*t);
}

}  // namespace

void ZKRCameraHelper::ResetObjectsPositions() {
    positions.Release();
    mainObjectIndex = 1;
}

void ZKRCameraHelper::AddObjectPosition(const Vector& position, bool isMain) {
    const uint32_t index = positions.Count();
    if (positions.Add(position) == kDynarrayNone) return;
    if (isMain) {
        mainObjectIndex = index;
    } else if (mainObjectIndex >= index) {
        mainObjectIndex = positions.Count();
    }
}

void ZKRCameraHelper::CalculateCamPosition(const Vector& lookAt, const Quaternion& rotation, float distance,
                                           Vector* position) {
    if (!position) return;
    Matrix r;
    r.LoadQuaternion(rotation);
    *position = lookAt - r.r[2] * distance;
}

bool ZKRCameraHelper::CalculateCamLookAtPosAndDispAlongViewDir(const Quaternion& rotation, float fov, float minDistance,
                                                               float maxDistance, Vector* lookAt,
                                                               float* distance) const {
    const GameCameraController* controller = gGame ? gGame->GetCameraController() : nullptr;
    if (controller) {
        return CalculateCamLookAtPosAndDispAlongViewDir(*controller, rotation, fov, minDistance, maxDistance, lookAt,
                                                        distance);
    }
    const GameCameraControllerCamera camera;
    return CalculateCamLookAtPosAndDispAlongViewDir(camera, rotation, fov, minDistance, maxDistance, lookAt, distance);
}

bool ZKRCameraHelper::CalculateCamLookAtPosAndDispAlongViewDir(const GameCameraControllerCamera& camera,
                                                               const Quaternion& rotation, float fov, float minDistance,
                                                               float maxDistance, Vector* lookAt,
                                                               float* distance) const {
    const uint32_t count = positions.Count();
    if (count == 0 || !lookAt || !distance) return false;
    if (count == 1) {
        if (!Finite(positions[0]) || !std::isfinite(minDistance)) return false;
        *lookAt = positions[0];
        *distance = minDistance;
        return true;
    }

    Matrix r;
    r.LoadQuaternion(rotation);
    const Vector back = -r.r[2];

    Vector lo = positions[0], hi = positions[0];
    for (const Vector& p : positions) {
        lo = Vector(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z), std::min(lo.w, p.w));
        hi = Vector(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z), std::max(hi.w, p.w));
    }
    Vector at = (lo + hi) * 0.5f;
    at.y = 0.0f;

    const float margin = screenEdgeDistOffset;
    Vector planes[4];
    SidePlanes(camera, at + back * minDistance, rotation, fov, planes);
    float needed = 0.0f;
    for (const Vector& p : positions) {
        for (const Vector& plane : planes) {
            float s, t;
            if (NeededDistance(plane, p, at, back, margin, &s, &t)) needed = std::max(needed, t);
        }
    }

    float result = std::max(needed, minDistance);
    if (needed > maxDistance && mainObjectIndex < count) {
        result = maxDistance;
        SidePlanes(camera, at + back * maxDistance, rotation, fov, planes);
        const Vector& main = positions[mainObjectIndex];
        const Vector start = at;
        for (Vector plane : planes) {
            // Each plane as it stands for the camera the earlier slides moved, so that
            // one slide does not undo another.
            plane.w -= plane.Dot3(at - start);
            float s, t;
            if (!NeededDistance(plane, main, at, back, margin, &s, &t) || !(t > maxDistance)) continue;
            // Slide along the ground toward the side the object is out of.
            Vector u = -plane;
            u.w = 0.0f;
            const float ul = u.Length3();
            if (!(ul > 0.0f)) continue;
            u = u * (1.0f / ul);
            Vector h(u.x, 0.0f, u.z, 0.0f);
            const float hl = h.Length3();
            if (!(hl > 0.0f)) continue;
            h = h * (1.0f / hl);
            const float hu = h.Dot3(u);
            if (hu == 0.0f) continue;
            at = at + h * (-s / hu);
        }
    }
    if (!Finite(at) || !std::isfinite(result)) return false;
    *lookAt = at;
    *distance = result;
    return true;
}
