#pragma once
// The script host (gLua): the one Lua 5.1 state in which every game script runs.
//
// The engine reaches scripts only through this class: run a text or a script file,
// call a method of a script class on an engine object, call a static function of a
// script class, push arguments and read results. Every failed script run is logged and
// counted by one report routine (ReportError), so script errors never stop the engine.
//
// Threads: main thread only; the state is never touched from a worker.
//
// Stack discipline: the caller pushes n arguments and calls CallMethod,
// CallObjectMethod or ExecuteStaticFunction. On success the requested results are on
// the stack for the caller to read and Pop; on every failure the stack is exactly as it
// was before the caller pushed its arguments.
//
// Protection: the host's own lookups (class, method, static function, the object's
// handle) run inside the same protected call as the script code, so a failing
// metamethod or an exhausted allocator is reported like any script error. The one
// exception is a repeated method call on an object whose handle, class and lookup are
// the ordinary ones: that is found by raw reads of values that already exist, which run
// no script code and allocate nothing.
//
// Memory: every block of the state comes from the small-object pools (gSmallObjectPools)
// through HostAllocate, which feeds the "LuaAllocTime" and "LuaAllocNum" counters; the
// collector runs as one incremental step per frame (StepGarbageCollector).
//
// Numbers: see LuaNumber.h; the push helpers below apply the float rule.
#include <cstddef>
#include <cstdint>

#include "core/Dynarray.h"
#include "core/PathLimit.h"
#include "core/text/NameString.h"

struct lua_State;
class LuaBaseClass;

// The value of the script global VORNEX_LUA_CLASS_KEY.
constexpr const char* kLuaClassKey = "_VORNEX_ENGINE_LUA_CLASSES_";
// The folder of the main scripts, and the default folder of the script form of
// ExecuteFile.
constexpr const char* kScriptFolder = "common/scripts";

// The receiver of every script file the host runs (LuaWrapper::SetFileExecutionCallback).
class LuaWrapperFileExecutionCallbackObject {
public:
    virtual ~LuaWrapperFileExecutionCallbackObject() = default;
    // path: "directory/name" (or the bare name without a directory), without ".lua";
    // flag: the run's reportMissing flag.
    virtual void OnFileExecuted(const char* path, bool flag) = 0;
};

// What the host's distribution listings ask of the game: its delegate's LoadMainScripts
// (the scripts of a resource set, found by running the main distribution script) and
// RegisterSceneScripts (a scene's scripts). The running Game installs its
// implementation; until then, and after SetScriptListingServices(nullptr), the base class
// lists nothing. Main thread.
class ScriptListingServices {
public:
    virtual ~ScriptListingServices() = default;
    virtual void LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) {}
    virtual void RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) {}
};

ScriptListingServices& GetScriptListingServices();
// Not owned; null restores the default.
void SetScriptListingServices(ScriptListingServices* services);

class LuaWrapper {
public:
    LuaWrapper() = default;
    ~LuaWrapper();
    LuaWrapper(const LuaWrapper&) = delete;
    LuaWrapper& operator=(const LuaWrapper&) = delete;

    // ---- Lifecycle (engine start-up and shutdown) ----
    // Creates the state, opens the libraries and every binding package, publishes the
    // engine singletons and sets the error counter to 0. Nothing when already open.
    void Init();
    void Close();
    // Null before Init and after Close; every operation below then does nothing and
    // returns false.
    lua_State* GetState() const { return state; }

    // ---- Running scripts ----
    // Compiles the text (also its chunk name) and runs it. A compile error is reported
    // but not counted.
    bool ExecuteString(const char* code);
    // Runs "directory/name.lua" (or "name.lua" without a directory) through gFileSystem.
    // A missing file is reported only with reportMissing and is never counted; a compile
    // or run error is reported and counted. The defaults are those of the script form.
    // The chunk is named after the file ("directory/name.lua"), so that Lua's messages
    // read "directory/name.lua:LINE: ...".
    void ExecuteFile(const char* name, const char* directory = kScriptFolder, bool reportMissing = true);
    // object:method(args) on the argCount values the caller pushed, the object pushed as a
    // user type of className. False (stack restored) when the class is unknown, the
    // method is not a function, or the call failed; false with the stack untouched when
    // fewer than argCount values are on it.
    bool CallMethod(int argCount, int resultCount, void* object, const char* className, const char* methodName);
    bool CallObjectMethod(LuaBaseClass* object, const char* methodName, int argCount = 0, int resultCount = 0);
    // Class.function(args) without an object.
    bool ExecuteStaticFunction(const char* className, const char* functionName, int argCount, int resultCount);
    // Creates the script class once; a name already known is left alone.
    void RegisterClass(const char* name, const char* baseName);
    // Sets a script global to the object as a user type (nil for a null object); a type
    // no binding package declared is declared here, without methods.
    void SetGlobalObject(void* object, const char* typeName, const char* globalName);
    // Kills the object's script handle (the handle stays, with no type and no object),
    // for an object being destroyed.
    void InvalidateObject(LuaBaseClass* object);
    // The same for an engine object pushed as a user type of that class that is not a
    // LuaBaseClass.
    void InvalidateUserType(void* object, const char* typeName);

    // ---- Arguments and results ----
    void PushBool(bool value);
    void PushInt(int32_t value);
    void PushUInt(uint32_t value);
    void PushString(const char* text);  // null pushes nil
    void PushObject(LuaBaseClass* object);  // under its script class; null pushes nil
    // Engine-owned object under the type name (nil for null). A type name that no package
    // registered pushes nil, with one warning per name.
    void PushUserType(void* object, const char* typeName);
    // The same, the object then owned by the script collector.
    void PushCollectedUserType(void* object, const char* typeName);
    void Pop(int count);
    bool ToBool(int index) const;
    // t[1], t[2], ... up to the first nil of the table at index, as floats; empty for a
    // non-table. The array is shared and valid until the next call.
    const Dynarray<float>& GetFloatArray(int index);

    // ---- Errors ----
    // Runs the function under its argCount arguments with global _ERRORMESSAGE as the
    // message handler when it is a function (the host's own handler keeps the message for
    // the report first). A failure is reported and counted.
    bool ProtectedCall(const char* chunkName, int argCount, int resultCount);
    // Logs the chunk and the status text; with callHandler, hands the message on the top
    // to _ERRORMESSAGE (or logs it); pops the message. A report whose chunk, status and
    // message were reported before logs nothing (the handler is still called).
    void ReportError(const char* chunkName, int status, bool callHandler);
    // The process-wide script error counter (script statics of LuaWrapper). A reset also
    // reports the repeated errors and forgets them: what follows is logged again.
    static void ResetErrorCounter();
    static uint32_t GetErrorCount();
    static void IncErrorCounter();
    // Logs every report text met more than once since the last call, once, with how
    // many times it was met ("TEXT (reported N times)"), and forgets them all.
    static void ReportRepeatedErrors();

    // What failed since BeginFailureRecord (Init begins one): the failed runs and the
    // calls that found no function to call, the first of each as one line, and the first
    // script file run (started at the program's start, it names the main script). A
    // failed run's line is its message ("file:LINE: what"), with the chunk's name put in
    // front of a message that does not begin with it.
    struct FailureRecord {
        uint32_t errors = 0;
        uint32_t missingFunctions = 0;
        uint32_t foundFunctions = 0;  // method calls that found their function
        char firstError[512] = {};
        char firstMissing[512] = {};
        char firstFile[fs::kMaxPath + 8] = {};
    };
    void BeginFailureRecord();
    const FailureRecord& GetFailureRecord() const { return failureRecord; }
    // Puts a record taken before the current one began in front of it: the counts add up,
    // and the earlier record's first failures and file stay the first.
    void MergeEarlierFailureRecord(const FailureRecord& earlier);

    // ---- Diagnostics and upkeep ----
    // One line per call level and per local of each level, each line ending in '\n'.
    using LinePrinter = void (*)(const char* line, void* context);
    void DumpStack(LinePrinter print, void* context);
    void DumpLuaStackToConsole();
    // The per-frame incremental step; adds the freed kilobytes to "LuaGCMem".
    void StepGarbageCollector();
    void ReportMemoryStats();
    void ResetReplication();
    void ProfilerCommand(const char* text);

    // The single file-execution callback slot; null removes it.
    void SetFileExecutionCallback(LuaWrapperFileExecutionCallbackObject* callback) { fileCallback = callback; }
    LuaWrapperFileExecutionCallbackObject* GetFileExecutionCallback() const { return fileCallback; }

    // ---- Distribution listings ----
    // The script files a distribution package must carry, added to files by the game's
    // delegate (ScriptListingServices): those of a resource set and those of a scene.
    // Nothing without a state.
    void ListCommonScripts(const char* setName, DynarraySafe<NameString>& files);
    void ListSceneScripts(const char* sceneName, DynarraySafe<NameString>& files);

    // Init's bit library (step 6) and replication globals (step 8); ResetReplication runs
    // the second. Null hooks do nothing.
    using StateHook = void (*)(lua_State* state);
    void SetInitHooks(StateHook openBitLibrary, StateHook resetReplication);
    // Where the engine object and its timer are ("gVornexEngine", "gEngineTimer"): they
    // live above the script host, so the engine's start-up registers them before Init
    // publishes the singletons (unregistered: published as nil).
    using SingletonSource = void* (*)();
    static void SetEngineSingletons(SingletonSource engine, SingletonSource timer);
    // The same for "gEntityManager" (the engine's start-up) and for "gGame" and
    // "gConfigHelper" (the Game's).
    static void SetEntityManagerSingleton(SingletonSource entityManager);
    static void SetGameSingletons(SingletonSource game, SingletonSource configHelper);

    // The state's allocation function (Lua's lua_Alloc). Every block comes from the
    // pools and every resize moves. A growth that cannot be served returns null (Lua
    // reports a memory error); a shrink that cannot get a new block keeps the old one.
    static void* HostAllocate(void* unused, void* block, size_t oldSize, size_t newSize);
    // Test hook: new blocks fail once the bytes in use (as Lua counts them) plus the new
    // block would pass the budget. SIZE_MAX (the default) switches it off.
    static void SetAllocationBudget(size_t bytes);
    static size_t AllocatedBytes();

    // Collector tuning: pause and step multiplier set at Init, the per-frame step size.
    int32_t gcPause = 200;
    int32_t gcStepMultiplier = 100;
    int32_t gcStepSize = 15;

private:
    struct HostRequest;
    // The class and method names of a recent method call, as Lua strings held in two
    // registry slots, so that the next call with those names makes no string. A slot is
    // picked by the caller's pointers and used only when its characters match.
    struct MethodNames {
        int classRef = 0;
        int methodRef = 0;
        bool numeric = false;  // the method name reads as a number: looked up another way
    };
    static constexpr uint32_t kMethodNameSlots = 32;
    // The longest class line the direct method lookup walks; a longer one takes the
    // protected lookup.
    static constexpr int kMethodLineDepth = 32;
    MethodNames& MethodNameSlot(const char* className, const char* methodName);
    static int HostCall(lua_State* L);  // the protected body of every HostRequest
    bool RunHostRequest(HostRequest& request, const char* chunkName);
    // False, with an error line, unless argCount values are on the stack.
    bool ArgumentsPresent(int argCount) const;
    // top: the stack's top, above the caller's arguments.
    bool PushMethodDirectly(int top, int argCount, void* object, const char* className, const char* methodName);
    // chunkName: Lua's name of the chunk ("@file" for a script file, which Lua shows as
    // the file's name).
    bool Compile(const char* buffer, size_t size, const char* chunkName);
    void PushErrorHandler();
    // The message handler of every protected run (upvalue: the host).
    static int MessageHandler(lua_State* L);
    // A report line of the host (category 4, error), logged unless its text was reported
    // before; false for a repeat.
    static bool LogOnce(const char* text);
    // A call that found no function: logged once, counted in the failure record.
    void ReportMissingFunction(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void NoteFailure(const char* chunkName, const char* message);
    void PushUserTypeAs(void* object, const char* typeName, bool collected);
    void PublishSingletons();
    void DropResults(int resultCount);

    lua_State* state = nullptr;
    // Registry references made at Init: the protected host call, and the strings the
    // host pushes outside a protected call (anchored, so pushing them never allocates).
    int hostCallRef = 0;
    int messageHandlerRef = 0;
    int errorHandlerNameRef = 0;
    int refusedChunkMessageRef = 0;
    int uboxNameRef = 0;
    int indexNameRef = 0;
    int getterTableNameRef = 0;  // ".get", where tolua++ keeps a class's getters
    int (*classIndexEvent)(lua_State*) = nullptr;  // tolua++'s lookup event of class metatables
    MethodNames methodNames[kMethodNameSlots];
    LuaWrapperFileExecutionCallbackObject* fileCallback = nullptr;
    StateHook openBitLibraryHook = nullptr;
    StateHook resetReplicationHook = nullptr;
    Dynarray<float> floatArray;
    DynarraySafe<NameString> unknownTypes;  // type names already warned about
    FailureRecord failureRecord;
    // The message the handler kept for the run at caughtDepth (protected-run depth).
    char caughtMessage[512] = {};
    int caughtDepth = -1;
};

// Lives in static storage; made and destroyed by the engine's start-up table.
extern LuaWrapper& gLua;
void CreateGlobalLuaWrapper();
void DestroyGlobalLuaWrapper();
