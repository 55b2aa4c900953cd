#pragma once
// The scene library's rows of the ordered start-up (see core/StaticInit.h).
#include "core/StaticInit.h"

extern const StaticInitTable kSceneStaticInit;

// Fills every entry of gEngineServices and gRenderHooks that the scene serves. The start-up
// row runs it and pushes the clearing onto the exit stack; tests that reset those tables
// call it again.
void InstallSceneHooks();
// Empties the entries InstallSceneHooks fills.
void ClearSceneHooks();
