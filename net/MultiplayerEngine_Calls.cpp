// Replicated method calls on the main thread.
//
// Sending: on the host (or without a game) a call aimed at the local player runs here,
// through the pending list; otherwise, in a game, it goes to the network thread as
// command 14. Receiving (callback 18): the host runs a call at once; a client keeps it
// pending until the game clock reaches its time and the entity of its first argument
// has left the Game's delayed lists. Pending calls run in arrival order through the
// game delegate's OnReplicatedMethodCall; a disconnection runs them all at once.
#include "core/Log.h"
#include "engine/services/GameClock.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/services/GameServices.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"

void MultiplayerEngine::ReplicateMethodCall(Player* target, const MPMethodCall& call, bool reliable) {
    if (!target) return;
    if (HasAuthority() && target == localPlayer) {
        const int64_t now = gGameClock ? gGameClock->GetCurrentTime() : 0;
        pendingCalls.push_back({call, static_cast<uint64_t>(now), kServerCallerId});
        return;
    }
    if (mainState != NETSTATE_IN_GAME) return;
    // An entity the call names whose create still waits for the end of the step goes
    // first: the network thread writes a call's new entities before it only when it
    // knows them, and a call sent without them finds nothing where it runs.
    if (InGameAsHost())
        for (uint32_t i = 0; i < call.argCount && i < MPMethodCall::kMaxArgs; ++i)
            if (call.GetArgType(i) == MPARG_ENTITY) FlushPendingCreate(call.GetEntityArg(i));
    if (!BeginCommand(NETCMD_METHOD_CALL, 4 + kMethodCallBytes + 1)) return;
    Ring().WriteValue(target == localPlayer ? 0u : target->GetPeerID());
    Ring().Write(&call, kMethodCallBytes);
    Ring().WriteValue(uint8_t(reliable ? 1 : 0));
    EndCommand();
    if (!reliable) return;
    Player* counted = target == localPlayer ? remotePlayer : target;
    if (counted) counted->AddReliableSent();
}

void MultiplayerEngine::PostEntityRecord(const EntityRecord& record) {
    if (!BeginCommand(NETCMD_ENTITY_RECORD, sizeof record)) return;
    Ring().Write(&record, sizeof record);
    EndCommand();
}

void MultiplayerEngine::OnReceivedMethodCall(uint32_t caller, uint64_t time, const MPMethodCall& call) {
    if (mainState != NETSTATE_IN_GAME) return;
    if (mainMode == NETMODE_HOST) {
        Player* player = caller == kServerCallerId ? localPlayer : GetPlayerById(caller);
        if (GameDelegate* d = Delegate()) d->OnReplicatedMethodCall(player, &call);
        return;
    }
    if (pendingCalls.size() >= kMaxPendingCalls) {
        if (!pendingCapWarned)
            gLog.Warning(LogCategory::Multiplayer, "MultiplayerEngine - %u replicated calls pending, further calls dropped", kMaxPendingCalls);
        pendingCapWarned = true;
        return;
    }
    pendingCalls.push_back({call, time, caller});
}

void MultiplayerEngine::DispatchReplicatedMethodCalls(bool force) {
    const uint64_t now = gGameClock ? static_cast<uint64_t>(gGameClock->GetCurrentTime()) : 0;
    // Only the calls pending now: a call that replicates another one locally runs on a
    // later dispatch.
    size_t examine = pendingCalls.size();
    for (size_t i = 0; examine > 0 && i < pendingCalls.size(); --examine) {
        const PendingMethodCall& p = pendingCalls[i];
        // Forced (a disconnection), every call runs: nothing would release it later.
        if (!force && p.call.GetArgType(0) == MPARG_ENTITY) {
            const uint16_t id = p.call.GetEntityArg(0);
            if (id != kNoMultiplayerId && GetGameServices().IsMIDInDelayedLists(id)) {
                ++i;
                continue;
            }
        }
        if (!force && p.dueTime > now) {
            ++i;
            continue;
        }
        const PendingMethodCall run = p;
        pendingCalls.erase(pendingCalls.begin() + static_cast<long>(i));  // the rest keep their order
        Player* caller = mainMode == NETMODE_CLIENT || run.caller == kServerCallerId ? localPlayer : GetPlayerById(run.caller);
        if (GameDelegate* d = Delegate()) d->OnReplicatedMethodCall(caller, &run.call);
    }
}
