// test-sanitize: address
// The binding frame through a generated test package (frame_cases.pkg): argument
// reading, rejected calls, ownership of script-owned values and their collectors, copies
// of const results, reference results and overloads.
#include "BindingsFixture.h"
#include "FrameCases.h"
#include "bindings/frame/LuaBindingSupport.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaUnicodeRegistry.h"
#include "engine/script/LuaUnicodeString.h"

int tolua_frame_cases_open(lua_State* L);

const FrameValue FrameValue::ORIGIN;
int FrameValue::live = 0;
int FrameObject::live = 0;

namespace {
FrameObject* gObject = nullptr;
FrameChild* gChild = nullptr;
}  // namespace

FrameObject* GetFrameObject() { return gObject; }
FrameChild* GetFrameChild() { return gChild; }
FrameObject* MakeOwnedFrameObject() { return new (LuaBindingAllocTag{}) FrameObject(); }

int32_t CountUnichars(const char16_t* text) {
    if (!text) return -1;
    const uint32_t count = LuaUnicodeBufferCount(text);
    int32_t n = 0;
    while (static_cast<uint32_t>(n) < count && text[n]) ++n;
    return n;
}
LuaUnicodeString* MakeFrameText() { return new (LuaBindingAllocTag{}) LuaUnicodeString(u"abc"); }
const char16_t* FrameTextPointer(LuaUnicodeString* text) { return text ? text->GetUnicharPtr() : nullptr; }

namespace {

class BindingFrameTest : public BindingsTest {
protected:
    static void SetUpTestSuite() { RegisterLuaBindingPackage(LUA_PACKAGE_VIDEO, &tolua_frame_cases_open); }
    void SetUp() override {
        gObject = new FrameObject();
        gObject->tag = 7;
        gChild = new FrameChild();
        gChild->tag = 9;
        BindingsTest::SetUp();
        valuesAtStart = FrameValue::live;
    }
    void TearDown() override {
        BindingsTest::TearDown();
        if (gObject) gObject->Destroy();
        if (gChild) gChild->Destroy();
        gObject = nullptr;
        gChild = nullptr;
        EXPECT_EQ(FrameValue::live, valuesAtStart) << "every script-owned value went through its collector";
        EXPECT_EQ(FrameObject::live, 0);
    }
    int Count(const std::string& fragment) {
        int n = 0;
        for (const auto& m : sink.Messages()) n += m.text.find(fragment) != std::string::npos;
        return n;
    }

    int valuesAtStart = 0;
};

TEST_F(BindingFrameTest, CallsWithoutALiveObjectWhereOneIsNeededAreRejectedWithoutResults) {
    Run("v = FrameValue(3, 4) o = GetFrameObject() c = GetFrameChild()");
    struct Case {
        const char* call;
        const char* results;  // select('#', ...) and the first result
    };
    const Case kCases[] = {
        {"FrameValue.Sum(v)", "1 0"},  // Instance-less constructor: zeroed fields
        {"FrameValue.Sum(nil)", "0 nil"},
        {"FrameValue.Sum()", "0 nil"},
        {"FrameValue.Sum(5)", "0 nil"},
        {"FrameValue.Sum('x')", "0 nil"},
        {"FrameValue.Sum(o)", "0 nil"},  // another class's object
        {"FrameValue.Sum(newproxy())", "0 nil"},
        {"FrameValue.Dot(v, nil)", "0 nil"},  // null where the native takes a reference
        {"FrameValue.Dot(v, o)", "0 nil"},
        {"o:Link(nil)", "1 -1"},  // an explicit nil passes null to a pointer
        {"o:Link()", "1 -1"},
        {"o:Link(c)", "1 9"},  // a registered subclass is accepted
        {"c:Link(o)", "1 7"},
        {"o:Link(v)", "1 -1"},
        {"FrameObject.Link(v, o)", "0 nil"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(Eval("(function(...) return select('#', ...) .. ' ' .. tostring((...)) end)(" + std::string(c.call) + ")"),
                  c.results)
            << c.call;
    // One warning per function name, however often it is rejected.
    EXPECT_EQ(Count("FrameValue.Sum - called without a live object"), 1);
    EXPECT_EQ(Count("FrameValue.Dot - called without a live object"), 1);
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
}

TEST_F(BindingFrameTest, DeadHandlesRaiseWhenUsedAndRejectCallsWhenPassed) {
    Run("o = GetFrameObject() c = GetFrameChild()");
    gChild->Destroy();
    gChild = nullptr;
    EXPECT_NE(Eval("c:Link(o)").find("attempt to use a dead FrameChild object"), std::string::npos)
        << "indexing a dead handle";
    const int calls = gObject->calls;
    EXPECT_EQ(Eval("select('#', o:Link(c))"), "0") << "a dead handle is never taken for nil";
    EXPECT_EQ(Eval("select('#', FrameObject.Link(c, o))"), "0");
    EXPECT_EQ(gObject->calls, calls) << "no native ran";
    EXPECT_EQ(Eval("o:Link(nil)"), "-1") << "the next call is not rejected";
}

TEST_F(BindingFrameTest, ScriptOwnedValuesGoOnlyThroughTheirCollectorOnce) {
    const int start = FrameValue::live;
    Run("local a = FrameValue() local b = FrameValue:new_local() local c = FrameValue:Instance(1, 2)");
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(FrameValue::live, start) << "called class, new_local and Instance values are collected";

    Run("kept = FrameValue:new()");
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(FrameValue::live, start + 1) << "new lives until delete";
    Run("kept:delete() kept:delete() FrameValue.delete(kept)");
    EXPECT_EQ(FrameValue::live, start);
    EXPECT_EQ(Eval("select('#', kept:Sum())"), "0") << "a later call does nothing";
    Run("kept = nil owned = FrameValue() owned:delete()");
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(FrameValue::live, start) << "delete, then the collection, frees once";
    Run("owned = nil");

    // A class the package gives no collector of its own: the frame's runs the destructor.
    Run("local x = MakeOwnedFrameObject()");
    EXPECT_EQ(FrameObject::live, 3);
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(FrameObject::live, 2);

    // A churn of values leaves the counts where they started.
    Run("for i = 1, 500 do local v = FrameValue:Instance(i, i) v:Self():Scale(2) local w = FrameValue:new() w:delete() end");
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(FrameValue::live, start);
}

TEST_F(BindingFrameTest, TextPointersReachANativeOnlyWhileTheirBufferLives) {
    Run("text = MakeFrameText() p = FrameTextPointer(text)");
    EXPECT_EQ(Eval("type(p) .. ' ' .. CountUnichars(p)"), "userdata 3");
    EXPECT_EQ(Eval("CountUnichars(nil) .. ' ' .. CountUnichars(text) .. ' ' .. CountUnichars(GetFrameObject())"),
              "-1 -1 -1");
    Run("text = nil");
    lua_gc(L(), LUA_GCCOLLECT, 0);
    EXPECT_EQ(Eval("CountUnichars(p)"), "-1") << "the pointer of a collected string reads as null";
}

TEST_F(BindingFrameTest, ConstResultsAreCopiesAndConstantsCannotBeAssigned) {
    Run("local z = FrameValue.ORIGIN z.a = 5 z:Scale(3)");
    EXPECT_EQ(FrameValue::ORIGIN.a, 0.0f) << "a class constant is pushed as a copy";
    EXPECT_EQ(Eval("FrameValue.ORIGIN.a"), "0");
    Run("v = FrameValue:Instance(1, 2) s = v:Self() s.a = 10");
    EXPECT_EQ(Eval("v.a .. ' ' .. s.a"), "1 10") << "a const reference result is a copy";
    EXPECT_EQ(Eval("rawequal(FrameValue.ORIGIN, FrameValue.ORIGIN)"), "false");
    EXPECT_NE(Eval("(function() FrameValue.ORIGIN = v end)()").find("attempt to assign to read-only variable 'ORIGIN'"),
              std::string::npos);
    EXPECT_EQ(Eval("FrameValue.ORIGIN.b"), "0");
}

TEST_F(BindingFrameTest, ReferenceResultsOverloadsAndNumbers) {
    Run("v = FrameValue:Instance(1.5, -2)");
    EXPECT_EQ(Eval("table.concat({v:Split(0, 0)}, ' ')"), "1.5 -2") << "filled references, in argument order";
    EXPECT_EQ(Eval("FrameValue:Instance():Sum()"), "0") << "the argument-less form";
    // Arguments that match neither form run the first-registered one, untested.
    EXPECT_EQ(Eval("FrameValue:Instance('x', {}):Sum()"), "0");
    EXPECT_EQ(Eval("FrameValue:Instance(2, 3):Dot(FrameValue:Instance(4, 5))"), "23");
    EXPECT_EQ(Eval("v:TakeInt(16777217)"), "16777216") << "an integer passes through a float";
    EXPECT_EQ(Eval("v:TakeInt(-7.9)"), "-7");
    EXPECT_EQ(Eval("select('#', v:Scale('x'))"), "0");
    EXPECT_EQ(Eval("v.a .. ' ' .. v.b"), "0 -0") << "a string for a number reads as 0";
}

}  // namespace

namespace {

// The classes' lookup event against tolua++'s own (the one every class had before), over
// objects with and without peers, inherited names, variables, constants and names that
// read as numbers.
TEST_F(BindingFrameTest, LookupsOnObjectsAnswerAsToluasOwnEvent) {
    luaL_getmetatable(L(), "tolua_commonclass");
    lua_getfield(L(), -1, "__index");
    lua_setglobal(L(), "ToluaIndex");
    lua_pop(L(), 1);
    Run("v = FrameValue:Instance(1, 2) o = GetFrameObject() c = GetFrameChild() p = FrameValue:Instance(3, 4) "
        "tolua.setpeer(p, {Sum = 'peer', extra = 5}) "
        "function Same(x, k) local a, b = x[k], ToluaIndex(x, k) "
        "  if type(a) == 'userdata' and type(b) == 'userdata' then return a.a == b.a and a.b == b.b end "
        "  return rawequal(a, b) end");
    EXPECT_NE(Eval("getmetatable(v).__index"), Eval("ToluaIndex")) << "the classes have the bindings' event";
    const char* const kLookups[] = {
        "v, 'Sum'", "v, 'a'", "v, 'b'", "v, 'ORIGIN'", "v, 'Nothing'", "v, '_x'", "v, 'new'", "v, 1", "v, '1'",
        "v, 'inf'", "v, 'nan'", "v, ' 2'", "v, '0x10'", "p, 'Sum'", "p, 'extra'", "p, 'Scale'", "o, 'Link'",
        "c, 'Link'", "c, 'Nothing'",
    };
    for (const char* lookup : kLookups) EXPECT_EQ(Eval(std::string("Same(") + lookup + ")"), "true") << lookup;
    EXPECT_EQ(Eval("p.Sum .. ' ' .. v:Sum() .. ' ' .. c:Link(o)"), "peer 3 7");
}

// A script's table can carry a class's metatable (the class table is that metatable);
// it is not an object of the class, and reading it must not take it for one.
TEST_F(BindingFrameTest, TablesWithAClassMetatableAreNoObjects) {
    Run("t = setmetatable({}, FrameValue) u = setmetatable({}, FrameObject) o = GetFrameObject()");
    for (const char* call : {"FrameValue.Sum(t)", "FrameValue.Dot(FrameValue(), t)", "FrameObject.Link(u, o)"})
        EXPECT_EQ(Eval(std::string("select('#', ") + call + ")"), "0") << call;
    EXPECT_EQ(Eval("o:Link(u)"), "-1");
}

}  // namespace

// Reading an argument leaves the stack as it was, whatever the argument is: the reader runs
// inside every bound call, once per object argument.
TEST_F(BindingFrameTest, ReadingAnArgumentLeavesTheStackAsItWas) {
    Run("o = GetFrameObject() c = GetFrameChild() v = FrameValue(1, 2)");
    struct Case {
        const char* value;
        const char* type;
        bool object;  // read as a live object
    };
    const Case kCases[] = {
        {"o", "FrameObject", true},        {"c", "FrameChild", true},  {"c", "FrameObject", true},  // through its bases
        {"c", "const FrameObject", true},  {"o", "FrameChild", false}, {"v", "FrameObject", false},
        {"setmetatable({}, FrameObject)", "FrameObject", false},       {"5", "FrameObject", false},
        {"'text'", "FrameObject", false},  {"nil", "FrameObject", false},
    };
    lua_State* L = this->L();
    for (const Case& c : kCases) {
        const int top = lua_gettop(L);
        ASSERT_EQ(luaL_dostring(L, (std::string("return ") + c.value).c_str()), 0) << c.value;
        const void* read = LuaBindingReader{c.type}(L, top + 1, nullptr);
        EXPECT_EQ(read != nullptr, c.object) << c.value << " as " << c.type;
        EXPECT_EQ(lua_gettop(L), top + 1) << c.value << " as " << c.type << ": the stack grew or shrank";
        lua_settop(L, top);
    }
}

// The class an object is pushed under: its own where that fits what it natively is, else
// the static type; either way the stack is left as it was.
TEST_F(BindingFrameTest, TheClassAnObjectIsPushedUnderLeavesTheStackAsItWas) {
    struct Reporting : FrameObject {
        const char* own = nullptr;
        const char* native = nullptr;
        const char* GetScriptClassName() const override { return own; }
        const char* GetNativeScriptClassName() const override { return native; }
    };
    struct Case {
        const char* own;
        const char* native;
        const char* type;
        const char* pushedAs;
    };
    const Case kCases[] = {
        {"FrameChild", "FrameChild", "FrameObject", "FrameChild"},  // a subclass it natively is
        {"FrameObject", "FrameObject", "FrameObject", "FrameObject"},
        {"FrameChild", "FrameObject", "FrameObject", "FrameObject"},  // a bound class it is not
        {"NoSuchClass", "FrameObject", "FrameObject", "FrameObject"},  // unknown to the host
        {"FrameValue", "FrameObject", "FrameObject", "FrameObject"},   // unrelated
    };
    lua_State* L = this->L();
    for (const Case& c : kCases) {
        auto* object = new Reporting();
        object->own = c.own;
        object->native = c.native;
        const int top = lua_gettop(L);
        EXPECT_STREQ(LuaBindingScriptClass(L, object, c.type), c.pushedAs) << c.own << " as " << c.type;
        EXPECT_EQ(lua_gettop(L), top) << c.own << " as " << c.type << ": the stack grew or shrank";
        object->Destroy();
    }
}
