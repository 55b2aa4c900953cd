#pragma once
// LuaEntityPointer: a script-held reference to an entity that turns null when the
// engine destroys the entity, instead of a dangling handle.
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"

class LuaEntityPointer : public SafePointer<Entity> {
public:
    LuaEntityPointer() = default;
    explicit LuaEntityPointer(Entity* target) : SafePointer<Entity>(target) {}
    ~LuaEntityPointer() override = default;
};
