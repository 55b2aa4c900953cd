#pragma once
// LuaBaseClass: the base of engine objects that scripts see and extend. Scripts add Lua
// methods to the object's script class (named by GetScriptClassName); the engine calls
// them by name through the script host (LuaWrapper::CallObjectMethod).
//
// Main thread only, like the script host.
#include "core/rtti/RTTIClass.h"

class LuaBaseClass : public RTTIPolyBaseClass {
public:
    // Drops the object's script handle (LuaWrapper::InvalidateObject), then deletes it.
    virtual void Destroy();
    // The script class the object is pushed as; never null.
    virtual const char* GetScriptClassName() const = 0;
};
