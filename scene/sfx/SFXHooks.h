#pragma once
// The effect layer's entries in gRenderHooks (the per-frame update) and gSceneServices
// (the mesh-template refresh of effect entities).
#include "scene/sfx/SFXEntity.h"

void InstallSFXHooks();
void ClearSFXHooks();
