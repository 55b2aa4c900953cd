#pragma once
// Entity: the base of every scene object.
//
// Declared so far only as far as the script scheduler needs it: a script object whose
// scheduled callbacks arrive through RequestDelete. Main thread only.
#include <cstdint>

#include "engine/script/LuaBaseClass.h"

class Entity : public LuaBaseClass {
public:
    // The scheduled-callback operation: receives the id given to the scheduler by
    // Entity::ScheduleCallback when the call falls due. Entity kinds override it.
    virtual void RequestDelete(uint32_t callbackId);
};
