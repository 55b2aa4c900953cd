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
    // A script's choice of class: the class the object had until then stays its native one.
    void SetLuaClassFromScript(const char* className);
    const char* GetNativeScriptClassName() const override {
        return nativeClassName.IsEmpty() ? luaClassName.CStr() : nativeClassName.CStr();
    }

private:
    NameString luaClassName;
    NameString nativeClassName;  // set when a script first renames the class
};
