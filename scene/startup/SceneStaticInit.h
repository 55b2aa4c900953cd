#pragma once
// The scene library's rows of the ordered start-up (see core/StaticInit.h).
#include "core/StaticInit.h"

extern const StaticInitTable kSceneStaticInit;

class SceneContentServices;

// Installs the scene's SceneContentServices and fills every entry of gRenderHooks that the
// scene serves. The start-up row runs it and pushes the removal onto the exit stack; tests
// that reset those tables call it again.
void InstallSceneHooks();
// Removes what InstallSceneHooks installs.
void ClearSceneHooks();
// The scene's implementation of SceneContentServices (what InstallSceneHooks installs).
SceneContentServices& SceneLibraryContentServices();
