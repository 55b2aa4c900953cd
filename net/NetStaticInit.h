#pragma once
// The multiplayer layer's rows of the ordered start-up (see core/StaticInit.h). A
// program that links net runs RunStaticInit with kNetStaticInit after the engine's.
#include "core/StaticInit.h"

extern const StaticInitTable kNetStaticInit;

class MultiplayerEngine;

// The Game's multiplayer engine: made over the process's online context (its online
// driver lives as long as the engine), or without one when the online services did not
// start, in which case the engine refuses hosting and joining. Main thread.
MultiplayerEngine* CreateMultiplayerEngine();
void DeleteMultiplayerEngine(MultiplayerEngine* engine);
