// Script host: running texts and files, calls into scripts, and the one error report.
//
// The host's own work inside the state (finding a class, pushing the object, looking up
// the method, registering a class, killing a handle, the collector step) runs as a
// HostRequest: a C function kept in the registry is put under the caller's arguments
// with a light pointer to the request and run through ProtectedCall. Whatever fails in
// there - a script's metamethod, an exhausted allocator - is reported like a script
// error, and the stack is restored on every path. The request's C function and the
// natives it reaches keep no C++ object with a destructor in their frames: Lua unwinds
// errors with longjmp.
#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <tolua++.h>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/FsUtil.h"
#include "core/profiler/Profiler.h"
#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaHandleGuards.h"
#include "engine/script/LuaWrapper.h"

struct LuaWrapper::HostRequest {
    enum class Op : uint8_t { CallMethod, CallStatic, RegisterClass, Invalidate, CollectStep };
    enum class Outcome : uint8_t { Ran, UnknownClass, NotFunction, NotFound };

    Op op;
    int argCount = 0;
    int resultCount = 0;
    void* object = nullptr;
    const char* className = nullptr;
    const char* name = nullptr;  // method, static function or base class
    int stepSize = 0;
    MethodNames* names = nullptr;  // CallMethod: the slot to remember the names in
    Outcome outcome = Outcome::Ran;
    const char* foundType = nullptr;  // NotFunction: Lua's name of the value's type
};

namespace {

// How many protected runs of the host are under way (a script may call back into the host).
int protectedCallDepth = 0;

const char* Text(const char* s) { return s ? s : ""; }

bool KnownClass(lua_State* L, const char* className) {
    if (!className) return false;
    luaL_getmetatable(L, className);
    const bool known = !lua_isnil(L, -1);
    lua_pop(L, 1);
    return known;
}

// Stack on entry: the n arguments.
template <class R>
int CallMethodBody(lua_State* L, R* r) {
    if (!KnownClass(L, r->className)) {
        r->outcome = R::Outcome::UnknownClass;
        return 0;
    }
    if (r->names && r->name) {
        lua_pushstring(L, r->className);
        lua_rawseti(L, LUA_REGISTRYINDEX, r->names->classRef);
        lua_pushstring(L, r->name);
        r->names->numeric = lua_isnumber(L, -1);
        lua_rawseti(L, LUA_REGISTRYINDEX, r->names->methodRef);
    }
    tolua_pushusertype(L, r->object, r->className);
    lua_pushstring(L, r->name);
    lua_gettable(L, -2);  // through the object's metatables
    if (!lua_isfunction(L, -1)) {
        r->outcome = R::Outcome::NotFunction;
        r->foundType = luaL_typename(L, -1);
        return 0;
    }
    lua_insert(L, 1);  // function, arguments, object
    lua_insert(L, 2);  // function, object, arguments
    lua_call(L, r->argCount + 1, r->resultCount);
    return lua_gettop(L);
}

template <class R>
int CallStaticBody(lua_State* L, R* r) {
    lua_getfield(L, LUA_REGISTRYINDEX, Text(r->className));
    if (lua_istable(L, -1)) lua_getfield(L, -1, Text(r->name));
    if (!lua_isfunction(L, -1)) {
        r->outcome = R::Outcome::NotFound;
        return 0;
    }
    lua_remove(L, -2);  // the class table
    lua_insert(L, 1);
    lua_call(L, r->argCount, r->resultCount);
    return lua_gettop(L);
}

template <class R>
int RegisterClassBody(lua_State* L, R* r) {
    if (KnownClass(L, r->className)) return 0;
    tolua_open(L);
    tolua_usertype(L, r->className);
    tolua_beginmodule(L, nullptr);
    tolua_cclass(L, r->className, r->className, Text(r->name), nullptr);
    tolua_endmodule(L);
    NoteScriptClass(L, r->className);
    RepairClassFieldAssignment(L, r->className);
    return 0;
}

// The handle keeps a null object and becomes a dead handle (LuaHandleGuards.h), so
// neither a script nor a binding can reach the freed object through it, and tolua++'s
// cache forgets the address for an object made there later.
// The handle is looked up under the reported class, then under the class a binding noted
// it was pushed under (the reported one unknown or from another class line).
template <class R>
int InvalidateBody(lua_State* L, R* r) {
    // Its collector entry goes too: an object made later at the address may be collected.
    lua_pushliteral(L, "tolua_gc");
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, r->object);
        lua_pushnil(L);
        lua_rawset(L, -3);
    }
    lua_pop(L, 1);
    const bool noted = TakeNotedLuaHandleClass(L, r->object);
    const char* notedClass = noted ? lua_tostring(L, -1) : nullptr;
    bool taken = false;
    if (KnownClass(L, r->className)) {
        luaL_getmetatable(L, r->className);
        taken = TakeCachedLuaHandle(L, -1, r->object);
    }
    if (!taken && notedClass && KnownClass(L, notedClass)) {
        luaL_getmetatable(L, notedClass);
        taken = TakeCachedLuaHandle(L, -1, r->object);
    }
    if (!taken) return 0;
    // The class the handle was pushed under names it in the dead-handle message.
    lua_getmetatable(L, -1);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const char* pushedAs = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : r->className;
    lua_pushvalue(L, -2);
    *static_cast<void**>(lua_touserdata(L, -1)) = nullptr;
    MarkDeadLuaHandle(L, -1, pushedAs);
    return 0;
}

const char* StatusText(int status) {
    switch (status) {
    case LUA_ERRRUN:
        return "LUA_ERROR: error while running the chunk.";
    case LUA_ERRSYNTAX:
        return "LUA_ERROR: syntax error during pre-compilation.";
    case LUA_ERRMEM:
        return "LUA_ERROR: memory allocation error.";
    case LUA_ERRERR:
        return "LUA_ERROR: error while running _ERRORMESSAGE.";
    case LUA_ERRFILE:
        return "LUA_ERROR: error opening the file.";
    default:
        return "LUA_ERROR: unknown error.";
    }
}

// The text of an error value: a string, a number (formatted here: converting it in place
// would allocate), else "".
void MessageText(lua_State* L, int index, char* out, size_t size) {
    switch (lua_type(L, index)) {
    case LUA_TSTRING:
        std::snprintf(out, size, "%s", lua_tostring(L, index));
        break;
    case LUA_TNUMBER:
        std::snprintf(out, size, LUA_NUMBER_FMT, lua_tonumber(L, index));
        break;
    default:
        out[0] = 0;
    }
}

// A chunk's name as the report shows it: a file's without the "@" that marks it.
const char* DisplayName(const char* chunkName) {
    const char* name = Text(chunkName);
    return name[0] == '@' ? name + 1 : name;
}

// Reads the whole script file, logging the loading line once it is open; null when it is
// missing or short.
char* ReadScriptFile(const char* name, const char* directory, uint32_t* size) {
    FileReader reader;
    if (!reader.Open(name, "lua", directory)) return nullptr;
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "Loading script file: %s.lua", name);
    *size = reader.GetSize();
    char* buffer = static_cast<char*>(EngineAlloc(size_t(*size) + 1));
    if (buffer && !reader.Read(buffer, *size)) ReleaseBuffer(&buffer);
    if (buffer) buffer[*size] = 0;
    return buffer;
}

// Whether the value at index, a name slot's string or false, holds exactly the characters
// of text. The slots' strings come from C strings, so they hold no zero byte and the
// comparison never reads past the end of text.
bool SlotTextIs(lua_State* L, int index, const char* text) {
    size_t length = 0;
    const char* value = lua_tolstring(L, index, &length);  // never a number here: nothing converts
    if (!value) return false;
    for (size_t i = 0; i < length; ++i)
        if (value[i] != text[i]) return false;
    return text[length] == 0;
}

// The stack back to top; false, for the direct method lookup that gives up.
bool RestoreDirectCallStack(lua_State* L, int top) {
    lua_settop(L, top);
    return false;
}

}  // namespace

int LuaWrapper::HostCall(lua_State* L) {
    auto* r = static_cast<HostRequest*>(lua_touserdata(L, 1));
    lua_remove(L, 1);
    switch (r->op) {
    case HostRequest::Op::CallMethod:
        return CallMethodBody(L, r);
    case HostRequest::Op::CallStatic:
        return CallStaticBody(L, r);
    case HostRequest::Op::RegisterClass:
        return RegisterClassBody(L, r);
    case HostRequest::Op::Invalidate:
        return InvalidateBody(L, r);
    case HostRequest::Op::CollectStep:
        lua_gc(L, LUA_GCSTEP, r->stepSize);
        return 0;
    }
    return 0;
}

bool LuaWrapper::RunHostRequest(HostRequest& request, const char* chunkName) {
    lua_State* L = state;
    lua_rawgeti(L, LUA_REGISTRYINDEX, hostCallRef);
    lua_insert(L, -(request.argCount + 1));
    lua_pushlightuserdata(L, &request);
    lua_insert(L, -(request.argCount + 1));
    return ProtectedCall(chunkName, request.argCount + 1, request.resultCount);
}

void LuaWrapper::DropResults(int resultCount) {
    if (resultCount > 0) lua_pop(state, resultCount);
}

// ---- Protected runs and the report ----

void LuaWrapper::PushErrorHandler() {
    // A raw read: looking the handler up runs no script code outside the protected call.
    lua_rawgeti(state, LUA_REGISTRYINDEX, errorHandlerNameRef);
    lua_rawget(state, LUA_GLOBALSINDEX);
}

int LuaWrapper::MessageHandler(lua_State* L) {
    auto* host = static_cast<LuaWrapper*>(lua_touserdata(L, lua_upvalueindex(1)));
    MessageText(L, 1, host->caughtMessage, sizeof host->caughtMessage);
    host->caughtDepth = protectedCallDepth;
    lua_rawgeti(L, LUA_REGISTRYINDEX, host->errorHandlerNameRef);
    lua_rawget(L, LUA_GLOBALSINDEX);
    if (!lua_isfunction(L, -1)) {
        lua_pop(L, 1);
        return 1;  // the message itself
    }
    lua_pushvalue(L, 1);
    lua_call(L, 1, 1);
    return 1;
}

bool LuaWrapper::ProtectedCall(const char* chunkName, int argCount, int resultCount) {
    if (!state) return false;
    lua_State* L = state;
    const int functionIndex = lua_gettop(L) - argCount;
    if (functionIndex < 1) {
        gLog.Error(LogCategory::Script, "LuaWrapper::ProtectedCall - %d arguments and no function on the stack", argCount);
        return false;
    }
    PushErrorHandler();
    const bool scriptHandler = lua_isfunction(L, -1);
    lua_pop(L, 1);
    lua_rawgeti(L, LUA_REGISTRYINDEX, messageHandlerRef);
    lua_insert(L, functionIndex);
    ++protectedCallDepth;
    const int depth = protectedCallDepth;
    caughtDepth = -1;
    const int status = lua_pcall(L, argCount, resultCount, functionIndex);
    --protectedCallDepth;
    lua_remove(L, functionIndex);
    if (status == 0) {
        caughtDepth = -1;
        return true;
    }
    // After the script's handler took the message, the report reads the one the host's
    // handler kept, when that ran for this run (a memory error calls no handler).
    caughtDepth = scriptHandler && caughtDepth == depth ? 0 : -1;
    ReportError(chunkName, status, !scriptHandler);
    IncErrorCounter();
    return false;
}

void LuaWrapper::ReportError(const char* chunkName, int status, bool callHandler) {
    if (!state) return;
    lua_State* L = state;
    const char* chunk = DisplayName(chunkName);
    const int type = lua_type(L, -1);
    // The message: the one on the stack, or, after the script's handler took it, the one
    // the host's handler kept.
    char message[sizeof caughtMessage];
    if (caughtDepth >= 0)
        std::snprintf(message, sizeof message, "%s", caughtMessage);
    else
        MessageText(L, -1, message, sizeof message);
    caughtDepth = -1;
    NoteFailure(chunk, message);
    char report[sizeof message + fs::kMaxPath + 64];
    std::snprintf(report, sizeof report, "LUA: error in '%s'\n%s\n%s", chunk, StatusText(status), message);
    const bool first = LogOnce(report);
    if (first) {
        gLog.Error(LogCategory::Script, "LUA: error in '%s'", chunk);
        gLog.Error(LogCategory::Script, "%s", StatusText(status));
    }
    if (callHandler && (type == LUA_TSTRING || type == LUA_TNUMBER)) {
        PushErrorHandler();
        if (lua_isfunction(L, -1)) {
            lua_pushvalue(L, -2);
            if (lua_pcall(L, 1, 0, 0) == 0) {
                lua_pop(L, 1);
                return;
            }
        }
        lua_pop(L, 1);  // not a function, or the handler's own error
        if (first) gLog.Error(LogCategory::Script, "Lua msg:%s", message);
    }
    lua_pop(L, 1);
}

// ---- Running texts and files ----

bool LuaWrapper::Compile(const char* buffer, size_t size, const char* chunkName) {
    lua_State* L = state;
    int status;
    if (size > 0 && buffer[0] == LUA_SIGNATURE[0]) {
        // Lua 5.1 does not verify precompiled chunks; a crafted one could crash the
        // program, so they are refused as syntax errors.
        lua_rawgeti(L, LUA_REGISTRYINDEX, refusedChunkMessageRef);
        status = LUA_ERRSYNTAX;
    } else {
        status = luaL_loadbuffer(L, buffer, size, chunkName);
    }
    if (status == 0) return true;
    caughtDepth = -1;
    ReportError(chunkName, status, true);
    return false;
}

bool LuaWrapper::ExecuteString(const char* code) {
    if (!state || !code) return false;
    if (!Compile(code, std::strlen(code), code)) return false;
    return ProtectedCall(code, 0, 0);
}

void LuaWrapper::ExecuteFile(const char* name, const char* directory, bool reportMissing) {
    if (!state || !name) return;
    if (directory && !*directory) directory = nullptr;
    uint32_t size = 0;
    char* buffer = ReadScriptFile(name, directory, &size);
    if (!buffer) {
        if (!reportMissing) return;
        if (directory)
            gLog.Error(LogCategory::Script, "Cannot load script file: %s/%s.lua", directory, name);
        else
            gLog.Error(LogCategory::Script, "Cannot load script file: %s.lua", name);
        return;
    }
    if (fileCallback) {
        char path[fs::kMaxPath];
        if (directory)
            std::snprintf(path, sizeof path, "%s/%s", directory, name);
        else
            std::snprintf(path, sizeof path, "%s", name);
        fileCallback->OnFileExecuted(path, reportMissing);
    }
    // "@" makes Lua show the rest as the chunk's file name.
    char chunkName[fs::kMaxPath + 8];
    std::snprintf(chunkName, sizeof chunkName, "@%s%s%s.lua", directory ? directory : "", directory ? "/" : "", name);
    if (!failureRecord.firstFile[0])
        std::snprintf(failureRecord.firstFile, sizeof failureRecord.firstFile, "%s", chunkName + 1);
    if (Compile(buffer, size, chunkName))
        ProtectedCall(chunkName, 0, 0);
    else
        IncErrorCounter();
    EngineFree(buffer);
}

// ---- Calls into scripts ----

LuaWrapper::MethodNames& LuaWrapper::MethodNameSlot(const char* className, const char* methodName) {
    const uint64_t key = reinterpret_cast<uintptr_t>(className) * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<uintptr_t>(methodName);
    return methodNames[(key ^ key >> 32) % kMethodNameSlots];
}

// The common case without a protected host call: the names were met before, the object
// already has its handle under exactly this class, with no fields of its own, the
// class's lookup event is tolua++'s or the bindings' (LuaClassIndexEvent on this very
// class), and a walk of the class line finds the method as a function. The walk reads
// what tolua++'s class lookup reads, in its order: each class table raw, then the next
// class up (the table's metatable). Anything that lookup would treat another way - a
// numeric name, a getter (".get") for the name in a class passed on the way, a value
// that is not a function, a line longer than kMethodLineDepth - leaves the call to the
// protected lookup, so its answer and its report stay the only ones. Only raw reads of
// existing values, so no script code runs and nothing is allocated; nothing found is
// kept from one call to the next (scripts may replace methods at any time). Otherwise the
// stack is left as it was and false is returned.
bool LuaWrapper::PushMethodDirectly(int top, int argCount, void* object, const char* className,
                                    const char* methodName) {
    if (!object || !className || !methodName || !classIndexEvent) return false;
    const MethodNames& names = MethodNameSlot(className, methodName);
    if (names.numeric) return false;  // tolua++ looks numeric keys up another way
    lua_State* L = state;
    // Above the arguments: the class (then each class up the line), the handle, the
    // method name, and what is read.
    const int level = top + 1, handle = top + 2, name = top + 3;
    lua_rawgeti(L, LUA_REGISTRYINDEX, names.classRef);
    if (!SlotTextIs(L, level, className)) return RestoreDirectCallStack(L, top);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, level)) return RestoreDirectCallStack(L, top);
    lua_rawgeti(L, LUA_REGISTRYINDEX, uboxNameRef);
    lua_rawget(L, level);
    if (!lua_istable(L, handle)) return RestoreDirectCallStack(L, top);
    lua_pushlightuserdata(L, object);
    lua_rawget(L, handle);
    lua_replace(L, handle);
    if (lua_type(L, handle) != LUA_TUSERDATA || !lua_getmetatable(L, handle)) return RestoreDirectCallStack(L, top);
    bool direct = lua_rawequal(L, -1, level);
    lua_getfenv(L, handle);
    direct = direct && lua_rawequal(L, -1, LUA_REGISTRYINDEX);  // no peer table
    lua_rawgeti(L, LUA_REGISTRYINDEX, indexNameRef);
    lua_rawget(L, level);
    const lua_CFunction event = lua_tocfunction(L, -1);
    if (direct && event == &LuaClassIndexEvent)
        direct = lua_getupvalue(L, -1, 1) && lua_rawequal(L, -1, level);  // its first read is this class
    else
        direct = direct && event == classIndexEvent;
    if (!direct) return RestoreDirectCallStack(L, top);
    lua_settop(L, handle);
    lua_rawgeti(L, LUA_REGISTRYINDEX, names.methodRef);
    if (!SlotTextIs(L, name, methodName)) return RestoreDirectCallStack(L, top);
    for (int depth = 0;; ++depth) {
        lua_pushvalue(L, name);
        lua_rawget(L, level);
        if (!lua_isnil(L, -1)) break;
        lua_rawgeti(L, LUA_REGISTRYINDEX, getterTableNameRef);
        lua_rawget(L, level);
        if (lua_istable(L, -1)) {
            lua_pushvalue(L, name);
            lua_rawget(L, -2);
            if (!lua_isnil(L, -1)) return RestoreDirectCallStack(L, top);  // a getter answers first
        }
        if (depth + 1 == kMethodLineDepth || !lua_getmetatable(L, level)) return RestoreDirectCallStack(L, top);
        lua_replace(L, level);
        lua_settop(L, name);
    }
    if (!lua_isfunction(L, -1)) return RestoreDirectCallStack(L, top);
    lua_replace(L, level);  // function handle
    lua_settop(L, handle);
    if (argCount > 0) {
        lua_insert(L, top - argCount + 1);
        lua_insert(L, top - argCount + 1);
    }
    return true;
}

bool LuaWrapper::ArgumentsPresent(int argCount) const {
    const int top = lua_gettop(state);
    if (argCount >= 0 && argCount <= top) return true;
    gLog.Error(LogCategory::Script, "LuaWrapper - a call with %d arguments and %d values on the stack", argCount, top);
    return false;
}

bool LuaWrapper::CallMethod(int argCount, int resultCount, void* object, const char* className,
                            const char* methodName) {
    if (!state || !ArgumentsPresent(argCount)) return false;
    const int top = lua_gettop(state);
    if (PushMethodDirectly(top, argCount, object, className, methodName)) {
        ++failureRecord.foundFunctions;
        return ProtectedCall(methodName, argCount + 1, resultCount);
    }
    HostRequest r{HostRequest::Op::CallMethod, argCount, resultCount, object, className, methodName};
    if (className && methodName) r.names = &MethodNameSlot(className, methodName);
    if (!RunHostRequest(r, methodName)) return false;
    switch (r.outcome) {
    case HostRequest::Outcome::UnknownClass:
        ReportMissingFunction("Unknown LUA class %s in a call to %s method", Text(className), Text(methodName));
        break;
    case HostRequest::Outcome::NotFunction:
        ReportMissingFunction("Variable \"%s\" is not function but %s in %s class", Text(methodName),
                              Text(r.foundType), Text(className));
        break;
    case HostRequest::Outcome::Ran:
        ++failureRecord.foundFunctions;
        return true;
    default:
        return true;
    }
    DropResults(resultCount);
    return false;
}

bool LuaWrapper::CallObjectMethod(LuaBaseClass* object, const char* methodName, int argCount, int resultCount) {
    if (!state) return false;
    if (!object) {
        Pop(argCount);
        return false;
    }
    return CallMethod(argCount, resultCount, object, object->GetScriptClassName(), methodName);
}

bool LuaWrapper::ExecuteStaticFunction(const char* className, const char* functionName, int argCount, int resultCount) {
    if (!state || !ArgumentsPresent(argCount)) return false;
    HostRequest r{HostRequest::Op::CallStatic, argCount, resultCount, nullptr, className, functionName};
    if (!RunHostRequest(r, "ExecuteStaticFunction")) return false;
    if (r.outcome == HostRequest::Outcome::Ran) return true;
    DropResults(resultCount);
    return false;
}

void LuaWrapper::RegisterClass(const char* name, const char* baseName) {
    if (!state || !name) return;
    HostRequest r{HostRequest::Op::RegisterClass, 0, 0, nullptr, name, baseName};
    RunHostRequest(r, "RegisterClass");
}

void LuaWrapper::InvalidateObject(LuaBaseClass* object) {
    if (object) InvalidateUserType(object, object->GetScriptClassName());
}

void LuaWrapper::InvalidateUserType(void* object, const char* typeName) {
    if (!state || !object || !typeName) return;
    HostRequest r{HostRequest::Op::Invalidate, 0, 0, object, typeName, nullptr};
    RunHostRequest(r, "InvalidateObject");
}

void LuaWrapper::StepGarbageCollector() {
    if (!state) return;
    gProfiler.StartTimer(PROFILE_LUA_GC_TIME, PROFILER_THREAD_MAIN);
    const int before = lua_gc(state, LUA_GCCOUNT, 0);
    HostRequest r{HostRequest::Op::CollectStep};
    r.stepSize = gcStepSize;
    // Protected: the step may run a script's finaliser.
    RunHostRequest(r, "StepGarbageCollector");
    // Outside every script call (the step is never taken from inside one): what the
    // collectors queued runs now.
    if (protectedCallDepth == 0) RunLuaDeferredWork();
    const int after = lua_gc(state, LUA_GCCOUNT, 0);
    gProfiler.AddValue(PROFILE_LUA_GC_MEM, static_cast<float>(before - after), PROFILER_THREAD_MAIN);
    gProfiler.StopTimer(PROFILE_LUA_GC_TIME, PROFILER_THREAD_MAIN);
}

namespace {
ScriptListingServices gDefaultScriptListingServices;
ScriptListingServices* gScriptListingServices = &gDefaultScriptListingServices;
}  // namespace

ScriptListingServices& GetScriptListingServices() { return *gScriptListingServices; }

void SetScriptListingServices(ScriptListingServices* services) {
    gScriptListingServices = services ? services : &gDefaultScriptListingServices;
}

void LuaWrapper::ListCommonScripts(const char* setName, DynarraySafe<NameString>& files) {
    if (state) gScriptListingServices->LoadMainScripts(setName, files);
}

void LuaWrapper::ListSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) {
    if (state) gScriptListingServices->RegisterSceneScripts(sceneName, files);
}
