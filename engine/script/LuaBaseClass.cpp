#include "engine/script/LuaBaseClass.h"

#include "engine/script/LuaWrapper.h"

void LuaBaseClass::Destroy() {
    gLua.InvalidateObject(this);
    delete this;
}
