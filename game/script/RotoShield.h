#pragma once
// The rotating-shield tower's aiming: which way to turn a shield whose sectors
// give cover (a mask of integers, one per sector of a fixed size in degrees) so
// that it covers the most enemies while turning the least. Plain float
// arithmetic over arrays; the script functions
// (bindings/game/ScriptFunctions.cpp) read the tables into arrays and call it.
//
// Angles are degrees in [0, 360): bearing 0 looks along +z, 90 along +x.
//
// Threads: any; no state.
#include <cstdint>

namespace rotoshield {

// The most bearings and sectors a search reads; the search is quadratic in
// bearings times sectors, so a script's longer tables are cut here (the caller
// warns once).
constexpr uint32_t kMaxBearings = 1024;
constexpr uint32_t kMaxSectors = 360;

// fmod(atan2(dx, dz) x 57.29578 + 3600, 360) for the offset dx, dz from the
// tower to the target, in float.
float Bearing(float dx, float dz);

// The shield orientation with the best score: every (bearing, non-zero sector)
// pair proposes the angle that centres that bearing in that sector; its score
// is the summed mask value of the sectors every bearing then falls into, plus
// 0.5 less 1/360 per degree of turn from the current angle (the shorter way
// round). The first strict maximum above 0 wins. A sector index outside the
// mask counts 0. The current angle comes back when there is no bearing, no
// non-zero mask value, or the sector size is not a finite number above 0.
// Non-finite bearings take no part.
float ComputeMaxCoverAngle(float currentAngle, const float* bearings, uint32_t bearingCount, const int32_t* mask,
                           uint32_t sectorCount, float sectorSize);

}  // namespace rotoshield
