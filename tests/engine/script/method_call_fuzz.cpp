// Arbitrary 328-byte method-call records, as a peer may send them, through the receiving
// side of the replication bridge, with a few methods decorated.
#include <cstdint>
#include <cstring>
#include <lua.hpp>

#include "ProgramStaticInit.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/script/LuaWrapper.h"
#include "engine/script/MPMethodCall.h"
#include "engine/entity/ReplicationBridge.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    MPMethodCall call;
    call.methodId = 0;
    call.AddEntityArg(5);
    call.AddNumberArg(2.5f);
    call.AddStringArg("abc", 3);
    call.AddVectorArg(Vector(1, 2, 3, 4));
    call.AddBoolArg(true);
    call.AddNilArg();
    add(reinterpret_cast<const uint8_t*>(&call), sizeof call);
    call.methodId = 1;
    add(reinterpret_cast<const uint8_t*>(&call), sizeof call);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
    gLua.Init();
    for (const char* c : {"Entity", "Player"}) gLua.RegisterClass(c, "");
    static EntityTemplate t;
    t.SetName("fuzz");
    Entity* e = gEntityManager->CreateEntityFromTemplate(&t, nullptr, Matrix::IDENTITY, 16, nullptr);
    e->SetMultiplayerId(5);
    gLua.ExecuteString(
        "function Entity:Take(...) return select('#', ...) end\n"
        "function Player:Greet(...) return ... end\n"
        "ReplicateMethod(Entity, 'Take', toServer, reliable, 1)\n"
        "ReplicateMethod(Player, 'Greet', toClient, reliable)\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MPMethodCall call;
    std::memcpy(&call, data, size < sizeof call ? size : sizeof call);
    int player = 0;
    CallReplicatedMethod(reinterpret_cast<Player*>(&player), call);
    lua_gc(gLua.GetState(), LUA_GCSTEP, 0);
    return 0;
}
