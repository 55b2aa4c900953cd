#pragma once
// The script replication bridge. Scripts decorate methods of their classes with
// ReplicateMethod(class, name, direction, reliability [, flags]); calling a decorated
// method then runs it here or packs its arguments into an MPMethodCall that the
// multiplayer engine delivers to the peer, where CallReplicatedMethod unpacks it and
// runs the undecorated method. Flag bit 0 (quiet) silences the three call lines.
//
// A call whose arguments do not fit a record (more than 8, more than 256 data bytes, a
// string over 255 bytes) is refused whole; a received record is read through its
// bounded getters only. At most 256 methods are decorated between resets (method ids
// travel in 8 bits).
//
// Main thread only.
#include <cstdint>

struct lua_State;
class Entity;
class Player;
struct MPMethodCall;

constexpr uint32_t kReplicatedMethodQuiet = 1;
constexpr uint32_t kMaxReplicatedMethods = 256;

// Script globals toServer, toClient, reliable, unreliable and ReplicateMethod, and an
// empty method registry (ids from 0 again).
void ResetReplication(lua_State* L);
// A record received from sender.
void CallReplicatedMethod(Player* sender, const MPMethodCall& call);
// Replicated properties of the entity arrived: its script's "OnPropertiesReplicated".
void SetEntityReplicatedProperty(Entity* entity);
