// test-sanitize: address
#include <cstring>
#include <map>
#include <string>

#include "engine/script/LuaTestSupport.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/LuaEntityPointer.h"
#include "engine/script/MPMethodCall.h"
#include "engine/entity/ReplicationBridge.h"

namespace {

std::vector<MPMethodCall> gSent;
bool gInGame = true;
bool gServer = false;

// A multiplayer engine whose game and server state the test sets and whose sent method
// calls it records.
struct RecordingMultiplayer : MultiplayerServices {
    bool IsMultiplayerGame() const override { return gInGame; }
    bool IsServer() const override { return gServer; }
    void ReplicateMethodCall(Player*, const MPMethodCall& c, bool) override { gSent.push_back(c); }
};

class ReplicationTest : public LuaHostTest {
protected:
    void SetUp() override {
        LuaHostTest::SetUp();
        SetMultiplayerServices(&multiplayer);
        gSent.clear();
        gInGame = true;
        gServer = false;
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        for (const char* c : {"Entity", "Player", "LuaEntityPointer", "Vector"}) gLua.RegisterClass(c, "");
        gLua.RegisterClass("Tower", "Entity");
        tower.SetName("tower");
        tower.luaClass = const_cast<char*>("Tower");
        Run("calls = {}\n"
            "function Tower:Fire(a, b) calls[#calls + 1] = 'fire'; return a, b end\n"
            "function Tower:Sync(x) calls[#calls + 1] = 'sync' end\n"
            "function Player:Hello(x) calls[#calls + 1] = tostring(self == sender) .. ' ' .. tostring(x) end\n"
            "ReplicateMethod(Tower, 'Fire', toServer, reliable)\n"
            "ReplicateMethod(Tower, 'Sync', toClient, unreliable, 1)\n"
            "ReplicateMethod(Player, 'Hello', toServer, reliable)\n");
        sink.Clear();
    }
    void TearDown() override {
        gEntityManager->NewScene();
        tower.luaClass = nullptr;
        SetMultiplayerServices(nullptr);
        LuaHostTest::TearDown();
    }
    Entity* MakeTower(uint32_t flags, uint16_t id) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(&tower, nullptr, Matrix::IDENTITY, flags, nullptr);
        e->SetMultiplayerId(id);
        e->SetPlayerOwner(player);
        return e;
    }
    void SetGlobal(const char* name, void* object, const char* type) { gLua.SetGlobalObject(object, type, name); }

    RecordingMultiplayer multiplayer;
    EntityTemplate tower;
    int playerStorage = 0;
    Player* player = reinterpret_cast<Player*>(&playerStorage);
};

TEST_F(ReplicationTest, DirectionDecidesLocalRunOrSend) {
    SetGlobal("authority", MakeTower(ENTITYCREATION_MULTIPLAYER_AUTHORITY, 7), "Tower");
    SetGlobal("proxy", MakeTower(ENTITYCREATION_MULTIPLAYER_PROXY, 9), "Tower");
    EXPECT_EQ(Eval("select('#', authority:Fire(1, 'x')) .. ' ' .. table.concat({authority:Fire(2, 'y')}, ',')"), "2 2,y");
    EXPECT_TRUE(gSent.empty());
    EXPECT_EQ(CountLogged("Calling replicated method Tower:Fire locally"), 2);
    EXPECT_EQ(Eval("select('#', proxy:Fire(1.5, 'abc'))"), "0");
    ASSERT_EQ(gSent.size(), 1u);
    const MPMethodCall& c = gSent[0];
    ASSERT_EQ(std::make_pair(c.methodId, c.argCount), std::make_pair(uint8_t(0), uint8_t(3)));
    EXPECT_EQ(std::make_tuple(c.GetEntityArg(0), c.GetNumberArg(1), std::string(c.GetStringArgData(2), c.GetStringArgLength(2))),
              std::make_tuple(9, 1.5f, std::string("abc")));
    EXPECT_EQ(CountLogged("Calling replicated method Tower:Fire remotely"), 1);
    // toClient always sends, also on the server; the quiet flag drops the line.
    gServer = true;
    Run("authority:Sync(true)");
    ASSERT_EQ(gSent.size(), 2u);
    EXPECT_EQ(std::make_pair(gSent[1].methodId, gSent[1].GetBoolArg(1)), std::make_pair(uint8_t(1), true));
    EXPECT_EQ(CountLogged("Tower:Sync"), 0);
    EXPECT_EQ(Eval("#calls"), "2");
}

TEST_F(ReplicationTest, PlayerMethodsSkipSelfAndReceiveTheSender) {
    SetGlobal("me", player, "Player");
    Run("me:Hello(5)");
    ASSERT_EQ(gSent.size(), 1u);
    ASSERT_EQ(gSent[0].argCount, 1);
    EXPECT_EQ(gSent[0].GetNumberArg(0), 5.0f);
    int senderStorage = 0;
    auto* sender = reinterpret_cast<Player*>(&senderStorage);
    SetGlobal("sender", sender, "Player");
    CallReplicatedMethod(sender, gSent[0]);
    EXPECT_EQ(Eval("calls[1]"), "true 5");
    EXPECT_EQ(CountLogged("Calling received replicated method 2 remotely 0"), 1);
    gServer = true;  // a non-entity on the server runs at once
    Run("me:Hello(6)");
    EXPECT_EQ(gSent.size(), 1u);
    EXPECT_EQ(Eval("calls[2]"), "false 6");
}

TEST_F(ReplicationTest, CallsThatCannotBeSentSendNothing) {
    SetGlobal("proxy", MakeTower(ENTITYCREATION_MULTIPLAYER_PROXY, 9), "Tower");
    SetGlobal("plain", MakeTower(0, kNoMultiplayerId), "Tower");
    SetGlobal("unowned", gEntityManager->CreateEntityFromTemplate(&tower, nullptr, Matrix::IDENTITY, 32, nullptr), "Tower");
    const std::pair<const char*, const char*> cases[] = {
        {"proxy:Fire({})", "Replication argument is of unsupported type [type:table]"},
        {"proxy:Fire(print)", "[arg:1] [type:function]"},
        {"proxy:Fire(plain)", "Cannot replicate non-multiplayer entity [name:] [luaclass:Tower]"},
        {"proxy:Fire(1, 2, 3, 4, 5, 6, 7, 8)", "[arg:8] [type:number]"},
        {"proxy:Fire(string.rep('a', 256))", "[arg:1] [type:string]"},
        {"proxy:Fire(string.rep('a', 200), string.rep('b', 60))", "[arg:2] [type:string]"},
        {"unowned:Fire(1)", "calling replicated method without player owner! [function:Tower:Fire 0]"},
    };
    for (const auto& [call, line] : cases) {
        sink.Clear();
        Run(call);
        EXPECT_TRUE(gSent.empty()) << call;
        EXPECT_EQ(CountLogged(line), 1) << call;
    }
    // The most that fits does go: 7 arguments after self, a string up to 256 data bytes.
    Run("proxy:Fire(1, 2, 3, 4, 5, 6, 7)");
    Run("proxy:Fire(string.rep('a', 253))");  // self takes 2 bytes
    EXPECT_EQ(gSent.size(), 2u);

    // An empty entity pointer goes as no entity.
    LuaEntityPointer empty;
    SetGlobal("pointer", &empty, "LuaEntityPointer");
    Run("proxy:Fire(pointer)");
    ASSERT_EQ(gSent.size(), 3u);
    EXPECT_EQ(gSent[2].GetEntityArg(1), kNoMultiplayerId);
}

TEST_F(ReplicationTest, ReceivedCallsRunOnlyWhenEveryArgumentResolves) {
    Entity* target = MakeTower(ENTITYCREATION_MULTIPLAYER_AUTHORITY, 12);
    MPMethodCall call;
    call.methodId = 0;
    call.AddEntityArg(12);
    call.AddNumberArg(3.0f);
    call.AddStringArg("hi", 2);
    CallReplicatedMethod(player, call);
    EXPECT_EQ(Eval("#calls"), "1");

    MPMethodCall gone = call;
    gone.ReplaceEntityArg(12);
    EXPECT_EQ(gone.GetEntityArg(0), kNoMultiplayerId);
    MPMethodCall overCount = call;
    overCount.argCount = 9;
    MPMethodCall badOffset = call;
    badOffset.args[2].offset = 250;
    MPMethodCall unknownId = call;
    unknownId.methodId = 77;
    const std::pair<const MPMethodCall*, const char*> cases[] = {{&gone, "target entity could not be found [id:4095]"},
                 {&overCount, "PushMPMethodCallArg - Unknown type [type:255]"},
                 {&badOffset, "error while pushing argument [function:0] [arg:3]"},
                 {&unknownId, "no methodinfo for this id (possibly malicious attack)"}};
    for (const auto& [received, line] : cases) {
        sink.Clear();
        CallReplicatedMethod(player, *received);
        EXPECT_EQ(std::make_tuple(Top(), CountLogged(line), Eval("#calls")), std::make_tuple(0, 1, std::string("1"))) << line;
    }
    gEntityManager->DestroyEntity(target);
    sink.Clear();
    CallReplicatedMethod(player, call);
    EXPECT_EQ(CountLogged("could not be found [id:12]"), 1);
}

// Arrived properties call the entity's "OnPropertiesReplicated" with the entity itself;
// a class without one gets an information line and no call.
TEST_F(ReplicationTest, ArrivedPropertiesCallTheScriptsHandler) {
    Entity* e = MakeTower(0, 12);
    SetEntityReplicatedProperty(e);
    EXPECT_TRUE(sink.Contains("No replication callback for entity"));
    EXPECT_TRUE(sink.Contains("of class Tower"));
    SetGlobal("e", e, "Tower");
    Run("function Tower:OnPropertiesReplicated() calls[#calls + 1] = 'props ' .. tostring(self == e) end");
    SetEntityReplicatedProperty(e);
    SetEntityReplicatedProperty(e);
    EXPECT_EQ(Eval("#calls"), "2");
    EXPECT_EQ(Eval("calls[1]"), "props true");
}

TEST_F(ReplicationTest, DecoratorRefusesBadClassesAndTheTwoHundredFiftySeventhMethod) {
    const std::pair<const char*, const char*> cases[] = {
        {"ReplicateMethod({}, 'x', toServer, reliable)", "First argument to ReplicateMethod is excepted to be a class table."},
        {"ReplicateMethod(Tower, 'Nothing', toServer, reliable)", "Field Nothing of class Tower is not a function! It is a nil."},
        {"for i = 4, 256 do Tower['m' .. i] = function() end ReplicateMethod(Tower, 'm' .. i, toServer, reliable) end\n"
         "function Tower:Last() end ReplicateMethod(Tower, 'Last', toServer, reliable)",
         "ReplicateMethod: more than 256 replicated methods"},
    };
    for (const auto& [chunk, message] : cases)
        EXPECT_NE(Eval("select(2, pcall(function() " + std::string(chunk) + " end))").find(message), std::string::npos) << chunk;
    EXPECT_EQ(Eval("type(rawget(Tower, 'Last'))"), "function");  // left undecorated
    gLua.ResetReplication();
    Run("ReplicateMethod(Tower, 'Last', toServer, reliable)");
    EXPECT_EQ(CountLogged("Decorating replicated method Last of class Tower with proxy method id 0"), 1);
}

TEST(MPMethodCallTest, ReadsStayInsideTheRecord) {
    MPMethodCall c;
    EXPECT_EQ(c.methodId, 0xFF);
    ASSERT_TRUE(c.AddVectorArg(Vector(1, 2, 3, 4)) && c.AddNilArg());
    EXPECT_EQ(std::make_tuple(c.GetVectorArg(0), c.GetArgType(1), c.GetArgType(2)),
              std::make_tuple(Vector(1, 2, 3, 4), uint8_t(MPARG_NIL), uint8_t(MPARG_INVALID)));
    c.dataSize = 1000;  // as a peer may send it
    c.args[0].offset = 250;
    EXPECT_EQ(c.GetArgType(0), MPARG_INVALID);
    EXPECT_FALSE(c.AddNilArg());
}

// The bit library through the float boundary, against python3's independent values.
TEST_F(LuaHostTest, BitLibraryMatchesPython) {
    const std::vector<std::string> calls = {
        "bnot(0)", "bnot(-1)", "bnot(5.7)", "bnot(4294967301)", "bnot(1e30)", "bnot(-1e30)", "bnot(0/0)",
        "bnot(math.huge)", "imod(7, 3)", "imod(-7, 3)", "imod(7, -3)", "imod(-2147483648, -1)", "band(7)",
        "band(255, 15, 3)", "band(-1e30, 65535)", "bor(1, 2, 4)", "bor(0/0, 5)", "bxor(255, 15)", "lshift(1, 31)",
        "lshift(1, 33)", "rshift(-1, 0)", "rshift(-1, 4)", "arshift(-16, 2)", "arshift(2147483648, 31)",
        "bchg(255, 256, 15)", "bchg(-1, 0, 1)"};
    std::string program =
        "import math, struct\n"
        "def f32(x): return struct.unpack('<f', struct.pack('<f', x))[0]\n"
        "def arg(x):\n"
        "    x = f32(x)\n"
        "    if math.isnan(x) or math.isinf(x): return 0\n"
        "    t = max(-2**63, min(2**63 - 1, int(x)))\n"
        "    return t & 0xFFFFFFFF\n"
        "def s(v): v &= 0xFFFFFFFF; return f32(v - 2**32 if v >= 2**31 else v)\n"
        "def u(v): return f32(v & 0xFFFFFFFF)\n"
        "def sv(v): return v - 2**32 if v >= 2**31 else v\n"
        "def imod(a, b):\n"
        "    a, b = sv(arg(a)), sv(arg(b))\n"
        "    return s(a - b * int(a / b) if b != -1 else 0)\n"
        "def fold(op, *a):\n"
        "    v = arg(a[0])\n"
        "    for x in a[1:]: v = op(v, arg(x))\n"
        "    return s(v)\n"
        "bnot = lambda a: s(~arg(a))\n"
        "band = lambda *a: fold(lambda x, y: x & y, *a)\n"
        "bor = lambda *a: fold(lambda x, y: x | y, *a)\n"
        "bxor = lambda *a: fold(lambda x, y: x ^ y, *a)\n"
        "lshift = lambda a, n: s(arg(a) << (arg(n) & 31))\n"
        "rshift = lambda a, n: u(arg(a) >> (arg(n) & 31))\n"
        "arshift = lambda a, n: s(sv(arg(a)) >> (arg(n) & 31))\n"
        "bchg = lambda a, b, c: u((arg(a) & ~arg(c)) | arg(b))\n"
        "nan, inf = float('nan'), float('inf')\n";
    for (const std::string& c : calls) {
        std::string py = c;
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"0/0", "nan"}, {"math.huge", "inf"}})
            for (size_t at; (at = py.find(from)) != std::string::npos;) py.replace(at, from.size(), to);
        program += "print('%.17g' % " + py + ")\n";
    }
    const std::string file = luatest::TempFile(program);
    const std::string expected = luatest::RunProgram("python3 " + file);
    std::filesystem::remove(file);
    std::string actual;
    for (const std::string& c : calls) actual += Eval("string.format('%.17g', bitlib." + c + ")") + "\n";
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(Eval("select(2, pcall(bitlib.imod, 5, 0))"), "bad argument #2 to '?' (zero divisor)");
}

}  // namespace
