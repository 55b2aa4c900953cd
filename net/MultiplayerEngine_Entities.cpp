// The main thread's side of entity replication.
#include "net/MultiplayerEngine.h"

void MultiplayerEngine::ProcessClientEntityRecord(const EntityRecord&) {}
