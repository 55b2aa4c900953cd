// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LuaTestSupport.h"
#include "core/Memory.h"
#include "core/config/ConfigFolder.h"
#include "core/profiler/Profiler.h"
#include "engine/script/LuaBaseClass.h"

namespace {

constexpr const char* kClass = "HostTestClass";

class HostTestObject : public LuaBaseClass {
public:
    explicit HostTestObject(bool* destroyed = nullptr) : destroyed(destroyed) {}
    ~HostTestObject() override {
        if (destroyed) *destroyed = true;
    }
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return kClass; }

private:
    bool* destroyed;
};

// A file whose reported size is larger than what it holds (a sysfs attribute); empty on
// a machine without one.
std::string ShortFile() {
    for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state", "/sys/kernel/uevent_seqnum"}) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        std::ifstream in(path, std::ios::binary);
        if (!error && in.is_open() && size > std::string(std::istreambuf_iterator<char>(in), {}).size()) return path;
    }
    return "";
}

}  // namespace

TEST_F(LuaHostTest, InitPublishesTheHostGlobalsAndOnlyTheListedLibraries) {
    const std::pair<const char*, const char*> kCases[] = {
        {"_LUA5", "true"},
        {"VORNEX_LUA_CLASS_KEY", "_VORNEX_ENGINE_LUA_CLASSES_"},
        {"select('#', breakpoint(1, 2))", "0"},
        {"type(tcreate(8)) .. type(acreate(-3))", "tabletable"},
        {"type(string.format) .. type(table.insert) .. type(math.floor) .. type(debug.traceback)",
         "functionfunctionfunctionfunction"},
        {"type(io) .. type(os) .. type(package)", "nilnilnil"},
        // No binding package declared the singletons' types here: the objects that exist
        // are still published (as user types without methods), the missing ones are nil.
        {"type(gLua) .. type(gConsole) .. type(gGame) .. type(gDefaultReplacementContainer)",
         "userdatauserdatanilnil"},
        {"tostring(rawequal(gLua, gConsole))", "false"},
    };
    for (const auto& [expression, value] : kCases) EXPECT_EQ(Eval(expression), value) << expression;
    EXPECT_EQ(Top(), 0);
    EXPECT_EQ(CountLogged("unknown type"), 0);
    // A global set later gets its type the same way; a null object stays nil.
    int object = 0;
    gLua.SetGlobalObject(&object, "LaterSingleton", "gLater");
    gLua.SetGlobalObject(nullptr, "NeverDeclared", "gNever");
    EXPECT_EQ(Eval("type(gLater) .. type(gNever)"), "userdatanil");
    gLua.PushUserType(&object, "NeverDeclared");
    EXPECT_TRUE(lua_isnil(L(), -1));
    lua_settop(L(), 0);
    EXPECT_EQ(CountLogged("unknown type NeverDeclared"), 1);
}

TEST_F(LuaHostTest, ErrorsOfTextsAreReportedWithTheirStatusAndCountedOnlyWhenTheyRan) {
    // The message: null for the one lua5.1 gives, "" for none logged.
    const struct { const char *code, *status; uint32_t counted; const char* message; } kCases[] = {
        {"error('boom')", "LUA_ERROR: error while running the chunk.", 1, nullptr},
        {"error(42, 0)", "LUA_ERROR: error while running the chunk.", 1, "42"},
        {"error({})", "LUA_ERROR: error while running the chunk.", 1, ""},
        {"x = = 1", "LUA_ERROR: syntax error during pre-compilation.", 0, nullptr},
        {"\x1bLuaQ\x01\x04\x08\x04\x08", "LUA_ERROR: syntax error during pre-compilation.", 0,
         "precompiled chunks are not accepted"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.code);
        sink.Clear();
        LuaWrapper::ResetErrorCounter();
        EXPECT_FALSE(gLua.ExecuteString(c.code));
        EXPECT_EQ(LuaWrapper::GetErrorCount(), c.counted);
        std::vector<std::string> expected = {std::string("LUA: error in '") + c.code + "'", c.status};
        if (!c.message || *c.message)
            expected.push_back("Lua msg:" + (c.message ? c.message : luatest::InterpreterMessage(c.code, c.code)));
        EXPECT_EQ(Texts(), expected);
        EXPECT_EQ(Top(), 0);
    }
    sink.Clear();
    EXPECT_TRUE(gLua.ExecuteString("ran = 1"));
    EXPECT_EQ(Eval("ran"), "1");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(LuaHostTest, ErrorMessageFunctionIsTheHandlerAndIsCalledOnce) {
    Run("function _ERRORMESSAGE(m) calls = calls + 1; received = received .. tostring(m); return m end");
    for (const char* code : {"error('boom')", "x = = 2"}) {  // a compile error is handed over by the report
        SCOPED_TRACE(code);
        Run("calls = 0; received = ''");
        sink.Clear();
        EXPECT_FALSE(gLua.ExecuteString(code));
        EXPECT_EQ(Eval("calls"), "1");
        EXPECT_EQ(Eval("received"), luatest::InterpreterMessage(code, code));
        EXPECT_FALSE(Logged("Lua msg:"));
    }
    // A handler that fails itself turns the run into status 5.
    Run("function _ERRORMESSAGE(m) error('again') end");
    sink.Clear();
    EXPECT_FALSE(gLua.ExecuteString("error('boom')"));
    EXPECT_TRUE(Logged("LUA_ERROR: error while running _ERRORMESSAGE."));
    EXPECT_EQ(Top(), 0);
}

TEST_F(LuaHostTest, ScriptFilesRunReportCountAndReachTheCallbackAsTheirOutcomeSays) {
    ConfigFolder folder("scripts");
    ASSERT_TRUE(folder.Mounted());
    folder.Write("Good.lua", luatest::Bytes("good = (good or 0) + 1"));
    folder.Write("Broken.lua", luatest::Bytes("good = = 3"));
    folder.Write("Failing.lua", luatest::Bytes("good = 100\nerror('stop')"));
    const std::string shortFile = ShortFile();
    if (!shortFile.empty()) std::filesystem::create_symlink(shortFile, folder.File("Short.lua"));
    luatest::FileRecorder recorder;
    gLua.SetFileExecutionCallback(&recorder);

    // Every line logged in order, the error count, the global after the run and whether
    // the callback saw the file.
    const struct {
        const char *name, *directory;
        bool report;
        std::vector<std::string> logged;
        uint32_t counted;
        const char* good;
        bool executed;
    } kCases[] = {
        {"Missing", "scripts", false, {}, 0, "nil", false},
        {"Missing", "scripts", true, {"Cannot load script file: scripts/Missing.lua"}, 0, "nil", false},
        {"Missing", nullptr, true, {"Cannot load script file: Missing.lua"}, 0, "nil", false},
        {"Short", "scripts", true,
         {"Loading script file: Short.lua", "Cannot load script file: scripts/Short.lua"}, 0, "nil", false},
        {"Good", "scripts", false, {"Loading script file: Good.lua"}, 0, "1", true},
        // The chunk is named after the file: the messages say "scripts/Broken.lua:1:".
        {"Broken", "scripts", true,
         {"Loading script file: Broken.lua", "LUA: error in 'scripts/Broken.lua'",
          "LUA_ERROR: syntax error during pre-compilation.",
          "Lua msg:" + luatest::InterpreterMessage("good = = 3", "@scripts/Broken.lua")},
         1, "nil", true},
        {"Failing", "scripts", true,
         {"Loading script file: Failing.lua", "LUA: error in 'scripts/Failing.lua'",
          "LUA_ERROR: error while running the chunk.",
          "Lua msg:" + luatest::InterpreterMessage("good = 100\nerror('stop')", "@scripts/Failing.lua")},
         1, "100", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "Short" && shortFile.empty()) continue;
        Run("good = nil");
        sink.Clear();
        recorder.seen.clear();
        LuaWrapper::ResetErrorCounter();
        gLua.ExecuteFile(c.name, c.directory, c.report);
        EXPECT_EQ(Texts(), c.logged);
        EXPECT_EQ(LuaWrapper::GetErrorCount(), c.counted);
        EXPECT_EQ(Eval("good"), c.good);
        const luatest::FileRecorder::Seen seen = {{std::string("scripts/") + c.name, c.report}};
        EXPECT_EQ(recorder.seen, c.executed ? seen : luatest::FileRecorder::Seen{});
        EXPECT_EQ(Top(), 0);
    }
}

// A fault met every frame logs its report once; the repeats are counted, and the summary
// says each repeated report once with its count, then forgets them.
TEST_F(LuaHostTest, AReportMetAgainIsCountedAndItsCountSaidOnce) {
    gLua.RegisterClass(kClass, "");
    int object = 0;
    // How a fault is met, how often, and the text its summary line begins with.
    const struct { const char* what; void (*meet)(int* object); int times; const char* summary; } kCases[] = {
        {"run error", [](int*) { gLua.ExecuteString("error('every frame')"); }, 3,
         "[string \"error('every frame')\"]:1: every frame"},
        {"compile error", [](int*) { gLua.ExecuteString("x = = 1"); }, 2, "[string \"x = = 1\"]:1: unexpected symbol"},
        {"missing method", [](int* o) { gLua.CallMethod(0, 0, o, kClass, "OnTick"); }, 4,
         "Variable \"OnTick\" is not function but nil in HostTestClass class"},
        {"once", [](int*) { gLua.ExecuteString("error('once')"); }, 1, nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        sink.Clear();
        LuaWrapper::ResetErrorCounter();
        const uint32_t before = gLua.GetFailureRecord().errors + gLua.GetFailureRecord().missingFunctions;
        for (int i = 0; i < c.times; ++i) c.meet(&object);
        const size_t firstReport = Texts().size();
        for (int i = 0; i < c.times; ++i) c.meet(&object);
        EXPECT_EQ(Texts().size(), firstReport) << "a repeat logs nothing";
        EXPECT_EQ(gLua.GetFailureRecord().errors + gLua.GetFailureRecord().missingFunctions - before,
                  uint32_t(2 * c.times)) << "every one is counted";
        sink.Clear();
        LuaWrapper::ReportRepeatedErrors();
        if (c.summary) {
            ASSERT_EQ(Texts().size(), 1u);
            EXPECT_EQ(Texts()[0].rfind(c.summary, 0), 0u) << Texts()[0];
            EXPECT_NE(Texts()[0].find("(reported " + std::to_string(2 * c.times) + " times)"), std::string::npos);
        } else {
            EXPECT_EQ(Texts().size(), 1u) << "met twice: said once";
        }
        // Forgotten: the next one is logged in full again.
        sink.Clear();
        c.meet(&object);
        EXPECT_FALSE(Texts().empty());
        LuaWrapper::ReportRepeatedErrors();
    }
    EXPECT_EQ(Top(), 0);
}

// The reports met are told apart by their whole text, however alike their beginnings, and
// at most 256 of them are kept for counting: past that a new text is logged each time it
// is met rather than the table growing without end.
TEST_F(LuaHostTest, ReportsAreToldApartByTheirWholeTextAndAtMost256AreCounted) {
    const std::string alike(300, 'x');
    Run("n = 0 function Fail() n = n + 1 error(string.rep('x', 300) .. n, 0) end");
    LuaWrapper::ResetErrorCounter();
    sink.Clear();
    for (int i = 0; i < 300; ++i) gLua.ExecuteString("Fail()");
    EXPECT_EQ(CountLogged(alike), 300) << "each text is new";
    sink.Clear();
    Run("n = 0");
    for (int i = 0; i < 300; ++i) gLua.ExecuteString("Fail()");
    EXPECT_EQ(CountLogged(alike), 300 - 256) << "the texts past the first 256 were not kept";
    sink.Clear();
    LuaWrapper::ReportRepeatedErrors();
    EXPECT_EQ(CountLogged("(reported 2 times)"), 256);
    EXPECT_EQ(CountLogged(alike + "1 (reported 2 times)"), 1);
    EXPECT_EQ(CountLogged(alike + "256 (reported 2 times)"), 1);
    EXPECT_EQ(Top(), 0);
}

// The program's own report of a failed start names the first failure's file and line, or
// the missing function and the script the start began with; the script's own message
// handler does not hide the message from it. It counts the calls that found their
// function, so that a script that leaves one event out is told from one that defines none.
TEST_F(LuaHostTest, TheFailureRecordKeepsTheFirstFailureWithItsPlace) {
    ConfigFolder folder("scripts");
    ASSERT_TRUE(folder.Mounted());
    folder.Write("Main.lua", luatest::Bytes("local a = 1\nlocal t = nil\nt.field = 2\n"));
    folder.Write("Quiet.lua", luatest::Bytes("x = 1\n"));
    folder.Write("Thrower.lua", luatest::Bytes("error('bare', 0)\n"));
    gLua.RegisterClass(kClass, "");
    int object = 0;
    const struct {
        const char* what;
        const char* handler;  // _ERRORMESSAGE's definition, or null
        void (*run)(int* object);
        const char *firstError, *firstMissing, *firstFile;
        uint32_t errors = 1, found = 0;
    } kCases[] = {
        {"error in a file", nullptr, [](int*) { gLua.ExecuteFile("Main", "scripts"); },
         "scripts/Main.lua:3: attempt to index local 't' (a nil value)", "", "scripts/Main.lua"},
        {"handled by the script", "function _ERRORMESSAGE(m) return 'hidden' end",
         [](int*) { gLua.ExecuteFile("Main", "scripts"); }, "scripts/Main.lua:3: attempt to index local 't' (a nil value)",
         "", "scripts/Main.lua"},
        {"message without a place", nullptr, [](int*) { gLua.ExecuteFile("Thrower", "scripts"); },
         "scripts/Thrower.lua: bare", "", "scripts/Thrower.lua"},
        {"missing function after a file", nullptr,
         [](int* o) {
             gLua.ExecuteFile("Quiet", "scripts");
             gLua.ExecuteFile("Main", "scripts");
             gLua.CallMethod(0, 0, o, kClass, "OnInit");
         },
         "scripts/Main.lua:3: attempt to index local 't' (a nil value)",
         "Variable \"OnInit\" is not function but nil in HostTestClass class", "scripts/Quiet.lua"},
        {"one method found, one missing", nullptr,
         [](int* o) {
             gLua.ExecuteString("function HostTestClass:OnTick() end");
             gLua.CallMethod(0, 0, o, kClass, "OnTick");
             gLua.CallMethod(0, 0, o, kClass, "OnTick");
             gLua.CallMethod(0, 0, o, kClass, "OnAfterTick");
         },
         "", "Variable \"OnAfterTick\" is not function but nil in HostTestClass class", "", 0, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Run(std::string("_ERRORMESSAGE = nil ") + (c.handler ? c.handler : ""));
        gLua.BeginFailureRecord();
        LuaWrapper::ResetErrorCounter();
        c.run(&object);
        const LuaWrapper::FailureRecord& r = gLua.GetFailureRecord();
        EXPECT_STREQ(r.firstError, c.firstError);
        EXPECT_STREQ(r.firstMissing, c.firstMissing);
        EXPECT_STREQ(r.firstFile, c.firstFile);
        EXPECT_EQ(r.errors, c.errors);
        EXPECT_EQ(r.foundFunctions, c.found);
        EXPECT_EQ(r.missingFunctions, c.firstMissing[0] ? 1u : 0u);
    }
    EXPECT_EQ(Top(), 0);
}

TEST_F(LuaHostTest, FailedCallsLeaveTheStackAsBeforeTheArguments) {
    gLua.RegisterClass(kClass, "");
    Run("function HostTestClass:Sum(a, b, c) return a + b + c, self ~= nil end\n"
        "function HostTestClass:Fail(a, b, c) error('inside') end\n"
        "function HostTestClass:Code(a, b, c) error(7, 0) end\n"
        "function HostTestClass:Half(a) return a / 2 end\n"
        "function HostTestClass.Twice(a, b, c) return 2 * a end\n"
        "function HostTestClass.Broken(a, b, c) error('static') end\n"
        "HostTestClass.number = 5\n"
        "HostTestClass['1'] = HostTestClass.Sum\n");  // a number key: the lookup is another
    int object = 0;

    // CallMethod or ExecuteStaticFunction; the line logged (null: nothing but the error report).
    const struct { bool method; const char *className, *name, *logged; uint32_t counted; } kCases[] = {
        {true, "NoSuchClass", "Sum", "Unknown LUA class NoSuchClass in a call to Sum method", 0},
        {true, kClass, "Missing", "Variable \"Missing\" is not function but nil in HostTestClass class", 0},
        {true, kClass, "number", "Variable \"number\" is not function but number in HostTestClass class", 0},
        {true, kClass, "Fail", "LUA: error in 'Fail'", 1},
        {true, kClass, "Code", "Lua msg:7", 1},  // a number thrown above other values
        {true, kClass, "1", "Variable \"1\" is not function but nil in HostTestClass class", 0},
        {false, "NoSuchClass", "Twice", nullptr, 0},
        {false, kClass, "Missing", nullptr, 0},
        {false, kClass, "number", nullptr, 0},
        {false, kClass, "Broken", "LUA: error in 'ExecuteStaticFunction'", 1},
    };
    for (int results : {0, 2, LUA_MULTRET}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.className) + "." + c.name + " results " + std::to_string(results));
            sink.Clear();
            LuaWrapper::ResetErrorCounter();
            gLua.PushString("sentinel");
            for (int v : {1, 2, 3}) gLua.PushInt(v);
            const bool ran = c.method ? gLua.CallMethod(3, results, &object, c.className, c.name)
                                      : gLua.ExecuteStaticFunction(c.className, c.name, 3, results);
            EXPECT_FALSE(ran);
            ASSERT_EQ(Top(), 1);
            EXPECT_STREQ(lua_tostring(L(), 1), "sentinel");
            lua_settop(L(), 0);
            EXPECT_EQ(c.logged ? CountLogged(c.logged) : int(Texts().size()), c.logged ? 1 : 0);
            EXPECT_EQ(LuaWrapper::GetErrorCount(), c.counted);
        }
    }
    // More arguments than values on the stack, or a negative count: nothing is touched.
    for (int count : {3, -1}) {
        for (int v : {1, 2}) gLua.PushInt(v);
        EXPECT_FALSE(gLua.CallMethod(count, 0, &object, kClass, "Sum"));
        EXPECT_FALSE(gLua.ExecuteStaticFunction(kClass, "Twice", count, 0));
        EXPECT_EQ(Top(), 2);
        lua_settop(L(), 0);
    }

    // The names are the caller's characters, wherever they lie: a remembered name is
    // compared, not its address.
    char method[8] = "Sum";
    for (const char* name : {"Sum", "Sum", "Half"}) {
        std::strcpy(method, name);
        for (int v : {1, 2, 4}) gLua.PushInt(v);
        ASSERT_TRUE(gLua.CallMethod(3, 2, &object, kClass, method));
        ASSERT_EQ(Top(), 2);
        EXPECT_EQ(std::make_pair(lua_tonumber(L(), 1), gLua.ToBool(2)), std::make_pair(*name == 'S' ? 7 : 0.5, *name == 'S'));
        gLua.Pop(2);
    }
    gLua.PushInt(21);
    ASSERT_TRUE(gLua.ExecuteStaticFunction(kClass, "Twice", 1, 1));
    EXPECT_EQ(lua_tonumber(L(), -1), 42);
    gLua.Pop(5);  // more than there are: empties the stack
    EXPECT_EQ(Top(), 0);
}

TEST_F(LuaHostTest, ObjectMethodsUseTheScriptClassAndDeadHandlesStayDead) {
    gLua.RegisterClass(kClass, "");
    Run("function HostTestClass:Keep() held = self; return 1 end");
    bool destroyed = false;
    auto* object = new HostTestObject(&destroyed);
    ASSERT_TRUE(gLua.CallObjectMethod(object, "Keep", 0, 1));
    gLua.PushObject(object);
    lua_getglobal(L(), "held");
    EXPECT_TRUE(lua_rawequal(L(), -1, -2)) << "one handle per object";
    lua_settop(L(), 0);

    object->Destroy();
    EXPECT_TRUE(destroyed);
    // The script gets the dead-object error, counted once, not the freed object.
    sink.Clear();
    EXPECT_FALSE(gLua.ExecuteString("held:Keep()"));
    EXPECT_TRUE(Logged("attempt to use a dead HostTestClass object"));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    lua_getglobal(L(), "held");
    EXPECT_EQ(*static_cast<void**>(lua_touserdata(L(), -1)), nullptr) << "a binding reads the dead handle as null";
    gLua.PushObject(nullptr);
    EXPECT_TRUE(lua_isnil(L(), -1));
    lua_settop(L(), 0);
}

// The host finds a method as the script's own obj:Method() would, whatever the object
// holds itself, however its class looks methods up and wherever on the class line
// (C, Base, Root) the method is. A value that is no function is reported as before.
TEST_F(LuaHostTest, MethodLookupMatchesTheScriptsOwnLookup) {
    // The set-up runs with `held` the object's handle, `C` its class; notFunction: the
    // type reported instead of a call.
    const struct { const char *name, *setup, *notFunction; } kCases[] = {
        {"ClassMethod", "function C:Which() return 'class' end", nullptr},
        {"OwnField", "function C:Which() return 'class' end held.Which = function() return 'own' end", nullptr},
        {"OwnOtherField", "function Base:Which() return 'base' end held.other = 1", nullptr},
        {"ReplacedLookup",
         "function C:Which() return 'class' end\n"
         "getmetatable(held).__index = function(t, k) return function() return 'custom ' .. k end end",
         nullptr},
        {"ForeignLookup", "function C:Which() return 'class' end C.__index = Root.__index", nullptr},
        {"BaseMethod", "function Base:Which() return 'base' end", nullptr},
        {"RootMethod", "function Root:Which() return 'root' end", nullptr},
        {"NearerGetter", "function Root:Which() return 'root' end rawset(Base, '.get', {Which = tostring})", "string"},
        {"OtherGetter", "function Root:Which() return 'root' end rawset(Base, '.get', {Other = tostring})", nullptr},
        {"NearerLuaGetter",
         "function Root:Which() return 'root' end rawset(C, '.get', {Which = function() return 'getter' end})", nullptr},
        {"NearerNumber", "function Root:Which() return 'root' end rawset(Base, 'Which', 5)", "number"},
        {"NearerTable", "function Base:Which() return 'base' end rawset(C, 'Which', {})", "table"},
        {"Nowhere", "", "nil"},
    };
    gLua.RegisterClass("Root", "");
    gLua.RegisterClass("Base", "Root");
    HostTestObject objects[sizeof(kCases) / sizeof(kCases[0])];  // one address, one handle each
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        gLua.RegisterClass(c.name, "Base");
        HostTestObject& object = objects[&c - kCases];
        for (int pass = 0; pass < 3; ++pass) {  // the first call makes the handle
            gLua.PushUserType(&object, c.name);
            lua_setglobal(L(), "held");
            lua_getglobal(L(), c.name);
            lua_setglobal(L(), "C");
            if (pass == 1) Run(c.setup);
            const std::string expected = Eval("select(2, pcall(function() return held:Which() end))");
            sink.Clear();
            LuaWrapper::ResetErrorCounter();
            const bool ran = gLua.CallMethod(0, 1, &object, c.name, "Which");
            const std::string got = ran ? lua_tostring(L(), -1) : "<not run>";
            lua_settop(L(), 0);
            if (pass == 0) continue;
            if (c.notFunction) {
                EXPECT_FALSE(ran);
                EXPECT_EQ(CountLogged("Variable \"Which\" is not function but " + std::string(c.notFunction) + " in " +
                                      c.name + " class"),
                          1);
            } else {
                EXPECT_EQ(got, expected);
            }
            EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
        }
        Run("held = nil C = nil rawset(Base, '.get', nil) Base.Which = nil Root.Which = nil");
    }
}

// Nothing found is kept from one call to the next: what the script changes on the class
// line (Leaf, Mid, Root) between two calls is what the next call finds.
TEST_F(LuaHostTest, EachCallFindsTheMethodTheClassLineHoldsNow) {
    gLua.RegisterClass("Root", "");
    gLua.RegisterClass("Mid", "Root");
    gLua.RegisterClass("Leaf", "Mid");
    // answer: what the call returns; null: not run, with notFunction the type reported.
    const struct { const char *change, *answer, *notFunction; } kSteps[] = {
        {"function Root:Which() return 'root' end", "root", nullptr},
        {"function Root:Which() return 'root 2' end", "root 2", nullptr},
        {"function Mid:Which() return 'mid' end", "mid", nullptr},
        {"function Leaf:Which() return 'leaf' end", "leaf", nullptr},
        {"Leaf.Which = nil", "mid", nullptr},
        {"rawset(Leaf, '.get', {Which = tostring})", nullptr, "string"},
        {"rawset(Leaf, '.get', nil)", "mid", nullptr},
        {"Mid.Which = 7", nullptr, "number"},
        {"Mid.Which = nil Root.Which = nil", nullptr, "nil"},
        {"function Root:Which() error('root fails') end", nullptr, nullptr},
    };
    HostTestObject object;
    gLua.PushUserType(&object, "Leaf");
    lua_setglobal(L(), "held");  // one handle for every call
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.change);
        Run(step.change);
        for (int call = 0; call < 2; ++call) {
            sink.Clear();
            LuaWrapper::ResetErrorCounter();
            const bool ran = gLua.CallMethod(0, 1, &object, "Leaf", "Which");
            EXPECT_EQ(ran, step.answer != nullptr);
            if (ran) {
                EXPECT_STREQ(lua_tostring(L(), -1), step.answer);
            }
            lua_settop(L(), 0);
            if (step.notFunction) {
                EXPECT_EQ(CountLogged("Variable \"Which\" is not function but " + std::string(step.notFunction) +
                                      " in Leaf class"),
                          1);
            }
            const bool failed = !step.answer && !step.notFunction;
            EXPECT_EQ(LuaWrapper::GetErrorCount(), failed ? 1u : 0u);
            if (failed) {
                EXPECT_TRUE(Logged("root fails"));
            }
        }
    }
}

TEST_F(LuaHostTest, ClassesRegisterOnceAndUnknownTypesPushNilWithOneWarning) {
    gLua.RegisterClass(kClass, "");
    Run("HostTestClass.marker = 'first'; first = HostTestClass");
    gLua.RegisterClass(kClass, "OtherBase");
    EXPECT_EQ(Eval("HostTestClass.marker .. tostring(rawequal(first, HostTestClass))"), "firsttrue");

    int object = 0;
    for (int i = 0; i < 3; ++i) {
        gLua.PushUserType(&object, "NotRegistered");
        gLua.PushCollectedUserType(&object, "AlsoNotRegistered");
    }
    // Null objects and null type names push nil without looking the type up.
    gLua.PushUserType(nullptr, "NullObject");
    gLua.PushUserType(&object, nullptr);
    gLua.PushUserType(nullptr, kClass);
    ASSERT_EQ(Top(), 9);
    for (int i = 1; i <= 9; ++i) EXPECT_TRUE(lua_isnil(L(), i));
    lua_settop(L(), 0);
    EXPECT_EQ(CountLogged("LuaWrapper::PushUserType - unknown type NotRegistered, pushed as nil"), 1);
    EXPECT_EQ(CountLogged("unknown type AlsoNotRegistered"), 1);
    EXPECT_EQ(CountLogged("unknown type NullObject"), 0);
}

TEST_F(LuaHostTest, FloatArraysStopAtTheFirstNil) {
    const std::pair<const char*, std::vector<float>> kCases[] = {
        {"{1, 2, nil, 4}", {1, 2}},
        {"{0.1, -2.5, '3', true}", {0.1f, -2.5f, 3, 0}},
        {"{[2] = 5}", {}},
        {"setmetatable({}, {__index = function() return 1 end})", {}},
        {"'not a table'", {}},
    };
    for (const auto& [value, expected] : kCases) {
        SCOPED_TRACE(value);
        Run(std::string("value = ") + value);
        gLua.PushInt(0);
        lua_getglobal(L(), "value");
        gLua.PushInt(0);
        const Dynarray<float>& array = gLua.GetFloatArray(-2);
        EXPECT_EQ(std::vector<float>(array.begin(), array.end()), expected);
        EXPECT_EQ(Top(), 3);
        lua_settop(L(), 0);
    }
}

TEST_F(LuaHostTest, WithoutAStateEveryOperationDoesNothing) {
    gLua.Close();
    int object = 0;
    EXPECT_FALSE(gLua.ExecuteString("x = 1"));
    gLua.ExecuteFile("Any", "scripts", true);
    gLua.PushInt(1);
    gLua.PushString("x");
    EXPECT_FALSE(gLua.CallMethod(0, 0, &object, kClass, "Any"));
    EXPECT_FALSE(gLua.ExecuteStaticFunction(kClass, "Any", 0, 0));
    EXPECT_FALSE(gLua.ToBool(1));
    EXPECT_EQ(gLua.GetFloatArray(1).Count(), 0u);
    gLua.StepGarbageCollector();
    gLua.DumpLuaStackToConsole();
    gLua.Pop(1);
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Closing LUA wrapper"});
}

TEST(LuaHostDeathTest, PanicHandlerLogsTheMessageBeforeLuaEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LogSink* sink = CreateFileLogSink("-");
            sink->Start();
            gLog.AttachSink(sink);
            gLua.Init();
            lua_pushliteral(gLua.GetState(), "forced outside a protected call");
            lua_error(gLua.GetState());
        },
        testing::ExitedWithCode(1), "LUA panic: forced outside a protected call!!!");
}

namespace {

// Tables, strings and closures made and dropped in rounds.
constexpr const char* kChurn =
    "local keep = {}\n"
    "for round = 1, 60 do\n"
    "  local t = {}\n"
    "  for i = 1, 150 do t[i] = {i, tostring(i) .. 'x', name = 'n' .. i, f = function() return i end} end\n"
    "  keep[round % 4] = t\n"
    "  local s = ''\n"
    "  for i = 1, 40 do s = s .. string.char(65 + (i + round) % 26) end\n"
    "  keep.text = s .. string.rep('-', round)\n"
    "  if round % 10 == 0 then collectgarbage('collect') end\n"
    "end\n"
    "churned = #keep[1] + #keep.text";

}  // namespace

TEST_F(LuaHostTest, EveryScriptBlockComesFromThePools) {
    ASSERT_NE(gSmallObjectPools, nullptr);
    gProfiler.SetValue(PROFILE_LUA_ALLOC_NUM, 0.0f, PROFILER_THREAD_MAIN);
    const uint32_t poolsBefore = gSmallObjectPools->AllAllocations();
    ASSERT_TRUE(gLua.ExecuteString(kChurn));
    const uint32_t allocations = gSmallObjectPools->AllAllocations() - poolsBefore;
    EXPECT_GT(allocations, 10000u);
    EXPECT_EQ(static_cast<float>(allocations), gProfiler.Counter(PROFILE_LUA_ALLOC_NUM).value);
    EXPECT_EQ(Eval("churned"), "250");
}

TEST_F(LuaHostTest, ExhaustedBudgetFailsGrowthWithStatusFourAndKeepsShrinks) {
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + 64 * 1024);
    EXPECT_FALSE(gLua.ExecuteString("local t = {} for i = 1, 1e6 do t[i] = i end"));
    EXPECT_TRUE(Logged("LUA_ERROR: memory allocation error."));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    EXPECT_EQ(Top(), 0);

    // The allocator itself: with the budget exhausted nothing new is handed out, but a
    // shrink keeps its block (Lua requires it to succeed).
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    const size_t start = LuaWrapper::AllocatedBytes();
    // A new block counts only its own size, whatever old size comes with it.
    auto* block = static_cast<uint8_t*>(LuaWrapper::HostAllocate(nullptr, nullptr, 5, 100));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), start + 100);
    for (int i = 0; i < 100; ++i) block[i] = static_cast<uint8_t>(i);
    const size_t used = LuaWrapper::AllocatedBytes();
    LuaWrapper::SetAllocationBudget(used);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, nullptr, 0, 16), nullptr);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, block, 100, 200), nullptr);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, block, 100, 40), block);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), used - 60);

    // With room, every resize moves, shrinks included, and keeps the bytes.
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    auto* moved = static_cast<uint8_t*>(LuaWrapper::HostAllocate(nullptr, block, 40, 24));
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, block);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(moved[i], i);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, moved, 24, 0), nullptr);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), used - 100);

    // The collector and the report run with nothing to spare and end nothing.
    ASSERT_TRUE(gLua.ExecuteString("garbage = {} for i = 1, 3000 do garbage[i] = {i} end garbage = nil"));
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes());
    for (int i = 0; i < 200; ++i) gLua.StepGarbageCollector();
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes());
    EXPECT_FALSE(gLua.ExecuteString("never = 'compiled'"));
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    EXPECT_TRUE(gLua.ExecuteString("after = 1"));
    EXPECT_EQ(Top(), 0);
}

TEST_F(LuaHostTest, CollectorStepsAddTheFreedKilobytes) {
    ASSERT_TRUE(gLua.ExecuteString("garbage = {} for i = 1, 20000 do garbage[i] = {i, 'g' .. i} end"));
    ASSERT_TRUE(gLua.ExecuteString("garbage = nil"));
    gProfiler.SetValue(PROFILE_LUA_GC_MEM, 0.0f, PROFILER_THREAD_MAIN);
    const int before = lua_gc(L(), LUA_GCCOUNT, 0);
    for (int i = 0; i < 1000; ++i) gLua.StepGarbageCollector();
    const int after = lua_gc(L(), LUA_GCCOUNT, 0);
    EXPECT_GT(before - after, 1000);
    EXPECT_EQ(gProfiler.Counter(PROFILE_LUA_GC_MEM).value, static_cast<float>(before - after));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
}

TEST_F(LuaHostTest, FinaliserErrorsInACollectorStepAreReported) {
    ASSERT_TRUE(gLua.ExecuteString("local p = newproxy(true)\n"
                                   "getmetatable(p).__gc = function() error('in finaliser') end\n"
                                   "p = nil"));
    for (int i = 0; i < 1000 && LuaWrapper::GetErrorCount() == 0; ++i) gLua.StepGarbageCollector();
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    EXPECT_TRUE(Logged("LUA: error in 'StepGarbageCollector'"));
    EXPECT_EQ(Top(), 0);
}
