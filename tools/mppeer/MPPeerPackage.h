#pragma once
// The few replicated-property operations the scripts of mp_peer's entity plan use, for
// its binding package (MPPeerPackage.pkg).
#include "engine/entity/Entity.h"
#include "engine/entity/MPProperty.h"

inline unsigned int MPPeerAddVec(Entity* e, float x, float y, float z, unsigned int type, unsigned int flags, const char* name) {
    return e ? e->MPPropAddVec(Vector(x, y, z, 1.0f), type, flags, name) : kMPRefused;
}
inline unsigned int MPPeerAddAnim(Entity* e, unsigned int flags, const char* name) {
    return e ? e->MPPropAddAnim(MPAnimValue(), flags, name) : kMPRefused;
}
