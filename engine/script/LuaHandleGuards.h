#pragma once
// Guards of the script boundary that every binding package relies on: handles of dead
// engine objects and assignments to read-only bound variables; and the lookup event of
// bound classes.
//
// A dead handle is the userdata that once held an engine object the engine has since
// destroyed (LuaWrapper::InvalidateObject). It keeps no object (its pointer is null) and
// carries one shared metatable whose events raise "attempt to use a dead <class>
// object", so a script that indexes, assigns to or calls it gets a script error (counted
// by the host's protected call) instead of reaching freed memory. A binding that receives
// a dead handle as an argument rejects the call (LuaIsDeadHandle); it never takes it for
// nil.
//
// Threads: main thread, like the state.
struct lua_State;

// Makes the userdata at index a dead handle of the named class (the name is copied). A
// non-userdata value is left alone.
void MarkDeadLuaHandle(lua_State* L, int index, const char* className);
// True when the value at index is a dead handle.
bool LuaIsDeadHandle(lua_State* L, int index);
// The class name a dead handle was made with; null for anything else.
const char* LuaDeadHandleClass(lua_State* L, int index);

// Work a collector must not do in place: a collection can start in the middle of any
// bound call, while the call still holds the objects it read. A binding's collector
// queues such work, and the host runs it at its collection step, outside every script
// call (LuaWrapper::StepGarbageCollector). One slot; null empties it.
using LuaDeferredWork = void (*)();
void SetLuaDeferredWork(LuaDeferredWork work);
void RunLuaDeferredWork();

// tolua++ caches each object's handle in a table keyed by the object's address
// ("tolua_ubox": the one of the class hierarchy, held in its metatable, else the
// state's). Takes the handle of object out of the cache of the class whose metatable is
// at metatableIndex, so an object later made at the same address gets a handle of its
// own; with handleIndex nonzero, only when the cached handle is the value at that index.
// Pushes the handle taken and returns true; pushes nothing and returns false otherwise.
bool TakeCachedLuaHandle(lua_State* L, int metatableIndex, void* object, int handleIndex = 0);

// A binding that pushes an object under a class other than the one the object reports
// (LuaBaseClass::GetScriptClassName) notes that class, so the host finds the handle when
// the object is destroyed. Take pushes the noted name and forgets it; it pushes nothing
// and returns false when there is none.
void NoteLuaHandleClass(lua_State* L, const void* object, const char* className);
bool TakeNotedLuaHandleClass(lua_State* L, const void* object);

// The classes scripts registered (LuaWrapper::RegisterClass), as against the packages'
// bound ones: a script class adds script functions only, so an object may be pushed under
// it wherever it could be pushed under the class's bound bases.
void NoteScriptClass(lua_State* L, const char* className);
bool IsScriptClass(lua_State* L, const char* className);

// The lookup event (__index) the binding packages give their classes in place of
// tolua++'s. A name that cannot read as a number, looked up on an object without a peer
// table, is first read raw from the class table (the event's upvalue), where tolua++
// finds methods and constants too; anything else, or a name the class table lacks, goes
// to tolua++'s event, which also tries each name as a number first (a strtod per call)
// and then walks the bases. So both give the same answer for an object of the class.
// InstallLuaClassIndexEvent puts it on the class metatable at index when that one has
// tolua++'s event.
int LuaClassIndexEvent(lua_State* L);
void InstallLuaClassIndexEvent(lua_State* L, int metatableIndex);

// Raises the script error "attempt to assign to read-only variable '<name>'" (does not
// return).
int LuaReadOnlyAssignmentError(lua_State* L, const char* name);
