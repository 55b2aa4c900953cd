#pragma once
// The binding frame: the prelude every generated package pulls in ($#include), with the
// generator's hooks (tolua_hooks.lua) that route the generated code through it.
//
// How a script call crosses it:
//   * objects are read by LuaBindingReader: a live userdata of the declared class or one
//     of its registered subclasses reads as its object; another class's object, a
//     non-userdata value, a light userdata or an absent argument reads as null; a dead
//     handle (LuaHandleGuards.h) reads as null and marks the call rejected;
//   * LuaBindingRejected, run before every native call, rejects a call with a null self,
//     a null where the native takes a reference, or a dead handle among its arguments:
//     no native runs and no result is pushed; the first rejection of each function name
//     logs one warning (category Script);
//   * script-owned objects come from the engine allocator (Mtolua_new) and go back only
//     through their class collector; `delete` runs the collector at once and kills the
//     handle, so a second delete, a later collection or a later call does nothing;
//   * results typed "const T" by pointer or reference are pushed as script-owned copies
//     (LuaBindingPushCopy), nil when the allocation fails.
//
// The frame also keeps the bound call short: each registered function carries the table
// of the class it belongs to, so an argument of exactly that class is recognised by its
// metatable alone, and each class's lookup event finds a method with one raw read
// (LuaClassIndexEvent).
//
// Threads: main thread only, like every script.
#include <cstddef>
#include <new>
#include <tolua++.h>
#include <type_traits>

#include "core/Memory.h"
#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaNumber.h"

// ---- Engine allocation of script-owned objects ----

struct LuaBindingAllocTag {};

// An engine block (16-byte aligned) for a script-owned object; null when the allocator
// is exhausted, in which case the new-expression yields null and runs no constructor.
void* operator new(size_t size, LuaBindingAllocTag) noexcept;
void operator delete(void* block, LuaBindingAllocTag) noexcept;

// Runs the destructor (where the class has an accessible one) and frees the block.
template <class T>
void LuaBindingDestroy(T* object) {
    if (!object) return;
    using Plain = std::remove_cv_t<T>;
    Plain* p = const_cast<Plain*>(object);
    if constexpr (std::is_destructible_v<Plain>) p->~Plain();
    EngineFree(p);
}

// tolua++.h defines its own (plain new and delete) when nothing came first.
#undef Mtolua_new
#undef Mtolua_delete
#define Mtolua_new(EXP) new (LuaBindingAllocTag{}) EXP
#define Mtolua_delete(EXP) LuaBindingDestroy(EXP)

// The object of the userdata at position 1, unchecked (collectors: the collection event
// has checked the class already); null for anything else.
void* LuaBindingRawObject(lua_State* L);

// The collector of a class the generator made none for.
template <class T>
int LuaBindingCollect(lua_State* L) {
    LuaBindingDestroy(static_cast<T*>(LuaBindingRawObject(L)));
    return 0;
}

// ---- Reading arguments ----

// The type name of UTF-16 text pointers (char16_t). Such a pointer crosses as a light
// userdata; read back, it is checked against the host's registry of live buffers
// (LuaUnicodeRegistry.h): anything but the start of a live buffer reads as null.
constexpr const char* kLuaBindingUnicharType = "unichar";
using unichar = char16_t;

// Reads the argument at index as an object of the class `type` (see above). fallback is
// returned only when the argument is absent. With ownClass, `type` is the class of the
// running function, registered through LuaBindingFunction: an object of exactly that
// class is then recognised by its metatable alone, the function's first upvalue.
struct LuaBindingReader {
    const char* type;
    bool ownClass = false;

    // In line: this runs for every object argument of every call.
    void* operator()(lua_State* L, int index, const void* fallback) const {
        if (ownClass && lua_getmetatable(L, index)) {
            // A function without upvalues (a variable's getter) reads its first one as
            // none, which equals no table. A script's table can carry a class's
            // metatable too; it has no block.
            const bool same = lua_rawequal(L, -1, lua_upvalueindex(1)) != 0;
            lua_pop(L, 1);
            void* block = same ? lua_touserdata(L, index) : nullptr;
            if (block) return *static_cast<void**>(block);
        }
        return Read(L, index, fallback);
    }
    // Every other case: the class and its subclasses by name, dead handles, text pointers.
    void* Read(lua_State* L, int index, const void* fallback) const;
};

// Set by the reader when it meets a dead handle; read and cleared by the call's check.
extern bool gLuaBindingDeadArgument;

// Rejects (see LuaBindingRejected) with its one warning per function name.
bool LuaBindingReject(const char* functionName);

// True (and the call must return 0) when null is set or a dead handle was read since the
// last check; clears the dead-handle mark either way.
inline bool LuaBindingRejected(lua_State*, bool null, const char* functionName) {
    if (!null && !gLuaBindingDeadArgument) return false;
    gLuaBindingDeadArgument = false;
    return LuaBindingReject(functionName);
}

// ---- Pushing results ----

// A script-owned value the binding just allocated (nil for null), under the class name
// without "const". The generator registers it with the collector next.
void LuaBindingPushOwned(lua_State* L, void* object, const char* type);
// An engine-owned object (nil for null); a type no package declared pushes nil.
void LuaBindingPushObject(lua_State* L, void* object, const char* type);
// The class an engine object that names its own script class (entities, UI elements) is
// pushed under: its own when a script or package registered that class, else type.
const char* LuaBindingScriptClass(lua_State* L, const LuaBaseClass* object, const char* type);

// An engine-owned object under its static type, or under its own script class when it has
// one, so a script's methods come with an object found through a binding.
template <class T>
void LuaBindingPushTyped(lua_State* L, void* object, const char* type) {
    if constexpr (std::is_base_of_v<LuaBaseClass, T>) {
        if (object) type = LuaBindingScriptClass(L, static_cast<const T*>(object), type);
    }
    LuaBindingPushObject(L, object, type);
}
// Registers the userdata at index with its collector; nothing for nil (a failed
// allocation) or a null object.
void LuaBindingRegisterGc(lua_State* L, int index);

// A script-owned copy of *source (nil for null or when the allocation fails).
template <class T>
void LuaBindingPushCopy(lua_State* L, void* source, const char* type) {
    T* copy = source ? Mtolua_new((T)(*static_cast<const T*>(source))) : nullptr;
    LuaBindingPushOwned(L, copy, type);
    LuaBindingRegisterGc(L, -1);
}

// A view into an object (a row of a matrix, a field of a value) keeps that object alive
// while the view lives: the userdata at index refers to the owner at ownerIndex (nothing
// when the owner is not a userdata).
void LuaBindingKeepOwner(lua_State* L, int index, int ownerIndex);

// `delete`: runs the collector of the object at position 1 now and kills its handle.
void LuaBindingDelete(lua_State* L, const char* functionName);

// A function registration (tolua_function) into the table on the top of the stack (a
// class's metatable or a module), which the function keeps as its first upvalue.
void LuaBindingFunction(lua_State* L, const char* name, lua_CFunction function);

// A class registration (tolua_cclass) that also gives the class and its "const" form the
// bindings' lookup event (LuaHandleGuards.h).
void LuaBindingClass(lua_State* L, const char* lname, const char* name, const char* base, lua_CFunction collector);

// The generated code registers owned values through the guarded form, and its classes
// and functions through LuaBindingClass and LuaBindingFunction.
#define tolua_register_gc LuaBindingRegisterGc
#define tolua_cclass LuaBindingClass
#define tolua_function LuaBindingFunction

// The number push of the package shim (LuaPackageShim.h), with its float rule, in line:
// every number result of every call goes through it.
inline void LuaBindingPushNumber(lua_State* L, lua_Number value) { lua_pushnumber(L, ScriptPushValue(value)); }
#undef tolua_pushnumber
#define tolua_pushnumber LuaBindingPushNumber
