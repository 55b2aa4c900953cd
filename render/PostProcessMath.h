#pragma once
// Private to render/: small formulas the post-processing passes share.
#include <cmath>

#include "core/math/Vector.h"

// The outline composite's softness pair (5 / (4f + 1), 5f / (4f + 1)); a softness at or
// below -0.25 counts as 0, so the pair never divides by zero or turns negative.
inline Vector OutlineSoftnessPair(float softness) {
    const float f = softness > -0.25f && std::isfinite(softness) ? softness : 0.0f;
    const float d = 4.0f * f + 1.0f;
    return Vector(5.0f / d, 5.0f * f / d, 0.0f, 0.0f);
}
