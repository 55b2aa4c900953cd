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
    // The class of what the object natively is (its constructor's): the object is pushed
    // under the class it reports only where that class's bound bases are this one's.
    virtual const char* GetNativeScriptClassName() const { return GetScriptClassName(); }
};
