#pragma once
// Hand-written parts of the game's profile and camera package: the camera helper's copy
// for scripts and its two calls whose forms differ from the native's.
#include "game/camera/ZKRCameraHelper.h"

// A copy of the shared helper; what a script changes on it stays with the copy.
inline ZKRCameraHelper CameraHelperInstance() { return gZKRCameraHelper; }

// The look-at point goes to the script's vector; the distance comes back as a second
// result (0 when the fit was refused).
inline bool CameraHelperLookAt(const ZKRCameraHelper* self, const Quaternion& rotation, float fov, float minDistance,
                               float maxDistance, Vector* lookAt, float& distance) {
    float result = 0.0f;
    const bool ok =
        self->CalculateCamLookAtPosAndDispAlongViewDir(rotation, fov, minDistance, maxDistance, lookAt, &result);
    distance = ok ? result : 0.0f;
    return ok;
}

inline void CameraHelperPosition(const ZKRCameraHelper*, const Vector& lookAt, const Quaternion& rotation,
                                 float distance, Vector* position) {
    ZKRCameraHelper::CalculateCamPosition(lookAt, rotation, distance, position);
}
