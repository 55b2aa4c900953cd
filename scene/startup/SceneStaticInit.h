#pragma once
// The scene library's rows of the ordered start-up (see core/StaticInit.h).
#include "core/StaticInit.h"

extern const StaticInitTable kSceneStaticInit;

class SceneContentServices;
class SceneDrawServices;

// Installs the scene's SceneContentServices (for the engine), SceneDrawServices (for the
// renderer) and SceneEffectServices, and the device owners of the mesh and particle
// buffers. The start-up row runs it and pushes the removal onto the exit stack; tests that
// reset those seams call it again.
void InstallSceneServices();
// Removes what InstallSceneServices installs.
void ClearSceneServices();
// The scene's implementation of SceneContentServices (what InstallSceneServices installs).
SceneContentServices& SceneLibraryContentServices();
// The scene's implementation of the renderer's SceneDrawServices.
SceneDrawServices& SceneLibraryDrawServices();
