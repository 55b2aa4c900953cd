#pragma once
// ClientEntitySynchronizationStrategy: a client's received entity records (callback 20)
// applied to its proxies: created from their template (found by GUID) as disabled
// proxies that initialise at the record's time, parented and owned; updated from the
// record's properties; queued for destruction or tear-off on the Game's delayed list.
//
// Main thread only; the caller checks that the engine is a client in a game.
struct EntityRecord;
class Entity;
class Player;

namespace ClientEntitySynchronizationStrategy {
// By the record's flags: a create (without destroy) creates and updates; a destroy
// short of a tear-off queues the destruction; anything else updates.
void Process(const EntityRecord& record, Player* localPlayer);
// The proxy, or null when none was made (it exists already, or its template is
// unknown, or creation failed).
Entity* ProcessCreate(const EntityRecord& record, Player* localPlayer);
void ProcessUpdate(const EntityRecord& record);
}  // namespace ClientEntitySynchronizationStrategy
