#pragma once
// LuaNamedBaseClass: a LuaBaseClass that carries the name of its script class as data, so
// one native class can be pushed to scripts as any of several script classes (each
// constructor sets its own name; a script may replace it with SetLuaClass).
//
// Main thread only, like the script host.
#include "core/text/NameString.h"
#include "engine/script/LuaBaseClass.h"

class LuaNamedBaseClass : public LuaBaseClass {
public:
    explicit LuaNamedBaseClass(const char* className);

    // The stored name ("" while none is set, which the script host pushes as nil).
    const char* GetScriptClassName() const override { return luaClassName.CStr(); }
    void SetLuaClass(const char* className);

private:
    NameString luaClassName;
};
