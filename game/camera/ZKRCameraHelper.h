#pragma once
// ZKRCameraHelper: frames a group of objects (the units of a squad, say) for a camera of
// a given orientation and field of view. Scripts add the positions the camera must show,
// one of them possibly the main object, and ask where the camera must look and how far
// back along its view direction it must stand so that every object lies inside the four
// side planes of its view volume by the screen-edge margin; when that would take it past
// the largest distance, it stays there and slides its look-at point sideways to keep the
// main object inside.
//
// One shared helper (gZKRCameraHelper); scripts get copies of it.
//
// Threads: main thread (the camera controller's view and projection are the main
// thread's).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

class GameCameraControllerCamera;

class ZKRCameraHelper {
public:
    static constexpr float kDefaultScreenEdgeDistOffset = 20.0f;

    // Empties the list; the main index becomes 1 (none, as the list is empty).
    void ResetObjectsPositions();
    // Appends the position (capacity doubling from 2). With isMain it becomes the main
    // object; otherwise a main index at or past the new element moves past the new end,
    // so it still names none.
    void AddObjectPosition(const Vector& position, bool isMain);
    void SetScreenEdgeDistOffset(float offset) { screenEdgeDistOffset = offset; }

    // lookAt - distance x (row 2 of the rotation's matrix, the view direction), all
    // four components.
    static void CalculateCamPosition(const Vector& lookAt, const Quaternion& rotation, float distance,
                                     Vector* position);
    // The look-at point and the distance back from it for a camera of this rotation and
    // field of view (degrees) whose view and projection the game's camera controller
    // computes (a default camera when there is none). False, writing nothing, with no
    // objects, a null output, or a result that is not finite.
    bool CalculateCamLookAtPosAndDispAlongViewDir(const Quaternion& rotation, float fov, float minDistance,
                                                  float maxDistance, Vector* lookAt, float* distance) const;
    // The same with the camera given.
    bool CalculateCamLookAtPosAndDispAlongViewDir(const GameCameraControllerCamera& camera, const Quaternion& rotation,
                                                  float fov, float minDistance, float maxDistance, Vector* lookAt,
                                                  float* distance) const;

    uint32_t ObjectCount() const { return positions.Count(); }
    uint32_t MainObjectIndex() const { return mainObjectIndex; }
    float ScreenEdgeDistOffset() const { return screenEdgeDistOffset; }

private:
    Dynarray<Vector> positions;
    uint32_t mainObjectIndex = 0;  // at or past the count: none
    float screenEdgeDistOffset = kDefaultScreenEdgeDistOffset;
};

extern ZKRCameraHelper gZKRCameraHelper;
