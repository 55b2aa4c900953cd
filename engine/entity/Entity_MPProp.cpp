// Entity: the replicated-property reads and sets, forwarded to the property container
// through gEngineServices, and the encoding of the replicated animation state.
#include <algorithm>
#include <cmath>

#include "engine/entity/Entity.h"
#include "engine/services/EngineServices.h"

namespace {
uint8_t Fraction(float f) {
    if (!(f > 0.0f)) return 0;  // NaN too
    return uint8_t(std::min(f, 1.0f) * 255.0f + 0.5f);
}
}  // namespace

void EncodeMPAnimData(uint8_t out[3], const MPAnimValue& value, float progress) {
    out[0] = uint8_t((value.index & 0x7F) | (value.loop ? 0x80 : 0));
    out[1] = Fraction(value.attackTime);
    out[2] = Fraction(progress);
}

MPAnimValue Entity::MPPropGetAnim(uint32_t index) {
    MPAnimValue v;
    if (gEngineServices.entityMPPropGetAnim && gEngineServices.entityMPPropGetAnim(this, index, &v)) return v;
    return MPAnimValue();
}

float Entity::MPPropGetFloat(uint32_t index) {
    float f = 0.0f;
    if (gEngineServices.entityMPPropGetFloat && gEngineServices.entityMPPropGetFloat(this, index, &f)) return f;
    return 0.0f;
}

void Entity::MPPropSetAnim(uint32_t index, const MPAnimValue& value) {
    if (gEngineServices.entityMPPropSetAnim) gEngineServices.entityMPPropSetAnim(this, index, value);
}

void Entity::MPPropSetFloat(uint32_t index, float value, uint32_t flags) {
    if (gEngineServices.entityMPPropSetFloat) gEngineServices.entityMPPropSetFloat(this, index, value, flags);
}
