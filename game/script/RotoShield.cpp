#include "game/script/RotoShield.h"

#include <cmath>

namespace rotoshield {

float Bearing(float dx, float dz) { return std::fmod(std::atan2(dx, dz) * 57.29578f + 3600.0f, 360.0f); }

namespace {

// fmod(x, 360), exactly: below 2^24 every multiple of 360 up to x is a multiple of x's
// unit in the last place, so x less such a multiple is exact, as fmod's result is. The
// library call dominated the search's inner loop.
float Mod360(float x) {
    const float magnitude = std::fabs(x);
    if (!(magnitude < 16777216.0f)) return std::fmod(x, 360.0f);
    float r = magnitude - static_cast<float>(static_cast<int32_t>(magnitude * (1.0f / 360.0f))) * 360.0f;
    if (r < 0.0f) r += 360.0f;
    if (r >= 360.0f) r -= 360.0f;
    return x < 0.0f ? -r : r;
}

// The mask value of the sector the bearing falls into when the shield faces
// `angle`.
int64_t CoverOf(float bearing, float angle, const int32_t* mask, uint32_t sectorCount, float sectorSize) {
    const float q = Mod360(bearing - angle + 3600.0f) / sectorSize;
    // Truncated toward zero; compared as floats so that no huge value converts.
    if (!(q > -1.0f) || !(q < static_cast<float>(sectorCount))) return 0;
    return mask[static_cast<int32_t>(q)];
}

}  // namespace

float ComputeMaxCoverAngle(float currentAngle, const float* bearings, uint32_t bearingCount, const int32_t* mask,
                           uint32_t sectorCount, float sectorSize) {
    if (!(sectorSize > 0.0f) || !std::isfinite(sectorSize)) return currentAngle;
    if (bearingCount > kMaxBearings) bearingCount = kMaxBearings;
    if (sectorCount > kMaxSectors) sectorCount = kMaxSectors;

    float best = currentAngle;
    float bestScore = 0.0f;
    for (uint32_t i = 0; i < bearingCount; ++i) {
        if (!std::isfinite(bearings[i])) continue;
        for (uint32_t j = 0; j < sectorCount; ++j) {
            if (mask[j] == 0) continue;
            const float candidate = Mod360(bearings[i] - (static_cast<float>(j) + 0.5f) * sectorSize + 3600.0f);
            int64_t cover = 0;
            for (uint32_t t = 0; t < bearingCount; ++t) {
                if (std::isfinite(bearings[t])) cover += CoverOf(bearings[t], candidate, mask, sectorCount, sectorSize);
            }
            float d = candidate - currentAngle;
            if (d > 180.0f) {
                d -= 360.0f;
            } else if (d < -180.0f) {
                d += 360.0f;
            }
            const float score = (0.5f - std::fabs(d) * 0.0027777778f) + static_cast<float>(cover);
            if (score > bestScore) {
                best = candidate;
                bestScore = score;
            }
        }
    }
    return best;
}

}  // namespace rotoshield
